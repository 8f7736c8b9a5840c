// HEIC/HEIF and AVIF codecs over libheif.
//
// Both are pictures in a HEIF container (an ISO media file whose "ftyp" box
// names the brands); HEIC holds HEVC-coded pictures, AVIF AV1-coded ones.
// The brands decide which of the two a file is: heic, heix, hevc, hevx,
// heim, heis make it HEIC; avif, avis AVIF; the generic mif1/msf1 alone
// count as HEIF. Camera files of the same family (Canon's "crx ") are left
// to the raw codec.
//
// Reading: the primary picture, with its alpha plane when it has one.
// libheif applies the container's crop, rotation and mirroring, so the
// picture comes out as it is to be shown; an EXIF orientation tag inside
// the file describes the same turn and must not be applied again (the
// metadata reader reports 1 for such files). Pictures of 10 or 12 bits are
// fetched at their depth and reduced to 8 bits with rounding
// (v * 255 / max). The colour profile ("prof"/"rICC") goes to
// SetIccProfile, the EXIF block (without the container's four-byte offset
// header) to SetExifBlock, the XMP packet to SetXmpPacket. The declared
// size is checked against the pixel limit before anything is decoded.
//
// Writing: 24-bit RGB, or RGBA when the image has an alpha plane or a
// transparent palette entry. Codec option (FORMAT_HEIF / FORMAT_AVIF):
// bits 0-7 quality 1..100, bits 8-11 speed 0..10 (slowest to fastest),
// bit 12 4:4:4 chroma instead of 4:2:0; 0 means quality 80 and the
// encoder's defaults for the rest (a quality of 0 alone: the encoder's). The ICC profile, EXIF block and XMP packet of the
// image are embedded when present. Without an HEVC or AV1 encoder in
// libheif the encoder fails with a reason saying so.
#include "imaging/codecs/heif.h"
#include "imaging/codecs/quality_option.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"

namespace {

// ---- brands ---------------------------------------------------------------------

enum class HeifKind { kNone, kHeic, kAvif };

bool BrandIs(const uint8_t* p, const char* brand) { return std::memcmp(p, brand, 4) == 0; }

// Reads the ftyp box at the start of the file: the major brand and the
// compatible brands inside the box.
HeifKind ClassifyBrands(const uint8_t* data, size_t size) {
  if (size < 16 || !BrandIs(data + 4, "ftyp")) return HeifKind::kNone;
  size_t boxSize = byte_order::GetBe32(data);
  if (boxSize < 16) return HeifKind::kNone;
  boxSize = std::min(boxSize, size);
  static const char* const kHeic[] = {"heic", "heix", "hevc", "hevx", "heim", "heis"};
  static const char* const kAvif[] = {"avif", "avis"};
  static const char* const kGeneric[] = {"mif1", "msf1"};
  bool heic = false, avif = false, generic = false;
  auto look = [&](const uint8_t* b) {
    for (const char* n : kHeic) heic = heic || BrandIs(b, n);
    for (const char* n : kAvif) avif = avif || BrandIs(b, n);
    for (const char* n : kGeneric) generic = generic || BrandIs(b, n);
  };
  look(data + 8);
  // The major brand decides when it names one of the two.
  const bool majorHeic = heic, majorAvif = avif;
  for (size_t off = 16; off + 4 <= boxSize; off += 4) look(data + off);
  if (majorHeic) return HeifKind::kHeic;
  if (majorAvif) return HeifKind::kAvif;
  if (heic) return HeifKind::kHeic;
  if (avif) return HeifKind::kAvif;
  return generic ? HeifKind::kHeic : HeifKind::kNone;
}

bool SniffHeif(const uint8_t* data, size_t size) {
  return ClassifyBrands(data, size) == HeifKind::kHeic;
}

bool SniffAvif(const uint8_t* data, size_t size) {
  return ClassifyBrands(data, size) == HeifKind::kAvif;
}

// ---- library life ---------------------------------------------------------------

// Loads libheif's plug-ins once; the library is never shut down.
void EnsureHeifInit() {
  static std::once_flag once;
  std::call_once(once, [] { heif_init(nullptr); });
}

std::string HeifReason(const heif_error& err) {
  return (err.message && *err.message) ? err.message : "libheif error";
}

// Owners of libheif objects.
struct HeifObjects {
  heif_context* ctx = nullptr;
  heif_image_handle* handle = nullptr;
  heif_image* image = nullptr;
  heif_encoder* encoder = nullptr;
  heif_decoding_options* decodeOptions = nullptr;
  heif_encoding_options* encodeOptions = nullptr;
  ~HeifObjects() {
    if (encodeOptions) heif_encoding_options_free(encodeOptions);
    if (decodeOptions) heif_decoding_options_free(decodeOptions);
    if (encoder) heif_encoder_release(encoder);
    if (image) heif_image_release(image);
    if (handle) heif_image_handle_release(handle);
    if (ctx) heif_context_free(ctx);
  }
};

// ---- reading --------------------------------------------------------------------

// The metadata blocks of one type ("Exif", "mime"); for "mime" only those
// of the given content type.
std::vector<uint8_t> ReadMetadataBlock(heif_image_handle* handle, const char* type,
                                       const char* contentType) {
  const int count = heif_image_handle_get_number_of_metadata_blocks(handle, type);
  if (count <= 0) return {};
  std::vector<heif_item_id> ids(static_cast<size_t>(count));
  heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids.data(), count);
  for (heif_item_id id : ids) {
    if (contentType) {
      const char* ct = heif_image_handle_get_metadata_content_type(handle, id);
      if (!ct || std::strcmp(ct, contentType) != 0) continue;
    }
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0) continue;
    std::vector<uint8_t> block(size);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok) continue;
    return block;
  }
  return {};
}

// The EXIF item starts with a big-endian offset from its fifth byte to the
// TIFF header; the image keeps the block from that header on.
std::vector<uint8_t> StripExifHeader(const std::vector<uint8_t>& item) {
  if (item.size() < 4) return {};
  const uint64_t offset = byte_order::GetBe32(item.data());
  if (offset > item.size() - 4) return {};
  auto begin = item.begin() + 4 + std::ptrdiff_t(offset);
  if (item.end() - begin < 8) return {};
  return std::vector<uint8_t>(begin, item.end());
}

// Copies interleaved RGB(A) rows into the image, 8 or 16 bits per sample
// (16-bit containers hold `bits` significant bits).
void CopyPixels(CImage& image, const uint8_t* plane, int stride, int width, int height,
                bool alpha, int bits) {
  const int channels = alpha ? 4 : 3;
  const uint32_t maxValue = (1u << bits) - 1;
  auto reduce = [maxValue](uint16_t v) -> uint8_t {
    uint32_t value = std::min<uint32_t>(v, maxValue);
    return uint8_t((value * 255 + maxValue / 2) / maxValue);
  };
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = plane + size_t(y) * size_t(stride);
    uint8_t* dst = image.TopRow(y);
    uint8_t* a = alpha ? image.AlphaGetPointer(0, height - 1 - y) : nullptr;
    for (int x = 0; x < width; ++x) {
      uint8_t px[4];
      if (bits <= 8) {
        std::memcpy(px, src + size_t(x) * channels, size_t(channels));
      } else {
        for (int c = 0; c < channels; ++c) {
          const uint8_t* s = src + (size_t(x) * channels + c) * 2;
          px[c] = reduce(uint16_t(s[0] | (s[1] << 8)));
        }
      }
      dst[3 * x] = px[2];
      dst[3 * x + 1] = px[1];
      dst[3 * x + 2] = px[0];
      if (a) a[x] = px[3];
    }
  }
}

bool DecodeHeifFamily(CImage& image, const uint8_t* data, size_t size) {
  EnsureHeifInit();
  HeifObjects o;
  o.ctx = heif_context_alloc();
  if (!o.ctx) {
    image.SetLastError("out of memory");
    return false;
  }
  heif_error err = heif_context_read_from_memory_without_copy(o.ctx, data, size, nullptr);
  if (err.code == heif_error_Ok) err = heif_context_get_primary_image_handle(o.ctx, &o.handle);
  if (err.code != heif_error_Ok) {
    image.SetLastError(HeifReason(err));
    return false;
  }
  // Both the stored and the shown size must fit before anything is decoded.
  const int width = heif_image_handle_get_width(o.handle);
  const int height = heif_image_handle_get_height(o.handle);
  const int storedW = heif_image_handle_get_ispe_width(o.handle);
  const int storedH = heif_image_handle_get_ispe_height(o.handle);
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  if (storedW > 0 && storedH > 0 && !image.CheckDimensions(storedW, storedH, nullptr)) return false;

  const bool alpha = heif_image_handle_has_alpha_channel(o.handle) != 0;
  const int lumaBits = heif_image_handle_get_luma_bits_per_pixel(o.handle);
  const bool deep = lumaBits > 8;
  heif_chroma chroma;
  if (deep)
    chroma = alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE;
  else
    chroma = alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
  o.decodeOptions = heif_decoding_options_alloc();
  err = heif_decode_image(o.handle, &o.image, heif_colorspace_RGB, chroma, o.decodeOptions);
  if (err.code != heif_error_Ok) {
    image.SetLastError(HeifReason(err));
    return false;
  }
  const int w = heif_image_get_width(o.image, heif_channel_interleaved);
  const int h = heif_image_get_height(o.image, heif_channel_interleaved);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(o.image, heif_channel_interleaved, &stride);
  if (!plane || w <= 0 || h <= 0) {
    image.SetLastError("the picture has no pixels");
    return false;
  }
  if (!image.CheckDimensions(w, h, nullptr)) return false;
  int bits = 8;
  if (deep) {
    bits = heif_image_get_bits_per_pixel_range(o.image, heif_channel_interleaved);
    if (bits <= 8 || bits > 16) bits = lumaBits;
    if (bits <= 8 || bits > 16) {
      image.SetLastError("unsupported sample depth of " + std::to_string(bits) + " bits");
      return false;
    }
  }
  if (!image.Create(w, h, 24, image.GetType())) return false;
  if (alpha && !image.AlphaCreate()) return false;
  CopyPixels(image, plane, stride, w, h, alpha, bits);

  const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(o.handle);
  if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(o.handle);
    if (iccSize > 0) {
      std::vector<uint8_t> icc(iccSize);
      if (heif_image_handle_get_raw_color_profile(o.handle, icc.data()).code == heif_error_Ok)
        image.SetIccProfile(std::move(icc));
    }
  }
  image.SetExifBlock(StripExifHeader(ReadMetadataBlock(o.handle, "Exif", nullptr)));
  image.SetXmpPacket(ReadMetadataBlock(o.handle, "mime", "application/rdf+xml"));
  image.SetNumFrames(1);
  return true;
}

bool DecodeHeif(CImage& image, const uint8_t* data, size_t size) {
  return DecodeHeifFamily(image, data, size);
}

bool DecodeAvif(CImage& image, const uint8_t* data, size_t size) {
  return DecodeHeifFamily(image, data, size);
}

// ---- writing ---------------------------------------------------------------------

heif_error AppendToVector(heif_context*, const void* data, size_t size, void* user) {
  auto* out = static_cast<std::vector<uint8_t>*>(user);
  const auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

constexpr int kDefaultQuality = 80;

// x265 names its speed steps; speed 0 is the slowest.
const char* X265Preset(int speed) {
  static const char* const kPresets[] = {"placebo", "veryslow", "slower",    "slow",
                                         "medium",  "fast",     "faster",    "veryfast",
                                         "superfast", "ultrafast", "ultrafast"};
  return kPresets[std::clamp(speed, 0, 10)];
}

// Sets an integer parameter clamped into the range the encoder accepts.
void SetClampedInteger(heif_encoder* encoder, const char* name, int value) {
  int lo = 0, hi = 0;
  int haveMin = 0, haveMax = 0;
  const heif_encoder_parameter* const* params = heif_encoder_list_parameters(encoder);
  for (; params && *params; ++params) {
    if (std::strcmp(heif_encoder_parameter_get_name(*params), name) != 0) continue;
    int valueCount = 0;
    const int* values = nullptr;
    if (heif_encoder_parameter_get_valid_integer_values(*params, &haveMin, &haveMax, &lo, &hi,
                                                        &valueCount, &values)
            .code == heif_error_Ok) {
      if (haveMin) value = std::max(value, lo);
      if (haveMax) value = std::min(value, hi);
    }
    heif_encoder_set_parameter_integer(encoder, name, value);
    return;
  }
}

// Fills the encoder's input picture from the image: RGB, or RGBA when the
// image is transparent.
bool FillInput(const CImage& image, HeifObjects& o, std::string& reason) {
  const int w = image.GetWidth(), h = image.GetHeight();
  const bool alpha = image.AlphaIsValid() || (image.GetBpp() <= 8 && image.IsTransparent());
  heif_error err = heif_image_create(w, h, heif_colorspace_RGB,
                                     alpha ? heif_chroma_interleaved_RGBA
                                           : heif_chroma_interleaved_RGB,
                                     &o.image);
  if (err.code == heif_error_Ok) err = heif_image_add_plane(o.image, heif_channel_interleaved, w, h, 8);
  if (err.code != heif_error_Ok) {
    reason = HeifReason(err);
    return false;
  }
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(o.image, heif_channel_interleaved, &stride);
  if (!plane) {
    reason = "libheif gave no picture buffer";
    return false;
  }
  const int channels = alpha ? 4 : 3;
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = plane + size_t(y) * size_t(stride);
    const int row = h - 1 - y;  // image rows count from the bottom
    if (image.GetBpp() == 24) {
      const uint8_t* src = image.GetBits(row);
      const uint8_t* a = image.AlphaGetPointer(0, row);
      for (int x = 0; x < w; ++x, dst += channels) {
        dst[0] = src[3 * x + 2];
        dst[1] = src[3 * x + 1];
        dst[2] = src[3 * x];
        if (alpha) dst[3] = a ? a[x] : 255;
      }
    } else {
      for (int x = 0; x < w; ++x, dst += channels) {
        const RGBQuad c = image.GetPixelColor(x, row, true);
        dst[0] = c.red;
        dst[1] = c.green;
        dst[2] = c.blue;
        if (alpha) dst[3] = c.reserved;
      }
    }
  }
  const std::vector<uint8_t>& icc = image.GetIccProfile();
  if (!icc.empty()) heif_image_set_raw_color_profile(o.image, "prof", icc.data(), icc.size());
  return true;
}

bool EncodeHeifFamily(const CImage& image, std::vector<uint8_t>& out, int format) {
  EnsureHeifInit();
  const bool avif = format == FORMAT_AVIF;
  const heif_compression_format compression =
      avif ? heif_compression_AV1 : heif_compression_HEVC;
  const char* kind = avif ? "AV1" : "HEVC";
  HeifObjects o;
  o.ctx = heif_context_alloc();
  if (!o.ctx) {
    image.SetLastError("out of memory");
    return false;
  }
  heif_error err = heif_context_get_encoder_for_format(o.ctx, compression, &o.encoder);
  if (err.code != heif_error_Ok || !o.encoder) {
    image.SetLastError(std::string("no ") + kind + " encoder is installed for libheif");
    return false;
  }
  const uint32_t option = image.GetCodecOption(format);
  if (option == 0) {
    // libheif's own default quality (50) visibly blurs photographs.
    heif_encoder_set_lossy_quality(o.encoder, kDefaultQuality);
  } else {
    const QualityOption unpacked = UnpackQualityOption(option);
    const int quality = unpacked.quality;
    const int speed = unpacked.effort;
    const bool full = unpacked.flag;
    if (quality > 0) heif_encoder_set_lossy_quality(o.encoder, std::min(quality, 100));
    if (avif)
      SetClampedInteger(o.encoder, "speed", speed);
    else
      heif_encoder_set_parameter_string(o.encoder, "preset", X265Preset(speed));
    heif_encoder_set_parameter_string(o.encoder, "chroma", full ? "444" : "420");
  }
  std::string reason;
  if (!FillInput(image, o, reason)) {
    image.SetLastError(reason);
    return false;
  }
  o.encodeOptions = heif_encoding_options_alloc();
  o.encodeOptions->save_alpha_channel = 1;
  heif_image_handle* handle = nullptr;
  err = heif_context_encode_image(o.ctx, o.image, o.encoder, o.encodeOptions, &handle);
  if (err.code != heif_error_Ok) {
    image.SetLastError(HeifReason(err));
    return false;
  }
  o.handle = handle;
  const std::vector<uint8_t>& exif = image.GetExifBlock();
  if (!exif.empty()) {
    err = heif_context_add_exif_metadata(o.ctx, handle, exif.data(), int(exif.size()));
    if (err.code != heif_error_Ok) {
      image.SetLastError("EXIF: " + HeifReason(err));
      return false;
    }
  }
  const std::vector<uint8_t>& xmp = image.GetXmpPacket();
  if (!xmp.empty()) {
    err = heif_context_add_XMP_metadata(o.ctx, handle, xmp.data(), int(xmp.size()));
    if (err.code != heif_error_Ok) {
      image.SetLastError("XMP: " + HeifReason(err));
      return false;
    }
  }
  heif_writer writer{};
  writer.writer_api_version = 1;
  writer.write = AppendToVector;
  const size_t start = out.size();
  err = heif_context_write(o.ctx, &writer, &out);
  if (err.code != heif_error_Ok) {
    out.resize(start);
    image.SetLastError(HeifReason(err));
    return false;
  }
  return true;
}

bool EncodeHeif(const CImage& image, std::vector<uint8_t>& out) {
  return EncodeHeifFamily(image, out, FORMAT_HEIF);
}

bool EncodeAvif(const CImage& image, std::vector<uint8_t>& out) {
  return EncodeHeifFamily(image, out, FORMAT_AVIF);
}

}  // namespace

bool IsHeifFamilyFile(const uint8_t* data, size_t size) {
  return ClassifyBrands(data, size) != HeifKind::kNone;
}

bool ReadHeifMetadata(const uint8_t* data, size_t size, std::vector<uint8_t>* exif,
                      std::vector<uint8_t>* xmp) {
  EnsureHeifInit();
  HeifObjects o;
  o.ctx = heif_context_alloc();
  if (!o.ctx) return false;
  if (heif_context_read_from_memory_without_copy(o.ctx, data, size, nullptr).code != heif_error_Ok ||
      heif_context_get_primary_image_handle(o.ctx, &o.handle).code != heif_error_Ok)
    return false;
  if (exif) *exif = StripExifHeader(ReadMetadataBlock(o.handle, "Exif", nullptr));
  if (xmp) *xmp = ReadMetadataBlock(o.handle, "mime", "application/rdf+xml");
  return true;
}

extern const CodecInfo kCodecHeif = {FORMAT_HEIF, "HEIF", "heic;heif;hif", SniffHeif,
                                     DecodeHeif,  EncodeHeif};
extern const CodecInfo kCodecAvif = {FORMAT_AVIF, "AVIF", "avif", SniffAvif, DecodeAvif,
                                     EncodeAvif};
