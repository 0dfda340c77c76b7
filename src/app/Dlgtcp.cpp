#include "Dlgtcp.h"

#include <QKeyEvent>

#include "Appimages.h"

TTCPForm* TCPForm = nullptr;

namespace {

// Enter, Tab, Backspace and the digits.
bool IsDigitOrControl(QChar c) {
  return c == QLatin1Char('\r') || c == QLatin1Char('\t') || c == QLatin1Char('\b') ||
         (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

}  // namespace

TTCPForm::TTCPForm(QWidget* parent) : QDialog(parent, Qt::Tool) {
  TCPForm = this;
  setObjectName("TCPForm");
  setupUi(this);
  btnOk->setIcon(AppIcon(TAppImage::Ok));
  btnCancel->setIcon(AppIcon(TAppImage::Cancel));
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  eAddress->installEventFilter(this);
  ePort->installEventFilter(this);
  adjustSize();
}

TTCPForm::~TTCPForm() {
  if (TCPForm == this) TCPForm = nullptr;
}

bool TTCPForm::eAddressKeyPress(const QString& key) {
  return key.size() == 1 && (IsDigitOrControl(key[0]) || key[0] == QLatin1Char('.'));
}

bool TTCPForm::ePortKeyPress(const QString& key) { return key.size() == 1 && IsDigitOrControl(key[0]); }

bool TTCPForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == eAddress || watched == ePort)) {
    // Keys that type a character are filtered (Ctrl+V too); moving keys,
    // Delete and Escape type nothing.
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (!text.isEmpty() && text != QLatin1String("\x1b") && text != QLatin1String("\x7f")) {
      const bool pass = watched == eAddress ? eAddressKeyPress(text) : ePortKeyPress(text);
      if (!pass) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
