// Test helpers for libpavo: a scripted MCU on a real KCP endpoint on loopback, an observer
// that records every callback, and a media factory that records what the control side asks
// of the media paths.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "libpavo/libpavo.h"
#include "media_seams.h"
#include "netra/kcp_server.h"
#include "recording_observer.h"

namespace pavo_test {

// Big-endian words, concatenated.
bytes be32(std::initializer_list<uint32_t> words);
bytes be16(uint16_t value);
bytes operator+(bytes a, const bytes& b);
uint32_t word(const bytes& data, std::size_t at);

struct mcu_message {
  uint64_t session = 0;
  uint32_t type = 0;
  bytes payload;
};

// The MCU as a test script: answers the room join with 31 {its own port} (or what the test
// sets), answers the login with 0 {mask, id} unless told not to, records everything it
// receives, and sends what the test asks to the logged-in session.
class fake_mcu {
public:
  fake_mcu();
  ~fake_mcu();

  uint16_t port() const { return port_; }

  // Set before the client connects.
  void set_join_reply(uint32_t type, bytes payload);
  void set_answer_login(bool answer) { answer_login_ = answer; }

  // The next received message of `type` (removed from the record); empty after the limit.
  std::optional<mcu_message> next(uint32_t type, std::chrono::milliseconds limit = wait_limit);
  // Every received message of `type` so far, left in the record.
  std::vector<mcu_message> received(uint32_t type);
  // Waits until the client's login arrived; false after the limit.
  bool wait_logged_in(std::chrono::milliseconds limit = wait_limit);
  // To the logged-in session.
  int send(uint32_t type, const bytes& payload = {});
  std::size_t sessions_opened() const { return sessions_; }

private:
  void on_message(uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                  unsigned length);

  std::unique_ptr<netra::kcp_server> server_;
  uint16_t port_ = 0;
  std::atomic<bool> answer_login_{true};
  std::atomic<std::size_t> sessions_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<mcu_message> messages_;
  uint64_t room_session_ = 0;
  uint32_t join_type_ = 31;
  std::optional<bytes> join_payload_;
};

// Records the senders and receivers the control side makes, and can refuse to start them.
class recording_factory : public media_factory {
public:
  struct log_entry {
    std::string what;  // "camera", "screen", "audio", "video_recv", "audio_recv", "stop:..."
    std::string ip;
    uint16_t port = 0;
    uint32_t user = 0;
    int kind = 0;
    int index = 0;
  };

  std::atomic<bool> video_start_fails{false};

  std::vector<log_entry> log();
  int live_audio_receivers() const { return audio_receivers_; }
  int live_video_receivers() const { return video_receivers_; }

  std::shared_ptr<video_ctrl> create_camera_sender(sendmsg2ui* ui, uint16_t index) override;
  std::shared_ptr<video_ctrl> create_screen_sender(sendmsg2ui* ui) override;
  std::unique_ptr<audio_ctrl> create_audio_sender(int channels, int rate, uint16_t index) override;
  std::unique_ptr<media_receiver> create_video_receiver(const char* ip, uint16_t port,
                                                        uint32_t own_id,
                                                        const pavo_wire::media_token& token,
                                                        uint32_t remote_id, int kind,
                                                        sendmsg2ui* ui, sendmsg2mcu* mcu) override;
  std::unique_ptr<media_receiver> create_audio_receiver(const char* ip, uint16_t port,
                                                        uint32_t own_id,
                                                        const pavo_wire::media_token& token,
                                                        int speaker) override;

  void record(log_entry entry);

  std::atomic<int> audio_receivers_{0};
  std::atomic<int> video_receivers_{0};

private:
  std::mutex mutex_;
  std::vector<log_entry> log_;
};

}  // namespace pavo_test
