// lumaro: the desktop program, or the batch converter with --convert.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Lumaro III %s\n", LUMARO_VERSION);
      return 0;
    }
  }
  std::fprintf(stderr, "lumaro: batch mode is not built yet\n");
  return 2;
}
