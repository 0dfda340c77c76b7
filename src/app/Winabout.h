#pragma once
// TAboutForm: the borderless information box. Its upper text comes from the
// [AboutForm] section of the program INI file (built once, at creation), its
// lower text shows the connected drive's identification and two of its
// parameters (built each time the box is shown). A click on either text
// closes it.
#include <QDialog>

#include "Strings.h"
#include "ui_Winabout.h"

class TAboutForm : public QDialog, public Ui::TAboutFormUi {
  Q_OBJECT

 public:
  // Sets AboutForm and builds the information text (MainForm must exist).
  explicit TAboutForm(QWidget* parent = nullptr);
  ~TAboutForm() override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildInformation();
  void FormShow();
  // The information text's height, the panel's and the box's with it.
  void SetMemoHeight(int height);
  // Appends the items of a comma-text value as further lines, the way the
  // memo's own lines go through comma text (an empty last line is lost).
  static void AppendCommaText(kd::StringList& lines, const std::string& value);

  int memoHeight_ = 0;  // of the whole information text
};

extern TAboutForm* AboutForm;
