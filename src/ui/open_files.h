// Files and folders handed to the program on its command line
// ("lumaro FILE...", "lumaro FOLDER", what a desktop's "Open with" runs).
//
// The first window of a session owns the bus name "example.lumaro.Lumaro"
// and serves, at /example/lumaro/Lumaro, interface
// "example.lumaro.Lumaro.Files":
//   method Add(as paths) -> (i added): adds the folders and the supported
//          files among the absolute paths to the window's file list, shows
//          and raises the window; the number of entries added
//   method Entries() -> (as paths): the paths of the window's file list
// A later start with paths hands them to that window and ends instead of
// opening a second window.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>

class CLumaro3Dlg;

inline constexpr const char* kOpenFilesService = "example.lumaro.Lumaro";
inline constexpr const char* kOpenFilesPath = "/example/lumaro/Lumaro";
inline constexpr const char* kOpenFilesInterface = "example.lumaro.Lumaro.Files";

// The paths among the program's arguments (the first, the program, is not
// looked at): every argument that is not a switch, and every one after
// "--", made absolute against the current folder.
QStringList OpenedPaths(const QStringList& args);

// Hands paths to the window that owns the bus name. True when that window
// took them (the caller then ends); false when no window of the session
// serves them.
bool HandOverToRunningWindow(const QStringList& paths,
                             const QDBusConnection& connection = QDBusConnection::sessionBus());

class COpenFilesService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "example.lumaro.Lumaro.Files")
 public:
  // Serves window on the connection when the bus name is free; nullptr
  // (and nothing registered) when another window owns it or there is no
  // bus.
  static COpenFilesService* Start(CLumaro3Dlg* window,
                                  const QDBusConnection& connection = QDBusConnection::sessionBus());
  ~COpenFilesService() override;

 public slots:
  Q_SCRIPTABLE int Add(const QStringList& paths);
  Q_SCRIPTABLE QStringList Entries() const;

 private:
  COpenFilesService(CLumaro3Dlg* window, const QDBusConnection& connection);
  QPointer<CLumaro3Dlg> window_;
  QDBusConnection connection_;
};
