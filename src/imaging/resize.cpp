#include "imaging/resize.h"

#include <cmath>

#include "imaging/image.h"

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
    newWidth = long(W * o.Percents * 0.01);
    newHeight = long(H * o.Percents * 0.01);
    return;
  }
  switch (o.MaintainAspectRatio) {
    case 0: {
      // The ratio, the comparison value and the factor are single precision.
      float r = o.Height != 0 ? float(double(o.Width) / double(o.Height)) : 0.0f;
      float t = float(H * double(r));
      float factor;
      if (W < double(t))
        factor = height ? float(double(o.Height) / H) : 0.0f;
      else
        factor = width ? float(double(o.Width) / W) : 0.0f;
      newWidth = long(W * double(factor));
      newHeight = long(H * double(factor));
      return;
    }
    case 2: {
      newWidth = o.Width;
      double q = o.Width != 0 ? W / double(o.Width) : 0.0;
      newHeight = q != 0.0 ? long(H / q) : 0;
      return;
    }
    case 3: {
      newHeight = o.Height;
      double q = o.Height != 0 ? H / double(o.Height) : 0.0;
      newWidth = q != 0.0 ? long(W / q) : 0;
      return;
    }
    default:
      newWidth = o.Width;
      newHeight = o.Height;
      return;
  }
}

bool ResampleByMode(CImage& image, long newWidth, long newHeight, int mode) {
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
  if (o.PercentsOrPixels == 2) {
    image.SetXDPI(DpiFromIndex(o.Dpi));
    image.SetYDPI(DpiFromIndex(o.Dpi));
  }
  if (!ResizeApplies(o)) return false;
  long w = 0, h = 0;
  ComputeTargetSize(o, unsigned(image.GetWidth()), unsigned(image.GetHeight()), w, h);
  return ResampleByMode(image, w, h, o.ResamplingMode);
}

namespace {
double PixelsPerCm(int dpiIndex) { return DpiFromIndex(dpiIndex) * 0.39370078740157477; }
}  // namespace

int MillimetresToPixels(int millimetres, int dpiIndex) {
  return int(std::floor(millimetres * PixelsPerCm(dpiIndex) * 0.1 + 0.5));
}

int PixelsToMillimetres(int pixels, int dpiIndex) {
  return int(std::floor(pixels * (1.0 / PixelsPerCm(dpiIndex)) + 0.5)) * 10;
}
