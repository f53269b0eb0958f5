// video_test: previews the chosen camera as BGR24 pictures.
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bgr_converter.h"
#include "probix/probix.h"
#include "probix_util.h"
#include "velmedia/velcapture.h"
#include "woblog/woblog.h"

namespace probix_internal {
namespace {

// The preview the lobby shows; the camera may give another size, which is passed on as is.
constexpr int preview_width = 640;
constexpr int preview_height = 480;
constexpr int preview_fps = 15;

class video_test_impl : public video_test, private velcapture_data_callback {
public:
  video_test_impl(video_test_callback callback, void* user, velcapture* capture)
      : callback_(callback), user_(user), capture_(capture) {}
  ~video_test_impl() override { stop(); }

  int get_device_count() override { return capture_->get_device_count(); }

  int get_device_name(int index, char* name, int size) override {
    if (!name || size < 1)
      return -1;
    char full[velmedia_name_size];
    if (capture_->get_device_name(index, full) != 0)
      return -1;
    return copy_name(full, name, size);
  }

  int select_device(int index) override {
    if (index < 0 || index >= capture_->get_device_count())
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    selected_ = index;  // used by the next start
    return 0;
  }

  int start() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_)
      return 0;
    int width = preview_width, height = preview_height, fps = preview_fps;
    if (capture_->open(selected_, &width, &height, &fps, this) != 0) {
      qn::log("probix: camera %d does not open", selected_);
      return -1;
    }
    running_ = true;
    return 0;
  }

  int stop() override {
    // From inside the callback stopping would wait for itself (and for this lock).
    if (callback_thread_.load() == std::this_thread::get_id())
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_)
      return 0;
    if (capture_->close() != 0)
      return -1;
    running_ = false;
    callback_thread_ = std::thread::id();
    return 0;
  }

private:
  void on_capture_data(const uint8_t* i420, unsigned length, int width, int height) override {
    // Runs on the capture thread only, so the converter and buffer need no lock.
    callback_thread_ = std::this_thread::get_id();
    if (converter_.convert(i420, length, width, height, &bgr_))
      callback_(user_, bgr_.data(), width, height);
  }

  const video_test_callback callback_;
  void* const user_;
  const std::unique_ptr<velcapture> capture_;

  std::atomic<std::thread::id> callback_thread_{};

  std::mutex mutex_;
  int selected_ = 0;
  bool running_ = false;

  bgr_converter converter_;
  std::vector<uint8_t> bgr_;
};

}  // namespace
}  // namespace probix_internal

video_test* video_test::create(video_test_callback callback, void* user) {
  if (!callback)
    return nullptr;
  velcapture* capture = velcapture::create();
  if (!capture)
    return nullptr;
  try {
    return new probix_internal::video_test_impl(callback, user, capture);
  } catch (const std::exception&) {
    delete capture;
    return nullptr;
  }
}
