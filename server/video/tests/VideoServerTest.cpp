// The video server against the real service: an upload cut off goes on from what the server
// holds (also after a restart) and is published with its two renditions, which play with
// byte ranges; only the room's teacher side may upload, and a name the room has is refused,
// before the upload and, for two uploads racing to one name, at the registration.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ServiceHarness.h"
#include "TestCredentials.h"
#include "eventually.h"
#include "video/Server.h"

namespace {

namespace fs = std::filesystem;
using tavtest::form;
using tavtest::json;
using tavtest::kAssistant;
using tavtest::kMathRoom;
using tavtest::kStudent1;
using tavtest::kTeacher;
using testsupport::eventually;
using testsupport::testCredential;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
      out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// A short 720p class with sound, as the recorder writes it (fragmented MP4).
std::string makeRecording(const fs::path& path) {
  run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=15 -f lavfi -i "
      "sine=frequency=440:sample_rate=48000 -t 2 -c:v libx264 -preset ultrafast -g 15 -c:a aac "
      "-movflags frag_keyframe+empty_moov+default_base_moof " +
      path.string());
  return readFile(path);
}

std::string tag(uint32_t user, const std::string& name, uint32_t room = kMathRoom) {
  return "roomId=" + std::to_string(room) + ",globalId=" + std::to_string(user) +
         ",coursewareName=" + name + ",price=3,description=复习，整式,grade=初二";
}

class VideoServerTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = tavtest::makeTempDir();
    startVideo();
  }
  void TearDown() override {
    video_.reset();
    fs::remove_all(dir_);
  }

  void startVideo() {
    video_.reset();
    video::Config config;
    config.listen_port = 0;
    config.data_dir = (dir_ / "video").string();
    config.internal_token = testsupport::kTestSecret;
    config.service_url = "http://127.0.0.1:" + std::to_string(service_.port());
    video_ = std::make_unique<video::Server>(config);
    port_ = video_->start();
    ASSERT_NE(port_, 0) << video_->error();
  }

  httplib::Client client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(30, 0);
    return c;
  }

  // POST /video/uploads: HTTP status and answer.
  std::pair<int, json> create(const std::string& credential, uint64_t size,
                              const std::string& desc) {
    httplib::Headers headers;
    if (!credential.empty())
      headers.emplace("X-Tav-Credential", credential);
    auto res = client().Post("/video/uploads", headers,
                             form({{"size", std::to_string(size)}, {"desc", desc}}),
                             "application/x-www-form-urlencoded");
    if (!res)
      return {0, json()};
    return {res->status, json::parse(res->body, nullptr, false)};
  }

  json status(const std::string& credential, const std::string& id) {
    auto res = client().Get("/video/uploads/" + id, {{"X-Tav-Credential", credential}});
    return res ? json::parse(res->body, nullptr, false) : json();
  }

  // PUT of bytes [first, first + length) of data.
  std::pair<int, json> put(const std::string& credential, const std::string& id,
                           const std::string& data, uint64_t first, uint64_t length) {
    const std::string range = "bytes " + std::to_string(first) + "-" +
                              std::to_string(first + length - 1) + "/" +
                              std::to_string(data.size());
    auto res = client().Put("/video/uploads/" + id,
                            {{"X-Tav-Credential", credential}, {"Content-Range", range}},
                            data.substr(first, length), "application/octet-stream");
    if (!res)
      return {0, json()};
    return {res->status, json::parse(res->body, nullptr, false)};
  }

  // Sends a request head and `sent` of its body's bytes on a socket of its own, then reads
  // what the server answers before the rest (nothing when it waits for them) and closes.
  std::string rawRequest(const std::string& head, const std::string& sentBody, bool readAnswer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      const std::string out = head + sentBody;
      size_t done = 0;
      while (done < out.size()) {
        const ssize_t n = ::send(fd, out.data() + done, out.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
          break;
        done += size_t(n);
      }
      if (readAnswer) {
        timeval limit{30, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
          answer.assign(buffer, size_t(n));
      }
    }
    ::close(fd);
    return answer;
  }

  std::string pieceHead(const std::string& credential, const std::string& id, uint64_t first,
                        uint64_t length, uint64_t total) {
    return "PUT /video/uploads/" + id + " HTTP/1.1\r\nHost: x\r\nX-Tav-Credential: " + credential +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" +
           std::to_string(first + length - 1) + "/" + std::to_string(total) +
           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(length) + "\r\n\r\n";
  }

  // Sends the bytes from what the server holds to the end, in pieces.
  json finish(const std::string& credential, const std::string& id, const std::string& data) {
    json last;
    uint64_t offset = status(credential, id)["body"]["offset"].get<uint64_t>();
    while (offset < data.size()) {
      const uint64_t length = std::min<uint64_t>(256 * 1024, data.size() - offset);
      const auto [code, answer] = put(credential, id, data, offset, length);
      EXPECT_EQ(code, 200) << answer.dump();
      if (code != 200)
        return answer;
      offset = answer["body"]["offset"].get<uint64_t>();
      last = answer;
    }
    return last;
  }

  bool ended(const std::string& credential, const std::string& id, json* body) {
    return eventually(
        [&] {
          *body = status(credential, id)["body"];
          return body->value("state", "") == "published" || body->value("state", "") == "failed";
        },
        testsupport::wait_limit(std::chrono::seconds(180)));
  }

  tavtest::ServiceHarness service_{
      true, [](tavsvc::ServiceConfig& c) { c.internalToken = testsupport::kTestSecret; }};
  fs::path dir_;
  std::unique_ptr<video::Server> video_;
  uint16_t port_ = 0;
};

TEST_F(VideoServerTest, AnUploadCutOffGoesOnAndIsPublishedWithTwoRenditionsThatServeRanges) {
  const std::string data = makeRecording(dir_ / "class.mp4");
  ASSERT_GT(data.size(), 20000u);
  const std::string teacher = testCredential(kTeacher, kMathRoom, 1);
  const auto [created, answer] = create(teacher, data.size(), tag(kTeacher, "录像课，一"));
  ASSERT_EQ(created, 200) << answer.dump();
  const std::string id = answer["body"]["id"];

  // A piece of half the recording breaks off after half of it: what arrived is held.
  const uint64_t piece = data.size() / 2, arrived = piece / 2;
  rawRequest(pieceHead(teacher, id, 0, piece, data.size()), data.substr(0, arrived), false);
  EXPECT_TRUE(eventually([&] { return status(teacher, id)["body"]["offset"] == arrived; }));
  // ... also after the server restarted; a piece at another offset is told where to go on.
  startVideo();
  EXPECT_EQ(status(teacher, id)["body"]["offset"], arrived);
  const auto [wrong, where] = put(teacher, id, data, 0, 1000);
  EXPECT_EQ(wrong, 409);
  EXPECT_EQ(where["body"]["offset"], arrived);
  EXPECT_EQ(finish(teacher, id, data)["body"]["state"], "rendering");

  json done;
  ASSERT_TRUE(ended(teacher, id, &done));
  ASSERT_EQ(done["state"], "published") << done.dump();

  // The room's courseware list has it, with the original and the lower rendition.
  const tavtest::Login login = service_.login("teacher");
  const json list = service_.post("rms/service/courseware/findCoursewareByRoomId",
                                  "roomId=1001&rows=10&page=1", login.ticket);
  json record;
  for (const json& row : list["rows"])
    if (row["coursewareName"] == "录像课，一")
      record = row;
  ASSERT_TRUE(record.is_object()) << list.dump();
  EXPECT_EQ(record["id"], done["coursewareId"]);
  EXPECT_EQ(record["price"], 3);
  EXPECT_EQ(record["description"], "复习，整式");
  EXPECT_EQ(record["grade"], "初二");
  const json renditions =
      json::parse(record["filePath"].get<std::string>())["PlayInfoList"]["PlayInfo"];
  ASSERT_EQ(renditions.size(), 2u) << renditions.dump();
  std::map<std::string, std::string> urls;
  for (const json& r : renditions) {
    EXPECT_EQ(r["Format"], "mp4");
    urls[r["Definition"]] = r["PlayURL"];
  }
  for (const char* definition : {"OD", "LD"}) {
    const std::string url = urls[definition];
    ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
    const std::string path = url.substr(url.find('/', 7));
    auto whole = client().Get(path);
    ASSERT_TRUE(whole && whole->status == 200) << definition;
    EXPECT_EQ(whole->body.substr(4, 4), "ftyp") << definition;
    auto part = client().Get(path, {{"Range", "bytes=100-1099"}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->body, whole->body.substr(100, 1000));
    EXPECT_EQ(part->get_header_value("Content-Range"),
              "bytes 100-1099/" + std::to_string(whole->body.size()));
    auto past =
        client().Get(path, {{"Range", "bytes=" + std::to_string(whole->body.size()) + "-"}});
    ASSERT_TRUE(past);
    EXPECT_EQ(past->status, 416);
    const fs::path copy = dir_ / (std::string(definition) + ".mp4");
    std::ofstream(copy, std::ios::binary) << whole->body;
    const std::string probe =
        run("ffprobe -v error -show_entries stream=codec_type,width,height -of csv=p=0 " +
            copy.string());
    EXPECT_NE(probe.find(definition == std::string("OD") ? "video,1280,720" : "video,640,360"),
              std::string::npos)
        << probe;
    EXPECT_NE(probe.find("audio"), std::string::npos) << probe;
  }
}

TEST_F(VideoServerTest, OnlyTheRoomsTeacherSideMayUploadAndNobodyElsesUploads) {
  const std::string desc = tag(kTeacher, "试听");
  EXPECT_EQ(create("", 1000, desc).first, 401);
  EXPECT_EQ(create(testCredential(kTeacher, kMathRoom, 1, -1000), 1000, desc).first, 401);
  EXPECT_EQ(create(testCredential(kStudent1, kMathRoom, 2), 1000, tag(kStudent1, "试听")).first,
            403);
  // The tag speaks for the credential's own room and user.
  EXPECT_EQ(create(testCredential(kTeacher, 1002, 1), 1000, desc).first, 403);
  EXPECT_EQ(create(testCredential(kAssistant, kMathRoom, 6), 1000, desc).first, 403);
  EXPECT_EQ(create(testCredential(kTeacher, kMathRoom, 1), 3ull << 30, desc).first, 413);
  EXPECT_EQ(
      create(testCredential(kTeacher, kMathRoom, 1), 1000, "roomId=1001,globalId=10001").first,
      400);

  // The room's assistant records for itself; the teacher cannot touch that upload, and a
  // student's piece is refused from its head, before any of its body.
  const std::string assistant = testCredential(kAssistant, kMathRoom, 6);
  const auto [code, answer] = create(assistant, 1000, tag(kAssistant, "助教录像"));
  ASSERT_EQ(code, 200) << answer.dump();
  const std::string id = answer["body"]["id"];
  EXPECT_EQ(status(testCredential(kTeacher, kMathRoom, 1), id)["code"], 403);
  const std::string refused =
      rawRequest(pieceHead(testCredential(kStudent1, kMathRoom, 2), id, 0, 1000, 1000), "", true);
  EXPECT_EQ(refused.rfind("HTTP/1.1 403", 0), 0u) << refused;
  EXPECT_EQ(status(assistant, id)["body"]["offset"], 0);
}

TEST_F(VideoServerTest, ANameTheRoomHasIsRefusedBeforeTheUploadAndAtTheRegistration) {
  const std::string teacher = testCredential(kTeacher, kMathRoom, 1);
  const auto [taken, refusal] = create(teacher, 1000, tag(kTeacher, "第一章 有理数"));
  EXPECT_EQ(taken, 409);
  EXPECT_EQ(refusal["msg"], "已存在同名课件！");

  // Two recordings given one new name: the first registered keeps it, the other is told.
  const std::string data = makeRecording(dir_ / "class.mp4");
  std::vector<std::string> ids;
  for (int i = 0; i < 2; ++i) {
    const auto [code, answer] = create(teacher, data.size(), tag(kTeacher, "同名录像"));
    ASSERT_EQ(code, 200) << answer.dump();
    ids.push_back(answer["body"]["id"]);
  }
  for (const std::string& id : ids)
    finish(teacher, id, data);
  std::vector<std::string> states;
  for (const std::string& id : ids) {
    json done;
    ASSERT_TRUE(ended(teacher, id, &done));
    states.push_back(done["state"]);
    if (done["state"] == "failed") {
      EXPECT_EQ(done["message"], "已存在同名课件！");
    }
  }
  EXPECT_EQ(std::count(states.begin(), states.end(), "published"), 1);
  EXPECT_EQ(std::count(states.begin(), states.end(), "failed"), 1);
}

}  // namespace
