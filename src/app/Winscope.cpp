#include "Winscope.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <iterator>

#include "Appdialogs.h"
#include "Appforms.h"
#include "Formats.h"
#include "IniFile.h"
#include "Lascope.h"
#include "Tladiagram.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"
#include "Winmain.h"

TScopeForm* ScopeForm = nullptr;

namespace {

constexpr const char* kSection = "ScopeForm";
constexpr int kMinimumWidth = 300;  // the three small diagrams side by side
constexpr int kMinimumHeight = 220;  // the 100-pixel strip and the large diagram below

// The window's fields, in the order of the scope tables.
TlaDiagram* TScopeForm::* const kDiagramFields[] = {
    &TScopeForm::dgrSpeed, &TScopeForm::dgrCurrent, &TScopeForm::dgrVoltage, &TScopeForm::dgrDcBus};
TlaTraccia* TScopeForm::* const kTraceFields[] = {
    &TScopeForm::trkArmature, &TScopeForm::trkReference, &TScopeForm::trkFeedback,
    &TScopeForm::trkIAct,     &TScopeForm::trkINomPos,   &TScopeForm::trkINomNeg,
    &TScopeForm::trkIRef,     &TScopeForm::trkVolt,      &TScopeForm::trkDcBus};
TlaMarker* TScopeForm::* const kMarkerFields[] = {
    &TScopeForm::mrkArmature, &TScopeForm::mrkRf,       &TScopeForm::mrkFb,
    &TScopeForm::mrkIAct,     &TScopeForm::mrkIMaxPos,  &TScopeForm::mrkIMaxNeg,
    &TScopeForm::mrkINomPos,  &TScopeForm::mrkINomNeg,  &TScopeForm::mrkIRef,
    &TScopeForm::mrkVolt,     &TScopeForm::mrkDcBus};
static_assert(std::size(kDiagramFields) == scope::kDiagramCount);
static_assert(std::size(kTraceFields) == scope::kTraceCount);
static_assert(std::size(kMarkerFields) == scope::kMarkerCount);

// Appends a sample; a full trace drops its oldest first.
void AddSample(TlaTraccia* trace, const Tla2DPoint& p) {
  trace->AddPoint(trace->GetPointCount() >= TScopeForm::ScopeSampleCount, p.x, p.y);
}

}  // namespace

TScopeForm::TScopeForm(QWidget* parent) : QWidget(parent) {
  ScopeForm = this;
  setObjectName("ScopeForm");
  setupUi(this);
  // The graph's picture covers the whole window.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // The menu's shortcut works while the window is active, and so does the
  // main window's F8 that shows and hides it.
  addAction(ResetStart1);
  addAction(MainForm->acViewScope);
  connect(ResetStart1, &QAction::triggered, this,
          [this] { Guarded([this] { ResetStart1Click(); }); });

  // Room for the top strip of diagrams and the lower one.
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  {
    const kd::IniFile ini(MainForm->IniFileName());
    ReadFormPosition(this, ini, kSection, true);
  }
  laGraph.OnResize = [this](kd::Component* s) { laGraphResize(s); };
  laGraph.SetLeft(0);
  laGraph.SetTop(0);
  laGraph.SetWidth(width());
  laGraph.SetHeight(height());
  laGraph.OnRefreshed = [this](kd::Component* s, kd::TBitmap* b, bool& doit) {
    laGraphRefreshed(s, b, doit);
  };
  laGraph.SetAutoRefresh(false);
  BuildScope();
  laGraphResize(&laGraph);
}

TScopeForm::~TScopeForm() {
  laGraph.OnRefreshed = nullptr;
  laGraph.OnResize = nullptr;
  if (ScopeForm == this) ScopeForm = nullptr;
}

void TScopeForm::BuildScope() {
  const scope::Elements e = scope::Build(laGraph, kd::Now());
  for (int i = 0; i < scope::kDiagramCount; ++i) this->*kDiagramFields[i] = e.diagrams[i];
  for (int i = 0; i < scope::kTraceCount; ++i) this->*kTraceFields[i] = e.traces[i];
  for (int i = 0; i < scope::kMarkerCount; ++i) this->*kMarkerFields[i] = e.markers[i];
}

// ---------------------------------------------------------------------------
// Feeders

void TScopeForm::AddArmatureSpeed(const Tla2DPoint& p) {
  AddSample(trkArmature, p);
  mrkArmature->SetPoint(p);
}

void TScopeForm::ShowReference(bool current) {
  trkIRef->SetVisible(current);
  mrkIRef->SetVisible(current);
  trkReference->SetVisible(!current);
  mrkRf->SetVisible(!current);
}

void TScopeForm::AddSpeedRef(const Tla2DPoint& p) {
  ShowReference(false);
  AddSample(trkReference, p);
  mrkRf->SetPoint(p);
}

void TScopeForm::AddFeedback(const Tla2DPoint& p) {
  AddSample(trkFeedback, p);
  mrkFb->SetPoint(p);
  SpeedRange();
}

void TScopeForm::AddCurrent(const Tla2DPoint& p) {
  AddSample(trkIAct, p);
  mrkIAct->SetPoint(p);
  CurrentRange();
}

void TScopeForm::AddCurrentLimit(const Tla2DPoint& p) {
  const Tla2DPoint pos(p.x, p.y), neg(p.x, -p.y);
  AddSample(trkINomPos, pos);
  mrkINomPos->SetPoint(pos);
  AddSample(trkINomNeg, neg);
  mrkINomNeg->SetPoint(neg);
}

void TScopeForm::AddCurrentRef(const Tla2DPoint& p) {
  ShowReference(true);
  AddSample(trkIRef, p);
  mrkIRef->SetPoint(p);
}

void TScopeForm::SetPeakCurrent(const Tla2DPoint& p) {
  mrkIMaxPos->SetPoint({p.x, p.y});
  mrkIMaxNeg->SetPoint({p.x, -p.y});
}

void TScopeForm::AddArmatureVolt(const Tla2DPoint& p) {
  AddSample(trkVolt, p);
  VoltageRange(dgrVoltage, trkVolt);
  mrkVolt->SetPoint(p);
}

void TScopeForm::AddDcBus(const Tla2DPoint& p) {
  AddSample(trkDcBus, p);
  VoltageRange(dgrDcBus, trkDcBus);
  mrkDcBus->SetPoint(p);
}

// The Y ranges go straight into the scales, without their change
// notification: the next repaint shows them.
void TScopeForm::SpeedRange() {
  double hi = 0, lo = 0;
  for (const TlaTraccia* t : {trkArmature, trkReference, trkFeedback}) {
    hi = std::max(hi, t->GetYLimits().max);
    lo = std::min(lo, t->GetYLimits().min);
  }
  dgrSpeed->GetScalaY()->Range = {1.1 * lo, 1.1 * hi};
}

void TScopeForm::CurrentRange() {
  const double hi = std::max(trkINomPos->GetYLimits().max, trkIAct->GetYLimits().max);
  const double lo = std::min(trkINomNeg->GetYLimits().min, trkIAct->GetYLimits().min);
  dgrCurrent->GetScalaY()->Range = {1.3 * lo, 1.3 * hi};
}

void TScopeForm::VoltageRange(TlaDiagram* diagram, const TlaTraccia* trace) {
  diagram->GetScalaY()->Range = {std::min(0.0, 1.1 * trace->GetYLimits().min),
                                 std::max(0.0, 1.1 * trace->GetYLimits().max)};
}

void TScopeForm::ResetStart1Click() {
  for (TlaTraccia* t : {trkArmature, trkReference, trkFeedback, trkIAct, trkINomPos, trkINomNeg,
                        trkIRef, trkVolt, trkDcBus})
    t->ClearPoints();
  update();
}

// ---------------------------------------------------------------------------
// Drawing and layout

void TScopeForm::laGraphResize(kd::Component*) { scope::Layout(laGraph, width(), height()); }

void TScopeForm::laGraphRefreshed(kd::Component*, kd::TBitmap* bitmap, bool&) {
  if (painter_) {
    painter_->drawImage(laGraph.GetLeft(), laGraph.GetTop(), bitmap->Image());
  } else {
    // Redrawn on the data module's request: shown by the next paint event.
    bitmapPending_ = true;
    update();
  }
}

void TScopeForm::FormPaint() {
  laGraph.SetWidth(width());
  laGraph.SetHeight(height());
  laGraph.Repaint();
}

void TScopeForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter_ = &painter;
  Guarded([this] {
    kd::TBitmap& bitmap = laGraph.Bitmap();
    if (bitmapPending_ && bitmap.Width() == width() && bitmap.Height() == height())
      painter_->drawImage(laGraph.GetLeft(), laGraph.GetTop(), bitmap.Image());
    else
      FormPaint();
  });
  bitmapPending_ = false;
  painter_ = nullptr;
}

void TScopeForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Guarded([this] {
    laGraph.SetWidth(width());
    laGraph.SetHeight(height());
  });
  update();
}

void TScopeForm::FormClick(const QPoint& at) {
  laGraph.SelectAtPos({at.x(), at.y()});
  laGraph.BringToFront(laGraph.GetSelectedDgr());
  // Drawn now as the paint event draws, layout included: a picture the data
  // module draws before the paint event comes is then shown as it stands.
  FormPaint();
}

void TScopeForm::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    Guarded([this, at = event->position().toPoint()] { FormClick(at); });
  QWidget::mouseReleaseEvent(event);
}

void TScopeForm::contextMenuEvent(QContextMenuEvent* event) {
  pmnScope->popup(event->globalPos());
}

// Top and Left are those of the frame, as for every window; Width and Height
// the inner size of the restored window, which the constructor's resize gives
// back.
void TScopeForm::FormClose() {
  const QSize inner = RestoredGeometry(this).size();
  kd::IniFile ini(MainForm->IniFileName());
  ini.BeginUpdate();
  WriteFormPosition(this, ini, kSection);
  ini.WriteInteger(kSection, "Width", inner.width());
  ini.WriteInteger(kSection, "Height", inner.height());
  ini.EndUpdate();
}

void TScopeForm::closeEvent(QCloseEvent* event) {
  // A file that cannot be written is reported; the window closes all the same.
  Guarded([this] { FormClose(); });
  event->accept();
}
