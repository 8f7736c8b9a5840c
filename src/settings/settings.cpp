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

#include "settings/ini_store.h"

// The installed program's own files, relative to the folder of the program
// file (set by the build from the install folders).
#ifndef LUMARO_PRIVATE_DIR_FROM_BIN
#define LUMARO_PRIVATE_DIR_FROM_BIN "../lib/lumaro"
#endif

const char* const CSettings::kDefaultAddressVer = "http://lumaro.example/downloads/tessel.ver";
const char* const CSettings::kDefaultAddressHomePage =
    "http://lumaro.example/downloads/tessel.html";

namespace {

// The default settings file's name, in the settings folder; in the program
// folder of an installed program it names the template.
const char kDefaultFileName[] = "Lumaro.ini";

// Key names of the sections the record itself owns.
const char kGeneral[] = "General";
const char kPos[] = "Pos";
const char kDimensions[] = "Dimensions";
const char kFlipRotate[] = "FlipRotate";
const char kMeta[] = "META";
const char kWatermarks[] = "Watermarks";
const char kInet[] = "INET";
const char kMapi[] = "MAPI";

int InRange(int value, int low, int high, int fallback) {
  return (value >= low && value <= high) ? value : fallback;
}

int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }

int ReadSwitch(const CIniStore& store, const char* section, const char* key, int def) {
  return store.GetBool(section, key, def != 0) ? 1 : 0;
}

uint8_t ReadByte(const CIniStore& store, const char* section, const char* key, uint8_t def) {
  return uint8_t(unsigned(store.GetInt(section, key, def)) & 0xFFu);
}

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
  // A store without sections answers every lookup with the default, so
  // loading from it gives every field the value it takes in a new file.
  CIniStore empty("");
  Language = 0;
  OutputFolder = HomeFolder();
  OutputFormat = 0;
  LastTabPage = 0;
  LastOpenFolder = HomeFolder();
  ThumbWidth = 100;
  ThumbHeight = 75;
  RenamePattern = "Image###";
  ViewMode = 1;
  RenameStartFrom = 1;
  SysPropsThumbsQuality = 1;
  SysPropsThumbsSize = 0;
  ApplyDimensions = 1;
  ApplyFilters = 0;
  ApplyMetadata = 0;
  Interactive = 0;
  Backup = 1;
  UseRename = 0;
  RenameThrough = 0;
  IncludingSubfolders = 0;
  KeepSubfoldersStructure = 0;
  OpenFolderOnFinish = 0;
  MFx = 0;
  MFy = 0;
  PercentsOrPixels = 0;
  Percents = 100;
  Width = 640;
  Height = 480;
  MaintainAspectRatio = 0;
  nResamplingMode = 5;
  nResamplingRadius = 1;
  WidthCm = 3;
  HeightCm = 4;
  DPI = 1;
  RotationMode = 3;
  FlipMode = 2;
  KeepExisting = 0;
  UseUserComment = 0;
  UserComment.clear();
  ImageAuthor.clear();
  ImageDescription.clear();
  ImageCopyright.clear();
  WatermarksOn = 0;
  Emboss = 1;
  UseTransparentColor = 0;
  Mode = 3;
  WatermarksPos = 0;
  ImagePath.clear();
  Text.clear();
  Font = LogFont();
  Font.lfHeight = -13;
  Font.lfWidth = 0;
  Font.lfEscapement = 0;
  Font.lfOrientation = 0;
  Font.lfWeight = 700;
  Font.lfItalic = 255;
  Font.lfUnderline = 0;
  Font.lfStrikeOut = 0;
  Font.lfCharSet = 204;
  Font.lfOutPrecision = 3;
  Font.lfClipPrecision = 2;
  Font.lfQuality = 1;
  Font.lfPitchAndFamily = 34;
  SetFaceName(Font, "Arial");
  FontColor = 0;
  TagType = 0;
  DateTimeType = 0;
  TransparentColor = 0;
  Transparency = 50;
  PosMarginHor = 1;
  PosMarginVert = 1;
  WatermarksShadowPos = 3;
  WatermarksShadowOffset = 1;
  WatermarksShadowColor = 12632256;
  ProxyIP = 0;
  ProxyPort = 0;
  ProxySettingsMode = 0;
  ProxyAddressVer = kDefaultAddressVer;
  ProxyAddressHomePage = kDefaultAddressHomePage;
  SendMailViaMAPIOnFinish = 0;
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
  for (const char* name : {kGeneral, kPos, kDimensions, kFlipRotate, "PNG", kMeta, kWatermarks,
                           "GIF", kInet})
    store.AddSection(name);

  store.SetInt(kPos, "MFx", MFx);
  store.SetInt(kPos, "MFy", MFy);

  store.SetInt(kGeneral, "Language", Language);
  store.SetString(kGeneral, "OutputFolder", OutputFolder);
  store.SetInt(kGeneral, "OutputFormat", OutputFormat);
  store.SetInt(kGeneral, "LastTabPage", LastTabPage);
  store.SetString(kGeneral, "LastOpenFolder", LastOpenFolder);
  store.SetInt(kGeneral, "ThumbWidth", ThumbWidth);
  store.SetInt(kGeneral, "ThumbHeight", ThumbHeight);
  store.SetString(kGeneral, "RenamePattern", RenamePattern);
  store.SetInt(kGeneral, "ViewMode", ViewMode);
  store.SetInt(kGeneral, "RenameStartFrom", RenameStartFrom);
  store.SetInt(kGeneral, "SysPropsThumbsQuality", SysPropsThumbsQuality);
  store.SetInt(kGeneral, "SysPropsThumbsSize", SysPropsThumbsSize);
  store.SetBool(kGeneral, "ApplyDimensions", ApplyDimensions != 0);
  store.SetBool(kGeneral, "ApplyFilters", ApplyFilters != 0);
  store.SetBool(kGeneral, "ApplyMetadata", ApplyMetadata != 0);
  store.SetBool(kGeneral, "Interactive", Interactive != 0);
  store.SetBool(kGeneral, "Backup", Backup != 0);
  store.SetBool(kGeneral, "UseRename", UseRename != 0);
  store.SetBool(kGeneral, "RenameThrough", RenameThrough != 0);
  store.SetBool(kGeneral, "IncludingSubfolders", IncludingSubfolders != 0);
  store.SetBool(kGeneral, "KeepSubfoldersStructure", KeepSubfoldersStructure != 0);
  store.SetBool(kGeneral, "OpenFolderOnFinish", OpenFolderOnFinish != 0);
  store.SetBool(kMapi, "SendMailViaMAPIOnFinish", SendMailViaMAPIOnFinish != 0);

  store.SetInt(kDimensions, "PercentsOrPixels", PercentsOrPixels);
  store.SetInt(kDimensions, "Percents", Percents);
  store.SetInt(kDimensions, "Width", Width);
  store.SetInt(kDimensions, "Height", Height);
  store.SetInt(kDimensions, "MaintainAspectRatio", MaintainAspectRatio);
  store.SetInt(kDimensions, "nResamplingMode", nResamplingMode);
  store.SetInt(kDimensions, "nResamplingRadius", nResamplingRadius);
  store.SetInt(kDimensions, "WidthCm", WidthCm);
  store.SetInt(kDimensions, "HeightCm", HeightCm);
  store.SetInt(kDimensions, "DPI", DPI);

  store.SetInt(kFlipRotate, "RotationMode", RotationMode);
  store.SetInt(kFlipRotate, "FlipMode", FlipMode);

  store.SetBool(kMeta, "KeepExisting", KeepExisting != 0);
  store.SetBool(kMeta, "UseUserComment", UseUserComment != 0);
  store.SetString(kMeta, "UserComment", UserComment);
  store.SetString(kMeta, "ImageAuthor", ImageAuthor);
  store.SetString(kMeta, "ImageDescription", ImageDescription);
  store.SetString(kMeta, "ImageCopyright", ImageCopyright);

  store.SetBool(kWatermarks, "On", WatermarksOn != 0);
  store.SetBool(kWatermarks, "Emboss", Emboss != 0);
  store.SetBool(kWatermarks, "UseTransparentColor", UseTransparentColor != 0);
  store.SetInt(kWatermarks, "Mode", Mode);
  store.SetInt(kWatermarks, "Pos", WatermarksPos);
  store.SetString(kWatermarks, "ImagePath", ImagePath);
  store.SetString(kWatermarks, "Text", Text);
  store.SetInt(kWatermarks, "Font - lfHeight", Font.lfHeight);
  store.SetInt(kWatermarks, "Font - lfWidth", Font.lfWidth);
  store.SetInt(kWatermarks, "Font - lfEscapement", Font.lfEscapement);
  store.SetInt(kWatermarks, "Font - lfOrientation", Font.lfOrientation);
  store.SetInt(kWatermarks, "Font - lfWeight", Font.lfWeight);
  store.SetInt(kWatermarks, "Font - lfItalic", Font.lfItalic);
  store.SetInt(kWatermarks, "Font - lfUnderline", Font.lfUnderline);
  store.SetInt(kWatermarks, "Font - lfStrikeOut", Font.lfStrikeOut);
  store.SetInt(kWatermarks, "Font - lfCharSet", Font.lfCharSet);
  store.SetInt(kWatermarks, "Font - lfOutPrecision", Font.lfOutPrecision);
  store.SetInt(kWatermarks, "Font - lfClipPrecision", Font.lfClipPrecision);
  store.SetInt(kWatermarks, "Font - lfQuality", Font.lfQuality);
  store.SetInt(kWatermarks, "Font - lfPitchAndFamily", Font.lfPitchAndFamily);
  store.SetString(kWatermarks, "Font - lfFaceName",
                  std::string(Font.lfFaceName, strnlen(Font.lfFaceName, sizeof Font.lfFaceName)));
  store.SetUInt32(kWatermarks, "Font - Color", FontColor);
  store.SetInt(kWatermarks, "TagType", TagType);
  store.SetInt(kWatermarks, "DateTimeType", DateTimeType);
  store.SetUInt32(kWatermarks, "TransparentColor", TransparentColor);
  store.SetInt(kWatermarks, "Transparency", Transparency);
  store.SetInt(kWatermarks, "PosMarginHor", PosMarginHor);
  store.SetInt(kWatermarks, "PosMarginVert", PosMarginVert);
  store.SetInt(kWatermarks, "WatermarksShadowPos", WatermarksShadowPos);
  store.SetInt(kWatermarks, "WatermarksShadowOffset", WatermarksShadowOffset);
  store.SetUInt32(kWatermarks, "WatermarksShadowColor", WatermarksShadowColor);

  store.SetUInt32(kInet, "Proxy - IP", ProxyIP);
  store.SetInt(kInet, "Proxy - Port", ProxyPort);
  store.SetBool(kInet, "Proxy - Settings Mode", ProxySettingsMode != 0);
  store.SetString(kInet, "Proxy - AddressVer", ProxyAddressVer);
  store.SetString(kInet, "Proxy - AddressHomePage", ProxyAddressHomePage);

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
  MFx = store.GetInt(kPos, "MFx", 0);
  MFy = store.GetInt(kPos, "MFy", 0);

  Language = store.GetInt(kGeneral, "Language", 0);
  OutputFolder = store.GetString(kGeneral, "OutputFolder", HomeFolder());
  OutputFormat = store.GetInt(kGeneral, "OutputFormat", 0);
  LastTabPage = store.GetInt(kGeneral, "LastTabPage", 0);
  LastOpenFolder = store.GetString(kGeneral, "LastOpenFolder", HomeFolder());
  ThumbWidth = store.GetInt(kGeneral, "ThumbWidth", 100);
  ThumbHeight = store.GetInt(kGeneral, "ThumbHeight", 75);
  RenamePattern = store.GetString(kGeneral, "RenamePattern", "Image###");
  ViewMode = store.GetInt(kGeneral, "ViewMode", 1);
  RenameStartFrom = store.GetInt(kGeneral, "RenameStartFrom", 1);
  SysPropsThumbsQuality = store.GetInt(kGeneral, "SysPropsThumbsQuality", 1);
  SysPropsThumbsSize = store.GetInt(kGeneral, "SysPropsThumbsSize", 0);
  ApplyDimensions = ReadSwitch(store, kGeneral, "ApplyDimensions", 1);
  ApplyFilters = ReadSwitch(store, kGeneral, "ApplyFilters", 0);
  ApplyMetadata = ReadSwitch(store, kGeneral, "ApplyMetadata", 0);
  Interactive = ReadSwitch(store, kGeneral, "Interactive", 0);
  Backup = ReadSwitch(store, kGeneral, "Backup", 1);
  UseRename = ReadSwitch(store, kGeneral, "UseRename", 0);
  RenameThrough = ReadSwitch(store, kGeneral, "RenameThrough", 0);
  IncludingSubfolders = ReadSwitch(store, kGeneral, "IncludingSubfolders", 0);
  KeepSubfoldersStructure = ReadSwitch(store, kGeneral, "KeepSubfoldersStructure", 0);
  OpenFolderOnFinish = ReadSwitch(store, kGeneral, "OpenFolderOnFinish", 0);
  SendMailViaMAPIOnFinish = ReadSwitch(store, kMapi, "SendMailViaMAPIOnFinish", 0);

  PercentsOrPixels = store.GetInt(kDimensions, "PercentsOrPixels", 0);
  Percents = store.GetInt(kDimensions, "Percents", 100);
  Width = store.GetInt(kDimensions, "Width", 640);
  Height = store.GetInt(kDimensions, "Height", 480);
  MaintainAspectRatio = store.GetInt(kDimensions, "MaintainAspectRatio", 0);
  nResamplingMode = store.GetInt(kDimensions, "nResamplingMode", 5);
  nResamplingRadius = store.GetInt(kDimensions, "nResamplingRadius", 1);
  WidthCm = store.GetInt(kDimensions, "WidthCm", 3);
  HeightCm = store.GetInt(kDimensions, "HeightCm", 4);
  DPI = store.GetInt(kDimensions, "DPI", 1);

  RotationMode = store.GetInt(kFlipRotate, "RotationMode", 3);
  FlipMode = store.GetInt(kFlipRotate, "FlipMode", 2);

  KeepExisting = ReadSwitch(store, kMeta, "KeepExisting", 0);
  UseUserComment = ReadSwitch(store, kMeta, "UseUserComment", 0);
  UserComment = store.GetString(kMeta, "UserComment", "");
  ImageAuthor = store.GetString(kMeta, "ImageAuthor", "");
  ImageDescription = store.GetString(kMeta, "ImageDescription", "");
  ImageCopyright = store.GetString(kMeta, "ImageCopyright", "");

  WatermarksOn = ReadSwitch(store, kWatermarks, "On", 0);
  Emboss = ReadSwitch(store, kWatermarks, "Emboss", 1);
  UseTransparentColor = ReadSwitch(store, kWatermarks, "UseTransparentColor", 0);
  Mode = store.GetInt(kWatermarks, "Mode", 3);
  WatermarksPos = store.GetInt(kWatermarks, "Pos", 0);
  ImagePath = store.GetString(kWatermarks, "ImagePath", "");
  Text = store.GetString(kWatermarks, "Text", "");
  Font.lfHeight = store.GetInt(kWatermarks, "Font - lfHeight", -13);
  Font.lfWidth = store.GetInt(kWatermarks, "Font - lfWidth", 0);
  Font.lfEscapement = store.GetInt(kWatermarks, "Font - lfEscapement", 0);
  Font.lfOrientation = store.GetInt(kWatermarks, "Font - lfOrientation", 0);
  Font.lfWeight = store.GetInt(kWatermarks, "Font - lfWeight", 700);
  Font.lfItalic = ReadByte(store, kWatermarks, "Font - lfItalic", 255);
  Font.lfUnderline = ReadByte(store, kWatermarks, "Font - lfUnderline", 0);
  Font.lfStrikeOut = ReadByte(store, kWatermarks, "Font - lfStrikeOut", 0);
  Font.lfCharSet = ReadByte(store, kWatermarks, "Font - lfCharSet", 204);
  Font.lfOutPrecision = ReadByte(store, kWatermarks, "Font - lfOutPrecision", 3);
  Font.lfClipPrecision = ReadByte(store, kWatermarks, "Font - lfClipPrecision", 2);
  Font.lfQuality = ReadByte(store, kWatermarks, "Font - lfQuality", 1);
  Font.lfPitchAndFamily = ReadByte(store, kWatermarks, "Font - lfPitchAndFamily", 34);
  SetFaceName(Font, store.GetString(kWatermarks, "Font - lfFaceName", "Arial"));
  FontColor = store.GetUInt32(kWatermarks, "Font - Color", 0);
  TagType = store.GetInt(kWatermarks, "TagType", 0);
  DateTimeType = store.GetInt(kWatermarks, "DateTimeType", 0);
  TransparentColor = store.GetUInt32(kWatermarks, "TransparentColor", 0);
  Transparency = store.GetInt(kWatermarks, "Transparency", 50);
  PosMarginHor = store.GetInt(kWatermarks, "PosMarginHor", 1);
  PosMarginVert = store.GetInt(kWatermarks, "PosMarginVert", 1);
  WatermarksShadowPos = store.GetInt(kWatermarks, "WatermarksShadowPos", 3);
  WatermarksShadowOffset = store.GetInt(kWatermarks, "WatermarksShadowOffset", 1);
  WatermarksShadowColor = store.GetUInt32(kWatermarks, "WatermarksShadowColor", 12632256);

  ProxyIP = store.GetUInt32(kInet, "Proxy - IP", 0);
  ProxyPort = store.GetInt(kInet, "Proxy - Port", 0);
  ProxySettingsMode = ReadSwitch(store, kInet, "Proxy - Settings Mode", 0);
  ProxyAddressVer = store.GetString(kInet, "Proxy - AddressVer", kDefaultAddressVer);
  ProxyAddressHomePage =
      store.GetString(kInet, "Proxy - AddressHomePage", kDefaultAddressHomePage);

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

bool CSettings::ApplySetting(const std::string& section, const std::string& key,
                             const std::string& value) {
  CIniStore store("");
  SaveToStore(store);
  int s = store.FindSection(section);
  if (store.FindKey(s, key) < 0) {
    LastError = "unknown setting " + section + "." + key;
    return false;
  }
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
