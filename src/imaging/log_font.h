// The font of text drawn on pictures, as the settings store it.
#pragma once

#include <cstdint>

// A logical font, with the fields of the settings' "Font - ..." keys.
struct LogFont {
  int32_t lfHeight = -13;  // < 0: character height in pixels; > 0: cell height
  int32_t lfWidth = 0;
  int32_t lfEscapement = 0;
  int32_t lfOrientation = 0;
  int32_t lfWeight = 700;  // 400 normal, 700 bold
  uint8_t lfItalic = 0;
  uint8_t lfUnderline = 0;
  uint8_t lfStrikeOut = 0;
  uint8_t lfCharSet = 204;
  uint8_t lfOutPrecision = 3;
  uint8_t lfClipPrecision = 2;
  uint8_t lfQuality = 1;
  uint8_t lfPitchAndFamily = 34;
  char lfFaceName[32] = "Arial";  // UTF-8, at most 31 bytes
};
