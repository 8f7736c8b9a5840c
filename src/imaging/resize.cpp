#include "imaging/resize.h"

#include <climits>
#include <cmath>
#include <string>

#include "imaging/image.h"

namespace {

// Truncation toward zero that stays defined for any double: values beyond
// the range of long (from hand-edited settings) are held at its ends, and
// NaN gives 0.
long TruncToLong(double v) {
  if (std::isnan(v)) return 0;
  if (v >= double(LONG_MAX)) return LONG_MAX;
  if (v <= double(LONG_MIN)) return LONG_MIN;
  return long(v);
}

long RoundToLong(double v) { return TruncToLong(std::floor(v + 0.5)); }

int TruncToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= double(INT_MAX)) return INT_MAX;
  if (v <= double(INT_MIN)) return INT_MIN;
  return int(v);
}

}  // namespace

int DpiFromIndex(int index) {
  static const int kTable[] = {72, 96, 100, 200, 300, 600};
  if (index < 0) index = 0;
  if (index > 5) index = 5;
  return kTable[index];
}

bool ResizeApplies(const ResizeOptions& o) { return o.PercentsOrPixels != 0 || o.Percents != 100; }

void ComputeTargetSize(const ResizeOptions& o, unsigned width, unsigned height, long& newWidth,
                       long& newHeight) {
  const double W = width;
  const double H = height;
  if (o.PercentsOrPixels == 0) {
    newWidth = TruncToLong(W * o.Percents * 0.01);
    newHeight = TruncToLong(H * o.Percents * 0.01);
    return;
  }
  switch (o.MaintainAspectRatio) {
    case 0: {
      // The side that fills the box equals the box; the other keeps the
      // proportions, rounded to the nearest pixel. The comparison is exact
      // (64-bit products in a long double's mantissa).
      const long double wide = (long double)width * o.Height;
      const long double tall = (long double)height * o.Width;
      if (wide >= tall) {
        newWidth = o.Width;
        newHeight = width ? RoundToLong(H * double(o.Width) / W) : 0;
      } else {
        newHeight = o.Height;
        newWidth = height ? RoundToLong(W * double(o.Height) / H) : 0;
      }
      return;
    }
    case 2: {
      newWidth = o.Width;
      double q = o.Width != 0 ? W / double(o.Width) : 0.0;
      newHeight = q != 0.0 ? TruncToLong(H / q) : 0;
      return;
    }
    case 3: {
      newHeight = o.Height;
      double q = o.Height != 0 ? H / double(o.Height) : 0.0;
      newWidth = q != 0.0 ? TruncToLong(W / q) : 0;
      return;
    }
    default:
      newWidth = o.Width;
      newHeight = o.Height;
      return;
  }
}

bool ResampleByMode(CImage& image, long newWidth, long newHeight, int mode) {
  // A size the image library cannot make (0 or negative, or more pixels
  // than any decoder may produce) leaves the image as it is.
  if (newWidth <= 0 || newHeight <= 0) {
    image.SetLastError("cannot resize to " + std::to_string(newWidth) + "x" +
                       std::to_string(newHeight) + " pixels: the size is empty");
    return false;
  }
  if (newWidth > INT_MAX || newHeight > INT_MAX ||
      double(newWidth) * double(newHeight) > double(CImage::GetPixelLimit())) {
    image.SetLastError("cannot resize to " + std::to_string(newWidth) + "x" +
                       std::to_string(newHeight) + " pixels: the size is too large");
    return false;
  }
  switch (mode) {
    case 0:
      return image.Resample(newWidth, newHeight, 1);
    case 1:
      return image.Resample(newWidth, newHeight, 0);
    case 2:
      return image.Resample2(newWidth, newHeight, CImage::IM_BICUBIC, CImage::OM_REPEAT);
    case 3:
      return image.Resample2(newWidth, newHeight, CImage::IM_BICUBIC2, CImage::OM_REPEAT);
    case 4:
      return image.Resample2(newWidth, newHeight, CImage::IM_BSPLINE, CImage::OM_REPEAT);
    case 6:
      return image.Resample2(newWidth, newHeight, CImage::IM_HERMITE, CImage::OM_REPEAT);
    case 5:
    default:
      return image.Resample2(newWidth, newHeight, CImage::IM_LANCZOS, CImage::OM_REPEAT);
  }
}

bool ApplyResize(CImage& image, const ResizeOptions& o) {
  return ApplyResizeFrom(image, o, unsigned(image.GetWidth()), unsigned(image.GetHeight()));
}

bool ApplyResizeFrom(CImage& image, const ResizeOptions& o, unsigned sourceWidth,
                     unsigned sourceHeight) {
  if (o.PercentsOrPixels == 2) {
    image.SetXDPI(DpiFromIndex(o.Dpi));
    image.SetYDPI(DpiFromIndex(o.Dpi));
  }
  if (!ResizeApplies(o)) return true;
  long w = 0, h = 0;
  ComputeTargetSize(o, sourceWidth, sourceHeight, w, h);
  return ResampleByMode(image, w, h, o.ResamplingMode);
}

namespace {
double PixelsPerCm(int dpiIndex) { return DpiFromIndex(dpiIndex) * 0.39370078740157477; }
}  // namespace

int MillimetresToPixels(int millimetres, int dpiIndex) {
  return TruncToInt(std::floor(millimetres * PixelsPerCm(dpiIndex) * 0.1 + 0.5));
}

int PixelsToMillimetres(int pixels, int dpiIndex) {
  const int cm = TruncToInt(std::floor(pixels * (1.0 / PixelsPerCm(dpiIndex)) + 0.5));
  return cm > INT_MAX / 10 ? INT_MAX / 10 * 10 : cm < INT_MIN / 10 ? INT_MIN / 10 * 10 : cm * 10;
}
