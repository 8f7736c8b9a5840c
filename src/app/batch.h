#pragma once

#include <string>

// The usage text of the command line (batch mode, the split tool, --help
// and --version) in the current language. Every option is listed there and
// nowhere else: the string IDS_BATCH_USAGE of both string tables.
std::string BatchUsageText();

// A usage error: "lumaro: problem" and the usage text on standard error.
// Returns the exit code 2.
int BatchUsageError(const std::string& problem);

// An interface text of batch mode in the current language, given by its
// built-in Russian text, with "%s" replaced by argument.
std::string BatchText(const char* russian, const std::string& argument = std::string());

// Texts printed before the settings are loaded speak the language of the
// default settings file (only read, never written).
void ChooseDefaultFileLanguage();

// Makes the language library follow the Language of the settings record:
// loaded for English, released otherwise.
void FollowSettingsLanguage();

// Runs "lumaro --convert ..." with the arguments from argv[first] on;
// returns the process exit code.
int RunBatchConvert(int argc, char** argv, int first);
