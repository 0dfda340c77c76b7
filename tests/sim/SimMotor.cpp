#include "SimMotor.h"

#include <cmath>
#include <numbers>

#include "Tlaversionrecordcls.h"

namespace kdsim {

std::unique_ptr<SimMotor> SimMotor::For(const SimRegisterMap& map) {
  TlaVersionRecord model;
  if (model.Parse(map.FirstVersion(), "") && model.KDNumber == 610) return NewKD610Motor(map);
  return NewKD730Motor(map);
}

double Ramp(double speed, double target, double dt, double fullScale, double accelSeconds,
            double decelSeconds) {
  double left = dt;
  while (left > 0.0 && speed != target) {
    bool slowing = (speed > 0 && target < speed) || (speed < 0 && target > speed);
    double goal = slowing && target * speed < 0 ? 0.0 : target;
    double seconds = slowing ? decelSeconds : accelSeconds;
    if (seconds <= 0.0) {
      speed = goal;
      continue;
    }
    double rate = fullScale / seconds;
    double distance = std::abs(goal - speed);
    if (distance <= rate * left + 1e-6) {  // reached within this step
      speed = goal;
      left -= distance / rate;
    } else {
      speed += (goal > speed ? rate : -rate) * left;
      left = 0.0;
    }
  }
  return speed;
}

double Ripple(double amplitude, double hertz, double t) {
  return amplitude * std::sin(2.0 * std::numbers::pi * hertz * t);
}

}  // namespace kdsim
