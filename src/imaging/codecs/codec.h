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
  // Reduced decoding, for codecs that can make a smaller picture faster
  // than a full one (JPEG: by 1/2, 1/4, 1/8); nullptr for the others.
  // readSize gives the stored size from the header without decoding;
  // decodeScaled decodes at a size of at least minWidth x minHeight (the
  // full size when that is smaller), leaving the image unchanged on
  // failure. CImage::Decode uses them when the caller set a size hint.
  bool (*readSize)(const uint8_t* data, size_t size, int& width, int& height) = nullptr;
  bool (*decodeScaled)(CImage& image, const uint8_t* data, size_t size, int minWidth,
                       int minHeight) = nullptr;
};

// All codecs that are linked in, in detection order.
const std::vector<const CodecInfo*>& AllCodecs();
const CodecInfo* FindCodec(int format);
// The codec whose extension list holds ext (lower-case, no dot), or nullptr.
const CodecInfo* FindCodecByExtension(const std::string& ext);
// The codec whose sniffer accepts the data, or nullptr.
const CodecInfo* SniffCodec(const uint8_t* data, size_t size);
