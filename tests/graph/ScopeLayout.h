#pragma once
// The oscilloscope's graph, built as the scope window builds it, with known
// samples. Used by the pixel tests and the benchmarks.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "Formats.h"
#include "Lascope.h"
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

inline const double kT0 = kd::EncodeDate(2024, 3, 1) + kd::EncodeTime(12, 0, 0, 0);

class ScopeGraph {
 public:
  // tracesPerDiagram pads every diagram up to that many traces (benchmarks).
  ScopeGraph(int width, int height, int tracesPerDiagram = 0) {
    graph.SetWidth(width);
    graph.SetHeight(height);
    const Elements e = Build(graph, kT0);
    std::copy(std::begin(e.diagrams), std::end(e.diagrams), dgr);
    xScale = e.time;
    // Speed reference shown, current reference hidden.
    dgr[1]->GetTraccia("IRef")->SetVisible(false);
    dgr[1]->GetMarker("IRef")->SetVisible(false);
    for (int i = 0; i < 4; ++i)
      for (int k = static_cast<int>(dgr[i]->Traces().size()); k < tracesPerDiagram; ++k)
        dgr[i]->CreateNewTraccia(Numbered("Extra", k));
    Layout(width, height);
  }

  void Layout(int w, int h) { scope::Layout(graph, w, h); }

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
