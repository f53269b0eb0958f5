// The phone assistant link's packets, as both ends read and write them: the
// classroom's server and the phone app use this one codec.
//
// Every packet starts with an 8-byte header: 2 reserved bytes, the
// descriptor length L (u16, big-endian), the packet type (u32, big-endian).
// L descriptor bytes follow. Files and JSON carry a 31-byte descriptor whose
// first bytes are the body length as decimal text (NUL-terminated); a file's
// extension (".png") is at offset 20, and a JSON packet repeats its type in
// the last byte. The body follows the descriptor as raw bytes.
//
// A phone's first packet is a hello carrying the pairing secret that the
// classroom put into its QR code; nothing else is read from a connection
// before the secret is known to be right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phonewire {

enum packet_type : std::uint32_t {
  kHello = 1,       // phone -> PC, first: the descriptor is the pairing secret
  kFile = 3,        // both: a file (a photo, the page shown)
  kJson = 4,        // both: a board message; phone -> PC with L = 0 asks for the board
  kNumber = 5,      // PC -> phone: a decimal number as the descriptor (the rights code)
  kRoomJson = 6,    // both: share control and room messages
  kKeepAlive = 10,  // both: the PC answers a non-zero length with a zero one
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kDescriptorSize = 31;
constexpr std::size_t kNameOffset = 20;
// Bodies are queued to the socket in pieces of at most this many bytes.
constexpr std::size_t kPieceSize = 4096;

// What a reader accepts; beyond it the connection is dropped before anything
// is allocated for the oversized part.
constexpr std::size_t kMaxDescriptor = 256;
constexpr std::uint64_t kMaxJsonBody = 1u << 20;   // 1 MiB
constexpr std::uint64_t kMaxFileBody = 32u << 20;  // 32 MiB
constexpr int kMaxJsonDepth = 32;
constexpr std::size_t kMaxExtension = 10;  // ".jpeg" and the like, dot included

// ---- writing ----

// Header and descriptor: what goes first on the wire, as one buffer of 8 + L bytes.
std::string packet_head(std::uint32_t type, std::string_view descriptor);
// The 31-byte descriptor of a body of size bytes; extension for files (at
// offset 20, cut to fit), json_type for JSON packets (in the last byte, 0 for none).
std::string body_descriptor(std::uint64_t size, std::string_view extension, std::uint8_t json_type);
// The heads of the body-carrying packets.
std::string json_head(std::uint32_t type, std::size_t body_size);  // type 4 or 6
std::string file_head(std::string_view extension, std::size_t body_size);
// Complete packets without a body.
std::string number_packet(long long n);
std::string hello_packet(std::string_view secret);
std::string board_request();         // type 4 with L = 0
std::string keepalive(bool answer);  // a ping (L = 1, no descriptor follows) or the answer (L = 0)
// A packet as the writer queues it: the head, then the body in pieces of at
// most kPieceSize bytes. An empty body gives the head alone.
std::vector<std::string> queued_pieces(std::string head, std::string_view body);

// ---- reading ----

struct packet {
  std::uint32_t type = 0;
  std::uint16_t length = 0;  // the header's descriptor length
  std::string descriptor;    // hello: the secret
  std::string body;          // files and JSON
  std::string extension;     // files: a plain extension (".png"), or empty when it was not one
  long long number = 0;      // type 5
  bool board_request() const { return type == kJson && length == 0; }
};

// Reads packets from a byte stream, however the bytes are cut. Bounded:
// descriptors up to kMaxDescriptor, JSON bodies up to kMaxJsonBody, files up
// to kMaxFileBody; a size that is not a decimal number, a negative size, an
// oversized part, or a number packet that is not a number fails the stream
// (the connection must end). A body size of 0 skips the packet. Types it
// does not know are skipped with their descriptor.
class stream_reader {
public:
  enum class result { packet, need_more, failed };

  void feed(const char* data, std::size_t size);
  void feed(std::string_view bytes) { feed(bytes.data(), bytes.size()); }
  // The next whole packet; failed stays failed.
  result next(packet& out);
  const std::string& error() const { return error_; }
  // Bytes received and not yet taken as a packet.
  std::size_t buffered() const { return buffer_.size() - at_; }
  // Bytes still missing for the packet begun (0 when between packets or not known yet).
  std::size_t wanted() const { return wanted_; }

private:
  result fail(std::string why);
  void compact();

  std::string buffer_;
  std::size_t at_ = 0;
  std::size_t wanted_ = 0;
  bool failed_ = false;
  std::string error_;
};

// The decimal text at the start of a descriptor (up to its first NUL):
// nullopt when it is not an optional minus and 1..19 digits.
std::optional<long long> descriptor_number(std::string_view descriptor);
// The extension a descriptor names at offset 20, when it is a dot and 1..9
// letters or digits (lower-cased); else empty. So a name never leaves its folder.
std::string descriptor_extension(std::string_view descriptor);
// Whether JSON text nests objects and arrays no deeper than max_depth
// (strings and escapes are skipped; the text is not validated otherwise).
bool json_depth_within(std::string_view json, int max_depth);

// ---- pairing ----

// What the QR code holds: "HOST[,HOST...]:PORT:SECRET". The first two fields
// are the addresses and port; the secret is appended so a reader that knows
// only "%1:%2" still finds host and port.
struct pairing {
  std::vector<std::string> hosts;
  std::uint16_t port = 0;
  std::string secret;
};
std::string pairing_text(const std::string& hosts, std::uint16_t port, const std::string& secret);
std::optional<pairing> parse_pairing(std::string_view text);
// A secret as the classroom makes them: 32 lowercase hexadecimal digits.
bool valid_secret(std::string_view secret);
// Compares without stopping at the first difference.
bool same_secret(std::string_view a, std::string_view b);

}  // namespace phonewire
