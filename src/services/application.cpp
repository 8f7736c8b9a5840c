#include "services/application.h"

#include <cstdio>

#include "imaging/metadata.h"
#include "plugins/filter_host.h"
#include "services/strings.h"
#include "settings/settings.h"

CApplication::CApplication() = default;

CApplication::~CApplication() { Exit(); }

void CApplication::Start(Mode mode) {
  mode_ = mode;
  started_ = true;
  CSettings& settings = GetSettings();
  ChooseFolders();
  settings.GdiplusAvailable = InitMetadataSupport() ? 1 : 0;
  // The filter plug-ins are loaded here, before the settings, so that the
  // settings file can apply their order and switches. Without a window the
  // host's messages (duplicate GUIDs) go to the terminal; the desktop
  // program finds them in GetFilterHost().Messages().
  if (!settings.ProgramFolder.empty()) {
    const size_t shown = GetFilterHost().Messages().size();
    LoadFilters(settings.ProgramFolder, filters_);
    // An installed program (settings outside its folder) also loads the
    // user's own plug-ins, after its own; a portable copy stays as it is.
    const std::string userFilters = CSettings::UserFiltersFolder();
    if (settings.StorageFolder() != settings.ProgramFolder && userFilters != settings.ProgramFolder)
      LoadFilters(userFilters, filters_);
    if (mode == Mode::Batch) {
      const auto& messages = GetFilterHost().Messages();
      for (size_t i = shown; i < messages.size(); ++i)
        std::fprintf(stderr, "lumaro: %s\n", messages[i].c_str());
    }
  }
  settings.SetFilterList(&filters_);
  if (mode == Mode::Desktop) {
    if (settings.LoadDefaultFile() == SettingsLoadResult::NotSettingsFile) {
      // Whatever the file holds stays as it is: exit stores nothing.
      settingsStorable_ = false;
      Note(settings.GetLastError());
    }
    settingsLoaded_ = true;
    ChooseLanguage();
  }
}

void CApplication::ChooseFolders() {
  CSettings& settings = GetSettings();
  const std::string exeFolder = CSettings::DetectProgramFolder();
  settings.ProgramFolder = CSettings::ProgramFilesFolder(exeFolder);
  // Batch mode only reads the settings: it creates no folder.
  const CSettings::SettingsPlace place = CSettings::ChooseSettingsFolder(
      settings.ProgramFolder, settings.ProgramFolder == exeFolder, mode_ == Mode::Desktop);
  settings.SettingsFolder = place.folder;
  settingsStorable_ = place.writable;
  if (mode_ == Mode::Desktop && !place.problem.empty()) Note(place.problem);
}

void CApplication::Note(const std::string& text) {
  messages_.push_back(text);
  std::fprintf(stderr, "lumaro: %s\n", text.c_str());
}

void CApplication::ChooseLanguage() {
  if (GetSettings().Language != 1) return;
  languageLoaded_ = LoadLanguageLibrary(GetSettings().ProgramFolder);
}

void CApplication::Exit() {
  if (exited_ || !started_) return;
  exited_ = true;
  if (mode_ == Mode::Desktop && settingsLoaded_ && settingsStorable_) GetSettings().SaveDefaultFile();
  if (languageLoaded_) ReleaseLanguageLibrary();
  languageLoaded_ = false;
  GetSettings().SetFilterList(nullptr);
}
