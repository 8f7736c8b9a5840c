// The five settings pages. Pages not built yet show as empty pages.
#include "services/strings.h"
#include "ui/settings_page.h"

std::vector<CSettingsPage*> CreateSettingsPages(QWidget* parent, CFilterList* /*filters*/) {
  static const char* const kTitles[PAGE_COUNT] = {"Размеры", "Поворот", "Метаданные",
                                                  "Водяные знаки", "Фильтры"};
  std::vector<CSettingsPage*> pages;
  for (const char* title : kTitles)
    pages.push_back(new CSettingsPage(QString::fromStdString(UiText(title)), parent));
  return pages;
}
