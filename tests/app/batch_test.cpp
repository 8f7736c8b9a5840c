// Batch mode as a user runs it: the lumaro program on temporary trees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/mount.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <regex>

#include "imaging/image.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::Identify;
using testing_support::MakePicture;
using testing_support::Program;
using testing_support::Quote;
using testing_support::RunOutput;
using testing_support::TempDir;

namespace {

using Result = testing_support::RunResult;
// Batch mode with its progress output (the tests pass --quiet where wanted).
constexpr auto Lumaro = &testing_support::LumaroConvert;

TEST(Batch, ConvertsWithSetAndFormatAndPrintsTheSummary) {
  TempDir tmp;
  MakePicture(tmp / "in/one.png", 200, 100);
  MakePicture(tmp / "in/two.png", 100, 200);
  Result r = Lumaro(tmp, "--quiet --output " + Quote(tmp / "out") +
                             " --format gif --set Dimensions.PercentsOrPixels=1"
                             " --set Dimensions.Width=50 --set Dimensions.Height=50 " +
                             Quote(tmp / "in"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Преобразовано 2 файлов, ошибок 0, пропущено 0\n");
  EXPECT_EQ(Identify(tmp / "out/one.gif"), "GIF 50x25");
  EXPECT_EQ(Identify(tmp / "out/two.gif"), "GIF 25x50");
  // The settings file given is read, never written.
  EXPECT_EQ(testing_support::ReadFileText(tmp / "settings.ini"), "[General]\n");
}

TEST(Batch, FailuresGiveExitCodeOneAndUsageErrorsTwo) {
  TempDir tmp;
  MakePicture(tmp / "in/ok.png", 10, 10);
  testing_support::WriteFileText(tmp / "in/bad.png", "\x89PNG\r\n\x1a\n broken");
  Result r = Lumaro(tmp, "--quiet --output " + Quote(tmp / "out") + " " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Преобразовано 1 файлов, ошибок 1, пропущено 0"), std::string::npos);
  EXPECT_NE(r.out.find("bad.png"), std::string::npos) << "the failed file is named, quiet or not";

  // A path that does not exist is a failure with its reason, also alone.
  r = Lumaro(tmp, "--output " + Quote(tmp / "out") + " " + Quote(tmp / "in/nosuch.png"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("nosuch.png: No such file or directory"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Преобразовано 0 файлов, ошибок 1, пропущено 0"), std::string::npos);

  fs::remove_all(tmp / "out");
  const std::string in = " " + Quote(tmp / "in");
  for (const std::string& args :
       {std::string("--output"), "--format nosuch" + in, std::string(), "--bogus" + in,
        "--shard 4/4" + in, "--shard 0/0" + in, "--shard 1" + in, "--shard 1/x" + in,
        "--shard -1/4" + in, "--shard auto/0" + in, "--jobs 0" + in, "--jobs two" + in,
        "--report" + in, "--report " + Quote(tmp / "no/such/folder/r.jsonl") + in,
        "--set Dimensions.Widht=1" + in, "--set PNG.Quality=1" + in}) {
    Result bad = Lumaro(tmp, "--output " + Quote(tmp / "out") + " " + args);
    EXPECT_EQ(bad.status, 2) << args << "\n" << bad.out;
  }
  EXPECT_FALSE(fs::exists(tmp / "out")) << "a usage error converts nothing";
}

// --help, --version and usage errors need no display; a usage error says
// what is wrong and shows the usage text, in one language.
TEST(Batch, HelpVersionAndUsageErrorsWithoutADisplay) {
  TempDir tmp;
  const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + Quote(Program());
  int status = -1;
  std::string out = RunOutput(noDisplay + " --help 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("lumaro --convert"), std::string::npos) << out;
  out = RunOutput(noDisplay + " --version 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.rfind("Lumaro III ", 0), 0u) << out;
  for (const char* args : {"--bogus", "-x", "--automation --nosuch", "--split only-one"}) {
    SCOPED_TRACE(args);
    out = RunOutput(noDisplay + " " + args + " 2>&1", &status);
    EXPECT_EQ(status, 2) << out;
    EXPECT_NE(out.find("lumaro --convert"), std::string::npos) << out;
  }
  out = RunOutput(noDisplay + " --bogus 2>&1", &status);
  EXPECT_EQ(out.rfind("lumaro: неизвестный параметр --bogus\nИспользование: lumaro --convert", 0), 0u)
      << out;

  // A settings file in English: the error and the usage text are English.
  MakePicture(tmp / "in/a.png", 4, 4);
  testing_support::WriteFileText(tmp / "settings.ini", "[General]\nLanguage=1\n");
  Result r = Lumaro(tmp, "--format nosuch " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.rfind("lumaro: unknown output format nosuch\nUsage: lumaro --convert", 0), 0u)
      << r.out;
  bool cyrillic = false;
  for (unsigned char c : r.out) cyrillic = cyrillic || c == 0xD0 || c == 0xD1;
  EXPECT_FALSE(cyrillic) << r.out;
}

// An empty settings file means the defaults, as for the default file.
TEST(Batch, EmptySettingsFileMeansTheDefaults) {
  TempDir tmp;
  MakePicture(tmp / "in/a.png", 6, 6);
  testing_support::WriteFileText(tmp / "settings.ini", "");
  Result r = Lumaro(tmp, "--quiet --output " + Quote(tmp / "out") + " " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Преобразовано 1 файлов, ошибок 0, пропущено 0\n");
  EXPECT_EQ(Identify(tmp / "out/a.jpg"), "JPEG 6x6");
  // A file that is not there is still an error.
  int status = -1;
  RunOutput(Quote(Program()) + " --convert --settings " + Quote(tmp / "none.ini") + " " +
                Quote(tmp / "in") + " 2>&1",
            &status);
  EXPECT_EQ(status, 2);
}

TEST(Batch, SourcesAreReplacedOnlyWithBackupOrWhenAskedTo) {
  TempDir tmp;
  MakePicture(tmp / "in/p.png", 12, 12);
  const auto original = testing_support::ReadFileBytes(tmp / "in/p.png");
  const std::string same = "--format keep --output " + Quote(tmp / "in") + " ";
  Result r = Lumaro(tmp, same + "--set General.Backup=0 " + Quote(tmp / "in/p.png"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("replace its own source"), std::string::npos) << r.out;
  EXPECT_EQ(testing_support::ReadFileBytes(tmp / "in/p.png"), original);

  r = Lumaro(tmp, same + "--set General.Backup=1 " + Quote(tmp / "in/p.png"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(testing_support::ReadFileBytes(tmp / "in/p.bak"), original);

  fs::remove(tmp / "in/p.bak");
  r = Lumaro(tmp, same + "--set General.Backup=0 --overwrite-sources " + Quote(tmp / "in/p.png"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::exists(tmp / "in/p.bak"));
}

TEST(Batch, PipesAndKilledJobsNeitherHangNorLeaveTemporaries) {
  TempDir tmp;
  for (int i = 0; i < 40; ++i) MakePicture(tmp / ("in/f" + std::to_string(i) + ".png"), 300, 300);
  ASSERT_EQ(mkfifo((tmp / "in/x.jpg").c_str(), 0644), 0);
  // A job killed at some point, then a complete one over the same folder.
  std::string command = Quote(Program()) + " --convert --quiet --settings " +
                        Quote(tmp / "settings.ini") + " --output " + Quote(tmp / "out") + " " +
                        Quote(tmp / "in");
  testing_support::WriteFileText(tmp / "settings.ini", "[General]\n");
  testing_support::Run("(" + command + " >/dev/null 2>&1 & sleep 0.5; kill -9 $!) 2>/dev/null");
  Result r = Lumaro(tmp, "--output " + Quote(tmp / "out") + " " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 1) << r.out;  // the FIFO fails, the rest converts
  EXPECT_NE(r.out.find("x.jpg: not a regular file"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Преобразовано 40 файлов, ошибок 1"), std::string::npos) << r.out;
  for (const auto& entry : fs::directory_iterator(tmp / "out"))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(Batch, EnglishLibraryGivesEnglishTexts) {
  TempDir tmp;
  MakePicture(tmp / "in/a.png", 10, 10);
  Result r = Lumaro(tmp, "--quiet --set General.Language=1 --output " + Quote(tmp / "out") +
                             " " + Quote(tmp / "in"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Converted 1 files, errors 0, skipped 0\n");
}

TEST(Batch, PathsWithBlanksCyrillicAndLeadingDashes) {
  TempDir tmp;
  MakePicture(tmp / "Мои фото/-снимок 1.png", 12, 8);
  Result r = Lumaro(tmp, "--quiet --format bmp --output " + Quote(tmp / "вывод 1") + " -- " +
                             Quote(tmp / "Мои фото/-снимок 1.png"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(Identify(tmp / "вывод 1/-снимок 1.bmp").find("BMP3 12x8"), std::string::npos);
}

TEST(Batch, FullOutputFolderGivesMessage124AndLosesNothing) {
  TempDir tmp;
  fs::create_directories(tmp.path() / "full");
  if (mount("tmpfs", (tmp / "full").c_str(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here";
  // An existing output that must survive the failed write.
  testing_support::WriteFileText(tmp / "full/big.bmp", "previous output");
  MakePicture(tmp / "in/big.png", 300, 300);  // 270 KB as BMP
  Result r = Lumaro(tmp, "--format bmp --output " + Quote(tmp / "full") + " " +
                             Quote(tmp / "in/big.png"));
  std::string previous = testing_support::ReadFileText(tmp / "full/big.bmp");
  std::vector<std::string> left;
  for (auto& e : fs::directory_iterator(tmp.path() / "full")) left.push_back(e.path().filename());
  umount((tmp / "full").c_str());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Не удалось создать файл " + (tmp / "full/big")), std::string::npos) << r.out;
  EXPECT_EQ(previous, "previous output");
  // The old output is intact; the new content did not fit, so nothing was
  // replaced and no backup was needed. No temporary file is left.
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"big.bmp"}));
}

// Every file under root with its bytes, by path relative to root. Temporary
// files that a killed run may leave beside a target are not outputs.
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> out;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().extension() != ".tmp")
      out[fs::relative(e.path(), root).string()] = testing_support::ReadFileText(e.path());
  return out;
}

// Converted, failed, skipped of the summary line(s) in a batch run's output.
std::vector<int> Counts(const std::string& out) {
  std::vector<int> sum{0, 0, 0};
  static const std::regex kSummary("Преобразовано (\\d+) файлов, ошибок (\\d+), пропущено (\\d+)");
  for (std::sregex_iterator it(out.begin(), out.end(), kSummary), end; it != end; ++it)
    for (int k = 0; k < 3; ++k) sum[size_t(k)] += std::stoi((*it)[k + 1]);
  return sum;
}

// Checks JSON Lines reports against the output tree: every line parses,
// the last file converted into every name has the bytes and PNG size reported, failed
// files name a reason and left no output, and the summary lines agree with
// the file lines. Prints the summed counts, or what is wrong.
const char kCheckReports[] = R"(
import json, os, struct, sys
sums = [0, 0, 0]
files = {"converted": 0, "failed": 0, "skipped": 0}
written = {}
for path in sys.argv[1:]:
    for number, text in enumerate(open(path, encoding="utf-8"), 1):
        line = json.loads(text)
        if line.get("summary"):
            sums = [a + line[k] for a, k in zip(sums, ("converted", "failed", "skipped"))]
            continue
        status = line["status"]
        files[status] += 1
        out = line["output"]
        if status == "converted":
            if line["width_in"] <= 0 or line["ms"] < 0:
                sys.exit("%s:%d: sizes or time missing" % (path, number))
            written[out] = (path, number, line)  # a later file of one name replaces it
        elif status == "failed" and (not line["reason"] or (out and os.path.exists(out))):
            sys.exit("%s:%d: failure without reason, or with an output" % (path, number))
for out, (path, number, line) in written.items():
    data = open(out, "rb").read()
    w, h = struct.unpack(">II", data[16:24])
    if len(data) != line["bytes"] or (w, h) != (line["width_out"], line["height_out"]):
        sys.exit("%s:%d: %s does not match" % (path, number, out))
if sums != [files["converted"], files["failed"], files["skipped"]]:
    sys.exit("summary %s but file lines %s" % (sums, files))
print(sums[0], sums[1], sums[2], len(written))
)";

// A tree with subfolders, one damaged picture and two sources that give the
// same output name (a.bmp and a.png both become a.png, the second with a
// backup of the first).
void MakeMixedTree(const TempDir& tmp, int extra) {
  MakePicture(tmp / "in/top.png", 9, 7);
  MakePicture(tmp / "in/x/a.png", 12, 5);
  CImage bmp;
  ASSERT_TRUE(bmp.Create(5, 12, 24));
  ASSERT_TRUE(bmp.Save(tmp / "in/x/a.bmp", FORMAT_BMP));
  MakePicture(tmp / "in/x/b.png", 6, 6);
  MakePicture(tmp / "in/y/c.png", 7, 3);
  testing_support::WriteFileText(tmp / "in/y/damaged.png", "\x89PNG\r\n\x1a\n cut off");
  for (int i = 0; i < extra; ++i)
    MakePicture(tmp / ("in/y/z/p" + std::to_string(i) + ".png"), 40 + i, 30);
}

const std::string kKeepTree =
    " --format png --set General.IncludingSubfolders=1"
    " --set General.KeepSubfoldersStructure=1 ";

TEST(Batch, FourShardsWriteWhatOneRunWrites) {
  TempDir tmp;
  MakeMixedTree(tmp, 6);
  const std::string in = Quote(tmp / "in");
  // Through numbering, per-folder numbering with the folder's name, and no
  // renaming (where a.bmp and a.png meet in one name).
  for (const std::string& naming :
       {std::string("--set General.UseRename=1 --set General.RenamePattern=P_## "
                    "--set General.RenameThrough=0 --set General.RenameStartFrom=3"),
        std::string("--set General.UseRename=1 --set General.RenamePattern=^_# "
                    "--set General.RenameThrough=1"),
        std::string("--set General.UseRename=0")}) {
    SCOPED_TRACE(naming);
    fs::remove_all(tmp / "one");
    fs::remove_all(tmp / "shards");
    fs::remove_all(tmp / "reports");
    fs::create_directories(tmp / "reports");
    Result one = Lumaro(tmp, "--quiet --output " + Quote(tmp / "one") + kKeepTree + naming + " " + in);
    EXPECT_EQ(one.status, 1) << one.out;
    // Later shards first, so that a file written by the wrong shard or in
    // the wrong order shows.
    std::vector<int> summed{0, 0, 0};
    for (int shard = 3; shard >= 0; --shard) {
      const std::string report = tmp / ("reports/" + std::to_string(shard) + ".jsonl");
      Result part = Lumaro(tmp, "--quiet --jobs 1 --shard " + std::to_string(shard) +
                                    "/4 --report " + Quote(report) + " --output " +
                                    Quote(tmp / "shards") + kKeepTree + naming + " " + in);
      EXPECT_LE(part.status, 1) << part.out;
      std::vector<int> counts = Counts(part.out);
      for (size_t k = 0; k < 3; ++k) summed[k] += counts[k];
    }
    EXPECT_EQ(summed, Counts(one.out));
    EXPECT_EQ(summed, (std::vector<int>{11, 1, 0}));
    auto expected = Tree(tmp / "one");
    EXPECT_EQ(Tree(tmp / "shards"), expected);
    EXPECT_EQ(expected.size(), 11u) << "where two meet in one name, a backup takes a place";

    std::string reports;
    for (int shard = 0; shard < 4; ++shard)
      reports += " " + Quote(tmp / ("reports/" + std::to_string(shard) + ".jsonl"));
    testing_support::WriteFileText(tmp / "check.py", kCheckReports);
    int status = -1;
    std::string checked =
        RunOutput("python3 " + Quote(tmp / "check.py") + reports + " 2>&1", &status);
    EXPECT_EQ(status, 0) << checked;
    // Two sources converted into one name: eleven converted, ten files.
    EXPECT_EQ(checked, naming.find("UseRename=0") != std::string::npos ? "11 1 0 10\n"
                                                                         : "11 1 0 11\n");
  }
}

TEST(Batch, KilledRunResumedWithSkipExistingEndsLikeOneRun) {
  TempDir tmp;
  MakeMixedTree(tmp, 40);
  const std::string command = "--quiet --skip-existing" + kKeepTree + " " + Quote(tmp / "in");
  const auto start = std::chrono::steady_clock::now();
  Result whole = Lumaro(tmp, "--output " + Quote(tmp / "whole") + " " + command);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(whole.status, 1) << whole.out;

  std::mt19937 random{std::random_device()()};
  const double killAfter = std::uniform_real_distribution<double>(0.05, seconds)(random);
  SCOPED_TRACE("killed after " + std::to_string(killAfter) + " s");
  int status = -1;
  RunOutput("timeout -s KILL " + std::to_string(killAfter) + " " + Quote(Program()) +
                " --convert --settings " + Quote(tmp / "settings.ini") + " --output " +
                Quote(tmp / "resumed") + " " + command + " >/dev/null 2>&1",
            &status);
  Result resumed = Lumaro(tmp, "--output " + Quote(tmp / "resumed") + " " + command);
  EXPECT_EQ(resumed.status, 1) << resumed.out;
  std::vector<int> counts = Counts(resumed.out);
  EXPECT_EQ(counts[0] + counts[2], 45) << resumed.out;
  EXPECT_EQ(Tree(tmp / "resumed"), Tree(tmp / "whole"));

  // A third run over the finished tree converts only what shares a name,
  // and changes nothing.
  Result again = Lumaro(tmp, "--output " + Quote(tmp / "resumed") + " " + command);
  EXPECT_EQ(Counts(again.out), (std::vector<int>{2, 1, 43})) << again.out;
  EXPECT_EQ(Tree(tmp / "resumed"), Tree(tmp / "whole"));
}

TEST(Batch, ShardFromTheSchedulersEnvironment) {
  TempDir tmp;
  MakePicture(tmp / "in/a.png", 4, 4);
  const std::string settings = tmp / "settings.ini";
  testing_support::WriteFileText(settings, "[General]\n");
  struct Case {
    const char* env;
    const char* shard;
    const char* summary;  // shard fields of the report's summary line, "" = usage error
  } cases[] = {
      {"SLURM_ARRAY_TASK_ID=7 SLURM_ARRAY_TASK_MIN=4 SLURM_ARRAY_TASK_COUNT=4", "auto",
       "\"shard_index\":3,\"shard_count\":4"},
      {"SLURM_ARRAY_TASK_ID=10 SLURM_ARRAY_TASK_MIN=2 SLURM_ARRAY_TASK_STEP=4 "
       "SLURM_ARRAY_TASK_COUNT=3",
       "auto", "\"shard_index\":2,\"shard_count\":3"},
      {"SLURM_ARRAY_TASK_ID=4 SLURM_ARRAY_TASK_COUNT=4", "auto", ""},
      {"JOB_COMPLETION_INDEX=5", "auto/8", "\"shard_index\":5,\"shard_count\":8"},
      {"JOB_COMPLETION_INDEX=5", "auto", ""},
      {"JOB_COMPLETION_INDEX=8", "auto/8", ""},
      {"", "auto/8", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.env) + " " + c.shard);
    const std::string report = tmp / "report.jsonl";
    fs::remove(report);
    int status = -1;
    RunOutput("env -u SLURM_ARRAY_TASK_ID -u SLURM_ARRAY_TASK_MIN -u SLURM_ARRAY_TASK_STEP "
              "-u SLURM_ARRAY_TASK_COUNT -u JOB_COMPLETION_INDEX " +
                  std::string(c.env) + " " + Quote(Program()) + " --convert --settings " +
                  Quote(settings) + " --shard " + c.shard + " --report " + Quote(report) +
                  " --output " + Quote(tmp / "out") + " " + Quote(tmp / "in") + " 2>&1",
              &status);
    if (!*c.summary) {
      EXPECT_EQ(status, 2);
      continue;
    }
    EXPECT_EQ(status, 0);
    EXPECT_NE(testing_support::ReadFileText(report).find(c.summary), std::string::npos)
        << testing_support::ReadFileText(report);
  }
}

TEST(Batch, DeployScriptIsShellAndManifestIsAnIndexedJob) {
  const std::string deploy = std::string(LUMARO_TEST_DATA) + "/../../deploy";
  EXPECT_EQ(testing_support::Run("bash -n " + Quote(deploy + "/slurm-convert.sh")), 0);
  // The manifest parses, and its Job runs as many shards as it has
  // completions.
  int status = -1;
  std::string out = RunOutput(
      "python3 -c 'import re, sys, yaml\n"
      "docs = list(yaml.safe_load_all(open(sys.argv[1])))\n"
      "job = [d for d in docs if d[\"kind\"] == \"Job\"][0][\"spec\"]\n"
      "args = \" \".join(job[\"template\"][\"spec\"][\"containers\"][0][\"args\"])\n"
      "n = int(re.search(r\"--shard auto/(\\d+)\", args).group(1))\n"
      "print(job[\"completionMode\"], job[\"completions\"] == n)' " +
          Quote(deploy + "/k8s-convert-job.yaml") + " 2>&1",
      &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "Indexed True\n");
}

}  // namespace
