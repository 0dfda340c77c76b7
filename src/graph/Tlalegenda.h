#pragma once
// Grid of cells over a corner of a diagram, one trace title per cell,
// underlined in the trace's colour; a click on a cell selects that trace.
#include <string>
#include <vector>

#include "Tlagraphelement.h"

class TlaTraccia;

class TlaLegenda : public TlaGraphElement {
 public:
  // traces: the owner diagram's trace list (not owned).
  TlaLegenda(kd::Component* owner, const std::string& name, const std::vector<TlaTraccia*>* traces);
  ~TlaLegenda() override;
  std::string ClassName() const override { return "TlaLegenda"; }

  // Set directly by the owner; a value below 1 is taken as 1.
  int ColCount = 1;
  // Cells of hidden traces stay empty.
  bool OnlyVisible = false;

  int GetCellWidth() const { return cellWidth_; }
  int GetRowCount() const { return rowCount_; }
  int GetCellHeight() const { return cellHeight_; }
  int GetLeft() const { return left_; }
  void SetLeft(int v);
  int GetTop() const { return top_; }
  void SetTop(int v);

  bool Draw(kd::TCanvas* canvas);
  // The trace of the cell strictly containing pt (cell sizes of the last Draw).
  TlaTraccia* TracciaAtPos(const kd::TPoint& pt) const;

  std::string GetSetup() const;
  void SetSetup(const std::string& text);

 private:
  const std::vector<TlaTraccia*>* traces_;
  int cellWidth_ = 0;
  int rowCount_ = 1;
  int cellHeight_ = 0;
  int left_ = 0;
  int top_ = 0;
};
