// tav-gallery: renders the client's windows into PNG files so their look can be
// checked without clicking through the program.
//   tav-gallery OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>

#include "ClientStartup.h"
#include "LoginDialog.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "WelcomeDlg.h"

namespace {
bool save(QWidget& widget, const QString& dir, const QString& name) {
  widget.show();
  QApplication::processEvents();
  const bool ok = widget.grab().save(dir + '/' + name + ".png");
  QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << dir << '/' << name << ".png\n";
  return ok;
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
  return ok ? 0 : 1;
}
