#include "ui/file_list.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QStackedWidget>
#include <QStyle>
#include <QThread>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "imaging/codecs/raw.h"
#include "imaging/fit_image.h"
#include "imaging/image.h"
#include "ui/controls.h"

// ---- probing --------------------------------------------------------------------

EntryProbe ProbeEntry(const QString& path, QSize thumbBox, int quality,
                      const std::atomic<bool>* cancel) {
  EntryProbe probe;
  QFileInfo info(path);
  probe.exists = info.exists();
  if (!probe.exists) return probe;
  if (info.isDir()) {
    probe.isFolder = true;
    probe.valid = true;
    return probe;
  }
  probe.fileSize = quint64(info.size());
  if (cancel && cancel->load()) return probe;

  CImage image;
  bool loaded = false;
  QFile file(path);
  QByteArray data;
  if (file.open(QIODevice::ReadOnly)) data = file.readAll();
  file.close();
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
  const size_t size = size_t(data.size());
  int w = 0, h = 0;
  if (IsRawFile(bytes, size)) {
    // A camera raw file: its embedded preview, as fast as a reduced decode.
    loaded = DecodeRawPreview(image, bytes, size, thumbBox.width(), thumbBox.height(), &w, &h);
  }
  if (loaded) {
    probe.width = w;
    probe.height = h;
  } else {
    // A codec that can decode at a reduced size (a photo) makes the
    // thumbnail that way; the stored size is the picture's size.
    image.SetFrame(0);
    image.SetDecodeSizeHint(CImage::AtLeast(thumbBox.width(), thumbBox.height()));
    loaded = image.Decode(bytes, size, FORMAT_UNKNOWN, path.toStdString());
    if (loaded) {
      probe.width = image.GetStoredWidth();
      probe.height = image.GetStoredHeight();
    }
  }
  probe.valid = loaded;
  if (!loaded || quality == 2 || (cancel && cancel->load())) return probe;
  const int interpolation = quality == 0 ? CImage::IM_BICUBIC2 : CImage::IM_NEAREST_NEIGHBOUR;
  RGBQuad white;
  white.red = white.green = white.blue = 255;
  if (FitImageToBox(image, thumbBox.width(), thumbBox.height(), white, interpolation))
    probe.thumbnail = CImageToQImage(image);
  return probe;
}

QString FormatFileSize(quint64 bytes) {
  QString digits = QString::number(bytes);
  for (int i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
  return digits;
}

QString NormalizeListPath(const QString& path) {
  if (path.isEmpty()) return QString();
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// ---- CFileListModel ------------------------------------------------------------------

CFileListModel::CFileListModel(QObject* parent) : QAbstractTableModel(parent) {
  QFileIconProvider provider;
  folderIcon_ = provider.icon(QFileIconProvider::Folder);
  invalidIcon_ = QIcon::fromTheme(QStringLiteral("image-missing"),
                                  QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

int CFileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(entries_.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QIcon CFileListModel::FileIcon(const QString& path) {
  static QMimeDatabase mime;
  const QMimeType type = mime.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
  const QString key = type.name();
  auto found = mimeIcons_.constFind(key);
  if (found != mimeIcons_.constEnd()) return *found;
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("image-x-generic"));
  if (icon.isNull()) icon = QFileIconProvider().icon(QFileIconProvider::File);
  mimeIcons_.insert(key, icon);
  return icon;
}

QPixmap CFileListModel::LargeFor(const FileListEntry& entry) const {
  if (entry.ready && !entry.valid) return invalidIcon_.pixmap(thumbSize_);
  if (entry.isFolder) return folderIcon_.pixmap(thumbSize_);
  if (!entry.thumbnail.isNull()) return entry.thumbnail;
  if (!entry.ready) {
    // Still being made: an empty white box of the thumbnail's size.
    QPixmap blank(thumbSize_);
    blank.fill(Qt::white);
    return blank;
  }
  return invalidIcon_.pixmap(thumbSize_);
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(entries_.size())) return QVariant();
  const FileListEntry& e = entries_[size_t(index.row())];
  const QFileInfo info(e.path);
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case 0:
        return e.path == QLatin1String("/") ? e.path : info.fileName();
      case 1: {
        QString dir = info.absolutePath();
        if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
        return dir;
      }
      case 2:
        return e.isFolder || !e.ready ? QString() : FormatFileSize(e.fileSize);
      case 3:
        if (e.isFolder || !e.ready || !e.valid) return QString();
        return QStringLiteral("%1 x %2").arg(e.width).arg(e.height);
    }
  } else if (role == Qt::DecorationRole && index.column() == 0) {
    if (large_) return LargeFor(e);
    if (e.ready && !e.valid) return invalidIcon_;
    return e.smallIcon.isNull() ? invalidIcon_ : e.smallIcon;
  } else if (role == Qt::ToolTipRole) {
    return e.path;
  } else if (role == Qt::TextAlignmentRole) {
    if (index.column() == 2) return int(Qt::AlignRight | Qt::AlignVCenter);
  }
  return QVariant();
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  switch (section) {
    case 0:
      return Ui("Файлы и Папки");
    case 1:
      return Ui("Пути");
    case 2:
      return Ui("Размер файла, байт");
    case 3:
      return Ui("Размер изображения");
  }
  return QVariant();
}

void CFileListModel::SetLargeIcons(bool large) {
  if (large_ == large) return;
  large_ = large;
  if (!entries_.empty()) emit dataChanged(index(0, 0), index(int(entries_.size()) - 1, 0));
}

void CFileListModel::Append(FileListEntry entry) {
  const int row = int(entries_.size());
  beginInsertRows(QModelIndex(), row, row);
  entries_.push_back(std::move(entry));
  endInsertRows();
}

void CFileListModel::RemoveRow(int row) {
  if (row < 0 || row >= int(entries_.size())) return;
  beginRemoveRows(QModelIndex(), row, row);
  entries_.erase(entries_.begin() + row);
  endRemoveRows();
}

void CFileListModel::RemoveAll() {
  beginResetModel();
  entries_.clear();
  endResetModel();
}

int CFileListModel::RowOf(quint64 id) const {
  // Rows only move when earlier rows are removed, so look near the end
  // first: new probes report for recent rows.
  for (int i = int(entries_.size()) - 1; i >= 0; --i)
    if (entries_[size_t(i)].id == id) return i;
  return -1;
}

void CFileListModel::EntryChanged(int row) {
  emit dataChanged(index(row, 0), index(row, 3));
}

// ---- CFileList ---------------------------------------------------------------------------

CFileList::CFileList(QWidget* parent) : QWidget(parent) {
  model_ = new CFileListModel(this);
  pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));

  listView_ = new QListView(this);
  listView_->setModel(model_);
  listView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  listView_->setResizeMode(QListView::Adjust);
  listView_->setMovement(QListView::Static);

  tableView_ = new QTreeView(this);
  tableView_->setModel(model_);
  tableView_->setSelectionModel(listView_->selectionModel());
  tableView_->setRootIsDecorated(false);
  tableView_->setItemsExpandable(false);
  tableView_->setUniformRowHeights(true);
  tableView_->setAllColumnsShowFocus(true);
  tableView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tableView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tableView_->setIconSize(QSize(16, 16));
  tableView_->header()->setStretchLastSection(false);
  // The columns' widths, widened where the header text needs more.
  const int kWidths[4] = {110, 240, 100, 120};
  for (int i = 0; i < 4; ++i)
    tableView_->header()->resizeSection(
        i, std::max(kWidths[i], tableView_->header()->sectionSizeHint(i) + 8));

  stack_ = new QStackedWidget(this);
  stack_->addWidget(listView_);
  stack_->addWidget(tableView_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);

  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(listView_),
                                  static_cast<QAbstractItemView*>(tableView_)}) {
    view->setAcceptDrops(true);
    view->viewport()->setAcceptDrops(true);
    view->setDragDropMode(QAbstractItemView::DropOnly);
    view->viewport()->installEventFilter(this);
    view->installEventFilter(this);
    connect(view, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { emit rowActivated(index.row()); });
  }
  connect(listView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { emit selectionChanged(); });
  SetViewMode(kTableView);
}

CFileList::~CFileList() {
  for (auto& cancel : cancels_) *cancel = true;
  pool_.clear();
  pool_.waitForDone();
}

void CFileList::SetThumbnailOptions(QSize box, int quality) {
  model_->SetThumbSize(box);
  quality_ = quality;
  if (mode_ == kThumbView) SetViewMode(kThumbView);
}

void CFileList::SetViewMode(int mode) {
  mode_ = (mode >= kListView && mode <= kThumbView) ? mode : kTableView;
  if (mode_ == kTableView) {
    model_->SetLargeIcons(false);
    stack_->setCurrentWidget(tableView_);
    return;
  }
  if (mode_ == kListView) {
    model_->SetLargeIcons(false);
    listView_->setViewMode(QListView::ListMode);
    listView_->setFlow(QListView::TopToBottom);
    listView_->setWrapping(true);
    listView_->setIconSize(QSize(16, 16));
    listView_->setGridSize(QSize());
    listView_->setSpacing(1);
    // Names differ in length: one size for all (Qt takes it from a single
    // item) cut the longer names down to "...".
    listView_->setUniformItemSizes(false);
  } else {
    model_->SetLargeIcons(true);
    const QSize box = model_->ThumbSize();
    listView_->setViewMode(QListView::IconMode);
    listView_->setFlow(QListView::LeftToRight);
    listView_->setWrapping(true);
    listView_->setIconSize(box);
    listView_->setSpacing(4);
    listView_->setGridSize(QSize(box.width() + 24, box.height() + fontMetrics().height() * 2 + 12));
    listView_->setWordWrap(true);
    listView_->setTextElideMode(Qt::ElideMiddle);
    listView_->setUniformItemSizes(true);  // every cell is the grid's
  }
  listView_->setMovement(QListView::Static);
  listView_->setResizeMode(QListView::Adjust);
  stack_->setCurrentWidget(listView_);
  listView_->doItemsLayout();
}

QAbstractItemView* CFileList::CurrentView() const {
  return mode_ == kTableView ? static_cast<QAbstractItemView*>(tableView_)
                             : static_cast<QAbstractItemView*>(listView_);
}

bool CFileList::Contains(const QString& path) const {
  return paths_.contains(NormalizeListPath(path));
}

bool CFileList::AddPath(const QString& path) {
  const QString normal = NormalizeListPath(path);
  if (normal.isEmpty() || paths_.contains(normal)) return false;
  FileListEntry entry;
  entry.id = nextId_++;
  entry.path = normal;
  const QFileInfo info(normal);
  entry.isFolder = info.isDir();
  entry.smallIcon = entry.isFolder ? model_->FolderIcon() : model_->FileIcon(normal);
  paths_.insert(normal);
  model_->Append(std::move(entry));
  StartProbe(model_->Entries().back());
  emit countChanged(Count());
  return true;
}

int CFileList::AddPaths(const QStringList& paths) {
  int added = 0;
  for (const QString& path : paths)
    if (AddPath(path)) ++added;
  return added;
}

void CFileList::StartProbe(const FileListEntry& entry) {
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  cancels_.insert(entry.id, cancel);
  const bool wasIdle = pendingOrder_.empty();
  pendingOrder_.push_back(entry.id);
  if (wasIdle) emit probing(entry.path);
  const quint64 id = entry.id;
  const QString path = entry.path;
  const QSize box = model_->ThumbSize();
  const int quality = quality_;
  // The list waits for its pool before it goes away, so `this` outlives
  // every task; a report that comes later is dropped with the list.
  pool_.start([this, id, path, box, quality, cancel] {
    if (cancel->load()) return;
    auto probe = std::make_shared<EntryProbe>(ProbeEntry(path, box, quality, cancel.get()));
    if (cancel->load()) return;
    QMetaObject::invokeMethod(
        this, [this, id, probe] { OnProbed(id, *probe); }, Qt::QueuedConnection);
  });
}

void CFileList::OnProbed(quint64 id, const EntryProbe& probe) {
  cancels_.remove(id);
  const int row = model_->RowOf(id);
  if (row >= 0) {
    FileListEntry& e = model_->Entries()[size_t(row)];
    e.ready = true;
    e.isFolder = probe.isFolder;
    e.valid = probe.valid;
    e.fileSize = probe.fileSize;
    e.width = probe.width;
    e.height = probe.height;
    if (!probe.thumbnail.isNull()) e.thumbnail = QPixmap::fromImage(probe.thumbnail);
    if (e.isFolder) e.smallIcon = model_->FolderIcon();
    model_->EntryChanged(row);
  }
  AdvancePending();
}

void CFileList::AdvancePending() {
  const auto& entries = model_->Entries();
  auto isDone = [&](quint64 id) {
    if (!cancels_.contains(id)) return true;
    return false;
  };
  const bool had = !pendingOrder_.empty();
  while (!pendingOrder_.empty() && isDone(pendingOrder_.front())) pendingOrder_.pop_front();
  if (pendingOrder_.empty()) {
    if (had) emit probing(QString());
    return;
  }
  const int row = model_->RowOf(pendingOrder_.front());
  emit probing(row >= 0 ? entries[size_t(row)].path : QString());
}

bool CFileList::HasSelection() const { return listView_->selectionModel()->hasSelection(); }

std::vector<int> CFileList::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : listView_->selectionModel()->selectedRows(0))
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CFileList::SelectRow(int row, bool add) {
  if (row < 0 || row >= Count()) return;
  QItemSelectionModel* sel = listView_->selectionModel();
  const QModelIndex index = model_->index(row, 0);
  sel->select(index, (add ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                         QItemSelectionModel::Rows);
  sel->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void CFileList::RemoveSelected() {
  std::vector<int> rows = SelectedRows();
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const FileListEntry& e = model_->Entries()[size_t(*it)];
    if (auto cancel = cancels_.take(e.id)) *cancel = true;
    paths_.remove(e.path);
    model_->RemoveRow(*it);
  }
  if (!rows.empty()) {
    AdvancePending();
    emit countChanged(Count());
  }
}

void CFileList::RemoveAll() {
  for (auto& cancel : cancels_) *cancel = true;
  cancels_.clear();
  pool_.clear();
  paths_.clear();
  model_->RemoveAll();
  AdvancePending();
  emit countChanged(0);
}

QStringList CFileList::Paths() const {
  QStringList paths;
  for (const FileListEntry& e : model_->Entries()) paths << e.path;
  return paths;
}

std::vector<std::string> CFileList::JobEntries() const {
  std::vector<std::string> entries;
  for (const FileListEntry& e : model_->Entries()) {
    // An entry whose check has not reported yet goes by what exists now;
    // the worker counts a file that does not load as an error.
    const bool valid = e.ready ? e.valid : QFileInfo::exists(e.path);
    if (valid) entries.push_back(e.path.toStdString());
  }
  return entries;
}

bool CFileList::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (drag->mimeData()->hasUrls()) {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
      }
      break;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      QStringList paths;
      for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
      if (!paths.isEmpty()) {
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        emit pathsDropped(paths);
        return true;
      }
      break;
    }
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (watched != listView_ && watched != tableView_) break;
      if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
        emit deleteRequested();
        return true;
      }
      // Enter opens the current row; it must not also reach the dialog's
      // default button.
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        const QModelIndex current = CurrentView()->currentIndex();
        if (current.isValid()) emit rowActivated(current.row());
        return true;
      }
      break;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}
