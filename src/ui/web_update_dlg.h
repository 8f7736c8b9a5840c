// CWebUpdateDlg: "Настройка соединения и проверка обновлений": the proxy
// settings of the update check and the button that runs it. The check runs
// on its own thread; the dialog stays responsive and shows the wait cursor
// meanwhile.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>

#include "services/update_check.h"

class QLabel;
class QPushButton;
class QRadioButton;

// An IPv4 address in four fields of 0 to 255; an empty field reads as 0.
// Typed the way people type addresses: "10.0.0.1" fills the four fields
// (a dot or a third digit moves on; entering a field selects its number,
// so the shown 0 is replaced).
class CIpAddressCtrl : public QWidget {
  Q_OBJECT
 public:
  explicit CIpAddressCtrl(QWidget* parent = nullptr);
  // The first number is the most significant byte.
  void SetAddress(uint32_t address);
  uint32_t Address() const;
  // Dotted form, as shown ("10.0.0.1").
  QString Text() const;
  QLineEdit* Field(int i) const { return fields_[size_t(i)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static void EnterField(QLineEdit* field);

  QLineEdit* advanced_ = nullptr;  // the field a third digit moved on to
  std::array<QLineEdit*, 4> fields_{};
};

class CWebUpdateDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTemplateId = 208;

  explicit CWebUpdateDlg(QWidget* parent = nullptr);
  ~CWebUpdateDlg() override;

  // Members <-> controls.
  void LoadControls();
  void StoreControls();
  // Mode 0 disables address, port, user and password; mode 1 enables them.
  void ApplyEnabling();
  // "Проверить обновление...": starts the check with what the dialog shows.
  void CheckNow();
  bool Checking() const { return checking_; }

  // Members, in the order of the dialog's data.
  uint32_t proxyAddress = 0;
  int proxyPort = 0;
  QString user;
  QString password;
  int mode = 0;

  // Parts for the tests.
  CIpAddressCtrl* AddressCtrl() const { return address_; }
  QLineEdit* PortEdit() const { return port_; }
  QRadioButton* ModeButton(int i) const { return i == 0 ? modeEnv_ : modeNamed_; }
  QPushButton* CheckButton() const { return check_; }

  // Time-outs of the check (milliseconds); tests shorten them.
  static long ConnectTimeoutMs;
  static long TotalTimeoutMs;
  // Replaces the message boxes: returns true for "Yes" of the question.
  static std::function<bool(QWidget* parent, const QString& text, bool question)> MessageHook;
  // Replaces opening the home page.
  static std::function<void(const QUrl& url)> OpenUrlHook;

 signals:
  // The check has ended and its message was shown.
  void checkFinished(int messageId);

 public slots:
  // OK: the members into the settings record (not while a check runs).
  void accept() override;
  // "Отмена": nothing stored; a running check ends on its own thread.
  void reject() override;

 private:
  void OnCheckDone(const UpdateCheckOutcome& outcome, const QString& homePage);
  void SetChecking(bool on);

  CIpAddressCtrl* address_ = nullptr;
  QLineEdit* port_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLabel* userLabel_ = nullptr;
  QLabel* passwordLabel_ = nullptr;
  QRadioButton* modeEnv_ = nullptr;
  QRadioButton* modeNamed_ = nullptr;
  QPushButton* check_ = nullptr;
  QPushButton* ok_ = nullptr;
  bool checking_ = false;
  // Counts the checks; an answer of an earlier one is dropped.
  int checkSerial_ = 0;
};
