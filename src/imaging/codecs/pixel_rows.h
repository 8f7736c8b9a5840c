// Rows of an image as interleaved 8-bit samples, for encoders whose
// libraries take whole pictures top row first (WebP, JPEG XL).
#pragma once

#include <cstdint>

#include "imaging/image.h"

// Row yFromTop as blue, green, red (with rgb: red, green, blue) and, with
// alpha, a fourth sample: the alpha plane, or the palette's or transparent
// index's transparency as GetPixelColor reports it (255 when opaque).
inline void InterleavedRow(const CImage& image, int yFromTop, bool rgb, bool alpha,
                           uint8_t* dst) {
  const int w = image.GetWidth();
  const int y = image.GetHeight() - 1 - yFromTop;
  const int step = alpha ? 4 : 3;
  const int first = rgb ? 2 : 0, last = rgb ? 0 : 2;
  if (image.GetBpp() == 24 && !image.AlphaPaletteIsEnabled() && image.GetTransIndex() < 0) {
    const uint8_t* src = image.TopRow(yFromTop);
    const uint8_t* a = image.AlphaGetPointer(0, y);
    for (int x = 0; x < w; ++x, src += 3, dst += step) {
      dst[first] = src[0];
      dst[1] = src[1];
      dst[last] = src[2];
      if (alpha) dst[3] = a ? a[x] : 255;
    }
    return;
  }
  for (int x = 0; x < w; ++x, dst += step) {
    const RGBQuad c = image.GetPixelColor(x, y, true);
    dst[first] = c.blue;
    dst[1] = c.green;
    dst[last] = c.red;
    if (alpha) dst[3] = c.reserved;
  }
}
