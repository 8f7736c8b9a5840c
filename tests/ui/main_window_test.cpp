// The main window: enabling rules, the list's adding and removing, the stage
// indicators, the views, a whole job through the window with its progress
// dialog and stop button, settings files, the language command, closing,
// and the English texts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <memory>

#include "engine/worker.h"
#include "services/strings.h"
#include "settings/settings.h"
#include "test_support.h"
#include "ui/about_dlg.h"
#include "ui/file_list.h"
#include "ui/format_dialogs.h"
#include "ui/main_window.h"
#include "ui/progress_dlg.h"
#include "ui/settings_page.h"
#include "ui/shell_tree.h"

using testing_support::ImConvert;
using testing_support::ImIdentify;
using testing_support::Quote;
using testing_support::RunOutput;
using testing_support::TempDir;

namespace {

// A filter that notes the main window it was handed and changes nothing.
std::atomic<uint32_t> g_filterWindow{0xFFFFFFFFu};
int NoteMainWindow(void**, LumaroFilterParams* params) {
  g_filterWindow = params->MainWindow;
  return 0;
}

struct Message {
  QString text, caption;
  Notice notice;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedServices_ = GetDesktopServices();
    savedInteractive_ = CDesktopHost::InteractiveHook;
    savedCwd_ = QDir::currentPath();
    CSettings& s = GetSettings();
    s.ResetToDefaults();
    s.Language = 0;
    s.LastOpenFolder = dir_.str();
    s.OutputFolder = dir_ / "out";
    CDesktopHost::MessageBoxHook = [this](const QString& text, const QString& caption,
                                          Notice notice, Answer) {
      messages_.push_back({text, caption, notice});
      return notice == Notice::Question ? Answer::Yes : Answer::Ok;
    };
    CLumaro3Dlg::OpenUrlHook = [this](const QUrl& url) {
      opened_.push_back(url);
      return true;
    };
  }
  void TearDown() override {
    window_.reset();
    CDesktopHost::MessageBoxHook = nullptr;
    CDesktopHost::InteractiveHook = savedInteractive_;
    CLumaro3Dlg::OpenUrlHook = nullptr;
    GetDesktopServices() = savedServices_;
    GetSettings().ResetToDefaults();
    QDir::setCurrent(savedCwd_);  // the window made the temporary folder current
  }

  CLumaro3Dlg& Window() {
    if (!window_) {
      window_ = std::make_unique<CLumaro3Dlg>(&filters_);
      window_->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    return *window_;
  }
  void WaitForList() {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window().FileList()->IsBusy(); }, 20000));
  }
  std::string Image(const std::string& name, const std::string& args) {
    const std::string path = dir_ / name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    EXPECT_EQ(testing_support::Run(std::string(ImConvert()) + " " + args + " " + Quote(path)), 0);
    return path;
  }
  static QString Q(const std::string& s) { return QString::fromStdString(s); }

  TempDir dir_;
  CFilterList filters_;
  std::unique_ptr<CLumaro3Dlg> window_;
  std::vector<Message> messages_;
  std::vector<QUrl> opened_;
  DesktopServices savedServices_;
  std::function<int(InteractiveRequest&, QWidget*)> savedInteractive_;
  QString savedCwd_;
};

TEST_F(MainWindowTest, EnablingRules) {
  GetDesktopServices().mailAvailable = [] { return false; };
  GetDesktopServices().renameDialog = nullptr;
  CLumaro3Dlg& w = Window();
  EXPECT_FALSE(w.ConvertButton()->isEnabled());
  EXPECT_FALSE(w.RemoveAllButton()->isEnabled());
  EXPECT_FALSE(w.RemoveButton()->isEnabled());

  const std::string a = Image("a.png", "-size 8x8 xc:red");
  EXPECT_EQ(w.AddPaths({Q(a)}), 1);
  EXPECT_TRUE(w.ConvertButton()->isEnabled());
  EXPECT_TRUE(w.RemoveAllButton()->isEnabled());
  EXPECT_FALSE(w.RemoveButton()->isEnabled());  // nothing selected
  w.FileList()->SelectRow(0);
  EXPECT_TRUE(w.RemoveButton()->isEnabled());

  // Rename: the pattern, its "..." and "Не сквозное" follow the check box.
  EXPECT_FALSE(w.PatternEdit()->isEnabled());
  EXPECT_FALSE(w.RenameThroughBox()->isEnabled());
  w.UseRenameBox()->click();
  EXPECT_EQ(GetSettings().UseRename, 1);
  EXPECT_TRUE(w.PatternEdit()->isEnabled());
  EXPECT_TRUE(w.RenameThroughBox()->isEnabled());
  EXPECT_FALSE(w.PatternBrowseButton()->isEnabled());  // no rename dialog installed
  GetDesktopServices().renameDialog = [](QWidget*) { GetSettings().RenamePattern = "Pic_##"; };
  w.ApplySettingsRules();
  EXPECT_TRUE(w.PatternBrowseButton()->isEnabled());
  w.PatternBrowseButton()->click();
  EXPECT_EQ(w.PatternEdit()->text(), QStringLiteral("Pic_##"));
  // Blanks typed around the pattern are not stored (they would end up in
  // every output name).
  w.PatternEdit()->setText(QStringLiteral("  a_### "));
  w.StoreControls();
  EXPECT_EQ(GetSettings().RenamePattern, "a_###");

  // The kept structure follows "Включая подпапки".
  EXPECT_FALSE(w.KeepStructureBox()->isEnabled());
  w.IncludingSubfoldersBox()->click();
  EXPECT_TRUE(w.KeepStructureBox()->isEnabled());

  // Format options and the description follow the format.
  QComboBox* format = w.FormatCombo();
  ASSERT_EQ(format->count(), 9);
  format->setCurrentIndex(0);
  emit format->activated(0);
  EXPECT_TRUE(w.FormatSetupButton()->isEnabled());
  const QString jpegText = w.DescriptionLabel()->text();
  EXPECT_FALSE(jpegText.isEmpty());
  format->setCurrentIndex(3);  // BMP has no options
  emit format->activated(3);
  EXPECT_EQ(GetSettings().OutputFormat, 3);
  EXPECT_FALSE(w.FormatSetupButton()->isEnabled());
  EXPECT_NE(w.DescriptionLabel()->text(), jpegText);

  // Mailing only when the service says it is available.
  EXPECT_FALSE(w.SendMailBox()->isEnabled());
  GetDesktopServices().mailAvailable = [] { return true; };
  w.ApplySettingsRules();
  EXPECT_TRUE(w.SendMailBox()->isEnabled());

  w.RemoveAll();
  EXPECT_FALSE(w.ConvertButton()->isEnabled());
  EXPECT_FALSE(w.RemoveAllButton()->isEnabled());
}

TEST_F(MainWindowTest, AddingTheSamePathTwiceAndDrops) {
  CLumaro3Dlg& w = Window();
  const std::string a = Image("pics/a.png", "-size 8x8 xc:red");
  const std::string txt = dir_ / "notes.txt";
  testing_support::WriteFileText(txt, "text");
  EXPECT_EQ(w.AddPaths({Q(a)}), 1);
  EXPECT_EQ(w.AddPaths({Q(a), Q(dir_ / "pics/./a.png"), Q(dir_ / "pics/../pics/a.png")}), 0);
  EXPECT_EQ(w.FileList()->Count(), 1);
  EXPECT_EQ(GetSettings().LastOpenFolder, dir_ / "pics");

  // Drops take folders and supported images only.
  EXPECT_EQ(w.AddDroppedPaths({Q(txt), Q(dir_ / "pics"), Q(a)}), 1);
  EXPECT_EQ(w.FileList()->Count(), 2);
  // A drop from a file manager arrives as a list of URLs.
  {
    std::filesystem::create_directories(dir_.path() / "dropped");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Q(dir_ / "dropped")), QUrl::fromLocalFile(Q(txt))});
    QWidget* viewport = w.FileList()->CurrentView()->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_EQ(w.FileList()->Count(), 3);
    EXPECT_EQ(w.FileList()->Paths().back(), Q(dir_ / "dropped"));
    w.FileList()->SelectRow(2);
    w.RemoveSelected();
  }
  // The file dialog takes any file; one that does not load is listed invalid.
  EXPECT_EQ(w.AddPaths({Q(txt)}), 1);
  WaitForList();
  const CFileList* list = w.FileList();
  ASSERT_EQ(list->Count(), 3);
  EXPECT_TRUE(list->Entry(0).valid);
  EXPECT_TRUE(list->Entry(1).isFolder);
  EXPECT_FALSE(list->Entry(2).valid);
  const auto job = list->JobEntries();
  EXPECT_EQ(job, (std::vector<std::string>{a, dir_ / "pics"}));
  // The table's texts.
  const QAbstractItemModel* model = list->Model();
  EXPECT_EQ(model->data(model->index(0, 0)).toString(), QStringLiteral("a.png"));
  EXPECT_EQ(model->data(model->index(0, 1)).toString(), Q(dir_ / "pics/"));
  EXPECT_EQ(model->data(model->index(0, 3)).toString(), QStringLiteral("8 x 8"));
  EXPECT_TRUE(model->data(model->index(1, 2)).toString().isEmpty());  // folders have no size
}

TEST_F(MainWindowTest, RemovingRowsTwoAndFiveOfSix) {
  CLumaro3Dlg& w = Window();
  QStringList paths;
  for (int i = 0; i < 6; ++i)
    paths << Q(Image("r" + std::to_string(i) + ".png",
                     "-size " + std::to_string(10 + i) + "x10 xc:blue"));
  EXPECT_EQ(w.AddPaths(paths), 6);
  WaitForList();
  CFileList* list = w.FileList();
  list->SelectRow(1);
  list->SelectRow(4, true);
  w.RemoveSelected();
  ASSERT_EQ(list->Count(), 4);
  EXPECT_EQ(list->Paths(), (QStringList{paths[0], paths[2], paths[3], paths[5]}));
  // Each row keeps its own image and sizes.
  const int widths[4] = {10, 12, 13, 15};
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(list->Entry(row).width, widths[row]);
    EXPECT_FALSE(list->Entry(row).thumbnail.isNull());
  }
  EXPECT_FALSE(w.RemoveButton()->isEnabled());
  // The Delete key removes the selection as well.
  list->SelectRow(0);
  QTest::keyClick(list->CurrentView(), Qt::Key_Delete);
  EXPECT_EQ(list->Paths(), (QStringList{paths[2], paths[3], paths[5]}));
}

// Adding hundreds of photos returns at once; their checks and thumbnails
// are made while the window keeps handling events.
TEST_F(MainWindowTest, FiveHundredPhotosKeepTheWindowResponsive) {
  const std::string first = Image("many/p000.jpg", "-size 1600x1200 gradient:red-blue");
  QStringList paths{Q(first)};
  for (int i = 1; i < 500; ++i) {
    const std::string copy = dir_ / ("many/p" + std::to_string(1000 + i).substr(1) + ".jpg");
    std::filesystem::copy_file(first, copy);
    paths << Q(copy);
  }
  CLumaro3Dlg& w = Window();
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
  EXPECT_EQ(w.AddPaths(paths), 500);
  EXPECT_LT(clock.elapsed(), 2000);
  last = clock.elapsed();
  EXPECT_TRUE(w.FileList()->IsBusy());
  EXPECT_TRUE(w.windowTitle().contains(QStringLiteral("подготовка эскиза")));
  WaitForList();
  EXPECT_LT(longest, 500);
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Lumaro III"));
  for (int row : {0, 250, 499}) {
    EXPECT_TRUE(w.FileList()->Entry(row).valid);
    EXPECT_EQ(w.FileList()->Entry(row).width, 1600);
    EXPECT_EQ(w.FileList()->Entry(row).thumbnail.size(), QSize(100, 75));
  }
}

TEST_F(MainWindowTest, StageIndicators) {
  CSettings& s = GetSettings();
  auto states = StageStates(s, nullptr);
  EXPECT_EQ(states, (std::array<bool, 5>{false, false, false, false, false}));
  struct Case {
    std::function<void(CSettings&)> change;
    int stage;
  };
  const Case cases[] = {
      {[](CSettings& c) { c.Percents = 50; }, 0},
      {[](CSettings& c) { c.PercentsOrPixels = 1; }, 0},
      {[](CSettings& c) { c.RotationMode = 0; }, 1},
      {[](CSettings& c) { c.FlipMode = 1; }, 1},
      {[](CSettings& c) { c.KeepExisting = 1; }, 2},
      {[](CSettings& c) { c.UseUserComment = 1; }, 2},
      {[](CSettings& c) { c.WatermarksOn = 1; }, 3},
  };
  for (const Case& c : cases) {
    s.ResetToDefaults();
    c.change(s);
    states = StageStates(s, nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(states[size_t(i)], i == c.stage) << c.stage << " " << i;
  }
  s.ResetToDefaults();
  CFilterList filters;
  filters.push_back(std::make_unique<CFilterEntry>());
  filters.push_back(std::make_unique<CFilterEntry>());
  EXPECT_FALSE(StageStates(s, &filters)[4]);
  filters[1]->Enabled = true;
  EXPECT_TRUE(StageStates(s, &filters)[4]);

  // The window's boxes show the states and cannot be toggled.
  CLumaro3Dlg& w = Window();
  s.WatermarksOn = 1;
  s.FlipMode = 0;
  w.RefreshStageIndicators();
  EXPECT_TRUE(w.StageIndicator(3)->isChecked());
  EXPECT_TRUE(w.StageIndicator(1)->isChecked());
  EXPECT_FALSE(w.StageIndicator(0)->isChecked());
  QTest::mouseClick(w.StageIndicator(0), Qt::LeftButton);
  EXPECT_FALSE(w.StageIndicator(0)->isChecked());
  // A page's change reaches the boxes through its (queued) signal.
  s.WatermarksOn = 0;
  ASSERT_FALSE(w.Pages().empty());
  emit w.Pages()[3]->stagesChanged();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !w.StageIndicator(3)->isChecked(); }, 1000));
}

TEST_F(MainWindowTest, StageButtonsAndThumbnailView) {
  GetSettings().SysPropsThumbsSize = 20;
  GetSettings().LastTabPage = 2;
  CLumaro3Dlg& w = Window();
  EXPECT_EQ(w.CurrentPage(), 2);
  EXPECT_EQ(w.FindVisiblePage(), 2);
  w.StageButton(4)->click();
  EXPECT_EQ(w.CurrentPage(), 4);
  EXPECT_EQ(w.FindVisiblePage(), 4);
  EXPECT_FALSE(w.Pages()[2]->isVisible());

  EXPECT_EQ(GetSettings().ThumbWidth, 120);
  EXPECT_EQ(GetSettings().ThumbHeight, 95);
  const std::string a = Image("t.png", "-size 300x100 xc:red");
  w.AddPaths({Q(a)});
  WaitForList();
  w.SetViewMode(2);
  EXPECT_EQ(GetSettings().ViewMode, 2);
  QListView* view = w.FileList()->ListView();
  EXPECT_EQ(w.FileList()->CurrentView(), view);
  EXPECT_EQ(view->viewMode(), QListView::IconMode);
  EXPECT_EQ(view->iconSize(), QSize(120, 95));
  const QVariant large = w.FileList()->Model()->data(w.FileList()->Model()->index(0, 0),
                                                     Qt::DecorationRole);
  EXPECT_EQ(large.value<QPixmap>().size(), QSize(120, 95));
  w.SetViewMode(0);
  EXPECT_EQ(view->viewMode(), QListView::ListMode);
  // "Список" shows whole names, however long, whichever row is current.
  const QString longName = QStringLiteral("a_rather_long_name_for_a_picture_in_the_list.png");
  w.AddPaths({Q(Image(longName.toStdString(), "-size 8x8 xc:red")),
              Q(Image("u.png", "-size 8x8 xc:red"))});
  WaitForList();
  w.FileList()->SelectRow(0);
  view->doItemsLayout();
  const QModelIndex longRow = w.FileList()->Model()->index(1, 0);
  EXPECT_EQ(longRow.data().toString(), longName);
  EXPECT_GE(view->visualRect(longRow).width(),
            view->fontMetrics().horizontalAdvance(longName) + view->iconSize().width());
  w.SetViewMode(1);
  EXPECT_EQ(w.FileList()->CurrentView(), w.FileList()->TableView());
}

TEST_F(MainWindowTest, ConvertThroughTheWindow) {
  Image("src/a.png", "-size 64x48 gradient:red-blue");
  Image("src/b.jpg", "-size 40x30 xc:green");
  CSettings& s = GetSettings();
  s.OutputFolder = dir_ / "out/deep/er";
  s.OutputFormat = 3;  // BMP
  s.OpenFolderOnFinish = 1;
  // Interactive, and the first file's dialog says "do not show again".
  s.Interactive = 1;
  int dialogs = 0;
  CDesktopHost::InteractiveHook = [&](InteractiveRequest& request, QWidget*) {
    ++dialogs;
    request.dontShowAgain = true;
    return 2;
  };
  // An enabled filter gets the window's native id.
  auto filter = std::make_unique<CFilterEntry>();
  filter->Name = "Note";
  filter->FilterProc = NoteMainWindow;
  filter->Enabled = true;
  filters_.push_back(std::move(filter));
  CLumaro3Dlg& w = Window();
  EXPECT_TRUE(w.InteractiveBox()->isChecked());
  w.AddPaths({Q(dir_ / "src")});
  WaitForList();
  QSignalSpy ended(&w, &CLumaro3Dlg::jobEnded);

  w.Convert();
  // The progress dialog shows and the main window is disabled at once.
  EXPECT_TRUE(w.Progress()->IsShown());
  EXPECT_FALSE(w.isEnabled());
  EXPECT_EQ(w.Progress()->RangeHigh(), 2);
  EXPECT_FALSE(w.ConvertButton()->isEnabled());
  w.Convert();  // refused while the job runs
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 30000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !opened_.empty(); }, 5000));

  EXPECT_FALSE(w.Progress()->IsShown());
  EXPECT_TRUE(w.isEnabled());
  EXPECT_TRUE(w.ConvertButton()->isEnabled());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("Преобразовано 2 файлов, ошибок 0, пропущено 0"));
  EXPECT_EQ(messages_[0].caption, QStringLiteral("Результаты конвертирования"));
  EXPECT_EQ(opened_[0], QUrl::fromLocalFile(Q(s.OutputFolder)));
  EXPECT_TRUE(w.Job().writtenList.empty());
  for (const char* name : {"a.bmp", "b.bmp"}) {
    const std::string out = dir_ / ("out/deep/er/" + std::string(name));
    ASSERT_TRUE(std::filesystem::exists(out)) << out;
    EXPECT_EQ(RunOutput(std::string(ImIdentify()) + " -format %m " + Quote(out)).substr(0, 3),
              "BMP");
  }
  EXPECT_EQ(RunOutput(std::string(ImIdentify()) + " -format %wx%h " +
                      Quote(dir_ / "out/deep/er/a.bmp")),
            "64x48");
  // The greyed language menu stays greyed once the window is enabled again.
  EXPECT_FALSE(w.LanguageMenu()->menuAction()->isEnabled());
  EXPECT_NE(g_filterWindow.load(), 0u);
  EXPECT_EQ(g_filterWindow.load(), uint32_t(w.winId()));
  // "Do not show again" sticks: the box follows, and closing does not
  // write the old value back.
  EXPECT_EQ(dialogs, 1);
  EXPECT_FALSE(w.InteractiveBox()->isChecked());
  w.close();
  EXPECT_EQ(s.Interactive, 0);
}

TEST_F(MainWindowTest, StopEndsTheJobEarly) {
  for (int i = 0; i < 6; ++i)
    Image("big/p" + std::to_string(i) + ".jpg", "-size 2400x1800 gradient:red-blue -quality 95");
  CSettings& s = GetSettings();
  s.OpenFolderOnFinish = 1;
  s.OutputFormat = 1;  // PNG: slow enough to stop in the middle
  CLumaro3Dlg& w = Window();
  w.AddPaths({Q(dir_ / "big")});
  WaitForList();
  QSignalSpy ended(&w, &CLumaro3Dlg::jobEnded);
  w.Convert();
  ASSERT_TRUE(w.Progress()->IsShown());
  w.Progress()->StopButton()->click();
  // The window is usable again once the stop has been handled.
  EXPECT_FALSE(w.Progress()->IsShown());
  EXPECT_TRUE(w.isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 60000));
  QTest::qWait(50);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].caption, QStringLiteral("Lumaro III"));  // the stopped job's summary
  EXPECT_LT(ConvertedCount.load(), 6);
  EXPECT_TRUE(opened_.empty());  // no job end after a stop
}

TEST_F(MainWindowTest, SettingsFilesAndLanguage) {
  CLumaro3Dlg& w = Window();
  w.UseRenameBox()->click();
  const QString file = Q(dir_ / "saved.ini");
  ASSERT_TRUE(w.SaveSettingsTo(file));
  EXPECT_NE(testing_support::ReadFileText(file.toStdString()).find("UseRename=1"),
            std::string::npos);
  w.UseRenameBox()->click();
  EXPECT_EQ(GetSettings().UseRename, 0);
  ASSERT_TRUE(w.LoadSettingsFrom(file));
  EXPECT_TRUE(w.UseRenameBox()->isChecked());
  EXPECT_TRUE(w.PatternEdit()->isEnabled());

  // A file that is not a settings file is left alone and the user is told.
  const std::string text = dir_ / "readme.txt";
  testing_support::WriteFileText(text, "just some words\n");
  EXPECT_FALSE(w.LoadSettingsFrom(Q(text)));
  EXPECT_EQ(testing_support::ReadFileText(text), "just some words\n");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].notice, Notice::Warning);
  // Messages of the start-up (a duplicate filter GUID) show as error boxes.
  w.ShowStartupMessages({"Фильтр с таким GUID уже существует. Фильтр B загружен не будет."});
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1].text, QStringLiteral("Фильтр с таким GUID уже существует. Фильтр B загружен не будет."));
  EXPECT_EQ(messages_[1].notice, Notice::Error);
  messages_.pop_back();
  // A failed save is reported.
  EXPECT_FALSE(w.SaveSettingsTo(Q(dir_ / "no/such/folder/s.ini")));
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1].notice, Notice::Error);

  // The language commands set the value and ask for a restart.
  EXPECT_FALSE(w.LanguageMenu()->menuAction()->isEnabled());  // greyed on the bar
  w.LanguageAction(1)->trigger();
  EXPECT_EQ(GetSettings().Language, 1);
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_EQ(messages_[2].text, QStringLiteral("Для изменения языка необходимо перезапустить приложение."));
  emit w.LanguageMenu()->aboutToShow();
  EXPECT_TRUE(w.LanguageAction(1)->isChecked());
  EXPECT_FALSE(w.LanguageAction(0)->isChecked());
  w.LanguageAction(0)->trigger();
  EXPECT_EQ(GetSettings().Language, 0);

  EXPECT_EQ(QtFileFilter(ResString(IDS_SETTINGS_FILTER)),
            QStringLiteral("Файлы настроек (*.ini);;Все файлы (*.*)"));
  EXPECT_TRUE(QtFileFilter(ResString(IDS_OPEN_FILTER))
                  .startsWith(QStringLiteral("Изображения (*.bmp *.gif *.jpg ")));
}

TEST_F(MainWindowTest, TreeSelectionDropsPreviewAndOutputFolder) {
  const std::string a = Image("tree/a.png", "-size 60x40 xc:red");
  CLumaro3Dlg& w = Window();
  CShellTreeCtrl* tree = w.Tree();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tree->IsBusy(); }, 20000));
  tree->ExpandToPath(Q(a));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tree->IsBusy(); }, 20000));
  ASSERT_EQ(tree->SelectedPaths(), QStringList{Q(a)});

  // Released outside the list: nothing; over the list: the selection.
  w.OnTreeItemsDropped(1, tree->viewport()->rect().center());
  EXPECT_EQ(w.FileList()->Count(), 0);
  const QPoint overList =
      tree->viewport()->mapFromGlobal(w.FileList()->mapToGlobal(w.FileList()->rect().center()));
  w.OnTreeItemsDropped(1, overList);
  EXPECT_EQ(w.FileList()->Count(), 1);
  EXPECT_EQ(GetSettings().LastOpenFolder, dir_ / "tree");
  EXPECT_EQ(w.AddTreeSelection(), 0);  // ">>" again: already listed

  // The preview shows the selected file fitted to the box.
  w.OnTreeSelectionChanged(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Preview()->Image() != nullptr; }, 10000));
  EXPECT_EQ(w.Preview()->Image()->GetWidth(), w.Preview()->width());
  EXPECT_EQ(w.Preview()->Image()->GetHeight(), w.Preview()->height());

  // Opening a row (Enter in the list) goes to the default application and
  // does not start a job through the default button.
  w.FileList()->SelectRow(0);
  QTest::keyClick(w.FileList()->CurrentView(), Qt::Key_Return);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], QUrl::fromLocalFile(Q(a)));
  EXPECT_FALSE(w.Progress()->IsShown());
  EXPECT_TRUE(messages_.empty());

  // The output folder's "..." takes the chosen folder.
  CFolderBrowser::DialogHook = [&](QWidget*, const QString&, const QString&) {
    return Q(dir_ / "tree");
  };
  w.OutputBrowseButton()->click();
  CFolderBrowser::DialogHook = nullptr;
  EXPECT_EQ(GetSettings().OutputFolder, dir_ / "tree");
  EXPECT_EQ(w.OutputFolderEdit()->text(), Q(dir_ / "tree"));
}

// A 1024 x 768 screen (the tests' offscreen screen): the window opens within
// it, and every control of the window and of each page has its room there.
TEST_F(MainWindowTest, FitsA1024By768Screen) {
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  ASSERT_EQ(screen->geometry().size(), QSize(1024, 768));
  CLumaro3Dlg& w = Window();
  const QRect available = screen->availableGeometry();
  EXPECT_TRUE(available.contains(w.frameGeometry()))
      << w.frameGeometry().width() << "x" << w.frameGeometry().height();
  for (int page = 0; page < 5; ++page) {
    w.ShowStagePage(page);
    QApplication::processEvents();
    // Nothing lies outside the window, nor scrolled out of sight.
    for (QWidget* child : w.findChildren<QWidget*>()) {
      if (!child->isVisibleTo(&w) || child->isWindow()) continue;
      const QRect place(child->mapTo(&w, QPoint(0, 0)), child->size());
      EXPECT_TRUE(w.rect().contains(place))
          << "page " << page << ": " << child->metaObject()->className() << " "
          << child->objectName().toStdString() << " at " << place.x() << "," << place.y() << " "
          << place.width() << "x" << place.height();
    }
  }
}

TEST_F(MainWindowTest, ClosingStoresTheControls) {
  CLumaro3Dlg& w = Window();
  w.ShowStagePage(3);
  w.OutputFolderEdit()->setText(Q(dir_ / "elsewhere"));
  w.IncludingSubfoldersBox()->setChecked(true);
  w.close();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(GetSettings().LastTabPage, 3);
  EXPECT_EQ(GetSettings().OutputFolder, dir_ / "elsewhere");
  EXPECT_EQ(GetSettings().IncludingSubfolders, 1);

  // While an automation client holds the window, closing only hides it.
  window_.reset();
  GetDesktopServices().automationHoldsWindow = [] { return true; };
  CLumaro3Dlg& held = Window();
  held.ShowStagePage(1);
  held.close();
  EXPECT_FALSE(held.isVisible());
  EXPECT_EQ(GetSettings().LastTabPage, 3);  // not stored
}

// Every text of the window, its menus, tooltips, the progress dialog and the
// about box comes in English from the language library.
TEST_F(MainWindowTest, EnglishTexts) {
  ASSERT_TRUE(LoadLanguageLibrary(std::string(LUMARO_PROGRAM_DIR) + "/"));
  struct Release {
    ~Release() { ReleaseLanguageLibrary(); }
  } release;
  CLumaro3Dlg& w = Window();
  auto cyrillic = [](const QString& text) {
    for (QChar c : text)
      if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF) return true;
    return false;
  };
  QStringList russian;
  auto check = [&](const QString& text) {
    if (cyrillic(text)) russian << text;
  };
  auto outsidePages = [&](QWidget* widget) {
    return widget != w.Placeholder() && !w.Placeholder()->isAncestorOf(widget);
  };
  for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
    if (outsidePages(b)) check(b->text());
  for (QLabel* l : w.findChildren<QLabel*>())
    if (outsidePages(l)) check(l->text());
  for (QGroupBox* g : w.findChildren<QGroupBox*>()) check(g->title());
  for (QWidget* widget : w.findChildren<QWidget*>())
    if (outsidePages(widget)) check(w.Tips()->ToolText(widget));
  std::function<void(const QList<QAction*>&)> menus = [&](const QList<QAction*>& actions) {
    for (QAction* a : actions) {
      check(a->text());
      if (a->menu()) menus(a->menu()->actions());
    }
  };
  menus(w.MenuBar()->actions());
  menus(static_cast<QMenuBar*>(w.MenuBar()->cornerWidget())->actions());
  for (int c = 0; c < 4; ++c)
    check(w.FileList()->Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
  for (int i = 0; i < w.Tree()->RootItem()->childCount(); ++i)
    check(w.Tree()->RootItem()->child(i)->text(0));
  check(w.Tree()->RootItem()->text(0));
  // Every output format's name and its options' summary.
  for (int i = 0; i < w.FormatCombo()->count(); ++i) {
    w.FormatCombo()->setCurrentIndex(i);
    check(w.FormatCombo()->itemText(i));
    check(w.DescriptionLabel()->text());
  }
  EXPECT_EQ(w.FormatCombo()->itemText(5), QStringLiteral("Keep the format"));
  for (QAbstractButton* b : w.Progress()->findChildren<QAbstractButton*>()) check(b->text());
  check(w.Progress()->windowTitle());
  CAboutDlg about;
  check(about.windowTitle());
  for (QLabel* l : about.findChildren<QLabel*>()) check(l->text());
  // The WebP, AVIF and JPEG XL descriptions and dialogs.
  for (size_t i = 6; i < 9; ++i) {
    std::string text;
    GetSettings().OutputFormats[i]->Describe(text);
    check(QString::fromStdString(text));
  }
  for (const CPageQualityEffort::Kind* kind :
       {&CPageQualityEffort::kWebP, &CPageQualityEffort::kAVIF, &CPageQualityEffort::kJXL}) {
    CPageQualityEffort page(*kind);
    check(page.windowTitle());
    for (QLabel* l : page.findChildren<QLabel*>()) check(l->text());
    for (QGroupBox* g : page.findChildren<QGroupBox*>()) check(g->title());
    for (QAbstractButton* b : page.findChildren<QAbstractButton*>()) check(b->text());
  }
  std::string webp;
  GetSettings().OutputFormats[6]->Describe(webp);
  EXPECT_EQ(webp, "Quality:80%, Method:4, Lossless:Off");
  EXPECT_TRUE(russian.isEmpty()) << russian.join(QStringLiteral(" | ")).toStdString();
  EXPECT_EQ(w.ConvertButton()->text(), QStringLiteral("Convert"));
}

}  // namespace
