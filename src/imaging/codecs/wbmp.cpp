// Wireless bitmap (WBMP) of type 0: a one-bit picture, 1 = white, rows
// padded to whole bytes, the sizes as multi-byte integers. Loads as a 1-bit
// image (index 0 black, 1 white); writing turns every pixel darker than mid
// grey into black.
#include <algorithm>

#include "imaging/codecs/codec.h"

namespace {

// A multi-byte integer: 7 bits per byte, most significant first, the top bit
// set on every byte but the last.
bool ReadMultiByte(const uint8_t* d, size_t n, size_t& pos, uint32_t& value) {
  uint64_t v = 0;
  for (int i = 0; i < 5; ++i) {
    if (pos >= n) return false;
    uint8_t b = d[pos++];
    v = (v << 7) | (b & 0x7F);
    if (v > 0x7FFFFFFF) return false;
    if (!(b & 0x80)) {
      value = uint32_t(v);
      return true;
    }
  }
  return false;
}

void WriteMultiByte(uint32_t v, std::vector<uint8_t>& out) {
  uint8_t buf[5];
  int n = 0;
  do {
    buf[n++] = uint8_t(v & 0x7F);
    v >>= 7;
  } while (v);
  while (n > 1) out.push_back(uint8_t(buf[--n] | 0x80));
  out.push_back(buf[0]);
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  size_t pos = 0;
  uint32_t type = 0, width = 0, height = 0;
  if (!ReadMultiByte(d, n, pos, type) || type != 0) {
    image.SetLastError("not a WBMP of type 0");
    return false;
  }
  if (pos >= n) {
    image.SetLastError("file truncated in the header");
    return false;
  }
  uint8_t fixed = d[pos++];
  if (fixed & 0x80) {
    // Extension headers of type 00: bytes chained by their top bit.
    if ((fixed & 0x60) != 0) {
      image.SetLastError("unsupported extension header");
      return false;
    }
    while (pos < n && (d[pos] & 0x80)) ++pos;
    ++pos;
  }
  if (!ReadMultiByte(d, n, pos, width) || !ReadMultiByte(d, n, pos, height)) {
    image.SetLastError("bad or truncated header");
    return false;
  }
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  const size_t rowBytes = (size_t(width) + 7) / 8;
  if (pos > n || uint64_t(rowBytes) * height > n - pos) {
    image.SetLastError("file truncated: " + std::to_string(width) + "x" + std::to_string(height) +
                       " pixels need more data than the file holds");
    return false;
  }
  if (!image.Create(int(width), int(height), 1, FORMAT_WBMP)) return false;
  image.SetPaletteColor(0, 0, 0, 0);
  image.SetPaletteColor(1, 255, 255, 255);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* dst = image.TopRow(int(y));
    const uint8_t* src = d + pos + size_t(y) * rowBytes;
    for (size_t i = 0; i < rowBytes; ++i) dst[i] = src[i];
    if (width % 8) dst[rowBytes - 1] &= uint8_t(0xFF << (8 - width % 8));
  }
  return true;
}

bool Encode(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  out.push_back(0);  // type 0
  out.push_back(0);  // fixed header
  WriteMultiByte(uint32_t(w), out);
  WriteMultiByte(uint32_t(h), out);
  std::vector<uint8_t> row(size_t(w + 7) / 8);
  for (int y = 0; y < h; ++y) {
    std::fill(row.begin(), row.end(), 0);
    for (int x = 0; x < w; ++x) {
      RGBQuad c = image.GetPixelColor(x, h - 1 - y, false);
      if (c.red * 299 + c.green * 587 + c.blue * 114 >= 128000) row[size_t(x) >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return true;
}

}  // namespace

// No signature: WBMP files are found by their extension.
extern const CodecInfo kCodecWbmp = {FORMAT_WBMP, "WBMP", "wbmp", nullptr, Decode, Encode};
