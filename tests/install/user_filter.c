/* A filter plug-in as a user builds one against the installed Lumaro:
 * "UserInvert" inverts every colour (the palette of 1/4/8-bit images). */
#include <lumaro_filter.h>
#include <stdlib.h>
#include <string.h>

static const LumaroGuid kGuid = {0x0C0FFEE0, 0x1234, 0x4321, {0xAB, 0xCD, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}};

LUMARO_FILTER_EXPORT int IsTesselFiltersDLL(void) { return 1; }

LUMARO_FILTER_EXPORT void GetFiltersNames(char** names) { *names = strdup("UserInvert"); }

LUMARO_FILTER_EXPORT const void* UserInvertGUID(void* scratch) {
  (void)scratch;
  return &kGuid;
}

LUMARO_FILTER_EXPORT int UserInvert(void** bitmap, LumaroFilterParams* params) {
  (void)params;
  LumaroBitmapInfoHeader* h = (LumaroBitmapInfoHeader*)*bitmap;
  unsigned char* p = (unsigned char*)*bitmap + h->biSize;
  size_t n;
  if (h->biBitCount <= 8) {
    n = (h->biClrUsed ? h->biClrUsed : (1u << h->biBitCount)) * 4u;
  } else {
    int32_t height = h->biHeight < 0 ? -h->biHeight : h->biHeight;
    n = (size_t)LumaroDibRowBytes(h->biWidth, h->biBitCount) * (size_t)height;
  }
  for (size_t i = 0; i < n; ++i)
    if (h->biBitCount > 8 || i % 4 != 3) p[i] = (unsigned char)(255 - p[i]);
  return 1;
}
