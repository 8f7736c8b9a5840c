#include "imaging/watermark.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "imaging/image.h"
#include "imaging/metadata.h"

namespace {

constexpr uint32_t kTagImageTitle = 0x0320;
constexpr uint32_t kTagDateTime = 0x0132;
constexpr size_t kMaxTextBytes = 4095;
// A shadow farther away than this is no shadow; it only inflates the text
// image.
constexpr long kMaxShadowOffset = 1000;

RGBQuad ColourFromRef(uint32_t colour) {
  return RGBQuad{uint8_t((colour >> 16) & 0xFF), uint8_t((colour >> 8) & 0xFF),
                 uint8_t(colour & 0xFF), 0};
}

// Cuts text to at most max bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t max) {
  if (text.size() <= max) return text;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

// Fills a format of %d, %0Nd and %% conversions with values. False when the
// format holds any other conversion or a different number of them, so a
// string table entry can never make the program read arguments it has not
// got.
bool FormatInts(const std::string& format, const int* values, int count, std::string& out) {
  out.clear();
  int used = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (++i >= format.size()) return false;
    if (format[i] == '%') {
      out += '%';
      continue;
    }
    bool zero = false;
    int width = 0;
    if (format[i] == '0') {
      zero = true;
      ++i;
    }
    while (i < format.size() && format[i] >= '0' && format[i] <= '9' && width < 100)
      width = width * 10 + (format[i++] - '0');
    if (i >= format.size() || format[i] != 'd' || used >= count) return false;
    char buf[160];
    std::snprintf(buf, sizeof buf, zero ? "%0*d" : "%*d", width, values[used++]);
    out += buf;
  }
  return used == count;
}

void ShadowOffset(int position, long o, long& dx, long& dy) {
  // In text coordinates (y downwards): 0 up-left, 1 up-right, 2 down-left,
  // 3 down-right.
  switch (position) {
    case 0: dx = -o; dy = -o; break;
    case 1: dx = o; dy = -o; break;
    case 2: dx = -o; dy = o; break;
    default: dx = o; dy = o; break;
  }
}

long ShadowOffsetOf(const WatermarkOptions& o) {
  return std::clamp<long>(o.ShadowOffset, 0, kMaxShadowOffset);
}

float FactorOf(const WatermarkOptions& o) {
  return float(std::clamp(o.Transparency, 0, 100)) * 0.01f;
}

// Glyphs are smoothed unless the font asks for none (lfQuality 3, the
// non-antialiased quality of a logical font).
bool Antialiased(const LogFont& font) { return font.lfQuality != 3; }

// Coverage (0..255, rows bottom-up) of text drawn into a w x h box: the
// text's box is centred horizontally and its bottom edge sits pad pixels
// above the box's bottom, moved by (dx, dy) with y downwards.
bool TextCoverage(const std::string& text, const WatermarkOptions& o, long w, long h, long pad, long dx,
                  long dy, std::vector<uint8_t>& coverage) {
  CImage mask;
  if (!mask.Create(int(w), int(h), 24)) return false;
  mask.Clear(0);
  TextInfo info;
  CImage::InitTextInfo(info);
  info.text = CutUtf8(text, kMaxTextBytes);
  info.lfont = o.Font;
  info.fcolor = 0xFFFFFF;  // white on black: every channel is the coverage
  info.smooth = Antialiased(o.Font) ? 1 : 0;
  info.align = 1;
  info.opaque = 0;
  info.b_outline = 0;
  info.b_round = 0;
  if (!mask.DrawStringEx(w / 2 + dx, h - pad + dy, info)) return false;
  coverage.resize(size_t(w) * size_t(h));
  for (long y = 0; y < h; ++y) {
    const uint8_t* row = mask.GetBits(int(y));
    for (long x = 0; x < w; ++x) coverage[size_t(y) * size_t(w) + size_t(x)] = row[x * 3];
  }
  return true;
}

// Makes the text watermark as a w x h picture of the text colour with the
// glyphs' coverage as its alpha plane, so that antialiased edges blend into
// whatever lies beneath instead of carrying a background colour with them.
// The shadow (when on) lies under the text, composited the same way.
bool MakeTextOverlay(const std::string& text, const WatermarkOptions& o, long w, long h, long pad,
                     CImage& overlay) {
  std::vector<uint8_t> textCov, shadowCov;
  if (!TextCoverage(text, o, w, h, pad, 0, 0, textCov)) return false;
  if (o.Emboss != 0) {
    long dx = 0, dy = 0;
    ShadowOffset(o.ShadowPos, ShadowOffsetOf(o), dx, dy);
    if (!TextCoverage(text, o, w, h, pad, dx, dy, shadowCov)) return false;
  }
  if (!overlay.Create(int(w), int(h), 24) || !overlay.AlphaCreate()) return false;
  const RGBQuad fg = ColourFromRef(o.FontColor);
  const RGBQuad sh = ColourFromRef(o.ShadowColor);
  for (long y = 0; y < h; ++y) {
    uint8_t* p = overlay.GetBits(int(y));
    uint8_t* alpha = overlay.AlphaGetPointer(0, int(y));
    for (long x = 0; x < w; ++x, p += 3) {
      const size_t i = size_t(y) * size_t(w) + size_t(x);
      const unsigned at = textCov[i];
      const unsigned as = shadowCov.empty() ? 0 : shadowCov[i] * (255 - at) / 255;
      const unsigned a = at + as;  // the text over its shadow
      alpha[x] = uint8_t(a);
      if (a == 0 || as == 0) {
        p[0] = fg.blue;
        p[1] = fg.green;
        p[2] = fg.red;
      } else {
        p[0] = uint8_t((fg.blue * at + sh.blue * as + a / 2) / a);
        p[1] = uint8_t((fg.green * at + sh.green * as + a / 2) / a);
        p[2] = uint8_t((fg.red * at + sh.red * as + a / 2) / a);
      }
    }
  }
  return true;
}

// A palette or grey image takes a coloured watermark only as true colour:
// it becomes 24-bit, its transparent index an alpha plane, and the output
// format reduces the colours afterwards as it does for any picture.
void MakeTrueColour(CImage& image) {
  if (image.GetBpp() >= 24) return;
  const long trans = image.GetTransIndex();
  std::vector<uint8_t> clear;
  if (trans >= 0 && trans < 256) {
    const long w = image.GetWidth(), h = image.GetHeight();
    clear.resize(size_t(w) * size_t(h));
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x)
        clear[size_t(y) * size_t(w) + size_t(x)] = image.GetPixelIndex(x, y) == trans;
  }
  if (!image.IncreaseBpp(24)) return;
  if (clear.empty()) return;
  if (!image.AlphaCreate()) return;
  const long w = image.GetWidth();
  for (size_t i = 0; i < clear.size(); ++i)
    if (clear[i]) *image.AlphaGetPointer(int(i % size_t(w)), int(i / size_t(w))) = 0;
  image.SetTransIndex(-1);
}

}  // namespace

void WatermarkCorner(int position, long imageWidth, long imageHeight, long width, long height,
                     long marginHor, long marginVert, long& x, long& y) {
  switch (position) {
    case 0:
      x = imageWidth - marginHor - width;
      y = marginVert;
      break;
    case 1:
      x = marginHor;
      y = marginVert;
      break;
    case 2:
      x = marginHor;
      y = imageHeight - marginVert - height;
      break;
    case 3:
      x = imageWidth - marginHor - width;
      y = imageHeight - marginVert - height;
      break;
    default:
      x = 0;
      y = 0;
      break;
  }
}

void BlendOverlay(CImage& target, const CImage& overlay, long x, long y, float factor) {
  if (!target.IsValid() || !overlay.IsValid() || !(factor > 0.0f)) return;
  const long w = overlay.GetWidth();
  const long h = overlay.GetHeight();
  // A true-colour overlay has a transparent colour only together with a
  // transparent index; a palette overlay marks its transparent index with
  // alpha 0 in GetPixelColor.
  const bool colourKey = overlay.GetBpp() > 8 && overlay.GetTransIndex() >= 0;
  const RGBQuad key = overlay.GetTransColor();
  // Only the part that lands inside the target is visited.
  const long i0 = std::max(0L, -x), i1 = std::min(w, long(target.GetWidth()) - x);
  const long j0 = std::max(0L, -y), j1 = std::min(h, long(target.GetHeight()) - y);
  for (long i = i0; i < i1; ++i) {
    for (long j = j0; j < j1; ++j) {
      RGBQuad c = overlay.GetPixelColor(i, j, true);
      if (c.reserved == 0) continue;
      if (colourKey && c.blue == key.blue && c.green == key.green && c.red == key.red) continue;
      const float f = c.reserved == 255 ? factor : factor * float(c.reserved) / 255.0f;
      target.BlendPixelColor(x + i, y + j, c, f, false);
    }
  }
}

bool FileCreationTime(const std::string& path, std::time_t& when) {
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) {
      when = std::time_t(sx.stx_btime.tv_sec);
      return true;
    }
    if (sx.stx_mask & STATX_MTIME) {
      when = std::time_t(sx.stx_mtime.tv_sec);
      return true;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  when = st.st_mtime;
  return true;
}

bool FormatFileTime(std::time_t when, int form, std::string& text, const std::string* formats) {
  std::tm t{};
  if (localtime_r(&when, &t) == nullptr) return false;
  const int day = t.tm_mday, month = t.tm_mon + 1, year = t.tm_year + 1900;
  const int hour = t.tm_hour, minute = t.tm_min;
  text.clear();
  struct Form {
    const char* builtin;
    int values[5];
    int count;
  };
  const Form forms[] = {
      {"%02d.%02d.%d", {day, month, year}, 3},
      {"%02d:%02d", {hour, minute}, 2},
      {"%02d.%02d.%d  %02d:%02d", {day, month, year, hour, minute}, 5},
      {"%02d:%02d %02d.%02d.%d", {hour, minute, day, month, year}, 5},
  };
  if (form < 0 || form > 3) return true;
  const Form& f = forms[form];
  const std::string format =
      formats != nullptr && !formats[form].empty() ? formats[form] : std::string(f.builtin);
  if (!FormatInts(format, f.values, f.count, text)) FormatInts(f.builtin, f.values, f.count, text);
  return true;
}

std::string WatermarkTagText(const PropertyItemList* items, int count,
                             const WatermarkOptions& o) {
  if (!o.MetadataAvailable) return {};
  const std::string* user = nullptr;
  uint32_t tag = 0;
  switch (o.TagType) {
    case 0: user = &o.ImageAuthor; tag = kTagArtist; break;
    case 1: tag = kTagImageTitle; break;
    case 2: user = &o.ImageDescription; tag = kTagImageDescription; break;
    case 3: user = &o.ImageCopyright; tag = kTagCopyright; break;
    case 4: tag = kTagDateTime; break;
    default: return {};
  }
  if (user != nullptr && o.UseUserComment != 0 && !user->empty()) return *user;
  std::string text;
  if (!PropertyText(items, count, tag, text)) text.clear();
  return text;
}

CWatermark::CWatermark(const WatermarkOptions& options) : options_(options) {
  const WatermarkOptions& o = options_;
  if (o.Mode == 2) {
    if (o.ImagePath.empty()) {
      pictureProblem_ = o.NoPictureText;
    } else if (!picture_.Load(o.ImagePath, FORMAT_UNKNOWN)) {
      pictureProblem_ = o.ImagePath + ": " + picture_.GetLastError();
      picture_.Destroy();
    } else if (!picture_.IsTransparent() && o.UseTransparentColor != 0) {
      // The chosen colour is keyed out on true colour: on a palette
      // picture a transparent index would name a palette entry rather
      // than the colour the user picked.
      if (picture_.GetBpp() <= 8) picture_.IncreaseBpp(24);
      picture_.SetTransIndex(0);
      picture_.SetTransColor(ColourFromRef(o.TransparentColor));
    }
  } else if (o.Mode == 3) {
    textState_ = MakeText(o.Text, text_);
  }
}

CWatermark::TextState CWatermark::MakeText(const std::string& whole, CImage& overlay) const {
  const WatermarkOptions& o = options_;
  const std::string text = CutUtf8(whole, kMaxTextBytes);
  long tw = 0, th = 0;
  if (!CImage::MeasureText(text.empty() ? std::string(" ") : text, o.Font, tw, th))
    return TextState::Failed;  // the font cannot be used
  if (text.empty()) return TextState::Empty;  // a zero-width watermark: nothing to draw
  const long pad = o.Emboss != 0 ? ShadowOffsetOf(o) : 0;
  if (!MakeTextOverlay(text, o, tw + 2 * pad, th + 2 * pad, pad, overlay)) return TextState::Failed;
  return TextState::Ready;
}

void CWatermark::Blend(CImage& image, const CImage& overlay) const {
  const WatermarkOptions& o = options_;
  const float factor = FactorOf(o);
  long x = 0, y = 0;
  WatermarkCorner(o.Pos, image.GetWidth(), image.GetHeight(), overlay.GetWidth(),
                  overlay.GetHeight(), o.PosMarginHor, o.PosMarginVert, x, y);
  if (factor > 0.0f) MakeTrueColour(image);
  BlendOverlay(image, overlay, x, y, factor);
}

bool CWatermark::Render(CImage& image, const std::string& sourcePath,
                        const PropertyItemList* items, int itemCount,
                        std::string* problem) const {
  if (!image.IsValid()) return false;
  const WatermarkOptions& o = options_;
  std::string text;
  switch (o.Mode) {
    case 0:
      text = WatermarkTagText(items, itemCount, o);
      break;
    case 1: {
      std::time_t when = 0;
      if (FileCreationTime(sourcePath, when) &&
          !FormatFileTime(when, o.DateTimeType, text, o.DateFormats))
        return false;
      break;
    }
    case 2:
      if (!picture_.IsValid()) {
        if (problem) *problem = pictureProblem_;
        return false;
      }
      Blend(image, picture_);
      return true;
    case 3:
      if (textState_ == TextState::Ready) Blend(image, text_);
      return textState_ != TextState::Failed;
    default:
      return true;
  }
  CImage work;
  switch (MakeText(text, work)) {
    case TextState::Failed: return false;
    case TextState::Empty: return true;
    case TextState::Ready: break;
  }
  Blend(image, work);
  return true;
}

bool DrawWatermarkPreview(CImage& preview, const WatermarkOptions& o) {
  if (!preview.IsValid()) return false;
  const long W = preview.GetWidth(), H = preview.GetHeight();
  static const std::string kText = "Test";
  long tw = 0, th = 0;
  if (!CImage::MeasureText(kText, o.Font, tw, th)) return false;
  const long pad = ShadowOffsetOf(o);
  const long h = th + 2 * pad;
  CImage work;
  if (!MakeTextOverlay(kText, o, W, h, pad, work)) return false;

  preview.Clear(0);
  for (long i = 0; i < 256; ++i) {
    const long row = H * i / 255;
    if (row >= H) continue;
    const RGBQuad colour{uint8_t(i), 64, 64, 0};
    for (long x = 0; x < W; ++x) preview.SetPixelColor(x, row, colour);
  }
  BlendOverlay(preview, work, 0, (H - h) / 2, FactorOf(o));
  return true;
}
