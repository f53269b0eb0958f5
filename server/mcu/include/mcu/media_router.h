// The MCU's media relay: one UDP socket per publisher port and per subscriber port, served by
// one network thread.
//
// - Video (kinds 1, 4, 32): each media or FEC packet a publisher sends is forwarded to every
//   listener of that (publisher, kind) whose address is known. A listener's address is
//   learned from its registration (its user id and its session's media token,
//   control_wire.h), which it repeats until data comes; a new listener first gets the packets from
//   the stream's newest key frame on, so it can show a picture at once. Every port takes datagrams
//   only from the IPv4 address of its member's control session (given when it is opened): a
//   publisher's packets and a listener's registrations from anywhere else are dropped. Media
//   packets are kept (a few seconds' worth): a listener's loss report (15) is answered from them,
//   and what is not kept is asked of the publisher (14). Once a second each publisher gets the loss
//   of its worst listener (or of its own uplink, when higher) as bandwidth feedback (16) and
//   quality level (17). Those rules are video_relay's (src/video_relay.h); the router gives it
//   sockets and the time.
// - Audio (kind 2): publishers' datagrams go to the room's audio_mixer, which sends every
//   listener its own mix through the listener's port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mcu/media_relay.h"

namespace mcu {

class audio_mixer;

struct media_router_options {
  std::string host = "127.0.0.1";
  // Ports from [port_base, port_base + port_count), each chosen at random among the free
  // ones (a port handed out says nothing about the next); base 0: the system picks each.
  uint16_t port_base = 27810;
  uint16_t port_count = 1000;
  // Fault injection for tests and benchmarks: the share of media datagrams dropped on the
  // way in from publishers and on the way out to listeners (0 none), from a seeded
  // generator.
  double drop_from_publishers = 0;
  double drop_to_listeners = 0;
  uint32_t drop_seed = 1;
  // How often publishers get feedback (16, 17); 0: never.
  uint32_t feedback_period_ms = 1000;
  // Milliseconds of a steady clock: the arrival times of packets, the gaps between answers
  // to loss reports and the feedback periods. Empty: std::chrono::steady_clock.
  std::function<uint64_t()> clock;
};

struct media_router_stats {
  uint64_t datagrams_in = 0;   // from publishers, accepted
  uint64_t datagrams_out = 0;  // to listeners: forwarded, resent and key-frame bursts
  uint64_t bytes_out = 0;
  uint64_t resent = 0;          // answered from the cache
  uint64_t asked = 0;           // numbers asked of publishers (14)
  uint64_t dropped = 0;         // malformed datagrams
  uint64_t foreign = 0;         // from an address other than the member's control session's
  uint64_t refused_registrations = 0;  // to a listener port without its user id and token
  uint64_t injected_drops = 0;  // dropped by the fault injection
};

class media_router : public media_relay {
public:
  // Mixes with make_audio_mixer().
  explicit media_router(media_router_options options);
  // Mixes with `mixer` (null: make_audio_mixer()).
  media_router(media_router_options options, std::unique_ptr<audio_mixer> mixer);
  ~media_router() override;
  media_router(const media_router&) = delete;
  media_router& operator=(const media_router&) = delete;

  uint16_t open_publisher(uint32_t room, uint32_t user, uint32_t kind, uint32_t source) override;
  void close_publisher(uint32_t room, uint32_t user, uint32_t kind) override;
  uint16_t open_subscriber(uint32_t room, uint32_t listener, uint32_t publisher, uint32_t kind,
                           uint32_t source, const pavo_wire::media_token& token) override;
  void close_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                        uint32_t kind) override;
  void sender_started(uint32_t room, uint32_t user, uint32_t kind, uint32_t min_kbps) override;
  void loss_report(uint32_t room, uint32_t listener, const uint8_t* report,
                   unsigned length) override;
  void set_control_sender(control_sender sender) override;

  std::size_t ports_in_use() const;
  media_router_stats stats() const;

private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace mcu
