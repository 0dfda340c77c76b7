#include "Tlaradiogroupcmp.h"

#include <cmath>

TlaRadioGroup::TlaRadioGroup(QWidget* parent) : RadioGroupBox(parent) {
  connect(this, &RadioGroupBox::clicked, this, [this] { DoOnClick(this); });
}

TlaRadioGroup::~TlaRadioGroup() = default;

void TlaRadioGroup::RefreshData() {
  if (!View) {
    setItemIndex(-1);
    return;
  }
  const double value = std::trunc(View->GetValue());
  setItemIndex(value >= 0 && value < count() ? static_cast<int>(value) : -1);
  setEnabled(View->Enabled != 0);
  setVisible(View->Visible != 0);
}

void TlaRadioGroup::DoOnClick(QObject*) {
  if (!View) return;
  try {
    if (itemIndex() < 0)
      View->SetDefault();
    else
      SetParChoice(View, itemValue(itemIndex()));
    bool edited = true;
    if (OnEdited) OnEdited(View, edited);
  } catch (...) {
    RefreshData();  // refused: the buttons show what the view holds
  }
}
