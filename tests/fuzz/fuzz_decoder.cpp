// One libFuzzer target per decoder: LUMARO_FUZZ_FORMAT is the format code
// given to CImage::Decode (0: the EMF player on its own). A picture that
// decodes is encoded again in the same format and the result read back. For
// PNG, a file the band reader reads to the end must be read alike whole.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <cstring>

#include <zlib.h>

#include "imaging/codecs/emf.h"
#include "imaging/codecs/png_bands.h"
#include "imaging/image.h"

namespace {

// Traps unless every band the reader gives is the rows and alpha of the
// whole decode.
void CheckPngBands(const uint8_t* data, size_t size) {
  CPngBandReader reader;
  if (!reader.Open(data, size)) return;
  std::vector<CImage> bands;
  while (reader.RowsLeft() > 0) {
    bands.emplace_back();
    if (!reader.ReadBand(bands.back(), 7)) return;
  }
  CImage whole;
  if (!whole.Decode(data, size, FORMAT_PNG)) __builtin_trap();
  int y = 0;
  for (const CImage& band : bands) {
    if (band.GetBpp() != whole.GetBpp() || band.AlphaIsValid() != whole.AlphaIsValid())
      __builtin_trap();
    const size_t rowBytes = (size_t(band.GetWidth()) * size_t(band.GetBpp()) + 7) / 8;
    for (int r = 0; r < band.GetHeight(); ++r, ++y) {
      if (std::memcmp(band.TopRow(r), whole.TopRow(y), rowBytes) != 0) __builtin_trap();
      if (band.AlphaIsValid() &&
          std::memcmp(band.AlphaGetPointer(0, band.GetHeight() - 1 - r),
                      whole.AlphaGetPointer(0, whole.GetHeight() - 1 - y), size_t(band.GetWidth())) != 0)
        __builtin_trap();
    }
  }
  if (y != whole.GetHeight()) __builtin_trap();
}

// Recomputes every chunk's CRC, so that mutations reach the decoders
// instead of failing the CRC checks.
std::vector<uint8_t> WithRightCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> d(data, data + size);
  for (size_t at = 8; d.size() >= 12 && at <= d.size() - 12;) {
    const size_t length = size_t(d[at]) << 24 | size_t(d[at + 1]) << 16 | size_t(d[at + 2]) << 8 | d[at + 3];
    if (length > d.size() - at - 12) break;
    const uint32_t crc = uint32_t(crc32(0, d.data() + at + 4, uInt(length + 4)));
    for (int k = 0; k < 4; ++k) d[at + 8 + length + size_t(k)] = uint8_t(crc >> (24 - 8 * k));
    at += length + 12;
  }
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Big enough for every interesting case, small enough that no input can
  // ask for more memory than the fuzzer allows.
  CImage::SetPixelLimit(uint64_t(1) << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CImage image;
#if LUMARO_FUZZ_FORMAT == 0
  metafile::DecodeEmf(image, data, size);
#else
  constexpr int kFormat = LUMARO_FUZZ_FORMAT;
  std::vector<uint8_t> fixed;
  if (kFormat == FORMAT_PNG) {
    fixed = WithRightCrcs(data, size);
    data = fixed.data();
    size = fixed.size();
    CheckPngBands(data, size);
  }
  if (!image.Decode(data, size, kFormat)) return 0;
  if (image.GetNumFrames() > 1) {
    CImage second;
    second.SetFrame(image.GetNumFrames() - 1);
    second.Decode(data, size, kFormat);
  }
  std::vector<uint8_t> out;
  if (image.Encode(out, kFormat)) {
    CImage again;
    again.Decode(out.data(), out.size(), kFormat);
  }
#endif
  return 0;
}
