#include "ui/format_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "formats/output_format.h"
#include "ui/controls.h"
#include "ui/dialog_support.h"
#include "ui/page_common.h"

namespace {

QString PercentLabel(int quality) { return QString::asprintf("%d %%", quality); }

// An edit with its up-down arrows on one row.
QWidget* EditWithSpin(QLineEdit*& edit, CUpDown*& spin, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  edit = new QLineEdit(row);
  edit->setFixedWidth(48);
  spin = new CUpDown(edit, row);
  layout->addWidget(edit);
  layout->addWidget(spin);
  return row;
}

// "Качество и размеры файлов": the percentage over the trackbar, with the
// two ends explained below it.
QGroupBox* MakeQualityGroup(QWidget* parent, QLabel*& label, QSlider*& slider) {
  auto* group = new QGroupBox(Ui("Качество и размеры файлов"), parent);
  auto* q = new QGridLayout(group);
  label = new QLabel(group);
  label->setAlignment(Qt::AlignCenter);
  slider = new QSlider(Qt::Horizontal, group);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setMinimumWidth(260);
  auto* worse = new QLabel(Ui("Хуже качество,\nно меньше размер"), group);
  auto* better = new QLabel(Ui("Лучше качество,\nно больше размер"), group);
  better->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  q->addWidget(label, 0, 0, 1, 2);
  q->addWidget(slider, 1, 0, 1, 2);
  q->addWidget(worse, 2, 0);
  q->addWidget(better, 2, 1);
  return group;
}

void CheckRadio(QButtonGroup* group, int id) {
  group->setExclusive(false);
  for (QAbstractButton* button : group->buttons()) button->setChecked(false);
  group->setExclusive(true);
  if (QAbstractButton* button = group->button(id)) button->setChecked(true);
}

// The checked radio's value; without one the value stays.
void ReadRadio(QButtonGroup* group, int& value) {
  if (group->checkedId() >= 0) value = group->checkedId();
}

}  // namespace

// ---- CFormatOptionsDlg ------------------------------------------------------------

CFormatOptionsDlg::CFormatOptionsDlg(QWidget* parent) : QDialog(parent) {}

QWidget* CFormatOptionsDlg::MakeButtonRow() {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addStretch(1);
  ok_ = new QPushButton(QStringLiteral("OK"), row);
  cancel_ = new QPushButton(Ui("Отмена"), row);
  ok_->setDefault(true);
  cancel_->setAutoDefault(false);
  layout->addWidget(ok_);
  layout->addWidget(cancel_);
  connect(ok_, &QPushButton::clicked, this, &CFormatOptionsDlg::accept);
  connect(cancel_, &QPushButton::clicked, this, &CFormatOptionsDlg::reject);
  return row;
}

void CFormatOptionsDlg::accept() {
  if (!StoreControls()) return;
  QDialog::accept();
}

int CFormatOptionsDlg::DoModal() {
  InitDialog();
  return RunModal(*this) == QDialog::Accepted ? 1 : 2;
}

// ---- CPageJPEG ----------------------------------------------------------------------

CPageJPEG::CPageJPEG(QWidget* parent) : CFormatOptionsDlg(parent) {
  setWindowTitle(Ui("Свойства JPEG"));

  QGroupBox* qualityGroup = MakeQualityGroup(this, label_, quality_);
  label_->setText(QStringLiteral("50%"));

  auto* otherGroup = new QGroupBox(Ui("Прочее"), this);
  auto* o = new QGridLayout(otherGroup);
  auto* smoothingLabel = new QLabel(Ui("Сглаживание (1..100, = 0 - отключить)"), otherGroup);
  QWidget* smoothingRow = EditWithSpin(smoothing_, smoothingSpin_, otherGroup);
  MakeDigitsOnly(smoothing_);
  huffman_ = new QCheckBox(Ui("Оптимизация Хаффмана"), otherGroup);
  progressive_ = new QCheckBox(Ui("Прогрессивный"), otherGroup);
  o->addWidget(smoothingLabel, 0, 0);
  o->addWidget(smoothingRow, 0, 1, Qt::AlignLeft);
  o->addWidget(huffman_, 1, 0, 1, 2);
  o->addWidget(progressive_, 2, 0, 1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(qualityGroup);
  layout->addWidget(otherGroup);
  layout->addWidget(MakeButtonRow());
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // The label follows the thumb, also while it is dragged.
  quality_->setTracking(true);
  connect(quality_, &QSlider::valueChanged, this, [this] {
    if (!loading_) OnQualityScroll();
  });
}

void CPageJPEG::InitDialog() {
  loading_ = true;
  quality_->setRange(0, 100);
  quality_->setTickInterval(5);
  quality_->setPageStep(5);
  loading_ = false;
  QualityLabel = PercentLabel(Quality);
  smoothingSpin_->SetRange(0, 100);
  smoothingSpin_->SetPos(Smoothing);
  LoadControls();
}

void CPageJPEG::LoadControls() {
  loading_ = true;
  QualityLabel = PercentLabel(Quality);
  quality_->setValue(Quality);
  label_->setText(QualityLabel);
  smoothing_->setText(QString::number(Smoothing));
  huffman_->setChecked(OptimizeHuffman);
  progressive_->setChecked(Progressive);
  loading_ = false;
}

bool CPageJPEG::StoreControls() {
  int smoothing = Smoothing;
  if (!ReadIntEdit(this, smoothing_, smoothing)) return false;
  Smoothing = smoothing;
  Quality = quality_->value();
  OptimizeHuffman = huffman_->isChecked();
  Progressive = progressive_->isChecked();
  return true;
}

void CPageJPEG::OnQualityScroll() {
  // Only the trackbar is read here: a half-typed smoothing value must not
  // raise a message while the thumb moves.
  Quality = quality_->value();
  QualityLabel = PercentLabel(Quality);
  label_->setText(QualityLabel);
}

// ---- CPagePNG -------------------------------------------------------------------------

CPagePNG::CPagePNG(QWidget* parent) : CFormatOptionsDlg(parent) {
  setWindowTitle(Ui("Настройки PNG"));
  auto* group = new QGroupBox(Ui("Общие"), this);
  auto* g = new QVBoxLayout(group);
  interlaced_ = new QCheckBox(Ui("Черезстрочно (может быть полезно для www)"), group);
  g->addWidget(interlaced_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(MakeButtonRow());
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CPagePNG::LoadControls() { interlaced_->setChecked(Interlaced); }

bool CPagePNG::StoreControls() {
  Interlaced = interlaced_->isChecked();
  return true;
}

// ---- CPageGIF -------------------------------------------------------------------------

CPageGIF::CPageGIF(QWidget* parent) : CFormatOptionsDlg(parent) {
  setWindowTitle(Ui("Настройки GIF"));

  auto* paletteGroup = new QGroupBox(Ui("Палитра"), this);
  auto* p = new QVBoxLayout(paletteGroup);
  palette_ = new QButtonGroup(this);
  palette_->addButton(new QRadioButton(Ui("Стандартная"), paletteGroup), 0);
  palette_->addButton(new QRadioButton(Ui("Адаптивная"), paletteGroup), 1);
  for (QAbstractButton* b : palette_->buttons()) p->addWidget(b);

  auto* coloursGroup = new QGroupBox(Ui("Цвета"), this);
  auto* c = new QVBoxLayout(coloursGroup);
  auto* limitRow = new QHBoxLayout;
  limitRow->addWidget(new QLabel(Ui("Ограничиться"), coloursGroup));
  limitRow->addWidget(EditWithSpin(limit_, limitSpin_, coloursGroup));
  limitRow->addWidget(new QLabel(Ui("цветами"), coloursGroup));
  limitRow->addStretch(1);
  c->addLayout(limitRow);
  diffusion_ = new QCheckBox(Ui("Диффузная передача полутонов"), coloursGroup);
  c->addWidget(diffusion_);

  auto* compressionGroup = new QGroupBox(Ui("Сжатие"), this);
  auto* z = new QVBoxLayout(compressionGroup);
  compression_ = new QButtonGroup(this);
  compression_->addButton(new QRadioButton(Ui("LZW (по умолчанию)"), compressionGroup), 0);
  compression_->addButton(new QRadioButton(Ui("Нет"), compressionGroup), 1);
  compression_->addButton(new QRadioButton(QStringLiteral("RLE"), compressionGroup), 2);
  for (QAbstractButton* b : compression_->buttons()) z->addWidget(b);
  z->addStretch(1);

  auto* grid = new QGridLayout;
  grid->addWidget(paletteGroup, 0, 0);
  grid->addWidget(compressionGroup, 0, 1, 2, 1);
  grid->addWidget(coloursGroup, 1, 0);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(MakeButtonRow());
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CPageGIF::InitDialog() {
  LoadControls();
  limitSpin_->SetRange(2, 256);
  limitSpin_->SetPos(LimitColors);
}

void CPageGIF::LoadControls() {
  CheckRadio(palette_, PaletteType);
  limit_->setText(QString::number(LimitColors));
  diffusion_->setChecked(ErrorDiffusion);
  CheckRadio(compression_, Compression);
}

bool CPageGIF::StoreControls() {
  int limit = LimitColors;
  if (!ReadIntEdit(this, limit_, limit, 2, 256)) return false;
  LimitColors = limit;
  ReadRadio(palette_, PaletteType);
  ErrorDiffusion = diffusion_->isChecked();
  ReadRadio(compression_, Compression);
  return true;
}

// ---- CPageTIFF ------------------------------------------------------------------------

CPageTIFF::CPageTIFF(QWidget* parent) : CFormatOptionsDlg(parent) {
  setWindowTitle(Ui("Настройки TIFF"));
  auto* group = new QGroupBox(Ui("Сжатие"), this);
  auto* g = new QVBoxLayout(group);
  compression_ = new QButtonGroup(this);
  const QString names[] = {Ui("Нет"),   QStringLiteral("RLE"),  QStringLiteral("CCITTFAX3"),
                           QStringLiteral("CCITTFAX4"), QStringLiteral("LZW"),
                           QStringLiteral("JPEG"), QStringLiteral("Mac (packbits)")};
  for (int i = 0; i < 7; ++i) {
    auto* radio = new QRadioButton(names[i], group);
    compression_->addButton(radio, i);
    g->addWidget(radio);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(MakeButtonRow());
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CPageTIFF::LoadControls() { CheckRadio(compression_, Compression); }

bool CPageTIFF::StoreControls() {
  ReadRadio(compression_, Compression);
  return true;
}

// ---- CPageQualityEffort -----------------------------------------------------------------

const CPageQualityEffort::Kind CPageQualityEffort::kWebP = {
    "Настройки WebP", "Метод сжатия (0..6, больше - меньше файл, но дольше)", 0, 6,
    "Без потерь"};
const CPageQualityEffort::Kind CPageQualityEffort::kAVIF = {
    "Настройки AVIF", "Скорость (0..10, меньше - меньше файл, но дольше)", 0, 10,
    "Цветность 4:4:4 (без прореживания цвета)"};
const CPageQualityEffort::Kind CPageQualityEffort::kJXL = {
    "Настройки JPEG XL", "Усилие (1..9, больше - меньше файл, но дольше)", 1, 9, "Без потерь"};

CPageQualityEffort::CPageQualityEffort(const Kind& kind, QWidget* parent)
    : CFormatOptionsDlg(parent), kind_(kind) {
  setWindowTitle(Ui(kind.title));

  QGroupBox* qualityGroup = MakeQualityGroup(this, label_, quality_);

  auto* otherGroup = new QGroupBox(Ui("Прочее"), this);
  auto* o = new QGridLayout(otherGroup);
  auto* effortLabel = new QLabel(Ui(kind.effortText), otherGroup);
  QWidget* effortRow = EditWithSpin(effort_, effortSpin_, otherGroup);
  MakeDigitsOnly(effort_);
  switch_ = new QCheckBox(Ui(kind.switchText), otherGroup);
  o->addWidget(effortLabel, 0, 0);
  o->addWidget(effortRow, 0, 1, Qt::AlignLeft);
  o->addWidget(switch_, 1, 0, 1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(qualityGroup);
  layout->addWidget(otherGroup);
  layout->addWidget(MakeButtonRow());
  layout->setSizeConstraint(QLayout::SetFixedSize);

  quality_->setRange(1, 100);
  quality_->setTickInterval(5);
  quality_->setPageStep(5);
  quality_->setTracking(true);
  connect(quality_, &QSlider::valueChanged, this,
          [this](int value) { label_->setText(PercentLabel(value)); });
}

void CPageQualityEffort::InitDialog() {
  effortSpin_->SetRange(kind_.effortMin, kind_.effortMax);
  LoadControls();
}

void CPageQualityEffort::LoadControls() {
  quality_->setValue(Quality);
  label_->setText(PercentLabel(quality_->value()));
  effortSpin_->SetPos(Effort);
  switch_->setChecked(Switch);
}

bool CPageQualityEffort::StoreControls() {
  int effort = Effort;
  if (!ReadIntEdit(this, effort_, effort, kind_.effortMin, kind_.effortMax)) return false;
  Effort = effort;
  Quality = quality_->value();
  Switch = switch_->isChecked();
  return true;
}

namespace {

// Runs the dialog of kind on the three options of a WebP, AVIF or JPEG XL
// format; they change only on OK.
int RunQualityEffort(const CPageQualityEffort::Kind& kind, int& quality, int& effort,
                     int& flag) {
  CPageQualityEffort dialog(kind);
  dialog.Quality = quality;
  dialog.Effort = effort;
  dialog.Switch = flag != 0;
  const int result = dialog.DoModal();
  if (result == 1) {
    quality = dialog.Quality;
    effort = dialog.Effort;
    flag = dialog.Switch ? 1 : 0;
  }
  return result;
}

}  // namespace

// ---- the formats' setup -----------------------------------------------------------------

int RunFormatSetup(COutputFormat& format) {
  if (auto* jpeg = dynamic_cast<CFormatJPEG*>(&format)) {
    CPageJPEG dialog;
    dialog.Quality = jpeg->Quality;
    dialog.OptimizeHuffman = jpeg->OptimizeHuffmanCoding != 0;
    dialog.Smoothing = jpeg->Smoothing;
    dialog.Progressive = jpeg->Progressive != 0;
    const int result = dialog.DoModal();
    if (result == 1) {
      jpeg->Quality = dialog.Quality;
      jpeg->OptimizeHuffmanCoding = dialog.OptimizeHuffman ? 1 : 0;
      jpeg->Smoothing = dialog.Smoothing;
      jpeg->Progressive = dialog.Progressive ? 1 : 0;
    }
    return result;
  }
  if (auto* png = dynamic_cast<CFormatPNG*>(&format)) {
    CPagePNG dialog;
    dialog.Interlaced = png->Interlaced != 0;
    const int result = dialog.DoModal();
    if (result == 1) png->Interlaced = dialog.Interlaced ? 1 : 0;
    return result;
  }
  if (auto* gif = dynamic_cast<CFormatGIF*>(&format)) {
    CPageGIF dialog;
    dialog.PaletteType = gif->PaletteType;
    dialog.LimitColors = gif->PaletteLimitColors;
    dialog.ErrorDiffusion = gif->PaletteErrorDiffusion != 0;
    dialog.UserPaletteFile = gif->PaletteUserPaletteFile;
    dialog.Compression = gif->CompressionType;
    const int result = dialog.DoModal();
    if (result == 1) {
      gif->PaletteType = dialog.PaletteType;
      gif->PaletteLimitColors = dialog.LimitColors;
      gif->PaletteErrorDiffusion = dialog.ErrorDiffusion ? 1 : 0;
      gif->PaletteUserPaletteFile = dialog.UserPaletteFile;
      gif->CompressionType = dialog.Compression;
    }
    return result;
  }
  if (auto* tiff = dynamic_cast<CFormatTIFF*>(&format)) {
    CPageTIFF dialog;
    dialog.Compression = tiff->CompressionType;
    const int result = dialog.DoModal();
    if (result == 1) tiff->CompressionType = dialog.Compression;
    return result;
  }
  if (auto* webp = dynamic_cast<CFormatWebP*>(&format))
    return RunQualityEffort(CPageQualityEffort::kWebP, webp->Quality, webp->Method,
                            webp->Lossless);
  if (auto* avif = dynamic_cast<CFormatAVIF*>(&format))
    return RunQualityEffort(CPageQualityEffort::kAVIF, avif->Quality, avif->Speed,
                            avif->Chroma444);
  if (auto* jxl = dynamic_cast<CFormatJXL*>(&format))
    return RunQualityEffort(CPageQualityEffort::kJXL, jxl->Quality, jxl->Effort, jxl->Lossless);
  return 2;
}

void InstallFormatSetupHook() { COutputFormat::SetupHook = RunFormatSetup; }
