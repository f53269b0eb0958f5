// The pictures the shared area shows, for the recorder: whiteboard templates from the
// program's "./wbtemplete/" folder, shared pictures and document pages from the room's files
// at the file server (with the login ticket), each decoded here, on a thread of its own, and
// handed over with the key it was asked for. What arrives is checked before it is decoded
// (size of the file and of the picture); a picture that cannot be had comes back null.
#pragma once

#include <QImage>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace centra_impl {

class picture_fetcher {
public:
  using done = std::function<void(const std::string& key, const QImage& picture)>;

  // Largest file and picture taken (a shared picture is at most 1920x1080 when the sharer's
  // client prepared it; documents' pages are rendered at most 4 Mi pixels).
  static constexpr int64_t kMaxBytes = 32 << 20;
  static constexpr int kMaxSide = 8192;
  static constexpr int64_t kMaxPixels = 40LL * 1000 * 1000;

  // file_server "host:port"; downloads are kept in cache_dir.
  picture_fetcher(std::string file_server, std::string ticket, uint32_t room, std::string cache_dir,
                  done on_done);
  ~picture_fetcher();  // stops and joins; nothing is handed over after it
  picture_fetcher(const picture_fetcher&) = delete;
  picture_fetcher& operator=(const picture_fetcher&) = delete;

  // A file of the room's files: room/ROOM/UPLOADER/NAME. Asked twice, fetched once.
  void want_remote(const std::string& key, uint32_t uploader, const std::string& name);
  // A file of this machine.
  void want_local(const std::string& key, const std::string& path);

  // A name of the room's files that stays inside its folder.
  static bool plain_name(const std::string& name);

private:
  struct job {
    std::string key;
    uint32_t uploader = 0;  // 0: local
    std::string name;       // remote name or local path
  };
  void run();
  QImage fetch(const job& j);
  static QImage decode(const std::string& path);

  const std::string host_;
  const uint16_t port_;
  const std::string ticket_;
  const uint32_t room_;
  const std::string cache_dir_;
  const done done_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<job> queue_;
  std::set<std::string> asked_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace centra_impl
