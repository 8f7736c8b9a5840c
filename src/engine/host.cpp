#include "engine/host.h"

#include <cstdio>
#include <vector>

#include "services/strings.h"

std::string CannotCreateFileText(const std::string& outputBase) {
  const std::string pattern = LoadResString(IDS_CANNOT_CREATE_FILE);
  std::vector<char> buf(pattern.size() + outputBase.size() + 16);
  std::snprintf(buf.data(), buf.size(), pattern.c_str(), outputBase.c_str());
  return buf.data();
}

std::string FormatSummary(const JobCounts& counts) {
  char buf[512];
  std::snprintf(buf, sizeof buf, LoadResString(IDS_SUMMARY).c_str(), counts.converted,
                counts.failed, counts.skipped);
  return buf;
}

bool IConversionHost::AllowReplacingSources() {
  const std::string text = UiText(
      "Выходные файлы заменят исходные файлы, из которых они сделаны, а резервные копии "
      "не создаются.\nИсходные файлы будут потеряны. Заменить их?");
  return Message(text, std::string(), Notice::Question, Answer::No) == Answer::Yes;
}
