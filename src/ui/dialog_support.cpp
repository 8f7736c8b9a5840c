#include "ui/dialog_support.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QTranslator>

#include "engine/host.h"
#include "services/strings.h"
#include "ui/aux_dialogs.h"
#include "ui/controls.h"
#include "ui/format_dialogs.h"
#include "ui/interactive_dlg.h"
#include "ui/main_window.h"
#include "ui/page_watermarks.h"
#include "ui/progress_dlg.h"
#include "ui/split_dlg.h"

std::function<void(QDialog&)> DialogRunHook;

int RunModal(QDialog& dialog) {
  if (!DialogRunHook) return dialog.exec();
  dialog.setResult(QDialog::Rejected);
  dialog.show();
  DialogRunHook(dialog);
  if (dialog.isVisible()) dialog.reject();
  return dialog.result();
}

bool ReadIntEdit(QWidget* parent, QLineEdit* edit, int& value, int minimum, int maximum) {
  bool ok = false;
  const int number = edit->text().trimmed().toInt(&ok);
  QString message;
  if (!ok)
    message = Ui("Введите целое число.");
  else if (number < minimum || number > maximum)
    message = Ui("Введите целое число от %1 до %2.").arg(minimum).arg(maximum);
  if (message.isEmpty()) {
    value = number;
    return true;
  }
  ShowMessageBox(parent, message, QString(), Notice::Warning);
  edit->setFocus();
  edit->selectAll();
  return false;
}

void InstallDialogServices() {
  CDesktopHost::InteractiveHook = [](InteractiveRequest& request, QWidget* parent) {
    return RunInteractiveDialog(request, parent);
  };
  InstallFormatSetupHook();
  DesktopServices& services = GetDesktopServices();
  services.renameDialog = RunRenameProperties;
  services.generalSettings = RunSystemProperties;
  services.splitTool = RunSplitDialog;
  WatermarkDialogs& watermark = GetWatermarkDialogs();
  watermark.adjustMargins = RunPosAdjust;
  watermark.adjustShadow = RunShadowAdjust;
}

QTranslator* InstallQtTranslations() {
  if (LanguageLibraryLoaded()) return nullptr;  // the interface is English
  auto* translator = new QTranslator(QCoreApplication::instance());
  // qt_ru pulls in the modules' catalogues (qtbase_ru: buttons, dialogs).
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QStringLiteral("qt_ru"), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}
