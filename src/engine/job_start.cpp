#include "engine/job_start.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <utility>

#include "engine/events.h"
#include "engine/host.h"
#include "output/output_names.h"
#include "output/safe_write.h"
#include "services/strings.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_jobStarted{false};

// Next code point of a UTF-8 string, folded to lower case for Latin and
// Cyrillic letters; invalid bytes are taken one by one.
uint32_t NextFolded(const std::string& s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  uint32_t cp = c;
  size_t len = 1;
  if (c >= 0xC0 && c < 0xE0 && i + 1 < s.size())
    cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu), len = 2;
  else if (c >= 0xE0 && c < 0xF0 && i + 2 < s.size())
    cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
         (static_cast<unsigned char>(s[i + 2]) & 0x3Fu),
    len = 3;
  else if (c >= 0xF0 && i + 3 < s.size())
    cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
         ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
         (static_cast<unsigned char>(s[i + 3]) & 0x3Fu),
    len = 4;
  i += len;
  if (cp >= 'A' && cp <= 'Z') return cp + 32;
  if (cp >= 0x410 && cp <= 0x42F) return cp + 32;  // А..Я
  if (cp >= 0x400 && cp <= 0x40F) return cp + 80;  // Ѐ..Џ, Ё
  return cp;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Collects the supported files of one folder; with recursion, descends into
// its subfolders at the point where each is met.
void CollectFolder(const fs::path& folder, bool recursive, std::set<std::pair<dev_t, ino_t>>& seen,
                   std::vector<std::string>& out) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return;
  if (!seen.insert({st.st_dev, st.st_ino}).second) return;  // been here: a link loop
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::error_code ec2;
    if (entry.is_directory(ec2)) {
      if (recursive) CollectFolder(entry.path(), true, seen, out);
      continue;
    }
    std::string name = entry.path().filename().string();
    if (IsSupportedExtension(FindExtension(name))) out.push_back(entry.path().string());
  }
}

}  // namespace

int ComparePathsNoCase(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    uint32_t ca = NextFolded(a, i);
    uint32_t cb = NextFolded(b, j);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

std::vector<std::string> CollectJobFiles(const std::vector<std::string>& entries,
                                         bool includingSubfolders, bool keepMissing) {
  std::vector<std::string> files;
  for (const std::string& entry : entries) {
    std::error_code ec;
    fs::file_status status = fs::status(entry, ec);
    if (ec || !fs::exists(status)) {
      // No longer valid: left out silently, or kept for the worker to count.
      if (keepMissing) files.push_back(entry);
      continue;
    }
    if (fs::is_directory(status)) {
      std::set<std::pair<dev_t, ino_t>> seen;
      CollectFolder(fs::path(entry), includingSubfolders, seen, files);
    } else {
      files.push_back(entry);
    }
  }
  std::stable_sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    return ComparePathsNoCase(a, b) < 0;
  });
  return files;
}

bool ConversionRunning() {
  return g_jobStarted.load() && !NamedEvent(kEventDone).IsSet();
}

JobStartResult StartConversion(CConversionJob& job, CSettings& settings,
                               const std::vector<std::string>& entries, IConversionHost& host,
                               CFilterList* filters, std::thread& worker) {
  if (ConversionRunning()) return JobStartResult::Busy;
  const std::string appName = LoadResString(IDS_APP_NAME);

  if (settings.UseRename != 0 && settings.RenamePattern.empty()) {
    if (host.Message(LoadResString(IDS_RENAME_WITHOUT_PATTERN), appName, Notice::Question,
                     Answer::No) != Answer::Yes)
      return JobStartResult::Declined;
  }
  if (settings.OutputFolder.empty()) {
    if (host.Message(LoadResString(IDS_NO_OUTPUT_FOLDER), appName, Notice::Question,
                     Answer::No) != Answer::Yes)
      return JobStartResult::Declined;
  }

  CManualResetEvent& done = NamedEvent(kEventDone);
  CManualResetEvent& abort = NamedEvent(kEventAbort);
  done.Reset();
  abort.Reset();

  if (!settings.OutputFolder.empty() && !IsDirectory(settings.OutputFolder)) {
    std::string folder = settings.OutputFolder;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!CreateDirectoryTree(folder) && !IsDirectory(folder)) {
      std::string text = LoadResString(IDS_CANNOT_CREATE_FOLDER);
      size_t at = text.find("%1");
      if (at != std::string::npos) text.replace(at, 2, settings.OutputFolder);
      host.Message(text, appName, Notice::Error, Answer::Ok);
      done.Set();  // nothing runs
      return JobStartResult::FolderFailed;
    }
  }

  job.writtenList.clear();
  job.fileList =
      CollectJobFiles(entries, settings.IncludingSubfolders != 0, job.missingEntriesFail);
  job.settings = &settings;
  job.abortEvent = &abort;
  job.doneEvent = &done;
  job.host = &host;
  job.filters = filters;

  host.SetProgressRange(0, int(job.fileList.size()));
  g_jobStarted = true;
  worker = std::thread([&job] { ConversionThreadProc(&job); });
  return JobStartResult::Started;
}
