// The store's tables. Money is kept in hundredths of a star bean (integers), so
// sums are exact; answers show it as a decimal number.
#pragma once

#include "tavsrv/Database.h"

namespace tavsvc {

// 2: software_versions.signature, 3: tickets.seq, 4: the state nodes share,
// 5: the rooms' MCUs, conversion and video servers, 6: coursewares.play_info
constexpr int kSchemaVersion = 6;

// Creates the tables of an empty store and brings a store of an older version
// up to this one; an existing store of this version is left as it is. Throws DbError on a store of
// an unknown, newer version. The same tables on SQLite and PostgreSQL.
void ensureSchema(tavsrv::Connection& db);

// Room roles of a member (the client's role codes, plus the site inspector).
enum RoomRole {
  kRoleTeacher = 1,
  kRoleStudent = 2,
  kRoleParent = 3,
  kRoleAuditor = 4,
  kRoleInspector = 5
};
const char* roomRoleText(int role);  // "老师", "学生", "家长", "旁听", "巡管"

// Room status: 1 normal, 2 closed, 3 not activated, 4 under review.
enum RoomStatus { kRoomNormal = 1, kRoomClosed = 2, kRoomNotActivated = 3, kRoomUnderReview = 4 };

// Blacklist kinds: 1 muted until restored, 2 removed from the room (and banned
// from entering again for 15 minutes).
enum BlackType { kBlackMute = 1, kBlackRemove = 2 };
constexpr int64_t kRemovalBanMs = 15 * 60 * 1000;

}  // namespace tavsvc
