// Inputs that once crashed or hung a decoder (found by the fuzz targets) and
// the fuzzers' seed files: each must decode or fail with a reason, and what
// decodes must encode again. Run under the sanitizer build this is the
// regression test of every fuzz finding.
#include <chrono>
#include <filesystem>
#include <map>

#include "test_support.h"
#include "imaging/codecs/emf.h"

using namespace testing_support;

namespace {

namespace fs = std::filesystem;

// The format of a file from its name: "<target>-..." for crash inputs, the
// folder name for seeds.
const std::map<std::string, int>& Targets() {
  static const std::map<std::string, int> targets = {
      {"bmp", FORMAT_BMP}, {"gif", FORMAT_GIF}, {"png", FORMAT_PNG}, {"ico", FORMAT_ICO},
      {"tga", FORMAT_TGA}, {"pcx", FORMAT_PCX}, {"wbmp", FORMAT_WBMP}, {"pnm", FORMAT_PNM},
      {"ras", FORMAT_RAS}, {"pgx", FORMAT_PGX}, {"emf", FORMAT_WMF}, {"wmf", FORMAT_WMF},
      {"jbg", FORMAT_JBG}, {"jp2", FORMAT_JP2}};
  return targets;
}

// Decodes as the fuzz target does; returns how long it took.
double Exercise(const std::vector<uint8_t>& bytes, int format, const std::string& name) {
  auto start = std::chrono::steady_clock::now();
  CImage image;
  bool ok = image.Decode(bytes.data(), bytes.size(), format);
  if (!ok) {
    EXPECT_FALSE(image.GetLastError().empty()) << name;
  } else {
    EXPECT_TRUE(image.IsValid()) << name;
    if (image.GetNumFrames() > 1) {
      CImage last;
      last.SetFrame(image.GetNumFrames() - 1);
      last.Decode(bytes.data(), bytes.size(), format);
    }
    std::vector<uint8_t> out;
    if (image.Encode(out, format)) {
      CImage again;
      EXPECT_TRUE(again.Decode(out.data(), out.size(), format)) << name << ": " << again.GetLastError();
    }
  }
  if (format == FORMAT_WMF) {
    CImage emf;
    metafile::DecodeEmf(emf, bytes.data(), bytes.size());
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(Regression, CrashInputsFailCleanly) {
  fs::path dir = fs::path(LUMARO_TEST_DATA) / "codecs-more" / "crashes";
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string name = entry.path().filename().string();
    auto target = Targets().find(name.substr(0, name.find('-')));
    if (target == Targets().end()) continue;  // not an input file
    SCOPED_TRACE(name);
    ++files;
    double seconds = Exercise(ReadFileBytes(entry.path().string()), target->second, name);
    EXPECT_LT(seconds, 10.0);
  }
  EXPECT_GT(files, 0);
}

TEST(Regression, FuzzSeedsDecode) {
  fs::path root = fs::path(LUMARO_TEST_DATA).parent_path() / "fuzz" / "corpus";
  ASSERT_TRUE(fs::is_directory(root)) << root;
  int files = 0;
  for (const auto& folder : fs::directory_iterator(root)) {
    auto target = Targets().find(folder.path().filename().string());
    if (!folder.is_directory() || target == Targets().end()) continue;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      std::string name = folder.path().filename().string() + "/" + entry.path().filename().string();
      SCOPED_TRACE(name);
      std::vector<uint8_t> bytes = ReadFileBytes(entry.path().string());
      // Seeds of the formats of this area are good files and must decode.
      int format = target->second;
      if (format != FORMAT_BMP && format != FORMAT_GIF && format != FORMAT_ICO) {
        CImage image;
        EXPECT_TRUE(image.Decode(bytes.data(), bytes.size(), format)) << image.GetLastError();
      }
      Exercise(bytes, format, name);
      ++files;
    }
  }
  EXPECT_GT(files, 30);
}

}  // namespace
