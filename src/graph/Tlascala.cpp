#include "Tlascala.h"

#include <algorithm>
#include <cmath>

#include "Formats.h"
#include "Tladiagram.h"

TlaScala::TlaScala(kd::Component* owner, std::uint8_t align, const std::string& name)
    : TlaGraphElement(owner, name), align_(align) {
  GridPen.Set(kd::clWhite, kd::pmCopy, kd::psDot, 1);
  GridBrush.Set(kd::clBlack, kd::bsClear);
  TrkArea = DrawArea;
  TextPen.Set(kd::clWhite, kd::pmCopy, kd::psSolid, 1);
  TextBrush.Set(kd::clBlack, kd::bsClear);
  TextFont.Set(kd::clWhite, "Arial Narrow", -10, 0, 0);
  TitleFont.Set(TitleFont.Color(), "Arial", -10, TitleFont.Style(), 0);
  Bind(GridPen);
  Bind(GridBrush);
  Bind(TextPen);
  Bind(TextBrush);
  Bind(TextFont);
}

TlaScala::~TlaScala() {
  Detach();
  std::vector<TlaDiagram*> users;
  users.swap(users_);
  for (TlaDiagram* d : users) d->ScaleGone(this);
}

void TlaScala::AddUser(TlaDiagram* d) {
  if (std::find(users_.begin(), users_.end(), d) == users_.end()) users_.push_back(d);
}

void TlaScala::RemoveUser(TlaDiagram* d) { users_.erase(std::remove(users_.begin(), users_.end(), d), users_.end()); }

void TlaScala::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  Changed();
}

void TlaScala::SetRange(const TlaRange& r) {
  if (r == Range) return;
  Range = r;
  Changed();
}

void TlaScala::SetDivStep(double step) {
  if (step == divStep_) return;
  divStep_ = step;
  Changed();
}

void TlaScala::SetIsDate(bool v) {
  if (v == isDate_) return;
  isDate_ = v;
  Changed();
}

void TlaScala::SetIsTime(bool v) {
  if (v == isTime_) return;
  isTime_ = v;
  Changed();
}

double TlaScala::GetPixelsPerUnit() const {
  const double length = GetRangeLength();
  if (length == 0) return 1.0;
  const int pixels = IsHorizontal() ? DrawArea.Width() : DrawArea.Height();
  return (pixels - 2) / length;
}

double TlaScala::TickStep(double step, double rangeLength, double ppu, double extent) {
  // A negative or empty step, or an empty, reversed or unreadable range: no ticks.
  if (!(step > 0) || !(rangeLength > 0) || !std::isfinite(step) || !std::isfinite(rangeLength) ||
      !(ppu > 0) || !std::isfinite(ppu))
    return 0.0;
  while (rangeLength * 0.5 < step) step *= 0.1;
  // Never more than one tick per pixel, even for labels that take no room.
  extent = std::max(extent, 1.0);
  while (ppu * step < extent) {
    double s = step * 2;
    if (ppu * s < extent) s = step * 5;
    if (ppu * s < extent) s = step * 10;
    step = s;
  }
  return step;
}

std::vector<double> TlaScala::TickValues(double min, double max, double step, size_t limit) {
  std::vector<double> ticks;
  if (!(step > 0)) return ticks;
  double v = std::floor(min / step) * step + step;
  while (v <= max && ticks.size() < limit) {
    ticks.push_back(v);
    const double next = v + step;
    if (next == v) break;
    v = next;
  }
  return ticks;
}

Tla2DPoint PixelToWorld(const kd::TRect& plot, const TlaScala& x, const TlaScala& y, const kd::TPoint& pt) {
  const int w = plot.right - plot.left;
  const int h = plot.bottom - plot.top;
  const double ux = w != 0 ? x.GetRangeLength() / w : 0.0;
  const double uy = h != 0 ? y.GetRangeLength() / h : 0.0;
  return {(pt.x - plot.left) * ux + x.Range.min, (plot.bottom - pt.y) * uy + y.Range.min};
}

std::string TlaScala::LabelText(double v) const {
  if (isDate_) return kd::DateToStr(v);
  if (isTime_) return kd::TimeToStr(v);
  return kd::FormatFloat(text_, v);
}

std::string TlaScala::TimeText(double v) const { return kd::TimeToStr(v); }

std::vector<double> TlaScala::Ticks(kd::TCanvas& canvas) const {
  const bool horizontal = IsHorizontal();
  const int w = DrawArea.Width(), h = DrawArea.Height();
  if (h <= 2 || w <= 2 || divStep_ == 0 || GetRangeLength() == 0) return {};
  const std::string sample = isDate_ ? kd::DateToStr(kd::Date()) : isTime_ ? kd::TimeToStr(kd::Now()) : text_;
  canvas.Font().Assign(TextFont);  // the room a label takes in its own font
  const double extent = horizontal ? canvas.TextWidth(sample) : 2.0 * canvas.TextHeight(sample);
  const double step = TickStep(divStep_, GetRangeLength(), GetPixelsPerUnit(), extent);
  return TickValues(Range.min, Range.max, step, static_cast<size_t>(horizontal ? w : h) + 2);
}

std::vector<TlaScala::Label> TlaScala::LayOutLabels(kd::TCanvas& canvas, const std::vector<double>& ticks) const {
  std::vector<Label> labels;
  if (!TextVisible || align_ < 1 || align_ > 4) return labels;
  canvas.Font().Assign(TextFont);
  const kd::TRect da = DrawArea;
  const double ppu = GetPixelsPerUnit();
  const double min = Range.min, max = Range.max;
  const bool horizontal = IsHorizontal();
  const bool both = isDate_ && isTime_;
  auto d = [&](double v) { return (v - min) * ppu; };
  auto tw = [&](const std::string& s) { return canvas.TextWidth(s); };
  auto th = [&](const std::string& s) { return canvas.TextHeight(s); };
  // Left edge of a vertical scale's label.
  auto column = [&](const std::string& s) { return align_ == 3 ? da.right - 6 - tw(s) : da.left + 7; };
  auto make = [&](const std::string& text, const std::string& time, bool end, kd::TPoint at, kd::TPoint timeAt) {
    Label l{text, time, at, timeAt, {}, end};
    l.box = {at.x, at.y, at.x + tw(l.text), at.y + th(l.text)};
    if (both) {
      l.box.left = std::min(l.box.left, timeAt.x);
      l.box.top = std::min(l.box.top, timeAt.y);
      l.box.right = std::max(l.box.right, timeAt.x + tw(l.time));
      l.box.bottom = std::max(l.box.bottom, timeAt.y + th(l.time));
    }
    return l;
  };

  const std::string maxText = LabelText(max), minText = LabelText(min);
  const std::string maxTime = both ? TimeText(max) : std::string(), minTime = both ? TimeText(min) : std::string();
  if (horizontal) {
    // One row for every label and one for their time lines.
    const int row = align_ == 1 ? da.bottom - 5 - th(maxText) : da.top + 5;
    const int t = th(maxTime);
    const int timeRow = !both ? 0 : align_ == 1 ? row - 3 * t / 4 : row + 3 * t / 4;
    labels.push_back(make(maxText, maxTime, true, {da.right - tw(maxText), row}, {da.right - tw(maxTime), timeRow}));
    labels.push_back(make(minText, minTime, true, {da.left + 1, row}, {da.left + 1, timeRow}));
    for (double v : ticks) {
      const std::string s = LabelText(v), ts = both ? TimeText(v) : std::string();
      labels.push_back(make(s, ts, false, {PixelTrunc(d(v) + (da.left - tw(s) / 2 + 1)), row},
                            {PixelTrunc(d(v) + (da.left - tw(ts) / 2 + 1)), timeRow}));
    }
  } else {
    labels.push_back(make(maxText, maxTime, true, {column(maxText), da.top + th(maxText) / 4},
                          {column(maxTime), da.top + th(maxTime)}));
    const int t = th(minText);
    labels.push_back(make(minText, minTime, true, {column(minText), both ? da.bottom - t - 3 * t / 4 : da.bottom - t},
                          {column(minTime), da.bottom - th(minTime)}));
    for (double v : ticks) {
      const std::string s = LabelText(v), ts = both ? TimeText(v) : std::string();
      const int h = th(s);
      int y = PixelTrunc((da.bottom - 3 * h / 4) - d(v));
      if (both) y -= h / 4;
      labels.push_back(make(s, ts, false, {column(s), y}, {column(ts), PixelTrunc((da.bottom - th(ts) / 4) - d(v))}));
    }
  }
  // In that order, a label that would stand over one kept before it, or
  // read the same, is left out: the max label always stays, the min label
  // unless it collides with it. Side by side, labels keep a blank apart.
  const int gap = horizontal ? tw(" ") : 0;
  auto clash = [gap](const Label& a, const Label& b) {
    const bool apart = a.box.right + gap <= b.box.left || b.box.right + gap <= a.box.left ||
                       a.box.bottom <= b.box.top || b.box.bottom <= a.box.top;
    return !apart || (a.text == b.text && a.time == b.time);
  };
  std::vector<Label> kept;
  for (Label& l : labels)
    if (std::none_of(kept.begin(), kept.end(), [&](const Label& k) { return clash(k, l); }))
      kept.push_back(std::move(l));
  return kept;
}

std::vector<TlaScala::Label> TlaScala::Labels(kd::TCanvas& canvas) const {
  return LayOutLabels(canvas, Ticks(canvas));
}

bool TlaScala::Draw(kd::TCanvas* canvas) {
  if (!GetVisible() || !canvas) return false;
  const kd::TRect da = DrawArea;
  const kd::TRect ta = TrkArea;
  const int w = da.Width();
  const int h = da.Height();
  const double ppu = GetPixelsPerUnit();
  const double min = Range.min;
  const bool horizontal = IsHorizontal();
  const std::vector<double> ticks = Ticks(*canvas);
  if (align_ < 1 || align_ > 4) return true;

  auto pos = [&](double v) {
    const double dv = (v - min) * ppu;
    return horizontal ? PixelTrunc(ta.left + dv) : PixelTrunc(ta.bottom - dv);
  };
  auto tick = [&](int p) {
    switch (align_) {
      case 1: canvas->Line(p, da.bottom - 5, p, da.bottom); break;
      case 2: canvas->Line(p, da.top + 5, p, da.top); break;
      case 3: canvas->Line(da.right - 5, p, da.right, p); break;
      default: canvas->Line(da.left + 5, p, da.left, p); break;
    }
  };

  if (LineVisible) {
    canvas->Pen().Assign(LinePen);
    canvas->Brush().Assign(LineBrush);
    tick(horizontal ? ta.right : ta.top);
    tick(horizontal ? ta.left : ta.bottom);
    for (double v : ticks) tick(pos(v));
  }
  if (GridVisible) {
    canvas->Pen().Assign(GridPen);
    canvas->Brush().Assign(GridBrush);
    for (double v : ticks) {
      const int p = pos(v);
      if (horizontal) canvas->Line(p, ta.top, p, ta.bottom);
      else canvas->Line(ta.left, p, ta.right, p);
    }
  }
  if (TextVisible) {
    canvas->Pen().Assign(TextPen);
    canvas->Brush().Assign(TextBrush);
    const std::vector<Label> labels = LayOutLabels(*canvas, ticks);
    // The end labels, then their time lines, then each tick's lines.
    for (const Label& l : labels)
      if (l.atEnd) canvas->TextOut(l.at.x, l.at.y, l.text);
    for (const Label& l : labels)
      if (l.atEnd) canvas->TextOut(l.timeAt.x, l.timeAt.y, l.time);
    for (const Label& l : labels) {
      if (l.atEnd) continue;
      canvas->TextOut(l.at.x, l.at.y, l.text);
      canvas->TextOut(l.timeAt.x, l.timeAt.y, l.time);
    }
  }
  if (GetTitleVisible()) {
    canvas->Pen().Assign(TitlePen);
    canvas->Brush().Assign(TitleBrush);
    canvas->Font().Assign(TitleFont);
    const std::string& title = GetTitle();
    const int tw = canvas->TextWidth(title);
    const int th = canvas->TextHeight(title);
    switch (align_) {
      case 1: canvas->TextOut(da.left + (w - tw) / 2, da.top + 1, title); break;
      case 2: canvas->TextOut(da.left + (w - tw) / 2, da.bottom - 1 - th, title); break;
      default: {
        // Upward text in the same face and height, without other attributes.
        kd::TFont& f = canvas->Font();
        f.Set(f.Color(), f.Name(), f.Size(), 0, 900);
        if (align_ == 3) canvas->TextOut(da.left + 2, da.bottom - (h - tw) / 2, title);
        else canvas->TextOut(da.right - 2 - th, da.top + (h - tw) / 2, title);
        f.Assign(TitleFont);
        break;
      }
    }
  }
  return true;
}

std::string TlaScala::GetSetup() const {
  TlaSetupWriter w("[laScala]");
  WriteCommonKeys(w);
  w.Key("Align", SetupIntToStr(align_));
  w.Key("GridPen", SetupPenToStr(GridPen));
  w.Key("GridBrush", SetupBrushToStr(GridBrush));
  w.Key("GridVisible", SetupBoolToStr(GridVisible));
  w.Key("Text", text_);
  w.Key("TextPen", SetupPenToStr(TextPen));
  w.Key("TextBrush", SetupBrushToStr(TextBrush));
  w.Key("TextFont", SetupFontToStr(TextFont));
  w.Key("TextVisible", SetupBoolToStr(TextVisible));
  w.Key("Range", SetupRangeToStr(Range));
  w.Key("DivStep", SetupFloatToStr(divStep_));
  w.Key("IsDate", SetupBoolToStr(isDate_));
  w.Key("IsTime", SetupBoolToStr(isTime_));
  return w.Finish();
}

void TlaScala::SetSetup(const std::string& text) {
  const TlaSetupKeys keys(SplitSetupLines(text));
  const CommonSetup common(keys);
  const int align = keys.Int("Align");
  kd::TPen gridPen, textPen;
  kd::TBrush gridBrush, textBrush;
  kd::TFont textFont;
  keys.ReadPen("GridPen", gridPen);
  keys.ReadBrush("GridBrush", gridBrush);
  const bool gridVisible = keys.Bool("GridVisible");
  const std::string labelFormat = keys.Text("Text");
  keys.ReadPen("TextPen", textPen);
  keys.ReadBrush("TextBrush", textBrush);
  keys.ReadFont("TextFont", textFont);
  const bool textVisible = keys.Bool("TextVisible");
  const TlaRange range = keys.Range("Range");
  const double divStep = keys.Float("DivStep");
  const bool isDate = keys.Bool("IsDate"), isTime = keys.Bool("IsTime");

  Silence quiet(*this);
  common.ApplyTo(*this);
  align_ = static_cast<std::uint8_t>(align);
  GridPen.Assign(gridPen);
  GridBrush.Assign(gridBrush);
  GridVisible = gridVisible;
  text_ = labelFormat;
  TextPen.Assign(textPen);
  TextBrush.Assign(textBrush);
  TextFont.Assign(textFont);
  TextVisible = textVisible;
  Range = range;
  divStep_ = divStep;
  isDate_ = isDate;
  isTime_ = isTime;
}
