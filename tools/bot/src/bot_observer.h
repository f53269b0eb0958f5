// pavo-bot's observer: prints every callback as one line ("<name> <args>") and counts video
// frames per stream instead of printing them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "bot_frames.h"
#include "libpavo/libpavo.h"

namespace bot {

class bot_observer : public velmcu2ui {
public:
  // The instance frames go back to (media_ctrl 16); set once it exists.
  std::atomic<Libpavo*> library{nullptr};
  // Subscribe to every video stream of others that opens.
  std::atomic<bool> auto_subscribe{false};
  std::atomic<bool> connected{false};
  std::atomic<bool> disconnected{false};
  // Written to (one byte) when the connection comes up or goes, so the main loop, which
  // polls it beside standard input, acts on it at once. -1: none.
  std::atomic<int> wake_fd{-1};

  // "frames <user>:<kind>:<count> ..." for every stream seen so far.
  std::string frame_counts();
  // The newest picture of every stream.
  frame_store newest_frames;

  void on_media_event(int event, void* data) override;
  void ss_start_class(uint32_t id) override;
  void start_class_ack(int result) override;
  void ss_stop_class(uint32_t id) override;
  void stop_class_ack(int result) override;
  void get_class_state_ack(int state) override;
  void ss_application_share(uint32_t id) override;
  void application_share_ack(int result) override;
  void ss_cancel_application(uint32_t id) override;
  void cancel_application_ack(int result) override;
  void ss_reply_share(uint32_t id, int reply) override;
  void reply_share_ack(uint32_t id, int reply) override;
  void ss_start_share(uint32_t id) override;
  void start_share_ack(int result) override;
  void ss_stop_share(uint32_t id) override;
  void stop_share_ack(int result) override;
  void get_share_users_ack(int value, int count, const uint32_t* ids) override;
  void ss_start_tag(uint32_t id) override;
  void start_tag_ack(int result) override;
  void ss_stop_tag(uint32_t id) override;
  void stop_tag_ack(int result) override;
  void get_tag_users_ack(int value, int count, const uint32_t* ids) override;
  void ss_cancel_share(uint32_t id) override;
  void cancel_share_ack(int result) override;
  void p2p_msg(uint32_t id, const char* data, unsigned length) override;
  void p2all_msg(uint32_t id, const char* data, unsigned length) override;
  void get_classing_user_ack(int code, uint32_t id) override;
  void p2p_msg_ack(uint32_t id, const char* data, unsigned length) override;
  void p2all_msg_ack(uint32_t id, const char* data, unsigned length) override;
  void user_net_state(uint32_t id, int state) override;

private:
  void wake();

  std::mutex frames_mutex_;
  std::map<std::pair<uint32_t, int>, uint64_t> frames_;
};

}  // namespace bot
