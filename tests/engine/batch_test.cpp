// Batch mode as a user runs it: the lumaro program on temporary trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/mount.h>

#include <filesystem>

#include "imaging/image.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::Quote;
using testing_support::RunOutput;
using testing_support::TempDir;

namespace {

std::string Program() { return std::string(LUMARO_PROGRAM_DIR) + "/lumaro"; }

void MakePicture(const std::string& path, int w, int h) {
  CImage img;
  ASSERT_TRUE(img.Create(w, h, 24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.SetPixelColor(x, y, RGBQuad{uint8_t(x), uint8_t(y), 90, 0});
  fs::create_directories(fs::path(path).parent_path());
  ASSERT_TRUE(img.Save(path, FORMAT_PNG)) << img.GetLastError();
}

struct Result {
  int status;
  std::string out;
};

// Runs lumaro with the arguments (already quoted) and a fresh settings file.
Result Lumaro(const TempDir& tmp, const std::string& args) {
  std::string settings = tmp / "settings.ini";
  if (!fs::exists(settings)) testing_support::WriteFileText(settings, "[General]\n");
  int status = -1;
  // A hang ends after two minutes (exit status 124) instead of stalling the suite.
  std::string out = RunOutput("timeout 120 " + Quote(Program()) + " --convert --settings " + Quote(settings) +
                                  " " + args + " 2>&1",
                              &status);
  return {status, out};
}

std::string Identify(const std::string& path) {
  return RunOutput(std::string(testing_support::ImIdentify()) + " -format '%m %wx%h' " +
                   Quote(path) + " 2>/dev/null");
}

TEST(Batch, ConvertsWithSetAndFormatAndPrintsTheSummary) {
  TempDir tmp;
  MakePicture(tmp / "in/one.png", 200, 100);
  MakePicture(tmp / "in/two.png", 100, 200);
  Result r = Lumaro(tmp, "--quiet --output " + Quote(tmp / "out") +
                             " --format gif --set Dimensions.PercentsOrPixels=1"
                             " --set Dimensions.Width=50 --set Dimensions.Height=50 " +
                             Quote(tmp / "in"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Преобразовано 2 файлов, ошибок 0, пропущено 0\n");
  EXPECT_EQ(Identify(tmp / "out/one.gif"), "GIF 50x25");
  EXPECT_EQ(Identify(tmp / "out/two.gif"), "GIF 25x50");
  // The settings file given is read, never written.
  EXPECT_EQ(testing_support::ReadFileText(tmp / "settings.ini"), "[General]\n");
}

TEST(Batch, FailuresGiveExitCodeOneAndUsageErrorsTwo) {
  TempDir tmp;
  MakePicture(tmp / "in/ok.png", 10, 10);
  testing_support::WriteFileText(tmp / "in/bad.png", "\x89PNG\r\n\x1a\n broken");
  Result r = Lumaro(tmp, "--output " + Quote(tmp / "out") + " " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Преобразовано 1 файлов, ошибок 1, пропущено 0"), std::string::npos);
  EXPECT_NE(r.out.find("bad.png"), std::string::npos) << "the failed file is named";

  // A path that does not exist is a failure with its reason, also alone.
  r = Lumaro(tmp, "--output " + Quote(tmp / "out") + " " + Quote(tmp / "in/nosuch.png"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("nosuch.png: No such file or directory"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Преобразовано 0 файлов, ошибок 1, пропущено 0"), std::string::npos);

  EXPECT_EQ(Lumaro(tmp, "--output").status, 2);
  EXPECT_EQ(Lumaro(tmp, "--format nosuch " + Quote(tmp / "in")).status, 2);
  EXPECT_EQ(Lumaro(tmp, "").status, 2);
  EXPECT_EQ(Lumaro(tmp, "--bogus " + Quote(tmp / "in")).status, 2);
}

TEST(Batch, SourcesAreReplacedOnlyWithBackupOrWhenAskedTo) {
  TempDir tmp;
  MakePicture(tmp / "in/p.png", 12, 12);
  const auto original = testing_support::ReadFileBytes(tmp / "in/p.png");
  const std::string same = "--format keep --output " + Quote(tmp / "in") + " ";
  Result r = Lumaro(tmp, same + "--set General.Backup=0 " + Quote(tmp / "in/p.png"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("replace its own source"), std::string::npos) << r.out;
  EXPECT_EQ(testing_support::ReadFileBytes(tmp / "in/p.png"), original);

  r = Lumaro(tmp, same + "--set General.Backup=1 " + Quote(tmp / "in/p.png"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(testing_support::ReadFileBytes(tmp / "in/p.bak"), original);

  fs::remove(tmp / "in/p.bak");
  r = Lumaro(tmp, same + "--set General.Backup=0 --overwrite-sources " + Quote(tmp / "in/p.png"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::exists(tmp / "in/p.bak"));
}

TEST(Batch, PipesAndKilledJobsNeitherHangNorLeaveTemporaries) {
  TempDir tmp;
  for (int i = 0; i < 40; ++i) MakePicture(tmp / ("in/f" + std::to_string(i) + ".png"), 300, 300);
  ASSERT_EQ(mkfifo((tmp / "in/x.jpg").c_str(), 0644), 0);
  // A job killed at some point, then a complete one over the same folder.
  std::string command = Quote(Program()) + " --convert --quiet --settings " +
                        Quote(tmp / "settings.ini") + " --output " + Quote(tmp / "out") + " " +
                        Quote(tmp / "in");
  testing_support::WriteFileText(tmp / "settings.ini", "[General]\n");
  testing_support::Run("(" + command + " >/dev/null 2>&1 & sleep 0.5; kill -9 $!) 2>/dev/null");
  Result r = Lumaro(tmp, "--output " + Quote(tmp / "out") + " " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 1) << r.out;  // the FIFO fails, the rest converts
  EXPECT_NE(r.out.find("x.jpg: not a regular file"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Преобразовано 40 файлов, ошибок 1"), std::string::npos) << r.out;
  for (const auto& entry : fs::directory_iterator(tmp / "out"))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(Batch, EnglishLibraryGivesEnglishTexts) {
  TempDir tmp;
  MakePicture(tmp / "in/a.png", 10, 10);
  Result r = Lumaro(tmp, "--quiet --set General.Language=1 --output " + Quote(tmp / "out") +
                             " " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Converted 1 files, errors 0, skipped 0\n");
}

TEST(Batch, PathsWithBlanksCyrillicAndLeadingDashes) {
  TempDir tmp;
  MakePicture(tmp / "Мои фото/-снимок 1.png", 12, 8);
  Result r = Lumaro(tmp, "--quiet --format bmp --output " + Quote(tmp / "вывод 1") + " -- " +
                             Quote(tmp / "Мои фото/-снимок 1.png"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(Identify(tmp / "вывод 1/-снимок 1.bmp").find("BMP3 12x8"), std::string::npos);
}

TEST(Batch, FullOutputFolderGivesMessage124AndLosesNothing) {
  TempDir tmp;
  fs::create_directories(tmp.path() / "full");
  if (mount("tmpfs", (tmp / "full").c_str(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here";
  // An existing output that must survive the failed write.
  testing_support::WriteFileText(tmp / "full/big.bmp", "previous output");
  MakePicture(tmp / "in/big.png", 300, 300);  // 270 KB as BMP
  Result r = Lumaro(tmp, "--format bmp --output " + Quote(tmp / "full") + " " +
                             Quote(tmp / "in/big.png"));
  std::string previous = testing_support::ReadFileText(tmp / "full/big.bmp");
  std::vector<std::string> left;
  for (auto& e : fs::directory_iterator(tmp.path() / "full")) left.push_back(e.path().filename());
  umount((tmp / "full").c_str());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Не удалось создать файл " + (tmp / "full/big")), std::string::npos) << r.out;
  EXPECT_EQ(previous, "previous output");
  // The old output is intact; the new content did not fit, so nothing was
  // replaced and no backup was needed. No temporary file is left.
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"big.bmp"}));
}

}  // namespace
