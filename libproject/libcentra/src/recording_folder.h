// Where a recording lives until it is published: one folder per recording below the
// recorder's folder, "<room>-<user>-<yyyyMMdd-hhmmss>-<random>/", holding the file
// "class.mp4" and "record.json" (room, user, seconds recorded, whether recording has ended,
// and the upload under way with the description it was made with). The folder goes once the
// video server has published the recording; until then find_unpublished finds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace centra_impl {

struct recording_meta {
  uint32_t room = 0;
  uint32_t user = 0;
  int seconds = 0;
  bool ended = false;       // false while recording (or when the program ended meanwhile)
  std::string upload;       // the video server's upload id, empty before the first upload
  std::string description;  // the tag the upload was made with
};

class recording_folder {
public:
  // A new folder for room/user below `root` (made, with the parents); nothing on failure.
  static std::optional<recording_folder> make(const std::string& root, uint32_t room,
                                              uint32_t user);
  // The folder of a recording file `file` (".../class.mp4") whose record can be read.
  static std::optional<recording_folder> of_file(const std::string& file);
  // The newest folder below `root` of room/user whose recording has a file.
  static std::optional<recording_folder> newest_unpublished(const std::string& root, uint32_t room,
                                                            uint32_t user);

  const std::string& path() const { return path_; }
  std::string file() const { return path_ + "/class.mp4"; }
  recording_meta& meta() { return meta_; }
  const recording_meta& meta() const { return meta_; }

  // Writes record.json (synced, replaced at once). False on failure.
  bool save() const;
  // Removes the folder with everything in it.
  bool remove() const;

private:
  bool load();

  std::string path_;
  recording_meta meta_;
};

}  // namespace centra_impl
