// WebP through libwebp: lossy, lossless and alpha; an animated file gives the
// frame that image.GetFrame() names, composed on its canvas, and its frame
// count. The ICC profile, EXIF and XMP chunks are read into the image and
// written from it.
//
// Codec options (GetCodecOption(FORMAT_WEBP)): bits 0-7 quality 1..100,
// bits 8-11 method 0..6, bit 12 lossless; 0 means quality 80, method 4,
// lossy. The decoder sets bit 12 for a lossless source so that a file kept
// in its format stays lossless.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/codecs/codec.h"
#include "imaging/codecs/pixel_rows.h"
#include "imaging/codecs/quality_option.h"

namespace {

bool WebpSniff(const uint8_t* data, size_t size) {
  return size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

// Owners of the library's objects, so that every exit frees them.
struct Demux {
  WebPDemuxer* d = nullptr;
  ~Demux() { WebPDemuxDelete(d); }
};
struct AnimDecoder {
  WebPAnimDecoder* d = nullptr;
  ~AnimDecoder() { WebPAnimDecoderDelete(d); }
};

std::vector<uint8_t> Chunk(WebPDemuxer* demux, const char* fourcc) {
  WebPChunkIterator it;
  std::vector<uint8_t> out;
  if (WebPDemuxGetChunk(demux, fourcc, 1, &it)) {
    out.assign(it.chunk.bytes, it.chunk.bytes + it.chunk.size);
    WebPDemuxReleaseChunkIterator(&it);
  }
  return out;
}

// Copies top-down BGRA pixels into the image, with an alpha plane only when
// some pixel is not opaque.
void StoreBgra(CImage& image, const uint8_t* bgra, int width, int height, bool alpha) {
  bool translucent = false;
  if (alpha) {
    const size_t n = size_t(width) * size_t(height);
    for (size_t i = 0; i < n && !translucent; ++i) translucent = bgra[i * 4 + 3] != 255;
  }
  if (translucent) image.AlphaCreate();
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = bgra + size_t(y) * size_t(width) * 4;
    uint8_t* dst = image.TopRow(y);
    uint8_t* a = translucent ? image.AlphaGetPointer(0, height - 1 - y) : nullptr;
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      if (a) a[x] = src[3];
    }
  }
}

bool WebpDecode(CImage& image, const uint8_t* data, size_t size) {
  if (!WebpSniff(data, size)) {
    image.SetLastError("not a WebP file");
    return false;
  }
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) {
    image.SetLastError("WebP: damaged header");
    return false;
  }
  WebPData webp = {data, size};
  Demux demux;
  demux.d = WebPDemux(&webp);
  if (!demux.d) {
    image.SetLastError("WebP: damaged or truncated file");
    return false;
  }
  const int canvasWidth = int(WebPDemuxGetI(demux.d, WEBP_FF_CANVAS_WIDTH));
  const int canvasHeight = int(WebPDemuxGetI(demux.d, WEBP_FF_CANVAS_HEIGHT));
  const int frames = int(WebPDemuxGetI(demux.d, WEBP_FF_FRAME_COUNT));
  if (!image.CheckDimensions(canvasWidth, canvasHeight, "WebP")) return false;
  const int frame = image.GetFrame();
  if (frame < 0 || frame >= frames) {
    image.SetLastError("WebP: no frame " + std::to_string(frame));
    return false;
  }
  if (!image.Create(canvasWidth, canvasHeight, 24, FORMAT_WEBP)) return false;

  if (features.has_animation) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) {
      image.SetLastError("WebP: library version mismatch");
      return false;
    }
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    AnimDecoder anim;
    anim.d = WebPAnimDecoderNew(&webp, &options);
    if (!anim.d) {
      image.SetLastError("WebP: cannot read the animation");
      return false;
    }
    // Frames are composed one on the other: frame n needs the n before it.
    uint8_t* pixels = nullptr;
    int timestamp = 0;
    for (int i = 0; i <= frame; ++i) {
      if (!WebPAnimDecoderGetNext(anim.d, &pixels, &timestamp)) {
        image.SetLastError("WebP: damaged frame " + std::to_string(i));
        return false;
      }
    }
    StoreBgra(image, pixels, canvasWidth, canvasHeight, true);
  } else {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
      image.SetLastError("WebP: library version mismatch");
      return false;
    }
    const bool alpha = features.has_alpha != 0;
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    const int channels = alpha ? 4 : 3;
    std::vector<uint8_t> buffer(size_t(canvasWidth) * size_t(canvasHeight) * size_t(channels));
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = buffer.data();
    config.output.u.RGBA.stride = canvasWidth * channels;
    config.output.u.RGBA.size = buffer.size();
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
      image.SetLastError(status == VP8_STATUS_NOT_ENOUGH_DATA ? "WebP: truncated file"
                                                              : "WebP: damaged image data");
      return false;
    }
    if (alpha) {
      StoreBgra(image, buffer.data(), canvasWidth, canvasHeight, true);
    } else {
      const size_t row = size_t(canvasWidth) * 3;
      for (int y = 0; y < canvasHeight; ++y)
        std::memcpy(image.TopRow(y), buffer.data() + size_t(y) * row, row);
    }
  }

  image.SetIccProfile(Chunk(demux.d, "ICCP"));
  std::vector<uint8_t> exif = Chunk(demux.d, "EXIF");
  // Some writers put the JPEG segment's "Exif\0\0" prefix into the chunk.
  if (exif.size() >= 6 && std::memcmp(exif.data(), "Exif\0\0", 6) == 0)
    exif.erase(exif.begin(), exif.begin() + 6);
  image.SetExifBlock(std::move(exif));
  image.SetXmpPacket(Chunk(demux.d, "XMP "));
  // A lossless source is written lossless again, with the default effort.
  // An animation tells it per frame.
  bool lossless = features.format == 2;
  WebPIterator it;
  if (features.has_animation && WebPDemuxGetFrame(demux.d, frame + 1, &it)) {
    WebPBitstreamFeatures frameFeatures;
    lossless = WebPGetFeatures(it.fragment.bytes, it.fragment.size, &frameFeatures) ==
                   VP8_STATUS_OK &&
               frameFeatures.format == 2;
    WebPDemuxReleaseIterator(&it);
  }
  image.SetCodecOption(lossless ? PackQualityOption(80, 4, 0, 6, true) : 0, FORMAT_WEBP);
  image.SetType(FORMAT_WEBP);
  image.SetNumFrames(frames);
  return true;
}

// ---- writing --------------------------------------------------------------------

struct Picture {
  WebPPicture p;
  bool ok = false;
  Picture() { ok = WebPPictureInit(&p) != 0; }
  ~Picture() { WebPPictureFree(&p); }
};

struct Writer {
  WebPMemoryWriter w;
  Writer() { WebPMemoryWriterInit(&w); }
  ~Writer() { WebPMemoryWriterClear(&w); }
};

struct Mux {
  WebPMux* m = nullptr;
  ~Mux() { WebPMuxDelete(m); }
};

const char* EncodeError(WebPEncodingError code) {
  switch (code) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
      return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
      return "WebP: the picture is larger than 16383x16383";
    case VP8_ENC_ERROR_FILE_TOO_BIG:
      return "WebP: the file would be larger than 4 GB";
    default:
      return "WebP: cannot encode the picture";
  }
}

// Puts the image's pixels into the picture: BGR rows straight from the
// bitmap, or BGRA when the image has transparency or a palette.
bool ImportPixels(const CImage& image, WebPPicture& picture) {
  const int w = image.GetWidth(), h = image.GetHeight();
  picture.width = w;
  picture.height = h;
  if (image.GetBpp() == 24 && !image.IsTransparent()) {
    // Rows are stored bottom-up: the top row with a negative stride.
    return WebPPictureImportBGR(&picture, image.TopRow(0), -int(image.GetEffWidth())) != 0;
  }
  std::vector<uint8_t> bgra(size_t(w) * size_t(h) * 4);
  for (int yTop = 0; yTop < h; ++yTop)
    InterleavedRow(image, yTop, false, true, bgra.data() + size_t(yTop) * size_t(w) * 4);
  return WebPPictureImportBGRA(&picture, bgra.data(), w * 4) != 0;
}

bool WebpEncode(const CImage& image, std::vector<uint8_t>& out) {
  const uint32_t option = image.GetCodecOption(FORMAT_WEBP);
  const QualityOption unpacked = UnpackQualityOption(option);
  int quality = unpacked.quality;
  int method = unpacked.effort;
  const bool lossless = unpacked.flag;
  if (option == 0) {
    quality = 80;
    method = 4;
  }
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  if (method > 6) method = 6;

  WebPConfig config;
  if (!WebPConfigInit(&config)) {
    image.SetLastError("WebP: library version mismatch");
    return false;
  }
  config.quality = float(quality);
  config.method = method;
  config.lossless = lossless ? 1 : 0;
  // Pixels under fully transparent alpha keep their colour in lossless files.
  config.exact = lossless ? 1 : 0;
  config.thread_level = 1;
  if (!WebPValidateConfig(&config)) {
    image.SetLastError("WebP: invalid settings");
    return false;
  }
  Picture picture;
  if (!picture.ok) {
    image.SetLastError("WebP: library version mismatch");
    return false;
  }
  picture.p.use_argb = lossless ? 1 : 0;
  if (image.GetWidth() > WEBP_MAX_DIMENSION || image.GetHeight() > WEBP_MAX_DIMENSION) {
    image.SetLastError(EncodeError(VP8_ENC_ERROR_BAD_DIMENSION));
    return false;
  }
  if (!ImportPixels(image, picture.p)) {
    image.SetLastError("out of memory");
    return false;
  }
  Writer writer;
  picture.p.writer = WebPMemoryWrite;
  picture.p.custom_ptr = &writer.w;
  if (!WebPEncode(&config, &picture.p)) {
    image.SetLastError(EncodeError(picture.p.error_code));
    return false;
  }

  const std::vector<uint8_t>& icc = image.GetIccProfile();
  const std::vector<uint8_t>& exif = image.GetExifBlock();
  const std::vector<uint8_t>& xmp = image.GetXmpPacket();
  if (icc.empty() && exif.empty() && xmp.empty()) {
    out.insert(out.end(), writer.w.mem, writer.w.mem + writer.w.size);
    return true;
  }
  // The metadata chunks go in through the muxer, which adds the extended
  // header they need.
  Mux mux;
  WebPData bitstream = {writer.w.mem, writer.w.size};
  mux.m = WebPMuxCreate(&bitstream, 0);
  if (!mux.m) {
    image.SetLastError("out of memory");
    return false;
  }
  const struct {
    const char* fourcc;
    const std::vector<uint8_t>* data;
  } chunks[] = {{"ICCP", &icc}, {"EXIF", &exif}, {"XMP ", &xmp}};
  for (const auto& c : chunks) {
    if (c.data->empty()) continue;
    WebPData chunk = {c.data->data(), c.data->size()};
    if (WebPMuxSetChunk(mux.m, c.fourcc, &chunk, 1) != WEBP_MUX_OK) {
      image.SetLastError(std::string("WebP: cannot add the ") + c.fourcc + " chunk");
      return false;
    }
  }
  WebPData assembled;
  WebPDataInit(&assembled);
  if (WebPMuxAssemble(mux.m, &assembled) != WEBP_MUX_OK) {
    WebPDataClear(&assembled);
    image.SetLastError("WebP: cannot assemble the file");
    return false;
  }
  out.insert(out.end(), assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  return true;
}

}  // namespace

extern const CodecInfo kCodecWebp = {FORMAT_WEBP, "WebP", "webp", WebpSniff, WebpDecode,
                                     WebpEncode};
