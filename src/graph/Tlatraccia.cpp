#include "Tlatraccia.h"

#include <vector>

#include "Tladiagram.h"
#include "Tlascala.h"

TlaTraccia::TlaTraccia(kd::Component* owner, const std::string& name) : TlaGraphElement(owner, name) {}

TlaTraccia::~TlaTraccia() { Detach(); }

void TlaTraccia::SetTrkType(std::uint8_t t) {
  if (t == trkType_) return;
  trkType_ = t;
  Changed();
}

// ---------------------------------------------------------------------------
// Samples. Each of the four deques holds, oldest first, the sequence numbers
// of the samples that can still become the window's minimum (or maximum) of
// x (or y); the front is the current extreme. Appending and dropping the
// oldest are amortised O(1).

void TlaTraccia::AddPoint(bool dropOldest, double x, double y) {
  if (dropOldest) DeleteFirstPoints(1);
  const std::uint64_t seq = firstSeq_ + points_.size();
  points_.emplace_back(x, y);
  auto at = [this](std::uint64_t s) -> const Tla2DPoint& { return points_[static_cast<size_t>(s - firstSeq_)]; };
  while (!xMin_.empty() && at(xMin_.back()).x >= x) xMin_.pop_back();
  xMin_.push_back(seq);
  while (!xMax_.empty() && at(xMax_.back()).x <= x) xMax_.pop_back();
  xMax_.push_back(seq);
  while (!yMin_.empty() && at(yMin_.back()).y >= y) yMin_.pop_back();
  yMin_.push_back(seq);
  while (!yMax_.empty() && at(yMax_.back()).y <= y) yMax_.pop_back();
  yMax_.push_back(seq);
  UpdateLimits();
}

void TlaTraccia::DeleteFirstPoints(int n) {
  if (n <= 0 || GetPointCount() <= n) return;
  points_.erase(points_.begin(), points_.begin() + n);
  firstSeq_ += static_cast<std::uint64_t>(n);
  for (auto* q : {&xMin_, &xMax_, &yMin_, &yMax_})
    while (!q->empty() && q->front() < firstSeq_) q->pop_front();
  UpdateLimits();
}

void TlaTraccia::ClearPoints() {
  points_.clear();
  xMin_.clear();
  xMax_.clear();
  yMin_.clear();
  yMax_.clear();
  firstSeq_ = 0;
}

void TlaTraccia::UpdateLimits() {
  if (points_.empty()) return;
  auto at = [this](std::uint64_t s) -> const Tla2DPoint& { return points_[static_cast<size_t>(s - firstSeq_)]; };
  xLimits_ = {at(xMin_.front()).x, at(xMax_.front()).x};
  yLimits_ = {at(yMin_.front()).y, at(yMax_.front()).y};
}

// ---------------------------------------------------------------------------

void TlaTraccia::SetCursor(bool on) {
  if (on == cursorOn_) return;
  cursorOn_ = on;
  if (!on) cursorPoint_.reset();
  Changed();
}

void TlaTraccia::SetCursorAt(const TlaScala* x, const TlaScala* y, const kd::TPoint& pt) {
  if (!x || !y) return;
  if (!cursorPoint_) cursorPoint_ = std::make_unique<Tla2DPoint>(0.0, 0.0);
  *cursorPoint_ = PixelToWorld(DrawArea, *x, *y, pt);
}

namespace {

std::string SampleKey(size_t index) {
  std::string key = std::to_string(index);
  key.insert(key.begin(), 'P');
  return key;
}

// Polyline points with runs in one pixel column cut to their first, lowest,
// highest and last point: the same pixels, far fewer segments.
class ColumnReducer {
 public:
  explicit ColumnReducer(std::vector<kd::TPoint>& out) : out_(out) {}
  void Add(kd::TPoint p) {
    if (count_ > 0 && p.x == first_.x) {
      if (p.y < low_.y) low_ = p, lowAt_ = count_;
      if (p.y > high_.y) high_ = p, highAt_ = count_;
      last_ = p;
      ++count_;
      return;
    }
    Flush();
    first_ = low_ = high_ = last_ = p;
    lowAt_ = highAt_ = 0;
    count_ = 1;
  }
  void Flush() {
    if (count_ == 0) return;
    Emit(first_);
    if (lowAt_ < highAt_) Emit(low_), Emit(high_);
    else Emit(high_), Emit(low_);
    Emit(last_);
    count_ = 0;
  }

 private:
  void Emit(kd::TPoint p) {
    if (out_.empty() || !(out_.back() == p)) out_.push_back(p);
  }
  std::vector<kd::TPoint>& out_;
  kd::TPoint first_, low_, high_, last_;
  int lowAt_ = 0, highAt_ = 0, count_ = 0;
};

}  // namespace

bool TlaTraccia::Draw(kd::TCanvas* canvas, const TlaScala* x, const TlaScala* y) {
  if (!GetVisible() || !canvas || !x || !y) return false;
  const kd::TRect da = DrawArea;
  // The whole plot rectangle, its last column and row included.
  canvas->SetClipRect({da.left, da.top, da.right + 1, da.bottom + 1});
  canvas->Pen().Assign(LinePen);
  canvas->Brush().Assign(LineBrush);
  const double kx = x->GetPixelsPerUnit(), ky = y->GetPixelsPerUnit();
  const double xmin = x->Range.min, ymin = y->Range.min;
  auto map = [&](const Tla2DPoint& p) {
    return kd::TPoint(PixelTrunc((p.x - xmin) * kx) + da.left, da.bottom - PixelTrunc((p.y - ymin) * ky));
  };
  const size_t n = points_.size();

  if (trkType_ == 1 || trkType_ == 2) {
    std::vector<kd::TPoint> line;
    line.reserve(trkType_ == 1 ? std::min<size_t>(n, 4 * static_cast<size_t>(da.Width() + 2)) : 2 * n + 1);
    ColumnReducer reducer(line);
    for (size_t i = 0; i < n; ++i) {
      const kd::TPoint p = map(points_[i]);
      if (trkType_ == 1) {
        reducer.Add(p);
      } else {
        const kd::TPoint next = i + 1 < n ? map(points_[i + 1]) : p;
        auto add = [&line](kd::TPoint q) {
          if (line.empty() || !(line.back() == q)) line.push_back(q);
        };
        if (i == 0) add(p);
        add({next.x, p.y});
        add(next);
      }
    }
    reducer.Flush();
    canvas->Polyline(line);
  } else if (trkType_ == 3) {
    const int zero = da.bottom - PixelTrunc((0 - ymin) * ky);
    for (size_t i = 0; i < n; ++i) {
      const kd::TPoint p = map(points_[i]);
      const kd::TPoint next = i + 1 < n ? map(points_[i + 1]) : p;
      canvas->FillRect({p.x, p.y, next.x + 1, zero + 1});
    }
  } else if (trkType_ == 4) {
    for (size_t i = 0; i < n; ++i) {
      const kd::TPoint p = map(points_[i]);
      canvas->SetPixel(p.x, p.y, LinePen.Color());
    }
  }

  if (Dotted >= 1 && Dotted <= 4)
    for (size_t i = 0; i < n; ++i) DrawPointSymbol(*canvas, map(points_[i]), Dotted);
  canvas->RemoveClip();
  return true;
}

std::string TlaTraccia::GetSetup() const {
  TlaSetupWriter w("[laTraccia]");
  WriteCommonKeys(w);
  w.Key("TrkType", SetupIntToStr(trkType_));
  w.Key("Dotted", SetupIntToStr(Dotted));
  for (size_t i = 0; i < points_.size(); ++i) w.Key(SampleKey(i), SetupPointToStr(points_[i]));
  return w.Finish();
}

void TlaTraccia::SetSetup(const std::string& text) {
  const TlaSetupKeys keys(SplitSetupLines(text));
  const CommonSetup common(keys);
  const int trkType = keys.Int("TrkType");
  const int dotted = keys.Int("Dotted");
  std::vector<Tla2DPoint> samples;
  for (size_t i = 0;; ++i) {
    const std::string key = SampleKey(i);
    if (!keys.Has(key)) break;
    samples.push_back(keys.Point(key));
  }
  Silence quiet(*this);
  common.ApplyTo(*this);
  trkType_ = static_cast<std::uint8_t>(trkType);
  Dotted = static_cast<std::uint8_t>(dotted);
  for (const Tla2DPoint& p : samples) AddPoint(false, p.x, p.y);
}
