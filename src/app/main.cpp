// lumaro: the desktop program, or the batch converter with --convert.
#include <cstdio>
#include <cstring>

#include "app/batch.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Lumaro III %s\n", LUMARO_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--convert") == 0) return RunBatchConvert(argc, argv, i + 1);
  }
  std::fprintf(stderr, "lumaro: the desktop program is not built yet; use --convert\n");
  return 2;
}
