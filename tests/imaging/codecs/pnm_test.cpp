// PBM, PGM and PPM: files made by netpbm and ImageMagick, several images in
// one file, writing and hostile headers.
#include "test_support.h"

using namespace testing_support;

namespace {

struct PnmCase {
  const char* name;
  const char* pipeline;  // netpbm commands after "< picture.ppm"
  int bpp;
  int option;            // codec option recorded on read (1 = plain)
};

// Every variant is decoded and compared with netpbm's own 8-bit raw output
// of the same file.
TEST(Pnm, ReadsEveryVariantLikeNetpbm) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 37, 23);
  const PnmCase cases[] = {
      {"p6", "cat", 24, 0},
      {"p5", "ppmtopgm", 8, 0},
      {"p4", "ppmtopgm | pgmtopbm", 1, 0},
      {"p3", "pnmtoplainpnm", 24, 1},
      {"p2", "ppmtopgm | pnmtoplainpnm", 8, 1},
      {"p1", "ppmtopgm | pgmtopbm | pnmtoplainpnm", 1, 1},
      {"p6-16bit", "pamdepth 65535", 24, 0},
      {"p5-16bit", "ppmtopgm | pamdepth 65535", 8, 0},
      {"p3-16bit", "pamdepth 65535 | pnmtoplainpnm", 24, 1},
      {"p6-maxval1000", "pamdepth 1000", 24, 0},
      {"p5-maxval3", "ppmtopgm | pamdepth 3", 8, 0},
      {"p2-maxval300", "ppmtopgm | pamdepth 300 | pnmtoplainpnm", 8, 1},
  };
  for (const PnmCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir / (std::string(c.name) + ".pnm");
    ASSERT_TRUE(Tool("(" + std::string(c.pipeline) + ") < " + Quote(pic) + " > " + Quote(file)));
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    EXPECT_EQ(image.GetType(), FORMAT_PNM);
    EXPECT_EQ(image.GetBpp(), c.bpp);
    EXPECT_EQ(image.GetNumFrames(), 1);
    EXPECT_EQ(image.GetCodecOption(FORMAT_PNM), uint32_t(c.option));
    RefImage ref = RefFromCommand("pamdepth 255 " + Quote(file) + " | pamtopnm");
    EXPECT_TRUE(SamePixels(image, ref));
  }
}

TEST(Pnm, CommentsAndLooseWhiteSpace) {
  TempDir dir;
  std::string file = dir / "c.pgm";
  // Comments in the header, samples spread over lines, bits run together.
  WriteFileText(file, "P2 # grey\n# width and height\n3\t2 #x\n255\n0 128\n255\n\n7 8 9\n");
  CImage image;
  ASSERT_TRUE(image.Load(file)) << image.GetLastError();
  EXPECT_EQ(image.GetPixelColor(1, 1, false).red, 128);
  EXPECT_EQ(image.GetPixelColor(2, 0, false).red, 9);
  WriteFileText(file, "P1\n4 2\n0110\n1 0 0 1\n");
  ASSERT_TRUE(image.Load(file)) << image.GetLastError();
  EXPECT_EQ(image.GetPixelColor(0, 1, false).red, 255);
  EXPECT_EQ(image.GetPixelColor(1, 1, false).red, 0);
  EXPECT_EQ(image.GetPixelColor(0, 0, false).red, 0);
}

TEST(Pnm, SeveralImagesInOneFileAreFrames) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 11, 7);
  std::string small = MakePicture(dir, "small.ppm", 5, 3);
  std::string grey = dir / "grey.pgm", plainBits = dir / "bits.pbm", all = dir / "all.ppm";
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(small) + " > " + Quote(grey)));
  ASSERT_TRUE(Tool("ppmtopgm " + Quote(pic) + " | pgmtopbm | pnmtoplainpnm > " + Quote(plainBits)));
  ASSERT_TRUE(Tool("cat " + Quote(pic) + " " + Quote(grey) + " " + Quote(plainBits) + " > " + Quote(all)));
  const struct {
    int frame;
    std::string source;
    int width, bpp;
  } frames[] = {{0, pic, 11, 24}, {1, grey, 5, 8}, {2, plainBits, 11, 1}};
  for (const auto& f : frames) {
    SCOPED_TRACE(f.frame);
    CImage image;
    image.SetFrame(f.frame);
    ASSERT_TRUE(image.Load(all)) << image.GetLastError();
    EXPECT_EQ(image.GetNumFrames(), 3);
    EXPECT_EQ(image.GetWidth(), f.width);
    EXPECT_EQ(image.GetBpp(), f.bpp);
    EXPECT_TRUE(SamePixels(image, RefFromCommand("pamtopnm < " + Quote(f.source))));
  }
  CImage image;
  image.SetFrame(3);
  EXPECT_FALSE(image.Load(all));
  EXPECT_NE(image.GetLastError().find("frame"), std::string::npos);
}

TEST(Pnm, WritesByDepthAndNetpbmReadsIt) {
  TempDir dir;
  std::string pic = MakePicture(dir, "pic.ppm", 29, 13);
  CImage colour;
  ASSERT_TRUE(colour.Load(pic)) << colour.GetLastError();
  CImage grey;
  // A grey palette image made by hand: index = red channel.
  ASSERT_TRUE(grey.Create(29, 13, 8));
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 29; ++x) grey.SetPixelIndex(x, y, colour.GetPixelColor(x, y).red);
  CImage bits;
  ASSERT_TRUE(bits.Create(29, 13, 1));
  bits.SetPaletteColor(0, 255, 255, 255);  // index 0 white, 1 black here
  bits.SetPaletteColor(1, 0, 0, 0);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 29; ++x) bits.SetPixelIndex(x, y, (x * y) % 3 == 0);
  CImage colourPalette;
  ASSERT_TRUE(colourPalette.Create(4, 2, 4));
  colourPalette.SetPaletteColor(1, 200, 10, 30);
  colourPalette.SetPixelIndex(2, 1, 1);

  const struct {
    const char* name;
    const CImage* image;
    uint32_t option;
    const char* pamfile;  // what netpbm says about the file
  } cases[] = {
      {"colour", &colour, 0, "PPM raw"},          {"grey", &grey, 0, "PGM raw"},
      {"bits", &bits, 0, "PBM raw"},              {"palette", &colourPalette, 0, "PPM raw"},
      {"colour-plain", &colour, 1, "PPM plain"},  {"grey-plain", &grey, 1, "PGM plain"},
      {"bits-plain", &bits, 1, "PBM plain"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image(*c.image);
    image.SetCodecOption(c.option, FORMAT_PNM);
    std::string file = dir / (std::string(c.name) + ".pnm");
    ASSERT_TRUE(image.Save(file, FORMAT_PNM)) << image.GetLastError();
    std::string info = RunOutput("pamfile " + Quote(file));
    EXPECT_NE(info.find(c.pamfile), std::string::npos) << info;
    EXPECT_TRUE(SamePixels(image, RefFromCommand("pamtopnm < " + Quote(file))));
    CImage back;
    ASSERT_TRUE(back.Load(file)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(back, RefFromCommand("pamtopnm < " + Quote(file))));
  }
}

TEST(Pnm, HostileHeadersFailCleanly) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"zero width", "P6\n0 5\n255\n"},
      {"zero maxval", "P5\n2 2\n0\nabcd"},
      {"maxval too big", "P5\n2 2\n70000\nabcdefgh"},
      {"huge size", "P5\n100000 100000\n255\nabcd"},
      {"size above 32 bits", "P5\n99999999999 1\n255\nabcd"},
      {"raw data short", "P6\n4 4\n255\nabc"},
      {"16-bit data short", "P5\n2 2\n1000\nabcdef"},
      {"no separator after maxval", "P5\n1 1\n255"},
      {"plain data short", "P2\n3 3\n255\n1 2 3 4"},
      {"plain bit not 0 or 1", "P1\n2 1\n0 2\n"},
      {"garbage sample", "P3\n1 1\n255\n1 x 3\n"},
      {"missing height", "P4\n8\n"},
      {"negative width", "P4\n-8 1\n\xff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_FALSE(DecodeBytes(image, bytes, FORMAT_PNM));
    EXPECT_FALSE(image.GetLastError().empty());
    EXPECT_FALSE(image.IsValid());
  }
}

}  // namespace
