// The video decoder thread and its filter graph (with the rotation the stream asks for).
#include <cmath>
#include <cstring>
#include <string>

#include "player_state.h"
#include "sync_rules.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
}

// Rotation in degrees, clockwise, in [0, 360).
static double get_rotation(const int32_t* displaymatrix) {
  double theta = 0;
  if (displaymatrix)
    theta = -round(av_display_rotation_get(displaymatrix));
  theta -= 360 * floor(theta / 360 + 0.9 / 360);
  return theta;
}

static std::string dict_to_options(const AVDictionary* dict) {
  std::string out;
  const AVDictionaryEntry* e = nullptr;
  while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) {
    out += e->key;
    out += '=';
    out += e->value;
    out += ':';
  }
  if (!out.empty())
    out.pop_back();
  return out;
}

int configure_video_filters(AVFilterGraph* graph, player_state* is, const AVFrame* frame) {
  char buffersrc_args[256];
  AVFilterContext* filt_src = nullptr;
  AVFilterContext* filt_out = nullptr;
  AVFilterContext* last_filter = nullptr;
  AVCodecParameters* codecpar = is->video_st->codecpar;
  const AVRational fr = av_guess_frame_rate(is->ic, is->video_st, nullptr);
  int ret;

  const std::string sws_flags = dict_to_options(is->opts->sws_dict);
  graph->scale_sws_opts = av_strdup(sws_flags.c_str());

  int n = snprintf(buffersrc_args, sizeof(buffersrc_args),
                   "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width,
                   frame->height, frame->format, is->video_st->time_base.num,
                   is->video_st->time_base.den, codecpar->sample_aspect_ratio.num,
                   std::max(codecpar->sample_aspect_ratio.den, 1));
  if (fr.num && fr.den)
    snprintf(buffersrc_args + n, sizeof(buffersrc_args) - n, ":frame_rate=%d/%d", fr.num, fr.den);

  if ((ret = avfilter_graph_create_filter(&filt_src, avfilter_get_by_name("buffer"),
                                          "ffplay_buffer", buffersrc_args, nullptr, graph)) < 0)
    return ret;
  if ((ret = avfilter_graph_create_filter(&filt_out, avfilter_get_by_name("buffersink"),
                                          "ffplay_buffersink", nullptr, nullptr, graph)) < 0)
    return ret;

  last_filter = filt_out;
  // Filters are put in front of the sink one by one, so the last inserted runs first.
  auto insert_filter = [&](const char* name, const char* arg) -> int {
    AVFilterContext* filt_ctx = nullptr;
    const std::string instance = std::string("ffplay_") + name;
    int r = avfilter_graph_create_filter(&filt_ctx, avfilter_get_by_name(name), instance.c_str(),
                                         arg, nullptr, graph);
    if (r < 0)
      return r;
    r = avfilter_link(filt_ctx, 0, last_filter, 0);
    if (r < 0)
      return r;
    last_filter = filt_ctx;
    return 0;
  };

  if (is->opts->autorotate) {
    const int32_t* displaymatrix = reinterpret_cast<const int32_t*>(
        av_stream_get_side_data(is->video_st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    const double theta = get_rotation(displaymatrix);
    if (fabs(theta - 90) < 1.0) {
      ret = insert_filter("transpose", "clock");
    } else if (fabs(theta - 180) < 1.0) {
      ret = insert_filter("hflip", nullptr);
      if (ret >= 0)
        ret = insert_filter("vflip", nullptr);
    } else if (fabs(theta - 270) < 1.0) {
      ret = insert_filter("transpose", "cclock");
    } else if (fabs(theta) > 1.0) {
      char rotate_buf[64];
      snprintf(rotate_buf, sizeof(rotate_buf), "%f*PI/180", theta);
      ret = insert_filter("rotate", rotate_buf);
    }
    if (ret < 0)
      return ret;
  }

  if (last_filter == filt_out) {
    if ((ret = avfilter_link(filt_src, 0, filt_out, 0)) < 0)
      return ret;
  } else if ((ret = avfilter_link(filt_src, 0, last_filter, 0)) < 0) {
    return ret;
  }
  if ((ret = avfilter_graph_config(graph, nullptr)) < 0)
    return ret;

  is->in_video_filter = filt_src;
  is->out_video_filter = filt_out;
  return 0;
}

static int get_video_frame(player_state* is, AVFrame* frame) {
  const int got_picture = is->viddec.decode_frame(frame);
  if (got_picture < 0)
    return -1;
  if (got_picture) {
    double dpts = NAN;
    if (frame->pts != AV_NOPTS_VALUE)
      dpts = av_q2d(is->video_st->time_base) * frame->pts;
    frame->sample_aspect_ratio = av_guess_sample_aspect_ratio(is->ic, is->video_st, frame);

    const int framedrop = is->opts->framedrop;
    if (framedrop > 0 || (framedrop && get_master_sync_type(is) != sync_video_master)) {
      if (frame->pts != AV_NOPTS_VALUE) {
        const double diff = dpts - get_master_clock(is);
        if (!std::isnan(diff) && fabs(diff) < sync_rules::no_sync_threshold &&
            diff - is->frame_last_filter_delay < 0 && is->viddec.pkt_serial == is->vidclk.serial &&
            is->videoq.nb_packets) {
          is->frame_drops_early++;
          av_frame_unref(frame);
          return 0;
        }
      }
    }
  }
  return got_picture;
}

static int queue_picture(player_state* is, AVFrame* src_frame, double pts, double duration,
                         int64_t pos, int serial) {
  queued_frame* vp = is->pictq.peek_writable();
  if (!vp)
    return -1;
  vp->width = src_frame->width;
  vp->height = src_frame->height;
  vp->format = src_frame->format;
  vp->pts = pts;
  vp->duration = duration;
  vp->pos = pos;
  vp->serial = serial;
  av_frame_move_ref(vp->frame, src_frame);
  is->pictq.push();
  return 0;
}

int video_thread(void* arg) {
  player_state* is = static_cast<player_state*>(arg);
  AVFrame* frame = av_frame_alloc();
  AVRational tb = is->video_st->time_base;
  AVRational frame_rate = av_guess_frame_rate(is->ic, is->video_st, nullptr);
  AVFilterGraph* graph = nullptr;
  AVFilterContext* filt_out = nullptr;
  AVFilterContext* filt_in = nullptr;
  int last_w = 0;
  int last_h = 0;
  int last_format = -2;
  int last_serial = -1;
  int ret = 0;

  if (!frame)
    return AVERROR(ENOMEM);

  for (;;) {
    ret = get_video_frame(is, frame);
    if (ret < 0)
      break;
    if (!ret)
      continue;

    if (last_w != frame->width || last_h != frame->height || last_format != frame->format ||
        last_serial != is->viddec.pkt_serial) {
      avfilter_graph_free(&graph);
      graph = avfilter_graph_alloc();
      if (!graph) {
        ret = AVERROR(ENOMEM);
        break;
      }
      if ((ret = configure_video_filters(graph, is, frame)) < 0)
        break;
      filt_in = is->in_video_filter;
      filt_out = is->out_video_filter;
      last_w = frame->width;
      last_h = frame->height;
      last_format = frame->format;
      last_serial = is->viddec.pkt_serial;
      frame_rate = av_buffersink_get_frame_rate(filt_out);
    }

    ret = av_buffersrc_add_frame(filt_in, frame);
    if (ret < 0)
      break;

    while (ret >= 0) {
      is->frame_last_returned_time = clock_now();
      ret = av_buffersink_get_frame_flags(filt_out, frame, 0);
      if (ret < 0) {
        if (ret == AVERROR_EOF)
          is->viddec.finished = is->viddec.pkt_serial;
        ret = 0;
        break;
      }
      is->frame_last_filter_delay = clock_now() - is->frame_last_returned_time;
      if (fabs(is->frame_last_filter_delay) > sync_rules::no_sync_threshold / 10.0)
        is->frame_last_filter_delay = 0;
      tb = av_buffersink_get_time_base(filt_out);
      const double duration = (frame_rate.num && frame_rate.den)
                                  ? av_q2d(AVRational{frame_rate.den, frame_rate.num})
                                  : 0;
      const double pts = (frame->pts == AV_NOPTS_VALUE) ? NAN : frame->pts * av_q2d(tb);
      ret = queue_picture(is, frame, pts, duration, frame->pkt_pos, is->viddec.pkt_serial);
      av_frame_unref(frame);
      if (is->videoq.serial != is->viddec.pkt_serial)
        break;
    }
    if (ret < 0)
      break;
  }
  avfilter_graph_free(&graph);
  av_frame_free(&frame);
  return 0;
}
