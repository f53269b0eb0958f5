// Two rooms entered through two service nodes (one store) land on two MCUs, as the
// rooms' hash says, and each carries its teacher's camera and microphone to its
// student: pavo-bot processes, the real service and the real MCUs.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "TestCredentials.h"
#include "bot_process.h"
#include "eventually.h"
#include "mcu/server.h"
#include "service/Placement.h"
#include "service/Service.h"
#include "tavsrv/Database.h"

namespace bot_test {
namespace {

namespace fs = std::filesystem;
using tavsrv::HostPort;

long frames_of(const std::string& line, const std::string& stream) {
  std::istringstream words(line);
  for (std::string word; words >> word;)
    if (word.rfind(stream + ":", 0) == 0)
      return std::atol(word.c_str() + stream.size() + 1);
  return 0;
}

// Whether the raw 16-bit samples the bot played so far hold any sound.
bool heard_something(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  int16_t sample = 0;
  while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
    if (sample > 1000 || sample < -1000)
      return true;
  return false;
}

TEST(BotCluster, TwoRoomsThroughTwoServiceNodesLandOnTwoMcusAndCarryTheirMedia) {
  std::vector<std::unique_ptr<mcu::Server>> mcus;
  std::vector<HostPort> addresses;
  for (int i = 0; i < 2; ++i) {
    mcu::Config media;
    media.listen_port = 0;
    media.media_port_base = 0;
    media.internal_token = testsupport::kTestSecret;
    mcus.push_back(std::make_unique<mcu::Server>(media));
    const uint16_t port = mcus.back()->start();
    ASSERT_NE(port, 0);
    addresses.push_back({"127.0.0.1", port});
  }
  std::string pattern = (fs::temp_directory_path() / "tavbotclusterXXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  tavsvc::ServiceConfig config;
  config.port = 0;
  config.dataDir = (dir / "data").string();
  config.mcus = addresses;
  config.demoVideos = false;
  config.passwordStrength = tavsvc::PasswordStrength::Minimum;
  config.internalToken = testsupport::kTestSecret;
  std::vector<std::unique_ptr<tavsvc::Service>> nodes;
  for (int i = 0; i < 2; ++i) {
    nodes.push_back(std::make_unique<tavsvc::Service>(config));
    std::string error;
    ASSERT_TRUE(nodes.back()->start(&error)) << error;
  }

  // A room of the teacher's with student1 in it for each MCU: a demo room, else one made.
  const auto db = tavsrv::openConnection(tavsvc::storeLocation(config));
  const auto room_on = [&](const HostPort& mcu) -> uint32_t {
    for (uint32_t room : {1001u, 1002u, 1006u})
      if (tavsvc::rendezvousNode(room, addresses) == mcu)
        return room;
    uint32_t room = 3000;
    while (!(tavsvc::rendezvousNode(room, addresses) == mcu))
      ++room;
    db->run("INSERT INTO rooms(id, owner_id, room_name, created_ms) VALUES(?1, 10001, 'x', 0)",
            room);
    db->run("INSERT INTO room_members(room_id, user_id, role, joined_ms) VALUES(?1, 10003, 2, 0)",
            room);
    return room;
  };

  struct Room {
    uint32_t id;
    std::unique_ptr<bot_process> teacher, student;
    fs::path heard;
  };
  std::vector<Room> rooms;
  for (int i = 0; i < 2; ++i) {
    Room room{room_on(addresses[i]), nullptr, nullptr, dir / ("heard-" + std::to_string(i))};
    const std::string service = "127.0.0.1:" + std::to_string(nodes[i]->port());
    const auto bot = [&](const char* login, std::vector<std::string> extra) {
      std::vector<std::string> args{
          "--room", std::to_string(room.id), "--login", login, "--password", "123456", "--service",
          service};
      args.insert(args.end(), extra.begin(), extra.end());
      return std::make_unique<bot_process>(args);
    };
    // What each student hears goes to a file of its own (SDL's disk driver).
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", room.heard.c_str(), 1);
    room.student = bot("student1", {"--auto-subscribe"});
    ASSERT_TRUE(room.student->expect("connected"));
    setenv("SDL_DISKAUDIOFILE", (room.heard.string() + ".teacher").c_str(), 1);
    room.teacher = bot("teacher", {"--open", "audio,video"});
    ASSERT_TRUE(room.teacher->expect("connected"));
    rooms.push_back(std::move(room));
  }
  unsetenv("SDL_DISKAUDIOFILE");

  for (int i = 0; i < 2; ++i) {
    Room& room = rooms[i];
    SCOPED_TRACE("room " + std::to_string(room.id));
    // The room is on its own MCU, with both members, and on no other.
    const auto members_on = [&](int which) {
      for (const mcu::RoomInfo& info : mcus[which]->rooms())
        if (info.room_id == room.id)
          return info.members.size();
      return size_t{0};
    };
    EXPECT_EQ(members_on(i), 2u);
    EXPECT_EQ(members_on(1 - i), 0u);
    // The teacher's camera reaches the student, decoded, and its microphone is heard.
    long decoded = 0;
    EXPECT_TRUE(testsupport::eventually([&] {
      room.student->send("frames");
      const auto line = room.student->expect("frames");
      decoded = line ? frames_of(*line, "10001:1") : 0;
      return decoded >= 10;
    })) << decoded
        << " pictures";
    EXPECT_TRUE(testsupport::eventually([&] { return heard_something(room.heard); }));
  }
  rooms.clear();
  nodes.clear();
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace bot_test
