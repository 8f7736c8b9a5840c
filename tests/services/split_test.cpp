// The multi-frame split over files made by ImageMagick, its frames read back
// by ImageMagick's identify and libtiff's tiffinfo.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/host.h"
#include "imaging/image.h"
#include "services/split.h"
#include "services/strings.h"
#include "imaging/codecs/gif.h"
#include "imaging/image.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::ImConvert;
using testing_support::ImIdentify;
using testing_support::Quote;
using testing_support::Run;
using testing_support::RunOutput;
using testing_support::TempDir;

namespace {

// Runs the split with callbacks that record the wait-cursor calls, and
// records the message each run leaves for the user.
struct Recorder {
  std::vector<std::string> messages;
  std::vector<bool> busy;
  SplitCallbacks Callbacks() {
    SplitCallbacks c;
    c.busy = [this](bool on) { busy.push_back(on); };
    return c;
  }
  template <typename Split>
  auto Record(SplitOutcome* outcome, Split split) {
    SplitOutcome local;
    SplitOutcome* out = outcome ? outcome : &local;
    const auto result = split(out);
    if (!out->message.empty()) messages.push_back(out->message);
    return result;
  }
  bool Frames(const std::string& source, const std::string& folder,
              SplitOutcome* outcome = nullptr) {
    return Record(outcome,
                  [&](SplitOutcome* o) { return SplitFrames(source, folder, Callbacks(), o); });
  }
  SplitRunStatus Run(const std::string& file, const std::string& folder,
                     SplitOutcome* outcome = nullptr) {
    return Record(outcome,
                  [&](SplitOutcome* o) { return RunSplit(file, folder, Callbacks(), o); });
  }
};

void Make(const std::string& arguments, const std::string& path) {
  ASSERT_EQ(Run(std::string(ImConvert()) + " " + arguments + " " + Quote(path)), 0) << path;
}

// identify's description of every image of a file: "format WxH" per line.
std::string Identify(const std::string& path) {
  return RunOutput(std::string(ImIdentify()) + " -format '%m %wx%h\\n' " + Quote(path) +
                   " 2>/dev/null");
}

// The colour of the top-left pixel, as ImageMagick names it.
std::string Pixel(const std::string& path) {
  return RunOutput(std::string(ImConvert()) + " " + Quote(path + "[0]") +
                   " -format '%[pixel:p{0,0}]' info: 2>/dev/null");
}

std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Done(int written, int frames) {
  char text[256];
  std::snprintf(text, sizeof text, LoadResString(IDS_SPLIT_DONE).c_str(), written, frames);
  return text;
}

}  // namespace

TEST(SplitFrameName, NumberAtLeastThreeDigits) {
  EXPECT_EQ(SplitFrameName("/f/", "walk", 1, ".gif"), "/f/walk_001.gif");
  EXPECT_EQ(SplitFrameName("/f/", "walk", 12, ".gif"), "/f/walk_012.gif");
  EXPECT_EQ(SplitFrameName("/f/", "walk", 1000, ".gif"), "/f/walk_1000.gif");
  EXPECT_EQ(SplitFrameName("", "ANIM", 2, ".GIF"), "ANIM_002.GIF");
}

TEST(SplitFrames, AnimatedGifGivesOneFilePerFrame) {
  TempDir tmp;
  const std::string source = tmp / "walk.gif";
  Make("-delay 10 -size 8x6 xc:red xc:lime xc:blue", source);
  const fs::path out = tmp.path() / "frames";
  fs::create_directory(out);

  Recorder rec;
  SplitOutcome outcome;
  ASSERT_TRUE(rec.Frames(source, out.string(), &outcome));
  EXPECT_EQ(outcome.frameCount, 3);
  EXPECT_EQ(outcome.written, 3);
  ASSERT_EQ(FilesIn(out), (std::vector<std::string>{"walk_001.gif", "walk_002.gif",
                                                     "walk_003.gif"}));
  const char* colours[] = {"red", "lime", "blue"};
  for (int i = 0; i < 3; ++i) {
    const std::string frame = (out / ("walk_00" + std::to_string(i + 1) + ".gif")).string();
    EXPECT_EQ(Identify(frame), "GIF 8x6\n") << frame;
    const std::string pixel = Pixel(frame);
    EXPECT_TRUE(pixel == colours[i] || (i == 1 && pixel == "srgb(0,255,0)") ||
                (i == 0 && pixel == "srgb(255,0,0)") || (i == 2 && pixel == "srgb(0,0,255)"))
        << frame << ": " << pixel;
  }
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0], Done(3, 3));
  EXPECT_EQ(rec.messages[0],
            "Последовательность изображений сохранена. Записано 3 из 3 кадров.");
  EXPECT_EQ(rec.busy, (std::vector<bool>{true, false}));
}

// A GIF of many 1x1 frames on a 4x4 screen, at changing places, with every
// disposal method in turn and a transparent index now and then.
std::vector<uint8_t> ManyFrameGif(int frames) {
  std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x81, 0, 0,
                            255, 0, 0, 0, 0, 255, 0, 255, 0, 255, 255, 255};
  for (int i = 0; i < frames; ++i) {
    const uint8_t disposal = uint8_t(i % 4), transparent = i % 7 == 3;
    b.insert(b.end(), {0x21, 0xF9, 4, uint8_t((disposal << 2) | transparent), 0, 0,
                       uint8_t(i % 4), 0});
    b.insert(b.end(), {0x2C, uint8_t(i % 4), 0, uint8_t((i / 4) % 4), 0, 1, 0, 1, 0, 0});
    // Clear, the pixel, end, as 3-bit codes.
    const unsigned codes = 4u | (unsigned(i % 4) << 3) | (5u << 6);
    b.insert(b.end(), {2, 2, uint8_t(codes & 0xFF), uint8_t(codes >> 8), 0});
  }
  b.push_back(0x3B);
  return b;
}

TEST(SplitFrames, ManyFramesComposeInLinearTimeAndAsLoaded) {
  TempDir tmp;
  // Composing every frame from the start again would take many minutes for
  // 20,000 frames. The frames go to memory (/dev/shm) where there is one:
  // flushing 20,000 files to a busy disk can take longer than that.
  const std::string many = tmp / "many.gif";
  const std::vector<uint8_t> big = ManyFrameGif(20000);
  testing_support::WriteFileBytes(many, big.data(), big.size());
  const std::string shm = "/dev/shm/lumaro-split-" + std::to_string(getpid());
  std::error_code ec;
  if (fs::create_directory(shm, ec)) {
    EXPECT_TRUE(testing_support::FinishesWithin(120, [&] {
      SplitOutcome outcome;
      return SplitFrames(many, shm, SplitCallbacks(), &outcome) && outcome.written == 20000;
    }));
    fs::remove_all(shm, ec);
  } else {
    EXPECT_TRUE(testing_support::FinishesWithin(120, [&] {
      CImage frame;
      int frames = 0;
      return LoadGifFrames(many, frame, [&](CImage&) { return ++frames > 0; }) &&
             frames == 20000;
    }));
  }

  // The frames a split writes in one pass are the frames a load of each
  // gives: every disposal method, transparency, frames at changing places.
  const std::string source = tmp / "anim.gif";
  const std::vector<uint8_t> gif = ManyFrameGif(40);
  testing_support::WriteFileBytes(source, gif.data(), gif.size());
  fs::create_directory(tmp.path() / "frames");
  SplitOutcome outcome;
  ASSERT_TRUE(SplitFrames(source, tmp / "frames", SplitCallbacks(), &outcome));
  ASSERT_EQ(outcome.written, 40);
  for (int i = 0; i < 40; ++i) {
    CImage loaded, written;
    loaded.SetFrame(i);
    ASSERT_TRUE(loaded.Load(source, FORMAT_GIF)) << loaded.GetLastError();
    const std::string name = SplitFrameName(tmp / "frames/", "anim", i + 1, ".gif");
    ASSERT_TRUE(written.Load(name, FORMAT_GIF)) << name;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        EXPECT_TRUE(loaded.GetPixelColor(x, y) == written.GetPixelColor(x, y))
            << name << " at " << x << "," << y;
  }
}

TEST(SplitFrames, ThreePageTiffKeepsEachPageSize) {
  TempDir tmp;
  const std::string source = tmp / "scan.tif";
  Make("-size 10x10 xc:red -size 20x10 xc:lime -size 5x7 xc:blue", source);
  Recorder rec;
  SplitOutcome outcome;
  // The folder given without a trailing slash.
  ASSERT_TRUE(rec.Frames(source, tmp.str(), &outcome));
  EXPECT_EQ(outcome.written, 3);
  const char* sizes[][2] = {{"10", "10"}, {"20", "10"}, {"5", "7"}};
  for (int i = 0; i < 3; ++i) {
    const std::string frame = tmp / ("scan_00" + std::to_string(i + 1) + ".tif");
    const std::string info = RunOutput("tiffinfo " + Quote(frame) + " 2>/dev/null");
    // One directory per frame file, with that page's size.
    size_t directories = 0;
    for (size_t at = info.find("TIFF Directory"); at != std::string::npos;
         at = info.find("TIFF Directory", at + 1))
      ++directories;
    EXPECT_EQ(directories, 1u) << info;
    EXPECT_NE(info.find(std::string("Image Width: ") + sizes[i][0] + " Image Length: " +
                        sizes[i][1]),
              std::string::npos)
        << info;
  }
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0], Done(3, 3));
}

// Points the strips of the second directory of a little-endian TIFF file
// past its end, so that page cannot be read.
void BreakSecondPage(const std::string& path) {
  std::vector<uint8_t> b = testing_support::ReadFileBytes(path);
  auto u16 = [&](size_t at) { return uint32_t(b.at(at) | (b.at(at + 1) << 8)); };
  auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
  const size_t first = u32(4);
  const size_t second = u32(first + 2 + u16(first) * 12);
  for (size_t i = 0, n = u16(second); i < n; ++i) {
    const size_t entry = second + 2 + i * 12;
    if (u16(entry) == 273) {
      for (size_t k = 0; k < 4; ++k) b.at(entry + 8 + k) = k == 3 ? 0x7F : 0xFF;
      testing_support::WriteFileBytes(path, b.data(), b.size());
      return;
    }
  }
  FAIL() << "no StripOffsets in the second directory";
}

TEST(SplitFrames, UnreadablePageIsNeitherWrittenNorCounted) {
  TempDir tmp;
  const std::string source = tmp / "scan.tif";
  Make("-size 10x10 xc:red -size 20x10 xc:lime -size 5x7 xc:blue", source);
  BreakSecondPage(source);
  Recorder rec;
  SplitOutcome outcome;
  ASSERT_TRUE(rec.Frames(source, tmp.str(), &outcome));
  EXPECT_EQ(outcome.frameCount, 3);
  EXPECT_EQ(outcome.written, 2);
  // The first page is not written again under the second page's name.
  EXPECT_FALSE(fs::exists(tmp / "scan_002.tif"));
  EXPECT_NE(RunOutput("tiffinfo " + Quote(tmp / "scan_003.tif") + " 2>/dev/null")
                .find("Image Width: 5 Image Length: 7"),
            std::string::npos);
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0], Done(2, 3));
}

TEST(SplitFrames, MultiImageIconGivesOneIconPerImage) {
  TempDir tmp;
  const std::string source = tmp / "app.ico";
  Make("-size 16x16 xc:red -size 32x32 xc:lime -size 48x48 xc:blue", source);
  SplitOutcome outcome;
  Recorder rec;
  ASSERT_TRUE(rec.Frames(source, tmp.str() + "/", &outcome));
  ASSERT_EQ(outcome.written, 3);
  EXPECT_EQ(Identify(tmp / "app_001.ico"), "ICO 16x16\n");
  EXPECT_EQ(Identify(tmp / "app_002.ico"), "ICO 32x32\n");
  EXPECT_EQ(Identify(tmp / "app_003.ico"), "ICO 48x48\n");
}

// An animated WebP splits like a GIF: each frame composed on the canvas,
// written as a WebP of its own (lossless, as the source is).
TEST(SplitFrames, AnimatedWebpGivesOneFilePerFrame) {
  TempDir tmp;
  std::string frames;
  const char* colours[] = {"red", "lime", "blue"};
  for (const char* colour : colours) {
    const std::string png = tmp / (std::string(colour) + ".png");
    Make("-size 8x6 xc:" + std::string(colour), png);
    frames += " " + Quote(png);
  }
  const std::string source = tmp / "walk.webp";
  ASSERT_EQ(testing_support::Run("img2webp -lossless -d 50" + frames + " -o " + Quote(source) +
                                 " >/dev/null 2>&1"),
            0);
  const fs::path out = tmp.path() / "frames";
  fs::create_directory(out);
  Recorder rec;
  SplitOutcome outcome;
  ASSERT_TRUE(SplitFrames(source, out.string(), rec.Callbacks(), &outcome));
  EXPECT_EQ(outcome.frameCount, 3);
  EXPECT_EQ(outcome.written, 3);
  ASSERT_EQ(FilesIn(out), (std::vector<std::string>{"walk_001.webp", "walk_002.webp",
                                                     "walk_003.webp"}));
  const char* pixels[] = {"srgb(255,0,0)", "srgb(0,255,0)", "srgb(0,0,255)"};
  for (int i = 0; i < 3; ++i) {
    const std::string frame = (out / ("walk_00" + std::to_string(i + 1) + ".webp")).string();
    CImage back;
    ASSERT_TRUE(back.Load(frame)) << back.GetLastError();
    EXPECT_EQ(back.GetNumFrames(), 1);
    const std::string pixel = Pixel(frame);
    EXPECT_TRUE(pixel == pixels[i] || pixel == colours[i]) << frame << ": " << pixel;
  }
}

TEST(SplitFrames, SingleFrameTiffWritesNothing) {
  TempDir tmp;
  const std::string source = tmp / "one.tif";
  Make("-size 9x9 xc:red", source);
  const fs::path out = tmp.path() / "out";
  Recorder rec;
  // Through the dialog's command: the missing folder is made, 139 follows
  // and no error message.
  EXPECT_EQ(rec.Run(source, out.string()), SplitRunStatus::Done);
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_EQ(rec.messages[0], LoadResString(IDS_SPLIT_NOT_MULTIFRAME));
  EXPECT_TRUE(fs::is_directory(out));
  EXPECT_TRUE(FilesIn(out).empty());
  EXPECT_TRUE(rec.busy.empty());
}

TEST(SplitFrames, CursorAndUnloadableFilesFail) {
  TempDir tmp;
  const std::string icon = tmp / "pointer.ico";
  Make("-size 16x16 xc:red -size 32x32 xc:lime", icon);
  const std::string cursor = tmp / "pointer.cur";
  fs::copy_file(icon, cursor);
  const std::string broken = tmp / "broken.gif";
  testing_support::WriteFileText(broken, "GIF89a not really");
  const fs::path out = tmp.path() / "out";

  for (const std::string& source : {cursor, broken}) {
    Recorder rec;
    EXPECT_FALSE(SplitFrames(source, out.string()));
    EXPECT_EQ(rec.Run(source, out.string()), SplitRunStatus::Failed);
    ASSERT_EQ(rec.messages.size(), 1u) << source;
    EXPECT_EQ(rec.messages[0], LoadResString(IDS_SPLIT_FAILED));
    EXPECT_TRUE(FilesIn(out).empty()) << source;
  }
}

TEST(SplitRun, UpperCaseExtensionNewNestedFolderAndSecondRun) {
  TempDir tmp;
  const std::string source = tmp / "ANIM.GIF";
  Make("-delay 10 -size 4x4 xc:red xc:lime", source);
  const fs::path out = tmp.path() / "a" / "b";
  Recorder rec;
  SplitOutcome outcome;
  ASSERT_EQ(rec.Run(source, out.string() + "/", &outcome),
            SplitRunStatus::Done);
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"ANIM_001.GIF", "ANIM_002.GIF"}));
  EXPECT_EQ(Identify((out / "ANIM_002.GIF").string()), "GIF 4x4\n");

  // The second run replaces the frames and leaves no temporaries.
  testing_support::WriteFileText((out / "ANIM_001.GIF").string(), "old");
  ASSERT_EQ(rec.Run(source, out.string(), &outcome), SplitRunStatus::Done);
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"ANIM_001.GIF", "ANIM_002.GIF"}));
  EXPECT_EQ(Identify((out / "ANIM_001.GIF").string()), "GIF 4x4\n");
  ASSERT_EQ(rec.messages.size(), 2u);
  EXPECT_EQ(rec.messages[1], Done(2, 2));
}

TEST(SplitRun, NothingToDoAndFolderThatCannotBeMade) {
  TempDir tmp;
  const std::string source = tmp / "walk.gif";
  Make("-delay 10 -size 4x4 xc:red xc:lime", source);
  Recorder rec;
  EXPECT_EQ(rec.Run("", tmp.str()), SplitRunStatus::NothingToDo);
  EXPECT_EQ(rec.Run(source, ""), SplitRunStatus::NothingToDo);
  EXPECT_EQ(rec.Run(tmp / "missing.gif", tmp.str()),
            SplitRunStatus::NothingToDo);
  EXPECT_TRUE(rec.messages.empty());

  // A folder below a plain file, and a folder name taken by a file.
  testing_support::WriteFileText(tmp / "plain", "x");
  for (const std::string& folder : {tmp / "plain/sub", tmp / "plain"}) {
    Recorder r;
    EXPECT_EQ(r.Run(source, folder), SplitRunStatus::FolderNotCreated);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0], "Не удалось создать директорию " + folder);
  }
}

TEST(SplitCommand, ExitCodes) {
  TempDir tmp;
  const std::string source = tmp / "walk.gif";
  Make("-delay 10 -size 4x4 xc:red xc:lime xc:blue", source);
  EXPECT_EQ(RunSplitCommand(source, tmp / "frames"), 0);
  EXPECT_EQ(FilesIn(tmp.path() / "frames").size(), 3u);
  const std::string single = tmp / "one.gif";
  Make("-size 4x4 xc:red", single);
  EXPECT_EQ(RunSplitCommand(single, tmp / "frames"), 0);
  fs::copy_file(source, tmp / "walk.cur");
  EXPECT_EQ(RunSplitCommand(tmp / "walk.cur", tmp / "frames"), 1);
  EXPECT_EQ(RunSplitCommand(tmp / "missing.gif", tmp / "frames"), 1);
  EXPECT_EQ(RunSplitCommand(source, ""), 2);
}
