// CIniStore: reading, looking up, changing and writing an INI file model.
#include "settings/ini_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading white space, optional sign, digits up to the first non-digit.
// The magnitude saturates a little above what any 32-bit reader needs.
int64_t ParseDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const int64_t limit = int64_t(1) << 40;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  return negative ? -value : value;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// A name, value or comment as one line: CR and LF would start a new line.
std::string OneLine(const std::string& text) {
  if (text.find_first_of("\r\n") == std::string::npos) return text;
  std::string out = text;
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

// Follows symbolic links so that replacing the file replaces their target.
std::filesystem::path ResolveLinks(std::filesystem::path path) {
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) break;
    std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

}  // namespace

int IniParseInt(const std::string& text) {
  int64_t v = ParseDecimal(text);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}

uint32_t IniParseUInt32(const std::string& text) {
  int64_t v = ParseDecimal(text);
  if (v > int64_t(UINT32_MAX)) v = UINT32_MAX;
  if (v < int64_t(INT32_MIN)) v = INT32_MIN;
  return uint32_t(v);
}

std::string IniFormatUInt32(uint32_t value) {
  return std::to_string(int32_t(value));
}

CIniStore::CIniStore(const std::string& path) : Path(path) {}

CIniStore::~CIniStore() = default;

std::string CIniStore::LookupKey(const std::string& name) const {
  if (!CaseInsensitive) return name;
  std::string key = name;
  for (char& c : key) c = FoldAscii(c);
  return key;
}

int CIniStore::FindSection(const std::string& name) const {
  auto it = SectionIndex.find(LookupKey(name));
  return it == SectionIndex.end() ? -1 : it->second;
}

int CIniStore::FindKey(int section, const std::string& key) const {
  if (section < 0 || size_t(section) >= Sections.size()) return -1;
  const auto& index = KeyIndex[size_t(section)];
  auto it = index.find(LookupKey(key));
  return it == index.end() ? -1 : it->second;
}

int CIniStore::AddSection(const std::string& name) {
  Sections.emplace_back();
  SectionNames.push_back(name);
  KeyIndex.emplace_back();
  const int index = int(Sections.size()) - 1;
  SectionIndex.emplace(LookupKey(name), index);  // keeps the first of a name
  return index;
}

std::string CIniStore::GetString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  int s = FindSection(section);
  int k = FindKey(s, key);
  if (k < 0) return defaultValue;
  return Sections[size_t(s)].Values[size_t(k)];
}

int CIniStore::GetInt(const std::string& section, const std::string& key,
                      int defaultValue) const {
  return IniParseInt(GetString(section, key, std::to_string(defaultValue)));
}

bool CIniStore::GetBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
  return GetInt(section, key, defaultValue ? 1 : 0) != 0;
}

uint32_t CIniStore::GetUInt32(const std::string& section, const std::string& key,
                              uint32_t defaultValue) const {
  return IniParseUInt32(GetString(section, key, IniFormatUInt32(defaultValue)));
}

bool CIniStore::SetString(const std::string& section, const std::string& key,
                          const std::string& value, bool create) {
  int s = FindSection(section);
  if (s < 0) {
    if (!create) return false;
    s = AddSection(section);
  }
  Section& sec = Sections[size_t(s)];
  int k = FindKey(s, key);
  if (k < 0) {
    if (!create) return false;
    sec.KeyNames.push_back(key);
    sec.Values.push_back(value);
    KeyIndex[size_t(s)].emplace(LookupKey(key), int(sec.KeyNames.size()) - 1);
    return true;
  }
  sec.Values[size_t(k)] = value;
  return true;
}

bool CIniStore::SetInt(const std::string& section, const std::string& key, int value,
                       bool /*create*/) {
  return SetString(section, key, std::to_string(value), true);
}

bool CIniStore::SetBool(const std::string& section, const std::string& key, bool value,
                        bool create) {
  return SetInt(section, key, value ? 1 : 0, create);
}

bool CIniStore::SetUInt32(const std::string& section, const std::string& key, uint32_t value,
                          bool /*create*/) {
  return SetString(section, key, IniFormatUInt32(value), true);
}

void CIniStore::AddHeaderComment(const std::string& text) { HeaderComments.push_back(text); }

bool CIniStore::AddSectionComment(const std::string& section, const std::string& text) {
  int s = FindSection(section);
  if (s < 0) return false;
  Sections[size_t(s)].Comments.push_back(text);
  return true;
}

bool CIniStore::Read() {
  try {
    return ReadLines();
  } catch (const std::exception& e) {  // out of memory on an absurd file
    LastError = "cannot read " + Path + ": " + e.what();
    return false;
  }
}

bool CIniStore::ReadLines() {
  std::ifstream in(Path, std::ios::binary);
  if (!in) {
    LastError = "cannot open " + Path + ": " + std::strerror(errno);
    return false;
  }
  std::string current;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    size_t pos = line.find_first_of(";#[=");
    if (pos == std::string::npos) continue;
    char c = line[pos];
    if (c == ';' || c == '#') {
      std::string comment = line.substr(pos + 1);
      if (Sections.empty())
        AddHeaderComment(comment);
      else
        AddSectionComment(current, comment);
    } else if (c == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || close <= pos) continue;
      current = line.substr(pos + 1, close - pos - 1);
      AddSection(current);
    } else {
      SetString(current, line.substr(0, pos), line.substr(pos + 1), true);
    }
  }
  if (in.bad()) {
    LastError = "cannot read " + Path;
    return false;
  }
  if (Sections.empty()) {
    LastError = Path + " holds no section";
    return false;
  }
  return true;
}

bool CIniStore::Write() {
  try {
    return WriteFile();
  } catch (const std::exception& e) {
    LastError = "cannot write " + Path + ": " + e.what();
    return false;
  }
}

bool CIniStore::WriteFile() {
  std::string text;
  for (const auto& comment : HeaderComments) text += ";" + OneLine(comment) + "\n";
  if (!HeaderComments.empty()) text += "\n";
  for (size_t s = 0; s < Sections.size(); ++s) {
    const Section& sec = Sections[s];
    text += "[" + OneLine(SectionNames[s]) + "]\n";
    for (const auto& comment : sec.Comments) text += ";" + OneLine(comment) + "\n";
    for (size_t k = 0; k < sec.KeyNames.size(); ++k)
      text += OneLine(sec.KeyNames[k]) + "=" + OneLine(sec.Values[k]) + "\n";
    text += "\n";
  }

  // Write a temporary file beside the target and rename it over the target,
  // so the old file stays whole until the new one is complete.
  namespace fs = std::filesystem;
  fs::path target = ResolveLinks(fs::path(Path));
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  struct stat old {};
  bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && S_ISDIR(old.st_mode)) {
    LastError = "cannot write " + Path + ": it is a folder";
    return false;
  }

  std::random_device rd;
  std::string tempPath;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tempPath = (folder / ("." + target.filename().string() + "." + std::to_string(rd() % 1000000u) +
                          ".tmp"))
                   .string();
    fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    LastError = "cannot write " + Path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = WriteAll(fd, text);
  int err = ok ? 0 : errno;
  if (ok && hadOld) ::fchmod(fd, old.st_mode & 07777);
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    err = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(tempPath.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tempPath.c_str());
    LastError = "cannot write " + Path + ": " + std::strerror(err);
    return false;
  }
  int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}
