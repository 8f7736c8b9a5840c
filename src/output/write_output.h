// Putting an encoded output on disk: the job's values for the writers, the
// single write of an encoded picture (metadata into the bytes, backup,
// temporary file, rename), and the rewrite of a written file's metadata.
#pragma once

#include <string>

#include "formats/output_format.h"
#include "imaging/metadata_ext.h"

class CSettings;
class CImage;

// The output values of a job's settings: metadata choices, whether the
// metadata library is ready, backups.
OutputOptions OutputOptionsFrom(const CSettings& settings);

// Writes what an output format encoded. JPEG and PNG bytes get the metadata
// first (a failure there leaves the bytes as they were), then the target is
// prepared (read-only flag, backup) and the bytes are written through a
// temporary file renamed over it: the output is written once, complete.
// outputBase is the output path without extension on entry and the final
// file name on success. Returns 0 written (or nothing to write), the
// encoder's out.result when it failed (nothing written), 1 when the target
// cannot be written: then outputBase is as on entry, *cannotCreate is set
// and the caller tells the user. error gets the reason of a failure.
uint8_t WriteOutput(EncodedOutput& out, std::string& outputBase, const PropertyItemList* items,
                    int propertyCount, const OutputOptions& options, std::string* error = nullptr,
                    bool* cannotCreate = nullptr);

// Encode and WriteOutput in one go, with info.Options; items fill info's
// items when it has none. A failure's reason is left on image.
uint8_t SaveOutput(COutputFormat& format, CImage& image, const std::string& sourcePath,
                   std::string& outputBase, const PropertyItemList* items, int propertyCount,
                   const SourceInfo& info);

// Rewrites the written JPEG or PNG file finalPath with the items and the
// user's values. The pixel data is not touched: JPEG gets its EXIF segment
// replaced, PNG an eXIf chunk (and tEXt/iTXt "Author", "Description",
// "Copyright" for the user's values). The new file goes through a temporary
// and replaces finalPath only when complete. Returns true when the file was
// rewritten or nothing had to be written; false with reason otherwise (the
// file is then exactly as before).
bool WriteMetadataWith(const std::string& finalPath, const PropertyItemList* items, int count,
                       const MetadataWriteOptions& options, std::string* reason = nullptr);
