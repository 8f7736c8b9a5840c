#include "ui/mail_ui.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include "services/mail.h"
#include "services/strings.h"
#include "ui/controls.h"
#include "ui/main_window.h"

void SendResultsByMailUi(QWidget* parent, const std::vector<std::string>& files) {
  if (files.empty() || !IsMailAvailable()) return;

  QApplication::setOverrideCursor(Qt::WaitCursor);
  QPointer<QWidget> owner = parent ? parent->window() : nullptr;
  const bool ownerEnabled = owner && owner->isEnabled();
  if (owner) owner->setEnabled(false);

  MailResult result = MailResult::SendFailed;
  QEventLoop loop;
  QThread* thread = QThread::create([&result, files] { result = SendResultsByMail(files); });
  QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
  thread->start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  thread->wait();
  delete thread;

  if (owner) {
    owner->setEnabled(ownerEnabled);
    owner->activateWindow();
  }
  QApplication::restoreOverrideCursor();

  const std::string text = MailFailureText(result);
  if (!text.empty())
    QMessageBox(QMessageBox::Warning, ResString(IDS_APP_NAME), QString::fromStdString(text),
                QMessageBox::Ok, owner)
        .exec();
}

namespace {

struct InstallMail {
  InstallMail() {
    DesktopServices& services = GetDesktopServices();
    services.mailAvailable = IsMailAvailable;
    services.sendMail = SendResultsByMailUi;
  }
} g_installMail;

}  // namespace
