// The desktop tests' entry: one QApplication (offscreen unless a platform is
// given) for every test, the application profile in a private folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The history combo and anything else that keeps a profile writes here,
  // never into the user's own configuration.
  QTemporaryDir config;
  if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  // The offscreen screen is a small desktop one, 1024 x 768, the size the
  // main window must fit.
  if (config.isValid() && qgetenv("QT_QPA_PLATFORM") == "offscreen") {
    const QString screen = config.filePath(QStringLiteral("offscreen.json"));
    QFile file(screen);
    if (file.open(QIODevice::WriteOnly) &&
        file.write(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1024, "height": 768,
                       "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") > 0) {
      file.close();
      qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.toLocal8Bit());
    }
  }
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
