// CSettings: the one settings record of the program, and its settings files.
//
// Every option lives here as a plain field named by the INI key it is stored
// under. GetSettings() returns the process-wide record; its users read and
// write the fields directly. SaveToFile and LoadFromFile move the whole record,
// the filters' enabled flags and order, and the output formats' options
// between memory and an INI file (see ini_store.h for the file form).
//
// Stored values:
//   int     decimal text; read as the runtime's decimal conversion ("12abc" is
//           12, "abc" is 0); a missing key takes the field's default
//   switch  an int field holding 0 or 1; written "1"/"0", read as true when
//           the number is not 0 ("2" reads as 1)
//   text    verbatim after "=", no trimming or quoting
//   byte    the int read, cut to its low 8 bits (the Font fields)
//   colour  0x00BBGGRR, written as the signed decimal of the 32-bit value
//           (white is 16777215)
//   address IPv4, first number in the top byte, written as the signed decimal
//           of the 32-bit value (192.168.0.1 is -1062731775)
// "Font - lfFaceName" is cut to 31 bytes, never inside a UTF-8 character.
//
// Defaults: the table of keys in settings.cpp (section, key, field, kind,
// default) gives every stored field its default; the constructor applies it.
// The default OutputFolder and LastOpenFolder are the user's home folder,
// "$HOME/" ("/" when HOME is not set), because a drive root means nothing
// here. The Font's defaults there are those of a settings file (lfItalic
// 255), not the LogFont initialisers of the imaging library.
//
// Values out of range (hand-edited files) are kept in the fields exactly as
// read and written back unchanged; the accessors below bring them into range
// where they are used:
//   OutputFormatIndex()     OutputFormat outside 0..8          -> 0 (JPEG)
//   LastTabPageIndex()      LastTabPage outside 0..4           -> 0
//   ViewModeIndex()         ViewMode outside 0..2              -> 1 (table)
//   ThumbsQualityIndex()    SysPropsThumbsQuality outside 0..2 -> 1 (low)
//   ThumbsSizeStep()        SysPropsThumbsSize clamped to -50..50
//   SizeModeIndex()         PercentsOrPixels outside 0..2      -> 0 (percent)
//   AspectModeIndex()       MaintainAspectRatio outside 0..3   -> 0 (automatic)
//   ResamplingModeIndex()   nResamplingMode outside 0..6       -> 5 (Lanczos)
//   DpiIndex()              DPI clamped to 0..5 (negative counts as 0)
//   DpiValue()              72, 96, 100, 200, 300 or 600 by DpiIndex()
//   RotationModeIndex()     RotationMode outside 0..4          -> 3 (as is)
//   FlipModeIndex()         FlipMode outside 0..2              -> 2 (as is)
//   WatermarkModeIndex()    Mode outside 0..3                  -> 3 (text)
//   WatermarkPosIndex()     WatermarksPos outside 0..3         -> 0
//   TagTypeIndex()          TagType outside 0..4               -> 0 (author)
//   DateTimeTypeIndex()     DateTimeType outside 0..3          -> 0 (date)
//   TransparencyPercent()   Transparency clamped to 0..100
//   ShadowPosIndex()        WatermarksShadowPos outside 0..3   -> 3
//   LanguageIndex()         Language 1 -> 1 (English), anything else -> 0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/output_format.h"
#include "imaging/log_font.h"
#include "settings/ini_store.h"
#include "plugins/filter_entry.h"

// Outcome of CSettings::LoadFromFile.
enum class SettingsLoadResult {
  Loaded,            // the file was read; missing keys took their defaults
  Created,           // the file was missing or empty: defaults, written to it
  CreateFailed,      // as Created, but the file could not be written
  NotSettingsFile,   // the file has content but no section (or cannot be
                     // read): defaults taken, the file left untouched
};

class CSettings {
 public:
  CSettings();
  ~CSettings();
  CSettings(const CSettings&) = delete;
  CSettings& operator=(const CSettings&) = delete;

  // Gives every persisted field its default (the output formats' options
  // included). The filter entries are not touched.
  void ResetToDefaults();

  // Stores every field, the filter sections and the output formats' options
  // into path, replacing the file. On failure the old file stays as it was,
  // the result is false and GetLastError() tells why.
  bool SaveToFile(const std::string& path);
  // Loads every field from path (defaults for missing keys), the filters'
  // enabled flags and stored positions, reorders the filter list and loads
  // the output formats' options. A missing or empty file takes the defaults,
  // the user's language, and is created; a file with content but no section
  // is never written.
  SettingsLoadResult LoadFromFile(const std::string& path);
  // SettingsFolder, or ProgramFolder when SettingsFolder is empty: the
  // folder of the default settings file and of the filters' Tessel.ini.
  const std::string& StorageFolder() const {
    return SettingsFolder.empty() ? ProgramFolder : SettingsFolder;
  }
  // StorageFolder() + "Lumaro.ini".
  std::string DefaultFilePath() const;
  bool SaveDefaultFile();
  // LoadFromFile on the default file. When that file lies outside the
  // program folder and is missing or empty, the program folder's
  // "Lumaro.ini" (the installed template), when it reads as a settings file,
  // gives the starting values instead of the built-in defaults; Language
  // still follows the user's language and the file is created.
  SettingsLoadResult LoadDefaultFile();
  // The file batch mode reads for the default settings: the default file,
  // or the template while the default file is missing or empty.
  std::string DefaultFileToRead() const;

  // Sets one stored key by its section and key name (case-insensitive for
  // A-Z) from text, with the same reading rules as a settings file, e.g.
  // ("Dimensions", "Width", "800") or ("{GUID}", "On", "1") for a filter in
  // the list. False, with nothing changed, for a key a settings file of this
  // record would not hold.
  bool ApplySetting(const std::string& section, const std::string& key,
                    const std::string& value);
  // True when a settings file of this record holds the key (names compared
  // as ApplySetting compares them): a key of the record, an output format's
  // option, or "On" and "Order index" of a filter in the list.
  bool HoldsKey(const std::string& section, const std::string& key) const;

  // Writes every field, the filter sections and the output formats' options
  // into a store, in the order of a settings file.
  void SaveToStore(CIniStore& store) const;
  // Reads them from a store (defaults for missing keys) and reorders the
  // filter list. The store is not changed.
  void LoadFromStore(CIniStore& store);

  // The application's filter list, used by SaveToFile and LoadFromFile
  // (nullptr: no filters). The list is owned by the caller.
  void SetFilterList(CFilterList* filters) { Filters = filters; }
  CFilterList* GetFilterList() const { return Filters; }

  const std::string& GetLastError() const { return LastError; }

  // Values brought into range (see the table at the top of this file).
  int OutputFormatIndex() const;
  COutputFormat& CurrentOutputFormat() const;
  int LastTabPageIndex() const;
  int ViewModeIndex() const;
  int ThumbsQualityIndex() const;
  int ThumbsSizeStep() const;
  int SizeModeIndex() const;
  int AspectModeIndex() const;
  int ResamplingModeIndex() const;
  int DpiIndex() const;
  int DpiValue() const;
  int RotationModeIndex() const;
  int FlipModeIndex() const;
  int WatermarkModeIndex() const;
  int WatermarkPosIndex() const;
  int TagTypeIndex() const;
  int DateTimeTypeIndex() const;
  int TransparencyPercent() const;
  int ShadowPosIndex() const;
  int LanguageIndex() const;

  // Folder of the running program file, with the trailing "/" (from
  // /proc/self/exe); empty when it cannot be found.
  static std::string DetectProgramFolder();
  // The folder of the program's own files (language library, filter
  // plug-ins, settings template) for a program file in exeFolder: exeFolder
  // itself (a portable copy, the build tree) unless it holds neither
  // "Lumaro.ini" nor "LumaroEng.so" and the installed private folder
  // exeFolder + LUMARO_PRIVATE_DIR_FROM_BIN exists.
  static std::string ProgramFilesFolder(const std::string& exeFolder);
  // $XDG_CONFIG_HOME/Lumaro/, or $HOME/.config/Lumaro/ when the variable is
  // unset, empty or not an absolute path.
  static std::string UserConfigFolder();
  // $XDG_DATA_HOME/lumaro/filters/, or $HOME/.local/share/lumaro/filters/.
  static std::string UserFiltersFolder();

  // Where the default settings file and Tessel.ini live.
  struct SettingsPlace {
    std::string folder;    // ends in "/"
    bool writable = true;  // false: settings are read but never stored
    std::string problem;   // why they cannot be stored; empty when writable
  };
  // The program folder when it holds a writable "Lumaro.ini", or when it is
  // the program file's own folder (portable) and is writable with no
  // "Lumaro.ini" yet; otherwise UserConfigFolder(), created when missing
  // and create is true.
  static SettingsPlace ChooseSettingsFolder(const std::string& programFolder, bool portable,
                                            bool create);

  // The user's language for a new settings file: 0 Russian when the first
  // non-empty one of LC_ALL, LC_MESSAGES, LANG starts with "ru", otherwise 1.
  static int UserDefaultLanguage();
  // The user's home folder with a trailing "/" ("/" when HOME is not set).
  static std::string HomeFolder();
  // Copies name into the font's face name, cut to 31 bytes without splitting
  // a UTF-8 character.
  static void SetFaceName(LogFont& font, const std::string& name);

  // ---- not stored in settings files ----------------------------------------
  std::string ProgramFolder;  // ends in "/"
  std::string SettingsFolder;  // ends in "/"; empty: ProgramFolder
  int GdiplusAvailable = 0;   // 1 when metadata support is available
  // The output formats: JPEG, PNG, TIFF, BMP, GIF, keep, WebP, AVIF,
  // JPEG XL; indexed by OutputFormat.
  std::vector<std::unique_ptr<COutputFormat>> OutputFormats;

  // ---- stored in settings files; the table in settings.cpp gives the
  // defaults, the constructor applies them ------------------------------------

  // ---- [General] --------------------------------------------------------
  int Language{};  // 0 Russian, 1 English
  std::string OutputFolder;  // HomeFolder(); empty = beside each source
  int OutputFormat{};  // index into OutputFormats
  int LastTabPage{};  // 0..4
  std::string LastOpenFolder;  // HomeFolder()
  int ThumbWidth{};
  int ThumbHeight{};
  std::string RenamePattern;
  int ViewMode{};  // 0 list, 1 table, 2 thumbnails
  int RenameStartFrom{};
  int SysPropsThumbsQuality{};  // 0 high, 1 low, 2 none
  int SysPropsThumbsSize{};  // -50..50
  int ApplyDimensions{};  // switch
  int ApplyFilters{};  // switch
  int ApplyMetadata{};  // switch
  int Interactive{};  // switch
  int Backup{};  // switch
  int UseRename{};  // switch
  int RenameThrough{};  // switch
  int IncludingSubfolders{};  // switch
  int KeepSubfoldersStructure{};  // switch
  int OpenFolderOnFinish{};  // switch

  // ---- [Pos] ----------------------------------------------------------------
  int MFx{};
  int MFy{};

  // ---- [Dimensions] -------------------------------------------------------
  int PercentsOrPixels{};  // 0 percent, 1 pixels, 2 millimetres
  int Percents{};
  int Width{};
  int Height{};
  int MaintainAspectRatio{};  // 0 automatic, 1 free, 2 by width, 3 by height
  int nResamplingMode{};  // 0..6
  int nResamplingRadius{};
  int WidthCm{};  // millimetres
  int HeightCm{};  // millimetres
  int DPI{};  // index: 72, 96, 100, 200, 300, 600

  // ---- [FlipRotate] ----------------------------------------------------------
  int RotationMode{};  // 0 left, 1 right, 2 180, 3 as is, 4 by orientation tag
  int FlipMode{};  // 0 mirror, 1 flip, 2 as is

  // ---- [META] --------------------------------------------------------------
  int KeepExisting{};  // switch
  int UseUserComment{};  // switch
  std::string UserComment;
  std::string ImageAuthor;
  std::string ImageDescription;
  std::string ImageCopyright;

  // ---- [Watermarks] ---------------------------------------------------------
  int WatermarksOn{};  // "On" (switch)
  int Emboss{};  // switch
  int UseTransparentColor{};  // switch
  int Mode{};  // 0 tag, 1 creation time, 2 picture, 3 text
  int WatermarksPos{};  // "Pos": corner 0..3
  std::string ImagePath;
  std::string Text;
  LogFont Font;  // the thirteen "Font - ..." keys
  uint32_t FontColor{};  // "Font - Color"
  int TagType{};  // 0..4
  int DateTimeType{};  // 0..3
  uint32_t TransparentColor{};
  int Transparency{};  // percent of opacity
  int PosMarginHor{};
  int PosMarginVert{};
  int WatermarksShadowPos{};  // 0..3
  int WatermarksShadowOffset{};
  uint32_t WatermarksShadowColor{};

  // ---- [INET] ---------------------------------------------------------------
  uint32_t ProxyIP{};  // "Proxy - IP"
  int ProxyPort{};  // "Proxy - Port"
  int ProxySettingsMode{};  // "Proxy - Settings Mode" (switch)
  std::string ProxyAddressVer;  // "Proxy - AddressVer"
  std::string ProxyAddressHomePage;  // "Proxy - AddressHomePage"

  // ---- [MAPI] -----------------------------------------------------------------
  int SendMailViaMAPIOnFinish{};  // switch

  // Default values of the two INET addresses.
  static const char* const kDefaultAddressVer;
  static const char* const kDefaultAddressHomePage;

 private:
  CFilterList* Filters = nullptr;
  std::string LastError;
};

// The process-wide settings record.
CSettings& GetSettings();

// Orders a filter list by the entries' stored positions: entries with a
// position that fits the list (0..size-1) come first in position order, then
// the others (their stored position set to -1) in their previous order. Two
// entries with the same position both stay, in their previous order.
void ReorderFilterList(CFilterList& filters);
