// Board messages as other members and the phone send them: any bytes go
// through the parser, the message handler and a canvas that keeps what it is
// given across inputs, so the board's limits are reached too.
#include <QApplication>
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "RoomMessage.h"
#include "VWAnnoHandler.h"
#include "VWBounds.h"
#include "VWPaintWidget.h"

// Read by LeakSanitizer at start, so the target fuzzes with libFuzzer's default options.
// Fontconfig keeps the font set it builds for the first text laid out in its own caches,
// which the leak check after that input reports; those are not the board's.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace {

vw::VWPaintWidget& canvas() {
  static int argc = 1;
  static char name[] = "anno_fuzz";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  (void)app;
  static auto* board = [] {
    auto* c = new vw::VWPaintWidget(nullptr, nullptr);
    c->resize(320, 240);
    return c;
  }();
  return *board;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20)
    return 0;
  vw::VWPaintWidget& board = canvas();
  const auto msg = roommsg::parseObject(QByteArray(reinterpret_cast<const char*>(data), int(size)));
  if (!msg)
    return 0;
  const vw::VWAnnoState state{42, true};
  for (const vw::VWAnnoAction& action : vw::handleAnnoMessage(state, *msg))
    board.apply(action);
  if (board.shapeList().size() > vw::kMaxShapesPerBoard)
    std::abort();
  // Paint now and then so every kept shape is drawn at least once.
  static unsigned inputs = 0;
  if (++inputs % 64 == 0)
    board.grab();
  return 0;
}
