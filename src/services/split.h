// The multi-frame split: every frame of a multi-frame GIF, TIFF or icon file
// written as a file of its own, in the source's format and with the source's
// extension (upper case kept): walk.gif gives walk_001.gif, walk_002.gif ...
// The conversion settings play no part in it.
//
// The split returns what the user is to be told in its outcome; the caller
// decides how (the desktop program shows message boxes, `lumaro --split`
// prints). The wait cursor is the one callback.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct SplitCallbacks {
  // The wait cursor: on (true) before the frames are written, off after.
  std::function<void(bool busy)> busy;
};

// What a split did.
struct SplitOutcome {
  int frameCount = 0;                // frames in the source (0 when it did not load)
  int written = 0;                   // frame files written
  std::vector<std::string> files;    // their names, in frame order
  std::string message;               // what to tell the user; empty = nothing
};

// Name of frame `number` (counted from 1): folder (with its trailing '/',
// or empty), the source's name without extension, '_', the number at least
// three digits wide, the source's extension with its dot.
std::string SplitFrameName(const std::string& folder, const std::string& name, int number,
                           const std::string& extension);

// Writes every frame of source into folder (which must exist; a '/' is
// appended when missing). Messages: a file with one frame gives string 139
// and writes nothing; otherwise string 140 with the frames written and the
// frame count. Existing frame files are replaced (through a temporary, so a
// failed write never leaves half a file). A frame that cannot be read is
// not written and not counted. The message is left in outcome.
// Returns false, without a message, when the extension has no format code
// (".cur", for instance) or the file does not load; true otherwise, also for
// a file with one frame.
bool SplitFrames(const std::string& source, const std::string& folder,
                 const SplitCallbacks& callbacks = {}, SplitOutcome* outcome = nullptr);

// The split command as the split dialog's "Разобрать" runs it.
enum class SplitRunStatus {
  NothingToDo,       // file or folder empty, or the file does not exist (no message)
  FolderNotCreated,  // message: string 145
  Failed,            // SplitFrames returned false; message: string 141
  Done,              // SplitFrames returned true
};
// A folder that is not there yet is created with its parents (one trailing
// '/' removed first); then SplitFrames runs.
SplitRunStatus RunSplit(const std::string& file, const std::string& folder,
                        const SplitCallbacks& callbacks = {}, SplitOutcome* outcome = nullptr);

// `lumaro --split FILE FOLDER`: the same on a terminal. Results (strings
// 139 and 140) go to standard output, failures to standard error. Exit code
// 0 when the file was split with every frame written or holds one frame,
// 1 when it could not be split or some frames were not written, 2 when
// FILE or FOLDER is empty.
int RunSplitCommand(const std::string& file, const std::string& folder);
