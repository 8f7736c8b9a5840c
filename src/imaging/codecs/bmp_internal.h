// Device-independent bitmap decoding shared by the BMP and ICO codecs.
// Private to imaging/codecs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

namespace dib {

// How the bitmap sits in its container.
struct DibLayout {
  // Offset of the info header inside data.
  size_t headerOffset = 0;
  // Offset of the pixel rows inside data; 0 means "right after the colour
  // table" (icons, packed bitmaps).
  size_t pixelOffset = 0;
  // Icon bitmap: the header's height counts the colour rows and the AND mask
  // rows; the mask follows the colour rows and becomes the alpha plane.
  bool icon = false;
  // Format code recorded on the image (FORMAT_BMP, FORMAT_ICO).
  int format = FORMAT_BMP;
};

// Decodes a bitmap held in data[0, size) into image: info headers of 12
// (OS/2 core), 40, 52, 56, 64, 108 and 124 bytes; 1, 4, 8 bits with a colour
// table, 16 and 32 bits (BI_RGB and bit fields), 24 bits, RLE8 and RLE4;
// bottom-up and top-down rows. Palette depths stay palette images, deeper
// ones become 24-bit with an alpha plane where the data carries alpha.
// Every size is checked against size before anything is allocated or read.
// On failure returns false with the reason in image.GetLastError().
bool DecodeDib(CImage& image, const uint8_t* data, size_t size, const DibLayout& layout);

// Pixels per metre for a resolution in dots per inch, and back (rounded).
inline int32_t DpiToPelsPerMeter(long dpi) {
  return dpi > 0 ? int32_t((int64_t(dpi) * 10000 + 127) / 254) : 0;
}
inline long PelsPerMeterToDpi(int32_t ppm) {
  return ppm > 0 ? long((int64_t(ppm) * 254 + 5000) / 10000) : 0;
}

}  // namespace dib
