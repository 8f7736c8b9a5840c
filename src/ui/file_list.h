// The main window's list of files and folders to convert, in three views
// (list, table, thumbnails). Whether an entry is valid, its sizes and its
// thumbnail are found off the user-interface thread, so that adding
// hundreds of photos never stops the window.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QThreadPool>
#include <QWidget>
#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class QListView;
class QTreeView;
class QStackedWidget;
class QAbstractItemView;
class QItemSelectionModel;

// What is learnt about a path for the list (safe on any thread).
struct EntryProbe {
  bool exists = false;
  bool isFolder = false;
  bool valid = false;   // exists and, for a file, the image loads
  quint64 fileSize = 0;
  int width = 0;
  int height = 0;
  QImage thumbnail;     // box-sized on white; null for folders, failures and quality 2
};

// Probes path: a folder is valid when it exists; a file when the image
// library loads it (JPEG files are decoded at a reduced scale, enough for
// the box). quality: 0 high (soft bicubic), 1 low (nearest neighbour),
// 2 no thumbnail.
EntryProbe ProbeEntry(const QString& path, QSize thumbBox, int quality,
                      const std::atomic<bool>* cancel = nullptr);

// "1,234,567": the digits grouped by three from the right with commas.
QString FormatFileSize(quint64 bytes);

// The form in which the list keeps and compares paths: absolute, cleaned,
// without a trailing slash (except "/").
QString NormalizeListPath(const QString& path);

struct FileListEntry {
  quint64 id = 0;
  QString path;
  bool ready = false;  // the probe has reported
  bool isFolder = false;
  bool valid = false;
  quint64 fileSize = 0;
  int width = 0;
  int height = 0;
  QIcon smallIcon;
  QPixmap thumbnail;  // null when there is none
};

// Owner data of the three views: one row per entry, four columns.
class CFileListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit CFileListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void SetLargeIcons(bool large);
  void SetThumbSize(QSize size) { thumbSize_ = size; }
  QSize ThumbSize() const { return thumbSize_; }

  std::vector<FileListEntry>& Entries() { return entries_; }
  const std::vector<FileListEntry>& Entries() const { return entries_; }
  void Append(FileListEntry entry);
  void RemoveRow(int row);
  void RemoveAll();
  int RowOf(quint64 id) const;
  void EntryChanged(int row);

  // Icons: a folder, the invalid-entry icon, the one of a file's type.
  QIcon FolderIcon() const { return folderIcon_; }
  QIcon InvalidIcon() const { return invalidIcon_; }
  QIcon FileIcon(const QString& path);

 private:
  QPixmap LargeFor(const FileListEntry& entry) const;

  std::vector<FileListEntry> entries_;
  bool large_ = false;
  QSize thumbSize_{100, 75};
  QIcon folderIcon_;
  QIcon invalidIcon_;
  QHash<QString, QIcon> mimeIcons_;
};

class CFileList : public QWidget {
  Q_OBJECT
 public:
  enum ViewModeValue { kListView = 0, kTableView = 1, kThumbView = 2 };

  explicit CFileList(QWidget* parent = nullptr);
  ~CFileList() override;

  void SetThumbnailOptions(QSize box, int quality);
  QSize ThumbBox() const { return model_->ThumbSize(); }

  // Adds a path unless it is listed already (same normalised path); true
  // when a row was added. Its probe starts at once on a worker thread.
  bool AddPath(const QString& path);
  int AddPaths(const QStringList& paths);
  bool Contains(const QString& path) const;

  // Removes the selected rows, from the last to the first.
  void RemoveSelected();
  void RemoveAll();

  int Count() const { return int(model_->Entries().size()); }
  bool HasSelection() const;
  std::vector<int> SelectedRows() const;
  void SelectRow(int row, bool add = false);
  const FileListEntry& Entry(int row) const { return model_->Entries()[size_t(row)]; }
  QStringList Paths() const;
  // Paths of the valid entries, as the job takes them.
  std::vector<std::string> JobEntries() const;

  void SetViewMode(int mode);
  int ViewMode() const { return mode_; }
  QAbstractItemView* CurrentView() const;
  QListView* ListView() const { return listView_; }
  QTreeView* TableView() const { return tableView_; }
  CFileListModel* Model() const { return model_; }

  // True while entries are being probed.
  bool IsBusy() const { return !pendingOrder_.empty(); }

 signals:
  void countChanged(int count);
  void selectionChanged();
  // A row was activated (double click, Enter).
  void rowActivated(int row);
  // The Delete key in the list.
  void deleteRequested();
  // Paths dropped from a file manager (text/uri-list).
  void pathsDropped(const QStringList& paths);
  // The path now being probed, or empty when all are done.
  void probing(const QString& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void StartProbe(const FileListEntry& entry);
  void OnProbed(quint64 id, const EntryProbe& probe);
  void AdvancePending();

  CFileListModel* model_;
  QStackedWidget* stack_;
  QListView* listView_;
  QTreeView* tableView_;
  int mode_ = kTableView;
  int quality_ = 1;
  quint64 nextId_ = 1;
  QSet<QString> paths_;
  std::deque<quint64> pendingOrder_;  // probes not reported yet, in list order
  QHash<quint64, std::shared_ptr<std::atomic<bool>>> cancels_;
  QThreadPool pool_;
};
