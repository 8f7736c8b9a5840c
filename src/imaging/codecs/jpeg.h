// JPEG helpers beyond the codec table entry (kCodecJpeg, format 3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image.h"

// Decodes a JPEG at a reduced size for speed: picks the smallest DCT
// scale n/8 (n = 1..8) at which the decoded picture is still at least
// minWidth x minHeight (full size when even 8/8 is smaller). Everything
// else (colour conversion, resolution, ICC profile, codec option) is as
// in a full decode. Returns false with image.GetLastError() on failure;
// the image is left unchanged then.
bool DecodeJpegScaled(CImage& image, const uint8_t* data, size_t size, int minWidth,
                      int minHeight);

// Reads the picture size from a JPEG's frame header without decoding it.
bool ReadJpegHeader(const uint8_t* data, size_t size, int& width, int& height);

struct JpegBandJob;

// Decodes a JPEG a band of rows at a time, top to bottom, so that the whole
// picture never has to be in memory. Each band has exactly the pixels,
// palette, resolution, profile and codec option a whole decode (Decode)
// gives those rows. The data must stay valid until the reader is closed.
class CJpegBandReader {
 public:
  CJpegBandReader();
  ~CJpegBandReader();
  CJpegBandReader(const CJpegBandReader&) = delete;
  CJpegBandReader& operator=(const CJpegBandReader&) = delete;

  // Reads the header and starts decoding; false with Error().
  bool Open(const uint8_t* data, size_t size);
  int Width() const { return width_; }
  int Height() const { return height_; }
  int RowsLeft() const { return height_ - next_; }
  // The codec option a whole decode gives the image (progressive or
  // baseline).
  uint32_t CodecOption() const { return codecOption_; }
  // Makes band the next min(maxRows, RowsLeft()) rows (its row 0 from the
  // top is the first of them). After a failure the reader is spent.
  bool ReadBand(CImage& band, int maxRows);
  void Close();
  const std::string& Error() const { return error_; }

 private:
  JpegBandJob* job_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int next_ = 0;
  uint32_t codecOption_ = 0;
  std::string error_;
};

struct JpegEncodeBandJob;

// Encodes a JPEG from bands of rows, top to bottom, into exactly the bytes
// the JPEG encoder writes for the whole picture: the first band's depth,
// palette, quality, codec option, smoothing, resolution and profile are
// the picture's.
class CJpegBandWriter {
 public:
  CJpegBandWriter();
  ~CJpegBandWriter();
  CJpegBandWriter(const CJpegBandWriter&) = delete;
  CJpegBandWriter& operator=(const CJpegBandWriter&) = delete;

  // Starts a picture of first's width and the given height, appending to
  // out (which must outlive the writer). first is only read here.
  bool Begin(const CImage& first, int height, std::vector<uint8_t>& out);
  // Adds the rows of band, which has the width and depth of the first.
  bool AddBand(const CImage& band);
  // Ends the file. After any failure out is as before Begin.
  bool Finish();
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& error);

  JpegEncodeBandJob* job_ = nullptr;
  int width_ = 0;
  int bpp_ = 0;
  std::string error_;
};
