#include "Tlaprintrtfdoc.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "Apptext.h"
#include "Exception.h"

namespace {

constexpr double kInchesPerCm = 0.3937007874;
constexpr int kTwipsPerInch = 1440;  // the unit of the format-range rectangles

// Truncation toward zero, held inside the int range.
int TruncToInt(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<int>(std::clamp(std::trunc(value), double{INT_MIN}, double{INT_MAX}));
}

}  // namespace

// The text laid out for the printer at the render rectangle's width: the
// copy of the document and, for every line, its first character and its
// vertical extent in device pixels, in document order.
struct TlaRtfLayout {
  struct Line {
    int start;
    qreal top;
    qreal bottom;
    const QTextLayout* block;  // the line's paragraph
    int index;                 // the line's number in it
    QPointF origin;            // the paragraph's place on the text
  };
  std::unique_ptr<QTextDocument> doc;
  std::vector<Line> lines;
  int length = 0;  // characters, one per paragraph break as positions count
  QRect area;      // the render rectangle in device pixels
};

namespace {

TlaRtfLayout LayOut(const QTextDocument& source, QPrinter& printer, const TlaTwipsRect& rc) {
  TlaRtfLayout text;
  text.length = std::max(0, source.characterCount() - 1);
  const int dpiX = printer.logicalDpiX();
  const int dpiY = printer.logicalDpiY();
  const int left = MulDiv(rc.left, dpiX, kTwipsPerInch);
  const int top = MulDiv(rc.top, dpiY, kTwipsPerInch);
  text.area = QRect(left, top, MulDiv(rc.right, dpiX, kTwipsPerInch) - left,
                    MulDiv(rc.bottom, dpiY, kTwipsPerInch) - top);
  if (text.area.isEmpty()) return text;  // no line fits anywhere

  text.doc.reset(source.clone());
  QAbstractTextDocumentLayout* layout = text.doc->documentLayout();
  layout->setPaintDevice(&printer);
  text.doc->setDocumentMargin(0);
  text.doc->setTextWidth(text.area.width());
  layout->documentSize();  // lays the whole text out

  for (QTextBlock block = text.doc->begin(); block.isValid(); block = block.next()) {
    const QTextLayout* lines = block.layout();
    if (!lines || !block.isVisible()) continue;
    const QPointF origin =
        layout->blockBoundingRect(block).topLeft() - lines->boundingRect().topLeft();
    for (int i = 0; i < lines->lineCount(); ++i) {
      const QTextLine line = lines->lineAt(i);
      const qreal y = origin.y() + line.y();
      text.lines.push_back(
          {block.position() + line.textStart(), y, y + line.height(), lines, i, origin});
    }
  }
  return text;
}

}  // namespace

int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const long long product = static_cast<long long>(number) * numerator;
  long long quotient = product / denominator;
  const long long remainder = product % denominator;
  if (2 * std::llabs(remainder) >= std::llabs(static_cast<long long>(denominator)))
    quotient += (product < 0) != (denominator < 0) ? -1 : 1;
  if (quotient > INT_MAX || quotient < INT_MIN) return -1;
  return static_cast<int>(quotient);
}

TlaPrintRtfDoc::TlaPrintRtfDoc(QObject* owner) : QObject(owner) {}

TlaPrintRtfDoc::~TlaPrintRtfDoc() {
  EndJob();
}

QPrinter* TlaPrintRtfDoc::Printer() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return printer_.get();
}

bool TlaPrintRtfDoc::Execute(bool endDoc) {
  if (!Doc) return false;
  return PrintDoc(Title, Doc, endDoc);
}

TlaFormatRange TlaPrintRtfDoc::PageRects(const TlaPrinterMetrics& m) const {
  TlaFormatRange fr;
  const int twips = TruncToInt(PixToTwips);
  fr.rcPage.right = MulDiv(m.PhysicalWidth - m.PhysicalOffsetX, twips, m.LogPixelsX);
  fr.rcPage.bottom = MulDiv(m.PhysicalHeight - m.PhysicalOffsetY, twips, m.LogPixelsY);
  const auto margin = [this](double cm) { return TruncToInt(cm * PixToTwips * kInchesPerCm); };
  // The offsets are device pixels, subtracted as the printer gives them.
  fr.rc.left = margin(L_Margin) + fr.rcPage.left - m.PhysicalOffsetX;
  fr.rc.top = margin(T_Margin) + fr.rcPage.top - m.PhysicalOffsetY;
  fr.rc.right = fr.rcPage.right - margin(R_Margin);
  fr.rc.bottom = fr.rcPage.bottom - margin(B_Margin);
  return fr;
}

bool TlaPrintRtfDoc::PrintDoc(const std::string& title, QTextEdit* doc, bool endDoc) {
  if (!doc) return false;
  // A job left open by an earlier print ends first: the dialog changes the
  // printer's settings, and the new job must not write into that job's file.
  EndJob();
  QPrinter* printer = Printer();
  {
    QPrintDialog dialog(printer, doc->window());
    // The whole text is printed: no page ranges to offer.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted) return false;
  }

  const QRectF paper = printer->paperRect(QPrinter::DevicePixel);
  const QRectF page = printer->pageRect(QPrinter::DevicePixel);
  TlaPrinterMetrics metrics;
  metrics.PhysicalWidth = qRound(paper.width());
  metrics.PhysicalHeight = qRound(paper.height());
  metrics.LogPixelsX = printer->logicalDpiX();
  metrics.LogPixelsY = printer->logicalDpiY();
  metrics.PhysicalOffsetX = qRound(page.left() - paper.left());
  metrics.PhysicalOffsetY = qRound(page.top() - paper.top());

  printer->setDocName(ToQString(title));
  auto painter = std::make_unique<QPainter>();
  if (!painter->begin(printer)) {
    const QString file = printer->outputFileName();
    throw kd::Exception("PrintDoc: the print job cannot be started" +
                        (file.isEmpty() ? std::string() : " ('" + FromQString(file) + "')"));
  }
  painter_ = std::move(painter);

  fr_ = PageRects(metrics);
  const TlaRtfLayout text = LayOut(*doc->document(), *printer, fr_.rc);
  int p = 0;
  while (p < text.length) {
    const int next = FormatRange(text);
    if (next <= p) {
      // Not one line fits on a page: the rest can never be printed.
      EndJob();
      return false;
    }
    p = next;
    if (p < text.length) {
      if (!printer->newPage()) {
        EndJob();
        throw kd::Exception("PrintDoc: the printer refused a new page");
      }
      fr_.cpMin = p;
      fr_.cpMax = -1;
    }
  }
  // The laid-out copy goes with text; the job stays open without endDoc.
  if (endDoc) EndJob();
  return true;
}

int TlaPrintRtfDoc::FormatRange(const TlaRtfLayout& text) {
  using Line = TlaRtfLayout::Line;
  const int cpMin = fr_.cpMin;
  // The line that holds the first character to print.
  auto first = std::upper_bound(text.lines.begin(), text.lines.end(), cpMin,
                                [](int pos, const Line& line) { return pos < line.start; });
  if (first == text.lines.begin()) return cpMin;
  --first;
  const qreal top = first->top;
  auto next = first;
  while (next != text.lines.end() && next->bottom - top <= text.area.height()) ++next;
  if (next == first) return cpMin;
  const qreal bottom = std::prev(next)->bottom;

  const qreal width = text.area.width();
  painter_->save();
  painter_->setClipRect(QRectF(text.area.left(), text.area.top(), width, bottom - top));
  painter_->translate(text.area.left(), text.area.top() - top);
  painter_->setPen(Qt::black);
  // A paragraph cut at the page's top is drawn line by line: the layout
  // would also draw (clipped, but into the page's text) the line above.
  auto flow = first;
  if (first->index > 0) {
    for (; flow != next && flow->block == first->block; ++flow)
      flow->block->lineAt(flow->index).draw(painter_.get(), flow->origin);
  }
  if (flow != next) {
    QAbstractTextDocumentLayout::PaintContext context;
    // Lines that only touch the band stay out of the page's text.
    context.clip = QRectF(0, flow->top, width, bottom - flow->top).adjusted(0, 0.5, 0, -0.5);
    context.palette.setColor(QPalette::Text, Qt::black);
    text.doc->documentLayout()->draw(painter_.get(), context);
  }
  painter_->restore();
  return next == text.lines.end() ? text.length : next->start;
}

bool TlaPrintRtfDoc::EndDoc() {
  const bool open = painter_ != nullptr;
  EndJob();
  return open;
}

void TlaPrintRtfDoc::EndJob() {
  if (!painter_) return;
  painter_->end();
  painter_.reset();
}
