#include "services/mail.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "services/strings.h"
#include "settings/settings.h"

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// xdg-email's exit status when no mail program can take the message.
constexpr int kXdgOperationImpossible = 3;

}  // namespace

const std::string& MailBody() {
  static const std::string body = std::string("\n\n\n") +
                                  "These images were converted by Lumaro III, "
                                  "the batch image converter.\n"
                                  "Visit the program's home page: " +
                                  CSettings::kDefaultAddressHomePage + "\n";
  return body;
}

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = dirs.find(':', start);
    std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // An empty entry means the current folder.
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::string();
}

bool IsMailAvailable() { return !FindProgramOnPath(kMailProgram).empty(); }

std::vector<std::string> MailArguments(const std::vector<std::string>& files) {
  std::vector<std::string> args = {"--subject", kMailSubject, "--body", MailBody()};
  for (const std::string& file : files) {
    if (file.empty()) continue;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(file, ec);
    args.push_back("--attach");
    // An absolute path never starts with '-', so it cannot pass for an option.
    args.push_back(ec ? file : full.string());
  }
  return args;
}

MailResult SendResultsByMail(const std::vector<std::string>& files) {
  bool any = false;
  for (const std::string& file : files) any = any || !file.empty();
  if (!any || !IsMailAvailable()) return MailResult::NothingToSend;

  const std::string program = FindProgramOnPath(kMailProgram);
  if (program.empty()) return MailResult::LoadFailed;

  std::vector<std::string> args = MailArguments(files);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return MailResult::LoadFailed;

  int status = 0;
  pid_t done;
  do {
    done = waitpid(pid, &status, 0);
  } while (done < 0 && errno == EINTR);
  if (done != pid || !WIFEXITED(status)) return MailResult::SendFailed;
  switch (WEXITSTATUS(status)) {
    case 0: return MailResult::Sent;
    case kXdgOperationImpossible: return MailResult::InvalidClient;
    default: return MailResult::SendFailed;
  }
}

std::string MailFailureText(MailResult result) {
  switch (result) {
    case MailResult::LoadFailed:
      return UiText("Не удалось загрузить поддержку почтовой системы.");
    case MailResult::InvalidClient:
      return UiText("Почтовая программа не найдена или не работает.");
    case MailResult::SendFailed:
      return UiText("Не удалось отправить сообщение.");
    default:
      return std::string();
  }
}
