// velthread: the thread, mutex and semaphore classes of the media libraries.
//
// Built on the C++ standard library; usable from any thread. Nothing throws across this
// interface: failures come back as results.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

// Non-recursive mutex: locking it twice from one thread deadlocks.
class velmutex {
public:
  velmutex() = default;
  velmutex(const velmutex&) = delete;
  velmutex& operator=(const velmutex&) = delete;

  // Blocks until the caller holds the mutex.
  void lock() noexcept;
  // Releases a mutex held by the caller.
  void unlock() noexcept;
  // Takes the mutex if it is free; true when taken.
  bool try_lock() noexcept;

private:
  std::mutex mutex_;
};

// Holds a velmutex for the lifetime of the object.
class velmutex_lock {
public:
  explicit velmutex_lock(velmutex& mutex) : mutex_(&mutex) { mutex_->lock(); }
  // A null mutex makes the guard a no-op.
  explicit velmutex_lock(velmutex* mutex) : mutex_(mutex) {
    if (mutex_)
      mutex_->lock();
  }
  ~velmutex_lock() {
    if (mutex_)
      mutex_->unlock();
  }
  velmutex_lock(const velmutex_lock&) = delete;
  velmutex_lock& operator=(const velmutex_lock&) = delete;

private:
  velmutex* mutex_;
};

// Counting semaphore.
class velsemaphore {
public:
  explicit velsemaphore(unsigned initial = 0) : count_(initial) {}
  velsemaphore(const velsemaphore&) = delete;
  velsemaphore& operator=(const velsemaphore&) = delete;

  // Adds one to the count and wakes one waiter. 0 done, -1 when the count is at its maximum.
  int post();
  // Waits without limit until the count is positive and takes one. 0 signalled, negative error.
  int wait();
  // Waits at most `ms` milliseconds (0 only tests). 0 signalled, 1 time-out, negative error.
  int wait(unsigned ms);

private:
  std::mutex mutex_;
  std::condition_variable cond_;
  unsigned count_;
};

// A thread whose body is the subclass's run().
//
// Stopping is cooperative: quit() raises a flag that the body polls with quit_requested()
// (or sleeps on with wait_quit()), calls on_quit() so a body blocked on its own wait can be
// woken, and then joins the thread. A subclass must call quit() in its own destructor: by
// the time ~lthread runs, the subclass's members are already gone.
//
// start() and quit() are deliberately not virtual, so a class that also implements an
// interface with its own start()/stop() cannot override them by accident.
class lthread {
public:
  lthread();
  // Asks a running body to quit and joins it. Deleted from inside its own body, the object
  // lets the thread finish alone (the body must not touch the object afterwards).
  virtual ~lthread();
  lthread(const lthread&) = delete;
  lthread& operator=(const lthread&) = delete;

  // Starts the body on a new thread. 0 started; -1 when the body is still running, when
  // called from the body itself, or when no thread could be created. A body that has
  // returned may be started again.
  int start();
  // Asks the body to stop and joins it. Returns 0, also when not started or already ended.
  // Called from inside the body it only raises the flag and returns 0 without joining; the
  // thread is joined by a later quit(), start() or the destructor.
  int quit();
  // True from start() until run() has returned.
  bool is_running() const;

protected:
  // The thread body. An exception leaving it is swallowed and ends the thread.
  virtual void run() = 0;
  // Called by quit() (on the quitting thread, before the join) after the flag is raised.
  // Override to wake a body blocked on something other than wait_quit().
  virtual void on_quit() {}
  // True once quit() was called for the current run.
  bool quit_requested() const;
  // Sleeps up to `ms` milliseconds, returning early on quit(). 0 quit requested, 1 time-out.
  int wait_quit(unsigned ms);

private:
  // Shared with the running thread, which still needs it after run() has returned.
  struct state;
  std::shared_ptr<state> state_;
};
