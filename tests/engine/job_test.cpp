// Whole conversion jobs in-process over temporary trees, driven through the
// job start and the worker with a recording host.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <thread>

#include "engine/events.h"
#include "engine/host.h"
#include "engine/job_start.h"
#include "engine/stream_path.h"
#include "engine/worker.h"
#include "imaging/image.h"
#include "imaging/metadata.h"
#include "formats/output_format.h"
#include "imaging/property_items.h"
#include "output_helpers.h"
#include "output/write_output.h"
#include "settings/settings.h"
#include "camera_files.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::Identify;
using testing_support::MakePicture;
using testing_support::Quote;
using testing_support::RunOutput;
using testing_support::TempDir;

namespace {

class RecordingHost : public IConversionHost {
 public:
  void SetProgressRange(int low, int high) override {
    std::lock_guard<std::mutex> l(m);
    rangeLow = low;
    rangeHigh = high;
  }
  void SetProgressCaption(const std::string& text) override {
    std::lock_guard<std::mutex> l(m);
    captions.push_back(text);
  }
  void SetFileText(const std::string& text) override {
    std::lock_guard<std::mutex> l(m);
    fileTexts.push_back(text);
  }
  void Step() override {
    std::lock_guard<std::mutex> l(m);
    ++steps;
    if (stopAfterSteps > 0 && steps == stopAfterSteps) NamedEvent(kEventAbort).Set();
  }
  void Pump() override { ++pumps; }
  Answer Message(const std::string& text, const std::string& caption, Notice notice,
                 Answer defaultAnswer) override {
    std::lock_guard<std::mutex> l(m);
    messages.push_back({text, caption, notice, defaultAnswer});
    return notice == Notice::Question ? answer : Answer::Ok;
  }
  int ShowInteractive(InteractiveRequest& request) override {
    ++interactiveShown;
    request.dontShowAgain = interactiveDontShow;
    if (interactiveRotation >= 0) {
      request.rotation = interactiveRotation;
      request.applyToAll = true;
    }
    return interactiveResult;
  }
  void JobFinished(const JobCounts& counts, bool stopped) override {
    finished.push_back({counts, stopped});
    if (!stopped) ++doneCalls;
  }
  void FileFailed(const std::string& path, const std::string& reason) override {
    std::lock_guard<std::mutex> l(m);
    failures.push_back(path + ": " + reason);
  }

  struct Shown {
    std::string text, caption;
    Notice notice;
    Answer defaultAnswer;
  };
  struct Finish {
    JobCounts counts;
    bool stopped;
  };
  std::mutex m;
  int rangeLow = -1, rangeHigh = -1, steps = 0, pumps = 0, doneCalls = 0;
  int stopAfterSteps = 0;
  Answer answer = Answer::Yes;
  int interactiveShown = 0, interactiveResult = 2;
  bool interactiveDontShow = false;
  int interactiveRotation = -1;  // >= 0: chosen and applied to all
  std::vector<std::string> captions, fileTexts, failures;
  std::vector<Shown> messages;
  std::vector<Finish> finished;
};

std::vector<std::string> FilesUnder(const fs::path& root) {
  std::vector<std::string> out;
  if (!fs::exists(root)) return out;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CSettings& s = settings;
    s.ResetToDefaults();
    s.OutputFolder = (tmp.path() / "out").string() + "/";
    s.OutputFormat = 1;  // PNG: lossless, fast to check
    s.GdiplusAvailable = 0;
    src = tmp.path() / "src";
    fs::create_directories(src);
  }

  // Runs a job over the entries and waits for the worker.
  JobStartResult Run(const std::vector<std::string>& entries) {
    std::thread worker;
    JobStartResult r = StartConversion(job, settings, entries, host, nullptr, worker);
    if (worker.joinable()) worker.join();
    return r;
  }

  std::string Summary() const {
    return host.finished.empty() ? "" : FormatSummary(host.finished.back().counts);
  }

  CSettings settings;  // the fixture's own record, not the process-wide one
  TempDir tmp;
  fs::path src;
  RecordingHost host;
  CConversionJob job;
};

TEST_F(JobTest, ConvertsAFolderAndReportsTheSummary) {
  MakePicture((src / "b.bmp").string(), 40, 30, FORMAT_BMP);
  MakePicture((src / "A.png").string(), 20, 10, FORMAT_PNG);
  testing_support::WriteFileText((src / "notes.txt").string(), "not a picture");

  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(FilesUnder(tmp.path() / "out"), (std::vector<std::string>{"A.png", "b.png"}));
  EXPECT_EQ(Identify((tmp.path() / "out/b.png").string()), "PNG 40x30");
  EXPECT_EQ(host.rangeLow, 0);
  EXPECT_EQ(host.rangeHigh, 2);
  EXPECT_EQ(host.steps, 2);
  // Case-insensitive order: A before b. The caption counts files handled.
  ASSERT_EQ(host.captions.size(), 2u);
  EXPECT_EQ(host.captions[0], "Выполнено: 0 / 2");
  EXPECT_EQ(host.captions[1], "Выполнено: 1 / 2");
  EXPECT_EQ(host.fileTexts[0], (src / "A.png").string());
  EXPECT_EQ(Summary(), "Преобразовано 2 файлов, ошибок 0, пропущено 0");
  EXPECT_TRUE(host.messages.empty());
  ASSERT_EQ(host.finished.size(), 1u);
  EXPECT_FALSE(host.finished[0].stopped);
  EXPECT_TRUE(NamedEvent(kEventDone).IsSet());
  EXPECT_FALSE(NamedEvent(kEventAbort).IsSet());
  EXPECT_EQ(job.writtenList.size(), 2u);
}

TEST_F(JobTest, EmptyListEndsWithoutSummaryAndKeepsCounters) {
  ConvertedCount = 7;
  ASSERT_EQ(Run({(src / "missing").string()}), JobStartResult::Started);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_TRUE(host.finished.empty());
  EXPECT_EQ(ConvertedCount.load(), 7);
  EXPECT_TRUE(NamedEvent(kEventDone).IsSet());
}

TEST_F(JobTest, DamagedAndHostileFilesAreCountedAndTheJobGoesOn) {
  MakePicture((src / "good.png").string(), 8, 8, FORMAT_PNG);
  testing_support::WriteFileText((src / "broken.jpg").string(), "\xFF\xD8\xFF garbage");
  std::vector<uint8_t> png = testing_support::ReadFileBytes((src / "good.png").string());
  testing_support::WriteFileBytes((src / "cut.png").string(), png.data(), png.size() / 2);
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(Summary(), "Преобразовано 1 файлов, ошибок 2, пропущено 0");
  EXPECT_EQ(host.steps, 1);
  EXPECT_EQ(host.doneCalls, 1);
}

TEST_F(JobTest, KeptStructureWithPerFolderAndThroughNumbering) {
  CSettings& s = settings;
  MakePicture((src / "x/a.png").string(), 4, 4, FORMAT_PNG);
  MakePicture((src / "x/b.png").string(), 4, 4, FORMAT_PNG);
  MakePicture((src / "y/c.png").string(), 4, 4, FORMAT_PNG);
  s.IncludingSubfolders = 1;
  s.KeepSubfoldersStructure = 1;
  s.UseRename = 1;
  s.RenamePattern = "P_##";
  s.RenameStartFrom = 5;
  s.RenameThrough = 1;  // every output folder numbers on its own
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  // The source's whole absolute folder is rebuilt under the output folder.
  fs::path rebuilt = tmp.path() / "out" / fs::relative(src, "/");
  EXPECT_EQ(FilesUnder(rebuilt),
            (std::vector<std::string>{"x/P_05.png", "x/P_06.png", "y/P_05.png"}));

  fs::remove_all(tmp.path() / "out");
  s.RenameThrough = 0;  // one numbering through the job
  RecordingHost second;
  std::thread worker;
  ASSERT_EQ(StartConversion(job, s, {src.string()}, second, nullptr, worker),
            JobStartResult::Started);
  worker.join();
  EXPECT_EQ(FilesUnder(rebuilt),
            (std::vector<std::string>{"x/P_05.png", "x/P_06.png", "y/P_07.png"}));
}

TEST_F(JobTest, BackupsOverTwoRunsAndBesideTheSource) {
  CSettings& s = settings;
  MakePicture((src / "p.bmp").string(), 6, 6, FORMAT_BMP);
  s.OutputFolder = "";  // beside the source: asks first
  ASSERT_EQ(Run({(src / "p.bmp").string()}), JobStartResult::Started);
  ASSERT_FALSE(host.messages.empty());
  EXPECT_NE(host.messages[0].text.find("Не задана выходная директория"), std::string::npos);
  EXPECT_TRUE(fs::exists(src / "p.png"));
  EXPECT_FALSE(fs::exists(src / "p.bak"));
  auto first = testing_support::ReadFileBytes((src / "p.png").string());

  s.OutputFormat = 3;  // BMP over the source itself: the source is kept as p.bak
  ASSERT_EQ(Run({(src / "p.bmp").string()}), JobStartResult::Started);
  EXPECT_TRUE(fs::exists(src / "p.bak"));
  s.OutputFormat = 1;
  ASSERT_EQ(Run({(src / "p.bmp").string()}), JobStartResult::Started);
  // The second PNG run moved the first PNG to p.bak.
  EXPECT_EQ(testing_support::ReadFileBytes((src / "p.bak").string()), first);
}

TEST_F(JobTest, SourceReplacedByItsOwnOutputOnlyWithBackupOrConsent) {
  CSettings& s = settings;
  s.OutputFolder = src.string() + "/";
  s.OutputFormat = 5;  // keep the format: p.png would become p.png again
  s.Backup = 0;
  MakePicture((src / "p.png").string(), 6, 6, FORMAT_PNG);
  MakePicture((src / "q.png").string(), 6, 6, FORMAT_PNG);
  const auto original = testing_support::ReadFileBytes((src / "p.png").string());
  // The window's question has No as its default; answered No, both files
  // fail and the sources stay, and it is asked only once.
  host.answer = Answer::No;
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(Summary(), "Преобразовано 0 файлов, ошибок 2, пропущено 0");
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].notice, Notice::Question);
  EXPECT_EQ(host.messages[0].defaultAnswer, Answer::No);
  EXPECT_EQ(testing_support::ReadFileBytes((src / "p.png").string()), original);

  host.messages.clear();
  host.answer = Answer::Yes;
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(Summary(), "Преобразовано 2 файлов, ошибок 0, пропущено 0");
  EXPECT_FALSE(fs::exists(src / "p.bak"));

  // With backups on nothing is asked: the source is kept as the backup.
  host.messages.clear();
  host.answer = Answer::No;
  s.Backup = 1;
  const auto before = testing_support::ReadFileBytes((src / "q.png").string());
  ASSERT_EQ(Run({(src / "q.png").string()}), JobStartResult::Started);
  EXPECT_EQ(Summary(), "Преобразовано 1 файлов, ошибок 0, пропущено 0");
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(testing_support::ReadFileBytes((src / "q.bak").string()), before);
}

TEST_F(JobTest, PipesAndFilesChangingUnderTheJobFailAlone) {
  MakePicture((src / "good.png").string(), 8, 8, FORMAT_PNG);
  ASSERT_EQ(mkfifo((src / "x.jpg").c_str(), 0644), 0);
  EXPECT_TRUE(testing_support::FinishesWithin(60, [&] {
    return Run({src.string()}) == JobStartResult::Started &&
           Summary() == "Преобразовано 1 файлов, ошибок 1, пропущено 0";
  }));

  // A source cut short while it is decoded (here from the decoder's size
  // hint, in the middle of the decode) is the decoder's business alone.
  const std::string big = (src / "big.jpg").string();
  MakePicture(big, 1200, 900, FORMAT_JPG);
  EXPECT_TRUE(testing_support::FinishesWithin(60, [&] {
    CImage image;
    image.SetDecodeSizeHint([&](int, int, int&, int&) {
      if (truncate(big.c_str(), 100) != 0) std::abort();
    });
    image.Load(big, FORMAT_UNKNOWN);
    return true;
  }));
}

TEST_F(JobTest, AnsweringNoToAQuestionStartsNothing) {
  settings.OutputFolder = "";
  host.answer = Answer::No;
  NamedEvent(kEventDone).Set();
  EXPECT_EQ(Run({src.string()}), JobStartResult::Declined);
  EXPECT_TRUE(NamedEvent(kEventDone).IsSet());  // events untouched
}

TEST_F(JobTest, OutputFolderThatCannotBeCreatedShowsMessage145) {
  testing_support::WriteFileText((tmp.path() / "file").string(), "x");
  settings.OutputFolder = (tmp.path() / "file/sub/").string();
  EXPECT_EQ(Run({src.string()}), JobStartResult::FolderFailed);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text,
            "Не удалось создать директорию " + (tmp.path() / "file/sub/").string());
}

TEST_F(JobTest, KeepFormatWritesTheSourceFormatUnderItsOwnExtension) {
  CSettings& s = settings;
  s.OutputFormat = 5;
  MakePicture((src / "a.Bmp").string(), 5, 3, FORMAT_BMP);
  MakePicture((src / "b.png").string(), 5, 3, FORMAT_PNG);
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(FilesUnder(tmp.path() / "out"), (std::vector<std::string>{"a.Bmp", "b.png"}));
  EXPECT_EQ(Identify((tmp.path() / "out/a.Bmp").string()).substr(0, 3), "BMP");
}

TEST_F(JobTest, KeepFormatWritesHeicAsHeicAndFailsRawWithAReason) {
  CSettings& s = settings;
  s.OutputFormat = 5;
  ASSERT_TRUE(camera_files::MakeOrientedHeic((src / "phone.HEIC").string(), 32, 16, 1));
  ASSERT_TRUE(camera_files::MakeTestDng((src / "shot.dng").string(), 32, 24, 1));
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(FilesUnder(tmp.path() / "out"), (std::vector<std::string>{"phone.HEIC"}));
  EXPECT_NE(RunOutput("heif-info " + Quote((tmp.path() / "out/phone.HEIC").string())).find("32x16"),
            std::string::npos);
  EXPECT_EQ(Summary(), "Преобразовано 1 файлов, ошибок 1, пропущено 0");
  ASSERT_EQ(host.failures.size(), 1u);
  EXPECT_EQ(host.failures[0], (src / "shot.dng").string() + ": RAW: writing is not supported");
}

TEST_F(JobTest, TurnedHeicIsTurnedOnceAndKeepsOrientationOne) {
  CSettings& s = settings;
  s.GdiplusAvailable = 1;
  s.RotationMode = 4;  // by the orientation tag
  s.KeepExisting = 1;
  s.OutputFormat = 0;  // JPEG
  ASSERT_TRUE(camera_files::MakeOrientedHeic((src / "turned.heic").string(), 40, 20, 6));
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  const std::string out = (tmp.path() / "out/turned.jpg").string();
  EXPECT_EQ(Identify(out), "JPEG 20x40");
  EXPECT_EQ(RunOutput("exiftool -s3 -n -Orientation -Artist " + Quote(out)), "1\nTester\n");
}

// JPEG and PNG sources written as PNG or JPEG with nothing that needs the
// whole picture go through in bands: every kind of source gives the very
// bytes of the whole picture's way, and so does the job's file with its
// metadata (an orientation tag that is not applied stays in the output).
// Interlaced PNGs go whole.
TEST_F(JobTest, SourcesInBandsWriteTheBytesOfTheWholePicture) {
  CSettings& s = settings;
  s.GdiplusAvailable = 1;
  s.KeepExisting = 1;
  const std::string bmp = (tmp.path() / "pattern.bmp").string();
  const std::string conv = std::string(testing_support::ImConvert());
  struct Case {
    const char* name;
    int width, height;
    std::string make;  // command; %i the pattern, %o the source
    const char* ext = "jpg";
    bool bands = true;  // the source is read in bands
  } cases[] = {
      {"odd420", 101, 67, "cjpeg -quality 90 -outfile %o %i"},
      {"bands444", 333, 211, "cjpeg -quality 95 -sample 1x1 -outfile %o %i"},
      {"progressive", 150, 130, "cjpeg -progressive -outfile %o %i"},
      {"restart", 97, 80, "cjpeg -restart 1 -optimize -outfile %o %i"},
      {"grey", 75, 140, "cjpeg -grayscale -outfile %o %i"},
      {"onerow", 123, 1, "cjpeg -outfile %o %i"},
      {"cmyk", 66, 70, conv + " %i -colorspace CMYK -density 300 -units PixelsPerInch %o"},
      {"turned", 90, 40,
       "cjpeg -outfile %o %i && exiftool -q -overwrite_original -n -Orientation=6 "
       "-Artist=Tester %o"},
      {"rgba", 140, 150,
       conv + " %i -alpha set -channel A -fx i/w +channel -density 200 -units PixelsPerInch "
              "-define png:color-type=6 %o",
       "png"},
      {"rgb16", 70, 130, conv + " %i -depth 16 -define png:color-type=2 %o", "png"},
      {"palette", 99, 66, conv + " %i +dither -colors 40 -define png:color-type=3 %o", "png"},
      {"interlaced", 80, 90, conv + " %i -interlace PNG %o", "png", false},
  };
  CFormatPNG png;
  CFormatJPEG jpeg, jpegProgressive;
  jpegProgressive.Quality = 85;
  jpegProgressive.Progressive = 1;
  jpegProgressive.OptimizeHuffmanCoding = 0;
  jpegProgressive.Smoothing = 10;
  COutputFormat* formats[] = {&png, &jpeg, &jpegProgressive};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakePicture(bmp, c.width, c.height, FORMAT_BMP);
    const std::string source = (src / (std::string(c.name) + "." + c.ext)).string();
    std::string cmd = c.make;
    for (size_t at; (at = cmd.find("%i")) != std::string::npos;) cmd.replace(at, 2, Quote(bmp));
    for (size_t at; (at = cmd.find("%o")) != std::string::npos;) cmd.replace(at, 2, Quote(source));
    ASSERT_EQ(testing_support::Run(cmd), 0) << cmd;
    const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(source);

    for (size_t f = 0; f < std::size(formats); ++f) {
      COutputFormat* format = formats[f];
      SCOPED_TRACE(format->Name + " " + std::to_string(f));
      CImage whole;
      ASSERT_TRUE(whole.Decode(bytes.data(), bytes.size()));
      EncodedOutput expected, streamed;
      format->Encode(whole, source, SourceInfo(), expected);
      StreamedPicture picture;
      ASSERT_EQ(StreamPicture(bytes.data(), bytes.size(), *format, streamed, picture), c.bands);
      if (!c.bands) continue;  // written whole
      EXPECT_EQ(streamed.data, expected.data);
      EXPECT_EQ(streamed.extension, expected.extension);
      EXPECT_TRUE(streamed.metadata);
      EXPECT_EQ(picture.width, c.width);
      EXPECT_EQ(picture.height, c.height);
    }
  }
  fs::remove(bmp);
  // An interlaced PNG is written whole.
  png.Interlaced = 1;
  EncodedOutput none;
  StreamedPicture picture;
  const std::vector<uint8_t> odd = testing_support::ReadFileBytes((src / "odd420.jpg").string());
  EXPECT_FALSE(StreamPicture(odd.data(), odd.size(), png, none, picture));

  // The job: the metadata goes into the streamed bytes as into the whole
  // picture's, and the orientation tag stays as it was.
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(Summary(), "Преобразовано 12 файлов, ошибок 0, пропущено 0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = (src / (std::string(c.name) + "." + c.ext)).string();
    CImage whole;
    ASSERT_TRUE(whole.Load(source));
    PropertyItemList items;
    const int count = ReadAllProperties(source, items);
    SourceInfo info;
    info.NotResized = 1;
    info.Options = OutputOptionsFrom(s);
    std::string base = (tmp.path() / "whole" / c.name).string();
    fs::create_directories(tmp.path() / "whole");
    ASSERT_EQ(SaveOutput(*s.OutputFormats[1], whole, source, base, &items, count, info), 0);
    EXPECT_EQ(testing_support::ReadFileBytes((tmp.path() / "out" / c.name).string() + ".png"),
              testing_support::ReadFileBytes(base));
  }
  EXPECT_EQ(RunOutput("exiftool -s3 -n -Orientation -Artist " +
                      Quote((tmp.path() / "out/turned.png").string())),
            "6\nTester\n");
}

TEST_F(JobTest, StopIsHonouredAfterTheCurrentFile) {
  for (int i = 0; i < 5; ++i) MakePicture((src / ("f" + std::to_string(i) + ".png")).string(), 4, 4, FORMAT_PNG);
  host.stopAfterSteps = 2;
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(FilesUnder(tmp.path() / "out").size(), 2u);
  EXPECT_EQ(Summary(), "Преобразовано 2 файлов, ошибок 0, пропущено 0");
  EXPECT_EQ(host.doneCalls, 0);  // no "conversion done" after a stop
  EXPECT_TRUE(host.finished.back().stopped);
}

TEST_F(JobTest, ReadOnlyTargetWithoutBackupIsOverwritten) {
  CSettings& s = settings;
  s.Backup = 0;
  MakePicture((src / "r.png").string(), 9, 9, FORMAT_PNG);
  fs::create_directories(tmp.path() / "out");
  testing_support::WriteFileText((tmp.path() / "out/r.png").string(), "old");
  fs::permissions(tmp.path() / "out/r.png", fs::perms::owner_read | fs::perms::group_read);
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(Identify((tmp.path() / "out/r.png").string()), "PNG 9x9");
  EXPECT_EQ(Summary(), "Преобразовано 1 файлов, ошибок 0, пропущено 0");
}

TEST_F(JobTest, InteractiveSkipAndDoNotShowAgain) {
  CSettings& s = settings;
  s.Interactive = 1;
  MakePicture((src / "1.png").string(), 4, 4, FORMAT_PNG);
  MakePicture((src / "2.png").string(), 4, 4, FORMAT_PNG);
  host.interactiveResult = 5;  // skip
  host.interactiveDontShow = true;
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(host.interactiveShown, 1);
  EXPECT_EQ(s.Interactive, 0);
  EXPECT_EQ(Summary(), "Преобразовано 1 файлов, ошибок 0, пропущено 1");
}

// "By the camera's tag" chosen in the dialog for this and every following
// file turns both photos, though the settings never asked for it.
TEST_F(JobTest, InteractiveCameraRotationAppliedToAll) {
  CSettings& s = settings;
  s.GdiplusAvailable = InitMetadataSupport() ? 1 : 0;
  ASSERT_EQ(s.GdiplusAvailable, 1);
  s.Interactive = 1;
  for (const char* name : {"1.jpg", "2.jpg"}) {
    const std::string path = (src / name).string();
    MakePicture(path, 8, 4, FORMAT_JPG);
    ASSERT_EQ(testing_support::Run("exiftool -q -q -overwrite_original -Orientation#=6 " +
                                   Quote(path) + " >/dev/null 2>&1"),
              0);
  }
  host.interactiveResult = 1;  // convert with the changes
  host.interactiveRotation = 4;
  host.interactiveDontShow = true;
  ASSERT_EQ(Run({src.string()}), JobStartResult::Started);
  EXPECT_EQ(host.interactiveShown, 1);
  EXPECT_EQ(Identify((tmp.path() / "out/1.png").string()), "PNG 4x8");
  EXPECT_EQ(Identify((tmp.path() / "out/2.png").string()), "PNG 4x8");
}

TEST_F(JobTest, VanishedSourceFailsWithItsReasonAndResumeSkipsTheRest) {
  MakePicture((src / "a.png").string(), 6, 4, FORMAT_PNG);
  MakePicture((src / "c.png").string(), 3, 5, FORMAT_PNG);
  // Older than any output for sure: the file system's clock is coarse.
  for (const char* name : {"a.png", "c.png"})
    fs::last_write_time(src / name, fs::file_time_type::clock::now() - std::chrono::hours(1));
  // Collected, then gone before the worker reaches it.
  job.fileList = {(src / "a.png").string(), (src / "b.png").string(), (src / "c.png").string()};
  job.settings = &settings;
  job.host = &host;
  job.abortEvent = &NamedEvent(kEventAbort);
  job.doneEvent = &NamedEvent(kEventDone);
  job.skipExisting = true;
  std::vector<FileResult> results;
  job.onFileFinished = [&results](const FileResult& r) { results.push_back(r); };
  const std::string out = (tmp.path() / "out").string();
  fs::create_directories(out);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    results.clear();
    ConversionThreadProc(&job);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[1].status, FileResult::Status::Failed);
    EXPECT_FALSE(results[1].reason.empty());
    EXPECT_EQ(results[1].output, out + "/b.png");
    // The second run finds both outputs newer than their sources.
    const auto done = run == 0 ? FileResult::Status::Converted : FileResult::Status::Skipped;
    EXPECT_EQ(results[2].status, done);
    EXPECT_EQ(results[2].output, out + "/c.png");
    if (run == 0) {
      EXPECT_EQ(results[2].widthOut, 3);
      EXPECT_EQ(results[2].bytes, fs::file_size(out + "/c.png"));
    }
  }
  EXPECT_EQ(Summary(), "Преобразовано 0 файлов, ошибок 1, пропущено 2");
}

TEST(JobCollection, OrderAndSupportedExtensions) {
  TempDir tmp;
  fs::create_directories(tmp.path() / "b/deep");
  fs::create_directories(tmp.path() / "a");
  for (const char* name : {"b/Z.JPG", "a/z.jpg", "b/deep/x.tiff", "b/noext", "b/x.peg", "b/y.if",
                           "a/c.Png"})
    testing_support::WriteFileText((tmp.path() / name).string(), "x");
  // A link back up the tree is not followed twice.
  fs::create_directory_symlink(tmp.path(), tmp.path() / "b/deep/loop");

  auto flat = CollectJobFiles({(tmp.path() / "b").string()}, false);
  std::vector<std::string> rel;
  for (auto& f : flat) rel.push_back(fs::relative(f, tmp.path()).string());
  EXPECT_EQ(rel, (std::vector<std::string>{"b/noext", "b/Z.JPG"}));

  auto all = CollectJobFiles({tmp.path().string()}, true);
  rel.clear();
  for (auto& f : all) rel.push_back(fs::relative(f, tmp.path()).string());
  EXPECT_EQ(rel, (std::vector<std::string>{"a/c.Png", "a/z.jpg", "b/deep/x.tiff", "b/noext",
                                           "b/Z.JPG"}));
}

TEST(JobCollection, CaseInsensitiveComparisonFoldsCyrillic) {
  EXPECT_EQ(ComparePathsNoCase("/Фото/A.jpg", "/фото/a.JPG"), 0);
  EXPECT_LT(ComparePathsNoCase("/a/z.jpg", "/B/a.jpg"), 0);
  EXPECT_LT(ComparePathsNoCase("/a", "/a/b"), 0);
}

}  // namespace
