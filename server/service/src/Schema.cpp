#include "Schema.h"

#include <string>

#include "tavsrv/Random.h"

namespace tavsvc {

namespace {
const char* kSchema = R"SQL(
CREATE TABLE orgs(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL);

CREATE TABLE users(
  id INTEGER PRIMARY KEY,                       -- globalId
  user_name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  nick_name TEXT NOT NULL DEFAULT '',
  phone TEXT NOT NULL DEFAULT '',
  pwd_hash TEXT NOT NULL,                       -- Argon2id string (crypto_pwhash_str)
  role_name TEXT NOT NULL DEFAULT '学生',        -- site role title; '巡管' is the inspector
  image_path TEXT NOT NULL DEFAULT '',          -- avatar below uds/upload/
  level INTEGER NOT NULL DEFAULT 1,
  balance_cents INTEGER NOT NULL DEFAULT 0 CHECK(balance_cents >= 0),
  org_id INTEGER REFERENCES orgs(id),
  linked_user_id INTEGER REFERENCES users(id),  -- a parent's child account
  created_ms INTEGER NOT NULL);
CREATE INDEX users_phone ON users(phone);

CREATE TABLE tickets(
  ticket TEXT PRIMARY KEY,                      -- 128 random bits, hexadecimal
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  remote_addr TEXT NOT NULL,
  created_ms INTEGER NOT NULL,
  expires_ms INTEGER NOT NULL,
  seq INTEGER NOT NULL DEFAULT 0);              -- the user's logins counted: newest last
CREATE INDEX tickets_addr ON tickets(remote_addr, expires_ms);
CREATE INDEX tickets_user ON tickets(user_id);

CREATE TABLE web_keys(                          -- putRedis: short-lived keys for the web pages
  key TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  room_id INTEGER,
  type_name TEXT NOT NULL DEFAULT '',
  discount TEXT NOT NULL DEFAULT '',
  expires_ms INTEGER NOT NULL);

CREATE TABLE rooms(
  id INTEGER PRIMARY KEY,
  owner_id INTEGER NOT NULL REFERENCES users(id),
  room_name TEXT NOT NULL,
  synopsis TEXT NOT NULL DEFAULT '',
  tag TEXT NOT NULL DEFAULT '',
  usable_numbers INTEGER NOT NULL DEFAULT 6,
  status INTEGER NOT NULL DEFAULT 1 CHECK(status IN (1, 2, 3, 4)),
  open_style INTEGER NOT NULL DEFAULT 1 CHECK(open_style IN (1, 2)),
  auth_code TEXT NOT NULL DEFAULT '',
  plan_start TEXT NOT NULL DEFAULT '',          -- "yyyy.MM.dd hh:mm"
  plan_end TEXT NOT NULL DEFAULT '',
  poster_path TEXT NOT NULL DEFAULT '',         -- below uds/upload, starting with '/'
  created_ms INTEGER NOT NULL);
CREATE INDEX rooms_owner ON rooms(owner_id);

CREATE TABLE room_members(
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  role INTEGER NOT NULL CHECK(role BETWEEN 1 AND 5),
  joined_ms INTEGER NOT NULL,
  PRIMARY KEY(room_id, user_id));
CREATE INDEX room_members_user ON room_members(user_id);

CREATE TABLE room_assistants(
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created_by INTEGER NOT NULL,
  created_ms INTEGER NOT NULL,
  PRIMARY KEY(room_id, user_id));

CREATE TABLE room_blacklist(
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  type INTEGER NOT NULL CHECK(type IN (1, 2)),
  operator_id INTEGER NOT NULL,
  created_ms INTEGER NOT NULL,
  until_ms INTEGER,                             -- NULL: until lifted
  PRIMARY KEY(room_id, user_id, type));

CREATE TABLE room_sessions(                     -- openRoom: each class start
  id INTEGER PRIMARY KEY,
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  opened_by INTEGER NOT NULL,
  opened_ms INTEGER NOT NULL);

CREATE TABLE appointments(                      -- bookings of a class
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created_ms INTEGER NOT NULL,
  PRIMARY KEY(room_id, user_id));

CREATE TABLE gifts(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  img_path TEXT NOT NULL,
  price_cents INTEGER NOT NULL CHECK(price_cents > 0),
  sort INTEGER NOT NULL DEFAULT 0);

CREATE TABLE medals(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  img_path TEXT NOT NULL DEFAULT '');

CREATE TABLE user_medals(
  id INTEGER PRIMARY KEY,
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  medal_id INTEGER NOT NULL REFERENCES medals(id),
  awarded_by INTEGER NOT NULL,
  created_ms INTEGER NOT NULL);
CREATE INDEX user_medals_room ON user_medals(room_id, user_id);

CREATE TABLE consumptions(                      -- gifts bought and given
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  target_user_id INTEGER NOT NULL REFERENCES users(id),
  gift_id INTEGER NOT NULL REFERENCES gifts(id),
  count INTEGER NOT NULL CHECK(count > 0),
  amount_cents INTEGER NOT NULL,
  created_ms INTEGER NOT NULL);

CREATE TABLE recharges(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  amount_cents INTEGER NOT NULL CHECK(amount_cents > 0),
  source TEXT NOT NULL,
  created_ms INTEGER NOT NULL);

CREATE TABLE follows(                           -- roomAssociated
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  created_ms INTEGER NOT NULL,
  PRIMARY KEY(user_id, room_id));

CREATE TABLE announcements(
  id INTEGER PRIMARY KEY,
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  title TEXT NOT NULL,
  content TEXT NOT NULL,
  author_id INTEGER NOT NULL,
  created_ms INTEGER NOT NULL);
CREATE INDEX announcements_room ON announcements(room_id, id);

CREATE TABLE bulletins(
  id INTEGER PRIMARY KEY,
  title TEXT NOT NULL,
  content TEXT NOT NULL DEFAULT '',
  created_ms INTEGER NOT NULL);

CREATE TABLE notifications(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  title TEXT NOT NULL,
  content TEXT NOT NULL DEFAULT '',
  is_read INTEGER NOT NULL DEFAULT 0,
  created_ms INTEGER NOT NULL);
CREATE INDEX notifications_user ON notifications(user_id, id);

CREATE TABLE shared_docs(                       -- roomSharing: converted lesson plans
  id INTEGER PRIMARY KEY,
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  sharing_name TEXT NOT NULL,
  file_name TEXT NOT NULL,
  page_count INTEGER NOT NULL CHECK(page_count >= 0),
  sort_order INTEGER NOT NULL,                  -- larger first
  created_by INTEGER NOT NULL,
  created_ms INTEGER NOT NULL);
CREATE INDEX shared_docs_room ON shared_docs(room_id, sort_order);

CREATE TABLE coursewares(
  id INTEGER PRIMARY KEY,
  room_id INTEGER NOT NULL REFERENCES rooms(id) ON DELETE CASCADE,
  owner_id INTEGER NOT NULL REFERENCES users(id),
  name TEXT NOT NULL,
  description TEXT NOT NULL DEFAULT '',
  price INTEGER NOT NULL DEFAULT 0 CHECK(price >= 0),   -- whole star beans
  grade TEXT NOT NULL DEFAULT '',
  video_path TEXT NOT NULL DEFAULT '',          -- below uds/upload/
  play_info TEXT NOT NULL DEFAULT '',           -- renditions on the video server, a JSON array
  play_count INTEGER NOT NULL DEFAULT 0,
  created_ms INTEGER NOT NULL);
CREATE INDEX coursewares_room ON coursewares(room_id, id);

CREATE TABLE courseware_orders(
  id INTEGER PRIMARY KEY,
  courseware_id INTEGER NOT NULL REFERENCES coursewares(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id),
  amount_cents INTEGER NOT NULL,
  pay_way INTEGER NOT NULL,
  created_ms INTEGER NOT NULL,
  UNIQUE(courseware_id, user_id));

CREATE TABLE chat_records(
  id INTEGER PRIMARY KEY,
  room_id INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  type_id INTEGER NOT NULL,
  message TEXT NOT NULL,                        -- the room message as sent (a JSON object)
  day TEXT NOT NULL,                            -- "yyyy-MM-dd" of arrival, for the day filter
  created_ms INTEGER NOT NULL);
CREATE INDEX chat_records_room ON chat_records(room_id, id);
CREATE INDEX chat_records_filter ON chat_records(room_id, day, user_id, id);

CREATE TABLE scores(                            -- teacher evaluations
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL,
  user_role INTEGER NOT NULL,
  teacher_id INTEGER NOT NULL,
  teacher_role INTEGER NOT NULL,
  room_id INTEGER NOT NULL,
  score INTEGER NOT NULL,
  content TEXT NOT NULL,
  created_ms INTEGER NOT NULL);

CREATE TABLE usage_reports(                     -- roomReport/addHistory
  id INTEGER PRIMARY KEY,
  type TEXT NOT NULL,
  room_id INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  count INTEGER NOT NULL DEFAULT 1,
  created_ms INTEGER NOT NULL);

CREATE TABLE software_versions(
  id INTEGER PRIMARY KEY,
  type TEXT NOT NULL,                           -- "pc"
  version TEXT NOT NULL,
  url TEXT NOT NULL,                            -- absolute, or a path below the service
  created_ms INTEGER NOT NULL,
  signature TEXT NOT NULL DEFAULT '');          -- the installer's Ed25519 signature, base64

CREATE TABLE settings(                          -- querySettings, by type
  type TEXT PRIMARY KEY,
  value TEXT NOT NULL);                         -- a JSON object
)SQL";

// What service nodes sharing the store must agree on beyond the rows above
// (schema 4): who is in which room, throttles and budgets, the removal list's
// version, upload space promised to uploads under way.
const char* kSharedState = R"SQL(
CREATE TABLE presence(                          -- entry and the 30 s heartbeats
  room_id INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  entered_ms INTEGER NOT NULL,
  last_seen_ms INTEGER NOT NULL,
  teaching_ms INTEGER NOT NULL DEFAULT -1,      -- the newest teaching heartbeat, -1: none
  PRIMARY KEY(room_id, user_id));

CREATE TABLE throttles(                         -- wrong passwords and private-room codes
  key TEXT PRIMARY KEY,                         -- kind|address|account
  failures INTEGER NOT NULL,
  first_ms INTEGER NOT NULL);

CREATE TABLE report_budgets(                    -- usage reports per user and hour
  user_id INTEGER NOT NULL PRIMARY KEY,
  start_ms INTEGER NOT NULL,
  used INTEGER NOT NULL);

CREATE TABLE removal_feed(                      -- the blacklist's version, one row
  id INTEGER NOT NULL PRIMARY KEY CHECK(id = 1),
  epoch TEXT NOT NULL,                          -- random, per store
  counter INTEGER NOT NULL);

CREATE TABLE blacklist_lifts(                   -- members taken off the blacklist, at which version
  room_id INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  type INTEGER NOT NULL,
  counter INTEGER NOT NULL,
  PRIMARY KEY(room_id, user_id, type));

CREATE TABLE upload_holds(                      -- space reserved by uploads under way
  id INTEGER PRIMARY KEY,
  room_id INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  bytes INTEGER NOT NULL,
  expires_ms INTEGER NOT NULL);                 -- a node that died leaves its holds to expire
CREATE INDEX upload_holds_room ON upload_holds(room_id, user_id);

CREATE TABLE store_keys(                        -- fingerprints of the nodes' settings
  name TEXT PRIMARY KEY,
  value TEXT NOT NULL);
)SQL";

// The MCU, conversion and video server each room was handed to (schema 5).
const char* kPlacements = R"SQL(
CREATE TABLE room_placements(
  room_id INTEGER NOT NULL,
  kind TEXT NOT NULL,                           -- "mcu", "convert", "video"
  node TEXT NOT NULL,                           -- host:port as configured
  placed_ms INTEGER NOT NULL,
  PRIMARY KEY(room_id, kind));
)SQL";

// The schema as PostgreSQL takes it: 64-bit integers (ids, milliseconds),
// ids from sequences, and case-insensitive names as citext (SQLite's NOCASE).
std::string forDialect(const std::string& sql, tavsrv::Dialect dialect) {
  if (dialect == tavsrv::Dialect::SQLite)
    return sql;
  const auto replaceAll = [](std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
    return text;
  };
  std::string text = replaceAll(sql, "INTEGER PRIMARY KEY", "BIGSERIAL PRIMARY KEY");
  text = replaceAll(text, "INTEGER", "BIGINT");
  return replaceAll(text, "TEXT NOT NULL UNIQUE COLLATE NOCASE", "CITEXT NOT NULL UNIQUE");
}

void addSharedState(tavsrv::Connection& db) {
  db.exec(forDialect(kSharedState, db.dialect()));
  db.run("INSERT INTO removal_feed(id, epoch, counter) VALUES(1, ?1, 0)", tavsrv::randomHex(8));
}

void upgrade(tavsrv::Connection& db, int64_t version) {
  const auto exec = [&](const char* sql) { db.exec(forDialect(sql, db.dialect())); };
  if (version < 2)
    exec("ALTER TABLE software_versions ADD COLUMN signature TEXT NOT NULL DEFAULT ''");
  if (version < 3) {
    exec("ALTER TABLE tickets ADD COLUMN seq INTEGER NOT NULL DEFAULT 0");
    if (db.dialect() == tavsrv::Dialect::SQLite)
      exec("UPDATE tickets SET seq = rowid");
  }
  if (version < 4)
    addSharedState(db);
  if (version < 5)
    exec(kPlacements);
  if (version < 6)
    exec("ALTER TABLE coursewares ADD COLUMN play_info TEXT NOT NULL DEFAULT ''");
}
}  // namespace

void ensureSchema(tavsrv::Connection& db) {
  if (db.schemaVersion() == kSchemaVersion)
    return;
  // Under the write lock: nodes starting together on an empty store make it once.
  tavsrv::Transaction tx(db);
  const int64_t version = db.schemaVersion();
  if (version == kSchemaVersion)
    return;
  if (version > kSchemaVersion)
    throw tavsrv::DbError(
        tavsrv::DbFailure::Other,
        "the store was written by a newer service (schema " + std::to_string(version) + ")");
  if (version == 0) {
    if (db.dialect() == tavsrv::Dialect::PostgreSQL)
      db.exec("CREATE EXTENSION IF NOT EXISTS citext");
    db.exec(forDialect(kSchema, db.dialect()));
    addSharedState(db);
    db.exec(forDialect(kPlacements, db.dialect()));
  } else {
    upgrade(db, version);
  }
  db.setSchemaVersion(kSchemaVersion);
  tx.commit();
}

const char* roomRoleText(int role) {
  switch (role) {
    case kRoleTeacher:
      return "老师";
    case kRoleStudent:
      return "学生";
    case kRoleParent:
      return "家长";
    case kRoleAuditor:
      return "旁听";
    case kRoleInspector:
      return "巡管";
  }
  return "其他";
}

}  // namespace tavsvc
