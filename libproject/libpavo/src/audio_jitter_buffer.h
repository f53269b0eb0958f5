// The receive side's reordering of the room's audio stream: 20 packets are held before the
// first plays; then frames play in sequence order, a gap is waited for until 5 packets are
// held and then skipped; late and repeated packets are discarded. Sequence numbers wrap at
// 65535, so they are compared by their 16-bit distance.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

class audio_jitter_buffer {
public:
  // Where frames go, in order.
  class sink {
  public:
    virtual ~sink() = default;
    virtual void play_frame(const uint8_t* data, unsigned length) = 0;
    // `count` frames before the next one are skipped for good.
    virtual void frames_lost(unsigned count) = 0;
  };

  static constexpr std::size_t initial_packets = 20;
  static constexpr std::size_t skip_gap_at = 5;

  explicit audio_jitter_buffer(sink& out) : out_(out) {}

  void insert(uint16_t seq, uint32_t timestamp, const uint8_t* frame, unsigned length);

  std::size_t held() const { return packets_.size(); }
  bool buffering() const { return buffering_; }
  uint16_t last_played() const { return static_cast<uint16_t>(last_played_); }
  uint64_t discarded() const { return discarded_; }

private:
  struct packet {
    uint32_t timestamp = 0;
    std::vector<uint8_t> frame;
  };
  // The sequence number as a position on an unwrapped line, near `reference`.
  static int64_t unwrap(uint16_t seq, int64_t reference);
  void add(int64_t position, uint32_t timestamp, const uint8_t* frame, unsigned length);

  sink& out_;
  bool buffering_ = true;
  int64_t reference_ = 0;    // the first packet's position while buffering
  int64_t last_played_ = 0;  // position of the last frame played
  std::map<int64_t, packet> packets_;
  uint64_t discarded_ = 0;  // late or repeated
};
