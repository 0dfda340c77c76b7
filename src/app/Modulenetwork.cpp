#include "Modulenetwork.h"

#include "Apptext.h"
#include "Dlgtcp.h"
#include "Formats.h"
#include "Startup.h"
#include "Strings.h"
#include "Tladevicekd730cmp.h"
#include "Tladmcollectioncmp.h"
#include "Tlambsimpletransacls.h"
#include "Tlambthreadthr.h"
#include "Winmain.h"
#include "Winscope.h"
#include "Winsetup.h"

TNetwork* Network = nullptr;

namespace {

void LogLine(const std::string& line) {
  if (MainForm) MainForm->Log(line);
}

// The fault words of one list, one line per set bit, or "- NO ERROR -".
QString FaultLines(TlaDeviceKD730& device, TlaRegister* first, TlaRegister* second) {
  kd::StringList lines;
  for (TlaRegister* reg : {first, second})
    if (reg) device.StandardFaultScan(reg, &lines);
  if (lines.Empty()) lines.Add("- NO ERROR -");
  return LinesText(lines);
}

}  // namespace

TNetwork::TNetwork(kd::Component* owner) : kd::Component(owner) {
  Network = this;
  SetName("Network");
  // The stored layout.
  laDMColl = new TlaDMCollection(this);
  laDMColl->SetName("laDMColl");
  laDMColl->FileExt = "par";
  laDMColl->DfltFile = "KD730_Parameters.par";
  laDevice = new TlaDeviceKD730(this);
  laDevice->SetName("laDevice");
  laDevice->SetMaxFaultCount(10);

  FConnection.reset();
  laDMColl->SetFilePath(WorkingDirectory());
  laDMColl->OnNoFile = [this](TlaDMCollection* s, const std::string& f) { laDMCollNoFile(s, f); };
  laDevice->DMColl = laDMColl;
  laDevice->DeviceSetup()->SetName("KD730_Drive");
  laDevice->OnVersionFound = [this](TlaDeviceSlave* s) { laDeviceVersionFound(s); };
  laDevice->OnVersionUnknown = [this](TlaDeviceSlave* s) { laDeviceVersionUnknown(s); };
  laDevice->OnVersionError = [this](TlaDeviceSlave* s) { laDeviceVersionError(s); };
  laDevice->OnFaultUpdate = [this](TlaMBTransaction* t, std::int32_t r) { laDeviceFaultUpdate(t, r); };
  laDevice->OnSetupUpdate = [this](TlaMBTransaction* t, std::int32_t r) { laDeviceSetupUpdate(t, r); };
  laDevice->OnSetupSent = [this](TlaMBTransaction* t, std::int32_t r) { laDeviceSetupSent(t, r); };
  laDevice->OnSetupSave = [this](TlaMBTransaction* t, std::int32_t r) { laDeviceSetupSave(t, r); };
  laDevice->OnStateUpdate = [this](TlaMBTransaction* t, std::int32_t r) { laDeviceStateUpdate(t, r); };
  laDevice->OnTransaError = [this](TlaMBTransaction* t, std::int32_t r) { laDeviceTransaError(t, r); };
}

TNetwork::~TNetwork() {
  DataModuleDestroy();
  // The drive goes before the data models that its image refers to.
  delete laDevice;
  laDevice = nullptr;
  if (Network == this) Network = nullptr;
}

void TNetwork::DataModuleDestroy() { CloseConnection(); }

void TNetwork::CloseConnection() {
  // The worker ends, closes the line and reports ConnClosed on its way out.
  FConnection.reset();
}

void TNetwork::OpenConnection(int port) {
  if (FConnection) CloseConnection();
  FConnection = std::make_unique<TlaMBThread>(this);
  TlaMBSetup& setup = FConnection->Setup();
  setup.Name = kd::Sprintf("COM%d", port);
  setup.BaudRate = 19200;
  setup.Parity = 2;
  setup.FlowCtrl = 0;
  setup.PortNumber = port;
  if (MainForm->mnTCPIP->isChecked()) {
    setup.HostName = FromQString(TCPForm->eAddress->text());
    setup.TCPIPPort = kd::StrToInt(FromQString(TCPForm->ePort->text()));
    setup.ConnType = 2;
  }
  FConnection->OnConnect = [this](TlaMBThread* s) { ConnOpened(s); };
  FConnection->OnDisconnect = [this](TlaMBThread* s) { ConnClosed(s); };
  FConnection->OnConnectError = [this](TlaMBThread* s) { ConnError(s); };
  laDevice->ChangeSlaveAddress(static_cast<std::uint8_t>(MainForm->FSlaveAddr));
  laDevice->DeviceSetup()->SetConnectionName(setup.Name);
  laDevice->DeviceSetup()->SetEnable(true);
  FConnection->Add(laDevice);
  // Last: the worker reads the settings without a lock from now on.
  setup.Enabled = true;
}

std::string TNetwork::ErrorMessage(std::int32_t code) {
  switch (static_cast<std::uint32_t>(code)) {
    case 0: return "no error";
    case static_cast<std::uint32_t>(-1): return "error in ModBus connection or Port already busy!";
    case static_cast<std::uint32_t>(-2): return "le dimensioni del pacchetto sono diverse dalle attese";
    case static_cast<std::uint32_t>(-3): return "locazione di destinazione/origine dati non definita";
    case static_cast<std::uint32_t>(-4):
      if (MainForm) MainForm->acMBServer->setVisible(true);
      return "MBServer ActiveX not registered!";
    case static_cast<std::uint32_t>(-5): return "tentativo di attivare TCP/IP server con connessione assente";
    case static_cast<std::uint32_t>(-6): return "impossibile attivare il server TCP/IP";
    case static_cast<std::uint32_t>(-7): return "errore alla chiusura del server";
    case static_cast<std::uint32_t>(-8): return "errore durante l'esecuzione di una funzione speciale";
    case static_cast<std::uint32_t>(-9): return "errore di accesso a file";
    case 0x80040201u: return "timeout, no response!";
    case 0x80040202u: return "invalid response!";
    case 0x80040203u: return "invalid CRC!";
    case 0x80040208u: return "COM port write error!";
    case 0x80040209u: return "COM port read error!";
    case 0x8004020Au: return "COM port not initialized!";
    case 0x80048201u: return "codice funzione non riconosciuto";
    case 0x80048202u: return "indirizzo di registro non ammissibile";
    case 0x80048203u: return "dato non ammissibile";
    case 0x80048204u: return "guasto nel dispositivo slave";
    case 0x80048205u: return "conferma di comando in esecuzione";
    case 0x80048206u: return "dispositivo slave occupato";
    case 0x80048208u: return "controllo di memoria fallito";
    case 0x8004820Au: return "il gateway non trova il percorso di conne";
    case 0x8004820Bu: return "il gateway non trova";
    default: return kd::Sprintf("%Xh", static_cast<unsigned>(code));
  }
}

void TNetwork::laDMCollNoFile(TlaDMCollection*, const std::string& fileName) {
  LogLine(kd::Sprintf("DataModel description file not found '%s'", fileName.c_str()));
}

void TNetwork::laDeviceVersionFound(TlaDeviceSlave*) {
  const TlaMBDeviceVersion* version = laDevice->VersionTransa();
  LogLine(kd::Sprintf("Device version found: %s", version ? version->GetFullString().c_str() : ""));
  const TlaRegDefsList* model = laDevice->RegDefs();
  LogLine(kd::Sprintf("Device description: %s", model ? model->VerDescr.c_str() : ""));
  if (KD730Setup) KD730Setup->BuildSetupLists();
  // Found again on a new connection: an edited or sent setup is not read over.
  if (!laDevice->SetupKept()) return;
  LogLine(laDevice->SetupState == setupEdited
              ? "Drive setup kept, not read again: modified but not sent nor saved to drive."
              : "Drive setup kept, not read again: sent to drive but not saved permanently.");
  if (KD730Setup) KD730Setup->RefreshSetup();
}

void TNetwork::laDeviceVersionUnknown(TlaDeviceSlave*) {
  const TlaMBDeviceVersion* version = laDevice->VersionTransa();
  const std::string text = version ? version->GetFullString() : "";
  // The image of the first identification stays: another model needs a new start.
  if (laDevice->RegDefs())
    LogLine(kd::Sprintf(
        "Device version %s needs another data model: restart the program to work with it.",
        text.c_str()));
  else
    LogLine(kd::Sprintf("Version unknown: %s", text.c_str()));
}

void TNetwork::laDeviceVersionError(TlaDeviceSlave*) {
  const TlaMBDeviceVersion* version = laDevice->VersionTransa();
  LogLine("Version request with error response: " + ErrorMessage(version ? version->GetLastResult() : 0));
}

void TNetwork::ConnOpened(TlaMBThread* sender) {
  MainForm->acCloseConnection->setVisible(true);
  MainForm->SetModBusAction(MainForm->acCloseConnection);
  MainForm->acOpenConnection->setVisible(false);
  MainForm->tbSelectPort->setEnabled(false);
  const TlaMBSetup& setup = sender->Setup();
  if (setup.ConnType == 1)
    LogLine(kd::Sprintf("ModBus open on COM%d.", setup.PortNumber));
  else
    LogLine(kd::Sprintf("ModBus connection to: %s:%d", setup.HostName.c_str(), setup.TCPIPPort));
}

void TNetwork::ConnClosed(TlaMBThread*) {
  if (!MainForm) return;
  MainForm->acOpenConnection->setVisible(true);
  MainForm->SetModBusAction(MainForm->acOpenConnection);
  MainForm->acCloseConnection->setVisible(false);
  MainForm->tbSelectPort->setEnabled(true);
  LogLine("ModBus closed.");
}

void TNetwork::ConnError(TlaMBThread* sender) {
  LogLine("Connection Error: " + ErrorMessage(sender->GetLastError()));
}

void TNetwork::laDeviceStateUpdate(TlaMBTransaction* sender, std::int32_t) {
  TlaDeviceKD730& d = *laDevice;
  if (!d.CfgFlags) return;
  const bool currentMode = d.CfgFlags->GetValueBit(0, 9);
  const double reference = currentMode ? d.GetCurrentRefValue() : d.GetSpeedRefValue();
  if (TScopeForm* scope = ScopeForm) {
    // The oscilloscope's samples, at the time of the state read.
    const double x = sender->GetLastSuccess();
    auto value = [](TlaRegister* reg) { return reg ? reg->GetValueDouble(0) : 0.0; };
    scope->AddDcBus({x, d.GetDcBusvalue()});
    scope->AddArmatureVolt({x, value(d.a_motorV)});
    scope->AddCurrent({x, value(d.i_motorA)});
    scope->AddCurrentLimit({x, d.GetCurrentLimitValue()});
    scope->AddArmatureSpeed({x, d.GetArmatureValue()});
    scope->AddFeedback({x, d.GetTachoValue()});
    if (currentMode)
      scope->AddCurrentRef({x, reference});
    else
      scope->AddSpeedRef({x, reference});
    if (scope->isVisible()) scope->laGraph.Repaint();
  }
  MainForm->stRefDig->setText(ToQString(currentMode ? kd::Sprintf("Current Ref: %3.1lfA", reference)
                                                    : kd::Sprintf("Speed Ref: %3.1lf%%", reference)));

  TlaRegister* source = d.CfgFlags->GetValueBit(0, 1) ? d.VirtualInput : d.Input;
  const bool inverted = d.CfgFlags->GetValueBit(0, 2);
  if (source) {
    MainForm->acDisableCCW->setChecked(source->GetValueBit(0, 0) != inverted);
    MainForm->acDisableCW->setChecked(source->GetValueBit(0, 1) != inverted);
    MainForm->acInhibit->setChecked(source->GetValueBit(0, 2) != inverted);
  }
  if (d.u_dc_busV) MainForm->stDcBus->setText(ToQString(d.u_dc_busV->GetValueText(0)));
  if (d.i_motorA) MainForm->stCurrent->setText(ToQString(d.i_motorA->GetValueText(0)));
  if (d.a_motorV) MainForm->stArmature->setText(ToQString(d.a_motorV->GetValueText(0)));
}

void TNetwork::laDeviceFaultUpdate(TlaMBTransaction*, std::int32_t) {
  MainForm->ActFaultMemo->setPlainText(FaultLines(*laDevice, laDevice->GetActFault(0), laDevice->GetActFault(1)));
  MainForm->PrevFaultMemo->setPlainText(FaultLines(*laDevice, laDevice->GetPreFault(0), laDevice->GetPreFault(1)));
}

void TNetwork::laDeviceSetupUpdate(TlaMBTransaction*, std::int32_t) {
  if (ScopeForm && laDevice->IpA) ScopeForm->SetPeakCurrent({0, laDevice->IpA->GetValueDouble(0)});
  if (KD730Setup) {
    KD730Setup->show();
    KD730Setup->RefreshSetup();
  }
  LogLine("Data refreshed from drive.");
}

void TNetwork::laDeviceSetupSent(TlaMBTransaction*, std::int32_t) {
  LogLine("Drive setup sent.");
  laDevice->ReadSetup();
}

void TNetwork::laDeviceSetupSave(TlaMBTransaction*, std::int32_t) { LogLine("Drive setup saved."); }

void TNetwork::laDeviceTransaError(TlaMBTransaction* sender, std::int32_t) {
  if (sender->GetResultChanged())
    LogLine("Transaction Error: " + ErrorMessage(sender->GetLastResult()));
  else if (MainForm)
    MainForm->LogAppendDot();
}
