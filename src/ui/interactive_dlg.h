// CInteractiveDlg ("Настройка"): the look at each loaded image before it is
// converted. The user chooses a rotation, a flip, a brightness and a
// contrast, or skips the file. The dialog changes only its own preview; the
// worker applies the chosen values to the full-size image by the result
// code.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "imaging/image.h"

class CImageView;
class CInfoTip;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QPushButton;
class QSlider;
struct InteractiveRequest;
struct PropertyItemList;

class CInteractiveDlg : public QDialog {
  Q_OBJECT
 public:
  // Result codes (the closing buttons' identifiers).
  enum : int { kConvertWithChanges = 1, kConvertUnchanged = 2, kSkip = 5 };
  // Size of the preview area in pixels.
  static constexpr int kPreviewWidth = 360;
  static constexpr int kPreviewHeight = 270;

  explicit CInteractiveDlg(QWidget* parent = nullptr);
  ~CInteractiveDlg() override;

  // ---- handed in by the worker, read back after closing ----------------
  const CImage* Source = nullptr;  // never modified
  std::string CaptionSuffix;
  long Brightness = 0;  // -255..255
  long Contrast = 0;    // -100..100
  int Rotation = 3;     // 0 left, 1 right, 2 half turn, 3 none, 4 by the camera tag
  int Flip = 2;         // 0 horizontal, 1 vertical, 2 none
  const PropertyItemList* Items = nullptr;
  int ItemCount = 0;
  bool DontShowAgain = false;
  bool ApplyToAll = false;
  int ResultCode = kConvertWithChanges;

  // Copies the request in, and the values, flags and result back.
  void LoadRequest(const InteractiveRequest& request);
  void StoreRequest(InteractiveRequest& request) const;

  // Opening: trackbar ranges, the reduced copy of the source for the
  // preview, the caption, the first preview. DoModal calls it.
  void InitDialog();
  // Opens the dialog and runs it modally; returns ResultCode.
  int DoModal();

  // Members -> controls, controls -> members.
  void LoadControls();
  void StoreControls();
  // Rebuilds the preview from the reduced source: flip, then rotation,
  // then tone, then fitted into the preview area.
  void RefreshPreview();
  // "Сброс": no rotation, no flip, neutral tone.
  void OnReset();

  // The preview as shown, the reduced copy it starts from, and the controls
  // (for tests).
  const CImage& Preview() const { return preview_; }
  const CImage& ReducedSource() const { return reduced_; }
  int RefreshCount() const { return refreshes_; }
  QSlider* BrightnessSlider() const { return brightness_; }
  QSlider* ContrastSlider() const { return contrast_; }
  QAbstractButton* RotationButton(int choice) const;
  QAbstractButton* FlipButton(int choice) const;
  QPushButton* ResetButton() const { return reset_; }
  QCheckBox* DontShowBox() const { return dontShow_; }
  QCheckBox* ApplyToAllBox() const { return applyToAll_; }
  QPushButton* CloseButton(int resultCode) const;
  CInfoTip* Tips() const { return tips_; }
  CImageView* PreviewView() const { return view_; }

 public slots:
  void reject() override;  // Escape and the window's close button: result 2

 private:
  void Close(int resultCode);
  void MakeReducedSource();

  CImage reduced_;  // the source scaled down once, so a refresh stays cheap
  CImage preview_;
  PropertyItemList* previewItems_ = nullptr;  // copy for the camera-tag rotation
  int refreshes_ = 0;
  bool loading_ = false;

  CImageView* view_ = nullptr;
  QSlider* brightness_ = nullptr;
  QSlider* contrast_ = nullptr;
  QButtonGroup* rotation_ = nullptr;
  QButtonGroup* flip_ = nullptr;
  QPushButton* reset_ = nullptr;
  QCheckBox* dontShow_ = nullptr;
  QCheckBox* applyToAll_ = nullptr;
  QPushButton* withChanges_ = nullptr;
  QPushButton* skip_ = nullptr;
  QPushButton* unchanged_ = nullptr;
  CInfoTip* tips_ = nullptr;
};

// The dialog for one file of a running job, on the user-interface thread:
// fills the dialog from request, runs it, writes the values, the two flags
// back into request and returns the result code (1, 2 or 5). The desktop
// host calls it from its ShowInteractive.
int RunInteractiveDialog(InteractiveRequest& request, QWidget* parent = nullptr);
