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

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/events.h"
#include "engine/host.h"
#include "engine/stages.h"
#include "imaging/image.h"
#include "imaging/output_format.h"
#include "imaging/resize.h"
#include "output/output_names.h"
#include "services/strings.h"
#include "settings/settings.h"

std::atomic<int> ConvertedCount{0};
std::atomic<int> ErrorCount{0};
std::atomic<int> SkippedCount{0};

namespace {

std::string FormatSummary(int converted, int errors, int skipped) {
  char buf[512];
  std::snprintf(buf, sizeof buf, LoadResString(IDS_SUMMARY).c_str(), converted, errors, skipped);
  return buf;
}

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
  Outcome outcome = Outcome::Pending;
  PropertyItemList items;
  int itemCount = 0;
  SourceInfo info;
  EncodedOutput encoded;
  bool done = false;
};

// Everything the picture steps of one job share; read-only while helpers run.
struct JobContext {
  CSettings& settings;
  CJobStages& stages;
  COutputFormat& format;
  ResizeOptions resize;
  bool readProperties;
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

// The picture steps of one file, from metadata to the encoded bytes.
// Orientation here is the non-interactive one (carried values).
void ProcessPicture(const JobContext& ctx, const Adjustment& carried, CImage& image,
                    FileTask& task) {
  task.items.clear();
  task.itemCount = ctx.readProperties ? ctx.stages.ReadProperties(task.source, task.items) : 0;
  // The writers of container formats build their EXIF block from the items.
  task.info.Items = &task.items;
  task.info.ItemCount = task.itemCount;
  image.SetFrame(0);
  if (!image.Load(task.source, FORMAT_UNKNOWN)) {
    task.outcome = FileTask::Outcome::LoadFailed;
    task.error = image.GetLastError();
    return;
  }
  task.info.FrameCount = image.GetNumFrames();
  task.info.SourceFormat = FormatFromExtension(task.source);
  task.info.SourceCodecOption = image.GetCodecOption(task.info.SourceFormat);

  // A JPEG may have been decoded smaller than stored (see SetDecodeSizeHint);
  // the target size is always computed from the stored size.
  const int decodedWidth = image.GetWidth(), decodedHeight = image.GetHeight();
  ctx.stages.Rotate(image, carried.rotation, task.items, task.itemCount);
  ctx.stages.Flip(image, carried.flip);
  if (carried.brightness != 0 || carried.contrast != 0)
    image.Light(carried.brightness, carried.contrast);
  const bool turned = decodedWidth != decodedHeight && image.GetWidth() == decodedHeight &&
                      image.GetHeight() == decodedWidth;
  const unsigned storedWidth = unsigned(image.GetStoredWidth());
  const unsigned storedHeight = unsigned(image.GetStoredHeight());
  ApplyResizeFrom(image, ctx.resize, turned ? storedHeight : storedWidth,
                  turned ? storedWidth : storedHeight);
  task.info.NotResized = ResizeApplies(ctx.resize) ? 0 : 1;
  if (ctx.settings.WatermarksOn != 0) ctx.stages.Watermark(image, task.source);
  // Only on the worker thread: helpers run when no filter is enabled.
  ctx.stages.RunFilters(image);
  ctx.format.Encode(image, task.source, task.info, task.encoded);
  task.outcome = FileTask::Outcome::Encoded;
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
unsigned LookaheadThreads(const CSettings& s, const CFilterList* filters, size_t files) {
  if (s.Interactive != 0 || AnyFilterEnabled(filters) || files < 2) return 0;
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min(cores, 4u);
}

// Ends the job: signals the done event and lets the progress display close.
void SignalDone(CConversionJob* job) {
  job->doneEvent->Set();
  job->abortEvent->Reset();
  job->host->Pump();
}

}  // namespace

int ConversionThreadProc(CConversionJob* job) {
  IConversionHost* host = job->host;
  SetCurrentHost(host);
  CSettings& s = *job->settings;
  const size_t n = job->fileList.size();

  if (n == 0) {
    SignalDone(job);
    SetCurrentHost(nullptr);
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
  COutputFormat& format = *s.OutputFormats[size_t(s.OutputFormatIndex())];
  const ResizeOptions resize = ResizeOptionsFrom(s);
  // The derived switch is the same for every file of the job.
  s.ApplyDimensions = ResizeApplies(resize) ? 1 : 0;
  const JobContext ctx{s, stages, format, resize,
                       s.KeepExisting != 0 || s.UseUserComment != 0 || s.RotationMode == 4};
  const std::string progressLabel = LoadResString(IDS_PROGRESS_LABEL);

  if (s.Interactive == 0) image.SetDecodeSizeHint(ShrinkOnLoadHint(resize, carried.rotation));
  std::vector<FileTask> tasks(n);
  const unsigned helpers = LookaheadThreads(s, job->filters, n);
  std::unique_ptr<CLookahead> lookahead;
  if (helpers > 0) lookahead = std::make_unique<CLookahead>(ctx, carried, helpers);
  const size_t ahead = helpers;  // files in flight beyond the current one
  size_t named = 0;

  // Gives the next file its output name (in order: a file that fails later
  // still uses up its number) and hands it to the helpers.
  auto nameNext = [&]() {
    FileTask& t = tasks[named];
    t.index = named;
    t.source = job->fileList[named];
    if (!namer.MakeOutputBase(t.source, t.outputBase, t.error)) {
      t.outcome = FileTask::Outcome::LoadFailed;
      t.done = true;
    } else if (lookahead) {
      lookahead->Push(&t);
    }
    ++named;
  };

  bool aborted = false;
  for (size_t i = 0; i < n && !aborted; ++i) {
    char caption[600];
    std::snprintf(caption, sizeof caption, "%s %zu / %zu", progressLabel.c_str(), i, n);
    host->SetProgressCaption(caption);
    host->SetFileText(job->fileList[i]);

    while (named < n && named <= i + ahead) nameNext();
    FileTask& task = tasks[i];

    if (lookahead) {
      if (!task.done) lookahead->Wait(&task);
    } else if (!task.done && s.Interactive == 0) {
      ProcessPicture(ctx, carried, image, task);
    } else if (!task.done) {
      // Interactive: load here, ask, then finish the picture on this thread.
      task.itemCount = ctx.readProperties ? stages.ReadProperties(task.source, task.items) : 0;
      task.info.Items = &task.items;
      task.info.ItemCount = task.itemCount;
      image.SetFrame(0);
      if (!image.Load(task.source, FORMAT_UNKNOWN)) {
        task.outcome = FileTask::Outcome::LoadFailed;
        task.error = image.GetLastError();
      } else {
        task.info.FrameCount = image.GetNumFrames();
        task.info.SourceFormat = FormatFromExtension(task.source);
        task.info.SourceCodecOption = image.GetCodecOption(task.info.SourceFormat);
        InteractiveRequest request;
        request.image = &image;
        char suffix[700];
        std::snprintf(suffix, sizeof suffix, " - %s, %dx%d", task.source.c_str(),
                      image.GetWidth(), image.GetHeight());
        request.captionSuffix = suffix;
        request.brightness = carried.brightness;
        request.contrast = carried.contrast;
        request.rotation = carried.rotation;
        request.flip = carried.flip;
        request.items = &task.items;
        request.itemCount = task.itemCount;
        int result = host->ShowInteractive(request);
        if (request.dontShowAgain) s.Interactive = 0;
        if (request.applyToAll) {
          carried.rotation = request.rotation;
          carried.flip = request.flip;
          carried.brightness = request.brightness;
          carried.contrast = request.contrast;
        }
        if (result == 5) {
          task.outcome = FileTask::Outcome::Skipped;
        } else {
          if (result == 1) {
            stages.Rotate(image, request.rotation, task.items, task.itemCount);
            image.Light(request.brightness, request.contrast);
            stages.Flip(image, request.flip);
          }
          // Any other result: no rotation, flip or tone change for this file.
          ApplyResize(image, resize);
          task.info.NotResized = ResizeApplies(resize) ? 0 : 1;
          if (s.WatermarksOn != 0) stages.Watermark(image, task.source);
          stages.RunFilters(image);
          format.Encode(image, task.source, task.info, task.encoded);
          task.outcome = FileTask::Outcome::Encoded;
        }
      }
    }

    switch (task.outcome) {
      case FileTask::Outcome::Skipped:
        ++SkippedCount;
        break;
      case FileTask::Outcome::LoadFailed:
      case FileTask::Outcome::Pending:
        ++ErrorCount;
        host->FileFailed(task.source, task.error);
        break;
      case FileTask::Outcome::Encoded: {
        std::string error;
        uint8_t result =
            format.Write(task.encoded, task.outputBase, &task.items, task.itemCount, &error);
        if (result != 0) {
          ++ErrorCount;
          host->FileFailed(task.source, error.empty() ? task.encoded.error : error);
        } else {
          job->writtenList.push_back(task.outputBase);
          ++ConvertedCount;
          host->Step();
        }
        break;
      }
    }
    // Release the file's buffers; the stop request is honoured after every
    // file, written or not.
    task = FileTask();
    task.done = true;
    aborted = job->abortEvent->IsSet();
  }
  lookahead.reset();

  const std::string summary = FormatSummary(ConvertedCount, ErrorCount, SkippedCount);
  if (aborted) {
    job->doneEvent->Set();
    host->MessageBox(summary, std::string(), MB_OK | MB_ICONINFORMATION);
  } else {
    SignalDone(job);
    host->MessageBox(summary, LoadResString(IDS_RESULTS_CAPTION), MB_OK | MB_ICONINFORMATION);
    host->ConversionDone();
  }
  SetCurrentHost(nullptr);
  return 0;
}
