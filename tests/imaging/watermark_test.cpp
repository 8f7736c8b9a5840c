// Watermarks: corners and margins in bottom-up coordinates, opacity,
// transparent colours, texts with shadows, the metadata and file time
// modes, and the page's preview.
#include "imaging/watermark.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include "engine/stages.h"
#include "imaging/metadata.h"
#include "test_support.h"

namespace {

using namespace testing_support;

const RGBQuad kBlack{0, 0, 0, 0};
const RGBQuad kRed{0, 0, 255, 0};
const RGBQuad kGrey{100, 100, 100, 0};

CSettings& PictureSettings(const std::string& picture, int pos, int transparency = 100) {
  CSettings& s = FreshSettings();
  s.WatermarksOn = 1;
  s.Mode = 2;
  s.ImagePath = picture;
  s.WatermarksPos = pos;
  s.PosMarginHor = 2;
  s.PosMarginVert = 1;
  s.Transparency = transparency;
  s.UseTransparentColor = 0;
  return s;
}

CSettings& TextSettings(const std::string& text, uint32_t colour, int height = -24) {
  CSettings& s = FreshSettings();
  s.WatermarksOn = 1;
  s.Mode = 3;
  s.Text = text;
  s.FontColor = colour;
  s.Font.lfHeight = height;
  s.Emboss = 0;
  s.Transparency = 100;
  s.WatermarksPos = 1;
  s.PosMarginHor = 0;
  s.PosMarginVert = 0;
  return s;
}

bool Same(RGBQuad a, RGBQuad b) { return Near(a, b, 0); }

// The stage as a job draws it, with the options the job makes of the
// settings and no metadata items.
bool RenderWatermark(CImage& image, const std::string& source, const CSettings& s) {
  return CWatermark(WatermarkOptionsFrom(s)).Render(image, source, nullptr, 0);
}

// The tag text for the items read from file.
std::string TagText(const std::string& file, const CSettings& s) {
  PropertyItemList items;
  const int count = ReadAllProperties(file, items);
  return WatermarkTagText(&items, count, WatermarkOptionsFrom(s));
}

// Pixels of image (bottom-up coordinates) that differ from colour.
struct Changes {
  long count = 0;
  long left = 1 << 30, right = -1, bottom = 1 << 30, top = -1;  // inclusive, bottom-up
  double sumX = 0, sumY = 0;
};

template <typename Pred>
Changes Collect(const CImage& image, Pred pred) {
  Changes c;
  for (long y = 0; y < image.GetHeight(); ++y)
    for (long x = 0; x < image.GetWidth(); ++x) {
      if (!pred(image.GetPixelColor(x, y, false))) continue;
      ++c.count;
      c.left = std::min(c.left, x);
      c.right = std::max(c.right, x);
      c.bottom = std::min(c.bottom, y);
      c.top = std::max(c.top, y);
      c.sumX += double(x);
      c.sumY += double(y);
    }
  return c;
}

TEST(WatermarkPicture, EachCornerWithMargins) {
  TempDir tmp;
  Convert("-size 4x3 xc:'#ff0000' PNG24:" + Quote(tmp / "pic.png"));
  struct Case {
    int pos;
    long x, y;  // expected bottom-left corner, bottom-up
  } cases[] = {{0, 20 - 2 - 4, 1}, {1, 2, 1}, {2, 2, 10 - 1 - 3}, {3, 20 - 2 - 4, 10 - 1 - 3}, {9, 0, 0}};
  for (const Case& c : cases) {
    CSettings& s = PictureSettings(tmp / "pic.png", c.pos);
    CImage image = Solid(20, 10, kBlack);
    EXPECT_TRUE(RenderWatermark(image, tmp / "none.jpg", s)) << c.pos;
    for (long y = 0; y < 10; ++y)
      for (long x = 0; x < 20; ++x) {
        const bool inside = x >= c.x && x < c.x + 4 && y >= c.y && y < c.y + 3;
        EXPECT_TRUE(Same(image.GetPixelColor(x, y, false), inside ? kRed : kBlack))
            << "pos " << c.pos << " at " << x << "," << y;
      }
  }
  // Position 2, margin 1 from the top: the picture's top row is the
  // image's second row from the top.
  CSettings& s = PictureSettings(tmp / "pic.png", 2);
  CImage image = Solid(20, 10, kBlack);
  RenderWatermark(image, "", s);
  EXPECT_TRUE(Same(TopLeftPixel(image, 2, 0), kBlack));
  EXPECT_TRUE(Same(TopLeftPixel(image, 2, 1), kRed));
  EXPECT_TRUE(Same(TopLeftPixel(image, 1, 1), kBlack));
}

TEST(WatermarkPicture, Opacity) {
  TempDir tmp;
  Convert("-size 4x3 xc:'#ff0000' PNG24:" + Quote(tmp / "pic.png"));
  CImage image = Solid(20, 10, kBlack);
  RenderWatermark(image, "", PictureSettings(tmp / "pic.png", 1, 0));
  Changes none = Collect(image, [](RGBQuad c) { return !Same(c, kBlack); });
  EXPECT_EQ(none.count, 0);

  image = Solid(20, 10, kBlack);
  RenderWatermark(image, "", PictureSettings(tmp / "pic.png", 1, 50));
  RGBQuad half = image.GetPixelColor(3, 2, false);
  EXPECT_NEAR(half.red, 128, 2);
  EXPECT_EQ(half.green, 0);
}

TEST(WatermarkPicture, LargerThanImageIsClipped) {
  TempDir tmp;
  Convert("-size 30x20 gradient:white-black PNG24:" + Quote(tmp / "big.png"));
  CImage big;
  ASSERT_TRUE(big.Load(tmp / "big.png"));
  CSettings& s = PictureSettings(tmp / "big.png", 0);
  s.PosMarginHor = 1;
  s.PosMarginVert = 1;
  CImage image = Solid(10, 8, kRed);
  EXPECT_TRUE(RenderWatermark(image, "", s));
  // The corner is at (10 - 1 - 30, 1) = (-21, 1): the picture covers
  // columns 0 to 8 and rows 1 to 7.
  for (long y = 0; y < 8; ++y)
    for (long x = 0; x < 10; ++x) {
      RGBQuad expected = y == 0 || x == 9 ? kRed : big.GetPixelColor(x + 21, y - 1, false);
      EXPECT_TRUE(Same(image.GetPixelColor(x, y, false), expected)) << x << "," << y;
    }
}

TEST(WatermarkPicture, TransparentColours) {
  TempDir tmp;
  // White picture with a red middle.
  Convert("-size 6x6 xc:white -fill red -draw 'rectangle 2,2 3,3' PNG24:" + Quote(tmp / "pic.png"));
  CSettings& s = PictureSettings(tmp / "pic.png", 1);
  s.UseTransparentColor = 1;
  s.TransparentColor = 0xFFFFFF;
  CImage image = Solid(12, 10, kGrey);
  RenderWatermark(image, "", s);
  Changes c = Collect(image, [](RGBQuad q) { return !Same(q, kGrey); });
  EXPECT_EQ(c.count, 4);
  EXPECT_TRUE(Same(TopLeftPixel(image, 2 + 2, 10 - 1 - 6 + 2), kRed));

  // Without the transparent colour the white is drawn as well.
  s.UseTransparentColor = 0;
  image = Solid(12, 10, kGrey);
  RenderWatermark(image, "", s);
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return !Same(q, kGrey); }).count, 36);
}

TEST(WatermarkPicture, OwnTransparencyWinsOverChosenColour) {
  TempDir tmp;
  Convert("-size 6x6 xc:white -fill red -draw 'rectangle 2,2 3,3' -transparent white " +
          Quote(tmp / "pic.gif"));
  CSettings& s = PictureSettings(tmp / "pic.gif", 1);
  s.UseTransparentColor = 1;
  s.TransparentColor = 0x0000FF;  // red: ignored, the GIF has its own
  CImage image = Solid(12, 10, kGrey);
  RenderWatermark(image, "", s);
  Changes c = Collect(image, [](RGBQuad q) { return !Same(q, kGrey); });
  EXPECT_EQ(c.count, 4);
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return Same(q, kRed); }).count, 4);
}

TEST(WatermarkPicture, PalettePictureKeysTheChosenColourOnly) {
  TempDir tmp;
  Convert("-size 6x6 xc:white -fill black -draw 'rectangle 0,0 1,5' -fill red "
          "-draw 'point 4,4' " + Quote(tmp / "pic.gif"));
  CImage pic;
  ASSERT_TRUE(pic.Load(tmp / "pic.gif"));
  ASSERT_LE(pic.GetBpp(), 8);
  CSettings& s = PictureSettings(tmp / "pic.gif", 1);
  s.UseTransparentColor = 1;
  s.TransparentColor = 0xFFFFFF;
  CImage image = Solid(12, 10, kGrey);
  RenderWatermark(image, "", s);
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return Same(q, kBlack); }).count, 12);
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return Same(q, kRed); }).count, 1);
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return !Same(q, kGrey); }).count, 13);
}

TEST(WatermarkPicture, AlphaScalesTheOpacity) {
  TempDir tmp;
  Convert("-size 3x1 xc:none -fill 'rgba(255,0,0,0.5)' -draw 'point 1,0' -fill red "
          "-draw 'point 2,0' PNG32:" + Quote(tmp / "pic.png"));
  CSettings& s = PictureSettings(tmp / "pic.png", 1);
  s.PosMarginHor = 0;
  s.PosMarginVert = 0;
  CImage image = Solid(3, 1, kBlack);
  RenderWatermark(image, "", s);
  EXPECT_EQ(image.GetPixelColor(0, 0, false).red, 0);
  EXPECT_NEAR(image.GetPixelColor(1, 0, false).red, 128, 2);
  EXPECT_EQ(image.GetPixelColor(2, 0, false).red, 255);
}

TEST(Watermark, NothingDrawnCases) {
  TempDir tmp;
  CImage image = Solid(20, 10, kGrey);
  CSettings& s = PictureSettings(tmp / "missing.png", 1);
  EXPECT_FALSE(RenderWatermark(image, "", s));
  s.ImagePath.clear();
  EXPECT_FALSE(RenderWatermark(image, "", s));
  s.Mode = 4;
  EXPECT_TRUE(RenderWatermark(image, "", s));
  s.Mode = 3;
  s.Text.clear();
  EXPECT_TRUE(RenderWatermark(image, "", s));
  s.Mode = 0;  // tag missing: empty text
  EXPECT_TRUE(RenderWatermark(image, tmp / "missing.jpg", s));
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return !Same(q, kGrey); }).count, 0);
}

TEST(WatermarkText, WhiteTextOnBlackWorkImage) {
  CSettings& s = TextSettings("Hi", 0xFFFFFF);
  s.PosMarginHor = 3;
  s.PosMarginVert = 2;
  long tw = 0, th = 0;
  ASSERT_TRUE(CImage::MeasureText("Hi", s.Font, tw, th));
  CImage image = Solid(200, 60, kGrey);
  EXPECT_TRUE(RenderWatermark(image, "", s));
  Changes c = Collect(image, [](RGBQuad q) { return !Same(q, kGrey); });
  ASSERT_GT(c.count, 20);
  EXPECT_LT(c.count, tw * th) << "the black background is transparent";
  EXPECT_GE(c.left, 3);
  EXPECT_LT(c.right, 3 + tw);
  EXPECT_GE(c.bottom, 2);
  EXPECT_LT(c.top, 2 + th);
  EXPECT_GT(Collect(image, [](RGBQuad q) { return q.red > 250 && q.green > 250 && q.blue > 250; }).count, 10);
}

TEST(WatermarkText, BlackTextOnWhiteWorkImage) {
  CSettings& s = TextSettings("Hi", 0);
  s.WatermarksPos = 3;
  long tw = 0, th = 0;
  ASSERT_TRUE(CImage::MeasureText("Hi", s.Font, tw, th));
  CImage image = Solid(200, 60, kGrey);
  EXPECT_TRUE(RenderWatermark(image, "", s));
  Changes c = Collect(image, [](RGBQuad q) { return !Same(q, kGrey); });
  ASSERT_GT(c.count, 20);
  EXPECT_LT(c.count, tw * th);
  EXPECT_GE(c.left, 200 - tw);
  EXPECT_LE(c.top, 59);
  EXPECT_GE(c.bottom, 60 - th);
  EXPECT_GT(Collect(image, [](RGBQuad q) { return q.red < 5 && q.green < 5 && q.blue < 5; }).count, 10);
  // Half opacity: nothing becomes darker than half way.
  s.Transparency = 50;
  image = Solid(200, 60, kGrey);
  RenderWatermark(image, "", s);
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return q.red < 45; }).count, 0);
  EXPECT_GT(Collect(image, [](RGBQuad q) { return q.red < 55; }).count, 10);
}

TEST(WatermarkText, ShadowFallsInItsDirectionAndStaysInside) {
  for (int pos = 0; pos < 4; ++pos) {
    CSettings& s = TextSettings("Hi", 0xFFFFFF, -40);
    s.Emboss = 1;
    s.WatermarksShadowPos = pos;
    s.WatermarksShadowOffset = 4;
    s.WatermarksShadowColor = 0x0000FF;  // red
    long tw = 0, th = 0;
    ASSERT_TRUE(CImage::MeasureText("Hi", s.Font, tw, th));
    CImage image = Solid(300, 100, kBlack);
    ASSERT_TRUE(RenderWatermark(image, "", s));
    Changes all = Collect(image, [](RGBQuad q) { return !Same(q, kBlack); });
    Changes red = Collect(image, [](RGBQuad q) { return q.red > 200 && q.green < 60; });
    Changes white = Collect(image, [](RGBQuad q) { return q.red > 200 && q.green > 200; });
    ASSERT_GT(red.count, 10) << pos;
    ASSERT_GT(white.count, 10) << pos;
    const double dx = red.sumX / red.count - white.sumX / white.count;
    const double dyUp = red.sumY / red.count - white.sumY / white.count;  // bottom-up
    EXPECT_TRUE(pos == 0 || pos == 2 ? dx < -2 : dx > 2) << "pos " << pos << " dx " << dx;
    EXPECT_TRUE(pos == 0 || pos == 1 ? dyUp > 2 : dyUp < -2) << "pos " << pos << " dy " << dyUp;
    // Text and shadow fit the watermark's box of (tw + 8) x (th + 8).
    EXPECT_GE(all.left, 0);
    EXPECT_LT(all.right, tw + 8);
    EXPECT_LT(all.top, th + 8);
    // The shadow is not cut at the box's edges: it reaches the full offset
    // beyond the text on its side.
    if (pos == 0 || pos == 1)
      EXPECT_NEAR(red.top - white.top, 4, 1) << pos;
    else
      EXPECT_NEAR(white.bottom - red.bottom, 4, 1) << pos;
    if (pos == 0 || pos == 2)
      EXPECT_NEAR(white.left - red.left, 4, 1) << pos;
    else
      EXPECT_NEAR(red.right - white.right, 4, 1) << pos;
  }
}

// The text is drawn as coverage: its edges blend into the picture and
// never carry the work image's background (no light halo around black
// text); without antialiasing every pixel is either text or picture.
TEST(WatermarkText, EdgesBlendIntoThePictureInBothQualities) {
  const RGBQuad mid{128, 128, 128, 0};
  for (uint32_t colour : {0x000000u, 0xFFFFFFu}) {
    for (int quality : {4, 3}) {
      SCOPED_TRACE(testing::Message() << "colour " << colour << " quality " << quality);
      CSettings& s = TextSettings("Wave", colour, -30);
      s.Font.lfQuality = uint8_t(quality);
      CImage image = Solid(160, 50, mid);
      ASSERT_TRUE(RenderWatermark(image, "", s));
      const bool black = colour == 0;
      const RGBQuad text = black ? RGBQuad{0, 0, 0, 0} : RGBQuad{255, 255, 255, 0};
      EXPECT_EQ(Collect(image, [&](RGBQuad q) { return black ? q.red > 128 : q.red < 128; }).count, 0)
          << "a pixel lies outside the range between picture and text";
      EXPECT_GT(Collect(image, [&](RGBQuad q) { return Same(q, text); }).count, 30);
      const long between =
          Collect(image, [&](RGBQuad q) { return !Same(q, text) && !Same(q, mid); }).count;
      if (quality == 3)
        EXPECT_EQ(between, 0);
      else
        EXPECT_GT(between, 10);
    }
  }
}

TEST(WatermarkText, ShadowInAnyColourShowsUnderTheText) {
  // A white shadow under black text (and black under white) is drawn like
  // any other colour.
  for (uint32_t colour : {0x000000u, 0xFFFFFFu}) {
    CSettings& s = TextSettings("Hi", colour, -30);
    s.Emboss = 1;
    s.WatermarksShadowOffset = 3;
    s.WatermarksShadowColor = colour ^ 0xFFFFFF;
    CImage image = Solid(120, 50, kGrey);
    RenderWatermark(image, "", s);
    EXPECT_GT(Collect(image, [](RGBQuad q) { return q.red > 250; }).count, 10) << colour;
    EXPECT_GT(Collect(image, [](RGBQuad q) { return q.red < 5; }).count, 10) << colour;
  }
}

// A coloured watermark on a palette or grey source keeps its colour: the
// picture becomes true colour (with an alpha plane for a transparent index)
// and the output format reduces colours later as for any picture.
TEST(Watermark, PaletteAndGreySourcesBecomeTrueColour) {
  TempDir tmp;
  Convert("-size 6x4 xc:'#ff0000' PNG24:" + Quote(tmp / "red.png"));
  struct Case {
    const char* what;
    int bpp;
    bool transparent;
    bool picture;
  } cases[] = {{"grey 8-bit, red text", 8, false, false},
               {"1-bit, red text", 1, false, false},
               {"grey 8-bit, red picture", 8, false, true},
               {"palette with a transparent index, red text", 8, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CImage image;
    ASSERT_TRUE(image.Create(80, 40, c.bpp));
    if (c.bpp == 8) image.SetGrayPalette();
    else {
      image.SetPaletteColor(0, 0, 0, 0);
      image.SetPaletteColor(1, 255, 255, 255);
    }
    for (long y = 0; y < 40; ++y)
      for (long x = 0; x < 80; ++x) image.SetPixelIndex(x, y, c.bpp == 8 ? 200 : 1);
    if (c.transparent) {
      image.SetPixelIndex(79, 39, 7);
      image.SetTransIndex(7);
    }
    CSettings& s = c.picture ? PictureSettings(tmp / "red.png", 1) : TextSettings("Mm", 0x0000FF);
    ASSERT_TRUE(RenderWatermark(image, "", s));
    EXPECT_EQ(image.GetBpp(), 24);
    EXPECT_GT(Collect(image, [](RGBQuad q) { return q.red > 240 && q.green < 15 && q.blue < 15; }).count,
              c.picture ? 23 : 20);
    if (c.transparent) {
      ASSERT_TRUE(image.AlphaIsValid());
      EXPECT_EQ(image.GetPixelColor(79, 39, true).reserved, 0);
      EXPECT_EQ(image.GetPixelColor(78, 39, true).reserved, 255);
    }
  }
  // Nothing to draw leaves the source as it is.
  CImage grey;
  ASSERT_TRUE(grey.Create(10, 10, 8));
  grey.SetGrayPalette();
  CSettings& s = TextSettings("", 0x0000FF);
  RenderWatermark(grey, "", s);
  EXPECT_EQ(grey.GetBpp(), 8);
}

// The job says once that the watermark picture cannot be read, and still
// converts every file.
TEST(WatermarkBatch, UnreadablePictureIsReportedOncePerJob) {
  TempDir tmp;
  std::filesystem::create_directories(tmp.path() / "in");
  Convert("-size 20x10 xc:gray " + Quote(tmp / "in/a.png"));
  Convert("-size 20x10 xc:gray " + Quote(tmp / "in/b.png"));
  RunResult r = Lumaro(tmp, "--format png --output " + Quote(tmp / "out") +
                                " --set Watermarks.On=1 --set Watermarks.Mode=2"
                                " --set Watermarks.ImagePath=" + Quote(tmp / "no such.png") + " " +
                                Quote(tmp / "in"));
  EXPECT_EQ(r.status, 0) << r.out;
  size_t first = r.out.find("Не удалось прочитать картинку водяного знака " + (tmp / "no such.png"));
  ASSERT_NE(first, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Не удалось прочитать", first + 10), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Преобразовано 2 файлов, ошибок 0"), std::string::npos) << r.out;
}

// The tag watermark's text comes from the metadata read with the pixels,
// also when the metadata is not kept and helper threads draw.
TEST(WatermarkBatch, TagTextWithoutKeptMetadataOnHelperThreads) {
  TempDir tmp;
  std::filesystem::create_directories(tmp.path() / "in");
  for (const char* name : {"a.jpg", "b.jpg", "plain.jpg"})
    Convert("-size 80x30 xc:gray " + Quote(tmp / ("in/" + std::string(name))));
  ExifToolWrite(tmp / "in/a.jpg", "-Artist=Ann");
  ExifToolWrite(tmp / "in/b.jpg", "-Artist=Bob");
  RunResult r = Lumaro(tmp, "--format png --jobs 3 --output " + Quote(tmp / "out") +
                                " --set Watermarks.On=1 --set Watermarks.Mode=0"
                                " --set Watermarks.TagType=0 --set Watermarks.Emboss=0"
                                " --set 'Watermarks.Font - Color=16777215' " + Quote(tmp / "in"));
  ASSERT_NE(r.out.find("Преобразовано 3 файлов, ошибок 0"), std::string::npos) << r.out;
  for (const char* name : {"a.png", "b.png", "plain.png"}) {
    CImage out;
    ASSERT_TRUE(out.Load(tmp / ("out/" + std::string(name)))) << name;
    const RGBQuad first = out.GetPixelColor(0, 0, false);
    const long marked = Collect(out, [&](RGBQuad q) { return !Same(q, first); }).count;
    if (std::string(name) == "plain.png")
      EXPECT_EQ(marked, 0) << "no artist, no text";
    else
      EXPECT_GT(marked, 20) << name << " carries its artist";
  }
}

TEST(WatermarkTag, UserValueFirstThenFileTag) {
  TempDir tmp;
  Convert("-size 8x8 xc:gray " + Quote(tmp / "tagged.jpg"));
  ExifToolWrite(tmp / "tagged.jpg",
                "-Artist=Ann -ImageDescription=Desc -Copyright='(c) Ann' -XPTitle='Заголовок' "
                "-ModifyDate='2006:03:05 09:07:00'");
  const std::string file = tmp / "tagged.jpg";
  CSettings& s = FreshSettings();
  s.UseUserComment = 1;
  s.ImageAuthor = "Иван";
  s.TagType = 0;
  EXPECT_EQ(TagText(file, s), "Иван");
  s.ImageAuthor.clear();
  EXPECT_EQ(TagText(file, s), "Ann");
  s.ImageAuthor = "Иван";
  s.UseUserComment = 0;
  EXPECT_EQ(TagText(file, s), "Ann");
  s.UseUserComment = 1;
  s.ImageDescription = "Mine";
  s.TagType = 2;
  EXPECT_EQ(TagText(file, s), "Mine");
  s.TagType = 3;
  EXPECT_EQ(TagText(file, s), "(c) Ann");
  s.TagType = 1;
  EXPECT_EQ(TagText(file, s), "Заголовок");
  s.TagType = 4;
  EXPECT_EQ(TagText(file, s), "2006:03:05 09:07:00");
  s.TagType = 5;
  EXPECT_EQ(TagText(file, s), "");
  s.TagType = 0;
  s.GdiplusAvailable = 0;
  EXPECT_EQ(TagText(file, s), "");
}

class LocalTimeUtc : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) oldTz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", oldTz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(LocalTimeUtc, FileTimeInTheFourForms) {
  std::tm t{};
  t.tm_year = 2006 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 7;
  const std::time_t when = timegm(&t);
  std::string text;
  ASSERT_TRUE(FormatFileTime(when, 0, text));
  EXPECT_EQ(text, "05.03.2006");
  ASSERT_TRUE(FormatFileTime(when, 1, text));
  EXPECT_EQ(text, "09:07");
  ASSERT_TRUE(FormatFileTime(when, 2, text));
  EXPECT_EQ(text, "05.03.2006  09:07");
  ASSERT_TRUE(FormatFileTime(when, 3, text));
  EXPECT_EQ(text, "09:07 05.03.2006");
  ASSERT_TRUE(FormatFileTime(when, 4, text));
  EXPECT_EQ(text, "");
}

TEST(WatermarkFileTime, BirthTimeWhereRecordedElseModification) {
  TempDir tmp;
  const std::string file = tmp / "f.txt";
  testing_support::WriteFileText(file, "x");
  const std::time_t now = std::time(nullptr);
  struct timespec times[2] = {{1141549620, 0}, {1141549620, 0}};  // 2006-03-05 09:07 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  std::time_t when = 0;
  ASSERT_TRUE(FileCreationTime(file, when));
  struct statx sx {};
  ASSERT_EQ(statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &sx), 0);
  if (sx.stx_mask & STATX_BTIME)
    EXPECT_LE(std::labs(long(when - now)), 60L) << "the birth time, not the changed mtime";
  else
    EXPECT_EQ(when, 1141549620);
  EXPECT_FALSE(FileCreationTime(tmp / "missing", when));

  // Mode 1 draws that time; an unreadable file draws nothing.
  CSettings& s = TextSettings("", 0);
  s.Mode = 1;
  s.DateTimeType = 2;
  CImage image = Solid(300, 60, kGrey);
  EXPECT_TRUE(RenderWatermark(image, file, s));
  EXPECT_GT(Collect(image, [](RGBQuad q) { return !Same(q, kGrey); }).count, 20);
  image = Solid(300, 60, kGrey);
  EXPECT_TRUE(RenderWatermark(image, tmp / "missing", s));
  EXPECT_EQ(Collect(image, [](RGBQuad q) { return !Same(q, kGrey); }).count, 0);
}

TEST(WatermarkPreview, GradientAndCentredText) {
  CSettings& s = TextSettings("ignored", 0xFFFFFF, -20);
  CImage preview;
  ASSERT_TRUE(preview.Create(160, 60, 24));
  ASSERT_TRUE(DrawWatermarkPreview(preview, WatermarkOptionsFrom(s)));
  // Column 0 carries no text: the gradient, blue rising with the row.
  int previous = -1;
  for (long y = 0; y < 60; ++y) {
    RGBQuad c = preview.GetPixelColor(0, y, false);
    EXPECT_EQ(c.red, 64);
    EXPECT_EQ(c.green, 64);
    EXPECT_GE(int(c.blue), previous);
    previous = c.blue;
  }
  EXPECT_LE(preview.GetPixelColor(0, 0, false).blue, 4);
  EXPECT_GE(preview.GetPixelColor(0, 59, false).blue, 250);
  // "Test" in white, centred.
  Changes white = Collect(preview, [](RGBQuad q) { return q.red > 200 && q.green > 200; });
  ASSERT_GT(white.count, 10);
  EXPECT_NEAR((white.left + white.right) / 2.0, 80.0, 6.0);
  EXPECT_NEAR((white.bottom + white.top) / 2.0, 30.0, 8.0);
  // Opacity 0: only the gradient.
  s.Transparency = 0;
  ASSERT_TRUE(DrawWatermarkPreview(preview, WatermarkOptionsFrom(s)));
  EXPECT_EQ(Collect(preview, [](RGBQuad q) { return q.red != 64; }).count, 0);
}

}  // namespace
