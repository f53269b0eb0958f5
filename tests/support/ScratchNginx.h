// Debian's nginx (/usr/sbin/nginx, or $TAV_NGINX) as a load balancer of a
// test's own: one process (no daemon, no master), its configuration, logs and
// temporary files in a temporary folder, on a free loopback port, in front of
// the given upstream ports on 127.0.0.1 (round robin). Its access log has one
// line per request: "<upstream address(es)> <status>". Stopped, and its folder
// removed, when destroyed.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class ScratchNginx {
public:
  explicit ScratchNginx(const std::vector<int>& upstreamPorts);
  ~ScratchNginx();
  ScratchNginx(const ScratchNginx&) = delete;
  ScratchNginx& operator=(const ScratchNginx&) = delete;

  bool ok() const { return pid_ > 0; }
  const std::string& why() const { return why_; }
  int port() const { return port_; }
  // The access log's lines so far.
  std::vector<std::string> accessLog() const;
  // The http block's server part, as the README's example (paths aside).
  static std::string config(const std::string& dir, int port, const std::vector<int>& upstreams);

private:
  bool startOn(int port, const std::vector<int>& upstreams);

  std::string dir_, why_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace testsupport
