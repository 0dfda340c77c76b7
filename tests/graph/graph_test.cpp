// Graph and diagram: ownership, hit tests, selection, layout, mapping and the
// change notification chain.
#include <QImage>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Exception.h"
#include "Tladiagram.h"
#include "Tlagraph.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"

namespace {

inline std::string Numbered(const char* prefix, int i) {
  std::string s(prefix);
  s += std::to_string(i);
  return s;
}

// A visible diagram with a bottom X and a right Y scale over the given area.
TlaDiagram* AddComplete(TlaGraph& g, const std::string& title, const kd::TRect& area) {
  TlaDiagram* d = g.CreateNewDiagram(title);
  d->SetDrawArea(area);
  d->CreateNewScala(2, "x");
  d->CreateNewScala(4, "y");
  d->SetVisible(true);
  return d;
}

struct Counters {
  int refreshQuery = 0, refreshed = 0, resize = 0;
  std::vector<kd::Component*> drawn;
  void Attach(TlaGraph& g) {
    g.OnRefreshQuery = [this](kd::Component*, kd::TBitmap*, bool&) { ++refreshQuery; };
    g.OnRefreshed = [this](kd::Component*, kd::TBitmap*, bool&) { ++refreshed; };
    g.OnResize = [this](kd::Component*) { ++resize; };
    g.OnDiagramDraw = [this](kd::Component* s, kd::TBitmap*, bool&) { drawn.push_back(s); };
  }
};

}  // namespace

TEST(Graph, OwnersAreChecked) {
  TlaGraph g;
  try {
    TlaDiagram d(nullptr, "x");
    FAIL();
  } catch (const kd::Exception& e) {
    EXPECT_STREQ(e.what(), "Diagram: Owner not valid!");
  }
  try {
    TlaTraccia t(&g, "x");
    FAIL();
  } catch (const kd::Exception& e) {
    EXPECT_STREQ(e.what(), "Graph Element: Bad owner pointer.");
  }
  EXPECT_THROW(TlaScala(nullptr, 1, "x"), kd::Exception);
  EXPECT_EQ(g.ComponentCount(), 0);  // the refused element left no trace
}

TEST(Graph, DiagramListAndNames) {
  TlaGraph g;
  TlaDiagram* a = g.CreateNewDiagram("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(g.CreateNewDiagram("A"), nullptr);
  EXPECT_EQ(g.GetDgrCount(), 1);
  EXPECT_EQ(g.AddDiagram(nullptr), -2);
  auto* twin = new TlaDiagram(&g, "A");  // owned by g; AddDiagram reports the clash
  EXPECT_EQ(g.GetDgrCount(), 2);
  EXPECT_EQ(g.GetDiagram(1), twin);
  EXPECT_EQ(g.GetDiagram("A"), a);
  EXPECT_EQ(g.GetDiagram(2), nullptr);
  EXPECT_EQ(g.GetDiagram(-1), nullptr);
  EXPECT_EQ(g.AddDiagram(twin), -3);  // appended once more all the same
  EXPECT_EQ(g.GetDgrCount(), 3);
  g.DeleteDiagram(twin);  // every entry goes
  EXPECT_EQ(g.GetDgrCount(), 1);
  g.AddDiagram(twin);
  g.AddDiagram(twin);
  delete twin;  // leaves no entry behind (ASan would see the graph's destructor use it)
  EXPECT_EQ(g.GetDgrCount(), 1);

  TlaGraph other;
  TlaDiagram* foreign = other.CreateNewDiagram("F");
  EXPECT_EQ(g.AddDiagram(foreign), -1);
  EXPECT_EQ(g.GetDgrCount(), 1);
}

TEST(Graph, BringToFrontChangesDrawingOrder) {
  TlaGraph g;
  TlaDiagram* a = g.CreateNewDiagram("A");
  TlaDiagram* b = g.CreateNewDiagram("B");
  TlaDiagram* c = g.CreateNewDiagram("C");
  Counters n;
  n.Attach(g);
  g.BringToFront(a);
  EXPECT_EQ(g.GetDiagram(2), a);
  g.Repaint();
  EXPECT_EQ(n.drawn, (std::vector<kd::Component*>{b, c, a}));
  g.BringToFront(nullptr);
  TlaGraph other;
  TlaDiagram* foreign = other.CreateNewDiagram("F");
  EXPECT_THROW(g.BringToFront(foreign), kd::Exception);
}

TEST(Graph, HitTestsOnBordersAndOverlaps) {
  TlaGraph g;
  TlaDiagram* a = AddComplete(g, "A", {0, 0, 100, 100});
  TlaDiagram* b = AddComplete(g, "B", {50, 50, 150, 150});
  for (kd::TPoint border : {kd::TPoint{0, 10}, {100, 10}, {10, 0}, {10, 100}})
    EXPECT_EQ(g.DgrAtPos(border), nullptr) << border.x << "," << border.y;
  EXPECT_EQ(g.DgrAtPos({75, 75}), a);  // earlier in the list
  g.SelectAtPos({75, 75});
  EXPECT_EQ(g.GetSelectedDgr(), b);  // later in the list (drawn on top)
  EXPECT_TRUE(b->GetSelected());

  // An incomplete diagram is found by DgrAtPos only.
  b->SetVisible(false);
  EXPECT_EQ(g.DgrAtPos({120, 120}), b);
  g.SelectAtPos({120, 120});
  EXPECT_EQ(g.GetSelectedDgr(), nullptr);
  EXPECT_FALSE(b->GetSelected());

  g.SelectAtPos({10, 10});
  EXPECT_EQ(g.GetSelectedDgr(), a);
  g.SelectAtPos({500, 500});
  EXPECT_EQ(g.GetSelectedDgr(), nullptr);
  EXPECT_FALSE(a->GetSelected());
}

TEST(Graph, SelectionNeverOutlivesItsDiagram) {
  TlaGraph g;
  TlaDiagram* a = AddComplete(g, "A", {0, 0, 100, 100});
  TlaDiagram* b = AddComplete(g, "B", {0, 0, 100, 100});
  g.SetSelectedDgr(a);
  delete a;
  EXPECT_EQ(g.GetSelectedDgr(), nullptr);
  g.SetSelectedDgr(b);
  g.DeleteDiagram(b);  // leaves the list, still alive and owned by g
  EXPECT_EQ(g.GetSelectedDgr(), nullptr);
  EXPECT_FALSE(b->GetSelected());
  EXPECT_EQ(g.GetDgrCount(), 0);
}

TEST(Graph, EmptyRepaintAndResize) {
  TlaGraph g;
  Counters n;
  n.Attach(g);
  g.Repaint();
  EXPECT_EQ(n.refreshed, 1);
  EXPECT_EQ(n.drawn, (std::vector<kd::Component*>{nullptr}));
  EXPECT_EQ(g.Bitmap().Canvas().Pixel(100, 100), static_cast<kd::TColor>(0xF0F0F0));

  EXPECT_EQ(g.GetWidth(), 319);
  g.SetWidth(319);
  EXPECT_EQ(n.resize, 0);
  g.SetWidth(400);
  EXPECT_EQ(n.resize, 1);
  EXPECT_EQ(g.GetWidth(), 399);
  EXPECT_EQ(g.Bitmap().Width(), 400);
  g.SetHeight(300);
  EXPECT_EQ(g.GetHeight(), 299);
  EXPECT_EQ(g.Bitmap().Height(), 300);
  EXPECT_EQ(n.resize, 2);
}

TEST(Graph, NotificationChain) {
  TlaGraph g;
  TlaDiagram* d = AddComplete(g, "A", {0, 0, 200, 100});
  TlaTraccia* t = d->CreateNewTraccia("t");
  Counters n;
  n.Attach(g);
  g.Repaint();
  ASSERT_FALSE(d->GetModified());
  n = Counters{};
  n.Attach(g);

  t->LinePen.SetColor(0x00FF00);
  EXPECT_TRUE(d->GetModified());
  EXPECT_EQ(n.refreshQuery, 1);
  EXPECT_EQ(n.refreshed, 0);  // no AutoRefresh

  g.SetAutoRefresh(true);
  t->LinePen.SetColor(0x0000FF);
  EXPECT_EQ(n.refreshed, 1);
  EXPECT_FALSE(d->GetModified());

  // Same values notify nothing; bulk sample operations never.
  const int before = n.refreshQuery;
  t->LinePen.SetColor(0x0000FF);
  t->SetTitle("t");
  t->SetVisible(true);
  t->SetTrkType(1);
  d->SetVisible(true);
  d->SetTrkBack(d->GetTrkBack());
  d->SetDrawArea(d->DrawArea());
  d->GetScalaX()->SetRange(d->GetScalaX()->Range);
  d->GetScalaX()->SetText(d->GetScalaX()->GetText());
  t->AddPoint(false, 1, 2);
  t->AddPoint(true, 2, 3);
  t->DeleteFirstPoints(1);
  t->ClearPoints();
  EXPECT_EQ(n.refreshQuery, before);

  // A handler that says no stops the repaint.
  g.OnRefreshQuery = [](kd::Component*, kd::TBitmap*, bool& doit) { doit = false; };
  t->SetTitle("u");
  EXPECT_EQ(n.refreshed, 1);
}

TEST(Graph, RefreshDuringPaintDoesNotRecurse) {
  TlaGraph g;
  g.SetAutoRefresh(true);
  TlaDiagram* d = AddComplete(g, "A", {0, 0, 200, 100});
  TlaTraccia* t = d->CreateNewTraccia("t");
  t->AddPoint(false, 0, 0);
  t->AddPoint(false, 5, 7);
  int refreshed = 0;
  g.OnRefreshed = [&](kd::Component*, kd::TBitmap*, bool&) { ++refreshed; };
  d->SetTrkBack(0x101010);  // the draw sets new automatic ranges on both scales
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(d->GetScalaX()->Range, (TlaRange{0, 5}));
}

TEST(Diagram, AddElementResults) {
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("A");
  TlaDiagram* other = g.CreateNewDiagram("B");
  EXPECT_EQ(d->AddElement(nullptr), -2);
  EXPECT_EQ(d->CreateNewScala(2, "x"), TlaDiagram::kXScale);
  EXPECT_EQ(d->CreateNewScala(1, "x2"), -4);
  EXPECT_EQ(d->CreateNewScala(4, "y"), TlaDiagram::kYScale);
  EXPECT_EQ(d->CreateNewScala(3, "y2"), -4);
  EXPECT_EQ(d->GetScalaX()->GetTitle(), "x");  // the refused one did not empty the slot
  EXPECT_EQ(d->GetScalaY()->GetTitle(), "y");
  EXPECT_EQ(d->CreateNewLegenda("l"), TlaDiagram::kLegend);
  EXPECT_EQ(d->CreateNewLegenda("l2"), -4);
  EXPECT_EQ(d->GetLegenda()->GetTitle(), "l");

  TlaTraccia* t0 = d->CreateNewTraccia("t0");
  ASSERT_NE(t0, nullptr);
  EXPECT_EQ(d->CreateNewTraccia("t0"), nullptr);
  auto* t1 = new TlaTraccia(d, "t1");  // owned by d
  EXPECT_EQ(d->AddElement(t1), 1);
  EXPECT_EQ(d->AddElement(t1), -3);
  EXPECT_EQ(d->CreateNewMarker("m")->GetTitle(), "m");
  EXPECT_EQ(d->CreateNewMarker("m"), nullptr);

  // Only scales may be shared; another diagram's trace is refused.
  auto* foreign = new TlaTraccia(other, "f");  // owned by other
  EXPECT_EQ(d->AddElement(foreign), -1);

  EXPECT_EQ(d->RemoveElement(t1), t1);
  EXPECT_EQ(d->RemoveElement(t1), nullptr);
  EXPECT_EQ(d->Traces().size(), 1u);
  delete t1;
  delete d->GetScalaX();  // destroyed directly: the slot is emptied
  EXPECT_EQ(d->GetScalaX(), nullptr);
  d->SetVisible(true);
  EXPECT_FALSE(d->IsComplete());
  EXPECT_FALSE(d->Draw(&g.Bitmap().Canvas()));
}

TEST(Diagram, SharedScaleIsDestroyedOnce) {
  // Run under ASan: any double delete or use after free shows up here.
  for (int order = 0; order < 4; ++order) {
    auto g = std::make_unique<TlaGraph>();
    TlaDiagram* d[3];
    for (int i = 0; i < 3; ++i) d[i] = AddComplete(*g, Numbered("D", i), {0, 0, 100, 100});
    TlaScala* shared = d[0]->GetScalaX();
    d[1]->SetScalaX(shared);  // d1's own X scale stays owned by d1, unattached
    d[2]->SetScalaX(shared);
    EXPECT_EQ(d[2]->GetScalaX(), shared);
    g->Repaint();
    switch (order) {
      case 0:
        delete d[0];  // the owner goes: the users let go
        EXPECT_EQ(d[1]->GetScalaX(), nullptr);
        EXPECT_EQ(d[2]->GetScalaX(), nullptr);
        g->Repaint();
        break;
      case 1:
        delete d[1];
        delete d[2];
        EXPECT_EQ(d[0]->GetScalaX(), shared);
        break;
      case 2:
        g->ClearAll();
        EXPECT_EQ(g->GetDgrCount(), 0);
        break;
      default:
        delete shared;
        for (TlaDiagram* x : d) EXPECT_EQ(x->GetScalaX(), nullptr);
        break;
    }
    g.reset();
  }
}

TEST(Diagram, LayoutOfBands) {
  TlaGraph g;
  TlaDiagram* d = AddComplete(g, "A", {10, 20, 210, 120});
  kd::TCanvas& c = g.Bitmap().Canvas();
  d->Layout(&c);
  const TlaScala* x = d->GetScalaX();
  const TlaScala* y = d->GetScalaY();
  const kd::TRect p = d->TrkArea();
  EXPECT_EQ(p.top, 21);  // title hidden
  EXPECT_EQ(p.bottom, x->DrawArea.top - 1);
  EXPECT_EQ(x->DrawArea.bottom, 120);
  EXPECT_EQ(p.right, y->DrawArea.left - 1);
  EXPECT_EQ(y->DrawArea.right, 210);
  EXPECT_EQ(p.left, 11);
  EXPECT_EQ(x->DrawArea.left, p.left - 1);
  EXPECT_EQ(x->DrawArea.right, p.right + 1);
  EXPECT_EQ(y->DrawArea.top, p.top - 1);
  EXPECT_EQ(y->DrawArea.bottom, p.bottom + 1);
  EXPECT_EQ(x->TrkArea, p);

  d->SetTitleVisible(true);
  d->Layout(&c);
  c.Font().Assign(d->TitleFont);
  EXPECT_EQ(d->TitleBand().bottom, 20 + c.TextHeight("A") + 2);
  EXPECT_EQ(d->TrkArea().top, d->TitleBand().bottom + 1);
  EXPECT_EQ(d->TitleBand().left, d->TrkArea().left);

  d->SetFollowOwnerArea(true);
  d->Layout(&c);
  EXPECT_EQ(d->DrawArea(), (kd::TRect{0, 0, 319, 239}));
  d->SetDrawArea({0, 0, 50, 50});
  EXPECT_FALSE(d->GetFollowOwnerArea());
}

TEST(Diagram, AutomaticRanges) {
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("A");
  TlaTraccia* t = d->CreateNewTraccia("t");
  t->AddPoint(false, 3, 1);
  t->AddPoint(false, 3, 4);
  EXPECT_EQ(d->GetAutoRangeX(), (TlaRange{0, 0}));
  EXPECT_EQ(d->GetAutoRangeY(), (TlaRange{1, 4}));

  t->AddPoint(false, 10, 4);
  TlaMarker* m = d->CreateNewMarker("m");
  m->SetPoint({12, 2});
  m->SetOrType(laOrHorizontal);
  EXPECT_EQ(d->GetAutoRangeX(), (TlaRange{3, 10}));
  m->SetOrType(laOrVertical);
  EXPECT_EQ(d->GetAutoRangeX(), (TlaRange{3, 12}));
  m->SetVisible(false);

  // A hidden first trace leaves 0 inside the range.
  TlaTraccia* u = d->CreateNewTraccia("u");
  u->AddPoint(false, 5, 5);
  u->AddPoint(false, 6, 5);
  t->SetVisible(false);
  EXPECT_EQ(d->GetAutoRangeX(), (TlaRange{0, 6}));
}

TEST(Diagram, PixelsToWorldAndBack) {
  TlaGraph g;
  TlaDiagram* d = AddComplete(g, "A", {0, 0, 300, 200});
  d->SetAutoScalaX(false);
  d->SetAutoScalaY(false);
  TlaScala* x = d->GetScalaX();
  TlaScala* y = d->GetScalaY();
  x->SetRange({-50, 150});
  y->SetRange({10, 30});
  d->Layout(&g.Bitmap().Canvas());
  const kd::TRect p = d->TrkArea();
  const double ux = x->GetRangeLength() / (p.right - p.left);
  const double uy = y->GetRangeLength() / (p.bottom - p.top);

  Tla2DPoint w;
  EXPECT_TRUE(d->CoordAtPos({p.left + 1, p.bottom - 1}, &w));
  EXPECT_DOUBLE_EQ(w.x, -50 + ux);
  EXPECT_DOUBLE_EQ(w.y, 10 + uy);
  EXPECT_FALSE(d->CoordAtPos({p.left, p.bottom - 1}, &w));  // on the border: filled all the same
  EXPECT_DOUBLE_EQ(w.x, -50);
  EXPECT_EQ(g.CoordAtCurPos({p.left + 1, p.bottom - 1}, &w), 0);
  EXPECT_EQ(g.CoordAtCurPos({p.left, p.bottom - 1}, &w), -1);
  EXPECT_EQ(g.CoordAtCurPos({1000, 1000}, &w), -1);

  // A world point drawn at a pixel reads back within one pixel's worth.
  for (Tla2DPoint v : {Tla2DPoint{-50, 10}, {0, 20}, {149.9, 29.9}, {37.3, 11.1}}) {
    const kd::TPoint px{PixelTrunc((v.x - x->Range.min) * x->GetPixelsPerUnit()) + p.left,
                        p.bottom - PixelTrunc((v.y - y->Range.min) * y->GetPixelsPerUnit())};
    d->CoordAtPos(px, &w);
    EXPECT_NEAR(w.x, v.x, ux) << v.x;
    EXPECT_NEAR(w.y, v.y, uy) << v.y;
  }
}

TEST(Diagram, ClickSelectsTraceCursorAndMarker) {
  TlaGraph g;
  TlaDiagram* d = AddComplete(g, "A", {0, 0, 300, 200});
  TlaTraccia* t = d->CreateNewTraccia("t");
  TlaTraccia* hidden = d->CreateNewTraccia("hidden");
  t->AddPoint(false, 0, 0);
  t->AddPoint(false, 100, 50);
  hidden->SetVisible(false);
  TlaMarker* m = d->CreateNewMarker("m");
  m->SetPoint({50, 25});
  d->CreateNewLegenda("legend");
  TlaLegenda* l = d->GetLegenda();
  l->ColCount = 2;
  l->OnlyVisible = true;
  g.Repaint();

  // The hidden trace's empty cell still selects it.
  const kd::TRect cell2{l->DrawArea.left + l->GetCellWidth() + 1, l->DrawArea.top + 1, 0, 0};
  g.SelectAtPos({cell2.left + 3, cell2.top + 3});
  EXPECT_EQ(d->GetSelTraccia(), hidden);
  g.SelectAtPos({l->DrawArea.left + 3, l->DrawArea.top + 3});
  EXPECT_EQ(d->GetSelTraccia(), t);
  EXPECT_TRUE(t->GetCursorOn());
  EXPECT_FALSE(hidden->GetCursorOn());

  // A click in the plot moves the cursor and keeps the selection.
  const kd::TRect p = d->TrkArea();
  g.SelectAtPos({p.left + 100, p.bottom - 40});
  EXPECT_EQ(d->GetSelTraccia(), t);
  ASSERT_NE(t->GetCursorPoint(), nullptr);
  Tla2DPoint w;
  d->CoordAtPos({p.left + 100, p.bottom - 40}, &w);
  EXPECT_DOUBLE_EQ(t->GetCursorPoint()->x, w.x);
  EXPECT_DOUBLE_EQ(t->GetCursorPoint()->y, w.y);

  // A marker label (outside the plot) selects the marker; the cursor goes.
  const kd::TRect yl = m->GetYTextArea();
  g.SelectAtPos({(yl.left + yl.right) / 2, (yl.top + yl.bottom) / 2});
  EXPECT_EQ(d->GetSelMarker(), m);
  EXPECT_EQ(m->GetHighlight(), 2);
  EXPECT_FALSE(t->GetCursorOn());
  EXPECT_EQ(t->GetCursorPoint(), nullptr);

  // Nothing under the click: the marker is released.
  g.SelectAtPos({p.left + 150, p.bottom - 5});
  EXPECT_EQ(d->GetSelElement(), nullptr);
  EXPECT_EQ(m->GetHighlight(), 0);

  // Deselecting the diagram switches a selected trace's cursor off.
  d->SelectElement(t);
  g.SetSelectedDgr(nullptr);
  EXPECT_FALSE(t->GetCursorOn());
  EXPECT_EQ(d->GetSelElement(), nullptr);

  // A selected element that is destroyed leaves the selection.
  d->SelectElement(m);
  delete m;
  EXPECT_EQ(d->GetSelElement(), nullptr);
}

TEST(Graph, SavesBitmapAsBmpOrPng) {
  TlaGraph g;
  g.SetWidth(64);
  g.SetHeight(32);
  g.Repaint();
  for (const char* name : {"graph_save.bmp", "graph_save.png"}) {
    const std::string file = std::string(KD_GRAPH_OUTPUT_DIR) + "/" + name;
    g.SaveToFile(file);
    const QImage back(QString::fromStdString(file));
    ASSERT_FALSE(back.isNull()) << name;
    EXPECT_EQ(back.size(), QSize(64, 32));
    EXPECT_EQ(back.pixel(10, 10) & 0xFFFFFFu, 0xF0F0F0u);
  }
  EXPECT_THROW(g.SaveToFile(std::string(KD_GRAPH_OUTPUT_DIR) + "/no/such/folder/x.bmp"), kd::Exception);
}
