#include "vidora_impl.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "player_state.h"
#include "sync_rules.h"

extern "C" {
#include <libavutil/time.h>
}

vidora* vidora::create(const char* path, video_play* observer, int /*audioDevice*/) {
  // The speaker choice is not used: the sound goes to the system's default output.
  return new (std::nothrow) vidora_impl(path ? path : "", observer);
}

vidora_impl::vidora_impl(const char* path, video_play* observer)
    : observer_(observer),
      commands_(new std::deque<player_command>),
      commands_mutex_(new velmutex) {
  strncpy(path_, path, max_path);
  path_[max_path] = '\0';
}

vidora_impl::~vidora_impl() {
  if (started_)
    stop();
  lthread::quit();
  for (player_command& command : *commands_)
    free_command(command);
  commands_.reset();
  commands_mutex_.reset();
}

int vidora_impl::start() {
  if (started_)
    return 0;
  started_ = true;
  return lthread::start() == 0 ? 0 : -1;
}

int vidora_impl::set_pause(bool paused) {
  if (paused == paused_)
    return 0;
  paused_ = paused;
  push_command(player_command::toggle_pause, nullptr);
  return 0;
}

int vidora_impl::seek(int percent) {
  int* payload = new (std::nothrow) int(percent);
  if (!payload)
    return -1;
  push_command(player_command::seek, payload);
  return 0;
}

int vidora_impl::stop() {
  if (!started_)
    return 0;
  started_ = false;
  push_command(player_command::quit, nullptr);
  lthread::quit();
  return 0;
}

std::deque<player_command> vidora_impl::queued_commands() {
  velmutex_lock lock(*commands_mutex_);
  return *commands_;
}

void vidora_impl::push_command(int kind, void* payload) {
  velmutex_lock lock(*commands_mutex_);
  commands_->push_back({kind, payload});
}

void vidora_impl::free_command(player_command& command) {
  if (command.kind == player_command::seek)
    delete static_cast<int*>(command.payload);
  command.payload = nullptr;
}

player_command vidora_impl::wait_command(double* remaining_time) {
  commands_mutex_->lock();
  while (commands_->empty()) {
    commands_mutex_->unlock();
    if (*remaining_time > 0.0)
      av_usleep(static_cast<unsigned>(*remaining_time * 1000000.0));
    *remaining_time = sync_rules::refresh_rate;
    if (!state_->paused || state_->force_refresh)
      video_refresh(state_, remaining_time);
    commands_mutex_->lock();
  }
  player_command command = commands_->front();
  commands_->pop_front();
  commands_mutex_->unlock();
  return command;
}

void vidora_impl::run() {
  av_log_set_flags(AV_LOG_SKIP_REPEATED);
  avformat_network_init();
  player_options* options = new (std::nothrow) player_options;
  if (!options) {
    avformat_network_deinit();
    return;
  }
  av_dict_set(&options->sws_dict, "flags", "bicubic", 0);
  if (!SDL_getenv("SDL_AUDIO_ALSA_SET_BUFFER_SIZE"))
    SDL_setenv("SDL_AUDIO_ALSA_SET_BUFFER_SIZE", "1", 1);
  // Per subsystem and counted, so that other SDL users in the process keep theirs.
  if (SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER)) {
    av_log(nullptr, AV_LOG_FATAL, "Could not initialize SDL - %s\n", SDL_GetError());
    delete options;
    avformat_network_deinit();
    return;
  }

  player_callbacks callbacks;
  callbacks.context = this;
  callbacks.on_frame = frame_callback;
  callbacks.on_duration = duration_callback;
  callbacks.on_end = end_callback;
  // The callbacks go in before the read thread starts: it reports the duration first.
  state_ = stream_open(path_, options, callbacks);
  if (!state_) {
    delete options;
    avformat_network_deinit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER);
    return;
  }

  double remaining_time = 0.0;
  for (bool running = true; running;) {
    player_command command = wait_command(&remaining_time);
    switch (command.kind) {
      case player_command::toggle_pause:
        toggle_pause(state_);
        break;
      case player_command::seek:
        seek_to_percent(state_, *static_cast<int*>(command.payload));
        break;
      case player_command::quit:
        running = false;
        break;
      default:
        break;
    }
    free_command(command);
  }

  stream_close(state_);
  state_ = nullptr;
  delete options;
  avformat_network_deinit();
  SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER);
}

void vidora_impl::frame_callback(void* context, const unsigned char* rgb, int width, int height,
                                 int position) {
  vidora_impl* self = static_cast<vidora_impl*>(context);
  if (self->observer_)
    self->observer_->on_video_frame(rgb, width, height);
  const int total = self->total_seconds_;
  if (position != self->last_position_ && position <= total) {
    self->last_position_ = position;
    if (self->observer_)
      self->observer_->on_play_progress(position, total);
  }
}

void vidora_impl::duration_callback(void* context, int total_seconds) {
  static_cast<vidora_impl*>(context)->total_seconds_ = total_seconds;
}

void vidora_impl::end_callback(void* context) {
  vidora_impl* self = static_cast<vidora_impl*>(context);
  const int total = self->total_seconds_;
  if (self->observer_)
    self->observer_->on_play_progress(total, total);
  self->push_command(player_command::quit, nullptr);
}
