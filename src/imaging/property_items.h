// Metadata items of a picture: EXIF/TIFF tags as {tag id, type, length,
// value bytes}, in the order the file holds them.
#pragma once

#include <cstdint>
#include <vector>

struct PropertyItem {
  uint32_t id = 0;      // tag number (274 = orientation)
  uint32_t length = 0;  // value length in bytes
  uint16_t type = 0;    // 1 byte, 2 ASCII, 3 short, 4 long, 5 rational, 7 undefined ...
  std::vector<uint8_t> value;  // little-endian values, as the platform holds them
};

struct PropertyItemList {
  std::vector<PropertyItem> items;
  void clear() { items.clear(); }
  bool empty() const { return items.empty(); }
  size_t size() const { return items.size(); }
};
