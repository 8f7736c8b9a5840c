// Sun raster: 1, 8, 24 and 32 bits, the standard, old, RGB-ordered and
// byte-encoded (run-length) types, with or without a colour map.
//
// 1 bit loads as a 1-bit image (a set bit is black unless a colour map says
// otherwise), 8 bits as an 8-bit palette image (grey without a map), 24 and
// 32 bits as 24 bits; the pad byte of a 32-bit pixel becomes the alpha plane
// unless it is zero everywhere. Writing gives 8 bits with a colour map for
// palette images and 24 bits otherwise; codec option 1 asks for the
// byte-encoded type, and reading such a file sets it.
#include <algorithm>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"

namespace {

using byte_order::GetBe32;
using byte_order::PutBe32;

constexpr uint32_t kMagic = 0x59A66A95;
constexpr uint32_t kOptionRle = 1;

enum RasType : uint32_t { kOld = 0, kStandard = 1, kByteEncoded = 2, kRgb = 3 };
enum RasMap : uint32_t { kNoMap = 0, kEqualRgb = 1, kRawMap = 2 };



bool Sniff(const uint8_t* d, size_t n) { return n >= 32 && GetBe32(d) == kMagic; }

// Expands byte-encoded data: 0x80 0 is one 0x80, 0x80 n v is n + 1 times v.
bool Unpack(const uint8_t* src, size_t srcLen, std::vector<uint8_t>& out, size_t want) {
  size_t i = 0;
  while (out.size() < want) {
    if (i >= srcLen) return false;
    uint8_t b = src[i++];
    if (b != 0x80) {
      out.push_back(b);
      continue;
    }
    if (i >= srcLen) return false;
    uint8_t count = src[i++];
    if (count == 0) {
      out.push_back(0x80);
      continue;
    }
    if (i >= srcLen) return false;
    uint8_t v = src[i++];
    size_t run = std::min(size_t(count) + 1, want - out.size());
    out.insert(out.end(), run, v);
  }
  return true;
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  if (n < 32 || GetBe32(d) != kMagic) {
    image.SetLastError("not a Sun raster file");
    return false;
  }
  const uint32_t width = GetBe32(d + 4), height = GetBe32(d + 8), depth = GetBe32(d + 12);
  const uint32_t type = GetBe32(d + 20), mapType = GetBe32(d + 24), mapLength = GetBe32(d + 28);
  if (depth != 1 && depth != 8 && depth != 24 && depth != 32) {
    image.SetLastError("unsupported depth " + std::to_string(depth));
    return false;
  }
  if (type > kRgb) {
    image.SetLastError("unsupported raster type " + std::to_string(type));
    return false;
  }
  if (mapType > kRawMap) {
    image.SetLastError("unsupported colour map type " + std::to_string(mapType));
    return false;
  }
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  if (mapLength > n - 32) {
    image.SetLastError("file truncated in the colour map");
    return false;
  }
  const uint8_t* map = d + 32;
  const size_t mapEntries = mapType == kEqualRgb ? mapLength / 3 : 0;
  const size_t dataStart = 32 + size_t(mapLength);
  const size_t rowBytes = (size_t(width) * depth + 15) / 16 * 2;  // rows end on 16 bits
  const uint64_t total = uint64_t(rowBytes) * height;
  const uint64_t avail = n - dataStart;
  std::vector<uint8_t> unpacked;
  const uint8_t* pixels = d + dataStart;
  if (type == kByteEncoded) {
    // Three bytes expand to at most 256.
    if (total > avail / 3 * 256 + 256) {
      image.SetLastError("file truncated: the image needs more data than the file holds");
      return false;
    }
    unpacked.reserve(size_t(total));
    if (!Unpack(pixels, size_t(avail), unpacked, size_t(total))) {
      image.SetLastError("file truncated in the encoded data");
      return false;
    }
    pixels = unpacked.data();
  } else if (total > avail) {
    image.SetLastError("file truncated: the image needs more data than the file holds");
    return false;
  }

  const int bpp = depth <= 8 ? int(depth) : 24;
  if (!image.Create(int(width), int(height), bpp, FORMAT_RAS)) return false;
  if (depth <= 8) {
    if (mapEntries > 0) {
      size_t count = std::min(mapEntries, size_t(1) << depth);
      for (size_t i = 0; i < (size_t(1) << depth); ++i) image.SetPaletteColor(uint8_t(i), 0, 0, 0);
      for (size_t i = 0; i < count; ++i)
        image.SetPaletteColor(uint8_t(i), map[i], map[mapEntries + i], map[2 * mapEntries + i]);
    } else if (depth == 1) {
      image.SetPaletteColor(0, 255, 255, 255);  // a set bit is black
      image.SetPaletteColor(1, 0, 0, 0);
    }
  }
  const bool rgbOrder = type == kRgb;
  if (depth == 32) image.AlphaCreate();
  bool anyAlpha = false;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* src = pixels + size_t(y) * rowBytes;
    uint8_t* dst = image.TopRow(int(y));
    switch (depth) {
      case 1:
        std::copy(src, src + (width + 7) / 8, dst);
        if (width % 8) dst[(width - 1) / 8] &= uint8_t(0xFF << (8 - width % 8));
        break;
      case 8:
        std::copy(src, src + width, dst);
        break;
      default:
        for (uint32_t x = 0; x < width; ++x) {
          const uint8_t* p = src + size_t(x) * (depth / 8);
          if (depth == 32) {
            uint8_t a = *p++;
            *image.AlphaGetPointer(int(x), int(height - 1 - y)) = a;
            if (a) anyAlpha = true;
          }
          dst[x * 3] = rgbOrder ? p[2] : p[0];
          dst[x * 3 + 1] = p[1];
          dst[x * 3 + 2] = rgbOrder ? p[0] : p[2];
        }
        break;
    }
  }
  if (depth == 32 && !anyAlpha) image.AlphaDelete();
  image.SetCodecOption(type == kByteEncoded ? kOptionRle : 0, FORMAT_RAS);
  return true;
}

// Appends data byte-encoded: runs of three or more, and every 0x80, as
// escape sequences.
void Pack(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < in.size()) {
    uint8_t v = in[i];
    size_t run = 1;
    while (i + run < in.size() && run < 256 && in[i + run] == v) ++run;
    if (run >= 3 || v == 0x80) {
      if (run == 1) {
        out.push_back(0x80);
        out.push_back(0);
      } else if (run == 2 && v == 0x80) {
        out.insert(out.end(), {0x80, 0, 0x80, 0});
      } else {
        out.push_back(0x80);
        out.push_back(uint8_t(run - 1));
        out.push_back(v);
      }
    } else {
      out.insert(out.end(), run, v);
    }
    i += run;
  }
}

bool Encode(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  const bool palette = image.GetBpp() <= 8;
  const bool rle = (image.GetCodecOption(FORMAT_RAS) & kOptionRle) != 0;
  const uint32_t depth = palette ? 8 : 24;
  const size_t rowBytes = (size_t(w) * depth + 15) / 16 * 2;
  std::vector<uint8_t> data(rowBytes * size_t(h), 0);
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = data.data() + size_t(y) * rowBytes;
    int row = h - 1 - y;
    const uint8_t* src = image.GetBits(row);
    if (palette) {
      for (int x = 0; x < w; ++x) dst[x] = image.GetBpp() == 8 ? src[x] : image.GetPixelIndex(x, row);
    } else {
      std::copy(src, src + size_t(w) * 3, dst);  // blue, green, red as in the file
    }
  }
  std::vector<uint8_t> packed;
  if (rle) Pack(data, packed);
  const std::vector<uint8_t>& body = rle ? packed : data;
  const uint32_t colours = palette ? image.GetNumColors() : 0;
  PutBe32(out, kMagic);
  PutBe32(out, uint32_t(w));
  PutBe32(out, uint32_t(h));
  PutBe32(out, depth);
  PutBe32(out, uint32_t(body.size()));
  PutBe32(out, rle ? kByteEncoded : kStandard);
  PutBe32(out, colours ? kEqualRgb : kNoMap);
  PutBe32(out, colours * 3);
  const RGBQuad* pal = image.GetPalette();
  for (uint32_t i = 0; i < colours; ++i) out.push_back(pal[i].red);
  for (uint32_t i = 0; i < colours; ++i) out.push_back(pal[i].green);
  for (uint32_t i = 0; i < colours; ++i) out.push_back(pal[i].blue);
  out.insert(out.end(), body.begin(), body.end());
  return true;
}

}  // namespace

extern const CodecInfo kCodecRas = {FORMAT_RAS, "Sun raster", "ras", Sniff, Decode, Encode};
