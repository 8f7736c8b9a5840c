// The small dialogs of the main window and the watermark page: the rename
// pattern with its history, the watermark shadow, the watermark margins and
// the general (thumbnail) settings.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <functional>

class CHistoryCombo;
class CUpDown;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

// Profile section and entry prefix of the rename pattern history.
inline constexpr const char* kRenameHistorySection = "RenamePatterns";
inline constexpr const char* kRenameHistoryPrefix = "PatternHistoryItem";

// "Настройки переименования": the start number and the rename pattern,
// written straight into the settings record on OK; the pattern history is
// kept in the application profile (written on OK only).
class CRenameProperties : public QDialog {
  Q_OBJECT
 public:
  explicit CRenameProperties(QWidget* parent = nullptr);

  void InitDialog();
  int DoModal();  // 1 OK, 2 cancel

  CHistoryCombo* PatternCombo() const { return pattern_; }
  QLineEdit* StartEdit() const { return start_; }
  QPushButton* DeleteButton() const { return delete_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

  // "Удалить": the selected entry leaves the list (not yet the profile).
  void OnDelete();

 public slots:
  void accept() override;

 private:
  CHistoryCombo* pattern_ = nullptr;
  QLineEdit* start_ = nullptr;
  QPushButton* delete_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// "Настройка тени": offset, direction and colour of the watermark shadow.
class CShadowAdjustDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CShadowAdjustDlg(QWidget* parent = nullptr);

  int Offset = 1;             // 0..10 by the arrows
  int Position = 0;           // 0 top left, 1 top right, 2 bottom left, 3 bottom right
  uint32_t Colour = 0x808080; // 0x00BBGGRR

  void InitDialog();
  void LoadControls();
  bool StoreControls();
  int DoModal();  // 1 OK, 2 cancel

  // The picture of a frame with its shadow towards the corner of position.
  static QPixmap ShadowPicture(int position);

  // "...": the colour dialog (replaceable for tests: given the colour,
  // returns true with the choice).
  void OnChooseColour();
  static std::function<bool(QWidget* parent, uint32_t& colour)> ColourDialogHook;

  QRadioButton* PositionRadio(int position) const;
  QLabel* Picture() const { return picture_; }
  int ShownPicture() const { return shownPicture_; }
  QWidget* Swatch() const { return swatch_; }
  QLineEdit* OffsetEdit() const { return offset_; }
  CUpDown* OffsetSpin() const { return offsetSpin_; }
  QPushButton* ColourButton() const { return colourButton_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CloseButton() const { return close_; }

 public slots:
  void accept() override;

 private:
  void ShowPicture();

  QButtonGroup* positions_ = nullptr;
  QLabel* picture_ = nullptr;
  int shownPicture_ = -1;
  QWidget* swatch_ = nullptr;
  QLineEdit* offset_ = nullptr;
  CUpDown* offsetSpin_ = nullptr;
  QPushButton* colourButton_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* close_ = nullptr;
};

// "Подгон положения водяного знака": the margins of the watermark.
class CPosAdjustDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CPosAdjustDlg(QWidget* parent = nullptr);

  int MarginHor = 0;
  int MarginVert = 0;

  void LoadControls();
  bool StoreControls();
  int DoModal();  // 1 OK, 2 cancel

  QLineEdit* HorEdit() const { return hor_; }
  QLineEdit* VertEdit() const { return vert_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 public slots:
  void accept() override;

 private:
  QLineEdit* hor_ = nullptr;
  QLineEdit* vert_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// "Общие настройки": thumbnail quality and size of the main window's list.
class CSystemPropertiesDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CSystemPropertiesDlg(QWidget* parent = nullptr);

  int ThumbsQuality = 1;  // 0 high, 1 low, 2 none (hidden)
  int ThumbsSize = 0;     // -50..50
  QString SizeLabel;      // "100 x 75"

  void InitDialog();
  void LoadControls();
  void StoreControls();
  int DoModal();  // 1 OK, 2 cancel
  // "По умолчанию".
  void OnDefaults();

  QButtonGroup* QualityGroup() const { return quality_; }
  QSlider* SizeSlider() const { return size_; }
  QLineEdit* SizeLabelEdit() const { return label_; }
  QPushButton* DefaultsButton() const { return defaults_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  QButtonGroup* quality_ = nullptr;
  QSlider* size_ = nullptr;
  QLineEdit* label_ = nullptr;
  QPushButton* defaults_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool loading_ = false;
};

// The calls of the main window and the watermark page. Each returns true
// on OK, having changed its arguments (the rename dialog writes the
// settings record itself).
void RunRenameProperties(QWidget* parent);
bool RunShadowAdjust(QWidget* parent, int& offset, int& position, uint32_t& colour);
bool RunPosAdjust(QWidget* parent, int& marginHor, int& marginVert);
bool RunSystemProperties(QWidget* parent, int& thumbsQuality, int& thumbsSize);
