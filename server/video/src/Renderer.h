// The renditions of complete uploads, made by a bounded set of threads: the original
// ("OD", its streams copied into an MP4 that starts with its index, so a player reading it
// over HTTP can start and seek at once) and a lower one ("LD", scaled to ld_height, H.264
// and AAC), each by FFmpeg as a child process in the sandbox; then the courseware is
// registered with the service and the upload's bytes go.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ServiceLink.h"
#include "UploadStore.h"
#include "video/Server.h"

namespace video {

class Renderer {
public:
  // publicUrl() gives the start of the PlayURLs once the server listens.
  Renderer(const Config& config, UploadStore& store, const ServiceLink& service,
           std::function<std::string()> publicUrl);
  ~Renderer();

  void start();
  // Ends running renditions (their recordings stay rendering and are made again at the
  // next start) and joins the threads.
  void stop();
  // False when max_waiting recordings wait already.
  bool enqueue(const std::string& id);

  std::atomic<uint64_t> published{0};
  std::atomic<uint64_t> failed{0};

private:
  void run();
  void render(const std::string& id);
  // Runs FFmpeg with args, `input` readable (when not in `work`), writing in `work`.
  bool ffmpeg(const std::vector<std::string>& args, const std::string& input,
              const std::string& work, const std::string& what);

  const Config& config_;
  UploadStore& store_;
  const ServiceLink& service_;
  const std::function<std::string()> publicUrl_;
  std::string problem_;  // why the sandbox cannot be made; empty when it can

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  bool stopping_ = false;
  std::atomic<bool> cancel_{false};
  std::vector<std::thread> threads_;
};

}  // namespace video
