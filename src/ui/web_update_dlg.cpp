#include "ui/web_update_dlg.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDesktopServices>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "services/strings.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/main_window.h"

long CWebUpdateDlg::ConnectTimeoutMs = 10000;
long CWebUpdateDlg::TotalTimeoutMs = 15000;
std::function<bool(QWidget*, const QString&, bool)> CWebUpdateDlg::MessageHook;
std::function<void(const QUrl&)> CWebUpdateDlg::OpenUrlHook;

namespace {

QString Qs(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string Std(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

// ---- CIpAddressCtrl --------------------------------------------------------------------------

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  for (size_t i = 0; i < fields_.size(); ++i) {
    auto* field = new QLineEdit(this);
    field->setValidator(new QIntValidator(0, 255, field));
    field->setMaxLength(3);
    field->setAlignment(Qt::AlignCenter);
    field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
    fields_[i] = field;
    row->addWidget(field);
    if (i + 1 < fields_.size()) row->addWidget(new QLabel(QStringLiteral("."), this));
  }
  row->addStretch(1);
  for (size_t i = 0; i < fields_.size(); ++i) {
    QLineEdit* field = fields_[i];
    field->installEventFilter(this);
    QLineEdit* next = i + 1 < fields_.size() ? fields_[i + 1] : nullptr;
    // Three digits move on to the next field.
    connect(field, &QLineEdit::textEdited, this, [this, next](const QString& text) {
      if (next && text.size() == 3) {
        EnterField(next);
        advanced_ = next;
      }
    });
  }
}

void CIpAddressCtrl::EnterField(QLineEdit* field) {
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();  // typing replaces what the field held
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
  const auto it = std::find(fields_.begin(), fields_.end(), watched);
  if (it == fields_.end()) return QWidget::eventFilter(watched, event);
  QLineEdit* field = *it;
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Reached by a third digit and nothing typed here yet.
    const bool advancedHere = advanced_ == field;
    advanced_ = nullptr;
    const bool separator = key->key() == Qt::Key_Period || key->key() == Qt::Key_Comma ||
                           key->key() == Qt::Key_Space;
    if (separator) {
      // A typed dot ends the number and moves on to the next field. It is
      // ignored in an empty field, in the last one, and right after a third
      // digit moved on already ("192.168" is typed with its dot).
      const auto next = it + 1;
      if (next != fields_.end() && !field->text().isEmpty() && !advancedHere) EnterField(*next);
      return true;
    }
    if (field->text() == QStringLiteral("0") && key->text().size() == 1 && key->text()[0].isDigit()) {
      // A digit typed into a field that shows 0 replaces the 0, wherever
      // the cursor is ("0" then "1" is 1, never 01 or 10).
      field->setText(key->text());
      emit field->textEdited(field->text());
      return true;
    }
    if (key->key() == Qt::Key_Backspace && field->cursorPosition() == 0 && !field->hasSelectedText() &&
        it != fields_.begin()) {
      // Backspace at the start goes back to the end of the previous field.
      QLineEdit* previous = *(it - 1);
      previous->setFocus(Qt::OtherFocusReason);
      previous->deselect();
      previous->end(false);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CIpAddressCtrl::SetAddress(uint32_t address) {
  for (size_t i = 0; i < fields_.size(); ++i)
    fields_[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xff));
}

uint32_t CIpAddressCtrl::Address() const {
  uint32_t address = 0;
  for (size_t i = 0; i < fields_.size(); ++i) {
    uint32_t part = std::min(255u, fields_[i]->text().toUInt());
    address |= part << (24 - 8 * i);
  }
  return address;
}

QString CIpAddressCtrl::Text() const {
  const uint32_t a = Address();
  return QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 0xff).arg((a >> 8) & 0xff).arg(a & 0xff);
}

// ---- CWebUpdateDlg -------------------------------------------------------------------------

CWebUpdateDlg::CWebUpdateDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("Настройка соединения и проверка обновлений"));

  modeEnv_ = new QRadioButton(Ui("Использовать настройки прокси из MS Internet Explorer"), this);
  modeNamed_ = new QRadioButton(Ui("Использовать следующие настройки прокси"), this);
  auto* modes = new QButtonGroup(this);
  modes->addButton(modeEnv_, 0);
  modes->addButton(modeNamed_, 1);

  address_ = new CIpAddressCtrl(this);
  port_ = new QLineEdit(this);
  port_->setValidator(new QIntValidator(0, 65535, port_));
  port_->setMaxLength(5);
  user_ = new QLineEdit(this);
  password_ = new QLineEdit(this);
  password_->setEchoMode(QLineEdit::Password);

  auto* grid = new QGridLayout;
  grid->setContentsMargins(24, 0, 0, 0);
  grid->addWidget(new QLabel(Ui("Адрес"), this), 0, 0);
  grid->addWidget(address_, 0, 1);
  grid->addWidget(new QLabel(Ui("Порт"), this), 1, 0);
  grid->addWidget(port_, 1, 1);
  userLabel_ = new QLabel(Ui("Пользователь"), this);
  passwordLabel_ = new QLabel(Ui("Пароль"), this);
  grid->addWidget(userLabel_, 2, 0);
  grid->addWidget(user_, 2, 1);
  grid->addWidget(passwordLabel_, 3, 0);
  grid->addWidget(password_, 3, 1);
  // User name and password are kept but not offered.
  for (QWidget* w : {static_cast<QWidget*>(userLabel_), static_cast<QWidget*>(user_),
                     static_cast<QWidget*>(passwordLabel_), static_cast<QWidget*>(password_)})
    w->hide();

  check_ = new QPushButton(Ui("Проверить обновление..."), this);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  auto* cancel = new QPushButton(Ui("Отмена"), this);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(check_);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(modeEnv_);
  layout->addWidget(modeNamed_);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  connect(modeEnv_, &QRadioButton::clicked, this, &CWebUpdateDlg::ApplyEnabling);
  connect(modeNamed_, &QRadioButton::clicked, this, &CWebUpdateDlg::ApplyEnabling);
  connect(check_, &QPushButton::clicked, this, &CWebUpdateDlg::CheckNow);
  connect(ok_, &QPushButton::clicked, this, &CWebUpdateDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CWebUpdateDlg::reject);

  const CSettings& s = GetSettings();
  proxyAddress = s.ProxyIP;
  proxyPort = s.ProxyPort;
  mode = s.ProxySettingsMode;
  LoadControls();
  ApplyEnabling();
}

CWebUpdateDlg::~CWebUpdateDlg() {
  if (checking_) QApplication::restoreOverrideCursor();
}

void CWebUpdateDlg::LoadControls() {
  address_->SetAddress(proxyAddress);
  port_->setText(QString::number(proxyPort));
  user_->setText(user);
  password_->setText(password);
  modeEnv_->setChecked(mode == 0);
  modeNamed_->setChecked(mode == 1);
  if (mode != 0 && mode != 1) {
    // Neither radio button stands for another value.
    modeEnv_->setAutoExclusive(false);
    modeNamed_->setAutoExclusive(false);
    modeEnv_->setChecked(false);
    modeNamed_->setChecked(false);
    modeEnv_->setAutoExclusive(true);
    modeNamed_->setAutoExclusive(true);
  }
}

void CWebUpdateDlg::StoreControls() {
  proxyAddress = address_->Address();
  proxyPort = port_->text().toInt();
  user = user_->text();
  password = password_->text();
  if (modeEnv_->isChecked())
    mode = 0;
  else if (modeNamed_->isChecked())
    mode = 1;
}

void CWebUpdateDlg::ApplyEnabling() {
  StoreControls();
  if (mode != 0 && mode != 1) return;
  const bool named = mode == 1;
  address_->setEnabled(named);
  port_->setEnabled(named);
  user_->setEnabled(named);
  password_->setEnabled(named);
}

void CWebUpdateDlg::accept() {
  if (checking_) return;
  StoreControls();
  CSettings& s = GetSettings();
  s.ProxyIP = proxyAddress;
  s.ProxyPort = proxyPort;
  s.ProxySettingsMode = mode;
  QDialog::accept();
}

void CWebUpdateDlg::reject() {
  // Closing during a check leaves the check to end on its own thread; its
  // answer is then dropped.
  ++checkSerial_;
  SetChecking(false);
  QDialog::reject();
}

void CWebUpdateDlg::SetChecking(bool on) {
  if (on == checking_) return;
  checking_ = on;
  check_->setEnabled(!on);
  ok_->setEnabled(!on);
  if (on)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void CWebUpdateDlg::CheckNow() {
  if (checking_) return;
  StoreControls();
  const CSettings& s = GetSettings();
  UpdateCheckRequest request;
  request.mode = mode;
  request.versionUrl = s.ProxyAddressVer;
  request.proxyHost = Std(address_->Text());
  request.proxyPort = Std(port_->text());
  request.user = Std(user);
  request.password = Std(password);
  request.connectTimeoutMs = ConnectTimeoutMs;
  request.totalTimeoutMs = TotalTimeoutMs;
  const QString homePage = Qs(s.ProxyAddressHomePage);

  auto result = std::make_shared<UpdateCheckOutcome>();
  QThread* thread = QThread::create([request, result] { *result = CheckForUpdate(request); });
  connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  const int serial = ++checkSerial_;
  connect(thread, &QThread::finished, this, [this, result, homePage, serial] {
    if (serial == checkSerial_) OnCheckDone(*result, homePage);
  });
  SetChecking(true);
  thread->start();
}

void CWebUpdateDlg::OnCheckDone(const UpdateCheckOutcome& outcome, const QString& homePage) {
  SetChecking(false);
  const QString text = Qs(UpdateMessageText(outcome));
  const QString title = ResString(IDS_APP_NAME);
  const int id = UpdateMessageId(outcome.result);
  if (outcome.result == UpdateResult::NewVersion) {
    bool yes;
    if (MessageHook) {
      yes = MessageHook(this, text, true);
    } else {
      yes = QMessageBox(QMessageBox::Information, title, text, QMessageBox::Yes | QMessageBox::No, this)
                .exec() == QMessageBox::Yes;
    }
    if (yes) {
      // Its outcome is not checked.
      const QUrl url = QUrl::fromUserInput(homePage);
      if (OpenUrlHook)
        OpenUrlHook(url);
      else
        QDesktopServices::openUrl(url);
    }
  } else if (MessageHook) {
    MessageHook(this, text, false);
  } else {
    const auto icon =
        outcome.result == UpdateResult::NoUpdate ? QMessageBox::Information : QMessageBox::Warning;
    QMessageBox(icon, title, text, QMessageBox::Ok, this).exec();
  }
  emit checkFinished(id);
}

// ---- installed into the desktop program ---------------------------------------------------

namespace {

struct InstallUpdateCheck {
  InstallUpdateCheck() {
    GetDesktopServices().updateCheck = [](QWidget* parent) {
      CWebUpdateDlg dialog(parent);
      dialog.exec();
    };
  }
} g_installUpdateCheck;

}  // namespace
