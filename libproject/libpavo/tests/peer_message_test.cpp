// Peer messages over the scripted MCU: single messages, fragments both ways, the send limit
// and concurrent senders.
#include <thread>

#include "client_fixture.h"

namespace pavo_test {
namespace {

bytes pattern(unsigned size, uint8_t seed) {
  bytes out(size);
  for (unsigned i = 0; i < size; ++i)
    out[i] = static_cast<uint8_t>(seed + i * 13);
  return out;
}

bytes tail(const bytes& data, std::size_t from) {
  return bytes(data.begin() + static_cast<long>(from), data.end());
}

TEST_F(ClientTest, UpTo2000BytesTravelAsOneMessageLongerOnesAsFragments) {
  log_in();
  const bytes exact = pattern(2000, 1);
  ASSERT_EQ(client->send_p2p_msg(42, exact.data(), 2000), 0);
  auto single = mcu.next(64);
  ASSERT_TRUE(single);
  EXPECT_EQ(single->payload, be32({42}) + exact);

  const bytes longer = pattern(2001, 2);
  ASSERT_EQ(client->send_p2p_msg(42, longer.data(), 2001), 0);
  auto first = mcu.next(71), second = mcu.next(71);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->payload.size(), 12u + 1388u);
  EXPECT_EQ(second->payload.size(), 12u + 613u);
  EXPECT_EQ(bytes(first->payload.begin(), first->payload.begin() + 12), be32({42, 0, 2001}));
  EXPECT_EQ(bytes(second->payload.begin(), second->payload.begin() + 12), be32({42, 1388, 2001}));
  EXPECT_EQ(tail(first->payload, 12) + tail(second->payload, 12), longer);
  sync_sent();
  EXPECT_TRUE(mcu.received(64).empty());
  EXPECT_TRUE(mcu.received(71).empty());
}

TEST_F(ClientTest, BroadcastsCarryTheOwnId) {
  log_in();
  const bytes small = pattern(10, 3), big = pattern(3000, 4);
  ASSERT_EQ(client->send_p2all_msg(small.data(), 10), 0);
  auto single = mcu.next(65);
  ASSERT_TRUE(single);
  EXPECT_EQ(single->payload, be32({own_id}) + small);
  ASSERT_EQ(client->send_p2all_msg(big.data(), 3000), 0);
  bytes joined;
  for (uint32_t offset : {0u, 1388u, 2776u}) {
    auto piece = mcu.next(72);
    ASSERT_TRUE(piece);
    EXPECT_EQ(word(piece->payload, 0), own_id);
    EXPECT_EQ(word(piece->payload, 4), offset);
    EXPECT_EQ(word(piece->payload, 8), 3000u);
    joined = joined + tail(piece->payload, 12);
  }
  EXPECT_EQ(joined, big);
}

TEST_F(ClientTest, PayloadsAbove4096BytesAreNotSent) {
  log_in();
  const bytes over(4097, 0x5A), limit(4096, 0x5B);
  EXPECT_EQ(client->send_msg(999, over.data(), 4097), -1);
  EXPECT_EQ(client->send_msg(998, limit.data(), 4096), 0);
  auto sent = mcu.next(998);
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->payload.size(), 4096u);
  EXPECT_TRUE(mcu.received(999).empty());
  // Whole peer messages above the receivers' limit are refused outright.
  const bytes huge((1u << 20) + 1, 1);
  EXPECT_EQ(client->send_p2p_msg(42, huge.data(), static_cast<unsigned>(huge.size())), -1);
  EXPECT_EQ(client->send_p2p_msg(42, nullptr, 5), -1);
}

TEST_F(ClientTest, ConcurrentSendersNeverInterleaveFragments) {
  log_in();
  constexpr int per_thread = 10;
  auto sender = [this](uint8_t seed) {
    for (int i = 0; i < per_thread; ++i) {
      bytes message(3000, static_cast<uint8_t>(seed + i));
      client->send_p2all_msg(message.data(), 3000);
    }
  };
  std::thread a(sender, 0), b(sender, 100);
  a.join();
  b.join();
  for (int m = 0; m < 2 * per_thread; ++m) {
    uint8_t content = 0;
    for (uint32_t offset : {0u, 1388u, 2776u}) {
      auto piece = mcu.next(72);
      ASSERT_TRUE(piece);
      ASSERT_EQ(word(piece->payload, 4), offset) << "message " << m;
      if (offset == 0)
        content = piece->payload[12];
      EXPECT_EQ(piece->payload[12], content);
    }
  }
}

TEST_F(ClientTest, ReceivedFragmentsAreReassembledAndAcknowledged) {
  log_in();
  const bytes message = pattern(10240, 5);
  for (uint32_t offset = 0; offset < message.size(); offset += 1388) {
    const uint32_t size = std::min<uint32_t>(1388, static_cast<uint32_t>(message.size()) - offset);
    bytes piece =
        be32({7, offset, 10240}) + bytes(message.begin() + offset, message.begin() + offset + size);
    ASSERT_EQ(mcu.send(71, piece), 0);
  }
  auto delivered = observer.next("p2p_msg");
  ASSERT_TRUE(delivered);
  EXPECT_EQ(delivered->args[0], 7);
  EXPECT_EQ(delivered->data, message);
  auto ack = mcu.next(73);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->payload, be32({7}));

  mcu.send(72, be32({8, 0, 1500}) + bytes(message.begin(), message.begin() + 1388));
  mcu.send(72, be32({8, 1388, 1500}) + bytes(message.begin(), message.begin() + 112));
  auto broadcast = observer.next("p2all_msg");
  ASSERT_TRUE(broadcast);
  EXPECT_EQ(broadcast->args[0], 8);
  EXPECT_EQ(broadcast->data.size(), 1500u);
}

TEST_F(ClientTest, FragmentBeforeItsStartIsDroppedAndTheMessageNeverDelivered) {
  log_in();
  const bytes message = pattern(2001, 6);
  mcu.send(71, be32({7, 1388, 2001}) + tail(message, 1388));
  mcu.send(71, be32({7, 0, 2001}) + bytes(message.begin(), message.begin() + 1388));
  mcu.send(64, be32({7}) + bytes{'e', 'n', 'd'});
  auto next = observer.next("p2p_msg");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->data, (bytes{'e', 'n', 'd'}));
  ASSERT_TRUE(mcu.next(68));
  EXPECT_TRUE(mcu.received(73).empty());
}

TEST_F(ClientTest, AcknowledgementsReachTheObserver) {
  log_in();
  mcu.send(68, be32({9}) + bytes{'o', 'k'});
  mcu.send(73, be32({9}));
  mcu.send(74, be32({9}));
  auto with_data = observer.next("p2p_msg_ack");
  ASSERT_TRUE(with_data);
  EXPECT_EQ(with_data->args, (std::vector<int64_t>{9, 1}));
  EXPECT_EQ(with_data->data, (bytes{'o', 'k'}));
  auto fragment_ack = observer.next("p2p_msg_ack");
  ASSERT_TRUE(fragment_ack);
  EXPECT_EQ(fragment_ack->args, (std::vector<int64_t>{9, 0}));  // no data
  EXPECT_TRUE(observer.next("p2all_msg_ack"));
}

}  // namespace
}  // namespace pavo_test
