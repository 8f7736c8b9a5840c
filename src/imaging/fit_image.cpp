#include "imaging/fit_image.h"

#include "imaging/resize.h"

void FitImageSize(long width, long height, long boxWidth, long boxHeight, long& fitWidth,
                  long& fitHeight) {
  fitWidth = width;
  fitHeight = height;
  if (width <= boxWidth && height <= boxHeight) return;
  // The automatic mode of the resize stage.
  ResizeOptions fit;
  fit.PercentsOrPixels = 1;
  fit.MaintainAspectRatio = 0;
  fit.Width = int(boxWidth);
  fit.Height = int(boxHeight);
  ComputeTargetSize(fit, unsigned(width), unsigned(height), fitWidth, fitHeight);
  // A very long, thin picture keeps at least one pixel across.
  if (fitWidth < 1) fitWidth = 1;
  if (fitHeight < 1) fitHeight = 1;
  if (fitWidth > boxWidth) fitWidth = boxWidth;
  if (fitHeight > boxHeight) fitHeight = boxHeight;
}

bool FitImageToBox(CImage& image, long boxWidth, long boxHeight, RGBQuad background,
                   int interpolation) {
  if (boxWidth <= 0 || boxHeight <= 0) {
    image.SetLastError("FitImageToBox: the box is empty");
    return false;
  }
  CImage copy;
  if (!copy.Copy(image, true, true, true) || !copy.IsValid()) {
    image.SetLastError("FitImageToBox: the image cannot be copied");
    return false;
  }
  if (copy.GetBpp() < 24 && !copy.IncreaseBpp(24)) {
    image.SetLastError("FitImageToBox: " + copy.GetLastError());
    return false;
  }
  long fitWidth = 0, fitHeight = 0;
  FitImageSize(copy.GetWidth(), copy.GetHeight(), boxWidth, boxHeight, fitWidth, fitHeight);
  if (fitWidth != copy.GetWidth() || fitHeight != copy.GetHeight()) {
    if (!copy.Resample2(fitWidth, fitHeight, interpolation, CImage::OM_REPEAT, nullptr,
                        interpolation == CImage::IM_NEAREST_NEIGHBOUR)) {
      image.SetLastError("FitImageToBox: " + copy.GetLastError());
      return false;
    }
  }
  if (!copy.Expand(boxWidth, boxHeight, background)) {
    image.SetLastError("FitImageToBox: " + copy.GetLastError());
    return false;
  }
  return copy.Transfer(image);
}
