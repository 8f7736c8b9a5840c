// The image stages of one job as the worker calls them: metadata reading,
// rotation and flipping, watermark and filters.
#pragma once

#include <string>

#include "imaging/property_items.h"
#include "plugins/filter_entry.h"

class CImage;
class CSettings;

class CJobStages {
 public:
  CJobStages(const CSettings& settings, CFilterList* filters);
  ~CJobStages();
  CJobStages(const CJobStages&) = delete;
  CJobStages& operator=(const CJobStages&) = delete;

  // Reads every metadata item of the source; returns the count, or -1 when
  // metadata support is not available.
  int ReadProperties(const std::string& sourcePath, PropertyItemList& items);
  // Rotation choice 0 left, 1 right, 2 half turn, 3 none, 4 by the camera's
  // orientation tag; flip choice 0 mirror, 1 flip, 2 none.
  void Rotate(CImage& image, int rotation, PropertyItemList& items, int count);
  void Flip(CImage& image, int flip);
  void Watermark(CImage& image, const std::string& sourcePath);
  // Runs every enabled filter in list order.
  void RunFilters(CImage& image);

 private:
  const CSettings& settings_;
  CFilterList* filters_;
};
