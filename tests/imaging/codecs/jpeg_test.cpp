// JPEG codec: files from cjpeg and ImageMagick decoded and compared with
// djpeg/ImageMagick; our files checked with identify, djpeg and exiftool;
// hostile inputs.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/byte_order.h"
#include "imaging/codecs/jpeg.h"
#include "test_support.h"

using namespace testing_support;
namespace ts = testing_support;

namespace {

// A source picture of odd size (partial MCUs at the edges) as a PPM file.
std::string MakeSourcePpm(const TempDir& dir, int w = 101, int h = 67) {
  std::string ppm = dir / "src.ppm";
  CImage img = MakePatternImage(w, h, 24);
  EXPECT_TRUE(WritePnm(img, ppm));
  return ppm;
}

// A small synthetic ICC profile: a valid header and tag count, then filler
// bytes, so that byte-exact transport can be checked.
std::vector<uint8_t> MakeIccProfile(size_t size) {
  std::vector<uint8_t> p(size, 0);
  auto be32 = [&](size_t at, uint32_t v) { byte_order::SetBe32(&p[at], v); };
  be32(0, uint32_t(size));
  std::memcpy(&p[4], "lcms", 4);
  be32(8, 0x02100000);
  std::memcpy(&p[12], "mntr", 4);
  std::memcpy(&p[16], "RGB ", 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  for (size_t i = 132; i < size; ++i) p[i] = uint8_t(i * 31 + 7);
  return p;
}

}  // namespace

// cjpeg variants, each decoded by us and by djpeg (the same library's
// reference program): the pixels must agree.
TEST(JpegDecode, CjpegVariantsMatchDjpeg) {
  TempDir dir;
  std::string ppm = MakeSourcePpm(dir);
  struct Case {
    const char* name;
    const char* args;
    bool progressive;
    bool grey;
  } cases[] = {
      {"420", "-quality 92", false, false},
      {"422", "-quality 92 -sample 2x1", false, false},
      {"444", "-quality 92 -sample 1x1", false, false},
      {"411", "-quality 92 -sample 4x1", false, false},
      {"progressive", "-quality 85 -progressive", true, false},
      {"optimized", "-quality 85 -optimize", false, false},
      {"arithmetic", "-quality 85 -arithmetic", false, false},
      {"restart", "-quality 85 -restart 1", false, false},
      {"grey", "-quality 90 -grayscale", false, true},
      {"greyprog", "-quality 90 -grayscale -progressive", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string jpg = dir / (std::string(c.name) + ".jpg");
    std::string ref = dir / (std::string(c.name) + ".pnm");
    ASSERT_EQ(ts::Run(std::string("cjpeg ") + c.args + " -outfile " + Quote(jpg) + " " + Quote(ppm)),
              0);
    ASSERT_EQ(ts::Run("djpeg -pnm -outfile " + Quote(ref) + " " + Quote(jpg)), 0);
    RefImage r;
    ASSERT_TRUE(ParsePam(ReadFileBytes(ref), r));
    CImage img = LoadOk(jpg);
    EXPECT_EQ(img.GetType(), FORMAT_JPG);
    EXPECT_EQ(img.GetBpp(), c.grey ? 8 : 24);
    if (c.grey) {
      EXPECT_TRUE(img.GetPalette()[200] == (RGBQuad{200, 200, 200, 0}));
    }
    EXPECT_EQ(img.GetCodecOption(FORMAT_JPG), c.progressive ? 0x10u : 0x01u);
    EXPECT_TRUE(MatchesRef(img, r));
    EXPECT_GE(PsnrToRef(img, r), 40.0);
    EXPECT_EQ(img.GetNumFrames(), 1);
  }
}

// CMYK as ImageMagick writes it (Adobe marker, inverted values), and YCCK
// written through libjpeg directly, compared with ImageMagick's RGB.
TEST(JpegDecode, CmykAndYcckBecomeRgb) {
  TempDir dir;
  std::string ppm = MakeSourcePpm(dir, 64, 48);
  std::string cmyk = dir / "cmyk.jpg";
  ASSERT_EQ(ts::Run(std::string(ImConvert()) + " " + Quote(ppm) +
                " -colorspace CMYK -quality 95 -sampling-factor 1x1 " + Quote(cmyk)),
            0);
  ASSERT_NE(RunOutput(std::string(ImIdentify()) + " -verbose " + Quote(cmyk)).find("CMYK"),
            std::string::npos);
  CImage img = LoadOk(cmyk);
  EXPECT_EQ(img.GetBpp(), 24);
  RefImage ref;
  ASSERT_TRUE(LoadWithImageMagick(cmyk, ref, 0, "-colorspace sRGB"));
  EXPECT_GE(PsnrToRef(img, ref), 40.0);
  // And the picture is still the one we started from.
  RefImage orig;
  ASSERT_TRUE(LoadWithImageMagick(ppm, orig));
  EXPECT_GE(PsnrToRef(img, orig), 30.0);

  // YCCK: libjpeg converts CMYK input to YCCK when asked and writes the
  // Adobe marker that says so.
  std::vector<uint8_t> cmykPixels(size_t(64) * 48 * 4);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint8_t* o = orig.At(x, y);
      uint8_t* p = &cmykPixels[(size_t(y) * 64 + x) * 4];
      uint8_t k = uint8_t(255 - std::max({o[0], o[1], o[2]}));
      // Adobe convention: stored values are inverted.
      p[0] = uint8_t(255 - (k == 255 ? 0 : (255 - o[0] - k) * 255 / (255 - k)));
      p[1] = uint8_t(255 - (k == 255 ? 0 : (255 - o[1] - k) * 255 / (255 - k)));
      p[2] = uint8_t(255 - (k == 255 ? 0 : (255 - o[2] - k) * 255 / (255 - k)));
      p[3] = uint8_t(255 - k);
    }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buf = nullptr;
  unsigned long len = 0;
  jpeg_mem_dest(&cinfo, &buf, &len);
  cinfo.image_width = 64;
  cinfo.image_height = 48;
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, JCS_YCCK);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < 48) {
    JSAMPROW row = &cmykPixels[size_t(cinfo.next_scanline) * 64 * 4];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> ycck(buf, buf + len);
  free(buf);
  CImage y;
  ASSERT_TRUE(y.Decode(ycck.data(), ycck.size(), FORMAT_JPG)) << y.GetLastError();
  EXPECT_GE(PsnrToRef(y, orig), 30.0);
  std::string ycckPath = dir / "ycck.jpg";
  WriteFileBytes(ycckPath, ycck.data(), ycck.size());
  ASSERT_TRUE(LoadWithImageMagick(ycckPath, ref, 0, "-colorspace sRGB"));
  EXPECT_GE(PsnrToRef(y, ref), 40.0);
}

TEST(JpegDecode, DensityAndIccProfile) {
  TempDir dir;
  std::string ppm = MakeSourcePpm(dir, 32, 32);
  std::string inch = dir / "inch.jpg", cm = dir / "cm.jpg", none = dir / "none.jpg";
  ASSERT_EQ(ts::Run(std::string(ImConvert()) + " " + Quote(ppm) +
                " -units PixelsPerInch -density 300x150 " + Quote(inch)),
            0);
  ASSERT_EQ(ts::Run(std::string(ImConvert()) + " " + Quote(ppm) +
                " -units PixelsPerCentimeter -density 118 " + Quote(cm)),
            0);
  ASSERT_EQ(ts::Run("cjpeg -outfile " + Quote(none) + " " + Quote(ppm)), 0);
  CImage a = LoadOk(inch), b = LoadOk(cm), c = LoadOk(none);
  EXPECT_EQ(a.GetXDPI(), 300);
  EXPECT_EQ(a.GetYDPI(), 150);
  EXPECT_EQ(b.GetXDPI(), 300);  // 118 per cm = 299.7 per inch
  EXPECT_EQ(c.GetXDPI(), 96);   // aspect ratio only: the default stays
  EXPECT_TRUE(c.GetIccProfile().empty());

  // A profile of more than one APP2 marker's worth, attached by exiftool.
  std::vector<uint8_t> icc = MakeIccProfile(150000);
  std::string iccPath = dir / "p.icc";
  WriteFileBytes(iccPath, icc.data(), icc.size());
  ASSERT_EQ(ts::Run("exiftool -q -overwrite_original " + Quote("-ICC_Profile<=" + iccPath) + " " +
                Quote(none)),
            0);
  CImage d = LoadOk(none);
  EXPECT_EQ(d.GetIccProfile(), icc);
}

// What we write: each option changes the file and independent readers see
// what was asked.
TEST(JpegEncode, OptionsChangeTheFile) {
  TempDir dir;
  CImage img = MakePatternImage(160, 120, 24);
  img.SetJpegQuality(80);
  img.SetJpegSmoothing(50);
  std::vector<uint8_t> plain, optimized, progressive, smooth, all;
  img.SetCodecOption(0x01, FORMAT_JPG);
  ASSERT_TRUE(img.Encode(plain, FORMAT_JPG)) << img.GetLastError();
  img.SetCodecOption(0x01 | 0x08, FORMAT_JPG);
  ASSERT_TRUE(img.Encode(optimized, FORMAT_JPG));
  img.SetCodecOption(0x01 | 0x10, FORMAT_JPG);
  ASSERT_TRUE(img.Encode(progressive, FORMAT_JPG));
  img.SetCodecOption(0x01 | 0x40, FORMAT_JPG);
  ASSERT_TRUE(img.Encode(smooth, FORMAT_JPG));
  img.SetCodecOption(0x01 | 0x08 | 0x10 | 0x40, FORMAT_JPG);
  ASSERT_TRUE(img.Encode(all, FORMAT_JPG));
  EXPECT_NE(plain, optimized);
  EXPECT_LT(optimized.size(), plain.size());
  EXPECT_NE(plain, progressive);
  EXPECT_NE(plain, smooth);
  EXPECT_NE(progressive, all);

  auto identify = [&](const std::vector<uint8_t>& data, const char* name) {
    std::string path = dir / name;
    WriteFileBytes(path, data.data(), data.size());
    return RunOutput(std::string(ImIdentify()) + " -verbose " + Quote(path));
  };
  std::string idPlain = identify(plain, "plain.jpg");
  std::string idProg = identify(progressive, "prog.jpg");
  EXPECT_NE(idPlain.find("Interlace: None"), std::string::npos);
  EXPECT_NE(idProg.find("Interlace: JPEG"), std::string::npos);
  EXPECT_NE(idPlain.find("Quality: 80"), std::string::npos);
  EXPECT_NE(idPlain.find("sampling-factor: 2x2,1x1,1x1"), std::string::npos);

  // Our decode of each equals djpeg's decode of the same bytes, and the
  // picture is close to what was encoded.
  for (auto* data : {&plain, &progressive, &smooth, &all}) {
    std::string path = dir / "x.jpg", pnm = dir / "x.pnm";
    WriteFileBytes(path, data->data(), data->size());
    ASSERT_EQ(ts::Run("djpeg -pnm -outfile " + Quote(pnm) + " " + Quote(path)), 0);
    RefImage r;
    ASSERT_TRUE(ParsePam(ReadFileBytes(pnm), r));
    CImage back;
    ASSERT_TRUE(back.Decode(data->data(), data->size()));
    EXPECT_TRUE(MatchesRef(back, r));
    EXPECT_EQ(back.GetCodecOption(FORMAT_JPG), data == &plain || data == &smooth ? 0x01u : 0x10u);
    EXPECT_GE(Psnr(back, img), data == &plain || data == &progressive ? 30.0 : 25.0);
  }
  // Quality really is the quality.
  std::vector<uint8_t> low;
  img.SetCodecOption(0x01, FORMAT_JPG);
  img.SetJpegQuality(20);
  ASSERT_TRUE(img.Encode(low, FORMAT_JPG));
  EXPECT_LT(low.size(), plain.size());
}

TEST(JpegEncode, PaletteImagesDensityAndProfile) {
  TempDir dir;
  // A grey-palette image is written as a greyscale JPEG; a colour palette
  // image as colour; the image itself is not changed.
  CImage grey = MakePatternImage(64, 40, 8, true);
  CImage colour = MakePatternImage(64, 40, 4);
  CImage one = MakePatternImage(64, 40, 1);
  grey.SetJpegQuality(100);
  colour.SetJpegQuality(100);
  one.SetJpegQuality(100);
  grey.SetXDPI(300);
  grey.SetYDPI(200);
  std::vector<uint8_t> icc = MakeIccProfile(70000);
  colour.SetIccProfile(icc);
  struct {
    CImage* img;
    const char* name;
    const char* space;
  } cases[] = {{&grey, "grey.jpg", "Colorspace: Gray"},
               {&colour, "colour.jpg", "Colorspace: sRGB"},
               {&one, "one.jpg", "Colorspace: Gray"}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / c.name;
    ASSERT_TRUE(c.img->Save(path, FORMAT_JPG)) << c.img->GetLastError();
    EXPECT_NE(c.img->GetBpp(), 24);
    std::string id = RunOutput(std::string(ImIdentify()) + " -verbose " + Quote(path));
    EXPECT_NE(id.find(c.space), std::string::npos);
    CImage back = LoadOk(path);
    if (c.img == &colour) {
      // Colour edges on every row do not survive 4:2:0; compare with what
      // ImageMagick decodes instead.
      RefImage ref;
      ASSERT_TRUE(LoadWithImageMagick(path, ref));
      EXPECT_GE(PsnrToRef(back, ref), 40.0);
    } else {
      EXPECT_GE(Psnr(back, *c.img), 38.0);
    }
  }
  std::string id = RunOutput(std::string(ImIdentify()) + " -verbose " + Quote(dir / "grey.jpg"));
  EXPECT_NE(id.find("Resolution: 300x200"), std::string::npos);
  EXPECT_NE(id.find("Units: PixelsPerInch"), std::string::npos);
  // exiftool reassembles the profile from its markers.
  std::string iccOut = dir / "out.icc";
  ASSERT_EQ(ts::Run("exiftool -q -b -ICC_Profile " + Quote(dir / "colour.jpg") + " 2>/dev/null > " +
                Quote(iccOut)),
            0);
  EXPECT_EQ(ReadFileBytes(iccOut), icc);
  EXPECT_EQ(LoadOk(dir / "colour.jpg").GetIccProfile(), icc);
  CImage g = LoadOk(dir / "grey.jpg");
  EXPECT_EQ(g.GetXDPI(), 300);
  EXPECT_EQ(g.GetYDPI(), 200);
}

TEST(JpegScaled, PicksTheSmallestSufficientScale) {
  CImage img = MakePatternImage(800, 600, 24);
  img.SetJpegQuality(90);
  std::vector<uint8_t> data;
  ASSERT_TRUE(img.Encode(data, FORMAT_JPG));
  int w = 0, h = 0;
  ASSERT_TRUE(ReadJpegHeader(data.data(), data.size(), w, h));
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  struct {
    int minW, minH, w, h;
  } cases[] = {{200, 150, 200, 150}, {201, 10, 300, 225}, {10, 151, 300, 225},
               {1, 1, 100, 75},      {799, 1, 800, 600},  {5000, 5000, 800, 600}};
  for (auto& c : cases) {
    CImage s;
    s.SetCodecOption(0x1234, FORMAT_PNG);
    ASSERT_TRUE(DecodeJpegScaled(s, data.data(), data.size(), c.minW, c.minH))
        << s.GetLastError();
    EXPECT_EQ(s.GetWidth(), c.w);
    EXPECT_EQ(s.GetHeight(), c.h);
    EXPECT_EQ(s.GetType(), FORMAT_JPG);
    EXPECT_EQ(s.GetCodecOption(FORMAT_PNG), 0x1234u);  // other options survive
  }
  // A quarter-size decode looks like the full picture shrunk.
  CImage quarter, full;
  ASSERT_TRUE(DecodeJpegScaled(quarter, data.data(), data.size(), 200, 150));
  ASSERT_TRUE(full.Decode(data.data(), data.size()));
  CImage boxed;
  ASSERT_TRUE(boxed.Create(200, 150, 24));
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) {
      int sum[3] = {0, 0, 0};
      for (int dy = 0; dy < 4; ++dy)
        for (int dx = 0; dx < 4; ++dx) {
          RGBQuad c = full.GetPixelColor(4 * x + dx, 4 * y + dy, false);
          sum[0] += c.blue, sum[1] += c.green, sum[2] += c.red;
        }
      boxed.SetPixelColor(x, y, RGBQuad{uint8_t(sum[0] / 16), uint8_t(sum[1] / 16),
                                        uint8_t(sum[2] / 16), 0});
    }
  EXPECT_GE(Psnr(quarter, boxed), 28.0);

  // Failure leaves the image as it was.
  CImage keep = MakePatternImage(10, 10, 24);
  std::vector<uint8_t> junk = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4, 5, 6};
  EXPECT_FALSE(DecodeJpegScaled(keep, junk.data(), junk.size(), 1, 1));
  EXPECT_FALSE(keep.GetLastError().empty());
  EXPECT_EQ(keep.GetWidth(), 10);
  EXPECT_FALSE(ReadJpegHeader(junk.data(), junk.size(), w, h));
}

// Truncated, lying and garbage files: a clean failure (or, for a file cut
// inside its picture data, the part that is there), never a crash.
TEST(JpegHostile, TruncatedLyingAndGarbage) {
  CImage img = MakePatternImage(256, 192, 24);
  std::vector<uint8_t> base, prog;
  img.SetCodecOption(0x01, FORMAT_JPG);
  ASSERT_TRUE(img.Encode(base, FORMAT_JPG));
  img.SetCodecOption(0x10, FORMAT_JPG);
  ASSERT_TRUE(img.Encode(prog, FORMAT_JPG));

  for (auto* file : {&base, &prog}) {
    // Cut inside the headers: no picture.
    size_t sos = 0;  // the first scan header
    for (size_t i = 2; i + 1 < file->size() && !sos; ++i)
      if ((*file)[i] == 0xFF && (*file)[i + 1] == 0xDA) sos = i;
    ASSERT_GT(sos, 100u);
    for (size_t cut : {size_t(2), size_t(3), size_t(20), size_t(100), sos - 1, sos + 4}) {
      CImage t;
      EXPECT_FALSE(t.Decode(file->data(), cut, FORMAT_JPG)) << cut;
      EXPECT_FALSE(t.GetLastError().empty());
    }
    // Cut inside the picture data: the upper part is decoded as it was.
    for (size_t cut : {sos + 20, file->size() / 2, file->size() * 3 / 4, file->size() - 2}) {
      CImage t;
      ASSERT_TRUE(t.Decode(file->data(), cut, FORMAT_JPG)) << cut << t.GetLastError();
      EXPECT_EQ(t.GetWidth(), 256);
      EXPECT_EQ(t.GetHeight(), 192);
    }
  }
  {
    // Baseline cut at half: the top rows are intact.
    CImage full, half;
    ASSERT_TRUE(full.Decode(base.data(), base.size()));
    ASSERT_TRUE(half.Decode(base.data(), base.size() / 2));
    for (int x = 0; x < 256; x += 7)
      EXPECT_TRUE(full.GetPixelColor(x, 191, false) == half.GetPixelColor(x, 191, false));
  }
  // Headers that lie about the size: the frame header (SOF0) holds height
  // and width as big-endian 16-bit values after its length and precision.
  auto withSize = [&](int w, int h) {
    std::vector<uint8_t> d = base;
    for (size_t i = 2; i + 9 < d.size(); ++i)
      if (d[i] == 0xFF && d[i + 1] == 0xC0) {
        d[i + 5] = uint8_t(h >> 8);
        d[i + 6] = uint8_t(h);
        d[i + 7] = uint8_t(w >> 8);
        d[i + 8] = uint8_t(w);
        break;
      }
    return d;
  };
  {
    std::vector<uint8_t> huge = withSize(65000, 65000);  // above the pixel limit
    CImage t;
    EXPECT_FALSE(t.Decode(huge.data(), huge.size()));
    EXPECT_NE(t.GetLastError().find("limit"), std::string::npos) << t.GetLastError();
    std::vector<uint8_t> big = withSize(12000, 12000);  // within the limit, far too few bytes
    EXPECT_FALSE(t.Decode(big.data(), big.size()));
    EXPECT_NE(t.GetLastError().find("too small"), std::string::npos) << t.GetLastError();
    std::vector<uint8_t> zero = withSize(0, 192);
    EXPECT_FALSE(t.Decode(zero.data(), zero.size()));
  }
  // A lower pixel limit is honoured.
  {
    uint64_t old = CImage::GetPixelLimit();
    CImage::SetPixelLimit(1000);
    CImage t;
    EXPECT_FALSE(t.Decode(base.data(), base.size()));
    CImage::SetPixelLimit(old);
  }
  // Garbage after the signature, and random bytes flipped in the data.
  {
    std::vector<uint8_t> g = {0xFF, 0xD8, 0xFF};
    for (int i = 0; i < 2000; ++i) g.push_back(uint8_t(i * 131 + 17));
    CImage t;
    EXPECT_FALSE(t.Decode(g.data(), g.size()));
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> d = round % 2 ? prog : base;
      for (int k = 0; k < 10; ++k) d[rng() % d.size()] ^= uint8_t(1 + rng() % 255);
      CImage u;
      u.Decode(d.data(), d.size(), FORMAT_JPG);  // either outcome, no crash
    }
  }
}
