// The uploads on disk: uploads/<id>/meta.json (who, the tag, the size, the state) beside
// uploads/<id>/bytes (what arrived, in order from the start), and the renditions of a
// published recording in files/<room>/<id>/. What is acknowledged is synced first, so an
// upload goes on from what the server said it holds, also after a restart.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DescriptionTag.h"

namespace video {

enum class UploadState { receiving, rendering, published, failed };
const char* stateName(UploadState state);

struct Upload {
  std::string id;  // 32 lowercase hex digits, random
  DescriptionTag tag;
  int role = 0;  // of the credential that made it
  uint64_t size = 0;
  uint64_t held = 0;
  UploadState state = UploadState::receiving;
  std::string message;  // why it failed, in the words the client shows
  int64_t coursewareId = 0;
  int64_t touchedMs = 0;  // wall clock of the last change
};

struct StoreLimits {
  uint64_t max_bytes = 0;
  size_t max_open = 0;
  size_t max_open_per_user = 0;
  int64_t lifetime_ms = 0;
};

class UploadStore {
public:
  UploadStore(std::filesystem::path root, StoreLimits limits);

  // Makes the folders and reads what is there: expired uploads go, half-written metadata
  // and stray files too. The ids of recordings that wait for their renditions.
  bool open(std::vector<std::string>* toRender, std::string* error);

  enum class CreateRefusal { none, tooLarge, tooMany, tooManyForUser, storeFailed };
  std::optional<Upload> create(const DescriptionTag& tag, int role, uint64_t size,
                               CreateRefusal* refusal);
  std::optional<Upload> get(const std::string& id);

  // One writer per upload, and only at the offset held: the descriptor of the bytes file,
  // cut back to what is held, to write `length` bytes at `offset`.
  enum class WriteRefusal { none, unknown, notReceiving, busy, wrongOffset, tooLong, storeFailed };
  WriteRefusal beginWrite(const std::string& id, uint64_t offset, uint64_t length, int* fd,
                          uint64_t* held);
  // Ends the write that began at the held offset: `written` bytes from there are synced and
  // counted. The upload as it is now; its state is rendering once every byte is there.
  std::optional<Upload> endWrite(const std::string& id, int fd, uint64_t written);

  void setState(const std::string& id, UploadState state, const std::string& message = {},
                int64_t coursewareId = 0);
  // Removes expired uploads (at most once a minute, when asked).
  void sweep();

  std::filesystem::path bytesPath(const std::string& id) const;
  std::filesystem::path workDir(const std::string& id) const;
  std::filesystem::path filesDir(uint32_t room, const std::string& id) const;
  std::filesystem::path filesRoot() const { return root_ / "files"; }

  static bool isId(const std::string& text);

private:
  bool save(const Upload& upload);                     // under mutex_
  void remove(const std::string& id, bool withFiles);  // under mutex_
  size_t openCount(uint32_t user) const;               // under mutex_

  const std::filesystem::path root_;
  const StoreLimits limits_;
  std::mutex mutex_;
  std::map<std::string, Upload> uploads_;
  std::map<std::string, bool> writing_;
  int64_t lastSweepMs_ = 0;
};

}  // namespace video
