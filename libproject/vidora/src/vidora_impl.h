// The player object: the caller's operations become commands for the control thread,
// which owns the playback core and calls the observer.
#pragma once

#include <atomic>
#include <deque>
#include <memory>

#include "player_command.h"
#include "velthread/velthread.h"
#include "vidora/vidora.h"

struct player_state;
struct player_options;

class vidora_impl : public vidora, public lthread {
public:
  static constexpr int max_path = 259;

  vidora_impl(const char* path, video_play* observer);
  ~vidora_impl() override;

  int start() override;
  int set_pause(bool paused) override;
  int seek(int percent) override;
  int stop() override;

  // For tests: the commands still queued, oldest first (payloads stay owned by the queue).
  std::deque<player_command> queued_commands();
  const char* path() const { return path_; }

protected:
  void run() override;

private:
  void push_command(int kind, void* payload);
  player_command wait_command(double* remaining_time);
  static void free_command(player_command& command);

  static void frame_callback(void* context, const unsigned char* rgb, int width, int height,
                             int position);
  static void duration_callback(void* context, int total_seconds);
  static void end_callback(void* context);

  video_play* observer_;
  bool started_ = false;
  int last_position_ = -1;
  std::atomic<int> total_seconds_{0};
  bool paused_ = false;
  char path_[max_path + 1];
  std::unique_ptr<std::deque<player_command>> commands_;
  std::unique_ptr<velmutex> commands_mutex_;
  player_state* state_ = nullptr;
};
