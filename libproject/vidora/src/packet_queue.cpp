#include "packet_queue.h"

packet_queue::packet_queue() : mutex_(SDL_CreateMutex()), cond_(SDL_CreateCond()) {}

packet_queue::~packet_queue() {
  flush();
  if (mutex_)
    SDL_DestroyMutex(mutex_);
  if (cond_)
    SDL_DestroyCond(cond_);
}

int packet_queue::put(AVPacket* pkt) {
  AVPacket* own = av_packet_alloc();
  if (!own) {
    av_packet_unref(pkt);
    return -1;
  }
  av_packet_move_ref(own, pkt);
  SDL_LockMutex(mutex_);
  if (abort_request) {
    SDL_UnlockMutex(mutex_);
    av_packet_free(&own);
    return -1;
  }
  list_.push_back({own, serial});
  nb_packets++;
  size += own->size + static_cast<int>(sizeof(queued_packet));
  duration += own->duration;
  SDL_CondSignal(cond_);
  SDL_UnlockMutex(mutex_);
  return 0;
}

int packet_queue::put_nullpacket(AVPacket* pkt, int stream_index) {
  pkt->stream_index = stream_index;
  return put(pkt);
}

int packet_queue::get(AVPacket* pkt, bool block, int* out_serial) {
  int ret = 0;
  SDL_LockMutex(mutex_);
  for (;;) {
    if (abort_request) {
      ret = -1;
      break;
    }
    if (!list_.empty()) {
      queued_packet entry = list_.front();
      list_.pop_front();
      nb_packets--;
      size -= entry.pkt->size + static_cast<int>(sizeof(queued_packet));
      duration -= entry.pkt->duration;
      av_packet_move_ref(pkt, entry.pkt);
      av_packet_free(&entry.pkt);
      if (out_serial)
        *out_serial = entry.serial;
      ret = 1;
      break;
    }
    if (!block)
      break;
    SDL_CondWait(cond_, mutex_);
  }
  SDL_UnlockMutex(mutex_);
  return ret;
}

void packet_queue::flush() {
  if (!mutex_)
    return;
  SDL_LockMutex(mutex_);
  for (queued_packet& entry : list_)
    av_packet_free(&entry.pkt);
  list_.clear();
  nb_packets = 0;
  size = 0;
  duration = 0;
  serial++;
  SDL_UnlockMutex(mutex_);
}

void packet_queue::abort() {
  SDL_LockMutex(mutex_);
  abort_request = 1;
  SDL_CondSignal(cond_);
  SDL_UnlockMutex(mutex_);
}

void packet_queue::start() {
  SDL_LockMutex(mutex_);
  abort_request = 0;
  serial++;
  SDL_UnlockMutex(mutex_);
}
