// The screen grabber on a virtual X server of its own (Xvfb); skipped where there is none.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "eventually.h"
#include "velmedia/velconvert.h"
#include "velmedia/velscreen.h"

namespace {

using bytes = std::vector<uint8_t>;

// Starts "Xvfb -displayfd": the server writes its display number once it listens. It is then
// connected to (retried: a loaded machine may still refuse the first attempts) and that
// connection is held for as long as the server runs. With -noreset the server does not
// regenerate when its last client leaves, which refuses connections for a while: a test's
// window opened just after the previous test's grabber went would otherwise fail.
class virtual_display {
public:
  virtual_display() {
    int fds[2];
    if (pipe(fds) != 0)
      return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return;
    }
    std::string number;
    pollfd wait{fds[0], POLLIN, 0};
    while (poll(&wait, 1, static_cast<int>(testsupport::wait_limit().count())) > 0) {
      char c = 0;
      if (read(fds[0], &c, 1) != 1 || c == '\n')
        break;
      number += c;
    }
    close(fds[0]);
    if (number.empty())
      return;
    display_ = ":" + number;
    testsupport::eventually([this] {
      connection_ = XOpenDisplay(display_.c_str());
      return connection_ != nullptr;
    });
  }
  ~virtual_display() {
    if (connection_)
      XCloseDisplay(connection_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Empty when Xvfb is not here (or did not start).
  const std::string& name() const { return display_; }
  bool accepts_clients() const { return connection_ != nullptr; }

private:
  pid_t pid_ = -1;
  std::string display_;
  Display* connection_ = nullptr;
};

class Screen : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    server_ = new virtual_display();
    if (!server_->name().empty())
      setenv("DISPLAY", server_->name().c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (server_->name().empty())
      GTEST_SKIP() << "no Xvfb here";
    ASSERT_TRUE(server_->accepts_clients())
        << "Xvfb on " << server_->name() << " never accepted a connection";
  }

  static virtual_display* server_;
};
virtual_display* Screen::server_ = nullptr;

// A mapped window of one colour, waited for until the server shows it.
class solid_window {
public:
  solid_window(unsigned long rgb, int width, int height) {
    display_ = XOpenDisplay(nullptr);
    EXPECT_NE(display_, nullptr) << "cannot connect to " << std::getenv("DISPLAY");
    if (!display_)
      return;
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 20, 20, width, height, 0,
                                  0, rgb);
    XSelectInput(display_, window_, ExposureMask | StructureNotifyMask);
    XMapWindow(display_, window_);
    for (XEvent event;;) {
      XNextEvent(display_, &event);
      if (event.type == Expose)
        break;
    }
    XSync(display_, False);
  }
  ~solid_window() {
    if (display_)
      XCloseDisplay(display_);
  }
  int id() const { return static_cast<int>(window_); }
  // Resized, waited for until the server says it is.
  void resize(int width, int height) {
    XResizeWindow(display_, window_, width, height);
    for (XEvent event;;) {
      XNextEvent(display_, &event);
      if (event.type == ConfigureNotify && event.xconfigure.width == width &&
          event.xconfigure.height == height)
        break;
    }
    XSync(display_, False);
  }
  void hide() {
    XUnmapWindow(display_, window_);
    XSync(display_, False);
  }
  void destroy() {
    XDestroyWindow(display_, window_);
    XSync(display_, False);
  }

private:
  Display* display_ = nullptr;
  Window window_ = 0;
};

bytes rgb_of(const bytes& i420, int w, int h) {
  bytes rgb(velmedia_bgr24_size(w, h));
  EXPECT_EQ(yuv4202bgr24(i420.data(), rgb.data(), w, h), 0);
  return rgb;
}

TEST_F(Screen, GrabsTheWholeScreenScaled) {
  EXPECT_EQ(velscreen::create(0, 321, 240, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(velscreen::create(0, 0, 240, 0, 0, 0, 0), nullptr);
  std::unique_ptr<velscreen> grabber(velscreen::create(0, 320, 240, 0, 0, 0, 0));
  ASSERT_TRUE(grabber);
  bytes picture(velmedia_i420_size(320, 240));
  EXPECT_EQ(grabber->grab(picture.data(), 10), -1);  // buffer too small
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(grabber->grab(picture.data(), static_cast<unsigned>(picture.size())), 0);
}

TEST_F(Screen, GrabsOneWindowInItsColoursUntilItCloses) {
  solid_window window(0xff0000, 200, 150);  // red
  ASSERT_NE(window.id(), 0);
  std::unique_ptr<velscreen> grabber(velscreen::create(window.id(), 160, 120, 0, 0, 0, 0));
  ASSERT_TRUE(grabber);
  bytes picture(velmedia_i420_size(160, 120));
  ASSERT_EQ(grabber->grab(picture.data(), static_cast<unsigned>(picture.size())), 0);
  const bytes rgb = rgb_of(picture, 160, 120);
  const uint8_t* centre = rgb.data() + 3 * (60 * 160 + 80);
  EXPECT_GT(centre[0], 220);  // R
  EXPECT_LT(centre[1], 40);   // G
  EXPECT_LT(centre[2], 40);   // B

  // Minimised (unmapped), then closed: nothing can be read.
  window.hide();
  EXPECT_EQ(grabber->grab(picture.data(), static_cast<unsigned>(picture.size())), -1);
  window.destroy();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(grabber->grab(picture.data(), static_cast<unsigned>(picture.size())), -1);
}

// A window keeps its shape in the picture, black bars around it, and is
// followed when it changes its size.
TEST_F(Screen, AWindowIsLetterboxedAndFollowedWhenResized) {
  solid_window window(0x00ff00, 400, 100);  // green, 4:1
  ASSERT_NE(window.id(), 0);
  std::unique_ptr<velscreen> grabber(velscreen::create(window.id(), 320, 240, 0, 0, 0, 0));
  ASSERT_TRUE(grabber);
  bytes picture(velmedia_i420_size(320, 240));
  auto green = [&](int x, int y) {
    const bytes rgb = rgb_of(picture, 320, 240);
    const uint8_t* p = rgb.data() + 3 * (y * 320 + x);
    return p[1] > 200 && p[0] < 60;
  };
  auto dark = [&](int x, int y) {
    const bytes rgb = rgb_of(picture, 320, 240);
    const uint8_t* p = rgb.data() + 3 * (y * 320 + x);
    return p[0] < 30 && p[1] < 30 && p[2] < 30;
  };
  ASSERT_EQ(grabber->grab(picture.data(), static_cast<unsigned>(picture.size())), 0);
  // 320x80 of window in the middle, bars above and below.
  EXPECT_TRUE(green(160, 120));
  EXPECT_TRUE(dark(160, 10));
  EXPECT_TRUE(dark(160, 230));
  EXPECT_TRUE(green(10, 120)) << "the window spans the width";

  window.resize(100, 200);  // now 1:2: bars left and right
  ASSERT_EQ(grabber->grab(picture.data(), static_cast<unsigned>(picture.size())), 0);
  EXPECT_TRUE(green(160, 120));
  EXPECT_TRUE(green(160, 5)) << "the window spans the height";
  EXPECT_TRUE(dark(20, 120));
  EXPECT_TRUE(dark(300, 120));
}

}  // namespace
