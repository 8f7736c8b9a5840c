// WMF and EMF: small metafiles written record by record in the test, then
// rendered and checked at known pixels; damaged files; saving is refused.
#include <cstring>

#include "imaging/byte_order.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// Colour at (x, y) counted from the top.
RGBQuad At(const CImage& image, int x, int y) { return image.GetPixelColor(x, image.GetHeight() - 1 - y, false); }

::testing::AssertionResult Is(const CImage& image, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
  RGBQuad c = At(image, x, y);
  if (c.red == r && c.green == g && c.blue == b) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << int(c.red) << ","
                                       << int(c.green) << "," << int(c.blue) << ", expected " << int(r) << ","
                                       << int(g) << "," << int(b);
}

uint32_t ColourRef(uint8_t r, uint8_t g, uint8_t b) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16; }

// ---- WMF ------------------------------------------------------------------------

class WmfBuilder {
 public:
  // Parameters are 16-bit words, in the order the record stores them.
  WmfBuilder& Rec(uint16_t function, std::initializer_list<int> params) {
    uint32_t size = 3 + uint32_t(params.size());
    maxRecord_ = std::max(maxRecord_, size);
    Word(uint16_t(size));
    Word(uint16_t(size >> 16));
    Word(function);
    for (int p : params) Word(uint16_t(p));
    return *this;
  }
  WmfBuilder& Text(int x, int y, const std::string& s) {
    std::vector<int> params{int(s.size())};
    for (size_t i = 0; i < s.size(); i += 2)
      params.push_back(uint8_t(s[i]) | (i + 1 < s.size() ? uint8_t(s[i + 1]) << 8 : 0));
    params.push_back(y);
    params.push_back(x);
    uint32_t size = 3 + uint32_t(params.size());
    maxRecord_ = std::max(maxRecord_, size);
    Word(uint16_t(size));
    Word(uint16_t(size >> 16));
    Word(0x0521);
    for (int p : params) Word(uint16_t(p));
    return *this;
  }
  WmfBuilder& Brush(uint32_t colour, int style = 0, int hatch = 0) {
    ++objects_;
    return Rec(0x02FC, {style, int(colour & 0xFFFF), int(colour >> 16), hatch});
  }
  WmfBuilder& Pen(uint32_t colour, int width, int style = 0) {
    ++objects_;
    return Rec(0x02FA, {style, width, 0, int(colour & 0xFFFF), int(colour >> 16)});
  }
  WmfBuilder& Select(int index) { return Rec(0x012D, {index}); }
  // A record that creates an object (takes a slot of the object table).
  WmfBuilder& Create(uint16_t function, std::initializer_list<int> params) {
    ++objects_;
    return Rec(function, params);
  }
  // Placeable header with a bounding box in units of 1/inch.
  std::vector<uint8_t> Build(bool placeable, int width = 0, int height = 0, int inch = 96) {
    Rec(0x0000, {});
    std::vector<uint8_t> out;
    auto put16 = [&](uint16_t v) { byte_order::PutLe16(out, v); };
    if (placeable) {
      uint16_t words[10] = {0xCDD7, 0x9AC6, 0, 0, 0, uint16_t(width), uint16_t(height), uint16_t(inch), 0, 0};
      uint16_t sum = 0;
      for (uint16_t w : words) {
        put16(w);
        sum ^= w;
      }
      put16(sum);
    }
    uint32_t total = 9 + uint32_t(words_.size());
    for (uint16_t w : {uint16_t(1), uint16_t(9), uint16_t(0x0300), uint16_t(total), uint16_t(total >> 16),
                       uint16_t(std::max(objects_, 1)), uint16_t(maxRecord_), uint16_t(maxRecord_ >> 16), uint16_t(0)})
      put16(w);
    for (uint16_t w : words_) put16(w);
    return out;
  }

 private:
  void Word(uint16_t w) { words_.push_back(w); }
  std::vector<uint16_t> words_;
  uint32_t maxRecord_ = 3;
  int objects_ = 0;
};

// Red rectangle, green ellipse, blue triangle and a thick black line on a
// 200 x 100 picture.
WmfBuilder Shapes() {
  WmfBuilder b;
  b.Rec(0x020B, {0, 0})                        // SETWINDOWORG y, x
      .Rec(0x020C, {100, 200})                 // SETWINDOWEXT y, x
      .Pen(0, 0, 5).Select(0)                  // null pen
      .Brush(ColourRef(255, 0, 0)).Select(1)
      .Rec(0x041B, {60, 60, 10, 10})           // RECTANGLE bottom, right, top, left
      .Brush(ColourRef(0, 255, 0)).Select(2)
      .Rec(0x0418, {70, 140, 10, 80})          // ELLIPSE
      .Brush(ColourRef(0, 0, 255)).Select(3)
      .Rec(0x0324, {3, 150, 90, 190, 90, 170, 20})  // POLYGON count, x, y ...
      .Pen(ColourRef(0, 0, 0), 6).Select(4)
      .Rec(0x0214, {80, 10})                   // MOVETO y, x
      .Rec(0x0213, {80, 60});                  // LINETO y, x
  return b;
}

TEST(Wmf, PlaceableFileRendersAtItsFrameSize) {
  std::vector<uint8_t> bytes = Shapes().Build(true, 200, 100, 96);
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, bytes, FORMAT_UNKNOWN)) << image.GetLastError();
  EXPECT_EQ(image.GetType(), FORMAT_WMF);
  EXPECT_EQ(image.GetWidth(), 200);
  EXPECT_EQ(image.GetHeight(), 100);
  EXPECT_EQ(image.GetBpp(), 24);
  const struct {
    int x, y;
    uint8_t r, g, b;
  } expect[] = {
      {35, 35, 255, 0, 0},   {11, 11, 255, 0, 0},   {58, 58, 255, 0, 0},   {110, 40, 0, 255, 0},
      {110, 12, 0, 255, 0},  {82, 12, 255, 255, 255}, {170, 80, 0, 0, 255}, {155, 40, 255, 255, 255},
      {35, 80, 0, 0, 0},     {35, 78, 0, 0, 0},     {35, 86, 255, 255, 255}, {5, 5, 255, 255, 255},
      {100, 95, 255, 255, 255}, {62, 35, 255, 255, 255},
  };
  for (const auto& e : expect) EXPECT_TRUE(Is(image, e.x, e.y, e.r, e.g, e.b));
}

TEST(Wmf, InchesAndWindowOriginScaleThePicture) {
  // The same drawing at 192 units per inch is half the size; a window origin
  // of (10, 10) moves it up and left.
  CImage half;
  ASSERT_TRUE(DecodeBytes(half, Shapes().Build(true, 200, 100, 192), FORMAT_WMF)) << half.GetLastError();
  EXPECT_EQ(half.GetWidth(), 100);
  EXPECT_EQ(half.GetHeight(), 50);
  EXPECT_TRUE(Is(half, 17, 17, 255, 0, 0));
  EXPECT_TRUE(Is(half, 55, 20, 0, 255, 0));
  WmfBuilder moved;
  moved.Rec(0x020B, {10, 10}).Brush(ColourRef(255, 0, 0)).Select(0).Rec(0x041B, {60, 60, 10, 10});
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, moved.Build(true, 100, 100, 96), FORMAT_WMF)) << image.GetLastError();
  EXPECT_TRUE(Is(image, 3, 3, 255, 0, 0));
  EXPECT_TRUE(Is(image, 52, 52, 255, 255, 255));
}

TEST(Wmf, PlainFileIsSizedByItsDrawing) {
  std::vector<uint8_t> bytes = Shapes().Build(false);
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, bytes, FORMAT_UNKNOWN, "/x/a.wmf")) << image.GetLastError();
  EXPECT_GT(image.GetWidth(), 50);
  EXPECT_GT(image.GetHeight(), 30);
  // Red fills the top-left part of the drawing, green is right of it.
  int redX = image.GetWidth() / 8, redY = image.GetHeight() / 4;
  EXPECT_TRUE(Is(image, redX, redY, 255, 0, 0));
}

TEST(Wmf, HatchedBrushAndText) {
  WmfBuilder b;
  b.Rec(0x0102, {1})                                    // SETBKMODE transparent
      .Brush(ColourRef(0, 0, 255), 2, 0).Select(0)      // blue horizontal hatch
      .Rec(0x041B, {40, 100, 0, 0});
  // CREATEFONTINDIRECT: height -20, weight 700, "Arial"
  b.Create(0x02FB, {-20, 0, 0, 0, 700, 0, 0, 0, 0, 'A' | 'r' << 8, 'i' | 'a' << 8, 'l', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  b.Select(1).Rec(0x0209, {0, 0}).Text(5, 50, "Lumaro");  // SETTEXTCOLOR black
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, b.Build(true, 100, 100, 96), FORMAT_WMF)) << image.GetLastError();
  // Hatch lines every eighth row, the background left white (rows 0 and 39
  // are the outline of the default pen).
  int blueRows = 0, whiteRows = 0;
  for (int y = 1; y < 39; ++y) {
    RGBQuad c = At(image, 50, y);
    if (c.blue == 255 && c.red == 0) ++blueRows;
    if (c.red == 255 && c.green == 255) ++whiteRows;
  }
  EXPECT_EQ(blueRows, 4);
  EXPECT_EQ(whiteRows, 34);
  // Some dark text pixels below the hatch.
  int dark = 0;
  for (int y = 45; y < 95; ++y)
    for (int x = 0; x < 100; ++x)
      if (At(image, x, y).red < 100) ++dark;
  EXPECT_GT(dark, 30);
}

TEST(Wmf, CannotBeWritten) {
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, Shapes().Build(true, 200, 100), FORMAT_WMF));
  std::vector<uint8_t> out;
  EXPECT_FALSE(image.Encode(out, FORMAT_WMF));
  EXPECT_NE(image.GetLastError().find("writing is not supported"), std::string::npos);
}

TEST(Wmf, DamagedFilesFailCleanly) {
  std::vector<uint8_t> good = Shapes().Build(true, 200, 100);
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    return Patched(good, at, bytes);
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 40)},
      {"cut in the records", std::vector<uint8_t>(good.begin(), good.begin() + 80)},
      {"zero inch", patched(14, {0, 0})},
      {"empty box", patched(10, {0, 0})},
      {"record longer than the file", patched(22 + 18, {0xFF, 0xFF, 0, 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_WMF));
    EXPECT_FALSE(image.GetLastError().empty());
  }
  // Header fields that libwmf checks as it goes: either outcome, no crash.
  for (const auto& bytes : {patched(22 + 12, {0xFF, 0xFF, 0xFF, 0x7F}), patched(22 + 10, {0xFF, 0xFF}),
                            patched(22 + 6, {0xFF, 0xFF, 0xFF, 0xFF})}) {
    CImage image;
    if (!DecodeBytes(image, bytes, FORMAT_WMF)) {
      EXPECT_FALSE(image.GetLastError().empty());
    }
  }
}

// ---- EMF ------------------------------------------------------------------------

class EmfBuilder {
 public:
  // 1 pixel per millimetre on the reference device; the frame is w x h pixels.
  EmfBuilder(int w, int h) : w_(w), h_(h) {}
  EmfBuilder& Rec(uint32_t type, std::initializer_list<uint32_t> params) {
    records_.push_back(type);
    records_.push_back(8 + 4 * uint32_t(params.size()));
    for (uint32_t p : params) records_.push_back(p);
    ++count_;
    return *this;
  }
  EmfBuilder& Raw(uint32_t type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> b = body;
    while (b.size() % 4) b.push_back(0);
    records_.push_back(type);
    records_.push_back(8 + uint32_t(b.size()));
    for (size_t i = 0; i < b.size(); i += 4)
      records_.push_back(uint32_t(b[i]) | uint32_t(b[i + 1]) << 8 | uint32_t(b[i + 2]) << 16 |
                         uint32_t(b[i + 3]) << 24);
    ++count_;
    return *this;
  }
  EmfBuilder& Brush(uint32_t index, uint32_t colour, uint32_t style = 0, uint32_t hatch = 0) {
    handles_ = std::max(handles_, index + 1);
    return Rec(39, {index, style, colour, hatch});
  }
  EmfBuilder& Pen(uint32_t index, uint32_t colour, uint32_t width, uint32_t style = 0) {
    handles_ = std::max(handles_, index + 1);
    return Rec(38, {index, style, width, 0, colour});
  }
  EmfBuilder& Select(uint32_t index) { return Rec(37, {index}); }
  EmfBuilder& Box(uint32_t type, int l, int t, int r, int b) {
    return Rec(type, {uint32_t(l), uint32_t(t), uint32_t(r), uint32_t(b)});
  }
  EmfBuilder& Polygon16(std::initializer_list<std::pair<int, int>> pts) {
    std::vector<uint8_t> body(16, 0);  // bounds
    auto put32 = [&](uint32_t v) { byte_order::PutLe32(body, v); };
    put32(uint32_t(pts.size()));
    for (auto [x, y] : pts) {
      body.push_back(uint8_t(x));
      body.push_back(uint8_t(x >> 8));
      body.push_back(uint8_t(y));
      body.push_back(uint8_t(y >> 8));
    }
    return Raw(86, body);
  }
  std::vector<uint8_t> Build() {
    Rec(14, {0, 0x10, 0x14});  // EOF
    std::vector<uint32_t> header = {1, 88, 0, 0, uint32_t(w_ - 1), uint32_t(h_ - 1), 0, 0, uint32_t(w_ * 100),
                                    uint32_t(h_ * 100), 0x464D4520, 0x10000, 0, count_ + 1, handles_, 0, 0, 0,
                                    1000, 1000, 1000, 1000};
    header[12] = uint32_t(88 + records_.size() * 4);  // nBytes; word 14 is nHandles, then sReserved 0
    std::vector<uint32_t> words = header;
    words.insert(words.end(), records_.begin(), records_.end());
    std::vector<uint8_t> out(words.size() * 4);
    for (size_t i = 0; i < words.size(); ++i)
      for (size_t k = 0; k < 4; ++k) out[i * 4 + k] = uint8_t(words[i] >> (8 * k));
    return out;
  }

 private:
  int w_, h_;
  std::vector<uint32_t> records_;
  uint32_t count_ = 0;
  uint32_t handles_ = 1;
};

// A 2 x 2 DIB, 24 bits: red, green (bottom row), blue, white (top row).
std::vector<uint8_t> StretchDibits(int x, int y, int w, int h, bool topDown = false) {
  std::vector<uint8_t> body;
  auto put = [&](uint32_t v) { byte_order::PutLe32(body, v); };
  const uint32_t offBmi = 80, cbBmi = 40, offBits = 120, cbBits = 16;
  for (int i = 0; i < 4; ++i) put(0);  // bounds
  for (int v : {x, y, 0, 0, 2, 2}) put(uint32_t(v));
  for (uint32_t v : {offBmi, cbBmi, offBits, cbBits, 0u, 0x00CC0020u}) put(v);
  put(uint32_t(w));
  put(uint32_t(h));
  // BITMAPINFOHEADER
  for (uint32_t v : {40u, 2u, uint32_t(topDown ? -2 : 2)}) put(v);
  body.insert(body.end(), {1, 0, 24, 0});
  for (int i = 0; i < 6; ++i) put(0);
  // Rows as stored: bottom row first unless top-down; padded to 8 bytes.
  std::vector<uint8_t> bottom = {0, 0, 255, 0, 255, 0, 0, 0};     // red, green
  std::vector<uint8_t> top = {255, 0, 0, 255, 255, 255, 0, 0};     // blue, white
  const auto& first = topDown ? top : bottom;
  const auto& second = topDown ? bottom : top;
  body.insert(body.end(), first.begin(), first.end());
  body.insert(body.end(), second.begin(), second.end());
  return body;
}

TEST(Emf, ShapesAndABitmap) {
  EmfBuilder e(200, 100);
  e.Select(0x80000008)  // NULL_PEN
      .Brush(1, ColourRef(255, 0, 0)).Select(1).Box(43, 10, 10, 60, 60)       // RECTANGLE
      .Brush(2, ColourRef(0, 255, 0)).Select(2).Box(42, 80, 10, 140, 70)      // ELLIPSE
      .Brush(3, ColourRef(0, 0, 255)).Select(3).Polygon16({{150, 90}, {190, 90}, {170, 20}})
      .Raw(81, StretchDibits(70, 76, 20, 20))                                 // STRETCHDIBITS
      .Pen(4, ColourRef(0, 0, 0), 6).Select(4)
      .Rec(27, {10, 80}).Rec(54, {60, 80});                                   // MOVETOEX, LINETO
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, e.Build(), FORMAT_UNKNOWN)) << image.GetLastError();
  EXPECT_EQ(image.GetType(), FORMAT_WMF);
  EXPECT_EQ(image.GetWidth(), 200);
  EXPECT_EQ(image.GetHeight(), 100);
  const struct {
    int x, y;
    uint8_t r, g, b;
  } expect[] = {
      {35, 35, 255, 0, 0},     {10, 10, 255, 0, 0},     {59, 59, 255, 0, 0},     {60, 35, 255, 255, 255},
      {110, 40, 0, 255, 0},    {82, 12, 255, 255, 255}, {170, 80, 0, 0, 255},    {155, 40, 255, 255, 255},
      {35, 80, 0, 0, 0},       {35, 78, 0, 0, 0},       {35, 86, 255, 255, 255},
      // The bitmap: top row blue, white; bottom row red, green; each 10 x 10.
      {72, 78, 0, 0, 255},     {87, 78, 255, 255, 255}, {72, 93, 255, 0, 0},     {87, 93, 0, 255, 0},
      {69, 85, 255, 255, 255}, {91, 85, 255, 255, 255},
  };
  for (const auto& x : expect) EXPECT_TRUE(Is(image, x.x, x.y, x.r, x.g, x.b));
}

TEST(Emf, MappingModesTransformsAndPaths) {
  // Anisotropic mapping: 1000 x 500 logical units onto 200 x 100 pixels.
  EmfBuilder e(200, 100);
  e.Rec(17, {8})                                   // SETMAPMODE MM_ANISOTROPIC
      .Rec(9, {1000, 500}).Rec(11, {200, 100})     // window and viewport extents
      .Select(0x80000008)
      .Brush(1, ColourRef(255, 0, 0)).Select(1).Box(43, 0, 0, 500, 250);
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, e.Build(), FORMAT_WMF)) << image.GetLastError();
  EXPECT_TRUE(Is(image, 50, 25, 255, 0, 0));
  EXPECT_TRUE(Is(image, 99, 49, 255, 0, 0));
  EXPECT_TRUE(Is(image, 101, 51, 255, 255, 255));

  // A world transform moving by (100, 0), and a filled path.
  auto xform = [](float m11, float m12, float m21, float m22, float dx, float dy) {
    std::vector<uint32_t> v;
    for (float f : {m11, m12, m21, m22, dx, dy}) {
      uint32_t u;
      std::memcpy(&u, &f, 4);
      v.push_back(u);
    }
    return v;
  };
  std::vector<uint32_t> t = xform(1, 0, 0, 1, 100, 0);
  EmfBuilder p(200, 100);
  p.Rec(35, {t[0], t[1], t[2], t[3], t[4], t[5]})  // SETWORLDTRANSFORM
      .Select(0x80000008)
      .Brush(1, ColourRef(0, 0, 255)).Select(1)
      .Rec(59, {})                                  // BEGINPATH
      .Polygon16({{0, 0}, {50, 0}, {50, 50}, {0, 50}})
      .Rec(60, {})                                  // ENDPATH
      .Rec(62, {0, 0, 0, 0});                       // FILLPATH
  ASSERT_TRUE(DecodeBytes(image, p.Build(), FORMAT_WMF)) << image.GetLastError();
  EXPECT_TRUE(Is(image, 125, 25, 0, 0, 255));
  EXPECT_TRUE(Is(image, 25, 25, 255, 255, 255));
}

TEST(Emf, PieArcDirectionAndSaveRestore) {
  // A pie from 0 to 90 degrees counter-clockwise: the top-right quarter.
  EmfBuilder e(100, 100);
  e.Select(0x80000008)
      .Brush(1, ColourRef(255, 0, 0)).Select(1)
      .Rec(33, {})                                                   // SAVEDC
      .Brush(2, ColourRef(0, 255, 0)).Select(2)
      .Rec(34, {uint32_t(-1)})                                       // RESTOREDC: red again
      .Rec(47, {0, 0, 100, 100, 100, 50, 50, 0});                    // PIE start (100,50) end (50,0)
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, e.Build(), FORMAT_WMF)) << image.GetLastError();
  EXPECT_TRUE(Is(image, 75, 25, 255, 0, 0));
  EXPECT_TRUE(Is(image, 25, 25, 255, 255, 255));
  EXPECT_TRUE(Is(image, 75, 75, 255, 255, 255));
}

TEST(Emf, TextIsDrawn) {
  EmfBuilder e(120, 40);
  std::vector<uint8_t> font(4 + 92, 0);
  font[0] = 1;                                        // handle 1
  int32_t height = -24;
  std::memcpy(font.data() + 4, &height, 4);
  font[4 + 16] = 0x90;                                // weight 400
  font[4 + 17] = 0x01;
  const char face[] = "Arial";
  for (size_t i = 0; i < sizeof face - 1; ++i) font[4 + 28 + 2 * i] = uint8_t(face[i]);
  std::vector<uint8_t> text(68, 0);
  auto put = [&](size_t at, uint32_t v) { byte_order::SetLe32(&text[at], v); };
  put(16, 1);       // graphics mode
  put(28, 5);       // reference x
  put(32, 5);       // reference y
  put(36, 4);       // characters
  put(40, 76);      // string offset from the record start
  put(64, 0);       // no spacing array
  for (char c : std::string("Text")) {
    text.push_back(uint8_t(c));
    text.push_back(0);
  }
  e.Raw(82, font).Select(1).Rec(18, {1}).Raw(84, text);  // font, SETBKMODE transparent, EXTTEXTOUTW
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, e.Build(), FORMAT_WMF)) << image.GetLastError();
  int dark = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x)
      if (At(image, x, y).red < 100) ++dark;
  EXPECT_GT(dark, 40);
  EXPECT_TRUE(Is(image, 110, 35, 255, 255, 255));
}

TEST(Emf, DamagedFilesFailCleanlyOrDrawWhatTheyCan) {
  EmfBuilder e(50, 50);
  e.Brush(1, ColourRef(255, 0, 0)).Select(1).Box(43, 0, 0, 25, 25);
  std::vector<uint8_t> good = e.Build();
  auto patched = [&](size_t at, uint32_t v) {
    std::vector<uint8_t> b = good;
    if (b.size() < at + 4) return b;
    for (size_t i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    return b;
  };
  // Headers that cannot give a picture fail.
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } failing[] = {
      {"header cut", std::vector<uint8_t>(good.begin(), good.begin() + 60)},
      {"header size beyond the file", patched(4, 100000)},
      {"header size odd", patched(4, 90)},
      {"huge frame", patched(32, 0x7FFFFFFF)},
      {"empty frame and bounds", [&] {
         std::vector<uint8_t> b = patched(32, 0);
         std::fill(b.begin() + 16, b.begin() + 20, 0xFF);  // bounds right -1
         std::fill(b.begin() + 36, b.begin() + 40, 0xFF);  // frame bottom -1
         return b;
       }()},
  };
  for (const auto& c : failing) {
    SCOPED_TRACE(c.name);
    CImage image;
    EXPECT_FALSE(DecodeBytes(image, c.bytes, FORMAT_WMF));
    EXPECT_FALSE(image.GetLastError().empty());
  }
  // Damaged records end the drawing; what came before stays.
  std::vector<uint8_t> cut(good.begin(), good.end() - 30);
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, cut, FORMAT_WMF)) << image.GetLastError();
  EXPECT_EQ(image.GetWidth(), 50);
  // A bitmap record whose offsets point outside is skipped.
  EmfBuilder b(50, 50);
  std::vector<uint8_t> dib = StretchDibits(0, 0, 50, 50);
  dib[49] = 0xF0;  // offBitsSrc (record offset 56) far away
  b.Raw(81, dib);
  ASSERT_TRUE(DecodeBytes(image, b.Build(), FORMAT_WMF)) << image.GetLastError();
  EXPECT_TRUE(Is(image, 25, 25, 255, 255, 255));
}

// BITBLT of the same 2 x 2 bitmap at (x, y), or with no bitmap a pattern
// copy of a 10 x 10 square with the current brush.
std::vector<uint8_t> BitBlt(int x, int y, bool withBitmap) {
  std::vector<uint8_t> dib = StretchDibits(0, 0, 0, 0);
  std::vector<uint8_t> body;
  auto put = [&](uint32_t v) { byte_order::PutLe32(body, v); };
  for (int i = 0; i < 4; ++i) put(0);  // bounds
  for (int v : {x, y, withBitmap ? 2 : 10, withBitmap ? 2 : 10}) put(uint32_t(v));
  put(withBitmap ? 0x00CC0020u : 0x00F00021u);  // SRCCOPY or PATCOPY
  put(0);
  put(0);
  const float identity[6] = {1, 0, 0, 1, 0, 0};
  for (float f : identity) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    put(u);
  }
  put(0);  // background colour
  put(0);  // usage
  if (withBitmap) {
    for (uint32_t v : {100u, 40u, 140u, 16u}) put(v);
    body.insert(body.end(), dib.begin() + 72, dib.end());  // header and bits
  } else {
    for (int i = 0; i < 4; ++i) put(0);
  }
  return body;
}

TEST(Emf, TopDownBitmapsBitBltAndCannotBeWritten) {
  EmfBuilder e(40, 40);
  e.Raw(81, StretchDibits(0, 0, 40, 40, true))
      .Raw(76, BitBlt(1, 1, true))
      .Brush(1, ColourRef(200, 100, 0)).Select(1)
      .Raw(76, BitBlt(25, 5, false));
  CImage image;
  ASSERT_TRUE(DecodeBytes(image, e.Build(), FORMAT_WMF)) << image.GetLastError();
  EXPECT_TRUE(Is(image, 5, 5, 0, 0, 255));
  EXPECT_TRUE(Is(image, 35, 35, 0, 255, 0));
  // The blitted copy, one pixel per bitmap pixel, top row first.
  EXPECT_TRUE(Is(image, 1, 1, 0, 0, 255));
  EXPECT_TRUE(Is(image, 2, 1, 255, 255, 255));
  EXPECT_TRUE(Is(image, 1, 2, 255, 0, 0));
  EXPECT_TRUE(Is(image, 2, 2, 0, 255, 0));
  // The pattern copy.
  EXPECT_TRUE(Is(image, 30, 10, 200, 100, 0));
  EXPECT_TRUE(Is(image, 30, 16, 255, 255, 255));
  TempDir dir;
  EXPECT_FALSE(image.Save(dir / "out.emf", FORMAT_WMF));
  EXPECT_NE(image.GetLastError().find("writing is not supported"), std::string::npos);
}

}  // namespace
