// The users who joined a room, as the service lists them for the chat filter
// and the gift receivers.
#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>
#include <functional>

class QObject;
class ServiceCalls;

struct JoinedUser {
  quint32 id = 0;
  QString name;
};

// Entries carry globalId and nickName, or PglobalId and PnickName when the
// first pair is missing; entries without a usable id are left out.
QList<JoinedUser> readJoinedUsers(const QJsonArray& users);

// Asks the service for the room's joined users; the answer goes to answered
// while receiver exists.
void requestJoinedUsers(const ServiceCalls& service, quint32 roomId, QObject* receiver,
                        std::function<void(const QJsonArray&)> answered);
