// The conversion worker: takes every file of a job through the fixed
// pipeline (name, metadata, load, orientation and tone, resize, watermark,
// filters, save), counts the outcomes and reports them.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "plugins/filter_entry.h"

class CSettings;
class IConversionHost;
class CManualResetEvent;

struct CConversionJob {
  CSettings* settings = nullptr;
  IConversionHost* host = nullptr;          // progress, messages, interactive dialog
  CManualResetEvent* abortEvent = nullptr;  // "eventAbort1"
  CManualResetEvent* doneEvent = nullptr;   // "eventDone1"
  CFilterList* filters = nullptr;           // loaded filters, in order (may be null)
  std::vector<std::string> fileList;        // absolute paths, in conversion order
  std::vector<std::string> writtenList;     // final names of the written files
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
