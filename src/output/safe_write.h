// Safe writing: preparing an output name with its backup, creating
// directories, and replacing files through temporaries.
//
// How a writer puts a file on disk:
//   1. encode the image into memory;
//   2. PrepareOutputFile(outputBase, ".jpg", backup): clears a read-only
//      target and, with backup on, copies the existing target to
//      outputBase + ".bak"; on true outputBase is the final file name;
//   3. WriteFileReplacing(outputBase, data, reason): writes the bytes to a
//      temporary file beside the target, flushes it to disk and renames it
//      over the target.
// The target keeps its old content under its own name until step 3's rename
// replaces it in one go, so a failed or interrupted write (full disk, I/O
// error, crash) never destroys an existing file and never leaves half a file
// under a final name. The backup is made as a copy (through its own
// temporary) rather than by moving the target away, for the same reason:
// there is no moment in which the target name is missing.
//
// Read-only means the owner write bit is clear; making a file normal adds the
// owner write bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Prepares output file outputBase + extension for writing. Returns true when
// the file may be written, and then has appended extension to outputBase; on
// false outputBase is unchanged and reason (when given) says why.
//   backup false: an existing read-only target is made normal.
//   backup true, target exists: target and an existing backup
//     (outputBase + ".bak", shared by all extensions) are made normal when
//     read-only, then the target is copied over the backup name (keeping its
//     mode bits and times).
bool PrepareOutputFile(std::string& outputBase, const std::string& extension, bool backup,
                       std::string* reason = nullptr);

// Creates path and its missing parents (default permissions, less the umask).
// Returns true only when the last directory was created by this call, or when
// path is "" or "/"; false when it already existed or could not be made.
bool CreateDirectoryTree(const std::string& path);

// Writes data to a temporary file in the folder of finalPath (finalPath +
// ".tmp", or another unused name ending in ".tmp" when that one exists or
// would be too long), flushes it with fsync and renames it over finalPath.
// On failure the temporary is removed, an existing finalPath is untouched
// and reason tells why (such as "No space left on device").
bool WriteFileReplacing(const std::string& finalPath, const std::vector<uint8_t>& data,
                        std::string& reason);
bool WriteFileReplacing(const std::string& finalPath, const void* data, size_t size,
                        std::string& reason);

// Replaces finalPath by the already written file tmpPath (normally
// finalPath + ".tmp"), keeping finalPath's mode bits. On failure finalPath is
// untouched and tmpPath is removed.
bool ReplaceFileWithTemp(const std::string& tmpPath, const std::string& finalPath);

// Moves from to to, replacing an existing to: rename(2), or across file
// systems a copy that is flushed to disk and renamed into place, after which
// from is removed.
bool MoveFileReplacing(const std::string& from, const std::string& to,
                       std::string* reason = nullptr);

// True when path exists (a dangling symbolic link does not).
bool FileExists(const std::string& path);
// True when path exists and its owner write bit is clear.
bool IsReadOnly(const std::string& path);
// Adds the owner write bit; true on success.
bool MakeFileNormal(const std::string& path);
