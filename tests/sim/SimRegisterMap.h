#pragma once
// The simulated drive's registers: a data-model file read by the register
// model's loader, and the byte image the registers live in (Modbus byte order,
// register k after the bytes of registers 0..k-1).
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TlaRegDefsList;
class TlaRegDefinition;

namespace kdsim {

class SimRegisterMap {
 public:
  // Raises kd::Exception when the file is missing or names a register it does
  // not define. Every register with a default starts with it, the others with 0.
  explicit SimRegisterMap(const std::string& parFile);
  ~SimRegisterMap();
  SimRegisterMap(SimRegisterMap&&) noexcept;
  SimRegisterMap& operator=(SimRegisterMap&&) noexcept;

  int Count() const;
  const TlaRegDefinition& At(int address) const;
  int Find(std::string_view name) const;  // exact name; -1 when absent
  // The same for a register the caller cannot do without: kd::Exception when absent.
  int Need(std::string_view name) const;
  // The first name of the model's version list ("KDP7_KD730v105"); empty when none.
  std::string FirstVersion() const;
  // A value of the model's [AddOnInfo] ("ProgCountEE"); empty when absent.
  std::string AddOnInfo(std::string_view name) const;
  int MaxBufferSize() const;
  bool InCategory(std::string_view category, int address) const;
  const std::vector<int>& Category(std::string_view category) const;  // empty when absent

  // Bytes of registers first..first+count-1; -1 (or empty) when the run leaves the map.
  int ByteSize(int first, int count) const;
  std::span<std::uint8_t> Bytes(int first, int count);
  std::span<const std::uint8_t> Bytes(int first, int count) const;

  // Element 0 through the definition's codec (raw integers clamped to the
  // register's range, engineering values truncated toward zero).
  std::int32_t GetInt(int address) const;
  void SetInt(int address, std::int32_t value);
  double GetDouble(int address) const;
  void SetDouble(int address, double value);
  bool GetBit(int address, int bit) const { return ((GetInt(address) >> bit) & 1) != 0; }

 private:
  std::unique_ptr<TlaRegDefsList> model_;
  std::vector<std::uint8_t> image_;
  std::map<std::string, std::vector<int>> categories_;  // lower-case names
};

}  // namespace kdsim
