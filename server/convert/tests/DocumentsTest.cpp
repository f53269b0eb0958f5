// Hostile documents through the real tools (LibreOffice and poppler): what a lesson plan
// links must never reach its pages, and pages of any size render within the pixel budget.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "TestDocuments.h"
#include "convert/Converter.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Serves one picture to whoever asks, on an ephemeral loopback port, and counts the asking.
class PictureServer {
public:
  explicit PictureServer(std::string png) : png_(std::move(png)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~PictureServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  uint16_t port() const { return port_; }
  int connections() const { return connections_; }

private:
  void serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0)
        continue;
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0)
        continue;
      ++connections_;
      char request[4096];
      (void)!::recv(client, request, sizeof request, 0);
      const std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                 std::to_string(png_.size()) + "\r\n\r\n" + png_;
      (void)!::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(client);
    }
  }

  std::string png_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<int> connections_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class DocumentsTest : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/convert-documents-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Converts `bytes` as a document of type `ext`; the pages' PNGs by index.
  convert::JobOutcome convert(const std::string& bytes, const std::string& ext,
                              const convert::Limits& limits, const convert::Tools& tools,
                              std::map<uint32_t, std::string>* pages) {
    const fs::path job = dir_ / ("job" + std::to_string(++jobs_));
    fs::create_directories(job);
    const fs::path input = job / ("input." + ext);
    std::ofstream(input, std::ios::binary) << bytes;
    convert::JobCallbacks callbacks;
    callbacks.on_page = [&](uint32_t index, uint32_t, const std::string& png) {
      (*pages)[index] = read_file(png);
      return true;
    };
    return convert::convert_document(input.string(), ext, job.string(), limits, tools, callbacks);
  }

  fs::path dir_;
  int jobs_ = 0;
};

}  // namespace

TEST_F(DocumentsTest, LinkedFilesAndAddressesNeverReachThePage) {
  // A picture of the server's own disk (magenta), one behind a loopback address (cyan).
  const fs::path secret = dir_ / "other-room" / "secret.png";
  fs::create_directories(secret.parent_path());
  std::ofstream(secret, std::ios::binary) << testdocs::make_png(64, 64, 255, 0, 255);
  PictureServer internal(testdocs::make_png(64, 64, 0, 255, 255));
  const auto frame = [](const std::string& name, const std::string& href) {
    return "<text:p><draw:frame draw:name=\"" + name +
           "\" text:anchor-type=\"as-char\" svg:width=\"6cm\" svg:height=\"6cm\">"
           "<draw:image xlink:href=\"" +
           href +
           "\" xlink:type=\"simple\" xlink:show=\"embed\" xlink:actuate=\"onLoad\"/>"
           "</draw:frame></text:p>";
  };
  const std::string content =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document-content "
      "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\" office:version=\"1.2\">"
      "<office:body><office:text><text:p>教案 lesson text</text:p>" +
      frame("local", convert::file_url(secret.string())) +
      frame("internal", "http://127.0.0.1:" + std::to_string(internal.port()) + "/room/1.png") +
      "</office:text></office:body></office:document-content>";
  const std::string odt = testdocs::make_odf("application/vnd.oasis.opendocument.text", content);

  // Here the sandbox should work (root in a container may make namespaces); where it
  // cannot, the job must be refused instead. Either way the line says which it was.
  const std::string problem = convert::sandbox_problem({});
  std::printf("[  SANDBOX ] %s\n", problem.empty() ? "bubblewrap with its own namespaces: in use"
                                                   : ("unavailable: " + problem).c_str());
  // Sandboxed (where it can be), then as the operator's --unsandboxed runs it, where only
  // LibreOffice's own settings keep linked content out.
  for (const bool sandbox : {true, false}) {
    SCOPED_TRACE(sandbox ? "sandboxed" : "unsandboxed");
    convert::Tools tools;
    tools.sandbox = sandbox;
    std::map<uint32_t, std::string> pages;
    const auto outcome = convert(odt, "odt", {}, tools, &pages);
    if (sandbox && !problem.empty()) {
      EXPECT_EQ(outcome.code, falco::wire::ErrorCode::internal);
      EXPECT_TRUE(pages.empty());
      continue;
    }
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    ASSERT_EQ(pages.size(), 1u);
    testdocs::Picture page;
    ASSERT_TRUE(testdocs::read_png(pages[1], &page));
    EXPECT_TRUE(page.has(0, 0, 0, 100)) << "the page's own text is missing";
    EXPECT_FALSE(page.has(255, 0, 255)) << "a file of the server's disk is on the page";
    EXPECT_FALSE(page.has(0, 255, 255)) << "an internal address's picture is on the page";
    EXPECT_EQ(internal.connections(), 0) << "the converter fetched an internal address";
  }
}

TEST_F(DocumentsTest, PagesOfAnySizeRenderWithinThePixelBudget) {
  constexpr double kBudget = 4.0 * 1024 * 1024;  // pixels of one page
  // A page of 5000 pt squared would be 10417 pixels squared at 150 dpi; an A4 page keeps
  // its 150 dpi; a long strip is bounded as well.
  const std::vector<std::pair<double, double>> sizes = {{5000, 5000}, {595, 842}, {14400, 200}};
  std::map<uint32_t, std::string> pages;
  const auto outcome = convert(testdocs::make_pdf(sizes), "pdf", {}, {}, &pages);
  ASSERT_TRUE(outcome.ok) << outcome.reason;
  ASSERT_EQ(pages.size(), sizes.size());
  for (uint32_t i = 1; i <= sizes.size(); ++i) {
    testdocs::Picture page;
    ASSERT_TRUE(testdocs::read_png(pages[i], &page)) << "page " << i;
    EXPECT_LE(double(page.width) * page.height, kBudget) << "page " << i;
    EXPECT_TRUE(page.has(0, 0, 255)) << "page " << i << " lost its content";
    // As large as the budget allows: not a thumbnail.
    const double ratio = sizes[i - 1].first / sizes[i - 1].second;
    EXPECT_NEAR(double(page.width) / page.height, ratio, ratio * 0.02) << "page " << i;
    if (i != 2) {
      EXPECT_GE(double(page.width) * page.height, kBudget * 0.95) << "page " << i;
    }
  }
  testdocs::Picture a4;
  ASSERT_TRUE(testdocs::read_png(pages[2], &a4));
  EXPECT_NEAR(a4.width, 595 * 150 / 72.0, 1.0);
  EXPECT_NEAR(a4.height, 842 * 150 / 72.0, 1.0);
}
