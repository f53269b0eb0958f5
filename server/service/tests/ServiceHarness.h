// A real service on an ephemeral loopback port with a fresh store (demo data,
// fast password hashes) and a clock the test moves, plus a small HTTP client.
// The store is an SQLite file, or with TAV_TEST_STORE=postgresql a new database
// of the program's own PostgreSQL server (tests/support/ScratchPostgres.h).
#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/Service.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Clock.h"

namespace tavtest {

using tavsrv::json;

// Demo ids (see the seed).
constexpr uint32_t kTeacher = 10001, kAssistant = 10002, kStudent1 = 10003, kStudent2 = 10004,
                   kStudent3 = 10005, kStudent4 = 10006, kParent = 10007, kAuditor = 10008,
                   kInspector = 10009;
constexpr uint32_t kMathRoom = 1001, kEnglishRoom = 1002, kPrivateRoom = 1003,
                   kNotActivatedRoom = 1004, kReviewRoom = 1005;

std::filesystem::path makeTempDir();

struct Login {
  uint32_t id = 0;
  std::string ticket;
};

class ServiceHarness {
public:
  // nodes: service nodes on the one store and data folder (a cluster without
  // its load balancer); post() and the client talk to the first.
  explicit ServiceHarness(bool seed = true,
                          const std::function<void(tavsvc::ServiceConfig&)>& adjust = {},
                          int nodes = 1);
  ~ServiceHarness();

  tavsrv::ManualClock& clock() { return *clock_; }
  int port(size_t node = 0) const { return nodes_[node]->port(); }
  size_t nodes() const { return nodes_.size(); }
  const std::filesystem::path& dataDir() const { return dir_; }
  // The store, for tavsrv::openConnection: the SQLite file or the PostgreSQL URL.
  const std::string& store() const { return store_; }
  // The PostgreSQL URL of the store, "" for an SQLite file.
  const std::string& database() const { return database_; }
  // The database a harness of this program gets: "" (an SQLite file) or a new PostgreSQL one.
  static std::string newDatabase();
  static constexpr const char* kInternalToken = "0123456789abcdef0123456789abcdef";

  // POSTs a form body; the answer parsed (un-nested first when unnest is set).
  // A transport failure or non-JSON answer fails the test and returns null.
  json post(const std::string& path, const std::string& body, const std::string& ticket = "",
            bool unnest = false);
  // The same to another node.
  json postTo(size_t node, const std::string& path, const std::string& body,
              const std::string& ticket = "", bool unnest = false);
  httplib::Result raw(const std::string& path, const std::string& body,
                      const httplib::Headers& headers = {});
  httplib::Result get(const std::string& path);
  Login login(const std::string& userName, const std::string& password = "123456");

private:
  std::filesystem::path dir_;
  std::string database_, store_;
  std::shared_ptr<tavsrv::ManualClock> clock_;
  std::vector<std::unique_ptr<tavsvc::Service>> nodes_;
  std::vector<std::unique_ptr<httplib::Client>> clients_;
};

// "a=1&b=2" with each value percent-encoded, as the client builds bodies.
std::string form(std::initializer_list<std::pair<std::string, std::string>> fields);

}  // namespace tavtest
