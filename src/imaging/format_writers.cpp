// Save of the six output formats.
//
// Every writer encodes the picture into memory first, then prepares the
// target (read-only flag, backup as ".bak"), then writes the bytes to a
// temporary file in the target folder and renames it over the target. So an
// encoder failure touches nothing on disk, and a failed or interrupted write
// never leaves half a file under the final name (the backup is a copy, so the
// target keeps its old content until the new file replaces it).
#include <cstdio>
#include <vector>

#include "engine/host.h"
#include "imaging/image.h"
#include "imaging/metadata.h"
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

// Prepares the target and writes the encoded bytes. Returns the result code
// of Save: 0 written (outputBase then holds the final name), 1 not prepared
// or not writable (message shown).
uint8_t WriteOutput(const std::vector<uint8_t>& data, std::string& outputBase,
                    const std::string& extension, CImage& image) {
  const bool backup = GetSettings().Backup != 0;
  const std::string base = outputBase;
  std::string reason;
  if (!PrepareOutputFile(outputBase, extension, backup, &reason)) {
    image.SetLastError(reason);
    ShowCannotCreate(base);
    return 1;
  }
  if (!WriteFileReplacing(outputBase, data, reason)) {
    // The target keeps its old content (the backup is a copy), and no
    // temporary file is left behind.
    outputBase = base;
    image.SetLastError(reason);
    ShowCannotCreate(base);
    return 1;
  }
  return 0;
}

// Encodes with the given format; on failure the reason stays in image.
bool EncodeTo(const CImage& source, CImage& errorSink, int format, std::vector<uint8_t>& data) {
  if (source.Encode(data, format)) return true;
  if (&source != &errorSink) errorSink.SetLastError(source.GetLastError());
  return false;
}

// JPEG and PNG outputs get the metadata when the settings ask for it.
void RewriteMetadata(const std::string& finalPath, const PropertyItemList* items, int count) {
  const CSettings& s = GetSettings();
  if ((s.KeepExisting != 0 || s.UseUserComment != 0) && s.GdiplusAvailable != 0)
    WriteMetadata(finalPath, items, count);
}

}  // namespace

uint8_t COutputFormat::Save(CImage&, const std::string&, std::string&, const PropertyItemList*,
                            int, const SourceInfo&) {
  return 0;
}

uint8_t CFormatJPEG::Save(CImage& image, const std::string& /*sourcePath*/,
                          std::string& outputBase, const PropertyItemList* items,
                          int propertyCount, const SourceInfo& /*info*/) {
  // The user's choices apply to every file, resized or not.
  uint32_t bits = 0x01;
  if (Progressive != 0) bits |= 0x10;
  if (OptimizeHuffmanCoding != 0) bits |= 0x08;
  if (Smoothing != 0) bits |= 0x40;

  std::vector<uint8_t> data;
  bool encoded;
  if (image.GetBpp() == 24) {
    // The caller's pixels are used as they are; only the encoder settings
    // are lent to it and given back.
    const uint32_t oldBits = image.GetCodecOption(FORMAT_JPG);
    const uint8_t oldQuality = image.GetJpegQuality();
    const uint8_t oldSmoothing = image.GetJpegSmoothing();
    image.SetJpegQuality(uint8_t(Quality & 0xFF));
    image.SetCodecOption(bits, FORMAT_JPG);
    if (Smoothing != 0) image.SetJpegSmoothing(uint8_t(Smoothing));
    encoded = EncodeTo(image, image, FORMAT_JPG, data);
    image.SetCodecOption(oldBits, FORMAT_JPG);
    image.SetJpegQuality(oldQuality);
    image.SetJpegSmoothing(oldSmoothing);
  } else {
    CImage copy;
    copy.Copy(image, true, true, true);
    copy.IncreaseBpp(24);
    copy.SetJpegQuality(uint8_t(Quality & 0xFF));
    copy.SetCodecOption(bits, FORMAT_JPG);
    if (Smoothing != 0) copy.SetJpegSmoothing(uint8_t(Smoothing));
    encoded = EncodeTo(copy, image, FORMAT_JPG, data);
  }
  if (!encoded) return 2;
  uint8_t result = WriteOutput(data, outputBase, Extension(), image);
  if (result == 0) RewriteMetadata(outputBase, items, propertyCount);
  return result;
}

uint8_t CFormatPNG::Save(CImage& image, const std::string& /*sourcePath*/,
                         std::string& outputBase, const PropertyItemList* items,
                         int propertyCount, const SourceInfo& /*info*/) {
  image.SetCodecOption(Interlaced != 0 ? 1 : 0, FORMAT_PNG);
  std::vector<uint8_t> data;
  if (!EncodeTo(image, image, FORMAT_PNG, data)) return 2;
  uint8_t result = WriteOutput(data, outputBase, Extension(), image);
  if (result == 0) RewriteMetadata(outputBase, items, propertyCount);
  return result;
}

uint8_t CFormatTIFF::Save(CImage& image, const std::string& /*sourcePath*/,
                          std::string& outputBase, const PropertyItemList* /*items*/,
                          int /*propertyCount*/, const SourceInfo& /*info*/) {
  static const uint32_t kCompression[] = {1, 2, 3, 4, 5, 7, 32773};
  uint32_t value = (CompressionType >= 0 && CompressionType <= 6) ? kCompression[CompressionType] : 0;
  image.SetCodecOption(value, FORMAT_TIF);
  std::vector<uint8_t> data;
  if (!EncodeTo(image, image, FORMAT_TIF, data)) return 2;
  return WriteOutput(data, outputBase, Extension(), image);
}

uint8_t CFormatBMP::Save(CImage& image, const std::string& /*sourcePath*/,
                         std::string& outputBase, const PropertyItemList* /*items*/,
                         int /*propertyCount*/, const SourceInfo& /*info*/) {
  std::vector<uint8_t> data;
  if (!EncodeTo(image, image, FORMAT_BMP, data)) return 2;
  return WriteOutput(data, outputBase, Extension(), image);
}

uint8_t CFormatGIF::Save(CImage& image, const std::string& /*sourcePath*/,
                         std::string& outputBase, const PropertyItemList* /*items*/,
                         int /*propertyCount*/, const SourceInfo& /*info*/) {
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
  std::vector<uint8_t> data;
  if (!EncodeTo(image, image, FORMAT_GIF, data)) return 2;
  return WriteOutput(data, outputBase, Extension(), image);
}

uint8_t CFormatKeep::Save(CImage& image, const std::string& sourcePath, std::string& outputBase,
                          const PropertyItemList* /*items*/, int /*propertyCount*/,
                          const SourceInfo& info) {
  const std::string extension = FindExtension(sourcePath);
  if (info.SourceFormat == FORMAT_UNKNOWN) {
    outputBase += extension;
    return 1;
  }
  image.SetCodecOption(info.SourceCodecOption, info.SourceFormat);
  std::vector<uint8_t> data;
  if (!EncodeTo(image, image, info.SourceFormat, data)) {
    outputBase += extension;
    return 2;
  }
  // Written like every other format: with the backup the user asked for,
  // through a temporary file.
  return WriteOutput(data, outputBase, extension, image);
}
