#pragma once
// What moves a simulated drive of one model: its live registers from its
// setup, the inputs it reads and the time. SimDrive keeps what every model
// shares (fault words, EEPROM, writes) and hands each step to the motor.
#include <cstdint>
#include <memory>

#include "SimRegisterMap.h"

namespace kdsim {

// What the simulated terminals and analogue inputs read (raw drive words),
// and whether a fault is active.
struct SimInputs {
  std::uint16_t Terminals = 0;
  std::int32_t Analog1 = 0;
  std::int32_t Analog2 = 0;
  bool Faulted = false;
};

class SimMotor {
 public:
  virtual ~SimMotor() = default;
  // One step of dt seconds ending at time t; settle jumps to the end of the ramps.
  virtual void Step(SimRegisterMap& map, const SimInputs& in, double t, double dt, bool settle) = 0;
  // The KD730's speed as a raw drive word, the KD610's output frequency in Hz.
  virtual double Speed() const = 0;

  // The motor of the model the map describes (by the first name of its
  // version list: model 610 the inverter, any other the KD730). Raises
  // kd::Exception naming the first register the model needs and the map lacks.
  static std::unique_ptr<SimMotor> For(const SimRegisterMap& map);
};

std::unique_ptr<SimMotor> NewKD730Motor(const SimRegisterMap& map);
std::unique_ptr<SimMotor> NewKD610Motor(const SimRegisterMap& map);

// speed moved dt seconds towards target along ramps that cover fullScale in
// accelSeconds away from zero and in decelSeconds towards it (through zero
// when the sign changes); a ramp of 0 s or less steps at once.
double Ramp(double speed, double target, double dt, double fullScale, double accelSeconds,
            double decelSeconds);

double Ripple(double amplitude, double hertz, double t);

}  // namespace kdsim
