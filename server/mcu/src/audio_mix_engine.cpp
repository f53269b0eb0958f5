#include "audio_mix_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <opus.h>

#include "audio_packet.h"
#include "audio_publisher.h"
#include "tavsrv/Log.h"

namespace mcu {

struct audio_mix_engine::listener_state {
  std::mutex mutex;  // held while the sink runs, so removal waits for it
  audio_mixer::datagram_sink sink;
  audio_stream_packetizer packetizer{mixed_ssrc};
};

// One distinct mix: everything, or everything but one publisher.
struct audio_mix_engine::mix_state {
  mix_state() {
    int error = OPUS_OK;
    encoder = opus_encoder_create(mix_rate, mix_channels, OPUS_APPLICATION_VOIP, &error);
    if (error != OPUS_OK) {
      if (encoder)
        opus_encoder_destroy(encoder);
      encoder = nullptr;
      return;
    }
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(bitrate));
    // The datagrams carry redundancy; a mixing server spends less on each encode.
    opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(0));
    opus_encoder_ctl(encoder, OPUS_SET_COMPLEXITY(5));
  }
  ~mix_state() {
    if (encoder)
      opus_encoder_destroy(encoder);
  }
  OpusEncoder* encoder = nullptr;
  mix_limiter limiter;
  bool used = false;
};

struct audio_mix_engine::room_state {
  // Guarded by the engine's mutex.
  std::map<uint32_t, std::shared_ptr<audio_publisher>> publishers;
  std::vector<std::shared_ptr<audio_publisher>> leaving;
  std::map<uint32_t, std::shared_ptr<listener_state>> listeners;
  // Mixing clock only; key: the publisher left out, 0 for the full mix.
  std::map<uint32_t, std::unique_ptr<mix_state>> mixes;
};

bool mix_limiter::apply(const int32_t* mix, int16_t* out) {
  int32_t peak = 0;
  for (unsigned i = 0; i < mix_samples; ++i)
    peak = std::max(peak, std::abs(mix[i]));
  const float start = gain_;
  float end = std::min(1.0f, gain_ + 0.02f);  // about one second to recover fully
  if (peak > 0 && static_cast<float>(peak) * end > 32767.0f)
    end = 32767.0f / static_cast<float>(peak);
  const bool limited = start < 1.0f || end < 1.0f;
  for (unsigned f = 0; f < mix_frame; ++f) {
    // Falls within the first tenth of the frame, then holds: the peak may be anywhere.
    const float t = std::min(1.0f, static_cast<float>(f) / (mix_frame / 10.0f));
    const float g = end < start ? start + (end - start) * t
                                : start + (end - start) * static_cast<float>(f) / mix_frame;
    for (unsigned c = 0; c < mix_channels; ++c) {
      const float v = static_cast<float>(mix[f * mix_channels + c]) * g;
      out[f * mix_channels + c] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
  }
  gain_ = end;
  return limited;
}

audio_mix_engine::audio_mix_engine() = default;
audio_mix_engine::~audio_mix_engine() = default;

void audio_mix_engine::add_publisher(uint32_t room, uint32_t user) {
  auto publisher = std::make_shared<audio_publisher>();
  if (!publisher->ok())
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto& state = rooms_[room];
  if (!state)
    state = std::make_shared<room_state>();
  state->publishers.emplace(user, std::move(publisher));  // a second add keeps the first
}

void audio_mix_engine::remove_publisher(uint32_t room, uint32_t user) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = rooms_.find(room);
  if (found == rooms_.end())
    return;
  room_state& state = *found->second;
  auto publisher = state.publishers.find(user);
  if (publisher != state.publishers.end()) {
    const audio_publisher::counters c = publisher->second->stats();
    tavsrv::logInfo("mcu: room " + std::to_string(room) + ": audio of " + std::to_string(user) +
                    " ends: " + std::to_string(c.decoded) + " frames mixed, " +
                    std::to_string(c.concealed) + " concealed, " + std::to_string(c.late) +
                    " late, " + std::to_string(c.skipped) + " skipped");
    state.leaving.push_back(publisher->second);
    state.publishers.erase(publisher);
  }
}

void audio_mix_engine::publisher_datagram(uint32_t room, uint32_t user, const uint8_t* data,
                                          std::size_t length) {
  std::shared_ptr<audio_publisher> publisher;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = rooms_.find(room);
    if (found == rooms_.end())
      return;
    auto p = found->second->publishers.find(user);
    if (p == found->second->publishers.end())
      return;
    publisher = p->second;
  }
  if (!publisher->datagram(data, length))
    ++malformed_;
}

void audio_mix_engine::add_listener(uint32_t room, uint32_t listener,
                                    audio_mixer::datagram_sink sink) {
  std::shared_ptr<listener_state> state;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& r = rooms_[room];
    if (!r)
      r = std::make_shared<room_state>();
    auto& l = r->listeners[listener];
    if (!l)
      l = std::make_shared<listener_state>();
    state = l;
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  state->sink = std::move(sink);  // the stream's numbering goes on across a new sink
}

void audio_mix_engine::remove_listener(uint32_t room, uint32_t listener) {
  std::shared_ptr<listener_state> state;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = rooms_.find(room);
    if (found == rooms_.end())
      return;
    auto l = found->second->listeners.find(listener);
    if (l == found->second->listeners.end())
      return;
    state = l->second;
    found->second->listeners.erase(l);
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  state->sink = nullptr;
}

void audio_mix_engine::tick() {
  ++ticks_;
  struct room_work {
    std::shared_ptr<room_state> room;
    std::vector<std::pair<uint32_t, std::shared_ptr<audio_publisher>>> publishers;
    std::vector<std::shared_ptr<audio_publisher>> leaving;
    std::vector<std::pair<uint32_t, std::shared_ptr<listener_state>>> listeners;
  };
  std::vector<room_work> work;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = rooms_.begin(); it != rooms_.end();) {
      room_state& r = *it->second;
      if (r.publishers.empty() && r.listeners.empty() && r.leaving.empty()) {
        it = rooms_.erase(it);
        continue;
      }
      room_work w;
      w.room = it->second;
      w.publishers.assign(r.publishers.begin(), r.publishers.end());
      w.leaving.swap(r.leaving);
      w.listeners.assign(r.listeners.begin(), r.listeners.end());
      work.push_back(std::move(w));
      ++it;
    }
  }

  std::vector<int16_t> pcm(mix_samples);
  std::vector<int32_t> total(mix_samples);
  std::vector<int32_t> mix(mix_samples);
  std::vector<int16_t> limited(mix_samples);
  std::map<uint32_t, std::vector<int16_t>> voices;  // publisher -> its frame this tick
  for (room_work& w : work) {
    std::fill(total.begin(), total.end(), 0);
    voices.clear();
    for (auto& [user, publisher] : w.publishers) {
      if (!publisher->next_frame(pcm.data()))
        continue;
      for (unsigned i = 0; i < mix_samples; ++i)
        total[i] += pcm[i];
      voices[user] = pcm;
    }
    for (auto& publisher : w.leaving) {
      if (publisher->fade_out(pcm.data()))
        for (unsigned i = 0; i < mix_samples; ++i)
          total[i] += pcm[i];
    }
    // Nobody publishes: nothing to send (the clients drop their receiver).
    if (w.publishers.empty() && w.leaving.empty())
      continue;

    // A publisher never hears itself: its mix leaves it out, even on a tick where it was
    // silent (the same sound then, from its own encoder).
    auto left_out_for = [&](uint32_t listener) -> uint32_t {
      for (const auto& p : w.publishers)
        if (p.first == listener)
          return listener;
      return 0;
    };
    auto& mixes = w.room->mixes;
    for (auto& m : mixes)
      m.second->used = false;
    for (const auto& l : w.listeners) {
      auto& slot = mixes[left_out_for(l.first)];
      if (!slot)
        slot = std::make_unique<mix_state>();
      slot->used = true;
    }
    // Encode each distinct mix once, then number it per listener.
    std::map<uint32_t, std::vector<uint8_t>> encoded;
    for (auto& [left_out, m] : mixes) {
      if (!m->used || !m->encoder)
        continue;
      auto voice = voices.find(left_out);
      for (unsigned i = 0; i < mix_samples; ++i)
        mix[i] = total[i] - (voice != voices.end() ? voice->second[i] : 0);
      if (m->limiter.apply(mix.data(), limited.data()))
        ++limited_;
      uint8_t packet[400];
      const int size = opus_encode(m->encoder, limited.data(), static_cast<int>(mix_frame), packet,
                                   static_cast<opus_int32>(sizeof packet));
      if (size <= 0)
        continue;
      ++encoded_;
      encoded[left_out].assign(packet, packet + size);
    }
    for (auto it = mixes.begin(); it != mixes.end();)
      it = it->second->used ? std::next(it) : mixes.erase(it);

    for (auto& [listener, state] : w.listeners) {
      auto frame = encoded.find(left_out_for(listener));
      if (frame == encoded.end())
        continue;
      std::lock_guard<std::mutex> lock(state->mutex);
      if (!state->sink)
        continue;  // removed since the snapshot
      const std::vector<uint8_t> datagram = state->packetizer.next(
          frame->second.data(), static_cast<unsigned>(frame->second.size()), mix_frame);
      if (datagram.empty())
        continue;
      state->sink(datagram.data(), datagram.size());
      ++sent_;
    }
  }
}

audio_mix_engine::counters audio_mix_engine::stats() const {
  counters c;
  c.ticks = ticks_;
  c.encoded = encoded_;
  c.sent = sent_;
  c.malformed = malformed_;
  c.limited = limited_;
  return c;
}

}  // namespace mcu
