// The codec table. Each codec file defines one CodecInfo and the table in
// registry.cpp lists them; the image class finds decoders and encoders here.
//
// A decoder reads a whole file held in memory. It checks every size it reads
// before allocating (CImage::CheckDimensions), decodes the frame that
// image.GetFrame() names, sets image.SetNumFrames() and the image's type, and
// on failure returns false with image.SetLastError(reason). It never throws.
//
// An encoder appends the encoded file to out, reading its options from the
// image (GetCodecOption, GetJpegQuality ...); on failure it returns false
// with image.SetLastError(reason).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image.h"

struct CodecInfo {
  int format;              // format code (ImageFormat)
  const char* name;        // "JPEG"
  const char* extensions;  // lower-case, separated by ';': "jpg;jpeg"
  // Cheap magic-byte check on the first bytes of a file; nullptr for
  // formats without a signature (found by extension only).
  bool (*sniff)(const uint8_t* data, size_t size);
  bool (*decode)(CImage& image, const uint8_t* data, size_t size);
  // nullptr: the format cannot be written.
  bool (*encode)(const CImage& image, std::vector<uint8_t>& out);
};

// All codecs that are linked in, in detection order.
const std::vector<const CodecInfo*>& AllCodecs();
const CodecInfo* FindCodec(int format);
// The codec whose extension list holds ext (lower-case, no dot), or nullptr.
const CodecInfo* FindCodecByExtension(const std::string& ext);
// The codec whose sniffer accepts the data, or nullptr.
const CodecInfo* SniffCodec(const uint8_t* data, size_t size);
