// Fuzz entry for a room's logic: a run of events from up to four sessions, each
//   byte 0: session (low 2 bits); 0xFF closes that session instead (byte 1 names it)
//   byte 1: type (below 128: that type; else 100000 + (byte & 3))
//   bytes 2-3: big-endian length, then that many payload bytes (cut at the input's end)
// Every message goes in as an exact copy, so reading past it shows under the sanitizers.
// A login (type 0) goes in as the endpoint hands it over once its credential is checked:
// {mask, id} read from the first 8 bytes, from address 127.0.0.<session>.
// The relay checks that ports are opened and closed in pairs and that the room gives every
// port back when it goes. Logging is off: the room logs every login and leave, which would
// be a line per input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <tuple>
#include <vector>

#include "room_logic.h"
#include "tavsrv/Log.h"
#include "wirebytes/byte_order.h"

namespace {

class counting_relay : public mcu::media_relay {
public:
  ~counting_relay() override {
    if (!open_.empty())
      std::abort();  // a port was never given back
  }
  uint16_t open_publisher(uint32_t room, uint32_t user, uint32_t kind, uint32_t) override {
    return open({room, false, 0, user, kind});
  }
  void close_publisher(uint32_t room, uint32_t user, uint32_t kind) override {
    close({room, false, 0, user, kind});
  }
  uint16_t open_subscriber(uint32_t room, uint32_t listener, uint32_t publisher, uint32_t kind,
                           uint32_t, const pavo_wire::media_token&) override {
    return open({room, true, listener, publisher, kind});
  }
  void close_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                        uint32_t kind) override {
    close({room, true, listener, publisher, kind});
  }
  void sender_started(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void loss_report(uint32_t, uint32_t, const uint8_t* report, unsigned length) override {
    volatile uint8_t sum = 0;
    for (unsigned i = 0; i < length; ++i)
      sum = sum + report[i];
  }

private:
  using key = std::tuple<uint32_t, bool, uint32_t, uint32_t, uint32_t>;
  uint16_t open(const key& k) {
    if (open_.count(k))
      std::abort();  // opened twice
    const uint16_t port = static_cast<uint16_t>(1000 + open_.size());
    open_[k] = port;
    return port;
  }
  void close(const key& k) {
    if (!open_.erase(k))
      std::abort();  // closed without being open
  }
  std::map<key, uint16_t> open_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    tavsrv::setLogLevel(tavsrv::LogLevel::Error);
    return true;
  }();
  (void)quiet;
  counting_relay relay;
  {
    mcu::room_logic room(7, relay, 3);
    std::size_t at = 0;
    while (size - at >= 4) {
      const uint8_t who = data[at];
      const uint8_t code = data[at + 1];
      std::size_t length = (std::size_t(data[at + 2]) << 8) | data[at + 3];
      at += 4;
      if (length > size - at)
        length = size - at;
      std::vector<uint8_t> message(data + at, data + at + length);
      at += length;
      mcu::outbox out;
      if (who == 0xFF) {
        room.on_closed(1 + (code & 3u), out);
      } else if (code == 0) {
        if (message.size() >= 8) {
          mcu::login_request request;
          request.mask = wirebytes::get_be32(message.data());
          request.user_id = wirebytes::get_be32(message.data() + 4);
          request.address = 0x7F000000u + 1 + (who & 3u);
          request.role = (who & 4u) ? 1 : 2;  // the teacher side's rules and a student's
          room.login(1 + (who & 3u), request, out);
        }
      } else {
        const uint32_t type = code < 128 ? code : 100000u + (code & 3u);
        room.on_message(1 + (who & 3u), type, message.empty() ? nullptr : message.data(),
                        static_cast<unsigned>(message.size()), out);
      }
      for (const auto& sent : out.sends)
        if (sent.to < 1 || sent.to > 4 || sent.payload.size() > 65535)
          std::abort();
      if (room.member_count() > 3)
        std::abort();
    }
  }
  return 0;
}
