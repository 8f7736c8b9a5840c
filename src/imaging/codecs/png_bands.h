// Reading and writing PNG files in bands of rows, for pictures that are
// never whole in memory. The bands read are the parts of the image a whole
// decode gives; the file written is byte for byte the one the PNG encoder
// writes for the whole picture (not interlaced): the same colour type,
// chunks, filters and compression.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/image.h"

class CPngBandWriter {
 public:
  CPngBandWriter();
  ~CPngBandWriter();
  CPngBandWriter(const CPngBandWriter&) = delete;
  CPngBandWriter& operator=(const CPngBandWriter&) = delete;

  // Starts a picture of first's width and the given height, appending the
  // file to out as it is written; out must outlive the writer. first is the
  // first band: its depth, palette, transparency, profile and resolution are
  // those of the picture, as the whole image would have them. After a
  // failure out is as it was before Begin.
  bool Begin(const CImage& first, int height, std::vector<uint8_t>& out);
  // Adds the rows of band (top to bottom), which has the width, depth and
  // palette of the first.
  bool AddBand(const CImage& band);
  // Ends the file once every row has come. Between Begin and Finish the
  // writer keeps a group of rows and zlib's state; the packed file grows in
  // out.
  bool Finish();
  const std::string& Error() const { return error_; }

  struct State;

 private:
  bool Fail(const std::string& error);

  std::unique_ptr<State> state_;
  std::string error_;
};

class CPngBandReader {
 public:
  CPngBandReader();
  ~CPngBandReader();
  CPngBandReader(const CPngBandReader&) = delete;
  CPngBandReader& operator=(const CPngBandReader&) = delete;

  // Reads the header of the file in data, which must outlive the reader.
  // False with Error() for a file that is not read in bands (interlaced,
  // fewer than 8 bits per sample) or cannot be read.
  bool Open(const uint8_t* data, size_t size);
  int Width() const { return width_; }
  int Height() const { return height_; }
  int RowsLeft() const { return height_ - next_; }
  // The codec option a whole decode gives the image: not interlaced.
  uint32_t CodecOption() const { return 0; }
  // Makes band the next min(maxRows, RowsLeft()) rows (its row 0 from the
  // top is the first of them), with the depth, palette, transparency,
  // alpha plane, profile and resolution of the whole decode. The last band
  // fails unless the data ends with it. After a failure the reader is
  // spent, and the file is to be read whole.
  bool ReadBand(CImage& band, int maxRows);
  const std::string& Error() const { return error_; }

  struct State;

 private:
  bool Fail(const std::string& error);

  std::unique_ptr<State> state_;
  int width_ = 0;
  int height_ = 0;
  int next_ = 0;
  std::string error_;
};
