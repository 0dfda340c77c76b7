// The oscilloscope's four-diagram layout rendered with known samples; the
// pictures are saved as PNG next to the test binary.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <string>
#include <vector>

#include "ScopeLayout.h"

namespace {

constexpr int kW = 460, kH = 340;

std::string OutputFile(const char* name) { return std::string(KD_GRAPH_OUTPUT_DIR) + "/" + name; }

// Pixel of a sample of a trace, as the trace maps it.
kd::TPoint SamplePixel(const TlaDiagram* d, const TlaTraccia* t, int i) {
  const kd::TRect p = d->TrkArea();
  const TlaScala* x = d->GetScalaX();
  const TlaScala* y = d->GetScalaY();
  const Tla2DPoint s = t->GetPoint(i);
  return {PixelTrunc((s.x - x->Range.min) * x->GetPixelsPerUnit()) + p.left,
          p.bottom - PixelTrunc((s.y - y->Range.min) * y->GetPixelsPerUnit())};
}

// Pixels of a picture in one colour.
std::vector<kd::TPoint> PixelsOf(const QImage& image, kd::TColor color) {
  std::vector<kd::TPoint> found;
  const QRgb rgb = kd::ColorToRgb(color);
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((row[x] & 0xFFFFFF) == rgb) found.emplace_back(x, y);
  }
  return found;
}

// The thin line through the points in a pen style, on white.
QImage ThinLine(const std::vector<kd::TPoint>& points, int style, int w = 60, int h = 60) {
  kd::TBitmap bmp(w, h);
  kd::TCanvas& c = bmp.Canvas();
  c.Pen().Set(kd::clBlack, kd::pmCopy, style, 1);
  if (points.size() == 2) c.Line(points[0].x, points[0].y, points[1].x, points[1].y);
  else c.Polyline(points);
  return bmp.Image().copy();
}

// Pixels the patterned line sets that the solid one does not; how many it
// sets at all in lit.
int OffTheSolidLine(const std::vector<kd::TPoint>& points, int style, int& lit, int w = 60, int h = 60) {
  const QImage solid = ThinLine(points, kd::psSolid, w, h), patterned = ThinLine(points, style, w, h);
  const std::vector<kd::TPoint> on = PixelsOf(patterned, kd::clBlack);
  lit = static_cast<int>(on.size());
  int off = 0;
  for (const kd::TPoint& p : on) off += (solid.pixel(p.x, p.y) & 0xFFFFFF) != 0;
  return off;
}

constexpr int kPatterns[] = {kd::psDash, kd::psDot, kd::psDashDot, kd::psDashDotDot};

int RowOf(const TlaDiagram* d, double v) {
  const TlaScala* y = d->GetScalaY();
  return d->TrkArea().bottom - PixelTrunc((v - y->Range.min) * y->GetPixelsPerUnit());
}

}  // namespace

TEST(ScopePixels, FourDiagramLayout) {
  scope::ScopeGraph s(kW, kH);
  s.Fill(400);  // past the 320 kept: the oldest were dropped
  TlaGraph& g = s.graph;
  for (TlaDiagram* d : s.dgr)
    for (TlaTraccia* t : d->Traces()) ASSERT_EQ(t->GetPointCount(), 320);
  int refreshed = 0;
  g.OnRefreshed = [&](kd::Component*, kd::TBitmap*, bool&) { ++refreshed; };
  g.Repaint();
  EXPECT_EQ(refreshed, 1);
  g.SaveToFile(OutputFile("scope.png"));
  ASSERT_FALSE(QImage(QString::fromStdString(OutputFile("scope.png"))).isNull());
  kd::TCanvas& c = g.Bitmap().Canvas();

  // Every diagram's background, at the outer edge of its Y scale band.
  for (int i = 0; i < 4; ++i) {
    const kd::TRect a = s.dgr[i]->DrawArea();
    EXPECT_EQ(c.Pixel(std::min(a.right, kW) - 1, (a.top + a.bottom) / 2), scope::kDiagrams[i].back) << i;
  }
  // The shared time axis: one range, the samples kept.
  const double first = scope::kT0 + 80 * 0.1 * scope::kSecond;
  EXPECT_DOUBLE_EQ(s.xScale->Range.min, first);
  for (TlaDiagram* d : s.dgr) EXPECT_EQ(d->GetScalaX(), s.xScale);

  // The DC-bus diagram below: plot background and the ramp at known samples.
  TlaDiagram* bus = s.dgr[3];
  const kd::TRect p = bus->TrkArea();
  EXPECT_EQ(bus->DrawArea(), (kd::TRect{0, 100, kW, kH}));
  EXPECT_EQ(c.Pixel(p.left + 2, RowOf(bus, 650)), 0xC0C0C0);
  TlaTraccia* volt = bus->Traces()[0];
  for (int i : {50, 130, 250}) {  // values off the grid lines
    const kd::TPoint px = SamplePixel(bus, volt, i);
    ASSERT_TRUE(PtInsideRect(px, p));
    EXPECT_EQ(c.Pixel(px.x, px.y), 0xFF00FF) << i;
  }
  // The plot frame one pixel outside the plot, in the scale's text colour.
  EXPECT_EQ(c.Pixel(p.left - 1, (p.top + p.bottom) / 2), kd::clWhite);
  EXPECT_EQ(c.Pixel(p.right + 1, (p.top + p.bottom) / 2), kd::clWhite);

  // A click in the DC-bus plot selects the diagram: the selection boxes
  // appear after its title.
  c.Font().Assign(bus->TitleFont);
  const int w = c.TextWidth(bus->GetTitle()), h = c.TextHeight(bus->GetTitle());
  const kd::TRect tb = bus->TitleBand();
  const kd::TPoint boxTop{tb.left + w + 5 + h / 2, tb.top + 2};
  EXPECT_EQ(c.Pixel(boxTop.x, boxTop.y), scope::kDiagrams[3].back);
  g.SelectAtPos({p.left + 50, p.top + 30});
  EXPECT_EQ(g.GetSelectedDgr(), bus);
  g.Repaint();
  EXPECT_EQ(c.Pixel(boxTop.x, boxTop.y), kd::clWhite);
  g.SaveToFile(OutputFile("scope_selected.png"));
}

TEST(ScopePixels, ClickedDiagramTakesTheLargeAreaAfterResize) {
  scope::ScopeGraph s(kW, kH);
  s.Fill(320);
  TlaGraph& g = s.graph;
  g.Repaint();
  // Click the small speed diagram, bring it to the front, then lay out anew.
  const kd::TRect small = s.dgr[0]->TrkArea();
  g.SelectAtPos({(small.left + small.right) / 2, (small.top + small.bottom) / 2});
  ASSERT_EQ(g.GetSelectedDgr(), s.dgr[0]);
  g.BringToFront(g.GetSelectedDgr());
  s.Layout(kW, kH);
  g.Repaint();
  EXPECT_EQ(s.dgr[0]->DrawArea(), (kd::TRect{0, 100, kW, kH}));
  EXPECT_EQ(s.dgr[3]->DrawArea(), (kd::TRect{0, 0, kW / 3, 100}));  // DC bus, voltage, current from the left
  EXPECT_EQ(s.dgr[2]->DrawArea(), (kd::TRect{kW / 3, 0, 2 * kW / 3, 100}));
  EXPECT_EQ(s.dgr[1]->DrawArea(), (kd::TRect{2 * kW / 3, 0, kW, 100}));
  kd::TCanvas& c = g.Bitmap().Canvas();
  EXPECT_EQ(c.Pixel(kW - 1, 200), scope::kDiagrams[0].back);
  EXPECT_EQ(c.Pixel(kW / 3 - 1, 50), scope::kDiagrams[3].back);
  // The speed legend moved along with its diagram.
  EXPECT_EQ(s.dgr[0]->GetLegenda()->DrawArea.top, 100);
  g.SaveToFile(OutputFile("scope_speed_front.png"));
}

TEST(PatternedLines, SetOnlyPixelsOfTheSolidLine) {
  // Every slope from one start: all octants, steep and shallow, the axes,
  // the diagonals and steps of one pixel; then longer ones.
  std::vector<kd::TPoint> ends;
  for (int dy = -9; dy <= 9; ++dy)
    for (int dx = -9; dx <= 9; ++dx) ends.emplace_back(dx, dy);
  for (const kd::TPoint e : {kd::TPoint{27, 1}, kd::TPoint{27, 13}, kd::TPoint{-26, 25},
                             kd::TPoint{5, -28}, kd::TPoint{-1, -27}, kd::TPoint{-28, -19}})
    ends.push_back(e);
  for (int style : kPatterns) {
    for (const kd::TPoint e : ends) {
      const std::vector<kd::TPoint> segment = {{30, 30}, {30 + e.x, 30 + e.y}};
      int lit = 0;
      EXPECT_EQ(OffTheSolidLine(segment, style, lit), 0) << "style " << style << " to " << e.x << "," << e.y;
      if (!(e == kd::TPoint{0, 0})) {
        EXPECT_GT(lit, 0) << style << " " << e.x << "," << e.y;
      }
    }
    // A staircase of one-pixel steps and a zigzag through every octant.
    const std::vector<std::vector<kd::TPoint>> polylines = {
        {{5, 5}, {6, 5}, {6, 6}, {7, 6}, {7, 7}, {8, 7}, {8, 8}, {9, 9}, {10, 9}, {11, 10}},
        {{30, 30}, {50, 37}, {37, 50}, {30, 31}, {10, 38}, {23, 55}, {29, 29}, {9, 22}, {22, 3}, {45, 20}}};
    for (const auto& line : polylines) {
      int lit = 0;
      EXPECT_EQ(OffTheSolidLine(line, style, lit), 0) << "style " << style << " polyline of " << line.size();
    }
  }
}

TEST(PatternedLines, ScopeLikePolylineStaysOnTheSolidOne) {
  // 320 samples of a noisy speed across a 1024-pixel plot, as a trace maps them.
  std::vector<kd::TPoint> line;
  for (int i = 0; i < 320; ++i)
    line.emplace_back(1 + i * 1021 / 319, 200 - PixelTrunc(150 * std::sin(i / 25.0) + 30 * std::sin(i * 1.7)));
  for (int style : kPatterns) {
    int lit = 0;
    EXPECT_EQ(OffTheSolidLine(line, style, lit, 1024, 400), 0) << "style " << style;
    EXPECT_GT(lit, 1000) << "style " << style;
  }
}

TEST(PatternedLines, SolidTraceOverTheSameSamplesHidesTheDashedOne) {
  // The speed diagram's dashed "Armature" and solid "Feedback", drawn in that
  // order, carry the same samples: no dash shows beside the solid line.
  scope::ScopeGraph s(1024, 768);
  TlaGraph& g = s.graph;
  g.BringToFront(s.dgr[0]);
  s.Layout(1024, 768);
  TlaDiagram* speed = s.dgr[0];
  TlaTraccia* armature = speed->GetTraccia("Armature");
  TlaTraccia* feedback = speed->GetTraccia("Feedback");
  speed->GetTraccia("Reference")->SetVisible(false);
  for (TlaMarker* m : speed->Markers()) m->SetVisible(false);
  speed->GetLegenda()->SetVisible(false);
  for (int i = 0; i < 320; ++i) {
    const double x = scope::kT0 + i * 0.1 * scope::kSecond, y = 60 + 40 * std::sin(i / 25.0) + 9 * std::sin(i * 1.3);
    armature->AddPoint(false, x, y);
    feedback->AddPoint(false, x, y);
  }
  g.Repaint();
  const kd::TRect p = speed->TrkArea();
  const QImage both = g.Bitmap().Image().copy(p.left, p.top, p.Width() + 1, p.Height() + 1);
  EXPECT_TRUE(PixelsOf(both, armature->LinePen.Color()).empty());
  EXPECT_GT(PixelsOf(both, feedback->LinePen.Color()).size(), 500u);
  g.SaveToFile(OutputFile("scope_same_samples.png"));
}
