#include "ui/about_dlg.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cstdio>

#include "services/program_version.h"
#include "services/strings.h"
#include "ui/controls.h"

namespace {

QPixmap DrawProgramIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size / 32.0;
  // Two stacked frames: the batch of pictures.
  p.setPen(QPen(QColor(60, 60, 60), 1.0 * s));
  p.setBrush(QColor(235, 235, 235));
  p.drawRoundedRect(QRectF(6 * s, 2 * s, 24 * s, 20 * s), 2 * s, 2 * s);
  p.setBrush(QColor(70, 130, 200));
  const QRectF front(2 * s, 9 * s, 24 * s, 20 * s);
  p.drawRoundedRect(front, 2 * s, 2 * s);
  // Sun and hills in the front picture.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 210, 60));
  p.drawEllipse(QPointF(19 * s, 15 * s), 3 * s, 3 * s);
  QPainterPath hills;
  hills.moveTo(3 * s, 28 * s);
  hills.lineTo(3 * s, 24 * s);
  hills.quadTo(9 * s, 17 * s, 15 * s, 24 * s);
  hills.quadTo(20 * s, 20 * s, 25 * s, 23 * s);
  hills.lineTo(25 * s, 28 * s);
  hills.closeSubpath();
  p.setBrush(QColor(60, 160, 70));
  p.drawPath(hills);
  return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
  static QIcon icon = [] {
    QIcon made;
    for (int size : {16, 24, 32, 48, 64, 128}) made.addPixmap(DrawProgramIcon(size));
    return made;
  }();
  return icon;
}

QString CAboutDlg::VersionLine() {
  // The first two numbers of the program's version and the build date.
  int major = 0, minor = 0;
  std::sscanf(ProgramVersionText(), "%d.%d", &major, &minor);
  const std::string format = LoadResString(IDS_ABOUT_VERSION);
  char line[256];
  std::snprintf(line, sizeof line, format.c_str(), major, minor, __DATE__);
  return QString::fromUtf8(line);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(Ui("О программе Lumaro III"));
  setWindowIcon(ProgramIcon());

  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto label = [this](const QString& text, bool wrap = false) {
    auto* l = new QLabel(text, this);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(wrap);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
  };
  auto* version = label(VersionLine());
  QFont bold = version->font();
  bold.setBold(true);
  version->setFont(bold);
  auto* description = label(Ui("Пакетный конвертер графических файлов с возможностью "
                               "одновременного изменения размеров изображения, водяных знаков  "
                               "и метаданных."),
                            true);
  auto* terms = label(Ui("Программа распространяется бесплатно, как есть, без каких-либо "
                         "гарантий. Используйте её на свой страх и риск."),
                      true);
  auto* authors = label(Ui("Авторы: разработчики Lumaro III"));
  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  auto* engine = label(Ui("Движок: собственная библиотека изображений Lumaro "
                          "(libjpeg-turbo, libpng, libtiff, giflib, OpenJPEG)"),
                       true);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(version);
  text->addWidget(description);
  text->addWidget(terms);
  text->addWidget(authors);
  text->addWidget(rule);
  text->addWidget(engine);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setMinimumWidth(460);
}
