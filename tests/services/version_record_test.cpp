// The version record: read back from the built program, from files changed
// by objcopy, from hand-made ELF files in all four layouts, and refused in
// damaged or foreign files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "services/version_record.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::Quote;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using testing_support::WriteFileText;

namespace {

// "3.3.0.5" -> "3, 3, 0, 5"
std::string ExpectedFileVersion() {
  std::string out;
  for (char c : std::string(LUMARO_VERSION)) out += c == '.' ? std::string(", ") : std::string(1, c);
  return out;
}

std::string ProgramPath() { return std::string(LUMARO_PROGRAM_DIR) + "/lumaro"; }

// A small ELF file with a section name table and the given sections, in
// any of the four layouts.
struct ElfSection {
  std::string name;
  std::string data;
  uint32_t type = 1;  // PROGBITS
};

class ElfBuilder {
 public:
  ElfBuilder(bool wide, bool little) : wide_(wide), little_(little) {}

  std::vector<uint8_t> Build(const std::vector<ElfSection>& sections) const {
    // Layout: header, section bodies, name table, section header table.
    std::string names(1, '\0');
    std::vector<uint32_t> nameOffsets;
    for (const auto& s : sections) {
      nameOffsets.push_back(uint32_t(names.size()));
      names += s.name + '\0';
    }
    const uint32_t shstrName = uint32_t(names.size());
    names += std::string(".shstrtab") + '\0';

    std::vector<uint8_t> out(wide_ ? 64 : 52, 0);
    std::vector<uint64_t> offsets;
    for (const auto& s : sections) {
      offsets.push_back(out.size());
      out.insert(out.end(), s.data.begin(), s.data.end());
    }
    const uint64_t namesOffset = out.size();
    out.insert(out.end(), names.begin(), names.end());
    while (out.size() % 8) out.push_back(0);
    const uint64_t shoff = out.size();
    const uint64_t entry = wide_ ? 64 : 40;
    const uint64_t count = sections.size() + 2;  // null section, sections, names
    out.resize(out.size() + count * entry, 0);

    std::memcpy(out.data(), "\x7f" "ELF", 4);
    out[4] = wide_ ? 2 : 1;
    out[5] = little_ ? 1 : 2;
    out[6] = 1;
    Put(out, 16, 2, 2);   // executable
    Put(out, 18, 2, 62);  // machine, not looked at
    Put(out, 20, 4, 1);
    if (wide_) {
      Put(out, 40, 8, shoff);
      Put(out, 52, 2, 64);
      Put(out, 58, 2, entry);
      Put(out, 60, 2, count);
      Put(out, 62, 2, count - 1);
    } else {
      Put(out, 32, 4, shoff);
      Put(out, 40, 2, 52);
      Put(out, 46, 2, entry);
      Put(out, 48, 2, count);
      Put(out, 50, 2, count - 1);
    }
    for (size_t i = 0; i < sections.size(); ++i)
      PutSection(out, shoff + (i + 1) * entry, nameOffsets[i], sections[i].type, offsets[i],
                 sections[i].data.size());
    PutSection(out, shoff + (count - 1) * entry, shstrName, 3, namesOffset, names.size());
    return out;
  }

  void Put(std::vector<uint8_t>& out, size_t at, int bytes, uint64_t value) const {
    for (int i = 0; i < bytes; ++i) {
      int shift = little_ ? 8 * i : 8 * (bytes - 1 - i);
      out[at + size_t(i)] = uint8_t(value >> shift);
    }
  }

  void PutSection(std::vector<uint8_t>& out, uint64_t at, uint32_t name, uint32_t type,
                  uint64_t offset, uint64_t size) const {
    Put(out, at, 4, name);
    Put(out, at + 4, 4, type);
    if (wide_) {
      Put(out, at + 24, 8, offset);
      Put(out, at + 32, 8, size);
    } else {
      Put(out, at + 16, 4, offset);
      Put(out, at + 20, 4, size);
    }
  }

 private:
  bool wide_;
  bool little_;
};

std::string ReadVersion(const std::string& path, bool* opened = nullptr) {
  CVersionResource r;
  bool ok = r.Open(path);
  if (opened) *opened = ok;
  return r.QueryValue("FileVersion");
}

const char kRecord[] = "FileVersion=4, 7, 1, 2\nProductName=Lumaro III\n";

}  // namespace

TEST(VersionRecord, BuiltProgramAndThisTestCarryTheBuildVersion) {
  ASSERT_TRUE(fs::exists(ProgramPath())) << ProgramPath();
  bool opened = false;
  EXPECT_EQ(ReadVersion(ProgramPath(), &opened), ExpectedFileVersion());
  EXPECT_TRUE(opened);
  EXPECT_EQ(OwnFileVersion(), ExpectedFileVersion());
  EXPECT_EQ(std::string(BuiltinVersionRecord()),
            "FileVersion=" + ExpectedFileVersion() + "\nProductName=Lumaro III\n");

  CVersionResource own;
  ASSERT_TRUE(own.OpenOwnProgram());
  EXPECT_EQ(own.QueryValue("ProductName"), "Lumaro III");
  EXPECT_EQ(own.QueryValue("ProductVersion"), "");
  EXPECT_EQ(own.QueryValue("fileversion"), "");  // names are exact
}

TEST(VersionRecord, ObjcopyRemovedOrReplacedRecord) {
  TempDir tmp;
  const std::string copy = tmp / "prog";
  fs::copy_file("/bin/true", copy);
  // A program of the system: an ELF file without the record.
  bool opened = true;
  EXPECT_EQ(ReadVersion(copy, &opened), "");
  EXPECT_FALSE(opened);

  WriteFileText(tmp / "record", kRecord);
  ASSERT_EQ(testing_support::Run("objcopy --add-section .lumaro_version=" + Quote(tmp / "record") + " " +
                Quote(copy) + " 2>/dev/null"),
            0);
  EXPECT_EQ(ReadVersion(copy, &opened), "4, 7, 1, 2");
  EXPECT_TRUE(opened);

  // The built program with its record taken out has no version.
  const std::string stripped = tmp / "lumaro";
  ASSERT_EQ(testing_support::Run("objcopy --remove-section .lumaro_version " + Quote(ProgramPath()) + " " +
                Quote(stripped) + " 2>/dev/null"),
            0);
  EXPECT_EQ(ReadVersion(stripped, &opened), "");
  EXPECT_FALSE(opened);
}

TEST(VersionRecord, AllFourElfLayouts) {
  TempDir tmp;
  for (bool wide : {false, true}) {
    for (bool little : {false, true}) {
      SCOPED_TRACE(std::string(wide ? "64" : "32") + (little ? " LE" : " BE"));
      ElfBuilder b(wide, little);
      const std::string path = tmp / "f";
      auto bytes = b.Build({{".text", "abc"},
                            {".lumaro_versionX", "FileVersion=9, 9\n"},  // longer name
                            {".lumaro_version", kRecord},
                            {".data", "xyz"}});
      WriteFileBytes(path, bytes.data(), bytes.size());
      EXPECT_EQ(ReadVersion(path), "4, 7, 1, 2");

      // Without the section, and with a section of the name but no bytes.
      bytes = b.Build({{".text", "abc"}});
      WriteFileBytes(path, bytes.data(), bytes.size());
      EXPECT_EQ(ReadVersion(path), "");
      bytes = b.Build({{".lumaro_version", kRecord, 8}});
      WriteFileBytes(path, bytes.data(), bytes.size());
      EXPECT_EQ(ReadVersion(path), "");
    }
  }
}

TEST(VersionRecord, RecordTextRules) {
  const char raw[] = "FileVersion=1, 2\r\n=nokey\nnoequals\nEmpty=\nA=b=c\n\0Hidden=1\n";
  auto entries = CVersionResource::ParseRecord(std::string(raw, sizeof raw - 1));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>("FileVersion", "1, 2")));
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>("Empty", "")));
  EXPECT_EQ(entries[2], (std::pair<std::string, std::string>("A", "b=c")));
}

TEST(VersionRecord, ForeignAndDamagedFilesHaveNoVersion) {
  TempDir tmp;
  WriteFileText(tmp / "text", "FileVersion=1, 2, 3, 4\n");
  WriteFileText(tmp / "empty", "");
  WriteFileText(tmp / "magic", "\x7f" "ELF");
  for (const std::string& path : {tmp / "text", tmp / "empty", tmp / "magic", tmp.str(),
                                  tmp / "missing"}) {
    bool opened = true;
    EXPECT_EQ(ReadVersion(path, &opened), "") << path;
    EXPECT_FALSE(opened) << path;
  }

  ElfBuilder b(true, true);
  const std::vector<uint8_t> good = b.Build({{".lumaro_version", kRecord}});
  const std::string path = tmp / "f";
  auto check = [&](const std::vector<uint8_t>& bytes, const char* what) {
    WriteFileBytes(path, bytes.data(), bytes.size());
    CVersionResource r;
    EXPECT_FALSE(r.Open(path)) << what;
    EXPECT_EQ(r.QueryValue("FileVersion"), "") << what;
  };
  WriteFileBytes(path, good.data(), good.size());
  ASSERT_EQ(ReadVersion(path), "4, 7, 1, 2");

  // Every cut of the file: never a crash, never a made-up value.
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + long(cut));
    WriteFileBytes(path, bytes.data(), bytes.size());
    CVersionResource r;
    if (r.Open(path)) {
      EXPECT_EQ(r.QueryValue("FileVersion"), "4, 7, 1, 2") << cut;
    }
  }

  const uint64_t shoff = good[40] | uint64_t(good[41]) << 8 | uint64_t(good[42]) << 16;
  auto patched = [&](size_t at, std::initializer_list<uint8_t> values) {
    return testing_support::Patched(good, at, values);
  };
  check(patched(4, {3}), "bad class");
  check(patched(5, {0}), "bad byte order");
  check(patched(40, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f}), "table beyond the end");
  check(patched(58, {0, 0}), "entry size 0");
  check(patched(58, {8, 0}), "entry size too small");
  check(patched(60, {0xff, 0xff}), "too many sections");
  check(patched(62, {9, 0}), "name table index out of range");
  check(patched(62, {0, 0}), "name table index 0");
  // Section 1 (the record): its offset, size and name pushed out of bounds.
  const size_t rec = size_t(shoff) + 64;
  check(patched(rec + 24, {0xf0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}), "record offset");
  check(patched(rec + 32, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}), "record size");
  check(patched(rec + 32, {0x01, 0x00, 0x01, 0x00}), "record larger than the limit");
  check(patched(rec, {0xff, 0xff, 0, 0}), "name outside the table");
  // The name table: its size cut so the record's name has no end.
  const size_t names = size_t(shoff) + 2 * 64;
  check(patched(names + 32, {2, 0, 0, 0, 0, 0, 0, 0}), "name table cut");
  check(patched(names + 24, {0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0}), "name table offset");
}
