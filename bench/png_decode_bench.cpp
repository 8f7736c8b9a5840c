// Times PNG decoding in process: the codec as the program uses it, and
// libpng alone (the path the codec falls back to), on the same files.
//
//   png_decode_bench [--runs N] FILE...
//
// Prints per file the medians of the runs in seconds of processor time of
// the thread (steady on a busy machine), and their ratio.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "imaging/codecs/png_internal.h"
#include "imaging/image.h"

namespace {

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

std::vector<uint8_t> ReadFile(const char* path) {
  std::vector<uint8_t> d;
  if (FILE* f = std::fopen(path, "rb")) {
    unsigned char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
    std::fclose(f);
  }
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else
      files.push_back(argv[i]);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: png_decode_bench [--runs N] FILE...\n");
    return 2;
  }
  std::printf("%-40s %10s %10s %7s\n", "file", "codec s", "libpng s", "ratio");
  for (const char* path : files) {
    std::vector<uint8_t> data = ReadFile(path);
    std::vector<double> codec, libpng;
    for (int r = 0; r < runs; ++r) {
      CImage a, b;
      double t0 = ThreadSeconds();
      bool okA = a.Decode(data.data(), data.size(), FORMAT_PNG);
      double t1 = ThreadSeconds();
      bool okB = png_internal::DecodeThroughLibpng(b, data.data(), data.size());
      double t2 = ThreadSeconds();
      if (!okA || !okB) {
        std::fprintf(stderr, "%s: %s\n", path, (okA ? b : a).GetLastError().c_str());
        return 1;
      }
      codec.push_back(t1 - t0);
      libpng.push_back(t2 - t1);
    }
    double c = Median(codec), l = Median(libpng);
    std::printf("%-40s %10.3f %10.3f %7.2f\n", path, c, l, l > 0 ? c / l : 0.0);
  }
  return 0;
}
