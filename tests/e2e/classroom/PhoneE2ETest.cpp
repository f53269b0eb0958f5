// The phone assistant for real: the teacher's classroom window pairs with the
// phone app (tav-phone, a process of its own on a virtual display), which
// shows what the class shows, draws on the class's board, pushes a photo and
// sends a chat line, all as the teacher's; a student's window and a student's
// board see it. With TAV_PHONE_LATENCY_STROKES=N it also measures N strokes
// each way and prints the figures.
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QProcess>
#include <QtTest/QTest>
#include <algorithm>

#include "BoardMember.h"
#include "ClassroomFixture.h"
#include "PhoneAssistant.h"
#include "PixelDigest.h"
#include "QRViewForm.h"
#include "SharedArea.h"
#include "SharedAreaLine.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"
#include "VirtualDisplay.h"
#include "WindowMember.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kBoardStudent = 10004;

// tav-phone in its report mode: its lines with the time each arrived.
class PhoneApp {
public:
  PhoneApp(const QString& pairing, const QString& display, const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    if (display.isEmpty())
      env.insert("QT_QPA_PLATFORM", "offscreen");
    else
      env.insert("DISPLAY", display), env.remove("QT_QPA_PLATFORM");
    process_.setProcessEnvironment(env);
    process_.setStandardErrorFile(home + "/tav-phone-stderr.txt");
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
      while (process_.canReadLine()) {
        lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        at_ << clock_.nsecsElapsed();
      }
    });
    clock_.start();
    process_.start(QCoreApplication::applicationDirPath() + "/../bin/tav-phone",
                   {"--report", "--pair", pairing});
  }
  ~PhoneApp() {
    if (process_.state() != QProcess::NotRunning) {
      send("quit");
      if (!process_.waitForFinished(10000))
        process_.kill();
      process_.waitForFinished(5000);
    }
  }
  void send(const QString& command) { process_.write(command.toUtf8() + '\n'); }
  void kill() {
    process_.kill();
    process_.waitForFinished(10000);
  }
  int mark() const { return lines_.size(); }
  const QStringList& lines() const { return lines_; }
  // The first line from `from` on that starts with prefix; -1 when none came.
  int waitFor(const QString& prefix, int from = 0) {
    int found = -1;
    testsupport::waitUntil([&] {
      for (int i = from; i < lines_.size(); ++i)
        if (lines_[i].startsWith(prefix)) {
          found = i;
          return true;
        }
      return false;
    });
    return found;
  }
  qint64 nsecsAt(int line) const { return at_.value(line); }
  qint64 now() const { return clock_.nsecsElapsed(); }
  QString log() const { return lines_.join('\n'); }

private:
  QProcess process_;
  QStringList lines_;
  QList<qint64> at_;
  QElapsedTimer clock_;
};

QString sha256Of(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return QString();
  return QString::fromLatin1(
      QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
}

// A page of a lesson plan as the PC keeps it: a picture that tells its page.
bool writePage(const QString& path, int page) {
  QDir().mkpath(QFileInfo(path).path());
  QImage image(1280, 720, QImage::Format_RGB32);
  image.fill(qRgb(250, 250, 245));
  for (int y = 100; y < 620; ++y)
    for (int x = 100 * page; x < 100 * page + 300; ++x)
      image.setPixel(x, y, qRgb(40 * page, 120, 200 - 30 * page));
  return image.save(path, "PNG");
}

void drag(QWidget* canvas, QPointF from, QPointF to) {
  const QSize size = canvas->size();
  auto at = [&](QPointF p) {
    return QPoint(int(size.width() * p.x()), int(size.height() * p.y()));
  };
  QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, at(from));
  for (int i = 1; i <= 10; ++i) {
    const QPoint p = at(from + (to - from) * i / 10.0);
    QMouseEvent move(QEvent::MouseMove, p, canvas->mapToGlobal(p), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
  }
  QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, at(to));
}

double percentile(std::vector<double> values, double p) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

class PhoneE2E : public ClassroomTest {
protected:
  vw::VWPaintWidget* canvas() { return part<vw::VWPaintWidget>("whiteboardCanvas"); }
  QString teacherDigest() {
    return QString::fromLatin1(vw::VWShapeDigest::digest(canvas()->shapeList()));
  }
  QString teacherShows() { return testsupport::sharedAreaLine(*part<SharedArea>()); }
};

TEST_F(PhoneE2E, ThePairedPhoneShowsTheClassDrawsSharesAndChatsAsTheTeacher) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return session().classInProgress(); }));
  SharedArea& area = *part<SharedArea>();

  WindowMember pupil("student1", kRoom, servers_.host(), servers_.mcuPort(), servers_.msgPort(),
                     home_.home());
  ASSERT_TRUE(pupil.waitFor("ready")) << pupil.lines().join('\n').toStdString();
  BoardMember board(kBoardStudent, RoomContext::kStudent, kTeacher, kRoom, servers_.mcuPort(),
                    testsupport::testCredential(kBoardStudent, kRoom, 2));
  ASSERT_TRUE(waitUntil([&] { return board.connected() && board.session().classInProgress(); }));

  // Pairing: the QR code's text is all the phone is given.
  auto* assistant = part<PhoneAssistant>();
  ASSERT_TRUE(assistant);
  Prompt::instance()->setText(QString());
  assistant->pair();
  ASSERT_TRUE(assistant->paired());
  const QString pairing = assistant->form()->text();
  VirtualDisplay display;
  PhoneApp phone(pairing, display.usable() ? display.name() : QString(), home_.home());
  ASSERT_GE(phone.waitFor("connected "), 0) << phone.log().toStdString();
  ASSERT_TRUE(waitUntil(
      [] { return Prompt::instance()->text() == QStringLiteral("与手机助手连接成功！"); }));

  // The phone shows the board's template, byte for byte the PC's file.
  const QString blank = sha256Of(QStringLiteral("./wbtemplete/whitepaper.png"));
  ASSERT_FALSE(blank.isEmpty());
  EXPECT_GE(phone.waitFor("shown " + blank + " 0"), 0) << phone.log().toStdString();

  // A lesson plan's pages: the page the class turns to is the page the phone shows.
  const QString pages = home_.clientDataFolder() + "sharingfiles/1001/lesson/lesson_%1.png";
  for (int page = 1; page <= 3; ++page)
    ASSERT_TRUE(writePage(pages.arg(page), page));
  area.setDocumentUploader(42, kTeacher);
  area.onSharingDocument(42, QStringLiteral("lesson"), 3);
  ASSERT_TRUE(waitUntil([&] { return area.state().mode == 3 && area.isSharer(); }));
  EXPECT_GE(phone.waitFor("shown " + sha256Of(pages.arg(1)) + " 0"), 0)
      << phone.log().toStdString();
  int mark = phone.mark();
  area.btnNextPic_clicked();
  ASSERT_EQ(area.state().page, 2);
  EXPECT_GE(phone.waitFor("shown " + sha256Of(pages.arg(2)) + " 0", mark), 0)
      << phone.log().toStdString();

  // With the board-writing right, a stroke drawn on the phone is on every board.
  mark = phone.mark();
  part<QPushButton>("btnAnnotation")->click();
  ASSERT_TRUE(waitUntil([&] { return RoomContext::current().annotatingId == kTeacher; }));
  ASSERT_GE(phone.waitFor("rights 3", mark), 0) << phone.log().toStdString();
  ASSERT_TRUE(waitUntil([&] { return board.session().room().annotatingId == kTeacher; }));
  mark = pupil.mark();
  phone.send("stroke 0.2,0.2 0.3,0.25 0.45,0.4 0.6,0.45 0.7,0.6");
  ASSERT_TRUE(waitUntil([&] { return canvas()->shapeList().size() == 1; }));
  EXPECT_TRUE(waitUntil([&] { return board.digest() == teacherDigest().toLatin1(); }));
  EXPECT_TRUE(pupil.waitFor("board 1 " + teacherDigest(), mark))
      << pupil.lines().join('\n').toStdString();

  // A photo from the phone becomes the class's shared picture, as the teacher's.
  QImage photo(1600, 1200, QImage::Format_RGB32);
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); ++x)
      photo.setPixel(x, y, qRgb(x % 256, y % 256, 128));
  const QString photoPath = home_.home() + "/phone-photo.jpg";
  ASSERT_TRUE(photo.save(photoPath, "JPEG", 90));
  mark = pupil.mark();
  phone.send("photo " + photoPath);
  ASSERT_TRUE(
      waitUntil([&] { return area.state().mode == 2 && area.state().uploader == kTeacher; }));
  EXPECT_TRUE(waitUntil([&] { return pupil.lines().indexOf(teacherShows(), mark) >= 0; }))
      << pupil.lines().join('\n').toStdString() << "\nteacher: " << teacherShows().toStdString();

  // A chat line from the phone reaches the student as the teacher's.
  phone.send(QStringLiteral("chat 手机上的一句话"));
  EXPECT_TRUE(pupil.waitFor(QStringLiteral("chat-by %1 手机上的一句话").arg(kTeacher)))
      << pupil.lines().join('\n').toStdString();

  const int strokes = qEnvironmentVariableIntValue("TAV_PHONE_LATENCY_STROKES");
  if (strokes > 0) {
    std::vector<double> toPhone, toStudent;
    for (int i = 0; i < strokes; ++i) {
      const double y = 0.1 + 0.8 * (i % 40) / 40.0;
      // The teacher's stroke: from its release to the phone's board showing it.
      const int before = phone.mark();
      const qint64 released = phone.now();
      drag(canvas(), QPointF(0.1, y), QPointF(0.4, y + 0.05));
      const int line = phone.waitFor("board ", before);
      ASSERT_GE(line, 0);
      toPhone.push_back(double(phone.nsecsAt(line) - released) / 1e6);
      // The phone's stroke: from the command to the student's board.
      const int shapes = board.canvas().shapeList().size();
      QElapsedTimer sent;
      sent.start();
      phone.send(QStringLiteral("stroke 0.5,%1 0.7,%2 0.9,%1").arg(y).arg(y + 0.05));
      while (board.canvas().shapeList().size() == shapes && sent.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
      }
      toStudent.push_back(double(sent.nsecsElapsed()) / 1e6);
    }
    printf(
        "phone latency over %d strokes: teacher's release -> phone p50 %.1f ms p99 %.1f ms; "
        "phone's stroke -> student p50 %.1f ms p99 %.1f ms\n",
        strokes, percentile(toPhone, 0.5), percentile(toPhone, 0.99), percentile(toStudent, 0.5),
        percentile(toStudent, 0.99));
  }

  // The phone going away is said on the PC.
  phone.kill();
  EXPECT_TRUE(waitUntil(
      [] { return Prompt::instance()->text() == QStringLiteral("与手机助手断开连接！"); }));
  EXPECT_FALSE(assistant->paired());
}

}  // namespace
