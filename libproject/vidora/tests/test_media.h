// Test media made with the ffmpeg command-line tool in a temporary folder, and an observer
// that records what a player reports.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "vidora/vidora.h"

namespace vidora_test {

// A folder below the test's temporary directory, removed at destruction.
class temp_folder {
public:
  temp_folder();
  ~temp_folder();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Runs `ffmpeg -v error -y ARGS OUTPUT`; true on success.
bool ffmpeg(const std::string& args, const std::string& output);
std::vector<unsigned char> read_file(const std::string& path);

struct progress_report {
  int seconds;
  int total;
};

class recording_observer : public video_play {
public:
  // Keeps a copy of every picture when `keep_frames`.
  explicit recording_observer(bool keep_frames = false) : keep_frames_(keep_frames) {}

  void on_play_progress(int seconds, int totalSeconds) override;
  void on_video_frame(const unsigned char* rgb24, int width, int height) override;

  // Waits (bounded only against failure) until `condition` holds under the lock.
  bool wait_until(const std::function<bool()>& condition);
  // Runs on the player's thread for every picture (before it is counted).
  std::function<void(const unsigned char*, int, int)> frame_hook;

  std::mutex mutex;
  std::vector<progress_report> progress;
  std::vector<std::vector<unsigned char>> frames;
  int frame_count = 0;
  int last_width = 0;
  int last_height = 0;
  bool ended = false;  // a report with seconds == total arrived

private:
  bool keep_frames_;
  std::condition_variable cond_;
};

}  // namespace vidora_test

struct player_state;

namespace vidora_test {

// Drives the playback core as the control thread does, without a vidora object: opens
// `path`, refreshes until `stop_when(state)` holds or the media ends, then closes.
struct core_run_result {
  bool opened = false;  // the reader got as far as the streams
  bool ended = false;   // the end callback ran
  int frames = 0;
  int total = -1;  // from the duration callback
  std::vector<int> positions;
};
core_run_result run_core(const std::string& path,
                         const std::function<bool(player_state*)>& stop_when = nullptr);

}  // namespace vidora_test
