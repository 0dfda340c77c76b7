#pragma once
// TlaDeviceKD610: the inverter of the drive family, with a voltage/frequency
// characteristic. Wraps most of its setup registers in parameter-value views
// (owned, over element 0), shows its virtual and physical inputs and two
// option words bit by bit, links the limits of related parameters to each
// other, scales its speed reference (32768 = 100 %), and saves its setup to
// the EEPROM through the command register P971 instead of the family's
// EEPROM write.
//
// Linked limits: UrV stays within UminV..UmaxV, which keep at least 1 V
// between them; HoldTorqueVolt stays at most UrV; IrA at most IpA; SpeedJog
// at most SpeedFast; the characteristic's points stay ordered (the voltages
// from point 0 to 3, the frequencies of points 1 and 2).
#include <array>
#include <memory>

#include "Tladevicekdslavecmp.h"
#include "Tlaparvaluecls.h"

class TlaDeviceKD610 : public TlaDeviceKDSlave {
 public:
  explicit TlaDeviceKD610(kd::Component* owner = nullptr);
  ~TlaDeviceKD610() override;
  std::string ClassName() const override { return "TlaDeviceKD610"; }

  // The characteristic's views in order: Trottle[0].y, [1].x, [1].y, [2].x,
  // [2].y, [3].y for i = 0 to 5; null otherwise.
  TlaParValue* GetTrottle(int i) const;

  // VirtualRef (read as an unsigned number) in percent; 0 without it.
  double GetSpeedRefValue();
  // VirtualRef := percent × 327.68, truncated toward zero. Changes the
  // register image only; send it with WriteReg. A negative percent stores 0.
  void SetSpeedRefValue(double percent);

  // In setup states 1 and 3 only: writes 1 to P971 and waits for the drive.
  // Success: state 1 and OnSetupSave; failure: OnTransaError (the state stays).
  void DirectSaveSetup();

  // Views over element 0, owned; null until the data model is loaded.
  std::unique_ptr<TlaParValue> MainsVoltage;
  std::unique_ptr<TlaParValue> UrV;
  std::unique_ptr<TlaParValue> UminV;
  std::unique_ptr<TlaParValue> UmaxV;
  std::unique_ptr<TlaParValue> IrA;
  std::unique_ptr<TlaParValue> IpA;
  std::unique_ptr<TlaParValue> I2T_Time;
  std::unique_ptr<TlaParValue> FrHz;
  std::unique_ptr<TlaParValue> Accel;
  std::unique_ptr<TlaParValue> Decel;
  std::unique_ptr<TlaParValue> SpeedJog;
  std::unique_ptr<TlaParValue> SpeedFast;
  std::unique_ptr<TlaParValue> Trottle0_y;  // register "Trottle[0].y"
  std::unique_ptr<TlaParValue> Trottle1_x;
  std::unique_ptr<TlaParValue> Trottle1_y;
  std::unique_ptr<TlaParValue> Trottle2_x;
  std::unique_ptr<TlaParValue> Trottle2_y;
  std::unique_ptr<TlaParValue> Trottle3_y;
  std::unique_ptr<TlaParValue> HoldTorqueVolt;
  std::unique_ptr<TlaParValue> MotorID;
  std::array<std::unique_ptr<TlaParBoolField>, 4> VirtualInputBits;  // bits 0-3
  std::unique_ptr<TlaParValue> VirtualInput;
  std::array<std::unique_ptr<TlaParBoolField>, 4> InputBits;  // bits 0-3

  // Registers; null until the data model is loaded or when it lacks them.
  TlaRegister* VirtualRef = nullptr;
  TlaRegister* P971 = nullptr;

  std::unique_ptr<TlaParValue> u_dc_busV;
  std::unique_ptr<TlaParValue> f_motorHz;
  std::unique_ptr<TlaParValue> v_motorV;
  std::unique_ptr<TlaParValue> i_motorA;
  std::unique_ptr<TlaParValue> HWLimitVolt;

  TlaRegister* EE_PROFIbusSlave = nullptr;
  std::unique_ptr<TlaParValue> EE_PROFIbusSlaveView;

  TlaRegister* CfgFlags = nullptr;
  std::array<std::unique_ptr<TlaParBoolField>, 3> CfgFlagsBits;  // bits 0-2

  TlaRegister* UserOption = nullptr;
  std::array<std::unique_ptr<TlaParBoolField>, 8> UserOptionBits;  // bits 0-7
  std::unique_ptr<TlaParBitField> UserOptionField;                 // bits 8-9
  std::unique_ptr<TlaParBoolField> UserOptionBit10;

 protected:
  void RegistersSetup() override;
};
