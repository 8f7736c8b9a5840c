// The about box and the program's icon.
#pragma once

#include <QDialog>
#include <QIcon>

// The program's icon: a framed picture with a sun and hills.
QIcon ProgramIcon();

// "О программе Lumaro III": icon, version line, description, terms of use,
// authors, the image engine, OK.
class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  // "Lumaro III, ver. 3.0, build <date>" from the string table.
  static QString VersionLine();
};
