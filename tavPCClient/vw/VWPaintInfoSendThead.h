// The canvas's sender: board messages leave one at a time, in the order they
// were queued, off the GUI thread, so drawing never waits for the network.
#pragma once

#include <QJsonObject>
#include <QMutex>
#include <QQueue>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <memory>

namespace vw {

class VWClassroomLink;

class VWPaintInfoSendThead : public QThread {
  Q_OBJECT
public:
  // Started at once with the creator's priority; every message goes to
  // everybody through classroom->sendRoomJson.
  explicit VWPaintInfoSendThead(VWClassroomLink* classroom, QObject* parent = nullptr);
  // Stops the thread, waits for it and drops what is still queued.
  ~VWPaintInfoSendThead() override;

  // Takes the message; it is sent after everything queued before it.
  void enqueue(std::unique_ptr<QJsonObject> msg);
  void enqueue(const QJsonObject& msg) { enqueue(std::make_unique<QJsonObject>(msg)); }
  // Messages queued and not sent yet.
  int pending();

protected:
  void run() override;

private:
  VWClassroomLink* const classroom_;
  std::atomic<bool> running_{true};
  QMutex mutex_;
  QQueue<QJsonObject*> queue_;
  QSemaphore queued_{0};
};

}  // namespace vw
