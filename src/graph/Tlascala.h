#pragma once
// One axis of a diagram: Align 1 top, 2 bottom (X), 3 left, 4 right (Y).
// Turns world units into pixels and draws its band: end ticks, ticks, grid
// lines across the plot, end and tick labels (numbers, dates, times) and the
// title. Several diagrams may use one scale; the diagram that created it
// (its owner) destroys it.
#include <cstdint>
#include <string>
#include <vector>

#include "Tlagraphelement.h"

class TlaScala : public TlaGraphElement {
 public:
  TlaScala(kd::Component* owner, std::uint8_t align, const std::string& name);
  ~TlaScala() override;
  std::string ClassName() const override { return "TlaScala"; }

  std::uint8_t GetAlign() const { return align_; }
  bool IsHorizontal() const { return align_ == 1 || align_ == 2; }

  kd::TPen GridPen;
  kd::TBrush GridBrush;
  bool GridVisible = true;
  kd::TRect TrkArea;  // the plot rectangle, set by the diagram's layout
  kd::TPen TextPen;
  kd::TBrush TextBrush;
  kd::TFont TextFont;
  bool TextVisible = true;
  // Written directly by owners that must not trigger a refresh; SetRange notifies.
  TlaRange Range{0.0, 0.0};

  const std::string& GetText() const { return text_; }
  void SetText(const std::string& text);
  void SetRange(const TlaRange& r);
  double GetDivStep() const { return divStep_; }
  void SetDivStep(double step);
  bool GetIsDate() const { return isDate_; }
  void SetIsDate(bool v);
  bool GetIsTime() const { return isTime_; }
  void SetIsTime(bool v);

  double GetRangeLength() const { return Range.max - Range.min; }
  double GetPixelsPerUnit() const;
  bool Draw(kd::TCanvas* canvas);

  // Tick distance for a requested step: shrunk to at most half the range,
  // then grown by 2, 5 or 10 until ticks stand at least extent pixels apart.
  // 0 when there are no ticks.
  static double TickStep(double step, double rangeLength, double ppu, double extent);
  // The tick values between min (left out) and max (included).
  static std::vector<double> TickValues(double min, double max, double step, size_t limit);
  // Label lines of a value: the first line and, with date and time, the time line.
  std::string LabelText(double v) const;
  std::string TimeText(double v) const;

  // A label as Draw writes it: its text at a point and, with date and time,
  // its time line; box holds both lines (right and bottom excluded).
  struct Label {
    std::string text, time;
    kd::TPoint at, timeAt;
    kd::TRect box;
    bool atEnd = false;  // the max or min label
  };
  // The labels of the next drawing, measured on the canvas in TextFont:
  // max, min, then the ticks' in value order; none when TextVisible is off.
  std::vector<Label> Labels(kd::TCanvas& canvas) const;

  std::string GetSetup() const;
  void SetSetup(const std::string& text);

 private:
  friend class TlaDiagram;
  std::vector<double> Ticks(kd::TCanvas& canvas) const;
  std::vector<Label> LayOutLabels(kd::TCanvas& canvas, const std::vector<double>& ticks) const;
  void AddUser(TlaDiagram* d);
  void RemoveUser(TlaDiagram* d);

  std::uint8_t align_;
  std::string text_ = "0.00";
  double divStep_ = -1.0;
  bool isDate_ = false;
  bool isTime_ = false;
  std::vector<TlaDiagram*> users_;  // diagrams other than the owner holding it
};

// World point of a pixel of a plot rectangle, with the scale of the traces
// drawn there (one pixel is the range length over the rectangle's width).
Tla2DPoint PixelToWorld(const kd::TRect& plot, const TlaScala& x, const TlaScala& y, const kd::TPoint& pt);
