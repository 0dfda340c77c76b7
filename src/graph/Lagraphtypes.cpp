#include "Lagraphtypes.h"

#include <cmath>

TlaRange& TlaRange::Union(TlaRange& r, const TlaRange& other) {
  if (other.min < r.min) r.min = other.min;
  if (other.max > r.max) r.max = other.max;
  return r;
}

bool TlaRange::Contains(const TlaRange& r, double v) { return r.min <= v && v <= r.max; }

bool PtInsideRect(int x, int y, const kd::TRect& rect) {
  return x > rect.left && x < rect.right && y > rect.top && y < rect.bottom;
}

kd::TRect ShrinkRect(const kd::TRect& rect, int n) {
  return {rect.left + n, rect.top + n, rect.right - n, rect.bottom - n};
}

kd::TPoint AddPoints(const kd::TPoint& a, const kd::TPoint& b) { return {a.x + b.x, a.y + b.y}; }
kd::TPoint MirrorX(const kd::TPoint& p) { return {-p.x, p.y}; }
kd::TPoint MirrorY(const kd::TPoint& p) { return {p.x, -p.y}; }
kd::TPoint MirrorSwap(const kd::TPoint& p) { return {-p.y, -p.x}; }

const kd::TPoint laShapeTable[12] = {
    {0, 0},  {5, 5},  {-5, 5},  // 1
    {0, 0},  {-5, 5}, {0, 5},   // 2
    {0, 0},  {5, 5},  {0, 5},   // 3
    {-3, 2}, {3, 2},  {0, -5},  // 4
};

int PixelTrunc(double v) {
  constexpr double kLimit = 4194304.0;  // 2^22
  if (std::isnan(v)) return 0;
  if (v > kLimit) return static_cast<int>(kLimit);
  if (v < -kLimit) return static_cast<int>(-kLimit);
  return static_cast<int>(v);
}
