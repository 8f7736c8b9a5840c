// Text drawing: the measured box, its position, fonts and decorations.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image.h"

namespace {

LogFont Font(int height, int weight = 400, const char* face = "Arial") {
  LogFont lf;
  lf.lfHeight = height;
  lf.lfWeight = weight;
  std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", face);
  return lf;
}

TextInfo Text(const std::string& s, const LogFont& lf, uint32_t colour = 0) {
  TextInfo info;
  CImage::InitTextInfo(info);
  info.text = s;
  info.lfont = lf;
  info.fcolor = colour;
  return info;
}

// White canvas; ink = pixels that are no longer white. Rows from the top.
CImage Canvas(int w, int h) {
  CImage img;
  EXPECT_TRUE(img.Create(w, h, 24));
  img.Clear(255);
  return img;
}

struct Box {
  long left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  long count = 0;
  bool Empty() const { return count == 0; }
};

Box Ink(const CImage& img) {
  Box b;
  for (int r = 0; r < img.GetHeight(); ++r)
    for (int x = 0; x < img.GetWidth(); ++x) {
      RGBQuad q = img.GetPixelColor(x, img.GetHeight() - 1 - r, false);
      if (q.red == 255 && q.green == 255 && q.blue == 255) continue;
      b.left = std::min<long>(b.left, x);
      b.right = std::max<long>(b.right, x);
      b.top = std::min<long>(b.top, r);
      b.bottom = std::max<long>(b.bottom, r);
      ++b.count;
    }
  return b;
}

}  // namespace

TEST(ImageText, InkStaysInsideTheMeasuredBox) {
  const struct {
    const char* text;
    LogFont font;
    long align;
  } cases[] = {
      {"Hello, world", Font(-24), 1},
      {"Wavy jigsaw", Font(-30, 700), 1},
      {"fjord, italic",
       [] {
         LogFont f = Font(-28);
         f.lfItalic = 1;
         return f;
       }(),
       1},
      {"Привет, мир", Font(20), 1},
      {"two\nlines of text", Font(-18), 0},
      {"right\naligned lines", Font(-18), 2},
      {"Underlined",
       [] {
         LogFont f = Font(-22);
         f.lfUnderline = 1;
         f.lfStrikeOut = 1;
         return f;
       }(),
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    long w = 0, h = 0;
    std::string error;
    ASSERT_TRUE(CImage::MeasureText(c.text, c.font, w, h, &error)) << error;
    ASSERT_GT(w, 0);
    ASSERT_GT(h, 0);
    // Draw in the middle of a larger canvas: (x, y) = centre, bottom edge.
    CImage img = Canvas(int(w) + 80, int(h) + 80);
    const long x = 40 + w / 2, y = 40 + h;
    TextInfo info = Text(c.text, c.font);
    info.align = c.align;
    ASSERT_TRUE(img.DrawStringEx(x, y, info)) << img.GetLastError();
    Box ink = Ink(img);
    ASSERT_FALSE(ink.Empty());
    EXPECT_GE(ink.left, 40);
    EXPECT_LE(ink.right, 40 + w - 1);
    EXPECT_GE(ink.top, 40);
    EXPECT_LE(ink.bottom, 40 + h - 1);
    // And the ink fills most of the box's width.
    EXPECT_GE(ink.right - ink.left + 1, w * 8 / 10);
  }
}

TEST(ImageText, AnExactSizeImageIsFilledFromTopToBottom) {
  const LogFont lf = Font(-40);
  long w = 0, h = 0;
  ASSERT_TRUE(CImage::MeasureText("Hg", lf, w, h));
  CImage img = Canvas(int(w), int(h));
  ASSERT_TRUE(img.DrawStringEx(w / 2, h, Text("Hg", lf)));
  Box ink = Ink(img);
  ASSERT_FALSE(ink.Empty());
  EXPECT_LT(ink.top, h / 4);         // the H reaches the top quarter
  EXPECT_GE(ink.bottom, h - h / 4);  // the g's tail the bottom quarter
  EXPECT_LE(ink.left, 3);
  EXPECT_GE(ink.right, w - 4);
}

TEST(ImageText, FontsSizesAndWeights) {
  long normalW = 0, boldW = 0, h = 0, h2 = 0;
  ASSERT_TRUE(CImage::MeasureText("Bold is wider", Font(-20, 400), normalW, h));
  ASSERT_TRUE(CImage::MeasureText("Bold is wider", Font(-20, 700), boldW, h2));
  EXPECT_GT(boldW, normalW);

  // A positive height is the cell height: exactly the line height.
  for (int cell : {12, 25, 40}) {
    long w = 0, lineH = 0;
    ASSERT_TRUE(CImage::MeasureText("Cell", Font(cell), w, lineH));
    EXPECT_EQ(lineH, cell);
  }
  // A negative height is the character (em) height: the line is taller.
  long w = 0, lineH = 0;
  ASSERT_TRUE(CImage::MeasureText("Em", Font(-40), w, lineH));
  EXPECT_GT(lineH, 40);
  EXPECT_LT(lineH, 56);
  // Twice the size, about twice the width.
  long w2 = 0;
  ASSERT_TRUE(CImage::MeasureText("Em", Font(-80), w2, lineH));
  EXPECT_NEAR(double(w2) / double(w), 2.0, 0.15);
  // Lines stack.
  long oneW = 0, oneH = 0, threeW = 0, threeH = 0;
  ASSERT_TRUE(CImage::MeasureText("abc", Font(-20), oneW, oneH));
  ASSERT_TRUE(CImage::MeasureText("abc\nabc\nabc", Font(-20), threeW, threeH));
  EXPECT_EQ(threeW, oneW);
  EXPECT_EQ(threeH, 3 * oneH);
  // Empty text has no width; an unknown face falls back to another font.
  long ew = 5, eh = 0;
  ASSERT_TRUE(CImage::MeasureText("", Font(-20), ew, eh));
  EXPECT_EQ(ew, 0);
  long uw = 0, uh = 0;
  EXPECT_TRUE(CImage::MeasureText("fallback", Font(-20, 400, "No Such Face 123"), uw, uh));
  EXPECT_GT(uw, 0);
}

TEST(ImageText, CyrillicDrawsRealGlyphs) {
  const LogFont lf = Font(-32);
  auto draw = [&](const std::string& s) {
    long w = 0, h = 0;
    EXPECT_TRUE(CImage::MeasureText(s, lf, w, h));
    CImage img = Canvas(int(w) + 4, int(h) + 4);
    EXPECT_TRUE(img.DrawStringEx(2 + w / 2, 2 + h, Text(s, lf)));
    return img;
  };
  CImage privet = draw("Привет");
  Box ink = Ink(privet);
  EXPECT_GT(ink.count, 100);
  // Different letters give different pictures (no missing-glyph boxes).
  CImage pe = draw("П"), er = draw("Р");
  ASSERT_EQ(pe.GetWidth() > 0, true);
  EXPECT_NE(Ink(pe).count, Ink(er).count);
  // Malformed UTF-8 still draws and does not crash.
  CImage bad = draw(std::string("ok\xC3") + "\xFF\xE2\x82" + "ok");
  EXPECT_GT(Ink(bad).count, 0);
}

TEST(ImageText, ColourDecorationsAndBackground) {
  const LogFont plain = Font(-30);
  long w = 0, h = 0;
  ASSERT_TRUE(CImage::MeasureText("Text", plain, w, h));
  // The solid parts of the glyphs take the text colour exactly.
  CImage img = Canvas(int(w), int(h));
  ASSERT_TRUE(img.DrawStringEx(w / 2, h, Text("Text", plain, 0x0000C0FF)));  // orange
  int solid = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      RGBQuad q = img.GetPixelColor(x, y, false);
      if (q.red == 255 && q.green == 0xC0 && q.blue == 0) ++solid;
    }
  EXPECT_GT(solid, 20);

  // Underline adds ink below the baseline, strike-out in the middle.
  LogFont under = plain, strike = plain;
  under.lfUnderline = 1;
  strike.lfStrikeOut = 1;
  CImage a = Canvas(int(w), int(h)), u = Canvas(int(w), int(h)), s = Canvas(int(w), int(h));
  a.DrawStringEx(w / 2, h, Text("mmmm", plain));
  u.DrawStringEx(w / 2, h, Text("mmmm", under));
  s.DrawStringEx(w / 2, h, Text("mmmm", strike));
  EXPECT_GT(Ink(u).bottom, Ink(a).bottom);
  EXPECT_GT(Ink(s).count, Ink(a).count);
  EXPECT_EQ(Ink(s).bottom, Ink(a).bottom);

  // An opaque background box fills the measured box.
  TextInfo boxed = Text("Text", plain, 0);
  boxed.opaque = 1;
  boxed.bcolor = 0x000000FF;  // red
  boxed.b_opacity = 1.0f;
  CImage b = Canvas(int(w) + 20, int(h) + 20);
  ASSERT_TRUE(b.DrawStringEx(10 + w / 2, 10 + h, boxed));
  Box inkBox = Ink(b);
  EXPECT_EQ(inkBox.left, 10);
  EXPECT_EQ(inkBox.top, 10);
  EXPECT_EQ(inkBox.right, 10 + w - 1);
  EXPECT_EQ(inkBox.bottom, 10 + h - 1);
  EXPECT_EQ(b.GetPixelColor(10, b.GetHeight() - 11, false), (RGBQuad{0, 0, 255, 0}));
}

TEST(ImageText, ClippedAtTheEdgesAndOnPaletteImages) {
  const LogFont lf = Font(-40);
  // Far outside: nothing drawn, nothing broken.
  CImage img = Canvas(30, 20);
  EXPECT_TRUE(img.DrawStringEx(-500, -500, Text("Outside", lf)));
  EXPECT_TRUE(Ink(img).Empty());
  // Larger than the image: clipped.
  EXPECT_TRUE(img.DrawStringEx(15, 30, Text("WWWWWW", lf)));
  EXPECT_FALSE(Ink(img).Empty());
  // A palette image gets the nearest palette colours.
  CImage pal;
  ASSERT_TRUE(pal.Create(120, 50, 8));
  pal.Clear(255);
  ASSERT_TRUE(pal.DrawStringEx(60, 50, Text("Grey", lf)));
  int dark = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 120; ++x) dark += pal.GetPixelIndex(x, y) < 128;
  EXPECT_GT(dark, 50);
  CImage empty;
  EXPECT_FALSE(empty.DrawStringEx(0, 0, Text("x", lf)));
  // A giant font and a long text from a hand-edited settings file: drawn
  // (clipped) without rendering thousands of giant glyphs.
  const std::string many(5000, 'H');
  long bigW = 0, bigH = 0;
  ASSERT_TRUE(CImage::MeasureText(many, Font(-100000), bigW, bigH));
  EXPECT_GT(bigW, bigH);
  CImage window = Canvas(1000, 1000);  // the left part of the first letters
  EXPECT_TRUE(window.DrawStringEx(bigW / 2, bigH / 2, Text(many, Font(-100000))));
  EXPECT_FALSE(Ink(window).Empty());
}

TEST(ImageText, WorkerThreadsDrawAtTheSameTime) {
  auto work = [](int seed, long* inkOut) {
    CImage img = Canvas(200, 60);
    for (int i = 0; i < 20; ++i) {
      LogFont lf = Font(-(14 + (seed + i) % 20), (i & 1) ? 700 : 400);
      img.Clear(255);
      img.DrawStringEx(100, 50, Text("Thread " + std::to_string(i), lf));
    }
    *inkOut = Ink(img).count;
  };
  long a = 0, b = 0;
  std::thread t1(work, 1, &a), t2(work, 1, &b);
  t1.join();
  t2.join();
  EXPECT_GT(a, 0);
  EXPECT_EQ(a, b);
}
