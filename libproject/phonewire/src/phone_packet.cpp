#include "phonewire/phone_packet.h"

#include <algorithm>
#include <cctype>

#include "wirebytes/byte_order.h"

namespace phonewire {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_lower_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f');
}

std::string_view until_nul(std::string_view text) {
  const auto nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

// ---- writing ----

std::string packet_head(std::uint32_t type, std::string_view descriptor) {
  const std::size_t length = std::min<std::size_t>(descriptor.size(), 0xffff);
  std::string head(kHeaderSize + length, '\0');
  auto* p = reinterpret_cast<std::uint8_t*>(head.data());
  wirebytes::put_be16(p + 2, static_cast<std::uint16_t>(length));
  wirebytes::put_be32(p + 4, type);
  head.replace(kHeaderSize, length, descriptor.substr(0, length));
  return head;
}

std::string body_descriptor(std::uint64_t size, std::string_view extension,
                            std::uint8_t json_type) {
  std::string d(kDescriptorSize, '\0');
  const std::string text = std::to_string(size);  // at most 20 digits, NUL at 20 at the latest
  d.replace(0, std::min(text.size(), kNameOffset - 1), text);
  // The extension keeps its NUL before the last byte.
  const std::size_t room = kDescriptorSize - 1 - kNameOffset;
  if (!extension.empty())
    d.replace(kNameOffset, std::min(extension.size(), room - 1), extension.substr(0, room - 1));
  if (json_type != 0)
    d[kDescriptorSize - 1] = static_cast<char>(json_type);
  return d;
}

std::string json_head(std::uint32_t type, std::size_t body_size) {
  return packet_head(type, body_descriptor(body_size, {}, static_cast<std::uint8_t>(type)));
}

std::string file_head(std::string_view extension, std::size_t body_size) {
  return packet_head(kFile, body_descriptor(body_size, extension, 0));
}

std::string number_packet(long long n) {
  return packet_head(kNumber, std::to_string(n));
}

std::string hello_packet(std::string_view secret) {
  return packet_head(kHello, secret);
}

std::string board_request() {
  return packet_head(kJson, {});
}

std::string keepalive(bool answer) {
  std::string head = packet_head(kKeepAlive, {});
  // A ping says a length but brings no descriptor: that is how the PC tells
  // a ping from an answer.
  if (!answer)
    wirebytes::put_be16(reinterpret_cast<std::uint8_t*>(head.data()) + 2, 1);
  return head;
}

std::vector<std::string> queued_pieces(std::string head, std::string_view body) {
  std::vector<std::string> pieces;
  pieces.reserve(1 + (body.size() + kPieceSize - 1) / kPieceSize);
  pieces.push_back(std::move(head));
  for (std::size_t at = 0; at < body.size(); at += kPieceSize)
    pieces.emplace_back(body.substr(at, kPieceSize));
  return pieces;
}

// ---- reading ----

std::optional<long long> descriptor_number(std::string_view descriptor) {
  std::string_view text = until_nul(descriptor);
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), is_digit))
    return std::nullopt;
  long long value = 0;
  for (char c : text)
    value = value * 10 + (c - '0');
  return negative ? -value : value;
}

std::string descriptor_extension(std::string_view descriptor) {
  if (descriptor.size() <= kNameOffset)
    return {};
  const std::string_view name = until_nul(descriptor.substr(kNameOffset));
  if (name.size() < 2 || name.size() >= kMaxExtension || name.front() != '.')
    return {};
  std::string ext(1, '.');
  for (char c : name.substr(1)) {
    if (!std::isalnum(static_cast<unsigned char>(c)))
      return {};
    ext += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return ext;
}

bool json_depth_within(std::string_view json, int max_depth) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      if (++depth > max_depth)
        return false;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return true;
}

void stream_reader::feed(const char* data, std::size_t size) {
  if (failed_ || size == 0)
    return;
  compact();
  buffer_.append(data, size);
}

void stream_reader::compact() {
  // Taken bytes are dropped once they are the larger part, so a long stream
  // neither grows the buffer nor moves it byte by byte.
  if (at_ > 0 && at_ >= buffer_.size() - at_) {
    buffer_.erase(0, at_);
    at_ = 0;
  }
}

stream_reader::result stream_reader::fail(std::string why) {
  failed_ = true;
  error_ = std::move(why);
  buffer_.clear();
  buffer_.shrink_to_fit();
  at_ = 0;
  wanted_ = 0;
  return result::failed;
}

stream_reader::result stream_reader::next(packet& out) {
  if (failed_)
    return result::failed;
  for (;;) {
    const std::size_t have = buffer_.size() - at_;
    if (have < kHeaderSize) {
      wanted_ = have == 0 ? 0 : kHeaderSize - have;
      return result::need_more;
    }
    const auto* head = reinterpret_cast<const std::uint8_t*>(buffer_.data() + at_);
    const std::uint16_t length = wirebytes::get_be16(head + 2);
    const std::uint32_t type = wirebytes::get_be32(head + 4);

    if (type == kKeepAlive || length == 0) {
      // A keep-alive never brings its descriptor; a zero length brings nothing.
      at_ += kHeaderSize;
      wanted_ = 0;
      if (type != kKeepAlive && type != kJson)
        continue;  // nothing to say
      out = packet{};
      out.type = type;
      out.length = length;
      return result::packet;
    }
    if (length > kMaxDescriptor)
      return fail("descriptor of " + std::to_string(length) + " bytes (at most " +
                  std::to_string(kMaxDescriptor) + ")");
    if (have < kHeaderSize + length) {
      wanted_ = kHeaderSize + length - have;
      return result::need_more;
    }
    const std::string_view descriptor(buffer_.data() + at_ + kHeaderSize, length);

    if (type == kHello || type == kNumber) {
      std::optional<long long> number;
      if (type == kNumber && !(number = descriptor_number(descriptor)))
        return fail("number packet without a number");
      out = packet{};
      out.type = type;
      out.length = length;
      out.descriptor = std::string(descriptor);
      out.number = number.value_or(0);
      at_ += kHeaderSize + length;
      wanted_ = 0;
      return result::packet;
    }
    if (type != kFile && type != kJson && type != kRoomJson) {
      at_ += kHeaderSize + length;  // unknown: skipped whole
      continue;
    }
    const auto size = descriptor_number(descriptor);
    if (!size)
      return fail("body size is not a number");
    if (*size < 0)
      return fail("negative body size");
    const std::uint64_t cap = type == kFile ? kMaxFileBody : kMaxJsonBody;
    if (std::uint64_t(*size) > cap)
      return fail("body of " + std::to_string(*size) + " bytes (at most " + std::to_string(cap) +
                  ")");
    const std::size_t whole = kHeaderSize + length + std::size_t(*size);
    if (have < whole) {
      wanted_ = whole - have;
      if (buffer_.capacity() < at_ + whole)
        buffer_.reserve(at_ + whole);
      return result::need_more;
    }
    if (*size == 0) {
      at_ += whole;  // an empty body: the packet is skipped
      continue;
    }
    out = packet{};
    out.type = type;
    out.length = length;
    out.descriptor = std::string(descriptor);
    out.body.assign(buffer_, at_ + kHeaderSize + length, std::size_t(*size));
    if (type == kFile)
      out.extension = descriptor_extension(descriptor);
    at_ += whole;
    wanted_ = 0;
    return result::packet;
  }
}

// ---- pairing ----

std::string pairing_text(const std::string& hosts, std::uint16_t port, const std::string& secret) {
  std::string text = hosts + ":" + std::to_string(port);
  if (!secret.empty())
    text += ":" + secret;
  return text;
}

std::optional<pairing> parse_pairing(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  const auto first = text.find(':');
  if (first == std::string_view::npos || first == 0)
    return std::nullopt;
  pairing p;
  std::string_view hosts = text.substr(0, first);
  std::string_view rest = text.substr(first + 1);
  const auto second = rest.find(':');
  const std::string_view port = rest.substr(0, second);
  if (second != std::string_view::npos)
    p.secret = std::string(rest.substr(second + 1));
  if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), is_digit))
    return std::nullopt;
  const int value = std::stoi(std::string(port));
  if (value < 1 || value > 65535)
    return std::nullopt;
  p.port = static_cast<std::uint16_t>(value);
  while (!hosts.empty()) {
    const auto comma = hosts.find(',');
    const std::string_view host = hosts.substr(0, comma);
    if (!host.empty())
      p.hosts.emplace_back(host);
    if (comma == std::string_view::npos)
      break;
    hosts.remove_prefix(comma + 1);
  }
  if (p.hosts.empty())
    return std::nullopt;
  return p;
}

bool valid_secret(std::string_view secret) {
  return secret.size() == 32 && std::all_of(secret.begin(), secret.end(), is_lower_hex);
}

bool same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace phonewire
