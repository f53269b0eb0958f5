#include "falco_wire.h"

namespace falco::wire {

namespace {

void put_u16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xff));
}

void put_u32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((v >> shift) & 0xff));
}

void put_u64(std::string& out, std::uint64_t v) {
  put_u32(out, static_cast<std::uint32_t>(v >> 32));
  put_u32(out, static_cast<std::uint32_t>(v & 0xffffffffu));
}

// Reads big-endian integers from a payload; every read checks what is left.
class Reader {
public:
  explicit Reader(std::string_view data) : data_(data) {}

  bool u8(std::uint8_t& v) {
    if (data_.empty())
      return false;
    v = static_cast<std::uint8_t>(data_[0]);
    data_.remove_prefix(1);
    return true;
  }
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
  bool u64(std::uint64_t& v) {
    std::uint32_t high = 0, low = 0;
    if (data_.size() < 8 || !u32(high) || !u32(low))
      return false;
    v = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
  }
  bool bytes(std::size_t n, std::string_view& v) {
    if (data_.size() < n)
      return false;
    v = data_.substr(0, n);
    data_.remove_prefix(n);
    return true;
  }
  // A u16 length followed by that many bytes.
  bool text16(std::string_view& v) {
    std::uint16_t n = 0;
    return u16(n) && bytes(n, v);
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
  return t >= static_cast<std::uint8_t>(FrameType::submit) &&
         t <= static_cast<std::uint8_t>(FrameType::error);
}

}  // namespace

bool is_document_error(ErrorCode code) {
  switch (code) {
    case ErrorCode::too_large:
    case ErrorCode::unsupported:
    case ErrorCode::convert_failed:
    case ErrorCode::too_many_pages:
    case ErrorCode::timed_out:
    case ErrorCode::encrypted:
      return true;
    default:
      return false;
  }
}

const char* to_string(ErrorCode code) {
  switch (code) {
    case ErrorCode::protocol:
      return "protocol error";
    case ErrorCode::version:
      return "unsupported protocol version";
    case ErrorCode::credential_refused:
      return "credential refused";
    case ErrorCode::not_allowed:
      return "role may not convert";
    case ErrorCode::too_large:
      return "document too large";
    case ErrorCode::busy:
      return "server busy";
    case ErrorCode::unsupported:
      return "unsupported document type";
    case ErrorCode::convert_failed:
      return "conversion failed";
    case ErrorCode::too_many_pages:
      return "too many pages";
    case ErrorCode::timed_out:
      return "conversion timed out";
    case ErrorCode::encrypted:
      return "document is password-protected";
    case ErrorCode::shutting_down:
      return "server shutting down";
    case ErrorCode::internal:
      return "internal server error";
  }
  return "unknown error";
}

DecodeResult decode_frames(std::string_view bytes, std::uint32_t max_length,
                           std::vector<Frame>& out) {
  DecodeResult result;
  std::string_view rest = bytes;
  while (rest.size() >= kLengthSize) {
    Reader header(rest);
    std::uint32_t length = 0;
    header.u32(length);
    // Judged as soon as the length is there, so a bad one never makes the caller
    // buffer up to it.
    if (length == 0) {
      result.status = DecodeStatus::empty;
      return result;
    }
    if (length > max_length) {
      result.status = DecodeStatus::oversize;
      return result;
    }
    if (rest.size() < kHeaderSize)
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
    result.consumed += kLengthSize + length;
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
      return "frame too long";
    case DecodeStatus::unknown_type:
      return "unknown frame type";
  }
  return "?";
}

bool valid_credential(std::string_view credential) {
  if (credential.empty() || credential.size() > kMaxCredentialLength)
    return false;
  for (char c : credential)
    if (c < 0x20 || c > 0x7e)
      return false;
  return true;
}

bool valid_name(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameLength &&
         name.find('\0') == std::string_view::npos;
}

std::string encode_frame(FrameType type, std::string_view payload) {
  std::string out = frame_with_capacity(type, payload.size());
  out.append(payload);
  return out;
}

std::string encode_submit(const Submit& s) {
  std::string out = frame_with_capacity(
      FrameType::submit, 2 + 4 + 4 + 8 + 2 + s.credential.size() + 2 + s.name.size());
  put_u16(out, s.version);
  put_u32(out, s.user_id);
  put_u32(out, s.room_id);
  put_u64(out, s.size);
  put_u16(out, static_cast<std::uint16_t>(s.credential.size()));
  out.append(s.credential);
  put_u16(out, static_cast<std::uint16_t>(s.name.size()));
  out.append(s.name);
  return out;
}

std::string encode_data(std::string_view bytes) {
  return encode_frame(FrameType::data, bytes);
}

std::string encode_accepted() {
  return encode_frame(FrameType::accepted, {});
}

std::string encode_working(Stage stage) {
  std::string out = frame_with_capacity(FrameType::working, 1);
  out.push_back(static_cast<char>(stage));
  return out;
}

std::string encode_page(const Page& page) {
  std::string out = frame_with_capacity(FrameType::page, 8 + page.png.size());
  put_u32(out, page.index);
  put_u32(out, page.total);
  out.append(page.png);
  return out;
}

std::string encode_done(std::uint32_t total) {
  std::string out = frame_with_capacity(FrameType::done, 4);
  put_u32(out, total);
  return out;
}

std::string encode_error(ErrorCode code, std::string_view reason) {
  reason = reason.substr(0, kMaxReasonLength);
  std::string out = frame_with_capacity(FrameType::error, 2 + reason.size());
  put_u16(out, static_cast<std::uint16_t>(code));
  out.append(reason);
  return out;
}

std::optional<Submit> decode_submit(std::string_view payload) {
  Reader r(payload);
  Submit s;
  if (!r.u16(s.version) || !r.u32(s.user_id) || !r.u32(s.room_id) || !r.u64(s.size) ||
      !r.text16(s.credential) || !r.text16(s.name) || !r.empty())
    return std::nullopt;
  if (s.size == 0 || (!s.credential.empty() && !valid_credential(s.credential)) ||
      !valid_name(s.name))
    return std::nullopt;
  return s;
}

std::optional<Stage> decode_working(std::string_view payload) {
  if (payload.size() != 1)
    return std::nullopt;
  const auto stage = static_cast<std::uint8_t>(payload[0]);
  if (stage < static_cast<std::uint8_t>(Stage::waiting) ||
      stage > static_cast<std::uint8_t>(Stage::rendering))
    return std::nullopt;
  return static_cast<Stage>(stage);
}

std::optional<Page> decode_page(std::string_view payload) {
  Reader r(payload);
  Page page;
  if (!r.u32(page.index) || !r.u32(page.total))
    return std::nullopt;
  page.png = r.rest();
  if (page.index == 0 || page.index > page.total || page.png.empty() ||
      page.png.size() > kMaxPngBytes)
    return std::nullopt;
  return page;
}

std::optional<std::uint32_t> decode_done(std::string_view payload) {
  Reader r(payload);
  std::uint32_t total = 0;
  if (!r.u32(total) || !r.empty() || total == 0)
    return std::nullopt;
  return total;
}

std::optional<Error> decode_error(std::string_view payload) {
  Reader r(payload);
  std::uint16_t code = 0;
  if (!r.u16(code) || r.rest().size() > kMaxReasonLength)
    return std::nullopt;
  return Error{static_cast<ErrorCode>(code), r.rest()};
}

}  // namespace falco::wire
