#include "ui/page_metadata.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/page_common.h"

namespace {
constexpr int kCommentLimit = 1000;
}  // namespace

CPageMetadata::CPageMetadata(QWidget* parent) : CSettingsPage(Ui("Метаданные"), parent) {
  keepExisting_ = new QCheckBox(Ui("Сохранять существующие метаданные"), this);
  keepExisting_->setObjectName(QStringLiteral("keepExisting"));
  useUserComment_ = new QCheckBox(this);
  useUserComment_->setObjectName(QStringLiteral("useUserComment"));
  QWidget* userRow = WrappedCheckBox(
      useUserComment_,
      Ui("Изменять/добавлять сведения пользователя. Если раздел метаданных отсутствует, он "
         "будет создан."),
      this);

  description_ = new QLineEdit(this);
  author_ = new QLineEdit(this);
  copyright_ = new QLineEdit(this);
  comment_ = new QLineEdit(this);
  description_->setObjectName(QStringLiteral("description"));
  author_->setObjectName(QStringLiteral("author"));
  copyright_->setObjectName(QStringLiteral("copyright"));
  comment_->setObjectName(QStringLiteral("comment"));
  // The comment has no place on the page; it only carries its value.
  comment_->setMaxLength(kCommentLimit);
  comment_->setEnabled(false);
  comment_->hide();

  auto* note = new QLabel(Ui("* Для JPEG, PNG"), this);
  auto* top = new QHBoxLayout;
  top->addWidget(keepExisting_);
  top->addStretch(1);
  top->addWidget(note, 0, Qt::AlignTop);

  auto* fields = new QGridLayout;
  fields->setContentsMargins(24, 0, 0, 0);
  const struct {
    const char* label;
    QLineEdit* edit;
  } rows[] = {{"Описание", description_}, {"Автор", author_}, {"Copyright", copyright_}};
  int row = 0;
  for (const auto& r : rows) {
    fields->addWidget(new QLabel(Ui(r.label), this), row, 0);
    fields->addWidget(r.edit, row, 1);
    ++row;
  }
  fields->addWidget(comment_, row, 1);

  auto* page = new QVBoxLayout(this);
  page->addLayout(top);
  page->addWidget(userRow);
  page->addLayout(fields);
  page->addStretch(1);

  connect(keepExisting_, &QCheckBox::clicked, this, [this] { StoreControls(); });
  connect(useUserComment_, &QCheckBox::clicked, this, [this] {
    StoreControls();
    ApplyEnabling();
  });
  // Typed values land in the record at once.
  CSettings& s = GetSettings();
  const struct {
    QLineEdit* edit;
    std::string* field;
  } texts[] = {{description_, &s.ImageDescription},
               {author_, &s.ImageAuthor},
               {copyright_, &s.ImageCopyright}};
  for (const auto& t : texts) {
    std::string* field = t.field;
    connect(t.edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
      *field = text.toStdString();
      emit stagesChanged();
    });
  }

  LoadControls();
}

void CPageMetadata::LoadControls() {
  const CSettings& s = GetSettings();
  keepExisting_->setChecked(s.KeepExisting != 0);
  useUserComment_->setChecked(s.UseUserComment != 0);
  description_->setText(QString::fromStdString(s.ImageDescription));
  author_->setText(QString::fromStdString(s.ImageAuthor));
  copyright_->setText(QString::fromStdString(s.ImageCopyright));
  // A longer stored comment is carried as it is, never cut.
  const QString comment = QString::fromStdString(s.UserComment);
  comment_->setMaxLength(std::max<int>(kCommentLimit, int(comment.size())));
  comment_->setText(comment);
  ApplyEnabling();
  emit stagesChanged();
}

void CPageMetadata::StoreControls() {
  CSettings& s = GetSettings();
  s.KeepExisting = keepExisting_->isChecked() ? 1 : 0;
  s.UseUserComment = useUserComment_->isChecked() ? 1 : 0;
  s.ImageDescription = description_->text().toStdString();
  s.ImageAuthor = author_->text().toStdString();
  s.ImageCopyright = copyright_->text().toStdString();
  s.UserComment = comment_->text().toStdString();
  emit stagesChanged();
}

void CPageMetadata::ApplyEnabling() {
  const bool on = GetSettings().UseUserComment != 0;
  for (QLineEdit* edit : {description_, author_, copyright_}) edit->setEnabled(on);
}

void CPageMetadata::keyPressEvent(QKeyEvent* event) {
  if (!HandlePageKey(this, event)) CSettingsPage::keyPressEvent(event);
}
