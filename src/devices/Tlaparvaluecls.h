#pragma once
// TlaParValue: a parameter-value view over one element of a register, for
// lists, editors and reports: name, value as number and text, limits and
// default, the choices an editor may offer, and reading or writing it on the
// device. The subclasses view a mantissa/exponent pair (TlaParFrac16), a coded
// value (TlaParEncoded), one bit (TlaParBoolField) and a bit field
// (TlaParBitField). A view owns neither its register nor its device; whoever
// creates it deletes it. Every operation answers 0, false or "" without a
// register. Main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Strings.h"
#include "Tlaregistercls.h"

class TlaDeviceSlave;

// Codes of the value lists: 0 or more a value to set, the others special rows.
inline constexpr int parCodeSeparator = -1;  // "---------"
inline constexpr int parCodeDefault = -2;
inline constexpr int parCodeMin = -3;
inline constexpr int parCodeMax = -4;
inline constexpr const char* parSeparatorText = "---------";

// One row of a value list: its text and its code.
struct TlaParValueItem {
  std::string Text;
  int Code = 0;
  bool operator==(const TlaParValueItem&) const = default;
};
using TlaParValueList = std::vector<TlaParValueItem>;

class TlaParValue {
 public:
  TlaParValue(TlaDeviceSlave* device, TlaRegister* reg, std::uint8_t element);
  virtual ~TlaParValue();
  TlaParValue(const TlaParValue&) = delete;
  TlaParValue& operator=(const TlaParValue&) = delete;

  std::uint8_t Enabled = 1;
  std::uint8_t Visible = 1;
  std::uint8_t Element;
  TlaRegister* Register;   // not owned
  TlaDeviceSlave* Device;  // not owned

  virtual bool HasMax();
  virtual double GetMax();
  virtual std::string GetMaxText();
  virtual bool HasMin();
  virtual double GetMin();
  virtual std::string GetMinText();
  virtual bool HasDefault();
  virtual double GetDefault();
  virtual std::string GetDefaultText();
  virtual void SetValue(double value);
  virtual double GetValue();
  virtual std::string GetName();
  virtual std::string GetValueText();
  virtual void SetDefault();
  // Clears the list; with limits, the default, maximum and minimum rows.
  virtual void FillValueList(TlaParValueList* list, bool withLimits);
  // Appends "name:\tvalue".
  virtual void Dump(kd::StringList* list);
  // The device's ReadReg/WriteReg of the register, waiting for the run.
  virtual bool Read();
  virtual bool Write();

 protected:
  // The coded-value text of a number (else the number in the register's format).
  std::string CodedText(double value) const;
  // The default row and the separator, for the lists of the subclasses.
  void AddDefaultRows(TlaParValueList* list, bool withLimits);
  // The default bound as an integer (0 without one).
  std::uint32_t DefaultBits();
};

// Mantissa × 2^exponent: Register holds the mantissa (a signed fraction of
// 1/32768), ScaleRegister the exponent.
class TlaParFrac16 : public TlaParValue {
 public:
  TlaParFrac16(TlaDeviceSlave* device, TlaRegister* gain, TlaRegister* scale, std::uint8_t element);

  TlaRegister* ScaleRegister;  // not owned

  double GetMax() override;
  double GetMin() override;
  double GetDefault() override;
  // Clamps (when the gain register has limits), then halves until the value
  // lies inside (-1, 1). A value that is not finite is refused.
  void SetValue(double value) override;
  double GetValue() override;
  void SetDefault() override;
  // The gain register, then (only when that succeeded) the scale register.
  bool Read() override;
  bool Write() override;

 private:
  // The gain register's bound times 2^(the scale register's bound), each
  // factor taken when the bound exists.
  double BoundProduct(std::unique_ptr<TlaRegBound> TlaRegister::*bound);
};

// A coded value: texts from the register's "_Coded" line (the limit texts
// are the base's, which already gives the coded texts of the bounds).
class TlaParEncoded : public TlaParValue {
 public:
  using TlaParValue::TlaParValue;

  std::string GetValueText() override;
  // With limits and a default: the default row and the separator; then every
  // code from 0 to the maximum bound (none without a maximum).
  void FillValueList(TlaParValueList* list, bool withLimits) override;
};

// One bit of an element.
class TlaParBoolField : public TlaParValue {
 public:
  TlaParBoolField(TlaDeviceSlave* device, TlaRegister* reg, std::uint8_t bit, std::uint8_t element);

  std::uint8_t Bit;

  bool HasMax() override;
  double GetMax() override;
  std::string GetMaxText() override;
  bool HasMin() override;
  double GetMin() override;
  std::string GetMinText() override;
  double GetDefault() override;
  std::string GetDefaultText() override;
  void SetValue(double value) override;
  double GetValue() override;
  std::string GetName() override;
  std::string GetValueText() override;
  void SetDefault() override;
  void FillValueList(TlaParValueList* list, bool withLimits) override;

 private:
  std::string StateText(double value);
};

// A bit field of an element: (element >> FirstBit) & (2^BitCount - 1).
class TlaParBitField : public TlaParValue {
 public:
  TlaParBitField(TlaDeviceSlave* device, TlaRegister* reg, std::uint8_t firstBit, std::uint8_t bitCount,
                 std::uint8_t element);

  std::uint8_t FirstBit;
  std::uint8_t BitCount;

  bool HasMax() override;
  double GetMax() override;
  std::string GetMaxText() override;
  bool HasMin() override;
  double GetMin() override;
  std::string GetMinText() override;
  double GetDefault() override;
  std::string GetDefaultText() override;
  void SetValue(double value) override;
  double GetValue() override;
  std::string GetName() override;
  std::string GetValueText() override;
  void SetDefault() override;
  void FillValueList(TlaParValueList* list, bool withLimits) override;

  // The field's value, -1 without a register.
  int GetField();
  void SetField(int value);

 private:
  std::string FieldText(int value);
};
