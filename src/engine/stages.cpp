#include "engine/stages.h"

#include <algorithm>

#include "imaging/byte_order.h"
#include "imaging/image.h"
#include "imaging/metadata.h"
#include "imaging/watermark.h"
#include "plugins/filter_host.h"
#include "services/strings.h"
#include "settings/settings.h"

namespace {

// The orientation value of an item: the 16-bit number of a SHORT, else
// the first value of the item's type.
int OrientationValue(const PropertyItem& item) {
  const auto& v = item.value;
  if (v.empty()) return 0;
  switch (item.type) {
    case 3:  // SHORT
    case 8:  // SSHORT
      return v.size() >= 2 ? int(byte_order::GetLe16(v.data())) : v[0];
    case 4:  // LONG
    case 9:  // SLONG
      return v.size() >= 4 ? int(byte_order::GetLe32(v.data())) : v[0];
    default:
      return v[0];
  }
}

// Sets an orientation item to 1 in its own type.
void SetOrientationNormal(PropertyItem& item) {
  std::fill(item.value.begin(), item.value.end(), uint8_t(0));
  if (item.value.empty()) {
    item.type = 3;
    item.value = {1, 0};
    item.length = 2;
  } else {
    item.value[0] = 1;
  }
}

}  // namespace

WatermarkOptions WatermarkOptionsFrom(const CSettings& s) {
  WatermarkOptions o;
  o.Mode = s.Mode;
  o.TagType = s.TagType;
  o.DateTimeType = s.DateTimeType;
  o.Text = s.Text;
  o.ImagePath = s.ImagePath;
  o.UseTransparentColor = s.UseTransparentColor;
  o.TransparentColor = s.TransparentColor;
  o.Transparency = s.TransparencyPercent();
  o.Pos = s.WatermarksPos;
  o.PosMarginHor = s.PosMarginHor;
  o.PosMarginVert = s.PosMarginVert;
  o.Emboss = s.Emboss;
  o.ShadowPos = s.ShadowPosIndex();
  o.ShadowOffset = s.WatermarksShadowOffset;
  o.ShadowColor = s.WatermarksShadowColor;
  o.Font = s.Font;
  o.FontColor = s.FontColor;
  o.MetadataAvailable = s.GdiplusAvailable != 0;
  o.UseUserComment = s.UseUserComment;
  o.ImageAuthor = s.ImageAuthor;
  o.ImageDescription = s.ImageDescription;
  o.ImageCopyright = s.ImageCopyright;
  const int dateForms[4] = {IDS_DATE_ONLY, IDS_TIME_ONLY, IDS_DATE_AND_TIME, IDS_TIME_AND_DATE};
  for (int i = 0; i < 4; ++i) o.DateFormats[i] = LoadResString(dateForms[i]);
  o.NoPictureText = UiText("(не выбрана)");
  return o;
}

CJobStages::CJobStages(const CSettings& settings, CFilterList* filters)
    : settings_(settings), filters_(filters) {
  params_.Size = sizeof(FilterParams);
  params_.MainWindow = 0;
  params_.OutputFormat = uint32_t(settings.OutputFormat);
}

CJobStages::~CJobStages() = default;

int CJobStages::ReadProperties(const std::string& sourcePath, PropertyItemList& items) {
  if (settings_.GdiplusAvailable == 0) {
    items.clear();
    return -1;
  }
  return ReadAllProperties(sourcePath, items);
}

int CJobStages::ReadProperties(const uint8_t* data, size_t size, PropertyItemList& items) {
  if (settings_.GdiplusAvailable == 0) {
    items.clear();
    return -1;
  }
  return ReadAllProperties(data, size, items);
}

bool CJobStages::RotateByOrientationTag(PropertyItemList& items, int count, CImage& image) {
  if (settings_.GdiplusAvailable == 0 || count <= 0 || items.empty()) return false;
  std::string text;
  if (!FindPropertyText(&items, count, kTagOrientation, text) || text.empty()) return false;
  PropertyItem* item = nullptr;
  for (size_t i = 0; i < items.size() && i < size_t(count); ++i) {
    if (items.items[i].id == kTagOrientation) {
      item = &items.items[i];
      break;
    }
  }
  if (item == nullptr) return false;
  bool turned = true;
  switch (OrientationValue(*item)) {
    case 2: turned = image.Mirror(); break;
    case 3: turned = image.Rotate180(); break;
    case 4: turned = image.Flip(); break;
    case 5: turned = image.Transpose(); break;
    case 6: turned = image.RotateRight(); break;
    case 7: turned = image.Transverse(); break;
    case 8: turned = image.RotateLeft(); break;
    default: turned = false; break;
  }
  if (turned) SetOrientationNormal(*item);
  return true;
}

void CJobStages::Rotate(CImage& image, int rotation, PropertyItemList& items, int count) {
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
    case 4:
      RotateByOrientationTag(items, count, image);
      break;
    default:
      break;
  }
}

void CJobStages::Flip(CImage& image, int flip) {
  if (flip == 0)
    image.Mirror();
  else if (flip == 1)
    image.Flip();
}

void CJobStages::Watermark(CImage& image, const std::string& sourcePath,
                           const PropertyItemList& items, int itemCount, std::string* problem) {
  std::call_once(watermarkOnce_, [this] {
    watermark_ = std::make_unique<const CWatermark>(WatermarkOptionsFrom(settings_));
  });
  watermark_->Render(image, sourcePath, &items, itemCount, problem);
}

void CJobStages::RunFilters(CImage& image) {
  if (filters_ != nullptr) RunFilterList(*filters_, image, params_);
}
