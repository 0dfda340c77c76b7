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
  if (!AddDevice(device.get())) return nullptr;  // refused: deleted here
  return device.release();                       // owned by the set now
}

bool TlaDeviceCollection::AddDevice(TlaDeviceSlave* device) {
  if (!device) return false;
  auto same = [device](const std::unique_ptr<TlaDeviceSlave>& d) { return d.get() == device; };
  if (std::any_of(devices_.begin(), devices_.end(), same)) return true;
  if (maxDeviceCount_ != 0 && GetCountDevice() >= maxDeviceCount_) {
    if (OnMaxDeviceCount) OnMaxDeviceCount(this, device);
    return false;
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
