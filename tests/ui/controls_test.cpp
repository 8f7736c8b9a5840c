// The reusable controls: fitting a picture into a box, the image as a
// QImage, the history combo's profile rules, the tooltip's timing, the
// image view, the page host, the folder picker, and probing list entries.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSettings>
#include <QTest>
#include <memory>

#include "camera_files.h"
#include "imaging/fit_image.h"
#include "imaging/image.h"
#include "test_support.h"
#include "ui/controls.h"
#include "ui/file_list.h"

using testing_support::ImConvert;
using testing_support::Quote;
using testing_support::Rgb;
using testing_support::Solid;
using testing_support::TempDir;

namespace {

bool Same(RGBQuad a, RGBQuad b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

// ---- FitImageToBox ------------------------------------------------------------------

struct FitCase {
  int w, h, boxW, boxH;
  long fitW, fitH;  // the picture inside the box
};

TEST(FitImageToBox, PictureSizeAndCanvas) {
  const FitCase cases[] = {
      {1000, 500, 100, 75, 100, 50},   // wide: by the width
      {500, 1000, 100, 75, 38, 75},    // tall: by the height, 37.5 rounded
      {400, 300, 100, 75, 100, 75},    // same proportions
      {60, 40, 100, 75, 60, 40},       // smaller: not enlarged
      {100, 75, 100, 75, 100, 75},     // exactly the box
      {10000, 1, 100, 75, 100, 1},     // a thin line keeps one pixel
      {1, 10000, 100, 75, 1, 75},
      {1000, 700, 700, 700, 700, 490}, // the filling side equals the box
  };
  const RGBQuad red = Rgb(255, 0, 0), white = Rgb(255, 255, 255);
  for (const FitCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " into " << c.boxW << "x" << c.boxH);
    long fw = 0, fh = 0;
    FitImageSize(c.w, c.h, c.boxW, c.boxH, fw, fh);
    EXPECT_EQ(fw, c.fitW);
    EXPECT_EQ(fh, c.fitH);
    CImage image = Solid(c.w, c.h, red);
    ASSERT_TRUE(FitImageToBox(image, c.boxW, c.boxH, white, CImage::IM_NEAREST_NEIGHBOUR));
    ASSERT_EQ(image.GetWidth(), c.boxW);
    ASSERT_EQ(image.GetHeight(), c.boxH);
    // The picture is centred (an odd pixel of padding goes right and to
    // the bottom); the padding is background.
    const long left = (c.boxW - c.fitW) / 2, top = (c.boxH - c.fitH) / 2;
    const long midX = left + c.fitW / 2, midY = c.boxH - 1 - (top + c.fitH / 2);
    EXPECT_TRUE(Same(image.GetPixelColor(midX, midY), red));
    if (c.fitW < c.boxW) {
      EXPECT_TRUE(Same(image.GetPixelColor(c.boxW - 1, midY), white));
    }
    if (c.fitH < c.boxH) {
      EXPECT_TRUE(Same(image.GetPixelColor(midX, 0), white));
    }
    int redColumns = 0, redRows = 0;
    for (int x = 0; x < c.boxW; ++x)
      if (Same(image.GetPixelColor(x, midY), red)) ++redColumns;
    for (int y = 0; y < c.boxH; ++y)
      if (Same(image.GetPixelColor(midX, y), red)) ++redRows;
    EXPECT_EQ(redColumns, c.fitW);
    EXPECT_EQ(redRows, c.fitH);
  }
}

TEST(FitImageToBox, SoftBicubicAndPaletteImages) {
  const RGBQuad grey = Rgb(128, 128, 128);
  CImage photo = Solid(800, 600, Rgb(10, 200, 30));
  ASSERT_TRUE(FitImageToBox(photo, 160, 100, grey, CImage::IM_BICUBIC2));
  EXPECT_EQ(photo.GetWidth(), 160);
  EXPECT_EQ(photo.GetHeight(), 100);
  EXPECT_TRUE(Same(photo.GetPixelColor(0, 50), grey));  // 133 wide, centred
  RGBQuad mid = photo.GetPixelColor(80, 50);
  EXPECT_NEAR(mid.green, 200, 2);

  // A two-colour palette image: the canvas gets the background colour
  // exactly, not the nearest palette entry.
  CImage mono;
  ASSERT_TRUE(mono.Create(20, 10, 1));
  mono.SetPaletteColor(0, 0, 0, 0);
  mono.SetPaletteColor(1, 255, 255, 255);
  ASSERT_TRUE(FitImageToBox(mono, 40, 40, grey, CImage::IM_NEAREST_NEIGHBOUR));
  EXPECT_EQ(mono.GetBpp(), 24);
  EXPECT_TRUE(Same(mono.GetPixelColor(0, 0), grey));
}

TEST(FitImageToBox, EmptyBoxOrImageFailsAndKeepsTheImage) {
  CImage image = Solid(30, 20, Rgb(1, 2, 3));
  EXPECT_FALSE(FitImageToBox(image, 0, 75, Rgb(0, 0, 0), 1));
  EXPECT_FALSE(FitImageToBox(image, 100, -1, Rgb(0, 0, 0), 1));
  EXPECT_EQ(image.GetWidth(), 30);
  EXPECT_EQ(image.GetHeight(), 20);
  CImage empty;
  EXPECT_FALSE(FitImageToBox(empty, 100, 75, Rgb(0, 0, 0), 1));
}

// ---- CImageToQImage ---------------------------------------------------------------------

TEST(CImageToQImage, RowsFromTheTopAndPalettes) {
  CImage image = Solid(3, 2, Rgb(0, 0, 255));
  image.SetPixelColor(0, 1, Rgb(255, 0, 0));  // row 1 from the bottom = top row
  QImage q = CImageToQImage(image);
  ASSERT_EQ(q.size(), QSize(3, 2));
  EXPECT_EQ(q.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(q.pixel(0, 1), qRgb(0, 0, 255));

  for (int bpp : {1, 4, 8}) {
    SCOPED_TRACE(bpp);
    CImage pal;
    ASSERT_TRUE(pal.Create(9, 2, bpp));
    pal.SetPaletteColor(1, 10, 20, 30);
    pal.SetPixelIndex(8, 1, 1);  // top-right pixel
    QImage p = CImageToQImage(pal);
    ASSERT_EQ(p.size(), QSize(9, 2));
    EXPECT_EQ(p.pixel(8, 0), qRgb(10, 20, 30));
    EXPECT_EQ(p.pixel(7, 0), p.pixel(0, 1));  // index 0 elsewhere
  }

  CImage alpha = Solid(2, 1, Rgb(9, 9, 9));
  ASSERT_TRUE(alpha.AlphaCreate());
  *alpha.AlphaGetPointer(1, 0) = 0;
  QImage a = CImageToQImage(alpha);
  EXPECT_EQ(qAlpha(a.pixel(0, 0)), 255);
  EXPECT_EQ(qAlpha(a.pixel(1, 0)), 0);
  EXPECT_TRUE(CImageToQImage(CImage()).isNull());
}

// ---- CHistoryCombo ----------------------------------------------------------------------------

class HistoryComboTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto profile = OpenProfile();
    profile->remove(QStringLiteral("RenamePatterns"));
    profile->sync();
  }
  static void WriteEntries(int n) {
    auto profile = OpenProfile();
    profile->beginGroup(QStringLiteral("RenamePatterns"));
    for (int i = 0; i < n; ++i)
      profile->setValue(QStringLiteral("PatternHistoryItem%1").arg(i), QStringLiteral("P%1").arg(i));
    profile->endGroup();
    profile->sync();
  }
  static QStringList Keys() {
    auto profile = OpenProfile();
    profile->beginGroup(QStringLiteral("RenamePatterns"));
    QStringList keys = profile->childKeys();
    keys.sort();
    return keys;
  }
};

TEST_F(HistoryComboTest, ProfileLivesUnderXdgConfigHome) {
  const QString expected =
      QDir::cleanPath(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Lumaro/lumaro.ini"));
  EXPECT_EQ(ProfileFilePath(), expected);
}

TEST_F(HistoryComboTest, SavingFewerEntriesDeletesTheRest) {
  WriteEntries(7);
  CHistoryCombo combo;
  combo.setEditable(true);
  combo.LoadHistory(QStringLiteral("RenamePatterns"), QStringLiteral("PatternHistoryItem"));
  ASSERT_EQ(combo.count(), 7);
  while (combo.count() > 3) combo.removeItem(combo.count() - 1);
  combo.setCurrentIndex(0);
  combo.SaveHistory(false);
  auto profile = OpenProfile();
  profile->beginGroup(QStringLiteral("RenamePatterns"));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(profile->value(QStringLiteral("PatternHistoryItem%1").arg(i)).toString(),
              QStringLiteral("P%1").arg(i));
  for (int i = 3; i < 7; ++i)
    EXPECT_FALSE(profile->contains(QStringLiteral("PatternHistoryItem%1").arg(i))) << i;
  // The current text under the prefix itself.
  EXPECT_EQ(profile->value(QStringLiteral("PatternHistoryItem")).toString(), QStringLiteral("P0"));
}

TEST_F(HistoryComboTest, AddTrimsMovesDuplicatesUpAndKeepsTheLimit) {
  CHistoryCombo combo;
  combo.setEditable(true);
  EXPECT_EQ(combo.AddToHistory(QStringLiteral(" Image_### ")), 0);
  EXPECT_EQ(combo.itemText(0), QStringLiteral("Image_###"));
  combo.AddToHistory(QStringLiteral("second"));
  combo.AddToHistory(QStringLiteral("IMAGE_###"));  // the same without regard to case
  ASSERT_EQ(combo.count(), 2);
  EXPECT_EQ(combo.itemText(0), QStringLiteral("IMAGE_###"));
  EXPECT_EQ(combo.itemText(1), QStringLiteral("second"));
  EXPECT_EQ(combo.currentIndex(), 0);
  for (int i = 0; i < 15; ++i) combo.AddToHistory(QStringLiteral("p%1").arg(i));
  EXPECT_EQ(combo.count(), combo.MaxEntries());
  EXPECT_EQ(combo.itemText(0), QStringLiteral("p14"));
  EXPECT_EQ(combo.itemText(9), QStringLiteral("p5"));

  // An empty current text is not added when asked to skip it.
  combo.setEditText(QString());
  const int before = combo.count();
  combo.AddCurrentToHistory(true);
  EXPECT_EQ(combo.count(), before);
}

TEST_F(HistoryComboTest, LoadRulesAndCurrentText) {
  // An empty section or prefix does nothing.
  CHistoryCombo empty;
  EXPECT_TRUE(empty.LoadHistory(QString(), QStringLiteral("X")).isEmpty());
  EXPECT_TRUE(empty.LoadHistory(QStringLiteral("RenamePatterns"), QString()).isEmpty());
  EXPECT_EQ(empty.count(), 0);

  // Entries stop at the first empty one; the current text is matched
  // without regard to case, or put into the edit field.
  {
    auto profile = OpenProfile();
    profile->beginGroup(QStringLiteral("RenamePatterns"));
    profile->setValue(QStringLiteral("H0"), QStringLiteral("alpha"));
    profile->setValue(QStringLiteral("H1"), QStringLiteral("Beta"));
    profile->setValue(QStringLiteral("H3"), QStringLiteral("after a gap"));
    profile->setValue(QStringLiteral("H"), QStringLiteral("BETA"));
    profile->setValue(QStringLiteral("Cur"), QStringLiteral("typed"));
    profile->endGroup();
  }
  CHistoryCombo combo;
  combo.setEditable(true);
  EXPECT_EQ(combo.LoadHistory(QStringLiteral("RenamePatterns"), QStringLiteral("H")),
            QStringLiteral("BETA"));
  ASSERT_EQ(combo.count(), 2);
  EXPECT_EQ(combo.currentIndex(), 1);

  CHistoryCombo other;
  other.setEditable(true);
  other.LoadHistory(QStringLiteral("RenamePatterns"), QStringLiteral("H"), true,
                    QStringLiteral("Cur"));
  EXPECT_EQ(other.currentText(), QStringLiteral("typed"));
  EXPECT_EQ(other.count(), 2);
  EXPECT_EQ(other.CurrentKey(), QStringLiteral("Cur"));
}

TEST_F(HistoryComboTest, ArchiveRoundTrip) {
  CHistoryCombo combo;
  combo.setEditable(true);
  combo.AddToHistory(QStringLiteral("one"));
  combo.AddToHistory(QStringLiteral("two"));
  combo.setEditText(QStringLiteral("ONE"));
  QByteArray bytes;
  {
    QDataStream out(&bytes, QIODevice::WriteOnly);
    combo.WriteArchive(out);
  }
  CHistoryCombo copy;
  copy.setEditable(true);
  copy.addItem(QStringLiteral("old"));
  QDataStream in(bytes);
  copy.ReadArchive(in);
  ASSERT_EQ(copy.count(), 2);
  EXPECT_EQ(copy.itemText(0), QStringLiteral("two"));
  EXPECT_EQ(copy.currentIndex(), 1);  // "ONE" found without regard to case
}

// ---- CInfoTip ----------------------------------------------------------------------------------

class InfoTipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = std::make_unique<QWidget>();
    owner_->setGeometry(100, 100, 400, 300);
    tool_ = new QLineEdit(owner_.get());
    tool_->setGeometry(10, 10, 200, 30);
    other_ = new QLineEdit(owner_.get());
    other_->setGeometry(10, 100, 200, 30);
    owner_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(owner_.get()));
    tip_ = new CInfoTip(owner_.get());
    tip_->SetTiming(40, 20, 200);
    tip_->SetCursorSource([this] { return cursor_; });
    tip_->AddTool(tool_, QStringLiteral("A tip for the tool"));
    tip_->AddTool(other_, QString());
  }
  void TearDown() override {
    delete tip_;
    owner_.reset();
  }
  void Hover(QWidget* w) {
    cursor_ = w->mapToGlobal(QPoint(5, 5));
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(cursor_));
    QApplication::sendEvent(w, &enter);
  }

  std::unique_ptr<QWidget> owner_;
  QLineEdit* tool_ = nullptr;
  QLineEdit* other_ = nullptr;
  CInfoTip* tip_ = nullptr;
  QPoint cursor_{0, 0};
};

TEST_F(InfoTipTest, ShowsAfterTheDelayAndHidesAtTheLimit) {
  Hover(tool_);
  EXPECT_EQ(tip_->CurrentTool(), tool_);
  EXPECT_FALSE(tip_->IsTipShown());  // not before the delay
  ASSERT_TRUE(QTest::qWaitFor([&] { return tip_->IsTipShown(); }, 1000));
  EXPECT_EQ(tip_->ShownText(), QStringLiteral("A tip for the tool"));
  // Placed at the cursor plus (0, 20).
  EXPECT_EQ(tip_->geometry().topLeft(), cursor_ + QPoint(0, 20));
  // The pointer stays on the tool: the tip still goes at the limit.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tip_->IsTipShown(); }, 2000));
  // Resting on the same tool does not bring it back.
  Hover(tool_);
  QTest::qWait(120);
  EXPECT_FALSE(tip_->IsTipShown());
}

TEST_F(InfoTipTest, StaysWhileThePointerRestsOnTheTip) {
  Hover(tool_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tip_->IsTipShown(); }, 1000));
  cursor_ = tip_->geometry().center();
  QTest::qWait(500);  // well past the 200 ms limit
  EXPECT_TRUE(tip_->IsTipShown());
  cursor_ = QPoint(0, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !tip_->IsTipShown(); }, 1000));
}

TEST_F(InfoTipTest, ButtonsAndKeysHideItAndEmptyTextsNeverShow) {
  Hover(tool_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tip_->IsTipShown(); }, 1000));
  QTest::mousePress(tool_, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_FALSE(tip_->IsTipShown());
  QTest::mouseRelease(tool_, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));

  Hover(other_);  // a tool without text
  QTest::qWait(150);
  EXPECT_FALSE(tip_->IsTipShown());

  Hover(tool_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tip_->IsTipShown(); }, 1000));
  QTest::keyClick(tool_, Qt::Key_A);
  EXPECT_FALSE(tip_->IsTipShown());
}

TEST_F(InfoTipTest, WidthLimitWrapsAndFollowsTheDefault) {
  const QString longText = QStringLiteral(
      "Если это поле пустое, то выходные файлы запишутся туда, где были исходные (не "
      "рекомендуется)");
  EXPECT_EQ(tip_->SetWidthLimit(300), 0);
  QSize wrapped = tip_->TipSizeFor(longText, 300);
  EXPECT_LE(wrapped.width(), 300 + 7);
  EXPECT_GT(wrapped.height(), tip_->TipSizeFor(QStringLiteral("x"), 300).height());
  QSize single = tip_->TipSizeFor(longText, 0);
  EXPECT_GT(single.width(), 300);
  // The tool that had the old default follows the new one: its tip wraps.
  tip_->AddTool(tool_, longText);
  Hover(tool_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tip_->IsTipShown(); }, 1000));
  EXPECT_LE(tip_->width(), 300 + 7);
}

// ---- CImageView -----------------------------------------------------------------------------------

TEST(ImageView, GreyWithoutImageAndThePictureAtItsOffset) {
  CImageView view;
  view.resize(40, 30);
  QImage empty = view.Render();
  EXPECT_EQ(empty.pixel(0, 0), qRgb(128, 128, 128));
  EXPECT_EQ(empty.pixel(39, 29), qRgb(128, 128, 128));

  CImage image = Solid(20, 10, Rgb(0, 0, 255));
  image.SetPixelColor(0, 9, Rgb(255, 0, 0));  // top-left
  view.SetImage(&image);
  QImage drawn = view.Render();
  EXPECT_EQ(drawn.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(drawn.pixel(10, 5), qRgb(0, 0, 255));
  EXPECT_NE(drawn.pixel(30, 20), qRgb(0, 0, 255));  // outside the picture
  view.SetScrollOffset(QPoint(1, 0));
  EXPECT_EQ(view.Render().pixel(0, 0), qRgb(0, 0, 255));
  view.SetScrollOffset(QPoint(0, 0));
  view.SetFit(true);
  EXPECT_EQ(view.Render().pixel(39, 29), qRgb(0, 0, 255));  // stretched over the client
}

// ---- CPageHostDlg -------------------------------------------------------------------------------------

class TestHost : public CPageHostDlg {
 public:
  std::vector<std::pair<int, bool>> notes;

 protected:
  QWidget* CreatePage(int templateId) override {
    if (templateId == 0) return nullptr;
    auto* page = new QWidget;
    page->setObjectName(QString::number(templateId));
    page->setMinimumSize(50, 40);
    return page;
  }
  void OnPageShown(int templateId, bool shown) override { notes.push_back({templateId, shown}); }
};

TEST(PageHost, PagesStartHiddenAtThePlaceholderCorner) {
  TestHost host;
  host.Placeholder()->setGeometry(20, 30, 200, 100);
  host.show();
  EXPECT_EQ(host.AddPage(0), -1);  // no page for that template
  const int a = host.AddPage(129, 1, 2, 3);
  const int b = host.AddPage(195);
  ASSERT_EQ(a, 0);
  ASSERT_EQ(b, 1);
  EXPECT_EQ(host.Page(a).user3, 3);
  QWidget* pageA = host.Page(a).page;
  EXPECT_EQ(pageA->parentWidget(), host.Placeholder());
  EXPECT_EQ(pageA->pos(), QPoint(0, 0));
  EXPECT_FALSE(pageA->isVisible());
  EXPECT_EQ(host.FindVisiblePage(), -1);

  host.ShowPage(b);
  host.ShowPage(a);  // showing does not hide the other
  EXPECT_TRUE(host.Page(a).page->isVisible());
  EXPECT_TRUE(host.Page(b).page->isVisible());
  EXPECT_EQ(host.FindVisiblePage(), 0);
  host.HidePage(a);
  EXPECT_EQ(host.FindVisiblePage(), 1);
  ASSERT_EQ(host.notes.size(), 3u);
  EXPECT_EQ(host.notes[0], std::make_pair(195, true));
  EXPECT_EQ(host.notes[2], std::make_pair(129, false));
}

// ---- CFolderBrowser ---------------------------------------------------------------------------

TEST(FolderBrowser, ResultOnlyForAnExistingFolder) {
  TempDir dir;
  QString answer;
  QString seenTitle, seenStart;
  CFolderBrowser::DialogHook = [&](QWidget*, const QString& title, const QString& start) {
    seenTitle = title;
    seenStart = start;
    return answer;
  };
  CFolderBrowser browser(QStringLiteral("Pick"));
  answer = QString::fromStdString(dir.str());
  EXPECT_TRUE(browser.Browse(nullptr, QStringLiteral("/tmp")));
  EXPECT_EQ(browser.ResultPath(), answer);
  EXPECT_EQ(seenTitle, QStringLiteral("Pick"));
  EXPECT_EQ(seenStart, QStringLiteral("/tmp"));
  answer.clear();  // cancelled
  EXPECT_FALSE(browser.Browse());
  EXPECT_EQ(seenStart, QDir::homePath());
  answer = QString::fromStdString(dir / "missing");
  EXPECT_FALSE(browser.Browse());
  CFolderBrowser::DialogHook = nullptr;
}

// ---- list entries ---------------------------------------------------------------------------------------

TEST(FileListProbe, SizesValidityAndThumbnails) {
  TempDir dir;
  const std::string jpg = dir / "photo.jpg";
  const std::string png = dir / "pic.png";
  ASSERT_EQ(testing_support::Run(std::string(ImConvert()) + " -size 640x480 gradient:red-blue " + Quote(jpg)), 0);
  ASSERT_EQ(testing_support::Run(std::string(ImConvert()) + " -size 30x90 xc:green " + Quote(png)), 0);
  testing_support::WriteFileText(dir / "notes.txt", "not an image");

  const QSize box(100, 75);
  EntryProbe photo = ProbeEntry(QString::fromStdString(jpg), box, 1);
  EXPECT_TRUE(photo.exists);
  EXPECT_TRUE(photo.valid);
  EXPECT_FALSE(photo.isFolder);
  EXPECT_EQ(photo.width, 640);
  EXPECT_EQ(photo.height, 480);
  EXPECT_EQ(photo.fileSize, quint64(std::filesystem::file_size(jpg)));
  EXPECT_EQ(photo.thumbnail.size(), box);

  EntryProbe pic = ProbeEntry(QString::fromStdString(png), box, 0);
  EXPECT_TRUE(pic.valid);
  EXPECT_EQ(pic.width, 30);
  EXPECT_EQ(pic.height, 90);
  ASSERT_EQ(pic.thumbnail.size(), box);
  EXPECT_EQ(pic.thumbnail.pixel(0, 37), qRgb(255, 255, 255));  // white canvas
  EXPECT_NEAR(qGreen(pic.thumbnail.pixel(50, 37)), 128, 1);

  EXPECT_TRUE(ProbeEntry(QString::fromStdString(jpg), box, 2).thumbnail.isNull());
  EntryProbe text = ProbeEntry(QString::fromStdString(dir / "notes.txt"), box, 1);
  EXPECT_TRUE(text.exists);
  EXPECT_FALSE(text.valid);
  EntryProbe folder = ProbeEntry(QString::fromStdString(dir.str()), box, 1);
  EXPECT_TRUE(folder.isFolder);
  EXPECT_TRUE(folder.valid);
  EXPECT_FALSE(ProbeEntry(QString::fromStdString(dir / "gone.jpg"), box, 1).exists);

  // A camera raw file lists with its developed size (turned by the camera)
  // and a thumbnail from its embedded preview (red left half, turned up).
  const std::string dng = dir / "shot.dng";
  ASSERT_TRUE(camera_files::MakeTestDng(dng, 64, 48, 6));
  const QSize small(20, 20);
  EntryProbe raw = ProbeEntry(QString::fromStdString(dng), small, 1);
  EXPECT_TRUE(raw.valid);
  EXPECT_EQ(raw.width, 48);
  EXPECT_EQ(raw.height, 64);
  ASSERT_EQ(raw.thumbnail.size(), small);
  EXPECT_EQ(raw.thumbnail.pixel(10, 3), qRgb(220, 30, 20));
  EXPECT_EQ(raw.thumbnail.pixel(10, 16), qRgb(20, 30, 220));
}

TEST(FileListProbe, SizeTextAndPathForm) {
  EXPECT_EQ(FormatFileSize(0), QStringLiteral("0"));
  EXPECT_EQ(FormatFileSize(999), QStringLiteral("999"));
  EXPECT_EQ(FormatFileSize(1000), QStringLiteral("1,000"));
  EXPECT_EQ(FormatFileSize(1234567), QStringLiteral("1,234,567"));
  EXPECT_EQ(FormatFileSize(4294967296ULL), QStringLiteral("4,294,967,296"));
  EXPECT_EQ(NormalizeListPath(QStringLiteral("/a/b/../c/")), QStringLiteral("/a/c"));
  EXPECT_EQ(NormalizeListPath(QStringLiteral("/")), QStringLiteral("/"));
}

}  // namespace
