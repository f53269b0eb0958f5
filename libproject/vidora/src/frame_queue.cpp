#include "frame_queue.h"

#include <algorithm>

#include "packet_queue.h"

frame_queue::frame_queue(packet_queue* pktq, int max_size, bool keep_last)
    : max_size_(std::min(max_size, max_slots)),
      keep_last_(keep_last),
      mutex_(SDL_CreateMutex()),
      cond_(SDL_CreateCond()),
      pktq_(pktq) {
  for (int i = 0; i < max_size_; i++)
    queue_[i].frame = av_frame_alloc();
}

frame_queue::~frame_queue() {
  for (int i = 0; i < max_size_; i++)
    av_frame_free(&queue_[i].frame);
  if (mutex_)
    SDL_DestroyMutex(mutex_);
  if (cond_)
    SDL_DestroyCond(cond_);
}

bool frame_queue::ok() const {
  if (!mutex_ || !cond_)
    return false;
  for (int i = 0; i < max_size_; i++)
    if (!queue_[i].frame)
      return false;
  return true;
}

void frame_queue::signal() {
  SDL_LockMutex(mutex_);
  SDL_CondSignal(cond_);
  SDL_UnlockMutex(mutex_);
}

queued_frame* frame_queue::peek() {
  return &queue_[(rindex_ + rindex_shown) % max_size_];
}

queued_frame* frame_queue::peek_next() {
  return &queue_[(rindex_ + rindex_shown + 1) % max_size_];
}

queued_frame* frame_queue::peek_last() {
  return &queue_[rindex_];
}

queued_frame* frame_queue::peek_writable() {
  SDL_LockMutex(mutex_);
  while (size_ >= max_size_ && !pktq_->abort_request)
    SDL_CondWait(cond_, mutex_);
  SDL_UnlockMutex(mutex_);
  if (pktq_->abort_request)
    return nullptr;
  return &queue_[windex_];
}

queued_frame* frame_queue::peek_readable() {
  SDL_LockMutex(mutex_);
  while (size_ - rindex_shown <= 0 && !pktq_->abort_request)
    SDL_CondWait(cond_, mutex_);
  SDL_UnlockMutex(mutex_);
  if (pktq_->abort_request)
    return nullptr;
  return &queue_[(rindex_ + rindex_shown) % max_size_];
}

void frame_queue::push() {
  if (++windex_ == max_size_)
    windex_ = 0;
  SDL_LockMutex(mutex_);
  size_++;
  SDL_CondSignal(cond_);
  SDL_UnlockMutex(mutex_);
}

void frame_queue::next() {
  if (keep_last_ && !rindex_shown) {
    rindex_shown = 1;
    return;
  }
  av_frame_unref(queue_[rindex_].frame);
  if (++rindex_ == max_size_)
    rindex_ = 0;
  SDL_LockMutex(mutex_);
  size_--;
  SDL_CondSignal(cond_);
  SDL_UnlockMutex(mutex_);
}

int frame_queue::nb_remaining() {
  SDL_LockMutex(mutex_);
  const int remaining = size_ - rindex_shown;
  SDL_UnlockMutex(mutex_);
  return remaining;
}

int64_t frame_queue::last_pos() {
  queued_frame* fp = &queue_[rindex_];
  if (rindex_shown && fp->serial == pktq_->serial)
    return fp->pos;
  return -1;
}
