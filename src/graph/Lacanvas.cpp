#include "Lacanvas.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QSaveFile>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "Exception.h"

namespace kd {

std::uint32_t ColorToRgb(TColor color) {
  const auto v = static_cast<std::uint32_t>(color);
  if (v & 0x80000000u) {
    switch (v & 0xFFu) {
      case 0x05: return 0xFFFFFFu;  // window
      case 0x0F: return 0xF0F0F0u;  // button face
      default: return 0x000000u;
    }
  }
  const std::uint32_t r = v & 0xFFu, g = (v >> 8) & 0xFFu, b = (v >> 16) & 0xFFu;
  return (r << 16) | (g << 8) | b;
}

namespace {

QColor ToQColor(TColor c) { return QColor(static_cast<QRgb>(0xFF000000u | ColorToRgb(c))); }

TColor FromRgb(QRgb rgb) {
  return static_cast<TColor>(static_cast<std::uint32_t>(qRed(rgb)) |
                             (static_cast<std::uint32_t>(qGreen(rgb)) << 8) |
                             (static_cast<std::uint32_t>(qBlue(rgb)) << 16));
}

Qt::PenStyle ToQPenStyle(int s) {
  switch (s) {
    case psDash: return Qt::DashLine;
    case psDot: return Qt::DotLine;
    case psDashDot: return Qt::DashDotLine;
    case psDashDotDot: return Qt::DashDotDotLine;
    case psClear: return Qt::NoPen;
    default: return Qt::SolidLine;
  }
}

Qt::BrushStyle ToQBrushStyle(int s) {
  switch (s) {
    case bsClear: return Qt::NoBrush;
    case bsHorizontal: return Qt::HorPattern;
    case bsVertical: return Qt::VerPattern;
    case bsFDiagonal: return Qt::FDiagPattern;
    case bsBDiagonal: return Qt::BDiagPattern;
    case bsCross: return Qt::CrossPattern;
    case bsDiagCross: return Qt::DiagCrossPattern;
    default: return Qt::SolidPattern;
  }
}

QPainter::CompositionMode ToComposition(int mode) {
  switch (mode) {
    case pmBlack: return QPainter::RasterOp_ClearDestination;
    case pmWhite: return QPainter::RasterOp_SetDestination;
    case pmNot: return QPainter::RasterOp_NotDestination;
    case pmNotCopy: return QPainter::RasterOp_NotSource;
    case pmMergePenNot: return QPainter::RasterOp_SourceOrNotDestination;
    case pmMaskPenNot: return QPainter::RasterOp_SourceAndNotDestination;
    case pmMergeNotPen: return QPainter::RasterOp_NotSourceOrDestination;
    case pmMaskNotPen: return QPainter::RasterOp_NotSourceAndDestination;
    case pmMerge: return QPainter::RasterOp_SourceOrDestination;
    case pmNotMerge: return QPainter::RasterOp_NotSourceAndNotDestination;
    case pmMask: return QPainter::RasterOp_SourceAndDestination;
    case pmNotMask: return QPainter::RasterOp_NotSourceOrNotDestination;
    case pmXor: return QPainter::RasterOp_SourceXorDestination;
    case pmNotXor: return QPainter::RasterOp_NotSourceXorDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

// On and off lengths, in pixels along a line's major axis, of the thin
// pens' patterns; a solid pen is lit all along, a clear one draws nothing.
std::span<const int> ThinPattern(int style) {
  static constexpr int kSolid[] = {1};
  static constexpr int kDash[] = {4, 2};
  static constexpr int kDot[] = {1, 2};
  static constexpr int kDashDot[] = {4, 2, 1, 2};
  static constexpr int kDashDotDot[] = {4, 2, 1, 2, 1, 2};
  switch (style) {
    case psClear: return {};
    case psDash: return kDash;
    case psDot: return kDot;
    case psDashDot: return kDashDot;
    case psDashDotDot: return kDashDotDot;
    default: return kSolid;
  }
}

QStringList FamiliesFor(const std::string& name) {
  QStringList families{QString::fromStdString(name)};
  if (name == "Arial Narrow") families << "Liberation Sans Narrow" << "DejaVu Sans Condensed";
  else if (name == "Arial") families << "Liberation Sans" << "DejaVu Sans";
  families << "DejaVu Sans";
  return families;
}

// The value kept for a text in one of a font's caches, made on first use.
// The same labels come back every drawing; a cache that grows past a bound
// is mostly texts of the past and starts afresh.
template <typename Map, typename Make>
const typename Map::mapped_type& Cached(Map& map, const std::string& text, Make make) {
  if (auto it = map.find(text); it != map.end()) return it->second;
  constexpr size_t kMaxTexts = 512;
  if (map.size() >= kMaxTexts) map.clear();
  return map.emplace(text, make()).first->second;
}

}  // namespace

// ---------------------------------------------------------------------------

void TPen::SetColor(TColor c) { Set(c, mode_, style_, width_); }
void TPen::SetMode(int m) { Set(color_, m, style_, width_); }
void TPen::SetStyle(int s) { Set(color_, mode_, s, width_); }
void TPen::SetWidth(int w) { Set(color_, mode_, style_, w); }

void TPen::Set(TColor c, int mode, int style, int width) {
  if (c == color_ && mode == mode_ && style == style_ && width == width_) return;
  color_ = c;
  mode_ = mode;
  style_ = style;
  width_ = width;
  Changed();
}

void TBrush::SetColor(TColor c) { Set(c, style_ == bsClear ? bsSolid : style_); }
void TBrush::SetStyle(int s) { Set(color_, s); }

void TBrush::Set(TColor c, int style) {
  if (c == color_ && style == style_) return;
  color_ = c;
  style_ = style;
  Changed();
}

void TFont::SetColor(TColor c) { Set(c, name_, size_, style_, orientation_); }
void TFont::SetName(const std::string& n) { Set(color_, n, size_, style_, orientation_); }
void TFont::SetSize(int s) { Set(color_, name_, s, style_, orientation_); }
void TFont::SetStyle(std::uint8_t s) { Set(color_, name_, size_, s, orientation_); }
void TFont::SetOrientation(int tenths) { Set(color_, name_, size_, style_, tenths); }

void TFont::Set(TColor c, const std::string& name, int size, std::uint8_t style, int orientation) {
  if (c == color_ && name == name_ && size == size_ && style == style_ && orientation == orientation_)
    return;
  if (name != name_ || size != size_ || style != style_) qfontValid_ = false;
  color_ = c;
  name_ = name;
  size_ = size;
  style_ = style;
  orientation_ = orientation;
  Changed();
}

const QFont& TFont::ToQFont() const {
  if (!qfontValid_) {
    QFont f;
    f.setFamilies(FamiliesFor(name_));
    // A positive size is the em height in points; a negative one the whole
    // character cell, which is about 1.17 em.
    const double cell = std::abs(size_) * 96.0 / 72.0;
    const double em = size_ < 0 ? cell / 1.17 : cell;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(em))));
    f.setBold((style_ & fsBold) != 0);
    f.setItalic((style_ & fsItalic) != 0);
    f.setUnderline((style_ & fsUnderline) != 0);
    f.setStrikeOut((style_ & fsStrikeOut) != 0);
    qfont_ = f;
    qfontValid_ = true;
  }
  return qfont_;
}

// ---------------------------------------------------------------------------

TCanvas::TCanvas(QImage* image) : image_(image) {
  pen_.OnChange = [this](TGraphicsObject*) { penDirty_ = true; };
  brush_.OnChange = [this](TGraphicsObject*) { brushDirty_ = true; };
  font_.OnChange = [this](TGraphicsObject*) {
    fontDirty_ = true;
    current_ = nullptr;
  };
}

TCanvas::~TCanvas() { Flush(); }

struct TCanvas::FontCache {
  FontCache(const TFont& f, const QFont& q)
      : name(f.Name()), size(f.Size()), style(f.Style()), font(q), metrics(q) {}
  std::string name;
  int size;
  std::uint8_t style;
  QFont font;
  QFontMetrics metrics;
  std::unordered_map<std::string, int> widths;
  std::unordered_map<std::string, std::vector<QGlyphRun>> runs;  // baseline at y = 0
};

TCanvas::FontCache& TCanvas::CurrentFont() {
  if (current_) return *current_;
  for (const auto& f : fonts_)
    if (f->size == font_.Size() && f->style == font_.Style() && f->name == font_.Name())
      return *(current_ = f.get());
  constexpr size_t kMaxFonts = 32;
  if (fonts_.size() >= kMaxFonts) fonts_.clear();
  fonts_.push_back(std::make_unique<FontCache>(font_, font_.ToQFont()));
  return *(current_ = fonts_.back().get());
}

void TCanvas::Flush() {
  if (painter_) {
    painter_->end();
    painter_.reset();
  }
}

QPainter* TCanvas::Painter() {
  if (!painter_) {
    if (image_->isNull()) return nullptr;
    painter_ = std::make_unique<QPainter>(image_);
    penDirty_ = brushDirty_ = fontDirty_ = true;
    if (clipOn_) painter_->setClipRect(QRect(clip_.left, clip_.top, clip_.Width(), clip_.Height()));
  }
  ApplyState();
  return painter_.get();
}

void TCanvas::ApplyState() {
  if (penDirty_) {
    QPen p(ToQColor(pen_.Color()));
    p.setStyle(ToQPenStyle(pen_.Style()));
    p.setWidth(pen_.Width() <= 1 ? 1 : pen_.Width());
    p.setCapStyle(Qt::FlatCap);
    p.setJoinStyle(Qt::MiterJoin);
    painter_->setPen(p);
    painter_->setCompositionMode(ToComposition(pen_.Mode()));
    cap_ = Qt::FlatCap;
    penDirty_ = false;
  }
  if (brushDirty_) {
    painter_->setBrush(QBrush(ToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
    brushDirty_ = false;
  }
  if (fontDirty_) {
    painter_->setFont(CurrentFont().font);
    fontDirty_ = false;
  }
}

const QFontMetrics& TCanvas::Metrics() {
  return CurrentFont().metrics;
}

const std::vector<QGlyphRun>& TCanvas::GlyphRuns(const std::string& text) {
  FontCache& f = CurrentFont();
  return Cached(f.runs, text, [&] {
    QTextLayout layout(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), f.font);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    std::vector<QGlyphRun> runs;
    for (QGlyphRun run : layout.glyphRuns()) {
      QList<QPointF> at = run.positions();
      for (QPointF& p : at) p.ry() -= line.ascent();
      run.setPositions(at);
      runs.push_back(run);
    }
    return runs;
  });
}

void TCanvas::UseCap(Qt::PenCapStyle cap) {
  if (cap == cap_) return;
  QPen p = painter_->pen();
  p.setCapStyle(cap);
  painter_->setPen(p);
  cap_ = cap;
}

namespace {

// The pixels of a thin polyline, in order, handed to plot(x, y) where the
// pattern is lit: each segment from its first pixel up to its end, which is
// left out (the next segment's first). At step k of a segment from a to b
// the pixel is a + k * (b - a) / steps, the offset along each axis rounded
// half up in size, steps being the larger of |b.x - a.x| and |b.y - a.y|;
// so every pen style walks the same pixels. The pattern runs on from one
// segment into the next. Only the steps that can fall inside the box
// [lo, hi] (one pixel of margin is enough) are walked.
template <typename Plot>
void WalkThinPolyline(const TPoint* points, size_t n, std::span<const int> pattern, const double lo[2],
                      const double hi[2], Plot&& plot) {
  std::array<bool, 16> lit{};  // per step of the pattern
  std::int64_t period = 0;
  for (size_t i = 0; i < pattern.size(); ++i)
    for (int k = 0; k < pattern[i] && period < static_cast<std::int64_t>(lit.size()); ++k)
      lit[static_cast<size_t>(period++)] = i % 2 == 0;
  if (period == 0) return;
  std::int64_t phase = 0;
  for (size_t i = 0; i + 1 < n; ++i) {
    const TPoint a = points[i], b = points[i + 1];
    const std::int64_t d[2] = {static_cast<std::int64_t>(b.x) - a.x, static_cast<std::int64_t>(b.y) - a.y};
    const std::int64_t steps = std::max(std::abs(d[0]), std::abs(d[1]));
    if (steps == 0) continue;
    double kFrom = 0, kTo = static_cast<double>(steps);
    const double start[2] = {static_cast<double>(a.x), static_cast<double>(a.y)};
    for (int axis = 0; axis < 2; ++axis) {
      if (d[axis] == 0) {
        if (start[axis] < lo[axis] || start[axis] > hi[axis]) kTo = -1;
        continue;
      }
      double k1 = (lo[axis] - start[axis]) * static_cast<double>(steps) / static_cast<double>(d[axis]);
      double k2 = (hi[axis] - start[axis]) * static_cast<double>(steps) / static_cast<double>(d[axis]);
      if (k1 > k2) std::swap(k1, k2);
      kFrom = std::max(kFrom, std::floor(k1) - 1);
      kTo = std::min(kTo, std::ceil(k2) + 1);
    }
    const auto first = static_cast<std::int64_t>(std::max(kFrom, 0.0));
    const std::int64_t end = kTo < 0 ? 0 : std::min(static_cast<std::int64_t>(kTo) + 1, steps);
    if (first < end) {
      // The major axis moves one pixel a step; the minor one by |d| / steps,
      // its offset q + r / den carried on step by step.
      const int major = std::abs(d[0]) >= std::abs(d[1]) ? 0 : 1, minor = 1 - major;
      const std::int64_t sMajor = d[major] < 0 ? -1 : 1, sMinor = d[minor] < 0 ? -1 : 1;
      const std::int64_t den = 2 * steps, add = 2 * std::abs(d[minor]);
      const std::int64_t num = first * add + steps;
      std::int64_t r = num % den;
      std::int64_t at[2];
      at[major] = (major == 0 ? a.x : a.y) + sMajor * first;
      at[minor] = (minor == 0 ? a.x : a.y) + sMinor * (num / den);
      std::int64_t step = (phase + first) % period;
      for (std::int64_t k = first; k < end; ++k) {
        if (lit[static_cast<size_t>(step)]) plot(at[0], at[1]);
        if (++step == period) step = 0;
        at[major] += sMajor;
        r += add;
        if (r >= den) r -= den, at[minor] += sMinor;
      }
    }
    phase = (phase + steps) % period;
  }
}

}  // namespace

// A thin polyline, pixel by pixel, solid or patterned: a pattern only leaves
// pixels out. In copy mode on a 32-bit image the pixels are written straight
// into it (the painter draws into the same memory, at once); otherwise they
// are drawn as points.
void TCanvas::ThinPolyline(QPainter* p, const TPoint* points, size_t n, std::span<const int> pattern) {
  if (pattern.empty()) return;
  // The visible box: the image, cut to the clip rectangle.
  std::int64_t box[4] = {0, 0, image_->width(), image_->height()};
  if (clipOn_) {
    box[0] = std::max<std::int64_t>(box[0], clip_.left);
    box[1] = std::max<std::int64_t>(box[1], clip_.top);
    box[2] = std::min<std::int64_t>(box[2], clip_.right);
    box[3] = std::min<std::int64_t>(box[3], clip_.bottom);
  }
  if (box[0] >= box[2] || box[1] >= box[3]) return;
  const double lo[2] = {box[0] - 1.0, box[1] - 1.0}, hi[2] = {box[2] + 0.0, box[3] + 0.0};
  const auto w = static_cast<std::uint64_t>(box[2] - box[0]), h = static_cast<std::uint64_t>(box[3] - box[1]);
  auto inside = [&](std::int64_t x, std::int64_t y) {
    return static_cast<std::uint64_t>(x - box[0]) < w && static_cast<std::uint64_t>(y - box[1]) < h;
  };
  const QImage::Format format = image_->format();
  if (pen_.Mode() == pmCopy && p->transform().isIdentity() &&
      (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
       format == QImage::Format_ARGB32_Premultiplied)) {
    const QRgb color = 0xFF000000u | ColorToRgb(pen_.Color());
    // The memory the painter draws into; bits() could detach it from the painter.
    auto* bits = const_cast<uchar*>(image_->constBits());
    const qsizetype stride = image_->bytesPerLine();
    WalkThinPolyline(points, n, pattern, lo, hi, [&](std::int64_t x, std::int64_t y) {
      if (inside(x, y)) reinterpret_cast<QRgb*>(bits + y * stride)[x] = color;
    });
    return;
  }
  std::vector<QPoint> pixels;
  WalkThinPolyline(points, n, pattern, lo, hi, [&](std::int64_t x, std::int64_t y) {
    if (inside(x, y)) pixels.emplace_back(static_cast<int>(x), static_cast<int>(y));
  });
  if (pixels.empty()) return;
  const QPen keep = p->pen();
  QPen solid = keep;
  solid.setStyle(Qt::SolidLine);
  p->setPen(solid);
  p->drawPoints(pixels.data(), static_cast<int>(pixels.size()));
  p->setPen(keep);
}

void TCanvas::Line(int x1, int y1, int x2, int y2) {
  if (pen_.Mode() == pmNop || (x1 == x2 && y1 == y2)) return;
  QPainter* p = Painter();
  if (!p) return;
  if (pen_.Width() <= 1) {
    const TPoint ends[] = {{x1, y1}, {x2, y2}};
    ThinPolyline(p, ends, 2, ThinPattern(pen_.Style()));
    return;
  }
  UseCap(Qt::FlatCap);
  p->drawLine(x1, y1, x2, y2);
}

// A wide solid polyline as separate segments with square ends, which cover
// the joints; the ends of the whole line are pulled in by half the width so
// that it stops where a flat end would. The raster engine fills such segments
// directly, without building joined outlines.
void TCanvas::WidePolyline(QPainter* p, const std::vector<TPoint>& points) {
  std::vector<QLineF> lines;
  lines.reserve(points.size());
  for (size_t i = 0; i + 1 < points.size(); ++i)
    if (!(points[i] == points[i + 1]))
      lines.emplace_back(points[i].x, points[i].y, points[i + 1].x, points[i + 1].y);
  if (lines.empty()) return;
  const double half = pen_.Width() / 2.0;
  auto pullIn = [half](QPointF& end, const QPointF& other) {
    QLineF l(end, other);
    l.setLength(std::min(half, l.length() / 2));
    end = l.p2();
  };
  QPointF start = lines.front().p1(), last = lines.back().p2();
  pullIn(start, lines.front().p2());
  pullIn(last, lines.back().p1());
  lines.front().setP1(start);
  lines.back().setP2(last);
  UseCap(Qt::SquareCap);
  p->drawLines(lines.data(), static_cast<int>(lines.size()));
}

void TCanvas::Polyline(const std::vector<TPoint>& points) {
  const size_t n = points.size();
  if (n < 2 || pen_.Mode() == pmNop) return;
  QPainter* p = Painter();
  if (!p) return;
  if (pen_.Width() <= 1) {
    ThinPolyline(p, points.data(), n, ThinPattern(pen_.Style()));
    return;
  }
  // Segments overlap at the joints: only where drawing twice changes nothing.
  if (pen_.Style() == psSolid && pen_.Mode() == pmCopy) {
    WidePolyline(p, points);
    return;
  }
  std::vector<QPoint> qpoints;
  qpoints.reserve(n);
  for (const TPoint& pt : points) qpoints.emplace_back(pt.x, pt.y);
  UseCap(Qt::FlatCap);
  p->drawPolyline(qpoints.data(), static_cast<int>(n));
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  if (points.empty() || pen_.Mode() == pmNop) return;
  QPainter* p = Painter();
  if (!p) return;
  QPolygon poly;
  poly.reserve(static_cast<int>(points.size()));
  for (const TPoint& pt : points) poly << QPoint(pt.x, pt.y);
  p->drawPolygon(poly);
}

void TCanvas::Rectangle(int l, int t, int r, int b) {
  if (r < l) std::swap(l, r);
  if (b < t) std::swap(t, b);
  if (r - l < 1 || b - t < 1 || pen_.Mode() == pmNop) return;
  QPainter* p = Painter();
  if (!p) return;
  if (brush_.Style() != bsClear) p->fillRect(QRect(l, t, r - l, b - t), p->brush());
  if (pen_.Style() != psClear) {
    const QBrush keep = p->brush();
    p->setBrush(Qt::NoBrush);
    p->drawRect(QRect(l, t, r - l - 1, b - t - 1));
    p->setBrush(keep);
  }
}

void TCanvas::FillRect(const TRect& r) {
  int l = r.left, t = r.top, rr = r.right, b = r.bottom;
  if (rr < l) std::swap(l, rr);
  if (b < t) std::swap(t, b);
  if (rr - l < 1 || b - t < 1 || brush_.Style() == bsClear) return;
  if (QPainter* p = Painter()) p->fillRect(QRect(l, t, rr - l, b - t), p->brush());
}

void TCanvas::Ellipse(int l, int t, int r, int b) {
  if (r - l < 1 || b - t < 1 || pen_.Mode() == pmNop) return;
  if (QPainter* p = Painter()) p->drawEllipse(QRect(l, t, r - l - 1, b - t - 1));
}

void TCanvas::RoundRect(int l, int t, int r, int b, int cornerW, int cornerH) {
  if (r - l < 1 || b - t < 1 || pen_.Mode() == pmNop) return;
  if (QPainter* p = Painter())
    p->drawRoundedRect(QRect(l, t, r - l - 1, b - t - 1), cornerW / 2.0, cornerH / 2.0);
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  QPainter* p = Painter();
  if (!p) return;
  if (clipOn_ && (x < clip_.left || x >= clip_.right || y < clip_.top || y >= clip_.bottom)) return;
  p->fillRect(QRect(x, y, 1, 1), ToQColor(color));
}

TColor TCanvas::Pixel(int x, int y) {
  Flush();
  if (!image_->valid(x, y)) return -1;
  return FromRgb(image_->pixel(x, y));
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  if (text.empty()) return;
  QPainter* p = Painter();
  if (!p) return;
  const QFontMetrics& fm = Metrics();
  const QRect cell(0, 0, TextWidth(text), fm.height());
  const std::vector<QGlyphRun>& runs = GlyphRuns(text);
  const QPen keep = p->pen();
  if (font_.Orientation() != 0) {
    p->save();
    p->translate(x, y);
    p->rotate(-font_.Orientation() / 10.0);
    if (brush_.Style() != bsClear) p->fillRect(cell, ToQColor(brush_.Color()));
    p->setPen(ToQColor(font_.Color()));
    for (const QGlyphRun& run : runs) p->drawGlyphRun(QPointF(0, fm.ascent()), run);
    p->restore();
    return;
  }
  if (brush_.Style() != bsClear) p->fillRect(cell.translated(x, y), ToQColor(brush_.Color()));
  p->setPen(ToQColor(font_.Color()));
  for (const QGlyphRun& run : runs) p->drawGlyphRun(QPointF(x, y + fm.ascent()), run);
  p->setPen(keep);
}

int TCanvas::TextWidth(const std::string& text) {
  FontCache& f = CurrentFont();
  return Cached(f.widths, text, [&] {
    return f.metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  });
}

int TCanvas::TextHeight(const std::string& text) { return text.empty() ? 0 : Metrics().height(); }

void TCanvas::SetClipRect(const TRect& r) {
  clipOn_ = true;
  clip_ = r;
  if (painter_) painter_->setClipRect(QRect(r.left, r.top, r.Width(), r.Height()));
}

void TCanvas::RemoveClip() {
  clipOn_ = false;
  if (painter_) painter_->setClipping(false);
}

// ---------------------------------------------------------------------------

TBitmap::TBitmap(int width, int height)
    : image_(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32), canvas_(&image_) {
  if (!image_.isNull()) image_.fill(Qt::white);
}

void TBitmap::SetSize(int w, int h) {
  w = std::max(w, 0);
  h = std::max(h, 0);
  if (w == Width() && h == Height()) return;
  canvas_.Flush();
  QImage next(w, h, QImage::Format_RGB32);
  if (!next.isNull()) {
    next.fill(Qt::white);
    if (!image_.isNull()) {
      QPainter p(&next);
      p.drawImage(0, 0, image_);
    }
  }
  image_ = std::move(next);
}

const QImage& TBitmap::Image() {
  canvas_.Flush();
  return image_;
}

void TBitmap::SaveToFile(const std::string& fileName) {
  canvas_.Flush();
  const QString name = QString::fromStdString(fileName);
  const bool png = QFileInfo(name).suffix().compare("png", Qt::CaseInsensitive) == 0;
  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly) || !image_.save(&file, png ? "PNG" : "BMP") || !file.commit())
    throw Exception("SaveToFile: cannot write '" + fileName + "'");
}

}  // namespace kd
