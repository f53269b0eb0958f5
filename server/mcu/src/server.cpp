// The main port (room join: 30 -> 31 {room port}), the rooms, and their housekeeping.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "admission.h"
#include "mcu/media_router.h"
#include "mcu/server.h"
#include "netra/kcp_server.h"
#include "room.h"
#include "tavsrv/Log.h"
#include "tavsrv/Random.h"
#include "wirebytes/byte_reader.h"
#include "wirebytes/byte_writer.h"

namespace mcu {

using namespace pavo_wire;

namespace {

// How often the housekeeping looks at the rooms.
constexpr auto housekeeping_period = std::chrono::milliseconds(500);

}  // namespace

class Server::Impl {
public:
  explicit Impl(Config config)
      : config_(std::move(config)),
        pending_(pending_limits{config_.max_pending_per_address, config_.max_pending_per_endpoint,
                                config_.login_timeout_ms}) {
    relay_ = config_.relay;
    if (!relay_) {
      media_router_options options;
      options.host = config_.listen_host;
      options.port_base = config_.media_port_base;
      options.port_count = config_.media_port_count;
      relay_ = std::make_shared<media_router>(options);
    }
  }
  ~Impl() { stop(); }

  uint16_t start();
  void stop();
  Stats stats();
  std::vector<RoomInfo> rooms();
  bool disconnect_user(uint32_t room_id, uint32_t user_id);

  uint16_t port_ = 0;
  std::string error_;

private:
  bool on_accept(uint64_t session, const netra::kcp_peer_address& address);
  void on_join(uint64_t session, const kcp_header_t& header, const uint8_t* payload,
               unsigned length);
  // 31 {port}, port 0 for a refusal; the session ends after it.
  void answer_join(uint64_t session, uint16_t port);
  // The port of the room, opened if needed; 0 when it cannot be. Read under the registry's
  // lock: the housekeeping may close an empty room right after.
  uint16_t room_port_for(uint32_t room_id);
  void housekeeping();
  // The relay's control messages (retransmission requests, feedback) to a member.
  void send_to_member(uint32_t room_id, uint32_t user_id, uint32_t type, const uint8_t* payload,
                      unsigned length);
  // A new list from the service: the removed members present are disconnected (70).
  void on_removals(const std::vector<tavsrv::Removal>& removals);

  Config config_;
  std::shared_ptr<media_relay> relay_;
  room_counters counters_;
  std::atomic<uint64_t> joins_{0};
  std::atomic<uint64_t> refused_joins_{0};
  std::atomic<uint64_t> refused_sessions_{0};  // on the main port
  std::atomic<uint64_t> timed_out_{0};         // on the main port
  std::atomic<uint64_t> removals_cut_{0};
  tavsrv::RemovalList removals_;
  std::unique_ptr<tavsrv::RemovalWatcher> watcher_;
  pending_sessions pending_;  // on the main port
  std::unique_ptr<netra::kcp_server> main_;

  std::mutex rooms_mutex_;
  std::map<uint32_t, std::unique_ptr<room>> rooms_;

  std::mutex stop_mutex_;
  std::condition_variable stop_signal_;
  bool stopping_ = false;
  std::thread housekeeper_;
};

uint16_t Server::Impl::start() {
  if (main_)
    return port_;
  if (!tavsrv::initCrypto()) {
    error_ = "libsodium does not start";
    return 0;
  }
  netra::kcp_server_options options;
  options.ip = config_.listen_host;
  options.port = config_.listen_port;
  options.idle_timeout_ms = config_.session_idle_ms;
  netra::kcp_server::handlers handlers;
  handlers.on_accept = [this](uint64_t session, const netra::kcp_peer_address& address) {
    return on_accept(session, address);
  };
  handlers.on_message = [this](uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                               unsigned length) { on_join(session, header, payload, length); };
  handlers.on_close = [this](uint64_t session, netra::kcp_close_reason) {
    pending_.settle(session);
  };
  handlers.on_log = [](const std::string& line) { tavsrv::logDebug("mcu: " + line); };
  main_ = std::make_unique<netra::kcp_server>(options, handlers);
  if (main_->start() != 0) {
    error_ = "cannot listen on " + config_.listen_host + ":" + std::to_string(config_.listen_port);
    main_.reset();
    return 0;
  }
  port_ = main_->port();
  if (!config_.service_url.empty()) {
    watcher_ = std::make_unique<tavsrv::RemovalWatcher>(
        config_.service_url, config_.internal_token,
        [this](const std::vector<tavsrv::Removal>& removals) { on_removals(removals); });
    if (!watcher_->start(&error_)) {
      watcher_.reset();
      main_->stop();
      main_.reset();
      return 0;
    }
  }
  relay_->set_control_sender(
      [this](uint32_t room_id, uint32_t user_id, uint32_t type, const uint8_t* payload,
             unsigned length) { send_to_member(room_id, user_id, type, payload, length); });
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = false;
  }
  housekeeper_ = std::thread([this] { housekeeping(); });
  tavsrv::logInfo("mcu: listening on " + config_.listen_host + ":" + std::to_string(port_));
  if (config_.internal_token.empty())
    tavsrv::logWarn(
        "mcu: no internal token: every room join and login will be refused (credentials "
        "cannot be checked without the service's secret)");
  return port_;
}

void Server::Impl::stop() {
  if (!main_)
    return;
  if (watcher_) {
    watcher_->stop();  // no more lists
    watcher_.reset();
  }
  relay_->set_control_sender({});  // waits for a message being sent to a room
  main_->stop();
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = true;
  }
  stop_signal_.notify_all();
  if (housekeeper_.joinable())
    housekeeper_.join();
  std::map<uint32_t, std::unique_ptr<room>> rooms;
  {
    std::lock_guard<std::mutex> lock(rooms_mutex_);
    rooms.swap(rooms_);
  }
  // Members are told before the rooms go, and their goodbyes get a moment to arrive.
  for (auto& entry : rooms)
    entry.second->farewell();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  auto drained = [&rooms] {
    for (const auto& entry : rooms)
      if (!entry.second->drained())
        return false;
    return true;
  };
  while (!drained() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  rooms.clear();  // each stops its endpoint and gives its ports back
  main_.reset();
}

bool Server::Impl::on_accept(uint64_t session, const netra::kcp_peer_address& address) {
  if (pending_.admit(session, address.ip, address.port, steady_ms()))
    return true;
  if (worth_a_line(++refused_sessions_))
    tavsrv::logWarn("mcu: main port: refused a session from " + address.ip + ":" +
                    std::to_string(address.port) + ", too many without a join from there (" +
                    std::to_string(refused_sessions_) + " refused so far)");
  return false;
}

void Server::Impl::on_join(uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                           unsigned length) {
  if (header.type == msg_keep_alive) {
    kcp_header_t ping_header{0, 0, msg_ping};
    main_->send(session, ping_header, nullptr, 0);
    return;
  }
  if (header.type == msg_health) {
    // Closed at once, so the service's probes hold no place among the sessions
    // waiting for a join.
    pending_.settle(session);
    kcp_header_t ack_header{0, 0, msg_health_ack};
    main_->send(session, ack_header, nullptr, 0);
    main_->close(session);
    return;
  }
  wirebytes::byte_reader in(payload, length);
  const uint32_t room_id = in.u32();
  if (header.type != msg_join_room || !in.ok()) {
    tavsrv::logDebug("mcu: main port: ignored message " + std::to_string(header.type));
    return;
  }
  pending_.settle(session);  // answered either way, and closed
  const auto text = read_credential(in);
  if (!check_credential(config_.internal_token, text, room_id)) {
    if (worth_a_line(++refused_joins_))
      tavsrv::logWarn(
          "mcu: refused a join of room " + std::to_string(room_id) +
          (text ? ": the credential is not valid for this room (signature, room or expiry)"
                : ": no credential") +
          " (" + std::to_string(refused_joins_) + " refused so far)");
    answer_join(session, 0);
    return;
  }
  const uint16_t port = room_port_for(room_id);
  if (!port) {
    ++refused_joins_;
    answer_join(session, 0);
    return;
  }
  ++joins_;  // counted before the answer, which a client may act on at once
  answer_join(session, port);
}

void Server::Impl::answer_join(uint64_t session, uint16_t port) {
  bytes reply;
  wirebytes::byte_writer(reply).u16(port);
  kcp_header_t reply_header{0, static_cast<uint16_t>(reply.size()), msg_room_port};
  main_->send(session, reply_header, reply.data(), static_cast<unsigned>(reply.size()));
  main_->close(session);  // the client goes on to the room's port
}

uint16_t Server::Impl::room_port_for(uint32_t room_id) {
  std::lock_guard<std::mutex> lock(rooms_mutex_);
  auto found = rooms_.find(room_id);
  if (found != rooms_.end()) {
    found->second->joined(steady_ms());
    return found->second->port();
  }
  if (rooms_.size() >= config_.max_rooms) {
    tavsrv::logWarn("mcu: room limit reached, refusing room " + std::to_string(room_id));
    return 0;
  }
  auto created = std::make_unique<room>(room_id, config_, *relay_, counters_, removals_);
  std::string error;
  if (!created->start(&error)) {
    tavsrv::logError("mcu: " + error);
    return 0;
  }
  created->joined(steady_ms());
  const uint16_t port = created->port();
  tavsrv::logInfo("mcu: room " + std::to_string(room_id) + " opened on port " +
                  std::to_string(port));
  rooms_[room_id] = std::move(created);
  return port;
}

void Server::Impl::send_to_member(uint32_t room_id, uint32_t user_id, uint32_t type,
                                  const uint8_t* payload, unsigned length) {
  std::lock_guard<std::mutex> lock(rooms_mutex_);
  auto found = rooms_.find(room_id);
  if (found != rooms_.end())
    found->second->send_to_member(user_id, type, payload, length);
}

void Server::Impl::on_removals(const std::vector<tavsrv::Removal>& removals) {
  removals_.replace(removals, tavsrv::steadyNowMs());
  std::lock_guard<std::mutex> lock(rooms_mutex_);
  for (const tavsrv::Removal& removal : removals) {
    auto found = rooms_.find(removal.room);
    if (removal.leftMs <= 0 || found == rooms_.end() || !found->second->disconnect(removal.user))
      continue;
    ++removals_cut_;
    tavsrv::logInfo("mcu: room " + std::to_string(removal.room) + ": user " +
                    std::to_string(removal.user) + " removed from the room; session ended");
  }
}

void Server::Impl::housekeeping() {
  uint64_t last_probe = steady_ms();
  std::unique_lock<std::mutex> lock(stop_mutex_);
  while (!stop_signal_.wait_for(lock, housekeeping_period, [this] { return stopping_; })) {
    lock.unlock();
    const uint64_t now = steady_ms();
    const bool probe_now =
        config_.probe_interval_ms > 0 && now - last_probe >= config_.probe_interval_ms;
    if (probe_now)
      last_probe = now;
    for (uint64_t session : pending_.take_overdue(now)) {
      ++timed_out_;
      main_->close(session);  // connected, but no join within the time-out
    }
    std::vector<std::unique_ptr<room>> closed;
    {
      std::lock_guard<std::mutex> rooms_lock(rooms_mutex_);
      for (auto it = rooms_.begin(); it != rooms_.end();) {
        it->second->close_overdue(now);
        if (it->second->empty_for(now) > config_.empty_room_ms) {
          tavsrv::logInfo("mcu: room " + std::to_string(it->first) + " closed (empty)");
          closed.push_back(std::move(it->second));
          it = rooms_.erase(it);
          continue;
        }
        if (probe_now)
          it->second->probe();
        ++it;
      }
    }
    closed.clear();  // stopped outside the registry's lock
    lock.lock();
  }
}

Stats Server::Impl::stats() {
  Stats stats;
  stats.joins = joins_;
  stats.logins = counters_.logins;
  stats.messages = counters_.messages;
  stats.dropped = counters_.dropped;
  stats.refused_joins = refused_joins_;
  stats.refused_logins = counters_.refused_logins;
  stats.refused_actions = counters_.refused_actions;
  stats.removals_cut = removals_cut_;
  stats.refused_sessions = refused_sessions_ + counters_.refused_sessions;
  stats.timed_out = timed_out_ + counters_.timed_out;
  stats.pending = pending_.size();
  std::lock_guard<std::mutex> lock(rooms_mutex_);
  stats.rooms = rooms_.size();
  for (auto& entry : rooms_) {
    stats.members += entry.second->member_count();
    stats.pending += entry.second->pending_count();
  }
  return stats;
}

std::vector<RoomInfo> Server::Impl::rooms() {
  std::vector<RoomInfo> out;
  std::lock_guard<std::mutex> lock(rooms_mutex_);
  for (auto& entry : rooms_)
    out.push_back(entry.second->info());
  return out;
}

bool Server::Impl::disconnect_user(uint32_t room_id, uint32_t user_id) {
  std::lock_guard<std::mutex> lock(rooms_mutex_);
  auto found = rooms_.find(room_id);
  return found != rooms_.end() && found->second->disconnect(user_id);
}

Server::Server(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}
Server::~Server() = default;

uint16_t Server::start() {
  return impl_->start();
}
void Server::stop() {
  impl_->stop();
}
uint16_t Server::port() const {
  return impl_->port_;
}
const std::string& Server::error() const {
  return impl_->error_;
}
Stats Server::stats() const {
  return impl_->stats();
}
std::vector<RoomInfo> Server::rooms() const {
  return impl_->rooms();
}
bool Server::disconnect_user(uint32_t room_id, uint32_t user_id) {
  return impl_->disconnect_user(room_id, user_id);
}

}  // namespace mcu
