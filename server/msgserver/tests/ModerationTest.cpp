// Moderation against the real service: a removed member is cut off its room channel at once
// and kept out while the ban lasts; a muted member's chat reaches nobody until restored.
#include <gtest/gtest.h>

#include <memory>

#include "FakeService.h"
#include "RawClient.h"
#include "ServiceHarness.h"
#include "eventually.h"
#include "msgserver/Server.h"
#include "tavsrv/Removals.h"

namespace {

using msgtest::RawClient;
using tavtest::json;
using tavtest::Login;
using tavtest::ServiceHarness;
using testsupport::eventually;
namespace wire = corda::wire;

constexpr std::uint32_t kRoom = 1001, kOtherRoom = 1002;
constexpr std::uint32_t kTeacher = 10001, kStudent1 = 10003, kStudent2 = 10004;

// The service signs with the tests' secret, so the clients' credentials are signed here.
std::unique_ptr<ServiceHarness> start_service() {
  return std::make_unique<ServiceHarness>(
      true, [](tavsvc::ServiceConfig& c) { c.internalToken = testsupport::kTestSecret; });
}

// Chat goes to chat_url when given (a stand-in in front of the service), removals are asked of
// the service itself. Returns once the server holds the service's first list, so what is
// received from then on is judged against a version of it.
std::unique_ptr<msgserver::Server> start_server(const ServiceHarness& service,
                                                const std::string& chat_url = std::string()) {
  msgserver::Config config;
  config.listen_port = 0;
  config.internal_token = testsupport::kTestSecret;
  config.moderation_url = "http://127.0.0.1:" + std::to_string(service.port());
  config.service_url = chat_url.empty() ? config.moderation_url : chat_url;
  auto server = std::make_unique<msgserver::Server>(config);
  EXPECT_NE(server->start(), 0) << server->error();
  EXPECT_TRUE(eventually([&] { return server->stats().removal_lists >= 1; }));
  return server;
}

void black(ServiceHarness& service, const Login& who, const char* action, std::uint32_t user,
           int type, std::uint32_t room = kRoom) {
  const json answer = service.post(std::string("rms/service/room/") + action,
                                   tavtest::form({{"globalId", std::to_string(user)},
                                                  {"roomId", std::to_string(room)},
                                                  {"type", std::to_string(type)},
                                                  {"optionUser", "10001"}}),
                                   who.ticket);
  ASSERT_EQ(answer["code"], 0) << action << ": " << answer.dump();
}

// The close frame's code and reason, or nullopt when the next frame is something else.
std::optional<std::pair<std::uint16_t, std::string>> close_of(
    std::optional<msgtest::OwnedFrame> f) {
  if (!f || f->type != wire::FrameType::close || f->payload.size() < 2)
    return std::nullopt;
  const auto code = static_cast<std::uint16_t>((static_cast<unsigned char>(f->payload[0]) << 8) |
                                               static_cast<unsigned char>(f->payload[1]));
  return std::make_pair(code, f->payload.substr(2));
}

// A hello with a valid credential, answered with the removal's refusal.
bool hello_refused_as_removed(std::uint16_t port, std::uint32_t user, std::uint32_t room) {
  RawClient client(port);
  const auto closed =
      close_of(client.hello_with(user, room, testsupport::testCredential(user, room, 2)));
  return closed &&
         closed->first == static_cast<std::uint16_t>(wire::CloseCode::credential_refused) &&
         closed->second == "removed from the room";
}

std::string next_text(RawClient& client) {
  std::string storage;
  const auto d = client.next_deliver(storage);
  return d ? std::string(d->text) : std::string();
}

TEST(MsgModeration, RemovedMemberIsCutOffItsRoomAndKeptOutUntilTheBanEnds) {
  auto service = start_service();
  auto server = start_server(*service);
  const Login teacher = service->login("teacher");

  auto removed = std::make_unique<RawClient>(server->port());
  ASSERT_TRUE(removed->hello(kStudent2, kRoom));
  RawClient elsewhere(server->port());  // the same member in another room
  ASSERT_TRUE(elsewhere.hello(kStudent2, kOtherRoom));
  RawClient stays(server->port());
  ASSERT_TRUE(stays.hello(kStudent1, kRoom));

  black(*service, teacher, "addRoomBlack", kStudent2, 2);
  const auto closed = close_of(removed->next());
  ASSERT_TRUE(closed) << "the removed member's connection got no close frame";
  EXPECT_EQ(closed->first, static_cast<std::uint16_t>(wire::CloseCode::credential_refused));
  EXPECT_EQ(closed->second, "removed from the room");
  EXPECT_TRUE(removed->wait_closed());
  EXPECT_EQ(server->stats().removals_cut, 1u);

  // Its still valid credential does not bring it back; the others go on.
  EXPECT_TRUE(hello_refused_as_removed(server->port(), kStudent2, kRoom));
  const std::string hello = R"({"typeId":"31","sendUserId":10003})";
  ASSERT_TRUE(stays.send("*", hello));
  EXPECT_EQ(next_text(stays), hello);
  const std::string there = R"({"typeId":"31","sendUserId":10004})";
  ASSERT_TRUE(elsewhere.send("*", there));
  EXPECT_EQ(next_text(elsewhere), there);

  // Lifted early: back in as soon as the list says so.
  black(*service, teacher, "removeRoomBlack", kStudent2, 2);
  EXPECT_TRUE(eventually([&] { return RawClient(server->port()).hello(kStudent2, kRoom); }));

  // Removed again, then the ban runs out: the service's list, asked again after any change,
  // carries the little time left, and the message server lets the member in after it.
  black(*service, teacher, "addRoomBlack", kStudent2, 2);
  EXPECT_TRUE(
      eventually([&] { return hello_refused_as_removed(server->port(), kStudent2, kRoom); }));
  service->clock().advance(15 * 60 * 1000 - 200);
  black(*service, teacher, "addRoomBlack", 10005, 2);  // any change makes the list go out again
  EXPECT_TRUE(eventually([&] { return RawClient(server->port()).hello(kStudent2, kRoom); }));
}

// A ban outlives the message server: a new one takes the list from the service at start.
TEST(MsgModeration, ARestartedServerKeepsRemovedMembersOut) {
  auto service = start_service();
  const Login teacher = service->login("teacher");
  black(*service, teacher, "addRoomBlack", kStudent2, 2);
  auto server = start_server(*service);
  EXPECT_TRUE(
      eventually([&] { return hello_refused_as_removed(server->port(), kStudent2, kRoom); }));
  EXPECT_TRUE(RawClient(server->port()).hello(kStudent1, kRoom));
}

// The raw frames a client could send: a muted member's chat is neither stored nor delivered
// to anyone (its echo included), its other messages are; restored, its chat goes through.
TEST(MsgModeration, MutedMembersChatReachesNobodyUntilRestored) {
  auto service = start_service();
  auto server = start_server(*service);
  const Login teacher = service->login("teacher");
  RawClient muted(server->port());
  ASSERT_TRUE(muted.hello(kStudent2, kRoom));
  RawClient listener(server->port());
  ASSERT_TRUE(listener.hello(kStudent1, kRoom));
  RawClient owner(server->port());
  ASSERT_TRUE(owner.hello(kTeacher, kRoom, 1));

  black(*service, teacher, "addRoomBlack", kStudent2, 1);
  const std::string chat = R"({"typeId":"0","sendUserId":10004,"content":"muted text"})";
  const std::string marker = R"({"typeId":"31","sendUserId":10004})";
  ASSERT_TRUE(muted.send("*", chat));
  // Sends of a channel keep their order behind a chat waiting for the service: once the marker
  // arrives, the verdict on the chat has been applied.
  ASSERT_TRUE(muted.send("*", marker));
  EXPECT_EQ(next_text(listener), marker);
  EXPECT_EQ(next_text(owner), marker);
  EXPECT_EQ(next_text(muted), marker);
  EXPECT_EQ(server->stats().chat_refused, 1u);

  const auto lists = server->stats().removal_lists;
  black(*service, teacher, "removeRoomBlack", kStudent2, 1);
  // Chat the server receives before it has heard of the restore is still judged muted.
  ASSERT_TRUE(eventually([&] { return server->stats().removal_lists > lists; }));
  const std::string allowed = R"({"typeId":"0","sendUserId":10004,"content":"allowed again"})";
  ASSERT_TRUE(muted.send("*", allowed));
  // Relayed as the service stored it.
  for (RawClient* hearer : {&listener, &owner})
    EXPECT_EQ(json::parse(next_text(*hearer), nullptr, false).value("content", ""),
              "allowed again");
  EXPECT_EQ(server->stats().chat_forwarded, 1u);
}

// A chat is judged by its sender's standing when the server received it: restored while the
// chat waits for its check, a muted member's chat still reaches nobody. The stand-in in front of
// the service holds the check until the restore is done.
TEST(MsgModeration, ChatReceivedWhileMutedStaysRefusedWhenRestoredBeforeItsCheck) {
  auto service = start_service();
  msgtest::FakeService stand_in;
  stand_in.forward_to("http://127.0.0.1:" + std::to_string(service->port()));
  auto server = start_server(*service, stand_in.url());
  const Login teacher = service->login("teacher");
  RawClient muted(server->port());
  ASSERT_TRUE(muted.hello(kStudent2, kRoom));
  RawClient listener(server->port());
  ASSERT_TRUE(listener.hello(kStudent1, kRoom));

  black(*service, teacher, "addRoomBlack", kStudent2, 1);
  stand_in.hold();
  ASSERT_TRUE(muted.send("*", R"({"typeId":"0","sendUserId":10004,"content":"while muted"})"));
  const std::string marker = R"({"typeId":"31","sendUserId":10004})";
  ASSERT_TRUE(muted.send("*", marker));
  ASSERT_TRUE(stand_in.wait_entered(1));  // received, and its check on the way
  black(*service, teacher, "removeRoomBlack", kStudent2, 1);
  stand_in.release();
  EXPECT_EQ(next_text(listener), marker);
  EXPECT_EQ(server->stats().chat_refused, 1u);
  EXPECT_EQ(server->stats().chat_forwarded, 0u);
}

// Deadlines on the holder's own clock: a ban ends by the time left, and every list replaces
// the whole previous one (what it no longer names is lifted).
TEST(MsgModeration, RemovalListEndsBansByTheTimeLeft) {
  tavsrv::RemovalList list;
  list.replace({{kRoom, kStudent2, 1000}, {kRoom, kStudent1, 0}, {kOtherRoom, kStudent1, 5000}},
               100);
  EXPECT_TRUE(list.removed(kRoom, kStudent2, 100));
  EXPECT_TRUE(list.removed(kRoom, kStudent2, 1099));
  EXPECT_FALSE(list.removed(kRoom, kStudent2, 1100));
  EXPECT_FALSE(list.removed(kRoom, kStudent1, 100));  // nothing left: not a ban
  EXPECT_FALSE(list.removed(kOtherRoom, kStudent2, 100));
  list.replace({{kRoom, kStudent2, 1000}}, 2000);
  EXPECT_TRUE(list.removed(kRoom, kStudent2, 2999));
  EXPECT_FALSE(list.removed(kOtherRoom, kStudent1, 2000));
  EXPECT_EQ(list.size(), 1u);
}

}  // namespace
