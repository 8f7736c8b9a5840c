// Helpers for the codec tests: pixel comparison, PSNR, pattern images and a
// reference decoder (ImageMagick writing a PAM file that we parse here), so
// that our decoders can be checked against an independent one.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "test_support.h"

namespace codec_test {

// A picture as the reference tool decoded it: top-down rows of RGBA bytes.
struct RefImage {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  std::vector<uint8_t> rgba;  // width * height * 4, row 0 is the top row
  const uint8_t* At(int x, int yFromTop) const {
    return rgba.data() + (size_t(yFromTop) * width + x) * 4;
  }
};

// Parses a PAM (P7) or a binary PNM (P4, P5, P6) file held in memory.
// Samples above 8 bits are scaled to 8 with rounding.
inline bool ParsePam(const std::vector<uint8_t>& d, RefImage& out) {
  size_t pos = 0;
  auto skipSpace = [&] {
    for (;;) {
      while (pos < d.size() && std::isspace(d[pos])) ++pos;
      if (pos < d.size() && d[pos] == '#') {
        while (pos < d.size() && d[pos] != '\n') ++pos;
      } else {
        break;
      }
    }
  };
  auto token = [&] {
    skipSpace();
    std::string t;
    while (pos < d.size() && !std::isspace(d[pos])) t += char(d[pos++]);
    return t;
  };
  if (d.size() < 3 || d[0] != 'P') return false;
  char kind = char(d[1]);
  pos = 2;
  int w = 0, h = 0, depth = 0;
  long maxval = 0;
  std::string tupl;
  if (kind == '7') {
    for (;;) {
      std::string t = token();
      if (t.empty()) return false;
      if (t == "ENDHDR") break;
      if (t == "WIDTH") w = std::atoi(token().c_str());
      else if (t == "HEIGHT") h = std::atoi(token().c_str());
      else if (t == "DEPTH") depth = std::atoi(token().c_str());
      else if (t == "MAXVAL") maxval = std::atol(token().c_str());
      else if (t == "TUPLTYPE") tupl = token();
    }
  } else if (kind == '4' || kind == '5' || kind == '6') {
    w = std::atoi(token().c_str());
    h = std::atoi(token().c_str());
    maxval = kind == '4' ? 1 : std::atol(token().c_str());
    depth = kind == '6' ? 3 : 1;
  } else {
    return false;
  }
  if (pos >= d.size()) return false;
  ++pos;  // the single white-space byte after the header
  if (w <= 0 || h <= 0 || depth < 1 || depth > 4 || maxval < 1 || maxval > 65535) return false;
  out.width = w;
  out.height = h;
  out.hasAlpha = depth == 2 || depth == 4;
  out.rgba.assign(size_t(w) * h * 4, 255);
  if (kind == '4') {
    size_t rowBytes = (size_t(w) + 7) / 8;
    if (d.size() - pos < rowBytes * h) return false;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        bool black = (d[pos + y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
        uint8_t* p = out.rgba.data() + (size_t(y) * w + x) * 4;
        p[0] = p[1] = p[2] = black ? 0 : 255;
      }
    return true;
  }
  int bytes = maxval > 255 ? 2 : 1;
  if (d.size() - pos < size_t(w) * h * depth * bytes) return false;
  auto sample = [&](size_t i) -> uint8_t {
    long v = bytes == 2 ? (long(d[pos + 2 * i]) << 8) | d[pos + 2 * i + 1] : d[pos + i];
    return uint8_t((v * 255 + maxval / 2) / maxval);
  };
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    uint8_t* p = out.rgba.data() + i * 4;
    size_t s = i * depth;
    if (depth <= 2) {
      p[0] = p[1] = p[2] = sample(s);
      if (depth == 2) p[3] = sample(s + 1);
    } else {
      p[0] = sample(s);
      p[1] = sample(s + 1);
      p[2] = sample(s + 2);
      if (depth == 4) p[3] = sample(s + 3);
    }
  }
  return true;
}

// Decodes a file with ImageMagick (frame index given) into a RefImage.
// With depth 16 ImageMagick hands over 16-bit samples and they are scaled
// to 8 bits here with rounding (ImageMagick's own -depth 8 truncates).
inline bool LoadWithImageMagick(const std::string& path, RefImage& out, int frame = 0,
                                const std::string& extraOptions = std::string(),
                                int depth = 8) {
  testing_support::TempDir dir;
  std::string pam = dir / "ref.pam";
  std::string cmd = std::string(testing_support::ImConvert()) + " " +
                    testing_support::Quote(path + "[" + std::to_string(frame) + "]") + " " +
                    extraOptions + " -depth " + std::to_string(depth) + " " + testing_support::Quote("pam:" + pam) +
                    " 2>/dev/null";
  if (testing_support::Run(cmd) != 0) return false;
  return ParsePam(testing_support::ReadFileBytes(pam), out);
}

// Compares every pixel's colour (and, with withAlpha, its alpha as
// CImage::GetPixelColor reports it) with the reference; the largest
// per-channel difference allowed is tolerance.
inline ::testing::AssertionResult MatchesRef(const CImage& img, const RefImage& ref,
                                             bool withAlpha = false, int tolerance = 0) {
  if (!img.IsValid()) return ::testing::AssertionFailure() << "image is empty";
  if (img.GetWidth() != ref.width || img.GetHeight() != ref.height)
    return ::testing::AssertionFailure() << "size " << img.GetWidth() << "x" << img.GetHeight()
                                         << " vs reference " << ref.width << "x" << ref.height;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      RGBQuad c = img.GetPixelColor(x, img.GetHeight() - 1 - y, true);
      const uint8_t* r = ref.At(x, y);
      int diff = std::max({std::abs(c.red - r[0]), std::abs(c.green - r[1]),
                           std::abs(c.blue - r[2])});
      if (withAlpha) diff = std::max(diff, std::abs(c.reserved - r[3]));
      if (diff > tolerance)
        return ::testing::AssertionFailure()
               << "pixel (" << x << "," << y << " from top): ours rgba(" << int(c.red) << ","
               << int(c.green) << "," << int(c.blue) << "," << int(c.reserved) << ") reference ("
               << int(r[0]) << "," << int(r[1]) << "," << int(r[2]) << "," << int(r[3]) << ")";
    }
  return ::testing::AssertionSuccess();
}

// PSNR in dB over the red, green and blue channels; 99 when identical,
// -1 when the sizes differ.
inline double PsnrToRef(const CImage& img, const RefImage& ref) {
  if (!img.IsValid() || img.GetWidth() != ref.width || img.GetHeight() != ref.height) return -1;
  double sum = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      RGBQuad c = img.GetPixelColor(x, img.GetHeight() - 1 - y, false);
      const uint8_t* r = ref.At(x, y);
      double d0 = c.red - r[0], d1 = c.green - r[1], d2 = c.blue - r[2];
      sum += d0 * d0 + d1 * d1 + d2 * d2;
    }
  if (sum == 0) return 99;
  double mse = sum / (double(ref.width) * ref.height * 3);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

// PSNR in dB between two images over red, green and blue (palette images
// through their palettes); 99 when identical, -1 when the sizes differ.
inline double Psnr(const CImage& a, const CImage& b) {
  if (!a.IsValid() || !b.IsValid() || a.GetWidth() != b.GetWidth() ||
      a.GetHeight() != b.GetHeight())
    return -1;
  double sum = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      RGBQuad p = a.GetPixelColor(x, y, false), q = b.GetPixelColor(x, y, false);
      double d0 = p.red - q.red, d1 = p.green - q.green, d2 = p.blue - q.blue;
      sum += d0 * d0 + d1 * d1 + d2 * d2;
    }
  if (sum == 0) return 99;
  double mse = sum / (double(a.GetWidth()) * a.GetHeight() * 3);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

// Exact comparison of two images by colour (palette images through their
// palettes, so a palette image and its 24-bit expansion compare equal); with
// withAlpha also the alpha that GetPixelColor reports.
inline ::testing::AssertionResult SameColours(const CImage& a, const CImage& b,
                                              bool withAlpha = false) {
  if (!a.IsValid() || !b.IsValid()) return ::testing::AssertionFailure() << "empty image";
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
    return ::testing::AssertionFailure() << "size " << a.GetWidth() << "x" << a.GetHeight()
                                         << " vs " << b.GetWidth() << "x" << b.GetHeight();
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      RGBQuad p = a.GetPixelColor(x, y, withAlpha), q = b.GetPixelColor(x, y, withAlpha);
      if (!(p == q))
        return ::testing::AssertionFailure()
               << "pixel (" << x << "," << y << " from bottom): rgba(" << int(p.red) << ","
               << int(p.green) << "," << int(p.blue) << "," << int(p.reserved) << ") vs ("
               << int(q.red) << "," << int(q.green) << "," << int(q.blue) << ","
               << int(q.reserved) << ")";
    }
  return ::testing::AssertionSuccess();
}

// Exact comparison of the stored form: depth, pixel bytes (padding
// ignored) and the used palette entries.
inline ::testing::AssertionResult SameBits(const CImage& a, const CImage& b) {
  if (a.GetBpp() != b.GetBpp())
    return ::testing::AssertionFailure() << "bpp " << a.GetBpp() << " vs " << b.GetBpp();
  if (a.GetBpp() <= 8) {
    if (a.GetNumColors() != b.GetNumColors())
      return ::testing::AssertionFailure() << "palette sizes differ";
    for (uint32_t i = 0; i < a.GetNumColors(); ++i) {
      RGBQuad p = a.GetPalette()[i], q = b.GetPalette()[i];
      if (p.red != q.red || p.green != q.green || p.blue != q.blue)
        return ::testing::AssertionFailure() << "palette entry " << i << " differs";
    }
  }
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
    return ::testing::AssertionFailure() << "sizes differ";
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      bool same = a.GetBpp() <= 8 ? a.GetPixelIndex(x, y) == b.GetPixelIndex(x, y)
                                  : a.GetPixelColor(x, y, false) == b.GetPixelColor(x, y, false);
      if (!same) return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") differs";
    }
  return ::testing::AssertionSuccess();
}

// A test picture of the given size and depth with smooth gradients and hard
// edges (a block of inverted colour, a diagonal line). Palette images get a
// colourful palette of 2^bpp entries, or a grey ramp when grey is set.
inline CImage MakePatternImage(int width, int height, int bpp, bool grey = false) {
  CImage img;
  if (!img.Create(width, height, bpp)) return img;
  int wd = width > 1 ? width - 1 : 1, hd = height > 1 ? height - 1 : 1;
  auto inBlock = [&](int x, int y) {
    return x >= width / 4 && x < width / 2 && y >= height / 4 && y < height / 2;
  };
  if (bpp == 24) {
    for (int y = 0; y < height; ++y) {
      uint8_t* row = img.GetBits(y);
      for (int x = 0; x < width; ++x) {
        uint8_t b = uint8_t(x * 255 / wd), g = uint8_t(y * 255 / hd),
                r = uint8_t((x + y) * 255 / (wd + hd));
        if (inBlock(x, y)) b = uint8_t(255 - b), g = uint8_t(255 - g), r = uint8_t(255 - r);
        if (x == y) b = g = r = 255;
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
      }
    }
    return img;
  }
  int n = 1 << bpp;
  if (!grey) {
    std::vector<RGBQuad> pal(n);
    for (int i = 0; i < n; ++i) {
      int v = n > 1 ? i * 255 / (n - 1) : 0;
      pal[i] = RGBQuad{uint8_t(v), uint8_t(255 - v), uint8_t((i * 97) & 255), 0};
    }
    if (n == 2) pal[0] = RGBQuad{0, 0, 0, 0}, pal[1] = RGBQuad{255, 255, 255, 0};
    img.SetPalette(pal.data(), n);
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int idx = bpp == 1 ? ((x / 4 + y / 4) & 1) : ((x * n) / (wd + 1) + y) % n;
      if (inBlock(x, y)) idx = n - 1 - idx;
      if (x == y) idx = n - 1;
      img.SetPixelIndex(x, y, uint8_t(idx));
    }
  return img;
}

// Writes the image as a binary PPM (P6), or with withAlpha as a PAM
// (P7, RGB_ALPHA), top row first, for the independent tools to read.
inline bool WritePnm(const CImage& img, const std::string& path, bool withAlpha = false) {
  if (!img.IsValid()) return false;
  int w = img.GetWidth(), h = img.GetHeight();
  std::string header =
      withAlpha ? "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) +
                      "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                : "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  std::vector<uint8_t> data(header.begin(), header.end());
  data.reserve(data.size() + size_t(w) * h * 4);
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) {
      RGBQuad c = img.GetPixelColor(x, y, true);
      data.push_back(c.red);
      data.push_back(c.green);
      data.push_back(c.blue);
      if (withAlpha) data.push_back(c.reserved);
    }
  testing_support::WriteFileBytes(path, data.data(), data.size());
  return true;
}

// Encodes img in format and decodes the result again with our codec.
inline ::testing::AssertionResult RoundTrip(const CImage& img, int format, CImage& back,
                                            std::vector<uint8_t>* bytes = nullptr) {
  std::vector<uint8_t> data;
  if (!img.Encode(data, format))
    return ::testing::AssertionFailure() << "encode: " << img.GetLastError();
  if (!back.Decode(data.data(), data.size(), format))
    return ::testing::AssertionFailure() << "decode: " << back.GetLastError();
  if (bytes) *bytes = std::move(data);
  return ::testing::AssertionSuccess();
}

}  // namespace codec_test
