#pragma once
// Where the client finds the server executable, and the serial port mapping,
// both in the registry layer.
#include <string>

namespace kd::mb {

// HKEY_CLASSES_ROOT key whose default value is the server's absolute path.
inline constexpr const char* kModbusSrvClassKey =
    "CLSID\\{B3DE3CC2-C629-11D1-8FE9-E4CD05C10000}\\LocalServer32";

// Writes `executable` as the registered server; raises kd::RegistryError.
void RegisterServer(const std::string& executable);
// Removes the entry; false when there was none.
bool UnregisterServer();
// The registered path, empty when there is no entry.
std::string RegisteredServer();

// Device path of COM n: HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM value
// "COMn" when present, else /dev/ttyS<n-1>; empty for n below 1.
std::string ComPortPath(int n);

}  // namespace kd::mb
