// tav-phone --report as end-to-end tests drive it: its event lines and its
// commands, against a scripted PC.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QHash>
#include <QImage>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include "FakePc.h"
#include "TestSupport.h"
#include "VWAnnoHandler.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"

namespace {

using testsupport::waitUntil;

class PhoneProgram {
public:
  explicit PhoneProgram(const QStringList& args) {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_, [this] {
      buffer_ += process_.readAllStandardOutput();
      for (int end; (end = buffer_.indexOf('\n')) >= 0;) {
        lines_ << QString::fromUtf8(buffer_.left(end));
        buffer_.remove(0, end + 1);
      }
    });
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(testsupport::binDir() + "/tav-phone", QStringList{"--report"} + args);
  }
  ~PhoneProgram() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished();
    }
  }
  // Waits for the next line starting with prefix after the last one this
  // prefix gave (lines of other prefixes may come in any order around it);
  // the whole line, or empty when none came.
  QString next(const QString& prefix) {
    int& from = taken_[prefix];
    QString found;
    waitUntil([&] {
      for (; from < lines_.size(); ++from) {
        if (lines_[from].startsWith(prefix)) {
          found = lines_[from++];
          return true;
        }
      }
      return false;
    });
    return found;
  }
  int count(const QString& line) const { return lines_.count(line); }
  void command(const QString& line) { process_.write(line.toUtf8() + '\n'); }
  QProcess& process() { return process_; }

private:
  QProcess process_;
  QByteArray buffer_;
  QStringList lines_;
  QHash<QString, int> taken_;
};

TEST(PhoneReportTest, EventLinesAndCommandsDriveThePhoneAsAUserWould) {
  FakePc pc;
  const QString address = QStringLiteral("127.0.0.1:%1").arg(pc.port());
  PhoneProgram phone({"--pair", pc.pairing()});
  EXPECT_EQ(phone.next("connecting"), "connecting " + address);
  EXPECT_EQ(phone.next("connected"), "connected " + address);
  EXPECT_EQ(phone.next("rights"), "rights 1");

  const QJsonObject state{{"typeId", "72"}, {"fileType", "1"}, {"fileName", "whitepaper.png"}};
  QImage page(320, 240, QImage::Format_RGB32);
  page.fill(Qt::white);
  QTemporaryDir dir;
  ASSERT_TRUE(page.save(dir.filePath("page.png")));
  QFile file(dir.filePath("page.png"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  pc.sendJson(phonewire::kRoomJson, state);
  pc.sendFile(bytes, ".png");
  const QString stateLine = phone.next("state ");
  EXPECT_EQ(QJsonDocument::fromJson(stateLine.mid(6).toUtf8()).object(), state);
  EXPECT_EQ(phone.next("shown"),
            "shown " + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + " 0");

  // A stroke drawn on the phone: the board it shows is the one the class gets.
  pc.sendRights(3);
  EXPECT_EQ(phone.next("rights"), "rights 3");
  phone.command("stroke 0.1,0.1 0.5,0.5 0.9,0.2");
  EXPECT_EQ(phone.next("sent"), "sent stroke");
  const QString boardLine = phone.next("board");
  vw::VWPaintWidget classBoard(nullptr, nullptr);
  classBoard.setShape(1, 2, 255, 0, 0, 255);  // a member's pen as the right begins
  std::vector<QJsonObject> stroke;
  ASSERT_TRUE(waitUntil([&] {
    stroke.clear();
    for (const auto& p : pc.received())
      if (p.type == phonewire::kJson && !p.body.empty())
        stroke.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(p.body)).object());
    return !stroke.empty() && stroke.back().value("content").toInt() == 3;  // the release
  }));
  for (const QJsonObject& msg : stroke)
    for (const auto& action : vw::handleAnnoMessage({0, true}, msg))
      classBoard.apply(action);
  ASSERT_EQ(classBoard.shapeList().size(), 1);
  EXPECT_EQ(boardLine, "board 1 " + vw::VWShapeDigest::digest(classBoard.shapeList()));

  // An empty chat line is refused; the photo after it is the next thing sent.
  phone.command("chat    ");
  phone.command("chat 同学们好");
  EXPECT_EQ(phone.next("sent"), "sent chat");
  phone.command("chat ");
  phone.command("photo " + dir.filePath("page.png"));
  EXPECT_EQ(phone.next("sent"), "sent photo");
  EXPECT_EQ(phone.count("sent chat"), 1);
  ASSERT_TRUE(waitUntil([&] { return pc.received().back().type == phonewire::kFile; }));
  EXPECT_EQ(pc.received().back().body, bytes.toStdString());
  EXPECT_EQ(pc.received().back().extension, ".png");

  // The PC goes away: the phone tries again with its usual pauses, then gives up.
  pc.drop(true);
  EXPECT_EQ(phone.next("lost"), "lost");
  EXPECT_EQ(phone.next("gave-up"), "gave-up");
  phone.command("quit");
  ASSERT_TRUE(waitUntil([&] { return phone.process().state() == QProcess::NotRunning; }));
  EXPECT_EQ(phone.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(phone.process().exitCode(), 0);
}

}  // namespace
