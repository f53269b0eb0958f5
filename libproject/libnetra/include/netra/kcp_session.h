// netra: one KCP conversation as a pure state machine.
//
// No sockets and no clock inside: the owner feeds received datagrams to input(), hands
// messages to send(), drives time with update(now) and sends whatever the output callback
// is given. Message mode: each send() is one message, cut into segments whose frg counts
// down to 0, and receive() returns whole messages in order. Not thread-safe; the owner
// serialises calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace netra {

struct kcp_config {
  uint32_t mtu = 1400;             // largest datagram produced; both ends must agree
  uint32_t snd_wnd = 256;          // segments in flight at most
  uint32_t rcv_wnd = 256;          // segments the receiver buffers; also caps fragments per message
  uint32_t interval = 10;          // ms between flushes (10..5000)
  bool nodelay = true;             // minimum RTO 30 ms and gentler back-off (x1.5 instead of x2)
  uint32_t fast_resend = 2;        // resend after this many acks skipped a segment (0: off)
  uint32_t fast_limit = 5;         // fast resends only while a segment was sent at most this often
  bool congestion_window = false;  // false: only the send and remote windows limit
  uint32_t dead_link = 20;         // transmissions of one segment after which the link is dead
  uint32_t max_queued = 8192;      // segments waiting to be sent before send() refuses
  // Redundant bundling for thin streams: a datagram that carries new data also carries
  // copies of up to this many older unacknowledged segments of at most bundle_max_bytes, as
  // long as they fit without another datagram. A lost small message then arrives with the
  // next one instead of a round trip later. Peers just acknowledge the duplicates. 0: off.
  uint32_t bundle = 4;
  uint32_t bundle_max_bytes = 256;
  // Copies only while at most this many segments are unacknowledged. In a burst the copies
  // would multiply the bytes and the acks of every datagram, and a loss there is found by
  // the skipping acks of the segments behind it anyway.
  uint32_t bundle_in_flight = 16;
};

struct kcp_stats {
  uint64_t datagrams_out = 0;
  uint64_t segments_out = 0;  // data segments, first transmissions and resends
  uint64_t timeout_resends = 0;
  uint64_t fast_resends = 0;
  uint64_t bundled_copies = 0;     // older segments repeated beside new data
  uint64_t datagrams_in = 0;       // accepted
  uint64_t datagrams_dropped = 0;  // refused by input()
  uint64_t messages_dropped = 0;   // could never be reassembled
};

class kcp_session {
public:
  // Called with one datagram (at most mtu bytes) to put on the wire. It must not call back
  // into the session.
  using output_fn = std::function<void(const uint8_t* data, std::size_t size)>;

  kcp_session(uint32_t conv, output_fn output, const kcp_config& config = kcp_config());
  kcp_session(const kcp_session&) = delete;
  kcp_session& operator=(const kcp_session&) = delete;

  uint32_t conv() const { return conv_; }
  uint32_t mss() const { return mss_; }
  // Largest message send() accepts.
  std::size_t max_message_size() const;

  // Takes one received datagram. 0 accepted; negative dropped whole (short, malformed,
  // other conv, unknown command, oversized segment), leaving the state untouched.
  int input(const uint8_t* data, std::size_t size);

  // Queues one message. 0 queued; -1 too large, -2 the send queue is full, -3 dead link.
  int send(const uint8_t* data, std::size_t size);

  // Size of the next whole message, or -1 when none is complete.
  int peek_size() const;
  // Moves the next whole message into `out`. Its size, or -1 when none is complete.
  int receive(std::vector<uint8_t>& out);

  // Advances the clock; flushes when an interval has passed.
  void update(uint32_t now_ms);
  // When update() should be called next: the next flush of the interval rhythm, which also
  // serves due resends (never later than one interval from now).
  uint32_t check(uint32_t now_ms) const;
  // Sends acks, probes, new data and due resends at the time of the last update().
  void flush();
  // Asks the peer to tell its window at the next flush; every KCP peer answers this, which
  // makes it the connection probe.
  void request_window() { probe_ |= ask_send; }

  // True once a segment has been sent dead_link times without being acknowledged.
  bool dead() const { return dead_; }
  // Segments queued or in flight, not yet acknowledged.
  std::size_t waiting_send() const { return snd_queue_.size() + snd_buf_.size(); }
  // Segments sent and not yet acknowledged.
  uint32_t in_flight() const { return snd_nxt_ - snd_una_; }
  uint32_t remote_window() const { return rmt_wnd_; }
  // Segments held in the receive queue, waiting for receive().
  std::size_t receive_queue() const { return rcv_queue_.size(); }
  uint32_t rto() const { return rx_rto_; }
  const kcp_stats& stats() const { return stats_; }

private:
  struct segment {
    uint8_t cmd = 0;
    uint8_t frg = 0;
    uint32_t ts = 0;
    uint32_t sn = 0;
    uint32_t resendts = 0;
    uint32_t rto = 0;
    uint32_t fastack = 0;
    uint32_t xmit = 0;
    std::vector<uint8_t> data;
  };

  static constexpr uint32_t ask_send = 1;  // send a window probe
  static constexpr uint32_t ask_tell = 2;  // tell the own window

  void parse_una(uint32_t una);
  void parse_ack(uint32_t sn);
  void parse_fastack(uint32_t sn);
  void parse_data(segment&& seg);
  void shrink_buf();
  void update_rtt(int32_t rtt);
  void move_to_receive_queue();
  uint16_t unused_window() const;
  void grow_cwnd();
  void discard_stuck();
  // Appends one segment to the datagram being built, sending it first when it would overflow.
  void put(std::vector<uint8_t>& buf, uint8_t cmd, uint8_t frg, uint16_t wnd, uint32_t ts,
           uint32_t sn, uint32_t una, const uint8_t* data, uint32_t len);
  void emit(std::vector<uint8_t>& buf);
  // Copies older unacknowledged segments into the room left in `buf` (see kcp_config::bundle).
  void bundle_unacked(std::vector<uint8_t>& buf, uint16_t wnd, const std::vector<bool>& sent_now);

  uint32_t conv_;
  output_fn output_;
  kcp_config cfg_;
  uint32_t mss_;
  uint32_t rx_minrto_;

  uint32_t snd_una_ = 0;
  uint32_t snd_nxt_ = 0;
  uint32_t rcv_nxt_ = 0;
  uint32_t ssthresh_ = 2;
  int32_t rx_rttval_ = 0;
  int32_t rx_srtt_ = 0;
  uint32_t rx_rto_ = 200;
  uint32_t rmt_wnd_ = 128;
  uint32_t cwnd_ = 1;
  uint32_t incr_ = 0;
  uint32_t probe_ = 0;
  uint32_t current_ = 0;
  uint32_t ts_flush_ = 0;
  uint32_t ts_probe_ = 0;
  uint32_t probe_wait_ = 0;
  bool updated_ = false;
  bool dead_ = false;

  std::deque<segment> snd_queue_;
  std::deque<segment> snd_buf_;
  std::deque<segment> rcv_buf_;
  std::deque<segment> rcv_queue_;
  std::vector<std::pair<uint32_t, uint32_t>> acklist_;  // (sn, ts) to acknowledge
  std::vector<uint8_t> out_;                            // the datagram being built by flush()
  std::vector<bool> sent_now_;                          // flush(): sent in this flush
  kcp_stats stats_;
};

}  // namespace netra
