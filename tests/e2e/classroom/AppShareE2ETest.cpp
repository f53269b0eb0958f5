// Sharing a program's window for real, on a virtual X display: the teacher's
// classroom (a process of its own on that display) embeds a program the test
// starts, and a student's classroom (another process) sees it as the
// screen-share video; what the teacher writes over it reaches the student
// burnt into the picture; the program handed back is still on the desktop;
// closing it ends the share at the student. With TAV_APPSHARE_CHANGES=N it also
// measures N changes of the program's colour until the student sees them, and
// the teacher's CPU while sharing, and prints the figures.
#include <QProcess>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "ClassroomFixture.h"
#include "VirtualDisplay.h"
#include "WindowMember.h"
#include "platform/desktop_windows.h"

namespace {

// The program to share: a window painting a known pattern, told its colour.
class PatternWindow {
public:
  explicit PatternWindow(const QString& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.remove("QT_QPA_PLATFORM");
    process_.setProcessEnvironment(env);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
      while (process_.canReadLine())
        lines_ << QString::fromUtf8(process_.readLine()).trimmed();
    });
    process_.start(QCoreApplication::applicationDirPath() + "/pattern-window", QStringList());
  }
  ~PatternWindow() {
    quit();
    if (!process_.waitForFinished(10000))
      process_.kill();
  }
  quint64 window() {
    quint64 id = 0;
    testsupport::waitUntil([&] {
      for (const QString& line : lines_)
        if (line.startsWith("window "))
          id = line.mid(7).toULongLong();
      return id != 0;
    });
    return id;
  }
  void color(int r, int g, int b) {
    process_.write(QStringLiteral("color %1 %2 %3\n").arg(r).arg(g).arg(b).toUtf8());
  }
  void quit() {
    if (process_.state() != QProcess::NotRunning)
      process_.write("quit\n");
  }
  bool finished() { return process_.waitForFinished(30000); }

private:
  QProcess process_;
  QStringList lines_;
};

double cpuSeconds(qint64 pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos)
    return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i)
    fields >> skip;
  double utime = 0, stime = 0;
  fields >> utime >> stime;
  return (utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double percentile(std::vector<double> v, double p) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

class AppShareE2E : public ClassroomTest {};

TEST_F(AppShareE2E, AProgramsWindowReachesTheStudentsWithTheTeachersWriting) {
  VirtualDisplay display;
  if (!display.usable())
    GTEST_SKIP() << "no Xvfb here";
  WindowMember teacher("teacher", kRoom, servers_.host(), servers_.mcuPort(), servers_.msgPort(),
                       home_.home(), display.name());
  ASSERT_TRUE(teacher.waitFor("ready")) << teacher.lines().join('\n').toStdString();
  teacher.send("start-class");
  ASSERT_TRUE(teacher.waitFor("class running")) << teacher.lines().join('\n').toStdString();
  WindowMember pupil("student1", kRoom, servers_.host(), servers_.mcuPort(), servers_.msgPort(),
                     home_.home());
  ASSERT_TRUE(pupil.waitFor("ready")) << pupil.lines().join('\n').toStdString();
  ASSERT_TRUE(pupil.waitFor("class running"));

  PatternWindow program(display.name());
  const quint64 window = program.window();
  ASSERT_NE(window, 0u);
  // The test looks at the same desktop the program and the teacher are on.
  qputenv("DISPLAY", display.name().toLocal8Bit());

  // Shared: the student sees the pattern (red left half, nothing red on the right).
  int mark = pupil.mark();
  teacher.send(QStringLiteral("share-app 图案窗口"));
  ASSERT_TRUE(teacher.waitFor("app-share on")) << teacher.lines().join('\n').toStdString();
  ASSERT_TRUE(teacher.waitFor("stage app"));
  EXPECT_TRUE(pupil.waitFor("tool 192,0,0 clear", mark)) << pupil.lines().join('\n').toStdString();
  EXPECT_TRUE(pupil.waitFor("stage tool", mark));

  // A change in the program shows at the student.
  mark = pupil.mark();
  program.color(16, 208, 16);
  EXPECT_TRUE(pupil.waitFor("tool 0,192,0 clear", mark)) << pupil.lines().join('\n').toStdString();

  // An even number: the program ends green, as before.
  int changes = qEnvironmentVariableIntValue("TAV_APPSHARE_CHANGES");
  changes += changes % 2;
  if (changes > 0) {
    std::vector<double> latency;
    const double cpuBefore = cpuSeconds(teacher.pid());
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < changes; ++i) {
      const bool red = i % 2 == 0;
      const int from = pupil.mark();
      const qint64 sent = pupil.now();
      red ? program.color(208, 16, 16) : program.color(16, 208, 16);
      const QString expected = red ? "tool 192,0,0 clear" : "tool 0,192,0 clear";
      ASSERT_TRUE(pupil.waitFor(expected, from));
      latency.push_back(double(pupil.nsecsAt(pupil.lines().indexOf(expected, from)) - sent) / 1e6);
    }
    const double cpu = (cpuSeconds(teacher.pid()) - cpuBefore) / (double(wall.elapsed()) / 1000.0);
    printf(
        "application share over %d changes: program -> student's picture p50 %.0f ms p99 %.0f "
        "ms; teacher's process %.0f %% of a core while sharing (1280x720 at 10 fps)\n",
        changes, percentile(latency, 0.5), percentile(latency, 0.99), cpu * 100);
  }

  // The teacher writes over it: the program holds still, the stroke is in the student's picture.
  mark = pupil.mark();
  const int teacherMark = teacher.mark();
  teacher.send("annotate");
  ASSERT_TRUE(teacher.waitFor("stage tool", teacherMark))
      << teacher.lines().join('\n').toStdString();
  teacher.send("draw 0.6,0.75 0.7,0.76 0.8,0.78 0.9,0.8");
  EXPECT_TRUE(pupil.waitFor("tool 0,192,0 red", mark)) << pupil.lines().join('\n').toStdString();
  teacher.send("annotate");
  ASSERT_TRUE(teacher.waitFor("stage app", teacherMark));

  // Ended by the teacher: the program is back on the desktop, not closed.
  mark = pupil.mark();
  teacher.send("end-share");
  ASSERT_TRUE(teacher.waitFor("app-share off")) << teacher.lines().join('\n').toStdString();
  EXPECT_TRUE(pupil.waitFor("stage picture", mark)) << pupil.lines().join('\n').toStdString();
  EXPECT_TRUE(testsupport::waitUntil(
      [&] { return platform::windowState(window) == platform::WindowState::Shown; }));

  // Shared again, then the program closes: the share ends for everybody.
  mark = pupil.mark();
  int tmark = teacher.mark();
  teacher.send(QStringLiteral("share-app 图案窗口"));
  ASSERT_TRUE(teacher.waitFor("app-share on", tmark));
  ASSERT_TRUE(pupil.waitFor("stage tool", mark));
  mark = pupil.mark();
  tmark = teacher.mark();
  program.quit();
  EXPECT_TRUE(program.finished());
  EXPECT_TRUE(teacher.waitFor("app-share off", tmark)) << teacher.lines().join('\n').toStdString();
  EXPECT_TRUE(pupil.waitFor("stage picture", mark)) << pupil.lines().join('\n').toStdString();

  // The teacher's classroom dies while it holds a program: the program's window stays.
  PatternWindow second(display.name());
  const quint64 kept = second.window();
  ASSERT_NE(kept, 0u);
  tmark = teacher.mark();
  teacher.send(QStringLiteral("share-app 图案窗口"));
  ASSERT_TRUE(teacher.waitFor("app-share on", tmark));
  ASSERT_TRUE(teacher.waitFor("stage app", tmark));
  teacher.kill();
  EXPECT_NE(platform::windowState(kept), platform::WindowState::Gone);
}

}  // namespace
