// JPEG codec over libjpeg-turbo.
//
// Reading: baseline, progressive and arithmetic-coded files, any chroma
// subsampling. YCbCr and RGB files are decoded straight into the image's
// 24-bit BGR rows; greyscale files become 8-bit images with a grey palette;
// CMYK and YCCK files are turned into BGR (Adobe files store inverted
// CMYK). The JFIF density gives the resolution, APP2 ICC_PROFILE markers
// the colour profile. A truncated file decodes to what is there (libjpeg
// fills the rest with grey) as picture viewers show it; a file that cannot
// hold the picture its header announces is refused.
//
// Writing: 24-bit images as YCbCr 4:2:0, grey-palette images as greyscale,
// other palette images expanded to BGR row by row. Codec option bits for
// FORMAT_JPG: 0x01 baseline, 0x08 optimised Huffman tables, 0x10
// progressive, 0x40 input smoothing with GetJpegSmoothing().
//
// libjpeg reports errors through error_exit, which longjmps back to the
// function that set up the jump. Those functions keep all their state in a
// job record owned by their caller and create no C++ objects with
// destructors, so a jump never skips a destructor; temporary rows come from
// libjpeg's own pools and go with jpeg_destroy_*.
#include "imaging/codecs/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "imaging/codecs/codec.h"

namespace {

// Option bits of FORMAT_JPG.
constexpr uint32_t kJpegBaseline = 0x01;
constexpr uint32_t kJpegOptimize = 0x08;
constexpr uint32_t kJpegProgressive = 0x10;
constexpr uint32_t kJpegSmoothing = 0x40;

// A progressive file with more scans than this is refused: each scan makes
// the decoder walk the whole coefficient buffer, so a small hostile file
// could keep it busy for a very long time.
constexpr int kMaxScans = 1000;

// Error manager: error_exit formats the message into the record and jumps
// back; warnings are counted and the first one kept, never printed.
struct JpegErrorMgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  char firstWarning[JMSG_LENGTH_MAX];
  int warnings;
  bool sawEof;  // the data ended early (libjpeg then inserts an EOI)
};

void JpegErrorExit(j_common_ptr cinfo) {
  JpegErrorMgr* err = reinterpret_cast<JpegErrorMgr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  JpegErrorMgr* err = reinterpret_cast<JpegErrorMgr*>(cinfo->err);
  if (err->warnings++ == 0) (*cinfo->err->format_message)(cinfo, err->firstWarning);
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) err->sawEof = true;
  cinfo->err->num_warnings++;
}

void JpegOutputMessage(j_common_ptr) {}

void InitErrorMgr(JpegErrorMgr& err) {
  std::memset(&err, 0, sizeof err);
  jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.emit_message = JpegEmitMessage;
  err.pub.output_message = JpegOutputMessage;
}

void JpegProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    JpegErrorMgr* err = reinterpret_cast<JpegErrorMgr*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message,
                  "the file has more than %d scans", kMaxScans);
    longjmp(err->jump, 1);
  }
}

// ---- decoding ------------------------------------------------------------------

struct DecodeJob {
  const uint8_t* data = nullptr;
  size_t size = 0;
  CImage* image = nullptr;
  bool headerOnly = false;
  int minWidth = 0;   // > 0: scaled decode
  int minHeight = 0;
  int width = 0;      // picture size from the header
  int height = 0;
  std::string error;  // set on failure
  std::vector<uint8_t> icc;
  bool grey = false;  // 8-bit grey output
  bool cmyk = false;  // CMYK rows turned into BGR through cmykRow
  JSAMPARRAY cmykRow = nullptr;
  JpegErrorMgr err;
  jpeg_decompress_struct cinfo;
  jpeg_progress_mgr progress;
};

// CMYK (possibly Adobe-inverted) to BGR, one row.
void CmykRowToBgr(const JSAMPLE* src, uint8_t* dst, int width, bool inverted) {
  for (int x = 0; x < width; ++x, src += 4, dst += 3) {
    unsigned c = src[0], m = src[1], y = src[2], k = src[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    // Stored values are now 255 - ink, so colour = (255 - C)(255 - K)/255.
    dst[0] = uint8_t((y * k + 127) / 255);
    dst[1] = uint8_t((m * k + 127) / 255);
    dst[2] = uint8_t((c * k + 127) / 255);
  }
}

// Picks the smallest n/8 scale giving at least minW x minH.
void ChooseScale(jpeg_decompress_struct& cinfo, int minW, int minH) {
  cinfo.scale_denom = 8;
  for (unsigned n = 1; n <= 8; ++n) {
    cinfo.scale_num = n;
    jpeg_calc_output_dimensions(&cinfo);
    if (int(cinfo.output_width) >= minW && int(cinfo.output_height) >= minH) return;
  }
  cinfo.scale_num = 8;
}

// The C++ work of RunDecode lives in these functions so that no object
// with a destructor is ever part of the frame that libjpeg jumps back to.
[[gnu::noinline]] void SetText(std::string& dst, const char* text) { dst = text ? text : ""; }

[[gnu::noinline]] void SetJobError(DecodeJob* job, const char* message) {
  SetText(job->error, message);
}

[[gnu::noinline]] void SetJobErrorFromImage(DecodeJob* job) {
  job->error = job->image->GetLastError();
}

[[gnu::noinline]] void SetTooSmallError(DecodeJob* job, unsigned w, unsigned h) {
  job->error = "the file is too small for a " + std::to_string(w) + "x" + std::to_string(h) +
               " picture";
}

// Keeps the profile libjpeg assembled and frees its buffer.
[[gnu::noinline]] bool KeepIcc(DecodeJob* job, JOCTET* icc, unsigned int len) {
  bool stored = true;
  try {
    job->icc.assign(icc, icc + len);
  } catch (...) {
    stored = false;
  }
  std::free(icc);
  return stored;
}

[[gnu::noinline]] void MoveIccToImage(DecodeJob* job) {
  if (!job->icc.empty()) job->image->SetIccProfile(std::move(job->icc));
}

// Reads the header, checks it and starts libjpeg's decompression: on
// success the output size, colour handling and profile are known and
// job->cinfo waits for its first row; on failure the decompressor is gone.
// All state lives in *job; no C++ object with a destructor is created here,
// so the error jump is safe.
bool StartDecode(DecodeJob* job) {
  jpeg_decompress_struct& cinfo = job->cinfo;
  InitErrorMgr(job->err);
  cinfo.err = &job->err.pub;
  if (setjmp(job->err.jump)) {
    SetJobError(job, job->err.message);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  job->progress.progress_monitor = JpegProgress;
  cinfo.progress = &job->progress;
  jpeg_mem_src(&cinfo, job->data, (unsigned long)job->size);
  if (!job->headerOnly) jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  if (job->err.sawEof) {
    // Cut before the picture data: there is nothing to show.
    SetJobError(job, "the file is truncated");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  job->width = int(cinfo.image_width);
  job->height = int(cinfo.image_height);
  if (job->headerOnly) {
    jpeg_destroy_decompress(&cinfo);
    return true;
  }
  CImage& image = *job->image;
  if (!image.CheckDimensions(cinfo.image_width, cinfo.image_height, nullptr)) {
    SetJobErrorFromImage(job);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  // A Huffman-coded picture needs at least one bit for every 8x8 block of
  // its first component; a file much smaller than that lies about its size
  // (or lost nearly everything), and decoding it would only allocate a big
  // grey picture.
  if (!cinfo.arith_code) {
    uint64_t blocks = ((uint64_t(cinfo.image_width) + 7) / 8) *
                      ((uint64_t(cinfo.image_height) + 7) / 8);
    if (uint64_t(job->size) * 8 < blocks) {
      SetTooSmallError(job, cinfo.image_width, cinfo.image_height);
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
  }

  job->cmyk = false;
  job->grey = false;
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      job->grey = true;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      job->cmyk = true;
      break;
    default:
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
  }
  if (job->minWidth > 0 || job->minHeight > 0) ChooseScale(cinfo, job->minWidth, job->minHeight);

  // The colour profile, before the pixels so that the markers are read.
  JOCTET* icc = nullptr;
  unsigned int iccLen = 0;
  if (jpeg_read_icc_profile(&cinfo, &icc, &iccLen) && icc) {
    if (!KeepIcc(job, icc, iccLen)) {
      SetJobError(job, "out of memory");
      jpeg_destroy_decompress(&cinfo);
      return false;
    }
  }

  jpeg_start_decompress(&cinfo);
  const int w = int(cinfo.output_width), h = int(cinfo.output_height);
  if (!image.CheckDimensions(w, h, nullptr)) {
    SetJobErrorFromImage(job);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  job->cmykRow = nullptr;
  if (job->cmyk)
    job->cmykRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                              JPOOL_IMAGE, JDIMENSION(w) * 4, 1);
  return true;
}

// Decodes the next rows of a started decompression into the top rows
// first..first+count-1 of image (which has the output width). Returns the
// rows decoded (fewer when the data ends early: libjpeg then fills in
// grey), or -1 after an error, when the decompressor is gone.
int DecodeRows(DecodeJob* job, CImage& image, int first, int count) {
  jpeg_decompress_struct& cinfo = job->cinfo;
  if (setjmp(job->err.jump)) {
    SetJobError(job, job->err.message);
    jpeg_destroy_decompress(&cinfo);
    return -1;
  }
  const int w = int(cinfo.output_width);
  const bool inverted = cinfo.saw_Adobe_marker;
  int done = 0;
  while (done < count && cinfo.output_scanline < cinfo.output_height) {
    if (job->cmyk) {
      if (jpeg_read_scanlines(&cinfo, job->cmykRow, 1) != 1) break;
      CmykRowToBgr(job->cmykRow[0], image.TopRow(first + done), w, inverted);
      ++done;
    } else {
      // Hand libjpeg several rows at once; each points into the image.
      JSAMPROW rows[16];
      int n = 0;
      while (n < 16 && done + n < count) {
        rows[n] = image.TopRow(first + done + n);
        ++n;
      }
      JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, JDIMENSION(n));
      if (got == 0) break;
      done += int(got);
    }
  }
  return done;
}

// The attributes a decoded JPEG gives its image besides the pixels.
void SetDecodedAttributes(const DecodeJob* job, CImage& image) {
  const jpeg_decompress_struct& cinfo = job->cinfo;
  if (cinfo.density_unit == 1 || cinfo.density_unit == 2) {
    long xd = cinfo.X_density, yd = cinfo.Y_density;
    if (cinfo.density_unit == 2) {
      xd = (xd * 254 + 50) / 100;
      yd = (yd * 254 + 50) / 100;
    }
    if (xd > 0) image.SetXDPI(xd);
    if (yd > 0) image.SetYDPI(yd);
  }
  image.SetCodecOption(cinfo.progressive_mode ? kJpegProgressive : kJpegBaseline, FORMAT_JPG);
  image.SetType(FORMAT_JPG);
  image.SetNumFrames(1);
}

// Ends a decompression started by StartDecode.
void EndDecode(DecodeJob* job) {
  // Warnings (a truncated file, corrupt data) do not fail the decode: the
  // picture holds what libjpeg could recover.
  jpeg_abort_decompress(&job->cinfo);
  jpeg_destroy_decompress(&job->cinfo);
}

bool RunDecode(DecodeJob* job) {
  if (!StartDecode(job)) return false;
  if (job->headerOnly) return true;
  CImage& image = *job->image;
  const int w = int(job->cinfo.output_width), h = int(job->cinfo.output_height);
  if (!image.Create(w, h, job->grey ? 8 : 24, FORMAT_JPG)) {
    SetJobErrorFromImage(job);
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  MoveIccToImage(job);
  if (DecodeRows(job, image, 0, h) < 0) return false;
  SetDecodedAttributes(job, image);
  EndDecode(job);
  return true;
}

bool DecodeJpegInto(CImage& image, const uint8_t* data, size_t size, int minW, int minH) {
  if (!data || size < 4) {
    image.SetLastError("the file is too short");
    return false;
  }
  DecodeJob* job = new (std::nothrow) DecodeJob;
  if (!job) {
    image.SetLastError("out of memory");
    return false;
  }
  job->data = data;
  job->size = size;
  job->image = &image;
  job->minWidth = minW;
  job->minHeight = minH;
  bool ok = RunDecode(job);
  if (!ok) image.SetLastError(job->error.empty() ? "cannot decode" : job->error);
  delete job;
  return ok;
}

bool JpegSniff(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool JpegDecode(CImage& image, const uint8_t* data, size_t size) {
  return DecodeJpegInto(image, data, size, 0, 0);
}

// ---- encoding ------------------------------------------------------------------

// Destination manager appending to a vector.
struct VectorDest {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* out;
  size_t start;
};

bool GrowDest(VectorDest* d, size_t newSize) {
  try {
    d->out->resize(newSize);
  } catch (...) {
    return false;
  }
  return true;
}

void DestInit(j_compress_ptr cinfo) {
  VectorDest* d = reinterpret_cast<VectorDest*>(cinfo->dest);
  if (!GrowDest(d, d->start + 65536)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
  d->pub.next_output_byte = d->out->data() + d->start;
  d->pub.free_in_buffer = d->out->size() - d->start;
}

boolean DestEmpty(j_compress_ptr cinfo) {
  VectorDest* d = reinterpret_cast<VectorDest*>(cinfo->dest);
  size_t used = d->out->size();
  if (!GrowDest(d, used + (used - d->start))) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
  d->pub.next_output_byte = d->out->data() + used;
  d->pub.free_in_buffer = d->out->size() - used;
  return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
  VectorDest* d = reinterpret_cast<VectorDest*>(cinfo->dest);
  d->out->resize(d->out->size() - d->pub.free_in_buffer);
}

struct EncodeJob {
  const CImage* image = nullptr;
  std::vector<uint8_t>* out = nullptr;
  bool greyPalette = false;
  bool palette = false;         // rows are expanded through tmp
  JSAMPARRAY tmp = nullptr;
  uint8_t greyLevels[256] = {};
  std::string error;
  JpegErrorMgr err;
  jpeg_compress_struct cinfo;
  VectorDest dest;
};

bool IsGreyPalette(const CImage& image) {
  const RGBQuad* pal = image.GetPalette();
  if (!pal) return false;
  for (uint32_t i = 0; i < image.GetNumColors(); ++i)
    if (pal[i].red != pal[i].green || pal[i].green != pal[i].blue) return false;
  return true;
}

// Expands one row of a palette image (1, 4 or 8 bits) to BGR or grey.
void PaletteRow(const CImage& image, int yFromTop, uint8_t* dst, bool grey) {
  const uint8_t* src = image.TopRow(yFromTop);
  const RGBQuad* pal = image.GetPalette();
  uint32_t n = image.GetNumColors();
  int w = image.GetWidth(), bpp = image.GetBpp();
  for (int x = 0; x < w; ++x) {
    unsigned idx;
    if (bpp == 8)
      idx = src[x];
    else if (bpp == 4)
      idx = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
    else
      idx = (src[x >> 3] >> (7 - (x & 7))) & 1;
    RGBQuad c = idx < n ? pal[idx] : RGBQuad{};
    if (grey) {
      dst[x] = c.red;
    } else {
      dst[3 * x] = c.blue;
      dst[3 * x + 1] = c.green;
      dst[3 * x + 2] = c.red;
    }
  }
}

// Sets up the compressor for a picture of job->image's width, kind and
// options and the given height, and writes the file's header. All state
// lives in *job; on failure the compressor is gone.
bool StartEncode(EncodeJob* job, int height) {
  jpeg_compress_struct& cinfo = job->cinfo;
  const CImage& image = *job->image;
  InitErrorMgr(job->err);
  cinfo.err = &job->err.pub;
  if (setjmp(job->err.jump)) {
    SetText(job->error, job->err.message);
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  job->dest.pub.init_destination = DestInit;
  job->dest.pub.empty_output_buffer = DestEmpty;
  job->dest.pub.term_destination = DestTerm;
  job->dest.out = job->out;
  job->dest.start = job->out->size();
  cinfo.dest = &job->dest.pub;

  int w = image.GetWidth();
  job->palette = image.GetBpp() <= 8;
  bool grey = job->palette && job->greyPalette;
  cinfo.image_width = JDIMENSION(w);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = grey ? 1 : 3;
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);  // YCbCr with 2x2 luma sampling (4:2:0)
  jpeg_set_quality(&cinfo, image.GetJpegQuality(), TRUE);

  uint32_t opt = image.GetCodecOption(FORMAT_JPG);
  if (opt & kJpegOptimize) cinfo.optimize_coding = TRUE;
  if (opt & kJpegProgressive) jpeg_simple_progression(&cinfo);
  if (opt & kJpegSmoothing) cinfo.smoothing_factor = image.GetJpegSmoothing();

  long xd = image.GetXDPI(), yd = image.GetYDPI();
  cinfo.density_unit = 1;
  cinfo.X_density = UINT16(xd < 1 ? 1 : xd > 65535 ? 65535 : xd);
  cinfo.Y_density = UINT16(yd < 1 ? 1 : yd > 65535 ? 65535 : yd);

  jpeg_start_compress(&cinfo, TRUE);
  const std::vector<uint8_t>& icc = image.GetIccProfile();
  if (!icc.empty()) jpeg_write_icc_profile(&cinfo, icc.data(), unsigned(icc.size()));

  job->tmp = nullptr;
  if (job->palette)
    job->tmp = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                          JDIMENSION(w) * (grey ? 1 : 3), 1);
  return true;
}

// Compresses the rows of band (top to bottom, at most the rows still
// missing); band has the width and kind of the image the compressor was
// started with. On failure the compressor is gone.
bool EncodeRows(EncodeJob* job, const CImage& band) {
  jpeg_compress_struct& cinfo = job->cinfo;
  if (setjmp(job->err.jump)) {
    SetText(job->error, job->err.message);
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  const bool grey = job->palette && job->greyPalette;
  for (int y = 0; y < band.GetHeight() && cinfo.next_scanline < cinfo.image_height; ++y) {
    JSAMPROW row;
    if (job->palette) {
      PaletteRow(band, y, job->tmp[0], grey);
      row = job->tmp[0];
    } else {
      row = const_cast<JSAMPROW>(band.TopRow(y));
    }
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  return true;
}

// Ends the file once every row is in. The compressor is gone afterwards.
bool FinishEncode(EncodeJob* job) {
  jpeg_compress_struct& cinfo = job->cinfo;
  if (setjmp(job->err.jump)) {
    SetText(job->error, job->err.message);
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

bool RunEncode(EncodeJob* job) {
  return StartEncode(job, job->image->GetHeight()) && EncodeRows(job, *job->image) &&
         FinishEncode(job);
}

bool JpegEncode(const CImage& image, std::vector<uint8_t>& out) {
  int bpp = image.GetBpp();
  if (bpp != 24 && bpp != 8 && bpp != 4 && bpp != 1) {
    image.SetLastError("unsupported bit depth " + std::to_string(bpp));
    return false;
  }
  if (image.GetWidth() > JPEG_MAX_DIMENSION || image.GetHeight() > JPEG_MAX_DIMENSION) {
    image.SetLastError("a JPEG cannot be wider or taller than " +
                       std::to_string(JPEG_MAX_DIMENSION) + " pixels");
    return false;
  }
  EncodeJob* job = new (std::nothrow) EncodeJob;
  if (!job) {
    image.SetLastError("out of memory");
    return false;
  }
  size_t start = out.size();
  job->image = &image;
  job->out = &out;
  job->greyPalette = bpp <= 8 && IsGreyPalette(image);
  bool ok = RunEncode(job);
  if (!ok) {
    out.resize(start);
    image.SetLastError(job->error.empty() ? "cannot encode" : job->error);
  }
  delete job;
  return ok;
}

}  // namespace

bool DecodeJpegScaled(CImage& image, const uint8_t* data, size_t size, int minWidth,
                      int minHeight) {
  CImage fresh;
  for (int f = 1; f < FORMAT_COUNT; ++f) fresh.SetCodecOption(image.GetCodecOption(f), f);
  fresh.SetJpegQuality(image.GetJpegQuality());
  fresh.SetJpegSmoothing(image.GetJpegSmoothing());
  fresh.SetType(FORMAT_JPG);
  if (!DecodeJpegInto(fresh, data, size, minWidth < 1 ? 1 : minWidth,
                      minHeight < 1 ? 1 : minHeight)) {
    image.SetLastError("JPEG: " + fresh.GetLastError());
    return false;
  }
  fresh.SetFrame(image.GetFrame());
  fresh.Transfer(image);
  image.SetLastError(std::string());
  return true;
}

bool ReadJpegHeader(const uint8_t* data, size_t size, int& width, int& height) {
  if (!data || size < 4) return false;
  DecodeJob* job = new (std::nothrow) DecodeJob;
  if (!job) return false;
  job->data = data;
  job->size = size;
  job->headerOnly = true;
  bool ok = RunDecode(job);
  if (ok) {
    width = job->width;
    height = job->height;
  }
  delete job;
  return ok;
}

extern const CodecInfo kCodecJpeg = {FORMAT_JPG,     "JPEG",         "jpg;jpeg;jpe;jfif",
                                     JpegSniff,      JpegDecode,     JpegEncode,
                                     ReadJpegHeader, DecodeJpegScaled};

// ---- decoding in bands ----------------------------------------------------------

struct JpegBandJob {
  DecodeJob job;
  CImage limits;  // whose pixel limit the header is checked against
  bool running = false;
};

CJpegBandReader::CJpegBandReader() = default;

CJpegBandReader::~CJpegBandReader() { Close(); }

void CJpegBandReader::Close() {
  if (job_ && job_->running) EndDecode(&job_->job);
  delete job_;
  job_ = nullptr;
}

bool CJpegBandReader::Open(const uint8_t* data, size_t size) {
  Close();
  error_.clear();
  if (!data || size < 4) {
    error_ = "the file is too short";
    return false;
  }
  job_ = new (std::nothrow) JpegBandJob;
  if (!job_) {
    error_ = "out of memory";
    return false;
  }
  DecodeJob& job = job_->job;
  job.data = data;
  job.size = size;
  job.image = &job_->limits;
  if (!StartDecode(&job)) {
    error_ = job.error.empty() ? "cannot decode" : job.error;
    delete job_;
    job_ = nullptr;
    return false;
  }
  job_->running = true;
  width_ = int(job.cinfo.output_width);
  height_ = int(job.cinfo.output_height);
  codecOption_ = job.cinfo.progressive_mode ? kJpegProgressive : kJpegBaseline;
  next_ = 0;
  return true;
}

bool CJpegBandReader::ReadBand(CImage& band, int maxRows) {
  if (!job_ || !job_->running || next_ >= height_ || maxRows < 1) {
    error_ = "no rows left to decode";
    return false;
  }
  DecodeJob& job = job_->job;
  const int rows = std::min(maxRows, height_ - next_);
  if (next_ == 0 || band.GetWidth() != width_ || band.GetHeight() != rows ||
      band.GetBpp() != (job.grey ? 8 : 24)) {
    // A fresh image, with the attributes a whole decode starts from.
    if (next_ == 0) band = CImage();
    if (!band.Create(width_, rows, job.grey ? 8 : 24, FORMAT_JPG)) {
      error_ = band.GetLastError();
      return false;
    }
    band.SetIccProfile(job.icc);
    SetDecodedAttributes(&job, band);
  }
  int done = DecodeRows(&job, band, 0, rows);
  if (done < 0) {
    job_->running = false;
    error_ = job.error.empty() ? "cannot decode" : job.error;
    return false;
  }
  // Past the end of the data libjpeg gives no more rows; a whole decode
  // leaves those rows as created (zero), and so does this.
  for (int y = done; y < rows; ++y) std::memset(band.TopRow(y), 0, band.GetEffWidth());
  next_ += rows;
  return true;
}

// ---- encoding in bands ----------------------------------------------------------

struct JpegEncodeBandJob {
  EncodeJob job;
  size_t start = 0;  // size of the output before the file
  bool running = false;
};

CJpegBandWriter::CJpegBandWriter() = default;

CJpegBandWriter::~CJpegBandWriter() {
  if (job_ && job_->running) jpeg_destroy_compress(&job_->job.cinfo);
  delete job_;
}

bool CJpegBandWriter::Fail(const std::string& error) {
  error_ = error;
  if (job_) {
    if (job_->running) jpeg_destroy_compress(&job_->job.cinfo);
    if (job_->job.out) job_->job.out->resize(job_->start);
    delete job_;
    job_ = nullptr;
  }
  return false;
}

bool CJpegBandWriter::Begin(const CImage& first, int height, std::vector<uint8_t>& out) {
  if (job_) Fail(std::string());
  error_.clear();
  const int bpp = first.GetBpp();
  if (bpp != 24 && bpp != 8 && bpp != 4 && bpp != 1) return Fail("unsupported bit depth " + std::to_string(bpp));
  if (first.GetWidth() > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
    return Fail("a JPEG cannot be wider or taller than " + std::to_string(JPEG_MAX_DIMENSION) +
                " pixels");
  job_ = new (std::nothrow) JpegEncodeBandJob;
  if (!job_) return Fail("out of memory");
  EncodeJob& job = job_->job;
  job.image = &first;
  job.out = &out;
  job.greyPalette = bpp <= 8 && IsGreyPalette(first);
  job_->start = out.size();
  if (!StartEncode(&job, height)) return Fail(job.error.empty() ? "cannot encode" : job.error);
  job_->running = true;
  bpp_ = bpp;
  width_ = first.GetWidth();
  return true;
}

bool CJpegBandWriter::AddBand(const CImage& band) {
  if (!job_) return Fail(error_.empty() ? "the file was not started" : error_);
  if (band.GetWidth() != width_ || band.GetBpp() != bpp_)
    return Fail("a band does not match the picture");
  if (!EncodeRows(&job_->job, band)) {
    job_->running = false;
    return Fail(job_->job.error.empty() ? "cannot encode" : job_->job.error);
  }
  return true;
}

bool CJpegBandWriter::Finish() {
  if (!job_) return Fail(error_.empty() ? "the file was not started" : error_);
  job_->running = false;
  if (!FinishEncode(&job_->job)) return Fail(job_->job.error.empty() ? "cannot encode" : job_->job.error);
  delete job_;
  job_ = nullptr;
  return true;
}
