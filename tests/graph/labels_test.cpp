// Scale labels: none drawn over another, none repeated, the end labels kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScopeLayout.h"

namespace {

bool Overlap(const kd::TRect& a, const kd::TRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

std::string Describe(const TlaScala::Label& l) {
  return l.text + (l.time.empty() ? "" : " " + l.time) + " at " + std::to_string(l.box.left) + "," +
         std::to_string(l.box.top) + ".." + std::to_string(l.box.right) + "," + std::to_string(l.box.bottom);
}

// The labels of the scale's next drawing: boxes pairwise apart, texts
// distinct, the max label first and the min label next unless it reads the
// same. Gives the number of tick labels.
int ExpectReadable(kd::TCanvas& canvas, const TlaScala& s, const std::string& what) {
  const std::vector<TlaScala::Label> labels = s.Labels(canvas);
  if (labels.empty()) {
    ADD_FAILURE() << what << ": no labels";
    return 0;
  }
  EXPECT_TRUE(labels[0].atEnd && labels[0].text == s.LabelText(s.Range.max)) << what;
  const bool sameEnds = s.LabelText(s.Range.min) == labels[0].text &&
                        (!s.GetIsDate() || !s.GetIsTime() || s.TimeText(s.Range.min) == labels[0].time);
  if (!sameEnds) {
    EXPECT_TRUE(labels.size() > 1 && labels[1].atEnd && labels[1].text == s.LabelText(s.Range.min)) << what;
  }
  int ticks = 0;
  for (size_t i = 0; i < labels.size(); ++i) {
    ticks += !labels[i].atEnd;
    for (size_t j = i + 1; j < labels.size(); ++j) {
      EXPECT_FALSE(Overlap(labels[i].box, labels[j].box))
          << what << ": " << Describe(labels[i]) << " / " << Describe(labels[j]);
      EXPECT_FALSE(labels[i].text == labels[j].text && labels[i].time == labels[j].time)
          << what << ": " << Describe(labels[i]) << " / " << Describe(labels[j]);
    }
  }
  return ticks;
}

// Every diagram of the scope drawn, its time and value axes checked as that
// diagram lays them out (the time axis is shared).
void ExpectReadableScope(scope::ScopeGraph& s, const std::string& what) {
  s.graph.Repaint();
  kd::TCanvas& c = s.graph.Bitmap().Canvas();
  for (TlaDiagram* d : s.dgr) {
    ASSERT_TRUE(d->Draw(&c));
    ExpectReadable(c, *d->GetScalaX(), what + " " + d->GetTitle() + " time");
    ExpectReadable(c, *d->GetScalaY(), what + " " + d->GetTitle() + " values");
  }
}

}  // namespace

TEST(ScaleLabels, ScopeAxesAtTheDefaultAndALargeSizeAndAfterReset) {
  for (const auto& [w, h] : {std::pair{468, 375}, std::pair{1200, 900}}) {
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    scope::ScopeGraph s(w, h);
    // 40 s of samples starting 0.7 s past a full second: the axis scrolls.
    for (int i = 7; i < 407; ++i) s.Add(i, 320);
    ExpectReadableScope(s, size);
    s.graph.SaveToFile(std::string(KD_GRAPH_OUTPUT_DIR) + "/scope_labels_" + size + ".png");
    // "Reset / Restart": every trace emptied, then the first samples.
    for (TlaDiagram* d : s.dgr)
      for (TlaTraccia* t : d->Traces()) t->ClearPoints();
    for (int i = 1000; i < 1004; ++i) {
      s.Add(i, 320);
      ExpectReadableScope(s, size + " after reset, sample " + std::to_string(i - 999));
    }
  }
}

TEST(ScaleLabels, EveryAlignmentAndFormat) {
  const double t0 = kd::EncodeDate(2024, 3, 1) + kd::EncodeTime(20, 4, 19, 600);
  const double s1 = scope::kSecond;
  enum Format { number, time, dateTime };
  struct Case {
    std::uint8_t align;
    Format format;
    const char* text;
    double min, max, step;
    int length;  // of the band along the axis
    int minTicks;
  } cases[] = {
      {2, number, "000.0", 0, 300, 10, 280, 4},
      {1, number, "0;0", -50, 50, 5, 280, 3},                  // -5 and 5 read the same
      {2, number, "000.0", 0, 0.01, 1, 280, 0},                // every tick reads 000.0
      {2, time, "", t0, t0 + 32 * s1, 10 * s1, 120, 0},        // a top-strip time axis
      {1, time, "", t0, t0 + 32 * s1, 10 * s1, 400, 2},
      {2, time, "", t0, t0 + 0.4 * s1, 10 * s1, 1100, 0},      // under a second
      {2, dateTime, "", t0, t0 + 3, 1, 300, 1},
      {4, number, "000.0", 0, 130, 10, 64, 0},                 // the scope's 100-pixel strip
      {3, number, "000.0", 0, 66.2, 10, 64, 0},                // 50 stands over 066.2
      {4, number, "00.0", -13, 13, 5, 64, 1},
      {3, number, "000.0", 0, 0.01, 1, 300, 0},
      {4, time, "", t0, t0 + 32 * s1, 10 * s1, 300, 2},
      {3, dateTime, "", t0, t0 + 3, 1, 300, 1},
      {4, dateTime, "", t0, t0 + 0.5 * s1, 1, 300, 0},
  };
  for (const Case& k : cases) {
    TlaGraph g;
    TlaDiagram* d = g.CreateNewDiagram("D");
    TlaScala s(d, k.align, "s");
    kd::TBitmap bmp(1200, 400);
    const bool horizontal = k.align <= 2;
    s.DrawArea = horizontal ? kd::TRect{20, 300, 20 + k.length, 340} : kd::TRect{20, 20, 90, 20 + k.length};
    s.TrkArea = horizontal ? kd::TRect{21, 10, 19 + k.length, 299} : kd::TRect{91, 21, 1000, 19 + k.length};
    s.SetText(k.text);
    s.SetIsTime(k.format != number);
    s.SetIsDate(k.format == dateTime);
    s.Range = {k.min, k.max};
    s.SetDivStep(k.step);
    const std::string what = "align " + std::to_string(k.align) + " format " + std::to_string(k.format) +
                             " range " + std::to_string(k.max - k.min) + " in " + std::to_string(k.length);
    EXPECT_GE(ExpectReadable(bmp.Canvas(), s, what), k.minTicks) << what;
    EXPECT_TRUE(s.Draw(&bmp.Canvas()));
  }
}
