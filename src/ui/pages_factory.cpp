// The five settings pages of the main window, in the order of the stage
// buttons.
#include "ui/page_dimensions.h"
#include "ui/page_filters.h"
#include "ui/page_flip_rotate.h"
#include "ui/page_metadata.h"
#include "ui/page_watermarks.h"
#include "ui/settings_page.h"

std::vector<CSettingsPage*> CreateSettingsPages(QWidget* parent, CFilterList* filters) {
  std::vector<CSettingsPage*> pages(PAGE_COUNT, nullptr);
  pages[PAGE_DIMENSIONS] = new CPageDimensions(parent);
  pages[PAGE_FLIP_ROTATE] = new CPageFlipRotate(parent);
  pages[PAGE_METADATA] = new CPageMetadata(parent);
  pages[PAGE_WATERMARKS] = new CPageWatermarks(parent);
  pages[PAGE_FILTERS] = new CPageFilters(filters, parent);
  return pages;
}
