// GIF codec: reading through giflib, writing with our own LZW encoder.
//
// Reading composes the frame that GetFrame() selects as a viewer shows it:
// every earlier frame is drawn onto the logical screen at its offset, with
// its transparent index skipped, and then disposed of as its graphics
// control extension says (0 and 1 leave it, 2 restores the background, 3
// restores what was there before). The screen starts transparent, as web
// browsers show it. Background restoring makes the area transparent when
// the frame has a transparent index, else paints the background colour of
// the global colour table. Frames after the selected one are only counted,
// their image data skipped without decoding; counting stops at kMaxFrames.
//
// The result is an 8-bit palette image when all visible pixels come from one
// colour table (the global one or a local one), with the transparent index
// kept; otherwise a 24-bit image with an alpha plane where transparent.
//
// Writing produces a one-frame GIF89a from palette images. A 24-bit image
// with at most 256 colours among its visible pixels (255 when some are
// transparent) gets exactly those colours as its palette, so a composed
// animation frame saved again loses nothing; other 24-bit images are reduced
// to the standard 8-bit palette with error diffusion on a copy.
// with a global colour table just large enough for the indices used and a
// graphics control extension when the image has a transparent index or
// transparent pixels (alpha below 128). The codec option of FORMAT_GIF picks
// the code stream: 0 LZW, 1 no compression (literal codes only, with clear
// codes often enough that the code size never grows), 2 RLE (only runs of one
// index, coded with codes the decoder's table will hold). All three are
// valid LZW streams that any GIF decoder reads.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "imaging/byte_order.h"
#include "imaging/codecs/codec.h"
#include "imaging/codecs/gif.h"
#include "imaging/image_internal.h"

namespace {

using byte_order::PutLe16;

// More frames than this are not counted (nor reachable by SetFrame).
constexpr int kMaxFrames = 100000;

// ---------------------------------------------------------------------------
// Reading

struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
  auto* r = static_cast<MemoryReader*>(gif->UserData);
  if (length <= 0) return 0;
  size_t n = std::min(size_t(length), r->size - r->pos);
  std::memcpy(buffer, r->data + r->pos, n);
  r->pos += n;
  return int(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

using Palette = std::array<RGBQuad, 256>;

std::string GifError(const GifFileType* gif, int fallback = 0) {
  int code = gif ? gif->Error : fallback;
  const char* text = GifErrorString(code);
  return text ? std::string(text) : "error " + std::to_string(code);
}

Palette MakePalette(const ColorMapObject* map) {
  Palette pal{};
  if (!map || !map->Colors) {
    // No colour table at all: show the indices as greys.
    for (int i = 0; i < 256; ++i) pal[i] = RGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return pal;
  }
  int n = std::clamp(map->ColorCount, 0, 256);
  for (int i = 0; i < n; ++i)
    pal[i] = RGBQuad{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 0};
  return pal;
}

// The logical screen while frames are composed: per pixel a palette index
// and a tag naming the colour table it belongs to (0: transparent).
class Canvas {
 public:
  bool Init(int width, int height) {
    width_ = width;
    height_ = height;
    size_t n = size_t(width) * size_t(height);
    index_.assign(n, 0);
    tag_.assign(n, 0);
    return true;
  }
  int width() const { return width_; }
  int height() const { return height_; }
  uint8_t* Index(int x, int y) { return index_.data() + size_t(y) * width_ + x; }
  uint16_t* Tag(int x, int y) { return tag_.data() + size_t(y) * width_ + x; }
  const std::vector<uint8_t>& indices() const { return index_; }
  const std::vector<uint16_t>& tags() const { return tag_; }

  // The frame rectangle clipped to the screen; false when nothing is left.
  bool Clip(int left, int top, int w, int h, int& x0, int& y0, int& x1, int& y1) const {
    x0 = std::max(left, 0);
    y0 = std::max(top, 0);
    x1 = std::min(left + w, width_);
    y1 = std::min(top + h, height_);
    return x0 < x1 && y0 < y1;
  }
  void Fill(int x0, int y0, int x1, int y1, uint8_t index, uint16_t tag) {
    for (int y = y0; y < y1; ++y) {
      std::fill(Index(x0, y), Index(x1, y), index);
      std::fill(Tag(x0, y), Tag(x1, y), tag);
    }
  }
  // Saves or restores a rectangle (disposal "restore to previous").
  void Save(int x0, int y0, int x1, int y1, std::vector<uint8_t>& idx,
            std::vector<uint16_t>& tag) {
    idx.clear();
    tag.clear();
    for (int y = y0; y < y1; ++y) {
      idx.insert(idx.end(), Index(x0, y), Index(x1, y));
      tag.insert(tag.end(), Tag(x0, y), Tag(x1, y));
    }
  }
  void Restore(int x0, int y0, int x1, int y1, const std::vector<uint8_t>& idx,
               const std::vector<uint16_t>& tag) {
    size_t w = size_t(x1 - x0), at = 0;
    for (int y = y0; y < y1; ++y, at += w) {
      std::copy(idx.begin() + at, idx.begin() + at + w, Index(x0, y));
      std::copy(tag.begin() + at, tag.begin() + at + w, Tag(x0, y));
    }
  }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> index_;
  std::vector<uint16_t> tag_;
};

// Distinct colour tables met while composing; tag = position + 1. Found
// by a hash of their contents, so that long animations with a table per
// frame stay linear.
class PaletteSet {
 public:
  // Tag of the table, adding it when new; 0 when there are too many.
  uint16_t TagOf(const Palette& pal) {
    uint64_t hash = 1469598103934665603ull;
    for (const RGBQuad& c : pal) {
      uint32_t v = uint32_t(c.blue) | (uint32_t(c.green) << 8) | (uint32_t(c.red) << 16);
      hash = (hash ^ v) * 1099511628211ull;
    }
    std::vector<uint16_t>& bucket = index_[hash];
    for (uint16_t tag : bucket)
      if (palettes_[tag - 1] == pal) return tag;
    if (palettes_.size() >= 0xFFFE) return 0;
    palettes_.push_back(pal);
    bucket.push_back(uint16_t(palettes_.size()));
    return uint16_t(palettes_.size());
  }
  const Palette& Get(uint16_t tag) const { return palettes_[tag - 1]; }

 private:
  std::vector<Palette> palettes_;
  std::unordered_map<uint64_t, std::vector<uint16_t>> index_;
};

// Row order of an interlaced frame: the four passes.
std::vector<int> RowOrder(int height, bool interlaced) {
  std::vector<int> order;
  order.reserve(size_t(height));
  if (!interlaced) {
    for (int y = 0; y < height; ++y) order.push_back(y);
    return order;
  }
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
  return order;
}

// Skips the image data of a frame that is only counted.
bool SkipImageData(GifFileType* gif) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
  while (block) {
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// Turns the composed screen into the image (see the file comment).
bool BuildImage(CImage& image, const Canvas& canvas, const PaletteSet& palettes,
                uint16_t targetTag, int targetTransparent) {
  const int w = canvas.width(), h = canvas.height();
  const std::vector<uint8_t>& idx = canvas.indices();
  const std::vector<uint16_t>& tag = canvas.tags();
  const size_t n = idx.size();

  uint16_t only = 0;
  bool single = true, anyTransparent = false;
  bool used[256] = {};
  for (size_t i = 0; i < n; ++i) {
    uint16_t t = tag[i];
    if (t == 0) {
      anyTransparent = true;
    } else if (only == 0 || t == only) {
      only = t;
      used[idx[i]] = true;
    } else {
      single = false;
    }
  }
  if (single) {
    if (only == 0) only = targetTag;  // nothing visible: the frame's own table
    int trans = -1;
    if (anyTransparent || (targetTransparent >= 0 && only == targetTag)) {
      if (targetTransparent >= 0 && only == targetTag && !used[targetTransparent]) {
        trans = targetTransparent;
      } else if (anyTransparent) {
        for (int i = 0; i < 256 && trans < 0; ++i)
          if (!used[i]) trans = i;
        if (trans < 0) single = false;  // every index is visible: go 24-bit
      }
    }
    if (single) {
      if (!image.Create(w, h, 8, FORMAT_GIF)) return false;
      image.SetPalette(palettes.Get(only).data(), 256);
      for (int y = 0; y < h; ++y) {
        uint8_t* row = image.TopRow(y);
        const size_t at = size_t(y) * w;
        for (int x = 0; x < w; ++x) row[x] = tag[at + x] ? idx[at + x] : uint8_t(trans);
      }
      image.SetTransIndex(trans);
      return true;
    }
  }
  if (!image.Create(w, h, 24, FORMAT_GIF)) return false;
  if (anyTransparent) image.AlphaCreate();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.TopRow(y);
    uint8_t* alpha = anyTransparent ? image.AlphaGetPointer(0, h - 1 - y) : nullptr;
    const size_t at = size_t(y) * w;
    for (int x = 0; x < w; ++x) {
      uint16_t t = tag[at + x];
      if (t == 0) {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 0;
        alpha[x] = 0;
        continue;
      }
      const RGBQuad& c = palettes.Get(t)[idx[at + x]];
      row[3 * x] = c.blue;
      row[3 * x + 1] = c.green;
      row[3 * x + 2] = c.red;
      if (alpha) alpha[x] = 255;
    }
  }
  return true;
}

bool SniffGif(const uint8_t* data, size_t size) {
  return size >= 6 && std::memcmp(data, "GIF8", 4) == 0 && (data[4] == '7' || data[4] == '9') &&
         data[5] == 'a';
}

// Composes the frames of a GIF. Without each: the frame image.GetFrame()
// into image. With each: every frame in turn into image, handed to each
// after it is drawn and before it is disposed of; a false from each ends the
// pass.
bool ComposeGif(CImage& image, const uint8_t* data, size_t size,
                const std::function<bool(CImage&)>* each) {
  auto fail = [&](const std::string& why) {
    image.SetLastError(why);
    return false;
  };
  const int target = each ? kMaxFrames : image.GetFrame();
  if (target < 0) return fail("invalid frame number " + std::to_string(target));

  MemoryReader reader{data, size, 0};
  int openError = 0;
  GifHandle gif(DGifOpen(&reader, ReadFromMemory, &openError));
  if (!gif) return fail(GifError(nullptr, openError));

  const Palette globalPalette = MakePalette(gif->SColorMap);
  const bool hasGlobal = gif->SColorMap != nullptr;
  const int background = gif->SBackGroundColor;

  Canvas canvas;
  PaletteSet palettes;
  bool canvasReady = false;
  GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  int frames = 0;
  uint16_t targetTag = 0;
  int targetTransparent = -1;
  std::vector<uint8_t> line, savedIdx;
  std::vector<uint16_t> savedTag;

  // Errors before the selected frame is complete fail the load; after it
  // they only end the counting (a missing trailer is common).
  auto broken = [&](const std::string& what) {
    if (frames > target) return true;
    return fail(what + ": " + GifError(gif.get()));
  };

  bool reading = true;
  while (reading && frames < kMaxFrames) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
      if (!broken("damaged file")) return false;
      break;
    }
    switch (record) {
      case EXTENSION_RECORD_TYPE: {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) {
          if (!broken("damaged extension")) return false;
          reading = false;
          break;
        }
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] == 4)
          DGifExtensionToGCB(4, block + 1, &gcb);
        while (block) {
          if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
            if (!broken("damaged extension")) return false;
            reading = false;
            break;
          }
        }
        break;
      }
      case IMAGE_DESC_RECORD_TYPE: {
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
          if (!broken("damaged frame header")) return false;
          reading = false;
          break;
        }
        // giflib keeps a copy of every frame header; drop them as we go so
        // that memory does not grow with the number of frames.
        GifFreeSavedImages(gif.get());
        gif->ImageCount = 0;
        const GifImageDesc& desc = gif->Image;
        if (frames > target) {
          // Only counted.
          if (!SkipImageData(gif.get())) {
            reading = false;
            break;
          }
          ++frames;
          gcb = GraphicsControlBlock{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
          break;
        }
        if (!canvasReady) {
          int cw = gif->SWidth, ch = gif->SHeight;
          if (cw <= 0 || ch <= 0) {
            // No logical screen: the first frame's extent.
            cw = desc.Left + desc.Width;
            ch = desc.Top + desc.Height;
          }
          if (!image.CheckDimensions(cw, ch, nullptr)) return false;
          canvas.Init(cw, ch);
          canvasReady = true;
        }
        if (desc.Width > 0 && desc.Height > 0 &&
            !image.CheckDimensions(desc.Width, desc.Height, nullptr))
          return false;
        const Palette framePalette = desc.ColorMap ? MakePalette(desc.ColorMap) : globalPalette;
        const uint16_t frameTag = palettes.TagOf(framePalette);
        if (frameTag == 0) return fail("too many different colour tables");
        const int trans = gcb.TransparentColor;
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        const bool visible =
            canvas.Clip(desc.Left, desc.Top, desc.Width, desc.Height, x0, y0, x1, y1);
        const bool isTarget = frames == target;
        if (!isTarget && gcb.DisposalMode == DISPOSE_PREVIOUS && visible)
          canvas.Save(x0, y0, x1, y1, savedIdx, savedTag);

        if (desc.Width <= 0 || desc.Height <= 0) {
          if (!SkipImageData(gif.get())) return fail("damaged frame: " + GifError(gif.get()));
        } else {
          line.assign(size_t(desc.Width), 0);
          for (int row : RowOrder(desc.Height, desc.Interlace)) {
            if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR)
              return fail("frame " + std::to_string(frames) + ": " + GifError(gif.get()));
            int y = desc.Top + row;
            if (!visible || y < y0 || y >= y1) continue;
            const uint8_t* src = line.data() + (x0 - desc.Left);
            uint8_t* di = canvas.Index(x0, y);
            uint16_t* dt = canvas.Tag(x0, y);
            for (int x = 0; x < x1 - x0; ++x) {
              if (src[x] == trans) continue;
              di[x] = src[x];
              dt[x] = frameTag;
            }
          }
        }

        if (each) {
          if (!BuildImage(image, canvas, palettes, frameTag, trans)) return false;
          image.SetNumFrames(frames + 1);
          image.SetType(FORMAT_GIF);
          image.SetCodecOption(0, FORMAT_GIF);
          if (!(*each)(image)) return true;
        }
        if (isTarget) {
          targetTag = frameTag;
          targetTransparent = trans;
        } else if (visible) {
          if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
            if (trans >= 0 || !hasGlobal) {
              canvas.Fill(x0, y0, x1, y1, 0, 0);
            } else {
              uint16_t bgTag = palettes.TagOf(globalPalette);
              if (bgTag == 0) return fail("too many different colour tables");
              canvas.Fill(x0, y0, x1, y1, uint8_t(std::clamp(background, 0, 255)), bgTag);
            }
          } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
            canvas.Restore(x0, y0, x1, y1, savedIdx, savedTag);
          }
        }
        ++frames;
        gcb = GraphicsControlBlock{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        break;
      }
      case TERMINATE_RECORD_TYPE:
        reading = false;
        break;
      default:
        break;
    }
  }

  if (frames == 0) return fail("no image in the file");
  if (each) return true;
  if (target >= frames)
    return fail("frame " + std::to_string(target) + " does not exist (the file has " +
                std::to_string(frames) + ")");
  if (!BuildImage(image, canvas, palettes, targetTag, targetTransparent)) return false;
  image.SetNumFrames(frames);
  image.SetType(FORMAT_GIF);
  image.SetCodecOption(0, FORMAT_GIF);
  return true;
}

bool DecodeGif(CImage& image, const uint8_t* data, size_t size) {
  return ComposeGif(image, data, size, nullptr);
}

// ---------------------------------------------------------------------------
// Writing

// Packs variable-length codes, least significant bit first.
class BitPacker {
 public:
  void Put(uint32_t code, int bits) {
    acc_ |= code << count_;
    count_ += bits;
    while (count_ >= 8) {
      bytes_.push_back(uint8_t(acc_));
      acc_ >>= 8;
      count_ -= 8;
    }
  }
  std::vector<uint8_t>& Finish() {
    if (count_ > 0) bytes_.push_back(uint8_t(acc_));
    acc_ = 0;
    count_ = 0;
    return bytes_;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t acc_ = 0;
  int count_ = 0;
};

// Writes codes with the width the decoder will read them at: it follows the
// decoder's table (its next free code and code size) exactly.
class CodeWriter {
 public:
  explicit CodeWriter(int minCodeSize)
      : minSize_(minCodeSize), clear_(1 << minCodeSize), eoi_(clear_ + 1) {
    Reset();
  }
  int clear() const { return clear_; }
  int eoi() const { return eoi_; }
  // The code the decoder's next new table entry will get.
  int next() const { return next_; }
  int size() const { return size_; }
  // True when the decoder adds a table entry on reading the next code.
  bool AddsEntry() const { return havePrev_ && next_ < 4096; }

  void Emit(int code) {
    bits_.Put(uint32_t(code), size_);
    if (code == clear_) {
      Reset();
      return;
    }
    if (code == eoi_) return;
    if (havePrev_ && next_ < 4096) {
      ++next_;
      if (next_ == (1 << size_) && size_ < 12) ++size_;
    }
    havePrev_ = true;
  }
  std::vector<uint8_t>& Finish() { return bits_.Finish(); }

 private:
  void Reset() {
    size_ = minSize_ + 1;
    next_ = clear_ + 2;
    havePrev_ = false;
  }
  BitPacker bits_;
  int minSize_;
  int clear_;
  int eoi_;
  int size_ = 0;
  int next_ = 0;
  bool havePrev_ = false;
};

// Classic LZW with a hashed string table; starts over with a clear code
// when the table is full.
void EncodeLzw(const std::vector<uint8_t>& pixels, CodeWriter& out) {
  constexpr int kSlots = 8192;
  std::vector<int32_t> keys(kSlots, -1);
  std::vector<uint16_t> codes(kSlots, 0);
  int next = out.clear() + 2;
  out.Emit(out.clear());
  int w = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    const int k = pixels[i];
    const int32_t key = (w << 8) | k;
    uint32_t slot = (uint32_t(key) * 2654435761u) >> 19;
    bool found = false;
    while (keys[slot] != -1) {
      if (keys[slot] == key) {
        found = true;
        break;
      }
      slot = (slot + 1) & (kSlots - 1);
    }
    if (found) {
      w = codes[slot];
      continue;
    }
    out.Emit(w);
    if (next < 4096) {
      keys[slot] = key;
      codes[slot] = uint16_t(next++);
    }
    if (next == 4096) {
      out.Emit(out.clear());
      std::fill(keys.begin(), keys.end(), -1);
      next = out.clear() + 2;
    }
    w = k;
  }
  out.Emit(w);
  out.Emit(out.eoi());
}

// Every pixel as a literal code. The decoder still grows its table by one
// entry per code; a clear code before the table reaches the next power of
// two keeps every code at minimum size + 1 bits.
void EncodeLiteral(const std::vector<uint8_t>& pixels, CodeWriter& out) {
  out.Emit(out.clear());
  const int firstSize = out.size();
  for (uint8_t p : pixels) {
    // One more literal would make the decoder widen its codes.
    if (out.AddsEntry() && out.next() + 1 >= (1 << firstSize)) out.Emit(out.clear());
    out.Emit(p);
  }
  out.Emit(out.eoi());
}

// Run-length coding inside LZW: only strings of one repeated index are
// sent. The encoder follows the decoder's table; an entry made of a run of
// index c of length n followed by another c is the run of length n + 1, and
// the code the decoder is about to define can be sent when it extends the
// run just sent (the decoder resolves it from the previous string). A run
// of length L thus takes about sqrt(2L) codes the first time and fewer once
// its lengths are in the table.
void EncodeRle(const std::vector<uint8_t>& pixels, CodeWriter& out) {
  // runCodes[c][n - 1]: a code for c repeated n times (n = 1 is the literal).
  std::vector<std::vector<uint16_t>> runCodes(256);
  auto resetTable = [&] {
    for (int c = 0; c < 256; ++c) runCodes[c].assign(1, uint16_t(c));
  };
  resetTable();
  out.Emit(out.clear());
  int prevColour = -1;  // the string of the last code: prevColour x prevLen
  size_t prevLen = 0;

  size_t i = 0;
  while (i < pixels.size()) {
    const uint8_t c = pixels[i];
    size_t run = 1;
    while (i + run < pixels.size() && pixels[i + run] == c) ++run;
    size_t left = run;
    while (left > 0) {
      if (out.next() >= 4095) {
        out.Emit(out.clear());
        resetTable();
        prevColour = -1;
        prevLen = 0;
      }
      const std::vector<uint16_t>& known = runCodes[c];
      size_t len = std::min(left, known.size());
      int code = known[len - 1];
      const bool adds = out.AddsEntry();
      if (adds && prevColour == c && prevLen + 1 <= left && prevLen + 1 > len) {
        // The entry being defined: previous run plus one more c.
        len = prevLen + 1;
        code = out.next();
      }
      const int entry = out.next();
      out.Emit(code);
      if (adds && prevColour == c && prevLen + 1 == runCodes[c].size() + 1)
        runCodes[c].push_back(uint16_t(entry));
      prevColour = c;
      prevLen = len;
      left -= len;
    }
    i += run;
  }
  out.Emit(out.eoi());
}

// The pixels of a palette image as indices, top row first, and the
// transparent index to write (-1: none).
bool PrepareIndices(const CImage& img, const CImage& original, std::vector<uint8_t>& pixels,
                    int& trans, std::vector<RGBQuad>& palette) {
  const int w = img.GetWidth(), h = img.GetHeight();
  const int bpp = img.GetBpp();
  pixels.resize(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = img.TopRow(y);
    uint8_t* dst = pixels.data() + size_t(y) * w;
    if (bpp == 8) {
      std::memcpy(dst, row, size_t(w));
    } else if (bpp == 4) {
      for (int x = 0; x < w; ++x) dst[x] = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    } else {
      for (int x = 0; x < w; ++x) dst[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
  }
  palette.assign(256, RGBQuad{});
  const RGBQuad* pal = img.GetPalette();
  for (uint32_t i = 0; pal && i < img.GetNumColors() && i < 256; ++i)
    palette[i] = RGBQuad{pal[i].blue, pal[i].green, pal[i].red, 0};

  // Which pixels are transparent: below half alpha in the alpha plane, an
  // entry of an alpha palette below half, or the transparent index.
  const long declared = img.GetTransIndex();
  const bool alphaPal = img.AlphaPaletteIsEnabled() && pal;
  const uint8_t* alphaPlane = original.AlphaIsValid() && original.GetWidth() == w &&
                                      original.GetHeight() == h
                                  ? original.AlphaGetPointer()
                                  : nullptr;
  std::vector<uint8_t> clear;
  bool anyClear = false;
  if (alphaPlane || alphaPal || declared >= 0) {
    clear.assign(pixels.size(), 0);
    for (int y = 0; y < h; ++y) {
      const uint8_t* a = alphaPlane ? alphaPlane + size_t(h - 1 - y) * w : nullptr;
      for (int x = 0; x < w; ++x) {
        size_t i = size_t(y) * w + x;
        uint8_t p = pixels[i];
        bool c = (a && a[x] < 128) || p == declared ||
                 (alphaPal && p < img.GetNumColors() && pal[p].reserved < 128);
        clear[i] = c;
        anyClear |= c;
      }
    }
  }
  trans = -1;
  if (!anyClear) {
    if (declared >= 0 && declared < 256) trans = int(declared);
    return true;
  }
  size_t counts[256] = {};
  for (size_t i = 0; i < pixels.size(); ++i)
    if (!clear[i]) ++counts[pixels[i]];
  if (declared >= 0 && declared < 256 && counts[declared] == 0) {
    trans = int(declared);
  } else {
    for (int i = 0; i < 256 && trans < 0; ++i)
      if (counts[i] == 0) trans = i;
  }
  if (trans < 0) {
    // Every index is visible somewhere: free the least used one by moving
    // its pixels to the nearest other colour.
    int least = int(std::min_element(counts, counts + 256) - counts);
    int best = least == 0 ? 1 : 0;
    long bestDist = -1;
    for (int i = 0; i < 256; ++i) {
      if (i == least) continue;
      long db = long(palette[i].blue) - palette[least].blue;
      long dg = long(palette[i].green) - palette[least].green;
      long dr = long(palette[i].red) - palette[least].red;
      long d = db * db + dg * dg + dr * dr;
      if (bestDist < 0 || d < bestDist) bestDist = d, best = i;
    }
    for (size_t i = 0; i < pixels.size(); ++i)
      if (!clear[i] && pixels[i] == least) pixels[i] = uint8_t(best);
    trans = least;
  }
  for (size_t i = 0; i < pixels.size(); ++i)
    if (clear[i]) pixels[i] = uint8_t(trans);
  return true;
}

// An 8-bit copy of a 24-bit image with exactly its colours, when the visible
// pixels (alpha 128 or more) have few enough of them; false otherwise.
bool ExactPalette(const CImage& image, CImage& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  bool anyClear = false;
  std::unordered_map<uint32_t, uint8_t> colours;
  std::vector<RGBQuad> palette;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = image.GetBits(y);
    const uint8_t* alpha = image.AlphaGetPointer(0, y);
    uint32_t last = 0xFFFFFFFF;
    for (int x = 0; x < w; ++x) {
      if (alpha && alpha[x] < 128) {
        anyClear = true;
        continue;
      }
      uint32_t c = uint32_t(row[3 * x]) | (uint32_t(row[3 * x + 1]) << 8) |
                   (uint32_t(row[3 * x + 2]) << 16);
      if (c == last || colours.count(c)) {
        last = c;
        continue;
      }
      if (palette.size() == 256) return false;
      colours.emplace(c, uint8_t(palette.size()));
      palette.push_back(RGBQuad{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0});
      last = c;
    }
  }
  if (anyClear && palette.size() == 256) return false;
  if (!out.Create(w, h, 8, FORMAT_GIF)) return false;
  out.SetPalette(palette.data(), int(palette.size()));
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = image.GetBits(y);
    const uint8_t* alpha = image.AlphaGetPointer(0, y);
    uint8_t* dst = out.GetBits(y);
    for (int x = 0; x < w; ++x) {
      if (alpha && alpha[x] < 128) continue;  // the alpha plane marks them
      uint32_t c = uint32_t(row[3 * x]) | (uint32_t(row[3 * x + 1]) << 8) |
                   (uint32_t(row[3 * x + 2]) << 16);
      dst[x] = colours[c];
    }
  }
  return true;
}

bool EncodeGif(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  if (w > 0xFFFF || h > 0xFFFF) {
    image.SetLastError("GIF: images are limited to 65535 pixels a side");
    return false;
  }
  const CImage* img = &image;
  CImage reduced;
  if (image.GetBpp() > 8) {
    if (ExactPalette(image, reduced)) {
      img = &reduced;
    } else if (!reduced.Copy(image) || !reduced.DecreaseBpp(8, true)) {
      image.SetLastError("GIF: cannot reduce the colours: " + reduced.GetLastError());
      return false;
    }
    img = &reduced;
  }
  std::vector<uint8_t> pixels;
  std::vector<RGBQuad> palette;
  int trans = -1;
  if (!PrepareIndices(*img, image, pixels, trans, palette)) return false;

  int highest = std::max(int(*std::max_element(pixels.begin(), pixels.end())), trans);
  int bits = 1;
  while ((1 << bits) <= highest) ++bits;
  const int tableSize = 1 << bits;
  const int minCodeSize = std::max(2, bits);

  uint32_t mode = image.GetCodecOption(FORMAT_GIF);
  CodeWriter codes(minCodeSize);
  if (mode == 1)
    EncodeLiteral(pixels, codes);
  else if (mode == 2)
    EncodeRle(pixels, codes);
  else
    EncodeLzw(pixels, codes);
  std::vector<uint8_t>& stream = codes.Finish();

  out.reserve(out.size() + 13 + size_t(tableSize) * 3 + 8 + 10 + stream.size() * 256 / 255 + 4);
  const char* signature = "GIF89a";
  out.insert(out.end(), signature, signature + 6);
  // Logical screen: global table, colour resolution = table bits.
  PutLe16(out, w);
  PutLe16(out, h);
  out.push_back(uint8_t(0x80 | ((bits - 1) << 4) | (bits - 1)));
  out.push_back(0);  // background index
  out.push_back(0);  // no aspect ratio
  for (int i = 0; i < tableSize; ++i) {
    out.push_back(palette[size_t(i)].red);
    out.push_back(palette[size_t(i)].green);
    out.push_back(palette[size_t(i)].blue);
  }
  if (trans >= 0) {
    // Graphics control extension: transparent index, no delay, no disposal.
    const uint8_t gce[] = {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, uint8_t(trans), 0x00};
    out.insert(out.end(), gce, gce + sizeof gce);
  }
  out.push_back(0x2C);  // image descriptor
  PutLe16(out, 0);
  PutLe16(out, 0);
  PutLe16(out, w);
  PutLe16(out, h);
  out.push_back(0);
  out.push_back(uint8_t(minCodeSize));
  for (size_t at = 0; at < stream.size(); at += 255) {
    size_t n = std::min<size_t>(255, stream.size() - at);
    out.push_back(uint8_t(n));
    out.insert(out.end(), stream.begin() + long(at), stream.begin() + long(at + n));
  }
  out.push_back(0);     // end of the image data
  out.push_back(0x3B);  // trailer
  return true;
}

}  // namespace

bool LoadGifFrames(const std::string& path, CImage& frame,
                   const std::function<bool(CImage& frame)>& each) {
  std::vector<uint8_t> data;
  std::string error;
  if (!imaging_detail::ReadWholeFile(path, data, error)) {
    frame.SetLastError(path + ": " + error);
    return false;
  }
  return ComposeGif(frame, data.data(), data.size(), &each);
}

extern const CodecInfo kCodecGif = {FORMAT_GIF, "GIF", "gif", SniffGif, DecodeGif, EncodeGif};
