// The output formats' options: loading, storing and describing. The encoding
// lives in format_writers.cpp, the extension table in extensions.cpp.
#include "formats/output_format.h"

#include "services/strings.h"

#include <cstdio>

#include "imaging/codecs/quality_option.h"
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

constexpr CFormatQualityEffort::Traits kWebP = {
    FORMAT_WEBP, "WebP", ".webp", 80, "Method", 4, 0, 6, "Lossless", true,
    "Метод:%d, ", "Без потерь:%s", nullptr, nullptr};
constexpr CFormatQualityEffort::Traits kAVIF = {
    FORMAT_AVIF, "AVIF", ".avif", 60, "Speed", 6, 0, 10, "Chroma444", false,
    "Скорость:%d, ", "Цветность:%s", "4:4:4", "4:2:0"};
constexpr CFormatQualityEffort::Traits kJXL = {
    FORMAT_JXL, "JPEG XL", ".jxl", 90, "Effort", 7, 1, 9, "Lossless", false,
    "Усилие:%d, ", "Без потерь:%s", nullptr, nullptr};

}  // namespace

CFormatQualityEffort::CFormatQualityEffort(const Traits& traits)
    : COutputFormat(traits.name, 1, traits.extension),
      Quality(traits.quality),
      EffortValue(traits.effort),
      SwitchValue(0),
      traits_(traits) {}

int CFormatQualityEffort::LoadOptions(CIniStore& store) {
  Quality = store.GetInt(Name, "Quality", traits_.quality);
  EffortValue = store.GetInt(Name, traits_.effortKey, traits_.effort);
  SwitchValue = store.GetBool(Name, traits_.switchKey, false) ? 1 : 0;
  return 1;
}

int CFormatQualityEffort::SaveOptions(CIniStore& store) {
  store.SetInt(Name, "Quality", Quality);
  if (traits_.switchKeyFirst) store.SetBool(Name, traits_.switchKey, SwitchValue != 0);
  store.SetInt(Name, traits_.effortKey, EffortValue);
  if (!traits_.switchKeyFirst) store.SetBool(Name, traits_.switchKey, SwitchValue != 0);
  return 1;
}

void CFormatQualityEffort::Describe(std::string& text) {
  text = Format("Качество:%d%%, ", Quality);
  text += Format(traits_.effortText, EffortValue);
  text += Format(traits_.switchText,
                 traits_.switchOn ? std::string(SwitchValue != 0 ? traits_.switchOn
                                                                 : traits_.switchOff)
                                  : OnOff(SwitchValue));
}

uint32_t CFormatQualityEffort::CodecOption() const {
  return PackQualityOption(Quality, EffortValue, traits_.effortMin, traits_.effortMax,
                           SwitchValue != 0);
}

CFormatWebP::CFormatWebP() : CFormatQualityEffort(kWebP) {}

CFormatAVIF::CFormatAVIF() : CFormatQualityEffort(kAVIF) {}

CFormatJXL::CFormatJXL() : CFormatQualityEffort(kJXL) {}
