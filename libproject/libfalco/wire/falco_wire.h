// Wire format between libfalco and the conversion server (tav-convert). Pure functions:
// no I/O, every length checked before it is read.
//
// One TCP connection per document. Every frame is a 4-byte big-endian length (type byte
// plus payload), the type byte, then the payload:
//
//   client                                  server
//   submit(user, room, size, credential, name) ->
//                                           <- accepted            (or error, then close)
//   data(bytes) ... until `size` bytes    ->
//                                           <- working(stage)      every few seconds
//                                           <- page(1, total, png) ... page(total, ...)
//                                           <- done(total)         (or error, then close)
//
// The client sends nothing after its data: anything it sends later, or closing the
// connection, cancels the job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wirebytes/frames.h"

namespace falco::wire {

constexpr std::uint16_t kProtocolVersion = 1;
constexpr std::size_t kLengthSize = wirebytes::kFrameLengthSize;
constexpr std::size_t kHeaderSize = wirebytes::kFrameHeaderSize;
// A data frame carries at most this many document bytes.
constexpr std::size_t kMaxDataChunk = 64 * 1024;
// Frames the server accepts from a client: a submit or one data chunk.
constexpr std::uint32_t kMaxClientFrame = kMaxDataChunk + 1;
// A page frame's PNG is at most this big; the client accepts frames up to kMaxServerFrame.
constexpr std::size_t kMaxPngBytes = 32u * 1024 * 1024;
constexpr std::uint32_t kMaxServerFrame = kMaxPngBytes + 1 + 8;
constexpr std::size_t kMaxCredentialLength = 255;  // printable ASCII
constexpr std::size_t kMaxNameLength = 255;        // the document's file name, any bytes but NUL
constexpr std::size_t kMaxReasonLength = 200;

enum class FrameType : std::uint8_t {
  submit = 1,    // client: the job
  data = 2,      // client: document bytes
  accepted = 3,  // server: the job is taken, send the data
  working = 4,   // server: still busy (stage), also tells the client the server lives
  page = 5,      // server: one rendered page
  done = 6,      // server: every page was sent
  error = 7,     // server: the job ended without its pages; the server closes
};

enum class Stage : std::uint8_t {
  waiting = 1,     // for a free converter
  converting = 2,  // office document to PDF
  rendering = 3,   // PDF pages to PNG
};

// Why a job ended. libfalco reports the document's own faults as fc_error_convert and
// the others (refusals, a busy or stopping server, a broken protocol) as fc_error_network.
enum class ErrorCode : std::uint16_t {
  protocol = 1,            // malformed or unexpected frame
  version = 2,             // protocol version not spoken
  credential_refused = 3,  // no credential, or not one the service issued for user and room
  not_allowed = 4,         // the credential's role may not convert documents
  too_large = 5,           // the document is above the size limit
  busy = 6,                // too many jobs: try again later
  unsupported = 7,         // not a document type the server converts, or content not of it
  convert_failed = 8,      // the converter could not read the document
  too_many_pages = 9,      // above the page limit
  timed_out = 10,          // the converter took longer than the time limit
  encrypted = 11,          // password-protected
  shutting_down = 12,
  internal = 13,  // the server's own fault (disk, tools missing)
};

// True for codes caused by the document itself.
bool is_document_error(ErrorCode code);
const char* to_string(ErrorCode code);

using Frame = wirebytes::typed_frame<FrameType>;  // payload points into the decoded buffer

// ok: every complete frame taken, what is left is an incomplete frame; empty: length 0;
// oversize: length above the limit given; unknown_type: type byte outside FrameType. consumed
// counts the bytes of the complete frames put into out.
using DecodeStatus = wirebytes::frame_status;
using DecodeResult = wirebytes::frame_split;
using wirebytes::to_string;

// Splits bytes into complete frames whose length field is at most max_length. On an
// error the frames before the bad one are in out and consumed covers them.
DecodeResult decode_frames(std::string_view bytes, std::uint32_t max_length,
                           std::vector<Frame>& out);

struct Submit {
  std::uint16_t version = kProtocolVersion;
  std::uint32_t user_id = 0;
  std::uint32_t room_id = 0;
  std::uint64_t size = 0;       // document bytes that follow in data frames, at least 1
  std::string_view credential;  // the room credential the service issued: 0..255 printable
  std::string_view name;        // the document's file name, 1..255 bytes without NUL
};

struct Page {
  std::uint32_t index = 0;  // 1..total
  std::uint32_t total = 0;
  std::string_view png;  // 1..kMaxPngBytes
};

struct Error {
  ErrorCode code = ErrorCode::internal;
  std::string_view reason;  // at most kMaxReasonLength bytes, for logs
};

// Whole frames, header included.
std::string encode_frame(FrameType type, std::string_view payload);
std::string encode_submit(const Submit& submit);
std::string encode_data(std::string_view bytes);
std::string encode_accepted();
std::string encode_working(Stage stage);
std::string encode_page(const Page& page);
std::string encode_done(std::uint32_t total);
std::string encode_error(ErrorCode code, std::string_view reason);

// Payload decoders: nullopt when the payload is short, long or inconsistent.
std::optional<Submit> decode_submit(std::string_view payload);
std::optional<Stage> decode_working(std::string_view payload);
std::optional<Page> decode_page(std::string_view payload);
std::optional<std::uint32_t> decode_done(std::string_view payload);
std::optional<Error> decode_error(std::string_view payload);

bool valid_credential(std::string_view credential);
bool valid_name(std::string_view name);

}  // namespace falco::wire
