// When a class ends for a student or a parent, the classroom asks them to rate
// the teacher who taught it: one rating dialog at a time, shown modally over
// the classroom and gone when the member leaves the room.
#pragma once

#include <QObject>
#include <QPointer>

#include "ClassroomComponent.h"
#include "EvaluateDialog.h"

class ClassroomContext;

class ClassEvaluation : public QObject, public ClassroomComponent {
  Q_OBJECT

public:
  explicit ClassEvaluation(ClassroomContext& context, QObject* parent = nullptr);

  // ClassroomComponent: leaving the room closes an open rating.
  void leaving() override { emit signal_exit_classroom(); }

  // The open rating dialog, null when none.
  EvaluateDialog* dialog() const { return dialog_; }
  // The role codes the rating carries: the evaluating member's (0 when its
  // room role does not rate) and the teacher's (1 the room's owner, 2 another).
  static int evaluatorRole(int roomRole);
  static int teacherRole(quint32 teacherId, quint32 ownerId);

public slots:
  // The class the member sat in has ended; teacherId started it (-1 unknown).
  void onClassEnded(qint64 teacherId);

signals:
  // Connected to the open dialog's reject(): the member leaves the classroom.
  void signal_exit_classroom();

private:
  void classStateChanged(bool running);

  ClassroomContext& context_;
  bool running_ = false;
  qint64 starter_ = -1;
  QPointer<EvaluateDialog> dialog_;
};
