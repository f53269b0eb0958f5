// The service's connection handling in front of cpp-httplib's request parsing.
//
// One event-driven thread accepts, keeps idle keep-alive connections and reads
// each request's head (and a small body) without holding a thread, so slow or
// idle clients cost a socket, not a request thread. A complete request goes to
// one of three lanes of worker threads: ordinary calls, logins (whose password
// hash is slow) and transfers (uploads and file downloads, which may take long).
// cpp-httplib then parses and answers the request from the bytes already read.
//
// Limits: connections in all and per client address, a time for an idle
// connection's next request and a deadline for a whole request head, the head's
// size, queued work per lane and transfers per address. A connection beyond
// the limits gets HTTP 503 and is closed; a request that finds its lane full
// gets a JSON refusal (HTTP 200, as every refusal, so the client shows its text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace httplib {
class Stream;
}

namespace tavsvc {

enum class Lane { Call, Login, Transfer };

struct FrontOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  int backlog = 1024;
  int maxConnections = 4096;
  int connectionsPerAddress = 64;
  int idleTimeoutMs = 10000;  // an open connection's wait for its next request
  int headTimeoutMs = 5000;   // from a request's first byte to the end of its head (and form body)
  size_t maxHeadBytes = 16384;
  size_t maxBufferedBody = 8192;  // larger bodies of ordinary calls are not read ahead
  int keepAliveMax = 1000;        // requests per connection
  int ioTimeoutMs = 20000;        // a worker's wait for a slow upload or download
  int callThreads = 8;
  size_t callQueue = 1024;
  int loginThreads = 2;
  size_t loginQueue = 64;
  int transferThreads = 8;
  size_t transferQueue = 64;
  int transfersPerAddress = 4;  // uploads at a time from one address
  // Proxies (load balancers) whose X-Forwarded-For is believed: a request from
  // one of these addresses comes from the last address the header names, for
  // the per-address limits of uploads and for the service (req.remote_addr).
  std::vector<std::string> trustedProxies;
  // The JSON refusals sent when a lane is full.
  std::string busyBody = "{}";
  std::string loginBusyBody = "{}";
};

class HttpFront {
public:
  // Parses one request from the stream and answers it; closeAfter asks the
  // answer to end the connection. False, or clientClosed set, ends it too.
  using Handler = std::function<bool(httplib::Stream& stream, bool closeAfter, bool& clientClosed)>;
  // The lane of a request, from its method and path (without the query).
  using Classifier = std::function<Lane(const std::string& method, const std::string& path)>;

  HttpFront(FrontOptions options, Handler handler, Classifier classifier);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  bool start(std::string* error);
  int port() const;
  // Stops accepting, lets running requests finish and closes every connection.
  void stop();

  struct Stats {
    uint64_t accepted = 0;
    uint64_t refusedConnections = 0;  // over the total or the per-address limit
    uint64_t timedOut = 0;            // idle or head deadline passed
    uint64_t busy = 0;                // a lane was full
    uint64_t requests = 0;
  };
  Stats stats() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavsvc
