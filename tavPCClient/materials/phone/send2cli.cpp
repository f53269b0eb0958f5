#include "send2cli.h"

#include <QMutexLocker>

#include "platform/tcp.h"

send2cli::send2cli(int socket, QObject* parent) : QThread(parent), socket_(socket) {}

send2cli::~send2cli() {
  running_ = false;
  pending_.release();
  quit();
  wait();
  QMutexLocker lock(&mutex_);
  queue_.clear();
}

void send2cli::enqueue(const char* bytes, int len) {
  if (len <= 0)
    return;
  {
    QMutexLocker lock(&mutex_);
    queue_.enqueue(QByteArray(bytes, len));
  }
  queued_ += len;
  pending_.release();
}

void send2cli::run() {
  while (running_) {
    pending_.acquire();
    if (!running_)
      break;
    QByteArray buffer;
    {
      QMutexLocker lock(&mutex_);
      if (queue_.isEmpty())
        continue;
      buffer = queue_.dequeue();
    }
    queued_ -= buffer.size();
    // After a failed send the rest is dropped: the stream is broken, and
    // the receiving side ends the connection.
    if (!failed_ && !platform::tcpSendAll(socket_, buffer.constData(), size_t(buffer.size())))
      failed_ = true;
  }
}
