// The watermark stage: a text, a metadata value, the file's creation time or
// a picture, mixed into the converted image at one of four corners.
//
// Positions are in the image's bottom-up coordinates (row 0 is the bottom
// row): (x, y) is the watermark's bottom-left corner. Corner by
// WatermarkOptions::Pos, for an image W x H and a watermark w x h:
//   0 bottom right (W - marginHor - w, marginVert)
//   1 bottom left  (marginHor, marginVert)
//   2 top left     (marginHor, H - marginVert - h)
//   3 top right    (W - marginHor - w, H - marginVert - h)
//   other          (0, 0)
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "imaging/image.h"
#include "imaging/property_items.h"

// What the watermark stage draws, as the job's settings give it. The texts
// the string table supplies are filled in by the caller; empty date formats
// fall back to the program's own.
struct WatermarkOptions {
  int Mode = 3;          // 0 metadata tag, 1 file creation time, 2 picture, 3 text; other: nothing
  int TagType = 0;       // mode 0: 0 artist, 1 title, 2 description, 3 copyright, 4 date taken
  int DateTimeType = 0;  // mode 1: the form of the date and time, see FormatFileTime
  std::string Text;      // mode 3
  std::string ImagePath;  // mode 2
  int UseTransparentColor = 0;  // key out TransparentColor from a picture without transparency
  uint32_t TransparentColor = 0;
  int Transparency = 100;  // opacity in percent (0..100)
  int Pos = 0;             // corner, see above
  int PosMarginHor = 0;
  int PosMarginVert = 0;
  int Emboss = 0;       // shadow under texts
  int ShadowPos = 3;    // 0 up-left, 1 up-right, 2 down-left, 3 down-right
  int ShadowOffset = 0;  // pixels
  uint32_t ShadowColor = 0;
  LogFont Font;
  uint32_t FontColor = 0;  // colours have red in the low byte
  // Mode 0: whether metadata can be read at all, and the user's values that
  // take precedence over the source's (artist, description, copyright).
  bool MetadataAvailable = false;
  int UseUserComment = 0;
  std::string ImageAuthor;
  std::string ImageDescription;
  std::string ImageCopyright;
  // The formats of the four date forms (strings 194, 151, 152, 153).
  std::string DateFormats[4];
  // Named in place of the path when no picture was chosen.
  std::string NoPictureText = "(не выбрана)";
};

// The watermark of one job. What is the same for every file is made once,
// when constructed: the picture of mode 2 is read and keyed, the text of
// mode 3 is laid out and drawn. Render only reads it afterwards, so one
// object serves any number of threads at once.
class CWatermark {
 public:
  explicit CWatermark(const WatermarkOptions& options);
  CWatermark(const CWatermark&) = delete;
  CWatermark& operator=(const CWatermark&) = delete;

  // Draws the watermark into image. sourcePath is the file the image came
  // from (mode 1 shows its creation time); items are its metadata items as
  // read with the pixels (mode 0 shows one of them). Returns true when it
  // drew one or reached the text step (an empty text draws nothing), false
  // when it gave up early: picture not loadable, file time not convertible,
  // font not usable. When the picture of mode 2 cannot be read (no path, or
  // the file does not load), problem (if given) receives the path and the
  // reason, for the caller to tell the user.
  bool Render(CImage& image, const std::string& sourcePath, const PropertyItemList* items,
              int itemCount, std::string* problem = nullptr) const;

  const WatermarkOptions& Options() const { return options_; }

 private:
  enum class TextState { Empty, Ready, Failed };
  TextState MakeText(const std::string& text, CImage& overlay) const;
  void Blend(CImage& image, const CImage& overlay) const;

  WatermarkOptions options_;
  CImage picture_;  // mode 2, keyed
  std::string pictureProblem_;
  CImage text_;  // mode 3
  TextState textState_ = TextState::Empty;
};

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
// formats (if given) are the four forms' formats from the string table; an
// empty or unusable one gives the program's own. False when the time cannot
// be converted to local time.
bool FormatFileTime(std::time_t when, int form, std::string& text,
                    const std::string* formats = nullptr);

// The text that mode 0 (metadata tag) shows for a source with these
// metadata items: the user's value when it takes precedence, else the tag.
std::string WatermarkTagText(const PropertyItemList* items, int count,
                             const WatermarkOptions& options);

// The watermark page's preview: "Test" as a text watermark would look with
// the options' font, colour, shadow and opacity, over a gradient, drawn
// into preview (which keeps its size; created by the caller). False, with
// preview unchanged, when the font cannot be used.
bool DrawWatermarkPreview(CImage& preview, const WatermarkOptions& options);
