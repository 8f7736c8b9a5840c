#include "ui/progress_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
#include <chrono>

#include "engine/events.h"
#include "services/strings.h"
#include "ui/controls.h"

// ---- message boxes ------------------------------------------------------------

std::function<Answer(const QString&, const QString&, Notice, Answer)>
    CDesktopHost::MessageBoxHook;
std::function<int(InteractiveRequest&, QWidget*)> CDesktopHost::InteractiveHook;

Answer ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                      Notice notice, Answer defaultAnswer) {
  const QString title = caption.isEmpty() ? ResString(IDS_APP_NAME) : caption;
  if (CDesktopHost::MessageBoxHook)
    return CDesktopHost::MessageBoxHook(text, title, notice, defaultAnswer);
  QMessageBox box(parent);
  box.setWindowTitle(title);
  box.setText(text);
  switch (notice) {
    case Notice::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case Notice::Warning:
    case Notice::Question:
      box.setIcon(QMessageBox::Warning);
      break;
    case Notice::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case Notice::Plain:
      break;
  }
  if (notice == Notice::Question) {
    QPushButton* yes = box.addButton(Ui("&Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(Ui("&Нет"), QMessageBox::NoRole);
    box.setDefaultButton(defaultAnswer == Answer::No ? no : yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? Answer::Yes : Answer::No;
  }
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.exec();
  return Answer::Ok;
}

// ---- CProgressDlg ---------------------------------------------------------------

CProgressDlg::CProgressDlg()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(ResString(IDS_PROGRESS_LABEL));
  setModal(false);
  fileText_ = new QLabel(ResString(IDS_PROCESSING), this);
  fileText_->setTextFormat(Qt::PlainText);
  fileText_->setMinimumWidth(360);
  fileText_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  bar_->setRange(0, 0);
  stopButton_ = new QPushButton(Ui("Остановить"), this);
  stopButton_->setAutoDefault(false);
  connect(stopButton_, &QPushButton::clicked, this, &CProgressDlg::Stop);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fileText_);
  layout->addWidget(bar_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(stopButton_);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  resize(420, sizeHint().height());
}

CProgressDlg::~CProgressDlg() { DestroyWindow(); }

bool CProgressDlg::Create(QWidget* owner) {
  if (shown_) return true;
  owner_ = owner ? owner->window() : nullptr;
  ownerDisabled_ = false;
  if (owner_ && owner_->isEnabled()) {
    owner_->setEnabled(false);
    ownerDisabled_ = true;
  }
  setWindowTitle(ResString(IDS_PROGRESS_LABEL));
  fileText_->setText(ResString(IDS_PROCESSING));
  SetRange(low_, high_);
  // Owned by the main window for the window manager, but not its child, so
  // that disabling the main window leaves the dialog usable.
  winId();
  if (owner_ && owner_->windowHandle() && windowHandle())
    windowHandle()->setTransientParent(owner_->windowHandle());
  if (owner_) {
    const QRect frame = owner_->frameGeometry();
    move(frame.center() - QPoint(width() / 2, height() / 2));
  }
  shown_ = true;
  stopping_ = false;
  show();
  raise();
  activateWindow();
  repaint();
  return true;
}

void CProgressDlg::SetRange(int low, int high) {
  low_ = low;
  high_ = high;
  bar_->setRange(low, high > low ? high : low);
  bar_->setValue(low);
}

void CProgressDlg::SetCaption(const QString& text) {
  if (shown_) setWindowTitle(text);
}

void CProgressDlg::SetFileText(const QString& text) {
  if (shown_) fileText_->setText(text);
}

void CProgressDlg::Step() {
  if (shown_ && bar_->value() < bar_->maximum()) bar_->setValue(bar_->value() + 1);
}

int CProgressDlg::Position() const { return bar_->value(); }

QString CProgressDlg::FileText() const { return fileText_->text(); }

void CProgressDlg::Pump() {
  QCoreApplication::processEvents();
  if (shown_ && NamedEvent(kEventDone).IsSet()) close();
}

void CProgressDlg::Stop() {
  if (!shown_ || stopping_) return;
  stopping_ = true;
  NamedEvent(kEventAbort).Set();
  QCoreApplication::processEvents();
  if (shown_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    NamedEvent(kEventDone).Wait(std::chrono::milliseconds(kStopWaitMs));
    QApplication::restoreOverrideCursor();
  }
  DestroyWindow();
  stopping_ = false;
}

void CProgressDlg::DestroyWindow() {
  if (ownerDisabled_ && owner_) owner_->setEnabled(true);
  ownerDisabled_ = false;
  const bool wasShown = shown_;
  shown_ = false;
  if (isVisible()) hide();
  if (wasShown && owner_) owner_->activateWindow();
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
  if (shown_) Stop();
  event->accept();
}

void CProgressDlg::reject() { Stop(); }

// ---- CDesktopHost ------------------------------------------------------------------

CDesktopHost::CDesktopHost(QWidget* mainWindow, CProgressDlg* progress)
    : QObject(mainWindow), mainWindow_(mainWindow), progress_(progress) {}

void CDesktopHost::RunOnUiThread(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread())
    fn();
  else
    QMetaObject::invokeMethod(this, fn, Qt::BlockingQueuedConnection);
}

QWidget* CDesktopHost::DialogParent() const {
  if (progress_ && progress_->IsShown()) return progress_;
  if (mainWindow_ && mainWindow_->isEnabled()) return mainWindow_;
  return nullptr;
}

void CDesktopHost::SetProgressRange(int low, int high) {
  auto apply = [this, low, high] {
    // The job start sets the range right before the worker starts: this is
    // where the dialog appears and the main window is disabled.
    if (!progress_->IsShown()) progress_->Create(mainWindow_);
    progress_->SetRange(low, high);
  };
  if (QThread::currentThread() == thread())
    apply();
  else
    QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
}

void CDesktopHost::SetProgressCaption(const std::string& text) {
  QString caption = QString::fromStdString(text);
  QMetaObject::invokeMethod(
      this, [this, caption] { progress_->SetCaption(caption); }, Qt::QueuedConnection);
}

void CDesktopHost::SetFileText(const std::string& text) {
  QString file = QString::fromStdString(text);
  QMetaObject::invokeMethod(
      this, [this, file] { progress_->SetFileText(file); }, Qt::QueuedConnection);
}

void CDesktopHost::Step() {
  QMetaObject::invokeMethod(this, [this] { progress_->Step(); }, Qt::QueuedConnection);
}

void CDesktopHost::Pump() {
  if (QThread::currentThread() == thread()) {
    progress_->Pump();
    return;
  }
  // On the worker's side there is no queue to drain; the dialog sees the
  // done event in its own thread, after the progress calls queued before.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (progress_->IsShown() && NamedEvent(kEventDone).IsSet()) progress_->close();
      },
      Qt::QueuedConnection);
}

Answer CDesktopHost::ShowMessage(const QString& text, const QString& caption, Notice notice,
                                Answer defaultAnswer) {
  const Answer answer = ShowMessageBox(DialogParent(), text, caption, notice, defaultAnswer);
  emit messageShown();
  return answer;
}

Answer CDesktopHost::Message(const std::string& text, const std::string& caption, Notice notice,
                             Answer defaultAnswer) {
  Answer answer = Answer::Cancel;  // no box was shown
  const QString qtext = QString::fromStdString(text);
  const QString qcaption = QString::fromStdString(caption);
  RunOnUiThread([&] { answer = ShowMessage(qtext, qcaption, notice, defaultAnswer); });
  return answer;
}

int CDesktopHost::ShowInteractive(InteractiveRequest& request) {
  int result = 0;
  RunOnUiThread([&] {
    if (InteractiveHook) result = InteractiveHook(request, DialogParent());
  });
  return result;
}

void CDesktopHost::JobFinished(const JobCounts& counts, bool stopped) {
  const std::string caption = stopped ? std::string() : LoadResString(IDS_RESULTS_CAPTION);
  Message(FormatSummary(counts), caption, Notice::Information, Answer::Ok);
  if (stopped) return;
  QMetaObject::invokeMethod(this, [this] { emit conversionDone(); }, Qt::QueuedConnection);
}
