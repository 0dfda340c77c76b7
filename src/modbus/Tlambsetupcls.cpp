#include "Tlambsetupcls.h"

#include "IniFile.h"
#include "ModbusSrv.h"

void TlaMBSetup::Assign(const TlaMBSetup& source) {
  if (&source == this) return;
  Name = source.Name;
  ConnType = source.ConnType;
  Retries = source.Retries;
  RaiseError = source.RaiseError;
  BaudRate = source.BaudRate;
  PortNumber = source.PortNumber;
  ByteSize = source.ByteSize;
  FlowCtrl = source.FlowCtrl;
  Parity = source.Parity;
  SilentInt = source.SilentInt;
  StopBits = source.StopBits;
  Timeout = source.Timeout;
  TxMode = source.TxMode;
  TCPIPPort = source.TCPIPPort;
  HostName = source.HostName;
  Enabled = source.Enabled.load();
}

bool TlaMBSetup::IsValid() const {
  if (Name.empty()) return false;
  switch (ConnType) {
    case 1:
      return PortNumber >= 1 && PortNumber <= 8 && (ByteSize == 7 || ByteSize == 8) &&
             (FlowCtrl == 0 || FlowCtrl == 1 || FlowCtrl == 2 || FlowCtrl == 8) && Parity >= 0 &&
             Parity <= 4 && StopBits >= 0 && StopBits <= 2 && (TxMode == 0 || TxMode == 1);
    case 2:
      return !HostName.empty();
    default:
      return false;
  }
}

void TlaMBSetup::SendTo(TModbusSrv& server) const {
  server.Set_Retries(Retries);
  server.Set_RaiseError(RaiseError);
  server.Set_BaudRate(BaudRate);
  server.Set_ComPort(PortNumber);
  server.Set_ByteSize(ByteSize);
  server.Set_FlowControl(FlowCtrl);
  server.Set_Parity(Parity);
  server.Set_SilentInterval(SilentInt);
  server.Set_StopBits(StopBits);
  server.Set_TimeOut(Timeout);
  server.Set_TransmissionMode(TxMode);
  server.Set_TcpPort(TCPIPPort);
  server.Set_Host(HostName);
}

bool TlaMBSetup::ReadFromIniFile(const std::string& fileName) {
  if (fileName.empty() || Name.empty()) return false;
  try {
    const kd::IniFile ini(fileName);
    if (!ini.ReadStatus().Ok()) return false;
    const std::string& s = Name;
    ConnType = ini.ReadInteger(s, "ConnType", 1);
    Retries = ini.ReadInteger(s, "Retries", 2);
    RaiseError = ini.ReadBool(s, "RaiseError", false);
    BaudRate = ini.ReadInteger(s, "BaudRate", 19200);
    PortNumber = ini.ReadInteger(s, "PortNumber", 0);
    ByteSize = ini.ReadInteger(s, "ByteSize", 8);
    FlowCtrl = ini.ReadInteger(s, "FlowCtrl", 0);
    Parity = ini.ReadInteger(s, "Parity", 0);
    StopBits = ini.ReadInteger(s, "StopBits", 0);
    SilentInt = ini.ReadInteger(s, "SilentInt", 4);
    Timeout = ini.ReadInteger(s, "Timeout", 1000);
    TxMode = ini.ReadInteger(s, "TxMode", 0);
    TCPIPPort = ini.ReadInteger(s, "TCPIPPort", 502);
    HostName = ini.ReadString(s, "HostName", "");
    Enabled = ini.ReadBool(s, "Enabled", false);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TlaMBSetup::ReadFromRegistry(kd::RootKey root, const std::string& path) {
  if (path.empty() || Name.empty()) return false;
  kd::Registry reg(root);
  if (!reg.OpenKeyReadOnly(path + "\\" + Name)) return false;
  ConnType = reg.ReadInteger("ConnType");
  Retries = reg.ReadInteger("Retries");
  RaiseError = reg.ReadBool("RaiseError");
  BaudRate = reg.ReadInteger("BaudRate");
  PortNumber = reg.ReadInteger("PortNumber");
  ByteSize = reg.ReadInteger("ByteSize");
  FlowCtrl = reg.ReadInteger("FlowCtrl");
  Parity = reg.ReadInteger("Parity");
  StopBits = reg.ReadInteger("StopBits");
  SilentInt = reg.ReadInteger("SilentInt");
  Timeout = reg.ReadInteger("Timeout");
  TxMode = reg.ReadInteger("TxMode");
  TCPIPPort = reg.ReadInteger("TCPIPPort");
  HostName = reg.ReadString("HostName");
  Enabled = reg.ReadBool("Enabled");
  reg.CloseKey();
  return true;
}
