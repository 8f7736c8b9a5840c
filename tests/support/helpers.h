// Helpers of the codec tests: reference pixels from the independent tools
// (ImageMagick, netpbm, OpenJPEG) and pixel comparison with CImage.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "test_support.h"

namespace codecs_more {

using namespace testing_support;

// Pixels of a binary PBM, PGM or PPM (maxval 255 or 1), top row first.
struct RefImage {
  int width = 0;
  int height = 0;
  int channels = 0;  // 1 grey, 3 RGB
  std::vector<uint8_t> data;
  uint8_t at(int x, int y, int c) const { return data[(size_t(y) * width + x) * channels + c]; }
};

// With anyMaxval the samples are kept as stored whatever the maxval (up to
// 255); otherwise only maxval 255 is accepted.
inline bool ParseRawPnm(const std::string& s, RefImage& ref, bool anyMaxval = false) {
  size_t pos = 0;
  auto number = [&](long& v) {
    while (pos < s.size() && (isspace(uint8_t(s[pos])) || s[pos] == '#')) {
      if (s[pos] == '#')
        while (pos < s.size() && s[pos] != '\n') ++pos;
      else
        ++pos;
    }
    if (pos >= s.size() || !isdigit(uint8_t(s[pos]))) return false;
    v = 0;
    while (pos < s.size() && isdigit(uint8_t(s[pos]))) v = v * 10 + (s[pos++] - '0');
    return true;
  };
  if (s.size() < 2 || s[0] != 'P') return false;
  char kind = s[1];
  pos = 2;
  long w, h, maxval = 1;
  if (!number(w) || !number(h)) return false;
  if (kind != '4' && !number(maxval)) return false;
  ++pos;
  RefImage r;
  r.width = int(w);
  r.height = int(h);
  if (kind == '4') {
    r.channels = 1;
    size_t rowBytes = size_t((w + 7) / 8);
    if (s.size() < pos + rowBytes * h) return false;
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        bool black = (uint8_t(s[pos + y * rowBytes + x / 8]) >> (7 - x % 8)) & 1;
        r.data.push_back(black ? 0 : 255);
      }
  } else {
    if ((anyMaxval ? maxval > 255 : maxval != 255) || (kind != '5' && kind != '6')) return false;
    r.channels = kind == '5' ? 1 : 3;
    size_t bytes = size_t(w) * h * r.channels;
    if (s.size() < pos + bytes) return false;
    r.data.assign(s.begin() + long(pos), s.begin() + long(pos + bytes));
  }
  ref = std::move(r);
  return true;
}

// Runs a command that prints a raw PNM on standard output.
inline RefImage RefFromCommand(const std::string& command, bool anyMaxval = false) {
  RefImage ref;
  int status = 0;
  std::string out = RunOutput(command, &status);
  EXPECT_EQ(status, 0) << command;
  EXPECT_TRUE(ParseRawPnm(out, ref, anyMaxval)) << command;
  return ref;
}

// The RGB pixels of a file as ImageMagick reads them (frame 0 by default).
// options go before the file name, after are applied once it is read.
inline RefImage ImRgb(const std::string& file, const std::string& options = "",
                      const std::string& after = "") {
  return RefFromCommand(std::string(ImConvert()) + " " + options + " " + Quote(file) + " " +
                        after + " -depth 8 ppm:-");
}
// The alpha channel of a file as ImageMagick reads it.
inline RefImage ImAlpha(const std::string& file, const std::string& options = "",
                        const std::string& after = "") {
  return RefFromCommand(std::string(ImConvert()) + " " + options + " " + Quote(file) + " " +
                        after + " -alpha extract -depth 8 pgm:-");
}

// Compares every pixel of image (rows from the bottom) with ref (rows from
// the top). With tolerance, channels may differ by that much.
inline ::testing::AssertionResult SamePixels(const CImage& image, const RefImage& ref,
                                             int tolerance = 0) {
  if (!image.IsValid()) return ::testing::AssertionFailure() << "image is empty";
  if (image.GetWidth() != ref.width || image.GetHeight() != ref.height)
    return ::testing::AssertionFailure() << "size " << image.GetWidth() << "x" << image.GetHeight()
                                         << " vs reference " << ref.width << "x" << ref.height;
  int bad = 0;
  std::string first;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      RGBQuad c = image.GetPixelColor(x, ref.height - 1 - y, false);
      int r = ref.at(x, y, 0);
      int g = ref.channels == 3 ? ref.at(x, y, 1) : r;
      int b = ref.channels == 3 ? ref.at(x, y, 2) : r;
      if (std::abs(c.red - r) > tolerance || std::abs(c.green - g) > tolerance ||
          std::abs(c.blue - b) > tolerance) {
        if (bad++ == 0)
          first = "at (" + std::to_string(x) + "," + std::to_string(y) + ") ours " +
                  std::to_string(c.red) + "," + std::to_string(c.green) + "," +
                  std::to_string(c.blue) + " reference " + std::to_string(r) + "," +
                  std::to_string(g) + "," + std::to_string(b);
      }
    }
  if (bad) return ::testing::AssertionFailure() << bad << " pixels differ, first " << first;
  return ::testing::AssertionSuccess();
}

// Compares the alpha plane of image (255 where it has none) with ref.
inline ::testing::AssertionResult SameAlpha(const CImage& image, const RefImage& ref) {
  if (image.GetWidth() != ref.width || image.GetHeight() != ref.height)
    return ::testing::AssertionFailure() << "size differs";
  int bad = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      int a = image.GetPixelColor(x, ref.height - 1 - y, true).reserved;
      if (a != ref.at(x, y, 0)) ++bad;
    }
  if (bad) return ::testing::AssertionFailure() << bad << " alpha values differ";
  return ::testing::AssertionSuccess();
}

// A colourful test picture made by ImageMagick, 8 bits per channel.
inline std::string MakePicture(const TempDir& dir, const std::string& name, int w, int h,
                               const std::string& extra = "") {
  std::string path = dir / name;
  std::string cmd = std::string(ImConvert()) + " -size " + std::to_string(w) + "x" +
                    std::to_string(h) + " -seed 7 plasma:red-blue " + extra + " -depth 8 " +
                    Quote(path);
  EXPECT_EQ(Run(cmd), 0) << cmd;
  return path;
}

// Decodes raw bytes with a format code; the image's error on failure.
inline bool DecodeBytes(CImage& image, const std::vector<uint8_t>& bytes, int format,
                        const std::string& name = std::string()) {
  return image.Decode(bytes.data(), bytes.size(), format, name);
}

inline bool Tool(const std::string& command) {
  int rc = Run(command);
  EXPECT_EQ(rc, 0) << command;
  return rc == 0;
}

}  // namespace codecs_more
