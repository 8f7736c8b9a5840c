// CSettings: defaults, the settings files, the filter order, and the values
// brought into range where they are used.
#include "settings/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <variant>

#include "settings/ini_store.h"

// The installed program's own files, relative to the folder of the program
// file (set by the build from the install folders).
#ifndef LUMARO_PRIVATE_DIR_FROM_BIN
#define LUMARO_PRIVATE_DIR_FROM_BIN "../lib/lumaro"
#endif

namespace {

constexpr char kAddressVer[] = "http://lumaro.example/downloads/tessel.ver";
constexpr char kAddressHomePage[] = "http://lumaro.example/downloads/tessel.html";

}  // namespace

const char* const CSettings::kDefaultAddressVer = kAddressVer;
const char* const CSettings::kDefaultAddressHomePage = kAddressHomePage;

namespace {

// The default settings file's name, in the settings folder; in the program
// folder of an installed program it names the template.
const char kDefaultFileName[] = "Lumaro.ini";

// Names of the sections the record itself owns.
constexpr char kGeneral[] = "General";
constexpr char kPos[] = "Pos";
constexpr char kDimensions[] = "Dimensions";
constexpr char kFlipRotate[] = "FlipRotate";
constexpr char kMeta[] = "META";
constexpr char kWatermarks[] = "Watermarks";
constexpr char kInet[] = "INET";
constexpr char kMapi[] = "MAPI";

// How a stored value is read and written (see the top of settings.h).
enum class SettingKind {
  Int,       // decimal
  Switch,    // an int field holding 0 or 1; any number but 0 reads as 1
  Text,      // verbatim
  Folder,    // verbatim; the default is the user's home folder
  Byte,      // a Font byte: the int read, cut to its low 8 bits
  Colour,    // 32-bit value as signed decimal
  Address,   // 32-bit value as signed decimal
  FaceName,  // "Font - lfFaceName": cut to 31 bytes between characters
};

// Where a stored value lives: a field of the record or of its Font.
using SettingField = std::variant<int CSettings::*, std::string CSettings::*,
                                  uint32_t CSettings::*, int32_t LogFont::*, uint8_t LogFont::*,
                                  decltype(&LogFont::lfFaceName)>;

struct SettingRow {
  const char* section;
  const char* key;
  SettingKind kind;
  SettingField field;
  const char* def;  // the text a new settings file holds (unused for Folder)
};

using K = SettingKind;
using S = CSettings;

// Every key of the record, in the order a settings file holds them: this
// table gives the defaults, and reading, writing and --set go by it. The
// sections of the output formats and of the filters are stored apart.
constexpr SettingRow kSettingRows[] = {
    {kGeneral, "Language", K::Int, &S::Language, "0"},
    {kGeneral, "OutputFolder", K::Folder, &S::OutputFolder, ""},
    {kGeneral, "OutputFormat", K::Int, &S::OutputFormat, "0"},
    {kGeneral, "LastTabPage", K::Int, &S::LastTabPage, "0"},
    {kGeneral, "LastOpenFolder", K::Folder, &S::LastOpenFolder, ""},
    {kGeneral, "ThumbWidth", K::Int, &S::ThumbWidth, "100"},
    {kGeneral, "ThumbHeight", K::Int, &S::ThumbHeight, "75"},
    {kGeneral, "RenamePattern", K::Text, &S::RenamePattern, "Image###"},
    {kGeneral, "ViewMode", K::Int, &S::ViewMode, "1"},
    {kGeneral, "RenameStartFrom", K::Int, &S::RenameStartFrom, "1"},
    {kGeneral, "SysPropsThumbsQuality", K::Int, &S::SysPropsThumbsQuality, "1"},
    {kGeneral, "SysPropsThumbsSize", K::Int, &S::SysPropsThumbsSize, "0"},
    {kGeneral, "ApplyDimensions", K::Switch, &S::ApplyDimensions, "1"},
    {kGeneral, "ApplyFilters", K::Switch, &S::ApplyFilters, "0"},
    {kGeneral, "ApplyMetadata", K::Switch, &S::ApplyMetadata, "0"},
    {kGeneral, "Interactive", K::Switch, &S::Interactive, "0"},
    {kGeneral, "Backup", K::Switch, &S::Backup, "1"},
    {kGeneral, "UseRename", K::Switch, &S::UseRename, "0"},
    {kGeneral, "RenameThrough", K::Switch, &S::RenameThrough, "0"},
    {kGeneral, "IncludingSubfolders", K::Switch, &S::IncludingSubfolders, "0"},
    {kGeneral, "KeepSubfoldersStructure", K::Switch, &S::KeepSubfoldersStructure, "0"},
    {kGeneral, "OpenFolderOnFinish", K::Switch, &S::OpenFolderOnFinish, "0"},

    {kPos, "MFx", K::Int, &S::MFx, "0"},
    {kPos, "MFy", K::Int, &S::MFy, "0"},

    {kDimensions, "PercentsOrPixels", K::Int, &S::PercentsOrPixels, "0"},
    {kDimensions, "Percents", K::Int, &S::Percents, "100"},
    {kDimensions, "Width", K::Int, &S::Width, "640"},
    {kDimensions, "Height", K::Int, &S::Height, "480"},
    {kDimensions, "MaintainAspectRatio", K::Int, &S::MaintainAspectRatio, "0"},
    {kDimensions, "nResamplingMode", K::Int, &S::nResamplingMode, "5"},
    {kDimensions, "nResamplingRadius", K::Int, &S::nResamplingRadius, "1"},
    {kDimensions, "WidthCm", K::Int, &S::WidthCm, "3"},
    {kDimensions, "HeightCm", K::Int, &S::HeightCm, "4"},
    {kDimensions, "DPI", K::Int, &S::DPI, "1"},

    {kFlipRotate, "RotationMode", K::Int, &S::RotationMode, "3"},
    {kFlipRotate, "FlipMode", K::Int, &S::FlipMode, "2"},

    {kMeta, "KeepExisting", K::Switch, &S::KeepExisting, "0"},
    {kMeta, "UseUserComment", K::Switch, &S::UseUserComment, "0"},
    {kMeta, "UserComment", K::Text, &S::UserComment, ""},
    {kMeta, "ImageAuthor", K::Text, &S::ImageAuthor, ""},
    {kMeta, "ImageDescription", K::Text, &S::ImageDescription, ""},
    {kMeta, "ImageCopyright", K::Text, &S::ImageCopyright, ""},

    {kWatermarks, "On", K::Switch, &S::WatermarksOn, "0"},
    {kWatermarks, "Emboss", K::Switch, &S::Emboss, "1"},
    {kWatermarks, "UseTransparentColor", K::Switch, &S::UseTransparentColor, "0"},
    {kWatermarks, "Mode", K::Int, &S::Mode, "3"},
    {kWatermarks, "Pos", K::Int, &S::WatermarksPos, "0"},
    {kWatermarks, "ImagePath", K::Text, &S::ImagePath, ""},
    {kWatermarks, "Text", K::Text, &S::Text, ""},
    {kWatermarks, "Font - lfHeight", K::Int, &LogFont::lfHeight, "-13"},
    {kWatermarks, "Font - lfWidth", K::Int, &LogFont::lfWidth, "0"},
    {kWatermarks, "Font - lfEscapement", K::Int, &LogFont::lfEscapement, "0"},
    {kWatermarks, "Font - lfOrientation", K::Int, &LogFont::lfOrientation, "0"},
    {kWatermarks, "Font - lfWeight", K::Int, &LogFont::lfWeight, "700"},
    {kWatermarks, "Font - lfItalic", K::Byte, &LogFont::lfItalic, "255"},
    {kWatermarks, "Font - lfUnderline", K::Byte, &LogFont::lfUnderline, "0"},
    {kWatermarks, "Font - lfStrikeOut", K::Byte, &LogFont::lfStrikeOut, "0"},
    {kWatermarks, "Font - lfCharSet", K::Byte, &LogFont::lfCharSet, "204"},
    {kWatermarks, "Font - lfOutPrecision", K::Byte, &LogFont::lfOutPrecision, "3"},
    {kWatermarks, "Font - lfClipPrecision", K::Byte, &LogFont::lfClipPrecision, "2"},
    {kWatermarks, "Font - lfQuality", K::Byte, &LogFont::lfQuality, "1"},
    {kWatermarks, "Font - lfPitchAndFamily", K::Byte, &LogFont::lfPitchAndFamily, "34"},
    {kWatermarks, "Font - lfFaceName", K::FaceName, &LogFont::lfFaceName, "Arial"},
    {kWatermarks, "Font - Color", K::Colour, &S::FontColor, "0"},
    {kWatermarks, "TagType", K::Int, &S::TagType, "0"},
    {kWatermarks, "DateTimeType", K::Int, &S::DateTimeType, "0"},
    {kWatermarks, "TransparentColor", K::Colour, &S::TransparentColor, "0"},
    {kWatermarks, "Transparency", K::Int, &S::Transparency, "50"},
    {kWatermarks, "PosMarginHor", K::Int, &S::PosMarginHor, "1"},
    {kWatermarks, "PosMarginVert", K::Int, &S::PosMarginVert, "1"},
    {kWatermarks, "WatermarksShadowPos", K::Int, &S::WatermarksShadowPos, "3"},
    {kWatermarks, "WatermarksShadowOffset", K::Int, &S::WatermarksShadowOffset, "1"},
    {kWatermarks, "WatermarksShadowColor", K::Colour, &S::WatermarksShadowColor, "12632256"},

    {kInet, "Proxy - IP", K::Address, &S::ProxyIP, "0"},
    {kInet, "Proxy - Port", K::Int, &S::ProxyPort, "0"},
    {kInet, "Proxy - Settings Mode", K::Switch, &S::ProxySettingsMode, "0"},
    {kInet, "Proxy - AddressVer", K::Text, &S::ProxyAddressVer, kAddressVer},
    {kInet, "Proxy - AddressHomePage", K::Text, &S::ProxyAddressHomePage, kAddressHomePage},

    {kMapi, "SendMailViaMAPIOnFinish", K::Switch, &S::SendMailViaMAPIOnFinish, "0"},
};

// The sections in the order a settings file holds them; the output formats'
// PNG and GIF sections sit among the record's own.
constexpr const char* kSectionOrder[] = {kGeneral, kPos,        kDimensions, kFlipRotate, "PNG",
                                         kMeta,    kWatermarks, "GIF",       kInet,       kMapi};

std::string DefaultText(const SettingRow& row) {
  return row.kind == K::Folder ? CSettings::HomeFolder() : std::string(row.def);
}

// Gives the row's field the value of text, read by the row's kind.
void AssignSetting(CSettings& s, const SettingRow& row, const std::string& text) {
  std::visit(
      [&](auto member) {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, int CSettings::*>)
          s.*member = row.kind == K::Switch ? (IniParseInt(text) != 0 ? 1 : 0) : IniParseInt(text);
        else if constexpr (std::is_same_v<Member, std::string CSettings::*>)
          s.*member = text;
        else if constexpr (std::is_same_v<Member, uint32_t CSettings::*>)
          s.*member = IniParseUInt32(text);
        else if constexpr (std::is_same_v<Member, int32_t LogFont::*>)
          s.Font.*member = IniParseInt(text);
        else if constexpr (std::is_same_v<Member, uint8_t LogFont::*>)
          s.Font.*member = uint8_t(unsigned(IniParseInt(text)) & 0xFFu);
        else
          CSettings::SetFaceName(s.Font, text);
      },
      row.field);
}

// The text the row's field is stored as.
std::string SettingText(const CSettings& s, const SettingRow& row) {
  return std::visit(
      [&](auto member) -> std::string {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, int CSettings::*>)
          return std::to_string(row.kind == K::Switch ? int(s.*member != 0) : s.*member);
        else if constexpr (std::is_same_v<Member, std::string CSettings::*>)
          return s.*member;
        else if constexpr (std::is_same_v<Member, uint32_t CSettings::*>)
          return IniFormatUInt32(s.*member);
        else if constexpr (std::is_same_v<Member, int32_t LogFont::*> ||
                           std::is_same_v<Member, uint8_t LogFont::*>)
          return std::to_string(s.Font.*member);
        else
          return std::string(s.Font.*member, strnlen(s.Font.*member, sizeof(s.Font.*member)));
      },
      row.field);
}

// Names compared as the settings files compare them: only A-Z folded.
bool SameName(const std::string& a, const char* b) {
  auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); };
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return i == a.size() && !b[i];
}

const SettingRow* FindSettingRow(const std::string& section, const std::string& key) {
  for (const SettingRow& row : kSettingRows)
    if (SameName(section, row.section) && SameName(key, row.key)) return &row;
  return nullptr;
}

int InRange(int value, int low, int high, int fallback) {
  return (value >= low && value <= high) ? value : fallback;
}

int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }

}  // namespace

CSettings::CSettings() {
  OutputFormats.push_back(std::make_unique<CFormatJPEG>());
  OutputFormats.push_back(std::make_unique<CFormatPNG>());
  OutputFormats.push_back(std::make_unique<CFormatTIFF>());
  OutputFormats.push_back(std::make_unique<CFormatBMP>());
  OutputFormats.push_back(std::make_unique<CFormatGIF>());
  OutputFormats.push_back(std::make_unique<CFormatKeep>());
  OutputFormats.push_back(std::make_unique<CFormatWebP>());
  OutputFormats.push_back(std::make_unique<CFormatAVIF>());
  OutputFormats.push_back(std::make_unique<CFormatJXL>());
  ResetToDefaults();
}

CSettings::~CSettings() = default;

void CSettings::ResetToDefaults() {
  for (const SettingRow& row : kSettingRows) AssignSetting(*this, row, DefaultText(row));
  // A store without sections answers every lookup with the default.
  CIniStore empty("");
  for (auto& format : OutputFormats)
    if (format->HasOptions == 1) format->LoadOptions(empty);
}

// ---- files ----------------------------------------------------------------------

bool CSettings::SaveToFile(const std::string& path) {
  CIniStore store(path);
  SaveToStore(store);
  if (!store.Write()) {
    LastError = store.GetLastError();
    return false;
  }
  return true;
}

void CSettings::SaveToStore(CIniStore& store) const {
  for (const char* name : kSectionOrder) store.AddSection(name);

  for (const SettingRow& row : kSettingRows)
    store.SetString(row.section, row.key, SettingText(*this, row));

  if (Filters) {
    int index = 0;
    for (const auto& entry : *Filters) {
      std::string section = GuidToRegistryString(entry->Id);
      store.SetBool(section, "On", entry->Enabled);
      store.SetInt(section, "Order index", index++);
    }
  }

  for (auto& format : OutputFormats)
    if (format->HasOptions == 1) format->SaveOptions(store);
}

SettingsLoadResult CSettings::LoadFromFile(const std::string& path) {
  CIniStore store(path);
  bool readOk = store.Read();
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(path, ec);
  bool missing = status.type() == std::filesystem::file_type::not_found;
  bool empty = false;
  if (status.type() == std::filesystem::file_type::regular) {
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    empty = !ec && size == 0;
  }
  // Read fails exactly when the model holds no section, so a file that is not
  // a settings file gives every key its default.
  bool present = readOk && !missing && !empty;
  LoadFromStore(store);

  if (present) return SettingsLoadResult::Loaded;

  Language = UserDefaultLanguage();
  if (missing || empty) {
    if (SaveToFile(path)) return SettingsLoadResult::Created;
    return SettingsLoadResult::CreateFailed;
  }
  LastError = path + " is not a settings file (it holds no section); it was left unchanged";
  return SettingsLoadResult::NotSettingsFile;
}

void CSettings::LoadFromStore(CIniStore& store) {
  for (const SettingRow& row : kSettingRows)
    AssignSetting(*this, row, store.GetString(row.section, row.key, DefaultText(row)));

  if (Filters) {
    for (auto& entry : *Filters) {
      std::string section = GuidToRegistryString(entry->Id);
      entry->Enabled = store.GetBool(section, "On", false);
      entry->StoredPosition = store.GetInt(section, "Order index", -1);
    }
    ReorderFilterList(*Filters);
  }

  for (auto& format : OutputFormats)
    if (format->HasOptions == 1) format->LoadOptions(store);
}

bool CSettings::HoldsKey(const std::string& section, const std::string& key) const {
  if (FindSettingRow(section, key)) return true;
  if (Filters && (SameName(key, "On") || SameName(key, "Order index")))
    for (const auto& entry : *Filters)
      if (SameName(section, GuidToRegistryString(entry->Id).c_str())) return true;
  CIniStore formats("");
  for (auto& format : OutputFormats)
    if (format->HasOptions == 1) format->SaveOptions(formats);
  return formats.FindKey(formats.FindSection(section), key) >= 0;
}

bool CSettings::ApplySetting(const std::string& section, const std::string& key,
                             const std::string& value) {
  if (const SettingRow* row = FindSettingRow(section, key)) {
    AssignSetting(*this, *row, value);
    return true;
  }
  if (!HoldsKey(section, key)) {
    LastError = "unknown setting " + section + "." + key;
    return false;
  }
  // A filter's or an output format's key: through a store, as from a file.
  CIniStore store("");
  SaveToStore(store);
  store.SetString(section, key, value, false);
  LoadFromStore(store);
  return true;
}

std::string CSettings::DefaultFilePath() const { return StorageFolder() + kDefaultFileName; }

bool CSettings::SaveDefaultFile() { return SaveToFile(DefaultFilePath()); }

namespace {

bool MissingOrEmpty(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) && st.st_size == 0;
}

}  // namespace

SettingsLoadResult CSettings::LoadDefaultFile() {
  const std::string path = DefaultFilePath();
  const std::string templatePath = ProgramFolder + kDefaultFileName;
  if (path != templatePath && MissingOrEmpty(path)) {
    CIniStore store(templatePath);
    if (store.Read()) {
      LoadFromStore(store);
      Language = UserDefaultLanguage();
      return SaveToFile(path) ? SettingsLoadResult::Created : SettingsLoadResult::CreateFailed;
    }
  }
  return LoadFromFile(path);
}

std::string CSettings::DefaultFileToRead() const {
  const std::string path = DefaultFilePath();
  const std::string templatePath = ProgramFolder + kDefaultFileName;
  if (path != templatePath && MissingOrEmpty(path) && !MissingOrEmpty(templatePath))
    return templatePath;
  return path;
}

// ---- filter order ---------------------------------------------------------------

void ReorderFilterList(CFilterList& filters) {
  const int n = static_cast<int>(filters.size());
  CFilterList placed;
  CFilterList unplaced;
  for (auto& entry : filters) {
    if (entry->StoredPosition >= n || entry->StoredPosition < -1) entry->StoredPosition = -1;
    if (entry->StoredPosition == -1)
      unplaced.push_back(std::move(entry));
    else
      placed.push_back(std::move(entry));
  }
  // Stable: entries stored with the same position keep their previous order
  // and all of them stay.
  std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
    return a->StoredPosition < b->StoredPosition;
  });
  filters.clear();
  for (auto& entry : placed) filters.push_back(std::move(entry));
  for (auto& entry : unplaced) filters.push_back(std::move(entry));
}

// ---- values in range ----------------------------------------------------------------

int CSettings::OutputFormatIndex() const {
  return InRange(OutputFormat, 0, int(OutputFormats.size()) - 1, 0);
}

COutputFormat& CSettings::CurrentOutputFormat() const {
  return *OutputFormats[size_t(OutputFormatIndex())];
}

int CSettings::LastTabPageIndex() const { return InRange(LastTabPage, 0, 4, 0); }
int CSettings::ViewModeIndex() const { return InRange(ViewMode, 0, 2, 1); }
int CSettings::ThumbsQualityIndex() const { return InRange(SysPropsThumbsQuality, 0, 2, 1); }
int CSettings::ThumbsSizeStep() const { return Clamp(SysPropsThumbsSize, -50, 50); }
int CSettings::SizeModeIndex() const { return InRange(PercentsOrPixels, 0, 2, 0); }
int CSettings::AspectModeIndex() const { return InRange(MaintainAspectRatio, 0, 3, 0); }
int CSettings::ResamplingModeIndex() const { return InRange(nResamplingMode, 0, 6, 5); }
int CSettings::DpiIndex() const { return Clamp(DPI, 0, 5); }

int CSettings::DpiValue() const {
  static const int kDpi[] = {72, 96, 100, 200, 300, 600};
  return kDpi[DpiIndex()];
}

int CSettings::RotationModeIndex() const { return InRange(RotationMode, 0, 4, 3); }
int CSettings::FlipModeIndex() const { return InRange(FlipMode, 0, 2, 2); }
int CSettings::WatermarkModeIndex() const { return InRange(Mode, 0, 3, 3); }
int CSettings::WatermarkPosIndex() const { return InRange(WatermarksPos, 0, 3, 0); }
int CSettings::TagTypeIndex() const { return InRange(TagType, 0, 4, 0); }
int CSettings::DateTimeTypeIndex() const { return InRange(DateTimeType, 0, 3, 0); }
int CSettings::TransparencyPercent() const { return Clamp(Transparency, 0, 100); }
int CSettings::ShadowPosIndex() const { return InRange(WatermarksShadowPos, 0, 3, 3); }
int CSettings::LanguageIndex() const { return Language == 1 ? 1 : 0; }

// ---- environment ----------------------------------------------------------------------

std::string CSettings::DetectProgramFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::string();
  std::string text = exe.string();
  size_t slash = text.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return text.substr(0, slash + 1);
}

std::string CSettings::ProgramFilesFolder(const std::string& exeFolder) {
  if (exeFolder.empty()) return exeFolder;
  struct stat st {};
  for (const char* own : {kDefaultFileName, "LumaroEng.so"})
    if (::stat((exeFolder + own).c_str(), &st) == 0) return exeFolder;
  const std::string installed = exeFolder + LUMARO_PRIVATE_DIR_FROM_BIN "/";
  if (::stat(installed.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return exeFolder;
  std::error_code ec;
  std::string folder = std::filesystem::weakly_canonical(installed, ec).string();
  if (ec || folder.empty()) return installed;
  if (folder.back() != '/') folder += '/';
  return folder;
}

namespace {

// An XDG base folder: the variable when it holds an absolute path, else
// HomeFolder() + fallback. Ends in "/".
std::string XdgFolder(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  std::string folder = value && value[0] == '/' ? std::string(value) : CSettings::HomeFolder() + fallback;
  if (folder.back() != '/') folder += '/';
  return folder;
}

// The owner may write the file (by its mode bits, so that a template
// installed read-only counts as such even for root) and the process may
// replace it in its folder.
bool WritableFileIn(const std::string& folder, const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) &&
         ::access(path.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string CSettings::UserConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config") + "Lumaro/"; }

std::string CSettings::UserFiltersFolder() {
  return XdgFolder("XDG_DATA_HOME", ".local/share") + "lumaro/filters/";
}

CSettings::SettingsPlace CSettings::ChooseSettingsFolder(const std::string& programFolder,
                                                         bool portable, bool create) {
  SettingsPlace place;
  if (!programFolder.empty()) {
    const std::string file = programFolder + kDefaultFileName;
    struct stat st {};
    const bool exists = ::lstat(file.c_str(), &st) == 0;
    if (exists ? WritableFileIn(programFolder, file)
               : portable && ::access(programFolder.c_str(), W_OK | X_OK) == 0) {
      place.folder = programFolder;
      return place;
    }
  }
  place.folder = UserConfigFolder();
  if (!create) return place;
  std::error_code ec;
  std::filesystem::create_directories(place.folder, ec);
  if (ec) {
    place.writable = false;
    place.problem = "cannot create the settings folder " + place.folder + ": " + ec.message() +
                    "; the settings are not stored";
    return place;
  }
  const std::string file = place.folder + kDefaultFileName;
  struct stat st {};
  const bool exists = ::stat(file.c_str(), &st) == 0;
  if (exists ? !WritableFileIn(place.folder, file) : ::access(place.folder.c_str(), W_OK | X_OK) != 0) {
    place.writable = false;
    place.problem = "cannot write " + file + ": " + std::strerror(exists ? EACCES : errno) +
                    "; the settings are read but not stored";
  }
  return place;
}

int CSettings::UserDefaultLanguage() {
  // The C library's order: an empty variable is skipped.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::strncmp(value, "ru", 2) == 0 ? 0 : 1;
  }
  return 1;
}

std::string CSettings::HomeFolder() {
  const char* home = std::getenv("HOME");
  if (!home || !*home) return "/";
  std::string folder = home;
  if (folder.back() != '/') folder += '/';
  return folder;
}

void CSettings::SetFaceName(LogFont& font, const std::string& name) {
  size_t length = std::min(name.size(), sizeof font.lfFaceName - 1);
  // Step back over continuation bytes so the cut falls between characters.
  if (length < name.size())
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  std::memset(font.lfFaceName, 0, sizeof font.lfFaceName);
  std::memcpy(font.lfFaceName, name.data(), length);
}

CSettings& GetSettings() {
  static CSettings settings;
  return settings;
}
