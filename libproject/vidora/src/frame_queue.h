// Decoded frames between a decoder thread and their consumer (the refresh or the audio
// callback). A ring of at most 16 slots; with keep_last the frame shown last stays readable.
#pragma once

#include <SDL2/SDL.h>

extern "C" {
#include <libavutil/frame.h>
}

class packet_queue;

struct queued_frame {
  AVFrame* frame = nullptr;
  int serial = 0;
  double pts = 0;       // presentation time in seconds
  double duration = 0;  // estimated duration in seconds
  int64_t pos = -1;     // byte position of the frame in the input
  int width = 0;
  int height = 0;
  int format = -1;
};

class frame_queue {
public:
  static constexpr int max_slots = 16;

  frame_queue(packet_queue* pktq, int max_size, bool keep_last);
  ~frame_queue();
  frame_queue(const frame_queue&) = delete;
  frame_queue& operator=(const frame_queue&) = delete;

  bool ok() const;
  // Wakes any waiter (used on abort).
  void signal();
  queued_frame* peek();
  queued_frame* peek_next();
  queued_frame* peek_last();
  // Blocks until a slot is free; null when the packet queue is aborted.
  queued_frame* peek_writable();
  // Blocks until a frame is readable; null when the packet queue is aborted.
  queued_frame* peek_readable();
  void push();
  void next();
  // Frames not yet shown.
  int nb_remaining();
  // Byte position of the last shown frame, or -1.
  int64_t last_pos();

  SDL_mutex* mutex() { return mutex_; }
  // True once the first frame has been shown (keep_last queues only).
  int rindex_shown = 0;

private:
  queued_frame queue_[max_slots];
  int rindex_ = 0;
  int windex_ = 0;
  int size_ = 0;
  int max_size_;
  bool keep_last_;
  SDL_mutex* mutex_;
  SDL_cond* cond_;
  packet_queue* pktq_;
};
