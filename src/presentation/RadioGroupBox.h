#pragma once
// RadioGroupBox: an option group. A captioned box of radio buttons laid out
// in Columns columns (filled column by column), one button per item; each
// item carries an integer value (its index unless given). ItemIndex is the
// checked button, -1 for none. Tag is free for the owner's use.
//
// clicked() is raised when the operator picks a button other than the
// checked one; setting the items or the index from code raises nothing.
#include <QColor>
#include <QGroupBox>
#include <QString>
#include <QStringList>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

class RadioGroupBox : public QGroupBox {
  Q_OBJECT

 public:
  explicit RadioGroupBox(QWidget* parent = nullptr);
  explicit RadioGroupBox(const QString& caption, QWidget* parent = nullptr);
  ~RadioGroupBox() override;

  // Replaces the items; item i carries the value i. The index becomes -1.
  virtual void setItems(const QStringList& texts);
  // Appends one item with its value; the index is kept.
  virtual void addItem(const QString& text, int value);
  // Removes every item; the index becomes -1.
  virtual void clearItems();

  QStringList items() const;
  int count() const { return static_cast<int>(values_.size()); }
  // The value of item i (0 when there is no such item).
  int itemValue(int index) const;
  // The button of item i, or null.
  QRadioButton* button(int index) const;

  int itemIndex() const { return index_; }
  // Checks item index (any index outside the items checks none).
  virtual void setItemIndex(int index);

  int columns() const { return columns_; }
  // At least one column.
  void setColumns(int columns);

  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }

  // Background of the box (an invalid colour: the parent's).
  QColor color() const { return color_; }
  void setColor(const QColor& color);

 signals:
  void clicked();

 protected:
  // Runs when the operator has picked another button, after the index moved;
  // raises clicked().
  virtual void click();

 private:
  void Arrange();
  void ButtonPicked(int index);

  QGridLayout* grid_;          // owned by the box (Qt parent)
  QButtonGroup* group_;        // owned by the box (Qt parent)
  std::vector<int> values_;
  int index_ = -1;
  int columns_ = 1;
  int tag_ = 0;
  QColor color_;
};
