// The program's string table. Russian texts are built in; when the English
// language library "LumaroEng.so" is loaded, it supplies the same string
// numbers in English. A number the library lacks falls back to Russian.
#pragma once

#include <string>

// String numbers.
enum StringId : int {
  IDS_OLE_INIT_FAILED = 100,
  IDS_ABOUT_MENU = 101,
  IDS_PROGRESS_LABEL = 106,          // "Выполнено:"
  IDS_OPEN_FILTER = 108,
  IDS_LANGUAGE_RESTART = 121,
  IDS_CANNOT_CREATE_FILE = 124,      // %s = output base
  IDS_ABOUT_VERSION = 125,
  IDS_RENAME_WITHOUT_PATTERN = 128,
  IDS_NO_OUTPUT_FOLDER = 136,
  IDS_SPLIT_NOT_MULTIFRAME = 139,
  IDS_SPLIT_DONE = 140,
  IDS_SPLIT_FAILED = 141,
  IDS_SPLIT_CHOOSE_FOLDER = 142,
  IDS_FILTER_DUPLICATE_GUID = 144,
  IDS_TIME_ONLY = 151,               // hour, minute
  IDS_DATE_AND_TIME = 152,           // day, month, year, hour, minute
  IDS_TIME_AND_DATE = 153,           // hour, minute, day, month, year
  IDS_CANNOT_CREATE_FOLDER = 145,    // %1 = folder
  IDS_RESTART_NEEDED = 146,
  IDS_SETTINGS_FILTER = 154,
  IDS_SUMMARY = 172,                 // converted, errors, skipped
  IDS_UPDATE_NOT_FOUND_FILE = 181,
  IDS_UPDATE_NO_CONNECTION = 183,
  IDS_UPDATE_NEW_VERSION = 185,
  IDS_UPDATE_NONE = 187,
  IDS_FILTER_COLUMN = 191,
  IDS_DESCRIPTION_COLUMN = 193,
  IDS_DATE_ONLY = 194,               // day, month, year

  // Fixed texts of the program that the English library also translates.
  IDS_APP_NAME = 60000,              // "Lumaro III"
  IDS_RESULTS_CAPTION = 60001,       // "Результаты конвертирования"
  IDS_BATCH_USAGE = 60002,
  IDS_BATCH_NOT_A_SETTINGS_FILE = 60003,
  IDS_BATCH_NO_FILES = 60004,
  IDS_PROCESSING = 60005,            // "Идет обработка..."
};

// The text of a string number from the current language (empty when the
// number is unknown).
std::string LoadResString(int id);

// The built-in Russian text of a string number.
const char* BuiltinString(int id);

// Loads "LumaroEng.so" from the program folder (ending in '/') and makes it
// the source of strings. False, with Russian texts kept, when it cannot be
// loaded.
bool LoadLanguageLibrary(const std::string& programFolder);
void ReleaseLanguageLibrary();
bool LanguageLibraryLoaded();

// An interface text (label, menu item, tooltip, dialog caption) in the
// current language, given by its built-in Russian text: the English library
// translates it, anything it lacks stays Russian.
std::string UiText(const char* russian);

// Names of the symbols the language library exports:
//   extern "C" const char* LumaroEngString(int id);          // nullptr if unknown
//   extern "C" const char* LumaroEngText(const char* russian);  // nullptr if unknown
inline constexpr const char* kLanguageLibraryName = "LumaroEng.so";
inline constexpr const char* kLanguageLibrarySymbol = "LumaroEngString";
inline constexpr const char* kLanguageLibraryTextSymbol = "LumaroEngText";
