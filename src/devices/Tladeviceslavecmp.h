#pragma once
// TlaDeviceSlave: the base of every Modbus slave device. It is the device's
// register image and the owner of its transactions; it joins one connection
// worker (ConnOwner), identifies the device, loads the data model for the
// reported version from a TlaDMCollection, keeps the slave state, counts
// time-outs, and reads or writes single registers on demand.
//
// Slave state (TlaSlaveState): 0 settings invalid, 1 disabled, 2 no
// connection, 3 connection closed, 4 version pending, 5 no data model,
// 6 online, 7 online with a failing active transaction, 8 fault limit
// exceeded. Only 6 allows ReadReg and WriteReg.
//
// Threads: everything runs on the main thread except what the worker calls
// (IncFaultCount, RstFaultCount, UpdateSlaveState while closing, the setting
// reads); a device past its fault limit disables itself on the worker, so
// OnSlaveStateChange and OnSetupChange may then run there. The state, the
// fault count and its limits are atomic. Locks: the device's TransaList,
// then a chained transaction's parts, then the register image.
//
// Destroy the device only while its worker does not poll it (after removing
// it from the worker or destroying the worker): the worker calls into it.
//
// A device with a register image that joins another worker (a reconnect, a
// cable swap) is identified again before anything of the former drive runs:
// its transactions wait (the state is 4), requests queued for the former line
// are dropped. When the version fits the data model of the image (the data
// model file the collection picks for it is the image's), the periodic ones
// run on, AfterVersionFoundAgain runs and OnVersionFound is raised again;
// otherwise OnVersionUnknown is raised and the device stays in state 5 with
// nothing running but a later identification (the image cannot be replaced).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Event.h"
#include "IniFile.h"
#include "Registry.h"
#include "Strings.h"
#include "Tladevicesetupcls.h"
#include "Tlambdevice.h"
#include "Tlambtransactioncls.h"
#include "Tlaregdefslistcmp.h"

class TlaDMCollection;
class TlaMBDeviceVersion;
class TlaMBDataModelScan;
class TlaMBChainedTransa;
class TlaMBReadHoldRegisters;
class TlaMBWriteSingleRegister;
class TlaMBSimpleTransa;
class TlaDeviceSlave;

using TlaSlaveState = std::uint8_t;
inline constexpr TlaSlaveState slaveSetupInvalid = 0;
inline constexpr TlaSlaveState slaveDisabled = 1;
inline constexpr TlaSlaveState slaveNoConnection = 2;
inline constexpr TlaSlaveState slaveNotConnected = 3;
inline constexpr TlaSlaveState slaveVersionPending = 4;
inline constexpr TlaSlaveState slaveNoDataModel = 5;
inline constexpr TlaSlaveState slaveOnline = 6;
inline constexpr TlaSlaveState slaveTransaError = 7;
inline constexpr TlaSlaveState slaveFaultLimit = 8;

using TlaDeviceEvent = kd::Event<void(TlaDeviceSlave* sender)>;
using TlaDeviceTransaEvent = kd::Event<void(TlaDeviceSlave* sender, TlaMBTransaction* transa)>;

class TlaDeviceSlave : public TlaMBDevice {
 public:
  explicit TlaDeviceSlave(kd::Component* owner = nullptr);
  ~TlaDeviceSlave() override;
  std::string ClassName() const override { return "TlaDeviceSlave"; }

  // --- Published ---------------------------------------------------------
  TlaDMCollection* DMColl = nullptr;  // not owned
  std::atomic<bool> FaultCutOff{false};  // count time-outs only when set
  std::uint32_t GetMaxFaultCount() const { return maxFaultCount_.load(); }
  void SetMaxFaultCount(std::uint32_t value);  // values below 10 are ignored
  TlaDeviceEvent OnSlaveStateChange;
  TlaDeviceEvent OnVersionFound;
  TlaDeviceEvent OnVersionUnknown;
  TlaDeviceEvent OnVersionError;
  TlaDeviceTransaEvent OnAdd;
  TlaDeviceTransaEvent OnExtract;
  TlaSetupChangeEvent OnSetupChange;
  TlaTransaEvent OnProperties;
  TlaTransaEvent OnTransaError;

  // --- State -------------------------------------------------------------
  TlaMBDeviceSetup* DeviceSetup() const { return deviceSetup_.get(); }
  std::uint32_t GetFaultCount() const { return faultCount_.load(); }
  TlaSlaveState GetSlaveState() const { return slaveState_.load(); }  // as last computed
  TlaMBDeviceVersion* VersionTransa() const { return versionTransa_.load(); }
  TlaMBDataModelScan* DMScanTransa() const { return dmScanTransa_; }
  TlaMBChainedTransa* PropertiesTransa() const { return propertiesTransa_; }
  TlaMBReadHoldRegisters* ReadTransa() const { return readTransa_; }
  TlaMBWriteSingleRegister* WriteTransa() const { return writeTransa_; }

  // --- What the worker and the transactions call ---------------------------
  // Joins the list and the device (its owner becomes this device); OnAdd.
  void Add(TlaMBTransaction* transa) override;
  // Leaves the list; its owner is cleared when it is this device; OnExtract.
  void Extract(TlaMBTransaction* transa) override;
  // Joins the thread (leaving the former one), takes its connection name and,
  // with valid settings, starts the identification.
  void SetConnOwner(TlaMBThread* thread) override;
  void ResetConnOwner(TlaMBThread* thread) override;
  // A time-out (worker): counted when FaultCutOff; past MaxFaultCount the
  // device disables itself (state 8).
  void IncFaultCount() override;
  void RstFaultCount() override;
  // Computes the state; OnSlaveStateChange when it differs from the stored one.
  TlaSlaveState UpdateSlaveState() override;
  std::uint8_t GetModBusAddress() const override { return deviceSetup_->GetModBusAddress(); }
  std::int32_t GetSampleTime() const override { return deviceSetup_->GetSampleTime(); }
  bool GetEnable() const override { return deviceSetup_->GetEnable(); }

  // --- Operations --------------------------------------------------------
  bool LoadFromIniFile(const std::string& fileName, const std::string& deviceName);
  bool LoadFromRegistry(kd::RootKey root, const std::string& keyPath, const std::string& deviceName);
  int GetTransaCount();
  TlaMBTransaction* GetTransa(int index);  // raises kd::Exception outside the list
  // The setting, then every transaction of the device.
  void ChangeSlaveAddress(std::uint8_t address);
  // Creates the scan once (period 10), sets its handlers, starts it at level 3.
  TlaMBDataModelScan* ExecDataModelScan(TlaTransaEvent onDone, TlaTransaProgressEvent onProgress);
  // One chained read of the category "Properties" (done: OnProperties).
  // Nothing without a data model.
  void ReadProperties();
  void DoOnTransaError(TlaMBTransaction* transa, std::int32_t result);

  // Builds the register image once (also records it for the state).
  bool CreateRegDataBuffer(TlaRegDefsList* list);
  // The image's data model is the one of the drive as last identified (true
  // for an image built without identification).
  bool ModelFits() const { return modelFits_.load(); }

  // --- Synchronous register access -----------------------------------------
  // One register through the private read (3) or write (6) transaction.
  // False unless the device is online (state 6) on a connected worker and the
  // transaction is free. With wait, the calling (main) thread waits until the
  // run is over, the connection closes or the state leaves 6, running only
  // the worker's synchronised calls; true when this call's run succeeded.
  // Without wait, the result of the previous run.
  bool ReadReg(int address, bool wait);
  bool ReadReg(const std::string& name, bool wait);
  bool ReadReg(TlaRegister* reg, bool wait);
  bool WriteReg(int address, bool wait);
  bool WriteReg(const std::string& name, bool wait);
  bool WriteReg(TlaRegister* reg, bool wait);

  // --- Setup export and import, listings -------------------------------------
  // Every register of the category "ImportExport", in block order.
  void ExportToIniFile(const std::string& section, kd::IniFile* ini);
  // The same walk. It stops at the first value that does not convert and
  // raises kd::ConvertError naming the register: the registers before it
  // hold the file's values, the rest keep theirs.
  void ImportFromIniFile(const std::string& section, const kd::IniFile* ini);
  // Appends the Dump lines of every register of the blocks.
  void CompileValuesList(const TlaRegBlock* blocks, kd::StringList* list);
  // Appends the name of every set bit of the register, element by element.
  void StandardFaultScan(TlaRegister* reg, kd::StringList* list);

 protected:
  virtual void AfterVersionFound() {}
  // A later identification found a version that the image's model fits; the
  // periodic transactions run again already.
  virtual void AfterVersionFoundAgain() {}
  void DoOnVersion(TlaMBTransaction* transa, std::int32_t result);
  void DoOnVersionError(TlaMBTransaction* transa, std::int32_t result);
  void DoOnChangeSetup(TlaMBDeviceSetup* sender, str_SetupItems& newvalues);
  // fn(register) for every register at the addresses of the blocks, in
  // block order and ascending address; addresses without a register are skipped.
  template <class Fn>
  void ForEachRegister(const TlaRegBlock* blocks, Fn&& fn) {
    for (const TlaRegBlock* b = blocks; b; b = b->Next.get()) {
      const int end = b->First + b->Count;
      for (int address = b->First; address < end; ++address)
        if (TlaRegister* reg = GetRegister(address)) fn(reg);
    }
  }

 private:
  void StartIdentification();
  // Joining another worker with an image: every transaction but the
  // identification stops; the periodic ones are kept for ResumeTransactions.
  void SuspendTransactions();
  void ResumeTransactions();
  bool FitsModel(const std::string& version) const;
  // The shared part of ReadReg and WriteReg.
  bool RunPrivate(TlaMBSimpleTransa* transa, int address, bool wait);
  bool CanAccess() const;
  // The state as UpdateSlaveState computes it, without storing it; `ignore`
  // is left out of the look at the active transactions.
  TlaSlaveState ComputeSlaveState(const TlaMBTransaction* ignore = nullptr);

  std::atomic<std::uint32_t> maxFaultCount_{10};
  std::atomic<std::uint32_t> faultCount_{0};
  std::atomic<TlaSlaveState> slaveState_{slaveDisabled};
  // The image's model fits the identified drive (read by the worker).
  std::atomic<bool> modelFits_{false};
  // This worker's identification has been answered (read by the worker).
  std::atomic<bool> identified_{false};
  // Periodic transactions stopped by SuspendTransactions (main thread).
  std::vector<TlaMBTransaction*> suspended_;
  std::unique_ptr<TlaMBDeviceSetup> deviceSetup_;
  // Transactions below are owned through TransaList (deleted by the destructor).
  std::atomic<TlaMBDeviceVersion*> versionTransa_{nullptr};
  TlaMBDataModelScan* dmScanTransa_ = nullptr;
  TlaMBChainedTransa* propertiesTransa_ = nullptr;
  TlaMBReadHoldRegisters* readTransa_ = nullptr;
  TlaMBWriteSingleRegister* writeTransa_ = nullptr;
};
