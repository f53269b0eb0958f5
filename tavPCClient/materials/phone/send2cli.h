// The paired phone's writer: packets queued by any thread leave on the
// phone's socket in the order queued, one buffer at a time, on a thread of
// their own, so no caller waits for the network.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QQueue>
#include <QSemaphore>
#include <QThread>
#include <atomic>

class send2cli : public QThread {
  Q_OBJECT

public:
  explicit send2cli(int socket, QObject* parent = nullptr);
  // Stops the writer and drops what is still queued. The socket must have
  // been shut down first when a send may be blocked on it.
  ~send2cli() override;

  // Copies the bytes into a buffer of their own at the end of the queue.
  void enqueue(const char* bytes, int len);
  // Bytes queued and not yet sent.
  qint64 queuedBytes() const { return queued_.load(); }
  // Whether a send failed (the connection is gone; nothing more is sent).
  bool failed() const { return failed_.load(); }

protected:
  void run() override;

private:
  const int socket_;
  std::atomic<bool> running_{true};
  std::atomic<bool> failed_{false};
  std::atomic<qint64> queued_{0};
  QQueue<QByteArray> queue_;
  QMutex mutex_;
  QSemaphore pending_;
};
