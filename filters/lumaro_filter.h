/*
 * lumaro_filter.h - the interface between Lumaro III and its filter plug-ins.
 *
 * A filter library is a shared object ("*.so") placed in the program's
 * folder (beside the "lumaro" executable of a portable copy, or the
 * installed program's own folder, e.g. /usr/lib/lumaro/; pkg-config
 * --variable=filterdir lumaro-filter), or in the user's own folder
 * $XDG_DATA_HOME/lumaro/filters/ (~/.local/share/lumaro/filters/), which is
 * read after the program's. At start-up Lumaro loads every "*.so" there
 * (dlopen with the full path) and keeps the ones that export
 * LumaroIsFiltersLibrary's symbol, "IsTesselFiltersDLL", returning non-zero.
 * One library may hold several filters.
 *
 * Exports (plain C functions, looked up with dlsym by these names):
 *
 *   int  IsTesselFiltersDLL(void);
 *        Non-zero: this is a filter library. Required.
 *
 *   void GetFiltersNames(char** names);
 *        *names is NULL on entry; store a malloc'ed UTF-8 string with the
 *        names of the library's filters separated by ';' (empty pieces are
 *        skipped, names are not trimmed: "Blur;Sharpen"). Lumaro frees it
 *        with free(). Required for the library to contribute filters.
 *
 * For every filter name N:
 *
 *   int  N(void** bitmap, LumaroFilterParams* params);
 *        The filter itself. Required. *bitmap is a packed bitmap (below) in
 *        one malloc'ed block. The filter either changes the block in place,
 *        or stores another malloc'ed block in *bitmap and frees the old one
 *        with free(). Return non-zero when the image was changed: Lumaro
 *        then takes the block that *bitmap names as the new image. Return 0
 *        to leave the image exactly as it was. Either way Lumaro frees the
 *        block that *bitmap names after the call.
 *
 *   const void* NGUID(void* scratch);
 *        Returns a pointer to the filter's 16-byte GUID (a LumaroGuid); the
 *        filter may fill the 16-byte scratch area and return it. Lumaro
 *        copies the bytes at once. Settings files store a filter's state
 *        under its GUID, so keep it fixed forever. Without this export the
 *        GUID is sixteen zero bytes. Two filters of one library must not
 *        share a GUID: the second one is refused with a message.
 *
 *   void NDesc(char** description);
 *        Optional. *description is NULL on entry; store a malloc'ed UTF-8
 *        description or leave it NULL. Lumaro frees it with free().
 *
 *   int  NSetup(void* window, const char* const* settingsPath);
 *        Optional: the filter's own settings dialog. window is the calling
 *        window (an X11 window id or NULL); *settingsPath is the full UTF-8
 *        path of the filter settings file "Tessel.ini" beside Lumaro's own
 *        settings file "Lumaro.ini", which filters share (use a section of your own, e.g. the
 *        filter's name). Return 0 on success. Lumaro never reads or writes
 *        that file itself.
 *
 * Every call is made on one thread at a time; a filter runs on the
 * conversion's worker thread.
 *
 * An icon may accompany the library: a PNG file with the library's base
 * name ("myfilters.png" beside "myfilters.so"), shown in the filter list.
 */
#ifndef LUMARO_FILTER_H
#define LUMARO_FILTER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Declares an exported function of a filter library. */
#ifdef __cplusplus
#define LUMARO_FILTER_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define LUMARO_FILTER_EXPORT __attribute__((visibility("default")))
#endif

/* A 16-byte identifier in the layout of a GUID record
 * {Data1-Data2-Data3-Data4[0..1]-Data4[2..7]}. */
typedef struct LumaroGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} LumaroGuid;

/* Handed to every filter call; allocated once per conversion job. */
typedef struct LumaroFilterParams {
  uint32_t Size;         /* 12, the size of this block in bytes */
  uint32_t MainWindow;   /* the main window (X11 window id), 0 when none */
  uint32_t OutputFormat; /* 0 JPEG, 1 PNG, 2 TIFF, 3 BMP, 4 GIF, 5 keep the source's */
} LumaroFilterParams;

/*
 * The packed bitmap: one block holding
 *   - a LumaroBitmapInfoHeader (40 bytes);
 *   - for 1, 4 and 8 bits per pixel, a palette of (1 << biBitCount)
 *     LumaroRgbQuad entries (or biClrUsed when it is not 0);
 *   - the rows, bottom row first (biHeight > 0) or top row first
 *     (biHeight < 0), each padded to a multiple of 4 bytes; 24-bit pixels
 *     are blue, green, red.
 * Lumaro hands filters 1, 4, 8 or 24 bits per pixel, bottom-up, BI_RGB.
 * It accepts back 1, 4, 8, 16, 24 or 32 bits, BI_RGB or BI_BITFIELDS, in
 * either row order.
 */
#pragma pack(push, 1)
typedef struct LumaroBitmapInfoHeader {
  uint32_t biSize; /* 40 */
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes; /* 1 */
  uint16_t biBitCount;
  uint32_t biCompression; /* 0 BI_RGB, 3 BI_BITFIELDS */
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
} LumaroBitmapInfoHeader;

typedef struct LumaroRgbQuad {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
} LumaroRgbQuad;
#pragma pack(pop)

/* Bytes per row of a packed bitmap. */
static inline uint32_t LumaroDibRowBytes(int32_t width, uint16_t bitCount) {
  return (uint32_t)((((int64_t)width * bitCount + 31) / 32) * 4);
}

/* Number of palette entries that follow the header. */
static inline uint32_t LumaroDibPaletteEntries(const LumaroBitmapInfoHeader* h) {
  if (h->biBitCount > 8) return 0;
  return h->biClrUsed ? h->biClrUsed : (1u << h->biBitCount);
}

/* The palette of a packed bitmap (NULL for more than 8 bits per pixel). */
static inline LumaroRgbQuad* LumaroDibPalette(void* block) {
  LumaroBitmapInfoHeader* h = (LumaroBitmapInfoHeader*)block;
  if (h->biBitCount > 8) return (LumaroRgbQuad*)0;
  return (LumaroRgbQuad*)((uint8_t*)block + h->biSize);
}

/* The first stored row of a packed bitmap. */
static inline uint8_t* LumaroDibBits(void* block) {
  LumaroBitmapInfoHeader* h = (LumaroBitmapInfoHeader*)block;
  return (uint8_t*)block + h->biSize + LumaroDibPaletteEntries(h) * sizeof(LumaroRgbQuad);
}

/* Signatures of the exports, for hosts and for checking a library. */
typedef int (*LumaroIsFiltersLibraryFn)(void);
typedef void (*LumaroGetFiltersNamesFn)(char** names);
typedef int (*LumaroFilterFn)(void** bitmap, LumaroFilterParams* params);
typedef const void* (*LumaroFilterGuidFn)(void* scratch);
typedef void (*LumaroFilterDescFn)(char** description);
typedef int (*LumaroFilterSetupFn)(void* window, const char* const* settingsPath);

/* Export names. */
#define LUMARO_FILTER_LIBRARY_EXPORT "IsTesselFiltersDLL"
#define LUMARO_FILTER_NAMES_EXPORT "GetFiltersNames"
#define LUMARO_FILTER_GUID_SUFFIX "GUID"
#define LUMARO_FILTER_SETUP_SUFFIX "Setup"
#define LUMARO_FILTER_DESC_SUFFIX "Desc"
/* The filter settings file, in the program folder. */
#define LUMARO_FILTER_SETTINGS_FILE "Tessel.ini"

#ifdef __cplusplus
}
#endif

#endif /* LUMARO_FILTER_H */
