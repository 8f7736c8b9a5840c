// JPEG XL through libjxl: the first frame (animations are composed by the
// library), alpha, the colour profile, and the "Exif" and "xml " boxes.
//
// Codec options (GetCodecOption(FORMAT_JXL)): bits 0-7 quality 1..100,
// bits 8-11 effort 1..9, bit 12 lossless; 0 means quality 90, effort 7,
// lossy. Quality becomes a Butteraugli distance as cjxl maps it:
// quality >= 30 gives 0.1 + (100 - quality) * 0.09 (90 -> 1.0, 75 -> 2.35),
// lower qualities 6.4 + 2.5^((30 - quality) / 5) / 6.25, at most 25.
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"
#include "imaging/codecs/pixel_rows.h"
#include "imaging/codecs/quality_option.h"

namespace {


bool JxlSniff(const uint8_t* data, size_t size) {
  const JxlSignature s = JxlSignatureCheck(data, std::min<size_t>(size, 12));
  return s == JXL_SIG_CODESTREAM || s == JXL_SIG_CONTAINER;
}

// The library's objects, freed on every exit.
struct Decoder {
  JxlDecoder* d = JxlDecoderCreate(nullptr);
  ~Decoder() { JxlDecoderDestroy(d); }
};
struct Encoder {
  JxlEncoder* e = JxlEncoderCreate(nullptr);
  ~Encoder() { JxlEncoderDestroy(e); }
};
struct Runner {
  void* r = JxlThreadParallelRunnerCreate(nullptr, 2);
  ~Runner() { JxlThreadParallelRunnerDestroy(r); }
};

// True when the pixels come out as plain sRGB: no profile needs to be kept.
bool IsPlainSrgb(const JxlColorEncoding& c) {
  return (c.color_space == JXL_COLOR_SPACE_RGB || c.color_space == JXL_COLOR_SPACE_GRAY) &&
         c.white_point == JXL_WHITE_POINT_D65 &&
         (c.color_space == JXL_COLOR_SPACE_GRAY || c.primaries == JXL_PRIMARIES_SRGB) &&
         c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// A metadata box being collected.
struct Box {
  std::vector<uint8_t>* target = nullptr;
  std::vector<uint8_t> buffer;
  size_t filled = 0;
};

// Takes back the box buffer and keeps what the library wrote into it.
void FinishBox(JxlDecoder* dec, Box& box) {
  if (!box.target) return;
  const size_t left = JxlDecoderReleaseBoxBuffer(dec);
  box.buffer.resize(box.buffer.size() - left);
  *box.target = std::move(box.buffer);
  box = Box();
}

bool JxlDecode(CImage& image, const uint8_t* data, size_t size) {
  if (!JxlSniff(data, size)) {
    image.SetLastError("not a JPEG XL file");
    return false;
  }
  Decoder dec;
  if (!dec.d) {
    image.SetLastError("out of memory");
    return false;
  }
  if (JxlDecoderSubscribeEvents(dec.d, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                           JXL_DEC_FULL_IMAGE | JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
      JxlDecoderSetDecompressBoxes(dec.d, JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(dec.d, data, size) != JXL_DEC_SUCCESS) {
    image.SetLastError("JPEG XL: cannot start the decoder");
    return false;
  }
  JxlDecoderCloseInput(dec.d);

  JxlBasicInfo info;
  JxlPixelFormat format = {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> icc, exif, xmp;
  Box box;
  bool haveInfo = false, havePixels = false;
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(dec.d);
    if (status == JXL_DEC_ERROR) {
      image.SetLastError("JPEG XL: damaged file");
      return false;
    }
    if (status == JXL_DEC_NEED_MORE_INPUT) {
      // All of the file was given: what is missing was cut off. A file
      // whose picture is complete but whose trailing boxes are cut still
      // gives its picture.
      if (havePixels) break;
      image.SetLastError("JPEG XL: truncated file");
      return false;
    }
    if (status == JXL_DEC_SUCCESS) break;
    if (status == JXL_DEC_BASIC_INFO) {
      if (JxlDecoderGetBasicInfo(dec.d, &info) != JXL_DEC_SUCCESS) {
        image.SetLastError("JPEG XL: damaged header");
        return false;
      }
      if (!image.CheckDimensions(info.xsize, info.ysize, "JPEG XL")) return false;
      format.num_channels = (info.num_color_channels == 1 ? 1 : 3) + (info.alpha_bits ? 1 : 0);
      haveInfo = true;
    } else if (status == JXL_DEC_COLOR_ENCODING) {
      // Lossy files are decoded into a colour space the library picks:
      // the file's own when it can describe it, else linear sRGB, which 8
      // bits would band. Ask for the file's own, or for sRGB.
      JxlColorEncoding wanted;
      if (JxlDecoderGetColorAsEncodedProfile(dec.d, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                             &wanted) != JXL_DEC_SUCCESS)
        JxlColorEncodingSetToSRGB(&wanted, info.num_color_channels == 1 ? JXL_TRUE : JXL_FALSE);
      JxlDecoderSetPreferredColorProfile(dec.d, &wanted);  // refused for lossless files
      JxlColorEncoding encoding;
      const bool known = JxlDecoderGetColorAsEncodedProfile(dec.d, nullptr,
                                                            JXL_COLOR_PROFILE_TARGET_DATA,
                                                            &encoding) == JXL_DEC_SUCCESS;
      size_t iccSize = 0;
      if (!(known && IsPlainSrgb(encoding)) &&
          JxlDecoderGetICCProfileSize(dec.d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &iccSize) ==
              JXL_DEC_SUCCESS &&
          iccSize > 0) {
        icc.resize(iccSize);
        if (JxlDecoderGetColorAsICCProfile(dec.d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           icc.data(), icc.size()) != JXL_DEC_SUCCESS)
          icc.clear();
      }
    } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
      // Only the first frame of an animation is used; the later ones are
      // not decoded (metadata boxes behind them are then not seen).
      if (havePixels) break;
      size_t bufferSize = 0;
      if (!haveInfo ||
          JxlDecoderImageOutBufferSize(dec.d, &format, &bufferSize) != JXL_DEC_SUCCESS ||
          bufferSize != size_t(info.xsize) * info.ysize * format.num_channels) {
        image.SetLastError("JPEG XL: unexpected picture layout");
        return false;
      }
      pixels.resize(bufferSize);
      if (JxlDecoderSetImageOutBuffer(dec.d, &format, pixels.data(), pixels.size()) !=
          JXL_DEC_SUCCESS) {
        image.SetLastError("JPEG XL: cannot set the output buffer");
        return false;
      }
    } else if (status == JXL_DEC_FULL_IMAGE) {
      havePixels = true;
    } else if (status == JXL_DEC_BOX) {
      FinishBox(dec.d, box);
      JxlBoxType type;
      if (JxlDecoderGetBoxType(dec.d, type, JXL_TRUE) != JXL_DEC_SUCCESS) continue;
      std::vector<uint8_t>* target = nullptr;
      if (std::memcmp(type, "Exif", 4) == 0 && exif.empty()) target = &exif;
      if (std::memcmp(type, "xml ", 4) == 0 && xmp.empty()) target = &xmp;
      if (!target) continue;
      box.target = target;
      box.buffer.resize(4096);
      JxlDecoderSetBoxBuffer(dec.d, box.buffer.data(), box.buffer.size());
    } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
      const size_t left = JxlDecoderReleaseBoxBuffer(dec.d);
      box.filled = box.buffer.size() - left;
      if (box.buffer.size() > (size_t(64) << 20)) {
        image.SetLastError("JPEG XL: metadata box too large");
        return false;
      }
      box.buffer.resize(box.buffer.size() * 2);
      JxlDecoderSetBoxBuffer(dec.d, box.buffer.data() + box.filled,
                             box.buffer.size() - box.filled);
    }
  }
  FinishBox(dec.d, box);
  if (!havePixels) {
    image.SetLastError("JPEG XL: the file holds no picture");
    return false;
  }

  const int w = int(info.xsize), h = int(info.ysize);
  if (!image.Create(w, h, 24, FORMAT_JXL)) return false;
  const int channels = int(format.num_channels);
  const bool grey = channels <= 2;
  const bool alpha = channels == 2 || channels == 4;
  bool translucent = false;
  if (alpha)
    for (size_t i = size_t(channels - 1); i < pixels.size() && !translucent; i += size_t(channels))
      translucent = pixels[i] != 255;
  if (translucent) image.AlphaCreate();
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = pixels.data() + size_t(y) * size_t(w) * size_t(channels);
    uint8_t* dst = image.TopRow(y);
    uint8_t* a = translucent ? image.AlphaGetPointer(0, h - 1 - y) : nullptr;
    for (int x = 0; x < w; ++x, src += channels, dst += 3) {
      dst[0] = grey ? src[0] : src[2];
      dst[1] = grey ? src[0] : src[1];
      dst[2] = src[0];
      if (a) a[x] = src[channels - 1];
    }
  }
  image.SetIccProfile(std::move(icc));
  // The Exif box starts with the offset of the TIFF header within it.
  if (exif.size() >= 4) {
    const uint32_t offset = byte_order::GetBe32(exif.data());
    if (offset <= exif.size() - 4)
      exif.erase(exif.begin(), exif.begin() + 4 + offset);
    else
      exif.clear();
  } else {
    exif.clear();
  }
  image.SetExifBlock(std::move(exif));
  image.SetXmpPacket(std::move(xmp));
  // A lossless source is written lossless again, with the default effort.
  image.SetCodecOption(info.uses_original_profile ? PackQualityOption(90, 7, 1, 9, true) : 0,
                       FORMAT_JXL);
  image.SetType(FORMAT_JXL);
  image.SetNumFrames(1);
  return true;
}

// ---- writing --------------------------------------------------------------------

float DistanceForQuality(int quality) {
  if (quality >= 30) return 0.1f + float(100 - quality) * 0.09f;
  return std::min(25.0f, 6.4f + float(std::pow(2.5, (30 - quality) / 5.0) / 6.25));
}

bool Fail(const CImage& image, const char* what) {
  image.SetLastError(std::string("JPEG XL: ") + what);
  return false;
}

bool JxlEncode(const CImage& image, std::vector<uint8_t>& out) {
  const uint32_t option = image.GetCodecOption(FORMAT_JXL);
  const QualityOption unpacked = UnpackQualityOption(option);
  int quality = unpacked.quality;
  int effort = unpacked.effort;
  const bool lossless = unpacked.flag;
  if (option == 0) {
    quality = 90;
    effort = 7;
  }
  quality = std::clamp(quality, 1, 100);
  effort = std::clamp(effort, 1, 9);

  const int w = image.GetWidth(), h = image.GetHeight();
  const bool alpha = image.IsTransparent() || image.AlphaPaletteIsEnabled();
  const int channels = alpha ? 4 : 3;
  std::vector<uint8_t> pixels(size_t(w) * size_t(h) * size_t(channels));
  for (int yTop = 0; yTop < h; ++yTop)
    InterleavedRow(image, yTop, true, alpha,
                   pixels.data() + size_t(yTop) * size_t(w) * size_t(channels));

  Encoder enc;
  Runner runner;
  if (!enc.e || !runner.r) return Fail(image, "out of memory");
  if (JxlEncoderSetParallelRunner(enc.e, JxlThreadParallelRunner, runner.r) != JXL_ENC_SUCCESS)
    return Fail(image, "cannot start the encoder");
  const std::vector<uint8_t>& icc = image.GetIccProfile();
  const std::vector<uint8_t>& exif = image.GetExifBlock();
  const std::vector<uint8_t>& xmp = image.GetXmpPacket();
  const bool boxes = !exif.empty() || !xmp.empty();
  if (boxes && (JxlEncoderUseContainer(enc.e, JXL_TRUE) != JXL_ENC_SUCCESS ||
                JxlEncoderUseBoxes(enc.e) != JXL_ENC_SUCCESS))
    return Fail(image, "cannot add metadata boxes");

  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = uint32_t(w);
  info.ysize = uint32_t(h);
  info.bits_per_sample = 8;
  info.num_color_channels = 3;
  info.num_extra_channels = alpha ? 1 : 0;
  info.alpha_bits = alpha ? 8 : 0;
  // Lossless keeps the samples in their own colour space; lossy files are
  // coded in the library's perceptual space.
  info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
  if (JxlEncoderSetBasicInfo(enc.e, &info) != JXL_ENC_SUCCESS)
    return Fail(image, "picture size or layout not accepted");
  bool colourSet = false;
  if (!icc.empty())
    colourSet = JxlEncoderSetICCProfile(enc.e, icc.data(), icc.size()) == JXL_ENC_SUCCESS;
  if (!colourSet) {
    // No profile, or one the library cannot use: the pixels are sRGB.
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    if (JxlEncoderSetColorEncoding(enc.e, &srgb) != JXL_ENC_SUCCESS)
      return Fail(image, "cannot set the colour space");
  }

  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc.e, nullptr);
  if (!settings) return Fail(image, "out of memory");
  JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, effort);
  if (lossless) {
    if (JxlEncoderSetFrameLossless(settings, JXL_TRUE) != JXL_ENC_SUCCESS)
      return Fail(image, "cannot set lossless mode");
  } else if (JxlEncoderSetFrameDistance(settings, DistanceForQuality(quality)) !=
             JXL_ENC_SUCCESS) {
    return Fail(image, "cannot set the quality");
  }
  if (boxes) {
    if (!exif.empty()) {
      // Four bytes of offset to the TIFF header, which follows at once.
      std::vector<uint8_t> box(4, 0);
      box.insert(box.end(), exif.begin(), exif.end());
      if (JxlEncoderAddBox(enc.e, "Exif", box.data(), box.size(), JXL_FALSE) != JXL_ENC_SUCCESS)
        return Fail(image, "cannot add the EXIF box");
    }
    if (!xmp.empty() &&
        JxlEncoderAddBox(enc.e, "xml ", xmp.data(), xmp.size(), JXL_FALSE) != JXL_ENC_SUCCESS)
      return Fail(image, "cannot add the XMP box");
    JxlEncoderCloseBoxes(enc.e);
  }
  const JxlPixelFormat format = {uint32_t(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  if (JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()) !=
      JXL_ENC_SUCCESS)
    return Fail(image, "cannot encode the picture");
  JxlEncoderCloseInput(enc.e);

  const size_t start = out.size();
  out.resize(start + 64 * 1024);
  uint8_t* next = out.data() + start;
  size_t avail = out.size() - start;
  for (;;) {
    const JxlEncoderStatus status = JxlEncoderProcessOutput(enc.e, &next, &avail);
    if (status == JXL_ENC_SUCCESS) break;
    if (status != JXL_ENC_NEED_MORE_OUTPUT) {
      out.resize(start);
      return Fail(image, "cannot encode the picture");
    }
    const size_t used = size_t(next - out.data());
    out.resize(out.size() * 2);
    next = out.data() + used;
    avail = out.size() - used;
  }
  out.resize(size_t(next - out.data()));
  return true;
}

}  // namespace

extern const CodecInfo kCodecJxl = {FORMAT_JXL, "JPEG XL", "jxl", JxlSniff, JxlDecode, JxlEncode};
