// Message server: relays text between the connections of one channel.
//
//   msgserver::Config cfg;          // 127.0.0.1:27801 by default
//   cfg.listen_port = 0;            // let the system choose
//   msgserver::Server server(cfg);
//   uint16_t port = server.start(); // 0 on failure, see error()
//   ...
//   server.stop();                  // also done by the destructor
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace msgserver {

// The one-login channel; messages on it never go to the chat history.
constexpr std::uint32_t kOneLoginChannel = 100000;

struct Config {
  std::string listen_host = "127.0.0.1";  // numeric address
  std::uint16_t listen_port = 27801;      // 0: an ephemeral port
  // The service that stores chat and says who may chat: e.g.
  // "http://127.0.0.1:27800". Empty: chat is relayed without being stored or
  // checked against mutes (for standalone use and tests).
  std::string service_url;
  // The service whose room removals are followed (usually service_url): a removed
  // member's connections to that room's channel are closed at once, and its hellos
  // there refused while the ban lasts. Empty: removals are not followed.
  std::string moderation_url;
  // The secret shared with the service: it signs the credentials every hello
  // must carry and goes with every internal call. Empty: every hello is refused.
  std::string internal_token;
  // Bytes waiting for one connection before it counts as a slow consumer and is cut off.
  std::size_t max_queue_bytes = 4u << 20;
  // A connection that sends nothing for this long is dropped (clients ping).
  std::chrono::milliseconds idle_timeout{30000};
  // Connections open at once, with or without hello. At the limit a newcomer
  // takes the place of the connection waiting longest for its hello, or is
  // closed when all have said theirs. Lowered at start to what the descriptor
  // limit (ulimit -n) leaves; the launcher gives each role its share of it.
  std::size_t max_connections = 16384;
  // Connections from one address that have not said hello yet (a hello comes
  // right after connecting): a newer one closes the oldest, so one host cannot
  // hold the server's places without credentials.
  std::size_t max_pending_per_address = 64;
  // A connection must have said hello this long after it was opened.
  std::chrono::milliseconds hello_timeout{5000};
  // Connections of one member on one channel (one credential): a newer one
  // closes the oldest (a reconnecting client's old connection may linger).
  std::size_t max_connections_per_member = 4;
  // Bytes held for frames not yet complete, over all connections (a frame is at
  // most 1 MiB): a connection whose unfinished frame would pass it is closed.
  std::size_t max_partial_bytes = 64u << 20;
  // Chat records waiting for the service; beyond it new chat is not relayed, and logged.
  std::size_t history_queue_limit = 1024;
  // Sends of one channel held back behind a chat the service has not yet
  // answered (delivery keeps the channel's order); beyond it new sends of that
  // channel are not relayed, and logged.
  std::size_t max_held_per_channel = 256;
  // The same for the bytes held by all channels together.
  std::size_t max_held_bytes = 64u << 20;
  // NATS servers ("nats://host:4222"; several of one NATS cluster) through
  // which this node and the other message servers of the deployment relay
  // every channel to each other's members. Empty: this server alone holds
  // every channel (nothing else needed).
  std::vector<std::string> nats_urls;
  // Subjects begin with it: deployments sharing one NATS keep apart.
  std::string nats_prefix = "tav";
  // While NATS is away the node takes no new connections; its members stay
  // this long (libnats keeps trying, and what they send waits for it), then
  // they are closed so that their clients come back on a node that has NATS.
  std::chrono::milliseconds nats_grace{5000};
  bool verbose = false;  // log every connection, not only faults
};

struct Stats {
  std::uint64_t connections = 0;  // open now
  std::uint64_t accepted = 0;
  std::uint64_t messages = 0;    // send frames relayed
  std::uint64_t deliveries = 0;  // deliver frames queued
  std::uint64_t protocol_errors = 0;
  std::uint64_t slow_consumers = 0;
  std::uint64_t idle_drops = 0;
  std::uint64_t hellos_refused = 0;  // no credential, not valid for the hello's ids, or removed
  std::uint64_t pending = 0;         // open now without a hello
  // Closed before their hello to keep the limits of connections per address or in all.
  std::uint64_t refused_connections = 0;
  std::uint64_t hello_timeouts = 0;       // closed for not saying hello in time
  std::uint64_t replaced = 0;             // closed for a newer connection of the same member
  std::uint64_t partial_bytes = 0;        // held now for frames not yet complete
  std::uint64_t partial_refused = 0;      // closed: their unfinished frame passed max_partial_bytes
  std::uint64_t credentials_expired = 0;  // closed when their credential expired
  std::uint64_t removals_cut = 0;         // connections closed because their member was removed
  // Lists of a new version taken from the service's blacklist (one with every removal and every
  // member taken off the list); chat received from then on is judged against that version.
  std::uint64_t removal_lists = 0;
  // Not relayed by the server's own rules: no JSON object, another sender's id,
  // chat from an auditor, the channel's held sends at their limit.
  std::uint64_t sends_refused = 0;
  std::uint64_t chat_forwarded = 0;  // stored by the service, then relayed
  std::uint64_t chat_refused = 0;    // refused by the service: neither stored nor relayed
  std::uint64_t chat_failed = 0;     // service unreachable or unreadable: not relayed
  std::uint64_t chat_dropped = 0;    // queue full or shutting down: not relayed
  // With NATS: connected now; messages published and taken from it; sends
  // that could not be handed to it (not relayed); messages from it dropped
  // (malformed, from a member this node knows removed from the room, or beyond
  // 64 MiB waiting for the relay thread);
  // connections closed because the link was down; subjects subscribed now.
  bool cluster_up = false;
  std::uint64_t cluster_published = 0;
  std::uint64_t cluster_received = 0;
  std::uint64_t cluster_failed = 0;
  std::uint64_t cluster_dropped = 0;
  std::uint64_t cluster_refused = 0;
  std::uint64_t cluster_subscriptions = 0;
};

class Server {
public:
  explicit Server(Config config);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds, starts the relay thread (and the chat-history worker) and returns the
  // bound port; 0 when the address cannot be bound. Calling it again while
  // running returns the same port.
  std::uint16_t start();
  // Closes every connection and joins the threads. Safe to call twice.
  void stop();

  std::uint16_t port() const;
  // Connections the server takes at once: Config::max_connections, lowered to
  // the descriptor limit; 0 when not running.
  std::size_t max_connections() const;
  const std::string& error() const;
  Stats stats() const;

private:
  class Impl;
  Config config_;
  std::unique_ptr<Impl> impl_;
  std::string error_;
};

}  // namespace msgserver
