#pragma once
// TlaPrintRtfDoc: prints the whole text of a rich-text control page by page
// on a printer chosen in the print dialog (a PDF file where no printer is
// installed), with page margins in centimetres.
//
// Each page is one format-range step: the text from the first character not
// yet printed is laid out in the render rectangle (twips, computed from the
// printer's paper size, resolution and printable-area offset), as many whole
// lines as fit are painted, and the position of the first character left
// over starts the next page. Positions count characters as the document does
// (one per paragraph break). A page on which nothing fits ends the job.
#include <QObject>
#include <QPointer>
#include <memory>
#include <string>

class QPainter;
class QPrinter;
class QTextEdit;
struct TlaRtfLayout;

// What a printer reports, in device pixels and pixels per inch.
struct TlaPrinterMetrics {
  int PhysicalWidth = 0;
  int PhysicalHeight = 0;
  int LogPixelsX = 0;
  int LogPixelsY = 0;
  int PhysicalOffsetX = 0;  // printable area from the paper's edge
  int PhysicalOffsetY = 0;
};

struct TlaTwipsRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// The format-range record: render and page rectangles in twips, characters.
struct TlaFormatRange {
  TlaTwipsRect rc;
  TlaTwipsRect rcPage;
  int cpMin = 0;
  int cpMax = -1;  // to the end
};

// number * numerator / denominator with a 64-bit product, rounded to the
// nearest (halves away from zero); -1 for a zero denominator or an overflow.
int MulDiv(int number, int numerator, int denominator);

class TlaPrintRtfDoc : public QObject {
  Q_OBJECT

 public:
  explicit TlaPrintRtfDoc(QObject* owner = nullptr);
  ~TlaPrintRtfDoc() override;

  double PixToTwips = 1440.0;  // twips per inch
  double L_Margin = 0.5;       // cm
  double R_Margin = 0.5;
  double T_Margin = 0.5;
  double B_Margin = 0.5;
  std::string Title = "TlaPrintRtfDoc Execute";
  QPointer<QTextEdit> Doc;  // not owned

  // False without Doc, else PrintDoc(Title, Doc, endDoc).
  bool Execute(bool endDoc);
  // True when the print dialog was confirmed and the text printed; false
  // when it was cancelled (no job) or a page could not take any text (the
  // job is ended). Without endDoc the job stays open until EndDoc or the
  // next print, which ends it before its dialog shows. Raises
  // kd::Exception when the job cannot be started.
  bool PrintDoc(const std::string& title, QTextEdit* doc, bool endDoc);
  // Ends a print job left open; false when none was open.
  bool EndDoc();

  // The page and render rectangles for a printer, with this component's
  // margins; the range covers the whole text.
  TlaFormatRange PageRects(const TlaPrinterMetrics& metrics) const;

  // The printer of every job (kept, so the dialog offers the last choice).
  QPrinter* Printer();

 private:
  // Paints the whole lines from fr_.cpMin that fit in fr_.rc on the open
  // job's page; returns the first character not printed (fr_.cpMin when no
  // line fits).
  int FormatRange(const TlaRtfLayout& text);
  // Ends the open job.
  void EndJob();

  std::unique_ptr<QPrinter> printer_;
  std::unique_ptr<QPainter> painter_;  // active while a job is open
  TlaFormatRange fr_;
};
