// The read thread: opens the input, picks the streams, and feeds the packet queues; it
// also carries out seeks.
#include <cstring>

#include "player_state.h"
#include "sync_rules.h"

extern "C" {
#include <libavfilter/buffersink.h>
}

static int decode_interrupt_cb(void* ctx) {
  const player_state* is = static_cast<const player_state*>(ctx);
  return is->abort_request;
}

static bool stream_has_enough_packets(const AVStream* st, int stream_id,
                                      const packet_queue& queue) {
  return stream_id < 0 || queue.abort_request || (st->disposition & AV_DISPOSITION_ATTACHED_PIC) ||
         (queue.nb_packets > sync_rules::min_frames &&
          (!queue.duration || av_q2d(st->time_base) * queue.duration > 1.0));
}

static int is_realtime(const AVFormatContext* s) {
  if (!strcmp(s->iformat->name, "rtp") || !strcmp(s->iformat->name, "rtsp") ||
      !strcmp(s->iformat->name, "sdp"))
    return 1;
  if (s->pb && (!strncmp(s->url, "rtp:", 4) || !strncmp(s->url, "udp:", 4)))
    return 1;
  return 0;
}

static void step_to_next_frame(player_state* is) {
  // A seek while paused shows the picture at the new place, then pauses again.
  if (is->paused) {
    is->frame_timer += clock_now() - is->vidclk.last_updated;
    if (is->read_pause_return != AVERROR(ENOSYS))
      is->vidclk.paused = 0;
    is->vidclk.set(is->vidclk.get(), is->vidclk.serial);
    is->extclk.set(is->extclk.get(), is->extclk.serial);
    is->paused = is->audclk.paused = is->vidclk.paused = is->extclk.paused = 0;
  }
  is->step = 1;
}

static void wait_for_reader_wake(player_state* is, SDL_mutex* wait_mutex) {
  SDL_LockMutex(wait_mutex);
  SDL_CondWaitTimeout(is->continue_read_thread, wait_mutex, 10);
  SDL_UnlockMutex(wait_mutex);
}

static void do_seek(player_state* is) {
  AVFormatContext* ic = is->ic;
  const int64_t seek_target = is->seek_pos;
  const int64_t seek_min = is->seek_rel > 0 ? seek_target - is->seek_rel + 2 : INT64_MIN;
  const int64_t seek_max = is->seek_rel < 0 ? seek_target - is->seek_rel - 2 : INT64_MAX;
  const int ret = avformat_seek_file(ic, -1, seek_min, seek_target, seek_max, is->seek_flags);
  if (ret < 0) {
    av_log(nullptr, AV_LOG_ERROR, "%s: error while seeking\n", ic->url);
  } else {
    if (is->audio_stream >= 0)
      is->audioq.flush();
    if (is->subtitle_stream >= 0)
      is->subtitleq.flush();
    if (is->video_stream >= 0)
      is->videoq.flush();
    if (is->seek_flags & AVSEEK_FLAG_BYTE)
      is->extclk.set(NAN, 0);
    else
      is->extclk.set(seek_target / static_cast<double>(AV_TIME_BASE), 0);
  }
  is->seek_req = 0;
  is->queue_attachments_req = 1;
  is->eof = 0;
  if (is->paused)
    step_to_next_frame(is);
}

int read_thread(void* arg) {
  player_state* is = static_cast<player_state*>(arg);
  const player_options* opts = is->opts;
  AVFormatContext* ic = nullptr;
  int st_index[AVMEDIA_TYPE_NB];
  memset(st_index, -1, sizeof(st_index));
  AVDictionary* format_opts = nullptr;
  SDL_mutex* wait_mutex = SDL_CreateMutex();
  AVPacket* pkt = av_packet_alloc();
  int err;

  if (!wait_mutex || !pkt)
    goto fail;

  is->eof = 0;
  ic = avformat_alloc_context();
  if (!ic)
    goto fail;
  ic->interrupt_callback.callback = decode_interrupt_cb;
  ic->interrupt_callback.opaque = is;
  av_dict_copy(&format_opts, opts->format_opts, 0);
  if (!av_dict_get(format_opts, "scan_all_pmts", nullptr, AV_DICT_MATCH_CASE))
    av_dict_set(&format_opts, "scan_all_pmts", "1", AV_DICT_DONT_OVERWRITE);
  err = avformat_open_input(&ic, is->filename, is->iformat, &format_opts);
  av_dict_free(&format_opts);
  if (err < 0)
    goto fail;  // ic is freed on failure
  is->ic = ic;

  is->total_seconds = sync_rules::total_seconds(ic->duration, ic->start_time);
  if (is->callbacks.on_duration)
    is->callbacks.on_duration(is->callbacks.context, is->total_seconds);

  if (avformat_find_stream_info(ic, nullptr) < 0)
    goto fail;
  if (ic->pb)
    ic->pb->eof_reached = 0;  // the probing may have read to the end

  is->seek_by_bytes = opts->seek_by_bytes;
  if (is->seek_by_bytes < 0)
    is->seek_by_bytes = !(ic->iformat->flags & AVFMT_NO_BYTE_SEEK) &&
                        !!(ic->iformat->flags & AVFMT_TS_DISCONT) &&
                        strcmp("ogg", ic->iformat->name);
  is->max_frame_duration = (ic->iformat->flags & AVFMT_TS_DISCONT) ? 10.0 : 3600.0;
  is->realtime = is_realtime(ic);
  is->file_size = ic->pb ? avio_size(ic->pb) : -1;

  for (unsigned i = 0; i < ic->nb_streams; i++)
    ic->streams[i]->discard = AVDISCARD_ALL;
  st_index[AVMEDIA_TYPE_VIDEO] = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  st_index[AVMEDIA_TYPE_AUDIO] =
      av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, st_index[AVMEDIA_TYPE_VIDEO], nullptr, 0);

  if (st_index[AVMEDIA_TYPE_AUDIO] >= 0)
    stream_component_open(is, st_index[AVMEDIA_TYPE_AUDIO]);
  if (st_index[AVMEDIA_TYPE_VIDEO] >= 0)
    stream_component_open(is, st_index[AVMEDIA_TYPE_VIDEO]);
  if (is->video_stream < 0 && is->audio_stream < 0) {
    av_log(nullptr, AV_LOG_ERROR, "%s: no playable stream\n", is->filename);
    goto fail;
  }
  if (opts->infinite_buffer < 0 && is->realtime) {
    // Live inputs are read as fast as they come.
  }
  is->ready = true;

  for (;;) {
    if (is->abort_request)
      break;
    if (is->paused != is->last_paused) {
      is->last_paused = is->paused;
      if (is->paused)
        is->read_pause_return = av_read_pause(ic);
      else
        av_read_play(ic);
    }
    if (is->paused &&
        (!strcmp(ic->iformat->name, "rtsp") || (ic->pb && !strncmp(is->filename, "mmsh:", 5)))) {
      SDL_Delay(10);
      continue;
    }
    if (is->seek_req)
      do_seek(is);
    if (is->queue_attachments_req) {
      if (is->video_st && (is->video_st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        if (av_packet_ref(pkt, &is->video_st->attached_pic) < 0)
          goto fail;
        is->videoq.put(pkt);
        is->videoq.put_nullpacket(pkt, is->video_stream);
      }
      is->queue_attachments_req = 0;
    }

    const bool infinite = opts->infinite_buffer > 0 || (opts->infinite_buffer < 0 && is->realtime);
    if (!infinite &&
        (is->audioq.size + is->videoq.size + is->subtitleq.size > sync_rules::max_queue_size ||
         (stream_has_enough_packets(is->audio_st, is->audio_stream, is->audioq) &&
          stream_has_enough_packets(is->video_st, is->video_stream, is->videoq)))) {
      wait_for_reader_wake(is, wait_mutex);
      continue;
    }

    const int ret = av_read_frame(ic, pkt);
    if (ret < 0) {
      if ((ret == AVERROR_EOF || avio_feof(ic->pb)) && !is->eof) {
        if (is->video_stream >= 0)
          is->videoq.put_nullpacket(pkt, is->video_stream);
        if (is->audio_stream >= 0)
          is->audioq.put_nullpacket(pkt, is->audio_stream);
        is->eof = 1;
      }
      if (ic->pb && ic->pb->error) {
        // A read error is final: mark the input ended so playback can finish what it has.
        if (!is->eof) {
          if (is->video_stream >= 0)
            is->videoq.put_nullpacket(pkt, is->video_stream);
          if (is->audio_stream >= 0)
            is->audioq.put_nullpacket(pkt, is->audio_stream);
          is->eof = 1;
        }
        while (!is->abort_request && !is->seek_req)
          wait_for_reader_wake(is, wait_mutex);
        if (is->abort_request)
          break;
        ic->pb->error = 0;
        continue;
      }
      wait_for_reader_wake(is, wait_mutex);
      continue;
    }
    is->eof = 0;
    if (pkt->stream_index == is->audio_stream) {
      is->audioq.put(pkt);
    } else if (pkt->stream_index == is->video_stream &&
               !(is->video_st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
      is->videoq.put(pkt);
    } else {
      av_packet_unref(pkt);
    }
  }

fail:
  // Failures end the reader quietly; the control thread keeps waiting for its commands.
  if (ic && !is->ic)
    avformat_close_input(&ic);
  av_packet_free(&pkt);
  if (wait_mutex)
    SDL_DestroyMutex(wait_mutex);
  is->reader_done = true;
  return 0;
}

int stream_component_open(player_state* is, int stream_index) {
  AVFormatContext* ic = is->ic;
  if (stream_index < 0 || stream_index >= static_cast<int>(ic->nb_streams))
    return -1;
  AVCodecContext* avctx = avcodec_alloc_context3(nullptr);
  if (!avctx)
    return AVERROR(ENOMEM);
  AVDictionary* opts = nullptr;
  AVChannelLayout ch_layout{};
  int sample_rate = 0;
  int ret = avcodec_parameters_to_context(avctx, ic->streams[stream_index]->codecpar);
  const AVCodec* codec = nullptr;
  if (ret < 0)
    goto fail;
  avctx->pkt_timebase = ic->streams[stream_index]->time_base;
  codec = avcodec_find_decoder(avctx->codec_id);
  if (!codec) {
    av_log(nullptr, AV_LOG_WARNING, "No decoder could be found for codec %s\n",
           avcodec_get_name(avctx->codec_id));
    ret = AVERROR(EINVAL);
    goto fail;
  }
  avctx->codec_id = codec->id;
  av_dict_copy(&opts, is->opts->codec_opts, 0);
  if (!av_dict_get(opts, "threads", nullptr, 0))
    av_dict_set(&opts, "threads", "auto", 0);
  if ((ret = avcodec_open2(avctx, codec, &opts)) < 0)
    goto fail;

  is->eof = 0;
  ic->streams[stream_index]->discard = AVDISCARD_DEFAULT;
  switch (avctx->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
      is->audio_filter_src.freq = avctx->sample_rate;
      ret = av_channel_layout_copy(&is->audio_filter_src.ch_layout, &avctx->ch_layout);
      if (ret < 0)
        goto fail;
      is->audio_filter_src.fmt = avctx->sample_fmt;
      if ((ret = configure_audio_filters(is, false)) < 0)
        goto fail;
      AVFilterContext* sink = is->out_audio_filter;
      sample_rate = av_buffersink_get_sample_rate(sink);
      ret = av_buffersink_get_ch_layout(sink, &ch_layout);
      if (ret < 0)
        goto fail;

      if ((ret = audio_open(is, &ch_layout, sample_rate, &is->audio_tgt)) < 0)
        goto fail;
      is->audio_hw_buf_size = ret;
      is->audio_src.freq = is->audio_tgt.freq;
      is->audio_src.fmt = is->audio_tgt.fmt;
      av_channel_layout_uninit(&is->audio_src.ch_layout);
      av_channel_layout_copy(&is->audio_src.ch_layout, &is->audio_tgt.ch_layout);
      is->audio_src.frame_size = is->audio_tgt.frame_size;
      is->audio_src.bytes_per_sec = is->audio_tgt.bytes_per_sec;
      is->audio_buf_size = 0;
      is->audio_buf_index = 0;
      is->audio_diff_avg_coef = exp(log(0.01) / sync_rules::audio_diff_avg_nb);
      is->audio_diff_avg_count = 0;
      is->audio_diff_threshold =
          static_cast<double>(is->audio_hw_buf_size) / is->audio_tgt.bytes_per_sec;

      is->audio_stream = stream_index;
      is->audio_st = ic->streams[stream_index];
      if ((ret = is->auddec.init(avctx, &is->audioq, is->continue_read_thread)) < 0)
        goto fail;
      if ((ic->iformat->flags & (AVFMT_NOBINSEARCH | AVFMT_NOGENSEARCH | AVFMT_NO_BYTE_SEEK)) &&
          !ic->iformat->read_seek) {
        is->auddec.start_pts = is->audio_st->start_time;
        is->auddec.start_pts_tb = is->audio_st->time_base;
      }
      avctx = nullptr;  // owned by the decoder now
      if ((ret = is->auddec.start(audio_thread, is)) < 0)
        goto out;
      SDL_PauseAudioDevice(is->audio_dev, 0);
      break;
    }
    case AVMEDIA_TYPE_VIDEO:
      is->video_stream = stream_index;
      is->video_st = ic->streams[stream_index];
      if ((ret = is->viddec.init(avctx, &is->videoq, is->continue_read_thread)) < 0)
        goto fail;
      avctx = nullptr;
      if ((ret = is->viddec.start(video_thread, is)) < 0)
        goto out;
      is->queue_attachments_req = 1;
      break;
    default:
      break;
  }
  goto out;

fail:
  avcodec_free_context(&avctx);
out:
  av_channel_layout_uninit(&ch_layout);
  av_dict_free(&opts);
  return ret;
}

void stream_component_close(player_state* is, int stream_index) {
  AVFormatContext* ic = is->ic;
  if (!ic || stream_index < 0 || stream_index >= static_cast<int>(ic->nb_streams))
    return;
  switch (ic->streams[stream_index]->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      is->auddec.abort(&is->sampq);
      if (is->audio_dev)
        SDL_CloseAudioDevice(is->audio_dev);
      is->audio_dev = 0;
      is->auddec.destroy();
      swr_free(&is->swr_ctx);
      av_freep(&is->audio_buf1);
      is->audio_buf1_size = 0;
      is->audio_buf = nullptr;
      avfilter_graph_free(&is->agraph);
      is->audio_st = nullptr;
      is->audio_stream = -1;
      break;
    case AVMEDIA_TYPE_VIDEO:
      is->viddec.abort(&is->pictq);
      is->viddec.destroy();
      is->video_st = nullptr;
      is->video_stream = -1;
      break;
    default:
      break;
  }
  ic->streams[stream_index]->discard = AVDISCARD_ALL;
}
