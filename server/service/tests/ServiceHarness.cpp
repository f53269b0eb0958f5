#include "ServiceHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "ScratchPostgres.h"
#include "tavsrv/Form.h"

namespace fs = std::filesystem;

namespace tavtest {

namespace {
bool onPostgres() {
  const char* store = std::getenv("TAV_TEST_STORE");
  return store && std::string(store) == "postgresql";
}

// The PostgreSQL run skips every test, saying why, where no server can be started here.
class PostgresEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    if (!onPostgres())
      return;
    auto& server = testsupport::ScratchPostgres::shared();
    if (!server.ok())
      GTEST_SKIP() << "no PostgreSQL server for the store tests: " << server.why();
  }
};
[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);
}  // namespace

std::string ServiceHarness::newDatabase() {
  if (!onPostgres())
    return std::string();
  auto& server = testsupport::ScratchPostgres::shared();
  const std::string url = server.createDatabase();
  if (url.empty())
    ADD_FAILURE() << "no PostgreSQL database: " << server.why();
  return url;
}

fs::path makeTempDir() {
  std::string pattern = (fs::temp_directory_path() / "tavsvcXXXXXX").string();
  return fs::path(mkdtemp(pattern.data()));
}

ServiceHarness::ServiceHarness(bool seed, const std::function<void(tavsvc::ServiceConfig&)>& adjust,
                               int nodes)
    : dir_(makeTempDir()), database_(newDatabase()) {
  using namespace std::chrono;
  clock_ = std::make_shared<tavsrv::ManualClock>(
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
  tavsvc::ServiceConfig config;
  config.port = 0;
  config.dataDir = (dir_ / "data").string();
  config.database = database_;
  config.internalToken = kInternalToken;
  config.seedDemo = seed;
  config.demoVideos = false;
  config.threads = 16;
  config.passwordStrength = tavsvc::PasswordStrength::Minimum;
  config.clock = clock_;
  if (adjust)
    adjust(config);
  store_ = tavsvc::storeLocation(config);
  for (int i = 0; i < nodes; ++i) {
    nodes_.push_back(std::make_unique<tavsvc::Service>(config));
    std::string error;
    if (!nodes_.back()->start(&error))
      ADD_FAILURE() << "service node " << i << " did not start: " << error;
    auto client = std::make_unique<httplib::Client>("127.0.0.1", nodes_.back()->port());
    client->set_read_timeout(30, 0);
    client->set_connection_timeout(20, 0);
    client->set_tcp_nodelay(true);
    clients_.push_back(std::move(client));
  }
}

ServiceHarness::~ServiceHarness() {
  clients_.clear();
  for (auto& node : nodes_)
    node->stop();
  nodes_.clear();
  if (!database_.empty())
    testsupport::ScratchPostgres::shared().dropDatabase(database_);
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

httplib::Result ServiceHarness::raw(const std::string& path, const std::string& body,
                                    const httplib::Headers& headers) {
  return clients_[0]->Post(("/" + path).c_str(), headers, body,
                           "application/x-www-form-urlencoded");
}

httplib::Result ServiceHarness::get(const std::string& path) {
  return clients_[0]->Get(("/" + path).c_str());
}

json ServiceHarness::post(const std::string& path, const std::string& body,
                          const std::string& ticket, bool unnest) {
  return postTo(0, path, body, ticket, unnest);
}

json ServiceHarness::postTo(size_t node, const std::string& path, const std::string& body,
                            const std::string& ticket, bool unnest) {
  httplib::Headers headers;
  if (!ticket.empty())
    headers.emplace("X-Tav-Ticket", ticket);
  auto res = clients_[node]->Post(("/" + path).c_str(), headers, body,
                                  "application/x-www-form-urlencoded");
  if (!res) {
    ADD_FAILURE() << path << ": no answer";
    return nullptr;
  }
  const json answer = json::parse(unnest ? tavsrv::unnest(res->body) : res->body, nullptr, false);
  if (answer.is_discarded())
    ADD_FAILURE() << path << ": not JSON: " << res->body;
  return answer.is_discarded() ? json(nullptr) : answer;
}

Login ServiceHarness::login(const std::string& userName, const std::string& password) {
  const json answer = post("aas/service/user/login",
                           form({{"userName", userName}, {"userPwd", password}}), "", true);
  Login result;
  if (!answer.is_object() || answer["code"] != 0) {
    ADD_FAILURE() << "login " << userName << " failed: " << answer.dump();
    return result;
  }
  result.id = answer["body"]["globalId"].get<uint32_t>();
  result.ticket = answer["body"]["ticketId"].get<std::string>();
  return result;
}

std::string form(std::initializer_list<std::pair<std::string, std::string>> fields) {
  std::string out;
  for (const auto& field : fields) {
    if (!out.empty())
      out += '&';
    out += field.first + "=" + tavsrv::percentEncode(field.second);
  }
  return out;
}

}  // namespace tavtest
