// Rows of the store the handlers keep reading, and the JSON they become.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Call.h"

namespace tavsvc {

struct UserRow {
  uint32_t id = 0;
  std::string userName, nickName, phone, roleName, imagePath;
  int level = 1;
  int64_t balanceCents = 0;
  std::optional<uint32_t> orgId;
  std::optional<uint32_t> linkedUserId;

  // The name shown for the user: the nickname, or the phone when it is empty.
  std::string displayName() const { return nickName.empty() ? phone : nickName; }
};

struct RoomRow {
  uint32_t id = 0;
  uint32_t ownerId = 0;
  std::string name, synopsis, tag;
  int usableNumbers = 0;
  int status = 1;
  int openStyle = 1;
  std::string authCode, planStart, planEnd, posterPath;
};

std::optional<UserRow> loadUser(tavsrv::Connection& db, uint32_t id);
UserRow requireUser(tavsrv::Connection& db, uint32_t id);  // Refusal 404 "用户不存在！"
std::optional<RoomRow> loadRoom(tavsrv::Connection& db, uint32_t id);
// A room's card fields as a statement's row holds them (valid while the row is).
struct RoomCard {
  uint32_t id = 0;
  uint32_t ownerId = 0;
  int usableNumbers = 0, status = 1, openStyle = 1;
  std::string_view name, synopsis, tag, authCode, planStart, planEnd, posterPath;
};
RoomCard cardOf(const RoomRow& room);
RoomRow rowOf(const RoomCard& card);
// Every room owned by ownerId, by id, each with whether somebody teaches in it:
// a teaching heartbeat (presence) at or after teachingSinceMs. Read in one
// statement without copying its texts: the lobby asks for this on every visit.
void forEachOwnedRoom(tavsrv::Connection& db, uint32_t ownerId, int64_t teachingSinceMs,
                      const std::function<void(const RoomCard& card, bool inClass)>& visit);
RoomRow requireRoom(tavsrv::Connection& db, uint32_t id);  // Refusal 404 "教室不存在！"

// The owner, an assistant, or a member who entered it.
bool belongsToRoom(tavsrv::Connection& db, uint32_t roomId, uint32_t userId);
bool isAssistant(tavsrv::Connection& db, uint32_t roomId, uint32_t userId);
// The member's role in the room: 1 for the owner, the stored role for members,
// 0 for someone who never entered.
int storedRole(tavsrv::Connection& db, const RoomRow& room, uint32_t userId);
// The role a user has on entering: the stored one, the inspector's for users
// with that site role, otherwise auditor.
int entryRole(tavsrv::Connection& db, const RoomRow& room, const UserRow& user);
bool isMuted(tavsrv::Connection& db, uint32_t roomId, uint32_t userId);
// Milliseconds of entry ban left after a removal (0 when none).
int64_t banLeftMs(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs);
// What a removed member is told while its ban lasts ("...请N分钟后再进入！").
std::string banMessage(int64_t leftMs);
// The user's place in the room, in one look at the store.
struct Standing {
  bool roomExists = false;
  bool belongs = false;  // owner, assistant or member
  int64_t banLeftMs = 0;
};
Standing standingIn(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs);
// "138****5678": enough to tell numbers apart, not enough to log in with.
std::string maskedPhone(const std::string& phone);

// A room card of the lobby lists.
json roomJson(const RoomRow& room, bool withSecrets);
// The room list's card as JSON text, with "inClass": the text dumpJson writes for
// roomJson(room, withSecrets) plus inClass. False (and out untouched) when a text
// of the room is not valid UTF-8: then the tree must be used.
bool appendRoomCardText(std::string& out, const RoomCard& room, bool withSecrets, bool inClass);
inline bool appendRoomCardText(std::string& out, const RoomRow& room, bool withSecrets,
                               bool inClass) {
  return appendRoomCardText(out, cardOf(room), withSecrets, inClass);
}
// A member as the classroom's member list reads it.
json memberJson(tavsrv::Connection& db, const RoomRow& room, const UserRow& user);
// The JSON text of an array with the member object of everyone present in the
// room (seen since seenSinceMs) embedded as a string, in order of entry: what
// dumpJson writes for the array of embedObject(memberJson(...)).
std::string presentMembersText(tavsrv::Connection& db, const RoomRow& room, int64_t seenSinceMs);

// Display texts that go out in answers some clients un-nest: no quote,
// backslash, brace or control character, 1..maxChars characters.
bool isSafeDisplayText(const std::string& text, size_t maxChars);

}  // namespace tavsvc
