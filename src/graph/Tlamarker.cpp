#include "Tlamarker.h"

#include <algorithm>

#include "Formats.h"
#include "Tladiagram.h"
#include "Tlascala.h"

namespace {

// Glyph sides: where a line leaves the plot and how the shape table is turned.
enum Side { kTop, kBottom, kLeft, kRight };

kd::TPoint Turn(const kd::TPoint& p, int side) {
  switch (side) {
    case kTop: return MirrorY(p);
    case kLeft: return MirrorSwap(p);
    case kRight: return MirrorX(MirrorSwap(p));
    default: return p;
  }
}

}  // namespace

TlaMarker::TlaMarker(kd::Component* owner, const std::string& name) : TlaGraphElement(owner, name) {
  TextPen.Set(kd::clWhite, kd::pmCopy, kd::psSolid, 1);
  TextBrush.Set(kd::clBlack, kd::bsSolid);
  TextFont.Set(kd::clWhite, "Arial Narrow", -10, 0, 0);
  LineBrush.Set(LinePen.Color(), kd::bsSolid);
  Bind(TextPen);
  Bind(TextBrush);
  Bind(TextFont);
}

TlaMarker::~TlaMarker() { Detach(); }

void TlaMarker::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  Changed();
}

void TlaMarker::SetPoint(const Tla2DPoint& p) {
  if (p == point_) return;
  point_ = p;
  Changed();
}

void TlaMarker::SetMrkType(std::uint8_t t) {
  if (t == mrkType_) return;
  mrkType_ = t;
  Changed();
}

void TlaMarker::SetDotted(std::uint8_t d) {
  if (d == dotted_) return;
  dotted_ = d;
  Changed();
}

void TlaMarker::SetOrType(TlaOrType t) {
  if (t == orType_) return;
  orType_ = t;
  Changed();
}

void TlaMarker::SetHighlight(std::uint8_t h) {
  if (h == highlight_) return;
  highlight_ = h;
  Changed();
}

bool TlaMarker::HitTest(const kd::TPoint& pt) {
  if ((orType_ & laOrVertical) && PtInsideRect(pt, xTextArea_)) highlight_ = 1;
  else if ((orType_ & laOrHorizontal) && PtInsideRect(pt, yTextArea_)) highlight_ = 2;
  else highlight_ = 0;
  return highlight_ != 0;
}

void TlaMarker::DrawGlyph(kd::TCanvas* c, kd::TPoint anchor, int side, const kd::TRect& box) const {
  int first;
  switch (mrkType_) {
    case 1: first = 6; break;  // triple 3
    case 2: first = 3; break;  // triple 2
    case 3: first = 0; break;  // triple 1
    case 4: c->Ellipse(box.left, box.top, box.right, box.bottom); return;
    case 5: c->Rectangle(box.left, box.top, box.right, box.bottom); return;
    default: return;
  }
  c->Polygon({AddPoints(anchor, Turn(laShapeTable[first], side)), AddPoints(anchor, Turn(laShapeTable[first + 1], side)),
              AddPoints(anchor, Turn(laShapeTable[first + 2], side))});
}

// The label of one orientation: vertical (1) at the X scale, else (2) at the Y scale.
void TlaMarker::DrawLabel(kd::TCanvas* c, const TlaScala* s, double v, int px, int py, bool vertical) {
  const kd::TRect& da = DrawArea;
  const std::string line1 = s->GetIsTime() ? kd::TimeToStr(v) : s->GetIsDate() ? kd::DateToStr(v) : kd::FormatFloat(text_, v);
  const std::string line2 = s->GetIsDate() && s->GetIsTime() ? kd::DateToStr(v) : std::string();
  c->Pen().Assign(TextPen);
  c->Brush().Assign(TextBrush);
  c->Font().Assign(TextFont);
  const int tw1 = c->TextWidth(line1), tw2 = c->TextWidth(line2);
  const int w = std::max(tw1, tw2);
  const int th1 = c->TextHeight(line1), th2 = c->TextHeight(line2);
  const int q = 3 * (th2 / 4);
  auto box = [c](const kd::TRect& r) {
    c->Rectangle(r.left, r.top, r.right, r.bottom);
    c->Brush().SetStyle(kd::bsClear);
  };
  if (vertical) {
    kd::TRect& a = xTextArea_;
    a.left = px - w / 2 - 2;
    a.right = px + w / 2 + 1;
    if (s->GetAlign() == 1) {
      a.bottom = da.top - 7;
      a.top = a.bottom - th1 - q;
      box(a);
      c->TextOut(px - tw1 / 2, a.top + q, line1);
      c->TextOut(px - tw2 / 2, a.top, line2);
    } else {
      a.top = da.bottom + 8;
      a.bottom = a.top + th1 + q;
      box(a);
      c->TextOut(px - tw1 / 2, a.top, line1);
      c->TextOut(px - tw2 / 2, a.top + q, line2);
    }
  } else {
    kd::TRect& a = yTextArea_;
    a.top = py - q;
    a.bottom = py + th1;
    if (s->GetAlign() == 3) {
      a.right = da.left - 7;
      a.left = a.right - w - 3;
      box(a);
      c->TextOut(a.right - tw1 - 1, py, line1);
      c->TextOut(a.right - tw2 - 1, py - q, line2);
    } else {
      a.left = da.right + 8;
      a.right = a.left + w + 3;
      box(a);
      c->TextOut(a.left + 2, py, line1);
      c->TextOut(a.left + 2, py - q, line2);
    }
  }
}

bool TlaMarker::Draw(kd::TCanvas* canvas, const TlaScala* x, const TlaScala* y) {
  if (!GetVisible() || !canvas || !x || !y) return false;
  const kd::TRect da = DrawArea;
  const int px = PixelTrunc((point_.x - x->Range.min) * x->GetPixelsPerUnit()) + da.left;
  const int py = da.bottom - PixelTrunc((point_.y - y->Range.min) * y->GetPixelsPerUnit());
  const bool inX = TlaRange::Contains(x->Range, point_.x);
  const bool inY = TlaRange::Contains(y->Range, point_.y);

  auto lineBrushClear = [&] {
    canvas->Pen().Assign(LinePen);
    canvas->Brush().Assign(LineBrush);
    canvas->Brush().SetStyle(kd::bsClear);
  };
  if ((orType_ & laOrVertical) && inX) {
    if (LineVisible) {
      lineBrushClear();
      canvas->Line(px, da.top, px, da.bottom + 1);
      canvas->Brush().Assign(LineBrush);
      if (x->GetAlign() == 1) DrawGlyph(canvas, {px, da.top - 2}, kTop, {px - 2, da.top - 6, px + 3, da.top - 1});
      else DrawGlyph(canvas, {px, da.bottom + 2}, kBottom, {px - 2, da.bottom + 2, px + 3, da.bottom + 7});
    }
    if (TextVisible) DrawLabel(canvas, x, point_.x, px, py, true);
  }
  if ((orType_ & laOrHorizontal) && inY) {
    if (LineVisible) {
      lineBrushClear();
      canvas->Line(da.left, py, da.right + 1, py);
      canvas->Brush().Assign(LineBrush);
      if (y->GetAlign() == 3) DrawGlyph(canvas, {da.left - 2, py}, kLeft, {da.left - 6, py - 2, da.left - 1, py + 3});
      else DrawGlyph(canvas, {da.right + 2, py}, kRight, {da.right + 2, py - 2, da.right + 7, py + 3});
    }
    if (TextVisible) DrawLabel(canvas, y, point_.y, px, py, false);
  }
  if (inX && inY && dotted_ >= 1 && dotted_ <= 4) {
    canvas->Pen().Assign(LinePen);
    canvas->Brush().Assign(LineBrush);
    DrawPointSymbol(*canvas, {px, py}, dotted_);
  }
  return true;
}

std::string TlaMarker::GetSetup() const {
  TlaSetupWriter w("[laMarker]");
  WriteCommonKeys(w);
  w.Key("Text", text_);
  w.Key("TextPen", SetupPenToStr(TextPen));
  w.Key("TextBrush", SetupBrushToStr(TextBrush));
  w.Key("TextFont", SetupFontToStr(TextFont));
  w.Key("TextVisible", SetupBoolToStr(TextVisible));
  w.Key("Point", SetupPointToStr(point_));
  w.Key("MrkType", SetupIntToStr(mrkType_));
  w.Key("Dotted", SetupIntToStr(dotted_));
  std::string orType;
  if (orType_ & laOrHorizontal) orType += "H";
  if (orType_ & laOrVertical) orType += "V";
  w.Key("OrType", orType);
  return w.Finish();
}

void TlaMarker::SetSetup(const std::string& text) {
  const TlaSetupKeys keys(SplitSetupLines(text));
  const CommonSetup common(keys);
  const std::string labelFormat = keys.Text("Text");
  kd::TPen textPen;
  kd::TBrush textBrush;
  kd::TFont textFont;
  keys.ReadPen("TextPen", textPen);
  keys.ReadBrush("TextBrush", textBrush);
  keys.ReadFont("TextFont", textFont);
  const bool textVisible = keys.Bool("TextVisible");
  const Tla2DPoint point = keys.Point("Point");
  const int mrkType = keys.Int("MrkType");
  const int dotted = keys.Int("Dotted");
  // The set is what the value names (no line: the empty set), so that a
  // marker reads back with the orientations it was written with.
  const std::string orText = keys.Text("OrType");
  TlaOrType orType = 0;
  if (orText.find('H') != std::string::npos) orType |= laOrHorizontal;
  if (orText.find('V') != std::string::npos) orType |= laOrVertical;

  Silence quiet(*this);
  common.ApplyTo(*this);
  text_ = labelFormat;
  TextPen.Assign(textPen);
  TextBrush.Assign(textBrush);
  TextFont.Assign(textFont);
  TextVisible = textVisible;
  point_ = point;
  mrkType_ = static_cast<std::uint8_t>(mrkType);
  dotted_ = static_cast<std::uint8_t>(dotted);
  orType_ = orType;
}
