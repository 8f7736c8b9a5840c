// Decoding and encoding in bands (see stream_path.h).
//
// Memory of one streamed file: the source file, one band of decoded rows,
// the reader's buffers (for a JPEG libjpeg's, with the whole coefficient
// buffer of a progressive source; for a PNG a band of inflated rows and
// the inflate state), the writer's (for a JPEG libjpeg's, with a whole
// coefficient buffer for an output with optimised Huffman tables or
// progressive; for a PNG a group of filtered rows and zlib's state), and
// the encoded output as it grows.
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

// Every band of reader into writer, the first already read into band.
template <class Reader, class Writer>
bool Pump(Reader& reader, CImage& band, Writer& writer, std::vector<uint8_t>& bytes) {
  if (!writer.Begin(band, reader.Height(), bytes) || !writer.AddBand(band)) return false;
  while (reader.RowsLeft() > 0)
    if (!reader.ReadBand(band, kBandRows) || !writer.AddBand(band)) return false;
  return writer.Finish();
}

// The JPEG writer fed with the format's options and in colour: the JPEG
// output writes a palette or grey picture in colour, and so each band of
// one.
class JpegBands {
 public:
  explicit JpegBands(const CFormatJPEG& jpeg) : jpeg_(jpeg) {}
  bool Begin(CImage& first, int height, std::vector<uint8_t>& out) {
    CImage* colour = InColour(first);
    if (colour == nullptr) return false;
    jpeg_.LendSettings(*colour);
    return writer_.Begin(*colour, height, out);
  }
  bool AddBand(CImage& band) {
    CImage* colour = InColour(band);
    return colour != nullptr && writer_.AddBand(*colour);
  }
  bool Finish() { return writer_.Finish(); }

 private:
  CImage* InColour(CImage& band) {
    if (band.GetBpp() == 24) return &band;
    if (!colour_.Copy(band, true, true, true) || !colour_.IncreaseBpp(24)) return nullptr;
    return &colour_;
  }

  const CFormatJPEG& jpeg_;
  CJpegBandWriter writer_;
  CImage colour_;
};

// The picture of reader written with format (PNG or JPEG).
template <class Reader>
bool Stream(Reader& reader, COutputFormat& format, std::vector<uint8_t>& bytes) {
  CImage band;
  if (!reader.ReadBand(band, kBandRows)) return false;
  if (const CFormatJPEG* jpeg = dynamic_cast<const CFormatJPEG*>(&format)) {
    JpegBands writer(*jpeg);
    return Pump(reader, band, writer, bytes);
  }
  CPngBandWriter writer;
  return Pump(reader, band, writer, bytes);
}

template <class Reader>
bool StreamFrom(const uint8_t* data, size_t size, COutputFormat& format, std::vector<uint8_t>& bytes,
                StreamedPicture& picture) {
  Reader reader;
  if (!reader.Open(data, size) || !Stream(reader, format, bytes)) return false;
  picture.width = reader.Width();
  picture.height = reader.Height();
  picture.codecOption = reader.CodecOption();
  return true;
}

}  // namespace

bool WritesInBands(const COutputFormat& format) {
  const CFormatPNG* png = dynamic_cast<const CFormatPNG*>(&format);
  return (png != nullptr && png->Interlaced == 0) ||
         dynamic_cast<const CFormatJPEG*>(&format) != nullptr;
}

bool StreamPicture(const uint8_t* data, size_t size, COutputFormat& format, EncodedOutput& out,
                   StreamedPicture& picture) {
  if (!WritesInBands(format)) return false;
  const CodecInfo* codec = SniffCodec(data, size);
  if (codec == nullptr) return false;
  std::vector<uint8_t> bytes;
  picture.format = codec->format;
  if (codec->format == FORMAT_JPG) {
    if (!StreamFrom<CJpegBandReader>(data, size, format, bytes, picture)) return false;
  } else if (codec->format == FORMAT_PNG) {
    if (!StreamFrom<CPngBandReader>(data, size, format, bytes, picture)) return false;
  } else {
    return false;
  }
  out.data = std::move(bytes);
  out.extension = format.Extension();
  out.metadata = true;
  out.write = true;
  out.result = 0;
  out.error.clear();
  return true;
}
