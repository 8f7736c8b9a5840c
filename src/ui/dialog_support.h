// What the small modal dialogs of the program share: running a dialog
// modally (replaceable for tests), reading whole numbers from edits with the
// standard refusal messages, and installing the dialogs where the main
// window, the watermark page, the job host and the output formats look for
// them.
#pragma once

#include <QString>
#include <climits>
#include <functional>

class QDialog;
class QLineEdit;
class QWidget;

// Runs dialog modally and returns QDialog's result (Accepted or Rejected).
// With DialogRunHook set, the dialog is shown without a modal loop and the
// hook is called with it; the hook closes it (a button, a key) or the
// dialog is rejected when the hook returns.
int RunModal(QDialog& dialog);
extern std::function<void(QDialog& dialog)> DialogRunHook;

// Reads a whole number (blanks around it and a sign allowed) from edit into
// value. A text that is not a whole number, or one outside minimum..maximum,
// is refused: the standard message is shown over parent ("Введите целое
// число." or "Введите целое число от %1 до %2."), the focus goes to the edit
// with its text selected, value is unchanged and the result is false.
bool ReadIntEdit(QWidget* parent, QLineEdit* edit, int& value, int minimum = INT_MIN,
                 int maximum = INT_MAX);

// Installs every dialog of this group: the interactive adjustment dialog
// (CDesktopHost::InteractiveHook), the format option dialogs
// (COutputFormat::SetupHook), the rename, general settings and split
// dialogs (GetDesktopServices()), and the margin and shadow dialogs of the
// watermark page (GetWatermarkDialogs()). Called once at start-up, after the
// QApplication exists.
void InstallDialogServices();

class QTranslator;

// Qt's own texts (the standard buttons, the file, colour and font dialogs)
// in the interface's language: with the Russian interface (no English
// library loaded) Qt's Russian translations are installed into the
// application. Returns the installed translator (owned by the application),
// or nullptr when the interface is English or the translations are missing.
QTranslator* InstallQtTranslations();
