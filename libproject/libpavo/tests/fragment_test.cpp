#include <gtest/gtest.h>

#include <vector>

#include "fragment_table.h"

namespace {

using pavo::fragment_table;

std::vector<uint8_t> pattern(unsigned size, uint8_t seed) {
  std::vector<uint8_t> out(size);
  for (unsigned i = 0; i < size; ++i)
    out[i] = static_cast<uint8_t>(seed + i * 7);
  return out;
}

TEST(FragmentTable, ReassemblesPiecesInOrderPerSender) {
  fragment_table table;
  const auto a = pattern(2001, 1), b = pattern(1500, 9);
  std::vector<uint8_t> out;
  // Two senders interleaved.
  EXPECT_EQ(table.add(7, 0, 2001, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.add(8, 0, 1500, b.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.add(8, 1388, 1500, b.data() + 1388, 112, &out), fragment_table::complete);
  EXPECT_EQ(out, b);
  EXPECT_EQ(table.add(7, 1388, 2001, a.data() + 1388, 613, &out), fragment_table::complete);
  EXPECT_EQ(out, a);
  EXPECT_EQ(table.entries(), 0u);
}

TEST(FragmentTable, PieceBeforeItsStartIsDroppedAndTheMessageNeverCompletes) {
  fragment_table table;
  const auto a = pattern(2001, 3);
  std::vector<uint8_t> out;
  EXPECT_EQ(table.add(7, 1388, 2001, a.data() + 1388, 613, &out), fragment_table::dropped);
  EXPECT_EQ(table.add(7, 0, 2001, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.entries(), 1u);
}

TEST(FragmentTable, OutOfPlacePiecesDropTheUnfinishedMessage) {
  fragment_table table;
  const auto a = pattern(4000, 5);
  std::vector<uint8_t> out;
  // Wrong offset (a piece skipped).
  table.add(7, 0, 4000, a.data(), 1388, &out);
  EXPECT_EQ(table.add(7, 2776, 4000, a.data(), 1224, &out), fragment_table::dropped);
  EXPECT_EQ(table.entries(), 0u);
  // Total changing in the middle.
  table.add(7, 0, 4000, a.data(), 1388, &out);
  EXPECT_EQ(table.add(7, 1388, 3000, a.data(), 1388, &out), fragment_table::dropped);
  // More data than the total announced.
  table.add(7, 0, 2000, a.data(), 1388, &out);
  EXPECT_EQ(table.add(7, 1388, 2000, a.data(), 1388, &out), fragment_table::dropped);
  EXPECT_EQ(table.entries(), 0u);
  // A new start replaces an unfinished message of the same sender.
  table.add(7, 0, 4000, a.data(), 1388, &out);
  EXPECT_EQ(table.add(7, 0, 1400, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.add(7, 1388, 1400, a.data() + 1388, 12, &out), fragment_table::complete);
  EXPECT_EQ(out.size(), 1400u);
}

TEST(FragmentTable, BoundsTheBytesHeldForUnfinishedMessages) {
  fragment_table table(64, 10000, 5000);
  const auto a = pattern(1388, 1);
  std::vector<uint8_t> out;
  EXPECT_EQ(table.add(1, 0, 10000, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.add(2, 0, 10000, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.add(1, 1388, 10000, a.data(), 1388, &out), fragment_table::partial);
  // 4164 held; one more piece of sender 2 evicts sender 1 (the oldest) to fit.
  EXPECT_EQ(table.add(2, 1388, 10000, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.entries(), 1u);
  EXPECT_EQ(table.buffered_bytes(), 2776u);
  // A message that alone outgrows the buffer is dropped.
  EXPECT_EQ(table.add(2, 2776, 10000, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.add(2, 4164, 10000, a.data(), 1388, &out), fragment_table::dropped);
  EXPECT_EQ(table.entries(), 0u);
  EXPECT_EQ(table.buffered_bytes(), 0u);
}

TEST(FragmentTable, RefusesTotalsAboveTheLimitAndBoundsItsEntries) {
  fragment_table table(4, 10000);
  const auto a = pattern(1388, 1);
  std::vector<uint8_t> out;
  EXPECT_EQ(table.add(1, 0, 10001, a.data(), 1388, &out), fragment_table::dropped);
  EXPECT_EQ(table.add(1, 0, 0, a.data(), 0, &out), fragment_table::dropped);
  EXPECT_EQ(table.add(1, 0, 100, a.data(), 101, &out), fragment_table::dropped);
  for (uint32_t sender = 1; sender <= 100; ++sender)
    table.add(sender, 0, 10000, a.data(), 1388, &out);
  EXPECT_EQ(table.entries(), 4u);
  EXPECT_EQ(table.buffered_bytes(), 4u * 1388u);
  // The newest ones survive.
  EXPECT_EQ(table.add(100, 1388, 10000, a.data(), 1388, &out), fragment_table::partial);
  EXPECT_EQ(table.add(1, 1388, 10000, a.data(), 1388, &out), fragment_table::dropped);
}

}  // namespace
