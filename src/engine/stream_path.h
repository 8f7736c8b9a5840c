// Pictures that no step needs whole: decoded and encoded a band of rows at
// a time, so that a file takes a few bands of memory besides its encoded
// output instead of the decoded picture and the encoder's copy of it.
//
// The worker takes this path for a file when the job's steps leave its
// picture exactly as decoded (no rotation, flip or tone change, no resize,
// no watermark, no filter, no dialog) and the source and output are a pair
// written in bands: a JPEG source or a PNG source that is not interlaced and
// has 8 or 16 bits per sample (by the content), and a PNG output that is not
// interlaced or a JPEG output. Everything else goes the whole-picture way.
// Either way the output bytes are the same.
#pragma once

#include <cstddef>
#include <cstdint>

class COutputFormat;
struct EncodedOutput;

// True when pictures written by format can come from bands.
bool WritesInBands(const COutputFormat& format);

// What a streamed file tells the job's report and the writers.
struct StreamedPicture {
  int width = 0;
  int height = 0;
  int format = 0;            // the source's, by its content
  uint32_t codecOption = 0;  // the source's codec option in that format
};

// Encodes the source held in data with format a band at a time into out
// (extension, metadata flag and bytes, as format.Encode would set them).
// False when the source is not one this path reads, or anything on the way
// fails: out is then untouched and the file is to go the whole-picture way,
// which reports the failure as usual.
bool StreamPicture(const uint8_t* data, size_t size, COutputFormat& format, EncodedOutput& out,
                   StreamedPicture& picture);
