// The update check dialog against a version server and a proxy on
// 127.0.0.1, and the automation server in process on a private bus: the
// holding rule, SetOutputFormat's message and the window that is only
// hidden while a client holds it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <optional>
#include <thread>

#include "services/local_server.h"
#include "settings/settings.h"
#include "test_support.h"
#include "ui/automation.h"
#include "ui/web_update_dlg.h"

using testing_support::HttpResponse;
using testing_support::LocalServer;
using testing_support::SendAll;
using testing_support::SleepUnlessStopped;

extern char** environ;

namespace {

// Keeps the settings the dialog touches and the dialog's hooks.
class WebUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    const CSettings& s = GetSettings();
    ip_ = s.ProxyIP;
    port_ = s.ProxyPort;
    mode_ = s.ProxySettingsMode;
    ver_ = s.ProxyAddressVer;
    home_ = s.ProxyAddressHomePage;
    for (const char* name : {"http_proxy", "no_proxy", "all_proxy"}) unsetenv(name);
    CWebUpdateDlg::MessageHook = [this](QWidget*, const QString& text, bool question) {
      texts_.push_back(text);
      questions_.push_back(question);
      return answerYes_;
    };
    CWebUpdateDlg::OpenUrlHook = [this](const QUrl& url) { opened_.push_back(url); };
  }
  void TearDown() override {
    CSettings& s = GetSettings();
    s.ProxyIP = ip_;
    s.ProxyPort = port_;
    s.ProxySettingsMode = mode_;
    s.ProxyAddressVer = ver_;
    s.ProxyAddressHomePage = home_;
    CWebUpdateDlg::MessageHook = nullptr;
    CWebUpdateDlg::OpenUrlHook = nullptr;
    CWebUpdateDlg::TotalTimeoutMs = 15000;
  }

  // Presses the check button and waits for the message; the message id.
  int RunCheck(CWebUpdateDlg& dlg) {
    QEventLoop loop;
    int id = 0;
    QObject::connect(&dlg, &CWebUpdateDlg::checkFinished, &loop, [&](int i) {
      id = i;
      loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    dlg.CheckButton()->click();
    loop.exec();
    return id;
  }

  uint32_t ip_ = 0;
  int port_ = 0, mode_ = 0;
  std::string ver_, home_;
  bool answerYes_ = true;
  std::vector<QString> texts_;
  std::vector<bool> questions_;
  std::vector<QUrl> opened_;
};

}  // namespace

TEST_F(WebUpdate, ControlsFollowTheSettingsAndTheModeRule) {
  CSettings& s = GetSettings();
  s.ProxyIP = 0x0A000001;
  s.ProxyPort = 3128;
  s.ProxySettingsMode = 1;
  CWebUpdateDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Настройка соединения и проверка обновлений"));
  EXPECT_EQ(dlg.AddressCtrl()->Text(), "10.0.0.1");
  EXPECT_EQ(dlg.PortEdit()->text(), "3128");
  EXPECT_TRUE(dlg.ModeButton(1)->isChecked());
  EXPECT_TRUE(dlg.AddressCtrl()->isEnabled());
  EXPECT_TRUE(dlg.PortEdit()->isEnabled());

  dlg.ModeButton(0)->click();
  EXPECT_EQ(dlg.mode, 0);
  EXPECT_FALSE(dlg.AddressCtrl()->isEnabled());
  EXPECT_FALSE(dlg.PortEdit()->isEnabled());

  // Cancel keeps the settings; OK stores what the dialog shows.
  dlg.reject();
  EXPECT_EQ(s.ProxySettingsMode, 1);
  CWebUpdateDlg again;
  again.ModeButton(1)->click();
  again.AddressCtrl()->Field(0)->setText("192");
  again.AddressCtrl()->Field(3)->setText("");  // an empty field reads 0
  again.PortEdit()->setText("8080");
  again.accept();
  EXPECT_EQ(s.ProxyIP, 0xC0000000u);
  EXPECT_EQ(s.ProxyPort, 8080);
  EXPECT_EQ(s.ProxySettingsMode, 1);

  // An address typed the way people type it, from a click into the first
  // field (before or after its 0) through dots and third digits.
  struct Typed {
    const char* keys;
    const char* address;
  };
  const Typed typedCases[] = {{"127.0.0.1", "127.0.0.1"},
                              {"192.168.100.200", "192.168.100.200"},
                              {"10.0.0.1", "10.0.0.1"},
                              {"1.2.3", "1.2.3.0"}};
  for (const Typed& t : typedCases) {
    for (const int clickX : {1, 1000}) {
      s.ProxyIP = 0;
      CWebUpdateDlg typing;
      typing.ModeButton(1)->click();
      typing.show();
      QApplication::setActiveWindow(&typing);
      ASSERT_TRUE(QTest::qWaitForWindowActive(&typing));
      QLineEdit* first = typing.AddressCtrl()->Field(0);
      QTest::mouseClick(first, Qt::LeftButton, {},
                        QPoint(std::min(clickX, first->width() - 2), first->height() / 2));
      for (const char* c = t.keys; *c; ++c) QTest::keyClick(QApplication::focusWidget(), *c);
      EXPECT_EQ(typing.AddressCtrl()->Text(), t.address) << t.keys << " click at " << clickX;
    }
  }

  // A stored mode of neither value checks no radio button and leaves the
  // controls as they are.
  s.ProxySettingsMode = 2;
  CWebUpdateDlg odd;
  EXPECT_FALSE(odd.ModeButton(0)->isChecked());
  EXPECT_FALSE(odd.ModeButton(1)->isChecked());
  EXPECT_EQ(odd.mode, 2);
  odd.accept();
  EXPECT_EQ(s.ProxySettingsMode, 2);
}

TEST_F(WebUpdate, CheckUsesWhatTheDialogShowsAndOpensTheHomePage) {
  LocalServer server([](int fd, const std::string&, const std::atomic<bool>&) {
    SendAll(fd, HttpResponse("tessel ver 9.1"));
  });
  LocalServer proxy([](int fd, const std::string&, const std::atomic<bool>&) {
    SendAll(fd, HttpResponse("tessel ver 3.0"));
  });
  CSettings& s = GetSettings();
  s.ProxyIP = 0x7F000001;
  s.ProxyPort = proxy.port();
  s.ProxySettingsMode = 0;
  s.ProxyAddressVer = server.url();
  s.ProxyAddressHomePage = "http://home.example/lumaro";

  CWebUpdateDlg dlg;
  dlg.show();
  EXPECT_EQ(RunCheck(dlg), 185);
  ASSERT_EQ(texts_.size(), 1u);
  EXPECT_EQ(texts_[0], QString::fromUtf8("Обнаружена новая версия за номером 9.1. Открыть страницу программы?"));
  EXPECT_TRUE(questions_[0]);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], QUrl("http://home.example/lumaro"));
  EXPECT_EQ(server.requests().size(), 1u);

  // "No" opens nothing.
  answerYes_ = false;
  EXPECT_EQ(RunCheck(dlg), 185);
  EXPECT_EQ(opened_.size(), 1u);

  // The proxy radio without OK: the proxy serves this check only.
  dlg.ModeButton(1)->click();
  EXPECT_EQ(RunCheck(dlg), 187);
  EXPECT_EQ(texts_.back(), QString::fromUtf8("Обновлений не найдено"));
  EXPECT_FALSE(questions_.back());
  EXPECT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(s.ProxySettingsMode, 0);
  EXPECT_TRUE(dlg.isVisible());  // the dialog stays open
}

TEST_F(WebUpdate, SlowServerLeavesTheDialogResponsive) {
  LocalServer slow([](int, const std::string&, const std::atomic<bool>& stop) {
    SleepUnlessStopped(stop, 20000);
  });
  GetSettings().ProxySettingsMode = 0;
  GetSettings().ProxyAddressVer = slow.url();
  CWebUpdateDlg::TotalTimeoutMs = 1500;
  CWebUpdateDlg dlg;
  dlg.show();

  int ticks = 0;
  bool busyMeanwhile = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    busyMeanwhile = busyMeanwhile || (dlg.Checking() && !dlg.CheckButton()->isEnabled() &&
                                      QApplication::overrideCursor() != nullptr);
  });
  timer.start(50);
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(RunCheck(dlg), 183);
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_GT(ticks, 10);  // the UI thread went on running
  EXPECT_TRUE(busyMeanwhile);
  EXPECT_FALSE(dlg.Checking());
  EXPECT_TRUE(dlg.CheckButton()->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // Closed during a check: the late answer is dropped.
  dlg.CheckButton()->click();
  dlg.reject();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the dialog gave back the cursor";
}

// ---- automation in process ---------------------------------------------------------------

namespace {

class PrivateBus {
 public:
  PrivateBus() {
    address_ = "unix:path=" + tmp_ / "bus";
    std::string arg = "--address=" + address_;
    const char* argv[] = {"dbus-daemon", "--session", "--nofork", arg.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && !std::filesystem::exists(tmp_ / "bus"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  QString Address() const { return QString::fromStdString(address_); }

 private:
  testing_support::TempDir tmp_;
  std::string address_;
  pid_t pid_ = -1;
};

QDBusMessage CallOn(const QDBusConnection& c, const QString& path, const QString& iface,
                    const QString& member, const QList<QVariant>& args = {}) {
  QDBusMessage m = QDBusMessage::createMethodCall("Lumaro3.Application", path, iface, member);
  m.setArguments(args);
  // The server answers on this thread: keep its events running meanwhile.
  return c.call(m, QDBus::BlockWithGui, 10000);
}

QDBusMessage SetVisible(const QDBusConnection& c, bool visible) {
  return CallOn(c, "/Lumaro3/Window", "org.freedesktop.DBus.Properties", "Set",
                {QString("Lumaro3.IAutoWindow"), QString("Visible"),
                 QVariant::fromValue(QDBusVariant(visible))});
}

void Spin(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

TEST(AutomationServer, HoldsTheHiddenWindowUntilTheLastClientLeaves) {
  PrivateBus bus;
  const int grace = CAutomationServer::GracePeriodMs;
  CAutomationServer::GracePeriodMs = 300;
  QDBusConnection server = QDBusConnection::connectToBus(bus.Address(), "lumaro-server");
  ASSERT_TRUE(server.isConnected());
  ASSERT_TRUE(CAutomationServer::Start(true, server));
  CAutomationServer* automation = CAutomationServer::Instance();
  ASSERT_NE(automation, nullptr);
  QStringList messages;
  CAutomationServer::MessageHook = [&](QWidget*, const QString& text) { messages << text; };

  QDialog window;
  automation->AttachMainWindow(&window);
  // A connection closes only when no object refers to it any more.
  std::optional<QDBusConnection> firstClient = QDBusConnection::connectToBus(bus.Address(), "client-1");
  std::optional<QDBusConnection> secondClient = QDBusConnection::connectToBus(bus.Address(), "client-2");
  const QDBusConnection& first = *firstClient;
  const QDBusConnection& second = *secondClient;
  ASSERT_TRUE(first.isConnected() && second.isConnected());
  EXPECT_FALSE(automation->HoldsWindow());

  // SetOutputFormat shows its message and changes no setting.
  const int format = GetSettings().OutputFormat;
  QDBusMessage reply = CallOn(first, "/Lumaro3", "Lumaro3.ILumaro3", "SetOutputFormat", {3});
  EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  EXPECT_EQ(messages, QStringList{"Hello, world"});
  EXPECT_EQ(GetSettings().OutputFormat, format);
  EXPECT_TRUE(automation->HoldsWindow());

  reply = CallOn(second, "/Lumaro3", "org.freedesktop.DBus.Properties", "Get",
                 {QString("Lumaro3.ILumaro3"), QString("Window")});
  ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path(),
            "/Lumaro3/Window");
  EXPECT_EQ(automation->ClientCount(), 2);

  // The window runs modally; a client hides it, which ends the modal loop;
  // serving goes on while the clients hold on, shows the window again on
  // request and ends once the last client has left and the window closed.
  bool servedAfterHide = false;
  QTimer::singleShot(0, [&] { SetVisible(first, false); });
  window.show();
  window.exec();
  EXPECT_FALSE(window.isVisible());
  QTimer::singleShot(200, [&] {
    servedAfterHide = true;
    EXPECT_EQ(SetVisible(second, true).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(window.isVisible());
    firstClient.reset();
    QDBusConnection::disconnectFromBus("client-1");
  });
  QTimer::singleShot(600, [&] {
    // One client still holds: the window is still there.
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(automation->ClientCount(), 1);
    secondClient.reset();
    QDBusConnection::disconnectFromBus("client-2");
  });
  QElapsedTimer clock;
  clock.start();
  ServeAutomationClients(&window);
  EXPECT_TRUE(servedAfterHide);
  EXPECT_LT(clock.elapsed(), 10000);
  EXPECT_FALSE(automation->HoldsWindow());
  // Started for automation: the last client's leaving closed the window.
  EXPECT_FALSE(window.isVisible());

  // Without clients and with the window closed there is nothing to serve.
  clock.restart();
  ServeAutomationClients(&window);
  EXPECT_LT(clock.elapsed(), 1000);

  CAutomationServer::MessageHook = nullptr;
  CAutomationServer::GracePeriodMs = grace;
  CAutomationServer::Stop();
  EXPECT_EQ(CAutomationServer::Instance(), nullptr);
  QDBusConnection::disconnectFromBus("lumaro-server");
  Spin(50);
}

TEST(AutomationServer, Switches) {
  EXPECT_TRUE(IsAutomationStart({"lumaro", "--automation"}));
  EXPECT_TRUE(IsAutomationStart({"lumaro", "-Embedding"}));
  EXPECT_FALSE(IsAutomationStart({"--automation"}));  // the program's own name
  EXPECT_FALSE(IsAutomationStart({"lumaro", "automation", "/automation"}));

  int exitCode = 7;
  EXPECT_FALSE(HandleRegistrationSwitches({"lumaro", "--automation", "file.jpg"}, exitCode));
  EXPECT_EQ(exitCode, 7);

  testing_support::TempDir tmp;
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", tmp.str().c_str());
  const std::string file = tmp / "dbus-1/services/Lumaro3.Application.service";
  EXPECT_TRUE(HandleRegistrationSwitches({"lumaro", "--RegServer"}, exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_TRUE(HandleRegistrationSwitches({"lumaro", "-unregserver"}, exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(file));
  if (saved.isNull())
    qunsetenv("XDG_DATA_HOME");
  else
    qputenv("XDG_DATA_HOME", saved);
}
