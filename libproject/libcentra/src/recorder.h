// The recorder behind centra: a hidden member of the class at the MCU (its user's id with
// pavo_wire::recorder_id_bit, the room credential of the teacher side), a thread of its own
// that keeps the class's view (class_view) and, while recording, draws it 15 times a second
// and writes it with the room's mixed sound (audio_timeline) into the recording's file
// (mp4_writer), and the upload to the video server (uploader).
//
// Threads: the media library's (events, pictures, sound) only queue what they bring; the
// recorder's thread does everything else and sends every notification but none from inside
// a caller's call. The operations come from the caller's thread; end_record waits for the
// recorder's thread to close the file.
#pragma once

#include <QImage>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "audio_timeline.h"
#include "class_view.h"
#include "libcentra/centra.h"
#include "libpavo/libpavo.h"
#include "mp4_writer.h"
#include "recording_folder.h"

class libpavo;
class media_factory;

namespace centra_impl {

class picture_fetcher;
class uploader;

struct recorder_setup {
  uint32_t room = 0;
  uint32_t user = 0;
  std::string mcu_ip;
  uint16_t mcu_port = 0;
  bool content_only = false;
  std::string video_host;
  uint16_t video_port = 0;
  record_callback_t callback = nullptr;
  void* context = nullptr;
  std::string credential;
  std::string ticket;
  std::string file_server;
  std::string folder;     // where recordings are kept
  std::string recording;  // an unpublished recording to upload; empty: record the class
  void (*upload_progress)(void*, unsigned long long, unsigned long long) = nullptr;
};

class recorder final : public centra, private velmcu2ui, private class_link {
public:
  // Null when the media library cannot be made (no "videoparam.conf") or a recovered
  // recording cannot be read.
  static recorder* make(const recorder_setup& setup);
  ~recorder() override;

  int begin_record() override;
  int end_record() override;
  int pause_record() override;
  int resume_record() override;
  int record_seconds() override;
  int record_file(char* path, unsigned size) override;
  int upload_record(const char* desc, unsigned length) override;

  static constexpr int kFps = 15;

private:
  enum class phase { connecting, ready, recording, paused, ending, ended, failed };

  explicit recorder(const recorder_setup& setup);
  void post(std::function<void()> task);
  void run();
  void notify(record_msg_t msg, void* arg);
  void connected();
  void lost();
  // Closes the file of a recording that ends (ended: by end_record, else failed).
  void close_recording(bool ended);
  void write_frame(std::chrono::steady_clock::time_point now);
  int64_t recorded_ms() const;  // under clock_mutex_

  // velmcu2ui: copied and queued for the recorder's thread.
  void on_media_event(int event, void* data) override;
  void ss_start_class(uint32_t user_id) override;
  void start_class_ack(int) override {}
  void ss_stop_class(uint32_t user_id) override;
  void stop_class_ack(int) override {}
  void get_class_state_ack(int) override {}
  void ss_application_share(uint32_t) override {}
  void application_share_ack(int) override {}
  void ss_cancel_application(uint32_t) override {}
  void cancel_application_ack(int) override {}
  void ss_reply_share(uint32_t, int) override {}
  void reply_share_ack(uint32_t, int) override {}
  void ss_start_share(uint32_t user_id) override;
  void start_share_ack(int) override {}
  void ss_stop_share(uint32_t user_id) override;
  void stop_share_ack(int) override {}
  void get_share_users_ack(int value, int count, const uint32_t* ids) override;
  void ss_start_tag(uint32_t) override {}
  void start_tag_ack(int) override {}
  void ss_stop_tag(uint32_t) override {}
  void stop_tag_ack(int) override {}
  void get_tag_users_ack(int, int, const uint32_t*) override {}
  void ss_cancel_share(uint32_t) override {}
  void cancel_share_ack(int) override {}
  void p2p_msg(uint32_t sender_id, const char* data, unsigned length) override;
  void p2all_msg(uint32_t sender_id, const char* data, unsigned length) override;
  void get_classing_user_ack(int code, uint32_t user_id) override;
  void p2p_msg_ack(uint32_t, const char*, unsigned) override {}
  void p2all_msg_ack(uint32_t, const char*, unsigned) override {}
  void user_net_state(uint32_t, int) override {}

  // class_link
  void send_to(uint32_t user, const QByteArray& text) override;
  void subscribe(uint32_t user, int kind) override;
  void unsubscribe(uint32_t user, int kind) override;
  void ask_sharer() override;
  void want_local(const std::string& key, const std::string& path) override;
  void want_remote(const std::string& key, uint32_t uploader, const std::string& name) override;

  const recorder_setup setup_;
  const uint32_t member_id_;  // the user's id with the recorder bit

  // Callbacks: none after closing_ is set (the destructor waits for a running one).
  std::mutex callback_mutex_;
  bool closing_ = false;

  std::mutex mutex_;  // the queue, the phase and the stop
  std::condition_variable wake_;
  std::condition_variable phase_changed_;
  std::deque<std::function<void()>> queue_;
  phase phase_ = phase::connecting;
  bool stop_ = false;

  mutable std::mutex clock_mutex_;
  std::chrono::steady_clock::time_point clock_start_{};
  std::chrono::steady_clock::time_point paused_at_{};
  std::chrono::milliseconds paused_total_{0};
  bool clock_running_ = false;
  std::atomic<int> seconds_{-1};

  audio_timeline sound_;
  std::unique_ptr<media_factory> factory_;
  // The recorder's thread only.
  class_view view_;
  mp4_writer writer_;
  QImage canvas_;
  std::vector<int16_t> pcm_;
  std::chrono::steady_clock::time_point next_frame_{};
  int64_t saved_seconds_ = -1;

  std::optional<recording_folder> folder_;  // set by begin_record or the recovered recording
  std::unique_ptr<picture_fetcher> fetcher_;
  std::unique_ptr<uploader> uploader_;
  std::thread thread_;
  std::unique_ptr<libpavo> pavo_;
};

}  // namespace centra_impl
