// Putting an encoded output on disk: the job's values for the writers, the
// single write of an encoded picture (metadata into the bytes, backup,
// temporary file, rename).
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
