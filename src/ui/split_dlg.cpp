#include "ui/split_dlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/host.h"
#include "services/split.h"
#include "services/strings.h"
#include "ui/controls.h"
#include "ui/dialog_support.h"
#include "ui/page_common.h"
#include "ui/progress_dlg.h"

std::function<QString(QWidget*, const QString&)> CMultipageDisasmDlg::FileDialogHook;

CMultipageDisasmDlg::CMultipageDisasmDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("Разобрать многокадровый файл"));
  file_ = new QLineEdit(this);
  folder_ = new QLineEdit(this);
  file_->setMinimumWidth(320);
  browseFile_ = new QPushButton(QStringLiteral("..."), this);
  browseFolder_ = new QPushButton(QStringLiteral("..."), this);
  for (QPushButton* b : {browseFile_, browseFolder_}) {
    b->setAutoDefault(false);
    b->setFixedWidth(32);
  }
  split_ = new QPushButton(Ui("Разобрать"), this);
  split_->setDefault(true);
  close_ = new QPushButton(Ui("Закрыть"), this);
  close_->setAutoDefault(false);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(Ui("Имя файла:"), this), 0, 0, 1, 2);
  grid->addWidget(file_, 1, 0);
  grid->addWidget(browseFile_, 1, 1);
  grid->addWidget(new QLabel(Ui("Имя папки, куда поместить кадры:"), this), 2, 0, 1, 2);
  grid->addWidget(folder_, 3, 0);
  grid->addWidget(browseFolder_, 3, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(split_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(browseFile_, &QPushButton::clicked, this, &CMultipageDisasmDlg::OnBrowseFile);
  connect(browseFolder_, &QPushButton::clicked, this, &CMultipageDisasmDlg::OnBrowseFolder);
  connect(split_, &QPushButton::clicked, this, &CMultipageDisasmDlg::OnSplit);
  connect(close_, &QPushButton::clicked, this, &CMultipageDisasmDlg::reject);
}

QString CMultipageDisasmDlg::FileFilter() {
  return Ui("GIF (*.gif)|*.gif|TIFF (*.tif;*.tiff)|*.tif;*.tiff|ICO, CUR (*.ico;*.cur)|"
            "*.ico;*.cur |All Files (*.*)|*.*||");
}

void CMultipageDisasmDlg::LoadControls() {
  file_->setText(FileName);
  folder_->setText(Folder);
}

void CMultipageDisasmDlg::StoreControls() {
  FileName = file_->text();
  Folder = folder_->text();
}

int CMultipageDisasmDlg::DoModal() {
  LoadControls();
  return RunModal(*this) == QDialog::Accepted ? 1 : 2;
}

void CMultipageDisasmDlg::OnBrowseFile() {
  const QString filter = FileDialogFilter(FileFilter());
  QString chosen;
  if (FileDialogHook)
    chosen = FileDialogHook(this, filter);
  else
    chosen = QFileDialog::getOpenFileName(this, QString(), file_->text(), filter);
  if (chosen.isEmpty()) return;
  StoreControls();
  FileName = chosen;
  LoadControls();
}

void CMultipageDisasmDlg::OnBrowseFolder() {
  CFolderBrowser browser(ResString(IDS_SPLIT_CHOOSE_FOLDER));
  if (!browser.Browse(this, folder_->text())) return;
  StoreControls();
  Folder = browser.ResultPath();
  LoadControls();
}

void CMultipageDisasmDlg::OnSplit() {
  StoreControls();
  SplitCallbacks callbacks;
  bool busy = false;
  callbacks.busy = [&busy](bool on) {
    if (on && !busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!on && busy) QApplication::restoreOverrideCursor();
    busy = on;
  };
  SplitOutcome outcome;
  const SplitRunStatus status =
      RunSplit(FileName.toStdString(), Folder.toStdString(), callbacks, &outcome);
  if (busy) QApplication::restoreOverrideCursor();
  if (outcome.message.empty()) return;
  // The frames written are news; a failure is an error; a folder that could
  // not be made or a file of one frame is said plainly.
  Notice notice = Notice::Plain;
  if (status == SplitRunStatus::Failed)
    notice = Notice::Error;
  else if (status == SplitRunStatus::Done && outcome.frameCount > 1)
    notice = Notice::Information;
  ShowMessageBox(this, QString::fromStdString(outcome.message), QString(), notice);
}

void RunSplitDialog(QWidget* parent) {
  CMultipageDisasmDlg dialog(parent);
  dialog.DoModal();
}
