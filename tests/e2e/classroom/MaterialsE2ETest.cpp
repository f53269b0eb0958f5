// Shared pictures through the real service, file server, message server and
// MCU: the teacher's window shares a large picture, a student's window (a
// process of its own) shows it scaled as the teacher prepared it, pixel for
// pixel; rotation, actual size and dragging reach it; a student entering
// later gets what is shown at once. A lesson plan goes through the real
// conversion server (stopped once during the job), its pages to the file
// server, and a student sees the page the teacher turns to.
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>

#include "ClassroomFixture.h"
#include "CoursewareItem.h"
#include "CoursewareList.h"
#include "DocumentItem.h"
#include "DocumentList.h"
#include "EditCoursewareDlg.h"
#include "PicRenderWidget.h"
#include "PixelDigest.h"
#include "SharedArea.h"
#include "SharedAreaLine.h"
#include "TestCredentials.h"
#include "UploadingDocDlg.h"
#include "WindowMember.h"
#include "convert/Server.h"

namespace {

class MaterialsE2E : public ClassroomTest {
protected:
  std::unique_ptr<WindowMember> window(const QString& account) {
    return std::make_unique<WindowMember>(account, kRoom, servers_.host(), servers_.mcuPort(),
                                          servers_.msgPort(), home_.home());
  }
  // What the teacher's own area shows, in the student's report form.
  QString teacherShows() { return testsupport::sharedAreaLine(*part<SharedArea>()); }
  // Waits until the student shows exactly what the teacher shows.
  bool sameAsTeacher(WindowMember& student, int from) {
    return waitUntil([&] {
      const QString expected = teacherShows();
      return student.lines().indexOf(expected, from) >= 0;
    });
  }
};

}  // namespace

TEST_F(MaterialsE2E, ASharedPictureReachesStudentsAsTheTeacherShowsIt) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return session().classInProgress(); }));
  SharedArea& area = *part<SharedArea>();

  auto pupil = window("student1");
  ASSERT_TRUE(pupil->waitFor("ready")) << pupil->lines().join('\n').toStdString();

  // A 4000x3000 photograph: shared as 1920x1440, the same pixels on both sides.
  QImage photo(4000, 3000, QImage::Format_RGB32);
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); x += 50)
      for (int i = 0; i < 50; ++i)
        photo.setPixel(x + i, y, qRgb((x / 50) * 3 % 256, y % 256, 90));
  const QString source = home_.home() + "/课堂照片 1.jpg";
  ASSERT_TRUE(photo.save(source, "JPEG", 92));
  int mark = pupil->mark();
  area.sharePicture(source);
  // The sharing right comes from the media server first.
  ASSERT_TRUE(waitUntil([&] { return area.state().mode == 2; }));
  EXPECT_TRUE(area.isSharer());
  EXPECT_EQ(area.view()->picture().size(), QSize(1920, 1440));
  EXPECT_TRUE(sameAsTeacher(*pupil, mark))
      << pupil->lines().join('\n').toStdString() << "\nteacher: " << teacherShows().toStdString();

  // Rotation, actual size and a drag follow.
  mark = pupil->mark();
  area.btnForwardRotate_clicked();
  EXPECT_EQ(area.view()->picture().size(), QSize(1440, 1920));
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << teacherShows().toStdString();
  mark = pupil->mark();
  area.btnPicAdaptWnd_clicked();
  ASSERT_EQ(area.state().displayMode, 1);
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << teacherShows().toStdString();
  const QRect before = area.state().rect;
  mark = pupil->mark();
  area.picDispWidget_mouseMove(-40, -30);
  EXPECT_EQ(area.state().rect, before.translated(40, 30));
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << teacherShows().toStdString();

  // A student entering now asks the teacher and sees the same at once.
  auto late = window("student2");
  ASSERT_TRUE(late->waitFor("ready")) << late->lines().join('\n').toStdString();
  EXPECT_TRUE(sameAsTeacher(*late, 0)) << late->lines().join('\n').toStdString();
}

namespace {

// A lesson plan made with LibreOffice from text written here: an HTML page
// turned into a .docx of `pages` pages.
QString makeDocx(const QString& folder, const QString& name, int pages) {
  QFile html(folder + "/source.html");
  if (!html.open(QIODevice::WriteOnly))
    return QString();
  QByteArray text = "<html><head><meta charset=\"utf-8\"></head><body>";
  for (int page = 1; page <= pages; ++page)
    text += QStringLiteral("<h1%1>第%2页</h1><p>Lesson page %2.</p>")
                .arg(page > 1 ? QStringLiteral(" style=\"page-break-before: always\"") : QString())
                .arg(page)
                .toUtf8();
  text += "</body></html>";
  html.write(text);
  html.close();
  QProcess soffice;
  soffice.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  soffice.start("soffice",
                {"-env:UserInstallation=file://" + folder + "/profile", "--headless",
                 "--convert-to", "docx:MS Word 2007 XML", "--outdir", folder, html.fileName()});
  if (!soffice.waitForFinished(300000) || soffice.exitCode() != 0)
    return QString();
  const QString target = folder + "/" + name + ".docx";
  QFile::remove(target);
  return QFile::rename(folder + "/source.docx", target) ? target : QString();
}

// A presentation of `slides` slides, written as a flat OpenDocument file and
// saved as .pptx by LibreOffice.
QString makePptx(const QString& folder, const QString& name, int slides) {
  QFile fodp(folder + "/slides.fodp");
  if (!fodp.open(QIODevice::WriteOnly))
    return QString();
  QByteArray text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
      "office:version=\"1.2\" "
      "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">"
      "<office:body><office:presentation>";
  for (int slide = 1; slide <= slides; ++slide)
    text += QStringLiteral(
                "<draw:page draw:name=\"s%1\"><draw:frame svg:x=\"2cm\" svg:y=\"%1cm\" "
                "svg:width=\"20cm\" svg:height=\"3cm\"><draw:text-box><text:p>幻灯片 %1"
                "</text:p></draw:text-box></draw:frame></draw:page>")
                .arg(slide)
                .toUtf8();
  text += "</office:presentation></office:body></office:document>";
  fodp.write(text);
  fodp.close();
  QProcess soffice;
  soffice.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  soffice.start("soffice", {"-env:UserInstallation=file://" + folder + "/profile", "--headless",
                            "--convert-to", "pptx", "--outdir", folder, fodp.fileName()});
  if (!soffice.waitForFinished(300000) || soffice.exitCode() != 0)
    return QString();
  const QString target = folder + "/" + name + ".pptx";
  QFile::remove(target);
  return QFile::rename(folder + "/slides.pptx", target) ? target : QString();
}

}  // namespace

TEST_F(MaterialsE2E, ALessonPlanConvertsUploadsAndItsPagesReachStudents) {
  convert::Config config;
  config.listen_port = 0;
  config.internal_token = testsupport::kTestSecret;
  config.data_dir = (home_.home() + "/convert").toStdString();
  auto converter = std::make_unique<convert::Server>(config);
  const quint16 port = converter->start();
  ASSERT_NE(port, 0) << converter->error();
  convertPort_ = port;

  const QString docx = makeDocx(home_.home(), QStringLiteral("第三章 方程"), 3);
  ASSERT_FALSE(docx.isEmpty());
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return session().classInProgress(); }));
  auto pupil = window("student1");
  ASSERT_TRUE(pupil->waitFor("ready")) << pupil->lines().join('\n').toStdString();

  // The upload: the server is stopped while it converts and started again;
  // the dialog's retry finishes the job, the pages coming one by one.
  DocumentList& documents = *part<DocumentList>();
  documents.uploadDocument(docx);
  UploadingDocDlg* dialog = documents.uploadDialog();
  ASSERT_TRUE(dialog);
  QSignalSpy finished(dialog, &UploadingDocDlg::signal_uploadDocFinished);
  ASSERT_TRUE(waitUntil([&] { return converter->stats().accepted == 1; }));
  converter->stop();
  config.listen_port = port;
  converter = std::make_unique<convert::Server>(config);
  ASSERT_EQ(converter->start(), port) << converter->error();
  ASSERT_TRUE(waitUntil([&] { return finished.size() == 1; }))
      << dialog->statusText().toStdString();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("教案：第三章 方程（共3页）"));
  EXPECT_EQ(finished.first().at(1).toInt(), 3);
  EXPECT_LT(dialog->retriesLeft(), UploadingDocDlg::kRetries);

  // Registered at the service and announced: the student's list has it.
  ASSERT_TRUE(waitUntil([&] { return documents.items().size() == 1; }));
  EXPECT_TRUE(pupil->waitFor(QStringLiteral("documents 第三章 方程")))
      << pupil->lines().join('\n').toStdString();

  // The teacher shows page 2; the student sees the very same pixels.
  SharedArea& area = *part<SharedArea>();
  DocumentItem* item = documents.items().first();
  int mark = pupil->mark();
  area.onSharingDocument(item->id(), item->fileName(), item->pages());
  ASSERT_TRUE(waitUntil([&] { return area.state().mode == 3 && !area.picture().isNull(); }));
  EXPECT_TRUE(sameAsTeacher(*pupil, mark)) << pupil->lines().join('\n').toStdString();
  mark = pupil->mark();
  area.btnNextPic_clicked();
  ASSERT_EQ(area.state().page, 2);
  EXPECT_TRUE(sameAsTeacher(*pupil, mark))
      << pupil->lines().join('\n').toStdString() << "\nteacher: " << teacherShows().toStdString();

  // A presentation too: one page per slide, newest on top of both lists.
  const QString pptx = makePptx(home_.home(), QStringLiteral("课件演示"), 2);
  ASSERT_FALSE(pptx.isEmpty());
  documents.uploadDocument(pptx);
  UploadingDocDlg* second = documents.uploadDialog();
  ASSERT_TRUE(second && second != dialog);
  QSignalSpy slides(second, &UploadingDocDlg::signal_uploadDocFinished);
  ASSERT_TRUE(waitUntil([&] { return slides.size() == 1; })) << second->statusText().toStdString();
  EXPECT_EQ(slides.first().at(1).toInt(), 2);
  EXPECT_TRUE(pupil->waitFor(QStringLiteral("documents 课件演示,第三章 方程")))
      << pupil->lines().join('\n').toStdString();
}

TEST_F(MaterialsE2E, CoursewareIsPagedEditedDeletedAndBoughtOnce) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  CoursewareList& list = *part<CoursewareList>();
  ASSERT_TRUE(waitUntil([&] { return list.items().size() >= 2; }));
  EXPECT_EQ(list.pageText(), QStringLiteral("第1页 / 共1页"));
  list.btnPrevPage_clicked();
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("已经是第一页了"));
  list.btnNextPage_clicked();
  ASSERT_TRUE(
      waitUntil([] { return Prompt::instance()->text() == QStringLiteral("已经是最后一页了"); }));
  EXPECT_EQ(list.page(), 1);

  // Editing: a name too long is refused here; a good one reaches the service.
  CoursewareItem* priced = nullptr;
  CoursewareItem* free = nullptr;
  for (CoursewareItem* item : list.items())
    (item->price() > 0 ? priced : free) = item;
  ASSERT_TRUE(priced && free);
  const int pricedId = priced->id();
  const int price = priced->price();
  const int freeId = free->id();
  // Waits for the answer to a list request made now: it replaces every row, and only a list
  // answer replaces the priced one (a delete takes out its own row alone).
  const auto reloaded = [&] {
    QPointer<CoursewareItem> before;
    for (CoursewareItem* item : list.items())
      if (item->id() == pricedId)
        before = item;
    if (before.isNull())
      return false;
    list.reload();
    return waitUntil([&] { return before.isNull() || !list.items().contains(before.data()); });
  };
  const auto shows = [&](int id) {
    for (CoursewareItem* item : list.items())
      if (item->id() == id)
        return item;
    return static_cast<CoursewareItem*>(nullptr);
  };
  list.setDialogRunner([&](QDialog& dialog) {
    auto& edit = static_cast<EditCoursewareDlg&>(dialog);
    edit.findChild<QLineEdit*>("editCoursewareName")->setText(QString(21, QChar(0x8bfe)));
    edit.btnOk_clicked();
    EXPECT_EQ(edit.refusal(), QStringLiteral("课件名称过长！"));
    edit.findChild<QLineEdit*>("editCoursewareName")
        ->setText(QStringLiteral("第二章 整式（修订）"));
    edit.btnOk_clicked();
    QSignalSpy done(&edit, &QDialog::finished);
    done.wait(30000);
    return edit.result();
  });
  list.onEditCourseware(priced);
  EXPECT_EQ(priced->name(), QStringLiteral("第二章 整式（修订）"));
  // The row shows the edit at once; the service's list has it too. Its answer is awaited
  // before going on, so it cannot land after the delete below and bring the deleted row back.
  ASSERT_TRUE(reloaded());
  ASSERT_NE(shows(pricedId), nullptr);
  EXPECT_EQ(shows(pricedId)->name(), QStringLiteral("第二章 整式（修订）"));

  // Deleting the free one, after the question: its row goes when the service answers, and
  // the service's list no longer has it.
  QString asked;
  answerNextBox(true, &asked);
  ASSERT_NE(shows(freeId), nullptr);
  list.onDeleteCourseware(shows(freeId));
  EXPECT_EQ(asked, QStringLiteral("确定要删除该课件吗吗?"));
  ASSERT_TRUE(waitUntil([&] { return shows(freeId) == nullptr; }));
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("删除课件成功！"));
  ASSERT_TRUE(reloaded());
  EXPECT_EQ(shows(freeId), nullptr);
  EXPECT_NE(shows(pricedId), nullptr);

  // A student buys the priced one: charged once; watching again charges nothing.
  auto pupil = window("student1");
  ASSERT_TRUE(pupil->waitFor("ready")) << pupil->lines().join('\n').toStdString();
  auto balance = [&] {
    const int mark = pupil->mark();
    pupil->send("balance");
    QString money;
    waitUntil([&] {
      for (int i = mark; i < pupil->lines().size(); ++i)
        if (pupil->lines()[i].startsWith("balance "))
          money = pupil->lines()[i].mid(8);
      return !money.isEmpty();
    });
    return money.toDouble();
  };
  const double before = balance();
  int mark = pupil->mark();
  pupil->send(QStringLiteral("watch %1").arg(pricedId));
  EXPECT_TRUE(pupil->waitFor("bought yes", mark)) << pupil->lines().join('\n').toStdString();
  EXPECT_TRUE(pupil->waitFor(QStringLiteral("player %1").arg(pricedId), mark));
  EXPECT_DOUBLE_EQ(balance(), before - price);
  mark = pupil->mark();
  pupil->send(QStringLiteral("watch %1").arg(pricedId));
  ASSERT_TRUE(waitUntil([&] {
    return pupil->lines().indexOf(QStringLiteral("player %1").arg(pricedId), mark) >= 0 ||
           pupil->lines().indexOf("bought yes", mark) >= 0;
  }));
  EXPECT_EQ(pupil->lines().indexOf("bought yes", mark), -1);  // bought already: no dialog
  EXPECT_DOUBLE_EQ(balance(), before - price);
}
