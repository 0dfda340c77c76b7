#pragma once
// Widget tests of the parameter editors and the list binder: a KD730 register
// image from the real data-model file (at its defaults, no line), a shown and
// active window to put controls in, and keys typed into whatever has the focus.
#include <QApplication>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <string>

#include "Tlaregdatabuffercmp.h"
#include "Tlaregdefslistcmp.h"

namespace paredit {

class KD730Image : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model_.LoadFromFile(std::string(KD_DATA_DIR) + "/KD730_Parameters.par"));
    ASSERT_TRUE(image_.CreateRegDataBuffer(&model_));
    for (int i = 0; i < image_.GetRegisterCount(); ++i) image_.GetRegister(i)->SetDefaults();
    window_.resize(640, 420);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }

  // Lets posted work run (a layout showing the buttons added to a shown group).
  static void Settle() { QCoreApplication::processEvents(); }

  TlaRegister* R(const char* name) const { return image_.GetRegister(std::string(name)); }

  // Keys as the operator types them: to the widget that has the focus.
  static QWidget* Focus() {
    QWidget* w = QApplication::focusWidget();
    EXPECT_NE(w, nullptr) << "nothing has the focus";
    return w;
  }
  static void Type(const QString& text) {
    if (QWidget* w = Focus()) QTest::keyClicks(w, text);
  }
  static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    if (QWidget* w = Focus()) QTest::keyClick(w, key, modifiers);
  }
  // Replaces the editor's text.
  static void Retype(const QString& text) {
    Press(Qt::Key_A, Qt::ControlModifier);
    Press(Qt::Key_Backspace);
    Type(text);
  }

  TlaRegDefsList model_;
  TlaRegDataBuffer image_;
  QWidget window_;  // declared last: its controls go before the image
};

}  // namespace paredit
