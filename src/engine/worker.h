// The conversion worker: takes every file of a job through the fixed
// pipeline (name, metadata, load, orientation and tone, resize, watermark,
// filters, save), counts the outcomes and reports them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugins/filter_entry.h"

class CSettings;
class IConversionHost;
class CManualResetEvent;

// What happened to one file of the job, as a report tells it.
struct FileResult {
  enum class Status { Converted, Failed, Skipped };
  std::string source;
  std::string output;  // the file written (or kept, or meant); "" when no name was made
  Status status = Status::Failed;
  std::string reason;               // why it failed
  int widthIn = 0, heightIn = 0;    // stored size of the source; 0 when not loaded
  int widthOut = 0, heightOut = 0;  // size of the picture written
  uint64_t bytes = 0;               // size of the file written
  int64_t milliseconds = 0;         // picture work and writing
};

struct CConversionJob {
  CSettings* settings = nullptr;
  IConversionHost* host = nullptr;          // progress, messages, interactive dialog
  CManualResetEvent* abortEvent = nullptr;  // "eventAbort1"
  CManualResetEvent* doneEvent = nullptr;   // "eventDone1"
  CFilterList* filters = nullptr;           // loaded filters, in order (may be null)
  std::vector<std::string> fileList;        // absolute paths, in conversion order
  std::vector<std::string> writtenList;     // final names of the written files

  // Batch mode for pipelines; the defaults convert the whole list as always.
  // Shard shardIndex of shardCount: the files at positions p of fileList
  // with p % shardCount == shardIndex, where files that share an output
  // name all go with the first of them. Every file keeps the name and
  // number the whole job gives it.
  unsigned shardIndex = 0;
  unsigned shardCount = 1;
  // A file whose output exists and is newer than the source is skipped;
  // never for files that share their output name with another file.
  bool skipExisting = false;
  // Pictures in work at once (1: all on the worker thread); 0 lets the job
  // choose.
  unsigned threads = 0;
  // Called on the worker thread for every file of the part, in order.
  std::function<void(const FileResult&)> onFileFinished;
  // Batch mode: a path of the list that does not exist is kept in the file
  // list and counted as a failure with its reason (the window's list leaves
  // out entries that are no longer valid).
  bool missingEntriesFail = false;
};

// Job counters, process-wide, written only by the worker.
extern std::atomic<int> ConvertedCount;
extern std::atomic<int> ErrorCount;
extern std::atomic<int> SkippedCount;

// The worker's thread entry. Returns 1 when the file list was empty, else 0.
int ConversionThreadProc(CConversionJob* job);
