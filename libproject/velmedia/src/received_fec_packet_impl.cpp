// received_fec_packet: passes media packets on once each and rebuilds a lost one whenever an
// FEC packet (fec_format.h) is missing exactly one of the packets it covers.
#include <algorithm>
#include <deque>
#include <new>
#include <vector>

#include "fec_format.h"
#include "wirebytes/byte_reader.h"

namespace velmedia_internal {
namespace {

// Largest datagram of a stream (anything longer is not ours).
constexpr unsigned max_datagram = 1500;
// FEC packets waiting for more of their group; the oldest go first.
constexpr std::size_t max_pending_fec = 128;

class fec_receiver : public received_fec_packet {
public:
  fec_receiver(int red_pt, int fec_pt, int media_kind, received_fec_packet_callback callback,
               void* user)
      : red_pt_(red_pt),
        fec_pt_(fec_pt),
        media_kind_(media_kind),
        callback_(callback),
        user_(user),
        store_(fec_window) {}

  int feed(const uint8_t* datagram, unsigned length) override {
    velrtp_header header;
    if (!datagram || length > max_datagram || !velrtp_read_header(datagram, length, &header))
      return -1;
    if (header.payload_type == red_pt_) {
      // A media packet carries at least its RED byte; an empty one is not from our sender.
      if (length == velrtp_header_size)
        return -1;
      if (!held(header.sequence))
        deliver(header, datagram + velrtp_header_size, length - velrtp_header_size);
      recover();
      return 0;
    }
    if (header.payload_type == fec_pt_) {
      if (!take_fec(header, datagram + velrtp_header_size, length - velrtp_header_size))
        return -1;
      recover();
      return 0;
    }
    return -1;
  }

private:
  struct media {
    bool used = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    std::vector<uint8_t> payload;
  };
  struct fec {
    uint32_t ssrc;
    uint16_t base;
    uint16_t count;
    uint8_t stride;
    uint8_t index;
    uint8_t marker;
    uint32_t timestamp;
    uint16_t length;
    std::vector<uint8_t> parity;
  };

  bool held(uint16_t sequence) const {
    const media& m = store_[sequence % fec_window];
    return m.used && m.sequence == sequence;
  }

  void deliver(const velrtp_header& header, const uint8_t* payload, unsigned length) {
    media& m = store_[header.sequence % fec_window];
    m.used = true;
    m.sequence = header.sequence;
    m.timestamp = header.timestamp;
    m.marker = header.marker != 0;
    m.payload.assign(payload, payload + length);
    if (!have_newest_ || fec_seq_newer(header.sequence, newest_)) {
      have_newest_ = true;
      newest_ = header.sequence;
    }
    callback_(&header, m.payload.data(), length, user_);
  }

  bool take_fec(const velrtp_header& header, const uint8_t* p, unsigned length) {
    if (length <= fec_header_size || length - fec_header_size > fec_max_media_payload)
      return false;
    wirebytes::byte_reader in(p, length);
    fec f;
    f.ssrc = header.ssrc;
    f.base = in.u16();
    f.count = in.u16();
    f.stride = in.u8();
    f.index = in.u8();
    const uint8_t kind = in.u8();
    f.marker = in.u8() & 1;
    f.timestamp = in.u32();
    f.length = in.u16();
    if (!in.ok() || f.count == 0 || f.count > fec_window || f.stride == 0 || f.index >= f.stride ||
        f.index >= f.count || kind != static_cast<uint8_t>(media_kind_))
      return false;
    f.parity.assign(in.here(), in.here() + in.remaining());
    if (too_old(f))
      return true;  // its group is past: nothing left to rebuild
    pending_.push_back(std::move(f));
    if (pending_.size() > max_pending_fec)
      pending_.pop_front();
    return true;
  }

  // The group's newest packet is out of the window of kept packets.
  bool too_old(const fec& f) const {
    if (!have_newest_)
      return false;
    const uint16_t last = static_cast<uint16_t>(f.base + f.count - 1);
    return fec_seq_newer(newest_, last) && static_cast<uint16_t>(newest_ - last) >= fec_window;
  }

  void recover() {
    for (bool progress = true; progress;) {
      progress = false;
      for (auto it = pending_.begin(); it != pending_.end();) {
        int missing = 0;
        uint16_t lost = 0;
        for (unsigned i = it->index; i < it->count; i += it->stride) {
          const uint16_t sequence = static_cast<uint16_t>(it->base + i);
          if (!held(sequence)) {
            ++missing;
            lost = sequence;
          }
        }
        if (missing == 1) {
          rebuild(*it, lost);
          progress = true;
        }
        if (missing <= 1 || too_old(*it))
          it = pending_.erase(it);
        else
          ++it;
      }
    }
  }

  void rebuild(const fec& f, uint16_t lost) {
    std::vector<uint8_t> payload = f.parity;
    uint8_t marker = f.marker;
    uint32_t timestamp = f.timestamp;
    uint16_t length = f.length;
    for (unsigned i = f.index; i < f.count; i += f.stride) {
      const uint16_t sequence = static_cast<uint16_t>(f.base + i);
      if (sequence == lost)
        continue;
      const media& m = store_[sequence % fec_window];
      if (m.payload.size() > payload.size())
        return;  // not the packets this FEC packet was made from
      marker ^= m.marker ? 1 : 0;
      timestamp ^= m.timestamp;
      length ^= static_cast<uint16_t>(m.payload.size());
      for (std::size_t b = 0; b < m.payload.size(); ++b)
        payload[b] ^= m.payload[b];
    }
    if (length == 0 || length > payload.size())
      return;  // inconsistent: a forged or mixed-up group
    velrtp_header header;
    header.marker = marker & 1;
    header.payload_type = static_cast<uint8_t>(red_pt_);
    header.sequence = lost;
    header.timestamp = timestamp;
    header.ssrc = f.ssrc;
    deliver(header, payload.data(), length);
  }

  const int red_pt_, fec_pt_, media_kind_;
  const received_fec_packet_callback callback_;
  void* const user_;
  std::vector<media> store_;
  std::deque<fec> pending_;
  bool have_newest_ = false;
  uint16_t newest_ = 0;
};

}  // namespace
}  // namespace velmedia_internal

received_fec_packet* received_fec_packet::create(int red_pt, int fec_pt, int media_kind,
                                                 received_fec_packet_callback callback,
                                                 void* user) {
  if (!callback || red_pt < 0 || red_pt > 127 || fec_pt < 0 || fec_pt > 127 || red_pt == fec_pt)
    return nullptr;
  return new (std::nothrow)
      velmedia_internal::fec_receiver(red_pt, fec_pt, media_kind, callback, user);
}
