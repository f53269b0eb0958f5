// The test mode (--report): one line per event on standard output, commands
// read from standard input, so scripts and end-to-end tests can drive the
// phone as a user would.
//
// Events: connecting HOST:PORT | connected HOST:PORT | refused | unreachable |
// rights N | state JSON | shown SHA256 ROT | board N DIGEST | lost | gave-up |
// sent photo|chat|stroke
// Commands: pair TEXT | stroke X,Y X,Y ... | photo PATH | chat TEXT | quit
// (stroke points are fractions of the canvas). End of input quits too.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class PhoneWindow;
class QSocketNotifier;

class PhoneReport : public QObject {
  Q_OBJECT
public:
  explicit PhoneReport(PhoneWindow* window, QObject* parent = nullptr);

  // Carries out one command line; false when it is not one.
  bool command(const QString& line);

private:
  void print(const QString& line);
  void readInput();
  bool stroke(const QStringList& points);

  PhoneWindow* const window_;
  QSocketNotifier* input_;
  QByteArray pending_;
};
