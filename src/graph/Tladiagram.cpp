#include "Tladiagram.h"

#include <algorithm>

#include "Exception.h"
#include "Lagraphsetup.h"
#include "Tlagraph.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"

namespace {

TlaGraph* CheckGraph(TlaGraph* graph) {
  if (!graph) throw kd::Exception("Diagram: Owner not valid!");
  return graph;
}

}  // namespace

TlaDiagram::TlaDiagram(TlaGraph* graph, const std::string& name)
    : kd::Component(CheckGraph(graph)), graph_(graph), title_(name) {
  TitlePen.Set(kd::clWhite, kd::pmCopy, kd::psSolid, 1);
  TitleBrush.Set(kd::clBlack, kd::bsClear);
  TitleFont.Set(kd::clWhite, "Arial", -10, kd::fsBold, 0);
  for (kd::TGraphicsObject* o : {static_cast<kd::TGraphicsObject*>(&TitlePen),
                                 static_cast<kd::TGraphicsObject*>(&TitleBrush),
                                 static_cast<kd::TGraphicsObject*>(&TitleFont)})
    o->OnChange = [this](kd::TGraphicsObject* sender) { DoOnChange(sender); };
  drawArea_ = titleBand_ = trkArea_ = graph->GetDrawArea();
  graph->AddDiagram(this);
}

TlaDiagram::~TlaDiagram() {
  destroying_ = true;
  // Out of the list first, so that no repaint reaches a diagram half gone.
  graph_->DeleteDiagram(this);
  selElement_ = nullptr;
  delete legenda_;
  for (TlaScala** slot : {&scalaX_, &scalaY_}) {
    if (!*slot) continue;
    if ((*slot)->OwnerDiagram() == this) delete *slot;  // leaves both slots itself
    else ReleaseScale(*slot);
  }
  while (!traces_.empty()) delete traces_.back();
  while (!markers_.empty()) delete markers_.back();
  DestroyComponents();  // elements that were never attached or were taken out
}

void TlaDiagram::Changed() {
  if (destroying_ || silent_) return;
  modified_ = true;
  graph_->RefreshQuery();
}

void TlaDiagram::DoOnChange(kd::TGraphicsObject*) { Changed(); }

#define KD_DIAGRAM_SETTER(Name, field, Type) \
  void TlaDiagram::Set##Name(Type v) {       \
    if (v == field) return;                  \
    field = v;                               \
    Changed();                               \
  }
KD_DIAGRAM_SETTER(Visible, visible_, bool)
KD_DIAGRAM_SETTER(AutoScalaX, autoScalaX_, bool)
KD_DIAGRAM_SETTER(AutoScalaY, autoScalaY_, bool)
KD_DIAGRAM_SETTER(TitleVisible, titleVisible_, bool)
KD_DIAGRAM_SETTER(DgrBack, dgrBack_, kd::TColor)
KD_DIAGRAM_SETTER(TrkBack, trkBack_, kd::TColor)
KD_DIAGRAM_SETTER(FollowOwnerArea, followOwnerArea_, bool)
#undef KD_DIAGRAM_SETTER

void TlaDiagram::SetDrawArea(const kd::TRect& r) {
  followOwnerArea_ = false;
  if (r == drawArea_) return;
  drawArea_ = r;
  Changed();
}

// ---------------------------------------------------------------------------
// Scale slots. A scale created by another diagram is borrowed: this diagram
// registers with it, so that the scale can empty the slot when its owner
// destroys it.

void TlaDiagram::HoldScale(TlaScala*& slot, TlaScala* scale) {
  ReleaseScale(slot);
  slot = scale;
  if (scale->OwnerDiagram() != this) scale->AddUser(this);
}

void TlaDiagram::ReleaseScale(TlaScala*& slot) {
  TlaScala* s = slot;
  slot = nullptr;
  if (s && s->OwnerDiagram() != this && s != scalaX_ && s != scalaY_) s->RemoveUser(this);
}

void TlaDiagram::ScaleGone(TlaScala* scale) {
  if (scalaX_ == scale) scalaX_ = nullptr;
  if (scalaY_ == scale) scalaY_ = nullptr;
  Changed();
}

void TlaDiagram::SetScalaX(TlaScala* scale) {
  if (!scale || scale == scalaX_) return;
  HoldScale(scalaX_, scale);
  Changed();
}

// ---------------------------------------------------------------------------

int TlaDiagram::AddElement(TlaGraphElement* element) {
  if (!element) return -2;
  const std::string cls = element->ClassName();
  // Only scales are shared; a trace, marker or legend of another diagram
  // would outlive its place here.
  if (element->OwnerDiagram() != this && cls != "TlaScala") return -1;
  int result;
  if (cls == "TlaScala") {
    auto* s = static_cast<TlaScala*>(element);
    TlaScala*& slot = s->IsHorizontal() ? scalaX_ : scalaY_;
    if (slot) return -4;
    HoldScale(slot, s);
    result = s->IsHorizontal() ? kXScale : kYScale;
  } else if (cls == "TlaTraccia") {
    auto* t = static_cast<TlaTraccia*>(element);
    if (GetTraccia(t->GetTitle())) return -3;
    traces_.push_back(t);
    result = static_cast<int>(traces_.size()) - 1;
  } else if (cls == "TlaMarker") {
    auto* m = static_cast<TlaMarker*>(element);
    if (GetMarker(m->GetTitle())) return -3;
    markers_.push_back(m);
    result = static_cast<int>(markers_.size()) - 1;
  } else if (cls == "TlaLegenda") {
    if (legenda_) return -4;
    legenda_ = static_cast<TlaLegenda*>(element);
    result = kLegend;
  } else {
    return -1;
  }
  Changed();
  return result;
}

TlaGraphElement* TlaDiagram::RemoveElement(TlaGraphElement* element) {
  if (!element) return nullptr;
  if (selElement_ == element) selElement_ = nullptr;
  // Slots and lists are emptied only where they hold this very element.
  TlaGraphElement* result = nullptr;
  if (element == scalaX_ || element == scalaY_) {
    if (element == scalaX_) ReleaseScale(scalaX_);
    if (element == scalaY_) ReleaseScale(scalaY_);
    result = element;
  } else if (element == legenda_) {
    legenda_ = nullptr;
    result = element;
  } else if (auto t = std::find(traces_.begin(), traces_.end(), element); t != traces_.end()) {
    traces_.erase(t);
    result = element;
  } else if (auto m = std::find(markers_.begin(), markers_.end(), element); m != markers_.end()) {
    markers_.erase(m);
    result = element;
  }
  if (result) Changed();
  return result;
}

TlaTraccia* TlaDiagram::GetTraccia(const std::string& title) const {
  for (TlaTraccia* t : traces_)
    if (t->GetTitle() == title) return t;
  return nullptr;
}

TlaMarker* TlaDiagram::GetMarker(const std::string& title) const {
  for (TlaMarker* m : markers_)
    if (m->GetTitle() == title) return m;
  return nullptr;
}

int TlaDiagram::CreateNewScala(std::uint8_t align, const std::string& name) {
  auto* s = new TlaScala(this, align, name);  // owned by this diagram
  const int r = AddElement(s);
  if (r < 0) delete s;
  return r;
}

int TlaDiagram::CreateNewLegenda(const std::string& name) {
  auto* l = new TlaLegenda(this, name, &traces_);  // owned by this diagram
  const int r = AddElement(l);
  if (r < 0) delete l;
  return r;
}

TlaTraccia* TlaDiagram::CreateNewTraccia(const std::string& name) {
  if (GetTraccia(name)) return nullptr;
  auto* t = new TlaTraccia(this, name);  // owned by this diagram
  if (AddElement(t) < 0) {
    delete t;
    return nullptr;
  }
  return t;
}

TlaMarker* TlaDiagram::CreateNewMarker(const std::string& name) {
  if (GetMarker(name)) return nullptr;
  auto* m = new TlaMarker(this, name);  // owned by this diagram
  if (AddElement(m) < 0) {
    delete m;
    return nullptr;
  }
  return m;
}

bool TlaDiagram::IsComplete() const { return visible_ && scalaX_ && scalaY_; }

// ---------------------------------------------------------------------------

void TlaDiagram::FitToOwner() {
  drawArea_ = {graph_->GetLeft(), graph_->GetTop(), graph_->GetLeft() + graph_->GetWidth(),
               graph_->GetTop() + graph_->GetHeight()};
}

void TlaDiagram::Layout(kd::TCanvas* canvas) {
  if (!canvas) return;
  if (followOwnerArea_) FitToOwner();
  const kd::TRect a = drawArea_;
  titleBand_ = a;
  if (titleVisible_) {
    canvas->Font().Assign(TitleFont);
    titleBand_.bottom = titleBand_.top + canvas->TextHeight(title_) + 2;
  } else {
    titleBand_.bottom = titleBand_.top;
  }

  TlaScala* x = scalaX_;
  TlaScala* y = scalaY_;
  if (x) {
    canvas->Font().Assign(x->TextFont);
    const int h = canvas->TextHeight("0");
    int extra = 0;
    if (x->TextVisible) extra += h;
    if (x->GetIsDate() && x->GetIsTime()) extra += h;
    if (x->GetTitleVisible()) {
      canvas->Font().Assign(x->TitleFont);
      extra += canvas->TextHeight("0") + 2;
    }
    kd::TRect r = a;
    if (x->GetAlign() == 1) {
      r.top = titleBand_.bottom + 1;
      r.bottom = r.top + 5 + extra;
    } else {
      r.bottom = a.bottom;
      r.top = r.bottom - 5 - extra;
    }
    x->DrawArea = r;
  }
  if (y) {
    canvas->Font().Assign(y->TextFont);
    const int w = canvas->TextWidth("0");
    const int n = y->GetIsDate() ? 10 : y->GetIsTime() ? 8 : static_cast<int>(y->GetText().size());
    int band = 5 + n * w;
    if (y->GetTitleVisible()) {
      canvas->Font().Assign(y->TitleFont);
      band += canvas->TextHeight("0") + 2;
    }
    kd::TRect r = a;
    if (y->GetAlign() == 3) r.right = a.left + band;
    else r.left = a.right - band;
    y->DrawArea = r;
  }

  kd::TRect p = ShrinkRect(a, 1);
  p.top = titleBand_.bottom + 1;
  if (x) {
    if (x->GetAlign() == 1) p.top = x->DrawArea.bottom + 1;
    else p.bottom = x->DrawArea.top - 1;
    if (y) {
      y->DrawArea.top = p.top - 1;
      y->DrawArea.bottom = p.bottom + 1;
    }
  }
  if (y) {
    if (y->GetAlign() == 3) p.left = y->DrawArea.right + 1;
    else p.right = y->DrawArea.left - 1;
    if (x) {
      x->DrawArea.left = p.left - 1;
      x->DrawArea.right = p.right + 1;
    }
  }
  trkArea_ = p;
  if (x) x->TrkArea = p;
  if (y) y->TrkArea = p;
  for (TlaTraccia* t : traces_) t->DrawArea = p;
  for (TlaMarker* m : markers_) m->DrawArea = p;
  titleBand_.left = p.left;
}

TlaRange TlaDiagram::AutoRange(bool xAxis) const {
  TlaRange r{0.0, 0.0};
  for (size_t i = 0; i < traces_.size(); ++i) {
    const TlaTraccia* t = traces_[i];
    if (!t->GetVisible()) continue;
    const TlaRange& lim = xAxis ? t->GetXLimits() : t->GetYLimits();
    if (i == 0) r = lim;
    else TlaRange::Union(r, lim);
  }
  const TlaOrType orientation = xAxis ? laOrVertical : laOrHorizontal;
  for (const TlaMarker* m : markers_) {
    if (!m->GetVisible() || !(m->GetOrType() & orientation)) continue;
    const double v = xAxis ? m->GetPoint().x : m->GetPoint().y;
    if (TlaRange::Contains(r, v)) continue;
    if (v > r.max) r.max = v;
    if (v < r.min) r.min = v;
  }
  if (r.max - r.min == 0) r = {0.0, 0.0};
  return r;
}

TlaRange TlaDiagram::GetAutoRangeX() const { return AutoRange(true); }
TlaRange TlaDiagram::GetAutoRangeY() const { return AutoRange(false); }

bool TlaDiagram::Draw(kd::TCanvas* canvas) {
  if (destroying_ || !visible_ || !canvas || !scalaX_ || !scalaY_) return false;
  Layout(canvas);
  TlaScala* x = scalaX_;
  TlaScala* y = scalaY_;
  if (autoScalaX_) x->SetRange(GetAutoRangeX());
  if (autoScalaY_) y->SetRange(GetAutoRangeY());
  // A change handler may have taken a scale away.
  if (!scalaX_ || !scalaY_) return false;

  const kd::TRect a = drawArea_;
  const kd::TRect p = trkArea_;
  canvas->Pen().Set(kd::clRed, kd::pmCopy, kd::psSolid, 1);
  canvas->Brush().Set(kd::clRed, kd::bsSolid);
  canvas->Pen().SetColor(dgrBack_);
  canvas->Brush().SetColor(dgrBack_);
  const kd::TRect outer{a.left, a.top, a.right + 1, a.bottom + 1};
  const kd::TRect plot{p.left, p.top, p.right + 1, p.bottom + 1};
  if (plot.left >= outer.left && plot.top >= outer.top && plot.right <= outer.right &&
      plot.bottom <= outer.bottom && plot.left < plot.right && plot.top < plot.bottom) {
    // Around the plot only: each pixel is filled once.
    canvas->FillRect({outer.left, outer.top, outer.right, plot.top});
    canvas->FillRect({outer.left, plot.bottom, outer.right, outer.bottom});
    canvas->FillRect({outer.left, plot.top, plot.left, plot.bottom});
    canvas->FillRect({plot.right, plot.top, outer.right, plot.bottom});
  } else {
    canvas->Rectangle(outer.left, outer.top, outer.right, outer.bottom);
  }
  canvas->Pen().SetColor(trkBack_);
  canvas->Brush().SetColor(trkBack_);
  canvas->FillRect(plot);

  for (TlaTraccia* t : traces_) t->Draw(canvas, x, y);

  canvas->SetClipRect({a.left, a.top, a.right + 1, a.bottom + 1});
  x->Draw(canvas);
  canvas->Line(p.left - 1, p.top - 1, p.right + 2, p.top - 1);
  canvas->Line(p.left - 1, p.bottom + 1, p.right + 2, p.bottom + 1);
  y->Draw(canvas);
  canvas->Line(p.left - 1, p.top - 1, p.left - 1, p.bottom + 2);
  canvas->Line(p.right + 1, p.top - 1, p.right + 1, p.bottom + 2);

  for (TlaMarker* m : markers_) m->Draw(canvas, x, y);

  if (titleVisible_) {
    canvas->Pen().Assign(TitlePen);
    canvas->Brush().Assign(TitleBrush);
    canvas->Font().Assign(TitleFont);
    const kd::TRect& tb = titleBand_;
    canvas->TextOut(tb.left, tb.top + 1, title_);
    if (selected_) {
      canvas->Brush().SetStyle(kd::bsClear);
      const int w = canvas->TextWidth(title_);
      const int h = canvas->TextHeight(title_);
      const int l = tb.left;
      const kd::TRect box1{l + w + 5, tb.top + 2, l + w + h + 5, tb.bottom - 2};
      const kd::TRect box2{l + w + h + 6, tb.top + 2, l + w + 2 * h + 6, tb.bottom - 2};
      canvas->RoundRect(box1.left, box1.top, box1.right, box1.bottom, 10, 10);
      canvas->RoundRect(box2.left, box2.top, box2.right, box2.bottom, 10, 10);
      if (TlaTraccia* t = GetSelTraccia()) {
        canvas->Brush().SetColor(t->LinePen.Color());
        canvas->RoundRect(box1.left, box1.top, box1.right, box1.bottom, 10, 10);
      } else if (TlaMarker* m = GetSelMarker()) {
        canvas->Brush().SetColor(m->LinePen.Color());
        canvas->RoundRect(box2.left, box2.top, box2.right, box2.bottom, 10, 10);
      }
    }
  }
  if (legenda_) legenda_->Draw(canvas);
  modified_ = false;
  canvas->RemoveClip();
  return true;
}

// ---------------------------------------------------------------------------

void TlaDiagram::SetSelected(bool v) {
  if (v == selected_) return;
  selected_ = v;
  if (!v && GetSelTraccia()) {
    TlaTraccia* t = GetSelTraccia();
    selElement_ = nullptr;
    t->SetCursor(false);
  } else {
    Changed();
  }
}

TlaTraccia* TlaDiagram::GetSelTraccia() const {
  return selElement_ && selElement_->ClassName() == "TlaTraccia" ? static_cast<TlaTraccia*>(selElement_) : nullptr;
}

TlaMarker* TlaDiagram::GetSelMarker() const {
  return selElement_ && selElement_->ClassName() == "TlaMarker" ? static_cast<TlaMarker*>(selElement_) : nullptr;
}

void TlaDiagram::SelectElement(TlaGraphElement* element) {
  if (element == selElement_) return;
  TlaTraccia* oldTrace = GetSelTraccia();
  TlaMarker* oldMarker = GetSelMarker();
  selElement_ = element;
  if (oldTrace) oldTrace->SetCursor(false);
  else if (oldMarker) oldMarker->SetHighlight(0);
  if (TlaTraccia* t = GetSelTraccia()) t->SetCursor(true);
}

void TlaDiagram::SelectAtPos(const kd::TPoint& pt) {
  if (legenda_ && legenda_->GetVisible() && PtInsideRect(pt, legenda_->DrawArea)) {
    SelectElement(legenda_->TracciaAtPos(pt));
    return;
  }
  if (TlaTraccia* t = GetSelTraccia(); t && PtInsideRect(pt, t->DrawArea)) {
    t->SetCursorAt(scalaX_, scalaY_, pt);
    return;
  }
  for (auto it = markers_.rbegin(); it != markers_.rend(); ++it) {
    TlaMarker* m = *it;
    if (m->GetVisible() && m->TextVisible && m->HitTest(pt)) {
      SelectElement(m);
      return;
    }
  }
  SelectElement(nullptr);
}

bool TlaDiagram::CoordAtPos(const kd::TPoint& pt, Tla2DPoint* out) const {
  if (!scalaX_ || !scalaY_ || !out) return false;
  *out = PixelToWorld(trkArea_, *scalaX_, *scalaY_, pt);
  return PtInsideRect(pt, trkArea_);
}

// ---------------------------------------------------------------------------

std::string TlaDiagram::GetSetup() const {
  TlaSetupWriter w("[laDiagram]");
  w.Key("Title", title_);
  w.Key("TitlePen", SetupPenToStr(TitlePen));
  w.Key("TitleBrush", SetupBrushToStr(TitleBrush));
  w.Key("TitleFont", SetupFontToStr(TitleFont));
  w.Key("TitleVisible", SetupBoolToStr(titleVisible_));
  w.Key("DrawArea", SetupRectToStr(drawArea_));
  w.Key("TrkBack", SetupIntToStr(trkBack_));
  w.Key("DgrBack", SetupIntToStr(dgrBack_));
  w.Key("AutoScalaX", SetupBoolToStr(autoScalaX_));
  w.Key("AutoScalaY", SetupBoolToStr(autoScalaY_));
  w.Key("Visible", SetupBoolToStr(visible_));
  w.Key("FollowOwnerArea", SetupBoolToStr(followOwnerArea_));
  if (legenda_) w.Child(legenda_->GetSetup());
  if (scalaX_) w.Child(scalaX_->GetSetup());
  if (scalaY_) w.Child(scalaY_->GetSetup());
  for (const TlaTraccia* t : traces_) w.Child(t->GetSetup());
  for (const TlaMarker* m : markers_) w.Child(m->GetSetup());
  return w.Finish();
}

void TlaDiagram::SetSetup(const std::string& text) {
  const std::vector<std::string> lines = SplitSetupLines(text);
  CheckSetupNesting(lines);
  SetSetupLines(lines);
  graph_->FlushRefresh();
}

void TlaDiagram::SetSetupLines(const std::vector<std::string>& lines) {
  TlaGraph::Hold hold(*graph_);
  std::vector<TlaGraphElement*> added;
  try {
    for (size_t i = 0; i < lines.size();) {
      const std::string& header = lines[i];
      if (header != "[laScala]" && header != "[laTraccia]" && header != "[laMarker]" && header != "[laLegenda]") {
        ++i;
        continue;
      }
      const std::vector<std::string> blockLines = CollectSetupBlock(lines, i);
      const std::string block = JoinSetupLines(blockLines);
      // Each new element is owned by this diagram; one that AddElement
      // refuses is destroyed at once.
      auto read = [&](auto* element) -> TlaGraphElement* {
        added.push_back(element);
        element->SetSetup(block);
        return element;
      };
      TlaGraphElement* e = header == "[laScala]"     ? read(new TlaScala(this, 1, "_NoName_"))
                           : header == "[laTraccia]" ? read(new TlaTraccia(this, "_NoName_"))
                           : header == "[laMarker]"  ? read(new TlaMarker(this, "_NoName_"))
                                                     : read(new TlaLegenda(this, "_NoName_", &traces_));
      if (AddElement(e) < 0) {
        added.pop_back();
        delete e;
      }
    }
    const TlaSetupKeys keys(lines);
    kd::TPen titlePen;
    kd::TBrush titleBrush;
    kd::TFont titleFont;
    keys.ReadPen("TitlePen", titlePen);
    keys.ReadBrush("TitleBrush", titleBrush);
    // A fresh font: the style comes from the letter alone, so that a title
    // font written without one reads back without one.
    titleFont.SetOrientation(TitleFont.Orientation());
    keys.ReadFont("TitleFont", titleFont);
    const bool titleVisible = keys.Bool("TitleVisible");
    const kd::TRect drawArea = keys.Rect("DrawArea");
    const int trkBack = keys.Int("TrkBack");
    const int dgrBack = keys.Int("DgrBack");
    const bool autoX = keys.Bool("AutoScalaX"), autoY = keys.Bool("AutoScalaY");
    const bool visible = keys.Bool("Visible"), follow = keys.Bool("FollowOwnerArea");

    silent_ = true;
    title_ = keys.Text("Title");
    TitlePen.Assign(titlePen);
    TitleBrush.Assign(titleBrush);
    TitleFont.Assign(titleFont);
    titleVisible_ = titleVisible;
    drawArea_ = drawArea;
    trkBack_ = trkBack;
    dgrBack_ = dgrBack;
    autoScalaX_ = autoX;
    autoScalaY_ = autoY;
    visible_ = visible;
    followOwnerArea_ = follow;
    silent_ = false;
  } catch (...) {
    for (auto it = added.rbegin(); it != added.rend(); ++it) delete *it;
    throw;
  }
  Changed();
}
