// libnetra: reliable message connection (KCP over UDP) used for the MCU control channel.
//
// Every message is an 8-byte header plus a payload of header.length bytes. The header is
// handed over and returned in host order; its wire byte order and the KCP framing are the
// library's own business.
#pragma once

#include <cstdint>

// Header of one control message, host order.
struct kcp_header_t {
  uint16_t reserved;  // 0
  uint16_t length;    // payload bytes that follow the header
  uint32_t type;      // message type
};
static_assert(sizeof(kcp_header_t) == 8, "the control header is 8 bytes");

// Largest payload one message can carry (the 16-bit length field).
constexpr unsigned kcp_max_payload = 65535;

// Receive time-out used until set_recv_timeout() says otherwise.
constexpr unsigned kcp_default_recv_timeout_ms = 5000;

// One connection to a KCP peer. send() may be called from any thread, also while another
// thread is blocked in recv(); one thread receives at a time. Deleting the object closes it.
class kcp_client {
public:
  // Creates an unconnected client for (ip, port); ip is dotted IPv4 text. Null on bad
  // arguments or when out of resources.
  static kcp_client* create(const char* ip, unsigned short port);

  // slot 0: closes the connection (if open) and frees the client.
  virtual ~kcp_client() = default;

  // slot 1: opens the connection; fails when the peer does not answer within the receive
  // time-out. 0 or more = connected; negative = failed.
  virtual int connect() = 0;
  // slot 2: closes the connection and wakes a blocked recv(), which then fails with
  // *timed_out = false. Later sends and receives fail. 0 done.
  virtual int close() = 0;
  // slot 3: receives one whole message: header into *header, payload into buffer. Returns the
  // message size including the header (header->length + 8); negative on failure with
  // *timed_out telling whether the failure was the receive time-out. A message whose payload
  // is larger than `capacity` is consumed and refused (negative, *timed_out = false); the
  // buffer is never written past `capacity`.
  virtual int recv(kcp_header_t* header, void* buffer, unsigned capacity, bool* timed_out) = 0;
  // slot 4: queues one message: the header (whose length must equal `length`) followed by
  // `length` payload bytes. 0 done; negative when not connected, closed, or the lengths
  // disagree.
  virtual int send(const kcp_header_t* header, const void* payload, unsigned length) = 0;
  // slot 5: sets how long recv() waits for a message. 0 done.
  virtual int set_recv_timeout(unsigned ms) = 0;
};
