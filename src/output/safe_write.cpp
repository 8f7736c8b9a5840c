#include "output/safe_write.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

std::string ErrorText(int error) { return std::strerror(error); }

void SetReason(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Flushes a folder's entries, so that a rename in it survives a crash.
// Failures are of no consequence to the caller.
void SyncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool WriteAll(int fd, const uint8_t* data, size_t size, int& error) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    data += n;
    size -= size_t(n);
  }
  return true;
}

// A temporary file being written beside its target. Where the file system
// allows it, the file has no name at all (O_TMPFILE) until it is complete, so
// a killed job leaves nothing behind. Otherwise it is named finalPath +
// ".tmp" (or another unused name ending in ".tmp") and holds an exclusive
// flock while it is ours: a named temporary without a lock is a killed job's
// leftover, which RemoveStaleTemporary deletes.
struct TempFile {
  int fd = -1;
  std::string path;  // empty while the file has no name
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
  }
};

// A name for a temporary beside finalPath: attempt 0 is finalPath + ".tmp"
// (when short enough), later attempts have a random part.
std::string TempName(const std::string& finalPath, int attempt, std::mt19937_64& rng) {
  std::string stem = LastComponent(finalPath);
  if (attempt == 0 && stem.size() + 4 <= 255) return finalPath + ".tmp";
  if (stem.size() > 200) stem.resize(200);
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string suffix;
  uint64_t r = rng();
  for (int i = 0; i < 8; ++i, r /= 36) suffix.push_back(kDigits[r % 36]);
  const std::string directory = DirectoryOf(finalPath);
  return (directory == "/" ? std::string("/") : directory + "/") + stem + "." + suffix + ".tmp";
}

std::mt19937_64 MakeRng() {
  std::random_device rd;
  return std::mt19937_64((uint64_t(rd()) << 32) ^ rd());
}

// Creates the temporary for finalPath, mode 0666 less the umask.
bool CreateTemp(const std::string& finalPath, TempFile& tmp, int& error) {
  static const bool haveProc = ::access("/proc/self/fd", X_OK) == 0;
  if (haveProc) {
    tmp.fd = ::open(DirectoryOf(finalPath).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (tmp.fd >= 0) {
      ::flock(tmp.fd, LOCK_EX | LOCK_NB);  // held when it gets a name
      return true;
    }
  }
  std::mt19937_64 rng = MakeRng();
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = TempName(finalPath, attempt, rng);
    tmp.fd = ::open(path.c_str(), flags, 0666);
    if (tmp.fd >= 0) {
      tmp.path = path;
      ::flock(tmp.fd, LOCK_EX | LOCK_NB);
      return true;
    }
    error = errno;
    if (error != EEXIST && error != ENAMETOOLONG) return false;
  }
  return false;
}

// Puts the complete temporary in place of finalPath (rename(2) replaces an
// existing entry in one step, whatever it is, without opening it).
bool CommitTemp(TempFile& tmp, const std::string& finalPath, int& error) {
  if (tmp.path.empty()) {
    // Give the file a name, then rename it into place: linkat cannot replace.
    const std::string self = "/proc/self/fd/" + std::to_string(tmp.fd);
    std::mt19937_64 rng = MakeRng();
    for (int attempt = 0; attempt < 100 && tmp.path.empty(); ++attempt) {
      std::string path = TempName(finalPath, attempt, rng);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        tmp.path = path;
        break;
      }
      error = errno;
      if (error != EEXIST && error != ENAMETOOLONG) return false;
    }
    if (tmp.path.empty()) return false;
  }
  if (::rename(tmp.path.c_str(), finalPath.c_str()) != 0) {
    error = errno;
    return false;
  }
  tmp.path.clear();
  return true;
}

// Deletes finalPath + ".tmp" when it is a regular file that no live writer
// holds (a killed job's leftover); a temporary that another job is writing
// right now keeps its lock and stays.
void RemoveStaleTemporary(const std::string& finalPath) {
  const std::string path = finalPath + ".tmp";
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat held {}, named {};
  if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
      named.st_ino == held.st_ino)
    ::unlink(path.c_str());
  ::close(fd);
}

// Holds an exclusive flock on a folder while a target in it is backed up and
// replaced, so that jobs writing into one folder at the same time cannot
// replace an output between another job's backup and its rename. A folder
// that cannot be locked (some network file systems) is used without.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

// Copies the content, mode bits and times of the regular file source into a
// new temporary beside target, flushes it and renames it over target. A
// source that is anything but a regular file (a link, a device, a FIFO) is
// refused without being read: it is opened without following links and
// without blocking.
bool CopyFileReplacing(const std::string& source, const std::string& target,
                       std::string* reason) {
  int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (in < 0) {
    SetReason(reason, "cannot read " + source + ": " + ErrorText(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    int e = errno;
    ::close(in);
    SetReason(reason, "cannot read " + source + ": " + ErrorText(e));
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(in);
    SetReason(reason, source + " is not a regular file");
    return false;
  }
  RemoveStaleTemporary(target);
  TempFile tmp;
  int error = 0;
  if (!CreateTemp(target, tmp, error)) {
    ::close(in);
    SetReason(reason, "cannot create a temporary file beside " + target + ": " + ErrorText(error));
    return false;
  }
  bool ok = true;
  std::vector<uint8_t> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(tmp.fd, buffer.data(), size_t(n), error)) {
      ok = false;
      break;
    }
  }
  ::close(in);
  if (ok) {
    ::fchmod(tmp.fd, st.st_mode & 07777);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(tmp.fd, times);
    if (::fsync(tmp.fd) != 0) {
      error = errno;
      ok = false;
    }
  }
  if (ok && !CommitTemp(tmp, target, error)) ok = false;
  if (!ok) {
    SetReason(reason, "cannot copy " + source + " to " + target + ": " + ErrorText(error));
    return false;
  }
  SyncDirectory(DirectoryOf(target));
  return true;
}

// Backs up a symbolic link as a link: backup becomes a link with the same
// content. What it points to is never read.
bool CopyLinkReplacing(const std::string& link, const std::string& backup, std::string* reason) {
  std::vector<char> text(4096);
  ssize_t n = ::readlink(link.c_str(), text.data(), text.size());
  if (n < 0 || size_t(n) >= text.size()) {
    SetReason(reason, "cannot read the link " + link + ": " + ErrorText(n < 0 ? errno : ENAMETOOLONG));
    return false;
  }
  const std::string target(text.data(), size_t(n));
  std::mt19937_64 rng = MakeRng();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string tmp = TempName(backup, attempt + 1, rng);
    if (::symlink(target.c_str(), tmp.c_str()) != 0) {
      if (errno == EEXIST) continue;
      SetReason(reason, "cannot back up the link " + link + ": " + ErrorText(errno));
      return false;
    }
    if (::rename(tmp.c_str(), backup.c_str()) != 0) {
      int e = errno;
      ::unlink(tmp.c_str());
      SetReason(reason, "cannot back up the link " + link + ": " + ErrorText(e));
      return false;
    }
    return true;
  }
  SetReason(reason, "cannot back up the link " + link + ": " + ErrorText(EEXIST));
  return false;
}

// The final name of an output must be a proper file name.
bool CheckFinalName(const std::string& target, std::string* reason) {
  const std::string last = LastComponent(target);
  if (last.empty() || last == "." || last == "..") {
    SetReason(reason, "\"" + last + "\" cannot be used as a file name");
    return false;
  }
  return true;
}

// Makes target writable when it is a read-only regular file; a link is
// left alone (the rename replaces the link, never what it points to).
bool MakeTargetNormal(const std::string& target, const struct stat& st, std::string* reason) {
  if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) != 0) return true;
  if (::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0) return true;
  SetReason(reason, "cannot make " + target + " writable: " + ErrorText(errno));
  return false;
}

// The target side of PrepareOutputFile, for target = outputBase + extension.
bool PrepareTarget(const std::string& outputBase, const std::string& target, bool backup,
                   std::string* reason) {
  if (!CheckFinalName(target, reason)) return false;
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;  // nothing to keep
    SetReason(reason, "cannot examine " + target + ": " + ErrorText(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    SetReason(reason, target + " is a folder");
    return false;
  }
  if (!backup) return MakeTargetNormal(target, st, reason);

  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    // A device, FIFO or socket is never opened: reading it could block
    // forever or never end.
    SetReason(reason, target + " is not a regular file (a device, pipe or socket); it is not "
                               "backed up or replaced");
    return false;
  }
  const std::string backupPath = outputBase + ".bak";
  if (!MakeTargetNormal(target, st, reason)) return false;
  struct stat old {};
  if (::lstat(backupPath.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) {
      SetReason(reason, backupPath + " is a folder");
      return false;
    }
    if (!MakeTargetNormal(backupPath, old, reason)) return false;
  }
  // The backup is a copy: the target keeps its content under its own name
  // until the new file is renamed over it.
  if (S_ISLNK(st.st_mode)) return CopyLinkReplacing(target, backupPath, reason);
  return CopyFileReplacing(target, backupPath, reason);
}

}  // namespace

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool IsReadOnly(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  return (st.st_mode & S_IWUSR) == 0;
}

bool MakeFileNormal(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) return true;  // a link has no mode of its own
  if (st.st_mode & S_IWUSR) return true;
  return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool PrepareOutputFile(std::string& outputBase, const std::string& extension, bool backup,
                       std::string* reason) {
  const std::string target = outputBase + extension;
  FolderLock lock(DirectoryOf(target));
  if (!PrepareTarget(outputBase, target, backup, reason)) return false;
  outputBase = target;
  return true;
}

bool WriteOutputFile(std::string& outputBase, const std::string& extension, bool backup,
                     const std::vector<uint8_t>& data, std::string& reason) {
  const std::string target = outputBase + extension;
  if (!CheckFinalName(target, &reason)) return false;
  // The new content is complete on disk before the target is touched.
  RemoveStaleTemporary(target);
  TempFile tmp;
  int error = 0;
  if (!CreateTemp(target, tmp, error)) {
    reason = ErrorText(error);
    return false;
  }
  if (!WriteAll(tmp.fd, data.data(), data.size(), error) || ::fsync(tmp.fd) != 0) {
    reason = ErrorText(error ? error : errno);
    return false;
  }
  {
    // Backup and replacement in one step as far as other jobs are
    // concerned: no job replaces the target between them.
    FolderLock lock(DirectoryOf(target));
    if (!PrepareTarget(outputBase, target, backup, &reason)) return false;
    if (!CommitTemp(tmp, target, error)) {
      reason = ErrorText(error);
      return false;
    }
  }
  SyncDirectory(DirectoryOf(target));
  outputBase = target;
  return true;
}

bool CreateDirectoryTree(const std::string& path) {
  if (path.empty() || path == "/") return true;
  // Every prefix that ends before a "/" is tried; failures are expected
  // (existing folders, the empty prefix of an absolute path) and ignored.
  for (size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash == 0) continue;
    ::mkdir(path.substr(0, slash).c_str(), 0777);
  }
  return ::mkdir(path.c_str(), 0777) == 0;
}

bool WriteFileReplacing(const std::string& finalPath, const void* data, size_t size,
                        std::string& reason) {
  RemoveStaleTemporary(finalPath);
  TempFile tmp;
  int error = 0;
  if (!CreateTemp(finalPath, tmp, error)) {
    reason = ErrorText(error);
    return false;
  }
  bool ok = WriteAll(tmp.fd, static_cast<const uint8_t*>(data), size, error);
  if (ok && ::fsync(tmp.fd) != 0) {
    error = errno;
    ok = false;
  }
  if (ok && !CommitTemp(tmp, finalPath, error)) ok = false;
  if (!ok) {
    reason = ErrorText(error);
    return false;
  }
  SyncDirectory(DirectoryOf(finalPath));
  return true;
}

bool WriteFileReplacing(const std::string& finalPath, const std::vector<uint8_t>& data,
                        std::string& reason) {
  return WriteFileReplacing(finalPath, data.data(), data.size(), reason);
}

bool ReplaceFileWithTemp(const std::string& tmpPath, const std::string& finalPath) {
  struct stat st {};
  const bool hadFinal = ::stat(finalPath.c_str(), &st) == 0;
  // rename(2) replaces the final name in one step; the final file is never
  // deleted first, so there is no moment without it.
  if (!MoveFileReplacing(tmpPath, finalPath)) {
    ::unlink(tmpPath.c_str());
    return false;
  }
  if (hadFinal) ::chmod(finalPath.c_str(), st.st_mode & 07777);
  return true;
}

bool MoveFileReplacing(const std::string& from, const std::string& to, std::string* reason) {
  if (::rename(from.c_str(), to.c_str()) == 0) {
    SyncDirectory(DirectoryOf(to));
    return true;
  }
  int error = errno;
  if (error != EXDEV) {
    SetReason(reason, "cannot move " + from + " to " + to + ": " + ErrorText(error));
    return false;
  }
  if (!CopyFileReplacing(from, to, reason)) return false;
  ::unlink(from.c_str());
  return true;
}
