// The upload of an ended recording to the video server, on a thread of its own: the upload
// is made once with the room credential and the description (its id kept beside the
// recording, so a later upload of the same recording with the same description goes on from
// what the server holds, also after the program ended), the bytes go in pieces from the
// offset the server holds, a piece that fails is tried again from what the server says it
// holds, and then the server is asked until the recording is published or has failed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "recording_folder.h"

namespace centra_impl {

struct upload_result {
  // 0 published; 1 refused or failed at the server (the name is taken, the recording cannot
  // be read); -1 the video server is not reached.
  int code = -1;
  std::string message;
};

class uploader {
public:
  using progress = std::function<void(uint64_t held, uint64_t total)>;
  using finished = std::function<void(const upload_result& result)>;

  // Bytes of one piece.
  static constexpr size_t kPieceBytes = 1 << 20;
  // Tries of one step before the server counts as not reached, and the pause between them.
  static constexpr int kTries = 6;

  uploader(std::string host, uint16_t port, std::string credential);
  ~uploader();  // abandons a running upload and joins

  // Starts uploading `folder`'s recording with `description`; false while one runs.
  bool start(recording_folder folder, std::string description, progress on_progress,
             finished on_finished);
  bool running() const { return running_; }

private:
  upload_result run(recording_folder& folder, const std::string& description);
  // Waits `ms` unless stopped; false when stopped.
  bool pause(int ms);

  const std::string host_;
  const uint16_t port_;
  const std::string credential_;
  progress progress_;
  std::atomic<bool> running_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace centra_impl
