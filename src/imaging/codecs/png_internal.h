// PNG decoding through libpng alone, without the libdeflate fast path that
// the codec takes for the common layouts. Private to imaging/codecs and its
// tests, which check that both give the same image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

namespace png_internal {

bool DecodeThroughLibpng(CImage& image, const uint8_t* data, size_t size);

}  // namespace png_internal
