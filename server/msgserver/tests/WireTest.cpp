// The wire codec shared by libcorda and the server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msg_wire.h"

namespace {

namespace wire = corda::wire;

TEST(WireTest, StreamDecodesTheSameWhereverItIsCut) {
  const std::string stream = wire::encode_hello({1, 42, 7}) +
                             wire::encode_send("*", R"({"typeId":"0"})") +
                             wire::encode_frame(wire::FrameType::ping, "") +
                             wire::encode_deliver({42, 7, "4294967295", std::string("a\0b", 3)});
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    std::string buffer = stream.substr(0, cut);
    std::vector<wire::Frame> frames;
    auto first = wire::decode_frames(buffer, frames);
    ASSERT_EQ(first.status, wire::DecodeStatus::ok);
    std::vector<std::pair<wire::FrameType, std::string>> got;
    for (const auto& f : frames)
      got.emplace_back(f.type, std::string(f.payload));
    buffer.erase(0, first.consumed);
    buffer += stream.substr(cut);
    frames.clear();
    auto second = wire::decode_frames(buffer, frames);
    ASSERT_EQ(second.status, wire::DecodeStatus::ok);
    ASSERT_EQ(second.consumed, buffer.size());
    for (const auto& f : frames)
      got.emplace_back(f.type, std::string(f.payload));
    ASSERT_EQ(got.size(), 4u) << "cut at " << cut;
    const auto hello = wire::decode_hello(got[0].second);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->user_id, 42u);
    const auto send = wire::decode_send(got[1].second);
    ASSERT_TRUE(send);
    EXPECT_EQ(send->target, "*");
    const auto deliver = wire::decode_deliver(got[3].second);
    ASSERT_TRUE(deliver);
    EXPECT_EQ(deliver->text, std::string("a\0b", 3));
  }
}

TEST(WireTest, RejectsBadHeadersAsSoonAsTheyAreComplete) {
  std::vector<wire::Frame> frames;
  const std::string good = wire::encode_frame(wire::FrameType::pong, "x");
  // Only the length of an oversize frame has arrived: no need to wait for the rest.
  auto r = wire::decode_frames(good + std::string("\x00\x10\x00\x01", 4), frames);
  EXPECT_EQ(r.status, wire::DecodeStatus::oversize);
  EXPECT_EQ(r.consumed, good.size());
  EXPECT_EQ(frames.size(), 1u);
  EXPECT_EQ(wire::decode_frames(std::string("\0\0\0\0", 4), frames).status,
            wire::DecodeStatus::empty);
  EXPECT_EQ(wire::decode_frames(std::string("\0\0\0\1\x08", 5), frames).status,
            wire::DecodeStatus::unknown_type);
  // The largest allowed length is waited for, not refused.
  r = wire::decode_frames(std::string("\x00\x10\x00\x00\x03", 5), frames);
  EXPECT_EQ(r.status, wire::DecodeStatus::ok);
  EXPECT_EQ(r.consumed, 0u);
}

TEST(WireTest, PayloadsAreCheckedBeforeTheyAreRead) {
  EXPECT_FALSE(wire::decode_hello(std::string(9, '\0')));
  EXPECT_FALSE(wire::decode_hello(std::string(11, '\0')));
  EXPECT_FALSE(
      wire::decode_send(std::string("\x00\x05"
                                    "12",
                                    4)));  // target past the end
  EXPECT_FALSE(
      wire::decode_send(std::string("\x00\x0b"
                                    "12345678901",
                                    13)));  // target too long
  EXPECT_FALSE(wire::decode_deliver(std::string(9, '\0')));
  EXPECT_FALSE(wire::decode_close(std::string(1, '\0')));

  // The longest text a client may send still fits once wrapped for delivery.
  const std::string longest(wire::kMaxTextLength, 'x');
  const std::string deliver = wire::encode_deliver({1, 2, "4294967295", longest});
  std::vector<wire::Frame> frames;
  EXPECT_EQ(wire::decode_frames(deliver, frames).consumed, deliver.size());
  const std::string send = wire::encode_send("*", longest + "x");
  frames.clear();
  ASSERT_EQ(wire::decode_frames(send, frames).consumed, send.size());
  EXPECT_FALSE(wire::decode_send(frames[0].payload));
}

TEST(WireTest, HelloCarriesACredentialOrNone) {
  // The short form of the first version still reads, as a hello without credential.
  const std::string short_form = wire::encode_hello({1, 42, 7});
  ASSERT_EQ(short_form.size(), wire::kHeaderSize + wire::kShortHelloSize);
  std::vector<wire::Frame> frames;
  ASSERT_EQ(wire::decode_frames(short_form, frames).consumed, short_form.size());
  auto hello = wire::decode_hello(frames[0].payload);
  ASSERT_TRUE(hello);
  EXPECT_TRUE(hello->credential.empty());

  const std::string credential = "1.42.7.2.1700000000000." + std::string(64, 'a');
  const std::string long_form = wire::encode_hello({1, 42, 7, credential});
  frames.clear();
  ASSERT_EQ(wire::decode_frames(long_form, frames).consumed, long_form.size());
  hello = wire::decode_hello(frames[0].payload);
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->user_id, 42u);
  EXPECT_EQ(hello->channel_id, 7u);
  EXPECT_EQ(hello->credential, credential);

  auto with_length = [&](std::uint16_t length, const std::string& text) {
    std::string payload(frames[0].payload.substr(0, wire::kShortHelloSize));
    payload.push_back(static_cast<char>(length >> 8));
    payload.push_back(static_cast<char>(length & 0xff));
    return wire::decode_hello(payload + text);
  };
  EXPECT_TRUE(with_length(3, "abc"));
  EXPECT_FALSE(with_length(0, ""));      // the empty credential has the short form only
  EXPECT_FALSE(with_length(4, "abc"));   // length past the end
  EXPECT_FALSE(with_length(2, "abc"));   // bytes after the credential
  EXPECT_FALSE(with_length(3, "a\nc"));  // not printable
  EXPECT_FALSE(with_length(3, "a\xc3\xa9"));
  EXPECT_TRUE(with_length(255, std::string(255, '~')));
  EXPECT_FALSE(with_length(256, std::string(256, '~')));
  EXPECT_FALSE(wire::decode_hello(std::string(frames[0].payload.substr(0, 11))));  // half a length
}

TEST(WireTest, TargetsAreStarOrUnsigned32BitDecimals) {
  EXPECT_TRUE(wire::valid_target("*"));
  EXPECT_EQ(wire::target_user("0"), 0u);
  EXPECT_EQ(wire::target_user("4294967295"), 4294967295u);
  for (const char* bad : {"", "**", "4294967296", "99999999999", "-1", "+1", " 1", "1a"})
    EXPECT_FALSE(wire::valid_target(bad)) << bad;
}

}  // namespace
