// Enhanced metafiles (EMF), rendered by the program's own player; used by
// the metafile codec (wmf.cpp) and by the fuzz target of the player.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/image.h"

namespace metafile {

// True when the data starts with an EMF header record.
bool IsEmf(const uint8_t* data, size_t size);
// Renders an EMF into image: 24 bits, white background, at the size its
// frame has on the reference device the file was made for.
bool DecodeEmf(CImage& image, const uint8_t* data, size_t size);

// Text of a metafile's 8-bit string records as UTF-8: code page 1251 for
// fonts of the Cyrillic character set (204), Latin-1 otherwise.
std::string AnsiToUtf8(const uint8_t* text, size_t length, uint8_t charset);

}  // namespace metafile
