// GIF codec: animations composed frame by frame against ImageMagick's
// coalesced frames, interlacing, files built with giflib's own encoder for
// the cases ImageMagick does not make, our writer's three code streams read
// back by giflib (our reader), ImageMagick and a strict LZW decoder here
// that also checks what each mode promises, and damaged files.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/codecs/codec.h"
#include "imaging/image.h"
#include "test_support.h"

using namespace testing_support;

namespace {

std::string Im() { return ImConvert(); }
int Sh(const std::string& command) { return testing_support::Run(command); }

// ---- files built with giflib's encoder ----------------------------------

struct FrameSpec {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> pixels;  // width * height indices, top row first
  int disposal = DISPOSAL_UNSPECIFIED;
  int transparent = NO_TRANSPARENT_COLOR;
  bool gce = false;
  bool interlace = false;
  std::vector<GifColorType> local;  // empty: the global table
};

int WriteToVector(GifFileType* gif, const GifByteType* data, int length) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + length);
  return length;
}

std::vector<uint8_t> BuildGif(int screenW, int screenH, const std::vector<GifColorType>& global,
                              int background, const std::vector<FrameSpec>& frames) {
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
  EXPECT_NE(gif, nullptr);
  if (!gif) return out;
  EGifSetGifVersion(gif, true);
  ColorMapObject* map =
      global.empty() ? nullptr : GifMakeMapObject(int(global.size()), global.data());
  EXPECT_EQ(EGifPutScreenDesc(gif, screenW, screenH, 8, background, map), GIF_OK);
  GifFreeMapObject(map);
  for (const FrameSpec& f : frames) {
    if (f.gce) {
      GraphicsControlBlock gcb{f.disposal, false, 0, f.transparent};
      GifByteType ext[4];
      size_t n = EGifGCBToExtension(&gcb, ext);
      EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext), GIF_OK);
    }
    ColorMapObject* local =
        f.local.empty() ? nullptr : GifMakeMapObject(int(f.local.size()), f.local.data());
    EXPECT_EQ(EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local), GIF_OK);
    GifFreeMapObject(local);
    std::vector<int> rows;
    if (f.interlace) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < f.height; y += step[p]) rows.push_back(y);
    } else {
      for (int y = 0; y < f.height; ++y) rows.push_back(y);
    }
    for (int y : rows) {
      std::vector<GifPixelType> line(f.pixels.begin() + long(y) * f.width,
                                     f.pixels.begin() + long(y + 1) * f.width);
      EXPECT_EQ(EGifPutLine(gif, line.data(), f.width), GIF_OK);
    }
  }
  EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
  return out;
}

std::vector<GifColorType> FourColours() {
  return {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
}

FrameSpec Solid(int left, int top, int w, int h, uint8_t index) {
  FrameSpec f;
  f.left = left;
  f.top = top;
  f.width = w;
  f.height = h;
  f.pixels.assign(size_t(w) * h, index);
  return f;
}

// ---- a strict LZW decoder for our own files ----------------------------

struct StreamReport {
  bool ok = false;
  std::string error;
  int minCodeSize = 0;
  int maxWidth = 0;
  bool onlyLiterals = true;  // every data code below the clear code
  bool onlyRuns = true;      // every data code stands for one index repeated
  size_t codes = 0;
  int clears = 0;
  std::vector<uint8_t> pixels;
};

// Reads the first frame's code stream of a GIF file and decodes it.
StreamReport DecodeFirstStream(const std::vector<uint8_t>& f) {
  StreamReport rep;
  size_t pos = 13;
  if (f.size() < pos) return rep;
  if (f[10] & 0x80) pos += 3u << ((f[10] & 7) + 1);
  std::vector<uint8_t> data;
  while (pos < f.size()) {
    uint8_t b = f[pos++];
    if (b == 0x21) {
      pos += 1;
      while (pos < f.size() && f[pos]) pos += f[pos] + 1u;
      pos += 1;
    } else if (b == 0x2C) {
      if (pos + 9 > f.size()) return rep;
      uint8_t flags = f[pos + 8];
      pos += 9;
      if (flags & 0x80) pos += 3u << ((flags & 7) + 1);
      rep.minCodeSize = f[pos++];
      while (pos < f.size() && f[pos]) {
        data.insert(data.end(), f.begin() + long(pos) + 1, f.begin() + long(pos) + 1 + f[pos]);
        pos += f[pos] + 1u;
      }
      break;
    } else {
      rep.error = "unexpected block";
      return rep;
    }
  }
  const int clear = 1 << rep.minCodeSize, eoi = clear + 1;
  struct Entry {
    int prefix;
    uint8_t suffix, first;
    bool run;
  };
  std::vector<Entry> table(4096);
  for (int i = 0; i < clear; ++i) table[i] = {-1, uint8_t(i), uint8_t(i), true};
  int width = rep.minCodeSize + 1, next = clear + 2, prev = -1;
  size_t bitPos = 0;
  auto emit = [&](int code) {
    std::vector<uint8_t> s;
    for (int c = code; c >= 0; c = table[c].prefix) s.push_back(table[c].suffix);
    rep.pixels.insert(rep.pixels.end(), s.rbegin(), s.rend());
  };
  for (;;) {
    if (bitPos + width > data.size() * 8) {
      rep.error = "stream ends without an end code";
      return rep;
    }
    int code = 0;
    for (int i = 0; i < width; ++i, ++bitPos)
      code |= ((data[bitPos >> 3] >> (bitPos & 7)) & 1) << i;
    rep.maxWidth = std::max(rep.maxWidth, width);
    if (code == clear) {
      ++rep.clears;
      width = rep.minCodeSize + 1;
      next = clear + 2;
      prev = -1;
      continue;
    }
    if (code == eoi) break;
    ++rep.codes;
    if (code >= clear) rep.onlyLiterals = false;
    if (prev < 0) {
      if (code >= clear) {
        rep.error = "first code after a clear is not a literal";
        return rep;
      }
    } else {
      if (code > next || (code == next && next >= 4096)) {
        rep.error = "code " + std::to_string(code) + " not in the table";
        return rep;
      }
      if (next < 4096) {
        uint8_t first = code == next ? table[prev].first : table[code].first;
        table[next] = {prev, first, table[prev].first,
                       table[prev].run && first == table[prev].first};
        ++next;
        if (next == (1 << width) && width < 12) ++width;
      }
    }
    if (!table[code].run) rep.onlyRuns = false;
    emit(code);
    prev = code;
  }
  rep.ok = true;
  return rep;
}

// Index image with long runs, a noisy band and every index of its depth.
CImage MakeRunsImage(int w, int h, int bpp) {
  CImage img;
  img.Create(w, h, bpp);
  const int n = 1 << bpp;
  std::vector<RGBQuad> pal(n);
  for (int i = 0; i < n; ++i)
    pal[i] = RGBQuad{uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 255 / (n - 1)), 0};
  img.SetPalette(pal.data(), n);
  std::mt19937 rng(5);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int v = (y / 3 + x / 17) % n;
      if (y > h / 2 && y < h / 2 + 30) v = int(rng() % n);
      img.SetPixelIndex(x, y, uint8_t(v));
    }
  return img;
}

}  // namespace

// An animation with offsets, transparency, local colour tables and the
// disposal methods none, background and previous: every frame as
// ImageMagick coalesces it.
TEST(GifRead, AnimationFramesMatchImageMagickCoalesce) {
  TempDir dir;
  std::string f0 = dir / "f0.png", f1 = dir / "f1.png", f2 = dir / "f2.png", f3 = dir / "f3.png",
              f4 = dir / "f4.png", anim = dir / "anim.gif";
  ASSERT_EQ(Sh(Im() + " -seed 3 -size 40x30 plasma:fractal " + Quote(f0)), 0);
  ASSERT_EQ(Sh(Im() + " -size 20x12 xc:none -fill blue -draw 'circle 10,6 10,1' " + Quote(f1)), 0);
  ASSERT_EQ(Sh(Im() + " -size 10x10 xc:lime " + Quote(f2)), 0);
  ASSERT_EQ(Sh(Im() + " -size 15x15 gradient:yellow-purple " + Quote(f3)), 0);
  ASSERT_EQ(Sh(Im() + " -size 8x8 xc:none -fill red -draw 'rectangle 2,2 5,5' " + Quote(f4)), 0);
  ASSERT_EQ(Sh(Im() + " -dispose none -page 40x30+0+0 " + Quote(f0) +
               " -dispose background -page 40x30+5+5 " + Quote(f1) +
               " -dispose previous -page 40x30+20+10 " + Quote(f2) +
               " -dispose none -page 40x30+2+2 " + Quote(f3) +
               " -dispose background -page 40x30+25+15 " + Quote(f4) + " -page 40x30+30+0 " +
               Quote(f2) + " -loop 0 " + Quote(anim)),
            0);
  std::string disposals =
      RunOutput(std::string(ImIdentify()) + " -format '%D ' " + Quote(anim));
  EXPECT_EQ(disposals, "None Background Previous None Background Background ");
  ASSERT_EQ(Sh(Im() + " " + Quote(anim) + " -coalesce -depth 8 " +
               Quote("pam:" + (dir / "frame%d.pam"))),
            0);
  bool sawPalette = false, sawTrueColour = false;
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    CImage img;
    img.SetFrame(i);
    ASSERT_TRUE(img.Load(anim)) << img.GetLastError();
    EXPECT_EQ(img.GetNumFrames(), 6);
    EXPECT_EQ(img.GetType(), FORMAT_GIF);
    EXPECT_EQ(img.GetCodecOption(FORMAT_GIF), 0u);
    RefImage ref;
    ASSERT_TRUE(testing_support::ParsePam(ReadFileBytes(dir / ("frame" + std::to_string(i) + ".pam")),
                                     ref));
    EXPECT_TRUE(SameVisible(img, ref));
    (img.GetBpp() == 8 ? sawPalette : sawTrueColour) = true;
  }
  EXPECT_TRUE(sawPalette);     // frame 0: one colour table
  EXPECT_TRUE(sawTrueColour);  // later frames mix the tables
  CImage img;
  img.SetFrame(6);
  EXPECT_FALSE(img.Load(anim));
  EXPECT_NE(img.GetLastError().find("frame 6"), std::string::npos) << img.GetLastError();
}

TEST(GifRead, InterlacedFileAndSingleFramePalette) {
  TempDir dir;
  std::string src = dir / "src.ppm", gif = dir / "il.gif";
  ASSERT_EQ(Sh(Im() + " -seed 9 -size 33x29 plasma:fractal " + Quote(src)), 0);
  ASSERT_EQ(Sh(Im() + " " + Quote(src) + " -colors 64 -interlace GIF " + Quote(gif)), 0);
  std::vector<uint8_t> bytes = ReadFileBytes(gif);
  // The interlace flag of the image descriptor is set.
  size_t desc = 13 + ((bytes[10] & 0x80) ? (3u << ((bytes[10] & 7) + 1)) : 0);
  while (bytes[desc] == 0x21) {
    desc += 2;
    while (bytes[desc]) desc += bytes[desc] + 1u;
    desc += 1;
  }
  ASSERT_EQ(bytes[desc], 0x2C);
  EXPECT_TRUE(bytes[desc + 9] & 0x40);
  CImage img;
  ASSERT_TRUE(img.Load(gif)) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_EQ(img.GetNumFrames(), 1);
  RefImage ref;
  ASSERT_TRUE(testing_support::LoadWithImageMagick(gif, ref));
  EXPECT_TRUE(SameVisible(img, ref));

  // An interlaced frame from giflib with every row distinct and few rows
  // (the passes are easy to get wrong at heights below 8).
  for (int h : {1, 2, 3, 5, 9, 17}) {
    FrameSpec f = Solid(0, 0, 3, h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 3; ++x) f.pixels[size_t(y) * 3 + x] = uint8_t((y + x) % 4);
    f.interlace = true;
    std::vector<uint8_t> file = BuildGif(3, h, FourColours(), 0, {f});
    CImage t;
    ASSERT_TRUE(t.Decode(file.data(), file.size(), FORMAT_GIF)) << t.GetLastError();
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 3; ++x)
        EXPECT_EQ(t.GetPixelIndex(x, h - 1 - y), (y + x) % 4) << "h " << h << " y " << y;
  }
}

// Cases built with giflib: the transparent index kept on a palette result,
// background disposal without transparency (the background colour), frames
// outside the screen, and a file without a global table.
TEST(GifRead, TransparencyBackgroundAndClipping) {
  // One frame with a transparent index: palette image keeping the index.
  FrameSpec t = Solid(0, 0, 4, 3, 1);
  t.pixels[5] = 2;
  t.gce = true;
  t.transparent = 2;
  std::vector<uint8_t> file = BuildGif(4, 3, FourColours(), 0, {t});
  CImage img;
  ASSERT_TRUE(img.Decode(file.data(), file.size(), FORMAT_GIF)) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_EQ(img.GetTransIndex(), 2);
  EXPECT_EQ(img.GetPixelColor(1, 1).reserved, 0);  // top row 1, x 1 -> bottom row 1
  EXPECT_EQ(img.GetPixelColor(0, 0).reserved, 255);
  EXPECT_EQ(img.GetPixelColor(0, 0).green, 255);

  // Frame 0 fills the screen with index 0 and is disposed to the background
  // (index 2, blue) without transparency; frame 1 paints a 2x2 yellow square
  // partly outside the screen.
  FrameSpec a = Solid(0, 0, 4, 4, 0);
  a.gce = true;
  a.disposal = DISPOSE_BACKGROUND;
  FrameSpec b = Solid(3, 3, 2, 2, 3);
  file = BuildGif(4, 4, FourColours(), 2, {a, b});
  img.SetFrame(1);
  ASSERT_TRUE(img.Decode(file.data(), file.size(), FORMAT_GIF)) << img.GetLastError();
  EXPECT_EQ(img.GetNumFrames(), 2);
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_FALSE(img.IsTransparent());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      RGBQuad c = img.GetPixelColor(x, 3 - y);
      bool yellow = x == 3 && y == 3;
      EXPECT_EQ(c.red, yellow ? 255 : 0) << x << "," << y;
      EXPECT_EQ(c.blue, yellow ? 0 : 255) << x << "," << y;
    }

  // The same with a transparent index on frame 0: the area becomes clear.
  a.transparent = 1;
  file = BuildGif(4, 4, FourColours(), 2, {a, b});
  ASSERT_TRUE(img.Decode(file.data(), file.size(), FORMAT_GIF)) << img.GetLastError();
  EXPECT_EQ(img.GetPixelColor(0, 0).reserved, 0);
  EXPECT_EQ(img.GetPixelColor(3, 0).reserved, 255);

  // A frame entirely off the screen draws nothing; a local table on the
  // only visible frame still gives a palette image with that table.
  FrameSpec local = Solid(0, 0, 4, 4, 1);
  local.local = {{1, 2, 3}, {10, 20, 30}};
  FrameSpec off = Solid(0, 0, 2, 2, 1);
  off.local = {{99, 99, 99}, {98, 98, 98}};
  file = BuildGif(4, 4, {}, 0, {local, off});
  // giflib does not write frames outside the screen: move it by hand.
  size_t second = file.size() - 1;
  while (file[second] != 0x2C) --second;
  file[second + 1] = file[second + 3] = 100;
  ASSERT_TRUE(img.Decode(file.data(), file.size(), FORMAT_GIF)) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_EQ(img.GetPixelColor(2, 2).green, 20);
}

// Our writer: every depth and mode, read back by giflib (our reader), by
// ImageMagick and by the strict decoder above, which also checks what each
// mode promises about its codes.
TEST(GifWrite, ThreeModesEveryDepth) {
  TempDir dir;
  for (int bpp : {1, 4, 8}) {
    CImage img = MakeRunsImage(301, 97, bpp);  // more codes than one table holds
    size_t sizes[3] = {};
    for (uint32_t mode : {0u, 1u, 2u}) {
      SCOPED_TRACE("bpp " + std::to_string(bpp) + " mode " + std::to_string(mode));
      img.SetCodecOption(mode, FORMAT_GIF);
      std::string path = dir / ("w" + std::to_string(bpp) + "_" + std::to_string(mode) + ".gif");
      ASSERT_TRUE(img.Save(path, FORMAT_GIF)) << img.GetLastError();
      std::vector<uint8_t> bytes = ReadFileBytes(path);
      sizes[mode] = bytes.size();
      EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
      // Global table of 2^bits entries.
      EXPECT_EQ((bytes[10] & 7) + 1, bpp);

      CImage back;
      ASSERT_TRUE(back.Load(path)) << back.GetLastError();
      EXPECT_TRUE(testing_support::SameColours(img, back));

      RefImage ref;
      ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
      EXPECT_TRUE(testing_support::MatchesRef(img, ref));
      std::string info = RunOutput(std::string(ImIdentify()) + " -format '%m %w %h %r' " +
                                   Quote(path));
      EXPECT_EQ(info.substr(0, 11), "GIF 301 97 ") << info;
      EXPECT_NE(info.find("PseudoClass"), std::string::npos) << info;

      StreamReport rep = DecodeFirstStream(bytes);
      ASSERT_TRUE(rep.ok) << rep.error;
      EXPECT_EQ(rep.minCodeSize, std::max(2, bpp));
      std::vector<uint8_t> expect;
      for (int y = img.GetHeight() - 1; y >= 0; --y)
        for (int x = 0; x < img.GetWidth(); ++x) expect.push_back(img.GetPixelIndex(x, y));
      EXPECT_EQ(rep.pixels, expect);
      if (mode == 1) {
        EXPECT_TRUE(rep.onlyLiterals);
        EXPECT_EQ(rep.maxWidth, rep.minCodeSize + 1);
        EXPECT_EQ(rep.codes, expect.size());
      } else {
        EXPECT_FALSE(rep.onlyLiterals);
        EXPECT_GT(rep.maxWidth, rep.minCodeSize + 1);
        if (bpp == 8) {
          // The table filled and started over.
          EXPECT_EQ(rep.maxWidth, 12);
          EXPECT_GT(rep.clears, 1);
        }
      }
      if (mode == 2) {
        EXPECT_TRUE(rep.onlyRuns);
      } else if (mode == 0) {
        EXPECT_FALSE(rep.onlyRuns);
      }
    }
    // LZW packs best, "no compression" does not pack at all.
    EXPECT_LT(sizes[0], sizes[2]) << bpp;
    EXPECT_LT(sizes[2], sizes[1]) << bpp;
    EXPECT_GT(sizes[1], size_t(301) * 97 * (std::max(2, bpp) + 1) / 8) << bpp;
  }
  // Thirty bands of 12,000 pixels of one index, and a few dots: runs far
  // longer than the table's entries, which fill it and start it over.
  CImage solid;
  ASSERT_TRUE(solid.Create(1200, 300, 8));
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 1200; ++x) solid.SetPixelIndex(x, y, uint8_t(y / 10 * 7));
  for (int x = 0; x < 1200; x += 397) solid.SetPixelIndex(x, 150, 9);
  for (uint32_t mode : {0u, 2u}) {
    SCOPED_TRACE("solid, mode " + std::to_string(mode));
    solid.SetCodecOption(mode, FORMAT_GIF);
    std::string path = dir / ("solid" + std::to_string(mode) + ".gif");
    ASSERT_TRUE(solid.Save(path, FORMAT_GIF)) << solid.GetLastError();
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
    EXPECT_TRUE(testing_support::MatchesRef(solid, ref));
    StreamReport rep = DecodeFirstStream(ReadFileBytes(path));
    ASSERT_TRUE(rep.ok) << rep.error;
    EXPECT_EQ(rep.pixels.size(), size_t(1200) * 300);
    EXPECT_GT(rep.clears, 1);
  }
}

TEST(GifWrite, TransparencyAndTrueColourInput) {
  TempDir dir;
  // A palette image with a transparent index.
  CImage pal = MakeRunsImage(20, 10, 4);
  pal.SetTransIndex(3);
  std::vector<uint8_t> data;
  for (uint32_t mode : {0u, 1u, 2u}) {
    pal.SetCodecOption(mode, FORMAT_GIF);
    std::string path = dir / ("t" + std::to_string(mode) + ".gif");
    ASSERT_TRUE(pal.Save(path, FORMAT_GIF)) << pal.GetLastError();
    CImage back;
    ASSERT_TRUE(back.Load(path)) << back.GetLastError();
    EXPECT_EQ(back.GetTransIndex(), 3);
    EXPECT_TRUE(testing_support::SameColours(pal, back, true));
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
    EXPECT_TRUE(SameVisible(pal, ref));
  }

  // A palette image whose alpha plane hides some pixels: they get an index
  // of their own, the rest keep their colours.
  CImage full = MakeRunsImage(16, 16, 8);  // uses only some of 256 indices
  ASSERT_TRUE(full.AlphaCreate());
  for (int x = 0; x < 16; ++x) *full.AlphaGetPointer(x, 5) = 10;
  *full.AlphaGetPointer(3, 3) = 200;  // above half: stays visible
  ASSERT_TRUE(full.Encode(data, FORMAT_GIF)) << full.GetLastError();
  CImage back;
  ASSERT_TRUE(back.Decode(data.data(), data.size(), FORMAT_GIF)) << back.GetLastError();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      RGBQuad c = back.GetPixelColor(x, y), o = full.GetPixelColor(x, y, false);
      if (y == 5) {
        EXPECT_EQ(c.reserved, 0);
      } else {
        EXPECT_EQ(c.reserved, 255);
        EXPECT_TRUE(c.red == o.red && c.green == o.green && c.blue == o.blue) << x << "," << y;
      }
    }

  // Every one of 256 indices visible plus transparent pixels: the least
  // used index is given up for transparency.
  CImage all;
  ASSERT_TRUE(all.Create(32, 9, 8));
  for (int i = 0; i < 256; ++i) all.SetPixelIndex(i % 32, i / 32, uint8_t(i));
  for (int x = 0; x < 32; ++x) all.SetPixelIndex(x, 8, 7);
  ASSERT_TRUE(all.AlphaCreate());
  *all.AlphaGetPointer(0, 8) = 0;
  data.clear();
  ASSERT_TRUE(all.Encode(data, FORMAT_GIF)) << all.GetLastError();
  ASSERT_TRUE(back.Decode(data.data(), data.size(), FORMAT_GIF)) << back.GetLastError();
  EXPECT_GE(back.GetTransIndex(), 0);
  EXPECT_EQ(back.GetPixelColor(0, 8).reserved, 0);
  int changed = 0;
  for (int i = 0; i < 256; ++i) {
    RGBQuad c = back.GetPixelColor(i % 32, i / 32);
    EXPECT_EQ(c.reserved, 255);
    changed += c.red != i;  // grey palette: red == index
  }
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(back.GetPixelColor(1, 8).red, 7);

  // A 24-bit picture with an alpha plane: reduced to 8 bits, alpha below
  // 128 transparent.
  CImage rgb = testing_support::MakePatternImage(40, 20, 24);
  ASSERT_TRUE(rgb.AlphaCreate());
  for (int x = 0; x < 40; ++x) *rgb.AlphaGetPointer(x, 0) = 0;
  std::string path = dir / "rgb.gif";
  ASSERT_TRUE(rgb.Save(path, FORMAT_GIF)) << rgb.GetLastError();
  ASSERT_TRUE(back.Load(path)) << back.GetLastError();
  EXPECT_EQ(back.GetBpp(), 8);
  EXPECT_EQ(rgb.GetBpp(), 24);  // the caller's image is not touched
  EXPECT_GE(back.GetTransIndex(), 0);
  EXPECT_EQ(back.GetPixelColor(5, 0).reserved, 0);
  EXPECT_EQ(back.GetPixelColor(5, 1).reserved, 255);
  EXPECT_GT(testing_support::Psnr(rgb, back), 20.0);
  RefImage ref;
  ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
  EXPECT_TRUE(SameVisible(back, ref));
}

// A frame composed from two colour tables loads as 24 bits; written again
// (as the split tool does) it keeps every colour and its transparency,
// because its few colours become the palette instead of a dithered one.
TEST(GifWrite, ComposedFrameSavedAgainIsExact) {
  FrameSpec a = Solid(0, 0, 6, 6, 1);
  a.local = {{10, 20, 30}, {200, 100, 50}};
  a.pixels[7] = 0;
  FrameSpec b = Solid(2, 2, 5, 5, 1);  // partly off the screen
  b.local = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {250, 251, 252}};
  b.pixels[3] = 3;
  b.pixels[0] = 2;
  b.gce = true;
  b.transparent = 2;
  std::vector<uint8_t> file = BuildGif(8, 8, {}, 0, {a, b});
  CImage frame;
  frame.SetFrame(1);
  ASSERT_TRUE(frame.Decode(file.data(), file.size(), FORMAT_GIF)) << frame.GetLastError();
  ASSERT_EQ(frame.GetBpp(), 24);
  ASSERT_TRUE(frame.AlphaIsValid());  // the screen outside frame 0 is clear
  for (uint32_t mode : {0u, 2u}) {
    frame.SetCodecOption(mode, FORMAT_GIF);
    CImage again;
    ASSERT_TRUE(testing_support::RoundTrip(frame, FORMAT_GIF, again));
    EXPECT_EQ(again.GetBpp(), 8);
    EXPECT_TRUE(testing_support::SameColours(frame, again, true));
  }
}

// Damaged files, giant sizes and files with very many frames end cleanly.
TEST(GifHostile, TruncatedGiantAndEndlessFiles) {
  CImage img;
  CImage src = MakeRunsImage(50, 40, 8);
  std::vector<uint8_t> good;
  ASSERT_TRUE(src.Encode(good, FORMAT_GIF));
  for (size_t cut : {size_t(3), size_t(10), size_t(13 + 100), size_t(13 + 768 + 5),
                     good.size() / 2, good.size() - 4}) {
    std::vector<uint8_t> t(good.begin(), good.begin() + long(cut));
    EXPECT_FALSE(img.Decode(t.data(), t.size(), FORMAT_GIF)) << cut;
    EXPECT_FALSE(img.GetLastError().empty());
  }
  // Without its trailer the picture is whole: it loads.
  {
    std::vector<uint8_t> t(good.begin(), good.end() - 1);
    EXPECT_TRUE(img.Decode(t.data(), t.size(), FORMAT_GIF)) << img.GetLastError();
  }
  // Garbage in the code stream.
  {
    std::vector<uint8_t> t(good);
    for (size_t i = 13 + 768 + 12; i < t.size() - 2; i += 7) t[i] = 0xFF;
    EXPECT_FALSE(img.Decode(t.data(), t.size(), FORMAT_GIF));
  }
  // A 65535 x 65535 screen is above the pixel limit; so is a frame of that
  // size on a small screen.
  {
    std::vector<uint8_t> t(good);
    t[6] = t[7] = t[8] = t[9] = 0xFF;
    EXPECT_FALSE(img.Decode(t.data(), t.size(), FORMAT_GIF));
    EXPECT_NE(img.GetLastError().find("limit"), std::string::npos) << img.GetLastError();
    std::vector<uint8_t> f(good);
    f[13 + 768 + 5] = f[13 + 768 + 6] = f[13 + 768 + 7] = f[13 + 768 + 8] = 0xFF;
    ASSERT_EQ(f[13 + 768], 0x2C);
    EXPECT_FALSE(img.Decode(f.data(), f.size(), FORMAT_GIF));
  }
  // A frame of 10000 x 10000 pixels on a small screen whose data runs out:
  // fails at the end of the data, without holding the whole frame.
  {
    FrameSpec big = Solid(0, 0, 10000, 1, 1);
    std::vector<uint8_t> t = BuildGif(8, 8, FourColours(), 0, {big});
    ASSERT_GT(t.size(), 20u);
    // Patch the frame height (after the 13-byte header and 12-byte table
    // of four colours: 0x2C, left, top, width, height).
    size_t d = 13 + 12;
    ASSERT_EQ(t[d], 0x2C);
    t[d + 7] = 0x10;
    t[d + 8] = 0x27;  // 10000 rows
    EXPECT_FALSE(img.Decode(t.data(), t.size(), FORMAT_GIF));
  }
  // 120000 one-pixel frames: counting stops at the frame limit, quickly
  // and in constant memory; a frame deep inside loads.
  {
    std::vector<FrameSpec> frames(120000, Solid(0, 0, 1, 1, 1));
    std::vector<uint8_t> t = BuildGif(2, 2, FourColours(), 0, frames);
    auto start = std::chrono::steady_clock::now();
    img.SetFrame(99999);
    ASSERT_TRUE(img.Decode(t.data(), t.size(), FORMAT_GIF)) << img.GetLastError();
    EXPECT_EQ(img.GetNumFrames(), 100000);
    img.SetFrame(110000);
    EXPECT_FALSE(img.Decode(t.data(), t.size(), FORMAT_GIF));
    // Well under a second each in a normal build; anything quadratic in
    // the number of frames would take hours.
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0);
  }
  // Images wider than a GIF can say are refused.
  CImage wide;
  ASSERT_TRUE(wide.Create(70000, 1, 8));
  std::vector<uint8_t> out;
  EXPECT_FALSE(wide.Encode(out, FORMAT_GIF));
}
