#pragma once
// TlaDeviceKD730: the KD730 DC motor drive. Names the registers the windows
// use, owns the views of the five controller gains and of the input filter,
// keeps the continuous current below the peak current, adapts the voltage
// and current limits to the drive's hardware voltage class after each setup
// read, and converts the drive's raw reference and measurement words (32768
// stands for 4/3 of full scale) to percent and amperes and back. The setters
// change the register image only; send the register with WriteReg.
//
// CfgFlags bits used here: 0 digital reference (RefDig) instead of the
// analogue input ARef1; 3 current limit scaled by ARef2; 4 tacho feedback
// (Tacho) instead of Armature; 9 current limit follows the current reference;
// 10-11 the input filter.
//
// RefDig and VirtualInput are the operator's commands: no periodic read
// covers them, so that none can overwrite a value being written. They are
// read, waiting, at the first state update each time the drive is online
// and by ReadSetup; until then GetCommandsRead is false and the image holds
// no value of the drive's to step or toggle from. The stored slave address
// (EE_ModBusSlave) is read at the state updates too, until it is known.
#include <atomic>
#include <memory>

#include "Tladevicekdslavecmp.h"
#include "Tlaparvaluecls.h"

class TlaDeviceKD730 : public TlaDeviceKDSlave {
 public:
  explicit TlaDeviceKD730(kd::Component* owner = nullptr);
  ~TlaDeviceKD730() override;
  std::string ClassName() const override { return "TlaDeviceKD730"; }

  // ReadCommands, then the RAM setup read.
  void ReadSetup();
  // RefDig and VirtualInput from the drive, waiting for each (main thread);
  // true when both were read (a register the model lacks counts as read).
  bool ReadCommands();
  // RefDig and VirtualInput hold the drive's values: read since the drive
  // last came online.
  bool GetCommandsRead() const { return commandsRead_.load(); }
  // Any state but online clears GetCommandsRead.
  TlaSlaveState UpdateSlaveState() override;

  // Scaled values of element 0; 0 when a register they need is missing.
  double GetDcBusvalue();
  double GetArmatureValue();
  double GetTachoValue();
  double GetRefDigValue();
  double GetSpeedRefValue();
  double GetCurrentRefValue();
  double GetCurrentLimitValue();
  // RefDig := percent × 0.75 × 327.68, truncated toward zero.
  void SetRefDigValue(double percent);
  // Only with CfgFlags bit 0 set.
  void SetSpeedRefValue(double percent);
  // Only with CfgFlags bit 0 set; refused (RefDig unchanged) while IcA is 0.
  void SetCurrentRefValue(double amperes);

  // Registers by name; null until the data model is loaded or when it lacks them.
  TlaRegister* UrV = nullptr;
  TlaRegister* IcA = nullptr;
  TlaRegister* IpA = nullptr;
  TlaRegister* NomSpeed = nullptr;
  TlaRegister* RxI = nullptr;
  TlaRegister* Accel = nullptr;
  TlaRegister* Decel = nullptr;
  TlaRegister* TachoVKrpm = nullptr;
  TlaRegister* TachoRin = nullptr;
  TlaRegister* CfgFlags = nullptr;
  TlaRegister* Speed_PGain = nullptr;
  TlaRegister* Speed_PScale = nullptr;
  TlaRegister* Speed_IGain = nullptr;
  TlaRegister* Speed_IScale = nullptr;
  TlaRegister* Speed_DGain = nullptr;
  TlaRegister* Speed_DScale = nullptr;
  TlaRegister* Current_PGain = nullptr;
  TlaRegister* Current_PScale = nullptr;
  TlaRegister* Current_IGain = nullptr;
  TlaRegister* Current_IScale = nullptr;
  TlaRegister* ARef1_scale = nullptr;
  TlaRegister* OffsetAn2Ext = nullptr;
  TlaRegister* OffsetAn3Ext = nullptr;
  TlaRegister* RefDig = nullptr;
  TlaRegister* VirtualInput = nullptr;
  TlaRegister* HWLimitVolt = nullptr;
  TlaRegister* u_dc_busV = nullptr;
  TlaRegister* a_motorV = nullptr;
  TlaRegister* i_motorA = nullptr;
  TlaRegister* Input = nullptr;
  TlaRegister* ARef1 = nullptr;
  TlaRegister* ARef2 = nullptr;
  TlaRegister* Armature = nullptr;
  TlaRegister* Tacho = nullptr;

  // Views over element 0, owned; null until the data model is loaded.
  std::unique_ptr<TlaParFrac16> Current_P;
  std::unique_ptr<TlaParFrac16> Current_I;
  std::unique_ptr<TlaParFrac16> Speed_P;
  std::unique_ptr<TlaParFrac16> Speed_I;
  std::unique_ptr<TlaParFrac16> Speed_D;
  std::unique_ptr<TlaParBitField> InputFilter;  // CfgFlags bits 10-11

 protected:
  void RegistersSetup() override;
  void AfterSetupUpdate() override;
  // Reads the commands and the stored slave address when they are not read yet.
  void AfterStateUpdate() override;

 private:
  bool CfgBit(std::uint8_t bit);

  std::atomic<bool> commandsRead_{false};  // UpdateSlaveState may run on the worker
};
