// Output names: where a converted file goes and what it is called.
//
// For every source file the worker decides, before it loads the image, the
// output directory (the output folder, optionally with the source's folder
// path rebuilt beneath it, or the source's own folder when no output folder
// is set) and the base name (the source name, or a name made from the rename
// pattern and a sequence number). Directory plus name, without extension, is
// the output base; the output writer completes it with its extension.
#pragma once

#include <map>
#include <string>

#include "formats/extensions.h"

// Expands a rename pattern. name holds the source file's name (without
// extension) on entry and the new name on return. The pattern is read from
// left to right:
//   "*"        the name as it was on entry;
//   n x "#"    number with at least n digits, zero-padded ("%.nd": -7 with
//              "###" gives "-007"); every run uses the same number;
//   "^"        the last folder name of directory: one trailing "/" is
//              removed, then the text after the last "/" is taken ("/" alone
//              or a directory without "/" gives nothing);
//   other      copied as it is.
// Always returns true; the caller advances its numbering on that result.
// The result is not checked here: see CheckOutputName.
bool ExpandRenamePattern(const std::string& directory, std::string& name,
                         const std::string& pattern, int number);

// Checks a name (without extension) before it is used as the last component
// of an output path: false with a reason for an empty name, ".", "..", a name
// containing "/" or NUL, or one longer than 255 bytes. When an extension
// follows (extensionFollows), "." and ".." are allowed: "..jpg" is a proper
// file name; the writer refuses a final name that is "." or "..".
bool CheckOutputName(const std::string& name, std::string& reason,
                     bool extensionFollows = false);

// The supported-extension test over the 23 entries
// ".bmp;.gif;.jpg;.jpeg;.png;.ico;.tif;.tiff;.tga;.pcx;.wbmp;.wmf;.emf;.j2k;
// .jp2;.jbg;.j2c;.jpc;.pgx;.pnm;.pgm;.ppm;.ras;". Any letter case is
// accepted; only whole entries match (".if" and ".peg" do not); an empty
// extension (a name without a dot) is accepted.
bool IsSupportedExtension(const std::string& extensionWithDot);

// Splits a path into directory (everything up to and including the last
// "/", "" when there is none), name (the last component without extension)
// and extension (as FindExtension gives it).
void SplitSourcePath(const std::string& path, std::string& directory, std::string& name,
                     std::string& extension);

// The naming settings of one job, as plain values.
struct NamingOptions {
  std::string OutputFolder;         // "" = every output beside its source
  int KeepSubfoldersStructure = 0;  // with IncludingSubfolders: rebuild the source path
  int IncludingSubfolders = 0;
  int UseRename = 0;
  std::string RenamePattern;
  int RenameThrough = 0;  // nonzero: every output directory numbers on its own
  int RenameStartFrom = 1;
};

// Makes the output bases of one job. Create one per job and call
// MakeOutputBase for every file in job order: each call that gives a file a
// pattern name uses up its number, whatever happens to the file later.
class COutputNamer {
 public:
  explicit COutputNamer(const NamingOptions& options);

  // Computes the output base (directory + "/" + name, no extension) of an
  // absolute source path. When the subfolder structure is kept, the output
  // directory and its missing parents are created here (an existing or
  // uncreatable directory is not an error at this point: the save fails
  // later). Returns false with a reason when the name made by the rename
  // pattern cannot be used as a file name; the number is used up anyway.
  bool MakeOutputBase(const std::string& sourcePath, std::string& outputBase,
                      std::string& reason);

  // The output directory of the last MakeOutputBase call (no trailing "/",
  // except "/" itself).
  const std::string& LastOutputDirectory() const { return lastDirectory_; }
  // The output folder with one "/" appended ("" when no output folder is set).
  const std::string& OutputRoot() const { return outputRoot_; }
  // The next number of the continuous numbering.
  int ThroughNumber() const { return throughNumber_; }
  // Last number used per output directory, as decimal text.
  const std::map<std::string, std::string>& FolderNumbers() const { return folderNumbers_; }

 private:
  bool KeepStructure() const;
  bool Renaming() const;

  NamingOptions options_;
  std::string outputRoot_;
  int throughNumber_;
  std::map<std::string, std::string> folderNumbers_;
  std::string lastDirectory_;
};
