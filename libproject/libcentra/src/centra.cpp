// libcentra's entry points: the recorder's creation (arguments checked, texts copied) and the
// unpublished recordings a recorder left behind.
#include <cstring>
#include <filesystem>

#include "control_wire.h"
#include "libcentra/centra.h"
#include "recorder.h"
#include "recording_folder.h"

namespace {

std::string text_of(const char* text, size_t max = 4096) {
  return text ? std::string(text, strnlen(text, max)) : std::string();
}

// Where recordings are kept when the caller names no folder: below the temporary folder.
std::string default_folder() {
  std::error_code ec;
  return (std::filesystem::temp_directory_path(ec) / "centra-recordings").string();
}

}  // namespace

centra* centra::create(unsigned roomId, unsigned userId, const char* mcuIp, unsigned short mcuPort,
                       video_format_t format, bool contentOnly, const char* videoServerHost,
                       unsigned short videoServerPort, record_callback_t callback, void* context) {
  const centra_options none{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return create(roomId, userId, mcuIp, mcuPort, format, contentOnly, videoServerHost,
                videoServerPort, callback, context, none);
}

centra* centra::create(unsigned roomId, unsigned userId, const char* mcuIp, unsigned short mcuPort,
                       video_format_t format, bool contentOnly, const char* videoServerHost,
                       unsigned short videoServerPort, record_callback_t callback, void* context,
                       const centra_options& options) {
  // Only MP4 is written; a user id with the recorder's bit is no user's.
  if (roomId == 0 || userId == 0 || (userId & pavo_wire::recorder_id_bit) || !callback ||
      format != video_format_mp4 || !videoServerHost || videoServerPort == 0)
    return nullptr;
  const bool recovered = options.recording != nullptr;
  if (!recovered && (!mcuIp || mcuPort == 0))
    return nullptr;
  centra_impl::recorder_setup setup;
  setup.room = roomId;
  setup.user = userId;
  setup.mcu_ip = text_of(mcuIp, 128);
  setup.mcu_port = mcuPort;
  setup.content_only = contentOnly;
  setup.video_host = text_of(videoServerHost, 256);
  setup.video_port = videoServerPort;
  setup.callback = callback;
  setup.context = context;
  setup.credential = text_of(options.credential, 256);
  setup.ticket = text_of(options.ticket, 256);
  setup.file_server = text_of(options.file_server, 300);
  setup.folder = options.folder ? text_of(options.folder) : default_folder();
  setup.recording = text_of(options.recording);
  setup.upload_progress = options.upload_progress;
  return centra_impl::recorder::make(setup);
}

int centra::find_unpublished(const char* folder, unsigned roomId, unsigned userId, char* path,
                             unsigned size) {
  if (!folder || !path)
    return -1;
  const auto found =
      centra_impl::recording_folder::newest_unpublished(text_of(folder), roomId, userId);
  if (!found)
    return -1;
  const std::string file = found->file();
  if (file.size() + 1 > size)
    return -1;
  std::memcpy(path, file.c_str(), file.size() + 1);
  return found->meta().seconds;
}

int centra::discard_unpublished(const char* path) {
  if (!path)
    return -1;
  const auto found = centra_impl::recording_folder::of_file(text_of(path));
  return found && found->remove() ? 0 : -1;
}
