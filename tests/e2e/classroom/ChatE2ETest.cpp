// Chat through the real service, message server and file server: the
// teacher's classroom window and students' chats (each with its own room
// channel and ticket) exchange text, page through the stored history and its
// filtered view, and send a photo and a voice clip recorded from the
// synthetic microphone, which plays into SDL's disk driver.
#include <QBuffer>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QtTest/QTest>
#include <cmath>

#include "ChatFilterPage.h"
#include "ChatMembers.h"
#include "ChatMessageItem.h"
#include "ChatPictureViewer.h"
#include "ClassroomFixture.h"
#include "RecordVoiceDlg.h"
#include "ToneShare.h"
#include "VoiceReadStore.h"
#include "velmedia/velaudio_device.h"
#include "vocalia/vocalia.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;
constexpr quint32 kStudent2 = 10004;

using Account = testsupport::DemoLogin;
using testsupport::loginAs;

QStringList contents(const QList<ChatMessageItem*>& items) {
  QStringList out;
  for (const ChatMessageItem* item : items)
    out << item->entry().content;
  return out;
}

using testsupport::toneShare;

class ChatE2E : public ClassroomTest {
protected:
  // With TAV_SCREENSHOTS=<folder>, pictures of the windows for looking at them.
  static void shot(QWidget& widget, const char* name) {
    const QString folder = qEnvironmentVariable("TAV_SCREENSHOTS");
    if (!folder.isEmpty())
      widget.grab().save(folder + QLatin1Char('/') + QLatin1String(name) + ".png");
  }
  std::unique_ptr<ChatMember> member(const Account& who) {
    auto chat = joinChat(who, kTeacher, kRoom, servers_, home_.home());
    chat->window().show();
    return chat;
  }
  ChatPanel& teacherChat() { return *part<ChatPanel>("chatPanel"); }
  void type(QWidget& root, const QString& text) {
    auto* edit = root.findChild<QLineEdit*>("chatEdit");
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
  }
};

}  // namespace

TEST_F(ChatE2E, TextHistoryFilterPictureAndVoiceTravelBetweenMembers) {
  const Account student = loginAs("student1");
  ASSERT_EQ(student.id, kStudent);
  const Account late = loginAs("student2");
  ASSERT_EQ(late.id, kStudent2);
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  auto pupil = member(student);
  ASSERT_TRUE(waitUntil([&] { return pupil->connected(); }));
  ChatPanel& teacher = teacherChat();
  ASSERT_TRUE(waitUntil([&] { return teacher.historyPage() > 1; }));  // the room's stored messages
  const int seeded = teacher.shownItems().size();  // the stored messages the room came with

  // Text both ways.
  type(*classroom_, QStringLiteral("同学们好"));
  ASSERT_TRUE(waitUntil([&] { return contents(pupil->chat().shownItems()).contains("同学们好"); }));
  type(pupil->window(), QStringLiteral("<b>老师好</b>"));
  ASSERT_TRUE(waitUntil([&] { return contents(teacher.shownItems()).contains("<b>老师好</b>"); }));
  EXPECT_TRUE(testsupport::showsAsPlainText(*teacher.shownItems().last(), student.name));

  // 25 stored messages in all: a newcomer pages 10, 10, 5.
  const int more = 25 - seeded - 2;
  ASSERT_GE(more, 1);
  for (int i = 0; i < more; ++i)
    type(pupil->window(), QStringLiteral("第%1个问题").arg(i + 1));
  ASSERT_TRUE(waitUntil([&] {
    return contents(teacher.shownItems()).contains(QStringLiteral("第%1个问题").arg(more));
  }));
  auto newcomer = member(late);
  ASSERT_TRUE(waitUntil([&] { return newcomer->chat().shownItems().size() == 10; }))
      << newcomer->connected() << " " << newcomer->chat().shownItems().size() << " "
      << newcomer->chat().moreButton()->text().toStdString() << " teacher has "
      << teacher.shownItems().size();
  QPushButton* button = newcomer->chat().moreButton();
  ASSERT_TRUE(waitUntil([&] { return button->isEnabled(); }));
  EXPECT_EQ(contents(newcomer->chat().shownItems()).last(), QStringLiteral("第%1个问题").arg(more));
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(waitUntil([&] { return newcomer->chat().shownItems().size() == 20; }));
  ASSERT_TRUE(waitUntil([&] { return button->isEnabled(); }));
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(waitUntil([&] { return newcomer->chat().shownItems().size() == 25; }));
  EXPECT_EQ(button->text(), QStringLiteral("无更多历史消息了"));
  EXPECT_FALSE(button->isEnabled());

  // The filtered view: today's messages, then only the student's.
  ChatPanel& view = newcomer->chat();
  view.btnChatFilter_clicked();
  ChatFilterPage* filter = view.findChild<ChatFilterPage*>();
  ASSERT_TRUE(waitUntil([&] {
    return filter->findChild<QComboBox*>("cbbUsersJoined")->count() > 1 &&
           filter->shownItems().size() == 10;
  }));
  const int studentIndex =
      filter->findChild<QComboBox*>("cbbUsersJoined")->findData(qint64(kStudent));
  ASSERT_GT(studentIndex, 0);
  filter->findChild<QComboBox*>("cbbUsersJoined")->setCurrentIndex(studentIndex);
  ASSERT_TRUE(waitUntil([&] { return filter->shownItems().size() == 10; }));
  for (const ChatMessageItem* item : filter->shownItems())
    EXPECT_EQ(item->entry().senderId, kStudent);
  ASSERT_TRUE(waitUntil([&] { return filter->moreButton()->isEnabled(); }));  // more than 10 today
  filter->findChild<QDateEdit*>("dateEdit_chatFilter")->setDate(QDate::currentDate().addDays(-400));
  ASSERT_TRUE(waitUntil(
      [&] { return filter->moreButton()->text() == QStringLiteral("无更多历史消息了"); }));
  EXPECT_TRUE(filter->shownItems().isEmpty());
  shot(newcomer->window(), "chat-filtered");
  view.btnBack2AllChatRecord_clicked();
  shot(newcomer->window(), "chat-history");

  // A 3 MB photo from the teacher: a thumbnail at the student, full size on opening.
  QImage photo(1024, 1024, QImage::Format_RGB32);
  QRandomGenerator random(7);
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); ++x)
      photo.setPixel(x, y, random.generate() | 0xff000000u);
  const QString photoPath = home_.home() + "/photo.png";
  ASSERT_TRUE(photo.save(photoPath, "PNG"));
  EXPECT_GT(QFileInfo(photoPath).size(), 3000000);
  teacher.setPictureChooser([&](QWidget*, const QString&) { return photoPath; });
  teacher.btnSendPicture_clicked();
  ChatMessageItem* got = nullptr;
  ASSERT_TRUE(waitUntil([&] {
    for (ChatMessageItem* item : pupil->chat().shownItems()) {
      auto* picture = item->findChild<QLabel*>("chatPicture");
      if (item->kind() == chat::kPicture && picture &&
          picture->pixmap(Qt::ReturnByValue).size() == QSize(160, 160))
        got = item;
    }
    return got != nullptr;
  }));
  EXPECT_TRUE(QFile::exists(got->thumbnailPicturePath()));
  EXPECT_FALSE(QFile::exists(got->fullPicturePath()));  // only fetched when opened
  QTest::mouseClick(got->findChild<QLabel*>("chatPicture"), Qt::LeftButton);
  ChatPictureViewer* viewer = nullptr;
  ASSERT_TRUE(waitUntil([&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<ChatPictureViewer*>(w); v && v->isVisible())
        viewer = v;
    return viewer != nullptr;
  }));
  EXPECT_TRUE(viewer->hasPicture());
  // Fitted into the window when it is larger, at its own size otherwise.
  ASSERT_TRUE(waitUntil([&] { return viewer->shownSize().width() > 200; }));
  EXPECT_EQ(viewer->shownSize().width(), viewer->shownSize().height());
  EXPECT_EQ(QImage(got->fullPicturePath()).size(), QSize(1024, 1024));
  shot(*viewer, "chat-viewer");
  viewer->close();

  // A clip of about three seconds from the synthetic microphone (the last one listed).
  {
    std::unique_ptr<velaudio_device> devices(velaudio_device::create());
    ASSERT_TRUE(devices);
    ASSERT_GT(devices->get_microphone_count(), 0);
    LocalConfig::instance()->setValue("conf/microphoneIndex", devices->get_microphone_count() - 1);
  }
  teacher.btnSendVoice_clicked();
  RecordVoiceDlg* recorder = teacher.recorder();
  ASSERT_TRUE(recorder);
  recorder->btnStartRecordVoice_clicked();
  ASSERT_TRUE(recorder->recording());
  ASSERT_TRUE(waitUntil([&] { return recorder->recordedSeconds() >= 3; }));
  recorder->btnStartRecordVoice_clicked();  // send
  ChatMessageItem* clip = nullptr;
  ASSERT_TRUE(waitUntil([&] {
    for (ChatMessageItem* item : pupil->chat().shownItems())
      if (item->kind() == chat::kVoice && item->findChild<QLabel*>("chatVoiceLength"))
        clip = item;
    return clip != nullptr;
  }));
  EXPECT_EQ(clip->findChild<QLabel*>("chatVoiceLength")->text(), QStringLiteral("0'3\""));
  EXPECT_TRUE(clip->unreadDotVisible());

  // Played into a file of its own through SDL's disk driver.
  const QString output = home_.home() + "/voice.raw";
  qputenv("SDL_DISKAUDIOFILE", output.toLocal8Bit());
  QTest::mouseClick(clip->findChild<QPushButton*>("btnVoicePlay"), Qt::LeftButton);
  ASSERT_TRUE(clip->isPlaying());
  EXPECT_FALSE(clip->unreadDotVisible());
  ASSERT_TRUE(waitUntil([&] { return !clip->isPlaying(); }));
  QFile raw(output);
  ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
  const QByteArray pcm = raw.readAll();
  EXPECT_GT(toneShare(pcm, 48000, 440.0), 0.5) << pcm.size() << " bytes";
  shot(pupil->window(), "chat-student");
  shot(*classroom_, "chat-teacher");
  EXPECT_TRUE(
      VoiceReadStore::isRead(VoiceReadStore::clipKey(clip->fullPicturePath(), kTeacher), kStudent));
}
