// The main window's keys pressed in the setup and scope windows, on the real
// stack (mbserver and kd730-sim): connect, the virtual inputs (Inhibit checked
// on the drive), the reference's zero, the oscilloscope, disconnect and exit;
// the two windows' own keys beside them, and no key while a dialog is modal.
#include <gtest/gtest.h>

#include <QTest>

#include "AppTestSupport.h"
#include "Modulenetwork.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Tlatraccia.h"
#include "Winmain.h"
#include "Winscope.h"
#include "Winsetup.h"

using namespace apptest;

namespace {

class MainKeys : public ProgramOnDrive {
 protected:
  // The window shown and active, then the key pressed in it.
  static void Press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    Idle();  // the actions' update handlers ran
    QTest::keyClick(window, key, modifiers);
  }
  // Online with the commands read, and the setup window opened by a setup
  // read after `refreshes`, so that it takes no focus later.
  static void WaitOnline(int refreshes) {
    ASSERT_TRUE(PumpUntil([&] {
      return MainForm->acInhibit->isEnabled() &&
             CountLog("Data refreshed from drive.") > refreshes && KD730Setup->isVisible();
    })) << MainForm->Memo->toPlainText().toStdString();
    Idle();
  }
  TlaDeviceKD730& Drive() { return *Network->laDevice; }
};

TEST_F(MainKeys, WorkFromTheSetupAndScopeWindows) {
  for (QWidget* window : {static_cast<QWidget*>(KD730Setup), static_cast<QWidget*>(ScopeForm)}) {
    SCOPED_TRACE(window->objectName().toStdString());
    const int closed = CountLog("ModBus closed.");
    const int refreshes = CountLog("Data refreshed from drive.");
    ASSERT_NO_FATAL_FAILURE(Press(window, Qt::Key_F9));
    ASSERT_NO_FATAL_FAILURE(WaitOnline(refreshes));

    // F5 Inhibit, F6 Disable CW, F7 Disable CCW.
    int inputs = DriveValue(Drive().VirtualInput);
    const std::pair<Qt::Key, int> toggles[] = {{Qt::Key_F5, 4}, {Qt::Key_F6, 2}, {Qt::Key_F7, 1}};
    for (const auto& [key, bit] : toggles) {
      ASSERT_NO_FATAL_FAILURE(Press(window, key));
      inputs ^= bit;
      EXPECT_EQ(DriveValue(Drive().VirtualInput), inputs) << key;
    }
    MainForm->acRefUp10->trigger();
    ASSERT_EQ(DriveValue(Drive().RefDig), 245);
    ASSERT_NO_FATAL_FAILURE(Press(window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(LastLog(), "Digital reference write: 0.0");
    EXPECT_EQ(DriveValue(Drive().RefDig), 0);

    const bool scope = ScopeForm->isVisible();
    ASSERT_NO_FATAL_FAILURE(Press(window, Qt::Key_F8));
    EXPECT_NE(ScopeForm->isVisible(), scope);

    ASSERT_NO_FATAL_FAILURE(Press(window, Qt::Key_F9, Qt::ControlModifier));
    EXPECT_EQ(CountLog("ModBus closed."), closed + 1);
    EXPECT_EQ(Network->Connection(), nullptr);
  }

  // Alt+X ends the program from either window (the main window closes).
  for (QWidget* window : {static_cast<QWidget*>(KD730Setup), static_cast<QWidget*>(ScopeForm)}) {
    SCOPED_TRACE(window->objectName().toStdString());
    MainForm->show();
    ASSERT_NO_FATAL_FAILURE(Press(window, Qt::Key_X, Qt::AltModifier));
    EXPECT_FALSE(MainForm->isVisible());
  }
}

TEST_F(MainKeys, LeaveTheWindowsOwnKeysAndWaitForModalDialogs) {
  MainForm->acOpenConnection->trigger();
  ASSERT_NO_FATAL_FAILURE(WaitOnline(1));
  const int inputs = DriveValue(Drive().VirtualInput);

  // Ctrl+R in the scope window empties its plots.
  ASSERT_TRUE(PumpUntil([] { return ScopeForm->trkDcBus->GetPointCount() > 3; }));
  ASSERT_NO_FATAL_FAILURE(Press(ScopeForm, Qt::Key_R, Qt::ControlModifier));
  EXPECT_EQ(ScopeForm->trkDcBus->GetPointCount(), 0);

  // Ctrl+X in the setup window asks its question; main keys pressed in the
  // question do nothing.
  std::vector<std::string> questions;
  {
    ModalScript script({[&](QWidget* dialog) {
      QTest::keyClick(dialog, Qt::Key_F5);
      QTest::keyClick(dialog, Qt::Key_F8);
      QTest::keyClick(dialog, Qt::Key_F9, Qt::ControlModifier);
      Question(true, &questions)(dialog);
    }});
    ASSERT_NO_FATAL_FAILURE(Press(KD730Setup, Qt::Key_X, Qt::ControlModifier));
    EXPECT_EQ(script.Remaining(), 0);
  }
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_FALSE(KD730Setup->isVisible());
  EXPECT_TRUE(ScopeForm->isVisible());
  EXPECT_NE(Network->Connection(), nullptr);
  EXPECT_EQ(DriveValue(Drive().VirtualInput), inputs);
}

}  // namespace
