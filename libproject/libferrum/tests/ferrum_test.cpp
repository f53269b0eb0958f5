// libferrum against a real tav-service: round trips, refusals, stopping, and
// transfers that continue after the connection broke (through TestProxy).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>

#include "ServiceProcess.h"
#include "TestProxy.h"
#include "eventually.h"
#include "libferrum/libferrum.h"

namespace fs = std::filesystem;
using ferrumtest::ServiceProcess;
using ferrumtest::TestProxy;
using testsupport::eventually;

namespace {

constexpr unsigned kRoom = 1002, kStudent1 = 10003;

// Records what the library reports and checks the observer rules as it goes:
// one call at a time, progress never backwards, nothing after the end or after
// the object was released.
class Recorder : public trans_observer {
public:
  void progress(unsigned curr, unsigned total) override {
    enter();
    std::lock_guard<std::mutex> lock(mutex_);
    if (curr < last_ || curr > total)
      violations_.push_back("progress " + std::to_string(curr) + "/" + std::to_string(total));
    last_ = curr;
    total_ = total;
    ++reports_;
    leave();
  }
  void trans_error(int code) override {
    enter();
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = code;
    ended_ = true;
    leave();
  }
  void complete() override {
    enter();
    std::lock_guard<std::mutex> lock(mutex_);
    if (total_ != last_ && reports_ > 0)
      violations_.push_back("complete before the last progress");
    completed_ = true;
    ended_ = true;
    leave();
  }

  void released() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  bool ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
  }
  bool completed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return completed_;
  }
  int error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }
  unsigned last() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }
  unsigned total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
  }
  std::vector<std::string> violations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
  }

private:
  void enter() {
    if (inside_.exchange(true))
      addViolation("overlapping observer calls");
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_)
      violations_.push_back("call after the end");
    if (released_)
      violations_.push_back("call after release");
  }
  void leave() { inside_ = false; }
  void addViolation(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    violations_.push_back(what);
  }

  mutable std::mutex mutex_;
  std::atomic<bool> inside_{false};
  unsigned last_ = 0, total_ = 0;
  int reports_ = 0;
  int error_ = 0;
  bool ended_ = false, completed_ = false, released_ = false;
  std::vector<std::string> violations_;
};

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (auto& c : out)
    c = static_cast<char>(gen());
  return out;
}

void writeFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A loopback port nobody listens on.
unsigned short closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  ::close(fd);
  return ntohs(addr.sin_port);
}

class Ferrum : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "ferrumXXXXXX").string();
    dir_ = new fs::path(mkdtemp(pattern.data()));
    service_ = new ServiceProcess(TAV_SERVICE_BIN, *dir_ / "data");
    ticket_ = new std::string(service_->login("student1"));
  }
  static void TearDownTestSuite() {
    delete service_;
    delete ticket_;
    fs::remove_all(*dir_);
    delete dir_;
  }
  void SetUp() override {
    ASSERT_GT(service_->port(), 0) << "tav-service did not start";
    ASSERT_FALSE(ticket_->empty());
    local_ = *dir_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(local_);
  }

  unsigned short port() const { return service_->port(); }
  const char* ticket() const { return ticket_->c_str(); }
  fs::path stored(const std::string& name) const {
    return service_->uploads() / "room" / std::to_string(kRoom) / std::to_string(kStudent1) / name;
  }
  // Uploads content as `name` and waits for the end; the observer's error (0 = done).
  int upload(const std::string& name, const std::string& content, unsigned short via = 0,
             const char* ticket = nullptr) {
    const fs::path source = local_ / "out" / name;
    fs::create_directories(source.parent_path());
    writeFile(source, content);
    Recorder recorder;
    std::unique_ptr<velupload, void (*)(velupload*)> up(
        velupload::create(&recorder, kStudent1, kRoom, source.c_str(),
                          ticket ? ticket : this->ticket(), "127.0.0.1", via ? via : port()),
        [](velupload* u) { u->release(1); });
    EXPECT_TRUE(up);
    EXPECT_TRUE(eventually([&] { return recorder.ended(); }));
    EXPECT_TRUE(recorder.violations().empty()) << recorder.violations().front();
    return recorder.completed() ? 0 : recorder.error();
  }
  // Downloads the file named like target's file name and waits for the end.
  int download(const fs::path& target, unsigned short via = 0, const char* ticket = nullptr,
               unsigned sender = kStudent1) {
    Recorder recorder;
    std::unique_ptr<veldownload, void (*)(veldownload*)> down(
        veldownload::create(&recorder, kStudent1, kRoom, sender, target.c_str(),
                            ticket ? ticket : this->ticket(), "127.0.0.1", via ? via : port()),
        [](veldownload* d) { d->release(1); });
    EXPECT_TRUE(down);
    EXPECT_TRUE(eventually([&] { return recorder.ended(); }));
    EXPECT_TRUE(recorder.violations().empty()) << recorder.violations().front();
    return recorder.completed() ? 0 : recorder.error();
  }

  static fs::path* dir_;
  static ServiceProcess* service_;
  static std::string* ticket_;
  fs::path local_;
};
fs::path* Ferrum::dir_ = nullptr;
ServiceProcess* Ferrum::service_ = nullptr;
std::string* Ferrum::ticket_ = nullptr;

}  // namespace

TEST_F(Ferrum, UploadThenDownloadIsByteExact) {
  for (size_t size : {size_t(0), size_t(1), size_t(3u << 20) + 17}) {
    SCOPED_TRACE(size);
    const std::string name = "clip-" + std::to_string(size) + ".qn";
    const std::string content = randomBytes(size, static_cast<unsigned>(size));
    ASSERT_EQ(upload(name, content), 0);
    EXPECT_EQ(readFile(stored(name)), content);
    const fs::path target = local_ / name;
    ASSERT_EQ(download(target), 0);
    EXPECT_EQ(readFile(target), content);
    EXPECT_FALSE(fs::exists(target.string() + ".part"));
    EXPECT_FALSE(fs::exists(target.string() + ".part.etag"));
  }
}

TEST_F(Ferrum, RefusalsAndFailuresHaveTheirCodes) {
  ASSERT_EQ(upload("seen.png", "picture"), 0);
  // The server refuses: a dead ticket, a reader outside the room, a missing file.
  EXPECT_EQ(upload("x.png", "x", 0, "00000000000000000000000000000000"), trans_error_refused);
  const std::string outsider = service_->login("student3");
  EXPECT_EQ(download(local_ / "seen.png", 0, outsider.c_str()), trans_error_refused);
  EXPECT_EQ(download(local_ / "missing.png"), trans_error_refused);
  EXPECT_FALSE(fs::exists(local_ / "seen.png"));
  EXPECT_FALSE(fs::exists(local_ / "seen.png.part"));

  // The local file cannot be read or written.
  Recorder recorder;
  velupload* up = velupload::create(&recorder, kStudent1, kRoom, (local_ / "none.png").c_str(),
                                    ticket(), "127.0.0.1", port());
  ASSERT_TRUE(up);
  EXPECT_TRUE(eventually([&] { return recorder.ended(); }));
  up->release(1);
  EXPECT_EQ(recorder.error(), trans_error_file);
  EXPECT_EQ(download(local_ / "no-such-folder" / "seen.png"), trans_error_file);

  // Nobody listens.
  const unsigned short dead = closedPort();
  EXPECT_EQ(upload("y.png", "y", dead), trans_error_network);
  EXPECT_EQ(download(local_ / "seen.png", dead), trans_error_network);
  EXPECT_FALSE(fs::exists(local_ / "seen.png.part"));

  // Bad arguments.
  EXPECT_EQ(velupload::create(nullptr, 1, 1, "a", "t", "127.0.0.1", 1), nullptr);
  EXPECT_EQ(veldownload::create(&recorder, 1, 1, 1, nullptr, "t", "127.0.0.1", 1), nullptr);
}

TEST_F(Ferrum, ReleaseStopsAStalledTransferAndLeavesNothing) {
  const std::string content = randomBytes(16u << 20, 7);
  ASSERT_EQ(upload("big.bin", content), 0);

  {  // A download whose network stops after 1 MiB.
    TestProxy proxy(port(), TestProxy::Fault::Stall, TestProxy::Direction::ToClient, 1u << 20, 1);
    const fs::path target = local_ / "big.bin";
    Recorder recorder;
    veldownload* down = veldownload::create(&recorder, kStudent1, kRoom, kStudent1, target.c_str(),
                                            ticket(), "127.0.0.1", proxy.port());
    ASSERT_TRUE(down);
    ASSERT_TRUE(eventually([&] { return recorder.last() > 0 && proxy.faults() == 1; }));
    // Never visible at its place while incomplete.
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::exists(target.string() + ".part"));
    down->release(1);
    recorder.released();
    EXPECT_FALSE(recorder.ended());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(target.string() + ".part"));
    EXPECT_TRUE(recorder.violations().empty());
  }
  {  // An upload whose network stops after 1 MiB.
    TestProxy proxy(port(), TestProxy::Fault::Stall, TestProxy::Direction::ToServer, 1u << 20, 1);
    const fs::path source = local_ / "stalled.bin";
    writeFile(source, content);
    Recorder recorder;
    velupload* up = velupload::create(&recorder, kStudent1, kRoom, source.c_str(), ticket(),
                                      "127.0.0.1", proxy.port());
    ASSERT_TRUE(up);
    ASSERT_TRUE(eventually([&] { return recorder.last() > 0 && proxy.faults() == 1; }));
    up->release(1);
    recorder.released();
    EXPECT_FALSE(recorder.ended());
    EXPECT_FALSE(fs::exists(stored("stalled.bin")));
    EXPECT_TRUE(recorder.violations().empty());
  }
}

TEST_F(Ferrum, DownloadContinuesAfterTheConnectionBroke) {
  const std::string content = randomBytes(6u << 20, 11);
  ASSERT_EQ(upload("lesson.bin", content), 0);
  TestProxy proxy(port(), TestProxy::Fault::Cut, TestProxy::Direction::ToClient, 2u << 20, 1);
  const fs::path target = local_ / "lesson.bin";
  ASSERT_EQ(download(target, proxy.port()), 0);
  EXPECT_EQ(readFile(target), content);
  EXPECT_EQ(proxy.faults(), 1);
  const auto heads = proxy.heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0].find("Range:"), std::string::npos);
  EXPECT_NE(heads[1].find("Range: bytes="), std::string::npos) << heads[1];
  EXPECT_EQ(heads[1].find("Range: bytes=0-"), std::string::npos) << heads[1];
  EXPECT_NE(heads[1].find("If-Range: \""), std::string::npos) << heads[1];
}

TEST_F(Ferrum, UploadContinuesAfterTheConnectionBroke) {
  const std::string content = randomBytes(6u << 20, 13);
  TestProxy proxy(port(), TestProxy::Fault::Cut, TestProxy::Direction::ToServer, 2u << 20, 1);
  ASSERT_EQ(upload("voice.qn", content, proxy.port()), 0);
  EXPECT_EQ(readFile(stored("voice.qn")), content);
  EXPECT_EQ(proxy.faults(), 1);
  // The last request went on from a later offset than the start.
  const auto heads = proxy.heads();
  ASSERT_GE(heads.size(), 2u);
  EXPECT_NE(heads.back().find("&offset="), std::string::npos) << heads.back();
  EXPECT_EQ(heads.back().find("&offset=0 "), std::string::npos) << heads.back();
}

TEST_F(Ferrum, APartialDownloadIsContinuedByTheNextOneUnlessTheFileChanged) {
  const std::string content = randomBytes(8u << 20, 17);
  ASSERT_EQ(upload("movie.bin", content), 0);
  const fs::path target = local_ / "movie.bin";
  {  // Every connection breaks after 1 MiB: the retries run out.
    TestProxy proxy(port(), TestProxy::Fault::Cut, TestProxy::Direction::ToClient, 1u << 20, -1);
    EXPECT_EQ(download(target, proxy.port()), trans_error_network);
  }
  EXPECT_FALSE(fs::exists(target));
  const auto held = fs::file_size(target.string() + ".part");
  EXPECT_GT(held, 0u);
  EXPECT_LT(held, content.size());

  TestProxy proxy(port(), TestProxy::Fault::None, TestProxy::Direction::ToClient, 0, 0);
  ASSERT_EQ(download(target, proxy.port()), 0);
  EXPECT_EQ(readFile(target), content);
  ASSERT_EQ(proxy.heads().size(), 1u);
  EXPECT_NE(proxy.heads()[0].find("Range: bytes=" + std::to_string(held) + "-"), std::string::npos);

  // The same again, but the file is replaced on the server meanwhile: it starts over.
  fs::remove(target);
  {
    TestProxy cutting(port(), TestProxy::Fault::Cut, TestProxy::Direction::ToClient, 1u << 20, -1);
    EXPECT_EQ(download(target, cutting.port()), trans_error_network);
  }
  const std::string replaced = randomBytes(3u << 20, 19);
  ASSERT_EQ(upload("movie.bin", replaced), 0);
  ASSERT_EQ(download(target), 0);
  EXPECT_EQ(readFile(target), replaced);
}
