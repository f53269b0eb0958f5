#include "HttpFront.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <cctype>
#include <chrono>
#include <list>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "BufferedSocketStream.h"
#include "WorkerPool.h"
#include "tavsrv/Descriptors.h"
#include "tavsrv/Log.h"

namespace tavsvc {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// What the front needs to know of a request head to decide where it goes.
struct HeadInfo {
  std::string method;
  std::string path;  // without the query
  uint64_t contentLength = 0;
  bool chunked = false;
  bool expectsContinue = false;
  size_t expectLineStart = 0, expectLineEnd = 0;  // the Expect line, to take out once answered
  std::string forwardedFor;  // the last address of the last X-Forwarded-For, when one
};

// The address a proxy appended last to X-Forwarded-For: the client it took the
// request from. Empty unless it looks like an IPv4 or IPv6 address.
std::string lastForwarded(std::string_view value) {
  const size_t comma = value.rfind(',');
  std::string_view last = comma == std::string_view::npos ? value : value.substr(comma + 1);
  while (!last.empty() && last.front() == ' ')
    last.remove_prefix(1);
  if (last.empty() || last.size() > 45)
    return std::string();
  for (char c : last)
    if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '.' && c != ':')
      return std::string();
  return std::string(last);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// head: the bytes up to and including the blank line. False when it cannot be a request.
bool readHead(std::string_view head, HeadInfo* info) {
  size_t lineEnd = head.find('\n');
  const std::string_view requestLine = trim(head.substr(0, lineEnd));
  const size_t firstSpace = requestLine.find(' ');
  if (firstSpace == std::string_view::npos || firstSpace == 0)
    return false;
  info->method = std::string(requestLine.substr(0, firstSpace));
  std::string_view target = requestLine.substr(firstSpace + 1);
  target = target.substr(0, target.find(' '));
  info->path = std::string(target.substr(0, target.find('?')));
  size_t pos = lineEnd + 1;
  while (pos < head.size()) {
    lineEnd = head.find('\n', pos);
    if (lineEnd == std::string_view::npos)
      lineEnd = head.size() - 1;
    const std::string_view line = head.substr(pos, lineEnd - pos);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      const std::string_view name = trim(line.substr(0, colon));
      const std::string_view value = trim(line.substr(colon + 1));
      if (equalsNoCase(name, "Content-Length")) {
        uint64_t length = 0;
        if (value.empty() || value.size() > 18)
          return false;
        for (char c : value) {
          if (c < '0' || c > '9')
            return false;
          length = length * 10 + static_cast<uint64_t>(c - '0');
        }
        info->contentLength = length;
      } else if (equalsNoCase(name, "X-Forwarded-For")) {
        info->forwardedFor = lastForwarded(value);
      } else if (equalsNoCase(name, "Transfer-Encoding")) {
        info->chunked = true;
      } else if (equalsNoCase(name, "Expect") && equalsNoCase(value, "100-continue")) {
        info->expectsContinue = true;
        info->expectLineStart = pos;
        info->expectLineEnd = lineEnd + 1;
      }
    }
    pos = lineEnd + 1;
  }
  return true;
}

std::string cannedAnswer(int status, const char* reason, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

const std::string& tooManyAnswer() {
  static const std::string answer = cannedAnswer(
      503, "Service Unavailable", R"({"code":503,"msg":"连接过多，请稍后重试！","body":{}})");
  return answer;
}

// Bytes the peer sent that nobody has read yet.
bool bytesPending(int fd) {
  int n = 0;
  return ::ioctl(fd, FIONREAD, &n) == 0 && n > 0;
}

// Descriptors kept free of connections: the store and its journal, the log,
// files being served or written, refusals being closed, the listening socket.
constexpr int kSpareDescriptors = 160;
// Refused connections whose answer is still going out (beyond: closed at once).
constexpr int kMaxLingering = 64;
constexpr int kLingerMs = 2000;
// How long a connection may be silent after it was opened or answered before
// it counts against its address's share of waiting connections.
constexpr auto kSettle = std::chrono::milliseconds(1000);

}  // namespace

// A refused connection while its answer goes out: what the peer still sends is
// read and dropped until it closes or the time is up.
struct Linger {
  Linger(asio::ip::tcp::socket s, asio::io_context& io, int& count)
      : socket(std::move(s)), timer(io), count(count) {}
  static void drain(const std::shared_ptr<Linger>& l) {
    l->socket.async_read_some(asio::buffer(l->sink), [l](const asio::error_code& error, size_t) {
      if (error)
        l->finish();
      else
        drain(l);
    });
  }
  void finish() {
    if (done)
      return;
    done = true;
    --count;
    asio::error_code ignored;
    timer.cancel();
    socket.close(ignored);
  }
  asio::ip::tcp::socket socket;
  asio::steady_timer timer;
  int& count;
  bool done = false;
  char sink[2048];
};

struct HttpFront::Impl {
  struct Connection {
    explicit Connection(asio::io_context& io) : socket(io) {}
    tcp::socket socket;
    // When the wait for the next request or the head (or the refusal's
    // writing) ends; one sweep looks at every connection's, so a request
    // costs no timer of its own.
    Clock::time_point deadline;
    bool answering = false;  // a canned answer is being written, then it closes
    std::string buffer;
    std::string ip;
    // Whom the request being answered comes from: ip, or behind a trusted
    // proxy the client it names.
    std::string client;
    int port = 0;
    LocalAddress local;  // used by one worker at a time, as the connection
    int served = 0;
    bool headStarted = false;  // a byte of the next request has arrived
    Clock::time_point headDeadline;
    bool busy = false;  // with a worker: the reactor leaves it alone
    // Waiting for (the rest of) a request head, in its address's list, since then.
    bool waiting = false;
    Clock::time_point waitingSince;
    std::list<Connection*>::iterator waitingAt;
    char chunk[4096];
  };
  using ConnectionPtr = std::shared_ptr<Connection>;

  struct Address {
    int open = 0;
    // Connections waiting for a request, the one waiting longest first: the
    // address's share bounds these, not the connections that bring requests.
    std::list<Connection*> waiting;
  };

  FrontOptions options;
  Handler handler;
  Classifier classifier;
  asio::io_context io;
  tcp::acceptor acceptor{io};
  std::thread thread;
  std::unique_ptr<WorkerPool> calls, logins, transfers;
  int boundPort = 0;
  bool running = false;
  std::atomic<bool> stopping{false};

  // Reactor thread only.
  std::unordered_set<ConnectionPtr> connections;
  std::unordered_map<Connection*, ConnectionPtr> byPointer;
  std::unordered_map<std::string, Address> addresses;
  bool trustedProxy(const std::string& ip) const {
    return std::find(options.trustedProxies.begin(), options.trustedProxies.end(), ip) !=
           options.trustedProxies.end();
  }
  std::unordered_map<std::string, int> transfersPerAddress;
  int maxConnections = 0;  // the configured total, lowered to what the descriptors allow
  asio::steady_timer sweepTimer{io};
  std::chrono::milliseconds sweepPeriod{100};
  int lingering = 0;
  int spareFd = -1;  // given up to accept and refuse a connection when descriptors run out

  mutable std::mutex statsMutex;
  Stats counters;

  void count(uint64_t Stats::*field) {
    std::lock_guard<std::mutex> lock(statsMutex);
    ++(counters.*field);
  }

  void accept();
  // Out of descriptors: accepts one connection with the spare one and refuses it.
  void refuseWithSpare();
  void admit(tcp::socket socket);
  // Answers "too many connections", reads what the peer sent (so the answer is
  // not lost to a reset) and closes once the peer has closed too, or shortly.
  void refuse(tcp::socket socket);
  void startWaiting(const ConnectionPtr& c);
  void stopWaiting(Connection& c);
  // Beyond the address's share of waiting connections the one waiting longest
  // (idle or a slow head, with nothing unread) is closed: a newcomer is not
  // shut out by connections that merely wait.
  void trimWaiting(const std::string& ip);
  void waitForRequest(const ConnectionPtr& c);
  // Closes the connections whose deadline has passed; again every sweepPeriod.
  void sweep();
  void read(const ConnectionPtr& c);
  // Dispatches when the buffer holds a whole request (or as much as is read ahead);
  // false when more bytes are needed.
  bool tryDispatch(const ConnectionPtr& c);
  // upload: a transfer with a body (the others are downloads).
  void dispatch(const ConnectionPtr& c, Lane lane, bool closeAfter, bool upload);
  void finished(const ConnectionPtr& c, bool upload, bool keep);
  void answerAndClose(const ConnectionPtr& c, std::string answer);
  void close(const ConnectionPtr& c);
};

void HttpFront::Impl::accept() {
  acceptor.async_accept([this](const asio::error_code& error, tcp::socket socket) {
    if (error) {
      if (error == asio::error::operation_aborted || !acceptor.is_open())
        return;
      if (error == asio::error::no_descriptors || error.value() == ENFILE) {
        refuseWithSpare();
        accept();
        return;
      }
      // Anything else: try again shortly rather than spin.
      auto pause = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(50));
      pause->async_wait([this, pause](const asio::error_code&) {
        if (acceptor.is_open())
          accept();
      });
      return;
    }
    ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
    admit(std::move(socket));
    accept();
  });
}

void HttpFront::Impl::refuseWithSpare() {
  if (spareFd < 0)
    return;
  ::close(spareFd);
  spareFd = -1;
  const int fd = ::accept4(acceptor.native_handle(), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) {
    count(&Stats::accepted);
    count(&Stats::refusedConnections);
    const std::string& answer = tooManyAnswer();
    ::send(fd, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
  }
  spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void HttpFront::Impl::refuse(tcp::socket socket) {
  count(&Stats::refusedConnections);
  asio::error_code ec;
  const std::string& answer = tooManyAnswer();
  ::send(socket.native_handle(), answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  socket.shutdown(tcp::socket::shutdown_send, ec);
  if (lingering >= kMaxLingering) {
    char sink[4096];
    while (::recv(socket.native_handle(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    socket.close(ec);
    return;
  }
  ++lingering;
  auto l = std::make_shared<Linger>(std::move(socket), io, lingering);
  l->timer.expires_after(std::chrono::milliseconds(kLingerMs));
  l->timer.async_wait([l](const asio::error_code& error) {
    if (!error)
      l->finish();
  });
  Linger::drain(l);
}

void HttpFront::Impl::admit(tcp::socket socket) {
  asio::error_code ec;
  const tcp::endpoint remote = socket.remote_endpoint(ec);
  if (ec)
    return;
  count(&Stats::accepted);
  // The total bounds what this process can hold; an address's share only
  // bounds its waiting connections (trimWaiting), so a school behind one NAT
  // is served as long as its connections bring requests.
  if (static_cast<int>(connections.size()) >= maxConnections) {
    refuse(std::move(socket));
    return;
  }
  std::string ip = remote.address().to_string();
  ++addresses[ip].open;
  auto c = std::make_shared<Connection>(io);
  c->socket = std::move(socket);
  c->socket.set_option(tcp::no_delay(true), ec);
  c->ip = std::move(ip);
  c->port = remote.port();
  connections.insert(c);
  byPointer.emplace(c.get(), c);
  waitForRequest(c);
}

void HttpFront::Impl::startWaiting(const ConnectionPtr& c) {
  if (c->waiting)
    return;
  auto& list = addresses[c->ip].waiting;
  c->waitingAt = list.insert(list.end(), c.get());
  c->waiting = true;
  c->waitingSince = Clock::now();
}

void HttpFront::Impl::stopWaiting(Connection& c) {
  if (!c.waiting)
    return;
  auto it = addresses.find(c.ip);
  if (it != addresses.end())
    it->second.waiting.erase(c.waitingAt);
  c.waiting = false;
}

void HttpFront::Impl::trimWaiting(const std::string& ip) {
  auto found = addresses.find(ip);
  if (found == addresses.end())
    return;
  auto& list = found->second.waiting;
  while (static_cast<int>(list.size()) > options.connectionsPerAddress) {
    // A connection only just opened or answered is about to send (its client
    // may not have had the processor yet): it counts as waiting once settled.
    const auto settled = Clock::now() - kSettle;
    Connection* victim = nullptr;
    for (Connection* c : list) {
      if (c->waitingSince > settled)
        break;  // the rest came later still; the sweep looks again
      if (!bytesPending(c->socket.native_handle())) {
        victim = c;
        break;
      }
    }
    if (!victim)
      return;  // none is merely waiting (yet)
    count(&Stats::timedOut);
    const ConnectionPtr keep = byPointer[victim];
    close(keep);
  }
}

void HttpFront::Impl::waitForRequest(const ConnectionPtr& c) {
  c->headStarted = !c->buffer.empty();
  c->headDeadline = Clock::now() + std::chrono::milliseconds(options.headTimeoutMs);
  if (c->headStarted && tryDispatch(c))
    return;
  c->deadline = c->headStarted ? c->headDeadline
                               : Clock::now() + std::chrono::milliseconds(options.idleTimeoutMs);
  read(c);
  startWaiting(c);
  // Later, not now: a read already done by the reactor but not yet handed to
  // its handler (the request is in, the connection not yet working) is
  // handled first.
  if (static_cast<int>(addresses[c->ip].waiting.size()) > options.connectionsPerAddress)
    asio::post(io, [this, ip = c->ip] { trimWaiting(ip); });
}

void HttpFront::Impl::sweep() {
  const auto now = Clock::now();
  std::vector<ConnectionPtr> expired;
  for (const auto& c : connections)
    if ((!c->busy || c->answering) && now >= c->deadline)
      expired.push_back(c);
  for (const auto& c : expired) {
    if (!c->answering)
      count(&Stats::timedOut);
    close(c);
  }
  std::vector<std::string> crowded;
  for (const auto& [ip, address] : addresses)
    if (static_cast<int>(address.waiting.size()) > options.connectionsPerAddress)
      crowded.push_back(ip);
  for (const auto& ip : crowded)
    trimWaiting(ip);
  sweepTimer.expires_after(sweepPeriod);
  sweepTimer.async_wait([this](const asio::error_code& error) {
    if (!error)
      sweep();
  });
}

void HttpFront::Impl::read(const ConnectionPtr& c) {
  c->socket.async_read_some(
      asio::buffer(c->chunk), [this, c](const asio::error_code& error, size_t n) {
        if (!connections.count(c))
          return;
        if (error) {
          close(c);
          return;
        }
        c->buffer.append(c->chunk, n);
        if (!c->headStarted) {
          // The idle wait ends; the whole head now has its own deadline.
          c->headStarted = true;
          c->headDeadline = Clock::now() + std::chrono::milliseconds(options.headTimeoutMs);
          c->deadline = c->headDeadline;
        }
        if (!tryDispatch(c))
          read(c);
      });
}

bool HttpFront::Impl::tryDispatch(const ConnectionPtr& c) {
  const size_t headEnd = c->buffer.find("\r\n\r\n");
  if (headEnd == std::string::npos) {
    if (c->buffer.size() > options.maxHeadBytes) {
      answerAndClose(c, cannedAnswer(431, "Request Header Fields Too Large",
                                     R"({"code":400,"msg":"请求头过大！","body":{}})"));
      return true;
    }
    return false;
  }
  HeadInfo head;
  if (headEnd + 4 > options.maxHeadBytes ||
      !readHead(std::string_view(c->buffer).substr(0, headEnd + 4), &head)) {
    answerAndClose(
        c, cannedAnswer(400, "Bad Request", R"({"code":400,"msg":"请求无效！","body":{}})"));
    return true;
  }
  const Lane lane = classifier(head.method, head.path);
  const bool hasBody = head.chunked || head.contentLength > 0;
  bool closeAfter = c->served + 1 >= options.keepAliveMax;
  if (lane != Lane::Transfer && hasBody) {
    if (head.chunked || head.contentLength > options.maxBufferedBody) {
      // Refused from its head without being read; what follows cannot be parsed.
      closeAfter = true;
    } else if (c->buffer.size() < headEnd + 4 + head.contentLength) {
      if (head.expectsContinue) {
        // Ask for the body here, and keep the request from asking again.
        c->buffer.erase(head.expectLineStart, head.expectLineEnd - head.expectLineStart);
        static const std::string goOn = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::error_code ec;
        asio::write(c->socket, asio::buffer(goOn), ec);
      }
      return false;
    }
  }
  if (lane == Lane::Transfer && hasBody)
    closeAfter = true;  // a refused upload leaves its body unread
  c->client = !head.forwardedFor.empty() && trustedProxy(c->ip) ? head.forwardedFor : c->ip;
  dispatch(c, lane, closeAfter, lane == Lane::Transfer && hasBody);
  return true;
}

void HttpFront::Impl::dispatch(const ConnectionPtr& c, Lane lane, bool closeAfter, bool upload) {
  WorkerPool* pool = lane == Lane::Login      ? logins.get()
                     : lane == Lane::Transfer ? transfers.get()
                                              : calls.get();
  // A client loads several pictures at once; only uploads are limited per address.
  if (upload && transfersPerAddress[c->client] >= options.transfersPerAddress) {
    count(&Stats::busy);
    answerAndClose(c, cannedAnswer(200, "OK", options.busyBody));
    return;
  }
  c->busy = true;
  stopWaiting(*c);
  ++c->served;
  const bool posted = pool->tryPost([this, c, closeAfter, upload] {
    size_t offset = 0;
    BufferedSocketStream stream(c->socket.native_handle(), c->buffer, offset, options.ioTimeoutMs,
                                options.ioTimeoutMs, c->client, c->port, c->local);
    bool clientClosed = false;
    bool ok = false;
    try {
      ok = handler(stream, closeAfter || stopping.load(), clientClosed);
      ok = stream.flush() && ok;
    } catch (const std::exception& e) {
      tavsrv::logError(std::string("request failed: ") + e.what());
    }
    c->buffer.erase(0, offset);
    const bool keep = ok && !clientClosed && !closeAfter && stream.healthy();
    asio::post(io, [this, c, upload, keep] { finished(c, upload, keep); });
  });
  if (!posted) {
    c->busy = false;
    count(&Stats::busy);
    if (lane == Lane::Transfer && !upload) {
      // A picture or file that cannot come now: a plain failure for the loader.
      answerAndClose(c, cannedAnswer(503, "Service Unavailable", options.busyBody));
      return;
    }
    // A refusal the client shows (its text says why), not a transport error.
    answerAndClose(
        c, cannedAnswer(200, "OK", lane == Lane::Login ? options.loginBusyBody : options.busyBody));
    return;
  }
  count(&Stats::requests);
  if (upload)
    ++transfersPerAddress[c->client];
}

void HttpFront::Impl::finished(const ConnectionPtr& c, bool upload, bool keep) {
  c->busy = false;
  if (upload) {
    auto it = transfersPerAddress.find(c->client);
    if (it != transfersPerAddress.end() && --it->second <= 0)
      transfersPerAddress.erase(it);
  }
  if (!keep || stopping.load() || !connections.count(c)) {
    close(c);
    return;
  }
  waitForRequest(c);
}

void HttpFront::Impl::answerAndClose(const ConnectionPtr& c, std::string answer) {
  c->busy = true;  // no read acts on it any more
  c->answering = true;
  c->deadline = Clock::now() + std::chrono::milliseconds(options.headTimeoutMs);
  stopWaiting(*c);
  auto text = std::make_shared<std::string>(std::move(answer));
  asio::async_write(c->socket, asio::buffer(*text),
                    [this, c, text](const asio::error_code&, size_t) { close(c); });
}

void HttpFront::Impl::close(const ConnectionPtr& c) {
  if (!connections.erase(c))
    return;
  byPointer.erase(c.get());
  stopWaiting(*c);
  asio::error_code ec;
  c->socket.shutdown(tcp::socket::shutdown_both, ec);
  c->socket.close(ec);
  auto it = addresses.find(c->ip);
  if (it != addresses.end() && --it->second.open <= 0)
    addresses.erase(it);
}

HttpFront::HttpFront(FrontOptions options, Handler handler, Classifier classifier)
    : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->handler = std::move(handler);
  impl_->classifier = std::move(classifier);
}

HttpFront::~HttpFront() {
  stop();
  if (impl_->spareFd >= 0)
    ::close(impl_->spareFd);
}

bool HttpFront::start(std::string* error) {
  Impl& d = *impl_;
  if (d.running)
    return true;
  try {
    const tcp::endpoint endpoint(asio::ip::make_address(d.options.host),
                                 static_cast<unsigned short>(d.options.port));
    d.acceptor.open(endpoint.protocol());
    // Not handed to programs this process starts: a child holding it would keep the port.
    ::fcntl(d.acceptor.native_handle(), F_SETFD, FD_CLOEXEC);
    d.acceptor.set_option(tcp::acceptor::reuse_address(true));
    d.acceptor.bind(endpoint);
    d.acceptor.listen(d.options.backlog);
    d.boundPort = d.acceptor.local_endpoint().port();
    d.maxConnections = d.options.maxConnections;
    const size_t descriptors = tavsrv::descriptorLimit();
    if (descriptors < static_cast<size_t>(d.maxConnections) + kSpareDescriptors) {
      d.maxConnections = std::max(1, static_cast<int>(descriptors) - kSpareDescriptors);
      tavsrv::logWarn("only " + std::to_string(descriptors) + " descriptors (ulimit -n): at most " +
                      std::to_string(d.maxConnections) + " connections");
    }
    if (d.spareFd < 0)
      d.spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  } catch (const std::exception& e) {
    *error = "cannot listen on " + d.options.host + ":" + std::to_string(d.options.port) + ": " +
             e.what();
    asio::error_code ec;
    d.acceptor.close(ec);
    return false;
  }
  d.calls = std::make_unique<WorkerPool>("svc-call", d.options.callThreads, d.options.callQueue);
  d.logins =
      std::make_unique<WorkerPool>("svc-login", d.options.loginThreads, d.options.loginQueue);
  d.transfers = std::make_unique<WorkerPool>("svc-transfer", d.options.transferThreads,
                                             d.options.transferQueue);
  d.stopping = false;
  // Deadlines are kept to within a quarter of the shortest one (at most 100 ms late).
  d.sweepPeriod = std::chrono::milliseconds(
      std::clamp(std::min(d.options.headTimeoutMs, d.options.idleTimeoutMs) / 4, 10, 100));
  d.sweep();
  d.accept();
  d.thread = std::thread([&d] {
    pthread_setname_np(pthread_self(), "svc-front");
    d.io.run();
  });
  d.running = true;
  return true;
}

int HttpFront::port() const {
  return impl_->boundPort;
}

void HttpFront::stop() {
  Impl& d = *impl_;
  if (!d.running)
    return;
  d.stopping = true;
  asio::post(d.io, [&d] {
    asio::error_code ec;
    d.acceptor.close(ec);
    // Idle connections go now; busy ones when their worker is done.
    std::vector<Impl::ConnectionPtr> idle;
    for (const auto& c : d.connections)
      if (!c->busy)
        idle.push_back(c);
    for (const auto& c : idle)
      d.close(c);
  });
  // Running requests finish (their answers carry "Connection: close"), then the
  // reactor closes what is left.
  d.calls->stop();
  d.logins->stop();
  d.transfers->stop();
  asio::post(d.io, [&d] {
    std::vector<Impl::ConnectionPtr> all(d.connections.begin(), d.connections.end());
    for (const auto& c : all)
      d.close(c);
    d.io.stop();
  });
  d.thread.join();
  d.io.restart();
  d.running = false;
}

HttpFront::Stats HttpFront::stats() const {
  std::lock_guard<std::mutex> lock(impl_->statsMutex);
  return impl_->counters;
}

}  // namespace tavsvc
