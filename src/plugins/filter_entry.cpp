// Registry text form of a filter's GUID.
#include "plugins/filter_entry.h"

#include <cstdio>

std::string GuidToRegistryString(const Guid& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads count hexadecimal digits at text[pos].
bool ReadHex(const std::string& text, size_t pos, int count, uint32_t& value) {
  value = 0;
  for (int i = 0; i < count; ++i) {
    int d = HexDigit(text[pos + size_t(i)]);
    if (d < 0) return false;
    value = (value << 4) | uint32_t(d);
  }
  return true;
}

}  // namespace

bool GuidFromRegistryString(const std::string& text, Guid& guid) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
      text[14] != '-' || text[19] != '-' || text[24] != '-')
    return false;
  Guid g;
  uint32_t v;
  if (!ReadHex(text, 1, 8, v)) return false;
  g.Data1 = v;
  if (!ReadHex(text, 10, 4, v)) return false;
  g.Data2 = uint16_t(v);
  if (!ReadHex(text, 15, 4, v)) return false;
  g.Data3 = uint16_t(v);
  const size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, bytePos[i], 2, v)) return false;
    g.Data4[i] = uint8_t(v);
  }
  guid = g;
  return true;
}
