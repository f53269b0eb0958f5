#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "phonewire/phone_packet.h"

namespace {

using phonewire::packet;
using phonewire::stream_reader;
using R = stream_reader::result;

std::vector<packet> readAll(stream_reader& reader) {
  std::vector<packet> out;
  packet p;
  while (reader.next(p) == R::packet)
    out.push_back(p);
  return out;
}

std::string header(std::uint16_t length, std::uint32_t type) {
  return phonewire::packet_head(type, std::string(length, 'x')).substr(0, phonewire::kHeaderSize);
}

TEST(PhonePacket, ALargeJsonBodyIsQueuedAsHeadThenPiecesAndReadBackByteByByte) {
  const std::string body = "{\"a\":\"" + std::string(10000 - 8, 'z') + "\"}";
  ASSERT_EQ(body.size(), 10000u);
  const auto pieces =
      phonewire::queued_pieces(phonewire::json_head(phonewire::kRoomJson, 10000), body);
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0].size(), 39u);
  EXPECT_EQ(pieces[1].size(), 4096u);
  EXPECT_EQ(pieces[2].size(), 4096u);
  EXPECT_EQ(pieces[3].size(), 1808u);
  // Length 31, type 6, the size text NUL-terminated, the type again in the last byte.
  EXPECT_EQ(pieces[0].substr(0, 8), std::string("\0\0\0\x1f\0\0\0\x06", 8));
  EXPECT_EQ(pieces[0].substr(8, 6), std::string("10000\0", 6));
  EXPECT_EQ(pieces[0].back(), '\x06');

  stream_reader reader;
  std::string wire;
  for (const auto& piece : pieces)
    wire += piece;
  wire += phonewire::number_packet(5) + phonewire::keepalive(false);
  std::vector<packet> got;
  for (char c : wire) {
    reader.feed(&c, 1);
    for (auto& p : readAll(reader))
      got.push_back(p);
  }
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].type, phonewire::kRoomJson);
  EXPECT_EQ(got[0].body, body);
  EXPECT_EQ(got[1].number, 5);
  EXPECT_EQ(got[2].type, phonewire::kKeepAlive);
  EXPECT_NE(got[2].length, 0) << "a ping, which the PC answers";
  EXPECT_EQ(reader.buffered(), 0u);
}

TEST(PhonePacket, HostileHeadersFailBeforeAnythingIsBuffered) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"1 GiB announced", phonewire::json_head(phonewire::kJson, 1u << 30)},
      {"4 GiB file", phonewire::packet_head(phonewire::kFile,
                                            phonewire::body_descriptor(4294967296ull, ".png", 0))},
      {"negative size", phonewire::packet_head(phonewire::kFile, std::string("-5\0", 3))},
      {"not a number", phonewire::packet_head(phonewire::kJson, std::string("12ab\0", 5))},
      {"descriptor without NUL", phonewire::packet_head(phonewire::kJson, "12345678\x04")},
      {"descriptor too long", header(4000, phonewire::kRoomJson)},
      {"number packet of letters", phonewire::packet_head(phonewire::kNumber, "five")},
  };
  for (const Case& c : cases) {
    stream_reader reader;
    reader.feed(c.bytes);
    packet p;
    EXPECT_EQ(reader.next(p), R::failed) << c.what;
    EXPECT_FALSE(reader.error().empty()) << c.what;
    EXPECT_EQ(reader.buffered(), 0u) << c.what;
    reader.feed(phonewire::number_packet(1));
    EXPECT_EQ(reader.next(p), R::failed) << c.what << ": failed stays failed";
  }
}

TEST(PhonePacket, EmptyBodiesUnknownTypesAndBoardRequestsFrameTheStreamRight) {
  stream_reader reader;
  reader.feed(phonewire::json_head(phonewire::kJson, 0));  // size 0: skipped
  reader.feed(phonewire::packet_head(77, "whatever"));     // unknown: skipped whole
  reader.feed(phonewire::board_request());                 // L = 0, type 4
  reader.feed(header(0, 99));                              // unknown, nothing follows
  reader.feed(phonewire::keepalive(true));                 // an answer, L = 0
  reader.feed(phonewire::hello_packet("0123456789abcdef0123456789abcdef"));
  const auto got = readAll(reader);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(got[0].board_request());
  EXPECT_EQ(got[1].type, phonewire::kKeepAlive);
  EXPECT_EQ(got[1].length, 0);
  EXPECT_EQ(got[2].type, phonewire::kHello);
  EXPECT_EQ(got[2].descriptor, "0123456789abcdef0123456789abcdef");
}

TEST(PhonePacket, FileNamesAreOnlyPlainExtensions) {
  auto extensionOf = [](const std::string& name) {
    stream_reader reader;
    reader.feed(phonewire::packet_head(phonewire::kFile, phonewire::body_descriptor(3, name, 0)));
    reader.feed("abc");
    packet p;
    EXPECT_EQ(reader.next(p), R::packet) << name;
    EXPECT_EQ(p.body, "abc");
    return p.extension;
  };
  EXPECT_EQ(extensionOf(".png"), ".png");
  EXPECT_EQ(extensionOf(".JPG"), ".jpg");
  EXPECT_EQ(extensionOf("../x"), "");
  EXPECT_EQ(extensionOf("./../"), "");
  EXPECT_EQ(extensionOf(".p/g"), "");
  EXPECT_EQ(extensionOf("photo.png"), "") << "a name, not an extension";
  EXPECT_EQ(extensionOf(""), "");
}

TEST(PhonePacket, PairingTextKeepsTheOldFormReadable) {
  const std::string secret = "00112233445566778899aabbccddeeff";
  const std::string text = phonewire::pairing_text("192.168.1.5,10.0.0.2", 2021, secret);
  EXPECT_EQ(text, "192.168.1.5,10.0.0.2:2021:" + secret);
  const auto p = phonewire::parse_pairing(text);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->hosts, (std::vector<std::string>{"192.168.1.5", "10.0.0.2"}));
  EXPECT_EQ(p->port, 2021);
  EXPECT_EQ(p->secret, secret);
  EXPECT_TRUE(phonewire::valid_secret(p->secret));

  const auto old = phonewire::parse_pairing(" 127.0.0.1:2020\n");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->port, 2020);
  EXPECT_TRUE(old->secret.empty());
  for (const char* bad : {"", ":2020", "host", "host:", "host:70000", "host:0", "host:20x0"})
    EXPECT_FALSE(phonewire::parse_pairing(bad)) << bad;
  EXPECT_FALSE(phonewire::valid_secret("00112233445566778899AABBCCDDEEFF"));
  EXPECT_TRUE(phonewire::same_secret(secret, secret));
  EXPECT_FALSE(phonewire::same_secret(secret, secret.substr(1) + "0"));
}

TEST(PhonePacket, JsonDepthIsCountedOutsideStrings) {
  EXPECT_TRUE(phonewire::json_depth_within(R"({"a":[{"b":"[[[[[[[[["}]})", 3));
  EXPECT_FALSE(phonewire::json_depth_within(R"({"a":[{"b":[1]}]})", 3));
  EXPECT_TRUE(phonewire::json_depth_within(R"({"a":"\"{{{{"})", 1));
  EXPECT_FALSE(phonewire::json_depth_within(std::string(33, '[') + std::string(33, ']'),
                                            phonewire::kMaxJsonDepth));
}

}  // namespace
