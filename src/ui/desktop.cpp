// The desktop program's start-up and exit.
#include "ui/desktop.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include "plugins/filter_host.h"
#include "services/application.h"
#include "services/strings.h"
#include "settings/settings.h"
#include "ui/about_dlg.h"
#include "ui/automation.h"
#include "ui/controls.h"
#include "ui/dialog_support.h"
#include "ui/main_window.h"
#include "ui/open_files.h"

namespace {

// Paths on the command line of a start without switches go to a window that
// already runs in the session. True when it took them.
bool HandOverPaths(const QStringList& args, const QStringList& paths) {
  for (qsizetype i = 1; i < args.size() && args[i] != QLatin1String("--"); ++i)
    if (args[i].startsWith(QLatin1Char('-'))) return false;
  return HandOverToRunningWindow(paths);
}

// The new window serves later starts and lists the command line's paths.
void OpenCommandLinePaths(CLumaro3Dlg& window, const QStringList& paths) {
  COpenFilesService::Start(&window);
  if (!paths.isEmpty()) window.AddDroppedPaths(paths);
}

// Problems with the settings found at start, in a box that does not hold up
// the window.
void ShowStartMessages(CLumaro3Dlg& window, const CApplication& app) {
  if (app.StartMessages().empty()) return;
  QString text;
  for (const std::string& line : app.StartMessages())
    text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(line);
  auto* box = new QMessageBox(QMessageBox::Warning, ResString(IDS_APP_NAME), text, QMessageBox::Ok, &window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

}  // namespace

int RunDesktop(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lumaro"));
  // Lets the desktop match the window with its entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("example.lumaro.Lumaro"));
  QApplication::setWindowIcon(ProgramIcon());
  // Without a desktop's own theme, take the file and folder icons from the
  // Adwaita theme when it is installed.
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));

  // "lumaro FILE..." while a window runs: that window takes the files.
  const QStringList opened = OpenedPaths(QApplication::arguments());
  if (!opened.isEmpty() && HandOverPaths(QApplication::arguments(), opened)) return 0;

  // Program folder, filter plug-ins, the default settings file, the
  // language library.
  CApplication app;
  app.Start(CApplication::Mode::Desktop);

  // ---- The automation switches ------------------------------------------
  // --automation/--embedding start the automation server and go on to the
  // main window; --regserver and --unregserver end here. The automation
  // service installs GetDesktopServices().automationSwitches.
  const DesktopServices& services = GetDesktopServices();
  if (services.automationSwitches) {
    int exitCode = 0;
    if (services.automationSwitches(QApplication::arguments(), exitCode)) {
      app.Exit();
      return exitCode;
    }
  }

  // Qt's own buttons and dialogs speak the interface's language.
  InstallQtTranslations();

  // The dialogs of the pages, the format options, the interactive
  // adjustment, renaming, general settings and the split tool.
  InstallDialogServices();

  int result = 0;
  {
    CLumaro3Dlg window(app.Filters());
    if (services.mainWindowCreated) services.mainWindowCreated(&window);
    OpenCommandLinePaths(window, opened);
    window.show();
    ShowStartMessages(window, app);
    // The filter host's messages of the start-up (duplicate GUIDs) show over
    // the window once it is up.
    QTimer::singleShot(0, &window, [&window] {
      window.ShowStartupMessages(GetFilterHost().Messages());
    });
    window.exec();
    // exec() also ends when the window is only hidden while an automation
    // client holds it: serve the clients until they let go.
    ServeAutomationClients(&window);
  }
  // The settings go into the default settings file; the language library
  // is released.
  app.Exit();
  return result;
}
