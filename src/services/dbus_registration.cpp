#include "services/dbus_registration.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// Single quotes for the bus's shell-like Exec parser; a quote inside
// becomes '\''.
std::string QuoteForExec(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

std::string DBusServicesFolder() {
  // A relative XDG_DATA_HOME is ignored, as the base directory rules say.
  const char* data = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data && data[0] == '/') {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home && home[0] ? home : "/") / ".local" / "share";
  }
  return (base / "dbus-1" / "services").string();
}

std::string AutomationServiceFilePath() {
  return (fs::path(DBusServicesFolder()) / (std::string(kAutomationServiceName) + ".service"))
      .string();
}

std::string AutomationServiceFileText(const std::string& programPath) {
  if (programPath.empty() || programPath.find_first_of("\n\r") != std::string::npos)
    return std::string();
  return std::string("[D-BUS Service]\n") + "Name=" + kAutomationServiceName + "\n" +
         "Exec=" + QuoteForExec(programPath) + " --automation\n";
}

bool RegisterAutomationServer(const std::string& programPath, std::string* error) {
  const std::string text = AutomationServiceFileText(programPath);
  if (text.empty()) {
    SetError(error, "the program path cannot be written into a service file");
    return false;
  }
  const fs::path target = AutomationServiceFilePath();
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    SetError(error, "cannot create " + target.parent_path().string() + ": " + ec.message());
    return false;
  }
  {
    // Already registered for this program: nothing to write.
    std::ifstream in(target, std::ios::binary);
    if (in && std::string(std::istreambuf_iterator<char>(in), {}) == text) return true;
  }
  const fs::path temp = target.string() + "." + std::to_string(getpid()) + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      out.close();
      fs::remove(temp, ec);
      SetError(error, "cannot write " + temp.string());
      return false;
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    SetError(error, "cannot write " + target.string() + ": " + ec.message());
    return false;
  }
  return true;
}

bool UnregisterAutomationServer(std::string* error) {
  const fs::path target = AutomationServiceFilePath();
  std::error_code ec;
  fs::remove(target, ec);
  if (ec) {
    SetError(error, "cannot remove " + target.string() + ": " + ec.message());
    return false;
  }
  return true;
}
