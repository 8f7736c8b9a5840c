// Encoding of the output formats: each writer turns the picture into the
// bytes of its file in memory (Encode). Putting them on disk (backup,
// temporary file, rename) and the metadata of JPEG and PNG outputs are the
// business of the output writer (output/write_output.h), so an encoder
// failure touches nothing on disk.
#include <vector>

#include "formats/extensions.h"
#include "formats/output_format.h"
#include "imaging/codecs/codec.h"
#include "imaging/image.h"
#include "imaging/metadata.h"
#include "imaging/metadata_ext.h"
#include "imaging/quantizer.h"

namespace {

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
  const OutputOptions& options = info.Options;
  std::vector<uint8_t> exif;
  if (options.MetadataAvailable)
    exif = BuildExifBlock(info.Items, info.ItemCount, image.GetExifBlock(), image.GetWidth(),
                          image.GetHeight(), options.Metadata);
  image.SetExifBlock(std::move(exif));
  std::vector<uint8_t> xmp;
  if (options.Metadata.KeepExisting && options.MetadataAvailable)
    xmp = BuildXmpPacket(image.GetXmpPacket(), sourcePath);
  image.SetXmpPacket(std::move(xmp));
}

void COutputFormat::Encode(CImage&, const std::string&, const SourceInfo&, EncodedOutput& out) {
  out.write = false;
  out.result = 0;
}

void CFormatJPEG::LendSettings(CImage& image) const {
  // The user's choices apply to every file, resized or not.
  uint32_t bits = 0x01;
  if (Progressive != 0) bits |= 0x10;
  if (OptimizeHuffmanCoding != 0) bits |= 0x08;
  if (Smoothing != 0) bits |= 0x40;
  image.SetJpegQuality(uint8_t(Quality & 0xFF));
  image.SetCodecOption(bits, FORMAT_JPG);
  if (Smoothing != 0) image.SetJpegSmoothing(uint8_t(Smoothing));
}

void CFormatJPEG::Encode(CImage& image, const std::string& /*sourcePath*/,
                         const SourceInfo& /*info*/, EncodedOutput& out) {
  out.extension = Extension();
  out.metadata = true;
  if (image.GetBpp() == 24) {
    // The caller's pixels are used as they are; only the encoder settings
    // are lent to the image and given back.
    const uint32_t oldBits = image.GetCodecOption(FORMAT_JPG);
    const uint8_t oldQuality = image.GetJpegQuality();
    const uint8_t oldSmoothing = image.GetJpegSmoothing();
    LendSettings(image);
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
    LendSettings(copy);
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

void CFormatQualityEffort::Encode(CImage& image, const std::string& sourcePath,
                                  const SourceInfo& info, EncodedOutput& out) {
  out.extension = Extension();
  EncodeWithMetadata(image, traits_.format, CodecOption(), sourcePath, info, out);
}
