#pragma once
// Number and date-time formatting with the program-wide format settings.
// The settings are set once at start-up (decimal '.', thousands '\'', date
// '/') and never taken from the system locale; the C library's locale has no
// effect on anything here.
#include <cstdarg>
#include <string>
#include <string_view>

namespace kd {

struct FormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = '\'';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "dd/mm/yyyy";
  std::string LongTimeFormat = "hh:nn:ss";
};

// Read from any thread; SetFormatSettings belongs to start-up, before other threads run.
const FormatSettings& GetFormatSettings();
void SetFormatSettings(const FormatSettings& settings);

// printf-style text, always with '.' as the decimal point.
std::string Sprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VSprintf(const char* format, std::va_list args);

// Number pattern: up to three sections separated by ';' for positive, negative
// and zero values; '0' a digit or zero, '#' a digit or nothing, '.' the decimal
// separator, ',' thousands grouping, "E+"/"E-" (also e+/e-) exponent, text in
// single or double quotes literal, every other character literal. An empty
// pattern gives FloatToStr.
std::string FormatFloat(std::string_view pattern, double value);
// General form: up to 15 significant digits, no trailing zeros, exponent form
// only for very large or very small magnitudes.
std::string FloatToStr(double value);
// Text with the decimal separator (blanks around allowed; exponent allowed).
bool TryStrToFloat(std::string_view text, double& out);
double StrToFloat(std::string_view text);  // ConvertError "'<text>' is not a valid floating point value"

// Date-time values: days since 30 December 1899, time of day as the fraction.
using TDateTime = double;
bool TryEncodeDate(int year, int month, int day, TDateTime& out);  // years 1..9999
TDateTime EncodeDate(int year, int month, int day);                 // ConvertError when impossible
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
TDateTime Now();   // local time
TDateTime Date();  // local date, midnight

// Date-time pattern: d/dd day, ddd/dddd day name, m/mm month (minutes right
// after h/hh), mmm/mmmm month name, yy/yyyy year, h/hh hour, n/nn minute,
// s/ss second, z/zzz milliseconds, am/pm, '/' and ':' the date and time
// separators, quoted text literal. An empty pattern gives the short date
// followed by the long time, the time left out at midnight.
std::string FormatDateTime(std::string_view pattern, TDateTime value);
std::string DateToStr(TDateTime value);  // short date
std::string TimeToStr(TDateTime value);  // long time
std::string DateTimeToStr(TDateTime value);
// Parses a date, a time, or a date and a time in the short date order
// (day, month, year) with the settings' separators.
bool TryStrToDateTime(std::string_view text, TDateTime& out);
TDateTime StrToDateTime(std::string_view text);  // ConvertError "'<text>' is not a valid date and time"

}  // namespace kd
