// Removals from rooms, as the service decides them, followed by the message
// server and the MCU so that a removed member is cut off at once and kept out
// while its ban lasts, although its room credential is still valid.
//
// The service keeps the active removals and a version that changes with every
// removal and every member taken off its blacklist (a ban lifted early, a mute
// restored). A RemovalWatcher asks it for the list with the version it holds;
// the service answers at once when its version differs, else when it changes
// (or after a while, with the same list). Every answer is the complete list, so
// a restart of either side needs nothing but the next answer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tavsrv {

struct Removal {
  uint32_t room = 0;
  uint32_t user = 0;
  int64_t leftMs = 0;  // how long the ban still lasts, as the service counted it
};

// The path of the service's list, and the longest it holds a question open.
constexpr const char* kRemovalsPath = "/internal/room/removals";
constexpr int64_t kRemovalsMaxWaitMs = 20000;

// The active removals with deadlines on the holder's own steady clock (so no
// two machines' wall clocks are compared). Safe from any thread.
class RemovalList {
public:
  // Replaces every entry by the list; nowMs is the holder's steady clock.
  void replace(const std::vector<Removal>& removals, int64_t nowMs);
  bool removed(uint32_t room, uint32_t user, int64_t nowMs) const;
  std::size_t size() const;

private:
  mutable std::mutex mutex_;
  std::map<std::pair<uint32_t, uint32_t>, int64_t> until_;  // (room, user) -> deadline
};

// Milliseconds of std::chrono::steady_clock, the clock RemovalList is fed with.
int64_t steadyNowMs();

// Asks the service for the removals on a thread of its own, question after
// question, and hands every answer's complete list to the listener (on that
// thread). When the service cannot be reached it asks again after a second.
class RemovalWatcher {
public:
  using Listener = std::function<void(const std::vector<Removal>& removals)>;
  // serviceUrl: "http://host:port" (a path prefix is allowed).
  RemovalWatcher(std::string serviceUrl, std::string token, Listener listener);
  ~RemovalWatcher();
  RemovalWatcher(const RemovalWatcher&) = delete;
  RemovalWatcher& operator=(const RemovalWatcher&) = delete;

  // False with *error for a URL that is not http://host[:port][/path].
  bool start(std::string* error);
  // Waits for the question in flight to end (the client's read time-out bounds it).
  void stop();
  uint64_t answers() const;  // lists of a new version received so far
  // The version of the newest list received ("" before the first). Chat the message server
  // hands to the service carries it, so the service can tell what changed after.
  std::string version() const;

private:
  void run();

  std::string base_;
  std::string prefix_;
  const std::string url_;
  const std::string token_;
  const Listener listener_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  uint64_t answers_ = 0;
  std::string version_;
  std::thread thread_;
};

}  // namespace tavsrv
