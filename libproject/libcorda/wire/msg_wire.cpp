#include "msg_wire.h"

#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace corda::wire {

using wirebytes::string_reader;
using wirebytes::string_writer;

DecodeResult decode_frames(std::string_view bytes, std::vector<Frame>& out) {
  return wirebytes::split_frames(bytes, kMaxFrameLength, FrameType::hello, FrameType::close, out);
}

std::string encode_frame(FrameType type, std::string_view payload) {
  return wirebytes::frame(type, payload);
}

std::string encode_hello(const Hello& hello) {
  const std::size_t extra = hello.credential.empty() ? 0 : 2 + hello.credential.size();
  std::string out = wirebytes::frame_header(FrameType::hello, kShortHelloSize + extra);
  string_writer w(out);
  w.u16(hello.version).u32(hello.user_id).u32(hello.channel_id);
  if (extra > 0)
    w.u16(static_cast<std::uint16_t>(hello.credential.size())).bytes(hello.credential);
  return out;
}

std::string encode_welcome(const Welcome& welcome) {
  std::string out = wirebytes::frame_header(FrameType::welcome, 6);
  string_writer(out).u16(welcome.version).u32(welcome.idle_timeout_ms);
  return out;
}

std::string encode_send(std::string_view target, std::string_view text) {
  std::string out = wirebytes::frame_header(FrameType::send, 2 + target.size() + text.size());
  string_writer(out).u16(static_cast<std::uint16_t>(target.size())).bytes(target).bytes(text);
  return out;
}

std::string encode_deliver(const Deliver& d) {
  std::string out =
      wirebytes::frame_header(FrameType::deliver, 4 + 4 + 2 + d.target.size() + d.text.size());
  string_writer(out)
      .u32(d.sender_id)
      .u32(d.channel_id)
      .u16(static_cast<std::uint16_t>(d.target.size()))
      .bytes(d.target)
      .bytes(d.text);
  return out;
}

std::string encode_close(CloseCode code, std::string_view reason) {
  std::string out = wirebytes::frame_header(FrameType::close, 2 + reason.size());
  string_writer(out).u16(static_cast<std::uint16_t>(code)).bytes(reason);
  return out;
}

// Fields in braces are read in the order written.
std::optional<Hello> decode_hello(std::string_view payload) {
  string_reader r(payload);
  Hello h{r.u16(), r.u32(), r.u32()};
  if (!r.ok())
    return std::nullopt;
  if (r.done())
    return h;
  // A zero length is refused too: the credential-less hello has one form only.
  h.credential = r.text16();
  if (!r.done() || !valid_credential(h.credential))
    return std::nullopt;
  return h;
}

std::optional<Welcome> decode_welcome(std::string_view payload) {
  string_reader r(payload);
  const Welcome w{r.u16(), r.u32()};
  if (!r.done())
    return std::nullopt;
  return w;
}

std::optional<SendMsg> decode_send(std::string_view payload) {
  string_reader r(payload);
  const SendMsg m{r.text16(), r.rest()};
  if (!r.ok() || m.target.size() > kMaxTargetLength || m.text.size() > kMaxTextLength)
    return std::nullopt;
  return m;
}

std::optional<Deliver> decode_deliver(std::string_view payload) {
  string_reader r(payload);
  const Deliver d{r.u32(), r.u32(), r.text16(), r.rest()};
  if (!r.ok() || d.target.size() > kMaxTargetLength)
    return std::nullopt;
  return d;
}

std::optional<Close> decode_close(std::string_view payload) {
  string_reader r(payload);
  const Close c{r.u16(), r.rest()};
  if (!r.ok())
    return std::nullopt;
  return c;
}

bool valid_credential(std::string_view credential) {
  if (credential.empty() || credential.size() > kMaxCredentialLength)
    return false;
  for (char c : credential) {
    if (c < 0x20 || c > 0x7e)
      return false;
  }
  return true;
}

bool valid_target(std::string_view target) {
  return target == "*" || target_user(target).has_value();
}

std::optional<std::uint32_t> target_user(std::string_view target) {
  if (target.empty() || target.size() > kMaxTargetLength)
    return std::nullopt;
  std::uint64_t value = 0;
  for (char c : target) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xffffffffu)
    return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace corda::wire
