// Writing helpers of the tests: an output format's Encode and the job's
// single write in one call, and the metadata of a file already on disk
// rewritten through the same in-memory step the job uses.
#pragma once

#include <string>
#include <vector>

#include "formats/output_format.h"
#include "imaging/image.h"
#include "imaging/metadata.h"
#include "imaging/metadata_ext.h"
#include "output/safe_write.h"
#include "output/write_output.h"

// Encode and WriteOutput in one go, with info.Options; items fill info's
// items when it has none. A failure's reason is left on image.
inline uint8_t SaveOutput(COutputFormat& format, CImage& image, const std::string& sourcePath,
                          std::string& outputBase, const PropertyItemList* items,
                          int propertyCount, const SourceInfo& info) {
  EncodedOutput out;
  SourceInfo withItems = info;
  if (withItems.Items == nullptr) {
    withItems.Items = items;
    withItems.ItemCount = propertyCount;
  }
  format.Encode(image, sourcePath, withItems, out);
  std::string error;
  uint8_t result = WriteOutput(out, outputBase, items, propertyCount, info.Options, &error);
  if (result != 0 && !error.empty()) image.SetLastError(error);
  return result;
}

// Rewrites the written JPEG or PNG file finalPath with the items and the
// user's values. The pixel data is not touched: JPEG gets its EXIF segment
// replaced, PNG an eXIf chunk (and tEXt/iTXt "Author", "Description",
// "Copyright" for the user's values). The new file goes through a temporary
// and replaces finalPath only when complete. Returns true when the file was
// rewritten or nothing had to be written; false with reason otherwise (the
// file is then exactly as before).
inline bool WriteMetadataWith(const std::string& finalPath, const PropertyItemList* items,
                              int count, const MetadataWriteOptions& options,
                              std::string* reason = nullptr) {
  auto fail = [reason](const std::string& text) {
    if (reason) *reason = text;
    return false;
  };
  if (!InitMetadataSupport()) return fail("metadata support is not available");
  if (!options.KeepExisting && !options.UseUserComment) return true;
  std::vector<uint8_t> file;
  std::string error;
  if (!CImage::ReadFile(finalPath, file, error)) return fail("cannot read " + finalPath);
  std::vector<uint8_t> out = file;
  if (!AddMetadata(out, items, count, options, reason)) return false;
  if (out == file) return true;
  std::string why;
  if (!WriteFileReplacing(finalPath, out, why)) return fail(why);
  return true;
}
