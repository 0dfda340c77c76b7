#include "Winabout.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>

#include "Apptext.h"
#include "Formats.h"
#include "IniFile.h"
#include "Modulenetwork.h"
#include "Tladevicekd730cmp.h"
#include "Tlambsimpletransacls.h"
#include "Tlambthreadthr.h"
#include "Tlaparvaluecls.h"
#include "Winmain.h"

TAboutForm* AboutForm = nullptr;

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  AboutForm = this;
  setObjectName("AboutForm");
  setupUi(this);
  QPalette green = Panel->palette();
  green.setColor(QPalette::Window, QColor(0, 128, 0));
  Panel->setPalette(green);
  QPalette face = Memo->palette();
  face.setColor(QPalette::Base, palette().color(QPalette::Window));
  Memo->setPalette(face);
  QPalette teal = DeviceMemo->palette();
  teal.setColor(QPalette::Text, QColor(0, 128, 128));
  DeviceMemo->setPalette(teal);
  Memo->document()->setDocumentMargin(0);
  Memo->viewport()->installEventFilter(this);
  DeviceMemo->viewport()->installEventFilter(this);
  BuildInformation();
}

TAboutForm::~TAboutForm() {
  if (AboutForm == this) AboutForm = nullptr;
}

void TAboutForm::AppendCommaText(kd::StringList& lines, const std::string& value) {
  lines.SetCommaText(lines.CommaText() + "\n\r" + value);
}

void TAboutForm::BuildInformation() {
  const kd::IniFile ini(MainForm->IniFileName());
  auto read = [&ini](const char* key, const char* dflt) { return ini.ReadString("AboutForm", key, dflt); };

  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSizeF(font().pointSizeF());
  Memo->setFont(fixed);
  Memo->setTabStopDistance(8 * QFontMetrics(fixed).horizontalAdvance('0'));

  kd::StringList lines;
  lines.Add(kd::Sprintf("\t%s %s_", read("Application", "-APPLICATION NAME-").c_str(),
                        read("Version", "V.ER").c_str()));
  lines.Add("");
  const std::string company = read("Company", "");
  if (!company.empty()) lines.Add(company);
  const std::string address = read("Address", "");
  if (!address.empty()) {
    AppendCommaText(lines, address);
    lines.Add("");
  }
  const std::pair<const char*, const char*> contacts[] = {
      {"Phone", "Phone:\t"}, {"Fax", "Fax:\t"}, {"e-mail", "e-mail:\t"}, {"Web", "Web:\t"}};
  for (const auto& [key, label] : contacts) {
    const std::string value = read(key, "");
    if (!value.empty()) lines.Add(label + value);
  }
  lines.Add("");
  const std::string message = read("Message", "");
  if (!message.empty()) {
    lines.Add("-------------------");
    AppendCommaText(lines, message);
    lines.Add("-------------------");
  }
  Memo->setPlainText(LinesText(lines));

  memoHeight_ = QFontMetrics(font()).height() * lines.Count();
  SetMemoHeight(memoHeight_);
}

void TAboutForm::SetMemoHeight(int height) {
  Memo->setFixedHeight(height);
  Panel->setFixedHeight(height + DeviceMemo->height() + 14);
  adjustSize();
}

void TAboutForm::FormShow() {
  kd::StringList lines;
  TlaMBThread* connection = Network ? Network->Connection() : nullptr;
  if (connection && connection->IsConnected()) {
    TlaDeviceKD730* device = Network->laDevice;
    const TlaMBDeviceVersion* version = device->VersionTransa();
    lines.Add("Hardware version:\t\t" + (version ? version->GetModelString() : std::string()));
    lines.Add("Firmware version:\t\t" + (version ? version->GetVersionString() : std::string()));
    if (device->HWLimitVolt) {
      device->ReadReg(device->HWLimitVolt, true);
      device->HWLimitVolt->Dump(&lines);
    }
    if (TlaParValue* view = device->EE_ModBusSlaveView()) {
      view->Read();
      view->Dump(&lines);
    }
  } else {
    lines.Add("Not connected!");
  }
  DeviceMemo->setPlainText(LinesText(lines));
}

void TAboutForm::showEvent(QShowEvent* event) {
  FormShow();
  // Centred on the main window's screen, and whole on it: an information
  // text taller than the screen scrolls.
  QScreen* screen = MainForm ? MainForm->screen() : this->screen();
  SetMemoHeight(memoHeight_);
  if (screen) {
    const QRect area = screen->availableGeometry();
    const int over = height() - area.height();
    const int lineHeight = QFontMetrics(font()).height();
    Memo->setVerticalScrollBarPolicy(over > 0 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if (over > 0) SetMemoHeight(std::max(lineHeight, memoHeight_ - over));
    move(area.center() - rect().center());
  }
  QDialog::showEvent(event);
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress &&
      (watched == Memo->viewport() || watched == DeviceMemo->viewport())) {
    reject();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
