// ZSoft PCX: 1 bit (black and white), 2 and 4 bits (one plane, or four
// planes of one bit each), 8 bits with the 256-colour palette at the end of
// the file, and 24/32 bits as three or four planes of 8 bits; run-length
// encoded or, rarely, stored.
//
// Images of up to 4 bits load as 4-bit (16 colours) or 1-bit palette images,
// 8 bits as an 8-bit palette image, three planes as 24 bits (a fourth plane
// becomes the alpha plane). Writing gives 8 bits with a palette for palette
// images and three planes for true colour, always run-length encoded.
#include <algorithm>
#include <cstring>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"

namespace {

using byte_order::GetLe16;
using byte_order::SetLe16;

// The 16 colours of the EGA default palette, for files without one.
const uint8_t kEgaPalette[16][3] = {
    {0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},
    {170, 0, 0},     {170, 0, 170},   {170, 85, 0},    {170, 170, 170},
    {85, 85, 85},    {85, 85, 255},   {85, 255, 85},   {85, 255, 255},
    {255, 85, 85},   {255, 85, 255},  {255, 255, 85},  {255, 255, 255}};

bool Sniff(const uint8_t* d, size_t n) {
  if (n < 128 || d[0] != 0x0A) return false;
  if (d[1] != 0 && d[1] != 2 && d[1] != 3 && d[1] != 4 && d[1] != 5) return false;
  if (d[2] > 1) return false;
  uint8_t bits = d[3];
  return bits == 1 || bits == 2 || bits == 4 || bits == 8;
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  if (n < 128 || d[0] != 0x0A) {
    image.SetLastError("not a PCX file");
    return false;
  }
  const uint8_t version = d[1];
  const bool rle = d[2] == 1;
  const int bits = d[3];
  const int64_t xmin = GetLe16(d + 4), ymin = GetLe16(d + 6), xmax = GetLe16(d + 8), ymax = GetLe16(d + 10);
  const int planes = d[65];
  const size_t bytesPerLine = GetLe16(d + 66);
  if (d[2] > 1) {
    image.SetLastError("unknown encoding " + std::to_string(d[2]));
    return false;
  }
  const int64_t width = xmax - xmin + 1, height = ymax - ymin + 1;
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  // The supported plane layouts.
  int bpp;  // of the image made
  if (bits == 1 && planes == 1)
    bpp = 1;
  else if ((bits == 1 && (planes == 2 || planes == 3 || planes == 4)) || ((bits == 2 || bits == 4) && planes == 1))
    bpp = 4;
  else if (bits == 8 && planes == 1)
    bpp = 8;
  else if (bits == 8 && (planes == 3 || planes == 4))
    bpp = 24;
  else {
    image.SetLastError(std::to_string(planes) + " planes of " + std::to_string(bits) + " bits are not supported");
    return false;
  }
  if (bytesPerLine * 8 < size_t(width) * size_t(bits)) {
    image.SetLastError("bytes per line " + std::to_string(bytesPerLine) + " too small for the width");
    return false;
  }
  const uint64_t lineBytes = uint64_t(bytesPerLine) * uint64_t(planes);
  const uint64_t total = lineBytes * uint64_t(height);
  const uint64_t avail = n - 128;
  // A run of two bytes gives at most 63 bytes.
  if ((rle && total > avail * 63 / 2 + 63) || (!rle && total > avail)) {
    image.SetLastError("file truncated: the image needs more data than the file holds");
    return false;
  }
  if (!image.Create(int(width), int(height), bpp, FORMAT_PCX)) return false;
  if (bpp == 24 && planes == 4) image.AlphaCreate();

  // Palette.
  if (bpp == 1) {
    image.SetPaletteColor(0, 0, 0, 0);
    image.SetPaletteColor(1, 255, 255, 255);
  } else if (bpp == 4) {
    const uint8_t* pal = d + 16;
    bool empty = true;
    for (int i = 0; i < 48; ++i)
      if (pal[i]) empty = false;
    // Version 3 files carry no palette information.
    bool useDefault = version == 3 || empty;
    for (int i = 0; i < 16; ++i) {
      const uint8_t* c = useDefault ? kEgaPalette[i] : pal + i * 3;
      image.SetPaletteColor(uint8_t(i), c[0], c[1], c[2]);
    }
  } else if (bpp == 8) {
    if (n >= 128 + 769 && d[n - 769] == 0x0C) {
      const uint8_t* pal = d + n - 768;
      for (int i = 0; i < 256; ++i) image.SetPaletteColor(uint8_t(i), pal[i * 3], pal[i * 3 + 1], pal[i * 3 + 2]);
    }  // else the grey ramp of Create stays
  }

  // Decodes the data, one scan line (all planes) at a time; runs may go on
  // into the next line.
  std::vector<uint8_t> line(lineBytes);
  const uint8_t* src = d + 128;
  const uint8_t* end = d + n;
  unsigned runLeft = 0;
  uint8_t runValue = 0;
  const int w = int(width);
  for (int y = 0; y < int(height); ++y) {
    size_t i = 0;
    while (i < line.size()) {
      if (!rle) {
        if (src >= end) {
          image.SetLastError("file truncated");
          return false;
        }
        line[i++] = *src++;
        continue;
      }
      if (runLeft == 0) {
        if (src >= end) {
          image.SetLastError("file truncated in the run-length data");
          return false;
        }
        uint8_t b = *src++;
        if ((b & 0xC0) == 0xC0) {
          if (src >= end) {
            image.SetLastError("file truncated in the run-length data");
            return false;
          }
          runLeft = b & 0x3F;  // may be 0: an empty run
          runValue = *src++;
          continue;
        }
        runLeft = 1;
        runValue = b;
      }
      line[i++] = runValue;
      --runLeft;
    }
    uint8_t* dst = image.TopRow(y);
    switch (bpp) {
      case 1:
        std::memcpy(dst, line.data(), std::min(size_t((w + 7) / 8), bytesPerLine));
        break;
      case 4:
        for (int x = 0; x < w; ++x) {
          unsigned index = 0;
          if (planes == 1) {
            if (bits == 4)
              index = (line[size_t(x) / 2] >> ((x & 1) ? 0 : 4)) & 0x0F;
            else
              index = (line[size_t(x) / 4] >> (6 - 2 * (x & 3))) & 3;
          } else {
            for (int p = 0; p < planes; ++p)
              index |= unsigned((line[p * bytesPerLine + size_t(x) / 8] >> (7 - (x & 7))) & 1) << p;
          }
          dst[x >> 1] |= uint8_t((x & 1) ? index : index << 4);
        }
        break;
      case 8:
        std::memcpy(dst, line.data(), size_t(w));
        break;
      default:
        for (int x = 0; x < w; ++x) {
          dst[x * 3 + 2] = line[size_t(x)];
          dst[x * 3 + 1] = line[bytesPerLine + size_t(x)];
          dst[x * 3] = line[2 * bytesPerLine + size_t(x)];
          if (planes == 4) *image.AlphaGetPointer(x, int(height) - 1 - y) = line[3 * bytesPerLine + size_t(x)];
        }
        break;
    }
    if (bpp == 1 && w % 8) dst[(w - 1) / 8] &= uint8_t(0xFF << (8 - w % 8));
  }
  long hdpi = GetLe16(d + 12), vdpi = GetLe16(d + 14);
  if (hdpi > 0 && vdpi > 0 && hdpi < 10000 && vdpi < 10000) {
    image.SetXDPI(hdpi);
    image.SetYDPI(vdpi);
  }
  return true;
}

// Appends the run-length code of one plane line.
void EncodeLine(const uint8_t* p, size_t count, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < count) {
    uint8_t v = p[i];
    size_t run = 1;
    while (i + run < count && run < 63 && p[i + run] == v) ++run;
    if (run > 1 || (v & 0xC0) == 0xC0) out.push_back(uint8_t(0xC0 | run));
    out.push_back(v);
    i += run;
  }
}

bool Encode(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  if (w > 0xFFFF || h > 0xFFFF) {
    image.SetLastError("PCX holds at most 65536 pixels per side");
    return false;
  }
  const bool palette = image.GetBpp() <= 8;
  const int planes = palette ? 1 : 3;
  const size_t bytesPerLine = size_t(w + (w & 1));  // even, as the format asks
  uint8_t header[128] = {};
  header[0] = 0x0A;
  header[1] = 5;
  header[2] = 1;
  header[3] = 8;
  SetLe16(header + 8, unsigned(w - 1));
  SetLe16(header + 10, unsigned(h - 1));
  SetLe16(header + 12, unsigned(std::min<long>(image.GetXDPI(), 0xFFFF)));
  SetLe16(header + 14, unsigned(std::min<long>(image.GetYDPI(), 0xFFFF)));
  header[65] = uint8_t(planes);
  SetLe16(header + 66, unsigned(bytesPerLine));
  SetLe16(header + 68, 1);  // colour or black and white
  out.insert(out.end(), header, header + 128);
  std::vector<uint8_t> line(bytesPerLine * planes, 0);
  for (int y = 0; y < h; ++y) {
    int row = h - 1 - y;
    const uint8_t* src = image.GetBits(row);
    for (int x = 0; x < w; ++x) {
      if (palette) {
        line[size_t(x)] = image.GetBpp() == 8 ? src[x] : image.GetPixelIndex(x, row);
      } else {
        line[size_t(x)] = src[x * 3 + 2];
        line[bytesPerLine + size_t(x)] = src[x * 3 + 1];
        line[2 * bytesPerLine + size_t(x)] = src[x * 3];
      }
    }
    for (int p = 0; p < planes; ++p) EncodeLine(line.data() + p * bytesPerLine, bytesPerLine, out);
  }
  if (palette) {
    out.push_back(0x0C);
    const RGBQuad* pal = image.GetPalette();
    uint32_t colours = image.GetNumColors();
    for (uint32_t i = 0; i < 256; ++i) {
      RGBQuad c = (pal && i < colours) ? pal[i] : RGBQuad{};
      out.push_back(c.red);
      out.push_back(c.green);
      out.push_back(c.blue);
    }
  }
  return true;
}

}  // namespace

extern const CodecInfo kCodecPcx = {FORMAT_PCX, "PCX", "pcx", Sniff, Decode, Encode};
