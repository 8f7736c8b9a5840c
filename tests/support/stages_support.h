// Helpers of the stage tests: the lumaro program in batch mode, pictures
// with known pixels, exiftool.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "imaging/image.h"
#include "settings/settings.h"
#include "test_support.h"

namespace stages_test {

using testing_support::Quote;
using testing_support::RunOutput;
using testing_support::TempDir;

inline std::string Program() {
  const char* env = std::getenv("LUMARO_PROGRAM");
  return env && *env ? std::string(env) : std::string(LUMARO_PROGRAM_DIR) + "/lumaro";
}

struct RunResult {
  int status = -1;
  std::string out;
};

// Runs "lumaro --convert" with a settings file holding only [General] and
// the given arguments (already quoted).
inline RunResult Lumaro(const TempDir& tmp, const std::string& args) {
  const std::string settings = tmp / "settings.ini";
  if (!std::filesystem::exists(settings)) testing_support::WriteFileText(settings, "[General]\n");
  RunResult r;
  r.out = RunOutput(Quote(Program()) + " --convert --quiet --settings " + Quote(settings) + " " +
                        args + " 2>&1",
                    &r.status);
  return r;
}

// One tag of a file as exiftool prints it (-n: numbers, not words).
inline std::string ExifTool(const std::string& path, const std::string& tag, bool numeric = false) {
  std::string out = RunOutput("exiftool -s3 " + std::string(numeric ? "-n " : "") + "-" + tag +
                              " " + Quote(path) + " 2>/dev/null");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Runs exiftool to write tags ("-Artist=Ann -Orientation#=6").
inline void ExifToolWrite(const std::string& path, const std::string& assignments) {
  ASSERT_EQ(testing_support::Run("exiftool -q -q -overwrite_original " + assignments + " " +
                                 Quote(path) + " >/dev/null 2>&1"),
            0)
      << assignments;
}

// ImageMagick's convert with arguments (already quoted).
inline void Convert(const std::string& args) {
  ASSERT_EQ(testing_support::Run(std::string(testing_support::ImConvert()) + " " + args +
                                 " >/dev/null 2>&1"),
            0)
      << args;
}

// Pixel (x, y) counted from the top-left corner.
inline RGBQuad TopLeftPixel(const CImage& image, long x, long y) {
  return image.GetPixelColor(x, image.GetHeight() - 1 - y, false);
}

inline bool Near(RGBQuad a, RGBQuad b, int tolerance) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance;
}

inline std::string Describe(RGBQuad c) {
  return "(" + std::to_string(c.red) + "," + std::to_string(c.green) + "," +
         std::to_string(c.blue) + ")";
}

// A solid 24-bit image.
inline CImage Solid(int w, int h, RGBQuad colour) {
  CImage image;
  image.Create(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.SetPixelColor(x, y, colour);
  return image;
}

// The process-wide settings record with its defaults and metadata support
// on, for tests that go through it.
inline CSettings& FreshSettings() {
  CSettings& s = GetSettings();
  s.ResetToDefaults();
  s.GdiplusAvailable = 1;
  return s;
}

}  // namespace stages_test
