#include "video_relay.h"

#include <algorithm>

#include "control_wire.h"
#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace mcu {

namespace {

std::vector<uint8_t> two_words(uint32_t first, uint32_t second) {
  std::vector<uint8_t> out;
  wirebytes::byte_writer(out).u32(first).u32(second);
  return out;
}

}  // namespace

bool is_video_kind(uint32_t kind) {
  return kind == 1 || kind == 4 || kind == 32;
}

video_relay::video_relay(const video_relay_options& options, packet_sink sink)
    : options_(options), sink_(std::move(sink)) {}

void video_relay::open_publisher(uint32_t room, uint32_t publisher, uint32_t kind) {
  stream_state& stream = streams_[stream_key{room, publisher, kind}];
  stream.cache.reset();
  stream.published = true;
}

void video_relay::close_publisher(uint32_t room, uint32_t publisher, uint32_t kind) {
  auto it = streams_.find(stream_key{room, publisher, kind});
  if (it == streams_.end())
    return;
  it->second.published = false;
  it->second.cache.reset();
  forget_if_unused(it);
}

void video_relay::open_listener(const video_listener_key& key) {
  streams_[stream_key{key.room, key.publisher, key.kind}].listeners.emplace(key, listener_state{});
}

void video_relay::close_listener(const video_listener_key& key) {
  auto it = streams_.find(stream_key{key.room, key.publisher, key.kind});
  if (it == streams_.end())
    return;
  it->second.listeners.erase(key);
  forget_if_unused(it);
}

void video_relay::forget_if_unused(std::map<stream_key, stream_state>::iterator it) {
  if (!it->second.published && it->second.listeners.empty())
    streams_.erase(it);
}

void video_relay::listener_ready(const video_listener_key& key) {
  auto stream = streams_.find(stream_key{key.room, key.publisher, key.kind});
  if (stream == streams_.end())
    return;
  auto listener = stream->second.listeners.find(key);
  if (listener == stream->second.listeners.end() || listener->second.ready)
    return;
  listener->second.ready = true;
  send_from_key_frame(key, stream->second.cache);
}

void video_relay::listener_moved(const video_listener_key& key, uint64_t now_ms) {
  auto stream = streams_.find(stream_key{key.room, key.publisher, key.kind});
  if (stream == streams_.end())
    return;
  auto listener = stream->second.listeners.find(key);
  if (listener == stream->second.listeners.end() || !listener->second.ready)
    return;
  listener_state& state = listener->second;
  if (state.burst_after_move && now_ms - state.last_move_burst_ms < options_.move_burst_gap_ms)
    return;
  state.burst_after_move = true;
  state.last_move_burst_ms = now_ms;
  send_from_key_frame(key, stream->second.cache);
}

void video_relay::send_from_key_frame(const video_listener_key& key, const video_stream& cache) {
  for (uint16_t sequence : cache.from_last_key_frame()) {
    const std::vector<uint8_t>* packet = cache.find(sequence);
    sink_(key, packet->data(), packet->size());
  }
}

bool video_relay::stream_packet(const uint8_t* data, std::size_t length, uint32_t publisher,
                                velrtp_header* header) {
  if (!data || length == 0 || length > max_media_datagram ||
      !velrtp_read_header(data, static_cast<unsigned>(length), header))
    return false;
  return (header->payload_type == video_red_pt || header->payload_type == video_fec_pt) &&
         header->ssrc == publisher;
}

bool video_relay::publisher_packet(uint32_t room, uint32_t publisher, uint32_t kind,
                                   const velrtp_header& header, const uint8_t* data,
                                   std::size_t length, uint64_t now_ms) {
  auto found = streams_.find(stream_key{room, publisher, kind});
  if (found == streams_.end() || !found->second.published)
    return false;
  stream_state& stream = found->second;
  if (header.payload_type == video_red_pt && !stream.cache.store(header, data, length, now_ms))
    return false;
  for (const auto& listener : stream.listeners)
    if (listener.second.ready)
      sink_(listener.first, data, length);
  return true;
}

bool video_relay::valid_loss_report(uint32_t listener, const uint8_t* report, std::size_t length) {
  wirebytes::byte_reader in(report, length);
  in.skip(4);  // the publisher
  const uint32_t kind = in.u32(), count = in.u32(), from = in.u32();
  return in.ok() && count > 0 && count <= pavo_wire::loss_report_max_numbers &&
         in.remaining() == 2u * count && from == listener && is_video_kind(kind);
}

void video_relay::loss_report(uint32_t room, uint32_t listener, const uint8_t* report,
                              std::size_t length, uint64_t now_ms,
                              std::vector<relay_control>& out) {
  if (!valid_loss_report(listener, report, length))
    return;
  wirebytes::byte_reader in(report, length);
  const uint32_t publisher = in.u32(), kind = in.u32(), count = in.u32();
  in.skip(4);  // the listener, checked above
  const video_listener_key key{room, listener, publisher, kind};
  auto stream = streams_.find(stream_key{room, publisher, kind});
  if (stream == streams_.end() || !stream->second.published)
    return;
  auto target = stream->second.listeners.find(key);
  if (target == stream->second.listeners.end() || !target->second.ready)
    return;
  video_stream& cache = stream->second.cache;
  std::vector<uint16_t> ask;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t sequence = in.u16();
    bool is_new = false;
    if (!target->second.losses.reported(sequence, now_ms, options_.resend_gap_ms, &is_new))
      continue;
    if (const std::vector<uint8_t>* packet = cache.find(sequence)) {
      sink_(key, packet->data(), packet->size());
      ++resent_;
    } else if (cache.should_ask(sequence, now_ms, options_.ask_gap_ms)) {
      ask.push_back(sequence);
    }
  }
  asked_ += ask.size();
  for (std::size_t at = 0; at < ask.size(); at += pavo_wire::retransmit_max_numbers) {
    const std::size_t n = std::min<std::size_t>(pavo_wire::retransmit_max_numbers, ask.size() - at);
    std::vector<uint8_t> payload;
    wirebytes::byte_writer writer(payload);
    writer.u32(kind).u32(static_cast<uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i)
      writer.u16(ask[at + i]);
    out.push_back({room, publisher, pavo_wire::msg_retransmit, std::move(payload)});
  }
}

void video_relay::tick(uint64_t now_ms, std::vector<relay_control>& out) {
  if (options_.feedback_period_ms == 0)
    return;
  if (!period_started_) {
    period_started_ = true;
    period_start_ms_ = now_ms;
    return;
  }
  if (now_ms - period_start_ms_ < options_.feedback_period_ms)
    return;
  period_start_ms_ = now_ms;
  feedback(out);
}

uint32_t video_relay::until_next_feedback(uint64_t now_ms) const {
  if (!period_started_ || options_.feedback_period_ms == 0)
    return std::max<uint32_t>(1, options_.feedback_period_ms);
  const uint64_t due = period_start_ms_ + options_.feedback_period_ms;
  return due > now_ms ? static_cast<uint32_t>(std::min<uint64_t>(due - now_ms, UINT32_MAX)) : 1;
}

void video_relay::feedback(std::vector<relay_control>& out) {
  for (auto& entry : streams_) {
    stream_state& stream = entry.second;
    uint32_t worst = 0;
    for (auto& listener : stream.listeners) {
      const uint32_t losses = listener.second.losses.take_new_losses();
      if (listener.second.ready)
        worst = std::max(worst, losses);
    }
    const video_stream::period period = stream.cache.take_period();
    uint32_t loss_256 = 0, level = 0;
    if (!stream.published || !period_feedback(period.received, period.missing, worst,
                                              options_.min_feedback_packets, &loss_256, &level))
      continue;
    const uint32_t room = std::get<0>(entry.first), publisher = std::get<1>(entry.first),
                   kind = std::get<2>(entry.first);
    // The loss in the low byte, the queuing delay on the way in (ms) above it.
    const uint32_t delay = std::min<uint32_t>(period.queue_delay_ms(), 0xffffff);
    out.push_back(
        {room, publisher, pavo_wire::msg_bandwidth, two_words(kind, loss_256 | (delay << 8))});
    out.push_back({room, publisher, pavo_wire::msg_quality, two_words(kind, level)});
  }
}

}  // namespace mcu
