// The sample filter library of Lumaro III: grey scale, sepia, negative,
// sharpen and auto levels. It uses lumaro_filter.h (and Qt for the one
// dialog it shows), as a third-party filter library would.
//
// Grayscale, Sepia, Negative and AutoLevels change the bitmap in place
// (for palette bitmaps: the palette). Sharpen builds a new 24-bit bitmap and
// hands it back in place of the old one; its strength is kept in the filter
// settings file, section [Sharpen], key Amount (1..10), and set by its
// Setup dialog (Qt's input dialog inside a Qt program, else zenity or
// kdialog).
#include <dlfcn.h>
#include <stdio.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "lumaro_filter.h"

#ifdef LUMARO_FILTERS_QT
#include <QApplication>
#include <QInputDialog>
#endif

namespace {

const char kNames[] = "Grayscale;Sepia;Negative;Sharpen;AutoLevels";

const LumaroGuid kGrayscaleGuid = {0x4F1C2A61, 0x7D3E, 0x4B1A, {0x9E, 0x52, 0x1C, 0x6A, 0x33, 0x80, 0xB1, 0x01}};
const LumaroGuid kSepiaGuid = {0x4F1C2A61, 0x7D3E, 0x4B1A, {0x9E, 0x52, 0x1C, 0x6A, 0x33, 0x80, 0xB1, 0x02}};
const LumaroGuid kNegativeGuid = {0x4F1C2A61, 0x7D3E, 0x4B1A, {0x9E, 0x52, 0x1C, 0x6A, 0x33, 0x80, 0xB1, 0x03}};
const LumaroGuid kSharpenGuid = {0x4F1C2A61, 0x7D3E, 0x4B1A, {0x9E, 0x52, 0x1C, 0x6A, 0x33, 0x80, 0xB1, 0x04}};
const LumaroGuid kAutoLevelsGuid = {0x4F1C2A61, 0x7D3E, 0x4B1A, {0x9E, 0x52, 0x1C, 0x6A, 0x33, 0x80, 0xB1, 0x05}};

constexpr int kDefaultSharpenAmount = 5;
const char kSharpenSection[] = "Sharpen";
const char kSharpenKey[] = "Amount";

char* Duplicate(const char* text) {
  const size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

uint8_t Clamp8(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); }

// ---- access to the bitmap --------------------------------------------------------

struct Dib {
  LumaroBitmapInfoHeader* header;
  LumaroRgbQuad* palette;
  uint32_t paletteEntries;
  uint8_t* bits;
  uint32_t stride;
  int32_t width;
  int32_t height;  // rows stored

  bool TrueColour() const { return header->biBitCount == 24 || header->biBitCount == 32; }
  int BytesPerPixel() const { return header->biBitCount / 8; }
};

bool OpenDib(void* block, Dib& dib) {
  if (block == nullptr) return false;
  auto* h = static_cast<LumaroBitmapInfoHeader*>(block);
  if (h->biSize < 40 || h->biWidth <= 0 || h->biHeight == 0 || h->biCompression != 0) return false;
  const uint16_t bpp = h->biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  dib.header = h;
  dib.palette = LumaroDibPalette(block);
  dib.paletteEntries = LumaroDibPaletteEntries(h);
  dib.bits = LumaroDibBits(block);
  dib.stride = LumaroDibRowBytes(h->biWidth, bpp);
  dib.width = h->biWidth;
  dib.height = h->biHeight < 0 ? -h->biHeight : h->biHeight;
  return true;
}

// Calls fn(blue, green, red) for every colour of the bitmap: the palette
// entries of a palette bitmap, every pixel of a true-colour one.
template <typename Fn>
void ForEachColour(Dib& dib, Fn fn) {
  if (!dib.TrueColour()) {
    for (uint32_t i = 0; i < dib.paletteEntries; ++i)
      fn(dib.palette[i].rgbBlue, dib.palette[i].rgbGreen, dib.palette[i].rgbRed);
    return;
  }
  const int bpp = dib.BytesPerPixel();
  for (int32_t y = 0; y < dib.height; ++y) {
    uint8_t* p = dib.bits + size_t(y) * dib.stride;
    for (int32_t x = 0; x < dib.width; ++x, p += bpp) fn(p[0], p[1], p[2]);
  }
}

// The colour of pixel (x, y) in stored row order.
void PixelAt(const Dib& dib, int32_t x, int32_t y, uint8_t out[3]) {
  const uint8_t* row = dib.bits + size_t(y) * dib.stride;
  if (dib.TrueColour()) {
    const uint8_t* p = row + size_t(x) * dib.BytesPerPixel();
    out[0] = p[0];
    out[1] = p[1];
    out[2] = p[2];
    return;
  }
  const uint16_t bpp = dib.header->biBitCount;
  uint32_t index;
  if (bpp == 8)
    index = row[x];
  else if (bpp == 4)
    index = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
  else
    index = (row[x >> 3] >> (7 - (x & 7))) & 1;
  if (index >= dib.paletteEntries) index = 0;
  out[0] = dib.palette[index].rgbBlue;
  out[1] = dib.palette[index].rgbGreen;
  out[2] = dib.palette[index].rgbRed;
}

// ---- the filter settings file -----------------------------------------------------

// The filter settings file beside this library (the program folder).
std::string SettingsFileBesideLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&SettingsFileBesideLibrary), &info) == 0 || !info.dli_fname)
    return {};
  std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return path + LUMARO_FILTER_SETTINGS_FILE;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

int ReadAmount(const std::string& path) {
  bool inSection = false;
  for (const std::string& raw : ReadLines(path)) {
    const std::string line = Trim(raw);
    if (!line.empty() && line[0] == '[') {
      inSection = line.back() == ']' && SameName(line.substr(1, line.size() - 2), kSharpenSection);
      continue;
    }
    const size_t eq = line.find('=');
    if (inSection && eq != std::string::npos && SameName(Trim(line.substr(0, eq)), kSharpenKey)) {
      const int v = std::atoi(line.c_str() + eq + 1);
      return std::clamp(v, 1, 10);
    }
  }
  return kDefaultSharpenAmount;
}

// Stores Amount in the [Sharpen] section, keeping every other line; the
// file is replaced through a temporary so that it is never half written.
bool WriteAmount(const std::string& path, int amount) {
  std::vector<std::string> lines = ReadLines(path);
  const std::string entry = std::string(kSharpenKey) + "=" + std::to_string(amount);
  bool inSection = false, done = false;
  size_t sectionEnd = std::string::npos;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    const std::string line = Trim(lines[i]);
    if (!line.empty() && line[0] == '[') {
      if (inSection) break;
      inSection = line.back() == ']' && SameName(line.substr(1, line.size() - 2), kSharpenSection);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    if (!line.empty()) sectionEnd = i + 1;
    const size_t eq = line.find('=');
    if (eq != std::string::npos && SameName(Trim(line.substr(0, eq)), kSharpenKey)) {
      lines[i] = entry;
      done = true;
    }
  }
  if (!done) {
    if (sectionEnd == std::string::npos) {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
      lines.push_back(std::string("[") + kSharpenSection + "]");
      lines.push_back(entry);
    } else {
      lines.insert(lines.begin() + long(sectionEnd), entry);
    }
  }
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    for (const std::string& l : lines) out << l << '\n';
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

enum class Answer { Chosen, Cancelled, NoDialog };

// Asks with Qt's own input dialog when the host program runs a Qt
// application (the Lumaro window does): that dialog is always there.
Answer AskAmountInApplication(int current, int& chosen) {
#ifdef LUMARO_FILTERS_QT
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return Answer::NoDialog;
  bool ok = false;
  const int v = QInputDialog::getInt(QApplication::activeWindow(), QStringLiteral("Sharpen"),
                                     QStringLiteral("Strength (1 to 10):"), current, 1, 10, 1, &ok);
  if (!ok) return Answer::Cancelled;
  chosen = v;
  return Answer::Chosen;
#else
  (void)current;
  (void)chosen;
  return Answer::NoDialog;
#endif
}

// Asks with the desktop's dialog tool (zenity, or kdialog).
Answer AskAmountWithTool(int current, int& chosen) {
  char command[512];
  const char* tools[] = {
      "zenity --scale --title='Sharpen' --text='Strength' --min-value=1 --max-value=10 "
      "--step=1 --value=%d 2>/dev/null",
      "kdialog --title 'Sharpen' --slider 'Strength' 1 10 1 %d 2>/dev/null",
  };
  for (const char* tool : tools) {
    std::snprintf(command, sizeof command, tool, current);
    FILE* p = popen(command, "r");
    if (!p) continue;
    char buf[64] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, p);
    const int status = pclose(p);
    if (status == -1 || !WIFEXITED(status)) continue;
    const int rc = WEXITSTATUS(status);
    if (rc == 127) continue;  // the tool is not installed
    if (rc != 0 || n == 0) return Answer::Cancelled;
    const int v = std::atoi(buf);
    if (v < 1 || v > 10) return Answer::Cancelled;
    chosen = v;
    return Answer::Chosen;
  }
  return Answer::NoDialog;
}

// Asks for a number 1..10: in the host's Qt application, else with a dialog
// tool. With neither the user is told what is missing (on standard error,
// the only channel left). True when a number was chosen.
bool AskAmount(int current, int& chosen) {
  Answer answer = AskAmountInApplication(current, chosen);
  if (answer == Answer::NoDialog) answer = AskAmountWithTool(current, chosen);
  if (answer == Answer::NoDialog)
    std::fprintf(stderr,
                 "Sharpen: cannot show the strength setting: neither zenity nor kdialog is "
                 "installed; install one of them, or set Amount=1..10 in section [Sharpen] of "
                 "Tessel.ini\n");
  return answer == Answer::Chosen;
}

// ---- the filters -----------------------------------------------------------------------

int Grayscale(void** bitmap) {
  Dib dib;
  if (!OpenDib(*bitmap, dib)) return 0;
  ForEachColour(dib, [](uint8_t& b, uint8_t& g, uint8_t& r) {
    const uint8_t y = Clamp8(0.299 * r + 0.587 * g + 0.114 * b);
    b = g = r = y;
  });
  return 1;
}

int Sepia(void** bitmap) {
  Dib dib;
  if (!OpenDib(*bitmap, dib)) return 0;
  ForEachColour(dib, [](uint8_t& b, uint8_t& g, uint8_t& r) {
    const double R = r, G = g, B = b;
    r = Clamp8(0.393 * R + 0.769 * G + 0.189 * B);
    g = Clamp8(0.349 * R + 0.686 * G + 0.168 * B);
    b = Clamp8(0.272 * R + 0.534 * G + 0.131 * B);
  });
  return 1;
}

int Negative(void** bitmap) {
  Dib dib;
  if (!OpenDib(*bitmap, dib)) return 0;
  ForEachColour(dib, [](uint8_t& b, uint8_t& g, uint8_t& r) {
    b = uint8_t(255 - b);
    g = uint8_t(255 - g);
    r = uint8_t(255 - r);
  });
  return 1;
}

int AutoLevels(void** bitmap) {
  Dib dib;
  if (!OpenDib(*bitmap, dib)) return 0;
  uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  ForEachColour(dib, [&](uint8_t& b, uint8_t& g, uint8_t& r) {
    const uint8_t c[3] = {b, g, r};
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], c[k]);
      hi[k] = std::max(hi[k], c[k]);
    }
  });
  uint8_t map[3][256];
  bool changes = false;
  for (int k = 0; k < 3; ++k) {
    for (int v = 0; v < 256; ++v) {
      map[k][v] = hi[k] > lo[k] ? Clamp8((v - lo[k]) * 255.0 / (hi[k] - lo[k])) : uint8_t(v);
      changes = changes || map[k][v] != v;
    }
  }
  if (!changes) return 0;  // already spans the full range
  ForEachColour(dib, [&](uint8_t& b, uint8_t& g, uint8_t& r) {
    b = map[0][b];
    g = map[1][g];
    r = map[2][r];
  });
  return 1;
}

int Sharpen(void** bitmap) {
  Dib dib;
  if (!OpenDib(*bitmap, dib)) return 0;
  const double strength = ReadAmount(SettingsFileBesideLibrary()) / 10.0;
  const int32_t w = dib.width, h = dib.height;
  const uint32_t stride = LumaroDibRowBytes(w, 24);
  const size_t size = sizeof(LumaroBitmapInfoHeader) + size_t(stride) * size_t(h);
  void* block = std::calloc(1, size);
  if (block == nullptr) return 0;
  auto* header = static_cast<LumaroBitmapInfoHeader*>(block);
  *header = *dib.header;
  header->biSize = sizeof(LumaroBitmapInfoHeader);
  header->biBitCount = 24;
  header->biCompression = 0;
  header->biSizeImage = uint32_t(size_t(stride) * size_t(h));
  header->biClrUsed = 0;
  header->biClrImportant = 0;
  uint8_t* out = static_cast<uint8_t*>(block) + sizeof(LumaroBitmapInfoHeader);
  // The rows keep their stored order, so the new bitmap keeps the sign of
  // biHeight.
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint8_t c[3], n[3], s[3], e[3], wv[3];
      PixelAt(dib, x, y, c);
      PixelAt(dib, x, y > 0 ? y - 1 : y, n);
      PixelAt(dib, x, y + 1 < h ? y + 1 : y, s);
      PixelAt(dib, x > 0 ? x - 1 : x, y, wv);
      PixelAt(dib, x + 1 < w ? x + 1 : x, y, e);
      uint8_t* p = out + size_t(y) * stride + size_t(x) * 3;
      for (int k = 0; k < 3; ++k)
        p[k] = Clamp8(c[k] + strength * (4.0 * c[k] - n[k] - s[k] - e[k] - wv[k]));
    }
  }
  std::free(*bitmap);
  *bitmap = block;
  return 1;
}

}  // namespace

// ---- exports -------------------------------------------------------------------------

LUMARO_FILTER_EXPORT int IsTesselFiltersDLL(void) { return 1; }

LUMARO_FILTER_EXPORT void GetFiltersNames(char** names) { *names = Duplicate(kNames); }

LUMARO_FILTER_EXPORT int Grayscale(void** bitmap, LumaroFilterParams*) { return Grayscale(bitmap); }
LUMARO_FILTER_EXPORT const void* GrayscaleGUID(void*) { return &kGrayscaleGuid; }
LUMARO_FILTER_EXPORT void GrayscaleDesc(char** d) { *d = Duplicate("Grey scale (luminance)"); }

LUMARO_FILTER_EXPORT int Sepia(void** bitmap, LumaroFilterParams*) { return Sepia(bitmap); }
LUMARO_FILTER_EXPORT const void* SepiaGUID(void*) { return &kSepiaGuid; }
LUMARO_FILTER_EXPORT void SepiaDesc(char** d) { *d = Duplicate("Old photo look in brown tones"); }

LUMARO_FILTER_EXPORT int Negative(void** bitmap, LumaroFilterParams*) { return Negative(bitmap); }
LUMARO_FILTER_EXPORT const void* NegativeGUID(void*) { return &kNegativeGuid; }
LUMARO_FILTER_EXPORT void NegativeDesc(char** d) { *d = Duplicate("Inverts every colour"); }

LUMARO_FILTER_EXPORT int Sharpen(void** bitmap, LumaroFilterParams*) { return Sharpen(bitmap); }
LUMARO_FILTER_EXPORT const void* SharpenGUID(void*) { return &kSharpenGuid; }
LUMARO_FILTER_EXPORT void SharpenDesc(char** d) {
  *d = Duplicate("Sharpens edges; the strength is set by double-clicking the filter");
}
LUMARO_FILTER_EXPORT int SharpenSetup(void*, const char* const* settingsPath) {
  if (settingsPath == nullptr || *settingsPath == nullptr) return 1;
  const std::string path = *settingsPath;
  int amount = ReadAmount(path);
  if (!AskAmount(amount, amount)) return 1;
  return WriteAmount(path, amount) ? 0 : 1;
}

LUMARO_FILTER_EXPORT int AutoLevels(void** bitmap, LumaroFilterParams*) { return AutoLevels(bitmap); }
LUMARO_FILTER_EXPORT const void* AutoLevelsGUID(void*) { return &kAutoLevelsGuid; }
LUMARO_FILTER_EXPORT void AutoLevelsDesc(char** d) {
  *d = Duplicate("Stretches each colour channel to the full range");
}
