// Gifts without the service: reading counts, the effects' backgrounds and
// their queue, giving (refusals, what a paid gift tells the room) and gifts
// others give.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>

#include "ChatLines.h"
#include "ClassroomRig.h"
#include "GiftBar.h"
#include "GiftButton.h"
#include "GiftEffectArea.h"
#include "GiftEffectWidget.h"
#include "GiftRules.h"
#include "Prompt.h"
#include "RoomMessageTypes.h"
#include "TestSupport.h"

namespace {

struct RecordingChat : ChatLines {
  QStringList own, received, sent;
  void addOwnLine(const QString& text) override { own << text; }
  void addReceivedLine(const QJsonObject&, const QString& text) override { received << text; }
  bool sendLine(const QString& text) override {
    sent << text;
    return true;
  }
};

QJsonObject catalogue() {
  return QJsonObject{
      {"code", 0},
      {"body", QJsonArray{QJsonObject{{"id", 1}, {"name", "鲜花"}, {"money", 1.0}},
                          QJsonObject{{"id", 4}, {"name", "奖杯"}, {"money", 10.0}},
                          QJsonObject{{"id", 7}, {"name", "<b>火箭</b>"}, {"money", 0.3333333}}}}};
}

QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}

struct GiftTest : ::testing::Test {
  GiftTest() {
    rig.add(10001, QStringLiteral("老师"), QStringLiteral("王老师"));
    rig.add(10003, QStringLiteral("学生"), QStringLiteral("小明"));
    rig.entry.ownName = QStringLiteral("王老师");
    rig.context.provide<ChatLines>(&chat);
    bar.onGetGiftTypeList(catalogue());
  }
  testsupport::TempHome home;
  ClassroomRig rig;
  RecordingChat chat;
  GiftEffectArea area;
  GiftBar bar{rig.context, area};
};

}  // namespace

TEST(GiftRules, CountsPricesAndBackgrounds) {
  EXPECT_EQ(gifts::countEntries().size(), 5);
  EXPECT_EQ(gifts::countOf(QStringLiteral("178个  一起学习吧")), 178);
  EXPECT_EQ(gifts::countOf(QStringLiteral("17个   一起学")), 17);
  EXPECT_EQ(gifts::countOf(QStringLiteral("5")), 5);
  for (const char* bad : {"0", "abc", "", "-3", "1.5"})
    EXPECT_EQ(gifts::countOf(QString::fromUtf8(bad)), 0) << bad;
  EXPECT_EQ(gifts::priceText(0.3333333), QStringLiteral("0.333333"));
  EXPECT_EQ(gifts::priceText(10.0), QStringLiteral("10"));
  EXPECT_EQ(gifts::priceText(1234567.0), QStringLiteral("1.23457e+06"));
  EXPECT_FALSE(gifts::earnsEffect(9));
  EXPECT_TRUE(gifts::earnsEffect(10));
  const QString blue = QStringLiteral("rgba(0, 150, 255, 225)");
  const QString purple = QStringLiteral("rgba(188, 0, 195, 225)");
  const QString red = QStringLiteral("rgba(255, 0, 51, 225)");
  EXPECT_TRUE(gifts::effectStyle(10).contains(blue));
  EXPECT_TRUE(gifts::effectStyle(65).contains(blue));
  EXPECT_TRUE(gifts::effectStyle(66).contains(purple));
  EXPECT_TRUE(gifts::effectStyle(177).contains(purple));
  EXPECT_TRUE(gifts::effectStyle(178).contains(red));
  EXPECT_EQ(gifts::chatLine("a", "b", "鲜花", 3), QStringLiteral("“a”送给“b”礼物“鲜花”3个"));
}

TEST(GiftEffects, AtMostThreeShowAndTheFourthFollowsTheFirstOut) {
  GiftEffectArea area;
  QList<GiftEffectWidget*> effects;
  for (int i = 0; i < 4; ++i) {
    effects << new GiftEffectWidget("甲", "乙", QPixmap(), 66 + i);
    area.showEffect(effects.last());
  }
  EXPECT_EQ(area.visibleCount(), 3);
  EXPECT_EQ(area.waitingCount(), 1);
  EXPECT_FALSE(area.shownEffects().contains(effects[3]));
  effects[0]->onHide();  // its three seconds are over
  EXPECT_EQ(area.visibleCount(), 3);
  EXPECT_EQ(area.waitingCount(), 0);
  EXPECT_TRUE(area.shownEffects().contains(effects[3]));
  EXPECT_FALSE(area.shownEffects().contains(effects[0]));
  for (int i = 1; i < 4; ++i)
    effects[i]->onHide();
  EXPECT_EQ(area.visibleCount(), 0);
  EXPECT_TRUE(area.isHidden());
  EXPECT_EQ(effects[1]->size(), QSize(340, 54));
}

TEST_F(GiftTest, TheCatalogueIsOneExclusiveRowWithTheFirstChosen) {
  ASSERT_EQ(bar.giftButtons().size(), 3);
  EXPECT_EQ(bar.selectedGiftId(), 1);
  EXPECT_TRUE(bar.giftButtons()[0]->isChecked());
  EXPECT_EQ(bar.giftButtons()[1]->text(), QStringLiteral("10星豆/个"));
  EXPECT_EQ(bar.giftButtons()[2]->giftName(), QStringLiteral("<b>火箭</b>"));
  EXPECT_EQ(bar.giftButtons()[2]->toolTip(), QStringLiteral("&lt;b&gt;火箭&lt;/b&gt;"));
  bar.giftButtons()[1]->click();
  EXPECT_EQ(bar.selectedGiftId(), 4);
  EXPECT_FALSE(bar.giftButtons()[0]->isChecked());
}

TEST_F(GiftTest, RefusalsComeBeforeAnyPurchase) {
  bar.onGiveGift(10001);
  EXPECT_EQ(takeToast(), QStringLiteral("不可以自己给自己送礼物！"));
  bar.onGiveGift(10003);
  EXPECT_EQ(takeToast(), QStringLiteral("已选中接收礼物者，请在界面底部区域赠送礼物！"));
  EXPECT_EQ(bar.findChild<QComboBox*>("cmbGiftTarget")->currentData().toLongLong(), 10003);
  for (const char* bad : {"0", "abc"}) {
    bar.findChild<QComboBox*>("cmbGiftCount")->setEditText(QString::fromUtf8(bad));
    bar.btnSendGift_clicked();
    EXPECT_EQ(takeToast(), QStringLiteral("礼物数量不正确！")) << bad;
  }
  EXPECT_TRUE(rig.channel.sent.isEmpty());
}

TEST_F(GiftTest, APaidGiftTellsTheRoomAndAFailedOneNobody) {
  // Chosen on a video tile: the row's receiver box follows.
  rig.session.setGiftReceiver(10004);
  EXPECT_EQ(takeToast(), QStringLiteral("已选中接收礼物者，请在界面底部区域赠送礼物！"));
  EXPECT_EQ(bar.findChild<QComboBox*>("cmbGiftTarget")->currentData().toLongLong(), 10004);
  bar.onGiveGift(10003);
  bar.onSendGiftBack(QJsonObject{{"code", 1}, {"msg", "余额不足，请先充值！"}}, "小明", 4, 10,
                     10003);
  EXPECT_EQ(takeToast(), QStringLiteral("余额不足，请先充值，赠送礼物失败！"));
  EXPECT_TRUE(rig.channel.sent.isEmpty());
  EXPECT_TRUE(chat.own.isEmpty());
  EXPECT_EQ(area.visibleCount(), 0);

  bar.onSendGiftBack(QJsonObject{{"code", 0}, {"body", "40.00"}}, "小明", 4, 10, 10003);
  EXPECT_EQ(takeToast(), QStringLiteral("赠送礼物成功！"));
  EXPECT_EQ(bar.balanceText(), QStringLiteral("余额：40.00"));
  EXPECT_EQ(chat.own, QStringList({"“王老师”送给“小明”礼物“奖杯”10个"}));
  ASSERT_EQ(rig.channel.sent.size(), 1);
  const QJsonObject msg = QJsonDocument::fromJson(rig.channel.sent[0].text).object();
  EXPECT_EQ(msg.value("typeId").toString(), QString::number(MSG_GIFT));
  EXPECT_EQ(msg.value("content").toString(), QStringLiteral("4"));
  EXPECT_EQ(msg.value("giftCount").toString(), QStringLiteral("10"));
  EXPECT_EQ(msg.value("acceptUsername").toString(), QStringLiteral("小明"));
  EXPECT_EQ(msg.value("sendUserId").toDouble(), 10001.0);
  EXPECT_EQ(area.visibleCount(), 1);  // ten earns an effect
}

TEST_F(GiftTest, GiftsOthersGiveShowTheirLineAndBigOnesTheEffect) {
  QJsonObject msg = roommsg::newMessage(MSG_GIFT);
  msg.insert("sendUserId", 10003.0);
  msg.insert("sendUsername", "小明");
  msg.insert("content", "1");
  msg.insert("giftCount", "9");
  msg.insert("acceptUsername", "小红");
  bar.onGiftArrived(msg);
  EXPECT_EQ(area.visibleCount(), 0);
  msg.insert("giftCount", "178");
  bar.onGiftArrived(msg);
  EXPECT_EQ(area.visibleCount(), 1);
  EXPECT_TRUE(area.shownEffects().first()->styleSheet().contains("rgba(255, 0, 51, 225)"));
  EXPECT_EQ(chat.received,
            QStringList({"“小明”送给“小红”礼物“鲜花”9个", "“小明”送给“小红”礼物“鲜花”178个"}));
}
