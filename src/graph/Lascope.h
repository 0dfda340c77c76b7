#pragma once
// The oscilloscope's graph: four diagrams (speed, current, armature voltage,
// DC bus) on one time axis, with their traces, markers and legends, and the
// layout that gives the diagram at list index 3 the large lower area. The
// scope window builds its graph from these tables, and so do the graph's
// pixel tests and benchmarks.
#include <iterator>

#include "Formats.h"
#include "Lacanvas.h"

class TlaDiagram;
class TlaGraph;
class TlaMarker;
class TlaScala;
class TlaTraccia;

namespace scope {

inline constexpr double kSecond = 1.0 / 86400.0;  // in date-time units (days)

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
};
struct MarkerRow {
  int diagram;
  const char* name;
  const char* text;
  kd::TColor color;
  int style, mrkType;
};

inline constexpr DiagramRow kDiagrams[] = {
    {"Speed(Act,Rf,Fb [%])", 0xFDCBAC, "[%]", 130, 10, "000.0", "Speed"},
    {"Current", 0xFDB386, "[A]", 20, 5, "00.0", "Current"},
    {"Voltage(Armature)", 0xFB7C31, "[V]", 700, 100, "000.0", nullptr},
    {"DcBus", 0xD05104, "[V]", 700, 100, "000.0", nullptr},
};

inline constexpr TraceRow kTraces[] = {
    {0, "Armature", 0xFF0000, 1, kd::psDash, 0xC0C0C0},
    {0, "Reference", 0x008000, 1, kd::psSolid, 0x008000},
    {0, "Feedback", 0xFF00FF, 1, kd::psSolid, 0xFF00FF},
    {1, "IAct", 0x00FF00, 2, kd::psSolid, 0xC0C0C0},
    {1, "INomPos", 0xFF0000, 1, kd::psDot, 0xC0C0C0},
    {1, "INomNeg", 0xFF0000, 1, kd::psDot, 0xC0C0C0},
    {1, "IRef", 0x008000, 1, kd::psSolid, 0x008000},
    {2, "Volt", 0x0000FF, 2, kd::psSolid, 0xC0C0C0},
    {3, "Volt", 0xFF00FF, 2, kd::psSolid, 0xC0C0C0},
};

inline constexpr MarkerRow kMarkers[] = {
    {0, "Armature", "000.0", 0xFF0000, kd::psDot, 3},
    {0, "Rf", "000.0", 0x008000, kd::psSolid, 3},
    {0, "Fb", "000.0", 0xFF00FF, kd::psSolid, 3},
    {1, "IAct", "00.0", 0x00FF00, kd::psDot, 3},
    {1, "IMaxPos", "00.0", 0x0000FF, kd::psDash, 1},
    {1, "IMaxNeg", "00.0", 0x0000FF, kd::psDash, 2},
    {1, "INomPos", "00.0", 0xFF0000, kd::psDash, 1},
    {1, "INomNeg", "00.0", 0xFF0000, kd::psDash, 2},
    {1, "IRef", "00.0", 0x008000, kd::psDot, 3},
    {2, "Act", "000.0", 0x0000FF, kd::psDot, 3},
    {3, "Act", "000.0", 0xFF00FF, kd::psDot, 3},
};

inline constexpr int kDiagramCount = static_cast<int>(std::size(kDiagrams));
inline constexpr int kTraceCount = static_cast<int>(std::size(kTraces));
inline constexpr int kMarkerCount = static_cast<int>(std::size(kMarkers));

// What Build made, in the order of the tables; all owned by the graph.
struct Elements {
  TlaDiagram* diagrams[kDiagramCount] = {};
  TlaScala* time = nullptr;
  TlaTraccia* traces[kTraceCount] = {};
  TlaMarker* markers[kMarkerCount] = {};
};

// Adds the tables' diagrams to an empty graph. The time axis of the first
// diagram, shared by all, shows 30 seconds from start; traces and markers
// show every sample (no automatic Y range).
Elements Build(TlaGraph& graph, kd::TDateTime start);

// The diagram at list index 3 fills the area below a 100-pixel strip in
// which the others stand side by side, index 2 on the left.
void Layout(TlaGraph& graph, int width, int height);

}  // namespace scope
