#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Launcher.h"
#include "RoleRegistry.h"
#include "falco_wire.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Credential.h"
#include "tavsrv/Descriptors.h"

namespace fs = std::filesystem;
using tavsrv::json;

namespace {
fs::path tempDir() {
  std::string pattern = (fs::temp_directory_path() / "tavlaunchXXXXXX").string();
  return fs::path(mkdtemp(pattern.data()));
}

// A port the system just handed out, used as the port base.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t length = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// Starts the launcher on ports base, base+1, ... The system handed out only the base: in a
// parallel test run another test may hold one of the ports above it, so a start that could not
// bind is tried again on a fresh base.
bool startOnFreePorts(tavlaunch::Launcher& launcher, tavlaunch::LaunchOptions& options,
                      std::string* error, std::vector<std::string>* notes) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    options.portBase = freePort();
    notes->clear();
    if (launcher.start(options, error, notes))
      return true;
    if (error->rfind("cannot start ", 0) != 0)
      return false;  // not a port taken: a real failure
  }
  return false;
}
}  // namespace

TEST(LauncherTest, StartsTheServiceWritesEndpointsAndCleansUp) {
  const fs::path dir = tempDir();
  tavlaunch::LaunchOptions options;
  options.dataDir = dir.string();
  options.roles = {"service"};
  options.demoMedia = false;
  tavlaunch::Launcher launcher;
  std::string error;
  std::vector<std::string> notes;
  ASSERT_TRUE(startOnFreePorts(launcher, options, &error, &notes)) << error;

  std::ifstream in(dir / "endpoints.json");
  const json endpoints = json::parse(in, nullptr, false);
  ASSERT_TRUE(endpoints.is_object());
  EXPECT_EQ(endpoints["service"]["host"], "127.0.0.1");
  EXPECT_EQ(endpoints["service"]["port"], options.portBase);

  // The seeded service answers on the announced port.
  httplib::Client client("127.0.0.1", options.portBase);
  client.set_read_timeout(30, 0);
  auto res = client.Post("/aas/service/user/login", "userName=teacher&userPwd=123456",
                         "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  const json answer = json::parse(tavsrv::unnest(res->body), nullptr, false);
  EXPECT_EQ(answer["code"], 0);
  EXPECT_EQ(answer["body"]["globalId"], 10001);
  EXPECT_EQ(answer["chat_server"], "127.0.0.1:" + std::to_string(options.portBase + 1));
  EXPECT_FALSE(launcher.banner().empty());

  // A second launcher may not share the data folder.
  tavlaunch::Launcher second;
  options.portBase += 10;
  EXPECT_FALSE(second.start(options, &error, &notes));
  EXPECT_NE(error.find("in use"), std::string::npos);

  launcher.stop();
  EXPECT_FALSE(fs::exists(dir / "endpoints.json"));
  EXPECT_FALSE(
      client.Post("/aas/service/system/querySettings", "", "application/x-www-form-urlencoded"));
  fs::remove_all(dir);
}

// Every role this build has starts together and shows up in endpoints.json.
TEST(LauncherTest, AllBuiltRolesStartTogether) {
  const fs::path dir = tempDir();
  tavlaunch::LaunchOptions options;
  options.dataDir = dir.string();
  options.demoMedia = false;
  tavlaunch::Launcher launcher;
  std::string error;
  std::vector<std::string> notes;
  ASSERT_TRUE(startOnFreePorts(launcher, options, &error, &notes)) << error;
  std::ifstream in(dir / "endpoints.json");
  const json endpoints = json::parse(in, nullptr, false);
  size_t built = 0;
  for (const auto& role : tavlaunch::knownRoles()) {
    if (!role.make)
      continue;
    ++built;
    ASSERT_TRUE(endpoints.contains(role.name)) << role.name;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(endpoints[role.name]["port"].get<int>()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (role.name == "mcu") {
      // The MCU speaks KCP over UDP: its port is held, so nobody else can bind it.
      const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
      EXPECT_NE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << role.name;
      ::close(fd);
      continue;
    }
    // The others accept connections at their announced address.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << role.name;
    ::close(fd);
  }
  EXPECT_EQ(launcher.running().size(), built);
  EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                          [](const std::string& note) {
                            return note.find("not part of this build") != std::string::npos;
                          }),
            static_cast<long>(tavlaunch::knownRoles().size() - built));
  launcher.stop();
  fs::remove_all(dir);
}

TEST(LauncherTest, UnknownAndUnavailableRolesAreRefusedClearly) {
  const fs::path dir = tempDir();
  tavlaunch::LaunchOptions options;
  options.dataDir = dir.string();
  options.portBase = freePort();
  std::string error;
  std::vector<std::string> notes;
  std::vector<std::string> roles;
  EXPECT_FALSE(tavlaunch::parseRoleList("service,,msg", &roles, &error));
  ASSERT_TRUE(tavlaunch::parseRoleList("service,bogus", &roles, &error));
  options.roles = roles;
  tavlaunch::Launcher launcher;
  EXPECT_FALSE(launcher.start(options, &error, &notes));
  EXPECT_NE(error.find("unknown role bogus"), std::string::npos) << error;
  EXPECT_TRUE(launcher.running().empty());
  fs::remove_all(dir);
}

namespace {
void put(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}
}  // namespace

// The roles are wired to each other: a member the service removes is cut off the message
// server's room channel at once, although its room credential is still valid.
TEST(LauncherTest, ARemovalAtTheServiceCutsTheMemberOffTheMessageServer) {
  const fs::path dir = tempDir();
  tavlaunch::LaunchOptions options;
  options.dataDir = dir.string();
  options.roles = {"service", "msg"};
  options.demoMedia = false;
  tavlaunch::Launcher launcher;
  std::string error;
  std::vector<std::string> notes;
  ASSERT_TRUE(startOnFreePorts(launcher, options, &error, &notes)) << error;
  httplib::Client client("127.0.0.1", options.portBase);
  client.set_read_timeout(30, 0);
  const auto call = [&](const std::string& path, const std::string& body,
                        const std::string& ticket) {
    auto res =
        client.Post(path, {{"X-Tav-Ticket", ticket}}, body, "application/x-www-form-urlencoded");
    return res ? json::parse(tavsrv::unnest(res->body), nullptr, false) : json();
  };
  const json student = call("/aas/service/user/login", "userName=student2&userPwd=123456", "");
  const json teacher = call("/aas/service/user/login", "userName=teacher&userPwd=123456", "");
  const json entry = call("/rms/service/room/userJoinRoom", "roomId=1001&globalId=10004",
                          student["body"]["ticketId"].get<std::string>());
  ASSERT_EQ(entry["code"], 0) << entry.dump();
  const std::string credential = entry["room_credential"];

  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(options.portBase + 1));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::string hello;
  put(hello, 1, 1);  // hello: version, user, channel, credential
  put(hello, 1, 2);
  put(hello, 10004, 4);
  put(hello, 1001, 4);
  put(hello, credential.size(), 2);
  hello += credential;
  std::string frame;
  put(frame, hello.size(), 4);
  frame += hello;
  ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(frame.size()));
  // Everything until the server closes: the welcome, then the close frame with its reason.
  const auto readAll = [&] {
    std::string got;
    char chunk[4096];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 60000) > 0) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0)
        break;
      got.append(chunk, static_cast<size_t>(n));
      if (got.size() == 11 && got[4] == 2)
        return got;  // the welcome alone: admitted
    }
    return got;
  };
  const std::string welcome = readAll();
  ASSERT_EQ(welcome.size(), 11u);
  ASSERT_EQ(welcome[4], 2);  // welcome

  const json removal =
      call("/rms/service/room/addRoomBlack", "globalId=10004&roomId=1001&type=2&optionUser=10001",
           teacher["body"]["ticketId"].get<std::string>());
  ASSERT_EQ(removal["code"], 0) << removal.dump();
  const std::string closing = readAll();
  EXPECT_NE(closing.find("removed from the room"), std::string::npos);
  ::close(fd);
  launcher.stop();
  fs::remove_all(dir);
}

// The room-entry answer names the conversion role as document_server, and the room
// credential the service hands out there is the one the conversion server believes: the
// room's teacher is accepted, a student of the room is not.
TEST(LauncherTest, TheRoomEntryAnswerLeadsToTheConversionServer) {
  const fs::path dir = tempDir();
  tavlaunch::LaunchOptions options;
  options.dataDir = dir.string();
  options.roles = {"service", "convert"};
  options.demoMedia = false;
  tavlaunch::Launcher launcher;
  std::string error;
  std::vector<std::string> notes;
  ASSERT_TRUE(startOnFreePorts(launcher, options, &error, &notes)) << error;
  httplib::Client client("127.0.0.1", options.portBase);
  client.set_read_timeout(30, 0);
  const auto call = [&](const std::string& path, const std::string& body,
                        const std::string& ticket) {
    auto res =
        client.Post(path, {{"X-Tav-Ticket", ticket}}, body, "application/x-www-form-urlencoded");
    return res ? json::parse(tavsrv::unnest(res->body), nullptr, false) : json();
  };
  // The first answer of the conversion server to a submit of `user` with its credential.
  const auto submit_as = [&](const char* account, uint32_t user) {
    const json login =
        call("/aas/service/user/login", std::string("userName=") + account + "&userPwd=123456", "");
    const json entry =
        call("/rms/service/room/userJoinRoom", "roomId=1001&globalId=" + std::to_string(user),
             login["body"]["ticketId"].get<std::string>());
    EXPECT_EQ(entry["document_server"], "127.0.0.1:" + std::to_string(options.portBase + 3));
    const std::string credential = entry["room_credential"];
    falco::wire::Submit submit;
    submit.user_id = user;
    submit.room_id = 1001;
    submit.size = 10;
    submit.credential = credential;
    submit.name = "lesson.pdf";
    const std::string frame = falco::wire::encode_submit(submit);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(options.portBase + 3));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string got;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(frame.size())) {
      pollfd p{fd, POLLIN, 0};
      char chunk[256];
      while (got.size() < falco::wire::kHeaderSize && ::poll(&p, 1, 60000) > 0) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
          break;
        got.append(chunk, static_cast<size_t>(n));
      }
    }
    ::close(fd);
    std::vector<falco::wire::Frame> frames;
    falco::wire::decode_frames(got, falco::wire::kMaxServerFrame, frames);
    return frames.empty() ? -1 : static_cast<int>(frames[0].type);
  };
  EXPECT_EQ(submit_as("teacher", 10001), static_cast<int>(falco::wire::FrameType::accepted));
  EXPECT_EQ(submit_as("student1", 10003), static_cast<int>(falco::wire::FrameType::error));
  launcher.stop();
  fs::remove_all(dir);
}

// Credentials outlive a restart: the key stays in the data folder, owner-only, and
// changes only when asked to; a key anyone could read is refused, not replaced.
TEST(LauncherTest, TheInternalKeyIsKeptAcrossStartsAndReplacedOnlyOnPurpose) {
  const fs::path dir = tempDir();
  std::string error, note;
  const auto first = tavlaunch::loadInternalKey(dir.string(), false, &error, &note);
  ASSERT_TRUE(first) << error;
  EXPECT_EQ(first->size(), 64u);
  EXPECT_EQ(fs::status(dir / "internal.key").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  note.clear();
  EXPECT_EQ(tavlaunch::loadInternalKey(dir.string(), false, &error, &note), first);
  EXPECT_TRUE(note.empty());

  const auto rotated = tavlaunch::loadInternalKey(dir.string(), true, &error, &note);
  ASSERT_TRUE(rotated) << error;
  EXPECT_NE(rotated, first);
  EXPECT_NE(note.find("rotated"), std::string::npos);

  fs::permissions(dir / "internal.key", fs::perms::group_read, fs::perm_options::add);
  EXPECT_FALSE(tavlaunch::loadInternalKey(dir.string(), false, &error, &note));
  EXPECT_NE(error.find("readable by others"), std::string::npos);
  fs::permissions(dir / "internal.key", fs::perms::group_read, fs::perm_options::remove);
  std::ofstream(dir / "internal.key", std::ios::trunc) << "short\n";
  EXPECT_FALSE(tavlaunch::loadInternalKey(dir.string(), false, &error, &note));
  EXPECT_EQ(std::ifstream(dir / "internal.key").peek(), 's');  // left for its owner to look at

  fs::remove_all(dir);
}

namespace {
// tav-server as a child under a descriptor limit, roles service and msg on ports from a free
// base (tried again on another when one was taken); ends it with SIGTERM.
class LimitedServer {
public:
  LimitedServer(const fs::path& dir, rlim_t descriptors) {
    const char* binDir = std::getenv("TAV_BIN_DIR");
    if (!binDir)
      return;
    const std::string program = std::string(binDir) + "/tav-server";
    for (int attempt = 0; attempt < 20 && !running; ++attempt) {
      base = freePort();
      const std::string ports = std::to_string(base);
      int out[2];
      if (::pipe(out) != 0)
        return;
      pid_ = ::fork();
      if (pid_ == 0) {
        const rlimit limit{descriptors, descriptors};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(program.c_str(), "tav-server", "--data", dir.c_str(), "--roles", "service,msg",
                "--port-base", ports.c_str(), "--no-demo-videos", nullptr);
        ::_exit(127);
      }
      ::close(out[1]);
      std::string said;
      char chunk[4096];
      pollfd p{out[0], POLLIN, 0};
      while (!running && ::poll(&p, 1, 120000) > 0) {
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0)
          break;
        said.append(chunk, static_cast<size_t>(n));
        running = said.find("tav-server: running") != std::string::npos;
      }
      ::close(out[0]);
      if (!running)
        end();
    }
  }
  ~LimitedServer() { end(); }
  void end() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  bool running = false;
  int base = 0;

private:
  pid_t pid_ = -1;
};

int connectFrom(const char* from, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &source.sin_addr);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0)
      ::close(fd);
    return -1;
  }
  return fd;
}
}  // namespace

// One process, one descriptor limit: each role that takes connections keeps to its share of
// tav-server's descriptors. Members filling the message server (credentials are cheap to come
// by: one per account and room) take its share only, the rest are turned away, and the service
// still has descriptors for its connections and answers.
TEST(LauncherTest, AFullMessageServerLeavesTheServiceItsDescriptors) {
  tavsrv::descriptorLimit();  // this process's own limit raised: the flood takes many
  const fs::path dir = tempDir();
  const rlim_t descriptors = 512;
  LimitedServer server(dir, descriptors);
  ASSERT_TRUE(server.running);
  std::ifstream keyFile(dir / "internal.key");
  std::string key;
  keyFile >> key;
  const int64_t expiry = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count() +
                         3600000;

  // The service holds some connections (waiting for their requests) ...
  std::vector<int> idle;
  for (int i = 0; i < 50; ++i) {
    idle.push_back(connectFrom("127.0.0.100", server.base));
    ASSERT_GE(idle.back(), 0);
  }
  // ... while 600 members say hello on the one-login channel, 30 from each of 20 addresses.
  std::vector<int> members;
  for (uint32_t user = 20001; user <= 20600; ++user) {
    const std::string from = "127.0.0." + std::to_string(1 + (user - 20001) / 30);
    const int fd = connectFrom(from.c_str(), server.base + 1);
    ASSERT_GE(fd, 0) << from;
    members.push_back(fd);
    const std::string credential =
        tavsrv::signCredential(key, {user, tavsrv::kLoginChannel, 2, expiry});
    std::string hello;
    put(hello, 1, 1);  // hello: version, user, channel, credential
    put(hello, 1, 2);
    put(hello, user, 4);
    put(hello, tavsrv::kLoginChannel, 4);
    put(hello, credential.size(), 2);
    hello += credential;
    std::string frame;
    put(frame, hello.size(), 4);
    frame += hello;
    ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(frame.size()));
  }
  // Each is answered: the welcome, or closed for want of a place.
  size_t welcomed = 0, turnedAway = 0;
  std::vector<pollfd> waiting;
  for (int fd : members)
    waiting.push_back(pollfd{fd, POLLIN, 0});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (welcomed + turnedAway < members.size() && std::chrono::steady_clock::now() < deadline) {
    if (::poll(waiting.data(), waiting.size(), 1000) <= 0)
      continue;
    for (pollfd& p : waiting) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      char chunk[64];
      const ssize_t n = ::recv(p.fd, chunk, sizeof chunk, 0);
      if (n >= 5 && chunk[4] == 2)
        ++welcomed;
      else
        ++turnedAway;
      p.fd = -1;
    }
  }
  EXPECT_EQ(welcomed + turnedAway, members.size()) << "connections never answered";
  EXPECT_EQ(welcomed, tavsrv::shareDescriptors(descriptors).msg);

  httplib::Client client("127.0.0.1", server.base);
  client.set_read_timeout(60, 0);
  const auto res = client.Post("/aas/service/user/login", "userName=student1&userPwd=123456",
                               "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(json::parse(tavsrv::unnest(res->body), nullptr, false).value("code", -1), 0)
      << res->body;

  for (int fd : members)
    ::close(fd);
  for (int fd : idle)
    ::close(fd);
  server.end();
  fs::remove_all(dir);
}
