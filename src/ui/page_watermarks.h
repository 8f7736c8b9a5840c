// The "Водяные знаки" page: what the watermark shows (a metadata value, the
// file's creation time, a picture or a text), where, with which font,
// shadow and opacity, and a live preview of a text watermark.
#pragma once

#include <QFont>
#include <cstdint>
#include <functional>

#include "imaging/image.h"
#include "ui/settings_page.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class CImageView;
class CInfoTip;
class CUpDown;

// The watermark font and the font dialog: the face, the size in points at
// 96 pixels per inch (lfHeight -13 is 10 points), weight, italic,
// underline and strike-out. Width, escapement and orientation become 0;
// character set, precisions, quality and pitch keep their values.
QFont FontFromLogFont(const LogFont& font);
void LogFontFromFont(const QFont& font, LogFont& out);

// The dialogs the page opens. Each returns true when the user confirmed
// and then has changed its arguments. Replaceable for tests.
struct WatermarkDialogs {
  // The picture file (string 108's filter).
  std::function<bool(QWidget* parent, QString& path)> openPicture;
  // The colour dialog for the transparent colour.
  std::function<bool(QWidget* parent, uint32_t& colour)> chooseColour;
  // The font dialog with the text colour.
  std::function<bool(QWidget* parent, LogFont& font, uint32_t& colour)> chooseFont;
  // The transparent-colour menu shown at a global position; the chosen
  // action or nullptr.
  std::function<QAction*(QMenu& menu, const QPoint& at)> popupMenu;
  // Margins in pixels from the horizontal and the vertical edge.
  std::function<bool(QWidget* parent, int& marginHor, int& marginVert)> adjustMargins;
  // Shadow offset, direction (0..3) and colour.
  std::function<bool(QWidget* parent, int& offset, int& position, uint32_t& colour)>
      adjustShadow;
};
// The page's dialogs: the system's file, colour and font dialogs and menu,
// and the margin and shadow dialogs.
WatermarkDialogs& GetWatermarkDialogs();
// A fresh set of those dialogs.
WatermarkDialogs MakeWatermarkSystemDialogs();

class CPageWatermarks : public CSettingsPage {
  Q_OBJECT
 public:
  explicit CPageWatermarks(QWidget* parent = nullptr);

  void LoadControls() override;
  void StoreControls() override;

  // The preview as drawn last (the size of the preview control).
  const CImage& PreviewImage() const { return preview_; }
  CImageView* PreviewView() const { return previewView_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  // "Включить водяные знаки": everything off, or on with the mode rule.
  void ApplyOnRule();
  // The controls of the chosen source on, the others off; the preview
  // hidden for a picture.
  void ApplyModeRule();
  void RedrawPreview();

  void OnBrowsePicture();
  void OnTransparentColour();
  void OnFont();
  void OnMargins();
  void OnShadow();
  void OnTransparencyTyped(int value);

  CImage preview_;
  CImageView* previewView_ = nullptr;
  QLabel* previewLabel_ = nullptr;
  CInfoTip* tip_ = nullptr;

  QCheckBox* on_ = nullptr;
  QButtonGroup* modes_ = nullptr;
  QComboBox* tagType_ = nullptr;
  QComboBox* dateType_ = nullptr;
  QLineEdit* imagePath_ = nullptr;
  QPushButton* browse_ = nullptr;
  QToolButton* transparentColour_ = nullptr;
  QLineEdit* text_ = nullptr;
  QComboBox* position_ = nullptr;
  QPushButton* margins_ = nullptr;
  QPushButton* font_ = nullptr;
  QCheckBox* emboss_ = nullptr;
  QPushButton* shadow_ = nullptr;
  QLineEdit* transparency_ = nullptr;
  CUpDown* transparencySpin_ = nullptr;
};
