// The room's audio receiver: one mixed stream from the MCU's audio port, reordered in a
// jitter buffer and played through velaudira. It registers itself (its user id and the
// session's media token, control_wire.h), which tells the MCU where to send, as
// media_registration says: until the first datagram arrives, and again while it is silent.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "audio_jitter_buffer.h"
#include "audio_rtp_packet.h"
#include "audira/velaudira.h"
#include "libnetra/udp_client.h"
#include "media_registration.h"
#include "media_seams.h"
#include "velthread/velthread.h"

class audio_rtp_recv : public media_receiver,
                       public lthread,
                       public network_data,
                       private audio_jitter_buffer::sink {
public:
  // Plays through `player`; inert (nothing opened or started) when the player is null or the
  // socket does not open.
  // Registers with `own_id` and `token`, the session's media token from the MCU's message 21.
  audio_rtp_recv(const char* ip, uint16_t port, uint32_t own_id, std::unique_ptr<velaudira> player,
                 const pavo_wire::media_token& token = {});
  ~audio_rtp_recv() override;

  bool active() const { return active_; }

  void on_network_data(const uint8_t* data, unsigned length) override;

  static constexpr unsigned register_interval_ms =
      static_cast<unsigned>(pavo::media_registration::period.count());
  // Datagrams waiting for the receive thread; beyond this the oldest are dropped.
  static constexpr std::size_t max_queued = 512;

protected:
  void run() override;
  void on_quit() override { wake_.post(); }

private:
  void send_registration();
  void handle(const std::vector<uint8_t>& datagram);
  void play_frame(const uint8_t* data, unsigned length) override;
  void frames_lost(unsigned count) override;

  const uint32_t own_id_;
  const pavo_wire::media_token token_;
  std::unique_ptr<velaudira> player_;
  std::unique_ptr<udp_client> udp_;
  bool active_ = false;

  std::mutex queue_mutex_;
  std::deque<std::vector<uint8_t>> queue_;
  velsemaphore wake_;

  // Receive thread only.
  pavo::media_registration registration_;
  audio_jitter_buffer jitter_{*this};
  std::vector<audio_frame_ref> blocks_;
};
