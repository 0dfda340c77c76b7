// The oscilloscope window: its diagrams, traces and markers, the rolling
// samples and the Y ranges, the reference pair, reset, the click and the
// layout, its place in the program INI file and F8; then live, fed by the
// simulated drive.
#include <gtest/gtest.h>

#include <QImage>
#include <QMenu>
#include <QTest>
#include <algorithm>
#include <functional>
#include <set>

#include "AppTestSupport.h"
#include "Formats.h"
#include "IniFile.h"
#include "Modulenetwork.h"
#include "Startup.h"
#include "Tladevicekd730cmp.h"
#include "Tladiagram.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"
#include "Winmain.h"
#include "Winscope.h"

using namespace apptest;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

std::string Describe(const TlaTraccia* t) {
  return kd::Sprintf("%s %s %06X/%d/%d %06X %d", t->OwnerDiagram()->GetTitle().c_str(),
                     t->GetTitle().c_str(), t->LinePen.Color(), t->LinePen.Width(),
                     t->LinePen.Style(), t->LineBrush.Color(), t->GetTrkType());
}

std::string Describe(const TlaMarker* m) {
  return kd::Sprintf("%s %s %s %06X/%d %06X %d or%d at %g,%g dot%d",
                     m->OwnerDiagram()->GetTitle().c_str(), m->GetTitle().c_str(),
                     m->GetText().c_str(), m->LinePen.Color(), m->LinePen.Style(),
                     m->LineBrush.Color(), m->GetMrkType(), m->GetOrType(), m->GetPoint().x,
                     m->GetPoint().y, m->GetDotted());
}

std::string Describe(const TlaDiagram* d) {
  const TlaScala* y = d->GetScalaY();
  std::string s =
      kd::Sprintf("%s %06X %06X vis%d auto%d%d title%d/%d | %s %d %g..%g/%g %s %06X %d%d",
                  d->GetTitle().c_str(), d->GetDgrBack(), d->GetTrkBack(), d->GetVisible(),
                  d->GetAutoScalaX(), d->GetAutoScalaY(), d->GetTitleVisible(), d->TitleFont.Size(),
                  y->GetTitle().c_str(), y->GetAlign(), y->Range.min, y->Range.max, y->GetDivStep(),
                  y->GetText().c_str(), y->GridPen.Color(), y->GetIsDate(), y->GetIsTime());
  if (const TlaLegenda* l = d->GetLegenda())
    s += kd::Sprintf(" | %s %d cols left %d only%d", l->GetTitle().c_str(), l->ColCount,
                     l->GetLeft(), l->OnlyVisible);
  return s;
}

std::vector<TlaTraccia*> AllTraces() {
  TScopeForm& s = *ScopeForm;
  return {s.trkArmature, s.trkReference, s.trkFeedback, s.trkIAct, s.trkINomPos,
          s.trkINomNeg,  s.trkIRef,      s.trkVolt,     s.trkDcBus};
}

using Feeder = std::function<void(const Tla2DPoint&)>;

// One sample into each of the nine traces.
void FeedEveryTrace(TScopeForm& s, const Tla2DPoint& p) {
  s.AddArmatureSpeed(p);
  s.AddSpeedRef(p);
  s.AddFeedback(p);
  s.AddCurrentLimit(p);
  s.AddCurrent(p);
  s.AddCurrentRef(p);
  s.AddArmatureVolt(p);
  s.AddDcBus(p);
}

// The program without a drive, its scope window fed by hand.
class ScopeWindow : public ::testing::Test {
 protected:
  ProgramFolder folder_;
  std::unique_ptr<TProgramForms> forms_ = std::make_unique<TProgramForms>();
  TScopeForm& scope_ = *ScopeForm;
};

TEST_F(ScopeWindow, BuiltAsItsTablesSay) {
  EXPECT_EQ(scope_.windowTitle(), "Oscilloscope");
  EXPECT_EQ(scope_.size(), QSize(468, 375));
  EXPECT_FALSE(scope_.isVisible());
  ASSERT_EQ(scope_.pmnScope->actions().size(), 1);
  EXPECT_EQ(scope_.pmnScope->actions()[0], scope_.ResetStart1);
  EXPECT_EQ(scope_.ResetStart1->text(), "Reset / Restart");
  EXPECT_EQ(scope_.ResetStart1->shortcut(), QKeySequence("Ctrl+R"));
  EXPECT_FALSE(scope_.laGraph.GetAutoRefresh());

  ASSERT_EQ(scope_.laGraph.GetDgrCount(), 4);
  std::vector<std::string> diagrams;
  for (int i = 0; i < 4; ++i) diagrams.push_back(Describe(scope_.laGraph.GetDiagram(i)));
  EXPECT_EQ(diagrams,
            (std::vector<std::string>{
                "Speed(Act,Rf,Fb [%]) FDCBAC C0C0C0 vis1 auto10 title1/-12 | [%] 4 0..130/10 000.0 "
                "808080 00"
                " | Speed 5 cols left 20 only1",
                "Current FDB386 C0C0C0 vis1 auto10 title1/-12 | [A] 4 0..20/5 00.0 808080 00"
                " | Current 5 cols left 20 only1",
                "Voltage(Armature) FB7C31 C0C0C0 vis1 auto10 title1/-12 | [V] 4 0..700/100 000.0 "
                "808080 00",
                "DcBus D05104 C0C0C0 vis1 auto10 title1/-12 | [V] 4 0..700/100 000.0 808080 00",
            }));
  // One time axis for all four.
  TlaScala* time = scope_.dgrSpeed->GetScalaX();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(scope_.laGraph.GetDiagram(i)->GetScalaX(), time);
  EXPECT_EQ(time->GetAlign(), 2);
  EXPECT_EQ(time->GetTitle(), "Samples");
  EXPECT_FALSE(time->GetTitleVisible());
  EXPECT_TRUE(time->GetIsTime());
  EXPECT_FALSE(time->GetIsDate());
  EXPECT_EQ(time->GetText(), "000.0");
  EXPECT_EQ(time->GridPen.Color(), 0x808080);
  EXPECT_NEAR(time->GetDivStep(), 10 * kSecond, 1e-12);
  EXPECT_NEAR(time->Range.max - time->Range.min, 30 * kSecond, 1e-9);
  EXPECT_NEAR(time->Range.min, kd::Now(), 60 * kSecond);

  std::vector<std::string> traces, markers;
  std::vector<TlaTraccia*> traceList;
  std::vector<TlaMarker*> markerList;
  for (int i = 0; i < 4; ++i) {
    for (TlaTraccia* t : scope_.laGraph.GetDiagram(i)->Traces()) {
      traces.push_back(Describe(t));
      traceList.push_back(t);
    }
    for (TlaMarker* m : scope_.laGraph.GetDiagram(i)->Markers()) {
      markers.push_back(Describe(m));
      markerList.push_back(m);
    }
  }
  // The window's fields name them in that order.
  EXPECT_EQ(AllTraces(), traceList);
  EXPECT_EQ(markerList,
            (std::vector<TlaMarker*>{scope_.mrkArmature, scope_.mrkRf, scope_.mrkFb, scope_.mrkIAct,
                                     scope_.mrkIMaxPos, scope_.mrkIMaxNeg, scope_.mrkINomPos,
                                     scope_.mrkINomNeg, scope_.mrkIRef, scope_.mrkVolt,
                                     scope_.mrkDcBus}));
  EXPECT_EQ(traces, (std::vector<std::string>{
                        "Speed(Act,Rf,Fb [%]) Armature FF0000/1/1 C0C0C0 1",
                        "Speed(Act,Rf,Fb [%]) Reference 008000/1/0 008000 1",
                        "Speed(Act,Rf,Fb [%]) Feedback FF00FF/1/0 FF00FF 1",
                        "Current IAct 00FF00/2/0 C0C0C0 1",
                        "Current INomPos FF0000/1/2 C0C0C0 1",
                        "Current INomNeg FF0000/1/2 C0C0C0 1",
                        "Current IRef 008000/1/0 008000 1",
                        "Voltage(Armature) Volt 0000FF/2/0 C0C0C0 1",
                        "DcBus Volt FF00FF/2/0 C0C0C0 1",
                    }));
  // Horizontal lines only (orientation set {2}), at (0, 0).
  EXPECT_EQ(markers, (std::vector<std::string>{
                         "Speed(Act,Rf,Fb [%]) Armature 000.0 FF0000/2 FF0000 3 or4 at 0,0 dot0",
                         "Speed(Act,Rf,Fb [%]) Rf 000.0 008000/0 008000 3 or4 at 0,0 dot0",
                         "Speed(Act,Rf,Fb [%]) Fb 000.0 FF00FF/0 FF00FF 3 or4 at 0,0 dot0",
                         "Current IAct 00.0 00FF00/2 00FF00 3 or4 at 0,0 dot0",
                         "Current IMaxPos 00.0 0000FF/1 0000FF 1 or4 at 0,0 dot0",
                         "Current IMaxNeg 00.0 0000FF/1 0000FF 2 or4 at 0,0 dot0",
                         "Current INomPos 00.0 FF0000/1 FF0000 1 or4 at 0,0 dot0",
                         "Current INomNeg 00.0 FF0000/1 FF0000 2 or4 at 0,0 dot0",
                         "Current IRef 00.0 008000/2 008000 3 or4 at 0,0 dot0",
                         "Voltage(Armature) Act 000.0 0000FF/2 0000FF 3 or4 at 0,0 dot0",
                         "DcBus Act 000.0 FF00FF/2 FF00FF 3 or4 at 0,0 dot0",
                     }));
}

TEST_F(ScopeWindow, EveryFeederKeeps320Samples) {
  TScopeForm& s = scope_;
  const std::pair<Feeder, std::vector<TlaTraccia*>> feeders[] = {
      {[&s](const Tla2DPoint& p) { s.AddArmatureSpeed(p); }, {s.trkArmature}},
      {[&s](const Tla2DPoint& p) { s.AddSpeedRef(p); }, {s.trkReference}},
      {[&s](const Tla2DPoint& p) { s.AddFeedback(p); }, {s.trkFeedback}},
      {[&s](const Tla2DPoint& p) { s.AddCurrent(p); }, {s.trkIAct}},
      {[&s](const Tla2DPoint& p) { s.AddCurrentRef(p); }, {s.trkIRef}},
      {[&s](const Tla2DPoint& p) { s.AddArmatureVolt(p); }, {s.trkVolt}},
      {[&s](const Tla2DPoint& p) { s.AddDcBus(p); }, {s.trkDcBus}},
      {[&s](const Tla2DPoint& p) { s.AddCurrentLimit(p); }, {s.trkINomPos, s.trkINomNeg}},
  };
  for (const auto& [feeder, traces] : feeders) {
    for (int i = 0; i <= TScopeForm::ScopeSampleCount; ++i) feeder({i * kSecond, 5.0 + i});
    for (TlaTraccia* t : traces) {
      SCOPED_TRACE(t->GetTitle());
      ASSERT_EQ(t->GetPointCount(), 320);
      EXPECT_EQ(t->GetPoint(0).x, kSecond);  // the first one dropped
      EXPECT_EQ(std::abs(t->GetPoint(319).y), 325.0);
    }
  }
  EXPECT_EQ(scope_.trkINomNeg->GetPoint(0).y, -6.0);
  EXPECT_EQ(scope_.mrkINomNeg->GetPoint().y, -325.0);
  EXPECT_EQ(scope_.mrkDcBus->GetPoint(), (Tla2DPoint{320 * kSecond, 325}));
  // The peak current only moves its two markers.
  scope_.SetPeakCurrent({0, 15});
  EXPECT_EQ(scope_.mrkIMaxPos->GetPoint(), (Tla2DPoint{0, 15}));
  EXPECT_EQ(scope_.mrkIMaxNeg->GetPoint(), (Tla2DPoint{0, -15}));
}

// Each case on a fresh window: a trace's limits outlive its samples.
TEST(ScopeRanges, FollowTheSamples) {
  struct Case {
    const char* name;
    std::function<void(TScopeForm&)> feed;
    std::function<TlaDiagram*(TScopeForm&)> diagram;
    TlaRange range;
  };
  auto speeds = [](std::vector<double> values) {
    return [values](TScopeForm& s) {
      double x = 0;
      for (double v : values) {
        s.AddArmatureSpeed({x, v});
        s.AddSpeedRef({x, v / 2});
        s.AddFeedback({x++, v});
      }
    };
  };
  const Case cases[] = {
      {"speed between 0 and 50",
       speeds({0, 20, 50, 35}),
       [](TScopeForm& s) { return s.dgrSpeed; },
       {0, 55}},
      {"all speeds negative",
       speeds({-10, -40, -25}),
       [](TScopeForm& s) { return s.dgrSpeed; },
       {-44, 0}},
      {"armature voltage 200 to 500",
       [](TScopeForm& s) {
         for (double v : {200, 350, 500, 420}) s.AddArmatureVolt({0, v});
       },
       [](TScopeForm& s) { return s.dgrVoltage; },
       {0, 550}},
      {"DC bus below zero",
       [](TScopeForm& s) {
         for (double v : {-100, 300}) s.AddDcBus({0, v});
       },
       [](TScopeForm& s) { return s.dgrDcBus; },
       {-110, 330}},
      {"current within a 10 A limit",
       [](TScopeForm& s) {
         s.AddCurrentLimit({0, 10});
         for (double v : {-4.0, 7.5, 9.0}) s.AddCurrent({0, v});
       },
       [](TScopeForm& s) { return s.dgrCurrent; },
       {-13, 13}},
      {"current above its limit",
       [](TScopeForm& s) {
         s.AddCurrentLimit({0, 10});
         s.AddCurrent({0, 12});
       },
       [](TScopeForm& s) { return s.dgrCurrent; },
       {-13, 15.6}},
      // Hidden, the speed reference still counts with what it holds.
      {"hidden speed reference",
       [](TScopeForm& s) {
         s.AddSpeedRef({0, 100});
         s.AddCurrentRef({1, 3});
         s.AddArmatureSpeed({1, 20});
         s.AddFeedback({1, 20});
       },
       [](TScopeForm& s) { return s.dgrSpeed; },
       {0, 110}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramFolder folder;
    TProgramForms forms;
    c.feed(*ScopeForm);
    const TlaRange r = c.diagram(*ScopeForm)->GetScalaY()->Range;
    EXPECT_NEAR(r.min, c.range.min, 1e-9);
    EXPECT_NEAR(r.max, c.range.max, 1e-9);
  }
}

TEST_F(ScopeWindow, ReferencePairFollowsTheMode) {
  auto shown = [this] {
    return std::vector<bool>{scope_.trkReference->GetVisible(), scope_.mrkRf->GetVisible(),
                             scope_.trkIRef->GetVisible(), scope_.mrkIRef->GetVisible()};
  };
  scope_.AddSpeedRef({0, 12});
  EXPECT_EQ(shown(), (std::vector<bool>{true, true, false, false}));
  scope_.AddCurrentRef({1, 2.5});
  EXPECT_EQ(shown(), (std::vector<bool>{false, false, true, true}));
  EXPECT_EQ(scope_.trkReference->GetPointCount(), 1);  // kept while hidden
  EXPECT_EQ(scope_.mrkIRef->GetPoint(), (Tla2DPoint{1, 2.5}));
  scope_.AddSpeedRef({2, 14});
  EXPECT_EQ(shown(), (std::vector<bool>{true, true, false, false}));
  EXPECT_EQ(scope_.trkReference->GetPointCount(), 2);
  EXPECT_EQ(scope_.trkIRef->GetPointCount(), 1);
}

TEST_F(ScopeWindow, ResetEmptiesEveryTraceAndKeepsMarkersAndRanges) {
  for (int i = 0; i < 5; ++i) FeedEveryTrace(scope_, {i * kSecond, 10.0 + i});
  for (TlaTraccia* t : AllTraces()) ASSERT_EQ(t->GetPointCount(), 5) << t->GetTitle();
  const TlaRange speed = scope_.dgrSpeed->GetScalaY()->Range;
  // Ctrl+R in the window runs the menu's Reset / Restart.
  scope_.show();
  scope_.activateWindow();
  Idle();
  QTest::keyClick(&scope_, Qt::Key_R, Qt::ControlModifier);
  for (TlaTraccia* t : AllTraces()) EXPECT_EQ(t->GetPointCount(), 0) << t->GetTitle();
  EXPECT_EQ(scope_.dgrSpeed->GetScalaY()->Range, speed);
  EXPECT_EQ(scope_.mrkDcBus->GetPoint(), (Tla2DPoint{4 * kSecond, 14}));
  // The next samples start a new line.
  scope_.AddDcBus({9 * kSecond, 100});
  EXPECT_EQ(scope_.trkDcBus->GetPointCount(), 1);
  EXPECT_EQ(scope_.trkDcBus->GetYLimits(), (TlaRange{100, 100}));
}

TEST_F(ScopeWindow, ClickBringsTheDiagramToTheFrontAndTheLayoutGivesItTheLargeArea) {
  scope_.show();
  Idle();
  const int w = scope_.width(), h = scope_.height();
  auto areas = [this] {
    std::vector<kd::TRect> a;
    for (TlaDiagram* d : {scope_.dgrSpeed, scope_.dgrCurrent, scope_.dgrVoltage, scope_.dgrDcBus})
      a.push_back(d->DrawArea());
    return a;
  };
  // Voltage, current and speed side by side on top, DC bus below.
  EXPECT_EQ(
      areas(),
      (std::vector<kd::TRect>{
          {2 * w / 3, 0, w, 100}, {w / 3, 0, 2 * w / 3, 100}, {0, 0, w / 3, 100}, {0, 100, w, h}}));

  const kd::TRect speed = scope_.dgrSpeed->TrkArea();
  QTest::mouseClick(&scope_, Qt::LeftButton, {},
                    QPoint((speed.left + speed.right) / 2, (speed.top + speed.bottom) / 2));
  EXPECT_EQ(scope_.laGraph.GetSelectedDgr(), scope_.dgrSpeed);
  EXPECT_TRUE(scope_.dgrSpeed->GetSelected());
  EXPECT_EQ(scope_.laGraph.GetDiagram(3), scope_.dgrSpeed);
  // Resized, the speed diagram takes the lower area; DC bus, voltage and
  // current stand on top, in that order from the left.
  scope_.resize(600, 420);
  Idle();
  EXPECT_EQ(areas(),
            (std::vector<kd::TRect>{
                {0, 100, 600, 420}, {400, 0, 600, 100}, {200, 0, 400, 100}, {0, 0, 200, 100}}));
  // The window shows the graph's picture: the speed diagram's background below.
  const QImage shown = scope_.grab().toImage();
  EXPECT_EQ(shown.pixel(599, 300) & 0xFFFFFF, kd::ColorToRgb(0xFDCBAC));
  EXPECT_EQ(shown.pixel(199, 50) & 0xFFFFFF, kd::ColorToRgb(0xD05104));
  // A click on the border between two diagrams selects none.
  QTest::mouseClick(&scope_, Qt::LeftButton, {}, QPoint(200, 50));
  EXPECT_EQ(scope_.laGraph.GetSelectedDgr(), nullptr);
  EXPECT_EQ(scope_.laGraph.GetDiagram(3), scope_.dgrSpeed);
}

TEST_F(ScopeWindow, ClickBetweenStateUpdatesIsLaidOutByTheNextPaint) {
  // The data module redraws the graph before the click's paint comes: that
  // paint still lays the diagrams out, so the speed diagram moves down.
  scope_.show();
  Idle();
  const kd::TRect speed = scope_.dgrSpeed->TrkArea();
  QTest::mouseClick(&scope_, Qt::LeftButton, {},
                    QPoint((speed.left + speed.right) / 2, (speed.top + speed.bottom) / 2));
  scope_.laGraph.Repaint();
  EXPECT_TRUE(PumpUntil([this] { return scope_.dgrSpeed->DrawArea().top == 100; }, 5s));
}

TEST(ScopePlace, PositionAndSizeFromAndToTheIniFileAndF8) {
  ProgramFolder folder;
  folder.WriteIni("[ScopeForm]\nTop=40\nLeft=30\nWidth=500\nHeight=410\n");
  {
    TProgramForms forms;
    EXPECT_EQ(ScopeForm->pos(), QPoint(30, 40));
    EXPECT_EQ(ScopeForm->size(), QSize(500, 410));
    MainForm->show();
    Idle();
    // F8 shows and hides the window, whether connected or not.
    EXPECT_TRUE(MainForm->acViewScope->isEnabled());
    MainForm->acViewScope->trigger();
    Idle();
    EXPECT_TRUE(ScopeForm->isVisible());
    EXPECT_TRUE(MainForm->acViewScope->isChecked());
    MainForm->acViewScope->trigger();
    Idle();
    EXPECT_FALSE(ScopeForm->isVisible());
    EXPECT_FALSE(MainForm->acViewScope->isChecked());
    // Closed while maximised: the restored place is kept.
    ScopeForm->show();
    ScopeForm->move(70, 80);
    ScopeForm->resize(520, 430);
    Idle();
    ScopeForm->showMaximized();
    Idle();
    ScopeForm->close();
    Idle();
    EXPECT_FALSE(ScopeForm->isVisible());
    EXPECT_FALSE(ScopeForm->isMaximized());
  }
  const kd::IniFile ini(folder.File("KD730_TuneDesk.ini"));
  EXPECT_EQ(ini.ReadInteger("ScopeForm", "Left", -1), 70);
  EXPECT_EQ(ini.ReadInteger("ScopeForm", "Top", -1), 80);
  EXPECT_EQ(ini.ReadInteger("ScopeForm", "Width", -1), 520);
  EXPECT_EQ(ini.ReadInteger("ScopeForm", "Height", -1), 430);
}

// The scope fed by kd730-sim through mbserver.
TEST(ScopeOnline, TracesOfTheRunningDrive) {
  ProgramFolder folder;
  folder.WriteIni("[ScopeForm]\nWidth=760\nHeight=520\n");
  folder.RegisterServer();
  SimulatedDrive drive(folder);
  TProgramForms forms;
  TScopeForm& scope = *ScopeForm;
  MainForm->show();
  MainForm->acOpenConnection->trigger();
  ASSERT_TRUE(PumpUntil([] {
    return CountLog("Data refreshed from drive.") > 0 && MainForm->acRefUp100->isEnabled();
  }));
  TlaDeviceKD730& d = *Network->laDevice;
  // The peak current from the setup read.
  EXPECT_EQ(scope.mrkIMaxPos->GetPoint().y, d.IpA->GetValueDouble(0));
  EXPECT_EQ(scope.mrkIMaxNeg->GetPoint().y, -d.IpA->GetValueDouble(0));

  // F8 in the main window (the drive-setup window opened on top of it).
  MainForm->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(MainForm));
  QTest::keyClick(MainForm, Qt::Key_F8);
  Idle();
  ASSERT_TRUE(scope.isVisible());
  // A speed reference of 60 %, and the drive runs up to it for a few seconds.
  for (int i = 0; i < 6; ++i) MainForm->acRefUp100->trigger();
  const int before = scope.trkArmature->GetPointCount();
  ASSERT_TRUE(PumpUntil([&] { return scope.trkArmature->GetPointCount() >= before + 40; }, 60s));
  EXPECT_GT(scope.trkArmature->GetYLimits().max, 10.0);
  EXPECT_NEAR(scope.trkReference->GetPoint(scope.trkReference->GetPointCount() - 1).y, 60.0, 0.1);
  EXPECT_GT(scope.trkDcBus->GetYLimits().min, 100.0);
  // Samples stand at the times of their state reads, one after the other.
  const double now = kd::Now();
  for (TlaTraccia* t : {scope.trkArmature, scope.trkDcBus}) {
    const int n = t->GetPointCount();
    EXPECT_LT(t->GetPoint(0).x, t->GetPoint(n - 1).x);
    EXPECT_NEAR(t->GetPoint(n - 1).x, now, 10 * kSecond);
  }
  // The window's picture holds every visible trace's colour in its diagram,
  // each trace drawn alone (the traces drawn after it would cover it where
  // they run together, as feedback does armature).
  auto expectColours = [&scope] {
    std::vector<TlaTraccia*> visible;
    for (TlaTraccia* t : AllTraces())
      if (t->GetVisible()) visible.push_back(t);
    for (TlaTraccia* t : visible) {
      for (TlaTraccia* other : visible) other->SetVisible(other == t);
      scope.laGraph.Repaint();
      const QImage shown = scope.grab().toImage();
      const kd::TRect p = t->OwnerDiagram()->TrkArea();
      int found = 0;
      for (int y = p.top; y <= p.bottom && y < shown.height(); ++y)
        for (int x = p.left; x <= p.right && x < shown.width(); ++x)
          found += (shown.pixel(x, y) & 0xFFFFFF) == kd::ColorToRgb(t->LinePen.Color());
      EXPECT_GT(found, 10) << t->OwnerDiagram()->GetTitle() << " " << t->GetTitle();
    }
    for (TlaTraccia* t : visible) t->SetVisible(true);
  };
  expectColours();
  // The speed diagram clicked to the front, and into the large area at the
  // next size change.
  const kd::TRect speed = scope.dgrSpeed->TrkArea();
  QTest::mouseClick(&scope, Qt::LeftButton, {},
                    QPoint((speed.left + speed.right) / 2, (speed.top + speed.bottom) / 2));
  const QSize size = scope.size();
  scope.resize(size + QSize(1, 1));
  scope.resize(size);
  ASSERT_TRUE(PumpUntil([&] { return scope.dgrSpeed->DrawArea().top == 100; }));
  SaveScreenshot("scope-live.png", &scope);

  // Current mode: the current reference pair takes over.
  d.CfgFlags->SetValueBit(0, 9, true);
  ASSERT_TRUE(d.WriteReg(d.CfgFlags, true));
  ASSERT_TRUE(PumpUntil([&] { return scope.trkIRef->GetPointCount() >= 10; }, 60s));
  EXPECT_FALSE(scope.trkReference->GetVisible());
  EXPECT_TRUE(scope.mrkIRef->GetVisible());
  for (TlaTraccia* t : AllTraces()) EXPECT_GT(t->GetPointCount(), 5) << t->GetTitle();
  expectColours();
}

}  // namespace
