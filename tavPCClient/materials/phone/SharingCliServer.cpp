#include "SharingCliServer.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutexLocker>

#include "phonewire/phone_packet.h"
#include "send2cli.h"

namespace {

constexpr int kReceiveBuffer = 16 * 1024;
const char kGoneNotice[] = "{\"typeId\": \"1000\"}";

}  // namespace

SharingCliServer::SharingCliServer(const QString& dataFolder, QObject* parent)
    : QThread(parent), folder_(QDir(dataFolder).filePath(QStringLiteral("tempData")) + '/') {
  QDir().mkpath(folder_);
}

SharingCliServer::~SharingCliServer() {
  stop();
}

int SharingCliServer::start(const QStringList& addresses, const QString& secret,
                            quint16 firstPort) {
  if (running_ || isRunning() || addresses.isEmpty() || !wake_.ok())
    return -1;
  for (quint32 port = firstPort; port <= kLastPort; ++port) {
    bool all = true;
    for (const QString& address : addresses) {
      std::string error;
      const int socket =
          platform::tcpListen(address.toStdString(), quint16(port), kBacklog, &error);
      if (socket < 0) {
        if (error.rfind("bind", 0) == 0)
          qDebug() << "Error at bind()" << address << port;
        else
          qDebug() << "Error at listen()" << address << port << QString::fromStdString(error);
        all = false;
        break;
      }
      listening_.push_back(socket);
    }
    if (all) {
      port_ = quint16(port);
      break;
    }
    closeListening();
  }
  if (listening_.empty())
    return -1;
  secret_ = secret;
  running_ = true;
  QThread::start();
  return 0;
}

void SharingCliServer::stop() {
  running_ = false;
  wake_.wake();
  {
    // A writer blocked on a phone that does not read returns once the
    // socket is shut down; only then can it be joined.
    QMutexLocker lock(&mutex_);
    platform::tcpShutdown(connected_);
  }
  quit();
  wait();
  endConnection();
  closeListening();
}

void SharingCliServer::closeListening() {
  for (int socket : listening_)
    platform::tcpClose(socket);
  listening_.clear();
}

void SharingCliServer::endConnection() {
  QMutexLocker lock(&mutex_);
  platform::tcpShutdown(connected_);
  delete writer_;
  writer_ = nullptr;
  platform::tcpClose(connected_);
  connected_ = -1;
}

// ---- the accept and receive loops (the server's thread) ----

void SharingCliServer::run() {
  while (running_) {
    const int ready = wake_.wait(listening_, -1);
    if (!running_)
      break;
    if (ready < 0) {
      if (ready == platform::SocketWait::kError) {
        qWarning() << "phone link: waiting for a phone failed";
        emit signal_threadRecvData(kRoomJson, QString::fromLatin1(kGoneNotice));
        break;
      }
      continue;
    }
    std::string peer;
    bool retry = false;
    const int socket = platform::tcpAccept(listening_[size_t(ready)], &peer, &retry);
    if (socket < 0) {
      if (retry)
        continue;
      qWarning() << "phone link: accept failed";
      emit signal_threadRecvData(kRoomJson, QString::fromLatin1(kGoneNotice));
      continue;
    }
    const QString from = QString::fromStdString(peer);
    phonewire::stream_reader reader;
    if (!hello(socket, from, reader))
      continue;
    {
      QMutexLocker lock(&mutex_);
      connected_ = socket;
      writer_ = new send2cli(socket);
      writer_->start();
    }
    qInfo() << "phone link: phone connected from" << from;
    emit signal_ClientConnect();
    const QString why = receive(socket, reader);
    endConnection();
    if (!running_)
      break;
    qInfo() << "phone link: connection from" << from << "ended:" << why;
    emit signal_threadRecvData(kRoomJson, QString::fromLatin1(kGoneNotice));
  }
}

bool SharingCliServer::hello(int socket, const QString& peer, phonewire::stream_reader& reader) {
  QElapsedTimer since;
  since.start();
  char buffer[512];
  QString refused;
  while (running_) {
    phonewire::packet p;
    const auto result = reader.next(p);
    if (result == phonewire::stream_reader::result::packet) {
      if (p.type == phonewire::kHello &&
          phonewire::same_secret(p.descriptor, secret_.toStdString()))
        return true;
      refused = p.type == phonewire::kHello ? QStringLiteral("wrong pairing secret")
                                            : QStringLiteral("no pairing secret first");
      break;
    }
    if (result == phonewire::stream_reader::result::failed) {
      refused = QString::fromStdString(reader.error());
      break;
    }
    const qint64 left = kHelloMs - since.elapsed();
    if (left <= 0) {
      refused = QStringLiteral("no pairing secret within %1 ms").arg(kHelloMs);
      break;
    }
    const int ready = wake_.wait({socket}, int(left));
    if (ready != 0)
      continue;  // woken (stop) or timed out: checked above
    const long n = platform::tcpRecv(socket, buffer, sizeof buffer);
    if (n <= 0) {
      refused = QStringLiteral("closed before its pairing secret");
      break;
    }
    reader.feed(buffer, size_t(n));
  }
  if (!refused.isEmpty())
    qWarning().noquote() << "phone link: refused" << peer << "-" << refused;
  platform::tcpShutdown(socket);
  platform::tcpClose(socket);
  return false;
}

QString SharingCliServer::receive(int socket, phonewire::stream_reader& reader) {
  std::vector<char> buffer(kReceiveBuffer);
  QElapsedTimer window;
  window.start();
  int packetsThisSecond = 0;
  bool throttled = false;
  while (running_) {
    {
      QMutexLocker lock(&mutex_);
      if (writer_ && writer_->failed())
        return QStringLiteral("sending to the phone failed");
    }
    phonewire::packet p;
    const auto result = reader.next(p);
    if (result == phonewire::stream_reader::result::failed)
      return QStringLiteral("bad packet: ") + QString::fromStdString(reader.error());
    if (result == phonewire::stream_reader::result::need_more) {
      const int ready = wake_.wait({socket}, kIdleMs);
      if (ready == platform::SocketWait::kTimeout)
        return QStringLiteral("nothing heard for %1 ms").arg(kIdleMs);
      if (ready != 0)
        continue;
      const long n = platform::tcpRecv(socket, buffer.data(), buffer.size());
      if (n == 0)
        return QStringLiteral("closed by the phone");
      if (n < 0)
        return QStringLiteral("receive error");
      reader.feed(buffer.data(), size_t(n));
      continue;
    }

    // A flood is read no faster than the bound: the rest waits in the socket.
    if (window.elapsed() >= 1000) {
      window.restart();
      packetsThisSecond = 0;
    }
    if (++packetsThisSecond > kMaxPacketsPerSecond) {
      if (!throttled)
        qWarning() << "phone link: more than" << kMaxPacketsPerSecond
                   << "packets a second; reading slower";
      throttled = true;
      wake_.wait({}, int(qMax<qint64>(1, 1000 - window.elapsed())));
      window.restart();
      packetsThisSecond = 1;
    }

    switch (p.type) {
      case phonewire::kFile: {
        if (receivedBytes_ + qint64(p.body.size()) > kMaxReceivedBytes)
          return QStringLiteral("more than %1 bytes of files").arg(kMaxReceivedBytes);
        receivedBytes_ += qint64(p.body.size());
        lastFile_ = saveFile(p.body, p.extension);
        emit signal_threadRecvData(kFileReceived, lastFile_);
        break;
      }
      case phonewire::kJson:
      case phonewire::kRoomJson: {
        if (p.board_request()) {
          emit signal_threadRecvData(kBoardRequest, QString());
          break;
        }
        if (!phonewire::json_depth_within(p.body, phonewire::kMaxJsonDepth)) {
          qWarning() << "phone link: JSON nested deeper than" << phonewire::kMaxJsonDepth
                     << "dropped";
          break;
        }
        lastJson_ = QString::fromUtf8(p.body.data(), int(p.body.size()));
        emit signal_threadRecvData(p.type == phonewire::kJson ? kBoardJson : kRoomJson, lastJson_);
        break;
      }
      case phonewire::kKeepAlive:
        if (p.length != 0)
          enqueue({phonewire::keepalive(true)});
        break;
      default:
        break;  // a hello again, or what only the PC sends
    }
  }
  return QStringLiteral("stopped");
}

QString SharingCliServer::saveFile(const std::string& body, const std::string& extension) {
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss"));
  const QString ext = QString::fromStdString(extension);
  QString path = folder_ + prefix_ + '-' + stamp + ext;
  // Two photos within a second keep both.
  for (int n = 2; QFileInfo::exists(path); ++n)
    path = folder_ + prefix_ + '-' + stamp + '_' + QString::number(n) + ext;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(body.data(), qint64(body.size())) != qint64(body.size()))
    qWarning() << "phone link: cannot write" << path << file.errorString();
  return path;
}

// ---- sending ----

void SharingCliServer::enqueue(const std::vector<std::string>& pieces) {
  QMutexLocker lock(&mutex_);
  if (!writer_)
    return;
  qint64 bytes = 0;
  for (const std::string& piece : pieces)
    bytes += qint64(piece.size());
  if (writer_->queuedBytes() + bytes > kMaxQueuedBytes) {
    // The phone stopped reading: the link ends (the receive loop sees it).
    qWarning() << "phone link: the phone does not read; ending the connection";
    platform::tcpShutdown(connected_);
    return;
  }
  for (const std::string& piece : pieces)
    writer_->enqueue(piece.data(), int(piece.size()));
}

int SharingCliServer::sendJsonOf(quint32 type, const QJsonObject& msg) {
  // UTF-8, as the phone reads it, whatever the PC's own code page.
  QByteArray text = QJsonDocument(msg).toJson();
  text.replace('\n', QByteArray());
  if (text.isEmpty())
    return -1;
  const std::string_view bytes(text.constData(), size_t(text.size()));
  enqueue(phonewire::queued_pieces(phonewire::json_head(type, bytes.size()), bytes));
  return 0;
}

int SharingCliServer::sendJson(const QJsonObject& msg) {
  return sendJsonOf(phonewire::kJson, msg);
}

int SharingCliServer::sendJson6(const QJsonObject& msg) {
  return sendJsonOf(phonewire::kRoomJson, msg);
}

int SharingCliServer::sendFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return -1;
  const QByteArray bytes = file.readAll();
  if (bytes.isEmpty())
    return -1;
  const std::string ext = QFileInfo(path).suffix().isEmpty()
                              ? std::string()
                              : ('.' + QFileInfo(path).suffix()).toStdString();
  const std::string_view body(bytes.constData(), size_t(bytes.size()));
  enqueue(phonewire::queued_pieces(phonewire::file_head(ext, body.size()), body));
  return 0;
}

int SharingCliServer::sendInt(int n) {
  enqueue({phonewire::number_packet(n)});
  return 0;
}
