// Fuzz entry for the MCU message dispatch: a run of messages, each
//   byte 0: type (below 128: that type; else 100000 + (byte & 3))
//   bytes 1-2: big-endian length, then that many payload bytes (cut at the input's end)
// goes through mcu_dispatch with an observer and library side that read every byte they are
// given, so a read past a message shows under the sanitizers. Reassembly must stay bounded.
// Built as a libFuzzer target with clang, and replayed over the committed corpus everywhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "control_wire.h"
#include "mcu_dispatch.h"

namespace {

volatile uint32_t sink;

void touch(const void* data, unsigned length) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t sum = 0;
  for (unsigned i = 0; i < length; ++i)
    sum += p[i];
  sink = sink + sum;
}

class reading_observer : public velmcu2ui {
public:
  void on_media_event(int, void*) override {}
  void ss_start_class(uint32_t) override {}
  void start_class_ack(int) override {}
  void ss_stop_class(uint32_t) override {}
  void stop_class_ack(int) override {}
  void get_class_state_ack(int) override {}
  void ss_application_share(uint32_t) override {}
  void application_share_ack(int) override {}
  void ss_cancel_application(uint32_t) override {}
  void cancel_application_ack(int) override {}
  void ss_reply_share(uint32_t, int) override {}
  void reply_share_ack(uint32_t, int) override {}
  void ss_start_share(uint32_t) override {}
  void start_share_ack(int) override {}
  void ss_stop_share(uint32_t) override {}
  void stop_share_ack(int) override {}
  void get_share_users_ack(int, int count, const uint32_t* ids) override {
    touch(ids, static_cast<unsigned>(count) * 4);
  }
  void ss_start_tag(uint32_t) override {}
  void start_tag_ack(int) override {}
  void ss_stop_tag(uint32_t) override {}
  void stop_tag_ack(int) override {}
  void get_tag_users_ack(int, int count, const uint32_t* ids) override {
    touch(ids, static_cast<unsigned>(count) * 4);
  }
  void ss_cancel_share(uint32_t) override {}
  void cancel_share_ack(int) override {}
  void p2p_msg(uint32_t, const char* data, unsigned length) override { touch(data, length); }
  void p2all_msg(uint32_t, const char* data, unsigned length) override { touch(data, length); }
  void get_classing_user_ack(int, uint32_t) override {}
  void p2p_msg_ack(uint32_t, const char* data, unsigned length) override { touch(data, length); }
  void p2all_msg_ack(uint32_t, const char* data, unsigned length) override { touch(data, length); }
  void user_net_state(uint32_t, int) override {}
};

class reading_events : public mcu_events {
public:
  void on_logged_in() override {}
  void on_user_list(const user_media_t* users, unsigned count) override {
    touch(users, count * sizeof(user_media_t));
  }
  void on_user_left(uint32_t) override {}
  void on_reserved(uint32_t, uint32_t) override {}
  uint32_t device_mask() override { return 3; }
  void on_open_sender(uint32_t, uint16_t) override {}
  void on_close_sender(uint32_t, uint32_t) override {}
  void on_media_published(uint32_t, uint32_t) override {}
  void on_media_unpublished(uint32_t, uint32_t) override {}
  void on_user_login(const user_media_t&) override {}
  void on_retransmit(uint32_t, const uint16_t* seqs, unsigned count) override {
    touch(seqs, count * 2);
  }
  void on_bandwidth(uint32_t, uint32_t) override {}
  void on_quality(uint32_t, uint32_t) override {}
  void on_media_port(uint32_t, uint32_t, uint16_t, const pavo_wire::media_token& token) override {
    touch(token.bytes, sizeof token.bytes);
  }
  void on_existing_media(const user_media_t* list, unsigned count) override {
    touch(list, count * sizeof(user_media_t));
  }
  void on_class_stopped() override {}
  void on_kicked() override {}
};

class reading_sender : public sendmsg2mcu {
public:
  int send_msg(uint32_t, const void* payload, unsigned length) override {
    touch(payload, length);
    return 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  reading_observer observer;
  reading_events events;
  reading_sender sender;
  pavo::mcu_dispatch dispatch(observer, events, sender);
  std::size_t at = 0;
  while (size - at >= 3) {
    const uint8_t code = data[at];
    const uint32_t type = code < 128 ? code : 100000u + (code & 3u);
    std::size_t length = (std::size_t(data[at + 1]) << 8) | data[at + 2];
    at += 3;
    if (length > size - at)
      length = size - at;
    // A copy of exactly the message, so reading past it is caught.
    std::vector<uint8_t> message(data + at, data + at + length);
    dispatch.dispatch(type, message.empty() ? nullptr : message.data(),
                      static_cast<unsigned>(message.size()));
    at += length;
    if (dispatch.peer_fragments().buffered_bytes() > 8 * pavo_wire::peer_message_max ||
        dispatch.broadcast_fragments().buffered_bytes() > 8 * pavo_wire::peer_message_max ||
        dispatch.peer_fragments().entries() > 64 || dispatch.broadcast_fragments().entries() > 64)
      std::abort();
  }
  return 0;
}
