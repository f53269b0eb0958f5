#include "ThreadRelay.h"

ThreadRelay::ThreadRelay(QObject* receiver) : gate_(std::make_shared<Gate>()) {
  gate_->receiver = receiver;
  // The receiver may go before the relay: from then on nothing is posted to
  // it. destroyed comes before the receiver drops its posted events, so a post
  // that got in first is dropped with them.
  const std::shared_ptr<Gate> gate = gate_;
  watch_ = QObject::connect(
      receiver, &QObject::destroyed, receiver,
      [gate] {
        QMutexLocker lock(&gate->mutex);
        gate->receiver = nullptr;
        gate->open = false;
      },
      Qt::DirectConnection);
}

void ThreadRelay::close() {
  QObject::disconnect(watch_);
  QMutexLocker lock(&gate_->mutex);
  gate_->receiver = nullptr;
  gate_->open = false;
}
