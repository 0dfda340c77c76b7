#pragma once
// TScopeForm: the "Oscilloscope" window. Four diagrams of one graph plot the
// drive's speed, current, armature voltage and DC-bus voltage over one time
// axis. The network data module feeds one sample per trace on every drive
// state update and repaints the graph while the window is visible. The graph
// is no widget: it draws into its own bitmap, which the window copies onto
// itself. A click selects the diagram under the mouse and brings it to the
// front, where the next layout gives it the large lower area.
#include <QWidget>

#include "Lagraphtypes.h"
#include "Tlagraph.h"
#include "ui_Winscope.h"

class QPainter;
class TlaDiagram;
class TlaMarker;
class TlaTraccia;

namespace kd {
class Component;
class TBitmap;
}  // namespace kd

class TScopeForm : public QWidget, public Ui::TScopeFormUi {
  Q_OBJECT

 public:
  // The samples a trace keeps; each further one drops the oldest.
  static constexpr int ScopeSampleCount = 320;

  // Sets ScopeForm, takes position and size from the program INI file
  // (MainForm must exist) and builds the graph.
  explicit TScopeForm(QWidget* parent = nullptr);
  ~TScopeForm() override;

  TlaGraph laGraph;

  // Diagrams in creation order (their list order changes with clicks), the
  // traces and the markers; all owned by the graph.
  TlaDiagram* dgrSpeed = nullptr;
  TlaDiagram* dgrCurrent = nullptr;
  TlaDiagram* dgrVoltage = nullptr;
  TlaDiagram* dgrDcBus = nullptr;
  TlaTraccia* trkArmature = nullptr;
  TlaTraccia* trkReference = nullptr;
  TlaTraccia* trkFeedback = nullptr;
  TlaTraccia* trkIAct = nullptr;
  TlaTraccia* trkINomPos = nullptr;
  TlaTraccia* trkINomNeg = nullptr;
  TlaTraccia* trkIRef = nullptr;
  TlaTraccia* trkVolt = nullptr;
  TlaTraccia* trkDcBus = nullptr;
  TlaMarker* mrkArmature = nullptr;
  TlaMarker* mrkRf = nullptr;
  TlaMarker* mrkFb = nullptr;
  TlaMarker* mrkIAct = nullptr;
  TlaMarker* mrkIMaxPos = nullptr;
  TlaMarker* mrkIMaxNeg = nullptr;
  TlaMarker* mrkINomPos = nullptr;
  TlaMarker* mrkINomNeg = nullptr;
  TlaMarker* mrkIRef = nullptr;
  TlaMarker* mrkVolt = nullptr;
  TlaMarker* mrkDcBus = nullptr;

  // Feeders: x is the sample time (date-time number), y the value.
  void AddArmatureSpeed(const Tla2DPoint& p);
  // Shows the speed reference pair (trace Reference, marker Rf).
  void AddSpeedRef(const Tla2DPoint& p);
  void AddFeedback(const Tla2DPoint& p);
  void AddCurrent(const Tla2DPoint& p);
  // The limit as +y on INomPos and -y on INomNeg.
  void AddCurrentLimit(const Tla2DPoint& p);
  // Shows the current reference pair (trace IRef, marker IRef).
  void AddCurrentRef(const Tla2DPoint& p);
  // The peak current as +y and -y on the markers IMaxPos and IMaxNeg.
  void SetPeakCurrent(const Tla2DPoint& p);
  void AddArmatureVolt(const Tla2DPoint& p);
  void AddDcBus(const Tla2DPoint& p);

  // The context menu's "Reset / Restart": every trace emptied.
  void ResetStart1Click();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildScope();
  void FormPaint();
  void FormClick(const QPoint& at);
  void FormClose();
  void laGraphResize(kd::Component* sender);
  void laGraphRefreshed(kd::Component* sender, kd::TBitmap* bitmap, bool& doit);
  void SpeedRange();
  void CurrentRange();
  static void VoltageRange(TlaDiagram* diagram, const TlaTraccia* trace);
  // One reference pair shown, the other hidden (the hidden trace keeps its samples).
  void ShowReference(bool current);

  // The painter of the paint event under way, else null.
  QPainter* painter_ = nullptr;
  // The graph was redrawn outside a paint event; the next one only copies it.
  bool bitmapPending_ = false;
};

// The oscilloscope window of the run (set while it exists).
extern TScopeForm* ScopeForm;
