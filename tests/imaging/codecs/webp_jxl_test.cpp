// WebP and JPEG XL codecs: files made by cwebp, img2webp and cjxl decoded
// and compared with dwebp's and djxl's decodes; our files read back by those
// tools and their metadata by exiftool; damaged files refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/codecs/codec.h"
#include "formats/output_format.h"
#include "test_support.h"

using namespace testing_support;
namespace ts = testing_support;

namespace {

// A picture with a varying alpha channel.
CImage MakeAlphaPicture(int w, int h) {
  CImage img = MakePatternImage(w, h, 24);
  img.AlphaCreate();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) *img.AlphaGetPointer(x, y) = uint8_t(x * 255 / (w - 1));
  return img;
}

// dwebp or djxl writes a PNG that ImageMagick turns into the reference.
bool ReferenceDecode(const std::string& tool, const std::string& file, RefImage& ref) {
  TempDir dir;
  const std::string png = dir / "ref.png";
  const std::string cmd = tool == "dwebp" ? "dwebp " + Quote(file) + " -o " + Quote(png)
                                          : "djxl " + Quote(file) + " " + Quote(png);
  if (ts::Run(cmd + " >/dev/null 2>&1") != 0) return false;
  return LoadWithImageMagick(png, ref);
}

struct ToolCase {
  const char* name;
  bool alpha;
  const char* encode;  // %I input PNG (or PAM), %O output
  int format;
  double minPsnr;      // 99: exact
};

std::string Expand(std::string cmd, const std::string& in, const std::string& out) {
  cmd.replace(cmd.find("%I"), 2, Quote(in));
  cmd.replace(cmd.find("%O"), 2, Quote(out));
  return cmd;
}

// The libraries' own tools make the files; our decode must match the
// tools' decode (same library: lossy files agree to rounding).
TEST(WebpJxlCodec, DecodesFilesOfTheReferenceTools) {
  const ToolCase cases[] = {
      {"cwebp lossy", false, "cwebp -quiet -q 85 %I -o %O", FORMAT_WEBP, 50},
      {"cwebp lossless", false, "cwebp -quiet -lossless %I -o %O", FORMAT_WEBP, 99},
      {"cwebp lossy alpha", true, "cwebp -quiet -q 85 -exact %I -o %O", FORMAT_WEBP, 50},
      {"cwebp lossless alpha", true, "cwebp -quiet -lossless -exact %I -o %O", FORMAT_WEBP, 99},
      {"cjxl lossy", false, "cjxl %I %O -d 1.0", FORMAT_JXL, 45},
      {"cjxl lossless", false, "cjxl %I %O -d 0", FORMAT_JXL, 99},
      {"cjxl lossless alpha", true, "cjxl %I %O -d 0", FORMAT_JXL, 99},
  };
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string png = dir / "in.png";
    CImage source = c.alpha ? MakeAlphaPicture(61, 43) : MakePatternImage(61, 43, 24);
    ASSERT_TRUE(source.Save(png, FORMAT_PNG));
    const std::string file = dir / (c.format == FORMAT_WEBP ? "f.webp" : "f.jxl");
    ASSERT_EQ(ts::Run(Expand(c.encode, png, file) + " >/dev/null 2>&1"), 0);
    RefImage ref;
    ASSERT_TRUE(ReferenceDecode(c.format == FORMAT_WEBP ? "dwebp" : "djxl", file, ref));
    CImage ours;
    ASSERT_TRUE(ours.Load(file)) << ours.GetLastError();
    EXPECT_EQ(ours.GetType(), c.format);
    EXPECT_EQ(ours.GetNumFrames(), 1);
    if (c.minPsnr >= 99) {
      EXPECT_TRUE(MatchesRef(ours, ref, c.alpha));
      // A lossless source is written lossless when kept in its format.
      EXPECT_NE(ours.GetCodecOption(c.format) & (1u << 12), 0u);
    } else {
      EXPECT_GE(PsnrToRef(ours, ref), c.minPsnr);
    }
    EXPECT_EQ(ours.AlphaIsValid(), c.alpha);
    if (c.alpha) {
      EXPECT_TRUE(MatchesRef(ours, ref, true, c.minPsnr >= 99 ? 0 : 3));
    }
  }
}

// Our encoders' files, read by the libraries' own tools, for each option.
TEST(WebpJxlCodec, EncodedFilesReadByTheReferenceTools) {
  const struct {
    const char* name;
    int format;
    uint32_t option;
    bool alpha;
    double minPsnr;
  } cases[] = {
      {"webp default", FORMAT_WEBP, 0, false, 30},
      {"webp q95 method 6", FORMAT_WEBP, 95 | (6 << 8), false, 36},
      {"webp lossless alpha", FORMAT_WEBP, 80 | (4 << 8) | (1 << 12), true, 99},
      {"webp lossy alpha", FORMAT_WEBP, 90 | (2 << 8), true, 32},
      {"jxl default", FORMAT_JXL, 0, false, 36},
      {"jxl q60 effort 3", FORMAT_JXL, 60 | (3 << 8), false, 28},
      {"jxl lossless alpha", FORMAT_JXL, 90 | (7 << 8) | (1 << 12), true, 99},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CImage img = c.alpha ? MakeAlphaPicture(70, 50) : MakePatternImage(70, 50, 24);
    img.SetCodecOption(c.option, c.format);
    const std::string file = dir / (c.format == FORMAT_WEBP ? "o.webp" : "o.jxl");
    ASSERT_TRUE(img.Save(file, c.format)) << img.GetLastError();
    RefImage ref;
    ASSERT_TRUE(ReferenceDecode(c.format == FORMAT_WEBP ? "dwebp" : "djxl", file, ref));
    if (c.minPsnr >= 99)
      EXPECT_TRUE(MatchesRef(img, ref, true));
    else
      EXPECT_GE(PsnrToRef(img, ref), c.minPsnr);
    EXPECT_EQ(ref.hasAlpha, c.alpha);
  }
  // Quality changes the file: a higher one gives a larger file.
  for (int format : {FORMAT_WEBP, FORMAT_JXL}) {
    CImage img = MakePatternImage(120, 90, 24);
    std::vector<uint8_t> low, high;
    img.SetCodecOption(20 | (4 << 8), format);
    ASSERT_TRUE(img.Encode(low, format));
    img.SetCodecOption(98 | (4 << 8), format);
    ASSERT_TRUE(img.Encode(high, format));
    EXPECT_LT(low.size(), high.size()) << format;
  }
}

// The AVIF output format through the codec table's encoder (when one is
// linked in): avifdec reads the file, with the chroma the settings chose.
TEST(WebpJxlCodec, AvifOutputReadByAvifdec) {
  const CodecInfo* codec = FindCodec(FORMAT_AVIF);
  if (!codec || !codec->encode) GTEST_SKIP() << "no AVIF encoder in this build";
  for (int chroma444 : {0, 1}) {
    TempDir dir;
    CFormatAVIF avif;
    avif.Quality = 90;
    avif.Speed = 8;
    avif.Chroma444 = chroma444;
    CImage img = MakePatternImage(64, 48, 24);
    EncodedOutput out;
    avif.Encode(img, dir / "in.png", SourceInfo(), out);
    ASSERT_EQ(out.result, 0) << out.error;
    EXPECT_EQ(out.extension, ".avif");
    const std::string file = dir / "o.avif";
    WriteFileBytes(file, out.data.data(), out.data.size());
    const std::string info = RunOutput("avifdec --info " + Quote(file) + " 2>&1");
    EXPECT_NE(info.find(chroma444 ? "YUV444" : "YUV420"), std::string::npos) << info;
    ASSERT_EQ(ts::Run("avifdec " + Quote(file) + " " + Quote(dir / "back.png") + " >/dev/null 2>&1"),
              0);
    RefImage ref;
    ASSERT_TRUE(LoadWithImageMagick(dir / "back.png", ref));
    EXPECT_GE(PsnrToRef(img, ref), 30);
  }
}

// A palette picture with a transparent index keeps its transparency.
TEST(WebpJxlCodec, PaletteWithTransparentIndex) {
  for (int format : {FORMAT_WEBP, FORMAT_JXL}) {
    CImage img = MakePatternImage(20, 10, 8);
    img.SetTransIndex(img.GetPixelIndex(0, 0));
    img.SetCodecOption(100 | (1 << 12) | (4 << 8), format);
    CImage back;
    ASSERT_TRUE(RoundTrip(img, format, back)) << format;
    EXPECT_EQ(back.GetPixelColor(0, 0, true).reserved, 0) << format;
    EXPECT_EQ(back.GetPixelColor(5, 3, true).reserved, img.GetPixelColor(5, 3, true).reserved);
    EXPECT_TRUE(SameColours(img, back)) << format;
  }
}

// The ICC profile, EXIF block and XMP packet go into the files, exiftool
// reads them there, and our decoders give the same bytes back.
TEST(WebpJxlCodec, MetadataBlocksWrittenAndRead) {
  TempDir dir;
  // exiftool makes the EXIF block and the XMP packet.
  const std::string jpg = dir / "tags.jpg";
  ASSERT_EQ(ts::Run(std::string(ImConvert()) + " -size 8x8 xc:gray " + Quote(jpg)), 0);
  ASSERT_EQ(ts::Run("exiftool -q -overwrite_original -Artist=Ann -Make=Canon -XMP:Creator=Bea " +
                Quote(jpg)),
            0);
  ASSERT_EQ(ts::Run("exiftool -q -b -exif " + Quote(jpg) + " > " + Quote(dir / "exif.bin") +
                " && exiftool -q -b -xmp " + Quote(jpg) + " > " + Quote(dir / "xmp.bin")),
            0);
  std::vector<uint8_t> exif = ReadFileBytes(dir / "exif.bin");
  const std::vector<uint8_t> xmp = ReadFileBytes(dir / "xmp.bin");
  if (exif.size() > 6 && std::memcmp(exif.data(), "Exif\0\0", 6) == 0)
    exif.erase(exif.begin(), exif.begin() + 6);
  ASSERT_GT(exif.size(), 8u);
  ASSERT_GT(xmp.size(), 20u);
  const std::vector<uint8_t> icc = MakeDisplayP3Profile();

  for (int format : {FORMAT_WEBP, FORMAT_JXL}) {
    SCOPED_TRACE(format);
    CImage img = MakePatternImage(30, 20, 24);
    img.SetExifBlock(exif);
    img.SetXmpPacket(xmp);
    img.SetIccProfile(icc);
    // Lossless JPEG XL keeps the profile's bytes; lossy ones re-describe it.
    img.SetCodecOption(format == FORMAT_JXL ? (90 | (7 << 8) | (1 << 12)) : 0, format);
    const std::string file = dir / (format == FORMAT_WEBP ? "m.webp" : "m.jxl");
    ASSERT_TRUE(img.Save(file, format)) << img.GetLastError();
    EXPECT_EQ(RunOutput("exiftool -T -Artist -Make -XMP:Creator " + Quote(file)),
              "Ann\tCanon\tBea\n");
    if (format == FORMAT_WEBP) {
      EXPECT_EQ(RunOutput("exiftool -T -ProfileDescription " + Quote(file)), "Display P3 test\n");
    }
    CImage back;
    ASSERT_TRUE(back.Load(file)) << back.GetLastError();
    EXPECT_EQ(back.GetExifBlock(), exif);
    EXPECT_EQ(back.GetXmpPacket(), xmp);
    EXPECT_EQ(back.GetIccProfile(), icc);
  }
  // Without metadata a WebP file is the bare bitstream container.
  CImage plain = MakePatternImage(30, 20, 24);
  std::vector<uint8_t> bare;
  ASSERT_TRUE(plain.Encode(bare, FORMAT_WEBP));
  EXPECT_EQ(std::string(bare.begin() + 12, bare.begin() + 16), "VP8 ");
}

// An animated WebP gives each frame composed on its canvas, and its count.
TEST(WebpJxlCodec, AnimatedWebpFrames) {
  TempDir dir;
  const char* colours[] = {"red", "lime", "blue"};
  std::string args;
  for (int i = 0; i < 3; ++i) {
    const std::string png = dir / ("f" + std::to_string(i) + ".png");
    ASSERT_EQ(ts::Run(std::string(ImConvert()) + " -size 12x8 xc:" + colours[i] + " " + Quote(png)),
              0);
    args += " " + Quote(png);
  }
  const std::string anim = dir / "anim.webp";
  ASSERT_EQ(ts::Run("img2webp -lossless -d 100" + args + " -o " + Quote(anim) + " >/dev/null 2>&1"),
            0);
  const RGBQuad expected[] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
  for (int frame = 0; frame < 3; ++frame) {
    CImage img;
    img.SetFrame(frame);
    ASSERT_TRUE(img.Load(anim)) << img.GetLastError();
    EXPECT_EQ(img.GetNumFrames(), 3);
    EXPECT_EQ(img.GetWidth(), 12);
    const RGBQuad c = img.GetPixelColor(5, 4, false);
    EXPECT_EQ(c.blue, expected[frame].blue) << frame;
    EXPECT_EQ(c.green, expected[frame].green) << frame;
    EXPECT_EQ(c.red, expected[frame].red) << frame;
  }
  CImage beyond;
  beyond.SetFrame(3);
  EXPECT_FALSE(beyond.Load(anim));
}

// Cut, damaged or oversized files fail with a reason and never crash.
TEST(WebpJxlCodec, DamagedFilesFail) {
  TempDir dir;
  for (int format : {FORMAT_WEBP, FORMAT_JXL}) {
    SCOPED_TRACE(format);
    CImage img = MakePatternImage(90, 70, 24);
    std::vector<uint8_t> good;
    ASSERT_TRUE(img.Encode(good, format));
    for (size_t cut : {size_t(10), good.size() / 2, good.size() - 3}) {
      CImage back;
      EXPECT_FALSE(back.Decode(good.data(), cut, format)) << cut;
      EXPECT_FALSE(back.GetLastError().empty());
    }
    // Bytes overwritten in the middle of the picture data.
    std::vector<uint8_t> bad = good;
    for (size_t i = bad.size() / 3; i < bad.size() / 3 + 40; ++i) bad[i] = uint8_t(i * 37);
    CImage back;
    back.Decode(bad.data(), bad.size(), format);  // may decode to noise, must not crash

    // The pixel limit is checked before any pixel buffer exists.
    const uint64_t limit = CImage::GetPixelLimit();
    CImage::SetPixelLimit(90 * 70 - 1);
    CImage limited;
    EXPECT_FALSE(limited.Decode(good.data(), good.size(), format));
    EXPECT_NE(limited.GetLastError().find("pixel limit"), std::string::npos)
        << limited.GetLastError();
    CImage::SetPixelLimit(limit);
  }
  // A WebP header that declares a canvas of 16384x16384 pixels.
  std::vector<uint8_t> vp8x = {'R', 'I', 'F', 'F', 30, 0, 0, 0, 'W', 'E', 'B', 'P',
                               'V', 'P', '8', 'X', 10, 0, 0, 0, 0, 0, 0, 0,
                               0xFF, 0x3F, 0, 0xFF, 0x3F, 0};
  const uint64_t limit = CImage::GetPixelLimit();
  CImage::SetPixelLimit(1u << 20);
  CImage big;
  EXPECT_FALSE(big.Decode(vp8x.data(), vp8x.size(), FORMAT_UNKNOWN));
  CImage::SetPixelLimit(limit);
}

}  // namespace
