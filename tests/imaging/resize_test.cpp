// The resize stage: target sizes of every mode and aspect rule, resampling
// choices, resolution in millimetre mode, millimetre/pixel conversion.
#include "imaging/resize.h"

#include <gtest/gtest.h>

#include <climits>

#include "test_support.h"

namespace {

using namespace testing_support;

struct Size {
  long w, h;
  bool operator==(const Size&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Size& s) { return os << s.w << "x" << s.h; }

Size Target(int mode, int aspect, int width, int height, unsigned W, unsigned H, int percents = 100) {
  ResizeOptions o;
  o.PercentsOrPixels = mode;
  o.Percents = percents;
  o.Width = width;
  o.Height = height;
  o.MaintainAspectRatio = aspect;
  Size s{-1, -1};
  ComputeTargetSize(o, W, H, s.w, s.h);
  return s;
}

TEST(ResizeTarget, PercentTruncates) {
  EXPECT_EQ(Target(0, 0, 0, 0, 1234, 800, 50), (Size{617, 400}));
  EXPECT_EQ(Target(0, 0, 0, 0, 3, 3, 50), (Size{1, 1}));
  EXPECT_EQ(Target(0, 0, 0, 0, 3, 3, 10), (Size{0, 0}));
  EXPECT_EQ(Target(0, 0, 0, 0, 100, 80, 250), (Size{250, 200}));
  // Box and aspect settings play no part in percent mode.
  EXPECT_EQ(Target(0, 1, 10, 10, 200, 100, 50), (Size{100, 50}));
}

TEST(ResizeTarget, FitGivesTheBoxToTheFillingSideAndRoundsTheOther) {
  // Factors such as 0.7 are not exact in binary; the filling side is still
  // exactly the box.
  EXPECT_EQ(Target(1, 0, 700, 700, 1000, 500), (Size{700, 350}));
  EXPECT_EQ(Target(1, 0, 700, 700, 500, 1000), (Size{350, 700}));
  EXPECT_EQ(Target(1, 0, 800, 800, 1234, 800), (Size{800, 519}));  // 518.64
  EXPECT_EQ(Target(1, 0, 800, 800, 800, 1234), (Size{519, 800}));
  EXPECT_EQ(Target(1, 0, 700, 700, 1000, 700), (Size{700, 490}));
  EXPECT_EQ(Target(1, 0, 100, 75, 500, 1000), (Size{38, 75}));     // 37.5 rounds up
  EXPECT_EQ(Target(1, 0, 640, 640, 1024, 512), (Size{640, 320}));
  // Same proportions as the box: both sides fill it.
  EXPECT_EQ(Target(1, 0, 100, 75, 400, 300), (Size{100, 75}));
  EXPECT_EQ(Target(1, 0, 3, 7, 300, 700), (Size{3, 7}));
  // A box larger than the image enlarges it.
  EXPECT_EQ(Target(1, 0, 640, 480, 100, 50), (Size{640, 320}));
  // Relatively taller image: the height decides.
  EXPECT_EQ(Target(1, 0, 800, 400, 300, 300), (Size{400, 400}));
  // Millimetre mode uses the same box rules.
  EXPECT_EQ(Target(2, 0, 700, 700, 1000, 500), (Size{700, 350}));
}

TEST(ResizeTarget, OtherAspectRules) {
  EXPECT_EQ(Target(1, 1, 700, 300, 1000, 500), (Size{700, 300}));
  EXPECT_EQ(Target(1, 2, 700, 5, 1000, 600), (Size{700, 420}));
  EXPECT_EQ(Target(1, 3, 5, 300, 1000, 600), (Size{500, 300}));
  EXPECT_EQ(Target(1, 3, 5, 700, 600, 1000), (Size{420, 700}));
  // Unknown aspect values behave as "do not keep".
  EXPECT_EQ(Target(1, 7, 64, 48, 1000, 500), (Size{64, 48}));
  EXPECT_EQ(Target(1, -1, 64, 48, 1000, 500), (Size{64, 48}));
}

TEST(ResizeTarget, DegenerateBoxesGiveNoCrash) {
  EXPECT_EQ(Target(1, 2, 0, 0, 1000, 600), (Size{0, 0}));
  EXPECT_EQ(Target(1, 3, 0, 0, 1000, 600), (Size{0, 0}));
  Size s = Target(1, 0, 0, 0, 1000, 600);
  EXPECT_LE(s.w, 0);
  // Values beyond every sensible size stay defined.
  s = Target(0, 0, 0, 0, 4000000000u, 4000000000u, INT_MAX);
  EXPECT_GT(s.w, 0);
  s = Target(1, 0, INT_MAX, 1, 1, 4000000000u);
  EXPECT_GE(s.w, 0);
}

TEST(Resize, AppliesOnlyWhenSizeChanges) {
  ResizeOptions o;
  o.PercentsOrPixels = 0;
  o.Percents = 100;
  EXPECT_FALSE(ResizeApplies(o));
  o.Percents = 99;
  EXPECT_TRUE(ResizeApplies(o));
  o.Percents = 100;
  o.PercentsOrPixels = 1;
  EXPECT_TRUE(ResizeApplies(o));
}

TEST(Resize, PercentHundredKeepsImageAndResolution) {
  CImage image = Solid(30, 20, RGBQuad{1, 2, 3, 0});
  image.SetXDPI(123);
  image.SetYDPI(124);
  ResizeOptions o;
  o.PercentsOrPixels = 0;
  o.Percents = 100;
  o.Dpi = 4;
  EXPECT_TRUE(ApplyResize(image, o));  // nothing to do is no failure
  EXPECT_EQ(image.GetWidth(), 30);
  EXPECT_EQ(image.GetXDPI(), 123);
  EXPECT_EQ(image.GetYDPI(), 124);
}

TEST(Resize, EveryResamplingChoiceGivesTheTargetSize) {
  for (int mode = -1; mode <= 7; ++mode) {
    CImage image;
    ASSERT_TRUE(image.Create(40, 30, 24));
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) image.SetPixelColor(x, y, RGBQuad{uint8_t(x * 6), uint8_t(y * 8), 50, 0});
    ResizeOptions o;
    o.PercentsOrPixels = 1;
    o.Width = 17;
    o.Height = 45;
    o.MaintainAspectRatio = 1;
    o.ResamplingMode = mode;
    EXPECT_TRUE(ApplyResize(image, o)) << "mode " << mode << ": " << image.GetLastError();
    EXPECT_EQ(image.GetWidth(), 17) << "mode " << mode;
    EXPECT_EQ(image.GetHeight(), 45) << "mode " << mode;
  }
}

TEST(Resize, MillimetreModeWritesResolutionAndStillResamples) {
  CImage image = Solid(50, 40, RGBQuad{9, 9, 9, 0});
  ResizeOptions o;
  o.PercentsOrPixels = 2;
  o.Width = 50;
  o.Height = 40;
  o.MaintainAspectRatio = 1;
  o.Dpi = 4;
  EXPECT_TRUE(ApplyResize(image, o));  // same size, resampled anyway
  EXPECT_EQ(image.GetXDPI(), 300);
  EXPECT_EQ(image.GetYDPI(), 300);
  o.Dpi = -1;  // nothing chosen in the combo box: 72
  ApplyResize(image, o);
  EXPECT_EQ(image.GetXDPI(), 72);
  // Pixel mode leaves the resolution of the file alone.
  image.SetXDPI(150);
  o.PercentsOrPixels = 1;
  o.Dpi = 5;
  ApplyResize(image, o);
  EXPECT_EQ(image.GetXDPI(), 150);
}

TEST(Resize, UnusableTargetsLeaveImageUnchanged) {
  CImage image = Solid(3, 3, RGBQuad{5, 6, 7, 0});
  ResizeOptions o;
  o.PercentsOrPixels = 0;
  o.Percents = 10;  // 0 x 0
  EXPECT_FALSE(ApplyResize(image, o));
  EXPECT_EQ(image.GetLastError(), "cannot resize to 0x0 pixels: the size is empty");
  EXPECT_EQ(image.GetWidth(), 3);
  EXPECT_EQ(image.GetHeight(), 3);
  EXPECT_FALSE(ResampleByMode(image, -5, 10, 1));
  EXPECT_FALSE(ResampleByMode(image, 100000000, 100000000, 1));
  EXPECT_EQ(image.GetWidth(), 3);
  EXPECT_TRUE(Near(image.GetPixelColor(1, 1, false), RGBQuad{5, 6, 7, 0}, 0));
}

TEST(Resize, ResolutionTable) {
  const int expected[] = {72, 96, 100, 200, 300, 600};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(DpiFromIndex(i), expected[i]);
  EXPECT_EQ(DpiFromIndex(-1), 72);
  EXPECT_EQ(DpiFromIndex(-100), 72);
  EXPECT_EQ(DpiFromIndex(6), 600);
}

TEST(Resize, MillimetrePixelConversion) {
  EXPECT_EQ(MillimetresToPixels(100, 4), 1181);
  EXPECT_EQ(MillimetresToPixels(0, 4), 0);
  EXPECT_EQ(MillimetresToPixels(254, 0), 720);  // 10 in at 72 ppi
  EXPECT_EQ(MillimetresToPixels(3, 1), 11);     // 11.34 rounds down
  // Pixels back to millimetres in whole centimetres.
  EXPECT_EQ(PixelsToMillimetres(1181, 4), 100);
  EXPECT_EQ(PixelsToMillimetres(1200, 4), 100);
  EXPECT_EQ(PixelsToMillimetres(1300, 4), 110);
  EXPECT_EQ(PixelsToMillimetres(640, 1), 170);  // 16.93 cm
  // Out-of-range values from a hand-edited file stay defined.
  EXPECT_EQ(MillimetresToPixels(INT_MAX, 5), INT_MAX);
  EXPECT_EQ(MillimetresToPixels(INT_MIN, 5), INT_MIN);
  EXPECT_GT(PixelsToMillimetres(INT_MAX, 0), 0);
}

// The whole job: millimetre mode writes the chosen resolution into the file.
TEST(ResizeBatch, MillimetreModeResolutionReachesTheFile) {
  TempDir tmp;
  Convert("-size 80x60 gradient:red-blue " + Quote(tmp / "in.png"));
  RunResult r = Lumaro(tmp, "--format jpg --output " + Quote(tmp / "out") +
                                " --set Dimensions.PercentsOrPixels=2 --set Dimensions.DPI=4"
                                " --set Dimensions.Width=40 --set Dimensions.Height=40"
                                " --set Dimensions.MaintainAspectRatio=0 " +
                                Quote(tmp / "in.png"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ExifTool(tmp / "out/in.jpg", "ImageSize"), "40x30");
  EXPECT_EQ(ExifTool(tmp / "out/in.jpg", "XResolution"), "300");
  EXPECT_EQ(ExifTool(tmp / "out/in.jpg", "YResolution"), "300");
}

// A size the stage refuses fails that file with the reason; the picture is
// never written at its old size as if it had been resized.
TEST(ResizeBatch, RefusedSizeIsTheFilesFailure) {
  TempDir tmp;
  Convert("-size 80x60 xc:gray " + Quote(tmp / "in.png"));
  for (const char* sets : {"--set Dimensions.Percents=100000", "--set Dimensions.Percents=1"}) {
    SCOPED_TRACE(sets);
    RunResult r = Lumaro(tmp, "--format png --output " + Quote(tmp / "out") + " " + sets + " " +
                                  Quote(tmp / "in.png"));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("Преобразовано 0 файлов, ошибок 1"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(tmp / "out/in.png"));
  }
}

}  // namespace
