// Test pictures of the kind phones and cameras make, written with the
// formats' own libraries (libtiff for a DNG, libheif for a HEIC with a
// rotation box), not with the program's codecs.
#pragma once

#include <libheif/heif.h>
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace camera_files {

// A DNG in the usual layout: IFD0 holds an 8-bit RGB preview (left half
// red, right half blue) and the DNG tags, its SubIFD the raw sensor data,
// 12 bits in an RGGB colour filter array, left half reddish, right half
// bluish with a vertical gradient. orientation is the TIFF value (1, 6 ...).
inline bool MakeTestDng(const std::string& path, int width, int height, int orientation,
                        int previewWidth = 32, int previewHeight = 24) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  bool ok = true;
  // IFD0: the preview.
  const uint8_t dngVersion[4] = {1, 4, 0, 0};
  const uint8_t backward[4] = {1, 1, 0, 0};
  const float colorMatrix[9] = {1.0f, 0, 0, 0, 1.0f, 0, 0, 0, 1.0f};
  const float asShot[3] = {0.5f, 1.0f, 0.8f};
  toff_t subIfd[1] = {0};
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_REDUCEDIMAGE));
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(previewWidth));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(previewHeight));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(orientation));
  TIFFSetField(tif, TIFFTAG_MAKE, "Lumaro");
  TIFFSetField(tif, TIFFTAG_MODEL, "Test Camera");
  TIFFSetField(tif, TIFFTAG_DNGVERSION, dngVersion);
  TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, backward);
  TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Lumaro Test Camera");
  TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, colorMatrix);
  TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, asShot);
  TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, uint16_t(21));
  TIFFSetField(tif, TIFFTAG_SUBIFD, 1, subIfd);
  std::vector<uint8_t> row(size_t(previewWidth) * 3);
  for (int x = 0; x < previewWidth; ++x) {
    const bool left = x < previewWidth / 2;
    row[3 * x] = left ? 220 : 20;
    row[3 * x + 1] = 30;
    row[3 * x + 2] = left ? 20 : 220;
  }
  for (int y = 0; y < previewHeight && ok; ++y) ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
  ok = ok && TIFFWriteDirectory(tif);
  // SubIFD: the sensor data.
  const uint16_t cfaDim[2] = {2, 2};
  const uint8_t cfa[4] = {0, 1, 1, 2};  // R G / G B
  const uint32_t white = 4095;
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, uint32_t(0));
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(16));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(32803));  // colour filter array
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, cfaDim);
  TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, cfa);
  TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, &white);
  std::vector<uint16_t> sensor(static_cast<size_t>(width));
  for (int y = 0; y < height && ok; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool left = x < width / 2;
      const int colour = cfa[(y % 2) * 2 + (x % 2)];
      const int shade = 600 + 2000 * y / height;
      int v = colour == 1 ? shade : (colour == 0) == left ? shade + 1200 : shade / 3;
      sensor[size_t(x)] = uint16_t(v);
    }
    ok = TIFFWriteScanline(tif, sensor.data(), uint32_t(y), 0) >= 0;
  }
  ok = ok && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  return ok;
}

// A HEIC whose stored picture is width x height (left half red, right
// half blue) with the container's rotation box turning it by `orientation`
// (EXIF numbering), and an EXIF block that repeats the same orientation as
// phones write it, with artist "Tester".
inline bool MakeOrientedHeic(const std::string& path, int width, int height, int orientation) {
  heif_init(nullptr);
  heif_context* ctx = heif_context_alloc();
  heif_image* img = nullptr;
  heif_encoder* enc = nullptr;
  bool ok = heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                              &img).code == heif_error_Ok &&
            heif_image_add_plane(img, heif_channel_interleaved, width, height, 8).code ==
                heif_error_Ok;
  if (ok) {
    int stride = 0;
    uint8_t* p = heif_image_get_plane(img, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t* px = p + size_t(y) * stride + size_t(x) * 3;
        const bool left = x < width / 2;
        px[0] = left ? 230 : 20;
        px[1] = 20;
        px[2] = left ? 20 : 230;
      }
    ok = heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &enc).code ==
         heif_error_Ok;
  }
  heif_image_handle* handle = nullptr;
  if (ok) {
    heif_encoder_set_lossy_quality(enc, 90);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(orientation);
    ok = heif_context_encode_image(ctx, img, enc, options, &handle).code == heif_error_Ok;
    heif_encoding_options_free(options);
  }
  if (ok) {
    // A little-endian TIFF header with one directory: Orientation, Artist.
    const uint8_t exif[] = {'I', 'I', 42, 0, 8, 0, 0, 0,  // header
                            2, 0,                          // two entries
                            0x12, 0x01, 3, 0, 1, 0, 0, 0, uint8_t(orientation), 0, 0, 0,
                            0x3B, 0x01, 2, 0, 7, 0, 0, 0, 38, 0, 0, 0,
                            0, 0, 0, 0,  // no next directory
                            'T', 'e', 's', 't', 'e', 'r', 0};
    ok = heif_context_add_exif_metadata(ctx, handle, exif, int(sizeof exif)).code ==
         heif_error_Ok;
  }
  if (ok) ok = heif_context_write_to_file(ctx, path.c_str()).code == heif_error_Ok;
  if (handle) heif_image_handle_release(handle);
  if (enc) heif_encoder_release(enc);
  if (img) heif_image_release(img);
  heif_context_free(ctx);
  return ok;
}

}  // namespace camera_files
