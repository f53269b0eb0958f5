#include "falco_wire.h"

#include <gtest/gtest.h>

namespace wire = falco::wire;

namespace {

std::vector<wire::Frame> decode_all(const std::string& bytes, std::uint32_t max,
                                    wire::DecodeResult* result = nullptr) {
  std::vector<wire::Frame> frames;
  const auto r = wire::decode_frames(bytes, max, frames);
  if (result)
    *result = r;
  return frames;
}

}  // namespace

TEST(FalcoWire, SubmitRoundTripsWithAnyFileNameBytes) {
  wire::Submit submit;
  submit.user_id = 10001;
  submit.room_id = 1001;
  submit.size = 5ull << 32;  // sizes above 32 bits survive
  submit.credential = "1.10001.1001.1.123.abc";
  const std::string name = "教案 $(rm -rf ~); `x` & 'y'.docx";
  submit.name = name;
  const std::string bytes = wire::encode_submit(submit);
  const auto frames = decode_all(bytes, wire::kMaxClientFrame);
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].type, wire::FrameType::submit);
  const auto decoded = wire::decode_submit(frames[0].payload);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->user_id, 10001u);
  EXPECT_EQ(decoded->room_id, 1001u);
  EXPECT_EQ(decoded->size, 5ull << 32);
  EXPECT_EQ(decoded->credential, submit.credential);
  EXPECT_EQ(decoded->name, name);
}

TEST(FalcoWire, SubmitRefusesWhatTheServerCannotUse) {
  wire::Submit good;
  good.size = 1;
  good.credential = "c";
  good.name = "a.pdf";
  const auto payload_of = [](const wire::Submit& s) {
    return wire::encode_submit(s).substr(wire::kHeaderSize);
  };
  ASSERT_TRUE(wire::decode_submit(payload_of(good)));

  wire::Submit zero = good;
  zero.size = 0;
  EXPECT_FALSE(wire::decode_submit(payload_of(zero)));
  wire::Submit unprintable = good;
  unprintable.credential = "a\nb";
  EXPECT_FALSE(wire::decode_submit(payload_of(unprintable)));
  const std::string nul_name("a\0.pdf", 6);
  wire::Submit bad_name = good;
  bad_name.name = nul_name;
  EXPECT_FALSE(wire::decode_submit(payload_of(bad_name)));
  // A length that points past the end, and trailing bytes.
  const std::string p = payload_of(good);
  EXPECT_FALSE(wire::decode_submit(p.substr(0, p.size() - 1)));
  EXPECT_FALSE(wire::decode_submit(p + "x"));
}

TEST(FalcoWire, FramesSplitAnywhereAndBadHeadersAreJudgedAtOnce) {
  const std::string png = "\x89PNG....";
  const std::string stream =
      wire::encode_accepted() + wire::encode_working(wire::Stage::rendering) +
      wire::encode_page({1, 2, png}) + wire::encode_page({2, 2, png}) + wire::encode_done(2);
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    wire::DecodeResult head;
    auto frames = decode_all(stream.substr(0, cut), wire::kMaxServerFrame, &head);
    ASSERT_EQ(head.status, wire::DecodeStatus::ok);
    const std::string rest = stream.substr(head.consumed);
    const auto tail = decode_all(rest, wire::kMaxServerFrame);
    frames.insert(frames.end(), tail.begin(), tail.end());
    ASSERT_EQ(frames.size(), 5u) << "cut at " << cut;
    EXPECT_EQ(frames[4].type, wire::FrameType::done);
  }
  const std::string one = wire::encode_page({2, 2, png});
  const auto page = wire::decode_page(decode_all(one, wire::kMaxServerFrame)[0].payload);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->png, png);

  // A client may not announce a frame of page size: refused from the four length bytes.
  wire::DecodeResult r;
  decode_all(std::string("\x00\x10\x00\x10", 4), wire::kMaxClientFrame, &r);
  EXPECT_EQ(r.status, wire::DecodeStatus::oversize);
  decode_all(std::string("\x00\x00\x00\x00", 4), wire::kMaxClientFrame, &r);
  EXPECT_EQ(r.status, wire::DecodeStatus::empty);
  decode_all(std::string("\x00\x00\x00\x01\x63", 5), wire::kMaxClientFrame, &r);
  EXPECT_EQ(r.status, wire::DecodeStatus::unknown_type);
}

TEST(FalcoWire, PagesAndErrorsAreChecked) {
  const auto payload = [](const std::string& frame) { return frame.substr(wire::kHeaderSize); };
  EXPECT_FALSE(wire::decode_page(payload(wire::encode_page({0, 2, "x"}))));
  EXPECT_FALSE(wire::decode_page(payload(wire::encode_page({3, 2, "x"}))));
  EXPECT_FALSE(wire::decode_page(payload(wire::encode_page({1, 2, ""}))));
  EXPECT_FALSE(wire::decode_done(payload(wire::encode_done(0))));
  const auto error = wire::decode_error(
      payload(wire::encode_error(wire::ErrorCode::encrypted, std::string(500, 'r'))));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, wire::ErrorCode::encrypted);
  EXPECT_EQ(error->reason.size(), wire::kMaxReasonLength);
  EXPECT_TRUE(wire::is_document_error(wire::ErrorCode::encrypted));
  EXPECT_TRUE(wire::is_document_error(wire::ErrorCode::too_many_pages));
  EXPECT_FALSE(wire::is_document_error(wire::ErrorCode::credential_refused));
  EXPECT_FALSE(wire::is_document_error(wire::ErrorCode::busy));
}
