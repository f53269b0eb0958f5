#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Launcher.h"
#include "RoleRegistry.h"
#include "tavsrv/Answer.h"

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
  EXPECT_EQ(notes.size(), tavlaunch::knownRoles().size() - built);
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
