#include "services/split.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "imaging/codecs/gif.h"
#include "imaging/image.h"
#include "formats/extensions.h"
#include "output/safe_write.h"
#include "services/strings.h"

namespace fs = std::filesystem;

namespace {

void Busy(const SplitCallbacks& callbacks, bool on) {
  if (callbacks.busy) callbacks.busy(on);
}

// Name and extension (with its dot) of the last component of path.
void SplitName(const std::string& path, std::string& name, std::string& extension) {
  const size_t slash = path.find_last_of('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = last.find_last_of('.');
  if (dot == std::string::npos) {
    name = last;
    extension.clear();
  } else {
    name = last.substr(0, dot);
    extension = last.substr(dot);
  }
}

std::string FormatDone(int written, int frames) {
  char text[512];
  std::snprintf(text, sizeof text, LoadResString(IDS_SPLIT_DONE).c_str(), written, frames);
  return text;
}

std::string FormatFolderFailed(const std::string& folder) {
  std::string text = LoadResString(IDS_CANNOT_CREATE_FOLDER);
  const size_t at = text.find("%1");
  if (at != std::string::npos) text.replace(at, 2, folder);
  return text;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

std::string SplitFrameName(const std::string& folder, const std::string& name, int number,
                           const std::string& extension) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.3d", number);
  return folder + name + "_" + digits + extension;
}

bool SplitFrames(const std::string& source, const std::string& folder,
                 const SplitCallbacks& callbacks, SplitOutcome* outcome) {
  SplitOutcome local;
  SplitOutcome& out = outcome ? *outcome : local;
  out = SplitOutcome();

  // An extension without a format code (".cur" among them) is refused
  // before the file is read.
  const int code = FormatFromExtension(source);
  if (code == FORMAT_UNKNOWN) return false;
  CImage first(source, code);
  if (!first.IsValid()) return false;

  std::string name, extension;
  SplitName(source, name, extension);
  std::string target = folder;
  if (!target.empty() && target.back() != '/') target += '/';

  out.frameCount = first.GetNumFrames();
  if (out.frameCount <= 1) {
    out.message = LoadResString(IDS_SPLIT_NOT_MULTIFRAME);
    return true;
  }
  first.Destroy();

  Busy(callbacks, true);
  CImage frame;
  std::vector<uint8_t> data;
  // A frame that does not load is skipped: saving the image object then
  // would write the previous frame again under this frame's name. The frames
  // come in one pass where the format allows it (GIF), so that a file of
  // many frames takes time linear in their number.
  auto write = [&](const CImage& image, int i) {
    const std::string frameName = SplitFrameName(target, name, i + 1, extension);
    data.clear();
    std::string reason;
    if (!image.Encode(data, code) || !WriteFileReplacing(frameName, data, reason)) return;
    ++out.written;
    out.files.push_back(frameName);
  };
  if (code == FORMAT_GIF) {
    int i = 0;
    LoadGifFrames(source, frame, [&](CImage& image) {
      if (i >= out.frameCount) return false;
      write(image, i++);
      return true;
    });
  } else {
    for (int i = 0; i < out.frameCount; ++i) {
      frame.SetFrame(i);
      if (frame.Load(source, code)) write(frame, i);
    }
  }
  Busy(callbacks, false);

  out.message = FormatDone(out.written, out.frameCount);
  return true;
}

SplitRunStatus RunSplit(const std::string& file, const std::string& folder,
                        const SplitCallbacks& callbacks, SplitOutcome* outcome) {
  SplitOutcome local;
  SplitOutcome& out = outcome ? *outcome : local;
  out = SplitOutcome();
  if (file.empty() || folder.empty() || !Exists(file)) return SplitRunStatus::NothingToDo;
  std::string target = folder;
  if (!IsDirectory(target)) {
    if (target.size() > 1 && target.back() == '/') target.pop_back();
    // A name taken by a file is refused here too: CreateDirectoryTree fails.
    if (!CreateDirectoryTree(target)) {
      out.message = FormatFolderFailed(folder);
      return SplitRunStatus::FolderNotCreated;
    }
  }
  if (!SplitFrames(file, target, callbacks, &out)) {
    out.message = LoadResString(IDS_SPLIT_FAILED);
    return SplitRunStatus::Failed;
  }
  return SplitRunStatus::Done;
}

int RunSplitCommand(const std::string& file, const std::string& folder) {
  if (file.empty() || folder.empty()) {
    std::fprintf(stderr, "%s\n", LoadResString(IDS_BATCH_USAGE).c_str());
    return 2;
  }
  if (!Exists(file)) {
    std::fprintf(stderr, "lumaro: %s: %s\n", file.c_str(),
                 UiText("Файл не найден").c_str());
    return 1;
  }
  // The result of a split goes to standard output, a failure to standard
  // error.
  SplitOutcome outcome;
  const SplitRunStatus status = RunSplit(file, folder, SplitCallbacks(), &outcome);
  const bool failed = status != SplitRunStatus::Done;
  if (!outcome.message.empty()) {
    if (failed)
      std::fprintf(stderr, "lumaro: %s: %s\n", file.c_str(), outcome.message.c_str());
    else
      std::printf("%s\n", outcome.message.c_str());
  }
  std::fflush(stdout);
  if (failed) return 1;
  // A file of one frame is no failure: there was nothing to split.
  if (outcome.frameCount <= 1) return 0;
  return outcome.written < outcome.frameCount ? 1 : 0;
}
