// Truevision TGA: colour-mapped, true colour (15, 16, 24 and 32 bits) and
// grey images, uncompressed or run-length encoded, with any of the four
// origins.
//
// Colour-mapped images whose map fits 256 entries load as 8 bits with that
// palette, other colour-mapped and true-colour images as 24 bits, grey as 8
// bits with a grey palette. 32-bit pixels and 16-bit grey keep their alpha in
// the alpha plane; a 16-bit pixel's attribute bit becomes alpha when the
// header says it carries one. An alpha channel that is zero everywhere is
// taken for an unused one (many writers leave it so) and dropped.
//
// Writing gives 24 bits, or 32 bits when the image has transparency, stored
// bottom-up. Codec option 1 asks for run-length encoding; reading an RLE file
// sets it, so the keep-format writer keeps the compression.
#include <algorithm>
#include <cstring>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"

namespace {

using byte_order::GetLe16;

constexpr uint32_t kOptionRle = 1;

enum TgaType : uint8_t {
  kColourMapped = 1,
  kTrueColour = 2,
  kGrey = 3,
  kRleColourMapped = 9,
  kRleTrueColour = 10,
  kRleGrey = 11,
};


struct TgaHeader {
  uint8_t idLength;
  uint8_t mapType;
  uint8_t imageType;
  uint16_t mapFirst;
  uint16_t mapLength;
  uint8_t mapBits;
  uint16_t width;
  uint16_t height;
  uint8_t bits;
  uint8_t descriptor;
};

// A colour from a 15/16-bit value (x RRRRR GGGGG BBBBB).
RGBQuad From555(uint16_t v) {
  auto expand = [](unsigned c) { return uint8_t((c << 3) | (c >> 2)); };
  return RGBQuad{expand(v & 0x1F), expand((v >> 5) & 0x1F), expand((v >> 10) & 0x1F), 0};
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  if (n < 18) {
    image.SetLastError("file too short for a TGA header");
    return false;
  }
  TgaHeader h{d[0], d[1], d[2], GetLe16(d + 3), GetLe16(d + 5), d[7], GetLe16(d + 12), GetLe16(d + 14), d[16], d[17]};
  const uint8_t base = h.imageType & 7;
  const bool rle = (h.imageType & 8) != 0;
  if ((h.imageType & ~8) < 1 || (h.imageType & ~8) > 3) {
    image.SetLastError("unsupported image type " + std::to_string(h.imageType));
    return false;
  }
  if (h.mapType > 1) {
    image.SetLastError("bad colour map type " + std::to_string(h.mapType));
    return false;
  }
  if (h.mapType == 1 && h.mapBits != 15 && h.mapBits != 16 && h.mapBits != 24 && h.mapBits != 32) {
    image.SetLastError("unsupported colour map entry size " + std::to_string(h.mapBits));
    return false;
  }
  switch (base) {
    case kColourMapped:
      if (h.mapType != 1 || h.mapLength == 0) {
        image.SetLastError("colour-mapped image without a colour map");
        return false;
      }
      if (h.bits != 8 && h.bits != 16) {
        image.SetLastError("unsupported index size " + std::to_string(h.bits));
        return false;
      }
      break;
    case kTrueColour:
      if (h.bits != 15 && h.bits != 16 && h.bits != 24 && h.bits != 32) {
        image.SetLastError("unsupported pixel size " + std::to_string(h.bits));
        return false;
      }
      break;
    default:
      if (h.bits != 8 && h.bits != 16) {
        image.SetLastError("unsupported grey pixel size " + std::to_string(h.bits));
        return false;
      }
      break;
  }
  if (!image.CheckDimensions(h.width, h.height, nullptr)) return false;

  const size_t mapEntryBytes = (size_t(h.mapBits) + 7) / 8;
  const size_t mapStart = 18 + size_t(h.idLength);
  const size_t mapBytes = h.mapType == 1 ? size_t(h.mapLength) * mapEntryBytes : 0;
  const size_t dataStart = mapStart + mapBytes;
  if (dataStart > n) {
    image.SetLastError("file truncated in the colour map");
    return false;
  }
  const size_t pixelBytes = (size_t(h.bits) + 7) / 8;
  const uint64_t pixels = uint64_t(h.width) * h.height;
  const uint64_t avail = n - dataStart;
  // Raw data must be all there; RLE expands at most 128 pixels per packet.
  uint64_t needed = rle ? (pixels + 127) / 128 * (1 + pixelBytes) : pixels * pixelBytes;
  if (needed > avail) {
    image.SetLastError("file truncated: " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                       " pixels need more data than the file holds");
    return false;
  }

  // The colour map, indexed by the absolute entry number.
  std::vector<RGBQuad> map;
  bool mapHasAlpha = false;
  if (h.mapType == 1) {
    map.resize(size_t(h.mapFirst) + h.mapLength);
    for (size_t i = 0; i < h.mapLength; ++i) {
      const uint8_t* p = d + mapStart + i * mapEntryBytes;
      RGBQuad c;
      if (h.mapBits <= 16)
        c = From555(GetLe16(p));
      else
        c = RGBQuad{p[0], p[1], p[2], uint8_t(h.mapBits == 32 ? p[3] : 0)};
      if (h.mapBits == 32 && c.reserved != 0) mapHasAlpha = true;
      map[h.mapFirst + i] = c;
    }
  }

  const int alphaBits = h.descriptor & 0x0F;
  const bool paletteOut = (base == kColourMapped && h.bits == 8 && map.size() <= 256) || base == kGrey;
  const int bpp = paletteOut ? 8 : 24;
  const bool wantAlpha = (base == kTrueColour && (h.bits == 32 || (h.bits == 16 && alphaBits == 1))) ||
                         (base == kGrey && h.bits == 16);
  if (!image.Create(h.width, h.height, bpp, FORMAT_TGA)) return false;
  if (base == kColourMapped && paletteOut) {
    image.SetPalette(map.data(), int(map.size()));
    bool opaque = true;
    for (const RGBQuad& c : map)
      if (c.reserved != 255) opaque = false;
    if (mapHasAlpha && !opaque) image.AlphaPaletteEnable(true);
  }
  if (wantAlpha) image.AlphaCreate();

  const bool topDown = (h.descriptor & 0x20) != 0;
  const bool rightToLeft = (h.descriptor & 0x10) != 0;
  const int w = h.width;
  bool anyAlpha = false;
  // Stores pixel number i of the stream at its place in the image.
  auto put = [&](uint64_t i, const uint8_t* p) {
    int row = int(i / w), col = int(i % w);
    int y = topDown ? h.height - 1 - row : row;  // from the bottom
    int x = rightToLeft ? w - 1 - col : col;
    uint8_t* dst = image.GetBits(y);
    uint8_t alpha = 255;
    if (base == kGrey) {
      dst[x] = p[0];
      if (h.bits == 16) alpha = p[1];
    } else if (base == kColourMapped) {
      unsigned index = h.bits == 8 ? p[0] : GetLe16(p);
      if (index >= map.size() || index < h.mapFirst) {
        index = 0;  // an index outside the map shows the first colour
      }
      if (paletteOut) {
        dst[x] = uint8_t(index);
      } else {
        const RGBQuad& c = index < map.size() ? map[index] : RGBQuad{};
        dst[x * 3] = c.blue;
        dst[x * 3 + 1] = c.green;
        dst[x * 3 + 2] = c.red;
      }
    } else if (h.bits <= 16) {
      uint16_t v = GetLe16(p);
      RGBQuad c = From555(v);
      dst[x * 3] = c.blue;
      dst[x * 3 + 1] = c.green;
      dst[x * 3 + 2] = c.red;
      alpha = (v & 0x8000) ? 255 : 0;
    } else {
      dst[x * 3] = p[0];
      dst[x * 3 + 1] = p[1];
      dst[x * 3 + 2] = p[2];
      if (h.bits == 32) alpha = p[3];
    }
    if (wantAlpha) {
      *image.AlphaGetPointer(x, y) = alpha;
      if (alpha != 0) anyAlpha = true;
    }
  };

  const uint8_t* src = d + dataStart;
  const uint8_t* end = d + n;
  if (!rle) {
    for (uint64_t i = 0; i < pixels; ++i, src += pixelBytes) put(i, src);
  } else {
    uint64_t i = 0;
    while (i < pixels) {
      if (src >= end) {
        image.SetLastError("file truncated in the run-length data");
        return false;
      }
      uint8_t packet = *src++;
      uint64_t count = std::min<uint64_t>((packet & 0x7F) + 1, pixels - i);
      if (packet & 0x80) {
        if (size_t(end - src) < pixelBytes) {
          image.SetLastError("file truncated in the run-length data");
          return false;
        }
        for (uint64_t k = 0; k < count; ++k) put(i++, src);
        src += pixelBytes;
      } else {
        if (uint64_t(end - src) < count * pixelBytes) {
          image.SetLastError("file truncated in the run-length data");
          return false;
        }
        for (uint64_t k = 0; k < count; ++k, src += pixelBytes) put(i++, src);
      }
    }
  }
  if (wantAlpha && !anyAlpha) image.AlphaDelete();
  image.SetCodecOption(rle ? kOptionRle : 0, FORMAT_TGA);
  return true;
}

// Appends one row of pixels (pixelBytes each) run-length encoded.
void EncodeRleRow(const uint8_t* row, int width, size_t pixelBytes, std::vector<uint8_t>& out) {
  auto same = [&](int a, int b) { return std::memcmp(row + a * pixelBytes, row + b * pixelBytes, pixelBytes) == 0; };
  int x = 0;
  while (x < width) {
    int run = 1;
    while (x + run < width && run < 128 && same(x, x + run)) ++run;
    if (run >= 2) {
      out.push_back(uint8_t(0x80 | (run - 1)));
      out.insert(out.end(), row + x * pixelBytes, row + (x + 1) * pixelBytes);
      x += run;
      continue;
    }
    // A raw packet up to the next run of two or more.
    int start = x;
    int count = 0;
    while (x < width && count < 128) {
      if (x + 1 < width && same(x, x + 1)) break;
      ++x;
      ++count;
    }
    out.push_back(uint8_t(count - 1));
    out.insert(out.end(), row + start * pixelBytes, row + (start + count) * pixelBytes);
  }
}

bool Encode(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  if (w > 0xFFFF || h > 0xFFFF) {
    image.SetLastError("TGA holds at most 65535 pixels per side");
    return false;
  }
  const bool alpha = image.IsTransparent();
  const bool rle = (image.GetCodecOption(FORMAT_TGA) & kOptionRle) != 0;
  const size_t pixelBytes = alpha ? 4 : 3;
  uint8_t header[18] = {};
  header[2] = rle ? kRleTrueColour : kTrueColour;
  header[12] = uint8_t(w);
  header[13] = uint8_t(w >> 8);
  header[14] = uint8_t(h);
  header[15] = uint8_t(h >> 8);
  header[16] = uint8_t(pixelBytes * 8);
  header[17] = alpha ? 8 : 0;  // bottom-left origin
  out.insert(out.end(), header, header + 18);
  std::vector<uint8_t> row(size_t(w) * pixelBytes);
  for (int y = 0; y < h; ++y) {
    if (image.GetBpp() == 24 && !alpha) {
      std::memcpy(row.data(), image.GetBits(y), row.size());
    } else {
      for (int x = 0; x < w; ++x) {
        RGBQuad c = image.GetPixelColor(x, y, alpha);
        uint8_t* p = row.data() + x * pixelBytes;
        p[0] = c.blue;
        p[1] = c.green;
        p[2] = c.red;
        if (alpha) p[3] = c.reserved;
      }
    }
    if (rle)
      EncodeRleRow(row.data(), w, pixelBytes, out);
    else
      out.insert(out.end(), row.begin(), row.end());
  }
  return true;
}

}  // namespace

// No signature: TGA files are found by their extension.
extern const CodecInfo kCodecTga = {FORMAT_TGA, "TGA", "tga", nullptr, Decode, Encode};
