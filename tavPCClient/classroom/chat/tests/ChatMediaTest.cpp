// Pictures and voice clips in the chat with stand-in transfers and players:
// the upload order, the messages that follow, the receivers' fall-backs, the
// download retry rule, the recorder's timers and one clip playing at a time.
#include <gtest/gtest.h>

#include <thread>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QTest>

#include "ChatFiles.h"
#include "ChatMessageItem.h"
#include "ChatPanel.h"
#include "ChatPictureViewer.h"
#include "ClassroomRig.h"
#include "DataFolder.h"
#include "Download2UI.h"
#include "FileServer.h"
#include "RecordVoiceDlg.h"
#include "TestSupport.h"
#include "VoiceClips.h"
#include "VoiceReadStore.h"
#include "libferrum/libferrum.h"
#include "vocalia/vocalia.h"

namespace {

// Transfers that do nothing until the test says how they end.
struct FakeUpload : velupload {
  trans_observer* observer;
  QString path;
  explicit FakeUpload(trans_observer* o, QString p) : observer(o), path(std::move(p)) {}
};
struct FakeDownload : veldownload {
  trans_observer* observer;
  QString path;
  quint32 sender;
  FakeDownload(trans_observer* o, QString p, quint32 s)
      : observer(o), path(std::move(p)), sender(s) {}
};

struct FakePlayer : libvocalia_play {
  int state = 1;
  int seek = -1;
  static inline int alive = 0;
  FakePlayer() { ++alive; }
  ~FakePlayer() override { --alive; }
  int set_play_state(int s) override {
    state = s;
    return 0;
  }
  int seek_percent(int p) override {
    seek = p;
    return 0;
  }
};

struct FakeRecorder : libvocalia_record {
  static inline int alive = 0;
  FakeRecorder() { ++alive; }
  ~FakeRecorder() override { --alive; }
};

struct Transfers {
  QList<QString> uploads;    // paths in the order they started
  QList<QString> downloads;  // paths in the order they started
  QHash<QString, trans_observer*> observers;
  bool refuseCreate = false;

  Transfers() {
    transfer::setTransferMakers(
        [this](trans_observer* o, const transfer::FileServer&, const QString& path) -> velupload* {
          uploads << path;
          observers[path] = o;
          return new FakeUpload(o, path);
        },
        [this](trans_observer* o, const transfer::FileServer&, quint32 sender,
               const QString& path) -> veldownload* {
          if (refuseCreate)
            return nullptr;
          downloads << path;
          observers[path] = o;
          return new FakeDownload(o, path, sender);
        });
  }
  ~Transfers() { transfer::setTransferMakers(nullptr, nullptr); }

  void finishUpload(const QString& path) {
    observers[path]->progress(100, 100);
    observers[path]->complete();
  }
  void fail(const QString& path, int code) { observers[path]->trans_error(code); }
  // The file arrives, then the library says so.
  void finishDownload(const QString& path, const QByteArray& content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
    file.close();
    observers[path]->progress(unsigned(content.size()), unsigned(content.size()));
    observers[path]->complete();
  }
};

QByteArray pictureBytes(int w, int h, const char* format) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes;
}

QList<QJsonObject> sentMessages(ClassroomRig& rig) {
  QList<QJsonObject> out;
  for (const ChannelSend& s : rig.channel.sent)
    out << QJsonDocument::fromJson(s.text).object();
  return out;
}

struct ChatMediaTest : ::testing::Test {
  ChatMediaTest() {
    DataFolder::setPath(home.clientDataFolder());
    QDir().mkpath(home.clientDataFolder());
    rig.add(10001, QStringLiteral("老师"), QStringLiteral("王老师"));
    rig.add(10003, QStringLiteral("学生"), QStringLiteral("小明"));
    rig.room.ownRole = RoomContext::kTeacher;
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(home.clientDataFolder() + "t.db");
    db.open();
  }
  ~ChatMediaTest() override {
    chat::setVoiceMakers(nullptr, nullptr);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
  }

  // Sends the picture file through the panel (the chooser answers with it).
  ChatMessageItem* sendPicture(const QString& chosen) {
    panel->setPictureChooser([chosen](QWidget*, const QString&) { return chosen; });
    panel->m_timerClockForCanSendPic_timeout();
    panel->btnSendPicture_clicked();
    return panel->items().isEmpty() ? nullptr : panel->items().last();
  }
  QJsonObject received(int typeId, const QString& content, quint32 sender = 10003) {
    return QJsonObject{{"typeId", QString::number(typeId)},
                       {"sendUserId", double(sender)},
                       {"sendUsername", "小明"},
                       {"sendUserRole", "2"},
                       {"content", content},
                       {"voiceSeconds", "3"}};
  }
  QString receivedFolder(quint32 sender = 10003) { return chat::userFolder(1001, sender); }

  testsupport::TempHome home;
  QSqlDatabase db;
  Transfers transfers;
  ClassroomRig rig;
  std::unique_ptr<ChatPanel> panel = std::make_unique<ChatPanel>(rig.context);
};

}  // namespace

TEST_F(ChatMediaTest, AWidePictureGoesAsThumbnailThenInFullThenTheMessage) {
  const QString chosen = home.home() + "/wide.png";
  QFile(chosen).open(QIODevice::WriteOnly);
  {
    QFile f(chosen);
    f.open(QIODevice::WriteOnly);
    f.write(pictureBytes(200, 100, "PNG"));
  }
  ChatMessageItem* item = sendPicture(chosen);
  ASSERT_NE(item, nullptr);
  const QString copy = item->entry().content;
  EXPECT_TRUE(copy.startsWith(receivedFolder(10001) + "/"));
  ASSERT_EQ(transfers.uploads.size(), 1);
  EXPECT_EQ(transfers.uploads[0], chat::thumbnailPath(copy));
  EXPECT_EQ(QImage(transfers.uploads[0]).size(), QSize(160, 80));
  EXPECT_EQ(item->statusText(), QStringLiteral("图片正在发送..."));
  transfers.finishUpload(transfers.uploads[0]);
  ASSERT_TRUE(testsupport::waitUntil([&] { return transfers.uploads.size() == 2; }));
  EXPECT_EQ(transfers.uploads[1], copy);
  EXPECT_TRUE(rig.channel.sent.isEmpty());  // nothing announced before the file is there
  transfers.finishUpload(copy);
  ASSERT_TRUE(testsupport::waitUntil([&] { return rig.channel.sent.size() == 1; }));
  const QJsonObject msg = sentMessages(rig).first();
  EXPECT_EQ(msg.value("typeId").toString(), QStringLiteral("10"));
  EXPECT_EQ(msg.value("content").toString(), QFileInfo(copy).fileName());
}

TEST_F(ChatMediaTest, ANarrowPictureGoesWholeAndTheReceiverFallsBackToIt) {
  const QString chosen = home.home() + "/narrow.jpg";
  {
    QFile f(chosen);
    f.open(QIODevice::WriteOnly);
    f.write(pictureBytes(90, 120, "JPEG"));
  }
  ChatMessageItem* item = sendPicture(chosen);
  ASSERT_EQ(transfers.uploads.size(), 1);
  EXPECT_EQ(transfers.uploads[0], item->entry().content);  // no thumbnail
  // A failed upload says so, sends nothing and is sent again by a click.
  transfers.fail(item->entry().content, trans_error_network);
  ASSERT_TRUE(testsupport::waitUntil([&] { return item->statusText().contains("发送图片失败"); }));
  EXPECT_TRUE(rig.channel.sent.isEmpty());
  item->startUpload();
  ASSERT_EQ(transfers.uploads.size(), 2);

  // The receiver asks for the thumbnail, is refused, and fetches the whole picture.
  const QString name = QStringLiteral("20261208_101010101.jpg");
  QJsonObject msg = received(10, name);
  panel->showOneRecvedMsg(msg);
  ChatMessageItem* got = panel->items().last();
  ASSERT_EQ(transfers.downloads.size(), 1);
  EXPECT_EQ(transfers.downloads[0], receivedFolder() + "/20261208_101010101_lite.jpg");
  transfers.fail(transfers.downloads[0], trans_error_refused);
  ASSERT_TRUE(testsupport::waitUntil([&] { return transfers.downloads.size() == 2; }));
  EXPECT_EQ(transfers.downloads[1], receivedFolder() + "/" + name);
  transfers.finishDownload(transfers.downloads[1], pictureBytes(90, 120, "JPEG"));
  ASSERT_TRUE(testsupport::waitUntil([&] {
    auto* picture = got->findChild<QLabel*>("chatPicture");
    return picture && !picture->pixmap(Qt::ReturnByValue).isNull() &&
           picture->pixmap(Qt::ReturnByValue).size() == QSize(90, 120);
  }));
  // The picture that replaced the failure icon opens like any other, in one
  // viewer however often it is clicked.
  auto* picture = got->findChild<QLabel*>("chatPicture");
  for (int click = 0; click < 3; ++click)
    QTest::mouseClick(picture, Qt::LeftButton);
  QTest::mouseDClick(picture, Qt::LeftButton);
  int viewers = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    viewers += qobject_cast<ChatPictureViewer*>(w) && w->isVisible();
  EXPECT_EQ(viewers, 1);
}

TEST_F(ChatMediaTest, AReceivedJpegNamedPngIsRenamedAndJunkIsRefused) {
  QDir().mkpath(receivedFolder());
  {
    QFile f(receivedFolder() + "/a_lite.png");
    f.open(QIODevice::WriteOnly);
    f.write(pictureBytes(160, 90, "JPEG"));
  }
  QJsonObject msg = received(10, "a.png");
  panel->showOneRecvedMsg(msg);
  ChatMessageItem* item = panel->items().last();
  EXPECT_EQ(item->thumbnailPicturePath(), receivedFolder() + "/a_lite.jpg");
  EXPECT_TRUE(QFile::exists(receivedFolder() + "/a_lite.jpg"));
  EXPECT_TRUE(transfers.downloads.isEmpty());

  {
    QFile f(receivedFolder() + "/z_lite.png");
    f.open(QIODevice::WriteOnly);
    f.write("PK\x03\x04zipzipzip");
  }
  QJsonObject zip = received(10, "z.png");
  panel->showOneRecvedMsg(zip);
  EXPECT_EQ(panel->items().last()->statusText(), QStringLiteral("不支持的图片格式"));

  // A name with folder parts never becomes a path.
  QJsonObject evil = received(10, "../../config.ini");
  panel->showOneRecvedMsg(evil);
  EXPECT_EQ(transfers.downloads.size(), 0);
  EXPECT_EQ(panel->items().last()->findChild<QLabel*>("chatPicture")->toolTip(),
            QStringLiteral("获取图片失败"));
}

TEST_F(ChatMediaTest, DownloadsEndOnRefusalAndAreTriedAgainOnNetworkFailure) {
  QDir().mkpath(receivedFolder());
  const QString path = receivedFolder() + "/x.qn";
  auto* download = new Download2UI(transfer::FileServer{}, 10003, path);
  QList<int> reports;
  QObject::connect(download, &Download2UI::signalDownloadProgress,
                   [&](int percent, QString) { reports << percent; });
  QPointer<Download2UI> alive(download);
  ASSERT_TRUE(download->start());
  transfers.fail(path, trans_error_network);
  ASSERT_TRUE(testsupport::waitUntil([&] { return transfers.downloads.size() == 2; }));
  EXPECT_TRUE(reports.isEmpty());
  transfers.fail(path, trans_error_refused);
  ASSERT_TRUE(testsupport::waitUntil([&] { return alive.isNull(); }));
  EXPECT_EQ(reports, QList<int>({-1}));
  EXPECT_EQ(transfers.downloads.size(), 2);

  // A network failure whose new transfer cannot be made ends as a failure too.
  reports.clear();
  download = new Download2UI(transfer::FileServer{}, 10003, path);
  alive = download;
  QObject::connect(download, &Download2UI::signalDownloadProgress,
                   [&](int percent, QString) { reports << percent; });
  ASSERT_TRUE(download->start());
  transfers.refuseCreate = true;
  transfers.fail(path, trans_error_network);
  ASSERT_TRUE(testsupport::waitUntil([&] { return alive.isNull(); }));
  EXPECT_EQ(reports, QList<int>({-1}));
}

TEST_F(ChatMediaTest, TheRecorderSendsAfter300SecondsByItselfAndCancelSendsNothing) {
  chat::setVoiceMakers(nullptr, [](const QString& path, int) -> libvocalia_record* {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    return new FakeRecorder;
  });
  RecordVoiceDlg dialog;
  dialog.setClipFolder(home.home() + "/clips/");
  int sends = 0;
  QObject::connect(&dialog, &RecordVoiceDlg::signalRecordVoiceDlgClose, [&] { ++sends; });
  auto* start = dialog.findChild<QPushButton*>("btnStartRecordVoice");
  auto* cancel = dialog.findChild<QPushButton*>("btnStopRecordVoice");

  dialog.btnStartRecordVoice_clicked();
  EXPECT_EQ(FakeRecorder::alive, 1);
  EXPECT_EQ(start->text(), QStringLiteral("发送"));
  EXPECT_FALSE(start->isEnabled());  // at least one second
  dialog.m_timerClockForLenght_timeout();
  EXPECT_TRUE(start->isEnabled());
  dialog.btnStopRecordVoice_clicked();  // cancel
  EXPECT_EQ(sends, 0);
  EXPECT_EQ(FakeRecorder::alive, 0);
  EXPECT_EQ(start->text(), QStringLiteral("开始录音"));

  // The clock driven by hand: 300 ticks, then the limit.
  dialog.btnStartRecordVoice_clicked();
  for (int i = 0; i < 300; ++i)
    dialog.timerClock_timeout();
  dialog.timer_300second_timeout();
  EXPECT_EQ(sends, 1);
  EXPECT_EQ(dialog.recordedSeconds(), 300);
  EXPECT_EQ(FakeRecorder::alive, 0);
  EXPECT_TRUE(cancel->isEnabled());
  EXPECT_TRUE(QFileInfo(dialog.clipPath()).fileName().endsWith(".qn"));
}

TEST_F(ChatMediaTest, AMutedMemberCannotSendAClip) {
  chat::setVoiceMakers(nullptr, [](const QString& path, int) -> libvocalia_record* {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    return new FakeRecorder;
  });
  RoomMember own = *rig.session.member(10001);
  own.muted = true;
  rig.session.addMember(own);
  panel->btnSendVoice_clicked();
  ASSERT_NE(panel->recorder(), nullptr);
  panel->recorder()->btnStartRecordVoice_clicked();
  panel->recorder()->m_timerClockForLenght_timeout();
  panel->recorder()->btnStartRecordVoice_clicked();  // send
  EXPECT_TRUE(panel->items().isEmpty());
  EXPECT_TRUE(transfers.uploads.isEmpty());
}

TEST_F(ChatMediaTest, OneClipPlaysAtATimeAndPlayingMarksItRead) {
  QList<FakePlayer*> players;
  QList<notify_progress2ui*> observers;
  chat::setVoiceMakers(
      [&](notify_progress2ui* observer, const QString&, int) -> libvocalia_play* {
        players << new FakePlayer;
        observers << observer;
        return players.last();
      },
      nullptr);
  QDir().mkpath(receivedFolder());
  for (const char* name : {"a.qn", "b.qn"}) {
    QFile f(receivedFolder() + "/" + name);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray("QNVC\x01\x00\x00\x00\x03", 9));
  }
  QJsonObject a = received(20, "a.qn");
  QJsonObject b = received(20, "b.qn");
  panel->showOneRecvedMsg(a);
  panel->showOneRecvedMsg(b);
  ChatMessageItem* first = panel->items()[0];
  ChatMessageItem* second = panel->items()[1];
  EXPECT_TRUE(first->unreadDotVisible());
  EXPECT_EQ(first->findChild<QLabel*>("chatVoiceLength")->text(), QStringLiteral("0'3\""));

  first->btnVoicePlay_clicked();
  EXPECT_TRUE(first->isPlaying());
  EXPECT_FALSE(first->unreadDotVisible());
  EXPECT_TRUE(VoiceReadStore::isRead(VoiceReadStore::clipKey("a.qn", 10003), 10001));
  first->btnVoicePlay_clicked();  // pause
  ASSERT_EQ(players.size(), 1);
  EXPECT_EQ(players[0]->state, 2);

  second->btnVoicePlay_clicked();
  EXPECT_FALSE(first->isPlaying());
  EXPECT_TRUE(second->isPlaying());
  EXPECT_EQ(FakePlayer::alive, 1);
  EXPECT_EQ(ChatMessageItem::currentPlaying(), second);

  // The end of the clip, reported on the player's thread, stops it.
  std::thread([observer = observers.last()] { observer->play_progress(3, 3); }).join();
  ASSERT_TRUE(testsupport::waitUntil([&] { return !second->isPlaying(); }));
  EXPECT_EQ(FakePlayer::alive, 0);

  // Read clips stay read in a new list.
  ChatPanel other(rig.context);
  other.showOneRecvedMsg(a);
  EXPECT_FALSE(other.items().last()->unreadDotVisible());
}
