// The application's start-up and exit, shared by the desktop program and
// batch mode: program folder, filter plug-ins, the default settings file,
// the language library.
#pragma once

#include <string>
#include <vector>

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

  // Start-up in order: program folder and settings folder, metadata
  // support, filter plug-ins (the program folder's, then for an installed
  // program the user's), (desktop) the default settings file with the
  // filter order, the language library.
  void Start(Mode mode);
  // Loads "LumaroEng.so" when Language is 1 (absent: Russian texts, the
  // setting kept).
  void ChooseLanguage();
  // Exit: (desktop) the settings into the default file, unless its folder
  // cannot be written or the file found at start was not a settings file;
  // then the language library released. Runs once.
  void Exit();

  CFilterList* Filters() { return &filters_; }
  bool LanguageLoaded() const { return languageLoaded_; }
  // Problems with the settings found at start (also on standard error),
  // for the desktop program to show.
  const std::vector<std::string>& StartMessages() const { return messages_; }
  bool SettingsStorable() const { return settingsStorable_; }

 private:
  Mode mode_ = Mode::Desktop;
  bool started_ = false;
  bool settingsLoaded_ = false;
  bool exited_ = false;
  bool languageLoaded_ = false;
  bool settingsStorable_ = true;
  std::vector<std::string> messages_;
  CFilterList filters_;

  // ProgramFolder (the program's own files) and SettingsFolder.
  void ChooseFolders();
  void Note(const std::string& text);
};
