// The playback core: the state of one open file and the operations the control thread
// calls on it. The read thread, the decoder threads and the audio callback work on the
// same record.
#pragma once

#include <atomic>
#include <cstdint>

#include <SDL2/SDL.h>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "frame_queue.h"
#include "packet_queue.h"
#include "play_clock.h"
#include "rgb_converter.h"
#include "stream_decoder.h"

enum sync_type { sync_audio_master, sync_video_master, sync_external_clock };

// Options of one open; every open starts from these defaults.
struct player_options {
  player_options();
  ~player_options();
  player_options(const player_options&) = delete;
  player_options& operator=(const player_options&) = delete;

  int seek_by_bytes = -1;  // -1: decided from the input format
  int startup_volume = 100;
  sync_type av_sync_type = sync_audio_master;
  int framedrop = -1;  // -1: drop late pictures unless video is the master
  int infinite_buffer = -1;
  int autorotate = 1;
  AVDictionary* sws_dict = nullptr;
  AVDictionary* swr_opts = nullptr;
  AVDictionary* format_opts = nullptr;
  AVDictionary* codec_opts = nullptr;
};

// What the core reports, on the thread noted.
struct player_callbacks {
  void* context = nullptr;
  // Control thread: a picture became due; `position` in whole seconds.
  void (*on_frame)(void* context, const unsigned char* rgb, int width, int height,
                   int position) = nullptr;
  // Read thread, right after the container is opened: the total in whole seconds.
  void (*on_duration)(void* context, int total_seconds) = nullptr;
  // Control thread: the media has ended.
  void (*on_end)(void* context) = nullptr;
};

struct audio_params {
  int freq = 0;
  AVChannelLayout ch_layout{};
  AVSampleFormat fmt = AV_SAMPLE_FMT_NONE;
  int frame_size = 0;
  int bytes_per_sec = 0;
};

struct player_state {
  player_state();
  ~player_state();

  char filename[1024] = {0};
  const player_options* opts = nullptr;
  player_callbacks callbacks;

  SDL_Thread* read_tid = nullptr;
  const AVInputFormat* iformat = nullptr;
  std::atomic<int> abort_request{0};
  int force_refresh = 0;
  std::atomic<int> paused{0};
  int last_paused = 0;
  int queue_attachments_req = 0;
  std::atomic<int> seek_req{0};
  int seek_flags = 0;
  int64_t seek_pos = 0;
  int64_t seek_rel = 0;
  int read_pause_return = 0;
  AVFormatContext* ic = nullptr;
  // Set by the read thread once the input and its streams are open; until then the
  // control thread leaves the record alone.
  std::atomic<bool> ready{false};
  int realtime = 0;
  int seek_by_bytes = 0;
  int64_t file_size = -1;
  std::atomic<int> eof{0};
  std::atomic<bool> reader_done{false};  // the read thread has returned

  play_clock audclk;
  play_clock vidclk;
  play_clock extclk;

  packet_queue videoq;
  packet_queue audioq;
  packet_queue subtitleq;
  frame_queue pictq;
  frame_queue sampq;
  frame_queue subpq;

  stream_decoder auddec;
  stream_decoder viddec;

  int av_sync_type = sync_audio_master;

  int audio_stream = -1;
  AVStream* audio_st = nullptr;
  double audio_clock = 0;
  int audio_clock_serial = -1;
  double audio_diff_cum = 0;
  double audio_diff_avg_coef = 0;
  double audio_diff_threshold = 0;
  int audio_diff_avg_count = 0;
  int audio_hw_buf_size = 0;
  uint8_t* audio_buf = nullptr;
  uint8_t* audio_buf1 = nullptr;
  unsigned audio_buf_size = 0;
  unsigned audio_buf1_size = 0;
  int audio_buf_index = 0;
  int audio_write_buf_size = 0;
  int audio_volume = 0;
  int muted = 0;
  audio_params audio_src;
  audio_params audio_filter_src;
  audio_params audio_tgt;
  SwrContext* swr_ctx = nullptr;
  SDL_AudioDeviceID audio_dev = 0;
  int64_t audio_callback_time = 0;

  double frame_timer = 0;
  double frame_last_returned_time = 0;
  double frame_last_filter_delay = 0;
  int video_stream = -1;
  AVStream* video_st = nullptr;
  double max_frame_duration = 0;
  int frame_drops_early = 0;
  int frame_drops_late = 0;
  int step = 0;

  int subtitle_stream = -1;

  AVFilterContext* in_video_filter = nullptr;
  AVFilterContext* out_video_filter = nullptr;
  AVFilterContext* in_audio_filter = nullptr;
  AVFilterContext* out_audio_filter = nullptr;
  AVFilterGraph* agraph = nullptr;

  int last_video_stream = -1;
  int last_audio_stream = -1;

  rgb_converter rgb;
  int total_seconds = 0;             // written by the read thread before `ready`
  int last_delivered_position = -1;  // control thread
  bool ended = false;                // control thread: the end callback has run

  SDL_cond* continue_read_thread = nullptr;
};

// Opens `filename` (the read thread does the opening); null when the record or its
// threads cannot be made.
player_state* stream_open(const char* filename, const player_options* opts,
                          const player_callbacks& callbacks);
// Stops every thread and frees everything.
void stream_close(player_state* is);

void toggle_pause(player_state* is);
// A seek to `percent` of the input. Dropped (false) while a seek is pending, or while the
// input is not open yet.
bool seek_to_percent(player_state* is, int percent);
// Shows the next picture when it is due; shortens *remaining_time to when it will be.
void video_refresh(player_state* is, double* remaining_time);

// Internal, shared by the core's files.
int get_master_sync_type(const player_state* is);
double get_master_clock(const player_state* is);
int read_thread(void* arg);
int stream_component_open(player_state* is, int stream_index);
void stream_component_close(player_state* is, int stream_index);
int video_thread(void* arg);
int audio_thread(void* arg);
int configure_video_filters(AVFilterGraph* graph, player_state* is, const AVFrame* frame);
int configure_audio_filters(player_state* is, bool force_output_format);
int audio_open(player_state* is, const AVChannelLayout* wanted_channel_layout,
               int wanted_sample_rate, audio_params* audio_hw_params);
