// Sun raster: files of netpbm and ImageMagick in every depth and type,
// writing, hostile headers.
#include "imaging/byte_order.h"
#include "test_support.h"

using namespace testing_support;

namespace {

using byte_order::GetBe32;

TEST(Ras, ReadsFilesOfNetpbmAndImageMagick) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 37, 19);  // odd width: padded rows
  std::string pic50 = dir / "pic50.ppm", pbm = dir / "pic.pbm";
  std::string alphaPic = MakePicture(dir, "alpha.png", 37, 19, "-alpha set -channel A -fx 'j/h' +channel");
  ASSERT_TRUE(Tool("pnmquant 50 " + Quote(pic) + " > " + Quote(pic50) + " 2>/dev/null"));
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(pic) + " | pgmtopbm > " + Quote(pbm)));
  const std::string im = ImConvert();
  const struct {
    const char* name;
    std::string command;
    uint32_t depth, type;
    int bpp;
    bool alpha;
  } cases[] = {
      {"1bit-standard", "pnmtorast -standard " + Quote(pbm), 1, 1, 1, false},
      {"1bit-rle", "pnmtorast -rle " + Quote(pbm), 1, 2, 1, false},
      {"8bit-standard", "pnmtorast -standard " + Quote(pic50), 8, 1, 8, false},
      {"8bit-rle", "pnmtorast -rle " + Quote(pic50), 8, 2, 8, false},
      {"24bit-standard", "pnmtorast -standard " + Quote(pic), 24, 1, 24, false},
      {"im-palette", im + " " + Quote(pic50) + " -type Palette sun:-", 8, 1, 8, false},
      {"im-rgb", im + " " + Quote(pic) + " sun:-", 24, 3, 24, false},
      {"im-alpha", im + " " + Quote(alphaPic) + " sun:-", 32, 3, 24, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + ".ras");
    ASSERT_TRUE(Tool("(" + c.command + ") > " + Quote(file) + " 2>/dev/null"));
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 32u);
    EXPECT_EQ(GetBe32(&bytes[12]), c.depth);
    EXPECT_EQ(GetBe32(&bytes[20]), c.type);
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    EXPECT_EQ(image.GetType(), FORMAT_RAS);
    EXPECT_EQ(image.GetBpp(), c.bpp);
    EXPECT_EQ(image.AlphaIsValid(), c.alpha);
    EXPECT_EQ(image.GetCodecOption(FORMAT_RAS), c.type == 2 ? 1u : 0u);
    // ImageMagick 6 loses the end of byte-encoded data and takes its 24-bit
    // pixels for RGB; netpbm is the reference for that type.
    if (c.type != 2) {
      EXPECT_TRUE(SamePixels(image, ImRgb(file)));
    }
    if (c.alpha) {
      EXPECT_TRUE(SameAlpha(image, ImAlpha(file)));
    } else {
      EXPECT_TRUE(SamePixels(image, RefFromCommand("rasttopnm " + Quote(file) + " 2>/dev/null")));
    }
  }
}

TEST(Ras, WritesEightAndTwentyFourBits) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 35, 17);
  CImage colour;
  ASSERT_TRUE(colour.Load(pic)) << colour.GetLastError();
  CImage palette;
  ASSERT_TRUE(palette.Create(35, 17, 4));
  for (int i = 0; i < 16; ++i) palette.SetPaletteColor(uint8_t(i), uint8_t(i * 17), 128, uint8_t(255 - i * 3));
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 35; ++x) palette.SetPixelIndex(x, y, uint8_t(x > 20 ? 8 : (x * y) % 16));
  const struct {
    const char* name;
    const CImage* image;
    uint32_t option, depth;
  } cases[] = {
      {"colour", &colour, 0, 24},
      {"colour-rle", &colour, 1, 24},
      {"palette", &palette, 0, 8},
      {"palette-rle", &palette, 1, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image(*c.image);
    image.SetCodecOption(c.option, FORMAT_RAS);
    std::string file = dir / (std::string(c.name) + ".ras");
    ASSERT_TRUE(image.Save(file, FORMAT_RAS)) << image.GetLastError();
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    EXPECT_EQ(GetBe32(&bytes[12]), c.depth);
    EXPECT_EQ(GetBe32(&bytes[20]), c.option ? 2u : 1u);
    EXPECT_TRUE(SamePixels(image, RefFromCommand("rasttopnm " + Quote(file) + " 2>/dev/null")));
    if (c.option == 0) {
      EXPECT_TRUE(SamePixels(image, ImRgb(file)));  // see above
    }
    CImage back;
    ASSERT_TRUE(back.Load(file)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(back, RefFromCommand("rasttopnm " + Quote(file) + " 2>/dev/null")));
  }
}

TEST(Ras, EscapesInEncodedData) {
  // 5x1, 8 bits, no map: 0x80 alone, a run of four, a literal.
  std::vector<uint8_t> b = {0x59, 0xA6, 0x6A, 0x95, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 8,
                            0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0,
                            0x80, 0x00, 0x80, 0x03, 0x42, 0x07};
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, b, FORMAT_UNKNOWN)) << image.GetLastError();
  EXPECT_EQ(image.GetPixelIndex(0, 0), 0x80);
  EXPECT_EQ(image.GetPixelIndex(1, 0), 0x42);
  EXPECT_EQ(image.GetPixelIndex(4, 0), 0x42);
  // The run of four fills the row: the literal 0x07 is padding.
  EXPECT_EQ(image.GetWidth(), 5);
}

TEST(Ras, HostileHeadersFailCleanly) {
  auto make = [](uint32_t w, uint32_t h, uint32_t depth, uint32_t type, uint32_t mapType,
                 uint32_t mapLength, size_t extra) {
    std::vector<uint8_t> b;
    for (uint32_t v : {0x59A66A95u, w, h, depth, 0u, type, mapType, mapLength})
      for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
    b.resize(b.size() + extra, 0x80);
    return b;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"short header", std::vector<uint8_t>{0x59, 0xA6, 0x6A, 0x95, 0, 0}},
      {"depth 16", make(4, 4, 16, 1, 0, 0, 64)},
      {"type 5", make(4, 4, 8, 5, 0, 0, 64)},
      {"map type 3", make(4, 4, 8, 1, 3, 0, 64)},
      {"zero width", make(0, 4, 8, 1, 0, 0, 64)},
      {"width above 31 bits", make(0x80000000u, 1, 8, 1, 0, 0, 64)},
      {"map past the end", make(4, 4, 8, 1, 1, 0xFFFFFFF0u, 64)},
      {"data short", make(4, 4, 8, 1, 0, 0, 15)},
      {"rle data short", make(4, 4, 8, 2, 0, 0, 2)},
      {"huge rle", make(60000, 4000, 24, 2, 0, 0, 300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_RAS));
    EXPECT_FALSE(image.GetLastError().empty());
  }
}

}  // namespace
