#include "test_media.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "eventually.h"

namespace vidora_test {

temp_folder::temp_folder() {
  std::string base = std::filesystem::temp_directory_path().string() + "/vidora-test-XXXXXX";
  std::vector<char> name(base.begin(), base.end());
  name.push_back('\0');
  if (mkdtemp(name.data()))
    path_ = name.data();
}

temp_folder::~temp_folder() {
  std::error_code ec;
  if (!path_.empty())
    std::filesystem::remove_all(path_, ec);
}

bool ffmpeg(const std::string& args, const std::string& output) {
  const std::string command = "ffmpeg -nostdin -v error -y " + args + " '" + output + "'";
  return std::system(command.c_str()) == 0;
}

std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
}

void recording_observer::on_play_progress(int seconds, int totalSeconds) {
  std::lock_guard<std::mutex> lock(mutex);
  progress.push_back({seconds, totalSeconds});
  if (seconds == totalSeconds)
    ended = true;
  cond_.notify_all();
}

void recording_observer::on_video_frame(const unsigned char* rgb24, int width, int height) {
  if (frame_hook)
    frame_hook(rgb24, width, height);
  std::lock_guard<std::mutex> lock(mutex);
  if (keep_frames_)
    frames.emplace_back(rgb24, rgb24 + static_cast<size_t>(width) * height * 3);
  frame_count++;
  last_width = width;
  last_height = height;
  cond_.notify_all();
}

bool recording_observer::wait_until(const std::function<bool()>& condition) {
  std::unique_lock<std::mutex> lock(mutex);
  return cond_.wait_for(lock, testsupport::wait_limit(std::chrono::seconds(120)), condition);
}

}  // namespace vidora_test

#include "player_state.h"

extern "C" {
#include <libavutil/time.h>
}

namespace vidora_test {

core_run_result run_core(const std::string& path,
                         const std::function<bool(player_state*)>& stop_when) {
  core_run_result result;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER))
    return result;
  player_options options;
  av_dict_set(&options.sws_dict, "flags", "bicubic", 0);
  player_callbacks callbacks;
  callbacks.context = &result;
  callbacks.on_frame = [](void* context, const unsigned char*, int, int, int position) {
    auto* r = static_cast<core_run_result*>(context);
    r->frames++;
    r->positions.push_back(position);
  };
  callbacks.on_duration = [](void* context, int total) {
    static_cast<core_run_result*>(context)->total = total;
  };
  callbacks.on_end = [](void* context) { static_cast<core_run_result*>(context)->ended = true; };
  player_state* is = stream_open(path.c_str(), &options, callbacks);
  if (is) {
    const auto deadline =
        std::chrono::steady_clock::now() + testsupport::wait_limit(std::chrono::seconds(120));
    double remaining = 0;
    while (!result.ended && std::chrono::steady_clock::now() < deadline) {
      if (is->reader_done && !is->ready)
        break;  // the input did not open: the reader ended quietly
      if (stop_when && stop_when(is))
        break;
      if (remaining > 0)
        av_usleep(static_cast<unsigned>(remaining * 1000000.0));
      remaining = 0.01;
      if (!is->paused || is->force_refresh)
        video_refresh(is, &remaining);
    }
    result.opened = is->ready;
    stream_close(is);
  }
  SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_TIMER);
  return result;
}

}  // namespace vidora_test
