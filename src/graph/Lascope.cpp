#include "Lascope.h"

#include "Tladiagram.h"
#include "Tlagraph.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"

namespace scope {

Elements Build(TlaGraph& graph, kd::TDateTime start) {
  Elements e;
  for (int i = 0; i < kDiagramCount; ++i) {
    const DiagramRow& row = kDiagrams[i];
    TlaDiagram* d = graph.CreateNewDiagram(row.title);
    e.diagrams[i] = d;
    d->SetVisible(true);
    d->SetAutoScalaX(true);
    d->SetAutoScalaY(false);
    d->TitleFont.SetSize(-12);
    d->SetTitleVisible(true);
    d->SetTrkBack(0xC0C0C0);
    d->SetDgrBack(row.back);
    d->SetFollowOwnerArea(false);
    if (!e.time) {
      d->CreateNewScala(2, "Samples");
      e.time = d->GetScalaX();
      e.time->SetTitleVisible(false);
      e.time->SetIsTime(true);
      e.time->SetIsDate(false);
      e.time->SetText("000.0");
      e.time->GridPen.SetColor(0x808080);
      e.time->SetRange({start, start + 30 * kSecond});
      e.time->SetDivStep(10 * kSecond);
    } else {
      d->SetScalaX(e.time);
    }
    d->CreateNewScala(4, row.yTitle);
    TlaScala* y = d->GetScalaY();
    y->GridPen.SetColor(0x808080);
    y->SetIsDate(false);
    y->SetIsTime(false);
    y->SetRange({0, row.yMax});
    y->SetDivStep(row.yStep);
    y->SetText(row.yFormat);

    for (int k = 0; k < kTraceCount; ++k) {
      const TraceRow& t = kTraces[k];
      if (t.diagram != i) continue;
      TlaTraccia* trace = d->CreateNewTraccia(t.name);
      trace->LinePen.Set(t.color, kd::pmCopy, t.style, t.width);
      trace->LineBrush.SetColor(t.brush);
      trace->SetTrkType(1);
      e.traces[k] = trace;
    }
    for (int k = 0; k < kMarkerCount; ++k) {
      const MarkerRow& m = kMarkers[k];
      if (m.diagram != i) continue;
      TlaMarker* marker = d->CreateNewMarker(m.name);
      marker->SetPoint({0, 0});
      marker->SetDotted(0);
      marker->LinePen.SetColor(m.color);
      marker->LinePen.SetStyle(m.style);
      marker->LineBrush.SetColor(m.color);
      // Horizontal lines only.
      marker->SetOrType(static_cast<TlaOrType>(marker->GetOrType() & ~laOrVertical));
      marker->SetText(m.text);
      marker->SetMrkType(static_cast<std::uint8_t>(m.mrkType));
      e.markers[k] = marker;
    }
    if (row.legend) {
      d->CreateNewLegenda(row.legend);
      TlaLegenda* legend = d->GetLegenda();
      legend->ColCount = 5;
      legend->SetLeft(20);
      legend->OnlyVisible = true;
    }
  }
  return e;
}

void Layout(TlaGraph& graph, int w, int h) {
  const kd::TRect areas[kDiagramCount] = {
      {2 * w / 3, 0, w, 100}, {w / 3, 0, 2 * w / 3, 100}, {0, 0, w / 3, 100}, {0, 100, w, h}};
  for (int i = 0; i < kDiagramCount; ++i)
    if (TlaDiagram* d = graph.GetDiagram(i)) d->SetDrawArea(areas[i]);
}

}  // namespace scope
