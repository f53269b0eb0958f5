// The log file: line format, line ends, and what happens when it cannot open.
#include <gtest/gtest.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <vector>

#include "DataFolder.h"
#include "MessageLog.h"
#include "TestSupport.h"

using testsupport::TempHome;

namespace {
QByteArray readLog(const QString& folder) {
  QFile f(folder + "MsgOutput.txt");
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Restores Qt's default handler however the test ends.
struct HandlerGuard {
  HandlerGuard() { MessageLog::install(); }
  ~HandlerGuard() { qInstallMessageHandler(nullptr); }
};
}  // namespace

TEST(MessageLog, LinesCarryLevelLocationTextAndTimeWithCrLf) {
  TempHome home;
  QDir().mkpath(home.clientDataFolder());
  DataFolder::setPath(home.clientDataFolder());
  {
    HandlerGuard guard;
    qDebug("plain %d", 1);
    qWarning() << "warned";
    qInfo("%s", "50% done %1 %2");
  }
  const QByteArray log = readLog(home.clientDataFolder());
  QList<QByteArray> lines = log.split('\n');
  ASSERT_EQ(lines.size(), 4);  // three lines and the empty rest after the last line end
  EXPECT_TRUE(lines.last().isEmpty());
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(lines[i].endsWith('\r')) << i;

  const QRegularExpression shape(
      R"(^(Debug:|Warning:|Info:) File:\S*MessageLogTest\.cpp Line:\d+ (.*) (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})\r$)");
  const QStringList texts = {"plain 1", "warned", "50% done %1 %2"};
  const QStringList levels = {"Debug:", "Warning:", "Info:"};
  for (int i = 0; i < 3; ++i) {
    const auto m = shape.match(QString::fromUtf8(lines[i]));
    ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
    EXPECT_EQ(m.captured(1), levels[i]);
    EXPECT_EQ(m.captured(2), texts[i]);
  }
}

TEST(MessageLog, UnknownLevelHasEmptyWord) {
  const QString line = MessageLog::formatLine(static_cast<QtMsgType>(9), "x.cpp", 12, "odd");
  EXPECT_TRUE(line.startsWith(" File:x.cpp Line:12 odd ")) << line.toStdString();
  const QString noFile = MessageLog::formatLine(QtCriticalMsg, nullptr, 0, "t");
  EXPECT_TRUE(noFile.startsWith("Critical: File: Line:0 t ")) << noFile.toStdString();
}

TEST(MessageLog, UnwritableLogDropsMessages) {
  TempHome home;
  // The data folder does not exist: every message is dropped, nothing breaks.
  DataFolder::setPath(home.home() + "/no/such/folder/");
  {
    HandlerGuard guard;
    qWarning("lost");
  }
  EXPECT_FALSE(QFile::exists(home.home() + "/no/such/folder/MsgOutput.txt"));
}

TEST(MessageLog, ConcurrentWritersKeepLinesWhole) {
  TempHome home;
  QDir().mkpath(home.clientDataFolder());
  DataFolder::setPath(home.clientDataFolder());
  constexpr int kThreads = 4, kLines = 50;
  {
    HandlerGuard guard;
    std::vector<QThread*> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.push_back(QThread::create([t] {
        for (int i = 0; i < kLines; ++i)
          qDebug("thread %d line %d %s", t, i, "xxxxxxxxxxxxxxxxxxxxxxxx");
      }));
      threads.back()->start();
    }
    for (QThread* th : threads) {
      th->wait();
      delete th;
    }
  }
  const QList<QByteArray> lines = readLog(home.clientDataFolder()).split('\n');
  ASSERT_EQ(lines.size(), kThreads * kLines + 1);
  for (int i = 0; i < kThreads * kLines; ++i) {
    EXPECT_TRUE(lines[i].startsWith("Debug: File:")) << lines[i].toStdString();
    EXPECT_TRUE(lines[i].endsWith('\r'));
  }
}
