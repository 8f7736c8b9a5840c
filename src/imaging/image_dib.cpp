// CImage: conversion to and from packed device-independent bitmaps (one
// block: BitmapInfoHeader, colour table, rows bottom-up padded to four
// bytes), the form in which images cross to filter plug-ins.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "imaging/byte_order.h"
#include "imaging/image.h"
#include "imaging/image_internal.h"

namespace {

using byte_order::GetLe16;
using byte_order::GetLe32;

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

inline int32_t PelsPerMeter(long dpi) { return int32_t(std::lround(double(dpi) / 0.0254)); }

// Header, palette and pixels of img written to out (which has room for
// the returned size when called with out == nullptr first).
size_t PackedSize(const CImage& img) {
  size_t entries = img.GetBpp() <= 8 ? (size_t(1) << img.GetBpp()) : 0;
  return sizeof(BitmapInfoHeader) + entries * 4 + img.GetEffWidth() * size_t(img.GetHeight());
}

void Pack(const CImage& img, uint8_t* out) {
  BitmapInfoHeader h;
  const size_t entries = img.GetBpp() <= 8 ? (size_t(1) << img.GetBpp()) : 0;
  h.biWidth = img.GetWidth();
  h.biHeight = img.GetHeight();
  h.biBitCount = uint16_t(img.GetBpp());
  h.biCompression = kBiRgb;
  h.biSizeImage = uint32_t(img.GetEffWidth() * size_t(img.GetHeight()));
  h.biXPelsPerMeter = PelsPerMeter(img.GetXDPI());
  h.biYPelsPerMeter = PelsPerMeter(img.GetYDPI());
  h.biClrUsed = uint32_t(entries);
  h.biClrImportant = 0;
  std::memcpy(out, &h, sizeof h);
  uint8_t* p = out + sizeof h;
  if (entries) {
    std::memset(p, 0, entries * 4);
    const RGBQuad* pal = img.GetPalette();
    size_t have = std::min<size_t>(entries, img.GetNumColors());
    if (pal) std::memcpy(p, pal, have * 4);
    p += entries * 4;
  }
  std::memcpy(p, img.GetBits(), img.GetEffWidth() * size_t(img.GetHeight()));
}

// A colour mask split into its shift and the largest value it holds.
struct Mask {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  bool Set(uint32_t m) {
    mask = m;
    if (m == 0) return true;
    shift = __builtin_ctz(m);
    uint32_t v = m >> shift;
    if ((v & (v + 1)) != 0) return false;  // bits not contiguous
    max = v;
    return true;
  }
  uint8_t Get(uint32_t px) const {
    if (!mask) return 0;
    uint32_t v = (px & mask) >> shift;
    if (max == 255) return uint8_t(v);
    return uint8_t((uint64_t(v) * 255 + max / 2) / max);
  }
};

}  // namespace

void* CImage::MakeBitmap() const {
  if (!IsValid()) {
    SetLastError("MakeBitmap: the image is empty");
    return nullptr;
  }
  void* block = std::malloc(PackedSize(*this));
  if (!block) {
    SetLastError("MakeBitmap: out of memory");
    return nullptr;
  }
  Pack(*this, static_cast<uint8_t*>(block));
  return block;
}

const void* CImage::GetDIB() const {
  if (!IsValid()) {
    SetLastError("GetDIB: the image is empty");
    return nullptr;
  }
  // Rebuilt on every call: the pixels may have been written through GetBits.
  try {
    dib_.resize(PackedSize(*this));
  } catch (const std::bad_alloc&) {
    SetLastError("GetDIB: out of memory");
    return nullptr;
  }
  Pack(*this, dib_.data());
  return dib_.data();
}

// Reading a packed bitmap. The block size, when given, bounds every read;
// size_t(-1) trusts the header. Results: 1, 4 and 8 bits stay palette images;
// 16, 24 and 32 bits become 24 bits. A 32-bit BI_RGB bitmap's fourth byte
// (or the alpha mask of a version 3 or later header with BI_BITFIELDS) is
// taken as alpha, unless it is zero in every pixel (the usual unused byte)
// or 255 in every pixel (opaque; no alpha plane is needed).
bool CImage::CreateFromHBITMAP(const void* packedDib, size_t size) {
  auto fail = [this](const std::string& why) {
    SetLastError("CreateFromHBITMAP: " + why);
    return false;
  };
  if (!packedDib) return fail("no bitmap");
  const uint8_t* base = static_cast<const uint8_t*>(packedDib);
  const bool trusted = size == size_t(-1);
  if (!trusted && size < sizeof(BitmapInfoHeader)) return fail("block smaller than a header");
  BitmapInfoHeader h;
  std::memcpy(&h, base, sizeof h);
  if (h.biSize < sizeof(BitmapInfoHeader) || h.biSize > 4096)
    return fail("unsupported header size " + std::to_string(h.biSize));
  if (!trusted && size < h.biSize) return fail("block smaller than its header");
  const int bpp = h.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return fail("unsupported bit depth " + std::to_string(bpp));
  if (h.biCompression != kBiRgb && !(h.biCompression == kBiBitfields && (bpp == 16 || bpp == 32)))
    return fail("unsupported compression " + std::to_string(h.biCompression));
  const int64_t width = h.biWidth;
  const bool topDown = h.biHeight < 0;
  const int64_t height = topDown ? -int64_t(h.biHeight) : int64_t(h.biHeight);
  if (!CheckDimensions(width, height, "CreateFromHBITMAP")) return false;

  // Colour masks: after a 40-byte header, or inside a longer one.
  size_t offset = h.biSize;
  Mask red, green, blue, alpha;
  bool maskOk = true;
  if (h.biCompression == kBiBitfields) {
    const uint8_t* m;
    if (h.biSize == sizeof(BitmapInfoHeader)) {
      if (!trusted && size < offset + 12) return fail("colour masks missing");
      m = base + offset;
      offset += 12;
    } else {
      if (h.biSize < 52) return fail("colour masks missing");
      m = base + sizeof(BitmapInfoHeader);
    }
    maskOk = red.Set(GetLe32(m)) && green.Set(GetLe32(m + 4)) && blue.Set(GetLe32(m + 8));
    if (maskOk && h.biSize >= 56) maskOk = alpha.Set(GetLe32(m + 12));
  } else if (bpp == 16) {
    maskOk = red.Set(0x7C00) && green.Set(0x03E0) && blue.Set(0x001F);
  } else if (bpp == 32) {
    maskOk = red.Set(0x00FF0000) && green.Set(0x0000FF00) && blue.Set(0x000000FF) &&
             alpha.Set(0xFF000000);
  }
  if (!maskOk) return fail("colour masks are not contiguous");

  // Colour table: biClrUsed entries (0 = all of them for palette depths).
  if (h.biClrUsed > 256) return fail("colour table of " + std::to_string(h.biClrUsed) + " entries");
  size_t tableEntries = h.biClrUsed;
  if (bpp <= 8 && tableEntries == 0) tableEntries = size_t(1) << bpp;
  const uint8_t* table = base + offset;
  offset += tableEntries * 4;
  const size_t stride = DibRowBytes(width, bpp);
  const size_t pixelBytes = stride * size_t(height);
  if (!trusted && (size < offset || size - offset < pixelBytes))
    return fail("block too small for " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels at " + std::to_string(bpp) + " bits");
  const uint8_t* pixels = base + offset;

  CImage out;
  const int outBpp = bpp <= 8 ? bpp : 24;
  if (!out.Create(int(width), int(height), outBpp, type_)) return fail(out.GetLastError());
  if (bpp <= 8) {
    std::vector<RGBQuad> pal(size_t(1) << bpp);
    size_t n = std::min(tableEntries, pal.size());
    std::memcpy(pal.data(), table, n * 4);
    out.palette_ = std::move(pal);
  }
  // Source row of output row y (output rows are bottom-up).
  auto srcRow = [&](int64_t y) { return pixels + size_t(topDown ? height - 1 - y : y) * stride; };
  bool alphaSeen = false, alphaTranslucent = false;
  std::vector<uint8_t> alphaPlane;
  if (alpha.mask) alphaPlane.resize(size_t(width) * size_t(height));
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* s = srcRow(y);
    uint8_t* d = out.GetBits(int(y));
    if (bpp <= 8 || bpp == 24) {
      std::memcpy(d, s, out.stride_ < stride ? out.stride_ : stride);
      continue;
    }
    uint8_t* a = alpha.mask ? alphaPlane.data() + size_t(y) * size_t(width) : nullptr;
    for (int64_t x = 0; x < width; ++x) {
      uint32_t px =
          bpp == 16 ? uint32_t(GetLe16(s + x * 2)) : GetLe32(s + x * 4);
      d[x * 3] = blue.Get(px);
      d[x * 3 + 1] = green.Get(px);
      d[x * 3 + 2] = red.Get(px);
      if (a) {
        uint8_t v = alpha.Get(px);
        a[x] = v;
        alphaSeen |= v != 0;
        alphaTranslucent |= v != 255;
      }
    }
  }
  if (alphaSeen && alphaTranslucent) out.alpha_ = std::move(alphaPlane);
  out.xdpi_ = xdpi_ > 0 ? xdpi_ : 96;
  out.ydpi_ = ydpi_ > 0 ? ydpi_ : 96;
  if (h.biXPelsPerMeter > 0) out.xdpi_ = std::max(1L, std::lround(h.biXPelsPerMeter * 0.0254));
  if (h.biYPelsPerMeter > 0) out.ydpi_ = std::max(1L, std::lround(h.biYPelsPerMeter * 0.0254));

  // What the bitmap cannot carry stays with the image: codec settings,
  // colour profile, frame numbers; the alpha plane too when the bitmap has
  // none of its own and the size is unchanged, and the transparency when
  // the depth is unchanged.
  const bool sameSize = width == width_ && height == height_;
  if (out.alpha_.empty() && sameSize && !alpha_.empty()) out.alpha_ = alpha_;
  if (bpp_ == outBpp) {
    out.transIndex_ = transIndex_;
    out.transColor_ = transColor_;
    out.alphaPalette_ = alphaPalette_ && outBpp <= 8;
  }
  out.type_ = type_;
  out.frame_ = frame_;
  out.numFrames_ = numFrames_;
  std::memcpy(out.codecOptions_, codecOptions_, sizeof(codecOptions_));
  out.jpegQuality_ = jpegQuality_;
  out.jpegSmoothing_ = jpegSmoothing_;
  out.icc_ = icc_;
  out.exif_ = exif_;
  out.xmp_ = xmp_;
  out.Transfer(*this);
  return true;
}
