// PGX: files of OpenJPEG at several depths, signed and little-endian
// samples, writing, hostile headers.
#include "test_support.h"

using namespace testing_support;

namespace {

// opj_compress makes a code stream from a PGM; opj_decompress writes it
// back as PGX at the precision of the source.
TEST(Pgx, ReadsFilesOfOpenJpeg) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.pgm", 23, 13, "-colorspace gray");
  const struct {
    const char* name;
    const char* depth;  // pamdepth argument
    const char* header;
  } cases[] = {
      {"8bit", "255", "PG ML + 8 23 13"},
      {"12bit", "4095", "PG ML + 12 23 13"},
      {"16bit", "65535", "PG ML + 16 23 13"},
      {"10bit", "1023", "PG ML + 10 23 13"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string pgm = dir / (std::string(c.name) + ".pgm");
    std::string j2k = dir / (std::string(c.name) + ".j2k");
    std::string base = dir / c.name;
    ASSERT_TRUE(Tool("pamdepth " + std::string(c.depth) + " " + Quote(pic) + " > " + Quote(pgm)));
    ASSERT_TRUE(Tool("opj_compress -n 2 -i " + Quote(pgm) + " -o " + Quote(j2k) + " > /dev/null 2>&1"));
    ASSERT_TRUE(Tool("opj_decompress -i " + Quote(j2k) + " -o " + Quote(base + ".pgx") + " > /dev/null 2>&1"));
    std::string file = base + "_0.pgx";  // opj_decompress names the component
    std::string text = ReadFileText(file);
    EXPECT_EQ(text.substr(0, text.find('\n')), c.header);
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    EXPECT_EQ(image.GetType(), FORMAT_PGX);
    EXPECT_EQ(image.GetBpp(), 8);
    EXPECT_TRUE(SamePixels(image, RefFromCommand("pamdepth 255 " + Quote(pgm))));
  }
}

TEST(Pgx, SignedAndLittleEndianSamples) {
  const struct {
    const char* name;
    std::string bytes;
    uint8_t expected[3];
  } cases[] = {
      // Signed 8 bits: -128 is black, 127 white, 0 mid grey.
      {"signed 8", std::string("PG ML - 8 3 1\n") + std::string("\x80\x7f\x00", 3), {0, 255, 128}},
      // 16 bits both ways round.
      {"big endian", std::string("PG ML + 16 3 1\n") + std::string("\x00\x00\xff\xff\x80\x00", 6), {0, 255, 128}},
      {"little endian", std::string("PG LM +16 3 1\n") + std::string("\x00\x00\xff\xff\x00\x80", 6), {0, 255, 128}},
      // Signed 12 bits in two bytes: -2048 .. 2047.
      {"signed 12", std::string("PG ML -12 3 1\n") + std::string("\xf8\x00\x07\xff\x00\x00", 6), {0, 255, 128}},
      // Values above the depth are clipped.
      {"over depth", std::string("PG ML + 4 3 1\n") + std::string("\x0f\xff\x00", 3), {255, 255, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    ASSERT_TRUE(DecodeBytes(image, bytes, FORMAT_UNKNOWN)) << image.GetLastError();
    for (int x = 0; x < 3; ++x) EXPECT_EQ(image.GetPixelColor(x, 0, false).red, c.expected[x]) << x;
  }
}

TEST(Pgx, WritesEightBitsReadByOpenJpeg) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 19, 11);
  CImage colour;
  ASSERT_TRUE(colour.Load(pic)) << colour.GetLastError();
  std::string file = dir / "out.pgx";
  ASSERT_TRUE(colour.Save(file, FORMAT_PGX)) << colour.GetLastError();
  std::string text = ReadFileText(file);
  EXPECT_EQ(text.substr(0, text.find('\n')), "PG ML + 8 19 11");
  // OpenJPEG reads it: compress losslessly and decompress to a PGM.
  std::string j2k = dir / "out.j2k", pgm = dir / "back.pgm";
  ASSERT_TRUE(Tool("opj_compress -n 2 -i " + Quote(file) + " -o " + Quote(j2k) + " > /dev/null 2>&1"));
  ASSERT_TRUE(Tool("opj_decompress -i " + Quote(j2k) + " -o " + Quote(pgm) + " > /dev/null 2>&1"));
  // OpenJPEG takes the precision of a PGX from its largest sample, so its
  // PGM may have a maxval below 255: compare the stored values.
  RefImage ref = RefFromCommand("cat " + Quote(pgm), true);
  CImage back;
  ASSERT_TRUE(back.Load(file)) << back.GetLastError();
  EXPECT_TRUE(SamePixels(back, ref));
  // The grey values are the luminance of the colours, as netpbm computes it.
  EXPECT_TRUE(SamePixels(back, RefFromCommand("ppmtopgm " + Quote(pic)), 1));
}

TEST(Pgx, HostileHeadersFailCleanly) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"no byte order", "PG  + 8 2 2\nabcd"},
      {"depth 0", "PG ML + 0 2 2\nabcd"},
      {"depth 17", "PG ML + 17 2 2\nabcdabcdabcdabcd"},
      {"zero width", "PG ML + 8 0 2\nabcd"},
      {"two signs", "PG ML +- 8 2 2\nabcd"},
      {"no line end", "PG ML + 8 2 2"},
      {"data short", "PG ML + 8 2 2\nabc"},
      {"16-bit data short", "PG ML + 16 2 2\nabcdefg"},
      {"huge", "PG ML + 8 70000 70000\nabcd"},
      {"number overflow", "PG ML + 8 99999999999 1\nabcd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_FALSE(DecodeBytes(image, bytes, FORMAT_PGX));
    EXPECT_FALSE(image.GetLastError().empty());
  }
}

}  // namespace
