// The resize stage: turns the dimension settings into a target size and
// resamples the image to it.
#pragma once

class CImage;

// Plain copy of the dimension settings the stage reads.
struct ResizeOptions {
  int PercentsOrPixels = 0;   // 0 percent, 1 pixels, 2 millimetres at a resolution
  int Percents = 100;
  int Width = 640;
  int Height = 480;
  int MaintainAspectRatio = 0;  // 0 fit, 1 exact, 2 height by width, 3 width by height
  int ResamplingMode = 5;       // 0..6, see ResampleByMode
  int Dpi = 1;                  // index into the resolution table
};

// Pixels per inch of a resolution index: 0 = 72, 1 = 96, 2 = 100, 3 = 200,
// 4 = 300, 5 = 600. A negative index means 72; an index above 5 means 600.
int DpiFromIndex(int index);

// True when the stage changes the size at all (mode other than percent, or
// a percentage other than 100).
bool ResizeApplies(const ResizeOptions& options);

// The target size for an image of width x height (after rotation). Percent
// mode and the height-by-width and width-by-height rules truncate toward
// zero; the fit mode gives the box's size to the side that fills it and
// rounds the other to the nearest pixel (1000x500 into 700x700 gives 700x350).
void ComputeTargetSize(const ResizeOptions& options, unsigned width, unsigned height,
                       long& newWidth, long& newHeight);

// Resamples to the given size with the resampling choice 0..6 (0 nearest,
// 1 bilinear, 2 sharp bicubic, 3 soft bicubic, 4 B-spline, 5 Lanczos,
// 6 Hermite; other values: Lanczos). A size of 0 or less, or one with more
// pixels than CImage::GetPixelLimit(), fails and leaves the image as it is.
bool ResampleByMode(CImage& image, long newWidth, long newHeight, int mode);

// The whole stage: in millimetre mode writes the resolution into the image,
// then resamples when ResizeApplies. Returns false when the resize was
// needed but could not be made (a size refused by ResampleByMode, or the
// resampling failed), with the reason in the image's last error; the image
// is then left at its size. Returns true otherwise.
bool ApplyResize(CImage& image, const ResizeOptions& options);
// The same, with the target computed from the picture's stored size when it
// was decoded smaller than that (a JPEG scaled while decoding): the written
// size is exactly the one a full decode would give.
bool ApplyResizeFrom(CImage& image, const ResizeOptions& options, unsigned sourceWidth,
                     unsigned sourceHeight);

// Millimetre and pixel conversion of the Dimensions page.
// Millimetres -> pixels: floor(mm * ppcm * 0.1 + 0.5).
int MillimetresToPixels(int millimetres, int dpiIndex);
// Pixels -> millimetres in whole centimetres: floor(px / ppcm + 0.5) * 10.
int PixelsToMillimetres(int pixels, int dpiIndex);
