#include "netra/kcp_session.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "netra/kcp_segment.h"

namespace netra {

namespace {

constexpr uint32_t rto_nodelay_min = 30;
constexpr uint32_t rto_min = 100;
constexpr uint32_t rto_default = 200;
constexpr uint32_t rto_max = 60000;
constexpr uint32_t thresh_min = 2;
constexpr uint32_t probe_init = 7000;  // first window probe after the peer closed its window
constexpr uint32_t probe_limit = 120000;
constexpr uint32_t max_fragments = 255;  // frg is one byte

// Sequence numbers and times wrap; compare them by signed distance.
int32_t diff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

kcp_config sane(kcp_config c) {
  c.mtu = std::clamp<uint32_t>(c.mtu, 50, 65507);
  c.snd_wnd = std::clamp<uint32_t>(c.snd_wnd, 1, 65535);
  c.rcv_wnd = std::clamp<uint32_t>(c.rcv_wnd, 1, 65535);
  c.interval = std::clamp<uint32_t>(c.interval, 10, 5000);
  c.dead_link = std::max<uint32_t>(c.dead_link, 1);
  c.max_queued = std::max<uint32_t>(c.max_queued, 1);
  return c;
}

}  // namespace

kcp_session::kcp_session(uint32_t conv, output_fn output, const kcp_config& config)
    : conv_(conv),
      output_(std::move(output)),
      cfg_(sane(config)),
      mss_(cfg_.mtu - static_cast<uint32_t>(kcp_overhead)),
      rx_minrto_(cfg_.nodelay ? rto_nodelay_min : rto_min),
      rx_rto_(rto_default) {}

std::size_t kcp_session::max_message_size() const {
  return static_cast<std::size_t>(std::min(max_fragments, cfg_.rcv_wnd)) * mss_;
}

int kcp_session::send(const uint8_t* data, std::size_t size) {
  if (dead_)
    return -3;
  if (size > 0 && !data)
    return -1;
  if (size > max_message_size())
    return -1;
  std::size_t count = size <= mss_ ? 1 : (size + mss_ - 1) / mss_;
  if (snd_queue_.size() + count > cfg_.max_queued)
    return -2;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t len = std::min<std::size_t>(mss_, size - offset);
    segment seg;
    if (len > 0)
      seg.data.assign(data + offset, data + offset + len);
    seg.frg = static_cast<uint8_t>(count - i - 1);
    snd_queue_.push_back(std::move(seg));
    offset += len;
  }
  return 0;
}

int kcp_session::input(const uint8_t* data, std::size_t size) {
  kcp_datagram_info info = inspect_datagram(data, size);
  int refusal = 0;
  if (!info.valid)
    refusal = -1;
  else if (info.conv != conv_)
    refusal = -2;
  else if (info.max_len > mss_)
    refusal = -3;  // larger than any segment a peer with our MTU sends
  if (refusal != 0) {
    ++stats_.datagrams_dropped;
    return refusal;
  }

  const uint32_t old_una = snd_una_;
  bool have_ack = false;
  uint32_t max_ack = 0;
  std::size_t pos = 0;
  while (pos < size) {
    kcp_segment_header h;
    decode_segment_header(data + pos, size - pos, &h);  // checked by inspect_datagram
    const uint8_t* body = data + pos + kcp_overhead;
    pos += kcp_overhead + h.len;

    rmt_wnd_ = h.wnd;
    parse_una(h.una);
    shrink_buf();
    switch (h.cmd) {
      case kcp_cmd_ack: {
        int32_t rtt = diff(current_, h.ts);
        if (rtt >= 0)
          update_rtt(rtt);
        parse_ack(h.sn);
        shrink_buf();
        if (!have_ack || diff(h.sn, max_ack) > 0)
          max_ack = h.sn;
        have_ack = true;
        break;
      }
      case kcp_cmd_push:
        if (diff(h.sn, rcv_nxt_ + cfg_.rcv_wnd) < 0) {
          // Acknowledge even duplicates: the first ack may have been lost.
          if (acklist_.size() < static_cast<std::size_t>(cfg_.rcv_wnd) * 4)
            acklist_.emplace_back(h.sn, h.ts);
          if (diff(h.sn, rcv_nxt_) >= 0) {
            segment seg;
            seg.cmd = h.cmd;
            seg.frg = h.frg;
            seg.ts = h.ts;
            seg.sn = h.sn;
            seg.data.assign(body, body + h.len);
            parse_data(std::move(seg));
          }
        }
        break;
      case kcp_cmd_wask:
        probe_ |= ask_tell;
        break;
      default:  // window tell: the window was taken above
        break;
    }
  }
  if (have_ack)
    parse_fastack(max_ack);
  if (diff(snd_una_, old_una) > 0)
    grow_cwnd();
  discard_stuck();
  ++stats_.datagrams_in;
  return 0;
}

void kcp_session::parse_una(uint32_t una) {
  while (!snd_buf_.empty() && diff(snd_buf_.front().sn, una) < 0)
    snd_buf_.pop_front();
}

void kcp_session::parse_ack(uint32_t sn) {
  if (diff(sn, snd_una_) < 0 || diff(sn, snd_nxt_) >= 0)
    return;
  for (auto it = snd_buf_.begin(); it != snd_buf_.end(); ++it) {
    if (it->sn == sn) {
      snd_buf_.erase(it);
      return;
    }
    if (diff(sn, it->sn) < 0)
      return;
  }
}

void kcp_session::parse_fastack(uint32_t sn) {
  if (diff(sn, snd_una_) < 0 || diff(sn, snd_nxt_) >= 0)
    return;
  // Every older segment still unacknowledged was skipped by this ack.
  for (segment& seg : snd_buf_) {
    if (diff(sn, seg.sn) < 0)
      break;
    if (sn != seg.sn)
      ++seg.fastack;
  }
}

void kcp_session::shrink_buf() {
  snd_una_ = snd_buf_.empty() ? snd_nxt_ : snd_buf_.front().sn;
}

void kcp_session::update_rtt(int32_t rtt) {
  int64_t r = std::min<int64_t>(rtt, rto_max);
  if (rx_srtt_ == 0) {
    rx_srtt_ = static_cast<int32_t>(r);
    rx_rttval_ = static_cast<int32_t>(r / 2);
  } else {
    int64_t delta = std::llabs(r - rx_srtt_);
    rx_rttval_ = static_cast<int32_t>((3 * int64_t{rx_rttval_} + delta) / 4);
    rx_srtt_ = static_cast<int32_t>((7 * int64_t{rx_srtt_} + r) / 8);
    if (rx_srtt_ < 1)
      rx_srtt_ = 1;
  }
  int64_t rto = rx_srtt_ + std::max<int64_t>(cfg_.interval, 4 * int64_t{rx_rttval_});
  rx_rto_ = static_cast<uint32_t>(std::clamp<int64_t>(rto, rx_minrto_, rto_max));
}

void kcp_session::parse_data(segment&& seg) {
  const uint32_t sn = seg.sn;
  if (diff(sn, rcv_nxt_ + cfg_.rcv_wnd) >= 0 || diff(sn, rcv_nxt_) < 0)
    return;
  // Out-of-order arrivals are usually near the end; search from there.
  auto it = rcv_buf_.end();
  while (it != rcv_buf_.begin()) {
    auto prev = std::prev(it);
    if (prev->sn == sn)
      return;  // duplicate
    if (diff(sn, prev->sn) > 0)
      break;
    it = prev;
  }
  rcv_buf_.insert(it, std::move(seg));
  move_to_receive_queue();
}

void kcp_session::move_to_receive_queue() {
  while (!rcv_buf_.empty() && rcv_buf_.front().sn == rcv_nxt_ && rcv_queue_.size() < cfg_.rcv_wnd) {
    rcv_queue_.push_back(std::move(rcv_buf_.front()));
    rcv_buf_.pop_front();
    ++rcv_nxt_;
  }
}

int kcp_session::peek_size() const {
  if (rcv_queue_.empty())
    return -1;
  const segment& first = rcv_queue_.front();
  if (first.frg == 0)
    return static_cast<int>(first.data.size());
  if (rcv_queue_.size() < static_cast<std::size_t>(first.frg) + 1)
    return -1;
  std::size_t total = 0;
  for (const segment& seg : rcv_queue_) {
    total += seg.data.size();
    if (seg.frg == 0)
      return static_cast<int>(total);
  }
  return -1;
}

void kcp_session::discard_stuck() {
  // A full receive queue with no complete message at its head can never make progress:
  // the message needs more fragments than the window holds. Drop it so the stream goes on.
  while (rcv_queue_.size() >= cfg_.rcv_wnd && peek_size() < 0) {
    while (!rcv_queue_.empty()) {
      bool last = rcv_queue_.front().frg == 0;
      rcv_queue_.pop_front();
      if (last)
        break;
    }
    ++stats_.messages_dropped;
    move_to_receive_queue();
  }
}

int kcp_session::receive(std::vector<uint8_t>& out) {
  int size = peek_size();
  if (size < 0)
    return -1;
  const bool was_full = rcv_queue_.size() >= cfg_.rcv_wnd;
  out.clear();
  out.reserve(static_cast<std::size_t>(size));
  while (!rcv_queue_.empty()) {
    segment& seg = rcv_queue_.front();
    bool last = seg.frg == 0;
    out.insert(out.end(), seg.data.begin(), seg.data.end());
    rcv_queue_.pop_front();
    if (last)
      break;
  }
  move_to_receive_queue();
  discard_stuck();
  // The peer stopped sending when our window closed; tell it the window is open again.
  if (was_full && rcv_queue_.size() < cfg_.rcv_wnd)
    probe_ |= ask_tell;
  return size;
}

uint16_t kcp_session::unused_window() const {
  if (rcv_queue_.size() >= cfg_.rcv_wnd)
    return 0;
  return static_cast<uint16_t>(cfg_.rcv_wnd - rcv_queue_.size());
}

void kcp_session::grow_cwnd() {
  if (cwnd_ >= rmt_wnd_)
    return;
  const uint64_t mss = mss_;
  if (cwnd_ < ssthresh_) {
    ++cwnd_;
    incr_ += mss_;
  } else {
    if (incr_ < mss_)
      incr_ = mss_;
    incr_ += static_cast<uint32_t>((mss * mss) / incr_ + mss / 16);
    if ((cwnd_ + 1) * mss <= incr_)
      cwnd_ = static_cast<uint32_t>((incr_ + mss - 1) / mss);
  }
  if (cwnd_ > rmt_wnd_) {
    cwnd_ = rmt_wnd_;
    incr_ = rmt_wnd_ * mss_;
  }
}

void kcp_session::put(std::vector<uint8_t>& buf, uint8_t cmd, uint8_t frg, uint16_t wnd,
                      uint32_t ts, uint32_t sn, uint32_t una, const uint8_t* data, uint32_t len) {
  if (buf.size() + kcp_overhead + len > cfg_.mtu)
    emit(buf);
  kcp_segment_header h;
  h.conv = conv_;
  h.cmd = cmd;
  h.frg = frg;
  h.wnd = wnd;
  h.ts = ts;
  h.sn = sn;
  h.una = una;
  h.len = len;
  std::size_t at = buf.size();
  buf.resize(at + kcp_overhead + len);
  encode_segment_header(h, buf.data() + at);
  if (len > 0)
    std::copy(data, data + len, buf.begin() + static_cast<std::ptrdiff_t>(at + kcp_overhead));
}

void kcp_session::emit(std::vector<uint8_t>& buf) {
  if (buf.empty())
    return;
  ++stats_.datagrams_out;
  if (output_)
    output_(buf.data(), buf.size());
  buf.clear();
}

void kcp_session::flush() {
  if (!updated_)
    return;
  const uint32_t now = current_;
  const uint16_t wnd = unused_window();
  // Kept between flushes: a busy server flushes many sessions for every burst.
  std::vector<uint8_t>& buf = out_;
  buf.clear();
  buf.reserve(cfg_.mtu);

  for (const auto& ack : acklist_)
    put(buf, kcp_cmd_ack, 0, wnd, ack.second, ack.first, rcv_nxt_, nullptr, 0);
  acklist_.clear();

  // A closed remote window is probed with growing pauses until the peer tells it open.
  if (rmt_wnd_ == 0) {
    if (probe_wait_ == 0) {
      probe_wait_ = probe_init;
      ts_probe_ = now + probe_wait_;
    } else if (diff(now, ts_probe_) >= 0) {
      probe_wait_ = std::max(probe_wait_, probe_init);
      probe_wait_ = std::min(probe_wait_ + probe_wait_ / 2, probe_limit);
      ts_probe_ = now + probe_wait_;
      probe_ |= ask_send;
    }
  } else {
    ts_probe_ = 0;
    probe_wait_ = 0;
  }
  if (probe_ & ask_send)
    put(buf, kcp_cmd_wask, 0, wnd, 0, 0, rcv_nxt_, nullptr, 0);
  if (probe_ & ask_tell)
    put(buf, kcp_cmd_wins, 0, wnd, 0, 0, rcv_nxt_, nullptr, 0);
  probe_ = 0;

  uint32_t cwnd = std::min(cfg_.snd_wnd, rmt_wnd_);
  if (cfg_.congestion_window)
    cwnd = std::min(cwnd_, cwnd);
  while (!snd_queue_.empty() && diff(snd_nxt_, snd_una_ + cwnd) < 0) {
    segment seg = std::move(snd_queue_.front());
    snd_queue_.pop_front();
    seg.cmd = kcp_cmd_push;
    seg.ts = now;
    seg.sn = snd_nxt_++;
    seg.resendts = now;
    seg.rto = rx_rto_;
    seg.fastack = 0;
    seg.xmit = 0;
    snd_buf_.push_back(std::move(seg));
  }

  const uint32_t resent = cfg_.fast_resend > 0 ? cfg_.fast_resend : 0xffffffffu;
  const uint32_t rtomin = cfg_.nodelay ? 0 : rx_rto_ >> 3;
  bool lost = false;
  bool change = false;
  bool fresh = false;  // new data goes out in this flush
  std::vector<bool>& sent_now = sent_now_;
  sent_now.assign(snd_buf_.size(), false);
  std::size_t index = 0;
  for (segment& seg : snd_buf_) {
    const std::size_t position = index++;
    bool needsend = false;
    if (seg.xmit == 0) {
      needsend = true;
      fresh = true;
      seg.rto = rx_rto_;
      seg.resendts = now + seg.rto + rtomin;
    } else if (diff(now, seg.resendts) >= 0) {
      needsend = true;
      ++stats_.timeout_resends;
      // Back off: double without no-delay, half again with it.
      uint32_t step = cfg_.nodelay ? seg.rto / 2 : std::max(seg.rto, rx_rto_);
      seg.rto = std::min(seg.rto + step, rto_max);
      seg.resendts = now + seg.rto;
      lost = true;
    } else if (seg.fastack >= resent) {
      if (seg.xmit <= cfg_.fast_limit || cfg_.fast_limit == 0) {
        needsend = true;
        ++stats_.fast_resends;
        seg.fastack = 0;
        seg.resendts = now + seg.rto;
        change = true;
      }
    }
    if (!needsend)
      continue;
    sent_now[position] = true;
    ++seg.xmit;
    seg.ts = now;
    put(buf, kcp_cmd_push, seg.frg, wnd, seg.ts, seg.sn, rcv_nxt_, seg.data.data(),
        static_cast<uint32_t>(seg.data.size()));
    ++stats_.segments_out;
    if (seg.xmit >= cfg_.dead_link)
      dead_ = true;
  }
  if (fresh && cfg_.bundle > 0 && snd_buf_.size() <= cfg_.bundle_in_flight)
    bundle_unacked(buf, wnd, sent_now);
  emit(buf);

  if (change) {
    uint32_t inflight = snd_nxt_ - snd_una_;
    ssthresh_ = std::max(inflight / 2, thresh_min);
    cwnd_ = ssthresh_ + resent;
    incr_ = cwnd_ * mss_;
  }
  if (lost) {
    ssthresh_ = std::max(cwnd_ / 2, thresh_min);
    cwnd_ = 1;
    incr_ = mss_;
  }
  if (cwnd_ < 1) {
    cwnd_ = 1;
    incr_ = mss_;
  }
}

void kcp_session::bundle_unacked(std::vector<uint8_t>& buf, uint16_t wnd,
                                 const std::vector<bool>& sent_now) {
  // Oldest first: the oldest unacknowledged segment is the one holding up in-order delivery.
  // Copies carry the current time so that their acks measure a true round trip; they do not
  // count as transmissions (no back-off, no dead link) and never add a datagram.
  uint32_t copies = 0;
  std::size_t index = 0;
  for (const segment& seg : snd_buf_) {
    if (copies >= cfg_.bundle)
      break;
    const std::size_t position = index++;
    if (sent_now[position] || seg.xmit == 0 || seg.data.size() > cfg_.bundle_max_bytes)
      continue;
    if (buf.empty() || buf.size() + kcp_overhead + seg.data.size() > cfg_.mtu)
      continue;
    put(buf, kcp_cmd_push, seg.frg, wnd, current_, seg.sn, rcv_nxt_, seg.data.data(),
        static_cast<uint32_t>(seg.data.size()));
    ++copies;
    ++stats_.bundled_copies;
  }
}

void kcp_session::update(uint32_t now_ms) {
  current_ = now_ms;
  if (!updated_) {
    updated_ = true;
    ts_flush_ = current_;
  }
  int32_t slap = diff(current_, ts_flush_);
  if (slap >= 10000 || slap < -10000) {  // the clock jumped: start the rhythm again
    ts_flush_ = current_;
    slap = 0;
  }
  if (slap >= 0) {
    ts_flush_ += cfg_.interval;
    if (diff(current_, ts_flush_) >= 0)
      ts_flush_ = current_ + cfg_.interval;
    flush();
  }
}

uint32_t kcp_session::check(uint32_t now_ms) const {
  if (!updated_)
    return now_ms;
  int32_t slap = diff(now_ms, ts_flush_);
  if (slap >= 0 || slap < -10000)
    return now_ms;
  // update() flushes only on the interval rhythm, so that is also when any resend is served.
  return now_ms + std::min(static_cast<uint32_t>(-slap), cfg_.interval);
}

}  // namespace netra
