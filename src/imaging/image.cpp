// CImage: life cycle, attributes, pixel access and the codec dispatch.
// The operations live in image_*.cpp beside this file.
#include "imaging/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "imaging/codecs/codec.h"
#include "imaging/image_internal.h"

namespace {
std::atomic<uint64_t> g_pixelLimit{uint64_t(1) << 28};

std::string LowerExtension(const std::string& path) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return ext;
}

}  // namespace

CImage::CImage() = default;

CImage::CImage(const std::string& path, int format) { Load(path, format); }

CImage::CImage(const CImage& other) { Copy(other); }

CImage& CImage::operator=(const CImage& other) {
  if (this != &other) Copy(other);
  return *this;
}

CImage::CImage(CImage&& other) noexcept { other.Transfer(*this); }

CImage& CImage::operator=(CImage&& other) noexcept {
  if (this != &other) other.Transfer(*this);
  return *this;
}

CImage::~CImage() = default;

size_t CImage::RowBytes(int width, int bpp) const { return DibRowBytes(width, bpp); }

bool CImage::Create(int width, int height, int bpp, int format) {
  if (width <= 0 || height <= 0) {
    SetLastError("invalid image size");
    return false;
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) {
    SetLastError("unsupported bit depth " + std::to_string(bpp));
    return false;
  }
  if (uint64_t(width) * uint64_t(height) > GetPixelLimit()) {
    SetLastError("image too large");
    return false;
  }
  size_t stride = RowBytes(width, bpp);
  std::vector<uint8_t> bits;
  try {
    bits.assign(stride * size_t(height), 0);
  } catch (const std::bad_alloc&) {
    SetLastError("out of memory");
    return false;
  }
  Destroy();
  width_ = width;
  height_ = height;
  bpp_ = bpp;
  stride_ = stride;
  bits_ = std::move(bits);
  type_ = format;
  if (bpp <= 8) SetGrayPalette();
  return true;
}

void CImage::Destroy() {
  width_ = height_ = bpp_ = 0;
  stride_ = 0;
  bits_.clear();
  bits_.shrink_to_fit();
  palette_.clear();
  alpha_.clear();
  alpha_.shrink_to_fit();
  alphaPalette_ = false;
  transIndex_ = -1;
  transColor_ = {};
  dib_.clear();
  dib_.shrink_to_fit();
  icc_.clear();
  exif_.clear();
  xmp_.clear();
}

void CImage::CopyAttributes(const CImage& src) {
  palette_ = src.palette_;
  alphaPalette_ = src.alphaPalette_;
  transIndex_ = src.transIndex_;
  transColor_ = src.transColor_;
  xdpi_ = src.xdpi_;
  ydpi_ = src.ydpi_;
  type_ = src.type_;
  frame_ = src.frame_;
  numFrames_ = src.numFrames_;
  std::memcpy(codecOptions_, src.codecOptions_, sizeof(codecOptions_));
  jpegQuality_ = src.jpegQuality_;
  jpegSmoothing_ = src.jpegSmoothing_;
  icc_ = src.icc_;
  exif_ = src.exif_;
  xmp_ = src.xmp_;
}

bool CImage::Copy(const CImage& src, bool copyPixels, bool /*copySelection*/, bool copyAlpha) {
  if (this == &src) return true;
  if (!src.IsValid()) {
    Destroy();
    SetLastError("copy of an empty image");
    return false;
  }
  width_ = src.width_;
  height_ = src.height_;
  bpp_ = src.bpp_;
  stride_ = src.stride_;
  if (copyPixels)
    bits_ = src.bits_;
  else
    bits_.assign(src.bits_.size(), 0);
  if (copyAlpha)
    alpha_ = src.alpha_;
  else
    alpha_.clear();
  dib_.clear();
  CopyAttributes(src);
  return true;
}

bool CImage::Transfer(CImage& dst) {
  if (this == &dst) return true;
  dst.Destroy();
  dst.width_ = width_;
  dst.height_ = height_;
  dst.bpp_ = bpp_;
  dst.stride_ = stride_;
  dst.bits_ = std::move(bits_);
  dst.alpha_ = std::move(alpha_);
  dst.CopyAttributes(*this);
  dst.icc_ = std::move(icc_);
  dst.exif_ = std::move(exif_);
  dst.xmp_ = std::move(xmp_);
  Destroy();
  return true;
}

// ---- files ----------------------------------------------------------------

// The file is read, not mapped: a mapped file that another program shortens
// while it is decoded would kill the process with SIGBUS, while a copy cannot
// change under the decoder. The price is one copy of the file in memory
// during the decode. Only regular files are read, and the file is opened
// without blocking, so a FIFO or a device that carries an image's name is
// refused at once.
bool imaging_detail::ReadWholeFile(const std::string& path, std::vector<uint8_t>& data,
                                   std::string& error) {
  data.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
  } else if (st.st_size == 0) {
    error = "the file is empty";
  } else {
    try {
      data.resize(size_t(st.st_size));
      size_t done = 0;
      while (done < data.size()) {
        ssize_t n = ::read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          error = n < 0 ? std::strerror(errno) : "the file became shorter while it was read";
          break;
        }
        done += size_t(n);
      }
      if (done == data.size()) error.clear();
    } catch (const std::exception&) {
      error = "out of memory";
    }
  }
  ::close(fd);
  if (!error.empty() || data.empty()) {
    if (error.empty()) error = "cannot read the file";
    data = std::vector<uint8_t>();
    return false;
  }
  return true;
}

bool CImage::ReadFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
  return imaging_detail::ReadWholeFile(path, data, error);
}

bool CImage::Load(const std::string& path, int format) {
  std::vector<uint8_t> file;
  std::string error;
  if (!imaging_detail::ReadWholeFile(path, file, error)) {
    SetLastError(path + ": " + error);
    return false;
  }
  return Decode(file.data(), file.size(), format, path);
}

CImage::DecodeSizeHint CImage::AtLeast(int minWidth, int minHeight) {
  return [minWidth, minHeight](int, int, int& needWidth, int& needHeight) {
    needWidth = minWidth;
    needHeight = minHeight;
  };
}

bool CImage::Decode(const uint8_t* data, size_t size, int format, const std::string& nameHint) {
  const CodecInfo* codec = nullptr;
  if (format != FORMAT_UNKNOWN) {
    codec = FindCodec(format);
    if (!codec) {
      SetLastError("no codec for format " + std::to_string(format));
      return false;
    }
  } else {
    codec = SniffCodec(data, size);
    if (!codec) {
      // Formats without a signature are found by the name's extension.
      const CodecInfo* byExt = FindCodecByExtension(LowerExtension(nameHint));
      if (byExt && !byExt->sniff) codec = byExt;
    }
    if (!codec) {
      SetLastError("unknown file format");
      return false;
    }
  }
  if (!codec->decode) {
    SetLastError(std::string(codec->name) + ": reading is not supported");
    return false;
  }
  // Decode into a fresh object so that a failure leaves this one intact.
  CImage fresh;
  fresh.frame_ = frame_;
  std::memcpy(fresh.codecOptions_, codecOptions_, sizeof(codecOptions_));
  fresh.jpegQuality_ = jpegQuality_;
  fresh.SetType(codec->format);
  bool ok = false;
  int storedWidth = 0, storedHeight = 0;
  try {
    int minWidth = 0, minHeight = 0;
    if (codec->readSize && codec->decodeScaled &&
        codec->readSize(data, size, storedWidth, storedHeight) && decodeHint_) {
      minWidth = storedWidth;
      minHeight = storedHeight;
      decodeHint_(storedWidth, storedHeight, minWidth, minHeight);
    }
    if (minWidth > 0 && minHeight > 0 && (minWidth < storedWidth || minHeight < storedHeight))
      ok = codec->decodeScaled(fresh, data, size, minWidth, minHeight);
    else
      ok = codec->decode(fresh, data, size);
  } catch (const std::bad_alloc&) {
    fresh.SetLastError("out of memory");
    ok = false;
  } catch (...) {
    fresh.SetLastError("decoder failure");
    ok = false;
  }
  if (!ok || !fresh.IsValid()) {
    std::string why = fresh.GetLastError().empty() ? "cannot decode" : fresh.GetLastError();
    SetLastError(std::string(codec->name) + ": " + why);
    return false;
  }
  if (fresh.numFrames_ <= 0) fresh.numFrames_ = 1;
  DecodeSizeHint hint = std::move(decodeHint_);
  fresh.Transfer(*this);
  decodeHint_ = std::move(hint);
  storedWidth_ = storedWidth > 0 ? storedWidth : width_;
  storedHeight_ = storedHeight > 0 ? storedHeight : height_;
  error_.clear();
  return true;
}

bool CImage::Encode(std::vector<uint8_t>& out, int format) const {
  if (!IsValid()) {
    SetLastError("nothing to save: the image is empty");
    return false;
  }
  const CodecInfo* codec = FindCodec(format);
  if (!codec) {
    SetLastError("no codec for format " + std::to_string(format));
    return false;
  }
  if (!codec->encode) {
    SetLastError(std::string(codec->name) + ": writing is not supported");
    return false;
  }
  bool ok = false;
  try {
    ok = codec->encode(*this, out);
  } catch (const std::bad_alloc&) {
    SetLastError("out of memory");
    ok = false;
  } catch (...) {
    SetLastError("encoder failure");
    ok = false;
  }
  if (!ok && error_.empty()) SetLastError(std::string(codec->name) + ": cannot encode");
  return ok;
}

bool CImage::Save(const std::string& path, int format) const {
  std::vector<uint8_t> data;
  if (!Encode(data, format)) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    SetLastError(path + ": " + std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = (std::fflush(f) == 0) && ok;
  int err = errno;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    SetLastError(path + ": " + std::strerror(err ? err : EIO));
    std::remove(path.c_str());
  }
  return ok;
}

// ---- attributes -------------------------------------------------------------

uint32_t CImage::GetCodecOption(int format) const {
  if (format <= 0 || format >= FORMAT_COUNT) format = type_;
  if (format <= 0 || format >= FORMAT_COUNT) return 0;
  return codecOptions_[format];
}

void CImage::SetCodecOption(uint32_t option, int format) {
  if (format <= 0 || format >= FORMAT_COUNT) format = type_;
  if (format <= 0 || format >= FORMAT_COUNT) return;
  codecOptions_[format] = option;
}

void CImage::SetPalette(const RGBQuad* pal, int entries) {
  if (bpp_ == 0 || bpp_ > 8 || !pal) return;
  size_t n = size_t(1) << bpp_;
  palette_.assign(n, RGBQuad{});
  size_t count = std::min(n, size_t(std::max(entries, 0)));
  std::copy(pal, pal + count, palette_.begin());
  dib_.clear();
}

void CImage::SetPaletteColor(uint8_t index, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha) {
  if (index < palette_.size()) palette_[index] = RGBQuad{b, g, r, alpha};
  dib_.clear();
}

void CImage::SetGrayPalette() {
  if (bpp_ == 0 || bpp_ > 8) return;
  size_t n = size_t(1) << bpp_;
  palette_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t v = uint8_t(i * 255 / (n - 1));
    palette_[i] = RGBQuad{v, v, v, 0};
  }
  dib_.clear();
}

RGBQuad CImage::GetTransColor() const {
  if (bpp_ <= 8 && transIndex_ >= 0 && size_t(transIndex_) < palette_.size())
    return palette_[size_t(transIndex_)];
  return transColor_;
}

bool CImage::IsTransparent() const { return transIndex_ >= 0 || !alpha_.empty(); }

bool CImage::AlphaCreate() {
  if (!IsValid()) return false;
  if (alpha_.empty()) alpha_.assign(size_t(width_) * size_t(height_), 255);
  return true;
}

// ---- pixel access -------------------------------------------------------------

uint8_t CImage::GetPixelIndex(long x, long y) const {
  if (bpp_ > 8 || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return imaging_detail::RowIndex(GetBits(int(y)), x, bpp_);
}

void CImage::SetPixelIndex(long x, long y, uint8_t index) {
  if (bpp_ > 8 || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  imaging_detail::SetRowIndex(GetBits(int(y)), x, bpp_, index);
  dib_.clear();
}

RGBQuad CImage::GetPixelColor(long x, long y, bool getAlpha) const {
  RGBQuad c{};
  if (!IsValid() || x < 0 || y < 0 || x >= width_ || y >= height_) return c;
  if (bpp_ <= 8) {
    uint8_t idx = GetPixelIndex(x, y);
    if (idx < palette_.size()) c = palette_[idx];
    if (getAlpha) {
      uint8_t a = alphaPalette_ ? c.reserved : 255;
      if (transIndex_ >= 0 && idx == transIndex_) a = 0;
      c.reserved = a;
    } else {
      c.reserved = 0;
    }
  } else {
    const uint8_t* p = GetBits(int(y)) + size_t(x) * 3;
    c = RGBQuad{p[0], p[1], p[2], 0};
    if (getAlpha) c.reserved = 255;
  }
  if (getAlpha && !alpha_.empty())
    c.reserved = uint8_t(unsigned(c.reserved) * alpha_[size_t(y) * width_ + x] / 255);
  return c;
}

void CImage::SetPixelColor(long x, long y, RGBQuad colour, bool setAlpha) {
  if (!IsValid() || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  if (bpp_ <= 8) {
    SetPixelIndex(x, y, GetNearestIndex(colour));
  } else {
    uint8_t* p = GetBits(int(y)) + size_t(x) * 3;
    p[0] = colour.blue;
    p[1] = colour.green;
    p[2] = colour.red;
    dib_.clear();
  }
  if (setAlpha && !alpha_.empty()) alpha_[size_t(y) * width_ + x] = colour.reserved;
}

uint8_t CImage::GetNearestIndex(RGBQuad c) const {
  if (palette_.empty()) return 0;
  long best = 0x7FFFFFFF;
  uint8_t bestIndex = 0;
  for (size_t i = 0; i < palette_.size(); ++i) {
    long db = long(palette_[i].blue) - c.blue;
    long dg = long(palette_[i].green) - c.green;
    long dr = long(palette_[i].red) - c.red;
    long d = db * db + dg * dg + dr * dr;
    if (d < best) {
      best = d;
      bestIndex = uint8_t(i);
      if (d == 0) break;
    }
  }
  return bestIndex;
}

void CImage::BlendPixelColor(long x, long y, RGBQuad c, float opacity, bool setAlpha) {
  if (!IsValid() || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  if (opacity <= 0.0f) return;
  if (opacity > 1.0f) opacity = 1.0f;
  int a = int(opacity * 256.0f + 0.5f);
  int ia = 256 - a;
  RGBQuad old = GetPixelColor(x, y, false);
  RGBQuad mixed{uint8_t((old.blue * ia + c.blue * a) >> 8),
                uint8_t((old.green * ia + c.green * a) >> 8),
                uint8_t((old.red * ia + c.red * a) >> 8), 0};
  if (bpp_ <= 8) {
    SetPixelIndex(x, y, GetNearestIndex(mixed));
  } else {
    uint8_t* p = GetBits(int(y)) + size_t(x) * 3;
    p[0] = mixed.blue;
    p[1] = mixed.green;
    p[2] = mixed.red;
    dib_.clear();
  }
  if (setAlpha && !alpha_.empty()) {
    uint8_t& al = alpha_[size_t(y) * width_ + x];
    al = uint8_t((al * ia + c.reserved * a) >> 8);
  }
}

bool CImage::Clear(uint8_t value) {
  if (!IsValid()) return false;
  std::fill(bits_.begin(), bits_.end(), value);
  dib_.clear();
  return true;
}

// ---- limits -------------------------------------------------------------------

uint64_t CImage::GetPixelLimit() { return g_pixelLimit.load(); }

void CImage::SetPixelLimit(uint64_t pixels) { g_pixelLimit.store(pixels); }

bool CImage::CheckDimensions(int64_t width, int64_t height, const char* codec) const {
  std::string prefix = codec ? std::string(codec) + ": " : std::string();
  if (width <= 0 || height <= 0) {
    SetLastError(prefix + "invalid image size " + std::to_string(width) + "x" +
                 std::to_string(height));
    return false;
  }
  if (width > 0x7FFFFFF || height > 0x7FFFFFF ||
      uint64_t(width) * uint64_t(height) > GetPixelLimit()) {
    SetLastError(prefix + "image of " + std::to_string(width) + "x" + std::to_string(height) +
                 " pixels is above the pixel limit");
    return false;
  }
  return true;
}
