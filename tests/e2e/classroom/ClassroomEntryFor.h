// Signing in with a demo account and joining the test room as the lobby does:
// the sign-in fills LoginInfo, the join answer the classroom's entry.
#pragma once

#include <QJsonObject>
#include <QString>

#include "ClassroomEntry.h"
#include "FormBody.h"
#include "LoginInfo.h"
#include "ServiceApi.h"
#include "SyncServiceCalls.h"

namespace testsupport {

// The entry for account in roomId with the servers on loopback; roomId 0 when
// the sign-in or the join failed (the service's reason in refusal).
inline ClassroomEntry classroomEntryFor(const QString& account, quint32 roomId, quint16 mcuPort,
                                        quint16 msgPort, QString* refusal = nullptr) {
  const DemoLogin login = loginAs(account);
  LoginInfo& info = LoginInfo::current();
  info.userId = login.id;
  info.ticket = login.ticket;
  info.displayName = login.name;
  ClassroomEntry entry;
  if (info.userId == 0) {
    if (refusal)
      *refusal = QStringLiteral("sign-in failed");
    return entry;
  }
  const QJsonObject join =
      postAndWait(ServiceApi::kUserJoinRoom,
                  FormBody(ServiceApi::kUserJoinRoom.body).arg(roomId).arg(info.userId));
  if (join.value("code").toInt(-1) != 0) {
    if (refusal)
      *refusal = join.value("msg").toString();
    return entry;
  }
  entry.roomId = roomId;
  entry.roomName = QStringLiteral("测试教室");
  entry.ownUserId = info.userId;
  entry.ownName = info.displayName;
  entry.ownerId = join.value("globalId").toVariant().toUInt();
  entry.ownerName = join.value("nickNameT").toString();
  entry.isAssistant = join.value("isAssistant").toVariant().toBool();
  entry.mcuAddress = "127.0.0.1";
  entry.mcuPort = mcuPort;
  entry.chatServer = ServerAddress::parse(QStringLiteral("127.0.0.1:%1").arg(msgPort));
  entry.credential = join.value("room_credential").toString();
  entry.fileServer = ServerAddress::parse(join.value("file_server").toString());
  entry.documentServer = ServerAddress::parse(join.value("document_server").toString());
  return entry;
}

}  // namespace testsupport
