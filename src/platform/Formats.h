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
std::string VSprintf(const char* format, std::va_list args) __attribute__((format(printf, 1, 0)));

// Number pattern: up to three sections separated by ';' for positive, negative
// and zero values; '0' a digit or zero, '#' a digit or nothing, '.' the decimal
// separator, ',' thousands grouping, "E+"/"E-" (also e+/e-) exponent, text in
// single or double quotes literal, every other character literal. An empty
// pattern gives FloatToStr.
// The negative section formats the magnitude (its literals show the sign); an
// empty or missing one means the first section with a minus sign. The zero
// section is used (formatting 0) when the value rounds to zero under the first
// section. Rounding is half away from zero on the value's 15-digit decimal
// form. A zero result never shows a minus sign. NaN, infinities and values of
// 1e18 or more under a pattern without exponent give FloatToStr.
std::string FormatFloat(std::string_view pattern, double value);
// General form: up to 15 significant digits, no trailing zeros, exponent form
// ("1.5E20", "1E-5") when the exponent is 15 or more or below -4; "NAN",
// "INF", "-INF"; -0 gives "0".
std::string FloatToStr(double value);
// Text with the decimal separator (blanks around allowed; optional sign and
// exponent; no thousands separators). An overflowing value is no number.
bool TryStrToFloat(std::string_view text, double& out);
double StrToFloat(std::string_view text);  // ConvertError "'<text>' is not a valid floating point value"

// Date-time values: days since 30 December 1899, time of day as the fraction.
// Before that day the sign belongs to the day part only: -1.25 is 29 December
// 1899, 06:00. Decoding rounds to the millisecond; a time that rounds up to
// midnight belongs to the next day. Values outside the years 1..9999 (and
// NaN) decode as 0/0/0 00:00:00.000.
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
// s/ss second, z/zzz milliseconds, am/pm or a/p (12-hour clock), '/' and ':'
// the date and time separators, quoted text literal, "c" the short date and
// the long time (the time left out at midnight); letters are case-blind and
// every other character is literal. An empty pattern means "c".
std::string FormatDateTime(std::string_view pattern, TDateTime value);
std::string DateToStr(TDateTime value);  // short date
std::string TimeToStr(TDateTime value);  // long time
std::string DateTimeToStr(TDateTime value);
// Parses "d/m/y", "d/m/y h:n[:s]" or "h:n[:s]" (a time alone is on day 0)
// with the settings' separators; a year of one or two digits means 2000..2049
// below 50, else 1950..1999.
bool TryStrToDateTime(std::string_view text, TDateTime& out);
TDateTime StrToDateTime(std::string_view text);  // ConvertError "'<text>' is not a valid date and time"

}  // namespace kd
