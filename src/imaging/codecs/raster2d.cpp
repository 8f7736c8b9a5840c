#include "imaging/codecs/raster2d.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace raster2d {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Coordinates are kept within this range before they become integers.
constexpr double kFar = 1 << 30;

bool Finite(const PointF& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

int ClampToInt(double v) { return std::isnan(v) ? -int(kFar) : int(std::clamp(v, -kFar, kFar)); }

double SignedArea(const Polygon& p) {
  double a = 0;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) a += (p[j].x - p[i].x) * (p[j].y + p[i].y);
  return a;
}

struct Edge {
  double x0, y0, x1, y1;  // y0 < y1
  int dir;
};

}  // namespace

int PixelOf(double v) { return ClampToInt(std::floor(v)); }
int EdgeOf(double v) { return ClampToInt(std::ceil(v - 0.5)); }

bool Paint::At(int x, int y, Rgb& out) const {
  switch (kind) {
    case kSolid:
      out = colour;
      return true;
    case kPattern:
      if (patternWidth <= 0 || patternHeight <= 0 || pattern.empty()) {
        out = colour;
        return true;
      }
      out = pattern[size_t(((y % patternHeight) + patternHeight) % patternHeight) * size_t(patternWidth) +
                    size_t(((x % patternWidth) + patternWidth) % patternWidth)];
      return true;
    case kHatch: {
      int hx = x & 7, hy = y & 7;
      bool on = false;
      switch (hatch) {
        case 0: on = hy == 0; break;                               // horizontal
        case 1: on = hx == 0; break;                               // vertical
        case 2: on = hx == hy; break;                              // "\"
        case 3: on = hx == 7 - hy; break;                          // "/"
        case 4: on = hx == 0 || hy == 0; break;                    // cross
        default: on = hx == hy || hx == 7 - hy; break;             // diagonal cross
      }
      if (on) {
        out = colour;
        return true;
      }
      if (opaqueBackground) {
        out = background;
        return true;
      }
      return false;
    }
  }
  return false;
}

Canvas::Canvas(CImage& image) : image_(image), width_(image.GetWidth()), height_(image.GetHeight()) {
  ResetClip();
  budget_ = std::min<uint64_t>(uint64_t(1) << 31, uint64_t(width_) * uint64_t(height_) * 64 + (uint64_t(1) << 24));
}

void Canvas::SetClip(int x0, int y0, int x1, int y1) {
  clipX0_ = std::clamp(x0, 0, width_);
  clipY0_ = std::clamp(y0, 0, height_);
  clipX1_ = std::clamp(x1, clipX0_, width_);
  clipY1_ = std::clamp(y1, clipY0_, height_);
}

void Canvas::ResetClip() {
  clipX0_ = clipY0_ = 0;
  clipX1_ = width_;
  clipY1_ = height_;
}

bool Canvas::Spend(uint64_t units) {
  if (budget_ < units) {
    budget_ = 0;
    return false;
  }
  budget_ -= units;
  return true;
}

void Canvas::SetPixel(int x, int y, const Rgb& c) {
  if (x < clipX0_ || x >= clipX1_ || y < clipY0_ || y >= clipY1_) return;
  uint8_t* p = image_.TopRow(y) + size_t(x) * 3;
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

void Canvas::Fill(const Rgb& c) {
  if (!Spend(uint64_t(width_) * uint64_t(height_))) return;
  for (int y = 0; y < height_; ++y) {
    uint8_t* p = image_.TopRow(y);
    for (int x = 0; x < width_; ++x, p += 3) {
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  }
}

void Canvas::Span(int y, int x0, int x1, const Paint& paint) {
  x0 = std::max(x0, clipX0_);
  x1 = std::min(x1, clipX1_);
  if (x0 >= x1 || !Spend(uint64_t(x1 - x0))) return;
  uint8_t* row = image_.TopRow(y);
  Rgb c;
  for (int x = x0; x < x1; ++x) {
    if (!paint.At(x, y, c)) continue;
    uint8_t* p = row + size_t(x) * 3;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
  }
}

void Canvas::FillPolygons(const std::vector<Polygon>& polygons, bool winding, const Paint& paint) {
  std::vector<Edge> edges;
  double top = kFar, bottom = -kFar;
  for (const Polygon& poly : polygons) {
    if (poly.size() < 3) continue;
    bool finite = true;
    for (const PointF& p : poly)
      if (!Finite(p)) finite = false;
    if (!finite) continue;
    for (size_t i = 0; i < poly.size(); ++i) {
      PointF a = poly[i], b = poly[(i + 1) % poly.size()];
      a.x = std::clamp(a.x, -kFar, kFar);
      a.y = std::clamp(a.y, -kFar, kFar);
      b.x = std::clamp(b.x, -kFar, kFar);
      b.y = std::clamp(b.y, -kFar, kFar);
      if (a.y == b.y) continue;
      if (a.y < b.y)
        edges.push_back({a.x, a.y, b.x, b.y, 1});
      else
        edges.push_back({b.x, b.y, a.x, a.y, -1});
      top = std::min(top, std::min(a.y, b.y));
      bottom = std::max(bottom, std::max(a.y, b.y));
    }
  }
  if (edges.empty() || !Spend(edges.size())) return;
  // Rows whose centre lies inside [top, bottom).
  int yStart = std::max(clipY0_, ClampToInt(std::ceil(top - 0.5)));
  int yEnd = std::min(clipY1_, ClampToInt(std::ceil(bottom - 0.5)));
  if (yStart >= yEnd) return;
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
  std::vector<const Edge*> active;
  std::vector<std::pair<double, int>> crossings;
  size_t next = 0;
  for (int y = yStart; y < yEnd; ++y) {
    const double yc = y + 0.5;
    while (next < edges.size() && edges[next].y0 <= yc) active.push_back(&edges[next++]);
    active.erase(std::remove_if(active.begin(), active.end(), [yc](const Edge* e) { return e->y1 <= yc; }),
                 active.end());
    // Crossings left of the clip rectangle only count towards the winding
    // number or parity at its left edge, those right of it do not matter:
    // only the ones in between need sorting.
    const double left = clipX0_ - 0.5, right = clipX1_ + 0.5;
    int base = 0;
    crossings.clear();
    for (const Edge* e : active) {
      if (e->y0 > yc) continue;
      double x = e->x0 + (yc - e->y0) * (e->x1 - e->x0) / (e->y1 - e->y0);
      if (x < left)
        base += winding ? e->dir : 1;
      else if (x < right)
        crossings.emplace_back(x, e->dir);
    }
    uint64_t k = crossings.size();
    if (!Spend(active.size() + k * uint64_t(std::bit_width(k) + 1) + 1)) return;
    std::sort(crossings.begin(), crossings.end());
    auto inside = [winding](int count) { return winding ? count != 0 : (count & 1) != 0; };
    int count = base;
    double from = left;
    for (const auto& [x, dir] : crossings) {
      if (inside(count)) Span(y, EdgeOf(from), EdgeOf(x), paint);
      count += winding ? dir : 1;
      from = x;
    }
    if (inside(count)) Span(y, EdgeOf(from), clipX1_, paint);
  }
}

void Canvas::Line(PointF a, PointF b, const Rgb& c, bool includeEnd) {
  if (!Finite(a) || !Finite(b)) return;
  // Clip to a little more than the clip rectangle so that the loop below
  // never walks far outside the picture.
  double x0 = a.x, y0 = a.y, x1 = b.x, y1 = b.y;
  const double minX = clipX0_ - 2, minY = clipY0_ - 2, maxX = clipX1_ + 2, maxY = clipY1_ + 2;
  double t0 = 0, t1 = 1, dx = x1 - x0, dy = y1 - y0;
  auto clip = [&](double p, double q) {
    if (p == 0) return q >= 0;
    double r = q / p;
    if (p < 0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
    return true;
  };
  if (!clip(-dx, x0 - minX) || !clip(dx, maxX - x0) || !clip(-dy, y0 - minY) || !clip(dy, maxY - y0)) return;
  if (t1 < 1) includeEnd = true;  // the real end point lies outside anyway
  PointF s{x0 + t0 * dx, y0 + t0 * dy}, e{x0 + t1 * dx, y0 + t1 * dy};
  int ix0 = int(std::floor(s.x)), iy0 = int(std::floor(s.y));
  int ix1 = int(std::floor(e.x)), iy1 = int(std::floor(e.y));
  int ddx = std::abs(ix1 - ix0), ddy = -std::abs(iy1 - iy0);
  int sx = ix0 < ix1 ? 1 : -1, sy = iy0 < iy1 ? 1 : -1;
  if (!Spend(uint64_t(ddx - ddy + 1))) return;
  int err = ddx + ddy;
  for (;;) {
    bool last = ix0 == ix1 && iy0 == iy1;
    if (!last || includeEnd) SetPixel(ix0, iy0, c);
    if (last) break;
    int e2 = 2 * err;
    if (e2 >= ddy) {
      err += ddy;
      ix0 += sx;
    }
    if (e2 <= ddx) {
      err += ddx;
      iy0 += sy;
    }
  }
}

void Canvas::Stroke(const Polygon& points, bool closed, double width, const Rgb& c) {
  if (points.empty()) return;
  const size_t n = points.size();
  if (width <= 1.0 || !std::isfinite(width)) {
    if (n == 1) {
      SetPixel(PixelOf(points[0].x), PixelOf(points[0].y), c);
      return;
    }
    // Each segment leaves its end point to the next one; an open polyline
    // leaves its last point out.
    for (size_t i = 0; i + 1 < n; ++i) Line(points[i], points[i + 1], c);
    if (closed) Line(points[n - 1], points[0], c);
    return;
  }
  width = std::min(width, kFar);
  const double half = width / 2;
  // Points much closer together than the pen is wide add nothing that shows
  // (finely divided curves under a thick pen): keep one every eighth of the
  // width, and the last one.
  Polygon kept;
  const double spacing = std::max(1.0, width / 8);
  for (size_t i = 0; i < n; ++i) {
    if (!kept.empty() && i + 1 < n &&
        std::hypot(points[i].x - kept.back().x, points[i].y - kept.back().y) < spacing)
      continue;
    kept.push_back(points[i]);
  }
  StrokeWide(kept, closed, half, c);
}

void Canvas::StrokeWide(const Polygon& points, bool closed, double half, const Rgb& c) {
  const size_t n = points.size();
  std::vector<Polygon> shapes;
  Paint paint;
  paint.colour = c;
  auto add = [&](Polygon p) {
    if (p.size() < 3) return;
    if (SignedArea(p) < 0) std::reverse(p.begin(), p.end());
    shapes.push_back(std::move(p));
  };
  // One quadrilateral per segment, and at each joint the two triangles that
  // close the gap between neighbouring segments (a bevel); round caps at the
  // ends of an open line. Joints of finely divided curves need nothing more.
  const size_t segments = closed ? n : n - 1;
  bool havePrevious = false;
  PointF previousNormal{}, firstNormal{};
  bool haveFirst = false;
  for (size_t i = 0; i < segments; ++i) {
    PointF a = points[i], b = points[(i + 1) % n];
    double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
    if (!(len > 0) || !std::isfinite(len)) continue;
    PointF nrm{-dy / len * half, dx / len * half};
    add({{a.x + nrm.x, a.y + nrm.y}, {b.x + nrm.x, b.y + nrm.y}, {b.x - nrm.x, b.y - nrm.y}, {a.x - nrm.x, a.y - nrm.y}});
    if (havePrevious) {
      add({a, {a.x + previousNormal.x, a.y + previousNormal.y}, {a.x + nrm.x, a.y + nrm.y}});
      add({a, {a.x - previousNormal.x, a.y - previousNormal.y}, {a.x - nrm.x, a.y - nrm.y}});
    }
    if (!haveFirst) {
      firstNormal = nrm;
      haveFirst = true;
    }
    previousNormal = nrm;
    havePrevious = true;
  }
  if (closed && haveFirst) {
    PointF a = points[0];
    add({a, {a.x + previousNormal.x, a.y + previousNormal.y}, {a.x + firstNormal.x, a.y + firstNormal.y}});
    add({a, {a.x - previousNormal.x, a.y - previousNormal.y}, {a.x - firstNormal.x, a.y - firstNormal.y}});
  }
  if (!closed || !haveFirst) {
    add(EllipseArc(points[0].x, points[0].y, half, half, 0, 2 * kPi));
    if (n > 1) add(EllipseArc(points[n - 1].x, points[n - 1].y, half, half, 0, 2 * kPi));
  }
  FillPolygons(shapes, true, paint);
}

void Canvas::Blit(const std::vector<Rgb>& pixels, int w, int h, double dx, double dy, double dw, double dh,
                  Op op) {
  if (w <= 0 || h <= 0 || pixels.size() < size_t(w) * size_t(h) || dw == 0 || dh == 0) return;
  if (!std::isfinite(dx) || !std::isfinite(dy) || !std::isfinite(dw) || !std::isfinite(dh)) return;
  double left = std::min(dx, dx + dw), right = std::max(dx, dx + dw);
  double top = std::min(dy, dy + dh), bottom = std::max(dy, dy + dh);
  int x0 = std::max(clipX0_, ClampToInt(std::ceil(left - 0.5)));
  int x1 = std::min(clipX1_, ClampToInt(std::ceil(right - 0.5)));
  int y0 = std::max(clipY0_, ClampToInt(std::ceil(top - 0.5)));
  int y1 = std::min(clipY1_, ClampToInt(std::ceil(bottom - 0.5)));
  if (x0 >= x1 || y0 >= y1) return;
  if (!Spend(uint64_t(x1 - x0) * uint64_t(y1 - y0))) return;
  for (int y = y0; y < y1; ++y) {
    int sy = int(std::clamp(std::floor((y + 0.5 - dy) / dh * h), 0.0, double(h - 1)));
    for (int x = x0; x < x1; ++x) {
      int sx = int(std::clamp(std::floor((x + 0.5 - dx) / dw * w), 0.0, double(w - 1)));
      const Rgb& c = pixels[size_t(sy) * size_t(w) + size_t(sx)];
      uint8_t* p = image_.TopRow(y) + size_t(x) * 3;
      const uint8_t src[3] = {c.b, c.g, c.r};
      for (int k = 0; k < 3; ++k) {
        switch (op) {
          case Op::kCopy: p[k] = src[k]; break;
          case Op::kAnd: p[k] &= src[k]; break;
          case Op::kOr: p[k] |= src[k]; break;
          case Op::kXor: p[k] ^= src[k]; break;
          case Op::kNotCopy: p[k] = uint8_t(~src[k]); break;
        }
      }
    }
  }
}

Polygon EllipseArc(double cx, double cy, double rx, double ry, double start, double sweep) {
  Polygon out;
  if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(rx) || !std::isfinite(ry) ||
      !std::isfinite(start) || !std::isfinite(sweep))
    return out;
  rx = std::fabs(rx);
  ry = std::fabs(ry);
  double r = std::max(rx, ry);
  // Steps that keep the polygon within a quarter pixel of the curve.
  double step = r > 0.5 ? 2 * std::acos(std::max(0.0, 1 - 0.25 / r)) : kPi / 4;
  double steps = step > 0 ? std::ceil(std::fabs(sweep) / step) : 4096.0;
  int count = int(std::clamp(std::isnan(steps) ? 4096.0 : steps, 4.0, 4096.0));
  out.reserve(size_t(count) + 1);
  for (int i = 0; i <= count; ++i) {
    double t = start + sweep * i / count;
    out.push_back({cx + rx * std::cos(t), cy - ry * std::sin(t)});
  }
  return out;
}

void AppendBezier(Polygon& out, PointF p0, PointF p1, PointF p2, PointF p3) {
  double len = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
               std::hypot(p3.x - p2.x, p3.y - p2.y);
  int count = std::isfinite(len) ? int(std::clamp(std::ceil(len / 2), 4.0, 256.0)) : 4;
  for (int i = 1; i <= count; ++i) {
    double t = double(i) / count, u = 1 - t;
    double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    out.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
  }
}

}  // namespace raster2d
