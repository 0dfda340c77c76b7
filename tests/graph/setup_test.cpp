// Graph setup text: layout of the written text, round trips, and bad texts
// that must leave the graph as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Exception.h"
#include "Lagraphsetup.h"
#include "Tladiagram.h"
#include "Tlagraph.h"
#include "Tlalegenda.h"
#include "Tlamarker.h"
#include "Tlascala.h"
#include "Tlatraccia.h"

namespace {

std::vector<std::string> Lines(const std::string& text) { return SplitSetupLines(text); }

// Two diagrams with every element kind and non-default settings, the second
// sharing the first one's X scale.
void BuildRich(TlaGraph& g) {
  g.SetAutoRefresh(false);
  TlaDiagram* a = g.CreateNewDiagram("Speed");
  a->SetVisible(true);
  a->SetTitleVisible(true);
  a->SetTrkBack(0xC0C0C0);
  a->SetDgrBack(static_cast<kd::TColor>(0x8000000F));
  a->SetDrawArea({0, 0, 200, 100});
  a->SetAutoScalaY(false);
  a->TitleFont.Set(0x00FFFF, "Arial", -12, kd::fsItalic, 0);
  a->CreateNewScala(2, "Time");
  TlaScala* x = a->GetScalaX();
  x->SetIsTime(true);
  x->SetRange({45352.5, 45352.5 + 30.0 / 86400});
  x->SetDivStep(10.0 / 86400);
  x->GridPen.Set(0x808080, kd::pmCopy, kd::psDot, 1);
  a->CreateNewScala(4, "[%]");
  a->GetScalaY()->SetRange({-10, 130});
  a->GetScalaY()->SetText("000.0");
  a->GetScalaY()->TextFont.SetStyle(kd::fsBold);
  TlaTraccia* t = a->CreateNewTraccia("Armature");
  t->LinePen.Set(0xFF0000, kd::pmCopy, kd::psDash, 2);
  t->Dotted = 3;
  for (int i = 0; i < 5; ++i) t->AddPoint(false, 45352.5 + i / 86400.0, i * 1.25 - 3);
  TlaTraccia* r = a->CreateNewTraccia("Reference");
  r->SetTrkType(2);
  r->SetVisible(false);
  TlaMarker* m = a->CreateNewMarker("Rf");
  m->SetPoint({45352.5, 42.5});
  m->SetOrType(laOrHorizontal);
  m->SetMrkType(3);
  m->SetText("00.0");
  m->TextVisible = false;
  a->CreateNewLegenda("Speed");
  a->GetLegenda()->ColCount = 5;
  a->GetLegenda()->SetLeft(20);

  TlaDiagram* b = g.CreateNewDiagram("Current");
  b->SetVisible(true);
  b->SetScalaX(x);
  b->CreateNewScala(3, "[A]");
  b->CreateNewTraccia("IAct")->AddPoint(false, 1, 2);
  TlaMarker* v = b->CreateNewMarker("IMax");
  v->SetOrType(laOrVertical);
  v->SetDotted(1);
  b->CreateNewMarker("Both")->SetPoint({-1e-5, 7e12});
}

// Replaces the first line equal to from.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

}  // namespace

TEST(GraphSetup, WrittenLayout) {
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("D");
  d->CreateNewLegenda("L");
  d->CreateNewScala(2, "X");
  d->CreateNewScala(4, "Y");
  TlaTraccia* t = d->CreateNewTraccia("T");
  t->AddPoint(false, 1, 2);
  t->AddPoint(false, 3, 4);
  const std::string text = g.GetSetup();
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
  EXPECT_NE(text.back(), '\n');

  const std::vector<std::string> l = Lines(text);
  ASSERT_GE(l.size(), 20u);
  EXPECT_EQ(l[0], "[laGraph]");
  EXPECT_EQ(l[1], "Begin");
  EXPECT_EQ(l[2], "AutoRefresh=false");
  EXPECT_EQ(l[3], "DrawArea=0,0,319,239");
  EXPECT_EQ(l[4], "[laDiagram]");
  EXPECT_EQ(l[5], "Begin");
  EXPECT_EQ(l[6], "Title=D");
  EXPECT_EQ(l[7], "TitlePen=16777215,4,0,1");
  EXPECT_EQ(l[9], "TitleFont=16777215,Arial,-10,B");
  EXPECT_EQ(l[17], "FollowOwnerArea=false");
  EXPECT_EQ(l[18], "[laLegenda]");
  std::vector<std::string> headers;
  for (const std::string& s : l)
    if (s.front() == '[') headers.push_back(s);
  EXPECT_EQ(headers, (std::vector<std::string>{"[laGraph]", "[laDiagram]", "[laLegenda]", "[laScala]", "[laScala]",
                                               "[laTraccia]"}));
  const size_t n = l.size();
  EXPECT_EQ(l[n - 5], "P0=1,2");
  EXPECT_EQ(l[n - 4], "P1=3,4");
  EXPECT_EQ(l[n - 3], "End");
  EXPECT_EQ(l[n - 2], "End");
  EXPECT_EQ(l[n - 1], "End");

  // An empty title is not written.
  TlaGraph h;
  h.CreateNewDiagram("");
  const std::vector<std::string> e = Lines(h.GetSetup());
  EXPECT_EQ(e[6].rfind("TitlePen=", 0), 0u);
}

TEST(GraphSetup, RoundTripIsExact) {
  TlaGraph g;
  BuildRich(g);
  const std::string first = g.GetSetup();

  TlaGraph h;
  int refreshes = 0;
  h.OnRefreshQuery = [&](kd::Component*, kd::TBitmap*, bool&) { ++refreshes; };
  h.SetSetup(first);
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(h.GetSetup(), first);

  ASSERT_EQ(h.GetDgrCount(), 2);
  TlaDiagram* a = h.GetDiagram("Speed");
  TlaDiagram* b = h.GetDiagram("Current");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Traces().size(), 2u);
  EXPECT_EQ(a->GetTraccia("Armature")->GetPointCount(), 5);
  EXPECT_EQ(a->GetMarker("Rf")->GetOrType(), laOrHorizontal);
  EXPECT_EQ(b->GetMarker("IMax")->GetOrType(), laOrVertical);
  EXPECT_EQ(a->TitleFont.Style(), kd::fsItalic);
  EXPECT_EQ(a->GetLegenda()->ColCount, 5);
  // The shared scale comes back as one scale per diagram.
  ASSERT_TRUE(a->GetScalaX() && b->GetScalaX());
  EXPECT_NE(a->GetScalaX(), b->GetScalaX());
  EXPECT_EQ(b->GetScalaX()->OwnerDiagram(), b);
  EXPECT_EQ(b->GetScalaX()->Range, a->GetScalaX()->Range);
  EXPECT_EQ(b->GetScalaY()->GetAlign(), 3);

  // Reading again adds every diagram once more.
  h.SetSetup(first);
  EXPECT_EQ(h.GetDgrCount(), 4);
  h.Repaint();
}

TEST(GraphSetup, ReaderRules) {
  TlaGraph g;
  const std::string head = "[laGraph]\r\nBegin\r\nAutoRefresh=true\r\nDrawArea=0,0,99,99\r\n[laDiagram]\r\nBegin\r\n";
  const std::string diagramKeys =
      "TitlePen=0,4,0,1\r\nTitleBrush=0,1\r\nTitleFont=0,Arial,-10,\r\nDrawArea=0,0,50,50\r\nTrkBack=0\r\n"
      "DgrBack=0\r\nVisible=true\r\n";
  const std::string common =
      "LinePen=255,4,0,1\r\nLineBrush=0,1\r\nTitlePen=0,4,0,1\r\nTitleBrush=0,1\r\nTitleFont=0,Arial,-10,\r\n"
      "DrawArea=0,0,1,1\r\nVisible=true\r\n";
  const std::string scale = "GridPen=0,4,2,1\r\nGridBrush=0,1\r\nTextPen=0,4,0,1\r\nTextBrush=0,1\r\n"
                            "TextFont=0,Arial,-10,\r\nRange=0,10\r\nDivStep=1\r\n";
  const std::string text = head + diagramKeys +
                           "[laLegenda]\r\nBegin\r\nTitle=FromLegend\r\n" + common +
                           "ColCount=0\r\nLeft=1\r\nTop=2\r\nEnd\r\n"
                           "[laScala]\r\nBegin\r\nTitle=Y\r\nAlign=4\r\n" + common + scale + "End\r\n"
                           "[laScala]\r\nBegin\r\nTitle=X1\r\nAlign=1\r\n" + common + scale + "End\r\n"
                           "[laScala]\r\nBegin\r\nTitle=X2\r\nalign=2\r\n" + common + scale + "End\r\n"
                           "[laTraccia]\r\nBegin\r\nTitle=T\r\n" + common +
                           "TrkType=1\r\nDotted=0\r\nP0=1,1\r\nP1=2,2\r\nP3=4,4\r\nUnknownKey=5\r\nEnd\r\n"
                           "[laMarker]\r\nBegin\r\nTitle=M1\r\n" + common +
                           "Point=1,2\r\nMrkType=1\r\nDotted=0\r\nTextPen=0,4,0,1\r\nTextBrush=0,0\r\n"
                           "TextFont=0,Arial,-10,\r\nOrType=VH\r\nEnd\r\n"
                           "[laMarker]\r\nBegin\r\nTitle=M2\r\n" + common +
                           "Point=1,2\r\nMrkType=1\r\nDotted=0\r\nTextPen=0,4,0,1\r\nTextBrush=0,0\r\n"
                           "TextFont=0,Arial,-10,\r\nOrType=HV\r\nEnd\r\n"
                           "[laUnknown]\r\nBegin\r\nTitle=Z\r\nEnd\r\n"
                           "End\r\nEnd";
  g.SetSetup(text);
  ASSERT_EQ(g.GetDgrCount(), 1);
  TlaDiagram* d = g.GetDiagram(0);
  EXPECT_EQ(d->GetTitle(), "FromLegend");  // no title key of its own
  EXPECT_TRUE(g.GetAutoRefresh());
  EXPECT_EQ(g.GetDrawArea(), (kd::TRect{0, 0, 99, 99}));
  EXPECT_EQ(d->GetScalaY()->GetTitle(), "Y");
  EXPECT_EQ(d->GetScalaX()->GetTitle(), "X1");  // the second X scale was refused
  EXPECT_EQ(d->ComponentCount(), 6);            // and not kept
  EXPECT_EQ(d->Traces()[0]->GetPointCount(), 2);  // P0, P1; P3 is past the gap
  EXPECT_EQ(d->GetMarker("M1")->GetOrType(), laOrVertical | laOrHorizontal);
  EXPECT_EQ(d->GetMarker("M2")->GetOrType(), laOrVertical | laOrHorizontal);
  // ColCount=0 was read; the repaint at the end of the reading took it as 1.
  EXPECT_EQ(d->GetLegenda()->ColCount, 1);

  // A diagram called "_NoName_" already there does not stop the reading.
  TlaGraph h;
  h.CreateNewDiagram("_NoName_");
  h.SetSetup(text);
  EXPECT_EQ(h.GetDgrCount(), 2);
}

TEST(GraphSetup, BadTextLeavesTheGraphAsItWas) {
  TlaGraph src;
  BuildRich(src);
  const std::string good = src.GetSetup();
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"missing End", Replace(good, "P4=45352.5000462963,2\r\nEnd\r\n", "P4=45352.5000462963,2\r\n")},
      {"header on the last line", good + "\r\n[laDiagram]"},
      {"bad number", Replace(good, "TrkBack=12632256", "TrkBack=12x")},
      {"bad rect", Replace(good, "DrawArea=0,0,200,100", "DrawArea=0,0,200")},
      {"bad point", Replace(good, "P2=", "P2=7;")},
      {"missing int key", Replace(good, "Align=4\r\n", "")},
      {"bad graph key", Replace(good, "DrawArea=0,0,319,239", "DrawArea=")},
      {"empty pen", Replace(good, "LinePen=16711680,4,1,2", "LinePen=")},
  };
  for (const Case& c : cases) {
    TlaGraph g;
    g.CreateNewDiagram("Existing")->CreateNewTraccia("t");
    g.SetAutoRefresh(true);
    const std::string before = g.GetSetup();
    int refreshed = 0;
    g.OnRefreshed = [&](kd::Component*, kd::TBitmap*, bool&) { ++refreshed; };
    EXPECT_THROW(g.SetSetup(c.text), kd::Exception) << c.what;
    EXPECT_EQ(g.GetSetup(), before) << c.what;
    EXPECT_EQ(refreshed, 0) << c.what;  // nothing half-built was ever shown
  }

  // A diagram read on its own is just as careful.
  TlaGraph g;
  TlaDiagram* d = g.CreateNewDiagram("D");
  const std::string dBefore = d->GetSetup();
  const size_t at = good.find("[laDiagram]");
  std::string section = good.substr(at, good.find("[laDiagram]", at + 1) - at);
  section = Replace(section, "Range=-10,130", "Range=-10");
  EXPECT_THROW(d->SetSetup(section), kd::ConvertError);
  EXPECT_EQ(d->GetSetup(), dBefore);
  EXPECT_EQ(d->ComponentCount(), 0);
}

TEST(GraphSetup, MisplacedSectionsAreSkipped) {
  TlaGraph src;
  BuildRich(src);
  std::string text = src.GetSetup();
  // An element section straight inside the graph, and a diagram inside a diagram.
  const std::string stray = "[laTraccia]\r\nBegin\r\nTitle=Stray\r\nEnd\r\n";
  text = Replace(text, "[laDiagram]", stray + "[laDiagram]");
  const size_t second = text.find("[laDiagram]", text.find("[laDiagram]") + 1);
  text.insert(second - std::string("End\r\n").size(), "[laScala]\r\nBegin\r\n[laDiagram]\r\nBegin\r\nTitle=Inner\r\nEnd\r\nEnd\r\n");
  TlaGraph g;
  EXPECT_THROW(g.SetSetup(text), kd::Exception);  // the stray scale has no keys
  EXPECT_EQ(g.GetDgrCount(), 0);

  text = Replace(text, "[laScala]\r\nBegin\r\n[laDiagram]", "[laJunk]\r\nBegin\r\n[laDiagram]");
  g.SetSetup(text);
  EXPECT_EQ(g.GetDgrCount(), 2);
  EXPECT_EQ(g.GetDiagram(0)->GetTraccia("Stray"), nullptr);
  EXPECT_EQ(g.GetDiagram("Inner"), nullptr);
}
