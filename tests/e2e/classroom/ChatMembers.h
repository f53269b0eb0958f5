// A student's chat beside the teacher's classroom window, in the test's own
// process: its own room channel (signed as the servers sign it), ticket and
// file folder below home.
#pragma once

#include <QString>
#include <memory>

#include "ChatMember.h"
#include "InProcessServers.h"
#include "SyncServiceCalls.h"
#include "TestCredentials.h"

inline std::unique_ptr<ChatMember> joinChat(const testsupport::DemoLogin& who, quint32 ownerId,
                                            quint32 roomId, testsupport::InProcessServers& servers,
                                            const QString& home) {
  ChatMember::Setup setup;
  setup.userId = who.id;
  setup.ownerId = ownerId;
  setup.roomId = roomId;
  setup.name = who.name;
  setup.ticket = who.ticket;
  setup.credential = testsupport::testCredential(who.id, roomId, RoomContext::kStudent);
  setup.msgHost = "127.0.0.1";
  setup.msgPort = servers.msgPort();
  setup.fileServer = servers.host();
  setup.dataFolder = home + QStringLiteral("/member-%1/").arg(who.id);
  return std::make_unique<ChatMember>(setup);
}
