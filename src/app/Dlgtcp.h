#pragma once
// TTCPForm: the modal "TCP/IP setup" dialog with the address and port of a
// Modbus-TCP server. The texts last for the run; the data module reads them
// at Connect. Only digits (and '.' in the address), Enter, Tab and Backspace
// can be typed.
#include <QDialog>

#include "ui_Dlgtcp.h"

class TTCPForm : public QDialog, public Ui::TTCPFormUi {
  Q_OBJECT

 public:
  explicit TTCPForm(QWidget* parent = nullptr);
  ~TTCPForm() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // True when the key press is let through.
  static bool eAddressKeyPress(const QString& key);
  static bool ePortKeyPress(const QString& key);
};

extern TTCPForm* TCPForm;
