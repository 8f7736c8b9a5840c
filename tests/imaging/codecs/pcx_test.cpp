// PCX: files made by netpbm and ImageMagick in every plane layout, writing,
// hostile headers.
#include "test_support.h"

using namespace testing_support;

namespace {

TEST(Pcx, ReadsEveryPlaneLayoutLikePcxtoppm) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 37, 19);
  std::string pic16 = dir / "pic16.ppm", pic4 = dir / "pic4.ppm", pic8 = dir / "pic8.ppm";
  ASSERT_TRUE(Tool("pnmquant 16 " + Quote(pic) + " > " + Quote(pic16) + " 2>/dev/null"));
  ASSERT_TRUE(Tool("pnmquant 4 " + Quote(pic) + " > " + Quote(pic4) + " 2>/dev/null"));
  ASSERT_TRUE(Tool("pnmquant 8 " + Quote(pic) + " > " + Quote(pic8) + " 2>/dev/null"));
  const std::string im = ImConvert();
  const struct {
    const char* name;
    std::string command;  // writes to stdout
    int bits, planes;     // as the file says
    int bpp;              // of the image read
  } cases[] = {
      {"mono", "ppmtopgm " + Quote(pic) + " | pgmtopbm | ppmtopcx", 1, 1, 1},
      {"1bit-2planes", "ppmtopcx -planes 2 " + Quote(pic4), 1, 2, 4},
      {"1bit-3planes", "ppmtopcx -planes 3 " + Quote(pic8), 1, 3, 4},
      {"1bit-4planes", "ppmtopcx " + Quote(pic16), 1, 4, 4},
      {"2bit-packed", "ppmtopcx -packed " + Quote(pic4), 2, 1, 4},
      {"4bit-packed", "ppmtopcx -packed " + Quote(pic16), 4, 1, 4},
      {"8bit", "ppmtopcx -8bit " + Quote(pic16), 8, 1, 8},
      {"24bit", "ppmtopcx -24bit " + Quote(pic), 8, 3, 24},
      {"im-palette", im + " " + Quote(pic) + " -colors 100 -type Palette pcx:-", 8, 1, 8},
      {"im-truecolor", im + " " + Quote(pic) + " -type TrueColor pcx:-", 8, 3, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + ".pcx");
    ASSERT_TRUE(Tool("(" + c.command + ") > " + Quote(file) + " 2>/dev/null"));
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    ASSERT_GT(bytes.size(), 128u);
    EXPECT_EQ(bytes[3], c.bits);
    EXPECT_EQ(bytes[65], c.planes);
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    EXPECT_EQ(image.GetType(), FORMAT_PCX);
    EXPECT_EQ(image.GetBpp(), c.bpp);
    EXPECT_TRUE(SamePixels(image, RefFromCommand("pcxtoppm " + Quote(file) + " 2>/dev/null")));
  }
}

TEST(Pcx, StoredDataAndRunsAcrossLines) {
  // 4x2, 8 bits: the first run covers the first line and half the second.
  std::vector<uint8_t> bytes(128, 0);
  bytes[0] = 0x0A;
  bytes[1] = 5;
  bytes[2] = 1;
  bytes[3] = 8;
  bytes[8] = 3;
  bytes[10] = 1;
  bytes[65] = 1;
  bytes[66] = 4;
  std::vector<uint8_t> data = {0xC6, 0x07, 0xC0, 0x33, 0x09, 0xC1, 0xC2};  // empty run, then 0xC2 literal
  bytes.insert(bytes.end(), data.begin(), data.end());
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, bytes, FORMAT_UNKNOWN)) << image.GetLastError();
  // Grey ramp without a palette at the end: index = value.
  EXPECT_EQ(image.GetPixelIndex(3, 1), 7);
  EXPECT_EQ(image.GetPixelIndex(1, 0), 7);
  EXPECT_EQ(image.GetPixelIndex(2, 0), 9);
  EXPECT_EQ(image.GetPixelIndex(3, 0), 0xC2);
  // The same pixels stored without encoding.
  bytes.resize(128);
  bytes[2] = 0;
  for (uint8_t v : {7, 7, 7, 7, 7, 7, 9, 0xC2}) bytes.push_back(v);
  CImage stored;
  ASSERT_TRUE(DecodeBytes(stored, bytes, FORMAT_PCX)) << stored.GetLastError();
  EXPECT_EQ(stored.GetPixelIndex(3, 0), 0xC2);
  EXPECT_EQ(stored.GetPixelIndex(2, 0), 9);
  // Four planes of 8 bits: red, green, blue and alpha lines of 2 pixels.
  bytes.resize(128);
  bytes[8] = 1;
  bytes[10] = 0;
  bytes[65] = 4;
  bytes[66] = 2;
  for (uint8_t v : {10, 20, 30, 40, 50, 60, 255, 0}) bytes.push_back(v);
  CImage rgba;
  ASSERT_TRUE(DecodeBytes(rgba, bytes, FORMAT_PCX)) << rgba.GetLastError();
  RGBQuad c = rgba.GetPixelColor(1, 0, true);
  EXPECT_EQ(c.red, 20);
  EXPECT_EQ(c.green, 40);
  EXPECT_EQ(c.blue, 60);
  EXPECT_EQ(c.reserved, 0);
  EXPECT_EQ(rgba.GetPixelColor(0, 0, true).reserved, 255);
}

TEST(Pcx, WritesEightAndTwentyFourBitsReadByNetpbmAndImageMagick) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 33, 14);  // odd width: padded lines
  CImage colour;
  ASSERT_TRUE(colour.Load(pic)) << colour.GetLastError();
  CImage palette;
  ASSERT_TRUE(palette.Create(33, 14, 8));
  for (int i = 0; i < 256; ++i) palette.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(255 - i), uint8_t(i * 7));
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 33; ++x) palette.SetPixelIndex(x, y, uint8_t(x < 20 ? 200 : x * 7 + y));
  CImage mono;
  ASSERT_TRUE(mono.Create(33, 14, 1));
  mono.SetPaletteColor(0, 10, 20, 30);
  mono.SetPaletteColor(1, 250, 240, 230);
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 33; ++x) mono.SetPixelIndex(x, y, (x + y) % 2);
  // Runs of 62 to 64 and of 300 bytes, and bytes of 0xC0 and above, which
  // need a run code of their own: the limits of the run-length code.
  CImage runs;
  ASSERT_TRUE(runs.Create(301, 5, 8));
  for (int i = 0; i < 256; ++i) runs.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(i / 2), uint8_t(255 - i));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 301; ++x) {
      const int run = y == 0 ? 62 : y == 1 ? 63 : y == 2 ? 64 : 301;
      runs.SetPixelIndex(x, y, uint8_t(y == 4 ? 0xC0 + x % 64 : x < run ? 0xC1 : 7));
    }
  const struct {
    const char* name;
    const CImage* image;
    int planes;
  } cases[] = {{"colour", &colour, 3}, {"palette", &palette, 1}, {"mono", &mono, 1},
               {"runs", &runs, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + ".pcx");
    ASSERT_TRUE(c.image->Save(file, FORMAT_PCX)) << c.image->GetLastError();
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    EXPECT_EQ(bytes[3], 8);
    EXPECT_EQ(bytes[65], c.planes);
    EXPECT_TRUE(SamePixels(*c.image, RefFromCommand("pcxtoppm " + Quote(file) + " 2>/dev/null")));
    EXPECT_TRUE(SamePixels(*c.image, ImRgb(file)));
    CImage back;
    ASSERT_TRUE(back.Load(file)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(back, ImRgb(file)));
  }
}

TEST(Pcx, HostileHeadersFailCleanly) {
  auto make = [](std::initializer_list<std::pair<int, int>> fields, size_t extra) {
    std::vector<uint8_t> b(128, 0);
    b[0] = 0x0A;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    b[8] = 3;   // 4 x 4
    b[10] = 3;
    b[65] = 1;
    b[66] = 4;
    for (auto [at, v] : fields) b[size_t(at)] = uint8_t(v);
    b.resize(128 + extra, 0x11);
    return b;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"short header", std::vector<uint8_t>(100, 0x0A)},
      {"xmax below xmin", make({{4, 9}}, 32)},
      {"ymax below ymin", make({{6, 9}}, 32)},
      {"bytes per line too small", make({{66, 2}}, 32)},
      {"5 planes", make({{65, 5}}, 64)},
      {"3 bits", make({{3, 3}}, 64)},
      {"unknown encoding", make({{2, 7}}, 64)},
      {"run-length data ends", make({}, 5)},
      {"run pair cut", make({}, 0)},
      {"stored data short", make({{2, 0}}, 15)},
      {"huge image tiny file", make({{8, 0xFF}, {9, 0xFF}, {10, 0xFF}, {11, 0xFF}, {66, 0xFF}, {67, 0xFF}}, 64)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_PCX));
    EXPECT_FALSE(image.GetLastError().empty());
  }
  std::vector<uint8_t> cut = make({}, 1);
  cut.back() = 0xC5;  // a run without its value
  CImage image;
  EXPECT_FALSE(DecodeBytes(image, cut, FORMAT_PCX));
}

}  // namespace
