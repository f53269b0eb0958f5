// The one way from a library's thread to the thread an object lives in. A
// library observer copies what it was given into a call and posts it; the
// call runs later in the receiver's thread, unless by then the receiver is
// gone or the relay was closed. So a report that was on its way when its
// receiver went (or when the job it belongs to was stopped) never arrives.
//
// post() from any thread; close() and the destructor in the receiver's thread.
#pragma once

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <memory>
#include <type_traits>
#include <utility>

class ThreadRelay {
public:
  explicit ThreadRelay(QObject* receiver);
  ~ThreadRelay() { close(); }
  ThreadRelay(const ThreadRelay&) = delete;
  ThreadRelay& operator=(const ThreadRelay&) = delete;

  // Runs work (a callable without arguments, copied with what it captured)
  // in the receiver's thread.
  template <typename Work>
  void post(Work&& work) const {
    const std::shared_ptr<Gate> gate = gate_;
    QMutexLocker lock(&gate->mutex);
    if (!gate->receiver)
      return;
    QMetaObject::invokeMethod(
        gate->receiver,
        [gate, work = std::decay_t<Work>(std::forward<Work>(work))]() mutable {
          if (gate->isOpen())
            work();
        },
        Qt::QueuedConnection);
  }

  // Nothing posted before runs any more, and what is posted afterwards is dropped.
  void close();
  bool isOpen() const { return gate_->isOpen(); }

private:
  struct Gate {
    bool isOpen() {
      QMutexLocker lock(&mutex);
      return open;
    }
    QMutex mutex;
    // Both cleared under the mutex, when the receiver goes or the relay closes.
    QObject* receiver = nullptr;
    bool open = true;
  };
  std::shared_ptr<Gate> gate_;
  QMetaObject::Connection watch_;
};
