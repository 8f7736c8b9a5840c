// The output formats: one object per format the user can choose, owning that
// format's options, loading and storing them in its own INI section,
// describing them in one line, and encoding an image into the bytes of a
// file of the format. Writing them to disk is output/write_output.h's part.
//
// The settings record owns one object of each class, in this order (the
// index is the setting OutputFormat): 0 JPEG, 1 PNG, 2 TIFF, 3 BMP, 4 GIF,
// 5 keep the source's format, 6 WebP, 7 AVIF, 8 JPEG XL (appended after the
// first six, so stored values keep their meaning). Objects whose HasOptions
// is 1 keep their options in the INI section named by Name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/extensions.h"
#include "imaging/metadata_ext.h"

class CImage;
class CIniStore;
struct PropertyItemList;

// A picture encoded by a writer but not yet on disk.
struct EncodedOutput {
  std::vector<uint8_t> data;
  std::string extension;  // appended to the output base when written
  uint8_t result = 0;     // nonzero: writing ends with this code, nothing written
  bool write = false;     // false: nothing to write (the base class)
  bool metadata = false;  // JPEG and PNG: the metadata goes into the bytes when written
  std::string error;      // why encoding failed
};

// The job's values that the encoders and the writer need, filled by the
// caller from the job's settings (OutputOptionsFrom in output/write_output.h).
struct OutputOptions {
  MetadataWriteOptions Metadata;   // what the outputs carry of the metadata
  bool MetadataAvailable = false;  // the metadata library is usable
  bool Backup = false;             // an output that replaces a file keeps it as ".bak"
};

// What the worker knows about the source of the image being written.
struct SourceInfo {
  int SourceFormat = 0;             // format code of the source (FormatFromExtension)
  int NotResized = 0;               // 1 when the resize stage did not run
  int FrameCount = 0;               // frames in the source file
  uint32_t SourceCodecOption = 0;   // codec option of the source format after loading
  // The source's metadata items after the picture steps (the rotation stage
  // resets the orientation item): the writers of container formats build
  // the EXIF block they embed from them. Null when none were read.
  const PropertyItemList* Items = nullptr;
  int ItemCount = 0;
  OutputOptions Options;  // the job's choices
};

class COutputFormat {
 public:
  COutputFormat(const char* name, int hasOptions, const char* extension);
  virtual ~COutputFormat();
  COutputFormat(const COutputFormat&) = delete;
  COutputFormat& operator=(const COutputFormat&) = delete;

  // Runs the format's option dialog through SetupHook; returns the dialog's
  // result (1 = OK). Without a hook nothing is shown and the result is 2.
  virtual int Setup();
  // Read or write the options as keys of the section Name. Both return 1 for
  // the formats with options, 0 for the others.
  virtual int LoadOptions(CIniStore& store);
  virtual int SaveOptions(CIniStore& store);
  // Replaces text with the one-line summary of the options.
  virtual void Describe(std::string& text);
  // Encodes image as a file of this format into out. Needs nothing but the
  // picture and the job's values in info, and may run on any thread (the
  // GIF writer reduces the caller's image). Base: encodes nothing, and
  // the output writer then writes nothing.
  virtual void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
                      EncodedOutput& out);

  // Extension this format writes, with the dot; empty for the keep format.
  const char* Extension() const { return Ext; }

  // The desktop program installs its option dialogs here; Setup calls it.
  static std::function<int(COutputFormat&)> SetupHook;

  std::string Name;
  int HasOptions = 0;

 private:
  const char* Ext;
};

class CFormatJPEG : public COutputFormat {
 public:
  CFormatJPEG();
  int LoadOptions(CIniStore& store) override;
  int SaveOptions(CIniStore& store) override;
  void Describe(std::string& text) override;
  void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
              EncodedOutput& out) override;
  // Sets the encoder settings of these options (quality, progressive,
  // optimised tables, smoothing) on a 24-bit picture about to be encoded.
  void LendSettings(CImage& image) const;

  int Quality = 75;               // 1..100 (held there when read)
  int OptimizeHuffmanCoding = 1;  // switch
  int Smoothing = 0;              // 0 off, 1..100 (held there when read)
  int Progressive = 0;            // switch
};

class CFormatPNG : public COutputFormat {
 public:
  CFormatPNG();
  int LoadOptions(CIniStore& store) override;
  int SaveOptions(CIniStore& store) override;
  void Describe(std::string& text) override;
  void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
              EncodedOutput& out) override;

  int Compression = 0;  // carried through the settings; nothing writes with it
  int Interlaced = 0;   // switch
};

class CFormatTIFF : public COutputFormat {
 public:
  CFormatTIFF();
  int LoadOptions(CIniStore& store) override;
  int SaveOptions(CIniStore& store) override;
  void Describe(std::string& text) override;
  void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
              EncodedOutput& out) override;

  // "Compression - Type": 0 none, 1 CCITT RLE, 2 CCITT fax 3, 3 CCITT fax 4,
  // 4 LZW, 5 JPEG, 6 PackBits.
  int CompressionType = 0;
};

class CFormatBMP : public COutputFormat {
 public:
  CFormatBMP();
  void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
              EncodedOutput& out) override;
};

class CFormatGIF : public COutputFormat {
 public:
  CFormatGIF();
  int LoadOptions(CIniStore& store) override;
  int SaveOptions(CIniStore& store) override;
  void Describe(std::string& text) override;
  void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
              EncodedOutput& out) override;

  int PaletteType = 1;                 // 0 standard, 1 adaptive, 2 user palette
  int PaletteLimitColors = 256;        // 2..256; 0 in a file reads as 256
  int PaletteErrorDiffusion = 1;       // switch
  std::string PaletteUserPaletteFile;  // carried through; nothing reads it
  int CompressionType = 0;             // 0 LZW, 1 none, 2 RLE
};

class CFormatKeep : public COutputFormat {
 public:
  CFormatKeep();
  void Describe(std::string& text) override;
  void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
              EncodedOutput& out) override;
};

// The formats written with a quality, an effort and one switch, whose
// encoders embed the metadata themselves: before encoding, the image gets
// the EXIF block (the kept items and the user's values) and XMP packet the
// output is to carry, and keeps its ICC profile. Their codec option packs
// the three values (imaging/codecs/quality_option.h). Each format names
// the effort and the switch in its own words (the INI keys and the fields
// below are references to EffortValue and SwitchValue).
class CFormatQualityEffort : public COutputFormat {
 public:
  // What tells the three formats apart.
  struct Traits {
    int format;               // format code of the encoder
    const char* name;         // INI section
    const char* extension;
    int quality;              // default quality
    const char* effortKey;    // INI key, default, range
    int effort;
    int effortMin;
    int effortMax;
    const char* switchKey;    // INI key (default off)
    bool switchKeyFirst;      // stored before the effort key
    const char* effortText;   // description: "Метод:%d, "
    const char* switchText;   // description: "Без потерь:%s"
    const char* switchOn;     // the switch's value in the description;
    const char* switchOff;    // nullptr: "Вкл"/"Выкл"
  };

  int LoadOptions(CIniStore& store) override;
  int SaveOptions(CIniStore& store) override;
  void Describe(std::string& text) override;
  void Encode(CImage& image, const std::string& sourcePath, const SourceInfo& info,
              EncodedOutput& out) override;
  uint32_t CodecOption() const;

  int Quality;       // 1..100
  int EffortValue;   // traits.effortMin .. traits.effortMax
  int SwitchValue;   // switch

 protected:
  explicit CFormatQualityEffort(const Traits& traits);

 private:
  const Traits& traits_;
};

class CFormatWebP : public CFormatQualityEffort {
 public:
  CFormatWebP();
  int& Lossless = SwitchValue;  // switch
  int& Method = EffortValue;    // 0 fastest .. 6 smallest (quality 1..100, default 80)
};

class CFormatAVIF : public CFormatQualityEffort {
 public:
  CFormatAVIF();
  int& Speed = EffortValue;      // 0 slowest .. 10 fastest (quality default 60)
  int& Chroma444 = SwitchValue;  // switch: full colour resolution instead of 4:2:0
};

class CFormatJXL : public CFormatQualityEffort {
 public:
  CFormatJXL();
  int& Effort = EffortValue;    // 1 fastest .. 9 smallest (quality default 90, a distance of 1.0)
  int& Lossless = SwitchValue;  // switch
};

// Sets on image the EXIF block and XMP packet an output of a container
// format carries, from the job's metadata choices (info.Options), the source's items
// and the blocks the decoder found (the XMP packet of other sources is read
// from sourcePath); the ICC profile stays. Used by the writers above and by
// the keep-format writer for such sources.
void PrepareEmbeddedMetadata(CImage& image, const std::string& sourcePath,
                             const SourceInfo& info);
