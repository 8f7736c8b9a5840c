// Portable anymap (PBM, PGM, PPM): P1 to P6, plain (ASCII) and raw, maxval
// up to 65535, comments, and several images in one file read as frames.
//
// Bitmaps load as 1 bit (index 0 black, 1 white), greymaps as 8 bits with a
// grey palette, pixmaps as 24 bits; samples above 8 bits are scaled to 8.
// Writing picks P4, P5 or P6 from the image: 1 bit gives a bitmap, a palette
// of greys a greymap, anything else a pixmap. Codec option 1 writes the plain
// variants (P1, P2, P3) instead; a plain file that is read sets it, so the
// keep-format writer saves it as it came.
#include <cstdio>
#include <cstring>
#include <string>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"

namespace {

struct PnmHeader {
  int kind = 0;  // 1..6, the digit after 'P'
  int64_t width = 0;
  int64_t height = 0;
  uint32_t maxval = 1;
  size_t dataStart = 0;  // first byte of the samples
};

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Skips white space and comments ('#' to the end of the line).
void SkipSpace(const uint8_t* d, size_t n, size_t& pos) {
  while (pos < n) {
    if (IsSpace(d[pos])) {
      ++pos;
    } else if (d[pos] == '#') {
      while (pos < n && d[pos] != '\n' && d[pos] != '\r') ++pos;
    } else {
      break;
    }
  }
}

// Reads an unsigned decimal number after optional white space and comments.
bool ReadNumber(const uint8_t* d, size_t n, size_t& pos, uint32_t& value) {
  SkipSpace(d, n, pos);
  if (pos >= n || d[pos] < '0' || d[pos] > '9') return false;
  uint64_t v = 0;
  while (pos < n && d[pos] >= '0' && d[pos] <= '9') {
    v = v * 10 + uint64_t(d[pos] - '0');
    if (v > 0xFFFFFFFFu) return false;
    ++pos;
  }
  value = uint32_t(v);
  return true;
}

bool ParseHeader(const uint8_t* d, size_t n, size_t pos, PnmHeader& h, std::string& error) {
  if (n - pos < 2 || d[pos] != 'P' || d[pos + 1] < '1' || d[pos + 1] > '6') {
    error = "not a PNM file";
    return false;
  }
  h.kind = d[pos + 1] - '0';
  pos += 2;
  uint32_t w = 0, ht = 0, maxval = 1;
  if (!ReadNumber(d, n, pos, w) || !ReadNumber(d, n, pos, ht)) {
    error = "bad header";
    return false;
  }
  if (h.kind != 1 && h.kind != 4) {
    if (!ReadNumber(d, n, pos, maxval)) {
      error = "bad header";
      return false;
    }
    if (maxval == 0 || maxval > 65535) {
      error = "maximum sample value " + std::to_string(maxval) + " out of range";
      return false;
    }
  }
  // Raw samples start after exactly one white-space character.
  if (h.kind >= 4) {
    if (pos >= n || !IsSpace(d[pos])) {
      error = "bad header";
      return false;
    }
    ++pos;
  }
  h.width = w;
  h.height = ht;
  h.maxval = maxval;
  h.dataStart = pos;
  return true;
}

int Channels(int kind) { return (kind == 3 || kind == 6) ? 3 : 1; }

// Bytes of raw sample data of one image.
uint64_t RawBytes(const PnmHeader& h) {
  if (h.kind == 4) return uint64_t((h.width + 7) / 8) * uint64_t(h.height);
  uint64_t bytesPerSample = h.maxval > 255 ? 2 : 1;
  return uint64_t(h.width) * uint64_t(h.height) * uint64_t(Channels(h.kind)) * bytesPerSample;
}

// Reads the samples of one image. With image == nullptr the samples are only
// walked over (to find the next image). end receives the position after them.
class SampleReader {
 public:
  SampleReader(const uint8_t* d, size_t n, const PnmHeader& h) : d_(d), n_(n), h_(h), pos_(h.dataStart) {}

  // Next sample, scaled to 0..255 (bitmaps: 1 = black as stored).
  bool Next(uint32_t& value) {
    switch (h_.kind) {
      case 1: {
        while (pos_ < n_ && (IsSpace(d_[pos_]) || d_[pos_] == '#')) SkipSpace(d_, n_, pos_);
        if (pos_ >= n_ || (d_[pos_] != '0' && d_[pos_] != '1')) return false;
        value = uint32_t(d_[pos_++] - '0');
        return true;
      }
      case 2:
      case 3: {
        uint32_t v;
        if (!ReadNumber(d_, n_, pos_, v)) return false;
        value = Scale(v);
        return true;
      }
      default: {
        if (h_.maxval > 255) {
          if (n_ - pos_ < 2) return false;
          uint32_t v = byte_order::GetBe16(d_ + pos_);
          pos_ += 2;
          value = Scale(v);
        } else {
          if (pos_ >= n_) return false;
          value = Scale(d_[pos_++]);
        }
        return true;
      }
    }
  }
  size_t pos() const { return pos_; }
  void set_pos(size_t p) { pos_ = p; }

 private:
  uint32_t Scale(uint32_t v) const {
    if (v >= h_.maxval) return 255;
    if (h_.maxval == 255) return v;
    return (v * 255 + h_.maxval / 2) / h_.maxval;
  }
  const uint8_t* d_;
  size_t n_;
  const PnmHeader& h_;
  size_t pos_;
};

// Validates the size of one image against the data that follows its header.
bool CheckImage(const CImage& image, const PnmHeader& h, size_t n, std::string& error) {
  if (!image.CheckDimensions(h.width, h.height, nullptr)) {
    error = image.GetLastError();
    return false;
  }
  uint64_t avail = n - h.dataStart;
  if (h.kind >= 4) {
    if (RawBytes(h) > avail) {
      error = "file truncated";
      return false;
    }
  } else {
    // A plain sample takes at least one character (bitmaps) or a digit and
    // a separator.
    uint64_t samples = uint64_t(h.width) * uint64_t(h.height) * uint64_t(Channels(h.kind));
    uint64_t minChars = h.kind == 1 ? samples : samples * 2 - 1;
    if (minChars > avail) {
      error = "file truncated";
      return false;
    }
  }
  return true;
}

// Position after the samples of the image, or 0 when they are incomplete.
size_t SkipImage(const uint8_t* d, size_t n, const PnmHeader& h) {
  if (h.kind >= 4) return h.dataStart + size_t(RawBytes(h));
  SampleReader r(d, n, h);
  uint64_t samples = uint64_t(h.width) * uint64_t(h.height) * uint64_t(Channels(h.kind));
  uint32_t v;
  for (uint64_t i = 0; i < samples; ++i)
    if (!r.Next(v)) return 0;
  return r.pos();
}

bool Decode(CImage& image, const uint8_t* d, size_t n) {
  std::string error;
  int wanted = image.GetFrame() < 0 ? 0 : image.GetFrame();
  // Find the wanted image and count all of them.
  size_t pos = 0;
  int count = 0;
  PnmHeader chosen;
  bool found = false;
  for (;;) {
    PnmHeader h;
    if (!ParseHeader(d, n, pos, h, error) || !CheckImage(image, h, n, error)) {
      if (count == 0) {
        image.SetLastError(error);
        return false;
      }
      break;  // trailing data that is not another image
    }
    if (count == wanted) {
      chosen = h;
      found = true;
    }
    ++count;
    size_t end = SkipImage(d, n, h);
    if (end == 0) {
      if (count - 1 == wanted) {
        image.SetLastError("file truncated");
        return false;
      }
      --count;
      break;
    }
    pos = end;
    SkipSpace(d, n, pos);
    if (n - pos < 2 || d[pos] != 'P' || d[pos + 1] < '1' || d[pos + 1] > '6') break;
  }
  if (!found) {
    image.SetLastError("frame " + std::to_string(wanted) + " does not exist (the file holds " +
                       std::to_string(count) + ")");
    return false;
  }

  const PnmHeader& h = chosen;
  int w = int(h.width), ht = int(h.height);
  int bpp = (h.kind == 1 || h.kind == 4) ? 1 : (Channels(h.kind) == 3 ? 24 : 8);
  if (!image.Create(w, ht, bpp, FORMAT_PNM)) return false;
  if (bpp == 1) {
    image.SetPaletteColor(0, 0, 0, 0);
    image.SetPaletteColor(1, 255, 255, 255);
  }
  if (h.kind == 4) {
    size_t rowBytes = size_t((w + 7) / 8);
    for (int y = 0; y < ht; ++y) {
      const uint8_t* src = d + h.dataStart + size_t(y) * rowBytes;
      uint8_t* dst = image.TopRow(y);
      for (size_t i = 0; i < rowBytes; ++i) dst[i] = uint8_t(~src[i]);
      // Clear the padding bits so that rows compare equal.
      if (w % 8) dst[rowBytes - 1] &= uint8_t(0xFF << (8 - w % 8));
    }
  } else {
    SampleReader r(d, n, h);
    uint32_t v[3];
    for (int y = 0; y < ht; ++y) {
      uint8_t* dst = image.TopRow(y);
      for (int x = 0; x < w; ++x) {
        if (bpp == 24) {
          if (!r.Next(v[0]) || !r.Next(v[1]) || !r.Next(v[2])) {
            image.SetLastError("file truncated");
            return false;
          }
          dst[x * 3] = uint8_t(v[2]);
          dst[x * 3 + 1] = uint8_t(v[1]);
          dst[x * 3 + 2] = uint8_t(v[0]);
        } else {
          if (!r.Next(v[0])) {
            image.SetLastError("file truncated");
            return false;
          }
          if (bpp == 8)
            dst[x] = uint8_t(v[0]);
          else if (v[0] == 0)  // white
            dst[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
      }
    }
  }
  image.SetNumFrames(count);
  image.SetCodecOption(h.kind <= 3 ? 1 : 0, FORMAT_PNM);
  return true;
}

bool Sniff(const uint8_t* d, size_t n) {
  return n >= 3 && d[0] == 'P' && d[1] >= '1' && d[1] <= '6' && (IsSpace(d[2]) || d[2] == '#');
}

// True when every palette entry is a grey.
bool PaletteIsGrey(const CImage& image) {
  if (image.GetBpp() > 8) return false;
  const RGBQuad* pal = image.GetPalette();
  if (!pal) return false;
  for (uint32_t i = 0; i < image.GetNumColors(); ++i)
    if (pal[i].red != pal[i].green || pal[i].green != pal[i].blue) return false;
  return true;
}

class TextOut {
 public:
  explicit TextOut(std::vector<uint8_t>& out) : out_(out) {}
  void Sample(unsigned v, bool bit) {
    char buf[8];
    int len = std::snprintf(buf, sizeof buf, "%u", v);
    // Plain files keep lines at most 70 characters long.
    if (line_ + len + 1 > 70) {
      out_.push_back('\n');
      line_ = 0;
    } else if (line_ > 0 && !bit) {
      out_.push_back(' ');
      ++line_;
    }
    out_.insert(out_.end(), buf, buf + len);
    line_ += len;
  }
  void EndRow() {
    if (line_ > 0) out_.push_back('\n');
    line_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  int line_ = 0;
};

bool Encode(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  const bool plain = image.GetCodecOption(FORMAT_PNM) == 1;
  int kind;
  if (image.GetBpp() == 1)
    kind = 4;
  else if (PaletteIsGrey(image))
    kind = 5;
  else
    kind = 6;
  if (plain) kind -= 3;
  std::string header = "P" + std::to_string(kind) + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
  if (kind != 1 && kind != 4) header += "255\n";
  out.insert(out.end(), header.begin(), header.end());
  TextOut text(out);
  const RGBQuad* pal = image.GetPalette();
  for (int y = 0; y < h; ++y) {
    int row = h - 1 - y;
    if (kind == 4) {
      std::vector<uint8_t> bits(size_t((w + 7) / 8), 0);
      for (int x = 0; x < w; ++x) {
        RGBQuad c = image.GetPixelColor(x, row, false);
        if (c.red * 299 + c.green * 587 + c.blue * 114 < 128000) bits[size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
      }
      out.insert(out.end(), bits.begin(), bits.end());
      continue;
    }
    for (int x = 0; x < w; ++x) {
      RGBQuad c;
      if (image.GetBpp() <= 8 && pal)
        c = pal[image.GetPixelIndex(x, row) % image.GetNumColors()];
      else
        c = image.GetPixelColor(x, row, false);
      switch (kind) {
        case 1:
          text.Sample(c.red * 299 + c.green * 587 + c.blue * 114 < 128000 ? 1 : 0, true);
          break;
        case 2:
          text.Sample(c.red, false);
          break;
        case 3:
          text.Sample(c.red, false);
          text.Sample(c.green, false);
          text.Sample(c.blue, false);
          break;
        case 5:
          out.push_back(c.red);
          break;
        default:
          out.push_back(c.red);
          out.push_back(c.green);
          out.push_back(c.blue);
          break;
      }
    }
    if (kind <= 3) text.EndRow();
  }
  return true;
}

}  // namespace

extern const CodecInfo kCodecPnm = {FORMAT_PNM, "PNM", "pnm;pgm;ppm;pbm", Sniff, Decode, Encode};
