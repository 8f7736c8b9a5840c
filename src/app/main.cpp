// lumaro: the desktop program, or the batch converter with --convert.
#include <cstdio>
#include <cstring>

#include "app/batch.h"
#include "services/application.h"
#include "services/split.h"
#include "settings/ini_store.h"
#include "settings/settings.h"
#ifdef LUMARO_HAVE_UI
#include "ui/desktop.h"
#endif

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Lumaro III %s\n", LUMARO_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--convert") == 0) return RunBatchConvert(argc, argv, i + 1);
    if (std::strcmp(argv[i], "--split") == 0) {
      if (argc - i != 3) {
        std::fprintf(stderr, "lumaro: usage: lumaro --split FILE FOLDER\n");
        return 2;
      }
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
#ifdef LUMARO_HAVE_UI
  return RunDesktop(argc, argv);
#else
  std::fprintf(stderr, "lumaro: built without the desktop program; use --convert\n");
  return 2;
#endif
}
