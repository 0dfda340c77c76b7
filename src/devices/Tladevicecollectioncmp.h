#pragma once
// TlaDeviceCollection: a set of slave devices built from configuration, one
// device per section of an INI file or per subkey of a registry key, each
// loaded by the device's own settings loader. The set is bounded
// (MaxDeviceCount, 2 unless changed; 0 would mean no limit), owns its devices
// and finds them by their settings' Name (exact, letter case included).
//
// A derived collection makes its own kind of device by overriding
// AllocNewDevice.
//
// A device refused because the set is full is not in the set: AddDevice
// returns false after OnMaxDeviceCount, and the loaders delete it. An
// OnMaxDeviceCount handler that makes room and adds the device after all
// makes it the set's: AddDevice then returns true and the loaders hand it back.
//
// Main thread only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Component.h"
#include "Event.h"
#include "Registry.h"
#include "Strings.h"
#include "Tladeviceslavecmp.h"

class TlaDeviceCollection;

using TlaDeviceCollEvent = kd::Event<void(TlaDeviceCollection* sender, TlaDeviceSlave* device)>;
using TlaDeviceCollErrorEvent = kd::Event<void(
    TlaDeviceCollection* sender, const std::string& deviceName, const std::string& fileName)>;

class TlaDeviceCollection : public kd::Component {
 public:
  explicit TlaDeviceCollection(kd::Component* owner = nullptr);
  ~TlaDeviceCollection() override;  // ClearSet (OnDelete for each device)
  std::string ClassName() const override { return "TlaDeviceCollection"; }

  // --- Published ---------------------------------------------------------
  std::int32_t GetMaxDeviceCount() const { return maxDeviceCount_; }
  void SetMaxDeviceCount(std::int32_t n);  // ignored below 1
  TlaDeviceCollEvent OnAdd;
  TlaDeviceCollEvent OnDelete;          // before the device is deleted
  TlaDeviceCollErrorEvent OnError;      // a section of an INI file did not load
  TlaDeviceCollEvent OnMaxDeviceCount;  // the set is full; the device is refused

  // --- Names of the devices in a configuration -----------------------------
  // The list is cleared first; a key that does not open, or an error raised
  // while reading, gives the single line "-Error-" (NameLists.h). A null list
  // does nothing.
  static void GetDeviceListFromRegistry(kd::StringList* list, kd::RootKey root,
                                        const std::string& keyPath);
  static void GetDeviceListFromIniFile(kd::StringList* list, const std::string& fileName);

  // ClearSet, then one device per name in list order.
  void CreateSetFromRegistry(kd::RootKey root, const std::string& keyPath);
  void CreateSetFromIniFile(const std::string& fileName);

  // A new device (AllocNewDevice) loaded from keyPath\name or from section
  // `name`, then added. Null when it did not load (the INI loader also
  // raises OnError) or the set is full; the device is then deleted. Null
  // too when an OnAdd handler deleted it. A registry key that lacks a value
  // raises the registry's error (the device is deleted).
  TlaDeviceSlave* AddDeviceFromRegistry(const std::string& name, kd::RootKey root,
                                        const std::string& keyPath);
  TlaDeviceSlave* AddDeviceFromIniFile(const std::string& name, const std::string& fileName);

  // Takes the device into the set (the set then owns it): OnAdd, true. Null
  // gives false; a full set raises OnMaxDeviceCount and gives false (the
  // device stays the caller's) unless the handler took it in; a device
  // already in the set gives true and nothing else.
  bool AddDevice(TlaDeviceSlave* device);
  // Every device: DeleteDevice of the first one until the set is empty.
  void ClearSet();
  // Out of the set, OnDelete, deleted; false for null or a device not in the set.
  bool DeleteDevice(TlaDeviceSlave* device);
  bool DeleteDevice(const std::string& name);

  int GetCountDevice() const { return static_cast<int>(devices_.size()); }
  TlaDeviceSlave* GetDevice(int index) const;  // null outside 0 .. count-1
  // The first device whose settings' Name is `name` exactly; null for an empty name.
  TlaDeviceSlave* FindByName(const std::string& name) const;

  // The device a loader fills: a plain TlaDeviceSlave here, the own kind of
  // device in derived collections. The caller owns the result.
  virtual std::unique_ptr<TlaDeviceSlave> AllocNewDevice(kd::Component* owner);

 private:
  // Adds a loaded device; it is deleted when the set refuses it and does not hold it.
  TlaDeviceSlave* Keep(std::unique_ptr<TlaDeviceSlave> device);
  bool Holds(const TlaDeviceSlave* device) const;
  bool Offered(const TlaDeviceSlave* device) const;  // on `loading_`: not deleted by the set

  std::int32_t maxDeviceCount_ = 2;
  std::vector<std::unique_ptr<TlaDeviceSlave>> devices_;
  std::vector<TlaDeviceSlave*> loading_;  // devices a loader offers and still owns
};
