// TIFF codec over libtiff, reading from and writing to memory through
// TIFFClientOpenExt.
//
// Reading: one frame per directory (GetFrame() picks it, SetNumFrames()
// counts them); strips or tiles; every compression libtiff decodes. The
// common layouts are decoded directly so that pixels and palettes stay
// exact:
//   grey (min-is-black or min-is-white) 1, 4, 8 bits -> palette image of the
//     same depth with a grey ramp (reversed for min-is-white); 2 bits -> 4
//     (value v at index 5v); 16 bits -> 8
//   palette 1, 4, 8 bits -> palette image; 2 bits -> 4
//   RGB 8 or 16 bits, contiguous, with or without an alpha sample -> 24-bit
//     BGR plus an alpha plane; grey with alpha -> the same
//   JPEG-compressed YCbCr is handed over by libjpeg as RGB
// 16-bit samples are scaled to 8 with rounding; associated (premultiplied)
// alpha is turned into plain alpha. Anything else (planar files, CMYK,
// CIELab, old-style JPEG) goes through libtiff's RGBA reader into 24 bits
// plus alpha when the file has alpha. Rows come in the order the file
// stores them whatever its Orientation tag says: turning the picture by
// that tag is the orientation stage's business, as for a JPEG's EXIF tag.
// The
// resolution (inch or centimetre) and the ICC profile are read; the
// Compression tag's value becomes the codec option for FORMAT_TIF.
//
// Writing: the codec option for FORMAT_TIF is the Compression tag value:
// 1 none, 2 CCITT modified Huffman RLE, 3 CCITT Group 3, 4 CCITT Group 4,
// 5 LZW (horizontal predictor on 24-bit pictures), 7 JPEG, 8 and 32946
// Deflate, 32773 PackBits; 0 and any other value write uncompressed. For
// the CCITT values a copy of the image is reduced to 1 bit first (Floyd-
// Steinberg); JPEG writes 8-bit grey for grey pictures and YCbCr for the
// rest (palette images expanded). Palette images keep a colour map
// (grey-ramp palettes are written as min-is-black grey, reversed ones as
// min-is-white); an alpha plane is written as an
// unassociated alpha sample (palette images with one become RGBA). The
// resolution in dots per inch and the ICC profile are written. CCITT and
// JPEG cannot carry alpha; palette transparency is not kept either.
//
// libtiff's messages go to per-file handlers; the process-wide handlers are
// set to quiet ones so nothing reaches stderr.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "imaging/codecs/codec.h"

namespace {

// Largest single allocation libtiff may make for one file.
constexpr tmsize_t kMaxLibtiffAlloc = tmsize_t(1) << 30;

// ---- messages -------------------------------------------------------------------

thread_local std::string t_lastTiffError;

void QuietGlobalError(const char* module, const char* fmt, va_list ap) {
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  t_lastTiffError = module ? std::string(module) + ": " + buf : std::string(buf);
}

void QuietGlobalWarning(const char*, const char*, va_list) {}

void InstallQuietHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(QuietGlobalError);
    TIFFSetWarningHandler(QuietGlobalWarning);
  });
}

struct Messages {
  std::string error;  // first error reported for this file
};

int FileError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  Messages* m = static_cast<Messages*>(user);
  if (m && m->error.empty()) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    m->error = module ? std::string(module) + ": " + buf : std::string(buf);
  }
  return 1;  // handled: the process-wide handler is not called
}

int FileWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// ---- memory streams ---------------------------------------------------------------

struct MemStream {
  // Reading.
  const uint8_t* data = nullptr;
  size_t size = 0;
  // Writing: the file is out[start ...].
  std::vector<uint8_t>* out = nullptr;
  size_t start = 0;
  uint64_t pos = 0;
  size_t Size() const { return out ? out->size() - start : size; }
  const uint8_t* Data() const { return out ? out->data() + start : data; }
};

tmsize_t StreamRead(thandle_t h, void* buf, tmsize_t n) {
  MemStream* s = static_cast<MemStream*>(h);
  if (n <= 0 || s->pos >= s->Size()) return 0;
  size_t count = std::min(size_t(n), size_t(s->Size() - s->pos));
  std::memcpy(buf, s->Data() + s->pos, count);
  s->pos += count;
  return tmsize_t(count);
}

tmsize_t StreamWrite(thandle_t h, void* buf, tmsize_t n) {
  MemStream* s = static_cast<MemStream*>(h);
  if (!s->out || n < 0) return -1;
  try {
    size_t end = s->start + size_t(s->pos) + size_t(n);
    if (end > s->out->size()) s->out->resize(end);
    std::memcpy(s->out->data() + s->start + s->pos, buf, size_t(n));
  } catch (...) {
    return -1;
  }
  s->pos += uint64_t(n);
  return n;
}

toff_t StreamSeek(thandle_t h, toff_t off, int whence) {
  MemStream* s = static_cast<MemStream*>(h);
  uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->Size() : 0;
  uint64_t target = base + off;  // libtiff passes negative offsets as wrapped values
  if (target > (uint64_t(1) << 40)) return toff_t(-1);
  s->pos = target;
  return target;
}

int StreamClose(thandle_t) { return 0; }

toff_t StreamSize(thandle_t h) { return static_cast<MemStream*>(h)->Size(); }

int StreamMap(thandle_t h, void** base, toff_t* size) {
  MemStream* s = static_cast<MemStream*>(h);
  if (s->out) return 0;
  *base = const_cast<uint8_t*>(s->data);
  *size = s->size;
  return 1;
}

void StreamUnmap(thandle_t, void*, toff_t) {}

// Closes the file and frees the options with the object.
class TiffHandle {
 public:
  TiffHandle(MemStream& stream, Messages& messages, const char* mode) {
    InstallQuietHandlers();
    opts_ = TIFFOpenOptionsAlloc();
    if (opts_) {
      TIFFOpenOptionsSetMaxSingleMemAlloc(opts_, kMaxLibtiffAlloc);
      TIFFOpenOptionsSetErrorHandlerExtR(opts_, FileError, &messages);
      TIFFOpenOptionsSetWarningHandlerExtR(opts_, FileWarning, &messages);
    }
    t_lastTiffError.clear();
    tif_ = TIFFClientOpenExt("memory", mode, &stream, StreamRead, StreamWrite, StreamSeek,
                             StreamClose, StreamSize, StreamMap, StreamUnmap, opts_);
    if (!tif_ && messages.error.empty()) messages.error = t_lastTiffError;
  }
  ~TiffHandle() {
    if (tif_) TIFFClose(tif_);
    if (opts_) TIFFOpenOptionsFree(opts_);
  }
  TiffHandle(const TiffHandle&) = delete;
  TiffHandle& operator=(const TiffHandle&) = delete;
  TIFF* get() const { return tif_; }
  // Closes now (writing: flushes the directory); false on failure.
  bool Close() {
    bool ok = true;
    if (tif_) {
      ok = TIFFFlush(tif_) == 1;
      TIFFClose(tif_);
      tif_ = nullptr;
    }
    return ok;
  }

 private:
  TIFFOpenOptions* opts_ = nullptr;
  TIFF* tif_ = nullptr;
};

// ---- reading ------------------------------------------------------------------------

uint8_t Scale16(unsigned v) { return uint8_t((v + 128u) / 257u); }

struct FrameInfo {
  uint32_t width = 0, height = 0;
  uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT, orientation = ORIENTATION_TOPLEFT;
  int alphaSample = -1;  // index of the alpha sample in a pixel, or -1
  bool associated = false;
};

// Calls row(yFromTop, data) for every decoded row of the frame, in order,
// from strips or tiles. Returns false when libtiff fails.
bool ForEachRow(TIFF* tif, const FrameInfo& fi, CImage& image,
                const std::function<void(uint32_t, const uint8_t*)>& row) {
  uint64_t scan = TIFFScanlineSize64(tif);
  if (scan == 0) {
    image.SetLastError("invalid scanline size");
    return false;
  }
  // Generous bound for any buffer of a valid file.
  uint64_t cap = std::max<uint64_t>(uint64_t(64) << 20, scan * fi.height * 2);
  if (TIFFIsTiled(tif)) {
    uint32_t tw = 0, tl = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tl);
    uint64_t tileRow = TIFFTileRowSize64(tif);
    uint64_t tileSize = TIFFTileSize64(tif);
    if (tw == 0 || tl == 0 || tileRow == 0 || tileSize == 0 || tileSize > cap ||
        scan * tl > cap || tileRow * tl > tileSize) {
      image.SetLastError("invalid tile size");
      return false;
    }
    std::vector<uint8_t> tile(size_t(tileSize), 0);
    std::vector<uint8_t> band(size_t(scan * tl), 0);
    for (uint32_t y0 = 0; y0 < fi.height; y0 += tl) {
      uint32_t rows = std::min(tl, fi.height - y0);
      for (uint32_t x0 = 0; x0 < fi.width; x0 += tw) {
        uint32_t t = TIFFComputeTile(tif, x0, y0, 0, 0);
        if (TIFFReadEncodedTile(tif, t, tile.data(), tmsize_t(tileSize)) < 0) return false;
        // Tile widths are multiples of 16, so a tile starts on a byte.
        uint64_t offset = uint64_t(x0) * fi.bps * fi.spp / 8;
        uint64_t bytes = std::min<uint64_t>(tileRow, scan - offset);
        for (uint32_t r = 0; r < rows; ++r)
          std::memcpy(band.data() + r * scan + offset, tile.data() + r * tileRow, size_t(bytes));
      }
      for (uint32_t r = 0; r < rows; ++r) row(y0 + r, band.data() + r * scan);
    }
    return true;
  }
  uint32_t rps = 0;
  if (!TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps) || rps == 0 || rps > fi.height)
    rps = fi.height;
  uint64_t stripSize = TIFFStripSize64(tif);
  if (stripSize == 0 || stripSize > cap || stripSize < scan * std::min(rps, fi.height)) {
    image.SetLastError("invalid strip size");
    return false;
  }
  std::vector<uint8_t> strip(size_t(stripSize), 0);
  for (uint32_t y0 = 0; y0 < fi.height; y0 += rps) {
    uint32_t rows = std::min(rps, fi.height - y0);
    uint32_t s = TIFFComputeStrip(tif, y0, 0);
    if (TIFFReadEncodedStrip(tif, s, strip.data(), tmsize_t(scan * rows)) < 0) return false;
    for (uint32_t r = 0; r < rows; ++r) row(y0 + r, strip.data() + r * scan);
  }
  return true;
}

// Reads the current directory's layout.
bool ReadFrameInfo(TIFF* tif, FrameInfo& fi, CImage& image) {
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &fi.width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &fi.height)) {
    image.SetLastError("the image size is missing");
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &fi.bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &fi.spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &fi.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &fi.compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &fi.sampleFormat);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &fi.orientation);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &fi.photometric))
    fi.photometric = fi.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  uint16_t extra = 0;
  uint16_t* types = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extra, &types) && extra > 0 && types) {
    int colour = fi.spp - extra;
    if (colour >= 1 && (types[0] == EXTRASAMPLE_ASSOCALPHA || types[0] == EXTRASAMPLE_UNASSALPHA)) {
      fi.alphaSample = colour;
      fi.associated = types[0] == EXTRASAMPLE_ASSOCALPHA;
    } else if (colour == 3 && extra == 1 && types[0] == EXTRASAMPLE_UNSPECIFIED &&
               fi.photometric == PHOTOMETRIC_RGB) {
      // As libtiff's RGBA reader: an unspecified fourth sample of RGB is
      // associated alpha.
      fi.alphaSample = 3;
      fi.associated = true;
    }
  }
  if (!image.CheckDimensions(fi.width, fi.height, nullptr)) return false;
  if (fi.spp == 0 || fi.spp > 32) {
    image.SetLastError("unsupported samples per pixel " + std::to_string(fi.spp));
    return false;
  }
  return true;
}

// Undoes premultiplied alpha in a BGR row.
void Unpremultiply(uint8_t* bgr, const uint8_t* alpha, int width) {
  for (int x = 0; x < width; ++x, bgr += 3) {
    unsigned a = alpha[x];
    if (a == 0 || a == 255) continue;
    for (int c = 0; c < 3; ++c) bgr[c] = uint8_t(std::min(255u, (bgr[c] * 255u + a / 2) / a));
  }
}

// Direct decode of grey and palette frames into a palette image.
bool ReadIndexed(TIFF* tif, const FrameInfo& fi, CImage& image) {
  int bps = fi.bps;
  int outBpp = bps == 1 ? 1 : bps <= 4 ? 4 : 8;
  if (!image.Create(int(fi.width), int(fi.height), outBpp, FORMAT_TIF)) return false;
  int n = 1 << outBpp;
  std::vector<RGBQuad> pal(static_cast<size_t>(n));
  if (fi.photometric == PHOTOMETRIC_PALETTE) {
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) {
      image.SetLastError("the colour map is missing");
      return false;
    }
    int entries = 1 << bps;
    // Some writers store 8-bit values in the 16-bit map.
    bool eightBit = true;
    for (int i = 0; i < entries; ++i)
      if (r[i] > 255 || g[i] > 255 || b[i] > 255) eightBit = false;
    for (int i = 0; i < entries && i < n; ++i) {
      pal[size_t(i)] = eightBit ? RGBQuad{uint8_t(b[i]), uint8_t(g[i]), uint8_t(r[i]), 0}
                                : RGBQuad{Scale16(b[i]), Scale16(g[i]), Scale16(r[i]), 0};
    }
  } else {
    bool inverted = fi.photometric == PHOTOMETRIC_MINISWHITE;
    for (int i = 0; i < n; ++i) {
      uint8_t v = uint8_t(i * 255 / (n - 1));
      if (inverted) v = uint8_t(255 - v);
      pal[size_t(i)] = RGBQuad{v, v, v, 0};
    }
  }
  image.SetPalette(pal.data(), n);
  bool grey = fi.photometric != PHOTOMETRIC_PALETTE;
  int w = int(fi.width);
  size_t copyBytes = (size_t(w) * size_t(outBpp) + 7) / 8;
  return ForEachRow(tif, fi, image, [&](uint32_t y, const uint8_t* src) {
    uint8_t* dst = image.TopRow(int(y));
    if (bps == outBpp) {
      std::memcpy(dst, src, copyBytes);
    } else if (bps == 2) {
      for (int x = 0; x < w; ++x) {
        uint8_t v = uint8_t((src[x >> 2] >> (6 - 2 * (x & 3))) & 3);
        if (grey) v = uint8_t(v * 5);
        if (x & 1)
          dst[x >> 1] = uint8_t(dst[x >> 1] | v);
        else
          dst[x >> 1] = uint8_t(v << 4);
      }
    } else {  // 16-bit grey
      const uint16_t* s = reinterpret_cast<const uint16_t*>(src);
      for (int x = 0; x < w; ++x) dst[x] = Scale16(s[x]);
    }
  });
}

// Direct decode of contiguous RGB(A) and grey+alpha frames, 8 or 16 bits.
bool ReadColour(TIFF* tif, const FrameInfo& fi, CImage& image) {
  int w = int(fi.width), h = int(fi.height);
  if (!image.Create(w, h, 24, FORMAT_TIF)) return false;
  bool hasAlpha = fi.alphaSample >= 0;
  if (hasAlpha && !image.AlphaCreate()) return false;
  bool greyIn = fi.photometric == PHOTOMETRIC_MINISBLACK || fi.photometric == PHOTOMETRIC_MINISWHITE;
  bool invert = fi.photometric == PHOTOMETRIC_MINISWHITE;
  int spp = fi.spp;
  return ForEachRow(tif, fi, image, [&](uint32_t yTop, const uint8_t* src) {
    int y = h - 1 - int(yTop);
    uint8_t* dst = image.GetBits(y);
    uint8_t* alpha = hasAlpha ? image.AlphaGetPointer(0, y) : nullptr;
    const uint16_t* s16 = reinterpret_cast<const uint16_t*>(src);
    auto sample = [&](int x, int c) -> uint8_t {
      size_t i = size_t(x) * size_t(spp) + size_t(c);
      return fi.bps == 16 ? Scale16(s16[i]) : src[i];
    };
    for (int x = 0; x < w; ++x) {
      if (greyIn) {
        uint8_t v = sample(x, 0);
        if (invert) v = uint8_t(255 - v);
        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
      } else {
        dst[3 * x] = sample(x, 2);
        dst[3 * x + 1] = sample(x, 1);
        dst[3 * x + 2] = sample(x, 0);
      }
      if (alpha) alpha[x] = sample(x, fi.alphaSample);
    }
    if (alpha && fi.associated) Unpremultiply(dst, alpha, w);
  });
}

// Anything else, through libtiff's RGBA reader.
bool ReadViaRgba(TIFF* tif, const FrameInfo& fi, CImage& image) {
  char emsg[1024] = {};
  if (!TIFFRGBAImageOK(tif, emsg)) {
    image.SetLastError(emsg[0] ? emsg : "unsupported layout");
    return false;
  }
  int w = int(fi.width), h = int(fi.height);
  std::vector<uint32_t> raster;
  try {
    raster.resize(size_t(w) * size_t(h));
  } catch (const std::bad_alloc&) {
    image.SetLastError("out of memory");
    return false;
  }
  // Asking for the file's own orientation keeps the stored row order.
  int orientation = fi.orientation >= ORIENTATION_TOPLEFT && fi.orientation <= ORIENTATION_LEFTBOT
                        ? fi.orientation
                        : ORIENTATION_TOPLEFT;
  if (!TIFFReadRGBAImageOriented(tif, fi.width, fi.height, raster.data(), orientation, 0))
    return false;
  if (!image.Create(w, h, 24, FORMAT_TIF)) return false;
  bool hasAlpha = fi.alphaSample >= 0;
  if (hasAlpha && !image.AlphaCreate()) return false;
  for (int yt = 0; yt < h; ++yt) {
    int y = h - 1 - yt;
    const uint32_t* src = raster.data() + size_t(yt) * size_t(w);
    uint8_t* dst = image.GetBits(y);
    uint8_t* alpha = hasAlpha ? image.AlphaGetPointer(0, y) : nullptr;
    for (int x = 0; x < w; ++x) {
      uint32_t p = src[x];
      dst[3 * x] = uint8_t(TIFFGetB(p));
      dst[3 * x + 1] = uint8_t(TIFFGetG(p));
      dst[3 * x + 2] = uint8_t(TIFFGetR(p));
      if (alpha) alpha[x] = uint8_t(TIFFGetA(p));
    }
    // The RGBA reader hands over premultiplied colours.
    if (alpha) Unpremultiply(dst, alpha, w);
  }
  return true;
}

bool TiffSniff(const uint8_t* data, size_t size) {
  if (size < 4) return false;
  return (data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) && data[3] == 0) ||
         (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43));
}

bool TiffDecode(CImage& image, const uint8_t* data, size_t size) {
  if (!TiffSniff(data, size)) {
    image.SetLastError("not a TIFF file");
    return false;
  }
  MemStream stream;
  stream.data = data;
  stream.size = size;
  Messages messages;
  TiffHandle handle(stream, messages, "r");
  TIFF* tif = handle.get();
  auto fail = [&](const char* what) {
    std::string why = messages.error.empty() ? image.GetLastError() : messages.error;
    image.SetLastError(why.empty() ? std::string(what) : why);
    return false;
  };
  if (!tif) return fail("cannot open the file");
  int frames = int(TIFFNumberOfDirectories(tif));
  if (frames <= 0) return fail("no image in the file");
  int frame = image.GetFrame();
  if (frame < 0 || frame >= frames) {
    image.SetLastError("there is no frame " + std::to_string(frame) + " (the file has " +
                       std::to_string(frames) + ")");
    return false;
  }
  if (!TIFFSetDirectory(tif, tdir_t(frame))) return fail("cannot read the directory");
  FrameInfo fi;
  if (!ReadFrameInfo(tif, fi, image)) return false;

  // libjpeg turns JPEG-compressed YCbCr into RGB.
  if (fi.compression == COMPRESSION_JPEG && fi.photometric == PHOTOMETRIC_YCBCR) {
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    fi.photometric = PHOTOMETRIC_RGB;
  }
  bool contig = fi.planar == PLANARCONFIG_CONTIG || fi.spp == 1;
  bool uintSamples = fi.sampleFormat == SAMPLEFORMAT_UINT;
  bool greyOrPal = fi.photometric == PHOTOMETRIC_MINISBLACK ||
                   fi.photometric == PHOTOMETRIC_MINISWHITE || fi.photometric == PHOTOMETRIC_PALETTE;
  bool ok;
  if (contig && uintSamples && greyOrPal && fi.spp == 1 &&
      (fi.bps == 1 || fi.bps == 2 || fi.bps == 4 || fi.bps == 8 ||
       (fi.bps == 16 && fi.photometric != PHOTOMETRIC_PALETTE))) {
    ok = ReadIndexed(tif, fi, image);
  } else if (contig && uintSamples && (fi.bps == 8 || fi.bps == 16) &&
             ((fi.photometric == PHOTOMETRIC_RGB && fi.spp >= 3) ||
              (fi.photometric != PHOTOMETRIC_PALETTE && greyOrPal && fi.spp >= 2 &&
               fi.alphaSample == 1))) {
    ok = ReadColour(tif, fi, image);
  } else {
    ok = ReadViaRgba(tif, fi, image);
  }
  if (!ok) return fail("cannot decode the pixels");

  float xres = 0, yres = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER) {
    double k = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && xres > 0 && xres < 1e6f)
      image.SetXDPI(long(xres * k + 0.5));
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) && yres > 0 && yres < 1e6f)
      image.SetYDPI(long(yres * k + 0.5));
  }
  uint32_t iccLen = 0;
  void* icc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccLen, &icc) && icc && iccLen > 0) {
    const uint8_t* p = static_cast<const uint8_t*>(icc);
    image.SetIccProfile(std::vector<uint8_t>(p, p + iccLen));
  }
  image.SetCodecOption(fi.compression, FORMAT_TIF);
  image.SetNumFrames(frames);
  image.SetType(FORMAT_TIF);
  return true;
}

// ---- writing ------------------------------------------------------------------------

// The palette is exactly the grey ramp of its depth, dark to light (or
// light to dark with reversed).
bool IsGreyRamp(const CImage& image, bool reversed = false) {
  const RGBQuad* pal = image.GetPalette();
  uint32_t n = image.GetNumColors();
  if (!pal || n < 2) return false;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t v = uint8_t(i * 255 / (n - 1));
    if (reversed) v = uint8_t(255 - v);
    if (pal[i].red != v || pal[i].green != v || pal[i].blue != v) return false;
  }
  return true;
}

bool IsGreyPalette(const CImage& image) {
  const RGBQuad* pal = image.GetPalette();
  if (!pal) return false;
  for (uint32_t i = 0; i < image.GetNumColors(); ++i)
    if (pal[i].red != pal[i].green || pal[i].green != pal[i].blue) return false;
  return true;
}

int Luma(const RGBQuad& c) { return c.red * 299 + c.green * 587 + c.blue * 114; }

uint16_t NormaliseCompression(uint32_t option) {
  switch (option) {
    case COMPRESSION_NONE:
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_LZW:
    case COMPRESSION_JPEG:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
      return TIFFIsCODECConfigured(uint16_t(option)) ? uint16_t(option) : COMPRESSION_NONE;
    default:
      return COMPRESSION_NONE;
  }
}

// How the rows of the written file are laid out.
enum class RowKind {
  Indexed,    // palette or grey-ramp indices as stored (1, 4, 8 bits)
  BiLevel,    // 1 bit, min-is-white: bits inverted when index 1 is white
  GreyBytes,  // 8-bit grey from palette colours
  Rgb,        // 8-bit RGB
  Rgba,       // 8-bit RGB + unassociated alpha
};

void MakeRow(const CImage& img, RowKind kind, bool invertBits, int yTop, uint8_t* dst) {
  int w = img.GetWidth();
  int y = img.GetHeight() - 1 - yTop;
  const uint8_t* src = img.TopRow(yTop);
  switch (kind) {
    case RowKind::Indexed:
      std::memcpy(dst, src, (size_t(w) * size_t(img.GetBpp()) + 7) / 8);
      break;
    case RowKind::BiLevel: {
      size_t bytes = (size_t(w) + 7) / 8;
      for (size_t i = 0; i < bytes; ++i) dst[i] = invertBits ? uint8_t(~src[i]) : src[i];
      break;
    }
    case RowKind::GreyBytes:
      for (int x = 0; x < w; ++x) dst[x] = img.GetPixelColor(x, y, false).red;
      break;
    case RowKind::Rgb:
    case RowKind::Rgba: {
      int n = kind == RowKind::Rgba ? 4 : 3;
      const uint8_t* alpha = img.AlphaGetPointer(0, y);
      if (img.GetBpp() == 24) {
        for (int x = 0; x < w; ++x, src += 3, dst += n) {
          dst[0] = src[2];
          dst[1] = src[1];
          dst[2] = src[0];
          if (n == 4) dst[3] = alpha ? alpha[x] : 255;
        }
      } else {
        for (int x = 0; x < w; ++x, dst += n) {
          RGBQuad c = img.GetPixelColor(x, y, false);
          dst[0] = c.red;
          dst[1] = c.green;
          dst[2] = c.blue;
          if (n == 4) dst[3] = alpha ? alpha[x] : 255;
        }
      }
      break;
    }
  }
}

bool WriteTiff(const CImage& source, std::vector<uint8_t>& out) {
  uint16_t compression = NormaliseCompression(source.GetCodecOption(FORMAT_TIF));
  bool ccitt = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
               compression == COMPRESSION_CCITTFAX4;
  bool jpeg = compression == COMPRESSION_JPEG;

  // Fax compressions take 1-bit pictures: reduce a copy.
  CImage reduced;
  const CImage* imgp = &source;
  if (ccitt && source.GetBpp() != 1) {
    if (!reduced.Copy(source, true, true, false) || !reduced.DecreaseBpp(1, true)) {
      source.SetLastError("cannot reduce the picture to 1 bit: " + reduced.GetLastError());
      return false;
    }
    imgp = &reduced;
  }
  const CImage& img = *imgp;
  int bpp = img.GetBpp();
  int w = img.GetWidth(), h = img.GetHeight();

  RowKind kind;
  uint16_t photometric, bps, spp = 1;
  bool invertBits = false;
  bool greyRamp = bpp <= 8 && IsGreyRamp(img);
  bool whiteRamp = bpp <= 8 && !greyRamp && IsGreyRamp(img, true);
  if (ccitt) {
    kind = RowKind::BiLevel;
    photometric = PHOTOMETRIC_MINISWHITE;
    bps = 1;
    // Min-is-white wants 0 for the lighter entry.
    const RGBQuad* pal = img.GetPalette();
    invertBits = pal && Luma(pal[1]) > Luma(pal[0]);
  } else if (jpeg) {
    bps = 8;
    if (bpp <= 8 && IsGreyPalette(img)) {
      kind = RowKind::GreyBytes;
      photometric = PHOTOMETRIC_MINISBLACK;
    } else {
      kind = RowKind::Rgb;
      photometric = PHOTOMETRIC_YCBCR;
      spp = 3;
    }
  } else if (img.AlphaIsValid()) {
    kind = RowKind::Rgba;
    photometric = PHOTOMETRIC_RGB;
    bps = 8;
    spp = 4;
  } else if (bpp == 24) {
    kind = RowKind::Rgb;
    photometric = PHOTOMETRIC_RGB;
    bps = 8;
    spp = 3;
  } else {
    kind = RowKind::Indexed;
    photometric = greyRamp    ? PHOTOMETRIC_MINISBLACK
                  : whiteRamp ? PHOTOMETRIC_MINISWHITE
                              : PHOTOMETRIC_PALETTE;
    bps = uint16_t(bpp);
  }

  size_t start = out.size();
  MemStream stream;
  stream.out = &out;
  stream.start = start;
  Messages messages;
  bool ok = false;
  {
    TiffHandle handle(stream, messages, "w");
    TIFF* tif = handle.get();
    if (tif) {
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bps);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
      TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
      TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
      TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
      if (kind == RowKind::Rgba) {
        uint16_t types[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), types);
      }
      std::vector<uint16_t> cmap[3];
      if (photometric == PHOTOMETRIC_PALETTE) {
        size_t n = size_t(1) << bps;
        for (auto& c : cmap) c.assign(n, 0);
        const RGBQuad* pal = img.GetPalette();
        for (size_t i = 0; i < n && i < img.GetNumColors(); ++i) {
          cmap[0][i] = uint16_t(pal[i].red * 257);
          cmap[1][i] = uint16_t(pal[i].green * 257);
          cmap[2][i] = uint16_t(pal[i].blue * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, cmap[0].data(), cmap[1].data(), cmap[2].data());
      }
      if (compression == COMPRESSION_LZW && kind == RowKind::Rgb)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
      if (jpeg) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, int(img.GetJpegQuality() ? img.GetJpegQuality() : 1));
        if (photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      }
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(img.GetXDPI()));
      TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(img.GetYDPI()));
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
      const std::vector<uint8_t>& icc = source.GetIccProfile();
      if (!icc.empty()) TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.data());
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));

      tmsize_t scan = TIFFScanlineSize(tif);
      std::vector<uint8_t> row(size_t(scan > 0 ? scan : 1) + 16, 0);
      ok = scan > 0;
      for (int y = 0; ok && y < h; ++y) {
        MakeRow(img, kind, invertBits, y, row.data());
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
      }
      ok = handle.Close() && ok;
    }
  }
  if (!ok) {
    out.resize(start);
    source.SetLastError(messages.error.empty() ? "cannot write the file" : messages.error);
    return false;
  }
  return true;
}

bool TiffEncode(const CImage& image, std::vector<uint8_t>& out) {
  int bpp = image.GetBpp();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) {
    image.SetLastError("unsupported bit depth " + std::to_string(bpp));
    return false;
  }
  return WriteTiff(image, out);
}

}  // namespace

extern const CodecInfo kCodecTiff = {FORMAT_TIF, "TIFF", "tif;tiff", TiffSniff, TiffDecode,
                                     TiffEncode};
