// CImage: resampling. Nearest pixel, and a separable filter with the usual
// kernels (box, triangle, Hermite, cubic B-spline, Catmull-Rom, Mitchell-
// Netravali, Lanczos-3).
//
// The filter works one output row at a time: the vertical pass combines the
// source rows that the row needs into a row of floats (integer arithmetic
// with 14-bit weights, 16 bytes at a time), then the horizontal pass filters
// that row into the output. Weights for every output column and row are
// computed once. When shrinking, the kernel is widened by the scale so that
// each output pixel averages all the source pixels it covers. Pixels beyond
// the edges repeat the edge pixels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/image.h"
#include "imaging/image_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using imaging_detail::RowIndex;
using imaging_detail::SetRowIndex;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;
// Above this many taps the 14-bit weights get too coarse; the vertical pass
// then works in floating point.
constexpr int kMaxFixedTaps = 48;

struct Kernel {
  double radius;
  double (*f)(double);
};

double BoxKernel(double x) { return (x >= -0.5 && x < 0.5) ? 1.0 : 0.0; }

double TriangleKernel(double x) {
  x = std::fabs(x);
  return x < 1.0 ? 1.0 - x : 0.0;
}

double HermiteKernel(double x) {
  x = std::fabs(x);
  return x < 1.0 ? (2.0 * x - 3.0) * x * x + 1.0 : 0.0;
}

// The cubic family of Mitchell and Netravali with parameters B and C.
template <int kB3, int kC3>  // B and C in thirds
double CubicKernel(double x) {
  constexpr double B = kB3 / 3.0, C = kC3 / 3.0;
  x = std::fabs(x);
  if (x < 1.0)
    return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
  if (x < 2.0)
    return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x +
            (8 * B + 24 * C)) /
           6;
  return 0.0;
}

double LanczosKernel(double x) {
  x = std::fabs(x);
  if (x < 1e-9) return 1.0;
  if (x >= 3.0) return 0.0;
  double px = kPi * x;
  return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

// Catmull-Rom: the cubic with B = 0, C = 1/2.
double CatmullRomKernel(double x) {
  x = std::fabs(x);
  if (x < 1.0) return (1.5 * x - 2.5) * x * x + 1.0;
  if (x < 2.0) return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
  return 0.0;
}

// Unknown methods get the soft cubic, the default of Resample2.
Kernel KernelOf(int interpolation) {
  switch (interpolation) {
    case CImage::IM_BILINEAR:
      return {1.0, TriangleKernel};
    case CImage::IM_BSPLINE:
      return {2.0, CubicKernel<3, 0>};
    case CImage::IM_BICUBIC:
      return {2.0, CatmullRomKernel};
    case CImage::IM_LANCZOS:
      return {3.0, LanczosKernel};
    case CImage::IM_BOX:
      return {0.5, BoxKernel};
    case CImage::IM_HERMITE:
      return {1.0, HermiteKernel};
    case CImage::IM_BICUBIC2:
    default:
      return {2.0, CubicKernel<1, 1>};
  }
}

// Which source pixels, with which weights, make each output pixel along
// one direction. Weights of output i start at i * taps.
struct Contributions {
  int taps = 0;
  std::vector<int> start;
  std::vector<int> count;
  std::vector<float> weights;         // normalised to a sum of 1
  std::vector<int16_t> fixedWeights;  // the same in 14-bit fixed point
};

bool BuildContributions(int srcSize, int dstSize, const Kernel& kernel, bool averaging,
                        Contributions& c) {
  const double scale = double(srcSize) / double(dstSize);
  const double filterScale = (averaging && scale > 1.0) ? scale : 1.0;
  const double support = kernel.radius * filterScale;
  const int maxTaps = int(std::ceil(support * 2.0)) + 3;
  std::vector<double> w;
  std::vector<std::vector<double>> all;
  try {
    c.start.assign(size_t(dstSize), 0);
    c.count.assign(size_t(dstSize), 0);
    all.resize(size_t(dstSize));
    w.resize(size_t(std::min(maxTaps, srcSize)) + 2);
  } catch (const std::bad_alloc&) {
    return false;
  }
  int taps = 1;
  for (int i = 0; i < dstSize; ++i) {
    const double centre = (i + 0.5) * scale;
    const long lo = long(std::floor(centre - support));
    const long hi = long(std::ceil(centre + support));
    const long first = std::clamp(lo, 0L, long(srcSize - 1));
    const long last = std::clamp(hi, 0L, long(srcSize - 1));
    std::fill(w.begin(), w.begin() + (last - first + 1), 0.0);
    double sum = 0.0;
    for (long j = lo; j <= hi; ++j) {
      double v = kernel.f((j + 0.5 - centre) / filterScale);
      if (v == 0.0) continue;
      // Pixels beyond the edges repeat the edge pixel.
      long k = std::clamp(j, 0L, long(srcSize - 1)) - first;
      w[size_t(k)] += v;
      sum += v;
    }
    long a = 0, b = last - first;
    if (std::fabs(sum) < 1e-12) {
      // A kernel narrower than the pixel spacing: take the nearest pixel.
      long nearest = std::clamp(long(centre), 0L, long(srcSize - 1)) - first;
      nearest = std::clamp(nearest, 0L, last - first);
      std::fill(w.begin(), w.begin() + (last - first + 1), 0.0);
      w[size_t(nearest)] = 1.0;
      sum = 1.0;
    }
    while (a < b && std::fabs(w[size_t(a)]) < 1e-9 * std::fabs(sum)) ++a;
    while (b > a && std::fabs(w[size_t(b)]) < 1e-9 * std::fabs(sum)) --b;
    c.start[size_t(i)] = int(first + a);
    c.count[size_t(i)] = int(b - a + 1);
    auto& mine = all[size_t(i)];
    mine.reserve(size_t(b - a + 1));
    for (long k = a; k <= b; ++k) mine.push_back(w[size_t(k)] / sum);
    taps = std::max(taps, int(b - a + 1));
  }
  c.taps = taps;
  try {
    c.weights.assign(size_t(dstSize) * size_t(taps), 0.0f);
    c.fixedWeights.assign(size_t(dstSize) * size_t(taps), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int i = 0; i < dstSize; ++i) {
    const auto& mine = all[size_t(i)];
    float* fw = &c.weights[size_t(i) * taps];
    int16_t* iw = &c.fixedWeights[size_t(i) * taps];
    int total = 0, largest = 0;
    for (size_t k = 0; k < mine.size(); ++k) {
      fw[k] = float(mine[k]);
      long q = std::lround(mine[k] * kWeightOne);
      q = std::clamp(q, -32768L, 32767L);
      iw[k] = int16_t(q);
      total += int(q);
      if (std::abs(iw[k]) > std::abs(iw[largest])) largest = int(k);
    }
    // The fixed-point weights add up to exactly one, so flat areas stay flat.
    int fixedLargest = iw[largest] + (kWeightOne - total);
    iw[largest] = int16_t(std::clamp(fixedLargest, -32768, 32767));
  }
  return true;
}

// ---- vertical pass: source rows -> one row of floats ------------------------

void VerticalFixed(const uint8_t* const* rows, const int16_t* w, int n, size_t len, float* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128 unit = _mm_set1_ps(1.0f / kWeightOne);
  // Weight pairs for _mm_madd_epi16: (w[k], w[k+1]) in every 32-bit lane.
  __m128i pairs[(kMaxFixedTaps + 1) / 2 + 1];
  const int np = (n + 1) / 2;
  for (int p = 0; p < np; ++p) {
    uint16_t w0 = uint16_t(w[2 * p]);
    uint16_t w1 = (2 * p + 1 < n) ? uint16_t(w[2 * p + 1]) : 0;
    pairs[p] = _mm_set1_epi32(int(uint32_t(w0) | (uint32_t(w1) << 16)));
  }
  for (; i + 16 <= len; i += 16) {
    __m128i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
    for (int p = 0; p < np; ++p) {
      const int k = 2 * p;
      __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      __m128i t =
          (k + 1 < n) ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i)) : zero;
      __m128i slo = _mm_unpacklo_epi8(s, zero), tlo = _mm_unpacklo_epi8(t, zero);
      __m128i shi = _mm_unpackhi_epi8(s, zero), thi = _mm_unpackhi_epi8(t, zero);
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi16(slo, tlo), pairs[p]));
      a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi16(slo, tlo), pairs[p]));
      a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi16(shi, thi), pairs[p]));
      a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi16(shi, thi), pairs[p]));
    }
    _mm_storeu_ps(out + i, _mm_mul_ps(_mm_cvtepi32_ps(a0), unit));
    _mm_storeu_ps(out + i + 4, _mm_mul_ps(_mm_cvtepi32_ps(a1), unit));
    _mm_storeu_ps(out + i + 8, _mm_mul_ps(_mm_cvtepi32_ps(a2), unit));
    _mm_storeu_ps(out + i + 12, _mm_mul_ps(_mm_cvtepi32_ps(a3), unit));
  }
#endif
  for (; i < len; ++i) {
    int acc = 0;
    for (int k = 0; k < n; ++k) acc += int(rows[k][i]) * w[k];
    out[i] = float(acc) * (1.0f / kWeightOne);
  }
}

void VerticalFloat(const uint8_t* const* rows, const float* w, int n, size_t len, float* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= len; i += 16) {
    __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (int k = 0; k < n; ++k) {
      const __m128 wk = _mm_set1_ps(w[k]);
      __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      __m128i lo = _mm_unpacklo_epi8(s, zero), hi = _mm_unpackhi_epi8(s, zero);
      a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero)), wk));
      a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero)), wk));
      a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero)), wk));
      a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero)), wk));
    }
    _mm_storeu_ps(out + i, a0);
    _mm_storeu_ps(out + i + 4, a1);
    _mm_storeu_ps(out + i + 8, a2);
    _mm_storeu_ps(out + i + 12, a3);
  }
#endif
  for (; i < len; ++i) {
    float acc = 0.0f;
    for (int k = 0; k < n; ++k) acc += w[k] * float(rows[k][i]);
    out[i] = acc;
  }
}

// ---- horizontal pass: row of floats -> output row ----------------------------

inline uint8_t ToByte(float v) {
  int q = int(std::lrint(v));
  return uint8_t(q < 0 ? 0 : (q > 255 ? 255 : q));
}

// Three interleaved channels; row holds one float of padding at its end.
void Horizontal3(const float* row, const Contributions& cx, int dstW, uint8_t* out) {
  const int taps = cx.taps;
  for (int x = 0; x < dstW; ++x) {
    const float* t = row + size_t(cx.start[size_t(x)]) * 3;
    const float* w = &cx.weights[size_t(x) * taps];
    const int n = cx.count[size_t(x)];
#if defined(__SSE2__)
    __m128 acc0 = _mm_setzero_ps(), acc1 = _mm_setzero_ps();
    int k = 0;
    for (; k + 1 < n; k += 2) {
      acc0 = _mm_add_ps(acc0, _mm_mul_ps(_mm_set1_ps(w[k]), _mm_loadu_ps(t + 3 * k)));
      acc1 = _mm_add_ps(acc1, _mm_mul_ps(_mm_set1_ps(w[k + 1]), _mm_loadu_ps(t + 3 * k + 3)));
    }
    if (k < n) acc0 = _mm_add_ps(acc0, _mm_mul_ps(_mm_set1_ps(w[k]), _mm_loadu_ps(t + 3 * k)));
    __m128i v = _mm_cvtps_epi32(_mm_add_ps(acc0, acc1));
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    uint32_t px = uint32_t(_mm_cvtsi128_si32(v));
    out[x * 3] = uint8_t(px);
    out[x * 3 + 1] = uint8_t(px >> 8);
    out[x * 3 + 2] = uint8_t(px >> 16);
#else
    float b = 0, g = 0, r = 0;
    for (int k = 0; k < n; ++k) {
      b += w[k] * t[3 * k];
      g += w[k] * t[3 * k + 1];
      r += w[k] * t[3 * k + 2];
    }
    out[x * 3] = ToByte(b);
    out[x * 3 + 1] = ToByte(g);
    out[x * 3 + 2] = ToByte(r);
#endif
  }
}

void Horizontal1(const float* row, const Contributions& cx, int dstW, uint8_t* out) {
  const int taps = cx.taps;
  for (int x = 0; x < dstW; ++x) {
    const float* t = row + cx.start[size_t(x)];
    const float* w = &cx.weights[size_t(x) * taps];
    const int n = cx.count[size_t(x)];
    float a = 0, b = 0;
    int k = 0;
    for (; k + 1 < n; k += 2) {
      a += w[k] * t[k];
      b += w[k + 1] * t[k + 1];
    }
    if (k < n) a += w[k] * t[k];
    out[x] = ToByte(a + b);
  }
}

// Resamples one plane of `channels` interleaved bytes per pixel (3 or 1).
bool ResamplePlane(const uint8_t* src, size_t srcStride, int srcW, uint8_t* dst, size_t dstStride,
                   int dstW, int dstH, int channels, const Contributions& cx,
                   const Contributions& cy) {
  const size_t len = size_t(srcW) * size_t(channels);
  std::vector<float> row;
  std::vector<const uint8_t*> rows;
  try {
    row.assign(len + 4, 0.0f);
    rows.resize(size_t(cy.taps));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const bool fixed = cy.taps <= kMaxFixedTaps;
  for (int y = 0; y < dstH; ++y) {
    const int first = cy.start[size_t(y)];
    const int n = cy.count[size_t(y)];
    for (int k = 0; k < n; ++k) rows[size_t(k)] = src + size_t(first + k) * srcStride;
    if (fixed)
      VerticalFixed(rows.data(), &cy.fixedWeights[size_t(y) * cy.taps], n, len, row.data());
    else
      VerticalFloat(rows.data(), &cy.weights[size_t(y) * cy.taps], n, len, row.data());
    uint8_t* out = dst + size_t(y) * dstStride;
    if (channels == 3)
      Horizontal3(row.data(), cx, dstW, out);
    else
      Horizontal1(row.data(), cx, dstW, out);
  }
  return true;
}

// Source position of output pixel i: the pixel under its centre.
std::vector<int> NearestTable(int srcSize, int dstSize) {
  std::vector<int> t(static_cast<size_t>(dstSize));
  for (int i = 0; i < dstSize; ++i) {
    int64_t s = (int64_t(2 * int64_t(i) + 1) * srcSize) / (2 * int64_t(dstSize));
    t[size_t(i)] = int(std::min<int64_t>(s, srcSize - 1));
  }
  return t;
}

}  // namespace

// Nearest pixel at any depth; palette images stay palette images.
static bool ResampleNearest(const CImage& self, long newWidth, long newHeight, CImage& out) {
  const int w = self.GetWidth(), h = self.GetHeight(), bpp = self.GetBpp();
  if (!out.Create(int(newWidth), int(newHeight), bpp, self.GetType())) return false;
  std::vector<int> xs, ys;
  try {
    xs = NearestTable(w, int(newWidth));
    ys = NearestTable(h, int(newHeight));
  } catch (const std::bad_alloc&) {
    out.SetLastError("out of memory");
    return false;
  }
  for (long y = 0; y < newHeight; ++y) {
    const uint8_t* s = self.GetBits(ys[size_t(y)]);
    uint8_t* d = out.GetBits(int(y));
    if (bpp == 24) {
      for (long x = 0; x < newWidth; ++x) {
        const uint8_t* p = s + size_t(xs[size_t(x)]) * 3;
        d[x * 3] = p[0];
        d[x * 3 + 1] = p[1];
        d[x * 3 + 2] = p[2];
      }
    } else if (bpp == 8) {
      for (long x = 0; x < newWidth; ++x) d[x] = s[xs[size_t(x)]];
    } else {
      for (long x = 0; x < newWidth; ++x) SetRowIndex(d, x, bpp, RowIndex(s, xs[size_t(x)], bpp));
    }
  }
  if (self.AlphaIsValid()) {
    if (!out.AlphaCreate()) return false;
    for (long y = 0; y < newHeight; ++y) {
      const uint8_t* s = self.AlphaGetPointer(0, ys[size_t(y)]);
      uint8_t* d = out.AlphaGetPointer(0, int(y));
      for (long x = 0; x < newWidth; ++x) d[x] = s[xs[size_t(x)]];
    }
  }
  return true;
}

// The separable filter on a 24-bit image (and its alpha plane).
static bool ResampleFiltered(const CImage& src, long newWidth, long newHeight, const Kernel& kernel,
                             bool averaging, CImage& out) {
  if (!out.Create(int(newWidth), int(newHeight), 24, src.GetType())) return false;
  Contributions cx, cy;
  if (!BuildContributions(src.GetWidth(), int(newWidth), kernel, averaging, cx) ||
      !BuildContributions(src.GetHeight(), int(newHeight), kernel, averaging, cy) ||
      !ResamplePlane(src.GetBits(), src.GetEffWidth(), src.GetWidth(), out.GetBits(),
                     out.GetEffWidth(), int(newWidth), int(newHeight), 3, cx, cy)) {
    out.SetLastError("out of memory");
    return false;
  }
  if (src.AlphaIsValid()) {
    if (!out.AlphaCreate() ||
        !ResamplePlane(src.AlphaGetPointer(), size_t(src.GetWidth()), src.GetWidth(),
                       out.AlphaGetPointer(), size_t(newWidth), int(newWidth), int(newHeight), 1,
                       cx, cy)) {
      out.SetLastError("out of memory");
      return false;
    }
  }
  return true;
}

bool CImage::Resample(long newWidth, long newHeight, int mode, CImage* dst) {
  if (mode == 1) return Resample2(newWidth, newHeight, IM_NEAREST_NEIGHBOUR, OM_REPEAT, dst, true);
  return Resample2(newWidth, newHeight, IM_BILINEAR, OM_REPEAT, dst, false);
}

bool CImage::Resample2(long newWidth, long newHeight, int interpolation, int /*overflow*/,
                       CImage* dst, bool disableAveraging) {
  // Every overflow method repeats the edge pixels.
  if (!IsValid()) {
    SetLastError("Resample: the image is empty");
    return false;
  }
  if (newWidth <= 0 || newHeight <= 0) {
    SetLastError("Resample: invalid target size " + std::to_string(newWidth) + "x" +
                 std::to_string(newHeight));
    return false;
  }
  if (newWidth > 0x7FFFFFF || newHeight > 0x7FFFFFF ||
      uint64_t(newWidth) * uint64_t(newHeight) > GetPixelLimit()) {
    SetLastError("Resample: the target size is above the pixel limit");
    return false;
  }
  CImage out;
  if (newWidth == width_ && newHeight == height_) {
    // Nothing to resample: the same pixels.
    if (!dst || dst == this) return true;
    return dst->Copy(*this);
  }
  if (interpolation == IM_NEAREST_NEIGHBOUR) {
    if (!ResampleNearest(*this, newWidth, newHeight, out)) {
      SetLastError("Resample: " + out.GetLastError());
      return false;
    }
    out.CopyAttributes(*this);
    out.Transfer(dst ? *dst : *this);
    return true;
  }
  const CImage* src = this;
  CImage trueColour;
  if (bpp_ != 24) {
    // Filters mix colours, so palette images become true colour first.
    if (!trueColour.Copy(*this) || !trueColour.IncreaseBpp(24)) {
      SetLastError("Resample: " + trueColour.GetLastError());
      return false;
    }
    src = &trueColour;
  }
  if (!ResampleFiltered(*src, newWidth, newHeight, KernelOf(interpolation), !disableAveraging,
                        out)) {
    SetLastError("Resample: " + out.GetLastError());
    return false;
  }
  out.CopyAttributes(*src);
  out.Transfer(dst ? *dst : *this);
  return true;
}
