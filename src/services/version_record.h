// The program's version record and its reader.
//
// Every program built with the core carries a small text record in its own
// ELF section ".lumaro_version": lines of "Key=Value" ending in a NUL, with
// "FileVersion" such as "3, 3, 0, 5". CVersionResource finds that section in a
// program file by its section headers and returns values by name; a file
// without the section (or any file that is not a sound ELF file) has no
// version and every value reads as empty.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Name of the section that holds the record.
inline constexpr const char* kVersionSectionName = ".lumaro_version";

// The record as built into this program (the bytes of the section, without
// the terminating NUL).
const char* BuiltinVersionRecord();

class CVersionResource {
 public:
  // Largest section accepted as a record.
  static constexpr uint64_t kMaxRecordSize = 64 * 1024;

  CVersionResource() = default;
  // Reads the record of the given file. False when the file cannot be read,
  // is not an ELF file, is damaged, or has no record.
  bool Open(const std::string& path);
  // Reads the record of the running program (/proc/self/exe).
  bool OpenOwnProgram();
  bool IsOpen() const { return open_; }

  // The value of a key ("FileVersion"); empty when the record lacks it or
  // no record was read.
  std::string QueryValue(const std::string& name) const;

  // Parses record text into its entries (exposed for the reader's tests).
  static std::vector<std::pair<std::string, std::string>> ParseRecord(const std::string& text);

 private:
  bool open_ = false;
  std::vector<std::pair<std::string, std::string>> entries_;
};

// The path of the running program file (empty when it cannot be found).
std::string OwnProgramPath();

// "FileVersion" of the running program's record (empty without one).
std::string OwnFileVersion();
