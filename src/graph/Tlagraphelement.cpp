#include "Tlagraphelement.h"

#include "Exception.h"
#include "Tladiagram.h"

kd::Component* TlaGraphElement::CheckOwner(kd::Component* owner) {
  if (!owner || owner->ClassName() != "TlaDiagram") throw kd::Exception("Graph Element: Bad owner pointer.");
  return owner;
}

TlaGraphElement::TlaGraphElement(kd::Component* owner, const std::string& name)
    : kd::Component(CheckOwner(owner)), diagram_(static_cast<TlaDiagram*>(owner)), title_(name) {
  LinePen.Set(kd::clWhite, kd::pmCopy, kd::psSolid, 1);
  LineBrush.Set(kd::clBlack, kd::bsClear);
  TitlePen.Set(kd::clWhite, kd::pmCopy, kd::psSolid, 1);
  TitleBrush.Set(kd::clBlack, kd::bsClear);
  TitleFont.Set(kd::clWhite, "Arial Narrow", -10, 0, 0);
  DrawArea = diagram_->DrawArea();
  Bind(LinePen);
  Bind(LineBrush);
  Bind(TitlePen);
  Bind(TitleBrush);
  Bind(TitleFont);
}

TlaGraphElement::~TlaGraphElement() { Detach(); }

void TlaGraphElement::Detach() {
  if (detached_) return;
  detached_ = true;
  diagram_->RemoveElement(this);
}

void TlaGraphElement::Bind(kd::TGraphicsObject& object) {
  object.OnChange = [this](kd::TGraphicsObject* sender) { DoOnChange(sender); };
}

void TlaGraphElement::Changed() {
  if (!detached_ && !silent_) diagram_->Changed();
}

void TlaGraphElement::DoOnChange(kd::TGraphicsObject*) { Changed(); }

void TlaGraphElement::SetTitle(const std::string& title) {
  if (title == title_) return;
  title_ = title;
  Changed();
}

void TlaGraphElement::SetTitleVisible(bool v) {
  if (v == titleVisible_) return;
  titleVisible_ = v;
  Changed();
}

void TlaGraphElement::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Changed();
}

void TlaGraphElement::DrawPointSymbol(kd::TCanvas& canvas, const kd::TPoint& p, std::uint8_t symbol) {
  switch (symbol) {
    case 1: canvas.Ellipse(p.x - 2, p.y - 2, p.x + 3, p.y + 3); break;
    case 2: canvas.Rectangle(p.x - 2, p.y - 2, p.x + 3, p.y + 3); break;
    case 3:
      canvas.Polygon({AddPoints(p, laShapeTable[9]), AddPoints(p, laShapeTable[10]), AddPoints(p, laShapeTable[11])});
      break;
    case 4:
      canvas.Line(p.x - 2, p.y - 2, p.x + 3, p.y + 3);
      canvas.Line(p.x - 2, p.y + 2, p.x + 3, p.y - 3);
      break;
    default: break;
  }
}

void TlaGraphElement::WriteCommonKeys(TlaSetupWriter& w) const {
  w.Key("LinePen", SetupPenToStr(LinePen));
  w.Key("LineBrush", SetupBrushToStr(LineBrush));
  w.Key("LineVisible", SetupBoolToStr(LineVisible));
  w.Key("Title", title_);
  w.Key("TitlePen", SetupPenToStr(TitlePen));
  w.Key("TitleBrush", SetupBrushToStr(TitleBrush));
  w.Key("TitleFont", SetupFontToStr(TitleFont));
  w.Key("TitleVisible", SetupBoolToStr(titleVisible_));
  w.Key("DrawArea", SetupRectToStr(DrawArea));
  w.Key("Visible", SetupBoolToStr(visible_));
}

std::string TlaGraphElement::GetSetup() const {
  TlaSetupWriter w;
  WriteCommonKeys(w);
  return w.Text();
}

void TlaGraphElement::SetSetup(const std::string& text) {
  const TlaSetupKeys keys(SplitSetupLines(text));
  const CommonSetup common(keys);
  Silence quiet(*this);
  common.ApplyTo(*this);
}

TlaGraphElement::CommonSetup::CommonSetup(const TlaSetupKeys& keys) {
  keys.ReadPen("LinePen", linePen_);
  keys.ReadBrush("LineBrush", lineBrush_);
  lineVisible_ = keys.Bool("LineVisible");
  title_ = keys.Text("Title");
  keys.ReadPen("TitlePen", titlePen_);
  keys.ReadBrush("TitleBrush", titleBrush_);
  // A fresh font: the style comes from the letter alone, as it was written.
  keys.ReadFont("TitleFont", titleFont_);
  titleVisible_ = keys.Bool("TitleVisible");
  drawArea_ = keys.Rect("DrawArea");
  visible_ = keys.Bool("Visible");
}

void TlaGraphElement::CommonSetup::ApplyTo(TlaGraphElement& e) const {
  e.LinePen.Assign(linePen_);
  e.LineBrush.Assign(lineBrush_);
  e.LineVisible = lineVisible_;
  e.title_ = title_;
  e.TitlePen.Assign(titlePen_);
  e.TitleBrush.Assign(titleBrush_);
  e.TitleFont.Assign(titleFont_);
  e.titleVisible_ = titleVisible_;
  e.DrawArea = drawArea_;
  e.visible_ = visible_;
}
