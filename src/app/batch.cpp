// Batch mode: the conversion job without any window.
//
//   lumaro --convert [--settings FILE] [--set SECTION.KEY=VALUE]...
//                    [--output DIR] [--format NAME] [--quiet] PATH...
//
// Loads the default settings file (or FILE) without ever writing it back,
// applies each --set with the same reading rules as a settings file, runs
// the job over the given files and folders and prints the summary. Exit
// codes: 0 nothing failed, 1 some files failed, 2 usage error.
#include "app/batch.h"

#include <unistd.h>

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/application.h"
#include "engine/events.h"
#include "engine/host.h"
#include "engine/job_start.h"
#include "engine/worker.h"
#include "services/strings.h"
#include "settings/ini_store.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

// The job's host on a terminal: a progress bar on standard error when it is
// a terminal, messages on standard error, the summary on standard output.
class CBatchHost : public IConversionHost {
 public:
  explicit CBatchHost(bool quiet) : quiet_(quiet), tty_(isatty(STDERR_FILENO) != 0) {}

  void SetProgressRange(int low, int high) override {
    std::lock_guard<std::mutex> lock(mutex_);
    low_ = low;
    high_ = high;
    pos_ = low;
  }
  void SetProgressCaption(const std::string&) override {}
  void SetFileText(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ = text;
    Draw();
  }
  void Step() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pos_;
    Draw();
  }
  void Pump() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBar();
  }

  int MessageBox(const std::string& text, const std::string& caption, unsigned style) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBar();
    const bool question = (style & MB_YESNO) != 0;
    const bool summary = caption == LoadResString(IDS_RESULTS_CAPTION) ||
                         (!question && (style & MB_ICONINFORMATION) && !summaryShown_ &&
                          text.find('%') == std::string::npos && IsSummary(text));
    if (summary) {
      summaryShown_ = true;
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
      return IDOK;
    }
    // Messages that a window would show as boxes are printed; questions are
    // answered Yes.
    std::fprintf(stderr, "lumaro: %s%s\n", text.c_str(), question ? " [Yes]" : "");
    return question ? IDYES : IDOK;
  }

  int ShowInteractive(InteractiveRequest&) override {
    // No dialog without a window: the file is converted with the values the
    // job carries.
    return 1;
  }

  void ConversionDone() override {}

  void FileFailed(const std::string& path, const std::string& reason) override {
    if (quiet_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBar();
    std::fprintf(stderr, "lumaro: %s: %s\n", path.c_str(), reason.c_str());
  }

 private:
  static bool IsSummary(const std::string& text) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d", ConvertedCount.load());
    return text.find(buf) != std::string::npos;
  }

  void Draw() {
    if (quiet_ || !tty_ || high_ <= low_) return;
    const int width = 30;
    int done = high_ > low_ ? (pos_ - low_) * width / (high_ - low_) : 0;
    std::string bar(size_t(done), '#');
    bar.resize(size_t(width), ' ');
    std::string name = fs::path(file_).filename().string();
    if (name.size() > 40) name = name.substr(0, 37) + "...";
    std::fprintf(stderr, "\r[%s] %d/%d %-40s", bar.c_str(), pos_ - low_, high_ - low_,
                 name.c_str());
    std::fflush(stderr);
    barShown_ = true;
  }

  void ClearBar() {
    if (!barShown_) return;
    std::fprintf(stderr, "\r%*s\r", 80, "");
    std::fflush(stderr);
    barShown_ = false;
  }

  std::mutex mutex_;
  bool quiet_;
  bool tty_;
  bool barShown_ = false;
  bool summaryShown_ = false;
  int low_ = 0, high_ = 0, pos_ = 0;
  std::string file_;
};

struct BatchArgs {
  std::string settingsFile;
  std::vector<std::string> sets;
  std::string output;
  bool outputGiven = false;
  std::string format;
  bool quiet = false;
  std::vector<std::string> paths;
};

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "lumaro: %s\n", problem);
  std::fprintf(stderr, "%s\n", LoadResString(IDS_BATCH_USAGE).c_str());
  return 2;
}

// Index of an output format by its name ("JPEG", "png", "Не менять",
// "keep") or by a file extension ("jpg", "tif").
int FormatIndexByName(const CSettings& settings, const std::string& name) {
  std::string lower;
  for (char c : name) lower += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  for (size_t i = 0; i < settings.OutputFormats.size(); ++i) {
    std::string own;
    for (char c : settings.OutputFormats[i]->Name) own += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    if (own == lower) return int(i);
  }
  static const struct {
    const char* name;
    int index;
  } kAliases[] = {{"jpg", 0}, {"jpeg", 0}, {"png", 1}, {"tif", 2}, {"tiff", 2},
                  {"bmp", 3}, {"gif", 4},  {"keep", 5}, {"same", 5},
                  {"webp", 6}, {"avif", 7}, {"jxl", 8}};
  for (const auto& a : kAliases)
    if (lower == a.name) return a.index;
  return -1;
}

// Applies the settings file and the --set values with the reading rules of
// a settings file. The file itself is never written.
bool LoadBatchSettings(CSettings& settings, const BatchArgs& args) {
  const std::string path =
      args.settingsFile.empty() ? settings.DefaultFilePath() : args.settingsFile;
  CIniStore store(path);
  std::error_code ec;
  const bool present = fs::is_regular_file(path, ec) && fs::file_size(path, ec) > 0;
  if (present && !store.Read()) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, LoadResString(IDS_BATCH_NOT_A_SETTINGS_FILE).c_str(),
                  path.c_str());
    std::fprintf(stderr, "lumaro: %s\n", buf);
  } else if (!present && !args.settingsFile.empty()) {
    std::fprintf(stderr, "lumaro: %s: no such settings file\n", path.c_str());
    return false;
  }
  CIniStore known("");  // every key a settings file of this program holds
  settings.SaveToStore(known);
  for (const std::string& set : args.sets) {
    size_t dot = set.find('.');
    size_t eq = set.find('=');
    if (dot == std::string::npos || eq == std::string::npos || dot > eq) {
      std::fprintf(stderr, "lumaro: --set needs SECTION.KEY=VALUE, not '%s'\n", set.c_str());
      return false;
    }
    const std::string section = set.substr(0, dot);
    const std::string key = set.substr(dot + 1, eq - dot - 1);
    store.SetString(section, key, set.substr(eq + 1), true);
    // A key that no settings file holds would be ignored silently: say so.
    if (known.FindKey(known.FindSection(section), key) < 0) {
      std::fprintf(stderr, "lumaro: --set %s: unknown setting\n", set.c_str());
      return false;
    }
  }
  settings.LoadFromStore(store);
  return true;
}

}  // namespace

int RunBatchConvert(int argc, char** argv, int first) {
  BatchArgs args;
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)name;
      return argv[++i];
    };
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && a == "--settings") {
      const char* v = value("--settings");
      if (!v) return Usage("--settings needs a file");
      args.settingsFile = v;
    } else if (!optionsEnded && a == "--set") {
      const char* v = value("--set");
      if (!v) return Usage("--set needs SECTION.KEY=VALUE");
      args.sets.push_back(v);
    } else if (!optionsEnded && a == "--output") {
      const char* v = value("--output");
      if (!v) return Usage("--output needs a folder");
      args.output = v;
      args.outputGiven = true;
    } else if (!optionsEnded && a == "--format") {
      const char* v = value("--format");
      if (!v) return Usage("--format needs a name");
      args.format = v;
    } else if (!optionsEnded && (a == "--quiet" || a == "-q")) {
      args.quiet = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-' && !fs::exists(a)) {
      return Usage(("unknown option " + a).c_str());
    } else {
      args.paths.push_back(a);
    }
  }
  if (args.paths.empty()) return Usage("no files or folders given");

  CApplication app;
  app.Start(CApplication::Mode::Batch);
  CSettings& settings = GetSettings();
  if (!LoadBatchSettings(settings, args)) return 2;
  app.ChooseLanguage();

  if (args.outputGiven) {
    std::string out = args.output;
    if (!out.empty()) {
      std::error_code ec;
      fs::path abs = fs::absolute(out, ec);
      out = ec ? out : abs.lexically_normal().string();
      if (out.size() > 1 && out.back() != '/') out += '/';
    }
    settings.OutputFolder = out;
  }
  if (!args.format.empty()) {
    int index = FormatIndexByName(settings, args.format);
    if (index < 0) return Usage(("unknown output format " + args.format).c_str());
    settings.OutputFormat = index;
  }

  std::vector<std::string> entries;
  for (const std::string& p : args.paths) {
    std::error_code ec;
    fs::path abs = fs::absolute(p, ec);
    entries.push_back(ec ? p : abs.lexically_normal().string());
    if (!entries.back().empty() && entries.back().size() > 1 && entries.back().back() == '/')
      entries.back().pop_back();
  }

  CBatchHost host(args.quiet);
  CConversionJob job;
  std::thread worker;
  JobStartResult started =
      StartConversion(job, settings, entries, host, app.Filters(), worker);
  int rc = 0;
  switch (started) {
    case JobStartResult::Started:
      worker.join();
      if (job.fileList.empty())
        std::fprintf(stderr, "lumaro: %s\n", LoadResString(IDS_BATCH_NO_FILES).c_str());
      rc = ErrorCount.load() > 0 ? 1 : 0;
      break;
    case JobStartResult::FolderFailed:
      rc = 1;
      break;
    case JobStartResult::Declined:
    case JobStartResult::Busy:
      rc = 1;
      break;
  }
  app.Exit();
  return rc;
}
