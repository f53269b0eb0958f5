#include "fragment_table.h"

#include "woblog/woblog.h"

namespace pavo {

fragment_table::result fragment_table::add(uint32_t sender, uint32_t offset, uint32_t total,
                                           const uint8_t* data, unsigned length,
                                           std::vector<uint8_t>* message) {
  auto it = table_.find(sender);
  if (offset == 0) {
    // A new message from this sender replaces whatever it left unfinished.
    if (it != table_.end())
      erase(it);
    if (total == 0 || total > max_total_ || length > total) {
      qn::log("fragment from %u dropped: total %u, piece %u", sender, total, length);
      return dropped;
    }
    while (table_.size() >= max_entries_ && evict_oldest(sender)) {
    }
    if (!make_room(sender, length))
      return dropped;
    it = table_.emplace(sender, msg_con_t{}).first;
    it->second.total = total;
    it->second.started = next_start_++;
  } else {
    if (it == table_.end()) {
      qn::log("fragment from %u at offset %u without a start, dropped", sender, offset);
      return dropped;
    }
    const msg_con_t& entry = it->second;
    if (total != entry.total || offset != entry.data.size() ||
        length > entry.total - entry.data.size()) {
      qn::log("fragment from %u out of place (offset %u total %u, have %zu of %u), dropped", sender,
              offset, total, entry.data.size(), entry.total);
      erase(it);
      return dropped;
    }
    if (!make_room(sender, length)) {
      erase(table_.find(sender));
      return dropped;
    }
  }
  msg_con_t& entry = it->second;
  entry.data.insert(entry.data.end(), data, data + length);
  bytes_ += length;
  if (entry.data.size() < entry.total)
    return partial;
  *message = std::move(entry.data);
  bytes_ -= message->size();
  table_.erase(it);
  return complete;
}

void fragment_table::erase(std::map<uint32_t, msg_con_t>::iterator it) {
  bytes_ -= it->second.data.size();
  table_.erase(it);
}

bool fragment_table::evict_oldest(uint32_t keep) {
  auto oldest = table_.end();
  for (auto it = table_.begin(); it != table_.end(); ++it)
    if (it->first != keep &&
        (oldest == table_.end() || it->second.started < oldest->second.started))
      oldest = it;
  if (oldest == table_.end())
    return false;
  qn::log("reassembly full, dropping the unfinished message of %u", oldest->first);
  erase(oldest);
  return true;
}

bool fragment_table::make_room(uint32_t keep, std::size_t length) {
  while (bytes_ + length > max_bytes_) {
    if (!evict_oldest(keep)) {
      qn::log("fragment from %u does not fit the reassembly buffer, dropped", keep);
      return false;
    }
  }
  return true;
}

}  // namespace pavo
