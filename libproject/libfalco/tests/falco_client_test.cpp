// libfalco against the real conversion server: documents the test writes and turns into a
// .docx, a .pptx and a .pdf with LibreOffice, converted through the server in this process,
// and through tav-convert as a child process that is killed in the middle of a job.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include <gtest/gtest.h>

#include "TestCredentials.h"
#include "convert/Server.h"
#include "eventually.h"
#include "libfalco/libfalco.h"

namespace fs = std::filesystem;
using testsupport::eventually;
using testsupport::testCredential;

namespace {

constexpr unsigned kTeacher = 10001, kRoom = 1001;
constexpr int kSlides = 10, kDocPages = 3;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A whole PNG: the signature, and the IEND chunk at its very end.
bool whole_png(const std::string& bytes) {
  static const std::string signature("\x89PNG\r\n\x1a\n", 8);
  return bytes.size() > 20 && bytes.compare(0, 8, signature) == 0 &&
         bytes.compare(bytes.size() - 8, 4, "IEND") == 0;
}

std::pair<uint32_t, uint32_t> png_size(const std::string& bytes) {
  const auto be32 = [&](size_t at) {
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
  };
  return bytes.size() >= 24 ? std::make_pair(be32(16), be32(20)) : std::make_pair(0u, 0u);
}

// Records every observer call in order; checks each page is stored whole when reported.
class Recorder : public fc_observer {
public:
  void on_progress(int curr, int total, const char* pageFile) override {
    const bool whole = whole_png(read_file(pageFile));
    std::function<void(int)> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pages.push_back({curr, total, pageFile, whole});
      events.push_back("page");
      hook = on_page;
    }
    changed_.notify_all();
    if (hook)
      hook(curr);
  }
  void on_error(int err) override {
    std::lock_guard<std::mutex> lock(mutex_);
    errors.push_back(err);
    events.push_back("error");
    changed_.notify_all();
  }
  void on_complete() override {
    std::lock_guard<std::mutex> lock(mutex_);
    events.push_back("complete");
    changed_.notify_all();
  }
  void on_upload_progress(unsigned curr, unsigned total) override {
    std::lock_guard<std::mutex> lock(mutex_);
    uploads.push_back({curr, total});
    events.push_back("upload");
    changed_.notify_all();
  }

  // Waits for the end of the job: complete or an error.
  bool wait_end() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, testsupport::wait_limit(std::chrono::minutes(5)), [&] {
      return !events.empty() && (events.back() == "complete" || events.back() == "error");
    });
  }
  bool uploaded(unsigned size) {
    std::lock_guard<std::mutex> lock(mutex_);
    return !uploads.empty() && uploads.back().first == size;
  }
  size_t event_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events.size();
  }

  struct PageEvent {
    int curr, total;
    std::string file;
    bool whole;
  };
  std::vector<PageEvent> pages;
  std::vector<std::pair<unsigned, unsigned>> uploads;
  std::vector<int> errors;
  std::vector<std::string> events;
  std::function<void(int)> on_page;

private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

struct ClientHandle {
  void* handle = nullptr;
  ~ClientHandle() { qn::destory_falco_client(handle); }
  void reset(void* h = nullptr) {
    qn::destory_falco_client(handle);
    handle = h;
  }
};

// tav-convert as a child process, its stdout read for the "listening" line.
class ConvertProcess {
public:
  bool start(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe(out) != 0)
      return false;
    const std::string program = std::string(std::getenv("TAV_BIN_DIR")) + "/tav-convert";
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    return pid_ > 0;
  }
  // The port of "tav-convert: listening on 127.0.0.1:PORT", 0 when it never came.
  uint16_t wait_listening() {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + testsupport::wait_limit();
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0)
        continue;
      char c;
      if (::read(fd_, &c, 1) != 1)
        return 0;
      if (c != '\n') {
        text.push_back(c);
        continue;
      }
      const auto at = text.find("listening on ");
      if (at != std::string::npos)
        return static_cast<uint16_t>(std::stoi(text.substr(text.rfind(':') + 1)));
      text.clear();
    }
    return 0;
  }
  void kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }
  pid_t pid() const { return pid_; }
  ~ConvertProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0)
      ::close(fd_);
  }

private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

class FalcoClientTest : public ::testing::Test {
protected:
  // The documents are made once: LibreOffice is slow and every conversion counts.
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/falco-docs-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    docs_ = new fs::path(pattern);
    std::ofstream html(*docs_ / "lesson.html");
    html << "<html><head><meta charset=\"utf-8\"></head><body>";
    for (int page = 1; page <= kDocPages; ++page)
      html << "<h1" << (page > 1 ? " style=\"page-break-before: always\"" : "") << ">第" << page
           << "页 Page " << page << "</h1><p>Lesson text of page " << page << ".</p>";
    html << "</body></html>";
    html.close();
    std::ofstream fodp(*docs_ / "slides.fodp");
    fodp << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
            "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
            "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
            "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
            "office:version=\"1.2\" "
            "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">"
            "<office:body><office:presentation>";
    for (int slide = 1; slide <= kSlides; ++slide)
      fodp << "<draw:page draw:name=\"s" << slide << "\"><draw:frame svg:x=\"2cm\" svg:y=\""
           << slide << "cm\" svg:width=\"20cm\" svg:height=\"3cm\"><draw:text-box><text:p>幻灯片 "
           << slide << "</text:p></draw:text-box></draw:frame></draw:page>";
    fodp << "</office:presentation></office:body></office:document>";
    fodp.close();
    const std::string dir = docs_->string();
    const auto soffice = [&](const std::string& target, const std::string& input) {
      return std::system(("soffice -env:UserInstallation=file://" + dir +
                          "/profile --headless --convert-to " + target + " --outdir " + dir + " " +
                          dir + "/" + input + " >>" + dir + "/log 2>&1")
                             .c_str());
    };
    ASSERT_EQ(soffice("'docx:MS Word 2007 XML'", "lesson.html"), 0);
    ASSERT_EQ(soffice("pptx", "slides.fodp"), 0);
    ASSERT_EQ(soffice("pdf", "slides.fodp"), 0);
    for (const char* made : {"lesson.docx", "slides.pptx", "slides.pdf"})
      ASSERT_TRUE(fs::exists(*docs_ / made)) << made << ": " << read_file(*docs_ / "log");
  }
  static void TearDownTestSuite() {
    fs::remove_all(*docs_);
    delete docs_;
  }

  void SetUp() override {
    ASSERT_TRUE(docs_ && fs::exists(*docs_ / "slides.pdf"));
    char pattern[] = "/tmp/falco-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    qn::set_falco_credential(testCredential(kTeacher, kRoom, 1).c_str());
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(dir_);
  }

  void start_server() {
    convert::Config config;
    config.listen_port = 0;
    config.data_dir = (dir_ / "server").string();
    config.internal_token = testsupport::kTestSecret;
    server_ = std::make_unique<convert::Server>(config);
    port_ = server_->start();
    ASSERT_NE(port_, 0) << server_->error();
  }
  void* create(const fs::path& source, const fs::path& out, Recorder& recorder, uint16_t port = 0) {
    return qn::create_falco_client("127.0.0.1", port ? port : port_, source.c_str(), out.c_str(),
                                   kTeacher, kRoom, &recorder);
  }
  fs::path copy_doc(const char* name, const std::string& as) {
    const fs::path target = dir_ / as;
    fs::copy_file(*docs_ / name, target);
    return target;
  }
  static std::vector<fs::path> leftovers(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().extension() != ".png")
        found.push_back(entry.path());
    return found;
  }
  bool jobs_empty() { return fs::is_empty(dir_ / "server" / "jobs"); }

  static fs::path* docs_;
  fs::path dir_;
  std::unique_ptr<convert::Server> server_;
  uint16_t port_ = 0;
};

fs::path* FalcoClientTest::docs_ = nullptr;

}  // namespace

TEST_F(FalcoClientTest, DocxUploadsThenItsPagesArriveInOrderEachStoredWhole) {
  start_server();
  // Spaces, Chinese and shell metacharacters: the server never runs a shell.
  const std::string name = "教案 $(touch pwned); `touch pwned2` & 'x'.docx";
  const fs::path source = copy_doc("lesson.docx", name);
  const fs::path out = dir_ / "sharingfiles" / "1001" / "教案 $(touch pwned); `touch pwned2` & 'x'";
  Recorder recorder;
  ClientHandle client{create(source, out, recorder)};
  ASSERT_NE(client.handle, nullptr);
  ASSERT_TRUE(recorder.wait_end());
  client.reset();

  ASSERT_EQ(recorder.events.back(), "complete")
      << "error " << (recorder.errors.empty() ? 0 : recorder.errors[0]);
  const unsigned size = static_cast<unsigned>(fs::file_size(source));
  ASSERT_FALSE(recorder.uploads.empty());
  EXPECT_EQ(recorder.uploads.back(), std::make_pair(size, size));
  for (size_t i = 1; i < recorder.uploads.size(); ++i)
    EXPECT_LT(recorder.uploads[i - 1].first, recorder.uploads[i].first);
  ASSERT_EQ(recorder.pages.size(), static_cast<size_t>(kDocPages));
  // Upload first, then every page in order, then completion, and nothing else.
  const size_t uploads = recorder.uploads.size();
  EXPECT_EQ(recorder.events.size(), uploads + kDocPages + 1);
  for (int i = 0; i < kDocPages; ++i) {
    const auto& page = recorder.pages[static_cast<size_t>(i)];
    EXPECT_EQ(recorder.events[uploads + static_cast<size_t>(i)], "page");
    EXPECT_EQ(page.curr, i + 1);
    EXPECT_EQ(page.total, kDocPages);
    EXPECT_TRUE(page.whole) << page.file;
    EXPECT_EQ(fs::path(page.file),
              out / (fs::path(name).stem().string() + "_" + std::to_string(i + 1) + ".png"));
  }
  EXPECT_TRUE(leftovers(out).empty());
  EXPECT_FALSE(fs::exists(dir_ / "pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
  // The client has its "done" before the server's session ends: the job's folder is removed
  // and the job counted after that, so the session's end is what is waited for.
  ASSERT_TRUE(eventually([&] { return server_->stats().connections == 0; }));
  EXPECT_TRUE(jobs_empty());
  EXPECT_EQ(server_->stats().completed, 1u);
}

TEST_F(FalcoClientTest, PdfPageTwoIsWhatPdftoppmMakesOfIt) {
  start_server();
  const fs::path source = copy_doc("slides.pdf", "slides.pdf");
  Recorder recorder;
  ClientHandle client{create(source, dir_ / "out", recorder)};
  ASSERT_TRUE(recorder.wait_end());
  client.reset();
  ASSERT_EQ(recorder.events.back(), "complete");
  ASSERT_EQ(recorder.pages.size(), static_cast<size_t>(kSlides));

  const std::string ref = (dir_ / "ref").string();
  ASSERT_EQ(
      std::system(
          ("pdftoppm -png -r 150 -f 2 -l 2 -singlefile " + source.string() + " " + ref).c_str()),
      0);
  const std::string expected = read_file(ref + ".png");
  const std::string page2 = read_file(dir_ / "out" / "slides_2.png");
  ASSERT_TRUE(whole_png(expected));
  const auto size = png_size(page2);
  EXPECT_GT(size.first, size.second) << "a slide is wider than tall";
  EXPECT_EQ(size, png_size(expected));
  EXPECT_TRUE(page2 == expected) << "page 2 differs from pdftoppm's rendering";
  EXPECT_NE(read_file(dir_ / "out" / "slides_1.png"), page2);
}

TEST_F(FalcoClientTest, RefusalsAndUnreadableDocumentsEndWithOneError) {
  start_server();
  const fs::path docx = copy_doc("lesson.docx", "lesson.docx");
  const fs::path fake = dir_ / "notes.docx";
  std::ofstream(fake, std::ios::binary) << "这不是文档，只是几行字。\n";
  const struct {
    const char* what;
    std::string credential;
    fs::path source;
    int err;
  } cases[] = {
      {"a student's credential", testCredential(kTeacher, kRoom, 2), docx, fc_error_refused},
      {"no credential", "", docx, fc_error_refused},
      {"a missing document", testCredential(kTeacher, kRoom, 1), dir_ / "none.docx", fc_error_file},
  };
  for (const auto& c : cases) {
    qn::set_falco_credential(c.credential.c_str());
    Recorder recorder;
    ClientHandle client{create(c.source, dir_ / "out", recorder)};
    ASSERT_TRUE(recorder.wait_end()) << c.what;
    client.reset();
    EXPECT_EQ(recorder.errors, std::vector<int>{c.err}) << c.what;
    EXPECT_EQ(recorder.events.back(), "error") << c.what;
    EXPECT_TRUE(recorder.pages.empty()) << c.what;
  }
  EXPECT_EQ(server_->stats().accepted, 0u);

  // Text in a file named .docx: not a document of the kind its name says.
  {
    qn::set_falco_credential(testCredential(kTeacher, kRoom, 1).c_str());
    Recorder recorder;
    ClientHandle client{create(fake, dir_ / "out", recorder)};
    ASSERT_TRUE(recorder.wait_end());
    client.reset();
    EXPECT_EQ(recorder.errors, std::vector<int>{fc_error_unsupported});
  }

  // A .docx cut in half: LibreOffice cannot load it.
  qn::set_falco_credential(testCredential(kTeacher, kRoom, 1).c_str());
  const std::string whole = read_file(docx);
  const fs::path broken = dir_ / "broken.docx";
  std::ofstream(broken, std::ios::binary) << whole.substr(0, whole.size() / 2);
  Recorder recorder;
  ClientHandle client{create(broken, dir_ / "out", recorder)};
  ASSERT_TRUE(recorder.wait_end());
  client.reset();
  EXPECT_EQ(recorder.errors, std::vector<int>{fc_error_convert});
  EXPECT_TRUE(recorder.pages.empty());
  EXPECT_TRUE(eventually([&] { return jobs_empty(); }));
}

TEST_F(FalcoClientTest, DestroyingTheClientCancelsItsJobAtTheServer) {
  start_server();
  const fs::path source = copy_doc("slides.pptx", "slides.pptx");
  Recorder recorder;
  ClientHandle client{create(source, dir_ / "out", recorder)};
  const unsigned size = static_cast<unsigned>(fs::file_size(source));
  ASSERT_TRUE(eventually([&] { return recorder.uploaded(size); }));
  ASSERT_TRUE(eventually([&] { return server_->stats().converting == 1; }));
  client.reset();
  const size_t events = recorder.event_count();
  EXPECT_TRUE(eventually([&] { return server_->stats().cancelled == 1; }));
  EXPECT_TRUE(eventually([&] { return jobs_empty(); }));
  EXPECT_EQ(server_->stats().converting, 0u);
  EXPECT_EQ(recorder.event_count(), events) << "an observer call after destory_falco_client";
}

TEST_F(FalcoClientTest, DestroyReturnsWhileTheServerHangs) {
  // A server that takes the connection and never answers.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const fs::path source = copy_doc("lesson.docx", "lesson.docx");
  Recorder recorder;
  void* handle = create(source, dir_ / "out", recorder, ntohs(addr.sin_port));
  ASSERT_NE(handle, nullptr);
  const int accepted = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  qn::destory_falco_client(handle);
  EXPECT_EQ(recorder.event_count(), 0u);
  ::close(accepted);
  ::close(listener);
}

TEST_F(FalcoClientTest, ServerKilledMidJobLeavesWholePagesAndTheRetryGetsEveryPage) {
  const std::vector<std::string> args = {"--listen",         "127.0.0.1:0",
                                         "--data",           (dir_ / "server").string(),
                                         "--internal-token", testsupport::kTestSecret};
  ConvertProcess first;
  ASSERT_TRUE(first.start(args));
  const uint16_t port = first.wait_listening();
  ASSERT_NE(port, 0);

  const fs::path source = copy_doc("slides.pptx", "第一课 slides.pptx");
  const fs::path out = dir_ / "out";
  Recorder recorder;
  // Killed while the first page is reported: the others are not rendered yet.
  recorder.on_page = [&](int page) {
    if (page == 1)
      ::kill(first.pid(), SIGKILL);
  };
  ClientHandle client{create(source, out, recorder, port)};
  ASSERT_TRUE(recorder.wait_end());
  first.kill();
  ASSERT_EQ(recorder.errors, std::vector<int>{fc_error_network});
  EXPECT_LT(recorder.pages.size(), static_cast<size_t>(kSlides));
  for (const auto& entry : fs::directory_iterator(out)) {
    EXPECT_EQ(entry.path().extension(), ".png") << entry.path();
    EXPECT_TRUE(whole_png(read_file(entry.path()))) << entry.path();
  }

  // The dialog's retry: the client destroyed and made again, the server back on its port.
  std::vector<std::string> again = args;
  again[1] = "127.0.0.1:" + std::to_string(port);
  ConvertProcess second;
  ASSERT_TRUE(second.start(again));
  ASSERT_EQ(second.wait_listening(), port);
  Recorder retry;
  client.reset(create(source, out, retry, port));
  ASSERT_TRUE(retry.wait_end());
  client.reset();
  ASSERT_EQ(retry.events.back(), "complete");
  ASSERT_EQ(retry.pages.size(), static_cast<size_t>(kSlides));
  for (int i = 0; i < kSlides; ++i) {
    EXPECT_EQ(retry.pages[static_cast<size_t>(i)].curr, i + 1);
    EXPECT_TRUE(retry.pages[static_cast<size_t>(i)].whole);
  }
  EXPECT_TRUE(leftovers(out).empty());
  EXPECT_TRUE(eventually([&] { return jobs_empty(); }));
}
