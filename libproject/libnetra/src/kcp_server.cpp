#include "netra/kcp_server.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "netra/kcp_frame.h"
#include "netra/kcp_segment.h"
#include "netra_util.h"
#include "woblog/woblog.h"

namespace netra {

namespace {

using asio::ip::udp;

int32_t diff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

// Client address, port and conv.
using session_key = std::tuple<uint32_t, uint16_t, uint32_t>;

// How often refused keys are forgotten.
constexpr uint32_t tombstone_sweep_ms = 1000;

// Datagrams read in one go before the sessions they touched are flushed. A burst of small
// messages (a whiteboard stroke, say) then leaves for each member packed into a few
// MTU-sized datagrams, with one ack datagram back, instead of one datagram per message per
// member; the bound keeps the first message of a burst from waiting behind a long read.
constexpr int batch_datagrams = 32;

}  // namespace

struct kcp_server::impl {
  struct entry {
    session_id id = 0;
    session_key key;
    udp::endpoint peer;
    std::unique_ptr<kcp_session> session;
    uint32_t last_heard = 0;
    bool closing = false;
    uint32_t close_deadline = 0;
    bool dirty = false;  // has acks or new messages waiting for the end of the batch
  };

  impl(kcp_server_options o, handlers h) : options(std::move(o)), on(std::move(h)) {}

  void log(const char* fmt, ...) WOBLOG_PRINTF(2, 3);
  void arm_receive();
  void arm_timer();
  void on_readable();
  void on_datagram(std::size_t size);
  void on_tick();
  // Under mutex. Flushes now, or at the end of the batch when the network thread is reading.
  void flush_later(entry& e);
  // Flushes every session the batch touched.
  void flush_batch();
  // Under mutex. Feeds a datagram to a session and collects the messages it completes.
  void feed(entry& e, std::size_t size, uint32_t now, std::vector<std::vector<uint8_t>>* out);
  // Under mutex. Forgets a session and refuses its key for a while.
  void remove(session_id id);
  // Under mutex. Ignores a key for a while.
  void bury(const session_key& key, uint32_t now) {
    // Bounded, so that a flood of made-up clients cannot grow it without end.
    if (tombstones.size() < options.max_sessions * 16 || tombstones.count(key))
      tombstones[key] = now + options.ended_key_ms;
  }
  void deliver(session_id id, const std::vector<std::vector<uint8_t>>& messages);
  bool on_network_thread() const { return thread.get_id() == std::this_thread::get_id(); }

  const kcp_server_options options;
  const handlers on;

  std::mutex lifecycle;  // start() and stop()
  std::unique_ptr<asio::io_context> io;
  std::unique_ptr<udp::socket> socket;
  std::unique_ptr<asio::steady_timer> timer;
  std::thread thread;
  std::atomic<uint16_t> bound_port{0};

  mutable std::mutex mutex;  // sessions, index, tombstones and every use of the socket to send
  std::unordered_map<session_id, std::unique_ptr<entry>> sessions;
  std::map<session_key, session_id> index;
  std::map<session_key, uint32_t> tombstones;  // key -> time it is let in again
  session_id next_id = 1;
  uint32_t last_sweep = 0;

  // Network thread only.
  udp::endpoint from;
  std::vector<uint8_t> rx = std::vector<uint8_t>(65536);
  drop_counter malformed;
  drop_counter stale;
  drop_counter bad_messages;
  bool batching = false;          // network thread only: reading a batch, flushed at its end
  std::vector<session_id> dirty;  // sessions to flush at the end of the batch (under mutex)
};

void kcp_server::impl::log(const char* fmt, ...) {
  char line[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  if (on.on_log)
    on.on_log(line);
  else
    qn::log("%s", line);
}

void kcp_server::impl::arm_receive() {
  socket->async_receive_from(asio::buffer(rx), from,
                             [this](const asio::error_code& ec, std::size_t size) {
                               if (ec == asio::error::operation_aborted)
                                 return;
                               if (!ec) {
                                 batching = true;
                                 on_datagram(size);
                                 on_readable();
                               }
                               arm_receive();
                             });
}

void kcp_server::impl::arm_timer() {
  timer->expires_after(
      std::chrono::milliseconds(std::clamp<uint32_t>(options.session.interval, 10, 5000)));
  timer->async_wait([this](const asio::error_code& ec) {
    if (!ec)
      on_tick();
  });
}

void kcp_server::impl::on_readable() {
  // What else is waiting already goes into the same batch; the socket is non-blocking.
  for (int n = 1; n < batch_datagrams; ++n) {
    asio::error_code ec;
    const std::size_t size = socket->receive_from(asio::buffer(rx), from, 0, ec);
    if (ec)
      break;  // would block (nothing more), or an error the next asynchronous read reports
    on_datagram(size);
  }
  flush_batch();
}

void kcp_server::impl::flush_later(entry& e) {
  if (!batching) {
    e.session->update(steady_ms());
    e.session->flush();
    return;
  }
  if (!e.dirty) {
    e.dirty = true;
    dirty.push_back(e.id);
  }
}

void kcp_server::impl::flush_batch() {
  std::lock_guard<std::mutex> lock(mutex);
  batching = false;
  const uint32_t now = steady_ms();
  for (session_id id : dirty) {
    auto it = sessions.find(id);
    if (it == sessions.end())
      continue;
    entry& e = *it->second;
    e.dirty = false;
    e.session->update(now);
    e.session->flush();
  }
  dirty.clear();
}

void kcp_server::impl::on_datagram(std::size_t size) {
  const uint32_t now = steady_ms();
  kcp_datagram_info info = inspect_datagram(rx.data(), size);
  if (!info.valid) {
    uint64_t total = 0;
    if (malformed.count(&total))
      log("kcp_server: dropped a %zu-byte datagram from %s:%u that is no KCP (%llu so far)", size,
          from.address().to_string().c_str(), unsigned{from.port()},
          static_cast<unsigned long long>(total));
    return;
  }
  const session_key key{from.address().to_v4().to_uint(), from.port(), info.conv};
  std::vector<std::vector<uint8_t>> messages;
  session_id id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = index.find(key);
    if (found != index.end()) {
      id = found->second;
      feed(*sessions.at(id), size, now, &messages);
    } else {
      auto tomb = tombstones.find(key);
      if (tomb != tombstones.end() && diff(tomb->second, now) > 0)
        return;  // a session we ended; its late resends must not reopen it
    }
  }
  if (id == 0) {
    // A conversation is only taken up at its start: after a server restart, resends of an
    // old one would be acknowledged into a session that waits for sn 0 for ever.
    if (!info.opens) {
      uint64_t total = 0;
      if (stale.count(&total))
        log("kcp_server: %s:%u conv %u is no open conversation; dropped (%llu so far)",
            from.address().to_string().c_str(), unsigned{from.port()}, info.conv,
            static_cast<unsigned long long>(total));
      return;
    }
    kcp_peer_address address{from.address().to_string(), from.port()};
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (sessions.size() >= options.max_sessions) {
        bury(key, now);
        log("kcp_server: %zu sessions already, refused %s:%u", sessions.size(), address.ip.c_str(),
            unsigned{address.port});
        return;
      }
      id = next_id++;
    }
    if (on.on_accept && !on.on_accept(id, address)) {
      std::lock_guard<std::mutex> lock(mutex);
      bury(key, now);
      return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    auto e = std::make_unique<entry>();
    e->id = id;
    e->key = key;
    e->peer = from;
    e->last_heard = now;
    udp::socket* out = socket.get();
    udp::endpoint to = from;
    e->session = std::make_unique<kcp_session>(
        info.conv,
        [out, to](const uint8_t* data, std::size_t n) {
          // Under mutex. A full socket buffer is just loss; KCP resends.
          asio::error_code ignored;
          out->send_to(asio::buffer(data, n), to, 0, ignored);
        },
        options.session);
    e->session->update(now);
    entry& added = *e;
    sessions.emplace(id, std::move(e));
    index.emplace(key, id);
    feed(added, size, now, &messages);
  }
  deliver(id, messages);
}

void kcp_server::impl::feed(entry& e, std::size_t size, uint32_t now,
                            std::vector<std::vector<uint8_t>>* out) {
  e.session->update(now);
  int rc = e.session->input(rx.data(), size);
  if (rc != 0) {
    uint64_t total = 0;
    if (malformed.count(&total))
      log("kcp_server: session %llu dropped a %zu-byte datagram (%d, %llu so far)",
          static_cast<unsigned long long>(e.id), size, rc, static_cast<unsigned long long>(total));
    return;
  }
  e.last_heard = now;
  std::vector<uint8_t> message;
  while (e.session->receive(message) >= 0) {
    if (!e.closing)  // a closing session still reads, to keep its window open
      out->push_back(std::move(message));
    message = std::vector<uint8_t>();
  }
  flush_later(e);  // acks with this batch rather than at the next tick
}

void kcp_server::impl::deliver(session_id id, const std::vector<std::vector<uint8_t>>& messages) {
  for (const auto& message : messages) {
    kcp_header_t header;
    if (!decode_control_message(message.data(), message.size(), &header)) {
      uint64_t total = 0;
      if (bad_messages.count(&total))
        log("kcp_server: session %llu sent a %zu-byte message with a bad header (%llu so far)",
            static_cast<unsigned long long>(id), message.size(),
            static_cast<unsigned long long>(total));
      continue;
    }
    if (on.on_message)
      on.on_message(id, header, message.data() + control_header_size, header.length);
  }
}

void kcp_server::impl::remove(session_id id) {
  auto it = sessions.find(id);
  if (it == sessions.end())
    return;
  bury(it->second->key, steady_ms());
  index.erase(it->second->key);
  sessions.erase(it);
}

void kcp_server::impl::on_tick() {
  std::vector<std::pair<session_id, kcp_close_reason>> ended;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const uint32_t now = steady_ms();
    for (auto& item : sessions) {
      entry& e = *item.second;
      e.session->update(now);
      if (e.closing && (e.session->waiting_send() == 0 || diff(now, e.close_deadline) >= 0))
        ended.emplace_back(e.id, kcp_close_reason::closed);
      else if (e.session->dead())
        ended.emplace_back(e.id, kcp_close_reason::dead_link);
      else if (diff(now, e.last_heard) >= static_cast<int32_t>(options.idle_timeout_ms))
        ended.emplace_back(e.id, kcp_close_reason::idle);
    }
    for (const auto& end : ended)
      remove(end.first);
    if (diff(now, last_sweep) >= static_cast<int32_t>(tombstone_sweep_ms)) {
      last_sweep = now;
      for (auto it = tombstones.begin(); it != tombstones.end();)
        it = diff(it->second, now) <= 0 ? tombstones.erase(it) : std::next(it);
    }
  }
  for (const auto& end : ended) {
    if (end.second != kcp_close_reason::closed)
      log("kcp_server: session %llu ended (%s)", static_cast<unsigned long long>(end.first),
          end.second == kcp_close_reason::idle ? "idle" : "dead link");
    if (on.on_close)
      on.on_close(end.first, end.second);
  }
  arm_timer();
}

kcp_server::kcp_server(kcp_server_options options, handlers handlers)
    : impl_(std::make_unique<impl>(std::move(options), std::move(handlers))) {}

kcp_server::~kcp_server() {
  stop();
}

int kcp_server::start() {
  impl& m = *impl_;
  std::lock_guard<std::mutex> life(m.lifecycle);
  if (m.thread.joinable())
    return -1;
  asio::ip::address_v4 addr;
  if (!parse_ipv4(m.options.ip.c_str(), &addr))
    return -1;
  auto io = std::make_unique<asio::io_context>(1);
  auto socket = std::make_unique<udp::socket>(*io);
  asio::error_code ec;
  socket->open(udp::v4(), ec);
#ifndef _WIN32
  // Not handed to programs this process starts: a child holding it would keep the port.
  if (!ec)
    ::fcntl(socket->native_handle(), F_SETFD, FD_CLOEXEC);
#endif
  if (!ec)
    socket->bind(udp::endpoint(addr, m.options.port), ec);
  // Callers send on this socket while the network thread waits on it; a non-blocking
  // socket never changes its mode behind their back.
  if (!ec)
    socket->non_blocking(true, ec);
  udp::endpoint local;
  if (!ec)
    local = socket->local_endpoint(ec);
  if (ec) {
    m.log("kcp_server: cannot bind %s:%u: %s", m.options.ip.c_str(), unsigned{m.options.port},
          ec.message().c_str());
    return -1;
  }
  asio::error_code ignored;
  socket->set_option(asio::socket_base::receive_buffer_size(4 << 20), ignored);
  socket->set_option(asio::socket_base::send_buffer_size(4 << 20), ignored);
  m.bound_port = local.port();
  m.io = std::move(io);
  m.socket = std::move(socket);
  m.timer = std::make_unique<asio::steady_timer>(*m.io);
  m.last_sweep = steady_ms();
  m.arm_receive();
  m.arm_timer();
  m.thread = std::thread([&m] {
    for (;;) {
      try {
        m.io->run();
        return;
      } catch (const std::exception& e) {
        m.log("kcp_server: a handler threw: %s", e.what());
      } catch (...) {
        m.log("kcp_server: a handler threw");
      }
    }
  });
  return 0;
}

uint16_t kcp_server::port() const {
  return impl_->bound_port;
}

int kcp_server::send(session_id id, const kcp_header_t& header, const void* payload,
                     unsigned length) {
  std::vector<uint8_t> message = make_control_message(header, payload, length);
  if (message.empty())
    return -1;
  impl& m = *impl_;
  std::lock_guard<std::mutex> lock(m.mutex);
  auto it = m.sessions.find(id);
  if (it == m.sessions.end() || it->second->closing)
    return -1;
  kcp_session& session = *it->second->session;
  if (session.send(message.data(), message.size()) != 0)
    return -1;
  // From a handler of the batch being read: out with the batch's other messages and acks.
  if (m.on_network_thread() && m.batching) {
    m.flush_later(*it->second);
    return 0;
  }
  session.update(steady_ms());
  session.flush();
  return 0;
}

int kcp_server::close(session_id id) {
  impl& m = *impl_;
  std::lock_guard<std::mutex> lock(m.mutex);
  auto it = m.sessions.find(id);
  if (it == m.sessions.end())
    return -1;
  impl::entry& e = *it->second;
  if (!e.closing) {
    e.closing = true;
    e.close_deadline = steady_ms() + m.options.close_linger_ms;
  }
  return 0;
}

bool kcp_server::peer(session_id id, kcp_peer_address* out) const {
  const impl& m = *impl_;
  std::lock_guard<std::mutex> lock(m.mutex);
  auto it = m.sessions.find(id);
  if (it == m.sessions.end() || !out)
    return false;
  out->ip = it->second->peer.address().to_string();
  out->port = it->second->peer.port();
  return true;
}

std::size_t kcp_server::session_count() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->sessions.size();
}

int kcp_server::stop() {
  impl& m = *impl_;
  if (m.on_network_thread())
    return -1;
  std::lock_guard<std::mutex> life(m.lifecycle);
  if (m.io)
    m.io->stop();
  if (m.thread.joinable())
    m.thread.join();
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.sessions.clear();
    m.index.clear();
    m.tombstones.clear();
  }
  if (m.socket) {
    asio::error_code ignored;
    m.socket->close(ignored);
  }
  m.timer.reset();
  m.socket.reset();
  m.io.reset();
  return 0;
}

}  // namespace netra
