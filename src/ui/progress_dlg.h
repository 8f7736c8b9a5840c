// The progress dialog of a running job, and the desktop program's side of
// the engine's host interface: every call of the worker thread is carried
// to the user-interface thread; the worker waits where it needs an answer.
#pragma once

#include <QDialog>
#include <QPointer>
#include <atomic>
#include <functional>
#include <string>

#include "engine/host.h"

class QLabel;
class QProgressBar;
class QPushButton;

// "Выполнено:" with the current file, a bar and "Остановить". While it
// shows, its owner window is disabled. Pressing "Остановить" (or Esc)
// signals "eventAbort1", waits up to 2 s for "eventDone1" and closes; the
// owner is usable again then even if the worker has not finished its file.
class CProgressDlg : public QDialog {
  Q_OBJECT
 public:
  CProgressDlg();
  ~CProgressDlg() override;

  // Shows the dialog for owner's window, disabling that window when it was
  // enabled. False when there is no owner to show it for.
  bool Create(QWidget* owner);
  void SetRange(int low, int high);
  void SetCaption(const QString& text);
  void SetFileText(const QString& text);
  void Step();
  // Lets queued work run, then closes the dialog when "eventDone1" is set.
  void Pump();
  // The stop button: abort, wait up to 2 s for the worker, close.
  void Stop();
  // Closes the window and gives the owner back its enabled state.
  void DestroyWindow();

  bool IsShown() const { return shown_; }
  QWidget* Owner() const { return owner_; }
  bool OwnerDisabled() const { return ownerDisabled_; }
  int RangeLow() const { return low_; }
  int RangeHigh() const { return high_; }
  int Position() const;
  QString FileText() const;
  QPushButton* StopButton() const { return stopButton_; }

  // How long Stop waits for the worker (2000 ms).
  static constexpr int kStopWaitMs = 2000;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QPointer<QWidget> owner_;
  bool ownerDisabled_ = false;
  bool shown_ = false;
  bool stopping_ = false;
  int low_ = 0;
  int high_ = 0;
  QLabel* fileText_;
  QProgressBar* bar_;
  QPushButton* stopButton_;
};

// The desktop host of a job. Progress calls are queued to the dialog (they
// do nothing once it is gone); message boxes and the interactive dialog run
// on the user-interface thread while the worker waits for the answer.
class CDesktopHost : public QObject, public IConversionHost {
  Q_OBJECT
 public:
  CDesktopHost(QWidget* mainWindow, CProgressDlg* progress);

  void SetProgressRange(int low, int high) override;
  void SetProgressCaption(const std::string& text) override;
  void SetFileText(const std::string& text) override;
  void Step() override;
  void Pump() override;
  Answer Message(const std::string& text, const std::string& caption, Notice notice,
                 Answer defaultAnswer) override;
  int ShowInteractive(InteractiveRequest& request) override;
  // Shows the summary box (titled "Результаты конвертирования", or with the
  // application's name after a stop) and, after a normal end, queues
  // conversionDone.
  void JobFinished(const JobCounts& counts, bool stopped) override;
  uint32_t MainWindowId() const override { return mainWindowId_; }
  // Taken on the user-interface thread when a job starts.
  void SetMainWindowId(uint32_t id) { mainWindowId_ = id; }

  // Shows a message box on the user-interface thread (no marshalling).
  Answer ShowMessage(const QString& text, const QString& caption, Notice notice,
                     Answer defaultAnswer = Answer::Ok);

  // Replaces every message box of the program (tests): given the text, the
  // caption, the notice and the default answer, returns the answer.
  static std::function<Answer(const QString& text, const QString& caption, Notice notice,
                              Answer defaultAnswer)>
      MessageBoxHook;
  // The interactive adjustment dialog, installed by the dialog's own file;
  // runs on the user-interface thread with the parent to show it over.
  // Without it every file is converted unchanged (result 0).
  static std::function<int(InteractiveRequest& request, QWidget* parent)> InteractiveHook;

 signals:
  // The job ended normally and its summary was closed (queued).
  void conversionDone();
  // A message box was answered (the main window refreshes its controls).
  void messageShown();

 private:
  // The window to show a box over: the progress dialog while it shows,
  // otherwise the main window when it is enabled.
  QWidget* DialogParent() const;
  // Runs fn on the user-interface thread and waits for it.
  void RunOnUiThread(const std::function<void()>& fn);

  QPointer<QWidget> mainWindow_;
  CProgressDlg* progress_;
  std::atomic<uint32_t> mainWindowId_{0};
};

// A message box for a notice (see engine/host.h): the notice's sign, and
// "&Да" and "&Нет" with defaultAnswer on the default button for a question,
// otherwise "OK". Through CDesktopHost::MessageBoxHook when it is set.
Answer ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                      Notice notice, Answer defaultAnswer = Answer::Ok);
