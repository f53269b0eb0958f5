// tav-gallery: renders the client's windows into PNG files so their look can be
// checked without clicking through the program.
//   tav-gallery OUTPUT_DIR [SERVICE_HOST ACCOUNT PASSWORD [ROOM_ID]]
// With a room id it also enters that room (from the program's folder, where the media
// library finds its settings), starts the class when the account may, and renders the
// classroom.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>
#include <functional>

#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include "ClientStartup.h"

#include "ClassControl.h"
#include "ClassInformationWidget.h"
#include "Classroom.h"
#include "ClassroomContext.h"
#include "DataFolder.h"
#include "DeviceTestPage.h"
#include "LoadingWidget.h"
#include "LocalConfig.h"
#include "LoginDialog.h"
#include "MediaControl.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "RoomContext.h"
#include "RoomSession.h"
#include "UserDialog.h"
#include "WelcomeDlg.h"
#include "libpavo/libpavo.h"

namespace {
bool waitFor(const std::function<bool()>& condition, int ms) {
  QDeadlineTimer deadline(ms);
  while (!condition()) {
    if (deadline.hasExpired())
      return false;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

bool save(QWidget& widget, const QString& dir, const QString& name) {
  widget.show();
  QApplication::processEvents();
  const bool ok = widget.grab().save(dir + '/' + name + ".png");
  QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << dir << '/' << name << ".png\n";
  return ok;
}
bool saveClassroom(UserDialog& lobby, quint32 roomId, const QString& dir) {
  lobby.slot_ButtonTeachClass();
  ClassInformationWidget* card = nullptr;
  for (auto* list : {&lobby.createdCards(), &lobby.joinedCards()})
    for (ClassInformationWidget* c : *list)
      if (c->roomId() == roomId)
        card = c;
  if (!card) {
    QTextStream(stderr) << "room " << roomId << " is not in the lobby\n";
    return false;
  }
  lobby.slot_EnterClassroom(card);
  if (!waitFor([&] { return lobby.classroom() && lobby.classroom()->mcuConnected(); }, 20000)) {
    QTextStream(stderr) << "the classroom did not connect to the media server\n";
    return false;
  }
  Classroom* room = lobby.classroom();
  auto* session = room->findChild<RoomSession*>();
  auto* control = room->findChild<MediaControl*>();
  auto* context = room->findChild<ClassroomContext*>();
  if (RoomContext::current().hasTeacherRights() && !RoomContext::current().classInProgress) {
    room->findChild<ClassControl*>()->btnStartClass_clicked();
    waitFor([] { return RoomContext::current().classInProgress; }, 10000);
  }
  // Others may still be coming in; then open every member's camera the way the teacher
  // would, and let pictures arrive.
  waitFor([&] { return session->members().size() >= 3; }, 40000);
  for (quint32 id : session->members().keys())
    if (id != room->entry().ownUserId && !session->members().value(id).videoOn)
      control->onOperateVideo(id);
  waitFor([] { return false; }, 4000);
  const bool saved = save(*room, dir, "classroom");
  // End the class so the room is left as it was found.
  if (session->isClassStarter(room->entry().ownUserId))
    context->classFloor().stopClass(room->entry().ownUserId);
  waitFor([] { return !RoomContext::current().classInProgress; }, 5000);
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    QTextStream(stderr) << "usage: tav-gallery OUTPUT_DIR\n";
    return 2;
  }
  ClientStartup::applyLook(app);
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(dir);
  bool ok = true;

  LoginDialog login;
  ok &= save(login, dir, "login");
  login.statusLabel()->setText(QStringLiteral("您的账号已在其他地方登陆！"));
  login.statusLabel()->show();
  ok &= save(login, dir, "login-status");

  QNMessageBox ask;
  ask.setMessage(QStringLiteral("确定要停课吗？"), QStringLiteral("确定"), QStringLiteral("取消"),
                 -1);
  ok &= save(ask, dir, "messagebox-question");
  QNMessageBox notice;
  notice.setMessage(QStringLiteral("程序已运行，不能重复运行！"), QString(), QString(), -1);
  ok &= save(notice, dir, "messagebox-notice");

  QWidget window;
  window.resize(600, 400);
  window.setObjectName("backdrop");
  window.setStyleSheet("QWidget#backdrop { background: #f5f7fa; }");
  window.show();
  Prompt::instance()->showMessage(&window, QStringLiteral("保存成功！"));
  ok &= save(window, dir, "prompt");

  WelcomeDlg welcome;
  ok &= save(welcome, dir, "welcome");

  QWidget veiled;
  veiled.resize(480, 300);
  veiled.setObjectName("backdrop");
  veiled.setStyleSheet("QWidget#backdrop { background: #f5f7fa; }");
  LoadingWidget loading(QStringLiteral("正在进入教室..."), &veiled);
  veiled.show();
  loading.start();
  ok &= save(veiled, dir, "loading");

  // With a running service: sign in and show the lobby as a user sees it.
  //   tav-gallery DIR HOST:PORT ACCOUNT PASSWORD
  if (argc >= 5) {
    LocalConfig::instance()->setServerIP(QString::fromLocal8Bit(argv[2]));
    auto* login = new LoginDialog;
    LoginDialog::setCurrent(login);
    login->show();
    login->accountBox()->setEditText(QString::fromLocal8Bit(argv[3]));
    login->passwordEdit()->setText(QString::fromLocal8Bit(argv[4]));
    login->loginButton()->click();
    if (!waitFor([&] { return login->lobby() && login->lobby()->isVisible(); }, 20000)) {
      QTextStream(stderr) << "login failed: " << login->statusLabel()->text() << '\n';
      return 1;
    }
    UserDialog* lobby = login->lobby();
    waitFor([&] { return !lobby->createdCards().isEmpty() && !lobby->versionText().isEmpty(); },
            10000);
    waitFor([] { return false; }, 1500);  // posters
    ok &= save(*lobby, dir, "lobby-teach");
    lobby->slot_ButtonStudyClass();
    ok &= save(*lobby, dir, "lobby-study");
    lobby->slot_ButtonPrepare();
    auto* devices = lobby->findChild<DeviceTestPage*>();
    auto* cameras = lobby->findChild<QComboBox*>(QStringLiteral("cameraList"));
    const int fake = cameras->findText(QStringLiteral("虚拟摄像头 (测试)"));
    if (fake >= 0)
      cameras->setCurrentIndex(fake);
    devices->slot_ButtonOpenCamera();
    waitFor([] { return false; }, 1500);
    ok &= save(*lobby, dir, "lobby-devices");
    devices->slot_ButtonCloseCamera();
    if (argc >= 6)
      ok &= saveClassroom(*lobby, QString::fromLocal8Bit(argv[5]).toUInt(), dir);
  }
  return ok ? 0 : 1;
}
