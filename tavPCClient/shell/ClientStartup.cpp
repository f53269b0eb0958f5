#include "ClientStartup.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QPalette>
#include <QPointer>
#include <QSocketNotifier>
#include <QTranslator>
#include <memory>

#include "DataFolder.h"
#include "ForUpdate.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "LoginDialog.h"
#include "MessageLog.h"
#include "QNMessageBox.h"
#include "WelcomeDlg.h"
#include "platform/platform.h"

void ClientStartup::loadTranslations(QApplication& app) {
  // Qt's own texts (file dialogs, standard buttons, context menus) in Chinese,
  // as every text of ours is.
  static QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                   QStringLiteral("_"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
    app.installTranslator(&qtTexts);
  else
    qWarning() << "Qt's Chinese translations are not installed: standard dialogs speak English";
}

void ClientStartup::applyLook(QApplication& app) {
  QPalette palette = app.palette();
  palette.setColor(QPalette::PlaceholderText, QColor(0xa9, 0xad, 0xb3));
  app.setPalette(palette);
  QFile style(QStringLiteral(":/res/tav_add/style.qss"));
  if (style.open(QIODevice::ReadOnly))
    app.setStyleSheet(QString::fromUtf8(style.readAll()));
}

bool ClientStartup::prepareDataFolder(const QString& appDir, const QString& dataFolder) {
  bool updated = false;
  if (QFile::exists(appDir + '/' + QString::fromStdString(platform::executableName("NewUpdate")))) {
    DataFolder::removeRecursively(dataFolder);
    WelcomeDlg welcome;
    welcome.exec();
    updated = true;
  }
  // The parent folders are not guaranteed on every system, so make them too.
  if (!QDir(dataFolder).exists() && !QDir().mkpath(dataFolder))
    qWarning() << "cannot create the data folder" << dataFolder;
  return updated;
}

bool ClientStartup::openDatabase(const QString& dataFolder) {
  return LocalDatabase::open(dataFolder + QStringLiteral("tavQN"));
}

int ClientStartup::run(int argc, char** argv) {
  platform::returnFreedMemory();  // before any thread exists
  QApplication app(argc, argv);
  // Asked to quit (the updater, the session ending): the windows close and the
  // store is written as on any other way out.
  const int quit = platform::quitRequests();
  if (quit >= 0) {
    auto* requests = new QSocketNotifier(quit, QSocketNotifier::Read, &app);
    QObject::connect(requests, &QSocketNotifier::activated, &app, [&app] {
      platform::drainQuitRequests();
      qInfo() << "asked to quit";
      app.quit();
    });
  }
  loadTranslations(app);
  applyLook(app);
  platform::installCrashHandler();
  QNMessageBox::setGlobal(new QNMessageBox);

  // Held for the life of the process.
  static std::unique_ptr<platform::SingleInstance> only;
  only = std::make_unique<platform::SingleInstance>("TavPcClientOnly");
  if (only->alreadyRunning()) {
    only.reset();
    QNMessageBox* box = QNMessageBox::global();
    box->setMessage(QStringLiteral("程序已运行，不能重复运行！"), QString(), QString(), 2000);
    box->exec();
    delete box;
    return 0;
  }

  DataFolder::setPath(QString::fromStdString(platform::userDataDir()));
  const QString dataFolder = DataFolder::path();
  prepareDataFolder(QCoreApplication::applicationDirPath(), dataFolder);
  MessageLog::install();
  QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));
  openDatabase(dataFolder);
  // Settings are read before the first window needs them; a first run writes
  // the defaults here.
  LocalConfig::instance();

  LoginDialog::setCurrent(new LoginDialog);
  LoginDialog::current()->show();
  qInfo() << "client started, login window shown";

  auto updater = std::make_unique<ForUpdate>();
  updater->start(QThread::InheritPriority);

  const int result = app.exec();
  updater->wait();
  return result;
}
