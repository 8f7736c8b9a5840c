// The folder tree of the main window: the file system with folders and the
// image files the program reads, filled lazily off the user-interface
// thread, with multi-selection of siblings and dragging of the selection.
#pragma once

#include <QTreeWidget>
#include <QHash>
#include <QIcon>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <memory>
#include <vector>

// Width in pixels (0..50) of the red part of the "Loading..." progress bar:
// count * 50 / total when the total is known (total >= 1), otherwise a
// curve that starts at 0 and approaches 50 as the count grows
// (0, 8, 34, 47 for 0, 1, 5, 10).
int LoadingProgressWidth(int total, int count);

// What the tree lists of a folder.
enum TreeEnumFlags : unsigned {
  kTreeIncludeFiles = 1,   // image files besides folders
  kTreeIncludeHidden = 2,  // names starting with a dot
};

struct FolderEntry {
  QString name;
  QString path;
  bool isDir = false;
  QString iconName;         // icon theme name by the file's type
  QString genericIconName;
};

struct FolderListing {
  bool readable = false;  // the folder could be read
  bool fixedDisk = true;  // the folder is on a local fixed disk
  std::vector<FolderEntry> entries;  // folders first, each group by name
};

// Reads a folder as the tree shows it: folders, and with kTreeIncludeFiles
// the files whose extension passes IsSupportedExtension; hidden names only
// with kTreeIncludeHidden; symbolic links only to folders. count grows by one per
// entry taken; cancel stops the reading early. Safe on any thread.
FolderListing ReadFolder(const QString& path, unsigned flags, std::atomic<int>* count = nullptr,
                         const std::atomic<bool>* cancel = nullptr);

// True when path lies on a local fixed disk (not a network, optical or
// removable medium).
bool IsOnFixedDisk(const QString& path);

class CShellTreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  enum ItemKind { kRootItem = 0, kFolderItem = 1, kFileItem = 2, kLoadingItem = 3 };
  enum Roles { PathRole = Qt::UserRole + 1, KindRole, FlagsRole };

  explicit CShellTreeCtrl(QWidget* parent = nullptr, unsigned flags = kTreeIncludeFiles);
  ~CShellTreeCtrl() override;

  // The one top-level item (the computer) with the home folder and the
  // file system's root under it.
  void FillRoot();
  // Opens path: expands the items on the way to it (each folder is read
  // again), selects the item reached and expands it. A path that does not
  // exist selects the top-level item; a step that is not listed (a hidden
  // folder, say) leaves nothing selected.
  void ExpandToPath(const QString& path);
  // After a job: discards everything below the top-level item and opens
  // path again.
  void Refresh(const QString& path);

  // The selected items in selection order (all siblings).
  const std::vector<QTreeWidgetItem*>& SelectedItems() const { return selected_; }
  // File-system path of an item (empty for the top-level item).
  static QString ItemPath(const QTreeWidgetItem* item);
  QStringList SelectedPaths() const;

  QTreeWidgetItem* RootItem() const { return topLevelItemCount() ? topLevelItem(0) : nullptr; }
  // The child of parent with that name, or nullptr.
  static QTreeWidgetItem* FindChild(QTreeWidgetItem* parent, const QString& name);
  // True while a folder is being read or a path being opened.
  bool IsBusy() const { return !jobs_.empty() || pendingItem_ != nullptr; }
  bool IsLoading(const QTreeWidgetItem* item) const;

  // The loading state drawn for a "Loading..." item; false for other items.
  bool LoadingState(const QTreeWidgetItem* loadingItem, int& total, int& count, int& frame) const;
  static QString LoadingText() { return QStringLiteral("Loading..."); }
  static constexpr int kAnimationPeriodMs = 125;

 signals:
  // Posted after a left-button release and after a key release other than
  // Shift and Ctrl, with the number of selected items.
  void selectionChangedCount(int count);
  // Posted when a drag of the selection ends, with the release point in the
  // tree's viewport coordinates.
  void itemsDropped(int count, QPoint releasePos);
  // A folder's reading has ended and its children are in the tree.
  void folderFilled(QTreeWidgetItem* item);
  // ExpandToPath has reached its item (nullptr when it could not).
  void pathOpened(QTreeWidgetItem* item);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  struct LoadJob;

  void OnItemExpanded(QTreeWidgetItem* item);
  void BeginLoad(QTreeWidgetItem* item);
  void FinishLoad(LoadJob* job);
  void OnAnimationTick();
  // Deletes item's children, ending their readings and leaving them out of
  // the selection.
  void DeleteChildren(QTreeWidgetItem* item);
  void ForgetItems(QTreeWidgetItem* ancestor, bool includeAncestor);
  QTreeWidgetItem* MakeItem(const QString& text, const QString& path, ItemKind kind,
                            const QIcon& icon);
  QIcon IconFor(const FolderEntry& entry);
  void ContinueOpening(QTreeWidgetItem* filled);
  void FinishOpening(QTreeWidgetItem* reached);

  // Selection.
  void SetOnlySelected(QTreeWidgetItem* item);
  void ClearSelectionList();
  bool IsSiblingOfSelection(const QTreeWidgetItem* item) const;
  void PostSelectionChanged();

  unsigned flags_;
  std::vector<std::unique_ptr<LoadJob>> jobs_;
  QTimer animation_;
  int frame_ = 0;
  QHash<QString, QIcon> iconCache_;
  QIcon folderIcon_;
  QIcon fileIcon_;
  QIcon blankIcon_;

  // ExpandToPath in progress: the item being read and the names still to go.
  QTreeWidgetItem* pendingItem_ = nullptr;
  QStringList pendingNames_;

  std::vector<QTreeWidgetItem*> selected_;
  QTreeWidgetItem* pending_ = nullptr;  // clicked item of a multi-selection
  bool dragging_ = false;
  bool leftDown_ = false;
  QPoint pressPos_;
};
