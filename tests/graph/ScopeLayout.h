#pragma once
// The oscilloscope's graph: four diagrams sharing one time axis, with known
// samples. Used by the pixel tests and the benchmarks.
#include <cmath>
#include <string>
#include <vector>

#include "Formats.h"
#include "Tladiagram.h"
#include "Tlagraph.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"

namespace scope {

inline std::string Numbered(const char* prefix, int i) {
  std::string s(prefix);
  s += std::to_string(i);
  return s;
}

struct TraceRow {
  int diagram;
  const char* name;
  kd::TColor color;
  int width, style;
  kd::TColor brush;
};
struct MarkerRow {
  int diagram;
  const char* name;
  const char* text;
  kd::TColor color;
  int style, mrkType;
};

inline const TraceRow kTraces[] = {
    {0, "Armature", 0xFF0000, 1, 1, 0xC0C0C0}, {0, "Reference", 0x008000, 1, 0, 0x008000},
    {0, "Feedback", 0xFF00FF, 1, 0, 0xFF00FF}, {1, "IAct", 0x00FF00, 2, 0, 0xC0C0C0},
    {1, "INomPos", 0xFF0000, 1, 2, 0xC0C0C0},  {1, "INomNeg", 0xFF0000, 1, 2, 0xC0C0C0},
    {1, "IRef", 0x008000, 1, 0, 0x008000},     {2, "Volt", 0x0000FF, 2, 0, 0xC0C0C0},
    {3, "Volt", 0xFF00FF, 2, 0, 0xC0C0C0},
};
inline const MarkerRow kMarkers[] = {
    {0, "Armature", "000.0", 0xFF0000, 2, 3}, {0, "Rf", "000.0", 0x008000, 0, 3},
    {0, "Fb", "000.0", 0xFF00FF, 0, 3},       {1, "IAct", "00.0", 0x00FF00, 2, 3},
    {1, "IMaxPos", "00.0", 0x0000FF, 1, 1},   {1, "IMaxNeg", "00.0", 0x0000FF, 1, 2},
    {1, "INomPos", "00.0", 0xFF0000, 1, 1},   {1, "INomNeg", "00.0", 0xFF0000, 1, 2},
    {1, "IRef", "00.0", 0x008000, 2, 3},      {2, "Act", "000.0", 0x0000FF, 2, 3},
    {3, "Act", "000.0", 0xFF00FF, 2, 3},
};

struct DiagramRow {
  const char* title;
  kd::TColor back;
  const char* yTitle;
  double yMax, yStep;
  const char* yFormat;
  const char* legend;
};
inline const DiagramRow kDiagrams[4] = {
    {"Speed(Act,Rf,Fb [%])", 0xFDCBAC, "[%]", 130, 10, "000.0", "Speed"},
    {"Current", 0xFDB386, "[A]", 20, 5, "00.0", "Current"},
    {"Voltage(Armature)", 0xFB7C31, "[V]", 700, 100, "000.0", nullptr},
    {"DcBus", 0xD05104, "[V]", 700, 100, "000.0", nullptr},
};

inline constexpr double kSecond = 1.0 / 86400.0;
inline const double kT0 = kd::EncodeDate(2024, 3, 1) + kd::EncodeTime(12, 0, 0, 0);

class ScopeGraph {
 public:
  // tracesPerDiagram pads every diagram up to that many traces (benchmarks).
  ScopeGraph(int width, int height, int tracesPerDiagram = 0) {
    graph.SetWidth(width);
    graph.SetHeight(height);
    for (int i = 0; i < 4; ++i) {
      const DiagramRow& s = kDiagrams[i];
      TlaDiagram* d = graph.CreateNewDiagram(s.title);
      dgr[i] = d;
      d->SetVisible(true);
      d->SetAutoScalaX(true);
      d->SetAutoScalaY(false);
      d->TitleFont.SetSize(-12);
      d->SetTitleVisible(true);
      d->SetTrkBack(0xC0C0C0);
      d->SetDgrBack(s.back);
      if (i == 0) {
        d->CreateNewScala(2, "Samples");
        xScale = d->GetScalaX();
        xScale->SetTitleVisible(false);
        xScale->SetIsTime(true);
        xScale->SetText("000.0");
        xScale->GridPen.SetColor(0x808080);
        xScale->SetRange({kT0, kT0 + 30 * kSecond});
        xScale->SetDivStep(10 * kSecond);
      } else {
        d->SetScalaX(xScale);
      }
      d->CreateNewScala(4, s.yTitle);
      TlaScala* y = d->GetScalaY();
      y->GridPen.SetColor(0x808080);
      y->SetRange({0, s.yMax});
      y->SetDivStep(s.yStep);
      y->SetText(s.yFormat);
    }
    for (const TraceRow& t : kTraces) {
      TlaTraccia* tr = dgr[t.diagram]->CreateNewTraccia(t.name);
      tr->LinePen.Set(t.color, kd::pmCopy, t.style, t.width);
      tr->LineBrush.SetColor(t.brush);
      tr->SetTrkType(1);
    }
    for (const MarkerRow& m : kMarkers) {
      TlaMarker* mk = dgr[m.diagram]->CreateNewMarker(m.name);
      mk->SetPoint({0, 0});
      mk->SetDotted(0);
      mk->LinePen.SetColor(m.color);
      mk->LinePen.SetStyle(m.style);
      mk->LineBrush.SetColor(m.color);
      mk->SetOrType(laOrHorizontal);
      mk->SetText(m.text);
      mk->SetMrkType(static_cast<std::uint8_t>(m.mrkType));
    }
    for (int i = 0; i < 4; ++i) {
      if (!kDiagrams[i].legend) continue;
      dgr[i]->CreateNewLegenda(kDiagrams[i].legend);
      dgr[i]->GetLegenda()->ColCount = 5;
      dgr[i]->GetLegenda()->SetLeft(20);
      dgr[i]->GetLegenda()->OnlyVisible = true;
    }
    // Speed reference shown, current reference hidden.
    dgr[1]->GetTraccia("IRef")->SetVisible(false);
    dgr[1]->GetMarker("IRef")->SetVisible(false);
    for (int i = 0; i < 4; ++i)
      for (int k = static_cast<int>(dgr[i]->Traces().size()); k < tracesPerDiagram; ++k)
        dgr[i]->CreateNewTraccia(Numbered("Extra", k));
    Layout(width, height);
  }

  // The window's layout: the diagram at list index 3 below, the others in a
  // 100-pixel strip on top.
  void Layout(int w, int h) {
    const kd::TRect areas[4] = {{2 * w / 3, 0, w, 100}, {w / 3, 0, 2 * w / 3, 100}, {0, 0, w / 3, 100}, {0, 100, w, h}};
    for (int i = 0; i < 4; ++i)
      if (TlaDiagram* d = graph.GetDiagram(i)) d->SetDrawArea(areas[i]);
  }

  // Value of trace k of a diagram at sample i: the DC-bus trace is a ramp.
  static double Value(int diagram, int k, int i) {
    switch (diagram) {
      case 0: return 60 + 40 * std::sin(i / 25.0 + k);
      case 1: return k == 1 ? 10 : k == 2 ? -10 : 8 + 4 * std::sin(i / 15.0);
      case 2: return 300 + 150 * std::sin(i / 40.0);
      default: return 2.0 * (i % 320) + k;
    }
  }

  // n samples per trace, one per 100 ms, the oldest dropped past keep.
  void Fill(int n, int keep = 320) {
    for (int i = 0; i < n; ++i) Add(i, keep);
  }

  void Add(int i, int keep) {
    const double t = kT0 + i * 0.1 * kSecond;
    for (int d = 0; d < 4; ++d) {
      const auto& traces = dgr[d]->Traces();
      for (size_t k = 0; k < traces.size(); ++k) {
        TlaTraccia* tr = traces[k];
        tr->AddPoint(tr->GetPointCount() >= keep, t, Value(d, static_cast<int>(k), i));
      }
      const auto& markers = dgr[d]->Markers();
      for (size_t k = 0; k < markers.size(); ++k) {
        static const double kCurrent[] = {0, 15, -15, 10, -10, 5};
        const double v = d == 1 ? (k == 0 ? Value(1, 0, i) : kCurrent[k % 6]) : Value(d, static_cast<int>(k), i);
        markers[k]->SetPoint({t, v});
      }
    }
  }

  TlaGraph graph;
  TlaDiagram* dgr[4] = {};
  TlaScala* xScale = nullptr;
};

}  // namespace scope
