#include "engine/host.h"

#include "services/strings.h"

namespace {
thread_local IConversionHost* t_host = nullptr;
}

IConversionHost* CurrentHost() { return t_host; }

void SetCurrentHost(IConversionHost* host) { t_host = host; }

int HostMessage(const std::string& text, const std::string& caption, unsigned style) {
  if (t_host) return t_host->MessageBox(text, caption, style);
  return (style & MB_YESNO) ? IDYES : IDOK;
}

bool IConversionHost::AllowReplacingSources() {
  const std::string text = UiText(
      "Выходные файлы заменят исходные файлы, из которых они сделаны, а резервные копии "
      "не создаются.\nИсходные файлы будут потеряны. Заменить их?");
  return MessageBox(text, std::string(), MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES;
}
