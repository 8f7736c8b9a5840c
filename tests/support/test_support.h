// Helpers shared by the test programs: temporary folders, files, running the
// independent tools the tests compare against.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("lumaro-test-" + std::to_string(rd()));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    // Give back write permission that a test may have taken away.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
}

inline void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, text.data(), text.size());
}

// Runs a shell command; returns its exit status (-1 when it did not run).
inline int Run(const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

// Runs a shell command and returns what it printed on standard output.
inline std::string RunOutput(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
  return out;
}

// Quotes a string for the shell.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// ImageMagick 6's convert and identify by their real paths (a stand-in may
// come first on PATH).
inline const char* ImConvert() { return "/usr/bin/convert-im6.q16"; }
inline const char* ImIdentify() { return "/usr/bin/identify-im6.q16"; }

// A Display P3 profile (v2 matrix and gamma 2.2 curves), as phones tag
// their photos, built here from its published colorants.
inline std::vector<uint8_t> MakeDisplayP3Profile() {
  std::vector<uint8_t> p;
  auto u32 = [&](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) p.push_back(uint8_t(v >> s));
  };
  auto tagText = [&](const char* t) { p.insert(p.end(), t, t + 4); };
  auto fixed = [&](double v) { u32(uint32_t(int32_t(v * 65536.0 + (v < 0 ? -0.5 : 0.5)))); };
  const std::string name = "Display P3 test";
  const uint32_t tagCount = 8, tableEnd = 128 + 4 + tagCount * 12;
  const uint32_t descSize = 12 + uint32_t(name.size() + 1) + 8 + 3 + 67;
  const uint32_t descAt = tableEnd, xyzAt = (descAt + descSize + 3) / 4 * 4, curvAt = xyzAt + 4 * 20;
  const uint32_t total = curvAt + 14 + 2;
  u32(total);
  u32(0);
  u32(0x02100000);
  tagText("mntr");
  tagText("RGB ");
  tagText("XYZ ");
  for (int i = 0; i < 3; ++i) u32(0);  // date
  tagText("acsp");
  for (int i = 0; i < 6; ++i) u32(0);  // platform, flags, device, attributes
  u32(0);                              // rendering intent
  fixed(0.9642), fixed(1.0), fixed(0.8249);
  while (p.size() < 128) p.push_back(0);
  u32(tagCount);
  const struct {
    const char* sig;
    uint32_t at, size;
  } tags[] = {{"desc", descAt, descSize},      {"wtpt", xyzAt, 20},
              {"rXYZ", xyzAt + 20, 20},       {"gXYZ", xyzAt + 40, 20},
              {"bXYZ", xyzAt + 60, 20},       {"rTRC", curvAt, 14},
              {"gTRC", curvAt, 14},           {"bTRC", curvAt, 14}};
  for (const auto& t : tags) tagText(t.sig), u32(t.at), u32(t.size);
  tagText("desc");
  u32(0);
  u32(uint32_t(name.size() + 1));
  p.insert(p.end(), name.begin(), name.end());
  p.push_back(0);
  u32(0), u32(0);
  p.insert(p.end(), 3 + 67, 0);
  while (p.size() < xyzAt) p.push_back(0);
  const double xyz[4][3] = {{0.9642, 1.0, 0.8249},
                            {0.5151, 0.2412, -0.0011},
                            {0.2920, 0.6922, 0.0419},
                            {0.1571, 0.0666, 0.7841}};
  for (const auto& v : xyz) tagText("XYZ "), u32(0), fixed(v[0]), fixed(v[1]), fixed(v[2]);
  tagText("curv");
  u32(0);
  u32(1);
  p.push_back(0x02), p.push_back(0x33), p.push_back(0), p.push_back(0);
  return p;
}

}  // namespace testing_support
