// Mailing the written files through a stand-in xdg-email on PATH that
// records its arguments, and through the real one for its failure codes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "services/mail.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::Quote;
using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

namespace {

class Mail : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    fs::create_directories(tmp_ / "bin");
    log_ = tmp_ / "args";
    code_ = tmp_ / "code";
    // Records every argument, each ended by a NUL, and exits with the
    // code in the code file (0 without it).
    WriteFileText(tmp_ / "bin/xdg-email",
                  "#!/bin/sh\n"
                  "printf '%s\\0' \"$@\" > " + Quote(log_) + "\n"
                  "[ -f " + Quote(code_) + " ] && exec /bin/sh -c \"$(cat " + Quote(code_) + ")\"\n"
                  "exit 0\n");
    chmod((tmp_ / "bin/xdg-email").c_str(), 0755);
    UsePath(tmp_ / "bin" + ":/usr/bin:/bin");
  }
  void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

  void UsePath(const std::string& path) { setenv("PATH", path.c_str(), 1); }
  // What the stand-in is to do after recording: a shell command.
  void Then(const std::string& command) { WriteFileText(code_, command); }

  std::vector<std::string> RecordedArguments() {
    std::vector<std::string> args;
    std::string text = ReadFileText(log_);
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\0') {
        args.push_back(text.substr(start, i - start));
        start = i + 1;
      }
    }
    return args;
  }

  std::string File(const std::string& name) {
    std::string path = tmp_ / name;
    WriteFileText(path, "picture");
    return path;
  }

  TempDir tmp_;
  std::string savedPath_, log_, code_;
};

}  // namespace

TEST_F(Mail, AvailableOnlyWithAnExecutableXdgEmailOnPath) {
  EXPECT_TRUE(IsMailAvailable());
  EXPECT_EQ(FindProgramOnPath("xdg-email"), tmp_ / "bin/xdg-email");

  fs::create_directories(tmp_ / "empty");
  UsePath(tmp_ / "empty");
  EXPECT_FALSE(IsMailAvailable());
  EXPECT_EQ(SendResultsByMail({File("a.jpg")}), MailResult::NothingToSend);
  EXPECT_FALSE(fs::exists(log_));

  // A file of the name that cannot be run does not count, nor a folder.
  fs::create_directories(tmp_ / "noexec");
  WriteFileText(tmp_ / "noexec/xdg-email", "#!/bin/sh\n");
  fs::create_directories(tmp_ / "dir/xdg-email");
  UsePath(tmp_ / "noexec:" + tmp_ / "dir");
  EXPECT_FALSE(IsMailAvailable());
  UsePath(tmp_ / "noexec:" + tmp_ / "dir:" + tmp_ / "bin");
  EXPECT_EQ(FindProgramOnPath("xdg-email"), tmp_ / "bin/xdg-email");
}

TEST_F(Mail, SubjectBodyAndOneAttachmentPerFileInOrder) {
  std::vector<std::string> files = {File("with blank.jpg"), File("quote'\"s.png"),
                                    File("-dash.gif"), File("Фото $(x) `y`.tif")};
  EXPECT_EQ(SendResultsByMail(files), MailResult::Sent);
  std::vector<std::string> expected = {"--subject", "Images Converted by Lumaro", "--body",
                                       MailBody()};
  for (const auto& f : files) {
    expected.push_back("--attach");
    expected.push_back(f);
  }
  EXPECT_EQ(RecordedArguments(), expected);

  const std::string& body = MailBody();
  EXPECT_EQ(body.rfind("\n\n\n", 0), 0u);
  EXPECT_NE(body.find("Lumaro"), std::string::npos);
  EXPECT_NE(body.find("http://"), std::string::npos);
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 5);
}

TEST_F(Mail, RelativeNamesAreMadeAbsoluteSoNoneLooksLikeAnOption) {
  File("-rf.jpg");
  fs::path cwd = fs::current_path();
  fs::current_path(tmp_.path());
  MailResult r = SendResultsByMail({"-rf.jpg", "", "--help"});
  fs::current_path(cwd);
  EXPECT_EQ(r, MailResult::Sent);
  auto args = RecordedArguments();
  ASSERT_EQ(args.size(), 8u);
  EXPECT_EQ(args[5], tmp_ / "-rf.jpg");
  EXPECT_EQ(args[7], tmp_ / "--help");
}

TEST_F(Mail, EmptyListSendsNothing) {
  EXPECT_EQ(SendResultsByMail({}), MailResult::NothingToSend);
  EXPECT_EQ(SendResultsByMail({"", ""}), MailResult::NothingToSend);
  EXPECT_FALSE(fs::exists(log_));
  EXPECT_EQ(MailFailureText(MailResult::NothingToSend), "");
  EXPECT_EQ(MailFailureText(MailResult::Sent), "");
}

TEST_F(Mail, FailuresGiveTheirMessages) {
  const std::string file = File("a.jpg");
  Then("exit 3");  // no mail program xdg-email can use
  EXPECT_EQ(SendResultsByMail({file}), MailResult::InvalidClient);
  Then("exit 4");
  EXPECT_EQ(SendResultsByMail({file}), MailResult::SendFailed);
  Then("exit 1");
  EXPECT_EQ(SendResultsByMail({file}), MailResult::SendFailed);
  Then("kill -9 $$");
  EXPECT_EQ(SendResultsByMail({file}), MailResult::SendFailed);
  Then("exit 0");
  EXPECT_EQ(SendResultsByMail({file}), MailResult::Sent);

  // On PATH but cannot be started (its interpreter is missing).
  WriteFileText(tmp_ / "bin/xdg-email", "#!/nonexistent/interpreter\n");
  EXPECT_TRUE(IsMailAvailable());
  EXPECT_EQ(SendResultsByMail({file}), MailResult::LoadFailed);

  const std::string load = MailFailureText(MailResult::LoadFailed);
  const std::string invalid = MailFailureText(MailResult::InvalidClient);
  const std::string send = MailFailureText(MailResult::SendFailed);
  EXPECT_EQ(load, "Не удалось загрузить поддержку почтовой системы.");
  EXPECT_EQ(invalid, "Почтовая программа не найдена или не работает.");
  EXPECT_EQ(send, "Не удалось отправить сообщение.");
}

TEST_F(Mail, RealXdgEmailRefusingAMissingFileIsASendFailure) {
  if (!fs::exists("/usr/bin/xdg-email")) GTEST_SKIP() << "xdg-utils not installed";
  UsePath("/usr/bin:/bin");
  // xdg-email checks its attachments before it starts any mail program.
  EXPECT_EQ(SendResultsByMail({tmp_ / "gone.jpg"}), MailResult::SendFailed);
}
