#include "mcu_dispatch.h"

#include <cstring>

#include "control_wire.h"
#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"
#include "woblog/woblog.h"

namespace pavo {

using namespace pavo_wire;
namespace {

const char* as_text(const uint8_t* p) {
  return reinterpret_cast<const char*>(p);
}

bool too_short(uint32_t type, unsigned length, unsigned need) {
  if (length >= need)
    return false;
  qn::log("mcu message %u: %u bytes, needs %u; ignored", type, length, need);
  return true;
}

bool not_exactly(uint32_t type, unsigned length, unsigned need) {
  if (length == need)
    return false;
  qn::log("mcu message %u: %u bytes, must be %u; ignored", type, length, need);
  return true;
}

}  // namespace

void mcu_dispatch::dispatch(uint32_t type, const uint8_t* p, unsigned length) {
  if (!p)
    length = 0;
  // Every field is read through `in` after the length check of its type, and the reader
  // refuses anything past the end besides.
  wirebytes::byte_reader in(p, length);
  switch (type) {
    case msg_login:
      events_.on_logged_in();
      user_pairs(p, length, true);
      return;
    case msg_leave:
      if (!too_short(type, length, 4))
        events_.on_user_left(in.u32());
      return;
    case msg_reserved:
      if (!not_exactly(type, length, 8)) {
        const uint32_t first = in.u32(), second = in.u32();
        events_.on_reserved(first, second);
      }
      return;
    case msg_user_list:
      user_pairs(p, length, true);
      return;
    case msg_probe: {
      if (too_short(type, length, 4))
        return;
      uint8_t answer[8];
      wirebytes::span_writer(answer, sizeof answer)
          .bytes(in.bytes(4), 4)
          .u32(events_.device_mask());
      out_.send_msg(msg_probe, answer, sizeof answer);
      return;
    }
    case msg_open_sender:
      if (!not_exactly(type, length, 10)) {
        in.skip(4);
        const uint32_t kind = in.u32();
        const uint16_t port = in.u16();
        events_.on_open_sender(kind, port);
      }
      return;
    case msg_close_sender:
    case msg_media_published:
    case msg_media_unpublished:
    case msg_user_login: {
      if (not_exactly(type, length, 8))
        return;
      const uint32_t first = in.u32(), second = in.u32();
      if (type == msg_close_sender)
        events_.on_close_sender(first, second);
      else if (type == msg_media_published)
        events_.on_media_published(first, second);
      else if (type == msg_media_unpublished)
        events_.on_media_unpublished(first, second);
      else
        events_.on_user_login(user_media_t{second, first});  // {mask, id}
      return;
    }
    case msg_retransmit: {
      if (too_short(type, length, retransmit_header))
        return;
      const uint32_t kind = in.u32();
      const uint64_t count = in.u32();
      if (retransmit_header + 2 * count != length) {
        qn::log("mcu message 14: count %llu does not match %u bytes; ignored",
                static_cast<unsigned long long>(count), length);
        return;
      }
      seqs_.resize(count);
      for (uint64_t i = 0; i < count; ++i)
        seqs_[i] = in.u16();
      events_.on_retransmit(kind, seqs_.data(), static_cast<unsigned>(count));
      return;
    }
    case msg_bandwidth:
    case msg_quality: {
      if (too_short(type, length, 8))
        return;
      const uint32_t kind = in.u32(), value = in.u32();
      if (type == msg_bandwidth)
        events_.on_bandwidth(kind, value);
      else
        events_.on_quality(kind, value);
      return;
    }
    case msg_media_port:
      if (!not_exactly(type, length, media_port_payload)) {
        const uint32_t publisher = in.u32(), kind = in.u32();
        const uint16_t port = in.u16();
        media_token token;
        std::memcpy(token.bytes, in.here(), media_token_size);
        events_.on_media_port(publisher, kind, port, token);
      }
      return;
    case msg_existing_media:
      user_pairs(p, length, false);
      events_.on_existing_media(users_.data(), static_cast<unsigned>(users_.size()));
      return;
    case msg_stop_class:
      if (too_short(type, length, 4))
        return;
      events_.on_class_stopped();
      ui_.ss_stop_class(in.u32());
      return;
    case msg_application_share:
    case msg_cancel_application:
      if (too_short(type, length, 4))
        return;
      out_.send_msg(type + 1, p, length);  // receipt: 39 / 41 with the same payload
      if (type == msg_application_share)
        ui_.ss_application_share(in.u32());
      else
        ui_.ss_cancel_application(in.u32());
      return;
    case msg_reply_share:
    case msg_reply_share_ack: {
      if (too_short(type, length, 8))
        return;
      const int reply = static_cast<int>(in.u32());
      const uint32_t user = in.u32();
      if (type == msg_reply_share) {
        out_.send_msg(msg_reply_share_ack, p, length);
        ui_.ss_reply_share(user, reply);
      } else {
        ui_.reply_share_ack(user, reply);
      }
      return;
    }
    case msg_share_users_ack:
    case msg_tag_users_ack:
      id_list(type, p, length);
      return;
    case msg_p2p:
    case msg_p2all:
    case msg_p2p_ack:
    case msg_p2all_ack: {
      if (too_short(type, length, 4))
        return;
      const uint32_t id = in.u32();
      const char* text = as_text(in.here());
      const unsigned size = static_cast<unsigned>(in.remaining());
      if (type == msg_p2p) {
        out_.send_msg(msg_p2p_ack, p, length);
        ui_.p2p_msg(id, text, size);
      } else if (type == msg_p2all) {
        ui_.p2all_msg(id, text, size);
      } else if (type == msg_p2p_ack) {
        ui_.p2p_msg_ack(id, text, size);
      } else {
        ui_.p2all_msg_ack(id, text, size);
      }
      return;
    }
    case msg_classing_user_ack: {
      if (too_short(type, length, 8))
        return;
      // The code goes up as the MCU wrote it: its bytes in wire order, read in host order.
      int code = 0;
      std::memcpy(&code, in.bytes(sizeof code), sizeof code);
      const uint32_t count = in.u32();
      if (count > 0 && too_short(type, length, 12))
        return;
      ui_.get_classing_user_ack(code, count > 0 ? in.u32() : 0);
      return;
    }
    case msg_kick:
      qn::log("the MCU asked us to disconnect");
      events_.on_kicked();
      return;
    case msg_p2p_fragment:
    case msg_p2all_fragment:
      fragment(type, p, length);
      return;
    case msg_p2p_fragment_ack:
    case msg_p2all_fragment_ack:
      if (too_short(type, length, 4))
        return;
      if (type == msg_p2p_fragment_ack)
        ui_.p2p_msg_ack(in.u32(), nullptr, 0);
      else
        ui_.p2all_msg_ack(in.u32(), nullptr, 0);
      return;
    case msg_ping:
      out_.send_msg(msg_pong, nullptr, 0);
      return;
    case msg_start_class:
    case msg_start_class_ack:
    case msg_stop_class_ack:
    case msg_class_state_ack:
    case msg_application_share_ack:
    case msg_cancel_application_ack:
    case msg_start_share:
    case msg_start_share_ack:
    case msg_stop_share:
    case msg_stop_share_ack:
    case msg_start_tag:
    case msg_start_tag_ack:
    case msg_stop_tag:
    case msg_stop_tag_ack:
    case msg_cancel_share:
    case msg_cancel_share_ack:
      if (!too_short(type, length, 4))
        simple_value(type, in.u32());
      return;
    default:
      return;  // not ours
  }
}

void mcu_dispatch::simple_value(uint32_t type, uint32_t value) {
  const int result = static_cast<int>(value);
  switch (type) {
    case msg_start_class:
      ui_.ss_start_class(value);
      break;
    case msg_start_class_ack:
      ui_.start_class_ack(result);
      break;
    case msg_stop_class_ack:
      ui_.stop_class_ack(result);
      break;
    case msg_class_state_ack:
      ui_.get_class_state_ack(result);
      break;
    case msg_application_share_ack:
      ui_.application_share_ack(result);
      break;
    case msg_cancel_application_ack:
      ui_.cancel_application_ack(result);
      break;
    case msg_start_share:
      ui_.ss_start_share(value);
      break;
    case msg_start_share_ack:
      ui_.start_share_ack(result);
      break;
    case msg_stop_share:
      ui_.ss_stop_share(value);
      break;
    case msg_stop_share_ack:
      ui_.stop_share_ack(result);
      break;
    case msg_start_tag:
      ui_.ss_start_tag(value);
      break;
    case msg_start_tag_ack:
      ui_.start_tag_ack(result);
      break;
    case msg_stop_tag:
      ui_.ss_stop_tag(value);
      break;
    case msg_stop_tag_ack:
      ui_.stop_tag_ack(result);
      break;
    case msg_cancel_share:
      ui_.ss_cancel_share(value);
      break;
    case msg_cancel_share_ack:
      ui_.cancel_share_ack(result);
      break;
    default:
      break;
  }
}

// n entries of two words; 0, 6: {mask, id}; 29: {id, kinds}. A trailing partial entry is
// not read.
void mcu_dispatch::user_pairs(const uint8_t* p, unsigned length, bool mask_first) {
  const unsigned count = length / 8;
  wirebytes::byte_reader in(p, length);
  users_.resize(count);
  for (unsigned i = 0; i < count; ++i) {
    const uint32_t first = in.u32(), second = in.u32();
    users_[i] = mask_first ? user_media_t{second, first} : user_media_t{first, second};
  }
  if (mask_first)
    events_.on_user_list(users_.data(), count);
}

void mcu_dispatch::id_list(uint32_t type, const uint8_t* p, unsigned length) {
  if (too_short(type, length, 8))
    return;
  wirebytes::byte_reader in(p, length);
  const int value = static_cast<int>(in.u32());
  const uint32_t count = in.u32();
  if (count > in.remaining() / 4) {
    qn::log("mcu message %u: %u ids in %u bytes; ignored", type, count, length);
    return;
  }
  ids_.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    ids_[i] = in.u32();
  const int n = static_cast<int>(count);
  if (type == msg_share_users_ack)
    ui_.get_share_users_ack(value, n, ids_.data());
  else
    ui_.get_tag_users_ack(value, n, ids_.data());
}

void mcu_dispatch::fragment(uint32_t type, const uint8_t* p, unsigned length) {
  if (too_short(type, length, fragment_header))
    return;
  if (length > fragment_max) {
    qn::log("mcu message %u: fragment of %u bytes; ignored", type, length);
    return;
  }
  wirebytes::byte_reader in(p, length);
  const uint32_t sender = in.u32(), offset = in.u32(), total = in.u32();
  fragment_table& table = type == msg_p2p_fragment ? peer_fragments_ : broadcast_fragments_;
  std::vector<uint8_t> message;
  if (table.add(sender, offset, total, in.here(), static_cast<unsigned>(in.remaining()),
                &message) != fragment_table::complete)
    return;
  if (type == msg_p2p_fragment) {
    out_.send_msg(msg_p2p_fragment_ack, p, 4);
    ui_.p2p_msg(sender, as_text(message.data()), static_cast<unsigned>(message.size()));
  } else {
    ui_.p2all_msg(sender, as_text(message.data()), static_cast<unsigned>(message.size()));
  }
}

}  // namespace pavo
