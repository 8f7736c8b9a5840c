#include "output/safe_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// Files in a folder other than the given ones, such as stray temporaries.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// What a writer does: prepare, then write the new content.
bool WriteOutput(const std::string& base, const std::string& ext, bool backup,
                 const std::string& content) {
  std::string path = base, reason;
  if (!PrepareOutputFile(path, ext, backup, &reason)) return false;
  EXPECT_EQ(path, base + ext);
  return WriteFileReplacing(path, content.data(), content.size(), reason);
}

TEST(PrepareOutputFile, BackupKeepsThePreviousOutputOverTwoRuns) {
  TempDir tmp;
  const std::string base = tmp / "a";
  WriteFileText(base + ".jpg", "original");
  ASSERT_TRUE(WriteOutput(base, ".jpg", true, "run 1"));
  EXPECT_EQ(ReadFileText(base + ".jpg"), "run 1");
  EXPECT_EQ(ReadFileText(base + ".bak"), "original");
  ASSERT_TRUE(WriteOutput(base, ".jpg", true, "run 2"));
  EXPECT_EQ(ReadFileText(base + ".jpg"), "run 2");
  EXPECT_EQ(ReadFileText(base + ".bak"), "run 1");
  EXPECT_EQ(Listing(tmp.str()), (std::vector<std::string>{"a.bak", "a.jpg"}));
}

TEST(PrepareOutputFile, NoBackupWithoutTargetOrWithBackupOff) {
  TempDir tmp;
  const std::string base = tmp / "b";
  std::string path = base;
  ASSERT_TRUE(PrepareOutputFile(path, ".png", true));
  EXPECT_EQ(path, base + ".png");
  EXPECT_FALSE(FileExists(base + ".bak"));

  WriteFileText(base + ".png", "old");
  ASSERT_TRUE(WriteOutput(base, ".png", false, "new"));
  EXPECT_EQ(ReadFileText(base + ".png"), "new");
  EXPECT_EQ(Listing(tmp.str()), std::vector<std::string>{"b.png"});
}

TEST(PrepareOutputFile, ExtensionsShareOneBackupName) {
  TempDir tmp;
  const std::string base = tmp / "a";
  WriteFileText(base + ".jpg", "jpg 0");
  WriteFileText(base + ".png", "png 0");
  ASSERT_TRUE(WriteOutput(base, ".jpg", true, "jpg 1"));
  ASSERT_TRUE(WriteOutput(base, ".png", true, "png 1"));
  EXPECT_EQ(ReadFileText(base + ".bak"), "png 0");  // prepared last wins
  ASSERT_TRUE(WriteOutput(base, ".png", true, "png 2"));
  ASSERT_TRUE(WriteOutput(base, ".jpg", true, "jpg 2"));
  EXPECT_EQ(ReadFileText(base + ".bak"), "jpg 1");
  EXPECT_EQ(ReadFileText(base + ".png"), "png 2");
  EXPECT_EQ(ReadFileText(base + ".jpg"), "jpg 2");
}

TEST(PrepareOutputFile, ReadOnlyTargetsAndBackups) {
  TempDir tmp;
  const std::string base = tmp / "r";
  // Backup off: a read-only target is made writable and overwritten.
  WriteFileText(base + ".jpg", "locked");
  MakeReadOnly(base + ".jpg");
  ASSERT_TRUE(IsReadOnly(base + ".jpg"));
  std::string path = base;
  ASSERT_TRUE(PrepareOutputFile(path, ".jpg", false));
  EXPECT_FALSE(IsReadOnly(base + ".jpg"));
  ASSERT_TRUE(WriteOutput(base, ".jpg", false, "replaced"));
  EXPECT_EQ(ReadFileText(base + ".jpg"), "replaced");

  // Backup on: a read-only target and a read-only backup are both replaced;
  // the backup carries the target's content and is left writable.
  MakeReadOnly(base + ".jpg");
  WriteFileText(base + ".bak", "older backup");
  MakeReadOnly(base + ".bak");
  ASSERT_TRUE(WriteOutput(base, ".jpg", true, "newest"));
  EXPECT_EQ(ReadFileText(base + ".jpg"), "newest");
  EXPECT_EQ(ReadFileText(base + ".bak"), "replaced");
  EXPECT_FALSE(IsReadOnly(base + ".bak"));
}

TEST(PrepareOutputFile, BackupKeepsModeAndTimes) {
  TempDir tmp;
  const std::string base = tmp / "t";
  WriteFileText(base + ".gif", "content");
  ASSERT_EQ(chmod((base + ".gif").c_str(), 0640), 0);
  struct timespec times[2] = {{1000000000, 0}, {1100000000, 5000}};
  ASSERT_EQ(utimensat(AT_FDCWD, (base + ".gif").c_str(), times, 0), 0);
  std::string path = base;
  ASSERT_TRUE(PrepareOutputFile(path, ".gif", true));
  struct stat st {};
  ASSERT_EQ(stat((base + ".bak").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
  // The target itself is still there until the new content replaces it.
  EXPECT_EQ(ReadFileText(base + ".gif"), "content");
}

TEST(PrepareOutputFile, FailureLeavesBaseAndFilesAlone) {
  TempDir tmp;
  const std::string base = tmp / "d";
  WriteFileText(base + ".jpg", "keep me");
  // A folder in the way of the backup name: the copy cannot be renamed there.
  fs::create_directory(base + ".bak");
  std::string path = base, reason;
  EXPECT_FALSE(PrepareOutputFile(path, ".jpg", true, &reason));
  EXPECT_EQ(path, base);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(ReadFileText(base + ".jpg"), "keep me");
  EXPECT_EQ(Listing(tmp.str()), (std::vector<std::string>{"d.bak", "d.jpg"}));
}

TEST(PrepareOutputFile, LinksDevicesAndPipesAreNeverReadThrough) {
  TempDir tmp;
  const std::string base = tmp / "a";
  std::string reason;
  auto write = [&](bool backup, const std::string& content) {
    std::string path = base;
    std::vector<uint8_t> data(content.begin(), content.end());
    return WriteOutputFile(path, ".jpg", backup, data, reason);
  };
  // A link to a device: never read (it would fill the disk).
  fs::create_symlink("/dev/zero", base + ".jpg");
  // A link is backed up as the link (written in a child that must not hang).
  EXPECT_TRUE(testing_support::FinishesWithin(20, [&] { return write(true, "new"); }));
  EXPECT_EQ(fs::read_symlink(base + ".bak"), "/dev/zero");
  EXPECT_EQ(ReadFileText(base + ".jpg"), "new");
  EXPECT_FALSE(fs::is_symlink(base + ".jpg"));

  // A link to a file outside the folder: its content never reaches a.bak,
  // and the file itself is left alone (also its mode, backups off).
  TempDir outside;
  WriteFileText(outside / "secret", "private");
  ASSERT_EQ(chmod((outside / "secret").c_str(), 0400), 0);
  fs::remove(base + ".jpg");
  fs::create_symlink(outside / "secret", base + ".jpg");
  ASSERT_TRUE(write(true, "second")) << reason;
  EXPECT_EQ(fs::read_symlink(base + ".bak"), outside / "secret");
  EXPECT_EQ(ReadFileText(outside / "secret"), "private");
  fs::remove(base + ".jpg");
  fs::create_symlink(outside / "secret", base + ".jpg");
  ASSERT_TRUE(write(false, "third")) << reason;
  EXPECT_EQ(ReadFileText(base + ".jpg"), "third");
  struct stat st {};
  ASSERT_EQ(stat((outside / "secret").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0400u);

  // A FIFO in the way: refused with backups on (never opened), replaced
  // with backups off.
  fs::remove(base + ".jpg");
  ASSERT_EQ(mkfifo((base + ".jpg").c_str(), 0644), 0);
  EXPECT_TRUE(testing_support::FinishesWithin(20, [&] { return !write(true, "x"); }));
  EXPECT_FALSE(write(true, "x"));
  EXPECT_NE(reason.find("not a regular file"), std::string::npos) << reason;
  EXPECT_TRUE(fs::is_fifo(base + ".jpg"));
  ASSERT_TRUE(write(false, "fourth")) << reason;
  EXPECT_EQ(ReadFileText(base + ".jpg"), "fourth");
  EXPECT_EQ(Listing(tmp.str()), (std::vector<std::string>{"a.bak", "a.jpg"}));

  // An output named "." is no file.
  std::string dot = tmp / "", why;
  EXPECT_FALSE(PrepareOutputFile(dot, ".", true, &why));
}

TEST(WriteOutputFile, TwoJobsInOneFolderNeverReplaceWithoutBackup) {
  TempDir tmp;
  // Two writers put the same 200 names into an empty folder at once: the
  // second output of every name must find the first and back it up.
  auto job = [&](char who) {
    for (int i = 0; i < 200; ++i) {
      std::string path = tmp / ("n" + std::to_string(i)), reason;
      std::vector<uint8_t> data{uint8_t(who), uint8_t(i)};
      EXPECT_TRUE(WriteOutputFile(path, ".jpg", true, data, reason)) << reason;
    }
  };
  std::thread a(job, 'a'), b(job, 'b');
  a.join();
  b.join();
  for (int i = 0; i < 200; ++i) {
    const std::string base = tmp / ("n" + std::to_string(i));
    ASSERT_TRUE(FileExists(base + ".bak")) << base;
    EXPECT_NE(ReadFileText(base + ".bak"), ReadFileText(base + ".jpg")) << base;
  }
  EXPECT_EQ(Listing(tmp.str()).size(), 400u);
}

TEST(CreateDirectoryTree, CreatesMissingLevels) {
  TempDir tmp;
  EXPECT_TRUE(CreateDirectoryTree(""));
  EXPECT_TRUE(CreateDirectoryTree("/"));
  const std::string deep = tmp / "one/two/Три со пробелами/-four";
  EXPECT_TRUE(CreateDirectoryTree(deep));
  EXPECT_TRUE(fs::is_directory(deep));
  // An existing folder: false, nothing changes.
  EXPECT_FALSE(CreateDirectoryTree(deep));
  EXPECT_FALSE(CreateDirectoryTree(tmp.str()));
  EXPECT_TRUE(fs::is_empty(deep));
  // A parent that is a file: the last level cannot be made.
  WriteFileText(tmp / "file", "x");
  EXPECT_FALSE(CreateDirectoryTree(tmp / "file/sub/leaf"));
  EXPECT_FALSE(fs::exists(tmp / "file/sub"));
  // A relative path is created below the current folder.
  const fs::path saved = fs::current_path();
  fs::current_path(tmp.path());
  EXPECT_TRUE(CreateDirectoryTree("rel/a/b"));
  fs::current_path(saved);
  EXPECT_TRUE(fs::is_directory(tmp / "rel/a/b"));
}

TEST(WriteFileReplacing, WritesThroughATemporary) {
  TempDir tmp;
  const std::string target = tmp / "out.png";
  std::string reason;
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  ASSERT_TRUE(WriteFileReplacing(target, data, reason)) << reason;
  EXPECT_EQ(testing_support::ReadFileBytes(target), data);
  // The temporary that a killed job left behind is removed; one that a
  // running job holds (locked) is not touched.
  WriteFileText(target + ".tmp", "stale");
  ASSERT_TRUE(WriteFileReplacing(target, std::vector<uint8_t>{1, 2, 3}, reason)) << reason;
  EXPECT_EQ(testing_support::ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Listing(tmp.str()), (std::vector<std::string>{"out.png"}));
  WriteFileText(target + ".tmp", "in use");
  int held = open((target + ".tmp").c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  ASSERT_TRUE(WriteFileReplacing(target, std::vector<uint8_t>{4}, reason)) << reason;
  close(held);
  EXPECT_EQ(ReadFileText(target + ".tmp"), "in use");
  EXPECT_EQ(Listing(tmp.str()), (std::vector<std::string>{"out.png", "out.png.tmp"}));
  fs::remove(target + ".tmp");
  // Names near the length limit get a shorter temporary.
  const std::string longName = tmp / (std::string(251, 'n') + ".jpg");
  ASSERT_TRUE(WriteFileReplacing(longName, std::vector<uint8_t>{9}, reason)) << reason;
  EXPECT_EQ(testing_support::ReadFileBytes(longName), std::vector<uint8_t>{9});
  EXPECT_EQ(Listing(tmp.str()).size(), 2u);
}

TEST(WriteFileReplacing, FailuresKeepTheOldFile) {
  TempDir tmp;
  std::string reason;
  // The folder does not exist (its "parent" is a file).
  WriteFileText(tmp / "plain", "x");
  EXPECT_FALSE(WriteFileReplacing(tmp / "plain/out.jpg", std::vector<uint8_t>{1}, reason));
  EXPECT_EQ(reason, "Not a directory");
  // The target is a folder: the rename fails, the temporary is removed.
  fs::create_directory(tmp / "dir.jpg");
  WriteFileText(tmp / "dir.jpg/inside", "x");
  EXPECT_FALSE(WriteFileReplacing(tmp / "dir.jpg", std::vector<uint8_t>{1}, reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(fs::is_directory(tmp / "dir.jpg"));
  EXPECT_EQ(Listing(tmp.str()), (std::vector<std::string>{"dir.jpg", "plain"}));
}

// A tiny file system of its own, mounted for the test when this process may
// mount (the tests run as root); skipped otherwise.
class TinyFileSystem {
 public:
  explicit TinyFileSystem(const std::string& dir) : dir_(dir) {
    fs::create_directory(dir_);
    mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~TinyFileSystem() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

TEST(WriteFileReplacing, FullFileSystemKeepsTheOldFile) {
  TempDir tmp;
  TinyFileSystem small(tmp / "small");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string base = tmp / "small/photo";
  const std::string old(40 * 1024, 'o');
  WriteFileText(base + ".jpg", old);
  ASSERT_EQ(ReadFileText(base + ".jpg"), old);

  std::string reason;
  std::vector<uint8_t> big(40 * 1024, 'n');
  EXPECT_FALSE(WriteFileReplacing(base + ".jpg", big, reason));
  EXPECT_EQ(reason, "No space left on device");
  EXPECT_EQ(ReadFileText(base + ".jpg"), old);
  EXPECT_EQ(Listing(tmp / "small"), std::vector<std::string>{"photo.jpg"});

  // With backup on, the backup copy itself does not fit: the preparation
  // fails and nothing changes.
  std::string path = base;
  EXPECT_FALSE(PrepareOutputFile(path, ".jpg", true, &reason));
  EXPECT_EQ(path, base);
  EXPECT_NE(reason.find("No space left on device"), std::string::npos) << reason;
  EXPECT_EQ(ReadFileText(base + ".jpg"), old);
  EXPECT_EQ(Listing(tmp / "small"), std::vector<std::string>{"photo.jpg"});

  // Moving a file out of the small file system copies it across.
  ASSERT_TRUE(MoveFileReplacing(base + ".jpg", tmp / "moved.jpg", &reason)) << reason;
  EXPECT_EQ(ReadFileText(tmp / "moved.jpg"), old);
  EXPECT_FALSE(FileExists(base + ".jpg"));
}

TEST(ReplaceFileWithTemp, KeepsTheModeOfTheFinalFile) {
  TempDir tmp;
  const std::string target = tmp / "m.jpg";
  WriteFileText(target, "written");
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  WriteFileText(target + ".tmp", "rewritten");
  ASSERT_EQ(chmod((target + ".tmp").c_str(), 0600), 0);
  ASSERT_TRUE(ReplaceFileWithTemp(target + ".tmp", target));
  EXPECT_EQ(ReadFileText(target), "rewritten");
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_FALSE(FileExists(target + ".tmp"));

  // A missing temporary: false, the final file stays.
  EXPECT_FALSE(ReplaceFileWithTemp(target + ".tmp", target));
  EXPECT_EQ(ReadFileText(target), "rewritten");
}

TEST(FileAttributes, ReadOnlyMeansNoOwnerWriteBit) {
  TempDir tmp;
  const std::string file = tmp / "f";
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(IsReadOnly(file));
  EXPECT_FALSE(MakeFileNormal(file));
  WriteFileText(file, "x");
  ASSERT_EQ(chmod(file.c_str(), 0244), 0);  // others may not write, owner may
  EXPECT_FALSE(IsReadOnly(file));
  ASSERT_EQ(chmod(file.c_str(), 0466), 0);
  EXPECT_TRUE(IsReadOnly(file));
  EXPECT_TRUE(MakeFileNormal(file));
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  // A dangling symbolic link does not count as an existing file.
  fs::create_symlink(tmp / "nowhere", tmp / "link");
  EXPECT_FALSE(FileExists(tmp / "link"));
}

}  // namespace
