#pragma once
// TlaRadioGroup: an option group bound to one parameter-value view for its
// whole life. Its buttons are the view's choices (each carrying its value-list
// code), RefreshData shows the view's value, enabled and visible state, and a
// click writes the chosen button to the view and raises OnEdited.
#include "RadioGroupBox.h"
#include "Tlapareditevent.h"

class TlaRadioGroup : public RadioGroupBox {
  Q_OBJECT

 public:
  explicit TlaRadioGroup(QWidget* parent = nullptr);
  ~TlaRadioGroup() override;

  TlaParValue* View = nullptr;  // not owned
  TlaParEditEvent OnEdited;     // after a click changed the view

  // The button at the view's value (truncated; none without a view), the
  // group enabled and visible as the view.
  void RefreshData();
  // Writes the checked button (the default when none is checked), then
  // OnEdited; when the view refuses the write (or a handler fails) the group
  // shows the view's value again.
  void DoOnClick(QObject* sender);
};
