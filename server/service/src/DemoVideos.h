// Short test videos for the demo courseware, made with the ffmpeg program when
// it is installed (test pattern and a tone). Without ffmpeg the courseware
// records stay, and their download fails in the client as any missing file would.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tavsvc {

class DemoVideos {
public:
  ~DemoVideos() { wait(); }
  // Starts making each missing file of relativePaths below uploadsDir in the background.
  void start(const std::string& uploadsDir, std::vector<std::string> relativePaths);
  void wait();

private:
  std::thread thread_;
};

}  // namespace tavsvc
