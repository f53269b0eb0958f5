// A fixed set of threads taking jobs from a bounded queue. A job that does not
// fit is refused at once (tryPost returns false), so the caller can answer
// "busy" instead of letting work pile up without end.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavsvc {

class WorkerPool {
public:
  WorkerPool(std::string name, int threads, size_t queueLimit);
  ~WorkerPool();  // runs what is queued, then joins
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  bool tryPost(std::function<void()> job);
  void stop();

private:
  void run();

  const std::string name_;
  const size_t queueLimit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tavsvc
