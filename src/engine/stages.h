// The image stages of one job as the worker calls them: metadata reading,
// rotation and flipping, watermark and filters.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "imaging/property_items.h"
#include "imaging/watermark.h"
#include "plugins/filter_entry.h"

class CImage;
class CSettings;

// The watermark options of the settings, with the texts of the current
// language's string table.
WatermarkOptions WatermarkOptionsFrom(const CSettings& settings);

class CJobStages {
 public:
  // filters may be null (no filters). The filter parameter block of the
  // job is made here, with the settings' OutputFormat as it is now.
  CJobStages(const CSettings& settings, CFilterList* filters);
  ~CJobStages();
  CJobStages(const CJobStages&) = delete;
  CJobStages& operator=(const CJobStages&) = delete;

  // Reads every metadata item of the source; returns the count, or -1 when
  // metadata support is not available.
  int ReadProperties(const std::string& sourcePath, PropertyItemList& items);
  // The same for the source's bytes already in memory.
  int ReadProperties(const uint8_t* data, size_t size, PropertyItemList& items);
  // Rotation choice 0 left, 1 right, 2 half turn, 3 none, 4 by the camera's
  // orientation tag; flip choice 0 mirror, 1 flip, 2 none.
  void Rotate(CImage& image, int rotation, PropertyItemList& items, int count);
  void Flip(CImage& image, int flip);
  // Turns the image upright by the orientation tag (274) of items: 2 mirror,
  // 3 half turn, 4 flip, 5 transpose, 6 right, 7 transverse, 8 left. When
  // the image was turned, the item is set to 1 so that the written file
  // does not make a viewer turn it again. Returns true when the tag was
  // found with a value (turned or not); nothing happens without metadata
  // support.
  bool RotateByOrientationTag(PropertyItemList& items, int count, CImage& image);
  // Draws the watermark; items are the source's metadata items as read with
  // its pixels. The job's watermark is made on first use (the picture read
  // once) and shared by every thread that draws. When the watermark picture
  // cannot be read, problem (if given) receives the picture's path and the
  // reason, for every file.
  void Watermark(CImage& image, const std::string& sourcePath, const PropertyItemList& items,
                 int itemCount, std::string* problem = nullptr);
  // Runs every enabled filter in list order.
  void RunFilters(CImage& image);

  const FilterParams& Params() const { return params_; }
  // The main window handed to the filters (0 = none, the default).
  void SetMainWindow(uint32_t id) { params_.MainWindow = id; }

 private:
  const CSettings& settings_;
  CFilterList* filters_;
  FilterParams params_{};
  std::once_flag watermarkOnce_;
  std::unique_ptr<const CWatermark> watermark_;
};
