// Camera raw helpers beyond the codec table entry (kCodecRaw, FORMAT_RAW).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

// True when the data is a camera raw file the raw codec reads (also the
// TIFF-based ones, which the TIFF codec would otherwise take).
bool IsRawFile(const uint8_t* data, size_t size);

// The camera's embedded preview of a raw file, turned by the camera's
// orientation, for thumbnails: much faster than developing the picture.
// A preview whose longer side is below the larger of minWidth and
// minHeight is not used; the picture is then developed at half size.
// fullWidth/fullHeight (may be null) receive the size of the fully
// developed picture. Returns false with image.GetLastError() on failure;
// the image is left unchanged then.
bool DecodeRawPreview(CImage& image, const uint8_t* data, size_t size, int minWidth,
                      int minHeight, int* fullWidth = nullptr, int* fullHeight = nullptr);
