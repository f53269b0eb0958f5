#include "pavo_test_support.h"

#include <cstring>

#include "wirebytes/byte_writer.h"

namespace pavo_test {

bytes be32(std::initializer_list<uint32_t> words) {
  bytes out;
  wirebytes::byte_writer writer(out);
  for (uint32_t w : words)
    writer.u32(w);
  return out;
}

bytes be16(uint16_t value) {
  bytes out;
  wirebytes::byte_writer(out).u16(value);
  return out;
}

bytes operator+(bytes a, const bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

uint32_t word(const bytes& data, std::size_t at) {
  if (data.size() < at + 4)
    return 0xFFFFFFFFu;
  return wirebytes::get_be32(data.data() + at);
}

fake_mcu::fake_mcu() {
  netra::kcp_server_options options;
  options.ip = "127.0.0.1";
  netra::kcp_server::handlers handlers;
  handlers.on_accept = [this](uint64_t, const netra::kcp_peer_address&) {
    ++sessions_;
    return true;
  };
  handlers.on_message = [this](uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                               unsigned length) { on_message(session, header, payload, length); };
  handlers.on_log = [](const std::string&) {};
  server_ = std::make_unique<netra::kcp_server>(options, handlers);
  if (server_->start() == 0)
    port_ = server_->port();
}

fake_mcu::~fake_mcu() {
  server_->stop();
}

void fake_mcu::set_join_reply(uint32_t type, bytes payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  join_type_ = type;
  join_payload_ = std::move(payload);
}

void fake_mcu::on_message(uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                          unsigned length) {
  mcu_message message{session, header.type, bytes(payload, payload + length)};
  uint32_t reply_type = 0;
  bytes reply;
  bool answer = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (header.type == 30) {
      reply_type = join_type_;
      reply = join_payload_ ? *join_payload_ : be16(port_);
      answer = true;
    } else if (header.type == 0 && length >= 8) {
      room_session_ = session;
      if (answer_login_) {
        reply_type = 0;
        reply = message.payload;  // the newcomer alone: {mask, id}
        answer = true;
      }
    }
    messages_.push_back(std::move(message));
  }
  changed_.notify_all();
  if (answer) {
    kcp_header_t out{0, static_cast<uint16_t>(reply.size()), reply_type};
    server_->send(session, out, reply.data(), static_cast<unsigned>(reply.size()));
  }
}

std::optional<mcu_message> fake_mcu::next(uint32_t type, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<mcu_message> found;
  changed_.wait_for(lock, limit, [&] {
    for (auto it = messages_.begin(); it != messages_.end(); ++it) {
      if (it->type == type) {
        found = std::move(*it);
        messages_.erase(it);
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<mcu_message> fake_mcu::received(uint32_t type) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<mcu_message> out;
  for (const auto& m : messages_)
    if (m.type == type)
      out.push_back(m);
  return out;
}

bool fake_mcu::wait_logged_in(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return room_session_ != 0; });
}

int fake_mcu::send(uint32_t type, const bytes& payload) {
  uint64_t session;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session = room_session_;
  }
  kcp_header_t header{0, static_cast<uint16_t>(payload.size()), type};
  return server_->send(session, header, payload.data(), static_cast<unsigned>(payload.size()));
}

namespace {

class recorded_video_sender : public video_ctrl {
public:
  recorded_video_sender(recording_factory& factory, std::string what, int index)
      : factory_(factory), what_(std::move(what)), index_(index) {}
  void retransmit(const uint16_t*, unsigned count) override {
    factory_.record({"retransmit:" + what_, "", 0, count, 0, 0});
  }
  void bandwidth_feedback(uint32_t value) override {
    factory_.record({"bandwidth:" + what_, "", 0, value, 0, 0});
  }
  void quality_level(uint32_t level) override {
    factory_.record({"quality:" + what_, "", 0, level, 0, 0});
  }
  int start(const char* ip, uint16_t port, uint32_t ssrc, int max_kbps, int min_kbps) override {
    factory_.record({"start:" + what_, ip, port, ssrc, max_kbps, min_kbps});
    return factory_.video_start_fails ? -1 : 0;
  }
  void stop() override { factory_.record({"stop:" + what_, "", 0, 0, 0, index_}); }
  int set_capture_param(int width, int height, int fps, int kbps) override {
    factory_.record({"capture:" + what_, "", static_cast<uint16_t>(fps),
                     static_cast<uint32_t>(kbps), width, height});
    return 0;
  }
  int restart(int, int, int) override { return -1; }
  void set_source(int32_t source, int32_t live) override {
    factory_.record({"source:" + what_, "", 0, static_cast<uint32_t>(source), live, 0});
  }
  void grabber_state(int state) override {
    factory_.record({"grabber:" + what_, "", 0, 0, state, 0});
  }

private:
  recording_factory& factory_;
  std::string what_;
  int index_;
};

class recorded_audio_sender : public audio_ctrl {
public:
  explicit recorded_audio_sender(recording_factory& factory) : factory_(factory) {}
  int start(const char* ip, uint16_t port, uint32_t own_id) override {
    factory_.record({"start:audio", ip, port, own_id, 2, 0});
    return 0;
  }
  void stop() override { factory_.record({"stop:audio", "", 0, 0, 2, 0}); }

private:
  recording_factory& factory_;
};

class counted_receiver : public media_receiver {
public:
  explicit counted_receiver(std::atomic<int>& live) : live_(live) { ++live_; }
  ~counted_receiver() override { --live_; }

private:
  std::atomic<int>& live_;
};

}  // namespace

void recording_factory::record(log_entry entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.push_back(std::move(entry));
}

std::vector<recording_factory::log_entry> recording_factory::log() {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::shared_ptr<video_ctrl> recording_factory::create_camera_sender(sendmsg2ui*, uint16_t index) {
  record({"camera", "", 0, 0, 1, index});
  return std::make_shared<recorded_video_sender>(*this, "camera", index);
}

std::shared_ptr<video_ctrl> recording_factory::create_screen_sender(sendmsg2ui*) {
  record({"screen", "", 0, 0, 4, 0});
  return std::make_shared<recorded_video_sender>(*this, "screen", 0);
}

std::unique_ptr<audio_ctrl> recording_factory::create_audio_sender(int, int, uint16_t index) {
  record({"audio", "", 0, 0, 2, index});
  return std::make_unique<recorded_audio_sender>(*this);
}

std::unique_ptr<media_receiver> recording_factory::create_video_receiver(
    const char* ip, uint16_t port, uint32_t, const pavo_wire::media_token&, uint32_t remote_id,
    int kind, sendmsg2ui*, sendmsg2mcu*) {
  record({"video_recv", ip, port, remote_id, kind, 0});
  return std::make_unique<counted_receiver>(video_receivers_);
}

std::unique_ptr<media_receiver> recording_factory::create_audio_receiver(
    const char* ip, uint16_t port, uint32_t, const pavo_wire::media_token&, int speaker) {
  record({"audio_recv", ip, port, 0, 2, speaker});
  return std::make_unique<counted_receiver>(audio_receivers_);
}

}  // namespace pavo_test
