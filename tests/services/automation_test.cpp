// The automation server as a client meets it: a private session bus started
// by the test, the lumaro program (a copy in its own program folder, drawn
// offscreen) started by the bus from the service file that --regserver
// wrote, or started with --automation, and clients on the bus.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "dbus_wire_client.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::DBusArg;
using testing_support::DBusReply;
using testing_support::DBusWireClient;
using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFileText;

extern char** environ;

namespace {

const char kService[] = "Lumaro3.Application";
const char kBus[] = "org.freedesktop.DBus";
const int kGraceMs = 4000;

// A child process with its own environment; killed if still running when
// the object goes.
class Child {
 public:
  Child() = default;
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& output) {
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(Child&& other) noexcept {
    Kill();
    pid_ = other.pid_;
    other.pid_ = -1;
    return *this;
  }

  // The exit status, or -1 when it did not end within the time (it is then
  // killed) or ended by a signal.
  int Wait(int timeoutMs) {
    if (pid_ < 0) return -1;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > end) {
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  bool Running() {
    if (pid_ < 0) return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  void Kill() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// True while a process exists and is not a zombie.
bool ProcessAlive(long pid) {
  std::string stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

template <typename F>
bool WaitFor(F condition, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class Automation : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* given = std::getenv("LUMARO_PROGRAM");
    const std::string built = given && *given ? given : std::string(LUMARO_PROGRAM_DIR) + "/lumaro";
    ASSERT_TRUE(fs::exists(built));
    for (const char* dir : {"prog", "data", "home", "config", "runtime"}) fs::create_directories(tmp_ / dir);
    fs::permissions(tmp_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    program_ = tmp_ / "prog/lumaro";
    fs::copy_file(built, program_);
    address_ = "unix:path=" + tmp_ / "bus";

    // The children see only this session: their own home, data and
    // configuration folders, the private bus, no display.
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      std::string name = entry.substr(0, entry.find('='));
      if (name == "HOME" || name.rfind("XDG_", 0) == 0 || name.rfind("DBUS_", 0) == 0 ||
          name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name.rfind("QT_", 0) == 0)
        continue;
      env_.push_back(entry);
    }
    env_.push_back("HOME=" + tmp_ / "home");
    env_.push_back("XDG_DATA_HOME=" + tmp_ / "data");
    env_.push_back("XDG_CONFIG_HOME=" + tmp_ / "config");
    env_.push_back("XDG_RUNTIME_DIR=" + tmp_ / "runtime");
    env_.push_back("QT_QPA_PLATFORM=offscreen");
    env_.push_back("DBUS_SESSION_BUS_ADDRESS=" + address_);
    // The grace period after the last client, shortened.
    env_.push_back("LUMARO_AUTOMATION_GRACE_MS=" + std::to_string(kGraceMs));

    // A program built without the desktop has no automation server.
    Child probe({program_, "--regserver"}, env_, tmp_ / "probe.log");
    int rc = probe.Wait(60000);
    if (ReadFileText(tmp_ / "probe.log").find("built without the desktop") != std::string::npos)
      GTEST_SKIP() << "lumaro was built without the desktop program";
    ASSERT_EQ(rc, 0) << ReadFileText(tmp_ / "probe.log");
  }

  void StartBus() {
    // The bus finds the service file in XDG_DATA_HOME of its environment.
    bus_ = Child({"dbus-daemon", "--session", "--nofork", "--address=" + address_}, env_, tmp_ / "bus.log");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(tmp_ / "bus"); }, 10000)) << ReadFileText(tmp_ / "bus.log");
  }

  // Runs lumaro with the arguments and waits for it to end.
  int RunLumaro(const std::vector<std::string>& args, std::vector<std::string> env = {}) {
    std::vector<std::string> argv = {program_};
    argv.insert(argv.end(), args.begin(), args.end());
    if (env.empty()) env = env_;
    Child child(argv, env, tmp_ / "lumaro.log");
    return child.Wait(60000);
  }

  // A bus call on a connection of its own (not a client of lumaro).
  DBusReply AskBus(const std::string& member, const std::string& name) {
    DBusWireClient c;
    if (!c.Connect(address_)) return DBusReply();
    return c.Call(kBus, "/org/freedesktop/DBus", kBus, member, {DBusArg::String(name)}, 5000);
  }
  bool ServiceOwned() { return AskBus("NameHasOwner", kService).number == 1; }

  std::string Gdbus(const std::string& args) {
    std::string command = "env DBUS_SESSION_BUS_ADDRESS=" + testing_support::Quote(address_) +
                          " timeout 30 gdbus " + args + " 2>&1";
    return testing_support::RunOutput(command);
  }

  std::string ServiceFile() { return tmp_ / "data/dbus-1/services/Lumaro3.Application.service"; }

  TempDir tmp_;
  std::string program_, address_;
  std::vector<std::string> env_;
  Child bus_;
};

}  // namespace

TEST_F(Automation, RegisterAndUnregisterSwitchesEndWithoutAWindow) {
  // SetUp ran --regserver.
  EXPECT_EQ(ReadFileText(ServiceFile()),
            "[D-BUS Service]\nName=Lumaro3.Application\nExec='" + program_ + "' --automation\n");
  // A registration run still stores the settings at exit.
  EXPECT_TRUE(fs::exists(tmp_ / "prog/Lumaro.ini"));

  EXPECT_EQ(RunLumaro({"--unregserver"}), 0);
  EXPECT_FALSE(fs::exists(ServiceFile()));
  EXPECT_EQ(RunLumaro({"--unregserver"}), 0);

  // The last of the two switches counts.
  EXPECT_EQ(RunLumaro({"--unregserver", "--regserver"}), 0);
  EXPECT_TRUE(fs::exists(ServiceFile()));
  EXPECT_EQ(RunLumaro({"--regserver", "--unregserver"}), 0);
  EXPECT_FALSE(fs::exists(ServiceFile()));

  // A service folder that cannot be made: failure, reported.
  WriteFileText(tmp_ / "datafile", "x");
  std::vector<std::string> env = env_;
  for (auto& e : env)
    if (e.rfind("XDG_DATA_HOME=", 0) == 0) e = "XDG_DATA_HOME=" + tmp_ / "datafile";
  EXPECT_EQ(RunLumaro({"--regserver"}, env), 1);
  EXPECT_NE(ReadFileText(tmp_ / "lumaro.log").find("cannot create"), std::string::npos);
}

TEST_F(Automation, ClientStartsTheProgramAndDrivesTheWindow) {
  WriteFileText(tmp_ / "prog/Lumaro.ini", "[General]\nOutputFormat=2\n");
  StartBus();
  DBusWireClient client;
  ASSERT_TRUE(client.Connect(address_));

  // The first call starts the program through the service file.
  DBusReply r = client.Get(kService, "/Lumaro3", "Lumaro3.ILumaro3", "Window");
  ASSERT_TRUE(r.ok) << r.errorName << "\n" << ReadFileText(tmp_ / "bus.log");
  EXPECT_EQ(r.signature, "v");
  EXPECT_EQ(r.text, "/Lumaro3/Window");
  const long pid = long(AskBus("GetConnectionUnixProcessID", kService).number);
  ASSERT_GT(pid, 0);

  r = client.Call(kService, "/Lumaro3", "Lumaro3.ILumaro3", "Window", {});
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.signature, "o");
  EXPECT_EQ(r.text, "/Lumaro3/Window");

  // Started for automation, the main window shows.
  r = client.Get(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible");
  ASSERT_TRUE(r.ok) << r.errorName;
  EXPECT_EQ(r.number, 1);

  // Hidden, and the program goes on serving while the client holds it.
  EXPECT_TRUE(client.Set(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible",
                         DBusArg::VariantBool(false)).ok);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  r = client.Get(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible");
  ASSERT_TRUE(r.ok) << r.errorName << "\n" << ReadFileText(tmp_ / "bus.log");
  EXPECT_EQ(r.number, 0);
  EXPECT_TRUE(ProcessAlive(pid));

  // Other clients: the introspection data with both interfaces, and a
  // call from a client that leaves at once while the first one holds on.
  std::string introspection = Gdbus("introspect --session --dest Lumaro3.Application --object-path /Lumaro3");
  EXPECT_NE(introspection.find("interface Lumaro3.ILumaro3 {"), std::string::npos) << introspection;
  EXPECT_NE(introspection.find("SetOutputFormat(in  i nFormat);"), std::string::npos) << introspection;
  EXPECT_NE(introspection.find("readonly o Window = '/Lumaro3/Window';"), std::string::npos) << introspection;
  EXPECT_NE(introspection.find("interface Lumaro3.IAutoWindow {"), std::string::npos) << introspection;
  EXPECT_NE(introspection.find("readwrite b Visible"), std::string::npos) << introspection;
  EXPECT_EQ(Gdbus("call --session --dest Lumaro3.Application --object-path /Lumaro3/Window "
                  "--method org.freedesktop.DBus.Properties.Get Lumaro3.IAutoWindow Visible"),
            "(<false>,)\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(ProcessAlive(pid));

  // Shown again; then any integer counts as a Boolean.
  EXPECT_TRUE(client.Set(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible",
                         DBusArg::VariantBool(true)).ok);
  EXPECT_EQ(client.Get(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible").number, 1);
  EXPECT_TRUE(client.Set(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible",
                         DBusArg::VariantInt32(0)).ok);
  EXPECT_EQ(client.Get(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible").number, 0);
  EXPECT_TRUE(client.Set(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible",
                         DBusArg::VariantInt32(5)).ok);
  EXPECT_EQ(client.Get(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible").number, 1);

  // SetOutputFormat answers at once: its message does not hold up the call.
  auto start = std::chrono::steady_clock::now();
  r = client.Call(kService, "/Lumaro3", "Lumaro3.ILumaro3", "SetOutputFormat", {DBusArg::Int32(3)});
  EXPECT_TRUE(r.ok) << r.errorName;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // Refusals.
  EXPECT_EQ(client.Set(kService, "/Lumaro3", "Lumaro3.ILumaro3", "Window",
                       DBusArg::VariantPath("/Lumaro3")).errorName,
            "org.freedesktop.DBus.Error.PropertyReadOnly");
  EXPECT_EQ(client.Set(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible",
                       DBusArg::VariantString("yes")).errorName,
            "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(client.Call(kService, "/Lumaro3", "Lumaro3.ILumaro3", "SetOutputFormat",
                        {DBusArg::String("3")}).errorName,
            "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(client.Call(kService, "/Lumaro3", "Lumaro3.ILumaro3", "Convert", {}).errorName,
            "org.freedesktop.DBus.Error.UnknownMethod");
  EXPECT_EQ(client.Get(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Caption").errorName,
            "org.freedesktop.DBus.Error.UnknownProperty");
  EXPECT_EQ(client.Get(kService, "/Lumaro3/Other", "Lumaro3.IAutoWindow", "Visible").errorName,
            "org.freedesktop.DBus.Error.UnknownObject");

  // Hidden again, then the client lets go: the program ends, and the
  // setting SetOutputFormat was given is unchanged in the stored file.
  EXPECT_TRUE(client.Set(kService, "/Lumaro3/Window", "Lumaro3.IAutoWindow", "Visible",
                         DBusArg::VariantBool(false)).ok);
  client.Close();
  EXPECT_TRUE(WaitFor([&] { return !ServiceOwned() && !ProcessAlive(pid); }, 20000));
  const std::string ini = ReadFileText(tmp_ / "prog/Lumaro.ini");
  EXPECT_NE(ini.find("\nOutputFormat=2\n"), std::string::npos) << ini;
  if (ProcessAlive(pid)) ::kill(pid_t(pid), SIGKILL);
}

// A shell script drives the server with one-shot clients: the instance
// outlives each of them by the grace period, and ends once it has passed.
TEST_F(Automation, AutomationStartServesOneShotClientsThenEnds) {
  StartBus();
  Child lumaro({program_, "--automation"}, env_, tmp_ / "lumaro.log");
  ASSERT_TRUE(WaitFor([&] { return ServiceOwned(); }, 60000)) << ReadFileText(tmp_ / "lumaro.log");
  // Nobody has called yet: it keeps running.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(lumaro.Running());

  // Calls from clients that leave right after them, one after another.
  EXPECT_NE(Gdbus("introspect --session --dest Lumaro3.Application --object-path /Lumaro3")
                .find("interface Lumaro3.ILumaro3 {"),
            std::string::npos);
  EXPECT_EQ(Gdbus("call --session --dest Lumaro3.Application --object-path /Lumaro3 "
                  "--method Lumaro3.ILumaro3.SetOutputFormat 3"),
            "()\n");
  EXPECT_EQ(Gdbus("call --session --dest Lumaro3.Application --object-path /Lumaro3/Window "
                  "--method org.freedesktop.DBus.Properties.Set Lumaro3.IAutoWindow Visible "
                  "'<false>'"),
            "()\n");
  EXPECT_EQ(Gdbus("call --session --dest Lumaro3.Application --object-path /Lumaro3/Window "
                  "--method org.freedesktop.DBus.Properties.Get Lumaro3.IAutoWindow Visible"),
            "(<false>,)\n");
  EXPECT_TRUE(lumaro.Running());
  // After the grace period with nobody back it ends.
  const auto left = std::chrono::steady_clock::now();
  EXPECT_EQ(lumaro.Wait(20000 + kGraceMs), 0) << ReadFileText(tmp_ / "lumaro.log");
  EXPECT_GE(std::chrono::steady_clock::now() - left, std::chrono::milliseconds(kGraceMs / 2));
  EXPECT_FALSE(ServiceOwned());
}

TEST_F(Automation, SecondAutomationStartFindsTheNameTaken) {
  StartBus();
  Child first({program_, "--automation"}, env_, tmp_ / "first.log");
  ASSERT_TRUE(WaitFor([&] { return ServiceOwned(); }, 60000)) << ReadFileText(tmp_ / "first.log");
  const long pid = long(AskBus("GetConnectionUnixProcessID", kService).number);
  Child second({program_, "--automation"}, env_, tmp_ / "second.log");
  EXPECT_TRUE(WaitFor([&] {
    return ReadFileText(tmp_ / "second.log").find("is taken") != std::string::npos;
  }, 60000)) << ReadFileText(tmp_ / "second.log");
  // The name stays with the first.
  EXPECT_EQ(long(AskBus("GetConnectionUnixProcessID", kService).number), pid);
}

TEST_F(Automation, SecondStartWithFilesHandsThemToTheRunningWindow) {
  StartBus();
  fs::create_directories(tmp_ / "pics/sub");
  for (const char* name : {"a.png", "b.jpg", "notes.txt"}) WriteFileText(tmp_ / (std::string("pics/") + name), "x");
  const std::string files = "example.lumaro.Lumaro";
  Child first({program_, tmp_ / "pics/a.png"}, env_, tmp_ / "first.log");
  ASSERT_TRUE(WaitFor([&] { return AskBus("NameHasOwner", files).number == 1; }, 60000))
      << ReadFileText(tmp_ / "first.log");
  const long pid = long(AskBus("GetConnectionUnixProcessID", files).number);

  // The second start hands its entries over and ends; a file the list does
  // not take (not a picture) is left out, a folder goes in.
  EXPECT_EQ(RunLumaro({tmp_ / "pics/b.jpg", tmp_ / "pics/sub", tmp_ / "pics/notes.txt"}), 0)
      << ReadFileText(tmp_ / "lumaro.log");
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(long(AskBus("GetConnectionUnixProcessID", files).number), pid);
  EXPECT_EQ(Gdbus("call --session --dest example.lumaro.Lumaro --object-path /example/lumaro/Lumaro "
                  "--method example.lumaro.Lumaro.Files.Entries"),
            "(['" + tmp_ / "pics/a.png" + "', '" + tmp_ / "pics/b.jpg" + "', '" + tmp_ / "pics/sub" +
                "'],)\n");
}
