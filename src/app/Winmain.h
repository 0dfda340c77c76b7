#pragma once
// TMainForm: the operator's main window. It chooses the COM port and the
// slave address, connects and disconnects through the network data module,
// shows the message log, the drive-state panel and the two fault lists
// (filled by the data module), and, while the drive is online, switches the
// drive's virtual inputs and steps or types the digital reference.
//
// The action update handlers run whenever the application is about to wait
// for events (UpdateActions).
#include <QWidget>
#include <string>

#include "ui_Winmain.h"

class QToolButton;
class TlaDeviceKD730;

class TMainForm : public QWidget, public Ui::TMainFormUi {
  Q_OBJECT

 public:
  // Sets MainForm, builds the form, reads the program INI file (the data
  // module does not exist yet), then FormCreate.
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // Current working directory at construction, with a trailing delimiter.
  std::string FAppPath;
  int FComPort = 0;
  int FSlaveAddr = 0;

  // The program INI file: FAppPath + "KD730_TuneDesk.ini".
  std::string IniFileName() const;

  void SetComPort(int port);
  void SetSlaveAddr(int n);

  // The message log: a new line; a dot at the end of the last line.
  void Log(const std::string& line);
  void LogAppendDot();
  // The connect button takes this action (Connect or Disconnect).
  void SetModBusAction(QAction* action);

  // The update handlers of every action.
  void UpdateActions();

 signals:
  // The window has closed (after FormClose).
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  bool FormCloseQuery();
  void FormClose();
  // Binds a tool button to an action; it is shown while the action is visible.
  void BindButton(QToolButton* button, QAction* action);

  void SelPortClick(QAction* item);
  void mnTCPIPClick();
  void acSlaveAddrExecute();
  void acMBServerExecute();
  void ToggleVirtualInput(int bit);
  void StepReference(double step);
  void ZeroReference();
  void stRefDigDblClick();
  // Sets the reference in the present mode and writes RefDig.
  void WriteReference(double value);

  // The drive when the data module exists, else null.
  TlaDeviceKD730* Device() const;
  bool Online() const;
  // The drive when it is online and its reference and virtual inputs were
  // read from it, else null: the commands act on nothing older.
  TlaDeviceKD730* CommandDevice() const;
  bool CfgFlag(int bit) const;
};

// The main window of the run (set while it exists).
extern TMainForm* MainForm;
