#include "ui/page_dimensions.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstdio>

#include "imaging/resize.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/page_common.h"

const char* const CPageDimensions::kPixelSizes[] = {
    "100 x 75",  "120 x 90",   "200 x 150",   "160 x 120",   "320 x 240",
    "400 x 300", "640 x 480",  "800 x 600",   "1024 x 768",  "1200 x 900",
    "1280 x 1024", "1600 x 1200", "2048 x 1536", nullptr};
const char* const CPageDimensions::kMillimetreSizes[] = {
    "30 x 40", "50 x 60", "90 x 120", "100 x 150", "130 x 180", "150 x 200", "200 x 300",
    nullptr};

namespace {

const char* const kAspectModes[] = {"автоматически", "не сохранять", "высоту по ширине",
                                    "ширину по высоте"};
const char* const kMethods[] = {"Ближайший цвет (низкое качество)",
                                "Билинейный",
                                "Бикубический (резкий)",
                                "Бикубический (мягкий)",
                                "B-сплайн (размытие)",
                                "Lanzcos (резкий)",
                                "Hermit"};
const char* const kResolutions[] = {"72", "96", "100", "200", "300", "600"};

const char kTipPercent[] = "Изменять размер изображения в процентах от исходного";
const char kTipPixels[] = "Изменять размер изображения до указанного (в пикселях)";
const char kTipMillimetres[] = "Изменять размер изображения до указанного (в сантиметрах)";
const char kTipAspect[] =
    "автоматически: Вписывать изображение в новые размеры, сохраняя пропорции\n"
    "не сохранять: Не сохранять пропорции\n"
    "высоту по ширине: Пропорционально подгонять высоту по заданной ширине\n"
    "ширину по высоте: Пропорционально подгонять ширину по заданной высоте";
const char kTipMethod[] =
    "Выберите метод преобразования рисунка при изменении размеров. Разные методы имеют "
    "различную скорость и качество работы.";
const char kTipSizes[] = "Выбрать один из популярных размеров";

// Pixel and percent spins; the millimetre spins take any size the list and
// the conversion can put into their fields.
constexpr int kPercentMin = 1, kPercentMax = 1000;
constexpr int kWidthMax = 16000, kHeightMax = 12000;
constexpr int kMillimetreMax = 100000;

QLineEdit* SizeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setFixedWidth(64);
  return edit;
}

void FillCombo(QComboBox* combo, const char* const* texts, size_t count, bool translate) {
  for (size_t i = 0; i < count; ++i)
    combo->addItem(translate ? Ui(texts[i]) : QString::fromUtf8(texts[i]));
}

}  // namespace

CPageDimensions::CPageDimensions(QWidget* parent) : CSettingsPage(Ui("Размеры"), parent) {
  initialising_ = true;
  BuildControls();
  LoadControls();

  tip_ = new CInfoTip(this);
  tip_->SetWidthLimit(250);
  for (QWidget* w : {static_cast<QWidget*>(percentRadio_), static_cast<QWidget*>(percentEdit_)})
    tip_->AddTool(w, Ui(kTipPercent));
  for (QWidget* w : {static_cast<QWidget*>(pixelRadio_), static_cast<QWidget*>(widthEdit_),
                     static_cast<QWidget*>(heightEdit_)})
    tip_->AddTool(w, Ui(kTipPixels));
  for (QWidget* w : {static_cast<QWidget*>(millimetreRadio_), static_cast<QWidget*>(widthMmEdit_),
                     static_cast<QWidget*>(heightMmEdit_)})
    tip_->AddTool(w, Ui(kTipMillimetres));
  tip_->AddTool(aspect_, Ui(kTipAspect));
  tip_->AddTool(method_, Ui(kTipMethod));
  tip_->AddTool(pixelSizes_, Ui(kTipSizes));
  tip_->AddTool(millimetreSizes_, Ui(kTipSizes));

  OnModeOrListChanged();  // enabling only: the page is still opening

  CSettings& s = GetSettings();
  percentSpin_->SetRange(kPercentMin, kPercentMax);
  widthSpin_->SetRange(1, kWidthMax);
  heightSpin_->SetRange(1, kHeightMax);
  widthMmSpin_->SetRange(1, kMillimetreMax);
  heightMmSpin_->SetRange(1, kMillimetreMax);
  // The percent and pixel spins bring their stored values into range; the
  // millimetre fields keep theirs.
  percentSpin_->SetPos(s.Percents);
  widthSpin_->SetPos(s.Width);
  heightSpin_->SetPos(s.Height);
  pixelSizes_->setCurrentIndex(0);
  millimetreSizes_->setCurrentIndex(0);

  initialising_ = false;
  ConvertUnits();
}

void CPageDimensions::BuildControls() {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(8);

  modes_ = new QButtonGroup(this);
  percentRadio_ = new QRadioButton(Ui("Процент от исходного:"), this);
  pixelRadio_ = new QRadioButton(Ui("Пиксели:"), this);
  millimetreRadio_ = new QRadioButton(Ui("Миллиметры:"), this);
  percentRadio_->setObjectName(QStringLiteral("modePercent"));
  pixelRadio_->setObjectName(QStringLiteral("modePixels"));
  millimetreRadio_->setObjectName(QStringLiteral("modeMillimetres"));
  modes_->addButton(percentRadio_, 0);
  modes_->addButton(pixelRadio_, 1);
  modes_->addButton(millimetreRadio_, 2);

  percentEdit_ = SizeEdit(this, "percent");
  widthEdit_ = SizeEdit(this, "widthPixels");
  heightEdit_ = SizeEdit(this, "heightPixels");
  widthMmEdit_ = SizeEdit(this, "widthMillimetres");
  heightMmEdit_ = SizeEdit(this, "heightMillimetres");
  for (QLineEdit* edit : {percentEdit_, widthEdit_, heightEdit_}) MakeDigitsOnly(edit);
  percentSpin_ = new CUpDown(percentEdit_, this);
  widthSpin_ = new CUpDown(widthEdit_, this);
  heightSpin_ = new CUpDown(heightEdit_, this);
  widthMmSpin_ = new CUpDown(widthMmEdit_, this);
  heightMmSpin_ = new CUpDown(heightMmEdit_, this);
  percentSpin_->setObjectName(QStringLiteral("percentSpin"));
  widthSpin_->setObjectName(QStringLiteral("widthPixelsSpin"));
  heightSpin_->setObjectName(QStringLiteral("heightPixelsSpin"));
  widthMmSpin_->setObjectName(QStringLiteral("widthMillimetresSpin"));
  heightMmSpin_->setObjectName(QStringLiteral("heightMillimetresSpin"));

  pixelSizes_ = new QComboBox(this);
  millimetreSizes_ = new QComboBox(this);
  pixelSizes_->setObjectName(QStringLiteral("pixelSizes"));
  millimetreSizes_->setObjectName(QStringLiteral("millimetreSizes"));
  for (QComboBox* list : {pixelSizes_, millimetreSizes_}) {
    list->addItem(Ui("Взять..."));
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  }
  for (const char* const* p = kPixelSizes; *p; ++p) pixelSizes_->addItem(QString::fromUtf8(*p));
  for (const char* const* p = kMillimetreSizes; *p; ++p)
    millimetreSizes_->addItem(QString::fromUtf8(*p));

  // An edit with its arrows, and a label before it.
  auto editWithSpin = [](QLineEdit* edit, CUpDown* spin) {
    auto* box = new QHBoxLayout;
    box->setSpacing(0);
    box->addWidget(edit);
    box->addWidget(spin);
    return box;
  };

  grid->addWidget(percentRadio_, 0, 0);
  grid->addLayout(editWithSpin(percentEdit_, percentSpin_), 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("%"), this), 0, 3);

  const struct {
    int row;
    QRadioButton* radio;
    QLineEdit* width;
    CUpDown* widthSpin;
    QLineEdit* height;
    CUpDown* heightSpin;
    QComboBox* list;
  } rows[] = {{1, pixelRadio_, widthEdit_, widthSpin_, heightEdit_, heightSpin_, pixelSizes_},
              {2, millimetreRadio_, widthMmEdit_, widthMmSpin_, heightMmEdit_, heightMmSpin_,
               millimetreSizes_}};
  for (const auto& r : rows) {
    grid->addWidget(r.radio, r.row, 0);
    grid->addWidget(new QLabel(Ui("ширина"), this), r.row, 1, Qt::AlignRight);
    grid->addLayout(editWithSpin(r.width, r.widthSpin), r.row, 2);
    grid->addWidget(new QLabel(Ui("высота"), this), r.row, 3, Qt::AlignRight);
    grid->addLayout(editWithSpin(r.height, r.heightSpin), r.row, 4);
    grid->addWidget(new QLabel(Ui("Стандартные"), this), r.row, 5, Qt::AlignRight);
    grid->addWidget(r.list, r.row, 6);
  }
  grid->setColumnStretch(7, 1);

  aspect_ = new QComboBox(this);
  aspect_->setObjectName(QStringLiteral("aspect"));
  FillCombo(aspect_, kAspectModes, std::size(kAspectModes), true);
  dpi_ = new QComboBox(this);
  dpi_->setObjectName(QStringLiteral("dpi"));
  FillCombo(dpi_, kResolutions, std::size(kResolutions), false);
  method_ = new QComboBox(this);
  method_->setObjectName(QStringLiteral("method"));
  FillCombo(method_, kMethods, std::size(kMethods), true);

  auto* options = new QHBoxLayout;
  options->addWidget(new QLabel(Ui("Пропорции:"), this));
  options->addWidget(aspect_);
  options->addSpacing(18);
  options->addWidget(new QLabel(Ui("Разрешение, пикc/дюйм"), this));
  options->addWidget(dpi_);
  options->addStretch(1);

  auto* methodGroup = new QGroupBox(Ui("Метод преобразования"), this);
  auto* methodBox = new QHBoxLayout(methodGroup);
  methodBox->addWidget(method_);
  methodBox->addStretch(1);

  auto* page = new QVBoxLayout(this);
  page->addLayout(grid);
  page->addSpacing(4);
  page->addLayout(options);
  page->addWidget(methodGroup);
  page->addStretch(1);

  // Mode radios and the two combos that change the enabling.
  connect(modes_, &QButtonGroup::idClicked, this, [this](int) { OnModeOrListChanged(); });
  connect(aspect_, &QComboBox::activated, this, [this](int) { OnModeOrListChanged(); });
  connect(method_, &QComboBox::activated, this, [this](int) { OnModeOrListChanged(); });
  connect(dpi_, &QComboBox::activated, this, [this](int) { ConvertUnits(); });
  connect(pixelSizes_, &QComboBox::activated, this,
          [this](int index) { OnStandardSize(pixelSizes_, false, index); });
  connect(millimetreSizes_, &QComboBox::activated, this,
          [this](int index) { OnStandardSize(millimetreSizes_, true, index); });

  // Typing. textEdited comes from the user only, never from the page's own
  // writes.
  CSettings& s = GetSettings();
  connect(percentEdit_, &QLineEdit::textEdited, this, [this, &s](const QString& text) {
    s.Percents = ReadIntText(text);
    emit stagesChanged();
  });
  connect(percentSpin_, &CUpDown::stepped, this, [this, &s](int value) {
    s.Percents = value;
    emit stagesChanged();
  });
  const struct {
    QLineEdit* edit;
    CUpDown* spin;
    int* field;
  } sizes[] = {{widthEdit_, widthSpin_, &s.Width},
               {heightEdit_, heightSpin_, &s.Height},
               {widthMmEdit_, widthMmSpin_, &s.WidthCm},
               {heightMmEdit_, heightMmSpin_, &s.HeightCm}};
  for (const auto& z : sizes) {
    int* field = z.field;
    connect(z.edit, &QLineEdit::textEdited, this,
            [this, field](const QString& text) { OnSizeTyped(field, ReadDecimalText(text)); });
    connect(z.spin, &CUpDown::stepped, this, [this, field](int value) { OnSizeTyped(field, value); });
  }
}

void CPageDimensions::LoadControls() {
  const CSettings& s = GetSettings();
  if (QAbstractButton* radio = modes_->button(s.SizeModeIndex())) radio->setChecked(true);
  SetEditNumber(percentEdit_, s.Percents);
  SetEditNumber(widthEdit_, s.Width);
  SetEditNumber(heightEdit_, s.Height);
  SetEditNumber(widthMmEdit_, s.WidthCm, ReadDecimalText);
  SetEditNumber(heightMmEdit_, s.HeightCm, ReadDecimalText);
  aspect_->setCurrentIndex(s.AspectModeIndex());
  method_->setCurrentIndex(s.ResamplingModeIndex());
  dpi_->setCurrentIndex(s.DpiIndex());
  ApplyEnabling();
  emit stagesChanged();
}

void CPageDimensions::StoreControls() {
  CSettings& s = GetSettings();
  if (modes_->checkedId() >= 0) s.PercentsOrPixels = modes_->checkedId();
  // A whole-number edit left empty keeps its field; the digits-only edits
  // hold nothing else.
  const struct {
    QLineEdit* edit;
    int* field;
  } whole[] = {{percentEdit_, &s.Percents}, {widthEdit_, &s.Width}, {heightEdit_, &s.Height}};
  for (const auto& w : whole) {
    bool ok = false;
    const int value = w.edit->text().trimmed().toInt(&ok);
    if (ok) *w.field = value;
  }
  s.WidthCm = ReadDecimalText(widthMmEdit_->text());
  s.HeightCm = ReadDecimalText(heightMmEdit_->text());
  if (aspect_->currentIndex() >= 0) s.MaintainAspectRatio = aspect_->currentIndex();
  if (method_->currentIndex() >= 0) s.nResamplingMode = method_->currentIndex();
  s.DPI = std::max(0, dpi_->currentIndex());
  emit stagesChanged();
}

void CPageDimensions::ApplyEnabling() {
  const CSettings& s = GetSettings();
  const int mode = s.SizeModeIndex();
  const bool percent = mode == 0, pixels = mode == 1, millimetres = mode == 2;
  percentEdit_->setEnabled(percent);
  percentSpin_->setEnabled(percent);
  for (QWidget* w : {static_cast<QWidget*>(widthEdit_), static_cast<QWidget*>(heightEdit_),
                     static_cast<QWidget*>(widthSpin_), static_cast<QWidget*>(heightSpin_),
                     static_cast<QWidget*>(pixelSizes_)})
    w->setEnabled(pixels);
  for (QWidget* w : {static_cast<QWidget*>(widthMmEdit_), static_cast<QWidget*>(heightMmEdit_),
                     static_cast<QWidget*>(widthMmSpin_), static_cast<QWidget*>(heightMmSpin_),
                     static_cast<QWidget*>(millimetreSizes_)})
    w->setEnabled(millimetres);
  aspect_->setEnabled(!percent);
  dpi_->setEnabled(millimetres);
  method_->setEnabled(true);

  // Proportions: the side that follows the other takes no input; the
  // arrows keep the state above.
  if (pixels || millimetres) {
    QLineEdit* width = pixels ? widthEdit_ : widthMmEdit_;
    QLineEdit* height = pixels ? heightEdit_ : heightMmEdit_;
    const int aspect = s.AspectModeIndex();
    width->setEnabled(aspect != 3);
    height->setEnabled(aspect != 2);
  }
}

void CPageDimensions::OnModeOrListChanged() {
  StoreControls();
  ApplyEnabling();
  ConvertUnits();
}

void CPageDimensions::ConvertUnits() {
  if (initialising_) return;
  StoreControls();
  CSettings& s = GetSettings();
  if (s.PercentsOrPixels == 1) {
    s.WidthCm = PixelsToMillimetres(s.Width, s.DPI);
    s.HeightCm = PixelsToMillimetres(s.Height, s.DPI);
  } else if (s.PercentsOrPixels == 2) {
    s.Width = MillimetresToPixels(s.WidthCm, s.DPI);
    s.Height = MillimetresToPixels(s.HeightCm, s.DPI);
  }
  LoadControls();
}

void CPageDimensions::OnStandardSize(QComboBox* list, bool millimetres, int index) {
  if (index <= 0) return;  // "Взять..."
  StoreControls();
  int first = 0, second = 0;
  const QByteArray entry = list->itemText(index).toUtf8();
  if (std::sscanf(entry.constData(), "%d x %d", &first, &second) == 2) {
    CSettings& s = GetSettings();
    if (millimetres) {
      // Written short side first; the size taken is the landscape one.
      s.HeightCm = first;
      s.WidthCm = second;
    } else {
      s.Width = first;
      s.Height = second;
    }
  }
  LoadControls();
  list->setCurrentIndex(0);
  OnModeOrListChanged();
}

void CPageDimensions::OnSizeTyped(int* field, int value) {
  *field = value;
  ConvertUnits();
}

void CPageDimensions::keyPressEvent(QKeyEvent* event) {
  if (!HandlePageKey(this, event)) CSettingsPage::keyPressEvent(event);
}
