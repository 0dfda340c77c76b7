// Records, rectangle helpers and the value codecs of the setup text.
#include <gtest/gtest.h>

#include <QPainter>
#include <vector>

#include "Exception.h"
#include "Lacanvas.h"
#include "Lagraphsetup.h"
#include "Lagraphtypes.h"

TEST(GraphRecords, RectangleHelpersAtTheEdges) {
  const kd::TRect r{10, 20, 30, 40};
  struct Case {
    int x, y;
    bool inside;
  } cases[] = {{11, 21, true}, {29, 39, true}, {10, 30, false}, {30, 30, false},
               {20, 20, false}, {20, 40, false}, {9, 30, false}, {20, 41, false}};
  for (const Case& c : cases) EXPECT_EQ(PtInsideRect(c.x, c.y, r), c.inside) << c.x << "," << c.y;
  EXPECT_EQ(ShrinkRect(r, 2), (kd::TRect{12, 22, 28, 38}));
  EXPECT_EQ(r.Width(), 20);
  EXPECT_EQ(AddPoints({1, 2}, {3, -5}), (kd::TPoint{4, -3}));
  EXPECT_EQ(MirrorX({2, 3}), (kd::TPoint{-2, 3}));
  EXPECT_EQ(MirrorY({2, 3}), (kd::TPoint{2, -3}));
  EXPECT_EQ(MirrorSwap({2, 3}), (kd::TPoint{-3, -2}));
  EXPECT_EQ(laShapeTable[9], (kd::TPoint{-3, 2}));
  EXPECT_EQ(laShapeTable[11], (kd::TPoint{0, -5}));
}

TEST(GraphRecords, RangeOperations) {
  TlaRange r{0, 0};
  EXPECT_EQ(TlaRange::Union(r, {2, 5}), (TlaRange{0, 5}));
  EXPECT_EQ(r, (TlaRange{0, 5}));
  TlaRange::Union(r, {-1, 3});
  EXPECT_EQ(r, (TlaRange{-1, 5}));
  EXPECT_TRUE(TlaRange::Contains(r, -1));
  EXPECT_TRUE(TlaRange::Contains(r, 5));
  EXPECT_FALSE(TlaRange::Contains(r, 5.0000001));
  EXPECT_DOUBLE_EQ(TlaRange::Length(r), 6);
  EXPECT_NE(r, (TlaRange{-1, 5.5}));
}

TEST(GraphRecords, PixelTruncSaturatesWildValues) {
  EXPECT_EQ(PixelTrunc(2.9), 2);
  EXPECT_EQ(PixelTrunc(-2.9), -2);
  EXPECT_EQ(PixelTrunc(1e300), 4194304);
  EXPECT_EQ(PixelTrunc(-1e300), -4194304);
  EXPECT_EQ(PixelTrunc(std::nan("")), 0);
}

TEST(GraphCodecs, ScalarsBothWays) {
  EXPECT_EQ(SetupBoolToStr(true), "true");
  EXPECT_EQ(SetupBoolToStr(false), "false");
  for (const char* text : {"TRUE", "1", "", " true", "false"}) EXPECT_FALSE(SetupStrToBool(text)) << text;
  EXPECT_TRUE(SetupStrToBool("true"));
  EXPECT_EQ(SetupIntToStr(static_cast<kd::TColor>(0x8000000F)), "-2147483633");
  EXPECT_EQ(SetupStrToInt("-2147483633"), static_cast<kd::TColor>(0x8000000F));
  EXPECT_EQ(SetupRectToStr({1, -2, 300, 4}), "1,-2,300,4");
  EXPECT_EQ(SetupStrToRect("1,-2,300,4"), (kd::TRect{1, -2, 300, 4}));
  EXPECT_EQ(SetupPointToStr({1.5, -2.25}), "1.5,-2.25");
  EXPECT_EQ(SetupStrToPoint("1.5,-2.25"), (Tla2DPoint{1.5, -2.25}));
  EXPECT_EQ(SetupRangeToStr({0, 1e20}), "0,1E20");
  EXPECT_EQ(SetupStrToRange(SetupRangeToStr({-0.125, 45352.5})), (TlaRange{-0.125, 45352.5}));
}

TEST(GraphCodecs, BadNumbersFail) {
  for (const char* text : {"", "x", "1,2,3", "1,2,3,4,5", "1,,3,4"})
    EXPECT_THROW(SetupStrToRect(text), kd::ConvertError) << text;
  for (const char* text : {"1.5", "", "1.5,", ",2", "a,b"})
    EXPECT_THROW(SetupStrToPoint(text), kd::ConvertError) << text;
  EXPECT_THROW(SetupStrToRange("1;2"), kd::ConvertError);
  EXPECT_THROW(SetupStrToInt("12a"), kd::ConvertError);
}

TEST(GraphCodecs, PenAndBrush) {
  kd::TPen pen;
  pen.Set(kd::clRed, kd::pmCopy, kd::psSolid, 1);
  EXPECT_EQ(SetupPenToStr(pen), "255,4,0,1");
  kd::TPen back;
  SetupStrToPen("255,4,0,1", &back);
  EXPECT_EQ(SetupPenToStr(back), "255,4,0,1");
  SetupStrToPen("1,2,3,4", nullptr);  // no pen: nothing happens

  // A bad field leaves the pen as it was.
  EXPECT_THROW(SetupStrToPen("16711680,4,x,3", &back), kd::ConvertError);
  EXPECT_EQ(SetupPenToStr(back), "255,4,0,1");

  kd::TBrush brush;
  SetupStrToBrush("65280,1", &brush);
  EXPECT_EQ(brush.Color(), 0x00FF00);
  EXPECT_EQ(brush.Style(), kd::bsClear);
  EXPECT_EQ(SetupBrushToStr(brush), "65280,1");
}

TEST(GraphCodecs, FontStyleLetter) {
  kd::TFont f;
  f.Set(0xFFFFFF, "Arial Narrow", -10, kd::fsBold | kd::fsItalic | kd::fsUnderline, 0);
  EXPECT_EQ(SetupFontToStr(f), "16777215,Arial Narrow,-10,B");
  f.SetStyle(kd::fsUnderline | kd::fsStrikeOut);
  EXPECT_EQ(SetupFontToStr(f), "16777215,Arial Narrow,-10,S");
  f.SetStyle(0);
  EXPECT_EQ(SetupFontToStr(f), "16777215,Arial Narrow,-10,");

  kd::TFont g;
  g.SetStyle(kd::fsItalic);
  SetupStrToFont("255,Arial,12,B", &g);
  EXPECT_EQ(g.Color(), 255);
  EXPECT_EQ(g.Name(), "Arial");
  EXPECT_EQ(g.Size(), 12);
  EXPECT_EQ(g.Style(), kd::fsBold | kd::fsItalic);
  SetupStrToFont("255,Arial,12,", &g);  // no letter: style kept
  SetupStrToFont("255,Arial,12,X", &g);
  EXPECT_EQ(g.Style(), kd::fsBold | kd::fsItalic);
  EXPECT_THROW(SetupStrToFont("255,Arial", &g), kd::ConvertError);
}

TEST(GraphCanvas, SystemColoursAndOrder) {
  EXPECT_EQ(kd::ColorToRgb(0x0000FF), 0xFF0000u);  // red in the low byte
  EXPECT_EQ(kd::ColorToRgb(0x123456), 0x563412u);
  EXPECT_EQ(kd::ColorToRgb(kd::clWindow), 0xFFFFFFu);
  EXPECT_EQ(kd::ColorToRgb(kd::clBtnFace), 0xF0F0F0u);
}

TEST(GraphCanvas, BrushGetsSolidWithAColour) {
  kd::TBrush b;
  b.SetStyle(kd::bsClear);
  int changes = 0;
  b.OnChange = [&](kd::TGraphicsObject*) { ++changes; };
  b.SetColor(0x123456);
  EXPECT_EQ(b.Style(), kd::bsSolid);
  b.SetColor(0x123456);
  EXPECT_EQ(changes, 1);
}

TEST(GraphCanvas, TextsAreMeasuredAndDrawnInTheirOwnFont) {
  // What the canvas keeps of a text belongs to the font it was met in.
  kd::TBitmap bmp(80, 30);
  kd::TCanvas& c = bmp.Canvas();
  c.Brush().SetStyle(kd::bsClear);
  auto picture = [&](int size, std::uint8_t style) {
    c.Brush().Set(kd::clBlack, kd::bsSolid);
    c.FillRect({0, 0, 80, 30});
    c.Brush().SetStyle(kd::bsClear);
    c.Font().Set(kd::clWhite, "Arial", size, style, 0);
    c.TextOut(2, 2, "12:30:05");
    return std::pair{c.TextWidth("12:30:05"), bmp.Image().copy()};
  };
  const auto small = picture(-10, 0), large = picture(-16, 0), bold = picture(-10, kd::fsBold);
  EXPECT_LT(small.first, large.first);
  EXPECT_LT(small.first, bold.first);
  EXPECT_NE(small.second, large.second);
  EXPECT_NE(small.second, bold.second);
  EXPECT_EQ(picture(-10, 0), small);
}

TEST(GraphCanvas, WideLineBendsLikeOneJoinedLine) {
  // A right-angled bend and a zigzag of a 3-pixel line: the same pixels as
  // one outline with mitred joints and flat ends.
  const std::vector<std::vector<kd::TPoint>> lines = {
      {{10, 10}, {40, 10}, {40, 40}}, {{5, 30}, {20, 30}, {20, 15}, {45, 15}, {45, 35}, {60, 35}}};
  for (const auto& points : lines) {
    kd::TBitmap bmp(70, 50);
    kd::TCanvas& c = bmp.Canvas();
    c.Pen().Set(0x0000FF, kd::pmCopy, kd::psSolid, 3);
    c.Polyline(points);
    QImage expected(70, 50, QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
      QPainter p(&expected);
      QPen pen(QColor(255, 0, 0), 3, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
      p.setPen(pen);
      std::vector<QPoint> q;
      for (const kd::TPoint& pt : points) q.emplace_back(pt.x, pt.y);
      p.drawPolyline(q.data(), static_cast<int>(q.size()));
    }
    EXPECT_EQ(bmp.Image(), expected) << points.size() << " points";
  }
}
