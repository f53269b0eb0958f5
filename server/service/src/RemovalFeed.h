// The version of the room blacklist the message server and the MCU follow: it
// changes with every removal and with every member taken off the list (a mute
// restored, a ban lifted early), and a question about it may wait here until it
// changes (see tavsrv/Removals.h).
//
// It also tells chat the message server received before a member was taken off
// the list: such chat comes with the version the message server held on receipt,
// and a lift after that version means the member may still have been on the
// list then.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <tuple>

namespace tavsvc {

class RemovalFeed {
public:
  // A new epoch per start, so a follower never takes a restarted service's
  // version for the one it holds.
  RemovalFeed()
      : epoch_(std::to_string(std::random_device()()) + "." +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())) {}

  std::string version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current();
  }
  // After a removal has been committed.
  void changed() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++counter_;
    }
    wake_.notify_all();
  }
  // Waits until the version is no longer `known`, at most waitMs or until shutdown.
  void waitWhile(const std::string& known, int64_t waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(waitMs),
                   [&] { return stopping_ || current() != known; });
  }
  // Lets every waiting question answer at once (the service is stopping).
  void shutdown() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
  }

  // Held while a member is taken off the list (room, user, blacklist type):
  // until done(true) and the end of the scope, liftedSince() counts the lift
  // as after any version, so chat checked while the row goes is still judged
  // as on the list; done(true) then gives the lift a new version.
  class Lift {
  public:
    Lift(RemovalFeed& feed, uint32_t room, uint32_t user, int type)
        : feed_(feed), key_(room, user, type) {
      std::lock_guard<std::mutex> lock(feed_.mutex_);
      ++feed_.lifting_[key_];
    }
    ~Lift() { feed_.endLift(key_, lifted_); }
    Lift(const Lift&) = delete;
    Lift& operator=(const Lift&) = delete;
    void done(bool lifted) { lifted_ = lifted; }

  private:
    RemovalFeed& feed_;
    const std::tuple<uint32_t, uint32_t, int> key_;
    bool lifted_ = false;
  };

  // Whether the member was taken off the list (or is being) after `version` was
  // current. False for a version of another start, or one older than the lifts
  // remembered: such chat is judged by the list as it is now.
  bool liftedSince(const std::string& version, uint32_t room, uint32_t user, int type) const {
    const auto held = counterOf(version);
    if (!held)
      return false;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto key = std::make_tuple(room, user, type);
    if (lifting_.count(key))
      return true;
    const auto lift = lastLift_.find(key);
    return *held >= forgotten_ && lift != lastLift_.end() && lift->second > *held;
  }

private:
  using Key = std::tuple<uint32_t, uint32_t, int>;
  // Lifts remembered, newest kept: far more than the message server's version
  // can lag behind (a second's question and the chat queue's answer time).
  static constexpr std::size_t kMaxRememberedLifts = 10000;

  std::string current() const { return epoch_ + "-" + std::to_string(counter_); }

  std::optional<uint64_t> counterOf(const std::string& version) const {
    if (version.size() <= epoch_.size() + 1 || version.compare(0, epoch_.size(), epoch_) != 0 ||
        version[epoch_.size()] != '-' || version.size() - epoch_.size() - 1 > 19)
      return std::nullopt;
    uint64_t counter = 0;
    for (std::size_t i = epoch_.size() + 1; i < version.size(); ++i) {
      if (version[i] < '0' || version[i] > '9')
        return std::nullopt;
      counter = counter * 10 + static_cast<uint64_t>(version[i] - '0');
    }
    return counter;
  }

  void endLift(const Key& key, bool lifted) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--lifting_[key] == 0)
        lifting_.erase(key);
      if (!lifted)
        return;
      ++counter_;
      lastLift_[key] = counter_;
      order_.emplace_back(counter_, key);
      while (order_.size() > kMaxRememberedLifts) {
        const auto& [counter, old] = order_.front();
        const auto found = lastLift_.find(old);
        if (found != lastLift_.end() && found->second == counter)
          lastLift_.erase(found);
        forgotten_ = counter;
        order_.pop_front();
      }
    }
    wake_.notify_all();
  }

  const std::string epoch_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  uint64_t counter_ = 0;
  bool stopping_ = false;
  std::map<Key, int> lifting_;        // lifts not yet committed
  std::map<Key, uint64_t> lastLift_;  // the version counter each member was last lifted at
  std::deque<std::pair<uint64_t, Key>> order_;
  uint64_t forgotten_ = 0;  // lifts up to this counter may be forgotten
};

}  // namespace tavsvc
