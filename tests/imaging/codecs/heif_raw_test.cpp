// HEIC, AVIF and camera raw: files made by the formats' own tools decoded
// and compared with the tools' decodes; our HEIC/AVIF read back by
// heif-convert and exiftool; a DNG written with libtiff compared with
// dcraw_emu; damaged files failing with a reason.
#include <cmath>

#include "camera_files.h"
#include "imaging/byte_order.h"
#include "imaging/codecs/raw.h"
#include "imaging/metadata.h"
#include "imaging/metadata_ext.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// A well-formed RGB display profile without tags (header and an empty tag
// table), enough for libpng and exiftool to accept it.
std::vector<uint8_t> MinimalIccProfile() {
  std::vector<uint8_t> p(132, 0);
  auto put32 = [&p](size_t at, uint32_t v) { byte_order::SetBe32(&p[at], v); };
  auto put4 = [&p](size_t at, const char* text) { std::copy(text, text + 4, p.begin() + long(at)); };
  put32(0, 132);
  put32(8, 0x02100000);  // version 2.1
  put4(12, "mntr");
  put4(16, "RGB ");
  put4(20, "XYZ ");
  put4(36, "acsp");
  put32(68, 0x0000F6D6);  // D50 white
  put32(72, 0x00010000);
  put32(76, 0x0000D32D);
  return p;
}

struct ToolCase {
  const char* name;
  const char* command;  // %s source PNG, %o output file
  const char* file;
  int format;
  bool alpha;
};

std::string Fill(std::string text, const std::string& src, const std::string& out) {
  text.replace(text.find("%s"), 2, Quote(src));
  text.replace(text.find("%o"), 2, Quote(out));
  return text;
}

TEST(HeifAvif, ToolFilesDecodeLikeTheToolsDecodeThem) {
  const ToolCase cases[] = {
      {"heic 8-bit", "heif-enc -q 85 %s -o %o", "a.heic", FORMAT_HEIF, false},
      {"heic alpha", "heif-enc -q 85 %s -o %o", "alpha.heic", FORMAT_HEIF, true},
      {"avif 8-bit", "avifenc --min 8 --max 16 -s 8 %s %o", "a.avif", FORMAT_AVIF, false},
      {"avif 10-bit", "avifenc -d 10 --min 8 --max 16 -s 8 %s %o", "deep.avif", FORMAT_AVIF, false},
      {"avif 12-bit alpha", "avifenc -d 12 --min 8 --max 16 -s 8 %s %o", "deep_alpha.avif", FORMAT_AVIF,
       true},
  };
  TempDir dir;
  const std::string opaque = MakePicture(dir, "src.png", 96, 64);
  const std::string transparent =
      MakePicture(dir, "srca.png", 96, 64,
                  "\\( +clone -fx 'i/w' \\) -alpha off -compose copy_opacity -composite");
  for (const ToolCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir / c.file;
    ASSERT_TRUE(Tool(Fill(c.command, c.alpha ? transparent : opaque, file) + " >/dev/null"));
    CImage image;
    ASSERT_TRUE(image.Load(file)) << image.GetLastError();
    EXPECT_EQ(image.GetType(), c.format);
    const std::string png = dir / (std::string(c.file) + ".png");
    ASSERT_TRUE(Tool("heif-convert " + Quote(file) + " " + Quote(png) + " >/dev/null"));
    // heif-convert writes 16-bit PNGs for deep pictures; ImageMagick
    // rounds them to 8 bits as we do.
    RefImage ref = ImRgb(png);
    EXPECT_GE(PsnrToRef(image, ref), 45.0);
    EXPECT_TRUE(SamePixels(image, ref, 2));
    EXPECT_EQ(image.AlphaIsValid(), c.alpha);
    if (c.alpha) {
      RefImage refAlpha = ImAlpha(png);
      int off = 0;
      for (int y = 0; y < refAlpha.height; ++y)
        for (int x = 0; x < refAlpha.width; ++x)
          off += std::abs(image.GetPixelColor(x, refAlpha.height - 1 - y, true).reserved -
                          refAlpha.at(x, y, 0)) > 1;
      EXPECT_EQ(off, 0);
    }
  }
}

TEST(HeifAvif, RotatedHeicComesOutUprightOnceAndItsTagReadsOne) {
  TempDir dir;
  const std::string file = dir / "turned.heic";
  // Stored 64x32, red left, blue right; turned 90 degrees clockwise by the
  // container, and the EXIF says the same.
  ASSERT_TRUE(camera_files::MakeOrientedHeic(file, 64, 32, 6));
  CImage image;
  ASSERT_TRUE(image.Load(file)) << image.GetLastError();
  ASSERT_EQ(image.GetWidth(), 32);
  ASSERT_EQ(image.GetHeight(), 64);
  EXPECT_GT(TopLeftPixel(image, 16, 4).red, 150);
  EXPECT_GT(TopLeftPixel(image, 16, 60).blue, 150);
  // The decoder carries the EXIF block from its TIFF header on.
  const auto& exif = image.GetExifBlock();
  ASSERT_GE(exif.size(), 8u);
  EXPECT_EQ(std::string(exif.begin(), exif.begin() + 4), std::string("II*\0", 4));

  PropertyItemList items;
  ASSERT_TRUE(InitMetadataSupport());
  ASSERT_EQ(ReadAllProperties(file, items), 2);
  std::string artist, orientation;
  EXPECT_TRUE(FindPropertyText(&items, 2, kTagArtist, artist));
  EXPECT_EQ(artist, "Tester");
  ASSERT_TRUE(FindPropertyItem(&items, 2, kTagOrientation));
  EXPECT_EQ(FindPropertyItem(&items, 2, kTagOrientation)->value[0], 1);
}

TEST(HeifAvif, OurFilesReadBackByTheirToolsWithTheirMetadata) {
  TempDir dir;
  CImage picture;
  ASSERT_TRUE(picture.Load(MakePicture(dir, "src.png", 80, 48))) << picture.GetLastError();
  // A little-endian EXIF block with the artist, and an XMP packet.
  const uint8_t exif[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x3B, 0x01, 2, 0, 5, 0, 0, 0,
                          26, 0, 0, 0, 0, 0, 0, 0, 'A', 'n', 'n', 'a', 0};
  const std::string xmp =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
      "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:creator><rdf:Seq><rdf:li>Anna "
      "X</rdf:li></rdf:Seq></dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>";
  picture.SetExifBlock(std::vector<uint8_t>(exif, exif + sizeof exif));
  picture.SetXmpPacket(std::vector<uint8_t>(xmp.begin(), xmp.end()));
  const std::vector<uint8_t> icc = MinimalIccProfile();
  picture.SetIccProfile(icc);
  const struct {
    int format;
    uint32_t option;
    const char* file;
    const char* chroma;  // what heif-info says
  } cases[] = {
      {FORMAT_HEIF, 0, "default.heic", "4:2:0"},
      {FORMAT_HEIF, 92 | (9u << 8) | 0x1000, "full.heic", "4:4:4"},
      {FORMAT_AVIF, 0, "default.avif", "4:2:0"},
      {FORMAT_AVIF, 90 | (8u << 8) | 0x1000, "full.avif", "4:4:4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    picture.SetCodecOption(c.option, c.format);
    const std::string file = dir / c.file;
    ASSERT_TRUE(picture.Save(file, c.format)) << picture.GetLastError();
    const std::string png = file + ".png";
    ASSERT_TRUE(Tool("heif-convert " + Quote(file) + " " + Quote(png) + " >/dev/null"));
    EXPECT_GE(PsnrToRef(picture, ImRgb(png)), c.option ? 38.0 : 29.0);
    const std::string info = RunOutput("heif-info " + Quote(file) + " 2>&1");
    EXPECT_NE(info.find(c.format == FORMAT_AVIF ? "image/avif" : "image/heic"), std::string::npos)
        << info;
    EXPECT_NE(info.find("color profile: prof"), std::string::npos) << info;
    EXPECT_EQ(RunOutput("exiftool -s3 -Artist -XMP-dc:Creator " + Quote(file)), "Anna\nAnna X\n");
    CImage back;
    ASSERT_TRUE(back.Load(file)) << back.GetLastError();
    EXPECT_EQ(back.GetType(), c.format);
    EXPECT_EQ(back.GetExifBlock(), picture.GetExifBlock());
    EXPECT_EQ(back.GetIccProfile(), icc);
    EXPECT_EQ(std::string(back.GetXmpPacket().begin(), back.GetXmpPacket().end()), xmp);
  }
}

TEST(CameraRaw, DngDevelopsLikeDcrawEmuAndPreviewIsTurned) {
  TempDir dir;
  const std::string file = dir / "shot.dng";
  ASSERT_TRUE(camera_files::MakeTestDng(file, 64, 48, 6));
  CImage image;
  ASSERT_TRUE(image.Load(file)) << image.GetLastError();
  EXPECT_EQ(image.GetType(), FORMAT_RAW);  // not the TIFF codec
  // dcraw_emu with the camera's white balance and sRGB output, 8 bits.
  ASSERT_TRUE(Tool("dcraw_emu -w -o 1 " + Quote(file)));
  RefImage ref = RefFromCommand("cat " + Quote(file + ".ppm"));
  ASSERT_EQ(ref.width, 48);  // the camera's orientation turns it
  EXPECT_TRUE(SamePixels(image, ref, 0));
  // The reddish half ends up on top.
  EXPECT_GT(TopLeftPixel(image, 24, 2).red, TopLeftPixel(image, 24, 2).blue);
  EXPECT_LT(TopLeftPixel(image, 24, 60).red, TopLeftPixel(image, 24, 60).blue);

  // The embedded preview, turned the same way; the full size is reported.
  const auto bytes = ReadFileBytes(file);
  ASSERT_TRUE(IsRawFile(bytes.data(), bytes.size()));
  CImage preview;
  int w = 0, h = 0;
  ASSERT_TRUE(DecodeRawPreview(preview, bytes.data(), bytes.size(), 16, 16, &w, &h))
      << preview.GetLastError();
  EXPECT_EQ(w, 48);
  EXPECT_EQ(h, 64);
  ASSERT_EQ(preview.GetWidth(), 24);
  ASSERT_EQ(preview.GetHeight(), 32);
  EXPECT_EQ(TopLeftPixel(preview, 12, 2).red, 220);
  EXPECT_EQ(TopLeftPixel(preview, 12, 30).blue, 220);
  // Asked for more than the preview holds: developed at half size.
  ASSERT_TRUE(DecodeRawPreview(preview, bytes.data(), bytes.size(), 200, 200));
  EXPECT_EQ(preview.GetWidth(), 24);
  EXPECT_EQ(preview.GetHeight(), 32);
  EXPECT_GT(TopLeftPixel(preview, 12, 2).red, TopLeftPixel(preview, 12, 2).blue);

  // A plain TIFF is still the TIFF codec's; raw files are read only.
  CImage tiff;
  ASSERT_TRUE(tiff.Load(MakePicture(dir, "plain.tif", 8, 8)));
  EXPECT_EQ(tiff.GetType(), FORMAT_TIF);
  std::vector<uint8_t> out;
  EXPECT_FALSE(image.Encode(out, FORMAT_RAW));
  EXPECT_NE(image.GetLastError().find("writing is not supported"), std::string::npos);
  // Its metadata: the orientation is already applied.
  PropertyItemList items;
  ASSERT_TRUE(InitMetadataSupport());
  const int count = ReadAllProperties(file, items);
  ASSERT_GT(count, 0);
  const PropertyItem* orientation = FindPropertyItem(&items, count, kTagOrientation);
  ASSERT_NE(orientation, nullptr);
  EXPECT_EQ(orientation->value[0], 1);
}

TEST(HeifAvifRaw, DamagedAndOversizedFilesFailWithAReason) {
  TempDir dir;
  const std::string src = MakePicture(dir, "src.png", 64, 48);
  ASSERT_TRUE(Tool("heif-enc -q 80 " + Quote(src) + " -o " + Quote(dir / "a.heic") + " >/dev/null"));
  ASSERT_TRUE(Tool("avifenc -s 9 " + Quote(src) + " " + Quote(dir / "a.avif") + " >/dev/null"));
  ASSERT_TRUE(camera_files::MakeTestDng(dir / "a.dng", 64, 48, 1));
  for (const char* name : {"a.heic", "a.avif", "a.dng"}) {
    SCOPED_TRACE(name);
    const auto whole = ReadFileBytes(dir / name);
    for (double keep : {0.5, 0.9}) {
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(whole.size() * keep));
      CImage image;
      EXPECT_FALSE(DecodeBytes(image, cut, FORMAT_UNKNOWN)) << keep;
      EXPECT_FALSE(image.GetLastError().empty());
    }
    // Garbage after a valid start.
    std::vector<uint8_t> junk(whole.begin(), whole.begin() + 40);
    for (int i = 0; i < 4000; ++i) junk.push_back(uint8_t(i * 131 + 7));
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, junk, FORMAT_UNKNOWN));
    EXPECT_FALSE(image.GetLastError().empty());
    // Above the pixel limit: refused by its declared size.
    const uint64_t limit = CImage::GetPixelLimit();
    CImage::SetPixelLimit(1000);
    CImage big;
    EXPECT_FALSE(big.Load(dir / name));
    CImage::SetPixelLimit(limit);
    EXPECT_NE(big.GetLastError().find("pixel limit"), std::string::npos) << big.GetLastError();
  }
}

}  // namespace
