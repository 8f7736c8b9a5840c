// Image operations: orientation, crop and padding, tone, resampling, colour
// depth and packed bitmaps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/image.h"
#include "test_support.h"

using namespace testing_support;

namespace {

uint32_t Hash(uint32_t x, uint32_t y, uint32_t salt) {
  uint32_t h = x * 73856093u ^ y * 19349663u ^ salt * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return h ^ (h >> 15);
}

// A picture whose every pixel (and alpha) is a pseudo-random value of its
// position, so that any misplaced pixel shows. y counts from the bottom.
CImage Pattern(int w, int h, int bpp, bool alpha) {
  CImage img;
  EXPECT_TRUE(img.Create(w, h, bpp));
  if (bpp <= 8) {
    for (int i = 0; i < (1 << bpp); ++i)
      img.SetPaletteColor(uint8_t(i), uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 13));
    img.SetTransIndex(1);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t v = Hash(x, y, 1);
      if (bpp <= 8)
        img.SetPixelIndex(x, y, uint8_t(v % (1u << bpp)));
      else
        img.SetPixelColor(x, y, RGBQuad{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0});
    }
  if (alpha) {
    img.AlphaCreate();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) *img.AlphaGetPointer(x, y) = uint8_t(Hash(x, y, 2));
  }
  img.SetXDPI(300);
  img.SetYDPI(72);
  return img;
}

// Pixel value and alpha at (column, row counted from the top).
struct Px {
  uint32_t value;
  int alpha;
  bool operator==(const Px&) const = default;
};

Px At(const CImage& img, int c, int r) {
  int y = img.GetHeight() - 1 - r;
  uint32_t v;
  if (img.GetBpp() <= 8) {
    v = img.GetPixelIndex(c, y);
  } else {
    RGBQuad q = img.GetPixelColor(c, y, false);
    v = q.blue | (q.green << 8) | (q.red << 16);
  }
  const uint8_t* a = img.AlphaGetPointer(c, y);
  return {v, a ? *a : -1};
}

double Mean(const CImage& img, int channel) {
  double sum = 0;
  for (int y = 0; y < img.GetHeight(); ++y)
    for (int x = 0; x < img.GetWidth(); ++x) {
      RGBQuad q = img.GetPixelColor(x, y, false);
      sum += channel == 0 ? q.blue : channel == 1 ? q.green : q.red;
    }
  return sum / (double(img.GetWidth()) * img.GetHeight());
}

// Minimal binary PPM reading and writing, so these tests need no codec.
bool ReadPpm(const std::string& path, CImage& img) {
  std::vector<uint8_t> d = ReadFileBytes(path);
  size_t pos = 0;
  auto token = [&]() {
    while (pos < d.size() && (isspace(d[pos]) || d[pos] == '#')) {
      if (d[pos] == '#')
        while (pos < d.size() && d[pos] != '\n') ++pos;
      else
        ++pos;
    }
    std::string t;
    while (pos < d.size() && !isspace(d[pos])) t += char(d[pos++]);
    return t;
  };
  if (token() != "P6") return false;
  int w = std::stoi(token()), h = std::stoi(token()), max = std::stoi(token());
  ++pos;
  if (max != 255 || d.size() < pos + size_t(w) * h * 3 || !img.Create(w, h, 24)) return false;
  for (int r = 0; r < h; ++r) {
    uint8_t* row = img.TopRow(r);
    for (int x = 0; x < w; ++x, pos += 3) {
      row[x * 3] = d[pos + 2];
      row[x * 3 + 1] = d[pos + 1];
      row[x * 3 + 2] = d[pos];
    }
  }
  return true;
}

}  // namespace

// ---- orientation --------------------------------------------------------------

struct TurnCase {
  const char* name;
  std::function<bool(CImage&)> op;
  bool swaps;
  // Source (column, row from the top) of result pixel (c, r); w, h: source size.
  std::function<std::pair<int, int>(int c, int r, int w, int h)> from;
};

TEST(ImageOrientation, EveryPixelLandsWhereTheTurnPutsIt) {
  const std::vector<TurnCase> cases = {
      {"RotateRight", [](CImage& i) { return i.RotateRight(); }, true,
       [](int c, int r, int, int h) { return std::pair(r, h - 1 - c); }},
      {"RotateLeft", [](CImage& i) { return i.RotateLeft(); }, true,
       [](int c, int r, int w, int) { return std::pair(w - 1 - r, c); }},
      {"Rotate180", [](CImage& i) { return i.Rotate180(); }, false,
       [](int c, int r, int w, int h) { return std::pair(w - 1 - c, h - 1 - r); }},
      {"Mirror", [](CImage& i) { return i.Mirror(); }, false,
       [](int c, int r, int w, int) { return std::pair(w - 1 - c, r); }},
      {"Flip", [](CImage& i) { return i.Flip(); }, false,
       [](int c, int r, int, int h) { return std::pair(c, h - 1 - r); }},
      {"Transpose", [](CImage& i) { return i.Transpose(); }, true,
       [](int c, int r, int, int) { return std::pair(r, c); }},
      {"Transverse", [](CImage& i) { return i.Transverse(); }, true,
       [](int c, int r, int w, int h) { return std::pair(w - 1 - r, h - 1 - c); }},
  };
  // Odd sizes catch row padding; 150 x 70 spans several 64-pixel tiles.
  const struct {
    int bpp, w, h;
  } shapes[] = {{1, 13, 7}, {4, 9, 5}, {8, 11, 6}, {24, 150, 70}, {1, 70, 9}, {8, 130, 67}};
  for (const auto& tc : cases) {
    for (const auto& s : shapes) {
      SCOPED_TRACE(std::string(tc.name) + " bpp " + std::to_string(s.bpp));
      CImage src = Pattern(s.w, s.h, s.bpp, true);
      CImage img(src);
      ASSERT_TRUE(tc.op(img)) << img.GetLastError();
      ASSERT_EQ(img.GetWidth(), tc.swaps ? s.h : s.w);
      ASSERT_EQ(img.GetHeight(), tc.swaps ? s.w : s.h);
      EXPECT_EQ(img.GetBpp(), s.bpp);
      EXPECT_EQ(img.GetXDPI(), tc.swaps ? 72 : 300);
      EXPECT_EQ(img.GetYDPI(), tc.swaps ? 300 : 72);
      if (s.bpp <= 8) {
        EXPECT_EQ(img.GetTransIndex(), 1);
        EXPECT_EQ(std::memcmp(img.GetPalette(), src.GetPalette(), src.GetPaletteSize()), 0);
      }
      int bad = 0;
      for (int r = 0; r < img.GetHeight(); ++r)
        for (int c = 0; c < img.GetWidth(); ++c) {
          auto [sc, sr] = tc.from(c, r, s.w, s.h);
          bad += !(At(img, c, r) == At(src, sc, sr));
        }
      EXPECT_EQ(bad, 0);
    }
  }
}

TEST(ImageOrientation, RotationIntoAnotherImageLeavesTheSourceAlone) {
  CImage src = Pattern(5, 3, 24, false);
  CImage before(src), left, right, half;
  ASSERT_TRUE(src.RotateLeft(&left));
  ASSERT_TRUE(src.RotateRight(&right));
  ASSERT_TRUE(src.Rotate180(&half));
  EXPECT_EQ(left.GetWidth(), 3);
  EXPECT_EQ(right.GetHeight(), 5);
  EXPECT_EQ(half.GetWidth(), 5);
  EXPECT_EQ(Psnr(src, before), 99.0);
  // Top-left corner: to the bottom-left, the top-right, the bottom-right.
  EXPECT_EQ(At(left, 0, 4), At(src, 0, 0));
  EXPECT_EQ(At(right, 2, 0), At(src, 0, 0));
  EXPECT_EQ(At(half, 4, 2), At(src, 0, 0));
  CImage empty;
  EXPECT_FALSE(empty.RotateLeft());
  EXPECT_FALSE(empty.Mirror());
}

TEST(ImageGeometry, CropCutsTheRectangleMeasuredFromTheTop) {
  for (int bpp : {1, 4, 8, 24}) {
    SCOPED_TRACE(bpp);
    CImage src = Pattern(20, 10, bpp, true);
    CImage img(src);
    ASSERT_TRUE(img.Crop(3, 2, 11, 7));
    ASSERT_EQ(img.GetWidth(), 8);
    ASSERT_EQ(img.GetHeight(), 5);
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 8; ++c) ASSERT_EQ(At(img, c, r), At(src, c + 3, r + 2));
  }
  CImage img = Pattern(20, 10, 24, false), clipped;
  ASSERT_TRUE(img.Crop(-5, -5, 4, 100, &clipped));  // clipped to the image
  EXPECT_EQ(clipped.GetWidth(), 4);
  EXPECT_EQ(clipped.GetHeight(), 10);
  EXPECT_EQ(img.GetWidth(), 20);
  EXPECT_FALSE(img.Crop(25, 0, 30, 5));
  EXPECT_FALSE(img.Crop(5, 5, 5, 8));
  EXPECT_EQ(img.GetWidth(), 20);
}

TEST(ImageGeometry, ExpandCentresThePictureOnTheBackground) {
  const RGBQuad bg{10, 20, 30, 0};
  for (int bpp : {1, 4, 8, 24}) {
    SCOPED_TRACE(bpp);
    CImage src = Pattern(5, 3, bpp, true);
    if (bpp <= 8) src.SetPaletteColor(0, 30, 20, 10);
    CImage img(src);
    ASSERT_TRUE(img.Expand(10, 8, bg));
    ASSERT_EQ(img.GetWidth(), 10);
    ASSERT_EQ(img.GetHeight(), 8);
    // Left margin (10-5)/2 = 2, top margin (8-3)/2 = 2.
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 5; ++c) ASSERT_EQ(At(img, c + 2, r + 2), At(src, c, r));
    RGBQuad corner = img.GetPixelColor(0, 0, false);
    EXPECT_EQ(corner.red, 30);
    EXPECT_EQ(corner.blue, 10);
    EXPECT_EQ(*img.AlphaGetPointer(9, 7), 255);  // padding is opaque
  }
  CImage img = Pattern(5, 3, 24, false);
  EXPECT_FALSE(img.Expand(4, 8, bg));
  EXPECT_EQ(img.GetWidth(), 5);
}

TEST(ImageGeometry, ThumbnailShrinksToFitAndPadsToTheBox) {
  const struct {
    int w, h, boxW, boxH, pictureW, pictureH;
  } cases[] = {
      {400, 200, 100, 75, 100, 50},  // wide: fits the width
      {200, 400, 100, 75, 37, 75},   // tall: fits the height
      {50, 30, 100, 75, 50, 30},     // small: never enlarged
  };
  for (const auto& c : cases) {
    CImage img;
    ASSERT_TRUE(img.Create(c.w, c.h, 24));
    img.Clear(0);  // black picture on a white box
    ASSERT_TRUE(img.Thumbnail(c.boxW, c.boxH, RGBQuad{255, 255, 255, 0}));
    ASSERT_EQ(img.GetWidth(), c.boxW);
    ASSERT_EQ(img.GetHeight(), c.boxH);
    int black = 0;
    for (int y = 0; y < c.boxH; ++y)
      for (int x = 0; x < c.boxW; ++x) black += img.GetPixelColor(x, y, false).green < 128;
    EXPECT_EQ(black, c.pictureW * c.pictureH) << c.w << "x" << c.h;
  }
  CImage img = Pattern(10, 10, 24, false);
  EXPECT_FALSE(img.Thumbnail(0, 10, RGBQuad{}));
}

// ---- tone -------------------------------------------------------------------------

TEST(ImageTone, LightFollowsTheDocumentedFormula) {
  const struct {
    long brightness, contrast;
    uint8_t in, out;
  } cases[] = {
      {0, 0, 77, 77},  {20, 0, 77, 97},   {-100, 0, 77, 0}, {0, 100, 200, 255}, {0, 50, 200, 236},
      {10, 50, 10, 0}, {0, -100, 3, 128}, {0, -50, 0, 64},  {300, 0, 0, 255},   {0, 50, 100, 86},
  };
  for (const auto& c : cases) {
    CImage img;
    ASSERT_TRUE(img.Create(3, 2, 24));
    img.Clear(c.in);
    ASSERT_TRUE(img.Light(c.brightness, c.contrast));
    EXPECT_EQ(img.GetPixelColor(2, 1, false).green, c.out)
        << c.brightness << "/" << c.contrast << " on " << int(c.in);
  }
  // Palette images change their palette, not their indices.
  CImage pal = Pattern(6, 4, 8, false), before(pal);
  ASSERT_TRUE(pal.Light(20, 0));
  EXPECT_EQ(pal.GetPixelIndex(3, 2), before.GetPixelIndex(3, 2));
  EXPECT_EQ(pal.GetPalette()[5].red, before.GetPalette()[5].red + 20);
  // (0, 0) is the identity.
  CImage rgb = Pattern(17, 9, 24, false), same(rgb);
  ASSERT_TRUE(rgb.Light(0, 0));
  EXPECT_EQ(Psnr(rgb, same), 99.0);
}

TEST(ImageTone, GreyScale) {
  CImage img;
  ASSERT_TRUE(img.Create(2, 1, 24));
  img.SetPixelColor(0, 0, RGBQuad{0, 0, 255, 0});
  img.SetPixelColor(1, 0, RGBQuad{255, 255, 255, 0});
  img.AlphaCreate();
  EXPECT_FALSE(img.IsGrayScale());
  ASSERT_TRUE(img.GrayScale());
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_TRUE(img.IsGrayScale());
  EXPECT_TRUE(img.AlphaIsValid());
  EXPECT_EQ(img.GetPixelColor(0, 0, false).green, 76);  // 0.299 x 255
  EXPECT_EQ(img.GetPixelColor(1, 0, false).red, 255);

  CImage pal = Pattern(4, 4, 4, false);
  EXPECT_FALSE(pal.IsGrayScale());
  ASSERT_TRUE(pal.GrayScale());
  EXPECT_EQ(pal.GetBpp(), 4);
  EXPECT_TRUE(pal.IsGrayScale());
}

// ---- resampling ---------------------------------------------------------------------

namespace {
struct Method {
  const char* name;
  std::function<bool(CImage&, long, long)> run;
};

const std::vector<Method>& Methods() {
  static const std::vector<Method> m = [] {
    std::vector<Method> v;
    v.push_back(
        {"Resample nearest", [](CImage& i, long w, long h) { return i.Resample(w, h, 1); }});
    v.push_back(
        {"Resample bilinear", [](CImage& i, long w, long h) { return i.Resample(w, h, 0); }});
    for (int interp = 1; interp <= 8; ++interp)
      v.push_back({"Resample2", [interp](CImage& i, long w, long h) {
                     return i.Resample2(w, h, interp, CImage::OM_REPEAT);
                   }});
    return v;
  }();
  return m;
}
}  // namespace

TEST(ImageResample, SizesAndTargetsOfZero) {
  for (size_t m = 0; m < Methods().size(); ++m) {
    SCOPED_TRACE(std::string(Methods()[m].name) + " #" + std::to_string(m));
    for (auto [w, h] : {std::pair{1, 1}, {7, 3}, {300, 1}, {1, 200}, {64, 48}}) {
      CImage img = Pattern(40, 30, 24, true);
      ASSERT_TRUE(Methods()[m].run(img, w, h)) << img.GetLastError();
      EXPECT_EQ(img.GetWidth(), w);
      EXPECT_EQ(img.GetHeight(), h);
      EXPECT_TRUE(img.AlphaIsValid());
    }
    for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {-5, 10}, {0, 0}}) {
      CImage img = Pattern(40, 30, 24, false), before(img);
      EXPECT_FALSE(Methods()[m].run(img, w, h));
      EXPECT_EQ(img.GetWidth(), 40);
      EXPECT_EQ(Psnr(img, before), 99.0);
    }
  }
  // Into another image; the source stays.
  CImage src = Pattern(40, 30, 24, false), out;
  ASSERT_TRUE(src.Resample2(20, 15, CImage::IM_LANCZOS, CImage::OM_REPEAT, &out));
  EXPECT_EQ(out.GetWidth(), 20);
  EXPECT_EQ(src.GetWidth(), 40);
}

TEST(ImageResample, FlatColourStaysFlatUnderEveryFilter) {
  for (size_t m = 0; m < Methods().size(); ++m) {
    for (auto [w, h] : {std::pair{13, 9}, {211, 157}, {50, 300}, {3, 2}}) {
      CImage img;
      ASSERT_TRUE(img.Create(64, 48, 24));
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) img.SetPixelColor(x, y, RGBQuad{17, 128, 250, 0});
      img.AlphaCreate();
      std::memset(img.AlphaGetPointer(), 200, 64 * 48);
      ASSERT_TRUE(Methods()[m].run(img, w, h));
      int off = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          RGBQuad q = img.GetPixelColor(x, y, false);
          off +=
              q.blue != 17 || q.green != 128 || q.red != 250 || *img.AlphaGetPointer(x, y) != 200;
        }
      EXPECT_EQ(off, 0) << "method #" << m << " to " << w << "x" << h;
    }
  }
}

TEST(ImageResample, ShrinkingAFineCheckerboardGivesMidGrey) {
  CImage board;
  ASSERT_TRUE(board.Create(300, 240, 24));
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 300; ++x) {
      uint8_t v = ((x + y) & 1) ? 255 : 0;
      board.SetPixelColor(x, y, RGBQuad{v, v, v, 0});
    }
  for (int interp : {CImage::IM_LANCZOS, CImage::IM_BICUBIC, CImage::IM_BICUBIC2,
                     CImage::IM_BSPLINE, CImage::IM_BILINEAR, CImage::IM_HERMITE}) {
    CImage img(board);
    ASSERT_TRUE(img.Resample2(97, 71, interp, CImage::OM_REPEAT));
    int worst = 0;
    for (int y = 0; y < 71; ++y)
      for (int x = 0; x < 97; ++x)
        worst = std::max(worst, std::abs(int(img.GetPixelColor(x, y, false).green) - 128));
    EXPECT_LE(worst, 12) << "interpolation " << interp;
  }
  // Without averaging the kernel keeps its width and the board aliases.
  CImage img(board);
  ASSERT_TRUE(img.Resample2(97, 71, CImage::IM_BICUBIC, CImage::OM_REPEAT, nullptr, true));
  int worst = 0;
  for (int y = 0; y < 71; ++y)
    for (int x = 0; x < 97; ++x)
      worst = std::max(worst, std::abs(int(img.GetPixelColor(x, y, false).green) - 128));
  EXPECT_GT(worst, 40);
  // Bilinear Resample (mode 0) averages too.
  CImage bil(board);
  ASSERT_TRUE(bil.Resample(100, 80, 0));
  EXPECT_NEAR(Mean(bil, 1), 127.5, 2.0);
  EXPECT_LE(std::abs(int(bil.GetPixelColor(50, 40, false).green) - 128), 12);
}

TEST(ImageResample, NearestPicksThePixelUnderEachCentre) {
  for (int bpp : {1, 4, 8, 24}) {
    CImage src = Pattern(12, 9, bpp, true);
    CImage img(src);
    ASSERT_TRUE(img.Resample(4, 3, 1));
    EXPECT_EQ(img.GetBpp(), bpp);  // nearest keeps palette images as they are
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) ASSERT_EQ(At(img, c, r), At(src, c * 3 + 1, r * 3 + 1));
    CImage up(src);
    ASSERT_TRUE(up.Resample2(24, 18, CImage::IM_NEAREST_NEIGHBOUR, CImage::OM_REPEAT));
    EXPECT_EQ(At(up, 5, 7), At(src, 2, 3));
  }
}

TEST(ImageResample, PaletteImagesBecomeTrueColour) {
  CImage img = Pattern(16, 16, 4, false);
  ASSERT_TRUE(img.Resample2(8, 8, CImage::IM_LANCZOS, CImage::OM_REPEAT));
  EXPECT_EQ(img.GetBpp(), 24);
  EXPECT_EQ(img.GetPalette(), nullptr);
}

// Against ImageMagick's resize with the same kernels, on a picture it made.
TEST(ImageResample, MatchesImageMagickForEachKernel) {
  TempDir dir;
  const std::string in = dir / "in.ppm";
  ASSERT_EQ(
      testing_support::Run(
          std::string(ImConvert()) + " -size 160x120 -seed 5 plasma:red-blue -blur 0x1 " +
          "-fill white -draw 'rectangle 40,30 90,70' -fill black -draw 'circle 120,80 130,95' " +
          "-depth 8 " + Quote(in)),
      0);
  CImage src;
  ASSERT_TRUE(ReadPpm(in, src));
  const struct {
    int interp;
    const char* filter;
  } kernels[] = {{CImage::IM_LANCZOS, "Lanczos"},
                 {CImage::IM_BICUBIC, "Catrom"},
                 {CImage::IM_BICUBIC2, "Mitchell"},
                 {CImage::IM_BSPLINE, "Spline"},
                 {CImage::IM_HERMITE, "Hermite"},
                 {CImage::IM_BILINEAR, "Triangle"},
                 {CImage::IM_BOX, "Box"}};
  for (const auto& k : kernels) {
    for (auto [w, h] : {std::pair{61, 47}, {253, 190}}) {
      const std::string out = dir / "out.ppm";
      ASSERT_EQ(testing_support::Run(std::string(ImConvert()) + " " + Quote(in) + " -filter " +
                                     k.filter + " -resize " + std::to_string(w) + "x" +
                                     std::to_string(h) + "! -depth 8 " + Quote(out)),
                0);
      CImage theirs, ours(src);
      ASSERT_TRUE(ReadPpm(out, theirs));
      ASSERT_TRUE(ours.Resample2(w, h, k.interp, CImage::OM_REPEAT));
      EXPECT_GT(Psnr(ours, theirs), 40.0) << k.filter << " to " << w << "x" << h;
    }
  }
}

// ---- colour depth -------------------------------------------------------------------

namespace {
CImage Gradient(int w, int h) {
  CImage img;
  EXPECT_TRUE(img.Create(w, h, 24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.SetPixelColor(x, y,
                        RGBQuad{uint8_t(x * 255 / (w - 1)), uint8_t(y * 255 / (h - 1)),
                                uint8_t((x + y) * 255 / (w + h - 2)), 0});
  return img;
}
}  // namespace

TEST(ImageDepth, StandardPalettesKeepTheMeanColour) {
  const struct {
    int bits;
    bool diffusion;
    double tolerance;
  } cases[] = {{1, true, 2.0},   {1, false, 10.0}, {4, true, 6.0},
               {4, false, 40.0}, {8, true, 1.5},   {8, false, 6.0}};
  const CImage src = Gradient(128, 96);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + (c.diffusion ? " with diffusion" : " without"));
    CImage img(src);
    ASSERT_TRUE(img.DecreaseBpp(c.bits, c.diffusion));
    ASSERT_EQ(img.GetBpp(), c.bits);
    ASSERT_EQ(img.GetNumColors(), 1u << c.bits);
    if (c.bits == 1) {
      // Black and white go by brightness: compare grey levels.
      auto grey = [](const CImage& i) {
        return 0.299 * Mean(i, 2) + 0.587 * Mean(i, 1) + 0.114 * Mean(i, 0);
      };
      EXPECT_NEAR(grey(img), grey(src), c.tolerance);
    } else {
      for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(Mean(img, ch), Mean(src, ch), c.tolerance);
    }
  }
  // The palettes themselves.
  CImage bw(src), vga(src), cube(src);
  bw.DecreaseBpp(1, false);
  vga.DecreaseBpp(4, false);
  cube.DecreaseBpp(8, false);
  EXPECT_EQ(bw.GetPalette()[1], (RGBQuad{255, 255, 255, 0}));
  EXPECT_EQ(vga.GetPalette()[9], (RGBQuad{0, 0, 255, 0}));  // bright red
  EXPECT_EQ(vga.GetPalette()[7], (RGBQuad{192, 192, 192, 0}));
  EXPECT_EQ(cube.GetPalette()[0], (RGBQuad{0, 0, 0, 0}));
  EXPECT_EQ(cube.GetPalette()[251], (RGBQuad{255, 255, 255, 0}));
  EXPECT_EQ(cube.GetPalette()[253], (RGBQuad{102, 102, 102, 0}));
}

TEST(ImageDepth, GivenPaletteMapsToTheNearestEntryExactly) {
  std::mt19937 rng(7);
  std::vector<RGBQuad> pal(256);
  for (auto& q : pal) q = RGBQuad{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
  CImage img;
  ASSERT_TRUE(img.Create(200, 150, 24));
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) {
      // Half random colours, half the palette's own colours.
      RGBQuad c = (x & 1) ? pal[(x * 31 + y) & 255]
                          : RGBQuad{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
      img.SetPixelColor(x, y, c);
    }
  CImage reduced(img);
  ASSERT_TRUE(reduced.DecreaseBpp(8, false, pal.data(), 0));
  CImage reference;
  reference.Create(1, 1, 8);
  reference.SetPalette(pal.data(), 256);
  int wrong = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x)
      wrong +=
          reduced.GetPixelIndex(x, y) != reference.GetNearestIndex(img.GetPixelColor(x, y, false));
  EXPECT_EQ(wrong, 0);

  // Only the first `colours` entries are used.
  CImage four(img);
  ASSERT_TRUE(four.DecreaseBpp(8, true, pal.data(), 4));
  int beyond = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) beyond += four.GetPixelIndex(x, y) >= 4;
  EXPECT_EQ(beyond, 0);
  EXPECT_EQ(four.GetPalette()[3], pal[3]);
}

TEST(ImageDepth, AlphaTransparencyAndPaletteSources) {
  CImage img = Gradient(20, 10);
  img.AlphaCreate();
  *img.AlphaGetPointer(3, 4) = 7;
  img.SetTransIndex(0);
  img.SetTransColor(RGBQuad{0, 0, 255, 0});
  ASSERT_TRUE(img.DecreaseBpp(4, true));
  EXPECT_EQ(*img.AlphaGetPointer(3, 4), 7);
  EXPECT_EQ(img.GetTransIndex(), 9);  // bright red of the VGA colours

  // A palette image to a larger depth without a palette keeps its colours.
  CImage pal = Pattern(9, 5, 4, false), wide(pal);
  ASSERT_TRUE(wide.DecreaseBpp(8, false));
  EXPECT_EQ(wide.GetBpp(), 8);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 9; ++x)
      ASSERT_EQ(wide.GetPixelColor(x, y, false), pal.GetPixelColor(x, y, false));
  EXPECT_FALSE(pal.DecreaseBpp(2, false));
}

TEST(ImageDepth, IncreaseBppTurnsPalettesIntoColours) {
  CImage img = Pattern(9, 5, 8, false), src(img);
  img.SetTransIndex(5);
  ASSERT_TRUE(img.IncreaseBpp(24));
  EXPECT_EQ(img.GetBpp(), 24);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 9; ++x)
      ASSERT_EQ(img.GetPixelColor(x, y, false), src.GetPixelColor(x, y, false));
  EXPECT_TRUE(img.IsTransparent());
  RGBQuad tc = img.GetTransColor(), p5 = src.GetPalette()[5];
  EXPECT_EQ(tc.red, p5.red);
  EXPECT_EQ(tc.blue, p5.blue);
  EXPECT_FALSE(img.IncreaseBpp(8));

  // Palette alpha (tRNS) becomes an alpha plane.
  CImage pal;
  ASSERT_TRUE(pal.Create(2, 1, 1));
  pal.SetPaletteColor(0, 255, 0, 0, 255);
  pal.SetPaletteColor(1, 0, 0, 255, 40);
  pal.AlphaPaletteEnable();
  pal.SetPixelIndex(1, 0, 1);
  ASSERT_TRUE(pal.IncreaseBpp(24));
  ASSERT_TRUE(pal.AlphaIsValid());
  EXPECT_EQ(*pal.AlphaGetPointer(0, 0), 255);
  EXPECT_EQ(*pal.AlphaGetPointer(1, 0), 40);
}

// ---- packed bitmaps -------------------------------------------------------------------

TEST(ImageDib, RoundTripForEveryDepth) {
  for (int bpp : {1, 4, 8, 24}) {
    SCOPED_TRACE(bpp);
    CImage src = Pattern(13, 7, bpp, false);
    void* block = src.MakeBitmap();
    ASSERT_NE(block, nullptr);
    BitmapInfoHeader h;
    std::memcpy(&h, block, sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 13);
    EXPECT_EQ(h.biHeight, 7);
    EXPECT_EQ(h.biBitCount, bpp);
    const size_t entries = bpp <= 8 ? (1u << bpp) : 0;
    const size_t total = 40 + entries * 4 + DibRowBytes(13, bpp) * 7;
    // The same bytes as GetDIB.
    const void* dib = src.GetDIB();
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(std::memcmp(dib, block, total), 0);

    CImage back;
    ASSERT_TRUE(back.CreateFromHBITMAP(block, total)) << back.GetLastError();
    std::free(block);
    ASSERT_EQ(back.GetBpp(), bpp);
    EXPECT_EQ(back.GetXDPI(), 300);
    EXPECT_EQ(back.GetYDPI(), 72);
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 13; ++c) ASSERT_EQ(At(back, c, r).value, At(src, c, r).value);
    if (bpp <= 8) {
      EXPECT_EQ(std::memcmp(back.GetPalette(), src.GetPalette(), entries * 4), 0);
    }
  }
}

TEST(ImageDib, GetDibFollowsWritesThroughGetBits) {
  CImage img = Pattern(4, 4, 24, false);
  const uint8_t* dib = static_cast<const uint8_t*>(img.GetDIB());
  ASSERT_NE(dib, nullptr);
  img.GetBits(0)[0] = uint8_t(dib[40] + 1);
  dib = static_cast<const uint8_t*>(img.GetDIB());
  EXPECT_EQ(dib[40], img.GetBits(0)[0]);
}

namespace {
// A packed bitmap built by hand: header, extra bytes (masks or palette), rows.
std::vector<uint8_t> Dib(int w, int h, int bpp, uint32_t compression,
                         const std::vector<uint8_t>& extra, const std::vector<uint8_t>& rows,
                         uint32_t clrUsed = 0) {
  BitmapInfoHeader hd;
  hd.biWidth = w;
  hd.biHeight = h;
  hd.biBitCount = uint16_t(bpp);
  hd.biCompression = compression;
  hd.biClrUsed = clrUsed;
  std::vector<uint8_t> d(sizeof hd);
  std::memcpy(d.data(), &hd, sizeof hd);
  d.insert(d.end(), extra.begin(), extra.end());
  d.insert(d.end(), rows.begin(), rows.end());
  return d;
}
using byte_order::PutLe32;
}  // namespace

TEST(ImageDib, SixteenAndThirtyTwoBitsTopDownAndMasks) {
  // 16 bits, default 5-5-5: pure red, pure green, white; row padded to 8.
  std::vector<uint8_t> rows = {0x00, 0x7C, 0xE0, 0x03, 0xFF, 0x7F, 0, 0};
  CImage img;
  auto d = Dib(3, 1, 16, 0, {}, rows);
  ASSERT_TRUE(img.CreateFromHBITMAP(d.data(), d.size())) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 24);
  EXPECT_EQ(img.GetPixelColor(0, 0, false), (RGBQuad{0, 0, 255, 0}));
  EXPECT_EQ(img.GetPixelColor(1, 0, false), (RGBQuad{0, 255, 0, 0}));
  EXPECT_EQ(img.GetPixelColor(2, 0, false), (RGBQuad{255, 255, 255, 0}));

  // 16 bits 5-6-5 with BI_BITFIELDS: green takes six bits.
  std::vector<uint8_t> masks;
  PutLe32(masks, 0xF800);
  PutLe32(masks, 0x07E0);
  PutLe32(masks, 0x001F);
  d = Dib(2, 1, 16, 3, masks, {0xE0, 0x07, 0x1F, 0x00});
  ASSERT_TRUE(img.CreateFromHBITMAP(d.data(), d.size()));
  EXPECT_EQ(img.GetPixelColor(0, 0, false), (RGBQuad{0, 255, 0, 0}));
  EXPECT_EQ(img.GetPixelColor(1, 0, false), (RGBQuad{255, 0, 0, 0}));

  // 32 bits, two rows top-down, with a real fourth byte: alpha.
  std::vector<uint8_t> px = {1, 2, 3, 128, 4, 5, 6, 255};
  d = Dib(1, -2, 32, 0, {}, px);
  ASSERT_TRUE(img.CreateFromHBITMAP(d.data(), size_t(-1)));
  ASSERT_EQ(img.GetHeight(), 2);
  EXPECT_EQ(img.GetPixelColor(0, 1, false), (RGBQuad{1, 2, 3, 0}));  // first row is the top
  ASSERT_TRUE(img.AlphaIsValid());
  EXPECT_EQ(*img.AlphaGetPointer(0, 1), 128);
  EXPECT_EQ(*img.AlphaGetPointer(0, 0), 255);

  // A fourth byte that is zero everywhere is not alpha.
  d = Dib(1, 2, 32, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0});
  img.Destroy();
  ASSERT_TRUE(img.CreateFromHBITMAP(d.data(), d.size()));
  EXPECT_FALSE(img.AlphaIsValid());
  EXPECT_EQ(img.GetPixelColor(0, 0, false), (RGBQuad{1, 2, 3, 0}));  // bottom-up

  // 8 bits with a short colour table (biClrUsed 2).
  std::vector<uint8_t> table = {9, 8, 7, 0, 1, 2, 3, 0};
  d = Dib(2, 1, 8, 0, table, {1, 0, 0, 0}, 2);
  ASSERT_TRUE(img.CreateFromHBITMAP(d.data(), d.size()));
  EXPECT_EQ(img.GetPixelColor(0, 0, false), (RGBQuad{1, 2, 3, 0}));
  EXPECT_EQ(img.GetPixelColor(1, 0, false), (RGBQuad{9, 8, 7, 0}));
}

TEST(ImageDib, HostileHeadersFailAndLeaveTheImage) {
  std::vector<uint8_t> masks;
  PutLe32(masks, 0xF0F0);  // not contiguous
  PutLe32(masks, 0x0F00);
  PutLe32(masks, 0x000F);
  auto huge = Dib(0x7FFFFFFF, 1, 24, 0, {}, std::vector<uint8_t>(64));
  auto tall = Dib(4, -0x7FFFFFFF, 24, 0, {}, std::vector<uint8_t>(64));
  auto big = Dib(10000, 10000, 24, 0, {}, std::vector<uint8_t>(64));  // within limits, no data
  auto shortRows = Dib(10, 10, 24, 0, {}, std::vector<uint8_t>(10 * 32 - 1));
  auto depth = Dib(2, 2, 7, 0, {}, std::vector<uint8_t>(16));
  auto rle = Dib(2, 2, 8, 1, std::vector<uint8_t>(1024), std::vector<uint8_t>(16));
  auto table = Dib(2, 2, 8, 0, {}, std::vector<uint8_t>(16), 100000);
  auto mask = Dib(2, 1, 16, 3, masks, std::vector<uint8_t>(4));
  auto zero = Dib(0, 5, 24, 0, {}, std::vector<uint8_t>(64));
  auto nomasks = Dib(2, 1, 16, 3, {}, {});
  std::vector<uint8_t> tiny(20, 0);
  struct {
    const char* name;
    const std::vector<uint8_t>& data;
  } cases[] = {{"huge width", huge},           {"huge height", tall},
               {"no pixel data", big},         {"rows cut short", shortRows},
               {"bit depth 7", depth},         {"RLE", rle},
               {"colour table", table},        {"masks", mask},
               {"zero width", zero},           {"masks missing", nomasks},
               {"smaller than a header", tiny}};
  for (const auto& c : cases) {
    CImage img = Pattern(3, 3, 24, false), before(img);
    EXPECT_FALSE(img.CreateFromHBITMAP(c.data.data(), c.data.size())) << c.name;
    EXPECT_FALSE(img.GetLastError().empty());
    EXPECT_EQ(img.GetWidth(), 3) << c.name;
    EXPECT_EQ(Psnr(img, before), 99.0);
  }
  CImage img;
  EXPECT_FALSE(img.CreateFromHBITMAP(nullptr, 100));
  EXPECT_EQ(img.MakeBitmap(), nullptr);  // empty image
}

TEST(ImageDib, KeepsWhatTheBitmapCannotCarry) {
  // A filter hands back a bitmap of the same size: the alpha plane, the
  // transparency and the codec settings of the image stay.
  CImage img = Pattern(6, 4, 8, true), before(img);
  img.SetJpegQuality(55);
  void* block = img.MakeBitmap();
  ASSERT_NE(block, nullptr);
  ASSERT_TRUE(img.CreateFromHBITMAP(block));
  std::free(block);
  ASSERT_TRUE(img.AlphaIsValid());
  EXPECT_EQ(std::memcmp(img.AlphaGetPointer(), before.AlphaGetPointer(), 24), 0);
  EXPECT_EQ(img.GetTransIndex(), 1);
  EXPECT_EQ(img.GetJpegQuality(), 55);
}
