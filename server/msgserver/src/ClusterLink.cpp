#include "ClusterLink.h"

#include <nats/nats.h>

#include <atomic>
#include <mutex>

#include "msg_wire.h"
#include "msgserver/Server.h"
#include "tavsrv/Log.h"

namespace msgserver {

namespace {

// Between two tries to reach NATS; libnats tries every URL of the list in turn.
constexpr int64_t kReconnectWaitMs = 250;
// What waits for NATS while it is away (libnats's default, said here).
constexpr int kReconnectBufferBytes = 8 << 20;
// A subscription's messages not yet handed to the relay: far more than a
// room sends while the relay thread is busy for a moment.
constexpr int kPendingMessages = 1 << 20;
constexpr int kPendingBytes = 256 << 20;

}  // namespace

// Lives until the link and every libnats thread that may call back are done
// with it: one reference for the link, one for the connection (let go by the
// closed callback, the last of the connection's) and one per subscription
// (let go when its deliveries are complete).
struct ClusterLink::Bridge {
  std::atomic<int> refs{1};
  std::mutex mutex;
  Sink* sink = nullptr;  // null once the link stopped

  void retain() { ++refs; }
  void release() {
    if (--refs == 0)
      delete this;
  }

  static void on_message(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
    auto* self = static_cast<Bridge*>(closure);
    std::string subject(natsMsg_GetSubject(msg));
    std::string data(natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)));
    natsMsg_Destroy(msg);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (self->sink)
      self->sink->cluster_message(std::move(subject), std::move(data));
  }
  static void state(void* closure, bool up) {
    auto* self = static_cast<Bridge*>(closure);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (self->sink)
      self->sink->cluster_state(up);
  }
  static void on_up(natsConnection*, void* closure) { state(closure, true); }
  static void on_down(natsConnection*, void* closure) { state(closure, false); }
  static void on_closed(natsConnection*, void* closure) {
    state(closure, false);
    static_cast<Bridge*>(closure)->release();
  }
  static void on_error(natsConnection*, natsSubscription*, natsStatus status, void*) {
    // Slow consumer and the like: messages were lost on the way to this node.
    tavsrv::logWarn(std::string("msgserver: NATS: ") + natsStatus_GetText(status));
  }
  static void on_complete(void* closure) { static_cast<Bridge*>(closure)->release(); }
};

ClusterLink::ClusterLink(std::vector<std::string> urls, std::string name, Sink& sink)
    : urls_(std::move(urls)), name_(std::move(name)), bridge_(new Bridge) {
  bridge_->sink = &sink;
}

ClusterLink::~ClusterLink() {
  stop();
  bridge_->release();
}

bool ClusterLink::start(std::string& error) {
  natsOptions* options = nullptr;
  if (natsOptions_Create(&options) != NATS_OK) {
    error = "NATS: no options";
    return false;
  }
  std::vector<const char*> servers;
  for (const std::string& url : urls_)
    servers.push_back(url.c_str());
  natsStatus s = natsOptions_SetServers(options, servers.data(), static_cast<int>(servers.size()));
  if (s == NATS_OK)
    s = natsOptions_SetName(options, name_.c_str());
  // Never give up: a node without NATS serves nobody, so it waits for it.
  if (s == NATS_OK)
    s = natsOptions_SetMaxReconnect(options, -1);
  if (s == NATS_OK)
    s = natsOptions_SetReconnectWait(options, kReconnectWaitMs);
  if (s == NATS_OK)
    s = natsOptions_SetReconnectBufSize(options, kReconnectBufferBytes);
  // One delivery thread for all subscriptions instead of one each (a node may
  // hear thousands of channels); it also keeps their messages in wire order.
  if (s == NATS_OK)
    s = natsOptions_UseGlobalMessageDelivery(options, true);
  if (s == NATS_OK)
    s = natsOptions_SetDisconnectedCB(options, &Bridge::on_down, bridge_);
  if (s == NATS_OK)
    s = natsOptions_SetReconnectedCB(options, &Bridge::on_up, bridge_);
  if (s == NATS_OK)
    s = natsOptions_SetClosedCB(options, &Bridge::on_closed, bridge_);
  if (s == NATS_OK)
    s = natsOptions_SetErrorHandler(options, &Bridge::on_error, bridge_);
  if (s == NATS_OK)
    s = natsOptions_SetRetryOnFailedConnect(options, true, &Bridge::on_up, bridge_);
  if (s != NATS_OK) {
    error = std::string("NATS: ") + natsStatus_GetText(s);
    natsOptions_Destroy(options);
    return false;
  }
  s = natsConnection_Connect(&connection_, options);
  natsOptions_Destroy(options);
  if (s != NATS_OK && s != NATS_NOT_YET_CONNECTED) {
    error = std::string("NATS: ") + natsStatus_GetText(s) + " (" + nats_GetLastError(nullptr) + ")";
    connection_ = nullptr;
    return false;
  }
  bridge_->retain();  // the connection's, let go by on_closed
  if (s == NATS_OK)
    Bridge::state(bridge_, true);  // connected at once: libnats calls no callback for it
  return true;
}

void ClusterLink::stop() {
  for (auto& entry : subs_) {
    natsSubscription_Unsubscribe(entry.second);
    natsSubscription_Destroy(entry.second);
  }
  subs_.clear();
  if (connection_) {
    natsConnection_Close(connection_);
    natsConnection_Destroy(connection_);
    connection_ = nullptr;
  }
  std::lock_guard<std::mutex> lock(bridge_->mutex);
  bridge_->sink = nullptr;
}

bool ClusterLink::publish(const std::string& subject, std::string_view data) {
  return connection_ && natsConnection_Publish(connection_, subject.c_str(), data.data(),
                                               static_cast<int>(data.size())) == NATS_OK;
}

bool ClusterLink::subscribe(const std::string& subject) {
  if (!connection_ || subs_.count(subject))
    return false;
  natsSubscription* sub = nullptr;
  bridge_->retain();
  if (natsConnection_Subscribe(&sub, connection_, subject.c_str(), &Bridge::on_message, bridge_) !=
      NATS_OK) {
    bridge_->release();
    return false;
  }
  if (natsSubscription_SetOnCompleteCB(sub, &Bridge::on_complete, bridge_) != NATS_OK) {
    // Without it nobody would let the reference go; the Bridge outlives the link then.
    tavsrv::logWarn("msgserver: NATS: no completion callback for " + subject);
  }
  natsSubscription_SetPendingLimits(sub, kPendingMessages, kPendingBytes);
  subs_.emplace(subject, sub);
  return true;
}

void ClusterLink::unsubscribe(const std::string& subject) {
  const auto it = subs_.find(subject);
  if (it == subs_.end())
    return;
  natsSubscription_Unsubscribe(it->second);
  natsSubscription_Destroy(it->second);
  subs_.erase(it);
}

std::string cluster_subject(const std::string& prefix, std::uint32_t channel,
                            std::string_view target) {
  if (channel != kOneLoginChannel)
    return prefix + ".ch." + std::to_string(channel);
  if (target == "*")
    return prefix + ".login.all";
  // "007" names user 7 as "7" does: one subject for both.
  const auto user = corda::wire::target_user(target);
  return prefix + ".login." + (user ? std::to_string(*user) : std::string("none"));
}

std::vector<std::string> cluster_interests(const std::string& prefix, std::uint32_t channel,
                                           std::uint32_t user) {
  if (channel != kOneLoginChannel)
    return {cluster_subject(prefix, channel, "*")};
  return {cluster_subject(prefix, channel, "*"),
          cluster_subject(prefix, channel, std::to_string(user))};
}

}  // namespace msgserver
