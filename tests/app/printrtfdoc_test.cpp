// The rich-text print component: its page and render rectangles, and real
// print jobs into PDF files read back with pdftotext and pdfinfo.
#include <gtest/gtest.h>

#include <QPrinter>
#include <QTextEdit>
#include <filesystem>
#include <regex>
#include <sstream>

#include "AppTestSupport.h"
#include "Tlaprintrtfdoc.h"

using namespace apptest;

namespace {

TEST(PrintRtfDoc, MulDivRoundsHalfAwayFromZero) {
  struct Case {
    int number, numerator, denominator, result;
  };
  const Case cases[] = {{5, 1, 2, 3},  {-5, 1, 2, -3},      {7, 1, 3, 2},
                        {8, 1, 3, 3},  {5, -1, 2, -3},      {9750, 1440, 1200, 11700},
                        {1, 1, 0, -1}, {1 << 30, 8, 4, -1}, {1 << 30, 4, 8, 1 << 29}};
  for (const Case& c : cases)
    EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.result)
        << c.number << " * " << c.numerator << " / " << c.denominator;
}

TEST(PrintRtfDoc, RectanglesFromPaperResolutionAndOffset) {
  struct Case {
    const char* what;
    double left, right, top, bottom;
    TlaPrinterMetrics metrics;
    TlaTwipsRect rcPage, rc;
  };
  const Case cases[] = {
      // The setup window's margins on A4 at 1200 dpi with 10 pt of unprintable edge:
      // 2 cm is 1133 twips, from which the offset is taken in device pixels.
      {"setup window, A4",
       2,
       1,
       1,
       1,
       {9917, 14033, 1200, 1200, 167, 167},
       {0, 0, 11700, 16639},
       {1133 - 167, 566 - 167, 11700 - 566, 16639 - 566}},
      // The component's own margins (0.5 cm: 283 twips) on letter paper at 600 dpi.
      {"defaults, letter",
       0.5,
       0.5,
       0.5,
       0.5,
       {5100, 6600, 600, 600, 75, 100},
       {0, 0, 12060, 15600},
       {283 - 75, 283 - 100, 12060 - 283, 15600 - 283}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TlaPrintRtfDoc doc;
    doc.L_Margin = c.left;
    doc.R_Margin = c.right;
    doc.T_Margin = c.top;
    doc.B_Margin = c.bottom;
    const TlaFormatRange fr = doc.PageRects(c.metrics);
    const auto asTuple = [](const TlaTwipsRect& r) {
      return std::tuple(r.left, r.top, r.right, r.bottom);
    };
    EXPECT_EQ(asTuple(fr.rcPage), asTuple(c.rcPage));
    EXPECT_EQ(asTuple(fr.rc), asTuple(c.rc));
    EXPECT_EQ(fr.cpMin, 0);
    EXPECT_EQ(fr.cpMax, -1);
  }
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

class PrintJob : public ::testing::Test {
 protected:
  void SetUp() override {
    edit_.setFont(QFont("DejaVu Sans", 10));
    doc_.Doc = &edit_;
  }
  // Prints through the dialog into a PDF file of the folder.
  bool Print(const std::string& name, bool endDoc = true) {
    ModalScript script({PrintToPdf(File(name))});
    const bool printed = doc_.Execute(endDoc);
    EXPECT_EQ(script.Remaining(), 0);
    return printed;
  }
  std::string File(const std::string& name) const { return dir_.File(name); }

  kdtest::TempDir dir_;
  QTextEdit edit_;
  TlaPrintRtfDoc doc_;
};

TEST_F(PrintJob, WithoutDocOrConfirmationNothingIsPrinted) {
  edit_.setPlainText("Not printed");
  doc_.Doc = nullptr;
  {
    ModalScript script({Cancel()});
    EXPECT_FALSE(doc_.Execute(true));
    EXPECT_EQ(script.Remaining(), 1);  // no dialog either
  }
  doc_.Doc = &edit_;
  {
    ModalScript script({Cancel()});
    EXPECT_FALSE(doc_.Execute(true));
    EXPECT_EQ(script.Remaining(), 0);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
  EXPECT_FALSE(doc_.EndDoc());  // no job was started
}

TEST_F(PrintJob, EmptyTextStillBeginsAndEndsTheJob) {
  ASSERT_TRUE(Print("empty.pdf"));
  EXPECT_EQ(PdfPages(File("empty.pdf")), 1);
  EXPECT_TRUE(Words(PdfText(File("empty.pdf"))).empty());
  EXPECT_NE(PdfInfo(File("empty.pdf")).find("TlaPrintRtfDoc Execute"), std::string::npos);
}

// Every page continues at the first character not yet printed: the pages
// read one after the other give the whole text once, and every page but the
// last is full.
TEST_F(PrintJob, LongTextContinuesOnEachPageWhereThePreviousStopped) {
  struct Case {
    const char* what;
    const char* separator;  // between the numbered words
    int count;
  };
  const Case cases[] = {{"one paragraph per line", "\n", 300},
                        {"one long wrapped paragraph", " ", 4000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text;
    std::vector<std::string> expected;
    for (int i = 1; i <= c.count; ++i) {
      expected.push_back("w" + std::to_string(i));
      text += (i > 1 ? c.separator : "") + expected.back();
    }
    edit_.setPlainText(QString::fromStdString(text));
    const std::string pdf = File(std::string(c.what) + ".pdf");
    ASSERT_TRUE(Print(std::string(c.what) + ".pdf"));
    const int pages = PdfPages(pdf);
    ASSERT_GE(pages, 3);
    std::vector<std::string> printed;
    std::vector<int> lines;
    for (int page = 1; page <= pages; ++page) {
      const std::string pageText = PdfText(pdf, page);
      const std::vector<std::string> words = Words(pageText);
      EXPECT_FALSE(words.empty()) << "page " << page;
      printed.insert(printed.end(), words.begin(), words.end());
      lines.push_back(static_cast<int>(std::count(pageText.begin(), pageText.end(), '\n')));
    }
    EXPECT_EQ(printed, expected);
    for (int page = 2; page < pages; ++page)
      EXPECT_EQ(lines[page - 1], lines[0]) << "page " << page;
    EXPECT_LE(lines.back(), lines[0]);
  }
}

// The first word's box on the page, in points (pdftotext -bbox).
QRectF FirstWordBox(const std::string& pdf) {
  kdtest::ChildProcess tool({"pdftotext", "-bbox", pdf, "-"});
  const std::string html = tool.ReadAll(30s);
  EXPECT_EQ(tool.Wait(30s), 0);
  std::smatch m;
  const std::regex word(
      R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)")re");
  if (!std::regex_search(html, m, word)) return {};
  return QRectF(QPointF(std::stod(m[1]), std::stod(m[2])),
                QPointF(std::stod(m[3]), std::stod(m[4])));
}

TEST_F(PrintJob, MarginsPlaceTheTextOnThePaper) {
  doc_.L_Margin = 2;
  doc_.R_Margin = 1;
  doc_.T_Margin = 1;
  doc_.B_Margin = 1;
  edit_.setPlainText("Margin");
  ASSERT_TRUE(Print("margin.pdf"));
  QPrinter* printer = doc_.Printer();
  const int dpi = printer->logicalDpiX();
  const QRectF paper = printer->paperRect(QPrinter::DevicePixel);
  const QRectF page = printer->pageRect(QPrinter::DevicePixel);
  const int offsetX = qRound(page.left() - paper.left());
  const int offsetY = qRound(page.top() - paper.top());
  ASSERT_GT(offsetX, 0);  // the offset takes part
  // Device pixels from the paper's edge to the render rectangle, in points.
  const auto points = [dpi](int pixels) { return pixels * 72.0 / dpi; };
  const QRectF box = FirstWordBox(File("margin.pdf"));
  EXPECT_NEAR(box.left(), points(offsetX + MulDiv(1133 - offsetX, dpi, 1440)), 1.0);
  EXPECT_NEAR(box.top(), points(offsetY + MulDiv(566 - offsetY, dpi, 1440)), 2.0);
}

TEST_F(PrintJob, APageThatTakesNoLineEndsTheJob) {
  struct Case {
    const char* what;
    double topAndBottom;  // cm
    int points;
  };
  // A4 is 29.7 cm high: 15 cm twice leave nothing, 14 cm twice about 1.6 cm.
  const Case cases[] = {{"margins past each other", 15, 10},
                        {"a line taller than the room", 14, 72}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string pdf = std::string(c.what) + ".pdf";
    edit_.setFont(QFont("DejaVu Sans", c.points));
    edit_.setPlainText("Never fits");
    doc_.T_Margin = doc_.B_Margin = c.topAndBottom;
    EXPECT_FALSE(Print(pdf));
    EXPECT_FALSE(doc_.EndDoc());  // ended already
    EXPECT_TRUE(Words(PdfText(File(pdf))).empty());
  }
}

TEST_F(PrintJob, JobLeftOpenUntilEndDoc) {
  edit_.setPlainText("Open job");
  doc_.Title = "Kept open";
  ASSERT_TRUE(Print("open.pdf", false));
  EXPECT_TRUE(doc_.EndDoc());
  EXPECT_FALSE(doc_.EndDoc());
  EXPECT_EQ(Words(PdfText(File("open.pdf"))), (std::vector<std::string>{"Open", "job"}));
  EXPECT_NE(PdfInfo(File("open.pdf")).find("Kept open"), std::string::npos);
}

// A job left open is ended before the next print dialog shows: its file is
// whole while the operator chooses, and the next job has a file of its own,
// also when that dialog is cancelled.
TEST_F(PrintJob, ANewPrintEndsTheOpenJobBeforeItsDialog) {
  for (bool confirm : {true, false}) {
    SCOPED_TRACE(confirm ? "second print confirmed" : "second print cancelled");
    const std::string first = File(confirm ? "first.pdf" : "kept.pdf");
    const std::string second = File("second.pdf");
    edit_.setPlainText("First job");
    ASSERT_TRUE(Print(confirm ? "first.pdf" : "kept.pdf", false));
    std::vector<std::string> whileChoosing;
    const ModalScript::Handler next = confirm ? PrintToPdf(second) : Cancel();
    edit_.setPlainText("Second job");
    {
      ModalScript script({[&](QWidget* dialog) {
        whileChoosing = Words(PdfText(first));
        next(dialog);
      }});
      EXPECT_EQ(doc_.Execute(true), confirm);
      EXPECT_EQ(script.Remaining(), 0);
    }
    EXPECT_EQ(whileChoosing, (std::vector<std::string>{"First", "job"}));
    EXPECT_FALSE(doc_.EndDoc());
    EXPECT_EQ(Words(PdfText(first)), (std::vector<std::string>{"First", "job"}));
    if (confirm) {
      EXPECT_EQ(Words(PdfText(second)), (std::vector<std::string>{"Second", "job"}));
    }
  }
}

}  // namespace
