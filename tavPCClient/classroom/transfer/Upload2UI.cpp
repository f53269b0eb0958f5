#include "Upload2UI.h"

#include <QDebug>

Upload2UI::Upload2UI(const transfer::FileServer& server, const QString& localPath, QObject* parent)
    : QObject(parent), server_(server), path_(localPath) {
  connect(this, &Upload2UI::_progress, this, &Upload2UI::__progress);
  connect(this, &Upload2UI::_trans_error, this, &Upload2UI::__trans_error);
  connect(this, &Upload2UI::_complete, this, &Upload2UI::__complete);
}

Upload2UI::~Upload2UI() { releaseTransfer(); }

bool Upload2UI::start() {
  releaseTransfer();
  transfer_ = transfer::createUpload(this, server_, path_);
  if (!transfer_)
    qWarning() << "upload: cannot start" << path_;
  return transfer_ != nullptr;
}

void Upload2UI::releaseTransfer() {
  if (transfer_) {
    transfer_->release(1);
    transfer_ = nullptr;
  }
}

void Upload2UI::progress(unsigned curr, unsigned total) { emit _progress(curr, total); }
void Upload2UI::trans_error(int code) { emit _trans_error(code); }
void Upload2UI::complete() { emit _complete(); }

void Upload2UI::__progress(quint32 curr, quint32 total) {
  if (!transfer_)
    return;
  // 100 waits for the server's answer: the file is only there once it was taken.
  int percent = total == 0 ? 0 : static_cast<int>(double(curr) / double(total) * 100.0);
  percent = qBound(0, percent, 99);
  if (percent == lastPercent_)
    return;
  lastPercent_ = percent;
  emit signalUploadProgress(percent);
}

void Upload2UI::__trans_error(int code) {
  if (!transfer_)
    return;
  qWarning() << "upload failed:" << path_ << "code" << code;
  releaseTransfer();
  emit signalUploadProgress(-1);
  emit signalUploadComplete(path_, false);
}

void Upload2UI::__complete() {
  if (!transfer_)
    return;
  releaseTransfer();
  emit signalUploadProgress(100);
  emit signalUploadComplete(path_, true);
}
