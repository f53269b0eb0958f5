#include "falco_wire.h"

#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace falco::wire {

using wirebytes::string_reader;
using wirebytes::string_writer;

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
  return wirebytes::split_frames(bytes, max_length, FrameType::submit, FrameType::error, out);
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
  return wirebytes::frame(type, payload);
}

std::string encode_submit(const Submit& s) {
  std::string out = wirebytes::frame_header(
      FrameType::submit, 2 + 4 + 4 + 8 + 2 + s.credential.size() + 2 + s.name.size());
  string_writer(out)
      .u16(s.version)
      .u32(s.user_id)
      .u32(s.room_id)
      .u64(s.size)
      .u16(static_cast<std::uint16_t>(s.credential.size()))
      .bytes(s.credential)
      .u16(static_cast<std::uint16_t>(s.name.size()))
      .bytes(s.name);
  return out;
}

std::string encode_data(std::string_view bytes) {
  return encode_frame(FrameType::data, bytes);
}

std::string encode_accepted() {
  return encode_frame(FrameType::accepted, {});
}

std::string encode_working(Stage stage) {
  std::string out = wirebytes::frame_header(FrameType::working, 1);
  string_writer(out).u8(static_cast<std::uint8_t>(stage));
  return out;
}

std::string encode_page(const Page& page) {
  std::string out = wirebytes::frame_header(FrameType::page, 8 + page.png.size());
  string_writer(out).u32(page.index).u32(page.total).bytes(page.png);
  return out;
}

std::string encode_done(std::uint32_t total) {
  std::string out = wirebytes::frame_header(FrameType::done, 4);
  string_writer(out).u32(total);
  return out;
}

std::string encode_error(ErrorCode code, std::string_view reason) {
  reason = reason.substr(0, kMaxReasonLength);
  std::string out = wirebytes::frame_header(FrameType::error, 2 + reason.size());
  string_writer(out).u16(static_cast<std::uint16_t>(code)).bytes(reason);
  return out;
}

// Fields in braces are read in the order written.
std::optional<Submit> decode_submit(std::string_view payload) {
  string_reader r(payload);
  const Submit s{r.u16(), r.u32(), r.u32(), r.u64(), r.text16(), r.text16()};
  if (!r.done() || s.size == 0 || (!s.credential.empty() && !valid_credential(s.credential)) ||
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
  string_reader r(payload);
  const Page page{r.u32(), r.u32(), r.rest()};
  if (!r.ok() || page.index == 0 || page.index > page.total || page.png.empty() ||
      page.png.size() > kMaxPngBytes)
    return std::nullopt;
  return page;
}

std::optional<std::uint32_t> decode_done(std::string_view payload) {
  string_reader r(payload);
  const std::uint32_t total = r.u32();
  if (!r.done() || total == 0)
    return std::nullopt;
  return total;
}

std::optional<Error> decode_error(std::string_view payload) {
  string_reader r(payload);
  const auto code = static_cast<ErrorCode>(r.u16());
  const std::string_view reason = r.rest();
  if (!r.ok() || reason.size() > kMaxReasonLength)
    return std::nullopt;
  return Error{code, reason};
}

}  // namespace falco::wire
