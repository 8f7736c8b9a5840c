// The codec option of the formats written with a quality, an effort and one
// switch (WebP, AVIF, HEIC, JPEG XL): quality in bits 0-7, effort in bits
// 8-11, the switch in bit 12 (lossless, or 4:4:4 chroma for AVIF and HEIC).
// An option of 0 means the codec's own defaults. The output formats pack it,
// the encoders unpack it, and decoders that find a lossless file pack the
// option that writes it lossless again.
#pragma once

#include <cstdint>

inline constexpr uint32_t kQualityOptionSwitch = 1u << 12;

struct QualityOption {
  int quality = 0;      // bits 0-7
  int effort = 0;       // bits 8-11
  bool flag = false;    // bit 12
};

// Packs the three values; quality is brought into 1..100 and effort into
// effortMin..effortMax, so that a hand-edited settings file never reaches an
// encoder with values out of range.
inline uint32_t PackQualityOption(int quality, int effort, int effortMin, int effortMax,
                                  bool flag) {
  quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  effort = effort < effortMin ? effortMin : effort > effortMax ? effortMax : effort;
  return uint32_t(quality) | (uint32_t(effort) << 8) | (flag ? kQualityOptionSwitch : 0u);
}

// The fields as stored; the encoder applies its defaults and ranges.
inline QualityOption UnpackQualityOption(uint32_t option) {
  QualityOption o;
  o.quality = int(option & 0xFF);
  o.effort = int((option >> 8) & 0xF);
  o.flag = (option & kQualityOptionSwitch) != 0;
  return o;
}
