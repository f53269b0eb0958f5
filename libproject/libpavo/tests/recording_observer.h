// An observer for tests: records every callback of libpavo with its arguments and data, and
// lets the test wait for the next one of a name. Needs only the public header.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "eventually.h"
#include "libpavo/libpavo.h"

namespace pavo_test {

using bytes = std::vector<uint8_t>;
// Generous, and scaled for slow machines (TAV_TEST_WAIT_SCALE).
inline const std::chrono::milliseconds wait_limit = testsupport::wait_limit();

// One observer callback: its name, integer arguments and data bytes.
struct ui_call {
  std::string name;
  std::vector<int64_t> args;
  bytes data;
};

class recording_observer : public velmcu2ui {
public:
  // Frames (event 12) go back to this instance with media_ctrl 16, as the classroom does.
  std::atomic<Libpavo*> owner{nullptr};

  // The next call named `name` (removed); empty after the limit.
  std::optional<ui_call> next(const std::string& name,
                              std::chrono::milliseconds limit = wait_limit);
  // The next on_media_event of `event` (named "event<N>").
  std::optional<ui_call> next_event(int event, std::chrono::milliseconds limit = wait_limit) {
    return next("event" + std::to_string(event), limit);
  }
  // The oldest call not yet taken, whatever its name.
  std::optional<ui_call> next_any(std::chrono::milliseconds limit = wait_limit);
  // How many calls named `name` are recorded and not yet taken.
  std::size_t count(const std::string& name);

  void on_media_event(int event, void* data) override;
  void ss_start_class(uint32_t id) override { add("ss_start_class", {id}); }
  void start_class_ack(int r) override { add("start_class_ack", {r}); }
  void ss_stop_class(uint32_t id) override { add("ss_stop_class", {id}); }
  void stop_class_ack(int r) override { add("stop_class_ack", {r}); }
  void get_class_state_ack(int s) override { add("get_class_state_ack", {s}); }
  void ss_application_share(uint32_t id) override { add("ss_application_share", {id}); }
  void application_share_ack(int r) override { add("application_share_ack", {r}); }
  void ss_cancel_application(uint32_t id) override { add("ss_cancel_application", {id}); }
  void cancel_application_ack(int r) override { add("cancel_application_ack", {r}); }
  void ss_reply_share(uint32_t id, int reply) override { add("ss_reply_share", {id, reply}); }
  void reply_share_ack(uint32_t id, int reply) override { add("reply_share_ack", {id, reply}); }
  void ss_start_share(uint32_t id) override { add("ss_start_share", {id}); }
  void start_share_ack(int r) override { add("start_share_ack", {r}); }
  void ss_stop_share(uint32_t id) override { add("ss_stop_share", {id}); }
  void stop_share_ack(int r) override { add("stop_share_ack", {r}); }
  void get_share_users_ack(int value, int count, const uint32_t* ids) override;
  void ss_start_tag(uint32_t id) override { add("ss_start_tag", {id}); }
  void start_tag_ack(int r) override { add("start_tag_ack", {r}); }
  void ss_stop_tag(uint32_t id) override { add("ss_stop_tag", {id}); }
  void stop_tag_ack(int r) override { add("stop_tag_ack", {r}); }
  void get_tag_users_ack(int value, int count, const uint32_t* ids) override;
  void ss_cancel_share(uint32_t id) override { add("ss_cancel_share", {id}); }
  void cancel_share_ack(int r) override { add("cancel_share_ack", {r}); }
  void p2p_msg(uint32_t id, const char* data, unsigned length) override {
    add("p2p_msg", {id}, data, length);
  }
  void p2all_msg(uint32_t id, const char* data, unsigned length) override {
    add("p2all_msg", {id}, data, length);
  }
  void get_classing_user_ack(int code, uint32_t id) override {
    add("get_classing_user_ack", {code, id});
  }
  void p2p_msg_ack(uint32_t id, const char* data, unsigned length) override {
    add("p2p_msg_ack", {id, data ? 1 : 0}, data, length);
  }
  void p2all_msg_ack(uint32_t id, const char* data, unsigned length) override {
    add("p2all_msg_ack", {id, data ? 1 : 0}, data, length);
  }
  void user_net_state(uint32_t id, int state) override { add("user_net_state", {id, state}); }

private:
  void add(const std::string& name, std::vector<int64_t> args, const char* data = nullptr,
           unsigned length = 0);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<ui_call> calls_;
};

}  // namespace pavo_test
