// Traces, scales, legends and markers.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "Formats.h"
#include "Tladiagram.h"
#include "Tlagraph.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"

namespace {

inline std::string Numbered(const char* prefix, int i) {
  std::string s(prefix);
  s += std::to_string(i);
  return s;
}

struct Small {
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("D");
  TlaTraccia* t = d->CreateNewTraccia("t");
};

// Scales with a chosen pixels-per-unit over [0, len]: band width 2 + ppu*len.
struct Axes {
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("D");
  TlaScala x{d, 2, "x"};
  TlaScala y{d, 4, "y"};
  kd::TBitmap bmp{60, 60};
  Axes(double ppu, TlaRange xr, TlaRange yr) {
    x.Range = xr;
    y.Range = yr;
    x.DrawArea = {0, 0, 2 + static_cast<int>(ppu * TlaRange::Length(xr)), 0};
    y.DrawArea = {0, 0, 0, 2 + static_cast<int>(ppu * TlaRange::Length(yr))};
    bmp.Canvas().Brush().Set(kd::clBlack, kd::bsSolid);
    bmp.Canvas().FillRect({0, 0, 60, 60});
  }
  kd::TColor At(int px, int py) { return bmp.Canvas().Pixel(px, py); }
};

// A marker over a 100 x 100 plot at (10, 10) with a bottom X scale and a Y
// scale of the given side, both over [0, 10].
struct MarkerScene : Small {
  TlaMarker* m = d->CreateNewMarker("m");
  TlaScala x{d, 2, "x"};
  TlaScala y;
  kd::TBitmap bmp{200, 200};
  explicit MarkerScene(std::uint8_t yAlign) : y(d, yAlign, "y") {
    x.Range = {0, 10};
    y.Range = {0, 10};
    x.DrawArea = {9, 0, 111, 10};
    y.DrawArea = {0, 9, 10, 111};
    m->DrawArea = {10, 10, 110, 110};
  }
};

}  // namespace

TEST(Trace, DropOldestAndLimits) {
  Small s;
  s.t->AddPoint(true, 1, 5);
  EXPECT_EQ(s.t->GetPointCount(), 1);
  s.t->AddPoint(true, 3, 2);
  EXPECT_EQ(s.t->GetPointCount(), 2);
  s.t->AddPoint(true, 2, 9);
  EXPECT_EQ(s.t->GetPointCount(), 2);  // (1, 5) dropped

  Small u;
  for (auto [x, y] : {std::pair{1.0, 5.0}, {3.0, 2.0}, {2.0, 9.0}}) u.t->AddPoint(false, x, y);
  EXPECT_EQ(u.t->GetXLimits(), (TlaRange{1, 3}));
  EXPECT_EQ(u.t->GetYLimits(), (TlaRange{2, 9}));
  u.t->DeleteFirstPoints(1);
  EXPECT_EQ(u.t->GetXLimits(), (TlaRange{2, 3}));
  EXPECT_EQ(u.t->GetYLimits(), (TlaRange{2, 9}));
  u.t->DeleteFirstPoints(2);  // not more than held
  u.t->DeleteFirstPoints(0);
  u.t->DeleteFirstPoints(-3);
  EXPECT_EQ(u.t->GetPointCount(), 2);
  u.t->ClearPoints();
  EXPECT_EQ(u.t->GetPointCount(), 0);
  EXPECT_EQ(u.t->GetYLimits(), (TlaRange{2, 9}));
  u.t->AddPoint(false, 7, 7);
  EXPECT_EQ(u.t->GetXLimits(), (TlaRange{7, 7}));
}

TEST(Trace, RollingWindowKeepsExactExtent) {
  Small s;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> v(-100, 100);
  std::vector<Tla2DPoint> window;
  const size_t keep = 37;
  for (int i = 0; i < 2000; ++i) {
    const Tla2DPoint p{v(rng), v(rng)};
    const bool full = window.size() >= keep;
    s.t->AddPoint(full, p.x, p.y);
    if (full && window.size() > 1) window.erase(window.begin());
    window.push_back(p);
    if (i % 97 == 0 && window.size() > 5) {
      s.t->DeleteFirstPoints(5);
      window.erase(window.begin(), window.begin() + 5);
    }
    auto [xlo, xhi] = std::minmax_element(window.begin(), window.end(), [](auto& a, auto& b) { return a.x < b.x; });
    auto [ylo, yhi] = std::minmax_element(window.begin(), window.end(), [](auto& a, auto& b) { return a.y < b.y; });
    ASSERT_EQ(s.t->GetPointCount(), static_cast<int>(window.size()));
    ASSERT_EQ(s.t->GetXLimits(), (TlaRange{xlo->x, xhi->x})) << i;
    ASSERT_EQ(s.t->GetYLimits(), (TlaRange{ylo->y, yhi->y})) << i;
  }
  EXPECT_EQ(s.t->GetPoint(0), window.front());
  EXPECT_EQ(s.t->GetPoint(s.t->GetPointCount() - 1), window.back());
}

TEST(Trace, CursorPointComesAndGoes) {
  Small s;
  TlaScala x(s.d, 2, "x"), y(s.d, 4, "y");
  x.Range = {0, 100};
  y.Range = {0, 50};
  s.t->DrawArea = {10, 10, 110, 60};
  s.t->SetCursorAt(nullptr, &y, {20, 20});
  EXPECT_EQ(s.t->GetCursorPoint(), nullptr);
  s.t->SetCursorAt(&x, &y, {60, 35});
  ASSERT_NE(s.t->GetCursorPoint(), nullptr);
  EXPECT_DOUBLE_EQ(s.t->GetCursorPoint()->x, 50);
  EXPECT_DOUBLE_EQ(s.t->GetCursorPoint()->y, 25);
  s.t->SetCursor(true);
  s.t->SetCursor(false);
  EXPECT_EQ(s.t->GetCursorPoint(), nullptr);
  s.t->DrawArea = {10, 10, 10, 10};  // no room: no division by zero
  s.t->SetCursorAt(&x, &y, {12, 12});
  EXPECT_DOUBLE_EQ(s.t->GetCursorPoint()->x, 0);
}

TEST(Trace, StepsBarsAndSymbols) {
  const kd::TColor pen = 0x00FFFF;
  {
    Axes a(10, {0, 1}, {0, 1});
    TlaTraccia t(a.d, "steps");
    t.DrawArea = {5, 5, 45, 45};
    t.LinePen.SetColor(pen);
    t.SetTrkType(2);
    t.AddPoint(false, 0, 0);
    t.AddPoint(false, 1, 1);
    ASSERT_TRUE(t.Draw(&a.bmp.Canvas(), &a.x, &a.y));
    EXPECT_EQ(a.At(5, 45), pen);   // the bottom row of the plot is drawn
    EXPECT_EQ(a.At(14, 45), pen);  // horizontal to (left + 10, bottom)
    EXPECT_EQ(a.At(15, 40), pen);  // then up
    EXPECT_EQ(a.At(15, 36), pen);
    EXPECT_NE(a.At(15, 35), pen);  // last pixel left out
    EXPECT_NE(a.At(10, 40), pen);
  }
  {
    Axes a(2, {0, 10}, {-5, 5});
    TlaTraccia t(a.d, "bars");
    t.DrawArea = {5, 5, 45, 45};
    t.LineBrush.SetColor(pen);
    t.SetTrkType(3);
    t.AddPoint(false, 0, -4);
    t.AddPoint(false, 5, 4);
    t.AddPoint(false, 10, 0);
    ASSERT_TRUE(t.Draw(&a.bmp.Canvas(), &a.x, &a.y));
    // Row of y = 0 is 45 - 10 = 35; the negative bar hangs below it.
    EXPECT_EQ(a.At(8, 40), pen);
    EXPECT_NE(a.At(8, 30), pen);
    EXPECT_EQ(a.At(18, 30), pen);
    EXPECT_NE(a.At(18, 40), pen);
  }
  {
    Axes a(4, {0, 10}, {0, 10});
    TlaTraccia t(a.d, "squares");
    t.DrawArea = {5, 5, 45, 45};
    t.LinePen.SetColor(pen);
    t.LineBrush.SetColor(pen);
    t.SetTrkType(0);
    t.Dotted = 2;
    t.AddPoint(false, 2, 2);
    t.AddPoint(false, 8, 8);
    ASSERT_TRUE(t.Draw(&a.bmp.Canvas(), &a.x, &a.y));
    EXPECT_EQ(a.At(13, 37), pen);  // the square around (13, 37)
    EXPECT_EQ(a.At(11, 35), pen);
    EXPECT_NE(a.At(20, 30), pen);  // no line between the samples
    EXPECT_EQ(a.At(37, 13), pen);
  }
  {
    Axes a(4, {0, 10}, {0, 10});
    TlaTraccia t(a.d, "hidden");
    t.SetVisible(false);
    EXPECT_FALSE(t.Draw(&a.bmp.Canvas(), &a.x, &a.y));
    t.SetVisible(true);
    EXPECT_FALSE(t.Draw(&a.bmp.Canvas(), nullptr, &a.y));
  }
}

TEST(Trace, DenseLineDrawsTheSamePixels) {
  // Many samples per pixel column are cut to a few points; the picture must
  // not change.
  auto render = [](int n, bool reduced) {
    Axes a(1, {0, 40}, {0, 40});
    TlaTraccia t(a.d, "dense");
    t.DrawArea = {5, 5, 45, 45};
    t.LinePen.SetColor(0xFFFFFF);
    for (int i = 0; i < n; ++i) t.AddPoint(false, 40.0 * i / n, 20 + 19 * std::sin(i * 0.37));
    if (reduced) {
      t.Draw(&a.bmp.Canvas(), &a.x, &a.y);
    } else {
      kd::TCanvas& c = a.bmp.Canvas();
      c.SetClipRect({5, 5, 46, 46});
      c.Pen().Assign(t.LinePen);
      std::vector<kd::TPoint> pts;
      for (int i = 0; i < n; ++i)
        pts.emplace_back(PixelTrunc(t.GetPoint(i).x) + 5, 45 - PixelTrunc(t.GetPoint(i).y));
      c.Polyline(pts);
    }
    return a.bmp.Image().copy();
  };
  const QImage reduced = render(3000, true), full = render(3000, false);
  int differ = 0;
  for (int yy = 0; yy < 60; ++yy)
    for (int xx = 0; xx < 60; ++xx)
      if (reduced.pixel(xx, yy) != full.pixel(xx, yy)) {
        ++differ;
        ADD_FAILURE() << xx << "," << yy << " " << std::hex << reduced.pixel(xx, yy) << " " << full.pixel(xx, yy);
      }
  EXPECT_EQ(differ, 0);
}

TEST(Trace, DashPatternRunsAlongTheWholeLine) {
  // Samples four to a pixel along a bend: the thin dashed or dotted line
  // must show the same pixels as the bend drawn from its three corners, not
  // a solid line of pattern starts.
  for (int style : {kd::psDash, kd::psDot, kd::psDashDot}) {
    auto render = [style](bool dense) {
      Axes a(1, {0, 40}, {0, 40});
      TlaTraccia t(a.d, "limit");
      t.DrawArea = {5, 5, 45, 45};
      t.LinePen.Set(0xFFFFFF, kd::pmCopy, style, 1);
      const double step = dense ? 0.25 : 20;
      for (double x = 0; x <= 40; x += step) t.AddPoint(false, x, x <= 20 ? 10 : x - 10);
      t.Draw(&a.bmp.Canvas(), &a.x, &a.y);
      return a.bmp.Image().copy();
    };
    const QImage dense = render(true), corners = render(false);
    int differ = 0;
    for (int yy = 0; yy < 60; ++yy)
      for (int xx = 0; xx < 60; ++xx) differ += dense.pixel(xx, yy) != corners.pixel(xx, yy);
    EXPECT_EQ(differ, 0) << "style " << style;
    // The flat part (row 35) starts lit and has gaps.
    EXPECT_EQ(corners.pixel(5, 35) & 0xFFFFFF, 0xFFFFFFu) << "style " << style;
    int dark = 0;
    for (int xx = 5; xx < 25; ++xx) dark += (dense.pixel(xx, 35) & 0xFFFFFF) == 0;
    EXPECT_GE(dark, 5) << "style " << style;
  }
}

TEST(Trace, DashPatternOfLinesFromFarOutside) {
  // Only the visible part is walked; the pattern keeps its phase there.
  auto row = [](int from) {
    kd::TBitmap bmp(40, 4);
    kd::TCanvas& c = bmp.Canvas();
    c.Pen().Set(0x0000FF, kd::pmCopy, kd::psDot, 1);
    c.Line(from, 1, 39, 1);
    std::string s;
    for (int x = 0; x < 40; ++x) s += c.Pixel(x, 1) == 0x0000FF ? '#' : '.';
    return s;
  };
  EXPECT_EQ(row(-3999999), row(0));
  EXPECT_EQ(row(-3999998), row(-2));
  EXPECT_EQ(row(0).substr(0, 7), "#..#..#");

  // A trace whose samples leap across the whole pixel range.
  Axes a(1, {0, 40}, {0, 40});
  TlaTraccia t(a.d, "wild");
  t.DrawArea = {5, 5, 45, 45};
  t.LinePen.Set(0xFFFFFF, kd::pmCopy, kd::psDash, 1);
  for (int i = 0; i < 320; ++i) t.AddPoint(false, i / 8.0, i % 2 ? 1e12 : -1e12);
  EXPECT_TRUE(t.Draw(&a.bmp.Canvas(), &a.x, &a.y));
}

TEST(Scale, TickStep) {
  struct Case {
    double step, length, ppu, extent, expected;
  } cases[] = {
      {100, 10, 10, 0, 1},    // shrunk to 1: 0.5 * 10 is not below 1
      {1, 10, 3, 25, 10},     // 2 and 5 too close, 10 taken in one pass
      {1, 10, 10, 20, 2},     // exactly the extent is enough
      {1, 100, 1, 150, 200},  // two passes
      {-1, 10, 10, 5, 0},     // negative: no ticks
      {0, 10, 10, 5, 0},
      {1, 0, 10, 5, 0},       // empty range
      {1, -10, 10, 5, 0},     // reversed range ends
      {1e-9, 10, 10, 0, 0.1}, // labels without room: still at most one tick per pixel
  };
  for (const Case& c : cases)
    EXPECT_NEAR(TlaScala::TickStep(c.step, c.length, c.ppu, c.extent), c.expected, 1e-12)
        << c.step << " " << c.length << " " << c.ppu << " " << c.extent;
}

TEST(Scale, TickValues) {
  std::vector<double> t = TlaScala::TickValues(-3.7, 5, 2, 100);
  EXPECT_EQ(t, (std::vector<double>{-2, 0, 2, 4}));
  t = TlaScala::TickValues(0, 10, 2, 100);
  EXPECT_EQ(t, (std::vector<double>{2, 4, 6, 8, 10}));
  EXPECT_TRUE(TlaScala::TickValues(0, 10, 0, 100).empty());
  EXPECT_EQ(TlaScala::TickValues(0, 1e6, 1, 50).size(), 50u);
  EXPECT_LE(TlaScala::TickValues(1e20, 1e20 + 1e5, 1, 1000).size(), 1000u);  // steps lost in rounding end
}

TEST(Scale, PixelsPerUnitAndLabels) {
  Small s;
  TlaScala x(s.d, 2, "x");
  x.DrawArea = {0, 0, 102, 10};
  x.Range = {0, 0};
  EXPECT_DOUBLE_EQ(x.GetPixelsPerUnit(), 1.0);
  x.Range = {0, 50};
  EXPECT_DOUBLE_EQ(x.GetPixelsPerUnit(), 2.0);
  TlaScala y(s.d, 3, "y");
  y.DrawArea = {0, 0, 10, 52};
  y.Range = {-5, 5};
  EXPECT_DOUBLE_EQ(y.GetPixelsPerUnit(), 5.0);

  x.SetText("000.0");
  EXPECT_EQ(x.LabelText(3.14159), "003.1");
  const double noon = kd::EncodeDate(2024, 3, 1) + 0.5;
  x.SetIsTime(true);
  EXPECT_EQ(x.LabelText(noon), "12:00:00");
  x.SetIsDate(true);
  EXPECT_EQ(x.LabelText(noon), "01/03/2024");
  EXPECT_EQ(x.TimeText(noon), "12:00:00");
}

TEST(Scale, TicksAndGridStandAtTheirValues) {
  const kd::TColor tickColor = 0x00FFFF, gridColor = 0x0000FF;
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("D");
  TlaScala x(d, 2, "x");
  kd::TBitmap bmp(110, 80);
  kd::TCanvas& c = bmp.Canvas();
  c.Brush().Set(kd::clBlack, kd::bsSolid);
  c.FillRect({0, 0, 110, 80});
  x.DrawArea = {0, 50, 102, 70};
  x.TrkArea = {1, 1, 101, 49};
  x.Range = {0, 10};
  x.SetDivStep(2);
  x.LinePen.SetColor(tickColor);
  x.GridPen.Set(gridColor, kd::pmCopy, kd::psSolid, 1);
  x.SetText("0");  // narrow labels: every step of 2 has room
  x.TextVisible = false;
  x.SetTitleVisible(false);
  ASSERT_TRUE(x.Draw(&c));
  for (int v = 0; v <= 10; ++v) {
    const int px = 1 + 10 * v;
    const bool tick = v % 2 == 0 && v > 0;
    EXPECT_EQ(c.Pixel(px, 53), tick || v == 0 ? tickColor : kd::clBlack) << v;  // end tick at 0
    EXPECT_EQ(c.Pixel(px, 25), tick ? gridColor : kd::clBlack) << v;
  }
  // A band 2 pixels high keeps its end ticks but has no ticks.
  c.Brush().Set(kd::clBlack, kd::bsSolid);
  c.FillRect({0, 0, 110, 80});
  x.DrawArea = {0, 50, 102, 52};
  x.Draw(&c);
  EXPECT_EQ(c.Pixel(1, 51), tickColor);
  EXPECT_EQ(c.Pixel(21, 51), kd::clBlack);
  EXPECT_EQ(c.Pixel(21, 25), kd::clBlack);
}

TEST(Legend, CellsAndClicks) {
  Small s;
  TlaDiagram* d = s.d;
  d->SetDrawArea({0, 0, 300, 200});
  d->CreateNewLegenda("L");
  TlaLegenda* l = d->GetLegenda();
  kd::TCanvas& c = s.g.Bitmap().Canvas();

  // Without traces only "Empty" is drawn: remove the one Small made.
  delete s.t;
  EXPECT_TRUE(l->Draw(&c));  // "Empty"
  EXPECT_EQ(l->TracciaAtPos({l->DrawArea.left + 3, l->DrawArea.top + 3}), nullptr);

  TlaTraccia* a = d->CreateNewTraccia("alpha");
  TlaTraccia* b = d->CreateNewTraccia("beta");
  l->ColCount = 4;
  l->Draw(&c);
  EXPECT_EQ(l->ColCount, 2);
  EXPECT_EQ(l->GetRowCount(), 1);
  TlaTraccia* g3 = d->CreateNewTraccia("gamma");
  l->Draw(&c);
  EXPECT_EQ(l->GetRowCount(), 1);  // the third trace has no cell
  const int top = l->DrawArea.top + 2;
  EXPECT_EQ(l->TracciaAtPos({l->DrawArea.left + 3, top}), a);
  EXPECT_EQ(l->TracciaAtPos({l->DrawArea.left + l->GetCellWidth() + 3, top}), b);
  EXPECT_EQ(l->TracciaAtPos({l->DrawArea.left + 2 * l->GetCellWidth() + 3, top}), nullptr);
  EXPECT_EQ(l->TracciaAtPos({l->DrawArea.left + 1, top}), nullptr);  // on the cell border

  l->ColCount = 0;  // from a setup text: taken as 1
  EXPECT_TRUE(l->Draw(&c));
  EXPECT_EQ(l->ColCount, 1);
  EXPECT_EQ(l->GetRowCount(), 3);

  // Cells of the last drawing outlive a trace that is gone: no cell reads past the list.
  const int cellY = l->DrawArea.top + 2 * l->GetCellHeight() + 3;
  delete g3;
  EXPECT_EQ(l->TracciaAtPos({l->DrawArea.left + 3, cellY}), nullptr);

  l->SetVisible(false);
  EXPECT_FALSE(l->Draw(&c));
}

TEST(Legend, OnlyVisibleLeavesHiddenCellsEmpty) {
  TlaGraph g;
  g.SetWidth(300);
  TlaDiagram* d = g.CreateNewDiagram("D");
  d->SetDrawArea({0, 0, 299, 200});
  const kd::TColor colours[3] = {0x0000FF, 0x00FF00, 0xFF0000};
  for (int i = 0; i < 3; ++i) d->CreateNewTraccia(Numbered("trace", i))->LinePen.SetColor(colours[i]);
  d->Traces()[0]->SetVisible(false);
  d->CreateNewLegenda("L");
  TlaLegenda* l = d->GetLegenda();
  l->ColCount = 3;
  l->OnlyVisible = true;
  l->LineVisible = false;
  kd::TCanvas& c = g.Bitmap().Canvas();
  c.Brush().Set(kd::clBlack, kd::bsSolid);
  c.FillRect({0, 0, 300, 240});
  l->Draw(&c);
  c.Font().Assign(l->TitleFont);
  const int h = c.TextHeight("trace0");
  // The coloured underline of each shown title, none in the first cell.
  for (int i = 0; i < 3; ++i) {
    const int x = l->DrawArea.left + 2 + i * l->GetCellWidth() + 3;
    EXPECT_EQ(c.Pixel(x, l->DrawArea.top + h), i == 0 ? kd::clBlack : colours[i]) << i;
  }
  EXPECT_EQ(c.Pixel(l->DrawArea.left, l->DrawArea.top + 1), kd::clBlack);  // no frame
}

TEST(Marker, SettersAndHitTest) {
  MarkerScene s(3);
  TlaMarker* m = s.m;
  TlaScala& x = s.x;
  TlaScala& y = s.y;
  kd::TBitmap& bmp = s.bmp;
  int changes = 0;
  s.g.OnRefreshQuery = [&](kd::Component*, kd::TBitmap*, bool&) { ++changes; };
  m->SetPoint({1e99, 1e99});
  EXPECT_EQ(changes, 0);
  m->SetPoint({1e99, 3});
  EXPECT_EQ(changes, 1);
  m->SetOrType(laOrHorizontal);
  m->SetHighlight(0);
  EXPECT_EQ(changes, 2);

  m->SetPoint({10, 0});  // both on a range end: inside
  ASSERT_TRUE(m->Draw(&bmp.Canvas(), &x, &y));
  const kd::TRect yl = m->GetYTextArea();
  EXPECT_EQ(yl.right, 10 - 7);  // left Y scale: the label stands left of the plot
  EXPECT_EQ(m->GetXTextArea(), kd::TRect{});  // orientation 1 left out
  EXPECT_TRUE(m->HitTest({yl.left + 1, yl.top + 1}));
  EXPECT_EQ(m->GetHighlight(), 2);
  EXPECT_FALSE(m->HitTest({yl.left, yl.top + 1}));  // its edge is outside
  EXPECT_EQ(m->GetHighlight(), 0);

  m->SetOrType(laOrVertical | laOrHorizontal);
  ASSERT_TRUE(m->Draw(&bmp.Canvas(), &x, &y));
  const kd::TRect xl = m->GetXTextArea();
  EXPECT_EQ(xl.top, 110 + 8);  // bottom X scale: the label stands below
  EXPECT_TRUE(m->HitTest({(xl.left + xl.right) / 2, xl.top + 2}));
  EXPECT_EQ(m->GetHighlight(), 1);

  m->SetVisible(false);
  EXPECT_FALSE(m->Draw(&bmp.Canvas(), &x, &y));
}

TEST(Marker, OutsideTheRangesDrawsNothing) {
  MarkerScene s(4);
  TlaMarker* m = s.m;
  m->SetMrkType(4);
  m->SetDotted(1);
  kd::TBitmap& bmp = s.bmp;
  kd::TCanvas& c = bmp.Canvas();
  c.Brush().Set(kd::clBlack, kd::bsSolid);
  c.FillRect({0, 0, 200, 200});
  const QImage before = bmp.Image().copy();
  ASSERT_TRUE(m->Draw(&c, &s.x, &s.y));  // the default point lies far outside
  EXPECT_EQ(bmp.Image(), before);
  EXPECT_FALSE(m->HitTest({50, 50}));
}

TEST(Marker, DateAndTimeLabelHasTwoLines) {
  MarkerScene s(4);
  TlaMarker* m = s.m;
  TlaScala& x = s.x;
  TlaScala& y = s.y;
  m->SetOrType(laOrVertical);
  const double noon = kd::EncodeDate(2024, 3, 1) + 0.5;
  x.Range = {noon - 1, noon + 1};
  m->SetPoint({noon, 5});
  kd::TCanvas& c = s.bmp.Canvas();
  c.Font().Assign(m->TextFont);
  const int th = c.TextHeight("0");

  x.SetIsTime(true);
  m->Draw(&c, &x, &y);
  EXPECT_EQ(m->GetXTextArea().bottom - m->GetXTextArea().top, th);
  x.SetIsDate(true);
  m->Draw(&c, &x, &y);
  EXPECT_EQ(m->GetXTextArea().bottom - m->GetXTextArea().top, th + 3 * (th / 4));
  c.Font().Assign(m->TextFont);
  EXPECT_GE(m->GetXTextArea().right - m->GetXTextArea().left, c.TextWidth("01/03/2024"));
}
