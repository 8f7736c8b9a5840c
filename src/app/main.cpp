// lumaro: the desktop program, or the batch converter with --convert.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/batch.h"
#include "services/application.h"
#include "services/split.h"
#include "settings/ini_store.h"
#include "settings/settings.h"
#ifdef LUMARO_HAVE_UI
#include "ui/desktop.h"
#endif

namespace {

// The switch name without one or two leading dashes, in lower case.
std::string SwitchName(const char* arg) {
  std::string name = arg;
  name.erase(0, name.compare(0, 2, "--") == 0 ? 2 : 1);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return name;
}

// How many arguments from argv[i] on make one option of the desktop
// program (its automation switches, and Qt's own options with their
// values); 0 for an option the desktop program does not know.
int DesktopOptionLength(int argc, char** argv, int i) {
  static const char* const kSwitches[] = {"automation", "embedding",   "regserver",
                                          "register",   "unregserver", "unregister",
                                          "reverse"};
  static const char* const kWithValue[] = {
      "platform", "platformpluginpath", "platformtheme", "plugin",      "style",
      "stylesheet", "session",          "display",       "geometry",    "qwindowgeometry",
      "qwindowicon", "qwindowtitle",    "title"};
  const std::string name = SwitchName(argv[i]);
  for (const char* s : kSwitches)
    if (name == s) return 1;
  for (const char* s : kWithValue)
    if (name == s) return i + 1 < argc ? 2 : 0;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Lumaro III %s\n", LUMARO_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      ChooseDefaultFileLanguage();
      std::printf("%s\n", BatchUsageText().c_str());
      return 0;
    }
    if (std::strcmp(argv[i], "--convert") == 0) return RunBatchConvert(argc, argv, i + 1);
    if (std::strcmp(argv[i], "--split") == 0) {
      if (argc - i != 3) {
        ChooseDefaultFileLanguage();
        return BatchUsageError(std::string());
      }
      ChooseDefaultFileLanguage();  // for the filter host's messages
      CApplication app;
      app.Start(CApplication::Mode::Batch);
      // The interface language of the default settings file; the file is
      // only read.
      CIniStore store(GetSettings().DefaultFileToRead());
      if (store.Read()) GetSettings().LoadFromStore(store);
      app.ChooseLanguage();
      int rc = RunSplitCommand(argv[i + 1], argv[i + 2]);
      app.Exit();
      return rc;
    }
  }
  // Everything else is the desktop program, which needs a display; an
  // option it does not know is a usage error, told without one.
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') continue;
    const int length = DesktopOptionLength(argc, argv, i);
    if (length == 0) {
      ChooseDefaultFileLanguage();
      return BatchUsageError(BatchText("неизвестный параметр %s", argv[i]));
    }
    i += length - 1;
  }
#ifdef LUMARO_HAVE_UI
  return RunDesktop(argc, argv);
#else
  ChooseDefaultFileLanguage();
  return BatchUsageError(BatchText("программа собрана без окна; используйте --convert"));
#endif
}
