// The receive side of one video stream without sockets or threads: media packets (after FEC)
// join frames by timestamp; complete frames leave in order for decoding; the frames that
// cannot complete are reported (network state) and skipped up to the next complete key
// frame; the missing packet numbers are listed for retransmission.
//
// Numbers and timestamps are kept unwrapped (64-bit, counted on from the first packet) so the
// 16-bit sequence numbers and 32-bit timestamps order correctly across their wrap.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "velmedia/velfec.h"

namespace pavo {

// One frame being assembled.
struct rtp_frame {
  struct piece {
    bool marker = false;
    std::vector<uint8_t> data;  // after the RED byte
  };
  std::map<int64_t, piece> packets;  // by unwrapped sequence number
  bool start_found = false;
  bool last_found = false;  // a packet with the marker bit arrived
  bool complete = false;
  int type = 4;  // 3 key (first NAL unit 5, 7 or 8), 4 other
  std::size_t bytes = 0;
  int64_t last_number = 0;  // the marker packet's number

  int64_t first() const { return packets.begin()->first; }
  // Adds one packet; false for a number already held.
  bool add(int64_t number, bool marker, const uint8_t* data, std::size_t length);
};

class rtp_frame_assembler {
public:
  struct output {
    std::vector<std::vector<uint8_t>> frames;  // complete frames to decode, in order
    std::vector<int> net_states;               // user_net_state calls, in order
  };

  // Whether a datagram with this number is dropped before FEC work: older than the last
  // decoded number (only once decoding started).
  bool drop_early(uint16_t sequence) const;

  // One media packet from the FEC receiver: header, payload (starting with the RED byte).
  void on_packet(const velrtp_header& header, const uint8_t* payload, unsigned length, output* out);

  // The numbers to ask for again; an empty list when none. More than `limit` numbers give
  // a list of limit + 1 (the caller sends nothing then).
  std::vector<uint16_t> loss_list(std::size_t limit = 2000);

  bool resyncing() const { return resync_; }
  std::size_t frames_held() const { return frames_.size(); }

private:
  int64_t unwrap_sequence(uint16_t sequence) const;
  int64_t unwrap_timestamp(uint32_t timestamp) const;
  void schedule(output* out);
  void decode_front(output* out);
  bool decode_in_order(output* out);
  void forget_numbers_through(int64_t number);

  bool resync_ = true;
  bool bad_network_ = false;
  bool have_reference_ = false;
  int64_t sequence_reference_ = 0;  // newest unwrapped number seen
  int64_t timestamp_reference_ = 0;
  int64_t last_sequence_ = 0;  // last decoded (valid once decoding started)
  int64_t last_timestamp_ = 0;
  // The end of the run of numbers received in order after the decoded one (loss_list keeps
  // only this end instead of the run).
  int64_t continuous_through_ = 0;
  bool decoded_any_ = false;
  std::map<int64_t, rtp_frame> frames_;  // by unwrapped timestamp
  std::set<int64_t> received_;
};

}  // namespace pavo
