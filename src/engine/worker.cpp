#include "engine/worker.h"

#include <cstdio>
#include <memory>

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

std::string Format3(const std::string& pattern, int a, int b, int c) {
  char buf[512];
  std::snprintf(buf, sizeof buf, pattern.c_str(), a, b, c);
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
  o.KeepSubfoldersStructure = s.KeepSubfoldersStructure != 0;
  o.IncludingSubfolders = s.IncludingSubfolders != 0;
  o.UseRename = s.UseRename != 0;
  o.RenamePattern = s.RenamePattern;
  o.RenameThrough = s.RenameThrough != 0;
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

// Ends the job: signals the done event and lets the progress display close.
void SignalDone(CConversionJob* job, bool resetAbort) {
  job->doneEvent->Set();
  if (resetAbort) job->abortEvent->Reset();
  job->host->Pump();
}

}  // namespace

int ConversionThreadProc(CConversionJob* job) {
  IConversionHost* host = job->host;
  SetCurrentHost(host);
  CSettings& s = *job->settings;
  const int n = int(job->fileList.size());

  if (n == 0) {
    SignalDone(job, true);
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
  const std::string progressLabel = LoadResString(IDS_PROGRESS_LABEL);
  bool aborted = false;

  for (int i = 0; i < n && !aborted; ++i) {
    const std::string& source = job->fileList[size_t(i)];
    char caption[600];
    std::snprintf(caption, sizeof caption, "%s %d / %d", progressLabel.c_str(), i, n);
    host->SetProgressCaption(caption);
    host->SetFileText(source);

    // Output name first: a file that fails later still uses up its number.
    std::string outputBase, reason;
    if (!namer.MakeOutputBase(source, outputBase, reason)) {
      ++ErrorCount;
      host->FileFailed(source, reason);
      aborted = job->abortEvent->IsSet();
      continue;
    }

    // Metadata of the source, when a later stage needs it.
    PropertyItemList items;
    int itemCount = 0;
    if (s.KeepExisting != 0 || s.UseUserComment != 0 || s.RotationMode == 4)
      itemCount = stages.ReadProperties(source, items);

    image.SetFrame(0);
    if (!image.Load(source, FORMAT_UNKNOWN)) {
      ++ErrorCount;
      host->FileFailed(source, image.GetLastError());
      aborted = job->abortEvent->IsSet();
      continue;
    }

    SourceInfo info;
    info.FrameCount = image.GetNumFrames();
    info.SourceFormat = FormatFromExtension(source);
    info.SourceCodecOption = image.GetCodecOption(info.SourceFormat);

    // Orientation and tone.
    if (s.Interactive != 0) {
      InteractiveRequest request;
      request.image = &image;
      char suffix[700];
      std::snprintf(suffix, sizeof suffix, " - %s, %dx%d", source.c_str(), image.GetWidth(),
                    image.GetHeight());
      request.captionSuffix = suffix;
      request.brightness = carried.brightness;
      request.contrast = carried.contrast;
      request.rotation = carried.rotation;
      request.flip = carried.flip;
      request.items = &items;
      request.itemCount = itemCount;
      int result = host->ShowInteractive(request);
      if (request.dontShowAgain) s.Interactive = 0;
      if (request.applyToAll) {
        carried.rotation = request.rotation;
        carried.flip = request.flip;
        carried.brightness = request.brightness;
        carried.contrast = request.contrast;
      }
      if (result == 5) {
        ++SkippedCount;
        aborted = job->abortEvent->IsSet();
        continue;
      }
      if (result == 1) {
        stages.Rotate(image, request.rotation, items, itemCount);
        image.Light(request.brightness, request.contrast);
        stages.Flip(image, request.flip);
      }
    } else {
      stages.Rotate(image, carried.rotation, items, itemCount);
      stages.Flip(image, carried.flip);
      if (carried.brightness != 0 || carried.contrast != 0)
        image.Light(carried.brightness, carried.contrast);
    }

    // Resize.
    ResizeOptions resize = ResizeOptionsFrom(s);
    s.ApplyDimensions = ResizeApplies(resize) ? 1 : 0;
    ApplyResize(image, resize);
    info.NotResized = s.ApplyDimensions == 0 ? 1 : 0;

    // Watermark and filters.
    if (s.WatermarksOn != 0) stages.Watermark(image, source);
    stages.RunFilters(image);

    // Save.
    COutputFormat& format = *s.OutputFormats[size_t(s.OutputFormatIndex())];
    uint8_t result = format.Save(image, source, outputBase, &items, itemCount, info);
    if (result != 0) {
      ++ErrorCount;
      host->FileFailed(source, image.GetLastError());
    } else {
      job->writtenList.push_back(outputBase);
      ++ConvertedCount;
      host->Step();
    }
    // The stop request is honoured after every file, written or not.
    aborted = job->abortEvent->IsSet();
  }

  const std::string summary =
      Format3(LoadResString(IDS_SUMMARY), ConvertedCount, ErrorCount, SkippedCount);
  if (aborted) {
    job->doneEvent->Set();
    host->MessageBox(summary, std::string(), MB_OK | MB_ICONINFORMATION);
  } else {
    SignalDone(job, true);
    host->MessageBox(summary, LoadResString(IDS_RESULTS_CAPTION), MB_OK | MB_ICONINFORMATION);
    host->ConversionDone();
  }
  SetCurrentHost(nullptr);
  return 0;
}
