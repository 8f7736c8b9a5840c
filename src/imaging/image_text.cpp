// CImage: text drawing with FreeType, fonts found through fontconfig.
//
// A LogFont becomes a fontconfig pattern (family, pixel size, weight, slant);
// the matched face is opened once per thread and kept. The text is laid
// out line by line ('\n' separates lines) into glyph coverage maps, which
// are then mixed into the image with the text colour. MeasureText and
// DrawStringEx share the layout, so the measured box is the drawn box.
//
// Box: width = the widest line, from its leftmost ink or pen origin to its
// rightmost ink or advance end (for upright text that is the advance width);
// height = lines x line height, line height = ascent + descent of the face at
// its size (the font's Windows metrics when it has them, so that a positive
// lfHeight, a cell height, gives exactly that many pixels per line).
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "imaging/image.h"

namespace {

// ---- fonts ------------------------------------------------------------------

// The program's own fontconfig configuration, loaded on first use and
// released at exit (the library's default one is never released).
class CFontConfig {
 public:
  ~CFontConfig() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (config_) FcConfigDestroy(config_);
    config_ = nullptr;
    closed_ = true;
  }
  std::mutex& Mutex() { return mutex_; }
  // Call with the mutex held.
  FcConfig* Config() {
    if (!config_ && !closed_) config_ = FcInitLoadConfigAndFonts();
    return config_;
  }

 private:
  std::mutex mutex_;
  FcConfig* config_ = nullptr;
  bool closed_ = false;
};

CFontConfig& FontConfig() {
  static CFontConfig instance;
  return instance;
}

struct FontChoice {
  std::string file;
  int index = 0;
  bool embolden = false;  // bold asked for, the face has none
  bool oblique = false;   // italic asked for, the face is upright
};

bool MatchFont(const LogFont& lf, FontChoice& choice, std::string& error) {
  std::lock_guard<std::mutex> lock(FontConfig().Mutex());
  FcConfig* config = FontConfig().Config();
  if (!config) {
    error = "fontconfig cannot load its configuration";
    return false;
  }
  std::string family(lf.lfFaceName, strnlen(lf.lfFaceName, sizeof lf.lfFaceName));
  if (family.empty()) family = "sans-serif";
  FcPattern* pat = FcPatternCreate();
  if (!pat) {
    error = "fontconfig: out of memory";
    return false;
  }
  const int weight = lf.lfWeight <= 0 ? 400 : std::clamp(int(lf.lfWeight), 1, 1000);
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pat, FC_SLANT, lf.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pat, &result);
  FcPatternDestroy(pat);
  if (!match) {
    error = "no font matches \"" + family + "\"";
    return false;
  }
  FcChar8* file = nullptr;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
  if (ok) {
    choice.file = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) choice.index = index;
    FcBool embolden = FcFalse;
    if (FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden) == FcResultMatch)
      choice.embolden = embolden;
    int slant = FC_SLANT_ROMAN;
    if (lf.lfItalic && FcPatternGetInteger(match, FC_SLANT, 0, &slant) == FcResultMatch)
      choice.oblique = slant == FC_SLANT_ROMAN;
  } else {
    error = "the font for \"" + family + "\" has no file";
  }
  FcPatternDestroy(match);
  return ok;
}

// FreeType objects of one thread: a library and the faces opened so far.
class CFontCache {
 public:
  ~CFontCache() {
    for (auto& [key, face] : faces_)
      if (face) FT_Done_Face(face);
    if (library_) FT_Done_FreeType(library_);
  }

  // The face and synthesis flags for a logical font.
  bool Get(const LogFont& lf, FT_Face& face, FontChoice& choice, std::string& error) {
    if (!library_ && FT_Init_FreeType(&library_) != 0) {
      library_ = nullptr;
      error = "FreeType cannot start";
      return false;
    }
    std::string family(lf.lfFaceName, strnlen(lf.lfFaceName, sizeof lf.lfFaceName));
    std::string key =
        family + '\n' + std::to_string(lf.lfWeight) + '\n' + std::to_string(lf.lfItalic ? 1 : 0);
    auto it = choices_.find(key);
    if (it == choices_.end()) {
      FontChoice c;
      if (!MatchFont(lf, c, error)) return false;
      it = choices_.emplace(key, c).first;
    }
    choice = it->second;
    std::string faceKey = choice.file + '\n' + std::to_string(choice.index);
    auto f = faces_.find(faceKey);
    if (f == faces_.end()) {
      FT_Face opened = nullptr;
      if (FT_New_Face(library_, choice.file.c_str(), choice.index, &opened) != 0) {
        error = "FreeType cannot open " + choice.file;
        return false;
      }
      f = faces_.emplace(faceKey, opened).first;
    }
    face = f->second;
    return true;
  }

 private:
  FT_Library library_ = nullptr;
  std::map<std::string, FontChoice> choices_;
  std::map<std::string, FT_Face> faces_;
};

CFontCache& ThreadFonts() {
  thread_local CFontCache cache;
  return cache;
}

// ---- text -------------------------------------------------------------------

// Code points of UTF-8 text; malformed sequences become U+FFFD.
std::vector<char32_t> DecodeUtf8(const std::string& s) {
  std::vector<char32_t> out;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int extra;
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool good = i + size_t(extra) < n;  // a sequence cut off by the end is malformed
    for (int k = 1; good && k <= extra; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + size_t(k)]);
      if ((cc & 0xC0) != 0x80) {
        good = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (!good || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += size_t(extra) + 1;
  }
  return out;
}

// A glyph placed on its line: which glyph, and where its pen origin is.
struct Glyph {
  FT_UInt index = 0;
  int origin = 0;                              // pixels from the line's pen origin
  int left = 0, top = 0, width = 0, rows = 0;  // ink, relative to the origin and baseline
};

struct Line {
  std::vector<Glyph> glyphs;
  int advance = 0;   // pixels from the pen origin to the end of the advance
  int inkLeft = 0;   // leftmost of 0 and the ink
  int inkRight = 0;  // rightmost of the advance and the ink
  int Width() const { return inkRight - inkLeft; }
};

struct Layout {
  FT_Face face = nullptr;  // sized; valid on this thread until the next layout
  FontChoice choice;
  bool smooth = true;
  std::vector<Line> lines;
  int ascent = 0;
  int lineHeight = 0;
  int width = 0;
  int underlinePos = 0;  // rows below the baseline (top of the line)
  int underlineThickness = 1;
  int strikePos = 0;  // rows above the baseline (top of the line)
  int strikeThickness = 1;
};

inline int RoundPix(FT_Pos v) { return int((v + 32) >> 6); }

bool SetSize(FT_Face face, const LogFont& lf, std::string& error) {
  long height = lf.lfHeight == 0 ? 13 : std::labs(long(lf.lfHeight));
  height = std::min(height, 4000L);
  if (FT_IS_SCALABLE(face)) {
    double em = double(height);
    if (lf.lfHeight > 0) {
      // A cell height: ascent + descent take the given pixels.
      const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
      double cell = (os2 && os2->usWinAscent + os2->usWinDescent > 0)
                        ? double(os2->usWinAscent + os2->usWinDescent)
                        : double(face->ascender - face->descender);
      if (cell > 0) em = double(height) * face->units_per_EM / cell;
    }
    FT_F26Dot6 size = FT_F26Dot6(std::lround(em * 64.0));
    if (FT_Set_Char_Size(face, 0, std::max<FT_F26Dot6>(size, 64), 72, 72) != 0) {
      error = "the font cannot be scaled";
      return false;
    }
    return true;
  }
  // Bitmap fonts: the strike nearest to the height.
  if (face->num_fixed_sizes <= 0) {
    error = "the font has no sizes";
    return false;
  }
  int best = 0;
  for (int i = 1; i < face->num_fixed_sizes; ++i)
    if (std::labs(face->available_sizes[i].height - height) <
        std::labs(face->available_sizes[best].height - height))
      best = i;
  if (FT_Select_Size(face, best) != 0) {
    error = "the font size cannot be chosen";
    return false;
  }
  return true;
}

void FaceMetrics(FT_Face face, Layout& layout) {
  if (FT_IS_SCALABLE(face)) {
    const FT_Fixed ys = face->size->metrics.y_scale;
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    FT_Pos asc, desc;  // 26.6, descent positive
    if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
      asc = FT_MulFix(os2->usWinAscent, ys);
      desc = FT_MulFix(os2->usWinDescent, ys);
    } else {
      asc = FT_MulFix(face->ascender, ys);
      desc = -FT_MulFix(face->descender, ys);
    }
    layout.ascent = RoundPix(asc);
    layout.lineHeight = std::max(1, RoundPix(asc + desc));
    int thick = RoundPix(FT_MulFix(face->underline_thickness, ys));
    layout.underlineThickness = std::max(1, thick);
    layout.underlinePos = std::max(1, RoundPix(-FT_MulFix(face->underline_position, ys)));
    if (os2 && os2->yStrikeoutSize > 0) {
      layout.strikePos = RoundPix(FT_MulFix(os2->yStrikeoutPosition, ys));
      layout.strikeThickness = std::max(1, RoundPix(FT_MulFix(os2->yStrikeoutSize, ys)));
    } else {
      layout.strikePos = layout.ascent * 3 / 10;
      layout.strikeThickness = layout.underlineThickness;
    }
  } else {
    layout.ascent = RoundPix(face->size->metrics.ascender);
    layout.lineHeight = std::max(1, RoundPix(face->size->metrics.height));
    layout.underlinePos = 1;
    layout.underlineThickness = 1;
    layout.strikePos = layout.ascent * 3 / 10;
    layout.strikeThickness = 1;
  }
  // Keep the decorations inside the line.
  const int descent = layout.lineHeight - layout.ascent;
  layout.underlinePos = std::clamp(layout.underlinePos, 0, std::max(0, descent - 1));
  layout.underlineThickness =
      std::clamp(layout.underlineThickness, 1, std::max(1, descent - layout.underlinePos));
}

// Loads and renders one glyph into the face's slot; nullptr when it has no
// usable bitmap (spaces, unsupported formats).
// advance receives the glyph's advance (26.6), 0 when it cannot be loaded.
FT_GlyphSlot RenderGlyph(const Layout& layout, FT_UInt index, FT_Pos* advance = nullptr) {
  const FT_Int32 loadFlags =
      FT_LOAD_DEFAULT | (layout.smooth ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
  if (advance) *advance = 0;
  if (FT_Load_Glyph(layout.face, index, loadFlags) != 0) return nullptr;
  FT_GlyphSlot slot = layout.face->glyph;
  if (layout.choice.oblique) FT_GlyphSlot_Oblique(slot);
  if (layout.choice.embolden) FT_GlyphSlot_Embolden(slot);
  if (advance) *advance = slot->advance.x;
  if (FT_Render_Glyph(slot, layout.smooth ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0)
    return nullptr;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.width == 0 || bm.rows == 0 || bm.pitch <= 0 ||
      (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO))
    return nullptr;
  return slot;
}

// Coverage 0..255 of pixel (c, r) of a rendered glyph bitmap.
inline unsigned Coverage(const FT_Bitmap& bm, unsigned c, unsigned r) {
  const uint8_t* row = bm.buffer + size_t(r) * size_t(bm.pitch);
  if (bm.pixel_mode == FT_PIXEL_MODE_MONO) return (row[c >> 3] & (0x80 >> (c & 7))) ? 255 : 0;
  const unsigned greys = bm.num_grays > 1 ? bm.num_grays - 1u : 255u;
  return greys == 255 ? row[c] : row[c] * 255u / greys;
}

// Places the glyphs of every line and finds the box. The glyphs are
// rendered to learn their exact ink extents; drawing renders them again,
// so no more than one glyph bitmap exists at a time.
bool BuildLayout(const std::string& text, const LogFont& lf, bool smooth, Layout& layout,
                 std::string& error) {
  if (!ThreadFonts().Get(lf, layout.face, layout.choice, error)) return false;
  if (!SetSize(layout.face, lf, error)) return false;
  layout.smooth = smooth;
  FaceMetrics(layout.face, layout);
  FT_Face face = layout.face;

  // At most 4095 bytes, cut at a character boundary.
  size_t cut = std::min<size_t>(text.size(), 4095);
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  std::vector<char32_t> cps = DecodeUtf8(text.substr(0, cut));
  const bool kerning = FT_HAS_KERNING(face);

  struct Seen {
    bool ink = false;
    int left = 0, top = 0, width = 0, rows = 0;
    FT_Pos advance = 0;
  };
  std::unordered_map<FT_UInt, Seen> seen;
  layout.lines.emplace_back();
  FT_Pos pen = 0;
  FT_UInt previous = 0;
  auto finishLine = [&](Line& line) {
    line.advance = RoundPix(pen);
    line.inkRight = std::max(line.inkRight, line.advance);
  };
  for (char32_t cp : cps) {
    if (cp == '\r') continue;
    if (cp == '\n') {
      finishLine(layout.lines.back());
      layout.lines.emplace_back();
      pen = 0;
      previous = 0;
      continue;
    }
    Line& line = layout.lines.back();
    FT_UInt index = FT_Get_Char_Index(face, FT_ULong(cp));
    if (kerning && previous && index) {
      FT_Vector delta{};
      if (FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &delta) == 0) pen += delta.x;
    }
    previous = index;
    // Each distinct glyph is rendered once here.
    auto known = seen.find(index);
    if (known == seen.end()) {
      Seen info;
      if (FT_GlyphSlot slot = RenderGlyph(layout, index, &info.advance)) {
        info.ink = true;
        info.left = slot->bitmap_left;
        info.top = slot->bitmap_top;
        info.width = int(slot->bitmap.width);
        info.rows = int(slot->bitmap.rows);
      }
      known = seen.emplace(index, info).first;
    }
    const Seen& info = known->second;
    if (info.ink) {
      Glyph g{index, RoundPix(pen), info.left, info.top, info.width, info.rows};
      line.inkLeft = std::min(line.inkLeft, g.origin + g.left);
      line.inkRight = std::max(line.inkRight, g.origin + g.left + g.width);
      line.glyphs.push_back(g);
    }
    pen += info.advance;
  }
  finishLine(layout.lines.back());
  layout.width = 0;
  for (const Line& line : layout.lines) layout.width = std::max(layout.width, line.Width());
  return true;
}

// Mixes one pixel (x from the left, yt from the top) with colour c at
// coverage a (0..255).
void MixPixel(CImage& img, long x, long yt, RGBQuad c, unsigned a) {
  if (a == 0 || x < 0 || yt < 0 || x >= img.GetWidth() || yt >= img.GetHeight()) return;
  const long y = img.GetHeight() - 1 - yt;
  if (img.GetBpp() == 24) {
    uint8_t* p = img.GetBits(int(y)) + size_t(x) * 3;
    if (a >= 255) {
      p[0] = c.blue;
      p[1] = c.green;
      p[2] = c.red;
    } else {
      p[0] = uint8_t(p[0] + (int(c.blue) - p[0]) * int(a) / 255);
      p[1] = uint8_t(p[1] + (int(c.green) - p[1]) * int(a) / 255);
      p[2] = uint8_t(p[2] + (int(c.red) - p[2]) * int(a) / 255);
    }
  } else {
    img.BlendPixelColor(x, y, c, float(a) / 255.0f);
  }
  if (uint8_t* al = img.AlphaGetPointer(int(x), int(y))) *al = uint8_t(*al + (255 - *al) * a / 255);
}

void FillRect(CImage& img, long x0, long yt0, long x1, long yt1, RGBQuad c, unsigned a) {
  x0 = std::max(x0, 0L);
  yt0 = std::max(yt0, 0L);
  x1 = std::min(x1, long(img.GetWidth()));
  yt1 = std::min(yt1, long(img.GetHeight()));
  for (long yt = yt0; yt < yt1; ++yt)
    for (long x = x0; x < x1; ++x) MixPixel(img, x, yt, c, a);
}

RGBQuad ColourOf(uint32_t colorref) {
  return RGBQuad{uint8_t(colorref >> 16), uint8_t(colorref >> 8), uint8_t(colorref), 255};
}

}  // namespace

void CImage::InitTextInfo(TextInfo& info) { info = TextInfo{}; }

bool CImage::MeasureText(const std::string& text, const LogFont& font, long& width, long& height,
                         std::string* error) {
  Layout layout;
  std::string why;
  if (!BuildLayout(text, font, true, layout, why)) {
    if (error) *error = why;
    width = height = 0;
    return false;
  }
  width = layout.width;
  height = long(layout.lineHeight) * long(layout.lines.size());
  return true;
}

bool CImage::DrawStringEx(long x, long y, const TextInfo& info) {
  if (!IsValid()) {
    SetLastError("DrawStringEx: the image is empty");
    return false;
  }
  Layout layout;
  std::string why;
  if (!BuildLayout(info.text, info.lfont, info.smooth != 0, layout, why)) {
    SetLastError("DrawStringEx: " + why);
    return false;
  }
  const long boxW = layout.width;
  const long boxH = long(layout.lineHeight) * long(layout.lines.size());
  // (x, y): centre of the box's width, bottom edge of the box, y downwards.
  const long boxLeft = x - boxW / 2;
  const long boxTop = y - boxH;
  const RGBQuad fg = ColourOf(info.fcolor);

  if (info.opaque) {
    const RGBQuad bg = ColourOf(info.bcolor);
    const unsigned a = unsigned(std::lround(std::clamp(double(info.b_opacity), 0.0, 1.0) * 255));
    const long radius = std::min({boxH * long(info.b_round) / 100, boxW / 2, boxH / 2});
    const long outline = info.b_outline;
    // Box pixels that fall on the image.
    const long y0 = std::max(0L, -boxTop), y1 = std::min(boxH, long(height_) - boxTop);
    const long x0 = std::max(0L, -boxLeft), x1 = std::min(boxW, long(width_) - boxLeft);
    for (long yt = y0; yt < y1; ++yt) {
      for (long xx = x0; xx < x1; ++xx) {
        // Rounded corners: skip pixels outside the corner circles.
        long cx = xx < radius ? radius - xx : (xx >= boxW - radius ? xx - (boxW - 1 - radius) : 0);
        long cy = yt < radius ? radius - yt : (yt >= boxH - radius ? yt - (boxH - 1 - radius) : 0);
        if (radius > 0 && cx > 0 && cy > 0 && cx * cx + cy * cy > radius * radius) continue;
        bool edge = outline > 0 &&
                    (xx < outline || yt < outline || xx >= boxW - outline || yt >= boxH - outline);
        if (edge)
          MixPixel(*this, boxLeft + xx, boxTop + yt, fg, 255);
        else
          MixPixel(*this, boxLeft + xx, boxTop + yt, bg, a);
      }
    }
  }

  for (size_t i = 0; i < layout.lines.size(); ++i) {
    const Line& line = layout.lines[i];
    long start = boxLeft;
    if (info.align == 1)
      start += (boxW - line.Width()) / 2;
    else if (info.align == 2)
      start += boxW - line.Width();
    const long origin = start - line.inkLeft;  // pen origin of the line
    const long lineTop = boxTop + long(i) * layout.lineHeight;
    const long baseline = lineTop + layout.ascent;
    for (const Glyph& g : line.glyphs) {
      // Glyphs off the image are not rendered at all.
      if (origin + g.origin + g.left >= width_ || origin + g.origin + g.left + g.width <= 0 ||
          baseline - g.top >= height_ || baseline - g.top + g.rows <= 0)
        continue;
      FT_GlyphSlot slot = RenderGlyph(layout, g.index);
      if (!slot) continue;
      const FT_Bitmap& bm = slot->bitmap;
      const long gx = origin + g.origin + slot->bitmap_left;
      const long gy = baseline - slot->bitmap_top;
      // Only the part of the glyph that falls on the image.
      const long c0 = std::max(0L, -gx), c1 = std::min(long(bm.width), long(width_) - gx);
      const long r0 = std::max(0L, -gy), r1 = std::min(long(bm.rows), long(height_) - gy);
      for (long r = r0; r < r1; ++r)
        for (long c = c0; c < c1; ++c)
          MixPixel(*this, gx + c, gy + r, fg, Coverage(bm, unsigned(c), unsigned(r)));
    }
    if (info.lfont.lfUnderline) {
      long top = baseline + layout.underlinePos;
      FillRect(*this, origin, top, origin + line.advance, top + layout.underlineThickness, fg, 255);
    }
    if (info.lfont.lfStrikeOut) {
      long top = baseline - layout.strikePos;
      FillRect(*this, origin, top, origin + line.advance, top + layout.strikeThickness, fg, 255);
    }
  }
  dib_.clear();
  return true;
}
