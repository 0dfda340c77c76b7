#include "Winmain.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <exception>

#include "Appdialogs.h"
#include "Appforms.h"
#include "Appimages.h"
#include "Apptext.h"
#include "Dlgtcp.h"
#include "Formats.h"
#include "IniFile.h"
#include "Modulenetwork.h"
#include "RegisterModbusServer.h"
#include "Startup.h"
#include "Strings.h"
#include "Tladevicekd730cmp.h"
#include "Tlambthreadthr.h"
#include "Winabout.h"
#include "Winscope.h"
#include "Winsetup.h"

TMainForm* MainForm = nullptr;

namespace {

constexpr const char* kIniName = "KD730_TuneDesk.ini";

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
  MainForm = this;
  setObjectName("MainForm");
  setupUi(this);

  // The stored layout's colours, fonts and images.
  QPalette memo = Memo->palette();
  memo.setColor(QPalette::Base, QColor(160, 201, 255));
  Memo->setPalette(memo);
  QFont courier("Courier");
  courier.setStyleHint(QFont::TypeWriter);
  courier.setPixelSize(8);
  Memo->setFont(courier);
  QPalette tip = PrevFaultMemo->palette();
  tip.setColor(QPalette::Base, tip.color(QPalette::ToolTipBase));
  tip.setColor(QPalette::Text, tip.color(QPalette::ToolTipText));
  PrevFaultMemo->setPalette(tip);

  acClose->setIcon(AppIcon(TAppImage::Exit));
  acOpenConnection->setIcon(AppIcon(TAppImage::Connect));
  acCloseConnection->setIcon(AppIcon(TAppImage::Disconnect));
  acSlaveAddr->setIcon(AppIcon(TAppImage::SlaveAddr));
  acDriveSetup->setIcon(AppIcon(TAppImage::DriveSetup));
  acViewScope->setIcon(AppIcon(TAppImage::Scope));
  acAbout->setIcon(AppIcon(TAppImage::About));
  acMBServer->setIcon(AppIcon(TAppImage::Register));
  acInhibit->setIcon(AppIcon(TAppImage::Inhibit));
  acDisableCW->setIcon(AppIcon(TAppImage::DisableCW));
  acDisableCCW->setIcon(AppIcon(TAppImage::DisableCCW));
  tbSelectPort->setIcon(AppIcon(TAppImage::Port));
  for (QAction* item : grpComPorts->actions()) item->setIcon(AppIcon(TAppImage::Port));

  BindButton(tbExit, acClose);
  BindButton(tbSlaveAddr, acSlaveAddr);
  BindButton(tbDriveSetup, acDriveSetup);
  BindButton(tbViewScope, acViewScope);
  BindButton(tbAbout, acAbout);
  BindButton(tbMBServer, acMBServer);
  // The registration button is as wide as its caption, and its room is kept
  // while it is hidden: showing it neither cuts the caption nor widens the window.
  tbMBServer->setMinimumWidth(std::max(tbMBServer->minimumWidth(), tbMBServer->sizeHint().width()));
  QSizePolicy registration = tbMBServer->sizePolicy();
  registration.setRetainSizeWhenHidden(true);
  tbMBServer->setSizePolicy(registration);
  BindButton(tbInhibit, acInhibit);
  BindButton(tbDisableCW, acDisableCW);
  BindButton(tbDisableCCW, acDisableCCW);
  BindButton(sbRefUp100, acRefUp100);
  BindButton(sbRefUp10, acRefUp10);
  BindButton(sbRefUp1, acRefUp1);
  BindButton(sbRefDwn100, acRefDwn100);
  BindButton(sbRefDwn10, acRefDwn10);
  BindButton(sbRefDwn1, acRefDwn1);
  BindButton(sbRefZero, acRefZero);
  tbSelectPort->setMenu(ppmModBusSetup);
  connect(tbSelectPort, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ppmModBusSetup->popup(tbSelectPort->mapToGlobal(at)); });

  // Execute handlers.
  connect(acOpenConnection, &QAction::triggered, this,
          [this] { Guarded([this] { Network->OpenConnection(FComPort); }); });
  connect(acCloseConnection, &QAction::triggered, this,
          [] { Guarded([] { Network->CloseConnection(); }); });
  connect(acClose, &QAction::triggered, this, &QWidget::close);
  connect(acAbout, &QAction::triggered, this, [] { Guarded([] { AboutForm->exec(); }); });
  connect(acMBServer, &QAction::triggered, this, [this] { Guarded([this] { acMBServerExecute(); }); });
  connect(acSlaveAddr, &QAction::triggered, this, [this] { acSlaveAddrExecute(); });
  // Check marks of these actions come from the update handlers and the
  // state updates, never from a click.
  for (QAction* a : {acDriveSetup, acViewScope, acInhibit, acDisableCW, acDisableCCW})
    connect(a, &QAction::triggered, this, [a](bool checked) { a->setChecked(!checked); });
  connect(acDriveSetup, &QAction::triggered, this, [] {
    Guarded([] {
      if (KD730Setup->isVisible())
        KD730Setup->close();
      else
        KD730Setup->show();
    });
  });
  connect(acViewScope, &QAction::triggered, this,
          [] { ScopeForm->setVisible(!ScopeForm->isVisible()); });
  const std::pair<QAction*, int> inputs[] = {{acDisableCCW, 0}, {acDisableCW, 1}, {acInhibit, 2}};
  for (const auto& [action, bit] : inputs)
    connect(action, &QAction::triggered, this, [this, b = bit] { Guarded([&] { ToggleVirtualInput(b); }); });
  const std::pair<QAction*, double> steps[] = {{acRefUp1, 0.1},    {acRefUp10, 1.0},
                                               {acRefUp100, 10.0}, {acRefDwn1, -0.1},
                                               {acRefDwn10, -1.0}, {acRefDwn100, -10.0}};
  for (const auto& [action, step] : steps)
    connect(action, &QAction::triggered, this,
            [this, s = step] { Guarded([&] { StepReference(s); }); });
  connect(acRefZero, &QAction::triggered, this, [this] { Guarded([this] { ZeroReference(); }); });
  connect(grpComPorts, &QActionGroup::triggered, this, [this](QAction* item) { SelPortClick(item); });
  connect(mnTCPIP, &QAction::triggered, this, [this] { Guarded([this] { mnTCPIPClick(); }); });
  stRefDig->installEventFilter(this);
  // The main window's keys work from every window of the program (the setup
  // and scope windows have keys of their own, none of these); a modal dialog
  // blocks them as it blocks the main window.
  for (QAction* a : actions())
    if (!a->shortcut().isEmpty()) a->setShortcutContext(Qt::ApplicationShortcut);

  // The update handlers run when the application goes idle.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          &TMainForm::UpdateActions);

  FAppPath = WorkingDirectory();
  {
    const kd::IniFile ini(IniFileName());
    adjustSize();  // the size the place on a screen is found for
    ReadFormPosition(this, ini, "MainForm");
    SetComPort(ini.ReadInteger("Setup", "LastPort", 1));
    SetSlaveAddr(ini.ReadInteger("Setup", "LastSlave", 1));
  }
  FormCreate();
}

TMainForm::~TMainForm() {
  if (MainForm == this) MainForm = nullptr;
}

std::string TMainForm::IniFileName() const { return FAppPath + kIniName; }

void TMainForm::FormCreate() {
  setWindowTitle("KD730 - Tuning Desk 1.02");
  Memo->clear();
  SetModBusAction(acOpenConnection);
  adjustSize();
}

void TMainForm::BindButton(QToolButton* button, QAction* action) {
  button->setDefaultAction(action);
  button->setVisible(action->isVisible());
  connect(action, &QAction::visibleChanged, button, [button, action] {
    if (button->defaultAction() == action) button->setVisible(action->isVisible());
  });
}

void TMainForm::SetModBusAction(QAction* action) {
  QAction* old = tbModBus->defaultAction();
  if (old == action) return;
  if (old) {
    tbModBus->removeAction(old);
    disconnect(old, &QAction::visibleChanged, tbModBus, nullptr);
  }
  BindButton(tbModBus, action);
}

void TMainForm::SetComPort(int port) {
  FComPort = port;
  tbSelectPort->setText(mnTCPIP->isChecked() ? QString("TCP/IP")
                                             : ToQString(kd::Sprintf("COM%d", FComPort)));
}

void TMainForm::SetSlaveAddr(int n) {
  if (n < 1 || n > 32 || n == FSlaveAddr) {
    ShowMessage("Invalid Address value.");
    return;
  }
  FSlaveAddr = n;
  if (Network) Network->laDevice->ChangeSlaveAddress(static_cast<std::uint8_t>(n));
  tbSlaveAddr->setText(ToQString(kd::Sprintf("Slave #%d", n)));
}

void TMainForm::SelPortClick(QAction* item) {
  item->setChecked(true);
  SetComPort(item->property("Tag").toInt());
}

void TMainForm::mnTCPIPClick() {
  // The click has inverted the check mark already; a dialog that is not
  // closed with OK undoes it.
  if (mnTCPIP->isChecked() && TCPForm->exec() != QDialog::Accepted) mnTCPIP->setChecked(false);
  SetComPort(FComPort);  // the caption follows the check mark
}

void TMainForm::acSlaveAddrExecute() {
  std::string text = std::to_string(FSlaveAddr);
  if (!InputQuery("Modify SlaveAddress", "Insert a value from 1 to 32:", text)) return;
  try {
    SetSlaveAddr(kd::StrToInt(text));
  } catch (const std::exception&) {
    ShowMessage("Not a valid ModBus slave address!");
  }
}

void TMainForm::acMBServerExecute() {
  TAppRegistrationDialogs dialogs;
  if (RegisterModbusServer("", dialogs)) {
    Log("MBServer registered!");
    acMBServer->setVisible(false);
  } else {
    Log("MBServer registration unsuccessful!");
  }
}

TlaDeviceKD730* TMainForm::Device() const { return Network ? Network->laDevice : nullptr; }

bool TMainForm::Online() const {
  TlaDeviceKD730* device = Device();
  return device && device->UpdateSlaveState() == slaveOnline;
}

TlaDeviceKD730* TMainForm::CommandDevice() const {
  TlaDeviceKD730* device = Device();
  return Online() && device->GetCommandsRead() ? device : nullptr;
}

bool TMainForm::CfgFlag(int bit) const {
  TlaDeviceKD730* device = Device();
  return device && device->CfgFlags && device->CfgFlags->GetValueBit(0, static_cast<std::uint8_t>(bit));
}

void TMainForm::ToggleVirtualInput(int bit) {
  TlaDeviceKD730* device = CommandDevice();
  if (!device || !CfgFlag(1) || !device->VirtualInput) return;
  TlaRegister* reg = device->VirtualInput;
  const auto b = static_cast<std::uint8_t>(bit);
  reg->SetValueBit(0, b, !reg->GetValueBit(0, b));
  if (device->WriteReg(reg, true))
    Log("Virtual Input Write: " + reg->GetValueText(0));
  else
    Log("Error: Virtual Input NOT written!");
}

void TMainForm::WriteReference(double value) {
  TlaDeviceKD730* device = CommandDevice();
  if (!device || !device->RefDig) return;
  if (CfgFlag(9))
    device->SetCurrentRefValue(value);
  else
    device->SetSpeedRefValue(value);
  if (device->WriteReg(device->RefDig, true))
    Log(kd::Sprintf("Digital reference write: %.1lf", device->GetRefDigValue()));
  else
    Log("Error: Digital reference NOT written!");
}

void TMainForm::StepReference(double step) {
  TlaDeviceKD730* device = CommandDevice();
  if (!device || !device->CfgFlags) return;
  const double present = CfgFlag(9) ? device->GetCurrentRefValue() : device->GetSpeedRefValue();
  WriteReference(present + step);
}

void TMainForm::ZeroReference() { WriteReference(0.0); }

void TMainForm::stRefDigDblClick() {
  TlaDeviceKD730* device = CommandDevice();
  if (!device || !device->CfgFlags || !stRefDig->isEnabled()) return;
  const bool current = CfgFlag(9);
  std::string text =
      kd::FloatToStr(current ? device->GetCurrentRefValue() : device->GetSpeedRefValue());
  if (!InputQuery("Edit setpoint", current ? "Current reference" : "Speed reference", text)) return;
  double value = 0;
  if (!kd::TryStrToFloat(text, value)) {
    ShowMessage("Only numeric values allowed.");
    return;
  }
  WriteReference(value);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == stRefDig && event->type() == QEvent::MouseButtonDblClick) {
    Guarded([this] { stRefDigDblClick(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TMainForm::Log(const std::string& line) {
  Memo->appendPlainText(ToQString(line));
  Memo->verticalScrollBar()->setValue(Memo->verticalScrollBar()->maximum());
}

void TMainForm::LogAppendDot() {
  QTextCursor cursor(Memo->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(".");
}

void TMainForm::UpdateActions() {
  TlaMBThread* connection = Network ? Network->Connection() : nullptr;
  const bool connected = connection && connection->IsConnected();
  acOpenConnection->setEnabled(!connected);
  acCloseConnection->setEnabled(connected);

  const bool online = Online();
  acDriveSetup->setEnabled(online);
  acDriveSetup->setChecked(KD730Setup && KD730Setup->isVisible());
  acViewScope->setEnabled(true);
  acViewScope->setChecked(ScopeForm && ScopeForm->isVisible());

  const bool commands = online && Device()->GetCommandsRead();
  for (QAction* input : {acInhibit, acDisableCW, acDisableCCW}) {
    input->setEnabled(commands);
    if (!online) input->setChecked(false);
  }
  const bool reference = commands && CfgFlag(0);
  for (QAction* step : {acRefUp1, acRefUp10, acRefUp100, acRefDwn1, acRefDwn10, acRefDwn100, acRefZero})
    step->setEnabled(reference);
  stRefDig->setEnabled(reference);
}

bool TMainForm::FormCloseQuery() {
  // The drive-setup window first; its own close query may refuse.
  if (!KD730Setup || !KD730Setup->isVisible()) return true;
  KD730Setup->close();
  return !KD730Setup->isVisible();
}

void TMainForm::FormClose() {
  kd::IniFile ini(IniFileName());
  ini.BeginUpdate();
  WriteFormPosition(this, ini, "MainForm");
  ini.WriteInteger("Setup", "LastPort", FComPort);
  ini.WriteInteger("Setup", "LastSlave", FSlaveAddr);
  ini.EndUpdate();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  // A file that cannot be written is reported; the window closes all the same.
  Guarded([this] { FormClose(); });
  event->accept();
  emit Closed();
}
