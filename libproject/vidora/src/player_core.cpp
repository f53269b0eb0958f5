// Opening and closing the core, pause, seek and the clocks' master.
#include <cmath>
#include <cstring>

#include "player_state.h"
#include "sync_rules.h"

extern "C" {
#include <libavutil/avstring.h>
}

player_options::player_options() = default;

player_options::~player_options() {
  av_dict_free(&sws_dict);
  av_dict_free(&swr_opts);
  av_dict_free(&format_opts);
  av_dict_free(&codec_opts);
}

player_state::player_state()
    : pictq(&videoq, sync_rules::video_picture_queue_size, true),
      sampq(&audioq, sync_rules::sample_queue_size, true),
      subpq(&subtitleq, sync_rules::subpicture_queue_size, false) {}

player_state::~player_state() {
  av_channel_layout_uninit(&audio_src.ch_layout);
  av_channel_layout_uninit(&audio_filter_src.ch_layout);
  av_channel_layout_uninit(&audio_tgt.ch_layout);
  if (continue_read_thread)
    SDL_DestroyCond(continue_read_thread);
}

player_state* stream_open(const char* filename, const player_options* opts,
                          const player_callbacks& callbacks) {
  player_state* is = new (std::nothrow) player_state;
  if (!is)
    return nullptr;
  av_strlcpy(is->filename, filename, sizeof(is->filename));
  is->opts = opts;
  is->callbacks = callbacks;

  if (!is->pictq.ok() || !is->sampq.ok() || !is->subpq.ok() || !is->videoq.ok() ||
      !is->audioq.ok() || !is->subtitleq.ok()) {
    delete is;
    return nullptr;
  }
  is->continue_read_thread = SDL_CreateCond();
  if (!is->continue_read_thread) {
    delete is;
    return nullptr;
  }
  is->vidclk.init(&is->videoq.serial);
  is->audclk.init(&is->audioq.serial);
  is->extclk.init(nullptr);
  is->audio_clock_serial = -1;
  int volume = av_clip(opts->startup_volume, 0, 100);
  is->audio_volume = av_clip(SDL_MIX_MAXVOLUME * volume / 100, 0, SDL_MIX_MAXVOLUME);
  is->muted = 0;
  is->av_sync_type = opts->av_sync_type;
  is->read_tid = SDL_CreateThread(read_thread, "read_thread", is);
  if (!is->read_tid) {
    delete is;
    return nullptr;
  }
  return is;
}

void stream_close(player_state* is) {
  is->abort_request = 1;
  SDL_WaitThread(is->read_tid, nullptr);

  if (is->audio_stream >= 0)
    stream_component_close(is, is->audio_stream);
  if (is->video_stream >= 0)
    stream_component_close(is, is->video_stream);
  avformat_close_input(&is->ic);
  delete is;
}

int get_master_sync_type(const player_state* is) {
  if (is->av_sync_type == sync_video_master)
    return is->video_st ? sync_video_master : sync_audio_master;
  if (is->av_sync_type == sync_audio_master)
    return is->audio_st ? sync_audio_master : sync_external_clock;
  return sync_external_clock;
}

double get_master_clock(const player_state* is) {
  switch (get_master_sync_type(is)) {
    case sync_video_master:
      return is->vidclk.get();
    case sync_audio_master:
      return is->audclk.get();
    default:
      return is->extclk.get();
  }
}

static void stream_toggle_pause(player_state* is) {
  if (is->paused) {
    is->frame_timer += clock_now() - is->vidclk.last_updated;
    if (is->read_pause_return != AVERROR(ENOSYS))
      is->vidclk.paused = 0;
    is->vidclk.set(is->vidclk.get(), is->vidclk.serial);
  }
  is->extclk.set(is->extclk.get(), is->extclk.serial);
  is->paused = is->audclk.paused = is->vidclk.paused = is->extclk.paused = !is->paused;
}

void toggle_pause(player_state* is) {
  stream_toggle_pause(is);
  is->step = 0;
}

static bool stream_seek(player_state* is, int64_t pos, int64_t rel, bool by_bytes) {
  if (is->seek_req)
    return false;
  is->seek_pos = pos;
  is->seek_rel = rel;
  is->seek_flags &= ~AVSEEK_FLAG_BYTE;
  if (by_bytes)
    is->seek_flags |= AVSEEK_FLAG_BYTE;
  is->seek_req = 1;
  SDL_CondSignal(is->continue_read_thread);
  return true;
}

bool seek_to_percent(player_state* is, int percent) {
  if (!is->ready)
    return false;
  const sync_rules::seek_target target = sync_rules::seek_target_for(
      percent, is->seek_by_bytes, is->ic->duration, is->ic->start_time, is->file_size);
  return stream_seek(is, target.pos, 0, target.by_bytes);
}

// Picture timing ------------------------------------------------------------------------

static double vp_duration(const player_state* is, const queued_frame* vp,
                          const queued_frame* nextvp) {
  if (vp->serial == nextvp->serial) {
    const double duration = nextvp->pts - vp->pts;
    if (std::isnan(duration) || duration <= 0 || duration > is->max_frame_duration)
      return vp->duration;
    return duration;
  }
  return 0.0;
}

static double compute_target_delay(double delay, player_state* is) {
  if (get_master_sync_type(is) == sync_video_master)
    return delay;
  const double diff = is->vidclk.get() - get_master_clock(is);
  return sync_rules::target_delay(delay, diff, is->max_frame_duration);
}

static void update_video_pts(player_state* is, double pts, int serial) {
  is->vidclk.set(pts, serial);
  is->extclk.sync_to_slave(is->vidclk);
}

static void check_external_clock_speed(player_state* is) {
  using namespace sync_rules;
  if ((is->video_stream >= 0 && is->videoq.nb_packets <= external_clock_min_frames) ||
      (is->audio_stream >= 0 && is->audioq.nb_packets <= external_clock_min_frames)) {
    is->extclk.set_speed(
        std::max(external_clock_speed_min, is->extclk.speed - external_clock_speed_step));
  } else if ((is->video_stream < 0 || is->videoq.nb_packets > external_clock_max_frames) &&
             (is->audio_stream < 0 || is->audioq.nb_packets > external_clock_max_frames)) {
    is->extclk.set_speed(
        std::min(external_clock_speed_max, is->extclk.speed + external_clock_speed_step));
  } else {
    const double speed = is->extclk.speed;
    if (speed != 1.0)
      is->extclk.set_speed(speed +
                           external_clock_speed_step * (1.0 - speed) / std::fabs(1.0 - speed));
  }
}

static void deliver_picture(player_state* is) {
  queued_frame* vp = is->pictq.peek_last();
  const unsigned char* rgb = is->rgb.convert(vp->frame);
  if (!rgb)
    return;
  double start = 0;
  if (is->video_st->start_time != AV_NOPTS_VALUE)
    start = is->video_st->start_time * av_q2d(is->video_st->time_base);
  const int position =
      std::isnan(vp->pts) ? is->last_delivered_position : static_cast<int>(vp->pts - start);
  is->last_delivered_position = position;
  if (is->callbacks.on_frame)
    is->callbacks.on_frame(is->callbacks.context, rgb, is->rgb.width(), is->rgb.height(), position);
}

// Nothing more will come from the input: the reader is at its end and each decoder has
// drained what it was given.
static bool input_drained(const player_state* is) {
  return is->eof && (!is->video_st || is->viddec.finished == is->videoq.serial) &&
         (!is->audio_st || is->auddec.finished == is->audioq.serial);
}

static void end_of_media(player_state* is) {
  if (is->ended)
    return;
  is->ended = true;
  if (is->callbacks.on_end)
    is->callbacks.on_end(is->callbacks.context);
}

void video_refresh(player_state* is, double* remaining_time) {
  if (!is->ready)
    return;
  if (!is->paused && get_master_sync_type(is) == sync_external_clock && is->realtime)
    check_external_clock_speed(is);

  if (!is->video_st) {
    // Sound only: the end comes when the last samples have been handed to the device.
    if (input_drained(is) && is->sampq.nb_remaining() == 0)
      end_of_media(is);
    return;
  }

  for (;;) {
    if (is->pictq.nb_remaining() == 0) {
      if (is->total_seconds > 0 && is->last_delivered_position + 1 == is->total_seconds)
        end_of_media(is);
      else if (input_drained(is))
        end_of_media(is);
      break;
    }
    queued_frame* lastvp = is->pictq.peek_last();
    queued_frame* vp = is->pictq.peek();
    if (vp->serial != is->videoq.serial) {
      is->pictq.next();
      continue;
    }
    if (lastvp->serial != vp->serial)
      is->frame_timer = clock_now();
    if (is->paused)
      break;

    const double last_duration = vp_duration(is, lastvp, vp);
    const double delay = compute_target_delay(last_duration, is);
    const double time = clock_now();
    if (time < is->frame_timer + delay) {
      *remaining_time = std::min(is->frame_timer + delay - time, *remaining_time);
      break;
    }
    is->frame_timer += delay;
    if (delay > 0 && time - is->frame_timer > sync_rules::sync_threshold_max)
      is->frame_timer = time;

    SDL_LockMutex(is->pictq.mutex());
    if (!std::isnan(vp->pts))
      update_video_pts(is, vp->pts, vp->serial);
    SDL_UnlockMutex(is->pictq.mutex());

    if (is->pictq.nb_remaining() > 1) {
      queued_frame* nextvp = is->pictq.peek_next();
      const double duration = vp_duration(is, vp, nextvp);
      const int framedrop = is->opts->framedrop;
      if (!is->step &&
          (framedrop > 0 || (framedrop && get_master_sync_type(is) != sync_video_master)) &&
          time > is->frame_timer + duration) {
        is->frame_drops_late++;
        is->pictq.next();
        continue;
      }
    }
    is->pictq.next();
    is->force_refresh = 1;
    if (is->step && !is->paused)
      stream_toggle_pause(is);
    break;
  }

  if (is->force_refresh && is->pictq.rindex_shown && !is->ended)
    deliver_picture(is);
  is->force_refresh = 0;
}
