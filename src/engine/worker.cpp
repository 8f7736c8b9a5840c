// The conversion worker.
//
// Every file goes through the same steps in the same order: output name,
// metadata, load, orientation and tone, resize, watermark, filters, encode,
// write. Names are given, and files are written, counted and reported,
// strictly in the job's order by the worker thread. The picture work in
// between (metadata to encode) has no effect outside its own file, so when
// no step needs a person or a plug-in (no interactive dialog, no enabled
// filter) it runs ahead on a few helper threads, at most a couple of files
// ahead of the one being written. Output names, counts, messages and their
// order are the same either way.
#include "engine/worker.h"

#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "engine/events.h"
#include "engine/host.h"
#include "engine/stages.h"
#include "engine/stream_path.h"
#include "imaging/image.h"
#include "formats/output_format.h"
#include "imaging/resize.h"
#include "output/output_names.h"
#include "output/write_output.h"
#include "services/strings.h"
#include "settings/settings.h"

std::atomic<int> ConvertedCount{0};
std::atomic<int> ErrorCount{0};
std::atomic<int> SkippedCount{0};

namespace {

ResizeOptions ResizeOptionsFrom(const CSettings& s) {
  ResizeOptions o;
  o.PercentsOrPixels = s.PercentsOrPixels;
  o.Percents = s.Percents;
  o.Width = s.Width;
  o.Height = s.Height;
  o.MaintainAspectRatio = s.MaintainAspectRatio;
  o.ResamplingMode = s.ResamplingModeIndex();
  o.Dpi = s.DpiIndex();
  return o;
}

NamingOptions NamingOptionsFrom(const CSettings& s) {
  NamingOptions o;
  o.OutputFolder = s.OutputFolder;
  o.KeepSubfoldersStructure = s.KeepSubfoldersStructure;
  o.IncludingSubfolders = s.IncludingSubfolders;
  o.UseRename = s.UseRename;
  o.RenamePattern = s.RenamePattern;
  o.RenameThrough = s.RenameThrough;
  o.RenameStartFrom = s.RenameStartFrom;
  return o;
}

// The carried adjustment: goes from file to file, changed only by the
// interactive dialog's "apply to all following images".
struct Adjustment {
  int rotation = 3;
  int flip = 2;
  long brightness = 0;
  long contrast = 0;
};

// One file on its way through the pipeline.
struct FileTask {
  enum class Outcome { Pending, Encoded, LoadFailed, Skipped };

  size_t index = 0;
  std::string source;
  std::string outputBase;  // without extension until written
  std::string error;
  std::string watermarkProblem;  // the watermark picture could not be read
  Outcome outcome = Outcome::Pending;
  PropertyItemList items;
  int itemCount = 0;
  SourceInfo info;
  EncodedOutput encoded;
  bool done = false;
  // For the job's report.
  int widthIn = 0, heightIn = 0, widthOut = 0, heightOut = 0;
  int64_t milliseconds = 0;
  bool reused = false;  // skipped: its output is current (outputBase is that file)
};

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Everything the picture steps of one job share; read-only while helpers run.
struct JobContext {
  CSettings& settings;
  CJobStages& stages;
  COutputFormat& format;
  ResizeOptions resize;
  bool readProperties;
  // No step of the job needs a picture whole (see stream_path.h) as long
  // as the carried adjustment leaves it as it is.
  bool streaming = false;
};

// Lets the JPEG decoder scale by 1/2, 1/4 or 1/8 while decoding when the
// resize stage will shrink the picture anyway: the decoded picture stays at
// least as large as the target, in whichever way the rotation turns it.
CImage::DecodeSizeHint ShrinkOnLoadHint(const ResizeOptions& resize, int rotation) {
  if (!ResizeApplies(resize)) return nullptr;
  const bool mayTurn = rotation == 0 || rotation == 1 || rotation == 4;
  return [resize, mayTurn](int width, int height, int& minWidth, int& minHeight) {
    long tw = 0, th = 0;
    ComputeTargetSize(resize, unsigned(width), unsigned(height), tw, th);
    long needW = tw, needH = th;
    if (mayTurn) {
      long tw2 = 0, th2 = 0;
      ComputeTargetSize(resize, unsigned(height), unsigned(width), tw2, th2);
      needW = std::max(needW, th2);
      needH = std::max(needH, tw2);
    }
    if (needW <= 0 || needH <= 0) return;  // let the resize stage refuse it
    minWidth = int(std::min<long>(needW, width));
    minHeight = int(std::min<long>(needH, height));
  };
}

// A source must be a regular file (or a link to one) before anything opens
// it: opening a FIFO would block the job forever, and a device may never end.
bool CheckSource(FileTask& task) {
  struct stat st {};
  if (::stat(task.source.c_str(), &st) != 0) {
    task.error = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    task.error = "not a regular file";
  } else {
    return true;
  }
  task.outcome = FileTask::Outcome::LoadFailed;
  return false;
}

// A failure for lack of memory, which may pass when no other file is in
// flight.
bool FailedForMemory(const FileTask& task) {
  const std::string& error =
      task.outcome == FileTask::Outcome::LoadFailed ? task.error : task.encoded.error;
  return error.find("out of memory") != std::string::npos;
}

// The task as it was named, before any picture step ran.
FileTask UnprocessedCopy(const FileTask& task) {
  FileTask fresh;
  fresh.index = task.index;
  fresh.source = task.source;
  fresh.outputBase = task.outputBase;
  return fresh;
}

// True when path names the same file (device and inode) as source.
bool SameFile(const std::string& source, const std::string& path) {
  struct stat a {}, b {};
  return ::stat(source.c_str(), &a) == 0 && ::stat(path.c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The picture steps of one file, from metadata to the encoded bytes.
// Reads the source file once: its metadata items and its picture come from
// the same bytes. False with task.error when it cannot be read or decoded.
bool ReadSource(const JobContext& ctx, FileTask& task, std::vector<uint8_t>& file) {
  task.items.clear();
  task.itemCount = 0;
  task.info.Options = OutputOptionsFrom(ctx.settings);
  std::string error;
  if (!CImage::ReadFile(task.source, file, error)) {
    task.error = task.source + ": " + error;
    return false;
  }
  task.itemCount =
      ctx.readProperties ? ctx.stages.ReadProperties(file.data(), file.size(), task.items) : 0;
  // The writers of container formats build their EXIF block from the items.
  task.info.Items = &task.items;
  task.info.ItemCount = task.itemCount;
  return true;
}

bool DecodeSource(CImage& image, FileTask& task, const std::vector<uint8_t>& file) {
  image.SetFrame(0);
  if (!image.Decode(file.data(), file.size(), FORMAT_UNKNOWN, task.source)) {
    task.error = image.GetLastError();
    return false;
  }
  return true;
}

// True when the carried adjustment changes nothing (see CJobStages).
bool LeavesPictureAsIs(const Adjustment& a) {
  return !(a.rotation >= 0 && a.rotation <= 2) && a.rotation != 4 && a.flip != 0 &&
         a.flip != 1 && a.brightness == 0 && a.contrast == 0;
}

// The whole file in bands when nothing needs its picture whole; false when
// it is to go the whole-picture way.
bool StreamSource(const JobContext& ctx, CImage& image, FileTask& task,
                  const std::vector<uint8_t>& file) {
  if (!ctx.streaming) return false;
  StreamedPicture picture;
  if (!StreamPicture(file.data(), file.size(), ctx.format, task.encoded, picture)) return false;
  task.widthIn = task.widthOut = picture.width;
  task.heightIn = task.heightOut = picture.height;
  task.info.FrameCount = 1;
  // The image keeps the source's codec option, as a whole decode leaves it.
  image.SetCodecOption(picture.codecOption, picture.format);
  task.info.SourceFormat = FormatFromExtension(task.source);
  task.info.SourceCodecOption = image.GetCodecOption(task.info.SourceFormat);
  task.info.NotResized = 1;
  task.outcome = FileTask::Outcome::Encoded;
  return true;
}

// The orientation and tone step of one file; false when the file is to be
// skipped. It sits between reading the picture and the remaining steps, so
// that the interactive dialog can ask about the picture as read.
using OrientStep = std::function<bool(CImage& image, FileTask& task)>;

// The picture steps of one file, from the source to the encoded bytes, in
// the same order for every file of every job: check and read the source,
// orient and tone (orient), resize, watermark, filters, encode. With
// mayStream (orient leaves every picture as it is) a file that no step
// needs whole goes through in bands instead.
void ProcessPicture(const JobContext& ctx, CImage& image, FileTask& task,
                    const OrientStep& orient, bool mayStream) {
  const Clock::time_point start = Clock::now();
  if (!CheckSource(task)) return;
  std::vector<uint8_t> file;
  if (!ReadSource(ctx, task, file)) {
    task.outcome = FileTask::Outcome::LoadFailed;
    task.milliseconds = MillisecondsSince(start);
    return;
  }
  if (mayStream && StreamSource(ctx, image, task, file)) {
    task.milliseconds = MillisecondsSince(start);
    return;
  }
  const bool decoded = DecodeSource(image, task, file);
  file = std::vector<uint8_t>();
  if (!decoded) {
    task.outcome = FileTask::Outcome::LoadFailed;
    task.milliseconds = MillisecondsSince(start);
    return;
  }
  task.widthIn = image.GetStoredWidth();
  task.heightIn = image.GetStoredHeight();
  task.info.FrameCount = image.GetNumFrames();
  task.info.SourceFormat = FormatFromExtension(task.source);
  task.info.SourceCodecOption = image.GetCodecOption(task.info.SourceFormat);

  // A JPEG may have been decoded smaller than stored (see SetDecodeSizeHint);
  // the target size is always computed from the stored size.
  const int decodedWidth = image.GetWidth(), decodedHeight = image.GetHeight();
  if (!orient(image, task)) {
    task.outcome = FileTask::Outcome::Skipped;
    task.milliseconds = MillisecondsSince(start);
    return;
  }
  const bool turned = decodedWidth != decodedHeight && image.GetWidth() == decodedHeight &&
                      image.GetHeight() == decodedWidth;
  const unsigned storedWidth = unsigned(image.GetStoredWidth());
  const unsigned storedHeight = unsigned(image.GetStoredHeight());
  // A size the resize stage refuses fails the file: writing the picture at
  // its old size would pass a wrong result off as converted.
  if (!ApplyResizeFrom(image, ctx.resize, turned ? storedHeight : storedWidth,
                       turned ? storedWidth : storedHeight)) {
    task.outcome = FileTask::Outcome::LoadFailed;
    task.error = image.GetLastError();
    task.milliseconds = MillisecondsSince(start);
    return;
  }
  task.info.NotResized = ResizeApplies(ctx.resize) ? 0 : 1;
  if (ctx.settings.WatermarksOn != 0)
    ctx.stages.Watermark(image, task.source, task.items, task.itemCount, &task.watermarkProblem);
  // Only on the worker thread: helpers run when no filter is enabled.
  ctx.stages.RunFilters(image);
  task.widthOut = image.GetWidth();
  task.heightOut = image.GetHeight();
  ctx.format.Encode(image, task.source, task.info, task.encoded);
  task.outcome = FileTask::Outcome::Encoded;
  task.milliseconds = MillisecondsSince(start);
}

// The same with the carried orientation and tone, no question asked.
void ProcessPicture(const JobContext& ctx, const Adjustment& carried, CImage& image,
                    FileTask& task) {
  ProcessPicture(ctx, image, task, [&ctx, &carried](CImage& picture, FileTask& t) {
    ctx.stages.Rotate(picture, carried.rotation, t.items, t.itemCount);
    ctx.stages.Flip(picture, carried.flip);
    if (carried.brightness != 0 || carried.contrast != 0)
      picture.Light(carried.brightness, carried.contrast);
    return true;
  }, LeavesPictureAsIs(carried));
}

// Runs ProcessPicture for queued files on helper threads.
class CLookahead {
 public:
  CLookahead(const JobContext& ctx, const Adjustment& carried, unsigned threads)
      : ctx_(ctx), carried_(carried) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
  }
  ~CLookahead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void Push(FileTask* task) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(task);
    }
    wake_.notify_one();
  }

  void Wait(FileTask* task) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [task] { return task->done; });
  }

 private:
  void Run() {
    CImage image;
    image.SetDecodeSizeHint(ShrinkOnLoadHint(ctx_.resize, carried_.rotation));
    for (;;) {
      FileTask* task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        task = queue_.front();
        queue_.pop_front();
      }
      ProcessPicture(ctx_, carried_, image, *task);
      image.Destroy();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        task->done = true;
      }
      done_.notify_all();
    }
  }

  const JobContext& ctx_;
  const Adjustment& carried_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<FileTask*> queue_;
  bool stopping_ = false;
};

bool AnyFilterEnabled(const CFilterList* filters) {
  if (!filters) return false;
  return std::any_of(filters->begin(), filters->end(),
                     [](const auto& entry) { return entry && entry->Enabled; });
}

// Helper threads for a job: none when a step needs the worker thread itself.
// requested is the job's threads (0: up to four, as many as there are cores).
unsigned LookaheadThreads(const CSettings& s, const CFilterList* filters, size_t files,
                          unsigned requested) {
  if (s.Interactive != 0 || AnyFilterEnabled(filters) || files < 2) return 0;
  if (requested != 0) return requested == 1 ? 0 : requested;
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min(cores, 4u);
}

// The part of a sharded or resumed job, named before any file is converted.
// Every file of the whole list is named in order, so numbers from "#"
// patterns (through or per folder) are the ones of the whole job, whichever
// part converts the file: a number depends only on the file's position, never
// on what happened to earlier files (a failed file uses up its number too).
struct JobPart {
  std::vector<size_t> positions;  // in fileList, in order
  std::vector<std::string> bases;  // output base of each position ("" when naming failed)
  std::vector<std::string> errors;  // naming failure of each position
  std::vector<char> unique;         // no other file of the list has this output base
};

JobPart PlanJobPart(const CConversionJob& job, COutputNamer& namer) {
  const size_t n = job.fileList.size();
  const size_t count = std::max(1u, job.shardCount);
  std::vector<std::string> bases(n), errors(n);
  std::vector<char> named(n, 0);
  // First position and number of files per output base. Files sharing an
  // output base (equal names, or one name with different extensions and one
  // ".bak") must be written by one process in list order.
  std::unordered_map<std::string, std::pair<size_t, size_t>> byBase;
  byBase.reserve(n);
  for (size_t p = 0; p < n; ++p) {
    named[p] = namer.MakeOutputBase(job.fileList[p], bases[p], errors[p]) ? 1 : 0;
    if (!named[p]) continue;
    auto it = byBase.try_emplace(bases[p], p, 0).first;
    ++it->second.second;
  }
  JobPart part;
  for (size_t p = 0; p < n; ++p) {
    const auto group = named[p] ? byBase.find(bases[p])->second : std::make_pair(p, size_t(1));
    if (group.first % count != job.shardIndex) continue;
    part.positions.push_back(p);
    part.bases.push_back(named[p] ? std::move(bases[p]) : std::string());
    part.errors.push_back(std::move(errors[p]));
    part.unique.push_back(named[p] && group.second == 1 ? 1 : 0);
  }
  return part;
}

// The extension the job's format gives a source's output.
std::string OutputExtension(const COutputFormat& format, const std::string& source) {
  const char* ext = format.Extension();
  return ext && *ext ? std::string(ext) : FindExtension(source);
}

// True when output exists and was modified after source: a file converted
// before, by an earlier run of the same job.
bool OutputIsCurrent(const std::string& source, const std::string& output) {
  struct stat in {}, out {};
  if (::stat(source.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return false;
  if (!S_ISREG(out.st_mode)) return false;
  if (out.st_mtim.tv_sec != in.st_mtim.tv_sec) return out.st_mtim.tv_sec > in.st_mtim.tv_sec;
  return out.st_mtim.tv_nsec > in.st_mtim.tv_nsec;
}

uint64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// Hands the outcome of one file to the job's report.
void ReportFile(const CConversionJob& job, const COutputFormat& format, const FileTask& task,
                FileResult& result) {
  result.source = task.source;
  result.output = task.outputBase;
  // A failed file's output base has no extension yet: name the file it was
  // meant to become.
  if (result.status != FileResult::Status::Converted && !task.reused && !result.output.empty())
    result.output += OutputExtension(format, task.source);
  result.widthIn = task.widthIn;
  result.heightIn = task.heightIn;
  if (result.status == FileResult::Status::Converted) {
    result.widthOut = task.widthOut;
    result.heightOut = task.heightOut;
    result.bytes = FileSizeOf(result.output);
  }
  result.milliseconds = task.milliseconds;
  job.onFileFinished(result);
}

// Ends the job: signals the done event and lets the progress display close.
void SignalDone(CConversionJob* job) {
  job->doneEvent->Set();
  job->abortEvent->Reset();
  job->host->Pump();
}

}  // namespace

int ConversionThreadProc(CConversionJob* job) {
  // Picture-sized blocks come straight from the system and go back to it
  // when freed. Otherwise the allocator raises its threshold after the
  // first large block and keeps freed pictures in the arenas of the helper
  // threads, and a file retried alone after running out of memory would
  // still not get the memory the others gave up.
  static const bool largeBlocksMapped = mallopt(M_MMAP_THRESHOLD, 4 << 20) != 0;
  (void)largeBlocksMapped;
  IConversionHost* host = job->host;
  CSettings& s = *job->settings;
  const size_t n = job->fileList.size();

  if (n == 0) {
    SignalDone(job);
    return 1;
  }

  ConvertedCount = 0;
  ErrorCount = 0;
  SkippedCount = 0;

  CImage image;
  COutputNamer namer(NamingOptionsFrom(s));
  Adjustment carried;
  carried.rotation = s.RotationMode;
  carried.flip = s.FlipMode;
  CJobStages stages(s, job->filters);
  stages.SetMainWindow(host->MainWindowId());
  COutputFormat& format = *s.OutputFormats[size_t(s.OutputFormatIndex())];
  const ResizeOptions resize = ResizeOptionsFrom(s);
  // The derived switch is the same for every file of the job.
  s.ApplyDimensions = ResizeApplies(resize) ? 1 : 0;
  // The interactive dialog can choose the camera's orientation for this and
  // every following file, so its jobs read the metadata too.
  // The tag watermark takes its text from the items read with the pixels.
  const JobContext ctx{s,
                       stages,
                       format,
                       resize,
                       s.KeepExisting != 0 || s.UseUserComment != 0 || s.RotationMode == 4 ||
                           s.Interactive != 0 || (s.WatermarksOn != 0 && s.Mode == 0),
                       !ResizeApplies(resize) && s.WatermarksOn == 0 &&
                           !AnyFilterEnabled(job->filters) && WritesInBands(format)};
  const std::string progressLabel = LoadResString(IDS_PROGRESS_LABEL);

  if (s.Interactive == 0) image.SetDecodeSizeHint(ShrinkOnLoadHint(resize, carried.rotation));
  // A sharded or resumed job names every file first and converts its part;
  // otherwise files are named as they come.
  const bool planned = job->shardCount > 1 || job->skipExisting;
  JobPart part;
  if (planned) {
    part = PlanJobPart(*job, namer);
    host->SetProgressRange(0, int(part.positions.size()));
  }
  const size_t m = planned ? part.positions.size() : n;  // files this run converts

  std::vector<FileTask> tasks(m);
  const unsigned helpers = LookaheadThreads(s, job->filters, m, job->threads);
  std::unique_ptr<CLookahead> lookahead;
  if (helpers > 0) lookahead = std::make_unique<CLookahead>(ctx, carried, helpers);
  const size_t ahead = helpers;  // files in flight beyond the current one
  size_t named = 0;
  bool watermarkProblemShown = false;  // said once per job

  // Gives the next file its output name (in order: a file that fails later
  // still uses up its number) and hands it to the helpers.
  auto nameNext = [&]() {
    FileTask& t = tasks[named];
    t.index = planned ? part.positions[named] : named;
    t.source = job->fileList[t.index];
    bool ok;
    if (planned) {
      t.outputBase = std::move(part.bases[named]);
      t.error = std::move(part.errors[named]);
      ok = !t.outputBase.empty();
    } else {
      ok = namer.MakeOutputBase(t.source, t.outputBase, t.error);
    }
    if (!ok) {
      t.outcome = FileTask::Outcome::LoadFailed;
      t.done = true;
    } else if (planned && job->skipExisting && part.unique[named] &&
               OutputIsCurrent(t.source, t.outputBase + OutputExtension(format, t.source))) {
      t.outputBase += OutputExtension(format, t.source);
      t.reused = true;
      t.outcome = FileTask::Outcome::Skipped;
      t.done = true;
    } else if (lookahead) {
      lookahead->Push(&t);
    }
    ++named;
  };

  int replaceSources = -1;  // not asked yet
  bool aborted = false;
  for (size_t i = 0; i < m && !aborted; ++i) {
    char caption[600];
    std::snprintf(caption, sizeof caption, "%s %zu / %zu", progressLabel.c_str(), i, m);
    host->SetProgressCaption(caption);
    host->SetFileText(job->fileList[planned ? part.positions[i] : i]);

    while (named < m && named <= i + ahead) nameNext();
    FileTask& task = tasks[i];

    if (lookahead) {
      if (!task.done) lookahead->Wait(&task);
    } else if (!task.done && s.Interactive == 0) {
      ProcessPicture(ctx, carried, image, task);
    } else if (!task.done) {
      // Interactive: the picture as read is shown, and the dialog's choices
      // orient and tone it (or skip the file).
      Clock::duration asking{};
      ProcessPicture(ctx, image, task, [&](CImage& picture, FileTask& t) {
        InteractiveRequest request;
        request.image = &picture;
        char suffix[700];
        std::snprintf(suffix, sizeof suffix, " - %s, %dx%d", t.source.c_str(),
                      picture.GetWidth(), picture.GetHeight());
        request.captionSuffix = suffix;
        request.brightness = carried.brightness;
        request.contrast = carried.contrast;
        request.rotation = carried.rotation;
        request.flip = carried.flip;
        request.items = &t.items;
        request.itemCount = t.itemCount;
        const Clock::time_point asked = Clock::now();
        const int result = host->ShowInteractive(request);
        asking = Clock::now() - asked;
        if (request.dontShowAgain) s.Interactive = 0;
        if (request.applyToAll) {
          carried.rotation = request.rotation;
          carried.flip = request.flip;
          carried.brightness = request.brightness;
          carried.contrast = request.contrast;
        }
        if (result == 5) return false;
        if (result == 1) {
          stages.Rotate(picture, request.rotation, t.items, t.itemCount);
          picture.Light(request.brightness, request.contrast);
          stages.Flip(picture, request.flip);
        }
        // Any other result: no rotation, flip or tone change for this file.
        return true;
      }, false);
      // The report times the picture work, not the person.
      task.milliseconds -= std::chrono::duration_cast<std::chrono::milliseconds>(asking).count();
      if (task.milliseconds < 0) task.milliseconds = 0;
    }

    if (!task.watermarkProblem.empty() && !watermarkProblemShown) {
      watermarkProblemShown = true;
      std::string text = UiText(
          "Не удалось прочитать картинку водяного знака %s. Файлы записываются без водяного "
          "знака.");
      const size_t at = text.find("%s");
      if (at != std::string::npos) text.replace(at, 2, task.watermarkProblem);
      host->Message(text, LoadResString(IDS_APP_NAME), Notice::Warning, Answer::Ok);
    }

    // Two large pictures decoded at once may not fit where each fits alone:
    // such a file is tried once more with nothing else in memory. The later
    // files in flight finish first; those that hold an encoded picture give
    // it up and are done again after the retry (the results are the same).
    if (lookahead && FailedForMemory(task)) {
      std::vector<size_t> again;
      for (size_t j = i + 1; j < named; ++j) {
        lookahead->Wait(&tasks[j]);
        if (tasks[j].outcome == FileTask::Outcome::Encoded || FailedForMemory(tasks[j])) {
          tasks[j] = UnprocessedCopy(tasks[j]);
          again.push_back(j);
        }
      }
      task = UnprocessedCopy(task);
      ProcessPicture(ctx, carried, image, task);
      image.Destroy();
      for (size_t j : again) lookahead->Push(&tasks[j]);
    }

    // An output that would replace the very file it is made from destroys
    // the user's original unless a backup keeps it: the host is asked once.
    if (task.outcome == FileTask::Outcome::Encoded && task.encoded.write &&
        task.encoded.result == 0 && s.Backup == 0 &&
        SameFile(task.source, task.outputBase + task.encoded.extension)) {
      if (replaceSources < 0) replaceSources = host->AllowReplacingSources() ? 1 : 0;
      if (replaceSources == 0) {
        task.outcome = FileTask::Outcome::LoadFailed;
        task.error = "the output would replace its own source file and backups are off";
      }
    }

    FileResult result;
    switch (task.outcome) {
      case FileTask::Outcome::Skipped:
        ++SkippedCount;
        result.status = FileResult::Status::Skipped;
        break;
      case FileTask::Outcome::LoadFailed:
      case FileTask::Outcome::Pending:
        ++ErrorCount;
        host->FileFailed(task.source, task.error);
        result.reason = task.error;
        break;
      case FileTask::Outcome::Encoded: {
        std::string error;
        bool cannotCreate = false;
        const Clock::time_point writeStart = Clock::now();
        uint8_t written = WriteOutput(task.encoded, task.outputBase, &task.items, task.itemCount,
                                      task.info.Options, &error, &cannotCreate);
        task.milliseconds += MillisecondsSince(writeStart);
        if (cannotCreate)
          host->Message(CannotCreateFileText(task.outputBase), std::string(), Notice::Error,
                        Answer::Ok);
        if (written != 0) {
          ++ErrorCount;
          result.reason = error.empty() ? task.encoded.error : error;
          host->FileFailed(task.source, result.reason);
        } else {
          result.status = FileResult::Status::Converted;
          job->writtenList.push_back(task.outputBase);
          ++ConvertedCount;
          host->Step();
        }
        break;
      }
    }
    if (job->onFileFinished) ReportFile(*job, format, task, result);
    // Release the file's buffers; the stop request is honoured after every
    // file, written or not.
    task = FileTask();
    task.done = true;
    aborted = job->abortEvent->IsSet();
  }
  lookahead.reset();

  const JobCounts counts{ConvertedCount, ErrorCount, SkippedCount};
  if (aborted)
    job->doneEvent->Set();
  else
    SignalDone(job);
  host->JobFinished(counts, aborted);
  return 0;
}
