// The materials tab without the service: the document list and the room's
// messages about it, the lesson-plan name rule and the upload dialog on a
// stand-in conversion client, the courseware list's paging and the edit
// rules; what is refused is refused before any request leaves.
#include <gtest/gtest.h>

#include <QPointer>

#include <thread>

#include <QComboBox>
#include <QImage>
#include <QJsonArray>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>

#include "ClassroomRig.h"
#include "Convert2UI.h"
#include "CoursewareItem.h"
#include "CoursewareList.h"
#include "CoursewarePlayer.h"
#include "CoursewareRules.h"
#include "DocumentItem.h"
#include "DocumentList.h"
#include "EditCoursewareDlg.h"
#include "HttpRequest.h"
#include "LoginInfo.h"
#include "Prompt.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "SharedArea.h"
#include "TestSupport.h"
#include "Upload2UI.h"
#include "UploadingDocDlg.h"
#include "libferrum/libferrum.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;

QString takeToast() {
  const QString text = Prompt::instance()->text();
  Prompt::instance()->setText(QString());
  return text;
}

QJsonObject docs(std::initializer_list<std::pair<int, const char*>> list) {
  QJsonArray body;
  for (const auto& [id, name] : list)
    body.append(QJsonObject{{"id", id},
                            {"sharingName", name},
                            {"fileName", name},
                            {"page", 3},
                            {"globalId", double(kTeacher)}});
  return QJsonObject{{"code", 0}, {"body", body}};
}

QStringList names(const QList<DocumentItem*>& items) {
  QStringList out;
  for (DocumentItem* item : items)
    out << item->fileName();
  return out;
}

// Uploads that finish at once, as a file server that has everything would.
struct FakeUpload : velupload {};
struct InstantUploads {
  QStringList uploaded;
  InstantUploads() {
    transfer::setTransferMakers(
        [this](trans_observer* o, const transfer::FileServer&, const QString& path) -> velupload* {
          uploaded << path;
          // The library reports later, on its own time.
          QTimer::singleShot(0, [o] {
            o->progress(100, 100);
            o->complete();
          });
          return new FakeUpload;
        },
        nullptr);
  }
  ~InstantUploads() { transfer::setTransferMakers(nullptr, nullptr); }
};

// A conversion client the test drives: it records what it was made with.
struct FakeConversions {
  int made = 0;
  int ended = 0;
  fc_observer* observer = nullptr;
  QString outFolder;
  FakeConversions() {
    Convert2UI::setClientMaker(
        [this](const char*, unsigned short, const char*, const char* out, unsigned, unsigned,
               fc_observer* o) -> void* {
          ++made;
          observer = o;
          outFolder = QString::fromLocal8Bit(out);
          return this;
        },
        [this](void*) { ++ended; });
  }
  ~FakeConversions() { Convert2UI::setClientMaker(nullptr, nullptr); }
  // Page n of total converted into the output folder, at that size.
  void page(const QString& base, int n, int total, const QSize& size = {800, 600}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QString file = outFolder + QStringLiteral("/%1_%2.png").arg(base).arg(n);
    image.save(file, "PNG");
    observer->on_progress(n, total, file.toLocal8Bit().constData());
  }
};

struct ListsTest : ::testing::Test {
  explicit ListsTest(quint32 own = kTeacher) : rig(own, kTeacher) {
    rig.session.setOwnRole(own == kTeacher ? RoomContext::kTeacher : RoomContext::kStudent, false);
    rig.add(kTeacher, QStringLiteral("老师"), QStringLiteral("王老师"));
    rig.add(kStudent, QStringLiteral("学生"), QStringLiteral("小明"));
    area.setDataFolder(home.home() + "/data/");
    takeToast();
  }
  void receive(QJsonObject msg, quint32 from) {
    msg.insert("sendUserId", double(from));
    rig.dispatch.dispatch(msg);
  }

  testsupport::TempHome home;
  ClassroomRig rig;
  SharedArea area{rig.context};
  DocumentList list{rig.context, area};
  QStringList& questions = rig.dialogs.asked;
};

}  // namespace

TEST_F(ListsTest, DocumentsFollowTheServiceAndTheTeachersMessagesOnly) {
  EXPECT_EQ(list.emptyText(), QStringLiteral("无更多历史教案了"));
  list.onGetSharingInfo(docs({{5, "第一课"}, {4, "第二课"}}));
  EXPECT_EQ(names(list.items()), QStringList({"第一课", "第二课"}));
  EXPECT_TRUE(list.emptyText().isEmpty());

  QJsonObject added = roommsg::newMessage(MSG_DOC_ADDED);
  added.insert("id", 9);
  added.insert("fileName", "第三课");
  added.insert("sharingName", "第三课");
  added.insert("totalPageCount", 4);
  receive(added, kStudent);  // a student may not add documents
  EXPECT_EQ(list.items().size(), 2);
  receive(added, kTeacher);
  EXPECT_EQ(names(list.items()).first(), QStringLiteral("第三课"));

  QJsonObject deleted = roommsg::newMessage(MSG_DOC_DELETED);
  deleted.insert("id", 5);
  receive(deleted, kStudent);
  EXPECT_EQ(list.items().size(), 3);
  receive(deleted, kTeacher);
  EXPECT_EQ(names(list.items()), QStringList({"第三课", "第二课"}));
}

TEST_F(ListsTest, TheSharedDocumentIsNotDeletedAndOthersAskFirst) {
  list.onGetSharingInfo(docs({{5, "第一课"}, {4, "第二课"}}));
  rig.session.classStarted(kTeacher);
  rig.session.setClassingUser(kTeacher);
  area.onSharingDocument(5, "第一课", 3);
  ASSERT_EQ(area.state().docId, 5);
  const int pending = HttpRequest::pendingCount();
  list.onDeleteSelfDocumentItem(5, false);
  EXPECT_EQ(takeToast(), QStringLiteral("教案正在共享，不能删除。"));
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_EQ(HttpRequest::pendingCount(), pending);

  list.onDeleteSelfDocumentItem(4, false);
  EXPECT_EQ(questions, QStringList({"您是否确定要删除此教案?"}));
  EXPECT_EQ(HttpRequest::pendingCount(), pending + 1);
  list.onDeleteOneDoc_back(QJsonObject{{"code", 1}, {"msg", "x"}}, 4, false);
  EXPECT_EQ(takeToast(), QStringLiteral("删除教案失败！"));
  list.onDeleteOneDoc_back(QJsonObject{}, 4, false);
  EXPECT_EQ(takeToast(), QStringLiteral("当前网络不给力,请检查网络后重试！"));
  EXPECT_EQ(list.items().size(), 2);
  list.onDeleteOneDoc_back(QJsonObject{{"code", 0}}, 4, false);
  EXPECT_EQ(takeToast(), QStringLiteral("删除教案成功！"));
  EXPECT_EQ(names(list.items()), QStringList({"第一课"}));
  ASSERT_FALSE(rig.channel.sent.isEmpty());
  const QJsonObject told = parsed(rig.channel.sent.last().text);
  EXPECT_EQ(roommsg::typeIdOf(told), MSG_DOC_DELETED);
  EXPECT_EQ(told.value("id").toInt(), 4);
}

TEST_F(ListsTest, LessonPlanNamesOfTwentyCharactersAreTakenTwentyOneRefused) {
  FakeConversions conversions;
  const QString twentyOne = QString(21, QChar(0x8bfe));  // 21 x 课
  list.setChooser([&] { return home.home() + "/" + twentyOne + ".docx"; });
  list.btnUploadDocument_clicked();
  EXPECT_EQ(takeToast(), QStringLiteral("教案名称过长。"));
  EXPECT_EQ(conversions.made, 0);
  EXPECT_FALSE(list.uploadDialog());

  const QString twenty = QString(20, QChar(0x8bfe));
  list.setChooser([&] { return home.home() + "/" + twenty + ".pptx"; });
  list.btnUploadDocument_clicked();
  ASSERT_TRUE(list.uploadDialog());
  EXPECT_EQ(conversions.made, 1);
  EXPECT_EQ(list.uploadDialog()->baseName(), twenty);
  EXPECT_TRUE(conversions.outFolder.endsWith("/sharingfiles/1001/" + twenty));
  delete list.uploadDialog();  // its client goes before the stand-in does
  EXPECT_EQ(conversions.ended, 1);
}

TEST_F(ListsTest, UploadingCountsPagesScalesLargeOnesAndRetriesAFailure) {
  FakeConversions conversions;
  InstantUploads uploads;
  UploadingDocDlg dialog(rig.context, area.dataFolder(), home.home() + "/数学 第1课.docx");
  rig.dialogs.answer = false;
  QSignalSpy finished(&dialog, &UploadingDocDlg::signal_uploadDocFinished);
  QSignalSpy retry(&dialog, &UploadingDocDlg::_retry);
  dialog.start();
  ASSERT_EQ(conversions.made, 1);

  conversions.page("数学 第1课", 1, 3, {4000, 3000});
  ASSERT_TRUE(testsupport::waitUntil([&] { return dialog.uploadedPages() == 1; }));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("教案：数学 第1课（共3页）"));
  EXPECT_EQ(dialog.statusText(), QStringLiteral("第1页转换完成..."));
  EXPECT_EQ(QImage(conversions.outFolder + "/数学 第1课_1.png").size(), QSize(1920, 1440));

  // The conversion breaks off: a new client starts after the pause.
  conversions.observer->on_error(fc_error_network);
  ASSERT_TRUE(retry.wait(10000));
  EXPECT_EQ(dialog.retriesLeft(), UploadingDocDlg::kRetries - 1);
  EXPECT_EQ(conversions.ended, 1);
  dialog.restart(retry.first().first().toString());
  EXPECT_EQ(conversions.made, 2);

  // Page 1 again (already in the room's files, but written anew: scaled
  // again), then the rest.
  for (int n = 1; n <= 3; ++n)
    conversions.page("数学 第1课", n, 3, n == 1 ? QSize(4000, 3000) : QSize(800, 600));
  ASSERT_TRUE(testsupport::waitUntil([&] { return finished.size() == 1; }));
  EXPECT_EQ(finished.first().at(0).toString(), QStringLiteral("数学 第1课"));
  EXPECT_EQ(finished.first().at(1).toInt(), 3);
  EXPECT_EQ(uploads.uploaded.size(), 3);  // each page once
  EXPECT_EQ(QImage(conversions.outFolder + "/数学 第1课_1.png").size(), QSize(1920, 1440));
  EXPECT_TRUE(dialog.finished());
}

TEST_F(ListsTest, AFaultOfTheDocumentEndsTheUploadAtOnceAndClosingAsksNothing) {
  FakeConversions conversions;
  // Deleted by itself once closed, as the materials tab opens it.
  QPointer<UploadingDocDlg> dialog =
      new UploadingDocDlg(rig.context, area.dataFolder(), home.home() + "/不是文档.docx");
  QSignalSpy closed(dialog.data(), &UploadingDocDlg::_close);
  dialog->start();
  std::thread([&] { conversions.observer->on_error(fc_error_unsupported); }).join();
  ASSERT_TRUE(testsupport::waitUntil([&] { return dialog->failed(); }));
  EXPECT_EQ(dialog->statusText(), QStringLiteral("教案文件格式不正确，无法转换！"));
  EXPECT_EQ(dialog->retriesLeft(), UploadingDocDlg::kRetries) << "not tried again";
  EXPECT_EQ(takeToast(), QStringLiteral("教案文件格式不正确，无法转换！"));
  dialog->close();
  EXPECT_EQ(closed.size(), 1);
  EXPECT_TRUE(rig.dialogs.asked.isEmpty());
  EXPECT_TRUE(testsupport::waitUntil([&] { return dialog.isNull(); }));
  // Every refusal of the server has words of its own; a network failure has none.
  for (int err : {fc_error_file, fc_error_convert, fc_error_too_large, fc_error_too_many_pages,
                  fc_error_encrypted, fc_error_timed_out, fc_error_refused})
    EXPECT_FALSE(UploadingDocDlg::failureText(err).isEmpty()) << err;
  EXPECT_TRUE(UploadingDocDlg::failureText(fc_error_network).isEmpty());
}

TEST(CoursewareListTest, PagingAndItsTexts) {
  testsupport::TempHome home;
  ClassroomRig rig;
  rig.session.setOwnRole(RoomContext::kTeacher, false);
  CoursewareList list(rig.context);
  takeToast();
  const int pending = HttpRequest::pendingCount();
  list.btnPrevPage_clicked();
  EXPECT_EQ(takeToast(), QStringLiteral("已经是第一页了"));
  EXPECT_EQ(HttpRequest::pendingCount(), pending);  // no request

  QJsonArray rows;
  for (int i = 0; i < 10; ++i)
    rows.append(QJsonObject{{"id", 100 + i},
                            {"coursewareName", QString("课件%1").arg(i)},
                            {"description", "要点"},
                            {"price", i},
                            {"nickName", "王老师"},
                            {"grade", "初二"}});
  list.onGetCoursewares(QJsonObject{{"code", 0}, {"rows", rows}, {"totalPages", 2}});
  ASSERT_EQ(list.items().size(), 10);
  EXPECT_EQ(list.pageText(), QStringLiteral("第1页 / 共2页"));
  EXPECT_EQ(
      list.items()[3]->toolTip(),
      QStringLiteral("<qt>课件：课件3  概要：要点  价格：3星豆  上传者：王老师  年级：初二</qt>"));

  list.btnNextPage_clicked();
  list.onGetCoursewares(QJsonObject{{"code", 0}, {"rows", QJsonArray{rows[0]}}, {"totalPages", 2}});
  EXPECT_EQ(list.page(), 2);
  EXPECT_EQ(list.pageText(), QStringLiteral("第2页 / 共2页"));
  list.btnNextPage_clicked();
  list.onGetCoursewares(QJsonObject{{"code", 0}, {"rows", QJsonArray{}}, {"totalPages", 2}});
  EXPECT_EQ(takeToast(), QStringLiteral("已经是最后一页了"));
  EXPECT_EQ(list.page(), 2);
  EXPECT_EQ(list.items().size(), 1);  // the page shown stays

  list.onGetCoursewares(QJsonObject{{"code", 0}, {"rows", QJsonArray{}}, {"totalPages", 0}});
  EXPECT_EQ(takeToast(), QStringLiteral("已经是最后一页了"));
}

// Free or bought courseware plays at once, priced asks to buy first (and plays
// only when bought), an inspector plays everything without buying.
TEST(CoursewareListTest, WatchingAsksToBuyOnlyWhenItMust) {
  testsupport::TempHome home;
  ClassroomRig rig(kStudent, kTeacher);
  struct Player : CoursewarePlayer {
    QList<int> played;
    void playCourseware(const QJsonObject& record) override {
      played.append(record.value("id").toInt());
    }
  } player;
  rig.context.provide<CoursewarePlayer>(&player);
  CoursewareList list(rig.context);
  int asked = 0;
  int answer = QDialog::Rejected;
  list.setDialogRunner([&](QDialog&) {
    ++asked;
    return answer;
  });
  auto found = [](int id, int price, bool bought) {
    return QJsonObject{{"code", 0},
                       {"body", QJsonObject{{"id", id}, {"price", price}, {"isPurchase", bought}}}};
  };
  const QString role = LoginInfo::current().roleName;
  LoginInfo::current().roleName = QStringLiteral("学生");
  list.onFindById(found(1, 0, false));
  list.onFindById(found(2, 30, true));
  list.onFindById(found(3, 30, false));  // refused purchase: nothing plays
  EXPECT_EQ(asked, 1);
  answer = QDialog::Accepted;
  list.onFindById(found(4, 30, false));
  EXPECT_EQ(asked, 2);
  LoginInfo::current().roleName = QStringLiteral("巡管");
  list.onFindById(found(5, 30, false));
  EXPECT_EQ(asked, 2);
  LoginInfo::current().roleName = role;
  EXPECT_EQ(player.played, (QList<int>{1, 2, 4, 5}));
  rig.context.withdraw<CoursewarePlayer>(&player);
}

TEST(CoursewareRules, EditRefusalsAndTheTag) {
  int price = -1;
  EXPECT_EQ(courseware::editRefusal("", "", "1", &price), QStringLiteral("课件名不能为空！"));
  EXPECT_EQ(courseware::editRefusal(QString(21, 'a'), "", "1", &price),
            QStringLiteral("课件名称过长！"));
  EXPECT_TRUE(courseware::editRefusal(QString(20, 'a'), "", "1", &price).isEmpty());
  EXPECT_EQ(courseware::editRefusal("a", QString(51, 'b'), "1", &price),
            QStringLiteral("课件要点过长！"));
  for (const char* bad : {"-1", "1.5", "abc", ""})
    EXPECT_EQ(courseware::editRefusal("a", "", bad, &price),
              QStringLiteral("输入0及以上的整数(0豆直接观看)"))
        << bad;
  EXPECT_TRUE(courseware::editRefusal("a", "", "0", &price).isEmpty());
  EXPECT_EQ(price, 0);

  EXPECT_EQ(courseware::descriptionTag(1001, 10001, "一,二", 5, "要点,%4", "初二"),
            QStringLiteral("roomId=1001,globalId=10001,coursewareName=一，二,price=5,"
                           "description=要点，%4,grade=初二"));

  // The dialog says the same before any request leaves.
  testsupport::TempHome home;
  ClassroomRig rig;
  EditCoursewareDlg edit(rig.context, 7, "课件", 5, "");
  edit.findChild<QLineEdit*>("editCoursewareName")->setText(QString(21, 'x'));
  const int pending = HttpRequest::pendingCount();
  edit.btnOk_clicked();
  EXPECT_EQ(edit.refusal(), QStringLiteral("课件名称过长！"));
  EXPECT_EQ(HttpRequest::pendingCount(), pending);
}
