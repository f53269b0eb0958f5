#include "AnnouncementBar.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QTimer>

#include "ClassAnnouncementDialog.h"
#include "ClassroomContext.h"
#include "FormBody.h"
#include "MarqueeLabel.h"
#include "RoomMessageTypes.h"
#include "ServiceApi.h"

namespace {
bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}
}  // namespace

AnnouncementBar::AnnouncementBar(ClassroomContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      announcement_(new MarqueeLabel(this)),
      bulletin_(new MarqueeLabel(this)),
      timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("announcementBar"));
  announcement_->setObjectName(QStringLiteral("announcementLabel"));
  announcement_->setClickable(true);
  announcement_->setMaximumWidth(220);
  bulletin_->setObjectName(QStringLiteral("bulletinLabel"));
  bulletin_->setMaximumWidth(260);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(10);
  row->addWidget(announcement_);
  row->addWidget(bulletin_);
  timer_->setObjectName(QStringLiteral("bulletinTimer"));
  timer_->setInterval(kBulletinPeriodMs);
  connect(timer_, &QTimer::timeout, this, &AnnouncementBar::timerBulletin_timeout);
  connect(announcement_, &MarqueeLabel::clicked, this, &AnnouncementBar::openDialog);
  // Somebody published or deleted one: read the latest from the service again.
  context_.handleRoomMessages({MSG_ANNOUNCEMENT_TITLE}, this,
                              [this](const QJsonObject&) { requestAnnouncement(); });
  // Asked again whenever the room channel is back, in case one came meanwhile.
  connect(&context_, &ClassroomContext::roomChannelConnected, this,
          &AnnouncementBar::requestAnnouncement);

  const QString bulletins = QString::fromLatin1(ServiceApi::kGetBulletinInfoPage.path);
  connect(&context_, &ClassroomContext::startAnswerArrived, this,
          [this, bulletins](const QString& path, const QJsonObject& answer) {
            if (path == bulletins)
              onGetBulletin(answer);
          });
  if (!context_.startAnswer(bulletins).isEmpty())
    onGetBulletin(context_.startAnswer(bulletins));
  requestAnnouncement();
}

QString AnnouncementBar::announcementText() const {
  return title_;
}

QString AnnouncementBar::bulletinText() const {
  return bulletin_->text();
}

void AnnouncementBar::requestAnnouncement() {
  context_.service().postForArray(
      ServiceApi::kFindRoomAnnouncementByRoomIdTop,
      FormBody(ServiceApi::kFindRoomAnnouncementByRoomIdTop.body).arg(context_.roomId()), this,
      [this](const QJsonArray& rows) { onInitAnnouncement(rows); },
      [this](const QJsonObject& answer) { onAnnouncementFailed(answer); });
}

void AnnouncementBar::onInitAnnouncement(QJsonArray answer) {
  // Titles come from teachers: shown as text, never as markup (a button has no rich text).
  QString title = QStringLiteral("点击发布公告！");
  if (!answer.isEmpty()) {
    const QJsonObject latest = answer.first().toObject();
    if (!succeeded(latest))
      return;
    title = latest.value(QStringLiteral("title")).toString();
  }
  title_ = title;
  announcement_->setText(title);
  announcement_->setToolTip(QStringLiteral("<qt>%1</qt>").arg(title.toHtmlEscaped()));
}

void AnnouncementBar::onAnnouncementFailed(const QJsonObject& answer) {
  qWarning() << "room announcement not read:" << (answer.isEmpty() ? "network" : "refused");
  if (!title_.isEmpty())
    return;
  // Nothing shown yet: say so instead of a blank, and offer the dialog (it reads again).
  announcement_->setText(QStringLiteral("公告加载失败"));
  announcement_->setToolTip(QStringLiteral("网络异常，请检查网络后重试！"));
}

void AnnouncementBar::onGetBulletin(QJsonObject answer) {
  if (!succeeded(answer))
    return;
  bulletins_.clear();
  for (const QJsonValue& value : answer.value(QStringLiteral("body")).toArray()) {
    const QJsonObject b = value.toObject();
    bulletins_.append({b.value(QStringLiteral("bulletinTitle")).toString(),
                       b.value(QStringLiteral("id")).toVariant().toInt()});
  }
  shown_ = 0;
  const QString first = bulletins_.isEmpty() ? QString() : bulletins_.first().title;
  bulletin_->setText(first);
  bulletin_->setToolTip(QStringLiteral("<qt>%1</qt>").arg(first.toHtmlEscaped()));
  timer_->start();
}

void AnnouncementBar::timerBulletin_timeout() {
  if (bulletins_.isEmpty())
    return;
  shown_ = (shown_ + 1) % bulletins_.size();
  const QString title = bulletins_.at(shown_).title;
  bulletin_->setText(title);
  bulletin_->setToolTip(QStringLiteral("<qt>%1</qt>").arg(title.toHtmlEscaped()));
}

void AnnouncementBar::openDialog() {
  if (dialog_) {
    dialog_->raise();
    return;
  }
  dialog_ = new ClassAnnouncementDialog(context_, context_.window());
  dialog_->setAttribute(Qt::WA_DeleteOnClose);
  // What it publishes or deletes shows here too.
  connect(dialog_, &ClassAnnouncementDialog::announcementsChanged, this,
          &AnnouncementBar::requestAnnouncement);
  dialog_->show();
  dialog_->slot_init_resources();
}
