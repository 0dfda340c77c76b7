#pragma once
// TlaMBDeviceSetup: the five settings that tie a slave device to a connection
// (name, connection name, slave address, sample time, enable). The four
// setters share one commit protocol: nothing for an unchanged value, else
// OnChanging with the proposed record (which the handler may change), commit,
// then OnChange. Loaded from an INI section or a registry key named after the
// device; there is no writer.
//
// The settings are read by the connection worker (Enable, address) and may be
// changed on it (a device past its fault limit disables itself there), so the
// record is kept under a small lock of its own: reads return copies, and no
// event runs with the lock held.
#include <cstdint>
#include <mutex>
#include <string>

#include "Event.h"
#include "Registry.h"

struct str_SetupItems {
  std::string Name;
  std::string ConnectionName;
  std::uint8_t ModBusAddress = 0;  // 0: not set
  std::int32_t SampleTime = 0;
  bool Enable = false;
};

class TlaMBDeviceSetup;

using TlaSetupChangeEvent = kd::Event<void(TlaMBDeviceSetup* sender, str_SetupItems& newvalues)>;

class TlaMBDeviceSetup {
 public:
  TlaMBDeviceSetup();
  TlaMBDeviceSetup(const TlaMBDeviceSetup&) = delete;
  TlaMBDeviceSetup& operator=(const TlaMBDeviceSetup&) = delete;

  // A copy of the current values.
  str_SetupItems Items() const;
  std::string GetName() const;
  std::string GetConnectionName() const;
  std::uint8_t GetModBusAddress() const;
  std::int32_t GetSampleTime() const;
  bool GetEnable() const;

  void SetName(const std::string& value);
  void SetConnectionName(const std::string& value);
  void SetModBusAddress(std::uint8_t value);
  void SetEnable(bool value);

  // Name and connection name set, address not 0, sample time at least 10.
  bool GetIsValid() const;

  // Section `deviceName` (or the current Name) of the file; false when the
  // name is missing, the file cannot be read (missing, no regular file, too
  // large), or reading failed (values read so far stay).
  bool LoadFromIniFile(const std::string& fileName, const std::string& deviceName);
  // Key keyPath\Name below root; false when the path or name is empty or the
  // key cannot be opened. A missing value or one of another type raises the
  // registry's error (values read before it stay).
  bool LoadFromRegistry(kd::RootKey root, const std::string& keyPath, const std::string& deviceName);

  TlaSetupChangeEvent OnChanging;  // proposed record, before the commit
  TlaSetupChangeEvent OnChange;    // current record, after a commit or a load

 private:
  // The commit protocol: differs(items) tells whether the change is needed,
  // apply(items) makes it in the copy.
  template <class Differs, class Apply>
  void Commit(Differs&& differs, Apply&& apply);
  // A direct store (the loaders), without events.
  template <class Set>
  void Store(Set&& set);
  void RaiseChange();

  mutable std::mutex mutex_;  // guards items_ only; never held across an event
  str_SetupItems items_;
};
