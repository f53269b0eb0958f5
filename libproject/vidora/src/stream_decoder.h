// One stream's decoder: takes packets from its queue, gives frames; restarts itself when
// the queue's serial changes (a seek flushed it).
#pragma once

#include <SDL2/SDL.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

class packet_queue;
class frame_queue;

class stream_decoder {
public:
  // Takes over `avctx`.
  int init(AVCodecContext* avctx, packet_queue* queue, SDL_cond* empty_queue_cond);
  // Starts the thread "decoder" running fn(arg).
  int start(int (*fn)(void*), void* arg);
  // 1 a frame, 0 the end of the stream (decoder drained), -1 aborted.
  int decode_frame(AVFrame* frame);
  // Stops the thread (the queue is aborted, the frame queue woken) and flushes the queue.
  void abort(frame_queue* fq);
  void destroy();

  AVCodecContext* avctx = nullptr;
  packet_queue* queue = nullptr;
  int pkt_serial = -1;
  int finished = 0;
  int64_t start_pts = AV_NOPTS_VALUE;
  AVRational start_pts_tb{0, 1};

private:
  AVPacket* pkt_ = nullptr;
  bool packet_pending_ = false;
  SDL_cond* empty_queue_cond_ = nullptr;
  int64_t next_pts_ = AV_NOPTS_VALUE;
  AVRational next_pts_tb_{0, 1};
  SDL_Thread* thread_ = nullptr;
};
