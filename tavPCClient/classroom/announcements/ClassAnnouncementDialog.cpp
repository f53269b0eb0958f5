#include "ClassAnnouncementDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "FormBody.h"
#include "RoomMessageTypes.h"
#include "RoomSession.h"
#include "ServiceApi.h"

namespace {

bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}

int characters(const QString& text) {
  return text.toUcs4().size();
}

// A booking row: avatar and name.
QWidget* bookingRow(const QString& name, QWidget* parent) {
  auto* row = new QWidget(parent);
  row->setObjectName(QStringLiteral("bookingRow"));
  auto* avatar = new QLabel(row);
  avatar->setObjectName(QStringLiteral("bookingAvatar"));
  avatar->setFixedSize(28, 28);
  auto* label = new QLabel(name, row);
  label->setTextFormat(Qt::PlainText);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->addWidget(avatar);
  layout->addWidget(label, 1);
  return row;
}

}  // namespace

ClassAnnouncementDialog::ClassAnnouncementDialog(ClassroomContext& context, QWidget* parent)
    : QDialog(parent),
      context_(context),
      pages_(new QStackedWidget(this)),
      list_(new QListWidget(this)),
      view_(new QTextBrowser(this)),
      title_(new QLineEdit(this)),
      content_(new QPlainTextEdit(this)),
      ok_(new QPushButton(QStringLiteral("发布"), this)),
      delete_(new QPushButton(QStringLiteral("删除"), this)),
      release_(new QPushButton(QStringLiteral("发布公告"), this)),
      left_(new QPushButton(QStringLiteral("<"), this)),
      right_(new QPushButton(QStringLiteral(">"), this)),
      bookings_(new QVBoxLayout) {
  setObjectName(QStringLiteral("ClassAnnouncementDialog"));
  setWindowTitle(QStringLiteral("班级公告"));
  resize(640, 420);
  list_->setObjectName(QStringLiteral("announcementList"));
  list_->setFixedWidth(170);
  view_->setObjectName(QStringLiteral("announcementView"));
  view_->setOpenLinks(false);
  title_->setObjectName(QStringLiteral("announcementTitle"));
  content_->setObjectName(QStringLiteral("announcementContent"));
  ok_->setObjectName(QStringLiteral("btnOK"));
  delete_->setObjectName(QStringLiteral("btnDeleteAnnouncement"));
  release_->setObjectName(QStringLiteral("btnRelease"));
  left_->setObjectName(QStringLiteral("btnLeft"));
  right_->setObjectName(QStringLiteral("btnRight"));

  // The list page: announcements by time, the chosen one, the teacher's buttons.
  auto* look = new QWidget(this);
  auto* lookRow = new QHBoxLayout;
  lookRow->addWidget(list_);
  lookRow->addWidget(view_, 1);
  auto* lookButtons = new QHBoxLayout;
  lookButtons->addStretch(1);
  lookButtons->addWidget(delete_);
  lookButtons->addWidget(release_);
  auto* lookLayout = new QVBoxLayout(look);
  lookLayout->setContentsMargins(0, 0, 0, 0);
  lookLayout->addLayout(lookRow, 1);
  lookLayout->addLayout(lookButtons);

  // The editing page.
  auto* edit = new QWidget(this);
  auto* back = new QPushButton(QStringLiteral("返回"), edit);
  back->setObjectName(QStringLiteral("btnLook"));
  auto* editLayout = new QVBoxLayout(edit);
  editLayout->setContentsMargins(0, 0, 0, 0);
  auto* titleRow = new QHBoxLayout;
  titleRow->addWidget(new QLabel(QStringLiteral("标题"), edit));
  titleRow->addWidget(title_, 1);
  titleRow->addWidget(new QLabel(QStringLiteral("(限20字)"), edit));
  editLayout->addLayout(titleRow);
  editLayout->addWidget(content_, 1);
  editLayout->addWidget(new QLabel(QStringLiteral("(限200字)"), edit));
  auto* editButtons = new QHBoxLayout;
  editButtons->addStretch(1);
  editButtons->addWidget(back);
  editButtons->addWidget(ok_);
  editLayout->addLayout(editButtons);
  pages_->addWidget(look);
  pages_->addWidget(edit);

  // The bookings column.
  auto* bookingsBox = new QWidget(this);
  bookingsBox->setFixedWidth(170);
  auto* bookingsLayout = new QVBoxLayout(bookingsBox);
  bookingsLayout->setContentsMargins(0, 0, 0, 0);
  bookingsLayout->addWidget(new QLabel(QStringLiteral("预约学员"), bookingsBox));
  bookingsLayout->addLayout(bookings_);
  bookingsLayout->addStretch(1);
  auto* arrows = new QHBoxLayout;
  arrows->addWidget(left_);
  arrows->addWidget(right_);
  bookingsLayout->addLayout(arrows);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(pages_, 1);
  layout->addWidget(bookingsBox);

  connect(list_, &QListWidget::currentRowChanged, this,
          &ClassAnnouncementDialog::slot_LWidgetCreateTime);
  connect(title_, &QLineEdit::textChanged, this, &ClassAnnouncementDialog::slot_LEditTitle);
  connect(content_, &QPlainTextEdit::textChanged, this,
          &ClassAnnouncementDialog::slot_PTEditContent);
  connect(ok_, &QPushButton::clicked, this, &ClassAnnouncementDialog::slot_btnOK);
  connect(delete_, &QPushButton::clicked, this, &ClassAnnouncementDialog::slot_PButtonDelete);
  connect(release_, &QPushButton::clicked, this, &ClassAnnouncementDialog::slot_PButtonRelease);
  connect(back, &QPushButton::clicked, this, &ClassAnnouncementDialog::slot_PButtonLook);
  connect(left_, &QPushButton::clicked, this, &ClassAnnouncementDialog::slot_PButtonLeft);
  connect(right_, &QPushButton::clicked, this, &ClassAnnouncementDialog::slot_PButtonRight);

  // Publishing and deleting are the room's teacher side's (the service refuses others).
  const bool manager = context_.session().hasTeacherRights();
  release_->setVisible(manager);
  delete_->setVisible(manager);
  left_->setEnabled(false);
  right_->setEnabled(false);
}

int ClassAnnouncementDialog::bookingRows() const {
  return bookings_->count();
}

QString ClassAnnouncementDialog::viewHtml(const QString& title, const QString& text) {
  return QStringLiteral("<span style=\"font-size:18pt; font-weight:bold;\">%1</span><br/><br/>%2")
      .arg(title.toHtmlEscaped(),
           text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br/>")));
}

void ClassAnnouncementDialog::slot_init_resources() {
  page_ = 1;
  requestBookings();
  requestAnnouncements();
}

// ---- bookings ----

void ClassAnnouncementDialog::requestBookings() {
  context_.service().post(
      ServiceApi::kSelectAppointCourseInfoPageById,
      FormBody(ServiceApi::kSelectAppointCourseInfoPageById.body).arg(context_.roomId()).arg(page_),
      this, [this](QJsonObject answer) { slot_GetYueKeList(answer); });
}

void ClassAnnouncementDialog::slot_GetYueKeList(QJsonObject answer) {
  if (!succeeded(answer))
    return;
  const QJsonObject body = answer.value(QStringLiteral("body")).toObject();
  totalPages_ = body.value(QStringLiteral("totalPages")).toInt();
  while (QLayoutItem* item = bookings_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  for (const QJsonValue& value : body.value(QStringLiteral("rows")).toArray()) {
    const QJsonObject row = value.toObject();
    QWidget* widget = bookingRow(row.value(QStringLiteral("nickName")).toString(), this);
    bookings_->addWidget(widget);
    const QString image = row.value(QStringLiteral("imagePath")).toString();
    if (image.isEmpty() || image.contains(QLatin1String("..")))
      continue;
    // Each avatar finds its own row when it comes (the row may be gone by then).
    // A reply for a row of an earlier page (the row gone, its address maybe
    // reused) is dropped: the row is watched, not only named.
    context_.service().fetchPicture(image, widget, [this, widget](QPixmap picture) {
      slot_GetYueKeHead_reply(picture, widget);
    });
  }
  refreshPageButtons();
}

void ClassAnnouncementDialog::slot_GetYueKeHead_reply(QPixmap picture, void* row) {
  for (int i = 0; i < bookings_->count(); ++i) {
    QWidget* widget = bookings_->itemAt(i)->widget();
    if (widget != row || picture.isNull())
      continue;
    if (auto* avatar = widget->findChild<QLabel*>(QStringLiteral("bookingAvatar")))
      avatar->setPixmap(
          picture.scaled(avatar->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
}

void ClassAnnouncementDialog::slot_PButtonLeft() {
  if (page_ <= 1)
    return;
  --page_;
  refreshPageButtons();
  requestBookings();
}

void ClassAnnouncementDialog::slot_PButtonRight() {
  if (page_ >= totalPages_)
    return;
  ++page_;
  refreshPageButtons();
  requestBookings();
}

void ClassAnnouncementDialog::refreshPageButtons() {
  // Either way: no left on page 1, no right on the last page.
  left_->setEnabled(page_ > 1);
  right_->setEnabled(page_ < totalPages_);
}

// ---- announcements ----

void ClassAnnouncementDialog::requestAnnouncements() {
  context_.service().postForArray(
      ServiceApi::kFindRoomAnnouncementByRoomId,
      FormBody(ServiceApi::kFindRoomAnnouncementByRoomId.body).arg(context_.roomId()), this,
      [this](const QJsonArray& rows) { slot_GetAnnouncement(rows); },
      [this](const QJsonObject&) {
        // The list shown may be out of date: say so rather than leave it silently.
        context_.toast(QStringLiteral("网络异常，请检查网络后重试！"));
      });
}

void ClassAnnouncementDialog::slot_GetAnnouncement(QJsonArray answer) {
  announcements_ = answer;
  const QSignalBlocker quiet(list_);
  list_->clear();
  for (const QJsonValue& value : answer)
    list_->addItem(value.toObject().value(QStringLiteral("createTime")).toString());
  view_->clear();
  if (!announcements_.isEmpty()) {
    list_->setCurrentRow(0);
    slot_LWidgetCreateTime(0);
  }
}

void ClassAnnouncementDialog::slot_LWidgetCreateTime(int row) {
  if (row < 0 || row >= announcements_.size())
    return;
  const QJsonObject a = announcements_.at(row).toObject();
  view_->setHtml(viewHtml(a.value(QStringLiteral("title")).toString(),
                          a.value(QStringLiteral("announcementInfo")).toString()));
}

void ClassAnnouncementDialog::slot_PButtonLook() {
  pages_->setCurrentIndex(0);
}

void ClassAnnouncementDialog::slot_PButtonRelease() {
  pages_->setCurrentIndex(1);
}

void ClassAnnouncementDialog::slot_LEditTitle() {
  title_->setStyleSheet(characters(title_->text()) > kMaxTitle ? QStringLiteral("color: red;")
                                                               : QStringLiteral("color: black;"));
}

void ClassAnnouncementDialog::slot_PTEditContent() {
  content_->setStyleSheet(characters(content_->toPlainText()) > kMaxContent
                              ? QStringLiteral("color: red;")
                              : QStringLiteral("color: black;"));
}

void ClassAnnouncementDialog::slot_btnOK() {
  const QString title = title_->text();
  const QString content = content_->toPlainText();
  if (title.isEmpty()) {
    context_.toast(QStringLiteral("请填写公告标题！"));
    return;
  }
  if (characters(title) > kMaxTitle) {
    context_.toast(QStringLiteral("公告标题过长！"));
    return;
  }
  if (characters(content) > kMaxContent) {
    context_.toast(QStringLiteral("公告内容过长！"));
    return;
  }
  ok_->setEnabled(false);  // one publication until the answer
  publishing_ = title;
  context_.service().post(
      ServiceApi::kInsertAnnouncement,
      FormBody(ServiceApi::kInsertAnnouncement.body).arg(context_.roomId()).arg(content).arg(title),
      this, [this](QJsonObject answer) { slot_ReleaseAnnouncement(answer); });
}

void ClassAnnouncementDialog::slot_ReleaseAnnouncement(QJsonObject answer) {
  ok_->setEnabled(true);
  if (answer.isEmpty()) {
    context_.toast(QStringLiteral("网络异常，请检查网络后重试！"));
  } else if (succeeded(answer)) {
    context_.toast(QStringLiteral("公告发布成功！"));
    title_->clear();
    content_->clear();
    slot_PButtonLook();
    requestAnnouncements();
    announceChange(publishing_);
    emit announcementsChanged();
  } else {
    context_.toast(QStringLiteral("公告发布失败！"));
  }
}

void ClassAnnouncementDialog::announceChange(const QString& title) {
  // The members in class read the latest again from the service (the title
  // travels along, but nobody takes it from the message).
  QJsonObject msg = context_.ownMessage(MSG_ANNOUNCEMENT_TITLE);
  msg.insert(QStringLiteral("title"), title);
  context_.sendRoomMsg(msg, QStringLiteral("*"));
}

void ClassAnnouncementDialog::slot_PButtonDelete() {
  const int row = list_->currentRow();
  if (row < 0 || row >= announcements_.size())
    return;
  const QString id =
      announcements_.at(row).toObject().value(QStringLiteral("id")).toVariant().toString();
  delete_->setEnabled(false);
  context_.service().post(ServiceApi::kDeleteAnnouncement,
                          FormBody(ServiceApi::kDeleteAnnouncement.body).arg(id), this,
                          [this](QJsonObject answer) { slot_DeleteAnnouncement(answer); });
}

void ClassAnnouncementDialog::slot_DeleteAnnouncement(QJsonObject answer) {
  delete_->setEnabled(true);
  if (answer.isEmpty()) {
    context_.toast(QStringLiteral("网络异常，请检查网络后重试！"));
  } else if (succeeded(answer)) {
    context_.toast(QStringLiteral("公告删除成功！"));
    requestAnnouncements();
    announceChange(QString());
    emit announcementsChanged();
  } else {
    context_.toast(QStringLiteral("公告删除失败！"));
  }
}
