#pragma once
// TNetwork: the program's one non-visual data module. It owns the data-model
// collection, the one KD730 drive and the one connection worker, opens and
// closes the connection on the main window's request, and turns every
// connection and drive event into lines of the main window's log, its
// drive-state panel and its fault lists. ErrorMessage turns a result code
// into the operator's text.
#include <cstdint>
#include <memory>
#include <string>

#include "Component.h"

class TlaDMCollection;
class TlaDeviceKD730;
class TlaDeviceSlave;
class TlaMBThread;
class TlaMBTransaction;

class TNetwork : public kd::Component {
 public:
  // Sets Network, creates laDMColl and laDevice and wires the drive's events.
  explicit TNetwork(kd::Component* owner = nullptr);
  // DataModuleDestroy, then the drive, then the collection and its models.
  ~TNetwork() override;
  std::string ClassName() const override { return "TNetwork"; }

  // Components owned by this module (kd::Component ownership; the drive is
  // deleted first by the destructor, the collection with the module).
  TlaDMCollection* laDMColl = nullptr;
  TlaDeviceKD730* laDevice = nullptr;

  // The open or opening connection, or null.
  TlaMBThread* Connection() const { return FConnection.get(); }

  void OpenConnection(int port);
  void CloseConnection();
  void DataModuleDestroy();
  // The operator's text for a result code; -4 also shows the main window's
  // registration action.
  std::string ErrorMessage(std::int32_t code);

 private:
  void laDMCollNoFile(TlaDMCollection* sender, const std::string& fileName);
  void laDeviceVersionFound(TlaDeviceSlave* sender);
  void laDeviceVersionUnknown(TlaDeviceSlave* sender);
  void laDeviceVersionError(TlaDeviceSlave* sender);
  void ConnOpened(TlaMBThread* sender);
  void ConnClosed(TlaMBThread* sender);
  void ConnError(TlaMBThread* sender);
  void laDeviceStateUpdate(TlaMBTransaction* sender, std::int32_t result);
  void laDeviceFaultUpdate(TlaMBTransaction* sender, std::int32_t result);
  void laDeviceSetupUpdate(TlaMBTransaction* sender, std::int32_t result);
  void laDeviceSetupSent(TlaMBTransaction* sender, std::int32_t result);
  void laDeviceSetupSave(TlaMBTransaction* sender, std::int32_t result);
  void laDeviceTransaError(TlaMBTransaction* sender, std::int32_t result);

  std::unique_ptr<TlaMBThread> FConnection;
};

// The data module of the run (set while it exists).
extern TNetwork* Network;
