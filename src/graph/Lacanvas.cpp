#include "Lacanvas.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QSaveFile>
#include <QTextLayout>

#include <algorithm>
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
// pens' patterns.
std::span<const int> ThinPattern(int style) {
  static constexpr int kDash[] = {4, 2};
  static constexpr int kDot[] = {1, 2};
  static constexpr int kDashDot[] = {4, 2, 1, 2};
  static constexpr int kDashDotDot[] = {4, 2, 1, 2, 1, 2};
  switch (style) {
    case psDash: return kDash;
    case psDot: return kDot;
    case psDashDot: return kDashDot;
    case psDashDotDot: return kDashDotDot;
    default: return {};
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

// Thin lines leave out their end pixel. The raster engine leaves out the end
// with the larger coordinate along the line's major axis, so a line drawn
// the other way ends one pixel short instead, with both ends drawn.
void TCanvas::ThinLine(QPainter* p, int x1, int y1, int x2, int y2) {
  const int dx = x2 - x1, dy = y2 - y1;
  const bool xMajor = std::abs(dx) >= std::abs(dy);
  if (xMajor ? dx > 0 : dy > 0) {
    UseCap(Qt::FlatCap);
    p->drawLine(x1, y1, x2, y2);
    return;
  }
  int bx, by;
  if (xMajor) {
    bx = x2 + 1;
    by = y1 + static_cast<int>(std::lround(static_cast<double>(dy) * (bx - x1) / dx));
  } else {
    by = y2 + 1;
    bx = x1 + static_cast<int>(std::lround(static_cast<double>(dx) * (by - y1) / dy));
  }
  UseCap(Qt::SquareCap);
  p->drawLine(x1, y1, bx, by);
}

// A thin patterned polyline, pixel by pixel: the pattern runs on from one
// segment into the next, however short the segments are. Each segment
// leaves out its end pixel, which is the next one's first; parts outside
// the image or the clip rectangle are skipped without being walked.
void TCanvas::PatternedPolyline(QPainter* p, const TPoint* points, size_t n, std::span<const int> pattern) {
  std::vector<bool> lit;  // per step of the pattern
  for (size_t i = 0; i < pattern.size(); ++i)
    lit.insert(lit.end(), static_cast<size_t>(pattern[i]), i % 2 == 0);
  const auto period = static_cast<std::int64_t>(lit.size());
  double lo[2] = {-1.0, -1.0};
  double hi[2] = {static_cast<double>(image_->width()), static_cast<double>(image_->height())};
  if (clipOn_) {
    lo[0] = std::max(lo[0], clip_.left - 1.0);
    lo[1] = std::max(lo[1], clip_.top - 1.0);
    hi[0] = std::min(hi[0], clip_.right + 0.0);
    hi[1] = std::min(hi[1], clip_.bottom + 0.0);
  }
  std::vector<QPoint> pixels;
  std::int64_t phase = 0;
  for (size_t i = 0; i + 1 < n; ++i) {
    const TPoint a = points[i], b = points[i + 1];
    const std::int64_t d[2] = {static_cast<std::int64_t>(b.x) - a.x, static_cast<std::int64_t>(b.y) - a.y};
    const std::int64_t steps = std::max(std::abs(d[0]), std::abs(d[1]));
    if (steps == 0) continue;
    // The steps k whose pixel a + k * d / steps can lie in the visible box.
    double kFrom = 0, kTo = static_cast<double>(steps);
    const double start[2] = {static_cast<double>(a.x), static_cast<double>(a.y)};
    for (int axis = 0; axis < 2; ++axis) {
      if (d[axis] == 0) {
        if (start[axis] < lo[axis] || start[axis] > hi[axis]) kTo = -1;
        continue;
      }
      double k1 =
          (lo[axis] - start[axis]) * static_cast<double>(steps) / static_cast<double>(d[axis]);
      double k2 =
          (hi[axis] - start[axis]) * static_cast<double>(steps) / static_cast<double>(d[axis]);
      if (k1 > k2) std::swap(k1, k2);
      kFrom = std::max(kFrom, std::floor(k1) - 1);
      kTo = std::min(kTo, std::ceil(k2) + 1);
    }
    const auto first = static_cast<std::int64_t>(std::max(kFrom, 0.0));
    const std::int64_t end = kTo < 0 ? 0 : std::min(static_cast<std::int64_t>(kTo) + 1, steps);
    if (first < end) {
      // Along each axis the offset at step k is k * |d| / steps rounded half
      // up: q + r / den, carried on step by step.
      struct Axis {
        std::int64_t q, r, add, sign;
      } axes[2];
      const std::int64_t den = 2 * steps;
      for (int axis = 0; axis < 2; ++axis) {
        const std::int64_t ad = std::abs(d[axis]);
        const std::int64_t num = 2 * first * ad + steps;
        axes[axis] = {num / den, num % den, 2 * ad, d[axis] < 0 ? -1 : 1};
      }
      std::int64_t at = (phase + first) % period;
      for (std::int64_t k = first; k < end; ++k) {
        if (lit[static_cast<size_t>(at)])
          pixels.emplace_back(static_cast<int>(a.x + axes[0].sign * axes[0].q),
                              static_cast<int>(a.y + axes[1].sign * axes[1].q));
        if (++at == period) at = 0;
        for (Axis& ax : axes) {
          ax.r += ax.add;
          while (ax.r >= den) ax.r -= den, ++ax.q;
        }
      }
    }
    phase = (phase + steps) % period;
  }
  if (pixels.empty()) return;
  const QPen keep = p->pen();
  QPen solid = keep;
  solid.setStyle(Qt::SolidLine);
  solid.setCapStyle(Qt::FlatCap);
  p->setPen(solid);
  p->drawPoints(pixels.data(), static_cast<int>(pixels.size()));
  p->setPen(keep);
}

void TCanvas::Line(int x1, int y1, int x2, int y2) {
  if (pen_.Mode() == pmNop || (x1 == x2 && y1 == y2)) return;
  QPainter* p = Painter();
  if (!p) return;
  if (const auto pattern = ThinPattern(pen_.Style()); pen_.Width() <= 1 && !pattern.empty()) {
    const TPoint ends[] = {{x1, y1}, {x2, y2}};
    PatternedPolyline(p, ends, 2, pattern);
    return;
  }
  if (pen_.Width() > 1) {
    UseCap(Qt::FlatCap);
    p->drawLine(x1, y1, x2, y2);
  } else {
    ThinLine(p, x1, y1, x2, y2);
  }
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
  if (const auto pattern = ThinPattern(pen_.Style()); pen_.Width() <= 1 && !pattern.empty()) {
    PatternedPolyline(p, points.data(), n, pattern);
    return;
  }
  // Segments overlap at the joints: only where drawing twice changes nothing.
  if (pen_.Width() > 1 && pen_.Style() == psSolid && pen_.Mode() == pmCopy) {
    WidePolyline(p, points);
    return;
  }
  std::vector<QPoint> qpoints;
  qpoints.reserve(n);
  for (const TPoint& pt : points) qpoints.emplace_back(pt.x, pt.y);
  const QPoint* q = qpoints.data();
  if (pen_.Width() > 1) {
    UseCap(Qt::FlatCap);
    p->drawPolyline(q, static_cast<int>(n));
    return;
  }
  // Each segment starts on its first pixel and leaves out its end, as a run
  // of single lines does. The raster engine may leave out a segment's first
  // pixel instead (a spike's tip), so the starts are set as points.
  if (n > 2) {
    UseCap(Qt::FlatCap);
    p->drawPolyline(q, static_cast<int>(n - 1));
  }
  p->drawPoints(q, static_cast<int>(n - 1));
  if (!(points[n - 2] == points[n - 1])) ThinLine(p, points[n - 2].x, points[n - 2].y, points[n - 1].x, points[n - 1].y);
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
