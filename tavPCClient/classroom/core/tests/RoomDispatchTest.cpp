// One table from message type to the parts that read it.
#include "RoomDispatch.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <memory>

#include "RoomMessage.h"

namespace {

QJsonObject message(int typeId) {
  QJsonObject msg = roommsg::newMessage(typeId);
  msg.insert("content", QString::number(typeId));
  return msg;
}

TEST(RoomDispatchTest, EachTypeReachesItsHandlersWhileTheirOwnerLives) {
  RoomDispatch dispatch;
  QObject chat;
  auto board = std::make_unique<QObject>();
  QStringList seen;
  dispatch.handle({MSG_CHAT_TEXT, MSG_CHAT_PICTURE}, &chat,
                  [&](const QJsonObject& m) { seen << "chat:" + m.value("content").toString(); });
  dispatch.handle({ANNO_POINT}, board.get(),
                  [&](const QJsonObject& m) { seen << "board:" + m.value("content").toString(); });
  dispatch.handle({MSG_CHAT_TEXT}, &chat, [&](const QJsonObject&) { seen << "second"; });

  dispatch.dispatch(message(MSG_CHAT_TEXT));
  dispatch.dispatch(message(MSG_CHAT_PICTURE));
  dispatch.dispatch(message(ANNO_POINT));  // a number typeId
  dispatch.dispatch(message(MSG_GIFT));    // nobody reads gifts yet
  EXPECT_EQ(seen, (QStringList{"chat:0", "second", "chat:10", "board:100"}));
  EXPECT_TRUE(dispatch.handles(ANNO_POINT));
  EXPECT_FALSE(dispatch.handles(MSG_GIFT));

  // A part that went away reads nothing more.
  board.reset();
  seen.clear();
  dispatch.dispatch(message(ANNO_POINT));
  EXPECT_TRUE(seen.isEmpty());
  EXPECT_FALSE(dispatch.handles(ANNO_POINT));
}

TEST(RoomDispatchTest, MessagesWithoutAUsableTypeAreDropped) {
  RoomDispatch dispatch;
  QObject owner;
  int calls = 0;
  dispatch.handle({MSG_CHAT_TEXT}, &owner, [&](const QJsonObject&) { ++calls; });
  dispatch.dispatch(QJsonObject{});
  dispatch.dispatch(QJsonObject{{"typeId", "x"}});
  dispatch.dispatch(QJsonObject{{"typeId", "-0"}});
  dispatch.dispatch(QJsonObject{{"typeId", 0.5}});
  dispatch.dispatch(QJsonObject{{"typeId", QJsonArray{0}}});
  EXPECT_EQ(calls, 0);
  dispatch.dispatch(QJsonObject{{"typeId", "0"}});
  EXPECT_EQ(calls, 1);
}

}  // namespace
