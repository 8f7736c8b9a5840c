// Camera raw files over LibRaw (its thread-safe C interface), read only.
//
// Detection: most raw formats (DNG, CR2, NEF, ARW, PEF, SRW ...) are TIFF
// files, so this codec is asked before the TIFF codec and accepts a TIFF
// only when it is a raw file: Canon's "CR" mark after the header, a
// DNGVersion tag in the first directory, or a directory (the first ones of
// the chain and their SubIFDs) whose pixels are a colour filter array or
// linear raw data. The other formats have marks of their own: Olympus
// "IIRO"/"IIRS"/"MMOR", Panasonic "IIU\0", Fujifilm "FUJIFILMCCD-RAW",
// Canon CR3 an ISO media file of brand "crx ".
//
// Reading develops the whole picture as a raw converter does by default:
// the camera's white balance, AHD demosaicing, sRGB primaries with the sRGB
// tone curve, 8 bits, and the camera's orientation applied. The sizes are
// checked against the pixel limit before LibRaw allocates the raw data.
//
// DecodeRawPreview (raw.h) gives the camera's embedded preview instead, for
// thumbnails and the file list.
#include "imaging/codecs/raw.h"

#include <libraw.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"
#include "imaging/codecs/jpeg.h"

namespace {

// ---- detection --------------------------------------------------------------------

constexpr uint16_t kTagSubIfds = 0x014A;
constexpr uint16_t kTagCompression = 0x0103;
constexpr uint16_t kTagPhotometric = 0x0106;
constexpr uint16_t kTagDngVersion = 0xC612;
constexpr uint32_t kPhotometricCfa = 32803;
constexpr uint32_t kPhotometricLinearRaw = 34892;
constexpr uint32_t kCompressionNikon = 34713;
constexpr uint32_t kCompressionSony = 32767;
constexpr uint32_t kCompressionPentax = 65535;

struct TiffReader {
  const uint8_t* data;
  size_t size;
  bool little;
  bool Has(uint64_t offset, uint64_t bytes) const {
    return offset <= size && bytes <= size - offset;
  }
  uint16_t U16(size_t at) const {
    return little ? byte_order::GetLe16(data + at) : byte_order::GetBe16(data + at);
  }
  uint32_t U32(size_t at) const {
    return little ? byte_order::GetLe32(data + at) : byte_order::GetBe32(data + at);
  }
};

// What one directory says; offsets of its SubIFDs (at most a few) and the
// next directory.
struct IfdFacts {
  bool dng = false;
  bool raw = false;
  uint32_t subIfds[4] = {};
  int subCount = 0;
  uint32_t next = 0;
};

bool ReadIfd(const TiffReader& r, uint32_t offset, IfdFacts& facts) {
  if (!r.Has(offset, 2)) return false;
  const uint16_t count = r.U16(offset);
  if (!r.Has(uint64_t(offset) + 2, uint64_t(count) * 12 + 4)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t e = offset + 2 + size_t(i) * 12;
    const uint16_t tag = r.U16(e);
    const uint16_t type = r.U16(e + 2);
    const uint32_t n = r.U32(e + 4);
    const uint32_t value = type == 3 ? r.U16(e + 8) : r.U32(e + 8);
    if (tag == kTagDngVersion) facts.dng = true;
    if (tag == kTagPhotometric && (value == kPhotometricCfa || value == kPhotometricLinearRaw))
      facts.raw = true;
    if (tag == kTagCompression &&
        (value == kCompressionNikon || value == kCompressionSony || value == kCompressionPentax))
      facts.raw = true;
    if (tag == kTagSubIfds && (type == 4 || type == 13) && n > 0) {
      if (n == 1) {
        if (facts.subCount < 4) facts.subIfds[facts.subCount++] = r.U32(e + 8);
      } else {
        const uint32_t list = r.U32(e + 8);
        for (uint32_t k = 0; k < n && facts.subCount < 4; ++k) {
          if (!r.Has(uint64_t(list) + uint64_t(k) * 4, 4)) break;
          facts.subIfds[facts.subCount++] = r.U32(list + k * 4);
        }
      }
    }
  }
  facts.next = r.U32(offset + 2 + size_t(count) * 12);
  return true;
}

bool IsTiffRaw(const uint8_t* data, size_t size) {
  if (size < 16) return false;
  TiffReader r{data, size, data[0] == 'I'};
  if (!((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'))) return false;
  if (r.U16(2) != 42) return false;
  if (data[8] == 'C' && data[9] == 'R' && data[10] == 2) return true;  // Canon CR2
  uint32_t offset = r.U32(4);
  // The first directories of the chain and their SubIFDs are enough: raw
  // files keep the sensor data there.
  for (int ifd = 0; ifd < 4 && offset != 0; ++ifd) {
    IfdFacts facts;
    if (!ReadIfd(r, offset, facts)) return false;
    if (facts.dng || facts.raw) return true;
    for (int s = 0; s < facts.subCount; ++s) {
      IfdFacts sub;
      if (ReadIfd(r, facts.subIfds[s], sub) && sub.raw) return true;
    }
    if (facts.next == offset) break;
    offset = facts.next;
  }
  return false;
}

bool SniffRaw(const uint8_t* data, size_t size) {
  if (size >= 16 && std::memcmp(data, "FUJIFILMCCD-RAW", 15) == 0) return true;
  if (size >= 4 && (std::memcmp(data, "IIRO", 4) == 0 || std::memcmp(data, "IIRS", 4) == 0 ||
                    std::memcmp(data, "MMOR", 4) == 0 || std::memcmp(data, "IIU\0", 4) == 0))
    return true;
  if (size >= 12 && std::memcmp(data + 4, "ftypcrx ", 8) == 0) return true;
  return IsTiffRaw(data, size);
}

// ---- LibRaw ----------------------------------------------------------------------

struct RawHandle {
  libraw_data_t* lr = nullptr;
  libraw_processed_image_t* mem = nullptr;
  // LibRaw reports a short or corrupt file through a callback and goes on
  // with what it has; such a picture is refused.
  std::string dataError;
  ~RawHandle() {
    if (mem) libraw_dcraw_clear_mem(mem);
    if (lr) libraw_close(lr);
  }
};

std::string RawReason(int code) {
  const char* text = libraw_strerror(code);
  return text && *text ? text : "LibRaw error " + std::to_string(code);
}

void RecordDataError(void* user, const char*, const int offset) {
  auto* h = static_cast<RawHandle*>(user);
  if (h->dataError.empty())
    h->dataError = offset < 0 ? "unexpected end of file" : "corrupt data in the file";
}

// Opens the file and checks its sizes before LibRaw allocates the raw data.
bool OpenRaw(CImage& image, RawHandle& h, const uint8_t* data, size_t size) {
  h.lr = libraw_init(0);
  if (!h.lr) {
    image.SetLastError("out of memory");
    return false;
  }
  libraw_set_dataerror_handler(h.lr, RecordDataError, &h);
  int rc = libraw_open_buffer(h.lr, const_cast<uint8_t*>(data), size);
  if (rc != LIBRAW_SUCCESS) {
    image.SetLastError(RawReason(rc));
    return false;
  }
  const libraw_image_sizes_t& s = h.lr->sizes;
  if (!image.CheckDimensions(s.raw_width, s.raw_height, nullptr)) return false;
  if (!image.CheckDimensions(s.width, s.height, nullptr)) return false;
  return true;
}

// Copies LibRaw's 8-bit RGB (or grey) picture into the image.
bool CopyProcessed(CImage& image, const libraw_processed_image_t& p) {
  if (p.type != LIBRAW_IMAGE_BITMAP || p.bits != 8 || (p.colors != 3 && p.colors != 1)) {
    image.SetLastError("LibRaw gave an unexpected picture layout");
    return false;
  }
  if (!image.CheckDimensions(p.width, p.height, nullptr)) return false;
  if (uint64_t(p.width) * p.height * p.colors > p.data_size) {
    image.SetLastError("LibRaw gave a short picture");
    return false;
  }
  if (!image.Create(p.width, p.height, 24, FORMAT_RAW)) return false;
  const size_t rowBytes = size_t(p.width) * p.colors;
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.data + size_t(y) * rowBytes;
    uint8_t* dst = image.TopRow(y);
    for (int x = 0; x < p.width; ++x, dst += 3) {
      if (p.colors == 3) {
        dst[0] = src[3 * x + 2];
        dst[1] = src[3 * x + 1];
        dst[2] = src[3 * x];
      } else {
        dst[0] = dst[1] = dst[2] = src[x];
      }
    }
  }
  return true;
}

// Develops the picture; half-size skips demosaicing (each 2x2 cell of the
// sensor becomes one pixel).
bool Develop(CImage& image, RawHandle& h, bool halfSize) {
  libraw_output_params_t& p = h.lr->params;
  p.use_camera_wb = 1;
  p.output_color = 1;  // sRGB
  p.output_bps = 8;
  p.user_flip = -1;    // the camera's orientation
  p.half_size = halfSize ? 1 : 0;
  int rc = libraw_unpack(h.lr);
  if (rc == LIBRAW_SUCCESS && h.dataError.empty()) rc = libraw_dcraw_process(h.lr);
  if (rc != LIBRAW_SUCCESS || !h.dataError.empty()) {
    image.SetLastError(h.dataError.empty() ? RawReason(rc) : h.dataError);
    return false;
  }
  int err = 0;
  h.mem = libraw_dcraw_make_mem_image(h.lr, &err);
  if (!h.mem) {
    image.SetLastError(RawReason(err ? err : LIBRAW_UNSPECIFIED_ERROR));
    return false;
  }
  if (!CopyProcessed(image, *h.mem)) return false;
  image.SetNumFrames(1);
  image.SetType(FORMAT_RAW);
  return true;
}

bool DecodeRaw(CImage& image, const uint8_t* data, size_t size) {
  RawHandle h;
  if (!OpenRaw(image, h, data, size)) return false;
  return Develop(image, h, false);
}

// Turns a preview as LibRaw turns the developed picture: bit 1 flips top
// and bottom, bit 0 left and right, bit 2 then swaps rows and columns.
bool ApplyCameraFlip(CImage& image, int flip) {
  if (flip <= 0) return true;
  bool ok = true;
  if (flip & 2) ok = ok && image.Flip();
  if (flip & 1) ok = ok && image.Mirror();
  if (flip & 4) ok = ok && image.Transpose();
  return ok;
}

}  // namespace

bool IsRawFile(const uint8_t* data, size_t size) { return SniffRaw(data, size); }

bool DecodeRawPreview(CImage& image, const uint8_t* data, size_t size, int minWidth,
                      int minHeight, int* fullWidth, int* fullHeight) {
  RawHandle h;
  CImage picture;
  try {
    if (!OpenRaw(picture, h, data, size)) {
      image.SetLastError(picture.GetLastError());
      return false;
    }
    const libraw_image_sizes_t& s = h.lr->sizes;
    const bool turned = (s.flip & 4) != 0;
    if (fullWidth) *fullWidth = turned ? s.height : s.width;
    if (fullHeight) *fullHeight = turned ? s.width : s.height;
    bool have = false;
    if (libraw_unpack_thumb(h.lr) == LIBRAW_SUCCESS) {
      int err = 0;
      libraw_processed_image_t* thumb = libraw_dcraw_make_mem_thumb(h.lr, &err);
      if (thumb) {
        // A preview smaller than the caller needs is not good enough. A
        // JPEG preview's own header tells its size (LibRaw may not).
        int tw = thumb->width, th = thumb->height;
        const bool jpeg = thumb->type == LIBRAW_IMAGE_JPEG;
        if (jpeg && !ReadJpegHeader(thumb->data, thumb->data_size, tw, th)) tw = th = 0;
        if (std::max(tw, th) >= std::max(minWidth, minHeight)) {
          if (jpeg)
            have = DecodeJpegScaled(picture, thumb->data, thumb->data_size, minWidth, minHeight);
          else
            have = CopyProcessed(picture, *thumb);
        }
        libraw_dcraw_clear_mem(thumb);
        if (have) have = ApplyCameraFlip(picture, s.flip);
      }
    }
    if (!have) {
      // No usable preview: develop at half size, which needs no
      // demosaicing and is still larger than any thumbnail.
      libraw_recycle(h.lr);
      if (libraw_open_buffer(h.lr, const_cast<uint8_t*>(data), size) != LIBRAW_SUCCESS ||
          !Develop(picture, h, true)) {
        image.SetLastError(picture.GetLastError().empty() ? "cannot develop the picture"
                                                          : picture.GetLastError());
        return false;
      }
    }
  } catch (...) {
    image.SetLastError("out of memory");
    return false;
  }
  picture.SetType(FORMAT_RAW);
  picture.SetNumFrames(1);
  return picture.Transfer(image);
}

extern const CodecInfo kCodecRaw = {FORMAT_RAW, "RAW", "dng;cr2;cr3;nef;arw;orf;rw2;raf;pef;srw",
                                    SniffRaw, DecodeRaw, nullptr};
