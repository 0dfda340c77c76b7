#pragma once
// TKD730Setup: the drive-setup window. Lists the drive's setup registers by
// topic (one row per register or gain view, each row carrying it), the
// option bits of CfgFlags as option groups and the input filter; every row
// reads the drive's register image when refreshed and every edit goes into
// that image. Only Reload, Send, Save, the offset buttons and the field-bus
// page talk to the drive. "To File ..." and "From File ..." move the setup
// between the image and a setup file, "Print" prints a report of it. The
// window keeps no state of its own: setup and slave state are the drive's.
//
// The data module builds the lists once the data model is loaded
// (BuildSetupLists) and shows the window and refreshes it after every setup
// read (RefreshSetup). The action update handlers run whenever the
// application is about to wait for events (UpdateActions).
#include <QColor>
#include <QWidget>
#include <array>
#include <initializer_list>
#include <string>

#include "ui_Winsetup.h"

class QFileDialog;
class QMenu;
class QStyle;
class QTreeWidget;
class QTreeWidgetItem;
class RadioGroupBox;
class TlaDeviceKD730;
class TlaParValue;
class TlaPrintRtfDoc;
class TlaRegister;

// How a list row is drawn, as the custom-draw handlers leave it.
struct TSetupRowDraw {
  QColor Background;
  QColor Font;
  bool Bold = false;
  bool DefaultDraw = true;  // false: the row is left blank
};

class TKD730Setup : public QWidget, public Ui::TKD730SetupUi {
  Q_OBJECT

 public:
  // Sets KD730Setup, builds the form, takes its position from the program
  // INI file (MainForm must exist), then FormCreate.
  explicit TKD730Setup(QWidget* parent = nullptr);
  ~TKD730Setup() override;

  // Fills every list and the option groups from the drive's registers. Rows
  // and option groups of an earlier build are dropped first.
  void BuildSetupLists();
  // Enabling by CfgFlags, then every row and option group from the image.
  void RefreshSetup();
  // The drive when the data module exists, else null.
  TlaDeviceKD730* Device() const;

  // Row builders; rows carry their register or view (not owned).
  void AddRegisterItem(QTreeWidget* list, TlaRegister* reg);
  void AddParValueItem(QTreeWidget* list, TlaParValue* view);
  void RefreshListView(QTreeWidget* list);
  // The register or view a row carries (null for neither or another item).
  static TlaRegister* RowRegister(const QTreeWidgetItem* item);
  static TlaParValue* RowView(const QTreeWidgetItem* item);

  // One option group per named bit from firstBit down to lastBit; the
  // parent's "Tag" property becomes the register's address.
  void BuildBitOptions(QWidget* parent, TlaRegister* reg, int firstBit, int lastBit);
  void RefreshBitOptions(QWidget* parent);
  void OptionBitClick(RadioGroupBox* sender);

  // Row colours and fonts (only for an enabled list).
  void lvCustomDrawItem(QTreeWidget* list, QTreeWidgetItem* item, TSetupRowDraw& draw);
  void lvCustomDrawSubItem(QTreeWidget* list, QTreeWidgetItem* item, int subItem,
                           TSetupRowDraw& draw);

  // Editing the selected row of a list (double-click, "Edit Value...").
  void lvDblClick(QTreeWidget* list);
  // Enter or a digit: the list's own double-click handler.
  void lvKeyPress(QTreeWidget* list, int key);

  void UpdateActions();

  // The lists' shared context menu, with its one item.
  QMenu* PopupMenu = nullptr;  // owned by the window (Qt parent)
  QAction* mnEditValue = nullptr;
  // The file dialog of export and import (non-native) and the report's
  // print component; both owned by the window (Qt parent).
  QFileDialog* Dialog = nullptr;
  TlaPrintRtfDoc* laPrintDoc = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  bool FormCloseQuery();
  void FormClose();
  void SetUpList(QTreeWidget* list, bool withBounds);
  // Double-click handler of a list: the offset lists have their own.
  void RunDblClick(QTreeWidget* list);
  void lvReferenceOffsetDblClick();
  void lvCurLimOffsetDblClick();
  void rgFilterClick();
  void tsFieldBusShow();
  void sbtnSaveModBusSlaveClick();
  void acSendExecute();
  void acSaveExecute();
  void acReloadExecute();
  // Setup files and the setup report (Winsetupfiles).
  void acExportExecute();
  void acImportExecute();
  void acPrintExecute();
  // The drive's Inhibit input asserted through VirtualInput (send and save).
  void AssertInhibit();
  // Offsets: the register stepped or set to its default, written, logged.
  void StepOffset(TlaRegister* reg, int step);
  void DefaultOffset(TlaRegister* reg);
  // Writes an offset register; logs it when the write succeeded.
  void WriteOffset(TlaRegister* reg);
  // The lists of every page, the field bus's last.
  std::array<QTreeWidget*, 9> Lists() const;
  // The list with its group box sized to its rows.
  void FitGroup(QTreeWidget* list, QWidget* group);
  // Rows for the registers or views, then FitGroup.
  void FillGroup(QTreeWidget* list, QWidget* group, std::initializer_list<TlaRegister*> regs);
  void FillGroup(QTreeWidget* list, QWidget* group, std::initializer_list<TlaParValue*> views);

  // One of the drive's registers, null without a drive.
  using DriveRegister = TlaRegister* TlaDeviceKD730::*;
  TlaRegister* Register(DriveRegister reg) const;
  bool CfgBit(int bit) const;
  // False for the stored slave address while the image does not hold this drive's.
  bool HoldsDriveValue(const TlaRegister* reg) const;

  // An option group's font, style and spacing.
  void ShapeOptionGroup(RadioGroupBox* group);

  QTreeWidget* popupList_ = nullptr;  // the list the context menu was opened on
  QStyle* optionStyle_ = nullptr;     // of the option groups, owned by the window (Qt parent)
};

// The drive-setup window of the run (set while it exists).
extern TKD730Setup* KD730Setup;
