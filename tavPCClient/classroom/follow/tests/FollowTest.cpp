// Following the room: the state from the start-up answer, the two calls and
// their answers.
#include <gtest/gtest.h>

#include "ClassroomRig.h"
#include "FollowButton.h"
#include "Prompt.h"
#include "ServiceApi.h"

namespace {
QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}
}  // namespace

TEST(Follow, TheButtonFollowsTheServicesAnswers) {
  ClassroomRig rig(10003, 10001);
  FollowButton button(rig.context);
  EXPECT_EQ(button.text(), QStringLiteral("关注"));
  rig.context.keepStartAnswer(QString::fromLatin1(ServiceApi::kSelectRoomAssociatedByIds.path),
                              QJsonObject{{"code", 0}, {"body", QJsonObject{{"followed", true}}}});
  EXPECT_TRUE(button.followed());
  EXPECT_EQ(button.text(), QStringLiteral("取消关注"));

  button.onCancelAttention_back(QJsonObject{{"code", 1}, {"msg", "x"}});
  EXPECT_EQ(takeToast(), QStringLiteral("取消关注失败！"));
  EXPECT_TRUE(button.followed());
  button.onCancelAttention_back(QJsonObject{{"code", 0}});
  EXPECT_EQ(takeToast(), QStringLiteral("取消关注班级成功！"));
  EXPECT_EQ(button.text(), QStringLiteral("关注"));
  button.onAttention_back(QJsonObject());
  EXPECT_EQ(takeToast(), QStringLiteral("关注失败！"));
  button.onAttention_back(QJsonObject{{"code", 0}});
  EXPECT_EQ(takeToast(), QStringLiteral("关注班级成功！"));
  EXPECT_TRUE(button.followed());
  button.slot_FollowChange(false);
  EXPECT_EQ(button.text(), QStringLiteral("关注"));
}
