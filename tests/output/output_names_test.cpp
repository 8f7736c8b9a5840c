#include "output/output_names.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "test_support.h"

namespace {

using testing_support::TempDir;

std::string Expand(const std::string& directory, std::string name, const std::string& pattern,
                   int number) {
  EXPECT_TRUE(ExpandRenamePattern(directory, name, pattern, number));
  return name;
}

TEST(ExpandRenamePattern, Examples) {
  EXPECT_EQ(Expand("/photos/", "file", "Image_###", 5), "Image_005");
  EXPECT_EQ(Expand("/photos/", "file", "*_###", 18), "file_018");
  EXPECT_EQ(Expand("/data/МОЯ_ПАПКА/", "file", "Image_^_*_###", 105),
            "Image_МОЯ_ПАПКА_file_105");
  EXPECT_EQ(Expand("/", "x", "##_###", 5), "05_005");
  EXPECT_EQ(Expand("/", "x", "#", 123), "123");
  EXPECT_EQ(Expand("/", "x", "###", -7), "-007");
  EXPECT_EQ(Expand("/", "x", "##", 12345), "12345");
  EXPECT_EQ(Expand("/", "x", "#", 0), "0");
  EXPECT_EQ(Expand("/", "x", "#", INT_MIN), "-2147483648");
  EXPECT_EQ(Expand("/", "x", "##########", INT_MAX), "2147483647");
  EXPECT_EQ(Expand("/", "x", "############", 42), "000000000042");
}

TEST(ExpandRenamePattern, TokensAndPlainText) {
  // Without tokens every file gets the same name.
  EXPECT_EQ(Expand("/a/", "one", "fixed", 1), "fixed");
  EXPECT_EQ(Expand("/a/", "one", "", 1), "");
  // "*" repeats the entry name, "^" repeats the folder name.
  EXPECT_EQ(Expand("/a/b/", "n", "*-*", 1), "n-n");
  EXPECT_EQ(Expand("/a/b/", "n", "^^", 1), "bb");
  // One trailing "/" is removed; a directory without one works as well.
  EXPECT_EQ(Expand("/out/dir", "n", "^", 1), "dir");
  EXPECT_EQ(Expand("/out/dir//", "n", "[^]", 1), "[]");
  // The root and a directory without "/" give nothing.
  EXPECT_EQ(Expand("/", "n", "a^b", 1), "ab");
  EXPECT_EQ(Expand("", "n", "a^b", 1), "ab");
  EXPECT_EQ(Expand("relative", "n", "a^b", 1), "ab");
  // Runs separated by other characters are formatted on their own.
  EXPECT_EQ(Expand("/", "n", "#-#x###", 7), "7-7x007");
}

TEST(CheckOutputName, RefusesUnusableNames) {
  std::string reason;
  EXPECT_TRUE(CheckOutputName("photo", reason));
  EXPECT_TRUE(CheckOutputName(std::string(255, 'a'), reason));
  EXPECT_TRUE(CheckOutputName("МОЯ_ПАПКА", reason));
  EXPECT_TRUE(CheckOutputName("-leading dash and blanks", reason));
  for (const std::string& bad : {std::string(256, 'a'), std::string("a/b"), std::string("/"),
                                 std::string(""), std::string("."), std::string(".."),
                                 std::string("a\0b", 3)}) {
    reason.clear();
    EXPECT_FALSE(CheckOutputName(bad, reason)) << bad;
    EXPECT_FALSE(reason.empty());
  }
  // 128 two-byte letters are 256 bytes.
  std::string cyrillic;
  for (int i = 0; i < 128; ++i) cyrillic += "Я";
  EXPECT_FALSE(CheckOutputName(cyrillic, reason));
  EXPECT_NE(reason.find("255"), std::string::npos);
  // With an extension to follow, "." and ".." make proper names ("..jpg").
  EXPECT_TRUE(CheckOutputName(".", reason, true));
  EXPECT_TRUE(CheckOutputName("..", reason, true));
  EXPECT_FALSE(CheckOutputName("", reason, true));
}

TEST(IsSupportedExtension, WholeEntriesInAnyCase) {
  for (const char* ext : {".bmp", ".gif", ".jpg", ".jpeg", ".png", ".ico", ".tif", ".tiff",
                          ".tga", ".pcx", ".wbmp", ".wmf", ".emf", ".j2k", ".jp2", ".jbg",
                          ".j2c", ".jpc", ".pgx", ".pnm", ".pgm", ".ppm", ".ras", ".webp",
                          ".heic", ".heif", ".hif", ".avif", ".jxl", ".dng", ".cr2", ".cr3",
                          ".nef", ".arw", ".orf", ".rw2", ".raf", ".pef", ".srw"})
    EXPECT_TRUE(IsSupportedExtension(ext)) << ext;
  EXPECT_TRUE(IsSupportedExtension(".JPG"));
  EXPECT_TRUE(IsSupportedExtension(".Jpeg"));
  EXPECT_TRUE(IsSupportedExtension(""));  // a name without a dot
  for (const char* ext : {".if", ".peg", ".pg", "jpg", ".jpg;", ";", ".", ".jpgx", ".txt",
                          ".bmp;.gif", ".pbm", ".heics", ".raw"})
    EXPECT_FALSE(IsSupportedExtension(ext)) << ext;
  EXPECT_FALSE(IsSupportedExtension("." + std::string(300, 'j')));
}

TEST(FindExtension, LastDotOfLastComponent) {
  EXPECT_EQ(FindExtension("/a/b/photo.JPG"), ".JPG");
  EXPECT_EQ(FindExtension("/a/b/archive.tar.gz"), ".gz");
  EXPECT_EQ(FindExtension("/a.dir/noext"), "");
  EXPECT_EQ(FindExtension("/a/b/trailingdot."), ".");
  EXPECT_EQ(FindExtension("plain"), "");
  EXPECT_EQ(FindExtension("/a/.hidden"), ".hidden");

  std::string dir, name, ext;
  SplitSourcePath("/Photos/2005/a.b.jpg", dir, name, ext);
  EXPECT_EQ(dir, "/Photos/2005/");
  EXPECT_EQ(name, "a.b");
  EXPECT_EQ(ext, ".jpg");
  SplitSourcePath("/a.jpg", dir, name, ext);
  EXPECT_EQ(dir, "/");
  EXPECT_EQ(name, "a");
  SplitSourcePath("/x.d/README", dir, name, ext);
  EXPECT_EQ(dir, "/x.d/");
  EXPECT_EQ(name, "README");
  EXPECT_EQ(ext, "");
}

std::string Base(COutputNamer& namer, const std::string& source) {
  std::string base, reason;
  EXPECT_TRUE(namer.MakeOutputBase(source, base, reason)) << reason;
  return base;
}

TEST(COutputNamer, PlainNamesIntoTheOutputFolder) {
  NamingOptions options;
  options.OutputFolder = "/out";
  COutputNamer namer(options);
  EXPECT_EQ(namer.OutputRoot(), "/out/");
  EXPECT_EQ(Base(namer, "/photos/2005/a.jpg"), "/out/a");
  EXPECT_EQ(namer.LastOutputDirectory(), "/out");
  options.OutputFolder = "/out/";
  COutputNamer slashed(options);
  EXPECT_EQ(slashed.OutputRoot(), "/out/");
  EXPECT_EQ(Base(slashed, "/photos/b c.png"), "/out/b c");
  // A rename switched on without a pattern renames nothing.
  options.UseRename = 1;
  COutputNamer noPattern(options);
  EXPECT_EQ(Base(noPattern, "/p/keep.jpg"), "/out/keep");
}

TEST(COutputNamer, EmptyOutputFolderWritesBesideTheSource) {
  for (int keep : {0, 1}) {
    NamingOptions options;
    options.KeepSubfoldersStructure = keep;
    options.IncludingSubfolders = keep;
    COutputNamer namer(options);
    EXPECT_EQ(namer.OutputRoot(), "");
    EXPECT_EQ(Base(namer, "/photos/2005/a.jpg"), "/photos/2005/a");
    EXPECT_EQ(namer.LastOutputDirectory(), "/photos/2005");
    // A file in the root stays in the root, not in the current folder.
    EXPECT_EQ(Base(namer, "/a.jpg"), "/a");
    EXPECT_EQ(namer.LastOutputDirectory(), "/");
  }
}

TEST(COutputNamer, KeptStructureRebuildsTheSourcePath) {
  TempDir tmp;
  NamingOptions options;
  options.OutputFolder = tmp / "Out";
  options.KeepSubfoldersStructure = 1;
  options.IncludingSubfolders = 1;
  COutputNamer namer(options);
  EXPECT_EQ(Base(namer, "/Photos/2005/a.jpg"), tmp / "Out/Photos/2005/a");
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "Out/Photos/2005"));
  EXPECT_EQ(namer.LastOutputDirectory(), tmp / "Out/Photos/2005");
  // A file in the root goes into the output folder itself.
  EXPECT_EQ(Base(namer, "/a.jpg"), tmp / "Out/a");
  EXPECT_EQ(namer.LastOutputDirectory(), tmp / "Out");
  // ".." in a source path cannot lead out of the output folder.
  EXPECT_EQ(Base(namer, "/../../etc/./x/../b.jpg"), tmp / "Out/etc/b");
  EXPECT_EQ(Base(namer, "/МОЯ ПАПКА/-d/c.jpg"), tmp / "Out/МОЯ ПАПКА/-d/c");
  // A source named "..jpg" keeps its name.
  EXPECT_EQ(Base(namer, "/Photos/..jpg"), tmp / "Out/Photos/.");
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "Out/МОЯ ПАПКА/-d"));

  // The structure is kept only when subfolders are included as well.
  options.IncludingSubfolders = 0;
  COutputNamer flat(options);
  EXPECT_EQ(Base(flat, "/Photos/2006/a.jpg"), tmp / "Out/a");
  EXPECT_FALSE(std::filesystem::exists(tmp / "Out/Photos/2006"));
}

TEST(COutputNamer, ThroughNumberingRunsOverTheWholeJob) {
  NamingOptions options;
  options.OutputFolder = "/out";
  options.UseRename = 1;
  options.RenamePattern = "^_*_###";
  options.RenameStartFrom = 1;
  // RenameThrough asks for numbering per folder, but without the kept
  // structure the numbering still runs through the job.
  options.RenameThrough = 1;
  options.KeepSubfoldersStructure = 1;
  options.IncludingSubfolders = 0;
  COutputNamer namer(options);
  EXPECT_EQ(Base(namer, "/src/one/a.jpg"), "/out/one_a_001");
  EXPECT_EQ(Base(namer, "/src/two/b.jpg"), "/out/two_b_002");
  EXPECT_EQ(Base(namer, "/src/one/c.jpg"), "/out/one_c_003");
  // "^" of a file in the root gives nothing.
  EXPECT_EQ(Base(namer, "/d.jpg"), "/out/_d_004");
  EXPECT_EQ(namer.ThroughNumber(), 5);
  EXPECT_TRUE(namer.FolderNumbers().empty());

  options.RenamePattern = "Image_###";
  options.RenameThrough = 0;
  COutputNamer images(options);
  for (int i = 1; i <= 4; ++i) Base(images, "/p/x.jpg");
  EXPECT_EQ(Base(images, "/p/x.jpg"), "/out/Image_005");
}

TEST(COutputNamer, PerFolderNumberingStartsAgainInEveryOutputDirectory) {
  TempDir tmp;
  NamingOptions options;
  options.OutputFolder = tmp.str() + "/";
  options.KeepSubfoldersStructure = 1;
  options.IncludingSubfolders = 1;
  options.UseRename = 1;
  options.RenameThrough = 1;
  options.RenamePattern = "^-#";
  options.RenameStartFrom = 5;
  COutputNamer namer(options);
  EXPECT_EQ(Base(namer, "/a/x.jpg"), tmp / "a/a-5");
  EXPECT_EQ(Base(namer, "/a/y.jpg"), tmp / "a/a-6");
  EXPECT_EQ(Base(namer, "/a/z.jpg"), tmp / "a/a-7");
  EXPECT_EQ(Base(namer, "/b/c/x.jpg"), tmp / "b/c/c-5");
  EXPECT_EQ(Base(namer, "/a/w.jpg"), tmp / "a/a-8");
  // "^" names the output directory's last folder: a root file goes into the
  // output folder, named after it.
  const std::string rootName = tmp.path().filename().string();
  EXPECT_EQ(Base(namer, "/r.jpg"), tmp / (rootName + "-5"));
  EXPECT_EQ(namer.FolderNumbers().at(tmp / "a"), "8");
  EXPECT_EQ(namer.FolderNumbers().at(tmp / "b/c"), "5");
  EXPECT_EQ(namer.FolderNumbers().at(tmp.str()), "5");
  // The continuous number is not used.
  EXPECT_EQ(namer.ThroughNumber(), 5);
}

TEST(COutputNamer, PerFolderNumberingWithoutOutputFolderUsesTheSourceFolder) {
  NamingOptions options;
  options.KeepSubfoldersStructure = 1;
  options.IncludingSubfolders = 1;
  options.UseRename = 1;
  options.RenameThrough = 1;
  options.RenamePattern = "##";
  options.RenameStartFrom = -1;
  // The source folders exist already (the root), so nothing is created.
  COutputNamer namer(options);
  EXPECT_EQ(Base(namer, "/x.jpg"), "/-01");
  EXPECT_EQ(Base(namer, "/y.jpg"), "/00");
  EXPECT_EQ(namer.FolderNumbers().at("/"), "0");
}

TEST(COutputNamer, UnusableNamesFailTheFileButUseUpTheNumber) {
  NamingOptions options;
  options.OutputFolder = "/out";
  options.UseRename = 1;
  options.RenameStartFrom = 1;
  options.RenamePattern = "*_" + std::string(250, 'x') + "_#";
  COutputNamer namer(options);
  std::string base = "unchanged", reason;
  EXPECT_FALSE(namer.MakeOutputBase("/p/long.jpg", base, reason));
  EXPECT_EQ(base, "unchanged");
  EXPECT_NE(reason.find("255"), std::string::npos) << reason;
  EXPECT_EQ(namer.ThroughNumber(), 2);

  options.RenamePattern = "../#";
  COutputNamer slash(options);
  EXPECT_FALSE(slash.MakeOutputBase("/p/a.jpg", base, reason));
  EXPECT_NE(reason.find("/"), std::string::npos);
  EXPECT_EQ(slash.ThroughNumber(), 2);

  // "^" alone for a file in the root gives an empty name.
  options.RenamePattern = "^";
  COutputNamer empty(options);
  EXPECT_FALSE(empty.MakeOutputBase("/a.jpg", base, reason));
  EXPECT_EQ(Base(empty, "/p/a.jpg"), "/out/p");

  // A file whose name is only an extension has no name to keep.
  NamingOptions plain;
  plain.OutputFolder = "/out";
  COutputNamer dotted(plain);
  EXPECT_FALSE(dotted.MakeOutputBase("/p/.jpg", base, reason));
}

}  // namespace
