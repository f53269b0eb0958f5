// The audio decoder thread, its filter graph, the SDL device and its callback. The audio
// clock, the master, is set from here.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "player_state.h"
#include "sync_rules.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

static int cmp_audio_fmts(AVSampleFormat fmt1, int64_t channel_count1, AVSampleFormat fmt2,
                          int64_t channel_count2) {
  // Mono is the same whether planar or packed.
  if (channel_count1 == 1 && channel_count2 == 1)
    return av_get_packed_sample_fmt(fmt1) != av_get_packed_sample_fmt(fmt2);
  return channel_count1 != channel_count2 || fmt1 != fmt2;
}

int configure_audio_filters(player_state* is, bool force_output_format) {
  static const enum AVSampleFormat sample_fmts[] = {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_NONE};
  int sample_rates[2] = {0, -1};
  AVFilterContext* filt_asrc = nullptr;
  AVFilterContext* filt_asink = nullptr;
  char asrc_args[256];
  char layout_desc[256];
  std::string swr_opts;
  const AVDictionaryEntry* e = nullptr;
  int ret;

  avfilter_graph_free(&is->agraph);
  if (!(is->agraph = avfilter_graph_alloc()))
    return AVERROR(ENOMEM);

  while ((e = av_dict_get(is->opts->swr_opts, "", e, AV_DICT_IGNORE_SUFFIX))) {
    swr_opts += e->key;
    swr_opts += '=';
    swr_opts += e->value;
    swr_opts += ':';
  }
  if (!swr_opts.empty())
    swr_opts.pop_back();
  av_opt_set(is->agraph, "aresample_swr_opts", swr_opts.c_str(), 0);

  int n = snprintf(asrc_args, sizeof(asrc_args),
                   "sample_rate=%d:sample_fmt=%s:channels=%d:time_base=%d/%d",
                   is->audio_filter_src.freq, av_get_sample_fmt_name(is->audio_filter_src.fmt),
                   is->audio_filter_src.ch_layout.nb_channels, 1, is->audio_filter_src.freq);
  if (is->audio_filter_src.ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
    snprintf(asrc_args + n, sizeof(asrc_args) - n, ":channel_layout=0x%llx",
             static_cast<unsigned long long>(is->audio_filter_src.ch_layout.u.mask));

  ret = avfilter_graph_create_filter(&filt_asrc, avfilter_get_by_name("abuffer"), "ffplay_abuffer",
                                     asrc_args, nullptr, is->agraph);
  if (ret < 0)
    goto end;
  ret = avfilter_graph_create_filter(&filt_asink, avfilter_get_by_name("abuffersink"),
                                     "ffplay_abuffersink", nullptr, nullptr, is->agraph);
  if (ret < 0)
    goto end;
  if ((ret = av_opt_set_int_list(filt_asink, "sample_fmts", sample_fmts, AV_SAMPLE_FMT_NONE,
                                 AV_OPT_SEARCH_CHILDREN)) < 0)
    goto end;
  if ((ret = av_opt_set_int(filt_asink, "all_channel_counts", 1, AV_OPT_SEARCH_CHILDREN)) < 0)
    goto end;
  if (force_output_format) {
    av_channel_layout_describe(&is->audio_tgt.ch_layout, layout_desc, sizeof(layout_desc));
    sample_rates[0] = is->audio_tgt.freq;
    if ((ret = av_opt_set_int(filt_asink, "all_channel_counts", 0, AV_OPT_SEARCH_CHILDREN)) < 0)
      goto end;
    if ((ret = av_opt_set(filt_asink, "ch_layouts", layout_desc, AV_OPT_SEARCH_CHILDREN)) < 0)
      goto end;
    if ((ret = av_opt_set_int_list(filt_asink, "sample_rates", sample_rates, -1,
                                   AV_OPT_SEARCH_CHILDREN)) < 0)
      goto end;
  }
  if ((ret = avfilter_link(filt_asrc, 0, filt_asink, 0)) < 0)
    goto end;
  if ((ret = avfilter_graph_config(is->agraph, nullptr)) < 0)
    goto end;

  is->in_audio_filter = filt_asrc;
  is->out_audio_filter = filt_asink;

end:
  if (ret < 0)
    avfilter_graph_free(&is->agraph);
  return ret;
}

int audio_thread(void* arg) {
  player_state* is = static_cast<player_state*>(arg);
  AVFrame* frame = av_frame_alloc();
  int last_serial = -1;
  int ret = 0;
  if (!frame)
    return AVERROR(ENOMEM);

  do {
    const int got_frame = is->auddec.decode_frame(frame);
    if (got_frame < 0)
      break;
    if (got_frame) {
      const bool reconfigure =
          cmp_audio_fmts(is->audio_filter_src.fmt, is->audio_filter_src.ch_layout.nb_channels,
                         static_cast<AVSampleFormat>(frame->format),
                         frame->ch_layout.nb_channels) ||
          av_channel_layout_compare(&is->audio_filter_src.ch_layout, &frame->ch_layout) ||
          is->audio_filter_src.freq != frame->sample_rate || is->auddec.pkt_serial != last_serial;
      if (reconfigure) {
        is->audio_filter_src.fmt = static_cast<AVSampleFormat>(frame->format);
        av_channel_layout_uninit(&is->audio_filter_src.ch_layout);
        if ((ret = av_channel_layout_copy(&is->audio_filter_src.ch_layout, &frame->ch_layout)) < 0)
          break;
        is->audio_filter_src.freq = frame->sample_rate;
        last_serial = is->auddec.pkt_serial;
        if ((ret = configure_audio_filters(is, true)) < 0)
          break;
      }
      if ((ret = av_buffersrc_add_frame(is->in_audio_filter, frame)) < 0)
        break;
      while ((ret = av_buffersink_get_frame_flags(is->out_audio_filter, frame, 0)) >= 0) {
        const AVRational tb = av_buffersink_get_time_base(is->out_audio_filter);
        queued_frame* af = is->sampq.peek_writable();
        if (!af) {
          ret = -1;
          break;
        }
        af->pts = (frame->pts == AV_NOPTS_VALUE) ? NAN : frame->pts * av_q2d(tb);
        af->pos = frame->pkt_pos;
        af->serial = is->auddec.pkt_serial;
        af->duration = av_q2d(AVRational{frame->nb_samples, frame->sample_rate});
        av_frame_move_ref(af->frame, frame);
        is->sampq.push();
        if (is->audioq.serial != is->auddec.pkt_serial)
          break;
      }
      if (ret == -1)
        break;
      if (ret == AVERROR_EOF)
        is->auddec.finished = is->auddec.pkt_serial;
    }
  } while (ret >= 0 || ret == AVERROR(EAGAIN) || ret == AVERROR_EOF);
  av_frame_free(&frame);
  return 0;
}

// How many samples to play of a frame of `nb_samples`, so that a slave audio clock
// follows the master; with audio as the master nothing changes.
static int synchronize_audio(player_state* is, int nb_samples) {
  int wanted_nb_samples = nb_samples;
  if (get_master_sync_type(is) != sync_audio_master) {
    const double diff = is->audclk.get() - get_master_clock(is);
    if (!std::isnan(diff) && fabs(diff) < sync_rules::no_sync_threshold) {
      is->audio_diff_cum = diff + is->audio_diff_avg_coef * is->audio_diff_cum;
      if (is->audio_diff_avg_count < sync_rules::audio_diff_avg_nb) {
        is->audio_diff_avg_count++;
      } else {
        const double avg_diff = is->audio_diff_cum * (1.0 - is->audio_diff_avg_coef);
        if (fabs(avg_diff) >= is->audio_diff_threshold) {
          wanted_nb_samples = nb_samples + static_cast<int>(diff * is->audio_src.freq);
          const int min_nb_samples =
              nb_samples * (100 - sync_rules::sample_correction_percent_max) / 100;
          const int max_nb_samples =
              nb_samples * (100 + sync_rules::sample_correction_percent_max) / 100;
          wanted_nb_samples = av_clip(wanted_nb_samples, min_nb_samples, max_nb_samples);
        }
      }
    } else {
      is->audio_diff_avg_count = 0;
      is->audio_diff_cum = 0;
    }
  }
  return wanted_nb_samples;
}

// Decodes one audio frame into is->audio_buf (resampled to the device's format when
// needed). The size in bytes, or -1 while paused or on failure.
static int audio_decode_frame(player_state* is) {
  if (is->paused)
    return -1;
  queued_frame* af;
  do {
    if (!(af = is->sampq.peek_readable()))
      return -1;
    is->sampq.next();
  } while (af->serial != is->audioq.serial);

  AVFrame* f = af->frame;
  const int data_size = av_samples_get_buffer_size(nullptr, f->ch_layout.nb_channels, f->nb_samples,
                                                   static_cast<AVSampleFormat>(f->format), 1);
  const int wanted_nb_samples = synchronize_audio(is, f->nb_samples);
  int resampled_data_size;

  if (f->format != is->audio_src.fmt ||
      av_channel_layout_compare(&f->ch_layout, &is->audio_src.ch_layout) ||
      f->sample_rate != is->audio_src.freq ||
      (wanted_nb_samples != f->nb_samples && !is->swr_ctx)) {
    swr_free(&is->swr_ctx);
    if (swr_alloc_set_opts2(&is->swr_ctx, &is->audio_tgt.ch_layout, is->audio_tgt.fmt,
                            is->audio_tgt.freq, &f->ch_layout,
                            static_cast<AVSampleFormat>(f->format), f->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(is->swr_ctx) < 0) {
      av_log(nullptr, AV_LOG_ERROR,
             "Cannot create sample rate converter for conversion of %d Hz %s %d channels to %d Hz "
             "%s %d channels!\n",
             f->sample_rate, av_get_sample_fmt_name(static_cast<AVSampleFormat>(f->format)),
             f->ch_layout.nb_channels, is->audio_tgt.freq,
             av_get_sample_fmt_name(is->audio_tgt.fmt), is->audio_tgt.ch_layout.nb_channels);
      swr_free(&is->swr_ctx);
      return -1;
    }
    av_channel_layout_uninit(&is->audio_src.ch_layout);
    if (av_channel_layout_copy(&is->audio_src.ch_layout, &f->ch_layout) < 0)
      return -1;
    is->audio_src.freq = f->sample_rate;
    is->audio_src.fmt = static_cast<AVSampleFormat>(f->format);
  }

  if (is->swr_ctx) {
    const uint8_t** in = const_cast<const uint8_t**>(f->extended_data);
    uint8_t** out = &is->audio_buf1;
    const int out_count = static_cast<int>(
        static_cast<int64_t>(wanted_nb_samples) * is->audio_tgt.freq / f->sample_rate + 256);
    const int out_size = av_samples_get_buffer_size(nullptr, is->audio_tgt.ch_layout.nb_channels,
                                                    out_count, is->audio_tgt.fmt, 0);
    if (out_size < 0)
      return -1;
    if (wanted_nb_samples != f->nb_samples) {
      if (swr_set_compensation(
              is->swr_ctx,
              (wanted_nb_samples - f->nb_samples) * is->audio_tgt.freq / f->sample_rate,
              wanted_nb_samples * is->audio_tgt.freq / f->sample_rate) < 0)
        return -1;
    }
    av_fast_malloc(&is->audio_buf1, &is->audio_buf1_size, out_size);
    if (!is->audio_buf1)
      return AVERROR(ENOMEM);
    const int len2 = swr_convert(is->swr_ctx, out, out_count, in, f->nb_samples);
    if (len2 < 0)
      return -1;
    if (len2 == out_count) {
      // The output buffer was too small: start the converter afresh next time.
      if (swr_init(is->swr_ctx) < 0)
        swr_free(&is->swr_ctx);
    }
    is->audio_buf = is->audio_buf1;
    resampled_data_size =
        len2 * is->audio_tgt.ch_layout.nb_channels * av_get_bytes_per_sample(is->audio_tgt.fmt);
  } else {
    is->audio_buf = f->data[0];
    resampled_data_size = data_size;
  }

  if (!std::isnan(af->pts))
    is->audio_clock = af->pts + static_cast<double>(f->nb_samples) / f->sample_rate;
  else
    is->audio_clock = NAN;
  is->audio_clock_serial = af->serial;
  return resampled_data_size;
}

static void sdl_audio_callback(void* opaque, Uint8* stream, int len) {
  player_state* is = static_cast<player_state*>(opaque);
  is->audio_callback_time = av_gettime_relative();

  while (len > 0) {
    if (is->audio_buf_index >= static_cast<int>(is->audio_buf_size)) {
      const int audio_size = audio_decode_frame(is);
      if (audio_size < 0) {
        // Silence while paused or when nothing is ready.
        is->audio_buf = nullptr;
        is->audio_buf_size =
            sync_rules::audio_min_buffer_size / is->audio_tgt.frame_size * is->audio_tgt.frame_size;
      } else {
        is->audio_buf_size = audio_size;
      }
      is->audio_buf_index = 0;
    }
    int len1 = is->audio_buf_size - is->audio_buf_index;
    if (len1 > len)
      len1 = len;
    if (!is->muted && is->audio_buf && is->audio_volume == SDL_MIX_MAXVOLUME) {
      memcpy(stream, is->audio_buf + is->audio_buf_index, len1);
    } else {
      memset(stream, 0, len1);
      if (!is->muted && is->audio_buf)
        SDL_MixAudioFormat(stream, is->audio_buf + is->audio_buf_index, AUDIO_S16SYS, len1,
                           is->audio_volume);
    }
    len -= len1;
    stream += len1;
    is->audio_buf_index += len1;
  }
  is->audio_write_buf_size = is->audio_buf_size - is->audio_buf_index;
  // The device holds about two buffers that are still to be heard.
  if (!std::isnan(is->audio_clock)) {
    is->audclk.set_at(is->audio_clock - static_cast<double>(2 * is->audio_hw_buf_size +
                                                            is->audio_write_buf_size) /
                                            is->audio_tgt.bytes_per_sec,
                      is->audio_clock_serial, is->audio_callback_time / 1000000.0);
    is->extclk.sync_to_slave(is->audclk);
  }
}

int audio_open(player_state* is, const AVChannelLayout* wanted_channel_layout,
               int wanted_sample_rate, audio_params* audio_hw_params) {
  static const int next_nb_channels[] = {0, 0, 1, 6, 2, 6, 4, 6};
  static const int next_sample_rates[] = {0, 44100, 48000, 96000, 192000};
  int next_sample_rate_idx = FF_ARRAY_ELEMS(next_sample_rates) - 1;
  SDL_AudioSpec wanted_spec;
  SDL_AudioSpec spec;
  AVChannelLayout layout{};
  int wanted_nb_channels;

  if (av_channel_layout_copy(&layout, wanted_channel_layout) < 0)
    return -1;
  wanted_nb_channels = layout.nb_channels;
  if (const char* env = SDL_getenv("SDL_AUDIO_CHANNELS")) {
    wanted_nb_channels = atoi(env);
    av_channel_layout_uninit(&layout);
    av_channel_layout_default(&layout, wanted_nb_channels);
  }
  if (layout.order != AV_CHANNEL_ORDER_NATIVE) {
    av_channel_layout_uninit(&layout);
    av_channel_layout_default(&layout, wanted_nb_channels);
  }
  wanted_nb_channels = layout.nb_channels;
  memset(&wanted_spec, 0, sizeof(wanted_spec));
  wanted_spec.channels = wanted_nb_channels;
  wanted_spec.freq = wanted_sample_rate;
  if (wanted_spec.freq <= 0 || wanted_spec.channels <= 0) {
    av_log(nullptr, AV_LOG_ERROR, "Invalid sample rate or channel count!\n");
    av_channel_layout_uninit(&layout);
    return -1;
  }
  while (next_sample_rate_idx && next_sample_rates[next_sample_rate_idx] >= wanted_spec.freq)
    next_sample_rate_idx--;
  wanted_spec.format = AUDIO_S16SYS;
  wanted_spec.silence = 0;
  wanted_spec.samples = static_cast<Uint16>(sync_rules::audio_buffer_samples(wanted_spec.freq));
  wanted_spec.callback = sdl_audio_callback;
  wanted_spec.userdata = is;
  while (!(is->audio_dev = SDL_OpenAudioDevice(
               nullptr, 0, &wanted_spec, &spec,
               SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE))) {
    av_log(nullptr, AV_LOG_WARNING, "SDL_OpenAudio (%d channels, %d Hz): %s\n",
           wanted_spec.channels, wanted_spec.freq, SDL_GetError());
    wanted_spec.channels = next_nb_channels[FFMIN(7, wanted_spec.channels)];
    if (!wanted_spec.channels) {
      wanted_spec.freq = next_sample_rates[next_sample_rate_idx--];
      wanted_spec.channels = wanted_nb_channels;
      if (!wanted_spec.freq) {
        av_log(nullptr, AV_LOG_ERROR, "No more combinations to try, audio open failed\n");
        av_channel_layout_uninit(&layout);
        return -1;
      }
    }
    av_channel_layout_uninit(&layout);
    av_channel_layout_default(&layout, wanted_spec.channels);
  }
  if (spec.format != AUDIO_S16SYS) {
    av_log(nullptr, AV_LOG_ERROR, "SDL advised audio format %d is not supported!\n", spec.format);
    SDL_CloseAudioDevice(is->audio_dev);
    is->audio_dev = 0;
    av_channel_layout_uninit(&layout);
    return -1;
  }
  if (spec.channels != wanted_spec.channels) {
    av_channel_layout_uninit(&layout);
    av_channel_layout_default(&layout, spec.channels);
  }

  audio_hw_params->fmt = AV_SAMPLE_FMT_S16;
  audio_hw_params->freq = spec.freq;
  av_channel_layout_uninit(&audio_hw_params->ch_layout);
  if (av_channel_layout_copy(&audio_hw_params->ch_layout, &layout) < 0) {
    av_channel_layout_uninit(&layout);
    return -1;
  }
  av_channel_layout_uninit(&layout);
  audio_hw_params->frame_size = av_samples_get_buffer_size(
      nullptr, audio_hw_params->ch_layout.nb_channels, 1, audio_hw_params->fmt, 1);
  audio_hw_params->bytes_per_sec =
      av_samples_get_buffer_size(nullptr, audio_hw_params->ch_layout.nb_channels,
                                 audio_hw_params->freq, audio_hw_params->fmt, 1);
  if (audio_hw_params->bytes_per_sec <= 0 || audio_hw_params->frame_size <= 0) {
    SDL_CloseAudioDevice(is->audio_dev);
    is->audio_dev = 0;
    return -1;
  }
  return spec.size;
}
