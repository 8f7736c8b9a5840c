// JPEG 2000: JP2 files and code streams made by opj_compress at several
// component counts and precisions, compared with opj_decompress; writing
// both kinds; damaged files.
#include "test_support.h"

using namespace testing_support;

namespace {

std::string Opj(const std::string& args) { return args + " > /dev/null 2>&1"; }

// What opj_decompress makes of a file, scaled to 8 bits by netpbm.
RefImage OpjRgb(const TempDir& dir, const std::string& file, bool grey) {
  std::string out = dir / (grey ? "ref.pgm" : "ref.ppm");
  EXPECT_TRUE(Tool(Opj("opj_decompress -i " + Quote(file) + " -o " + Quote(out))));
  return RefFromCommand("pamdepth 255 " + Quote(out));
}

TEST(Jpeg2000, ReadsOpjCompressOutputLikeOpjDecompress) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 45, 27);
  std::string grey = dir / "grey.pgm", pic16 = dir / "pic16.ppm", grey16 = dir / "grey16.pgm",
              pic12 = dir / "pic12.ppm", grey5 = dir / "grey5.pgm";
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(pic) + " > " + Quote(grey)));
  ASSERT_TRUE(Tool("pamdepth 65535 " + Quote(pic) + " > " + Quote(pic16)));
  ASSERT_TRUE(Tool("pamdepth 65535 " + Quote(grey) + " > " + Quote(grey16)));
  ASSERT_TRUE(Tool("pamdepth 4095 " + Quote(pic) + " > " + Quote(pic12)));
  ASSERT_TRUE(Tool("pamdepth 31 " + Quote(grey) + " > " + Quote(grey5)));
  const struct {
    const char* name;
    std::string source;
    const char* ext;
    const char* options;
    bool grey;
    uint32_t jp2Option;  // recorded for the JP2 code: bare code stream or not
  } cases[] = {
      {"rgb8-jp2", pic, "jp2", "", false, 0},
      {"rgb8-j2k", pic, "j2k", "", false, 0x100},
      {"rgb8-jpc", pic, "jpc", "", false, 0x100},
      {"rgb8-j2c", pic, "j2c", "", false, 0x100},
      {"grey8-jp2", grey, "jp2", "", true, 0},
      {"rgb16-jp2", pic16, "jp2", "", false, 0},
      {"grey16-j2k", grey16, "j2k", "", true, 0x100},
      {"rgb12-j2k", pic12, "j2k", "", false, 0x100},
      {"grey5-jp2", grey5, "jp2", "", true, 0},
      {"rgb8-lossy-jp2", pic, "jp2", "-r 20", false, 0},
      {"rgb8-tiles-j2k", pic, "j2k", "-t 16,16", false, 0x100},
      {"rgb8-rpcl-j2k", pic, "j2k", "-p RPCL -n 3", false, 0x100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + "." + c.ext);
    ASSERT_TRUE(Tool(Opj("opj_compress -n 4 " + std::string(c.options) + " -i " + Quote(c.source) +
                         " -o " + Quote(file))));
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    EXPECT_EQ(image.GetBpp(), c.grey ? 8 : 24);
    EXPECT_FALSE(image.AlphaIsValid());
    EXPECT_EQ(image.GetCodecOption(FORMAT_JP2), c.jp2Option);
    EXPECT_TRUE(SamePixels(image, OpjRgb(dir, file, c.grey)));
  }
}

TEST(Jpeg2000, AlphaFromAFourthComponent) {
  TempDir dir;
  std::string png = MakePicture(dir, "alpha.png", 33, 20, "-alpha set -channel A -fx 'i/w' +channel");
  for (const char* ext : {"jp2", "j2k"}) {
    SCOPED_TRACE(ext);
    std::string file = dir / (std::string("alpha.") + ext);
    ASSERT_TRUE(Tool(Opj("opj_compress -n 3 -i " + Quote(png) + " -o " + Quote(file))));
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    ASSERT_TRUE(image.AlphaIsValid());
    std::string back = dir / "back.png";
    ASSERT_TRUE(Tool(Opj("opj_decompress -i " + Quote(file) + " -o " + Quote(back))));
    EXPECT_TRUE(SamePixels(image, ImRgb(back)));
    EXPECT_TRUE(SameAlpha(image, ImAlpha(back)));
  }
}

TEST(Jpeg2000, ContentDecidesBetweenFileAndCodeStream) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 20, 10);
  std::string jp2 = dir / "a.jp2", j2k = dir / "a.j2k";
  ASSERT_TRUE(Tool(Opj("opj_compress -n 2 -i " + Quote(pic) + " -o " + Quote(jp2))));
  ASSERT_TRUE(Tool(Opj("opj_compress -n 2 -i " + Quote(pic) + " -o " + Quote(j2k))));
  std::vector<uint8_t> fileBytes = ReadFileBytes(jp2), streamBytes = ReadFileBytes(j2k);
  // Either codec reads either kind; detection gives each its own type.
  for (int format : {FORMAT_JP2, FORMAT_JPC}) {
    CImage a, b;
    EXPECT_TRUE(DecodeBytes(a, fileBytes, format)) << a.GetLastError();
    EXPECT_TRUE(DecodeBytes(b, streamBytes, format)) << b.GetLastError();
  }
  CImage a, b;
  ASSERT_TRUE(DecodeBytes(a, fileBytes, FORMAT_UNKNOWN));
  ASSERT_TRUE(DecodeBytes(b, streamBytes, FORMAT_UNKNOWN));
  EXPECT_EQ(a.GetType(), FORMAT_JP2);
  EXPECT_EQ(b.GetType(), FORMAT_JPC);
}

TEST(Jpeg2000, WritesFilesAndCodeStreamsThatOpenJpegReads) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 41, 23);
  CImage colour;
  ASSERT_TRUE(colour.Load(pic)) << colour.GetLastError();
  CImage grey;
  ASSERT_TRUE(grey.Create(41, 23, 8));
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 41; ++x) grey.SetPixelIndex(x, y, uint8_t(x * 6 + y));
  CImage alpha(colour);
  ASSERT_TRUE(alpha.AlphaCreate());
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 41; ++x) *alpha.AlphaGetPointer(x, y) = uint8_t(x * 5);
  CImage tiny;  // smaller than the default resolution levels allow
  ASSERT_TRUE(tiny.Create(3, 2, 24));
  tiny.SetPixelColor(1, 1, RGBQuad{10, 200, 30, 0});

  const struct {
    const char* name;
    const CImage* image;
    int format;
    uint32_t option;
    bool codeStream;
  } cases[] = {
      {"colour.jp2", &colour, FORMAT_JP2, 0, false},
      {"colour.j2k", &colour, FORMAT_JP2, 0x100, true},
      {"colour.jpc", &colour, FORMAT_JPC, 0, true},
      {"grey.jp2", &grey, FORMAT_JP2, 0, false},
      {"grey.j2c", &grey, FORMAT_JPC, 0, true},
      {"alpha.jp2", &alpha, FORMAT_JP2, 0, false},
      {"tiny.jp2", &tiny, FORMAT_JP2, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image(*c.image);
    image.SetCodecOption(c.option, c.format);
    std::string file = dir / c.name;
    ASSERT_TRUE(image.Save(file, c.format)) << image.GetLastError();
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(bytes[0] == 0xFF && bytes[1] == 0x4F, c.codeStream);
    EXPECT_EQ(bytes[4] == 'j' && bytes[5] == 'P', !c.codeStream);
    std::string back = dir / "back.png";
    ASSERT_TRUE(Tool(Opj("opj_decompress -i " + Quote(file) + " -o " + Quote(back))));
    EXPECT_TRUE(SamePixels(image, ImRgb(back)));  // lossless by default
    if (image.AlphaIsValid()) {
      EXPECT_TRUE(SameAlpha(image, ImAlpha(back)));
    }
    CImage again;
    ASSERT_TRUE(again.Load(file)) << again.GetLastError();
    EXPECT_TRUE(SamePixels(again, ImRgb(back)));
  }
}

TEST(Jpeg2000, KeepFormatSavesABareCodeStreamAsOneAgain) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 20, 10);
  std::string j2k = dir / "in.j2k";
  ASSERT_TRUE(Tool(Opj("opj_compress -n 2 -i " + Quote(pic) + " -o " + Quote(j2k))));
  CImage image;
  ASSERT_TRUE(image.Load(j2k)) << image.GetLastError();
  // As the keep-format writer does: the ".j2k" extension maps to the JP2 code.
  image.SetCodecOption(image.GetCodecOption(FORMAT_JP2), FORMAT_JP2);
  std::vector<uint8_t> out;
  ASSERT_TRUE(image.Encode(out, FORMAT_JP2)) << image.GetLastError();
  ASSERT_GE(out.size(), 4u);
  EXPECT_TRUE(out[0] == 0xFF && out[1] == 0x4F);
}

TEST(Jpeg2000, LossyRatioShrinksTheFile) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 64, 64);
  CImage image;
  ASSERT_TRUE(image.Load(pic));
  std::vector<uint8_t> lossless, lossy;
  ASSERT_TRUE(image.Encode(lossless, FORMAT_JPC));
  image.SetCodecOption(20, FORMAT_JPC);
  ASSERT_TRUE(image.Encode(lossy, FORMAT_JPC));
  EXPECT_LT(lossy.size() * 3, lossless.size());
  CImage back;
  ASSERT_TRUE(DecodeBytes(back, lossy, FORMAT_JPC));
  RefImage ref = RefFromCommand("cat " + Quote(pic));
  EXPECT_TRUE(SamePixels(back, ref, 40));
}

TEST(Jpeg2000, DamagedFilesFailCleanly) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 40, 30);
  std::string jp2 = dir / "a.jp2", j2k = dir / "a.j2k";
  ASSERT_TRUE(Tool(Opj("opj_compress -n 3 -i " + Quote(pic) + " -o " + Quote(jp2))));
  ASSERT_TRUE(Tool(Opj("opj_compress -n 3 -i " + Quote(pic) + " -o " + Quote(j2k))));
  std::vector<uint8_t> file = ReadFileBytes(jp2), stream = ReadFileBytes(j2k);
  std::vector<uint8_t> huge = stream;  // SIZ: Xsiz and Ysiz at bytes 8 and 12
  huge[8] = huge[12] = 0x7F;
  std::vector<uint8_t> zero = stream;
  zero[8] = zero[9] = zero[10] = zero[11] = 0;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"code stream cut in the header", std::vector<uint8_t>(stream.begin(), stream.begin() + 30)},
      {"code stream cut in the data", std::vector<uint8_t>(stream.begin(), stream.begin() + long(stream.size() / 2))},
      {"file cut after the signature", std::vector<uint8_t>(file.begin(), file.begin() + 20)},
      {"file cut in the data", std::vector<uint8_t>(file.begin(), file.begin() + long(file.size() / 2))},
      {"huge size", huge},
      {"zero width", zero},
      {"signature only", std::vector<uint8_t>{0xFF, 0x4F, 0xFF, 0x51}},
      {"not JPEG 2000", std::vector<uint8_t>(100, 0x42)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_JP2));
    EXPECT_FALSE(image.GetLastError().empty());
  }
}

}  // namespace
