#pragma once
// TlaRegister: one register of a register image. Binds a definition to the
// register's segment of the image and runs each codec call under the
// segment's lock (held for that one call only: bounds, events and text
// conversions run outside it, so event handlers may use registers).
// Writes clamp to the bounds, may be vetoed by OnBeforeEdit and report
// through OnAfterEdit whether the bytes changed.
#include <cstdint>
#include <memory>
#include <string>

#include "Event.h"
#include "Formats.h"
#include "Strings.h"
#include "Tlaregboundcls.h"
#include "Tlaregdefinitioncls.h"
#include "Tlathreadbuffercls.h"

namespace kd {
class IniFile;
}

class TlaRegister;

using TlaRegBeforeEditEvent = kd::Event<void(TlaRegister* sender, bool& allow, double value)>;
using TlaRegAfterEditEvent = kd::Event<void(TlaRegister* sender, bool changed)>;

class TlaRegister {
 public:
  // Built by the register image; the definition must outlive the register.
  TlaRegister(TlaRegDefinition* definition, std::unique_ptr<TlaThreadBuffer> segment);
  ~TlaRegister();
  TlaRegister(const TlaRegister&) = delete;
  TlaRegister& operator=(const TlaRegister&) = delete;

  TlaRegDefinition* const Definition;             // not owned (the data model owns it)
  const std::unique_ptr<TlaThreadBuffer> Segment;  // the register's bytes in the image
  std::unique_ptr<TlaRegBound> MaxBound;          // null without a maximum
  std::unique_ptr<TlaRegBound> MinBound;          // null without a minimum
  std::uint8_t HasLimits = 0;
  std::unique_ptr<TlaRegBound> DefaultBound;      // null without a default
  std::uint8_t State = 0;  // 0 built, 3 written, 2 read after another mark
  // Flags for the presentation; the register itself does not test them.
  std::uint8_t Enabled = 1;
  std::uint32_t EnableMask = 0xFFFFFFFFu;
  std::uint8_t Visible = 1;
  std::uint32_t VisibleMask = 0xFFFFFFFFu;
  TlaRegBeforeEditEvent OnBeforeEdit;
  TlaRegAfterEditEvent OnAfterEdit;

  bool GetValueBit(std::uint8_t element, std::uint8_t bit);
  int GetValueInteger(std::uint8_t element);
  double GetValueDouble(std::uint8_t element);
  int GetValueBitField(std::uint8_t element, std::uint8_t shift, std::uint8_t width);
  std::string GetValueText(std::uint8_t element);
  std::string GetValueBitText(std::uint8_t element, std::uint8_t bit);
  std::string GetBitFieldText(std::uint8_t element, std::uint8_t shift, std::uint8_t width);
  std::string GetValueString();

  void SetValueBit(std::uint8_t element, std::uint8_t bit, bool value);
  void SetValueInteger(std::uint8_t element, int value);
  void SetValueDouble(std::uint8_t element, double value);
  void SetValueBitField(int value, std::uint8_t element, std::uint8_t shift, std::uint8_t width);
  void SetValueDate(std::uint8_t element, kd::TDateTime value);
  void SetValueTime(std::uint8_t element, kd::TDateTime value);
  void SetValueString(const std::string& text);
  // By type: numbers ('.' decimal), dates and times as date-time texts,
  // strings as they are; other types ignore the text. A text that does not
  // convert raises kd::ConvertError and writes nothing.
  void SetValueText(const std::string& text, std::uint8_t element);

  bool IsZero();
  void SetElementDefault(std::uint8_t element);
  void SetDefaults();
  // Appends the register's text listing.
  void Dump(kd::StringList* list);
  // Key Name, value every element's stored integer in double quotes, separated by commas.
  void SaveToIni(const std::string& section, kd::IniFile* ini);
  void LoadFromIni(const std::string& section, const kd::IniFile* ini);

 private:
  // One codec call under the read lock (the change mark updated first).
  template <class Codec>
  auto Read(Codec&& codec);
  // A write: OnBeforeEdit with value, then (unless vetoed) the codec call
  // under the write lock (clamping first, outside the lock), then OnAfterEdit.
  template <class Clamp, class Codec>
  void Write(double value, Clamp&& clamp, Codec&& codec);
};
