// The server's side of the protocol over raw sockets: who is refused with which code, the
// connection bound, and jobs cancelled when their client goes or the server stops. The
// converter is a stand-in that hangs, so no LibreOffice runs here.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "TestCredentials.h"
#include "TestDocuments.h"
#include "convert/Server.h"
#include "eventually.h"
#include "falco_wire.h"

namespace fs = std::filesystem;
namespace wire = falco::wire;
using testsupport::eventually;
using testsupport::testCredential;

namespace {

constexpr uint32_t kTeacher = 10001, kStudent = 10003, kRoom = 1001;
const std::string kDocx = testdocs::make_docx();

class Connection {
public:
  // From `source` (any loopback address: they all reach the server's 127.0.0.1).
  explicit Connection(uint16_t port, const char* source = "127.0.0.1") {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    timeval tv{60, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Connection() { close(); }
  void close() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }
  bool connected() const { return connected_; }
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // The next frame's type and payload; nullopt when the server closed (or stayed silent).
  std::optional<std::pair<wire::FrameType, std::string>> next() {
    for (;;) {
      std::vector<wire::Frame> frames;
      const auto r = wire::decode_frames(buffer_, wire::kMaxServerFrame, frames);
      if (!frames.empty()) {
        auto frame = std::make_pair(frames[0].type, std::string(frames[0].payload));
        buffer_.erase(0, wire::kHeaderSize + frames[0].payload.size());
        return frame;
      }
      if (r.status != wire::DecodeStatus::ok)
        return std::nullopt;
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0)
        return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  // The code of the error frame that ends the exchange (frames before it skipped).
  std::optional<wire::ErrorCode> error_code() {
    while (auto frame = next()) {
      if (frame->first == wire::FrameType::error) {
        const auto e = wire::decode_error(frame->second);
        return e ? std::optional<wire::ErrorCode>(e->code) : std::nullopt;
      }
    }
    return std::nullopt;
  }

private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

std::string submit(uint32_t user, uint32_t room, const std::string& credential,
                   uint64_t size = kDocx.size(), const std::string& name = "教案 $(x).docx") {
  wire::Submit s;
  s.user_id = user;
  s.room_id = room;
  s.size = size;
  s.credential = credential;
  s.name = name;
  return wire::encode_submit(s);
}

class ConvertServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/convert-server-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // Stands in for LibreOffice: records its pid, then hangs until killed.
    const fs::path tool = dir_ / "soffice";
    const std::string pid_file = (dir_ / "soffice.pid").string();
    std::ofstream(tool) << "#!/bin/sh\necho $$ > '" << pid_file << ".tmp'\nmv '" << pid_file
                        << ".tmp' '" << pid_file << "'\nexec sleep 1000\n";
    ::chmod(tool.c_str(), 0755);
    config_.listen_port = 0;
    config_.data_dir = (dir_ / "data").string();
    config_.internal_token = testsupport::kTestSecret;
    config_.tools.soffice = tool.string();
    // The stand-in tells the test its process id and is signalled by it: outside a sandbox.
    config_.tools.sandbox = false;
    config_.limits.max_bytes = 1024;
    config_.max_connections = 3;
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(dir_);
  }
  void start() {
    server_ = std::make_unique<convert::Server>(config_);
    port_ = server_->start();
    ASSERT_NE(port_, 0) << server_->error();
  }
  // Sends a valid job and waits until the stand-in converter runs it.
  void start_job(Connection& c) {
    ASSERT_TRUE(c.send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1))));
    auto accepted = c.next();
    ASSERT_TRUE(accepted);
    ASSERT_EQ(accepted->first, wire::FrameType::accepted);
    ASSERT_TRUE(c.send(wire::encode_data(kDocx)));
    ASSERT_TRUE(eventually([&] { return fs::exists(dir_ / "soffice.pid"); }));
  }
  pid_t converter_pid() {
    pid_t pid = 0;
    std::ifstream(dir_ / "soffice.pid") >> pid;
    return pid;
  }
  bool jobs_empty() { return fs::is_empty(fs::path(config_.data_dir) / "jobs"); }

  fs::path dir_;
  convert::Config config_;
  std::unique_ptr<convert::Server> server_;
  uint16_t port_ = 0;
};

}  // namespace

TEST_F(ConvertServerTest, OnlyTheRoomsTeacherWithACredentialOfTheServiceIsServed) {
  start();
  const struct {
    const char* what;
    std::string bytes;
    wire::ErrorCode code;
  } cases[] = {
      {"no credential", submit(kTeacher, kRoom, ""), wire::ErrorCode::credential_refused},
      {"another user's", submit(kTeacher, kRoom, testCredential(kStudent, kRoom, 1)),
       wire::ErrorCode::credential_refused},
      {"another room's", submit(kTeacher, kRoom, testCredential(kTeacher, 1002, 1)),
       wire::ErrorCode::credential_refused},
      {"expired", submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1, -1000)),
       wire::ErrorCode::credential_refused},
      {"a student", submit(kStudent, kRoom, testCredential(kStudent, kRoom, 2)),
       wire::ErrorCode::not_allowed},
      {"too large", submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1), 1025),
       wire::ErrorCode::too_large},
      {"not a document", submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1), 10, "run.sh"),
       wire::ErrorCode::unsupported},
      {"data before submit", wire::encode_data("x"), wire::ErrorCode::protocol},
      {"garbage", std::string("\x00\x00\x00\x00", 4), wire::ErrorCode::protocol},
  };
  for (const auto& c : cases) {
    Connection connection(port_);
    ASSERT_TRUE(connection.connected());
    ASSERT_TRUE(connection.send(c.bytes));
    EXPECT_EQ(connection.error_code(), c.code) << c.what;
  }
  // Another key signs nothing the server believes.
  config_.internal_token = "another secret";
  server_.reset();
  start();
  Connection connection(port_);
  connection.send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1)));
  EXPECT_EQ(connection.error_code(), wire::ErrorCode::credential_refused);
  EXPECT_EQ(server_->stats().accepted, 0u);
}

TEST_F(ConvertServerTest, MoreDataThanAnnouncedIsAProtocolError) {
  start();
  Connection c(port_);
  c.send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1), 4));
  ASSERT_EQ(c.next()->first, wire::FrameType::accepted);
  c.send(wire::encode_data(kDocx));
  EXPECT_EQ(c.error_code(), wire::ErrorCode::protocol);
  EXPECT_TRUE(eventually([&] { return jobs_empty(); }));
}

TEST_F(ConvertServerTest, AClientThatGoesAwayCancelsItsJob) {
  start();
  Connection c(port_);
  start_job(c);
  const pid_t converter = converter_pid();
  ASSERT_GT(converter, 0);
  ASSERT_TRUE(eventually([&] { return server_->stats().converting == 1; }));
  c.close();
  EXPECT_TRUE(eventually([&] { return server_->stats().cancelled == 1; }));
  EXPECT_TRUE(eventually([&] { return ::kill(converter, 0) != 0; })) << "converter still runs";
  EXPECT_TRUE(eventually([&] { return jobs_empty(); }));
  EXPECT_EQ(server_->stats().converting, 0u);
}

TEST_F(ConvertServerTest, ConvertersAndJobsAreBounded) {
  config_.max_jobs = 1;
  start();
  Connection first(port_);
  start_job(first);
  fs::remove(dir_ / "soffice.pid");
  // The second and third jobs are uploaded and wait for the one converter.
  Connection second(port_), third(port_);
  for (Connection* c : {&second, &third}) {
    ASSERT_TRUE(c->send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1))));
    ASSERT_EQ(c->next()->first, wire::FrameType::accepted);
    ASSERT_TRUE(c->send(wire::encode_data(kDocx)));
  }
  // A connection that has not said who it is takes no job slot; one job more is refused.
  Connection silent(port_);
  ASSERT_TRUE(eventually([&] { return server_->stats().pending == 1; }));
  Connection fourth(port_);
  ASSERT_TRUE(fourth.send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1))));
  EXPECT_EQ(fourth.error_code(), wire::ErrorCode::busy);
  EXPECT_EQ(server_->stats().converting, 1u);
  EXPECT_TRUE(eventually([&] { return server_->stats().connections == 4; }));
  EXPECT_FALSE(fs::exists(dir_ / "soffice.pid"));

  // The first one's end frees the converter for the second.
  first.close();
  EXPECT_TRUE(eventually([&] { return fs::exists(dir_ / "soffice.pid"); }));
  EXPECT_TRUE(eventually([&] { return server_->stats().converting == 1; }));

  // One user holds at most max_jobs_per_user of the slots.
  second.close();
  third.close();
  ASSERT_TRUE(eventually([&] { return server_->stats().connections == 1; }));
  server_.reset();
  config_.max_jobs_per_user = 1;
  config_.max_connections = 16;
  start();
  fs::remove(dir_ / "soffice.pid");
  Connection mine(port_);
  start_job(mine);
  Connection again(port_);
  ASSERT_TRUE(again.send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1))));
  EXPECT_EQ(again.error_code(), wire::ErrorCode::busy);
}

TEST_F(ConvertServerTest, StoppingKillsRunningConvertersAndLeavesNoJobBehind) {
  start();
  Connection c(port_);
  start_job(c);
  const pid_t converter = converter_pid();
  ASSERT_GT(converter, 0);
  ASSERT_TRUE(eventually([&] { return server_->stats().converting == 1; }));
  server_->stop();
  EXPECT_NE(::kill(converter, 0), 0);
  EXPECT_TRUE(jobs_empty());
  // What a killed server leaves is removed at the next start.
  const fs::path stale = fs::path(config_.data_dir) / "jobs" / "0123456789abcdef";
  fs::create_directories(stale);
  std::ofstream(stale / "input.docx") << "half";
  server_.reset();
  start();
  EXPECT_TRUE(jobs_empty());
}

TEST_F(ConvertServerTest, SilentConnectionsHoldNoJobSlotAndEndAtTheirDeadline) {
  config_.submit_timeout = std::chrono::seconds(3);
  start();
  // 20 connections from one address that never say who they are: all but the newest four
  // are closed as busy at once.
  std::vector<std::unique_ptr<Connection>> silent;
  for (int i = 0; i < 20; ++i) {
    silent.push_back(std::make_unique<Connection>(port_));
    ASSERT_TRUE(silent.back()->connected());
  }
  ASSERT_TRUE(eventually([&] { return server_->stats().failed >= 16; }));

  // A teacher from another address, and one from the same, are served all the same.
  Connection other(port_, "127.0.0.2");
  ASSERT_TRUE(other.send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1))));
  const auto answer = other.next();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->first, wire::FrameType::accepted) << "a real job was refused";
  Connection same(port_);
  ASSERT_TRUE(same.send(submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1))));
  const auto same_answer = same.next();
  ASSERT_TRUE(same_answer);
  EXPECT_EQ(same_answer->first, wire::FrameType::accepted);

  // One that sends its submit a byte at a time, each byte well within the deadline.
  Connection dribbling(port_, "127.0.0.3");
  const std::string slow = submit(kTeacher, kRoom, testCredential(kTeacher, kRoom, 1));
  std::atomic<bool> sent_all{false};
  std::thread dribbler([&] {
    for (char c : slow) {
      if (!dribbling.send(std::string(1, c)))
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    sent_all = true;
  });

  // The oldest made room for newer ones of their address (the last for `same`); the others
  // and the slow one are closed at the deadline, the slow one before its submit is whole.
  for (size_t i = 0; i < 17; ++i)
    EXPECT_EQ(silent[i]->error_code(), wire::ErrorCode::busy) << i;
  for (size_t i = 17; i < silent.size(); ++i)
    EXPECT_EQ(silent[i]->error_code(), wire::ErrorCode::protocol) << i;
  EXPECT_EQ(dribbling.error_code(), wire::ErrorCode::protocol);
  dribbler.join();
  EXPECT_FALSE(sent_all) << "the whole submit went through";
  EXPECT_EQ(server_->stats().accepted, 2u);
}
