// The shared message box on a real X server without a window manager: shown
// again after other windows were opened, it is on top of them, not hidden
// under the window it blocks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "QNMessageBox.h"
#include "TestSupport.h"
#include "VirtualDisplay.h"

using testsupport::waitUntil;

namespace {
VirtualDisplay* display = nullptr;

// Answers the box once it is shown, after checking what was asked for.
void answerWhenShown(QNMessageBox& box, std::function<void()> check) {
  QTimer::singleShot(0, [&box, check] {
    waitUntil([&] { return box.isVisible(); });
    check();
    box.accept();
  });
}
}  // namespace

TEST(MessageBoxOnScreen, ShownAgainItIsAboveTheWindowsMadeSince) {
  if (!display->usable())
    GTEST_SKIP() << "no Xvfb";
  QNMessageBox box;  // made once, as at start-up
  QWidget first;
  first.resize(400, 300);
  first.show();
  box.setMessage(QStringLiteral("注销用户？"));
  answerWhenShown(box, [] {});
  box.exec();

  // A new window after the first answer (the lobby after logging in again).
  QWidget second;
  second.resize(600, 400);
  second.show();
  ASSERT_TRUE(waitUntil([&] { return display->stackingOrder().value(0) == second.winId(); }));
  bool onTop = false;
  answerWhenShown(box, [&] {
    onTop = waitUntil(
        [&] {
          const QList<quint64> order = display->stackingOrder();
          return order.indexOf(box.winId()) >= 0 &&
                 order.indexOf(box.winId()) < order.indexOf(second.winId());
        },
        5000);
  });
  box.exec();
  EXPECT_TRUE(onTop) << "the box shown again stays under the window made since";
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The display comes first: the application connects to it.
  VirtualDisplay own;
  display = &own;
  if (own.usable()) {
    qputenv("DISPLAY", own.name().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
