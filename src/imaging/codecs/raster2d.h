// A small rasteriser for the metafile renderers: polygon fill with the
// even-odd or the winding rule, 1-pixel and thick lines, ellipses, arcs and
// Bezier curves turned into polygons, and bitmap blits. It draws into a
// 24-bit CImage with coordinates in pixels counted from the top-left corner
// (pixel (x, y) covers [x, x + 1) x [y, y + 1); a pixel is inside a shape when
// its centre is). No antialiasing, like the system drawing the metafiles were
// made for.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/image.h"

namespace raster2d {

struct PointF {
  double x = 0;
  double y = 0;
};

using Polygon = std::vector<PointF>;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// What fills a shape: a solid colour, a hatch of lines over an optional
// background, or a repeated bitmap.
struct Paint {
  enum Kind { kSolid, kHatch, kPattern } kind = kSolid;
  Rgb colour;
  int hatch = 0;           // 0 horizontal, 1 vertical, 2 "\", 3 "/", 4 cross, 5 diagonal cross
  bool opaqueBackground = false;
  Rgb background;
  int patternWidth = 0;    // pattern: rows from the top, anchored at (0, 0)
  int patternHeight = 0;
  std::vector<Rgb> pattern;
  // The colour at a pixel; false where the paint leaves the pixel alone.
  bool At(int x, int y, Rgb& out) const;
};

class Canvas {
 public:
  // Draws into image, which must be a valid 24-bit image.
  explicit Canvas(CImage& image);

  int width() const { return width_; }
  int height() const { return height_; }

  // Pixels outside [x0, x1) x [y0, y1) stay untouched (also limited to the
  // image).
  void SetClip(int x0, int y0, int x1, int y1);
  void ResetClip();

  // Every operation costs work units (pixels and edge steps); once the
  // budget is spent, drawing stops quietly. Guards against files made to
  // take forever. The default allows every pixel to be painted some
  // sixty times (a second or so of drawing).
  void SetBudget(uint64_t units) { budget_ = units; }
  bool Exhausted() const { return budget_ == 0; }
  // Takes units from the budget for work done elsewhere (text); false when
  // there were not enough left.
  bool Charge(uint64_t units) { return Spend(units); }

  void Fill(const Rgb& colour);
  void FillPolygons(const std::vector<Polygon>& polygons, bool winding, const Paint& paint);
  // A line one pixel wide from a to b; the end point itself is left out
  // unless includeEnd.
  void Line(PointF a, PointF b, const Rgb& colour, bool includeEnd = false);
  // A polyline: one pixel wide when width <= 1, else width wide with
  // bevelled joins and round ends.
  void Stroke(const Polygon& points, bool closed, double width, const Rgb& colour);
  void SetPixel(int x, int y, const Rgb& colour);
  // How a bitmap's pixels combine with those already there.
  enum class Op { kCopy, kAnd, kOr, kXor, kNotCopy };
  // Draws a bitmap (rows from the top, width x height) scaled to the
  // rectangle [dx, dx + dw) x [dy, dy + dh) by nearest pixel; negative sizes
  // mirror it.
  void Blit(const std::vector<Rgb>& pixels, int width, int height, double dx, double dy, double dw,
            double dh, Op op = Op::kCopy);

 private:
  bool Spend(uint64_t units);
  void StrokeWide(const Polygon& points, bool closed, double half, const Rgb& colour);
  void Span(int y, int x0, int x1, const Paint& paint);

  CImage& image_;
  int width_;
  int height_;
  int clipX0_ = 0, clipY0_ = 0, clipX1_ = 0, clipY1_ = 0;
  uint64_t budget_ = 0;
};

// The pixel a coordinate falls in (floor), kept within +-2^30; NaN gives
// a pixel far outside any picture.
int PixelOf(double v);
// The first pixel whose centre lies at or after v (ceil(v - 0.5)), likewise
// kept within range; used for edges of filled areas and clip rectangles.
int EdgeOf(double v);

// Points on an ellipse of centre (cx, cy) and radii (rx, ry), from angle
// start through sweep (radians, counter-clockwise as seen on the screen,
// where y grows downwards). The number of points follows the size.
Polygon EllipseArc(double cx, double cy, double rx, double ry, double start, double sweep);
// A cubic Bezier curve from p0 to p3 (p0 itself not included).
void AppendBezier(Polygon& out, PointF p0, PointF p1, PointF p2, PointF p3);

}  // namespace raster2d
