// The "Размеры" page: the size mode (percent, pixels, millimetres at a
// resolution), the sizes, the proportions and the resampling method of the
// resize stage. Pixel and millimetre sizes are kept consistent through the
// chosen resolution.
#pragma once

#include "ui/settings_page.h"

class QButtonGroup;
class QComboBox;
class QKeyEvent;
class QLineEdit;
class QRadioButton;
class CInfoTip;
class CUpDown;

class CPageDimensions : public CSettingsPage {
  Q_OBJECT
 public:
  explicit CPageDimensions(QWidget* parent = nullptr);

  void LoadControls() override;
  void StoreControls() override;

  // The entries of the two "Стандартные" lists after "Взять...".
  static const char* const kPixelSizes[];
  static const char* const kMillimetreSizes[];

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  // Enables the controls for the stored size mode and proportions.
  void ApplyEnabling();
  // Stores the controls, enables by the size mode, converts the units.
  void OnModeOrListChanged();
  // Stores the controls, derives the other unit's sizes from the current
  // mode's, loads the controls. Does nothing while the page opens.
  void ConvertUnits();
  void OnStandardSize(QComboBox* list, bool millimetres, int index);
  // A size typed or stepped: into its field, then the unit conversion.
  void OnSizeTyped(int* field, int value);

  bool initialising_ = true;
  QButtonGroup* modes_ = nullptr;
  QRadioButton* percentRadio_ = nullptr;
  QRadioButton* pixelRadio_ = nullptr;
  QRadioButton* millimetreRadio_ = nullptr;
  QLineEdit* percentEdit_ = nullptr;
  QLineEdit* widthEdit_ = nullptr;
  QLineEdit* heightEdit_ = nullptr;
  QLineEdit* widthMmEdit_ = nullptr;
  QLineEdit* heightMmEdit_ = nullptr;
  CUpDown* percentSpin_ = nullptr;
  CUpDown* widthSpin_ = nullptr;
  CUpDown* heightSpin_ = nullptr;
  CUpDown* widthMmSpin_ = nullptr;
  CUpDown* heightMmSpin_ = nullptr;
  QComboBox* pixelSizes_ = nullptr;
  QComboBox* millimetreSizes_ = nullptr;
  QComboBox* aspect_ = nullptr;
  QComboBox* method_ = nullptr;
  QComboBox* dpi_ = nullptr;
  CInfoTip* tip_ = nullptr;
};
