#include "VWPaintInfoSendThead.h"

#include <QMutexLocker>

#include "VWClassroomLink.h"

namespace vw {

VWPaintInfoSendThead::VWPaintInfoSendThead(VWClassroomLink* classroom, QObject* parent)
    : QThread(parent), classroom_(classroom) {
  setObjectName(QStringLiteral("VWPaintInfoSendThead"));
  start(QThread::InheritPriority);
}

VWPaintInfoSendThead::~VWPaintInfoSendThead() {
  running_ = false;
  queued_.release();
  quit();
  wait();
  QMutexLocker lock(&mutex_);
  qDeleteAll(queue_);
  queue_.clear();
}

void VWPaintInfoSendThead::enqueue(std::unique_ptr<QJsonObject> msg) {
  if (!msg)
    return;
  {
    QMutexLocker lock(&mutex_);
    queue_.enqueue(msg.release());
  }
  queued_.release();
}

int VWPaintInfoSendThead::pending() {
  QMutexLocker lock(&mutex_);
  return queue_.size();
}

void VWPaintInfoSendThead::run() {
  while (running_) {
    queued_.acquire();
    if (!running_)
      break;
    std::unique_ptr<QJsonObject> msg;
    {
      QMutexLocker lock(&mutex_);
      if (queue_.isEmpty())
        continue;
      msg.reset(queue_.dequeue());
    }
    if (classroom_)
      classroom_->sendRoomJson(*msg, QStringLiteral("*"));
  }
}

}  // namespace vw
