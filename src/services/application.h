// The application's start-up and exit, shared by the desktop program and
// batch mode: program folder, filter plug-ins, the default settings file,
// the language library.
#pragma once

#include "plugins/filter_entry.h"

class CApplication {
 public:
  enum class Mode {
    Desktop,  // loads the default settings file at start, stores it at exit
    Batch,    // the caller loads settings; nothing is stored at exit
  };

  CApplication();
  ~CApplication();
  CApplication(const CApplication&) = delete;
  CApplication& operator=(const CApplication&) = delete;

  // Start-up in order: program folder, metadata support, filter plug-ins,
  // (desktop) the default settings file with the filter order, the
  // language library.
  void Start(Mode mode);
  // Loads "LumaroEng.so" when Language is 1 (absent: Russian texts, the
  // setting kept).
  void ChooseLanguage();
  // Exit: (desktop) the settings into the default file, then the language
  // library released. Runs once.
  void Exit();

  CFilterList* Filters() { return &filters_; }
  bool LanguageLoaded() const { return languageLoaded_; }

 private:
  Mode mode_ = Mode::Desktop;
  bool started_ = false;
  bool settingsLoaded_ = false;
  bool exited_ = false;
  bool languageLoaded_ = false;
  CFilterList filters_;
};
