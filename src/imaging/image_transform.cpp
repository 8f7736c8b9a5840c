// CImage: exact geometry operations (rotations, flips, transposition, crop,
// padding, thumbnails). Every pixel moves unchanged, with its alpha; the
// palette, transparency and codec settings stay with the image.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "imaging/image.h"
#include "imaging/image_internal.h"

using imaging_detail::RowIndex;
using imaging_detail::SetRowIndex;

namespace {

// Where a pixel of the result comes from, in bottom-up coordinates:
//   source x = ax + xx * x' + xy * y',  source y = ay + yx * x' + yy * y'.
struct Orientation {
  long ax, xx, xy;
  long ay, yx, yy;
  bool swapsSides;  // width and height exchange
};

enum class Turn { Left, Right, Half, Transpose, Transverse };

Orientation OrientationOf(Turn turn, long w, long h) {
  switch (turn) {
    case Turn::Left:  // x' = h-1-y, y' = x
      return {0, 0, 1, h - 1, -1, 0, true};
    case Turn::Right:  // x' = y, y' = w-1-x
      return {w - 1, 0, -1, 0, 1, 0, true};
    case Turn::Half:
      return {w - 1, -1, 0, h - 1, 0, -1, false};
    case Turn::Transpose:  // top-left based (x, y) -> (y, x)
      return {w - 1, 0, -1, h - 1, -1, 0, true};
    case Turn::Transverse:
    default:
      return {0, 0, 1, 0, 1, 0, true};
  }
}

// Moves whole-byte pixels (bytesPerPixel 1 or 3) from src to dst by the
// orientation, in square tiles so that both sides stay in the cache.
template <int kBytes>
void RemapBytes(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                long dstW, long dstH, const Orientation& o) {
  constexpr long kTile = 64;
  const ptrdiff_t stepX = ptrdiff_t(o.yx) * srcStride + ptrdiff_t(o.xx) * kBytes;
  for (long ty = 0; ty < dstH; ty += kTile) {
    long yEnd = std::min(dstH, ty + kTile);
    for (long tx = 0; tx < dstW; tx += kTile) {
      long xEnd = std::min(dstW, tx + kTile);
      for (long y = ty; y < yEnd; ++y) {
        long sx = o.ax + o.xx * tx + o.xy * y;
        long sy = o.ay + o.yx * tx + o.yy * y;
        const uint8_t* s = src + ptrdiff_t(sy) * srcStride + ptrdiff_t(sx) * kBytes;
        uint8_t* d = dst + ptrdiff_t(y) * dstStride + ptrdiff_t(tx) * kBytes;
        for (long x = tx; x < xEnd; ++x) {
          if constexpr (kBytes == 3) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
          } else {
            d[0] = s[0];
          }
          d += kBytes;
          s += stepX;
        }
      }
    }
  }
}

// The same for packed 1 and 4 bit rows, one index at a time.
void RemapIndices(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, long dstW,
                  long dstH, int bpp, const Orientation& o) {
  for (long y = 0; y < dstH; ++y) {
    uint8_t* d = dst + size_t(y) * dstStride;
    for (long x = 0; x < dstW; ++x) {
      long sx = o.ax + o.xx * x + o.xy * y;
      long sy = o.ay + o.yx * x + o.yy * y;
      SetRowIndex(d, x, bpp, RowIndex(src + size_t(sy) * srcStride, sx, bpp));
    }
  }
}

// Copies count pixels of a row starting at pixel sx into a row at pixel dx.
void CopyRowPixels(const uint8_t* src, long sx, uint8_t* dst, long dx, long count, int bpp) {
  if (bpp == 24) {
    std::memcpy(dst + size_t(dx) * 3, src + size_t(sx) * 3, size_t(count) * 3);
  } else if (bpp == 8) {
    std::memcpy(dst + dx, src + sx, size_t(count));
  } else {
    for (long i = 0; i < count; ++i) SetRowIndex(dst, dx + i, bpp, RowIndex(src, sx + i, bpp));
  }
}

}  // namespace

// Builds the reoriented pixels and alpha in out (a fresh image); the
// caller gives it the attributes.
static bool Reorient(const CImage& self, Turn turn, CImage& out) {
  if (!self.IsValid()) {
    out.SetLastError("the image is empty");
    return false;
  }
  const long w = self.GetWidth(), h = self.GetHeight();
  const int bpp = self.GetBpp();
  Orientation o = OrientationOf(turn, w, h);
  const long nw = o.swapsSides ? h : w;
  const long nh = o.swapsSides ? w : h;
  if (!out.Create(int(nw), int(nh), bpp, self.GetType())) return false;

  const uint8_t* src = self.GetBits();
  uint8_t* d = out.GetBits();
  if (bpp == 24)
    RemapBytes<3>(src, ptrdiff_t(self.GetEffWidth()), d, ptrdiff_t(out.GetEffWidth()), nw, nh, o);
  else if (bpp == 8)
    RemapBytes<1>(src, ptrdiff_t(self.GetEffWidth()), d, ptrdiff_t(out.GetEffWidth()), nw, nh, o);
  else
    RemapIndices(src, self.GetEffWidth(), d, out.GetEffWidth(), nw, nh, bpp, o);

  if (self.AlphaIsValid()) {
    if (!out.AlphaCreate()) {
      out.SetLastError("out of memory");
      return false;
    }
    RemapBytes<1>(self.AlphaGetPointer(), w, out.AlphaGetPointer(), nw, nw, nh, o);
  }
  return true;
}

// The shared tail of the orientation operations: attributes, resolution
// (exchanged with the sides), delivery to dst or to the image itself.
#define LUMARO_FINISH_TURN(turn, swapsSides, name)               \
  CImage out;                                                    \
  if (!Reorient(*this, turn, out)) {                             \
    SetLastError(std::string(name) + ": " + out.GetLastError()); \
    return false;                                                \
  }                                                              \
  out.CopyAttributes(*this);                                     \
  if (swapsSides) std::swap(out.xdpi_, out.ydpi_);               \
  out.Transfer(dst ? *dst : *this);                              \
  return true

bool CImage::RotateLeft(CImage* dst) { LUMARO_FINISH_TURN(Turn::Left, true, "RotateLeft"); }

bool CImage::RotateRight(CImage* dst) { LUMARO_FINISH_TURN(Turn::Right, true, "RotateRight"); }

bool CImage::Rotate180(CImage* dst) { LUMARO_FINISH_TURN(Turn::Half, false, "Rotate180"); }

// Mirror and Flip work in place: no second buffer.
bool CImage::Mirror() {
  if (!IsValid()) {
    SetLastError("Mirror: the image is empty");
    return false;
  }
  std::vector<uint8_t> copy(bpp_ < 8 ? stride_ : 0);
  for (int y = 0; y < height_; ++y) {
    uint8_t* row = GetBits(y);
    if (bpp_ == 24) {
      for (long a = 0, b = width_ - 1; a < b; ++a, --b)
        for (int k = 0; k < 3; ++k) std::swap(row[a * 3 + k], row[b * 3 + k]);
    } else if (bpp_ == 8) {
      std::reverse(row, row + width_);
    } else {
      std::memcpy(copy.data(), row, stride_);
      for (long x = 0; x < width_; ++x)
        SetRowIndex(row, x, bpp_, RowIndex(copy.data(), width_ - 1 - x, bpp_));
    }
  }
  for (int y = 0; y < height_ && !alpha_.empty(); ++y) {
    uint8_t* a = alpha_.data() + size_t(y) * width_;
    std::reverse(a, a + width_);
  }
  dib_.clear();
  return true;
}

bool CImage::Flip() {
  if (!IsValid()) {
    SetLastError("Flip: the image is empty");
    return false;
  }
  for (int y = 0, z = height_ - 1; y < z; ++y, --z) {
    std::swap_ranges(GetBits(y), GetBits(y) + stride_, GetBits(z));
    if (!alpha_.empty())
      std::swap_ranges(alpha_.data() + size_t(y) * width_, alpha_.data() + size_t(y + 1) * width_,
                       alpha_.data() + size_t(z) * width_);
  }
  dib_.clear();
  return true;
}

bool CImage::Transpose() {
  CImage* dst = nullptr;
  LUMARO_FINISH_TURN(Turn::Transpose, true, "Transpose");
}

bool CImage::Transverse() {
  CImage* dst = nullptr;
  LUMARO_FINISH_TURN(Turn::Transverse, true, "Transverse");
}

#undef LUMARO_FINISH_TURN

bool CImage::Crop(long left, long top, long right, long bottom, CImage* dst) {
  if (!IsValid()) {
    SetLastError("Crop: the image is empty");
    return false;
  }
  // The rectangle is clipped to the image; nothing left is an error.
  left = std::max(left, 0L);
  top = std::max(top, 0L);
  right = std::min(right, long(width_));
  bottom = std::min(bottom, long(height_));
  if (right <= left || bottom <= top) {
    SetLastError("Crop: the rectangle lies outside the image");
    return false;
  }
  const long nw = right - left, nh = bottom - top;
  CImage out;
  if (!out.Create(int(nw), int(nh), bpp_, type_)) {
    SetLastError("Crop: " + out.GetLastError());
    return false;
  }
  out.CopyAttributes(*this);
  // Rows counted from the bottom: the rectangle's bottom row is
  // height - bottom.
  const long firstRow = height_ - bottom;
  for (long y = 0; y < nh; ++y)
    CopyRowPixels(GetBits(int(firstRow + y)), left, out.GetBits(int(y)), 0, nw, bpp_);
  if (!alpha_.empty()) {
    out.alpha_.resize(size_t(nw) * size_t(nh));
    for (long y = 0; y < nh; ++y)
      std::memcpy(out.alpha_.data() + size_t(y) * nw,
                  alpha_.data() + size_t(firstRow + y) * width_ + left, size_t(nw));
  }
  out.Transfer(dst ? *dst : *this);
  return true;
}

bool CImage::Expand(long newWidth, long newHeight, RGBQuad background, CImage* dst) {
  if (!IsValid()) {
    SetLastError("Expand: the image is empty");
    return false;
  }
  if (newWidth < width_ || newHeight < height_) {
    SetLastError("Expand: the new size is smaller than the image");
    return false;
  }
  CImage out;
  if (!out.Create(int(newWidth), int(newHeight), bpp_, type_)) {
    SetLastError("Expand: " + out.GetLastError());
    return false;
  }
  out.CopyAttributes(*this);
  const long left = (newWidth - width_) / 2;
  const long top = (newHeight - height_) / 2;
  const long bottomRow = newHeight - height_ - top;

  // Background first, everywhere.
  if (bpp_ == 24) {
    uint8_t* row0 = out.GetBits(0);
    for (long x = 0; x < newWidth; ++x) {
      row0[x * 3] = background.blue;
      row0[x * 3 + 1] = background.green;
      row0[x * 3 + 2] = background.red;
    }
    for (long y = 1; y < newHeight; ++y) std::memcpy(out.GetBits(int(y)), row0, out.stride_);
  } else {
    uint8_t index = GetNearestIndex(background);
    uint8_t* row0 = out.GetBits(0);
    for (long x = 0; x < newWidth; ++x) SetRowIndex(row0, x, bpp_, index);
    for (long y = 1; y < newHeight; ++y) std::memcpy(out.GetBits(int(y)), row0, out.stride_);
  }
  for (long y = 0; y < height_; ++y)
    CopyRowPixels(GetBits(int(y)), 0, out.GetBits(int(bottomRow + y)), left, width_, bpp_);
  if (!alpha_.empty()) {
    // The padding is opaque background.
    out.alpha_.assign(size_t(newWidth) * size_t(newHeight), 255);
    for (long y = 0; y < height_; ++y)
      std::memcpy(out.alpha_.data() + size_t(bottomRow + y) * newWidth + left,
                  alpha_.data() + size_t(y) * width_, size_t(width_));
  }
  out.Transfer(dst ? *dst : *this);
  return true;
}

bool CImage::Thumbnail(long width, long height, RGBQuad background, CImage* dst) {
  if (!IsValid()) {
    SetLastError("Thumbnail: the image is empty");
    return false;
  }
  if (width <= 0 || height <= 0) {
    SetLastError("Thumbnail: invalid box size");
    return false;
  }
  CImage work(*this);
  if (width_ > width || height_ > height) {
    // Fit inside the box keeping the proportions; never enlarge.
    double scale = (double(width_) < double(width) / double(height) * double(height_))
                       ? double(height) / double(height_)
                       : double(width) / double(width_);
    long nw = std::clamp(long(double(width_) * scale), 1L, width);
    long nh = std::clamp(long(double(height_) * scale), 1L, height);
    if (!work.Resample2(nw, nh, IM_BICUBIC2, OM_REPEAT)) {
      SetLastError("Thumbnail: " + work.GetLastError());
      return false;
    }
  }
  if (!work.Expand(width, height, background)) {
    SetLastError("Thumbnail: " + work.GetLastError());
    return false;
  }
  work.Transfer(dst ? *dst : *this);
  return true;
}
