#include "stream_decoder.h"

#include "frame_queue.h"
#include "packet_queue.h"

int stream_decoder::init(AVCodecContext* ctx, packet_queue* q, SDL_cond* empty_queue_cond) {
  pkt_ = av_packet_alloc();
  if (!pkt_)
    return AVERROR(ENOMEM);
  avctx = ctx;
  queue = q;
  empty_queue_cond_ = empty_queue_cond;
  start_pts = AV_NOPTS_VALUE;
  pkt_serial = -1;
  finished = 0;
  packet_pending_ = false;
  return 0;
}

int stream_decoder::start(int (*fn)(void*), void* arg) {
  queue->start();
  thread_ = SDL_CreateThread(fn, "decoder", arg);
  return thread_ ? 0 : AVERROR(ENOMEM);
}

int stream_decoder::decode_frame(AVFrame* frame) {
  int ret = AVERROR(EAGAIN);
  for (;;) {
    if (queue->serial == pkt_serial) {
      do {
        if (queue->abort_request)
          return -1;
        ret = avcodec_receive_frame(avctx, frame);
        if (ret >= 0) {
          if (avctx->codec_type == AVMEDIA_TYPE_VIDEO) {
            frame->pts = frame->best_effort_timestamp;
          } else if (avctx->codec_type == AVMEDIA_TYPE_AUDIO) {
            const AVRational tb{1, frame->sample_rate};
            if (frame->pts != AV_NOPTS_VALUE)
              frame->pts = av_rescale_q(frame->pts, avctx->pkt_timebase, tb);
            else if (next_pts_ != AV_NOPTS_VALUE)
              frame->pts = av_rescale_q(next_pts_, next_pts_tb_, tb);
            if (frame->pts != AV_NOPTS_VALUE) {
              next_pts_ = frame->pts + frame->nb_samples;
              next_pts_tb_ = tb;
            }
          }
        }
        if (ret == AVERROR_EOF) {
          finished = pkt_serial;
          avcodec_flush_buffers(avctx);
          return 0;
        }
        if (ret >= 0)
          return 1;
      } while (ret != AVERROR(EAGAIN));
    }

    do {
      if (queue->nb_packets == 0)
        SDL_CondSignal(empty_queue_cond_);
      if (packet_pending_) {
        packet_pending_ = false;
      } else {
        const int old_serial = pkt_serial;
        if (queue->get(pkt_, true, &pkt_serial) < 0)
          return -1;
        if (old_serial != pkt_serial) {
          avcodec_flush_buffers(avctx);
          finished = 0;
          next_pts_ = start_pts;
          next_pts_tb_ = start_pts_tb;
        }
      }
      if (queue->serial == pkt_serial)
        break;
      av_packet_unref(pkt_);
    } while (true);

    if (avcodec_send_packet(avctx, pkt_) == AVERROR(EAGAIN)) {
      // The decoder wants its frames read first; the packet goes in on the next round.
      packet_pending_ = true;
    } else {
      av_packet_unref(pkt_);
    }
  }
}

void stream_decoder::abort(frame_queue* fq) {
  queue->abort();
  fq->signal();
  if (thread_)
    SDL_WaitThread(thread_, nullptr);
  thread_ = nullptr;
  queue->flush();
}

void stream_decoder::destroy() {
  av_packet_free(&pkt_);
  avcodec_free_context(&avctx);
}
