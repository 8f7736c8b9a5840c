#include "resources/english/texts.h"

#include <string_view>
#include <unordered_map>

namespace {
std::unordered_map<std::string_view, const char*>& Table() {
  static std::unordered_map<std::string_view, const char*> table;
  return table;
}
}  // namespace

TextTableRegistrar::TextTableRegistrar(const TextPair* table, size_t count) {
  for (size_t i = 0; i < count; ++i) Table().emplace(table[i].ru, table[i].en);
}

// The English text of an interface text given in Russian, or nullptr.
extern "C" __attribute__((visibility("default"))) const char* LumaroEngText(const char* russian) {
  if (!russian) return nullptr;
  auto it = Table().find(russian);
  return it == Table().end() ? nullptr : it->second;
}
