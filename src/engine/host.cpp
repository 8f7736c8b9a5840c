#include "engine/host.h"

namespace {
thread_local IConversionHost* t_host = nullptr;
}

IConversionHost* CurrentHost() { return t_host; }

void SetCurrentHost(IConversionHost* host) { t_host = host; }

int HostMessage(const std::string& text, const std::string& caption, unsigned style) {
  if (t_host) return t_host->MessageBox(text, caption, style);
  return (style & MB_YESNO) ? IDYES : IDOK;
}
