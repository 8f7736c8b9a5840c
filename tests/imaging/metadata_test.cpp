// Metadata: items read from files tagged by exiftool, and JPEG and PNG
// outputs rewritten with kept items and the user's values, read back by
// exiftool, with the pixel data untouched.
#include "imaging/metadata.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <thread>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"
#include "imaging/metadata_ext.h"
#include "output_helpers.h"
#include "output/write_output.h"
#include "test_support.h"

namespace {

using namespace testing_support;
using testing_support::ReadFileBytes;

const PropertyItem* Item(const PropertyItemList& items, uint32_t id) {
  return FindPropertyItem(&items, int(items.size()), id);
}

// A camera-like JPEG: ImageMagick's picture with exiftool's tags.
std::string MakeCameraJpeg(const TempDir& tmp, const std::string& name = "camera.jpg") {
  const std::string path = tmp / name;
  Convert("-size 64x48 gradient:red-blue " + Quote(path));
  ExifToolWrite(path,
                "-Make=Canon -Model='EOS 5' -Artist=Ann -ImageDescription=desc "
                "-Orientation#=6 -DateTimeOriginal='2006:03:05 09:07:00' -ExposureTime=0.01 "
                "-FNumber=2.8 -ISO=200 -UserComment=hello -GPSLatitude=10.5 -GPSLatitudeRef=N "
                "-XResolution=72 -YResolution=72 -ResolutionUnit=inches -ExifImageWidth=4000 "
                "-ExifImageHeight=3000 -XMP:Creator=Ann");
  return path;
}

// The bytes of a JPEG from its first scan on: the compressed pixels.
std::vector<uint8_t> JpegScan(const std::vector<uint8_t>& file) {
  for (size_t i = 2; i + 1 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xDA) return {file.begin() + long(i), file.end()};
  return {};
}

std::vector<uint8_t> PngImageData(const std::vector<uint8_t>& file) {
  std::vector<PngChunk> chunks;
  std::vector<uint8_t> data;
  if (!ParsePngChunks(file, chunks)) return data;
  for (const PngChunk& c : chunks)
    if (c.type == "IDAT") data.insert(data.end(), c.data.begin(), c.data.end());
  return data;
}

// A picture written by the program's own encoder, as the writers do.
std::string WriteOutput(const TempDir& tmp, const std::string& name, int format, long dpi = 96) {
  CImage image;
  image.Create(48, 64, 24);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 48; ++x) image.SetPixelColor(x, y, RGBQuad{uint8_t(x * 5), 90, uint8_t(y * 4), 0});
  image.SetXDPI(dpi);
  image.SetYDPI(dpi);
  const std::string path = tmp / name;
  EXPECT_TRUE(image.Save(path, format)) << image.GetLastError();
  return path;
}

std::string Tags(const std::string& path, const std::string& tags) {
  std::string out = RunOutput("exiftool -T " + tags + " " + Quote(path) + " 2>/dev/null");
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}


// The encoder of a format in the codec table, or nullptr.
bool CanWrite(int format) {
  const CodecInfo* codec = FindCodec(format);
  return codec != nullptr && codec->encode != nullptr;
}

const char kCameraTags[] =
    "-Make -Model -ImageDescription -DateTimeOriginal -ExposureTime -FNumber -ISO "
    "-UserComment -GPSLatitude -GPSLatitudeRef";

TEST(MetadataRead, ItemsOfAJpeg) {
  TempDir tmp;
  PropertyItemList items;
  const int count = ReadAllProperties(MakeCameraJpeg(tmp), items);
  ASSERT_GT(count, 10);
  EXPECT_EQ(size_t(count), items.size());

  const PropertyItem* artist = Item(items, kTagArtist);
  ASSERT_NE(artist, nullptr);
  EXPECT_EQ(artist->type, 2);
  EXPECT_EQ(artist->length, 4u);
  EXPECT_EQ(artist->value, (std::vector<uint8_t>{'A', 'n', 'n', 0}));

  const PropertyItem* orientation = Item(items, kTagOrientation);
  ASSERT_NE(orientation, nullptr);
  EXPECT_EQ(orientation->type, 3);
  EXPECT_EQ(orientation->value, (std::vector<uint8_t>{6, 0}));

  // GPS latitude 10 deg 30 min: three rationals, little-endian.
  const PropertyItem* latitude = Item(items, 2);
  ASSERT_NE(latitude, nullptr);
  EXPECT_EQ(latitude->type, 5);
  ASSERT_EQ(latitude->length, 24u);
  EXPECT_EQ(std::vector<uint8_t>(latitude->value.begin(), latitude->value.begin() + 16),
            (std::vector<uint8_t>{10, 0, 0, 0, 1, 0, 0, 0, 30, 0, 0, 0, 1, 0, 0, 0}));

  const PropertyItem* iso = Item(items, 0x8827);
  ASSERT_NE(iso, nullptr);
  EXPECT_EQ(iso->type, 3);
  EXPECT_EQ(iso->value, (std::vector<uint8_t>{200, 0}));
  EXPECT_NE(Item(items, 0x9003), nullptr);  // date taken
  // Directory pointers are structure, not data.
  EXPECT_EQ(Item(items, 0x8769), nullptr);
  EXPECT_EQ(Item(items, 0x8825), nullptr);
}

TEST(MetadataRead, FilesWithoutItems) {
  TempDir tmp;
  Convert("-size 8x8 xc:red " + Quote(tmp / "a.bmp"));
  Convert("-size 8x8 xc:red " + Quote(tmp / "a.gif"));
  testing_support::WriteFileText(tmp / "broken.jpg", "\xFF\xD8\xFF\xE1\x00\x10garbage");
  PropertyItemList items;
  items.items.resize(3);
  EXPECT_EQ(ReadAllProperties(tmp / "a.bmp", items), 0);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(ReadAllProperties(tmp / "a.gif", items), 0);
  EXPECT_EQ(ReadAllProperties(tmp / "broken.jpg", items), 0);
  EXPECT_EQ(ReadAllProperties(tmp / "missing.jpg", items), 0);
  std::string text = "unchanged";
  EXPECT_FALSE(ReadPropertyText(tmp / "a.bmp", kTagArtist, text));
  EXPECT_EQ(text, "unchanged");
}

TEST(MetadataRead, TextOfOneTag) {
  TempDir tmp;
  const std::string file = MakeCameraJpeg(tmp);
  std::string text;
  EXPECT_TRUE(ReadPropertyText(file, 271, text));
  EXPECT_EQ(text, "Canon");
  EXPECT_TRUE(ReadPropertyText(file, 0x9003, text));
  EXPECT_EQ(text, "2006:03:05 09:07:00");
  EXPECT_FALSE(ReadPropertyText(file, kTagCopyright, text));

  PropertyItemList items;
  const int count = ReadAllProperties(file, items);
  EXPECT_TRUE(FindPropertyText(&items, count, 272, text));
  EXPECT_EQ(text, "EOS 5");
  EXPECT_FALSE(FindPropertyText(nullptr, count, 272, text));
  EXPECT_FALSE(FindPropertyText(&items, 0, 272, text));
  EXPECT_FALSE(FindPropertyText(&items, -1, 272, text));
  // The count limits the search; a count beyond the list is safe.
  EXPECT_FALSE(FindPropertyText(&items, 1, kTagArtist, text));
  EXPECT_TRUE(FindPropertyText(&items, count + 100, kTagArtist, text));
  EXPECT_EQ(text, "Ann");
}

TEST(MetadataRead, SeveralThreadsAtOnce) {
  TempDir tmp;
  const std::string file = MakeCameraJpeg(tmp);
  std::vector<std::thread> threads;
  std::vector<int> counts(4, -2);
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      for (int k = 0; k < 10; ++k) {
        PropertyItemList items;
        counts[size_t(i)] = ReadAllProperties(file, items);
      }
    });
  for (auto& t : threads) t.join();
  for (int c : counts) EXPECT_GT(c, 10);
}

TEST(MetadataWrite, JpegKeepsItemsAndTakesUserValuesWithoutReencoding) {
  TempDir tmp;
  const std::string source = MakeCameraJpeg(tmp);
  PropertyItemList items;
  const int count = ReadAllProperties(source, items);
  const std::string out = WriteOutput(tmp, "out.jpg", FORMAT_JPG);
  const std::vector<uint8_t> before = ReadFileBytes(out);

  MetadataWriteOptions o;
  o.KeepExisting = true;
  o.UseUserComment = true;
  o.ImageAuthor = "Иван Петров";
  o.ImageCopyright = "(c) 2006";
  std::string reason;
  ASSERT_TRUE(WriteMetadataWith(out, &items, count, o, &reason)) << reason;

  EXPECT_EQ(Tags(out, kCameraTags), Tags(source, kCameraTags));
  EXPECT_EQ(Tags(out, "-Artist -Copyright -Orientation -n"), "Иван Петров\t(c) 2006\t6");
  const std::vector<uint8_t> after = ReadFileBytes(out);
  ASSERT_FALSE(JpegScan(before).empty());
  EXPECT_EQ(JpegScan(after), JpegScan(before)) << "the compressed pixels are untouched";
  EXPECT_EQ(Tags(out, "-ImageSize"), "48x64");
  // The kept size and resolution describe the written file.
  EXPECT_EQ(Tags(out, "-ExifImageWidth -ExifImageHeight -IFD0:XResolution"), "48\t64\t96");
}

TEST(MetadataWrite, UserValueLengthCountsTheTerminator) {
  TempDir tmp;
  const std::string out = WriteOutput(tmp, "out.jpg", FORMAT_JPG);
  MetadataWriteOptions o;
  o.UseUserComment = true;
  o.ImageAuthor = "0123456789";
  o.ImageDescription = "Описание";
  ASSERT_TRUE(WriteMetadataWith(out, nullptr, 0, o));
  const std::string dump = RunOutput("exiftool -v3 " + Quote(out));
  EXPECT_NE(dump.find("Artist = 0123456789"), std::string::npos) << dump;
  EXPECT_NE(dump.find("Tag 0x013b (11 bytes, string[11])"), std::string::npos) << dump;
  EXPECT_EQ(Tags(out, "-ImageDescription -Make"), "Описание\t-");

  PropertyItemList items;
  ReadAllProperties(out, items);
  ASSERT_NE(Item(items, kTagImageDescription), nullptr);
  EXPECT_EQ(Item(items, kTagImageDescription)->length, std::string("Описание").size() + 1);
}

TEST(MetadataWrite, UserValuesReplaceCopiedOnesOnlyWhenFilled) {
  TempDir tmp;
  const std::string source = MakeCameraJpeg(tmp);
  PropertyItemList items;
  const int count = ReadAllProperties(source, items);
  const std::string out = WriteOutput(tmp, "out.jpg", FORMAT_JPG);
  MetadataWriteOptions o;
  o.KeepExisting = true;
  o.UseUserComment = true;
  o.ImageDescription = "mine";
  ASSERT_TRUE(WriteMetadataWith(out, &items, count, o));
  EXPECT_EQ(Tags(out, "-Artist -ImageDescription -Copyright"), "Ann\tmine\t-");

  // The user's values without the copied ones.
  const std::string plain = WriteOutput(tmp, "plain.jpg", FORMAT_JPG);
  o.KeepExisting = false;
  ASSERT_TRUE(WriteMetadataWith(plain, &items, count, o));
  EXPECT_EQ(Tags(plain, "-Artist -ImageDescription -Make"), "-\tmine\t-");
}

TEST(MetadataWrite, PngGetsExifBlockAndTextChunks) {
  TempDir tmp;
  const std::string source = MakeCameraJpeg(tmp);
  PropertyItemList items;
  const int count = ReadAllProperties(source, items);
  const std::string out = WriteOutput(tmp, "out.png", FORMAT_PNG, 300);
  const std::vector<uint8_t> before = ReadFileBytes(out);

  MetadataWriteOptions o;
  o.KeepExisting = true;
  o.UseUserComment = true;
  o.ImageAuthor = "Иван";
  o.ImageDescription = "A walk";
  o.ImageCopyright = "(c) Ann";
  std::string reason;
  ASSERT_TRUE(WriteMetadataWith(out, &items, count, o, &reason)) << reason;

  const char kKept[] = "-Make -Model -DateTimeOriginal -ExposureTime -ISO -UserComment -GPSLatitude";
  EXPECT_EQ(Tags(out, kKept), Tags(source, kKept));
  EXPECT_EQ(Tags(out, "-EXIF:Artist -EXIF:Copyright -EXIF:ImageDescription"),
            "Иван\t(c) Ann\tA walk");
  EXPECT_EQ(Tags(out, "-PNG:Author -PNG:Description -PNG:Copyright"), "Иван\tA walk\t(c) Ann");
  EXPECT_EQ(Tags(out, "-IFD0:XResolution"), "300");
  EXPECT_EQ(PngImageData(ReadFileBytes(out)), PngImageData(before));
  // A valid file (eXIf before the image data), which ImageMagick still reads.
  EXPECT_EQ(RunOutput("exiftool -validate -warning -a " + Quote(out)), "Validate                        : OK\n");
  EXPECT_EQ(RunOutput(std::string(testing_support::ImIdentify()) + " -format '%wx%h' " + Quote(out)),
            "48x64");

  std::vector<PngChunk> chunks;
  ASSERT_TRUE(ParsePngChunks(ReadFileBytes(out), chunks));
  int exif = 0;
  std::string authorType, copyrightType;
  for (const PngChunk& c : chunks) {
    if (c.type == "eXIf") ++exif;
    if (PngTextKeyword(c) == "Author") authorType = c.type;
    if (PngTextKeyword(c) == "Copyright") copyrightType = c.type;
  }
  EXPECT_EQ(exif, 1);
  EXPECT_EQ(authorType, "iTXt");  // not Latin-1
  EXPECT_EQ(copyrightType, "tEXt");

  // Writing again replaces rather than adds.
  o.KeepExisting = false;
  o.ImageAuthor = "Bob";
  ASSERT_TRUE(WriteMetadataWith(out, nullptr, 0, o));
  ASSERT_TRUE(ParsePngChunks(ReadFileBytes(out), chunks));
  int authors = 0;
  exif = 0;
  for (const PngChunk& c : chunks) {
    authors += PngTextKeyword(c) == "Author";
    exif += c.type == "eXIf";
  }
  EXPECT_EQ(authors, 1);
  EXPECT_EQ(exif, 1);
  EXPECT_EQ(Tags(out, "-PNG:Author -EXIF:Artist -Make"), "Bob\tBob\tCanon");

  // An IEND that carries data, bytes after it and a wrong CRC: IEND is kept
  // whole, the bytes after it go, the CRC is made right.
  std::vector<uint8_t> odd(before.begin(), before.end() - 12);
  const uint8_t iend[] = {0, 0, 0, 3, 'I', 'E', 'N', 'D', 1, 2, 3, 0, 0, 0, 0, 'x', 'y'};
  odd.insert(odd.end(), iend, iend + sizeof iend);
  std::string why;
  ASSERT_TRUE(AddMetadata(odd, nullptr, 0, o, &why)) << why;
  ASSERT_TRUE(ParsePngChunks(odd, chunks));
  EXPECT_EQ(chunks.back().data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(std::string(odd.end() - 11, odd.end() - 7), "IEND");  // "xy" gone
  EXPECT_EQ(byte_order::GetBe32(&odd[odd.size() - 4]),
            uint32_t(crc32(0, odd.data() + odd.size() - 11, 7)));
  EXPECT_EQ(PngImageData(odd), PngImageData(before));
}

TEST(MetadataWrite, NothingToWriteLeavesTheFileAsItIs) {
  TempDir tmp;
  const std::string out = WriteOutput(tmp, "out.jpg", FORMAT_JPG);
  const std::vector<uint8_t> before = ReadFileBytes(out);
  MetadataWriteOptions o;
  o.KeepExisting = true;
  PropertyItemList none;
  EXPECT_TRUE(WriteMetadataWith(out, &none, 0, o));
  EXPECT_TRUE(WriteMetadataWith(out, nullptr, -1, o));
  o.UseUserComment = true;  // but every value empty
  EXPECT_TRUE(WriteMetadataWith(out, &none, 0, o));
  EXPECT_EQ(ReadFileBytes(out), before);
}

TEST(MetadataWrite, FailuresNeverDamageTheOutput) {
  TempDir tmp;
  MetadataWriteOptions o;
  o.UseUserComment = true;
  o.ImageAuthor = "Ann";
  // Other formats get nothing.
  const std::string tif = WriteOutput(tmp, "out.tif", FORMAT_TIF);
  const std::vector<uint8_t> tifBytes = ReadFileBytes(tif);
  std::string reason;
  EXPECT_FALSE(WriteMetadataWith(tif, nullptr, 0, o, &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(ReadFileBytes(tif), tifBytes);
  // A PNG cut short.
  std::vector<uint8_t> png = ReadFileBytes(WriteOutput(tmp, "cut.png", FORMAT_PNG));
  png.resize(png.size() - 20);
  testing_support::WriteFileBytes(tmp / "cut.png", png.data(), png.size());
  EXPECT_FALSE(WriteMetadataWith(tmp / "cut.png", nullptr, 0, o));
  EXPECT_EQ(ReadFileBytes(tmp / "cut.png"), png);
  EXPECT_FALSE(WriteMetadataWith(tmp / "missing.jpg", nullptr, 0, o));
  EXPECT_FALSE(std::filesystem::exists(tmp / "missing.jpg"));
  // A folder that cannot take the temporary file.
  if (geteuid() != 0) {
    const std::string jpg = WriteOutput(tmp, "ro/out.jpg", FORMAT_JPG);
    const std::vector<uint8_t> bytes = ReadFileBytes(jpg);
    std::filesystem::permissions(tmp / "ro", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(WriteMetadataWith(jpg, nullptr, 0, o));
    EXPECT_EQ(ReadFileBytes(jpg), bytes);
  }
  for (const auto& e : std::filesystem::recursive_directory_iterator(tmp.path()))
    EXPECT_NE(e.path().extension(), ".tmp") << "temporary left behind: " << e.path();
}

// Through the job: the PNG writer hands its file to the metadata step.
TEST(MetadataBatch, PngOutputCarriesUserValues) {
  TempDir tmp;
  const std::string source = MakeCameraJpeg(tmp);
  RunResult r = Lumaro(tmp, "--format png --output " + Quote(tmp / "out") +
                                " --set META.KeepExisting=1 --set META.UseUserComment=1"
                                " --set META.ImageAuthor=Bob --set 'META.ImageCopyright=(c) Bob' " +
                                Quote(source));
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string out = tmp / "out/camera.png";
  EXPECT_EQ(Tags(out, "-PNG:Author -EXIF:Artist -Copyright -Make -GPSLatitudeRef"),
            "Bob\tBob\t(c) Bob\tCanon\tNorth");
  // TIFF outputs get nothing from the metadata step.
  r = Lumaro(tmp, "--format tif --output " + Quote(tmp / "out") +
                      " --set META.UseUserComment=1 --set META.ImageAuthor=Bob " + Quote(source));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Tags(tmp / "out/camera.tif", "-Artist"), "-");
}

// The container formats embed the metadata themselves: a camera JPEG with a
// Display P3 profile, written to each output format with "keep existing"
// and the user's author, keeps its tags (orientation made upright by the
// rotation stage) and its profile.
TEST(MetadataBatch, EveryOutputCarriesTagsAndProfile) {
  TempDir tmp;
  const std::string source = MakeCameraJpeg(tmp);
  testing_support::WriteFileBytes(tmp / "p3.icc", testing_support::MakeDisplayP3Profile().data(),
                                  testing_support::MakeDisplayP3Profile().size());
  ExifToolWrite(source, "'-ICC_Profile<=" + (tmp / "p3.icc") + "'");
  ASSERT_EQ(Tags(source, "-ProfileDescription"), "Display P3 test");
  const std::string keep =
      " --set FlipRotate.RotationMode=4 --set META.KeepExisting=1 --set META.UseUserComment=1"
      " --set META.ImageAuthor=Bob ";
  const struct {
    const char* format;
    int code;
    const char* ext;
    bool embeds;  // the encoder writes the EXIF block (else the metadata step)
  } cases[] = {{"webp", FORMAT_WEBP, "webp", true}, {"jxl", FORMAT_JXL, "jxl", true},
               {"avif", FORMAT_AVIF, "avif", true}, {"jpg", FORMAT_JPG, "jpg", false},
               {"png", FORMAT_PNG, "png", false},   {"tif", FORMAT_TIF, "tif", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    if (!CanWrite(c.code)) {
      // Without an encoder the file fails with a reason and the job goes on.
      RunResult r = Lumaro(tmp, std::string("--format ") + c.format + " --output " +
                                    Quote(tmp / "out") + keep + Quote(source));
      EXPECT_EQ(r.status, 1) << r.out;
      EXPECT_NE(r.out.find("ошибок 1"), std::string::npos) << r.out;
      continue;
    }
    RunResult r = Lumaro(tmp, std::string("--format ") + c.format + " --output " +
                                  Quote(tmp / "out") + keep + Quote(source));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string out = tmp / ("out/camera." + std::string(c.ext));
    CImage back;
    ASSERT_TRUE(back.Load(out)) << back.GetLastError();
    EXPECT_EQ(back.GetWidth(), 48);  // turned upright once
    if (c.code == FORMAT_JXL) {
      // A lossy JPEG XL file keeps the profile in its header; the decoder
      // gives its pixels in plain sRGB, as it cannot render into a profile.
      EXPECT_NE(RunOutput("jxlinfo " + Quote(out)).find(
                    "Color space: " + std::to_string(testing_support::MakeDisplayP3Profile().size()) +
                    "-byte ICC profile"),
                std::string::npos);
      EXPECT_TRUE(back.GetIccProfile().empty());
    } else {
      EXPECT_EQ(back.GetIccProfile(), testing_support::MakeDisplayP3Profile()) << "profile changed";
    }
    if (c.embeds) {
      EXPECT_EQ(Tags(out, "-EXIF:Artist -Make -GPSLatitudeRef -Orientation# -ExifImageWidth "
                          "-XMP:Creator"),
                "Bob\tCanon\tNorth\t1\t48\tAnn");
    }
    if (c.code != FORMAT_JXL) {
      EXPECT_EQ(Tags(out, "-ProfileDescription"), "Display P3 test");
    }
  }
  // Without "keep existing" and user values nothing but the profile goes in.
  RunResult r = Lumaro(tmp, "--format webp --output " + Quote(tmp / "bare") + " " + Quote(source));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Tags(tmp / "bare/camera.webp", "-Make -ProfileDescription"), "-\tDisplay P3 test");
}

// WebP and JPEG XL sources kept in their format carry their own EXIF and
// XMP along; a damaged one is a failure and the job goes on.
TEST(MetadataBatch, KeptContainerSourcesCarryTheirMetadata) {
  TempDir tmp;
  const std::string camera = MakeCameraJpeg(tmp);
  std::filesystem::create_directories(tmp.path() / "in");
  ASSERT_EQ(testing_support::Run("cwebp -quiet -q 80 -metadata all " + Quote(camera) + " -o " +
                                 Quote(tmp / "in/a.webp")),
            0);
  ASSERT_EQ(testing_support::Run("cjxl " + Quote(camera) + " " + Quote(tmp / "in/b.jxl") +
                                 " >/dev/null 2>&1"),
            0);
  testing_support::WriteFileText(tmp / "in/c.webp", "RIFF\x20\0\0\0WEBPVP8 broken");
  RunResult r = Lumaro(tmp, "--format keep --output " + Quote(tmp / "out") +
                                " --set FlipRotate.RotationMode=4 --set META.KeepExisting=1 " +
                                Quote(tmp / "in/a.webp") + " " +
                                Quote(tmp / "in/b.jxl") + " " + Quote(tmp / "in/c.webp"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Преобразовано 2 файлов, ошибок 1"), std::string::npos) << r.out;
  for (const char* name : {"out/a.webp", "out/b.jxl"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Tags(tmp / name, "-Make -XMP:Creator -Orientation#"), "Canon\tAnn\t1");
    CImage back;
    ASSERT_TRUE(back.Load(tmp / name)) << back.GetLastError();
    EXPECT_EQ(back.GetType(), std::string(name).find("webp") != std::string::npos ? FORMAT_WEBP
                                                                                  : FORMAT_JXL);
    EXPECT_EQ(back.GetWidth(), 48);  // upright once
  }
}

}  // namespace
