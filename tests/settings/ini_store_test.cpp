// The INI store: line rules of reading, lookups, setters, writing.
#include "settings/ini_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>

#include "test_support.h"

using namespace testing_support;

namespace {

// Reads text through a store kept in a temporary folder.
class IniStoreTest : public ::testing::Test {
 protected:
  CIniStore& Load(const std::string& text, bool expectRead = true) {
    WriteFileText(path, text);
    store = std::make_unique<CIniStore>(path);
    EXPECT_EQ(expectRead, store->Read());
    return *store;
  }
  TempDir dir;
  std::string path = dir / "test.ini";
  std::unique_ptr<CIniStore> store;
};

TEST_F(IniStoreTest, LookupsFoldOnlyAsciiLetters) {
  CIniStore& s = Load("[Dimensions]\nWidth=640\nWidth = 641\n[Раздел]\nКлюч=1\n");
  EXPECT_EQ(640, s.GetInt("dimensions", "WIDTH", 0));
  // "Width = 641" is the key "Width " with the value " 641".
  EXPECT_EQ(" 641", s.GetString("Dimensions", "Width ", ""));
  EXPECT_EQ("x", s.GetString("Dimensions", " Width", "x"));
  EXPECT_EQ(1, s.GetInt("Раздел", "Ключ", 0));
  EXPECT_EQ(-1, s.FindSection("раздел"));  // Cyrillic letters do not fold
  EXPECT_EQ(-1, s.FindKey(7, "Width"));
  EXPECT_EQ(-1, s.FindKey(-1, "Width"));
}

TEST_F(IniStoreTest, ManyKeysReadInLinearTime) {
  // 100,000 keys; repeats in another case (also under a repeated section
  // header) keep the first key's place and take the last value.
  std::string text = "[Big]\n";
  for (int i = 0; i < 100000; ++i) text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  text += "KEY99999=last\n[big]\nkey5=second section\n";
  WriteFileText(path, text);
  EXPECT_TRUE(FinishesWithin(30, [&] {
    CIniStore s(path);
    return s.Read() && s.SectionCount() == 2 && s.SectionAt(0).KeyNames.size() == 100000 &&
           s.GetString("big", "key99999", "") == "last" && s.GetString("BIG", "KEY5", "") == "second section" &&
           s.FindKey(0, "key12345") == 12345 && s.SectionAt(1).KeyNames.empty();
  }));
}

TEST_F(IniStoreTest, LineRules) {
  CIniStore& s = Load(
      "top=before any section\n"
      "[First]\n"
      "a=1\n"
      "[General\n"            // no closing bracket: ignored
      "b=2=3;not a comment # either\n"
      "no special character here\n"
      "x]y[General]\n"        // text before "[" is ignored
      "[a]b]\n"               // the last "]" closes the name
      "][\n"                  // "]" before "[": ignored
      "[First]\n"             // a second, empty section of the same name
      "a=4\n"                 // goes to the first [First], keeps its place
      "c=5\n"
      "=empty key\n");
  ASSERT_EQ(5, s.SectionCount());
  EXPECT_EQ("", s.SectionName(0));
  EXPECT_EQ("First", s.SectionName(1));
  EXPECT_EQ("General", s.SectionName(2));
  EXPECT_EQ("a]b", s.SectionName(3));
  EXPECT_EQ("First", s.SectionName(4));
  EXPECT_EQ("before any section", s.GetString("", "top", ""));
  EXPECT_EQ("2=3;not a comment # either", s.GetString("First", "b", ""));
  const auto& first = s.SectionAt(1);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", ""}), first.KeyNames);
  EXPECT_EQ((std::vector<std::string>{"4", "2=3;not a comment # either", "5", "empty key"}),
            first.Values);
  EXPECT_TRUE(s.SectionAt(4).KeyNames.empty());
}

TEST_F(IniStoreTest, CommentsAreKeptAndWrittenWithSemicolon) {
  CIniStore& s = Load("; note\n#hash\n[S]\nk=v\n  ;indented\n[T]\n");
  EXPECT_EQ((std::vector<std::string>{" note", "hash"}), s.GetHeaderComments());
  EXPECT_EQ((std::vector<std::string>{"indented"}), s.SectionAt(0).Comments);
  ASSERT_TRUE(s.Write());
  EXPECT_EQ("; note\n;hash\n\n[S]\n;indented\nk=v\n\n[T]\n\n", ReadFileText(path));
}

TEST_F(IniStoreTest, CommentOnlyFileReadsFalseButKeepsComments) {
  CIniStore& s = Load(";one\n\nplain text\n", false);
  EXPECT_EQ(0, s.SectionCount());
  EXPECT_EQ(1u, s.GetHeaderComments().size());
  CIniStore missing(dir / "absent.ini");
  EXPECT_FALSE(missing.Read());
  EXPECT_FALSE(missing.GetLastError().empty());
}

TEST_F(IniStoreTest, CrLfFilesReadLikeLfFiles) {
  CIniStore& s = Load("[S]\r\nk=v\r\nm=a\rb\r\n\r\n;c\r\n[T]\r\nn=x\r\r\n");
  EXPECT_EQ("v", s.GetString("S", "k", ""));
  EXPECT_EQ("a\rb", s.GetString("S", "m", ""));  // only a CR at the line end goes
  EXPECT_EQ("x\r", s.GetString("T", "n", ""));   // and only one of them
  EXPECT_EQ((std::vector<std::string>{"c"}), s.SectionAt(0).Comments);
  EXPECT_EQ(2, s.SectionCount());
}

TEST_F(IniStoreTest, DecimalConversion) {
  CIniStore& s = Load(
      "[N]\nabc=abc\nmixed=12abc\nblank= \t-7x\nplus=+5\nbig=99999999999\nsmall=-99999999999\n"
      "two=2\nzero=0\nsign=-\n");
  EXPECT_EQ(0, s.GetInt("N", "abc", 9));
  EXPECT_EQ(12, s.GetInt("N", "mixed", 9));
  EXPECT_EQ(-7, s.GetInt("N", "blank", 9));
  EXPECT_EQ(5, s.GetInt("N", "plus", 9));
  EXPECT_EQ(INT_MAX, s.GetInt("N", "big", 9));
  EXPECT_EQ(INT_MIN, s.GetInt("N", "small", 9));
  EXPECT_EQ(0, s.GetInt("N", "sign", 9));
  EXPECT_EQ(9, s.GetInt("N", "missing", 9));
  EXPECT_EQ(-9, s.GetInt("missing", "abc", -9));
  EXPECT_TRUE(s.GetBool("N", "two", false));
  EXPECT_FALSE(s.GetBool("N", "zero", true));
  EXPECT_TRUE(s.GetBool("N", "missing", true));
  // 32-bit values: signed decimal, or the unsigned spelling of the same bits.
  EXPECT_EQ(0xC0A80001u, IniParseUInt32("-1062731775"));
  EXPECT_EQ(0xC0A80001u, IniParseUInt32("3232235521"));
  EXPECT_EQ(0xFFFFFFFFu, IniParseUInt32("99999999999"));
  EXPECT_EQ(0x80000000u, IniParseUInt32("-99999999999"));
  EXPECT_EQ("-1062731775", IniFormatUInt32(0xC0A80001u));
  EXPECT_EQ("16777215", IniFormatUInt32(0x00FFFFFFu));
}

TEST_F(IniStoreTest, Setters) {
  CIniStore s(path);
  EXPECT_FALSE(s.SetString("S", "k", "v", false));
  EXPECT_EQ(0, s.SectionCount());
  EXPECT_FALSE(s.AddSectionComment("S", "c"));
  EXPECT_TRUE(s.SetString("S", "Key", "1"));
  EXPECT_TRUE(s.SetString("S", "other", "2"));
  EXPECT_FALSE(s.SetString("S", "third", "3", false));
  EXPECT_TRUE(s.SetString("s", "KEY", "changed", false));  // spelling and place stay
  EXPECT_TRUE(s.SetInt("S", "third", -3, false));          // ints always create
  EXPECT_TRUE(s.SetBool("T", "flag", true, false));
  EXPECT_EQ((std::vector<std::string>{"Key", "other", "third"}), s.SectionAt(0).KeyNames);
  EXPECT_EQ((std::vector<std::string>{"changed", "2", "-3"}), s.SectionAt(0).Values);
  EXPECT_EQ("1", s.GetString("T", "flag", ""));
  EXPECT_EQ(2, s.AddSection("S"));  // never checks for a section of that name...
  EXPECT_EQ(3, s.SectionCount());
  EXPECT_EQ(0, s.FindSection("S"));  // ...and lookups find the first
}

TEST_F(IniStoreTest, WriteThenReadGivesTheSameModel) {
  CIniStore& s = Load(";h\n[A]\n;c\nk=v w\n=x\n[B]\n[]\ny=\n");
  ASSERT_TRUE(s.Write());
  CIniStore again(path);
  ASSERT_TRUE(again.Read());
  ASSERT_EQ(s.SectionCount(), again.SectionCount());
  EXPECT_EQ(s.GetHeaderComments(), again.GetHeaderComments());
  for (int i = 0; i < s.SectionCount(); ++i) {
    EXPECT_EQ(s.SectionName(i), again.SectionName(i));
    EXPECT_EQ(s.SectionAt(i).KeyNames, again.SectionAt(i).KeyNames);
    EXPECT_EQ(s.SectionAt(i).Values, again.SectionAt(i).Values);
    EXPECT_EQ(s.SectionAt(i).Comments, again.SectionAt(i).Comments);
  }
  // An empty model gives an empty file.
  CIniStore empty(path);
  ASSERT_TRUE(empty.Write());
  EXPECT_EQ("", ReadFileText(path));
}

TEST_F(IniStoreTest, LineBreaksInsideValuesCannotAddLines) {
  CIniStore s(path);
  s.SetString("S", "k", "one\n[Evil]\nx=1");
  ASSERT_TRUE(s.Write());
  CIniStore back(path);
  ASSERT_TRUE(back.Read());
  EXPECT_EQ(1, back.SectionCount());
  EXPECT_EQ("one [Evil] x=1", back.GetString("S", "k", ""));
}

TEST_F(IniStoreTest, WriteReplacesTheFileKeepingModeAndLinks) {
  WriteFileText(path, "old");
  ::chmod(path.c_str(), 0640);
  std::string link = dir / "link.ini";
  std::filesystem::create_symlink("test.ini", link);
  CIniStore s(link);
  s.SetString("S", "k", "v");
  ASSERT_TRUE(s.Write());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ("[S]\nk=v\n\n", ReadFileText(path));
  struct stat st {};
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
}

// Counts the entries of a folder (a temporary file left behind shows here).
size_t CountEntries(const std::filesystem::path& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST_F(IniStoreTest, FailedWriteKeepsTheOldFile) {
  WriteFileText(path, "[Old]\nk=v\n");
  CIniStore big(path);
  big.SetString("S", "k", std::string(64 * 1024, 'x'));

  // A write that fails half-way: the file size limit stops it.
  struct rlimit saved {};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  bool written = big.Write();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_FALSE(big.GetLastError().empty());
  EXPECT_EQ("[Old]\nk=v\n", ReadFileText(path));
  EXPECT_EQ(1u, CountEntries(dir.path()));

  // A folder that cannot exist (its parent is a file), and a folder in the
  // way of the file.
  CIniStore underFile(dir / "test.ini/inner.ini");
  underFile.SetString("S", "k", "v");
  EXPECT_FALSE(underFile.Write());
  std::filesystem::create_directory(dir / "folder.ini");
  CIniStore onFolder(dir / "folder.ini");
  EXPECT_FALSE(onFolder.Write());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.ini"));
  EXPECT_EQ(2u, CountEntries(dir.path()));
}

}  // namespace
