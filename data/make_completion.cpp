// Writes the bash completion script of lumaro from its template, with the
// SECTION.KEY list of a settings file in place of @SET_KEYS@, so that the
// completion offers exactly the keys --set accepts.
//
//   make_completion TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/ini_store.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_completion TEMPLATE OUTPUT\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "make_completion: cannot read %s\n", argv[1]);
    return 1;
  }

  CIniStore store("");
  GetSettings().SaveToStore(store);
  std::string keys;
  for (int s = 0; s < store.SectionCount(); ++s)
    for (const std::string& key : store.SectionAt(s).KeyNames)
      keys += (keys.empty() ? "" : "\n") + store.SectionName(s) + "." + key;

  std::string script = text.str();
  const std::string mark = "@SET_KEYS@";
  const size_t at = script.find(mark);
  if (at == std::string::npos) {
    std::fprintf(stderr, "make_completion: %s has no %s\n", argv[1], mark.c_str());
    return 1;
  }
  script.replace(at, mark.size(), keys);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << script;
  return out ? 0 : 1;
}
