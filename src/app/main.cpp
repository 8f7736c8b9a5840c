// lumaro: the desktop program, or the batch converter with --convert.
#include <cstdio>
#include <cstring>

#include "app/batch.h"
#include "services/application.h"
#include "services/split.h"
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
