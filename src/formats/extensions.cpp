// Extensions of paths and the format codes they stand for.
#include "formats/extensions.h"

#include "imaging/image.h"

int FormatFromExtension(const std::string& path) {
  size_t start = path.find_last_of('/');
  start = (start == std::string::npos) ? 0 : start + 1;
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < start) return 0;
  std::string ext = path.substr(dot + 1);
  // Only ASCII letters fold; bytes of other UTF-8 characters never match.
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  static const struct {
    const char* ext;
    int code;
  } kTable[] = {{"bmp", 1},  {"gif", 2},  {"jpg", 3},  {"jpeg", 3}, {"png", 4},  {"ico", 5},
                {"tif", 6},  {"tiff", 6}, {"tga", 7},  {"pcx", 8},  {"wbmp", 9}, {"wmf", 10},
                {"emf", 10}, {"jp2", 11}, {"j2k", 11}, {"jpc", 12}, {"j2c", 12}, {"pgx", 13},
                {"pnm", 14}, {"pgm", 14}, {"ppm", 14}, {"ras", 15}, {"jbg", 16},
                {"webp", FORMAT_WEBP}, {"heic", FORMAT_HEIF}, {"heif", FORMAT_HEIF},
                {"hif", FORMAT_HEIF},  {"avif", FORMAT_AVIF}, {"jxl", FORMAT_JXL},
                {"dng", FORMAT_RAW},   {"cr2", FORMAT_RAW},   {"cr3", FORMAT_RAW},
                {"nef", FORMAT_RAW},   {"arw", FORMAT_RAW},   {"orf", FORMAT_RAW},
                {"rw2", FORMAT_RAW},   {"raf", FORMAT_RAW},   {"pef", FORMAT_RAW},
                {"srw", FORMAT_RAW}};
  for (const auto& row : kTable)
    if (ext == row.ext) return row.code;
  return 0;
}

std::string FindExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) return std::string();
  return path.substr(dot);
}
