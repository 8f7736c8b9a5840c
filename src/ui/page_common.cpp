#include "ui/page_common.h"

#include "ui/settings_page.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QRegularExpressionValidator>
#include <QLineEdit>
#include <QRegularExpression>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>

CUpDown::CUpDown(QLineEdit* buddy, QWidget* parent) : QWidget(parent), buddy_(buddy) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  for (QToolButton* button : {up_, down_}) {
    button->setArrowType(button == up_ ? Qt::UpArrow : Qt::DownArrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedWidth(16);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    column->addWidget(button);
  }
  connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  if (buddy_) {
    setFixedHeight(buddy_->sizeHint().height());
    buddy_->installEventFilter(this);
  }
}

void CUpDown::SetRange(int minimum, int maximum) {
  minimum_ = std::min(minimum, maximum);
  maximum_ = std::max(minimum, maximum);
}

void CUpDown::SetPos(int pos) {
  last_ = std::clamp(pos, minimum_, maximum_);
  if (buddy_) {
    const QString text = QString::number(last_);
    if (buddy_->text() != text) buddy_->setText(text);
  }
}

int CUpDown::Pos() const {
  if (!buddy_) return last_;
  const QString text = buddy_->text().trimmed();
  bool ok = false;
  const int value = text.toInt(&ok);
  return std::clamp(ok ? value : last_, minimum_, maximum_);
}

void CUpDown::Step(int delta) {
  const int before = Pos();
  const long long wanted = static_cast<long long>(before) + delta;
  SetPos(int(std::clamp<long long>(wanted, minimum_, maximum_)));
  emit stepped(last_);
}

bool CUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

namespace {
// The label of a wrapped check box: a click on it is a click on the box.
class CheckLabel : public QLabel {
 public:
  CheckLabel(const QString& text, QCheckBox* box, QWidget* parent)
      : QLabel(text, parent), box_(box) {
    setWordWrap(true);
    setBuddy(box);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        box_->isEnabled())
      box_->click();
    QLabel::mouseReleaseEvent(event);
  }

 private:
  QCheckBox* box_;
};
}  // namespace

QWidget* WrappedCheckBox(QCheckBox* box, const QString& text, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  box->setParent(row);
  box->setText(QString());
  auto* label = new CheckLabel(text, box, row);
  label->setObjectName(box->objectName() + QStringLiteral("Label"));
  label->setEnabled(box->isEnabled());
  layout->addWidget(box, 0, Qt::AlignTop);
  layout->addWidget(label, 1);
  return row;
}

int ReadIntText(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  const long long value = std::strtoll(bytes.constData(), nullptr, 10);
  return int(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

int ReadDecimalText(const QString& text) {
  // The C locale's reading of the leading number; a comma counts as the
  // decimal point too.
  static const QRegularExpression kNumber(
      QStringLiteral("^\\s*[+-]?(\\d+([.,]\\d*)?|[.,]\\d+)([eE][+-]?\\d+)?"));
  const QRegularExpressionMatch match = kNumber.match(text);
  if (!match.hasMatch()) return 0;
  QByteArray number = match.captured(0).trimmed().toLatin1();
  number.replace(',', '.');
  if (number.startsWith('+')) number.remove(0, 1);
  double value = 0;
  const auto result = std::from_chars(number.constData(), number.constData() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    if (number.toLower().contains("e-")) return 0;  // too small
    return number.startsWith('-') ? INT_MIN : INT_MAX;
  }
  if (result.ec != std::errc() || std::isnan(value)) return 0;
  return int(std::clamp(std::trunc(value), double(INT_MIN), double(INT_MAX)));
}

void SetEditNumber(QLineEdit* edit, int value, int (*reader)(const QString&)) {
  if (!edit) return;
  const QString text = edit->text();
  if (!text.trimmed().isEmpty() && reader && reader(text) == value) return;
  if (text.trimmed().isEmpty() && edit->hasFocus() && value == 0) return;
  edit->setText(QString::number(value));
}

void MakeDigitsOnly(QLineEdit* edit) {
  static const QRegularExpression kDigits(QStringLiteral("[0-9]{0,9}"));
  edit->setValidator(new QRegularExpressionValidator(kDigits, edit));
}

bool HandlePageKey(CSettingsPage* page, QKeyEvent* event, bool storeOnEscape) {
  if (event->modifiers() & ~(Qt::KeypadModifier)) return false;
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    page->StoreControls();
    event->accept();
    return true;
  }
  if (key == Qt::Key_Escape) {
    if (storeOnEscape) page->StoreControls();
    // Posted, as the close button's command: the window closes once the
    // page has finished with this key.
    QWidget* window = page->window();
    QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
    event->accept();
    return true;
  }
  return false;
}

QColor ColorFromValue(uint32_t value) {
  return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

uint32_t ValueFromColor(const QColor& colour) {
  const QColor rgb = colour.toRgb();
  return uint32_t(rgb.red()) | (uint32_t(rgb.green()) << 8) | (uint32_t(rgb.blue()) << 16);
}

QString FileDialogFilter(const QString& pairs) {
  const QStringList parts = pairs.split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString& title = parts[i];
    if (title.isEmpty()) break;
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns)
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    const QString list = patterns.join(QLatin1Char(' '));
    // A title that already names its patterns in brackets keeps them; Qt
    // reads the patterns from the last brackets, so they are replaced there.
    const int open = title.lastIndexOf(QLatin1Char('('));
    if (open >= 0 && title.endsWith(QLatin1Char(')')))
      filters << title.left(open).trimmed() + QStringLiteral(" (") + list + QLatin1Char(')');
    else
      filters << title + QStringLiteral(" (") + list + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}
