// The output formats' options: loading, storing, describing, and the table of
// extensions to format codes. The writing itself lives in format_writers.cpp.
#include "formats/output_format.h"

#include "services/strings.h"

#include <cstdio>

#include "imaging/image.h"

#include "settings/ini_store.h"

std::function<int(COutputFormat&)> COutputFormat::SetupHook;

namespace {

// The texts are Russian; with the English language library they come out in
// English (UiText), the numbers and names filled in the same way.
std::string OnOff(int value) { return UiText(value ? "Вкл" : "Выкл"); }

// Name from a table, empty for a value outside it.
template <size_t N>
std::string NameOf(const char* const (&names)[N], int value) {
  return (value >= 0 && size_t(value) < N) ? UiText(names[value]) : std::string();
}

int Clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

std::string Format(const char* format, const std::string& text) {
  const std::string pattern = UiText(format);
  char buf[1024];
  std::snprintf(buf, sizeof buf, pattern.c_str(), text.c_str());
  return buf;
}

std::string Format(const char* format, int value) {
  const std::string pattern = UiText(format);
  char buf[256];
  std::snprintf(buf, sizeof buf, pattern.c_str(), value);
  return buf;
}

}  // namespace

// ---- COutputFormat ------------------------------------------------------------

COutputFormat::COutputFormat(const char* name, int hasOptions, const char* extension)
    : Name(name), HasOptions(hasOptions), Ext(extension) {}

COutputFormat::~COutputFormat() = default;

int COutputFormat::Setup() {
  if (SetupHook) return SetupHook(*this);
  return 2;
}

int COutputFormat::LoadOptions(CIniStore&) { return 0; }

int COutputFormat::SaveOptions(CIniStore&) { return 0; }

void COutputFormat::Describe(std::string& text) { text = UiText("<Нет настроек>"); }

// ---- JPEG ---------------------------------------------------------------------

CFormatJPEG::CFormatJPEG() : COutputFormat("JPEG", 1, ".jpg") {}

int CFormatJPEG::LoadOptions(CIniStore& store) {
  // Values from a hand-edited file are held to what the encoder takes, so
  // that 256 never wraps round to quality 0.
  Quality = Clamp(store.GetInt(Name, "Quality", 75), 1, 100);
  OptimizeHuffmanCoding = store.GetBool(Name, "OptimizeHuffmanCoding", true) ? 1 : 0;
  Smoothing = Clamp(store.GetInt(Name, "Smoothing", 0), 0, 100);
  Progressive = store.GetBool(Name, "Progressive", false) ? 1 : 0;
  return 1;
}

int CFormatJPEG::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Quality", Quality);
  store.SetBool(Name, "OptimizeHuffmanCoding", OptimizeHuffmanCoding != 0);
  store.SetInt(Name, "Smoothing", Smoothing);
  store.SetBool(Name, "Progressive", Progressive != 0);
  return 1;
}

void CFormatJPEG::Describe(std::string& text) {
  text = Format("Качество:%d%%, ", Quality);
  text += Format("Сглаживание:%d, ", Smoothing);
  text += Format("Хаффман:%s, ", OnOff(OptimizeHuffmanCoding));
  text += Format("Прогрессивный:%s", OnOff(Progressive));
}

// ---- PNG ----------------------------------------------------------------------

CFormatPNG::CFormatPNG() : COutputFormat("PNG", 1, ".png") {}

int CFormatPNG::LoadOptions(CIniStore& store) {
  Compression = store.GetInt(Name, "Compression", 0);
  Interlaced = store.GetBool(Name, "Interlaced", false) ? 1 : 0;
  return 1;
}

int CFormatPNG::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Compression", Compression);
  store.SetBool(Name, "Interlaced", Interlaced != 0);
  return 1;
}

void CFormatPNG::Describe(std::string& text) {
  text = Format("Чересстрочно:%s", OnOff(Interlaced));
}

// ---- TIFF ---------------------------------------------------------------------

CFormatTIFF::CFormatTIFF() : COutputFormat("TIFF", 1, ".tif") {}

int CFormatTIFF::LoadOptions(CIniStore& store) {
  CompressionType = store.GetInt(Name, "Compression - Type", 0);
  return 1;
}

int CFormatTIFF::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Compression - Type", CompressionType);
  return 1;
}

void CFormatTIFF::Describe(std::string& text) {
  static const char* const kNames[] = {"Нет",  "CCITTRLE", "CCITTFAX3",     "CCITTFAX4",
                                       "LZW", "JPEG",     "Mac (packbits)"};
  text = Format("Сжатие:%s", NameOf(kNames, CompressionType));
}

// ---- BMP ----------------------------------------------------------------------

CFormatBMP::CFormatBMP() : COutputFormat("BMP", 0, ".bmp") {}

// ---- GIF ----------------------------------------------------------------------

CFormatGIF::CFormatGIF() : COutputFormat("GIF", 1, ".gif") {}

int CFormatGIF::LoadOptions(CIniStore& store) {
  PaletteType = store.GetInt(Name, "Palette - Type", 1);
  // 0 (or anything outside the dialog's 2..256) means no limit: a limit of
  // no colours would give an all-black picture.
  PaletteLimitColors = store.GetInt(Name, "Palette - Limit Colors", 256);
  if (PaletteLimitColors <= 0 || PaletteLimitColors > 256) PaletteLimitColors = 256;
  if (PaletteLimitColors == 1) PaletteLimitColors = 2;
  PaletteErrorDiffusion = store.GetBool(Name, "Palette - Error Diffusion", true) ? 1 : 0;
  PaletteUserPaletteFile = store.GetString(Name, "Palette - User palette file", "");
  CompressionType = store.GetInt(Name, "Compression - Type", 0);
  return 1;
}

int CFormatGIF::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Palette - Type", PaletteType);
  store.SetInt(Name, "Palette - Limit Colors", PaletteLimitColors);
  store.SetBool(Name, "Palette - Error Diffusion", PaletteErrorDiffusion != 0);
  store.SetString(Name, "Palette - User palette file", PaletteUserPaletteFile, true);
  store.SetInt(Name, "Compression - Type", CompressionType);
  return 1;
}

void CFormatGIF::Describe(std::string& text) {
  static const char* const kPalettes[] = {"Стандартная", "Адаптивная", "Пользовательская"};
  static const char* const kCompressions[] = {"LZW", "Нет", "RLE"};
  text = Format("Палитра:%s, ", NameOf(kPalettes, PaletteType));
  text += Format("Кол-во цветов:%d, ", PaletteLimitColors);
  text += Format("Диффузия:%s, ", OnOff(PaletteErrorDiffusion));
  text += Format("Сжатие:%s", NameOf(kCompressions, CompressionType));
  if (PaletteType == 2) text += UiText(", Файл палитры:") + PaletteUserPaletteFile;
}

// ---- keep the source's format ---------------------------------------------

CFormatKeep::CFormatKeep() : COutputFormat("Не менять", 0, "") {}

void CFormatKeep::Describe(std::string& text) {
  text = UiText("Нет настроек, запись в формат WMF и EMF не поддерживается");
}

// ---- WebP, AVIF, JPEG XL -------------------------------------------------------

namespace {

// The codec option of the three: quality in bits 0-7, effort in bits 8-11,
// the switch in bit 12. Values out of range are brought into it here, so a
// hand-edited settings file never reaches an encoder with them.
uint32_t PackOption(int quality, int effort, int effortMax, int effortMin, int flag) {
  quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  effort = effort < effortMin ? effortMin : effort > effortMax ? effortMax : effort;
  return uint32_t(quality) | (uint32_t(effort) << 8) | (flag != 0 ? (1u << 12) : 0u);
}

}  // namespace

CFormatWebP::CFormatWebP() : COutputFormat("WebP", 1, ".webp") {}

int CFormatWebP::LoadOptions(CIniStore& store) {
  Quality = store.GetInt(Name, "Quality", 80);
  Lossless = store.GetBool(Name, "Lossless", false) ? 1 : 0;
  Method = store.GetInt(Name, "Method", 4);
  return 1;
}

int CFormatWebP::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Quality", Quality);
  store.SetBool(Name, "Lossless", Lossless != 0);
  store.SetInt(Name, "Method", Method);
  return 1;
}

void CFormatWebP::Describe(std::string& text) {
  text = Format("Качество:%d%%, ", Quality);
  text += Format("Метод:%d, ", Method);
  text += Format("Без потерь:%s", OnOff(Lossless));
}

uint32_t CFormatWebP::CodecOption() const { return PackOption(Quality, Method, 6, 0, Lossless); }

CFormatAVIF::CFormatAVIF() : COutputFormat("AVIF", 1, ".avif") {}

int CFormatAVIF::LoadOptions(CIniStore& store) {
  Quality = store.GetInt(Name, "Quality", 60);
  Speed = store.GetInt(Name, "Speed", 6);
  Chroma444 = store.GetBool(Name, "Chroma444", false) ? 1 : 0;
  return 1;
}

int CFormatAVIF::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Quality", Quality);
  store.SetInt(Name, "Speed", Speed);
  store.SetBool(Name, "Chroma444", Chroma444 != 0);
  return 1;
}

void CFormatAVIF::Describe(std::string& text) {
  text = Format("Качество:%d%%, ", Quality);
  text += Format("Скорость:%d, ", Speed);
  text += Format("Цветность:%s", Chroma444 != 0 ? std::string("4:4:4") : std::string("4:2:0"));
}

uint32_t CFormatAVIF::CodecOption() const { return PackOption(Quality, Speed, 10, 0, Chroma444); }

CFormatJXL::CFormatJXL() : COutputFormat("JPEG XL", 1, ".jxl") {}

int CFormatJXL::LoadOptions(CIniStore& store) {
  Quality = store.GetInt(Name, "Quality", 90);
  Effort = store.GetInt(Name, "Effort", 7);
  Lossless = store.GetBool(Name, "Lossless", false) ? 1 : 0;
  return 1;
}

int CFormatJXL::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Quality", Quality);
  store.SetInt(Name, "Effort", Effort);
  store.SetBool(Name, "Lossless", Lossless != 0);
  return 1;
}

void CFormatJXL::Describe(std::string& text) {
  text = Format("Качество:%d%%, ", Quality);
  text += Format("Усилие:%d, ", Effort);
  text += Format("Без потерь:%s", OnOff(Lossless));
}

uint32_t CFormatJXL::CodecOption() const { return PackOption(Quality, Effort, 9, 1, Lossless); }
