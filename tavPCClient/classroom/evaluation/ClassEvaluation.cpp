#include "ClassEvaluation.h"

#include "ClassroomContext.h"
#include "FormBody.h"
#include "RoomContext.h"
#include "RoomSession.h"

ClassEvaluation::ClassEvaluation(ClassroomContext& context, QObject* parent)
    : QObject(parent), context_(context) {
  RoomSession& session = context_.session();
  connect(&session, &RoomSession::classStateChanged, this, &ClassEvaluation::classStateChanged);
  // Who started the class is known while it runs; it is gone once it stopped.
  connect(&session, &RoomSession::rolesChanged, this, [this] {
    if (context_.session().room().classStarterId > 0)
      starter_ = context_.session().room().classStarterId;
  });
  running_ = session.classInProgress();
  starter_ = session.room().classStarterId;
}

void ClassEvaluation::classStateChanged(bool running) {
  if (running) {
    running_ = true;
    if (context_.session().room().classStarterId > 0)
      starter_ = context_.session().room().classStarterId;
    return;
  }
  // Only a class this member sat in ends: entering a room without one does not.
  if (!running_)
    return;
  running_ = false;
  const qint64 teacher = starter_;
  starter_ = -1;
  onClassEnded(teacher);
}

int ClassEvaluation::evaluatorRole(int roomRole) {
  if (roomRole == RoomContext::kStudent)
    return 1;
  if (roomRole == RoomContext::kParent)
    return 2;
  return 0;
}

int ClassEvaluation::teacherRole(quint32 teacherId, quint32 ownerId) {
  return teacherId == ownerId ? 1 : 2;
}

void ClassEvaluation::onClassEnded(qint64 teacherId) {
  const int uRole = evaluatorRole(context_.session().room().ownRole);
  if (uRole == 0 || dialog_)
    return;
  const quint32 owner = context_.entry().ownerId;
  // Who taught is not known (entered after the start was announced): the owner.
  const quint32 teacher = teacherId > 0 ? static_cast<quint32>(teacherId) : owner;
  QString name = context_.session().nameOf(teacher);
  if (name.isEmpty())
    name = teacher == owner ? context_.entry().ownerName : QString::number(teacher);
  dialog_ = new EvaluateDialog(name, static_cast<int>(context_.ownUserId()), uRole,
                               static_cast<int>(teacher), teacherRole(teacher, owner),
                               static_cast<int>(context_.roomId()), context_.window());
  connect(dialog_, &QDialog::finished, dialog_, &QObject::deleteLater);
  connect(dialog_, &EvaluateDialog::submitRequested, this, [this](const QByteArray& param) {
    context_.service().post(
        ServiceApi::kSaveScores,
        FormBody(QString::fromLatin1(ServiceApi::kSaveScores.body)).arg(QString::fromUtf8(param)),
        dialog_.data(), &EvaluateDialog::slot_evaluate_reply);
  });
  // Modal over the whole client without a nested event loop: the room keeps
  // running under it and leaving the room can close it.
  dialog_->setWindowModality(Qt::ApplicationModal);
  connect(this, &ClassEvaluation::signal_exit_classroom, dialog_, &QDialog::reject);
  dialog_->show();
}
