// The EMF player: walks the records of an enhanced metafile, keeps the
// device context they change (mapping, world transform, pens, brushes, fonts,
// colours, clipping, saved states, paths) and draws the shapes with the
// rasteriser of raster2d.h into a 24-bit picture.
//
// Output size: the picture frame of the header (hundredths of a millimetre)
// at the resolution of the reference device the file was recorded for, or
// the bounds rectangle when the frame is empty. Logical coordinates go
// through the world transform, the mapping mode (window and viewport) and
// finally the shift that puts the frame's corner at pixel (0, 0).
//
// Drawn: polygons, polylines, poly-polygons, Bezier curves, rectangles,
// rounded rectangles, ellipses, arcs, chords, pies, lines, pixels, paths
// (fill, stroke, both), the bitmap records STRETCHDIBITS, BITBLT, STRETCHBLT
// and SETDIBITSTODEVICE, region fills, and text through the image's text
// renderer. Simplified: dashed pens are drawn solid, clipping is a rectangle
// (regions and paths clip to their bounding box; excluded rectangles are
// ignored), raster operations other than copying, AND, OR, XOR and inverted
// copy draw as a copy, text is drawn upright.
#include "imaging/codecs/emf.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/raster2d.h"

namespace metafile {

namespace {

using raster2d::Paint;
using raster2d::PointF;
using raster2d::Polygon;
using raster2d::Rgb;

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"

enum RecordType : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_EOF = 14,
  EMR_SETPIXELV = 15, EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18, EMR_SETPOLYFILLMODE = 19,
  EMR_SETTEXTALIGN = 22, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25, EMR_OFFSETCLIPRGN = 26,
  EMR_MOVETOEX = 27, EMR_INTERSECTCLIPRECT = 30, EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39, EMR_DELETEOBJECT = 40, EMR_ANGLEARC = 41, EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44, EMR_ARC = 45, EMR_CHORD = 46, EMR_PIE = 47,
  EMR_LINETO = 54, EMR_ARCTO = 55, EMR_SETARCDIRECTION = 57, EMR_BEGINPATH = 59,
  EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63,
  EMR_STROKEPATH = 64, EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68, EMR_FILLRGN = 71,
  EMR_PAINTRGN = 74, EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76, EMR_STRETCHBLT = 77,
  EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84, EMR_POLYBEZIER16 = 85, EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89, EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91, EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT = 94,
  EMR_EXTCREATEPEN = 95,
};

// ---- reading ------------------------------------------------------------------

// One record: bounds-checked little-endian reads at offsets from its start.
class Record {
 public:
  Record(const uint8_t* p, size_t size) : p_(p), size_(size) {}
  size_t size() const { return size_; }
  bool Has(size_t offset, size_t bytes) const { return offset <= size_ && bytes <= size_ - offset; }
  uint32_t U32(size_t at) const {
    if (!Has(at, 4)) return 0;
    return byte_order::GetLe32(p_ + at);
  }
  int32_t I32(size_t at) const { return int32_t(U32(at)); }
  int16_t I16(size_t at) const {
    if (!Has(at, 2)) return 0;
    return int16_t(byte_order::GetLe16(p_ + at));
  }
  uint16_t U16(size_t at) const { return uint16_t(I16(at)); }
  float F32(size_t at) const {
    uint32_t v = U32(at);
    float f;
    std::memcpy(&f, &v, 4);
    return std::isfinite(f) ? f : 0.0f;
  }
  const uint8_t* Bytes(size_t at) const { return p_ + at; }

 private:
  const uint8_t* p_;
  size_t size_;
};

Rgb ColourRef(uint32_t v) { return Rgb{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)}; }

// A device-independent bitmap taken from a record, rows from the top.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;
};

int LowestBit(uint32_t mask) {
  int s = 0;
  while (s < 32 && !(mask & (1u << s))) ++s;
  return s;
}

uint8_t Channel(uint32_t v, uint32_t mask) {
  if (!mask) return 0;
  int shift = LowestBit(mask);
  uint32_t max = mask >> shift;
  return uint8_t(((v & mask) >> shift) * 255 / max);
}

// Reads the bitmap whose header and bits the record holds at the given
// offsets (from the record's start).
bool ReadBitmap(const Record& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits,
                Bitmap& out) {
  if (cbBmi < 12 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) return false;
  const uint32_t headerSize = r.U32(offBmi);
  int64_t w, h;
  int bits, planes;
  uint32_t compression = 0, colours = 0;
  if (headerSize == 12) {  // BITMAPCOREHEADER
    w = r.U16(offBmi + 4);
    h = r.I16(offBmi + 6);
    planes = r.U16(offBmi + 8);
    bits = r.U16(offBmi + 10);
  } else {
    if (headerSize < 40 || headerSize > cbBmi) return false;
    w = r.I32(offBmi + 4);
    h = r.I32(offBmi + 8);
    planes = r.U16(offBmi + 12);
    bits = r.U16(offBmi + 14);
    compression = r.U32(offBmi + 16);
    colours = r.U32(offBmi + 32);
  }
  (void)planes;
  const bool topDown = h < 0;
  h = std::llabs(h);
  if (w <= 0 || h <= 0 || w > 0x7FFFFFF || h > 0x7FFFFFF) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32))) return false;
  const uint64_t stride = (uint64_t(w) * uint64_t(bits) + 31) / 32 * 4;
  if (stride * uint64_t(h) > cbBits) return false;  // the bits must all be there
  if (uint64_t(w) * uint64_t(h) > CImage::GetPixelLimit()) return false;
  // Palette or bit fields after the header.
  const size_t tableAt = offBmi + headerSize;
  const size_t entryBytes = headerSize == 12 ? 3 : 4;
  std::vector<Rgb> palette;
  uint32_t masks[3] = {0, 0, 0};
  if (bits <= 8) {
    size_t count = colours ? std::min<size_t>(colours, size_t(1) << bits) : size_t(1) << bits;
    palette.assign(size_t(1) << bits, Rgb{});
    for (size_t i = 0; i < count; ++i) {
      size_t at = tableAt + i * entryBytes;
      if (at + 3 > size_t(offBmi) + cbBmi) break;
      const uint8_t* e = r.Bytes(at);
      palette[i] = Rgb{e[2], e[1], e[0]};
    }
  } else if (compression == 3) {
    size_t at = headerSize >= 52 ? offBmi + 40 : tableAt;
    if (!r.Has(at, 12)) return false;
    for (int i = 0; i < 3; ++i) masks[i] = r.U32(at + 4 * size_t(i));
  } else if (bits == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
  out.width = int(w);
  out.height = int(h);
  out.pixels.assign(size_t(w) * size_t(h), Rgb{});
  for (int64_t y = 0; y < h; ++y) {
    const uint8_t* row = r.Bytes(offBits + size_t(topDown ? y : h - 1 - y) * stride);
    Rgb* dst = out.pixels.data() + size_t(y) * size_t(w);
    for (int64_t x = 0; x < w; ++x) {
      switch (bits) {
        case 1:
          dst[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
          break;
        case 4:
          dst[x] = palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
          break;
        case 8:
          dst[x] = palette[row[x]];
          break;
        case 16: {
          uint32_t v = byte_order::GetLe16(row + 2 * x);
          dst[x] = Rgb{Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2])};
          break;
        }
        case 24:
          dst[x] = Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
          break;
        default: {
          const uint8_t* p = row + 4 * x;
          if (compression == 3) {
            uint32_t v = byte_order::GetLe32(p);
            dst[x] = Rgb{Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2])};
          } else {
            dst[x] = Rgb{p[2], p[1], p[0]};
          }
          break;
        }
      }
    }
  }
  return true;
}

// The part of a bitmap given in the record's source coordinates; y counts
// from the top of the picture.
Bitmap Crop(const Bitmap& b, int64_t x, int64_t y, int64_t w, int64_t h) {
  x = std::clamp<int64_t>(x, 0, b.width);
  y = std::clamp<int64_t>(y, 0, b.height);
  w = std::clamp<int64_t>(w, 0, b.width - x);
  h = std::clamp<int64_t>(h, 0, b.height - y);
  if (x == 0 && y == 0 && w == b.width && h == b.height) return b;
  Bitmap out;
  out.width = int(w);
  out.height = int(h);
  out.pixels.reserve(size_t(w * h));
  for (int64_t row = 0; row < h; ++row)
    for (int64_t col = 0; col < w; ++col) out.pixels.push_back(b.pixels[size_t(y + row) * b.width + size_t(x + col)]);
  return out;
}

void AppendUtf8(std::string& s, uint32_t c) {
  if (c < 0x80) {
    s += char(c);
  } else if (c < 0x800) {
    s += char(0xC0 | (c >> 6));
    s += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += char(0xE0 | (c >> 12));
    s += char(0x80 | ((c >> 6) & 0x3F));
    s += char(0x80 | (c & 0x3F));
  } else {
    s += char(0xF0 | (c >> 18));
    s += char(0x80 | ((c >> 12) & 0x3F));
    s += char(0x80 | ((c >> 6) & 0x3F));
    s += char(0x80 | (c & 0x3F));
  }
}

std::string Utf16ToUtf8(const Record& r, size_t at, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = r.U16(at + 2 * i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
      uint32_t lo = r.U16(at + 2 * (i + 1));
      if (lo >= 0xDC00 && lo < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if (c == 0) break;
    AppendUtf8(s, c);
  }
  return s;
}

// ---- device context -------------------------------------------------------------

struct Pen {
  bool null = false;
  double width = 0;  // logical units; 0 is one pixel
  Rgb colour;
};

struct Brush {
  bool null = false;
  Paint paint;
};

struct Font {
  LogFont lf;
  bool set = false;
};

struct Object {
  enum Kind { kNone, kPen, kBrush, kFont, kOther } kind = kNone;
  Pen pen;
  Brush brush;
  Font font;
};

struct Xform {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
  PointF Apply(PointF p) const { return {m11 * p.x + m21 * p.y + dx, m12 * p.x + m22 * p.y + dy}; }
  // this followed by b
  Xform Then(const Xform& b) const {
    return {m11 * b.m11 + m12 * b.m21, m11 * b.m12 + m12 * b.m22, m21 * b.m11 + m22 * b.m21,
            m21 * b.m12 + m22 * b.m22, dx * b.m11 + dy * b.m21 + b.dx, dx * b.m12 + dy * b.m22 + b.dy};
  }
};

struct ClipRect {
  double x0, y0, x1, y1;  // output pixels
};

struct State {
  uint32_t mapMode = 1;  // MM_TEXT
  PointF winOrg{0, 0}, winExt{1, 1}, vpOrg{0, 0}, vpExt{1, 1};
  Xform world;
  Pen pen;
  Brush brush;
  Font font;
  Rgb textColour{0, 0, 0};
  Rgb bkColour{255, 255, 255};
  uint32_t bkMode = 2;      // OPAQUE
  uint32_t polyFill = 1;    // ALTERNATE
  uint32_t textAlign = 0;   // TA_LEFT | TA_TOP
  bool clockwise = false;
  PointF current{0, 0};     // logical
  bool clipped = false;
  ClipRect clip{0, 0, 0, 0};
};

struct Figure {
  Polygon points;  // output pixels
  bool closed = false;
};

class Player {
 public:
  Player(CImage& image, double devPerMmX, double devPerMmY, PointF frameOrigin, double scaleX, double scaleY,
         uint32_t handles)
      : image_(image), canvas_(image), devPerMmX_(devPerMmX), devPerMmY_(devPerMmY), frameOrigin_(frameOrigin),
        scaleX_(scaleX), scaleY_(scaleY) {
    objects_.resize(std::min<uint32_t>(std::max<uint32_t>(handles, 1), 65536));
    state_.brush.paint.colour = Rgb{255, 255, 255};
    state_.font.lf.lfWeight = 400;
  }

  void Play(const Record& r, uint32_t type);
  bool Exhausted() const { return canvas_.Exhausted(); }

 private:
  // Coordinates.
  Xform PageToOutput() const;
  Xform Full() const { return state_.world.Then(PageToOutput()); }
  PointF Map(double x, double y) const { return Full().Apply({x, y}); }
  double LengthScale() const {
    Xform f = Full();
    return std::sqrt(std::fabs(f.m11 * f.m22 - f.m12 * f.m21));
  }
  double PenWidth() const {
    double w = state_.pen.width * LengthScale();
    return w < 1 ? 0 : w;
  }

  // Drawing.
  void ApplyClip();
  void Shape(std::vector<Polygon> polygons, bool fill, bool stroke, bool closed);
  void FillWith(const std::vector<Polygon>& polygons, const Paint& paint);
  Polygon ReadPoints(const Record& r, size_t at, uint32_t count, bool small) const;
  void Poly(const Record& r, uint32_t type, bool small);
  void PolyPoly(const Record& r, bool polygon, bool small);
  void Box(const Record& r, uint32_t type);
  void Arc(const Record& r, uint32_t type);
  void Text(const Record& r, bool wide);
  void DrawBitmap(const Bitmap& b, double x, double y, double w, double h, uint32_t rop);
  void BitmapRecord(const Record& r, uint32_t type);
  void Region(const Record& r, uint32_t type);

  // Objects.
  Object* Slot(uint32_t index) { return index > 0 && index < objects_.size() ? &objects_[index] : nullptr; }
  void Select(uint32_t index);

  // Paths.
  void PathLineTo(const Polygon& pts);
  Figure& CurrentFigure();

  CImage& image_;
  raster2d::Canvas canvas_;
  double devPerMmX_, devPerMmY_;
  PointF frameOrigin_;  // reference device pixels at output (0, 0)
  double scaleX_, scaleY_;
  State state_;
  std::vector<State> saved_;
  std::vector<Object> objects_;
  bool inPath_ = false;
  std::vector<Figure> path_;
  bool figureOpen_ = false;
};

Xform Player::PageToOutput() const {
  const State& s = state_;
  double sx = 1, sy = 1;
  switch (s.mapMode) {
    case 2: sx = devPerMmX_ * 0.1; sy = -devPerMmY_ * 0.1; break;                  // MM_LOMETRIC
    case 3: sx = devPerMmX_ * 0.01; sy = -devPerMmY_ * 0.01; break;                // MM_HIMETRIC
    case 4: sx = devPerMmX_ * 0.254; sy = -devPerMmY_ * 0.254; break;              // MM_LOENGLISH
    case 5: sx = devPerMmX_ * 0.0254; sy = -devPerMmY_ * 0.0254; break;            // MM_HIENGLISH
    case 6: sx = devPerMmX_ * 25.4 / 1440; sy = -devPerMmY_ * 25.4 / 1440; break;  // MM_TWIPS
    case 7:                                                                         // MM_ISOTROPIC
    case 8:                                                                         // MM_ANISOTROPIC
      sx = s.winExt.x != 0 ? s.vpExt.x / s.winExt.x : 1;
      sy = s.winExt.y != 0 ? s.vpExt.y / s.winExt.y : 1;
      if (s.mapMode == 7) {
        double m = std::min(std::fabs(sx), std::fabs(sy));
        sx = std::copysign(m, sx);
        sy = std::copysign(m, sy);
      }
      break;
    default:
      break;
  }
  // device = (page - winOrg) * s + vpOrg; output = (device - frame) * scale
  Xform x;
  x.m11 = sx * scaleX_;
  x.m22 = sy * scaleY_;
  x.dx = ((-s.winOrg.x) * sx + s.vpOrg.x - frameOrigin_.x) * scaleX_;
  x.dy = ((-s.winOrg.y) * sy + s.vpOrg.y - frameOrigin_.y) * scaleY_;
  return x;
}

void Player::ApplyClip() {
  if (!state_.clipped) {
    canvas_.ResetClip();
    return;
  }
  const ClipRect& c = state_.clip;
  canvas_.SetClip(raster2d::EdgeOf(c.x0), raster2d::EdgeOf(c.y0), raster2d::EdgeOf(c.x1), raster2d::EdgeOf(c.y1));
}

void Player::FillWith(const std::vector<Polygon>& polygons, const Paint& paint) {
  canvas_.FillPolygons(polygons, state_.polyFill == 2, paint);
}

// Fills and outlines shapes given in output pixels, or adds them to the path.
void Player::Shape(std::vector<Polygon> polygons, bool fill, bool stroke, bool closed) {
  if (inPath_) {
    for (Polygon& p : polygons) {
      path_.push_back({std::move(p), closed});
    }
    figureOpen_ = false;
    return;
  }
  ApplyClip();
  if (fill && !state_.brush.null) {
    Paint paint = state_.brush.paint;
    if (paint.kind == Paint::kHatch) {
      paint.opaqueBackground = state_.bkMode == 2;
      paint.background = state_.bkColour;
    }
    FillWith(polygons, paint);
  }
  if (stroke && !state_.pen.null) {
    double width = PenWidth();
    for (const Polygon& p : polygons) canvas_.Stroke(p, closed, width, state_.pen.colour);
  }
}

Polygon Player::ReadPoints(const Record& r, size_t at, uint32_t count, bool small) const {
  Polygon pts;
  const size_t step = small ? 4 : 8;
  if (!r.Has(at, size_t(count) * step)) return pts;
  Xform f = Full();
  pts.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    size_t p = at + i * step;
    double x = small ? r.I16(p) : r.I32(p);
    double y = small ? r.I16(p + 2) : r.I32(p + 4);
    pts.push_back(f.Apply({x, y}));
  }
  return pts;
}

Figure& Player::CurrentFigure() {
  if (!figureOpen_ || path_.empty()) {
    path_.push_back({{Map(state_.current.x, state_.current.y)}, false});
    figureOpen_ = true;
  }
  return path_.back();
}

void Player::PathLineTo(const Polygon& pts) {
  Figure& f = CurrentFigure();
  f.points.insert(f.points.end(), pts.begin(), pts.end());
}

void Player::Poly(const Record& r, uint32_t type, bool small) {
  const uint32_t count = r.U32(24);
  Polygon pts = ReadPoints(r, 28, count, small);
  if (pts.size() != count || count == 0) return;
  // The logical last point, for records that move the current position.
  size_t lastAt = 28 + size_t(count - 1) * (small ? 4 : 8);
  PointF lastLogical{double(small ? r.I16(lastAt) : r.I32(lastAt)),
                     double(small ? r.I16(lastAt + 2) : r.I32(lastAt + 4))};
  switch (type) {
    case EMR_POLYGON:
    case EMR_POLYGON16:
      if (count >= 2) Shape({pts}, true, true, true);
      break;
    case EMR_POLYLINE:
    case EMR_POLYLINE16:
      if (inPath_) {
        path_.push_back({pts, false});
        figureOpen_ = true;
      } else {
        Shape({pts}, false, true, false);
      }
      break;
    case EMR_POLYBEZIER:
    case EMR_POLYBEZIER16: {
      Polygon curve{pts[0]};
      for (size_t i = 1; i + 2 < pts.size(); i += 3) raster2d::AppendBezier(curve, curve.back(), pts[i], pts[i + 1], pts[i + 2]);
      if (inPath_) {
        path_.push_back({curve, false});
        figureOpen_ = true;
      } else {
        Shape({curve}, false, true, false);
      }
      break;
    }
    case EMR_POLYLINETO:
    case EMR_POLYLINETO16:
    case EMR_POLYBEZIERTO:
    case EMR_POLYBEZIERTO16: {
      PointF start = Map(state_.current.x, state_.current.y);
      Polygon line;
      if (type == EMR_POLYLINETO || type == EMR_POLYLINETO16) {
        line = pts;
      } else {
        PointF from = start;
        for (size_t i = 0; i + 2 < pts.size(); i += 3) {
          raster2d::AppendBezier(line, from, pts[i], pts[i + 1], pts[i + 2]);
          from = pts[i + 2];
        }
      }
      if (inPath_) {
        PathLineTo(line);
      } else {
        line.insert(line.begin(), start);
        Shape({line}, false, true, false);
      }
      state_.current = lastLogical;
      break;
    }
    default:
      break;
  }
}

void Player::PolyPoly(const Record& r, bool polygon, bool small) {
  const uint32_t polys = r.U32(24), total = r.U32(28);
  if (polys == 0 || !r.Has(32, size_t(polys) * 4)) return;
  const size_t pointsAt = 32 + size_t(polys) * 4;
  Polygon all = ReadPoints(r, pointsAt, total, small);
  if (all.size() != total) return;
  std::vector<Polygon> shapes;
  size_t used = 0;
  for (uint32_t i = 0; i < polys; ++i) {
    uint32_t n = r.U32(32 + size_t(i) * 4);
    if (n > all.size() - used) return;
    shapes.emplace_back(all.begin() + long(used), all.begin() + long(used + n));
    used += n;
  }
  if (polygon) {
    Shape(std::move(shapes), true, true, true);
  } else if (inPath_) {
    for (Polygon& p : shapes) path_.push_back({std::move(p), false});
    figureOpen_ = false;
  } else {
    Shape(std::move(shapes), false, true, false);
  }
}

// Points of an ellipse arc in logical coordinates, turned into output pixels.
Polygon ArcPoints(const Xform& f, double scale, double cx, double cy, double rx, double ry, double start, double sweep) {
  double s = std::max(scale, 1e-6);
  Polygon unit = raster2d::EllipseArc(0, 0, rx * s, ry * s, start, sweep);
  for (PointF& p : unit) p = f.Apply({cx + p.x / s, cy + p.y / s});
  return unit;
}

void Player::Box(const Record& r, uint32_t type) {
  double l = r.I32(8), t = r.I32(12), rt = r.I32(16), b = r.I32(20);
  if (l > rt) std::swap(l, rt);
  if (t > b) std::swap(t, b);
  Xform f = Full();
  if (type == EMR_RECTANGLE) {
    Polygon p{f.Apply({l, t}), f.Apply({rt, t}), f.Apply({rt, b}), f.Apply({l, b})};
    if (inPath_) {
      Shape({p}, true, true, true);
      return;
    }
    Shape({p}, true, false, true);
    // The outline runs along the outermost pixels of the filled area.
    if (!state_.pen.null) {
      double w = PenWidth();
      double inset = w < 1 ? 1 : 0;
      Polygon o = p;
      PointF d{o[2].x > o[0].x ? -inset : inset, o[2].y > o[0].y ? -inset : inset};
      o[1].x += d.x;
      o[2].x += d.x;
      o[2].y += d.y;
      o[3].y += d.y;
      Shape({o}, false, true, true);
    }
    return;
  }
  double cx = (l + rt) / 2, cy = (t + b) / 2, rx = (rt - l) / 2, ry = (b - t) / 2;
  if (type == EMR_ELLIPSE) {
    Shape({ArcPoints(f, LengthScale(), cx, cy, rx, ry, 0, 2 * kPi)}, true, true, true);
    return;
  }
  // Rounded rectangle: corner ellipse of the given size.
  double ew = std::min(std::fabs(double(r.I32(24))) / 2, rx), eh = std::min(std::fabs(double(r.I32(28))) / 2, ry);
  Polygon p;
  auto corner = [&](double ccx, double ccy, double a0) {
    Polygon c = ArcPoints(f, LengthScale(), ccx, ccy, ew, eh, a0, kPi / 2);
    p.insert(p.end(), c.begin(), c.end());
  };
  corner(rt - ew, t + eh, 0);
  corner(l + ew, t + eh, kPi / 2);
  corner(l + ew, b - eh, kPi);
  corner(rt - ew, b - eh, 3 * kPi / 2);
  Shape({p}, true, true, true);
}

void Player::Arc(const Record& r, uint32_t type) {
  double l = r.I32(8), t = r.I32(12), rt = r.I32(16), b = r.I32(20);
  double xs = r.I32(24), ys = r.I32(28), xe = r.I32(32), ye = r.I32(36);
  if (l > rt) std::swap(l, rt);
  if (t > b) std::swap(t, b);
  double cx = (l + rt) / 2, cy = (t + b) / 2, rx = (rt - l) / 2, ry = (b - t) / 2;
  if (rx <= 0 || ry <= 0) return;
  // Angles of the radials through the start and end points (counted
  // counter-clockwise as seen, y growing downwards).
  double a0 = std::atan2(-(ys - cy) / ry, (xs - cx) / rx);
  double a1 = std::atan2(-(ye - cy) / ry, (xe - cx) / rx);
  double sweep;
  if (!state_.clockwise) {
    sweep = a1 - a0;
    while (sweep <= 0) sweep += 2 * kPi;
  } else {
    sweep = a1 - a0;
    while (sweep >= 0) sweep -= 2 * kPi;
  }
  Xform f = Full();
  Polygon p = ArcPoints(f, LengthScale(), cx, cy, rx, ry, a0, sweep);
  if (p.empty()) return;
  switch (type) {
    case EMR_ARC:
      if (inPath_) {
        path_.push_back({p, false});
        figureOpen_ = true;
      } else {
        Shape({p}, false, true, false);
      }
      break;
    case EMR_ARCTO: {
      if (inPath_) {
        PathLineTo(p);
      } else {
        Polygon line{Map(state_.current.x, state_.current.y)};
        line.insert(line.end(), p.begin(), p.end());
        Shape({line}, false, true, false);
      }
      state_.current = {cx + rx * std::cos(a0 + sweep), cy - ry * std::sin(a0 + sweep)};
      break;
    }
    case EMR_CHORD:
      Shape({p}, true, true, true);
      break;
    default:  // EMR_PIE
      p.push_back(f.Apply({cx, cy}));
      Shape({p}, true, true, true);
      break;
  }
}

void Player::Text(const Record& r, bool wide) {
  const uint32_t chars = r.U32(44), offString = r.U32(48), options = r.U32(52);
  if (chars == 0 || chars > 65536 || !r.Has(offString, size_t(chars) * (wide ? 2 : 1))) return;
  std::string text = wide ? Utf16ToUtf8(r, offString, chars)
                          : AnsiToUtf8(r.Bytes(offString), chars, state_.font.lf.lfCharSet);
  ApplyClip();
  if (options & 0x2) {  // ETO_OPAQUE: fill the rectangle with the background colour
    Xform f = Full();
    double l = r.I32(56), t = r.I32(60), rt = r.I32(64), b = r.I32(68);
    Paint bk;
    bk.colour = state_.bkColour;
    FillWith({{f.Apply({l, t}), f.Apply({rt, t}), f.Apply({rt, b}), f.Apply({l, b})}}, bk);
  }
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
  if (text.empty() || canvas_.Exhausted()) return;
  LogFont lf = state_.font.lf;
  double height = std::fabs(double(lf.lfHeight)) * LengthScale();
  if (!(height <= 4096)) return;
  height = std::max(height, 1.0);
  lf.lfHeight = lf.lfHeight > 0 ? int32_t(std::lround(height)) : -int32_t(std::lround(height));
  if (lf.lfHeight == 0) lf.lfHeight = -1;
  lf.lfWidth = 0;
  lf.lfEscapement = lf.lfOrientation = 0;
  if (!canvas_.Charge(uint64_t(text.size()) * uint64_t(height) * uint64_t(height))) return;
  long w = 0, h = 0;
  if (!CImage::MeasureText(text, lf, w, h) || w <= 0 || h <= 0) return;
  PointF ref = Map(r.I32(36), r.I32(40));
  if (state_.textAlign & 1) ref = Map(state_.current.x, state_.current.y);  // TA_UPDATECP
  double left = ref.x, top = ref.y;
  switch (state_.textAlign & 6) {
    case 6: left -= w / 2.0; break;  // TA_CENTER
    case 2: left -= w; break;        // TA_RIGHT
    default: break;
  }
  if ((state_.textAlign & 24) == 24)  // TA_BASELINE: the descent is about a fifth
    top -= h * 0.8;
  else if (state_.textAlign & 8)  // TA_BOTTOM
    top -= h;
  if (!(std::fabs(left) < 1e9 && std::fabs(top) < 1e9)) return;
  TextInfo info;
  CImage::InitTextInfo(info);
  info.text = text;
  info.lfont = lf;
  info.fcolor = uint32_t(state_.textColour.r) | uint32_t(state_.textColour.g) << 8 |
                uint32_t(state_.textColour.b) << 16;
  info.align = 0;
  info.opaque = 0;
  if (state_.bkMode == 2 && !(options & 0x2)) {
    Paint bk;
    bk.colour = state_.bkColour;
    FillWith({{{left, top}, {left + w, top}, {left + w, top + h}, {left, top + h}}}, bk);
  }
  image_.DrawStringEx(long(std::lround(left + w / 2.0)), long(std::lround(top + h)), info);
}

void Player::DrawBitmap(const Bitmap& b, double x, double y, double w, double h, uint32_t rop) {
  ApplyClip();
  raster2d::Canvas::Op op = raster2d::Canvas::Op::kCopy;
  switch (rop) {
    case 0x008800C6: op = raster2d::Canvas::Op::kAnd; break;      // SRCAND
    case 0x00EE0086: op = raster2d::Canvas::Op::kOr; break;       // SRCPAINT
    case 0x00660046: op = raster2d::Canvas::Op::kXor; break;      // SRCINVERT
    case 0x00330008: op = raster2d::Canvas::Op::kNotCopy; break;  // NOTSRCCOPY
    default: break;
  }
  canvas_.Blit(b.pixels, b.width, b.height, x, y, w, h, op);
}

void Player::BitmapRecord(const Record& r, uint32_t type) {
  Bitmap b;
  Xform f = Full();
  auto place = [&](double x, double y, double w, double h, PointF& at, PointF& size) {
    PointF p0 = f.Apply({x, y}), p1 = f.Apply({x + w, y + h});
    at = p0;
    size = {p1.x - p0.x, p1.y - p0.y};
  };
  PointF at, size;
  switch (type) {
    case EMR_STRETCHDIBITS: {
      int32_t xd = r.I32(24), yd = r.I32(28), xs = r.I32(32), ys = r.I32(36), cxs = r.I32(40), cys = r.I32(44);
      uint32_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
      uint32_t rop = r.U32(68);
      int32_t cxd = r.I32(72), cyd = r.I32(76);
      if (!ReadBitmap(r, offBmi, cbBmi, offBits, cbBits, b)) return;
      // Source rectangles count rows from the bottom of the bitmap.
      Bitmap part = Crop(b, xs, int64_t(b.height) - ys - cys, cxs, cys);
      place(xd, yd, cxd, cyd, at, size);
      DrawBitmap(part, at.x, at.y, size.x, size.y, rop);
      break;
    }
    case EMR_SETDIBITSTODEVICE: {
      int32_t xd = r.I32(24), yd = r.I32(28), xs = r.I32(32), ys = r.I32(36), cxs = r.I32(40), cys = r.I32(44);
      uint32_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
      if (!ReadBitmap(r, offBmi, cbBmi, offBits, cbBits, b)) return;
      Bitmap part = Crop(b, xs, int64_t(b.height) - ys - cys, cxs, cys);
      place(xd, yd, cxs, cys, at, size);
      DrawBitmap(part, at.x, at.y, size.x, size.y, 0x00CC0020);
      break;
    }
    default: {  // EMR_BITBLT, EMR_STRETCHBLT
      int32_t xd = r.I32(24), yd = r.I32(28), cxd = r.I32(32), cyd = r.I32(36);
      uint32_t rop = r.U32(40);
      int32_t xs = r.I32(44), ys = r.I32(48);
      uint32_t offBmi = r.U32(84), cbBmi = r.U32(88), offBits = r.U32(92), cbBits = r.U32(96);
      int32_t cxs = type == EMR_STRETCHBLT ? r.I32(100) : cxd, cys = type == EMR_STRETCHBLT ? r.I32(104) : cyd;
      place(xd, yd, cxd, cyd, at, size);
      if (cbBmi == 0) {
        // No source: a pattern or constant fill of the rectangle.
        Paint paint;
        if (rop == 0x00000042)
          paint.colour = Rgb{0, 0, 0};
        else if (rop == 0x00FF0062)
          paint.colour = Rgb{255, 255, 255};
        else if (rop == 0x00F00021 && !state_.brush.null)
          paint = state_.brush.paint;
        else
          return;
        ApplyClip();
        FillWith({{at, {at.x + size.x, at.y}, {at.x + size.x, at.y + size.y}, {at.x, at.y + size.y}}}, paint);
        return;
      }
      if (!ReadBitmap(r, offBmi, cbBmi, offBits, cbBits, b)) return;
      // BitBlt sources count rows from the top.
      Bitmap part = Crop(b, xs, ys, cxs, cys);
      DrawBitmap(part, at.x, at.y, size.x, size.y, rop);
      break;
    }
  }
}

// Region records: fills (FILLRGN, PAINTRGN) and clipping (EXTSELECTCLIPRGN).
// Region rectangles are in device units.
void Player::Region(const Record& r, uint32_t type) {
  size_t dataAt = type == EMR_FILLRGN ? 32 : type == EMR_PAINTRGN ? 28 : 16;
  uint32_t size = type == EMR_EXTSELECTCLIPRGN ? r.U32(8) : r.U32(24);
  auto toOut = [&](double x, double y) {
    return PointF{(x - frameOrigin_.x) * scaleX_, (y - frameOrigin_.y) * scaleY_};
  };
  if (type == EMR_EXTSELECTCLIPRGN) {
    uint32_t mode = r.U32(12);
    if (size < 32 || !r.Has(dataAt, 32)) {
      if (mode == 5) state_.clipped = false;  // RGN_COPY of nothing: no clipping
      return;
    }
    PointF a = toOut(r.I32(dataAt + 16), r.I32(dataAt + 20)), b = toOut(r.I32(dataAt + 24), r.I32(dataAt + 28));
    ClipRect c{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
    if (mode == 1 && state_.clipped) {  // RGN_AND
      c = {std::max(c.x0, state_.clip.x0), std::max(c.y0, state_.clip.y0), std::min(c.x1, state_.clip.x1),
           std::min(c.y1, state_.clip.y1)};
    } else if (mode != 5 && mode != 1) {
      return;  // unions, differences: left as they were
    }
    state_.clip = c;
    state_.clipped = true;
    return;
  }
  if (size < 32 || !r.Has(dataAt, 32)) return;
  uint32_t count = r.U32(dataAt + 8);
  if (!r.Has(dataAt + 32, size_t(count) * 16)) return;
  Paint paint;
  if (type == EMR_FILLRGN) {
    Object* o = Slot(r.U32(28));
    uint32_t ih = r.U32(28);
    if (o && o->kind == Object::kBrush && !o->brush.null) {
      paint = o->brush.paint;
    } else if (ih & 0x80000000u) {
      uint32_t stock = ih & 0x7FFFFFFF;
      static const uint8_t greys[] = {255, 192, 128, 64, 0};
      if (stock > 4) return;
      paint.colour = Rgb{greys[stock], greys[stock], greys[stock]};
    } else {
      return;
    }
  } else {
    if (state_.brush.null) return;
    paint = state_.brush.paint;
  }
  std::vector<Polygon> rects;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = dataAt + 32 + size_t(i) * 16;
    PointF a = toOut(r.I32(at), r.I32(at + 4)), b = toOut(r.I32(at + 8), r.I32(at + 12));
    rects.push_back({a, {b.x, a.y}, b, {a.x, b.y}});
  }
  ApplyClip();
  canvas_.FillPolygons(rects, true, paint);
}

void Player::Select(uint32_t index) {
  if (index & 0x80000000u) {
    uint32_t stock = index & 0x7FFFFFFF;
    static const uint8_t greys[] = {255, 192, 128, 64, 0};
    if (stock <= 4) {
      state_.brush = Brush{};
      state_.brush.paint.colour = Rgb{greys[stock], greys[stock], greys[stock]};
    } else if (stock == 5) {
      state_.brush.null = true;
    } else if (stock == 6 || stock == 7) {
      state_.pen = Pen{};
      state_.pen.colour = stock == 6 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    } else if (stock == 8) {
      state_.pen.null = true;
    } else if (stock >= 10 && stock <= 17 && stock != 15) {
      state_.font = Font{};
    }
    return;
  }
  Object* o = Slot(index);
  if (!o) return;
  switch (o->kind) {
    case Object::kPen: state_.pen = o->pen; break;
    case Object::kBrush: state_.brush = o->brush; break;
    case Object::kFont: state_.font = o->font; break;
    default: break;
  }
}

void Player::Play(const Record& r, uint32_t type) {
  State& s = state_;
  switch (type) {
    case EMR_SETWINDOWEXTEX:
      s.winExt = {double(r.I32(8)), double(r.I32(12))};
      break;
    case EMR_SETWINDOWORGEX:
      s.winOrg = {double(r.I32(8)), double(r.I32(12))};
      break;
    case EMR_SETVIEWPORTEXTEX:
      s.vpExt = {double(r.I32(8)), double(r.I32(12))};
      break;
    case EMR_SETVIEWPORTORGEX:
      s.vpOrg = {double(r.I32(8)), double(r.I32(12))};
      break;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
      int32_t xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
      if (xd == 0 || yd == 0) break;
      PointF& e = type == EMR_SCALEVIEWPORTEXTEX ? s.vpExt : s.winExt;
      e.x = e.x * xn / xd;
      e.y = e.y * yn / yd;
      break;
    }
    case EMR_SETMAPMODE:
      if (r.U32(8) >= 1 && r.U32(8) <= 8) s.mapMode = r.U32(8);
      break;
    case EMR_SETBKMODE: s.bkMode = r.U32(8); break;
    case EMR_SETPOLYFILLMODE: s.polyFill = r.U32(8); break;
    case EMR_SETTEXTALIGN: s.textAlign = r.U32(8); break;
    case EMR_SETTEXTCOLOR: s.textColour = ColourRef(r.U32(8)); break;
    case EMR_SETBKCOLOR: s.bkColour = ColourRef(r.U32(8)); break;
    case EMR_SETARCDIRECTION: s.clockwise = r.U32(8) == 2; break;
    case EMR_MOVETOEX:
      s.current = {double(r.I32(8)), double(r.I32(12))};
      if (inPath_) figureOpen_ = false;
      break;
    case EMR_LINETO: {
      PointF to{double(r.I32(8)), double(r.I32(12))};
      if (inPath_) {
        PathLineTo({Map(to.x, to.y)});
      } else {
        Shape({{Map(s.current.x, s.current.y), Map(to.x, to.y)}}, false, true, false);
      }
      s.current = to;
      break;
    }
    case EMR_SETPIXELV: {
      PointF p = Map(r.I32(8), r.I32(12));
      ApplyClip();
      canvas_.SetPixel(raster2d::PixelOf(p.x), raster2d::PixelOf(p.y), ColourRef(r.U32(16)));
      break;
    }
    case EMR_INTERSECTCLIPRECT: {
      Xform f = Full();
      PointF a = f.Apply({double(r.I32(8)), double(r.I32(12))}), b = f.Apply({double(r.I32(16)), double(r.I32(20))});
      ClipRect c{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
      if (s.clipped)
        c = {std::max(c.x0, s.clip.x0), std::max(c.y0, s.clip.y0), std::min(c.x1, s.clip.x1), std::min(c.y1, s.clip.y1)};
      s.clip = c;
      s.clipped = true;
      break;
    }
    case EMR_OFFSETCLIPRGN:
      if (s.clipped) {
        double dx = r.I32(8) * scaleX_, dy = r.I32(12) * scaleY_;
        s.clip = {s.clip.x0 + dx, s.clip.y0 + dy, s.clip.x1 + dx, s.clip.y1 + dy};
      }
      break;
    case EMR_SAVEDC:
      if (saved_.size() < 1024) saved_.push_back(s);
      break;
    case EMR_RESTOREDC: {
      int32_t n = r.I32(8);
      if (n >= 0 || size_t(-int64_t(n)) > saved_.size()) break;
      size_t keep = saved_.size() - size_t(-int64_t(n));
      state_ = saved_[keep];
      saved_.resize(keep);
      break;
    }
    case EMR_SETWORLDTRANSFORM:
      s.world = {r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28)};
      break;
    case EMR_MODIFYWORLDTRANSFORM: {
      Xform x{r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28)};
      switch (r.U32(32)) {
        case 1: s.world = Xform{}; break;               // MWT_IDENTITY
        case 2: s.world = x.Then(s.world); break;       // MWT_LEFTMULTIPLY
        case 3: s.world = s.world.Then(x); break;       // MWT_RIGHTMULTIPLY
        case 4: s.world = x; break;                     // MWT_SET
        default: break;
      }
      break;
    }
    case EMR_SELECTOBJECT: Select(r.U32(8)); break;
    case EMR_DELETEOBJECT:
      if (Object* o = Slot(r.U32(8))) *o = Object{};
      break;
    case EMR_CREATEPEN: {
      Object* o = Slot(r.U32(8));
      if (!o) break;
      *o = Object{};
      o->kind = Object::kPen;
      o->pen.null = (r.U32(12) & 0x0F) == 5;
      o->pen.width = r.I32(16);
      o->pen.colour = ColourRef(r.U32(24));
      break;
    }
    case EMR_EXTCREATEPEN: {
      Object* o = Slot(r.U32(8));
      if (!o) break;
      *o = Object{};
      o->kind = Object::kPen;
      uint32_t style = r.U32(28);
      o->pen.null = (style & 0x0F) == 5 || r.U32(36) == 1;  // PS_NULL or a null brush
      o->pen.width = (style & 0x10000) ? double(r.U32(32)) : 0;  // PS_GEOMETRIC
      if (o->pen.width > 1e7) o->pen.width = 1e7;
      o->pen.colour = ColourRef(r.U32(40));
      break;
    }
    case EMR_CREATEBRUSHINDIRECT: {
      Object* o = Slot(r.U32(8));
      if (!o) break;
      *o = Object{};
      o->kind = Object::kBrush;
      uint32_t style = r.U32(12);
      o->brush.paint.colour = ColourRef(r.U32(16));
      if (style == 1) {
        o->brush.null = true;
      } else if (style == 2) {
        o->brush.paint.kind = Paint::kHatch;
        o->brush.paint.hatch = int(std::min<uint32_t>(r.U32(20), 5));
      }
      break;
    }
    case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_CREATEMONOBRUSH: {
      Object* o = Slot(r.U32(8));
      if (!o) break;
      *o = Object{};
      o->kind = Object::kBrush;
      Bitmap b;
      if (ReadBitmap(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), b) &&
          uint64_t(b.width) * uint64_t(b.height) <= 1024 * 1024) {
        o->brush.paint.kind = Paint::kPattern;
        o->brush.paint.patternWidth = b.width;
        o->brush.paint.patternHeight = b.height;
        o->brush.paint.pattern = std::move(b.pixels);
      }
      break;
    }
    case EMR_EXTCREATEFONTINDIRECTW: {
      Object* o = Slot(r.U32(8));
      if (!o || !r.Has(12, 92)) break;
      *o = Object{};
      o->kind = Object::kFont;
      LogFont& lf = o->font.lf;
      lf.lfHeight = r.I32(12);
      lf.lfWidth = r.I32(16);
      lf.lfEscapement = r.I32(20);
      lf.lfOrientation = r.I32(24);
      lf.lfWeight = r.I32(28);
      lf.lfItalic = r.Bytes(32)[0];
      lf.lfUnderline = r.Bytes(33)[0];
      lf.lfStrikeOut = r.Bytes(34)[0];
      lf.lfCharSet = r.Bytes(35)[0];
      std::string face = Utf16ToUtf8(r, 40, 32);
      if (face.size() > 31) face.resize(31);
      std::memset(lf.lfFaceName, 0, sizeof lf.lfFaceName);
      std::memcpy(lf.lfFaceName, face.data(), face.size());
      o->font.set = true;
      break;
    }
    case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIER: case EMR_POLYLINETO: case EMR_POLYBEZIERTO:
      Poly(r, type, false);
      break;
    case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIER16: case EMR_POLYLINETO16: case EMR_POLYBEZIERTO16:
      Poly(r, type, true);
      break;
    case EMR_POLYPOLYGON: PolyPoly(r, true, false); break;
    case EMR_POLYPOLYGON16: PolyPoly(r, true, true); break;
    case EMR_POLYPOLYLINE: PolyPoly(r, false, false); break;
    case EMR_POLYPOLYLINE16: PolyPoly(r, false, true); break;
    case EMR_RECTANGLE: case EMR_ELLIPSE: case EMR_ROUNDRECT:
      Box(r, type);
      break;
    case EMR_ARC: case EMR_ARCTO: case EMR_CHORD: case EMR_PIE:
      Arc(r, type);
      break;
    case EMR_ANGLEARC: {
      double cx = r.I32(8), cy = r.I32(12), radius = r.U32(16);
      double start = r.F32(20) * kPi / 180, sweep = r.F32(24) * kPi / 180;
      if (radius > 1e7) break;
      Polygon p = ArcPoints(Full(), LengthScale(), cx, cy, radius, radius, start, sweep);
      if (inPath_) {
        PathLineTo(p);
      } else {
        p.insert(p.begin(), Map(s.current.x, s.current.y));
        Shape({p}, false, true, false);
      }
      s.current = {cx + radius * std::cos(start + sweep), cy - radius * std::sin(start + sweep)};
      break;
    }
    case EMR_BEGINPATH:
      inPath_ = true;
      path_.clear();
      figureOpen_ = false;
      break;
    case EMR_ENDPATH:
      inPath_ = false;
      break;
    case EMR_ABORTPATH:
      inPath_ = false;
      path_.clear();
      break;
    case EMR_CLOSEFIGURE:
      if (!path_.empty()) path_.back().closed = true;
      figureOpen_ = false;
      break;
    case EMR_FILLPATH:
    case EMR_STROKEPATH:
    case EMR_STROKEANDFILLPATH: {
      if (inPath_) break;
      bool fill = type != EMR_STROKEPATH, stroke = type != EMR_FILLPATH;
      ApplyClip();
      if (fill && !s.brush.null) {
        std::vector<Polygon> polys;
        for (const Figure& f : path_) polys.push_back(f.points);
        Paint paint = s.brush.paint;
        if (paint.kind == Paint::kHatch) {
          paint.opaqueBackground = s.bkMode == 2;
          paint.background = s.bkColour;
        }
        FillWith(polys, paint);
      }
      if (stroke && !s.pen.null) {
        double width = PenWidth();
        for (const Figure& f : path_) canvas_.Stroke(f.points, f.closed || fill, width, s.pen.colour);
      }
      path_.clear();
      break;
    }
    case EMR_SELECTCLIPPATH: {
      if (inPath_ || path_.empty()) break;
      double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
      for (const Figure& f : path_)
        for (const PointF& p : f.points) {
          x0 = std::min(x0, p.x);
          y0 = std::min(y0, p.y);
          x1 = std::max(x1, p.x);
          y1 = std::max(y1, p.y);
        }
      if (x0 <= x1 && y0 <= y1) {
        s.clip = {x0, y0, x1, y1};
        s.clipped = true;
      }
      path_.clear();
      break;
    }
    case EMR_FILLRGN: case EMR_PAINTRGN: case EMR_EXTSELECTCLIPRGN:
      Region(r, type);
      break;
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_STRETCHDIBITS: case EMR_SETDIBITSTODEVICE:
      BitmapRecord(r, type);
      break;
    case EMR_EXTTEXTOUTW: Text(r, true); break;
    case EMR_EXTTEXTOUTA: Text(r, false); break;
    default:
      break;  // records that do not draw, or that this player leaves out
  }
}

}  // namespace

std::string AnsiToUtf8(const uint8_t* text, size_t length, uint8_t charset) {
  // Code page 1251, 0x80 to 0xBF (0xC0 to 0xFF are U+0410 to U+044F).
  static const uint16_t k1251[64] = {
      0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
      0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
      0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
      0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
      0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
  std::string s;
  for (size_t i = 0; i < length; ++i) {
    uint8_t c = text[i];
    if (c == 0) break;
    if (c < 0x80 || charset != 204)
      AppendUtf8(s, c);
    else if (c >= 0xC0)
      AppendUtf8(s, 0x0410 + (c - 0xC0));
    else
      AppendUtf8(s, k1251[c - 0x80]);
  }
  return s;
}

bool IsEmf(const uint8_t* d, size_t n) {
  if (n < 88) return false;
  Record r(d, n);
  return r.U32(0) == EMR_HEADER && r.U32(40) == kEmfSignature;
}

bool DecodeEmf(CImage& image, const uint8_t* d, size_t n) {
  if (!IsEmf(d, n)) {
    image.SetLastError("not an enhanced metafile");
    return false;
  }
  Record header(d, n);
  const uint32_t headerSize = header.U32(4);
  if (headerSize < 88 || headerSize > n || headerSize % 4) {
    image.SetLastError("bad header record size");
    return false;
  }
  const int32_t bl = header.I32(8), bt = header.I32(12), br = header.I32(16), bb = header.I32(20);
  const int32_t fl = header.I32(24), ft = header.I32(28), fr = header.I32(32), fb = header.I32(36);
  const uint32_t handles = header.U16(56);
  int64_t devW = header.I32(72), devH = header.I32(76), mmW = header.I32(80), mmH = header.I32(84);
  // Reference device resolution in pixels per millimetre (96 dpi when the
  // header gives none).
  double perMmX = (devW > 0 && mmW > 0) ? double(devW) / double(mmW) : 96 / 25.4;
  double perMmY = (devH > 0 && mmH > 0) ? double(devH) / double(mmH) : 96 / 25.4;
  double frameX = fl / 100.0 * perMmX, frameY = ft / 100.0 * perMmY;
  double frameW = (int64_t(fr) - fl) / 100.0 * perMmX, frameH = (int64_t(fb) - ft) / 100.0 * perMmY;
  int64_t width = std::llround(frameW), height = std::llround(frameH);
  if (width <= 0 || height <= 0) {
    // No usable frame: the bounds, inclusive, in device pixels.
    frameX = bl;
    frameY = bt;
    width = int64_t(br) - bl + 1;
    height = int64_t(bb) - bt + 1;
    frameW = double(width);
    frameH = double(height);
  }
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  if (!image.Create(int(width), int(height), 24, image.GetType())) return false;
  std::memset(image.GetBits(), 0xFF, image.GetImageSize());
  Player player(image, perMmX, perMmY, {frameX, frameY}, double(width) / frameW, double(height) / frameH,
                handles);
  size_t pos = headerSize;
  uint64_t records = 0;
  while (pos + 8 <= n && !player.Exhausted()) {
    Record probe(d + pos, n - pos);
    uint32_t type = probe.U32(0), size = probe.U32(4);
    if (size < 8 || size % 4 || size > n - pos) break;  // damaged: keep what is drawn
    if (type == EMR_EOF) break;
    if (++records > 50000000) break;
    player.Play(Record(d + pos, size), type);
    pos += size;
  }
  image.SetNumFrames(1);
  return true;
}

}  // namespace metafile
