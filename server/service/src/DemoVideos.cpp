#include "DemoVideos.h"

#include <filesystem>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "tavsrv/Log.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tavsvc {

namespace {
// Runs ffmpeg to write a 30-second 320x240 H.264/AAC file (long enough to seek
// in, with a tone, and a key picture every second so a seek lands where it was
// asked to); false when it cannot. At 15 pictures a second and the
// fastest preset it takes about a second.
bool makeVideo(const fs::path& target, int hue) {
  const fs::path temp = target.string() + ".part.mp4";
  const std::string video = "testsrc2=size=320x240:rate=15,hue=h=" + std::to_string(hue);
  const std::string tempText = temp.string();
  const char* argv[] = {"ffmpeg",
                        "-nostdin",
                        "-loglevel",
                        "error",
                        "-y",
                        "-f",
                        "lavfi",
                        "-i",
                        video.c_str(),
                        "-f",
                        "lavfi",
                        "-i",
                        "sine=frequency=440:sample_rate=44100",
                        "-t",
                        "30",
                        "-c:v",
                        "libx264",
                        "-preset",
                        "ultrafast",
                        "-g",
                        "15",
                        "-pix_fmt",
                        "yuv420p",
                        "-c:a",
                        "aac",
                        "-shortest",
                        "-movflags",
                        "+faststart",
                        tempText.c_str(),
                        nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int rc =
      posix_spawnp(&pid, "ffmpeg", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::error_code ec;
    fs::remove(temp, ec);
    return false;
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  return !ec;
}
}  // namespace

void DemoVideos::start(const std::string& uploadsDir, std::vector<std::string> relativePaths) {
  wait();
  thread_ = std::thread([uploadsDir, paths = std::move(relativePaths)] {
    int hue = 0;
    for (const auto& relative : paths) {
      const fs::path target = fs::path(uploadsDir) / relative;
      hue += 70;
      std::error_code ec;
      if (fs::exists(target, ec))
        continue;
      fs::create_directories(target.parent_path(), ec);
      if (!makeVideo(target, hue)) {
        tavsrv::logInfo("demo courseware videos not made (is ffmpeg installed?)");
        return;
      }
    }
    tavsrv::logInfo("demo courseware videos ready");
  });
}

void DemoVideos::wait() {
  if (thread_.joinable())
    thread_.join();
}

}  // namespace tavsvc
