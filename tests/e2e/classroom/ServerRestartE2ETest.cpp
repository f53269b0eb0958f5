// The servers stop and start again on the same data folder and ports under a
// running class: the teacher's and a student's windows (processes of their own)
// come back to the class with pictures and sound without anybody touching
// anything, and no box is left open.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <filesystem>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Launcher.h"
#include "TestSupport.h"
#include "WindowMember.h"

namespace {

constexpr quint32 kRoom = 1001;
constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;

int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t length = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// The latest line of a member that starts with prefix.
QString latest(const WindowMember& member, const QString& prefix) {
  for (int i = member.lines().size() - 1; i >= 0; --i)
    if (member.lines()[i].startsWith(prefix))
      return member.lines()[i];
  return QString();
}

class ServerRestartE2E : public ::testing::Test {
protected:
  void SetUp() override {
    options_.dataDir = (std::filesystem::path(home_.home().toStdString()) / "servers").string();
    options_.demoMedia = false;
    // The system hands out the base only; another test may hold a port above it.
    std::string error;
    std::vector<std::string> notes;
    for (int attempt = 0; attempt < 20 && !started_; ++attempt) {
      options_.portBase = freePort();
      started_ = launcher_.start(options_, &error, &notes);
    }
    ASSERT_TRUE(started_) << error;
  }

  std::unique_ptr<WindowMember> window(const QString& account) {
    const int base = options_.portBase;
    return std::make_unique<WindowMember>(account, kRoom, QStringLiteral("127.0.0.1:%1").arg(base),
                                          quint16(base + 2), quint16(base + 1), home_.home());
  }

  // True when the member's latest report of each state is the one given.
  static bool shows(const WindowMember& member, const QStringList& states) {
    for (const QString& state : states) {
      const QString prefix = state.left(state.lastIndexOf(QLatin1Char(' ')) + 1);
      if (latest(member, prefix) != state)
        return false;
    }
    return true;
  }

  testsupport::TempHome home_;
  tavlaunch::LaunchOptions options_;
  tavlaunch::Launcher launcher_;
  bool started_ = false;
};

}  // namespace

TEST_F(ServerRestartE2E, TheClassComesBackWithPicturesAndSoundAfterTheServersRestart) {
  auto teacher = window("teacher");
  ASSERT_TRUE(teacher->waitFor("ready")) << teacher->lines().join('\n').toStdString();
  teacher->send("start-class");
  ASSERT_TRUE(teacher->waitFor("class running")) << teacher->lines().join('\n').toStdString();
  auto student = window("student1");
  ASSERT_TRUE(student->waitFor("ready")) << student->lines().join('\n').toStdString();
  teacher->send(QStringLiteral("open-video %1").arg(kStudent));

  const QStringList studentInClass{"class running", "main-video on",
                                   QStringLiteral("audio %1 on").arg(kTeacher), "boxes 0"};
  const QStringList teacherInClass{"class running", "main-video on",
                                   QStringLiteral("tile %1 on").arg(kStudent), "boxes 0"};
  ASSERT_TRUE(testsupport::waitUntil([&] { return shows(*student, studentInClass); }))
      << student->lines().join('\n').toStdString();
  ASSERT_TRUE(testsupport::waitUntil([&] { return shows(*teacher, teacherInClass); }))
      << teacher->lines().join('\n').toStdString();

  const int teacherMark = teacher->mark();
  const int studentMark = student->mark();
  launcher_.stop();
  // Both notice: the pictures go with the media server.
  ASSERT_TRUE(student->waitFor("main-video off", studentMark))
      << student->lines().join('\n').toStdString();
  ASSERT_TRUE(teacher->waitFor(QStringLiteral("tile %1 off").arg(kStudent), teacherMark))
      << teacher->lines().join('\n').toStdString();

  // Away long enough that each has tried and failed to come back at least twice.
  for (WindowMember* member : {teacher.get(), student.get()})
    ASSERT_TRUE(member->waitFor("media-retry 2"))
        << member->lines().join(QLatin1Char(10)).toStdString();

  std::string error;
  std::vector<std::string> notes;
  ASSERT_TRUE(launcher_.start(options_, &error, &notes)) << error;
  QElapsedTimer back;
  back.start();
  EXPECT_TRUE(testsupport::waitUntil([&] {
    return shows(*student, studentInClass) && shows(*teacher, teacherInClass);
  })) << "teacher:\n"
      << teacher->lines().mid(teacherMark).join('\n').toStdString() << "\nstudent:\n"
      << student->lines().mid(studentMark).join('\n').toStdString();
  std::printf("back in class %lld ms after the servers started again\n",
              static_cast<long long>(back.elapsed()));
  RecordProperty("back_in_class_ms", std::to_string(back.elapsed()));
  for (auto [member, mark] :
       {std::pair{teacher.get(), teacherMark}, {student.get(), studentMark}}) {
    EXPECT_FALSE(member->lines().mid(mark).join('\n').contains("closed"));
    EXPECT_FALSE(member->finished());
  }
}
