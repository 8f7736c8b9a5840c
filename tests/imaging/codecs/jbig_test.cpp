// JBIG: files made by pbmtojbg with several coding options, compared with
// jbgtopbm; writing; damaged files.
#include "test_support.h"
#include "formats/output_format.h"
#include "output_helpers.h"
#include "output/write_output.h"

using namespace testing_support;

namespace {

TEST(Jbig, ReadsPbmtojbgOutputLikeJbgtopbm) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 203, 61);  // width not a multiple of 8
  std::string pbm = dir / "pic.pbm", pgm = dir / "pic.pgm";
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(pic) + " | pgmtopbm > " + Quote(pbm)));
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(pic) + " | pamdepth 15 > " + Quote(pgm)));
  const struct {
    const char* name;
    const char* options;
    bool grey;
  } cases[] = {
      {"default", "", false},
      {"sequential", "-q", false},
      {"layers", "-d 3", false},
      {"stripes", "-q -s 5", false},
      {"typical-prediction-off", "-q -p 0", false},
      {"fax-profile", "-f", false},
      {"newlen", "-q -Y 100", false},
      {"grey-planes", "-q", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + ".jbg");
    ASSERT_TRUE(Tool("pbmtojbg " + std::string(c.options) + " " + Quote(c.grey ? pgm : pbm) + " " + Quote(file)));
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();  // by the extension
    EXPECT_EQ(image.GetType(), FORMAT_JBG);
    if (!c.grey) {
      EXPECT_EQ(image.GetBpp(), 1);
      EXPECT_TRUE(SamePixels(image, RefFromCommand("jbgtopbm " + Quote(file))));
    } else {
      // Four Gray-coded planes give back the 16 grey levels of the source.
      EXPECT_EQ(image.GetBpp(), 8);
      EXPECT_TRUE(SamePixels(image, RefFromCommand("pamdepth 255 " + Quote(pgm))));
      EXPECT_TRUE(SamePixels(image, RefFromCommand("jbgtopbm " + Quote(file) + " | pamdepth 255")));
    }
  }
}

TEST(Jbig, WritesABiLevelImageThatJbgtopbmReads) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 77, 31);
  CImage colour;
  ASSERT_TRUE(colour.Load(pic)) << colour.GetLastError();
  CImage bits;
  ASSERT_TRUE(bits.Create(77, 31, 1));
  for (int y = 0; y < 31; ++y)
    for (int x = 0; x < 77; ++x) bits.SetPixelIndex(x, y, (x / 4 + y / 3) % 2);
  for (const CImage* source : {&bits, &colour}) {
    std::string file = dir / "out.jbg";
    ASSERT_TRUE(source->Save(file, FORMAT_JBG)) << source->GetLastError();
    RefImage ref = RefFromCommand("jbgtopbm " + Quote(file));
    ASSERT_EQ(ref.width, 77);
    ASSERT_EQ(ref.height, 31);
    EXPECT_EQ(BlackWhiteMismatches(*source, ref), 0);
    CImage back;
    ASSERT_TRUE(back.Load(file)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(back, ref));
  }
}

// The keep-format writer writes a JBIG source as JBIG, like every format
// read but WMF and EMF.
TEST(Jbig, KeepFormatWritesAJbigSourceAsJbig) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 45, 20);
  std::string pbm = dir / "pic.pbm", jbg = dir / "scan.jbg";
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(pic) + " | pgmtopbm > " + Quote(pbm)));
  ASSERT_TRUE(Tool("pbmtojbg " + Quote(pbm) + " " + Quote(jbg)));
  CImage image;
  ASSERT_TRUE(image.Load(jbg)) << image.GetLastError();
  SourceInfo info;
  info.SourceFormat = FormatFromExtension(jbg);
  EXPECT_EQ(info.SourceFormat, FORMAT_JBG);
  CFormatKeep keep;
  std::string base = dir / "out";
  ASSERT_EQ(SaveOutput(keep, image, jbg, base, nullptr, 0, info), 0);
  EXPECT_EQ(base, dir / "out.jbg");
  EXPECT_TRUE(SamePixels(image, RefFromCommand("jbgtopbm " + Quote(dir / "out.jbg"))));
}

TEST(Jbig, DamagedFilesFailCleanly) {
  TempDir dir;
  std::string pbm = dir / "a.pbm", jbg = dir / "a.jbg";
  ASSERT_TRUE(Tool(std::string(ImConvert()) + " -size 64x64 pattern:checkerboard " + Quote(pbm)));
  ASSERT_TRUE(Tool("pbmtojbg -q " + Quote(pbm) + " " + Quote(jbg)));
  std::vector<uint8_t> good = ReadFileBytes(jbg);
  ASSERT_GT(good.size(), 24u);
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    return Patched(good, at, bytes);
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 12)},
      {"cut in the data", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() - 4))},
      {"zero planes", patched(2, {0})},
      {"nine planes", patched(2, {9})},
      {"zero width", patched(4, {0, 0, 0, 0})},
      {"huge", patched(4, {0x7F, 0, 0, 0, 0x7F, 0, 0, 0})},
      {"zero stripe height", patched(12, {0, 0, 0, 0})},
      {"garbage", std::vector<uint8_t>(64, 0xFF)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_JBG));
    EXPECT_FALSE(image.GetLastError().empty());
  }
}

}  // namespace
