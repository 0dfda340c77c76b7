#pragma once
// TlaDeviceKDSlave: the base of the drive models. Once the data model is
// loaded it lets the model map its registers (RegistersSetup), polls the
// live state (category "ActState", every pass) and the fault words
// ("FaultState", every tenth pass), reads the setup from the drive's RAM once
// ("RamSetup", repeated every tenth pass until it succeeds), and offers the
// send/save cycle: the RAM setup write and, after SaveSetup, the copy of every
// setup register into its EEPROM twin and the EEPROM write ("EEPromSetup").
//
// Setup state: 0 unknown (not read yet), 1 synced, 2 edited, 3 sent to RAM
// but not saved. A RAM read sets 1 unless the state is 3; an edit of a hooked
// register that changed it sets 2; a RAM write turns 2 into 3; an EEPROM
// write sets 1. Main thread only.
//
// Identified again on a new connection with the same data model, the drive's
// setup is read again unless it is edited or sent (2, 3): the program's copy
// is then kept as it is. The setup transactions start only while the data
// model fits the identified drive (ModelFits).
//
// EE_ModBusSlave, the address the drive stores, is the drive's only once read
// from it (ReadModBusSlave) or typed into the image while the drive is
// online; leaving the online states (6, 7) forgets that (GetModBusSlaveKnown),
// since the image may then hold another drive's address.
#include <atomic>
#include <cstdint>
#include <memory>

#include "Tladeviceslavecmp.h"
#include "Tlaparvaluecls.h"

using TlaSetupState = std::uint8_t;
inline constexpr TlaSetupState setupUnknown = 0;
inline constexpr TlaSetupState setupSynced = 1;
inline constexpr TlaSetupState setupEdited = 2;
inline constexpr TlaSetupState setupSent = 3;

class TlaDeviceKDSlave : public TlaDeviceSlave {
 public:
  explicit TlaDeviceKDSlave(kd::Component* owner = nullptr);
  ~TlaDeviceKDSlave() override;
  std::string ClassName() const override { return "TlaDeviceKDSlave"; }

  // One run of the RAM setup read (repeated every tenth pass until it succeeds).
  void ReadSetup();
  // The RAM setup write alone.
  void SendSetup();
  // The RAM setup write, then the EEPROM twins and the EEPROM write.
  void SaveSetup();
  // The setup is edited or sent (2, 3): a new identification keeps it.
  bool SetupKept() const { return SetupState == setupEdited || SetupState == setupSent; }
  // Hooks the after-edit event of every register of the blocks to DoOnAfterEdit.
  void AssignDoOnAfterEdit(const TlaRegBlock* blocks);
  // The same for one register.
  void HookAfterEdit(TlaRegister* reg);
  void DoOnAfterEdit(TlaRegister* reg, bool changed);

  TlaMBChainedTransa* RamSetupRead() const { return ramSetupRead_; }
  TlaMBChainedTransa* RamSetupWrite() const { return ramSetupWrite_; }
  TlaMBChainedTransa* EEPromSetupWrite() const { return eePromSetupWrite_; }
  bool GetSaveAfterSend() const { return saveAfterSend_; }
  TlaSetupState SetupState = setupUnknown;

  // Null until the data model is loaded (or when it lacks the register).
  TlaRegister* EE_ModBusSlave = nullptr;
  TlaParValue* EE_ModBusSlaveView() const { return eeModBusSlaveView_.get(); }
  // EE_ModBusSlave from the drive, waiting (main thread); true when read.
  bool ReadModBusSlave();
  // EE_ModBusSlave holds this drive's stored address or one typed since.
  bool GetModBusSlaveKnown() const { return modBusSlaveKnown_.load(); }
  // Any state but online (6, 7) clears GetModBusSlaveKnown.
  TlaSlaveState UpdateSlaveState() override;
  TlaRegister* PrevFaultState_0 = nullptr;
  TlaRegister* PrevFaultState_1 = nullptr;
  TlaRegister* ActFaultState_0 = nullptr;
  TlaRegister* ActFaultState_1 = nullptr;
  // The fault words by index: i = 0 or 1; null otherwise.
  TlaRegister* GetPreFault(int i) const;
  TlaRegister* GetActFault(int i) const;

  TlaTransaEvent OnFaultUpdate;  // the fault words were read
  TlaTransaEvent OnSetupUpdate;  // the RAM setup was read
  TlaTransaEvent OnSetupSent;    // the RAM setup write is done
  TlaTransaEvent OnSetupSave;    // the EEPROM setup write is done
  TlaTransaEvent OnStateUpdate;  // the live state was read

 protected:
  void AfterVersionFound() override;
  // The setup read again, unless it is kept.
  void AfterVersionFoundAgain() override;
  // The drive model maps its register fields and creates its views.
  virtual void RegistersSetup() = 0;
  // Before OnStateUpdate is raised.
  virtual void AfterStateUpdate() {}
  virtual void AfterFaultUpdate() {}
  virtual void AfterSetupUpdate() {}
  virtual void AfterEdit() {}

  void DoOnStateUpdate(TlaMBTransaction* transa, std::int32_t value);
  void DoOnFaultUpdate(TlaMBTransaction* transa, std::int32_t value);
  void DoOnSetupUpdate(TlaMBTransaction* transa, std::int32_t value);
  void DoOnSetupSent(TlaMBTransaction* transa, std::int32_t value);
  void DoOnSetupSave(TlaMBTransaction* transa, std::int32_t value);

  // Element 0 of reg := raw truncated toward zero, held inside the int range
  // (the register clamps further); nothing without a register or for a value
  // that is no number.
  static void StoreTruncated(TlaRegister* reg, long double raw);

 private:
  // A chained transaction of a category, owned by this device, its events bound.
  TlaMBChainedTransa* NewChained(const char* category, int mode,
                                 void (TlaDeviceKDSlave::*done)(TlaMBTransaction*, std::int32_t));
  // The RAM setup write, followed by the EEPROM save when `save`.
  void StartSetupWrite(bool save);
  // Every RAM setup register with an EEPROM twin: its bytes into the twin.
  void CopyToEepromTwins();

  // Owned through TransaList (deleted by the base's destructor).
  TlaMBChainedTransa* ramSetupRead_ = nullptr;
  TlaMBChainedTransa* ramSetupWrite_ = nullptr;
  TlaMBChainedTransa* eePromSetupWrite_ = nullptr;
  bool saveAfterSend_ = false;
  std::unique_ptr<TlaParValue> eeModBusSlaveView_;
  std::atomic<bool> modBusSlaveKnown_{false};  // UpdateSlaveState may run on the worker
};
