// ICO codec: Windows icons and cursors, own code.
//
// Reading: every image of the icon directory is a frame (SetFrame picks
// one, GetNumFrames counts them). An entry is either a device-independent
// bitmap whose height counts the colour rows and the AND mask rows (the mask
// becomes the alpha plane; 32-bit entries use their own alpha channel when
// it is not zero everywhere) or a PNG stream, decoded by the PNG codec.
// Cursors (type 2) read the same way; their hot spot is not kept.
//
// Writing: a one-image icon (type 1) holding a bitmap entry: palette images
// at their own depth with their palette, 24-bit images as 24 bits, 24-bit
// images with an alpha plane as 32 bits with that alpha; every entry carries
// an AND mask with the pixels whose alpha is below 128 (alpha plane,
// transparent index or alpha palette). Icons are at most 256 x 256 pixels;
// larger images are refused with a reason.
#include <algorithm>
#include <cstring>
#include <string>

#include "imaging/byte_order.h"
#include "imaging/codecs/bmp_internal.h"
#include "imaging/codecs/codec.h"

namespace {

using byte_order::GetLe16;
using byte_order::GetLe32;
using byte_order::PutLe16;
using byte_order::PutLe32;

constexpr size_t kDirHeader = 6;
constexpr size_t kDirEntry = 16;
constexpr int kMaxIconSide = 256;
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool SniffIco(const uint8_t* data, size_t size) {
  if (size < kDirHeader + kDirEntry) return false;
  uint16_t type = GetLe16(data + 2);
  uint16_t count = GetLe16(data + 4);
  if (GetLe16(data) != 0 || (type != 1 && type != 2) || count == 0) return false;
  // The first entry's data must lie after the directory.
  uint32_t offset = GetLe32(data + kDirHeader + 12);
  return offset >= kDirHeader + kDirEntry * count;
}

bool DecodeIco(CImage& image, const uint8_t* data, size_t size) {
  auto fail = [&](const std::string& why) {
    image.SetLastError(why);
    return false;
  };
  if (size < kDirHeader) return fail("truncated icon directory");
  uint16_t type = GetLe16(data + 2);
  if (GetLe16(data) != 0 || (type != 1 && type != 2)) return fail("not an icon or cursor file");
  const int count = GetLe16(data + 4);
  if (count == 0) return fail("the icon directory is empty");
  if ((size - kDirHeader) / kDirEntry < size_t(count)) return fail("truncated icon directory");
  const int frame = image.GetFrame();
  if (frame < 0 || frame >= count)
    return fail("frame " + std::to_string(frame) + " does not exist (the file has " +
                std::to_string(count) + ")");

  const uint8_t* entry = data + kDirHeader + kDirEntry * size_t(frame);
  const uint32_t bytes = GetLe32(entry + 8);
  const uint32_t offset = GetLe32(entry + 12);
  if (offset >= size) return fail("the image data lies beyond the end of the file");
  // A size running past the end is cut to the file; the decoders then
  // report what is missing.
  const size_t length = bytes ? std::min<size_t>(bytes, size - offset) : size - offset;
  const uint8_t* image_data = data + offset;

  if (length >= sizeof kPngSignature &&
      std::memcmp(image_data, kPngSignature, sizeof kPngSignature) == 0) {
    const CodecInfo* png = FindCodec(FORMAT_PNG);
    if (!png || !png->decode) return fail("PNG icon entries need the PNG codec");
    CImage entryImage;
    if (!png->decode(entryImage, image_data, length) || !entryImage.IsValid())
      return fail("PNG entry: " + entryImage.GetLastError());
    entryImage.Transfer(image);
    image.SetFrame(frame);
  } else {
    dib::DibLayout layout;
    layout.icon = true;
    layout.format = FORMAT_ICO;
    if (!dib::DecodeDib(image, image_data, length, layout)) return false;
  }
  image.SetNumFrames(count);
  image.SetType(FORMAT_ICO);
  return true;
}

bool EncodeIco(const CImage& image, std::vector<uint8_t>& out) {
  const int w = image.GetWidth(), h = image.GetHeight();
  if (w > kMaxIconSide || h > kMaxIconSide) {
    image.SetLastError("ICO: icons are at most 256x256 pixels, this image is " +
                       std::to_string(w) + "x" + std::to_string(h));
    return false;
  }
  const int srcBpp = image.GetBpp();
  const bool alpha32 = srcBpp == 24 && image.AlphaIsValid();
  const int bpp = alpha32 ? 32 : srcBpp;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) {
    image.SetLastError("ICO: cannot write " + std::to_string(srcBpp) + " bits per pixel");
    return false;
  }
  const uint32_t colours = bpp <= 8 ? (1u << bpp) : 0;
  const size_t xorRow = DibRowBytes(w, bpp);
  const size_t andRow = DibRowBytes(w, 1);
  const uint32_t pixelBytes = uint32_t((xorRow + andRow) * size_t(h));
  const uint32_t dibBytes = 40 + colours * 4 + pixelBytes;
  const uint32_t offset = kDirHeader + kDirEntry;
  out.reserve(out.size() + offset + dibBytes);

  // Directory with one entry; 0 stands for 256.
  PutLe16(out, 0);
  PutLe16(out, 1);
  PutLe16(out, 1);
  out.push_back(uint8_t(w & 0xFF));
  out.push_back(uint8_t(h & 0xFF));
  out.push_back(uint8_t(bpp < 8 ? colours : 0));
  out.push_back(0);
  PutLe16(out, 1);  // planes
  PutLe16(out, uint32_t(bpp));
  PutLe32(out, dibBytes);
  PutLe32(out, offset);

  // BITMAPINFOHEADER: the height counts the colour and the mask rows.
  PutLe32(out, 40);
  PutLe32(out, uint32_t(w));
  PutLe32(out, uint32_t(h * 2));
  PutLe16(out, 1);
  PutLe16(out, uint32_t(bpp));
  PutLe32(out, 0);  // BI_RGB
  PutLe32(out, pixelBytes);
  PutLe32(out, 0);
  PutLe32(out, 0);
  PutLe32(out, colours);
  PutLe32(out, 0);
  const RGBQuad* pal = image.GetPalette();
  for (uint32_t i = 0; i < colours; ++i) {
    RGBQuad c = (pal && i < image.GetNumColors()) ? pal[i] : RGBQuad{};
    out.push_back(c.blue);
    out.push_back(c.green);
    out.push_back(c.red);
    out.push_back(0);
  }

  // Colour rows, bottom-up as the image keeps them.
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = image.GetBits(y);
    size_t start = out.size();
    if (bpp == 32) {
      const uint8_t* a = image.AlphaGetPointer(0, y);
      for (int x = 0; x < w; ++x) {
        out.push_back(row[3 * x]);
        out.push_back(row[3 * x + 1]);
        out.push_back(row[3 * x + 2]);
        out.push_back(a[x]);
      }
    } else {
      size_t used = (size_t(w) * bpp + 7) / 8;
      out.insert(out.end(), row, row + used);
    }
    out.resize(start + xorRow, 0);
  }
  // AND mask: 1 for transparent pixels.
  for (int y = 0; y < h; ++y) {
    size_t start = out.size();
    out.resize(start + andRow, 0);
    for (int x = 0; x < w; ++x)
      if (image.GetPixelColor(x, y, true).reserved < 128)
        out[start + size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
  }
  return true;
}

}  // namespace

extern const CodecInfo kCodecIco = {FORMAT_ICO, "ICO", "ico;cur", SniffIco, DecodeIco, EncodeIco};
