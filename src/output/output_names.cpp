#include "output/output_names.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "output/safe_write.h"

namespace {

constexpr size_t kMaxNameBytes = 255;

// "%.nd" of number: at least n digits, zero-padded, the minus sign in front.
std::string FormatNumber(int number, size_t digits) {
  // Formatted by hand so that any run length works without a format buffer.
  int64_t value = number;
  bool negative = value < 0;
  uint64_t magnitude = negative ? uint64_t(-value) : uint64_t(value);
  std::string text;
  do {
    text.push_back(char('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  // "%.0d" of 0 prints nothing; a run always has at least one "#", so the
  // single "0" above matches "%.nd" for n >= 1.
  if (text.size() < digits) text.append(digits - text.size(), '0');
  if (negative) text.push_back('-');
  std::reverse(text.begin(), text.end());
  return text;
}

// The last folder name of a directory, as "^" gives it.
std::string ParentFolderName(const std::string& directory) {
  std::string copy = directory;
  if (copy.size() > 1 && copy.back() == '/') copy.pop_back();
  size_t slash = copy.rfind('/');
  if (copy.empty() || slash == std::string::npos) return std::string();
  return copy.substr(slash + 1);
}

// One trailing "/" removed; "/" itself stays.
std::string WithoutTrailingSlash(std::string path) {
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Adds one to a number held as decimal text, wrapping like a 32-bit counter.
int NextNumber(int number) { return int(uint32_t(number) + 1u); }

}  // namespace

bool ExpandRenamePattern(const std::string& directory, std::string& name,
                         const std::string& pattern, int number) {
  std::string result;
  const std::string parent = ParentFolderName(directory);
  for (size_t i = 0; i < pattern.size();) {
    char c = pattern[i];
    if (c == '*') {
      result += name;
      ++i;
    } else if (c == '#') {
      size_t run = 0;
      while (i < pattern.size() && pattern[i] == '#') {
        ++run;
        ++i;
      }
      result += FormatNumber(number, run);
    } else if (c == '^') {
      result += parent;
      ++i;
    } else {
      result.push_back(c);
      ++i;
    }
  }
  name = std::move(result);
  return true;
}

bool CheckOutputName(const std::string& name, std::string& reason, bool extensionFollows) {
  if (name.empty()) {
    reason = "the output file name is empty";
    return false;
  }
  if (!extensionFollows && (name == "." || name == "..")) {
    reason = "\"" + name + "\" cannot be used as a file name";
    return false;
  }
  if (name.find('/') != std::string::npos) {
    reason = "the output file name \"" + name + "\" contains \"/\"";
    return false;
  }
  if (name.find('\0') != std::string::npos) {
    reason = "the output file name contains a NUL character";
    return false;
  }
  if (name.size() > kMaxNameBytes) {
    reason = "the output file name is longer than 255 bytes (" + std::to_string(name.size()) +
             " bytes)";
    return false;
  }
  return true;
}

bool IsSupportedExtension(const std::string& extensionWithDot) {
  static const std::string kList =
      ".bmp;.gif;.jpg;.jpeg;.png;.ico;.tif;.tiff;.tga;.pcx;.wbmp;.wmf;.emf;.j2k;.jp2;.jbg;.j2c;"
      ".jpc;.pgx;.pnm;.pgm;.ppm;.ras;"
      // Formats of today: phones, the web, camera raw files.
      ".webp;.heic;.heif;.hif;.avif;.jxl;.dng;.cr2;.cr3;.nef;.arw;.orf;.rw2;.raf;.pef;.srw;";
  if (extensionWithDot.size() > 254) return false;
  // A ";" would let the text span several entries of the list.
  if (extensionWithDot.find(';') != std::string::npos) return false;
  std::string key;
  key.reserve(extensionWithDot.size() + 1);
  for (char c : extensionWithDot) key.push_back(char(std::tolower(static_cast<unsigned char>(c))));
  key.push_back(';');
  if (key == ";") return true;
  // Only whole entries: the key must start right after a ";" or at the start.
  for (size_t pos = kList.find(key); pos != std::string::npos; pos = kList.find(key, pos + 1)) {
    if (pos == 0 || kList[pos - 1] == ';') return true;
  }
  return false;
}

void SplitSourcePath(const std::string& path, std::string& directory, std::string& name,
                     std::string& extension) {
  size_t slash = path.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  directory = path.substr(0, start);
  extension = FindExtension(path);
  name = path.substr(start, path.size() - start - extension.size());
}

COutputNamer::COutputNamer(const NamingOptions& options)
    : options_(options), throughNumber_(options.RenameStartFrom) {
  outputRoot_ = options_.OutputFolder;
  if (!outputRoot_.empty() && outputRoot_.back() != '/') outputRoot_.push_back('/');
}

bool COutputNamer::KeepStructure() const {
  return options_.KeepSubfoldersStructure != 0 && options_.IncludingSubfolders != 0;
}

bool COutputNamer::Renaming() const {
  return options_.UseRename != 0 && !options_.RenamePattern.empty();
}

bool COutputNamer::MakeOutputBase(const std::string& sourcePath, std::string& outputBase,
                                  std::string& reason) {
  std::string sourceDirectory, name, extension;
  SplitSourcePath(sourcePath, sourceDirectory, name, extension);
  const bool keep = KeepStructure();
  bool renamed = false;

  // Continuous numbering: the "^" of the pattern names the source's folder.
  if (Renaming() && (options_.RenameThrough == 0 || !keep)) {
    if (ExpandRenamePattern(sourceDirectory, name, options_.RenamePattern, throughNumber_)) {
      throughNumber_ = NextNumber(throughNumber_);
      renamed = true;
    }
  }

  std::string directory;
  if (options_.OutputFolder.empty()) {
    directory = sourceDirectory;
  } else if (keep) {
    // The source's whole directory path is rebuilt under the output folder.
    // It is normalised first, so that ".." components cannot climb out of it.
    std::string relative =
        std::filesystem::path(sourceDirectory).lexically_normal().generic_string();
    size_t skip = 0;
    while (skip < relative.size() && relative[skip] == '/') ++skip;
    relative.erase(0, skip);
    if (relative == "." || relative == "./") relative.clear();
    if (relative.rfind("../", 0) == 0 || relative == "..") relative.clear();
    directory = outputRoot_ + relative;
  } else {
    directory = outputRoot_;
  }
  directory = WithoutTrailingSlash(directory);
  lastDirectory_ = directory;

  if (keep) {
    // Numbering per output directory: "^" names the output directory's last
    // folder, and the next file going there continues from this number.
    if (Renaming() && options_.RenameThrough != 0) {
      int number = options_.RenameStartFrom;
      auto it = folderNumbers_.find(directory);
      if (it != folderNumbers_.end())
        number = NextNumber(int(std::strtol(it->second.c_str(), nullptr, 10)));
      if (ExpandRenamePattern(directory, name, options_.RenamePattern, number)) {
        folderNumbers_[directory] = std::to_string(number);
        renamed = true;
      }
    }
  }

  // The writer appends an extension (the source's own for the keep-format
  // writer), so a source "..jpg" gives the proper name "..jpg" again.
  if (!CheckOutputName(name, reason, true)) {
    if (!renamed) reason += " (source " + sourcePath + ")";
    return false;
  }

  // An existing directory or one that cannot be made is not an error here;
  // the writer's save reports it.
  if (keep) CreateDirectoryTree(directory);

  outputBase = directory;
  if (!outputBase.empty() && outputBase.back() != '/') outputBase.push_back('/');
  outputBase += name;
  return true;
}
