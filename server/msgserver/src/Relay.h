// The server's core on its single Asio thread: accepts connections, keeps the
// channel directory, fans deliveries out and feeds the chat history.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <asio.hpp>

#include "ChatForwarder.h"
#include "ClusterLink.h"
#include "Session.h"
#include "msg_wire.h"
#include "msgserver/Server.h"
#include "tavsrv/Credential.h"
#include "tavsrv/Removals.h"

namespace msgserver {

class Relay : private ClusterLink::Sink {
public:
  explicit Relay(const Config& config);
  ~Relay();

  // Binds and starts the thread; 0 and a reason in error on failure.
  std::uint16_t start(std::string& error);
  void stop();
  // The bound port while running, else 0.
  std::uint16_t port() const { return port_; }
  Stats stats() const;

  // Called by sessions on the relay thread.
  const Config& config() const { return config_; }
  bool accepts_credentials() const { return !config_.internal_token.empty(); }
  // The credential when it was signed with the shared secret and has not expired.
  std::optional<tavsrv::Credential> verify(std::string_view credential) const;
  // Milliseconds since the epoch, the clock credentials' expiry is read on.
  std::int64_t wall_clock_ms() const;
  // The user is removed from this room (channel) while its ban lasts.
  bool removed(std::uint32_t channel_id, std::uint32_t user_id) const;
  // The session has said hello: it joins its channel's directory (and ends the
  // oldest connection of its member there beyond max_connections_per_member).
  // False when it must wait for its channel's subscription at NATS first: the
  // relay welcomes it then (a member that has its welcome hears everything
  // sent after it, on whichever node).
  bool on_registered(const std::shared_ptr<Session>& session);
  // A node whose NATS link is down takes no new members (they go to another).
  bool cluster_down() const { return link_ && !link_up_; }
  void on_send(Session& sender, const corda::wire::SendMsg& msg);
  // Idempotent; the session leaves the directory and gets no more deliveries.
  void on_closed(Session& session);

  // The buffer every session reads into (one thread reads, one read at a time).
  asio::mutable_buffer read_buffer() { return asio::buffer(read_buffer_); }
  // Bytes kept for frames not yet complete, against max_partial_bytes; false
  // (nothing taken) when they would pass it.
  bool take_partial(std::size_t bytes);
  void release_partial(std::size_t bytes);
  std::size_t max_connections() const { return max_connections_; }

  std::atomic<std::uint64_t> protocol_errors{0};
  std::atomic<std::uint64_t> hello_timeouts{0};
  std::atomic<std::uint64_t> credentials_expired{0};
  std::atomic<std::uint64_t> partial_refused{0};
  std::atomic<std::uint64_t> slow_consumers{0};
  std::atomic<std::uint64_t> idle_drops{0};
  std::atomic<std::uint64_t> hellos_refused{0};
  std::atomic<std::uint64_t> cluster_refused{0};

private:
  using UserSessions = std::vector<std::shared_ptr<Session>>;
  using Channel = std::unordered_map<std::uint32_t, UserSessions>;

  // A send that waits its turn behind a chat the service has not answered yet.
  struct Held {
    std::uint64_t ticket = 0;
    enum class State { waiting, accepted, refused } state = State::accepted;
    std::uint32_t sender = 0;
    std::string target;
    std::shared_ptr<const std::string> frame;
  };
  struct Backlog {
    std::deque<Held> sends;
    std::uint64_t next_ticket = 1;
  };

  void accept_next();
  // A new connection: within the limits of connections in all and of those
  // waiting for their hello per address, at the expense of the oldest waiting.
  void admit(asio::ip::tcp::socket socket);
  // Closes a connection that has not said hello, to make room; why for the log.
  void make_room(Session& session, const char* why);
  void forget_pending(Session& session);
  // After a flood of connections has gone, the memory they took goes back to the system.
  void trim_after_flood();
  void shutdown_all();
  void refuse(Session& sender, const std::string& why);
  // A send that passed every check goes out: to NATS, which brings it back to
  // every node with members on the channel (this one too), or straight to the
  // members without a cluster.
  void relay_out(std::uint32_t channel_id, std::string_view target,
                 const std::shared_ptr<const std::string>& frame);
  // To this node's members of the channel that the target names.
  void fan_out(std::uint32_t channel_id, std::string_view target,
               const std::shared_ptr<const std::string>& frame);
  void join(const std::shared_ptr<Session>& session);

  // The cluster: ClusterLink::Sink on libnats's thread, posted to this one.
  void cluster_message(std::string subject, std::string data) override;
  void cluster_state(bool up) override;
  void on_cluster_message(const std::string& subject, const std::string& data);
  void on_cluster_state(bool up);
  // Subscribes the session's subjects (false: one is not confirmed yet) or lets them go.
  bool take_interests(const Session& session);
  void drop_interests(const Session& session);
  // A marker on the node's own subject comes back once NATS has taken every
  // subscription made before it.
  void send_marker();
  void on_marker(std::uint64_t marker);
  // The service's answer about a held chat (with the text it stored, which is
  // what goes out); relays what may go now.
  void on_verdict(std::uint32_t channel_id, std::uint64_t ticket, bool accepted,
                  const std::string& stored);
  void flush(std::uint32_t channel_id);
  // A new list from the service: closes the removed members' connections.
  void on_removals(const std::vector<tavsrv::Removal>& removals);

  const Config config_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_};
  asio::steady_timer accept_retry_{io_};
  asio::steady_timer trim_timer_{io_};
  bool trim_armed_ = false;
  std::thread thread_;
  std::unique_ptr<ChatForwarder> forwarder_;
  tavsrv::RemovalList removals_;
  std::unique_ptr<tavsrv::RemovalWatcher> watcher_;
  std::unique_ptr<ClusterLink> link_;
  asio::steady_timer grace_timer_{io_};

  // relay thread only: the cluster
  struct Interest {
    std::size_t sessions = 0;
    std::uint64_t marker = 0;  // the marker that confirms its subscription
  };
  bool link_up_ = false;
  std::string marker_subject_;
  std::uint64_t next_marker_ = 1;
  std::uint64_t confirmed_marker_ = 0;
  bool marker_posted_ = false;
  std::unordered_map<std::string, Interest> interests_;
  // Said hello, waiting for their subscriptions before their welcome.
  std::unordered_map<std::uint64_t, std::shared_ptr<Session>> awaiting_;

  // relay thread only
  std::unordered_map<std::uint32_t, Channel> channels_;
  std::unordered_map<std::uint64_t, std::shared_ptr<Session>> sessions_;
  std::unordered_map<std::uint32_t, Backlog> backlogs_;  // only channels holding sends
  std::size_t held_bytes_ = 0;                           // frames of all backlogs
  std::uint64_t next_id_ = 1;
  // Connections without hello, the oldest first, in all and per address.
  std::list<Session*> pending_;
  std::unordered_map<std::string, std::list<Session*>> pending_by_address_;
  std::size_t max_connections_ = 0;  // the configured limit, lowered to the descriptors'
  std::size_t partial_bytes_ = 0;
  // Since the memory was last given back: the most connections, the bytes of
  // unfinished frames let go.
  std::size_t peak_connections_ = 0;
  std::size_t partial_released_ = 0;
  std::vector<char> read_buffer_ = std::vector<char>(64 * 1024);

  std::atomic<std::uint16_t> port_{0};
  std::atomic<std::uint64_t> connections_{0};
  std::atomic<std::uint64_t> accepted_{0};
  std::atomic<std::uint64_t> messages_{0};
  std::atomic<std::uint64_t> deliveries_{0};
  std::atomic<std::uint64_t> sends_refused_{0};
  std::atomic<std::uint64_t> removals_cut_{0};
  std::atomic<std::uint64_t> pending_count_{0};
  std::atomic<std::uint64_t> refused_connections_{0};
  std::atomic<std::uint64_t> replaced_{0};
  std::atomic<std::uint64_t> partial_bytes_now_{0};
  std::atomic<bool> link_up_now_{false};
  std::atomic<std::uint64_t> cluster_published_{0};
  std::atomic<std::uint64_t> cluster_received_{0};
  std::atomic<std::uint64_t> cluster_failed_{0};
  std::atomic<std::uint64_t> cluster_dropped_{0};
  std::atomic<std::size_t> cluster_backlog_bytes_{0};
  std::atomic<std::uint64_t> subscriptions_now_{0};
};

}  // namespace msgserver
