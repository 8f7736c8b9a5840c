#include "ui/controls.h"

#include <QApplication>
#include <QCursor>
#include <QDataStream>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTextLayout>
#include <QToolTip>
#include <cstdlib>

#include "imaging/image.h"
#include "services/strings.h"

// ---- helpers -------------------------------------------------------------------

QImage CImageToQImage(const CImage& image) {
  if (!image.IsValid()) return QImage();
  const int w = image.GetWidth();
  const int h = image.GetHeight();
  const int bpp = image.GetBpp();
  const bool alpha = image.AlphaIsValid();
  QImage out(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (out.isNull()) return QImage();
  const RGBQuad* pal = image.GetPalette();
  const int palSize = int(image.GetNumColors());
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = image.TopRow(y);
    const uint8_t* a = alpha ? image.AlphaGetPointer(0, h - 1 - y) : nullptr;
    auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < w; ++x) {
      int r = 0, g = 0, b = 0;
      if (bpp == 24) {
        b = src[x * 3];
        g = src[x * 3 + 1];
        r = src[x * 3 + 2];
      } else {
        int index = 0;
        if (bpp == 8) {
          index = src[x];
        } else if (bpp == 4) {
          index = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
        } else if (bpp == 1) {
          index = (src[x >> 3] >> (7 - (x & 7))) & 1;
        }
        if (pal && index < palSize) {
          b = pal[index].blue;
          g = pal[index].green;
          r = pal[index].red;
        }
      }
      dst[x] = qRgba(r, g, b, a ? a[x] : 255);
    }
  }
  return out;
}

QString ProfileFilePath() {
  QString base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = QString::fromLocal8Bit(xdg);
  } else {
    const char* home = std::getenv("HOME");
    base = QString::fromLocal8Bit(home && *home ? home : "/") + QStringLiteral("/.config");
  }
  return QDir::cleanPath(base + QStringLiteral("/Lumaro/lumaro.ini"));
}

std::unique_ptr<QSettings> OpenProfile() {
  return std::make_unique<QSettings>(ProfileFilePath(), QSettings::IniFormat);
}

QString Ui(const char* russian) { return QString::fromStdString(UiText(russian)); }

QString ResString(int id) { return QString::fromStdString(LoadResString(id)); }

// ---- CHistoryCombo -----------------------------------------------------------

CHistoryCombo::CHistoryCombo(QWidget* parent, bool allowSorting)
    : QComboBox(parent), allowSorting_(allowSorting) {
  // The history keeps its own order: insertion never sorts.
  setInsertPolicy(QComboBox::NoInsert);
}

QString CHistoryCombo::CurrentKey() const {
  if (!currentKey_.isEmpty()) return currentKey_;
  if (!prefix_.isEmpty()) return prefix_;
  return QStringLiteral("Last");
}

int CHistoryCombo::FindExact(const QString& text, int from) const {
  for (int i = from; i < count(); ++i)
    if (itemText(i).compare(text, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

void CHistoryCombo::SelectOrEdit(const QString& text) {
  int found = FindExact(text);
  if (found >= 0)
    setCurrentIndex(found);
  else if (isEditable())
    setEditText(text);
}

QString CHistoryCombo::LoadHistory(const QString& section, const QString& keyPrefix,
                                   bool restoreCurrent, const QString& currentKey) {
  if (section.isEmpty() || keyPrefix.isEmpty()) return QString();
  clear();
  section_ = section;
  prefix_ = keyPrefix;
  restoreCurrent_ = restoreCurrent;
  currentKey_ = currentKey;
  auto profile = OpenProfile();
  profile->beginGroup(section_);
  for (int i = 0; i < maxEntries_; ++i) {
    QString value = profile->value(prefix_ + QString::number(i)).toString();
    if (value.isEmpty()) break;
    addItem(value);
  }
  QString current;
  if (restoreCurrent_) {
    current = profile->value(CurrentKey()).toString();
    SelectOrEdit(current);
  }
  profile->endGroup();
  return current;
}

int CHistoryCombo::AddToHistory(const QString& text) {
  const QString entry = text.trimmed();
  insertItem(0, entry);
  int older = FindExact(entry, 1);
  if (older > 0) removeItem(older);
  while (count() > maxEntries_) removeItem(count() - 1);
  setCurrentIndex(0);
  return 0;
}

void CHistoryCombo::AddCurrentToHistory(bool skipEmpty) {
  const QString text = currentText();
  if (skipEmpty && text.trimmed().isEmpty()) return;
  AddToHistory(text);
}

void CHistoryCombo::SaveHistory(bool addCurrentFirst) {
  if (section_.isEmpty()) return;
  const QString current = currentText();
  if (addCurrentFirst && !current.isEmpty()) AddToHistory(current);
  auto profile = OpenProfile();
  profile->beginGroup(section_);
  const int written = std::min(maxEntries_ + 1, count());
  for (int i = 0; i < written; ++i) profile->setValue(prefix_ + QString::number(i), itemText(i));
  for (int i = written; i < 1000; ++i) {
    const QString key = prefix_ + QString::number(i);
    if (!profile->contains(key)) break;
    profile->remove(key);
  }
  if (restoreCurrent_) profile->setValue(CurrentKey(), currentText());
  profile->endGroup();
  profile->sync();
}

void CHistoryCombo::WriteArchive(QDataStream& out) const {
  out << quint16(count());
  for (int i = 0; i < count(); ++i) out << itemText(i);
  out << currentText();
}

void CHistoryCombo::ReadArchive(QDataStream& in) {
  clear();
  quint16 n = 0;
  in >> n;
  for (int i = 0; i < n && in.status() == QDataStream::Ok; ++i) {
    QString entry;
    in >> entry;
    addItem(entry);
  }
  QString current;
  in >> current;
  SelectOrEdit(current);
}

// ---- CInfoTip ----------------------------------------------------------------------

namespace {
constexpr int kMarginLeft = 2, kMarginTop = 2, kMarginRight = 3, kMarginBottom = 3;
const QPoint kCursorOffset(0, 20);

QColor FromRgbValue(quint32 rgb) {  // 0x00BBGGRR
  return QColor(int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int((rgb >> 16) & 0xFF));
}
}  // namespace

CInfoTip::CInfoTip(QWidget* owner)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      owner_(owner),
      cursor_([] { return QCursor::pos(); }) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  setFont(QToolTip::font());
  initialTimer_.setSingleShot(true);
  connect(&initialTimer_, &QTimer::timeout, this, &CInfoTip::OnInitialTimer);
  connect(&checkTimer_, &QTimer::timeout, this, &CInfoTip::OnCheckTimer);
  // The tip lives as long as its owner.
  if (owner_) connect(owner_, &QObject::destroyed, this, &QObject::deleteLater);
}

CInfoTip::~CInfoTip() { qApp->removeEventFilter(this); }

void CInfoTip::AddTool(QWidget* control, const QString& text) {
  if (!control) return;
  if (Tool* existing = FindTool(control)) {
    existing->text = text;
    return;
  }
  tools_.push_back(Tool{control, text, widthLimit_});
  control->installEventFilter(this);
}

void CInfoTip::AddToolString(QWidget* control, int stringId) {
  AddTool(control, ResString(stringId));
}

int CInfoTip::SetWidthLimit(int pixels) {
  const int old = widthLimit_;
  for (Tool& tool : tools_)
    if (tool.widthLimit == old) tool.widthLimit = pixels;
  widthLimit_ = pixels;
  return old;
}

void CInfoTip::SetTipFont(const QFont& font) {
  explicitFont_ = true;
  setFont(font);
}

void CInfoTip::SetColours(quint32 textRgb, quint32 backgroundRgb) {
  textColour_ = textRgb;
  backColour_ = backgroundRgb;
  update();
}

void CInfoTip::SetTiming(int initialDelayMs, int checkPeriodMs, int showLimitMs) {
  initialDelay_ = initialDelayMs;
  checkPeriod_ = checkPeriodMs;
  showLimit_ = showLimitMs;
}

QString CInfoTip::ToolText(QWidget* control) const {
  for (const Tool& tool : tools_)
    if (tool.control == control) return tool.text;
  return QString();
}

CInfoTip::Tool* CInfoTip::FindTool(QWidget* control) {
  for (Tool& tool : tools_)
    if (tool.control == control) return &tool;
  return nullptr;
}

void CInfoTip::HideTip() {
  initialTimer_.stop();
  checkTimer_.stop();
  if (isVisible()) hide();
  qApp->removeEventFilter(this);
}

void CInfoTip::PointerOver(QWidget* control) {
  if (control == current_) return;  // the same tool: nothing changes
  if (isVisible() && CursorOverTip()) return;
  HideTip();
  current_ = control;
  longForm_ = false;
  if (control) initialTimer_.start(initialDelay_);
}

bool CInfoTip::CursorOverTool() const {
  if (!current_ || !current_->isVisible()) return false;
  return current_->rect().contains(current_->mapFromGlobal(cursor_()));
}

bool CInfoTip::CursorOverTip() const {
  return isVisible() && frameGeometry().contains(cursor_());
}

QString CInfoTip::VisibleText(const Tool& tool) const {
  QString text = tool.text;
  const int cr = text.indexOf(QLatin1Char('\r'));
  if (cr >= 0) text = longForm_ ? text.remove(QLatin1Char('\r')) : text.left(cr);
  return text;
}

QSize CInfoTip::TipSizeFor(const QString& text, int widthLimit) const {
  QFontMetrics fm(font());
  const int flags = Qt::TextExpandTabs | (widthLimit > 0 ? Qt::TextWordWrap : 0);
  QRect bound = widthLimit > 0 ? fm.boundingRect(QRect(0, 0, widthLimit, 100000), flags, text)
                               : fm.boundingRect(QRect(0, 0, 100000, 100000), flags, text);
  return QSize(bound.width() + kMarginLeft + kMarginRight + 2,
               bound.height() + kMarginTop + kMarginBottom + 2);
}

void CInfoTip::Layout(const Tool& tool) {
  shownText_ = VisibleText(tool);
  QSize size = TipSizeFor(shownText_, tool.widthLimit);
  if (tool.text.contains(QLatin1Char('\r'))) size.rwidth() += 10;  // room for the marker
  QPoint pos = cursor_() + kCursorOffset;
  QScreen* screen = QGuiApplication::screenAt(cursor_());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->geometry();
    if (pos.x() + size.width() > area.right() + 1) pos.setX(area.right() + 1 - size.width());
    if (pos.x() < area.left()) pos.setX(area.left());
    if (pos.y() + size.height() > area.bottom() + 1 && tool.control)
      pos.setY(tool.control->mapToGlobal(QPoint(0, 0)).y() - size.height());
  }
  setGeometry(QRect(pos, size));
}

void CInfoTip::OnInitialTimer() {
  Tool* tool = FindTool(current_);
  if (!tool || !CursorOverTool()) return;
  if (VisibleText(*tool).isEmpty()) return;  // a tool without text is not shown
  Layout(*tool);
  shownMs_ = 0;
  show();
  raise();
  update();
  qApp->installEventFilter(this);
  checkTimer_.start(checkPeriod_);
}

void CInfoTip::OnCheckTimer() {
  shownMs_ += checkPeriod_;
  const bool stays = (CursorOverTool() && shownMs_ < showLimit_) || CursorOverTip();
  if (!stays) HideTip();
}

bool CInfoTip::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Enter:
    case QEvent::HoverEnter:
    case QEvent::MouseMove:
    case QEvent::HoverMove: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget && FindTool(widget)) PointerOver(widget);
      break;
    }
    case QEvent::Leave: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget && widget == current_) {
        // Leaving for the tip keeps it; leaving for anything else forgets
        // the tool once the tip is hidden.
        if (isVisible() && CursorOverTip()) break;
        HideTip();
        current_ = nullptr;
      }
      break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick: {
      if (watched == this) break;  // a click on the tip is the tip's own
      if (event->type() == QEvent::MouseButtonPress &&
          static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && CursorOverTip())
        break;
      if (isVisible() || initialTimer_.isActive()) HideTip();
      break;
    }
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
      if (isVisible() || initialTimer_.isActive()) HideTip();
      break;
    default:
      break;
  }
  return false;
}

void CInfoTip::mousePressEvent(QMouseEvent* event) {
  Tool* tool = FindTool(current_);
  if (tool && tool->text.contains(QLatin1Char('\r'))) {
    longForm_ = !longForm_;
    Layout(*tool);
    update();
  }
  event->accept();
}

void CInfoTip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette pal = QToolTip::palette();
  const QColor back = backColour_ == kSystemColour ? pal.color(QPalette::ToolTipBase)
                                                   : FromRgbValue(backColour_);
  const QColor text = textColour_ == kSystemColour ? pal.color(QPalette::ToolTipText)
                                                   : FromRgbValue(textColour_);
  p.fillRect(rect(), back);
  p.setPen(Qt::black);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  p.setPen(text);
  const QRect inner = rect().adjusted(1 + kMarginLeft, 1 + kMarginTop, -1 - kMarginRight,
                                      -1 - kMarginBottom);
  p.drawText(inner, Qt::TextExpandTabs | Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
             shownText_);
  Tool* tool = FindTool(current_);
  if (tool && tool->text.contains(QLatin1Char('\r'))) {
    // The marker: a small black triangle, pointing down for the short form.
    const int x = width() - 9, y = 5;
    QPainterPath path;
    if (longForm_) {
      path.moveTo(x, y + 4);
      path.lineTo(x + 6, y + 4);
      path.lineTo(x + 3, y);
    } else {
      path.moveTo(x, y);
      path.lineTo(x + 6, y);
      path.lineTo(x + 3, y + 4);
    }
    p.fillPath(path, Qt::black);
  }
}

// ---- CImageView ------------------------------------------------------------------------

CImageView::CImageView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CImageView::SetImage(const CImage* image) {
  image_ = image;
  update();
}

void CImageView::PaintOn(QPainter& p) const {
  const QRect client = rect();
  if (image_ && image_->IsValid()) {
    // What the image does not cover keeps the window's own background.
    p.fillRect(client, palette().color(QPalette::Window));
    const QImage picture = CImageToQImage(*image_);
    if (fit_) {
      p.drawImage(client, picture);
      if (!selection_.isNull()) {
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(selection_);
      }
    } else {
      p.drawImage(-offset_, picture);
    }
  } else {
    p.fillRect(client, QColor(128, 128, 128));
  }
  if (!text_.isEmpty()) {
    Qt::Alignment align = (alignment_ & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(client, int(align) | Qt::TextSingleLine, text_);
  }
}

void CImageView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintOn(p);
}

QImage CImageView::Render() const {
  QImage out(size(), QImage::Format_RGB32);
  out.fill(Qt::black);
  QPainter p(&out);
  PaintOn(p);
  return out;
}

void CImageView::mousePressEvent(QMouseEvent* event) {
  lastMouse_ = event->position().toPoint();
  update();
  QWidget::mousePressEvent(event);
}

void CImageView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (mouseScrolling_ && (event->buttons() & Qt::LeftButton) && image_ && image_->IsValid() &&
      (image_->GetWidth() > width() || image_->GetHeight() > height())) {
    const QPoint delta = pos - lastMouse_;
    const int dx = delta.x() > 0 ? 1 : (delta.x() < 0 ? -1 : 0);
    const int dy = delta.y() > 0 ? 1 : (delta.y() < 0 ? -1 : 0);
    if (dx || dy) emit scrollRequested(dx, dy);
  }
  lastMouse_ = pos;
  QWidget::mouseMoveEvent(event);
}

void CImageView::mouseReleaseEvent(QMouseEvent* event) {
  update();
  QWidget::mouseReleaseEvent(event);
}

// ---- CPageHostDlg -------------------------------------------------------------------------

namespace {
// The placeholder keeps every page at its top-left corner, sized to it, and
// asks for the room of the largest page.
class PagePlaceholder : public QWidget {
 public:
  explicit PagePlaceholder(QWidget* parent) : QWidget(parent) {}
  QSize minimumSizeHint() const override {
    QSize s(0, 0);
    for (QObject* child : children())
      if (auto* w = qobject_cast<QWidget*>(child)) s = s.expandedTo(w->minimumSizeHint());
    return s;
  }
  QSize sizeHint() const override {
    QSize s(0, 0);
    for (QObject* child : children())
      if (auto* w = qobject_cast<QWidget*>(child)) s = s.expandedTo(w->sizeHint());
    return s;
  }

 protected:
  void resizeEvent(QResizeEvent*) override {
    for (QObject* child : children())
      if (auto* w = qobject_cast<QWidget*>(child)) w->setGeometry(rect());
  }
};
}  // namespace

CPageHostDlg::CPageHostDlg(QWidget* parent) : QDialog(parent) {
  placeholder_ = new PagePlaceholder(this);
}

int CPageHostDlg::AddPage(int templateId, qintptr user1, qintptr user2, qintptr user3) {
  PageRecord record;
  record.templateId = templateId;
  record.user1 = user1;
  record.user2 = user2;
  record.user3 = user3;
  QWidget* page = CreatePage(templateId);
  if (!page) return -1;
  page->hide();
  page->setParent(placeholder_);
  page->setGeometry(QRect(QPoint(0, 0), placeholder_->size().expandedTo(page->sizeHint())));
  page->move(0, 0);
  page->setEnabled(true);
  page->hide();
  record.page = page;
  record.created = true;
  pages_.push_back(record);
  placeholder_->updateGeometry();
  return int(pages_.size()) - 1;
}

void CPageHostDlg::ShowPage(int index) {
  if (index < 0 || index >= PageCount() || !pages_[size_t(index)].created) return;
  PageRecord& record = pages_[size_t(index)];
  if (placeholder_->width() > 0) record.page->setGeometry(placeholder_->rect());
  record.page->show();
  record.page->update();
  record.visible = true;
  OnPageShown(record.templateId, true);
}

void CPageHostDlg::HidePage(int index) {
  if (index < 0 || index >= PageCount() || !pages_[size_t(index)].created) return;
  PageRecord& record = pages_[size_t(index)];
  record.page->hide();
  record.visible = false;
  OnPageShown(record.templateId, false);
}

int CPageHostDlg::FindVisiblePage() const {
  for (size_t i = 0; i < pages_.size(); ++i)
    if (pages_[i].visible) return int(i);
  return -1;
}

// ---- CFolderBrowser ----------------------------------------------------------------------------

std::function<QString(QWidget*, const QString&, const QString&)> CFolderBrowser::DialogHook;

bool CFolderBrowser::Browse(QWidget* parent, const QString& startFolder) {
  const QString start = startFolder.isEmpty() ? QDir::homePath() : startFolder;
  QString chosen;
  if (DialogHook)
    chosen = DialogHook(parent, title_, start);
  else
    chosen = QFileDialog::getExistingDirectory(parent, title_, start, QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty() || !QFileInfo(chosen).isDir()) return false;
  result_ = chosen;
  return true;
}
