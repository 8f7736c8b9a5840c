// ICO codec: multi-size icons written by ImageMagick (bitmap and PNG
// entries), hand-made icons and cursors with palette bitmaps and AND masks,
// our one-image writer read back by ImageMagick, and damaged directories.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"
#include "imaging/image.h"
#include "test_support.h"

using namespace testing_support;

namespace {

std::string Im() { return ImConvert(); }
int Sh(const std::string& command) { return testing_support::Run(command); }

using byte_order::PutLe16;
using byte_order::PutLe32;

// A palette icon bitmap: header with doubled height, 2^bpp colours, index
// rows and mask rows (both given top row first, stored bottom-up).
std::vector<uint8_t> PaletteDib(int w, int h, int bpp, const std::vector<RGBQuad>& palette,
                                const std::vector<uint8_t>& indices,
                                const std::vector<bool>& transparent) {
  std::vector<uint8_t> d;
  const size_t xorRow = DibRowBytes(w, bpp), andRow = DibRowBytes(w, 1);
  PutLe32(d, 40);
  PutLe32(d, uint32_t(w));
  PutLe32(d, uint32_t(2 * h));
  PutLe16(d, 1);
  PutLe16(d, uint32_t(bpp));
  PutLe32(d, 0);
  PutLe32(d, uint32_t((xorRow + andRow) * h));
  PutLe32(d, 0);
  PutLe32(d, 0);
  PutLe32(d, 0);
  PutLe32(d, 0);
  for (int i = 0; i < (1 << bpp); ++i) {
    RGBQuad c = i < int(palette.size()) ? palette[i] : RGBQuad{};
    d.insert(d.end(), {c.blue, c.green, c.red, 0});
  }
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(xorRow, 0);
    for (int x = 0; x < w; ++x) {
      uint8_t v = indices[size_t(y) * w + x];
      int bit = x * bpp;
      row[bit / 8] |= uint8_t(v << (8 - bpp - bit % 8));
    }
    d.insert(d.end(), row.begin(), row.end());
  }
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(andRow, 0);
    for (int x = 0; x < w; ++x)
      if (transparent[size_t(y) * w + x]) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    d.insert(d.end(), row.begin(), row.end());
  }
  return d;
}

struct DirEntry {
  std::vector<uint8_t> data;
  uint8_t w = 0, h = 0;
  uint16_t planesOrHotX = 1, bitsOrHotY = 0;
};

std::vector<uint8_t> IconFile(uint16_t type, const std::vector<DirEntry>& entries) {
  std::vector<uint8_t> d;
  PutLe16(d, 0);
  PutLe16(d, type);
  PutLe16(d, uint32_t(entries.size()));
  uint32_t offset = uint32_t(6 + 16 * entries.size());
  for (const DirEntry& e : entries) {
    d.insert(d.end(), {e.w, e.h, 0, 0});
    PutLe16(d, e.planesOrHotX);
    PutLe16(d, e.bitsOrHotY);
    PutLe32(d, uint32_t(e.data.size()));
    PutLe32(d, offset);
    offset += uint32_t(e.data.size());
  }
  for (const DirEntry& e : entries) d.insert(d.end(), e.data.begin(), e.data.end());
  return d;
}

}  // namespace

// Four sizes from ImageMagick: 32-bit bitmaps with alpha and a PNG entry
// for 256 x 256. Every frame as ImageMagick reads it.
TEST(IcoRead, MultiSizeIconFromImageMagick) {
  TempDir dir;
  std::string src = dir / "src.png", ico = dir / "multi.ico";
  ASSERT_EQ(Sh(Im() + " -seed 4 -size 64x64 plasma:fractal \\( -size 64x64 radial-gradient: \\) " +
               "-alpha off -compose copy_opacity -composite " + Quote(src)),
            0);
  ASSERT_EQ(Sh(Im() + " " + Quote(src) + " -define icon:auto-resize=16,32,48,256 " + Quote(ico)),
            0);
  const int sizes[] = {16, 32, 48, 256};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    CImage img;
    img.SetFrame(i);
    ASSERT_TRUE(img.Load(ico)) << img.GetLastError();
    EXPECT_EQ(img.GetType(), FORMAT_ICO);
    EXPECT_EQ(img.GetNumFrames(), 4);
    EXPECT_EQ(img.GetFrame(), i);
    EXPECT_EQ(img.GetWidth(), sizes[i]);
    EXPECT_TRUE(img.AlphaIsValid());
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(ico, ref, i));
    // The PNG entry holds 16-bit samples; how they are cut to 8 bits is the
    // PNG codec's affair.
    EXPECT_TRUE(SameVisible(img, ref, i == 3 ? 1 : 0));
  }
  CImage img;
  img.SetFrame(4);
  EXPECT_FALSE(img.Load(ico));
}

// A cursor made by hand: a 4-bit entry with a mask and a 1-bit entry, hot
// spots in the directory; widths that are not a multiple of 8.
TEST(IcoRead, HandMadeCursorWithPaletteEntriesAndMasks) {
  TempDir dir;
  const int w = 11, h = 9;
  std::vector<RGBQuad> pal16;
  for (int i = 0; i < 16; ++i)
    pal16.push_back(RGBQuad{uint8_t(i * 16), uint8_t(200 - i * 12), uint8_t(i * 7), 0});
  std::vector<uint8_t> idx4(w * h), idx1(w * h);
  std::vector<bool> mask4(w * h), mask1(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      size_t i = size_t(y) * w + x;
      idx4[i] = uint8_t((x + 2 * y) % 16);
      mask4[i] = (x + y) % 5 == 0;
      idx1[i] = uint8_t((x ^ y) & 1);
      mask1[i] = x == 0 || y == 0;
    }
  DirEntry e4{PaletteDib(w, h, 4, pal16, idx4, mask4), w, h, 3, 4};
  DirEntry e1{PaletteDib(w, h, 1, {{0, 0, 0, 0}, {255, 255, 255, 0}}, idx1, mask1), w, h, 5, 6};
  std::vector<uint8_t> cur = IconFile(2, {e4, e1});
  std::string path = dir / "hand.cur";
  WriteFileBytes(path, cur.data(), cur.size());

  for (int frame = 0; frame < 2; ++frame) {
    SCOPED_TRACE(frame);
    CImage img;
    img.SetFrame(frame);
    ASSERT_TRUE(img.Load(path)) << img.GetLastError();  // found by content
    EXPECT_EQ(img.GetNumFrames(), 2);
    EXPECT_EQ(img.GetBpp(), frame == 0 ? 4 : 1);
    ASSERT_TRUE(img.AlphaIsValid());
    const std::vector<uint8_t>& idx = frame == 0 ? idx4 : idx1;
    const std::vector<bool>& mask = frame == 0 ? mask4 : mask1;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        size_t i = size_t(y) * w + x;
        EXPECT_EQ(img.GetPixelIndex(x, h - 1 - y), idx[i]);
        EXPECT_EQ(img.GetPixelColor(x, h - 1 - y).reserved, mask[i] ? 0 : 255);
      }
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick("cur:" + path, ref, frame));
    EXPECT_TRUE(SameVisible(img, ref));
  }
}

// 32-bit entries whose alpha bytes are all zero use the AND mask; with
// alpha set, the mask is ignored.
TEST(IcoRead, ThirtyTwoBitAlphaOrMask) {
  std::vector<uint8_t> dib;
  PutLe32(dib, 40);
  PutLe32(dib, 2);
  PutLe32(dib, 4);
  PutLe16(dib, 1);
  PutLe16(dib, 32);
  for (int i = 0; i < 6; ++i) PutLe32(dib, 0);
  // Two rows of two BGRA pixels (bottom row first), then the mask rows.
  dib.insert(dib.end(), {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0, 1, 2, 3, 0});
  dib.insert(dib.end(), {0x40, 0, 0, 0, 0x80, 0, 0, 0});  // bottom row x 1, top row x 0
  std::vector<uint8_t> file = IconFile(1, {{dib, 2, 2, 1, 32}});
  CImage img;
  ASSERT_TRUE(img.Decode(file.data(), file.size(), FORMAT_ICO)) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 24);
  EXPECT_EQ(img.GetPixelColor(0, 0).reserved, 255);
  EXPECT_EQ(img.GetPixelColor(1, 0).reserved, 0);
  EXPECT_EQ(img.GetPixelColor(0, 1).reserved, 0);
  EXPECT_EQ(img.GetPixelColor(1, 1).reserved, 255);
  EXPECT_EQ(img.GetPixelColor(1, 0).red, 60);

  dib[40 + 3] = 77;  // some alpha in the colour data
  file = IconFile(1, {{dib, 2, 2, 1, 32}});
  ASSERT_TRUE(img.Decode(file.data(), file.size(), FORMAT_ICO)) << img.GetLastError();
  EXPECT_EQ(img.GetPixelColor(0, 0).reserved, 77);
  EXPECT_EQ(img.GetPixelColor(1, 0).reserved, 0);
  EXPECT_EQ(img.GetPixelColor(0, 1).reserved, 0);
}

// Our writer: palette depths with their palette, 24 bits, 24 bits with
// alpha (a 32-bit entry), the largest size; read back by us and ImageMagick.
TEST(IcoWrite, OneImageIconsReadBackByUsAndImageMagick) {
  TempDir dir;
  struct Case {
    int w, h, bpp;
    bool alpha, trans;
  } cases[] = {{16, 16, 1, false, false}, {32, 32, 4, false, true}, {24, 20, 8, true, false},
               {48, 48, 24, false, false}, {33, 17, 24, true, false}, {256, 256, 24, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "x" + std::to_string(c.bpp));
    CImage img = testing_support::MakePatternImage(c.w, c.h, c.bpp);
    if (c.alpha) {
      ASSERT_TRUE(img.AlphaCreate());
      for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x)
          *img.AlphaGetPointer(x, y) = uint8_t(c.bpp == 24 ? (x * 255 / (c.w - 1)) : (x < 3 ? 0 : 255));
    }
    if (c.trans) img.SetTransIndex(2);
    std::string path = dir / "w.ico";
    ASSERT_TRUE(img.Save(path, FORMAT_ICO)) << img.GetLastError();
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes[6], uint8_t(c.w & 0xFF));
    EXPECT_EQ(bytes[12], (c.bpp == 24 && c.alpha) ? 32 : c.bpp);
    CImage back;
    ASSERT_TRUE(back.Load(path)) << back.GetLastError();
    EXPECT_EQ(back.GetType(), FORMAT_ICO);
    EXPECT_EQ(back.GetBpp(), c.bpp);
    EXPECT_EQ(back.GetNumFrames(), 1);
    // Colours exact; alpha exact for 32-bit entries, through the mask
    // (below 128 transparent) otherwise.
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        RGBQuad o = img.GetPixelColor(x, y, true), b = back.GetPixelColor(x, y, true);
        ASSERT_TRUE(o.red == b.red && o.green == b.green && o.blue == b.blue) << x << "," << y;
        uint8_t expectAlpha = (c.bpp == 24 && c.alpha) ? o.reserved : (o.reserved < 128 ? 0 : 255);
        ASSERT_EQ(b.reserved, expectAlpha) << x << "," << y;
      }
    RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(path, ref));
    EXPECT_TRUE(SameVisible(back, ref));
    std::string info =
        RunOutput(std::string(ImIdentify()) + " -format '%m %w %h' " + Quote(path));
    EXPECT_EQ(info, "ICO " + std::to_string(c.w) + " " + std::to_string(c.h));
  }
  CImage big = testing_support::MakePatternImage(257, 10, 24);
  std::vector<uint8_t> out;
  EXPECT_FALSE(big.Encode(out, FORMAT_ICO));
  EXPECT_NE(big.GetLastError().find("256"), std::string::npos) << big.GetLastError();
}

TEST(IcoHostile, DamagedDirectoriesAndEntries) {
  CImage src = testing_support::MakePatternImage(16, 16, 8);
  std::vector<uint8_t> good;
  ASSERT_TRUE(src.Encode(good, FORMAT_ICO));
  CImage img;
  ASSERT_TRUE(img.Decode(good.data(), good.size(), FORMAT_ICO)) << img.GetLastError();
  for (size_t cut : {size_t(2), size_t(6), size_t(15), size_t(22), size_t(40), size_t(22 + 40 + 500),
                     size_t(22 + 40 + 1024 + 100)}) {
    std::vector<uint8_t> t(good.begin(), good.begin() + long(cut));
    EXPECT_FALSE(img.Decode(t.data(), t.size(), FORMAT_ICO)) << cut;
    EXPECT_FALSE(img.GetLastError().empty());
  }
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    return Patched(good, at, bytes);
  };
  struct Lie {
    const char* what;
    std::vector<uint8_t> file;
  } lies[] = {
      {"no images", patched(4, {0, 0})},
      {"thousands of entries", patched(4, {0xFF, 0xFF})},
      {"data offset beyond the file", patched(18, {0xFF, 0xFF, 0xFF, 0x7F})},
      {"giant bitmap", patched(22 + 4, {0xFF, 0xFF, 0xFF, 0x0F})},
      {"top-down bitmap", patched(22 + 8, {0xE0, 0xFF, 0xFF, 0xFF})},
      {"RLE bitmap", patched(22 + 16, {1})},
      {"odd bit count", patched(22 + 14, {7})},
      {"not an icon", patched(2, {3})},
  };
  for (const Lie& lie : lies) {
    EXPECT_FALSE(img.Decode(lie.file.data(), lie.file.size(), FORMAT_ICO)) << lie.what;
    EXPECT_FALSE(img.GetLastError().empty()) << lie.what;
  }
  // A size field running past the end is cut to the file: still whole.
  std::vector<uint8_t> t = patched(14, {0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_TRUE(img.Decode(t.data(), t.size(), FORMAT_ICO)) << img.GetLastError();
  // A PNG signature followed by garbage.
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H'};
  std::vector<uint8_t> bad = IconFile(1, {{png, 16, 16, 1, 32}});
  EXPECT_FALSE(img.Decode(bad.data(), bad.size(), FORMAT_ICO));
  EXPECT_FALSE(img.GetLastError().empty());
}
