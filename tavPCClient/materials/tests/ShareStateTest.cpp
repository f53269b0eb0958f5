// The share state without widgets: what the sharer builds, another member
// applies to the same state; what is malformed or out of range changes nothing.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QSignalSpy>

#include "RoomMessageTypes.h"
#include "ShareRules.h"
#include "ShareState.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;

ShareState::Pending document(int pages) {
  ShareState::Pending doc;
  doc.mode = share::kDocument;
  doc.docId = 7;
  doc.document = QStringLiteral("第1课");
  doc.pages = pages;
  doc.uploader = kTeacher;
  return doc;
}

}  // namespace

TEST(ShareState, WhatTheSharerBuildsAnotherMemberAppliesAlike) {
  ShareState sharer(kTeacher);
  ShareState member(kStudent);
  QSignalSpy documents(&member, &ShareState::sharedDocumentChanged);
  sharer.startOwnDocument(document(3));
  ASSERT_EQ(member.apply(sharer.stateMessage(), true), ShareState::kNewFile);
  EXPECT_EQ(member.state().fileName, QStringLiteral("第1课"));
  EXPECT_EQ(member.state().pages, 3);
  EXPECT_EQ(member.state().uploader, kTeacher);
  ASSERT_EQ(documents.count(), 1);
  EXPECT_EQ(documents.last().at(0).toInt(), 7);

  // Page turns stop at the ends and never repeat the page shown.
  EXPECT_FALSE(sharer.previousPageMessage());
  EXPECT_FALSE(sharer.pageTurnMessage(1));
  EXPECT_FALSE(sharer.pageTurnMessage(4));
  const QJsonObject turn = *sharer.nextPageMessage();
  EXPECT_EQ(sharer.apply(turn, true), ShareState::kNewFile);
  EXPECT_EQ(member.apply(turn, true), ShareState::kNewFile);
  EXPECT_EQ(member.state().page, 2);

  // Four turns forward come back to 0; a turn resets to fit.
  for (int angle : {90, 180, 270, 0}) {
    const QJsonObject rotate = sharer.rotateMessage(true);
    sharer.apply(rotate, true);
    EXPECT_EQ(member.apply(rotate, true), ShareState::kNewPlacement);
    EXPECT_EQ(member.state().rotation, angle);
  }
  EXPECT_EQ(sharer.rotateMessage(false).value("curRotateAngle").toInt(), 270);

  // Actual size: the visible part travels with the state, drags stay inside
  // the picture, and a page turn keeps the part's width but starts at the top.
  const QSize picture(1000, 800);
  const QJsonObject fit = sharer.fitMessage(picture, QSize(600, 400));
  sharer.apply(fit, true);
  member.apply(fit, true);
  EXPECT_EQ(member.state().displayMode, share::kActual);
  EXPECT_EQ(member.state().rect, QRect(0, 0, 600, 400));
  EXPECT_FALSE(sharer.dragMessage(10, 0, picture)) << "would show what lies left of it";
  const QJsonObject drag = *sharer.dragMessage(-50, -20, picture);
  sharer.apply(drag, true);
  member.apply(drag, true);
  EXPECT_EQ(member.state().rect, QRect(50, 20, 600, 400));
  EXPECT_FALSE(sharer.resizeMessage(picture, QSize(600, 400)));
  const QJsonObject turnBack = *sharer.previousPageMessage();
  member.apply(turnBack, true);
  EXPECT_EQ(member.state().page, 1);
  EXPECT_EQ(member.state().rect, QRect(50, 0, 600, 400));

  // A newcomer's copy of the state is the sharer's, visible part included.
  ShareState newcomer(10004);
  sharer.apply(turnBack, true);
  newcomer.apply(sharer.stateMessage(), true);
  EXPECT_EQ(newcomer.state().page, 1);
  EXPECT_EQ(newcomer.state().displayMode, share::kActual);
  EXPECT_EQ(newcomer.state().rect, QRect(50, 0, 600, 400));
}

TEST(ShareState, MalformedOrOutOfRangeMessagesChangeNothing) {
  ShareState member(kStudent);
  auto stateMsg = [](const char* type, const QString& name) {
    QJsonObject msg{{"typeId", QString::number(MSG_SHARE_STATE)},
                    {"fileType", QString::fromLatin1(type)},
                    {"fileName", name},
                    {"fileUploaderUserId", double(kTeacher)}};
    return msg;
  };
  // Outside a class nothing is shown; names that climb out of their folder,
  // templates that are not ours and unknown modes are refused.
  EXPECT_EQ(member.apply(stateMsg("2", "a.png"), false), ShareState::kNothing);
  for (const QString& name : {QStringLiteral("../x.png"), QStringLiteral("a/b.png"),
                              QStringLiteral(".."), QString(), QString(201, 'a')})
    EXPECT_EQ(member.apply(stateMsg("2", name), true), ShareState::kNothing) << name.toStdString();
  EXPECT_EQ(member.apply(stateMsg("1", "evil.png"), true), ShareState::kNothing);
  EXPECT_EQ(member.apply(stateMsg("9", "a.png"), true), ShareState::kNothing);
  QJsonObject pages = stateMsg("3", "lesson");
  pages.insert("totalPageCount", ShareState::kMaxPages + 1);
  EXPECT_EQ(member.apply(pages, true), ShareState::kNothing);
  pages.insert("totalPageCount", 3);
  pages.insert("curPage", 4);
  EXPECT_EQ(member.apply(pages, true), ShareState::kNothing);
  EXPECT_EQ(member.state().mode, share::kNone);

  // A picture with an angle of its own choosing shows unturned; a turn to
  // such an angle, or a page turn on a picture, is dropped.
  QJsonObject picture = stateMsg("2", "a.png");
  picture.insert("curRotateAngle", 45);
  ASSERT_EQ(member.apply(picture, true), ShareState::kNewFile);
  EXPECT_EQ(member.state().rotation, 0);
  const QJsonObject rotate{{"typeId", QString::number(MSG_PIC_ROTATE)}, {"curRotateAngle", 45}};
  EXPECT_EQ(member.apply(rotate, true), ShareState::kNothing);
  const QJsonObject turn{{"typeId", QString::number(MSG_PAGE_TURN)}, {"curPage", 2}};
  EXPECT_EQ(member.apply(turn, true), ShareState::kNothing);
  EXPECT_EQ(member.state().page, 1);

  // Only the sharer answers a newcomer, never itself, and not with nothing.
  ShareState sharer(kTeacher);
  const QJsonObject query = member.queryMessage();
  EXPECT_EQ(sharer.askerToAnswer(query, true), 0u) << "nothing shared yet";
  sharer.startOwnTemplate(QStringLiteral("1.png"));
  EXPECT_EQ(sharer.askerToAnswer(query, false), 0u);
  EXPECT_EQ(sharer.askerToAnswer(query, true), kStudent);
  EXPECT_EQ(sharer.askerToAnswer(sharer.queryMessage(), true), 0u);
  // Ids are unsigned 32-bit: a class recorder's has the top bit.
  EXPECT_EQ(sharer.askerToAnswer(ShareState(0x80002711u).queryMessage(), true), 0x80002711u);
}
