// Fuzz entry for the phone link's stream reader: the input is cut into pieces
// of the sizes its first byte picks and fed in turn; whatever the bytes, the
// reader stays inside its bounds, hands out only plain extensions, and a
// packet it read, written again and read back, is the same packet. Built as
// a libFuzzer target with clang, replayed over the committed corpus everywhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "phonewire/phone_packet.h"

namespace {

void check(bool condition) {
  if (!condition)
    std::abort();
}

void check_packet(const phonewire::packet& p) {
  check(p.descriptor.size() <= phonewire::kMaxDescriptor);
  check(p.body.size() <= phonewire::kMaxFileBody);
  if (p.type == phonewire::kJson || p.type == phonewire::kRoomJson)
    check(p.body.size() <= phonewire::kMaxJsonBody);
  check(p.extension.find('/') == std::string::npos && p.extension.find("..") == std::string::npos);
  if (p.type == phonewire::kFile ||
      ((p.type == phonewire::kJson || p.type == phonewire::kRoomJson) && p.length != 0)) {
    check(!p.body.empty());
    const std::string head = p.type == phonewire::kFile
                                 ? phonewire::file_head(p.extension, p.body.size())
                                 : phonewire::json_head(p.type, p.body.size());
    phonewire::stream_reader again;
    for (const std::string& piece : phonewire::queued_pieces(head, p.body))
      again.feed(piece);
    phonewire::packet q;
    check(again.next(q) == phonewire::stream_reader::result::packet);
    check(q.type == p.type && q.body == p.body && q.extension == p.extension);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  const std::size_t step = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  phonewire::stream_reader reader;
  phonewire::packet p;
  for (std::size_t at = 0; at < input.size(); at += step) {
    reader.feed(input.substr(at, step));
    for (;;) {
      const auto r = reader.next(p);
      if (r != phonewire::stream_reader::result::packet)
        break;
      check_packet(p);
    }
  }
  return 0;
}
