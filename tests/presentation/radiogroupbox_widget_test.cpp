#include <gtest/gtest.h>

#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "RadioGroupBox.h"

namespace {

QStringList Checked(const RadioGroupBox& box) {
  QStringList texts;
  for (int i = 0; i < box.count(); ++i)
    if (box.button(i)->isChecked()) texts << box.button(i)->text();
  return texts;
}

// A click on the button's indicator, as the operator makes it.
void Pick(RadioGroupBox& box, int i) {
  QRadioButton* b = box.button(i);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

TEST(RadioGroupBox, ItemsCarryTheirValues) {
  RadioGroupBox box("Filter");
  box.setItems({"a", "b", "c"});
  EXPECT_EQ(box.items(), QStringList({"a", "b", "c"}));
  EXPECT_EQ(box.itemValue(2), 2);
  box.setItemIndex(1);

  // Replacing the items drops the old buttons and the index.
  box.clearItems();
  box.addItem("max", -4);
  box.addItem("seven", 7);
  EXPECT_EQ(box.items(), QStringList({"max", "seven"}));
  EXPECT_EQ(box.itemIndex(), -1);
  EXPECT_EQ(box.itemValue(0), -4);
  EXPECT_EQ(box.itemValue(1), 7);
  EXPECT_EQ(box.itemValue(2), 0);
  EXPECT_EQ(box.itemValue(-1), 0);
  EXPECT_EQ(box.button(2), nullptr);
  EXPECT_EQ(box.findChildren<QRadioButton*>().size(), 2);
}

TEST(RadioGroupBox, IndexFromCodeChecksOneOrNoneAndRaisesNothing) {
  RadioGroupBox box;
  box.setItems({"a", "b", "c"});
  QSignalSpy spy(&box, &RadioGroupBox::clicked);
  EXPECT_EQ(box.itemIndex(), -1);
  EXPECT_TRUE(Checked(box).isEmpty());
  struct Case {
    int set;
    int index;
    QStringList checked;
  };
  for (const Case& c : {Case{2, 2, {"c"}}, Case{0, 0, {"a"}}, Case{-1, -1, {}}, Case{1, 1, {"b"}},
                        Case{3, -1, {}}}) {
    box.setItemIndex(c.set);
    EXPECT_EQ(box.itemIndex(), c.index) << c.set;
    EXPECT_EQ(Checked(box), c.checked) << c.set;
  }
  EXPECT_EQ(spy.count(), 0);
}

TEST(RadioGroupBox, OperatorPickRaisesClickedOnceWithTheNewIndex) {
  RadioGroupBox box("Options");
  box.setItems({"off", "on"});
  box.setItemIndex(0);
  box.resize(200, 80);
  box.show();
  QCoreApplication::processEvents();
  int seen = -2;
  QObject::connect(&box, &RadioGroupBox::clicked, [&] { seen = box.itemIndex(); });
  QSignalSpy spy(&box, &RadioGroupBox::clicked);

  Pick(box, 1);
  EXPECT_EQ(spy.count(), 1);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(Checked(box), QStringList({"on"}));

  // The checked button again: nothing changes, nothing is raised.
  Pick(box, 1);
  EXPECT_EQ(spy.count(), 1);

  // From no selection too.
  box.setItemIndex(-1);
  Pick(box, 0);
  EXPECT_EQ(spy.count(), 2);
  EXPECT_EQ(box.itemIndex(), 0);
}

TEST(RadioGroupBox, ColumnsAreFilledOneAfterTheOther) {
  RadioGroupBox box("Filter");
  box.setItems({"1000", "500", "200", "off", "x"});
  box.setColumns(2);
  box.resize(300, 120);
  box.show();
  QCoreApplication::processEvents();
  auto x = [&](int i) { return box.button(i)->geometry().x(); };
  auto y = [&](int i) { return box.button(i)->geometry().y(); };
  // Three rows: 0 1 2 in the first column, 3 4 in the second.
  EXPECT_EQ(x(0), x(1));
  EXPECT_EQ(x(1), x(2));
  EXPECT_EQ(x(3), x(4));
  EXPECT_GT(x(3), x(0));
  EXPECT_LT(y(0), y(1));
  EXPECT_EQ(y(0), y(3));
  EXPECT_EQ(y(1), y(4));

  box.setColumns(0);
  EXPECT_EQ(box.columns(), 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(x(4), x(0));
  EXPECT_GT(y(4), y(3));
}

TEST(RadioGroupBox, ColourFillsTheBox) {
  RadioGroupBox box;
  box.setColor(QColor(0xC1, 0xC1, 0xFF));
  EXPECT_TRUE(box.autoFillBackground());
  EXPECT_EQ(box.palette().color(QPalette::Window), QColor(0xC1, 0xC1, 0xFF));
  box.setColor(QColor());
  EXPECT_FALSE(box.autoFillBackground());
  box.setTag(9);
  EXPECT_EQ(box.tag(), 9);
}

}  // namespace
