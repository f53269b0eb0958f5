// Starting and stopping the class: the teacher's buttons, the media server's
// answers and announcements, what a member entering a running class learns,
// and the teaching reports while the own class runs.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>

#include "MediaRights.h"

class ClassroomComponent;
class ClassroomContext;
class ClassroomHeader;
class HeartbeatInRoom;
class QTimer;
class RoomSession;

class ClassControl : public QObject {
  Q_OBJECT

public:
  static constexpr int kTeachingMs = 30000;

  // components: asked whether the class may start and told when it stops.
  ClassControl(ClassroomContext& context, ClassroomHeader& header,
               const QList<ClassroomComponent*>& components, QObject* parent = nullptr);

  // The teaching reports go through heartbeat (made when the media starts).
  void setHeartbeat(HeartbeatInRoom* heartbeat);
  // The media server is back after it was lost; ownKinds were open before. The
  // class state it reports next decides: a class this member started and the
  // server forgot is started again, then the own media open as they were.
  void mediaReconnected(int ownKinds);

public slots:
  void btnStartClass_clicked();
  void btnStopClass_clicked();
  void HttpRequest_StartClass();
  void onStartClass(QJsonObject answer);
  // From the media server, through the media events.
  void slot_start_class_ack(int result);
  void slot_ss_start_class(quint32 userId);
  void slot_ss_stop_class(quint32 userId);
  void slot_get_class_state_ack(int state);
  void __get_classing_user_ack(int code, quint32 userId);

signals:
  void _stopTimerHeartBeatTeaching();

private:
  ClassroomContext& context_;
  ClassFloor& floor_;
  MemberMedia& media_;
  RoomSession& session_;
  ClassroomHeader& header_;
  const QList<ClassroomComponent*>& components_;
  void reopenOwnMedia();

  HeartbeatInRoom* heartbeat_ = nullptr;
  QTimer* teachingTimer_;
  // After a reconnection: the own kinds to open again, and whether the class is
  // being started again (its service record and reports go on as they were).
  int reopenKinds_ = 0;
  bool awaitingClassState_ = false;
  bool restarting_ = false;
};
