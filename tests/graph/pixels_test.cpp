// The oscilloscope's four-diagram layout rendered with known samples; the
// pictures are saved as PNG next to the test binary.
#include <gtest/gtest.h>

#include <QImage>

#include <string>

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
