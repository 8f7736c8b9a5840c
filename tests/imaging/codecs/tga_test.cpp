// TGA: files made by ImageMagick and netpbm, hand-made 16-bit and origin
// variants, writing, hostile headers.
#include "test_support.h"

using namespace testing_support;

namespace {

// ImageMagick 6 leaves TGA rows as stored and only notes the origin;
// -auto-orient turns the picture the way the file's origin says.
const char kOrient[] = "-auto-orient";
const char kAlphaRamp[] = "-alpha set -channel A -fx 'i/w' +channel";

TEST(Tga, ReadsFilesOfImageMagickAndNetpbm) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 31, 17);
  std::string alphaPic = MakePicture(dir, "alpha.png", 31, 17, kAlphaRamp);
  std::string greyPic = MakePicture(dir, "grey.pgm", 31, 17, "-colorspace gray");
  const struct {
    const char* name;
    std::string command;  // writes %o
    int type;             // TGA image type byte expected
    int bpp;
    bool alpha;
    uint32_t option;
  } cases[] = {
      {"im-truecolor", "%c " + Quote(pic) + " -type TrueColor %o", 2, 24, false, 0},
      {"im-truecolor-rle", "%c " + Quote(pic) + " -type TrueColor -compress RLE %o", 10, 24, false, 1},
      {"im-alpha", "%c " + Quote(alphaPic) + " %o", 2, 24, true, 0},
      {"im-alpha-rle", "%c " + Quote(alphaPic) + " -compress RLE %o", 10, 24, true, 1},
      {"im-palette", "%c " + Quote(pic) + " -colors 40 -type Palette %o", 1, 8, false, 0},
      {"im-palette-rle", "%c " + Quote(pic) + " -colors 40 -type Palette -compress RLE %o", 9, 8, false, 1},
      {"im-grey", "%c " + Quote(greyPic) + " -type Grayscale %o", 3, 8, false, 0},
      {"im-grey-rle", "%c " + Quote(greyPic) + " -type Grayscale -compress RLE %o", 11, 8, false, 1},
      {"netpbm-rgb", "ppmtotga -rgb -norle " + Quote(pic) + " > %o", 2, 24, false, 0},
      {"netpbm-rgb-rle", "ppmtotga -rgb " + Quote(pic) + " > %o", 10, 24, false, 1},
      {"netpbm-cmap", "pnmquant 50 " + Quote(pic) + " 2>/dev/null | ppmtotga -cmap 2>/dev/null > %o", 9, 8, false, 1},
      {"netpbm-mono", "ppmtotga -mono -norle " + Quote(greyPic) + " > %o", 3, 8, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + ".tga");
    std::string cmd = c.command;
    if (cmd.rfind("%c", 0) == 0) cmd = std::string(ImConvert()) + cmd.substr(2);
    cmd.replace(cmd.find("%o"), 2, Quote(file));
    ASSERT_TRUE(Tool(cmd));
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    ASSERT_GT(bytes.size(), 18u);
    EXPECT_EQ(bytes[2], c.type);
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();  // found by the extension
    EXPECT_EQ(image.GetType(), FORMAT_TGA);
    EXPECT_EQ(image.GetBpp(), c.bpp);
    EXPECT_EQ(image.AlphaIsValid(), c.alpha);
    EXPECT_EQ(image.GetCodecOption(FORMAT_TGA), c.option);
    EXPECT_TRUE(SamePixels(image, ImRgb(file, "", kOrient)));
    if (c.alpha) {
      EXPECT_TRUE(SameAlpha(image, ImAlpha(file, "", kOrient)));
    }
  }
}

// A tiny 3x2 image in every origin and in 15/16-bit and 8-bit colour-mapped
// form with a 16-bit map, made byte by byte and compared with ImageMagick.
TEST(Tga, HandMadeVariantsMatchImageMagick) {
  TempDir dir;
  auto header = [](int mapType, int type, int mapLen, int mapBits, int bits, int desc) {
    std::vector<uint8_t> h(18, 0);
    h[1] = uint8_t(mapType);
    h[2] = uint8_t(type);
    h[5] = uint8_t(mapLen);
    h[7] = uint8_t(mapBits);
    h[12] = 3;
    h[14] = 2;
    h[16] = uint8_t(bits);
    h[17] = uint8_t(desc);
    return h;
  };
  const uint8_t bgr[6][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {10, 20, 30}, {200, 100, 50}, {255, 255, 255}};
  const uint16_t c555[6] = {0x7C00, 0x03E0, 0x001F, 0x4210, 0x0C63, 0x7FFF};
  struct Variant {
    const char* name;
    std::vector<uint8_t> bytes;
    int tolerance = 0;  // ImageMagick rounds some 5-bit values one lower
  };
  std::vector<Variant> variants;
  for (int desc : {0x00, 0x10, 0x20, 0x30}) {
    std::vector<uint8_t> b = header(0, 2, 0, 0, 24, desc);
    for (auto& p : bgr) b.insert(b.end(), p, p + 3);
    variants.push_back({desc == 0 ? "bottom-left" : desc == 0x10 ? "bottom-right" : desc == 0x20 ? "top-left" : "top-right", b});
  }
  {
    std::vector<uint8_t> b = header(0, 2, 0, 0, 16, 0x20);
    for (uint16_t v : c555) b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
    variants.push_back({"16-bit", b, 1});
    b[16] = 15;
    variants.push_back({"15-bit", b, 1});
  }
  {
    std::vector<uint8_t> b = header(1, 1, 6, 16, 8, 0x20);
    for (uint16_t v : c555) b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
    for (uint8_t i : {5, 4, 3, 2, 1, 0}) b.push_back(i);
    variants.push_back({"map-16-bit", b, 1});
  }
  {
    // RLE packets run across the end of a row.
    std::vector<uint8_t> b = header(0, 10, 0, 0, 24, 0x20);
    b.insert(b.end(), {0x83, 1, 2, 3, 0x01, 9, 8, 7, 6, 5, 4});
    variants.push_back({"rle-across-rows", b});
  }
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    std::string file = dir / (std::string(v.name) + ".tga");
    WriteFileBytes(file, v.bytes.data(), v.bytes.size());
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    EXPECT_TRUE(SamePixels(image, ImRgb(file, "", kOrient), v.tolerance));
  }
  // The origin bits move the first stored pixel (red) to each corner.
  const struct {
    int desc, x, y;  // y from the bottom
  } corners[] = {{0x00, 0, 0}, {0x10, 2, 0}, {0x20, 0, 1}, {0x30, 2, 1}};
  for (const auto& c : corners) {
    CImage image;
    ASSERT_TRUE(DecodeBytes(image, variants[size_t(c.desc >> 4)].bytes, FORMAT_TGA));
    RGBQuad p = image.GetPixelColor(c.x, c.y, false);
    EXPECT_EQ(p.red, 255) << c.desc;
    EXPECT_EQ(p.blue, 0) << c.desc;
  }
}

TEST(Tga, WritesTrueColourAndAlphaReadByImageMagick) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 37, 21);
  std::string alphaPic = MakePicture(dir, "alpha.png", 37, 21, kAlphaRamp);
  CImage colour, alpha, palette;
  ASSERT_TRUE(colour.Load(pic)) << colour.GetLastError();
  std::string alphaTga = dir / "alpha-src.tga";
  ASSERT_TRUE(Tool(std::string(ImConvert()) + " " + Quote(alphaPic) + " " + Quote(alphaTga)));
  ASSERT_TRUE(alpha.Load(alphaTga)) << alpha.GetLastError();
  ASSERT_TRUE(palette.Create(37, 21, 4));
  for (int i = 0; i < 16; ++i) palette.SetPaletteColor(uint8_t(i), uint8_t(i * 16), uint8_t(255 - i * 9), 77);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 37; ++x) palette.SetPixelIndex(x, y, uint8_t((x / 3 + y) % 16));
  // Runs and raw stretches of 127, 128, 129 and 300 pixels: packets at
  // their longest and the split after them.
  CImage wide;
  ASSERT_TRUE(wide.Create(300, 6, 24));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 300; ++x) {
      const int stretch = y == 0 ? 127 : y == 1 ? 128 : y == 2 ? 129 : 300;
      const bool raw = y >= 3 && y != 4;
      const uint8_t v = raw ? uint8_t(x * 37 + y) : uint8_t(x < stretch ? 40 : 200);
      wide.SetPixelColor(x, y, RGBQuad{v, uint8_t(raw ? x : 9), uint8_t(y * 30), 0});
    }
  const struct {
    const char* name;
    const CImage* image;
    uint32_t option;
    int bits;
  } cases[] = {
      {"colour", &colour, 0, 24},     {"colour-rle", &colour, 1, 24}, {"alpha", &alpha, 0, 32},
      {"alpha-rle", &alpha, 1, 32},   {"palette", &palette, 1, 24},   {"wide-rle", &wide, 1, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image(*c.image);
    image.SetCodecOption(c.option, FORMAT_TGA);
    std::string file = dir / (std::string(c.name) + ".tga");
    ASSERT_TRUE(image.Save(file, FORMAT_TGA)) << image.GetLastError();
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    EXPECT_EQ(bytes[2], c.option ? 10 : 2);
    EXPECT_EQ(bytes[16], c.bits);
    EXPECT_TRUE(SamePixels(image, ImRgb(file, "", kOrient)));
    if (c.bits == 32) {
      EXPECT_TRUE(SameAlpha(image, ImAlpha(file, "", kOrient)));
    }
    CImage back;
    ASSERT_TRUE(back.Load(file)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(back, ImRgb(file, "", kOrient)));
    EXPECT_EQ(back.GetCodecOption(FORMAT_TGA), c.option);
  }
}

TEST(Tga, HostileHeadersFailCleanly) {
  auto make = [](std::initializer_list<std::pair<int, int>> fields, size_t extra) {
    std::vector<uint8_t> b(18, 0);
    b[2] = 2;
    b[12] = 4;
    b[14] = 4;
    b[16] = 24;
    b.resize(18 + extra, 0x55);
    for (auto [at, v] : fields) b.at(size_t(at)) = uint8_t(v);
    return b;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"short header", std::vector<uint8_t>(10, 0)},
      {"no image data type", make({{2, 0}}, 48)},
      {"unknown type", make({{2, 32}}, 48)},
      {"zero width", make({{12, 0}}, 48)},
      {"zero height", make({{14, 0}}, 48)},
      {"odd pixel size", make({{16, 20}}, 48)},
      {"raw data short", make({}, 47)},
      {"huge raw image", make({{12, 0xFF}, {13, 0xFF}, {14, 0xFF}, {15, 0xFF}}, 100)},
      {"huge rle image", make({{2, 10}, {12, 0xFF}, {13, 0xFF}, {14, 0xFF}, {15, 0xFF}}, 100)},
      {"rle stream ends", make({{2, 10}}, 4)},
      {"rle raw packet short", make({{2, 10}, {18, 0x0F}}, 8)},
      {"colour map missing", make({{2, 1}, {16, 8}}, 16)},
      {"colour map cut short", make({{1, 1}, {2, 1}, {5, 0}, {6, 1}, {7, 24}, {16, 8}}, 40)},
      {"bad map entry size", make({{1, 1}, {2, 1}, {5, 2}, {7, 12}, {16, 8}}, 40)},
      {"bad map type", make({{1, 7}}, 48)},
      {"grey of 24 bits", make({{2, 3}}, 48)},
      {"id field past the end", make({{0, 200}}, 48)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_TGA));
    EXPECT_FALSE(image.GetLastError().empty());
  }
  // Without a signature a TGA is only found by its extension.
  CImage image;
  std::vector<uint8_t> ok = make({}, 48);
  EXPECT_FALSE(DecodeBytes(image, ok, FORMAT_UNKNOWN, "/x/picture.bin"));
  EXPECT_TRUE(DecodeBytes(image, ok, FORMAT_UNKNOWN, "/x/picture.TGA")) << image.GetLastError();
}

}  // namespace
