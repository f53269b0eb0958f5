#include "updater/UpdateManager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonValue>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <cerrno>

#include "HttpRequest.h"
#include "LocalConfig.h"
#include "ServiceApi.h"
#include "platform/platform.h"
#include "updater/DownloadUpdateDialog.h"
#include "updater/FileVersion.h"
#include "updater/UpdatePrompt.h"
#include "updater/UpdateSignature.h"

namespace {
constexpr int kMaxUrlLength = 2048;

bool isDownloadUrl(const QString& text) {
  if (text.isEmpty() || text.size() > kMaxUrlLength)
    return false;
  const QUrl url(text, QUrl::StrictMode);
  return url.isValid() && !url.host().isEmpty() &&
         (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}
}  // namespace

UpdateManager::Setup UpdateManager::installedSetup() {
  Setup setup;
  setup.appDir = QCoreApplication::applicationDirPath();
  setup.dataFolder = QString::fromStdString(platform::userDataDir());
  setup.installerFolder =
      QString::fromStdString(platform::localAppDataDir()) + QStringLiteral("/TavPcClient");
  setup.publicKey = UpdateSignature::builtInPublicKey();
  setup.ownVersion = QStringLiteral(TAV_UPDATER_VERSION);
  setup.endProcess = [](const std::string& path) {
    // A client (or updater) run from this install by this user; never one
    // of another user or another install of the same name.
    const std::optional<std::vector<int>> ended = platform::endProcessesOf(path, kQuitGraceMs);
    if (!ended)
      qDebug() << "kill task faild, the process list cannot be read:" << errno;
    return ended.value_or(std::vector<int>{});
  };
  return setup;
}

UpdateManager::UpdateManager(QObject* parent) : UpdateManager(installedSetup(), parent) {}

UpdateManager::UpdateManager(Setup setup, QObject* parent)
    : QThread(parent),
      setup_(std::move(setup)),
      log_(setup_.dataFolder + QStringLiteral("TavUpdateLog.txt")),
      progressDialog_(std::make_unique<DownloadUpdateDialog>()) {
  // Read only: the settings belong to the client.
  const QSettings config(setup_.dataFolder + QStringLiteral("config.ini"), QSettings::IniFormat);
  host_ = config.value(QStringLiteral("conf/serverIP")).toString();
  if (host_.isEmpty())
    host_ = QString::fromLatin1(kDefaultServiceHost);
}

UpdateManager::~UpdateManager() = default;

QString UpdateManager::exe(const char* base) const {
  return QString::fromStdString(platform::executableName(base));
}

void UpdateManager::CheckUpdate() {
  if (host_.isEmpty())
    return;
  log(QStringLiteral("CheckUpdate getSoftwareVersionsTop \n"));
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &UpdateManager::onGetVersionFinished);
  // An answer that is not an object, or none at all, counts as no answer.
  connect(request, qOverload<QJsonArray>(&HttpRequest::requestFinshed), this,
          [this] { onGetVersionFinished(QJsonObject()); });
  connect(request, &QObject::destroyed, this, [this] {
    if (!versionAnswered_)
      onGetVersionFinished(QJsonObject());
  });
  const ServiceEndpoint& endpoint = ServiceApi::kGetSoftwareVersionsTop;
  request->request(QStringLiteral("http://%1/%2").arg(host_, QLatin1String(endpoint.path)),
                   QLatin1String(endpoint.body), HttpRequest::kJson);
}

void UpdateManager::onGetVersionFinished(QJsonObject obj) {
  if (versionAnswered_)
    return;
  versionAnswered_ = true;
  if (obj.isEmpty()) {
    log(QStringLiteral("CheckUpdate onGetVersionFinished isEmpty \n"));
    finish();
    return;
  }
  if (obj.contains(QLatin1String("code")) && obj.value(QLatin1String("code")).toInt(-1) != 0) {
    log(QStringLiteral("CheckUpdate onGetVersionFinished Finished \n"));
    finish();
    return;
  }
  const QString url = obj.value(QLatin1String("url")).toString();
  const QString info = obj.value(QLatin1String("info")).toString();
  // What the service says is checked before anything acts on it.
  if (!FileVersion::isValid(info) || !isDownloadUrl(url)) {
    log(QStringLiteral("CheckUpdate onGetVersionFinished Finished \n"));
    finish();
    return;
  }
  const QString ver = FileVersion::read(setup_.appDir + '/' + exe("TavPcClient"));
  if (ver.isEmpty()) {
    // A client without a readable version (damaged, or replaced by hand) is
    // repaired, but never with a release older than this updater's own: an
    // answer must not roll the install back.
    log(QStringLiteral("CheckUpdate getFileVertion ver unknown, updater %1 \n")
            .arg(setup_.ownVersion));
    log(QStringLiteral("CheckUpdate getFileVertion fileinfo %1 \n").arg(info));
    if (FileVersion::larger(info, setup_.ownVersion) == info) {
      startUpdate(url, obj);
      return;
    }
    log(QStringLiteral("CheckUpdate onGetVersionFinished Finished \n"));
    finish();
    return;
  }
  const QString lagerVer = FileVersion::larger(ver, info);
  log(QStringLiteral("CheckUpdate getFileVertion ver %1 \n").arg(ver));
  log(QStringLiteral("CheckUpdate getFileVertion fileinfo %1 \n").arg(info));
  log(QStringLiteral("CheckUpdate getFileVertion lagerVer %1 \n").arg(lagerVer));
  if (lagerVer == info && lagerVer != ver) {
    startUpdate(url, obj);
    return;
  }
  log(QStringLiteral("CheckUpdate onGetVersionFinished Finished \n"));
  finish();
}

void UpdateManager::startUpdate(const QString& url, const QJsonObject& obj) {
  // Only a signed release is offered; without a signature nothing is downloaded
  // and the running client is left alone.
  signature_ = UpdateSignature::decode(obj.value(QLatin1String("signature")).toString());
  if (signature_.isEmpty()) {
    log(QStringLiteral("CheckUpdate onGetVersionFinished signature missing \n"));
    finish();
    return;
  }
  expectedVersion_ = obj.value(QLatin1String("info")).toString();
  UpdateProgram(url);
}

void UpdateManager::UpdateProgram(const QString& url) {
  if (host_.isEmpty()) {
    finish();
    return;
  }
  log(QStringLiteral("UpdateProgram getFileVertion newUrl %1 \n").arg(url));
  // Whatever the user presses, the update goes on. The client keeps running
  // through the download: it is ended only once a checked installer is written.
  UpdatePrompt prompt;
  prompt.exec();

  progressDialog_->setProgress(0);
  progressDialog_->show();
  progressDialog_->raise();
  auto* request = new HttpRequest;
  request->setTimeout(kDownloadTimeoutMs);
  request->setMaxBytes(kMaxInstallerBytes);
  connect(request, &HttpRequest::downloadProgress, this, &UpdateManager::onGetExeProgress);
  connect(request, qOverload<QByteArray>(&HttpRequest::requestFinshed), this,
          &UpdateManager::onGetExeFinished);
  request->request(url, QString(), HttpRequest::kBytes);
  log(QStringLiteral("UpdateProgram onGetExeProgress GetData %1\n").arg(url));
}

void UpdateManager::onGetExeProgress(qint64 received, qint64 total) {
  if (total <= 0)
    return;  // not known yet
  const qint64 percent = qBound<qint64>(0, received * 100 / total, 100);
  progressDialog_->setProgress(static_cast<int>(percent));
  if (percent == 100 && !closeScheduled_) {
    closeScheduled_ = true;
    QTimer::singleShot(1000, this, &UpdateManager::closeProcessDlg);
  }
}

void UpdateManager::closeProcessDlg() {
  progressDialog_->close();
}

void UpdateManager::onGetExeFinished(QByteArray data) {
  const QString length =
      QStringLiteral("UpdateProgram getFileVertion data.length() %1 \n").arg(data.size());
  log(length);
  if (data.isEmpty()) {
    log(QStringLiteral("CheckUpdate onGetExeFinished Finished NULL\n"));
  } else if (!UpdateSignature::verify(data, signature_, setup_.publicKey)) {
    // Not what the release key signed: nothing is written, nothing started.
    log(QStringLiteral("CheckUpdate onGetExeFinished signature invalid \n"));
  } else if (FileVersion::fromBytes(data) != expectedVersion_) {
    // A signed installer of another release (an older one passed off as new).
    log(QStringLiteral("CheckUpdate onGetExeFinished version mismatch %1 \n")
            .arg(FileVersion::fromBytes(data)));
  } else {
    QDir().mkpath(setup_.installerFolder);
    const QString path = setup_.installerFolder + '/' + exe("AutoUpdate");
    log(QStringLiteral("UpdateProgram getFileVertion sUpdateExePath %1 \n").arg(path));
    log(length);
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(data) == data.size() &&
                         file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner) &&
                         file.commit();
    if (!written) {
      log(QStringLiteral("CheckUpdate onGetExeFinished write error %1 \n").arg(file.errorString()));
    } else {
      // Only now, with the installer that will replace it in place.
      endInstalled("TavPcClient");
      // No arguments; the installer learns where the client lives from its environment.
      QProcess installer;
      installer.setProgram(path);
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(QStringLiteral("TAV_INSTALL_DIR"), setup_.appDir);
      installer.setProcessEnvironment(env);
      installer.startDetached();
      log(QStringLiteral("onGetExeFinished startDetached %1 \n").arg(path));
      log(QStringLiteral("CheckUpdate onGetExeFinished Finished OK \n"));
    }
  }
  log(QStringLiteral("CheckUpdate onGetExeFinished Finished \n"));
  finish();
}

void UpdateManager::endInstalled(const char* base) {
  const QString program = setup_.appDir + '/' + exe(base);
  QStringList pids;
  for (int pid : setup_.endProcess(program.toStdString()))
    pids << QString::number(pid);
  // Whom it ended, by process id; nothing when none of it ran.
  if (!pids.isEmpty())
    log(QStringLiteral("UpdateProgram KillProcess %1 pid %2\n").arg(program, pids.join(',')));
}

void UpdateManager::finish() {
  if (finished_)
    return;
  finished_ = true;
  emit onFinished(0);
  // The updater itself exits with code 0 once onFinished is handled; a leftover
  // new updater must not keep running beside the client.
  endInstalled("NewUpdate");
}
