#include "mcu/media_router.h"

#include <sodium.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "audio_mixer.h"
#include "tavsrv/Log.h"
#include "video_relay.h"
#include "wirebytes/byte_order.h"

namespace mcu {

namespace {

using udp = asio::ip::udp;
using bytes = std::vector<uint8_t>;

// Without a range the system picks ports; this bounds how many we hold.
constexpr std::size_t max_ephemeral_ports = 4096;
// Datagrams read per wake-up of one socket, so that one busy port cannot starve the others.
constexpr unsigned drain_batch = 64;

uint64_t steady_now_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// room, listening (false for a publisher's port), listener, publisher, kind
using port_key = std::tuple<uint32_t, bool, uint32_t, uint32_t, uint32_t>;

struct port_entry {
  explicit port_entry(asio::io_context& io) : socket(io) {}
  udp::socket socket;
  uint16_t port = 0;
  bool listening = false;
  uint32_t room = 0, listener = 0, publisher = 0, kind = 0;
  bool removed = false;   // given back (under the router's mutex)
  bool closed = false;    // socket closed (network thread only)
  bool has_peer = false;  // a listener's address is known (under the mutex)
  udp::endpoint peer;
  // The member's control-session address (IPv4, host order): the only one whose datagrams
  // (a publisher's packets, a listener's registration) this port takes.
  std::atomic<uint32_t> source{0};
  // A listener's session's media token: only a registration carrying it sets `peer` (under
  // the mutex).
  pavo_wire::media_token token;
  video_listener_key video_key() const { return {room, listener, publisher, kind}; }
};

video_relay_options relay_options(const media_router_options& o) {
  video_relay_options r;
  r.feedback_period_ms = o.feedback_period_ms;
  return r;
}

}  // namespace

struct media_router::impl {
  impl(media_router_options o, std::unique_ptr<audio_mixer> m)
      : options(std::move(o)),
        clock(options.clock ? options.clock : steady_now_ms),
        mixer(m ? std::move(m) : make_audio_mixer()),
        work(asio::make_work_guard(io)),
        timer(io),
        rng(options.drop_seed),
        buffer(65536),
        video(relay_options(options),
              [this](const video_listener_key& to, const uint8_t* data, std::size_t length) {
                auto port = ports.find(port_key{to.room, true, to.listener, to.publisher, to.kind});
                if (port != ports.end() && port->second->has_peer)
                  send_to_listener(*port->second, data, length);
              }) {}

  uint16_t open(const port_key& key, uint32_t source, const pavo_wire::media_token& token = {});
  bool bind_in_range(port_entry& port, const asio::ip::address_v4& address);
  void close(const port_key& key);
  void arm(const std::shared_ptr<port_entry>& port);
  void drain(const std::shared_ptr<port_entry>& port);
  void on_publisher_datagram(const std::shared_ptr<port_entry>& port, const uint8_t* data,
                             std::size_t length, const udp::endpoint& from);
  bool from_member(port_entry& port, const udp::endpoint& from) {
    if (from.address().is_v4() && from.address().to_v4().to_uint() == port.source)
      return true;
    ++foreign;
    return false;
  }
  void on_listener_datagram(const std::shared_ptr<port_entry>& port, const uint8_t* data,
                            std::size_t length, const udp::endpoint& from);
  void on_loss_report(uint32_t room, uint32_t listener, const bytes& report);
  void send_to_listener(port_entry& port, const uint8_t* data, std::size_t length);
  void arm_feedback();
  void flush(std::vector<relay_control>& out);
  bool drop(double share) {
    if (share <= 0)
      return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < share;
  }

  const media_router_options options;
  const std::function<uint64_t()> clock;
  std::unique_ptr<audio_mixer> mixer;
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work;
  asio::steady_timer timer;
  // Set by the shutdown (network thread only). A cancel does not reach a wait
  // that has already expired and whose handler is queued: that handler must not
  // arm the timer again, or the network thread never runs out of work.
  bool stopping = false;
  std::thread thread;
  std::mt19937 rng;             // network thread only
  std::vector<uint8_t> buffer;  // network thread only

  mutable std::mutex mutex;
  std::map<port_key, std::shared_ptr<port_entry>> ports;
  // Under the mutex; it is fed on the network thread, so its sink sends from there.
  video_relay video;
  std::unordered_set<uint16_t> held;  // ports of the range given out (under the mutex)

  std::mutex sender_mutex;  // held while the control sender runs
  control_sender sender;

  std::atomic<uint64_t> datagrams_in{0}, datagrams_out{0}, bytes_out{0}, dropped{0}, foreign{0},
      refused_registrations{0}, injected_drops{0};
};

uint16_t media_router::impl::open(const port_key& key, uint32_t source,
                                  const pavo_wire::media_token& token) {
  std::shared_ptr<port_entry> entry;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = ports.find(key);
    if (found != ports.end()) {
      found->second->source = source;
      found->second->token = token;
      return found->second->port;
    }
    asio::error_code ec;
    const auto address = asio::ip::make_address_v4(options.host, ec);
    if (ec)
      return 0;
    if (options.port_base == 0 && ports.size() >= max_ephemeral_ports)
      return 0;
    auto port = std::make_shared<port_entry>(io);
    port->socket.open(udp::v4(), ec);
    if (ec)
      return 0;
    if (options.port_base != 0) {
      if (!bind_in_range(*port, address)) {
        tavsrv::logWarn("mcu: no free media port");
        return 0;
      }
    } else {
      port->socket.bind(udp::endpoint(address, 0), ec);
      if (!ec)
        port->port = port->socket.local_endpoint(ec).port();
      if (ec)
        return 0;
    }
    asio::error_code ignored;
    port->socket.non_blocking(true, ignored);
    // Key frames arrive as bursts; room for them (the system may cap it).
    port->socket.set_option(asio::socket_base::receive_buffer_size(1 << 20), ignored);
    port->socket.set_option(asio::socket_base::send_buffer_size(1 << 20), ignored);
    entry = std::move(port);
    entry->source = source;
    entry->token = token;
    entry->room = std::get<0>(key);
    entry->listening = std::get<1>(key);
    entry->listener = std::get<2>(key);
    entry->publisher = std::get<3>(key);
    entry->kind = std::get<4>(key);
    ports[key] = entry;
    if (is_video_kind(entry->kind)) {
      if (entry->listening)
        video.open_listener(entry->video_key());
      else
        video.open_publisher(entry->room, entry->publisher, entry->kind);
    } else if (entry->kind == 2 && !entry->listening && mixer) {
      mixer->add_publisher(entry->room, entry->publisher);
    }
  }
  asio::post(io, [this, entry] { arm(entry); });
  return entry->port;
}

// A port of the range, at random among those not given out, so that a port says nothing
// about the next one; a port another program holds is left and another tried. Under the
// mutex; the port is in `held` on success.
bool media_router::impl::bind_in_range(port_entry& port, const asio::ip::address_v4& address) {
  std::vector<uint16_t> free;
  const uint32_t first = options.port_base;
  const uint32_t end = std::min<uint32_t>(first + options.port_count, 65536);
  for (uint32_t candidate = first; candidate < end; ++candidate)
    if (!held.count(static_cast<uint16_t>(candidate)))
      free.push_back(static_cast<uint16_t>(candidate));
  while (!free.empty()) {
    const std::size_t pick = randombytes_uniform(static_cast<uint32_t>(free.size()));
    const uint16_t candidate = free[pick];
    asio::error_code ec;
    port.socket.bind(udp::endpoint(address, candidate), ec);
    if (!ec) {
      held.insert(candidate);
      port.port = candidate;
      return true;
    }
    free[pick] = free.back();
    free.pop_back();
  }
  return false;
}

void media_router::impl::close(const port_key& key) {
  std::shared_ptr<port_entry> entry;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = ports.find(key);
    if (found == ports.end())
      return;
    entry = std::move(found->second);
    ports.erase(found);
    held.erase(entry->port);
    entry->removed = true;
    if (is_video_kind(entry->kind)) {
      if (entry->listening)
        video.close_listener(entry->video_key());
      else
        video.close_publisher(entry->room, entry->publisher, entry->kind);
    } else if (entry->kind == 2 && mixer) {
      if (entry->listening)
        mixer->remove_listener(entry->room, entry->listener);
      else
        mixer->remove_publisher(entry->room, entry->publisher);
    }
  }
  // The socket belongs to the network thread, which closes it.
  asio::post(io, [entry] {
    entry->closed = true;
    asio::error_code ignored;
    entry->socket.close(ignored);
  });
}

void media_router::impl::arm(const std::shared_ptr<port_entry>& port) {
  if (port->closed)
    return;
  port->socket.async_wait(udp::socket::wait_read, [this, port](const asio::error_code& ec) {
    if (ec || port->closed)
      return;
    drain(port);
    arm(port);
  });
}

void media_router::impl::drain(const std::shared_ptr<port_entry>& port) {
  for (unsigned i = 0; i < drain_batch && !port->closed; ++i) {
    udp::endpoint from;
    asio::error_code ec;
    const std::size_t length = port->socket.receive_from(asio::buffer(buffer), from, 0, ec);
    if (ec)
      break;  // would block, or an error the next wait reports again
    if (port->listening)
      on_listener_datagram(port, buffer.data(), length, from);
    else
      on_publisher_datagram(port, buffer.data(), length, from);
  }
}

void media_router::impl::on_publisher_datagram(const std::shared_ptr<port_entry>& port,
                                               const uint8_t* data, std::size_t length,
                                               const udp::endpoint& from) {
  if (!from_member(*port, from))
    return;
  if (length == 0 || length > max_media_datagram) {
    ++dropped;
    return;
  }
  if (port->kind == 2) {
    if (drop(options.drop_from_publishers)) {
      ++injected_drops;
      return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (port->removed || !mixer)
      return;
    ++datagrams_in;
    mixer->publisher_datagram(port->room, port->publisher, data, length);
    return;
  }
  velrtp_header rtp;
  if (!video_relay::stream_packet(data, length, port->publisher, &rtp)) {
    ++dropped;
    return;
  }
  if (drop(options.drop_from_publishers)) {
    ++injected_drops;
    return;
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (port->removed)
    return;
  if (video.publisher_packet(port->room, port->publisher, port->kind, rtp, data, length, clock()))
    ++datagrams_in;
}

void media_router::impl::on_listener_datagram(const std::shared_ptr<port_entry>& port,
                                              const uint8_t* data, std::size_t length,
                                              const udp::endpoint& from) {
  // Listeners send nothing but their registration, from their member's address and with
  // their session's token; the newest such one wins (the listener's receiver opened a new
  // socket, or its NAT gave it another port). Without the token nothing moves, so another
  // program at the member's address can neither take nor disturb the stream.
  if (!from_member(*port, from))
    return;
  uint32_t user = 0;
  pavo_wire::media_token token;
  if (!pavo_wire::read_media_registration(data, static_cast<unsigned>(length), &user, &token) ||
      user != port->listener) {
    ++refused_registrations;
    return;
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (port->removed ||
      sodium_memcmp(token.bytes, port->token.bytes, pavo_wire::media_token_size) != 0) {
    ++refused_registrations;
    return;
  }
  if (port->has_peer && port->peer == from)
    return;
  const bool first = !port->has_peer;
  port->has_peer = true;
  port->peer = from;
  if (!first) {
    // The listener's socket moved: the stream follows it, from the newest key frame.
    if (is_video_kind(port->kind))
      video.listener_moved(port->video_key(), clock());
    return;
  }
  if (port->kind == 2) {
    if (!mixer)
      return;
    std::weak_ptr<port_entry> weak = port;
    mixer->add_listener(port->room, port->listener,
                        [this, weak](const uint8_t* bytes_in, std::size_t n) {
                          if (!bytes_in || n == 0 || n > max_media_datagram)
                            return;
                          asio::post(io, [this, weak, copy = bytes(bytes_in, bytes_in + n)] {
                            auto target = weak.lock();
                            if (target && !target->closed && target->has_peer)
                              send_to_listener(*target, copy.data(), copy.size());
                          });
                        });
    return;
  }
  video.listener_ready(port->video_key());
}

// Network thread.
void media_router::impl::send_to_listener(port_entry& port, const uint8_t* data,
                                          std::size_t length) {
  if (drop(options.drop_to_listeners)) {
    ++injected_drops;
    return;
  }
  asio::error_code ec;
  port.socket.send_to(asio::buffer(data, length), port.peer, 0, ec);
  if (!ec) {
    ++datagrams_out;
    bytes_out += length;
  }
}

void media_router::impl::on_loss_report(uint32_t room, uint32_t listener, const bytes& report) {
  std::vector<relay_control> out;
  {
    std::lock_guard<std::mutex> lock(mutex);
    video.loss_report(room, listener, report.data(), report.size(), clock(), out);
  }
  flush(out);
}

// The relay decides when feedback is due; the timer only wakes it then.
void media_router::impl::arm_feedback() {
  if (stopping)
    return;
  uint32_t wait_ms = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    wait_ms = video.until_next_feedback(clock());
  }
  timer.expires_after(std::chrono::milliseconds(wait_ms));
  timer.async_wait([this](const asio::error_code& ec) {
    if (ec || stopping)
      return;
    std::vector<relay_control> out;
    {
      std::lock_guard<std::mutex> lock(mutex);
      video.tick(clock(), out);
    }
    flush(out);
    arm_feedback();
  });
}

void media_router::impl::flush(std::vector<relay_control>& out) {
  if (out.empty())
    return;
  std::lock_guard<std::mutex> lock(sender_mutex);
  if (!sender)
    return;
  for (const relay_control& m : out)
    sender(m.room, m.user, m.type, m.payload.data(), static_cast<unsigned>(m.payload.size()));
}

media_router::media_router(media_router_options options)
    : media_router(std::move(options), nullptr) {}

media_router::media_router(media_router_options options, std::unique_ptr<audio_mixer> mixer)
    : impl_(std::make_unique<impl>(std::move(options), std::move(mixer))) {
  if (sodium_init() < 0)  // the random port choice; safe to call more than once
    tavsrv::logError("mcu: libsodium does not start");
  if (impl_->options.feedback_period_ms > 0) {
    std::vector<relay_control> none;
    impl_->video.tick(impl_->clock(), none);  // the first period starts now
    impl_->arm_feedback();
  }
  impl_->thread = std::thread([this] { impl_->io.run(); });
}

media_router::~media_router() {
  std::unique_ptr<audio_mixer> mixer;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    mixer = std::move(impl_->mixer);
  }
  mixer.reset();  // its thread ends: no sink is called from now on
  asio::post(impl_->io, [this] {
    impl_->stopping = true;
    impl_->timer.cancel();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (auto& entry : impl_->ports) {
      entry.second->closed = true;
      asio::error_code ignored;
      entry.second->socket.close(ignored);
    }
  });
  impl_->work.reset();
  impl_->thread.join();  // returns once every wait has ended
  impl_->ports.clear();
}

uint16_t media_router::open_publisher(uint32_t room, uint32_t user, uint32_t kind,
                                      uint32_t source) {
  return impl_->open(port_key{room, false, 0, user, kind}, source);
}

void media_router::close_publisher(uint32_t room, uint32_t user, uint32_t kind) {
  impl_->close(port_key{room, false, 0, user, kind});
}

uint16_t media_router::open_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                                       uint32_t kind, uint32_t source,
                                       const pavo_wire::media_token& token) {
  return impl_->open(port_key{room, true, listener, publisher, kind}, source, token);
}

void media_router::close_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                                    uint32_t kind) {
  impl_->close(port_key{room, true, listener, publisher, kind});
}

void media_router::sender_started(uint32_t room, uint32_t user, uint32_t kind, uint32_t min_kbps) {
  tavsrv::logDebug("mcu: room " + std::to_string(room) + " user " + std::to_string(user) +
                   " sends kind " + std::to_string(kind) + ", at least " +
                   std::to_string(min_kbps) + " kbit/s");
}

void media_router::loss_report(uint32_t room, uint32_t listener, const uint8_t* report,
                               unsigned length) {
  if (!video_relay::valid_loss_report(listener, report, length))
    return;
  asio::post(impl_->io, [this, room, listener, copy = bytes(report, report + length)] {
    impl_->on_loss_report(room, listener, copy);
  });
}

void media_router::set_control_sender(control_sender sender) {
  std::lock_guard<std::mutex> lock(impl_->sender_mutex);
  impl_->sender = std::move(sender);
}

std::size_t media_router::ports_in_use() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->ports.size();
}

media_router_stats media_router::stats() const {
  media_router_stats s;
  s.datagrams_in = impl_->datagrams_in;
  s.datagrams_out = impl_->datagrams_out;
  s.bytes_out = impl_->bytes_out;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    s.resent = impl_->video.resent();
    s.asked = impl_->video.asked();
  }
  s.dropped = impl_->dropped;
  s.foreign = impl_->foreign;
  s.refused_registrations = impl_->refused_registrations;
  s.injected_drops = impl_->injected_drops;
  return s;
}

}  // namespace mcu
