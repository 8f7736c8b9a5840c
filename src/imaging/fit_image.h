// Fitting a picture into a fixed box: the thumbnails of the file list and
// the preview of the folder tree's selection.
#pragma once

#include "imaging/image.h"

// Replaces image with a picture of exactly boxWidth x boxHeight: an image
// larger than the box in either direction is first shrunk with Resample2
// (interpolation as given, edge pixels repeated; averaging off for nearest
// neighbour) by the fit factor of the resize stage's automatic mode, then
// the picture is centred on a canvas of the background colour. A smaller
// image is not enlarged. Palette images become 24-bit first so that the
// canvas has the background colour exactly. A shrunk side never drops below
// one pixel. Fails, leaving image unchanged, for a box of 0 or less in
// either direction or an image that cannot be copied or resampled.
bool FitImageToBox(CImage& image, long boxWidth, long boxHeight, RGBQuad background,
                   int interpolation);

// The picture size FitImageToBox resamples an image of width x height to
// before padding (the image's own size when it already fits).
void FitImageSize(long width, long height, long boxWidth, long boxHeight, long& fitWidth,
                  long& fitHeight);
