#include "ui/automation.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>
#include <cstdio>

#include "services/dbus_registration.h"
#include "services/strings.h"
#include "services/version_record.h"
#include "ui/controls.h"
#include "ui/main_window.h"

std::function<void(QWidget*, const QString&)> CAutomationServer::MessageHook;

namespace {

int GracePeriodFromEnvironment() {
  bool ok = false;
  const int ms = qEnvironmentVariableIntValue("LUMARO_AUTOMATION_GRACE_MS", &ok);
  return ok && ms >= 0 ? ms : 30000;
}

}  // namespace

int CAutomationServer::GracePeriodMs = GracePeriodFromEnvironment();

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kErrorUnknownProperty = QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty");
const QString kErrorReadOnly = QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly");

QPointer<CAutomationServer> g_server;

// The switch name without its leading dashes, in lower case; empty for
// anything that is not a switch.
QString SwitchName(const QString& arg) {
  if (arg.startsWith(QLatin1String("--"))) return arg.mid(2).toLower();
  if (arg.startsWith(QLatin1Char('-'))) return arg.mid(1).toLower();
  return QString();
}

void Reply(const QDBusMessage& call, const QDBusConnection& connection, const QDBusMessage& reply) {
  if (call.isReplyRequired()) connection.send(reply);
}

void ReplyError(const QDBusMessage& call, const QDBusConnection& connection, const QString& name,
                const QString& text) {
  Reply(call, connection, call.createErrorReply(name, text));
}

// A Boolean from a property value: a Boolean or any integer (non-zero is
// true). False when the value is of another type.
bool ToBoolean(const QVariant& value, bool& out) {
  switch (value.metaType().id()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::Char:
    case QMetaType::SChar:
      out = value.toLongLong() != 0 || value.toULongLong() != 0;
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- the two objects -------------------------------------------------------------------------

// /Lumaro3: the application object.
class CLumaro3DlgAutoProxy {
 public:
  explicit CLumaro3DlgAutoProxy(CAutomationServer* server) : server_(server) {}

  static QString Introspection() {
    return QStringLiteral(
        "  <interface name=\"Lumaro3.ILumaro3\">\n"
        "    <property name=\"Window\" type=\"o\" access=\"read\"/>\n"
        "    <method name=\"Window\">\n"
        "      <arg name=\"window\" type=\"o\" direction=\"out\"/>\n"
        "    </method>\n"
        "    <method name=\"SetOutputFormat\">\n"
        "      <arg name=\"nFormat\" type=\"i\" direction=\"in\"/>\n"
        "    </method>\n"
        "  </interface>\n");
  }

  void Handle(const QDBusMessage& call, const QDBusConnection& connection) {
    const QString iface = call.interface();
    const QString member = call.member();
    if (iface == kPropertiesInterface) {
      HandleProperties(call, connection);
      return;
    }
    if (!iface.isEmpty() && iface != QLatin1String(kAutomationInterface)) {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
                 QStringLiteral("No interface %1 here").arg(iface));
      return;
    }
    if (member == QLatin1String("Window") && call.signature().isEmpty()) {
      Reply(call, connection, call.createReply(WindowValue()));
    } else if (member == QLatin1String("SetOutputFormat")) {
      if (call.signature() != QLatin1String("i")) {
        ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                   QStringLiteral("SetOutputFormat takes one 32-bit integer"));
        return;
      }
      // The answer goes out at once; the message stays on the screen
      // until the user closes it. nFormat is not used.
      Reply(call, connection, call.createReply());
      server_->ShowMessage(QStringLiteral("Hello, world"));
    } else {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                 QStringLiteral("No method %1 with signature \"%2\"").arg(member, call.signature()));
    }
  }

 private:
  static QVariant WindowValue() {
    return QVariant::fromValue(QDBusObjectPath(QLatin1String(kAutomationWindowPath)));
  }

  void HandleProperties(const QDBusMessage& call, const QDBusConnection& connection) {
    const QList<QVariant> args = call.arguments();
    const QString member = call.member();
    const QString iface = args.value(0).toString();
    if (!iface.isEmpty() && iface != QLatin1String(kAutomationInterface)) {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
                 QStringLiteral("No interface %1 here").arg(iface));
      return;
    }
    if (member == QLatin1String("Get") && call.signature() == QLatin1String("ss")) {
      if (args.value(1).toString() != QLatin1String("Window")) {
        ReplyError(call, connection, kErrorUnknownProperty, QStringLiteral("No such property"));
        return;
      }
      Reply(call, connection, call.createReply(QVariant::fromValue(QDBusVariant(WindowValue()))));
    } else if (member == QLatin1String("Set") && call.signature() == QLatin1String("ssv")) {
      if (args.value(1).toString() != QLatin1String("Window")) {
        ReplyError(call, connection, kErrorUnknownProperty, QStringLiteral("No such property"));
        return;
      }
      ReplyError(call, connection, kErrorReadOnly, QStringLiteral("Window cannot be set"));
    } else if (member == QLatin1String("GetAll") && call.signature() == QLatin1String("s")) {
      QVariantMap all;
      all.insert(QStringLiteral("Window"), WindowValue());
      Reply(call, connection, call.createReply(QVariant::fromValue(all)));
    } else {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                 QStringLiteral("No method %1 with signature \"%2\"").arg(member, call.signature()));
    }
  }

  CAutomationServer* server_;
};

// /Lumaro3/Window: the main window's visibility.
class CAutoWindow {
 public:
  explicit CAutoWindow(CAutomationServer* server) : server_(server) {}

  static QString Introspection() {
    return QStringLiteral(
        "  <interface name=\"Lumaro3.IAutoWindow\">\n"
        "    <property name=\"Visible\" type=\"b\" access=\"readwrite\"/>\n"
        "  </interface>\n");
  }

  void Handle(const QDBusMessage& call, const QDBusConnection& connection) {
    const QList<QVariant> args = call.arguments();
    const QString member = call.member();
    if (call.interface() != kPropertiesInterface) {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                 QStringLiteral("No method %1 here").arg(member));
      return;
    }
    const QString iface = args.value(0).toString();
    if (!iface.isEmpty() && iface != QLatin1String(kAutomationWindowInterface)) {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
                 QStringLiteral("No interface %1 here").arg(iface));
      return;
    }
    if (member == QLatin1String("GetAll") && call.signature() == QLatin1String("s")) {
      QVariantMap all;
      all.insert(QStringLiteral("Visible"), Visible());
      Reply(call, connection, call.createReply(QVariant::fromValue(all)));
      return;
    }
    const bool get = member == QLatin1String("Get") && call.signature() == QLatin1String("ss");
    const bool set = member == QLatin1String("Set") && call.signature() == QLatin1String("ssv");
    if (!get && !set) {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                 QStringLiteral("No method %1 with signature \"%2\"").arg(member, call.signature()));
      return;
    }
    if (args.value(1).toString() != QLatin1String("Visible")) {
      ReplyError(call, connection, kErrorUnknownProperty, QStringLiteral("No such property"));
      return;
    }
    if (get) {
      Reply(call, connection, call.createReply(QVariant::fromValue(QDBusVariant(Visible()))));
      return;
    }
    bool show = false;
    if (!ToBoolean(args.value(2).value<QDBusVariant>().variant(), show)) {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                 QStringLiteral("Visible takes a Boolean"));
      return;
    }
    QWidget* window = server_->MainWindow();
    if (!window) {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                 QStringLiteral("The main window does not exist"));
      return;
    }
    if (show) {
      if (window->isMinimized())
        window->showNormal();
      else
        window->show();
      window->raise();
      window->activateWindow();
    } else {
      window->hide();
    }
    Reply(call, connection, call.createReply());
  }

 private:
  bool Visible() const {
    QWidget* window = server_->MainWindow();
    return window && window->isVisible();
  }

  CAutomationServer* server_;
};

// Both objects under one registration, so that the introspection data of
// /Lumaro3 carries the window object with its interface.
class CAutomationObjects : public QDBusVirtualObject {
 public:
  explicit CAutomationObjects(CAutomationServer* server)
      : QDBusVirtualObject(server), server_(server), proxy_(server), window_(server) {}

  QString introspect(const QString& path) const override {
    if (path == QLatin1String(kAutomationRootPath))
      return CLumaro3DlgAutoProxy::Introspection() + QStringLiteral("  <node name=\"Window\">\n") +
             CAutoWindow::Introspection() + QStringLiteral("  </node>\n");
    if (path == QLatin1String(kAutomationWindowPath)) return CAutoWindow::Introspection();
    return QString();
  }

  bool handleMessage(const QDBusMessage& call, const QDBusConnection& connection) override {
    const QString iface = call.interface();
    // Introspection and Peer are answered by the bus library.
    if (iface == QLatin1String("org.freedesktop.DBus.Introspectable") ||
        iface == QLatin1String("org.freedesktop.DBus.Peer"))
      return false;
    if (call.type() != QDBusMessage::MethodCallMessage) return false;
    const QString path = call.path();
    if (path == QLatin1String(kAutomationRootPath)) {
      server_->NoteClient(call.service());
      proxy_.Handle(call, connection);
    } else if (path == QLatin1String(kAutomationWindowPath)) {
      server_->NoteClient(call.service());
      window_.Handle(call, connection);
    } else {
      ReplyError(call, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                 QStringLiteral("No object at %1").arg(path));
    }
    return true;
  }

 private:
  CAutomationServer* server_;
  CLumaro3DlgAutoProxy proxy_;
  CAutoWindow window_;
};

// ---- the server ------------------------------------------------------------------------------

CAutomationServer* CAutomationServer::Instance() { return g_server.data(); }

CAutomationServer::CAutomationServer(bool automationStart, const QDBusConnection& connection)
    : QObject(QCoreApplication::instance()), automationStart_(automationStart), connection_(connection) {
  watcher_ = new QDBusServiceWatcher(this);
  watcher_->setConnection(connection_);
  watcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &CAutomationServer::ClientGone);
  grace_ = new QTimer(this);
  grace_->setSingleShot(true);
  connect(grace_, &QTimer::timeout, this, &CAutomationServer::GraceEnded);
  objects_ = new CAutomationObjects(this);
}

bool CAutomationServer::HoldsWindow() const { return !clients_.isEmpty() || grace_->isActive(); }

CAutomationServer::~CAutomationServer() {
  if (connection_.isConnected()) {
    connection_.unregisterObject(QLatin1String(kAutomationRootPath), QDBusConnection::UnregisterTree);
    connection_.unregisterService(QLatin1String(kAutomationServiceName));
  }
}

bool CAutomationServer::Start(bool automationStart, const QDBusConnection& connection) {
  if (g_server) return true;
  if (!connection.isConnected()) {
    std::fprintf(stderr, "lumaro: no D-Bus session bus; the automation server is not available\n");
    return false;
  }
  auto* server = new CAutomationServer(automationStart, connection);
  if (!server->connection_.registerVirtualObject(QLatin1String(kAutomationRootPath), server->objects_,
                                                 QDBusConnection::SubPath)) {
    std::fprintf(stderr, "lumaro: cannot register the automation objects on the bus\n");
    delete server;
    return false;
  }
  if (!server->connection_.registerService(QLatin1String(kAutomationServiceName))) {
    std::fprintf(stderr, "lumaro: the bus name %s is taken; the automation server is not available\n",
                 kAutomationServiceName);
    delete server;
    return false;
  }
  g_server = server;
  return true;
}

void CAutomationServer::Stop() { delete g_server.data(); }

void CAutomationServer::AttachMainWindow(QWidget* window) { window_ = window; }

void CAutomationServer::NoteClient(const QString& uniqueName) {
  if (uniqueName.isEmpty() || clients_.contains(uniqueName)) return;
  clients_.insert(uniqueName);
  grace_->stop();  // a client is back within the grace period
  watcher_->addWatchedService(uniqueName);
  emit clientsChanged();
  // The client may have left before the watch was in place: ask the bus.
  QDBusConnectionInterface* bus = connection_.interface();
  if (!bus) return;
  auto* pending = new QDBusPendingCallWatcher(
      bus->asyncCall(QStringLiteral("NameHasOwner"), uniqueName), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this, uniqueName](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<bool> reply = *w;
    if (reply.isValid() && !reply.value()) ClientGone(uniqueName);
    w->deleteLater();
  });
}

void CAutomationServer::ClientGone(const QString& uniqueName) {
  if (!clients_.remove(uniqueName)) return;
  watcher_->removeWatchedService(uniqueName);
  // The last client let go: the server stays held for the grace period (a
  // script's next call is on its way).
  if (clients_.isEmpty()) grace_->start(GracePeriodMs);
  emit clientsChanged();
}

void CAutomationServer::GraceEnded() {
  if (!clients_.isEmpty()) return;
  // Nobody came back: a program started for automation ends, and so does
  // one whose window nobody can see any more.
  if (window_ && (automationStart_ || !window_->isVisible())) {
    QPointer<QWidget> window = window_;
    QTimer::singleShot(0, this, [window] {
      if (window) window->close();
    });
  }
  emit clientsChanged();
}

void CAutomationServer::ShowMessage(const QString& text) {
  QWidget* parent = window_ && window_->isVisible() ? window_.data() : nullptr;
  if (MessageHook) {
    MessageHook(parent, text);
    return;
  }
  auto* box = new QMessageBox(QMessageBox::NoIcon, ResString(IDS_APP_NAME), text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // The box alone on the screen does not end the program when closed.
  box->setAttribute(Qt::WA_QuitOnClose, false);
  box->setModal(false);
  box->show();
}

// ---- start-up ------------------------------------------------------------------------------

bool IsAutomationStart(const QStringList& args) {
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString name = SwitchName(args[i]);
    if (name == QLatin1String("automation") || name == QLatin1String("embedding")) return true;
  }
  return false;
}

bool HandleRegistrationSwitches(const QStringList& args, int& exitCode) {
  enum { None, Register, Unregister } request = None;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString name = SwitchName(args[i]);
    if (name == QLatin1String("regserver") || name == QLatin1String("register"))
      request = Register;
    else if (name == QLatin1String("unregserver") || name == QLatin1String("unregister"))
      request = Unregister;
  }
  if (request == None) return false;
  std::string error;
  bool ok = request == Register ? RegisterAutomationServer(OwnProgramPath(), &error)
                                : UnregisterAutomationServer(&error);
  if (!ok) std::fprintf(stderr, "lumaro: %s\n", error.c_str());
  exitCode = ok ? 0 : 1;
  return true;
}

bool RunAutomationSwitches(const QStringList& args, int& exitCode) {
  if (HandleRegistrationSwitches(args, exitCode)) return true;
  if (IsAutomationStart(args)) {
    CAutomationServer::Start(true);
  } else {
    // Every ordinary start keeps the service file pointing at this program.
    RegisterAutomationServer(OwnProgramPath());
  }
  return false;
}

void ServeAutomationClients(QWidget* mainWindow) {
  CAutomationServer* server = CAutomationServer::Instance();
  QPointer<QWidget> window = mainWindow;
  if (!server || !window) return;
  auto waiting = [server, window] { return window && (server->HoldsWindow() || window->isVisible()); };
  if (!waiting()) return;

  QEventLoop loop;
  auto check = [&loop, waiting] {
    if (!waiting()) loop.quit();
  };
  QObject::connect(server, &CAutomationServer::clientsChanged, &loop, check, Qt::QueuedConnection);

  // Notices the window going away (closed by the user once nobody holds it).
  class HideFilter : public QObject {
   public:
    HideFilter(QObject* parent, std::function<void()> f) : QObject(parent), f_(std::move(f)) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Hide || event->type() == QEvent::Close)
        QTimer::singleShot(0, this, f_);
      return false;
    }

   private:
    std::function<void()> f_;
  };
  auto* filter = new HideFilter(&loop, check);
  window->installEventFilter(filter);
  loop.exec();
  if (window) window->removeEventFilter(filter);
}

// ---- installed into the desktop program ---------------------------------------------------

namespace {

struct InstallAutomation {
  InstallAutomation() {
    DesktopServices& services = GetDesktopServices();
    services.automationSwitches = RunAutomationSwitches;
    services.automationHoldsWindow = [] {
      CAutomationServer* server = CAutomationServer::Instance();
      return server && server->HoldsWindow();
    };
    auto previous = services.mainWindowCreated;
    services.mainWindowCreated = [previous](CLumaro3Dlg* window) {
      if (previous) previous(window);
      if (CAutomationServer* server = CAutomationServer::Instance()) server->AttachMainWindow(window);
    };
  }
} g_installAutomation;

}  // namespace
