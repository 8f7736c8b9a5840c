#include "ui/shell_tree.h"

#include <QApplication>
#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <algorithm>
#include <cmath>

#include "output/output_names.h"
#include "ui/controls.h"

// ---- folder reading ---------------------------------------------------------------

int LoadingProgressWidth(int total, int count) {
  if (total >= 1) {
    long long w = (long long)count * 50 / total;
    return int(std::clamp(w, 0LL, 50LL));
  }
  // 50 * (1 + 0.2c - 0.5 ln(e^(0.4c) + e^2 - 1)), written as
  // 50 * (1 - 0.5 ln(1 + (e^2 - 1) e^(-0.4c))) so that no count overflows.
  const double c = count < 0 ? 0.0 : double(count);
  const double w = 50.0 * (1.0 - 0.5 * std::log1p((std::exp(2.0) - 1.0) * std::exp(-0.4 * c)));
  return std::clamp(int(w), 0, 50);
}

bool IsOnFixedDisk(const QString& path) {
  QStorageInfo storage(path);
  if (!storage.isValid()) return true;
  static const char* const kRemote[] = {"nfs",   "nfs4",       "cifs", "smb3", "smbfs",
                                        "sshfs", "fuse.sshfs", "9p",   "afs",  "iso9660",
                                        "udf",   "davfs",      "fuse.gvfsd-fuse"};
  const QByteArray type = storage.fileSystemType();
  for (const char* remote : kRemote)
    if (type == remote) return false;
  const QString root = storage.rootPath();
  if (root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/run/media/")))
    return false;
  const QByteArray device = storage.device();
  if (device.startsWith("/dev/sr") || device.startsWith("/dev/cdrom")) return false;
  return true;
}

FolderListing ReadFolder(const QString& path, unsigned flags, std::atomic<int>* count,
                         const std::atomic<bool>* cancel) {
  FolderListing listing;
  QFileInfo folder(path);
  listing.readable = folder.isDir() && folder.isReadable() && folder.isExecutable();
  if (!listing.readable) return listing;
  listing.fixedDisk = IsOnFixedDisk(path);
  QMimeDatabase mime;
  QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
  while (it.hasNext()) {
    if (cancel && cancel->load()) break;
    it.next();
    const QFileInfo info = it.fileInfo();
    const QString name = info.fileName();
    if (!(flags & kTreeIncludeHidden) && name.startsWith(QLatin1Char('.'))) continue;
    // A link to a folder is listed as a folder (under its own name and
    // path); links to files and broken links are not.
    if (info.isSymLink() && !info.isDir()) continue;
    FolderEntry entry;
    entry.name = name;
    entry.path = info.absoluteFilePath();
    entry.isDir = info.isDir();
    if (!entry.isDir) {
      if (!(flags & kTreeIncludeFiles) || !info.isFile()) continue;
      if (!IsSupportedExtension(FindExtension(name.toStdString()))) continue;
      const QMimeType type = mime.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
      entry.iconName = type.iconName();
      entry.genericIconName = type.genericIconName();
    }
    listing.entries.push_back(std::move(entry));
    if (count) count->fetch_add(1);
  }
  QCollator collator;
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(listing.entries.begin(), listing.entries.end(),
                   [&](const FolderEntry& a, const FolderEntry& b) {
                     if (a.isDir != b.isDir) return a.isDir;
                     return collator.compare(a.name, b.name) < 0;
                   });
  return listing;
}

// ---- the "Loading..." item's drawing ----------------------------------------------------

namespace {

enum LoadingRoles { TotalRole = Qt::UserRole + 10, CountRole, FrameRole };

class LoadingDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (index.data(CShellTreeCtrl::KindRole).toInt() != CShellTreeCtrl::kLoadingItem) return;
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect iconRect = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, widget);
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const int total = index.data(TotalRole).toInt();
    const int count = index.data(CountRole).toInt();
    const int frame = index.data(FrameRole).toInt();

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    // The turning wheel: ten spokes, the one of the current frame darkest.
    const QPointF centre = QRectF(iconRect).center();
    const double radius = std::min(iconRect.width(), iconRect.height()) / 2.0 - 1.0;
    for (int i = 0; i < 10; ++i) {
      const int age = (frame - i + 10) % 10;
      QColor colour = option.palette.color(QPalette::Text);
      colour.setAlpha(255 - age * 22);
      const double angle = i * 2.0 * M_PI / 10.0;
      const QPointF dir(std::sin(angle), -std::cos(angle));
      painter->setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::RoundCap));
      painter->drawLine(centre + dir * (radius * 0.45), centre + dir * radius);
    }
    painter->setRenderHint(QPainter::Antialiasing, false);

    // The progress bar: 56 x 16 (or the row's height), 3 pixels right of
    // the text, the red part 3 pixels inside the frame.
    const int textWidth = opt.fontMetrics.horizontalAdvance(opt.text);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int height = std::min(16, option.rect.height());
    QRect outer(textRect.left() + margin + textWidth + 3,
                option.rect.top() + (option.rect.height() - height) / 2, 56, height);
    painter->setPen(Qt::black);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(outer.adjusted(0, 0, -1, -1));
    const int filled = LoadingProgressWidth(total, count);
    if (filled > 0) {
      QRect inner(outer.left() + 3, outer.top() + 3, filled, outer.height() - 6);
      painter->fillRect(inner, Qt::red);
    }
    painter->restore();
  }
};

}  // namespace

// ---- CShellTreeCtrl -----------------------------------------------------------------------

struct CShellTreeCtrl::LoadJob {
  struct Shared {
    std::atomic<int> total{1};
    std::atomic<int> count{0};
    std::atomic<bool> cancel{false};
    FolderListing listing;  // written by the reading task before it reports
  };
  quint64 id = 0;
  QTreeWidgetItem* item = nullptr;
  QTreeWidgetItem* loadingItem = nullptr;
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();
};

namespace {
quint64 g_nextJobId = 1;
QThreadPool& TreePool() {
  static QThreadPool* pool = [] {
    auto* p = new QThreadPool;
    p->setMaxThreadCount(2);
    return p;
  }();
  return *pool;
}
}  // namespace

CShellTreeCtrl::CShellTreeCtrl(QWidget* parent, unsigned flags)
    : QTreeWidget(parent), flags_(flags) {
  setColumnCount(1);
  header()->hide();
  setSelectionMode(QAbstractItemView::NoSelection);
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  setItemDelegate(new LoadingDelegate(this));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);

  QFileIconProvider provider;
  folderIcon_ = provider.icon(QFileIconProvider::Folder);
  fileIcon_ = provider.icon(QFileIconProvider::File);
  QPixmap blank(16, 16);
  blank.fill(Qt::transparent);
  blankIcon_ = QIcon(blank);

  animation_.setInterval(kAnimationPeriodMs);
  connect(&animation_, &QTimer::timeout, this, &CShellTreeCtrl::OnAnimationTick);
  connect(this, &QTreeWidget::itemExpanded, this, &CShellTreeCtrl::OnItemExpanded);
}

CShellTreeCtrl::~CShellTreeCtrl() {
  // Readings still running end early; their results are dropped.
  for (auto& job : jobs_) job->shared->cancel = true;
  jobs_.clear();
  TreePool().waitForDone();
}

QTreeWidgetItem* CShellTreeCtrl::MakeItem(const QString& text, const QString& path, ItemKind kind,
                                          const QIcon& icon) {
  auto* item = new QTreeWidgetItem;
  item->setText(0, text);
  item->setIcon(0, icon);
  item->setData(0, PathRole, path);
  item->setData(0, KindRole, int(kind));
  item->setToolTip(0, path);
  if (kind == kFolderItem || kind == kRootItem)
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  else
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
  return item;
}

void CShellTreeCtrl::FillRoot() {
  for (auto& job : jobs_) job->shared->cancel = true;
  jobs_.clear();
  selected_.clear();
  pending_ = nullptr;
  pendingItem_ = nullptr;
  pendingNames_.clear();
  clear();
  QStyle* st = style();
  auto* root = MakeItem(Ui("Компьютер"), QString(), kRootItem,
                        QIcon::fromTheme(QStringLiteral("computer"),
                                         st->standardIcon(QStyle::SP_ComputerIcon)));
  root->setToolTip(0, QString());
  addTopLevelItem(root);
  root->addChild(MakeItem(Ui("Домашняя папка"), QDir::homePath(), kFolderItem,
                          QIcon::fromTheme(QStringLiteral("user-home"),
                                           st->standardIcon(QStyle::SP_DirHomeIcon))));
  root->addChild(MakeItem(Ui("Файловая система"), QStringLiteral("/"), kFolderItem,
                          QIcon::fromTheme(QStringLiteral("drive-harddisk"),
                                           st->standardIcon(QStyle::SP_DriveHDIcon))));
  root->setExpanded(true);
}

QString CShellTreeCtrl::ItemPath(const QTreeWidgetItem* item) {
  return item ? item->data(0, PathRole).toString() : QString();
}

QStringList CShellTreeCtrl::SelectedPaths() const {
  QStringList paths;
  for (QTreeWidgetItem* item : selected_) {
    const QString path = ItemPath(item);
    if (!path.isEmpty()) paths << path;
  }
  return paths;
}

QTreeWidgetItem* CShellTreeCtrl::FindChild(QTreeWidgetItem* parent, const QString& name) {
  if (!parent) return nullptr;
  for (int i = 0; i < parent->childCount(); ++i) {
    QTreeWidgetItem* child = parent->child(i);
    if (child->data(0, KindRole).toInt() == kLoadingItem) continue;
    if (QFileInfo(ItemPath(child)).fileName() == name) return child;
  }
  return nullptr;
}

bool CShellTreeCtrl::IsLoading(const QTreeWidgetItem* item) const {
  for (const auto& job : jobs_)
    if (job->item == item) return true;
  return false;
}

bool CShellTreeCtrl::LoadingState(const QTreeWidgetItem* loadingItem, int& total, int& count,
                                  int& frame) const {
  for (const auto& job : jobs_) {
    if (job->loadingItem == loadingItem) {
      total = job->shared->total.load();
      count = job->shared->count.load();
      frame = frame_;
      return true;
    }
  }
  return false;
}

QIcon CShellTreeCtrl::IconFor(const FolderEntry& entry) {
  if (entry.isDir) return folderIcon_;
  const QString key = entry.iconName + QLatin1Char('|') + entry.genericIconName;
  auto found = iconCache_.constFind(key);
  if (found != iconCache_.constEnd()) return *found;
  QIcon icon = QIcon::fromTheme(entry.iconName);
  if (icon.isNull()) icon = QIcon::fromTheme(entry.genericIconName);
  if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("image-x-generic"));
  if (icon.isNull()) icon = fileIcon_;
  iconCache_.insert(key, icon);
  return icon;
}

// ---- expanding ----------------------------------------------------------------------------

void CShellTreeCtrl::OnItemExpanded(QTreeWidgetItem* item) {
  if (item->data(0, KindRole).toInt() != kFolderItem) return;
  BeginLoad(item);
}

void CShellTreeCtrl::ForgetItems(QTreeWidgetItem* ancestor, bool includeAncestor) {
  auto under = [&](const QTreeWidgetItem* x) {
    if (!x) return false;
    for (const QTreeWidgetItem* p = includeAncestor ? x : x->parent(); p; p = p->parent())
      if (p == ancestor) return true;
    return false;
  };
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    if (under((*it)->item)) {
      (*it)->shared->cancel = true;
      it = jobs_.erase(it);
    } else {
      ++it;
    }
  }
  selected_.erase(std::remove_if(selected_.begin(), selected_.end(), under), selected_.end());
  if (under(pending_)) pending_ = nullptr;
  if (under(pendingItem_)) {
    pendingItem_ = nullptr;
    pendingNames_.clear();
  }
}

void CShellTreeCtrl::DeleteChildren(QTreeWidgetItem* item) {
  ForgetItems(item, false);
  const QList<QTreeWidgetItem*> children = item->takeChildren();
  qDeleteAll(children);
}

void CShellTreeCtrl::BeginLoad(QTreeWidgetItem* item) {
  // A reading of the same folder still running is superseded.
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    if ((*it)->item == item) {
      (*it)->shared->cancel = true;
      jobs_.erase(it);
      break;
    }
  }
  DeleteChildren(item);

  auto job = std::make_unique<LoadJob>();
  job->id = g_nextJobId++;
  job->item = item;
  job->loadingItem = new QTreeWidgetItem;
  job->loadingItem->setText(0, LoadingText());
  job->loadingItem->setIcon(0, blankIcon_);
  job->loadingItem->setData(0, KindRole, int(kLoadingItem));
  job->loadingItem->setData(0, TotalRole, 1);
  job->loadingItem->setData(0, CountRole, 0);
  job->loadingItem->setData(0, FrameRole, frame_);
  job->loadingItem->setFlags(Qt::ItemIsEnabled);
  item->addChild(job->loadingItem);
  scrollToItem(job->loadingItem);

  const QString path = ItemPath(item);
  const unsigned flags = flags_;
  const quint64 id = job->id;
  std::shared_ptr<LoadJob::Shared> shared = job->shared;
  jobs_.push_back(std::move(job));
  if (!animation_.isActive()) animation_.start();

  // The tree waits for the pool before it goes away, so `this` outlives
  // every task; a result that arrives after the tree is gone is dropped
  // with the tree's posted events.
  TreePool().start([this, shared, path, flags, id] {
    shared->total = 0;
    shared->count = 0;
    shared->listing = ReadFolder(path, flags, &shared->count, &shared->cancel);
    shared->total = 1;
    shared->count = 1;
    if (shared->cancel.load()) return;
    QMetaObject::invokeMethod(
        this,
        [this, id] {
          for (auto& j : jobs_) {
            if (j->id == id) {
              FinishLoad(j.get());
              break;
            }
          }
        },
        Qt::QueuedConnection);
  });
}

void CShellTreeCtrl::FinishLoad(LoadJob* job) {
  QTreeWidgetItem* item = job->item;
  FolderListing listing = std::move(job->shared->listing);
  delete job->loadingItem;  // takes itself out of its parent
  job->loadingItem = nullptr;
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it) {
    if (it->get() == job) {
      jobs_.erase(it);
      break;
    }
  }

  QList<QTreeWidgetItem*> children;
  children.reserve(int(listing.entries.size()));
  for (const FolderEntry& entry : listing.entries)
    children << MakeItem(entry.name, entry.path, entry.isDir ? kFolderItem : kFileItem,
                         IconFor(entry));
  const bool updates = updatesEnabled();
  setUpdatesEnabled(false);
  item->addChildren(children);
  setUpdatesEnabled(updates);

  // A folder found empty on a fixed disk loses its expand button; one on a
  // network or removable medium keeps it, collapsed, to be tried again.
  const bool failed = listing.readable && !listing.fixedDisk;
  if (!failed) {
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  } else if (item->childCount() == 0) {
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    item->setExpanded(false);
  }
  // Bring the new children into view as far as the folder itself stays
  // on screen.
  if (item->childCount() > 0) {
    scrollToItem(item->child(item->childCount() - 1));
    if (visualItemRect(item).top() < 0) scrollToItem(item, QAbstractItemView::PositionAtTop);
  }
  emit folderFilled(item);
  if (item == pendingItem_) ContinueOpening(item);
}

void CShellTreeCtrl::OnAnimationTick() {
  if (jobs_.empty()) {
    animation_.stop();
    return;
  }
  frame_ = (frame_ + 1) % 10;
  for (auto& job : jobs_) {
    if (!job->loadingItem) continue;
    job->loadingItem->setData(0, TotalRole, job->shared->total.load());
    job->loadingItem->setData(0, CountRole, job->shared->count.load());
    job->loadingItem->setData(0, FrameRole, frame_);
  }
}

// ---- opening a path -------------------------------------------------------------------------

void CShellTreeCtrl::ExpandToPath(const QString& path) {
  pendingItem_ = nullptr;
  pendingNames_.clear();
  QTreeWidgetItem* root = RootItem();
  if (!root) return;
  root->setExpanded(true);
  const QString clean = QDir::cleanPath(QDir(QDir::rootPath()).absoluteFilePath(path));
  if (path.isEmpty() || !QFileInfo::exists(clean) || root->childCount() < 2) {
    FinishOpening(root);
    return;
  }
  const QString home = QDir::cleanPath(QDir::homePath());
  QTreeWidgetItem* start = nullptr;
  QString rest;
  if (home != QLatin1String("/") && (clean == home || clean.startsWith(home + QLatin1Char('/')))) {
    start = root->child(0);
    rest = clean.mid(home.size());
  } else {
    start = root->child(1);
    rest = clean;
  }
  pendingNames_ = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  if (pendingNames_.isEmpty()) {
    FinishOpening(start);
    return;
  }
  pendingItem_ = start;
  if (start->isExpanded())
    BeginLoad(start);  // every expansion reads the folder again
  else
    start->setExpanded(true);
}

void CShellTreeCtrl::ContinueOpening(QTreeWidgetItem* filled) {
  pendingItem_ = nullptr;
  if (pendingNames_.isEmpty()) {
    FinishOpening(filled);
    return;
  }
  QTreeWidgetItem* child = FindChild(filled, pendingNames_.takeFirst());
  if (!child) {
    pendingNames_.clear();
    ClearSelectionList();
    setCurrentItem(nullptr);
    emit pathOpened(nullptr);
    return;
  }
  if (pendingNames_.isEmpty()) {
    FinishOpening(child);
    return;
  }
  pendingItem_ = child;
  if (child->isExpanded())
    BeginLoad(child);
  else
    child->setExpanded(true);
}

void CShellTreeCtrl::FinishOpening(QTreeWidgetItem* reached) {
  pendingItem_ = nullptr;
  pendingNames_.clear();
  if (reached->parent())
    SetOnlySelected(reached);
  else
    ClearSelectionList();
  setCurrentItem(reached, 0, QItemSelectionModel::NoUpdate);
  scrollToItem(reached);
  if (!reached->isExpanded()) reached->setExpanded(true);
  emit pathOpened(reached);
}

void CShellTreeCtrl::Refresh(const QString& path) {
  QTreeWidgetItem* root = RootItem();
  if (!root) {
    FillRoot();
    ExpandToPath(path);
    return;
  }
  root->setExpanded(false);
  FillRoot();
  ExpandToPath(path);
}

// ---- selection ------------------------------------------------------------------------------

void CShellTreeCtrl::ClearSelectionList() {
  for (QTreeWidgetItem* item : selected_) item->setSelected(false);
  selected_.clear();
}

void CShellTreeCtrl::SetOnlySelected(QTreeWidgetItem* item) {
  ClearSelectionList();
  if (item && item->parent()) {
    selected_.push_back(item);
    item->setSelected(true);
  }
  if (item) setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
}

bool CShellTreeCtrl::IsSiblingOfSelection(const QTreeWidgetItem* item) const {
  return !selected_.empty() && item->parent() == selected_.front()->parent();
}

void CShellTreeCtrl::PostSelectionChanged() {
  const int count = int(selected_.size());
  QMetaObject::invokeMethod(
      this, [this, count] { emit selectionChangedCount(count); }, Qt::QueuedConnection);
}

void CShellTreeCtrl::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);  // the control's own handling first
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  leftDown_ = true;
  dragging_ = false;
  pressPos_ = pos;
  QTreeWidgetItem* item = itemAt(pos);
  if (!item || pos.x() < visualItemRect(item).left()) return;  // the expand button
  const int kind = item->data(0, KindRole).toInt();
  if (kind == kLoadingItem) return;
  const Qt::KeyboardModifiers mods = event->modifiers();
  const bool ctrl = mods & Qt::ControlModifier;
  const bool shift = mods & Qt::ShiftModifier;
  if (!item->parent()) {
    // The top-level item takes no part in the selection.
    if (!ctrl && !shift) {
      ClearSelectionList();
      setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
    return;
  }
  if (ctrl) {
    if (selected_.empty() || IsSiblingOfSelection(item)) {
      auto found = std::find(selected_.begin(), selected_.end(), item);
      if (found != selected_.end()) {
        selected_.erase(found);
        item->setSelected(false);
      } else {
        selected_.push_back(item);
        item->setSelected(true);
      }
    }
  } else if (shift && !selected_.empty() && IsSiblingOfSelection(item)) {
    // The range of siblings from the first listed item to this one.
    QTreeWidgetItem* parent = item->parent();
    QTreeWidgetItem* first = selected_.front();
    int a = parent->indexOfChild(first);
    int b = parent->indexOfChild(item);
    ClearSelectionList();
    const int step = a <= b ? 1 : -1;
    for (int i = a;; i += step) {
      QTreeWidgetItem* sibling = parent->child(i);
      if (sibling->data(0, KindRole).toInt() != kLoadingItem) {
        selected_.push_back(sibling);
        sibling->setSelected(true);
      }
      if (i == b) break;
    }
    setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
  } else if (selected_.size() <= 1) {
    SetOnlySelected(item);
  } else {
    // A click inside a multi-selection keeps it for a drag; the release
    // shrinks it to this item. A click outside it starts a new selection.
    pending_ = item;
    if (std::find(selected_.begin(), selected_.end(), item) == selected_.end())
      SetOnlySelected(item);
  }
}

void CShellTreeCtrl::mouseMoveEvent(QMouseEvent* event) {
  if (leftDown_ && (event->buttons() & Qt::LeftButton) && !selected_.empty()) {
    if (!dragging_ &&
        (event->position().toPoint() - pressPos_).manhattanLength() >=
            QApplication::startDragDistance()) {
      dragging_ = true;
      viewport()->setCursor(Qt::DragCopyCursor);
    }
    if (dragging_) return;
  }
  QTreeWidget::mouseMoveEvent(event);
}

void CShellTreeCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && leftDown_) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (!dragging_ && !(mods & (Qt::ShiftModifier | Qt::ControlModifier)) &&
        selected_.size() >= 2 && pending_)
      SetOnlySelected(pending_);
    if (dragging_) {
      const int count = int(selected_.size());
      const QPoint pos = event->position().toPoint();
      QMetaObject::invokeMethod(
          this, [this, count, pos] { emit itemsDropped(count, pos); }, Qt::QueuedConnection);
      viewport()->unsetCursor();
    }
    dragging_ = false;
    leftDown_ = false;
    pending_ = nullptr;
    PostSelectionChanged();
  }
  QTreeWidget::mouseReleaseEvent(event);
}

void CShellTreeCtrl::keyReleaseEvent(QKeyEvent* event) {
  QTreeWidget::keyReleaseEvent(event);
  const int key = event->key();
  if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Meta ||
      key == Qt::Key_Alt || event->isAutoRepeat())
    return;
  QTreeWidgetItem* caret = currentItem();
  if (caret && caret->parent() && caret->data(0, KindRole).toInt() != kLoadingItem)
    SetOnlySelected(caret);
  else
    ClearSelectionList();
  PostSelectionChanged();
}
