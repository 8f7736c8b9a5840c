// Windows metafiles (WMF, placeable or not) and enhanced metafiles (EMF),
// both rendered to a 24-bit picture on white at their natural size. Neither
// can be written: the codec has no encoder, so saving fails with the image
// class's "writing is not supported".
//
// WMF goes through libwmf: its player reads the records and keeps the device
// context, and this file is its device layer, drawing what the player asks
// for with the rasteriser of raster2d.h. (libwmf's own gd device leaves
// ellipses unfilled, so it is not used.) libwmf hands over coordinates in
// points; a placeable file's frame is its bounding box at 96 pixels per inch
// with the window origin at pixel (0, 0), other files are sized by the
// drawing's extent as libwmf measures it. libwmf needs font files for its
// text metrics: the 13 standard PostScript names are mapped to the metric-
// compatible faces fontconfig finds (Liberation Serif, Sans and Mono).
//
// EMF goes through the program's own player (emf.cpp).
#include <fontconfig/fontconfig.h>
#include <libwmf/api.h>
#include <libwmf/defs.h>
#include <libwmf/ipa.h>
#include <libwmf/macro.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"
#include "imaging/codecs/emf.h"
#include "imaging/codecs/raster2d.h"

namespace {

using byte_order::GetLe16;
using byte_order::GetLe32;

using raster2d::Paint;
using raster2d::PointF;
using raster2d::Polygon;
using raster2d::Rgb;

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;


bool IsWmf(const uint8_t* d, size_t n) {
  if (n >= 22 && GetLe32(d) == kPlaceableKey) return true;
  // A plain header: type 1 (memory) or 2 (disk), 9 words, version 1 or 3.
  return n >= 18 && (GetLe16(d) == 1 || GetLe16(d) == 2) && GetLe16(d + 2) == 9 &&
         (GetLe16(d + 4) == 0x0100 || GetLe16(d + 4) == 0x0300);
}

bool Sniff(const uint8_t* d, size_t n) { return IsWmf(d, n) || metafile::IsEmf(d, n); }

// ---- fonts for libwmf -----------------------------------------------------------

struct FontTable {
  std::vector<std::string> names, files, dirs;
  std::vector<wmfMapping> mappings;  // {0} terminated
  std::vector<char*> dirList;        // nullptr terminated
};

// The font files once per process: fontconfig's answer does not change.
const FontTable& Fonts() {
  static FontTable table;
  static std::once_flag once;
  std::call_once(once, [] {
    static const char* const kNames[13][2] = {
        {"Times-Roman", "Liberation Serif"},
        {"Times-Italic", "Liberation Serif:italic"},
        {"Times-Bold", "Liberation Serif:bold"},
        {"Times-BoldItalic", "Liberation Serif:bold:italic"},
        {"Helvetica", "Liberation Sans"},
        {"Helvetica-Oblique", "Liberation Sans:italic"},
        {"Helvetica-Bold", "Liberation Sans:bold"},
        {"Helvetica-BoldOblique", "Liberation Sans:bold:italic"},
        {"Courier", "Liberation Mono"},
        {"Courier-Oblique", "Liberation Mono:italic"},
        {"Courier-Bold", "Liberation Mono:bold"},
        {"Courier-BoldOblique", "Liberation Mono:bold:italic"},
        {"Symbol", "DejaVu Sans"},
    };
    // A configuration of our own, released afterwards (the library's
    // implicit one would stay for the life of the process).
    FcConfig* config = FcInitLoadConfigAndFonts();
    for (const auto& entry : kNames) {
      if (!config) break;
      FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(entry[1]));
      if (!pattern) continue;
      FcConfigSubstitute(config, pattern, FcMatchPattern);
      FcDefaultSubstitute(pattern);
      FcResult result;
      FcPattern* match = FcFontMatch(config, pattern, &result);
      FcPatternDestroy(pattern);
      if (!match) continue;
      FcChar8* file = nullptr;
      if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
        std::string path = reinterpret_cast<const char*>(file);
        size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
          table.names.push_back(entry[0]);
          table.files.push_back(path.substr(slash + 1));
          std::string dir = path.substr(0, slash);
          if (std::find(table.dirs.begin(), table.dirs.end(), dir) == table.dirs.end()) table.dirs.push_back(dir);
        }
      }
      FcPatternDestroy(match);
    }
    if (config) FcConfigDestroy(config);
    for (size_t i = 0; i < table.names.size(); ++i)
      table.mappings.push_back({const_cast<char*>(table.names[i].c_str()), const_cast<char*>(table.files[i].c_str()),
                                FT_ENCODING_NONE});
    table.mappings.push_back({nullptr, nullptr, FT_ENCODING_NONE});
    for (const std::string& d : table.dirs) table.dirList.push_back(const_cast<char*>(d.c_str()));
    table.dirList.push_back(nullptr);
  });
  return table;
}

// ---- the device layer -----------------------------------------------------------

struct Device {
  CImage* image = nullptr;
  raster2d::Canvas* canvas = nullptr;
  double originX = 0, originY = 0;  // points at pixel (0, 0)
  double scaleX = 1, scaleY = 1;    // pixels per point
  bool ready = false;               // drawing only happens while playing

  PointF Map(wmfD_Coord p) const { return {(p.x - originX) * scaleX, (p.y - originY) * scaleY}; }
  double Scale() const { return std::sqrt(std::fabs(scaleX * scaleY)); }
};

Device& Dev(wmfAPI* api) { return *static_cast<Device*>(api->user_data); }

Rgb ToRgb(const wmfRGB* c) { return Rgb{c->r, c->g, c->b}; }

Paint BrushPaint(wmfAPI* api, wmfDC* dc) {
  Paint p;
  wmfBrush* brush = WMF_DC_BRUSH(dc);
  p.colour = ToRgb(WMF_BRUSH_COLOR(brush));
  switch (WMF_BRUSH_STYLE(brush)) {
    case BS_HATCHED:
      p.kind = Paint::kHatch;
      p.hatch = std::min<int>(WMF_BRUSH_HATCH(brush), 5);
      p.opaqueBackground = dc->bgmode == OPAQUE;
      p.background = ToRgb(WMF_DC_BACKGROUND(dc));
      break;
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT: {
      wmfBMP* bmp = WMF_BRUSH_BITMAP(brush);
      if (bmp->data && bmp->width > 0 && bmp->height > 0 && bmp->width <= 256 && bmp->height <= 256) {
        p.kind = Paint::kPattern;
        p.patternWidth = bmp->width;
        p.patternHeight = bmp->height;
        p.pattern.resize(size_t(bmp->width) * bmp->height);
        for (unsigned y = 0; y < bmp->height; ++y)
          for (unsigned x = 0; x < bmp->width; ++x) {
            wmfRGB c{};
            wmf_ipa_bmp_color(api, bmp, &c, x, bmp->height - 1 - y);
            p.pattern[size_t(y) * bmp->width + x] = Rgb{c.r, c.g, c.b};
          }
      }
      break;
    }
    default:
      break;
  }
  return p;
}

double PenWidth(wmfAPI* api, wmfDC* dc) {
  double w = WMF_PEN_WIDTH(WMF_DC_PEN(dc)) * Dev(api).Scale();
  return w < 1.5 ? 0 : w;
}

// Fills and outlines closed shapes given in pixels.
void DrawShapes(wmfAPI* api, wmfDC* dc, const std::vector<Polygon>& shapes, bool closed, bool fill) {
  Device& d = Dev(api);
  if (!d.ready) return;
  if (fill && WMF_BRUSH_STYLE(WMF_DC_BRUSH(dc)) != BS_NULL)
    d.canvas->FillPolygons(shapes, dc->polyfillmode == WINDING, BrushPaint(api, dc));
  if ((WMF_PEN_STYLE(WMF_DC_PEN(dc))) != PS_NULL) {
    double width = PenWidth(api, dc);
    Rgb colour = ToRgb(WMF_PEN_COLOR(WMF_DC_PEN(dc)));
    for (const Polygon& p : shapes) d.canvas->Stroke(p, closed, width, colour);
  }
}

Polygon Ellipse(const Device& d, wmfD_Coord tl, wmfD_Coord br, double start, double sweep) {
  PointF a = d.Map(tl), b = d.Map(br);
  return raster2d::EllipseArc((a.x + b.x) / 2, (a.y + b.y) / 2, (b.x - a.x) / 2, (b.y - a.y) / 2, start, sweep);
}

void NoOp(wmfAPI*) {}

void Begin(wmfAPI* api) {
  Device& d = Dev(api);
  d.ready = d.canvas != nullptr;
}

void End(wmfAPI* api) { Dev(api).ready = false; }

void Flood(wmfAPI*, wmfFlood_t*) {}

void Pixel(wmfAPI* api, wmfDrawPixel_t* p) {
  Device& d = Dev(api);
  if (!d.ready) return;
  PointF at = d.Map(p->pt);
  d.canvas->SetPixel(raster2d::PixelOf(at.x), raster2d::PixelOf(at.y), ToRgb(&p->color));
}

enum class ArcKind { kOpen, kChord, kPie, kEllipse };

void ArcShape(wmfAPI* api, wmfDrawArc_t* a, ArcKind kind) {
  Device& d = Dev(api);
  if (!d.ready) return;
  double rx = (a->BR.x - a->TL.x) / 2, ry = (a->BR.y - a->TL.y) / 2;
  double start = 0, sweep = 2 * kPi;
  if (kind != ArcKind::kEllipse && rx != 0 && ry != 0) {
    // start and end are points on the ellipse relative to its centre.
    start = std::atan2(-a->start.y / ry, a->start.x / rx);
    double end = std::atan2(-a->end.y / ry, a->end.x / rx);
    sweep = end - start;
    while (sweep <= 0) sweep += 2 * kPi;
  }
  Polygon p = Ellipse(d, a->TL, a->BR, start, sweep);
  if (p.empty()) return;
  switch (kind) {
    case ArcKind::kOpen:
      if (WMF_PEN_STYLE(WMF_DC_PEN(a->dc)) != PS_NULL)
        d.canvas->Stroke(p, false, PenWidth(api, a->dc), ToRgb(WMF_PEN_COLOR(WMF_DC_PEN(a->dc))));
      return;
    case ArcKind::kPie: {
      PointF c = d.Map({(a->TL.x + a->BR.x) / 2, (a->TL.y + a->BR.y) / 2});
      p.push_back(c);
      break;
    }
    default:
      break;
  }
  DrawShapes(api, a->dc, {p}, true, true);
}

void Pie(wmfAPI* api, wmfDrawArc_t* a) { ArcShape(api, a, ArcKind::kPie); }
void Chord(wmfAPI* api, wmfDrawArc_t* a) { ArcShape(api, a, ArcKind::kChord); }
void OpenArc(wmfAPI* api, wmfDrawArc_t* a) { ArcShape(api, a, ArcKind::kOpen); }
void EllipseShape(wmfAPI* api, wmfDrawArc_t* a) { ArcShape(api, a, ArcKind::kEllipse); }

void Line(wmfAPI* api, wmfDrawLine_t* l) {
  Device& d = Dev(api);
  if (!d.ready || WMF_PEN_STYLE(WMF_DC_PEN(l->dc)) == PS_NULL) return;
  d.canvas->Stroke({d.Map(l->from), d.Map(l->to)}, false, PenWidth(api, l->dc), ToRgb(WMF_PEN_COLOR(WMF_DC_PEN(l->dc))));
}

Polygon Points(const Device& d, const wmfD_Coord* pts, unsigned count) {
  Polygon out;
  out.reserve(count);
  for (unsigned i = 0; i < count; ++i) out.push_back(d.Map(pts[i]));
  return out;
}

void PolyLine(wmfAPI* api, wmfPolyLine_t* p) {
  Device& d = Dev(api);
  if (!d.ready || p->count < 2 || WMF_PEN_STYLE(WMF_DC_PEN(p->dc)) == PS_NULL) return;
  d.canvas->Stroke(Points(d, p->pt, p->count), false, PenWidth(api, p->dc), ToRgb(WMF_PEN_COLOR(WMF_DC_PEN(p->dc))));
}

void PolygonShape(wmfAPI* api, wmfPolyLine_t* p) {
  Device& d = Dev(api);
  if (!d.ready || p->count < 2) return;
  DrawShapes(api, p->dc, {Points(d, p->pt, p->count)}, true, true);
}

void PolyPolygon(wmfAPI* api, wmfPolyPoly_t* p) {
  Device& d = Dev(api);
  if (!d.ready) return;
  std::vector<Polygon> shapes;
  for (unsigned i = 0; i < p->npoly; ++i)
    if (p->pt[i] && p->count[i] >= 2) shapes.push_back(Points(d, p->pt[i], p->count[i]));
  DrawShapes(api, p->dc, shapes, true, true);
}

void Rectangle(wmfAPI* api, wmfDrawRectangle_t* r) {
  Device& d = Dev(api);
  if (!d.ready) return;
  PointF a = d.Map(r->TL), b = d.Map(r->BR);
  if (r->width > 0 && r->height > 0) {
    // Rounded corners: quarter ellipses of the given axes.
    double ew = std::min<double>(r->width * d.scaleX / 2, std::fabs(b.x - a.x) / 2);
    double eh = std::min<double>(r->height * d.scaleY / 2, std::fabs(b.y - a.y) / 2);
    Polygon p;
    const PointF centres[4] = {{b.x - ew, a.y + eh}, {a.x + ew, a.y + eh}, {a.x + ew, b.y - eh}, {b.x - ew, b.y - eh}};
    for (int i = 0; i < 4; ++i) {
      Polygon c = raster2d::EllipseArc(centres[i].x, centres[i].y, ew, eh, i * kPi / 2, kPi / 2);
      p.insert(p.end(), c.begin(), c.end());
    }
    DrawShapes(api, r->dc, {p}, true, true);
    return;
  }
  Polygon fill{a, {b.x, a.y}, b, {a.x, b.y}};
  if (WMF_BRUSH_STYLE(WMF_DC_BRUSH(r->dc)) != BS_NULL)
    d.canvas->FillPolygons({fill}, false, BrushPaint(api, r->dc));
  if (WMF_PEN_STYLE(WMF_DC_PEN(r->dc)) != PS_NULL) {
    double width = PenWidth(api, r->dc);
    // A thin outline runs along the outermost pixels of the filled area.
    double in = width == 0 ? 1 : 0;
    d.canvas->Stroke({a, {b.x - in, a.y}, {b.x - in, b.y - in}, {a.x, b.y - in}}, true, width,
                     ToRgb(WMF_PEN_COLOR(WMF_DC_PEN(r->dc))));
  }
}

void RopDraw(wmfAPI* api, wmfROP_Draw_t* r) {
  Device& d = Dev(api);
  if (!d.ready) return;
  Paint paint;
  switch (r->ROP) {
    case 0x00000042: paint.colour = Rgb{0, 0, 0}; break;        // BLACKNESS
    case 0x00FF0062: paint.colour = Rgb{255, 255, 255}; break;  // WHITENESS
    case 0x00F00021:                                            // PATCOPY
      if (WMF_BRUSH_STYLE(WMF_DC_BRUSH(r->dc)) == BS_NULL) return;
      paint = BrushPaint(api, r->dc);
      break;
    default:
      return;
  }
  PointF a = d.Map(r->TL), b = d.Map(r->BR);
  d.canvas->FillPolygons({{a, {b.x, a.y}, b, {a.x, b.y}}}, false, paint);
}

void BmpRead(wmfAPI* api, wmfBMP_Read_t* r) {
  // libwmf's own reader; refuse pictures above the pixel limit first.
  if (r->width && r->height && uint64_t(r->width) * r->height > CImage::GetPixelLimit()) return;
  wmf_ipa_bmp_read(api, r);
}

void BmpFree(wmfAPI* api, wmfBMP* b) { wmf_ipa_bmp_free(api, b); }

void BmpDraw(wmfAPI* api, wmfBMP_Draw_t* b) {
  Device& d = Dev(api);
  if (!d.ready || !b->bmp.data) return;
  unsigned cx = b->crop.x, cy = b->crop.y, cw = b->crop.w, ch = b->crop.h;
  if (cx >= b->bmp.width || cy >= b->bmp.height || cw == 0 || ch == 0) return;
  cw = std::min<unsigned>(cw, b->bmp.width - cx);
  ch = std::min<unsigned>(ch, b->bmp.height - cy);
  std::vector<Rgb> pixels(size_t(cw) * ch);
  // libwmf's bitmaps count rows from the bottom.
  for (unsigned y = 0; y < ch; ++y)
    for (unsigned x = 0; x < cw; ++x) {
      wmfRGB c{};
      wmf_ipa_bmp_color(api, &b->bmp, &c, cx + x, cy + ch - 1 - y);
      pixels[size_t(y) * cw + x] = Rgb{c.r, c.g, c.b};
    }
  PointF at = d.Map(b->pt);
  double w = cw * b->pixel_width * d.scaleX, h = ch * b->pixel_height * d.scaleY;
  d.canvas->Blit(pixels, int(cw), int(ch), at.x, at.y, w, h);
}

void Text(wmfAPI* api, wmfDrawText_t* t) {
  Device& d = Dev(api);
  if (!d.ready || !t->str || !t->str[0] || d.canvas->Exhausted()) return;
  wmfFont* font = WMF_DC_FONT(t->dc);
  std::string text = metafile::AnsiToUtf8(reinterpret_cast<const uint8_t*>(t->str), std::strlen(t->str),
                                          font ? font->lfCharSet : 0);
  double height = t->font_height * d.Scale();
  if (!(height >= 1 && height <= 4096)) return;
  if (!d.canvas->Charge(uint64_t(text.size()) * uint64_t(height) * uint64_t(height))) return;
  LogFont lf;
  lf.lfHeight = -int32_t(std::lround(height));
  lf.lfWeight = font ? font->lfWeight : 400;
  lf.lfItalic = font ? font->lfItalic : 0;
  if (font && font->lfFaceName) {
    std::strncpy(lf.lfFaceName, font->lfFaceName, sizeof lf.lfFaceName - 1);
    lf.lfFaceName[sizeof lf.lfFaceName - 1] = 0;
  }
  long w = 0, h = 0;
  if (!CImage::MeasureText(text, lf, w, h) || w <= 0 || h <= 0) return;
  // The player gives the start of the base line; the descent is about a
  // fifth of the line.
  PointF at = d.Map(t->pt);
  if (!(std::fabs(at.x) < 1e9 && std::fabs(at.y) < 1e9)) return;
  TextInfo info;
  CImage::InitTextInfo(info);
  info.text = text;
  info.lfont = lf;
  const wmfRGB* c = WMF_DC_TEXTCOLOR(t->dc);
  info.fcolor = uint32_t(c->r) | uint32_t(c->g) << 8 | uint32_t(c->b) << 16;
  info.align = 0;
  double top = at.y - h * 0.8;
  d.image->DrawStringEx(long(std::lround(at.x + w / 2.0)), long(std::lround(top + h)), info);
}

void UserData(wmfAPI*, wmfUserData_t*) {}

void RegionFrame(wmfAPI* api, wmfPolyRectangle_t* r) {
  Device& d = Dev(api);
  if (!d.ready || !r->TL || !r->BR) return;
  Rgb colour = ToRgb(WMF_BRUSH_COLOR(WMF_DC_BRUSH(r->dc)));
  double width = std::max(1.0, r->width * d.scaleX);
  for (unsigned i = 0; i < r->count; ++i) {
    PointF a = d.Map(r->TL[i]), b = d.Map(r->BR[i]);
    d.canvas->Stroke({a, {b.x, a.y}, b, {a.x, b.y}}, true, width, colour);
  }
}

void RegionPaint(wmfAPI* api, wmfPolyRectangle_t* r) {
  Device& d = Dev(api);
  if (!d.ready || !r->TL || !r->BR || WMF_BRUSH_STYLE(WMF_DC_BRUSH(r->dc)) == BS_NULL) return;
  std::vector<Polygon> rects;
  for (unsigned i = 0; i < r->count; ++i) {
    PointF a = d.Map(r->TL[i]), b = d.Map(r->BR[i]);
    rects.push_back({a, {b.x, a.y}, b, {a.x, b.y}});
  }
  d.canvas->FillPolygons(rects, true, BrushPaint(api, r->dc));
}

void RegionClip(wmfAPI* api, wmfPolyRectangle_t* r) {
  Device& d = Dev(api);
  if (!d.canvas) return;
  if (r->count == 0 || !r->TL || !r->BR) {
    d.canvas->ResetClip();
    return;
  }
  // The bounding box of the region's rectangles.
  double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
  for (unsigned i = 0; i < r->count; ++i) {
    PointF a = d.Map(r->TL[i]), b = d.Map(r->BR[i]);
    x0 = std::min({x0, a.x, b.x});
    y0 = std::min({y0, a.y, b.y});
    x1 = std::max({x1, a.x, b.x});
    y1 = std::max({y1, a.y, b.y});
  }
  d.canvas->SetClip(raster2d::EdgeOf(x0), raster2d::EdgeOf(y0), raster2d::EdgeOf(x1), raster2d::EdgeOf(y1));
}

// Installs the device layer; called by wmf_api_create.
void InstallDevice(wmfAPI* api) {
  auto* fr = static_cast<wmfFunctionReference*>(api->function_reference);
  fr->device_open = NoOp;
  fr->device_close = NoOp;
  fr->device_begin = Begin;
  fr->device_end = End;
  fr->flood_interior = Flood;
  fr->flood_exterior = Flood;
  fr->draw_pixel = Pixel;
  fr->draw_pie = Pie;
  fr->draw_chord = Chord;
  fr->draw_arc = OpenArc;
  fr->draw_ellipse = EllipseShape;
  fr->draw_line = Line;
  fr->poly_line = PolyLine;
  fr->draw_polygon = PolygonShape;
  fr->draw_polypolygon = PolyPolygon;
  fr->draw_rectangle = Rectangle;
  fr->rop_draw = RopDraw;
  fr->bmp_draw = BmpDraw;
  fr->bmp_read = BmpRead;
  fr->bmp_free = BmpFree;
  fr->draw_text = Text;
  fr->udata_init = UserData;
  fr->udata_copy = UserData;
  fr->udata_set = UserData;
  fr->udata_free = UserData;
  fr->region_frame = RegionFrame;
  fr->region_paint = RegionPaint;
  fr->region_clip = RegionClip;
}

// Destroys the libwmf session whichever way decoding ends.
struct Session {
  wmfAPI* api = nullptr;
  bool open = false;
  ~Session() {
    if (api) {
      if (open) wmf_mem_close(api);
      wmf_api_destroy(api);
    }
  }
};

const char* WmfError(wmf_error_t e) {
  switch (e) {
    case wmf_E_InsMem: return "out of memory";
    case wmf_E_BadFile: return "bad file (or no usable font)";
    case wmf_E_BadFormat: return "bad record";
    case wmf_E_EOF: return "file truncated";
    case wmf_E_DeviceError: return "device error";
    case wmf_E_Glitch: return "internal error of libwmf";
    case wmf_E_Assert: return "internal check of libwmf failed";
    default: return "cannot read the metafile";
  }
}

bool DecodeWmf(CImage& image, const uint8_t* d, size_t n) {
  if (!IsWmf(d, n)) {
    image.SetLastError("not a metafile");
    return false;
  }
  if (n > 0x7FFFFFFF) {
    image.SetLastError("file too large");
    return false;
  }
  const bool placeable = GetLe32(d) == kPlaceableKey;
  double frameW = 0, frameH = 0;  // points
  if (placeable) {
    int left = int16_t(GetLe16(d + 6)), top = int16_t(GetLe16(d + 8)), right = int16_t(GetLe16(d + 10)),
        bottom = int16_t(GetLe16(d + 12));
    unsigned inch = GetLe16(d + 14);
    if (inch == 0 || right == left || bottom == top) {
      image.SetLastError("placeable header without a size");
      return false;
    }
    frameW = std::abs(right - left) * 72.0 / inch;
    frameH = std::abs(bottom - top) * 72.0 / inch;
  }
  const FontTable& fonts = Fonts();
  wmfAPI_Options options;
  std::memset(&options, 0, sizeof options);
  options.function = InstallDevice;
  options.fontdirs = const_cast<char**>(fonts.dirList.data());
  options.font.ps = const_cast<wmfMapping*>(fonts.mappings.data());
  unsigned long flags = WMF_OPT_IGNORE_NONFATAL | WMF_OPT_FUNCTION | WMF_OPT_FONTDIRS | WMF_OPT_FONTMAP |
                        WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
  Session s;
  Device device;
  wmf_error_t err = wmf_api_create(&s.api, flags, &options);
  if (err != wmf_E_None || !s.api) {
    image.SetLastError(std::string("libwmf: ") + WmfError(err));
    return false;
  }
  s.api->user_data = &device;
  std::vector<unsigned char> copy(d, d + n);  // libwmf takes writable memory
  err = wmf_mem_open(s.api, copy.data(), long(copy.size()));
  if (err != wmf_E_None) {
    image.SetLastError(WmfError(err));
    return false;
  }
  s.open = true;
  wmfD_Rect bbox{};
  err = wmf_scan(s.api, 0, &bbox);
  if (err != wmf_E_None) {
    image.SetLastError(WmfError(err));
    return false;
  }
  unsigned int width = 0, height = 0;
  err = wmf_display_size(s.api, &width, &height, 96, 96);
  if (err != wmf_E_None) {
    image.SetLastError(WmfError(err));
    return false;
  }
  if (placeable) {
    device.scaleX = frameW > 0 ? width / frameW : 1;
    device.scaleY = frameH > 0 ? height / frameH : 1;
  } else {
    double bw = bbox.BR.x - bbox.TL.x, bh = bbox.BR.y - bbox.TL.y;
    device.originX = bbox.TL.x;
    device.originY = bbox.TL.y;
    device.scaleX = bw > 0 ? width / bw : 1;
    device.scaleY = bh > 0 ? height / bh : 1;
  }
  if (!std::isfinite(device.scaleX) || !std::isfinite(device.scaleY) || !std::isfinite(device.originX) ||
      !std::isfinite(device.originY)) {
    image.SetLastError("the metafile has no usable size");
    return false;
  }
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  if (!image.Create(int(width), int(height), 24, image.GetType())) return false;
  std::memset(image.GetBits(), 0xFF, image.GetImageSize());
  raster2d::Canvas canvas(image);
  device.image = &image;
  device.canvas = &canvas;
  err = wmf_play(s.api, 0, &bbox);
  device.canvas = nullptr;
  if (err != wmf_E_None) {
    image.SetLastError(WmfError(err));
    return false;
  }
  image.SetNumFrames(1);
  return true;
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  if (metafile::IsEmf(d, n)) return metafile::DecodeEmf(image, d, n);
  return DecodeWmf(image, d, n);
}

}  // namespace

// Metafiles cannot be written.
extern const CodecInfo kCodecWmf = {FORMAT_WMF, "WMF", "wmf;emf", Sniff, Decode, nullptr};
