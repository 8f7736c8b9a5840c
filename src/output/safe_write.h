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
// WriteOutputFile does 2 and 3 for the output writers, with the new content
// complete on disk before the target is touched, and the backup and the
// rename under a lock on the folder, so that two jobs writing into one folder
// never replace an output without its backup.
// The target keeps its old content under its own name until step 3's rename
// replaces it in one go, so a failed or interrupted write (full disk, I/O
// error, crash) never destroys an existing file and never leaves half a file
// under a final name. The backup is made as a copy (through its own
// temporary) rather than by moving the target away, for the same reason:
// there is no moment in which the target name is missing.
//
// Temporaries: where the file system allows it a temporary has no name until
// it is complete (O_TMPFILE), so a killed job leaves none behind; elsewhere
// it is named finalPath + ".tmp" and locked (flock) while it is written, and
// an unlocked finalPath + ".tmp" found before writing finalPath is a killed
// job's leftover and is deleted.
//
// Nothing that stands under an output name is followed or opened unless it
// is a regular file: a symbolic link is backed up as a link and replaced as
// a link, a device, FIFO or socket is refused when a backup is asked for.
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
//     mode bits and times). A target that is a symbolic link is backed up as
//     a link to the same place; a device, FIFO or socket is refused.
//   A target that is a folder, or a final name "." or "..", is refused.
bool PrepareOutputFile(std::string& outputBase, const std::string& extension, bool backup,
                       std::string* reason = nullptr);

// PrepareOutputFile and WriteFileReplacing for an output writer: writes data
// to a temporary beside outputBase + extension, then, holding the folder's
// lock, prepares the target (backup) and renames the temporary over it. On
// true outputBase has extension appended; on false it is unchanged, the
// target is untouched and reason says why.
bool WriteOutputFile(std::string& outputBase, const std::string& extension, bool backup,
                     const std::vector<uint8_t>& data, std::string& reason);

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
// True when path exists, is no symbolic link and its owner write bit is clear.
bool IsReadOnly(const std::string& path);
// Adds the owner write bit (a symbolic link is left alone); true on success.
bool MakeFileNormal(const std::string& path);
