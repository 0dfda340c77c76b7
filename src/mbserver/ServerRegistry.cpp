#include "ServerRegistry.h"

#include "Exception.h"
#include "Registry.h"

namespace kd::mb {
namespace {

constexpr const char* kClassKey = "CLSID\\{B3DE3CC2-C629-11D1-8FE9-E4CD05C10000}";

}  // namespace

void RegisterServer(const std::string& executable) {
  Registry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKey(kModbusSrvClassKey, true))
    throw RegistryError(std::string("RegisterServer: cannot create ") + kModbusSrvClassKey);
  reg.WriteString("", executable);
}

bool UnregisterServer() {
  Registry reg(HKEY_CLASSES_ROOT);
  return reg.KeyExists(kClassKey) && reg.DeleteKey(kClassKey);
}

std::string RegisteredServer() {
  Registry reg(HKEY_CLASSES_ROOT);
  if (!reg.OpenKeyReadOnly(kModbusSrvClassKey) || !reg.ValueExists("")) return {};
  return reg.ReadString("");
}

std::string ComPortPath(int n) {
  if (n < 1) return {};
  const std::string name = "COM" + std::to_string(n);
  Registry reg(HKEY_LOCAL_MACHINE);
  if (reg.OpenKeyReadOnly("HARDWARE\\DEVICEMAP\\SERIALCOMM") && reg.ValueExists(name))
    return reg.ReadString(name);
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace kd::mb
