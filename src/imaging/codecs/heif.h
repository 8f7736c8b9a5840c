// HEIF/AVIF helpers beyond the codec table entries (kCodecHeif, kCodecAvif).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the data is a HEIC/HEIF or AVIF file (by its ftyp brands).
bool IsHeifFamilyFile(const uint8_t* data, size_t size);

// The primary picture's EXIF block (from the TIFF header on, without the
// container's offset header) and XMP packet, without decoding pixels.
// Either pointer may be null. False when libheif cannot read the file.
bool ReadHeifMetadata(const uint8_t* data, size_t size, std::vector<uint8_t>* exif,
                      std::vector<uint8_t>* xmp);
