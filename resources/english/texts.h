// Tables of the English library: every interface text of the program, given
// by its Russian original. Each file of this folder registers its own table:
//
//   static const TextPair kTexts[] = {{"Конвертировать", "Convert"}, ...};
//   static TextTableRegistrar reg(kTexts, std::size(kTexts));
#pragma once

#include <cstddef>

struct TextPair {
  const char* ru;
  const char* en;
};

struct TextTableRegistrar {
  TextTableRegistrar(const TextPair* table, size_t count);
};
