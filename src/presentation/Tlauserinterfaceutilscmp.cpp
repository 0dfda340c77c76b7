#include "Tlauserinterfaceutilscmp.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <algorithm>

#include "Tlacomboboxcmp.h"
#include "Tlaparvaluecls.h"
#include "Tlaradiogroupcmp.h"

namespace {

constexpr int kViewRole = Qt::UserRole + 1;  // the row's TlaParValue*
constexpr int kNameWidth = 150;              // width and minimum width of the "Parameter" column
constexpr const char* kNoLimit = "---";
constexpr std::uint32_t kSilver = 0xC0C0C0;
constexpr std::uint32_t kGrey = 0x808080;

QColor Bgr(std::uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// The binder's handlers on one list view: the cells painted through its draw
// handlers, Enter and double-clicks passed to it. A list view has one, made
// at its first binding; each With hands it to the binder that calls it, so
// only the last binder's handlers run.
class TlaListDelegate : public QStyledItemDelegate {
 public:
  explicit TlaListDelegate(QTreeWidget* listView) : QStyledItemDelegate(listView), listView_(listView) {
    listView->installEventFilter(this);
    connect(listView, &QTreeWidget::itemDoubleClicked, this, [this] {
      if (binder_) binder_->lvDblClick(listView_);
    });
  }

  // The list view's handlers; null before its first binding.
  static TlaListDelegate* Of(const QTreeWidget* listView) {
    for (QObject* child : listView->children())
      if (auto* hooks = dynamic_cast<TlaListDelegate*>(child)) return hooks;
    return nullptr;
  }
  void SetBinder(TlaUserInterfaceUtils* binder) { binder_ = binder; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem state = option;
    initStyleOption(&state, index);
    bool defaultDraw = true;
    QTreeWidgetItem* row = index.parent().isValid() ? nullptr : listView_->topLevelItem(index.row());
    if (binder_ && row) {
      if (index.column() == 0)
        binder_->lvCustomDrawItem(listView_, row, state, defaultDraw);
      else
        binder_->lvCustomDrawSubItem(listView_, row, index.column(), state, defaultDraw);
    }
    if (!defaultDraw) {
      state.text.clear();
      state.icon = QIcon();
    }
    const QWidget* widget = state.widget;
    (widget ? widget->style() : QApplication::style())->drawControl(QStyle::CE_ItemViewItem, &state, painter, widget);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The delegate's own filter is for item editors; the list view is none.
    if (watched != listView_) return QStyledItemDelegate::eventFilter(watched, event);
    if (binder_ && event->type() == QEvent::KeyPress) {
      const int code = static_cast<QKeyEvent*>(event)->key();
      if (code == Qt::Key_Return || code == Qt::Key_Enter) {
        char key = 13;
        binder_->lvKeyPress(listView_, key);
        if (key == 0) return true;
      }
    }
    return false;
  }

 private:
  QPointer<TlaUserInterfaceUtils> binder_;
  QTreeWidget* listView_;  // the delegate's parent
};

// Places the option groups of a container that has no layout of its own:
// top and bottom groups span the width and keep their height, left and
// right groups span the height left and keep their width, client groups
// take the rest, in order of adding; groups without alignment and hidden
// groups are left alone. It never sets the container's size.
class TlaDockLayout : public QLayout {
 public:
  explicit TlaDockLayout(QWidget* container) : QLayout(container) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
    setSizeConstraint(QLayout::SetNoConstraint);
  }
  ~TlaDockLayout() override {
    for (const Docked& d : items_) delete d.item;
  }

  void Add(QWidget* widget, TlaAlign side) {
    addChildWidget(widget);
    items_.push_back({new QWidgetItem(widget), side});
    invalidate();
  }
  // Another alignment for a widget of this layout.
  void SetAlign(QWidget* widget, TlaAlign side) {
    for (Docked& d : items_)
      if (d.item->widget() == widget) d.align = side;
    invalidate();
  }

  void addItem(QLayoutItem* item) override { items_.push_back({item, alNone}); }
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int index) const override {
    return index >= 0 && index < count() ? items_[static_cast<size_t>(index)].item : nullptr;
  }
  QLayoutItem* takeAt(int index) override {
    if (index < 0 || index >= count()) return nullptr;
    QLayoutItem* item = items_[static_cast<size_t>(index)].item;
    items_.erase(items_.begin() + index);
    return item;
  }
  QSize sizeHint() const override {
    QSize hint(0, 0);
    for (const Docked& d : items_) {
      if (d.item->isEmpty() || d.align == alNone) continue;
      const QSize s = d.item->sizeHint();
      if (d.align == alLeft || d.align == alRight)
        hint = QSize(hint.width() + s.width(), std::max(hint.height(), s.height()));
      else
        hint = QSize(std::max(hint.width(), s.width()), hint.height() + s.height());
    }
    return hint;
  }
  void setGeometry(const QRect& rect) override {
    QLayout::setGeometry(rect);
    QRect left = contentsRect();
    for (bool client : {false, true}) {
      for (const Docked& d : items_) {
        if (d.item->isEmpty() || d.align == alNone || (d.align == alClient) != client) continue;
        const QSize s = d.item->sizeHint();
        switch (d.align) {
          case alTop:
            d.item->setGeometry(QRect(left.left(), left.top(), left.width(), s.height()));
            left.setTop(left.top() + s.height());
            break;
          case alBottom:
            d.item->setGeometry(QRect(left.left(), left.bottom() + 1 - s.height(), left.width(), s.height()));
            left.setBottom(left.bottom() - s.height());
            break;
          case alLeft:
            d.item->setGeometry(QRect(left.left(), left.top(), s.width(), left.height()));
            left.setLeft(left.left() + s.width());
            break;
          case alRight:
            d.item->setGeometry(QRect(left.right() + 1 - s.width(), left.top(), s.width(), left.height()));
            left.setRight(left.right() - s.width());
            break;
          default:
            d.item->setGeometry(left);
            break;
        }
      }
    }
  }

 private:
  struct Docked {
    QLayoutItem* item;  // owned
    TlaAlign align;
  };
  std::vector<Docked> items_;
};

// A new QTreeWidget has one column headed by its number, which is no column of its own.
bool HasOwnColumns(QTreeWidget* listView) {
  const int columns = listView->columnCount();
  return columns > 1 || (columns == 1 && listView->headerItem()->text(0) != QStringLiteral("1"));
}

// The fixed sides of a group by its alignment: the height when it docks to
// the top or bottom, the width at the left or right, both when undocked.
void SizeGroup(QWidget* group, TlaAlign align, int width, int height) {
  if (align == alTop || align == alBottom || align == alNone) group->setFixedHeight(height);
  if (align == alLeft || align == alRight || align == alNone) group->setFixedWidth(width);
}

}  // namespace

TlaUserInterfaceUtils::TlaUserInterfaceUtils(QObject* owner) : QObject(owner) { Editor(); }

TlaUserInterfaceUtils::~TlaUserInterfaceUtils() { delete editor_.data(); }

TlaComboBox* TlaUserInterfaceUtils::Editor() {
  if (!editor_) {
    editor_ = new TlaComboBox();  // deleted by the destructor, or with the list view it was moved into
    editor_->OnEdited = EditedHandler();
  }
  return editor_;
}

TlaParEditEvent TlaUserInterfaceUtils::EditedHandler() {
  return [binder = QPointer<TlaUserInterfaceUtils>(this)](TlaParValue* view, bool& flag) {
    if (binder) binder->DoOnEdited(view, flag);
  };
}

TlaParValue* TlaUserInterfaceUtils::RowView(const QTreeWidgetItem* row) {
  return row ? static_cast<TlaParValue*>(row->data(0, kViewRole).value<void*>()) : nullptr;
}

int TlaUserInterfaceUtils::AddControl(QWidget* control, bool* added) {
  const auto it = std::find(controls_.begin(), controls_.end(), control);
  if (added) *added = it == controls_.end();
  if (it != controls_.end()) return static_cast<int>(it - controls_.begin());
  controls_.emplace_back(control);
  return static_cast<int>(controls_.size()) - 1;
}

TlaUserInterfaceUtils& TlaUserInterfaceUtils::With(QTreeWidget* listView) {
  if (!listView) return *this;
  bool added = false;
  AddControl(listView, &added);
  if (added) {
    listView->clear();
    if (!HasOwnColumns(listView)) {
      listView->setColumnCount(5);
      listView->setHeaderLabels({"Parameter", "Value", "Min", "Max", "Default"});
      QHeaderView* header = listView->header();
      header->setStretchLastSection(false);
      header->setSectionResizeMode(0, QHeaderView::Interactive);
      header->resizeSection(0, kNameWidth);
      for (int c = 1; c < 5; ++c) header->setSectionResizeMode(c, QHeaderView::Stretch);
      connect(header, &QHeaderView::sectionResized, header, [header](int section, int, int size) {
        if (section == 0 && size < kNameWidth) header->resizeSection(0, kNameWidth);
      });
      listView->setRootIsDecorated(false);
    }
    listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  }
  TlaListDelegate* hooks = TlaListDelegate::Of(listView);
  if (!hooks) hooks = new TlaListDelegate(listView);  // owned by the list view
  hooks->SetBinder(this);                              // an earlier binder's handlers no longer run
  listView->setItemDelegate(hooks);
  current_ = listView;
  return *this;
}

TlaRadioGroup* TlaUserInterfaceUtils::With(TlaRadioGroup* group) {
  if (!group) return nullptr;
  AddControl(group);
  group->OnEdited = EditedHandler();
  current_ = group;
  return group;
}

int TlaUserInterfaceUtils::With(QWidget* control) {
  if (!control) return -1;
  if (auto* listView = qobject_cast<QTreeWidget*>(control))
    With(listView);
  else if (auto* group = qobject_cast<TlaRadioGroup*>(control))
    With(group);
  else
    current_ = control;
  return AddControl(control);
}

void TlaUserInterfaceUtils::FillGroup(TlaRadioGroup* group, TlaParValue* view) {
  group->setTitle(QString::fromStdString(view->GetName()));
  TlaParValueList items;
  view->FillValueList(&items, false);
  group->clearItems();
  for (const TlaParValueItem& item : items) group->addItem(QString::fromStdString(item.Text), item.Code);
  group->View = view;
}

void TlaUserInterfaceUtils::CreateGroup(QWidget* container, TlaParValue* view) {
  auto* group = new TlaRadioGroup(container);  // owned by the container (Qt parent)
  group->setColumns(GroupColumns);
  group->OnEdited = EditedHandler();
  FillGroup(group, view);
  SizeGroup(group, GroupAlign, GroupWidth, GroupHeight);
  if (!container->layout()) new TlaDockLayout(container);  // owned by the container
  if (auto* dock = dynamic_cast<TlaDockLayout*>(container->layout()))
    dock->Add(group, GroupAlign);
  else
    container->layout()->addWidget(group);  // the container's own layout places it
  group->show();
}

void TlaUserInterfaceUtils::List(TlaParValue* view) {
  if (!view || !current_) return;
  if (auto* listView = qobject_cast<QTreeWidget*>(current_)) {
    auto* row = new QTreeWidgetItem(listView);  // owned by the list view
    row->setText(0, QString::fromStdString(view->GetName()));
    row->setData(0, kViewRole, QVariant::fromValue(static_cast<void*>(view)));
  } else if (auto* group = qobject_cast<TlaRadioGroup*>(current_)) {
    FillGroup(group, view);
  } else {
    CreateGroup(current_, view);
  }
}

void TlaUserInterfaceUtils::ListSep() {
  if (auto* listView = qobject_cast<QTreeWidget*>(current_)) new QTreeWidgetItem(listView);  // owned by the list view
}

TlaUserInterfaceUtils& TlaUserInterfaceUtils::End() {
  current_ = nullptr;
  return *this;
}

void TlaUserInterfaceUtils::SetGroupShape(int& stored, int n, void (TlaRadioGroup::*apply)(int)) {
  if (!current_) return;
  if (auto* group = qobject_cast<TlaRadioGroup*>(current_)) (group->*apply)(n);
  stored = n;
}

void TlaUserInterfaceUtils::RgColCount(int n) { SetGroupShape(GroupColumns, n, &TlaRadioGroup::setColumns); }
void TlaUserInterfaceUtils::RgHeight(int n) { SetGroupShape(GroupHeight, n, &TlaRadioGroup::setFixedHeight); }
void TlaUserInterfaceUtils::RgWidth(int n) { SetGroupShape(GroupWidth, n, &TlaRadioGroup::setFixedWidth); }

void TlaUserInterfaceUtils::RgAlign(TlaAlign align) {
  if (!current_) return;
  if (auto* group = qobject_cast<TlaRadioGroup*>(current_)) {
    // Only a group docked by the binder can move; a window's own layout keeps its place.
    if (auto* dock = group->parentWidget() ? dynamic_cast<TlaDockLayout*>(group->parentWidget()->layout()) : nullptr)
      dock->SetAlign(group, align);
  }
  GroupAlign = align;
}

int TlaUserInterfaceUtils::AdaptHeight() {
  int height = 0;
  if (auto* listView = qobject_cast<QTreeWidget*>(current_))
    height = listView->topLevelItemCount() * 17 + 28;
  else if (auto* group = qobject_cast<TlaRadioGroup*>(current_))
    height = group->count() * 15 / group->columns() + 18;
  else
    return 0;
  current_->setFixedHeight(height);
  GroupHeight = height;
  return height;
}

void TlaUserInterfaceUtils::RefreshData() {
  current_ = nullptr;
  if (OnBeforeRefresh) OnBeforeRefresh(this);
  // A handler may bind further controls: walk by index.
  for (size_t i = 0; i < controls_.size(); ++i) {
    QWidget* control = controls_[i];
    if (!control) continue;
    if (auto* group = qobject_cast<TlaRadioGroup*>(control))
      RefreshRadioGroup(group);
    else if (auto* listView = qobject_cast<QTreeWidget*>(control))
      RefreshListView(listView);
    else
      RefreshControl(control);
  }
  if (OnAfterRefresh) OnAfterRefresh(this);
}

void TlaUserInterfaceUtils::RefreshListView(QTreeWidget* listView) {
  if (!listView) return;
  const bool updates = listView->updatesEnabled();
  listView->setUpdatesEnabled(false);
  for (int i = 0; i < listView->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = listView->topLevelItem(i);
    TlaParValue* view = RowView(row);
    if (!view) continue;
    auto text = [](bool has, const std::string& value) {
      return has ? QString::fromStdString(value) : QString(kNoLimit);
    };
    row->setText(1, QString::fromStdString(view->GetValueText()));
    row->setText(2, text(view->HasMin(), view->GetMinText()));
    row->setText(3, text(view->HasMax(), view->GetMaxText()));
    row->setText(4, text(view->HasDefault(), view->GetDefaultText()));
  }
  listView->setUpdatesEnabled(updates);
}

void TlaUserInterfaceUtils::RefreshControl(QWidget* control) {
  if (!control) return;
  for (TlaRadioGroup* group : control->findChildren<TlaRadioGroup*>(Qt::FindDirectChildrenOnly))
    RefreshRadioGroup(group);
}

void TlaUserInterfaceUtils::RefreshRadioGroup(TlaRadioGroup* group) {
  if (group) group->RefreshData();
}

void TlaUserInterfaceUtils::DoOnEdited(TlaParValue* view, bool& flag) {
  if (OnEdited) OnEdited(view, flag);
  RefreshData();
}

namespace {

QTreeWidgetItem* SelectedRow(const QTreeWidget* listView) {
  const QList<QTreeWidgetItem*> selected = listView->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

}  // namespace

void TlaUserInterfaceUtils::lvKeyPress(QObject* sender, char& key) {
  auto* listView = qobject_cast<QTreeWidget*>(sender);
  // Used up only when it opens the editor; otherwise it goes on (to a dialog's default button).
  if (key == 13 && listView && OpenEditor(listView)) key = 0;
}

void TlaUserInterfaceUtils::lvDblClick(QObject* sender) {
  if (auto* listView = qobject_cast<QTreeWidget*>(sender)) OpenEditor(listView);
}

bool TlaUserInterfaceUtils::OpenEditor(QTreeWidget* listView) {
  QTreeWidgetItem* row = SelectedRow(listView);
  TlaParValue* view = RowView(row);
  if (!view || !view->Enabled || !view->Visible) return false;
  bool canEdit = true;
  if (OnEditQuery) OnEditQuery(view, canEdit);
  if (!canEdit) return false;
  Editor()->EditThis(view, listView, row);
  return true;
}

bool TlaUserInterfaceUtils::ColourRow(QTreeWidget* listView, QTreeWidgetItem* row, QStyleOptionViewItem& state) {
  const int index = listView->indexOfTopLevelItem(row);
  state.backgroundBrush = Bgr(index % 2 == 0 ? EvenColor : OddColor);
  TlaParValue* view = RowView(row);
  if (!view) {
    state.backgroundBrush = listView->palette().color(QPalette::Button);
    return true;
  }
  if (view->Enabled && view->Visible) return true;
  state.backgroundBrush = Bgr(kSilver);
  state.palette.setColor(QPalette::Text, Bgr(kGrey));
  return view->Visible != 0;
}

void TlaUserInterfaceUtils::lvCustomDrawItem(QTreeWidget* sender, QTreeWidgetItem* row, QStyleOptionViewItem& state,
                                             bool& defaultDraw) {
  if (sender && row && sender->isEnabled()) defaultDraw = ColourRow(sender, row, state);
}

void TlaUserInterfaceUtils::lvCustomDrawSubItem(QTreeWidget* sender, QTreeWidgetItem* row, int subItem,
                                                QStyleOptionViewItem& state, bool& defaultDraw) {
  if (!sender || !row || !sender->isEnabled()) return;
  defaultDraw = ColourRow(sender, row, state);
  if (RowView(row)) state.font.setBold(subItem == 1);
}
