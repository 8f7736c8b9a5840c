// Starting a conversion job: the checks, the output folder, the collection
// of files from the list's files and folders, and the worker thread.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "engine/worker.h"

class CSettings;
class IConversionHost;

// Files of the list's entries, as the job converts them: a file entry as it
// is, a folder's supported files (with its subfolders when asked), entries
// that no longer exist left out; then sorted by full path without regard
// to case. Symbolic links to folders are followed once: a link leading back
// up the tree is not entered again. With keepMissing, entries that do not
// exist are kept as files (the worker counts them as failures).
std::vector<std::string> CollectJobFiles(const std::vector<std::string>& entries,
                                         bool includingSubfolders, bool keepMissing = false);

// Compares two paths without regard to case (Latin and Cyrillic letters).
int ComparePathsNoCase(const std::string& a, const std::string& b);

enum class JobStartResult {
  Started,        // the worker runs
  Declined,       // the user answered No to a question
  FolderFailed,   // the output folder could not be created (string 145 shown)
  Busy,           // the previous job has not ended yet
};

// Runs the Convert command: asks about a rename without pattern and about
// an empty output folder, resets the events, creates a missing output
// folder, fills the job and starts the worker on its own thread. The
// thread is handed back in worker (joinable) when the result is Started.
JobStartResult StartConversion(CConversionJob& job, CSettings& settings,
                               const std::vector<std::string>& entries, IConversionHost& host,
                               CFilterList* filters, std::thread& worker);

// True while a started job has not signalled "eventDone1".
bool ConversionRunning();
