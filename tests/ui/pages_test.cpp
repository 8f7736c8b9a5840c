// The five settings pages: what their controls write into the settings
// record, the enabling rules, the size page's unit conversion and standard
// sizes, the watermark preview and dialogs, the filter list's order and
// check boxes, Enter and Escape, and the English texts.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QDialog>
#include <QToolButton>
#include <QTreeView>
#include <memory>
#include <string>

#include "imaging/image.h"
#include "imaging/resize.h"
#include "plugins/filter_host.h"
#include "services/strings.h"
#include "settings/ini_store.h"
#include "settings/settings.h"
#include "test_support.h"
#include "ui/aux_dialogs.h"
#include "ui/controls.h"
#include "ui/page_common.h"
#include "ui/page_dimensions.h"
#include "ui/page_filters.h"
#include "ui/page_flip_rotate.h"
#include "ui/page_metadata.h"
#include "ui/page_watermarks.h"

namespace {

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetSettings().ResetToDefaults();
    savedDialogs_ = GetWatermarkDialogs();
  }
  void TearDown() override {
    GetWatermarkDialogs() = savedDialogs_;
    GetSettings().ResetToDefaults();
  }

  template <typename T>
  static T* Child(QWidget* page, const char* name) {
    T* child = page->findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  // The user picks entry index of a drop-down list.
  static void Pick(QComboBox* combo, int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  }
  // The user replaces an edit's text by typing.
  static void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    // Key by key, with the character as the key's text (any alphabet).
    for (QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(edit, &press);
    }
  }
  static void ClickArrow(CUpDown* spin, bool up) {
    const auto arrows = spin->findChildren<QToolButton*>();
    ASSERT_EQ(arrows.size(), 2);
    arrows[up ? 0 : 1]->click();
  }

  WatermarkDialogs savedDialogs_;
};

// ---- size page ---------------------------------------------------------------------

using PageDimensions = PageTest;

TEST_F(PageDimensions, StandardSizesAndUnitConversion) {
  CSettings& s = GetSettings();
  s.PercentsOrPixels = 2;
  s.DPI = 4;  // 300 pixels per inch
  CPageDimensions page;
  auto* mm = Child<QComboBox>(&page, "millimetreSizes");
  auto* px = Child<QComboBox>(&page, "pixelSizes");
  EXPECT_EQ(mm->currentIndex(), 0);
  EXPECT_EQ(px->currentIndex(), 0);

  // "100 x 150" is written short side first and taken as landscape.
  Pick(mm, mm->findText(QStringLiteral("100 x 150")));
  EXPECT_EQ(s.WidthCm, 150);
  EXPECT_EQ(s.HeightCm, 100);
  EXPECT_EQ(s.Width, 1772);
  EXPECT_EQ(s.Height, 1181);
  EXPECT_EQ(mm->currentIndex(), 0) << "the list returns to its first entry";
  EXPECT_EQ(Child<QLineEdit>(&page, "widthPixels")->text(), QStringLiteral("1772"));

  // Pixel mode: the millimetre fields follow in whole centimetres.
  Child<QRadioButton>(&page, "modePixels")->click();
  EXPECT_EQ(s.PercentsOrPixels, 1);
  Pick(px, px->findText(QStringLiteral("640 x 480")));
  EXPECT_EQ(s.Width, 640);
  EXPECT_EQ(s.Height, 480);
  EXPECT_EQ(s.WidthCm, 50);   // 5.42 cm at 300 dpi
  EXPECT_EQ(s.HeightCm, 40);  // 4.06 cm

  // "Взять..." changes nothing.
  s.Width = 333;
  Pick(px, 0);
  EXPECT_EQ(s.Width, 333);

  // A new resolution converts again; at 72 dpi 1000 pixels are 35.28 cm.
  Pick(Child<QComboBox>(&page, "dpi"), 0);
  EXPECT_EQ(s.DPI, 0);
  Type(Child<QLineEdit>(&page, "widthPixels"), QStringLiteral("1000"));
  EXPECT_EQ(s.Width, 1000);
  EXPECT_EQ(s.WidthCm, 350);
  EXPECT_EQ(Child<QLineEdit>(&page, "widthMillimetres")->text(), QStringLiteral("350"));

  // Millimetre mode: typing a size (any text, read as a decimal number)
  // derives the pixels.
  Child<QRadioButton>(&page, "modeMillimetres")->click();
  Pick(Child<QComboBox>(&page, "dpi"), 4);
  Type(Child<QLineEdit>(&page, "heightMillimetres"), QStringLiteral("100.9mm"));
  EXPECT_EQ(s.HeightCm, 100);
  EXPECT_EQ(s.Height, 1181);
  EXPECT_EQ(Child<QLineEdit>(&page, "heightMillimetres")->text(), QStringLiteral("100.9mm"))
      << "the text being typed is not rewritten";

  // Percent mode converts nothing.
  Child<QRadioButton>(&page, "modePercent")->click();
  s.Width = 10;
  s.WidthCm = 999;
  page.LoadControls();
  Child<QRadioButton>(&page, "modePercent")->click();
  EXPECT_EQ(s.Width, 10);
  EXPECT_EQ(s.WidthCm, 999);
}

TEST_F(PageDimensions, EnablingBySizeModeAndProportions) {
  CPageDimensions page;
  page.show();
  struct Control {
    const char* name;
    bool on[3];  // percent, pixels, millimetres
  };
  const Control controls[] = {
      {"percent", {true, false, false}},          {"percentSpin", {true, false, false}},
      {"widthPixels", {false, true, false}},      {"heightPixels", {false, true, false}},
      {"widthPixelsSpin", {false, true, false}},  {"heightPixelsSpin", {false, true, false}},
      {"pixelSizes", {false, true, false}},       {"widthMillimetres", {false, false, true}},
      {"heightMillimetres", {false, false, true}}, {"widthMillimetresSpin", {false, false, true}},
      {"heightMillimetresSpin", {false, false, true}}, {"millimetreSizes", {false, false, true}},
      {"aspect", {false, true, true}},            {"dpi", {false, false, true}},
      {"method", {true, true, true}},
  };
  const char* const radios[] = {"modePercent", "modePixels", "modeMillimetres"};
  for (int mode : {1, 2, 0}) {
    Child<QRadioButton>(&page, radios[mode])->click();
    EXPECT_EQ(GetSettings().PercentsOrPixels, mode);
    for (const Control& c : controls)
      EXPECT_EQ(Child<QWidget>(&page, c.name)->isEnabled(), c.on[mode])
          << c.name << " in mode " << mode;
  }

  // "высоту по ширине": only the width takes input; both arrows stay on.
  auto* aspect = Child<QComboBox>(&page, "aspect");
  for (int mode : {1, 2}) {
    Child<QRadioButton>(&page, radios[mode])->click();
    const char* width = mode == 1 ? "widthPixels" : "widthMillimetres";
    const char* height = mode == 1 ? "heightPixels" : "heightMillimetres";
    const std::string widthSpin = std::string(width) + "Spin";
    const std::string heightSpin = std::string(height) + "Spin";
    Pick(aspect, 2);
    EXPECT_EQ(GetSettings().MaintainAspectRatio, 2);
    EXPECT_TRUE(Child<QLineEdit>(&page, width)->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(&page, height)->isEnabled());
    EXPECT_TRUE(Child<QWidget>(&page, widthSpin.c_str())->isEnabled());
    EXPECT_TRUE(Child<QWidget>(&page, heightSpin.c_str())->isEnabled());
    Pick(aspect, 3);
    EXPECT_FALSE(Child<QLineEdit>(&page, width)->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>(&page, height)->isEnabled());
    Pick(aspect, 1);
    EXPECT_TRUE(Child<QLineEdit>(&page, width)->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>(&page, height)->isEnabled());
  }
}

TEST_F(PageDimensions, OpeningBringsSpinValuesIntoRange) {
  CSettings& s = GetSettings();
  s.Percents = 5000;
  s.Width = 20000;
  s.Height = 0;
  s.WidthCm = 500;  // beyond any small millimetre range: kept
  s.HeightCm = 700;
  s.DPI = 9;  // no such entry
  CPageDimensions page;
  EXPECT_EQ(s.Percents, 1000);
  EXPECT_EQ(s.Width, 16000);
  EXPECT_EQ(s.Height, 1);
  EXPECT_EQ(s.WidthCm, 500);
  EXPECT_EQ(s.HeightCm, 700);
  EXPECT_EQ(s.DPI, 5);
}

TEST_F(PageDimensions, TypingAndArrowsWriteTheRecord) {
  CSettings& s = GetSettings();
  CPageDimensions page;
  QSignalSpy stages(&page, &CSettingsPage::stagesChanged);
  auto* percent = Child<QLineEdit>(&page, "percent");
  Type(percent, QStringLiteral("50"));
  EXPECT_EQ(s.Percents, 50);
  EXPECT_GT(stages.count(), 0);
  ClickArrow(Child<CUpDown>(&page, "percentSpin"), true);
  EXPECT_EQ(s.Percents, 51);
  EXPECT_EQ(percent->text(), QStringLiteral("51"));
  // Digits only.
  Type(percent, QStringLiteral("7x"));
  EXPECT_EQ(percent->text(), QStringLiteral("7"));

  // An arrow of a size converts like typing does.
  Child<QRadioButton>(&page, "modeMillimetres")->click();
  s.DPI = 4;
  page.LoadControls();
  Type(Child<QLineEdit>(&page, "widthMillimetres"), QStringLiteral("99"));
  ClickArrow(Child<CUpDown>(&page, "widthMillimetresSpin"), true);
  EXPECT_EQ(s.WidthCm, 100);
  EXPECT_EQ(s.Width, 1181);
}

TEST(PageNumbers, EditTextReading) {
  EXPECT_EQ(ReadIntText(QStringLiteral("12abc")), 12);
  EXPECT_EQ(ReadIntText(QStringLiteral("  -7")), -7);
  EXPECT_EQ(ReadIntText(QStringLiteral("abc")), 0);
  EXPECT_EQ(ReadIntText(QString()), 0);
  EXPECT_EQ(ReadIntText(QStringLiteral("99999999999")), INT_MAX);
  EXPECT_EQ(ReadDecimalText(QStringLiteral("12.7")), 12);
  EXPECT_EQ(ReadDecimalText(QStringLiteral("12,7 mm")), 12);
  EXPECT_EQ(ReadDecimalText(QStringLiteral("-3.9")), -3);
  EXPECT_EQ(ReadDecimalText(QStringLiteral(".5")), 0);
  EXPECT_EQ(ReadDecimalText(QStringLiteral("1e2")), 100);
  EXPECT_EQ(ReadDecimalText(QStringLiteral("1e400")), INT_MAX);
  EXPECT_EQ(ReadDecimalText(QStringLiteral("x1")), 0);
}

// ---- the stage indicators see what the pages write ----------------------------------

using PageStages = PageTest;

TEST_F(PageStages, RotationButtonsWriteTheModes) {
  CSettings& s = GetSettings();
  CPageFlipRotate page;
  EXPECT_TRUE(Child<QToolButton>(&page, "rotateNone")->isChecked());
  EXPECT_TRUE(Child<QToolButton>(&page, "flipNone")->isChecked());
  QSignalSpy stages(&page, &CSettingsPage::stagesChanged);
  const struct {
    const char* name;
    int rotation, flip;
  } clicks[] = {{"rotateLeft", 0, 2}, {"rotateRight", 1, 2}, {"rotate180", 2, 2},
                {"rotateExif", 4, 2}, {"flipHorizontal", 4, 0}, {"flipVertical", 4, 1},
                {"rotateNone", 3, 1}, {"flipNone", 3, 2}};
  for (const auto& c : clicks) {
    const int before = stages.count();
    Child<QToolButton>(&page, c.name)->click();
    EXPECT_EQ(s.RotationMode, c.rotation) << c.name;
    EXPECT_EQ(s.FlipMode, c.flip) << c.name;
    EXPECT_GT(stages.count(), before) << c.name;
  }
  // A value out of range shows (and stores) as "Нет".
  s.RotationMode = 9;
  page.LoadControls();
  EXPECT_TRUE(Child<QToolButton>(&page, "rotateNone")->isChecked());
}

TEST_F(PageStages, MetadataBoxesAndEdits) {
  CSettings& s = GetSettings();
  s.UserComment = std::string(1500, 'c');  // longer than the edit's limit: carried whole
  CPageMetadata page;
  auto* author = Child<QLineEdit>(&page, "author");
  EXPECT_FALSE(author->isEnabled());
  QSignalSpy stages(&page, &CSettingsPage::stagesChanged);
  Child<QCheckBox>(&page, "useUserComment")->click();
  EXPECT_EQ(s.UseUserComment, 1);
  EXPECT_GT(stages.count(), 0);
  for (const char* name : {"author", "description", "copyright"})
    EXPECT_TRUE(Child<QLineEdit>(&page, name)->isEnabled()) << name;
  Type(author, QStringLiteral("Иван"));
  EXPECT_EQ(s.ImageAuthor, "Иван");
  Type(Child<QLineEdit>(&page, "copyright"), QStringLiteral("(c) 2006"));
  EXPECT_EQ(s.ImageCopyright, "(c) 2006");
  Child<QCheckBox>(&page, "keepExisting")->click();
  EXPECT_EQ(s.KeepExisting, 1);
  Child<QCheckBox>(&page, "useUserComment")->click();
  EXPECT_EQ(s.UseUserComment, 0);
  EXPECT_FALSE(author->isEnabled());
  EXPECT_EQ(s.UserComment.size(), 1500u);
  EXPECT_FALSE(Child<QLineEdit>(&page, "comment")->isVisibleTo(&page));

  // The wrapped label of the box toggles it too.
  auto* label = Child<QLabel>(&page, "useUserCommentLabel");
  QTest::mouseClick(label, Qt::LeftButton);
  EXPECT_EQ(s.UseUserComment, 1);
}

TEST_F(PageStages, WatermarkSwitchAndModeRule) {
  CSettings& s = GetSettings();
  CPageWatermarks page;
  page.show();
  const char* const all[] = {"modeTag", "modeTime", "modePicture", "modeText", "tagType",
                             "dateTimeType", "imagePath", "browsePicture", "text", "emboss",
                             "font", "position", "transparency", "transparentColour",
                             "margins", "shadow"};
  for (const char* name : all) EXPECT_FALSE(Child<QWidget>(&page, name)->isEnabled()) << name;
  EXPECT_TRUE(Child<QWidget>(&page, "transparencySpin")->isEnabled());

  QSignalSpy stages(&page, &CSettingsPage::stagesChanged);
  Child<QCheckBox>(&page, "watermarksOn")->click();
  EXPECT_EQ(s.WatermarksOn, 1);
  EXPECT_GT(stages.count(), 0);

  struct Rule {
    const char* radio;
    const char* on[4];
    const char* off[8];
    bool preview;
  };
  const Rule rules[] = {
      {"modeTag",
       {"tagType", "emboss", "font", "shadow"},
       {"dateTimeType", "imagePath", "browsePicture", "text", "transparentColour"},
       true},
      {"modeTime",
       {"dateTimeType", "emboss", "font", "shadow"},
       {"tagType", "imagePath", "browsePicture", "text", "transparentColour"},
       true},
      {"modePicture",
       {"imagePath", "browsePicture", "transparentColour"},
       {"tagType", "dateTimeType", "text", "emboss", "font", "shadow"},
       false},
      {"modeText",
       {"text", "emboss", "font", "shadow"},
       {"tagType", "dateTimeType", "imagePath", "browsePicture", "transparentColour"},
       true},
  };
  int mode = 0;
  for (const Rule& r : rules) {
    Child<QRadioButton>(&page, r.radio)->click();
    EXPECT_EQ(s.Mode, mode++);
    for (const char* name : r.on) {
      if (!name) continue;
      EXPECT_TRUE(Child<QWidget>(&page, name)->isEnabled()) << r.radio << " " << name;
    }
    for (const char* name : r.off) {
      if (!name) continue;
      EXPECT_FALSE(Child<QWidget>(&page, name)->isEnabled()) << r.radio << " " << name;
    }
    for (const char* name : {"position", "margins", "transparency", "modeTag"})
      EXPECT_TRUE(Child<QWidget>(&page, name)->isEnabled()) << r.radio << " " << name;
    EXPECT_EQ(page.PreviewView()->isVisible(), r.preview) << r.radio;
  }

  // The other controls write their fields.
  Child<QRadioButton>(&page, "modeTag")->click();
  Pick(Child<QComboBox>(&page, "tagType"), 3);
  EXPECT_EQ(s.TagType, 3);
  Child<QRadioButton>(&page, "modeTime")->click();
  Pick(Child<QComboBox>(&page, "dateTimeType"), 2);
  EXPECT_EQ(s.DateTimeType, 2);
  Pick(Child<QComboBox>(&page, "position"), 2);
  EXPECT_EQ(s.WatermarksPos, 2);
  Child<QCheckBox>(&page, "emboss")->click();
  EXPECT_EQ(s.Emboss, 0);
  Child<QRadioButton>(&page, "modeText")->click();
  Type(Child<QLineEdit>(&page, "text"), QStringLiteral("© Фото"));
  EXPECT_EQ(s.Text, "© Фото");
  Type(Child<QLineEdit>(&page, "transparency"), QStringLiteral("80"));
  EXPECT_EQ(s.Transparency, 80);
  ClickArrow(Child<CUpDown>(&page, "transparencySpin"), false);
  EXPECT_EQ(s.Transparency, 79);

  // Off again: everything but the arrows is off.
  Child<QCheckBox>(&page, "watermarksOn")->click();
  EXPECT_EQ(s.WatermarksOn, 0);
  for (const char* name : all) EXPECT_FALSE(Child<QWidget>(&page, name)->isEnabled()) << name;
}

// ---- watermark preview and dialogs ----------------------------------------------------

using PageWatermarks = PageTest;

struct PixelCount {
  int dark = 0, bright = 0;
  long sumX = 0;
};
PixelCount CountText(const CImage& image) {
  PixelCount c;
  for (long y = 0; y < image.GetHeight(); ++y)
    for (long x = 0; x < image.GetWidth(); ++x) {
      const RGBQuad p = image.GetPixelColor(x, y, false);
      // The gradient has red and green 64 everywhere.
      if (p.red < 40 && p.green < 40) {
        ++c.dark;
        c.sumX += x;
      }
      if (p.red > 200 && p.green > 200 && p.blue > 200) ++c.bright;
    }
  return c;
}

// The left columns, beside the text but inside the work image's band,
// show the gradient alone: red and green 64, one blue per row.
bool GradientOnly(const CImage& image, long columns) {
  for (long y = 0; y < image.GetHeight(); ++y) {
    const RGBQuad first = image.GetPixelColor(0, y, false);
    for (long x = 0; x < columns; ++x) {
      const RGBQuad p = image.GetPixelColor(x, y, false);
      if (p.red != 64 || p.green != 64 || p.blue != first.blue) return false;
    }
  }
  return true;
}

TEST_F(PageWatermarks, PreviewDrawsTheTextOverTheGradient) {
  CSettings& s = GetSettings();
  s.Transparency = 100;
  s.Emboss = 0;
  s.FontColor = 0;  // black
  CPageWatermarks page;
  const CImage& preview = page.PreviewImage();
  ASSERT_TRUE(preview.IsValid());
  EXPECT_EQ(preview.GetWidth(), page.PreviewView()->width());
  EXPECT_EQ(preview.GetHeight(), page.PreviewView()->height());
  // The gradient: blue grows with the row, counted from the bottom.
  EXPECT_EQ(preview.GetPixelColor(0, 0, false).red, 64);
  EXPECT_LT(preview.GetPixelColor(0, 0, false).blue, 8);
  EXPECT_GT(preview.GetPixelColor(0, preview.GetHeight() - 1, false).blue, 240);

  const PixelCount black = CountText(preview);
  EXPECT_GT(black.dark, 30) << "the text is drawn";
  EXPECT_GT(black.dark, black.bright);
  EXPECT_TRUE(GradientOnly(preview, 20)) << "the white work background is transparent";
  const long centre = black.sumX / std::max(1, black.dark);
  EXPECT_NEAR(centre, preview.GetWidth() / 2, preview.GetWidth() / 8) << "centred";

  // A white text: its black work background stays transparent.
  GetWatermarkDialogs().chooseFont = [](QWidget*, LogFont&, uint32_t& colour) {
    colour = 0xFFFFFF;
    return true;
  };
  Child<QPushButton>(&page, "font")->setEnabled(true);
  Child<QPushButton>(&page, "font")->click();
  EXPECT_EQ(s.FontColor, 0xFFFFFFu);
  const PixelCount white = CountText(preview);
  EXPECT_GT(white.bright, 30);
  EXPECT_GT(white.bright, white.dark);
  EXPECT_TRUE(GradientOnly(preview, 20)) << "the black work background is transparent";

  // Opacity 0: only the gradient.
  s.Transparency = 0;
  page.LoadControls();
  const PixelCount none = CountText(preview);
  EXPECT_EQ(none.bright, 0);
  EXPECT_EQ(none.dark, 0);
}

TEST_F(PageWatermarks, TransparentColourMenu) {
  CSettings& s = GetSettings();
  s.WatermarksOn = 1;
  s.Mode = 2;
  s.TransparentColor = 0x102030;
  CPageWatermarks page;
  int choose = 1;  // the entry the user picks; -1 none
  bool noneChecked = false, useChecked = false;
  GetWatermarkDialogs().popupMenu = [&](QMenu& menu, const QPoint&) -> QAction* {
    const auto actions = menu.actions();
    EXPECT_EQ(actions.size(), 2);
    noneChecked = actions[0]->isChecked();
    useChecked = actions[1]->isChecked();
    return choose < 0 ? nullptr : actions[choose];
  };
  bool confirm = false;
  uint32_t offered = 0;
  GetWatermarkDialogs().chooseColour = [&](QWidget*, uint32_t& colour) {
    offered = colour;
    if (confirm) colour = 0xFFFFFF;
    return confirm;
  };
  auto* button = Child<QToolButton>(&page, "transparentColour");
  ASSERT_TRUE(button->isEnabled());

  button->click();  // colour dialog cancelled
  EXPECT_TRUE(noneChecked);
  EXPECT_FALSE(useChecked);
  EXPECT_EQ(offered, 0x102030u);
  EXPECT_EQ(s.UseTransparentColor, 0);
  EXPECT_EQ(s.TransparentColor, 0x102030u);

  confirm = true;
  button->click();
  EXPECT_EQ(s.UseTransparentColor, 1);
  EXPECT_EQ(s.TransparentColor, 16777215u);

  choose = -1;  // menu dismissed
  button->click();
  EXPECT_TRUE(useChecked);
  EXPECT_EQ(s.UseTransparentColor, 1);

  choose = 0;
  button->click();
  EXPECT_EQ(s.UseTransparentColor, 0);
  EXPECT_EQ(s.TransparentColor, 16777215u);
}

TEST_F(PageWatermarks, DialogsChangeTheRecordOnlyWhenConfirmed) {
  CSettings& s = GetSettings();
  s.WatermarksOn = 1;
  s.Mode = 2;
  CPageWatermarks page;
  bool confirm = false;
  GetWatermarkDialogs().openPicture = [&](QWidget*, QString& path) {
    path = QStringLiteral("/tmp/логотип.png");
    return confirm;
  };
  GetWatermarkDialogs().adjustMargins = [&](QWidget*, int& hor, int& vert) {
    EXPECT_EQ(hor, 1);
    hor = 12;
    vert = 34;
    return confirm;
  };
  GetWatermarkDialogs().adjustShadow = [&](QWidget*, int& offset, int& pos, uint32_t& colour) {
    EXPECT_EQ(offset, 1);
    EXPECT_EQ(pos, 3);
    EXPECT_EQ(colour, 12632256u);
    offset = 4;
    pos = 0;
    colour = 0x0000FF;
    return confirm;
  };
  for (bool ok : {false, true}) {
    confirm = ok;
    Child<QPushButton>(&page, "browsePicture")->click();
    Child<QPushButton>(&page, "margins")->click();
    page.findChild<QPushButton*>(QStringLiteral("shadow"))->setEnabled(true);
    Child<QPushButton>(&page, "shadow")->click();
    EXPECT_EQ(s.ImagePath, ok ? "/tmp/логотип.png" : "");
    EXPECT_EQ(Child<QLineEdit>(&page, "imagePath")->text().toStdString(), s.ImagePath);
    EXPECT_EQ(s.PosMarginHor, ok ? 12 : 1);
    EXPECT_EQ(s.PosMarginVert, ok ? 34 : 1);
    EXPECT_EQ(s.WatermarksShadowOffset, ok ? 4 : 1);
    EXPECT_EQ(s.WatermarksShadowPos, ok ? 0 : 3);
    EXPECT_EQ(s.WatermarksShadowColor, ok ? 0x0000FFu : 12632256u);
  }
}

TEST(PageFonts, LogFontAndQFont) {
  LogFont font;  // -13, bold, "Arial"
  font.lfItalic = 255;
  const QFont q = FontFromLogFont(font);
  EXPECT_EQ(q.family(), QStringLiteral("Arial"));
  EXPECT_EQ(q.pointSize(), 10);
  EXPECT_EQ(q.weight(), QFont::Bold);
  EXPECT_TRUE(q.italic());
  LogFont back;
  back.lfWidth = 5;
  back.lfCharSet = 0;
  LogFontFromFont(q, back);
  EXPECT_EQ(back.lfHeight, -13);
  EXPECT_EQ(back.lfWeight, 700);
  EXPECT_EQ(back.lfItalic, 255);
  EXPECT_EQ(back.lfWidth, 0);
  EXPECT_EQ(back.lfCharSet, 0) << "the character set is kept";
  EXPECT_STREQ(back.lfFaceName, "Arial");

  QFont large(QStringLiteral("DejaVu Serif"));
  large.setPointSize(24);
  large.setWeight(QFont::Normal);
  large.setUnderline(true);
  LogFontFromFont(large, back);
  EXPECT_EQ(back.lfHeight, -32);
  EXPECT_EQ(back.lfWeight, 400);
  EXPECT_EQ(back.lfItalic, 0);
  EXPECT_EQ(back.lfUnderline, 1);
  EXPECT_STREQ(back.lfFaceName, "DejaVu Serif");
  EXPECT_EQ(FontFromLogFont(back).pointSize(), 24);
}

// The margins button opens the margin dialog with the record's values and
// takes the confirmed ones back.
TEST_F(PageWatermarks, MarginsButtonOpensTheMarginDialog) {
  CSettings& s = GetSettings();
  s.WatermarksOn = 1;
  s.PosMarginHor = 7;
  CPageWatermarks page;
  QString shown;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CPosAdjustDlg*>(QApplication::activeModalWidget());
    if (!dialog) return;
    shown = dialog->HorEdit()->text();
    dialog->HorEdit()->setText(QStringLiteral("25"));
    dialog->VertEdit()->setText(QStringLiteral("9"));
    dialog->OkButton()->click();
  });
  Child<QPushButton>(&page, "margins")->click();
  EXPECT_EQ(shown, QStringLiteral("7"));
  EXPECT_EQ(s.PosMarginHor, 25);
  EXPECT_EQ(s.PosMarginVert, 9);
}

// The font dialog confirmed without a change keeps the stored font, even
// though it can only show the installed face that "Arial" resolves to.
TEST_F(PageWatermarks, FontDialogLeftAsShownKeepsTheFont) {
  LogFont font = GetSettings().Font;
  uint32_t colour = 0x0000FF;
  QTimer::singleShot(0, [] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->accept();
  });
  ASSERT_TRUE(MakeWatermarkSystemDialogs().chooseFont(nullptr, font, colour));
  EXPECT_STREQ(font.lfFaceName, "Arial");
  EXPECT_EQ(font.lfHeight, -13);
  EXPECT_EQ(font.lfWeight, 700);
  EXPECT_EQ(font.lfItalic, 255);
  EXPECT_EQ(colour, 0x0000FFu);
}

// ---- filters page --------------------------------------------------------------------

int g_setupCalls = 0;
std::string g_setupPath;
int SetupProbe(void*, const char* const* path) {
  ++g_setupCalls;
  g_setupPath = path && *path ? *path : "";
  return 0;
}

using PageFilters = PageTest;

CFilterList MakeFilters() {
  CFilterList list;
  const char* const names[] = {"Sharpen", "Sepia", "Frame"};
  for (int i = 0; i < 3; ++i) {
    auto entry = std::make_unique<CFilterEntry>();
    entry->Name = names[i];
    entry->Description = std::string("Filter ") + names[i];
    entry->Id.Data1 = uint32_t(i + 1);
    entry->SetupProc = i == 1 ? &SetupProbe : nullptr;
    list.push_back(std::move(entry));
  }
  return list;
}

std::string Order(const CFilterList& list) {
  std::string order;
  for (const auto& e : list) order += e->Name.substr(0, 2);
  return order;
}

TEST_F(PageFilters, UpAndDownReorderTheList) {
  CFilterList list = MakeFilters();
  CPageFilters page(&list);
  auto* up = Child<QPushButton>(&page, "moveUp");
  auto* down = Child<QPushButton>(&page, "moveDown");
  EXPECT_EQ(page.List()->model()->rowCount(), 3);
  EXPECT_EQ(page.List()->model()->headerData(0, Qt::Horizontal).toString(),
            QString::fromStdString(LoadResString(IDS_FILTER_COLUMN)));

  up->click();  // nothing selected
  EXPECT_EQ(Order(list), "ShSeFr");
  page.SelectRow(2);
  up->click();
  EXPECT_EQ(Order(list), "ShFrSe");
  EXPECT_EQ(page.SelectedRow(), 1);
  up->click();
  EXPECT_EQ(Order(list), "FrShSe");
  EXPECT_EQ(page.SelectedRow(), 0);
  up->click();  // the first stays first
  EXPECT_EQ(Order(list), "FrShSe");
  down->click();
  down->click();
  EXPECT_EQ(Order(list), "ShSeFr");
  EXPECT_EQ(page.SelectedRow(), 2);
  down->click();  // the last stays last
  EXPECT_EQ(Order(list), "ShSeFr");
  EXPECT_EQ(page.List()->model()->index(2, 0).data().toString(), QStringLiteral("Frame"));
  EXPECT_EQ(page.List()->model()->index(2, 1).data().toString(), QStringLiteral("Filter Frame"));

  // The stored positions follow the new order.
  page.SelectRow(0);
  down->click();  // Se Sh Fr
  CSettings& s = GetSettings();
  s.SetFilterList(&list);
  CIniStore store("");
  s.SaveToStore(store);
  s.SetFilterList(nullptr);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(store.GetInt(GuidToRegistryString(list[size_t(i)]->Id), "Order index", -9), i);
  EXPECT_EQ(Order(list), "SeShFr");

  // No filters: nothing to move.
  CFilterList empty;
  CPageFilters emptyPage(&empty);
  Child<QPushButton>(&emptyPage, "moveDown")->click();
  CPageFilters noList(nullptr);
  Child<QPushButton>(&noList, "moveUp")->click();
  EXPECT_EQ(noList.List()->model()->rowCount(), 0);
}

TEST_F(PageFilters, OnlyAClickOnTheCheckBoxTogglesAFilter) {
  CFilterList list = MakeFilters();
  list[1]->Enabled = true;
  CPageFilters page(&list);
  page.resize(500, 300);
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  QTreeView* view = page.List();
  EXPECT_EQ(view->model()->index(1, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
  EXPECT_EQ(view->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

  // Where the check box of row 0 is.
  QStyleOptionViewItem option;
  option.initFrom(view);
  option.rect = view->visualRect(view->model()->index(0, 0));
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  option.checkState = Qt::Unchecked;
  option.text = QStringLiteral("Sharpen");
  const QRect check =
      view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
  ASSERT_TRUE(check.isValid());

  QSignalSpy stages(&page, &CSettingsPage::stagesChanged);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, check.center());
  EXPECT_TRUE(list[0]->Enabled);
  EXPECT_EQ(stages.count(), 1);
  EXPECT_EQ(view->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

  // The name: selects without toggling.
  const QRect name = view->visualRect(view->model()->index(0, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(name.right() - 5, name.center().y()));
  EXPECT_TRUE(list[0]->Enabled);
  EXPECT_EQ(page.SelectedRow(), 0);
  // The description column neither.
  const QRect desc = view->visualRect(view->model()->index(0, 1));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, desc.center());
  EXPECT_TRUE(list[0]->Enabled);

  // The keyboard does not toggle.
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Space);
  EXPECT_TRUE(list[0]->Enabled);

  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, check.center());
  EXPECT_FALSE(list[0]->Enabled);
}

TEST_F(PageFilters, DoubleClickOpensTheFilterSettings) {
  CFilterList list = MakeFilters();
  GetSettings().ProgramFolder = "/opt/lumaro/";
  CPageFilters page(&list);
  page.resize(500, 300);
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  QTreeView* view = page.List();
  g_setupCalls = 0;
  // A double click: a click, then a second press that is the double click.
  auto doubleClick = [view](QPoint at) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
  };
  const QRect row1 = view->visualRect(view->model()->index(1, 1));
  doubleClick(row1.center());
  EXPECT_EQ(g_setupCalls, 1);
  EXPECT_EQ(g_setupPath, "/opt/lumaro/Tessel.ini");
  // A filter without settings, and the empty space below the rows.
  const QRect row0 = view->visualRect(view->model()->index(0, 1));
  doubleClick(row0.center());
  doubleClick(QPoint(10, view->viewport()->height() - 3));
  EXPECT_EQ(g_setupCalls, 1);

  // The sample Sharpen filter shows its setting in Qt's own dialog inside
  // the program, with no dialog tool installed at all.
  CFilterHost host;
  CFilterList samples;
  host.LoadFilters(std::string(LUMARO_PROGRAM_DIR) + "/", samples);
  const CFilterEntry* sharpen = nullptr;
  for (const auto& entry : samples)
    if (entry->Name == "Sharpen") sharpen = entry.get();
  ASSERT_NE(sharpen, nullptr);
  testing_support::TempDir tmp;
  const std::string ini = tmp / "Tessel.ini";
  testing_support::WriteFileText(ini, "[Sharpen]\nAmount=5\n");
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(tmp.str()));
  int shownValue = 0;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    answer.stop();
    shownValue = dialog->intValue();
    dialog->setIntValue(7);
    dialog->accept();
  });
  answer.start(10);
  const bool stored = sharpen->Setup(nullptr, ini);
  qputenv("PATH", oldPath);
  EXPECT_EQ(shownValue, 5);
  EXPECT_TRUE(stored);
  EXPECT_EQ(testing_support::ReadFileText(ini), "[Sharpen]\nAmount=7\n");
}

// ---- Enter and Escape ----------------------------------------------------------------

using PageKeys = PageTest;

TEST_F(PageKeys, EscapeClosesTheWindowRotationPageWithoutStoring) {
  CSettings& s = GetSettings();
  {
    QWidget window;
    auto* page = new CPageDimensions(&window);
    window.show();
    s.Percents = 77;  // changed behind the page: Escape stores the page's 100
    QTest::keyClick(page, Qt::Key_Escape);
    EXPECT_EQ(s.Percents, 100);
    QApplication::processEvents();
    EXPECT_FALSE(window.isVisible());
  }
  {
    QWidget window;
    auto* page = new CPageFlipRotate(&window);
    window.show();
    s.RotationMode = 0;  // the page shows 3
    QTest::keyClick(page, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(s.RotationMode, 0);
    EXPECT_FALSE(window.isVisible());
  }
  {
    QWidget window;
    auto* page = new CPageMetadata(&window);
    window.show();
    s.ImageAuthor = "changed";
    QTest::keyClick(page, Qt::Key_Return);  // Enter stores, the window stays
    QApplication::processEvents();
    EXPECT_EQ(s.ImageAuthor, "");
    EXPECT_TRUE(window.isVisible());
  }
}

// ---- English -------------------------------------------------------------------------

// Every visible text of the pages, with the English library loaded, is
// English.
TEST_F(PageTest, EnglishLibraryTranslatesEveryPageText) {
  ASSERT_TRUE(LoadLanguageLibrary(std::string(LUMARO_PROGRAM_DIR) + "/"));
  CFilterList list = MakeFilters();
  std::vector<std::unique_ptr<CSettingsPage>> pages;
  pages.emplace_back(new CPageDimensions);
  pages.emplace_back(new CPageFlipRotate);
  pages.emplace_back(new CPageMetadata);
  pages.emplace_back(new CPageWatermarks);
  pages.emplace_back(new CPageFilters(&list));
  auto cyrillic = [](const QString& text) {
    for (QChar c : text)
      if (c.unicode() >= 0x400 && c.unicode() <= 0x4FF) return true;
    return false;
  };
  for (const auto& page : pages) {
    EXPECT_FALSE(cyrillic(page->Title())) << page->Title().toStdString();
    QStringList texts;
    for (auto* w : page->findChildren<QAbstractButton*>()) texts << w->text() << w->accessibleName();
    for (auto* w : page->findChildren<QLabel*>()) texts << w->text();
    for (auto* w : page->findChildren<QGroupBox*>()) texts << w->title();
    for (auto* w : page->findChildren<QComboBox*>())
      for (int i = 0; i < w->count(); ++i) texts << w->itemText(i);
    for (auto* w : page->findChildren<QTreeView*>())
      for (int c = 0; c < w->model()->columnCount(); ++c)
        texts << w->model()->headerData(c, Qt::Horizontal).toString();
    for (const QString& text : texts) EXPECT_FALSE(cyrillic(text)) << text.toStdString();
  }
  ReleaseLanguageLibrary();
}

}  // namespace
