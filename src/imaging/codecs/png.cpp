// PNG codec over libpng.
//
// Reading, by colour type (16-bit samples are scaled to 8 with rounding):
//   grey 1, 4, 8, 16 bits  -> palette image of the same depth (8 for 16)
//                             with a grey ramp; grey 2 bits -> 4-bit image,
//                             value v at index 5v (grey 85v on the ramp)
//   palette 1, 4, 8 bits   -> palette image of the same depth; 2 bits -> 4
//   RGB                    -> 24-bit BGR
//   grey + alpha, RGBA     -> 24-bit BGR with an alpha plane
// tRNS on a palette gives the entries' alpha (the reserved byte, alpha
// palette enabled), and a transparent index when exactly one entry is fully
// transparent and the others opaque; tRNS on grey gives the transparent
// index, on RGB the transparent colour. pHYs gives the resolution, iCCP the
// colour profile. The codec option for FORMAT_PNG is 1 for an interlaced
// (Adam7) file, 0 otherwise. Gamma and sRGB chunks are not applied.
// Files that are not interlaced and have 8 or 16 bits per sample have their
// pixel data inflated by libdeflate instead (see "fast reading"), with the
// same result.
//
// Writing: palette images as palette PNGs with tRNS from the palette alpha
// and the transparent index (images whose palette is exactly the grey ramp
// of their depth as grey PNGs); 24-bit images as RGB, or RGBA with an alpha
// plane; palette images with an alpha plane as RGBA. Option 1 writes Adam7.
// Non-interlaced files are written by our own chunk writer, row by row (see
// "direct writing" below); interlaced ones through libpng at zlib level 4.
// On photographs the files come out about 1 % smaller than ImageMagick's
// (zlib level 7), on drawings and screenshots about as large.
//
// libpng reports errors by longjmp to the function that set the jump; those
// functions keep their state in a job record owned by the caller and create
// no C++ objects with destructors, so a jump never skips a destructor.
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <png.h>
#include <zlib.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "imaging/codecs/codec.h"
#include "imaging/codecs/png_bands.h"
#include "imaging/byte_order.h"
#include "imaging/codecs/png_internal.h"

namespace {

struct PngMessage {
  char text[256];
};

void PngError(png_structp png, png_const_charp msg) {
  PngMessage* m = static_cast<PngMessage*>(png_get_error_ptr(png));
  if (m) {
    std::strncpy(m->text, msg ? msg : "libpng error", sizeof m->text - 1);
    m->text[sizeof m->text - 1] = 0;
  }
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// ---- reading ----------------------------------------------------------------------

struct ReadJob {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  CImage* image = nullptr;
  PngMessage msg{};
  png_structp png = nullptr;
  png_infop info = nullptr;
  // Header.
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = 0;
  // Decoding plan.
  int outBpp = 0;         // image depth
  bool direct = false;    // libpng writes straight into the image rows
  int rowBytes = 0;       // bytes of one row as libpng delivers it
  std::vector<uint8_t> buffer;         // rows libpng fills when not direct
  std::vector<png_bytep> rowPointers;  // one per row
};

void ReadCallback(png_structp png, png_bytep out, size_t length) {
  ReadJob* job = static_cast<ReadJob*>(png_get_io_ptr(png));
  if (length > job->size - job->pos) png_error(png, "the file is truncated");
  std::memcpy(out, job->data + job->pos, length);
  job->pos += length;
}

// Phase 1: signature and header chunks up to the first IDAT.
bool ReadHeader(ReadJob* job) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_read_fn(job->png, job, ReadCallback);
  png_read_info(job->png, job->info);
  png_get_IHDR(job->png, job->info, &job->width, &job->height, &job->bitDepth, &job->colorType,
               &job->interlace, nullptr, nullptr);
  return true;
}

// Phase 2: transforms, then the pixels into the rows prepared by the caller.
bool ReadPixels(ReadJob* job) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_structp png = job->png;
  if (job->bitDepth == 16) png_set_scale_16(png);
  switch (job->colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      if (job->bitDepth == 2) png_set_packing(png);  // one byte per pixel
      break;
    case PNG_COLOR_TYPE_RGB:
      png_set_bgr(png);
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_gray_to_rgb(png);
      png_set_bgr(png);
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      png_set_bgr(png);
      break;
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, job->info);
  if (png_get_rowbytes(png, job->info) > size_t(job->rowBytes))
    png_error(png, "unexpected row size");
  png_read_image(png, job->rowPointers.data());
  return true;
}

// Sets up the image and the row pointers for phase 2.
bool PlanPixels(ReadJob& job) {
  CImage& image = *job.image;
  int w = int(job.width), h = int(job.height);
  switch (job.colorType) {
    case PNG_COLOR_TYPE_GRAY:
      job.outBpp = job.bitDepth >= 8 ? 8 : job.bitDepth == 2 ? 4 : job.bitDepth;
      job.direct = job.bitDepth != 2;
      job.rowBytes = job.direct ? int(DibRowBytes(w, job.outBpp)) : w;
      break;
    case PNG_COLOR_TYPE_PALETTE:
      job.outBpp = job.bitDepth == 2 ? 4 : job.bitDepth;
      job.direct = job.bitDepth != 2;
      job.rowBytes = job.direct ? int(DibRowBytes(w, job.outBpp)) : w;
      break;
    case PNG_COLOR_TYPE_RGB:
      job.outBpp = 24;
      job.direct = true;
      job.rowBytes = int(DibRowBytes(w, 24));
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
    case PNG_COLOR_TYPE_RGB_ALPHA:
      job.outBpp = 24;
      job.direct = false;
      job.rowBytes = w * 4;
      break;
    default:
      image.SetLastError("unknown colour type " + std::to_string(job.colorType));
      return false;
  }
  if (!image.Create(w, h, job.outBpp, FORMAT_PNG)) return false;
  job.rowPointers.resize(size_t(h));
  if (job.direct) {
    for (int y = 0; y < h; ++y) job.rowPointers[size_t(y)] = image.TopRow(y);
  } else {
    job.buffer.resize(size_t(job.rowBytes) * size_t(h));
    for (int y = 0; y < h; ++y)
      job.rowPointers[size_t(y)] = job.buffer.data() + size_t(y) * size_t(job.rowBytes);
  }
  return true;
}

// Moves rows that libpng delivered in a buffer into the image.
void FinishPixels(ReadJob& job) {
  if (job.direct) return;
  CImage& image = *job.image;
  int w = int(job.width), h = int(job.height);
  bool grey = job.colorType == PNG_COLOR_TYPE_GRAY;
  if (job.outBpp == 4) {
    // 2-bit grey or palette, one byte per pixel, packed into nibbles.
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = job.rowPointers[size_t(y)];
      uint8_t* dst = image.TopRow(y);
      for (int x = 0; x < w; ++x) {
        uint8_t v = uint8_t((src[x] & 3) * (grey ? 5 : 1));
        if (x & 1)
          dst[x >> 1] = uint8_t(dst[x >> 1] | v);
        else
          dst[x >> 1] = uint8_t(v << 4);
      }
    }
    return;
  }
  // BGRA rows: colour into the image, alpha into its plane.
  image.AlphaCreate();
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = job.rowPointers[size_t(y)];
    uint8_t* dst = image.TopRow(y);
    uint8_t* alpha = image.AlphaGetPointer(0, h - 1 - y);
    for (int x = 0; x < w; ++x, src += 4, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      alpha[x] = src[3];
    }
  }
}

uint8_t Scale16(unsigned v) { return uint8_t((v + 128u) / 257u); }

// The PNG predictor: whichever of left, above and upper left is nearest to
// left + above - upper left.
inline uint8_t Paeth(int a, int b, int c) {
  int p = a + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return pb <= pc ? uint8_t(b) : uint8_t(c);
}

// Palette, transparency, resolution, profile.
void ReadAttributes(ReadJob& job) {
  CImage& image = *job.image;
  png_structp png = job.png;
  png_infop info = job.info;
  if (job.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp pal = nullptr;
    int n = 0;
    RGBQuad quads[256] = {};
    if (png_get_PLTE(png, info, &pal, &n) && pal) {
      if (n > 256) n = 256;
      for (int i = 0; i < n; ++i) quads[i] = RGBQuad{pal[i].blue, pal[i].green, pal[i].red, 255};
      for (int i = n; i < 256; ++i) quads[i].reserved = 255;
    }
    png_bytep trans = nullptr;
    int numTrans = 0;
    if (png_get_tRNS(png, info, &trans, &numTrans, nullptr) && trans && numTrans > 0) {
      if (numTrans > 256) numTrans = 256;
      int zeros = 0, partial = 0, zeroIndex = -1;
      for (int i = 0; i < numTrans; ++i) {
        quads[i].reserved = trans[i];
        if (trans[i] == 0) ++zeros, zeroIndex = i;
        else if (trans[i] != 255) ++partial;
      }
      image.AlphaPaletteEnable(true);
      if (zeros == 1 && partial == 0) image.SetTransIndex(zeroIndex);
      image.SetPalette(quads, 256);
    } else {
      for (RGBQuad& q : quads) q.reserved = 0;
      image.SetPalette(quads, 256);
    }
  } else {
    png_color_16p tc = nullptr;
    if (png_get_tRNS(png, info, nullptr, nullptr, &tc) && tc) {
      if (job.colorType == PNG_COLOR_TYPE_GRAY) {
        unsigned g = tc->gray;
        long index;
        switch (job.bitDepth) {
          case 16: index = Scale16(g); break;
          case 2: index = long(g & 3) * 5; break;
          default: index = long(g & ((1u << job.bitDepth) - 1)); break;
        }
        image.SetTransIndex(index);
      } else if (job.colorType == PNG_COLOR_TYPE_RGB) {
        RGBQuad c;
        if (job.bitDepth == 16)
          c = RGBQuad{Scale16(tc->blue), Scale16(tc->green), Scale16(tc->red), 0};
        else
          c = RGBQuad{uint8_t(tc->blue), uint8_t(tc->green), uint8_t(tc->red), 0};
        image.SetTransColor(c);
        image.SetTransIndex(0);  // on true colour: the transparent colour is in use
      }
    }
  }
  png_uint_32 rx = 0, ry = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &rx, &ry, &unit) && unit == PNG_RESOLUTION_METER) {
    if (rx > 0) image.SetXDPI(long((double(rx) * 0.0254) + 0.5));
    if (ry > 0) image.SetYDPI(long((double(ry) * 0.0254) + 0.5));
  }
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileLen = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLen) && profile &&
      profileLen > 0)
    image.SetIccProfile(std::vector<uint8_t>(profile, profile + profileLen));
  image.SetCodecOption(job.interlace == PNG_INTERLACE_ADAM7 ? 1 : 0, FORMAT_PNG);
}

// ---- fast reading -------------------------------------------------------------------
//
// Most of a libpng decode is zlib's inflate. For the common layouts (not
// interlaced, 8 or 16 bits per sample) the IDAT chunks are gathered and
// inflated in one call by libdeflate, which is about twice as fast, and the
// rows are unfiltered and converted here. The header and the chunks before
// the pixels are still read by libpng. Anything unusual in the pixel data (a
// bad CRC, a stream that does not hold exactly the rows, an unknown filter)
// leaves the image untouched and the caller goes on through libpng, so
// damaged files fail, or are read, exactly as libpng does it.

bool FastPathApplies(const ReadJob& job) {
  return job.interlace == PNG_INTERLACE_NONE && (job.bitDepth == 8 || job.bitDepth == 16) &&
         (job.colorType == PNG_COLOR_TYPE_GRAY || job.colorType == PNG_COLOR_TYPE_PALETTE ||
          job.colorType == PNG_COLOR_TYPE_RGB || job.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ||
          job.colorType == PNG_COLOR_TYPE_RGB_ALPHA);
}

// The zlib stream of the IDAT chunks that start at data[at] (the first one's
// length field), with every chunk's CRC checked. The run ends at the first
// other chunk or at the end of the file.
bool GatherIdat(const uint8_t* data, size_t size, size_t at, std::vector<uint8_t>& stream) {
  // First the chunks are checked and measured, so that the stream is
  // allocated once at its size.
  size_t total = 0, end = at;
  while (size - end >= 8 && std::memcmp(data + end + 4, "IDAT", 4) == 0) {
    const size_t length = byte_order::GetBe32(data + end);
    if (length > 0x7FFFFFFF || length + 12 > size - end) return false;
    if (libdeflate_crc32(0, data + end + 4, length + 4) != byte_order::GetBe32(data + end + 8 + length))
      return false;
    total += length;
    end += length + 12;
  }
  if (total == 0) return false;
  stream.resize(total);
  for (size_t put = 0; at < end;) {
    const size_t length = byte_order::GetBe32(data + at);
    std::memcpy(stream.data() + put, data + at + 8, length);
    put += length;
    at += length + 12;
  }
  return true;
}

// Undoes the filter of one row in place: row is 1 + stride bytes, the first
// byte the filter type; prev is the previous row's stride bytes (zeros for
// the first). False on an unknown filter type.
template <size_t Bpp>
inline bool UnfilterRow(uint8_t* row, const uint8_t* prev, size_t stride) {
  uint8_t* r = row + 1;
  switch (row[0]) {
    case 0:
      break;
    case 1:
      for (size_t i = Bpp; i < stride; ++i) r[i] = uint8_t(r[i] + r[i - Bpp]);
      break;
    case 2:
      for (size_t i = 0; i < stride; ++i) r[i] = uint8_t(r[i] + prev[i]);
      break;
    case 3:
      for (size_t i = 0; i < Bpp && i < stride; ++i) r[i] = uint8_t(r[i] + (prev[i] >> 1));
      for (size_t i = Bpp; i < stride; ++i)
        r[i] = uint8_t(r[i] + ((unsigned(r[i - Bpp]) + prev[i]) >> 1));
      break;
    case 4:
      for (size_t i = 0; i < Bpp && i < stride; ++i) r[i] = uint8_t(r[i] + prev[i]);
      for (size_t i = Bpp; i < stride; ++i)
        r[i] = uint8_t(r[i] + Paeth(r[i - Bpp], prev[i], prev[i - Bpp]));
      break;
    default:
      return false;
  }
  return true;
}

// Undoes the row filters of height rows of 1 + stride bytes each, in place
// (prev: the row above the first, zeros for a picture's first row).
template <size_t Bpp>
bool UnfilterRows(uint8_t* rows, size_t stride, size_t height, const uint8_t* prev) {
  for (size_t y = 0; y < height; ++y) {
    uint8_t* row = rows + y * (stride + 1);
    if (!UnfilterRow<Bpp>(row, prev, stride)) return false;
    prev = row + 1;
  }
  return true;
}

bool Unfilter(uint8_t* rows, size_t stride, size_t height, size_t bpp,
              const uint8_t* prev = nullptr) {
  std::vector<uint8_t> zeros;
  if (!prev) {
    zeros.assign(stride, 0);
    prev = zeros.data();
  }
  switch (bpp) {
    case 1: return UnfilterRows<1>(rows, stride, height, prev);
    case 2: return UnfilterRows<2>(rows, stride, height, prev);
    case 3: return UnfilterRows<3>(rows, stride, height, prev);
    case 4: return UnfilterRows<4>(rows, stride, height, prev);
    case 6: return UnfilterRows<6>(rows, stride, height, prev);
    case 8: return UnfilterRows<8>(rows, stride, height, prev);
    default: return false;
  }
}

// One sample of the row at x: 8 bits, or 16 scaled to 8 as libpng's
// png_set_scale_16 does.
template <bool Wide>
inline uint8_t Sample(const uint8_t* row, size_t i) {
  if (Wide) return Scale16(unsigned(row[2 * i]) << 8 | row[2 * i + 1]);
  return row[i];
}

// Unfiltered rows into every row of the image, in the layout PlanPixels and
// FinishPixels give (palette or grey indices, BGR, alpha plane, which the
// image must have for colour types with alpha).
template <bool Wide>
void StoreRows(int colorType, CImage& image, const uint8_t* rows, size_t stride) {
  const int w = image.GetWidth(), h = image.GetHeight();
  const bool alpha = colorType == PNG_COLOR_TYPE_GRAY_ALPHA || colorType == PNG_COLOR_TYPE_RGB_ALPHA;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = rows + size_t(y) * (stride + 1) + 1;
    uint8_t* dst = image.TopRow(y);
    uint8_t* a = alpha ? image.AlphaGetPointer(0, h - 1 - y) : nullptr;
    switch (colorType) {
      case PNG_COLOR_TYPE_GRAY:
      case PNG_COLOR_TYPE_PALETTE:
        if (!Wide) {
          std::memcpy(dst, src, size_t(w));
        } else {
          for (int x = 0; x < w; ++x) dst[x] = Sample<Wide>(src, size_t(x));
        }
        break;
      case PNG_COLOR_TYPE_RGB:
        for (size_t x = 0; x < size_t(w); ++x, dst += 3) {
          dst[0] = Sample<Wide>(src, 3 * x + 2);
          dst[1] = Sample<Wide>(src, 3 * x + 1);
          dst[2] = Sample<Wide>(src, 3 * x);
        }
        break;
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        for (size_t x = 0; x < size_t(w); ++x, dst += 3) {
          dst[0] = dst[1] = dst[2] = Sample<Wide>(src, 2 * x);
          a[x] = Sample<Wide>(src, 2 * x + 1);
        }
        break;
      case PNG_COLOR_TYPE_RGB_ALPHA:
        for (size_t x = 0; x < size_t(w); ++x, dst += 3) {
          dst[0] = Sample<Wide>(src, 4 * x + 2);
          dst[1] = Sample<Wide>(src, 4 * x + 1);
          dst[2] = Sample<Wide>(src, 4 * x);
          a[x] = Sample<Wide>(src, 4 * x + 3);
        }
        break;
    }
  }
}

void StoreRows(const ReadJob& job, CImage& image, const uint8_t* rows, size_t stride) {
  if (job.colorType == PNG_COLOR_TYPE_GRAY_ALPHA || job.colorType == PNG_COLOR_TYPE_RGB_ALPHA)
    image.AlphaCreate();
  if (job.bitDepth == 16)
    StoreRows<true>(job.colorType, image, rows, stride);
  else
    StoreRows<false>(job.colorType, image, rows, stride);
}

// The depth of the image a file FastPathApplies to gives, and the bytes per
// pixel and per row (without the filter byte) of its data.
int FastLayout(const ReadJob& job, size_t& bpp, size_t& stride) {
  static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  bpp = size_t(kChannels[job.colorType]) * size_t(job.bitDepth / 8);
  stride = size_t(job.width) * bpp;
  return job.colorType == PNG_COLOR_TYPE_GRAY || job.colorType == PNG_COLOR_TYPE_PALETTE ? 8 : 24;
}

// The pixels of a file FastPathApplies to, from data[job.pos - 8] (libpng has
// read the first IDAT's length and type). False with the image untouched
// when the caller should go on through libpng; *failed is set when the
// image could not be made (its error is set).
bool DecodeFast(ReadJob& job, bool* failed) {
  if (job.pos < 8 || std::memcmp(job.data + job.pos - 4, "IDAT", 4) != 0) return false;
  size_t bpp = 0, stride = 0;
  const int outBpp = FastLayout(job, bpp, stride);
  const size_t rawSize = (stride + 1) * size_t(job.height);
  std::vector<uint8_t> raw;
  {
    std::vector<uint8_t> stream;
    if (!GatherIdat(job.data, job.size, job.pos - 8, stream)) return false;
    raw.resize(rawSize);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (!d) return false;
    const libdeflate_result r =
        libdeflate_zlib_decompress(d, stream.data(), stream.size(), raw.data(), rawSize, nullptr);
    libdeflate_free_decompressor(d);
    if (r != LIBDEFLATE_SUCCESS) return false;
  }
  if (!Unfilter(raw.data(), stride, job.height, bpp)) return false;
  job.outBpp = outBpp;
  if (!job.image->Create(int(job.width), int(job.height), job.outBpp, FORMAT_PNG)) {
    *failed = true;
    return false;
  }
  StoreRows(job, *job.image, raw.data(), stride);
  return true;
}

bool PngSniff(const uint8_t* data, size_t size) {
  return size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

// Owns the libpng read structures for one decode.
struct ReadStructs {
  ReadJob* job;
  ~ReadStructs() {
    if (job->png) png_destroy_read_struct(&job->png, job->info ? &job->info : nullptr, nullptr);
  }
};

// Creates libpng's structures (which the caller's ReadStructs frees) and
// reads the chunks before the pixels; false with the reason.
bool OpenRead(ReadJob& job, const uint8_t* data, size_t size, std::string& error) {
  job.data = data;
  job.size = size;
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job.msg, PngError, PngWarning);
  if (job.png) job.info = png_create_info_struct(job.png);
  if (!job.png || !job.info) {
    error = "out of memory";
    return false;
  }
  // Sizes are checked against the image's own limit by the caller.
  png_set_user_limits(job.png, 0x7FFFFFFF, 0x7FFFFFFF);
  if (!ReadHeader(&job)) {
    error = job.msg.text[0] ? job.msg.text : "cannot read the header";
    return false;
  }
  return true;
}

bool DecodeFile(CImage& image, const uint8_t* data, size_t size, bool fast) {
  if (!PngSniff(data, size)) {
    image.SetLastError("not a PNG file");
    return false;
  }
  ReadJob job;
  job.image = &image;
  ReadStructs guard{&job};
  std::string error;
  if (!OpenRead(job, data, size, error)) {
    image.SetLastError(error);
    return false;
  }
  if (!image.CheckDimensions(job.width, job.height, nullptr)) return false;
  bool decoded = false;
  if (fast && FastPathApplies(job)) {
    bool failed = false;
    try {
      decoded = DecodeFast(job, &failed);
    } catch (const std::bad_alloc&) {
      decoded = false;  // libpng decodes in less memory
    }
    if (failed) return false;
  }
  if (!decoded && !PlanPixels(job)) return false;
  if (!decoded) {
    if (!ReadPixels(&job)) {
      image.SetLastError(job.msg.text[0] ? job.msg.text : "cannot read the pixels");
      return false;
    }
    FinishPixels(job);
  }
  ReadAttributes(job);
  image.SetType(FORMAT_PNG);
  image.SetNumFrames(1);
  return true;
}

bool PngDecode(CImage& image, const uint8_t* data, size_t size) {
  return DecodeFile(image, data, size, true);
}

// ---- writing ----------------------------------------------------------------------

struct WriteJob {
  const CImage* image = nullptr;
  std::vector<uint8_t>* out = nullptr;
  PngMessage msg{};
  png_structp png = nullptr;
  png_infop info = nullptr;
  // Plan.
  int colorType = 0;
  int bitDepth = 8;
  bool rgba = false;  // rows are made in rowBuffer
  std::vector<png_color> palette;
  std::vector<png_byte> trans;
  png_color_16 transColor{};
  bool hasTransColor = false;
  std::vector<uint8_t> rowBuffer;
};

void WriteCallback(png_structp png, png_bytep data, size_t length) {
  WriteJob* job = static_cast<WriteJob*>(png_get_io_ptr(png));
  bool ok = true;
  try {
    job->out->insert(job->out->end(), data, data + length);
  } catch (...) {
    ok = false;
  }
  if (!ok) png_error(png, "out of memory");
}

void FlushCallback(png_structp) {}

// One RGBA row (B, G, R, A order; libpng swaps with png_set_bgr).
void MakeRgbaRow(const CImage& image, int yFromTop, uint8_t* dst) {
  int w = image.GetWidth(), h = image.GetHeight();
  int y = h - 1 - yFromTop;
  const uint8_t* alpha = image.AlphaGetPointer(0, y);
  if (image.GetBpp() == 24) {
    const uint8_t* src = image.TopRow(yFromTop);
    for (int x = 0; x < w; ++x, src += 3, dst += 4) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = alpha ? alpha[x] : 255;
    }
  } else {
    for (int x = 0; x < w; ++x, dst += 4) {
      RGBQuad c = image.GetPixelColor(x, y, true);  // palette alpha and plane combined
      dst[0] = c.blue;
      dst[1] = c.green;
      dst[2] = c.red;
      dst[3] = c.reserved;
    }
  }
}

bool RunWrite(WriteJob* job) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_structp png = job->png;
  png_infop info = job->info;
  const CImage& image = *job->image;
  int w = image.GetWidth(), h = image.GetHeight();
  png_set_write_fn(png, job, WriteCallback, FlushCallback);
  // An unusable colour profile is left out with a warning instead of failing.
  png_set_benign_errors(png, 1);
  bool interlaced = (image.GetCodecOption(FORMAT_PNG) & 1) != 0;
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), job->bitDepth, job->colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 4);
  if (job->colorType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(png, info, job->palette.data(), int(job->palette.size()));
  if (!job->trans.empty())
    png_set_tRNS(png, info, job->trans.data(), int(job->trans.size()), nullptr);
  else if (job->hasTransColor)
    png_set_tRNS(png, info, nullptr, 0, &job->transColor);
  long xd = image.GetXDPI(), yd = image.GetYDPI();
  png_set_pHYs(png, info, png_uint_32(double(xd) / 0.0254 + 0.5),
               png_uint_32(double(yd) / 0.0254 + 0.5), PNG_RESOLUTION_METER);
  const std::vector<uint8_t>& icc = image.GetIccProfile();
  if (!icc.empty())
    png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, icc.data(),
                 png_uint_32(icc.size()));
  png_write_info(png, info);
  if (job->colorType == PNG_COLOR_TYPE_RGB || job->colorType == PNG_COLOR_TYPE_RGB_ALPHA)
    png_set_bgr(png);
  int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < h; ++y) {
      if (job->rgba) {
        MakeRgbaRow(image, y, job->rowBuffer.data());
        png_write_row(png, job->rowBuffer.data());
      } else {
        png_write_row(png, image.TopRow(y));
      }
    }
  png_write_end(png, info);
  return true;
}

// The palette is exactly the grey ramp of the image's depth.
bool IsGreyRamp(const CImage& image) {
  const RGBQuad* pal = image.GetPalette();
  uint32_t n = image.GetNumColors();
  if (!pal || n != (1u << image.GetBpp())) return false;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t v = uint8_t(i * 255 / (n - 1));
    if (pal[i].red != v || pal[i].green != v || pal[i].blue != v) return false;
  }
  return true;
}

bool ProfileIsRgb(const std::vector<uint8_t>& icc) {
  return icc.size() >= 20 && std::memcmp(&icc[16], "RGB ", 4) == 0;
}

bool PlanWrite(WriteJob& job) {
  const CImage& image = *job.image;
  int bpp = image.GetBpp();
  if (bpp == 24) {
    job.bitDepth = 8;
    if (image.AlphaIsValid()) {
      job.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
      job.rgba = true;
    } else {
      job.colorType = PNG_COLOR_TYPE_RGB;
      if (image.GetTransIndex() >= 0) {
        RGBQuad c = image.GetTransColor();
        job.transColor.red = c.red;
        job.transColor.green = c.green;
        job.transColor.blue = c.blue;
        job.hasTransColor = true;
      }
    }
  } else if (bpp == 1 || bpp == 4 || bpp == 8) {
    if (image.AlphaIsValid()) {
      // Per-pixel alpha does not fit a palette PNG.
      job.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
      job.bitDepth = 8;
      job.rgba = true;
    } else {
      job.bitDepth = bpp;
      long ti = image.GetTransIndex();
      bool alphaPal = image.AlphaPaletteIsEnabled();
      uint32_t n = image.GetNumColors();
      const RGBQuad* pal = image.GetPalette();
      if (!alphaPal && IsGreyRamp(image) && !ProfileIsRgb(image.GetIccProfile())) {
        job.colorType = PNG_COLOR_TYPE_GRAY;
        if (ti >= 0 && uint32_t(ti) < n) {
          job.transColor.gray = png_uint_16(ti);
          job.hasTransColor = true;
        }
      } else {
        job.colorType = PNG_COLOR_TYPE_PALETTE;
        job.palette.resize(n);
        for (uint32_t i = 0; i < n; ++i)
          job.palette[i] = png_color{pal[i].red, pal[i].green, pal[i].blue};
        std::vector<png_byte> alpha(n, 255);
        if (alphaPal)
          for (uint32_t i = 0; i < n; ++i) alpha[i] = pal[i].reserved;
        if (ti >= 0 && uint32_t(ti) < n) alpha[size_t(ti)] = 0;
        size_t last = n;
        while (last > 0 && alpha[last - 1] == 255) --last;
        job.trans.assign(alpha.begin(), alpha.begin() + long(last));
      }
    }
  } else {
    image.SetLastError("unsupported bit depth " + std::to_string(bpp));
    return false;
  }
  if (job.rgba) job.rowBuffer.resize(size_t(image.GetWidth()) * 4);
  return true;
}


// ---- direct writing --------------------------------------------------------------
//
// Non-interlaced files are written here rather than through libpng, row by
// row, so that a picture that arrives in bands is never whole: each row is
// filtered with the usual adaptive choice (the filter whose output has the
// smallest sum of absolute values, per row; none for palette and sub-byte
// images, as libpng does) and zlib packs the rows as they come. How is
// chosen for each group of 64 rows of the picture from its filtered bytes:
// where more than half of them are zero (drawings, screenshots, flat areas,
// where long repeats are worth finding) zlib's level 6; elsewhere
// (photographs, whose noise rarely repeats) run-length matching only, which
// packs photographs a little smaller than zlib's level 7 (ImageMagick's) at
// several times its speed. Unfiltered rows always get level 6. The groups
// depend on the picture alone, so the bytes do not depend on the bands the
// rows come in. The file is the same kind libpng would write.

void PutChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
  byte_order::PutBe32(out, uint32_t(size));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  byte_order::PutBe32(out, uint32_t(libdeflate_crc32(0, out.data() + start, size + 4)));
}

// One-call compression, for the colour profile.
struct DeflateCompressor {
  explicit DeflateCompressor(int level) : c(libdeflate_alloc_compressor(level)) {}
  ~DeflateCompressor() {
    if (c) libdeflate_free_compressor(c);
  }
  bool Compress(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    if (!c) return false;
    out.resize(libdeflate_zlib_compress_bound(c, in.size()));
    size_t n = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
    out.resize(n);
    return n != 0;
  }
  libdeflate_compressor* c;
};

// One row of the image in PNG sample order (R, G, B[, A]; grey and palette
// rows as stored).
void MakePngRow(const WriteJob& job, int yFromTop, uint8_t* dst) {
  const CImage& image = *job.image;
  const int w = image.GetWidth();
  if (job.rgba) {
    MakeRgbaRow(image, yFromTop, dst);
    for (int x = 0; x < w; ++x, dst += 4) std::swap(dst[0], dst[2]);
  } else if (job.colorType == PNG_COLOR_TYPE_RGB) {
    const uint8_t* src = image.TopRow(yFromTop);
    for (int x = 0; x < w; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  } else {
    std::memcpy(dst, image.TopRow(yFromTop), (size_t(w) * size_t(job.bitDepth) + 7) / 8);
  }
}

// Filters row (prev: the previous row, zeros for the first) into out[1..]
// with filter type f.
void FilterRow(int f, const uint8_t* row, const uint8_t* prev, size_t n, size_t bpp,
               uint8_t* out) {
  out[0] = uint8_t(f);
  uint8_t* d = out + 1;
  const size_t head = std::min(bpp, n);
  switch (f) {
    case 0:
      std::memcpy(d, row, n);
      break;
    case 1:
      std::memcpy(d, row, head);
      for (size_t i = bpp; i < n; ++i) d[i] = uint8_t(row[i] - row[i - bpp]);
      break;
    case 2:
      for (size_t i = 0; i < n; ++i) d[i] = uint8_t(row[i] - prev[i]);
      break;
    case 3:
      for (size_t i = 0; i < head; ++i) d[i] = uint8_t(row[i] - (prev[i] >> 1));
      for (size_t i = bpp; i < n; ++i) d[i] = uint8_t(row[i] - ((row[i - bpp] + prev[i]) >> 1));
      break;
    default:
      for (size_t i = 0; i < head; ++i) d[i] = uint8_t(row[i] - prev[i]);
      for (size_t i = bpp; i < n; ++i)
        d[i] = uint8_t(row[i] - Paeth(row[i - bpp], prev[i], prev[i - bpp]));
      break;
  }
}

// The sums of absolute values (bytes taken as signed) that FilterRow
// returns for the five filter types, without writing the filtered row.
// Sixteen bytes at a time with SSE2 where the machine has it.
void FilterSums(const uint8_t* row, const uint8_t* prev, size_t n, size_t bpp, uint64_t sums[5]) {
  auto mag = [](uint8_t d) { return uint64_t(d < 128 ? d : 256 - d); };
  uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  const size_t head = std::min(bpp, n);
  for (size_t i = 0; i < head; ++i) {
    s0 += mag(row[i]);
    s1 += mag(row[i]);
    s2 += mag(uint8_t(row[i] - prev[i]));
    s3 += mag(uint8_t(row[i] - (prev[i] >> 1)));
    s4 += mag(uint8_t(row[i] - prev[i]));
  }
  size_t i = head;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  // |d| for bytes d taken as signed, as unsigned bytes (|-128| = 128).
  auto absBytes = [&](__m128i d) { return _mm_min_epu8(d, _mm_sub_epi8(zero, d)); };
  auto sad = [&](__m128i d) {
    __m128i t = _mm_sad_epu8(absBytes(d), zero);
    return uint64_t(_mm_cvtsi128_si32(t)) + uint64_t(_mm_extract_epi16(t, 4));
  };
  auto abs16 = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
  // Paeth on eight 16-bit lanes.
  auto paeth16 = [&](__m128i a, __m128i b, __m128i c) {
    __m128i pa = abs16(_mm_sub_epi16(b, c));
    __m128i pb = abs16(_mm_sub_epi16(a, c));
    __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
    __m128i useA = _mm_andnot_si128(_mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)),
                                    _mm_set1_epi16(-1));
    __m128i useB = _mm_andnot_si128(_mm_cmpgt_epi16(pb, pc), _mm_set1_epi16(-1));
    __m128i bc = _mm_or_si128(_mm_and_si128(useB, b), _mm_andnot_si128(useB, c));
    return _mm_or_si128(_mm_and_si128(useA, a), _mm_andnot_si128(useA, bc));
  };
  for (; i + 16 <= n; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - bpp));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i - bpp));
    s0 += sad(x);
    s1 += sad(_mm_sub_epi8(x, a));
    s2 += sad(_mm_sub_epi8(x, b));
    // (a + b) >> 1 without overflow: avg rounds up, so take off the carry.
    __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b),
                               _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
    s3 += sad(_mm_sub_epi8(x, avg));
    __m128i lo = paeth16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                         _mm_unpacklo_epi8(c, zero));
    __m128i hi = paeth16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                         _mm_unpackhi_epi8(c, zero));
    s4 += sad(_mm_sub_epi8(x, _mm_packus_epi16(lo, hi)));
  }
#endif
  for (; i < n; ++i) {
    s0 += mag(row[i]);
    s1 += mag(uint8_t(row[i] - row[i - bpp]));
    s2 += mag(uint8_t(row[i] - prev[i]));
    s3 += mag(uint8_t(row[i] - ((row[i - bpp] + prev[i]) >> 1)));
    s4 += mag(uint8_t(row[i] - Paeth(row[i - bpp], prev[i], prev[i - bpp])));
  }
  sums[0] = s0;
  sums[1] = s1;
  sums[2] = s2;
  sums[3] = s3;
  sums[4] = s4;
}

// Rows per group that gets one way of packing.
constexpr int kGroupRows = 64;
// Image data goes out in chunks of at most 1 MiB, as readers expect.
constexpr size_t kIdat = size_t(1) << 20;

// The zlib stream of a direct write; packed data collects in one chunk's
// worth of buffer and goes out as IDAT chunks.
struct ImageDataStream {
  ImageDataStream() = default;
  ImageDataStream(const ImageDataStream&) = delete;
  ImageDataStream& operator=(const ImageDataStream&) = delete;
  ~ImageDataStream() {
    if (open) deflateEnd(&z);
  }
  z_stream z{};
  bool open = false;
  int mode = -1;  // 0 run-length, 1 level 6
  std::vector<uint8_t> chunk;
};

// The state of a direct write between its bands: the rows of the current
// group, filtered, and the zlib stream; nothing else of the picture is kept.
struct DirectState {
  int width = 0;
  int height = 0;
  int nextRow = 0;
  size_t rowBytes = 0;
  size_t bpp = 1;  // bytes per pixel for the filters
  bool adaptive = false;
  std::vector<uint8_t> group;  // filter byte and filtered bytes of each row
  int groupRows = 0;
  std::vector<uint8_t> cur, prev;
  ImageDataStream data;
};

void PutImageDataChunk(std::vector<uint8_t>& out, ImageDataStream& d) {
  const size_t n = d.chunk.size() - d.z.avail_out;
  if (n) PutChunk(out, "IDAT", d.chunk.data(), n);
  d.z.next_out = d.chunk.data();
  d.z.avail_out = uInt(d.chunk.size());
}

// Runs deflate with flush until it has taken all its input (and for
// Z_FINISH, ended the stream), putting out every chunk that fills.
bool RunDeflate(std::vector<uint8_t>& out, ImageDataStream& d, int flush) {
  for (;;) {
    const int r = deflate(&d.z, flush);
    if (r == Z_STREAM_ERROR) return false;
    if (d.z.avail_out == 0) {
      PutImageDataChunk(out, d);
      continue;
    }
    if (flush == Z_FINISH && r != Z_STREAM_END) return false;
    return d.z.avail_in == 0;
  }
}

// Packs the rows of the current group.
bool PackGroup(WriteJob& job, DirectState& st) {
  ImageDataStream& d = st.data;
  const size_t size = size_t(st.groupRows) * (st.rowBytes + 1);
  int mode = 1;
  if (st.adaptive) {
    size_t zeros = 0;
    for (int y = 0; y < st.groupRows; ++y) {
      const uint8_t* row = st.group.data() + size_t(y) * (st.rowBytes + 1) + 1;
      zeros += size_t(std::count(row, row + st.rowBytes, uint8_t(0)));
    }
    mode = zeros * 2 > size_t(st.groupRows) * st.rowBytes ? 1 : 0;
  }
  const int level = mode ? 6 : 1, strategy = mode ? Z_DEFAULT_STRATEGY : Z_RLE;
  if (!d.open) {
    if (deflateInit2(&d.z, level, Z_DEFLATED, 15, 9, strategy) != Z_OK) return false;
    d.open = true;
    d.chunk.resize(kIdat);
    d.z.next_out = d.chunk.data();
    d.z.avail_out = uInt(d.chunk.size());
  } else if (mode != d.mode) {
    // Ends the block packed the old way, then changes the way.
    if (!RunDeflate(*job.out, d, Z_BLOCK) || deflateParams(&d.z, level, strategy) != Z_OK)
      return false;
  }
  d.mode = mode;
  d.z.next_in = st.group.data();
  d.z.avail_in = uInt(size);
  const bool last = st.nextRow == st.height;
  st.groupRows = 0;
  return RunDeflate(*job.out, d, last ? Z_FINISH : Z_NO_FLUSH);
}

// Starts the file in job.out: everything before the image data. job is
// planned (PlanWrite) from an image with the picture's attributes and
// job.image's width; height is the picture's.
bool BeginDirect(WriteJob& job, int height, DirectState& st, std::string& error) {
  const CImage& image = *job.image;
  const int channels = job.rgba ? 4
                       : job.colorType == PNG_COLOR_TYPE_RGB ? 3
                                                             : 1;
  st.width = image.GetWidth();
  st.height = height;
  st.nextRow = 0;
  st.rowBytes = (size_t(st.width) * size_t(channels) * size_t(job.bitDepth) + 7) / 8;
  st.adaptive = job.colorType != PNG_COLOR_TYPE_PALETTE && job.bitDepth == 8;
  st.bpp = size_t(channels);
  const size_t groupBytes = (st.rowBytes + 1) * size_t(std::min(height, kGroupRows));
  if (groupBytes > UINT32_MAX) {  // more than zlib takes in one call
    error = "the picture is too wide to be packed";
    return false;
  }
  st.group.resize(groupBytes);
  st.groupRows = 0;
  st.cur.resize(st.rowBytes);
  st.prev.assign(st.rowBytes, 0);

  std::vector<uint8_t>& out = *job.out;
  // Room for the whole file at the worst packing; only the pages written
  // to take memory.
  const size_t raw = (st.rowBytes + 1) * size_t(height);
  const size_t bound = raw + raw / 8 + raw / 64 + 1024;
  out.reserve(out.size() + bound + (bound / kIdat + 1) * 12 + image.GetIccProfile().size() +
              job.palette.size() * 3 + 1024);
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out.insert(out.end(), kSignature, kSignature + 8);
  std::vector<uint8_t> chunk;
  byte_order::PutBe32(chunk, uint32_t(st.width));
  byte_order::PutBe32(chunk, uint32_t(st.height));
  chunk.push_back(uint8_t(job.bitDepth));
  chunk.push_back(uint8_t(job.colorType));
  chunk.push_back(0);  // deflate
  chunk.push_back(0);  // adaptive filtering
  chunk.push_back(0);  // not interlaced
  PutChunk(out, "IHDR", chunk.data(), chunk.size());

  const std::vector<uint8_t>& icc = image.GetIccProfile();
  if (!icc.empty()) {
    DeflateCompressor compressor(2);
    std::vector<uint8_t> packedIcc;
    if (compressor.Compress(icc, packedIcc)) {
      static const char kName[] = "ICC Profile";
      chunk.assign(kName, kName + sizeof kName);  // name and its terminating zero
      chunk.push_back(0);                          // deflate
      chunk.insert(chunk.end(), packedIcc.begin(), packedIcc.end());
      PutChunk(out, "iCCP", chunk.data(), chunk.size());
    } else if (!compressor.c) {
      error = "cannot compress the image data";
      return false;
    }
  }
  chunk.clear();
  byte_order::PutBe32(chunk, uint32_t(double(image.GetXDPI()) / 0.0254 + 0.5));
  byte_order::PutBe32(chunk, uint32_t(double(image.GetYDPI()) / 0.0254 + 0.5));
  chunk.push_back(1);  // metres
  PutChunk(out, "pHYs", chunk.data(), chunk.size());
  if (job.colorType == PNG_COLOR_TYPE_PALETTE) {
    chunk.clear();
    for (const png_color& c : job.palette) {
      chunk.push_back(c.red);
      chunk.push_back(c.green);
      chunk.push_back(c.blue);
    }
    PutChunk(out, "PLTE", chunk.data(), chunk.size());
  }
  if (!job.trans.empty()) {
    PutChunk(out, "tRNS", job.trans.data(), job.trans.size());
  } else if (job.hasTransColor) {
    chunk.clear();
    auto put16 = [&](uint16_t v) {
      chunk.push_back(uint8_t(v >> 8));
      chunk.push_back(uint8_t(v));
    };
    if (job.colorType == PNG_COLOR_TYPE_GRAY) {
      put16(job.transColor.gray);
    } else {
      put16(job.transColor.red);
      put16(job.transColor.green);
      put16(job.transColor.blue);
    }
    PutChunk(out, "tRNS", chunk.data(), chunk.size());
  }
  return true;
}

// Filters the rows of band (top to bottom, at most the rows still missing)
// and packs every group they complete.
bool FilterBand(WriteJob& job, const CImage& band, DirectState& st, std::string& error) {
  job.image = &band;
  const int rows = std::min(band.GetHeight(), st.height - st.nextRow);
  for (int y = 0; y < rows; ++y) {
    MakePngRow(job, y, st.cur.data());
    uint8_t* out = st.group.data() + size_t(st.groupRows) * (st.rowBytes + 1);
    if (!st.adaptive) {
      out[0] = 0;
      std::memcpy(out + 1, st.cur.data(), st.rowBytes);
    } else {
      uint64_t sums[5];
      FilterSums(st.cur.data(), st.prev.data(), st.rowBytes, st.bpp, sums);
      uint64_t best = ~uint64_t(0);
      int bestFilter = 0;
      for (int f = 0; f <= 4; ++f) {
        if (sums[f] < best) {
          best = sums[f];
          bestFilter = f;
        }
      }
      FilterRow(bestFilter, st.cur.data(), st.prev.data(), st.rowBytes, st.bpp, out);
    }
    std::swap(st.cur, st.prev);
    ++st.nextRow;
    if (++st.groupRows == kGroupRows || st.nextRow == st.height) {
      if (!PackGroup(job, st)) {
        error = "cannot compress the image data";
        return false;
      }
    }
  }
  return true;
}

// Puts out the last image data and ends the file.
bool FinishDirect(WriteJob& job, DirectState& st, std::string& error) {
  if (st.nextRow != st.height) {
    error = "the picture data ended early";
    return false;
  }
  PutImageDataChunk(*job.out, st.data);
  PutChunk(*job.out, "IEND", nullptr, 0);
  return true;
}

bool WriteDirect(WriteJob& job) {
  const CImage& image = *job.image;
  DirectState st;
  std::string error;
  if (!BeginDirect(job, image.GetHeight(), st, error) || !FilterBand(job, image, st, error) ||
      !FinishDirect(job, st, error)) {
    image.SetLastError(error);
    return false;
  }
  return true;
}

struct WriteStructs {
  WriteJob* job;
  ~WriteStructs() {
    if (job->png) png_destroy_write_struct(&job->png, job->info ? &job->info : nullptr);
  }
};

bool PngEncode(const CImage& image, std::vector<uint8_t>& out) {
  WriteJob job;
  job.image = &image;
  job.out = &out;
  if (!PlanWrite(job)) return false;
  size_t start = out.size();
  if ((image.GetCodecOption(FORMAT_PNG) & 1) == 0) {
    bool ok = false;
    try {
      ok = WriteDirect(job);
    } catch (const std::bad_alloc&) {
      image.SetLastError("out of memory");
    }
    if (!ok) out.resize(start);
    return ok;
  }
  WriteStructs guard{&job};
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job.msg, PngError, PngWarning);
  if (!job.png) {
    image.SetLastError("out of memory");
    return false;
  }
  job.info = png_create_info_struct(job.png);
  if (!job.info) {
    image.SetLastError("out of memory");
    return false;
  }
  if (!RunWrite(&job)) {
    out.resize(start);
    image.SetLastError(job.msg.text[0] ? job.msg.text : "cannot write the file");
    return false;
  }
  return true;
}

}  // namespace

namespace png_internal {
bool DecodeThroughLibpng(CImage& image, const uint8_t* data, size_t size) {
  return DecodeFile(image, data, size, false);
}
}  // namespace png_internal

extern const CodecInfo kCodecPng = {FORMAT_PNG, "PNG", "png", PngSniff, PngDecode, PngEncode};

// ---- writing in bands -------------------------------------------------------------

struct CPngBandWriter::State {
  WriteJob job;
  DirectState direct;
  size_t start = 0;  // of the file in the output
  int bpp = 0;       // of every band
};

CPngBandWriter::CPngBandWriter() = default;
CPngBandWriter::~CPngBandWriter() = default;

bool CPngBandWriter::Fail(const std::string& error) {
  error_ = error;  // before the state, which error may belong to, goes
  if (state_) state_->job.out->resize(state_->start);
  state_.reset();
  return false;
}

bool CPngBandWriter::Begin(const CImage& first, int height, std::vector<uint8_t>& out) {
  error_.clear();
  state_.reset();
  if ((first.GetCodecOption(FORMAT_PNG) & 1) != 0) return Fail("interlaced files are written whole");
  if (!first.IsValid() || height < 1) return Fail("nothing to save: the image is empty");
  try {
    state_ = std::make_unique<State>();
    state_->job.image = &first;
    state_->job.out = &out;
    state_->start = out.size();
    if (!PlanWrite(state_->job)) return Fail(first.GetLastError());
    std::string error;
    if (!BeginDirect(state_->job, height, state_->direct, error)) return Fail(error);
    state_->bpp = first.GetBpp();
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
  return true;
}

bool CPngBandWriter::AddBand(const CImage& band) {
  if (!state_) return Fail(error_.empty() ? "the file was not started" : error_);
  if (band.GetWidth() != state_->direct.width || band.GetBpp() != state_->bpp)
    return Fail("a band does not match the picture");
  try {
    std::string error;
    if (!FilterBand(state_->job, band, state_->direct, error)) return Fail(error);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
  return true;
}

bool CPngBandWriter::Finish() {
  if (!state_) return Fail(error_.empty() ? "the file was not started" : error_);
  try {
    std::string error;
    if (!FinishDirect(state_->job, state_->direct, error)) return Fail(error);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
  state_.reset();
  return true;
}

// ---- reading in bands -------------------------------------------------------------
//
// The files the fast reading takes (not interlaced, 8 or 16 bits per
// sample), inflated a band at a time by ISA-L's inflate, which streams as
// fast as libdeflate inflates in one call (zlib's takes about twice as
// long). A band is the part of the image a whole decode gives, with the
// same attributes. The reader gives up where the fast reading would (a bad
// IDAT chunk, data that does not hold exactly the rows, an unknown filter),
// and the file is read whole, which decides what such a file gives.

struct CPngBandReader::State {
  ReadJob job;
  ReadStructs guard{&job};
  CImage limits;
  inflate_state z;
  bool ended = false;  // the zlib stream has ended, its checksum checked
  size_t next = 0;     // the next chunk's length field
  size_t bpp = 0, stride = 0;
  int outBpp = 0;
  std::vector<uint8_t> rows;  // a band's rows as inflated: filter byte and stride bytes each
  std::vector<uint8_t> prev;  // the row above the band, unfiltered

  enum class Chunk { Idat, Other, Bad };
  // Moves on to the next chunk, handing an IDAT chunk's data to inflate
  // (Other: any other chunk or the end of the file; Bad: a wrong length or
  // CRC).
  Chunk NextChunk() {
    const uint8_t* data = job.data;
    const size_t size = job.size;
    if (size - next < 8 || std::memcmp(data + next + 4, "IDAT", 4) != 0) return Chunk::Other;
    const size_t length = byte_order::GetBe32(data + next);
    if (length > 0x7FFFFFFF || length + 12 > size - next ||
        libdeflate_crc32(0, data + next + 4, length + 4) != byte_order::GetBe32(data + next + 8 + length))
      return Chunk::Bad;
    z.next_in = const_cast<uint8_t*>(data + next + 8);
    z.avail_in = uint32_t(length);
    next += length + 12;
    return Chunk::Idat;
  }
  // Inflates exactly size bytes into out.
  bool Inflate(uint8_t* out, size_t size) {
    z.next_out = out;
    z.avail_out = uint32_t(size);
    while (z.avail_out > 0) {
      if (ended) return false;
      // Inflate keeps input and output of its own: it is asked first, and
      // given the next chunk when it has nothing more to give.
      const uint32_t in = z.avail_in, left = z.avail_out;
      if (isal_inflate(&z) < 0) return false;
      if (z.block_state == ISAL_BLOCK_FINISH) {
        ended = true;
      } else if (z.avail_out == left && z.avail_in == 0) {
        if (NextChunk() != Chunk::Idat) return false;
      } else if (z.avail_out == left && z.avail_in == in) {
        return false;  // no headway
      }
    }
    return true;
  }
  // After the last row: the stream ends there, and the IDAT chunks after
  // it are sound (data after the end of the stream is ignored, as the whole
  // decode ignores it).
  bool EndsHere() {
    uint8_t extra;
    if (!ended && (Inflate(&extra, 1) || !ended)) return false;  // more data than rows
    z.avail_in = 0;
    for (;;) switch (NextChunk()) {
        case Chunk::Idat: continue;
        case Chunk::Other: return true;
        case Chunk::Bad: return false;
      }
  }
};

CPngBandReader::CPngBandReader() = default;
CPngBandReader::~CPngBandReader() = default;

bool CPngBandReader::Fail(const std::string& error) {
  error_ = error;  // before the state, which error may belong to, goes
  state_.reset();
  return false;
}

bool CPngBandReader::Open(const uint8_t* data, size_t size) {
  state_.reset();
  error_.clear();
  width_ = height_ = next_ = 0;
  if (!PngSniff(data, size)) return Fail("not a PNG file");
  try {
    state_ = std::make_unique<State>();
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
  State& st = *state_;
  ReadJob& job = st.job;
  std::string error;
  if (!OpenRead(job, data, size, error)) return Fail(error);
  if (!FastPathApplies(job)) return Fail("this file is read whole");
  if (!st.limits.CheckDimensions(job.width, job.height, nullptr))
    return Fail(st.limits.GetLastError());
  if (job.pos < 8 || std::memcmp(job.data + job.pos - 4, "IDAT", 4) != 0)
    return Fail("this file is read whole");
  st.outBpp = FastLayout(job, st.bpp, st.stride);
  st.next = job.pos - 8;
  isal_inflate_init(&st.z);
  st.z.crc_flag = ISAL_ZLIB;
  width_ = int(job.width);
  height_ = int(job.height);
  return true;
}

bool CPngBandReader::ReadBand(CImage& band, int maxRows) {
  if (!state_ || next_ >= height_ || maxRows < 1) return Fail("no rows left to decode");
  State& st = *state_;
  const int rows = std::min(maxRows, height_ - next_);
  try {
    if (next_ == 0 || band.GetWidth() != width_ || band.GetHeight() != rows ||
        band.GetBpp() != st.outBpp) {
      // A fresh image, with the attributes of a whole decode.
      if (next_ == 0) band = CImage();
      if (!band.Create(width_, rows, st.outBpp, FORMAT_PNG)) return Fail(band.GetLastError());
      st.job.image = &band;
      ReadAttributes(st.job);
      band.SetType(FORMAT_PNG);
      band.SetNumFrames(1);
    }
    const size_t bytes = size_t(rows) * (st.stride + 1);
    if (bytes > UINT32_MAX) return Fail("this file is read whole");  // more than inflate takes
    st.rows.resize(bytes);
    if (!st.Inflate(st.rows.data(), bytes)) return Fail("the image data is damaged");
    if (!Unfilter(st.rows.data(), st.stride, size_t(rows), st.bpp, next_ ? st.prev.data() : nullptr))
      return Fail("the image data is damaged");
    StoreRows(st.job, band, st.rows.data(), st.stride);
    const uint8_t* last = st.rows.data() + bytes - st.stride;
    st.prev.assign(last, last + st.stride);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
  next_ += rows;
  if (next_ == height_ && !st.EndsHere()) return Fail("the image data does not end with the picture");
  return true;
}
