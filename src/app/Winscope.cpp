#include "Winscope.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "Appdialogs.h"
#include "Appforms.h"
#include "Formats.h"
#include "IniFile.h"
#include "Tladiagram.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"
#include "Winmain.h"

TScopeForm* ScopeForm = nullptr;

namespace {

constexpr const char* kSection = "ScopeForm";
constexpr double kSecond = 1.0 / 86400.0;  // in date-time units (days)

struct DiagramRow {
  const char* title;
  kd::TColor back;
  const char* yTitle;
  double yMax, yStep;
  const char* yFormat;
  const char* legend;  // null: no legend
};
struct TraceRow {
  int diagram;
  const char* name;
  kd::TColor color;
  int width, style;
  kd::TColor brush;
  TlaTraccia* TScopeForm::*field;
};
struct MarkerRow {
  int diagram;
  const char* name;
  const char* text;
  kd::TColor color;
  int style, mrkType;
  TlaMarker* TScopeForm::*field;
};

const DiagramRow kDiagrams[] = {
    {"Speed(Act,Rf,Fb [%])", 0xFDCBAC, "[%]", 130, 10, "000.0", "Speed"},
    {"Current", 0xFDB386, "[A]", 20, 5, "00.0", "Current"},
    {"Voltage(Armature)", 0xFB7C31, "[V]", 700, 100, "000.0", nullptr},
    {"DcBus", 0xD05104, "[V]", 700, 100, "000.0", nullptr},
};

const TraceRow kTraces[] = {
    {0, "Armature", 0xFF0000, 1, kd::psDash, 0xC0C0C0, &TScopeForm::trkArmature},
    {0, "Reference", 0x008000, 1, kd::psSolid, 0x008000, &TScopeForm::trkReference},
    {0, "Feedback", 0xFF00FF, 1, kd::psSolid, 0xFF00FF, &TScopeForm::trkFeedback},
    {1, "IAct", 0x00FF00, 2, kd::psSolid, 0xC0C0C0, &TScopeForm::trkIAct},
    {1, "INomPos", 0xFF0000, 1, kd::psDot, 0xC0C0C0, &TScopeForm::trkINomPos},
    {1, "INomNeg", 0xFF0000, 1, kd::psDot, 0xC0C0C0, &TScopeForm::trkINomNeg},
    {1, "IRef", 0x008000, 1, kd::psSolid, 0x008000, &TScopeForm::trkIRef},
    {2, "Volt", 0x0000FF, 2, kd::psSolid, 0xC0C0C0, &TScopeForm::trkVolt},
    {3, "Volt", 0xFF00FF, 2, kd::psSolid, 0xC0C0C0, &TScopeForm::trkDcBus},
};

const MarkerRow kMarkers[] = {
    {0, "Armature", "000.0", 0xFF0000, kd::psDot, 3, &TScopeForm::mrkArmature},
    {0, "Rf", "000.0", 0x008000, kd::psSolid, 3, &TScopeForm::mrkRf},
    {0, "Fb", "000.0", 0xFF00FF, kd::psSolid, 3, &TScopeForm::mrkFb},
    {1, "IAct", "00.0", 0x00FF00, kd::psDot, 3, &TScopeForm::mrkIAct},
    {1, "IMaxPos", "00.0", 0x0000FF, kd::psDash, 1, &TScopeForm::mrkIMaxPos},
    {1, "IMaxNeg", "00.0", 0x0000FF, kd::psDash, 2, &TScopeForm::mrkIMaxNeg},
    {1, "INomPos", "00.0", 0xFF0000, kd::psDash, 1, &TScopeForm::mrkINomPos},
    {1, "INomNeg", "00.0", 0xFF0000, kd::psDash, 2, &TScopeForm::mrkINomNeg},
    {1, "IRef", "00.0", 0x008000, kd::psDot, 3, &TScopeForm::mrkIRef},
    {2, "Act", "000.0", 0x0000FF, kd::psDot, 3, &TScopeForm::mrkVolt},
    {3, "Act", "000.0", 0xFF00FF, kd::psDot, 3, &TScopeForm::mrkDcBus},
};

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

  {
    const kd::IniFile ini(MainForm->IniFileName());
    ReadFormPosition(this, ini, kSection);
    resize(ini.ReadInteger(kSection, "Width", width()),
           ini.ReadInteger(kSection, "Height", height()));
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
  TlaDiagram* dgr[4] = {};
  TlaScala* time = nullptr;
  for (int i = 0; i < 4; ++i) {
    const DiagramRow& row = kDiagrams[i];
    TlaDiagram* d = laGraph.CreateNewDiagram(row.title);
    dgr[i] = d;
    d->SetVisible(true);
    d->SetAutoScalaX(true);
    d->SetAutoScalaY(false);
    d->TitleFont.SetSize(-12);
    d->SetTitleVisible(true);
    d->SetTrkBack(0xC0C0C0);
    d->SetDgrBack(row.back);
    d->SetFollowOwnerArea(false);
    if (!time) {
      // One time axis for all four diagrams.
      d->CreateNewScala(2, "Samples");
      time = d->GetScalaX();
      time->SetTitleVisible(false);
      time->SetIsTime(true);
      time->SetIsDate(false);
      time->SetText("000.0");
      time->GridPen.SetColor(0x808080);
      const kd::TDateTime now = kd::Now();
      time->SetRange({now, now + 30 * kSecond});
      time->SetDivStep(10 * kSecond);
    } else {
      d->SetScalaX(time);
    }
    d->CreateNewScala(4, row.yTitle);
    TlaScala* y = d->GetScalaY();
    y->GridPen.SetColor(0x808080);
    y->SetIsDate(false);
    y->SetIsTime(false);
    y->SetRange({0, row.yMax});
    y->SetDivStep(row.yStep);
    y->SetText(row.yFormat);

    for (const TraceRow& t : kTraces) {
      if (t.diagram != i) continue;
      TlaTraccia* trace = d->CreateNewTraccia(t.name);
      trace->LinePen.Set(t.color, kd::pmCopy, t.style, t.width);
      trace->LineBrush.SetColor(t.brush);
      trace->SetTrkType(1);
      this->*t.field = trace;
    }
    for (const MarkerRow& m : kMarkers) {
      if (m.diagram != i) continue;
      TlaMarker* marker = d->CreateNewMarker(m.name);
      marker->SetPoint({0, 0});
      marker->SetDotted(0);
      marker->LinePen.SetColor(m.color);
      marker->LinePen.SetStyle(m.style);
      marker->LineBrush.SetColor(m.color);
      marker->SetOrType(static_cast<TlaOrType>(marker->GetOrType() & ~laOrVertical));
      marker->SetText(m.text);
      marker->SetMrkType(static_cast<std::uint8_t>(m.mrkType));
      this->*m.field = marker;
    }
    if (row.legend) {
      d->CreateNewLegenda(row.legend);
      TlaLegenda* legend = d->GetLegenda();
      legend->ColCount = 5;
      legend->SetLeft(20);
      legend->OnlyVisible = true;
    }
  }
  dgrSpeed = dgr[0];
  dgrCurrent = dgr[1];
  dgrVoltage = dgr[2];
  dgrDcBus = dgr[3];
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

// The diagram at list index 3 fills the window below a 100-pixel strip in
// which the others stand side by side, index 2 on the left.
void TScopeForm::laGraphResize(kd::Component*) {
  const int w = width(), h = height();
  const kd::TRect areas[4] = {
      {2 * w / 3, 0, w, 100}, {w / 3, 0, 2 * w / 3, 100}, {0, 0, w / 3, 100}, {0, 100, w, h}};
  for (int i = 0; i < 4; ++i)
    if (TlaDiagram* d = laGraph.GetDiagram(i)) d->SetDrawArea(areas[i]);
}

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
  update();
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
