// BMP codec: files written by ImageMagick (every depth and header it makes),
// hand-made variants (top-down, RLE4, bit fields), our writer read back by
// ImageMagick, and damaged headers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"
#include "imaging/image.h"
#include "test_support.h"

using namespace testing_support;

namespace {

std::string Im() { return ImConvert(); }
int Sh(const std::string& command) { return testing_support::Run(command); }

// A colourful 37x23 picture (odd width: rows need padding at every depth).
std::string MakeSource(const TempDir& dir) {
  std::string src = dir / "src.ppm";
  EXPECT_EQ(Sh(Im() + " -seed 7 -size 37x23 plasma:fractal " + Quote(src)), 0);
  return src;
}

// The same picture with a horizontal alpha ramp.
std::string MakeAlphaSource(const TempDir& dir) {
  std::string src = MakeSource(dir);
  std::string out = dir / "alpha.png";
  EXPECT_EQ(Sh(Im() + " " + Quote(src) + " \\( -size 23x37 gradient:white-black -rotate 90 \\) " +
                "-alpha off -compose copy_opacity -composite " + Quote(out)),
            0);
  return out;
}

using byte_order::GetLe32;
using byte_order::SetLe16;
using byte_order::SetLe32;

// Loads path with our codec and with ImageMagick and compares every pixel.
void ExpectSameAsImageMagick(const std::string& path, bool withAlpha, int expectBpp) {
  SCOPED_TRACE(path);
  CImage img;
  ASSERT_TRUE(img.Load(path, FORMAT_UNKNOWN)) << img.GetLastError();
  EXPECT_EQ(img.GetType(), FORMAT_BMP);
  EXPECT_EQ(img.GetBpp(), expectBpp);
  EXPECT_EQ(img.GetNumFrames(), 1);
  RefImage ref;
  ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
  EXPECT_TRUE(testing_support::MatchesRef(img, ref, withAlpha));
  if (withAlpha) {
    EXPECT_TRUE(img.AlphaIsValid());
  }
}

// A minimal BITMAPINFOHEADER file around the given colour table and pixels.
std::vector<uint8_t> MakeBmp(int width, int height, int bpp, uint32_t compression,
                             const std::vector<uint8_t>& table, const std::vector<uint8_t>& pixels,
                             uint32_t clrUsed = 0) {
  std::vector<uint8_t> d(54, 0);
  d[0] = 'B';
  d[1] = 'M';
  SetLe32(&d[10], uint32_t(54 + table.size()));
  SetLe32(&d[14], 40);
  SetLe32(&d[18], uint32_t(width));
  SetLe32(&d[22], uint32_t(height));
  SetLe16(&d[26], 1);
  SetLe16(&d[28], uint32_t(bpp));
  SetLe32(&d[30], compression);
  SetLe32(&d[34], uint32_t(pixels.size()));
  SetLe32(&d[46], clrUsed);
  d.insert(d.end(), table.begin(), table.end());
  d.insert(d.end(), pixels.begin(), pixels.end());
  SetLe32(&d[2], uint32_t(d.size()));
  return d;
}

std::vector<uint8_t> SixteenColourTable() {
  std::vector<uint8_t> t;
  for (int i = 0; i < 16; ++i) {
    t.push_back(uint8_t(i * 16));        // blue
    t.push_back(uint8_t(255 - i * 16));  // green
    t.push_back(uint8_t(i * 5));         // red
    t.push_back(0);
  }
  return t;
}

}  // namespace

// Every depth and header ImageMagick writes, compared with its own reading.
TEST(BmpRead, ImageMagickFilesOfEveryDepth) {
  TempDir dir;
  std::string src = MakeSource(dir);
  std::string alpha = MakeAlphaSource(dir);
  struct Case {
    std::string name, options, prefix;
    const std::string* input;
    int bpp;
    bool alpha;
  } cases[] = {
      {"b1.bmp", "-monochrome", "BMP3:", &src, 1, false},
      {"b4.bmp", "-colors 16 -type palette", "BMP3:", &src, 4, false},
      {"b8.bmp", "-colors 200 -type palette", "BMP3:", &src, 8, false},
      {"b8rle.bmp", "-colors 200 -type palette -compress RLE", "BMP3:", &src, 8, false},
      {"b16_565.bmp", "-define bmp:subtype=RGB565", "BMP:", &src, 24, false},
      {"b16_555.bmp", "-define bmp:subtype=RGB555", "BMP:", &src, 24, false},
      {"b24.bmp", "-type truecolor", "BMP3:", &src, 24, false},
      {"b24v5.bmp", "-type truecolor", "BMP:", &src, 24, false},
      {"b32.bmp", "-type truecoloralpha", "BMP:", &alpha, 24, true},
      {"b32v3.bmp", "-define bmp3:alpha=true", "BMP3:", &alpha, 24, true},
      {"os2_8.bmp", "-colors 100 -type palette", "BMP2:", &src, 8, false},
      {"os2_24.bmp", "-type truecolor", "BMP2:", &src, 24, false},
  };
  for (const Case& c : cases) {
    std::string path = dir / c.name;
    ASSERT_EQ(Sh(Im() + " " + Quote(*c.input) + " " + c.options + " " + Quote(c.prefix + path)),
              0)
        << c.name;
    ExpectSameAsImageMagick(path, c.alpha, c.bpp);
  }
  // 16 bits with alpha. ImageMagick widens 4-bit channels as v << 4 and a
  // set 1-bit alpha to 128; we repeat the bits (v * 17, 255), as Windows
  // does, so its values are mapped before comparing.
  for (const char* subtype : {"ARGB1555", "ARGB4444"}) {
    std::string path = dir / (std::string(subtype) + ".bmp");
    ASSERT_EQ(Sh(Im() + " " + Quote(alpha) + " -define bmp:subtype=" + subtype + " " +
                 Quote("BMP:" + path)),
              0);
    CImage img;
    ASSERT_TRUE(img.Load(path)) << img.GetLastError();
    ASSERT_TRUE(img.AlphaIsValid()) << subtype;
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
    const bool four = subtype[4] == '4';
    for (size_t i = 0; i < ref.rgba.size(); ++i) {
      uint8_t& v = ref.rgba[i];
      if (four)
        v = uint8_t((v >> 4) * 17);
      else if (i % 4 == 3)
        v = v ? 255 : 0;
    }
    EXPECT_TRUE(testing_support::MatchesRef(img, ref, true)) << subtype;
  }
  // The headers are what the cases claim to cover.
  EXPECT_EQ(ReadFileBytes(dir / "b8rle.bmp")[30], 1);              // BI_RLE8
  EXPECT_EQ(GetLe32(ReadFileBytes(dir / "os2_24.bmp").data() + 14), 12u);  // OS/2 core header
  EXPECT_EQ(ReadFileBytes(dir / "b16_565.bmp")[28], 16);
  EXPECT_EQ(ReadFileBytes(dir / "b32v3.bmp")[28], 32);
  EXPECT_EQ(ReadFileBytes(dir / "b32v3.bmp")[14], 40);
}

TEST(BmpRead, ResolutionFromPixelsPerMetre) {
  TempDir dir;
  std::string src = MakeSource(dir);
  std::string path = dir / "dpi.bmp";
  ASSERT_EQ(Sh(Im() + " " + Quote(src) + " -units PixelsPerInch -density 150x72 " +
                Quote("BMP3:" + path)),
            0);
  CImage img;
  ASSERT_TRUE(img.Load(path)) << img.GetLastError();
  EXPECT_EQ(img.GetXDPI(), 150);
  EXPECT_EQ(img.GetYDPI(), 72);
}

// A top-down file made by reversing the rows of a bottom-up one.
TEST(BmpRead, TopDownRows) {
  TempDir dir;
  std::string src = MakeSource(dir);
  for (const char* opt : {"-type truecolor", "-colors 16 -type palette"}) {
    std::string up = dir / "up.bmp", down = dir / "down.bmp";
    ASSERT_EQ(Sh(Im() + " " + Quote(src) + " " + opt + " " + Quote("BMP3:" + up)), 0);
    std::vector<uint8_t> d = ReadFileBytes(up);
    uint32_t off = GetLe32(&d[10]);
    int w = int(GetLe32(&d[18])), h = int(GetLe32(&d[22])), bpp = d[28];
    size_t row = DibRowBytes(w, bpp);
    ASSERT_GE(d.size(), off + row * h);
    std::vector<uint8_t> flipped(d);
    for (int y = 0; y < h; ++y)
      std::memcpy(flipped.data() + off + y * row, d.data() + off + (h - 1 - y) * row, row);
    SetLe32(&flipped[22], uint32_t(-h));
    WriteFileBytes(down, flipped.data(), flipped.size());
    CImage a, b;
    ASSERT_TRUE(a.Load(up)) << a.GetLastError();
    ASSERT_TRUE(b.Load(down)) << b.GetLastError();
    EXPECT_TRUE(testing_support::SameBits(a, b)) << opt;
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(down, ref));
    EXPECT_TRUE(testing_support::MatchesRef(b, ref)) << opt;
  }
}

// RLE4 by hand: runs, absolute runs with padding, delta, end of line, end
// of bitmap with rows left unpainted (index 0), checked against ImageMagick;
// then runs that pass the right edge, which we clip (ImageMagick refuses
// them).
TEST(BmpRead, Rle4AndRle8EscapesByHand) {
  TempDir dir;
  const int w = 7, h = 5;
  std::vector<uint8_t> rle4 = {
      3, 0x12,           // row 0: 1 2 1
      0, 3, 0x45, 0x60,  // absolute 4 5 6 (two bytes, already even)
      0, 0,              // end of line
      7, 0x77,           // row 1: seven 7s
      0, 0,              //
      0, 2, 2, 1,        // delta: x + 2, y + 1 -> row 2 left unpainted
      0, 5, 0xCD, 0xEF, 0x10, 0x00,  // row 3 from x = 2: C D E F 1, padded
      0, 1};             // end of bitmap: row 4 left unpainted
  std::vector<uint8_t> d = MakeBmp(w, h, 4, 2, SixteenColourTable(), rle4);
  // ImageMagick reads a little past the end-of-bitmap mark.
  d.insert(d.end(), 2, 0);
  SetLe32(&d[2], uint32_t(d.size()));
  std::string path = dir / "rle4.bmp";
  WriteFileBytes(path, d.data(), d.size());
  CImage img;
  ASSERT_TRUE(img.Load(path)) << img.GetLastError();
  ASSERT_EQ(img.GetBpp(), 4);
  const int expect[h][w] = {{1, 2, 1, 4, 5, 6, 0},
                            {7, 7, 7, 7, 7, 7, 7},
                            {0, 0, 0, 0, 0, 0, 0},
                            {0, 0, 0xC, 0xD, 0xE, 0xF, 1},
                            {0, 0, 0, 0, 0, 0, 0}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) EXPECT_EQ(img.GetPixelIndex(x, y), expect[y][x]) << x << "," << y;
  RefImage ref;
  ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
  EXPECT_TRUE(testing_support::MatchesRef(img, ref));

  std::vector<uint8_t> offEdge = {9, 0x77, 0, 0, 4, 0x12, 0, 5, 0xCD, 0xEF, 0x10, 0x00, 0, 1};
  d = MakeBmp(w, 2, 4, 2, SixteenColourTable(), offEdge);
  ASSERT_TRUE(img.Decode(d.data(), d.size(), FORMAT_BMP)) << img.GetLastError();
  const int clipped[2][w] = {{7, 7, 7, 7, 7, 7, 7}, {1, 2, 1, 2, 0xC, 0xD, 0xE}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < w; ++x) EXPECT_EQ(img.GetPixelIndex(x, y), clipped[y][x]) << x << "," << y;

  // RLE8: a delta that jumps above the top ends the picture cleanly.
  std::vector<uint8_t> table(256 * 4, 0);
  for (int i = 0; i < 256; ++i) table[i * 4 + 2] = uint8_t(i);
  std::vector<uint8_t> rle8 = {2, 9, 0, 3, 1, 2, 3, 0, 0, 2, 0, 200, 1, 4};
  std::vector<uint8_t> d8 = MakeBmp(4, 2, 8, 1, table, rle8);
  ASSERT_TRUE(img.Decode(d8.data(), d8.size(), FORMAT_BMP)) << img.GetLastError();
  EXPECT_EQ(img.GetPixelIndex(0, 0), 9);
  EXPECT_EQ(img.GetPixelIndex(2, 0), 1);
  EXPECT_EQ(img.GetPixelIndex(3, 0), 2);  // the absolute run's third pixel fell off
  EXPECT_EQ(img.GetPixelIndex(0, 1), 0);
  EXPECT_EQ(img.GetPixelIndex(1, 1), 0);
}

// 32-bit files: the fourth byte is alpha only when some pixel sets it.
TEST(BmpRead, ThirtyTwoBitsAlphaRuleAndBitFields) {
  const int w = 3, h = 2;
  std::vector<uint8_t> px;
  for (int i = 0; i < w * h; ++i) {
    px.push_back(uint8_t(10 * i));      // blue
    px.push_back(uint8_t(20 * i));      // green
    px.push_back(uint8_t(30 * i + 5));  // red
    px.push_back(0);                    // unused
  }
  std::vector<uint8_t> d = MakeBmp(w, h, 32, 0, {}, px);
  CImage img;
  ASSERT_TRUE(img.Decode(d.data(), d.size(), FORMAT_BMP)) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 24);
  EXPECT_FALSE(img.AlphaIsValid());
  EXPECT_EQ(img.GetPixelColor(2, 1).red, 30 * 5 + 5);
  EXPECT_EQ(img.GetPixelColor(2, 1).blue, 50);

  px[3] = 128;  // first pixel (bottom-left) half transparent
  d = MakeBmp(w, h, 32, 0, {}, px);
  ASSERT_TRUE(img.Decode(d.data(), d.size(), FORMAT_BMP)) << img.GetLastError();
  ASSERT_TRUE(img.AlphaIsValid());
  EXPECT_EQ(img.GetPixelColor(0, 0).reserved, 128);
  EXPECT_EQ(img.GetPixelColor(1, 0).reserved, 0);

  // BI_BITFIELDS after a 40-byte header, 32 bits as R G B X from the low byte.
  std::vector<uint8_t> masks(12, 0);
  SetLe32(&masks[0], 0x000000FF);
  SetLe32(&masks[4], 0x0000FF00);
  SetLe32(&masks[8], 0x00FF0000);
  std::vector<uint8_t> bf = MakeBmp(1, 1, 32, 3, masks, {11, 22, 33, 0});
  ASSERT_TRUE(img.Decode(bf.data(), bf.size(), FORMAT_BMP)) << img.GetLastError();
  RGBQuad c = img.GetPixelColor(0, 0);
  EXPECT_EQ(c.red, 11);
  EXPECT_EQ(c.green, 22);
  EXPECT_EQ(c.blue, 33);

  // 16 bits with 4-bit channels via bit fields: 0xF scales to 255, 0x8 to 136.
  SetLe32(&masks[0], 0x0F00);
  SetLe32(&masks[4], 0x00F0);
  SetLe32(&masks[8], 0x000F);
  bf = MakeBmp(1, 1, 16, 3, masks, {0x08, 0x0F, 0, 0});
  ASSERT_TRUE(img.Decode(bf.data(), bf.size(), FORMAT_BMP)) << img.GetLastError();
  c = img.GetPixelColor(0, 0);
  EXPECT_EQ(c.red, 255);
  EXPECT_EQ(c.green, 0);
  EXPECT_EQ(c.blue, 136);

  // 16 bits without bit fields: the default masks are 5-5-5 (bit 15 unused),
  // as ImageMagick reads them too.
  const uint16_t words[4] = {0x7C00, 0x03E0, 0x801F, 0x4210};
  std::vector<uint8_t> px16;
  for (uint16_t v : words) px16.insert(px16.end(), {uint8_t(v), uint8_t(v >> 8)});
  bf = MakeBmp(2, 2, 16, 0, {}, px16);
  ASSERT_TRUE(img.Decode(bf.data(), bf.size(), FORMAT_BMP)) << img.GetLastError();
  const RGBQuad red = img.GetPixelColor(0, 0), green = img.GetPixelColor(1, 0),
                blue = img.GetPixelColor(0, 1), mid = img.GetPixelColor(1, 1);
  EXPECT_TRUE(red.red == 255 && red.green == 0 && red.blue == 0);
  EXPECT_TRUE(green.red == 0 && green.green == 255 && green.blue == 0);
  EXPECT_TRUE(blue.red == 0 && blue.green == 0 && blue.blue == 255);
  EXPECT_TRUE(mid.red == mid.green && mid.green == mid.blue && mid.red > 120 && mid.red < 140);
  TempDir dir;
  testing_support::WriteFileBytes(dir / "b16_rgb.bmp", bf.data(), bf.size());
  ExpectSameAsImageMagick(dir / "b16_rgb.bmp", false, 24);
}

// Our writer at every depth, read back by us and by ImageMagick.
TEST(BmpWrite, EveryDepthReadBackByUsAndImageMagick) {
  TempDir dir;
  for (int bpp : {1, 4, 8, 24}) {
    SCOPED_TRACE(bpp);
    CImage img = testing_support::MakePatternImage(45, 31, bpp);
    img.SetXDPI(300);
    img.SetYDPI(200);
    std::string path = dir / ("w" + std::to_string(bpp) + ".bmp");
    ASSERT_TRUE(img.Save(path, FORMAT_BMP)) << img.GetLastError();
    CImage back;
    ASSERT_TRUE(back.Load(path)) << back.GetLastError();
    EXPECT_TRUE(testing_support::SameBits(img, back));
    EXPECT_EQ(back.GetXDPI(), 300);
    EXPECT_EQ(back.GetYDPI(), 200);
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
    EXPECT_TRUE(testing_support::MatchesRef(img, ref));
    std::string info = RunOutput(std::string(ImIdentify()) + " -format '%m %w %h %z %r' " +
                                 Quote(path));
    EXPECT_EQ(info.substr(0, 3), "BMP") << info;
    EXPECT_NE(info.find(" 45 31 "), std::string::npos) << info;
    if (bpp <= 8) {
      EXPECT_NE(info.find("PseudoClass"), std::string::npos) << info;
      // The header says the depth we asked for.
      EXPECT_EQ(ReadFileBytes(path)[28], bpp);
    }
  }
}

TEST(BmpWrite, AlphaIsDroppedAndColoursKept) {
  CImage img = testing_support::MakePatternImage(9, 4, 24);
  ASSERT_TRUE(img.AlphaCreate());
  *img.AlphaGetPointer(3, 2) = 0;
  std::vector<uint8_t> data;
  ASSERT_TRUE(img.Encode(data, FORMAT_BMP)) << img.GetLastError();
  EXPECT_EQ(data[28], 24);
  CImage back;
  ASSERT_TRUE(back.Decode(data.data(), data.size(), FORMAT_BMP)) << back.GetLastError();
  EXPECT_FALSE(back.AlphaIsValid());
  EXPECT_TRUE(testing_support::SameColours(img, back, false));
}

// Damaged and lying files fail with a reason (or, where the lie is harmless,
// load); nothing reads outside the buffer (checked under the sanitizers).
TEST(BmpHostile, TruncatedLyingAndGiantFiles) {
  CImage good = testing_support::MakePatternImage(13, 7, 8);
  std::vector<uint8_t> d;
  ASSERT_TRUE(good.Encode(d, FORMAT_BMP));
  CImage img;
  // Cut at every interesting point: file header, info header, colour table,
  // first row, last row but one.
  const size_t row = DibRowBytes(13, 8);
  for (size_t cut : {size_t(1), size_t(10), size_t(16), size_t(40), size_t(54), size_t(54 + 512),
                     size_t(54 + 1024 + 3), d.size() - row - 1}) {
    std::vector<uint8_t> t(d.begin(), d.begin() + long(cut));
    EXPECT_FALSE(img.Decode(t.data(), t.size(), FORMAT_BMP)) << cut;
    EXPECT_FALSE(img.GetLastError().empty());
  }
  // Only the last row's padding missing: still a whole picture.
  {
    std::vector<uint8_t> t(d.begin(), d.end() - 3);
    EXPECT_TRUE(img.Decode(t.data(), t.size(), FORMAT_BMP)) << img.GetLastError();
  }
  auto with = [&](size_t at, uint32_t v) {
    std::vector<uint8_t> t(d);
    SetLe32(&t[at], v);
    return t;
  };
  struct Lie {
    const char* what;
    size_t at;
    uint32_t value;
    bool loads;
  } lies[] = {
      {"biSizeImage far too large", 34, 0x7FFFFFF0u, true},
      {"biSizeImage zero", 34, 0, true},
      {"file size field wrong", 2, 12, true},
      {"pixel offset beyond the file", 10, 0x10000000u, false},
      {"pixel offset inside the header", 10, 20, false},
      {"more colours than 8 bits hold", 46, 300, false},
      {"giant width and height", 18, 0x7FFFFFFFu, false},
      {"negative width", 18, 0xFFFFFFF0u, false},
      {"most negative height", 22, 0x80000000u, false},
      {"unknown header size", 14, 41, false},
      {"unknown compression", 30, 9, false},
  };
  for (const Lie& lie : lies) {
    std::vector<uint8_t> t = with(lie.at, lie.value);
    EXPECT_EQ(img.Decode(t.data(), t.size(), FORMAT_BMP), lie.loads) << lie.what;
    if (!lie.loads) {
      EXPECT_FALSE(img.GetLastError().empty()) << lie.what;
    }
  }
  // A colour table that runs past the end of the file.
  std::vector<uint8_t> table = MakeBmp(2, 2, 8, 0, {}, {});
  SetLe32(&table[46], 200);
  EXPECT_FALSE(img.Decode(table.data(), table.size(), FORMAT_BMP));
  EXPECT_NE(img.GetLastError().find("colour table"), std::string::npos) << img.GetLastError();
  // Large but within the limits: refused because the data is not there,
  // before anything is allocated.
  std::vector<uint8_t> big = MakeBmp(16000, 16000, 24, 0, {}, {1, 2, 3, 4});
  EXPECT_FALSE(img.Decode(big.data(), big.size(), FORMAT_BMP));
  // RLE without an end mark, and RLE in a top-down file.
  std::vector<uint8_t> rle = MakeBmp(4, 4, 8, 1, std::vector<uint8_t>(1024, 0), {4, 1, 0, 0, 4, 2});
  EXPECT_FALSE(img.Decode(rle.data(), rle.size(), FORMAT_BMP));
  std::vector<uint8_t> rleDown = MakeBmp(4, 4, 8, 1, std::vector<uint8_t>(1024, 0), {0, 1});
  SetLe32(&rleDown[22], uint32_t(-4));
  EXPECT_FALSE(img.Decode(rleDown.data(), rleDown.size(), FORMAT_BMP));
  // An absolute run that claims more bytes than are left.
  std::vector<uint8_t> rleCut = MakeBmp(4, 4, 8, 1, std::vector<uint8_t>(1024, 0), {0, 200, 1});
  EXPECT_FALSE(img.Decode(rleCut.data(), rleCut.size(), FORMAT_BMP));
  // A failed load leaves the previous picture alone.
  ASSERT_TRUE(img.Decode(d.data(), d.size(), FORMAT_BMP));
  std::vector<uint8_t> broken(d.begin(), d.begin() + 30);
  EXPECT_FALSE(img.Decode(broken.data(), broken.size(), FORMAT_BMP));
  EXPECT_EQ(img.GetWidth(), 13);
}
