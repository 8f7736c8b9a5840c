// The dialogs of the job and of the settings: the interactive adjustment
// (result codes, keys, preview, the worker's carried values), the format
// option dialogs, the rename, shadow, margin and thumbnail dialogs, and the
// multi-frame split dialog. Modal loops are replaced by scripts through
// DialogRunHook; message boxes are recorded.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <QTranslator>
#include <filesystem>
#include <memory>

#include "engine/events.h"
#include "engine/host.h"
#include "engine/worker.h"
#include "imaging/image.h"
#include "formats/output_format.h"
#include "imaging/property_items.h"
#include "services/strings.h"
#include "settings/settings.h"
#include "test_support.h"
#include "ui/aux_dialogs.h"
#include "ui/controls.h"
#include "ui/dialog_support.h"
#include "ui/format_dialogs.h"
#include "ui/interactive_dlg.h"
#include "ui/main_window.h"
#include "ui/page_common.h"
#include "ui/page_watermarks.h"
#include "ui/progress_dlg.h"
#include "ui/split_dlg.h"

namespace fs = std::filesystem;
using testing_support::ImConvert;
using testing_support::Quote;
using testing_support::Rgb;
using testing_support::TempDir;

namespace {

struct Shown {
  QString text;
  Notice notice;
};

// Installs the dialogs, records message boxes and puts every global hook
// back afterwards.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services_ = GetDesktopServices();
    watermark_ = GetWatermarkDialogs();
    interactive_ = CDesktopHost::InteractiveHook;
    setup_ = COutputFormat::SetupHook;
    GetSettings().ResetToDefaults();
    CDesktopHost::MessageBoxHook = [this](const QString& text, const QString&, Notice notice,
                                          Answer) {
      messages.push_back({text, notice});
      return Answer::Ok;
    };
    InstallDialogServices();
  }
  void TearDown() override {
    DialogRunHook = nullptr;
    CDesktopHost::MessageBoxHook = nullptr;
    CShadowAdjustDlg::ColourDialogHook = nullptr;
    CMultipageDisasmDlg::FileDialogHook = nullptr;
    CFolderBrowser::DialogHook = nullptr;
    GetDesktopServices() = services_;
    GetWatermarkDialogs() = watermark_;
    CDesktopHost::InteractiveHook = interactive_;
    COutputFormat::SetupHook = setup_;
    GetSettings().ResetToDefaults();
  }

  std::vector<Shown> messages;

 private:
  DesktopServices services_;
  WatermarkDialogs watermark_;
  std::function<int(InteractiveRequest&, QWidget*)> interactive_;
  std::function<int(COutputFormat&)> setup_;
};

CImage Solid(int w, int h, uint8_t value) {
  CImage image;
  EXPECT_TRUE(image.Create(w, h, 24));
  image.Clear(value);
  return image;
}

// Grey picture with a red block in its top-left corner (rows count from the
// bottom in the image's API).
CImage MarkedPicture(int w, int h) {
  CImage image = Solid(w, h, 128);
  for (int y = h - h / 3; y < h; ++y)
    for (int x = 0; x < w / 3; ++x) image.SetPixelColor(x, y, Rgb(255, 0, 0));
  return image;
}

bool IsRed(RGBQuad c) { return c.red > 200 && c.green < 60 && c.blue < 60; }

// Where the red block lies in a picture: 0 top left, 1 top right,
// 2 bottom left, 3 bottom right, -1 nowhere (content only, background
// excluded by looking at the centre of each quarter of the content box).
int RedCorner(const CImage& image, int contentW, int contentH) {
  const int w = image.GetWidth(), h = image.GetHeight();
  const int left = (w - contentW) / 2, bottom = (h - contentH) / 2;
  const int xs[2] = {left + contentW / 6, left + contentW - 1 - contentW / 6};
  const int ys[2] = {bottom + contentH - 1 - contentH / 6, bottom + contentH / 6};  // top, bottom
  int found = -1;
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 2; ++col)
      if (IsRed(image.GetPixelColor(xs[col], ys[row]))) found = row * 2 + col;
  return found;
}

}  // namespace

// ---- interactive adjustment ---------------------------------------------------------------

TEST_F(DialogTest, DialogInteractiveClosingButtonsKeysAndTips) {
  CImage source = Solid(40, 30, 100);
  struct Case {
    const char* name;
    std::function<void(CInteractiveDlg&)> act;
    int expected;
  };
  const Case cases[] = {
      {"with changes", [](CInteractiveDlg& d) { d.CloseButton(1)->click(); }, 1},
      {"skip", [](CInteractiveDlg& d) { d.CloseButton(5)->click(); }, 5},
      {"unchanged", [](CInteractiveDlg& d) { d.CloseButton(2)->click(); }, 2},
      {"escape", [](CInteractiveDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2},
      // Enter from a check box and from a rotation button: the default button.
      {"enter", [](CInteractiveDlg& d) { QTest::keyClick(d.DontShowBox(), Qt::Key_Return); }, 1},
      {"enter on a button",
       [](CInteractiveDlg& d) {
         d.RotationButton(1)->setFocus();
         QTest::keyClick(d.RotationButton(1), Qt::Key_Return);
       },
       1},
      {"window closed", [](CInteractiveDlg& d) { d.close(); }, 2},
  };
  for (const Case& c : cases) {
    CInteractiveDlg dialog;
    dialog.Source = &source;
    dialog.InitDialog();
    dialog.show();
    c.act(dialog);
    EXPECT_FALSE(dialog.isVisible()) << c.name;
    EXPECT_EQ(dialog.ResultCode, c.expected) << c.name;
  }

  CInteractiveDlg dialog;
  dialog.Source = &source;
  dialog.InitDialog();
  EXPECT_EQ(dialog.Tips()->ToolText(dialog.CloseButton(1)),
            "Преобразовать изображение c учетом изменений, сделанных в этом окне");
  EXPECT_EQ(dialog.Tips()->ToolText(dialog.CloseButton(5)),
            "Вообще не преобразовывать это изображение, пропустить его");
  EXPECT_EQ(dialog.Tips()->ToolText(dialog.CloseButton(2)),
            "Преобразовать изображение без изменений, сделанных в этом окне");
}

TEST_F(DialogTest, DialogInteractiveValuesInAndOut) {
  CImage source = Solid(40, 30, 100);
  CInteractiveDlg dialog;
  dialog.Source = &source;
  dialog.CaptionSuffix = " - /p/a.jpg, 40x30";
  dialog.Brightness = -40;
  dialog.Contrast = -100;
  dialog.Rotation = 2;
  dialog.Flip = 1;
  dialog.InitDialog();
  EXPECT_EQ(dialog.windowTitle(), "Настройка - /p/a.jpg, 40x30");
  EXPECT_EQ(dialog.BrightnessSlider()->minimum(), -255);
  EXPECT_EQ(dialog.BrightnessSlider()->maximum(), 255);
  EXPECT_EQ(dialog.ContrastSlider()->minimum(), -100);
  EXPECT_EQ(dialog.ContrastSlider()->maximum(), 100);
  EXPECT_EQ(dialog.BrightnessSlider()->value(), -40);
  EXPECT_EQ(dialog.ContrastSlider()->value(), -100);
  EXPECT_TRUE(dialog.RotationButton(2)->isChecked());
  EXPECT_TRUE(dialog.FlipButton(1)->isChecked());
  // A refresh keeps the values.
  dialog.RefreshPreview();
  EXPECT_EQ(dialog.Brightness, -40);
  EXPECT_EQ(dialog.BrightnessSlider()->value(), -40);

  // The controls go back into the members on closing.
  dialog.show();
  dialog.BrightnessSlider()->setValue(77);
  dialog.ContrastSlider()->setValue(12);
  dialog.RotationButton(4)->click();
  dialog.FlipButton(0)->click();
  dialog.DontShowBox()->setChecked(true);
  dialog.CloseButton(5)->click();
  EXPECT_EQ(dialog.Brightness, 77);
  EXPECT_EQ(dialog.Contrast, 12);
  EXPECT_EQ(dialog.Rotation, 4);
  EXPECT_EQ(dialog.Flip, 0);
  EXPECT_TRUE(dialog.DontShowAgain);
  EXPECT_FALSE(dialog.ApplyToAll);
}

TEST_F(DialogTest, DialogInteractivePreviewFlipsThenRotatesAndResets) {
  // Larger than the preview area, so the picture fills its width.
  CImage source = MarkedPicture(720, 360);
  CInteractiveDlg dialog;
  dialog.Source = &source;
  dialog.InitDialog();
  ASSERT_EQ(dialog.Preview().GetWidth(), CInteractiveDlg::kPreviewWidth);
  ASSERT_EQ(dialog.Preview().GetHeight(), CInteractiveDlg::kPreviewHeight);
  const int wideW = 360, wideH = 180, tallW = 135, tallH = 270;
  EXPECT_EQ(RedCorner(dialog.Preview(), wideW, wideH), 0);

  // Mirror first (block to the top right), then a right turn (bottom right).
  // Rotating first and mirroring then would give the top left.
  dialog.FlipButton(0)->click();
  dialog.RotationButton(1)->click();
  EXPECT_EQ(RedCorner(dialog.Preview(), tallW, tallH), 3);
  // A vertical flip and a left turn: bottom left, then bottom right.
  dialog.FlipButton(1)->click();
  dialog.RotationButton(0)->click();
  EXPECT_EQ(RedCorner(dialog.Preview(), tallW, tallH), 3);
  dialog.RotationButton(2)->click();  // vertical flip and half turn: top right
  EXPECT_EQ(RedCorner(dialog.Preview(), wideW, wideH), 1);

  // Tone reaches the preview.
  dialog.BrightnessSlider()->setValue(100);
  const RGBQuad grey = dialog.Preview().GetPixelColor(180, 120);
  EXPECT_NEAR(grey.green, 228, 2);

  dialog.OnReset();
  EXPECT_EQ(dialog.Rotation, 3);
  EXPECT_EQ(dialog.Flip, 2);
  EXPECT_EQ(dialog.Brightness, 0);
  EXPECT_EQ(dialog.Contrast, 0);
  EXPECT_EQ(dialog.BrightnessSlider()->value(), 0);
  EXPECT_TRUE(dialog.RotationButton(3)->isChecked());
  EXPECT_TRUE(dialog.FlipButton(2)->isChecked());
  EXPECT_EQ(RedCorner(dialog.Preview(), wideW, wideH), 0);
  EXPECT_NEAR(dialog.Preview().GetPixelColor(180, 120).green, 128, 2);
  // The preview area shows the grey background beside the picture.
  dialog.RotationButton(1)->click();
  const RGBQuad edge = dialog.Preview().GetPixelColor(2, 135);
  EXPECT_EQ(edge.red, 128);
  EXPECT_EQ(edge.green, 128);
  EXPECT_EQ(edge.blue, 128);

  // A small palette picture (a one-colour 64 x 64 GIF) sits on grey too,
  // not on the palette colour nearest to grey.
  CImage small;
  ASSERT_TRUE(small.Create(64, 64, 8));
  const RGBQuad blue = Rgb(0, 0, 200);
  small.SetPalette(&blue, 1);
  small.Clear(0);
  CInteractiveDlg palette;
  palette.Source = &small;
  palette.InitDialog();
  const CImage& shown = palette.Preview();
  const RGBQuad around = shown.GetPixelColor(2, 2);
  EXPECT_EQ(around.red, 128);
  EXPECT_EQ(around.blue, 128);
  const RGBQuad centre = shown.GetPixelColor(shown.GetWidth() / 2, shown.GetHeight() / 2);
  EXPECT_EQ(centre.blue, 200);
  EXPECT_EQ(centre.red, 0);
}

TEST_F(DialogTest, DialogInteractiveCameraTagPreviewLeavesItemsAlone) {
  GetSettings().GdiplusAvailable = 1;
  CImage source = MarkedPicture(720, 360);
  PropertyItemList items;
  PropertyItem orientation;
  orientation.id = 274;
  orientation.type = 3;
  orientation.length = 2;
  orientation.value = {6, 0};  // turn right
  items.items.push_back(orientation);
  CInteractiveDlg dialog;
  dialog.Source = &source;
  dialog.Items = &items;
  dialog.ItemCount = 1;
  dialog.Rotation = 4;
  dialog.InitDialog();
  EXPECT_EQ(RedCorner(dialog.Preview(), 135, 270), 1);
  dialog.BrightnessSlider()->setValue(5);  // a second refresh turns it again
  EXPECT_EQ(RedCorner(dialog.Preview(), 135, 270), 1);
  // The worker's items still ask for the turn.
  EXPECT_EQ(items.items[0].value, (std::vector<uint8_t>{6, 0}));
}

TEST_F(DialogTest, DialogInteractiveSmoothOnLargePhoto) {
  // A 24-megapixel picture: the preview works on a reduced copy, so
  // dragging a trackbar stays quick, and the source is never touched.
  CImage photo;
  ASSERT_TRUE(photo.Create(6000, 4000, 24));
  for (int y = 0; y < 4000; ++y) {
    uint8_t* row = photo.GetBits(y);
    for (int x = 0; x < 6000; ++x) {
      row[x * 3] = uint8_t(x);
      row[x * 3 + 1] = uint8_t(y);
      row[x * 3 + 2] = 90;
    }
  }
  const CImage before = photo;
  CInteractiveDlg dialog;
  dialog.Source = &photo;
  dialog.InitDialog();
  EXPECT_LE(std::max(dialog.ReducedSource().GetWidth(), dialog.ReducedSource().GetHeight()),
            std::max(CInteractiveDlg::kPreviewWidth, CInteractiveDlg::kPreviewHeight));
  dialog.show();
  const int start = dialog.RefreshCount();
  QElapsedTimer timer;
  timer.start();
  dialog.BrightnessSlider()->setSliderDown(true);
  for (int v = 1; v <= 40; ++v) dialog.BrightnessSlider()->setValue(v * 5);
  dialog.BrightnessSlider()->setSliderDown(false);
  const qint64 ms = timer.elapsed();
  EXPECT_EQ(dialog.RefreshCount() - start, 40);
  // Forty refreshes of the full picture take many seconds; of the reduced
  // copy well under one (the bound is loose for sanitizer builds).
  EXPECT_LT(ms, 4000);
  EXPECT_NEAR(dialog.Preview().GetPixelColor(180, 135).red, std::min(255, 90 + 200), 1);
  EXPECT_EQ(0, std::memcmp(photo.GetBits(), before.GetBits(), photo.GetImageSize()));
}

// ---- the worker with the dialog -------------------------------------------------------------

namespace {

// A job host that runs the real dialog function; DialogRunHook scripts it.
class ScriptedHost : public IConversionHost {
 public:
  void SetProgressRange(int, int) override {}
  void SetProgressCaption(const std::string&) override {}
  void SetFileText(const std::string&) override {}
  void Step() override {}
  void Pump() override {}
  Answer Message(const std::string&, const std::string&, Notice, Answer) override {
    return Answer::Ok;
  }
  int ShowInteractive(InteractiveRequest& request) override {
    ++shown;
    return RunInteractiveDialog(request);
  }
  void JobFinished(const JobCounts&, bool) override {}
  int shown = 0;
};

class InteractiveJobTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    CSettings& s = GetSettings();
    s.OutputFolder = (tmp.path() / "out").string() + "/";
    fs::create_directories(tmp.path() / "out");
    s.OutputFormat = 1;  // PNG
    s.GdiplusAvailable = 0;
    s.Interactive = 1;
    for (const char* name : {"a", "b", "c"}) {
      const std::string path = tmp / (std::string(name) + ".png");
      ASSERT_TRUE(Solid(40, 20, 128).Save(path, FORMAT_PNG));
      job.fileList.push_back(path);
    }
  }

  void RunJob() {
    NamedEvent(kEventAbort).Reset();
    NamedEvent(kEventDone).Reset();
    job.settings = &GetSettings();
    job.host = &host;
    job.abortEvent = &NamedEvent(kEventAbort);
    job.doneEvent = &NamedEvent(kEventDone);
    ConversionThreadProc(&job);
  }

  // Width, height and the green value of the centre of an output file;
  // width 0 when it was not written.
  struct Out {
    int w = 0, h = 0, green = -1;
  };
  Out Output(const char* name) {
    Out out;
    CImage image;
    if (!image.Load((tmp.path() / "out" / (std::string(name) + ".png")).string())) return out;
    out.w = image.GetWidth();
    out.h = image.GetHeight();
    out.green = image.GetPixelColor(out.w / 2, out.h / 2).green;
    return out;
  }

  TempDir tmp;
  CConversionJob job;
  ScriptedHost host;
};

}  // namespace

TEST_F(InteractiveJobTest, DialogCarriedValuesOverThreeFiles) {
  GetSettings().RotationMode = 1;  // the first dialog starts with a right turn
  std::vector<QString> captions;
  int call = 0;
  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CInteractiveDlg&>(d);
    captions.push_back(dialog.windowTitle());
    switch (call++) {
      case 0:
        EXPECT_TRUE(dialog.RotationButton(1)->isChecked());
        EXPECT_EQ(dialog.BrightnessSlider()->value(), 0);
        // Half turn, darker by 40, vertical flip, carried to later files.
        dialog.RotationButton(0)->click();
        dialog.BrightnessSlider()->setValue(-40);
        dialog.ApplyToAllBox()->setChecked(true);
        dialog.CloseButton(1)->click();
        break;
      case 1:
        // The carried values are shown; this file goes unchanged.
        EXPECT_TRUE(dialog.RotationButton(0)->isChecked());
        EXPECT_EQ(dialog.BrightnessSlider()->value(), -40);
        dialog.BrightnessSlider()->setValue(-90);  // not carried: no "apply to all"
        QTest::keyClick(&dialog, Qt::Key_Escape);
        break;
      default:
        EXPECT_TRUE(dialog.RotationButton(0)->isChecked());
        EXPECT_EQ(dialog.BrightnessSlider()->value(), -40);
        dialog.CloseButton(5)->click();
        break;
    }
  };
  RunJob();
  EXPECT_EQ(host.shown, 3);
  ASSERT_EQ(captions.size(), 3u);
  EXPECT_EQ(captions[0], QString::fromStdString("Настройка - " + job.fileList[0] + ", 40x20"));
  const Out a = Output("a"), b = Output("b"), c = Output("c");
  EXPECT_EQ(a.w, 20);
  EXPECT_EQ(a.h, 40);
  EXPECT_EQ(a.green, 88);
  // "Преобразовать без изменений": not even the carried rotation.
  EXPECT_EQ(b.w, 40);
  EXPECT_EQ(b.h, 20);
  EXPECT_EQ(b.green, 128);
  EXPECT_EQ(c.w, 0);
  EXPECT_EQ(ConvertedCount, 2);
  EXPECT_EQ(SkippedCount, 1);
  EXPECT_EQ(GetSettings().Interactive, 1);
}

TEST_F(InteractiveJobTest, DialogDontShowAgainWithApplyToAll) {
  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CInteractiveDlg&>(d);
    dialog.RotationButton(1)->click();
    dialog.BrightnessSlider()->setValue(20);
    dialog.DontShowBox()->setChecked(true);
    dialog.ApplyToAllBox()->setChecked(true);
    QTest::keyClick(dialog.ApplyToAllBox(), Qt::Key_Return);
  };
  RunJob();
  EXPECT_EQ(host.shown, 1);
  EXPECT_EQ(GetSettings().Interactive, 0);
  for (const char* name : {"a", "b", "c"}) {
    const Out out = Output(name);
    EXPECT_EQ(out.w, 20) << name;
    EXPECT_EQ(out.h, 40) << name;
    EXPECT_EQ(out.green, 148) << name;
  }
  EXPECT_EQ(ConvertedCount, 3);
}

TEST_F(DialogTest, DialogInteractiveThroughTheDesktopHostHook) {
  ASSERT_TRUE(bool(CDesktopHost::InteractiveHook));
  CImage source = Solid(20, 10, 50);
  InteractiveRequest request;
  request.image = &source;
  request.brightness = 10;
  DialogRunHook = [](QDialog& d) {
    auto& dialog = dynamic_cast<CInteractiveDlg&>(d);
    dialog.ContrastSlider()->setValue(-30);
    dialog.FlipButton(1)->click();
    dialog.CloseButton(1)->click();
  };
  EXPECT_EQ(CDesktopHost::InteractiveHook(request, nullptr), 1);
  EXPECT_EQ(request.brightness, 10);
  EXPECT_EQ(request.contrast, -30);
  EXPECT_EQ(request.flip, 1);
  EXPECT_EQ(request.rotation, 3);
  EXPECT_FALSE(request.dontShowAgain);
}

// ---- format options ------------------------------------------------------------------------

TEST_F(DialogTest, DialogFormatJpegLabelFollowsTheThumb) {
  CPageJPEG dialog;
  dialog.Quality = 75;
  dialog.InitDialog();
  dialog.show();
  EXPECT_EQ(dialog.QualityLabelControl()->text(), "75 %");
  EXPECT_EQ(dialog.QualitySlider()->minimum(), 0);
  EXPECT_EQ(dialog.QualitySlider()->maximum(), 100);
  EXPECT_EQ(dialog.QualitySlider()->tickInterval(), 5);
  // Dragging the thumb to the left end.
  dialog.QualitySlider()->setSliderDown(true);
  dialog.QualitySlider()->setValue(40);
  EXPECT_EQ(dialog.QualityLabelControl()->text(), "40 %");
  dialog.QualitySlider()->setValue(0);
  EXPECT_EQ(dialog.QualityLabelControl()->text(), "0 %");
  dialog.QualitySlider()->setSliderDown(false);
  // Keys move it too.
  dialog.QualitySlider()->setFocus();
  QTest::keyClick(dialog.QualitySlider(), Qt::Key_End);
  EXPECT_EQ(dialog.QualityLabelControl()->text(), "100 %");
  EXPECT_EQ(dialog.QualityLabel, "100 %");
}

TEST_F(DialogTest, DialogFormatOkCopiesBackCancelLeavesEverything) {
  CSettings& s = GetSettings();
  auto& jpeg = dynamic_cast<CFormatJPEG&>(*s.OutputFormats[0]);
  auto& png = dynamic_cast<CFormatPNG&>(*s.OutputFormats[1]);
  auto& tiff = dynamic_cast<CFormatTIFF&>(*s.OutputFormats[2]);
  auto& gif = dynamic_cast<CFormatGIF&>(*s.OutputFormats[4]);
  auto& webp = dynamic_cast<CFormatWebP&>(*s.OutputFormats[6]);
  auto& avif = dynamic_cast<CFormatAVIF&>(*s.OutputFormats[7]);
  auto& jxl = dynamic_cast<CFormatJXL&>(*s.OutputFormats[8]);
  gif.PaletteUserPaletteFile = "/pal/вещи.pal";
  png.Compression = 7;

  // Every control changed, then "Отмена" (or Escape): nothing changes.
  bool escape = false;
  DialogRunHook = [&](QDialog& d) {
    if (auto* j = dynamic_cast<CPageJPEG*>(&d)) {
      j->QualitySlider()->setValue(10);
      j->SmoothingEdit()->setText("55");
      j->HuffmanBox()->setChecked(!j->HuffmanBox()->isChecked());
      j->ProgressiveBox()->setChecked(!j->ProgressiveBox()->isChecked());
    } else if (auto* p = dynamic_cast<CPagePNG*>(&d)) {
      p->InterlacedBox()->setChecked(!p->InterlacedBox()->isChecked());
    } else if (auto* g = dynamic_cast<CPageGIF*>(&d)) {
      g->PaletteGroup()->button(0)->click();
      g->LimitEdit()->setText("16");
      g->DiffusionBox()->setChecked(false);
      g->CompressionGroup()->button(2)->click();
    } else if (auto* t = dynamic_cast<CPageTIFF*>(&d)) {
      t->CompressionGroup()->button(5)->click();
    } else if (auto* m = dynamic_cast<CPageQualityEffort*>(&d)) {
      m->QualitySlider()->setValue(33);
      m->EffortEdit()->setText("3");
      m->SwitchBox()->setChecked(true);
    }
    auto* f = dynamic_cast<CFormatOptionsDlg*>(&d);
    ASSERT_NE(f, nullptr);
    if (escape)
      QTest::keyClick(&d, Qt::Key_Escape);
    else
      f->CancelButton()->click();
  };
  for (bool esc : {false, true}) {
    escape = esc;
    for (int i : {0, 1, 2, 4, 6, 7, 8}) EXPECT_EQ(s.OutputFormats[size_t(i)]->Setup(), 2);
    EXPECT_EQ(jpeg.Quality, 75);
    EXPECT_EQ(jpeg.Smoothing, 0);
    EXPECT_EQ(jpeg.OptimizeHuffmanCoding, 1);
    EXPECT_EQ(jpeg.Progressive, 0);
    EXPECT_EQ(png.Interlaced, 0);
    EXPECT_EQ(tiff.CompressionType, 0);
    EXPECT_EQ(gif.PaletteType, 1);
    EXPECT_EQ(gif.PaletteLimitColors, 256);
    EXPECT_EQ(gif.PaletteErrorDiffusion, 1);
    EXPECT_EQ(gif.CompressionType, 0);
    EXPECT_EQ(webp.Quality, 80);
    EXPECT_EQ(webp.Method, 4);
    EXPECT_EQ(avif.Chroma444, 0);
    EXPECT_EQ(jxl.Effort, 7);
  }

  // The same changes with OK.
  DialogRunHook = [&](QDialog& d) {
    if (auto* j = dynamic_cast<CPageJPEG*>(&d)) {
      EXPECT_EQ(j->QualitySlider()->value(), 75);
      j->QualitySlider()->setValue(10);
      j->SmoothingEdit()->setText("55");
      j->HuffmanBox()->setChecked(false);
      j->ProgressiveBox()->setChecked(true);
    } else if (auto* p = dynamic_cast<CPagePNG*>(&d)) {
      p->InterlacedBox()->setChecked(true);
    } else if (auto* g = dynamic_cast<CPageGIF*>(&d)) {
      EXPECT_EQ(g->LimitEdit()->text(), "256");
      g->PaletteGroup()->button(0)->click();
      g->LimitEdit()->setText(" 16 ");
      g->DiffusionBox()->setChecked(false);
      g->CompressionGroup()->button(2)->click();
    } else if (auto* t = dynamic_cast<CPageTIFF*>(&d)) {
      t->CompressionGroup()->button(5)->click();
    } else if (auto* m = dynamic_cast<CPageQualityEffort*>(&d)) {
      m->QualitySlider()->setValue(33);
      EXPECT_EQ(m->QualityLabelControl()->text(), "33 %");
      m->EffortEdit()->setText("3");
      m->SwitchBox()->setChecked(true);
    }
    dynamic_cast<CFormatOptionsDlg&>(d).OkButton()->click();
  };
  for (int i : {0, 1, 2, 4, 6, 7, 8}) EXPECT_EQ(s.OutputFormats[size_t(i)]->Setup(), 1);
  EXPECT_EQ(webp.Quality, 33);
  EXPECT_EQ(webp.Method, 3);
  EXPECT_EQ(webp.Lossless, 1);
  EXPECT_EQ(avif.Speed, 3);
  EXPECT_EQ(avif.Chroma444, 1);
  EXPECT_EQ(jxl.Quality, 33);
  EXPECT_EQ(jxl.Effort, 3);
  EXPECT_EQ(jxl.Lossless, 1);
  EXPECT_EQ(jpeg.Quality, 10);
  EXPECT_EQ(jpeg.Smoothing, 55);
  EXPECT_EQ(jpeg.OptimizeHuffmanCoding, 0);
  EXPECT_EQ(jpeg.Progressive, 1);
  EXPECT_EQ(png.Interlaced, 1);
  EXPECT_EQ(png.Compression, 7);
  EXPECT_EQ(tiff.CompressionType, 5);
  EXPECT_EQ(gif.PaletteType, 0);
  EXPECT_EQ(gif.PaletteLimitColors, 16);
  EXPECT_EQ(gif.PaletteErrorDiffusion, 0);
  EXPECT_EQ(gif.CompressionType, 2);
  EXPECT_EQ(gif.PaletteUserPaletteFile, "/pal/вещи.pal");
  // Formats without options show nothing.
  EXPECT_EQ(s.OutputFormats[3]->Setup(), 2);
  EXPECT_EQ(s.OutputFormats[5]->Setup(), 2);
  EXPECT_TRUE(messages.empty());
}

TEST_F(DialogTest, DialogFormatTiffRadiosInOrderAndUnknownValuesKept) {
  CPageTIFF tiff;
  const char* names[] = {"Нет", "RLE", "CCITTFAX3", "CCITTFAX4", "LZW", "JPEG", "Mac (packbits)"};
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(tiff.CompressionGroup()->button(i)->text(), names[i]);
    tiff.Compression = (i + 3) % 7;
    tiff.InitDialog();
    tiff.CompressionGroup()->button(i)->click();
    ASSERT_TRUE(tiff.StoreControls());
    EXPECT_EQ(tiff.Compression, i);
  }
  // The user palette (type 2) has no radio: it survives OK untouched.
  CPageGIF gif;
  gif.PaletteType = 2;
  gif.InitDialog();
  EXPECT_EQ(gif.PaletteGroup()->checkedId(), -1);
  ASSERT_TRUE(gif.StoreControls());
  EXPECT_EQ(gif.PaletteType, 2);
}

TEST_F(DialogTest, DialogFormatGifColourLimitRange) {
  CPageGIF dialog;
  dialog.LimitColors = 64;
  dialog.InitDialog();
  dialog.show();
  // A limit of 0 or 1 colours would give no usable picture.
  EXPECT_EQ(dialog.LimitSpin()->Minimum(), 2);
  EXPECT_EQ(dialog.LimitSpin()->Maximum(), 256);
  struct Case {
    const char* typed;
    bool accepted;
    const char* message;
  };
  const Case cases[] = {
      {"300", false, "Введите целое число от 2 до 256."},
      {"-1", false, "Введите целое число от 2 до 256."},
      {"0", false, "Введите целое число от 2 до 256."},
      {"1", false, "Введите целое число от 2 до 256."},
      {"abc", false, "Введите целое число."},
      {"", false, "Введите целое число."},
      {"12x", false, "Введите целое число."},
      {"256", true, nullptr},
      {"2", true, nullptr},
  };
  for (const Case& c : cases) {
    messages.clear();
    dialog.show();
    dialog.LimitEdit()->setText(c.typed);
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.isVisible(), !c.accepted) << c.typed;
    if (c.accepted) {
      EXPECT_TRUE(messages.empty()) << c.typed;
      EXPECT_EQ(dialog.LimitColors, std::atoi(c.typed));
    } else {
      ASSERT_EQ(messages.size(), 1u) << c.typed;
      EXPECT_EQ(messages[0].text, c.message);
      EXPECT_EQ(dialog.LimitColors, 64) << c.typed;
      EXPECT_EQ(QApplication::focusWidget() == dialog.LimitEdit() || !dialog.isActiveWindow(),
                true);
      EXPECT_TRUE(dialog.LimitEdit()->hasSelectedText() || dialog.LimitEdit()->text().isEmpty());
    }
  }
  // The smoothing of JPEG: a number is needed, its size is not checked.
  CPageJPEG jpeg;
  jpeg.InitDialog();
  jpeg.SmoothingEdit()->setText("");
  messages.clear();
  EXPECT_FALSE(jpeg.StoreControls());
  EXPECT_EQ(messages.size(), 1u);
  jpeg.SmoothingEdit()->setText("100");
  EXPECT_TRUE(jpeg.StoreControls());
  EXPECT_EQ(jpeg.Smoothing, 100);
  // The effort of the container formats stays within its range.
  CPageQualityEffort jxl(CPageQualityEffort::kJXL);
  jxl.Effort = 7;
  jxl.InitDialog();
  EXPECT_EQ(jxl.EffortSpin()->Minimum(), 1);
  EXPECT_EQ(jxl.EffortSpin()->Maximum(), 9);
  jxl.EffortEdit()->setText("0");
  messages.clear();
  EXPECT_FALSE(jxl.StoreControls());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Введите целое число от 1 до 9.");
  EXPECT_EQ(jxl.Effort, 7);
}

// ---- rename pattern -----------------------------------------------------------------------------

namespace {

void WriteHistory(const QStringList& entries, const QString& current) {
  auto profile = OpenProfile();
  profile->remove(kRenameHistorySection);
  profile->beginGroup(kRenameHistorySection);
  for (int i = 0; i < entries.size(); ++i)
    profile->setValue(kRenameHistoryPrefix + QString::number(i), entries[i]);
  if (!current.isNull()) profile->setValue(kRenameHistoryPrefix, current);
  profile->endGroup();
  profile->sync();
}

QStringList ReadHistory(QString* current = nullptr) {
  auto profile = OpenProfile();
  profile->beginGroup(kRenameHistorySection);
  QStringList entries;
  for (int i = 0; i < 20; ++i) {
    const QString key = kRenameHistoryPrefix + QString::number(i);
    if (!profile->contains(key)) break;
    entries << profile->value(key).toString();
  }
  if (current) *current = profile->value(kRenameHistoryPrefix).toString();
  profile->endGroup();
  return entries;
}

// Runs the rename dialog with a script (through the main window's service).
void RunRename(const std::function<void(CRenameProperties&)>& script) {
  DialogRunHook = [script](QDialog& d) { script(dynamic_cast<CRenameProperties&>(d)); };
  GetDesktopServices().renameDialog(nullptr);
}

}  // namespace

TEST_F(DialogTest, DialogRenameEmptyPatternOpensWithDefault) {
  WriteHistory({}, QString());
  CSettings& s = GetSettings();
  s.RenamePattern.clear();
  s.RenameStartFrom = 3;
  RunRename([](CRenameProperties& d) {
    EXPECT_EQ(d.PatternCombo()->currentText(), "Image_###");
    EXPECT_EQ(d.StartEdit()->text(), "3");
    d.StartEdit()->setText("12");
    d.OkButton()->click();
  });
  EXPECT_EQ(s.RenamePattern, "Image_###");
  EXPECT_EQ(s.RenameStartFrom, 12);
  QString current;
  EXPECT_EQ(ReadHistory(&current), QStringList{"Image_###"});
  EXPECT_EQ(current, "Image_###");
}

TEST_F(DialogTest, DialogRenameHistoryOrderAndLimit) {
  QStringList ten;
  for (int i = 0; i < 10; ++i) ten << QString("P%1_#").arg(i);
  WriteHistory(ten, "P0_#");
  CSettings& s = GetSettings();
  s.RenamePattern = "P0_#";

  // An entry already in the list moves to the top (a different case counts
  // as the same entry).
  RunRename([](CRenameProperties& d) {
    EXPECT_EQ(d.PatternCombo()->count(), 10);
    EXPECT_EQ(d.PatternCombo()->currentText(), "P0_#");
    d.PatternCombo()->setEditText("p5_#");
    d.OkButton()->click();
  });
  EXPECT_EQ(s.RenamePattern, "p5_#");
  QStringList expected = {"p5_#", "P0_#", "P1_#", "P2_#", "P3_#",
                          "P4_#", "P6_#", "P7_#", "P8_#", "P9_#"};
  EXPECT_EQ(ReadHistory(), expected);

  // An eleventh distinct pattern drops the oldest; blanks around it go.
  RunRename([](CRenameProperties& d) {
    d.PatternCombo()->setEditText("  New_### ");
    d.OkButton()->click();
  });
  expected.removeLast();
  expected.prepend("New_###");
  QString current;
  EXPECT_EQ(ReadHistory(&current), expected);
  EXPECT_EQ(current, "New_###");
  EXPECT_EQ(s.RenamePattern, "New_###");  // as the history keeps it
}

TEST_F(DialogTest, DialogRenameDeleteCancelAndBlankText) {
  WriteHistory({"A_#", "B_#", "C_#"}, "A_#");
  CSettings& s = GetSettings();
  s.RenamePattern = "B_#";
  s.RenameStartFrom = 4;

  // "Удалить" then "Отмена": profile and settings as they were.
  RunRename([](CRenameProperties& d) {
    EXPECT_EQ(d.PatternCombo()->currentText(), "B_#");
    d.DeleteButton()->click();
    EXPECT_EQ(d.PatternCombo()->count(), 2);
    d.StartEdit()->setText("99");
    d.CancelButton()->click();
  });
  EXPECT_EQ(ReadHistory(), (QStringList{"A_#", "B_#", "C_#"}));
  EXPECT_EQ(s.RenamePattern, "B_#");
  EXPECT_EQ(s.RenameStartFrom, 4);

  // Escape cancels too.
  RunRename([](CRenameProperties& d) {
    d.DeleteButton()->click();
    QTest::keyClick(&d, Qt::Key_Escape);
  });
  EXPECT_EQ(ReadHistory(), (QStringList{"A_#", "B_#", "C_#"}));

  // Deleting "A_#", then OK with an empty text: the list without it, the
  // pattern kept.
  s.RenamePattern = "A_#";
  RunRename([](CRenameProperties& d) {
    d.DeleteButton()->click();
    d.PatternCombo()->setEditText("   ");
    d.OkButton()->click();
  });
  QString current = "x";
  EXPECT_EQ(ReadHistory(&current), (QStringList{"B_#", "C_#"}));
  EXPECT_EQ(current, "");
  EXPECT_EQ(s.RenamePattern, "A_#");

  // A typed text that is not in the list is not deleted.
  RunRename([](CRenameProperties& d) {
    d.PatternCombo()->setEditText("Typed_#");
    d.DeleteButton()->click();
    EXPECT_EQ(d.PatternCombo()->count(), 3);
    d.CancelButton()->click();
  });
}

TEST_F(DialogTest, DialogRenameKeepsAPatternThatOnlyBeginsAnEntry) {
  WriteHistory({"Image_###", "Other"}, "Image_###");
  CSettings& s = GetSettings();
  s.RenamePattern = "Image_#";
  RunRename([](CRenameProperties& d) {
    EXPECT_EQ(d.PatternCombo()->currentText(), "Image_#");
    d.OkButton()->click();
  });
  EXPECT_EQ(s.RenamePattern, "Image_#");
  EXPECT_EQ(ReadHistory(), (QStringList{"Image_#", "Image_###", "Other"}));

  // An empty start number is refused and the dialog stays.
  RunRename([&](CRenameProperties& d) {
    d.StartEdit()->setText("");
    d.OkButton()->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(messages.size(), 1u);
    d.CancelButton()->click();
  });
}

// ---- shadow, margins, thumbnails ------------------------------------------------------------------

TEST_F(DialogTest, DialogShadowPicturesColourAndResults) {
  ASSERT_TRUE(bool(GetWatermarkDialogs().adjustShadow));
  int offset = 3, position = 2;
  uint32_t colour = 0x123456;
  std::vector<int> pictures;
  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CShadowAdjustDlg&>(d);
    EXPECT_TRUE(dialog.PositionRadio(2)->isChecked());
    EXPECT_EQ(dialog.OffsetEdit()->text(), "3");
    pictures.push_back(dialog.ShownPicture());
    for (int p : {0, 1, 3}) {
      dialog.PositionRadio(p)->click();
      pictures.push_back(dialog.ShownPicture());
    }
    // The swatch shows the colour; a new one from "..." is painted.
    EXPECT_EQ(dialog.Swatch()->grab().toImage().pixelColor(10, 10), QColor(0x56, 0x34, 0x12));
    CShadowAdjustDlg::ColourDialogHook = [](QWidget*, uint32_t& c) {
      EXPECT_EQ(c, 0x123456u);
      c = 0x0000FF;
      return true;
    };
    dialog.ColourButton()->click();
    EXPECT_EQ(dialog.Swatch()->grab().toImage().pixelColor(10, 10), QColor(255, 0, 0));
    // Arrows stop at 10; a typed offset has no bound.
    dialog.OffsetSpin()->SetPos(10);
    dialog.OffsetSpin()->Step(1);
    EXPECT_EQ(dialog.OffsetEdit()->text(), "10");
    dialog.OffsetEdit()->setText("25");
    dialog.CloseButton()->click();
  };
  EXPECT_FALSE(GetWatermarkDialogs().adjustShadow(nullptr, offset, position, colour));
  EXPECT_EQ(pictures, (std::vector<int>{2, 0, 1, 3}));
  EXPECT_EQ(offset, 3);
  EXPECT_EQ(position, 2);
  EXPECT_EQ(colour, 0x123456u);

  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CShadowAdjustDlg&>(d);
    dialog.PositionRadio(1)->click();
    CShadowAdjustDlg::ColourDialogHook = [](QWidget*, uint32_t& c) {
      c = 0x00FF00;
      return true;
    };
    dialog.ColourButton()->click();
    CShadowAdjustDlg::ColourDialogHook = [](QWidget*, uint32_t&) { return false; };
    dialog.ColourButton()->click();  // cancelled: the colour stays
    dialog.OffsetEdit()->setText("25");
    dialog.OkButton()->click();
  };
  EXPECT_TRUE(GetWatermarkDialogs().adjustShadow(nullptr, offset, position, colour));
  EXPECT_EQ(offset, 25);
  EXPECT_EQ(position, 1);
  EXPECT_EQ(colour, 0x00FF00u);

  // The four pictures differ: the shadow lies towards the chosen corner.
  for (int p = 0; p < 4; ++p) {
    const QImage image = CShadowAdjustDlg::ShadowPicture(p).toImage();
    const bool right = p == 1 || p == 3, bottom = p == 2 || p == 3;
    const QPoint shadowCorner(right ? 52 : 11, bottom ? 40 : 7);
    const QPoint otherCorner(right ? 11 : 52, bottom ? 7 : 40);
    EXPECT_EQ(image.pixelColor(shadowCorner), QColor(128, 128, 128)) << p;
    EXPECT_EQ(image.pixelColor(otherCorner), QColor(255, 255, 255)) << p;
  }
}

TEST_F(DialogTest, DialogMarginsWholeNumbersWithoutRange) {
  ASSERT_TRUE(bool(GetWatermarkDialogs().adjustMargins));
  int hor = 4, vert = 6;
  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CPosAdjustDlg&>(d);
    EXPECT_EQ(dialog.HorEdit()->text(), "4");
    dialog.HorEdit()->setText("-5");
    dialog.VertEdit()->setText("1,5");
    dialog.OkButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget() == dialog.VertEdit() || !dialog.isActiveWindow(), true);
    dialog.VertEdit()->setText("100000");
    dialog.OkButton()->click();
  };
  EXPECT_TRUE(GetWatermarkDialogs().adjustMargins(nullptr, hor, vert));
  EXPECT_EQ(hor, -5);
  EXPECT_EQ(vert, 100000);
  EXPECT_EQ(messages.size(), 1u);

  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CPosAdjustDlg&>(d);
    dialog.HorEdit()->setText("7");
    dialog.CancelButton()->click();
  };
  EXPECT_FALSE(GetWatermarkDialogs().adjustMargins(nullptr, hor, vert));
  EXPECT_EQ(hor, -5);
}

TEST_F(DialogTest, DialogThumbnailSettings) {
  ASSERT_TRUE(bool(GetDesktopServices().generalSettings));
  int quality = 0, size = 20;
  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CSystemPropertiesDlg&>(d);
    EXPECT_EQ(dialog.SizeLabelEdit()->text(), "120 x 95");
    EXPECT_TRUE(dialog.QualityGroup()->button(0)->isChecked());
    EXPECT_FALSE(dialog.QualityGroup()->button(2)->isVisible());
    EXPECT_FALSE(dialog.QualityGroup()->button(2)->isEnabled());
    EXPECT_EQ(dialog.SizeSlider()->minimum(), -50);
    EXPECT_EQ(dialog.SizeSlider()->maximum(), 50);
    dialog.SizeSlider()->setValue(-50);
    EXPECT_EQ(dialog.SizeLabelEdit()->text(), "50 x 25");
    dialog.DefaultsButton()->click();
    EXPECT_TRUE(dialog.QualityGroup()->button(1)->isChecked());
    EXPECT_EQ(dialog.SizeSlider()->value(), 0);
    EXPECT_EQ(dialog.SizeLabelEdit()->text(), "100 x 75");
    dialog.SizeSlider()->setValue(5);
    dialog.OkButton()->click();
  };
  EXPECT_TRUE(GetDesktopServices().generalSettings(nullptr, quality, size));
  EXPECT_EQ(quality, 1);
  EXPECT_EQ(size, 5);

  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CSystemPropertiesDlg&>(d);
    dialog.DefaultsButton()->click();
    QTest::keyClick(&dialog, Qt::Key_Escape);
  };
  EXPECT_FALSE(GetDesktopServices().generalSettings(nullptr, quality, size));
  EXPECT_EQ(quality, 1);
  EXPECT_EQ(size, 5);
}

// ---- multi-frame split ----------------------------------------------------------------------------

TEST_F(DialogTest, DialogSplitRunsAndStaysOpen) {
  ASSERT_TRUE(bool(GetDesktopServices().splitTool));
  TempDir tmp;
  const std::string gif = tmp / "walk.gif";
  ASSERT_EQ(testing_support::Run(std::string(ImConvert()) + " -delay 10 -size 6x6 xc:red xc:lime xc:blue " +
                Quote(gif)),
            0);
  const std::string cursor = tmp / "walk.cur";
  fs::copy_file(gif, cursor);
  testing_support::WriteFileText(tmp / "plain", "x");
  const std::string single = tmp / "one.gif";
  ASSERT_EQ(testing_support::Run(std::string(ImConvert()) + " -size 6x6 xc:red " + Quote(single)),
            0);

  QString filter, title;
  CMultipageDisasmDlg::FileDialogHook = [&](QWidget*, const QString& f) {
    filter = f;
    return QString::fromStdString(gif);
  };
  CFolderBrowser::DialogHook = [&](QWidget*, const QString& t, const QString&) {
    title = t;
    return QString::fromStdString(tmp.str());
  };
  DialogRunHook = [&](QDialog& d) {
    auto& dialog = dynamic_cast<CMultipageDisasmDlg&>(d);
    EXPECT_EQ(dialog.windowTitle(), "Разобрать многокадровый файл");
    // Nothing to do: no message.
    dialog.SplitButton()->click();
    EXPECT_TRUE(messages.empty());

    dialog.BrowseFileButton()->click();
    EXPECT_EQ(dialog.FileEdit()->text().toStdString(), gif);
    dialog.BrowseFolderButton()->click();
    EXPECT_EQ(dialog.FolderEdit()->text().toStdString(), tmp.str());
    dialog.FolderEdit()->setText(QString::fromStdString(tmp / "frames/"));
    QTest::keyClick(dialog.FolderEdit(), Qt::Key_Return);  // the default button
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "Последовательность изображений сохранена. Записано 3 из 3 кадров.");
    EXPECT_EQ(messages[0].notice, Notice::Information);
    EXPECT_TRUE(dialog.isVisible());

    dialog.FileEdit()->setText(QString::fromStdString(cursor));
    dialog.SplitButton()->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "Не удалось разобрать файл на кадры");
    EXPECT_EQ(messages[1].notice, Notice::Error);

    dialog.FileEdit()->setText(QString::fromStdString(gif));
    dialog.FolderEdit()->setText(QString::fromStdString(tmp / "plain/x"));
    dialog.SplitButton()->click();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].text.toStdString(), "Не удалось создать директорию " + tmp / "plain/x");
    EXPECT_EQ(messages[2].notice, Notice::Plain);
    // A file of one frame is said plainly too.
    dialog.FileEdit()->setText(QString::fromStdString(single));
    dialog.FolderEdit()->setText(QString::fromStdString(tmp / "frames"));
    dialog.SplitButton()->click();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[3].text.toStdString(), LoadResString(IDS_SPLIT_NOT_MULTIFRAME));
    EXPECT_EQ(messages[3].notice, Notice::Plain);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    dialog.CloseButton()->click();
  };
  GetDesktopServices().splitTool(nullptr);
  EXPECT_NE(filter.indexOf("ICO, CUR (*.ico *.cur"), -1) << filter.toStdString();
  EXPECT_EQ(title, "Выберите папку, куда помещать кадры");
  for (const char* name : {"walk_001.gif", "walk_002.gif", "walk_003.gif"})
    EXPECT_TRUE(fs::exists(tmp.path() / "frames" / name)) << name;
}

// Qt's own texts (standard buttons, its file, colour and font dialogs) are
// Russian with the Russian interface and stay Qt's English with the English
// library.
TEST_F(DialogTest, QtOwnTextsFollowTheInterfaceLanguage) {
  auto yesText = [] {
    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No);
    return box.button(QDialogButtonBox::Yes)->text().remove(QLatin1Char('&'));
  };
  EXPECT_EQ(yesText(), QStringLiteral("Yes"));
  QTranslator* russian = InstallQtTranslations();
  ASSERT_NE(russian, nullptr);
  EXPECT_EQ(yesText(), QStringLiteral("Да"));
  QCoreApplication::removeTranslator(russian);
  delete russian;

  ASSERT_TRUE(LoadLanguageLibrary(std::string(LUMARO_PROGRAM_DIR) + "/"));
  EXPECT_EQ(InstallQtTranslations(), nullptr);
  ReleaseLanguageLibrary();
  EXPECT_EQ(yesText(), QStringLiteral("Yes"));
}
