#include "recorder.h"

#include <cstring>
#include <filesystem>

#include "RoomMessage.h"
#include "audio_rtp_recv.h"
#include "control_wire.h"
#include "frame_buffer.h"
#include "libpavo_impl.h"
#include "media_seams.h"
#include "pcm_player.h"
#include "picture_fetcher.h"
#include "uploader.h"
#include "woblog/woblog.h"

namespace centra_impl {

namespace {

// The recorder moves no media of its own: the room's streams come in, its mixed sound goes
// to the recording instead of a speaker.
class recorder_media : public media_factory {
public:
  explicit recorder_media(pcm_player::sink sink) : sink_(std::move(sink)) {}
  std::shared_ptr<video_ctrl> create_camera_sender(sendmsg2ui*, uint16_t) override {
    return nullptr;
  }
  std::shared_ptr<video_ctrl> create_screen_sender(sendmsg2ui*) override { return nullptr; }
  std::unique_ptr<audio_ctrl> create_audio_sender(int, int, uint16_t) override { return nullptr; }
  std::unique_ptr<media_receiver> create_video_receiver(const char* ip, uint16_t port,
                                                        uint32_t own_id,
                                                        const pavo_wire::media_token& token,
                                                        uint32_t remote_id, int kind,
                                                        sendmsg2ui* ui, sendmsg2mcu* mcu) override {
    return pavo::default_media_factory().create_video_receiver(ip, port, own_id, token, remote_id,
                                                               kind, ui, mcu);
  }
  std::unique_ptr<media_receiver> create_audio_receiver(const char* ip, uint16_t port,
                                                        uint32_t own_id,
                                                        const pavo_wire::media_token& token,
                                                        int) override {
    auto player = std::make_unique<pcm_player>(sink_);
    if (!player->ok())
      return nullptr;
    return std::make_unique<audio_rtp_recv>(ip, port, own_id, std::move(player), token);
  }

private:
  pcm_player::sink sink_;
};

// Seconds written into the recording's record while recording, so that a recording the
// program left behind is offered with about its length.
constexpr int64_t kSaveEverySeconds = 2;

}  // namespace

recorder* recorder::make(const recorder_setup& setup) {
  std::unique_ptr<recorder> r(new recorder(setup));
  if (!setup.recording.empty()) {
    // An unpublished recording: ended from the start, nothing to connect to.
    r->folder_ = recording_folder::of_file(setup.recording);
    if (!r->folder_)
      return nullptr;
    r->phase_ = phase::ended;
    r->seconds_ = r->folder_->meta().seconds;
    r->thread_ = std::thread([raw = r.get()] { raw->run(); });
    return r.release();
  }
  pavo_options options;
  options.factory = r->factory_.get();
  options.credential = setup.credential;
  libpavo* pavo = libpavo::create(options, r.get(), r->member_id_, setup.room, setup.mcu_ip.c_str(),
                                  setup.mcu_port, user_role_teacher);
  if (!pavo)
    return nullptr;
  r->pavo_.reset(pavo);
  r->pavo_->media_ctrl(media_cmd_frame_format,
                       reinterpret_cast<void*>(static_cast<intptr_t>(pavo_frame_rgb32)));
  r->thread_ = std::thread([raw = r.get()] { raw->run(); });
  return r.release();
}

recorder::recorder(const recorder_setup& setup)
    : setup_(setup),
      member_id_(setup.user | pavo_wire::recorder_id_bit),
      view_(member_id_, setup.content_only, *this),
      canvas_(class_view::kWidth, class_view::kHeight, QImage::Format_RGB32) {
  factory_ = std::make_unique<recorder_media>([this](const int16_t* samples, size_t frames) {
    std::lock_guard<std::mutex> lock(clock_mutex_);
    // Sound that comes while nothing is recorded (or paused) is not kept.
    if (clock_running_)
      sound_.add(recorded_ms(), samples, frames);
  });
  fetcher_ = std::make_unique<picture_fetcher>(
      setup.file_server, setup.ticket, setup.room,
      (std::filesystem::path(setup.folder) / "pictures").string(),
      [this](const std::string& key, const QImage& picture) {
        post([this, key, picture] { view_.picture_arrived(key, picture); });
      });
  uploader_ = std::make_unique<uploader>(setup.video_host, setup.video_port, setup.credential);
}

recorder::~recorder() {
  {
    std::lock_guard<std::mutex> lock(callback_mutex_);
    closing_ = true;
  }
  uploader_.reset();  // an upload under way is abandoned
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable())
    thread_.join();
  fetcher_.reset();
  // Last: the media library's threads end here, and with them its calls into this.
  pavo_.reset();
}

void recorder::notify(record_msg_t msg, void* arg) {
  std::lock_guard<std::mutex> lock(callback_mutex_);
  if (!closing_ && setup_.callback)
    setup_.callback(setup_.context, msg, arg);
}

void recorder::post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

// ---- the operations ----

int recorder::begin_record() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (phase_ != phase::ready)
    return -1;
  folder_ = recording_folder::make(setup_.folder, setup_.room, setup_.user);
  std::string error;
  mp4_settings settings;
  settings.fps = kFps;
  if (!folder_ || !writer_.open(folder_->file(), settings, &error)) {
    qn::log("recorder: the recording cannot be written (%s)",
            folder_ ? error.c_str() : "no folder");
    if (folder_)
      folder_->remove();
    folder_.reset();
    phase_ = phase::failed;
    // Said from the recorder's thread, never from inside the caller's call.
    post([this] { notify(record_msg_write_failed, nullptr); });
    return -1;
  }
  {
    std::lock_guard<std::mutex> clock(clock_mutex_);
    clock_start_ = std::chrono::steady_clock::now();
    paused_total_ = std::chrono::milliseconds(0);
    clock_running_ = true;
  }
  sound_.clear();
  seconds_ = 0;
  next_frame_ = std::chrono::steady_clock::now();
  phase_ = phase::recording;
  qn::log("recorder: recording room %u into %s", setup_.room, folder_->file().c_str());
  wake_.notify_all();
  return 0;
}

int recorder::end_record() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (phase_ != phase::recording && phase_ != phase::paused)
    return -1;
  phase_ = phase::ending;
  wake_.notify_all();
  phase_changed_.wait(lock, [this] { return phase_ != phase::ending; });
  return 0;
}

int recorder::pause_record() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (phase_ != phase::recording)
    return -1;
  std::lock_guard<std::mutex> clock(clock_mutex_);
  paused_at_ = std::chrono::steady_clock::now();
  clock_running_ = false;
  phase_ = phase::paused;
  return 0;
}

int recorder::resume_record() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (phase_ != phase::paused)
    return -1;
  {
    std::lock_guard<std::mutex> clock(clock_mutex_);
    paused_total_ += std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - paused_at_);
    clock_running_ = true;
  }
  sound_.clear();
  phase_ = phase::recording;
  wake_.notify_all();
  return 0;
}

int64_t recorder::recorded_ms() const {
  const auto end = clock_running_ ? std::chrono::steady_clock::now() : paused_at_;
  return std::chrono::duration_cast<std::chrono::milliseconds>(end - clock_start_ - paused_total_)
      .count();
}

int recorder::record_seconds() {
  return seconds_;
}

int recorder::record_file(char* path, unsigned size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!folder_ || !path)
    return -1;
  const std::string file = folder_->file();
  if (file.size() + 1 > size)
    return -1;
  std::memcpy(path, file.c_str(), file.size() + 1);
  return 0;
}

int recorder::upload_record(const char* desc, unsigned length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (phase_ != phase::ended || !folder_ || !desc || length == 0 || seconds_ <= 0)
    return -1;
  const std::string description(desc, length);
  return uploader_->start(
             *folder_, description,
             [this](uint64_t held, uint64_t total) {
               std::lock_guard<std::mutex> guard(callback_mutex_);
               if (!closing_ && setup_.upload_progress)
                 setup_.upload_progress(setup_.context, held, total);
             },
             [this](const upload_result& result) {
               post([this, result] {
                 qn::log("recorder: upload ended with %d %s", result.code, result.message.c_str());
                 // Only once the video server has published it does the recording go.
                 if (result.code == 0) {
                   std::lock_guard<std::mutex> guard(mutex_);
                   if (folder_)
                     folder_->remove();
                 } else {
                   // Another description makes another upload; this one's id stays kept.
                   std::lock_guard<std::mutex> guard(mutex_);
                   if (const auto kept = recording_folder::of_file(folder_->file()))
                     folder_ = kept;
                 }
                 int32_t code = result.code;
                 notify(record_msg_upload_done, &code);
               });
             })
             ? 0
             : -1;
}

// ---- the recorder's thread ----

void recorder::run() {
  for (;;) {
    std::deque<std::function<void()>> tasks;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const bool recording = phase_ == phase::recording;
      const auto until = recording
                             ? next_frame_
                             : std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      wake_.wait_until(lock, until, [&] {
        return stop_ || !queue_.empty() || phase_ == phase::ending ||
               (phase_ == phase::recording) != recording;
      });
      tasks.swap(queue_);
    }
    for (auto& task : tasks)
      task();
    phase now_phase;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) {
        // The window goes while recording: what was recorded stays, to be published later.
        if (phase_ == phase::recording || phase_ == phase::paused || phase_ == phase::ending)
          close_recording(true);
        return;
      }
      now_phase = phase_;
    }
    if (now_phase == phase::ending) {
      close_recording(true);
      std::lock_guard<std::mutex> lock(mutex_);
      phase_ = phase::ended;
      phase_changed_.notify_all();
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now_phase == phase::recording && now >= next_frame_)
      write_frame(now);
  }
}

void recorder::write_frame(std::chrono::steady_clock::time_point now) {
  const auto interval = std::chrono::milliseconds(1000 / kFps);
  next_frame_ += interval;
  if (next_frame_ < now)
    next_frame_ = now + interval;  // behind: pictures are left out, never crowded
  int64_t at = 0;
  {
    std::lock_guard<std::mutex> clock(clock_mutex_);
    at = recorded_ms();
  }
  view_.render(canvas_, now);
  pcm_.clear();
  const size_t frames = sound_.take_until(at, &pcm_);
  if (!writer_.write_video(canvas_.constBits(), canvas_.bytesPerLine(), at) ||
      (frames > 0 && !writer_.write_audio(pcm_.data(), frames))) {
    qn::log("recorder: writing failed (%s); the recording ends", writer_.error().c_str());
    close_recording(false);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      phase_ = phase::failed;
      phase_changed_.notify_all();
    }
    notify(record_msg_write_failed, nullptr);
    return;
  }
  seconds_ = static_cast<int>(at / 1000);
  if (seconds_ >= saved_seconds_ + kSaveEverySeconds && folder_) {
    saved_seconds_ = seconds_;
    folder_->meta().seconds = seconds_;
    folder_->save();
  }
}

void recorder::close_recording(bool ended) {
  {
    std::lock_guard<std::mutex> clock(clock_mutex_);
    clock_running_ = false;
  }
  const int64_t written = writer_.written_ms();
  if (!writer_.close())
    qn::log("recorder: the recording's end was not written (%s); what was written stays",
            writer_.error().c_str());
  seconds_ = static_cast<int>(written / 1000);
  if (folder_) {
    folder_->meta().seconds = seconds_;
    folder_->meta().ended = true;
    folder_->save();
  }
  qn::log("recorder: %s after %d s", ended ? "recording ended" : "recording stopped",
          static_cast<int>(seconds_));
}

void recorder::connected() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (phase_ != phase::connecting)
      return;
    phase_ = phase::ready;
  }
  pavo_->get_classing_user();
  notify(record_msg_ready, nullptr);
}

void recorder::lost() {
  phase before;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    before = phase_;
    if (before == phase::ended || before == phase::failed)
      return;
  }
  if (before == phase::recording || before == phase::paused || before == phase::ending)
    close_recording(false);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    phase_ = phase::failed;
    phase_changed_.notify_all();
  }
  notify(before == phase::connecting ? record_msg_connect_failed : record_msg_stream_lost, nullptr);
}

// ---- what the media library brings ----

void recorder::on_media_event(int event, void* data) {
  switch (event) {
    case pavo_event_connect_state:
      if (data && *static_cast<int*>(data) == 1)
        post([this] { connected(); });
      return;
    case pavo_event_disconnected:
      post([this] { lost(); });
      return;
    case pavo_event_media_open:
    case pavo_event_media_close: {
      const auto* stream = static_cast<const media_stream_t*>(data);
      const uint32_t user = stream->user_id;
      const int kind = static_cast<int>(stream->kind);
      if (event == pavo_event_media_open)
        post([this, user, kind] { view_.stream_opened(user, kind); });
      else
        post([this, user, kind] { view_.stream_closed(user, kind); });
      return;
    }
    case pavo_event_user_leave: {
      const uint32_t user = *static_cast<const uint32_t*>(data);
      post([this, user] { view_.user_left(user); });
      return;
    }
    case pavo_event_existing_media: {
      const auto* media = static_cast<const media_list_t*>(data);
      for (unsigned i = 0; i < media->count; ++i) {
        const uint32_t user = media->list[i].user_id, kinds = media->list[i].mask;
        for (const int kind : {1, 4})
          if (kinds & uint32_t(kind))
            post([this, user, kind] { view_.stream_opened(user, kind); });
      }
      return;
    }
    case pavo_event_video_frame: {
      const auto* frame = static_cast<const video_frame_t*>(data);
      // The picture owns the library's buffer from here and frees it when it goes.
      const QImage picture(frame->pixels, frame->width, frame->height, frame->width * 4,
                           QImage::Format_RGB32, pavo::frame_free, frame->pixels);
      const uint32_t user = frame->user_id;
      const int kind = frame->kind;
      post([this, user, kind, picture] { view_.frame(user, kind, picture); });
      return;
    }
    default:
      return;
  }
}

void recorder::ss_start_class(uint32_t user_id) {
  post([this, user_id] { view_.class_started(user_id); });
}

void recorder::ss_stop_class(uint32_t) {
  post([this] { view_.class_stopped(); });
}

void recorder::get_classing_user_ack(int, uint32_t user_id) {
  post([this, user_id] { view_.joined(user_id != 0, user_id); });
}

void recorder::ss_start_share(uint32_t user_id) {
  post([this, user_id] { view_.shared_by(user_id); });
}

void recorder::ss_stop_share(uint32_t user_id) {
  post([this, user_id] { view_.share_ended(user_id); });
}

void recorder::get_share_users_ack(int, int count, const uint32_t* ids) {
  const uint32_t sharer = count > 0 && ids ? ids[0] : 0;
  post([this, sharer] { view_.sharer_known(sharer); });
}

void recorder::p2p_msg(uint32_t sender_id, const char* data, unsigned length) {
  if (!data || length == 0 || length > unsigned(roommsg::kMaxMessageBytes))
    return;
  const QByteArray text(data, int(length));
  post([this, sender_id, text] { view_.peer_message(sender_id, text); });
}

void recorder::p2all_msg(uint32_t sender_id, const char* data, unsigned length) {
  p2p_msg(sender_id, data, length);
}

// ---- what the view asks ----

void recorder::send_to(uint32_t user, const QByteArray& text) {
  if (pavo_)
    pavo_->send_p2p_msg(user, reinterpret_cast<const uint8_t*>(text.constData()),
                        unsigned(text.size()));
}

void recorder::subscribe(uint32_t user, int kind) {
  user_media_kind_t stream{user, kind};
  if (pavo_)
    pavo_->media_ctrl(media_cmd_subscribe, &stream);
}

void recorder::unsubscribe(uint32_t user, int kind) {
  user_media_kind_t stream{user, kind};
  if (pavo_)
    pavo_->media_ctrl(media_cmd_unsubscribe, &stream);
}

void recorder::ask_sharer() {
  if (pavo_)
    pavo_->get_share_users();
}

void recorder::want_local(const std::string& key, const std::string& path) {
  fetcher_->want_local(key, path);
}

void recorder::want_remote(const std::string& key, uint32_t uploader, const std::string& name) {
  fetcher_->want_remote(key, uploader, name);
}

}  // namespace centra_impl
