#include "ui/page_filters.h"

#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>
#include <utility>

#include "plugins/filter_host.h"
#include "services/strings.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/page_common.h"

namespace {

// Only a mouse click on a check box toggles a filter; the keyboard does not.
class MouseOnlyCheckDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
    if (event->type() == QEvent::KeyPress) return false;
    return QStyledItemDelegate::editorEvent(event, model, option, index);
  }
};

}  // namespace

// ---- CFilterListModel -------------------------------------------------------------

CFilterListModel::CFilterListModel(CFilterList* filters, std::vector<QIcon> icons, QObject* parent)
    : QAbstractTableModel(parent), filters_(filters), icons_(std::move(icons)) {}

int CFilterListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !filters_ ? 0 : int(filters_->size());
}

int CFilterListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant CFilterListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !filters_ || index.row() >= int(filters_->size())) return {};
  const CFilterEntry& entry = *(*filters_)[size_t(index.row())];
  if (role == Qt::DisplayRole)
    return QString::fromStdString(index.column() == 0 ? entry.Name : entry.Description);
  if (index.column() != 0) return {};
  if (role == Qt::DecorationRole) {
    if (entry.IconIndex >= 0 && size_t(entry.IconIndex) < icons_.size())
      return icons_[size_t(entry.IconIndex)];
    return {};
  }
  if (role == Qt::CheckStateRole) return entry.Enabled ? Qt::Checked : Qt::Unchecked;
  return {};
}

QVariant CFilterListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return ResString(section == 0 ? IDS_FILTER_COLUMN : IDS_DESCRIPTION_COLUMN);
}

Qt::ItemFlags CFilterListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool CFilterListModel::setData(const QModelIndex& index, const QVariant&, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0) return false;
  emit filterToggled(index.row());
  return true;
}

void CFilterListModel::Refresh() {
  beginResetModel();
  endResetModel();
}

void CFilterListModel::RowChanged(int row) {
  emit dataChanged(index(row, 0), index(row, 1));
}

// ---- CPageFilters ------------------------------------------------------------------

CPageFilters::CPageFilters(CFilterList* filters, QWidget* parent)
    : CSettingsPage(Ui("Фильтры"), parent), filters_(filters) {
  std::vector<QIcon> icons;
  for (const std::string& path : GetFilterHost().Icons())
    icons.emplace_back(QString::fromStdString(path));
  model_ = new CFilterListModel(filters_, std::move(icons), this);

  list_ = new QTreeView(this);
  list_->setObjectName(QStringLiteral("filterList"));
  list_->setModel(model_);
  list_->setItemDelegate(new MouseOnlyCheckDelegate(list_));
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setIconSize(QSize(16, 16));
  list_->header()->setSectionsMovable(false);
  list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->header()->resizeSection(0, 100);
  list_->header()->resizeSection(1, 100);

  up_ = new QPushButton(Ui("Вверх"), this);
  down_ = new QPushButton(Ui("Вниз"), this);
  up_->setObjectName(QStringLiteral("moveUp"));
  down_->setObjectName(QStringLiteral("moveDown"));

  auto* note = new QLabel(
      Ui("Отметьте используемые фильтры. Фильтры применяются в порядке следования.\n"
         "Двойной щелчок открывает настройки фильтра."),
      this);
  note->setWordWrap(true);

  auto* group = new QGroupBox(Ui("Доступные фильтры"), this);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(up_);
  buttons->addWidget(down_);
  buttons->addStretch(1);
  auto* row = new QHBoxLayout;
  row->addWidget(list_, 1);
  row->addLayout(buttons);
  auto* inside = new QVBoxLayout(group);
  inside->addLayout(row, 1);
  inside->addWidget(note);
  auto* page = new QVBoxLayout(this);
  page->addWidget(group, 1);

  connect(model_, &CFilterListModel::filterToggled, this, &CPageFilters::ToggleFilter);
  connect(list_, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { SetupFilter(index.row()); });
  connect(up_, &QPushButton::clicked, this, &CPageFilters::MoveUp);
  connect(down_, &QPushButton::clicked, this, &CPageFilters::MoveDown);

  LoadControls();
}

int CPageFilters::Count() const { return filters_ ? int(filters_->size()) : 0; }

void CPageFilters::LoadControls() {
  // The list may have been reordered (a settings file was loaded).
  model_->Refresh();
  FitNameColumn();
  emit stagesChanged();
}

void CPageFilters::FitNameColumn() {
  // At least 100 pixels, and wide enough for every name beside its check
  // box and icon.
  list_->resizeColumnToContents(0);
  if (list_->columnWidth(0) < 100) list_->setColumnWidth(0, 100);
}

void CPageFilters::StoreControls() { emit stagesChanged(); }

int CPageFilters::SelectedRow() const {
  const QModelIndexList rows = list_->selectionModel()->selectedRows();
  return rows.size() == 1 ? rows.front().row() : -1;
}

void CPageFilters::SelectRow(int row) {
  if (row < 0 || row >= Count()) {
    list_->selectionModel()->clearSelection();
    return;
  }
  const QModelIndex index = model_->index(row, 0);
  list_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollTo(index);
}

void CPageFilters::MoveUp() {
  const int a = SelectedRow();
  if (a <= 0) return;
  std::swap((*filters_)[size_t(a - 1)], (*filters_)[size_t(a)]);
  model_->RowChanged(a - 1);
  model_->RowChanged(a);
  SelectRow(a - 1);
}

void CPageFilters::MoveDown() {
  const int b = SelectedRow();
  if (b < 0 || b + 1 >= Count()) return;
  std::swap((*filters_)[size_t(b)], (*filters_)[size_t(b + 1)]);
  model_->RowChanged(b);
  model_->RowChanged(b + 1);
  SelectRow(b + 1);
}

void CPageFilters::ToggleFilter(int row) {
  if (row < 0 || row >= Count()) return;
  CFilterEntry& entry = *(*filters_)[size_t(row)];
  entry.Enabled = !entry.Enabled;
  model_->RowChanged(row);
  // After the change, so that the stage indicator sees it.
  emit stagesChanged();
}

void CPageFilters::SetupFilter(int row) {
  if (row < 0 || row >= Count()) return;
  // The filter's dialog gets the window's X11 id where there is one.
  void* window = nullptr;
  if (QGuiApplication::platformName() == QLatin1String("xcb"))
    window = reinterpret_cast<void*>(this->window()->winId());
  (*filters_)[size_t(row)]->Setup(window, FilterSettingsPath(GetSettings().StorageFolder()));
}

void CPageFilters::keyPressEvent(QKeyEvent* event) {
  if (!HandlePageKey(this, event)) CSettingsPage::keyPressEvent(event);
}
