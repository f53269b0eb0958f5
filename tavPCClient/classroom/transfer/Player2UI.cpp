#include "Player2UI.h"

#include <QFile>
#include <QMutexLocker>

Player2UI::Player2UI(QObject* parent)
    : QObject(parent), factory_([](const QByteArray& path, video_play* observer, int speaker) {
        return vidora::create(path.constData(), observer, speaker);
      }) {}

Player2UI::~Player2UI() {
  stop();
}

bool Player2UI::start(const QString& path, int speaker) {
  stop();
  relay_ = std::make_unique<ThreadRelay>(this);
  player_.reset(factory_(QFile::encodeName(path), this, speaker));
  if (!player_ || player_->start() != 0) {
    stop();
    return false;
  }
  return true;
}

void Player2UI::stop() {
  // The player's thread ends inside the destructor; after it nothing more
  // arrives, and what it queued goes with its relay.
  player_.reset();
  relay_.reset();
  QMutexLocker lock(&mutex_);
  pending_ = QImage();
  posted_ = false;
}

void Player2UI::setTargetSource(std::function<QSize()> source) {
  QMutexLocker lock(&mutex_);
  target_ = std::move(source);
}

void Player2UI::on_play_progress(int seconds, int totalSeconds) {
  relay_->post([this, seconds, totalSeconds] { emit playProgress(seconds, totalSeconds); });
}

void Player2UI::on_video_frame(const unsigned char* rgb24, int width, int height) {
  if (!showPictures_)
    return;
  const QImage wrapped(rgb24, width, height, width * 3, QImage::Format_RGB888);
  if (wrapped.isNull())
    return;
  QSize target;
  {
    QMutexLocker lock(&mutex_);
    if (target_)
      target = target_();
  }
  QImage picture =
      target.isEmpty() || wrapped.size() == wrapped.size().scaled(target, Qt::KeepAspectRatio)
          ? wrapped.copy()
          : wrapped.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  if (picture.isNull())
    return;
  {
    QMutexLocker lock(&mutex_);
    pending_ = std::move(picture);
    if (posted_)
      return;
    posted_ = true;
  }
  relay_->post([this] { deliverFrame(); });
}

void Player2UI::deliverFrame() {
  QImage picture;
  {
    QMutexLocker lock(&mutex_);
    picture = std::move(pending_);
    pending_ = QImage();
    posted_ = false;
  }
  if (player_ && !picture.isNull())
    emit frameReady(picture);
}
