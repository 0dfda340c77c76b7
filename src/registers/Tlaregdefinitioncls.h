#pragma once
// TlaRegDefinition: one register of a data model (number, name, type, element
// count, limits, scaling, display format, extra text lines) and the typed value
// codec over its raw bytes, which are big-endian 16-bit words exactly as they
// travel in Modbus frames. The codec holds no bytes: every operation is handed
// a pointer to the register's first byte, and the caller holds the image lock
// for the one call.
#include <cstdint>
#include <string>

#include "Event.h"
#include "Formats.h"
#include "Strings.h"

namespace kd {
class IniFile;
}

class TlaRegDefinition;

// Register type codes; the names are the data-model file's Type values.
using TlaRegisterType = std::uint8_t;
inline constexpr TlaRegisterType regNone = 0;
inline constexpr TlaRegisterType regByte = 1;
inline constexpr TlaRegisterType regShort = 2;
inline constexpr TlaRegisterType regLong = 3;
inline constexpr TlaRegisterType regDate = 4;
inline constexpr TlaRegisterType regTime = 5;
inline constexpr TlaRegisterType regString = 6;

// Raised before a definition reads its format keys; the handler may change the
// name of the format section.
using TlaUseFormatEvent = kd::Event<void(TlaRegDefinition* sender, std::string& useFormat)>;

class TlaRegDefinition {
 public:
  TlaRegDefinition();
  ~TlaRegDefinition();
  TlaRegDefinition(const TlaRegDefinition&) = delete;
  TlaRegDefinition& operator=(const TlaRegDefinition&) = delete;

  std::uint16_t RegAddr = 0;
  std::uint16_t RegProg = 0;
  bool Signed = false;
  bool Boolean = false;
  std::string Name;
  kd::StringList ExtraLines;  // key=value lines: element, bit, field and code texts, Descr
  TlaRegisterType Type = regNone;
  std::uint8_t Length = 1;
  bool HasMaxValue = false;
  double MaxValue = 0.0;
  bool HasMinValue = false;
  double MinValue = 0.0;
  bool HasDfltValue = false;
  double DfltValue = 0.0;
  std::string UseFormat;
  double FormatNorm = 1.0;
  double FormatOffset = 0.0;
  std::string FormatString;
  std::string FormatMask;
  std::string FormatPrintf;
  TlaUseFormatEvent OnUseFormat;

  // Restores the defaults (OnUseFormat is kept).
  void Clear();
  // Reads section [address] of a data-model file; false when it is absent.
  bool LoadFromSection(std::uint16_t address, const kd::IniFile& ini);

  bool IsIntegerType() const { return Type >= regByte && Type <= regLong; }
  std::string GetTypeName() const;
  void SetTypeName(const std::string& name);
  int GetElementSize() const;
  int GetByteSize() const { return GetElementSize() * Length; }

  // Codec. bytes: the register's first byte. A changed result tells whether
  // the stored bytes differ from what was there before.
  std::int32_t GetValueInteger(const std::uint8_t* bytes, std::uint8_t element) const;
  bool SetValueInteger(std::uint8_t* bytes, std::int32_t value, std::uint8_t element) const;
  double GetValueDouble(const std::uint8_t* bytes, std::uint8_t element) const;
  bool SetValueDouble(std::uint8_t* bytes, std::uint8_t element, double value) const;
  bool GetValueBit(const std::uint8_t* bytes, std::uint8_t element, std::uint8_t bit) const;
  bool SetValueBit(std::uint8_t* bytes, bool state, std::uint8_t element, std::uint8_t bit) const;
  std::uint32_t GetValueBitField(const std::uint8_t* bytes, std::uint8_t element, std::uint8_t shift,
                                 std::uint8_t width) const;
  bool SetValueBitField(std::uint8_t* bytes, std::uint32_t field, std::uint8_t element, std::uint8_t shift,
                        std::uint8_t width) const;
  kd::TDateTime GetValueDate(const std::uint8_t* bytes, std::uint8_t element, std::uint16_t yearBase) const;
  bool SetValueDate(std::uint8_t* bytes, std::uint8_t element, int& century, kd::TDateTime value) const;
  kd::TDateTime GetValueTime(const std::uint8_t* bytes, std::uint8_t element) const;
  bool SetValueTime(std::uint8_t* bytes, std::uint8_t element, kd::TDateTime value) const;
  std::string GetValueString(const std::uint8_t* bytes) const;
  bool SetValueString(std::uint8_t* bytes, const std::string& text) const;
  std::string GetValueText(const std::uint8_t* bytes, std::uint8_t element) const;

  // Word-level access; element i of a word type is the word at byte 2i, of a
  // long the four bytes at 4i.
  static std::uint8_t GetByte(const std::uint8_t* bytes, int element);
  static bool SetByte(std::uint8_t* bytes, std::uint32_t value, int element);
  static std::uint16_t GetShort(const std::uint8_t* bytes, int element);
  static bool SetShort(std::uint8_t* bytes, std::uint32_t value, int element);
  static std::uint32_t GetLong(const std::uint8_t* bytes, int element);
  static bool SetLong(std::uint8_t* bytes, std::uint32_t value, int element);

  // Fields of width bits starting at bit shift (a width of 32 or more takes
  // every bit from shift up).
  static std::uint32_t ExtractBitField(std::uint32_t value, std::uint8_t shift, std::uint8_t width);
  static std::uint32_t InsertBitField(std::uint32_t value, std::uint32_t field, std::uint8_t shift,
                                      std::uint8_t width);

  // Register texts from ExtraLines; each has a fall-back when a text is missing.
  std::string GetDescr() const;
  std::string GetElementName(std::uint8_t element) const;
  std::string GetBitName(std::uint8_t element, std::uint8_t bit) const;
  std::string GetBitFieldName(std::uint8_t element, std::uint8_t shift, std::uint8_t width) const;
  std::string GetCodedText(std::uint8_t element, double value) const;
  std::string GetBitStateTexts(std::uint8_t element, std::uint8_t bit, bool state) const;
  std::string GetBitFieldTexts(std::uint8_t element, std::uint8_t shift, std::uint8_t width, int value) const;
  std::string GetValueBitText(const std::uint8_t* bytes, std::uint8_t element, std::uint8_t bit) const;
  std::string GetBitFieldText(const std::uint8_t* bytes, std::uint8_t element, std::uint8_t shift,
                              std::uint8_t width) const;

 private:
  // Item key= of the comma text stored under the extra line key.
  std::string ItemOf(const std::string& lineKey, const std::string& itemKey) const;
  void CheckBit(const char* operation, int bit) const;
  void CheckField(const char* operation, int shift, int width) const;
};
