#include "imaging/quantizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/output_format.h"
#include "test_support.h"

namespace {

struct Rgb {
  uint8_t r, g, b;
};

RGBQuad Q(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0) {
  RGBQuad q;
  q.red = r;
  q.green = g;
  q.blue = b;
  q.reserved = a;
  return q;
}

Rgb Grey(uint8_t v) { return Rgb{v, v, v}; }

// A packed 24-bit bitmap of the given rows (storage order). Padding bytes
// are filled with 0xEE so that reading them would show.
std::vector<uint8_t> Dib24(const std::vector<std::vector<Rgb>>& rows) {
  const int width = int(rows.empty() ? 0 : rows[0].size());
  const size_t stride = DibRowBytes(width, 24);
  BitmapInfoHeader h;
  h.biWidth = width;
  h.biHeight = int32_t(rows.size());
  h.biBitCount = 24;
  std::vector<uint8_t> dib(sizeof h + stride * rows.size(), 0xEE);
  std::memcpy(dib.data(), &h, sizeof h);
  for (size_t y = 0; y < rows.size(); ++y) {
    uint8_t* p = dib.data() + sizeof h + y * stride;
    for (const Rgb& c : rows[y]) {
      *p++ = c.b;
      *p++ = c.g;
      *p++ = c.r;
    }
  }
  return dib;
}

// A packed palette bitmap: header, the table, then the row bytes as given.
std::vector<uint8_t> DibIndexed(int bits, int width, const std::vector<RGBQuad>& table,
                                const std::vector<std::vector<uint8_t>>& rowBytes,
                                uint32_t clrUsed) {
  BitmapInfoHeader h;
  h.biWidth = width;
  h.biHeight = int32_t(rowBytes.size());
  h.biBitCount = uint16_t(bits);
  h.biClrUsed = clrUsed;
  const size_t stride = DibRowBytes(width, bits);
  std::vector<uint8_t> dib(sizeof h + table.size() * 4 + stride * rowBytes.size(), 0);
  std::memcpy(dib.data(), &h, sizeof h);
  std::memcpy(dib.data() + sizeof h, table.data(), table.size() * 4);
  for (size_t y = 0; y < rowBytes.size(); ++y)
    std::memcpy(dib.data() + sizeof h + table.size() * 4 + y * stride, rowBytes[y].data(),
                std::min(stride, rowBytes[y].size()));
  return dib;
}

std::vector<RGBQuad> Palette(COctreeQuantizer& q, uint8_t fill = 0) {
  std::vector<RGBQuad> table(256, Q(fill, fill, fill, fill));
  q.SetColorTable(table.data());
  return table;
}

void ExpectRestIs(const std::vector<RGBQuad>& table, size_t from, RGBQuad value) {
  for (size_t i = from; i < table.size(); ++i) ASSERT_EQ(table[i], value) << "entry " << i;
}

TEST(COctreeQuantizer, Construction) {
  COctreeQuantizer a(8, 8);
  EXPECT_EQ(a.GetMaxColors(), 16u);
  EXPECT_EQ(a.GetOutputColors(), 8u);
  EXPECT_EQ(a.GetColorBits(), 8u);
  COctreeQuantizer b(17, 12);
  EXPECT_EQ(b.GetMaxColors(), 17u);
  EXPECT_EQ(b.GetColorBits(), 8u);
  COctreeQuantizer c(1000, 7);
  EXPECT_EQ(c.GetOutputColors(), 256u);
  EXPECT_EQ(c.GetMaxColors(), 256u);
  EXPECT_EQ(c.GetColorBits(), 7u);
  EXPECT_EQ(c.GetLeafCount(), 0u);
}

TEST(COctreeQuantizer, FewColoursGiveOneEntryEachInTreeOrder) {
  // Two rows of three pixels; each row is padded with three bytes.
  auto dib = Dib24({{Rgb{255, 0, 0}, Rgb{0, 0, 255}, Rgb{254, 254, 254}},
                    {Rgb{0, 255, 0}, Rgb{255, 255, 255}, Rgb{0, 0, 0}}});
  {
    COctreeQuantizer q(256, 8);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    EXPECT_EQ(q.GetLeafCount(), 6u);
    auto t = Palette(q);
    // Level 0 orders by the top bits: black 0, blue 1, green 2, red 4, the
    // two light greys 7 (then 254 before 255 at the last level).
    EXPECT_EQ(t[0], Q(0, 0, 0));
    EXPECT_EQ(t[1], Q(0, 0, 255));
    EXPECT_EQ(t[2], Q(0, 255, 0));
    EXPECT_EQ(t[3], Q(255, 0, 0));
    EXPECT_EQ(t[4], Q(254, 254, 254));
    EXPECT_EQ(t[5], Q(255, 255, 255));
    ExpectRestIs(t, 6, Q(0, 0, 0));
  }
  {
    // With 7 colour bits 254 and 255 fall into one leaf: their average.
    COctreeQuantizer q(256, 7);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    EXPECT_EQ(q.GetLeafCount(), 5u);
    auto t = Palette(q);
    EXPECT_EQ(t[4], Q(254, 254, 254));  // (254 + 255) / 2
    ExpectRestIs(t, 5, Q(0, 0, 0));
  }
  {
    // Fewer than 16 output colours but not fewer than the leaves: copied.
    COctreeQuantizer q(6, 8);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    auto t = Palette(q);
    EXPECT_EQ(t[3], Q(255, 0, 0));
    EXPECT_EQ(t[5], Q(255, 255, 255));
    ExpectRestIs(t, 6, Q(0, 0, 0));
  }
}

// Sixteen greys 0, 16, ..., 240, grey i appearing i + 1 times.
std::vector<std::vector<Rgb>> WeightedGreys() {
  std::vector<Rgb> row;
  for (int i = 0; i < 16; ++i)
    for (int k = 0; k <= i; ++k) row.push_back(Grey(uint8_t(16 * i)));
  return {row};
}

TEST(COctreeQuantizer, LimitEightMergesSixteenLeavesByWeight) {
  auto dib = Dib24(WeightedGreys());
  COctreeQuantizer q(8, 8);
  ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
  EXPECT_EQ(q.GetLeafCount(), 16u);  // 16 leaves fit the working maximum
  auto t = Palette(q);
  // Entry j averages greys 32j (weight 2j+1) and 32j+16 (weight 2j+2).
  const uint8_t expected[8] = {10, 41, 72, 104, 136, 168, 200, 232};
  for (int j = 0; j < 8; ++j) EXPECT_EQ(t[j], Q(expected[j], expected[j], expected[j])) << j;
  ExpectRestIs(t, 8, Q(0, 0, 0));

  // Three entries over 16 leaves: index ranges 0-4, 5-9, 10-15.
  COctreeQuantizer three(3, 8);
  ASSERT_TRUE(three.ProcessImage(dib.data(), dib.size()));
  auto t3 = Palette(three);
  // (1*0+2*16+3*32+4*48+5*64)/15 = 640/15; (6*80+...+10*144)/40 = 4640/40;
  // (11*160+...+16*240)/81 = 16480/81.
  EXPECT_EQ(t3[0], Q(42, 42, 42));
  EXPECT_EQ(t3[1], Q(116, 116, 116));
  EXPECT_EQ(t3[2], Q(203, 203, 203));
  ExpectRestIs(t3, 3, Q(0, 0, 0));
}

TEST(COctreeQuantizer, LimitZeroLeavesTheTableZero) {
  auto dib = Dib24(WeightedGreys());
  COctreeQuantizer q(0, 8);
  ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
  EXPECT_EQ(q.GetLeafCount(), 16u);
  auto t = Palette(q);
  ExpectRestIs(t, 0, Q(0, 0, 0));
}

// Thirteen greys 16 .. 208, then two pairs of colours that differ only in
// the lowest bit; 17 leaves in all. The pair added last is merged.
std::vector<Rgb> PairsImage(bool pairAFirst) {
  std::vector<Rgb> px;
  for (int i = 1; i <= 13; ++i) px.push_back(Grey(uint8_t(16 * i)));
  const std::vector<Rgb> a = {Grey(224), Grey(225)}, b = {Grey(240), Grey(241)};
  for (const Rgb& c : pairAFirst ? a : b) px.push_back(c);
  for (const Rgb& c : pairAFirst ? b : a) px.push_back(c);
  return px;
}

TEST(COctreeQuantizer, NewestNodeIsReducedFirst) {
  for (bool aFirst : {true, false}) {
    // One pixel per row, so the two images differ only in row order.
    std::vector<std::vector<Rgb>> rows;
    for (const Rgb& c : PairsImage(aFirst)) rows.push_back({c});
    auto dib = Dib24(rows);
    COctreeQuantizer q(16, 8);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    EXPECT_EQ(q.GetLeafCount(), 16u);
    auto t = Palette(q);
    for (int i = 0; i < 13; ++i) {
      const uint8_t v = uint8_t(16 * (i + 1));
      EXPECT_EQ(t[i], Q(v, v, v)) << i;
    }
    if (aFirst) {
      EXPECT_EQ(t[13], Q(224, 224, 224));
      EXPECT_EQ(t[14], Q(225, 225, 225));
      EXPECT_EQ(t[15], Q(240, 240, 240));  // 240 and 241 merged
    } else {
      EXPECT_EQ(t[13], Q(224, 224, 224));  // 224 and 225 merged
      EXPECT_EQ(t[14], Q(240, 240, 240));
      EXPECT_EQ(t[15], Q(241, 241, 241));
    }
    ExpectRestIs(t, 16, Q(0, 0, 0));

    // Limit 17 holds all of them.
    COctreeQuantizer q17(17, 8);
    ASSERT_TRUE(q17.ProcessImage(dib.data(), dib.size()));
    EXPECT_EQ(q17.GetLeafCount(), 17u);
    auto t17 = Palette(q17);
    EXPECT_EQ(t17[13], Q(224, 224, 224));
    EXPECT_EQ(t17[14], Q(225, 225, 225));
    EXPECT_EQ(t17[15], Q(240, 240, 240));
    EXPECT_EQ(t17[16], Q(241, 241, 241));
    ExpectRestIs(t17, 17, Q(0, 0, 0));
  }
}

TEST(COctreeQuantizer, ManyColoursStayWithinTheLimit) {
  // A 64 x 64 gradient over all three channels: 4096 distinct colours.
  std::vector<std::vector<Rgb>> rows(64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      rows[y].push_back(Rgb{uint8_t(x * 4), uint8_t(y * 4), uint8_t((x + y) * 2)});
  auto dib = Dib24(rows);
  for (uint32_t limit : {8u, 16u, 17u, 256u}) {
    COctreeQuantizer q(limit, limit <= 16 ? 8 : 7);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    const uint32_t working = limit < 16 ? 16 : limit;
    EXPECT_LE(q.GetLeafCount(), working) << limit;
    EXPECT_GE(q.GetLeafCount(), working / 2) << limit;
    auto t = Palette(q, 0x5A);
    const uint32_t written = limit < 16 ? limit : q.GetLeafCount();
    // Every written entry is a real colour (blue stays within the ramp),
    // the rest is as the caller left it.
    for (uint32_t i = 0; i < written; ++i) EXPECT_LE(t[i].blue, 252) << limit << " " << i;
    ExpectRestIs(t, written, Q(0x5A, 0x5A, 0x5A, 0x5A));
  }
}

TEST(COctreeQuantizer, OnlyReadableDepthsAddColours) {
  for (int bits : {0, 16, 32, 2, 48}) {
    BitmapInfoHeader h;
    h.biWidth = 2;
    h.biHeight = 2;
    h.biBitCount = uint16_t(bits);
    std::vector<uint8_t> dib(sizeof h + 64, 0x80);
    std::memcpy(dib.data(), &h, sizeof h);
    COctreeQuantizer q(256, 8);
    EXPECT_FALSE(q.ProcessImage(dib.data(), dib.size())) << bits;
    EXPECT_EQ(q.GetLeafCount(), 0u);
    auto t = Palette(q, 0x33);
    ExpectRestIs(t, 0, Q(0x33, 0x33, 0x33, 0x33));
  }
  // RLE-compressed rows and blocks too short for their rows are refused.
  auto dib = Dib24({{Grey(1), Grey(2)}, {Grey(3), Grey(4)}});
  COctreeQuantizer q(256, 8);
  EXPECT_FALSE(q.ProcessImage(dib.data(), dib.size() - 1));
  EXPECT_FALSE(q.ProcessImage(dib.data(), 10));
  reinterpret_cast<BitmapInfoHeader*>(dib.data())->biCompression = 1;
  EXPECT_FALSE(q.ProcessImage(dib.data(), dib.size()));
  EXPECT_EQ(q.GetLeafCount(), 0u);
}

TEST(COctreeQuantizer, PaletteBitmapsReadThroughTheirTable) {
  // 1 bit, most significant bit first: pixels 1, 0, 0, 0; the padding bits
  // in the same byte are set and must not be read.
  {
    auto dib = DibIndexed(1, 4, {Q(0, 0, 0), Q(200, 100, 40, 80)}, {{0x8F}}, 0);
    COctreeQuantizer q(1, 8);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    EXPECT_EQ(q.GetLeafCount(), 2u);
    auto t = Palette(q);
    EXPECT_EQ(t[0], Q(50, 25, 10, 20));  // one of four pixels
    ExpectRestIs(t, 1, Q(0, 0, 0));
  }
  // 4 bits, high nibble first, table entries with alpha in their reserved
  // byte; index 15 sits in the padding only.
  {
    std::vector<RGBQuad> table(16, Q(255, 255, 255, 255));
    table[1] = Q(255, 0, 0, 7);
    table[2] = Q(0, 255, 0, 8);
    table[3] = Q(0, 0, 255, 9);
    auto dib = DibIndexed(4, 3, table, {{0x12, 0x3F}, {0x11, 0x1F}}, 0);
    COctreeQuantizer q(256, 8);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    EXPECT_EQ(q.GetLeafCount(), 3u);
    auto t = Palette(q);
    EXPECT_EQ(t[0], Q(0, 0, 255, 9));
    EXPECT_EQ(t[1], Q(0, 255, 0, 8));
    EXPECT_EQ(t[2], Q(255, 0, 0, 7));
    ExpectRestIs(t, 3, Q(0, 0, 0));
  }
  // 8 bits with a short table (biClrUsed 2): rows start right after it, and
  // an index beyond it reads as black.
  {
    auto dib = DibIndexed(8, 3, {Q(10, 20, 30), Q(130, 140, 150)}, {{1, 1, 0}, {1, 9, 1}}, 2);
    COctreeQuantizer q(256, 8);
    ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
    EXPECT_EQ(q.GetLeafCount(), 3u);
    auto t = Palette(q);
    EXPECT_EQ(t[0], Q(0, 0, 0));
    EXPECT_EQ(t[1], Q(10, 20, 30));
    EXPECT_EQ(t[2], Q(130, 140, 150));
    ExpectRestIs(t, 3, Q(0, 0, 0));
  }
}

TEST(COctreeQuantizer, TopDownRowsAndSeveralImagesAccumulate) {
  auto dib = Dib24({{Grey(0), Grey(0), Grey(0)}});
  reinterpret_cast<BitmapInfoHeader*>(dib.data())->biHeight = -1;
  auto second = Dib24({{Grey(90)}});
  COctreeQuantizer q(1, 8);
  ASSERT_TRUE(q.ProcessImage(dib.data(), dib.size()));
  ASSERT_TRUE(q.ProcessImage(second.data()));  // size not given
  auto t = Palette(q);
  EXPECT_EQ(t[0], Q(22, 22, 22));  // (3 * 0 + 90) / 4
}

}  // namespace

namespace {

TEST(COctreeQuantizer, ReadsTheImagesOwnBitmap) {
  CImage image;
  ASSERT_TRUE(image.Create(3, 2, 24));
  image.SetPixelColor(0, 0, Q(255, 0, 0));
  image.SetPixelColor(1, 1, Q(0, 0, 255));
  COctreeQuantizer q(256, 7);
  const void* dib = image.GetDIB();
  ASSERT_NE(dib, nullptr);
  ASSERT_TRUE(q.ProcessImage(dib));
  EXPECT_EQ(q.GetLeafCount(), 3u);
  auto t = Palette(q);
  EXPECT_EQ(t[0], Q(0, 0, 0));
  EXPECT_EQ(t[1], Q(0, 0, 255));
  EXPECT_EQ(t[2], Q(255, 0, 0));

  // A 4-bit image reads through its palette.
  CImage indexed;
  ASSERT_TRUE(indexed.Create(5, 1, 4));
  indexed.SetPaletteColor(3, 10, 200, 30);
  indexed.SetPixelIndex(4, 0, 3);
  COctreeQuantizer q4(1, 8);
  ASSERT_TRUE(q4.ProcessImage(indexed.GetDIB()));
  auto t4 = Palette(q4);
  EXPECT_EQ(t4[0], Q(2, 40, 6));  // one of five pixels, the others black
}

TEST(COctreeQuantizer, GifWriterPaletteReadBackByImageMagick) {
  // Reds, oranges and greens but no blue: a palette built from the pixels
  // with red and blue exchanged would show blues.
  CImage image;
  ASSERT_TRUE(image.Create(40, 30, 24));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      image.SetPixelColor(x, y, x < 20 ? Q(uint8_t(200 + y), uint8_t(x * 4), 10)
                                       : Q(20, uint8_t(150 + y * 3), uint8_t(x)));
  for (int limit : {8, 256}) {
    SCOPED_TRACE(limit);
    CFormatGIF gif;
    gif.PaletteType = 1;  // adaptive
    gif.PaletteLimitColors = limit;
    gif.PaletteErrorDiffusion = 0;
    CImage copy(image);
    EncodedOutput out;
    gif.Encode(copy, "", SourceInfo(), out);
    ASSERT_EQ(out.result, 0) << out.error;
    testing_support::TempDir dir;
    testing_support::WriteFileBytes(dir / "q.gif", out.data.data(), out.data.size());
    testing_support::RefImage ref;
    ASSERT_TRUE(testing_support::LoadWithImageMagick(dir / "q.gif", ref));
    ASSERT_EQ(ref.width, 40);
    int worst = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        const RGBQuad c = image.GetPixelColor(x, 29 - y);
        const uint8_t* r = ref.At(x, y);
        worst = std::max({worst, std::abs(r[0] - c.red), std::abs(r[1] - c.green),
                          std::abs(r[2] - c.blue)});
      }
    EXPECT_LT(worst, limit == 8 ? 60 : 12);
  }
}

}  // namespace
