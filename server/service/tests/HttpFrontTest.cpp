// The front on its own, with cpp-httplib routes of the test's making: what
// slow, idle, greedy and pipelining clients get.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <future>
#include <limits>
#include <thread>

#include "HttpFront.h"
#include "RawConnection.h"
#include "eventually.h"

using tavtest::RawConnection;
using testsupport::wait_limit;

namespace {

class TestRoutes : public httplib::Server {
public:
  TestRoutes() { svr_sock_ = std::numeric_limits<int>::max(); }
  bool answerOne(httplib::Stream& stream, bool closeAfter, bool& clientClosed) {
    return process_request(stream, closeAfter, clientClosed, nullptr);
  }
};

struct Front {
  explicit Front(tavsvc::FrontOptions options) {
    routes.Get("/call", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("answered", "text/plain");
    });
    routes.Post("/call", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("got " + std::to_string(req.body.size()), "text/plain");
    });
    routes.Post("/login", [this](const httplib::Request&, httplib::Response& res) {
      ++loginsRunning;
      release.wait();
      res.set_content("logged in", "text/plain");
    });
    routes.Post("/upload", [this](const httplib::Request&, httplib::Response& res) {
      ++transfersRunning;
      release.wait();
      res.set_content("stored", "text/plain");
    });
    routes.Get("/file", [this](const httplib::Request&, httplib::Response& res) {
      ++transfersRunning;
      release.wait();
      res.set_content("file bytes", "text/plain");
    });
    options.host = "127.0.0.1";
    options.port = 0;
    options.busyBody = R"({"code":503,"msg":"busy"})";
    options.loginBusyBody = R"({"code":503,"msg":"too many logins"})";
    front = std::make_unique<tavsvc::HttpFront>(
        options,
        [this](httplib::Stream& s, bool closeAfter, bool& closed) {
          return routes.answerOne(s, closeAfter, closed);
        },
        [](const std::string&, const std::string& path) {
          if (path == "/login")
            return tavsvc::Lane::Login;
          return path == "/upload" || path == "/file" ? tavsvc::Lane::Transfer : tavsvc::Lane::Call;
        });
    std::string error;
    EXPECT_TRUE(front->start(&error)) << error;
  }
  ~Front() {
    releaseAll.set_value();
    front->stop();
  }

  TestRoutes routes;
  std::promise<void> releaseAll;
  std::shared_future<void> release{releaseAll.get_future().share()};
  std::atomic<int> loginsRunning{0};
  std::atomic<int> transfersRunning{0};
  std::unique_ptr<tavsvc::HttpFront> front;
};

const std::string kGetCall = "GET /call HTTP/1.1\r\nHost: t\r\n\r\n";

bool answeredNormally(int port, const std::string& from = "127.0.0.1") {
  RawConnection client(port, from);
  return client.send(kGetCall) && client.waitFor("answered", wait_limit());
}

TEST(HttpFront, SlowHeadsAreCutAtTheirDeadlineIdleConnectionsAfterTheirWait) {
  tavsvc::FrontOptions options;
  options.headTimeoutMs = 300;
  options.idleTimeoutMs = 600;
  Front f(options);
  const int port = f.front->port();

  // One header line now and then keeps no connection open past the head's deadline.
  RawConnection slow(port);
  ASSERT_TRUE(slow.send("GET /call HTTP/1.1\r\n"));
  const bool cut = testsupport::eventually([&] {
    slow.send("X-Trickle: 1\r\n");
    slow.poll();
    return slow.closedByPeer();
  });
  EXPECT_TRUE(cut);
  EXPECT_EQ(slow.received().find("answered"), std::string::npos);

  // A kept-alive connection is answered, then closed when it stays silent.
  RawConnection idle(port);
  ASSERT_TRUE(idle.send(kGetCall));
  ASSERT_TRUE(idle.waitFor("answered", wait_limit()));
  EXPECT_TRUE(idle.waitClosed(wait_limit()));
  EXPECT_GE(f.front->stats().timedOut, 2u);
  EXPECT_TRUE(answeredNormally(port));
}

// The per-address share bounds the connections that wait (idle, or a head that
// has not come in): beyond it the one waiting longest is closed. Connections
// that bring requests are never turned away for their address.
TEST(HttpFront, AnAddressKeepsItsShareOfWaitingConnectionsAndEveryWorkingOneIsServed) {
  tavsvc::FrontOptions options;
  options.connectionsPerAddress = 4;
  Front f(options);
  const int port = f.front->port();
  std::vector<RawConnection> waiting;
  for (int i = 0; i < 6; ++i)
    waiting.emplace_back(port, "127.0.0.2");
  // Ten more from the same address, each with a request: all answered.
  std::vector<RawConnection> working;
  for (int i = 0; i < 10; ++i) {
    working.emplace_back(port, "127.0.0.2");
    ASSERT_TRUE(working.back().send(kGetCall));
  }
  for (auto& c : working)
    EXPECT_TRUE(c.waitFor("answered", wait_limit()));
  // The silent ones went first; at most the share is left waiting.
  EXPECT_TRUE(testsupport::eventually([&] {
    int open = 0;
    for (auto& c : waiting)
      open += c.poll() ? 1 : 0;
    for (auto& c : working)
      open += c.poll() ? 1 : 0;
    return open <= 4 && std::none_of(waiting.begin(), waiting.end(),
                                     [](const RawConnection& c) { return !c.closedByPeer(); });
  }));
  for (auto& c : waiting)
    EXPECT_EQ(c.received().find(" 503 "), std::string::npos);
  EXPECT_EQ(f.front->stats().refusedConnections, 0u);
  EXPECT_TRUE(answeredNormally(port, "127.0.0.1"));
  EXPECT_TRUE(answeredNormally(port, "127.0.0.2"));
}

// At the total cap a new connection is told so (its request is read, so the
// answer arrives rather than a reset), the open ones go on, and freed places are
// taken again.
TEST(HttpFront, AtTheTotalCapNewcomersAreRefusedCleanlyAndTheOpenOnesServed) {
  tavsvc::FrontOptions options;
  options.maxConnections = 6;
  Front f(options);
  const int port = f.front->port();
  std::vector<RawConnection> open;
  for (int i = 0; i < 6; ++i) {
    open.emplace_back(port, "127.0.0." + std::to_string(20 + i));
    ASSERT_TRUE(open.back().send(kGetCall));
    ASSERT_TRUE(open.back().waitFor("answered", wait_limit()));
  }
  for (int i = 0; i < 3; ++i) {
    RawConnection late(port, "127.0.0.30");
    ASSERT_TRUE(late.send(kGetCall));
    EXPECT_TRUE(late.waitFor("连接过多", wait_limit())) << late.received();
    EXPECT_NE(late.received().find(" 503 "), std::string::npos);
    EXPECT_TRUE(late.waitClosed(wait_limit()));
  }
  for (auto& c : open) {
    ASSERT_TRUE(c.send(kGetCall));
    EXPECT_TRUE(testsupport::eventually([&] {
      c.poll();
      const std::string& r = c.received();
      return r.find("answered", r.find("answered") + 1) != std::string::npos;
    }));
  }
  open[0].close();
  open[1].close();
  EXPECT_TRUE(testsupport::eventually([&] { return answeredNormally(port, "127.0.0.31"); }));
}

TEST(HttpFront, AFullLoginLaneSaysSoWhileCallsGoOn) {
  tavsvc::FrontOptions options;
  options.loginThreads = 1;
  options.loginQueue = 1;
  Front f(options);
  const int port = f.front->port();
  const std::string login = "POST /login HTTP/1.1\r\nHost: t\r\nContent-Length: 0\r\n\r\n";
  RawConnection first(port), second(port);
  ASSERT_TRUE(first.send(login));
  ASSERT_TRUE(testsupport::eventually([&] { return f.loginsRunning == 1; }));
  ASSERT_TRUE(second.send(login));  // waits in the queue
  ASSERT_TRUE(testsupport::eventually([&] { return f.front->stats().requests == 2; }));
  RawConnection extra(port);
  ASSERT_TRUE(extra.send(login));
  EXPECT_TRUE(extra.waitFor("too many logins", wait_limit()));
  EXPECT_TRUE(extra.waitClosed(wait_limit()));
  // The calls lane is not held up by the logins.
  EXPECT_TRUE(answeredNormally(port));
  f.releaseAll.set_value();
  f.releaseAll = std::promise<void>();  // the destructor's own release
  EXPECT_TRUE(first.waitFor("logged in", wait_limit()));
  EXPECT_TRUE(second.waitFor("logged in", wait_limit()));
  EXPECT_EQ(f.front->stats().busy, 1u);
}

TEST(HttpFront, UploadsAreLimitedPerAddressDownloadsAreNot) {
  tavsvc::FrontOptions options;
  options.transfersPerAddress = 1;
  Front f(options);
  const int port = f.front->port();
  RawConnection upload(port);
  ASSERT_TRUE(upload.send("POST /upload HTTP/1.1\r\nHost: t\r\nContent-Length: 1\r\n\r\nx"));
  ASSERT_TRUE(testsupport::eventually([&] { return f.transfersRunning == 1; }));
  RawConnection second(port);
  ASSERT_TRUE(second.send("POST /upload HTTP/1.1\r\nHost: t\r\nContent-Length: 1\r\n\r\nx"));
  EXPECT_TRUE(second.waitFor("busy", wait_limit()));
  // A page's pictures load side by side, whatever the uploads do.
  RawConnection picture1(port), picture2(port);
  ASSERT_TRUE(picture1.send("GET /file HTTP/1.1\r\nHost: t\r\n\r\n"));
  ASSERT_TRUE(picture2.send("GET /file HTTP/1.1\r\nHost: t\r\n\r\n"));
  EXPECT_TRUE(testsupport::eventually([&] { return f.transfersRunning == 3; }));
  f.releaseAll.set_value();
  f.releaseAll = std::promise<void>();
  EXPECT_TRUE(upload.waitFor("stored", wait_limit()));
  EXPECT_TRUE(picture1.waitFor("file bytes", wait_limit()));
  EXPECT_TRUE(picture2.waitFor("file bytes", wait_limit()));
}

TEST(HttpFront, PipelinedRequestsAndExpectContinueAreAnswered) {
  Front f(tavsvc::FrontOptions{});
  const int port = f.front->port();
  RawConnection pipelined(port);
  ASSERT_TRUE(pipelined.send(
      kGetCall + "POST /call HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\n\r\nabc" + kGetCall));
  EXPECT_TRUE(testsupport::eventually([&] {
    pipelined.poll();
    const std::string& r = pipelined.received();
    const size_t first = r.find("answered");
    return first != std::string::npos && r.find("got 3") != std::string::npos &&
           r.find("answered", first + 1) != std::string::npos;
  }));

  // The body is asked for with one "100 Continue", then read and answered.
  RawConnection asking(port);
  ASSERT_TRUE(asking.send(
      "POST /call HTTP/1.1\r\nHost: t\r\nExpect: 100-continue\r\nContent-Length: 2000\r\n\r\n"));
  ASSERT_TRUE(asking.waitFor("100 Continue", wait_limit()));
  ASSERT_TRUE(asking.send(std::string(2000, 'x')));
  ASSERT_TRUE(asking.waitFor("got 2000", wait_limit()));
  const std::string& r = asking.received();
  EXPECT_EQ(r.find("100 Continue", r.find("100 Continue") + 1), std::string::npos);

  // A head that never ends is refused once it passes the bound.
  RawConnection endless(port);
  endless.send("GET /call HTTP/1.1\r\n" + std::string(20000, 'a'));
  EXPECT_TRUE(endless.waitFor(" 431 ", wait_limit()));
  EXPECT_TRUE(endless.waitClosed(wait_limit()));
}

}  // namespace
