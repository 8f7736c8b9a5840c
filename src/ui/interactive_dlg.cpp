#include "ui/interactive_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "engine/host.h"
#include "engine/stages.h"
#include "imaging/property_items.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/dialog_support.h"

namespace {

constexpr int kBrightnessMin = -255, kBrightnessMax = 255;
constexpr int kContrastMin = -100, kContrastMax = 100;
const RGBQuad kPreviewBackground = {128, 128, 128, 0};

// Brightness: a sun.
QIcon BrightnessIcon() {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(200, 140, 0), 2));
  p.setBrush(QColor(255, 200, 0));
  p.drawEllipse(QPointF(12, 12), 5, 5);
  for (int i = 0; i < 8; ++i) {
    const double a = i * M_PI / 4;
    p.drawLine(QPointF(12 + 7.5 * std::cos(a), 12 + 7.5 * std::sin(a)),
               QPointF(12 + 10.5 * std::cos(a), 12 + 10.5 * std::sin(a)));
  }
  return QIcon(pixmap);
}

// Contrast: a circle half black, half white.
QIcon ContrastIcon() {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF circle(3, 3, 18, 18);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(circle);
  p.setBrush(Qt::black);
  p.drawPie(circle, 90 * 16, 180 * 16);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::black, 1.5));
  p.drawEllipse(circle);
  return QIcon(pixmap);
}

QPushButton* PushLikeRadio(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setCheckable(true);
  button->setAutoDefault(false);
  return button;
}

QPushButton* IconRadio(const char* icon, const QString& name, QWidget* parent) {
  QPushButton* button = PushLikeRadio(QString(), parent);
  button->setIcon(QIcon(QString::fromLatin1(icon)));
  button->setIconSize(QSize(24, 24));
  button->setAccessibleName(name);
  return button;
}

// A vertical trackbar with "-" above and "+" below, under an icon; the top
// end is the minimum.
QWidget* Trackbar(QSlider*& slider, const QIcon& icon, QWidget* parent) {
  auto* column = new QWidget(parent);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* iconLabel = new QLabel(column);
  iconLabel->setPixmap(icon.pixmap(24, 24));
  iconLabel->setAlignment(Qt::AlignHCenter);
  auto* minus = new QLabel(QStringLiteral("-"), column);
  auto* plus = new QLabel(QStringLiteral("+"), column);
  minus->setAlignment(Qt::AlignHCenter);
  plus->setAlignment(Qt::AlignHCenter);
  slider = new QSlider(Qt::Vertical, column);
  slider->setInvertedAppearance(true);
  slider->setInvertedControls(true);
  slider->setTickPosition(QSlider::NoTicks);
  layout->addWidget(iconLabel);
  layout->addWidget(minus);
  layout->addWidget(slider, 1, Qt::AlignHCenter);
  layout->addWidget(plus);
  return column;
}

}  // namespace

CInteractiveDlg::CInteractiveDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("Настройка"));

  // Preview.
  auto* previewGroup = new QGroupBox(Ui("Предпросмотр"), this);
  auto* previewLayout = new QVBoxLayout(previewGroup);
  view_ = new CImageView(previewGroup);
  view_->setFixedSize(kPreviewWidth, kPreviewHeight);
  previewLayout->addWidget(view_);

  // Tone.
  auto* toneGroup = new QGroupBox(this);
  auto* toneLayout = new QHBoxLayout(toneGroup);
  toneLayout->addWidget(Trackbar(brightness_, BrightnessIcon(), toneGroup));
  toneLayout->addWidget(Trackbar(contrast_, ContrastIcon(), toneGroup));
  brightness_->setAccessibleName(Ui("Яркость"));
  contrast_->setAccessibleName(Ui("Контрастность"));

  // Rotation and flip.
  auto* rotationGroup = new QGroupBox(Ui("Поворот"), this);
  auto* rotationLayout = new QHBoxLayout(rotationGroup);
  rotation_ = new QButtonGroup(this);
  rotation_->addButton(IconRadio(":/pages/rotate_left.png", QStringLiteral("90"), rotationGroup), 0);
  rotation_->addButton(IconRadio(":/pages/rotate_right.png", QStringLiteral("90"), rotationGroup), 1);
  rotation_->addButton(IconRadio(":/pages/rotate_180.png", QStringLiteral("180"), rotationGroup), 2);
  rotation_->addButton(PushLikeRadio(Ui("Нет"), rotationGroup), 3);
  rotation_->addButton(PushLikeRadio(QStringLiteral("EXIF"), rotationGroup), 4);
  for (QAbstractButton* button : rotation_->buttons()) rotationLayout->addWidget(button);

  auto* flipGroup = new QGroupBox(Ui("Отражение"), this);
  auto* flipLayout = new QHBoxLayout(flipGroup);
  flip_ = new QButtonGroup(this);
  flip_->addButton(IconRadio(":/pages/flip_horizontal.png", Ui("Гориз."), flipGroup), 0);
  flip_->addButton(IconRadio(":/pages/flip_vertical.png", Ui("Верт."), flipGroup), 1);
  flip_->addButton(PushLikeRadio(Ui("Нет"), flipGroup), 2);
  for (QAbstractButton* button : flip_->buttons()) flipLayout->addWidget(button);

  reset_ = new QPushButton(Ui("Сброс"), this);
  reset_->setAutoDefault(false);

  dontShow_ = new QCheckBox(Ui("Больше не показывать это окно"), this);
  applyToAll_ =
      new QCheckBox(Ui("Применить текущие установки ко всем последующим изображениям"), this);

  withChanges_ = new QPushButton(Ui("Преобразовать с изменениями"), this);
  skip_ = new QPushButton(Ui("Пропустить"), this);
  unchanged_ = new QPushButton(Ui("Преобразовать без изменений"), this);
  withChanges_->setDefault(true);
  withChanges_->setAutoDefault(true);
  skip_->setAutoDefault(false);
  unchanged_->setAutoDefault(false);

  // Layout: preview and tone side by side; rotation, flip and reset below;
  // the check boxes; the closing buttons.
  auto* top = new QHBoxLayout;
  top->addWidget(previewGroup, 1);
  top->addWidget(toneGroup);
  auto* middle = new QHBoxLayout;
  middle->addWidget(rotationGroup);
  middle->addWidget(flipGroup);
  middle->addWidget(reset_, 0, Qt::AlignBottom);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(withChanges_);
  buttons->addWidget(skip_);
  buttons->addWidget(unchanged_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(middle);
  layout->addWidget(dontShow_);
  layout->addWidget(applyToAll_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  // Every change of a choice or a trackbar (also while its thumb is
  // dragged) refreshes the preview.
  connect(rotation_, &QButtonGroup::idClicked, this, [this] { RefreshPreview(); });
  connect(flip_, &QButtonGroup::idClicked, this, [this] { RefreshPreview(); });
  for (QSlider* slider : {brightness_, contrast_}) {
    slider->setTracking(true);
    connect(slider, &QSlider::valueChanged, this, [this] {
      if (!loading_) RefreshPreview();
    });
  }
  connect(reset_, &QPushButton::clicked, this, &CInteractiveDlg::OnReset);
  connect(withChanges_, &QPushButton::clicked, this, [this] { Close(kConvertWithChanges); });
  connect(skip_, &QPushButton::clicked, this, [this] { Close(kSkip); });
  connect(unchanged_, &QPushButton::clicked, this, [this] { Close(kConvertUnchanged); });
}

CInteractiveDlg::~CInteractiveDlg() { delete previewItems_; }

void CInteractiveDlg::LoadRequest(const InteractiveRequest& request) {
  Source = request.image;
  CaptionSuffix = request.captionSuffix;
  Brightness = request.brightness;
  Contrast = request.contrast;
  Rotation = request.rotation;
  Flip = request.flip;
  Items = request.items;
  ItemCount = request.itemCount;
}

void CInteractiveDlg::StoreRequest(InteractiveRequest& request) const {
  request.brightness = Brightness;
  request.contrast = Contrast;
  request.rotation = Rotation;
  request.flip = Flip;
  request.dontShowAgain = DontShowAgain;
  request.applyToAll = ApplyToAll;
}

QAbstractButton* CInteractiveDlg::RotationButton(int choice) const { return rotation_->button(choice); }

QAbstractButton* CInteractiveDlg::FlipButton(int choice) const { return flip_->button(choice); }

QPushButton* CInteractiveDlg::CloseButton(int resultCode) const {
  switch (resultCode) {
    case kConvertWithChanges: return withChanges_;
    case kSkip: return skip_;
    case kConvertUnchanged: return unchanged_;
    default: return nullptr;
  }
}

void CInteractiveDlg::LoadControls() {
  loading_ = true;
  brightness_->setValue(int(Brightness));
  contrast_->setValue(int(Contrast));
  // A choice outside the buttons' values leaves no button pressed.
  for (QButtonGroup* group : {rotation_, flip_}) {
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(false);
    group->setExclusive(true);
  }
  if (QAbstractButton* button = rotation_->button(Rotation)) button->setChecked(true);
  if (QAbstractButton* button = flip_->button(Flip)) button->setChecked(true);
  dontShow_->setChecked(DontShowAgain);
  applyToAll_->setChecked(ApplyToAll);
  loading_ = false;
}

void CInteractiveDlg::StoreControls() {
  Brightness = brightness_->value();
  Contrast = contrast_->value();
  if (rotation_->checkedId() >= 0) Rotation = rotation_->checkedId();
  if (flip_->checkedId() >= 0) Flip = flip_->checkedId();
  DontShowAgain = dontShow_->isChecked();
  ApplyToAll = applyToAll_->isChecked();
}

void CInteractiveDlg::MakeReducedSource() {
  reduced_.Destroy();
  if (Source == nullptr || !Source->IsValid()) return;
  // Every rotation of the reduced copy still covers the preview area at
  // the scale the final fitting uses, so the preview looks as if it were
  // made from the full image, at a fraction of the work per refresh.
  const long box = std::max(kPreviewWidth, kPreviewHeight);
  const long w = Source->GetWidth(), h = Source->GetHeight();
  if (w <= box && h <= box) {
    reduced_.Copy(*Source);
    return;
  }
  const double scale = double(box) / double(std::max(w, h));
  const long rw = std::max(1L, std::lround(w * scale));
  const long rh = std::max(1L, std::lround(h * scale));
  if (!const_cast<CImage*>(Source)->Resample2(rw, rh, CImage::IM_BILINEAR, CImage::OM_REPEAT,
                                              &reduced_))
    reduced_.Copy(*Source);
}

void CInteractiveDlg::InitDialog() {
  // The range comes before the position, so carried values outside
  // 0..100 show as they are.
  brightness_->setRange(kBrightnessMin, kBrightnessMax);
  contrast_->setRange(kContrastMin, kContrastMax);
  LoadControls();

  tips_ = new CInfoTip(this);
  tips_->SetWidthLimit(250);
  tips_->AddTool(withChanges_,
                 Ui("Преобразовать изображение c учетом изменений, сделанных в этом окне"));
  tips_->AddTool(skip_, Ui("Вообще не преобразовывать это изображение, пропустить его"));
  tips_->AddTool(unchanged_, Ui("Преобразовать изображение без изменений, сделанных в этом окне"));

  MakeReducedSource();
  setWindowTitle(Ui("Настройка") + QString::fromStdString(CaptionSuffix));
  RefreshPreview();
}

int CInteractiveDlg::DoModal() {
  InitDialog();
  RunModal(*this);
  return ResultCode;
}

void CInteractiveDlg::RefreshPreview() {
  StoreControls();
  ++refreshes_;
  preview_.Destroy();
  if (!reduced_.IsValid()) {
    view_->SetImage(nullptr);
    view_->repaint();
    return;
  }
  preview_.Copy(reduced_);
  // The preview flips first and rotates then.
  if (Flip == 0)
    preview_.Mirror();
  else if (Flip == 1)
    preview_.Flip();
  switch (Rotation) {
    case 0: preview_.RotateLeft(); break;
    case 1: preview_.RotateRight(); break;
    case 2: preview_.Rotate180(); break;
    case 4:
      if (Items != nullptr) {
        // The camera-tag rotation marks the tag as done; that must not reach
        // the worker's items, so it works on a copy.
        if (previewItems_ == nullptr) previewItems_ = new PropertyItemList;
        *previewItems_ = *Items;
        CJobStages stages(GetSettings(), nullptr);
        stages.RotateByOrientationTag(*previewItems_, ItemCount, preview_);
      }
      break;
    default: break;
  }
  preview_.Light(Brightness, Contrast);
  // The grey around a small picture must stay grey: a palette picture
  // would take the palette colour nearest to it.
  if (preview_.GetBpp() < 24) preview_.IncreaseBpp(24);
  preview_.Thumbnail(kPreviewWidth, kPreviewHeight, kPreviewBackground);
  view_->SetImage(&preview_);
  view_->repaint();
}

void CInteractiveDlg::OnReset() {
  Rotation = 3;
  Flip = 2;
  Brightness = 0;
  Contrast = 0;
  LoadControls();
  RefreshPreview();
}

void CInteractiveDlg::Close(int resultCode) {
  StoreControls();
  ResultCode = resultCode;
  if (resultCode == kConvertWithChanges)
    QDialog::accept();
  else
    QDialog::reject();
}

void CInteractiveDlg::reject() { Close(kConvertUnchanged); }

int RunInteractiveDialog(InteractiveRequest& request, QWidget* parent) {
  CInteractiveDlg dialog(parent);
  dialog.LoadRequest(request);
  const int result = dialog.DoModal();
  dialog.StoreRequest(request);
  return result;
}
