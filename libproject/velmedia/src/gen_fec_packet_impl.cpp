// gen_fec_packet: cuts each encoded frame into media packets and, per the protection of its
// frame class, closes groups of media packets with XOR FEC packets (fec_format.h).
//
// A group collects the packets of one or more frames. At the end of a frame the number of FEC
// packets due is count * rate / 255, rounded; they are sent once at least one is due and the
// group holds at least 4 packets (fewer would make FEC cost more than the packets themselves),
// or when the group has spanned max_frames frames (then at least one).
#include <algorithm>
#include <new>
#include <vector>

#include "fec_format.h"

namespace velmedia_internal {
namespace {

constexpr unsigned min_group_packets = 4;
// A group this large is closed even inside a frame (bounds memory and the receiver's window).
constexpr unsigned max_group_packets = 512;

class fec_sender : public gen_fec_packet {
public:
  fec_sender(uint32_t ssrc, gen_fec_packet_callback callback, void* user)
      : ssrc_(ssrc), callback_(callback), user_(user) {}

  int send_frame(const uint8_t* frame, unsigned length, uint32_t timestamp, bool key) override {
    if (!frame || length == 0)
      return -1;
    constexpr unsigned piece_max = fec_max_media_payload - 1;  // after the RED byte
    const unsigned pieces = (length + piece_max - 1) / piece_max;
    uint8_t packet[velfec_max_packet];
    for (unsigned i = 0; i < pieces; ++i) {
      const unsigned at = i * piece_max;
      const unsigned n = std::min(piece_max, length - at);
      const bool last = i + 1 == pieces;
      const uint16_t sequence = next_sequence_++;
      write_rtp_header(packet, last, red_pt_, sequence, timestamp, ssrc_);
      packet[velrtp_header_size] = static_cast<uint8_t>(media_pt_);
      std::copy(frame + at, frame + at + n, packet + velrtp_header_size + 1);
      const unsigned size = velrtp_header_size + 1 + n;
      callback_(packet, size, timestamp, sequence, user_);
      group_.push_back({sequence, timestamp, last,
                        std::vector<uint8_t>(packet + velrtp_header_size, packet + size)});
      group_key_ = group_key_ || key;
      if (group_.size() >= max_group_packets)
        close_group(true);
    }
    ++group_frames_;
    close_group(false);
    return 0;
  }

  int set_payload_types(int media_pt, int red_pt, int fec_pt, int media_kind) override {
    for (int pt : {media_pt, red_pt, fec_pt})
      if (pt < 0 || pt > 127)
        return -1;
    if (media_pt == red_pt || media_pt == fec_pt || red_pt == fec_pt)
      return -1;
    media_pt_ = media_pt;
    red_pt_ = red_pt;
    fec_pt_ = fec_pt;
    media_kind_ = media_kind;
    return 0;
  }

  int set_protection(const velfec_protection_t& delta, const velfec_protection_t& key) override {
    for (const velfec_protection_t* p : {&delta, &key})
      if (p->rate < 0 || p->rate > 255 || p->max_frames < 1)
        return -1;
    delta_ = delta;
    key_ = key;
    return 0;
  }

private:
  struct member {
    uint16_t sequence;
    uint32_t timestamp;
    bool marker;
    std::vector<uint8_t> payload;  // RED byte and data
  };

  // At a frame's end (or `full` inside one): sends the group's FEC packets when due.
  void close_group(bool full) {
    const velfec_protection_t& p = group_key_ ? key_ : delta_;
    const unsigned count = static_cast<unsigned>(group_.size());
    if (p.rate <= 0 || count == 0) {
      reset_group();
      return;
    }
    unsigned due = (count * static_cast<unsigned>(p.rate) + 127) / 255;
    const bool enough = due >= 1 && count >= min_group_packets;
    if (!full && !enough && group_frames_ < p.max_frames)
      return;
    due = std::clamp(due, 1u, std::min(count, 255u));
    for (unsigned index = 0; index < due; ++index)
      send_fec(due, index);
    reset_group();
  }

  void send_fec(unsigned stride, unsigned index) {
    std::size_t longest = 0;
    for (unsigned i = index; i < group_.size(); i += stride)
      longest = std::max(longest, group_[i].payload.size());
    uint8_t packet[velfec_max_packet] = {};
    uint8_t* header = packet + velrtp_header_size;
    uint8_t* parity = header + fec_header_size;
    uint8_t marker = 0;
    uint32_t timestamp = 0;
    uint16_t length = 0;
    const member* last = nullptr;
    for (unsigned i = index; i < group_.size(); i += stride) {
      const member& m = group_[i];
      marker ^= m.marker ? 1 : 0;
      timestamp ^= m.timestamp;
      length ^= static_cast<uint16_t>(m.payload.size());
      for (std::size_t b = 0; b < m.payload.size(); ++b)
        parity[b] ^= m.payload[b];
      last = &m;
    }
    wirebytes::span_writer(header, fec_header_size)
        .u16(group_.front().sequence)
        .u16(static_cast<uint16_t>(group_.size()))
        .u8(static_cast<uint8_t>(stride))
        .u8(static_cast<uint8_t>(index))
        .u8(static_cast<uint8_t>(media_kind_))
        .u8(marker)
        .u32(timestamp)
        .u16(length);
    // Carries the number and time of the last media packet it covers.
    write_rtp_header(packet, false, fec_pt_, last->sequence, last->timestamp, ssrc_);
    const unsigned size = static_cast<unsigned>(velrtp_header_size + fec_header_size + longest);
    callback_(packet, size, last->timestamp, last->sequence, user_);
  }

  void reset_group() {
    group_.clear();
    group_frames_ = 0;
    group_key_ = false;
  }

  const uint32_t ssrc_;
  const gen_fec_packet_callback callback_;
  void* const user_;
  int media_pt_ = 1, red_pt_ = 100, fec_pt_ = 101, media_kind_ = 1;
  velfec_protection_t delta_{0, 1}, key_{0, 1};
  uint16_t next_sequence_ = 0;
  std::vector<member> group_;
  int group_frames_ = 0;
  bool group_key_ = false;
};

}  // namespace
}  // namespace velmedia_internal

gen_fec_packet* gen_fec_packet::create(uint32_t ssrc, gen_fec_packet_callback callback,
                                       void* user) {
  if (!callback)
    return nullptr;
  return new (std::nothrow) velmedia_internal::fec_sender(ssrc, callback, user);
}
