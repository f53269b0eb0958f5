// The shared objects of a classroom (room context, session, messenger with
// recording transports, dispatch, context, a recording media library and a
// window for toasts), for testing one part of the classroom on its own.
#pragma once

#include <QJsonObject>
#include <QWidget>

#include "ClassroomContext.h"
#include "ClassroomEntry.h"
#include "FakeLibpavo.h"
#include "RoomDispatch.h"
#include "RoomFakes.h"
#include "RoomMember.h"
#include "RoomMessenger.h"
#include "RoomSession.h"
#include "ScriptedDialogs.h"

struct ClassroomRig {
  static constexpr quint32 kRoom = 1001;

  explicit ClassroomRig(quint32 ownUserId = 10001, quint32 ownerId = 10001)
      : entry(makeEntry(ownUserId, ownerId)),
        room(RoomContext::reset(kRoom)),
        session(ownUserId, ownerId, room),
        messenger(ownUserId),
        context(entry, session, messenger, dispatch) {
    room.isOwner = ownUserId == ownerId;
    messenger.setRoomChannel(&channel);
    messenger.setPeerPath(&peer);
    context.setWindow(&window);
    context.setDialogs(&dialogs);
    QObject::connect(&messenger, &RoomMessenger::signal_ChatMsgArrived, &dispatch,
                     &RoomDispatch::dispatch);
    QObject::connect(&messenger, &RoomMessenger::signal_AnnoMsgArrived, &dispatch,
                     &RoomDispatch::dispatch);
  }
  ~ClassroomRig() {
    context.setDialogs(nullptr);
    messenger.setPeerPath(nullptr);
    messenger.setRoomChannel(nullptr);
  }

  // The media library is there and logged in.
  void connectMedia() {
    context.setMedia(&media);
    context.setMcuConnected(true);
  }

  // A member with the role text the service gives ("老师", "学生", ...).
  static RoomMember member(quint32 id, const QString& role, const QString& name = QString()) {
    QJsonObject json{{"globalId", QString::number(id)},
                     {"role", role},
                     {"nickName", name.isEmpty() ? QStringLiteral("用户%1").arg(id) : name}};
    return *RoomMember::fromJson(json);
  }
  void add(quint32 id, const QString& role, const QString& name = QString()) {
    session.addMember(member(id, role, name));
  }

  static ClassroomEntry makeEntry(quint32 own, quint32 owner) {
    ClassroomEntry e;
    e.roomId = kRoom;
    e.roomName = QStringLiteral("测试教室");
    e.ownUserId = own;
    e.ownerId = owner;
    e.ownerName = QStringLiteral("王老师");
    return e;
  }

  ClassroomEntry entry;
  RoomContext& room;
  RoomSession session;
  RoomMessenger messenger;
  RoomDispatch dispatch;
  ClassroomContext context;
  FakeRoomChannel channel;
  FakePeerPath peer;
  FakeLibpavo media;
  ScriptedDialogs dialogs;
  QWidget window;
};
