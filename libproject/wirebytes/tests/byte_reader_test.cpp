#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wirebytes/byte_reader.h"

namespace {

using wirebytes::byte_reader;

TEST(ByteReader, ReadsFieldsInNetworkOrderAndKnowsWhenItIsDone) {
  const uint8_t packet[] = {0x7f, 0x12, 0x34, 0xde, 0xad, 0xbe, 0xef, 0xaa, 0xbb};
  byte_reader r(packet, sizeof packet);
  EXPECT_EQ(r.u8(), 0x7f);
  EXPECT_EQ(r.u16(), 0x1234);
  EXPECT_EQ(r.u32(), 0xdeadbeefu);
  EXPECT_EQ(r.position(), 7u);
  EXPECT_FALSE(r.done());
  const uint8_t* tail = r.bytes(2);
  ASSERT_EQ(tail, packet + 7);
  EXPECT_TRUE(r.done());
  EXPECT_TRUE(r.ok());
}

TEST(ByteReader, LittleEndianFields) {
  const uint8_t packet[] = {0x34, 0x12, 0xef, 0xbe, 0xad, 0xde};
  byte_reader r(packet, sizeof packet);
  EXPECT_EQ(r.le16(), 0x1234);
  EXPECT_EQ(r.le32(), 0xdeadbeefu);
  EXPECT_TRUE(r.done());
}

// A packet cut short: the field that does not fit reads as 0, and so does everything after it,
// also what would fit on its own, so a parser cannot resynchronise on garbage.
TEST(ByteReader, AReadPastTheEndFailsAndEveryLaterReadFailsToo) {
  const uint8_t packet[] = {0, 0, 0, 9, 1, 2, 3};
  byte_reader r(packet, sizeof packet);
  EXPECT_EQ(r.u32(), 9u);
  EXPECT_EQ(r.u32(), 0u);  // three bytes left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.position(), 4u);
  EXPECT_EQ(r.remaining(), 0u);
  EXPECT_EQ(r.u8(), 0u);
  EXPECT_EQ(r.bytes(1), nullptr);
  EXPECT_FALSE(r.skip(1));
  EXPECT_EQ(r.here(), nullptr);
  EXPECT_FALSE(r.done());
}

TEST(ByteReader, LengthFieldsLargerThanThePacketAreRefused) {
  const uint8_t packet[] = {0xff, 0xff, 1, 2, 3};
  byte_reader r(packet, sizeof packet);
  const uint16_t length = r.u16();
  EXPECT_FALSE(r.has(length));
  EXPECT_EQ(r.bytes(length), nullptr);
  EXPECT_FALSE(r.ok());

  // Sizes near the top of size_t do not wrap around the check.
  byte_reader huge(packet, sizeof packet);
  huge.u8();
  EXPECT_FALSE(huge.skip(static_cast<std::size_t>(-1)));
  EXPECT_EQ(huge.position(), 1u);
}

TEST(ByteReader, NullDataReadsAsEmpty) {
  byte_reader r(nullptr, 100);
  EXPECT_EQ(r.size(), 0u);
  EXPECT_TRUE(r.done());
  EXPECT_TRUE(r.skip(0));
  EXPECT_EQ(r.u8(), 0u);
  EXPECT_FALSE(r.ok());
}

// Over a string: byte fields are views into it, and a length past the end fails the reader
// without handing out any of what is there.
TEST(StringReader, FieldsAndViewsIntoTheTextUntilALengthDoesNotFit) {
  const std::string packet("\x01\x02\x03\x04\x05\x06\x07\x08\x00\x02hi\x00\x09tail", 18);
  wirebytes::string_reader r(packet);
  EXPECT_EQ(r.u64(), 0x0102030405060708u);
  const std::string_view hi = r.text16();
  EXPECT_EQ(hi, "hi");
  EXPECT_EQ(hi.data(), packet.data() + 10);
  EXPECT_EQ(r.text16(), "");  // says 9, holds 4
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.rest(), "");

  wirebytes::string_reader whole(packet);
  whole.bytes(12);
  EXPECT_EQ(whole.rest(), std::string_view("\x00\x09tail", 6));
  EXPECT_TRUE(whole.done());
}

}  // namespace
