#include "ui/page_watermarks.h"

#include <QAction>
#include <QBitmap>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/stages.h"
#include "imaging/watermark.h"
#include "services/strings.h"
#include "settings/settings.h"
#include "ui/aux_dialogs.h"
#include "ui/controls.h"
#include "ui/page_common.h"

// ---- font mapping ---------------------------------------------------------------

QFont FontFromLogFont(const LogFont& lf) {
  QFont font(QString::fromUtf8(lf.lfFaceName));
  // Points at 96 pixels per inch, rounded as the font dialog shows them.
  const int pixels = lf.lfHeight == 0 ? 13 : std::abs(lf.lfHeight);
  font.setPointSize(std::max(1, (pixels * 72 + 48) / 96));
  const int weight = lf.lfWeight <= 0 ? 400 : std::clamp(int(lf.lfWeight), 100, 900);
  font.setWeight(QFont::Weight(weight));
  font.setItalic(lf.lfItalic != 0);
  font.setUnderline(lf.lfUnderline != 0);
  font.setStrikeOut(lf.lfStrikeOut != 0);
  return font;
}

void LogFontFromFont(const QFont& font, LogFont& out) {
  if (font.pointSizeF() > 0)
    out.lfHeight = -int(std::lround(font.pointSizeF() * 96.0 / 72.0));
  else if (font.pixelSize() > 0)
    out.lfHeight = -font.pixelSize();
  out.lfWidth = 0;
  out.lfEscapement = 0;
  out.lfOrientation = 0;
  out.lfWeight = font.weight();
  out.lfItalic = font.italic() ? 255 : 0;
  out.lfUnderline = font.underline() ? 1 : 0;
  out.lfStrikeOut = font.strikeOut() ? 1 : 0;
  CSettings::SetFaceName(out, font.family().toStdString());
}

// ---- the page's dialogs ---------------------------------------------------------

namespace {

QPixmap Swatch(const QColor& colour) {
  QPixmap pixmap(28, 14);
  pixmap.fill(colour);
  return pixmap;
}

// The font dialog with the text colour below it.
class FontColourDialog : public QDialog {
 public:
  FontColourDialog(QWidget* parent, const QFont& font, const QColor& colour)
      : QDialog(parent), colour_(colour) {
    setWindowTitle(Ui("Шрифт"));
    fonts_ = new QFontDialog(font, this);
    fonts_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    fonts_->setWindowFlags(Qt::Widget);
    // Escape inside the font part cancels the whole dialog.
    connect(fonts_, &QDialog::rejected, this, &QDialog::reject);

    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(new QLabel(Ui("Цвет:"), this));
    colourButton_ = new QPushButton(this);
    colourButton_->setIcon(Swatch(colour_));
    colourButton_->setIconSize(QSize(28, 14));
    colourRow->addWidget(colourButton_);
    colourRow->addStretch(1);
    connect(colourButton_, &QPushButton::clicked, this, [this] {
      const QColor chosen = QColorDialog::getColor(colour_, this, Ui("Цвет"));
      if (chosen.isValid()) {
        colour_ = chosen;
        colourButton_->setIcon(Swatch(colour_));
      }
    });

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(Ui("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fonts_);
    layout->addLayout(colourRow);
    layout->addWidget(buttons);
  }
  QFont ChosenFont() const { return fonts_->currentFont(); }
  QColor ChosenColour() const { return colour_; }

 private:
  QFontDialog* fonts_;
  QPushButton* colourButton_;
  QColor colour_;
};

}  // namespace

WatermarkDialogs MakeWatermarkSystemDialogs() {
  WatermarkDialogs d;
  d.openPicture = [](QWidget* parent, QString& path) {
    const QString start = path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
    const QString chosen = QFileDialog::getOpenFileName(
        parent, QString(), start, FileDialogFilter(ResString(IDS_OPEN_FILTER)));
    if (chosen.isEmpty()) return false;
    path = chosen;
    return true;
  };
  d.chooseColour = [](QWidget* parent, uint32_t& colour) {
    const QColor chosen = QColorDialog::getColor(ColorFromValue(colour), parent);
    if (!chosen.isValid()) return false;
    colour = ValueFromColor(chosen);
    return true;
  };
  d.chooseFont = [](QWidget* parent, LogFont& font, uint32_t& colour) {
    // The dialog lists installed families only: it starts at the face the
    // name resolves to ("Arial" is drawn with a metric-compatible face).
    QFont start = FontFromLogFont(font);
    const QFontInfo resolved(start);
    start.setFamily(resolved.family());
    FontColourDialog dialog(parent, start, ColorFromValue(colour));
    const QFont shown = dialog.ChosenFont();
    if (dialog.exec() != QDialog::Accepted) return false;
    // A font left as the dialog showed it keeps the stored record (its
    // face name included); only the colour may have changed.
    if (!(dialog.ChosenFont() == shown)) LogFontFromFont(dialog.ChosenFont(), font);
    colour = ValueFromColor(dialog.ChosenColour());
    return true;
  };
  d.popupMenu = [](QMenu& menu, const QPoint& at) { return menu.exec(at); };
  d.adjustMargins = &RunPosAdjust;
  d.adjustShadow = &RunShadowAdjust;
  return d;
}

namespace {

const char* const kTagTypes[] = {"Автор", "Название", "Описание", "CopyRight", "Дата съемки"};
const char* const kDateTypes[] = {"Только дату", "Только время", "Дату и время",
                                  "Время и дату"};

const char kTipOn[] =
    "Включить возможность впечатывания информации (текста или рисунка) в каждый из "
    "преобразуемых файлов";
const char kTipTag[] =
    "Впечатывать на изображение значения из тега метаданных (если они присутствуют в файле). "
    "\nВНИМАНИЕ! Если на вкладке `Метаданные` выбран режим `Изменять/добавлять`, то значения "
    "будут взяты из этой вкладки!";
const char kTipTime[] =
    "Впечатывать на изображение дату и/или время создания файла. Эта дата/время не "
    "обязательно совпадает со временем съемки.";
const char kTipPicture[] =
    "Впечатывать на изображение выбранную картинку. Если фон картинки прозрачный (бывает у "
    "файлов PNG и GIF), он останется прозрачным.";
const char kTipTransparentColour[] =
    "Выберите цвет, который станет прозрачным при впечатывании картинки (например, если "
    "картинка на белом фоне - выберите белый цвет, и впечатается только картинка без фона)";
const char kTipText[] = "Впечатывать на изображение текст, введенный пользователем";
const char kTipPosition[] = "Выберите положение водяного знака на изображении";
const char kTipFont[] = "Выберите шрифт для текста водяного знака";
const char kTipTransparency[] =
    "Выберите степень прозрачности водяного знака. При 0% его вообще не будет видно, а при "
    "100% он будет абсолютно непрозрачен.";
const char kTipMargins[] = "Подгон положения водяного знака (задание отступов)";
const char kTipShadow[] = "Настройки тени";

// The preview control's size.
constexpr int kPreviewWidth = 200, kPreviewHeight = 64;

}  // namespace

WatermarkDialogs& GetWatermarkDialogs() {
  static WatermarkDialogs dialogs = MakeWatermarkSystemDialogs();
  return dialogs;
}

// ---- the page --------------------------------------------------------------------

CPageWatermarks::CPageWatermarks(QWidget* parent) : CSettingsPage(Ui("Водяные знаки"), parent) {
  BuildControls();
  // The preview image exists before the first preview is drawn.
  preview_.Create(kPreviewWidth, kPreviewHeight, 24);
  previewView_->SetImage(&preview_);

  tip_ = new CInfoTip(this);
  tip_->SetWidthLimit(300);
  tip_->AddTool(on_, Ui(kTipOn));
  const char* const modeTips[] = {kTipTag, kTipTime, kTipPicture, kTipText};
  for (int i = 0; i < 4; ++i) tip_->AddTool(modes_->button(i), Ui(modeTips[i]));
  tip_->AddTool(transparentColour_, Ui(kTipTransparentColour));
  tip_->AddTool(position_, Ui(kTipPosition));
  tip_->AddTool(margins_, Ui(kTipMargins));
  tip_->AddTool(font_, Ui(kTipFont));
  tip_->AddTool(shadow_, Ui(kTipShadow));
  tip_->AddTool(transparency_, Ui(kTipTransparency));

  transparencySpin_->SetRange(0, 100);
  transparencySpin_->SetPos(GetSettings().Transparency);
  LoadControls();
  // LoadControls ran the "Включить водяные знаки" rule and drew the preview.
}

void CPageWatermarks::BuildControls() {
  auto* group = new QGroupBox(this);
  on_ = new QCheckBox(Ui("Включить водяные знаки"), group);
  on_->setObjectName(QStringLiteral("watermarksOn"));
  QFont bold = on_->font();
  bold.setBold(true);
  on_->setFont(bold);

  modes_ = new QButtonGroup(this);
  const char* const modeTexts[] = {"Использовать тэг (если есть)",
                                   "Использовать время создания файла",
                                   "Использовать картинку", "Использовать текст"};
  const char* const modeNames[] = {"modeTag", "modeTime", "modePicture", "modeText"};
  QRadioButton* radios[4];
  for (int i = 0; i < 4; ++i) {
    radios[i] = new QRadioButton(Ui(modeTexts[i]), group);
    radios[i]->setObjectName(QLatin1String(modeNames[i]));
    modes_->addButton(radios[i], i);
  }

  tagType_ = new QComboBox(group);
  tagType_->setObjectName(QStringLiteral("tagType"));
  for (const char* text : kTagTypes) tagType_->addItem(Ui(text));
  dateType_ = new QComboBox(group);
  dateType_->setObjectName(QStringLiteral("dateTimeType"));
  for (const char* text : kDateTypes) dateType_->addItem(Ui(text));

  imagePath_ = new QLineEdit(group);
  imagePath_->setObjectName(QStringLiteral("imagePath"));
  browse_ = new QPushButton(QStringLiteral("..."), group);
  browse_->setObjectName(QStringLiteral("browsePicture"));
  transparentColour_ = new QToolButton(group);
  transparentColour_->setObjectName(QStringLiteral("transparentColour"));
  transparentColour_->setIcon(QIcon(QStringLiteral(":/pages/transparent_colour.png")));
  transparentColour_->setIconSize(QSize(16, 16));
  transparentColour_->setAccessibleName(Ui("Прозрачный цвет"));

  text_ = new QLineEdit(group);
  text_->setObjectName(QStringLiteral("text"));

  position_ = new QComboBox(group);
  position_->setObjectName(QStringLiteral("position"));
  {
    // Four 24-pixel pictures side by side; RGB(1,1,1) is their mask colour.
    QPixmap strip(QStringLiteral(":/pages/positions.png"));
    if (!strip.isNull())
      strip.setMask(strip.createMaskFromColor(QColor(1, 1, 1), Qt::MaskInColor));
    const int height = strip.isNull() ? 16 : strip.height();
    position_->setIconSize(QSize(24, height));
    for (int i = 0; i < 4; ++i)
      position_->addItem(strip.isNull() ? QIcon() : QIcon(strip.copy(i * 24, 0, 24, height)),
                         QString());
  }
  margins_ = new QPushButton(QStringLiteral("..."), group);
  margins_->setObjectName(QStringLiteral("margins"));
  font_ = new QPushButton(Ui("Шрифт..."), group);
  font_->setObjectName(QStringLiteral("font"));
  emboss_ = new QCheckBox(Ui("С тенью"), group);
  emboss_->setObjectName(QStringLiteral("emboss"));
  shadow_ = new QPushButton(QStringLiteral("..."), group);
  shadow_->setObjectName(QStringLiteral("shadow"));
  for (QPushButton* dots : {browse_, margins_, shadow_}) dots->setFixedWidth(30);

  transparency_ = new QLineEdit(group);
  transparency_->setObjectName(QStringLiteral("transparency"));
  transparency_->setFixedWidth(44);
  MakeDigitsOnly(transparency_);
  transparencySpin_ = new CUpDown(transparency_, group);
  transparencySpin_->setObjectName(QStringLiteral("transparencySpin"));

  previewLabel_ = new QLabel(Ui("Тест"), group);
  previewView_ = new CImageView(group);
  previewView_->setObjectName(QStringLiteral("preview"));
  previewView_->setFixedSize(kPreviewWidth, kPreviewHeight);
  // Hiding the preview (picture mode) leaves the layout as it is.
  for (QWidget* w : {static_cast<QWidget*>(previewLabel_), static_cast<QWidget*>(previewView_)}) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }

  // Layout: the four sources with their controls on the left, the preview
  // on the right, the look of the mark below.
  auto* sources = new QGridLayout;
  sources->setHorizontalSpacing(6);
  sources->addWidget(radios[0], 0, 0);
  sources->addWidget(tagType_, 0, 1, 1, 3);
  sources->addWidget(radios[1], 1, 0);
  sources->addWidget(dateType_, 1, 1, 1, 3);
  sources->addWidget(radios[2], 2, 0);
  auto* pathRow = new QHBoxLayout;
  pathRow->setSpacing(2);
  pathRow->addWidget(imagePath_, 1);
  pathRow->addWidget(browse_);
  pathRow->addWidget(transparentColour_);
  sources->addLayout(pathRow, 2, 1, 1, 3);
  sources->addWidget(radios[3], 3, 0);
  auto* textRow = new QHBoxLayout;
  textRow->addWidget(new QLabel(Ui("Текст:"), group));
  textRow->addWidget(text_, 1);
  sources->addLayout(textRow, 3, 1, 1, 3);
  sources->setColumnStretch(1, 1);

  auto* look = new QHBoxLayout;
  look->addWidget(new QLabel(Ui("Положение"), group));
  look->addWidget(position_);
  look->addWidget(margins_);
  look->addSpacing(12);
  look->addWidget(font_);
  look->addSpacing(12);
  look->addWidget(emboss_);
  look->addWidget(shadow_);
  look->addStretch(1);

  auto* opacity = new QHBoxLayout;
  opacity->setSpacing(0);
  opacity->addWidget(new QLabel(Ui("Прозрачность"), group));
  opacity->addSpacing(6);
  opacity->addWidget(transparency_);
  opacity->addWidget(transparencySpin_);
  opacity->addSpacing(6);
  opacity->addWidget(new QLabel(Ui("% (0-прозрачно, 100-нет)"), group));
  opacity->addStretch(1);

  auto* previewColumn = new QVBoxLayout;
  previewColumn->addWidget(previewLabel_);
  previewColumn->addWidget(previewView_);
  previewColumn->addStretch(1);

  auto* lower = new QHBoxLayout;
  auto* lowerLeft = new QVBoxLayout;
  lowerLeft->addLayout(look);
  lowerLeft->addLayout(opacity);
  lowerLeft->addStretch(1);
  lower->addLayout(lowerLeft, 1);
  lower->addLayout(previewColumn);

  auto* inside = new QVBoxLayout(group);
  inside->addWidget(on_);
  inside->addLayout(sources);
  inside->addLayout(lower);

  auto* page = new QVBoxLayout(this);
  page->addWidget(group);
  page->addStretch(1);

  // Behaviour.
  connect(on_, &QCheckBox::clicked, this, [this] {
    StoreControls();
    ApplyOnRule();
  });
  connect(modes_, &QButtonGroup::idClicked, this, [this](int) {
    StoreControls();
    ApplyModeRule();
  });
  for (QComboBox* combo : {tagType_, dateType_, position_})
    connect(combo, &QComboBox::activated, this, [this](int) { StoreControls(); });
  connect(emboss_, &QCheckBox::clicked, this, [this] { StoreControls(); });
  connect(browse_, &QPushButton::clicked, this, &CPageWatermarks::OnBrowsePicture);
  connect(transparentColour_, &QToolButton::clicked, this, &CPageWatermarks::OnTransparentColour);
  connect(font_, &QPushButton::clicked, this, &CPageWatermarks::OnFont);
  connect(margins_, &QPushButton::clicked, this, &CPageWatermarks::OnMargins);
  connect(shadow_, &QPushButton::clicked, this, &CPageWatermarks::OnShadow);

  CSettings& s = GetSettings();
  connect(text_, &QLineEdit::textEdited, this, [this, &s](const QString& text) {
    s.Text = text.toStdString();
    emit stagesChanged();
  });
  connect(imagePath_, &QLineEdit::textEdited, this, [this, &s](const QString& text) {
    s.ImagePath = text.toStdString();
    emit stagesChanged();
  });
  connect(transparency_, &QLineEdit::textEdited, this,
          [this](const QString& text) { OnTransparencyTyped(ReadIntText(text)); });
  connect(transparencySpin_, &CUpDown::stepped, this, &CPageWatermarks::OnTransparencyTyped);
}

void CPageWatermarks::LoadControls() {
  const CSettings& s = GetSettings();
  on_->setChecked(s.WatermarksOn != 0);
  if (QAbstractButton* radio = modes_->button(s.WatermarkModeIndex())) radio->setChecked(true);
  tagType_->setCurrentIndex(s.TagTypeIndex());
  dateType_->setCurrentIndex(s.DateTimeTypeIndex());
  imagePath_->setText(QString::fromStdString(s.ImagePath));
  text_->setText(QString::fromStdString(s.Text));
  position_->setCurrentIndex(s.WatermarkPosIndex());
  emboss_->setChecked(s.Emboss != 0);
  SetEditNumber(transparency_, s.Transparency);
  ApplyOnRule();
  emit stagesChanged();
}

void CPageWatermarks::StoreControls() {
  CSettings& s = GetSettings();
  s.WatermarksOn = on_->isChecked() ? 1 : 0;
  if (modes_->checkedId() >= 0) s.Mode = modes_->checkedId();
  if (tagType_->currentIndex() >= 0) s.TagType = tagType_->currentIndex();
  if (dateType_->currentIndex() >= 0) s.DateTimeType = dateType_->currentIndex();
  s.ImagePath = imagePath_->text().toStdString();
  s.Text = text_->text().toStdString();
  if (position_->currentIndex() >= 0) s.WatermarksPos = position_->currentIndex();
  s.Emboss = emboss_->isChecked() ? 1 : 0;
  bool ok = false;
  const int transparency = transparency_->text().trimmed().toInt(&ok);
  if (ok) s.Transparency = transparency;  // an empty edit keeps the value
  emit stagesChanged();
  RedrawPreview();
}

void CPageWatermarks::ApplyOnRule() {
  const bool on = GetSettings().WatermarksOn != 0;
  if (!on) {
    for (QAbstractButton* radio : modes_->buttons()) radio->setEnabled(false);
    for (QWidget* w :
         std::initializer_list<QWidget*>{tagType_, dateType_, imagePath_, browse_, text_, emboss_,
                                         font_, position_, transparency_, transparentColour_,
                                         margins_, shadow_})
      w->setEnabled(false);
    RedrawPreview();
    return;
  }
  for (QAbstractButton* radio : modes_->buttons()) radio->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{position_, margins_, transparency_})
    w->setEnabled(true);
  ApplyModeRule();
}

void CPageWatermarks::ApplyModeRule() {
  const int mode = GetSettings().Mode;
  tagType_->setEnabled(mode == 0);
  dateType_->setEnabled(mode == 1);
  imagePath_->setEnabled(mode == 2);
  browse_->setEnabled(mode == 2);
  text_->setEnabled(mode == 3);
  emboss_->setEnabled(mode != 2);
  font_->setEnabled(mode != 2);
  shadow_->setEnabled(mode != 2);
  transparentColour_->setEnabled(mode == 2);
  // The preview shows a text; a picture is not previewed.
  previewLabel_->setVisible(mode != 2);
  previewView_->setVisible(mode != 2);
  RedrawPreview();
}

void CPageWatermarks::RedrawPreview() {
  if (!previewView_ || !preview_.IsValid()) return;
  // A font that cannot be used leaves the previous picture.
  DrawWatermarkPreview(preview_, WatermarkOptionsFrom(GetSettings()));
  previewView_->update();
}

void CPageWatermarks::OnBrowsePicture() {
  WatermarkDialogs& dialogs = GetWatermarkDialogs();
  CSettings& s = GetSettings();
  QString path = QString::fromStdString(s.ImagePath);
  if (dialogs.openPicture && dialogs.openPicture(this, path)) {
    s.ImagePath = path.toStdString();
    LoadControls();
  }
  RedrawPreview();
}

void CPageWatermarks::OnTransparentColour() {
  CSettings& s = GetSettings();
  QMenu menu(this);
  QAction* none = menu.addAction(Ui("&Не использовать прозрачный цвет"));
  QAction* use = menu.addAction(Ui("&Использовать прозрачный цвет..."));
  none->setCheckable(true);
  use->setCheckable(true);
  none->setChecked(s.UseTransparentColor == 0);
  use->setChecked(s.UseTransparentColor == 1);
  const QPoint at =
      transparentColour_->mapToGlobal(QPoint(0, transparentColour_->height() - 1));
  WatermarkDialogs& dialogs = GetWatermarkDialogs();
  QAction* chosen = dialogs.popupMenu ? dialogs.popupMenu(menu, at) : nullptr;
  if (chosen == none) {
    s.UseTransparentColor = 0;
    emit stagesChanged();
  } else if (chosen == use) {
    uint32_t colour = s.TransparentColor;
    if (dialogs.chooseColour && dialogs.chooseColour(this, colour)) {
      s.TransparentColor = colour;
      s.UseTransparentColor = 1;
      emit stagesChanged();
    }
  }
  RedrawPreview();
}

void CPageWatermarks::OnFont() {
  CSettings& s = GetSettings();
  WatermarkDialogs& dialogs = GetWatermarkDialogs();
  LogFont font = s.Font;
  uint32_t colour = s.FontColor;
  if (dialogs.chooseFont && dialogs.chooseFont(this, font, colour)) {
    s.Font = font;
    s.FontColor = colour;
    emit stagesChanged();
  }
  RedrawPreview();
}

void CPageWatermarks::OnMargins() {
  CSettings& s = GetSettings();
  WatermarkDialogs& dialogs = GetWatermarkDialogs();
  int hor = s.PosMarginHor, vert = s.PosMarginVert;
  if (dialogs.adjustMargins && dialogs.adjustMargins(this, hor, vert)) {
    s.PosMarginHor = hor;
    s.PosMarginVert = vert;
    emit stagesChanged();
  }
  RedrawPreview();
}

void CPageWatermarks::OnShadow() {
  CSettings& s = GetSettings();
  WatermarkDialogs& dialogs = GetWatermarkDialogs();
  int offset = s.WatermarksShadowOffset, position = s.WatermarksShadowPos;
  uint32_t colour = s.WatermarksShadowColor;
  if (dialogs.adjustShadow && dialogs.adjustShadow(this, offset, position, colour)) {
    s.WatermarksShadowOffset = offset;
    s.WatermarksShadowPos = position;
    s.WatermarksShadowColor = colour;
    emit stagesChanged();
  }
  RedrawPreview();
}

void CPageWatermarks::OnTransparencyTyped(int value) {
  GetSettings().Transparency = value;
  emit stagesChanged();
  RedrawPreview();
}

void CPageWatermarks::keyPressEvent(QKeyEvent* event) {
  if (!HandlePageKey(this, event)) CSettingsPage::keyPressEvent(event);
}
