// The settings record and its files: defaults, a new default file byte for
// byte, value rules, round trips, the filter sections and their order.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <filesystem>
#include <optional>

#include "settings/ini_store.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    for (auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    env.Set("HOME", "/home/tester");
    env.Set("LC_ALL", nullptr);
    env.Set("LC_MESSAGES", nullptr);
    env.Set("LANG", "ru_RU.UTF-8");
  }
  ScopedEnv env;
  TempDir dir;
  std::string path = dir / "settings.ini";
};

// Written out by hand from the tables: every key with its default, sections in
// the order a new file has them, the home folder for the two folders.
std::string DefaultFileText(int language) {
  return "[General]\n"
         "Language=" + std::to_string(language) + "\n"
         "OutputFolder=/home/tester/\n"
         "OutputFormat=0\n"
         "LastTabPage=0\n"
         "LastOpenFolder=/home/tester/\n"
         "ThumbWidth=100\n"
         "ThumbHeight=75\n"
         "RenamePattern=Image###\n"
         "ViewMode=1\n"
         "RenameStartFrom=1\n"
         "SysPropsThumbsQuality=1\n"
         "SysPropsThumbsSize=0\n"
         "ApplyDimensions=1\n"
         "ApplyFilters=0\n"
         "ApplyMetadata=0\n"
         "Interactive=0\n"
         "Backup=1\n"
         "UseRename=0\n"
         "RenameThrough=0\n"
         "IncludingSubfolders=0\n"
         "KeepSubfoldersStructure=0\n"
         "OpenFolderOnFinish=0\n"
         "\n"
         "[Pos]\n"
         "MFx=0\n"
         "MFy=0\n"
         "\n"
         "[Dimensions]\n"
         "PercentsOrPixels=0\n"
         "Percents=100\n"
         "Width=640\n"
         "Height=480\n"
         "MaintainAspectRatio=0\n"
         "nResamplingMode=5\n"
         "nResamplingRadius=1\n"
         "WidthCm=3\n"
         "HeightCm=4\n"
         "DPI=1\n"
         "\n"
         "[FlipRotate]\n"
         "RotationMode=3\n"
         "FlipMode=2\n"
         "\n"
         "[PNG]\n"
         "Compression=0\n"
         "Interlaced=0\n"
         "\n"
         "[META]\n"
         "KeepExisting=0\n"
         "UseUserComment=0\n"
         "UserComment=\n"
         "ImageAuthor=\n"
         "ImageDescription=\n"
         "ImageCopyright=\n"
         "\n"
         "[Watermarks]\n"
         "On=0\n"
         "Emboss=1\n"
         "UseTransparentColor=0\n"
         "Mode=3\n"
         "Pos=0\n"
         "ImagePath=\n"
         "Text=\n"
         "Font - lfHeight=-13\n"
         "Font - lfWidth=0\n"
         "Font - lfEscapement=0\n"
         "Font - lfOrientation=0\n"
         "Font - lfWeight=700\n"
         "Font - lfItalic=255\n"
         "Font - lfUnderline=0\n"
         "Font - lfStrikeOut=0\n"
         "Font - lfCharSet=204\n"
         "Font - lfOutPrecision=3\n"
         "Font - lfClipPrecision=2\n"
         "Font - lfQuality=1\n"
         "Font - lfPitchAndFamily=34\n"
         "Font - lfFaceName=Arial\n"
         "Font - Color=0\n"
         "TagType=0\n"
         "DateTimeType=0\n"
         "TransparentColor=0\n"
         "Transparency=50\n"
         "PosMarginHor=1\n"
         "PosMarginVert=1\n"
         "WatermarksShadowPos=3\n"
         "WatermarksShadowOffset=1\n"
         "WatermarksShadowColor=12632256\n"
         "\n"
         "[GIF]\n"
         "Palette - Type=1\n"
         "Palette - Limit Colors=256\n"
         "Palette - Error Diffusion=1\n"
         "Palette - User palette file=\n"
         "Compression - Type=0\n"
         "\n"
         "[INET]\n"
         "Proxy - IP=0\n"
         "Proxy - Port=0\n"
         "Proxy - Settings Mode=0\n"
         "Proxy - AddressVer=http://lumaro.example/downloads/tessel.ver\n"
         "Proxy - AddressHomePage=http://lumaro.example/downloads/tessel.html\n"
         "\n"
         "[MAPI]\n"
         "SendMailViaMAPIOnFinish=0\n"
         "\n"
         "[JPEG]\n"
         "Quality=75\n"
         "OptimizeHuffmanCoding=1\n"
         "Smoothing=0\n"
         "Progressive=0\n"
         "\n"
         "[TIFF]\n"
         "Compression - Type=0\n"
         "\n"
         "[WebP]\n"
         "Quality=80\n"
         "Lossless=0\n"
         "Method=4\n"
         "\n"
         "[AVIF]\n"
         "Quality=60\n"
         "Speed=6\n"
         "Chroma444=0\n"
         "\n"
         "[JPEG XL]\n"
         "Quality=90\n"
         "Effort=7\n"
         "Lossless=0\n"
         "\n";
}

TEST_F(SettingsTest, MissingFileIsCreatedWithEveryDefault) {
  CSettings s;
  s.Width = 1;  // loading must not keep in-memory values
  EXPECT_EQ(SettingsLoadResult::Created, s.LoadFromFile(path));
  EXPECT_EQ(DefaultFileText(0), ReadFileText(path));
  EXPECT_EQ(640, s.Width);
  EXPECT_EQ(0, s.Language);

  env.Set("LANG", "de_DE.UTF-8");
  std::string second = dir / "second.ini";
  WriteFileText(second, "");  // an empty file counts as missing
  EXPECT_EQ(SettingsLoadResult::Created, s.LoadFromFile(second));
  EXPECT_EQ(DefaultFileText(1), ReadFileText(second));

  // Loading the created file changes nothing and reports it as loaded.
  EXPECT_EQ(SettingsLoadResult::Loaded, s.LoadFromFile(second));
  s.SaveToFile(path);
  EXPECT_EQ(DefaultFileText(1), ReadFileText(path));
}

TEST_F(SettingsTest, UserLanguageFromTheEnvironment) {
  env.Set("LC_ALL", "");  // empty values are skipped
  env.Set("LC_MESSAGES", "ru_RU.UTF-8");
  env.Set("LANG", "en_GB.UTF-8");
  EXPECT_EQ(0, CSettings::UserDefaultLanguage());
  env.Set("LC_ALL", "C");
  EXPECT_EQ(1, CSettings::UserDefaultLanguage());
  env.Set("LC_ALL", nullptr);
  env.Set("LC_MESSAGES", nullptr);
  env.Set("LANG", nullptr);
  EXPECT_EQ(1, CSettings::UserDefaultLanguage());
  env.Set("LANG", "ru");
  EXPECT_EQ(0, CSettings::UserDefaultLanguage());
}

TEST_F(SettingsTest, HomeFolderDefaults) {
  env.Set("HOME", "/root/");
  EXPECT_EQ("/root/", CSettings::HomeFolder());
  env.Set("HOME", nullptr);
  EXPECT_EQ("/", CSettings::HomeFolder());
  CSettings s;
  EXPECT_EQ("/", s.OutputFolder);
  EXPECT_EQ("/", s.LastOpenFolder);
}

TEST_F(SettingsTest, FileWithoutSectionIsNeverOverwritten) {
  const std::string text = "just some text\n;a comment\n";
  WriteFileText(path, text);
  env.Set("LANG", "en_US.UTF-8");
  CSettings s;
  s.Width = 1;
  s.Language = 0;
  EXPECT_EQ(SettingsLoadResult::NotSettingsFile, s.LoadFromFile(path));
  EXPECT_EQ(text, ReadFileText(path));
  EXPECT_EQ(640, s.Width);
  EXPECT_EQ(1, s.Language);
  EXPECT_FALSE(s.GetLastError().empty());

  std::filesystem::create_directory(dir / "folder.ini");
  EXPECT_EQ(SettingsLoadResult::NotSettingsFile, s.LoadFromFile(dir / "folder.ini"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.ini"));
}

TEST_F(SettingsTest, MissingKeysTakeDefaultsAndValueRules) {
  WriteFileText(path,
                "[General]\r\nLanguage=1\r\nBackup=2\r\nUseRename=abc\r\n"
                "OutputFormat=9\r\nRenamePattern= pic = #\r\n"
                "[Dimensions]\r\nWidth=12abc\r\nHeight=abc\r\nDPI=0\r\n"
                "[Watermarks]\r\nFont - lfItalic=300\r\nFont - lfCharSet=-1\r\n"
                "Font - Color=16777215\r\nTransparentColor=-1\r\n"
                "Font - lfFaceName=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\r\n"
                "[INET]\r\nProxy - IP=-1062731775\r\n");
  CSettings s;
  s.Percents = 5;
  s.Text = "old";
  ASSERT_EQ(SettingsLoadResult::Loaded, s.LoadFromFile(path));
  EXPECT_EQ(100, s.Percents);
  EXPECT_EQ("", s.Text);
  EXPECT_EQ(1, s.Language);
  EXPECT_EQ(1, s.Backup);
  EXPECT_EQ(0, s.UseRename);
  EXPECT_EQ(" pic = #", s.RenamePattern);
  EXPECT_EQ(12, s.Width);
  EXPECT_EQ(0, s.Height);
  EXPECT_EQ(72, s.DpiValue());
  EXPECT_EQ(9, s.OutputFormat);
  EXPECT_EQ(0, s.OutputFormatIndex());
  EXPECT_EQ(44, s.Font.lfItalic);
  EXPECT_EQ(255, s.Font.lfCharSet);
  EXPECT_EQ(0x00FFFFFFu, s.FontColor);
  EXPECT_EQ(0xFFFFFFFFu, s.TransparentColor);
  EXPECT_STREQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", s.Font.lfFaceName);
  EXPECT_EQ(0xC0A80001u, s.ProxyIP);  // 192.168.0.1

  ASSERT_TRUE(s.SaveToFile(path));
  CIniStore back(path);
  ASSERT_TRUE(back.Read());
  EXPECT_EQ("1", back.GetString("General", "Backup", ""));
  EXPECT_EQ("9", back.GetString("General", "OutputFormat", ""));  // kept as read
  EXPECT_EQ("0", back.GetString("Dimensions", "DPI", ""));
  EXPECT_EQ("-1062731775", back.GetString("INET", "Proxy - IP", ""));
  EXPECT_EQ("16777215", back.GetString("Watermarks", "Font - Color", ""));
  EXPECT_EQ("-1", back.GetString("Watermarks", "TransparentColor", ""));
  EXPECT_EQ("44", back.GetString("Watermarks", "Font - lfItalic", ""));
}

std::unique_ptr<CFilterEntry> Filter(uint32_t id, int stored = -1) {
  auto entry = std::make_unique<CFilterEntry>();
  entry->Id.Data1 = id;
  entry->Name = "filter " + std::to_string(id);
  entry->StoredPosition = stored;
  return entry;
}

TEST_F(SettingsTest, OneSettingFromText) {
  CFilterList list;
  list.push_back(Filter(1));
  CSettings s;
  s.SetFilterList(&list);
  s.Height = 300;
  EXPECT_TRUE(s.ApplySetting("dimensions", "WIDTH", "12abc"));
  EXPECT_TRUE(s.ApplySetting("Watermarks", "On", "2"));
  EXPECT_TRUE(s.ApplySetting("INET", "Proxy - IP", "-1062731775"));
  EXPECT_TRUE(s.ApplySetting("GIF", "Palette - Type", "0"));
  EXPECT_TRUE(s.ApplySetting("{00000001-0000-0000-0000-000000000000}", "On", "1"));
  EXPECT_EQ(12, s.Width);
  EXPECT_EQ(300, s.Height);  // the others stay
  EXPECT_EQ(1, s.WatermarksOn);
  EXPECT_EQ(0xC0A80001u, s.ProxyIP);
  EXPECT_EQ(0, static_cast<CFormatGIF&>(*s.OutputFormats[4]).PaletteType);
  EXPECT_TRUE(list[0]->Enabled);
  EXPECT_TRUE(s.ApplySetting("watermarks", "font - LFITALIC", "300"));
  EXPECT_TRUE(s.ApplySetting("{00000001-0000-0000-0000-000000000000}", "order INDEX", "0"));
  EXPECT_EQ(44, s.Font.lfItalic);
  EXPECT_FALSE(s.ApplySetting("Dimensions", "Widht", "1"));
  EXPECT_FALSE(s.ApplySetting("BMP", "Quality", "1"));
  EXPECT_FALSE(s.ApplySetting("Pos", "On", "1"));  // a key of other sections
  EXPECT_FALSE(s.ApplySetting("{00000002-0000-0000-0000-000000000000}", "On", "1"));
  EXPECT_FALSE(s.GetLastError().empty());
  EXPECT_EQ(12, s.Width);
}

TEST_F(SettingsTest, FaceNameIsNotCutInsideACharacter) {
  LogFont font;
  // 16 two-byte letters: 32 bytes, one too many.
  CSettings::SetFaceName(font, "АБВГДЕЖЗИЙКЛМНОП");
  EXPECT_STREQ("АБВГДЕЖЗИЙКЛМНО", font.lfFaceName);
  CSettings::SetFaceName(font, "x" + std::string("АБВГДЕЖЗИЙКЛМНОП"));
  EXPECT_STREQ("xАБВГДЕЖЗИЙКЛМНО", font.lfFaceName);  // 31 bytes exactly
  CSettings::SetFaceName(font, "Arial");
  EXPECT_STREQ("Arial", font.lfFaceName);
}

TEST_F(SettingsTest, ValuesBroughtIntoRange) {
  CSettings s;
  EXPECT_EQ(96, s.DpiValue());
  s.DPI = -3;
  EXPECT_EQ(72, s.DpiValue());
  s.DPI = 9;
  EXPECT_EQ(600, s.DpiValue());
  s.DPI = 4;
  EXPECT_EQ(300, s.DpiValue());
  s.OutputFormat = 4;
  EXPECT_EQ("GIF", s.CurrentOutputFormat().Name);
  s.OutputFormat = -1;
  EXPECT_EQ("JPEG", s.CurrentOutputFormat().Name);
  s.LastTabPage = 5;
  s.nResamplingMode = 7;
  s.ViewMode = 3;
  s.SysPropsThumbsSize = -80;
  s.Transparency = 150;
  s.WatermarksShadowPos = 4;
  s.Language = 2;
  s.RotationMode = 5;
  EXPECT_EQ(0, s.LastTabPageIndex());
  EXPECT_EQ(5, s.ResamplingModeIndex());
  EXPECT_EQ(1, s.ViewModeIndex());
  EXPECT_EQ(-50, s.ThumbsSizeStep());
  EXPECT_EQ(100, s.TransparencyPercent());
  EXPECT_EQ(3, s.ShadowPosIndex());
  EXPECT_EQ(0, s.LanguageIndex());
  EXPECT_EQ(3, s.RotationModeIndex());
  s.nResamplingMode = 6;
  EXPECT_EQ(6, s.ResamplingModeIndex());
}

// Gives every persisted field a value other than its default.
void FillEveryField(CSettings& s) {
  s.Language = 1;
  s.OutputFolder = "/data/out put/";
  s.OutputFormat = 4;
  s.LastTabPage = 3;
  s.LastOpenFolder = "/data/фото/";
  s.ThumbWidth = 120;
  s.ThumbHeight = 95;
  s.RenamePattern = "Снимок_^_*_###";
  s.ViewMode = 2;
  s.RenameStartFrom = 17;
  s.SysPropsThumbsQuality = 0;
  s.SysPropsThumbsSize = -20;
  s.ApplyDimensions = 0;
  s.ApplyFilters = 1;
  s.ApplyMetadata = 1;
  s.Interactive = 1;
  s.Backup = 0;
  s.UseRename = 1;
  s.RenameThrough = 1;
  s.IncludingSubfolders = 1;
  s.KeepSubfoldersStructure = 1;
  s.OpenFolderOnFinish = 1;
  s.MFx = -5;
  s.MFy = 33;
  s.PercentsOrPixels = 2;
  s.Percents = 55;
  s.Width = 1024;
  s.Height = 768;
  s.MaintainAspectRatio = 3;
  s.nResamplingMode = 2;
  s.nResamplingRadius = 4;
  s.WidthCm = 90;
  s.HeightCm = 60;
  s.DPI = 5;
  s.RotationMode = 4;
  s.FlipMode = 1;
  s.KeepExisting = 1;
  s.UseUserComment = 1;
  s.UserComment = "a=b; #c";
  s.ImageAuthor = "Автор";
  s.ImageDescription = " leading and trailing ";
  s.ImageCopyright = "(c) 2024";
  s.WatermarksOn = 1;
  s.Emboss = 0;
  s.UseTransparentColor = 1;
  s.Mode = 2;
  s.WatermarksPos = 2;
  s.ImagePath = "/pics/logo.png";
  s.Text = "Водяной знак";
  s.Font.lfHeight = 24;
  s.Font.lfWidth = 7;
  s.Font.lfEscapement = 900;
  s.Font.lfOrientation = 450;
  s.Font.lfWeight = 400;
  s.Font.lfItalic = 0;
  s.Font.lfUnderline = 1;
  s.Font.lfStrikeOut = 1;
  s.Font.lfCharSet = 0;
  s.Font.lfOutPrecision = 7;
  s.Font.lfClipPrecision = 9;
  s.Font.lfQuality = 4;
  s.Font.lfPitchAndFamily = 18;
  CSettings::SetFaceName(s.Font, "DejaVu Sans");
  s.FontColor = 0x00FFFFFF;
  s.TagType = 4;
  s.DateTimeType = 3;
  s.TransparentColor = 0x00FF00FF;
  s.Transparency = 80;
  s.PosMarginHor = 12;
  s.PosMarginVert = 14;
  s.WatermarksShadowPos = 0;
  s.WatermarksShadowOffset = 3;
  s.WatermarksShadowColor = 0x00102030;
  s.ProxyIP = 0xC0A80001;
  s.ProxyPort = 3128;
  s.ProxySettingsMode = 1;
  s.ProxyAddressVer = "http://example.org/v.ver";
  s.ProxyAddressHomePage = "http://example.org/";
  s.SendMailViaMAPIOnFinish = 1;
  auto& jpeg = static_cast<CFormatJPEG&>(*s.OutputFormats[0]);
  jpeg.Quality = 90;
  jpeg.OptimizeHuffmanCoding = 0;
  jpeg.Smoothing = 20;
  jpeg.Progressive = 1;
  auto& png = static_cast<CFormatPNG&>(*s.OutputFormats[1]);
  png.Compression = 6;
  png.Interlaced = 1;
  static_cast<CFormatTIFF&>(*s.OutputFormats[2]).CompressionType = 4;
  auto& gif = static_cast<CFormatGIF&>(*s.OutputFormats[4]);
  gif.PaletteType = 2;
  gif.PaletteLimitColors = 16;
  gif.PaletteErrorDiffusion = 0;
  gif.PaletteUserPaletteFile = "/pal/web.pal";
  gif.CompressionType = 2;
}

// Every persisted field, as one comparable text.
std::string Dump(CSettings& s, const std::string& folder) {
  std::string file = folder + "/dump.ini";
  EXPECT_TRUE(s.SaveToFile(file));
  return ReadFileText(file);
}

TEST_F(SettingsTest, EveryFieldSurvivesAFile) {
  CSettings a;
  FillEveryField(a);
  ASSERT_TRUE(a.SaveToFile(path));
  CSettings b;
  ASSERT_EQ(SettingsLoadResult::Loaded, b.LoadFromFile(path));
  // Field by field for those with special storage...
  EXPECT_EQ(0xC0A80001u, b.ProxyIP);
  EXPECT_EQ(0x00FFFFFFu, b.FontColor);
  EXPECT_EQ(0, b.Font.lfItalic);
  EXPECT_EQ(18, b.Font.lfPitchAndFamily);
  EXPECT_STREQ("DejaVu Sans", b.Font.lfFaceName);
  EXPECT_EQ("a=b; #c", b.UserComment);
  EXPECT_EQ(" leading and trailing ", b.ImageDescription);
  EXPECT_EQ(1, b.SendMailViaMAPIOnFinish);
  EXPECT_EQ("/pal/web.pal", static_cast<CFormatGIF&>(*b.OutputFormats[4]).PaletteUserPaletteFile);
  // ...and all of them through what they store.
  EXPECT_EQ(Dump(a, dir.str()), Dump(b, dir.str()));
  EXPECT_NE(Dump(b, dir.str()), DefaultFileText(1));
  // Back to the defaults, every field of them: the same as a new file.
  b.ResetToDefaults();
  EXPECT_EQ(DefaultFileText(0), Dump(b, dir.str()));
}

TEST_F(SettingsTest, CommentsUnknownKeysAndSectionsGoneAfterAStore) {
  WriteFileText(path,
                ";header\n[General]\n;note\nUnknownKey=1\nWidth=5\n[Extra]\nk=v\n"
                "[{00000000-0000-0000-0000-000000000001}]\nOn=1\nOrder index=0\n");
  CSettings s;
  ASSERT_EQ(SettingsLoadResult::Loaded, s.LoadFromFile(path));
  ASSERT_TRUE(s.SaveToFile(path));
  std::string text = ReadFileText(path);
  EXPECT_EQ(std::string::npos, text.find(';'));
  EXPECT_EQ(std::string::npos, text.find("Unknown"));
  EXPECT_EQ(std::string::npos, text.find("Extra"));
  EXPECT_EQ(std::string::npos, text.find("{0000"));
  EXPECT_EQ(DefaultFileText(0), text);  // Width=5 was in the wrong section
}

TEST_F(SettingsTest, FailedSaveKeepsTheOldFile) {
  CSettings s;
  EXPECT_FALSE(s.SaveToFile(path + "/below-a-missing-file.ini"));
  WriteFileText(path, "[General]\nLanguage=1\n");
  EXPECT_FALSE(s.SaveToFile(path + "/below-a-file.ini"));
  EXPECT_FALSE(s.GetLastError().empty());
  EXPECT_EQ("[General]\nLanguage=1\n", ReadFileText(path));
  EXPECT_FALSE(s.SaveToFile("/proc/lumaro-settings.ini"));
}

TEST_F(SettingsTest, DefaultFileBesideTheProgram) {
  CSettings s;
  s.ProgramFolder = dir.str() + "/";
  EXPECT_EQ(dir / "Lumaro.ini", s.DefaultFilePath());
  EXPECT_EQ(SettingsLoadResult::Created, s.LoadDefaultFile());
  s.Width = 99;
  ASSERT_TRUE(s.SaveDefaultFile());
  CSettings t;
  t.ProgramFolder = s.ProgramFolder;
  EXPECT_EQ(SettingsLoadResult::Loaded, t.LoadDefaultFile());
  EXPECT_EQ(99, t.Width);

  std::string folder = CSettings::DetectProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('/', folder.back());
  EXPECT_TRUE(std::filesystem::exists(folder + program_invocation_short_name));
  EXPECT_EQ(&GetSettings(), &GetSettings());
}

TEST_F(SettingsTest, SettingsFolderByLayout) {
  // The mode bits of Lumaro.ini decide even for root; the folders stay
  // writable so the cases hold for any user.
  const std::string prog = dir / "prog/";
  const std::string config = dir / "config/Lumaro/";
  WriteFileText(dir / "afile", "x");
  struct Case {
    const char* what;
    int iniMode;  // -1: no Lumaro.ini in the program folder
    bool portable;
    const char* xdgConfig;  // below dir; nullptr: unset
    std::string folder;
    bool writable;
  } cases[] = {
      {"portable, first start", -1, true, "config", prog, true},
      {"portable, own file", 0644, true, "config", prog, true},
      {"portable copy with a read-only file", 0444, true, "config", config, true},
      {"installed", -1, false, "config", config, true},
      {"installed, read-only template", 0444, false, "config", config, true},
      {"installed, writable file", 0644, false, "config", prog, true},
      {"config folder cannot be made", 0444, false, "afile/x", dir / "afile/x/Lumaro/", false},
      {"relative XDG_CONFIG_HOME", -1, false, "rel", dir / "home/.config/Lumaro/", true},
      {"no XDG_CONFIG_HOME", -1, false, nullptr, dir / "home/.config/Lumaro/", true},
  };
  env.Set("HOME", (dir / "home").c_str());
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir / "prog");
    std::filesystem::remove_all(dir / "config");
    std::filesystem::create_directories(prog);
    if (c.iniMode >= 0) {
      WriteFileText(prog + "Lumaro.ini", "[General]\n");
      std::filesystem::permissions(prog + "Lumaro.ini", std::filesystem::perms(c.iniMode));
    }
    const std::string xdg = c.xdgConfig && c.xdgConfig[0] != 'r' ? dir / c.xdgConfig : "rel";
    env.Set("XDG_CONFIG_HOME", c.xdgConfig ? xdg.c_str() : nullptr);
    const CSettings::SettingsPlace place = CSettings::ChooseSettingsFolder(prog, c.portable, true);
    EXPECT_EQ(c.folder, place.folder) << c.what;
    EXPECT_EQ(c.writable, place.writable) << c.what;
    EXPECT_EQ(c.writable, place.problem.empty()) << c.what << ": " << place.problem;
    if (c.writable) {
      EXPECT_TRUE(std::filesystem::is_directory(place.folder)) << c.what;
    }
  }

  // First start of an installed program: the read-only template gives the
  // starting values, the language follows the locale, the user's file is
  // created and read from then on; the template stays as it was.
  const std::string templateText = "[General]\nLanguage=1\n[Dimensions]\nWidth=1234\n";
  WriteFileText(prog + "Lumaro.ini", templateText);
  std::filesystem::create_directories(config);
  CSettings s;
  s.ProgramFolder = prog;
  s.SettingsFolder = config;
  EXPECT_EQ(config + "Lumaro.ini", s.DefaultFilePath());
  EXPECT_EQ(prog + "Lumaro.ini", s.DefaultFileToRead());
  EXPECT_EQ(SettingsLoadResult::Created, s.LoadDefaultFile());
  EXPECT_EQ(1234, s.Width);
  EXPECT_EQ(0, s.Language);  // LANG=ru_RU.UTF-8
  EXPECT_EQ(config + "Lumaro.ini", s.DefaultFileToRead());
  CSettings t;
  t.ProgramFolder = prog;
  t.SettingsFolder = config;
  EXPECT_EQ(SettingsLoadResult::Loaded, t.LoadDefaultFile());
  EXPECT_EQ(1234, t.Width);
  EXPECT_EQ(templateText, ReadFileText(prog + "Lumaro.ini"));
}

// ---- filters ---------------------------------------------------------------------

std::vector<uint32_t> Ids(const CFilterList& list) {
  std::vector<uint32_t> ids;
  for (const auto& e : list) ids.push_back(e->Id.Data1);
  return ids;
}

TEST(FilterOrderTest, ReorderingRules) {
  // Stored 0, 1, 2 and the first one gone: 2 no longer fits a list of 2.
  CFilterList list;
  list.push_back(Filter(3, 2));
  list.push_back(Filter(2, 1));
  ReorderFilterList(list);
  EXPECT_EQ((std::vector<uint32_t>{2, 3}), Ids(list));
  EXPECT_EQ(-1, list[1]->StoredPosition);

  // New filters (no position) and impossible positions follow the stored
  // ones in their discovery order; two with the same position both stay.
  list.clear();
  list.push_back(Filter(10));
  list.push_back(Filter(11, 3));
  list.push_back(Filter(12, -7));
  list.push_back(Filter(13, 1));
  list.push_back(Filter(14, 0));
  list.push_back(Filter(15, 1));
  list.push_back(Filter(16, 7));  // 7 does not fit a list of 7
  ReorderFilterList(list);
  EXPECT_EQ((std::vector<uint32_t>{14, 13, 15, 11, 10, 12, 16}), Ids(list));

  CFilterList empty;
  ReorderFilterList(empty);
  EXPECT_TRUE(empty.empty());
}

TEST(FilterOrderTest, GuidRegistryText) {
  Guid g{0x0123ABCD, 0x45EF, 0x6789, {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
  EXPECT_EQ("{0123ABCD-45EF-6789-ABCD-EF0123456789}", GuidToRegistryString(g));
  Guid back;
  ASSERT_TRUE(GuidFromRegistryString("{0123abcd-45ef-6789-abcd-ef0123456789}", back));
  EXPECT_EQ(g, back);
  EXPECT_FALSE(GuidFromRegistryString("0123ABCD-45EF-6789-ABCD-EF0123456789", back));
  EXPECT_FALSE(GuidFromRegistryString("{0123ABCD-45EF-6789-ABCD-EF012345678G}", back));
}

TEST_F(SettingsTest, FilterSectionsThroughAFile) {
  CFilterList list;
  list.push_back(Filter(1));
  list.push_back(Filter(2));
  list.push_back(Filter(3));
  list[1]->Enabled = true;
  CSettings s;
  s.SetFilterList(&list);
  ASSERT_TRUE(s.SaveToFile(path));
  std::string text = ReadFileText(path);
  const std::string sections =
      "[MAPI]\nSendMailViaMAPIOnFinish=0\n\n"
      "[{00000001-0000-0000-0000-000000000000}]\nOn=0\nOrder index=0\n\n"
      "[{00000002-0000-0000-0000-000000000000}]\nOn=1\nOrder index=1\n\n"
      "[{00000003-0000-0000-0000-000000000000}]\nOn=0\nOrder index=2\n\n[JPEG]\n";
  EXPECT_NE(std::string::npos, text.find(sections)) << text;

  // The next start finds filter 1 gone, a new filter 4 first, and the file
  // edited to put filter 3 first (its section name in lower case).
  WriteFileText(path,
                "[{00000002-0000-0000-0000-000000000000}]\nOn=1\nOrder index=1\n"
                "[{00000003-0000-0000-0000-00000000000a}]\nOn=1\nOrder index=0\n");
  CFilterList next;
  next.push_back(Filter(4));
  next.push_back(Filter(2));
  next.push_back(Filter(3));
  next[2]->Id.Data4[7] = 0x0A;
  next[0]->Enabled = true;  // loading sets every flag
  CSettings t;
  t.SetFilterList(&next);
  ASSERT_EQ(SettingsLoadResult::Loaded, t.LoadFromFile(path));
  EXPECT_EQ((std::vector<uint32_t>{3, 2, 4}), Ids(next));
  EXPECT_TRUE(next[0]->Enabled);
  EXPECT_TRUE(next[1]->Enabled);
  EXPECT_FALSE(next[2]->Enabled);

  // A file that does not exist resets every filter's flag.
  ASSERT_EQ(SettingsLoadResult::Created, t.LoadFromFile(dir / "new.ini"));
  for (const auto& e : next) EXPECT_FALSE(e->Enabled);
}

}  // namespace
