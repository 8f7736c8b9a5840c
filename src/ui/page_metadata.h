// The "Метаданные" page: whether the written JPEG and PNG files keep the
// source's metadata, and the user's description, author and copyright
// written into them.
#pragma once

#include "ui/settings_page.h"

class QCheckBox;
class QKeyEvent;
class QLineEdit;

class CPageMetadata : public CSettingsPage {
  Q_OBJECT
 public:
  explicit CPageMetadata(QWidget* parent = nullptr);

  void LoadControls() override;
  void StoreControls() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The three user edits take input only while the user's values are on.
  void ApplyEnabling();

  QCheckBox* keepExisting_ = nullptr;
  QCheckBox* useUserComment_ = nullptr;
  QLineEdit* description_ = nullptr;
  QLineEdit* author_ = nullptr;
  QLineEdit* copyright_ = nullptr;
  QLineEdit* comment_ = nullptr;  // hidden: carries UserComment
};
