// The video side of the media router as rules, without sockets or a clock of its own: which
// listeners a publisher's packets go to, what a newcomer gets first, how loss reports are
// answered (from the packets kept, else by asking the publisher) and the feedback each
// publisher gets once a period. The owner feeds it what arrives together with the time
// (milliseconds of a steady clock) and sends what it hands back, as kcp_session's owner
// does. Not thread-safe: the owner serialises the calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

#include "velmedia/velfec.h"
#include "video_stream.h"

namespace mcu {

// One listener's subscription to one stream.
struct video_listener_key {
  uint32_t room = 0, listener = 0, publisher = 0, kind = 0;
  bool operator<(const video_listener_key& o) const {
    return std::tie(room, listener, publisher, kind) <
           std::tie(o.room, o.listener, o.publisher, o.kind);
  }
};

// A control message for a member (14 retransmission requests, 16 and 17 feedback).
struct relay_control {
  uint32_t room, user, type;
  std::vector<uint8_t> payload;
};

struct video_relay_options {
  // A listener repeats its loss report every 50 ms until the packet arrives: a number just
  // sent again to it is not sent once more before this.
  uint32_t resend_gap_ms = 80;
  // A number asked of the publisher is not asked again before this.
  uint32_t ask_gap_ms = 200;
  // How often publishers get feedback (16, 17); 0: never.
  uint32_t feedback_period_ms = 1000;
  // Fewer packets in a feedback period say nothing about loss.
  uint32_t min_feedback_packets = 5;
  // A listener whose stream moved to another socket is sent the kept packets from the newest
  // key frame on again, but not more often than this: each move costs one 4-byte datagram,
  // and the packets it releases must not follow every one.
  uint32_t move_burst_gap_ms = 1000;
};

bool is_video_kind(uint32_t kind);

class video_relay {
public:
  // Sends one datagram to a listener whose address is known.
  using packet_sink =
      std::function<void(const video_listener_key& to, const uint8_t* data, std::size_t length)>;

  video_relay(const video_relay_options& options, packet_sink sink);

  // A publisher's stream of `kind` opens: a new sender numbers from 0, so nothing kept before
  // counts. Closing it forgets what was kept.
  void open_publisher(uint32_t room, uint32_t publisher, uint32_t kind);
  void close_publisher(uint32_t room, uint32_t publisher, uint32_t kind);
  void open_listener(const video_listener_key& key);
  void close_listener(const video_listener_key& key);
  // The listener's address became known: it is sent the kept packets from the stream's newest
  // key frame on, so it can show a picture at once, and the live packets from now on.
  void listener_ready(const video_listener_key& key);
  // A ready listener's address changed (its newest registration came from another socket):
  // from the newest key frame on again, so its picture comes back at once (at most once per
  // move_burst_gap_ms).
  void listener_moved(const video_listener_key& key, uint64_t now_ms);

  // Whether a datagram is a packet of `publisher`'s video stream: RTP, a media or FEC
  // packet, its SSRC. Fills *header when it is.
  static bool stream_packet(const uint8_t* data, std::size_t length, uint32_t publisher,
                            velrtp_header* header);
  // One packet of the stream (checked with stream_packet), arrived at `now_ms`: media packets
  // are kept, and both kinds go to every ready listener. False when it went nowhere: no open
  // stream, or a copy of a media packet already kept (a retransmission crossing a copy).
  bool publisher_packet(uint32_t room, uint32_t publisher, uint32_t kind,
                        const velrtp_header& header, const uint8_t* data, std::size_t length,
                        uint64_t now_ms);

  // Whether message 15 from `listener` is well formed: {publisher, kind, n, listener, u16[n]},
  // exactly that long, 0 < n <= the limit, about a video kind and from the listener it names.
  static bool valid_loss_report(uint32_t listener, const uint8_t* report, std::size_t length);
  // A valid loss report of a ready listener: each number is sent again from the packets kept
  // (not twice within resend_gap_ms), what is not kept is asked of the publisher (not twice
  // within ask_gap_ms).
  void loss_report(uint32_t room, uint32_t listener, const uint8_t* report, std::size_t length,
                   uint64_t now_ms, std::vector<relay_control>& out);

  // Once a period, each open stream's publisher hears the loss of its worst ready listener or
  // of its own uplink, whichever is higher (16), and the quality level (17). May be called as
  // often as the owner likes; the first call starts the first period.
  void tick(uint64_t now_ms, std::vector<relay_control>& out);
  // Milliseconds from `now_ms` until tick() gives feedback again (at least 1).
  uint32_t until_next_feedback(uint64_t now_ms) const;

  uint64_t resent() const { return resent_; }
  uint64_t asked() const { return asked_; }
  std::size_t streams() const { return streams_.size(); }

private:
  using stream_key = std::tuple<uint32_t, uint32_t, uint32_t>;  // room, publisher, kind
  struct listener_state {
    bool ready = false;
    bool burst_after_move = false;  // last_move_burst_ms holds a time
    uint64_t last_move_burst_ms = 0;
    listener_losses losses;
  };
  struct stream_state {
    video_stream cache;
    bool published = false;
    std::map<video_listener_key, listener_state> listeners;
  };

  void feedback(std::vector<relay_control>& out);
  void send_from_key_frame(const video_listener_key& key, const video_stream& cache);
  void forget_if_unused(std::map<stream_key, stream_state>::iterator it);

  const video_relay_options options_;
  const packet_sink sink_;
  std::map<stream_key, stream_state> streams_;
  bool period_started_ = false;
  uint64_t period_start_ms_ = 0;
  uint64_t resent_ = 0, asked_ = 0;
};

}  // namespace mcu
