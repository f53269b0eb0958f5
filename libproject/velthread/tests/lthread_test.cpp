#include <atomic>
#include <stdexcept>

#include <gtest/gtest.h>

#include "velthread/velthread.h"

namespace {

// Polls the quit flag, sleeping on wait_quit between rounds.
class polling_thread : public lthread {
public:
  ~polling_thread() override { quit(); }
  velsemaphore started;
  std::atomic<bool> finished{false};
  std::atomic<int> runs{0};

protected:
  void run() override {
    ++runs;
    started.post();
    while (!quit_requested())
      wait_quit(60000);
    finished = true;
  }
};

TEST(Lthread, QuitStopsAndJoinsTheBody) {
  polling_thread t;
  ASSERT_EQ(t.start(), 0);
  ASSERT_EQ(t.started.wait(30000), 0);
  EXPECT_TRUE(t.is_running());
  EXPECT_EQ(t.start(), -1);  // already running
  EXPECT_EQ(t.quit(), 0);
  // quit() joined: the body has completed, not merely been asked.
  EXPECT_TRUE(t.finished.load());
  EXPECT_FALSE(t.is_running());
  EXPECT_EQ(t.quit(), 0);  // twice is harmless
}

TEST(Lthread, QuitWithoutStartAndRestartAfterQuit) {
  polling_thread t;
  EXPECT_EQ(t.quit(), 0);
  ASSERT_EQ(t.start(), 0);
  ASSERT_EQ(t.started.wait(30000), 0);
  ASSERT_EQ(t.quit(), 0);
  t.finished = false;
  ASSERT_EQ(t.start(), 0);  // the quit flag is reset for the new run
  ASSERT_EQ(t.started.wait(30000), 0);
  EXPECT_FALSE(t.finished.load());
  ASSERT_EQ(t.quit(), 0);
  EXPECT_TRUE(t.finished.load());
  EXPECT_EQ(t.runs.load(), 2);
}

TEST(Lthread, DestructorJoinsARunningBody) {
  // The flag lives outside the object, so it can be read after the object is gone.
  class reporting_thread : public lthread {
  public:
    explicit reporting_thread(std::atomic<bool>* finished) : finished_(finished) {}
    ~reporting_thread() override { quit(); }
    velsemaphore started;

  protected:
    void run() override {
      started.post();
      while (!quit_requested())
        wait_quit(60000);
      *finished_ = true;
    }

  private:
    std::atomic<bool>* finished_;
  };
  std::atomic<bool> finished{false};
  {
    reporting_thread t(&finished);
    ASSERT_EQ(t.start(), 0);
    ASSERT_EQ(t.started.wait(30000), 0);
  }
  EXPECT_TRUE(finished.load());
}

// Blocks on its own semaphore; on_quit wakes it.
class blocking_thread : public lthread {
public:
  ~blocking_thread() override { quit(); }
  velsemaphore wake;
  std::atomic<bool> woke_for_quit{false};

protected:
  void run() override {
    wake.wait();
    woke_for_quit = quit_requested();
  }
  void on_quit() override { wake.post(); }
};

TEST(Lthread, OnQuitWakesABodyBlockedElsewhere) {
  blocking_thread t;
  ASSERT_EQ(t.start(), 0);
  EXPECT_EQ(t.quit(), 0);
  EXPECT_TRUE(t.woke_for_quit.load());
  EXPECT_FALSE(t.is_running());
}

// Ends itself by calling quit() from inside the body.
class self_quitting_thread : public lthread {
public:
  ~self_quitting_thread() override { quit(); }
  std::atomic<int> quit_result{-9};
  std::atomic<int> start_result{-9};
  std::atomic<bool> flag_seen{false};
  velsemaphore done;

protected:
  void run() override {
    quit_result = quit();  // must not try to join itself
    start_result = start();
    flag_seen = quit_requested();
    done.post();
  }
};

TEST(Lthread, QuitFromInsideTheBodyIsSafe) {
  self_quitting_thread t;
  ASSERT_EQ(t.start(), 0);
  ASSERT_EQ(t.done.wait(30000), 0);
  EXPECT_EQ(t.quit_result.load(), 0);
  EXPECT_EQ(t.start_result.load(), -1);
  EXPECT_TRUE(t.flag_seen.load());
  EXPECT_EQ(t.quit(), 0);  // joins the finished thread from outside
  EXPECT_FALSE(t.is_running());
}

// Returns at once; a later quit() (as a player's stop after the media ended) must still work.
class short_thread : public lthread {
public:
  ~short_thread() override { quit(); }
  velsemaphore done;
  bool throw_it = false;

protected:
  void run() override {
    done.post();
    if (throw_it)
      throw std::runtime_error("body failed");
  }
};

TEST(Lthread, BodyThatEndsByItselfIsReapedByQuitOrStart) {
  short_thread t;
  ASSERT_EQ(t.start(), 0);
  ASSERT_EQ(t.done.wait(30000), 0);
  ASSERT_EQ(t.quit(), 0);
  EXPECT_FALSE(t.is_running());
  t.throw_it = true;  // an escaping exception ends the thread without ending the process
  ASSERT_EQ(t.start(), 0);
  ASSERT_EQ(t.done.wait(30000), 0);
  EXPECT_EQ(t.quit(), 0);
}

// Deletes itself at the end of its body.
class self_deleting_thread : public lthread {
public:
  explicit self_deleting_thread(velsemaphore* gone) : gone_(gone) {}
  ~self_deleting_thread() override {
    quit();
    gone_->post();
  }

protected:
  void run() override { delete this; }

private:
  velsemaphore* gone_;
};

TEST(Lthread, BodyMayDeleteItsOwnObject) {
  velsemaphore gone;
  auto* t = new self_deleting_thread(&gone);
  ASSERT_EQ(t->start(), 0);
  EXPECT_EQ(gone.wait(30000), 0);
}

TEST(Lthread, WaitQuitTimesOutWhileNotQuitting) {
  class probe : public lthread {
  public:
    ~probe() override { quit(); }
    std::atomic<int> first{-9}, second{-9};
    velsemaphore measured, go_on;

  protected:
    void run() override {
      first = wait_quit(10);
      measured.post();
      go_on.wait(30000);
      second = wait_quit(60000);
    }
  } t;
  ASSERT_EQ(t.start(), 0);
  ASSERT_EQ(t.measured.wait(30000), 0);
  EXPECT_EQ(t.first.load(), 1);
  t.go_on.post();
  t.quit();
  EXPECT_EQ(t.second.load(), 0);
}

}  // namespace
