// Writing a PNG from bands of rows, for pictures that are never whole in
// memory. The file is byte for byte the one the PNG encoder writes for the
// whole picture (not interlaced): the same colour type, chunks, filters and
// compression.
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

  // Starts a picture of first's width and the given height. first is the
  // first band: its depth, palette, transparency, profile and resolution are
  // those of the picture, as the whole image would have them.
  bool Begin(const CImage& first, int height);
  // Adds the rows of band (top to bottom), which has the width, depth and
  // palette of the first.
  bool AddBand(const CImage& band);
  // Compresses the picture and appends the file to out. The filtered
  // picture data (one byte more than the pixels per row) is the only
  // picture-sized block kept between Begin and Finish.
  bool Finish(std::vector<uint8_t>& out);
  const std::string& Error() const { return error_; }

  struct State;

 private:
  std::unique_ptr<State> state_;
  std::string error_;
};
