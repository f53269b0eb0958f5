// tav-phone: the phone assistant companion app. Pairs with a classroom PC by
// its QR code, mirrors what the class shows and its whiteboard, lets the
// user write on the board, send a photo and chat.
//
//   tav-phone [--pair TEXT] [--report]
#include <QApplication>
#include <QCommandLineParser>

#include "PhoneReport.h"
#include "PhoneWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tav-phone"));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("塔维手机助手"));
  parser.addHelpOption();
  const QCommandLineOption pairOption(QStringLiteral("pair"),
                                      QStringLiteral("Pair at start with the QR code's text."),
                                      QStringLiteral("TEXT"));
  const QCommandLineOption reportOption(
      QStringLiteral("report"),
      QStringLiteral("Test mode: events on standard output, commands on standard input."));
  parser.addOption(pairOption);
  parser.addOption(reportOption);
  parser.process(app);

  PhoneWindow window;
  window.resize(420, 800);
  window.show();
  // Lines for a test start before anything can happen.
  if (parser.isSet(reportOption))
    new PhoneReport(&window, &window);
  if (parser.isSet(pairOption))
    window.pair(parser.value(pairOption));
  return app.exec();
}
