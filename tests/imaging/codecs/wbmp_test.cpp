// WBMP: files of netpbm and ImageMagick, writing, hostile headers.
#include "test_support.h"

using namespace testing_support;

namespace {

TEST(Wbmp, ReadsFilesOfNetpbmAndImageMagick) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 43, 9);  // width not a multiple of 8
  std::string pbm = dir / "pic.pbm";
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(pic) + " | pgmtopbm > " + Quote(pbm)));
  const struct {
    const char* name;
    std::string command;
  } cases[] = {
      {"netpbm", "pbmtowbmp " + Quote(pbm)},
      {"imagemagick", std::string(ImConvert()) + " " + Quote(pic) + " -monochrome wbmp:-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + ".wbmp");
    ASSERT_TRUE(Tool("(" + c.command + ") > " + Quote(file)));
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();  // by the extension
    EXPECT_EQ(image.GetType(), FORMAT_WBMP);
    EXPECT_EQ(image.GetBpp(), 1);
    EXPECT_TRUE(SamePixels(image, RefFromCommand("wbmptopbm " + Quote(file))));
    EXPECT_TRUE(SamePixels(image, ImRgb(file)));
  }
}

TEST(Wbmp, LargeSizesUseSeveralBytes) {
  // 200 x 3: the width needs two bytes (0x81 0x48).
  std::vector<uint8_t> bytes = {0, 0, 0x81, 0x48, 3};
  bytes.resize(bytes.size() + 25 * 3, 0xFF);
  bytes[5] = 0x7F;  // first pixel of the top row black
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, bytes, FORMAT_WBMP)) << image.GetLastError();
  EXPECT_EQ(image.GetWidth(), 200);
  EXPECT_EQ(image.GetHeight(), 3);
  EXPECT_EQ(image.GetPixelColor(0, 2, false).red, 0);
  EXPECT_EQ(image.GetPixelColor(1, 2, false).red, 255);
  std::vector<uint8_t> again;
  ASSERT_TRUE(image.Encode(again, FORMAT_WBMP));
  EXPECT_EQ(again, bytes);
}

TEST(Wbmp, WritesAnyImageAsBlackAndWhite) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 21, 11);
  CImage image;
  ASSERT_TRUE(image.Load(pic)) << image.GetLastError();
  std::string file = dir / "out.wbmp";
  ASSERT_TRUE(image.Save(file, FORMAT_WBMP)) << image.GetLastError();
  RefImage ref = RefFromCommand("wbmptopbm " + Quote(file));
  ASSERT_EQ(ref.width, 21);
  ASSERT_EQ(ref.height, 11);
  // Each pixel is white exactly when the source is lighter than mid grey.
  EXPECT_EQ(BlackWhiteMismatches(image, ref), 0);
  CImage back;
  ASSERT_TRUE(back.Load(file)) << back.GetLastError();
  EXPECT_TRUE(SamePixels(back, ref));
}

TEST(Wbmp, HostileHeadersFailCleanly) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"type 1", {1, 0, 8, 1, 0}},
      {"no fixed header", {0}},
      {"size never ends", {0, 0, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 1}},
      {"size above 31 bits", {0, 0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0}},
      {"zero width", {0, 0, 0, 4, 0, 0, 0, 0}},
      {"data short", {0, 0, 16, 4, 1, 2, 3}},
      {"huge", {0, 0, 0x87, 0xFF, 0xFF, 0x7F, 0x87, 0xFF, 0xFF, 0x7F, 0}},
      {"unknown extension", {0, 0xE0, 8, 1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_WBMP));
    EXPECT_FALSE(image.GetLastError().empty());
  }
}

}  // namespace
