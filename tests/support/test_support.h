// Helpers shared by the test programs: temporary folders and files, running
// the program and the independent tools the tests compare against
// (ImageMagick, netpbm, OpenJPEG, exiftool), reference pictures and pixel
// comparison with CImage, time limits for code that could hang.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "settings/settings.h"

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("lumaro-test-" + std::to_string(rd()));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    // Give back write permission that a test may have taken away.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
}

// A copy of bytes with values written over it from offset at (a damaged
// file made from a good one).
inline std::vector<uint8_t> Patched(const std::vector<uint8_t>& bytes, size_t at,
                                    std::initializer_list<uint8_t> values) {
  std::vector<uint8_t> copy = bytes;
  for (uint8_t v : values) copy[at++] = v;
  return copy;
}

inline void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, text.data(), text.size());
}

// Runs a shell command; returns its exit status (-1 when it did not run).
inline int Run(const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

// Runs a shell command and returns what it printed on standard output.
inline std::string RunOutput(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
  return out;
}

// Quotes a string for the shell.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// ImageMagick 6's convert and identify by their real paths (a stand-in may
// come first on PATH).
inline const char* ImConvert() { return "/usr/bin/convert-im6.q16"; }
inline const char* ImIdentify() { return "/usr/bin/identify-im6.q16"; }

// A Display P3 profile (v2 matrix and gamma 2.2 curves), as phones tag
// their photos, built here from its published colorants.
inline std::vector<uint8_t> MakeDisplayP3Profile() {
  std::vector<uint8_t> p;
  auto u32 = [&](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) p.push_back(uint8_t(v >> s));
  };
  auto tagText = [&](const char* t) { p.insert(p.end(), t, t + 4); };
  auto fixed = [&](double v) { u32(uint32_t(int32_t(v * 65536.0 + (v < 0 ? -0.5 : 0.5)))); };
  const std::string name = "Display P3 test";
  const uint32_t tagCount = 8, tableEnd = 128 + 4 + tagCount * 12;
  const uint32_t descSize = 12 + uint32_t(name.size() + 1) + 8 + 3 + 67;
  const uint32_t descAt = tableEnd, xyzAt = (descAt + descSize + 3) / 4 * 4, curvAt = xyzAt + 4 * 20;
  const uint32_t total = curvAt + 14 + 2;
  u32(total);
  u32(0);
  u32(0x02100000);
  tagText("mntr");
  tagText("RGB ");
  tagText("XYZ ");
  for (int i = 0; i < 3; ++i) u32(0);  // date
  tagText("acsp");
  for (int i = 0; i < 6; ++i) u32(0);  // platform, flags, device, attributes
  u32(0);                              // rendering intent
  fixed(0.9642), fixed(1.0), fixed(0.8249);
  while (p.size() < 128) p.push_back(0);
  u32(tagCount);
  const struct {
    const char* sig;
    uint32_t at, size;
  } tags[] = {{"desc", descAt, descSize},      {"wtpt", xyzAt, 20},
              {"rXYZ", xyzAt + 20, 20},       {"gXYZ", xyzAt + 40, 20},
              {"bXYZ", xyzAt + 60, 20},       {"rTRC", curvAt, 14},
              {"gTRC", curvAt, 14},           {"bTRC", curvAt, 14}};
  for (const auto& t : tags) tagText(t.sig), u32(t.at), u32(t.size);
  tagText("desc");
  u32(0);
  u32(uint32_t(name.size() + 1));
  p.insert(p.end(), name.begin(), name.end());
  p.push_back(0);
  u32(0), u32(0);
  p.insert(p.end(), 3 + 67, 0);
  while (p.size() < xyzAt) p.push_back(0);
  const double xyz[4][3] = {{0.9642, 1.0, 0.8249},
                            {0.5151, 0.2412, -0.0011},
                            {0.2920, 0.6922, 0.0419},
                            {0.1571, 0.0666, 0.7841}};
  for (const auto& v : xyz) tagText("XYZ "), u32(0), fixed(v[0]), fixed(v[1]), fixed(v[2]);
  tagText("curv");
  u32(0);
  u32(1);
  p.push_back(0x02), p.push_back(0x33), p.push_back(0), p.push_back(0);
  return p;
}

// True when work finished within seconds and returned true; a crash or a
// hang of the child gives false.
template <typename F>
bool FinishesWithin(unsigned seconds, F work) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    alarm(seconds);
    _exit(work() ? 0 : 1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- Reference pictures and pixel comparison

// A picture as the reference tool decoded it: top-down rows of RGBA bytes.
// Grey pictures are kept as equal red, green and blue.
struct RefImage {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  std::vector<uint8_t> rgba;  // width * height * 4, row 0 is the top row
  const uint8_t* At(int x, int yFromTop) const {
    return rgba.data() + (size_t(yFromTop) * width + x) * 4;
  }
  // Channel c (0 red, 1 green, 2 blue, 3 alpha) of pixel (x, y from top).
  uint8_t at(int x, int yFromTop, int c) const { return At(x, yFromTop)[c]; }
};

// How ParsePam treats the samples: scaled to 8 bits from any maxval up to
// 65535, kept as stored (maxval up to 255), or only maxval 255 accepted.
enum class PnmSamples { Scaled, AsStored, Only255 };

// Parses a PAM (P7) or a binary PNM (P4, P5, P6) file held in memory.
// Samples above 8 bits are scaled to 8 with rounding.
inline bool ParsePam(const std::vector<uint8_t>& d, RefImage& out,
                     PnmSamples samples = PnmSamples::Scaled) {
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
  if (kind != '4' && ((samples == PnmSamples::AsStored && maxval > 255) ||
                      (samples == PnmSamples::Only255 && maxval != 255)))
    return false;
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
    if (samples == PnmSamples::AsStored) return uint8_t(v);
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
  TempDir dir;
  std::string pam = dir / "ref.pam";
  std::string cmd = std::string(ImConvert()) + " " +
                    Quote(path + "[" + std::to_string(frame) + "]") + " " +
                    extraOptions + " -depth " + std::to_string(depth) + " " + Quote("pam:" + pam) +
                    " 2>/dev/null";
  if (Run(cmd) != 0) return false;
  return ParsePam(ReadFileBytes(pam), out);
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
  WriteFileBytes(path, data.data(), data.size());
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

// Runs a command that prints a raw PNM on standard output.
// With anyMaxval the samples are kept as stored whatever the maxval (up to
// 255); otherwise only maxval 255 is accepted.
inline RefImage RefFromCommand(const std::string& command, bool anyMaxval = false) {
  RefImage ref;
  int status = 0;
  std::string out = RunOutput(command, &status);
  EXPECT_EQ(status, 0) << command;
  EXPECT_TRUE(ParsePam(std::vector<uint8_t>(out.begin(), out.end()), ref,
                       anyMaxval ? PnmSamples::AsStored : PnmSamples::Only255))
      << command;
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

// Compares the colour of every pixel with the reference; channels may
// differ by tolerance.
inline ::testing::AssertionResult SamePixels(const CImage& image, const RefImage& ref,
                                             int tolerance = 0) {
  return MatchesRef(image, ref, false, tolerance);
}

// Pixels of a two-level reference (white 255) that are not white exactly
// where the source is lighter than mid grey (luma weights 299/587/114).
inline int BlackWhiteMismatches(const CImage& source, const RefImage& ref) {
  int wrong = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      RGBQuad c = source.GetPixelColor(x, ref.height - 1 - y, false);
      bool light = c.red * 299 + c.green * 587 + c.blue * 114 >= 128000;
      if ((ref.at(x, y, 0) == 255) != light) ++wrong;
    }
  return wrong;
}

// Compares the alpha plane of image (255 where it has none) with ref.
inline ::testing::AssertionResult SameAlpha(const CImage& image, const RefImage& ref) {
  if (image.GetWidth() != ref.width || image.GetHeight() != ref.height)
    return ::testing::AssertionFailure() << "size differs";
  int bad = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      int a = image.GetPixelColor(x, ref.height - 1 - y, true).reserved;
      if (a != ref.at(x, y, 0)) ++bad;  // grey: red holds the value
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

// ImageMagick's convert command line with the arguments (already quoted).
inline std::string ConvertCommand(const std::string& args) {
  return std::string(ImConvert()) + " " + args;
}

// Loads a file (the given frame) with the program's decoders, expecting
// success.
inline CImage LoadOk(const std::string& path, int frame = 0) {
  CImage img;
  img.SetFrame(frame);
  EXPECT_TRUE(img.Load(path)) << path << ": " << img.GetLastError();
  return img;
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

// Pixel comparison with a reference, colour and alpha (up to tolerance); a
// pixel transparent in both may have any colour.
inline ::testing::AssertionResult SameVisible(const CImage& img, const RefImage& ref,
                                              int tolerance = 0) {
  if (img.GetWidth() != ref.width || img.GetHeight() != ref.height)
    return ::testing::AssertionFailure() << "size " << img.GetWidth() << "x" << img.GetHeight()
                                         << " vs " << ref.width << "x" << ref.height;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      RGBQuad c = img.GetPixelColor(x, img.GetHeight() - 1 - y, true);
      const uint8_t* r = ref.At(x, y);
      if (c.reserved <= tolerance && r[3] <= tolerance) continue;
      if (std::abs(c.red - r[0]) > tolerance || std::abs(c.green - r[1]) > tolerance ||
          std::abs(c.blue - r[2]) > tolerance || std::abs(c.reserved - r[3]) > tolerance)
        return ::testing::AssertionFailure()
               << "pixel (" << x << "," << y << " from top): ours rgba(" << int(c.red) << ","
               << int(c.green) << "," << int(c.blue) << "," << int(c.reserved) << ") reference ("
               << int(r[0]) << "," << int(r[1]) << "," << int(r[2]) << "," << int(r[3]) << ")";
    }
  return ::testing::AssertionSuccess();
}

// A 24-bit gradient picture saved in format (the program's own encoder).
inline void MakePicture(const std::string& path, int w, int h, int format = FORMAT_PNG) {
  CImage img;
  ASSERT_TRUE(img.Create(w, h, 24));
  for (int y = 0; y < h; ++y) {
    uint8_t* row = img.GetBits(y);
    for (int x = 0; x < w; ++x) {
      row[x * 3 + 0] = uint8_t(x * 7);
      row[x * 3 + 1] = uint8_t(y * 5);
      row[x * 3 + 2] = uint8_t((x + y) * 3);
    }
  }
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  ASSERT_TRUE(img.Save(path, format)) << img.GetLastError();
}

// ---- The program in batch mode, exiftool, pictures with known pixels

inline std::string Program() {
  const char* env = std::getenv("LUMARO_PROGRAM");
  return env && *env ? std::string(env) : std::string(LUMARO_PROGRAM_DIR) + "/lumaro";
}

struct RunResult {
  int status = -1;
  std::string out;
};

// Runs "lumaro --convert" with a settings file holding only [General]
// (unless the test wrote one) and the given arguments (already quoted). A
// hang ends after two minutes (exit status 124) instead of stalling the
// suite.
inline RunResult LumaroConvert(const TempDir& tmp, const std::string& args) {
  const std::string settings = tmp / "settings.ini";
  if (!std::filesystem::exists(settings)) WriteFileText(settings, "[General]\n");
  RunResult r;
  r.out = RunOutput("timeout 120 " + Quote(Program()) + " --convert --settings " +
                        Quote(settings) + " " + args + " 2>&1",
                    &r.status);
  return r;
}

// The same without progress output (--quiet).
inline RunResult Lumaro(const TempDir& tmp, const std::string& args) {
  return LumaroConvert(tmp, "--quiet " + args);
}

// identify's "format WxH" of a file (its first picture).
inline std::string Identify(const std::string& path) {
  return RunOutput(std::string(ImIdentify()) + " -format '%m %wx%h' " + Quote(path) +
                   " 2>/dev/null");
}

// One tag of a file as exiftool prints it (-n: numbers, not words).
inline std::string ExifTool(const std::string& path, const std::string& tag, bool numeric = false) {
  std::string out = RunOutput("exiftool -s3 " + std::string(numeric ? "-n " : "") + "-" + tag +
                              " " + Quote(path) + " 2>/dev/null");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Runs exiftool to write tags ("-Artist=Ann -Orientation#=6").
inline void ExifToolWrite(const std::string& path, const std::string& assignments) {
  ASSERT_EQ(Run("exiftool -q -q -overwrite_original " + assignments + " " +
                                 Quote(path) + " >/dev/null 2>&1"),
            0)
      << assignments;
}

// ImageMagick's convert with arguments (already quoted).
inline void Convert(const std::string& args) {
  ASSERT_EQ(Run(std::string(ImConvert()) + " " + args +
                                 " >/dev/null 2>&1"),
            0)
      << args;
}

// Pixel (x, y) counted from the top-left corner.
inline RGBQuad TopLeftPixel(const CImage& image, long x, long y) {
  return image.GetPixelColor(x, image.GetHeight() - 1 - y, false);
}

inline bool Near(RGBQuad a, RGBQuad b, int tolerance) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance;
}

inline std::string Describe(RGBQuad c) {
  return "(" + std::to_string(c.red) + "," + std::to_string(c.green) + "," +
         std::to_string(c.blue) + ")";
}

inline RGBQuad Rgb(uint8_t r, uint8_t g, uint8_t b) {
  RGBQuad q;
  q.red = r;
  q.green = g;
  q.blue = b;
  return q;
}

// A 24-bit image filled with one colour.
inline CImage Solid(int w, int h, RGBQuad colour) {
  CImage image;
  EXPECT_TRUE(image.Create(w, h, 24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.SetPixelColor(x, y, colour);
  return image;
}

// The tests' own settings record (not the process-wide GetSettings()), set
// to its defaults with metadata support on, for code that takes the record
// it works with. Each call starts it afresh.
inline CSettings& FreshSettings() {
  static CSettings own;
  own.ResetToDefaults();
  own.GdiplusAvailable = 1;
  return own;
}

}  // namespace testing_support
