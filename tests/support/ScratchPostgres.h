// A PostgreSQL server of a test's (or a benchmark's) own: Debian's initdb and
// postgres (/usr/lib/postgresql/<version>/bin, or $TAV_PG_BIN) on a temporary
// folder, listening only on a Unix socket inside it, so two runs on one machine
// never meet. The server refuses to run as root: run as root, it runs as the
// "postgres" system user (the postgresql package's; else "nobody"), to whom the
// folder is handed. Started when made, stopped (and its folder removed) when
// destroyed; if the owning process dies the server is told to stop too.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class ScratchPostgres {
public:
  struct Options {
    // Tests: off (nothing survives the run anyway). Benchmarks: on, as deployed.
    bool durable = false;
    int maxConnections = 300;
  };

  ScratchPostgres() : ScratchPostgres(Options{}) {}
  explicit ScratchPostgres(const Options& options);
  ~ScratchPostgres();
  ScratchPostgres(const ScratchPostgres&) = delete;
  ScratchPostgres& operator=(const ScratchPostgres&) = delete;

  // False when the server could not be started; why() says what is missing.
  bool ok() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }  // the server's first process
  const std::string& why() const { return why_; }

  // A new empty database; its URL for tavsrv::openConnection and --database
  // (empty, with why() set, on failure).
  std::string createDatabase();
  std::string url(const std::string& database) const;
  // Drops the database of a URL createDatabase gave (its connections closed).
  void dropDatabase(const std::string& url);

  // One server for the whole test program, started on first use.
  static ScratchPostgres& shared();

private:
  void start(const Options& options);
  bool run(const std::string& program, const std::vector<std::string>& args, bool wait);
  void fail(const std::string& why);

  std::string dir_, bin_, why_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool switchUser_ = false;
  pid_t pid_ = -1;
  int databases_ = 0;
};

}  // namespace testsupport
