#pragma once
// Base of everything a diagram holds (traces, scales, markers, the legend).
// Every change made through a setter or through one of the element's pens,
// brushes and fonts runs element -> diagram (Modified) -> graph
// (RefreshQuery); setters notify only on a real change.
#include <cstdint>
#include <string>

#include "Component.h"
#include "Lacanvas.h"
#include "Lagraphsetup.h"
#include "Lagraphtypes.h"

class TlaDiagram;

class TlaGraphElement : public kd::Component {
 public:
  // owner must be a diagram; raises "Graph Element: Bad owner pointer."
  // otherwise. The element is owned (and destroyed) by the diagram but is
  // attached to it only by TlaDiagram::AddElement.
  TlaGraphElement(kd::Component* owner, const std::string& name);
  ~TlaGraphElement() override;

  TlaDiagram* OwnerDiagram() const { return diagram_; }

  kd::TPen LinePen;
  kd::TBrush LineBrush;
  bool LineVisible = true;
  kd::TPen TitlePen;
  kd::TBrush TitleBrush;
  kd::TFont TitleFont;
  kd::TRect DrawArea;  // set by the diagram's layout

  const std::string& GetTitle() const { return title_; }
  void SetTitle(const std::string& title);
  bool GetTitleVisible() const { return titleVisible_; }
  void SetTitleVisible(bool v);
  bool GetVisible() const { return visible_; }
  void SetVisible(bool v);

  void Changed();
  void DoOnChange(kd::TGraphicsObject* sender);

  // The common keys of every element section (no header of their own).
  std::string GetSetup() const;
  void SetSetup(const std::string& text);

 protected:
  // Routes the object's changes to DoOnChange.
  void Bind(kd::TGraphicsObject& object);
  // Leaves the diagram; every subclass destructor calls it first, while the
  // object is still whole.
  void Detach();
  void WriteCommonKeys(TlaSetupWriter& w) const;
  // The symbol at a point, in the canvas's pen and brush: 1 ellipse,
  // 2 rectangle, 3 triangle, 4 cross; other values draw nothing.
  static void DrawPointSymbol(kd::TCanvas& canvas, const kd::TPoint& p, std::uint8_t symbol);

  // The common keys read from a section, applied only once the whole section
  // has been read.
  class CommonSetup {
   public:
    explicit CommonSetup(const TlaSetupKeys& keys);
    void ApplyTo(TlaGraphElement& e) const;

   private:
    kd::TPen linePen_, titlePen_;
    kd::TBrush lineBrush_, titleBrush_;
    kd::TFont titleFont_;
    bool lineVisible_, titleVisible_, visible_;
    std::string title_;
    kd::TRect drawArea_;
  };

  // While alive, changes of the element do not notify (setup reading).
  class Silence {
   public:
    explicit Silence(TlaGraphElement& e) : e_(e), was_(e.silent_) { e.silent_ = true; }
    ~Silence() { e_.silent_ = was_; }
    Silence(const Silence&) = delete;
    Silence& operator=(const Silence&) = delete;

   private:
    TlaGraphElement& e_;
    bool was_;
  };

 private:
  static kd::Component* CheckOwner(kd::Component* owner);

  TlaDiagram* diagram_;
  bool detached_ = false;
  bool silent_ = false;
  std::string title_;
  bool titleVisible_ = true;
  bool visible_ = true;
};
