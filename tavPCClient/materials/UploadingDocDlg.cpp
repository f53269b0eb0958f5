#include "UploadingDocDlg.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "Convert2UI.h"
#include "LoginInfo.h"
#include "ShareRules.h"
#include "Upload2UI.h"

UploadingDocDlg::UploadingDocDlg(ClassroomContext& context, const QString& dataFolder,
                                 const QString& srcPath, QWidget* parent)
    : QDialog(parent),
      context_(context),
      srcPath_(srcPath),
      baseName_(QFileInfo(srcPath).completeBaseName()),
      conversion_(new Convert2UI(this)),
      status_(new QLabel(this)),
      progress_(new QProgressBar(this)) {
  setObjectName(QStringLiteral("UploadingDocDlg"));
  setWindowTitle(QStringLiteral("教案：%1").arg(baseName_));
  setMinimumWidth(360);
  const QString root = dataFolder.endsWith(QLatin1Char('/')) ? dataFolder : dataFolder + '/';
  outFolder_ =
      root +
      QStringLiteral("sharingfiles/%1/%2").arg(QString::number(context_.roomId()), baseName_);
  QDir().mkpath(outFolder_);
  status_->setObjectName(QStringLiteral("uploadStatus"));
  status_->setTextFormat(Qt::PlainText);
  status_->setText(QStringLiteral("正在上传教案..."));
  progress_->setObjectName(QStringLiteral("uploadProgress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->addWidget(status_);
  layout->addWidget(progress_);

  connect(conversion_, &Convert2UI::pageConverted, this, &UploadingDocDlg::__fc_progress);
  connect(conversion_, &Convert2UI::failed, this, &UploadingDocDlg::__fc_error);
  connect(conversion_, &Convert2UI::completed, this, &UploadingDocDlg::__fc_complete);
  connect(conversion_, &Convert2UI::documentSent, this, &UploadingDocDlg::__fc_upload_progress);
}

UploadingDocDlg::~UploadingDocDlg() {
  endClient();
}

QString UploadingDocDlg::statusText() const {
  return status_->text();
}

void UploadingDocDlg::setStatus(const QString& text) {
  status_->setText(text);
}

void UploadingDocDlg::start() {
  const ServerAddress& server = context_.entry().documentServer;
  Convert2UI::Job job;
  job.host = server.host;
  job.port = server.port > 0 && server.port <= 65535 ? static_cast<quint16>(server.port) : 0;
  job.source = srcPath_;
  job.outFolder = outFolder_;
  job.userId = context_.ownUserId();
  job.roomId = context_.roomId();
  job.credential = context_.entry().credential;
  if (!conversion_->start(job))
    __fc_error(fc_error_file);
}

void UploadingDocDlg::restart(const QString& srcPath) {
  if (finished_ || closing_ || failed_)
    return;
  srcPath_ = srcPath;
  start();
}

void UploadingDocDlg::endClient() {
  conversion_->stop();
}

// ---- the conversion's reports ----

void UploadingDocDlg::__fc_upload_progress(unsigned curr, unsigned total) {
  if (totalPages_ != 0 || total == 0)
    return;
  progress_->setValue(int(qint64(curr) * 100 / total));
  // The document is at the server; its pages follow as they are converted.
  if (curr >= total) {
    setStatus(QStringLiteral("正在转换教案..."));
    progress_->setValue(0);
  }
}

void UploadingDocDlg::__fc_progress(int curr, int total, QString pageFile) {
  Q_UNUSED(pageFile)
  if (closing_ || finished_ || total < 1 || curr < 1 || curr > total)
    return;
  if (totalPages_ == 0 || curr == 1) {
    totalPages_ = total;
    setWindowTitle(QStringLiteral("教案：%1（共%2页）").arg(baseName_, QString::number(total)));
  }
  setStatus(QStringLiteral("第%1页转换完成...").arg(curr));
  const QString page =
      QDir(outFolder_).filePath(QStringLiteral("%1_%2.png").arg(baseName_, QString::number(curr)));
  // A page converted again on a retry is written anew: it is scaled again too,
  // so the local copy stays what the room's files hold.
  QImageReader reader(page);
  const QByteArray format = reader.format();
  QImage image = reader.read();
  if (image.isNull()) {
    context_.toast(QStringLiteral("缓存不足，教案页上传失败！"));
    return;
  }
  const QSize size = share::sharedSize(image.size());
  if (size != image.size()) {
    image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!image.save(page, format.isEmpty() ? "PNG" : format.constData())) {
      context_.toast(QStringLiteral("缓存不足，教案页上传失败！"));
      return;
    }
  }
  if (uploaded_.contains(page) || uploading_.contains(page)) {
    // Already in the room's files (or on its way there).
    if (uploaded_.contains(page))
      slot_onePageUploadComplete(page, true);
    return;
  }
  uploading_.insert(page);
  auto* upload = new Upload2UI(fileServer(), page, this);
  connect(upload, &Upload2UI::signalUploadComplete, this, [this, upload](QString path, bool ok) {
    upload->deleteLater();
    slot_onePageUploadComplete(path, ok);
  });
  if (!upload->start()) {
    upload->deleteLater();
    slot_onePageUploadComplete(page, false);
  }
}

void UploadingDocDlg::slot_onePageUploadComplete(QString path, bool ok) {
  uploading_.remove(path);
  if (!ok) {
    __fc_error(fc_error_network);
    return;
  }
  uploaded_.insert(path);
  if (totalPages_ > 0)
    progress_->setValue(int(qint64(uploaded_.size()) * 100 / totalPages_));
  if (finished_ || totalPages_ == 0 || uploaded_.size() < totalPages_)
    return;
  finished_ = true;
  endClient();
  setStatus(QStringLiteral("教案上传成功！"));
  context_.toast(QStringLiteral("教案上传成功！"));
  emit signal_uploadDocFinished(baseName_, totalPages_);
  QTimer::singleShot(kCloseDelayMs, this, [this] { close(); });
}

void UploadingDocDlg::__fc_complete() {
  // Every page was converted; the dialog finishes when the last one is uploaded.
}

QString UploadingDocDlg::failureText(int err) {
  switch (err) {
    case fc_error_file:
      return QStringLiteral("教案文件无法读取，教案上传失败！");
    case fc_error_convert:
      return QStringLiteral("教案文件已损坏，无法转换！");
    case fc_error_unsupported:
      return QStringLiteral("教案文件格式不正确，无法转换！");
    case fc_error_too_large:
      return QStringLiteral("教案文件过大，无法上传！");
    case fc_error_too_many_pages:
      return QStringLiteral("教案页数过多，无法转换！");
    case fc_error_encrypted:
      return QStringLiteral("教案文件已加密，无法转换！");
    case fc_error_timed_out:
      return QStringLiteral("教案转换超时，教案上传失败！");
    case fc_error_refused:
      return QStringLiteral("没有上传教案的权限！");
    default:
      return QString();  // a network failure: tried again
  }
}

void UploadingDocDlg::__fc_error(int err) {
  if (finished_ || closing_ || failed_)
    return;
  qWarning() << "lesson plan conversion failed:" << err << srcPath_;
  endClient();
  // What trying again cannot change ends the upload at once, saying why.
  const QString why = failureText(err);
  if (!why.isEmpty()) {
    fail(why);
    return;
  }
  if (retries_ > 0) {
    --retries_;
    setStatus(QStringLiteral("教案上传失败！即将开始重新上传！"));
    context_.toast(QStringLiteral("教案上传失败！即将开始重新上传！"));
    const QString path = srcPath_;
    QTimer::singleShot(kRetryDelayMs, this, [this, path] {
      if (!finished_ && !closing_)
        emit _retry(path);
    });
    return;
  }
  fail(QStringLiteral("网络不给力，教案上传失败！"));
}

void UploadingDocDlg::fail(const QString& why) {
  failed_ = true;
  setStatus(why);
  context_.toast(why);
}

// ---- closing ----

void UploadingDocDlg::reject() {
  close();
}

void UploadingDocDlg::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  // Nothing is lost by closing a finished or failed upload: no question then.
  if (!finished_ && !failed_ &&
      !context_.dialogs().confirm(
          QStringLiteral("关闭上传窗口将会导致上传终止，您确定要放弃上传教案吗？"), this)) {
    event->ignore();
    return;
  }
  closing_ = true;
  endClient();
  event->accept();
  emit _close();
  deleteLater();
}

transfer::FileServer UploadingDocDlg::fileServer() const {
  transfer::FileServer server;
  const ServerAddress& address = context_.entry().fileServer;
  server.host = address.host;
  server.port = address.port > 0 && address.port <= 65535 ? quint16(address.port) : 0;
  server.ticket = LoginInfo::current().ticket;
  server.ownUserId = context_.ownUserId();
  server.roomId = context_.roomId();
  return server;
}
