#include "ui/aux_dialogs.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/dialog_support.h"
#include "ui/page_common.h"

namespace {

QPushButton* Button(const QString& text, QWidget* parent, bool isDefault = false) {
  auto* button = new QPushButton(text, parent);
  button->setDefault(isDefault);
  button->setAutoDefault(isDefault);
  return button;
}

QLabel* WrappedLabel(const QString& text, QWidget* parent, int width) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setFixedWidth(width);
  // The layout of a fixed-size dialog does not ask for the wrapped height.
  label->setMinimumHeight(label->heightForWidth(width));
  return label;
}

// The delete icon: the theme's, or a red cross.
QIcon DeleteIcon() {
  QIcon icon = QIcon::fromTheme(QStringLiteral("edit-delete"));
  if (!icon.isNull()) return icon;
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(200, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(4, 4), QPointF(12, 12));
  p.drawLine(QPointF(12, 4), QPointF(4, 12));
  return QIcon(pixmap);
}

// A rectangle filled with a colour of the settings record.
class CColourSwatch : public QWidget {
 public:
  CColourSwatch(const uint32_t* colour, QWidget* parent) : QWidget(parent), colour_(colour) {
    setFixedSize(40, 20);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), ColorFromValue(*colour_));
    p.setPen(Qt::black);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  const uint32_t* colour_;
};

}  // namespace

// ---- CRenameProperties -----------------------------------------------------------------

CRenameProperties::CRenameProperties(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("Настройки переименования"));

  start_ = new QLineEdit(this);
  MakeDigitsOnly(start_);
  start_->setFixedWidth(70);
  pattern_ = new CHistoryCombo(this);
  pattern_->setEditable(true);
  pattern_->setMinimumWidth(220);
  delete_ = new QPushButton(this);
  delete_->setIcon(DeleteIcon());
  delete_->setAccessibleName(Ui("Удалить"));
  delete_->setAutoDefault(false);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(Ui("Начинать последовательность  с цифры:"), this), 0, 0);
  fields->addWidget(start_, 0, 1, 1, 2, Qt::AlignLeft);
  fields->addWidget(new QLabel(Ui("Шаблоны:"), this), 1, 0);
  fields->addWidget(pattern_, 1, 1);
  fields->addWidget(delete_, 1, 2);
  fields->setColumnStretch(1, 1);

  auto* rules = new QGroupBox(Ui("Правила составления шаблона"), this);
  auto* r = new QVBoxLayout(rules);
  const int width = 420;
  r->addWidget(WrappedLabel(Ui("# - одна цифра последовательности\n* - имя исходного файла\n"
                               "^ - имя родительской папки"),
                            rules, width));
  r->addWidget(WrappedLabel(Ui("Пример 1:\n Если шаблон: Image_###, то 5й по счету файл "
                               "(например file.jpg) переименуется в Image_005"),
                            rules, width));
  r->addWidget(WrappedLabel(Ui("Пример 2:\n Если шаблон: *_###, то 18й по счету файл "
                               "(например file.jpg) переименуется в file_018"),
                            rules, width));
  r->addWidget(WrappedLabel(Ui("Пример 3:\n Если шаблон: Image_^_*_###, то 105й по счету "
                               "файл (например file.jpg) из папки МОЯ_ПАПКА переименуется в "
                               "Image_МОЯ_ПАПКА_file_105"),
                            rules, width));

  ok_ = Button(QStringLiteral("OK"), this, true);
  cancel_ = Button(Ui("Отмена"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(rules);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(delete_, &QPushButton::clicked, this, &CRenameProperties::OnDelete);
  connect(ok_, &QPushButton::clicked, this, &CRenameProperties::accept);
  connect(cancel_, &QPushButton::clicked, this, &CRenameProperties::reject);
}

void CRenameProperties::InitDialog() {
  CSettings& s = GetSettings();
  start_->setText(QString::number(s.RenameStartFrom));
  pattern_->LoadHistory(QString::fromLatin1(kRenameHistorySection),
                        QString::fromLatin1(kRenameHistoryPrefix));
  if (s.RenamePattern.empty()) s.RenamePattern = "Image_###";
  // The stored pattern is shown as it is: an entry that only begins with it
  // (or differs in case) is not taken in its place.
  const QString pattern = QString::fromStdString(s.RenamePattern);
  int found = -1;
  for (int i = 0; i < pattern_->count() && found < 0; ++i)
    if (pattern_->itemText(i) == pattern) found = i;
  if (found >= 0)
    pattern_->setCurrentIndex(found);
  else
    pattern_->AddToHistory(pattern);
}

int CRenameProperties::DoModal() {
  InitDialog();
  return RunModal(*this) == QDialog::Accepted ? 1 : 2;
}

void CRenameProperties::OnDelete() {
  const int index = pattern_->currentIndex();
  if (index < 0 || pattern_->itemText(index) != pattern_->currentText()) return;
  pattern_->removeItem(index);
}

void CRenameProperties::accept() {
  CSettings& s = GetSettings();
  int start = s.RenameStartFrom;
  if (!ReadIntEdit(this, start_, start)) return;
  s.RenameStartFrom = start;
  const QString text = pattern_->currentText().trimmed();
  if (!text.isEmpty()) {
    pattern_->SaveHistory(true);
    // The history keeps the trimmed pattern; so does the setting, or the
    // blanks would end up in every output name.
    s.RenamePattern = text.toStdString();
  } else {
    // Blanks only count as no pattern: they would end the stored list.
    pattern_->setEditText(QString());
    pattern_->SaveHistory(false);
  }
  QDialog::accept();
}

void RunRenameProperties(QWidget* parent) {
  CRenameProperties dialog(parent);
  dialog.DoModal();
}

// ---- CShadowAdjustDlg -------------------------------------------------------------------

std::function<bool(QWidget*, uint32_t&)> CShadowAdjustDlg::ColourDialogHook;

CShadowAdjustDlg::CShadowAdjustDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("Настройка тени"));

  auto* positionGroup = new QGroupBox(Ui("Положение"), this);
  auto* grid = new QGridLayout(positionGroup);
  positions_ = new QButtonGroup(this);
  const int cells[4][2] = {{0, 0}, {0, 2}, {2, 0}, {2, 2}};
  for (int i = 0; i < 4; ++i) {
    auto* radio = new QRadioButton(positionGroup);
    positions_->addButton(radio, i);
    grid->addWidget(radio, cells[i][0], cells[i][1], Qt::AlignCenter);
  }
  picture_ = new QLabel(positionGroup);
  picture_->setFixedSize(72, 56);
  picture_->setAlignment(Qt::AlignCenter);
  grid->addWidget(picture_, 1, 1);

  auto* colourGroup = new QGroupBox(Ui("Цвет, отступ"), this);
  auto* c = new QGridLayout(colourGroup);
  swatch_ = new CColourSwatch(&Colour, colourGroup);
  colourButton_ = new QPushButton(QStringLiteral("..."), colourGroup);
  colourButton_->setAutoDefault(false);
  colourButton_->setFixedWidth(32);
  auto* offsetRow = new QWidget(colourGroup);
  auto* o = new QHBoxLayout(offsetRow);
  o->setContentsMargins(0, 0, 0, 0);
  o->setSpacing(0);
  offset_ = new QLineEdit(offsetRow);
  offset_->setFixedWidth(40);
  offsetSpin_ = new CUpDown(offset_, offsetRow);
  o->addWidget(offset_);
  o->addWidget(offsetSpin_);
  c->addWidget(new QLabel(Ui("Цвет"), colourGroup), 0, 0);
  c->addWidget(swatch_, 0, 1);
  c->addWidget(colourButton_, 0, 2);
  c->addWidget(new QLabel(Ui("Отступ (пикс)"), colourGroup), 1, 0);
  c->addWidget(offsetRow, 1, 1, 1, 2, Qt::AlignLeft);

  ok_ = Button(QStringLiteral("OK"), this, true);
  close_ = Button(Ui("Закрыть"), this);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok_);
  buttons->addWidget(close_);
  buttons->addStretch(1);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(positionGroup);
  layout->addWidget(colourGroup);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(positions_, &QButtonGroup::idClicked, this, [this](int id) {
    Position = id;
    ShowPicture();
  });
  connect(colourButton_, &QPushButton::clicked, this, &CShadowAdjustDlg::OnChooseColour);
  connect(ok_, &QPushButton::clicked, this, &CShadowAdjustDlg::accept);
  connect(close_, &QPushButton::clicked, this, &CShadowAdjustDlg::reject);
}

QRadioButton* CShadowAdjustDlg::PositionRadio(int position) const {
  return static_cast<QRadioButton*>(positions_->button(position));
}

QPixmap CShadowAdjustDlg::ShadowPicture(int position) {
  if (position < 0 || position > 3) return QPixmap();
  QPixmap pixmap(64, 48);
  pixmap.fill(Qt::white);
  QPainter p(&pixmap);
  const int dx = (position == 1 || position == 3) ? 6 : -6;
  const int dy = (position == 2 || position == 3) ? 6 : -6;
  const QRect frame(16, 12, 32, 24);
  p.fillRect(frame.translated(dx, dy), QColor(128, 128, 128));
  p.fillRect(frame, QColor(255, 255, 255));
  p.setPen(QPen(Qt::black, 2));
  p.drawRect(frame.adjusted(1, 1, -1, -1));
  return pixmap;
}

void CShadowAdjustDlg::ShowPicture() {
  const QPixmap picture = ShadowPicture(Position);
  shownPicture_ = picture.isNull() ? -1 : Position;
  picture_->setPixmap(picture);
}

void CShadowAdjustDlg::InitDialog() {
  LoadControls();
  offsetSpin_->SetRange(0, 10);
  offsetSpin_->SetPos(Offset);
  // A typed offset outside the arrows' range stays as it was given.
  offset_->setText(QString::number(Offset));
  ShowPicture();
}

void CShadowAdjustDlg::LoadControls() {
  offset_->setText(QString::number(Offset));
  positions_->setExclusive(false);
  for (QAbstractButton* b : positions_->buttons()) b->setChecked(false);
  positions_->setExclusive(true);
  if (QAbstractButton* b = positions_->button(Position)) b->setChecked(true);
  swatch_->update();
}

bool CShadowAdjustDlg::StoreControls() {
  int offset = Offset;
  if (!ReadIntEdit(this, offset_, offset)) return false;
  Offset = offset;
  if (positions_->checkedId() >= 0) Position = positions_->checkedId();
  return true;
}

int CShadowAdjustDlg::DoModal() {
  InitDialog();
  return RunModal(*this) == QDialog::Accepted ? 1 : 2;
}

void CShadowAdjustDlg::OnChooseColour() {
  uint32_t colour = Colour;
  bool chosen = false;
  if (ColourDialogHook) {
    chosen = ColourDialogHook(this, colour);
  } else {
    const QColor picked = QColorDialog::getColor(ColorFromValue(Colour), this);
    if (picked.isValid()) {
      colour = ValueFromColor(picked);
      chosen = true;
    }
  }
  if (!chosen) return;
  Colour = colour;
  swatch_->update();
}

void CShadowAdjustDlg::accept() {
  if (!StoreControls()) return;
  QDialog::accept();
}

bool RunShadowAdjust(QWidget* parent, int& offset, int& position, uint32_t& colour) {
  CShadowAdjustDlg dialog(parent);
  dialog.Offset = offset;
  dialog.Position = position;
  dialog.Colour = colour;
  if (dialog.DoModal() != 1) return false;
  offset = dialog.Offset;
  position = dialog.Position;
  colour = dialog.Colour;
  return true;
}

// ---- CPosAdjustDlg -------------------------------------------------------------------------

CPosAdjustDlg::CPosAdjustDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("Подгон положения водяного знака"));
  auto* group = new QGroupBox(Ui("Отступ (задается в пикселях)"), this);
  auto* g = new QGridLayout(group);
  hor_ = new QLineEdit(group);
  vert_ = new QLineEdit(group);
  hor_->setFixedWidth(60);
  vert_->setFixedWidth(60);
  g->addWidget(new QLabel(Ui("От горизонтального края"), group), 0, 0);
  g->addWidget(hor_, 0, 1);
  g->addWidget(new QLabel(Ui("От вертикального края"), group), 1, 0);
  g->addWidget(vert_, 1, 1);

  auto* explanation = WrappedLabel(
      Ui("Отступ отсчитывается от угла знака, ближайшего к выбранному положению. Например, для "
         "левого-верхнего положения отступ будет считаться для левого-верхнего угла знака, а "
         "для правого-нижнего положения отступ будет считаться для правого-нижнего угла "
         "знака."),
      this, 300);

  ok_ = Button(QStringLiteral("OK"), this, true);
  cancel_ = Button(Ui("Отмена"), this);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  buttons->addStretch(1);

  auto* left = new QVBoxLayout;
  left->addWidget(group);
  left->addWidget(explanation);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(ok_, &QPushButton::clicked, this, &CPosAdjustDlg::accept);
  connect(cancel_, &QPushButton::clicked, this, &CPosAdjustDlg::reject);
}

void CPosAdjustDlg::LoadControls() {
  hor_->setText(QString::number(MarginHor));
  vert_->setText(QString::number(MarginVert));
}

bool CPosAdjustDlg::StoreControls() {
  int hor = MarginHor, vert = MarginVert;
  if (!ReadIntEdit(this, hor_, hor) || !ReadIntEdit(this, vert_, vert)) return false;
  MarginHor = hor;
  MarginVert = vert;
  return true;
}

int CPosAdjustDlg::DoModal() {
  LoadControls();
  return RunModal(*this) == QDialog::Accepted ? 1 : 2;
}

void CPosAdjustDlg::accept() {
  if (!StoreControls()) return;
  QDialog::accept();
}

bool RunPosAdjust(QWidget* parent, int& marginHor, int& marginVert) {
  CPosAdjustDlg dialog(parent);
  dialog.MarginHor = marginHor;
  dialog.MarginVert = marginVert;
  if (dialog.DoModal() != 1) return false;
  marginHor = dialog.MarginHor;
  marginVert = dialog.MarginVert;
  return true;
}

// ---- CSystemPropertiesDlg ---------------------------------------------------------------

namespace {
QString ThumbSizeLabel(int size) { return QString::asprintf("%d x %d", size + 100, size + 75); }
}  // namespace

CSystemPropertiesDlg::CSystemPropertiesDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("Общие настройки"));
  auto* group = new QGroupBox(Ui("Эскизы"), this);
  auto* g = new QGridLayout(group);
  quality_ = new QButtonGroup(this);
  const char* texts[] = {"Высокое качество (скорость обработки медленнее)",
                         "Низкое качество (скорость обработки быстрее)",
                         "Без эскизов (наивысшая скорость, для слабых ПК)"};
  for (int i = 0; i < 3; ++i) {
    auto* radio = new QRadioButton(Ui(texts[i]), group);
    quality_->addButton(radio, i);
    g->addWidget(radio, i, 0, 1, 3);
  }
  // The third choice is there but neither shown nor usable.
  quality_->button(2)->setVisible(false);
  quality_->button(2)->setEnabled(false);
  size_ = new QSlider(Qt::Horizontal, group);
  size_->setMinimumWidth(180);
  label_ = new QLineEdit(group);
  label_->setReadOnly(true);
  label_->setFixedWidth(80);
  g->addWidget(new QLabel(Ui("Размеры эскиза"), group), 3, 0);
  g->addWidget(size_, 3, 1);
  g->addWidget(label_, 3, 2);

  defaults_ = Button(Ui("По умолчанию"), this);
  ok_ = Button(QStringLiteral("OK"), this, true);
  cancel_ = Button(Ui("Отмена"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(defaults_);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  size_->setTracking(true);
  connect(size_, &QSlider::valueChanged, this, [this] {
    if (loading_) return;
    StoreControls();
    SizeLabel = ThumbSizeLabel(ThumbsSize);
    LoadControls();
  });
  connect(defaults_, &QPushButton::clicked, this, &CSystemPropertiesDlg::OnDefaults);
  connect(ok_, &QPushButton::clicked, this, [this] {
    StoreControls();
    QDialog::accept();
  });
  connect(cancel_, &QPushButton::clicked, this, &CSystemPropertiesDlg::reject);
}

void CSystemPropertiesDlg::InitDialog() {
  loading_ = true;
  size_->setRange(-50, 50);
  size_->setValue(ThumbsSize);
  loading_ = false;
  SizeLabel = ThumbSizeLabel(ThumbsSize);
  LoadControls();
}

void CSystemPropertiesDlg::LoadControls() {
  loading_ = true;
  quality_->setExclusive(false);
  for (QAbstractButton* b : quality_->buttons()) b->setChecked(false);
  quality_->setExclusive(true);
  if (QAbstractButton* b = quality_->button(ThumbsQuality)) b->setChecked(true);
  size_->setValue(ThumbsSize);
  label_->setText(SizeLabel);
  loading_ = false;
}

void CSystemPropertiesDlg::StoreControls() {
  if (quality_->checkedId() >= 0) ThumbsQuality = quality_->checkedId();
  ThumbsSize = size_->value();
}

void CSystemPropertiesDlg::OnDefaults() {
  ThumbsQuality = 1;
  ThumbsSize = 0;
  SizeLabel = ThumbSizeLabel(0);
  LoadControls();
}

int CSystemPropertiesDlg::DoModal() {
  InitDialog();
  return RunModal(*this) == QDialog::Accepted ? 1 : 2;
}

bool RunSystemProperties(QWidget* parent, int& thumbsQuality, int& thumbsSize) {
  CSystemPropertiesDlg dialog(parent);
  dialog.ThumbsQuality = thumbsQuality;
  dialog.ThumbsSize = thumbsSize;
  if (dialog.DoModal() != 1) return false;
  thumbsQuality = dialog.ThumbsQuality;
  thumbsSize = dialog.ThumbsSize;
  return true;
}
