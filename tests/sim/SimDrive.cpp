#include "SimDrive.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "Exception.h"
#include "IniFile.h"
#include "Strings.h"
#include "Tlaregdefinitioncls.h"

namespace kdsim {

namespace {

constexpr double kMaxStep = 0.01;       // seconds per integration step
constexpr double kMaxGap = 1000.0;      // longer pauses jump to the steady state
constexpr double kDcBusPerVoltClass = 540.0 / 550.0;
constexpr char kEepromSection[] = "EEPROM";

double Ripple(double amplitude, double hertz, double t) {
  return amplitude * std::sin(2.0 * std::numbers::pi * hertz * t);
}

std::string FaultKey(std::string_view name) {
  std::string key = kd::Trim(name);
  std::replace(key.begin(), key.end(), '_', ' ');
  return key;
}

}  // namespace

SimDrive::SimDrive(SimRegisterMap map, std::string eepromFile, double now)
    : map_(std::move(map)), eepromFile_(std::move(eepromFile)), now_(now) {
  urV_ = Need("UrV");
  icA_ = Need("IcA");
  ipA_ = Need("IpA");
  accel_ = Need("Accel");
  decel_ = Need("Decel");
  cfgFlags_ = Need("CfgFlags");
  aref1Scale_ = Need("ARef1_scale");
  offsetAn2_ = Need("OffsetAn2Ext");
  offsetAn3_ = Need("OffsetAn3Ext");
  refDig_ = Need("RefDig");
  virtualInput_ = Need("VirtualInput");
  hwLimitVolt_ = Need("HWLimitVolt");
  dcBus_ = Need("u_dc_busV");
  armatureV_ = Need("a_motorV");
  current_ = Need("i_motorA");
  input_ = Need("Input");
  aref1_ = Need("ARef1");
  aref2_ = Need("ARef2");
  armature_ = Need("Armature");
  tacho_ = Need("Tacho");
  actFault_[0] = Need("ActFaultState_0");
  actFault_[1] = Need("ActFaultState_1");
  prevFault_[0] = Need("PrevFaultState_0");
  prevFault_[1] = Need("PrevFaultState_1");
  heatsink_ = map_.Find("HeatsinkTemp");

  // EEPROM: the registers named EE_..., and every register that is another one's twin.
  eeprom_.assign(static_cast<size_t>(map_.Count()), false);
  for (int k = 0; k < map_.Count(); ++k) {
    if (map_.At(k).Name.starts_with("EE_")) eeprom_[static_cast<size_t>(k)] = true;
    int twin = map_.At(k).RegProg;
    if (twin != k && twin >= 0 && twin < map_.Count()) eeprom_[static_cast<size_t>(twin)] = true;
  }

  LoadEeprom();
  // The RAM setup starts as a copy of its EEPROM twins.
  for (int k = 0; k < map_.Count(); ++k) {
    int twin = map_.At(k).RegProg;
    if (twin == k || twin < 0 || twin >= map_.Count()) continue;
    auto from = map_.Bytes(twin, 1);
    auto to = map_.Bytes(k, 1);
    std::copy_n(from.begin(), std::min(from.size(), to.size()), to.begin());
  }
  Step(0.0);
}

int SimDrive::Need(const char* name) const {
  int address = map_.Find(name);
  if (address < 0) throw kd::Exception(std::string("SimDrive: the data model has no register ") + name);
  return address;
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
    eeprom = eeprom || IsEeprom(k);
  }
  Step(0.0);
  return !eeprom || eepromFile_.empty() || SaveEeprom();
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

bool SimDrive::Inverted() const { return map_.GetBit(cfgFlags_, 2); }

bool SimDrive::InputActive(int bit) const {
  bool source = map_.GetBit(cfgFlags_, 1) ? map_.GetBit(virtualInput_, bit) : ((terminals_ >> bit) & 1) != 0;
  return source != Inverted();
}

void SimDrive::Step(double dt, bool settle) {
  const std::int32_t cfg = map_.GetInt(cfgFlags_);
  auto flag = [cfg](int bit) { return ((cfg >> bit) & 1) != 0; };
  const double t = now_;

  // Inputs: the logic inputs in use, the analogue inputs with their offsets.
  std::int32_t inputs = flag(1) ? map_.GetInt(virtualInput_) : terminals_;
  map_.SetInt(input_, inputs & 0x7);
  map_.SetInt(aref1_, std::clamp(analog1_ + map_.GetInt(offsetAn2_), -32768, 32767));
  map_.SetInt(aref2_, std::clamp(analog2_ + map_.GetInt(offsetAn3_), -32768, 32767));

  const bool faulted = (map_.GetInt(actFault_[0]) | map_.GetInt(actFault_[1])) != 0;
  const bool inhibit = InputActive(2) || faulted;
  double ref = flag(0) ? map_.GetInt(refDig_) : map_.GetInt(aref1_) * map_.GetDouble(aref1Scale_);
  if (InputActive(1) && ref > 0) ref = 0;  // Disable CW
  if (InputActive(0) && ref < 0) ref = 0;  // Disable CCW
  ref = std::clamp(ref, -32768.0, 32767.0);
  const double target = inhibit ? 0.0 : ref;

  // Speed: ramps with Accel (away from zero) and Decel (towards zero) when enabled.
  const double before = speed_;
  if (!flag(5) || settle) {
    speed_ = target;
  } else {
    double left = dt;
    while (left > 0.0 && speed_ != target) {
      bool slowing = (speed_ > 0 && target < speed_) || (speed_ < 0 && target > speed_);
      double goal = slowing && target * speed_ < 0 ? 0.0 : target;
      double seconds = map_.GetDouble(slowing ? decel_ : accel_);
      if (seconds <= 0.0) {
        speed_ = goal;
        continue;
      }
      double rate = kFullScale / seconds;
      double distance = std::abs(goal - speed_);
      if (distance <= rate * left + 1e-6) {  // reached within this step
        speed_ = goal;
        left -= distance / rate;
      } else {
        speed_ += (goal > speed_ ? rate : -rate) * left;
        left = 0.0;
      }
    }
  }

  // Current: load plus acceleration in speed mode, the reference in current mode.
  const double icA = map_.GetDouble(icA_);
  double limit = std::min(icA, map_.GetDouble(ipA_));
  if (flag(3)) limit = std::abs(map_.GetInt(aref2_) * limit) / kFullScale;
  double current = 0.0;
  if (!inhibit) {
    if (flag(9)) {
      current = ref * icA / kFullScale;
    } else {
      double slope = dt > 0.0 ? (speed_ - before) / dt : 0.0;
      current = icA * (0.05 * speed_ / kFullScale + 0.5 * slope / kFullScale);
    }
    current = std::clamp(current, -limit, limit) + Ripple(0.005 * icA, 50.0, t);
  }
  const bool running = !inhibit || speed_ != 0.0;

  // Measurements, each with a little ripple while the motor turns.
  double speedRipple = running ? Ripple(0.002 * kFullScale, 7.3, t) : 0.0;
  map_.SetInt(armature_, static_cast<std::int32_t>(speed_ + speedRipple));
  map_.SetInt(tacho_, static_cast<std::int32_t>(speed_ + 0.5 * speedRipple));
  double armatureVolts = map_.GetDouble(urV_) * speed_ / kFullScale + 0.5 * current;
  map_.SetDouble(armatureV_, armatureVolts + (running ? Ripple(0.5, 11.1, t) : 0.0));
  map_.SetDouble(current_, current);
  double dcBus = kDcBusPerVoltClass * map_.GetDouble(hwLimitVolt_) - 0.2 * std::abs(current);
  map_.SetDouble(dcBus_, dcBus + Ripple(1.5, 3.1, t));
  if (heatsink_ >= 0) map_.SetDouble(heatsink_, 30.0 + 0.8 * std::abs(current));
}

}  // namespace kdsim
