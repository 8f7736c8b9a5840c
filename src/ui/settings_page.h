// Base of the five settings pages of the main window. A page writes its
// controls straight into the settings record and says so through
// stagesChanged(), on which the main window refreshes its stage indicators.
#pragma once

#include <QWidget>
#include <vector>

#include "plugins/filter_entry.h"

class CSettingsPage : public QWidget {
  Q_OBJECT
 public:
  explicit CSettingsPage(const QString& title, QWidget* parent = nullptr);
  // Settings record -> controls.
  virtual void LoadControls() {}
  // Controls -> settings record.
  virtual void StoreControls() {}
  const QString& Title() const { return title_; }

 signals:
  void stagesChanged();

 private:
  QString title_;
};

// Page indices, in the order of the stage buttons and of LastTabPage.
enum SettingsPageIndex {
  PAGE_DIMENSIONS = 0,
  PAGE_FLIP_ROTATE = 1,
  PAGE_METADATA = 2,
  PAGE_WATERMARKS = 3,
  PAGE_FILTERS = 4,
  PAGE_COUNT = 5
};

// Creates the five pages in that order, as children of parent.
std::vector<CSettingsPage*> CreateSettingsPages(QWidget* parent, CFilterList* filters);
