#include "plugins/filter_host.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imaging/image.h"
#include "services/strings.h"

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Takes a malloc'ed string from a library and frees it.
std::string TakeString(char* s) {
  if (s == nullptr) return {};
  std::string text(s);
  std::free(s);
  return text;
}

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) names.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

template <typename Fn>
Fn Lookup(void* module, const std::string& name) {
  return reinterpret_cast<Fn>(dlsym(module, name.c_str()));
}

std::string DuplicateMessage(const std::string& name) {
  std::string text = LoadResString(IDS_FILTER_DUPLICATE_GUID);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

}  // namespace

// ---- entries ----------------------------------------------------------------------

int CFilterEntry::Apply(void** bitmap, FilterParams* params) const {
  if (FilterProc == nullptr) return 0;
  return FilterProc(bitmap, params);
}

bool CFilterEntry::Setup(void* window, const std::string& settingsPath) const {
  if (SetupProc == nullptr) return false;
  const char* path = settingsPath.c_str();
  return SetupProc(window, &path) == 0;
}

// ---- host ---------------------------------------------------------------------------

CFilterHost::CFilterHost() { libraries_.reserve(kMaxLibraries); }

std::vector<std::string> CFilterHost::Messages() const {
  std::vector<std::string> messages;
  for (const std::string& name : duplicates_) messages.push_back(DuplicateMessage(name));
  return messages;
}

CFilterHost::~CFilterHost() {
  for (void* module : libraries_) dlclose(module);
}

int CFilterHost::LoadFilters(const std::string& folderIn, CFilterList& list) {
  std::string folder = folderIn.empty() ? std::string("./") : folderIn;
  if (folder.back() != '/') folder += '/';

  // The folder is read first: loading a library may run its code, which
  // must not disturb the listing.
  std::vector<std::string> files;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (EndsWith(name, ".so") && IsRegularFile(folder + name)) files.push_back(folder + name);
    }
    closedir(dir);
  }

  for (const std::string& path : files) {
    if (libraries_.size() >= kMaxLibraries) break;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) continue;
    auto isFilters = Lookup<LumaroIsFiltersLibraryFn>(module, LUMARO_FILTER_LIBRARY_EXPORT);
    if (isFilters == nullptr || isFilters() == 0) {
      dlclose(module);
      continue;
    }
    libraries_.push_back(module);

    auto getNames = Lookup<LumaroGetFiltersNamesFn>(module, LUMARO_FILTER_NAMES_EXPORT);
    if (getNames == nullptr) continue;
    char* raw = nullptr;
    getNames(&raw);
    const std::vector<std::string> names = SplitNames(TakeString(raw));

    // The library's icon, added once for all its filters.
    int iconIndex = -1;
    const std::string iconPath = path.substr(0, path.size() - 3) + ".png";

    std::vector<Guid> seen;
    for (const std::string& name : names) {
      auto entry = std::make_unique<CFilterEntry>();
      entry->Name = name;
      entry->LibraryPath = path;
      entry->Module = module;
      entry->FilterProc = Lookup<LumaroFilterFn>(module, name);
      entry->GuidProc = Lookup<LumaroFilterGuidFn>(module, name + LUMARO_FILTER_GUID_SUFFIX);
      entry->SetupProc = Lookup<LumaroFilterSetupFn>(module, name + LUMARO_FILTER_SETUP_SUFFIX);
      entry->DescProc = Lookup<LumaroFilterDescFn>(module, name + LUMARO_FILTER_DESC_SUFFIX);
      if (entry->DescProc != nullptr) {
        char* desc = nullptr;
        entry->DescProc(&desc);
        entry->Description = TakeString(desc);
      }
      if (entry->GuidProc != nullptr) {
        alignas(16) unsigned char scratch[16] = {};
        if (const void* g = entry->GuidProc(scratch)) std::memcpy(&entry->Id, g, sizeof(Guid));
      }
      if (entry->FilterProc == nullptr) continue;
      bool duplicate = false;
      for (const Guid& g : seen) duplicate = duplicate || g == entry->Id;
      if (duplicate) {
        // Refused; whoever loaded the filters tells the user (Messages()).
        duplicates_.push_back(name);
        continue;
      }
      if (iconIndex < 0 && IsRegularFile(iconPath)) {
        icons_.push_back(iconPath);
        iconIndex = int(icons_.size()) - 1;
      }
      entry->IconIndex = iconIndex;
      seen.push_back(entry->Id);
      list.push_back(std::move(entry));
    }
  }
  return int(list.size());
}

CFilterHost& GetFilterHost() {
  // Never destroyed: the libraries stay loaded until the process ends, so
  // no filter code can vanish under an entry that still exists.
  static CFilterHost* host = new CFilterHost;
  return *host;
}

int LoadFilters(const std::string& folder, CFilterList& list) {
  return GetFilterHost().LoadFilters(folder, list);
}

std::string FilterSettingsPath(const std::string& folder) {
  return folder + LUMARO_FILTER_SETTINGS_FILE;
}

void RunFilterList(const CFilterList& list, CImage& image, FilterParams& params) {
  for (const auto& entry : list) {
    if (!entry || !entry->Enabled || !image.IsValid()) continue;
    void* bitmap = image.MakeBitmap();
    if (bitmap == nullptr) continue;
    if (entry->Apply(&bitmap, &params) != 0 && bitmap != nullptr) {
      // The filter's bitmap replaces the image only when it is a valid
      // one; the image keeps its resolution.
      CImage result;
      if (result.CreateFromHBITMAP(bitmap)) {
        result.SetXDPI(image.GetXDPI());
        result.SetYDPI(image.GetYDPI());
        result.Transfer(image);
      }
    }
    std::free(bitmap);
  }
}
