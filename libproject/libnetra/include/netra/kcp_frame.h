// netra: the control message as one KCP message.
//
// A control message travels as one KCP message: the 8-byte header in network byte order
// (reserved u16, length u16, type u32) followed by exactly `length` payload bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "libnetra/kcp_client.h"

namespace netra {

constexpr std::size_t control_header_size = 8;
// Largest control message on the wire: header plus the largest payload.
constexpr std::size_t control_message_max = control_header_size + kcp_max_payload;

// Writes the header in network order to the first 8 bytes of `out`.
void encode_control_header(const kcp_header_t& header, uint8_t* out);

// Header plus payload as one message. Empty when header.length != length or a non-empty
// payload pointer is null.
std::vector<uint8_t> make_control_message(const kcp_header_t& header, const void* payload,
                                          unsigned length);

// Reads the header of a received message; false unless the message is at least 8 bytes and
// its length field names exactly the bytes that follow.
bool decode_control_message(const uint8_t* data, std::size_t size, kcp_header_t* header);

}  // namespace netra
