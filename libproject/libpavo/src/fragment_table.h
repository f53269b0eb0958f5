// Reassembly of fragmented peer messages (types 71 and 72), one table per type, keyed by the
// sender's user id. Pieces arrive in order over the reliable control channel; anything else
// means a broken stream and is dropped. Memory is bounded: an entry holds only the bytes
// received so far, totals above peer_message_max are refused, and the table keeps at most
// max_entries senders and max_bytes in all (a new piece evicts the oldest unfinished
// messages of other senders to fit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "control_wire.h"

// One message being reassembled.
struct msg_con_t {
  uint32_t total = 0;
  std::vector<uint8_t> data;  // the bytes received so far
  uint64_t started = 0;       // order of creation, for eviction
};

namespace pavo {

class fragment_table {
public:
  enum result { partial, complete, dropped };

  explicit fragment_table(std::size_t max_entries = 64,
                          uint32_t max_total = pavo_wire::peer_message_max,
                          std::size_t max_bytes = 8 * pavo_wire::peer_message_max)
      : max_entries_(max_entries), max_total_(max_total), max_bytes_(max_bytes) {}

  // One piece from `sender`. On `complete` the whole message is moved into *message and the
  // entry removed.
  result add(uint32_t sender, uint32_t offset, uint32_t total, const uint8_t* data, unsigned length,
             std::vector<uint8_t>* message);

  std::size_t entries() const { return table_.size(); }
  std::size_t buffered_bytes() const { return bytes_; }
  void clear() {
    table_.clear();
    bytes_ = 0;
  }

private:
  void erase(std::map<uint32_t, msg_con_t>::iterator it);
  // Drops the oldest unfinished message of a sender other than `keep`; false if none.
  bool evict_oldest(uint32_t keep);
  // Evicts until `length` more bytes fit; false when they cannot.
  bool make_room(uint32_t keep, std::size_t length);

  std::size_t max_entries_;
  uint32_t max_total_;
  std::size_t max_bytes_;
  std::size_t bytes_ = 0;
  uint64_t next_start_ = 0;
  std::map<uint32_t, msg_con_t> table_;
};

}  // namespace pavo
