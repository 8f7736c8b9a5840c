// The D-Bus service file of the automation server: where it goes, what it
// says, writing and removing it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "services/dbus_registration.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

namespace {

class ServiceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("XDG_DATA_HOME", savedData_, hadData_);
    Save("HOME", savedHome_, hadHome_);
    setenv("XDG_DATA_HOME", tmp_.str().c_str(), 1);
  }
  void TearDown() override {
    Restore("XDG_DATA_HOME", savedData_, hadData_);
    Restore("HOME", savedHome_, hadHome_);
  }
  static void Save(const char* name, std::string& value, bool& had) {
    const char* v = std::getenv(name);
    had = v != nullptr;
    value = v ? v : "";
  }
  static void Restore(const char* name, const std::string& value, bool had) {
    if (had)
      setenv(name, value.c_str(), 1);
    else
      unsetenv(name);
  }

  TempDir tmp_;
  std::string savedData_, savedHome_;
  bool hadData_ = false, hadHome_ = false;
};

}  // namespace

TEST_F(ServiceFile, PathFollowsXdgDataHomeOrHome) {
  EXPECT_EQ(AutomationServiceFilePath(), tmp_ / "dbus-1/services/Lumaro3.Application.service");
  setenv("HOME", "/home/someone", 1);
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DBusServicesFolder(), "/home/someone/.local/share/dbus-1/services");
  setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(DBusServicesFolder(), "/home/someone/.local/share/dbus-1/services");
  setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(DBusServicesFolder(), "/home/someone/.local/share/dbus-1/services");
}

TEST_F(ServiceFile, WrittenAndRemoved) {
  const std::string path = AutomationServiceFilePath();
  std::string error;
  ASSERT_TRUE(RegisterAutomationServer("/opt/lumaro/lumaro", &error)) << error;
  EXPECT_EQ(ReadFileText(path),
            "[D-BUS Service]\nName=Lumaro3.Application\nExec='/opt/lumaro/lumaro' --automation\n");
  // Writing again for another program replaces it; no temporary is left.
  ASSERT_TRUE(RegisterAutomationServer("/opt/it's here/lumaro", &error)) << error;
  EXPECT_EQ(ReadFileText(path), "[D-BUS Service]\nName=Lumaro3.Application\n"
                                "Exec='/opt/it'\\''s here/lumaro' --automation\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()), {}), 1);

  EXPECT_TRUE(UnregisterAutomationServer(&error)) << error;
  EXPECT_FALSE(fs::exists(path));
  // Removing what is not there is no failure.
  EXPECT_TRUE(UnregisterAutomationServer(&error)) << error;
}

TEST_F(ServiceFile, RefusedPathsAndUnwritableFolders) {
  EXPECT_EQ(AutomationServiceFileText("/a/b\nExec=/bin/evil"), "");
  EXPECT_EQ(AutomationServiceFileText(""), "");
  std::string error;
  EXPECT_FALSE(RegisterAutomationServer("/a/b\nc", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(AutomationServiceFilePath()));

  // The data folder is a file: nothing can be made under it.
  WriteFileText(tmp_ / "file", "x");
  setenv("XDG_DATA_HOME", (tmp_ / "file").c_str(), 1);
  error.clear();
  EXPECT_FALSE(RegisterAutomationServer("/opt/lumaro/lumaro", &error));
  EXPECT_FALSE(error.empty());

  // A read-only services folder (root may write anyway, so only when the
  // folder really refuses).
  setenv("XDG_DATA_HOME", tmp_.str().c_str(), 1);
  fs::create_directories(tmp_ / "dbus-1/services");
  chmod((tmp_ / "dbus-1/services").c_str(), 0555);
  if (access((tmp_ / "dbus-1/services").c_str(), W_OK) != 0) {
    EXPECT_FALSE(RegisterAutomationServer("/opt/lumaro/lumaro", &error));
  }
  chmod((tmp_ / "dbus-1/services").c_str(), 0755);
}
