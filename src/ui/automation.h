// The automation server on the D-Bus session bus: service
// "Lumaro3.Application" with two objects.
//
//   /Lumaro3         interface Lumaro3.ILumaro3
//                      property Window (o, read-only): the path of the
//                        window object; also callable as method Window()
//                      method SetOutputFormat(i nFormat): shows
//                        "Hello, world"; changes no setting
//   /Lumaro3/Window  interface Lumaro3.IAutoWindow
//                      property Visible (b, read/write): the main window
//                        shown or hidden
//
// Every bus connection that calls one of these members holds the server
// until it leaves the bus, and the server stays held for a grace period
// after the last one has left, so that a shell script can drive it with one
// `gdbus call` after another. While it is held, closing the main window
// only hides it; once the grace period has passed with no client back, a
// program started for automation (or whose window is hidden) closes its
// main window and ends.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class QDBusServiceWatcher;
class QTimer;
class QWidget;
class CAutomationObjects;

inline constexpr const char* kAutomationRootPath = "/Lumaro3";
inline constexpr const char* kAutomationWindowPath = "/Lumaro3/Window";
inline constexpr const char* kAutomationInterface = "Lumaro3.ILumaro3";
inline constexpr const char* kAutomationWindowInterface = "Lumaro3.IAutoWindow";

// --automation or --embedding among the arguments (the first, the program,
// is not looked at).
bool IsAutomationStart(const QStringList& args);

// --regserver writes the D-Bus service file for this program, --unregserver
// removes it (the last of them counts). True when one of them was given:
// the process then ends with exitCode (0 done, 1 failed, with a message on
// standard error).
bool HandleRegistrationSwitches(const QStringList& args, int& exitCode);

// The automation switches as start-up runs them: registration requests end
// the program; an automation start puts the server on the session bus; any
// other start refreshes the service file quietly and goes on.
bool RunAutomationSwitches(const QStringList& args, int& exitCode);

class CAutomationServer : public QObject {
  Q_OBJECT
 public:
  // The running server (nullptr before Start).
  static CAutomationServer* Instance();
  // Registers the objects and the service name on the connection (the
  // session bus by default). False, with a message on standard error, when
  // the bus or the name is not available; the program then goes on without
  // the server.
  static bool Start(bool automationStart, const QDBusConnection& connection = QDBusConnection::sessionBus());

  // Takes the server off the bus and deletes it.
  static void Stop();

  ~CAutomationServer() override;

  // The main window the objects work on.
  void AttachMainWindow(QWidget* window);
  QWidget* MainWindow() const { return window_; }

  // True while at least one client holds the server, or the grace period
  // after the last one is running.
  bool HoldsWindow() const;
  // The grace period in milliseconds: 30 seconds, or the value of
  // LUMARO_AUTOMATION_GRACE_MS; tests may set it directly.
  static int GracePeriodMs;
  int ClientCount() const { return int(clients_.size()); }
  bool AutomationStarted() const { return automationStart_; }

  // Shows the message of SetOutputFormat in a box of its own (through
  // MessageHook when a test has set it).
  void ShowMessage(const QString& text);
  static std::function<void(QWidget* parent, const QString& text)> MessageHook;

 signals:
  // A client came or went.
  void clientsChanged();

 private:
  friend class CAutomationObjects;
  CAutomationServer(bool automationStart, const QDBusConnection& connection);

  // A call from a bus connection: it holds the server until it leaves.
  void NoteClient(const QString& uniqueName);
  void ClientGone(const QString& uniqueName);
  // The grace period after the last client has passed.
  void GraceEnded();

  bool automationStart_ = false;
  QDBusConnection connection_;
  QPointer<QWidget> window_;
  QSet<QString> clients_;
  QDBusServiceWatcher* watcher_ = nullptr;
  QTimer* grace_ = nullptr;
  CAutomationObjects* objects_ = nullptr;
};

// To be called by start-up right after the main window's modal loop has
// ended: the loop also ends when the window is only hidden (a client set
// Visible to false, or the user closed it while a client holds it). Serves
// the clients until none holds the server and the window is no longer
// shown; returns at once when there is no server or nothing to wait for.
void ServeAutomationClients(QWidget* mainWindow);
