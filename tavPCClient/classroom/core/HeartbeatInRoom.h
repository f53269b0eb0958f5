// The classroom's presence reports to the service: "present" every 30 s from
// every member, "teaching" every 30 s while the own class runs. When the
// service no longer counts the member as present, it joins the room again.
#pragma once

#include <QJsonObject>
#include <QObject>

#include "ServiceCalls.h"

class HeartbeatInRoom : public QObject {
  Q_OBJECT

public:
  // authCode: a private room's code the member was let in with, sent on re-joining.
  HeartbeatInRoom(quint32 userId, quint32 roomId, const QString& authCode = QString(),
                  QObject* parent = nullptr);

public slots:
  void postSelfInRoom();
  void postIsTeaching();
  void onHeartbeatBack(QJsonObject answer);

signals:
  // A silent re-join was sent (the presence report came back with code -1).
  void rejoinSent();

private:
  const quint32 userId_;
  const quint32 roomId_;
  const QString authCode_;
  ServiceCalls service_;
};
