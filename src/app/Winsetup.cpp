#include "Winsetup.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QRadioButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTreeWidget>
#include <exception>
#include <tuple>

#include "Appdialogs.h"
#include "Appforms.h"
#include "Appimages.h"
#include "Apptext.h"
#include "Formats.h"
#include "IniFile.h"
#include "Lacanvas.h"
#include "Modulenetwork.h"
#include "RadioGroupBox.h"
#include "Strings.h"
#include "Tladevicekd730cmp.h"
#include "Tlaparvaluecls.h"
#include "Tlaprintrtfdoc.h"
#include "Winmain.h"
#include "Winsetupfiles.h"

TKD730Setup* KD730Setup = nullptr;

namespace {

// Colour values are 0x00BBGGRR: red in the low byte.
QColor BgrColor(kd::TColor value) { return QColor(kd::ColorToRgb(value)); }

constexpr kd::TColor kTintEven = 0xFFC1C1;  // rows and option groups of even index or bit
constexpr kd::TColor kTintOdd = 0xFFD9D9;   // option groups of odd bits
constexpr kd::TColor kSilver = 0xC0C0C0;
constexpr kd::TColor kGrey = 0x808080;
constexpr int kRowHeight = 18;
constexpr const char* kNoBound = "---";
constexpr const char* kNoValue = "---";  // a value the image does not hold for this drive

// CfgFlags' EnableMask by control mode and speed feedback.
constexpr std::uint32_t kMaskCurrentMode = 0xFFFFFEEFu;  // all options but bits 4 and 8
constexpr std::uint32_t kMaskNoTacho = 0xFFFFFEFFu;      // all options but bit 8
constexpr std::uint32_t kMaskAll = 0xFFFFFFFFu;

// The option groups' look: both choices whole and apart inside the 50
// pixels of a group, under its caption.
class TOptionGroupStyle : public QProxyStyle {
 public:
  static constexpr int kIndicator = 12;
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_ExclusiveIndicatorWidth || metric == PM_ExclusiveIndicatorHeight)
      return kIndicator;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

// A list row: its texts and the register or view it shows (neither owned).
class TSetupRow : public QTreeWidgetItem {
 public:
  static constexpr int Type = QTreeWidgetItem::UserType + 1;
  TSetupRow(TlaRegister* reg, TlaParValue* parValue)
      : QTreeWidgetItem(Type), Register(reg), View(parValue) {}
  TlaRegister* const Register;
  TlaParValue* const View;
};

const TSetupRow* AsRow(const QTreeWidgetItem* item) {
  return item && item->type() == TSetupRow::Type ? static_cast<const TSetupRow*>(item) : nullptr;
}

std::string Descr(const TlaRegister* reg) {
  return reg ? reg->Definition->GetDescr() : std::string();
}

std::string Format(const TlaRegister* reg, double value) {
  return kd::FormatFloat(reg ? reg->Definition->FormatString : std::string(), value);
}

// The texts of a row, as many as its list has columns.
void SetTexts(QTreeWidgetItem* item, const std::string& caption, const std::string& value,
              const std::string& min, const std::string& max) {
  const std::string texts[] = {caption, value, min, max};
  const int columns = std::min(item->treeWidget()->columnCount(), 4);
  for (int i = 0; i < columns; ++i) {
    const QString text = ToQString(texts[i]);
    if (item->text(i) != text) item->setText(i, text);
  }
  // A description wider than its column can be read as the row's tooltip.
  if (item->toolTip(0) != item->text(0)) item->setToolTip(0, item->text(0));
}

void RegisterTexts(QTreeWidgetItem* item, TlaRegister* reg, bool known) {
  SetTexts(item, Descr(reg), known ? reg->GetValueText(0) : kNoValue,
           reg->MinBound ? Format(reg, reg->MinBound->GetValue()) : kNoBound,
           reg->MaxBound ? Format(reg, reg->MaxBound->GetValue()) : kNoBound);
}

void ViewTexts(QTreeWidgetItem* item, TlaParValue* view) {
  const TlaRegister* reg = view->Register;
  SetTexts(item, Descr(reg), Format(reg, view->GetValue()),
           view->HasMin() ? Format(reg, view->GetMin()) : kNoBound,
           view->HasMax() ? Format(reg, view->GetMax()) : kNoBound);
}

// Paints the rows of one list as the window's custom-draw handlers say,
// with grid lines, kRowHeight pixels high.
class TSetupRowDelegate : public QStyledItemDelegate {
 public:
  TSetupRowDelegate(TKD730Setup* window, QTreeWidget* list)
      : QStyledItemDelegate(list), window_(window), list_(list) {}

  // The Value column is measured bold, as it is drawn.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem measured(option);
    measured.font.setBold(index.column() == 1);
    return {QStyledItemDelegate::sizeHint(measured, index).width(), kRowHeight};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    custom_ = list_->isEnabled();
    if (custom_) {
      draw_ =
          TSetupRowDraw{option.palette.color(QPalette::Base), option.palette.color(QPalette::Text)};
      window_->lvCustomDrawSubItem(list_, list_->topLevelItem(index.row()), index.column(), draw_);
    }
    if (custom_ && !draw_.DefaultDraw) {
      painter->fillRect(option.rect, option.palette.color(QPalette::Base));
    } else {
      QStyledItemDelegate::paint(painter, option, index);
    }
    custom_ = false;
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight));
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->restore();
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!custom_) return;
    option->backgroundBrush = draw_.Background;
    option->palette.setColor(QPalette::Text, draw_.Font);
    option->font.setBold(draw_.Bold);
  }

 private:
  TKD730Setup* window_;
  QTreeWidget* list_;
  // The drawing of the cell being painted, for initStyleOption.
  mutable bool custom_ = false;
  mutable TSetupRowDraw draw_;
};

}  // namespace

TKD730Setup::TKD730Setup(QWidget* parent) : QWidget(parent) {
  KD730Setup = this;
  setObjectName("KD730Setup");
  setupUi(this);
  setWindowTitle("KD730 Drive Setup");
  setFixedSize(665, 563);

  acClose->setIcon(AppIcon(TAppImage::Exit));
  acReload->setIcon(AppIcon(TAppImage::Reload));
  acSend->setIcon(AppIcon(TAppImage::SendToDrive));
  acSave->setIcon(AppIcon(TAppImage::SaveToDrive));
  acImport->setIcon(AppIcon(TAppImage::FromFile));
  acExport->setIcon(AppIcon(TAppImage::ToFile));
  acPrint->setIcon(AppIcon(TAppImage::Print));
  for (QAction* a : {acRefOffsetUp, acCurrentOffsetUp}) a->setIcon(AppIcon(TAppImage::Up));
  for (QAction* a : {acRefOffsetDwn, acCurrentOffsetDwn}) a->setIcon(AppIcon(TAppImage::Down));
  const std::pair<QToolButton*, QAction*> buttons[] = {{tbClose, acClose},
                                                       {tbReload, acReload},
                                                       {tbSend, acSend},
                                                       {tbSave, acSave},
                                                       {tbImport, acImport},
                                                       {tbExport, acExport},
                                                       {tbPrint, acPrint},
                                                       {sbRefOffsetUp, acRefOffsetUp},
                                                       {sbRefOffsetDwn, acRefOffsetDwn},
                                                       {sbRefOffsetDflt, acRefOffsetDflt},
                                                       {sbCurrentOffsetUp, acCurrentOffsetUp},
                                                       {sbCurrentOffsetDwn, acCurrentOffsetDwn},
                                                       {sbCurrentOffsetDflt, acCurrentOffsetDflt}};
  for (const auto& [button, action] : buttons) button->setDefaultAction(action);
  // Captions such as "Send To Drive" fit the 76-pixel buttons and the five
  // page captions the page control in a narrow face.
  QFont narrow = font();
  narrow.setStretch(QFont::Condensed);
  tbarMain->setFont(narrow);
  pcSetup->tabBar()->setFont(narrow);

  Dialog = new QFileDialog(this);
  Dialog->setObjectName("Dialog");
  Dialog->setOption(QFileDialog::DontUseNativeDialog);
  Dialog->setAcceptMode(QFileDialog::AcceptSave);
  laPrintDoc = new TlaPrintRtfDoc(this);
  laPrintDoc->setObjectName("laPrintDoc");
  laPrintDoc->L_Margin = 2;
  laPrintDoc->R_Margin = 1;
  laPrintDoc->T_Margin = 1;
  laPrintDoc->B_Margin = 1;
  laPrintDoc->PixToTwips = 1440;

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");
  mnEditValue = PopupMenu->addAction("Edit Value...");
  mnEditValue->setObjectName("mnEditValue");
  connect(mnEditValue, &QAction::triggered, this, [this] {
    if (popupList_) Guarded([this] { lvDblClick(popupList_); });
  });
  for (QTreeWidget* list : Lists()) SetUpList(list, list != lvModBusSlave);

  rgFilter->setColumns(2);
  rgFilter->setItems({"Cut freq. 1000Hz", "Cut freq. 500Hz", "Cut freq. 200Hz", "Filter OFF."});
  connect(rgFilter, &RadioGroupBox::clicked, this,
          [this] { Guarded([this] { rgFilterClick(); }); });
  tsFieldBus->installEventFilter(this);

  // Execute handlers.
  connect(acClose, &QAction::triggered, this, &QWidget::close);
  connect(acReload, &QAction::triggered, this, [this] { Guarded([this] { acReloadExecute(); }); });
  connect(acExport, &QAction::triggered, this, [this] { Guarded([this] { acExportExecute(); }); });
  connect(acImport, &QAction::triggered, this, [this] { Guarded([this] { acImportExecute(); }); });
  connect(acPrint, &QAction::triggered, this, [this] { Guarded([this] { acPrintExecute(); }); });
  connect(acSend, &QAction::triggered, this, [this] { Guarded([this] { acSendExecute(); }); });
  connect(acSave, &QAction::triggered, this, [this] { Guarded([this] { acSaveExecute(); }); });
  const std::tuple<QAction*, DriveRegister, int> steps[] = {
      {acRefOffsetUp, &TlaDeviceKD730::OffsetAn2Ext, 1},
      {acRefOffsetDwn, &TlaDeviceKD730::OffsetAn2Ext, -1},
      {acCurrentOffsetUp, &TlaDeviceKD730::OffsetAn3Ext, 1},
      {acCurrentOffsetDwn, &TlaDeviceKD730::OffsetAn3Ext, -1}};
  for (const auto& [action, offset, step] : steps)
    connect(action, &QAction::triggered, this, [this, reg = offset, s = step] {
      Guarded([&] { StepOffset(Register(reg), s); });
    });
  const std::pair<QAction*, DriveRegister> defaults[] = {
      {acRefOffsetDflt, &TlaDeviceKD730::OffsetAn2Ext},
      {acCurrentOffsetDflt, &TlaDeviceKD730::OffsetAn3Ext}};
  for (const auto& [action, offset] : defaults)
    connect(action, &QAction::triggered, this,
            [this, reg = offset] { Guarded([&] { DefaultOffset(Register(reg)); }); });
  connect(sbtnSaveModBusSlave, &QPushButton::clicked, this,
          [this] { Guarded([this] { sbtnSaveModBusSlaveClick(); }); });

  // The update handlers run when the application goes idle.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          &TKD730Setup::UpdateActions);

  ReadFormPosition(this, kd::IniFile(MainForm->IniFileName()), "KD730Setup");
  FormCreate();
}

TKD730Setup::~TKD730Setup() {
  if (KD730Setup == this) KD730Setup = nullptr;
}

void TKD730Setup::FormCreate() {
  pcSetup->setCurrentIndex(0);
}

void TKD730Setup::SetUpList(QTreeWidget* list, bool withBounds) {
  QFont arial("Arial");
  arial.setPixelSize(13);
  list->setFont(arial);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setItemDelegate(new TSetupRowDelegate(this, list));  // owned by the list (Qt parent)
  list->setHeaderLabels(withBounds ? QStringList{"Parameter", "Value", "MinValue", "MaxValue"}
                                   : QStringList{"Parameter", "Value"});
  QHeaderView* header = list->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setSectionResizeMode(QHeaderView::ResizeToContents);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setMinimumSectionSize(40);
  // Header, frame and the group's caption take the 42 pixels a group gives
  // beyond its rows.
  header->setFixedHeight(kRowHeight - 1);
  list->setMinimumWidth(150 + (withBounds ? 3 : 1) * 60);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
    popupList_ = list;
    PopupMenu->popup(list->viewport()->mapToGlobal(at));
  });
  list->installEventFilter(this);
  list->viewport()->installEventFilter(this);
}

TlaDeviceKD730* TKD730Setup::Device() const {
  return Network ? Network->laDevice : nullptr;
}

TlaRegister* TKD730Setup::Register(DriveRegister reg) const {
  TlaDeviceKD730* d = Device();
  return d ? d->*reg : nullptr;
}

bool TKD730Setup::HoldsDriveValue(const TlaRegister* reg) const {
  TlaDeviceKD730* d = Device();
  return !d || reg != d->EE_ModBusSlave || d->GetModBusSlaveKnown();
}

bool TKD730Setup::CfgBit(int bit) const {
  TlaDeviceKD730* d = Device();
  return d && d->CfgFlags && d->CfgFlags->GetValueBit(0, static_cast<std::uint8_t>(bit));
}

// ---------------------------------------------------------------------------
// Lists

TlaRegister* TKD730Setup::RowRegister(const QTreeWidgetItem* item) {
  const TSetupRow* row = AsRow(item);
  return row ? row->Register : nullptr;
}

TlaParValue* TKD730Setup::RowView(const QTreeWidgetItem* item) {
  const TSetupRow* row = AsRow(item);
  return row ? row->View : nullptr;
}

void TKD730Setup::AddRegisterItem(QTreeWidget* list, TlaRegister* reg) {
  if (!list) return;
  auto* item = new TSetupRow(reg, nullptr);  // owned by the list
  list->addTopLevelItem(item);
  if (reg) RegisterTexts(item, reg, HoldsDriveValue(reg));
}

void TKD730Setup::AddParValueItem(QTreeWidget* list, TlaParValue* view) {
  if (!list) return;
  auto* item = new TSetupRow(nullptr, view);  // owned by the list
  list->addTopLevelItem(item);
  if (view) ViewTexts(item, view);
}

void TKD730Setup::RefreshListView(QTreeWidget* list) {
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    if (TlaRegister* reg = RowRegister(item))
      RegisterTexts(item, reg, HoldsDriveValue(reg));
    else if (TlaParValue* view = RowView(item))
      ViewTexts(item, view);
  }
}

std::array<QTreeWidget*, 9> TKD730Setup::Lists() const {
  return {lvMainSetup, lvRxIComp,         lvSpeed,        lvRamp,       lvPIDSpeed,
          lvPIDCurrent, lvReferenceOffset, lvCurLimOffset, lvModBusSlave};
}

void TKD730Setup::FitGroup(QTreeWidget* list, QWidget* group) {
  group->setFixedHeight(list->topLevelItemCount() * kRowHeight + 42);
}

void TKD730Setup::FillGroup(QTreeWidget* list, QWidget* group,
                            std::initializer_list<TlaRegister*> regs) {
  for (TlaRegister* reg : regs) AddRegisterItem(list, reg);
  FitGroup(list, group);
}

void TKD730Setup::FillGroup(QTreeWidget* list, QWidget* group,
                            std::initializer_list<TlaParValue*> views) {
  for (TlaParValue* view : views) AddParValueItem(list, view);
  FitGroup(list, group);
}

void TKD730Setup::BuildSetupLists() {
  TlaDeviceKD730* d = Device();
  if (!d) return;
  // A later identification builds again: no row may stay behind with a
  // register of an earlier build.
  for (QTreeWidget* list : Lists()) list->clear();
  for (RadioGroupBox* group : gbOptions->findChildren<RadioGroupBox*>(Qt::FindDirectChildrenOnly))
    delete group;

  FillGroup(lvMainSetup, gbMainSetup, {d->UrV, d->IcA, d->IpA, d->NomSpeed});
  FillGroup(lvRxIComp, gbRxIComp, {d->RxI});
  FillGroup(lvSpeed, gbSpeed, {d->TachoVKrpm, d->TachoRin});
  FillGroup(lvRamp, gbRamp, {d->Accel, d->Decel});
  FillGroup(lvPIDSpeed, gbPIDSpeed, {d->Speed_P.get(), d->Speed_I.get(), d->Speed_D.get()});
  FillGroup(lvPIDCurrent, gbPIDCurrent, {d->Current_P.get(), d->Current_I.get()});
  FillGroup(lvReferenceOffset, gbReferenceOffset, {d->OffsetAn2Ext, d->ARef1_scale});
  FillGroup(lvCurLimOffset, gbCurLimOffset, {d->OffsetAn3Ext});
  BuildBitOptions(gbOptions, d->CfgFlags, 9, 0);
  FillGroup(lvModBusSlave, gbModBusSlave, {d->EE_ModBusSlave});
}

// ---------------------------------------------------------------------------
// Option bits

void TKD730Setup::BuildBitOptions(QWidget* parent, TlaRegister* reg, int firstBit, int lastBit) {
  if (!reg) return;
  if (!parent) parent = this;
  if (firstBit < 0) firstBit = lastBit;
  auto* layout = qobject_cast<QBoxLayout*>(parent->layout());
  for (int bit = 15; bit >= 0; --bit) {
    const auto b = static_cast<std::uint8_t>(bit);
    if (bit < lastBit || bit > firstBit) continue;
    const std::string name = reg->Definition->GetBitName(0, b);
    if (name.empty()) continue;
    auto* group = new RadioGroupBox(ToQString(name), parent);  // owned by the parent
    group->setColumns(1);
    group->setFixedHeight(50);
    group->setItems({ToQString(reg->Definition->GetBitStateTexts(0, b, false)),
                     ToQString(reg->Definition->GetBitStateTexts(0, b, true))});
    group->setItemIndex(reg->GetValueBit(0, b) ? 1 : 0);
    group->setTag(bit);
    group->setColor(BgrColor(bit % 2 ? kTintOdd : kTintEven));
    ShapeOptionGroup(group);
    connect(group, &RadioGroupBox::clicked, this,
            [this, group] { Guarded([&] { OptionBitClick(group); }); });
    // Stacked from the top of the parent in the order of creation.
    if (layout) {
      const int end = layout->count() > 0 && layout->itemAt(layout->count() - 1)->spacerItem()
                          ? layout->count() - 1
                          : layout->count();
      layout->insertWidget(end, group);
    } else {
      int top = 0;
      for (RadioGroupBox* other : parent->findChildren<RadioGroupBox*>(Qt::FindDirectChildrenOnly))
        if (other != group) top = std::max(top, other->geometry().bottom() + 1);
      group->setGeometry(0, top, parent->width(), 50);
    }
    group->show();
  }
  parent->setProperty("Tag", reg->Definition->RegAddr);
}

void TKD730Setup::ShapeOptionGroup(RadioGroupBox* group) {
  if (!optionStyle_) {
    optionStyle_ = new TOptionGroupStyle;
    optionStyle_->setParent(this);  // owned by the window
  }
  QFont small = font();
  small.setPixelSize(11);
  group->setFont(small);
  group->setStyle(optionStyle_);
  for (int i = 0; i < group->count(); ++i) group->button(i)->setStyle(optionStyle_);
  if (auto* grid = qobject_cast<QGridLayout*>(group->layout())) {
    grid->setContentsMargins(6, 0, 6, 0);
    grid->setVerticalSpacing(2);
  }
}

void TKD730Setup::OptionBitClick(RadioGroupBox* sender) {
  TlaDeviceKD730* d = Device();
  QWidget* parent = sender->parentWidget();
  TlaRegister* reg = d && parent ? d->GetRegister(parent->property("Tag").toInt()) : nullptr;
  if (!reg) return;
  reg->SetValueBit(0, static_cast<std::uint8_t>(sender->tag()), sender->itemIndex() != 0);
  RefreshSetup();
}

void TKD730Setup::RefreshBitOptions(QWidget* parent) {
  TlaDeviceKD730* d = Device();
  const QVariant tag = parent->property("Tag");
  TlaRegister* reg = d && tag.isValid() ? d->GetRegister(tag.toInt()) : nullptr;
  if (!reg) return;
  for (RadioGroupBox* group : parent->findChildren<RadioGroupBox*>(Qt::FindDirectChildrenOnly)) {
    const int bit = group->tag();
    if (bit < 0 || bit > 31) continue;
    const std::uint32_t mask = 1u << bit;
    group->setItemIndex(reg->GetValueBit(0, static_cast<std::uint8_t>(bit)) ? 1 : 0);
    group->setVisible(reg->Visible && (reg->VisibleMask & mask));
    group->setEnabled(reg->Enabled && (reg->EnableMask & mask));
  }
}

// ---------------------------------------------------------------------------
// Refresh

void TKD730Setup::RefreshSetup() {
  TlaDeviceKD730* d = Device();
  if (!d) return;
  if (TlaRegister* cfg = d->CfgFlags) {
    if (CfgBit(9)) {
      lvSpeed->setEnabled(false);
      lvRxIComp->setEnabled(false);
      lvPIDSpeed->setEnabled(false);
      cfg->EnableMask = kMaskCurrentMode;
    } else {
      const bool tacho = CfgBit(4);
      lvSpeed->setEnabled(tacho);
      lvRxIComp->setEnabled(!tacho);
      cfg->EnableMask = tacho ? kMaskAll : kMaskNoTacho;
      lvPIDSpeed->setEnabled(true);
    }
    rgFilter->setEnabled(!CfgBit(0));
    lvReferenceOffset->setEnabled(!CfgBit(0));
    lvCurLimOffset->setEnabled(CfgBit(3));
    lvRamp->setEnabled(CfgBit(5));
  }
  for (QTreeWidget* list : Lists()) RefreshListView(list);
  RefreshBitOptions(gbOptions);
  rgFilter->setItemIndex(d->InputFilter ? d->InputFilter->GetField() : -1);
}

// ---------------------------------------------------------------------------
// Drawing

void TKD730Setup::lvCustomDrawItem(QTreeWidget* list, QTreeWidgetItem* item, TSetupRowDraw& draw) {
  if (!list->isEnabled()) return;
  const int index = list->indexOfTopLevelItem(item);
  draw.Background = index % 2 ? list->palette().color(QPalette::Base) : BgrColor(kTintEven);
  TlaRegister* reg = RowRegister(item);
  if (!reg && !RowView(item)) {
    draw.Background = list->palette().color(QPalette::Button);
  } else if (reg && (!reg->Visible || !reg->Enabled)) {
    draw.Background = BgrColor(kSilver);
    draw.Font = BgrColor(kGrey);
    draw.DefaultDraw = reg->Visible;
  }
}

void TKD730Setup::lvCustomDrawSubItem(QTreeWidget* list, QTreeWidgetItem* item, int subItem,
                                      TSetupRowDraw& draw) {
  if (!list->isEnabled()) return;
  lvCustomDrawItem(list, item, draw);
  if (RowRegister(item) || RowView(item)) draw.Bold = subItem == 1;
}

// ---------------------------------------------------------------------------
// Editing

void TKD730Setup::lvDblClick(QTreeWidget* list) {
  const QList<QTreeWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) return;
  QTreeWidgetItem* item = selected.constFirst();
  try {
    if (TlaRegister* reg = RowRegister(item)) {
      if (reg->Enabled && reg->Visible) {
        std::string text = HoldsDriveValue(reg) ? kd::FloatToStr(reg->GetValueDouble(0)) : "";
        if (InputQuery("Edit Register", Descr(reg), text)) reg->SetValueText(text, 0);
      }
    } else if (TlaParValue* view = RowView(item)) {
      if (view->Register && view->Register->Enabled && view->Register->Visible) {
        std::string text = kd::FloatToStr(view->GetValue());
        if (InputQuery("Edit Register", Descr(view->Register), text))
          view->SetValue(kd::StrToFloat(text));
      }
    }
  } catch (const std::exception&) {
    ShowMessage("Only numeric values allowed.");
  }
  RefreshSetup();
}

void TKD730Setup::RunDblClick(QTreeWidget* list) {
  if (list == lvReferenceOffset)
    lvReferenceOffsetDblClick();
  else if (list == lvCurLimOffset)
    lvCurLimOffsetDblClick();
  else
    lvDblClick(list);
}

void TKD730Setup::lvKeyPress(QTreeWidget* list, int key) {
  if (key == 13 || (key >= '0' && key <= '9')) RunDblClick(list);
}

bool TKD730Setup::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tsFieldBus && event->type() == QEvent::Show) {
    Guarded([this] { tsFieldBusShow(); });
    return false;
  }
  for (QTreeWidget* list : Lists()) {
    if (watched == list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
      Guarded([&] { RunDblClick(list); });
      return true;
    }
    if (watched == list && event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      const QString text = key->text();
      const int code = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ? 13
                       : text.size() == 1 ? text[0].unicode()
                                          : 0;
      if (code == 13 || (code >= '0' && code <= '9')) {
        Guarded([&] { lvKeyPress(list, code); });
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TKD730Setup::rgFilterClick() {
  TlaDeviceKD730* d = Device();
  if (d && d->InputFilter) d->InputFilter->SetField(rgFilter->itemIndex());
  RefreshSetup();
}

// ---------------------------------------------------------------------------
// Offsets

void TKD730Setup::WriteOffset(TlaRegister* reg) {
  TlaDeviceKD730* d = Device();
  if (reg && d && d->WriteReg(reg, true))
    MainForm->Log(kd::Sprintf("%s: %s", Descr(reg).c_str(), reg->GetValueText(0).c_str()));
}

void TKD730Setup::StepOffset(TlaRegister* reg, int step) {
  if (reg) {
    reg->SetValueInteger(0, reg->GetValueInteger(0) + step);
    WriteOffset(reg);
  }
  RefreshSetup();
}

void TKD730Setup::DefaultOffset(TlaRegister* reg) {
  if (reg) {
    reg->SetDefaults();
    WriteOffset(reg);
  }
  RefreshSetup();
}

void TKD730Setup::lvReferenceOffsetDblClick() {
  lvDblClick(lvReferenceOffset);
  WriteOffset(Register(&TlaDeviceKD730::OffsetAn2Ext));
  RefreshSetup();
}

void TKD730Setup::lvCurLimOffsetDblClick() {
  WriteOffset(Register(&TlaDeviceKD730::OffsetAn3Ext));
  lvDblClick(lvCurLimOffset);
}

// ---------------------------------------------------------------------------
// Field bus

void TKD730Setup::tsFieldBusShow() {
  if (TlaDeviceKD730* d = Device()) d->ReadModBusSlave();
  RefreshListView(lvModBusSlave);
}

void TKD730Setup::sbtnSaveModBusSlaveClick() {
  TlaDeviceKD730* d = Device();
  if (!d || !d->EE_ModBusSlave) return;
  // The image may hold another drive's address: only this drive's or a typed one is written.
  d->UpdateSlaveState();
  if (!d->GetModBusSlaveKnown()) {
    MainForm->Log(
        "Error: ModBus Slave Address NOT written: not read from the connected drive nor typed!");
    return;
  }
  // Only a write that reached the drive is reported as a change.
  if (d->WriteReg(d->EE_ModBusSlave, true))
    MainForm->Log("ModBus Slave Address changed: " + d->EE_ModBusSlave->GetValueText(0) +
                  " This change is valid only after restart.");
  else
    MainForm->Log("Error: ModBus Slave Address NOT written!");
}

// ---------------------------------------------------------------------------
// Drive actions

void TKD730Setup::AssertInhibit() {
  TlaDeviceKD730* d = Device();
  if (!d || !d->VirtualInput || !d->CfgFlags) return;
  // The word is rebuilt from the image, so it must hold the drive's inputs:
  // never write back a word that was not read from this drive.
  if (!d->GetCommandsRead() && !d->ReadReg(d->VirtualInput, true)) return;
  int inputs = d->VirtualInput->GetValueInteger(0);
  // Inhibit is active low when the input logic is inverted.
  if (CfgBit(2))
    inputs &= ~4;
  else
    inputs |= 4;
  d->VirtualInput->SetValueInteger(0, inputs);
  d->WriteReg(d->VirtualInput, true);
}

void TKD730Setup::acSendExecute() {
  MainForm->Log("Sending program to drive.");
  AssertInhibit();
  if (TlaDeviceKD730* d = Device()) d->SendSetup();
}

void TKD730Setup::acSaveExecute() {
  MainForm->Log("Saving program to drive");
  AssertInhibit();
  if (TlaDeviceKD730* d = Device()) d->SaveSetup();
}

void TKD730Setup::acReloadExecute() {
  if (TlaDeviceKD730* d = Device()) d->ReadSetup();
}

// ---------------------------------------------------------------------------
// Setup files and the setup report (Winsetupfiles)

void TKD730Setup::acExportExecute() { ExportSetupFile(*this); }

void TKD730Setup::acImportExecute() { ImportSetupFile(*this); }

void TKD730Setup::acPrintExecute() { PrintSetupReport(*this); }

void TKD730Setup::UpdateActions() {
  TlaDeviceKD730* d = Device();
  const TlaSetupState state = d ? d->SetupState : setupUnknown;
  // A setup is only handed to a drive that is online: a transfer queued for
  // a closed line would run against whatever drive the next connection finds.
  const bool online = d && d->UpdateSlaveState() == slaveOnline;
  // Whether the image holds the drive's stored address follows the state.
  RefreshListView(lvModBusSlave);
  acSend->setEnabled(online && state != setupSynced && state != setupSent);
  acSave->setEnabled(online && state != setupSynced);
  for (QAction* a : {acRefOffsetUp, acRefOffsetDwn, acRefOffsetDflt})
    a->setEnabled(lvReferenceOffset->isEnabled());
  for (QAction* a : {acCurrentOffsetUp, acCurrentOffsetDwn, acCurrentOffsetDflt})
    a->setEnabled(lvCurLimOffset->isEnabled());
  // Files and the report need a register image (a data model loaded).
  const bool image = d && d->DataBuffer();
  for (QAction* a : {acExport, acImport, acPrint}) a->setEnabled(image);
}

// ---------------------------------------------------------------------------
// Showing and closing

void TKD730Setup::FormShow() {
  TlaDeviceKD730* d = Device();
  if (d && d->RamSetupRead()) d->ReadSetup();
}

void TKD730Setup::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) Guarded([this] { FormShow(); });
}

bool TKD730Setup::FormCloseQuery() {
  TlaDeviceKD730* d = Device();
  if (!d || d->UpdateSlaveState() != slaveOnline) return true;
  switch (d->SetupState) {
    case setupEdited:
      return WarningYesNo(
          "Program has been modified but not sent nor saved to drive.\n\r"
          "Are you sure to close without update and save the remote drive setup?");
    case setupSent:
      return WarningYesNo(
          "Program has been modified and sent to drive but not saved permanently.\n\r"
          "Are you sure to close without save to drive?");
    default:
      return WarningYesNo(
          "Remember to export to file your work before exit!\n\rAre you sure to close?");
  }
}

void TKD730Setup::FormClose() {
  kd::IniFile ini(MainForm->IniFileName());
  ini.BeginUpdate();
  WriteFormPosition(this, ini, "KD730Setup");
  ini.EndUpdate();
}

void TKD730Setup::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  // A file that cannot be written is reported; the window closes all the same.
  Guarded([this] { FormClose(); });
  event->accept();
}
