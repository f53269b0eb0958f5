#include "relay.h"

#include <future>

#include "log.h"

namespace msgserver {

namespace wire = corda::wire;

Relay::Relay(const Config& config) : config_(config) {}

Relay::~Relay() {
  stop();
}

std::uint16_t Relay::start(std::string& error) {
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
  const asio::ip::tcp::endpoint endpoint(address, config_.listen_port);
  acceptor_.open(endpoint.protocol(), ec);
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
  if (forwarder_)
    forwarder_->start();
  accept_next();
  thread_ = std::thread([this] {
    try {
      io_.run();
    } catch (const std::exception& e) {
      log::warn(std::string("relay thread stopped: ") + e.what());
    }
  });
  return port;
}

void Relay::stop() {
  port_ = 0;
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
  std::vector<std::shared_ptr<Session>> all;
  all.reserve(sessions_.size());
  for (const auto& entry : sessions_)
    all.push_back(entry.second);
  for (const auto& session : all)
    session->close_now();
  channels_.clear();
  sessions_.clear();
}

void Relay::accept_next() {
  acceptor_.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open())
      return;
    if (ec) {
      // Typically out of file descriptors: wait a little instead of spinning.
      log::warn("accept failed: " + ec.message());
      accept_retry_.expires_after(std::chrono::milliseconds(100));
      accept_retry_.async_wait([this](const asio::error_code& e) {
        if (!e)
          accept_next();
      });
      return;
    }
    const std::uint64_t id = next_id_++;
    auto session = std::make_shared<Session>(std::move(socket), *this, id);
    sessions_.emplace(id, session);
    ++accepted_;
    ++connections_;
    session->start();
    accept_next();
  });
}

void Relay::on_registered(const std::shared_ptr<Session>& session) {
  channels_[session->channel_id()][session->user_id()].push_back(session);
}

void Relay::on_send(Session& sender, const wire::SendMsg& msg) {
  ++messages_;
  const auto frame = std::make_shared<const std::string>(
      wire::encode_deliver({sender.user_id(), sender.channel_id(), msg.target, msg.text}));
  std::vector<std::shared_ptr<Session>> recipients;  // copies: delivering may edit the directory
  const auto channel = channels_.find(sender.channel_id());
  if (channel != channels_.end()) {
    if (msg.target == "*") {
      for (const auto& user : channel->second)
        recipients.insert(recipients.end(), user.second.begin(), user.second.end());
    } else if (const auto user_id = wire::target_user(msg.target)) {
      const auto user = channel->second.find(*user_id);
      if (user != channel->second.end())
        recipients = user->second;
    }
  }
  for (const auto& recipient : recipients)
    recipient->deliver(frame);
  deliveries_ += recipients.size();

  // Cheap test first; the worker parses the JSON off this thread.
  if (forwarder_ && sender.channel_id() != kOneLoginChannel &&
      msg.text.find("\"typeId\"") != std::string_view::npos)
    forwarder_->submit({sender.channel_id(), sender.user_id(), std::string(msg.text)});
}

void Relay::on_closed(Session& session) {
  const auto it = sessions_.find(session.id());
  if (it == sessions_.end())
    return;
  const std::shared_ptr<Session> keep = it->second;  // alive until this returns
  sessions_.erase(it);
  --connections_;
  if (!session.registered())
    return;
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

Stats Relay::stats() const {
  Stats s;
  s.connections = connections_;
  s.accepted = accepted_;
  s.messages = messages_;
  s.deliveries = deliveries_;
  s.protocol_errors = protocol_errors;
  s.slow_consumers = slow_consumers;
  s.idle_drops = idle_drops;
  if (forwarder_) {
    s.chat_forwarded = forwarder_->forwarded();
    s.chat_failed = forwarder_->failed();
    s.chat_dropped = forwarder_->dropped();
  }
  return s;
}

}  // namespace msgserver
