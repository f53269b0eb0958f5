#include "msg_wire.h"

namespace corda::wire {

namespace {

void put_u16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xff));
}

void put_u32(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v >> 24));
  out.push_back(static_cast<char>((v >> 16) & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
  out.push_back(static_cast<char>(v & 0xff));
}

// Reads big-endian integers from a payload; every read checks what is left.
class Reader {
public:
  explicit Reader(std::string_view data) : data_(data) {}

  bool u16(std::uint16_t& v) {
    if (data_.size() < 2)
      return false;
    v = static_cast<std::uint16_t>((byte(0) << 8) | byte(1));
    data_.remove_prefix(2);
    return true;
  }
  bool u32(std::uint32_t& v) {
    if (data_.size() < 4)
      return false;
    v = (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
    data_.remove_prefix(4);
    return true;
  }
  bool bytes(std::size_t n, std::string_view& v) {
    if (data_.size() < n)
      return false;
    v = data_.substr(0, n);
    data_.remove_prefix(n);
    return true;
  }
  std::string_view rest() const { return data_; }
  bool empty() const { return data_.empty(); }

private:
  std::uint32_t byte(std::size_t i) const { return static_cast<unsigned char>(data_[i]); }
  std::string_view data_;
};

std::string frame_with_capacity(FrameType type, std::size_t payload_size) {
  std::string out;
  out.reserve(kHeaderSize + payload_size);
  put_u32(out, static_cast<std::uint32_t>(payload_size + 1));
  out.push_back(static_cast<char>(type));
  return out;
}

bool known_type(std::uint8_t t) {
  return t >= static_cast<std::uint8_t>(FrameType::hello) &&
         t <= static_cast<std::uint8_t>(FrameType::close);
}

}  // namespace

DecodeResult decode_frames(std::string_view bytes, std::vector<Frame>& out) {
  DecodeResult result;
  std::string_view rest = bytes;
  while (rest.size() >= kLengthSize) {
    Reader header(rest);
    std::uint32_t length = 0;
    header.u32(length);
    // Judge the header as soon as it is complete, so a bad length never makes
    // the caller buffer up to it.
    if (length == 0) {
      result.status = DecodeStatus::empty;
      return result;
    }
    if (length > kMaxFrameLength) {
      result.status = DecodeStatus::oversize;
      return result;
    }
    if (rest.size() < kLengthSize + 1)
      break;
    const auto type = static_cast<std::uint8_t>(rest[kLengthSize]);
    if (!known_type(type)) {
      result.status = DecodeStatus::unknown_type;
      return result;
    }
    if (rest.size() - kLengthSize < length)
      break;
    out.push_back(Frame{static_cast<FrameType>(type), rest.substr(kHeaderSize, length - 1)});
    rest.remove_prefix(kLengthSize + length);
    result.consumed = bytes.size() - rest.size();
  }
  return result;
}

const char* to_string(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::ok:
      return "ok";
    case DecodeStatus::empty:
      return "empty frame";
    case DecodeStatus::oversize:
      return "frame too large";
    case DecodeStatus::unknown_type:
      return "unknown frame type";
  }
  return "?";
}

std::string encode_frame(FrameType type, std::string_view payload) {
  std::string out = frame_with_capacity(type, payload.size());
  out.append(payload);
  return out;
}

std::string encode_hello(const Hello& hello) {
  const std::size_t extra = hello.credential.empty() ? 0 : 2 + hello.credential.size();
  std::string out = frame_with_capacity(FrameType::hello, kShortHelloSize + extra);
  put_u16(out, hello.version);
  put_u32(out, hello.user_id);
  put_u32(out, hello.channel_id);
  if (extra > 0) {
    put_u16(out, static_cast<std::uint16_t>(hello.credential.size()));
    out.append(hello.credential);
  }
  return out;
}

std::string encode_welcome(const Welcome& welcome) {
  std::string out = frame_with_capacity(FrameType::welcome, 6);
  put_u16(out, welcome.version);
  put_u32(out, welcome.idle_timeout_ms);
  return out;
}

std::string encode_send(std::string_view target, std::string_view text) {
  std::string out = frame_with_capacity(FrameType::send, 2 + target.size() + text.size());
  put_u16(out, static_cast<std::uint16_t>(target.size()));
  out.append(target);
  out.append(text);
  return out;
}

std::string encode_deliver(const Deliver& d) {
  std::string out =
      frame_with_capacity(FrameType::deliver, 4 + 4 + 2 + d.target.size() + d.text.size());
  put_u32(out, d.sender_id);
  put_u32(out, d.channel_id);
  put_u16(out, static_cast<std::uint16_t>(d.target.size()));
  out.append(d.target);
  out.append(d.text);
  return out;
}

std::string encode_close(CloseCode code, std::string_view reason) {
  std::string out = frame_with_capacity(FrameType::close, 2 + reason.size());
  put_u16(out, static_cast<std::uint16_t>(code));
  out.append(reason);
  return out;
}

std::optional<Hello> decode_hello(std::string_view payload) {
  Reader r(payload);
  Hello h;
  if (!r.u16(h.version) || !r.u32(h.user_id) || !r.u32(h.channel_id))
    return std::nullopt;
  if (r.empty())
    return h;
  // A zero length is refused too: the credential-less hello has one form only.
  std::uint16_t length = 0;
  if (!r.u16(length) || !r.bytes(length, h.credential) || !r.empty() ||
      !valid_credential(h.credential))
    return std::nullopt;
  return h;
}

std::optional<Welcome> decode_welcome(std::string_view payload) {
  Reader r(payload);
  Welcome w;
  if (!r.u16(w.version) || !r.u32(w.idle_timeout_ms) || !r.empty())
    return std::nullopt;
  return w;
}

std::optional<SendMsg> decode_send(std::string_view payload) {
  Reader r(payload);
  std::uint16_t target_size = 0;
  SendMsg m;
  if (!r.u16(target_size) || target_size > kMaxTargetLength || !r.bytes(target_size, m.target))
    return std::nullopt;
  m.text = r.rest();
  if (m.text.size() > kMaxTextLength)
    return std::nullopt;
  return m;
}

std::optional<Deliver> decode_deliver(std::string_view payload) {
  Reader r(payload);
  std::uint16_t target_size = 0;
  Deliver d;
  if (!r.u32(d.sender_id) || !r.u32(d.channel_id) || !r.u16(target_size) ||
      target_size > kMaxTargetLength || !r.bytes(target_size, d.target))
    return std::nullopt;
  d.text = r.rest();
  return d;
}

std::optional<Close> decode_close(std::string_view payload) {
  Reader r(payload);
  Close c;
  if (!r.u16(c.code))
    return std::nullopt;
  c.reason = r.rest();
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
