// Metadata helpers beyond the pipeline's interface in metadata.h: writing
// with the caller's options, tag groups, and the PNG chunk work of the
// writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/property_items.h"

// What the metadata writers put into an output, filled by the caller from
// the job's settings.
struct MetadataWriteOptions {
  bool KeepExisting = false;    // copy the source's items
  bool UseUserComment = false;  // write the user's values below (empty ones are skipped)
  std::string ImageAuthor;
  std::string ImageDescription;
  std::string ImageCopyright;
};

// Rewrites an encoded JPEG or PNG file held in memory, before it is written,
// with the items (when KeepExisting) and the user's values (when
// UseUserComment), without re-encoding pixels: JPEG gets its EXIF segment
// replaced, PNG an eXIf chunk (and tEXt/iTXt "Author", "Description",
// "Copyright" for the user's values). file is replaced by the rewritten file
// on true (also when nothing had to be written) and left as it was on false,
// with reason.
bool AddMetadata(std::vector<uint8_t>& file, const PropertyItemList* items, int count,
                 const MetadataWriteOptions& options, std::string* reason = nullptr);

// The EXIF directory a tag id is written to: "GPSInfo" for the GPS ids
// (below 0xFE), "Photo" for the tags of the EXIF sub-directory, "Image"
// (the main directory) for everything else.
const char* MetadataGroupForTag(uint32_t tag);

// An item holding text as EXIF ASCII: type 2, the bytes of the text and a
// terminating zero, length = bytes + 1.
PropertyItem MakeAsciiItem(uint32_t tag, const std::string& text);

// The first item with that tag in the list, or nullptr.
const PropertyItem* FindPropertyItem(const PropertyItemList* items, int count, uint32_t tag);

// The EXIF block (TIFF header and directories, little-endian) that an
// output whose encoder embeds metadata carries: the kept items (when
// KeepExisting) and the user's values (when UseUserComment), the picture
// size items set to width x height. Without items, KeepExisting starts from
// decodedBlock, the block the source's decoder found (formats the metadata
// library cannot read), less its storage tags and with the orientation
// upright, as those decoders turn the picture themselves. Empty when there
// is nothing to write.
std::vector<uint8_t> BuildExifBlock(const PropertyItemList* items, int count,
                                    const std::vector<uint8_t>& decodedBlock, long width,
                                    long height, const MetadataWriteOptions& options);

// The XMP packet such an output carries when the source's metadata is
// kept: the one its decoder found, else the one the metadata library reads
// from sourcePath (empty when none), without an orientation (the EXIF
// block's is the one kept in step with the pixels).
std::vector<uint8_t> BuildXmpPacket(const std::vector<uint8_t>& decodedPacket,
                                    const std::string& sourcePath);

// ---- PNG chunks ----------------------------------------------------------------

struct PngChunk {
  std::string type;           // four letters
  std::vector<uint8_t> data;  // without length and CRC
};

// Splits a PNG file into its chunks, up to IEND. False when the signature
// or a chunk length is wrong or the file ends inside a chunk. With offsets,
// also where each chunk starts in file, and the IDAT chunks come without
// their data.
bool ParsePngChunks(const std::vector<uint8_t>& file, std::vector<PngChunk>& chunks,
                    std::vector<size_t>* offsets = nullptr);
// Appends a chunk with its length and CRC.
void AppendPngChunk(std::vector<uint8_t>& out, const PngChunk& chunk);
// A text chunk for keyword: tEXt when text is plain ASCII, otherwise iTXt
// holding UTF-8 (tEXt is Latin-1 only).
PngChunk MakePngTextChunk(const std::string& keyword, const std::string& text);
// The keyword of a tEXt, zTXt or iTXt chunk; empty for other chunks.
std::string PngTextKeyword(const PngChunk& chunk);
// The text of a tEXt or uncompressed iTXt chunk (empty for others).
std::string PngTextValue(const PngChunk& chunk);
