// Metadata support is being built: until then it reports itself unavailable,
// which the stages treat exactly like a missing metadata library.
#include "imaging/metadata.h"

bool InitMetadataSupport() { return false; }

int ReadAllProperties(const std::string&, PropertyItemList& items) {
  items.clear();
  return -1;
}

bool ReadPropertyText(const std::string&, uint32_t, std::string&) { return false; }

bool FindPropertyText(const PropertyItemList*, int, uint32_t, std::string&) { return false; }

void WriteMetadata(const std::string&, const PropertyItemList*, int) {}
