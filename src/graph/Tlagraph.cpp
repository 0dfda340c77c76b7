#include "Tlagraph.h"

#include <algorithm>

#include "Exception.h"
#include "Lagraphsetup.h"
#include "Tladiagram.h"

TlaGraph::TlaGraph(kd::Component* owner) : kd::Component(owner), bitmap_(319, 239) {}

TlaGraph::~TlaGraph() {
  destroying_ = true;
  selectedDgr_ = nullptr;
  while (!diagrams_.empty()) delete diagrams_.back();
  DestroyComponents();  // diagrams taken out of the list but still owned
}

TlaGraph::Hold::~Hold() { --g_.holds_; }

void TlaGraph::FlushRefresh() {
  if (holds_ == 0 && refreshPending_) {
    refreshPending_ = false;
    RefreshQuery();
  }
}

void TlaGraph::RefreshQuery() {
  if (destroying_) return;
  if (holds_ > 0) {
    refreshPending_ = true;
    return;
  }
  // A change made while painting (a diagram setting its automatic ranges)
  // is drawn by the pass under way.
  if (DoOnRefreshQuery() && autoRefresh_ && !painting_) Repaint();
}

void TlaGraph::Repaint() {
  struct Painting {
    bool& flag;
    bool was;
    explicit Painting(bool& f) : flag(f), was(f) { flag = true; }
    ~Painting() { flag = was; }
  } painting(painting_);
  kd::TCanvas& canvas = bitmap_.Canvas();
  if (!diagrams_.empty()) {
    // By index: a handler may change the list.
    for (size_t i = 0; i < diagrams_.size(); ++i) {
      TlaDiagram* d = diagrams_[i];
      if (DoOnDiagramDraw(d)) d->Draw(&canvas);
    }
  } else {
    bool doit = true;
    if (OnDiagramDraw) OnDiagramDraw(nullptr, &bitmap_, doit);
    canvas.Pen().SetColor(kd::clBtnFace);
    canvas.Brush().SetColor(kd::clBtnFace);
    canvas.Rectangle(drawArea_.left, drawArea_.top, drawArea_.right + 1, drawArea_.bottom + 1);
  }
  canvas.Flush();
  DoOnRefreshed();
}

int TlaGraph::AddDiagram(TlaDiagram* diagram) {
  if (!diagram) return -2;
  // A diagram of another graph would stay listed here after its destruction.
  if (diagram->OwnerGraph() != this) return -1;
  const bool taken = GetDiagram(diagram->GetTitle()) != nullptr;
  diagrams_.push_back(diagram);
  RefreshQuery();
  return taken ? -3 : 0;
}

void TlaGraph::DeleteDiagram(TlaDiagram* diagram) {
  // Every entry: a diagram appended twice must not stay listed once.
  auto it = std::remove(diagrams_.begin(), diagrams_.end(), diagram);
  if (it == diagrams_.end()) return;
  diagrams_.erase(it, diagrams_.end());
  if (selectedDgr_ == diagram) {
    selectedDgr_ = nullptr;
    diagram->SetSelected(false);
  }
  RefreshQuery();
}

TlaDiagram* TlaGraph::CreateNewDiagram(const std::string& name) {
  if (GetDiagram(name)) return nullptr;
  return new TlaDiagram(this, name);  // owned by this graph, which deletes it
}

TlaDiagram* TlaGraph::GetDiagram(const std::string& name) const {
  for (TlaDiagram* d : diagrams_)
    if (d->GetTitle() == name) return d;
  return nullptr;
}

TlaDiagram* TlaGraph::GetDiagram(int index) const {
  if (index < 0 || index >= GetDgrCount()) return nullptr;
  return diagrams_[static_cast<size_t>(index)];
}

void TlaGraph::SetLeft(int v) {
  if (v == drawArea_.left) return;
  drawArea_.left = v;
  RefreshQuery();
}

void TlaGraph::SetTop(int v) {
  if (v == drawArea_.top) return;
  drawArea_.top = v;
  RefreshQuery();
}

void TlaGraph::SetWidth(int w) {
  if (w == GetWidth()) return;
  drawArea_.right = drawArea_.left + w - 1;
  bitmap_.SetWidth(w);
  DoOnResize();
  RefreshQuery();
}

void TlaGraph::SetHeight(int h) {
  if (h == GetHeight()) return;
  drawArea_.bottom = drawArea_.top + h - 1;
  bitmap_.SetHeight(h);
  DoOnResize();
  RefreshQuery();
}

void TlaGraph::SetSelectedDgr(TlaDiagram* diagram) {
  if (diagram == selectedDgr_) return;
  if (selectedDgr_) selectedDgr_->SetSelected(false);
  selectedDgr_ = diagram;
  if (selectedDgr_) selectedDgr_->SetSelected(true);
}

void TlaGraph::BringToFront(TlaDiagram* diagram) {
  if (!diagram) return;
  auto it = std::find(diagrams_.begin(), diagrams_.end(), diagram);
  if (it == diagrams_.end()) throw kd::Exception("BringToFront: the diagram is not in the graph");
  diagrams_.erase(it);
  diagrams_.push_back(diagram);
  RefreshQuery();
}

TlaDiagram* TlaGraph::DgrAtPos(const kd::TPoint& pt) const {
  for (TlaDiagram* d : diagrams_)
    if (PtInsideRect(pt, d->DrawArea())) return d;
  return nullptr;
}

TlaDiagram* TlaGraph::CompleteDgrAtPos(const kd::TPoint& pt) const {
  for (auto it = diagrams_.rbegin(); it != diagrams_.rend(); ++it)
    if ((*it)->IsComplete() && PtInsideRect(pt, (*it)->DrawArea())) return *it;
  return nullptr;
}

void TlaGraph::SelectAtPos(const kd::TPoint& pt) {
  SetSelectedDgr(CompleteDgrAtPos(pt));
  if (selectedDgr_) selectedDgr_->SelectAtPos(pt);
}

int TlaGraph::CoordAtCurPos(const kd::TPoint& pt, Tla2DPoint* out) const {
  TlaDiagram* d = CompleteDgrAtPos(pt);
  if (!d) return -1;
  Tla2DPoint ignored;
  if (!d->CoordAtPos(pt, out ? out : &ignored)) return -1;
  return static_cast<int>(std::find(diagrams_.begin(), diagrams_.end(), d) - diagrams_.begin());
}

void TlaGraph::ClearAll() {
  SetSelectedDgr(nullptr);
  {
    Hold hold(*this);
    while (!diagrams_.empty()) delete diagrams_.back();
  }
  refreshPending_ = false;
  RefreshQuery();
}

void TlaGraph::SaveToFile(const std::string& fileName) { bitmap_.SaveToFile(fileName); }

std::string TlaGraph::GetSetup() const {
  TlaSetupWriter w("[laGraph]");
  w.Key("AutoRefresh", SetupBoolToStr(autoRefresh_));
  w.Key("DrawArea", SetupRectToStr(drawArea_));
  for (TlaDiagram* d : diagrams_) w.Child(d->GetSetup());
  return w.Finish();
}

void TlaGraph::SetSetup(const std::string& text) {
  const std::vector<std::string> lines = SplitSetupLines(text);
  CheckSetupNesting(lines);
  std::vector<TlaDiagram*> added;
  {
    Hold hold(*this);
    try {
      for (size_t i = 0; i < lines.size();) {
        if (lines[i] != "[laDiagram]") {
          ++i;
          continue;
        }
        const std::vector<std::string> block = CollectSetupBlock(lines, i);
        TlaDiagram* d = CreateNewDiagram("_NoName_");
        // A diagram of that name exists already: read the section all the same.
        if (!d) d = new TlaDiagram(this, "_NoName_");  // owned by this graph
        added.push_back(d);
        d->SetSetupLines(block);
      }
      const TlaSetupKeys keys(lines);
      const bool autoRefresh = keys.Bool("AutoRefresh");
      const kd::TRect area = keys.Rect("DrawArea");
      autoRefresh_ = autoRefresh;
      drawArea_ = area;
    } catch (...) {
      for (auto it = added.rbegin(); it != added.rend(); ++it) delete *it;
      refreshPending_ = false;
      throw;
    }
  }
  refreshPending_ = false;
  RefreshQuery();
}

bool TlaGraph::DoOnDiagramDraw(TlaDiagram* diagram) {
  bool doit = true;
  if (OnDiagramDraw) OnDiagramDraw(diagram, &bitmap_, doit);
  return doit;
}

bool TlaGraph::DoOnRefreshQuery() {
  bool doit = true;
  if (OnRefreshQuery) OnRefreshQuery(this, &bitmap_, doit);
  return doit;
}

void TlaGraph::DoOnRefreshed() {
  bool doit = true;
  if (OnRefreshed) OnRefreshed(this, &bitmap_, doit);
}

void TlaGraph::DoOnResize() {
  if (OnResize) OnResize(this);
}
