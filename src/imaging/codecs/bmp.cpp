// BMP codec: Windows and OS/2 bitmaps, own code.
//
// Reading: every info header from the 12-byte OS/2 core header to the
// 124-byte version 5 header; 1, 4 and 8 bits with a colour table, 16 bits
// (5-5-5 or bit fields), 24 bits, 32 bits (BI_RGB or bit fields), RLE8 and
// RLE4; bottom-up and top-down rows. Palette depths load as palette images,
// 16, 24 and 32 bits as 24-bit images.
//
// Alpha: 32-bit files (and 16-bit bit-field files with an alpha mask) carry a
// fourth channel that most writers leave at zero. It becomes the alpha plane
// only when at least one pixel has a non-zero value there; a file whose
// fourth channel is zero everywhere loads opaque.
//
// Writing: 1, 4, 8 bits with the image's palette and 24 bits, as a 40-byte
// BITMAPINFOHEADER BI_RGB file, bottom-up, with the resolution in pixels per
// metre. The alpha plane and transparency are not written.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "imaging/byte_order.h"
#include "imaging/codecs/bmp_internal.h"
#include "imaging/codecs/codec.h"

namespace dib {

using byte_order::GetLe16;
using byte_order::GetLe32;
using byte_order::PutLe16;
using byte_order::PutLe32;

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitfields = 6;

struct Header {
  uint32_t size = 0;
  int64_t width = 0;
  int64_t height = 0;  // always positive here
  bool topDown = false;
  int bpp = 0;
  uint32_t compression = kBiRgb;
  uint32_t clrUsed = 0;
  int32_t xppm = 0;
  int32_t yppm = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool headerMasks = false;          // masks given by the file
  size_t tableOffset = 0;            // where the colour table starts
  size_t tableEntry = 4;             // bytes per colour table entry
};

bool Fail(CImage& image, const std::string& why) {
  image.SetLastError(why);
  return false;
}

bool ReadHeader(CImage& image, const uint8_t* data, size_t size, size_t off, Header& h) {
  if (off > size || size - off < 4) return Fail(image, "truncated: the bitmap header is missing");
  const uint8_t* p = data + off;
  h.size = GetLe32(p);
  switch (h.size) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124:
      break;
    default:
      return Fail(image, "unsupported bitmap header size " + std::to_string(h.size));
  }
  if (size - off < h.size) return Fail(image, "truncated bitmap header");
  if (h.size == 12) {
    // OS/2 core header: 16-bit sizes, no compression, three-byte colours.
    h.width = GetLe16(p + 4);
    h.height = GetLe16(p + 6);
    h.bpp = GetLe16(p + 10);
    h.tableEntry = 3;
  } else {
    h.width = int32_t(GetLe32(p + 4));
    h.height = int32_t(GetLe32(p + 8));
    h.bpp = GetLe16(p + 14);
    h.compression = GetLe32(p + 16);
    h.xppm = int32_t(GetLe32(p + 24));
    h.yppm = int32_t(GetLe32(p + 28));
    h.clrUsed = GetLe32(p + 32);
    if (h.size >= 52) {
      for (int i = 0; i < 3; ++i) h.masks[i] = GetLe32(p + 40 + 4 * i);
      if (h.size >= 56) h.masks[3] = GetLe32(p + 52);
      h.headerMasks = true;
    }
    if (h.size == 64) {
      // OS/2 2.x: its compression values 3 and 4 are Huffman and RLE24.
      h.headerMasks = false;
      h.masks[0] = h.masks[1] = h.masks[2] = h.masks[3] = 0;
      if (h.compression == 3 || h.compression == 4)
        return Fail(image, "OS/2 Huffman and RLE24 bitmaps are not supported");
    }
  }
  if (h.height < 0) {
    h.topDown = true;
    h.height = -h.height;
  }
  h.tableOffset = off + h.size;
  if (h.size == 40 && (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields)) {
    // The masks follow a plain 40-byte header.
    size_t n = h.compression == kBiAlphaBitfields ? 4 : 3;
    if (size - h.tableOffset < n * 4) return Fail(image, "truncated: the colour masks are missing");
    for (size_t i = 0; i < n; ++i) h.masks[i] = GetLe32(data + h.tableOffset + 4 * i);
    h.headerMasks = true;
    h.tableOffset += n * 4;
  }

  switch (h.bpp) {
    case 1: case 4: case 8: case 24:
      break;
    case 16: case 32:
      if (h.size == 12) return Fail(image, "OS/2 core bitmaps have no " + std::to_string(h.bpp) +
                                               "-bit form");
      break;
    default:
      return Fail(image, "unsupported bit count " + std::to_string(h.bpp));
  }
  switch (h.compression) {
    case kBiRgb:
      break;
    case kBiRle8:
      if (h.bpp != 8) return Fail(image, "RLE8 compression needs 8 bits per pixel");
      break;
    case kBiRle4:
      if (h.bpp != 4) return Fail(image, "RLE4 compression needs 4 bits per pixel");
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (h.bpp != 16 && h.bpp != 32)
        return Fail(image, "bit-field compression needs 16 or 32 bits per pixel");
      if (!h.headerMasks) return Fail(image, "bit-field compression without masks");
      break;
    case kBiJpeg:
    case kBiPng:
      return Fail(image, "bitmaps holding a JPEG or PNG stream are not supported");
    default:
      return Fail(image, "unknown compression " + std::to_string(h.compression));
  }
  if ((h.compression == kBiRle8 || h.compression == kBiRle4) && h.topDown)
    return Fail(image, "RLE bitmaps must be stored bottom-up");
  if (h.compression == kBiRgb || h.compression == kBiRle8 || h.compression == kBiRle4) {
    // Fixed layouts: 5-5-5 for 16 bits, BGRX for 32 bits.
    if (h.bpp == 16) {
      h.masks[0] = 0x7C00;
      h.masks[1] = 0x03E0;
      h.masks[2] = 0x001F;
      h.masks[3] = 0;
    } else if (h.bpp == 32) {
      h.masks[0] = 0x00FF0000;
      h.masks[1] = 0x0000FF00;
      h.masks[2] = 0x000000FF;
      h.masks[3] = 0xFF000000;
    }
  }
  if (h.bpp == 16) {
    for (uint32_t& m : h.masks) m &= 0xFFFF;
  }
  return true;
}

// One colour channel of a bit-field pixel, widened to 8 bits by repeating
// its bit pattern (5 bits abcde become abcdeabc), as Windows does; wider
// channels keep their top 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  explicit Channel(uint32_t m) : mask(m) {
    if (m) {
      shift = std::countr_zero(m);
      bits = std::bit_width(m >> shift);
    }
  }
  bool present() const { return bits > 0; }
  uint8_t operator()(uint32_t pixel) const {
    if (!bits) return 0;
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return uint8_t(v >> (bits - 8));
    uint32_t acc = 0;
    int filled = 0;
    while (filled < 8) {
      acc = (acc << bits) | v;
      filled += bits;
    }
    return uint8_t(acc >> (filled - 8));
  }
};

// Decodes RLE8 or RLE4 data into a zero-filled palette image. Runs that
// pass the right edge are clipped; the data must end with an end-of-bitmap
// mark or fill every row.
bool DecodeRle(CImage& image, const Header& h, const uint8_t* src, size_t avail) {
  const int64_t width = h.width, height = h.height;
  const bool four = h.compression == kBiRle4;
  int64_t x = 0, y = 0;  // y counts rows from the bottom, as stored
  size_t pos = 0;
  auto put = [&](int64_t px, uint8_t index) {
    if (px < 0 || px >= width) return;
    uint8_t* row = image.GetBits(int(y));
    if (four) {
      uint8_t& b = row[px >> 1];
      b = (px & 1) ? uint8_t((b & 0xF0) | (index & 0x0F)) : uint8_t((b & 0x0F) | (index << 4));
    } else {
      row[px] = index;
    }
  };
  while (y < height) {
    if (avail - pos < 2) return Fail(image, "RLE data ends before the end-of-bitmap mark");
    uint8_t count = src[pos], value = src[pos + 1];
    pos += 2;
    if (count > 0) {
      // Encoded run; RLE4 alternates the two nibbles of value.
      int64_t n = std::min<int64_t>(count, std::max<int64_t>(0, width - x));
      for (int64_t i = 0; i < n; ++i)
        put(x + i, four ? uint8_t((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
      x += count;
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return true;
    } else if (value == 2) {  // delta
      if (avail - pos < 2) return Fail(image, "RLE data ends inside a delta");
      x += src[pos];
      y += src[pos + 1];
      pos += 2;
    } else {  // absolute run of value pixels, padded to a 16-bit boundary
      size_t bytes = four ? (size_t(value) + 1) / 2 : value;
      size_t padded = (bytes + 1) & ~size_t(1);
      if (avail - pos < bytes) return Fail(image, "RLE data ends inside an absolute run");
      int64_t n = std::min<int64_t>(value, std::max<int64_t>(0, width - x));
      for (int64_t i = 0; i < n; ++i) {
        uint8_t b = src[pos + (four ? size_t(i >> 1) : size_t(i))];
        put(x + i, four ? uint8_t((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
      }
      x += value;
      pos += std::min(padded, avail - pos);
    }
  }
  return true;
}

}  // namespace

bool DecodeDib(CImage& image, const uint8_t* data, size_t size, const DibLayout& layout) {
  Header h;
  if (!ReadHeader(image, data, size, layout.headerOffset, h)) return false;
  if (layout.icon) {
    if (h.topDown) return Fail(image, "icon bitmaps must be stored bottom-up");
    if (h.compression != kBiRgb && h.compression != kBiBitfields &&
        h.compression != kBiAlphaBitfields)
      return Fail(image, "compressed icon bitmaps are not supported");
    h.height /= 2;  // colour rows, then as many mask rows
  }
  if (!image.CheckDimensions(h.width, h.height, nullptr)) return false;
  const int width = int(h.width), height = int(h.height);

  // Colour table.
  std::vector<RGBQuad> palette;
  size_t tableEnd = h.tableOffset;
  if (h.bpp <= 8) {
    uint64_t maxColours = uint64_t(1) << h.bpp;
    uint64_t colours = h.clrUsed ? h.clrUsed : maxColours;
    if (colours > maxColours)
      return Fail(image, "colour table of " + std::to_string(h.clrUsed) + " entries for " +
                             std::to_string(h.bpp) + " bits per pixel");
    if (h.size == 12 && layout.pixelOffset > h.tableOffset &&
        (layout.pixelOffset - h.tableOffset) / 3 < colours) {
      // OS/2 files may carry a shorter table; the pixel offset tells.
      colours = std::max<uint64_t>(1, (layout.pixelOffset - h.tableOffset) / 3);
    }
    uint64_t bytes = colours * h.tableEntry;
    if (h.tableOffset > size || size - h.tableOffset < bytes)
      return Fail(image, "the colour table runs beyond the end of the file");
    palette.resize(size_t(colours));
    for (size_t i = 0; i < palette.size(); ++i) {
      const uint8_t* e = data + h.tableOffset + i * h.tableEntry;
      palette[i] = RGBQuad{e[0], e[1], e[2], 0};
    }
    tableEnd = h.tableOffset + size_t(bytes);
  } else if (h.clrUsed) {
    // Deep bitmaps may carry a table of hints for palette displays.
    uint64_t bytes = uint64_t(h.clrUsed) * 4;
    tableEnd = bytes > size - std::min(size, h.tableOffset) ? size : h.tableOffset + size_t(bytes);
  }

  // Pixel data.
  size_t pixelOffset = layout.pixelOffset ? layout.pixelOffset : tableEnd;
  if (pixelOffset < layout.headerOffset + h.size)
    return Fail(image, "the pixel data offset points into the header");
  if (pixelOffset >= size) return Fail(image, "the pixel data offset lies beyond the end of the file");
  const uint8_t* src = data + pixelOffset;
  const size_t avail = size - pixelOffset;
  const size_t rowBytes = DibRowBytes(width, h.bpp);
  const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
  if (!rle) {
    // The last row may lack its padding; everything else must be there.
    uint64_t need = uint64_t(rowBytes) * uint64_t(height - 1) + (uint64_t(width) * h.bpp + 7) / 8;
    if (need > avail)
      return Fail(image, "truncated pixel data: " + std::to_string(avail) + " of " +
                             std::to_string(need) + " bytes");
  }

  const int outBpp = h.bpp <= 8 ? h.bpp : 24;
  if (!image.Create(width, height, outBpp, layout.format)) return false;
  if (outBpp <= 8) image.SetPalette(palette.data(), int(palette.size()));

  if (rle) {
    if (!DecodeRle(image, h, src, avail)) return false;
  } else if (h.bpp <= 8 || h.bpp == 24) {
    // Same row layout as the image: copy the rows.
    for (int r = 0; r < height; ++r) {
      size_t at = size_t(r) * rowBytes;
      size_t n = std::min(rowBytes, avail - at);
      std::memcpy(image.GetBits(h.topDown ? height - 1 - r : r), src + at, n);
    }
  } else {
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
    const bool standard32 = h.bpp == 32 && h.masks[0] == 0x00FF0000 &&
                            h.masks[1] == 0x0000FF00 && h.masks[2] == 0x000000FF;
    const int bytes = h.bpp / 8;
    bool anyAlpha = false;
    if (alpha.present()) image.AlphaCreate();
    for (int r = 0; r < height; ++r) {
      const uint8_t* s = src + size_t(r) * rowBytes;
      int y = h.topDown ? height - 1 - r : r;
      uint8_t* d = image.GetBits(y);
      uint8_t* a = alpha.present() ? image.AlphaGetPointer(0, y) : nullptr;
      if (standard32) {
        for (int x = 0; x < width; ++x, s += 4, d += 3) {
          d[0] = s[0];
          d[1] = s[1];
          d[2] = s[2];
          if (a) {
            a[x] = alpha(GetLe32(s));
            anyAlpha |= a[x] != 0;
          }
        }
        continue;
      }
      for (int x = 0; x < width; ++x, s += bytes, d += 3) {
        uint32_t v = bytes == 2 ? GetLe16(s) : GetLe32(s);
        d[0] = blue(v);
        d[1] = green(v);
        d[2] = red(v);
        if (a) {
          a[x] = alpha(v);
          anyAlpha |= a[x] != 0;
        }
      }
    }
    if (!anyAlpha) image.AlphaDelete();
  }

  if (layout.icon && !image.AlphaIsValid()) {
    // The AND mask: 1 bits are transparent. A missing or cut mask leaves
    // the icon opaque.
    size_t maskRow = DibRowBytes(width, 1);
    size_t maskOffset = size_t(rowBytes) * size_t(height);
    if (maskOffset < avail) {
      size_t left = avail - maskOffset;
      uint64_t need = uint64_t(maskRow) * uint64_t(height - 1) + (uint64_t(width) + 7) / 8;
      if (need <= left) {
        const uint8_t* mask = src + maskOffset;
        bool any = false;
        for (int y = 0; y < height && !any; ++y) {
          const uint8_t* m = mask + size_t(y) * maskRow;
          for (int x = 0; x < width; ++x)
            if ((m[x >> 3] >> (7 - (x & 7))) & 1) {
              any = true;
              break;
            }
        }
        if (any) {
          image.AlphaCreate();
          for (int y = 0; y < height; ++y) {
            const uint8_t* m = mask + size_t(y) * maskRow;
            uint8_t* a = image.AlphaGetPointer(0, y);
            for (int x = 0; x < width; ++x) a[x] = ((m[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 255;
          }
        }
      }
    }
  }

  image.SetXDPI(PelsPerMeterToDpi(h.xppm));
  image.SetYDPI(PelsPerMeterToDpi(h.yppm));
  return true;
}

}  // namespace dib

namespace {

using byte_order::GetLe32;
using byte_order::PutLe16;
using byte_order::PutLe32;

constexpr size_t kFileHeaderSize = 14;

bool SniffBmp(const uint8_t* data, size_t size) {
  if (size < kFileHeaderSize + 4 || data[0] != 'B' || data[1] != 'M') return false;
  switch (GetLe32(data + kFileHeaderSize)) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124:
      return true;
    default:
      return false;
  }
}

bool DecodeBmp(CImage& image, const uint8_t* data, size_t size) {
  if (size < 2 || data[0] != 'B' || data[1] != 'M') {
    image.SetLastError("not a BMP file");
    return false;
  }
  if (size < kFileHeaderSize + 4) {
    image.SetLastError("truncated file header");
    return false;
  }
  dib::DibLayout layout;
  layout.headerOffset = kFileHeaderSize;
  // An offset of 0 is taken as "right after the colour table"; the file
  // size field is not trusted.
  layout.pixelOffset = GetLe32(data + 10);
  layout.format = FORMAT_BMP;
  if (!dib::DecodeDib(image, data, size, layout)) return false;
  image.SetNumFrames(1);
  image.SetType(FORMAT_BMP);
  return true;
}

bool EncodeBmp(const CImage& image, std::vector<uint8_t>& out) {
  const int bpp = image.GetBpp();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) {
    image.SetLastError("BMP: cannot write " + std::to_string(bpp) + " bits per pixel");
    return false;
  }
  const int width = image.GetWidth(), height = image.GetHeight();
  const size_t rowBytes = DibRowBytes(width, bpp);
  const size_t used = (size_t(width) * bpp + 7) / 8;
  const uint32_t colours = bpp <= 8 ? (1u << bpp) : 0;
  const uint64_t imageSize = uint64_t(rowBytes) * uint64_t(height);
  const uint64_t offBits = kFileHeaderSize + 40 + uint64_t(colours) * 4;
  const uint64_t total = offBits + imageSize;
  if (total > 0xFFFFFFFFull) {
    image.SetLastError("BMP: the image is too large for a bitmap file");
    return false;
  }
  size_t start = out.size();
  out.reserve(start + size_t(total));
  // File header.
  out.push_back('B');
  out.push_back('M');
  PutLe32(out, uint32_t(total));
  PutLe32(out, 0);
  PutLe32(out, uint32_t(offBits));
  // BITMAPINFOHEADER.
  PutLe32(out, 40);
  PutLe32(out, uint32_t(width));
  PutLe32(out, uint32_t(height));
  PutLe16(out, 1);
  PutLe16(out, uint16_t(bpp));
  PutLe32(out, 0);  // BI_RGB
  PutLe32(out, uint32_t(imageSize));
  PutLe32(out, uint32_t(dib::DpiToPelsPerMeter(image.GetXDPI())));
  PutLe32(out, uint32_t(dib::DpiToPelsPerMeter(image.GetYDPI())));
  PutLe32(out, colours);
  PutLe32(out, 0);
  // Colour table: the palette's colours, reserved bytes zero.
  const RGBQuad* pal = image.GetPalette();
  for (uint32_t i = 0; i < colours; ++i) {
    RGBQuad c = (pal && i < image.GetNumColors()) ? pal[i] : RGBQuad{};
    out.push_back(c.blue);
    out.push_back(c.green);
    out.push_back(c.red);
    out.push_back(0);
  }
  // Rows bottom-up, as the image keeps them; padding written as zeros.
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = image.GetBits(y);
    out.insert(out.end(), row, row + used);
    if (bpp < 8 && (size_t(width) * bpp) % 8) {
      // Clear the unused low bits of the last byte.
      int keep = int((size_t(width) * bpp) % 8);
      out.back() &= uint8_t(0xFF << (8 - keep));
    }
    out.insert(out.end(), rowBytes - used, 0);
  }
  return true;
}

}  // namespace

extern const CodecInfo kCodecBmp = {FORMAT_BMP, "BMP", "bmp;dib", SniffBmp, DecodeBmp, EncodeBmp};
