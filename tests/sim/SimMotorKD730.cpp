// The KD730 DC drive: speed follows the digital reference (or the analogue
// input) along the ramps, current, armature voltage and DC bus move with it.
#include <algorithm>
#include <cmath>

#include "SimDrive.h"
#include "SimMotor.h"

namespace kdsim {

namespace {

constexpr double kFullScale = SimDrive::kFullScale;
constexpr double kDcBusPerVoltClass = 540.0 / 550.0;

class KD730Motor : public SimMotor {
 public:
  explicit KD730Motor(const SimRegisterMap& map)
      : urV_(map.Need("UrV")),
        icA_(map.Need("IcA")),
        ipA_(map.Need("IpA")),
        accel_(map.Need("Accel")),
        decel_(map.Need("Decel")),
        cfgFlags_(map.Need("CfgFlags")),
        aref1Scale_(map.Need("ARef1_scale")),
        offsetAn2_(map.Need("OffsetAn2Ext")),
        offsetAn3_(map.Need("OffsetAn3Ext")),
        refDig_(map.Need("RefDig")),
        virtualInput_(map.Need("VirtualInput")),
        hwLimitVolt_(map.Need("HWLimitVolt")),
        dcBus_(map.Need("u_dc_busV")),
        armatureV_(map.Need("a_motorV")),
        current_(map.Need("i_motorA")),
        input_(map.Need("Input")),
        aref1_(map.Need("ARef1")),
        aref2_(map.Need("ARef2")),
        armature_(map.Need("Armature")),
        tacho_(map.Need("Tacho")),
        heatsink_(map.Find("HeatsinkTemp")) {}

  double Speed() const override { return speed_; }

  void Step(SimRegisterMap& map, const SimInputs& in, double t, double dt, bool settle) override {
    const std::int32_t cfg = map.GetInt(cfgFlags_);
    auto flag = [cfg](int bit) { return ((cfg >> bit) & 1) != 0; };
    auto inputActive = [&](int bit) {
      bool source = flag(1) ? map.GetBit(virtualInput_, bit) : ((in.Terminals >> bit) & 1) != 0;
      return source != flag(2);  // bit 2: inverted logic
    };

    // Inputs: the logic inputs in use, the analogue inputs with their offsets.
    std::int32_t inputs = flag(1) ? map.GetInt(virtualInput_) : in.Terminals;
    map.SetInt(input_, inputs & 0x7);
    map.SetInt(aref1_, std::clamp(in.Analog1 + map.GetInt(offsetAn2_), -32768, 32767));
    map.SetInt(aref2_, std::clamp(in.Analog2 + map.GetInt(offsetAn3_), -32768, 32767));

    const bool inhibit = inputActive(2) || in.Faulted;
    double ref = flag(0) ? map.GetInt(refDig_) : map.GetInt(aref1_) * map.GetDouble(aref1Scale_);
    if (inputActive(1) && ref > 0) ref = 0;  // Disable CW
    if (inputActive(0) && ref < 0) ref = 0;  // Disable CCW
    ref = std::clamp(ref, -32768.0, 32767.0);
    const double target = inhibit ? 0.0 : ref;

    // Speed: ramps with Accel (away from zero) and Decel (towards zero) when enabled.
    const double before = speed_;
    if (!flag(5) || settle)
      speed_ = target;
    else
      speed_ = Ramp(speed_, target, dt, kFullScale, map.GetDouble(accel_), map.GetDouble(decel_));

    // Current: load plus acceleration in speed mode, the reference in current mode.
    const double icA = map.GetDouble(icA_);
    double limit = std::min(icA, map.GetDouble(ipA_));
    if (flag(3)) limit = std::abs(map.GetInt(aref2_) * limit) / kFullScale;
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
    map.SetInt(armature_, static_cast<std::int32_t>(speed_ + speedRipple));
    map.SetInt(tacho_, static_cast<std::int32_t>(speed_ + 0.5 * speedRipple));
    double armatureVolts = map.GetDouble(urV_) * speed_ / kFullScale + 0.5 * current;
    map.SetDouble(armatureV_, armatureVolts + (running ? Ripple(0.5, 11.1, t) : 0.0));
    map.SetDouble(current_, current);
    double dcBus = kDcBusPerVoltClass * map.GetDouble(hwLimitVolt_) - 0.2 * std::abs(current);
    map.SetDouble(dcBus_, dcBus + Ripple(1.5, 3.1, t));
    if (heatsink_ >= 0) map.SetDouble(heatsink_, 30.0 + 0.8 * std::abs(current));
  }

 private:
  const int urV_, icA_, ipA_, accel_, decel_, cfgFlags_, aref1Scale_, offsetAn2_, offsetAn3_;
  const int refDig_, virtualInput_, hwLimitVolt_, dcBus_, armatureV_, current_, input_;
  const int aref1_, aref2_, armature_, tacho_, heatsink_;
  double speed_ = 0.0;
};

}  // namespace

std::unique_ptr<SimMotor> NewKD730Motor(const SimRegisterMap& map) {
  return std::make_unique<KD730Motor>(map);
}

}  // namespace kdsim
