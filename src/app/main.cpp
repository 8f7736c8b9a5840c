// lumaro: the desktop program, or the batch converter with --convert.
#include <cstdio>
#include <cstring>

#include "app/batch.h"
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
  }
#ifdef LUMARO_HAVE_UI
  return RunDesktop(argc, argv);
#else
  std::fprintf(stderr, "lumaro: built without the desktop program; use --convert\n");
  return 2;
#endif
}
