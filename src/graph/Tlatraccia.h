#pragma once
// One data series of a diagram: samples in arrival order, drawn as a line,
// steps, bars or pixels, with an optional symbol per sample. Appending with
// drop-oldest and reading the running extent both take constant time.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "Tlagraphelement.h"

class TlaScala;

class TlaTraccia : public TlaGraphElement {
 public:
  TlaTraccia(kd::Component* owner, const std::string& name);
  ~TlaTraccia() override;
  std::string ClassName() const override { return "TlaTraccia"; }

  bool GetCursorOn() const { return cursorOn_; }
  const Tla2DPoint* GetCursorPoint() const { return cursorPoint_.get(); }
  const TlaRange& GetXLimits() const { return xLimits_; }
  const TlaRange& GetYLimits() const { return yLimits_; }
  // 1 line, 2 steps, 3 bars, 4 pixels; other values draw no line.
  std::uint8_t GetTrkType() const { return trkType_; }
  void SetTrkType(std::uint8_t t);
  // Symbol at each sample: 1 circle, 2 square, 3 triangle, 4 cross.
  std::uint8_t Dotted = 0;

  // Appends a sample (after dropping the oldest when dropOldest); does not
  // notify: the caller refreshes when it wants the sample shown.
  void AddPoint(bool dropOldest, double x, double y);
  // Drops the n oldest samples, only when more than n are held.
  void DeleteFirstPoints(int n);
  void ClearPoints();  // the limits stay as they were
  int GetPointCount() const { return static_cast<int>(points_.size()); }
  const Tla2DPoint& GetPoint(int index) const { return points_[static_cast<size_t>(index)]; }

  void SetCursor(bool on);
  void SetCursorAt(const TlaScala* x, const TlaScala* y, const kd::TPoint& pt);
  bool Draw(kd::TCanvas* canvas, const TlaScala* x, const TlaScala* y);

  std::string GetSetup() const;
  void SetSetup(const std::string& text);

 private:
  void UpdateLimits();

  // Sequence number of every sample; the deques below hold the sequence
  // numbers of the window's minima and maxima candidates (monotonic queues).
  std::uint64_t firstSeq_ = 0;
  std::deque<Tla2DPoint> points_;
  std::deque<std::uint64_t> xMin_, xMax_, yMin_, yMax_;

  bool cursorOn_ = false;
  std::unique_ptr<Tla2DPoint> cursorPoint_;
  TlaRange xLimits_{0.0, 0.0};
  TlaRange yLimits_{0.0, 0.0};
  std::uint8_t trkType_ = 1;
};
