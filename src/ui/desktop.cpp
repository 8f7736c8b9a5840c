// The desktop program's start-up and exit.
#include "ui/desktop.h"

#include <QApplication>
#include <QMessageBox>

#include "services/application.h"
#include "services/strings.h"

int RunDesktop(int argc, char** argv) {
  QApplication qapp(argc, argv);
  CApplication app;
  app.Start(CApplication::Mode::Desktop);
  QMessageBox::information(nullptr, QString::fromStdString(LoadResString(IDS_APP_NAME)),
                           QStringLiteral("The main window is not built yet."));
  app.Exit();
  return 0;
}
