// PNG codec: every colour type and depth written by ImageMagick and netpbm,
// decoded and compared with ImageMagick's own decode; our files read back
// by us and by ImageMagick/exiftool; hostile inputs.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/png_bands.h"
#include "imaging/codecs/png_internal.h"
#include "test_support.h"

using namespace testing_support;
namespace ts = testing_support;

namespace {

// A colour picture with a varying alpha channel, as a PAM file.
std::string MakeSourcePam(const TempDir& dir, int w = 53, int h = 37) {
  CImage img = MakePatternImage(w, h, 24);
  img.AlphaCreate();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) *img.AlphaGetPointer(x, y) = uint8_t((x * 255 / (w - 1)) ^ (y & 1 ? 0x80 : 0));
  std::string pam = dir / "src.pam";
  EXPECT_TRUE(WritePnm(img, pam, true));
  return pam;
}

std::string IdentifyVerbose(const std::string& path) {
  return RunOutput(std::string(ImIdentify()) + " -verbose " + Quote(path));
}

std::vector<uint8_t> MakeIccProfile(size_t size, const char* space) {
  std::vector<uint8_t> p(size, 0);
  p[0] = uint8_t(size >> 24), p[1] = uint8_t(size >> 16), p[2] = uint8_t(size >> 8),
  p[3] = uint8_t(size);
  std::memcpy(&p[8], "\x02\x10\x00\x00", 4);
  std::memcpy(&p[12], "mntr", 4);
  std::memcpy(&p[16], space, 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  std::memcpy(&p[68], "\x00\x00\xF6\xD6\x00\x01\x00\x00\x00\x00\xD3\x2D", 12);  // D50
  for (size_t i = 132; i < size; ++i) p[i] = uint8_t(i * 13 + 1);
  return p;
}

// Rewrites the IHDR size fields and fixes the chunk's CRC.
std::vector<uint8_t> WithIhdrSize(std::vector<uint8_t> d, uint32_t w, uint32_t h) {
  auto be = [&](size_t at, uint32_t v) { byte_order::SetBe32(&d[at], v); };
  be(16, w);
  be(20, h);
  be(29, uint32_t(crc32(0, d.data() + 12, 17)));
  return d;
}

// Palette (with its alpha), transparency, resolution, profile and codec
// option.
::testing::AssertionResult SameAttributes(const CImage& a, const CImage& b) {
  for (uint32_t i = 0; i < b.GetNumColors(); ++i)
    if (!(a.GetPalette()[i] == b.GetPalette()[i]))
      return ::testing::AssertionFailure() << "palette entry " << i << " differs";
  if (a.GetTransIndex() != b.GetTransIndex() || !(a.GetTransColor() == b.GetTransColor()) ||
      a.AlphaPaletteIsEnabled() != b.AlphaPaletteIsEnabled() || a.GetXDPI() != b.GetXDPI() ||
      a.GetYDPI() != b.GetYDPI() || a.GetIccProfile() != b.GetIccProfile() ||
      a.GetCodecOption(FORMAT_PNG) != b.GetCodecOption(FORMAT_PNG))
    return ::testing::AssertionFailure() << "attributes differ";
  return ::testing::AssertionSuccess();
}

// The codec's decode of a file against libpng's alone: the same outcome and
// message, and on success the same pixels, alpha, palette and attributes.
::testing::AssertionResult SameAsLibpng(const std::vector<uint8_t>& d) {
  CImage fast, slow;
  bool a = fast.Decode(d.data(), d.size(), FORMAT_PNG);
  bool b = png_internal::DecodeThroughLibpng(slow, d.data(), d.size());
  // Decode() puts the format's name before the codec's message.
  const std::string e = fast.GetLastError(), f = slow.GetLastError();
  if (a != b || e.size() < f.size() || e.compare(e.size() - f.size(), f.size(), f) != 0)
    return ::testing::AssertionFailure() << "outcome " << a << " '" << e << "' vs " << b << " '"
                                         << f << "'";
  if (!a) return ::testing::AssertionSuccess();
  ::testing::AssertionResult bits = SameBits(fast, slow);
  if (!bits) return bits;
  if (fast.AlphaIsValid() != slow.AlphaIsValid())
    return ::testing::AssertionFailure() << "alpha plane present in one only";
  for (int y = 0; fast.AlphaIsValid() && y < fast.GetHeight(); ++y)
    if (std::memcmp(fast.AlphaGetPointer(0, y), slow.AlphaGetPointer(0, y), size_t(fast.GetWidth())))
      return ::testing::AssertionFailure() << "alpha row " << y << " differs";
  return SameAttributes(fast, slow);
}

// The file read in bands of the given height: when the band reader takes
// the file (*read), every band is the rows of the whole decode with its
// attributes, and the whole decode succeeds; a reader that gives up leaves
// the file to the whole decode.
::testing::AssertionResult BandsMatchWhole(const std::vector<uint8_t>& d, int rows,
                                           bool* read = nullptr) {
  if (read) *read = false;
  CPngBandReader reader;
  if (!reader.Open(d.data(), d.size())) return ::testing::AssertionSuccess();
  std::vector<CImage> bands;
  while (reader.RowsLeft() > 0) {
    bands.emplace_back();
    if (!reader.ReadBand(bands.back(), rows)) return ::testing::AssertionSuccess();
  }
  CImage whole;
  if (!whole.Decode(d.data(), d.size(), FORMAT_PNG))
    return ::testing::AssertionFailure() << "only the band reader reads the file";
  int y = 0;
  for (const CImage& band : bands) {
    const int h = whole.GetHeight();
    if (band.GetWidth() != whole.GetWidth() || band.GetBpp() != whole.GetBpp() ||
        band.AlphaIsValid() != whole.AlphaIsValid() || band.GetType() != whole.GetType())
      return ::testing::AssertionFailure() << "band at " << y << ": another kind of image";
    for (int r = 0; r < band.GetHeight(); ++r) {
      if (std::memcmp(band.TopRow(r), whole.TopRow(y + r),
                      (size_t(band.GetWidth()) * size_t(band.GetBpp()) + 7) / 8))
        return ::testing::AssertionFailure() << "row " << y + r << " differs";
      if (band.AlphaIsValid() && std::memcmp(band.AlphaGetPointer(0, band.GetHeight() - 1 - r),
                                             whole.AlphaGetPointer(0, h - 1 - y - r),
                                             size_t(band.GetWidth())))
        return ::testing::AssertionFailure() << "alpha row " << y + r << " differs";
    }
    ::testing::AssertionResult same = SameAttributes(band, whole);
    if (!same) return same << " (band at " << y << ")";
    if (reader.CodecOption() != whole.GetCodecOption(FORMAT_PNG))
      return ::testing::AssertionFailure() << "the reader's codec option differs";
    y += band.GetHeight();
  }
  if (read) *read = true;
  return ::testing::AssertionSuccess();
}

// Recomputes the CRC of every chunk, so that damage inside a chunk reaches
// the decoder instead of failing the CRC check.
void FixCrcs(std::vector<uint8_t>& d) {
  size_t at = 8;
  while (d.size() - at >= 12) {
    size_t len = size_t(d[at]) << 24 | size_t(d[at + 1]) << 16 | size_t(d[at + 2]) << 8 | d[at + 3];
    if (len > d.size() - at - 12) break;
    uint32_t c = uint32_t(crc32(0, d.data() + at + 4, uInt(len + 4)));
    for (int k = 0; k < 4; ++k) d[at + 8 + len + size_t(k)] = uint8_t(c >> (24 - 8 * k));
    at += len + 12;
  }
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> d;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    int c;
    while ((c = std::fgetc(f)) != EOF) d.push_back(uint8_t(c));
    std::fclose(f);
  }
  return d;
}

}  // namespace

// Each colour type and bit depth, as ImageMagick or pnmtopng write it,
// against ImageMagick's decode of the same file: exact colours and alpha
// (16-bit samples rounded to 8 bits).
TEST(PngDecode, EveryColourTypeAndDepth) {
  TempDir dir;
  std::string pam = MakeSourcePam(dir);
  // A 16-bit grey ramp exercises the 16 -> 8 rounding.
  std::string ramp = dir / "ramp16.png";
  ASSERT_EQ(ts::Run(ConvertCommand("-size 61x40 gradient:black-white -depth 16 " + Quote(ramp))), 0);
  // Few-colour pictures for pnmtopng, which picks the smallest palette depth.
  for (int n : {2, 4, 16, 200}) {
    std::string ppm = dir / ("c" + std::to_string(n) + ".ppm");
    ASSERT_EQ(ts::Run(ConvertCommand(Quote(pam) + " -alpha off +dither -colors " + std::to_string(n) +
                              " " + Quote("ppm:" + ppm))),
              0);
  }
  auto im = [&](const std::string& src, const std::string& args) {
    return ConvertCommand(Quote(src) + " " + args + " png:");
  };
  auto netpbm = [&](const std::string& src, const std::string& args) {
    return "pnmtopng " + args + " " + Quote(src) + " 2>/dev/null >";
  };
  const std::string grey = "-alpha off -colorspace Gray -define png:color-type=0 ";
  struct Case {
    const char* name;
    std::string command;  // the output path is appended
    int colorType, bitDepth, bpp;
    bool alphaPlane, interlaced;
  } cases[] = {
      {"grey1", im(pam, grey + "-threshold 50% -define png:bit-depth=1"), 0, 1, 1, false, false},
      {"grey2", im(pam, grey + "-define png:bit-depth=2"), 0, 2, 4, false, false},
      {"grey4", im(pam, grey + "-define png:bit-depth=4"), 0, 4, 4, false, false},
      {"grey8", im(pam, grey + "-define png:bit-depth=8"), 0, 8, 8, false, false},
      {"grey16", im(ramp, "-define png:color-type=0 -define png:bit-depth=16"), 0, 16, 8, false, false},
      {"grey2i", im(pam, grey + "-define png:bit-depth=2 -interlace PNG"), 0, 2, 4, false, true},
      {"pal1", netpbm(dir / "c2.ppm", ""), 3, 1, 1, false, false},
      {"pal2", netpbm(dir / "c4.ppm", ""), 3, 2, 4, false, false},
      {"pal4", netpbm(dir / "c16.ppm", ""), 3, 4, 4, false, false},
      {"pal8", netpbm(dir / "c200.ppm", ""), 3, 8, 8, false, false},
      {"pal2i", netpbm(dir / "c4.ppm", "-interlace"), 3, 2, 4, false, true},
      {"pal4i", netpbm(dir / "c16.ppm", "-interlace"), 3, 4, 4, false, true},
      {"rgb8", im(pam, "-alpha off -define png:color-type=2 -define png:bit-depth=8"), 2, 8, 24, false, false},
      {"rgb16", im(ramp, "-colorspace sRGB -fill '#ff8000' -draw 'rectangle 3,3 20,20' -define png:color-type=2 -define png:bit-depth=16"), 2, 16, 24, false, false},
      {"rgb8i", im(pam, "-alpha off -interlace PNG -define png:color-type=2"), 2, 8, 24, false, true},
      {"greya8", im(pam, "-colorspace Gray -define png:color-type=4 -define png:bit-depth=8"), 4, 8, 24, true, false},
      {"greya16", im(pam, "-colorspace Gray -depth 16 -define png:color-type=4 -define png:bit-depth=16"), 4, 16, 24, true, false},
      {"rgba8", im(pam, "-define png:color-type=6 -define png:bit-depth=8"), 6, 8, 24, true, false},
      {"rgba16", im(pam, "-depth 16 -define png:color-type=6 -define png:bit-depth=16"), 6, 16, 24, true, false},
      {"rgba8i", im(pam, "-interlace PNG -define png:color-type=6"), 6, 8, 24, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string png = dir / (std::string(c.name) + ".png");
    ASSERT_EQ(ts::Run(c.command + Quote(png)), 0);
    std::string id = IdentifyVerbose(png);
    ASSERT_NE(id.find("png:IHDR.color_type: " + std::to_string(c.colorType)), std::string::npos);
    ASSERT_NE(id.find("png:IHDR.bit_depth: " + std::to_string(c.bitDepth)), std::string::npos);
    CImage img;
    ASSERT_TRUE(img.Load(png)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), FORMAT_PNG);
    EXPECT_EQ(img.GetBpp(), c.bpp);
    EXPECT_EQ(img.AlphaIsValid(), c.alphaPlane);
    EXPECT_EQ(img.GetCodecOption(FORMAT_PNG), c.interlaced ? 1u : 0u);
    RefImage ref;
    ASSERT_TRUE(LoadWithImageMagick(png, ref, 0, "", 16));
    EXPECT_TRUE(MatchesRef(img, ref, true));
    EXPECT_TRUE(SameAsLibpng(ReadAll(png)));
    bool read = false;
    EXPECT_TRUE(BandsMatchWhole(ReadAll(png), 7, &read));
    EXPECT_EQ(read, !c.interlaced && c.bitDepth >= 8);
  }
}

// Transparency chunks: palette alpha, a single transparent index, grey and
// RGB transparent colours (made by pnmtopng).
TEST(PngDecode, TransparencyChunks) {
  TempDir dir;
  std::string pam = MakeSourcePam(dir);
  // Palette with graded alpha: pnmtopng writes tRNS for colour/alpha pairs.
  std::string c40 = dir / "c40.ppm", mask = dir / "mask.pgm", palA = dir / "pala.png";
  ASSERT_EQ(ts::Run(ConvertCommand(Quote(pam) + " -alpha off +dither -colors 40 " + Quote("ppm:" + c40))), 0);
  ASSERT_EQ(ts::Run(ConvertCommand("-size 53x37 xc:white -fill gray50 -draw 'rectangle 0,0 20,36' -fill black -draw 'rectangle 30,0 40,36' " + Quote("pgm:" + mask))), 0);
  ASSERT_EQ(ts::Run("pnmtopng -alpha=" + Quote(mask) + " " + Quote(c40) + " > " + Quote(palA) + " 2>/dev/null"), 0);
  ASSERT_NE(IdentifyVerbose(palA).find("png:IHDR.color_type: 3"), std::string::npos);
  CImage a;
  ASSERT_TRUE(a.Load(palA)) << a.GetLastError();
  EXPECT_EQ(a.GetBpp(), 8);
  EXPECT_TRUE(a.AlphaPaletteIsEnabled());
  EXPECT_FALSE(a.AlphaIsValid());
  RefImage ref;
  ASSERT_TRUE(LoadWithImageMagick(palA, ref));
  EXPECT_TRUE(MatchesRef(a, ref, true));
  EXPECT_EQ(a.GetTransIndex(), -1);  // partly transparent entries too

  // One fully transparent entry: also the transparent index.
  std::string ppm = dir / "src.ppm";
  CImage four = MakePatternImage(30, 20, 4);
  ASSERT_TRUE(WritePnm(four, ppm));
  RGBQuad key = four.GetPixelColor(3, 5, false);
  char keyColour[64];
  std::snprintf(keyColour, sizeof keyColour, "=rgb:%02x/%02x/%02x", key.red, key.green, key.blue);
  std::string palT = dir / "palt.png";
  ASSERT_EQ(ts::Run("pnmtopng -transparent " + std::string(keyColour) + " " + Quote(ppm) + " > " + Quote(palT) + " 2>/dev/null"), 0);
  CImage t;
  ASSERT_TRUE(t.Load(palT)) << t.GetLastError();
  ASSERT_LE(t.GetBpp(), 8);
  ASSERT_GE(t.GetTransIndex(), 0);
  RGBQuad tc = t.GetTransColor();
  EXPECT_EQ(tc.red, key.red);
  EXPECT_EQ(tc.green, key.green);
  EXPECT_EQ(tc.blue, key.blue);
  ASSERT_TRUE(LoadWithImageMagick(palT, ref));
  EXPECT_TRUE(MatchesRef(t, ref, true));

  // Grey with a transparent grey level.
  std::string pgm = dir / "src.pgm";
  ASSERT_TRUE(WritePnm(MakePatternImage(300, 20, 24), dir / "grey24.ppm"));
  ASSERT_EQ(ts::Run(ConvertCommand(Quote(dir / "grey24.ppm") + " -colorspace Gray " + Quote("pgm:" + pgm))), 0);
  RefImage greyRef;
  ASSERT_TRUE(LoadWithImageMagick(pgm, greyRef));
  int level = greyRef.At(0, 0)[0];
  char greyColour[64];
  std::snprintf(greyColour, sizeof greyColour, "rgb:%02x/%02x/%02x", level, level, level);
  std::string greyT = dir / "greyt.png";
  ASSERT_EQ(ts::Run("pnmtopng -transparent " + std::string(greyColour) + " " + Quote(pgm) + " > " + Quote(greyT) + " 2>/dev/null"), 0);
  ASSERT_NE(IdentifyVerbose(greyT).find("png:IHDR.color_type: 0"), std::string::npos);
  CImage g;
  ASSERT_TRUE(g.Load(greyT)) << g.GetLastError();
  EXPECT_EQ(g.GetBpp(), 8);
  EXPECT_EQ(g.GetTransIndex(), level);
  EXPECT_EQ(g.GetPixelColor(0, g.GetHeight() - 1).reserved, 0);
  ASSERT_TRUE(LoadWithImageMagick(greyT, ref));
  EXPECT_TRUE(MatchesRef(g, ref, true));

  // RGB with a transparent colour.
  std::string rgb = dir / "src24.ppm";
  ASSERT_TRUE(WritePnm(MakePatternImage(300, 20, 24), rgb));
  std::string rgbT = dir / "rgbt.png";
  ASSERT_EQ(ts::Run("pnmtopng -transparent =rgb:ff/ff/ff " + Quote(rgb) + " > " + Quote(rgbT) + " 2>/dev/null"), 0);
  CImage r;
  ASSERT_TRUE(r.Load(rgbT)) << r.GetLastError();
  EXPECT_EQ(r.GetBpp(), 24);
  EXPECT_GE(r.GetTransIndex(), 0);
  EXPECT_TRUE(r.GetTransColor() == (RGBQuad{255, 255, 255, 0}));
  ASSERT_TRUE(LoadWithImageMagick(rgbT, ref));
  EXPECT_TRUE(MatchesRef(r, ref, false));
  for (const std::string& f : {palA, palT, greyT, rgbT}) {
    EXPECT_TRUE(SameAsLibpng(ReadAll(f))) << f;
    EXPECT_TRUE(BandsMatchWhole(ReadAll(f), 6)) << f;
  }
}

TEST(PngDecode, ResolutionAndProfile) {
  TempDir dir;
  std::string png = dir / "a.png";
  ASSERT_EQ(ts::Run(ConvertCommand("-size 20x10 gradient:red-blue -units PixelsPerInch -density 300x72 " + Quote(png))), 0);
  std::vector<uint8_t> icc = MakeIccProfile(5000, "RGB ");
  std::string iccPath = dir / "p.icc";
  WriteFileBytes(iccPath, icc.data(), icc.size());
  ASSERT_EQ(ts::Run("exiftool -q -overwrite_original " + Quote("-ICC_Profile<=" + iccPath) + " " + Quote(png)), 0);
  CImage img;
  ASSERT_TRUE(img.Load(png)) << img.GetLastError();
  EXPECT_EQ(img.GetXDPI(), 300);
  EXPECT_EQ(img.GetYDPI(), 72);
  EXPECT_EQ(img.GetIccProfile(), icc);
  bool read = false;
  EXPECT_TRUE(BandsMatchWhole(ReadAll(png), 3, &read));
  EXPECT_TRUE(read);
}

// Our files, read back by us and by ImageMagick.
// Rows that the Paeth predictor foretells, with small samples so that its
// ties (two of the three distances equal) come up often: a writer that
// breaks them otherwise than the PNG rules gives other pixels back.
CImage PaethTieImage(int width, int height, int bpp) {
  CImage img;
  img.Create(width, height, bpp);  // 8 bits: a grey palette
  const int n = bpp / 8;
  uint32_t seed = 12345;
  auto rnd = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int y = 0; y < height; ++y) {
    uint8_t* row = img.TopRow(y);
    const uint8_t* up = y > 0 ? img.TopRow(y - 1) : nullptr;
    for (int i = 0; i < width * n; ++i) {
      if (!up || i < n) {
        row[i] = uint8_t(rnd() % 6);
        continue;
      }
      const int a = row[i - n], b = up[i], c = up[i - n];
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      row[i] = uint8_t(predicted + (rnd() % 5 == 0 ? int(rnd() % 3) : 0));
    }
  }
  return img;
}

// Groups of rows that the writer packs each its own way: noise (which
// packs to more than 1 MiB, so the data spans several chunks), flat colour
// with a few edges, and noise again.
CImage MixedImage(int width, int height) {
  CImage img;
  img.Create(width, height, 24);
  std::mt19937 rnd(7);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = img.TopRow(y);
    const bool flat = y >= height / 4 && y < height / 2;
    for (int i = 0; i < width * 3; ++i)
      row[i] = flat ? uint8_t((i / 3) % 97 < 90 ? 200 : 20 + i % 3) : uint8_t(rnd());
  }
  return img;
}

TEST(PngEncode, RoundTripsEveryKindOfImage) {
  TempDir dir;
  struct Case {
    const char* name;
    CImage img;
    int colorType;  // as identify reports the file
    int bitDepth;
  };
  std::vector<Case> cases;
  {
    CImage p = MakePatternImage(45, 31, 1);
    p.SetPaletteColor(0, 200, 10, 30);
    p.SetPaletteColor(1, 5, 90, 250);
    cases.push_back({"pal1", std::move(p), 3, 1});
  }
  cases.push_back({"pal4", MakePatternImage(45, 31, 4), 3, 4});
  cases.push_back({"pal8", MakePatternImage(45, 31, 8), 3, 8});
  cases.push_back({"grey1", MakePatternImage(45, 31, 1, true), 0, 1});
  cases.push_back({"grey4", MakePatternImage(45, 31, 4, true), 0, 4});
  cases.push_back({"grey8", MakePatternImage(45, 31, 8, true), 0, 8});
  cases.push_back({"rgb", MakePatternImage(45, 31, 24), 2, 8});
  cases.push_back({"paeth-grey", PaethTieImage(64, 40, 8), 0, 8});
  cases.push_back({"paeth-rgb", PaethTieImage(64, 40, 24), 2, 8});
  cases.push_back({"mixed", MixedImage(900, 600), 2, 8});
  {
    CImage a = MakePatternImage(45, 31, 24);
    a.AlphaCreate();
    for (int i = 0; i < 45 * 31; ++i) a.AlphaGetPointer()[i] = uint8_t(i * 7);
    cases.push_back({"rgba", std::move(a), 6, 8});
  }
  {
    CImage p = MakePatternImage(45, 31, 8);
    for (int i = 0; i < 256; ++i) p.GetPalette()[i].reserved = uint8_t(255 - i / 2);
    p.AlphaPaletteEnable(true);
    cases.push_back({"palalpha", std::move(p), 3, 8});
  }
  {
    CImage p = MakePatternImage(45, 31, 4);
    p.SetTransIndex(15);
    cases.push_back({"paltrans", std::move(p), 3, 4});
  }
  {
    CImage g = MakePatternImage(45, 31, 8, true);
    g.SetTransIndex(255);
    cases.push_back({"greytrans", std::move(g), 0, 8});
  }
  {
    CImage p = MakePatternImage(45, 31, 4);
    p.AlphaCreate();
    for (int i = 0; i < 45 * 31; ++i) p.AlphaGetPointer()[i] = uint8_t(i);
    cases.push_back({"palplane", std::move(p), 6, 8});
  }
  for (Case& c : cases) {
    for (int interlace = 0; interlace <= 1; ++interlace) {
      SCOPED_TRACE(std::string(c.name) + (interlace ? " interlaced" : ""));
      c.img.SetCodecOption(uint32_t(interlace), FORMAT_PNG);
      std::string path = dir / (std::string(c.name) + std::to_string(interlace) + ".png");
      ASSERT_TRUE(c.img.Save(path, FORMAT_PNG)) << c.img.GetLastError();
      CImage back;
      ASSERT_TRUE(back.Load(path)) << back.GetLastError();
      EXPECT_TRUE(SameColours(back, c.img, true));
      EXPECT_EQ(back.GetTransIndex() >= 0, c.img.GetTransIndex() >= 0);
      EXPECT_EQ(back.GetCodecOption(FORMAT_PNG), uint32_t(interlace));
      RefImage ref;
      ASSERT_TRUE(LoadWithImageMagick(path, ref));
      EXPECT_TRUE(MatchesRef(c.img, ref, true));
      std::string id = IdentifyVerbose(path);
      EXPECT_NE(id.find("png:IHDR.color_type: " + std::to_string(c.colorType)), std::string::npos);
      EXPECT_NE(id.find("png:IHDR.bit_depth: " + std::to_string(c.bitDepth)), std::string::npos);
      EXPECT_NE(id.find(interlace ? "Interlace: PNG" : "Interlace: None"), std::string::npos);
    }
  }
  // A transparent colour on a true-colour image.
  CImage t = MakePatternImage(20, 20, 24);
  t.SetTransColor(RGBQuad{255, 255, 255, 0});
  t.SetTransIndex(0);
  std::string path = dir / "rgbtrans.png";
  ASSERT_TRUE(t.Save(path, FORMAT_PNG));
  RefImage ref;
  ASSERT_TRUE(LoadWithImageMagick(path, ref));
  EXPECT_EQ(ref.At(0, 19)[3], 0);   // the white diagonal is transparent
  EXPECT_EQ(ref.At(1, 19)[3], 255);
}

// A picture written in bands of any height is the file written whole, with
// the same chunks.
TEST(PngEncode, BandsGiveTheWholePicturesBytes) {
  CImage img = MixedImage(900, 600);
  img.SetIccProfile(MakeIccProfile(1000, "RGB "));
  std::vector<uint8_t> whole;
  ASSERT_TRUE(img.Encode(whole, FORMAT_PNG)) << img.GetLastError();
  size_t idat = 0;
  for (size_t at = 8; at + 12 <= whole.size();
       at += 12 + byte_order::GetBe32(whole.data() + at))
    idat += std::memcmp(whole.data() + at + 4, "IDAT", 4) == 0;
  EXPECT_GE(idat, 2u);
  for (int rows : {1, 50, 64, 599}) {
    SCOPED_TRACE(rows);
    std::vector<uint8_t> banded{'x'};  // the file is appended
    CPngBandWriter writer;
    CImage band;
    for (int y = 0; y < img.GetHeight(); y += rows) {
      band.Create(img.GetWidth(), std::min(rows, img.GetHeight() - y), 24);
      band.SetIccProfile(img.GetIccProfile());
      for (int r = 0; r < band.GetHeight(); ++r)
        std::memcpy(band.TopRow(r), img.TopRow(y + r), size_t(img.GetWidth()) * 3);
      ASSERT_TRUE(y == 0 ? writer.Begin(band, img.GetHeight(), banded) && writer.AddBand(band)
                         : writer.AddBand(band))
          << writer.Error();
    }
    ASSERT_TRUE(writer.Finish()) << writer.Error();
    EXPECT_TRUE(std::equal(banded.begin() + 1, banded.end(), whole.begin(), whole.end()));
  }
  // Too few rows: the output is left as it was.
  std::vector<uint8_t> cut{'x'};
  CPngBandWriter writer;
  ASSERT_TRUE(writer.Begin(img, img.GetHeight() + 1, cut) && writer.AddBand(img));
  EXPECT_FALSE(writer.Finish());
  EXPECT_EQ(cut, std::vector<uint8_t>{'x'});
}

TEST(PngEncode, ResolutionAndProfile) {
  TempDir dir;
  CImage img = MakePatternImage(30, 20, 24);
  img.SetXDPI(300);
  img.SetYDPI(150);
  std::vector<uint8_t> icc = MakeIccProfile(3000, "RGB ");
  img.SetIccProfile(icc);
  std::string path = dir / "a.png";
  ASSERT_TRUE(img.Save(path, FORMAT_PNG));
  std::string id = IdentifyVerbose(path);
  EXPECT_NE(id.find("png:pHYs: x_res=11811, y_res=5906, units=1"), std::string::npos) << id;
  std::string out = dir / "out.icc";
  ASSERT_EQ(ts::Run("exiftool -q -b -ICC_Profile " + Quote(path) + " 2>/dev/null > " + Quote(out)), 0);
  EXPECT_EQ(ReadFileBytes(out), icc);
  CImage back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.GetXDPI(), 300);
  EXPECT_EQ(back.GetYDPI(), 150);
  EXPECT_EQ(back.GetIccProfile(), icc);

  // A grey-ramp image with an RGB profile keeps the profile (written as a
  // palette PNG, since a grey PNG cannot carry an RGB profile).
  CImage g = MakePatternImage(30, 20, 8, true);
  g.SetIccProfile(icc);
  ASSERT_TRUE(g.Save(path, FORMAT_PNG));
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.GetIccProfile(), icc);
  EXPECT_TRUE(SameColours(back, g));
  // A profile libpng finds unusable is left out; the picture is written.
  CImage bad = MakePatternImage(30, 20, 24);
  bad.SetIccProfile(std::vector<uint8_t>(200, 0x55));
  ASSERT_TRUE(bad.Save(path, FORMAT_PNG)) << bad.GetLastError();
  ASSERT_TRUE(back.Load(path));
  EXPECT_TRUE(SameColours(back, bad));
}

TEST(PngHostile, TruncatedLyingAndGarbage) {
  CImage img = MakePatternImage(200, 150, 24);
  std::vector<uint8_t> file;
  ASSERT_TRUE(img.Encode(file, FORMAT_PNG));
  for (size_t cut : {size_t(8), size_t(20), size_t(33), size_t(60), file.size() / 2,
                     file.size() - 20}) {
    CImage t;
    EXPECT_FALSE(t.Decode(file.data(), cut, FORMAT_PNG)) << cut;
    EXPECT_FALSE(t.GetLastError().empty());
    EXPECT_TRUE(SameAsLibpng(std::vector<uint8_t>(file.begin(), file.begin() + long(cut))));
    EXPECT_TRUE(BandsMatchWhole(std::vector<uint8_t>(file.begin(), file.begin() + long(cut)), 16));
  }
  {
    // The end of the image data: a wrong checksum, data after the stream,
    // a damaged IDAT chunk after it.
    const size_t idat = 8 + 25 + 21;  // after IHDR and pHYs
    ASSERT_EQ(std::memcmp(file.data() + idat + 4, "IDAT", 4), 0);
    const size_t end = idat + 8 + byte_order::GetBe32(file.data() + idat);
    std::vector<uint8_t> adler = file, junk = file, more = file;
    adler[end - 1] ^= 0x40;
    FixCrcs(adler);
    junk.insert(junk.begin() + long(end), 0x55);
    byte_order::SetBe32(junk.data() + idat, byte_order::GetBe32(junk.data() + idat) + 1);
    FixCrcs(junk);
    const uint8_t extra[] = {0, 0, 0, 1, 'I', 'D', 'A', 'T', 0x55, 1, 2, 3, 4};
    more.insert(more.begin() + long(end + 4), extra, extra + sizeof extra);
    for (const auto* d : {&adler, &junk, &more}) EXPECT_TRUE(BandsMatchWhole(*d, 64));
  }
  {
    // Only IEND missing: every pixel is there.
    CImage t;
    ASSERT_TRUE(t.Decode(file.data(), file.size() - 12, FORMAT_PNG)) << t.GetLastError();
    EXPECT_TRUE(SameColours(t, img));
  }
  {
    std::vector<uint8_t> huge = WithIhdrSize(file, 100000, 100000);
    CImage t;
    EXPECT_FALSE(t.Decode(huge.data(), huge.size()));
    EXPECT_NE(t.GetLastError().find("limit"), std::string::npos) << t.GetLastError();
    EXPECT_TRUE(BandsMatchWhole(huge, 16));
    // Within the limit but the data runs out: a clean failure.
    std::vector<uint8_t> big = WithIhdrSize(file, 4000, 4000);
    EXPECT_FALSE(t.Decode(big.data(), big.size()));
    std::vector<uint8_t> zero = WithIhdrSize(file, 0, 10);
    EXPECT_FALSE(t.Decode(zero.data(), zero.size()));
    // A wrong CRC on IHDR.
    std::vector<uint8_t> crc = file;
    crc[29] ^= 1;
    EXPECT_FALSE(t.Decode(crc.data(), crc.size()));
  }
  {
    std::vector<uint8_t> g(file.begin(), file.begin() + 8);
    for (int i = 0; i < 3000; ++i) g.push_back(uint8_t(i * 37 + 11));
    CImage t;
    EXPECT_FALSE(t.Decode(g.data(), g.size()));
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> d = file;
      for (int k = 0; k < 8; ++k) d[8 + rng() % (d.size() - 8)] ^= uint8_t(1 + rng() % 255);
      if (round % 2) FixCrcs(d);
      CImage u;
      u.Decode(d.data(), d.size(), FORMAT_PNG);  // either outcome, no crash
      EXPECT_TRUE(SameAsLibpng(d)) << round;
      EXPECT_TRUE(BandsMatchWhole(d, 16)) << round;
    }
  }
}
