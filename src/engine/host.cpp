#include "engine/host.h"

#include <cstdio>

#include "services/strings.h"

namespace {
thread_local IConversionHost* t_host = nullptr;
}

IConversionHost* CurrentHost() { return t_host; }

void SetCurrentHost(IConversionHost* host) { t_host = host; }

void HostMessage(const std::string& text, const std::string& caption, unsigned style) {
  if (t_host)
    t_host->Message(text, caption, (style & MB_ICONERROR) ? Notice::Error : Notice::Plain,
                    Answer::Ok);
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
