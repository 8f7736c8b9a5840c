// CImage: the program's image object.
//
// Pixels are kept as a device-independent bitmap: rows from the bottom of the
// picture up (row 0 is the bottom row), each row padded to a multiple of four
// bytes. Bits per pixel is 1, 4 or 8 (indices into a palette of BGRA entries,
// most significant bits first) or 24 (blue, green, red). An optional 8-bit
// alpha plane (width x height bytes, also bottom-up, no padding) goes with any
// depth. Every coordinate in this API counts rows from the bottom.
//
// Every operation returns success as a bool; GetLastError() gives the reason
// of the last failure. Errors never leave this class as exceptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/log_font.h"

// Image format codes. 0 detects the format from the content.
enum ImageFormat : int {
  FORMAT_UNKNOWN = 0,
  FORMAT_BMP = 1,
  FORMAT_GIF = 2,
  FORMAT_JPG = 3,
  FORMAT_PNG = 4,
  FORMAT_ICO = 5,
  FORMAT_TIF = 6,
  FORMAT_TGA = 7,
  FORMAT_PCX = 8,
  FORMAT_WBMP = 9,
  FORMAT_WMF = 10,  // WMF and EMF
  FORMAT_JP2 = 11,  // JPEG 2000 file (.jp2, .j2k by the extension table)
  FORMAT_JPC = 12,  // JPEG 2000 code stream (.jpc, .j2c)
  FORMAT_PGX = 13,
  FORMAT_PNM = 14,
  FORMAT_RAS = 15,
  FORMAT_JBG = 16,  // JBIG (.jbg)
  // Formats of today, after the ones above so that stored codes keep their
  // meaning. Codec options (GetCodecOption) of the three that are written
  // with a quality: bits 0-7 quality 1..100, bits 8-11 effort (WebP method
  // 0..6, AVIF/HEIC speed 0..10, JPEG XL effort 1..9), bit 12 lossless
  // (WebP, JPEG XL) or 4:4:4 chroma (AVIF, HEIC). 0 means the defaults.
  FORMAT_WEBP = 17,
  FORMAT_HEIF = 18,  // HEIC/HEIF (HEVC in a HEIF container)
  FORMAT_AVIF = 19,  // AV1 in a HEIF container
  FORMAT_JXL = 20,
  FORMAT_RAW = 21,  // camera raw files, read only
  FORMAT_COUNT = 22
};

// One palette entry, in the order a bitmap stores it.
struct RGBQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;  // alpha where the palette carries it
  bool operator==(const RGBQuad&) const = default;
};

// Packed device-independent bitmap header (BITMAPINFOHEADER layout).
#pragma pack(push, 1)
struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // > 0: bottom-up rows
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;  // 0 = BI_RGB
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);

// Text to draw with DrawStringEx.
struct TextInfo {
  std::string text;          // UTF-8, at most 4095 bytes are drawn
  LogFont lfont;
  uint32_t fcolor = 0;       // text colour, 0x00BBGGRR
  long align = 1;            // 0 left, 1 centred, 2 right (multi-line texts)
  uint8_t smooth = 1;        // antialiased glyphs
  uint8_t opaque = 0;        // draw a background box
  uint32_t bcolor = 0xFFFFFF;  // background box colour
  float b_opacity = 0.0f;    // background box opacity 0..1
  uint8_t b_outline = 0;     // background box outline width
  uint8_t b_round = 0;       // background box corner radius in percent
};

class CImage {
 public:
  CImage();
  explicit CImage(const std::string& path, int format = FORMAT_UNKNOWN);
  CImage(const CImage& other);
  CImage& operator=(const CImage& other);
  CImage(CImage&& other) noexcept;
  CImage& operator=(CImage&& other) noexcept;
  ~CImage();

  // ---- life cycle -------------------------------------------------------
  // Creates a zero-filled image. bpp is 1, 4, 8 or 24; palette images get a
  // grey ramp. format records the codec the image is meant for (may be 0).
  bool Create(int width, int height, int bpp, int format = FORMAT_UNKNOWN);
  void Destroy();
  bool IsValid() const { return width_ > 0 && height_ > 0 && !bits_.empty(); }
  // Copies another image. The flags choose whether pixels, selection and
  // alpha are copied (the selection does not exist here and is ignored);
  // palette, transparency, resolution and codec options always are.
  bool Copy(const CImage& src, bool copyPixels = true, bool copySelection = true,
            bool copyAlpha = true);
  // Moves the pixels and attributes of this image into dst; this image is
  // left empty.
  bool Transfer(CImage& dst);

  // ---- files -------------------------------------------------------------
  // Loads the frame chosen by SetFrame. format 0 detects the codec from the
  // content (extension only for formats without a signature).
  bool Load(const std::string& path, int format = FORMAT_UNKNOWN);
  // The bytes Load decodes: a whole regular file read into memory, opened
  // without blocking. Callers that need the file's bytes for more than the
  // pixels (its metadata) read it once with this and call Decode.
  static bool ReadFile(const std::string& path, std::vector<uint8_t>& data, std::string& error);
  bool Decode(const uint8_t* data, size_t size, int format = FORMAT_UNKNOWN,
              const std::string& nameHint = std::string());
  bool Save(const std::string& path, int format) const;
  bool Encode(std::vector<uint8_t>& out, int format) const;
  // Lets a codec that can scale while decoding (CodecInfo::decodeScaled;
  // JPEG: by 1/2, 1/4, 1/8) make a smaller picture; other codecs decode the
  // full picture. Given the stored size, the hint sets the smallest width
  // and height the caller needs; the decoder keeps at least that.
  // GetStoredWidth/Height tell the stored size of the last load.
  using DecodeSizeHint = std::function<void(int width, int height, int& minWidth, int& minHeight)>;
  void SetDecodeSizeHint(DecodeSizeHint hint) { decodeHint_ = std::move(hint); }
  // The hint of a caller that needs at least minWidth x minHeight whatever
  // the stored size (a thumbnail, a preview box).
  static DecodeSizeHint AtLeast(int minWidth, int minHeight);
  int GetStoredWidth() const { return storedWidth_; }
  int GetStoredHeight() const { return storedHeight_; }

  // Format of the last successful load (0 when created).
  int GetType() const { return type_; }

  int GetNumFrames() const { return numFrames_; }
  void SetNumFrames(int n) { numFrames_ = n; }
  int GetFrame() const { return frame_; }
  void SetFrame(int n) { frame_ = n; }

  // ---- geometry and attributes ------------------------------------------
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetBpp() const { return bpp_; }
  size_t GetEffWidth() const { return stride_; }  // bytes per row
  long GetXDPI() const { return xdpi_; }
  long GetYDPI() const { return ydpi_; }
  void SetXDPI(long dpi) { xdpi_ = dpi > 0 ? dpi : 96; }
  void SetYDPI(long dpi) { ydpi_ = dpi > 0 ? dpi : 96; }

  uint32_t GetCodecOption(int format) const;
  void SetCodecOption(uint32_t option, int format);
  uint8_t GetJpegQuality() const { return jpegQuality_; }
  void SetJpegQuality(uint8_t quality) { jpegQuality_ = quality > 100 ? 100 : quality; }
  uint8_t GetJpegSmoothing() const { return jpegSmoothing_; }
  void SetJpegSmoothing(uint8_t factor) { jpegSmoothing_ = factor > 100 ? 100 : factor; }

  // Embedded ICC colour profile (empty when none).
  const std::vector<uint8_t>& GetIccProfile() const { return icc_; }
  void SetIccProfile(std::vector<uint8_t> profile) { icc_ = std::move(profile); }
  // EXIF block (TIFF header and IFDs, without the "Exif\0\0" prefix) and
  // XMP packet carried inside the file by containers that hold them as
  // blocks (HEIF, AVIF, WebP, JPEG XL). Decoders of those formats fill them;
  // before encoding such a format, the writer puts in what the output is to
  // carry and the encoder embeds it. Empty when none.
  const std::vector<uint8_t>& GetExifBlock() const { return exif_; }
  void SetExifBlock(std::vector<uint8_t> block) { exif_ = std::move(block); }
  const std::vector<uint8_t>& GetXmpPacket() const { return xmp_; }
  void SetXmpPacket(std::vector<uint8_t> packet) { xmp_ = std::move(packet); }

  // ---- pixel access -----------------------------------------------------
  uint8_t* GetBits(int row = 0) { return bits_.data() + size_t(row) * stride_; }
  const uint8_t* GetBits(int row = 0) const { return bits_.data() + size_t(row) * stride_; }
  // Row y counted from the top (for codecs that decode top-down).
  uint8_t* TopRow(int y) { return GetBits(height_ - 1 - y); }
  const uint8_t* TopRow(int y) const { return GetBits(height_ - 1 - y); }
  size_t GetImageSize() const { return bits_.size(); }

  // ---- palette ------------------------------------------------------------
  const RGBQuad* GetPalette() const { return palette_.empty() ? nullptr : palette_.data(); }
  RGBQuad* GetPalette() { return palette_.empty() ? nullptr : palette_.data(); }
  // Palette size in bytes (entries x 4), 0 for true colour.
  uint32_t GetPaletteSize() const { return uint32_t(palette_.size() * 4); }
  uint32_t GetNumColors() const { return uint32_t(palette_.size()); }
  // Copies up to 2^bpp entries; missing entries stay black.
  void SetPalette(const RGBQuad* pal, int entries = 256);
  void SetPaletteColor(uint8_t index, uint8_t r, uint8_t g, uint8_t b, uint8_t alpha = 0);
  void SetGrayPalette();
  // Palette entries carry alpha in their reserved byte (PNG tRNS, GIF).
  bool AlphaPaletteIsEnabled() const { return alphaPalette_; }
  void AlphaPaletteEnable(bool on = true) { alphaPalette_ = on; }

  // ---- transparency and alpha -------------------------------------------
  long GetTransIndex() const { return transIndex_; }
  void SetTransIndex(long index) { transIndex_ = index; }
  RGBQuad GetTransColor() const;
  void SetTransColor(RGBQuad colour) { transColor_ = colour; }
  // True when the image has a transparent index or colour, or an alpha plane.
  bool IsTransparent() const;
  bool AlphaIsValid() const { return !alpha_.empty(); }
  bool AlphaCreate();  // opaque plane (255)
  void AlphaDelete() { alpha_.clear(); alpha_.shrink_to_fit(); }
  uint8_t* AlphaGetPointer(int x = 0, int y = 0) {
    return alpha_.empty() ? nullptr : alpha_.data() + size_t(y) * width_ + x;
  }
  const uint8_t* AlphaGetPointer(int x = 0, int y = 0) const {
    return alpha_.empty() ? nullptr : alpha_.data() + size_t(y) * width_ + x;
  }

  // Colour at (x, y), y from the bottom. With getAlpha the reserved byte is
  // the pixel's alpha (255 without an alpha plane; 0 for the transparent
  // index); without it the reserved byte is 0. Outside the image: black.
  RGBQuad GetPixelColor(long x, long y, bool getAlpha = true) const;
  uint8_t GetPixelIndex(long x, long y) const;
  void SetPixelIndex(long x, long y, uint8_t index);
  void SetPixelColor(long x, long y, RGBQuad colour, bool setAlpha = false);
  // Mixes colour into the pixel: new = old * (1 - opacity) + colour * opacity,
  // on true-colour images per channel; on palette images the nearest palette
  // entry of the mixed colour. Positions outside the image are ignored.
  // With setAlpha the alpha plane (when present) takes the colour's
  // reserved byte mixed the same way.
  void BlendPixelColor(long x, long y, RGBQuad colour, float opacity, bool setAlpha = false);
  // Index of the palette entry nearest to colour (0 for true colour).
  uint8_t GetNearestIndex(RGBQuad colour) const;
  // Fills every pixel byte with value (24 bits: each channel; palette
  // images: the byte pattern).
  bool Clear(uint8_t value = 0);

  // ---- geometry operations (exact, keep palette and alpha) --------------
  bool RotateLeft(CImage* dst = nullptr);   // 90 degrees counter-clockwise
  bool RotateRight(CImage* dst = nullptr);  // 90 degrees clockwise
  bool Rotate180(CImage* dst = nullptr);
  bool Mirror();  // left <-> right
  bool Flip();    // top <-> bottom
  // Swaps rows and columns: pixel (x, y) moves to (y, x) measured from the
  // top-left corner (the main diagonal). Transverse mirrors it across the
  // other diagonal.
  bool Transpose();
  bool Transverse();

  // ---- tone ---------------------------------------------------------------
  // Light(brightness, contrast), per channel c of every pixel (palette images:
  // every palette entry):
  //   c' = clamp(((c - 128) * (100 + contrast) / 100) + 128 + brightness)
  // brightness and contrast are in -255..255 and -100..255. (0, 0) leaves the
  // image as it is.
  bool Light(long brightness, long contrast = 0);

  // ---- resampling ---------------------------------------------------------
  // Resample(w, h, mode): mode 1 nearest pixel, 0 bilinear (also averaging
  // when shrinking). Palette images are turned into 24 bits first, except
  // with mode 1. A target of 0 in either direction fails and leaves the
  // image unchanged. dst, when given, receives the result instead.
  bool Resample(long newWidth, long newHeight, int mode = 1, CImage* dst = nullptr);
  enum InterpolationMethod {
    IM_NEAREST_NEIGHBOUR = 1,
    IM_BILINEAR = 2,
    IM_BSPLINE = 3,
    IM_BICUBIC = 4,   // sharp cubic, Catmull-Rom
    IM_BICUBIC2 = 5,  // soft cubic, Mitchell-Netravali (1/3, 1/3)
    IM_LANCZOS = 6,   // three lobes
    IM_BOX = 7,
    IM_HERMITE = 8,
  };
  enum OverflowMethod {
    OM_COLOR = 1,
    OM_BACKGROUND = 2,
    OM_TRANSPARENT = 3,
    OM_WRAP = 4,
    OM_REPEAT = 5,  // repeat the edge pixels
    OM_MIRROR = 6,
  };
  // Separable filter; the kernel is widened by the scale when shrinking so
  // that reductions do not alias. disableAveraging keeps the kernel at its
  // own width when shrinking.
  bool Resample2(long newWidth, long newHeight, int interpolation = IM_BICUBIC2,
                 int overflow = OM_REPEAT, CImage* dst = nullptr, bool disableAveraging = false);
  // Shrinks (never enlarges) to fit inside w x h keeping the proportions,
  // then pads to exactly w x h with background, the picture centred.
  bool Thumbnail(long width, long height, RGBQuad background, CImage* dst = nullptr);
  // Pads the image to w x h (each at least the current size) with
  // background, the picture centred.
  bool Expand(long newWidth, long newHeight, RGBQuad background, CImage* dst = nullptr);
  // Cuts the rectangle [left, right) x [top, bottom) measured from the top.
  bool Crop(long left, long top, long right, long bottom, CImage* dst = nullptr);

  // ---- colour depth -------------------------------------------------------
  // Reduces to 1, 4 or 8 bits. With a palette the pixels are mapped to its
  // nearest entries (colours: number of entries given, 0 = 2^bits);
  // without one the standard palette is used (1 bit black and white, 4 bits
  // the 16 VGA colours, 8 bits a 6x7x6 colour cube plus greys). Floyd-
  // Steinberg error diffusion when asked.
  bool DecreaseBpp(int bits, bool errorDiffusion, const RGBQuad* palette = nullptr,
                   uint32_t colours = 0);
  bool IncreaseBpp(int bits);  // only 24 is accepted as a target
  bool GrayScale();
  bool IsGrayScale() const;

  // ---- packed bitmaps -------------------------------------------------------
  // One malloc'ed block: BitmapInfoHeader, palette (2^bpp entries for
  // palette images), rows bottom-up padded to four bytes. The caller frees
  // it with free(). Alpha is not included. nullptr on failure.
  void* MakeBitmap() const;
  // Replaces the image with a packed bitmap (1, 4, 8, 16, 24 or 32 bits,
  // BI_RGB or BI_BITFIELDS, either row order). The block is not freed.
  bool CreateFromHBITMAP(const void* packedDib, size_t size = size_t(-1));
  // The image as one packed bitmap owned by the image (header, palette,
  // pixels contiguous); valid until the image changes.
  const void* GetDIB() const;

  // ---- text -----------------------------------------------------------------
  static void InitTextInfo(TextInfo& info);
  // Draws info.text (UTF-8) into the image with FreeType through fontconfig.
  // Position: (x, y) is the horizontal centre and the bottom edge of the
  // text's box, with y counted downwards from the top row of the image
  // (unlike the rest of this API). So DrawStringEx(w / 2, h) on an image
  // that is exactly the text's size (MeasureText) fills it. Multi-line
  // texts are aligned by info.align inside their box.
  bool DrawStringEx(long x, long y, const TextInfo& info);
  // Size of the box DrawStringEx fills for this text and font.
  static bool MeasureText(const std::string& text, const LogFont& font, long& width,
                          long& height, std::string* error = nullptr);

  // ---- errors and limits ----------------------------------------------------
  const std::string& GetLastError() const { return error_; }
  void SetLastError(std::string message) const { error_ = std::move(message); }
  // Decoders refuse images with more pixels than this (2^28 by default).
  static uint64_t GetPixelLimit();
  static void SetPixelLimit(uint64_t pixels);
  // Checks a decoder's dimensions against the limit before it allocates.
  bool CheckDimensions(int64_t width, int64_t height, const char* codec) const;

  // For codecs: the type of the image as loaded.
  void SetType(int format) { type_ = format; }

 private:
  void CopyAttributes(const CImage& src);
  size_t RowBytes(int width, int bpp) const;

  int width_ = 0;
  int height_ = 0;
  int bpp_ = 0;
  size_t stride_ = 0;
  std::vector<uint8_t> bits_;
  std::vector<RGBQuad> palette_;
  std::vector<uint8_t> alpha_;
  bool alphaPalette_ = false;
  long transIndex_ = -1;
  RGBQuad transColor_{};
  long xdpi_ = 96;
  long ydpi_ = 96;
  int type_ = FORMAT_UNKNOWN;
  int frame_ = 0;
  int numFrames_ = 0;
  uint32_t codecOptions_[FORMAT_COUNT] = {};
  uint8_t jpegQuality_ = 90;
  uint8_t jpegSmoothing_ = 0;
  std::vector<uint8_t> icc_;
  std::vector<uint8_t> exif_;
  std::vector<uint8_t> xmp_;
  DecodeSizeHint decodeHint_;
  int storedWidth_ = 0;
  int storedHeight_ = 0;
  mutable std::vector<uint8_t> dib_;
  mutable std::string error_;
};

// Row length in bytes of a bitmap row, padded to four bytes.
inline size_t DibRowBytes(int64_t width, int bpp) {
  return size_t(((width * bpp + 31) / 32) * 4);
}
