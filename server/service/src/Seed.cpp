#include "Seed.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "Accounts.h"
#include "Bitmap.h"
#include "Schema.h"
#include "roomwire/room_message.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Clock.h"

namespace fs = std::filesystem;

namespace tavsvc {

namespace {
constexpr uint32_t kTeacher = 10001, kAssistant = 10002, kStudent1 = 10003, kStudent2 = 10004,
                   kStudent3 = 10005, kStudent4 = 10006, kParent = 10007, kAuditor = 10008,
                   kInspector = 10009;
constexpr int64_t kDayMs = 24LL * 3600 * 1000;

struct DemoRoom {
  uint32_t id;
  uint32_t owner;
  const char* name;
  const char* synopsis;
  const char* tag;
  int status;
  int openStyle;
  const char* authCode;
  int startDay, endDay;  // days from the seeding day
  const char* startTime;
  const char* endTime;
  Rgb top, bottom;
  std::vector<std::pair<uint32_t, int>> members;  // user, room role
};

// clang-format off
const std::vector<DemoRoom>& demoRooms() {
  static const std::vector<DemoRoom> rooms = {
      {1001, kTeacher, "初二数学提高班",
       "有理数、整式与方程的系统复习，每节课配套练习与讲评，适合希望提高数学成绩的初二同学。", "数学",
       kRoomNormal, 1, "", -30, 120, "19:00", "20:30", {58, 109, 252}, {120, 180, 255},
       {{kStudent1, kRoleStudent}, {kStudent2, kRoleStudent}, {kStudent3, kRoleStudent},
        {kStudent4, kRoleStudent}, {kParent, kRoleParent}, {kAuditor, kRoleAuditor},
        {kAssistant, kRoleStudent}}},
      {1002, kTeacher, "英语口语小班", "外教情景对话练习，每班不超过六人。", "英语",
       kRoomNormal, 1, "", -28, 90, "18:30", "19:30", {239, 99, 1}, {255, 190, 120},
       {{kStudent1, kRoleStudent}, {kStudent2, kRoleStudent}, {kAssistant, kRoleStudent}}},
      {1003, kTeacher, "物理实验探究（私密）", "需要授权码才能进入的实验课。", "物理",
       kRoomNormal, 2, "2468", -26, 80, "19:00", "20:00", {40, 160, 120}, {150, 230, 190},
       {{kStudent1, kRoleStudent}, {kStudent3, kRoleStudent}}},
      {1004, kTeacher, "化学入门", "尚未激活的教室。", "化学",
       kRoomNotActivated, 1, "", 10, 100, "19:00", "20:00", {150, 60, 200}, {210, 160, 240},
       {}},
      {1005, kTeacher, "语文阅读与写作", "正在审核中的教室。", "语文",
       kRoomUnderReview, 1, "", 17, 110, "19:00", "20:00", {200, 40, 60}, {250, 150, 160},
       {{kStudent1, kRoleStudent}}},
      {1006, kTeacher, "少儿编程启蒙", "用图形化积木学习编程思维。", "编程",
       kRoomNormal, 1, "", -25, 85, "10:00", "11:30", {0, 130, 170}, {120, 210, 230},
       {{kStudent1, kRoleStudent}, {kStudent4, kRoleStudent}}},
      {1007, kTeacher, "素描基础", "从线条与明暗开始的素描课。", "美术",
       kRoomNormal, 1, "", -24, 86, "14:00", "15:30", {110, 110, 110}, {210, 210, 210},
       {{kStudent2, kRoleStudent}}},
      {1008, kAssistant, "英语语法精讲", "助教老师开设的语法专题课。", "英语",
       kRoomNormal, 1, "", -21, 60, "19:00", "20:00", {230, 170, 0}, {255, 225, 120},
       {{kStudent1, kRoleStudent}}},
  };
  return rooms;
}
// clang-format on

struct DemoGift {
  const char* name;
  const char* file;
  int64_t priceCents;
  Rgb colour;
};
const std::vector<DemoGift> kGifts = {
    {"鲜花", "flower", 100, {235, 60, 110}},     {"掌声", "clap", 200, {255, 170, 0}},
    {"棒棒糖", "lollipop", 500, {250, 90, 200}}, {"奖杯", "trophy", 1000, {230, 180, 20}},
    {"火箭", "rocket", 5000, {60, 120, 240}},
};
const std::vector<std::pair<const char*, Rgb>> kMedals = {
    {"学习之星", {250, 190, 0}},
    {"进步之星", {60, 200, 120}},
    {"积极发言", {60, 140, 250}},
    {"团结互助", {240, 100, 60}},
};

void writePicture(const fs::path& path, const Bitmap& picture) {
  fs::create_directories(path.parent_path());
  if (!picture.save(path.string()))
    throw tavsrv::DbError(tavsrv::DbFailure::Other, "cannot write demo picture " + path.string());
}

Bitmap poster(const DemoRoom& room) {
  Bitmap b(320, 180, room.top);
  b.verticalGradient(room.top, room.bottom);
  b.fillStar(160, 90, 56, Rgb{255, 255, 255});
  return b;
}

Bitmap avatar(uint32_t seed) {
  const Rgb colours[] = {{58, 109, 252}, {239, 99, 1},  {40, 160, 120}, {150, 60, 200},
                         {200, 40, 60},  {0, 130, 170}, {230, 170, 0},  {110, 110, 110}};
  const Rgb c = colours[seed % 8];
  Bitmap b(64, 64, Rgb{235, 240, 250});
  b.fillCircle(32, 24, 13, c);
  b.fillCircle(32, 66, 28, c);
  return b;
}

// "yyyy.MM.dd hh:mm", days from now at the given time of day.
std::string planDate(int64_t nowMs, int days, const char* time) {
  return tavsrv::formatLocalTime(nowMs + days * kDayMs, "%Y.%m.%d ") + time;
}

void insertChat(tavsrv::Connection& db, uint32_t room, uint32_t user, const char* name, int role,
                const char* text, int64_t atMs) {
  using namespace roomwire;
  const tavsrv::json message{{kTypeId, std::to_string(kChatText)},
                             {kContent, text},
                             {kMsgSendTime, tavsrv::formatLocalTime(atMs)},
                             {kSendUserId, user},
                             {kSendUsername, name},
                             {kSendUserRole, std::to_string(role)},
                             {kSendUserImg, "avatar/user-" + std::to_string(user) + ".bmp"},
                             {kRoomId, std::to_string(room)}};
  db.run(
      "INSERT INTO chat_records(room_id, user_id, type_id, message, day, created_ms) "
      "VALUES(?1, ?2, 0, ?3, ?4, ?5)",
      room, user, tavsrv::dumpJson(message), tavsrv::formatLocalTime(atMs, "%Y-%m-%d"), atMs);
}
}  // namespace

const std::vector<DemoAccount>& demoAccounts() {
  static const std::vector<DemoAccount> accounts = {
      {kTeacher, "teacher", "王老师", "老师",
       "teacher: owns 7 rooms (one private, code 2468; one not activated; one under review)"},
      {kAssistant, "assistant", "李助教", "助教",
       "assistant: assistant in rooms 1001 and 1002, owns room 1008"},
      {kStudent1, "student1", "张小明", "学生", "student1: joined 6 rooms, 1000 star beans"},
      {kStudent2, "student2", "刘小红", "学生",
       "student2..student4: students, 1000 star beans each"},
      {kStudent3, "student3", "陈小华", "学生", ""},
      {kStudent4, "student4", "赵小刚", "学生", ""},
      {kParent, "parent", "张爸爸", "家长", "parent: student1's parent (linked account)"},
      {kAuditor, "auditor", "孙旁听", "旁听", "auditor: an auditor in room 1001 (cannot chat)"},
      {kInspector, "inspector", "周巡管", "巡管", "inspector: site inspector (enters any room)"},
  };
  return accounts;
}

std::vector<std::string> demoVideoPaths() {
  return {"courseware/1001/demo-1.mp4", "courseware/1001/demo-2.mp4", "courseware/1002/demo-1.mp4"};
}

bool storeIsEmpty(tavsrv::Connection& db) {
  return db.queryInt("SELECT COUNT(*) FROM users").value_or(0) == 0;
}

bool seedDemoData(tavsrv::Connection& db, PasswordHasher& hasher, const std::string& uploadsDir,
                  int64_t nowMs) {
  const fs::path uploads(uploadsDir);
  for (const auto& room : demoRooms())
    writePicture(uploads / "poster" / ("room-" + std::to_string(room.id) + ".bmp"), poster(room));
  for (const auto& account : demoAccounts())
    writePicture(uploads / "avatar" / ("user-" + std::to_string(account.id) + ".bmp"),
                 avatar(account.id));
  for (const auto& gift : kGifts) {
    Bitmap b(48, 48, Rgb{255, 255, 255});
    b.fillStar(24, 24, 22, gift.colour);
    b.fillCircle(24, 26, 6, Rgb{255, 255, 255});
    writePicture(uploads / "gift" / (std::string(gift.file) + ".bmp"), b);
  }
  for (size_t i = 0; i < kMedals.size(); ++i) {
    Bitmap b(32, 32, Rgb{255, 255, 255});
    b.fillCircle(16, 16, 15, kMedals[i].second);
    b.fillStar(16, 16, 10, Rgb{255, 255, 255});
    writePicture(uploads / "medal" / ("medal-" + std::to_string(i + 1) + ".bmp"), b);
  }

  // Under the write lock: of nodes starting together on an empty store, one seeds it.
  tavsrv::Transaction tx(db);
  if (!storeIsEmpty(db))
    return false;
  db.run("INSERT INTO orgs(id, name) VALUES(1, '塔维网示范学校')");
  const int64_t balances[] = {50000, 30000, 100000, 100000, 100000, 100000, 50000, 20000, 0};
  const int levels[] = {8, 5, 3, 2, 2, 1, 1, 1, 6};
  size_t index = 0;
  for (const auto& demo : demoAccounts()) {
    NewAccount a;
    a.id = demo.id;
    a.userName = demo.userName;
    a.password = kDemoPassword;
    a.nickName = demo.nickName;
    a.phone = "1380000" + std::to_string(demo.id - 5000);  // 13800005001 ...
    a.roleName = demo.roleName;
    a.imagePath = "avatar/user-" + std::to_string(demo.id) + ".bmp";
    a.level = levels[index];
    a.balanceCents = balances[index];
    a.orgId = 1;
    if (demo.id == kParent)
      a.linkedUserId = kStudent1;
    createAccount(db, hasher, a, nowMs);
    ++index;
  }

  for (const auto& room : demoRooms()) {
    db.run(
        "INSERT INTO rooms(id, owner_id, room_name, synopsis, tag, usable_numbers, status, "
        "open_style, "
        "auth_code, plan_start, plan_end, poster_path, created_ms) "
        "VALUES(?1, ?2, ?3, ?4, ?5, 6, ?6, ?7, ?8, ?9, ?10, ?11, ?12)",
        room.id, room.owner, room.name, room.synopsis, room.tag, room.status, room.openStyle,
        room.authCode, planDate(nowMs, room.startDay, room.startTime),
        planDate(nowMs, room.endDay, room.endTime),
        "/poster/room-" + std::to_string(room.id) + ".bmp", nowMs);
    int64_t order = 0;
    for (const auto& member : room.members) {
      db.run("INSERT INTO room_members(room_id, user_id, role, joined_ms) VALUES(?1, ?2, ?3, ?4)",
             room.id, member.first, member.second, nowMs - 30 * kDayMs + order++);
    }
  }
  for (uint32_t room : {1001u, 1002u}) {
    db.run(
        "INSERT INTO room_assistants(room_id, user_id, created_by, created_ms) VALUES(?1, ?2, ?3, "
        "?4)",
        room, kAssistant, kTeacher, nowMs);
  }
  for (uint32_t user : {kStudent1, kStudent2, kStudent3, kStudent4, kParent})
    db.run("INSERT INTO appointments(room_id, user_id, created_ms) VALUES(1001, ?1, ?2)", user,
           nowMs - 20 * kDayMs + user);
  db.run("INSERT INTO appointments(room_id, user_id, created_ms) VALUES(1002, ?1, ?2)", kStudent1,
         nowMs - 10 * kDayMs);

  int sort = 0;
  for (const auto& gift : kGifts) {
    db.run("INSERT INTO gifts(name, img_path, price_cents, sort) VALUES(?1, ?2, ?3, ?4)", gift.name,
           std::string("gift/") + gift.file + ".bmp", gift.priceCents, sort++);
  }
  for (size_t i = 0; i < kMedals.size(); ++i) {
    db.run("INSERT INTO medals(id, name, img_path) VALUES(?1, ?2, ?3)", static_cast<int64_t>(i + 1),
           kMedals[i].first, "medal/medal-" + std::to_string(i + 1) + ".bmp");
  }
  const std::pair<uint32_t, int> awards[] = {
      {kStudent1, 1}, {kStudent1, 3}, {kStudent2, 3}, {kStudent3, 2}};
  for (const auto& award : awards) {
    db.run(
        "INSERT INTO user_medals(room_id, user_id, medal_id, awarded_by, created_ms) "
        "VALUES(1001, ?1, ?2, ?3, ?4)",
        award.first, award.second, kTeacher, nowMs - 7 * kDayMs);
  }

  db.run(
      "INSERT INTO announcements(room_id, title, content, author_id, created_ms) "
      "VALUES(1001, '期中复习安排', '本周五晚上七点进行期中复习，请同学们提前完成第三章练习。', "
      "?1, ?2)",
      kTeacher, nowMs - 2 * kDayMs);
  const char* bulletins[][2] = {
      {"欢迎使用塔维网在线课堂", "上课前请在设备检测页面检查摄像头、麦克风和扬声器。"},
      {"秋季班报名开始", "秋季小班课已开放报名，名额有限。"},
      {"系统维护通知", "本周日凌晨两点至四点进行系统维护，届时暂停服务。"},
  };
  int64_t bulletinTime = nowMs - 3 * kDayMs;
  for (const auto& bulletin : bulletins) {
    db.run("INSERT INTO bulletins(title, content, created_ms) VALUES(?1, ?2, ?3)", bulletin[0],
           bulletin[1], bulletinTime);
    bulletinTime += kDayMs;
  }
  db.run(
      "INSERT INTO notifications(user_id, title, content, created_ms) VALUES"
      "(?1, '课程提醒', '初二数学提高班将于今晚七点开课。', ?3),"
      "(?1, '勋章通知', '你在初二数学提高班获得了“学习之星”勋章。', ?3),"
      "(?2, '班级审核', '“语文阅读与写作”正在审核中。', ?3)",
      kStudent1, kTeacher, nowMs - kDayMs);

  db.run(
      "INSERT INTO coursewares(room_id, owner_id, name, description, price, grade, video_path, "
      "play_count, created_ms) VALUES"
      "(1001, ?1, '第一章 有理数', '有理数的概念与运算', 0, '初二', 'courseware/1001/demo-1.mp4', "
      "12, ?2),"
      "(1001, ?1, '第二章 整式', '整式的加减', 5, '初二', 'courseware/1001/demo-2.mp4', 3, ?2),"
      "(1002, ?1, '日常问候', '口语练习录像', 10, '初二', 'courseware/1002/demo-1.mp4', 0, ?2)",
      kTeacher, nowMs - 5 * kDayMs);

  int64_t chatTime = nowMs - kDayMs;
  insertChat(db, 1001, kTeacher, "王老师", kRoleTeacher, "同学们好，今天我们复习有理数。",
             chatTime);
  insertChat(db, 1001, kStudent1, "张小明", kRoleStudent, "老师好！", chatTime + 60000);
  insertChat(db, 1001, kStudent2, "刘小红", kRoleStudent, "老师好，我准备好了。", chatTime + 90000);
  insertChat(db, 1001, kTeacher, "王老师", kRoleTeacher, "请大家打开练习册第12页。",
             chatTime + 120000);

  db.run(
      "INSERT INTO software_versions(type, version, url, created_ms) "
      "VALUES('pc', '1.0.0', 'download/TavPcClient-setup.exe', ?1)",
      nowMs);
  db.run("INSERT INTO settings(type, value) VALUES('3', ?1)",
         tavsrv::dumpJson(tavsrv::json{{"typename", "tav-smallclass"}, {"discount", "1"}}));
  for (const char* table : {"orgs", "users", "rooms", "medals"})
    db.continueIdsAfter(table);
  tx.commit();
  return true;
}

}  // namespace tavsvc
