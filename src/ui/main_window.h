// CLumaro3Dlg: the program's main window. The folder tree and the list of
// files and folders to convert, the five stage pages, the job options, the
// output folder and format, Convert, the menus and the about box. It owns
// the job record and the progress dialog and hears the worker's reports.
#pragma once

#include <QPointer>
#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/worker.h"
#include "imaging/image.h"
#include "plugins/filter_entry.h"
#include "ui/controls.h"

class CSettings;
class CSettingsPage;
class CShellTreeCtrl;
class CFileList;
class CProgressDlg;
class CDesktopHost;
class QAbstractButton;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QSplitter;
class QUrl;

// Services that other parts of the desktop program provide. Each is
// installed by its own source file (for instance from a static object's
// constructor: GetDesktopServices().splitTool = ...); a service that is not
// installed leaves its command disabled.
struct DesktopServices {
  // The rename pattern dialog: reads and writes the settings record itself.
  std::function<void(QWidget* parent)> renameDialog;
  // The general settings dialog: edits the two values, true on OK.
  std::function<bool(QWidget* parent, int& thumbsQuality, int& thumbsSize)> generalSettings;
  // The connection settings and update check dialog.
  std::function<void(QWidget* parent)> updateCheck;
  // The multi-frame split dialog.
  std::function<void(QWidget* parent)> splitTool;
  // Mailing the written files: whether it is available, and the sending.
  std::function<bool()> mailAvailable;
  std::function<void(QWidget* parent, const std::vector<std::string>& files)> sendMail;
  // True while an automation client holds the main window: closing only
  // hides it then.
  std::function<bool()> automationHoldsWindow;
  // The automation switches (--automation, --embedding, --regserver,
  // --unregserver), run after start-up with the program's arguments: true
  // when the program ends here (a registration request) with exitCode.
  std::function<bool(const QStringList& arguments, int& exitCode)> automationSwitches;
  // The main window exists (the automation object attaches to it).
  std::function<void(class CLumaro3Dlg* window)> mainWindowCreated;
};
DesktopServices& GetDesktopServices();

// The five stage indicators, in page order: dimensions, rotate/flip,
// metadata, watermarks, filters.
std::array<bool, 5> StageStates(const CSettings& settings, const CFilterList* filters);

// A file-dialog filter of the string table ("Name|*.a;*.b|...||") in the
// form of Qt's file dialogs ("Name (*.a *.b);;...").
QString QtFileFilter(const QString& tableFilter);

class CLumaro3Dlg : public CPageHostDlg {
  Q_OBJECT
 public:
  // Page template ids, in page order.
  static constexpr std::array<int, 5> kPageTemplates = {129, 195, 130, 136, 132};

  explicit CLumaro3Dlg(CFilterList* filters, QWidget* parent = nullptr);
  ~CLumaro3Dlg() override;

  // Settings record -> every control (own and pages'), and back.
  void LoadControls();
  void StoreControls();
  // The rules that follow the list (Convert, "Удалить", "Удалить все") and
  // the ones that follow the settings (rename, structure, format, mail).
  void ApplyListRules();
  void ApplySettingsRules();
  void RefreshStageIndicators();

  // Commands.
  int AddPaths(const QStringList& paths);           // "Добавить...", files chosen
  int AddTreeSelection();                           // ">>" and a drag from the tree
  int AddDroppedPaths(const QStringList& paths);    // drops from a file manager
  void RemoveSelected();
  void RemoveAll();
  void OpenRow(int row);
  void ShowStagePage(int index);
  void SetViewMode(int mode);
  void Convert();
  bool SaveSettingsTo(const QString& path);
  bool LoadSettingsFrom(const QString& path);
  void SetLanguage(int language);
  void OnConversionDone();
  // Messages of the start-up that had no window to show in yet (duplicate
  // filter GUIDs), one error box each.
  void ShowStartupMessages(const std::vector<std::string>& messages);
  void OnTreeItemsDropped(int count, QPoint releasePos);
  void OnTreeSelectionChanged(int count);

  // True while a started job's worker thread has not ended.
  bool WorkerRunning() const { return workerRunning_; }
  // Waits (serving the worker's messages) until the worker has ended;
  // with abort, asks it to stop first.
  void FinishWorker(bool abort);

  // Parts for the tests and the automation object.
  CShellTreeCtrl* Tree() const { return tree_; }
  CFileList* FileList() const { return list_; }
  CImageView* Preview() const { return preview_; }
  CProgressDlg* Progress() const { return progress_; }
  CDesktopHost* Host() const { return host_; }
  CInfoTip* Tips() const { return tips_; }
  const std::vector<CSettingsPage*>& Pages() const { return pages_; }
  int CurrentPage() const { return currentPage_; }
  QPushButton* ConvertButton() const { return convert_; }
  QPushButton* RemoveButton() const { return remove_; }
  QPushButton* RemoveAllButton() const { return removeAll_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* AddFromTreeButton() const { return addFromTree_; }
  QPushButton* FormatSetupButton() const { return formatSetup_; }
  QPushButton* PatternBrowseButton() const { return patternBrowse_; }
  QPushButton* OutputBrowseButton() const { return outputBrowse_; }
  QCheckBox* StageIndicator(int index) const { return indicators_[size_t(index)]; }
  QAbstractButton* StageButton(int index) const { return stageButtons_[size_t(index)]; }
  QCheckBox* IncludingSubfoldersBox() const { return includingSubfolders_; }
  QCheckBox* KeepStructureBox() const { return keepStructure_; }
  QCheckBox* UseRenameBox() const { return useRename_; }
  QCheckBox* RenameThroughBox() const { return renameThrough_; }
  QCheckBox* SendMailBox() const { return sendMail_; }
  QCheckBox* InteractiveBox() const { return interactive_; }
  QLineEdit* PatternEdit() const { return pattern_; }
  QLineEdit* OutputFolderEdit() const { return outputFolder_; }
  QComboBox* FormatCombo() const { return format_; }
  QLabel* DescriptionLabel() const { return description_; }
  QMenuBar* MenuBar() const { return menuBar_; }
  QAction* LanguageAction(int language) const { return language == 0 ? russian_ : english_; }
  QMenu* LanguageMenu() const { return languageMenu_; }
  CConversionJob& Job() { return job_; }

  // Opens a path with its default application (tests replace it).
  static std::function<bool(const QUrl&)> OpenUrlHook;

 signals:
  void jobEnded();

 protected:
  QWidget* CreatePage(int templateId) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenu();
  QWidget* BuildLeftPane();
  QWidget* BuildListArea();
  QWidget* BuildStageGroup();
  QWidget* BuildOptionsGroup();
  QWidget* BuildOutputGroup();
  void AddTooltips();
  void LoadOwnControls();
  void StoreOwnControls();
  bool OpenUrl(const QUrl& url);

  void OnAddFiles();
  void OnBrowseOutput();
  void OnFormatSetup();
  void OnRenameDialog();
  void OnSaveSettings();
  void OnLoadSettings();
  void OnGeneralSettings();
  void OnAbout();
  void OnHelp();
  void OnProbing(const QString& path);
  void OnWorkerExited();
  void LoadJobChangedControls();
  void StartPreview(const QString& path);

  CFilterList* filters_;
  std::vector<CSettingsPage*> pages_;
  QSplitter* splitter_ = nullptr;
  QWidget* scrolledPart_ = nullptr;  // the right side, in a scroll area
  bool splitterPlaced_ = false;
  int currentPage_ = 0;

  QMenuBar* menuBar_ = nullptr;
  QMenu* languageMenu_ = nullptr;
  QAction* russian_ = nullptr;
  QAction* english_ = nullptr;
  QAction* generalAction_ = nullptr;
  QAction* updateAction_ = nullptr;
  QAction* splitAction_ = nullptr;

  CShellTreeCtrl* tree_ = nullptr;
  CImageView* preview_ = nullptr;
  CImage previewImage_;
  quint64 previewGeneration_ = 0;
  CFileList* list_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* removeAll_ = nullptr;
  QPushButton* addFromTree_ = nullptr;
  QButtonGroup* viewGroup_ = nullptr;
  std::array<QRadioButton*, 3> viewButtons_{};

  QButtonGroup* stageGroup_ = nullptr;
  std::array<QAbstractButton*, 5> stageButtons_{};
  std::array<QCheckBox*, 5> indicators_{};

  QCheckBox* includingSubfolders_ = nullptr;
  QCheckBox* keepStructure_ = nullptr;
  QCheckBox* backup_ = nullptr;
  QCheckBox* interactive_ = nullptr;
  QCheckBox* useRename_ = nullptr;
  QLineEdit* pattern_ = nullptr;
  QPushButton* patternBrowse_ = nullptr;
  QCheckBox* renameThrough_ = nullptr;
  QCheckBox* openFolder_ = nullptr;
  QCheckBox* sendMail_ = nullptr;

  QLineEdit* outputFolder_ = nullptr;
  QPushButton* outputBrowse_ = nullptr;
  QComboBox* format_ = nullptr;
  QPushButton* formatSetup_ = nullptr;
  QLabel* description_ = nullptr;

  QPushButton* help_ = nullptr;
  QPushButton* convert_ = nullptr;
  QPushButton* close_ = nullptr;

  CInfoTip* tips_ = nullptr;
  CProgressDlg* progress_ = nullptr;
  CDesktopHost* host_ = nullptr;
  CConversionJob job_;
  std::thread worker_;
  std::thread watcher_;
  bool workerRunning_ = false;
  std::atomic<bool> workerExited_{true};
  bool loading_ = false;  // controls are being filled from the record
  QString caption_;
};
