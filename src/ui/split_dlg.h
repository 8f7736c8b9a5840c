// CMultipageDisasmDlg ("Разобрать многокадровый файл"): the user names a
// multi-frame GIF, TIFF or icon file and a folder; "Разобрать" writes every
// frame there as a file of its own. The dialog stays open for further
// splits until "Закрыть".
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;
class QPushButton;

class CMultipageDisasmDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CMultipageDisasmDlg(QWidget* parent = nullptr);

  QString FileName;
  QString Folder;

  void LoadControls();
  void StoreControls();
  int DoModal();

  // "..." beside the file, "..." beside the folder, "Разобрать".
  void OnBrowseFile();
  void OnBrowseFolder();
  void OnSplit();

  // The open-file dialog (replaceable for tests): given the filter in Qt's
  // form, returns the chosen path or an empty text.
  static std::function<QString(QWidget* parent, const QString& filter)> FileDialogHook;
  // The file dialog's filter, as the string table writes it.
  static QString FileFilter();

  QLineEdit* FileEdit() const { return file_; }
  QLineEdit* FolderEdit() const { return folder_; }
  QPushButton* BrowseFileButton() const { return browseFile_; }
  QPushButton* BrowseFolderButton() const { return browseFolder_; }
  QPushButton* SplitButton() const { return split_; }
  QPushButton* CloseButton() const { return close_; }

 private:
  QLineEdit* file_ = nullptr;
  QLineEdit* folder_ = nullptr;
  QPushButton* browseFile_ = nullptr;
  QPushButton* browseFolder_ = nullptr;
  QPushButton* split_ = nullptr;
  QPushButton* close_ = nullptr;
};

// The main window's menu item "Разобрать многокадровый GIF/TIFF/ICO".
void RunSplitDialog(QWidget* parent);
