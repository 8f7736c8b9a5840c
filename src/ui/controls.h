// Reusable controls of the desktop program's dialogs: the history combo box,
// the tooltip window, the image view, the page host dialog and the folder
// picker, with the helpers they share.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class CImage;
class QSettings;
class QDataStream;

// ---- helpers -----------------------------------------------------------------

// The image as a QImage (a deep copy): 24-bit and palette images as RGB32,
// images with an alpha plane as ARGB32. Empty for an invalid image.
QImage CImageToQImage(const CImage& image);

// The application profile: an INI file under $XDG_CONFIG_HOME/Lumaro/
// ($HOME/.config/Lumaro/ when the variable is not set or not absolute).
QString ProfileFilePath();
std::unique_ptr<QSettings> OpenProfile();

// An interface text in the current language (UiText of the Russian original).
QString Ui(const char* russian);
// A numbered string of the current language.
QString ResString(int id);

// ---- CHistoryCombo -----------------------------------------------------------

// A combo box whose list is a history kept in the application profile: entries
// "<prefix><index>" in one section, newest first, at most MaxEntries(), and
// optionally the last current text under its own key.
class CHistoryCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit CHistoryCombo(QWidget* parent = nullptr, bool allowSorting = false);

  // Reads the history; returns the current text read (empty when the
  // section or the key prefix is empty, in which case nothing changes).
  QString LoadHistory(const QString& section, const QString& keyPrefix,
                      bool restoreCurrent = true, const QString& currentKey = QString());
  // Writes the history back (adding the current text first when asked).
  void SaveHistory(bool addCurrentFirst = true);
  // Puts text (trimmed) at the top, drops an older copy of it (compared
  // without regard to case) and entries beyond the maximum; selects it and
  // returns its index (0).
  int AddToHistory(const QString& text);
  // Adds the current text; with skipEmpty an empty text is not added.
  void AddCurrentToHistory(bool skipEmpty = true);

  // Archive: a 16-bit count, the entries, the current text.
  void WriteArchive(QDataStream& out) const;
  void ReadArchive(QDataStream& in);

  int MaxEntries() const { return maxEntries_; }
  void SetMaxEntries(int n) { maxEntries_ = n < 1 ? 1 : n; }
  bool AllowSorting() const { return allowSorting_; }
  // The key holding the last current text.
  QString CurrentKey() const;

 private:
  // Finds text among the entries from index `from` on, without regard to case.
  int FindExact(const QString& text, int from = 0) const;
  void SelectOrEdit(const QString& text);

  QString section_;
  QString prefix_;
  QString currentKey_;
  bool restoreCurrent_ = true;
  int maxEntries_ = 10;
  bool allowSorting_ = false;
};

// ---- CInfoTip ------------------------------------------------------------------

// The tooltip window of the main window: shown 500 ms after the pointer came
// to rest over a control, hidden after 5 s unless the pointer rests on the
// tip itself, hidden by any button press or key. Texts wrap at the tool's
// width limit; a text with a carriage return has a short form (before it)
// and a long form that a click on the tip switches to.
class CInfoTip : public QWidget {
  Q_OBJECT
 public:
  static constexpr quint32 kSystemColour = 0xFF000000u;

  explicit CInfoTip(QWidget* owner);
  ~CInfoTip() override;

  // Registers a control with its text. A text that is empty shows no tip.
  void AddTool(QWidget* control, const QString& text);
  // The same with a numbered string of the current language.
  void AddToolString(QWidget* control, int stringId);
  // Width limit of new tools (0 = no wrapping); tools that still had the old
  // default follow the change. Returns the old value.
  int SetWidthLimit(int pixels);
  void SetTipFont(const QFont& font);
  void SetColours(quint32 textRgb, quint32 backgroundRgb);  // kSystemColour = system

  // Timing (defaults 500, 500, 5000 ms) and the pointer position, which a
  // test may replace.
  void SetTiming(int initialDelayMs, int checkPeriodMs, int showLimitMs);
  void SetCursorSource(std::function<QPoint()> source) { cursor_ = std::move(source); }

  // State for the owner and for tests.
  QWidget* CurrentTool() const { return current_; }
  bool IsTipShown() const { return isVisible(); }
  QString ShownText() const { return shownText_; }
  QSize TipSizeFor(const QString& text, int widthLimit) const;
  // The text registered for a control (empty when it has none).
  QString ToolText(QWidget* control) const;
  // Forgets the tool under the pointer and hides the tip.
  void HideTip();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct Tool {
    QPointer<QWidget> control;
    QString text;
    int widthLimit = 0;
  };
  Tool* FindTool(QWidget* control);
  void PointerOver(QWidget* control);
  void OnInitialTimer();
  void OnCheckTimer();
  bool CursorOverTool() const;
  bool CursorOverTip() const;
  void Layout(const Tool& tool);
  QString VisibleText(const Tool& tool) const;

  QWidget* owner_;
  std::vector<Tool> tools_;
  QWidget* current_ = nullptr;
  int widthLimit_ = 0;
  int initialDelay_ = 500;
  int checkPeriod_ = 500;
  int showLimit_ = 5000;
  int shownMs_ = 0;
  bool longForm_ = false;
  bool explicitFont_ = false;
  quint32 textColour_ = kSystemColour;
  quint32 backColour_ = kSystemColour;
  QString shownText_;
  QTimer initialTimer_;
  QTimer checkTimer_;
  std::function<QPoint()> cursor_;
};

// ---- CImageView -----------------------------------------------------------------

// Paints an image of the image library at its own size (or stretched with a
// selection rectangle in fit mode); grey without an image. The image is not
// owned: the owner calls update() after changing it. A window text, when
// set, is drawn over the image on one line.
class CImageView : public QWidget {
  Q_OBJECT
 public:
  explicit CImageView(QWidget* parent = nullptr);

  void SetImage(const CImage* image);
  const CImage* Image() const { return image_; }
  void SetFit(bool fit) { fit_ = fit; update(); }
  void SetScrollOffset(QPoint offset) { offset_ = offset; update(); }
  void SetMouseScrolling(bool on) { mouseScrolling_ = on; }
  void SetSelection(const QRect& rect) { selection_ = rect; update(); }
  void SetText(const QString& text) { text_ = text; update(); }
  void SetTextAlignment(Qt::Alignment alignment) { alignment_ = alignment; update(); }
  // The picture as painted (for tests and screenshots).
  QImage Render() const;

  QSize sizeHint() const override { return QSize(160, 120); }

 signals:
  // Mouse scrolling: the direction in which the owner should page.
  void scrollRequested(int dx, int dy);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void PaintOn(QPainter& painter) const;

  const CImage* image_ = nullptr;
  bool fit_ = false;
  QPoint offset_;
  bool mouseScrolling_ = false;
  QPoint lastMouse_;
  QRect selection_;
  QString text_;
  Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
};

// ---- CPageHostDlg ------------------------------------------------------------------

// A dialog that hosts child pages in a placeholder area. A derived class
// creates the page widget for a template id and hears when a page is shown
// or hidden. Pages start hidden; showing one does not hide the others.
class CPageHostDlg : public QDialog {
  Q_OBJECT
 public:
  struct PageRecord {
    bool created = false;
    bool visible = false;
    int templateId = 0;
    QWidget* page = nullptr;  // owned through the placeholder
    qintptr user1 = 0, user2 = 0, user3 = 0;
  };

  explicit CPageHostDlg(QWidget* parent = nullptr);

  // The area the pages are placed in (created by the host; the derived
  // class puts it into its layout).
  QWidget* Placeholder() const { return placeholder_; }

  // Creates the page through CreatePage and places it at the placeholder's
  // top-left corner, hidden. Returns the page's index or -1.
  int AddPage(int templateId, qintptr user1 = 0, qintptr user2 = 0, qintptr user3 = 0);
  void ShowPage(int index);
  void HidePage(int index);
  // Index of the first visible page, or -1.
  int FindVisiblePage() const;
  int PageCount() const { return int(pages_.size()); }
  const PageRecord& Page(int index) const { return pages_[size_t(index)]; }

 protected:
  virtual QWidget* CreatePage(int templateId) = 0;
  virtual void OnPageShown(int templateId, bool shown) {
    (void)templateId;
    (void)shown;
  }

 private:
  QWidget* placeholder_;
  std::vector<PageRecord> pages_;
};

// ---- CFolderBrowser -------------------------------------------------------------------

// Picks a folder with the system's folder dialog.
class CFolderBrowser {
 public:
  explicit CFolderBrowser(const QString& title = QString()) : title_(title) {}
  // Shows the dialog starting at startFolder (the home folder when empty);
  // true with ResultPath() set when the user chose a folder.
  bool Browse(QWidget* parent = nullptr, const QString& startFolder = QString());
  const QString& ResultPath() const { return result_; }
  const QString& Title() const { return title_; }

  // Replaces the dialog (tests): returns the chosen folder or an empty text.
  static std::function<QString(QWidget*, const QString& title, const QString& start)> DialogHook;

 private:
  QString title_;
  QString result_;
};
