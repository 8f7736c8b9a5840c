#include "output/write_output.h"

#include <vector>

#include "imaging/image.h"
#include "imaging/metadata.h"
#include "output/safe_write.h"
#include "settings/settings.h"

OutputOptions OutputOptionsFrom(const CSettings& s) {
  OutputOptions o;
  o.Metadata.KeepExisting = s.KeepExisting != 0;
  o.Metadata.UseUserComment = s.UseUserComment != 0;
  o.Metadata.ImageAuthor = s.ImageAuthor;
  o.Metadata.ImageDescription = s.ImageDescription;
  o.Metadata.ImageCopyright = s.ImageCopyright;
  o.MetadataAvailable = s.GdiplusAvailable != 0;
  o.Backup = s.Backup != 0;
  return o;
}

uint8_t WriteOutput(EncodedOutput& out, std::string& outputBase, const PropertyItemList* items,
                    int propertyCount, const OutputOptions& options, std::string* error,
                    bool* cannotCreate) {
  if (cannotCreate) *cannotCreate = false;
  if (!out.write && out.result == 0) return 0;  // the base class writes nothing
  if (out.result != 0) {
    if (error) *error = out.error;
    return out.result;
  }
  // The metadata goes into the encoded bytes, so that the output is written
  // once, complete (a second rewrite of the file on disk could replace what
  // another job has put there meanwhile); a failure leaves the bytes as
  // they were.
  if (out.metadata && (options.Metadata.KeepExisting || options.Metadata.UseUserComment) &&
      options.MetadataAvailable)
    AddMetadata(out.data, items, propertyCount, options.Metadata);
  const std::string base = outputBase;
  std::string reason;
  if (!WriteOutputFile(outputBase, out.extension, options.Backup, out.data, reason)) {
    outputBase = base;
    if (error) *error = reason;
    if (cannotCreate) *cannotCreate = true;
    return 1;
  }
  return 0;
}
