#pragma once
// One chart of a graph: title band, X and Y scales, optional legend, traces
// and markers. The diagram owns its elements; a scale that it borrows from
// another diagram (SetScalaX) is destroyed only by the diagram that created
// it, and every diagram using it lets go of it then.
#include <cstdint>
#include <string>
#include <vector>

#include "Component.h"
#include "Lacanvas.h"
#include "Lagraphtypes.h"

class TlaGraph;
class TlaGraphElement;
class TlaScala;
class TlaTraccia;
class TlaMarker;
class TlaLegenda;

class TlaDiagram : public kd::Component {
 public:
  // Results of AddElement besides an index.
  static constexpr int kXScale = 88;
  static constexpr int kYScale = 89;
  static constexpr int kLegend = 76;

  // Appends itself to graph; a null graph raises "Diagram: Owner not valid!".
  TlaDiagram(TlaGraph* graph, const std::string& name);
  ~TlaDiagram() override;
  std::string ClassName() const override { return "TlaDiagram"; }

  TlaGraph* OwnerGraph() const { return graph_; }
  bool GetModified() const { return modified_; }
  const std::string& GetTitle() const { return title_; }

  kd::TPen TitlePen;
  kd::TBrush TitleBrush;
  kd::TFont TitleFont;

  bool GetVisible() const { return visible_; }
  void SetVisible(bool v);
  bool GetAutoScalaX() const { return autoScalaX_; }
  void SetAutoScalaX(bool v);
  bool GetAutoScalaY() const { return autoScalaY_; }
  void SetAutoScalaY(bool v);
  bool GetTitleVisible() const { return titleVisible_; }
  void SetTitleVisible(bool v);
  kd::TColor GetDgrBack() const { return dgrBack_; }
  void SetDgrBack(kd::TColor c);
  kd::TColor GetTrkBack() const { return trkBack_; }
  void SetTrkBack(kd::TColor c);
  bool GetFollowOwnerArea() const { return followOwnerArea_; }
  void SetFollowOwnerArea(bool v);
  const kd::TRect& DrawArea() const { return drawArea_; }
  void SetDrawArea(const kd::TRect& r);  // also clears FollowOwnerArea
  const kd::TRect& TitleBand() const { return titleBand_; }
  const kd::TRect& TrkArea() const { return trkArea_; }

  TlaScala* GetScalaX() const { return scalaX_; }
  TlaScala* GetScalaY() const { return scalaY_; }
  // Uses a scale of this or another diagram as X scale (null ignored).
  void SetScalaX(TlaScala* scale);
  TlaLegenda* GetLegenda() const { return legenda_; }
  const std::vector<TlaTraccia*>& Traces() const { return traces_; }
  const std::vector<TlaMarker*>& Markers() const { return markers_; }

  // -2 null, -1 unknown class or an element of another diagram, -3 a trace
  // or marker title in use, -4 a scale or legend slot in use; else 88 (X
  // scale), 89 (Y scale), 76 (legend) or the trace's or marker's index.
  int AddElement(TlaGraphElement* element);
  // Takes the element out of its slot or list; null when it is not there.
  TlaGraphElement* RemoveElement(TlaGraphElement* element);
  TlaTraccia* GetTraccia(const std::string& title) const;
  TlaMarker* GetMarker(const std::string& title) const;

  // Factories; an element that AddElement refuses is destroyed.
  int CreateNewScala(std::uint8_t align, const std::string& name);
  int CreateNewLegenda(const std::string& name);
  TlaTraccia* CreateNewTraccia(const std::string& name);
  TlaMarker* CreateNewMarker(const std::string& name);

  bool IsComplete() const;
  bool Draw(kd::TCanvas* canvas);
  void Layout(kd::TCanvas* canvas);
  void FitToOwner();
  TlaRange GetAutoRangeX() const;
  TlaRange GetAutoRangeY() const;

  bool GetSelected() const { return selected_; }
  void SetSelected(bool v);
  void SelectAtPos(const kd::TPoint& pt);
  void SelectElement(TlaGraphElement* element);
  TlaGraphElement* GetSelElement() const { return selElement_; }
  TlaTraccia* GetSelTraccia() const;
  TlaMarker* GetSelMarker() const;
  // World coordinates of a pixel; whether it lies strictly inside the plot.
  bool CoordAtPos(const kd::TPoint& pt, Tla2DPoint* out) const;

  void Changed();
  void DoOnChange(kd::TGraphicsObject* sender);

  std::string GetSetup() const;
  // Adds the elements of a "[laDiagram]" section and takes its keys. When
  // the text is bad, raises and leaves the diagram as it was.
  void SetSetup(const std::string& text);

 private:
  friend class TlaGraph;
  void SetSetupLines(const std::vector<std::string>& lines);
  friend class TlaScala;
  void HoldScale(TlaScala*& slot, TlaScala* scale);
  void ReleaseScale(TlaScala*& slot);
  void ScaleGone(TlaScala* scale);  // a borrowed scale is being destroyed
  TlaRange AutoRange(bool x) const;

  TlaGraph* graph_;
  bool modified_ = false;
  bool selected_ = false;
  bool destroying_ = false;
  bool silent_ = false;
  TlaGraphElement* selElement_ = nullptr;
  std::string title_;
  bool titleVisible_ = false;
  kd::TRect titleBand_;
  kd::TColor trkBack_ = kd::clBlack;
  kd::TColor dgrBack_ = kd::clBlack;
  kd::TRect drawArea_;
  kd::TRect trkArea_;
  bool autoScalaX_ = true;
  bool autoScalaY_ = true;
  bool visible_ = false;
  bool followOwnerArea_ = false;
  TlaLegenda* legenda_ = nullptr;
  TlaScala* scalaX_ = nullptr;
  TlaScala* scalaY_ = nullptr;
  std::vector<TlaTraccia*> traces_;
  std::vector<TlaMarker*> markers_;
};
