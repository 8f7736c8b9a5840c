// CImage: colour depth changes. Reduction maps every pixel to the nearest
// entry of a palette (given, or the standard one), optionally spreading the
// error with Floyd-Steinberg; expansion turns palette images into 24 bits.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "imaging/image.h"
#include "imaging/image_internal.h"

namespace imaging_detail {

namespace {
inline uint32_t Sq(int v) { return uint32_t(v * v); }

// Squared distance from v to the interval [lo, hi] and to its far end.
inline void Span(int v, int lo, int hi, uint32_t& nearSq, uint32_t& farSq) {
  int nearD = v < lo ? lo - v : (v > hi ? v - hi : 0);
  int farD = std::max(std::abs(v - lo), std::abs(v - hi));
  nearSq = Sq(nearD);
  farSq = Sq(farD);
}
}  // namespace

CNearestColor::CNearestColor(const RGBQuad* palette, int entries) : cellBlock_(32 * 32 * 32, 0) {
  entries = std::clamp(entries, 0, 256);
  for (int i = 0; i < entries; ++i) {
    red_.push_back(palette[i].red);
    green_.push_back(palette[i].green);
    blue_.push_back(palette[i].blue);
  }
  if (red_.empty()) {  // an empty palette maps everything to index 0
    red_.push_back(0);
    green_.push_back(0);
    blue_.push_back(0);
  }
}

uint32_t CNearestColor::BuildCell(uint32_t cell) {
  const int r0 = int(cell >> 10) << 3, g0 = int((cell >> 5) & 31) << 3, b0 = int(cell & 31) << 3;
  const size_t n = red_.size();
  // An entry can be nearest for some colour of the cell only if its nearest
  // distance to the cell is not above the smallest farthest distance.
  struct Candidate {
    uint32_t cellDistance;
    int index, red, green, blue;
  };
  Candidate cand[256];
  uint32_t nearest[256];
  uint32_t bound = UINT32_MAX;
  for (size_t i = 0; i < n; ++i) {
    uint32_t nr, fr, ng, fg, nb, fb;
    Span(red_[i], r0, r0 + 7, nr, fr);
    Span(green_[i], g0, g0 + 7, ng, fg);
    Span(blue_[i], b0, b0 + 7, nb, fb);
    nearest[i] = nr + ng + nb;
    bound = std::min(bound, fr + fg + fb);
  }
  int count = 0;
  for (size_t i = 0; i < n; ++i)
    if (nearest[i] <= bound)
      cand[count++] = Candidate{nearest[i], int(i), red_[i], green_[i], blue_[i]};
  // Nearest to the cell first: a search stops at the first candidate that
  // is farther from the cell than the best distance found.
  std::stable_sort(cand, cand + count, [](const Candidate& a, const Candidate& b) {
    return a.cellDistance < b.cellDistance;
  });
  const size_t block = answers_.size() >> 9;
  answers_.resize(answers_.size() + 512);
  uint8_t* out = &answers_[block << 9];
  for (int r = r0; r < r0 + 8; ++r)
    for (int g = g0; g < g0 + 8; ++g)
      for (int b = b0; b < b0 + 8; ++b) {
        uint32_t best = UINT32_MAX;
        int bestIndex = 0;
        for (int k = 0; k < count; ++k) {
          const Candidate& c = cand[k];
          if (c.cellDistance > best) break;
          uint32_t d = Sq(c.red - r) + Sq(c.green - g) + Sq(c.blue - b);
          if (d < best || (d == best && c.index < bestIndex)) {
            best = d;
            bestIndex = c.index;
          }
        }
        *out++ = uint8_t(bestIndex);
      }
  cellBlock_[cell] = uint32_t(block + 1);
  return uint32_t(block + 1);
}

std::vector<RGBQuad> StandardPalette(int bits) {
  std::vector<RGBQuad> pal;
  if (bits == 1) {
    pal = {RGBQuad{0, 0, 0, 0}, RGBQuad{255, 255, 255, 0}};
  } else if (bits == 4) {
    static const uint8_t vga[16][3] = {
        // red, green, blue
        {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
        {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
        {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (const auto& c : vga) pal.push_back(RGBQuad{c[2], c[1], c[0], 0});
  } else {
    // 6 levels of red, 7 of green, 6 of blue; then the four greys that the
    // cube lacks between black and white.
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 7; ++g)
        for (int b = 0; b < 6; ++b)
          pal.push_back(RGBQuad{uint8_t(b * 51), uint8_t((g * 255 + 3) / 6), uint8_t(r * 51), 0});
    for (int v : {51, 102, 153, 204}) pal.push_back(RGBQuad{uint8_t(v), uint8_t(v), uint8_t(v), 0});
  }
  return pal;
}

}  // namespace imaging_detail

using imaging_detail::CNearestColor;
using imaging_detail::RowIndex;
using imaging_detail::SetRowIndex;

namespace {

// One row of any depth as blue, green, red bytes.
void RowToBgr(const CImage& img, int y, uint8_t* out) {
  const uint8_t* row = img.GetBits(y);
  const int w = img.GetWidth();
  if (img.GetBpp() == 24) {
    std::memcpy(out, row, size_t(w) * 3);
    return;
  }
  const RGBQuad* pal = img.GetPalette();
  const uint32_t n = img.GetNumColors();
  for (int x = 0; x < w; ++x) {
    uint8_t i = RowIndex(row, x, img.GetBpp());
    RGBQuad c = (pal && i < n) ? pal[i] : RGBQuad{};
    out[x * 3] = c.blue;
    out[x * 3 + 1] = c.green;
    out[x * 3 + 2] = c.red;
  }
}

inline uint8_t Grey(int r, int g, int b) {
  return uint8_t((r * 299 + g * 587 + b * 114 + 500) / 1000);
}

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// An error kept in sixteenths, rounded to whole levels.
inline int Div16(int e) { return (e >= 0 ? e + 8 : e - 8) / 16; }

}  // namespace

bool CImage::DecreaseBpp(int bits, bool errorDiffusion, const RGBQuad* palette, uint32_t colours) {
  if (!IsValid()) {
    SetLastError("DecreaseBpp: the image is empty");
    return false;
  }
  if (bits != 1 && bits != 4 && bits != 8) {
    SetLastError("DecreaseBpp: unsupported bit depth " + std::to_string(bits));
    return false;
  }
  const uint32_t maxEntries = 1u << bits;

  // A palette image going to an equal or larger depth without a new palette
  // keeps its colours exactly: only the packing changes.
  if (!palette && bpp_ <= 8 && bits >= bpp_) {
    if (bits == bpp_) return true;
    CImage out;
    if (!out.Create(width_, height_, bits, type_)) {
      SetLastError("DecreaseBpp: " + out.GetLastError());
      return false;
    }
    for (int y = 0; y < height_; ++y) {
      const uint8_t* s = GetBits(y);
      uint8_t* d = out.GetBits(y);
      for (int x = 0; x < width_; ++x) SetRowIndex(d, x, bits, RowIndex(s, x, bpp_));
    }
    std::vector<RGBQuad> pal = palette_;
    pal.resize(maxEntries);
    out.CopyAttributes(*this);
    out.palette_ = std::move(pal);
    out.alpha_ = alpha_;
    out.Transfer(*this);
    return true;
  }

  std::vector<RGBQuad> pal;
  if (palette) {
    uint32_t n = (colours == 0 || colours > maxEntries) ? maxEntries : colours;
    pal.assign(palette, palette + n);
  } else {
    pal = imaging_detail::StandardPalette(bits);
  }
  const int used = int(pal.size());
  // Black and white without a given palette goes by brightness.
  const bool byGrey = !palette && bits == 1;

  CImage out;
  if (!out.Create(width_, height_, bits, type_)) {
    SetLastError("DecreaseBpp: " + out.GetLastError());
    return false;
  }
  std::vector<uint8_t> bgr;
  std::vector<int> errCur, errNext;
  try {
    bgr.resize(size_t(width_) * 3);
    if (errorDiffusion) {
      errCur.assign(size_t(width_ + 2) * 3, 0);
      errNext.assign(size_t(width_ + 2) * 3, 0);
    }
  } catch (const std::bad_alloc&) {
    SetLastError("DecreaseBpp: out of memory");
    return false;
  }
  CNearestColor nearest(pal.data(), used);

  // Top row first, the way the picture is seen, so the error flows down.
  for (int yt = 0; yt < height_; ++yt) {
    const int y = height_ - 1 - yt;
    RowToBgr(*this, y, bgr.data());
    uint8_t* d = out.GetBits(y);
    if (!errorDiffusion) {
      for (int x = 0; x < width_; ++x) {
        const uint8_t* c = &bgr[size_t(x) * 3];
        uint8_t idx;
        if (byGrey)
          idx = Grey(c[2], c[1], c[0]) >= 128 ? 1 : 0;
        else
          idx = nearest.Find(c[2], c[1], c[0]);
        SetRowIndex(d, x, bits, idx);
      }
      continue;
    }
    std::fill(errNext.begin(), errNext.end(), 0);
    // Errors are kept in sixteenths; entry x + 1 belongs to pixel x.
    for (int x = 0; x < width_; ++x) {
      const uint8_t* c = &bgr[size_t(x) * 3];
      int* e = &errCur[size_t(x + 1) * 3];
      uint8_t idx;
      int diff[3];
      if (byGrey) {
        int g = Clamp255(Grey(c[2], c[1], c[0]) + Div16(e[0]));
        idx = g >= 128 ? 1 : 0;
        diff[0] = diff[1] = diff[2] = g - (idx ? 255 : 0);
      } else {
        int b = Clamp255(c[0] + Div16(e[0]));
        int g = Clamp255(c[1] + Div16(e[1]));
        int r = Clamp255(c[2] + Div16(e[2]));
        idx = nearest.Find(uint8_t(r), uint8_t(g), uint8_t(b));
        diff[0] = b - pal[idx].blue;
        diff[1] = g - pal[idx].green;
        diff[2] = r - pal[idx].red;
      }
      SetRowIndex(d, x, bits, idx);
      int* right = e + 3;
      int* below = &errNext[size_t(x + 1) * 3];
      for (int k = 0; k < 3; ++k) {
        right[k] += diff[k] * 7;
        below[k - 3] += diff[k] * 3;
        below[k] += diff[k] * 5;
        below[k + 3] += diff[k];
      }
    }
    std::swap(errCur, errNext);
  }

  const long oldTrans = transIndex_;
  const RGBQuad oldTransColour = GetTransColor();
  const bool wasPalette = bpp_ <= 8;
  pal.resize(maxEntries);
  out.CopyAttributes(*this);
  out.palette_ = std::move(pal);
  out.alphaPalette_ = false;
  out.alpha_ = alpha_;
  if (oldTrans >= 0) {
    // The transparent index (or colour) becomes the entry nearest to it.
    out.transIndex_ = out.GetNearestIndex(oldTransColour);
    if (!wasPalette) out.transColor_ = oldTransColour;
  }
  out.Transfer(*this);
  return true;
}

bool CImage::IncreaseBpp(int bits) {
  if (!IsValid()) {
    SetLastError("IncreaseBpp: the image is empty");
    return false;
  }
  if (bits != 24) {
    SetLastError("IncreaseBpp: only 24 bits can be asked for");
    return false;
  }
  if (bpp_ == 24) return true;
  CImage out;
  if (!out.Create(width_, height_, 24, type_)) {
    SetLastError("IncreaseBpp: " + out.GetLastError());
    return false;
  }
  for (int y = 0; y < height_; ++y) RowToBgr(*this, y, out.GetBits(y));
  out.CopyAttributes(*this);
  out.palette_.clear();
  out.alphaPalette_ = false;
  out.alpha_ = alpha_;
  if (transIndex_ >= 0) {
    // The transparent index becomes a transparent colour.
    RGBQuad c = (size_t(transIndex_) < palette_.size()) ? palette_[size_t(transIndex_)] : RGBQuad{};
    c.reserved = 0;
    out.transColor_ = c;
  }
  if (alphaPalette_) {
    // Palette entries that carry alpha turn into an alpha plane.
    bool translucent = false;
    for (const RGBQuad& q : palette_) translucent |= q.reserved != 255;
    if (translucent) {
      if (out.alpha_.empty()) out.alpha_.assign(size_t(width_) * size_t(height_), 255);
      for (int y = 0; y < height_; ++y) {
        const uint8_t* s = GetBits(y);
        uint8_t* a = out.alpha_.data() + size_t(y) * width_;
        for (int x = 0; x < width_; ++x) {
          uint8_t i = RowIndex(s, x, bpp_);
          unsigned pa = i < palette_.size() ? palette_[i].reserved : 255;
          a[x] = uint8_t((a[x] * pa + 127) / 255);
        }
      }
    }
  }
  out.Transfer(*this);
  return true;
}
