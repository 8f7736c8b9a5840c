// CImage: brightness and contrast, conversion to grey.
#include <algorithm>
#include <cstring>

#include "imaging/image.h"

namespace {

// Grey level of a colour (ITU-R BT.601 weights).
inline uint8_t GreyOf(unsigned r, unsigned g, unsigned b) {
  return uint8_t((r * 299 + g * 587 + b * 114 + 500) / 1000);
}

}  // namespace

bool CImage::Light(long brightness, long contrast) {
  if (!IsValid()) {
    SetLastError("Light: the image is empty");
    return false;
  }
  brightness = std::clamp(brightness, -255L, 255L);
  contrast = std::clamp(contrast, -100L, 255L);
  if (brightness == 0 && contrast == 0) return true;
  uint8_t table[256];
  for (long c = 0; c < 256; ++c) {
    long v = ((c - 128) * (100 + contrast) / 100) + 128 + brightness;
    table[c] = uint8_t(std::clamp(v, 0L, 255L));
  }
  if (bpp_ <= 8) {
    // Palette images change their palette; the reserved (alpha) byte stays.
    for (RGBQuad& q : palette_) {
      q.blue = table[q.blue];
      q.green = table[q.green];
      q.red = table[q.red];
    }
  } else {
    const size_t rowBytes = size_t(width_) * 3;
    for (int y = 0; y < height_; ++y) {
      uint8_t* p = GetBits(y);
      for (size_t i = 0; i < rowBytes; ++i) p[i] = table[p[i]];
    }
  }
  if (bpp_ > 8 && transIndex_ >= 0) {
    // The transparent colour follows the pixels that carry it.
    transColor_.blue = table[transColor_.blue];
    transColor_.green = table[transColor_.green];
    transColor_.red = table[transColor_.red];
  }
  dib_.clear();
  return true;
}

bool CImage::GrayScale() {
  if (!IsValid()) {
    SetLastError("GrayScale: the image is empty");
    return false;
  }
  if (bpp_ <= 8) {
    // The pixels keep their indices; the palette turns grey.
    for (RGBQuad& q : palette_) {
      uint8_t v = GreyOf(q.red, q.green, q.blue);
      q.blue = q.green = q.red = v;
    }
    dib_.clear();
    return true;
  }
  CImage out;
  if (!out.Create(width_, height_, 8, type_)) {
    SetLastError("GrayScale: " + out.GetLastError());
    return false;
  }
  for (int y = 0; y < height_; ++y) {
    const uint8_t* s = GetBits(y);
    uint8_t* d = out.GetBits(y);
    for (int x = 0; x < width_; ++x, s += 3) d[x] = GreyOf(s[2], s[1], s[0]);
  }
  std::vector<RGBQuad> grey = out.palette_;
  out.CopyAttributes(*this);
  out.palette_ = std::move(grey);
  out.alphaPalette_ = false;
  out.alpha_ = alpha_;
  if (transIndex_ >= 0) {
    // A transparent colour becomes the index of its grey.
    out.transIndex_ = GreyOf(transColor_.red, transColor_.green, transColor_.blue);
  }
  out.Transfer(*this);
  return true;
}

bool CImage::IsGrayScale() const {
  // True for palette images whose every entry is grey; a true-colour image
  // is not a grey-scale image whatever its pixels.
  if (!IsValid() || bpp_ > 8 || palette_.empty()) return false;
  for (const RGBQuad& q : palette_)
    if (q.red != q.green || q.green != q.blue) return false;
  return true;
}
