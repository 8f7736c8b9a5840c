// TIFF codec: files from libtiff's tools, netpbm and ImageMagick decoded and
// compared with ImageMagick's decode; our files checked with tiffinfo,
// ImageMagick and exiftool; frames; hostile inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "test_support.h"

using namespace testing_support;
namespace ts = testing_support;

namespace {

std::string TiffInfo(const std::string& path) { return RunOutput("tiffinfo " + Quote(path) + " 2>&1"); }

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

std::vector<uint8_t> MakeIccProfile(size_t size) {
  std::vector<uint8_t> p(size, 0);
  p[0] = uint8_t(size >> 24), p[1] = uint8_t(size >> 16), p[2] = uint8_t(size >> 8),
  p[3] = uint8_t(size);
  std::memcpy(&p[8], "\x02\x10\x00\x00", 4);
  std::memcpy(&p[12], "mntr", 4);
  std::memcpy(&p[16], "RGB ", 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  std::memcpy(&p[68], "\x00\x00\xF6\xD6\x00\x01\x00\x00\x00\x00\xD3\x2D", 12);  // D50
  for (size_t i = 132; i < size; ++i) p[i] = uint8_t(i * 29 + 3);
  return p;
}

// Little-endian TIFF: sets a SHORT/LONG tag of the first directory to a
// LONG value.
bool SetFirstIfdLong(std::vector<uint8_t>& d, uint16_t tag, uint32_t value) {
  auto rd16 = [&](size_t at) { return byte_order::GetLe16(&d[at]); };
  auto rd32 = [&](size_t at) { return byte_order::GetLe32(&d[at]); };
  if (d.size() < 8 || d[0] != 'I') return false;
  size_t ifd = rd32(4);
  if (ifd + 2 > d.size()) return false;
  uint16_t n = rd16(ifd);
  for (uint16_t i = 0; i < n; ++i) {
    size_t e = ifd + 2 + size_t(i) * 12;
    if (e + 12 > d.size()) return false;
    if (rd16(e) == tag) {
      d[e + 2] = 4, d[e + 3] = 0;  // LONG
      d[e + 4] = 1, d[e + 5] = d[e + 6] = d[e + 7] = 0;
      for (int k = 0; k < 4; ++k) d[e + 8 + k] = uint8_t(value >> (8 * k));
      return true;
    }
  }
  return false;
}

}  // namespace

// 24-bit pictures in strips and tiles with every general compression, made
// by ppm2tiff and tiffcp: lossless ones equal the source exactly.
TEST(TiffDecode, StripsAndTilesWithEachCompression) {
  TempDir dir;
  CImage src = MakePatternImage(75, 53, 24);
  std::string ppm = dir / "src.ppm";
  ASSERT_TRUE(WritePnm(src, ppm));
  std::string base = dir / "base.tif";
  ASSERT_EQ(ts::Run("ppm2tiff -c none " + Quote(ppm) + " " + Quote(base)), 0);
  struct Case {
    const char* name;
    std::string command;
    uint32_t compression;
    bool lossless;
  } cases[] = {
      {"none", "ppm2tiff -c none -r 7 " + Quote(ppm), 1, true},
      {"lzw", "ppm2tiff -c lzw " + Quote(ppm), 5, true},
      {"lzwpred", "ppm2tiff -c lzw:2 -r 5 " + Quote(ppm), 5, true},
      {"packbits", "ppm2tiff -c packbits " + Quote(ppm), 32773, true},
      {"deflate", "ppm2tiff -c zip " + Quote(ppm), 8, true},
      {"jpegycc", "ppm2tiff -c jpeg:95 -r 16 " + Quote(ppm), 7, false},
      {"jpegrgb", "tiffcp -c jpeg:r:95 -r 16 " + Quote(base), 7, false},
      {"tiles", "tiffcp -t -w 32 -l 16 -c none " + Quote(base), 1, true},
      {"tileslzw", "tiffcp -t -w 16 -l 48 -c lzw:2 " + Quote(base), 5, true},
      {"tileszip", "tiffcp -t -w 64 -l 64 -c zip " + Quote(base), 8, true},
      {"tilesjpeg", "tiffcp -t -w 32 -l 32 -c jpeg:90 " + Quote(base), 7, false},
      {"bigendian", "tiffcp -B -c lzw " + Quote(base), 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / (std::string(c.name) + ".tif");
    ASSERT_EQ(ts::Run(c.command + " " + Quote(path)), 0);
    CImage img = LoadOk(path);
    EXPECT_EQ(img.GetType(), FORMAT_TIF);
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(img.GetCodecOption(FORMAT_TIF), c.compression);
    EXPECT_EQ(img.GetNumFrames(), 1);
    if (c.lossless) {
      EXPECT_TRUE(SameColours(img, src));
    } else {
      RefImage ref;
      ASSERT_TRUE(LoadWithImageMagick(path, ref, 0, "", 16));
      EXPECT_GE(PsnrToRef(img, ref), 40.0);
      EXPECT_GE(Psnr(img, src), 30.0);
    }
  }
}

// Depths, photometric kinds, palettes, alpha and fax compressions, against
// ImageMagick's decode.
TEST(TiffDecode, DepthsPalettesAlphaAndFax) {
  TempDir dir;
  CImage srcImg = MakePatternImage(61, 45, 24);
  std::string ppm = dir / "src.ppm";
  ASSERT_TRUE(WritePnm(srcImg, ppm));
  std::string pbm = dir / "src.pbm", pgm = dir / "src.pgm", c4 = dir / "c4.ppm";
  ASSERT_EQ(ts::Run(ConvertCommand(Quote(ppm) + " -colorspace Gray -threshold 50% " + Quote("pbm:" + pbm))), 0);
  ASSERT_EQ(ts::Run(ConvertCommand(Quote(ppm) + " -colorspace Gray " + Quote("pgm:" + pgm))), 0);
  ASSERT_EQ(ts::Run(ConvertCommand(Quote(ppm) + " +dither -colors 4 " + Quote("ppm:" + c4))), 0);
  // ImageMagick with the alpha channel of a gradient.
  std::string alphaSrc = dir / "alpha.png";
  ASSERT_EQ(ts::Run(ConvertCommand(Quote(ppm) + " \\( -size 61x45 gradient:white-black \\) -alpha off -compose CopyOpacity -composite " + Quote(alphaSrc))), 0);
  auto im = [&](const std::string& src, const std::string& args) {
    return ConvertCommand(Quote(src) + " " + args + " tiff:");
  };
  struct Case {
    const char* name;
    std::string command;  // output path appended directly
    const char* info;     // expected in tiffinfo
    int bpp;
    bool alpha;
    int tolerance;
  } cases[] = {
      {"bilevel", "ppm2tiff -c none " + Quote(pbm) + " ", "Bits/Sample: 1", 1, false, 0},
      {"g3", "ppm2tiff -c g3 " + Quote(pbm) + " ", "CCITT Group 3", 1, false, 0},
      {"g3_2d", "tiffcp -c g3:2d:fill " + Quote(dir / "bilevel.tif") + " ", "CCITT Group 3", 1, false, 0},
      {"g4", "ppm2tiff -c g4 " + Quote(pbm) + " ", "CCITT Group 4", 1, false, 0},
      {"faxim", im(pbm, "-compress Group4"), "min-is-white", 1, false, 0},
      {"pal1", im(ppm, "-colors 2 -type Palette -depth 1"), "palette color", 1, false, 0},
      {"pal2", "pamtotiff -indexbits=2 " + Quote(c4) + " >", "Bits/Sample: 2", 4, false, 0},
      {"pal4", im(ppm, "-colors 16 -type Palette -depth 4 -compress LZW"), "Bits/Sample: 4", 4, false, 0},
      {"pal8", im(ppm, "-colors 200 -type Palette -depth 8 -compress RLE"), "palette color", 8, false, 0},
      {"grey2", im(pgm, "-depth 2"), "Bits/Sample: 2", 4, false, 0},
      {"grey4", im(pgm, "-depth 4"), "Bits/Sample: 4", 4, false, 0},
      {"grey8", im(pgm, "-depth 8 -compress Zip"), "min-is-black", 8, false, 0},
      {"grey16", im(pgm, "-evaluate multiply 1.003 -depth 16"), "Bits/Sample: 16", 8, false, 0},
      {"miniswhite", "pamtotiff -miniswhite " + Quote(pgm) + " >", "min-is-white", 8, false, 0},
      {"rgb16", im(ppm, "-evaluate multiply 0.997 -depth 16"), "Bits/Sample: 16", 24, false, 0},
      {"rgba8", im(alphaSrc, "-depth 8"), "unassoc-alpha", 24, true, 0},
      {"rgba16", im(alphaSrc, "-depth 16 -compress LZW"), "unassoc-alpha", 24, true, 0},
      {"rgbassoc", im(alphaSrc, "-depth 8 -define tiff:alpha=associated"), "assoc-alpha", 24, true, 3},
      {"greyalpha", im(alphaSrc, "-colorspace Gray -depth 8"), "Samples/Pixel: 2", 24, true, 0},
      {"separate", "tiffcp -p separate " + Quote(dir / "rgba8.tif") + " ", "separate", 24, true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / (std::string(c.name) + ".tif");
    ASSERT_EQ(ts::Run(c.command + Quote(path)), 0);
    ASSERT_TRUE(Has(TiffInfo(path), c.info)) << TiffInfo(path);
    CImage img = LoadOk(path);
    EXPECT_EQ(img.GetBpp(), c.bpp);
    EXPECT_EQ(img.AlphaIsValid(), c.alpha);
    RefImage ref;
    ASSERT_TRUE(LoadWithImageMagick(path, ref, 0, "", 16));
    if (c.tolerance == 0) {
      EXPECT_TRUE(MatchesRef(img, ref, true));
    } else {
      // Premultiplied storage loses colour precision where alpha is low:
      // compare the opaque-enough part closely.
      int bad = 0;
      for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
          RGBQuad p = img.GetPixelColor(x, img.GetHeight() - 1 - y, true);
          const uint8_t* r = ref.At(x, y);
          if (std::abs(p.reserved - r[3]) > 1) ++bad;
          if (r[3] >= 64 && (std::abs(p.red - r[0]) > c.tolerance ||
                             std::abs(p.green - r[1]) > c.tolerance ||
                             std::abs(p.blue - r[2]) > c.tolerance))
            ++bad;
        }
      EXPECT_EQ(bad, 0);
    }
  }
  // CMYK (separated) through libtiff's RGBA reader.
  std::string cmyk = dir / "cmyk.tif";
  ASSERT_EQ(ts::Run(ConvertCommand(Quote(ppm) + " -colorspace CMYK -depth 8 " + Quote(cmyk))), 0);
  CImage img = LoadOk(cmyk);
  EXPECT_EQ(img.GetBpp(), 24);
  RefImage ref;
  ASSERT_TRUE(LoadWithImageMagick(cmyk, ref, 0, "-colorspace sRGB"));
  EXPECT_GE(PsnrToRef(img, ref), 40.0);
}

TEST(TiffDecode, FramesResolutionAndProfile) {
  TempDir dir;
  std::string a = dir / "a.tif", b = dir / "b.tif", c = dir / "c.tif", multi = dir / "multi.tif";
  ASSERT_EQ(ts::Run(ConvertCommand("-size 30x20 xc:red -units PixelsPerCentimeter -density 40 " + Quote(a))), 0);
  ASSERT_EQ(ts::Run(ConvertCommand("-size 40x10 xc:lime -type TrueColor " + Quote(b))), 0);
  ASSERT_EQ(ts::Run(ConvertCommand("-size 5x7 xc:blue -units PixelsPerInch -density 300x200 -type TrueColor " + Quote(c))), 0);
  ASSERT_EQ(ts::Run("tiffcp " + Quote(a) + " " + Quote(b) + " " + Quote(c) + " " + Quote(multi)), 0);
  CImage f0 = LoadOk(multi, 0), f1 = LoadOk(multi, 1), f2 = LoadOk(multi, 2);
  EXPECT_EQ(f0.GetNumFrames(), 3);
  EXPECT_EQ(f2.GetNumFrames(), 3);
  EXPECT_EQ(f0.GetWidth(), 30);
  EXPECT_EQ(f1.GetWidth(), 40);
  EXPECT_EQ(f2.GetWidth(), 5);
  EXPECT_EQ(f2.GetHeight(), 7);
  EXPECT_TRUE(f1.GetPixelColor(3, 3) == (RGBQuad{0, 255, 0, 255}));
  EXPECT_TRUE(f2.GetPixelColor(1, 1) == (RGBQuad{255, 0, 0, 255}));
  EXPECT_EQ(f0.GetXDPI(), 102);  // 40 per cm
  EXPECT_EQ(f2.GetXDPI(), 300);
  EXPECT_EQ(f2.GetYDPI(), 200);
  CImage none;
  none.SetFrame(3);
  EXPECT_FALSE(none.Load(multi));
  EXPECT_NE(none.GetLastError().find("frame"), std::string::npos);

  // The Orientation tag does not move pixels: rows come as stored, on the
  // direct path and through libtiff's RGBA reader (planar file) alike.
  CImage pattern = MakePatternImage(33, 21, 24);
  ASSERT_TRUE(WritePnm(pattern, dir / "o.ppm"));
  ASSERT_EQ(ts::Run("ppm2tiff -c lzw " + Quote(dir / "o.ppm") + " " + Quote(dir / "o.tif")), 0);
  ASSERT_EQ(ts::Run("tiffcp -p separate " + Quote(dir / "o.tif") + " " + Quote(dir / "os.tif")), 0);
  for (const char* name : {"o.tif", "os.tif"})
    for (const char* orientation : {"3", "4", "6"}) {
      SCOPED_TRACE(std::string(name) + " orientation " + orientation);
      ASSERT_EQ(ts::Run("tiffset -s Orientation " + std::string(orientation) + " " + Quote(dir / name)), 0);
      EXPECT_TRUE(SameColours(LoadOk(dir / name), pattern));
    }

  std::vector<uint8_t> icc = MakeIccProfile(4000);
  std::string iccPath = dir / "p.icc";
  WriteFileBytes(iccPath, icc.data(), icc.size());
  ASSERT_EQ(ts::Run("exiftool -q -overwrite_original " + Quote("-ICC_Profile<=" + iccPath) + " " + Quote(c)), 0);
  EXPECT_EQ(LoadOk(c).GetIccProfile(), icc);
}

// Every compression value the TIFF writer is given: tiffinfo names it, and
// ImageMagick reads what we read.
TEST(TiffEncode, EveryCompressionValue) {
  TempDir dir;
  CImage img = MakePatternImage(97, 61, 24);
  img.SetJpegQuality(92);
  struct Case {
    uint32_t option;
    const char* scheme;
    int bpp;  // as read back
  } cases[] = {
      {0, "Compression Scheme: None", 24},
      {1, "Compression Scheme: None", 24},
      {2, "Compression Scheme: CCITT RLE", 1},
      {3, "Compression Scheme: CCITT Group 3", 1},
      {4, "Compression Scheme: CCITT Group 4", 1},
      {5, "Compression Scheme: LZW", 24},
      {7, "Compression Scheme: JPEG", 24},
      {8, "Compression Scheme: AdobeDeflate", 24},
      {32773, "Compression Scheme: PackBits", 24},
      {12345, "Compression Scheme: None", 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    img.SetCodecOption(c.option, FORMAT_TIF);
    std::string path = dir / ("c" + std::to_string(c.option) + ".tif");
    ASSERT_TRUE(img.Save(path, FORMAT_TIF)) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), 24);  // the caller's image is not reduced
    std::string info = TiffInfo(path);
    EXPECT_TRUE(Has(info, c.scheme)) << info;
    CImage back = LoadOk(path);
    EXPECT_EQ(back.GetBpp(), c.bpp);
    RefImage ref;
    ASSERT_TRUE(LoadWithImageMagick(path, ref, 0, "", 16));
    if (c.option == 7) {
      EXPECT_TRUE(Has(info, "YCbCr"));
      EXPECT_GE(PsnrToRef(back, ref), 40.0);
      EXPECT_GE(Psnr(back, img), 30.0);
    } else {
      EXPECT_TRUE(MatchesRef(back, ref, true));
      if (c.bpp == 24) {
        EXPECT_TRUE(SameColours(back, img));
      }
    }
    if (c.bpp == 1) {
      EXPECT_TRUE(Has(info, "Bits/Sample: 1"));
      // Error diffusion keeps the average brightness of the picture.
      double sumIn = 0, sumOut = 0;
      for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 97; ++x) {
          RGBQuad p = img.GetPixelColor(x, y, false), q = back.GetPixelColor(x, y, false);
          sumIn += (p.red * 299 + p.green * 587 + p.blue * 114) / 1000.0;
          sumOut += q.red;
        }
      EXPECT_NEAR(sumIn / (97 * 61), sumOut / (97 * 61), 12.0);
    }
  }
  // Packing really happens.
  std::vector<uint8_t> none, lzw;
  img.SetCodecOption(1, FORMAT_TIF);
  ASSERT_TRUE(img.Encode(none, FORMAT_TIF));
  img.SetCodecOption(5, FORMAT_TIF);
  ASSERT_TRUE(img.Encode(lzw, FORMAT_TIF));
  EXPECT_LT(lzw.size(), none.size());
}

TEST(TiffEncode, PalettesGreyAlphaAndMetadata) {
  TempDir dir;
  struct Case {
    const char* name;
    CImage img;
    const char* info;
    int bpp;
    bool alpha;
  };
  std::vector<Case> cases;
  cases.push_back({"pal1", MakePatternImage(45, 31, 1), "min-is-black", 1, false});
  {
    CImage p = MakePatternImage(45, 31, 1);
    p.SetPaletteColor(0, 250, 240, 10);
    p.SetPaletteColor(1, 10, 20, 200);
    cases.push_back({"pal1c", std::move(p), "palette color", 1, false});
  }
  {
    // White for index 0: the photometric sense is inverted.
    CImage w = MakePatternImage(45, 31, 1);
    w.SetPaletteColor(0, 255, 255, 255);
    w.SetPaletteColor(1, 0, 0, 0);
    cases.push_back({"white1", std::move(w), "min-is-white", 1, false});
  }
  cases.push_back({"pal4", MakePatternImage(45, 31, 4), "palette color", 4, false});
  cases.push_back({"pal8", MakePatternImage(45, 31, 8), "palette color", 8, false});
  cases.push_back({"grey4", MakePatternImage(45, 31, 4, true), "min-is-black", 4, false});
  cases.push_back({"grey8", MakePatternImage(45, 31, 8, true), "min-is-black", 8, false});
  {
    CImage g = MakePatternImage(45, 31, 4, true);
    for (int i = 0; i < 16; ++i) g.SetPaletteColor(uint8_t(i), uint8_t(255 - i * 17), uint8_t(255 - i * 17), uint8_t(255 - i * 17));
    cases.push_back({"white4", std::move(g), "min-is-white", 4, false});
  }
  {
    CImage a = MakePatternImage(45, 31, 24);
    a.AlphaCreate();
    for (int i = 0; i < 45 * 31; ++i) a.AlphaGetPointer()[i] = uint8_t(i * 5);
    cases.push_back({"rgba", std::move(a), "unassoc-alpha", 24, true});
  }
  {
    CImage p = MakePatternImage(45, 31, 4);
    p.AlphaCreate();
    for (int i = 0; i < 45 * 31; ++i) p.AlphaGetPointer()[i] = uint8_t(i * 3);
    cases.push_back({"palalpha", std::move(p), "unassoc-alpha", 24, true});
  }
  for (Case& c : cases) {
    for (uint32_t comp : {1u, 5u, 32773u}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(comp));
      c.img.SetCodecOption(comp, FORMAT_TIF);
      std::string path = dir / (std::string(c.name) + std::to_string(comp) + ".tif");
      ASSERT_TRUE(c.img.Save(path, FORMAT_TIF)) << c.img.GetLastError();
      EXPECT_TRUE(Has(TiffInfo(path), c.info)) << TiffInfo(path);
      CImage back = LoadOk(path);
      EXPECT_EQ(back.GetBpp(), c.bpp);
      EXPECT_EQ(back.AlphaIsValid(), c.alpha);
      EXPECT_TRUE(SameColours(back, c.img, true));
      if (c.bpp <= 8) {
        EXPECT_TRUE(SameBits(back, c.img));
      }
      RefImage ref;
      std::string refPath = path;
      if (c.bpp == 4 && Has(c.info, "min-is-white")) {
        // ImageMagick 6 ignores min-is-white at 4 bits; libtiff's own
        // tiff2rgba (as GraphicsMagick and vips) reads it right.
        refPath = dir / "rgba.tif";
        ASSERT_EQ(ts::Run("tiff2rgba " + Quote(path) + " " + Quote(refPath)), 0);
      }
      ASSERT_TRUE(LoadWithImageMagick(refPath, ref, 0, "", 16));
      EXPECT_TRUE(MatchesRef(c.img, ref, true));
    }
  }
  // Fax compressions store min-is-white whichever way round the two
  // colours are: the bits are inverted for black on white.
  for (Case& c : cases) {
    if (c.bpp != 1 || c.img.GetPalette()[0].green % 255 != 0) continue;  // black and white only
    for (uint32_t comp : {2u, 3u, 4u}) {
      SCOPED_TRACE(std::string(c.name) + " fax " + std::to_string(comp));
      c.img.SetCodecOption(comp, FORMAT_TIF);
      std::string path = dir / (std::string(c.name) + "fax" + std::to_string(comp) + ".tif");
      ASSERT_TRUE(c.img.Save(path, FORMAT_TIF)) << c.img.GetLastError();
      EXPECT_TRUE(Has(TiffInfo(path), "min-is-white")) << TiffInfo(path);
      RefImage ref;
      ASSERT_TRUE(LoadWithImageMagick(path, ref, 0, "", 16));
      EXPECT_TRUE(MatchesRef(c.img, ref, true));
      EXPECT_TRUE(SameColours(LoadOk(path), c.img, true));
    }
  }

  // Grey JPEG from a grey palette; a colour palette becomes YCbCr.
  CImage grey = MakePatternImage(64, 48, 8, true);
  grey.SetCodecOption(7, FORMAT_TIF);
  std::string gpath = dir / "greyjpeg.tif";
  ASSERT_TRUE(grey.Save(gpath, FORMAT_TIF)) << grey.GetLastError();
  std::string info = TiffInfo(gpath);
  EXPECT_TRUE(Has(info, "min-is-black") && Has(info, "JPEG")) << info;
  EXPECT_GE(Psnr(LoadOk(gpath), grey), 35.0);
  CImage pal = MakePatternImage(64, 48, 4);
  pal.SetCodecOption(7, FORMAT_TIF);
  ASSERT_TRUE(pal.Save(gpath, FORMAT_TIF));
  EXPECT_TRUE(Has(TiffInfo(gpath), "YCbCr"));
  EXPECT_EQ(LoadOk(gpath).GetBpp(), 24);

  // Resolution and profile.
  CImage img = MakePatternImage(30, 20, 24);
  img.SetXDPI(300);
  img.SetYDPI(150);
  std::vector<uint8_t> icc = MakeIccProfile(3000);
  img.SetIccProfile(icc);
  img.SetCodecOption(5, FORMAT_TIF);
  std::string path = dir / "meta.tif";
  ASSERT_TRUE(img.Save(path, FORMAT_TIF));
  info = TiffInfo(path);
  EXPECT_TRUE(Has(info, "Resolution: 300, 150 pixels/inch")) << info;
  EXPECT_TRUE(Has(info, "ICC Profile: <present>, 3000 bytes")) << info;
  std::string out = dir / "out.icc";
  ASSERT_EQ(ts::Run("exiftool -q -b -ICC_Profile " + Quote(path) + " 2>/dev/null > " + Quote(out)), 0);
  EXPECT_EQ(ReadFileBytes(out), icc);
  CImage back = LoadOk(path);
  EXPECT_EQ(back.GetXDPI(), 300);
  EXPECT_EQ(back.GetYDPI(), 150);
  EXPECT_EQ(back.GetIccProfile(), icc);
}

// A colour profile survives JPEG -> PNG -> TIFF -> JPEG through our codecs.
TEST(IccRoundTrip, JpegPngTiffJpeg) {
  TempDir dir;
  std::string jpg = dir / "a.jpg";
  ASSERT_TRUE(WritePnm(MakePatternImage(40, 30, 24), dir / "a.ppm"));
  ASSERT_EQ(ts::Run("cjpeg -outfile " + Quote(jpg) + " " + Quote(dir / "a.ppm")), 0);
  std::vector<uint8_t> icc = MakeIccProfile(90000);  // two APP2 markers
  WriteFileBytes(dir / "p.icc", icc.data(), icc.size());
  ASSERT_EQ(ts::Run("exiftool -q -overwrite_original " + Quote("-ICC_Profile<=" + dir / "p.icc") + " " + Quote(jpg)), 0);
  CImage img = LoadOk(jpg);
  ASSERT_EQ(img.GetIccProfile(), icc);
  ASSERT_TRUE(img.Save(dir / "b.png", FORMAT_PNG));
  img = LoadOk(dir / "b.png");
  ASSERT_EQ(img.GetIccProfile(), icc);
  ASSERT_TRUE(img.Save(dir / "c.tif", FORMAT_TIF));
  img = LoadOk(dir / "c.tif");
  ASSERT_EQ(img.GetIccProfile(), icc);
  ASSERT_TRUE(img.Save(dir / "d.jpg", FORMAT_JPG));
  EXPECT_EQ(LoadOk(dir / "d.jpg").GetIccProfile(), icc);
  std::string out = dir / "out.icc";
  ASSERT_EQ(ts::Run("exiftool -q -b -ICC_Profile " + Quote(dir / "d.jpg") + " 2>/dev/null > " + Quote(out)), 0);
  EXPECT_EQ(ReadFileBytes(out), icc);
}

TEST(TiffHostile, TruncatedLyingAndGarbage) {
  CImage img = MakePatternImage(120, 90, 24);
  std::vector<uint8_t> plain, lzw, tiled;
  img.SetCodecOption(1, FORMAT_TIF);
  ASSERT_TRUE(img.Encode(plain, FORMAT_TIF));
  img.SetCodecOption(5, FORMAT_TIF);
  ASSERT_TRUE(img.Encode(lzw, FORMAT_TIF));
  for (auto* file : {&plain, &lzw}) {
    // Our files keep the directory at the end: any cut loses it or the data.
    for (size_t cut : {size_t(4), size_t(8), size_t(100), file->size() / 2, file->size() - 10}) {
      CImage t;
      EXPECT_FALSE(t.Decode(file->data(), cut, FORMAT_TIF)) << cut;
      EXPECT_FALSE(t.GetLastError().empty());
    }
  }
  {
    // Directory first (as tiffcp writes it), pixel data cut short.
    TempDir dir;
    ASSERT_TRUE(WritePnm(img, dir / "a.ppm"));
    ASSERT_EQ(ts::Run("ppm2tiff -c lzw " + Quote(dir / "a.ppm") + " " + Quote(dir / "a.tif")), 0);
    ASSERT_EQ(ts::Run("tiffcp -t -w 32 -l 32 " + Quote(dir / "a.tif") + " " + Quote(dir / "t.tif")), 0);
    for (const char* name : {"a.tif", "t.tif"}) {
      std::vector<uint8_t> d = ReadFileBytes(dir / name);
      CImage full;
      ASSERT_TRUE(full.Decode(d.data(), d.size()));
      for (size_t cut : {d.size() / 2, d.size() - 1}) {
        CImage t;
        if (t.Decode(d.data(), cut)) {
          // Only when the directory sits after the pixel data can a cut
          // leave a readable file; then it must be the whole picture.
          EXPECT_TRUE(SameColours(t, full));
        } else {
          EXPECT_FALSE(t.GetLastError().empty());
        }
      }
    }
  }
  {
    // Sizes far above the limit, and sizes the data cannot fill.
    std::vector<uint8_t> huge = plain;
    ASSERT_TRUE(SetFirstIfdLong(huge, 256, 100000));
    ASSERT_TRUE(SetFirstIfdLong(huge, 257, 100000));
    CImage t;
    EXPECT_FALSE(t.Decode(huge.data(), huge.size()));
    EXPECT_NE(t.GetLastError().find("limit"), std::string::npos) << t.GetLastError();
    std::vector<uint8_t> tall = lzw;
    ASSERT_TRUE(SetFirstIfdLong(tall, 257, 9000));
    EXPECT_FALSE(t.Decode(tall.data(), tall.size()));
    std::vector<uint8_t> zero = plain;
    ASSERT_TRUE(SetFirstIfdLong(zero, 256, 0));
    EXPECT_FALSE(t.Decode(zero.data(), zero.size()));
    // Samples per pixel out of reason.
    std::vector<uint8_t> spp = plain;
    ASSERT_TRUE(SetFirstIfdLong(spp, 277, 60000));
    EXPECT_FALSE(t.Decode(spp.data(), spp.size()));
  }
  {
    // A directory chain that loops back on itself.
    std::vector<uint8_t> loop = plain;
    uint32_t ifd = uint32_t(loop[4] | (loop[5] << 8) | (loop[6] << 16) | (uint32_t(loop[7]) << 24));
    uint16_t n = uint16_t(loop[ifd] | (loop[ifd + 1] << 8));
    size_t next = ifd + 2 + size_t(n) * 12;
    for (int k = 0; k < 4; ++k) loop[next + k] = uint8_t(ifd >> (8 * k));
    CImage t;
    t.SetFrame(0);
    t.Decode(loop.data(), loop.size());  // either outcome, no hang
  }
  {
    std::vector<uint8_t> g = {'I', 'I', 42, 0};
    for (int i = 0; i < 3000; ++i) g.push_back(uint8_t(i * 53 + 5));
    CImage t;
    EXPECT_FALSE(t.Decode(g.data(), g.size()));
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> d = round % 2 ? lzw : plain;
      // Hit the directory (at the end of our files) as well as the data.
      for (int k = 0; k < 6; ++k) {
        size_t at = k % 2 ? d.size() - 1 - rng() % 200 : rng() % d.size();
        d[at] ^= uint8_t(1 + rng() % 255);
      }
      CImage u;
      u.Decode(d.data(), d.size(), FORMAT_TIF);  // either outcome, no crash
    }
  }
}

// Encoders append to what the output already holds (the codec contract).
TEST(CodecOutput, EncodersAppend) {
  CImage img = MakePatternImage(20, 10, 24);
  img.SetCodecOption(5, FORMAT_TIF);
  for (int format : {FORMAT_JPG, FORMAT_PNG, FORMAT_TIF}) {
    SCOPED_TRACE(format);
    std::vector<uint8_t> alone, both = {1, 2, 3, 4, 5};
    ASSERT_TRUE(img.Encode(alone, format));
    ASSERT_TRUE(img.Encode(both, format));
    ASSERT_EQ(both.size(), alone.size() + 5);
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), both.begin() + 5));
  }
}
