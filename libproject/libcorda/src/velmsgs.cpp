#include "libcorda/velmsgs.h"

#include <memory>
#include <new>

#include "msg_client.h"

namespace velmsg {

namespace {

class velmsgs_impl final : public velmsgs {
public:
  explicit velmsgs_impl(std::shared_ptr<corda::msg_client> client) : client_(std::move(client)) {}
  ~velmsgs_impl() override { client_->shutdown(); }

  int send(const char* msg, const char* target) override {
    try {
      return client_->send(msg, target);
    } catch (...) {  // out of memory while queueing
      return send_queue_full;
    }
  }

private:
  std::shared_ptr<corda::msg_client> client_;
};

}  // namespace

velmsgs::~velmsgs() = default;

velmsgs* velmsgs::create(msg_observer* observer, unsigned int user_id, unsigned int channel_id,
                         const char* host, unsigned short port) {
  return create(observer, user_id, channel_id, host, port, nullptr);
}

velmsgs* velmsgs::create(msg_observer* observer, unsigned int user_id, unsigned int channel_id,
                         const char* host, unsigned short port, const char* credential) {
  if (!observer)
    return nullptr;
  try {
    auto client = std::make_shared<corda::msg_client>(
        observer, user_id, channel_id, host ? host : "", port, credential ? credential : "");
    auto result = std::make_unique<velmsgs_impl>(client);
    client->start();
    return result.release();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace velmsg
