// The chat tab against the shared classroom objects: sending text, showing
// live and stored messages, paging the history, the filtered view, clearing.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include "ChatFilterPage.h"
#include "ChatMessageItem.h"
#include "ChatPanel.h"
#include "ClassroomRig.h"
#include "Prompt.h"
#include "TestSupport.h"

namespace {

QJsonObject record(qint64 id, const QString& text, quint32 sender = 10003) {
  return QJsonObject{{"id", id},
                     {"typeId", "0"},
                     {"sendUserId", double(sender)},
                     {"sendUsername", QStringLiteral("用户%1").arg(sender)},
                     {"sendUserRole", "2"},
                     {"msgSendTime", "2026-12-08 09:00:00"},
                     {"content", text}};
}

// A page of `count` records, newest first, the newest with id `newest`.
QJsonObject page(qint64 newest, int count) {
  QJsonArray result;
  for (int i = 0; i < count; ++i)
    result.append(record(newest - i, QStringLiteral("第%1条").arg(newest - i)));
  return QJsonObject{{"code", 0}, {"result", result}};
}

QStringList shownTexts(const QList<ChatMessageItem*>& items) {
  QStringList texts;
  for (const ChatMessageItem* item : items)
    texts << item->entry().content;
  return texts;
}

struct ChatPanelTest : ::testing::Test {
  ChatPanelTest() {
    rig.add(10001, QStringLiteral("老师"), QStringLiteral("王老师"));
    rig.add(10003, QStringLiteral("学生"), QStringLiteral("小明"));
    rig.room.ownRole = RoomContext::kTeacher;
  }
  QLineEdit* edit() { return panel.findChild<QLineEdit*>("chatEdit"); }
  // The last toast, which is taken (the window is never shown here).
  QString toast() {
    const QString text = Prompt::instance()->text();
    Prompt::instance()->setText(QString());
    return text;
  }

  testsupport::TempHome home;
  ClassroomRig rig;
  ChatPanel panel{rig.context};
};

}  // namespace

TEST_F(ChatPanelTest, SendingTextFollowsTheRules) {
  auto* counter = panel.findChild<QLabel*>("chatInputCounter");
  EXPECT_EQ(counter->text(), QStringLiteral("剩40字"));
  // Empty text: a toast, nothing sent.
  panel.btnSendText_clicked();
  EXPECT_EQ(toast(), QStringLiteral("发送文本不能为空！"));
  EXPECT_TRUE(rig.channel.sent.isEmpty());

  edit()->setText(QString(45, 'x'));
  EXPECT_EQ(edit()->text().size(), 40);
  EXPECT_EQ(counter->text(), QStringLiteral("剩0字"));
  edit()->setText(QStringLiteral("<b>大家好</b>"));
  EXPECT_EQ(counter->text(), QStringLiteral("剩30字"));
  panel.btnSendText_clicked();
  ASSERT_EQ(rig.channel.sent.size(), 1);
  EXPECT_EQ(rig.channel.sent[0].target, QByteArray("*"));
  const QJsonObject sent = QJsonDocument::fromJson(rig.channel.sent[0].text).object();
  EXPECT_EQ(sent.value("typeId").toString(), QStringLiteral("0"));
  EXPECT_EQ(sent.value("content").toString(), QStringLiteral("<b>大家好</b>"));
  EXPECT_EQ(sent.value("sendUserRole").toString(), QStringLiteral("1"));
  EXPECT_TRUE(edit()->text().isEmpty());
  ASSERT_EQ(panel.shownItems().size(), 1);
  ChatMessageItem* own = panel.shownItems().first();
  EXPECT_TRUE(own->isOwn());
  // Markup someone typed shows as the characters typed.
  auto* text = own->findChild<QLabel*>("chatText");
  EXPECT_EQ(text->text(), QStringLiteral("<b>大家好</b>"));
  EXPECT_EQ(text->textFormat(), Qt::PlainText);

  // A failed send keeps the input and adds nothing.
  rig.messenger.setRoomChannel(nullptr);
  edit()->setText(QStringLiteral("还在吗"));
  panel.btnSendText_clicked();
  EXPECT_EQ(toast(), QStringLiteral("发送消息失败！"));
  EXPECT_EQ(edit()->text(), QStringLiteral("还在吗"));
  EXPECT_EQ(panel.shownItems().size(), 1);
}

TEST_F(ChatPanelTest, AnAuditorIsSentToBuyTheCourseInsteadOfSending) {
  rig.room.ownRole = RoomContext::kAuditor;
  edit()->setText(QStringLiteral("你好"));
  panel.btnSendText_clicked();
  EXPECT_TRUE(rig.channel.sent.isEmpty());
  EXPECT_TRUE(testsupport::waitUntil([&] {
    return toast() == QStringLiteral("成功购买课程后请退出教室后进入教室刷新用户角色！");
  }));
  EXPECT_TRUE(rig.channel.sent.isEmpty());
}

TEST_F(ChatPanelTest, LiveAndStoredMessagesAreShownOnceInTheirPlace) {
  QJsonObject live = record(0, QStringLiteral("现场"));
  panel.showOneRecvedMsg(live);
  panel.showOneRecvedMsg(live);  // live messages are never taken for duplicates
  QJsonObject empty = record(0, QString());
  panel.showOneRecvedMsg(empty);  // made but not shown
  EXPECT_EQ(panel.items().size(), 3);
  EXPECT_EQ(shownTexts(panel.shownItems()), QStringList({"现场", "现场"}));

  panel.onGetChatHistory(page(20, 3));  // 20, 19, 18 go above, oldest first
  EXPECT_EQ(shownTexts(panel.shownItems()),
            QStringList({"第18条", "第19条", "第20条", "现场", "现场"}));
  QJsonObject again = record(19, QStringLiteral("第19条"));
  panel.showOneRecvedMsg(again, true);
  EXPECT_EQ(panel.shownItems().size(), 5);
  // The own stored messages look like the ones just sent.
  QJsonObject mine = record(17, QStringLiteral("第17条"), 10001);
  panel.showOneRecvedMsg(mine, true);
  EXPECT_TRUE(panel.shownItems().first()->isOwn());
  EXPECT_FALSE(panel.shownItems()[1]->isOwn());

  // A name with markup does not format anything.
  QJsonObject marked = record(0, QStringLiteral("hi"), 10004);
  marked.insert("sendUsername", QStringLiteral("<i>坏人</i>"));
  panel.showOneRecvedMsg(marked);
  EXPECT_TRUE(
      testsupport::showsAsPlainText(*panel.shownItems().last(), QStringLiteral("<i>坏人</i>")));
}

TEST_F(ChatPanelTest, HistoryPagesUntilNothingOlderComes) {
  QPushButton* more = panel.moreButton();
  emit rig.context.roomChannelConnected();  // first page asked for
  EXPECT_EQ(more->text(), QStringLiteral("正在加载……"));
  EXPECT_FALSE(more->isEnabled());

  // Exactly ten keeps the button: there may be more.
  panel.onGetChatHistory(page(25, 10));
  EXPECT_EQ(more->text(), QStringLiteral("查看更多消息"));
  EXPECT_TRUE(more->isEnabled());
  EXPECT_EQ(panel.historyPage(), 2);
  EXPECT_EQ(panel.oldestHistoryId(), 25);
  panel.onGetChatHistory(page(15, 10));
  EXPECT_EQ(panel.oldestHistoryId(), 15);
  EXPECT_TRUE(more->isEnabled());
  // The same page once more: nothing older.
  panel.onGetChatHistory(page(15, 10));
  EXPECT_EQ(more->text(), QStringLiteral("无更多历史消息了"));
  EXPECT_FALSE(more->isEnabled());
  EXPECT_EQ(panel.shownItems().size(), 20);
  EXPECT_EQ(panel.shownItems().first()->recordId(), 6);
  EXPECT_EQ(panel.shownItems().last()->recordId(), 25);

  // A refusal says why and lets the user try again; empty ends the history.
  panel.btnViewChatHistory_clicked();
  panel.onGetChatHistory(QJsonObject{{"code", 401}, {"msg", "请先登录！"}});
  EXPECT_EQ(toast(), QStringLiteral("请先登录！"));
  EXPECT_TRUE(more->isEnabled());
  panel.onGetChatHistory(QJsonObject{{"code", 0}, {"result", QJsonArray()}});
  EXPECT_FALSE(more->isEnabled());
  EXPECT_EQ(more->text(), QStringLiteral("无更多历史消息了"));
  // A short page ends it too.
  ChatPanel fresh(rig.context);
  fresh.onGetChatHistory(page(5, 5));
  EXPECT_FALSE(fresh.moreButton()->isEnabled());
  EXPECT_EQ(fresh.moreButton()->text(), QStringLiteral("无更多历史消息了"));
}

TEST_F(ChatPanelTest, ClearingEmptiesTheListAndHistoryGoesOnWithOlderPages) {
  rig.dialogs.answer = false;
  panel.onGetChatHistory(page(25, 10));
  panel.btnClearScreen_clicked();
  EXPECT_EQ(rig.dialogs.asked, QStringList({"清屏后消息将无法恢复，是否继续?"}));
  EXPECT_EQ(panel.shownItems().size(), 10);
  rig.dialogs.answer = true;
  panel.btnClearScreen_clicked();
  EXPECT_TRUE(panel.items().isEmpty());
  EXPECT_EQ(panel.oldestHistoryId(), 0);
  EXPECT_EQ(panel.historyPage(), 2);
  EXPECT_TRUE(testsupport::waitUntil([&] { return panel.shownItems().isEmpty(); }));
}

TEST_F(ChatPanelTest, TheFilteredViewPagesByUserAndDay) {
  panel.btnChatFilter_clicked();
  ChatFilterPage* filter = panel.findChild<ChatFilterPage*>();
  EXPECT_FALSE(panel.findChild<QLineEdit*>("chatEdit")->isVisibleTo(&panel));
  EXPECT_EQ(filter->findChild<QDateEdit*>("dateEdit_chatFilter")->date(), QDate::currentDate());
  const QString today = QDate::currentDate().toString("yyyy-MM-dd");
  EXPECT_EQ(filter->nextRequestBody(),
            QStringLiteral("chatRoomId=1001&rows=10&page=1&date=%1").arg(today));

  filter->onGetUsersJoined(QJsonArray{QJsonObject{{"globalId", 10003}, {"nickName", "小明"}},
                                      QJsonObject{{"PglobalId", "10005"}, {"PnickName", "家长"}}});
  QComboBox* users = filter->findChild<QComboBox*>("cbbUsersJoined");
  ASSERT_EQ(users->count(), 3);
  EXPECT_EQ(users->itemText(0), QStringLiteral("全部用户"));
  EXPECT_EQ(users->itemData(2).toLongLong(), 10005);

  QJsonObject first = page(30, 10);
  first.insert("hasNext", true);
  filter->onGetChatHistory_filter(first);
  EXPECT_EQ(filter->shownItems().size(), 10);
  EXPECT_TRUE(filter->moreButton()->isEnabled());
  EXPECT_EQ(filter->filterPage(), 2);
  QJsonObject repeat = page(30, 10);  // already shown here: skipped
  repeat.insert("hasNext", false);
  filter->onGetChatHistory_filter(repeat);
  EXPECT_EQ(filter->shownItems().size(), 10);
  EXPECT_FALSE(filter->moreButton()->isEnabled());
  EXPECT_EQ(filter->moreButton()->text(), QStringLiteral("无更多历史消息了"));
  EXPECT_TRUE(panel.items().isEmpty());  // the main list is untouched

  // Choosing a user starts over at page 1 with the user in the request.
  users->setCurrentIndex(1);
  EXPECT_TRUE(filter->items().isEmpty());
  EXPECT_EQ(filter->filterPage(), 1);
  EXPECT_EQ(filter->nextRequestBody(),
            QStringLiteral("chatRoomId=1001&rows=10&page=1&userId=10003&date=%1").arg(today));
  filter->findChild<QDateEdit*>("dateEdit_chatFilter")->setDate(QDate(2026, 12, 1));
  EXPECT_TRUE(filter->nextRequestBody().endsWith("&date=2026-12-01"));

  panel.btnBack2AllChatRecord_clicked();
  EXPECT_TRUE(panel.findChild<QLineEdit*>("chatEdit")->isVisibleTo(&panel));
}

TEST_F(ChatPanelTest, ThePictureButtonOpensOneDialogPerTwoSeconds) {
  int opened = 0;
  panel.setPictureChooser([&](QWidget*, const QString&) {
    ++opened;
    return QString();
  });
  panel.btnSendPicture_clicked();
  panel.btnSendPicture_clicked();
  EXPECT_EQ(opened, 1);
  EXPECT_FALSE(panel.canSendPicture());
  EXPECT_TRUE(testsupport::waitUntil([&] { return panel.canSendPicture(); }));
  panel.btnSendPicture_clicked();
  EXPECT_EQ(opened, 2);
}

TEST_F(ChatPanelTest, AListScrolledDownWhileHiddenIsAtItsEndWhenShown) {
  for (int id = 1; id <= 12; ++id) {
    QJsonObject stored = record(id, QStringLiteral("第%1条").arg(id));
    panel.showOneRecvedMsg(stored, true);
  }
  panel.autoScrollChatBarDownward();  // the tab is not open yet
  panel.resize(360, 300);
  panel.show();
  auto* bar = panel.findChild<QScrollArea*>("chatScroll")->verticalScrollBar();
  EXPECT_TRUE(testsupport::waitUntil([&] {
    return bar->maximum() > 0 && bar->value() == bar->maximum();
  })) << bar->value()
      << " of " << bar->maximum();
}

TEST_F(ChatPanelTest, TheListStaysAtItsEndWhileItGrowsUntilOlderMessagesAreAskedFor) {
  panel.resize(360, 300);
  panel.show();
  for (int id = 30; id <= 41; ++id) {
    QJsonObject stored = record(id, QStringLiteral("第%1条").arg(id));
    panel.showOneRecvedMsg(stored, true);
  }
  auto* bar = panel.findChild<QScrollArea*>("chatScroll")->verticalScrollBar();
  panel.autoScrollChatBarDownward();
  ASSERT_TRUE(
      testsupport::waitUntil([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));
  const int before = bar->maximum();
  QJsonObject older = record(29, QStringLiteral("第29条"));
  panel.showOneRecvedMsg(older, true);
  EXPECT_TRUE(testsupport::waitUntil(
      [&] { return bar->maximum() > before && bar->value() == bar->maximum(); }));

  // Asking for older messages: they come in above and the list stays put.
  bar->setValue(0);
  panel.btnViewChatHistory_clicked();
  panel.onGetChatHistory(page(28, 10));
  EXPECT_TRUE(testsupport::waitUntil([&] { return bar->maximum() > before + 100; }));
  EXPECT_EQ(bar->value(), 0);
}
