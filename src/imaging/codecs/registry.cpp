#include "imaging/codecs/codec.h"

#include <algorithm>
#include <cstring>

// Weak so that the table links whatever codecs are built in.
#define LUMARO_CODEC(sym) extern const CodecInfo sym __attribute__((weak));
LUMARO_CODEC(kCodecJpeg)
LUMARO_CODEC(kCodecPng)
LUMARO_CODEC(kCodecGif)
LUMARO_CODEC(kCodecTiff)
LUMARO_CODEC(kCodecBmp)
LUMARO_CODEC(kCodecIco)
LUMARO_CODEC(kCodecJp2)
LUMARO_CODEC(kCodecJpc)
LUMARO_CODEC(kCodecPcx)
LUMARO_CODEC(kCodecRas)
LUMARO_CODEC(kCodecPnm)
LUMARO_CODEC(kCodecWmf)
LUMARO_CODEC(kCodecPgx)
LUMARO_CODEC(kCodecTga)
LUMARO_CODEC(kCodecWbmp)
LUMARO_CODEC(kCodecJbg)
LUMARO_CODEC(kCodecWebp)
LUMARO_CODEC(kCodecHeif)
LUMARO_CODEC(kCodecAvif)
LUMARO_CODEC(kCodecJxl)
LUMARO_CODEC(kCodecRaw)
#undef LUMARO_CODEC

const std::vector<const CodecInfo*>& AllCodecs() {
  // Formats with a signature first, in the order of how common they are;
  // TGA, WBMP and JBIG have none and are found by extension. Camera raw
  // comes before TIFF: most raw files are TIFF files, and the raw sniffer
  // takes only those.
  static const std::vector<const CodecInfo*> codecs = [] {
    const CodecInfo* all[] = {&kCodecJpeg, &kCodecPng,  &kCodecGif,  &kCodecRaw,
                              &kCodecTiff, &kCodecBmp,  &kCodecIco,  &kCodecJp2,
                              &kCodecJpc,  &kCodecPcx,  &kCodecRas,  &kCodecPnm,
                              &kCodecWmf,  &kCodecWebp, &kCodecHeif, &kCodecAvif,
                              &kCodecJxl,  &kCodecPgx,  &kCodecTga,  &kCodecWbmp, &kCodecJbg};
    std::vector<const CodecInfo*> v;
    for (const CodecInfo* c : all)
      if (c) v.push_back(c);
    return v;
  }();
  return codecs;
}

const CodecInfo* FindCodec(int format) {
  for (const CodecInfo* c : AllCodecs())
    if (c->format == format) return c;
  return nullptr;
}

const CodecInfo* FindCodecByExtension(const std::string& ext) {
  for (const CodecInfo* c : AllCodecs()) {
    const char* p = c->extensions;
    while (p && *p) {
      const char* end = std::strchr(p, ';');
      size_t len = end ? size_t(end - p) : std::strlen(p);
      if (len == ext.size() && std::equal(ext.begin(), ext.end(), p)) return c;
      if (!end) break;
      p = end + 1;
    }
  }
  return nullptr;
}

const CodecInfo* SniffCodec(const uint8_t* data, size_t size) {
  for (const CodecInfo* c : AllCodecs())
    if (c->sniff && c->sniff(data, size)) return c;
  return nullptr;
}
