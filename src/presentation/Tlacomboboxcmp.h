#pragma once
// TlaComboBox: the in-place editor of one parameter-value view. The list
// binder places it over the "Value" cell of a list-view row (EditThis); it
// offers the view's choices (each item carrying its value-list code) and,
// unless the view is a bit, bit-field or coded view, free typing of a number:
// "0x1f" or "1fh" hexadecimal, else a decimal number with '.'.
// Enter writes through the view, raises OnEdited and closes the editor; a
// text that is no number or a write the view refuses marks the editor red on
// yellow and keeps it open. Escape and focus loss close it, dropping the text;
// so do a scroll or a resize of its list view and its row leaving the view
// (removed, hidden or moved), so that it never lies over another row.
#include <QComboBox>
#include <QPersistentModelIndex>
#include <QPointer>
#include <optional>
#include <string>
#include <vector>

#include "Tlapareditevent.h"

class QTreeWidget;
class QTreeWidgetItem;

class TlaComboBox : public QComboBox {
  Q_OBJECT

 public:
  // Hidden until EditThis.
  explicit TlaComboBox(QWidget* parent = nullptr);
  ~TlaComboBox() override;

  TlaParValue* View = nullptr;  // not owned
  TlaParEditEvent OnEdited;     // after a successful edit

  // Opens the editor on the view (nothing without one), showing its value
  // and its choices (a drop-down list with the value's item chosen); with a
  // list view it moves into it, and with a row of it lies over that row's
  // "Value" cell (a one-column list's only cell).
  void EditThis(TlaParValue* view, QTreeWidget* listView, QTreeWidgetItem* row);

  // Key 13 commits, 27 cancels (both set key to 0); other keys clear the
  // error colours.
  void DoOnKeyPress(QObject* sender, char& key);
  // While open: normal colours and hide; what was typed is dropped. The
  // editor stops watching its list view.
  void DoOnExit(QObject* sender);
  void DoOnChange(QObject* sender);

  // A typed text as a number: "0x" + hex digits, hex digits + "h" (both
  // lower-case markers; at most 32 bits), else a decimal number with '.'.
  // Nothing for any other text.
  static std::optional<double> ParseNumber(const std::string& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  // Resizes of the list view and its viewport, paints of the viewport.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Watches the list view the editor lies in, and the row it lies over.
  void WatchPlace(QTreeWidget* listView, QTreeWidgetItem* row);
  void StopWatching();
  // Closes the editor when its row is no longer where it was opened.
  void CheckPlace();
  // Closes the editor as on focus loss (the focus back to the list view when it had it).
  void LeavePlace();

  // Writes the chosen item or the typed number to the view.
  void Commit();
  void SetErrorColours(bool error);
  // DoOnExit, then the focus back to the parent (the list view).
  void Close();

  // The list view being watched and its viewport; as plain widgets, since
  // their events may come while the list view is being destroyed.
  QPointer<QWidget> placedIn_;
  QPointer<QWidget> placedViewport_;
  QPersistentModelIndex placedRow_;  // the row, when one was given (invalid once it is gone)
  bool rowGiven_ = false;            // a row was given
  int placedTop_ = 0;                // its top in the viewport when opened
  std::vector<QMetaObject::Connection> watches_;
};
