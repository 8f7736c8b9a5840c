// CIniStore: an in-memory model of one INI file.
//
// Read() parses a whole file into ordered lists of sections, keys, values and
// comments; the getters answer lookups with the caller's default; the setters
// change or append; Write() puts the whole model back into the file. Names and
// values are byte strings (UTF-8 in practice) taken exactly as they stand in
// the file: nothing is trimmed, quoted or escaped.
//
// File form:
//   ;comment before the first section (a header comment)
//   <empty line after the header comments>
//   [Section]
//   ;section comment
//   Key=Value
//   <empty line after each section>
//
// Lookups compare names with only the letters A-Z folded to a-z; every other
// byte (digits, blanks, punctuation, non-ASCII letters) must match exactly.
// Section names need not be unique: AddSection never checks, and lookups find
// the first section of a name.
//
// Reading: a CR before the line end is dropped, so files written on Windows
// load. Writing: lines end with LF; the file is written to a temporary file in
// the same folder and renamed over the old one, so a failed write leaves the
// old file as it was. A line break inside a name, value or comment would split
// its line and change the file's meaning, so Write turns CR and LF inside them
// into blanks.
//
// Integers are read as the C runtime's decimal conversion does: leading white
// space, an optional sign, then digits up to the first non-digit; text without
// digits reads as 0 ("12abc" is 12, "abc" is 0). A number beyond the range of
// int reads as INT_MAX or INT_MIN.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// The runtime's decimal conversion described above, saturating at the int
// range.
int IniParseInt(const std::string& text);
// The same conversion for a 32-bit value stored as signed decimal (colours,
// addresses). Text in the signed range or in the unsigned range 0..4294967295
// gives that 32-bit pattern; anything beyond saturates at the nearer end of
// -2147483648..4294967295.
uint32_t IniParseUInt32(const std::string& text);
// Signed decimal of a 32-bit value ("%ld" of the value as a signed number).
std::string IniFormatUInt32(uint32_t value);

class CIniStore {
 public:
  struct Section {
    std::vector<std::string> KeyNames;
    std::vector<std::string> Values;  // parallel to KeyNames
    std::vector<std::string> Comments;
  };

  explicit CIniStore(const std::string& path);
  virtual ~CIniStore();

  // Parses Path into the model, adding to what is there. Returns true when the
  // model then holds at least one section; false when the file cannot be
  // opened or holds no section (comments read are kept in the model).
  bool Read();
  // Replaces the file at Path with the whole model. False when it cannot be
  // written; the old file is then untouched.
  bool Write();

  // Index of the first section of that name, or -1.
  int FindSection(const std::string& name) const;
  // Index of the first key of that name in a section, or -1 (also for a
  // section index outside the list).
  int FindKey(int section, const std::string& key) const;
  // Appends a section with empty lists; returns its index.
  int AddSection(const std::string& name);

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) const;
  int GetInt(const std::string& section, const std::string& key, int defaultValue) const;
  bool GetBool(const std::string& section, const std::string& key, bool defaultValue) const;
  // A colour or address: signed decimal text of a 32-bit value.
  uint32_t GetUInt32(const std::string& section, const std::string& key,
                     uint32_t defaultValue) const;

  // Replaces the value of an existing key (its position and spelling stay).
  // A missing section or key is appended when create is true; otherwise the
  // call returns false and changes nothing.
  bool SetString(const std::string& section, const std::string& key, const std::string& value,
                 bool create = true);
  // SetInt, SetBool and SetUInt32 always create what is missing, whatever
  // create says.
  bool SetInt(const std::string& section, const std::string& key, int value, bool create = true);
  bool SetBool(const std::string& section, const std::string& key, bool value,
               bool create = true);
  bool SetUInt32(const std::string& section, const std::string& key, uint32_t value,
                 bool create = true);

  void AddHeaderComment(const std::string& text);
  // Appends a comment to the first section of that name; false when none.
  bool AddSectionComment(const std::string& section, const std::string& text);

  // The model, read-only.
  bool IsCaseInsensitive() const { return CaseInsensitive; }
  const std::string& GetPath() const { return Path; }
  int SectionCount() const { return static_cast<int>(Sections.size()); }
  const std::string& SectionName(int index) const { return SectionNames[size_t(index)]; }
  const Section& SectionAt(int index) const { return Sections[size_t(index)]; }
  const std::vector<std::string>& GetHeaderComments() const { return HeaderComments; }

  // Why the last Read or Write failed.
  const std::string& GetLastError() const { return LastError; }

 private:
  // A name as lookups see it: A-Z folded to a-z when case does not count.
  std::string LookupKey(const std::string& name) const;
  bool ReadLines();
  bool WriteFile();

  bool CaseInsensitive = true;
  std::string Path;
  std::vector<Section> Sections;
  std::vector<std::string> SectionNames;  // parallel to Sections
  std::vector<std::string> HeaderComments;
  std::string LastError;
  // Lookup indexes, so that reading a file of n keys takes time linear in n:
  // the first section of each name, and per section the first key of each
  // name (parallel to Sections).
  std::unordered_map<std::string, int> SectionIndex;
  std::vector<std::unordered_map<std::string, int>> KeyIndex;
};
