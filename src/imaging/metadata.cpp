// Metadata of pictures through Exiv2.
//
// Reading: every EXIF/TIFF tag of the main directory, the EXIF
// sub-directory and the GPS directory becomes an item {id, type, length,
// value bytes in little-endian order}. Left out are the directory pointers
// (they are offsets into the source file), the thumbnail directory (its ids
// repeat those of the main directory) and the maker notes (their inner
// offsets would point nowhere in another file).
//
// Writing (the encoded bytes of JPEG and PNG outputs rewritten in memory; for
// the container formats an EXIF block that their encoders embed): the kept
// items, then the user's artist, description and copyright, each replacing a
// copied one, as the caller's options say. The pixel data is never decoded
// or encoded again: a JPEG gets its EXIF segment replaced by Exiv2, a PNG
// gets an eXIf chunk built here. Nothing here writes to disk.
//
// Exiv2 reports errors by exceptions; none leaves this file.
#include "imaging/metadata.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include "imaging/codecs/heif.h"
#include "imaging/codecs/raw.h"
#include "imaging/byte_order.h"
#include "imaging/metadata_ext.h"

// Exiv2 0.27 hands out std::auto_ptr, which C++20 marks deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace {

// ---- library start ---------------------------------------------------------------

std::once_flag g_initOnce;
bool g_ready = false;
std::set<uint16_t> g_photoTags;  // tags of the EXIF sub-directory

// Exiv2's XMP toolkit must be initialised once before two threads may parse
// XMP packets; the tag table is read once here as well.
bool EnsureInit() {
  std::call_once(g_initOnce, [] {
    try {
      Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
      Exiv2::XmpParser::initialize();
      // ISO media files: Canon CR3 among the camera raw files.
      Exiv2::enableBMFF(true);
      if (const Exiv2::TagInfo* list = Exiv2::ExifTags::tagList("Photo")) {
        for (const Exiv2::TagInfo* t = list; t->tag_ != 0xFFFF; ++t) g_photoTags.insert(t->tag_);
      }
      g_ready = true;
    } catch (...) {
      g_ready = false;
    }
  });
  return g_ready;
}

// ---- tag selection ----------------------------------------------------------------

constexpr uint32_t kTagExifPointer = 0x8769;
constexpr uint32_t kTagGpsPointer = 0x8825;
constexpr uint32_t kTagInteropPointer = 0xA005;
constexpr uint32_t kTagSubIfds = 0x014A;
constexpr uint32_t kTagMakerNote = 0x927C;
constexpr uint32_t kTagXResolution = 0x011A;
constexpr uint32_t kTagYResolution = 0x011B;
constexpr uint32_t kTagResolutionUnit = 0x0128;
constexpr uint32_t kTagPixelXDimension = 0xA002;
constexpr uint32_t kTagPixelYDimension = 0xA003;
constexpr uint32_t kTagImageTitle = 0x0320;
constexpr uint32_t kTagXPTitle = 0x9C9B;

bool IsItemGroup(const std::string& group) {
  return group == "Image" || group == "Photo" || group == "GPSInfo";
}

bool IsPointerTag(uint32_t tag) {
  return tag == kTagExifPointer || tag == kTagGpsPointer || tag == kTagInteropPointer ||
         tag == kTagSubIfds;
}

// Tags that describe how the source file stored its pixels. Copied into
// another file they would describe an encoding that file does not have.
bool IsStructureTag(uint32_t tag) {
  switch (tag) {
    case 0x00FE:  // NewSubfileType
    case 0x00FF:  // SubfileType
    case 0x0100:  // ImageWidth
    case 0x0101:  // ImageLength
    case 0x0102:  // BitsPerSample
    case 0x0103:  // Compression
    case 0x0106:  // PhotometricInterpretation
    case 0x0111:  // StripOffsets
    case 0x0115:  // SamplesPerPixel
    case 0x0116:  // RowsPerStrip
    case 0x0117:  // StripByteCounts
    case 0x011C:  // PlanarConfiguration
    case 0x013D:  // Predictor
    case 0x0140:  // ColorMap
    case 0x0142:  // TileWidth
    case 0x0143:  // TileLength
    case 0x0144:  // TileOffsets
    case 0x0145:  // TileByteCounts
    case 0x0152:  // ExtraSamples
    case 0x0153:  // SampleFormat
    case 0x0201:  // JPEGInterchangeFormat
    case 0x0202:  // JPEGInterchangeFormatLength
    case 0x0211:  // YCbCrCoefficients
    case 0x0212:  // YCbCrSubSampling
      return true;
    default:
      return IsPointerTag(tag);
  }
}

PropertyItem ItemFromDatum(const Exiv2::Exifdatum& d) {
  PropertyItem item;
  item.id = d.tag();
  item.type = uint16_t(d.typeId());
  const long size = d.size();
  if (size > 0) {
    item.value.resize(size_t(size));
    d.copy(item.value.data(), Exiv2::littleEndian);
  }
  item.length = uint32_t(item.value.size());
  return item;
}

void CollectItems(const Exiv2::ExifData& exif, PropertyItemList& items) {
  for (const Exiv2::Exifdatum& d : exif) {
    if (!IsItemGroup(d.groupName())) continue;
    if (IsPointerTag(d.tag()) || d.tag() == kTagMakerNote) continue;
    const int type = int(d.typeId());
    if (type < 1 || type > 13) continue;
    items.items.push_back(ItemFromDatum(d));
  }
}

// HEIF, AVIF and camera raw pictures come out of their decoders already
// turned by the container or the camera; their orientation tags must not
// turn them again, so they read as 1 (and are written so when kept).
void MarkUpright(PropertyItemList& items) {
  for (PropertyItem& item : items.items) {
    if (item.id != kTagOrientation || item.value.empty()) continue;
    std::fill(item.value.begin(), item.value.end(), uint8_t(0));
    item.value[0] = 1;
  }
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& data);

// Reads the EXIF items of a file held in memory; throws on Exiv2 errors.
// Reading from memory also keeps Exiv2 from mapping the file (TIFF): a
// mapped source that another program shortens meanwhile would end the
// process with SIGBUS.
void ReadItems(const uint8_t* data, size_t size, PropertyItemList& items) {
  if (size == 0) return;
  if (IsHeifFamilyFile(data, size)) {
    // Exiv2 does not find the EXIF item of every HEIF file; libheif does.
    std::vector<uint8_t> exif;
    if (!ReadHeifMetadata(data, size, &exif, nullptr) || exif.empty()) return;
    Exiv2::ExifData exifData;
    Exiv2::ExifParser::decode(exifData, exif.data(), uint32_t(exif.size()));
    CollectItems(exifData, items);
    MarkUpright(items);
    return;
  }
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data, long(size));
  if (image.get() == nullptr) return;
  image->readMetadata();
  CollectItems(image->exifData(), items);
  // Raw files keep their first directories near the start.
  if (IsRawFile(data, std::min<size_t>(size, 64 * 1024))) MarkUpright(items);
}

// A value as zero-terminated 8-bit text.
std::string ValueText(const PropertyItem& item) {
  const auto& v = item.value;
  auto end = std::find(v.begin(), v.end(), uint8_t(0));
  return std::string(v.begin(), end);
}

// UTF-16LE (the XP tags) to UTF-8, up to the first zero.
std::string Utf16LeToUtf8(const std::vector<uint8_t>& v) {
  std::string out;
  for (size_t i = 0; i + 1 < v.size(); i += 2) {
    uint32_t c = uint32_t(v[i]) | (uint32_t(v[i + 1]) << 8);
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < v.size()) {
      uint32_t lo = uint32_t(v[i + 2]) | (uint32_t(v[i + 3]) << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// A whole regular file, read the way pictures are read: never blocking on a
// FIFO or a device, never mapped.
bool ReadFile(const std::string& path, std::vector<uint8_t>& data) {
  std::string error;
  return CImage::ReadFile(path, data, error);
}

bool IsJpeg(const std::vector<uint8_t>& d) {
  return d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF;
}
bool IsPng(const std::vector<uint8_t>& d) {
  static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return d.size() >= 8 && std::memcmp(d.data(), kSig, 8) == 0;
}

// Resolution in pixels per inch that the written file declares itself:
// the JFIF density of a JPEG (in dots per inch or per centimetre), the pHYs
// chunk of a PNG (per metre). False when it declares none.
bool JpegDensity(const std::vector<uint8_t>& d, long& xdpi, long& ydpi) {
  size_t pos = 2;
  while (pos + 4 <= d.size() && d[pos] == 0xFF) {
    const uint8_t marker = d[pos + 1];
    if (marker == 0xDA || marker == 0xD9) break;
    const size_t len = byte_order::GetBe16(&d[pos + 2]);
    if (len < 2 || pos + 2 + len > d.size()) break;
    const uint8_t* seg = &d[pos + 4];
    if (marker == 0xE0 && len >= 16 && std::memcmp(seg, "JFIF\0", 5) == 0) {
      const uint8_t unit = seg[7];
      const long x = byte_order::GetBe16(seg + 8), y = byte_order::GetBe16(seg + 10);
      if (x == 0 || y == 0) return false;
      if (unit == 1) {
        xdpi = x;
        ydpi = y;
        return true;
      }
      if (unit == 2) {
        xdpi = long(x * 2.54 + 0.5);
        ydpi = long(y * 2.54 + 0.5);
        return true;
      }
      return false;
    }
    pos += 2 + len;
  }
  return false;
}

bool PngDensity(const std::vector<PngChunk>& chunks, long& xdpi, long& ydpi) {
  for (const PngChunk& c : chunks) {
    if (c.type != "pHYs" || c.data.size() != 9 || c.data[8] != 1) continue;
    const uint32_t x = byte_order::GetBe32(c.data.data()), y = byte_order::GetBe32(c.data.data() + 4);
    if (x == 0 || y == 0) return false;
    xdpi = long(x * 0.0254 + 0.5);
    ydpi = long(y * 0.0254 + 0.5);
    return xdpi > 0 && ydpi > 0;
  }
  return false;
}

// Sets key to value, replacing the first datum with that key.
void SetDatum(Exiv2::ExifData& exif, const Exiv2::ExifKey& key, const Exiv2::Value& value) {
  auto pos = exif.findKey(key);
  if (pos != exif.end())
    pos->setValue(&value);
  else
    exif.add(key, &value);
}

void SetItem(Exiv2::ExifData& exif, const PropertyItem& item) {
  if (item.type < 1 || item.type > 13 || item.value.empty() || item.id > 0xFFFF) return;
  const size_t length = std::min<size_t>(item.length, item.value.size());
  if (length == 0) return;
  Exiv2::Value::AutoPtr value = Exiv2::Value::create(Exiv2::TypeId(item.type));
  if (value.get() == nullptr) return;
  value->read(item.value.data(), long(length), Exiv2::littleEndian);
  SetDatum(exif, Exiv2::ExifKey(uint16_t(item.id), MetadataGroupForTag(item.id)), *value);
}

// Brings the kept items that describe the picture in line with the file
// that was written: its size and resolution may differ from the source's.
void UpdateDescriptiveTags(Exiv2::ExifData& exif, long width, long height, bool haveDensity,
                           long xdpi, long ydpi) {
  auto setLong = [&](uint32_t tag, long v) {
    Exiv2::ExifKey key(uint16_t(tag), MetadataGroupForTag(tag));
    if (exif.findKey(key) == exif.end()) return;
    Exiv2::ULongValue value;
    value.value_.push_back(uint32_t(v));
    SetDatum(exif, key, value);
  };
  if (width > 0 && height > 0) {
    setLong(kTagPixelXDimension, width);
    setLong(kTagPixelYDimension, height);
  }
  if (!haveDensity) return;
  auto setRational = [&](uint32_t tag, long v) {
    Exiv2::ExifKey key(uint16_t(tag), MetadataGroupForTag(tag));
    if (exif.findKey(key) == exif.end()) return;
    Exiv2::URationalValue value;
    value.value_.push_back({uint32_t(v), 1u});
    SetDatum(exif, key, value);
  };
  const bool hadResolution =
      exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution")) != exif.end() ||
      exif.findKey(Exiv2::ExifKey("Exif.Image.YResolution")) != exif.end();
  setRational(kTagXResolution, xdpi);
  setRational(kTagYResolution, ydpi);
  if (hadResolution) {
    Exiv2::UShortValue inch;
    inch.value_.push_back(2);
    SetDatum(exif, Exiv2::ExifKey(uint16_t(kTagResolutionUnit), "Image"), inch);
  }
}

// The EXIF data the rewritten file gets: what it has, the kept items, the
// user's values.
void BuildExif(Exiv2::ExifData& exif, const PropertyItemList* items, int count,
               const MetadataWriteOptions& options) {
  if (options.KeepExisting && items != nullptr && count > 0) {
    const size_t n = std::min(size_t(count), items->items.size());
    for (size_t i = 0; i < n; ++i) {
      const PropertyItem& item = items->items[i];
      if (IsStructureTag(item.id) || item.id == kTagMakerNote) continue;
      SetItem(exif, item);
    }
  }
  if (options.UseUserComment) {
    const struct {
      const std::string* text;
      uint32_t tag;
    } kUser[] = {{&options.ImageAuthor, kTagArtist},
                 {&options.ImageDescription, kTagImageDescription},
                 {&options.ImageCopyright, kTagCopyright}};
    for (const auto& u : kUser)
      if (!u.text->empty()) SetItem(exif, MakeAsciiItem(u.tag, *u.text));
  }
}

bool Fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

bool RewriteJpeg(const std::vector<uint8_t>& file, const PropertyItemList* items, int count,
                 const MetadataWriteOptions& options, std::vector<uint8_t>& out,
                 std::string* reason) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
  if (image.get() == nullptr) return Fail(reason, "not a JPEG file");
  image->readMetadata();
  Exiv2::ExifData exif = image->exifData();
  BuildExif(exif, items, count, options);
  long xdpi = 0, ydpi = 0;
  const bool density = JpegDensity(file, xdpi, ydpi);
  UpdateDescriptiveTags(exif, long(image->pixelWidth()), long(image->pixelHeight()), density,
                        xdpi, ydpi);
  image->setExifData(exif);
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  if (io.open() != 0) return Fail(reason, "cannot read the rewritten file");
  const long size = io.size();
  io.seek(0, Exiv2::BasicIo::beg);
  Exiv2::DataBuf buf = io.read(size);
  io.close();
  if (buf.size_ != size || size <= 0) return Fail(reason, "cannot read the rewritten file");
  out.assign(buf.pData_, buf.pData_ + buf.size_);
  return true;
}

// Puts the metadata into a PNG file in place: the new chunks go before the
// first IDAT, as eXIf must; older EXIF chunks and text chunks with a keyword
// written here are dropped, every chunk's CRC is made right and anything
// after IEND is cut. The image data is never copied; on failure the file is
// as it was.
bool RewritePng(std::vector<uint8_t>& file, const PropertyItemList* items, int count,
                const MetadataWriteOptions& options, std::string* reason) {
  std::vector<PngChunk> chunks;  // IDAT chunks without their data
  std::vector<size_t> at;
  if (!ParsePngChunks(file, chunks, &at) || chunks.empty() || chunks[0].type != "IHDR" ||
      chunks[0].data.size() != 13)
    return Fail(reason, "not a valid PNG file");

  // What the file carries already (the writer's output normally has none).
  Exiv2::ExifData exif;
  {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
    if (image.get() != nullptr) {
      image->readMetadata();
      exif = image->exifData();
    }
  }
  BuildExif(exif, items, count, options);
  long xdpi = 0, ydpi = 0;
  const bool density = PngDensity(chunks, xdpi, ydpi);
  UpdateDescriptiveTags(exif, long(byte_order::GetBe32(chunks[0].data.data())),
                        long(byte_order::GetBe32(chunks[0].data.data() + 4)), density, xdpi, ydpi);

  std::vector<PngChunk> added;
  if (!exif.empty()) {
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    if (!blob.empty()) added.push_back(PngChunk{"eXIf", std::vector<uint8_t>(blob.begin(), blob.end())});
  }
  std::set<std::string> replacedKeywords = {"Raw profile type exif", "Raw profile type APP1"};
  if (options.UseUserComment) {
    const struct {
      const char* keyword;
      const std::string* text;
    } kText[] = {{"Author", &options.ImageAuthor},
                 {"Description", &options.ImageDescription},
                 {"Copyright", &options.ImageCopyright}};
    for (const auto& t : kText) {
      if (t.text->empty()) continue;
      added.push_back(MakePngTextChunk(t.keyword, *t.text));
      replacedKeywords.insert(t.keyword);
    }
  }
  if (added.empty()) return true;

  size_t insertAt = chunks.size();
  std::vector<bool> dropped(chunks.size(), false);
  for (size_t i = 0; i < chunks.size(); ++i) {
    const PngChunk& c = chunks[i];
    const std::string keyword = PngTextKeyword(c);
    dropped[i] = c.type == "eXIf" || (!keyword.empty() && replacedKeywords.count(keyword));
    if (insertAt == chunks.size() && (c.type == "IDAT" || c.type == "IEND")) insertAt = i;
  }
  if (insertAt == chunks.size()) return Fail(reason, "PNG file without image data");
  std::vector<uint8_t> bytes;
  for (const PngChunk& c : added) AppendPngChunk(bytes, c);

  // The one step that may fail (for memory) comes first and changes nothing
  // when it does.
  file.insert(file.begin() + long(at[insertAt]), bytes.begin(), bytes.end());
  for (size_t i = insertAt; i < at.size(); ++i) at[i] += bytes.size();
  file.resize(at.back() + 12 + chunks.back().data.size());  // up to the end of IEND
  for (size_t i = chunks.size(); i-- > 0;)
    if (dropped[i]) {
      const size_t size = 12 + byte_order::GetBe32(file.data() + at[i]);
      file.erase(file.begin() + long(at[i]), file.begin() + long(at[i] + size));
      for (size_t k = i + 1; k < at.size(); ++k) at[k] -= size;
    }
  for (size_t i = 0; i < chunks.size(); ++i) {
    if (dropped[i]) continue;
    uint8_t* chunk = file.data() + at[i];
    const uint32_t length = byte_order::GetBe32(chunk);
    const uint32_t crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), chunk + 4, uInt(length + 4)));
    byte_order::SetBe32(chunk + 8 + length, crc);
  }
  return true;
}

}  // namespace

// ---- public interface -------------------------------------------------------------

bool InitMetadataSupport() { return EnsureInit(); }

int ReadAllProperties(const std::string& path, PropertyItemList& items) {
  items.clear();
  if (!EnsureInit()) return -1;
  std::vector<uint8_t> file;
  if (!ReadFile(path, file)) return 0;
  return ReadAllProperties(file.data(), file.size(), items);
}

int ReadAllProperties(const uint8_t* data, size_t size, PropertyItemList& items) {
  items.clear();
  if (!EnsureInit()) return -1;
  try {
    ReadItems(data, size, items);
  } catch (...) {
    // Not readable by Exiv2 (BMP, GIF, damaged files): no items.
    items.clear();
  }
  return int(std::min<size_t>(items.size(), size_t(INT32_MAX)));
}

bool ReadPropertyText(const std::string& path, uint32_t tag, std::string& text) {
  PropertyItemList items;
  const int count = ReadAllProperties(path, items);
  return count > 0 && PropertyText(&items, count, tag, text);
}

bool PropertyText(const PropertyItemList* items, int count, uint32_t tag, std::string& text) {
  if (const PropertyItem* item = FindPropertyItem(items, count, tag)) {
    text = ValueText(*item);
    return true;
  }
  // The picture's title is kept in the Windows title tag by most programs.
  if (tag == kTagImageTitle) {
    if (const PropertyItem* item = FindPropertyItem(items, count, kTagXPTitle)) {
      text = Utf16LeToUtf8(item->value);
      return true;
    }
  }
  return false;
}

bool FindPropertyText(const PropertyItemList* items, int count, uint32_t tag, std::string& text) {
  const PropertyItem* item = FindPropertyItem(items, count, tag);
  if (item == nullptr) return false;
  text = ValueText(*item);
  return true;
}

bool AddMetadata(std::vector<uint8_t>& file, const PropertyItemList* items, int count,
                 const MetadataWriteOptions& options, std::string* reason) {
  if (!EnsureInit()) return Fail(reason, "metadata support is not available");
  if (!options.KeepExisting && !options.UseUserComment) return true;
  std::vector<uint8_t> out;
  try {
    if (IsPng(file)) return RewritePng(file, items, count, options, reason);
    if (!IsJpeg(file)) return Fail(reason, "only JPEG and PNG files get metadata");
    if (!RewriteJpeg(file, items, count, options, out, reason)) return false;
  } catch (const std::exception& e) {
    return Fail(reason, e.what());
  } catch (...) {
    return Fail(reason, "metadata could not be written");
  }
  file.swap(out);
  return true;
}

std::vector<uint8_t> BuildExifBlock(const PropertyItemList* items, int count,
                                    const std::vector<uint8_t>& decodedBlock, long width,
                                    long height, const MetadataWriteOptions& options) {
  if (!EnsureInit() || (!options.KeepExisting && !options.UseUserComment)) return {};
  try {
    Exiv2::ExifData exif;
    const bool haveItems = items != nullptr && count > 0 && !items->empty();
    if (options.KeepExisting && !haveItems && decodedBlock.size() >= 8) {
      // A source the metadata library cannot read: its block as the
      // decoder found it, without what described the source's own storage.
      Exiv2::ExifParser::decode(exif, decodedBlock.data(), uint32_t(decodedBlock.size()));
      for (auto it = exif.begin(); it != exif.end();) {
        if (!IsItemGroup(it->groupName()) || IsStructureTag(it->tag()) ||
            it->tag() == kTagMakerNote)
          it = exif.erase(it);
        else
          ++it;
      }
      // Those decoders turn the picture as the file says: it is upright now.
      Exiv2::ExifKey orientation(uint16_t(kTagOrientation), "Image");
      if (exif.findKey(orientation) != exif.end()) {
        Exiv2::UShortValue upright;
        upright.value_.push_back(1);
        SetDatum(exif, orientation, upright);
      }
    }
    BuildExif(exif, items, count, options);
    UpdateDescriptiveTags(exif, width, height, false, 0, 0);
    if (exif.empty()) return {};
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return std::vector<uint8_t>(blob.begin(), blob.end());
  } catch (...) {
    return {};
  }
}

std::vector<uint8_t> BuildXmpPacket(const std::vector<uint8_t>& decodedPacket,
                                    const std::string& sourcePath) {
  if (!EnsureInit()) return decodedPacket;
  try {
    std::string packet(decodedPacket.begin(), decodedPacket.end());
    if (packet.empty() && !sourcePath.empty()) {
      Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(sourcePath);
      if (image.get() == nullptr) return {};
      image->readMetadata();
      packet = image->xmpPacket();
    }
    if (packet.find("Orientation") != std::string::npos) {
      // The orientation belongs to the EXIF block, which the rotation stage
      // keeps in step with the pixels; a second one here could contradict it.
      Exiv2::XmpData xmp;
      if (Exiv2::XmpParser::decode(xmp, packet) == 0) {
        auto pos = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (pos != xmp.end()) {
          xmp.erase(pos);
          std::string rewritten;
          if (Exiv2::XmpParser::encode(rewritten, xmp, Exiv2::XmpParser::useCompactFormat) == 0)
            packet = rewritten;
        }
      }
    }
    return std::vector<uint8_t>(packet.begin(), packet.end());
  } catch (...) {
    // An unreadable source has no packet to give; a decoded one stays.
    return decodedPacket;
  }
}

const char* MetadataGroupForTag(uint32_t tag) {
  if (tag < 0xFE) return "GPSInfo";
  EnsureInit();
  if (tag <= 0xFFFF && g_photoTags.count(uint16_t(tag))) return "Photo";
  return "Image";
}

PropertyItem MakeAsciiItem(uint32_t tag, const std::string& text) {
  PropertyItem item;
  item.id = tag;
  item.type = 2;
  const std::string cut = text.substr(0, text.find('\0'));
  item.value.assign(cut.begin(), cut.end());
  item.value.push_back(0);
  item.length = uint32_t(item.value.size());
  return item;
}

const PropertyItem* FindPropertyItem(const PropertyItemList* items, int count, uint32_t tag) {
  if (items == nullptr || count <= 0) return nullptr;
  const size_t n = std::min(size_t(count), items->items.size());
  for (size_t i = 0; i < n; ++i)
    if (items->items[i].id == tag) return &items->items[i];
  return nullptr;
}

// ---- PNG chunks -----------------------------------------------------------------

bool ParsePngChunks(const std::vector<uint8_t>& file, std::vector<PngChunk>& chunks,
                    std::vector<size_t>* offsets) {
  chunks.clear();
  if (offsets) offsets->clear();
  if (!IsPng(file)) return false;
  size_t pos = 8;
  while (pos < file.size()) {
    if (file.size() - pos < 12) return false;
    const uint32_t length = byte_order::GetBe32(&file[pos]);
    if (length > 0x7FFFFFFFu || file.size() - pos - 12 < length) return false;
    PngChunk c;
    c.type.assign(reinterpret_cast<const char*>(&file[pos + 4]), 4);
    if (!offsets || c.type != "IDAT")
      c.data.assign(file.begin() + long(pos + 8), file.begin() + long(pos + 8 + length));
    if (offsets) offsets->push_back(pos);
    pos += 12 + length;
    const bool end = c.type == "IEND";
    chunks.push_back(std::move(c));
    if (end) break;
  }
  return !chunks.empty() && chunks.back().type == "IEND";
}

void AppendPngChunk(std::vector<uint8_t>& out, const PngChunk& c) {
  byte_order::PutBe32(out, uint32_t(c.data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), c.type.begin(), c.type.begin() + 4);
  out.insert(out.end(), c.data.begin(), c.data.end());
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, out.data() + typeAt, uInt(4 + c.data.size()));
  byte_order::PutBe32(out, uint32_t(crc));
}

PngChunk MakePngTextChunk(const std::string& keyword, const std::string& text) {
  const std::string value = text.substr(0, text.find('\0'));
  const bool ascii =
      std::all_of(value.begin(), value.end(), [](char c) { return (unsigned char)c < 0x80; });
  PngChunk c;
  c.type = ascii ? "tEXt" : "iTXt";
  c.data.assign(keyword.begin(), keyword.end());
  c.data.push_back(0);
  if (!ascii) {
    // No compression, no language tag, no translated keyword.
    c.data.insert(c.data.end(), {0, 0, 0, 0});
  }
  c.data.insert(c.data.end(), value.begin(), value.end());
  return c;
}

std::string PngTextKeyword(const PngChunk& chunk) {
  if (chunk.type != "tEXt" && chunk.type != "zTXt" && chunk.type != "iTXt") return {};
  auto end = std::find(chunk.data.begin(), chunk.data.end(), uint8_t(0));
  return std::string(chunk.data.begin(), end);
}

std::string PngTextValue(const PngChunk& chunk) {
  auto nul = std::find(chunk.data.begin(), chunk.data.end(), uint8_t(0));
  if (nul == chunk.data.end()) return {};
  auto p = nul + 1;
  if (chunk.type == "tEXt") return std::string(p, chunk.data.end());
  if (chunk.type != "iTXt" || chunk.data.end() - p < 2 || p[0] != 0) return {};
  p += 2;  // compression flag and method
  p = std::find(p, chunk.data.end(), uint8_t(0));  // language tag
  if (p == chunk.data.end()) return {};
  p = std::find(p + 1, chunk.data.end(), uint8_t(0));  // translated keyword
  if (p == chunk.data.end()) return {};
  return std::string(p + 1, chunk.data.end());
}
