// JPEG helpers beyond the codec table entry (kCodecJpeg, format 3).
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/image.h"

// Decodes a JPEG at a reduced size for speed: picks the smallest DCT
// scale n/8 (n = 1..8) at which the decoded picture is still at least
// minWidth x minHeight (full size when even 8/8 is smaller). Everything
// else (colour conversion, resolution, ICC profile, codec option) is as
// in a full decode. Returns false with image.GetLastError() on failure;
// the image is left unchanged then.
bool DecodeJpegScaled(CImage& image, const uint8_t* data, size_t size, int minWidth,
                      int minHeight);

// Reads the picture size from a JPEG's frame header without decoding it.
bool ReadJpegHeader(const uint8_t* data, size_t size, int& width, int& height);
