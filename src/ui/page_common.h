// Pieces shared by the settings pages: the up-down arrows attached to an
// edit, the reading of numbers typed into edits, Enter and Escape, colour
// values and the file dialog's filter text.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>

class QCheckBox;
class QKeyEvent;
class QLineEdit;
class QToolButton;
class CSettingsPage;

// The up-down arrows. Unlike a spin box, the arrows are a control of their
// own attached to an edit (their buddy): they write their number into the
// edit's text, keep their own enabled state when the edit is disabled, and
// step the number the edit shows.
class CUpDown : public QWidget {
  Q_OBJECT
 public:
  CUpDown(QLineEdit* buddy, QWidget* parent = nullptr);

  void SetRange(int minimum, int maximum);
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  // Brings pos into the range and writes it into the buddy.
  void SetPos(int pos);
  // The buddy's number brought into the range (the last position written
  // when the buddy holds no number).
  int Pos() const;
  // One step up (+1) or down (-1), as a click on an arrow.
  void Step(int delta);
  QLineEdit* Buddy() const { return buddy_; }

 signals:
  // An arrow (or an arrow key in the buddy) wrote value into the buddy.
  void stepped(int value);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* buddy_;
  QToolButton* up_;
  QToolButton* down_;
  int minimum_ = 0;
  int maximum_ = 100;
  int last_ = 0;
};

// Reads an edit's text as the runtime's decimal conversion does: leading
// blanks and a sign, then digits; "12abc" is 12, "abc" and "" are 0. Values
// beyond the int range are clamped.
int ReadIntText(const QString& text);
// Reads a decimal number ("12.7", "12,7", "1e2") and truncates it toward
// zero; text that does not begin with a number is 0.
int ReadDecimalText(const QString& text);

// Writes value into an edit unless the edit already shows it (so the text
// the user is typing, "0012" or "12.7", is not rewritten under the cursor).
// reader is how the page reads that edit.
void SetEditNumber(QLineEdit* edit, int value, int (*reader)(const QString&) = ReadIntText);

// An edit that takes digits only (at most nine).
void MakeDigitsOnly(QLineEdit* edit);

// Enter and Escape on a page: Enter stores the controls; Escape stores them
// (unless storeOnEscape is false) and then closes the page's window, as its
// close button does. True when the key was one of them.
bool HandlePageKey(CSettingsPage* page, QKeyEvent* event, bool storeOnEscape = true);

// Colour values of the settings record (0x00BBGGRR) and Qt colours.
QColor ColorFromValue(uint32_t value);
uint32_t ValueFromColor(const QColor& colour);

// The file dialog filter of a string such as string 108,
// "Images|*.bmp;*.gif|All files (*.*)|*.*||", in Qt's form:
// "Images (*.bmp *.gif);;All files (*.*)". "*.*" matches every file.
QString FileDialogFilter(const QString& pairs);

// A check box whose text wraps: the box without text and a word-wrapped
// label beside it that toggles the box when clicked. Returns the row.
QWidget* WrappedCheckBox(QCheckBox* box, const QString& text, QWidget* parent);
