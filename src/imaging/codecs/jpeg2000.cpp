// JPEG 2000 through OpenJPEG: JP2 files and bare code streams (.j2k, .j2c,
// .jpc), any number of components and any precision.
//
// Reading: both codecs accept both kinds and tell them apart by content (a
// ".j2k" file usually holds a bare code stream although the extension maps
// to the JP2 code). One or two components load as 8-bit grey (the second one
// as alpha), three or more as 24 bits (a fourth one, or one the file marks as
// opacity, as alpha; CMYK and sYCC are converted to RGB). Samples of any
// precision are scaled to 8 bits, signed ones shifted to start at 0.
// Components sampled more coarsely than the image are enlarged.
//
// Writing: the JP2 codec writes a JP2 file, the code-stream codec a bare code
// stream. Codec option, the same for both:
//   bits 0-7  compression ratio; 0 or 1 is lossless (reversible wavelet),
//             N above 1 is lossy at about N:1;
//   bit 8     (JP2 codec only) write a bare code stream instead of a JP2 file.
// Reading a file records bit 8 for the JP2 codec when the file is a bare code
// stream, so the keep-format writer, which saves a ".j2k" source with the
// JP2 code, writes a code stream again. Files always load as lossless (ratio
// 0): a re-saved picture never loses more than it already has.
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imaging/codecs/codec.h"

namespace {

constexpr uint32_t kOptionRatioMask = 0xFF;
constexpr uint32_t kOptionCodeStream = 0x100;

const uint8_t kJp2Signature[12] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};

bool IsJp2File(const uint8_t* d, size_t n) { return n >= 12 && std::memcmp(d, kJp2Signature, 12) == 0; }
// A code stream starts with SOC and SIZ.
bool IsCodeStream(const uint8_t* d, size_t n) {
  return n >= 4 && d[0] == 0xFF && d[1] == 0x4F && d[2] == 0xFF && d[3] == 0x51;
}

// Messages of one codec run; handed to OpenJPEG as the callbacks' context.
struct Messages {
  std::string error;
  static void OnError(const char* msg, void* context) {
    auto* self = static_cast<Messages*>(context);
    if (self->error.empty() && msg) {
      self->error = msg;
      while (!self->error.empty() && (self->error.back() == '\n' || self->error.back() == ' '))
        self->error.pop_back();
    }
  }
  static void Ignore(const char*, void*) {}
  void Attach(opj_codec_t* codec) {
    opj_set_error_handler(codec, OnError, this);
    opj_set_warning_handler(codec, Ignore, this);
    opj_set_info_handler(codec, Ignore, this);
  }
};

// ---- memory streams ---------------------------------------------------------

struct ReadBuffer {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

OPJ_SIZE_T ReadFn(void* buffer, OPJ_SIZE_T bytes, void* user) {
  auto* r = static_cast<ReadBuffer*>(user);
  if (r->pos >= r->size) return OPJ_SIZE_T(-1);
  size_t n = std::min<size_t>(bytes, r->size - r->pos);
  std::memcpy(buffer, r->data + r->pos, n);
  r->pos += n;
  return n;
}

OPJ_OFF_T SkipReadFn(OPJ_OFF_T bytes, void* user) {
  auto* r = static_cast<ReadBuffer*>(user);
  if (bytes < 0) {
    size_t back = std::min<size_t>(size_t(-bytes), r->pos);
    r->pos -= back;
    return -OPJ_OFF_T(back);
  }
  size_t n = std::min<size_t>(size_t(bytes), r->size - r->pos);
  r->pos += n;
  return OPJ_OFF_T(n);
}

OPJ_BOOL SeekReadFn(OPJ_OFF_T to, void* user) {
  auto* r = static_cast<ReadBuffer*>(user);
  if (to < 0 || uint64_t(to) > r->size) return OPJ_FALSE;
  r->pos = size_t(to);
  return OPJ_TRUE;
}

struct WriteBuffer {
  std::vector<uint8_t>* out;
  size_t start;  // where this file begins in out
  size_t pos;    // relative to start
};

OPJ_SIZE_T WriteFn(void* buffer, OPJ_SIZE_T bytes, void* user) {
  auto* w = static_cast<WriteBuffer*>(user);
  size_t end = w->start + w->pos + bytes;
  if (end > w->out->size()) w->out->resize(end);
  std::memcpy(w->out->data() + w->start + w->pos, buffer, bytes);
  w->pos += bytes;
  return bytes;
}

OPJ_OFF_T SkipWriteFn(OPJ_OFF_T bytes, void* user) {
  auto* w = static_cast<WriteBuffer*>(user);
  if (bytes < 0 && size_t(-bytes) > w->pos) return -1;
  w->pos = size_t(OPJ_OFF_T(w->pos) + bytes);
  if (w->start + w->pos > w->out->size()) w->out->resize(w->start + w->pos);
  return bytes;
}

OPJ_BOOL SeekWriteFn(OPJ_OFF_T to, void* user) {
  auto* w = static_cast<WriteBuffer*>(user);
  if (to < 0) return OPJ_FALSE;
  w->pos = size_t(to);
  if (w->start + w->pos > w->out->size()) w->out->resize(w->start + w->pos);
  return OPJ_TRUE;
}

// Owns the OpenJPEG objects of one run.
struct Session {
  opj_codec_t* codec = nullptr;
  opj_stream_t* stream = nullptr;
  opj_image_t* image = nullptr;
  ~Session() {
    if (image) opj_image_destroy(image);
    if (stream) opj_stream_destroy(stream);
    if (codec) opj_destroy_codec(codec);
  }
};

// ---- reading ------------------------------------------------------------------

// One component scaled to 8 bits, at image pixel (x, y).
class ComponentReader {
 public:
  ComponentReader(const opj_image_t* img, const opj_image_comp_t& c) : c_(c) {
    dx_ = std::max<uint32_t>(c.dx, 1);
    dy_ = std::max<uint32_t>(c.dy, 1);
    x0_ = img->x0;
    y0_ = img->y0;
    uint32_t prec = std::clamp<uint32_t>(c.prec, 1, 31);
    max_ = (uint64_t(1) << prec) - 1;
    offset_ = c.sgnd ? int64_t(1) << (prec - 1) : 0;
  }
  uint8_t At(uint32_t x, uint32_t y) const {
    // Component sample covering the reference grid point of the pixel; the
    // component's own origin is ceil(image origin / d).
    int64_t cx = int64_t((x0_ + x) / dx_) - int64_t((x0_ + dx_ - 1) / dx_);
    int64_t cy = int64_t((y0_ + y) / dy_) - int64_t((y0_ + dy_ - 1) / dy_);
    cx = std::clamp<int64_t>(cx, 0, int64_t(c_.w) - 1);
    cy = std::clamp<int64_t>(cy, 0, int64_t(c_.h) - 1);
    int64_t v = int64_t(c_.data[size_t(cy) * c_.w + size_t(cx)]) + offset_;
    if (v <= 0) return 0;
    if (uint64_t(v) >= max_) return 255;
    return uint8_t((uint64_t(v) * 255 + max_ / 2) / max_);
  }

 private:
  const opj_image_comp_t& c_;
  uint32_t dx_, dy_, x0_, y0_;
  uint64_t max_;
  int64_t offset_;
};

uint8_t Clamp8(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

bool DecodeJpeg2000(CImage& image, const uint8_t* d, size_t n) {
  const bool jp2 = IsJp2File(d, n);
  if (!jp2 && !IsCodeStream(d, n)) {
    image.SetLastError("neither a JP2 file nor a JPEG 2000 code stream");
    return false;
  }
  Messages messages;
  Session s;
  s.codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
  if (!s.codec) {
    image.SetLastError("cannot create the decoder");
    return false;
  }
  messages.Attach(s.codec);
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  if (!opj_setup_decoder(s.codec, &params)) {
    image.SetLastError("decoder set-up failed: " + messages.error);
    return false;
  }
  ReadBuffer reader{d, n, 0};
  s.stream = opj_stream_create(64 * 1024, OPJ_TRUE);
  if (!s.stream) {
    image.SetLastError("cannot create the stream");
    return false;
  }
  opj_stream_set_user_data(s.stream, &reader, nullptr);
  opj_stream_set_user_data_length(s.stream, n);
  opj_stream_set_read_function(s.stream, ReadFn);
  opj_stream_set_skip_function(s.stream, SkipReadFn);
  opj_stream_set_seek_function(s.stream, SeekReadFn);
  if (!opj_read_header(s.stream, s.codec, &s.image) || !s.image) {
    image.SetLastError("bad header" + (messages.error.empty() ? std::string() : ": " + messages.error));
    return false;
  }
  opj_image_t* img = s.image;
  if (img->numcomps == 0 || img->x1 <= img->x0 || img->y1 <= img->y0) {
    image.SetLastError("the image is empty");
    return false;
  }
  const uint32_t width = img->x1 - img->x0, height = img->y1 - img->y0;
  if (!image.CheckDimensions(width, height, nullptr)) return false;
  // OpenJPEG holds every decoded component as 32-bit samples: only the first
  // four are decoded when there are more (they cannot be shown anyway).
  if (img->numcomps > 4) {
    const OPJ_UINT32 first[4] = {0, 1, 2, 3};
    if (!opj_set_decoded_components(s.codec, 4, first, OPJ_FALSE)) {
      image.SetLastError("cannot restrict the components: " + messages.error);
      return false;
    }
  }
  if (!opj_decode(s.codec, s.stream, img) || !opj_end_decompress(s.codec, s.stream)) {
    image.SetLastError("decoding failed" + (messages.error.empty() ? std::string() : ": " + messages.error));
    return false;
  }
  // The decoded components (a palette box may have changed their number).
  std::vector<const opj_image_comp_t*> comps;
  for (uint32_t i = 0; i < img->numcomps; ++i) {
    const opj_image_comp_t& c = img->comps[i];
    if (!c.data || c.w == 0 || c.h == 0) continue;
    comps.push_back(&c);
  }
  if (comps.empty()) {
    image.SetLastError("no component was decoded");
    return false;
  }
  // Colour components first, the opacity component (if any) apart.
  const opj_image_comp_t* alpha = nullptr;
  std::vector<const opj_image_comp_t*> colour;
  for (const opj_image_comp_t* c : comps) {
    if (c->alpha && !alpha)
      alpha = c;
    else
      colour.push_back(c);
  }
  const bool cmyk = img->color_space == OPJ_CLRSPC_CMYK && colour.size() >= 4;
  if (!alpha && !cmyk && (colour.size() == 2 || colour.size() >= 4)) {
    alpha = colour[colour.size() == 2 ? 1 : 3];
    colour.resize(colour.size() == 2 ? 1 : 3);
  }
  if (colour.empty()) {  // a lone opacity component: show it as grey
    colour.push_back(alpha);
    alpha = nullptr;
  }
  const bool grey = colour.size() < 3;
  if (!image.Create(int(width), int(height), grey ? 8 : 24, image.GetType())) return false;
  if (alpha) image.AlphaCreate();
  std::vector<ComponentReader> readers;
  for (const opj_image_comp_t* c : colour) readers.emplace_back(img, *c);
  const bool ycc = !grey && (img->color_space == OPJ_CLRSPC_SYCC || img->color_space == OPJ_CLRSPC_EYCC);
  ComponentReader alphaReader(img, alpha ? *alpha : *colour[0]);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* dst = image.TopRow(int(y));
    for (uint32_t x = 0; x < width; ++x) {
      if (grey) {
        dst[x] = readers[0].At(x, y);
      } else {
        double r = readers[0].At(x, y), g = readers[1].At(x, y), b = readers[2].At(x, y);
        if (cmyk) {
          double k = 1.0 - readers[3].At(x, y) / 255.0;
          r = (255.0 - r) * k;
          g = (255.0 - g) * k;
          b = (255.0 - b) * k;
        } else if (ycc) {
          double yy = r, cb = g - 128.0, cr = b - 128.0;
          r = yy + 1.402 * cr;
          g = yy - 0.344136 * cb - 0.714136 * cr;
          b = yy + 1.772 * cb;
        }
        dst[x * 3] = Clamp8(b);
        dst[x * 3 + 1] = Clamp8(g);
        dst[x * 3 + 2] = Clamp8(r);
      }
      if (alpha) *image.AlphaGetPointer(int(x), int(height - 1 - y)) = alphaReader.At(x, y);
    }
  }
  if (img->icc_profile_buf && img->icc_profile_len > 0)
    image.SetIccProfile(std::vector<uint8_t>(img->icc_profile_buf, img->icc_profile_buf + img->icc_profile_len));
  image.SetCodecOption(jp2 ? 0 : kOptionCodeStream, FORMAT_JP2);
  image.SetCodecOption(0, FORMAT_JPC);
  return true;
}

// ---- writing ------------------------------------------------------------------

bool EncodeJpeg2000(const CImage& source, std::vector<uint8_t>& out, bool codeStream, uint32_t option) {
  const int w = source.GetWidth(), h = source.GetHeight();
  bool grey = source.GetBpp() <= 8;
  if (grey) {
    const RGBQuad* pal = source.GetPalette();
    for (uint32_t i = 0; pal && i < source.GetNumColors(); ++i)
      if (pal[i].red != pal[i].green || pal[i].green != pal[i].blue) grey = false;
  }
  const bool alpha = source.IsTransparent();
  const uint32_t colourComps = grey ? 1 : 3;
  const uint32_t numComps = colourComps + (alpha ? 1 : 0);
  opj_image_cmptparm_t parms[4];
  std::memset(parms, 0, sizeof parms);
  for (uint32_t i = 0; i < numComps; ++i) {
    parms[i].dx = parms[i].dy = 1;
    parms[i].w = uint32_t(w);
    parms[i].h = uint32_t(h);
    parms[i].prec = 8;
    parms[i].sgnd = 0;
  }
  Session s;
  s.image = opj_image_create(numComps, parms, grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
  if (!s.image) {
    source.SetLastError("out of memory");
    return false;
  }
  opj_image_t* img = s.image;
  img->x0 = img->y0 = 0;
  img->x1 = uint32_t(w);
  img->y1 = uint32_t(h);
  if (alpha) img->comps[colourComps].alpha = 1;
  for (int y = 0; y < h; ++y) {
    int row = h - 1 - y;
    size_t base = size_t(y) * size_t(w);
    for (int x = 0; x < w; ++x) {
      RGBQuad c = source.GetPixelColor(x, row, alpha);
      if (grey) {
        img->comps[0].data[base + x] = c.red;
      } else {
        img->comps[0].data[base + x] = c.red;
        img->comps[1].data[base + x] = c.green;
        img->comps[2].data[base + x] = c.blue;
      }
      if (alpha) img->comps[colourComps].data[base + x] = c.reserved;
    }
  }
  if (!source.GetIccProfile().empty() && !codeStream) {
    const auto& icc = source.GetIccProfile();
    img->icc_profile_buf = static_cast<OPJ_BYTE*>(std::malloc(icc.size()));  // freed by opj_image_destroy
    if (img->icc_profile_buf) {
      std::memcpy(img->icc_profile_buf, icc.data(), icc.size());
      img->icc_profile_len = OPJ_UINT32(icc.size());
    }
  }

  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  const uint32_t ratio = option & kOptionRatioMask;
  params.tcp_numlayers = 1;
  params.cp_disto_alloc = 1;
  params.tcp_rates[0] = ratio > 1 ? float(ratio) : 0.0f;
  params.irreversible = ratio > 1 ? 1 : 0;
  params.tcp_mct = colourComps == 3 ? 1 : 0;
  // Each resolution level halves the image; small images get fewer levels.
  while (params.numresolution > 1 && (1 << (params.numresolution - 1)) > std::min(w, h)) --params.numresolution;

  Messages messages;
  s.codec = opj_create_compress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  if (!s.codec) {
    source.SetLastError("cannot create the encoder");
    return false;
  }
  messages.Attach(s.codec);
  if (!opj_setup_encoder(s.codec, &params, img)) {
    source.SetLastError("encoder set-up failed: " + messages.error);
    return false;
  }
  WriteBuffer writer{&out, out.size(), 0};
  s.stream = opj_stream_create(64 * 1024, OPJ_FALSE);
  if (!s.stream) {
    source.SetLastError("cannot create the stream");
    return false;
  }
  opj_stream_set_user_data(s.stream, &writer, nullptr);
  opj_stream_set_write_function(s.stream, WriteFn);
  opj_stream_set_skip_function(s.stream, SkipWriteFn);
  opj_stream_set_seek_function(s.stream, SeekWriteFn);
  if (!opj_start_compress(s.codec, img, s.stream) || !opj_encode(s.codec, s.stream) ||
      !opj_end_compress(s.codec, s.stream)) {
    source.SetLastError("encoding failed" + (messages.error.empty() ? std::string() : ": " + messages.error));
    out.resize(writer.start);
    return false;
  }
  return true;
}

bool SniffJp2(const uint8_t* d, size_t n) { return IsJp2File(d, n); }
bool SniffJpc(const uint8_t* d, size_t n) { return IsCodeStream(d, n); }

bool EncodeJp2(const CImage& image, std::vector<uint8_t>& out) {
  uint32_t option = image.GetCodecOption(FORMAT_JP2);
  return EncodeJpeg2000(image, out, (option & kOptionCodeStream) != 0, option);
}

bool EncodeJpc(const CImage& image, std::vector<uint8_t>& out) {
  return EncodeJpeg2000(image, out, true, image.GetCodecOption(FORMAT_JPC));
}

}  // namespace

extern const CodecInfo kCodecJp2 = {FORMAT_JP2, "JPEG 2000", "jp2;j2k", SniffJp2, DecodeJpeg2000, EncodeJp2};
extern const CodecInfo kCodecJpc = {FORMAT_JPC, "JPEG 2000 code stream", "jpc;j2c", SniffJpc, DecodeJpeg2000,
                                    EncodeJpc};
