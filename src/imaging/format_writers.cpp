// Save of the output formats.
//
// Every writer encodes the picture into memory first (Encode), then prepares
// the target (read-only flag, backup as ".bak"), then writes the bytes to a
// temporary file in the target folder and renames it over the target
// (Write). So an encoder failure touches nothing on disk, and a failed or
// interrupted write never leaves half a file under the final name (the
// backup is a copy, so the target keeps its old content until the new file
// replaces it).
#include <cstdio>
#include <vector>

#include "engine/host.h"
#include "imaging/image.h"
#include "imaging/codecs/codec.h"
#include "imaging/metadata.h"
#include "imaging/metadata_ext.h"
#include "imaging/output_format.h"
#include "imaging/quantizer.h"
#include "output/output_names.h"
#include "output/safe_write.h"
#include "services/strings.h"
#include "settings/settings.h"

namespace {

// Message 124, naming the output base as it stands (without extension).
void ShowCannotCreate(const std::string& outputBase) {
  std::string pattern = LoadResString(IDS_CANNOT_CREATE_FILE);
  std::vector<char> buf(pattern.size() + outputBase.size() + 16);
  std::snprintf(buf.data(), buf.size(), pattern.c_str(), outputBase.c_str());
  HostMessage(buf.data(), std::string(), MB_OK | MB_ICONERROR);
}

// Encodes with the given format into out; on failure result 2 and the reason.
void EncodeAs(const CImage& image, int format, EncodedOutput& out) {
  out.write = true;
  if (!image.Encode(out.data, format)) {
    out.result = 2;
    out.error = image.GetLastError();
    out.data.clear();
  }
}

// Formats whose encoders write the image's EXIF block and XMP packet.
bool EmbedsMetadata(int format) {
  return format == FORMAT_WEBP || format == FORMAT_AVIF || format == FORMAT_JXL ||
         format == FORMAT_HEIF;
}

// Encodes with one of the container formats: the metadata goes into the
// image first, then the encoder of the codec table runs with option.
void EncodeWithMetadata(CImage& image, int format, uint32_t option, const std::string& sourcePath,
                        const SourceInfo& info, EncodedOutput& out) {
  const CodecInfo* codec = FindCodec(format);
  if (!codec || !codec->encode) {
    out.write = true;
    out.result = 2;
    out.error = std::string("no encoder for ") +
                (codec ? std::string(codec->name) : "\"" + out.extension + "\"") +
                " files is available";
    return;
  }
  PrepareEmbeddedMetadata(image, sourcePath, info);
  image.SetCodecOption(option, format);
  EncodeAs(image, format, out);
}

}  // namespace

void PrepareEmbeddedMetadata(CImage& image, const std::string& sourcePath,
                             const SourceInfo& info) {
  const CSettings& s = GetSettings();
  const MetadataWriteOptions options = MetadataOptionsFromSettings();
  std::vector<uint8_t> exif;
  if (s.GdiplusAvailable != 0)
    exif = BuildExifBlock(info.Items, info.ItemCount, image.GetExifBlock(), image.GetWidth(),
                          image.GetHeight(), options);
  image.SetExifBlock(std::move(exif));
  std::vector<uint8_t> xmp;
  if (options.KeepExisting && s.GdiplusAvailable != 0)
    xmp = BuildXmpPacket(image.GetXmpPacket(), sourcePath);
  image.SetXmpPacket(std::move(xmp));
}

void COutputFormat::Encode(CImage&, const std::string&, const SourceInfo&, EncodedOutput& out) {
  out.write = false;
  out.result = 0;
}

uint8_t COutputFormat::Write(EncodedOutput& out, std::string& outputBase,
                             const PropertyItemList* items, int propertyCount,
                             std::string* error) {
  if (!out.write && out.result == 0) return 0;  // the base class writes nothing
  if (out.result != 0) {
    if (error) *error = out.error;
    return out.result;
  }
  const CSettings& s = GetSettings();
  // The metadata goes into the encoded bytes, so that the output is written
  // once, complete (a second rewrite of the file on disk could replace what
  // another job has put there meanwhile); a failure leaves the bytes as
  // they were.
  if (out.metadata && (s.KeepExisting != 0 || s.UseUserComment != 0) && s.GdiplusAvailable != 0)
    AddMetadata(out.data, items, propertyCount, MetadataOptionsFromSettings());
  const std::string base = outputBase;
  std::string reason;
  if (!WriteOutputFile(outputBase, out.extension, s.Backup != 0, out.data, reason)) {
    outputBase = base;
    if (error) *error = reason;
    ShowCannotCreate(base);
    return 1;
  }
  return 0;
}

uint8_t COutputFormat::Save(CImage& image, const std::string& sourcePath, std::string& outputBase,
                            const PropertyItemList* items, int propertyCount,
                            const SourceInfo& info) {
  EncodedOutput out;
  SourceInfo withItems = info;
  if (withItems.Items == nullptr) {
    withItems.Items = items;
    withItems.ItemCount = propertyCount;
  }
  Encode(image, sourcePath, withItems, out);
  std::string error;
  uint8_t result = Write(out, outputBase, items, propertyCount, &error);
  if (result != 0 && !error.empty()) image.SetLastError(error);
  return result;
}

void CFormatJPEG::Encode(CImage& image, const std::string& /*sourcePath*/,
                         const SourceInfo& /*info*/, EncodedOutput& out) {
  // The user's choices apply to every file, resized or not.
  uint32_t bits = 0x01;
  if (Progressive != 0) bits |= 0x10;
  if (OptimizeHuffmanCoding != 0) bits |= 0x08;
  if (Smoothing != 0) bits |= 0x40;
  out.extension = Extension();
  out.metadata = true;
  if (image.GetBpp() == 24) {
    // The caller's pixels are used as they are; only the encoder settings
    // are lent to the image and given back.
    const uint32_t oldBits = image.GetCodecOption(FORMAT_JPG);
    const uint8_t oldQuality = image.GetJpegQuality();
    const uint8_t oldSmoothing = image.GetJpegSmoothing();
    image.SetJpegQuality(uint8_t(Quality & 0xFF));
    image.SetCodecOption(bits, FORMAT_JPG);
    if (Smoothing != 0) image.SetJpegSmoothing(uint8_t(Smoothing));
    EncodeAs(image, FORMAT_JPG, out);
    image.SetCodecOption(oldBits, FORMAT_JPG);
    image.SetJpegQuality(oldQuality);
    image.SetJpegSmoothing(oldSmoothing);
  } else {
    // A palette image is written in colour; the caller's image keeps its
    // palette.
    CImage copy;
    copy.Copy(image, true, true, true);
    copy.IncreaseBpp(24);
    copy.SetJpegQuality(uint8_t(Quality & 0xFF));
    copy.SetCodecOption(bits, FORMAT_JPG);
    if (Smoothing != 0) copy.SetJpegSmoothing(uint8_t(Smoothing));
    EncodeAs(copy, FORMAT_JPG, out);
  }
}

void CFormatPNG::Encode(CImage& image, const std::string& /*sourcePath*/,
                        const SourceInfo& /*info*/, EncodedOutput& out) {
  image.SetCodecOption(Interlaced != 0 ? 1 : 0, FORMAT_PNG);
  out.extension = Extension();
  out.metadata = true;
  EncodeAs(image, FORMAT_PNG, out);
}

void CFormatTIFF::Encode(CImage& image, const std::string& /*sourcePath*/,
                         const SourceInfo& /*info*/, EncodedOutput& out) {
  static const uint32_t kCompression[] = {1, 2, 3, 4, 5, 7, 32773};
  uint32_t value =
      (CompressionType >= 0 && CompressionType <= 6) ? kCompression[CompressionType] : 0;
  image.SetCodecOption(value, FORMAT_TIF);
  out.extension = Extension();
  EncodeAs(image, FORMAT_TIF, out);
}

void CFormatBMP::Encode(CImage& image, const std::string& /*sourcePath*/,
                        const SourceInfo& /*info*/, EncodedOutput& out) {
  out.extension = Extension();
  EncodeAs(image, FORMAT_BMP, out);
}

void CFormatGIF::Encode(CImage& image, const std::string& /*sourcePath*/,
                        const SourceInfo& /*info*/, EncodedOutput& out) {
  if (image.GetBpp() > 8) {
    if (PaletteType == 0 || PaletteType == 2) {
      image.DecreaseBpp(8, true, nullptr, 0);
    } else if (PaletteType == 1) {
      const uint32_t limit = uint32_t(PaletteLimitColors < 0 ? 0 : PaletteLimitColors);
      COctreeQuantizer quantizer(limit, limit <= 16 ? 8 : 7);
      std::vector<RGBQuad> table(256);
      if (const void* dib = image.GetDIB()) quantizer.ProcessImage(dib);
      quantizer.SetColorTable(table.data());
      image.DecreaseBpp(8, PaletteErrorDiffusion != 0, table.data(), limit);
    }
  }
  image.SetCodecOption(uint32_t(CompressionType), FORMAT_GIF);
  out.extension = Extension();
  EncodeAs(image, FORMAT_GIF, out);
}

void CFormatKeep::Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
                         EncodedOutput& out) {
  out.extension = FindExtension(sourcePath);
  if (info.SourceFormat == FORMAT_UNKNOWN) {
    out.result = 1;
    out.error = "the source format cannot be written";
    return;
  }
  if (EmbedsMetadata(info.SourceFormat)) {
    // WebP, AVIF, JPEG XL and HEIC sources: their metadata goes inside.
    EncodeWithMetadata(image, info.SourceFormat, info.SourceCodecOption, sourcePath, info, out);
    return;
  }
  image.SetCodecOption(info.SourceCodecOption, info.SourceFormat);
  // Written like every other format: with the backup the user asked for,
  // through a temporary file.
  EncodeAs(image, info.SourceFormat, out);
}

void CFormatWebP::Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
                         EncodedOutput& out) {
  out.extension = Extension();
  EncodeWithMetadata(image, FORMAT_WEBP, CodecOption(), sourcePath, info, out);
}

void CFormatAVIF::Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
                         EncodedOutput& out) {
  out.extension = Extension();
  EncodeWithMetadata(image, FORMAT_AVIF, CodecOption(), sourcePath, info, out);
}

void CFormatJXL::Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
                        EncodedOutput& out) {
  out.extension = Extension();
  EncodeWithMetadata(image, FORMAT_JXL, CodecOption(), sourcePath, info, out);
}
