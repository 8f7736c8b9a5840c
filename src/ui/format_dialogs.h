// The option dialogs of the JPEG, PNG, GIF, TIFF, WebP, AVIF and JPEG XL
// output formats. The
// format's setup copies its options into a dialog, runs it, and copies them
// back only on OK; "Отмена" and Escape leave the options as they were.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

class COutputFormat;
class CUpDown;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

// The base of the four: DoModal returns 1 for OK and 2 for cancel; OK first
// stores the controls and stays open when a value is refused.
class CFormatOptionsDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CFormatOptionsDlg(QWidget* parent = nullptr);

  // Opening: ranges and spins, then the controls from the members.
  virtual void InitDialog() { LoadControls(); }
  virtual void LoadControls() = 0;
  // False, with the message shown and the focus on the edit, when a value
  // is refused.
  virtual bool StoreControls() = 0;
  int DoModal();

  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 public slots:
  void accept() override;

 protected:
  // Adds the OK and "Отмена" row to layout's end.
  QWidget* MakeButtonRow();

 private:
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// "Свойства JPEG".
class CPageJPEG : public CFormatOptionsDlg {
  Q_OBJECT
 public:
  explicit CPageJPEG(QWidget* parent = nullptr);
  void InitDialog() override;
  void LoadControls() override;
  bool StoreControls() override;

  int Quality = 75;
  QString QualityLabel;  // "75 %"
  bool OptimizeHuffman = true;
  int Smoothing = 0;
  bool Progressive = false;

  QSlider* QualitySlider() const { return quality_; }
  QLabel* QualityLabelControl() const { return label_; }
  QLineEdit* SmoothingEdit() const { return smoothing_; }
  CUpDown* SmoothingSpin() const { return smoothingSpin_; }
  QCheckBox* HuffmanBox() const { return huffman_; }
  QCheckBox* ProgressiveBox() const { return progressive_; }

 private:
  void OnQualityScroll();

  QSlider* quality_ = nullptr;
  QLabel* label_ = nullptr;
  QLineEdit* smoothing_ = nullptr;
  CUpDown* smoothingSpin_ = nullptr;
  QCheckBox* huffman_ = nullptr;
  QCheckBox* progressive_ = nullptr;
  bool loading_ = false;
};

// "Настройки PNG".
class CPagePNG : public CFormatOptionsDlg {
  Q_OBJECT
 public:
  explicit CPagePNG(QWidget* parent = nullptr);
  void LoadControls() override;
  bool StoreControls() override;

  bool Interlaced = false;

  QCheckBox* InterlacedBox() const { return interlaced_; }

 private:
  QCheckBox* interlaced_ = nullptr;
};

// "Настройки GIF".
class CPageGIF : public CFormatOptionsDlg {
  Q_OBJECT
 public:
  explicit CPageGIF(QWidget* parent = nullptr);
  void InitDialog() override;
  void LoadControls() override;
  bool StoreControls() override;

  int PaletteType = 1;       // 0 standard, 1 adaptive (2, the user palette, has no radio)
  int LimitColors = 256;     // 0..256
  bool ErrorDiffusion = true;
  std::string UserPaletteFile;  // carried through untouched
  int Compression = 0;       // 0 LZW, 1 none, 2 RLE

  QButtonGroup* PaletteGroup() const { return palette_; }
  QButtonGroup* CompressionGroup() const { return compression_; }
  QLineEdit* LimitEdit() const { return limit_; }
  CUpDown* LimitSpin() const { return limitSpin_; }
  QCheckBox* DiffusionBox() const { return diffusion_; }

 private:
  QButtonGroup* palette_ = nullptr;
  QButtonGroup* compression_ = nullptr;
  QLineEdit* limit_ = nullptr;
  CUpDown* limitSpin_ = nullptr;
  QCheckBox* diffusion_ = nullptr;
};

// "Настройки TIFF".
class CPageTIFF : public CFormatOptionsDlg {
  Q_OBJECT
 public:
  explicit CPageTIFF(QWidget* parent = nullptr);
  void LoadControls() override;
  bool StoreControls() override;

  // 0 none, 1 RLE, 2 CCITT fax 3, 3 CCITT fax 4, 4 LZW, 5 JPEG, 6 PackBits.
  int Compression = 0;

  QButtonGroup* CompressionGroup() const { return compression_; }

 private:
  QButtonGroup* compression_ = nullptr;
};

// "Настройки WebP", "Настройки AVIF", "Настройки JPEG XL": a quality
// trackbar (1..100) as in the JPEG dialog, the effort of the encoder in an
// edit with arrows, and one switch (lossless, or 4:4:4 chroma for AVIF).
class CPageQualityEffort : public CFormatOptionsDlg {
  Q_OBJECT
 public:
  // The format's texts and the effort's range.
  struct Kind {
    const char* title;
    const char* effortText;
    int effortMin;
    int effortMax;
    const char* switchText;
  };
  static const Kind kWebP, kAVIF, kJXL;

  explicit CPageQualityEffort(const Kind& kind, QWidget* parent = nullptr);
  void InitDialog() override;
  void LoadControls() override;
  bool StoreControls() override;

  int Quality = 80;
  int Effort = 4;
  bool Switch = false;

  QSlider* QualitySlider() const { return quality_; }
  QLabel* QualityLabelControl() const { return label_; }
  QLineEdit* EffortEdit() const { return effort_; }
  CUpDown* EffortSpin() const { return effortSpin_; }
  QCheckBox* SwitchBox() const { return switch_; }

 private:
  const Kind& kind_;
  QSlider* quality_ = nullptr;
  QLabel* label_ = nullptr;
  QLineEdit* effort_ = nullptr;
  CUpDown* effortSpin_ = nullptr;
  QCheckBox* switch_ = nullptr;
};

// The setup of a format: opens the dialog of its kind, copies the options
// in and, on OK, back. Returns the dialog's result (1 OK, 2 cancel); a
// format without options shows nothing and returns 2.
int RunFormatSetup(COutputFormat& format);

// Makes COutputFormat::Setup open these dialogs (the main window's
// "Настройки формата..." calls Setup of the chosen format).
void InstallFormatSetupHook();
