// Rotation and flipping: the choices, the camera's orientation tag in all
// eight values, and the written file's tag after the picture was turned.
#include <gtest/gtest.h>

#include "engine/stages.h"
#include "imaging/metadata.h"
#include "imaging/metadata_ext.h"
#include "test_support.h"

namespace {

using namespace testing_support;

// A 3 x 2 picture whose six pixels all differ; pixel (x, y) from the top
// left has red 10 + x, green 20 + y.
CImage Asymmetric() {
  CImage image;
  image.Create(3, 2, 24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      image.SetPixelColor(x, 1 - y, RGBQuad{0, uint8_t(20 + y), uint8_t(10 + x), 0});
  return image;
}

// Where pixel (x, y) of the upright picture comes from in the stored one
// (W x H), for each orientation value.
void Source(int orientation, int W, int H, int x, int y, int& sx, int& sy) {
  switch (orientation) {
    case 2: sx = W - 1 - x; sy = y; break;
    case 3: sx = W - 1 - x; sy = H - 1 - y; break;
    case 4: sx = x; sy = H - 1 - y; break;
    case 5: sx = y; sy = x; break;
    case 6: sx = y; sy = H - 1 - x; break;
    case 7: sx = W - 1 - y; sy = H - 1 - x; break;
    case 8: sx = W - 1 - y; sy = x; break;
    default: sx = x; sy = y; break;
  }
}

PropertyItemList OrientationItems(int value, uint16_t type = 3) {
  PropertyItemList items;
  items.items.push_back(MakeAsciiItem(kTagArtist, "Ann"));
  PropertyItem o;
  o.id = kTagOrientation;
  o.type = type;
  o.value = type == 4 ? std::vector<uint8_t>{uint8_t(value), 0, 0, 0}
                      : std::vector<uint8_t>{uint8_t(value), 0};
  o.length = uint32_t(o.value.size());
  items.items.push_back(o);
  return items;
}

TEST(OrientationTag, AllEightValuesTurnThePictureUpright) {
  CSettings& s = FreshSettings();
  CJobStages stages(s, nullptr);
  for (int value = 1; value <= 8; ++value) {
    CImage image = Asymmetric();
    PropertyItemList items = OrientationItems(value);
    EXPECT_TRUE(stages.RotateByOrientationTag(items, 2, image));
    const bool swapped = value >= 5;
    ASSERT_EQ(image.GetWidth(), swapped ? 2 : 3) << value;
    ASSERT_EQ(image.GetHeight(), swapped ? 3 : 2) << value;
    for (int y = 0; y < image.GetHeight(); ++y) {
      for (int x = 0; x < image.GetWidth(); ++x) {
        int sx, sy;
        Source(value, 3, 2, x, y, sx, sy);
        RGBQuad c = TopLeftPixel(image, x, y);
        EXPECT_EQ(c.red, 10 + sx) << "orientation " << value << " at " << x << "," << y;
        EXPECT_EQ(c.green, 20 + sy) << "orientation " << value << " at " << x << "," << y;
      }
    }
    // The written file must not make a viewer turn the picture again.
    std::string text;
    ASSERT_TRUE(FindPropertyText(&items, 2, kTagOrientation, text));
    EXPECT_EQ(items.items[1].value, (std::vector<uint8_t>{1, 0})) << value;
    EXPECT_EQ(items.items[0].value.size(), 4u) << "other items untouched";
  }
}

TEST(OrientationTag, ValueAsLongAndUnknownValues) {
  CSettings& s = FreshSettings();
  CJobStages stages(s, nullptr);
  CImage image = Asymmetric();
  PropertyItemList items = OrientationItems(6, 4);
  EXPECT_TRUE(stages.RotateByOrientationTag(items, 2, image));
  EXPECT_EQ(image.GetWidth(), 2);
  EXPECT_EQ(items.items[1].value, (std::vector<uint8_t>{1, 0, 0, 0}));

  // 9 is no orientation: found, nothing turned, nothing rewritten.
  image = Asymmetric();
  items = OrientationItems(9);
  EXPECT_TRUE(stages.RotateByOrientationTag(items, 2, image));
  EXPECT_EQ(image.GetWidth(), 3);
  EXPECT_EQ(items.items[1].value[0], 9);
}

TEST(OrientationTag, NothingWithoutTagOrMetadataSupport) {
  CSettings& s = FreshSettings();
  CImage image = Asymmetric();
  PropertyItemList items = OrientationItems(6);
  {
    CJobStages stages(s, nullptr);
    // The count limits the search: the tag is the second item.
    EXPECT_FALSE(stages.RotateByOrientationTag(items, 1, image));
    EXPECT_FALSE(stages.RotateByOrientationTag(items, 0, image));
    PropertyItemList empty;
    EXPECT_FALSE(stages.RotateByOrientationTag(empty, 3, image));
    // An empty value counts as no tag.
    PropertyItemList zero = OrientationItems(0);
    EXPECT_FALSE(stages.RotateByOrientationTag(zero, 2, image));
  }
  s.GdiplusAvailable = 0;
  CJobStages stages(s, nullptr);
  stages.Rotate(image, 4, items, 2);
  EXPECT_EQ(image.GetWidth(), 3);
  EXPECT_EQ(items.items[1].value[0], 6);
}

TEST(RotateAndFlip, ChoicesInOrder) {
  CSettings& s = FreshSettings();
  CJobStages stages(s, nullptr);
  PropertyItemList none;
  // Left, then mirrored: a 40 x 30 picture becomes 30 x 40.
  CImage image = Solid(40, 30, RGBQuad{0, 0, 0, 0});
  image.SetPixelColor(0, 29, RGBQuad{0, 0, 255, 0});  // top-left red
  stages.Rotate(image, 0, none, 0);
  EXPECT_EQ(image.GetWidth(), 30);
  EXPECT_EQ(image.GetHeight(), 40);
  EXPECT_EQ(TopLeftPixel(image, 0, 39).red, 255);  // turned left: to the bottom left
  stages.Flip(image, 0);
  EXPECT_EQ(TopLeftPixel(image, 29, 39).red, 255);  // mirrored: bottom right

  CImage other = Asymmetric();
  stages.Rotate(other, 1, none, 0);  // right
  EXPECT_EQ(TopLeftPixel(other, 0, 0).green, 21);
  stages.Rotate(other, 2, none, 0);  // half turn
  stages.Flip(other, 1);             // top <-> bottom
  CImage unchanged = other;
  stages.Rotate(other, 3, none, 0);
  stages.Rotate(other, 7, none, 0);
  stages.Flip(other, 2);
  stages.Flip(other, -1);
  for (int y = 0; y < other.GetHeight(); ++y)
    for (int x = 0; x < other.GetWidth(); ++x)
      EXPECT_TRUE(Near(other.GetPixelColor(x, y, false), unchanged.GetPixelColor(x, y, false), 0));
}

// The whole job on JPEG photos tagged by exiftool: each comes out as
// ImageMagick's -auto-orient shows it, and its written tag is 1.
TEST(OrientationBatch, PhotosComeOutUprightWithTagOne) {
  TempDir tmp;
  // Four quadrants of distinct colours: every orientation gives another
  // arrangement.
  Convert("-size 64x48 xc:red -fill lime -draw 'rectangle 32,0 63,23' -fill blue "
          "-draw 'rectangle 0,24 31,47' -fill yellow -draw 'rectangle 32,24 63,47' -quality 95 " +
          Quote(tmp / "base.jpg"));
  for (int value = 1; value <= 8; ++value) {
    const std::string name = "photo" + std::to_string(value);
    const std::string src = tmp / (name + ".jpg");
    std::filesystem::copy_file(tmp / "base.jpg", src);
    ExifToolWrite(src, "-Orientation#=" + std::to_string(value) + " -Artist=Ann");
    Convert(Quote(src) + " -auto-orient " + Quote(tmp / (name + "_ref.png")));
  }
  RunResult r = Lumaro(tmp, "--format jpg --output " + Quote(tmp / "out") +
                                " --set FlipRotate.RotationMode=4 --set META.KeepExisting=1 " +
                                Quote(tmp / "photo1.jpg") + " " + Quote(tmp / "photo2.jpg") + " " +
                                Quote(tmp / "photo3.jpg") + " " + Quote(tmp / "photo4.jpg") + " " +
                                Quote(tmp / "photo5.jpg") + " " + Quote(tmp / "photo6.jpg") + " " +
                                Quote(tmp / "photo7.jpg") + " " + Quote(tmp / "photo8.jpg"));
  ASSERT_EQ(r.status, 0) << r.out;
  // Orientation and artist of the eight outputs, one line each.
  std::string outputs;
  for (int value = 1; value <= 8; ++value)
    outputs += " " + Quote(tmp / ("out/photo" + std::to_string(value) + ".jpg"));
  EXPECT_EQ(RunOutput("exiftool -T -n -Orientation -Artist" + outputs),
            "1\tAnn\n1\tAnn\n1\tAnn\n1\tAnn\n1\tAnn\n1\tAnn\n1\tAnn\n1\tAnn\n");
  for (int value = 1; value <= 8; ++value) {
    const std::string name = "photo" + std::to_string(value);
    CImage out, ref;
    ASSERT_TRUE(out.Load(tmp / ("out/" + name + ".jpg"))) << out.GetLastError();
    ASSERT_TRUE(ref.Load(tmp / (name + "_ref.png"))) << ref.GetLastError();
    ASSERT_EQ(out.GetWidth(), ref.GetWidth()) << value;
    ASSERT_EQ(out.GetHeight(), ref.GetHeight()) << value;
    const int w = ref.GetWidth(), h = ref.GetHeight();
    for (int qy = 0; qy < 2; ++qy) {
      for (int qx = 0; qx < 2; ++qx) {
        const int x = w / 4 + qx * w / 2, y = h / 4 + qy * h / 2;
        RGBQuad a = TopLeftPixel(out, x, y), b = TopLeftPixel(ref, x, y);
        EXPECT_TRUE(Near(a, b, 40)) << "orientation " << value << " quadrant " << qx << qy
                                    << ": " << Describe(a) << " vs " << Describe(b);
      }
    }
  }
}

// Without "by camera" the tag is copied as it was: the viewer turns the
// picture, which the program left as stored.
TEST(OrientationBatch, TagKeptWhenNotTurnedByIt) {
  TempDir tmp;
  Convert("-size 40x20 xc:red " + Quote(tmp / "in.jpg"));
  ExifToolWrite(tmp / "in.jpg", "-Orientation#=6");
  RunResult r = Lumaro(tmp, "--format jpg --output " + Quote(tmp / "out") +
                                " --set META.KeepExisting=1 " + Quote(tmp / "in.jpg"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ExifTool(tmp / "out/in.jpg", "Orientation", true), "6");
  EXPECT_EQ(ExifTool(tmp / "out/in.jpg", "ImageSize"), "40x20");
}

TEST(OrientationBatch, FileWithoutMetadataIsConvertedUnturned) {
  TempDir tmp;
  Convert("-size 40x20 xc:red " + Quote(tmp / "in.bmp"));
  RunResult r = Lumaro(tmp, "--format png --output " + Quote(tmp / "out") +
                                " --set FlipRotate.RotationMode=4 " + Quote(tmp / "in.bmp"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ExifTool(tmp / "out/in.png", "ImageSize"), "40x20");
}

}  // namespace
