// Decoding and encoding in bands (see stream_path.h).
//
// Memory of one streamed JPEG to JPEG file: the source file, one band,
// libjpeg's buffers on both sides (a whole coefficient buffer for a
// progressive source, and for an output with optimised Huffman tables or
// progressive), and the encoded output as it grows.
//
// Memory of one streamed JPEG to PNG file: the source file, one band of
// decoded rows, libjpeg's own buffers (the whole coefficient buffer for a
// progressive source), the PNG writer's group of filtered rows and zlib's
// state, and the packed output as it grows.
#include "engine/stream_path.h"

#include <utility>
#include <vector>

#include "imaging/codecs/codec.h"
#include "imaging/codecs/jpeg.h"
#include "imaging/codecs/png_bands.h"
#include "imaging/image.h"
#include "formats/output_format.h"

namespace {

// Rows per band: a few of libjpeg's output groups (16 rows for 4:2:0).
constexpr int kBandRows = 64;

bool IsJpegSource(const uint8_t* data, size_t size) {
  const CodecInfo* codec = SniffCodec(data, size);
  return codec != nullptr && codec->format == FORMAT_JPG;
}

bool StreamJpegToPng(CJpegBandReader& reader, CImage& band, std::vector<uint8_t>& bytes) {
  CPngBandWriter writer;
  if (!writer.Begin(band, reader.Height(), bytes) || !writer.AddBand(band)) return false;
  while (reader.RowsLeft() > 0)
    if (!reader.ReadBand(band, kBandRows) || !writer.AddBand(band)) return false;
  return writer.Finish();
}

// A colour JPEG written again as JPEG with the format's options (grey
// pictures are written whole: the writer turns them into colour first).
bool StreamJpegToJpeg(CJpegBandReader& reader, CImage& band, const CFormatJPEG& jpeg,
                      std::vector<uint8_t>& bytes) {
  if (band.GetBpp() != 24) return false;
  jpeg.LendSettings(band);
  CJpegBandWriter writer;
  if (!writer.Begin(band, reader.Height(), bytes) || !writer.AddBand(band)) return false;
  while (reader.RowsLeft() > 0)
    if (!reader.ReadBand(band, kBandRows) || !writer.AddBand(band)) return false;
  return writer.Finish();
}

}  // namespace

bool WritesInBands(const COutputFormat& format) {
  const CFormatPNG* png = dynamic_cast<const CFormatPNG*>(&format);
  return (png != nullptr && png->Interlaced == 0) ||
         dynamic_cast<const CFormatJPEG*>(&format) != nullptr;
}

bool StreamPicture(const uint8_t* data, size_t size, COutputFormat& format, EncodedOutput& out,
                   StreamedPicture& picture) {
  if (!WritesInBands(format) || !IsJpegSource(data, size)) return false;
  CJpegBandReader reader;
  CImage band;
  if (!reader.Open(data, size) || !reader.ReadBand(band, kBandRows)) return false;
  std::vector<uint8_t> bytes;
  const CFormatJPEG* jpeg = dynamic_cast<const CFormatJPEG*>(&format);
  if (jpeg ? !StreamJpegToJpeg(reader, band, *jpeg, bytes)
           : !StreamJpegToPng(reader, band, bytes))
    return false;
  picture.width = reader.Width();
  picture.height = reader.Height();
  picture.jpegCodecOption = reader.CodecOption();
  out.data = std::move(bytes);
  out.extension = format.Extension();
  out.metadata = true;
  out.write = true;
  out.result = 0;
  out.error.clear();
  return true;
}
