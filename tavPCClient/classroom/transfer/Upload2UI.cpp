#include "Upload2UI.h"

#include <QDebug>

Upload2UI::Upload2UI(const transfer::FileServer& server, const QString& localPath, QObject* parent)
    : QObject(parent), server_(server), path_(localPath) {}

Upload2UI::~Upload2UI() {
  releaseTransfer();
}

bool Upload2UI::start() {
  releaseTransfer();
  relay_ = std::make_unique<ThreadRelay>(this);
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
  // No report follows the release; those still on their way are dropped.
  relay_.reset();
}

void Upload2UI::progress(unsigned curr, unsigned total) {
  relay_->post([this, curr, total] { __progress(curr, total); });
}
void Upload2UI::trans_error(int code) {
  relay_->post([this, code] { __trans_error(code); });
}
void Upload2UI::complete() {
  relay_->post([this] { __complete(); });
}

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
