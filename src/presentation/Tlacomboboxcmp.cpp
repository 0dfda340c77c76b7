#include "Tlacomboboxcmp.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
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

// The model index of a list view's item (QTreeWidget::indexFromItem is not public).
QModelIndex IndexOf(const QTreeWidget* listView, QTreeWidgetItem* item) {
  if (!item) return {};
  QTreeWidgetItem* parent = item->parent();
  const int row = parent ? parent->indexOfChild(item) : listView->indexOfTopLevelItem(item);
  return row < 0 ? QModelIndex() : listView->model()->index(row, 0, IndexOf(listView, parent));
}

}  // namespace

TlaComboBox::TlaComboBox(QWidget* parent) : QComboBox(parent) {
  hide();
  connect(this, &QComboBox::editTextChanged, this, [this] { DoOnChange(this); });
}

// Qt drops its connections and event filters; the list view may be half destroyed here.
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
  StopWatching();
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
  if (choicesOnly) {
    // The present value's item, so that Enter without a pick keeps the value.
    const double value = std::trunc(view->GetValue());
    setCurrentIndex(value >= 0 && value <= INT_MAX ? findData(static_cast<int>(value)) : -1);
  } else {
    setCurrentIndex(-1);  // typed text until an item is chosen
    setEditText(text);
  }

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
  if (listView) WatchPlace(listView, row);
}

void TlaComboBox::WatchPlace(QTreeWidget* listView, QTreeWidgetItem* row) {
  placedIn_ = listView;
  placedViewport_ = listView->viewport();
  placedRow_ = QPersistentModelIndex(IndexOf(listView, row));
  rowGiven_ = placedRow_.isValid();
  placedTop_ = placedRow_.isValid() ? listView->visualRect(placedRow_).top() : 0;
  const auto leave = [this] { LeavePlace(); };
  watches_.push_back(connect(listView->verticalScrollBar(), &QScrollBar::valueChanged, this, leave));
  watches_.push_back(connect(listView->horizontalScrollBar(), &QScrollBar::valueChanged, this, leave));
  if (rowGiven_) {
    // Checked once the change is done: a list view being destroyed clears its
    // model while it is half gone (and the editor, its child, goes with it).
    const QAbstractItemModel* model = listView->model();
    const auto check = [this] { QMetaObject::invokeMethod(this, &TlaComboBox::CheckPlace, Qt::QueuedConnection); };
    watches_.push_back(connect(model, &QAbstractItemModel::rowsInserted, this, check));
    watches_.push_back(connect(model, &QAbstractItemModel::rowsRemoved, this, check));
    watches_.push_back(connect(model, &QAbstractItemModel::rowsMoved, this, check));
    watches_.push_back(connect(model, &QAbstractItemModel::layoutChanged, this, check));
    watches_.push_back(connect(model, &QAbstractItemModel::modelReset, this, check));
  }
  listView->installEventFilter(this);
  listView->viewport()->installEventFilter(this);
}

void TlaComboBox::StopWatching() {
  for (const QMetaObject::Connection& c : watches_) disconnect(c);
  watches_.clear();
  if (placedIn_) placedIn_->removeEventFilter(this);
  if (placedViewport_) placedViewport_->removeEventFilter(this);
  placedIn_ = nullptr;
  placedViewport_ = nullptr;
  placedRow_ = QPersistentModelIndex();
  rowGiven_ = false;
}

bool TlaComboBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched && (watched == placedIn_ || watched == placedViewport_)) {
    if (event->type() == QEvent::Resize)
      LeavePlace();
    else if (event->type() == QEvent::Paint)  // a row hidden or moved shows here first
      CheckPlace();
  }
  return QComboBox::eventFilter(watched, event);
}

void TlaComboBox::CheckPlace() {
  // Not while the list view is being destroyed (then it is a QTreeWidget no more).
  const auto* listView = qobject_cast<const QTreeWidget*>(placedIn_.data());
  if (!listView || isHidden()) return;
  if (!rowGiven_) return;  // opened without a row: only scrolls and resizes count
  const QRect cell = placedRow_.isValid() ? listView->visualRect(placedRow_) : QRect();
  if (!cell.isValid() || cell.top() != placedTop_) LeavePlace();
}

void TlaComboBox::LeavePlace() {
  if (isHidden()) return;
  const bool focused = hasFocus() || view()->isVisible();
  hidePopup();
  if (focused)
    Close();
  else
    DoOnExit(this);
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
  StopWatching();
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
