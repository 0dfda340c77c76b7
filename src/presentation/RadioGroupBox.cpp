#include "RadioGroupBox.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

RadioGroupBox::RadioGroupBox(QWidget* parent) : RadioGroupBox(QString(), parent) {}

RadioGroupBox::RadioGroupBox(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent), grid_(new QGridLayout(this)), group_(new QButtonGroup(this)) {
  grid_->setContentsMargins(6, 2, 6, 2);
  grid_->setVerticalSpacing(0);
  group_->setExclusive(true);
  connect(group_, &QButtonGroup::idClicked, this, &RadioGroupBox::ButtonPicked);
}

RadioGroupBox::~RadioGroupBox() = default;

void RadioGroupBox::setItems(const QStringList& texts) {
  clearItems();
  for (int i = 0; i < texts.size(); ++i) addItem(texts[i], i);
}

void RadioGroupBox::addItem(const QString& text, int value) {
  auto* b = new QRadioButton(text, this);  // owned by the box
  group_->addButton(b, count());
  values_.push_back(value);
  Arrange();
}

void RadioGroupBox::clearItems() {
  for (QAbstractButton* b : group_->buttons()) {
    group_->removeButton(b);
    delete b;
  }
  values_.clear();
  index_ = -1;
}

QStringList RadioGroupBox::items() const {
  QStringList texts;
  for (int i = 0; i < count(); ++i) texts << button(i)->text();
  return texts;
}

int RadioGroupBox::itemValue(int index) const {
  return index >= 0 && index < count() ? values_[static_cast<std::size_t>(index)] : 0;
}

QRadioButton* RadioGroupBox::button(int index) const {
  return static_cast<QRadioButton*>(group_->button(index));
}

void RadioGroupBox::setItemIndex(int index) {
  if (index < 0 || index >= count()) index = -1;
  index_ = index;
  if (index >= 0) {
    button(index)->setChecked(true);
    return;
  }
  // An exclusive group keeps one button checked; lift that to clear them all.
  group_->setExclusive(false);
  for (QAbstractButton* b : group_->buttons()) b->setChecked(false);
  group_->setExclusive(true);
}

void RadioGroupBox::setColumns(int columns) {
  columns_ = std::max(1, columns);
  Arrange();
}

void RadioGroupBox::setColor(const QColor& color) {
  color_ = color;
  setAutoFillBackground(color.isValid());
  if (!color.isValid()) return;
  QPalette p = palette();
  p.setColor(QPalette::Window, color);
  setPalette(p);
}

void RadioGroupBox::click() { emit clicked(); }

void RadioGroupBox::Arrange() {
  const int n = count();
  const int perColumn = std::max(1, (n + columns_ - 1) / columns_);
  for (int i = 0; i < n; ++i) {
    QRadioButton* b = button(i);
    grid_->removeWidget(b);
    grid_->addWidget(b, i % perColumn, i / perColumn);
  }
  for (int c = 0; c < grid_->columnCount(); ++c) grid_->setColumnStretch(c, c < columns_ ? 1 : 0);
}

void RadioGroupBox::ButtonPicked(int index) {
  if (index == index_) return;
  index_ = index;
  click();
}
