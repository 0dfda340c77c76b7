#pragma once
// Drawing canvas of the graph library over QImage + QPainter.
//
// Colours are 32-bit 0x00BBGGRR values (red in the low byte); values with the
// high bit set name system colours, of which the window (0x80000005) and the
// button face (0x8000000F) have fixed values here. Coordinates follow the
// rectangle rules of the library's drawing calls: Rectangle, FillRect,
// Ellipse, RoundRect and clip rectangles exclude their right and bottom edge;
// Line and Polyline leave out the last pixel of a line. Thin lines of every
// pen style set the same pixels, a pattern only leaving some out; the
// pattern runs along a whole polyline, not restarting at its vertices.
#include <QFont>
#include <QGlyphRun>
#include <QImage>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Event.h"
#include "Lagraphtypes.h"

class QPainter;
class QFontMetrics;

namespace kd {

using TColor = std::int32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clWindow = static_cast<TColor>(0x80000005u);
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);

// Plain 0x00RRGGBB for a colour value (system colours resolved).
std::uint32_t ColorToRgb(TColor color);

// Ordinals as the setup text stores them.
enum TPenMode : int {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
enum TPenStyle : int { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TBrushStyle : int {
  bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross
};
// Font style set, one bit per member.
enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// Base of pens, brushes and fonts: OnChange runs after every real change.
class TGraphicsObject {
 public:
  TGraphicsObject() = default;
  TGraphicsObject(const TGraphicsObject&) = delete;
  TGraphicsObject& operator=(const TGraphicsObject&) = delete;
  kd::Event<void(TGraphicsObject* sender)> OnChange;

 protected:
  void Changed() {
    if (OnChange) OnChange(this);
  }
};

class TPen : public TGraphicsObject {
 public:
  TColor Color() const { return color_; }
  int Mode() const { return mode_; }
  int Style() const { return style_; }
  int Width() const { return width_; }
  void SetColor(TColor c);
  void SetMode(int m);
  void SetStyle(int s);
  void SetWidth(int w);
  // All four at once; one notification when anything differs.
  void Set(TColor c, int mode, int style, int width);
  void Assign(const TPen& other) { Set(other.color_, other.mode_, other.style_, other.width_); }

 private:
  TColor color_ = clBlack;
  int mode_ = pmCopy;
  int style_ = psSolid;
  int width_ = 1;
};

class TBrush : public TGraphicsObject {
 public:
  TColor Color() const { return color_; }
  int Style() const { return style_; }
  // A clear brush becomes solid when it is given a colour.
  void SetColor(TColor c);
  void SetStyle(int s);
  void Set(TColor c, int style);
  void Assign(const TBrush& other) { Set(other.color_, other.style_); }

 private:
  TColor color_ = clWhite;
  int style_ = bsSolid;
};

class TFont : public TGraphicsObject {
 public:
  TColor Color() const { return color_; }
  const std::string& Name() const { return name_; }
  // Positive: points; negative: character cell height in points (both at 96 dpi).
  int Size() const { return size_; }
  std::uint8_t Style() const { return style_; }
  bool HasStyle(TFontStyle s) const { return (style_ & s) != 0; }
  // Text direction in tenths of a degree, counter-clockwise (900: upward).
  int Orientation() const { return orientation_; }
  void SetColor(TColor c);
  void SetName(const std::string& n);
  void SetSize(int s);
  void SetStyle(std::uint8_t s);
  void SetOrientation(int tenths);
  void Set(TColor c, const std::string& name, int size, std::uint8_t style, int orientation);
  void Assign(const TFont& o) { Set(o.color_, o.name_, o.size_, o.style_, o.orientation_); }

  const QFont& ToQFont() const;

 private:
  TColor color_ = clBlack;
  std::string name_ = "Arial";
  int size_ = 8;
  std::uint8_t style_ = 0;
  int orientation_ = 0;
  mutable QFont qfont_;
  mutable bool qfontValid_ = false;
};

class TCanvas {
 public:
  explicit TCanvas(QImage* image);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TPen& Pen() { return pen_; }
  TBrush& Brush() { return brush_; }
  TFont& Font() { return font_; }
  void Line(int x1, int y1, int x2, int y2);  // a two-point polyline
  void Polyline(const std::vector<TPoint>& points);
  void Polygon(const std::vector<TPoint>& points);
  void Rectangle(int l, int t, int r, int b);
  void FillRect(const TRect& r);  // brush only
  void Ellipse(int l, int t, int r, int b);
  void RoundRect(int l, int t, int r, int b, int cornerW, int cornerH);
  void SetPixel(int x, int y, TColor color);
  TColor Pixel(int x, int y);
  // Text with its top-left corner at (x, y) (reference point for rotated
  // fonts); a brush that is not clear fills the text cell first.
  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);  // 0 for the empty text

  void SetClipRect(const TRect& r);  // right and bottom excluded
  void RemoveClip();

  // Ends the painting session so that the image can be read or replaced.
  void Flush();

 private:
  // A font met on this canvas, with its metrics and what shaping gave for the
  // texts measured and drawn in it (the same labels come back every drawing).
  struct FontCache;
  FontCache& CurrentFont();
  QPainter* Painter();
  const QFontMetrics& Metrics();
  // The text in the current font, shaped once.
  const std::vector<QGlyphRun>& GlyphRuns(const std::string& text);
  void ApplyState();
  void UseCap(Qt::PenCapStyle cap);
  void ThinPolyline(QPainter* p, const TPoint* points, size_t n, std::span<const int> pattern);
  void WidePolyline(QPainter* p, const std::vector<TPoint>& points);

  QImage* image_;
  std::unique_ptr<QPainter> painter_;
  std::vector<std::unique_ptr<FontCache>> fonts_;
  FontCache* current_ = nullptr;  // the entry of font_, null until looked up
  TPen pen_;
  TBrush brush_;
  TFont font_;
  bool penDirty_ = true;
  bool brushDirty_ = true;
  bool fontDirty_ = true;
  Qt::PenCapStyle cap_ = Qt::FlatCap;
  bool clipOn_ = false;
  TRect clip_;
};

// Off-screen bitmap with its canvas.
class TBitmap {
 public:
  TBitmap(int width, int height);
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  void SetWidth(int w) { SetSize(w, Height()); }
  void SetHeight(int h) { SetSize(Width(), h); }
  void SetSize(int w, int h);  // keeps the picture at the top left
  TCanvas& Canvas() { return canvas_; }
  // The picture as it stands (ends the canvas's painting session).
  const QImage& Image();
  // PNG for a ".png" name, BMP otherwise; the file is replaced atomically.
  // Raises kd::Exception when it cannot be written.
  void SaveToFile(const std::string& fileName);

 private:
  QImage image_;
  TCanvas canvas_;
};

}  // namespace kd
