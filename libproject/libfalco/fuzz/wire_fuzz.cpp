// Fuzz entry for the frame decoder and the payload decoders, from either side: whatever
// the bytes, decoding stays inside the input, what decodes re-encodes to the same bytes,
// and a stream fed in two pieces decodes to the same frames. Built as a libFuzzer target
// with clang, and replayed over the committed corpus everywhere.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "falco_wire.h"

namespace {

namespace wire = falco::wire;

void check(bool condition) {
  if (!condition)
    std::abort();
}

void check_payload(const wire::Frame& frame) {
  const std::string whole = wire::encode_frame(frame.type, frame.payload);
  switch (frame.type) {
    case wire::FrameType::submit:
      if (const auto s = wire::decode_submit(frame.payload)) {
        check(wire::encode_submit(*s) == whole);
        check(s->size > 0 && wire::valid_name(s->name));
        check(s->credential.empty() || wire::valid_credential(s->credential));
      }
      break;
    case wire::FrameType::data:
      check(wire::encode_data(frame.payload) == whole);
      break;
    case wire::FrameType::accepted:
      if (frame.payload.empty())
        check(wire::encode_accepted() == whole);
      break;
    case wire::FrameType::working:
      if (const auto stage = wire::decode_working(frame.payload))
        check(wire::encode_working(*stage) == whole);
      break;
    case wire::FrameType::page:
      if (const auto p = wire::decode_page(frame.payload)) {
        check(p->index >= 1 && p->index <= p->total && !p->png.empty());
        check(wire::encode_page(*p) == whole);
      }
      break;
    case wire::FrameType::done:
      if (const auto total = wire::decode_done(frame.payload))
        check(wire::encode_done(*total) == whole);
      break;
    case wire::FrameType::error:
      if (const auto e = wire::decode_error(frame.payload))
        check(wire::encode_error(e->code, e->reason) == whole);
      break;
  }
}

void decode_with(std::string_view bytes, std::uint32_t max_length) {
  std::vector<wire::Frame> frames;
  const wire::DecodeResult whole = wire::decode_frames(bytes, max_length, frames);
  check(whole.consumed <= bytes.size());
  std::size_t covered = 0;
  for (const wire::Frame& frame : frames) {
    check(frame.payload.size() + 1 <= max_length);
    check(frame.payload.data() >= bytes.data() &&
          frame.payload.data() + frame.payload.size() <= bytes.data() + bytes.size());
    covered += wire::kHeaderSize + frame.payload.size();
    check_payload(frame);
  }
  check(covered == whole.consumed);

  const std::size_t split = bytes.size() / 2;
  std::string buffer(bytes.substr(0, split));
  std::vector<wire::Frame> first;
  const wire::DecodeResult head = wire::decode_frames(buffer, max_length, first);
  if (head.status == wire::DecodeStatus::ok) {
    std::size_t count = first.size();
    buffer.erase(0, head.consumed);
    buffer.append(bytes.substr(split));
    std::vector<wire::Frame> second;
    const wire::DecodeResult tail = wire::decode_frames(buffer, max_length, second);
    count += second.size();
    check(tail.status == whole.status);
    check(count == frames.size());
  } else {
    check(head.status == whole.status);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  decode_with(bytes, wire::kMaxClientFrame);  // as the server reads
  decode_with(bytes, wire::kMaxServerFrame);  // as the client reads
  return 0;
}
