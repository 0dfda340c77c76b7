#pragma once
// Marks one world point of a diagram: a vertical line at its x (orientation
// 1, label at the X scale), a horizontal line at its y (orientation 2, label
// at the Y scale), glyphs where the lines leave the plot and a point symbol.
#include <cstdint>
#include <string>

#include "Tlagraphelement.h"

class TlaScala;

// Orientation set: bit n for orientation n.
using TlaOrType = std::uint8_t;
inline constexpr TlaOrType laOrVertical = 1u << 1;    // orientation 1
inline constexpr TlaOrType laOrHorizontal = 1u << 2;  // orientation 2

class TlaMarker : public TlaGraphElement {
 public:
  TlaMarker(kd::Component* owner, const std::string& name);
  ~TlaMarker() override;
  std::string ClassName() const override { return "TlaMarker"; }

  kd::TPen TextPen;
  kd::TBrush TextBrush;
  kd::TFont TextFont;
  bool TextVisible = true;

  const std::string& GetText() const { return text_; }
  void SetText(const std::string& text);
  const Tla2DPoint& GetPoint() const { return point_; }
  void SetPoint(const Tla2DPoint& p);
  // Glyph at each line end: 1, 2, 3 triangles, 4 ellipse, 5 rectangle.
  std::uint8_t GetMrkType() const { return mrkType_; }
  void SetMrkType(std::uint8_t t);
  // Symbol at the point: 1 ellipse, 2 rectangle, 3 triangle, 4 cross.
  std::uint8_t GetDotted() const { return dotted_; }
  void SetDotted(std::uint8_t d);
  TlaOrType GetOrType() const { return orType_; }
  void SetOrType(TlaOrType t);
  const kd::TRect& GetXTextArea() const { return xTextArea_; }
  const kd::TRect& GetYTextArea() const { return yTextArea_; }
  // 0 none, 1 the orientation-1 label, 2 the orientation-2 label.
  std::uint8_t GetHighlight() const { return highlight_; }
  void SetHighlight(std::uint8_t h);

  bool Draw(kd::TCanvas* canvas, const TlaScala* x, const TlaScala* y);
  // Which label box strictly contains pt; sets Highlight without notifying.
  bool HitTest(const kd::TPoint& pt);

  std::string GetSetup() const;
  void SetSetup(const std::string& text);

 private:
  void DrawGlyph(kd::TCanvas* c, kd::TPoint anchor, int side, const kd::TRect& box) const;
  void DrawLabel(kd::TCanvas* c, const TlaScala* s, double v, int px, int py, bool vertical);

  std::string text_ = "0.00";
  Tla2DPoint point_{1e99, 1e99};
  std::uint8_t mrkType_ = 0;
  std::uint8_t dotted_ = 0;
  TlaOrType orType_ = laOrVertical | laOrHorizontal;
  kd::TRect yTextArea_;
  kd::TRect xTextArea_;
  std::uint8_t highlight_ = 0;
};
