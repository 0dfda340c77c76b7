#include "SimDrive.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Exception.h"
#include "IniFile.h"
#include "Strings.h"
#include "Tlaregdefinitioncls.h"

namespace kdsim {

namespace {

constexpr double kMaxStep = 0.01;       // seconds per integration step
constexpr double kMaxGap = 1000.0;      // longer pauses jump to the steady state
constexpr char kEepromSection[] = "EEPROM";

std::string FaultKey(std::string_view name) {
  std::string key = kd::Trim(name);
  std::replace(key.begin(), key.end(), '_', ' ');
  return key;
}

}  // namespace

SimDrive::SimDrive(SimRegisterMap map, std::string eepromFile, double now)
    : map_(std::move(map)), eepromFile_(std::move(eepromFile)), now_(now) {
  motor_ = SimMotor::For(map_);
  actFault_[0] = map_.Need("ActFaultState_0");
  actFault_[1] = map_.Need("ActFaultState_1");
  prevFault_[0] = map_.Need("PrevFaultState_0");
  prevFault_[1] = map_.Need("PrevFaultState_1");
  command_ = map_.Find("P971");

  // EEPROM: the registers named EE_..., and every register that is another one's twin.
  eeprom_.assign(static_cast<size_t>(map_.Count()), false);
  for (int k = 0; k < map_.Count(); ++k) {
    if (map_.At(k).Name.starts_with("EE_")) eeprom_[static_cast<size_t>(k)] = true;
    int twin = map_.At(k).RegProg;
    if (twin != k && twin >= 0 && twin < map_.Count()) eeprom_[static_cast<size_t>(twin)] = true;
  }

  LoadEeprom();
  CopyTwins(false);  // the RAM setup starts as a copy of its EEPROM twins
  Step(0.0);
}

bool SimDrive::IsEeprom(int address) const { return eeprom_.at(static_cast<size_t>(address)); }

void SimDrive::LoadEeprom() {
  if (eepromFile_.empty()) return;
  kd::IniFile ini(eepromFile_);
  for (int k = 0; k < map_.Count(); ++k) {
    if (!IsEeprom(k)) continue;
    const std::string& name = map_.At(k).Name;
    if (ini.ValueExists(kEepromSection, name))
      map_.SetInt(k, ini.ReadInteger(kEepromSection, name, map_.GetInt(k)));
  }
}

bool SimDrive::SaveEeprom() {
  try {
    kd::IniFile ini(eepromFile_);
    ini.BeginUpdate();
    for (int k = 0; k < map_.Count(); ++k)
      if (IsEeprom(k)) ini.WriteInteger(kEepromSection, map_.At(k).Name, map_.GetInt(k));
    ini.EndUpdate();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool SimDrive::Write(int first, int count, std::span<const std::uint8_t> bytes) {
  if (map_.ByteSize(first, count) != static_cast<int>(bytes.size()))
    throw kd::Exception("SimDrive::Write: byte count does not fit the registers");
  bool eeprom = false;
  size_t at = 0;
  for (int k = first; k < first + count; ++k) {
    auto target = map_.Bytes(k, 1);
    auto source = bytes.subspan(at, target.size());
    at += target.size();
    if (map_.InCategory("Properties", k) || map_.InCategory("ActState", k)) continue;
    std::int32_t before = map_.GetInt(k);
    std::copy(source.begin(), source.end(), target.begin());
    for (int w = 0; w < 2; ++w) {
      if (k != actFault_[w]) continue;
      // A master can only clear fault bits; cleared ones become previous faults.
      std::int32_t written = map_.GetInt(k);
      map_.SetInt(k, before & written);
      map_.SetInt(prevFault_[w], map_.GetInt(prevFault_[w]) | (before & ~written));
    }
    if (k == command_) {
      // The drive's command register: 1 saves the setup, then it reads 0 again.
      if (map_.GetInt(k) == 1) {
        CopyTwins(true);
        eeprom = true;
      }
      map_.SetInt(k, 0);
    }
    eeprom = eeprom || IsEeprom(k);
  }
  Step(0.0);
  return !eeprom || eepromFile_.empty() || SaveEeprom();
}

void SimDrive::CopyTwins(bool intoEeprom) {
  for (int k = 0; k < map_.Count(); ++k) {
    int twin = map_.At(k).RegProg;
    if (twin == k || twin < 0 || twin >= map_.Count()) continue;
    auto from = map_.Bytes(intoEeprom ? k : twin, 1);
    auto to = map_.Bytes(intoEeprom ? twin : k, 1);
    std::copy_n(from.begin(), std::min(from.size(), to.size()), to.begin());
  }
}

std::optional<SimDrive::FaultBit> SimDrive::FindFault(std::string_view name) const {
  std::string key = kd::Trim(name);
  for (int w = 0; w < 2; ++w) {
    const TlaRegDefinition& r = map_.At(actFault_[w]);
    std::string prefix = r.Name + ".";
    std::int32_t bit = 0;
    if (key.starts_with(prefix) && kd::TryParseInteger(key.substr(prefix.size()), bit) && bit >= 0 &&
        bit < 8 * r.GetElementSize())
      return FaultBit{w, bit};
  }
  for (int w = 0; w < 2; ++w) {
    const TlaRegDefinition& r = map_.At(actFault_[w]);
    for (int b = 0; b < 8 * r.GetElementSize(); ++b) {
      std::string bitName = r.GetBitName(0, static_cast<std::uint8_t>(b));
      if (!bitName.empty() && kd::SameText(FaultKey(bitName), FaultKey(key))) return FaultBit{w, b};
    }
  }
  return std::nullopt;
}

bool SimDrive::RaiseFault(std::string_view name) {
  auto f = FindFault(name);
  if (!f) return false;
  int reg = actFault_[f->word];
  map_.SetInt(reg, map_.GetInt(reg) | (1 << f->bit));
  Step(0.0);
  return true;
}

bool SimDrive::Preset(std::string_view name, std::int32_t value) {
  const int address = map_.Find(name);
  if (address < 0) return false;
  map_.SetInt(address, value);
  Step(0.0);
  return true;
}

bool SimDrive::ClearFault(std::string_view name) {
  auto f = FindFault(name);
  if (!f) return false;
  int act = actFault_[f->word];
  std::int32_t mask = 1 << f->bit;
  if ((map_.GetInt(act) & mask) != 0) {
    map_.SetInt(act, map_.GetInt(act) & ~mask);
    map_.SetInt(prevFault_[f->word], map_.GetInt(prevFault_[f->word]) | mask);
  }
  Step(0.0);
  return true;
}

void SimDrive::Update(double now) {
  double gap = now - now_;
  if (!(gap > 0.0)) return;
  if (gap > kMaxGap) {
    // A long pause: the ramps have long ended.
    Step(0.0, true);
    now_ = now - 1.0;
    gap = 1.0;
  }
  while (gap > 0.0) {
    double dt = std::min(gap, kMaxStep);
    now_ += dt;
    gap -= dt;
    Step(dt);
  }
  now_ = now;
}

void SimDrive::Step(double dt, bool settle) {
  inputs_.Faulted = (map_.GetInt(actFault_[0]) | map_.GetInt(actFault_[1])) != 0;
  motor_->Step(map_, inputs_, now_, dt, settle);
}

}  // namespace kdsim
