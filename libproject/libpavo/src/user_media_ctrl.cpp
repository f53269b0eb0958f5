#include "user_media_ctrl.h"

user_media_ctrl::~user_media_ctrl() {
  std::map<int, std::unique_ptr<media_receiver>> receivers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    receivers.swap(receivers_);
  }
}

int user_media_ctrl::start_receiver(const char* ip, uint16_t port, int kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (receivers_.count(kind))
    return -1;
  auto receiver = factory_.create_video_receiver(ip, port, own_id_, remote_id_, kind, ui_, mcu_);
  if (!receiver)
    return -1;
  receivers_[kind] = std::move(receiver);
  return 0;
}

bool user_media_ctrl::stop_receiver(int kind) {
  std::unique_ptr<media_receiver> receiver;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = receivers_.find(kind);
    if (it == receivers_.end())
      return false;
    receiver = std::move(it->second);
    receivers_.erase(it);
  }
  return true;  // the receiver stops as it goes out of scope, outside the lock
}

bool user_media_ctrl::has(int kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return receivers_.count(kind) != 0;
}

uint32_t user_media_ctrl::kinds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t kinds = 0;
  for (const auto& receiver : receivers_)
    kinds |= static_cast<uint32_t>(receiver.first);
  return kinds;
}
