// libnetra: UDP socket bound to one peer, used for the media streams.
#pragma once

#include <cstdint>

// Receiver of the datagrams of a udp_client. Called on the client's own receive thread.
class network_data {
public:
  // slot 0
  virtual ~network_data() = default;
  // slot 1: one datagram from the peer, with its true length (never truncated). `data` is
  // valid only during the call.
  virtual void on_network_data(const uint8_t* data, unsigned length) = 0;
};

// Largest datagram a udp_client sends or delivers.
constexpr unsigned udp_max_datagram = 65507;

// A UDP socket that talks to one peer (ip, port): it sends there and hands the datagrams
// that come from there to a network_data. Deleting the object stops it.
class udp_client {
public:
  // Creates a closed client for (ip, port); ip is dotted IPv4 text. Null on bad arguments.
  static udp_client* create(const char* ip, unsigned short port);

  // slot 0: stops (as stop()) and frees the client.
  virtual ~udp_client() = default;

  // slot 1: opens the socket (local port chosen by the system). 0 done, negative failed.
  virtual int open() = 0;
  // slot 2: sends one datagram. 0 done; negative when not open or the length is 0 or above
  // udp_max_datagram.
  virtual int send(const uint8_t* data, unsigned length) = 0;
  // slot 3: starts the receive thread, which hands every datagram from the peer to `sink`
  // until stop(). 0 done; negative when not open, `sink` is null or it already runs.
  virtual int start_recv(network_data* sink) = 0;
  // slot 4: stops the receive thread and closes the socket. When it returns no call of the
  // sink is running or will follow, except that called from inside the sink it does not
  // wait for itself. 0 done, also when already stopped.
  virtual int stop() = 0;
};
