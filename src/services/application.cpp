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
  settings.ProgramFolder = CSettings::DetectProgramFolder();
  settings.GdiplusAvailable = InitMetadataSupport() ? 1 : 0;
  // The filter plug-ins are loaded here, before the settings, so that the
  // settings file can apply their order and switches. Without a window the
  // host's messages (duplicate GUIDs) go to the terminal; the desktop
  // program finds them in GetFilterHost().Messages().
  if (!settings.ProgramFolder.empty()) {
    const size_t shown = GetFilterHost().Messages().size();
    LoadFilters(settings.ProgramFolder, filters_);
    if (mode == Mode::Batch) {
      const auto& messages = GetFilterHost().Messages();
      for (size_t i = shown; i < messages.size(); ++i)
        std::fprintf(stderr, "lumaro: %s\n", messages[i].c_str());
    }
  }
  settings.SetFilterList(&filters_);
  if (mode == Mode::Desktop) {
    settings.LoadDefaultFile();
    settingsLoaded_ = true;
    ChooseLanguage();
  }
}

void CApplication::ChooseLanguage() {
  if (GetSettings().Language != 1) return;
  languageLoaded_ = LoadLanguageLibrary(GetSettings().ProgramFolder);
}

void CApplication::Exit() {
  if (exited_ || !started_) return;
  exited_ = true;
  if (mode_ == Mode::Desktop && settingsLoaded_) GetSettings().SaveDefaultFile();
  if (languageLoaded_) ReleaseLanguageLibrary();
  languageLoaded_ = false;
  GetSettings().SetFilterList(nullptr);
}
