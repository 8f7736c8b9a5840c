// The "Поворот/отражение" page: the rotation and the flip of the
// orientation stage, each chosen with a row of push-like buttons.
#pragma once

#include "ui/settings_page.h"

class QButtonGroup;
class QKeyEvent;
class CInfoTip;

class CPageFlipRotate : public CSettingsPage {
  Q_OBJECT
 public:
  explicit CPageFlipRotate(QWidget* parent = nullptr);

  void LoadControls() override;
  void StoreControls() override;

 protected:
  // Escape closes the window without storing the page.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QButtonGroup* rotation_ = nullptr;  // ids = RotationMode
  QButtonGroup* flip_ = nullptr;      // ids = FlipMode
  CInfoTip* tip_ = nullptr;
};
