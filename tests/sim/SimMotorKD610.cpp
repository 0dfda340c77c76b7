// The KD610 inverter: the output frequency follows the run inputs and the
// speed reference (VirtualRef, or the jog or fast speed) along the ramps; the
// output voltage follows the voltage/frequency characteristic, the current
// and the DC bus move with them.
//
// Inputs (bits 0-3): run forward, run reverse, jog, fast speed; forward and
// reverse together stop. CfgFlags: bit 0 virtual inputs instead of the
// terminals, bit 1 inverted logic, bit 2 ramps. UserOption bit 4 locks the
// reverse direction.
#include <algorithm>
#include <cmath>

#include "SimMotor.h"

namespace kdsim {

namespace {

class KD610Motor : public SimMotor {
 public:
  explicit KD610Motor(const SimRegisterMap& map)
      : mains_(map.Need("MainsVoltage")),
        urV_(map.Need("UrV")),
        umaxV_(map.Need("UmaxV")),
        irA_(map.Need("IrA")),
        ipA_(map.Need("IpA")),
        frHz_(map.Need("FrHz")),
        accel_(map.Need("Accel")),
        decel_(map.Need("Decel")),
        jog_(map.Need("SpeedJog")),
        fast_(map.Need("SpeedFast")),
        holdVolt_(map.Need("HoldTorqueVolt")),
        cfgFlags_(map.Need("CfgFlags")),
        userOption_(map.Need("UserOption")),
        ref_(map.Need("VirtualRef")),
        virtualInput_(map.Need("VirtualInput")),
        input_(map.Need("Input")),
        dcBus_(map.Need("u_dc_busV")),
        frequency_(map.Need("f_motorHz")),
        volts_(map.Need("v_motorV")),
        current_(map.Need("i_motorA")),
        pointX_{-1, map.Need("Trottle[1].x"), map.Need("Trottle[2].x"), -1},
        pointY_{map.Need("Trottle[0].y"), map.Need("Trottle[1].y"), map.Need("Trottle[2].y"),
                map.Need("Trottle[3].y")} {}

  double Speed() const override { return hertz_; }

  void Step(SimRegisterMap& map, const SimInputs& in, double t, double dt, bool settle) override {
    const std::int32_t cfg = map.GetInt(cfgFlags_);
    auto flag = [cfg](int bit) { return ((cfg >> bit) & 1) != 0; };

    const std::int32_t inputs = flag(0) ? map.GetInt(virtualInput_) : in.Terminals;
    map.SetInt(input_, inputs & 0xF);
    const std::int32_t active = (flag(1) ? ~inputs : inputs) & 0xF;
    const bool forward = (active & 1) != 0;
    const bool reverse = (active & 2) != 0 && !map.GetBit(userOption_, 4);
    const bool run = forward != reverse && !in.Faulted;

    const double percent = (active & 4)   ? map.GetDouble(jog_)
                           : (active & 8) ? map.GetDouble(fast_)
                                          : map.GetDouble(ref_);
    const double rated = map.GetDouble(frHz_);
    const double target = run ? (forward ? 1.0 : -1.0) * percent / 100.0 * rated : 0.0;

    const double before = hertz_;
    if (!flag(2) || settle)
      hertz_ = target;
    else
      hertz_ = Ramp(hertz_, target, dt, rated, map.GetDouble(accel_), map.GetDouble(decel_));
    const double share = rated > 0.0 ? std::abs(hertz_) / rated : 0.0;
    const bool turning = hertz_ != 0.0;

    // Voltage: the characteristic, the holding voltage while running at standstill.
    double volts = 0.0;
    if (turning)
      volts = map.GetDouble(urV_) * Characteristic(map, 100.0 * share) / 100.0;
    else if (run)
      volts = map.GetDouble(holdVolt_);
    volts = std::min(volts, map.GetDouble(umaxV_));

    // Current: magnetising plus load, plus what the ramp takes, within the peak.
    const double irA = map.GetDouble(irA_);
    double current = 0.0;
    if (run || turning) {
      double slope = dt > 0.0 && rated > 0.0 ? std::abs(hertz_ - before) / dt / rated : 0.0;
      current = std::min(irA * (0.3 + 0.4 * share + 0.5 * slope), map.GetDouble(ipA_));
      current += Ripple(0.005 * irA, 50.0, t);
    }

    map.SetDouble(frequency_, hertz_);
    map.SetDouble(volts_, volts + (turning ? Ripple(0.5, 11.1, t) : 0.0));
    map.SetDouble(current_, std::max(current, 0.0));
    map.SetDouble(dcBus_,
                  std::sqrt(2.0) * map.GetDouble(mains_) - 0.5 * current + Ripple(1.5, 3.1, t));
  }

 private:
  // Percent of UrV at a percent of FrHz: straight lines through the points
  // (0, [0].y), ([1].x, [1].y), ([2].x, [2].y), (100, [3].y), flat beyond.
  double Characteristic(const SimRegisterMap& map, double at) const {
    double x[4], y[4];
    for (int i = 0; i < 4; ++i) {
      x[i] = i == 0 ? 0.0 : i == 3 ? 100.0 : map.GetDouble(pointX_[i]);
      y[i] = map.GetDouble(pointY_[i]);
    }
    if (at >= x[3]) return y[3];
    for (int i = 1; i < 4; ++i) {
      if (at > x[i]) continue;
      double width = x[i] - x[i - 1];
      return width > 0.0 ? y[i - 1] + (y[i] - y[i - 1]) * (at - x[i - 1]) / width : y[i];
    }
    return y[3];
  }

  const int mains_, urV_, umaxV_, irA_, ipA_, frHz_, accel_, decel_, jog_, fast_, holdVolt_;
  const int cfgFlags_, userOption_, ref_, virtualInput_, input_;
  const int dcBus_, frequency_, volts_, current_;
  const int pointX_[4], pointY_[4];  // the characteristic's registers (-1: fixed at 0 and 100 %)
  double hertz_ = 0.0;
};

}  // namespace

std::unique_ptr<SimMotor> NewKD610Motor(const SimRegisterMap& map) {
  return std::make_unique<KD610Motor>(map);
}

}  // namespace kdsim
