// The node's connection to NATS, which carries every relayed message between
// the message servers of one deployment. libnats runs its own threads: what
// arrives and every change of the link's state go to a Sink on one of them,
// which must hand them on (the relay posts them to its Asio thread). After
// stop() no Sink call is running or will run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct __natsConnection;
struct __natsSubscription;

namespace msgserver {

class ClusterLink {
public:
  class Sink {
  public:
    virtual void cluster_message(std::string subject, std::string data) = 0;
    // up: connected (again); false when the connection to NATS was lost.
    virtual void cluster_state(bool up) = 0;

  protected:
    ~Sink() = default;
  };

  // urls: one NATS server or several of one NATS cluster ("nats://host:4222").
  // name: how the connection shows at the NATS server.
  ClusterLink(std::vector<std::string> urls, std::string name, Sink& sink);
  ~ClusterLink();
  ClusterLink(const ClusterLink&) = delete;
  ClusterLink& operator=(const ClusterLink&) = delete;

  // Starts connecting. A NATS that cannot be reached now is tried again in the
  // background (cluster_state(true) once it answers); false only for settings
  // libnats refuses (a malformed URL), with the reason.
  bool start(std::string& error);
  void stop();

  // Never blocks: while NATS is away what is published waits in libnats's
  // reconnect buffer (8 MiB) and goes out once it is back. False when it
  // cannot even be queued.
  bool publish(const std::string& subject, std::string_view data);
  // Subscriptions by subject, one each; called from one thread at a time.
  bool subscribe(const std::string& subject);
  void unsubscribe(const std::string& subject);
  std::size_t subscriptions() const { return subs_.size(); }

private:
  struct Bridge;

  const std::vector<std::string> urls_;
  const std::string name_;
  Bridge* bridge_;  // shared with libnats's threads, freed by whoever lets it go last
  __natsConnection* connection_ = nullptr;
  std::unordered_map<std::string, __natsSubscription*> subs_;
};

// The subjects relayed messages travel on. A room channel has one; the
// one-login channel one per user (its members are every signed-in user, and a
// node should hear only its own users' announcements) and one for "*".
std::string cluster_subject(const std::string& prefix, std::uint32_t channel,
                            std::string_view target);
// What a member of channel needs to be subscribed to, to hear what reaches it.
std::vector<std::string> cluster_interests(const std::string& prefix, std::uint32_t channel,
                                           std::uint32_t user);

}  // namespace msgserver
