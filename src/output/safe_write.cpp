#include "output/safe_write.h"

#include <fcntl.h>
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

// Creates a new, empty temporary file beside finalPath whose name ends in
// ".tmp": finalPath + ".tmp" when that is free and short enough, otherwise a
// name with a random part. The file is made with mode 0666 less the umask.
int CreateTempBeside(const std::string& finalPath, std::string& tmpPath, int& error) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  tmpPath = finalPath + ".tmp";
  int fd = ::open(tmpPath.c_str(), flags, 0666);
  if (fd >= 0) return fd;
  error = errno;
  if (error != EEXIST && error != ENAMETOOLONG) return -1;

  const std::string directory = DirectoryOf(finalPath);
  std::string stem = LastComponent(finalPath);
  if (stem.size() > 200) stem.resize(200);
  std::random_device rd;
  std::mt19937_64 rng((uint64_t(rd()) << 32) ^ rd());
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    uint64_t r = rng();
    for (int i = 0; i < 8; ++i, r /= 36) suffix.push_back(kDigits[r % 36]);
    tmpPath = (directory == "/" ? std::string("/") : directory + "/") + stem + "." + suffix + ".tmp";
    fd = ::open(tmpPath.c_str(), flags, 0666);
    if (fd >= 0) return fd;
    error = errno;
    if (error != EEXIST) return -1;
  }
  return -1;
}

// Copies the content, mode bits and times of source into a new temporary
// beside target, flushes it and renames it over target.
bool CopyFileReplacing(const std::string& source, const std::string& target,
                       std::string* reason) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
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
  std::string tmpPath;
  int error = 0;
  int out = CreateTempBeside(target, tmpPath, error);
  if (out < 0) {
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
    if (!WriteAll(out, buffer.data(), size_t(n), error)) {
      ok = false;
      break;
    }
  }
  ::close(in);
  if (ok) {
    ::fchmod(out, st.st_mode & 07777);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
    if (::fsync(out) != 0) {
      error = errno;
      ok = false;
    }
  }
  if (::close(out) != 0 && ok) {
    error = errno;
    ok = false;
  }
  if (ok && ::rename(tmpPath.c_str(), target.c_str()) != 0) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());
    SetReason(reason, "cannot copy " + source + " to " + target + ": " + ErrorText(error));
    return false;
  }
  SyncDirectory(DirectoryOf(target));
  return true;
}

}  // namespace

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool IsReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & S_IWUSR) == 0;
}

bool MakeFileNormal(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (st.st_mode & S_IWUSR) return true;
  return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool PrepareOutputFile(std::string& outputBase, const std::string& extension, bool backup,
                       std::string* reason) {
  const std::string target = outputBase + extension;
  if (!backup) {
    if (FileExists(target) && IsReadOnly(target) && !MakeFileNormal(target)) {
      SetReason(reason, "cannot make " + target + " writable: " + ErrorText(errno));
      return false;
    }
    outputBase = target;
    return true;
  }
  if (!FileExists(target)) {
    outputBase = target;
    return true;
  }
  const std::string backupPath = outputBase + ".bak";
  if (IsReadOnly(target) && !MakeFileNormal(target)) {
    SetReason(reason, "cannot make " + target + " writable: " + ErrorText(errno));
    return false;
  }
  if (FileExists(backupPath) && IsReadOnly(backupPath) && !MakeFileNormal(backupPath)) {
    SetReason(reason, "cannot make " + backupPath + " writable: " + ErrorText(errno));
    return false;
  }
  // The backup is a copy: the target keeps its content under its own name
  // until the new file is renamed over it.
  if (!CopyFileReplacing(target, backupPath, reason)) return false;
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
  std::string tmpPath;
  int error = 0;
  int fd = CreateTempBeside(finalPath, tmpPath, error);
  if (fd < 0) {
    reason = ErrorText(error);
    return false;
  }
  bool ok = WriteAll(fd, static_cast<const uint8_t*>(data), size, error);
  if (ok && ::fsync(fd) != 0) {
    error = errno;
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = errno;
    ok = false;
  }
  if (ok && ::rename(tmpPath.c_str(), finalPath.c_str()) != 0) {
    error = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(tmpPath.c_str());
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
