#include "ui/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QSplitter>
#include <QThreadPool>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

#include "engine/events.h"
#include "engine/job_start.h"
#include "imaging/fit_image.h"
#include "imaging/codecs/raw.h"
#include "output/output_names.h"
#include "services/strings.h"
#include "settings/settings.h"
#include "ui/about_dlg.h"
#include "ui/file_list.h"
#include "ui/progress_dlg.h"
#include "ui/settings_page.h"
#include "ui/shell_tree.h"

DesktopServices& GetDesktopServices() {
  static DesktopServices services;
  return services;
}

std::function<bool(const QUrl&)> CLumaro3Dlg::OpenUrlHook;

std::array<bool, 5> StageStates(const CSettings& s, const CFilterList* filters) {
  std::array<bool, 5> states{};
  states[0] = s.PercentsOrPixels != 0 || s.Percents != 100;
  states[1] = !(s.FlipMode == 2 && s.RotationMode == 3);
  states[2] = s.KeepExisting != 0 || s.UseUserComment != 0;
  states[3] = s.WatermarksOn != 0;
  states[4] = false;
  if (filters)
    for (const auto& entry : *filters)
      if (entry && entry->Enabled) states[4] = true;
  return states;
}

QString QtFileFilter(const QString& tableFilter) {
  const QStringList parts = tableFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString& name = parts[i];
    const QString& patterns = parts[i + 1];
    if (name.isEmpty()) break;  // the closing "||"
    // Qt takes the patterns from the last parentheses of the text; a text
    // that shows its patterns already is used as it is.
    if (name.contains(QLatin1Char('(')))
      filters << name;
    else
      filters << name + QStringLiteral(" (") + QString(patterns).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                     QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

namespace {

// The simple general settings dialog, used until the full one is installed
// as a service.
bool SimpleGeneralSettings(QWidget* parent, int& quality, int& size) {
  QDialog dialog(parent);
  dialog.setWindowTitle(Ui("Общие настройки"));
  auto* group = new QGroupBox(Ui("Качество эскизов"), &dialog);
  auto* high = new QRadioButton(Ui("Высокое качество (скорость обработки медленнее)"), group);
  auto* low = new QRadioButton(Ui("Низкое качество (скорость обработки быстрее)"), group);
  (quality == 0 ? high : low)->setChecked(true);
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(high);
  groupLayout->addWidget(low);
  auto* sizeLabel = new QLabel(Ui("Размеры эскиза"), &dialog);
  auto* slider = new QSlider(Qt::Horizontal, &dialog);
  slider->setRange(-50, 50);
  slider->setValue(std::clamp(size, -50, 50));
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(10);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Cancel)->setText(Ui("Отмена"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(group);
  layout->addWidget(sizeLabel);
  layout->addWidget(slider);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;
  quality = high->isChecked() ? 0 : 1;
  size = slider->value();
  return true;
}

QPushButton* MakeButton(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setAutoDefault(false);
  return button;
}

QString Qs(const std::string& s) { return QString::fromStdString(s); }

// The layout of the window's right side inside its scroll area: the side
// takes the height it is given (or its minimum), never a height computed
// from its width, which the scroll area would take from the preferred
// heights of everything in it (wrapped labels make it ask).
class CScrolledLayout : public QVBoxLayout {
 public:
  using QVBoxLayout::QVBoxLayout;
  bool hasHeightForWidth() const override { return false; }
};

// A stage indicator: shows a state derived from the settings and cannot be
// toggled by the user.
class CStageIndicator : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  bool hitButton(const QPoint&) const override { return false; }
};

}  // namespace

// ---- construction ---------------------------------------------------------------------

CLumaro3Dlg::CLumaro3Dlg(CFilterList* filters, QWidget* parent)
    : CPageHostDlg(parent), filters_(filters) {
  CSettings& s = GetSettings();
  caption_ = ResString(IDS_APP_NAME);
  setWindowTitle(caption_);
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);

  // Thumbnail box and the format list.
  s.ThumbWidth = s.ThumbsSizeStep() + 100;
  s.ThumbHeight = s.ThumbsSizeStep() + 75;
  if (s.OutputFormat == -1) s.OutputFormat = 0;

  progress_ = new CProgressDlg;
  host_ = new CDesktopHost(this, progress_);
  connect(host_, &CDesktopHost::conversionDone, this, &CLumaro3Dlg::OnConversionDone);
  connect(host_, &CDesktopHost::messageShown, this, &CLumaro3Dlg::ApplyListRules);

  BuildMenu();
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setChildrenCollapsible(false);
  splitter->addWidget(BuildLeftPane());

  // The right side fits a 1024 x 768 screen; on a smaller one (or with
  // larger fonts) it scrolls rather than cutting controls off.
  auto* right = new QWidget;
  auto* rightLayout = new CScrolledLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->addWidget(BuildListArea(), 3);
  rightLayout->addWidget(BuildStageGroup(), 0);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(BuildOptionsGroup(), 1);
  bottom->addWidget(BuildOutputGroup(), 1);
  rightLayout->addLayout(bottom);
  auto* scroll = new QScrollArea(splitter);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(right);
  splitter->addWidget(scroll);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menuBar_);
  layout->addWidget(splitter, 1);

  connect(help_, &QPushButton::clicked, this, &CLumaro3Dlg::OnHelp);
  connect(convert_, &QPushButton::clicked, this, &CLumaro3Dlg::Convert);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);

  // The pages, in page order, placed at the page frame.
  pages_ = CreateSettingsPages(Placeholder(), filters_);
  for (int id : kPageTemplates) AddPage(id);
  for (CSettingsPage* page : pages_)
    connect(page, &CSettingsPage::stagesChanged, this, &CLumaro3Dlg::RefreshStageIndicators,
            Qt::QueuedConnection);

  AddTooltips();
  list_->SetThumbnailOptions(QSize(s.ThumbWidth, s.ThumbHeight), s.ThumbsQualityIndex());
  LoadControls();
  ShowStagePage(s.LastTabPageIndex());

  // The folder of the last adding is the working folder.
  if (!s.LastOpenFolder.empty()) QDir::setCurrent(Qs(s.LastOpenFolder));

  ApplySettingsRules();
  ApplyListRules();
  RefreshStageIndicators();

  tree_->FillRoot();
  tree_->ExpandToPath(Qs(s.LastOpenFolder));

  // A comfortable size, within the screen's free area (the frame and title
  // need a little of it).
  QSize size(1240, 860);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() * 0.95);
  resize(size);
  splitter_ = splitter;
  scrolledPart_ = right;
}

CLumaro3Dlg::~CLumaro3Dlg() {
  delete tips_;
  FinishWorker(true);
  progress_->DestroyWindow();
  delete progress_;
}

QWidget* CLumaro3Dlg::CreatePage(int templateId) {
  for (size_t i = 0; i < kPageTemplates.size(); ++i)
    if (kPageTemplates[i] == templateId && i < pages_.size()) return pages_[i];
  return nullptr;
}

void CLumaro3Dlg::BuildMenu() {
  menuBar_ = new QMenuBar(this);
  QMenu* settings = menuBar_->addMenu(Ui("&Настройки"));
  generalAction_ = settings->addAction(Ui("&Общие настройки..."), this,
                                       &CLumaro3Dlg::OnGeneralSettings);
  settings->addSeparator();
  settings->addAction(Ui("&Сохранить..."), this, &CLumaro3Dlg::OnSaveSettings);
  settings->addAction(Ui("&Загрузить..."), this, &CLumaro3Dlg::OnLoadSettings);
  settings->addSeparator();
  updateAction_ = settings->addAction(Ui("&Проверить обновление..."), this, [this] {
    if (GetDesktopServices().updateCheck) GetDesktopServices().updateCheck(this);
  });
  settings->addSeparator();
  settings->addAction(Ui("Выход\tAlt+F4"), this, &QWidget::close);
  connect(settings, &QMenu::aboutToShow, this, [this] {
    updateAction_->setEnabled(bool(GetDesktopServices().updateCheck));
  });

  QMenu* tools = menuBar_->addMenu(Ui("&Инструменты"));
  splitAction_ = tools->addAction(Ui("&Разобрать многокадровый GIF/TIFF/ICO"), this, [this] {
    if (GetDesktopServices().splitTool) GetDesktopServices().splitTool(this);
  });
  connect(tools, &QMenu::aboutToShow, this,
          [this] { splitAction_->setEnabled(bool(GetDesktopServices().splitTool)); });

  languageMenu_ = menuBar_->addMenu(Ui("&Язык"));
  russian_ = languageMenu_->addAction(Ui("&Русский"), this, [this] { SetLanguage(0); });
  english_ = languageMenu_->addAction(Ui("&Английский"), this, [this] { SetLanguage(1); });
  russian_->setCheckable(true);
  english_->setCheckable(true);
  connect(languageMenu_, &QMenu::aboutToShow, this, [this] {
    const int language = GetSettings().Language;
    russian_->setChecked(language == 0);
    english_->setChecked(language == 1);
  });
  // The language menu is greyed on the bar, as it has always been: the
  // language is chosen in the settings file. The menu itself is disabled:
  // a disabled menu action alone comes back whenever the window is enabled
  // again (after every job).
  languageMenu_->setEnabled(false);
  languageMenu_->menuAction()->setEnabled(false);

  // "О программе" at the right edge of the bar.
  auto* corner = new QMenuBar(menuBar_);
  corner->addAction(Ui("&О программе"), this, &CLumaro3Dlg::OnAbout);
  menuBar_->setCornerWidget(corner, Qt::TopRightCorner);
}

QWidget* CLumaro3Dlg::BuildLeftPane() {
  auto* pane = new QWidget(this);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  tree_ = new CShellTreeCtrl(pane, kTreeIncludeFiles);
  tree_->setMinimumWidth(200);
  preview_ = new CImageView(pane);
  preview_->setFixedHeight(170);
  preview_->SetImage(nullptr);
  layout->addWidget(tree_, 1);
  layout->addWidget(preview_, 0);

  // The window's buttons, under the preview: the left side has the height
  // to spare that the right side has not.
  help_ = MakeButton(Ui("&Справка"), pane);
  convert_ = new QPushButton(Ui("Конвертировать"), pane);
  convert_->setDefault(true);
  close_ = MakeButton(Ui("Закрыть"), pane);
  auto* buttons = new QGridLayout;
  buttons->addWidget(convert_, 0, 0, 1, 2);
  buttons->addWidget(help_, 1, 0);
  buttons->addWidget(close_, 1, 1);
  layout->addLayout(buttons);
  connect(tree_, &CShellTreeCtrl::selectionChangedCount, this,
          &CLumaro3Dlg::OnTreeSelectionChanged);
  connect(tree_, &CShellTreeCtrl::itemsDropped, this, &CLumaro3Dlg::OnTreeItemsDropped);
  pane->resize(280, pane->height());
  return pane;
}

QWidget* CLumaro3Dlg::BuildListArea() {
  auto* area = new QWidget(this);
  auto* layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);

  // The caption on a line of its own, the commands and the view below it.
  layout->addWidget(new QLabel(Ui("1. Список файлов на конвертацию:"), area));
  auto* header = new QHBoxLayout;
  add_ = MakeButton(Ui("Добавить..."), area);
  remove_ = MakeButton(Ui("Удалить"), area);
  removeAll_ = MakeButton(Ui("Удалить все"), area);
  header->addWidget(add_);
  header->addWidget(remove_);
  header->addWidget(removeAll_);
  header->addStretch(1);
  header->addWidget(new QLabel(Ui("Вид списка:"), area));
  viewGroup_ = new QButtonGroup(area);
  const char* const kViews[3] = {"Список", "Таблица", "Эскизы"};
  for (int i = 0; i < 3; ++i) {
    viewButtons_[size_t(i)] = new QRadioButton(Ui(kViews[i]), area);
    viewGroup_->addButton(viewButtons_[size_t(i)], i);
    header->addWidget(viewButtons_[size_t(i)]);
  }
  layout->addLayout(header);

  auto* body = new QHBoxLayout;
  addFromTree_ = MakeButton(QStringLiteral(">>"), area);
  addFromTree_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  addFromTree_->setFixedWidth(addFromTree_->fontMetrics().horizontalAdvance(QStringLiteral(">>")) + 16);
  list_ = new CFileList(area);
  body->addWidget(addFromTree_);
  body->addWidget(list_, 1);
  layout->addLayout(body, 1);

  connect(add_, &QPushButton::clicked, this, &CLumaro3Dlg::OnAddFiles);
  connect(remove_, &QPushButton::clicked, this, &CLumaro3Dlg::RemoveSelected);
  connect(removeAll_, &QPushButton::clicked, this, &CLumaro3Dlg::RemoveAll);
  connect(addFromTree_, &QPushButton::clicked, this, &CLumaro3Dlg::AddTreeSelection);
  connect(viewGroup_, &QButtonGroup::idClicked, this, &CLumaro3Dlg::SetViewMode);
  connect(list_, &CFileList::countChanged, this, &CLumaro3Dlg::ApplyListRules);
  connect(list_, &CFileList::selectionChanged, this, &CLumaro3Dlg::ApplyListRules);
  connect(list_, &CFileList::rowActivated, this, &CLumaro3Dlg::OpenRow);
  connect(list_, &CFileList::deleteRequested, this, &CLumaro3Dlg::RemoveSelected);
  connect(list_, &CFileList::pathsDropped, this, &CLumaro3Dlg::AddDroppedPaths);
  connect(list_, &CFileList::probing, this, &CLumaro3Dlg::OnProbing);
  return area;
}

QWidget* CLumaro3Dlg::BuildStageGroup() {
  auto* group = new QGroupBox(
      Ui("2. Настройки конвертации (размеры, повороты...), активные отмечены галочками слева"),
      this);
  auto* layout = new QVBoxLayout(group);
  auto* row = new QHBoxLayout;
  stageGroup_ = new QButtonGroup(group);
  stageGroup_->setExclusive(true);
  const char* const kStages[5] = {"Размеры", "Поворот/отражение", "Метаданные", "Водяные знаки",
                                  "Фильтры"};
  for (int i = 0; i < 5; ++i) {
    auto* indicator = new CStageIndicator(group);
    // The box shows a derived state: the user cannot toggle it.
    indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    indicator->setFocusPolicy(Qt::NoFocus);
    auto* button = new QPushButton(Ui(kStages[i]), group);
    button->setCheckable(true);
    button->setAutoDefault(false);
    stageGroup_->addButton(button, i);
    indicators_[size_t(i)] = indicator;
    stageButtons_[size_t(i)] = button;
    row->addWidget(indicator);
    row->addWidget(button, 1);
    if (i < 4) row->addSpacing(6);
  }
  layout->addLayout(row);
  auto* frame = new QFrame(group);
  frame->setFrameShape(QFrame::StyledPanel);
  auto* frameLayout = new QVBoxLayout(frame);
  frameLayout->setContentsMargins(4, 4, 4, 4);
  frameLayout->addWidget(Placeholder());
  layout->addWidget(frame, 1);
  connect(stageGroup_, &QButtonGroup::idClicked, this, &CLumaro3Dlg::ShowStagePage);
  // The pages take the room they ask for; the list takes the rest.
  group->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  return group;
}

QWidget* CLumaro3Dlg::BuildOptionsGroup() {
  auto* group = new QGroupBox(Ui("3. Настройки хода конвертации"), this);
  auto* grid = new QGridLayout(group);
  includingSubfolders_ = new QCheckBox(Ui("Включая подпапки"), group);
  keepStructure_ = new QCheckBox(Ui("Сохр. структуру"), group);
  backup_ = new QCheckBox(Ui("Создавать резервные копии"), group);
  interactive_ = new QCheckBox(Ui("Интерактивно"), group);
  useRename_ = new QCheckBox(Ui("Переименование"), group);
  pattern_ = new QLineEdit(group);
  patternBrowse_ = MakeButton(QStringLiteral("..."), group);
  patternBrowse_->setFixedWidth(patternBrowse_->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 18);
  renameThrough_ = new QCheckBox(Ui("Не сквозное"), group);
  openFolder_ = new QCheckBox(Ui("По окончании открыть выходную папку"), group);
  sendMail_ = new QCheckBox(Ui("По окончании отправить результаты по e-mail"), group);

  grid->addWidget(includingSubfolders_, 0, 0);
  grid->addWidget(keepStructure_, 0, 1, 1, 3);
  grid->addWidget(backup_, 1, 0);
  grid->addWidget(interactive_, 1, 1, 1, 3);
  grid->addWidget(useRename_, 2, 0);
  // The pattern keeps room for a usual pattern; "Не сквозное" goes under it.
  pattern_->setMinimumWidth(pattern_->fontMetrics().horizontalAdvance(QStringLiteral("Image_####")) + 12);
  auto* patternRow = new QHBoxLayout;
  patternRow->addWidget(pattern_, 1);
  patternRow->addWidget(patternBrowse_);
  grid->addLayout(patternRow, 2, 1, 1, 3);
  grid->addWidget(renameThrough_, 3, 1, 1, 3);
  grid->addWidget(openFolder_, 4, 0, 1, 4);
  grid->addWidget(sendMail_, 5, 0, 1, 4);
  grid->setColumnStretch(1, 1);

  for (QCheckBox* box : {includingSubfolders_, useRename_}) {
    connect(box, &QCheckBox::toggled, this, [this] {
      if (loading_) return;
      StoreControls();
      ApplySettingsRules();
    });
  }
  connect(patternBrowse_, &QPushButton::clicked, this, &CLumaro3Dlg::OnRenameDialog);
  return group;
}

QWidget* CLumaro3Dlg::BuildOutputGroup() {
  auto* group = new QGroupBox(Ui("4. Куда и во что конвертировать"), this);
  auto* grid = new QGridLayout(group);
  outputFolder_ = new QLineEdit(group);
  outputBrowse_ = MakeButton(QStringLiteral("..."), group);
  outputBrowse_->setFixedWidth(outputBrowse_->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 18);
  format_ = new QComboBox(group);
  // The names are the formats' own; "Не менять" is translated.
  for (const auto& format : GetSettings().OutputFormats)
    format_->addItem(Ui(format->Name.c_str()));
  formatSetup_ = MakeButton(Ui("Настройки формата..."), group);
  description_ = new QLabel(group);
  description_->setTextFormat(Qt::PlainText);
  description_->setWordWrap(true);
  description_->setMinimumHeight(description_->fontMetrics().height() * 2);
  description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // Each label above its field: the group stays narrow.
  grid->addWidget(new QLabel(Ui("Выходная папка"), group), 0, 0);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(outputFolder_, 1);
  folderRow->addWidget(outputBrowse_);
  grid->addLayout(folderRow, 1, 0);
  grid->addWidget(new QLabel(Ui("Выходной формат"), group), 2, 0);
  auto* formatRow = new QHBoxLayout;
  formatRow->addWidget(format_, 1);
  formatRow->addWidget(formatSetup_);
  grid->addLayout(formatRow, 3, 0);
  grid->addWidget(description_, 4, 0);
  grid->setRowStretch(5, 1);

  connect(outputBrowse_, &QPushButton::clicked, this, &CLumaro3Dlg::OnBrowseOutput);
  connect(formatSetup_, &QPushButton::clicked, this, &CLumaro3Dlg::OnFormatSetup);
  connect(format_, qOverload<int>(&QComboBox::activated), this, [this] {
    StoreControls();
    ApplySettingsRules();
  });
  return group;
}

void CLumaro3Dlg::AddTooltips() {
  tips_ = new CInfoTip(this);
  tips_->SetWidthLimit(300);
  tips_->AddTool(add_, Ui("Добавить файлы в список с использованием диалога выбора файлов"));
  tips_->AddTool(remove_, Ui("Удалить выбранные файлы из списка"));
  tips_->AddTool(outputFolder_,
                 Ui("Если это поле пустое, то выходные файлы запишутся туда, где были исходные "
                    "(не рекомендуется)"));
  tips_->AddTool(interactive_,
                 Ui("Выдает диалог настройки изображения (поворот, яркость, ...) для каждого "
                    "файла перед его преобразованием. "));
  tips_->AddTool(list_->ListView(),
                 Ui("Также можно просто перетаскивать файлы из Проводника в окно Lumaro"));
  tips_->AddTool(list_->TableView(),
                 Ui("Также можно просто перетаскивать файлы из Проводника в окно Lumaro"));
  tips_->AddTool(addFromTree_, Ui("Добавить выбранные файлы и папки из дерева в список конвертации"));
  tips_->AddTool(includingSubfolders_, Ui("Обрабатывать изображения в подпапках выбранных папок"));
  tips_->AddTool(keepStructure_, Ui("Воссоздавать структуру подпапок в выбранных папках"));
  tips_->AddTool(useRename_,
                 Ui("Переименовывать файлы в процессе конвертации\nДля задания шаблона "
                    "переименования и примеров нажмите кнопку [...]"));
  tips_->AddTool(renameThrough_,
                 Ui("Вкл. - Использовать свою нумерацию для каждой папки и подпапки\nВыкл. - "
                    "Использовать сквозную нумерацию для всех папок"));
  tips_->AddTool(pattern_,
                 Ui("Шаблон переименования\n# - одна цифра последовательности\n* - имя исходного "
                    "файла\n^ - имя родительской папки\n\nДля задания шаблона переименования и "
                    "примеров нажмите кнопку [...]"));
}

// ---- controls and the record -----------------------------------------------------------

void CLumaro3Dlg::LoadOwnControls() {
  const CSettings& s = GetSettings();
  loading_ = true;
  includingSubfolders_->setChecked(s.IncludingSubfolders != 0);
  keepStructure_->setChecked(s.KeepSubfoldersStructure != 0);
  backup_->setChecked(s.Backup != 0);
  interactive_->setChecked(s.Interactive != 0);
  useRename_->setChecked(s.UseRename != 0);
  pattern_->setText(Qs(s.RenamePattern));
  renameThrough_->setChecked(s.RenameThrough != 0);
  openFolder_->setChecked(s.OpenFolderOnFinish != 0);
  sendMail_->setChecked(s.SendMailViaMAPIOnFinish != 0);
  outputFolder_->setText(Qs(s.OutputFolder));
  format_->setCurrentIndex(s.OutputFormatIndex());
  const int view = s.ViewModeIndex();
  viewButtons_[size_t(view)]->setChecked(true);
  list_->SetViewMode(view);
  loading_ = false;
}

void CLumaro3Dlg::StoreOwnControls() {
  CSettings& s = GetSettings();
  s.IncludingSubfolders = includingSubfolders_->isChecked() ? 1 : 0;
  s.KeepSubfoldersStructure = keepStructure_->isChecked() ? 1 : 0;
  s.Backup = backup_->isChecked() ? 1 : 0;
  s.Interactive = interactive_->isChecked() ? 1 : 0;
  s.UseRename = useRename_->isChecked() ? 1 : 0;
  // Blanks typed around the pattern would end up in every output name.
  s.RenamePattern = pattern_->text().trimmed().toStdString();
  s.RenameThrough = renameThrough_->isChecked() ? 1 : 0;
  s.OpenFolderOnFinish = openFolder_->isChecked() ? 1 : 0;
  s.SendMailViaMAPIOnFinish = sendMail_->isChecked() ? 1 : 0;
  s.OutputFolder = outputFolder_->text().toStdString();
  if (format_->currentIndex() >= 0) s.OutputFormat = format_->currentIndex();
  const int view = viewGroup_->checkedId();
  if (view >= 0) s.ViewMode = view;
}

void CLumaro3Dlg::LoadControls() {
  LoadOwnControls();
  for (CSettingsPage* page : pages_) page->LoadControls();
}

void CLumaro3Dlg::StoreControls() {
  StoreOwnControls();
  for (CSettingsPage* page : pages_) page->StoreControls();
}

void CLumaro3Dlg::ApplyListRules() {
  const bool hasRows = list_->Count() > 0;
  // A job is refused until the previous worker has ended.
  convert_->setEnabled(hasRows && !workerRunning_ && !ConversionRunning());
  removeAll_->setEnabled(hasRows);
  remove_->setEnabled(hasRows && list_->HasSelection());
}

void CLumaro3Dlg::ApplySettingsRules() {
  CSettings& s = GetSettings();
  const bool rename = s.UseRename != 0;
  pattern_->setEnabled(rename);
  patternBrowse_->setEnabled(rename && bool(GetDesktopServices().renameDialog));
  renameThrough_->setEnabled(rename);
  keepStructure_->setEnabled(s.IncludingSubfolders != 0);
  COutputFormat& format = s.CurrentOutputFormat();
  formatSetup_->setEnabled(format.HasOptions != 0);
  std::string text;
  format.Describe(text);
  description_->setText(Qs(text));
  const auto& mailAvailable = GetDesktopServices().mailAvailable;
  sendMail_->setEnabled(mailAvailable && mailAvailable());
}

void CLumaro3Dlg::RefreshStageIndicators() {
  const auto states = StageStates(GetSettings(), filters_);
  for (size_t i = 0; i < states.size(); ++i) indicators_[i]->setChecked(states[i]);
}

// ---- list commands -----------------------------------------------------------------------

int CLumaro3Dlg::AddPaths(const QStringList& paths) {
  int added = 0;
  QString folder;
  for (const QString& path : paths) {
    if (list_->AddPath(path)) ++added;
    folder = QFileInfo(path).absolutePath();
  }
  if (!folder.isEmpty()) GetSettings().LastOpenFolder = folder.toStdString();
  ApplyListRules();
  return added;
}

int CLumaro3Dlg::AddTreeSelection() {
  int added = 0;
  for (QTreeWidgetItem* item : tree_->SelectedItems()) {
    const QString path = CShellTreeCtrl::ItemPath(item);
    if (path.isEmpty()) continue;
    if (list_->AddPath(path)) ++added;
    const QString folder = QFileInfo(path).absolutePath();
    if (!folder.isEmpty()) GetSettings().LastOpenFolder = folder.toStdString();
  }
  ApplyListRules();
  return added;
}

int CLumaro3Dlg::AddDroppedPaths(const QStringList& paths) {
  int added = 0;
  for (const QString& path : paths) {
    const QFileInfo info(path);
    const bool folder = info.isDir();
    if (!folder && !IsSupportedExtension(FindExtension(path.toStdString()))) continue;
    if (list_->AddPath(path)) ++added;
  }
  ApplyListRules();
  return added;
}

void CLumaro3Dlg::RemoveSelected() {
  list_->RemoveSelected();
  ApplyListRules();
}

void CLumaro3Dlg::RemoveAll() {
  list_->RemoveAll();
  ApplyListRules();
}

bool CLumaro3Dlg::OpenUrl(const QUrl& url) {
  if (OpenUrlHook) return OpenUrlHook(url);
  return QDesktopServices::openUrl(url);
}

void CLumaro3Dlg::OpenRow(int row) {
  if (row < 0 || row >= list_->Count()) return;
  OpenUrl(QUrl::fromLocalFile(list_->Entry(row).path));
}

void CLumaro3Dlg::OnAddFiles() {
  const CSettings& s = GetSettings();
  const QStringList files = QFileDialog::getOpenFileNames(
      this, Ui("Добавить..."), Qs(s.LastOpenFolder), QtFileFilter(ResString(IDS_OPEN_FILTER)));
  if (!files.isEmpty()) AddPaths(files);
}

void CLumaro3Dlg::ShowStagePage(int index) {
  if (index < 0 || index >= PageCount()) index = 0;
  StoreControls();
  const int visible = FindVisiblePage();
  if (visible >= 0 && visible != index) HidePage(visible);
  ShowPage(index);
  currentPage_ = index;
  if (stageButtons_[size_t(index)] && !stageButtons_[size_t(index)]->isChecked())
    stageButtons_[size_t(index)]->setChecked(true);
}

void CLumaro3Dlg::SetViewMode(int mode) {
  StoreControls();
  GetSettings().ViewMode = mode;
  if (viewButtons_[size_t(std::clamp(mode, 0, 2))]) viewButtons_[size_t(std::clamp(mode, 0, 2))]->setChecked(true);
  list_->SetViewMode(mode);
}

void CLumaro3Dlg::OnProbing(const QString& path) {
  if (path.isEmpty()) {
    setWindowTitle(caption_);
    return;
  }
  QString title = Ui("%s - подготовка эскиза для %s");
  title.replace(title.indexOf(QStringLiteral("%s")), 2, caption_);
  const int second = title.indexOf(QStringLiteral("%s"));
  if (second >= 0) title.replace(second, 2, path);
  setWindowTitle(title);
}

// ---- tree ------------------------------------------------------------------------------------

void CLumaro3Dlg::OnTreeItemsDropped(int count, QPoint releasePos) {
  if (count <= 0) return;
  const QPoint global = tree_->viewport()->mapToGlobal(releasePos);
  const QRect listRect(list_->mapToGlobal(QPoint(0, 0)), list_->size());
  if (listRect.contains(global)) AddTreeSelection();
}

void CLumaro3Dlg::OnTreeSelectionChanged(int count) {
  if (count != 1) return;
  previewGeneration_++;
  previewImage_.Destroy();
  preview_->SetImage(nullptr);
  const auto& selected = tree_->SelectedItems();
  if (selected.empty()) return;
  QTreeWidgetItem* item = selected.front();
  if (item->data(0, CShellTreeCtrl::KindRole).toInt() != CShellTreeCtrl::kFileItem) return;
  StartPreview(CShellTreeCtrl::ItemPath(item));
}

void CLumaro3Dlg::StartPreview(const QString& path) {
  const quint64 generation = previewGeneration_;
  const QSize box = preview_->size();
  const int quality = GetSettings().ThumbsQualityIndex();
  QPointer<CLumaro3Dlg> self(this);
  auto task = [self, generation, path, box, quality] {
    auto image = std::make_shared<CImage>();
    bool loaded = false;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
      const QByteArray data = file.readAll();
      const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
      if (IsRawFile(bytes, size_t(data.size())))
        loaded = DecodeRawPreview(*image, bytes, size_t(data.size()), box.width(), box.height());
      if (!loaded) {
        image->SetDecodeSizeHint(CImage::AtLeast(box.width(), box.height()));
        loaded = image->Decode(bytes, size_t(data.size()), FORMAT_UNKNOWN, path.toStdString());
      }
    }
    RGBQuad grey;
    grey.red = grey.green = grey.blue = 128;
    const int interpolation = quality == 0 ? CImage::IM_BICUBIC2 : CImage::IM_NEAREST_NEIGHBOUR;
    if (loaded) loaded = FitImageToBox(*image, box.width(), box.height(), grey, interpolation);
    if (!loaded) return;
    QMetaObject::invokeMethod(
        qApp,
        [self, generation, image] {
          if (!self || self->previewGeneration_ != generation) return;
          self->previewImage_ = std::move(*image);
          self->preview_->SetImage(&self->previewImage_);
        },
        Qt::QueuedConnection);
  };
  QThreadPool::globalInstance()->start(task);
}

// ---- output, format and rename ------------------------------------------------------------

void CLumaro3Dlg::OnBrowseOutput() {
  CFolderBrowser browser(Ui("Выберите выходную папку"));
  if (!browser.Browse(this, outputFolder_->text())) return;
  StoreControls();
  GetSettings().OutputFolder = browser.ResultPath().toStdString();
  LoadOwnControls();
  ApplySettingsRules();
}

void CLumaro3Dlg::OnFormatSetup() {
  StoreControls();
  GetSettings().CurrentOutputFormat().Setup();
  StoreControls();
  ApplySettingsRules();
}

void CLumaro3Dlg::OnRenameDialog() {
  const auto& dialog = GetDesktopServices().renameDialog;
  if (!dialog) return;
  StoreControls();
  dialog(this);
  LoadOwnControls();
  ApplySettingsRules();
}

// ---- settings files, language, general settings -----------------------------------------

bool CLumaro3Dlg::SaveSettingsTo(const QString& path) {
  StoreControls();
  CSettings& s = GetSettings();
  if (s.SaveToFile(path.toStdString())) return true;
  host_->ShowMessage(Ui("Не удалось сохранить настройки в файл %1").arg(path) +
                         QStringLiteral("\n") + Qs(s.GetLastError()),
                     QString(), Notice::Error);
  return false;
}

bool CLumaro3Dlg::LoadSettingsFrom(const QString& path) {
  CSettings& s = GetSettings();
  const SettingsLoadResult result = s.LoadFromFile(path.toStdString());
  LoadControls();
  ApplySettingsRules();
  ApplyListRules();
  RefreshStageIndicators();
  if (result == SettingsLoadResult::NotSettingsFile) {
    host_->ShowMessage(Ui("Файл %1 не является файлом настроек. Установлены значения по "
                          "умолчанию, файл не изменён.")
                           .arg(path),
                       QString(), Notice::Warning);
    return false;
  }
  return true;
}

void CLumaro3Dlg::OnSaveSettings() {
  QFileDialog dialog(this, Ui("&Сохранить...").remove(QLatin1Char('&')));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QtFileFilter(ResString(IDS_SETTINGS_FILTER)));
  dialog.setDefaultSuffix(QStringLiteral("ini"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveSettingsTo(dialog.selectedFiles().front());
}

void CLumaro3Dlg::OnLoadSettings() {
  QFileDialog dialog(this, Ui("&Загрузить...").remove(QLatin1Char('&')));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A name that does not exist yet is accepted: it becomes a file of defaults.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QtFileFilter(ResString(IDS_SETTINGS_FILTER)));
  dialog.setDefaultSuffix(QStringLiteral("ini"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  LoadSettingsFrom(dialog.selectedFiles().front());
}

void CLumaro3Dlg::SetLanguage(int language) {
  GetSettings().Language = language;
  host_->ShowMessage(ResString(IDS_LANGUAGE_RESTART), QString(), Notice::Information);
}

void CLumaro3Dlg::OnGeneralSettings() {
  CSettings& s = GetSettings();
  int quality = s.SysPropsThumbsQuality;
  int size = s.SysPropsThumbsSize;
  const auto& dialog = GetDesktopServices().generalSettings;
  const bool ok = dialog ? dialog(this, quality, size) : SimpleGeneralSettings(this, quality, size);
  if (!ok) return;
  if (size != s.SysPropsThumbsSize)
    host_->ShowMessage(ResString(IDS_RESTART_NEEDED), QString(), Notice::Plain);
  s.SysPropsThumbsQuality = quality;
  s.SysPropsThumbsSize = size;
}

void CLumaro3Dlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CLumaro3Dlg::OnHelp() {
  host_->ShowMessage(
      Ui("1. Выберите файлы и папки в дереве слева и добавьте их в список кнопкой \">>\", "
         "кнопкой \"Добавить...\" или перетаскиванием.\n"
         "2. Настройте этапы конвертации: размеры, поворот, метаданные, водяные знаки, фильтры.\n"
         "3. Задайте ход конвертации: подпапки, резервные копии, переименование.\n"
         "4. Выберите выходную папку и формат и нажмите \"Конвертировать\"."),
      Ui("Справка"), Notice::Information);
}

// ---- the job -------------------------------------------------------------------------------

void CLumaro3Dlg::Convert() {
  StoreControls();
  if (workerRunning_ || ConversionRunning()) {
    ApplyListRules();
    return;  // the previous job has not ended yet
  }
  if (watcher_.joinable()) watcher_.join();
  const std::vector<std::string> entries = list_->JobEntries();
  // Filters get the window's native id (the X11 window id under X), or 0
  // where it does not fit their 32-bit field.
  const WId native = winId();
  host_->SetMainWindowId(native <= WId(UINT32_MAX) ? uint32_t(native) : 0u);
  JobStartResult result =
      StartConversion(job_, GetSettings(), entries, *host_, filters_, worker_);
  if (result == JobStartResult::Started) {
    workerRunning_ = true;
    workerExited_ = false;
    // A watcher learns when the worker thread has ended, whichever way.
    watcher_ = std::thread([this, worker = std::move(worker_)]() mutable {
      worker.join();
      workerExited_ = true;
      QMetaObject::invokeMethod(this, [this] { OnWorkerExited(); }, Qt::QueuedConnection);
    });
  }
  ApplyListRules();
}

void CLumaro3Dlg::OnWorkerExited() {
  if (!workerExited_) return;
  if (watcher_.joinable()) watcher_.join();
  workerRunning_ = false;
  LoadJobChangedControls();
  ApplyListRules();
  emit jobEnded();
}

void CLumaro3Dlg::FinishWorker(bool abort) {
  if (!workerRunning_ && !watcher_.joinable()) return;
  if (abort) NamedEvent(kEventAbort).Set();
  // The worker may be waiting for a message box: keep serving it.
  while (!workerExited_) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (watcher_.joinable()) watcher_.join();
  workerRunning_ = false;
  LoadJobChangedControls();
}

void CLumaro3Dlg::LoadJobChangedControls() {
  // "Больше не показывать это окно" of the interactive dialog clears the
  // setting during the job; the box must show it, or the next store would
  // write the old value back.
  const bool wasLoading = loading_;
  loading_ = true;
  interactive_->setChecked(GetSettings().Interactive != 0);
  loading_ = wasLoading;
}

void CLumaro3Dlg::ShowStartupMessages(const std::vector<std::string>& messages) {
  for (const std::string& text : messages)
    host_->ShowMessage(Qs(text), QString(), Notice::Error);
}

void CLumaro3Dlg::OnConversionDone() {
  CSettings& s = GetSettings();
  if (s.OpenFolderOnFinish != 0 && !s.OutputFolder.empty())
    OpenUrl(QUrl::fromLocalFile(Qs(s.OutputFolder)));
  if (s.SendMailViaMAPIOnFinish != 0) {
    // Mailing the written files (installed by the mail service).
    const auto& mailAvailable = GetDesktopServices().mailAvailable;
    const auto& sendMail = GetDesktopServices().sendMail;
    if (sendMail && mailAvailable && mailAvailable()) sendMail(this, job_.writtenList);
  }
  job_.writtenList.clear();
  job_.fileList.clear();
  tree_->Refresh(Qs(s.LastOpenFolder));
  ApplyListRules();
}

// ---- closing ----------------------------------------------------------------------------------

void CLumaro3Dlg::closeEvent(QCloseEvent* event) {
  const auto& held = GetDesktopServices().automationHoldsWindow;
  if (held && held()) {
    hide();
    event->ignore();
    return;
  }
  // The job ends first: it may have changed settings the controls show.
  FinishWorker(true);
  StoreControls();
  GetSettings().LastTabPage = std::max(0, FindVisiblePage());
  progress_->DestroyWindow();
  event->accept();
  done(QDialog::Accepted);
}

void CLumaro3Dlg::reject() { close(); }

void CLumaro3Dlg::resizeEvent(QResizeEvent* event) { CPageHostDlg::resizeEvent(event); }

void CLumaro3Dlg::showEvent(QShowEvent* event) {
  CPageHostDlg::showEvent(event);
  if (splitterPlaced_) return;
  splitterPlaced_ = true;
  // The first time: the right side gets the width it needs (now that its
  // controls are polished), the tree what is left, within reason.
  const int width = splitter_->width() - splitter_->handleWidth();
  const int left = std::clamp(width - scrolledPart_->minimumSizeHint().width(), 200, 320);
  splitter_->setSizes({left, std::max(1, width - left)});
}
