// The output formats' options in settings files, their one-line summaries,
// and the extension table.
#include "formats/output_format.h"

#include <gtest/gtest.h>

#include "imaging/image.h"
#include "settings/ini_store.h"
#include "settings/settings.h"

namespace {

TEST(OutputFormatTest, TheFormatsInOrder) {
  CSettings s;
  ASSERT_EQ(9u, s.OutputFormats.size());
  const char* names[] = {"JPEG", "PNG", "TIFF", "BMP", "GIF", "Не менять", "WebP", "AVIF",
                         "JPEG XL"};
  const char* exts[] = {".jpg", ".png", ".tif", ".bmp", ".gif", "", ".webp", ".avif", ".jxl"};
  const int options[] = {1, 1, 1, 0, 1, 0, 1, 1, 1};
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(names[i], s.OutputFormats[i]->Name);
    EXPECT_STREQ(exts[i], s.OutputFormats[i]->Extension());
    EXPECT_EQ(options[i], s.OutputFormats[i]->HasOptions);
  }
}

TEST(OutputFormatTest, DescribeTexts) {
  CSettings s;
  std::string text = "previous text";
  s.OutputFormats[0]->Describe(text);
  EXPECT_EQ("Качество:75%, Сглаживание:0, Хаффман:Вкл, Прогрессивный:Выкл", text);
  s.OutputFormats[1]->Describe(text);
  EXPECT_EQ("Чересстрочно:Выкл", text);
  s.OutputFormats[2]->Describe(text);
  EXPECT_EQ("Сжатие:Нет", text);
  s.OutputFormats[3]->Describe(text);
  EXPECT_EQ("<Нет настроек>", text);
  s.OutputFormats[4]->Describe(text);
  EXPECT_EQ("Палитра:Адаптивная, Кол-во цветов:256, Диффузия:Вкл, Сжатие:LZW", text);
  s.OutputFormats[5]->Describe(text);
  EXPECT_EQ("Нет настроек, запись в формат WMF и EMF не поддерживается", text);
  s.OutputFormats[6]->Describe(text);
  EXPECT_EQ("Качество:80%, Метод:4, Без потерь:Выкл", text);
  s.OutputFormats[7]->Describe(text);
  EXPECT_EQ("Качество:60%, Скорость:6, Цветность:4:2:0", text);
  s.OutputFormats[8]->Describe(text);
  EXPECT_EQ("Качество:90%, Усилие:7, Без потерь:Выкл", text);
  static_cast<CFormatAVIF&>(*s.OutputFormats[7]).Chroma444 = 1;
  s.OutputFormats[7]->Describe(text);
  EXPECT_EQ("Качество:60%, Скорость:6, Цветность:4:4:4", text);

  auto& tiff = static_cast<CFormatTIFF&>(*s.OutputFormats[2]);
  tiff.CompressionType = 6;
  tiff.Describe(text);
  EXPECT_EQ("Сжатие:Mac (packbits)", text);
  tiff.CompressionType = 7;
  tiff.Describe(text);
  EXPECT_EQ("Сжатие:", text);

  auto& gif = static_cast<CFormatGIF&>(*s.OutputFormats[4]);
  gif.PaletteType = 2;
  gif.PaletteLimitColors = 16;
  gif.PaletteErrorDiffusion = 0;
  gif.CompressionType = 2;
  gif.PaletteUserPaletteFile = "/pal/web.pal";
  gif.Describe(text);
  EXPECT_EQ(
      "Палитра:Пользовательская, Кол-во цветов:16, Диффузия:Выкл, Сжатие:RLE, "
      "Файл палитры:/pal/web.pal",
      text);
  gif.PaletteType = 3;
  gif.CompressionType = -1;
  gif.Describe(text);
  EXPECT_EQ("Палитра:, Кол-во цветов:16, Диффузия:Выкл, Сжатие:", text);
}

TEST(OutputFormatTest, OptionsInTheirSections) {
  CFormatJPEG jpeg;
  jpeg.Quality = 90;
  jpeg.OptimizeHuffmanCoding = 5;  // any nonzero switch is written as 1
  jpeg.Smoothing = 10;
  jpeg.Progressive = 1;
  CFormatGIF gif;
  gif.PaletteUserPaletteFile = "p.pal";
  CIniStore store("");
  EXPECT_EQ(1, jpeg.SaveOptions(store));
  EXPECT_EQ(1, gif.SaveOptions(store));
  CFormatBMP bmp;
  CFormatKeep keep;
  EXPECT_EQ(0, bmp.SaveOptions(store));
  EXPECT_EQ(0, keep.LoadOptions(store));
  ASSERT_EQ(2, store.SectionCount());
  EXPECT_EQ("JPEG", store.SectionName(0));
  EXPECT_EQ((std::vector<std::string>{"Quality", "OptimizeHuffmanCoding", "Smoothing",
                                      "Progressive"}),
            store.SectionAt(0).KeyNames);
  EXPECT_EQ((std::vector<std::string>{"90", "1", "10", "1"}), store.SectionAt(0).Values);
  EXPECT_EQ((std::vector<std::string>{"Palette - Type", "Palette - Limit Colors",
                                      "Palette - Error Diffusion", "Palette - User palette file",
                                      "Compression - Type"}),
            store.SectionAt(1).KeyNames);
  EXPECT_EQ((std::vector<std::string>{"1", "256", "1", "p.pal", "0"}), store.SectionAt(1).Values);

  // Loading takes the defaults for keys that are missing, whatever the
  // object held before.
  CIniStore partial("");
  partial.SetString("jpeg", "quality", "55");
  partial.SetString("PNG", "Interlaced", "2");
  CFormatJPEG loaded;
  loaded.Smoothing = 30;
  EXPECT_EQ(1, loaded.LoadOptions(partial));
  EXPECT_EQ(55, loaded.Quality);
  EXPECT_EQ(0, loaded.Smoothing);
  EXPECT_EQ(1, loaded.OptimizeHuffmanCoding);
  CFormatPNG png;
  png.Compression = 9;
  EXPECT_EQ(1, png.LoadOptions(partial));
  EXPECT_EQ(1, png.Interlaced);
  EXPECT_EQ(0, png.Compression);

  // Hand-edited values are held to what the encoders take: quality 256
  // must not wrap round to 0, and a colour limit of 0 means no limit
  // rather than an all-black picture.
  const struct {
    const char* quality;
    const char* smoothing;
    const char* limit;
    int wantQuality, wantSmoothing, wantLimit;
  } cases[] = {{"256", "300", "0", 100, 100, 256},   {"0", "-4", "1", 1, 0, 2},
               {"-7", "0", "-3", 1, 0, 256},         {"101", "55", "257", 100, 55, 256},
               {"100", "100", "2", 100, 100, 2},     {"1", "1", "256", 1, 1, 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quality);
    CIniStore hand("");
    hand.SetString("JPEG", "Quality", c.quality);
    hand.SetString("JPEG", "Smoothing", c.smoothing);
    hand.SetString("GIF", "Palette - Limit Colors", c.limit);
    CFormatJPEG j;
    CFormatGIF g;
    j.LoadOptions(hand);
    g.LoadOptions(hand);
    EXPECT_EQ(c.wantQuality, j.Quality);
    EXPECT_EQ(c.wantSmoothing, j.Smoothing);
    EXPECT_EQ(c.wantLimit, g.PaletteLimitColors);
  }
}

// The codec option of the three container formats: quality, effort and the
// switch in their bits, values out of range brought into it.
TEST(OutputFormatTest, ContainerFormatsCodecOptions) {
  CFormatWebP webp;
  EXPECT_EQ(80u | (4u << 8), webp.CodecOption());
  webp.Quality = 0;
  webp.Method = 9;
  webp.Lossless = 3;
  EXPECT_EQ(1u | (6u << 8) | (1u << 12), webp.CodecOption());
  CFormatAVIF avif;
  avif.Quality = 250;
  avif.Speed = -2;
  avif.Chroma444 = 1;
  EXPECT_EQ(100u | (0u << 8) | (1u << 12), avif.CodecOption());
  CFormatJXL jxl;
  EXPECT_EQ(90u | (7u << 8), jxl.CodecOption());
  jxl.Effort = 0;
  EXPECT_EQ(90u | (1u << 8), jxl.CodecOption());

  // Their sections and keys, read back with defaults for missing keys.
  CIniStore store("");
  jxl.Lossless = 1;
  EXPECT_EQ(1, webp.SaveOptions(store));
  EXPECT_EQ(1, avif.SaveOptions(store));
  EXPECT_EQ(1, jxl.SaveOptions(store));
  ASSERT_EQ(3, store.SectionCount());
  EXPECT_EQ("WebP", store.SectionName(0));
  EXPECT_EQ((std::vector<std::string>{"Quality", "Lossless", "Method"}), store.SectionAt(0).KeyNames);
  EXPECT_EQ((std::vector<std::string>{"0", "1", "9"}), store.SectionAt(0).Values);
  EXPECT_EQ("AVIF", store.SectionName(1));
  EXPECT_EQ((std::vector<std::string>{"Quality", "Speed", "Chroma444"}), store.SectionAt(1).KeyNames);
  EXPECT_EQ("JPEG XL", store.SectionName(2));
  EXPECT_EQ((std::vector<std::string>{"Quality", "Effort", "Lossless"}), store.SectionAt(2).KeyNames);
  EXPECT_EQ((std::vector<std::string>{"90", "0", "1"}), store.SectionAt(2).Values);
  CIniStore partial("");
  partial.SetString("webp", "method", "2");
  CFormatWebP loaded;
  loaded.Quality = 5;
  EXPECT_EQ(1, loaded.LoadOptions(partial));
  EXPECT_EQ(2, loaded.Method);
  EXPECT_EQ(80, loaded.Quality);
}

TEST(OutputFormatTest, SetupGoesThroughTheHook) {
  CFormatPNG png;
  EXPECT_EQ(2, png.Setup());
  COutputFormat* seen = nullptr;
  COutputFormat::SetupHook = [&seen](COutputFormat& f) {
    seen = &f;
    return 1;
  };
  EXPECT_EQ(1, png.Setup());
  COutputFormat::SetupHook = nullptr;
  EXPECT_EQ(&png, seen);
}

TEST(OutputFormatTest, FormatFromExtension) {
  const struct {
    const char* path;
    int code;
  } cases[] = {
      {"photo.JPG", 3},    {"scan.tiff", 6},        {"image.j2c", 12},   {"README", 0},
      {"a.bmp", 1},        {"a.gif", 2},            {"a.jpeg", 3},       {"a.PnG", 4},
      {"a.ico", 5},        {"a.tif", 6},            {"a.tga", 7},        {"a.pcx", 8},
      {"a.wbmp", 9},       {"a.wmf", 10},           {"a.EMF", 10},       {"a.jp2", 11},
      {"a.j2k", 11},       {"a.jpc", 12},           {"a.pgx", 13},       {"a.pnm", 14},
      {"a.pgm", 14},       {"a.ppm", 14},           {"a.ras", 15},       {"a.jbg", 16},
      {"/d.jpg/file", 0},  {"/d/.png", 4},          {"/d/x.", 0},        {"/d/x.tar.gz", 0},
      {"/фото/снимок.JPG", 3}, {"x.jpgé", 0},       {"x.ЈPG", 0},        {"", 0},
      {"a.webp", 17},      {"IMG_1.HEIC", 18},      {"a.heif", 18},      {"a.hif", 18},
      {"a.avif", 19},      {"a.jxl", 20},           {"a.dng", 21},       {"a.CR2", 21},
      {"a.cr3", 21},       {"a.nef", 21},           {"a.arw", 21},       {"a.orf", 21},
      {"a.rw2", 21},       {"a.raf", 21},           {"a.pef", 21},       {"a.srw", 21},
      {"a.heics", 0},      {"a.raw", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.code, FormatFromExtension(c.path)) << c.path;
}

}  // namespace
