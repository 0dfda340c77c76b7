#include "Tladevicesetupcls.h"

#include "IniFile.h"

TlaMBDeviceSetup::TlaMBDeviceSetup() { items_.SampleTime = 50; }

str_SetupItems TlaMBDeviceSetup::Items() const {
  std::lock_guard lock(mutex_);
  return items_;
}

std::string TlaMBDeviceSetup::GetName() const {
  std::lock_guard lock(mutex_);
  return items_.Name;
}

std::string TlaMBDeviceSetup::GetConnectionName() const {
  std::lock_guard lock(mutex_);
  return items_.ConnectionName;
}

std::uint8_t TlaMBDeviceSetup::GetModBusAddress() const {
  std::lock_guard lock(mutex_);
  return items_.ModBusAddress;
}

std::int32_t TlaMBDeviceSetup::GetSampleTime() const {
  std::lock_guard lock(mutex_);
  return items_.SampleTime;
}

bool TlaMBDeviceSetup::GetEnable() const {
  std::lock_guard lock(mutex_);
  return items_.Enable;
}

bool TlaMBDeviceSetup::GetIsValid() const {
  std::lock_guard lock(mutex_);
  return !items_.Name.empty() && !items_.ConnectionName.empty() && items_.ModBusAddress != 0 &&
         items_.SampleTime >= 10;
}

template <class Differs, class Apply>
void TlaMBDeviceSetup::Commit(Differs&& differs, Apply&& apply) {
  str_SetupItems proposed;
  {
    std::lock_guard lock(mutex_);
    if (!differs(items_)) return;
    proposed = items_;
  }
  apply(proposed);
  if (OnChanging) OnChanging(this, proposed);
  {
    std::lock_guard lock(mutex_);
    items_ = proposed;
  }
  RaiseChange();
}

void TlaMBDeviceSetup::RaiseChange() {
  if (!OnChange) return;
  str_SetupItems current = Items();
  OnChange(this, current);
}

void TlaMBDeviceSetup::SetName(const std::string& value) {
  Commit([&](const str_SetupItems& i) { return i.Name != value; }, [&](str_SetupItems& i) { i.Name = value; });
}

void TlaMBDeviceSetup::SetConnectionName(const std::string& value) {
  Commit([&](const str_SetupItems& i) { return i.ConnectionName != value; },
         [&](str_SetupItems& i) { i.ConnectionName = value; });
}

void TlaMBDeviceSetup::SetModBusAddress(std::uint8_t value) {
  Commit([&](const str_SetupItems& i) { return i.ModBusAddress != value; },
         [&](str_SetupItems& i) { i.ModBusAddress = value; });
}

void TlaMBDeviceSetup::SetEnable(bool value) {
  Commit([&](const str_SetupItems& i) { return i.Enable != value; }, [&](str_SetupItems& i) { i.Enable = value; });
}

template <class Set>
void TlaMBDeviceSetup::Store(Set&& set) {
  std::lock_guard lock(mutex_);
  set(items_);
}

bool TlaMBDeviceSetup::LoadFromIniFile(const std::string& fileName, const std::string& deviceName) {
  if (!deviceName.empty()) Store([&](str_SetupItems& i) { i.Name = deviceName; });
  const std::string name = GetName();
  if (fileName.empty() || name.empty()) return false;
  try {
    const kd::IniFile ini(fileName);
    if (!ini.ReadStatus().Ok()) return false;
    const std::string connection = ini.ReadString(name, "ConnectionName", "");
    Store([&](str_SetupItems& i) { i.ConnectionName = connection; });
    const int address = ini.ReadInteger(name, "ModBusAddress", 0);
    Store([&](str_SetupItems& i) { i.ModBusAddress = static_cast<std::uint8_t>(address & 0xFF); });
    const int sample = ini.ReadInteger(name, "SampleTime", 50);
    Store([&](str_SetupItems& i) { i.SampleTime = sample; });
    const bool enable = ini.ReadBool(name, "Enable", true);
    Store([&](str_SetupItems& i) { i.Enable = enable; });
  } catch (const std::exception&) {
    return false;
  }
  RaiseChange();
  return true;
}

bool TlaMBDeviceSetup::LoadFromRegistry(kd::RootKey root, const std::string& keyPath, const std::string& deviceName) {
  if (!deviceName.empty()) Store([&](str_SetupItems& i) { i.Name = deviceName; });
  const std::string name = GetName();
  if (keyPath.empty() || name.empty()) return false;
  kd::Registry reg(root);
  if (!reg.OpenKeyReadOnly(keyPath + "\\" + name)) return false;
  // No defaults: a missing value raises, and what was read before it stays.
  const std::string connection = reg.ReadString("ConnectionName");
  Store([&](str_SetupItems& i) { i.ConnectionName = connection; });
  const std::int32_t address = reg.ReadInteger("ModBusAddress");
  Store([&](str_SetupItems& i) { i.ModBusAddress = static_cast<std::uint8_t>(address & 0xFF); });
  const std::int32_t sample = reg.ReadInteger("SampleTime");
  Store([&](str_SetupItems& i) { i.SampleTime = sample; });
  const bool enable = reg.ReadBool("Enable");
  Store([&](str_SetupItems& i) { i.Enable = enable; });
  reg.CloseKey();
  RaiseChange();
  return true;
}
