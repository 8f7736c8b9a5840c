// Times CImage::Resample2 with the Lanczos kernel on a generated photo-like
// picture, in process (no file reading or writing inside the timing).
//
//   resample_bench [--runs N] [--width W --height H] [--to W H]
//                  [--interpolation I] [--write-ppm FILE]
//
// --write-ppm saves the source picture as binary PPM so that another tool
// can resize the very same pixels. Prints the medians of the runs in
// seconds: wall-clock time, then the processor time of the thread.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace {

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Smooth shading, hard edges and fine grain, like a photograph.
void FillPhoto(CImage& img) {
  const int w = img.GetWidth(), h = img.GetHeight();
  uint32_t seed = 12345;
  for (int yt = 0; yt < h; ++yt) {
    uint8_t* row = img.TopRow(yt);
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int grain = int((seed >> 24) & 15) - 8;
      double fx = double(x) / w, fy = double(yt) / h;
      double sky = 200 - 120 * fy + 30 * std::sin(fx * 9.0);
      bool building = (x / 211) % 3 == 1 && fy > 0.35 + 0.2 * std::sin(x / 97.0);
      bool window = building && (x % 23 < 9) && (yt % 31 < 14);
      int r = int(building ? (window ? 230 : 90 + 40 * fx) : sky * 0.6);
      int g = int(building ? (window ? 210 : 80 + 30 * fy) : sky * 0.8);
      int b = int(building ? (window ? 120 : 70) : sky);
      row[x * 3] = uint8_t(std::clamp(b + grain, 0, 255));
      row[x * 3 + 1] = uint8_t(std::clamp(g + grain, 0, 255));
      row[x * 3 + 2] = uint8_t(std::clamp(r + grain, 0, 255));
    }
  }
}

bool WritePpm(const CImage& img, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", img.GetWidth(), img.GetHeight());
  std::vector<uint8_t> line(size_t(img.GetWidth()) * 3);
  bool ok = true;
  for (int yt = 0; yt < img.GetHeight() && ok; ++yt) {
    const uint8_t* row = img.TopRow(yt);
    for (int x = 0; x < img.GetWidth(); ++x) {
      line[x * 3] = row[x * 3 + 2];
      line[x * 3 + 1] = row[x * 3 + 1];
      line[x * 3 + 2] = row[x * 3];
    }
    ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  }
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7, width = 4000, height = 3000, toW = 1600, toH = 1200;
  int interpolation = CImage::IM_LANCZOS;
  std::string ppm;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](int& v) {
      if (i + 1 < argc) v = std::atoi(argv[++i]);
    };
    if (a == "--runs")
      next(runs);
    else if (a == "--width")
      next(width);
    else if (a == "--height")
      next(height);
    else if (a == "--to") {
      next(toW);
      next(toH);
    } else if (a == "--interpolation")
      next(interpolation);
    else if (a == "--write-ppm" && i + 1 < argc)
      ppm = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: %s [--runs N] [--width W --height H] [--to W H] "
                   "[--interpolation I] [--write-ppm FILE]\n",
                   argv[0]);
      return 2;
    }
  }
  CImage src;
  if (!src.Create(width, height, 24)) {
    std::fprintf(stderr, "cannot create the picture: %s\n", src.GetLastError().c_str());
    return 1;
  }
  FillPhoto(src);
  if (!ppm.empty() && !WritePpm(src, ppm)) {
    std::fprintf(stderr, "cannot write %s\n", ppm.c_str());
    return 1;
  }
  std::vector<double> times, cpu;
  for (int r = 0; r < std::max(runs, 1); ++r) {
    CImage out;
    double c0 = ThreadSeconds();
    auto t0 = std::chrono::steady_clock::now();
    bool ok = src.Resample2(toW, toH, interpolation, CImage::OM_REPEAT, &out);
    auto t1 = std::chrono::steady_clock::now();
    double c1 = ThreadSeconds();
    if (!ok || out.GetWidth() != toW || out.GetHeight() != toH) {
      std::fprintf(stderr, "resample failed: %s\n", src.GetLastError().c_str());
      return 1;
    }
    times.push_back(std::chrono::duration<double>(t1 - t0).count());
    cpu.push_back(c1 - c0);
  }
  std::sort(times.begin(), times.end());
  std::sort(cpu.begin(), cpu.end());
  std::printf("%.4f %.4f\n", times[times.size() / 2], cpu[cpu.size() / 2]);
  return 0;
}
