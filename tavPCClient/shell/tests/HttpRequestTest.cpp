// HttpRequest against a local HTTP server that answers with chosen bytes.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <functional>

#include "FormBody.h"
#include "HttpRequest.h"
#include "TestSupport.h"

using testsupport::waitUntil;

namespace {

struct Answer {
  QByteArray body;
  QByteArray contentType = "application/json";
  bool silent = false;  // never answer
};

// Reads one request per connection and answers from a table keyed by path.
class ScriptedServer : public QObject {
 public:
  ScriptedServer() {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
      }
    });
    server_.listen(QHostAddress::LocalHost, 0);
  }
  QString url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(server_.serverPort()).arg(path);
  }
  std::map<QByteArray, Answer> answers;
  QList<QByteArray> bodies;  // request bodies in arrival order
  int requests = 0;

 private:
  void onData(QTcpSocket* socket) {
    QByteArray& buf = pending_[socket];
    buf += socket->readAll();
    const int headerEnd = buf.indexOf("\r\n\r\n");
    if (headerEnd < 0)
      return;
    const QByteArray head = buf.left(headerEnd);
    int length = 0;
    for (const QByteArray& line : head.split('\n'))
      if (line.toLower().startsWith("content-length:"))
        length = line.mid(15).trimmed().toInt();
    if (buf.size() < headerEnd + 4 + length)
      return;
    const QByteArray path = head.split(' ').value(1).mid(1);
    bodies << buf.mid(headerEnd + 4, length);
    ++requests;
    buf.clear();
    const Answer answer =
        answers.count(path) ? answers[path] : Answer{"{}", "application/json", false};
    if (answer.silent)
      return;
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + answer.contentType +
                  "\r\nConnection: close\r\nContent-Length: " +
                  QByteArray::number(answer.body.size()) + "\r\n\r\n" + answer.body);
    socket->disconnectFromHost();
  }
  QTcpServer server_;
  std::map<QTcpSocket*, QByteArray> pending_;
};

// Counts every signal of one request object.
struct Recorder {
  explicit Recorder(HttpRequest* r)
      : object(r, qOverload<QJsonObject>(&HttpRequest::requestFinshed)),
        objectWithData(r, qOverload<QJsonObject, void*>(&HttpRequest::requestFinshed)),
        array(r, qOverload<QJsonArray>(&HttpRequest::requestFinshed)),
        arrayWithData(r, qOverload<QJsonArray, void*>(&HttpRequest::requestFinshed)),
        pixmap(r, qOverload<QPixmap>(&HttpRequest::requestFinshed)),
        pixmapWithData(r, qOverload<QPixmap, void*>(&HttpRequest::requestFinshed)) {}
  int total() const {
    return object.count() + objectWithData.count() + array.count() + arrayWithData.count() +
           pixmap.count() + pixmapWithData.count();
  }
  QSignalSpy object, objectWithData, array, arrayWithData, pixmap, pixmapWithData;
};

// Waits until the request has deleted itself (its last act).
bool finished(const QPointer<HttpRequest>& request) {
  return waitUntil([&] { return request.isNull(); }, 30000);
}
}  // namespace

TEST(HttpRequest, LoginAnswerWithEmbeddedObjectIsUnnested) {
  ScriptedServer server;
  server.answers["aas/service/user/login"] = {
      R"({"code":0,"msg":"","body":"{\"globalId\":1001,\"nickName\":\"王老师\",\"ticketId\":\"ab\"}","orgInfo":{"id":3},"chat_server":"127.0.0.1:27801"})"};
  QPointer<HttpRequest> request = new HttpRequest;
  Recorder rec(request);
  request->request(server.url("aas/service/user/login"), "userName=a&userPwd=b",
                   HttpRequest::kJson);
  ASSERT_TRUE(finished(request));
  ASSERT_EQ(rec.object.count(), 1);
  EXPECT_EQ(rec.total(), 1);
  const QJsonObject answer = rec.object.at(0).at(0).value<QJsonObject>();
  EXPECT_EQ(answer["code"].toInt(), 0);
  ASSERT_TRUE(answer["body"].isObject());
  EXPECT_EQ(answer["body"].toObject()["globalId"].toInt(), 1001);
  EXPECT_EQ(answer["body"].toObject()["nickName"].toString(), QStringLiteral("王老师"));
  EXPECT_EQ(answer["orgInfo"].toObject()["id"].toInt(), 3);
}

TEST(HttpRequest, OtherPathsAreNotUnnestedAndArraysUseTheirOverload) {
  ScriptedServer server;
  server.answers["rms/service/gift/findAll"] = {R"({"code":0,"body":"{\"a\":1}"})"};
  server.answers["list"] = {R"([{"id":1},{"id":2}])"};
  QPointer<HttpRequest> first = new HttpRequest;
  Recorder one(first);
  first->request(server.url("rms/service/gift/findAll"), "", HttpRequest::kJson);
  QPointer<HttpRequest> second = new HttpRequest;
  Recorder two(second);
  int tag = 7;
  second->request(server.url("list"), "", HttpRequest::kJson, &tag);
  ASSERT_TRUE(finished(first) && finished(second));
  ASSERT_EQ(one.object.count(), 1);
  EXPECT_TRUE(one.object.at(0).at(0).value<QJsonObject>()["body"].isString());
  ASSERT_EQ(two.arrayWithData.count(), 1);
  EXPECT_EQ(two.total(), 1);
  EXPECT_EQ(two.arrayWithData.at(0).at(0).value<QJsonArray>().size(), 2);
  EXPECT_EQ(two.arrayWithData.at(0).at(1).value<void*>(), &tag);
}

TEST(HttpRequest, BareNumberEmitsNothing) {
  ScriptedServer server;
  server.answers["n"] = {"42"};
  server.answers["bad"] = {"{not json"};
  QPointer<HttpRequest> number = new HttpRequest;
  Recorder numberRec(number);
  number->request(server.url("n"), "", HttpRequest::kJson);
  QPointer<HttpRequest> broken = new HttpRequest;
  Recorder brokenRec(broken);
  broken->request(server.url("bad"), "", HttpRequest::kJson);
  ASSERT_TRUE(finished(number) && finished(broken));
  EXPECT_EQ(numberRec.total(), 0);
  // Broken JSON is reported like a network error: one empty object.
  ASSERT_EQ(brokenRec.object.count(), 1);
  EXPECT_TRUE(brokenRec.object.at(0).at(0).value<QJsonObject>().isEmpty());
  EXPECT_EQ(brokenRec.total(), 1);
}

TEST(HttpRequest, NetworkErrorReachesTheUserDataOverloadWithAnEmptyObject) {
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
  const quint16 port = closed.serverPort();
  closed.close();  // nobody listens there any more
  int tag = 1;
  QPointer<HttpRequest> request = new HttpRequest;
  Recorder rec(request);
  request->request(QStringLiteral("http://127.0.0.1:%1/x").arg(port), "a=1", HttpRequest::kJson,
                   &tag);
  ASSERT_TRUE(finished(request));
  ASSERT_EQ(rec.objectWithData.count(), 1);
  EXPECT_EQ(rec.total(), 1);
  EXPECT_TRUE(rec.objectWithData.at(0).at(0).value<QJsonObject>().isEmpty());
  EXPECT_EQ(rec.objectWithData.at(0).at(1).value<void*>(), &tag);
}

TEST(HttpRequest, TimeoutGivesOneEmptyAnswer) {
  ScriptedServer server;
  server.answers["slow"] = {"", "application/json", true};
  QPointer<HttpRequest> request = new HttpRequest;
  request->setTimeout(300);
  Recorder rec(request);
  request->request(server.url("slow"), "", HttpRequest::kJson);
  ASSERT_TRUE(finished(request));
  ASSERT_EQ(rec.object.count(), 1);
  EXPECT_EQ(rec.total(), 1);
  EXPECT_TRUE(rec.object.at(0).at(0).value<QJsonObject>().isEmpty());
}

TEST(HttpRequest, ImagesAndNonImages) {
  QImage image(4, 3, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  ScriptedServer server;
  server.answers["uds/upload/a.png"] = {png, "image/png"};
  server.answers["uds/upload/b.png"] = {"not a picture", "image/png"};
  QPointer<HttpRequest> good = new HttpRequest;
  Recorder goodRec(good);
  good->request(server.url("uds/upload/a.png"), "", HttpRequest::kImage);
  int tag = 0;
  QPointer<HttpRequest> bad = new HttpRequest;
  Recorder badRec(bad);
  bad->request(server.url("uds/upload/b.png"), "", HttpRequest::kImage, &tag);
  ASSERT_TRUE(finished(good) && finished(bad));
  ASSERT_EQ(goodRec.pixmap.count(), 1);
  EXPECT_EQ(goodRec.pixmap.at(0).at(0).value<QPixmap>().size(), QSize(4, 3));
  ASSERT_EQ(badRec.pixmapWithData.count(), 1);
  EXPECT_TRUE(badRec.pixmapWithData.at(0).at(0).value<QPixmap>().isNull());
  EXPECT_EQ(server.requests, 2);
}

TEST(HttpRequest, UnknownKindSendsNothing) {
  ScriptedServer server;
  QPointer<HttpRequest> request = new HttpRequest;
  Recorder rec(request);
  request->request(server.url("x"), "a=1", 5);
  ASSERT_TRUE(finished(request));
  EXPECT_EQ(rec.total(), 0);
  EXPECT_EQ(server.requests, 0);
}

TEST(FormBody, ValuesArriveIntactWhateverTheyHold) {
  const QString tricky = QStringLiteral("a&b=c+d%e %1 密码");
  const QString body = FormBody("userName=%1&userPwd=%2").arg(tricky).arg("x%2y");
  ScriptedServer server;
  QPointer<HttpRequest> request = new HttpRequest;
  request->request(server.url("aas/service/user/login"), body, HttpRequest::kJson);
  ASSERT_TRUE(finished(request));
  ASSERT_EQ(server.bodies.size(), 1);
  // What a standard form decoder makes of the bytes on the wire.
  QString wire = QString::fromUtf8(server.bodies[0]);
  QUrlQuery query(wire.replace('+', ' '));
  EXPECT_EQ(query.queryItemValue("userName", QUrl::FullyDecoded), tricky);
  EXPECT_EQ(query.queryItemValue("userPwd", QUrl::FullyDecoded), QString("x%2y"));
  EXPECT_EQ(query.queryItems().size(), 2);
}

TEST(FormBody, NumbersAndMissingValues) {
  EXPECT_EQ(FormBody("roomId=%1&globalId=%2").arg(uint(42)).arg(qlonglong(-1)).toString(),
            QString("roomId=42&globalId=-1"));
  EXPECT_EQ(FormBody("a=%1&b=%2").arg("x").toString(), QString("a=x&b=%2"));
  EXPECT_EQ(FormBody("").toString(), QString());
}
