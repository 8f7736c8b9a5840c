// The folder tree: the loading progress curve, what a folder shows, opening
// a path, the sibling selection rules and dragging the selection.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "test_support.h"
#include "ui/shell_tree.h"

using testing_support::TempDir;
using testing_support::WriteFileText;

namespace {

TEST(TreeLoading, ProgressBarWidth) {
  struct Case {
    int total, count, width;
  };
  const Case cases[] = {
      {0, 0, 0}, {0, 1, 8}, {0, 5, 34}, {0, 10, 47},  // total unknown: the curve
      {1, 0, 0}, {1, 1, 50}, {4, 1, 12}, {2, 1, 25}, {3, 3, 50},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LoadingProgressWidth(c.total, c.count), c.width) << c.total << " " << c.count;
  // The curve only rises and never passes 50, even for huge counts.
  int last = 0;
  for (int count : {20, 50, 100, 1000, 100000, 2000000000}) {
    const int w = LoadingProgressWidth(0, count);
    EXPECT_GE(w, last);
    EXPECT_LE(w, 50);
    last = w;
  }
}

TEST(TreeLoading, ReadFolderShowsFoldersAndImagesOnly) {
  TempDir dir;
  namespace fs = std::filesystem;
  for (const char* name : {"b.jpg", "A.JPG", "c.jp", "noext", ".h.jpg", "x.txt", "z.Tiff", "p.if"})
    WriteFileText(dir / name, "x");
  fs::create_directory(dir / "sub");
  fs::create_directory(dir / "Sub2");
  fs::create_directory(dir / ".hidden");
  fs::create_symlink(dir / "b.jpg", dir / "link.jpg");
  // Links: to a folder (listed, under its own path), to a file and broken
  // (not listed).
  fs::create_directory_symlink(dir / "sub", dir / "linkdir");
  fs::create_directory_symlink(dir / "gone", dir / "brokendir");

  std::atomic<int> count{0};
  FolderListing listing = ReadFolder(QString::fromStdString(dir.str()), kTreeIncludeFiles, &count);
  EXPECT_TRUE(listing.readable);
  EXPECT_TRUE(listing.fixedDisk);
  QStringList names;
  for (const FolderEntry& e : listing.entries) names << e.name;
  EXPECT_EQ(names, (QStringList{"linkdir", "sub", "Sub2", "A.JPG", "b.jpg", "noext", "z.Tiff"}));
  EXPECT_EQ(count.load(), 7);
  EXPECT_TRUE(listing.entries[0].isDir);
  EXPECT_EQ(listing.entries[0].path, QString::fromStdString(dir / "linkdir"));
  EXPECT_FALSE(listing.entries[3].isDir);
  EXPECT_EQ(listing.entries[4].path, QString::fromStdString(dir / "b.jpg"));

  FolderListing all = ReadFolder(QString::fromStdString(dir.str()),
                                 kTreeIncludeFiles | kTreeIncludeHidden);
  EXPECT_EQ(all.entries.size(), 9u);  // .hidden and .h.jpg as well
  FolderListing folders = ReadFolder(QString::fromStdString(dir.str()), 0);
  EXPECT_EQ(folders.entries.size(), 3u);

  std::atomic<bool> cancel{true};
  EXPECT_TRUE(ReadFolder(QString::fromStdString(dir.str()), kTreeIncludeFiles, nullptr, &cancel)
                  .entries.empty());
  EXPECT_FALSE(ReadFolder(QString::fromStdString(dir / "missing"), kTreeIncludeFiles).readable);
}

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    fs::create_directories(dir_.path() / "pics" / "inner");
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) WriteFileText(dir_ / ("pics/" + std::string(name)), "x");
    fs::create_directories(dir_ / "other");
    WriteFileText(dir_ / "other/x.jpg", "x");
    fs::create_directories(dir_ / "only_text");
    WriteFileText(dir_ / "only_text/notes.txt", "x");
    fs::create_directories(dir_ / ".hidden");
    tree_ = std::make_unique<CShellTreeCtrl>();
    tree_->resize(420, 1600);
    tree_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree_.get()));
    tree_->FillRoot();
  }

  QString Path(const std::string& rel) const { return QString::fromStdString(dir_ / rel); }
  void Open(const std::string& rel) {
    tree_->ExpandToPath(Path(rel));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tree_->IsBusy(); }, 20000));
  }
  QTreeWidgetItem* Item(const char* name) {
    QTreeWidgetItem* pics = PicsItem();
    return CShellTreeCtrl::FindChild(pics, QString::fromLatin1(name));
  }
  QTreeWidgetItem* PicsItem() {
    const auto& sel = tree_->SelectedItems();
    return pics_ ? pics_ : (pics_ = sel.empty() ? nullptr : sel.front());
  }
  void Press(QTreeWidgetItem* item, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    tree_->scrollToItem(item);
    QTest::mousePress(tree_->viewport(), Qt::LeftButton, mods, tree_->visualItemRect(item).center());
  }
  void Release(QTreeWidgetItem* item, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::mouseRelease(tree_->viewport(), Qt::LeftButton, mods,
                        tree_->visualItemRect(item).center());
  }
  void Click(QTreeWidgetItem* item, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Press(item, mods);
    Release(item, mods);
  }
  QStringList SelectedNames() const {
    QStringList names;
    for (QTreeWidgetItem* item : tree_->SelectedItems()) names << item->text(0);
    return names;
  }

  TempDir dir_;
  std::unique_ptr<CShellTreeCtrl> tree_;
  QTreeWidgetItem* pics_ = nullptr;
};

TEST_F(TreeTest, OpensAPathAndShowsItsImages) {
  QSignalSpy opened(tree_.get(), &CShellTreeCtrl::pathOpened);
  Open("pics");
  ASSERT_EQ(tree_->SelectedItems().size(), 1u);
  QTreeWidgetItem* pics = tree_->SelectedItems().front();
  EXPECT_EQ(CShellTreeCtrl::ItemPath(pics), Path("pics"));
  EXPECT_EQ(tree_->currentItem(), pics);
  EXPECT_TRUE(pics->isExpanded());
  QStringList children;
  for (int i = 0; i < pics->childCount(); ++i) children << pics->child(i)->text(0);
  EXPECT_EQ(children, (QStringList{"inner", "a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
  EXPECT_EQ(pics->child(1)->data(0, CShellTreeCtrl::KindRole).toInt(), CShellTreeCtrl::kFileItem);
  EXPECT_GE(opened.count(), 1);

  // A folder with only unsupported files loses its expand button.
  QTreeWidgetItem* top = pics->parent();
  QTreeWidgetItem* onlyText = CShellTreeCtrl::FindChild(top, QStringLiteral("only_text"));
  ASSERT_NE(onlyText, nullptr);
  EXPECT_EQ(onlyText->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  onlyText->setExpanded(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tree_->IsBusy(); }, 10000));
  EXPECT_EQ(onlyText->childCount(), 0);
  EXPECT_EQ(onlyText->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
  // Hidden folders are not listed.
  EXPECT_EQ(CShellTreeCtrl::FindChild(top, QStringLiteral(".hidden")), nullptr);
}

TEST_F(TreeTest, MissingAndUnlistedPaths) {
  Open("no/such/folder");
  EXPECT_EQ(tree_->currentItem(), tree_->RootItem());
  EXPECT_TRUE(tree_->SelectedItems().empty());
  EXPECT_TRUE(tree_->RootItem()->isExpanded());

  QSignalSpy opened(tree_.get(), &CShellTreeCtrl::pathOpened);
  Open(".hidden");
  EXPECT_TRUE(tree_->SelectedItems().empty());
  EXPECT_EQ(tree_->currentItem(), nullptr);
  ASSERT_EQ(opened.count(), 1);
  EXPECT_EQ(opened.at(0).at(0).value<QTreeWidgetItem*>(), nullptr);
}

TEST_F(TreeTest, LoadingItemWhileAFolderIsRead) {
  Open("pics");
  tree_->Refresh(Path("other"));
  // Right after the request the folder shows the temporary child.
  QTreeWidgetItem* fileSystem = tree_->RootItem()->child(1);
  ASSERT_EQ(fileSystem->childCount(), 1);
  QTreeWidgetItem* loading = fileSystem->child(0);
  EXPECT_EQ(loading->text(0), CShellTreeCtrl::LoadingText());
  int total = -1, count = -1, frame = -1;
  EXPECT_TRUE(tree_->LoadingState(loading, total, count, frame));
  EXPECT_FALSE(tree_->grab().isNull());  // drawing the bar and the wheel
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tree_->IsBusy(); }, 20000));
  ASSERT_EQ(tree_->SelectedItems().size(), 1u);
  EXPECT_EQ(CShellTreeCtrl::ItemPath(tree_->SelectedItems().front()), Path("other"));
}

TEST_F(TreeTest, ThousandsOfFilesDoNotStopTheWindow) {
  std::filesystem::create_directories(dir_.path() / "big");
  for (int i = 0; i < 3000; ++i) WriteFileText(dir_ / ("big/f" + std::to_string(10000 + i) + ".jpg"), "");
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, longest = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  tick.start(10);
  Open("big");
  ASSERT_EQ(tree_->SelectedItems().size(), 1u);
  EXPECT_EQ(tree_->SelectedItems().front()->childCount(), 3000);
  EXPECT_LT(longest, 500);
}

TEST_F(TreeTest, SiblingSelectionRules) {
  Open("pics");
  QTreeWidgetItem* a = Item("a.jpg");
  QTreeWidgetItem* b = Item("b.jpg");
  QTreeWidgetItem* c = Item("c.jpg");
  QTreeWidgetItem* d = Item("d.jpg");
  ASSERT_TRUE(a && b && c && d);
  QTreeWidgetItem* otherFolder = CShellTreeCtrl::FindChild(PicsItem()->parent(), "other");
  ASSERT_NE(otherFolder, nullptr);

  QSignalSpy changed(tree_.get(), &CShellTreeCtrl::selectionChangedCount);
  Click(a);
  EXPECT_EQ(SelectedNames(), QStringList{"a.jpg"});
  Click(c, Qt::ControlModifier);
  EXPECT_EQ(SelectedNames(), (QStringList{"a.jpg", "c.jpg"}));
  // Ctrl on an item under another parent changes nothing.
  Click(otherFolder, Qt::ControlModifier);
  EXPECT_EQ(SelectedNames(), (QStringList{"a.jpg", "c.jpg"}));
  // Shift: the siblings from the first listed item to this one.
  Click(d, Qt::ShiftModifier);
  EXPECT_EQ(SelectedNames(), (QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
  EXPECT_TRUE(b->isSelected());
  // Ctrl toggles an item out again.
  Click(b, Qt::ControlModifier);
  EXPECT_EQ(SelectedNames(), (QStringList{"a.jpg", "c.jpg", "d.jpg"}));
  EXPECT_FALSE(b->isSelected());
  // A plain press inside the selection keeps it until the release.
  Press(c);
  EXPECT_EQ(SelectedNames().size(), 3);
  Release(c);
  EXPECT_EQ(SelectedNames(), QStringList{"c.jpg"});
  // Shift from a single item makes a range too.
  Click(a, Qt::ShiftModifier);
  EXPECT_EQ(SelectedNames(), (QStringList{"c.jpg", "b.jpg", "a.jpg"}));
  // The top-level item takes no part.
  Click(tree_->RootItem());
  EXPECT_TRUE(SelectedNames().isEmpty());

  ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() >= 8; }, 2000));
  EXPECT_EQ(changed.last().at(0).toInt(), 0);

  // A key release makes the caret the only selected item.
  Click(a);
  QTest::keyClick(tree_.get(), Qt::Key_Down);
  EXPECT_EQ(SelectedNames(), QStringList{"b.jpg"});
  QTest::keyClick(tree_.get(), Qt::Key_Shift);  // Shift alone changes nothing
  EXPECT_EQ(SelectedNames(), QStringList{"b.jpg"});
}

TEST_F(TreeTest, DraggingTheSelectionReportsTheReleasePoint) {
  Open("pics");
  QTreeWidgetItem* a = Item("a.jpg");
  QTreeWidgetItem* b = Item("b.jpg");
  Click(a);
  Click(b, Qt::ControlModifier);
  QCoreApplication::processEvents();  // the clicks' own reports
  QSignalSpy dropped(tree_.get(), &CShellTreeCtrl::itemsDropped);
  QSignalSpy changed(tree_.get(), &CShellTreeCtrl::selectionChangedCount);

  Press(a);
  const QPoint start = tree_->visualItemRect(a).center();
  const QPoint far = start + QPoint(300, 40);
  QMouseEvent move(QEvent::MouseMove, QPointF(start + QPoint(40, 0)),
                   QPointF(tree_->viewport()->mapToGlobal(start + QPoint(40, 0))), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(tree_->viewport(), &move);
  QTest::mouseRelease(tree_->viewport(), Qt::LeftButton, Qt::NoModifier, far);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dropped.count() == 1; }, 2000));
  EXPECT_EQ(dropped.at(0).at(0).toInt(), 2);
  EXPECT_EQ(dropped.at(0).at(1).toPoint(), far);
  // The selection survives the drag, and the change follows the drop.
  EXPECT_EQ(SelectedNames(), (QStringList{"a.jpg", "b.jpg"}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() == 1; }, 2000));
  EXPECT_EQ(changed.at(0).at(0).toInt(), 2);
  EXPECT_EQ(tree_->SelectedPaths(), (QStringList{Path("pics/a.jpg"), Path("pics/b.jpg")}));
}

}  // namespace
