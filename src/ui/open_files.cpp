#include "ui/open_files.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFileInfo>

#include "ui/file_list.h"
#include "ui/main_window.h"

QStringList OpenedPaths(const QStringList& args) {
  QStringList paths;
  bool switchesEnded = false;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (!switchesEnded && arg == QLatin1String("--")) {
      switchesEnded = true;
      continue;
    }
    if (arg.isEmpty() || (!switchesEnded && arg.startsWith(QLatin1Char('-')))) continue;
    paths << QDir::cleanPath(QFileInfo(arg).absoluteFilePath());
  }
  return paths;
}

bool HandOverToRunningWindow(const QStringList& paths, const QDBusConnection& connection) {
  if (paths.isEmpty() || !connection.isConnected()) return false;
  QDBusConnectionInterface* bus = connection.interface();
  // Asked first so that a bus with a service file for the name does not
  // start a program just to take the paths.
  if (!bus || !bus->isServiceRegistered(QLatin1String(kOpenFilesService)).value()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kOpenFilesService),
                                                     QLatin1String(kOpenFilesPath),
                                                     QLatin1String(kOpenFilesInterface),
                                                     QStringLiteral("Add"));
  call << paths;
  call.setAutoStartService(false);
  const QDBusReply<int> reply = connection.call(call, QDBus::Block, 30000);
  return reply.isValid();
}

COpenFilesService::COpenFilesService(CLumaro3Dlg* window, const QDBusConnection& connection)
    : QObject(window), window_(window), connection_(connection) {}

COpenFilesService::~COpenFilesService() {
  if (!connection_.isConnected()) return;
  connection_.unregisterObject(QLatin1String(kOpenFilesPath));
  connection_.unregisterService(QLatin1String(kOpenFilesService));
}

COpenFilesService* COpenFilesService::Start(CLumaro3Dlg* window, const QDBusConnection& connection) {
  if (!window || !connection.isConnected()) return nullptr;
  auto* service = new COpenFilesService(window, connection);
  QDBusConnection bus = connection;
  if (!bus.registerObject(QLatin1String(kOpenFilesPath), service, QDBusConnection::ExportScriptableSlots)) {
    service->connection_ = QDBusConnection(QString());
    delete service;
    return nullptr;
  }
  if (!bus.registerService(QLatin1String(kOpenFilesService))) {
    // Another window of the session serves the name.
    bus.unregisterObject(QLatin1String(kOpenFilesPath));
    service->connection_ = QDBusConnection(QString());
    delete service;
    return nullptr;
  }
  return service;
}

int COpenFilesService::Add(const QStringList& paths) {
  if (!window_) return 0;
  QStringList absolute;
  for (const QString& path : paths)
    if (QFileInfo(path).isAbsolute()) absolute << QDir::cleanPath(path);
  // A running job has its own copy of the list: adding is safe then too.
  const int added = window_->AddDroppedPaths(absolute);
  if (window_->isMinimized())
    window_->showNormal();
  else
    window_->show();
  window_->raise();
  window_->activateWindow();
  return added;
}

QStringList COpenFilesService::Entries() const {
  return window_ && window_->FileList() ? window_->FileList()->Paths() : QStringList();
}
