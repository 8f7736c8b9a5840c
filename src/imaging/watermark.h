// The watermark stage: a text, a metadata value, the file's creation time or
// a picture, mixed into the converted image at one of four corners.
//
// Positions are in the image's bottom-up coordinates (row 0 is the bottom
// row): (x, y) is the watermark's bottom-left corner. Corner by
// Watermarks.Pos, for an image W x H and a watermark w x h:
//   0 bottom right (W - marginHor - w, marginVert)
//   1 bottom left  (marginHor, marginVert)
//   2 top left     (marginHor, H - marginVert - h)
//   3 top right    (W - marginHor - w, H - marginVert - h)
//   other          (0, 0)
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class CImage;
class CSettings;

// Draws the watermark of the settings' Watermarks section into image.
// Returns true when it drew one or reached the text step (an empty text
// draws nothing), false when it gave up early: picture not loadable, file
// time not convertible, font not usable. When the picture of mode 2 cannot
// be read (no path, or the file does not load), problem (if given) receives
// the path and the reason, for the caller to tell the user.
bool RenderWatermark(CImage& image, const std::string& sourcePath, const CSettings& settings,
                     std::string* problem = nullptr);
// The same with the process-wide settings record.
bool RenderWatermark(CImage& image, const std::string& sourcePath);

// Mixes overlay into target with its bottom-left corner at (x, y) and the
// opacity factor (0..1). Overlay pixels of its transparent colour (a
// transparent index, or on true colour the colour set with SetTransColor
// together with a transparent index) are skipped; an alpha plane scales
// the factor per pixel. Parts outside the target are clipped.
void BlendOverlay(CImage& target, const CImage& overlay, long x, long y, float factor);

// Bottom-left corner of a w x h watermark in a W x H image by position
// (0..3) and margins.
void WatermarkCorner(int position, long imageWidth, long imageHeight, long width, long height,
                     long marginHor, long marginVert, long& x, long& y);

// The file's creation time: its birth time where the file system records
// it, otherwise its modification time. False when the file cannot be
// examined.
bool FileCreationTime(const std::string& path, std::time_t& when);

// The date and time in the four forms: 0 "05.03.2006", 1 "09:07",
// 2 "05.03.2006  09:07", 3 "09:07 05.03.2006"; other forms give "".
// False when the time cannot be converted to local time.
bool FormatFileTime(std::time_t when, int form, std::string& text);

// The text that mode 0 (metadata tag) shows for the source file.
std::string WatermarkTagText(const std::string& sourcePath, const CSettings& settings);

// The watermark page's preview: "Test" as a text watermark would look with
// the settings' font, colour, shadow and opacity, over a gradient, drawn
// into preview (which keeps its size; created by the caller). False, with
// preview unchanged, when the font cannot be used.
bool DrawWatermarkPreview(CImage& preview, const CSettings& settings);
