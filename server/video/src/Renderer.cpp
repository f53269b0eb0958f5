#include "Renderer.h"

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "ChildProcess.h"
#include "Sandbox.h"
#include "convert/Converter.h"
#include "tavsrv/Log.h"

namespace video {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr const char* kNetworkText = "网络异常，请检查网络后重试！";
constexpr const char* kFailedText = "课件上传失败！";

int64_t msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

Renderer::Renderer(const Config& config, UploadStore& store, const ServiceLink& service,
                   std::function<std::string()> publicUrl)
    : config_(config), store_(store), service_(service), publicUrl_(std::move(publicUrl)) {}

Renderer::~Renderer() {
  stop();
}

void Renderer::start() {
  if (config_.sandbox) {
    convert::Tools tools;
    tools.bwrap = config_.bwrap;
    problem_ = convert::sandbox_problem(tools);
    if (!problem_.empty())
      tavsrv::logError("tav-video: FFmpeg's sandbox cannot be made (" + problem_ +
                       "): every recording will fail; --unsandboxed renders without it");
  } else {
    tavsrv::logWarn("tav-video: --unsandboxed: FFmpeg reads uploads with this server's rights");
  }
  stopping_ = false;
  cancel_ = false;
  for (size_t i = 0; i < config_.renderers; ++i)
    threads_.emplace_back([this] { run(); });
}

void Renderer::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cancel_ = true;
  wake_.notify_all();
  for (std::thread& t : threads_)
    t.join();
  threads_.clear();
}

bool Renderer::enqueue(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.size() >= config_.max_waiting)
    return false;
  queue_.push_back(id);
  wake_.notify_one();
  return true;
}

void Renderer::run() {
  for (;;) {
    std::string id;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_)
        return;
      id = queue_.front();
      queue_.pop_front();
    }
    render(id);
  }
}

bool Renderer::ffmpeg(const std::vector<std::string>& args, const std::string& input,
                      const std::string& work, const std::string& what) {
  std::vector<std::string> argv;
  const std::string program = convert::find_executable(config_.ffmpeg);
  if (program.empty()) {
    tavsrv::logError("tav-video: " + config_.ffmpeg + " is not installed");
    return false;
  }
  if (config_.sandbox) {
    argv = convert::sandboxed(convert::find_executable(config_.bwrap), program, args, work, input);
  } else {
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
  }
  convert::ChildOptions options;
  options.log_path = work + "/" + what + ".log";
  options.work_dir = work;
  options.address_space = config_.render_memory;
  const auto deadline = std::chrono::steady_clock::now() + config_.render_timeout;
  const convert::ChildResult result =
      convert::run_child(argv, options, deadline, [this] { return !cancel_.load(); });
  if (!result.ok() && result.how != convert::ChildResult::cancelled)
    tavsrv::logWarn("tav-video: " + what + " failed (" +
                    (result.how == convert::ChildResult::timed_out
                         ? std::string("time limit")
                         : "status " + std::to_string(result.status)) +
                    "), see " + options.log_path);
  return result.ok();
}

void Renderer::render(const std::string& id) {
  const auto upload = store_.get(id);
  if (!upload || upload->state != UploadState::rendering)
    return;
  const auto start = std::chrono::steady_clock::now();
  const fs::path work = store_.workDir(id);
  const std::string input = store_.bytesPath(id).string();
  std::error_code ec;
  fs::remove_all(work, ec);
  fs::create_directories(work, ec);
  auto fail = [&](const std::string& why, const char* text) {
    if (cancel_)
      return;  // stopped: made again at the next start
    tavsrv::logWarn("tav-video: recording " + id + " not published: " + why);
    store_.setState(id, UploadState::failed, text);
    ++failed;
    fs::remove_all(work, ec);
  };
  if (config_.sandbox && !problem_.empty())
    return fail("no sandbox", kFailedText);

  const std::string od = (work / "OD.mp4").string(), ld = (work / "LD.mp4").string();
  // The original's streams as they are (the first video, the first audio when there is
  // one), the index in front.
  if (!ffmpeg({"-nostdin", "-hide_banner", "-v", "error", "-y", "-i", input, "-map", "0:v:0",
               "-map", "0:a:0?", "-c", "copy", "-movflags", "+faststart", "-f", "mp4", od},
              input, work.string(), "OD"))
    return fail("the original cannot be read as a video", kFailedText);
  const int64_t odMs = msSince(start);
  const std::string scale = "scale=-2:" + std::to_string(config_.ld_height);
  if (!ffmpeg({"-nostdin",   "-hide_banner", "-v",       "error",  "-y",  "-i",       od,
               "-map",       "0:v:0",        "-map",     "0:a:0?", "-vf", scale,      "-c:v",
               "libx264",    "-preset",      "veryfast", "-crf",   "28",  "-pix_fmt", "yuv420p",
               "-c:a",       "aac",          "-b:a",     "64k",    "-ac", "2",        "-movflags",
               "+faststart", "-f",           "mp4",      ld},
              std::string(), work.string(), "LD"))
    return fail("the lower rendition cannot be made", kFailedText);
  const int64_t ldMs = msSince(start);

  const fs::path files = store_.filesDir(upload->tag.room, id);
  fs::create_directories(files, ec);
  fs::rename(od, files / "OD.mp4", ec);
  if (!ec)
    fs::rename(ld, files / "LD.mp4", ec);
  if (ec)
    return fail("cannot store the renditions: " + ec.message(), kFailedText);

  const std::string base =
      publicUrl_() + "/video/files/" + std::to_string(upload->tag.room) + "/" + id + "/";
  const std::string playInfo = json::array({{{"Definition", "OD"}, {"PlayURL", base + "OD.mp4"}},
                                            {{"Definition", "LD"}, {"PlayURL", base + "LD.mp4"}}})
                                   .dump();
  const ServiceLink::Registration r = service_.registerCourseware(upload->tag, playInfo);
  if (!r.reached || r.code != 0) {
    fs::remove_all(files, ec);
    return fail(r.reached ? "the service refused it: " + r.message : "the service is not reached",
                r.reached && !r.message.empty() ? r.message.c_str() : kNetworkText);
  }
  store_.setState(id, UploadState::published, {}, r.id);
  ++published;
  fs::remove_all(work, ec);
  tavsrv::logInfo("tav-video: recording " + id + " published as courseware " +
                  std::to_string(r.id) + " of room " + std::to_string(upload->tag.room) +
                  " (OD after " + std::to_string(odMs) + " ms, LD after " + std::to_string(ldMs) +
                  " ms, registered after " + std::to_string(msSince(start)) + " ms)");
}

}  // namespace video
