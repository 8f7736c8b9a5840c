// JBIG (JBIG1, ITU T.82) through jbigkit: bi-level images, 1 = black. A file
// of several bit planes (a grey image split into planes, Gray-coded as
// pbmtojbg makes them) loads as 8-bit grey. The format has no signature: it
// is found by the extension ".jbg". Writing gives one bi-level plane; pixels
// darker than mid grey become black.
extern "C" {  // the header has no C++ guard
#include <jbig.h>
}

#include <algorithm>
#include <cstring>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"

namespace {

using byte_order::GetBe32;

// Frees the decoder state whichever way the function is left.
struct DecoderState {
  jbg_dec_state s;
  DecoderState() { jbg_dec_init(&s); }
  ~DecoderState() { jbg_dec_free(&s); }
};

struct MergeTarget {
  CImage* image;
  uint32_t width;
  uint32_t maxval;
  size_t pos = 0;
};

// Receives the merged grey samples, one byte each, rows from the top.
void TakeMerged(unsigned char* start, size_t len, void* context) {
  auto* t = static_cast<MergeTarget*>(context);
  const size_t total = size_t(t->width) * size_t(t->image->GetHeight());
  for (size_t i = 0; i < len && t->pos < total; ++i, ++t->pos) {
    size_t y = t->pos / t->width, x = t->pos % t->width;
    unsigned v = std::min<unsigned>(start[i], t->maxval);
    t->image->TopRow(int(y))[x] = uint8_t((v * 255 + t->maxval / 2) / t->maxval);
  }
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  if (n < 20) {
    image.SetLastError("file too short for a JBIG header");
    return false;
  }
  const int planes = d[2];
  if (planes < 1 || planes > 8) {
    image.SetLastError("unsupported number of bit planes " + std::to_string(planes));
    return false;
  }
  // The decoder takes writable data, and a length that a NEWLEN marker gives
  // later is put into the header first.
  std::vector<uint8_t> data(d, d + n);
  jbg_newlen(data.data(), data.size());
  const uint32_t width = GetBe32(data.data() + 4), height = GetBe32(data.data() + 8);
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  DecoderState state;
  jbg_dec_maxsize(&state.s, width, height);
  size_t used = 0;
  int rc = jbg_dec_in(&state.s, data.data(), data.size(), &used);
  if (rc == JBG_EAGAIN) {
    image.SetLastError("file truncated");
    return false;
  }
  if (rc != JBG_EOK && rc != JBG_EOK_INTR) {
    image.SetLastError(jbg_strerror(rc));
    return false;
  }
  const unsigned long w = jbg_dec_getwidth(&state.s), h = jbg_dec_getheight(&state.s);
  if (w != width || h == 0 || h > height || !jbg_dec_getimage(&state.s, 0)) {
    image.SetLastError("the decoded image does not match its header");
    return false;
  }
  if (planes == 1) {
    if (!image.Create(int(w), int(h), 1, image.GetType())) return false;
    image.SetPaletteColor(0, 255, 255, 255);  // a set bit is black
    image.SetPaletteColor(1, 0, 0, 0);
    const uint8_t* bits = jbg_dec_getimage(&state.s, 0);
    const size_t rowBytes = (w + 7) / 8;
    for (unsigned long y = 0; y < h; ++y) {
      uint8_t* dst = image.TopRow(int(y));
      std::memcpy(dst, bits + y * rowBytes, rowBytes);
      if (w % 8) dst[rowBytes - 1] &= uint8_t(0xFF << (8 - w % 8));
    }
  } else {
    if (!image.Create(int(w), int(h), 8, image.GetType())) return false;
    MergeTarget target{&image, uint32_t(w), (1u << planes) - 1};
    jbg_dec_merge_planes(&state.s, 1, TakeMerged, &target);
  }
  return true;
}

void Append(unsigned char* start, size_t len, void* context) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), start, start + len);
}

bool Encode(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  const size_t rowBytes = size_t(w + 7) / 8;
  std::vector<uint8_t> plane(rowBytes * size_t(h), 0);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = plane.data() + size_t(y) * rowBytes;
    for (int x = 0; x < w; ++x) {
      RGBQuad c = image.GetPixelColor(x, h - 1 - y, false);
      if (c.red * 299 + c.green * 587 + c.blue * 114 < 128000) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
  }
  unsigned char* planes[1] = {plane.data()};
  jbg_enc_state s;
  jbg_enc_init(&s, unsigned(w), unsigned(h), 1, planes, Append, &out);
  jbg_enc_out(&s);
  jbg_enc_free(&s);
  return true;
}

}  // namespace

// No signature: JBIG files are found by their extension.
extern const CodecInfo kCodecJbg = {FORMAT_JBG, "JBIG", "jbg", nullptr, Decode, Encode};
