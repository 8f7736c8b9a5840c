// Metadata of pictures through Exiv2: EXIF/TIFF tags read as property
// items, and the encoded bytes of JPEG and PNG outputs given the kept items
// and the user's author, description and copyright (metadata_ext.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/property_items.h"

// Tags written from the user's values.
inline constexpr uint32_t kTagOrientation = 0x0112;
inline constexpr uint32_t kTagImageDescription = 0x010E;
inline constexpr uint32_t kTagArtist = 0x013B;
inline constexpr uint32_t kTagCopyright = 0x8298;

// Starts the metadata library; true when it is usable. The desktop program
// and batch mode set GdiplusAvailable from it.
bool InitMetadataSupport();

// Every metadata item of the file; the count, 0 when the file has none or
// cannot be read, -1 when metadata support is not available.
int ReadAllProperties(const std::string& path, PropertyItemList& items);
// The same for a file already read into memory.
int ReadAllProperties(const uint8_t* data, size_t size, PropertyItemList& items);

// The value of one tag of the file as text; false when the file lacks it.
bool ReadPropertyText(const std::string& path, uint32_t tag, std::string& text);
// The same from the items already read: the first item with that tag, and
// for the image title (800) the Windows title tag when the file has none.
bool PropertyText(const PropertyItemList* items, int count, uint32_t tag, std::string& text);

// The first item with that tag in the list, as text; false when absent.
bool FindPropertyText(const PropertyItemList* items, int count, uint32_t tag, std::string& text);
