#include "Tlalegenda.h"

#include <algorithm>

#include "Tladiagram.h"
#include "Tlatraccia.h"

TlaLegenda::TlaLegenda(kd::Component* owner, const std::string& name, const std::vector<TlaTraccia*>* traces)
    : TlaGraphElement(owner, name), traces_(traces) {
  LineBrush.Set(kd::clBlack, kd::bsSolid);
  TitleFont.SetName("Arial");
}

TlaLegenda::~TlaLegenda() { Detach(); }

void TlaLegenda::SetLeft(int v) {
  if (v == left_) return;
  left_ = v;
  Changed();
}

void TlaLegenda::SetTop(int v) {
  if (v == top_) return;
  top_ = v;
  Changed();
}

bool TlaLegenda::Draw(kd::TCanvas* canvas) {
  if (!GetVisible() || !canvas || !traces_) return false;
  const std::vector<TlaTraccia*>& traces = *traces_;
  const int n = static_cast<int>(traces.size());
  if (n == 0) {
    canvas->Pen().Assign(TitlePen);
    canvas->Brush().Assign(TitleBrush);
    canvas->Font().Assign(TitleFont);
    canvas->TextOut(DrawArea.left, DrawArea.top, "Empty");
    return true;
  }
  if (ColCount < 1) ColCount = 1;
  if (n < ColCount) ColCount = n;
  rowCount_ = n / ColCount;

  const kd::TRect& owner = OwnerDiagram()->DrawArea();
  DrawArea.left = owner.left + left_;
  DrawArea.top = owner.top + top_;
  canvas->Font().Assign(TitleFont);
  int m = 0;
  for (const TlaTraccia* t : traces) m = std::max(m, canvas->TextWidth(t->GetTitle()));
  DrawArea.right = (m * 10 / 9) * ColCount + DrawArea.left;
  const int rowH = canvas->TextHeight("0") * 4 / 3;
  DrawArea.bottom = rowCount_ * rowH + DrawArea.top;
  cellWidth_ = (DrawArea.right - DrawArea.left) / ColCount;
  cellHeight_ = (DrawArea.bottom - DrawArea.top) / rowCount_;

  if (LineVisible) {
    canvas->Pen().Assign(LinePen);
    canvas->Brush().Assign(LineBrush);
    canvas->Rectangle(DrawArea.left, DrawArea.top, DrawArea.right + 1, DrawArea.bottom + 1);
    for (int r = 0; r < rowCount_; ++r) {
      const int y = DrawArea.top + r * cellHeight_;
      canvas->Line(DrawArea.left, y, DrawArea.right, y);
    }
    for (int c = 0; c < ColCount; ++c) {
      const int x = DrawArea.left + c * cellWidth_;
      canvas->Line(x, DrawArea.top, x, DrawArea.bottom);
    }
  }

  int y = DrawArea.top;
  for (int r = 0; r < rowCount_; ++r) {
    int x = DrawArea.left + 2;
    for (int c = 0; c < ColCount; ++c) {
      const TlaTraccia* t = traces[static_cast<size_t>(r * ColCount + c)];
      if (!OnlyVisible || t->GetVisible()) {
        canvas->Pen().Assign(t->LinePen);
        canvas->Pen().SetWidth(3);
        canvas->Brush().Assign(t->LineBrush);
        const int w = canvas->TextWidth(t->GetTitle());
        const int h = canvas->TextHeight(t->GetTitle());
        canvas->Line(x, y + h, x + w, y + h);
        canvas->Pen().Assign(TitlePen);
        canvas->Brush().Assign(TitleBrush);
        canvas->Font().Assign(TitleFont);
        if (t->GetCursorOn()) {
          canvas->Font().SetColor(t->LinePen.Color());
          canvas->Font().SetStyle(canvas->Font().Style() | kd::fsItalic);
        }
        canvas->TextOut(x, y, t->GetTitle());
      }
      x += cellWidth_;
    }
    y += cellHeight_;
  }
  return true;
}

TlaTraccia* TlaLegenda::TracciaAtPos(const kd::TPoint& pt) const {
  if (!traces_) return nullptr;
  for (int r = 0; r < rowCount_; ++r) {
    for (int c = 0; c < ColCount; ++c) {
      const int l = DrawArea.left + c * cellWidth_ + 1;
      const int t = DrawArea.top + r * cellHeight_ + 1;
      if (!PtInsideRect(pt, {l, t, l + cellWidth_ + 1, t + cellHeight_ + 1})) continue;
      // The list may have shrunk since the last drawing.
      const size_t index = static_cast<size_t>(r * ColCount + c);
      return index < traces_->size() ? (*traces_)[index] : nullptr;
    }
  }
  return nullptr;
}

std::string TlaLegenda::GetSetup() const {
  TlaSetupWriter w("[laLegenda]");
  WriteCommonKeys(w);
  w.Key("ColCount", SetupIntToStr(ColCount));
  w.Key("Left", SetupIntToStr(left_));
  w.Key("Top", SetupIntToStr(top_));
  return w.Finish();
}

void TlaLegenda::SetSetup(const std::string& text) {
  const TlaSetupKeys keys(SplitSetupLines(text));
  const CommonSetup common(keys);
  const int colCount = keys.Int("ColCount");
  const int left = keys.Int("Left");
  const int top = keys.Int("Top");
  Silence quiet(*this);
  common.ApplyTo(*this);
  ColCount = colCount;
  left_ = left;
  top_ = top;
}
