// One libFuzzer target per decoder: LUMARO_FUZZ_FORMAT is the format code
// given to CImage::Decode (0: the EMF player on its own). A picture that
// decodes is encoded again in the same format and the result read back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/codecs/emf.h"
#include "imaging/image.h"

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
