#include "engine/stages.h"

#include "imaging/image.h"
#include "imaging/metadata.h"
#include "settings/settings.h"

CJobStages::CJobStages(const CSettings& settings, CFilterList* filters)
    : settings_(settings), filters_(filters) {}

CJobStages::~CJobStages() = default;

int CJobStages::ReadProperties(const std::string& sourcePath, PropertyItemList& items) {
  if (settings_.GdiplusAvailable == 0) {
    items.clear();
    return -1;
  }
  return ReadAllProperties(sourcePath, items);
}

void CJobStages::Rotate(CImage& image, int rotation, PropertyItemList& /*items*/, int /*count*/) {
  switch (rotation) {
    case 0:
      image.RotateLeft();
      break;
    case 1:
      image.RotateRight();
      break;
    case 2:
      image.Rotate180();
      break;
    default:
      // 3: as is. 4 (camera orientation) needs the metadata stage.
      break;
  }
}

void CJobStages::Flip(CImage& image, int flip) {
  if (flip == 0)
    image.Mirror();
  else if (flip == 1)
    image.Flip();
}

void CJobStages::Watermark(CImage& /*image*/, const std::string& /*sourcePath*/) {
  // The watermark stage is not built yet.
}

void CJobStages::RunFilters(CImage& /*image*/) {
  // The filter host is not built yet.
  (void)filters_;
}
