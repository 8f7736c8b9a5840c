#include "services/version_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace {

// ---- the record built into the program ---------------------------------------------------

// "3.3.0.5" becomes "FileVersion=3, 3, 0, 5".
constexpr std::string_view kBuildVersion = LUMARO_VERSION;
constexpr std::string_view kFileVersionKey = "FileVersion=";
constexpr std::string_view kRecordTail = "\nProductName=Lumaro III\n";

constexpr size_t CountDots(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += c == '.' ? 1 : 0;
  return n;
}

constexpr size_t kRecordSize =
    kFileVersionKey.size() + kBuildVersion.size() + CountDots(kBuildVersion) + kRecordTail.size() + 1;

struct VersionRecord {
  char text[kRecordSize];
};

constexpr VersionRecord MakeRecord() {
  VersionRecord record{};
  size_t n = 0;
  for (char c : kFileVersionKey) record.text[n++] = c;
  for (char c : kBuildVersion) {
    if (c == '.') {
      record.text[n++] = ',';
      record.text[n++] = ' ';
    } else {
      record.text[n++] = c;
    }
  }
  for (char c : kRecordTail) record.text[n++] = c;
  record.text[n] = '\0';
  return record;
}

// The section is kept even though nothing in the program refers to it by
// address: the reader finds it in the program file.
__attribute__((section(".lumaro_version"), used)) const VersionRecord kVersionRecord = MakeRecord();

// ---- ELF reading ----------------------------------------------------------------------------

constexpr uint32_t kShtNobits = 8;
constexpr uint32_t kShnXindex = 0xffff;
// Largest section header table and section name table read.
constexpr uint64_t kMaxTableSize = 16u * 1024 * 1024;

class ElfFile {
 public:
  explicit ElfFile(int fd) : fd_(fd) {}

  bool ReadAt(uint64_t offset, void* out, uint64_t size) const {
    if (offset > size_ || size > size_ - offset) return false;
    auto* p = static_cast<unsigned char*>(out);
    while (size > 0) {
      ssize_t n = pread(fd_, p, size, off_t(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      offset += uint64_t(n);
      size -= uint64_t(n);
    }
    return true;
  }

  bool Init() {
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
    size_ = uint64_t(st.st_size);
    unsigned char ident[16];
    if (!ReadAt(0, ident, sizeof ident)) return false;
    if (std::memcmp(ident, "\x7f" "ELF", 4) != 0) return false;
    if (ident[4] != 1 && ident[4] != 2) return false;  // 32 or 64 bits
    if (ident[5] != 1 && ident[5] != 2) return false;  // little or big endian
    wide_ = ident[4] == 2;
    little_ = ident[5] == 1;
    return true;
  }

  uint64_t Get(const unsigned char* p, int bytes) const {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      int shift = little_ ? 8 * i : 8 * (bytes - 1 - i);
      v |= uint64_t(p[i]) << shift;
    }
    return v;
  }

  bool wide() const { return wide_; }
  uint64_t size() const { return size_; }

 private:
  int fd_;
  uint64_t size_ = 0;
  bool wide_ = false;
  bool little_ = true;
};

struct SectionHeader {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

SectionHeader DecodeHeader(const ElfFile& elf, const unsigned char* p) {
  SectionHeader h;
  h.name = uint32_t(elf.Get(p, 4));
  h.type = uint32_t(elf.Get(p + 4, 4));
  if (elf.wide()) {
    h.offset = elf.Get(p + 24, 8);
    h.size = elf.Get(p + 32, 8);
    h.link = uint32_t(elf.Get(p + 40, 4));
  } else {
    h.offset = elf.Get(p + 16, 4);
    h.size = elf.Get(p + 20, 4);
    h.link = uint32_t(elf.Get(p + 24, 4));
  }
  return h;
}

// The bytes of the named section, or false.
bool ReadNamedSection(int fd, const char* wanted, std::string& out) {
  ElfFile elf(fd);
  if (!elf.Init()) return false;

  unsigned char header[64];
  const uint64_t headerSize = elf.wide() ? 64 : 52;
  if (!elf.ReadAt(0, header, headerSize)) return false;
  uint64_t shoff, shentsize, shnum, shstrndx;
  if (elf.wide()) {
    shoff = elf.Get(header + 40, 8);
    shentsize = elf.Get(header + 58, 2);
    shnum = elf.Get(header + 60, 2);
    shstrndx = elf.Get(header + 62, 2);
  } else {
    shoff = elf.Get(header + 32, 4);
    shentsize = elf.Get(header + 46, 2);
    shnum = elf.Get(header + 48, 2);
    shstrndx = elf.Get(header + 50, 2);
  }
  const uint64_t minEntry = elf.wide() ? 64 : 40;
  if (shoff == 0 || shentsize < minEntry) return false;

  // Section 0 holds the real count and name table index when they do not
  // fit the file header.
  std::vector<unsigned char> entry(shentsize);
  if (!elf.ReadAt(shoff, entry.data(), shentsize)) return false;
  SectionHeader first = DecodeHeader(elf, entry.data());
  if (shnum == 0) shnum = first.size;
  if (shstrndx == kShnXindex) shstrndx = first.link;
  if (shnum == 0 || shstrndx == 0 || shstrndx >= shnum) return false;
  if (shnum > kMaxTableSize / shentsize) return false;

  std::vector<unsigned char> table(shnum * shentsize);
  if (!elf.ReadAt(shoff, table.data(), table.size())) return false;

  SectionHeader names = DecodeHeader(elf, table.data() + shstrndx * shentsize);
  if (names.type == kShtNobits || names.size == 0 || names.size > kMaxTableSize) return false;
  std::string nameTable(names.size, '\0');
  if (!elf.ReadAt(names.offset, nameTable.data(), names.size)) return false;

  const size_t wantedLength = std::strlen(wanted);
  for (uint64_t i = 1; i < shnum; ++i) {
    SectionHeader h = DecodeHeader(elf, table.data() + i * shentsize);
    if (h.name >= nameTable.size()) continue;
    // The name must end inside the table.
    size_t end = nameTable.find('\0', h.name);
    if (end == std::string::npos) continue;
    if (end - h.name != wantedLength || nameTable.compare(h.name, wantedLength, wanted) != 0)
      continue;
    if (h.type == kShtNobits || h.size > CVersionResource::kMaxRecordSize) return false;
    out.assign(h.size, '\0');
    return elf.ReadAt(h.offset, out.data(), h.size);
  }
  return false;
}

}  // namespace

const char* BuiltinVersionRecord() { return kVersionRecord.text; }

std::vector<std::pair<std::string, std::string>> CVersionResource::ParseRecord(
    const std::string& text) {
  std::vector<std::pair<std::string, std::string>> entries;
  // The record ends at its first NUL.
  std::string_view rest(text.data(), std::strlen(text.c_str()));
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    entries.emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
  }
  return entries;
}

bool CVersionResource::Open(const std::string& path) {
  open_ = false;
  entries_.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string bytes;
  bool found = ReadNamedSection(fd, kVersionSectionName, bytes);
  ::close(fd);
  if (!found) return false;
  entries_ = ParseRecord(bytes);
  open_ = true;
  return true;
}

bool CVersionResource::OpenOwnProgram() { return Open("/proc/self/exe"); }

std::string CVersionResource::QueryValue(const std::string& name) const {
  for (const auto& [key, value] : entries_)
    if (key == name) return value;
  return std::string();
}

std::string OwnProgramPath() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string OwnFileVersion() {
  CVersionResource resource;
  if (!resource.OpenOwnProgram()) return std::string();
  return resource.QueryValue("FileVersion");
}
