#pragma once
// Small value types of the graph library: world points and ranges, integer
// screen points and rectangles (right and bottom inclusive) and the glyph
// table of markers and point symbols.
#include <cstdint>

namespace kd {

struct TPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  constexpr TPoint() = default;
  constexpr TPoint(std::int32_t px, std::int32_t py) : x(px), y(py) {}
  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

// right and bottom are the last pixel inside; width is right - left.
struct TRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  constexpr TRect() = default;
  constexpr TRect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b)
      : left(l), top(t), right(r), bottom(b) {}
  constexpr std::int32_t Width() const { return right - left; }
  constexpr std::int32_t Height() const { return bottom - top; }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

}  // namespace kd

// A point in diagram (world) units.
struct Tla2DPoint {
  double x = 0.0;
  double y = 0.0;
  constexpr Tla2DPoint() = default;
  constexpr Tla2DPoint(double px, double py) : x(px), y(py) {}
  friend constexpr bool operator==(const Tla2DPoint&, const Tla2DPoint&) = default;
};

struct TlaRange {
  double min = 0.0;
  double max = 0.0;
  constexpr TlaRange() = default;
  constexpr TlaRange(double lo, double hi) : min(lo), max(hi) {}
  // Two ranges differ when either bound differs (exact comparison).
  friend constexpr bool operator==(const TlaRange&, const TlaRange&) = default;

  // Widens r to take in other; r is changed in place and returned.
  static TlaRange& Union(TlaRange& r, const TlaRange& other);
  // min <= v <= max.
  static bool Contains(const TlaRange& r, double v);
  static double Length(const TlaRange& r) { return r.max - r.min; }
};

// Strictly inside: the border itself is outside.
bool PtInsideRect(int x, int y, const kd::TRect& rect);
inline bool PtInsideRect(const kd::TPoint& p, const kd::TRect& rect) { return PtInsideRect(p.x, p.y, rect); }
kd::TRect ShrinkRect(const kd::TRect& rect, int n);
kd::TPoint AddPoints(const kd::TPoint& a, const kd::TPoint& b);
kd::TPoint MirrorX(const kd::TPoint& p);     // (-x, y)
kd::TPoint MirrorY(const kd::TPoint& p);     // (x, -y)
kd::TPoint MirrorSwap(const kd::TPoint& p);  // (-y, -x)

// Four triples of offsets from an anchor pixel; the fourth is the triangle
// point symbol, the others are marker glyphs.
extern const kd::TPoint laShapeTable[12];

// Truncation toward zero of a pixel position, saturated to a range that the
// canvas handles (NaN gives 0), so that wild world values never overflow.
int PixelTrunc(double v);
