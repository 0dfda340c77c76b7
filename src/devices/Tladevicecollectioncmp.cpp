#include "Tladevicecollectioncmp.h"

#include <algorithm>

#include "NameLists.h"

TlaDeviceCollection::TlaDeviceCollection(kd::Component* owner) : kd::Component(owner) {}

TlaDeviceCollection::~TlaDeviceCollection() {
  ClearSet();
}

void TlaDeviceCollection::SetMaxDeviceCount(std::int32_t n) {
  if (n >= 1) maxDeviceCount_ = n;
}

void TlaDeviceCollection::GetDeviceListFromRegistry(kd::StringList* list, kd::RootKey root,
                                                    const std::string& keyPath) {
  kd::ReadRegistryKeyNames(list, root, keyPath);
}

void TlaDeviceCollection::GetDeviceListFromIniFile(kd::StringList* list,
                                                   const std::string& fileName) {
  kd::ReadIniSectionNames(list, fileName);
}

void TlaDeviceCollection::CreateSetFromRegistry(kd::RootKey root, const std::string& keyPath) {
  ClearSet();
  kd::StringList names;
  GetDeviceListFromRegistry(&names, root, keyPath);
  for (const std::string& name : names.Lines()) AddDeviceFromRegistry(name, root, keyPath);
}

void TlaDeviceCollection::CreateSetFromIniFile(const std::string& fileName) {
  ClearSet();
  kd::StringList names;
  GetDeviceListFromIniFile(&names, fileName);
  for (const std::string& name : names.Lines()) AddDeviceFromIniFile(name, fileName);
}

std::unique_ptr<TlaDeviceSlave> TlaDeviceCollection::AllocNewDevice(kd::Component* owner) {
  return std::make_unique<TlaDeviceSlave>(owner);
}

TlaDeviceSlave* TlaDeviceCollection::AddDeviceFromRegistry(const std::string& name,
                                                           kd::RootKey root,
                                                           const std::string& keyPath) {
  std::unique_ptr<TlaDeviceSlave> device = AllocNewDevice(this);
  if (!device || !device->LoadFromRegistry(root, keyPath, name)) return nullptr;
  return Keep(std::move(device));
}

TlaDeviceSlave* TlaDeviceCollection::AddDeviceFromIniFile(const std::string& name,
                                                          const std::string& fileName) {
  std::unique_ptr<TlaDeviceSlave> device = AllocNewDevice(this);
  if (!device || !device->LoadFromIniFile(fileName, name)) {
    device.reset();
    if (OnError) OnError(this, name, fileName);
    return nullptr;
  }
  return Keep(std::move(device));
}

TlaDeviceSlave* TlaDeviceCollection::Keep(std::unique_ptr<TlaDeviceSlave> device) {
  // An OnMaxDeviceCount handler may take the refused device in after all, and
  // an OnAdd or OnMaxDeviceCount handler may delete it again: while it is
  // offered, the set's own DeleteDevice crosses it off `loading_`. When the
  // offer ends (also by an exception), the device is deleted only when it is
  // still on the list and not in the set. It is handed back only while the
  // set holds it.
  struct Offer {
    TlaDeviceCollection& set;
    TlaDeviceSlave* device;
    ~Offer() {
      const auto mark = std::find(set.loading_.begin(), set.loading_.end(), device);
      if (mark == set.loading_.end()) return;  // the set deleted it
      set.loading_.erase(mark);
      if (!set.Holds(device)) delete device;
    }
  } offer{*this, device.get()};
  loading_.push_back(device.get());
  device.release();  // on the list: the offer settles it
  AddDevice(offer.device);
  return Offered(offer.device) && Holds(offer.device) ? offer.device : nullptr;
}

bool TlaDeviceCollection::Offered(const TlaDeviceSlave* device) const {
  return std::find(loading_.begin(), loading_.end(), device) != loading_.end();
}

bool TlaDeviceCollection::Holds(const TlaDeviceSlave* device) const {
  return std::any_of(devices_.begin(), devices_.end(),
                     [device](const std::unique_ptr<TlaDeviceSlave>& d) { return d.get() == device; });
}

bool TlaDeviceCollection::AddDevice(TlaDeviceSlave* device) {
  if (!device) return false;
  if (Holds(device)) return true;
  if (maxDeviceCount_ != 0 && GetCountDevice() >= maxDeviceCount_) {
    if (OnMaxDeviceCount) OnMaxDeviceCount(this, device);
    return Holds(device);  // the handler may have made room and taken it in
  }
  devices_.emplace_back(device);
  if (OnAdd) OnAdd(this, device);
  return true;
}

void TlaDeviceCollection::ClearSet() {
  while (!devices_.empty()) DeleteDevice(devices_.front().get());
}

bool TlaDeviceCollection::DeleteDevice(TlaDeviceSlave* device) {
  if (!device) return false;
  auto it = std::find_if(
      devices_.begin(), devices_.end(),
      [device](const std::unique_ptr<TlaDeviceSlave>& d) { return d.get() == device; });
  if (it == devices_.end()) return false;
  std::unique_ptr<TlaDeviceSlave> gone = std::move(*it);
  devices_.erase(it);
  // A device a loader still offers is deleted here, not by the loader.
  loading_.erase(std::remove(loading_.begin(), loading_.end(), device), loading_.end());
  if (OnDelete) OnDelete(this, device);
  return true;  // `gone` deletes it
}

bool TlaDeviceCollection::DeleteDevice(const std::string& name) {
  return DeleteDevice(FindByName(name));
}

TlaDeviceSlave* TlaDeviceCollection::GetDevice(int index) const {
  if (index < 0 || index >= GetCountDevice()) return nullptr;
  return devices_[static_cast<std::size_t>(index)].get();
}

TlaDeviceSlave* TlaDeviceCollection::FindByName(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (const auto& d : devices_)
    if (d->DeviceSetup()->GetName() == name) return d.get();
  return nullptr;
}
