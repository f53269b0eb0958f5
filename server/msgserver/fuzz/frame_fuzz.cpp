// Fuzz entry for the frame decoder and the payload decoders: whatever the
// bytes, decoding stays inside the input and what decodes re-encodes to the
// same bytes. Built as a libFuzzer target with clang, and replayed over the
// committed corpus by corpus_replay.cpp everywhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "msg_wire.h"

namespace {

namespace wire = corda::wire;

void check(bool condition) {
  if (!condition)
    std::abort();
}

void check_payload(const wire::Frame& frame) {
  switch (frame.type) {
    case wire::FrameType::hello:
      if (const auto h = wire::decode_hello(frame.payload)) {
        check(wire::encode_hello(*h) == wire::encode_frame(frame.type, frame.payload));
        // Either form: the ten bytes alone, or a credential that may be logged as it is.
        check(h->credential.empty() ? frame.payload.size() == wire::kShortHelloSize
                                    : wire::valid_credential(h->credential));
      }
      break;
    case wire::FrameType::welcome:
      if (const auto w = wire::decode_welcome(frame.payload))
        check(wire::encode_welcome(*w) == wire::encode_frame(frame.type, frame.payload));
      break;
    case wire::FrameType::send:
      if (const auto s = wire::decode_send(frame.payload)) {
        check(s->target.size() <= wire::kMaxTargetLength);
        check(wire::encode_send(s->target, s->text) ==
              wire::encode_frame(frame.type, frame.payload));
        if (wire::valid_target(s->target))
          check(s->target == "*" || wire::target_user(s->target).has_value());
      }
      break;
    case wire::FrameType::deliver:
      if (const auto d = wire::decode_deliver(frame.payload))
        check(wire::encode_deliver(*d) == wire::encode_frame(frame.type, frame.payload));
      break;
    case wire::FrameType::close:
      if (const auto c = wire::decode_close(frame.payload))
        check(c->reason.size() + 2 == frame.payload.size());
      break;
    case wire::FrameType::ping:
    case wire::FrameType::pong:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::vector<wire::Frame> frames;
  const wire::DecodeResult whole = wire::decode_frames(bytes, frames);
  check(whole.consumed <= size);
  std::size_t covered = 0;
  for (const wire::Frame& frame : frames) {
    check(frame.payload.size() + 1 <= wire::kMaxFrameLength);
    check(frame.payload.data() >= bytes.data() &&
          frame.payload.data() + frame.payload.size() <= bytes.data() + size);
    covered += wire::kHeaderSize + frame.payload.size();
    check_payload(frame);
  }
  check(covered == whole.consumed);

  // Fed in two pieces, the way a socket may hand them over, the stream must
  // decode to the same frames.
  const std::size_t split = size / 2;
  std::string buffer(bytes.substr(0, split));
  std::vector<wire::Frame> first;
  const wire::DecodeResult head = wire::decode_frames(buffer, first);
  if (head.status == wire::DecodeStatus::ok) {
    std::size_t count = first.size();
    buffer.erase(0, head.consumed);
    buffer.append(bytes.substr(split));
    std::vector<wire::Frame> second;
    const wire::DecodeResult tail = wire::decode_frames(buffer, second);
    count += second.size();
    check(tail.status == whole.status);
    check(count == frames.size());
  } else {
    check(head.status == whole.status);
  }
  return 0;
}
