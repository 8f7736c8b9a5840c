// CFilterHost: finds the filter plug-in libraries in a folder (the program
// folder, and the user's $XDG_DATA_HOME/lumaro/filters/),
// fills the application's filter list with their filters and keeps the
// libraries loaded until it is destroyed.
//
// Discovery, for every "*.so" file of the folder in the order the file
// system lists them:
//   1. dlopen by full path; a library that does not load is skipped;
//   2. "IsTesselFiltersDLL" missing or answering 0: released, skipped;
//   3. "GetFiltersNames" missing: no filters from it;
//   4. the names are split at ';' (empty pieces skipped, no trimming); for
//      each name the entry points name, name+"GUID", name+"Setup",
//      name+"Desc" are looked up; a name without its own export is dropped;
//      a GUID that an earlier filter of the same library has is refused
//      with string 144 (two libraries may share a GUID);
//   5. the library's icon is "<base name>.png" beside it, when present.
// At most kMaxLibraries libraries are kept; further files are not loaded.
#pragma once

#include <string>
#include <vector>

#include "plugins/filter_entry.h"

class CFilterHost {
 public:
  static constexpr size_t kMaxLibraries = 1024;

  CFilterHost();
  // Releases the libraries in load order. The entries it made must not be
  // called any more (their list is normally destroyed before the host).
  ~CFilterHost();
  CFilterHost(const CFilterHost&) = delete;
  CFilterHost& operator=(const CFilterHost&) = delete;

  // Loads the filters of folder (with or without a trailing '/') and
  // appends them to list. Returns the number of entries in list. Called
  // once per folder (the program folder, then the user's filter folder);
  // the icons of every call are kept.
  int LoadFilters(const std::string& folder, CFilterList& list);

  // Icons of the accepted filters: PNG file paths, indexed by an entry's
  // IconIndex.
  const std::vector<std::string>& Icons() const { return icons_; }
  // Libraries kept loaded, in load order.
  size_t LibraryCount() const { return libraries_.size(); }
  // The messages of discovery (duplicate GUIDs), in order, in the language
  // of the moment: filters are loaded before the language library.
  std::vector<std::string> Messages() const;

 private:
  std::vector<void*> libraries_;
  std::vector<std::string> icons_;
  std::vector<std::string> duplicates_;  // names of the refused libraries
};

// The application's filter host: lives until the process ends.
CFilterHost& GetFilterHost();

// Loads a folder's filters into list through the application's host
// (at start-up, before the settings are loaded: the program folder, then
// the user's filter folder). Returns the number of entries in list.
int LoadFilters(const std::string& folder, CFilterList& list);

// Full path of the filter settings file handed to a filter's Setup:
// folder + "Tessel.ini", in the folder of the default settings file.
std::string FilterSettingsPath(const std::string& folder);

// Runs every enabled entry of list, in list order, on image. params is the
// job's parameter block.
class CImage;
void RunFilterList(const CFilterList& list, CImage& image, FilterParams& params);
