// Against the real service: a removed member's session ends at once (70) and its logins with
// a still valid credential are refused while the ban lasts; lifted or run out, it comes back.
// The roles of the service's credentials: the room's assistant is on the teacher side.
#include <gtest/gtest.h>

#include <memory>

#include "ServiceHarness.h"
#include "eventually.h"
#include "mcu/server.h"
#include "raw_client.h"

namespace mcu_test {
namespace {

using tavtest::json;
using tavtest::Login;
using tavtest::ServiceHarness;
using testsupport::eventually;

constexpr uint32_t kRoom = 1001, kStudent1 = 10003, kStudent2 = 10004, kStudent3 = 10005;
constexpr uint32_t kLogin = 0, kLeave = 1, kKick = 70;

void black(ServiceHarness& service, const Login& who, const char* action, uint32_t user, int type) {
  const json answer = service.post(std::string("rms/service/room/") + action,
                                   tavtest::form({{"globalId", std::to_string(user)},
                                                  {"roomId", std::to_string(kRoom)},
                                                  {"type", std::to_string(type)},
                                                  {"optionUser", "10001"}}),
                                   who.ticket);
  ASSERT_EQ(answer["code"], 0) << action << ": " << answer.dump();
}

// A login of `user` with a valid credential: the type of the answer (0 let in, 70 refused).
uint32_t login_answer(uint16_t main, uint32_t user) {
  const uint16_t port = join_room(main, kRoom);
  if (!port)
    return 0xFFFFFFFFu;
  raw_client client(port);
  if (!client.connected() || client.send(kLogin, login_payload(3, user, kRoom)) != 0)
    return 0xFFFFFFFFu;
  const auto answer = client.expect_any({kLogin, kKick});
  if (answer && answer->type == kLogin)
    client.send(kLeave);
  return answer ? answer->type : 0xFFFFFFFFu;
}

bool present(const mcu::Server& server, uint32_t user) {
  for (const auto& room : server.rooms())
    for (const auto& member : room.members)
      if (room.room_id == kRoom && member.user_id == user)
        return true;
  return false;
}

TEST(McuModeration, RemovedMemberIsDisconnectedAndKeptOutUntilTheBanEnds) {
  ServiceHarness service(
      true, [](tavsvc::ServiceConfig& c) { c.internalToken = testsupport::kTestSecret; });
  mcu::Config config;
  config.listen_port = 0;
  config.media_port_base = 0;
  config.probe_interval_ms = 0;
  config.internal_token = testsupport::kTestSecret;
  config.service_url = "http://127.0.0.1:" + std::to_string(service.port());
  mcu::Server server(config);
  const uint16_t main = server.start();
  ASSERT_NE(main, 0) << server.error();
  const Login teacher = service.login("teacher");

  auto stays = member(main, kRoom, kStudent1);
  ASSERT_TRUE(stays);
  auto removed = member(main, kRoom, kStudent2);
  ASSERT_TRUE(removed);

  black(service, teacher, "addRoomBlack", kStudent2, 2);
  EXPECT_TRUE(removed->expect(kKick)) << "no 70 to the removed member";
  const auto left = stays->expect(kLeave);
  ASSERT_TRUE(left);
  EXPECT_EQ(word(left->payload, 0), kStudent2);
  EXPECT_FALSE(present(server, kStudent2));
  EXPECT_TRUE(present(server, kStudent1));
  EXPECT_EQ(server.stats().removals_cut, 1u);

  // Its credential is still valid, but the login is refused; the others are not touched.
  const uint64_t refused = server.stats().refused_logins;
  EXPECT_EQ(login_answer(main, kStudent2), kKick);
  EXPECT_EQ(server.stats().refused_logins, refused + 1);
  EXPECT_EQ(login_answer(main, kStudent3), kLogin);

  // Lifted early: back in as soon as the list says so.
  black(service, teacher, "removeRoomBlack", kStudent2, 2);
  EXPECT_TRUE(eventually([&] { return login_answer(main, kStudent2) == kLogin; }));

  // Removed again, then the ban runs out.
  black(service, teacher, "addRoomBlack", kStudent2, 2);
  EXPECT_TRUE(eventually([&] { return login_answer(main, kStudent2) == kKick; }));
  service.clock().advance(15 * 60 * 1000 - 200);
  black(service, teacher, "addRoomBlack", kStudent3, 2);  // any change sends the list again
  EXPECT_TRUE(eventually([&] { return login_answer(main, kStudent2) == kLogin; }));
}

// A member as the client makes it: the room entry's credential, shown to the join and the login.
std::unique_ptr<raw_client> entered(ServiceHarness& service, uint16_t main, const char* name) {
  const Login who = service.login(name);
  const json entry = service.post(
      "rms/service/room/userJoinRoom",
      tavtest::form({{"roomId", std::to_string(kRoom)}, {"globalId", std::to_string(who.id)}}),
      who.ticket);
  const std::string credential = entry.value("room_credential", "");
  const uint16_t port = join_room(main, kRoom, credential);
  if (!port)
    return nullptr;
  auto client = std::make_unique<raw_client>(port);
  if (client->send(kLogin, be32({3, who.id}) + credential_tail(credential)) != 0 ||
      !client->expect(kLogin))
    return nullptr;
  return client;
}

TEST(McuModeration, TheRoomsAssistantRunsTheClassAndAStudentDoesNot) {
  ServiceHarness service(
      true, [](tavsvc::ServiceConfig& c) { c.internalToken = testsupport::kTestSecret; });
  mcu::Config config;
  config.listen_port = 0;
  config.media_port_base = 0;
  config.probe_interval_ms = 0;
  config.internal_token = testsupport::kTestSecret;
  mcu::Server server(config);
  const uint16_t main = server.start();
  ASSERT_NE(main, 0) << server.error();
  auto assistant = entered(service, main, "assistant");
  auto student = entered(service, main, "student1");
  ASSERT_TRUE(assistant && student);
  student->send(32);
  student->send(36);
  auto state = student->expect(37);
  ASSERT_TRUE(state);
  EXPECT_EQ(state->payload, be32({0})) << "a student started the class";
  assistant->send(32);
  auto started = student->expect(32);
  ASSERT_TRUE(started);
  EXPECT_EQ(started->payload, be32({10002}));
}

}  // namespace
}  // namespace mcu_test
