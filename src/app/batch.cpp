// Batch mode: the conversion job without any window.
//
//   lumaro --convert [--settings FILE] [--set SECTION.KEY=VALUE]...
//                    [--output DIR] [--format NAME] [--quiet] [--overwrite-sources]
//                    [--shard I/N|auto|auto/N] [--skip-existing] [--report FILE]
//                    [--jobs N] PATH...
//
// Loads the default settings file (or FILE) without ever writing it back,
// applies each --set with the same reading rules as a settings file, runs
// the job over the given files and folders and prints the summary. Exit
// codes: 0 nothing failed, 1 some files failed, 2 usage error.
#include "app/batch.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

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

  Answer Message(const std::string& text, const std::string&, Notice notice,
                 Answer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBar();
    // Messages that a window would show as boxes are printed; questions are
    // answered Yes (silently with --quiet: they are no errors).
    const bool question = notice == Notice::Question;
    if (quiet_ && question) return Answer::Yes;
    std::fprintf(stderr, "lumaro: %s%s\n", text.c_str(), question ? " [Yes]" : "");
    return question ? Answer::Yes : Answer::Ok;
  }

  int ShowInteractive(InteractiveRequest&) override {
    // No dialog without a window: the file is converted with the values the
    // job carries.
    return 1;
  }

  // The summary goes to standard output, also after a stop.
  void JobFinished(const JobCounts& counts, bool) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBar();
    std::printf("%s\n", FormatSummary(counts).c_str());
    std::fflush(stdout);
  }

  // Replacing a source file without a backup needs --overwrite-sources.
  bool AllowReplacingSources() override { return overwriteSources; }
  bool overwriteSources = false;

  // Shown with --quiet too: errors are what a quiet run still tells.
  void FileFailed(const std::string& path, const std::string& reason) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBar();
    std::fprintf(stderr, "lumaro: %s: %s\n", path.c_str(), reason.c_str());
  }

 private:
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
  bool overwriteSources = false;
  std::vector<std::string> paths;
};

int Usage(const std::string& problem) { return BatchUsageError(problem); }

std::string Text(const char* russian, const std::string& argument = std::string()) {
  return BatchText(russian, argument);
}

// ---- Pipelines and clusters: --shard, --skip-existing, --report, --jobs ----

struct ScaleArgs {
  std::string shard;  // "I/N", "auto" or "auto/N"; "" converts the whole job
  bool skipExisting = false;
  std::string report;
  std::string jobs;
};

enum class OptionTaken { No, Yes, MissingValue };

// Takes argv[i] when it is one of the options above, with its value.
OptionTaken TakeScaleOption(int argc, char** argv, int& i, ScaleArgs& args) {
  const std::string a = argv[i];
  std::string* value = nullptr;
  if (a == "--skip-existing") {
    args.skipExisting = true;
    return OptionTaken::Yes;
  }
  if (a == "--shard") value = &args.shard;
  if (a == "--report") value = &args.report;
  if (a == "--jobs") value = &args.jobs;
  if (!value) return OptionTaken::No;
  if (i + 1 >= argc) return OptionTaken::MissingValue;
  *value = argv[++i];
  return OptionTaken::Yes;
}

// A whole decimal number without sign, blanks or anything after it.
bool ParseCount(const std::string& text, unsigned long& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return true;
}

bool ParseEnvCount(const char* name, unsigned long& value) {
  const char* text = std::getenv(name);
  return text && ParseCount(text, value);
}

// The shard of "I/N", or with "auto" of the scheduler's environment: a Slurm
// job array (SLURM_ARRAY_TASK_ID counted from SLURM_ARRAY_TASK_MIN in steps
// of SLURM_ARRAY_TASK_STEP, of SLURM_ARRAY_TASK_COUNT tasks) or a Kubernetes
// indexed Job (JOB_COMPLETION_INDEX; the number of completions is not in the
// environment there, so it is given as "auto/N").
bool ResolveShard(const std::string& text, unsigned& index, unsigned& count,
                  std::string& problem) {
  const size_t slash = text.find('/');
  const std::string first = text.substr(0, slash);
  const std::string second = slash == std::string::npos ? "" : text.substr(slash + 1);
  unsigned long i = 0, n = 0;
  if (first == "auto") {
    unsigned long id = 0, min = 0, step = 1;
    if (ParseEnvCount("SLURM_ARRAY_TASK_ID", id)) {
      ParseEnvCount("SLURM_ARRAY_TASK_MIN", min);
      ParseEnvCount("SLURM_ARRAY_TASK_STEP", step);
      if (id < min || step == 0) {
        problem = Text("--shard auto: SLURM_ARRAY_TASK_ID вне массива заданий");
        return false;
      }
      i = (id - min) / step;
      ParseEnvCount("SLURM_ARRAY_TASK_COUNT", n);
    } else if (!ParseEnvCount("JOB_COMPLETION_INDEX", i)) {
      problem = Text("--shard auto: не задана ни SLURM_ARRAY_TASK_ID, ни JOB_COMPLETION_INDEX");
      return false;
    }
    if (slash != std::string::npos && !ParseCount(second, n)) {
      problem = Text("--shard auto/N: N должно быть числом, а не '%s'", second);
      return false;
    }
    if (n == 0 && slash == std::string::npos) {
      problem = Text("--shard auto: число частей не задано в окружении; укажите auto/N");
      return false;
    }
  } else if (slash == std::string::npos || !ParseCount(first, i) || !ParseCount(second, n)) {
    problem = Text("--shard: нужно I/N (0 <= I < N), auto или auto/N, а не '%s'", text);
    return false;
  }
  if (n == 0 || i >= n) {
    problem = Text("--shard %s: нужно 0 <= I < N", std::to_string(i) + "/" + std::to_string(n));
    return false;
  }
  index = unsigned(i);
  count = unsigned(n);
  return true;
}

// The report: one JSON object per line for every file as it finishes, then
// a summary line. Opened for appending, so a resumed run adds its lines to
// those of the run before; every line is one write(2) on an O_APPEND file,
// so it is on disk whole and in order whatever else appends to the file.
class CReportFile {
 public:
  ~CReportFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Open(const std::string& path, std::string& reason) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0) reason = std::strerror(errno);
    return fd_ >= 0;
  }
  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return failed_; }

  void File(const FileResult& r) {
    static const char* const kStatus[] = {"converted", "failed", "skipped"};
    nlohmann::ordered_json line;
    line["source"] = r.source;
    line["output"] = r.output;
    line["status"] = kStatus[int(r.status)];
    line["reason"] = r.reason;
    line["width_in"] = r.widthIn;
    line["height_in"] = r.heightIn;
    line["width_out"] = r.widthOut;
    line["height_out"] = r.heightOut;
    line["bytes"] = r.bytes;
    line["ms"] = r.milliseconds;
    Write(line);
  }

  void Summary(int converted, int failed, int skipped, unsigned shardIndex, unsigned shardCount,
               int64_t milliseconds) {
    nlohmann::ordered_json line;
    line["summary"] = true;
    line["converted"] = converted;
    line["failed"] = failed;
    line["skipped"] = skipped;
    line["shard_index"] = shardIndex;
    line["shard_count"] = shardCount;
    line["ms"] = milliseconds;
    Write(line);
  }

 private:
  void Write(const nlohmann::ordered_json& line) {
    // Names that are not UTF-8 get U+FFFD for their stray bytes: the line
    // stays valid JSON.
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (!failed_)
          std::fprintf(stderr, "lumaro: report %s: %s\n", path_.c_str(), std::strerror(errno));
        failed_ = true;
        return;
      }
      done += size_t(n);
    }
  }

  std::string path_;
  int fd_ = -1;
  bool failed_ = false;
};

// The settings of --shard, --skip-existing, --report and --jobs, checked
// before any file is converted. Returns false after printing a usage error.
bool PrepareScaleOptions(const ScaleArgs& args, CConversionJob& job, CReportFile& report) {
  std::string problem;
  if (!args.shard.empty() && !ResolveShard(args.shard, job.shardIndex, job.shardCount, problem)) {
    Usage(problem);
    return false;
  }
  job.skipExisting = args.skipExisting;
  unsigned long jobs = std::thread::hardware_concurrency();
  if (!args.jobs.empty() && (!ParseCount(args.jobs, jobs) || jobs == 0)) {
    Usage(Text("--jobs: нужно число не меньше 1, а не '%s'", args.jobs));
    return false;
  }
  job.threads = unsigned(jobs);
  if (!args.report.empty()) {
    if (!report.Open(args.report, problem)) {
      Usage(Text("не удаётся записать отчёт %s", args.report + ": " + problem));
      return false;
    }
    job.onFileFinished = [&report](const FileResult& r) { report.File(r); };
  }
  return true;
}

// ---- end of --shard, --skip-existing, --report, --jobs ----

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
      args.settingsFile.empty() ? settings.DefaultFileToRead() : args.settingsFile;
  CIniStore store(path);
  std::error_code ec;
  // An empty file means the defaults, as a missing default file does.
  const bool present = fs::is_regular_file(path, ec);
  const bool hasContent = present && fs::file_size(path, ec) > 0 && !ec;
  if (hasContent && !store.Read()) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, LoadResString(IDS_BATCH_NOT_A_SETTINGS_FILE).c_str(),
                  path.c_str());
    std::fprintf(stderr, "lumaro: %s\n", buf);
  } else if (!present && !args.settingsFile.empty()) {
    std::fprintf(stderr, "lumaro: %s\n", Text("%s: нет такого файла настроек", path).c_str());
    return false;
  }
  for (const std::string& set : args.sets) {
    size_t dot = set.find('.');
    size_t eq = set.find('=');
    if (dot == std::string::npos || eq == std::string::npos || dot > eq) {
      std::fprintf(stderr, "lumaro: %s\n",
                   Text("--set: нужно РАЗДЕЛ.КЛЮЧ=ЗНАЧЕНИЕ, а не '%s'", set).c_str());
      return false;
    }
    const std::string section = set.substr(0, dot);
    const std::string key = set.substr(dot + 1, eq - dot - 1);
    store.SetString(section, key, set.substr(eq + 1), true);
    // A key that no settings file holds would be ignored silently: say so.
    if (!settings.HoldsKey(section, key)) {
      std::fprintf(stderr, "lumaro: %s\n", Text("--set %s: неизвестная настройка", set).c_str());
      return false;
    }
  }
  settings.LoadFromStore(store);
  return true;
}

}  // namespace

std::string BatchUsageText() { return LoadResString(IDS_BATCH_USAGE); }

std::string BatchText(const char* russian, const std::string& argument) {
  std::string text = UiText(russian);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, argument);
  return text;
}

int BatchUsageError(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "lumaro: %s\n", problem.c_str());
  std::fprintf(stderr, "%s\n", BatchUsageText().c_str());
  return 2;
}

void ChooseDefaultFileLanguage() {
  CSettings& settings = GetSettings();
  if (settings.ProgramFolder.empty()) settings.ProgramFolder = CSettings::DetectProgramFolder();
  CIniStore store(settings.DefaultFilePath());
  if (store.Read() && store.GetInt("General", "Language", 0) == 1)
    LoadLanguageLibrary(settings.ProgramFolder);
}

void FollowSettingsLanguage() {
  if (GetSettings().Language == 1)
    LoadLanguageLibrary(GetSettings().ProgramFolder);
  else
    ReleaseLanguageLibrary();
}

int RunBatchConvert(int argc, char** argv, int first) {
  // Usage errors come before the settings are read: they speak the
  // language of the default settings file.
  ChooseDefaultFileLanguage();
  BatchArgs args;
  ScaleArgs scale;
  OptionTaken scaleTaken = OptionTaken::No;
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
      if (!v) return Usage(Text("после --settings нужен файл настроек"));
      args.settingsFile = v;
    } else if (!optionsEnded && a == "--set") {
      const char* v = value("--set");
      if (!v) return Usage(Text("после --set нужно РАЗДЕЛ.КЛЮЧ=ЗНАЧЕНИЕ"));
      args.sets.push_back(v);
    } else if (!optionsEnded && a == "--output") {
      const char* v = value("--output");
      if (!v) return Usage(Text("после --output нужна папка"));
      args.output = v;
      args.outputGiven = true;
    } else if (!optionsEnded && a == "--format") {
      const char* v = value("--format");
      if (!v) return Usage(Text("после --format нужно имя формата"));
      args.format = v;
    } else if (!optionsEnded && (a == "--help" || a == "-h")) {
      std::printf("%s\n", BatchUsageText().c_str());
      return 0;
    } else if (!optionsEnded && (a == "--quiet" || a == "-q")) {
      args.quiet = true;
    } else if (!optionsEnded &&
               (scaleTaken = TakeScaleOption(argc, argv, i, scale)) != OptionTaken::No) {
      if (scaleTaken == OptionTaken::MissingValue) return Usage(Text("после %s нужно значение", a));
    } else if (!optionsEnded && a == "--overwrite-sources") {
      args.overwriteSources = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-' && !fs::exists(a)) {
      return Usage(Text("неизвестный параметр %s", a));
    } else {
      args.paths.push_back(a);
    }
  }
  if (args.paths.empty()) return Usage(Text("не заданы файлы или папки"));
  CConversionJob job;
  CReportFile report;
  if (!PrepareScaleOptions(scale, job, report)) return 2;
  const auto startTime = std::chrono::steady_clock::now();

  CApplication app;
  app.Start(CApplication::Mode::Batch);
  CSettings& settings = GetSettings();
  if (!LoadBatchSettings(settings, args)) return 2;
  // The settings file given (or a --set) may choose the other language.
  FollowSettingsLanguage();
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
    if (index < 0) return Usage(Text("неизвестный формат %s", args.format));
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
  host.overwriteSources = args.overwriteSources;
  job.missingEntriesFail = true;  // a path that does not exist is a failure
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
      if (report.IsOpen()) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - startTime)
                            .count();
        report.Summary(ConvertedCount.load(), ErrorCount.load(), SkippedCount.load(),
                       job.shardIndex, job.shardCount, ms);
        if (report.Failed()) rc = 1;  // the record of the job is incomplete
      }
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
