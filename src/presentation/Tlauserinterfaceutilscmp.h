#pragma once
// TlaUserInterfaceUtils: binds parameter-value views to window controls, so
// that a window shows and edits a parameter list without code of its own.
// A list view (QTreeWidget) gets five columns (name, value, minimum, maximum,
// default), light-blue alternating rows and the binder's in-place editor on
// double-click or Enter; an option group (TlaRadioGroup) shows one view's
// choices; any other control receives one new option group per listed view.
//
// The window builds its layout with a short sequence: With(control) selects
// the control the next calls act on, List(view) adds a view, ListSep() a
// separator row, the Rg setters size the option groups, AdaptHeight() fits
// the selected control to its content and End() closes the sequence. After
// each read of the device RefreshData() brings every bound control up to date.
//
// The binder owns neither the controls nor the views; the window keeps the
// views alive while they are bound. Main thread only.
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <vector>

#include "Event.h"
#include "Tlapareditevent.h"

class QStyleOptionViewItem;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TlaComboBox;
class TlaRadioGroup;

// Where List places the option groups it creates in a container: docked to
// one side (top and bottom groups keep their height, left and right ones
// their width), filling what the others leave (client), or where they are.
enum TlaAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TlaUserInterfaceUtils : public QObject {
  Q_OBJECT

 public:
  explicit TlaUserInterfaceUtils(QObject* owner = nullptr);
  ~TlaUserInterfaceUtils() override;

  // Shape of the option groups that List creates in containers.
  int GroupColumns = 1;
  int GroupHeight = 50;
  int GroupWidth = 150;
  TlaAlign GroupAlign = alTop;
  // Row backgrounds, 0x00BBGGRR.
  std::uint32_t EvenColor = 0xFFC9C0;
  std::uint32_t OddColor = 0xFFE9E0;

  kd::Event<void(QObject* sender)> OnBeforeRefresh;
  kd::Event<void(QObject* sender)> OnAfterRefresh;
  // Asked before the editor opens; clearing the flag refuses the edit.
  TlaParEditEvent OnEditQuery;
  // After a view was edited through any bound editor, before the refresh.
  TlaParEditEvent OnEdited;
  // Not raised by the binder.
  TlaParEditEvent OnEditError;

  // Every control selected with With, once each, in order of first selection
  // (a control destroyed since reads as null).
  const std::vector<QPointer<QWidget>>& Controls() const { return controls_; }
  // The control that List, ListSep, AdaptHeight and the Rg setters act on.
  QWidget* Current() const { return current_; }
  // The in-place editor shared by the bound list views (made anew when a list
  // view holding it was destroyed).
  TlaComboBox* Editor();

  // A list view: bound on first selection (rows cleared, the five columns
  // made when it has none, read-only); the binder's handlers (re)installed,
  // in place of any other binder's.
  TlaUserInterfaceUtils& With(QTreeWidget* listView);
  // An option group: its OnEdited goes to the binder.
  TlaRadioGroup* With(TlaRadioGroup* group);
  // Any other control (list views and option groups as above); its index in Controls.
  int With(QWidget* control);
  // Adds the view to Current: a row of a list view, the choices of an option
  // group, or a new option group in any other control.
  void List(TlaParValue* view);
  // A list view's separator row (empty caption, no view).
  void ListSep();
  TlaUserInterfaceUtils& End();

  // Store the shape for later groups; an option group as Current takes it at
  // once. Nothing, not even the store, without Current.
  void RgColCount(int n);
  void RgHeight(int n);
  void RgWidth(int n);
  void RgAlign(TlaAlign align);
  // Sizes Current to its content: a list view to rows × 17 + 28, an option
  // group to items × 15 / columns + 18; the height is also stored in
  // GroupHeight. 0 (nothing done) for other controls.
  int AdaptHeight();

  // Ends a build sequence, then refreshes every bound control between
  // OnBeforeRefresh and OnAfterRefresh.
  void RefreshData();
  // Value, minimum, maximum and default texts of every row with a view ("---"
  // for a missing limit).
  void RefreshListView(QTreeWidget* listView);
  // The option groups directly inside the control.
  void RefreshControl(QWidget* control);
  void RefreshRadioGroup(TlaRadioGroup* group);

  // The editors' OnEdited: the binder's OnEdited, then RefreshData.
  void DoOnEdited(TlaParValue* view, bool& flag);

  // Handlers installed on bound list views. Enter on a selected row acts as a
  // double-click, and the key is used up (set to 0) only when the editor
  // opened; a double-click opens the editor on the selected row when it
  // carries an enabled, visible view and OnEditQuery agrees. The draw
  // handlers colour rows while the list view is enabled: EvenColor/OddColor,
  // button face for separators, silver with grey text for disabled views
  // (hidden views' rows left blank: defaultDraw cleared), the "Value" column
  // bold.
  void lvKeyPress(QObject* sender, char& key);
  void lvDblClick(QObject* sender);
  void lvCustomDrawItem(QTreeWidget* sender, QTreeWidgetItem* row, QStyleOptionViewItem& state, bool& defaultDraw);
  void lvCustomDrawSubItem(QTreeWidget* sender, QTreeWidgetItem* row, int subItem, QStyleOptionViewItem& state,
                           bool& defaultDraw);

  // The view a row carries; null for separator rows.
  static TlaParValue* RowView(const QTreeWidgetItem* row);

 private:
  // The editors' OnEdited: DoOnEdited while the binder exists (groups may outlive it).
  TlaParEditEvent EditedHandler();
  // The editor on the selected row, as lvDblClick; true when it opened.
  bool OpenEditor(QTreeWidget* listView);
  // Index of the control in Controls, added when absent.
  int AddControl(QWidget* control, bool* added = nullptr);
  // Caption, choices (without limits) and view of an option group.
  static void FillGroup(TlaRadioGroup* group, TlaParValue* view);
  // A new option group for the view inside the container, in the stored shape.
  void CreateGroup(QWidget* container, TlaParValue* view);
  // The Rg setters: n stored, and applied at once to an option group as Current.
  void SetGroupShape(int& stored, int n, void (TlaRadioGroup::*apply)(int));
  // The background of a row while the list view is enabled; false when the
  // row's view is hidden (its text is not drawn).
  bool ColourRow(QTreeWidget* listView, QTreeWidgetItem* row, QStyleOptionViewItem& state);

  std::vector<QPointer<QWidget>> controls_;
  QPointer<QWidget> current_;
  QPointer<TlaComboBox> editor_;  // deleted by the destructor unless a list view took it along
};
