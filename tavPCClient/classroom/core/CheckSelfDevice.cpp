#include "CheckSelfDevice.h"

#include <atomic>
#include <cstdint>

#include "libpavo/libpavo.h"

namespace {
std::atomic<int> cameras{0};
std::atomic<int> microphones{0};
}  // namespace

CheckSelfDevice::CheckSelfDevice(Libpavo* media, QObject* parent) : QThread(parent), media_(media) {
  connect(this, &QThread::finished, this, &CheckSelfDevice::thisfinished);
}

int CheckSelfDevice::cameraCount() {
  return cameras.load();
}

int CheckSelfDevice::microphoneCount() {
  return microphones.load();
}

void CheckSelfDevice::run() {
  auto count = [this](int kind) {
    if (!media_)
      return 0;
    const int n = media_->media_ctrl(media_cmd_device_count,
                                     reinterpret_cast<void*>(static_cast<intptr_t>(kind)));
    return n > 0 ? n : 0;
  };
  cameras = count(media_kind_video);
  microphones = count(media_kind_audio);
  emit VideoDeviceStatus(cameras > 0);
  emit AudioDeviceStatus(microphones > 0);
}

void CheckSelfDevice::thisfinished() {
  deleteLater();
}
