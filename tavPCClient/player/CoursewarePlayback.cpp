#include "CoursewarePlayback.h"

#include <QJsonValue>

#include "ClassroomContext.h"

CoursewarePlayback::CoursewarePlayback(ClassroomContext& context, QObject* parent)
    : QObject(parent), context_(context) {
  context_.provide<CoursewarePlayer>(this);
}

CoursewarePlayback::~CoursewarePlayback() {
  context_.withdraw<CoursewarePlayer>(this);
  delete dialog_.data();
}

QString CoursewarePlayback::roomLink(quint32 roomId) {
  return ServiceCalls::pageUrl(QStringLiteral("tavolin/views/tav-smallclass/index.html")) +
         QStringLiteral("?roomId=%1").arg(roomId);
}

void CoursewarePlayback::playCourseware(const QJsonObject& record) {
  const QJsonValue idValue = record.value(QStringLiteral("id"));
  const int id = idValue.isString() ? idValue.toString().toInt() : idValue.toInt();
  emit playRequested(id);
  if (dialog_) {
    dialog_->watchCourseware(id);
    dialog_->showNormal();
    dialog_->raise();
    dialog_->activateWindow();
    return;
  }
  dialog_ = new CoursewarePlayDialog(context_, id, roomLink(context_.roomId()), context_.window());
  dialog_->setAttribute(Qt::WA_DeleteOnClose);
  if (factory_)
    dialog_->setPlayerFactory(factory_);
  dialog_->show();
  emit dialogOpened(dialog_);
}

void CoursewarePlayback::leaving() {
  if (dialog_)
    dialog_->close();
}
