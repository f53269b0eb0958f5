#include "WorkerPool.h"

#include <pthread.h>

namespace tavsvc {

WorkerPool::WorkerPool(std::string name, int threads, size_t queueLimit)
    : name_(std::move(name)), queueLimit_(queueLimit) {
  for (int i = 0; i < (threads < 1 ? 1 : threads); ++i)
    threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
  stop();
}

bool WorkerPool::tryPost(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || jobs_.size() >= queueLimit_)
      return false;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void WorkerPool::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_)
    if (thread.joinable())
      thread.join();
  threads_.clear();
}

void WorkerPool::run() {
  pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty())
        return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace tavsvc
