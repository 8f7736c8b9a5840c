// CFilterEntry: one loaded filter plug-in as the rest of the program sees it,
// and CFilterList, the application's ordered list of them.
//
// The settings files store each filter's enabled flag and its position in
// the list under a section named by the filter's GUID in registry form; the
// filter host fills the entries and the settings record reorders them after
// loading (ReorderFilterList in settings/settings.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../../filters/lumaro_filter.h"

// A 16-byte identifier laid out as the platform's GUID record.
struct Guid {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  bool operator==(const Guid&) const = default;
};
static_assert(sizeof(Guid) == 16);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 38 characters, upper-case
// hexadecimal digits, as the filter's section name in a settings file.
std::string GuidToRegistryString(const Guid& guid);

// Parses the registry form (braces required, hexadecimal digits of either
// case). Returns false and leaves guid unchanged when text is not one.
bool GuidFromRegistryString(const std::string& text, Guid& guid);

// The block handed to every filter call (see lumaro_filter.h).
using FilterParams = LumaroFilterParams;
static_assert(sizeof(FilterParams) == 12);

struct CFilterEntry {
  CFilterEntry() = default;
  virtual ~CFilterEntry() = default;
  CFilterEntry(const CFilterEntry&) = default;
  CFilterEntry& operator=(const CFilterEntry&) = default;

  Guid Id;                  // the filter's identity
  bool Enabled = false;     // the filter runs in a job
  int StoredPosition = -1;  // position read from a settings file; -1 none
  std::string Name;         // name shown to the user
  std::string LibraryPath;  // full path of the plug-in library

  // Filled by the filter host (filter_host.h).
  LumaroFilterFn FilterProc = nullptr;      // exported under Name
  LumaroFilterGuidFn GuidProc = nullptr;    // Name + "GUID"
  LumaroFilterSetupFn SetupProc = nullptr;  // Name + "Setup"
  LumaroFilterDescFn DescProc = nullptr;    // Name + "Desc"
  void* Module = nullptr;                   // the library (shared by its filters)
  std::string Description;                  // empty when the filter has none
  int IconIndex = -1;                       // index into the host's icons; -1 none

  // Runs the filter on the packed bitmap *bitmap (which it may replace).
  // 0 when there is no filter function; otherwise what the filter returns:
  // non-zero = the image was changed.
  int Apply(void** bitmap, FilterParams* params) const;
  // Opens the filter's own settings dialog with the filter settings file's
  // full path. False when the filter has none or it reports a failure.
  bool Setup(void* window, const std::string& settingsPath) const;
};

using CFilterList = std::vector<std::unique_ptr<CFilterEntry>>;
