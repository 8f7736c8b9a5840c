// The desktop tests' entry: one QApplication (offscreen unless a platform is
// given) for every test, the application profile in a private folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The history combo and anything else that keeps a profile writes here,
  // never into the user's own configuration.
  QTemporaryDir config;
  if (config.isValid()) qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
