// PGX, the grey test format of JPEG 2000: a text header line
// "PG <ML|LM> [+|-] <depth> <width> <height>" and the samples, one byte each
// up to 8 bits of depth and two bytes up to 16, big-endian (ML) or
// little-endian (LM), unsigned or signed.
//
// Loads as an 8-bit grey image, the samples scaled from their depth to 8
// bits (signed samples shifted to start at 0 first). Writing gives 8-bit
// unsigned big-endian samples; colour pixels become their luminance.
#include <cstdio>
#include <string>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"

namespace {

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t'; }

bool Sniff(const uint8_t* d, size_t n) {
  if (n < 6 || d[0] != 'P' || d[1] != 'G') return false;
  size_t i = 2;
  while (i < n && i < 16 && IsBlank(d[i])) ++i;
  if (i == 2 || i + 2 > n) return false;
  return (d[i] == 'M' && d[i + 1] == 'L') || (d[i] == 'L' && d[i + 1] == 'M');
}

bool ReadInt(const uint8_t* d, size_t n, size_t& pos, uint32_t& v) {
  while (pos < n && IsBlank(d[pos])) ++pos;
  if (pos >= n || d[pos] < '0' || d[pos] > '9') return false;
  uint64_t value = 0;
  while (pos < n && d[pos] >= '0' && d[pos] <= '9') {
    value = value * 10 + uint64_t(d[pos++] - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  v = uint32_t(value);
  return true;
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  if (!Sniff(d, n)) {
    image.SetLastError("not a PGX file");
    return false;
  }
  size_t pos = 2;
  while (IsBlank(d[pos])) ++pos;
  const bool bigEndian = d[pos] == 'M';
  pos += 2;
  bool isSigned = false;
  // The sign field: blanks and at most one '+' or '-'.
  int signs = 0;
  while (pos < n && (IsBlank(d[pos]) || d[pos] == '+' || d[pos] == '-')) {
    if (d[pos] == '-') isSigned = true;
    if (d[pos] == '+' || d[pos] == '-') ++signs;
    ++pos;
  }
  uint32_t depth = 0, width = 0, height = 0;
  if (signs > 1 || !ReadInt(d, n, pos, depth) || !ReadInt(d, n, pos, width) || !ReadInt(d, n, pos, height)) {
    image.SetLastError("bad header");
    return false;
  }
  // The header ends with its line.
  while (pos < n && IsBlank(d[pos])) ++pos;
  if (pos < n && d[pos] == '\r') ++pos;
  if (pos >= n || d[pos] != '\n') {
    image.SetLastError("bad header");
    return false;
  }
  ++pos;
  if (depth < 1 || depth > 16) {
    image.SetLastError("unsupported depth " + std::to_string(depth));
    return false;
  }
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  const size_t bytes = depth <= 8 ? 1 : 2;
  if (uint64_t(width) * height * bytes > n - pos) {
    image.SetLastError("file truncated: " + std::to_string(width) + "x" + std::to_string(height) +
                       " samples need more data than the file holds");
    return false;
  }
  if (!image.Create(int(width), int(height), 8, FORMAT_PGX)) return false;
  const uint32_t maxval = (1u << depth) - 1;
  const uint8_t* src = d + pos;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* dst = image.TopRow(int(y));
    for (uint32_t x = 0; x < width; ++x, src += bytes) {
      int32_t v;
      if (bytes == 1) {
        v = isSigned ? int32_t(int8_t(src[0])) : int32_t(src[0]);
      } else {
        uint16_t raw = bigEndian ? byte_order::GetBe16(src) : byte_order::GetLe16(src);
        v = isSigned ? int32_t(int16_t(raw)) : int32_t(raw);
      }
      if (isSigned) v += int32_t(1u << (depth - 1));
      if (v < 0) v = 0;
      if (uint32_t(v) > maxval) v = int32_t(maxval);
      dst[x] = uint8_t((uint32_t(v) * 255 + maxval / 2) / maxval);
    }
  }
  return true;
}

bool Encode(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  char header[64];
  int len = std::snprintf(header, sizeof header, "PG ML + 8 %d %d\n", w, h);
  out.insert(out.end(), header, header + len);
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) {
      RGBQuad c = image.GetPixelColor(x, y, false);
      if (c.red == c.green && c.green == c.blue)
        out.push_back(c.red);
      else
        out.push_back(uint8_t((c.red * 299 + c.green * 587 + c.blue * 114 + 500) / 1000));
    }
  return true;
}

}  // namespace

extern const CodecInfo kCodecPgx = {FORMAT_PGX, "PGX", "pgx", Sniff, Decode, Encode};
