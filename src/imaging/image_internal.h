// Helpers shared by the image operations (image_*.cpp). Not part of the
// image class's interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace imaging_detail {

// Reads a whole regular file into data (see CImage::Load); false with the
// reason in error.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, std::string& error);

// Palette index of pixel x in a packed row of 1, 4 or 8 bits per pixel.
inline uint8_t RowIndex(const uint8_t* row, long x, int bpp) {
  switch (bpp) {
    case 8:
      return row[x];
    case 4:
      return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
}

inline void SetRowIndex(uint8_t* row, long x, int bpp, uint8_t index) {
  switch (bpp) {
    case 8:
      row[x] = index;
      break;
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? uint8_t((b & 0xF0) | (index & 0x0F)) : uint8_t((b & 0x0F) | (index << 4));
      break;
    }
    default: {
      uint8_t& b = row[x >> 3];
      uint8_t mask = uint8_t(0x80 >> (x & 7));
      b = (index & 1) ? uint8_t(b | mask) : uint8_t(b & ~mask);
      break;
    }
  }
}

// Maps colours to the nearest entry of a palette (squared RGB distance, the
// lowest index winning ties, exactly as CImage::GetNearestIndex). The colour
// cube is split into 32x32x32 cells of 8x8x8 colours. The first colour
// looked up in a cell fills the answers for all 512 colours of that cell,
// searching only the entries that can be nearest somewhere in it; later
// lookups in the cell are a table read.
class CNearestColor {
 public:
  CNearestColor(const RGBQuad* palette, int entries);
  uint8_t Find(uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t cell = (uint32_t(r >> 3) << 10) | (uint32_t(g >> 3) << 5) | (b >> 3);
    uint32_t block = cellBlock_[cell];
    if (block == 0) block = BuildCell(cell);
    return answers_[(size_t(block - 1) << 9) | ((r & 7u) << 6) | ((g & 7u) << 3) | (b & 7u)];
  }

 private:
  uint32_t BuildCell(uint32_t cell);

  std::vector<uint8_t> red_, green_, blue_;
  std::vector<uint32_t> cellBlock_;  // 1 + block number in answers_; 0 = not built
  std::vector<uint8_t> answers_;     // 512 per built cell
};

// The standard palettes of DecreaseBpp: 2 entries black and white, 16 the
// VGA colours, 256 a 6x7x6 colour cube followed by four greys.
std::vector<RGBQuad> StandardPalette(int bits);

}  // namespace imaging_detail
