#include "ui/page_flip_rotate.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/page_common.h"

namespace {

struct ButtonSpec {
  int value;
  const char* text;  // shown when there is no picture; the name otherwise
  const char* icon;  // resource path or nullptr
  const char* tip;
  const char* name;
};

const ButtonSpec kRotations[] = {
    {0, "Влево", ":/pages/rotate_left.png", "Поворот на 90 градусов влево", "rotateLeft"},
    {1, "Вправо", ":/pages/rotate_right.png", "Поворот на 90 градусов вправо", "rotateRight"},
    {2, "180", ":/pages/rotate_180.png", "Разворот на 180 градусов", "rotate180"},
    {3, "Нет", nullptr, "Оставить как есть, не поворачивать", "rotateNone"},
    {4, "EXIF", nullptr, "Поворот по данным от камеры (если они есть в файле)", "rotateExif"},
};
const ButtonSpec kFlips[] = {
    {0, "Гориз.", ":/pages/flip_horizontal.png", "Отразить слева направо", "flipHorizontal"},
    {1, "Верт.", ":/pages/flip_vertical.png", "Отразить сверху вниз", "flipVertical"},
    {2, "Нет", nullptr, "Оставить как есть, не отражать", "flipNone"},
};

QGroupBox* ButtonRow(QWidget* parent, const QString& title, const ButtonSpec* specs, size_t count,
                     QButtonGroup* group, CInfoTip* tip) {
  auto* box = new QGroupBox(title, parent);
  auto* row = new QHBoxLayout(box);
  row->setSpacing(4);
  for (size_t i = 0; i < count; ++i) {
    const ButtonSpec& entry = specs[i];
    auto* button = new QToolButton(box);
    button->setObjectName(QLatin1String(entry.name));
    button->setCheckable(true);
    button->setAccessibleName(Ui(entry.text));
    if (entry.icon) {
      button->setIcon(QIcon(QLatin1String(entry.icon)));
      button->setIconSize(QSize(32, 32));
      button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    } else {
      button->setText(Ui(entry.text));
    }
    button->setMinimumSize(44, 44);
    group->addButton(button, entry.value);
    row->addWidget(button);
    tip->AddTool(button, Ui(entry.tip));
  }
  row->addStretch(1);
  return box;
}

}  // namespace

CPageFlipRotate::CPageFlipRotate(QWidget* parent)
    : CSettingsPage(Ui("Поворот/отражение"), parent) {
  tip_ = new CInfoTip(this);
  tip_->SetWidthLimit(300);
  rotation_ = new QButtonGroup(this);
  flip_ = new QButtonGroup(this);

  auto* page = new QVBoxLayout(this);
  page->addWidget(ButtonRow(this, Ui("Поворот"), kRotations, std::size(kRotations), rotation_, tip_));
  page->addWidget(ButtonRow(this, Ui("Отражение"), kFlips, std::size(kFlips), flip_, tip_));
  page->addStretch(1);

  // A click on any of the buttons stores the page.
  connect(rotation_, &QButtonGroup::idClicked, this, [this](int) { StoreControls(); });
  connect(flip_, &QButtonGroup::idClicked, this, [this](int) { StoreControls(); });
  LoadControls();
}

void CPageFlipRotate::LoadControls() {
  const CSettings& s = GetSettings();
  if (QAbstractButton* b = rotation_->button(s.RotationModeIndex())) b->setChecked(true);
  if (QAbstractButton* b = flip_->button(s.FlipModeIndex())) b->setChecked(true);
  emit stagesChanged();
}

void CPageFlipRotate::StoreControls() {
  CSettings& s = GetSettings();
  if (rotation_->checkedId() >= 0) s.RotationMode = rotation_->checkedId();
  if (flip_->checkedId() >= 0) s.FlipMode = flip_->checkedId();
  emit stagesChanged();
}

void CPageFlipRotate::keyPressEvent(QKeyEvent* event) {
  if (!HandlePageKey(this, event, false)) CSettingsPage::keyPressEvent(event);
}
