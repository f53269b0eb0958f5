#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "velthread/velthread.h"

struct lthread::state {
  std::mutex control;  // serialises start() and quit() from outside the body
  std::mutex launch;   // held by start() until the new thread is stored
  std::thread thread;
  std::atomic<bool> quit{false};
  std::atomic<bool> running{false};
  std::atomic<std::thread::id> body_id{};
  std::mutex wait_mutex;
  std::condition_variable wait_cond;

  bool on_body_thread() const { return std::this_thread::get_id() == body_id.load(); }
};

lthread::lthread() : state_(std::make_shared<state>()) {}

lthread::~lthread() {
  if (state_->on_body_thread()) {
    // Deleted by its own body: it cannot join itself, and a joinable std::thread must not be
    // destroyed, so the thread is let go; it keeps the shared state alive until it ends.
    state_->quit = true;
    if (state_->thread.joinable())
      state_->thread.detach();
    return;
  }
  quit();
}

bool lthread::is_running() const {
  return state_->running.load();
}

bool lthread::quit_requested() const {
  return state_->quit.load();
}

int lthread::start() {
  // Only the local reference is used once the thread exists: its body may delete this object
  // before start() returns.
  std::shared_ptr<state> s = state_;
  if (s->on_body_thread())
    return -1;
  std::lock_guard<std::mutex> lock(s->control);
  if (s->thread.joinable()) {
    if (s->running.load())
      return -1;
    s->thread.join();  // the previous body has returned: reap it before starting again
  }
  s->quit = false;
  s->running = true;
  try {
    // The body waits until its std::thread is stored, so a body that deletes its object finds
    // a thread it can detach.
    std::lock_guard<std::mutex> launch(s->launch);
    s->thread = std::thread([this, s] {
      { std::lock_guard<std::mutex> launched(s->launch); }
      s->body_id = std::this_thread::get_id();
      try {
        run();
      } catch (...) {
        // Nothing may leave a thread body; an escaping exception only ends the thread.
      }
      // From here on `this` may be gone (a body may delete its object); only `s` is used.
      // The id is forgotten first: once the thread has ended the system may give it to
      // another thread, which must not be taken for the body.
      s->body_id = std::thread::id();
      s->running = false;
    });
  } catch (const std::system_error&) {
    s->running = false;
    return -1;
  }
  return 0;
}

int lthread::quit() {
  {
    // Raised under the wait mutex so a body between its flag check and its sleep in
    // wait_quit() cannot miss the wake-up.
    std::lock_guard<std::mutex> lock(state_->wait_mutex);
    state_->quit = true;
  }
  state_->wait_cond.notify_all();
  on_quit();
  if (state_->on_body_thread())
    return 0;
  std::lock_guard<std::mutex> lock(state_->control);
  if (state_->thread.joinable())
    state_->thread.join();
  return 0;
}

int lthread::wait_quit(unsigned ms) {
  std::unique_lock<std::mutex> lock(state_->wait_mutex);
  const bool quitting = state_->wait_cond.wait_for(lock, std::chrono::milliseconds(ms),
                                                   [this] { return state_->quit.load(); });
  return quitting ? 0 : 1;
}
