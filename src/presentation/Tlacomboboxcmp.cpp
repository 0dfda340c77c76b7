#include "Tlacomboboxcmp.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeWidget>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "Formats.h"
#include "Strings.h"
#include "Tlaparvaluecls.h"

namespace {

// Hexadecimal digits alone, as an unsigned 32-bit value.
std::optional<double> HexNumber(std::string_view digits) {
  std::uint32_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value, 16);
  if (digits.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return static_cast<double>(value);
}

}  // namespace

TlaComboBox::TlaComboBox(QWidget* parent) : QComboBox(parent) {
  hide();
  connect(this, &QComboBox::editTextChanged, this, [this] { DoOnChange(this); });
}

TlaComboBox::~TlaComboBox() = default;

std::optional<double> TlaComboBox::ParseNumber(const std::string& text) {
  const std::string t = kd::Trim(text);
  if (t.size() >= 2 && t[0] == '0' && t[1] == 'x') return HexNumber(std::string_view(t).substr(2));
  if (!t.empty() && t.back() == 'h') return HexNumber(std::string_view(t).substr(0, t.size() - 1));
  double value = 0;
  if (kd::TryStrToFloat(t, value)) return value;
  return std::nullopt;
}

void TlaComboBox::EditThis(TlaParValue* view, QTreeWidget* listView, QTreeWidgetItem* row) {
  if (!view) return;
  if (listView && parentWidget() != listView) setParent(listView);
  View = view;
  const QString text = QString::fromStdString(kd::FloatToStr(view->GetValue()));

  clear();
  const bool choicesOnly = dynamic_cast<TlaParBitField*>(view) || dynamic_cast<TlaParEncoded*>(view) ||
                           dynamic_cast<TlaParBoolField*>(view);
  if (isEditable() == choicesOnly) {
    setEditable(!choicesOnly);
    if (!choicesOnly) {
      setInsertPolicy(QComboBox::NoInsert);
      setCompleter(nullptr);  // no inline completion of typed numbers into choices
    }
  }
  TlaParValueList items;
  view->FillValueList(&items, true);
  for (const TlaParValueItem& item : items) addItem(QString::fromStdString(item.Text), item.Code);
  setCurrentIndex(-1);  // typed text until an item is chosen
  if (isEditable()) setEditText(text);

  if (listView && row) {
    // Over the row's "Value" cell (its only cell in a list of one column): row
    // bounds are in the viewport, the editor in the list view.
    const int column = std::min(1, std::max(0, listView->columnCount() - 1));
    const QPoint origin = listView->viewport()->geometry().topLeft();
    const QRect cell = listView->visualItemRect(row);
    setGeometry(origin.x() + listView->header()->sectionViewportPosition(column), origin.y() + cell.top() - 3,
                listView->columnWidth(column), sizeHint().height());
  }
  SetErrorColours(false);
  show();
  raise();
  setFocus();
}

void TlaComboBox::DoOnKeyPress(QObject*, char& key) {
  if (key == 13) {
    key = 0;
    Commit();
  } else if (key == 27) {
    key = 0;
    Close();
  } else {
    SetErrorColours(false);
  }
}

void TlaComboBox::DoOnExit(QObject*) {
  if (isHidden()) return;
  SetErrorColours(false);
  hide();
}

void TlaComboBox::DoOnChange(QObject*) {}

void TlaComboBox::keyPressEvent(QKeyEvent* event) {
  // DoOnKeyPress sees Enter, Escape and the keys that type a character
  // (Backspace too); moving the cursor keeps an error marking.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool escape = event->key() == Qt::Key_Escape;
  if (enter || escape || !event->text().isEmpty()) {
    char key = enter ? 13 : escape ? 27 : event->text().at(0).toLatin1();
    if (key == 0) key = '?';  // a character outside Latin-1
    DoOnKeyPress(this, key);
    if (key == 0) {  // used up by the editor
      event->accept();
      return;
    }
  }
  QComboBox::keyPressEvent(event);
}

void TlaComboBox::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  // Dropping the list down or switching windows does not leave the editor.
  if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason ||
      view()->isVisible())
    return;
  DoOnExit(this);
}

void TlaComboBox::Commit() {
  bool written = true;
  try {
    if (View) {
      const int index = currentIndex();
      if (index >= 0 && currentText() == itemText(index)) {
        SetParChoice(View, itemData(index).toInt());
      } else if (const std::optional<double> number = ParseNumber(currentText().toStdString())) {
        View->SetValue(*number);
      } else {
        written = false;
      }
      if (written && OnEdited) {
        bool edited = true;
        OnEdited(View, edited);
      }
    }
  } catch (...) {
    written = false;  // the view or the register refused the value
  }
  if (!written) {
    // Left open for a correction.
    if (QLineEdit* edit = lineEdit()) edit->selectAll();
    SetErrorColours(true);
    return;
  }
  Close();
}

void TlaComboBox::SetErrorColours(bool error) {
  if (!error) {
    setPalette(QPalette());  // the inherited colours again
    return;
  }
  const QColor red(0xFF, 0, 0);
  const QColor yellow(0xFF, 0xFF, 0);
  QPalette p = palette();
  for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window, QPalette::Button}) p.setColor(role, red);
  for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) p.setColor(role, yellow);
  setPalette(p);
}

void TlaComboBox::Close() {
  DoOnExit(this);
  if (QWidget* back = parentWidget()) back->setFocus();
}
