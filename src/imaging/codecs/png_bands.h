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
