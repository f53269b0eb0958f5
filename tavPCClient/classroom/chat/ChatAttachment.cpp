#include "ChatAttachment.h"

#include <QTimer>

#include "ClipPlayer2UI.h"
#include "Download2UI.h"
#include "Upload2UI.h"

ChatAttachment::ChatAttachment(QObject* parent)
    : QObject(parent), player_(new ClipPlayer2UI(this)) {
  connect(player_, &ClipPlayer2UI::playProgress, this, &ChatAttachment::playProgress);
}

ChatAttachment::~ChatAttachment() = default;

bool ChatAttachment::uploading() const {
  return full_ || lite_;
}

void ChatAttachment::upload(const QString& path, Stage stage) {
  QPointer<Upload2UI>& slot = stage == kThumbnailUpload ? lite_ : full_;
  if (slot)
    slot->deleteLater();
  auto* transfer = new Upload2UI(server_, path, this);
  slot = transfer;
  connect(transfer, &Upload2UI::signalUploadProgress, this,
          [this, stage](int percent) { emit uploadProgress(stage, percent); });
  connect(transfer, &Upload2UI::signalUploadComplete, this,
          [this, stage, transfer](QString done, bool ok) {
            transfer->deleteLater();
            emit uploadComplete(stage, done, ok);
          });
  if (!transfer->start()) {
    // Told later, like every other end of a transfer.
    QTimer::singleShot(0, transfer, [this, stage, transfer, path] {
      transfer->deleteLater();
      emit uploadProgress(stage, -1);
      emit uploadComplete(stage, path, false);
    });
  }
}

void ChatAttachment::download(const QString& path, Purpose purpose) {
  auto* transfer = new Download2UI(server_, senderId_, path, this);
  connect(transfer, &Download2UI::signalDownloadProgress, this,
          [this, purpose](int percent, QString done) {
            emit downloadProgress(purpose, percent, done);
          });
  if (!transfer->start()) {
    QTimer::singleShot(0, transfer, [this, purpose, transfer, path] {
      transfer->deleteLater();
      emit downloadProgress(purpose, -1, path);
    });
  }
}

bool ChatAttachment::play(const QString& path, int speaker) {
  return player_->start(path, speaker);
}

void ChatAttachment::stopPlaying() {
  player_->stop();
}

int ChatAttachment::setPlayState(int state) {
  return player_->setPlayState(state);
}

int ChatAttachment::seekPercent(int percent) {
  return player_->seekPercent(percent);
}
