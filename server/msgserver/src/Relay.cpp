#include "Relay.h"

#include <fcntl.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <future>

#include <sodium.h>

#include "TextCheck.h"
#include "tavsrv/ChatHandoff.h"
#include "tavsrv/Descriptors.h"
#include "tavsrv/Log.h"

namespace msgserver {

namespace wire = corda::wire;

namespace {

// Role code of auditors in the service's credentials: they listen but never chat.
constexpr int kAuditorRole = 4;
// Descriptors kept free of connections: the listening socket, the log, the
// chat and removal calls to the service.
constexpr std::size_t kSpareDescriptors = 32;
// Connections closed since the most there were, or bytes of unfinished frames
// let go since the memory was last given back, that count as a flood gone: the
// memory goes back to the system a second later (one trim for the whole wave,
// at most one a second).
constexpr std::size_t kFloodGone = 1024;
constexpr std::size_t kPartialFloodGone = 1u << 20;
constexpr auto kTrimDelay = std::chrono::seconds(1);
// Connections closed to make room are logged the first time and then once in so many.
constexpr std::uint64_t kLogRoomEvery = 1000;
// What travels on NATS: this byte, then a deliver frame's payload (without its
// length and type: the largest still fits NATS's default 1 MiB payload).
constexpr char kClusterFormat = 1;
// Sends NATS did not take, and messages from it dropped, are logged the first
// time and then once in so many.
constexpr std::uint64_t kLogClusterEvery = 1000;
// Bytes taken from NATS and not yet handled by the relay thread.
constexpr std::size_t kMaxClusterBacklog = 64u << 20;

}  // namespace

Relay::Relay(const Config& config) : config_(config) {}

Relay::~Relay() {
  stop();
}

std::uint16_t Relay::start(std::string& error) {
  // Credentials are checked with libsodium's HMAC; it must be set up once first.
  if (sodium_init() < 0) {
    error = "libsodium cannot be initialised";
    return 0;
  }
  asio::error_code ec;
  const auto address = asio::ip::make_address(config_.listen_host, ec);
  if (ec) {
    error = "bad listen address '" + config_.listen_host + "'";
    return 0;
  }
  if (!config_.service_url.empty()) {
    const auto service = parse_service_url(config_.service_url);
    if (!service) {
      error = "bad service url '" + config_.service_url + "'";
      return 0;
    }
    forwarder_ = std::make_unique<ChatForwarder>(*service, config_.internal_token,
                                                 config_.history_queue_limit);
  }
  if (!config_.moderation_url.empty()) {
    // The list comes on the watcher's thread and is applied on the relay's.
    watcher_ = std::make_unique<tavsrv::RemovalWatcher>(
        config_.moderation_url, config_.internal_token,
        [this](const std::vector<tavsrv::Removal>& removals) {
          asio::post(io_, [this, removals] { on_removals(removals); });
        });
  }
  if (!config_.nats_urls.empty()) {
    unsigned char id[8];
    randombytes_buf(id, sizeof id);
    static const char hex[] = "0123456789abcdef";
    marker_subject_ = config_.nats_prefix + ".node.";
    for (unsigned char b : id)
      marker_subject_ += {hex[b >> 4], hex[b & 15]};
    link_ = std::make_unique<ClusterLink>(
        config_.nats_urls, "tav-msgserver " + config_.listen_host + " " + marker_subject_,
        static_cast<ClusterLink::Sink&>(*this));
  }
  const asio::ip::tcp::endpoint endpoint(address, config_.listen_port);
  acceptor_.open(endpoint.protocol(), ec);
  // Not handed to programs this process starts: a child holding it would keep the port.
  if (!ec)
    ::fcntl(acceptor_.native_handle(), F_SETFD, FD_CLOEXEC);
  if (!ec)
    acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec)
    acceptor_.bind(endpoint, ec);
  if (!ec)
    acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + config_.listen_host + ":" + std::to_string(config_.listen_port) +
            ": " + ec.message();
    acceptor_.close(ec);
    forwarder_.reset();
    return 0;
  }
  const std::uint16_t port = acceptor_.local_endpoint(ec).port();
  port_ = port;
  max_connections_ = std::max<std::size_t>(config_.max_connections, 1);
  const std::size_t descriptors = tavsrv::descriptorLimit();
  if (descriptors < max_connections_ + kSpareDescriptors) {
    max_connections_ = descriptors > kSpareDescriptors + 1 ? descriptors - kSpareDescriptors : 1;
    tavsrv::logWarn("msgserver: only " + std::to_string(descriptors) +
                    " descriptors (ulimit -n): at most " + std::to_string(max_connections_) +
                    " connections");
  }
  if (forwarder_)
    forwarder_->start();
  if (watcher_ && !watcher_->start(&error)) {
    acceptor_.close(ec);
    port_ = 0;
    forwarder_.reset();
    watcher_.reset();
    return 0;
  }
  if (link_ && (!link_->start(error) || !link_->subscribe(marker_subject_))) {
    if (error.empty())
      error = "NATS: cannot subscribe " + marker_subject_;
    acceptor_.close(ec);
    port_ = 0;
    link_.reset();
    forwarder_.reset();
    if (watcher_)
      watcher_->stop();
    watcher_.reset();
    return 0;
  }
  accept_next();
  thread_ = std::thread([this] {
    try {
      io_.run();
    } catch (const std::exception& e) {
      tavsrv::logWarn(std::string("msgserver: relay thread stopped: ") + e.what());
    }
  });
  return port;
}

void Relay::stop() {
  port_ = 0;
  if (watcher_)
    watcher_->stop();  // no more lists posted
  if (thread_.joinable()) {
    std::promise<void> done;
    auto finished = done.get_future();
    asio::post(io_, [this, &done] {
      shutdown_all();
      done.set_value();
    });
    finished.wait();
    io_.stop();
    thread_.join();
  }
  if (forwarder_)
    forwarder_->stop();
}

void Relay::shutdown_all() {
  asio::error_code ignored;
  acceptor_.close(ignored);
  accept_retry_.cancel();
  trim_timer_.cancel();
  std::vector<std::shared_ptr<Session>> all;
  all.reserve(sessions_.size());
  for (const auto& entry : sessions_)
    all.push_back(entry.second);
  for (const auto& session : all)
    session->close_now();
  channels_.clear();
  sessions_.clear();
  backlogs_.clear();
  held_bytes_ = 0;
  grace_timer_.cancel();
  awaiting_.clear();
  interests_.clear();
  // No libnats thread calls in after this; what it posted already finds no member
  // (and the link's end is no loss to report).
  link_up_ = false;
  if (link_)
    link_->stop();
}

void Relay::accept_next() {
  acceptor_.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open())
      return;
    if (ec) {
      // Typically out of file descriptors: wait a little instead of spinning.
      tavsrv::logWarn("msgserver: accept failed: " + ec.message());
      accept_retry_.expires_after(std::chrono::milliseconds(100));
      accept_retry_.async_wait([this](const asio::error_code& e) {
        if (!e)
          accept_next();
      });
      return;
    }
    ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
    admit(std::move(socket));
    accept_next();
  });
}

void Relay::admit(asio::ip::tcp::socket socket) {
  asio::error_code ec;
  const auto remote = socket.remote_endpoint(ec);
  if (ec)
    return;  // gone already; the socket closes with this scope
  ++accepted_;
  if (cluster_down()) {
    // Closed without a word: the client tries again (the service hands out a node with NATS).
    ++cluster_refused;
    return;
  }
  std::string address = remote.address().to_string();
  if (sessions_.size() >= max_connections_) {
    if (pending_.empty()) {
      // Every place is held by a member that said hello: the server is full.
      if (refused_connections_++ % kLogRoomEvery == 0)
        tavsrv::logWarn("msgserver: connection from " + address + " refused: " +
                        std::to_string(max_connections_) + " connections, all said hello (" +
                        std::to_string(refused_connections_.load()) + " refused so far)");
      return;
    }
    make_room(*pending_.front(), "the connections in all are at their limit");
  }
  const std::uint64_t id = next_id_++;
  auto session = std::make_shared<Session>(std::move(socket), *this, id, address);
  sessions_.emplace(id, session);
  ++connections_;
  peak_connections_ = std::max(peak_connections_, sessions_.size());
  auto& mine = pending_by_address_[address];
  session->pending_place = Session::PendingPlace{pending_.insert(pending_.end(), session.get()),
                                                 mine.insert(mine.end(), session.get())};
  ++pending_count_;
  if (mine.size() > std::max<std::size_t>(config_.max_pending_per_address, 1))
    make_room(*mine.front(), "its address's connections without hello are at their limit");
  session->start();
}

void Relay::make_room(Session& session, const char* why) {
  if (refused_connections_++ % kLogRoomEvery == 0)
    tavsrv::logWarn("msgserver: connection #" + std::to_string(session.id()) + " from " +
                    session.address() + " closed before its hello: " + why + " (" +
                    std::to_string(refused_connections_.load()) + " so far)");
  session.close_now();
}

void Relay::forget_pending(Session& session) {
  if (!session.pending_place)
    return;
  pending_.erase(session.pending_place->all);
  const auto mine = pending_by_address_.find(session.address());
  mine->second.erase(session.pending_place->by_address);
  if (mine->second.empty())
    pending_by_address_.erase(mine);
  session.pending_place.reset();
  --pending_count_;
}

bool Relay::on_registered(const std::shared_ptr<Session>& session) {
  forget_pending(*session);
  if (link_ && !take_interests(*session)) {
    awaiting_.emplace(session->id(), session);
    return false;
  }
  join(session);
  return true;
}

void Relay::join(const std::shared_ptr<Session>& session) {
  auto& mine = channels_[session->channel_id()][session->user_id()];
  mine.push_back(session);
  // One credential cannot hold many connections (nor their unfinished frames):
  // the member's oldest goes, so a reconnecting client's newest stays.
  const std::size_t limit = std::max<std::size_t>(config_.max_connections_per_member, 1);
  while (mine.size() > limit) {
    const std::shared_ptr<Session> oldest = mine.front();
    ++replaced_;
    tavsrv::logInfo("msgserver: connection #" + std::to_string(oldest->id()) + " (user " +
                    std::to_string(oldest->user_id()) + ", channel " +
                    std::to_string(oldest->channel_id()) + "): " + std::to_string(limit) +
                    " newer connections of the member; closed");
    oldest->close_with(wire::CloseCode::credential_refused,
                       "replaced by a newer connection of the same member");
  }
}

bool Relay::take_partial(std::size_t bytes) {
  if (bytes > config_.max_partial_bytes - std::min(partial_bytes_, config_.max_partial_bytes))
    return false;
  partial_bytes_ += bytes;
  partial_bytes_now_ = partial_bytes_;
  return true;
}

void Relay::release_partial(std::size_t bytes) {
  bytes = std::min(bytes, partial_bytes_);
  partial_bytes_ -= bytes;
  partial_bytes_now_ = partial_bytes_;
  partial_released_ += bytes;
  trim_after_flood();
}

void Relay::trim_after_flood() {
  if (trim_armed_ ||
      (peak_connections_ < sessions_.size() + kFloodGone && partial_released_ < kPartialFloodGone))
    return;
  trim_armed_ = true;
  trim_timer_.expires_after(kTrimDelay);
  trim_timer_.async_wait([this](const asio::error_code& ec) {
    trim_armed_ = false;
    if (ec)
      return;
    peak_connections_ = sessions_.size();
    partial_released_ = 0;
#ifdef __GLIBC__
    // Freed blocks stay with the allocator otherwise, however many.
    ::malloc_trim(0);
#endif
  });
}

std::optional<tavsrv::Credential> Relay::verify(std::string_view credential) const {
  if (credential.empty())
    return std::nullopt;
  return tavsrv::verifyCredential(config_.internal_token, credential, wall_clock_ms());
}

std::int64_t Relay::wall_clock_ms() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool Relay::removed(std::uint32_t channel_id, std::uint32_t user_id) const {
  return channel_id != kOneLoginChannel &&
         removals_.removed(channel_id, user_id, tavsrv::steadyNowMs());
}

void Relay::on_removals(const std::vector<tavsrv::Removal>& removals) {
  removals_.replace(removals, tavsrv::steadyNowMs());
  for (const tavsrv::Removal& removal : removals) {
    if (removal.leftMs <= 0 || removal.room == kOneLoginChannel)
      continue;
    const auto channel = channels_.find(removal.room);
    if (channel == channels_.end())
      continue;
    const auto user = channel->second.find(removal.user);
    if (user == channel->second.end())
      continue;
    const UserSessions cut = user->second;  // closing edits the directory
    for (const auto& session : cut) {
      ++removals_cut_;
      tavsrv::logInfo("msgserver: connection #" + std::to_string(session->id()) + " (user " +
                      std::to_string(removal.user) + ", channel " + std::to_string(removal.room) +
                      "): removed from the room; closed");
      session->close_with(wire::CloseCode::credential_refused, "removed from the room");
    }
  }
}

void Relay::on_send(Session& sender, const wire::SendMsg& msg) {
  const std::uint32_t channel_id = sender.channel_id();
  // Receivers act on JSON objects only, and believe the sendUserId inside.
  const TextFacts facts = inspect_text(msg.text, sender.user_id());
  if (!facts.object) {
    refuse(sender, "not a JSON object");
    return;
  }
  if (facts.type_ids > 1) {
    refuse(sender, "typeId given twice");
    return;
  }
  if (facts.foreign_sender) {
    refuse(sender, "sendUserId names another user");
    return;
  }
  const bool chat = facts.chat_type.has_value() && channel_id != kOneLoginChannel;
  if (chat && sender.role_code() == kAuditorRole) {
    refuse(sender, "auditors may not chat");
    return;
  }
  // Longer chat could never be stored, so it is not even queued.
  if (chat && forwarder_ && msg.text.size() > tavsrv::kMaxChatBytes) {
    refuse(sender, "chat of " + std::to_string(msg.text.size()) + " bytes, longer than the " +
                       std::to_string(tavsrv::kMaxChatBytes) + " the service keeps");
    return;
  }

  const auto frame = std::make_shared<const std::string>(
      wire::encode_deliver({sender.user_id(), channel_id, msg.target, msg.text}));
  const auto backlog = backlogs_.find(channel_id);
  const bool holding = backlog != backlogs_.end();
  if (!holding && !(chat && forwarder_)) {
    relay_out(channel_id, msg.target, frame);
    return;
  }
  if ((holding && backlog->second.sends.size() >= config_.max_held_per_channel) ||
      held_bytes_ + frame->size() > config_.max_held_bytes) {
    refuse(sender, "too many sends wait for the service");
    return;
  }

  Held held;
  held.sender = sender.user_id();
  held.target = std::string(msg.target);
  held.frame = frame;
  Backlog& queue = holding ? backlog->second : backlogs_[channel_id];
  if (chat && forwarder_) {
    held.ticket = queue.next_ticket++;
    held.state = Held::State::waiting;
    ChatRecord record;
    record.room_id = channel_id;
    record.user_id = sender.user_id();
    record.type_id = *facts.chat_type;
    record.text = std::string(msg.text);
    // Taken now: whatever the service changes while the record waits is after it.
    if (watcher_)
      record.version = watcher_->version();
    // The worker's answer comes back to this thread; never run after stop().
    record.done = [this, channel_id, ticket = held.ticket](bool accepted, std::string stored) {
      asio::post(io_, [this, channel_id, ticket, accepted, stored = std::move(stored)] {
        on_verdict(channel_id, ticket, accepted, stored);
      });
    };
    if (!forwarder_->submit(std::move(record))) {
      if (queue.sends.empty())
        backlogs_.erase(channel_id);
      return;  // counted and logged by the forwarder
    }
  }
  held_bytes_ += frame->size();
  queue.sends.push_back(std::move(held));
}

void Relay::refuse(Session& sender, const std::string& why) {
  ++sends_refused_;
  const std::string line = "connection #" + std::to_string(sender.id()) + " (user " +
                           std::to_string(sender.user_id()) + ", channel " +
                           std::to_string(sender.channel_id()) + "): send not relayed: " + why;
  if (sender.first_refusal())
    tavsrv::logWarn("msgserver: " + line +
                    " (further refusals of this connection only when verbose)");
  else if (config_.verbose)
    tavsrv::logDebug("msgserver: " + line);
}

void Relay::relay_out(std::uint32_t channel_id, std::string_view target,
                      const std::shared_ptr<const std::string>& frame) {
  ++messages_;
  if (!link_) {
    fan_out(channel_id, target, frame);
    return;
  }
  std::string data;
  data.reserve(frame->size() - 4);
  data += kClusterFormat;
  data.append(*frame, 5, std::string::npos);
  if (link_->publish(cluster_subject(config_.nats_prefix, channel_id, target), data)) {
    ++cluster_published_;
    return;
  }
  if (cluster_failed_++ % kLogClusterEvery == 0)
    tavsrv::logWarn("msgserver: NATS took no message of channel " + std::to_string(channel_id) +
                    ": not relayed (" + std::to_string(cluster_failed_.load()) + " so far)");
}

void Relay::fan_out(std::uint32_t channel_id, std::string_view target,
                    const std::shared_ptr<const std::string>& frame) {
  std::vector<std::shared_ptr<Session>> recipients;  // copies: delivering may edit the directory
  const auto channel = channels_.find(channel_id);
  if (channel != channels_.end()) {
    if (target == "*") {
      for (const auto& user : channel->second)
        recipients.insert(recipients.end(), user.second.begin(), user.second.end());
    } else if (const auto user_id = wire::target_user(target)) {
      const auto user = channel->second.find(*user_id);
      if (user != channel->second.end())
        recipients = user->second;
    }
  }
  for (const auto& recipient : recipients)
    recipient->deliver(frame);
  deliveries_ += recipients.size();
}

void Relay::on_verdict(std::uint32_t channel_id, std::uint64_t ticket, bool accepted,
                       const std::string& stored) {
  const auto backlog = backlogs_.find(channel_id);
  if (backlog == backlogs_.end())
    return;
  for (Held& held : backlog->second.sends) {
    if (held.ticket == ticket && held.state == Held::State::waiting) {
      held.state = accepted ? Held::State::accepted : Held::State::refused;
      // The room hears what the history keeps: the sender's name and role as the
      // service knows them, not as the client wrote them.
      if (accepted && !stored.empty() && stored.size() <= wire::kMaxTextLength) {
        auto frame = std::make_shared<const std::string>(
            wire::encode_deliver({held.sender, channel_id, held.target, stored}));
        held_bytes_ = held_bytes_ - held.frame->size() + frame->size();
        held.frame = std::move(frame);
      }
      break;
    }
  }
  flush(channel_id);
}

void Relay::flush(std::uint32_t channel_id) {
  const auto backlog = backlogs_.find(channel_id);
  if (backlog == backlogs_.end())
    return;
  auto& sends = backlog->second.sends;
  while (!sends.empty() && sends.front().state != Held::State::waiting) {
    const Held held = std::move(sends.front());
    sends.pop_front();
    held_bytes_ -= held.frame->size();
    if (held.state == Held::State::accepted)
      relay_out(channel_id, held.target, held.frame);
  }
  if (sends.empty())
    backlogs_.erase(backlog);
}

void Relay::on_closed(Session& session) {
  const auto it = sessions_.find(session.id());
  if (it == sessions_.end())
    return;
  const std::shared_ptr<Session> keep = it->second;  // alive until this returns
  sessions_.erase(it);
  --connections_;
  forget_pending(session);
  trim_after_flood();
  if (!session.registered())
    return;
  if (link_) {
    awaiting_.erase(session.id());
    drop_interests(session);
  }
  const auto channel = channels_.find(session.channel_id());
  if (channel == channels_.end())
    return;
  const auto user = channel->second.find(session.user_id());
  if (user == channel->second.end())
    return;
  auto& list = user->second;
  for (auto i = list.begin(); i != list.end(); ++i) {
    if (i->get() == &session) {
      list.erase(i);
      break;
    }
  }
  if (list.empty())
    channel->second.erase(user);
  if (channel->second.empty())
    channels_.erase(channel);
}

bool Relay::take_interests(const Session& session) {
  bool ready = link_up_;
  for (const std::string& subject :
       cluster_interests(config_.nats_prefix, session.channel_id(), session.user_id())) {
    Interest& interest = interests_[subject];
    if (interest.sessions++ == 0) {
      link_->subscribe(subject);
      subscriptions_now_ = link_->subscriptions();
      interest.marker = next_marker_;
      send_marker();
    }
    ready = ready && interest.marker <= confirmed_marker_;
  }
  return ready;
}

void Relay::drop_interests(const Session& session) {
  for (const std::string& subject :
       cluster_interests(config_.nats_prefix, session.channel_id(), session.user_id())) {
    const auto interest = interests_.find(subject);
    if (interest == interests_.end() || --interest->second.sessions > 0)
      continue;
    interests_.erase(interest);
    link_->unsubscribe(subject);
    subscriptions_now_ = link_->subscriptions();
  }
}

void Relay::send_marker() {
  // One marker confirms every subscription made before it: one per turn of the loop.
  if (marker_posted_)
    return;
  marker_posted_ = true;
  asio::post(io_, [this] {
    marker_posted_ = false;
    if (link_)
      link_->publish(marker_subject_, std::to_string(next_marker_++));
  });
}

void Relay::on_marker(std::uint64_t marker) {
  confirmed_marker_ = std::max(confirmed_marker_, marker);
  if (!link_up_)
    return;
  std::vector<std::shared_ptr<Session>> ready;
  for (const auto& entry : awaiting_) {
    bool all = true;
    for (const std::string& subject : cluster_interests(
             config_.nats_prefix, entry.second->channel_id(), entry.second->user_id())) {
      const auto interest = interests_.find(subject);
      all = all && interest != interests_.end() && interest->second.marker <= confirmed_marker_;
    }
    if (all)
      ready.push_back(entry.second);
  }
  for (const auto& session : ready) {
    awaiting_.erase(session->id());
    // A removal may have come while it waited.
    if (removed(session->channel_id(), session->user_id())) {
      session->close_with(wire::CloseCode::credential_refused, "removed from the room");
      continue;
    }
    join(session);
    session->welcome();
  }
}

void Relay::cluster_message(std::string subject, std::string data) {
  // What NATS brings waits for the relay thread in memory: bounded, so a relay
  // thread that cannot keep up drops (and says so) rather than grows.
  const std::size_t bytes = subject.size() + data.size();
  if (cluster_backlog_bytes_ + bytes > kMaxClusterBacklog) {
    if (cluster_dropped_++ % kLogClusterEvery == 0)
      tavsrv::logWarn("msgserver: messages from NATS wait for the relay thread beyond " +
                      std::to_string(kMaxClusterBacklog) + " bytes: dropped (" +
                      std::to_string(cluster_dropped_.load()) + " so far)");
    return;
  }
  cluster_backlog_bytes_ += bytes;
  asio::post(io_, [this, bytes, subject = std::move(subject), data = std::move(data)] {
    cluster_backlog_bytes_ -= bytes;
    on_cluster_message(subject, data);
  });
}

void Relay::cluster_state(bool up) {
  asio::post(io_, [this, up] { on_cluster_state(up); });
}

void Relay::on_cluster_state(bool up) {
  if (up == link_up_ || !link_)
    return;
  link_up_ = up;
  link_up_now_ = up;
  if (!up) {
    tavsrv::logWarn("msgserver: lost NATS: no new connections; members stay " +
                    std::to_string(config_.nats_grace.count()) +
                    " ms for it to come back, then are closed");
    grace_timer_.expires_after(config_.nats_grace);
    grace_timer_.async_wait([this](const asio::error_code& ec) {
      if (ec || link_up_)
        return;
      std::vector<std::shared_ptr<Session>> all;
      for (const auto& entry : sessions_)
        all.push_back(entry.second);
      tavsrv::logWarn("msgserver: NATS still away: closing " + std::to_string(all.size()) +
                      " connections");
      for (const auto& session : all)
        session->close_with(wire::CloseCode::shutting_down,
                            "the message server lost its cluster link");
    });
    return;
  }
  grace_timer_.cancel();
  tavsrv::logInfo("msgserver: connected to NATS; taking connections");
  // The subscriptions are made again at NATS; those made before it count once
  // a new marker confirms them, and so do the members waiting for them.
  const std::uint64_t marker = next_marker_;
  for (auto& entry : interests_)
    entry.second.marker = marker;
  send_marker();
}

void Relay::on_cluster_message(const std::string& subject, const std::string& data) {
  if (subject == marker_subject_) {
    on_marker(std::strtoull(data.c_str(), nullptr, 10));
    return;
  }
  ++cluster_received_;
  // NATS is inside the deployment, but what comes from it is still read with
  // care: a message whose subject does not match its channel and target is dropped.
  const char* fault = nullptr;
  std::optional<wire::Deliver> deliver;
  if (data.empty() || data[0] != kClusterFormat)
    fault = "unknown format";
  else if (!(deliver = wire::decode_deliver(std::string_view(data).substr(1))) ||
           !wire::valid_target(deliver->target))
    fault = "malformed";
  else if (cluster_subject(config_.nats_prefix, deliver->channel_id, deliver->target) != subject)
    fault = "on another channel's subject";
  if (fault) {
    if (cluster_dropped_++ % kLogClusterEvery == 0)
      tavsrv::logWarn("msgserver: message from NATS on " + subject + " dropped: " + fault + " (" +
                      std::to_string(cluster_dropped_.load()) + " so far)");
    return;
  }
  // Another node may not have heard of the removal yet.
  if (removed(deliver->channel_id, deliver->sender_id)) {
    ++cluster_dropped_;
    return;
  }
  const auto frame = std::make_shared<const std::string>(
      wire::encode_frame(wire::FrameType::deliver, std::string_view(data).substr(1)));
  fan_out(deliver->channel_id, deliver->target, frame);
}

Stats Relay::stats() const {
  Stats s;
  s.connections = connections_;
  s.accepted = accepted_;
  s.messages = messages_;
  s.deliveries = deliveries_;
  s.protocol_errors = protocol_errors;
  s.slow_consumers = slow_consumers;
  s.idle_drops = idle_drops;
  s.hellos_refused = hellos_refused;
  s.pending = pending_count_;
  s.refused_connections = refused_connections_;
  s.hello_timeouts = hello_timeouts;
  s.replaced = replaced_;
  s.partial_bytes = partial_bytes_now_;
  s.partial_refused = partial_refused;
  s.credentials_expired = credentials_expired;
  s.sends_refused = sends_refused_;
  s.removals_cut = removals_cut_;
  s.removal_lists = watcher_ ? watcher_->answers() : 0;
  s.cluster_up = link_up_now_;
  s.cluster_published = cluster_published_;
  s.cluster_received = cluster_received_;
  s.cluster_failed = cluster_failed_;
  s.cluster_dropped = cluster_dropped_;
  s.cluster_refused = cluster_refused;
  s.cluster_subscriptions = subscriptions_now_;
  if (forwarder_) {
    s.chat_forwarded = forwarder_->forwarded();
    s.chat_refused = forwarder_->refused();
    s.chat_failed = forwarder_->failed();
    s.chat_dropped = forwarder_->dropped();
  }
  return s;
}

}  // namespace msgserver
