#include <gtest/gtest.h>

#include <vector>

#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace {

using bytes = std::vector<uint8_t>;

TEST(ByteWriter, AppendsAfterWhatTheVectorHolds) {
  bytes out{0xaa};
  const uint8_t tail[] = {7, 8};
  wirebytes::byte_writer(out)
      .u8(1)
      .u16(0x0203)
      .u32(0x04050607)
      .le16(0x0908)
      .le32(0x0d0c0b0a)
      .bytes(tail, sizeof tail);
  EXPECT_EQ(out, (bytes{0xaa, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0a, 0x0b, 0x0c, 0x0d, 7, 8}));
}

TEST(SpanWriter, FillsTheBufferExactly) {
  uint8_t buffer[7] = {};
  wirebytes::span_writer w(buffer, sizeof buffer);
  w.u8(0x80).u16(0xfffe).u32(0x01020304);
  EXPECT_TRUE(w.ok());
  EXPECT_EQ(w.position(), 7u);
  EXPECT_EQ(w.remaining(), 0u);
  EXPECT_EQ(bytes(buffer, buffer + 7), (bytes{0x80, 0xff, 0xfe, 1, 2, 3, 4}));
}

// A field that does not fit is not written in part, and nothing after it lands either.
TEST(SpanWriter, RefusesWhatDoesNotFitAndWritesNothingAfterIt) {
  uint8_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 0xee);
  wirebytes::span_writer w(buffer, 6);
  w.u32(0x11223344).u32(0x55667788).u8(0x99);
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(w.position(), 4u);
  EXPECT_EQ(bytes(buffer, buffer + 8), (bytes{0x11, 0x22, 0x33, 0x44, 0xee, 0xee, 0xee, 0xee}));

  const uint8_t big[16] = {};
  uint8_t small[4] = {};
  wirebytes::span_writer copy(small, sizeof small);
  EXPECT_FALSE(copy.bytes(big, sizeof big).ok());
  EXPECT_FALSE(wirebytes::span_writer(small, 4).bytes(nullptr, 1).ok());
  EXPECT_FALSE(wirebytes::span_writer(nullptr, 4).u8(1).ok());
}

TEST(ByteWriter, WhatItWritesReadsBackAtTheLimitsOfEachWidth) {
  bytes out;
  wirebytes::byte_writer(out)
      .u8(0xff)
      .u16(0)
      .u16(0xffff)
      .u32(0x80000000u)
      .u32(0xffffffffu)
      .le32(0x80000001u);
  wirebytes::byte_reader r(out.data(), out.size());
  EXPECT_EQ(r.u8(), 0xff);
  EXPECT_EQ(r.u16(), 0);
  EXPECT_EQ(r.u16(), 0xffff);
  EXPECT_EQ(r.u32(), 0x80000000u);
  EXPECT_EQ(r.u32(), 0xffffffffu);
  EXPECT_EQ(r.le32(), 0x80000001u);
  EXPECT_TRUE(r.done());
}

TEST(StringWriter, AppendsToTheStringAndReadsBack) {
  std::string out = "x";
  wirebytes::string_writer(out).u64(0x8000000000000001u).u16(2).bytes(std::string_view("ab"));
  EXPECT_EQ(out, std::string("x\x80\0\0\0\0\0\0\x01\0\x02"
                             "ab",
                             13));
  wirebytes::string_reader r(std::string_view(out).substr(1));
  EXPECT_EQ(r.u64(), 0x8000000000000001u);
  EXPECT_EQ(r.text16(), "ab");
  EXPECT_TRUE(r.done());
}

}  // namespace
