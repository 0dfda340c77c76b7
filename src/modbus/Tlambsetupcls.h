#pragma once
// TlaMBSetup: the settings of one Modbus connection, filled in code or read
// from an INI section or a registry key named after the connection. The
// INI and registry value names are the field names.
#include <atomic>
#include <cstdint>
#include <string>

#include "Registry.h"

class TModbusSrv;

class TlaMBSetup {
 public:
  TlaMBSetup() = default;
  TlaMBSetup(const TlaMBSetup&) = delete;
  TlaMBSetup& operator=(const TlaMBSetup&) = delete;

  std::string Name;                // INI section, registry subkey
  std::int32_t ConnType = 1;       // 1 serial RTU, 2 Modbus TCP
  std::int32_t Retries = 2;        // repeats after a failed exchange
  bool RaiseError = false;
  std::int32_t BaudRate = 19200;
  std::int32_t PortNumber = 0;     // 1 = COM1
  std::int32_t ByteSize = 8;
  std::int32_t FlowCtrl = 0;
  std::int32_t Parity = 0;
  std::int32_t SilentInt = 20;     // handed to Set_SilentInterval
  std::int32_t StopBits = 0;       // code 0..2, handed to Set_StopBits
  std::int32_t Timeout = 500;
  std::int32_t TxMode = 0;
  std::int32_t TCPIPPort = 502;
  std::string HostName = "127.0.0.1";
  // The worker holds the connection open while true. The worker reads it
  // (and clears it after a failed open); the other fields are filled before
  // it is set and read by the worker only after it saw it set.
  std::atomic<bool> Enabled{false};

  // Copies every field, Name included; Enabled last.
  void Assign(const TlaMBSetup& source);
  // Name set and: ConnType 1 with PortNumber 1..8, ByteSize 7 or 8, FlowCtrl
  // 0, 1, 2 or 8, Parity 0..4, StopBits 0..2, TxMode 0 or 1; or ConnType 2
  // with a HostName.
  bool IsValid() const;
  // The thirteen settings, in the order the server takes them (Retries to HostName).
  void SendTo(TModbusSrv& server) const;

  // Section Name of the file; false (nothing changed) for an empty file name
  // or Name, or a file that cannot be read (missing, no regular file, too
  // large); false when reading raises. Missing keys take
  // the defaults of the file (Timeout 1000, HostName empty, SilentInt 4,
  // StopBits 0, the rest as the constructor's).
  bool ReadFromIniFile(const std::string& fileName);
  // Key path + "\" + Name under root, opened read-only; false for an empty
  // path or Name, or a key that does not open. Every value must be there
  // with its type: a missing one raises kd::RegistryError (the values read
  // before it are kept).
  bool ReadFromRegistry(kd::RootKey root, const std::string& path);
};
