// Demuxed packets between the read thread and one decoder, with a serial that changes on
// every flush (seek) so that stale packets and frames can be recognised downstream.
#pragma once

#include <deque>

#include <SDL2/SDL.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct queued_packet {
  AVPacket* pkt;
  int serial;
};

class packet_queue {
public:
  packet_queue();
  ~packet_queue();
  packet_queue(const packet_queue&) = delete;
  packet_queue& operator=(const packet_queue&) = delete;

  bool ok() const { return mutex_ && cond_; }
  // Takes over the packet's reference (the caller's packet is left blank). 0 or -1 when
  // aborted or out of memory; the packet is unreferenced then.
  int put(AVPacket* pkt);
  // An empty packet of `stream_index`: tells the decoder to drain.
  int put_nullpacket(AVPacket* pkt, int stream_index);
  // 1 got a packet, 0 none (non-blocking), -1 aborted.
  int get(AVPacket* pkt, bool block, int* serial);
  void flush();
  void abort();
  void start();

  // Read by other threads without the lock, as counters: only used for heuristics.
  int nb_packets = 0;
  int size = 0;
  int64_t duration = 0;
  int abort_request = 1;
  int serial = 0;

private:
  std::deque<queued_packet> list_;
  SDL_mutex* mutex_;
  SDL_cond* cond_;
};
