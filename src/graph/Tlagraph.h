#pragma once
// Non-visual graph component: draws its diagrams into an off-screen bitmap
// on the caller's thread. The owner window shows the bitmap when OnRefreshed
// fires; nothing is drawn unless AutoRefresh is on or the owner calls Repaint.
#include <string>
#include <vector>

#include "Component.h"
#include "Event.h"
#include "Lacanvas.h"
#include "Lagraphtypes.h"

class TlaDiagram;

// Sender (a diagram for OnDiagramDraw, else the graph), the bitmap and a flag
// that is true on entry.
using TlaGraphDrawEvent = kd::Event<void(kd::Component* sender, kd::TBitmap* grafico, bool& doit)>;
using TlaNotifyEvent = kd::Event<void(kd::Component* sender)>;

class TlaGraph : public kd::Component {
 public:
  explicit TlaGraph(kd::Component* owner = nullptr);
  ~TlaGraph() override;
  std::string ClassName() const override { return "TlaGraph"; }

  const std::string& GetVersion() const { return version_; }
  bool GetAutoRefresh() const { return autoRefresh_; }
  void SetAutoRefresh(bool v) { autoRefresh_ = v; }

  TlaGraphDrawEvent OnDiagramDraw;
  TlaGraphDrawEvent OnRefreshQuery;
  TlaGraphDrawEvent OnRefreshed;
  TlaNotifyEvent OnResize;

  void RefreshQuery();
  void Repaint();

  // -2 for null, -1 for a diagram of another graph; else appended in any
  // case: -3 when the title was in use, 0.
  int AddDiagram(TlaDiagram* diagram);
  void DeleteDiagram(TlaDiagram* diagram);  // leaves the list (not destroyed)
  TlaDiagram* CreateNewDiagram(const std::string& name);  // null when the title is in use
  TlaDiagram* GetDiagram(const std::string& name) const;
  TlaDiagram* GetDiagram(int index) const;
  int GetDgrCount() const { return static_cast<int>(diagrams_.size()); }
  const std::vector<TlaDiagram*>& Diagrams() const { return diagrams_; }

  const kd::TRect& GetDrawArea() const { return drawArea_; }
  int GetLeft() const { return drawArea_.left; }
  void SetLeft(int v);
  int GetTop() const { return drawArea_.top; }
  void SetTop(int v);
  int GetWidth() const { return drawArea_.right - drawArea_.left; }
  // The bitmap becomes w pixels wide; the last pixel is right, so GetWidth
  // then reads w - 1.
  void SetWidth(int w);
  int GetHeight() const { return drawArea_.bottom - drawArea_.top; }
  void SetHeight(int h);
  kd::TBitmap& Bitmap() { return bitmap_; }

  TlaDiagram* GetSelectedDgr() const { return selectedDgr_; }
  void SetSelectedDgr(TlaDiagram* diagram);
  // Moves the diagram to the end of the list (drawn last); raises when it is
  // not in the list.
  void BringToFront(TlaDiagram* diagram);
  TlaDiagram* DgrAtPos(const kd::TPoint& pt) const;
  void SelectAtPos(const kd::TPoint& pt);
  // Index of the complete diagram under pt with out in its world units, or
  // -1 (none, or pt outside its plot area).
  int CoordAtCurPos(const kd::TPoint& pt, Tla2DPoint* out) const;
  void ClearAll();
  void SaveToFile(const std::string& fileName);

  std::string GetSetup() const;
  // Appends the diagrams of a "[laGraph]" text and takes its keys. A bad text
  // raises and leaves the graph as it was.
  void SetSetup(const std::string& text);

  bool DoOnDiagramDraw(TlaDiagram* diagram);
  bool DoOnRefreshQuery();
  void DoOnRefreshed();
  void DoOnResize();

 private:
  friend class TlaDiagram;
  TlaDiagram* CompleteDgrAtPos(const kd::TPoint& pt) const;
  // Runs the RefreshQuery that a Hold kept back, once no Hold is left.
  void FlushRefresh();
  // Holds refreshes back while a bulk operation runs.
  class Hold {
   public:
    explicit Hold(TlaGraph& g) : g_(g) { ++g_.holds_; }
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    TlaGraph& g_;
  };

  std::string version_ = "Ver.1.00";
  TlaDiagram* selectedDgr_ = nullptr;
  bool autoRefresh_ = false;
  std::vector<TlaDiagram*> diagrams_;
  kd::TRect drawArea_{0, 0, 319, 239};
  kd::TBitmap bitmap_;
  int holds_ = 0;
  bool refreshPending_ = false;
  bool painting_ = false;
  bool destroying_ = false;
};
