#include "Download2UI.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

Download2UI::Download2UI(const transfer::FileServer& server, quint32 senderId,
                         const QString& localPath, QObject* parent)
    : QObject(parent), server_(server), senderId_(senderId), path_(localPath) {}

Download2UI::~Download2UI() {
  releaseTransfer();
}

bool Download2UI::start() {
  releaseTransfer();
  relay_ = std::make_unique<ThreadRelay>(this);
  transfer_ = transfer::createDownload(this, server_, senderId_, path_);
  if (!transfer_)
    qWarning() << "chat download: cannot start" << path_;
  return transfer_ != nullptr;
}

void Download2UI::releaseTransfer() {
  if (transfer_) {
    transfer_->release(1);
    transfer_ = nullptr;
  }
  relay_.reset();
}

void Download2UI::progress(unsigned curr, unsigned total) {
  relay_->post([this, curr, total] { __progress(curr, total); });
}
void Download2UI::trans_error(int code) {
  relay_->post([this, code] { __trans_error(code); });
}
void Download2UI::complete() {
  relay_->post([this] { __complete(); });
}

void Download2UI::finish(int percent) {
  if (ended_)
    return;
  ended_ = true;
  releaseTransfer();
  emit signalDownloadProgress(percent, path_);
  deleteLater();
}

void Download2UI::__progress(quint32 curr, quint32 total) {
  if (!transfer_ || ended_)
    return;
  const int percent = total == 0 ? (curr == total ? 100 : 0)
                                 : static_cast<int>(float(curr) / float(total) * 100.0f);
  if (curr == total) {
    // Done once the file is in place; otherwise the end report brings it.
    if (QFileInfo::exists(path_))
      finish(100);
    return;
  }
  const int shown = qBound(0, percent, 99);
  if (shown == lastPercent_)
    return;
  lastPercent_ = shown;
  emit signalDownloadProgress(shown, path_);
}

void Download2UI::__trans_error(int code) {
  if (!transfer_ || ended_)
    return;
  if (code == trans_error_file || code == trans_error_refused) {
    qWarning() << "chat download failed:" << path_ << "code" << code;
    finish(-1);
    return;
  }
  releaseTransfer();
  if (++retries_ > kMaxRetries) {
    qWarning() << "chat download given up after" << kMaxRetries << "attempts:" << path_;
    finish(-1);
    return;
  }
  QTimer::singleShot(kRetryPauseMs, this, [this] {
    if (ended_)
      return;
    if (!start())
      finish(-1);
  });
}

void Download2UI::__complete() {
  if (!transfer_ || ended_)
    return;
  finish(QFileInfo::exists(path_) ? 100 : -1);
}
