// What the lobby learned when the server admitted the member into a room:
// everything the classroom window needs to start.
#pragma once

#include <QJsonArray>
#include <QString>

struct ServerAddress {
  QString host;
  int port = -1;  // -1 until set

  // "host:port", split at the colon; a missing or bad port stays -1.
  static ServerAddress parse(const QString& text);
};

struct ClassroomEntry {
  quint32 roomId = 0;
  QString roomName;
  QString ownerName;  // the room owner's display name
  QString ownName;
  quint32 ownUserId = 0;
  bool isAssistant = false;
  QString mcuAddress;
  quint16 mcuPort = 0;
  int openStyle = 1;
  bool recordContentOnly = false;  // "contentArea": only the teaching content is recorded
  quint32 ownerId = 0;
  QString authCode;  // a private room's code as the member typed it, for renewals
  QString levelDetailed;
  // The service's signed word that this member may use this room, shown to the
  // message server (room channel) and the MCU.
  QString credential;
  qint64 linkedAccountId = -1;  // from "son", -1 when none

  ServerAddress chatServer;
  ServerAddress coursewareFileServer;
  ServerAddress chatFileServer;
  ServerAddress fileServer;
  ServerAddress videoServer;
  ServerAddress documentServer;

  QJsonArray assistants;  // the room's assistant list, when it arrived in time
};
