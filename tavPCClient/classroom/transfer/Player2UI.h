// One courseware video playing (vidora), its progress and pictures brought to
// the GUI thread. The player reports on its own thread; progress is relayed as
// it comes, pictures are scaled there to the size asked for and only the
// newest waits, so a busy GUI thread skips pictures instead of piling them up.
// Nothing arrives once the video was stopped.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <atomic>
#include <functional>
#include <memory>

#include "ThreadRelay.h"
#include "vidora/vidora.h"

class Player2UI : public QObject, public video_play {
  Q_OBJECT

public:
  // Makes a player for a local file (path in the local 8-bit encoding); null
  // when it cannot.
  using Factory = std::function<vidora*(const QByteArray& path, video_play* observer, int speaker)>;

  explicit Player2UI(QObject* parent = nullptr);
  ~Player2UI() override;

  void setFactory(Factory factory) { factory_ = std::move(factory); }
  // Plays path, stopping what played before; false when it cannot start.
  bool start(const QString& path, int speaker);
  void stop();
  bool isPlaying() const { return player_ != nullptr; }
  int setPause(bool paused) { return player_ ? player_->set_pause(paused) : -1; }
  int seek(int percent) { return player_ ? player_->seek(percent) : -1; }

  // Pictures are scaled to fit the size source gives; it is called on the
  // player's thread, so it must be safe there (no source: pictures as they are).
  void setTargetSource(std::function<QSize()> source);
  // While false pictures are dropped before they are converted (nobody sees them).
  void setShowPictures(bool show) { showPictures_ = show; }

  // video_play, on the player's thread.
  void on_play_progress(int seconds, int totalSeconds) override;
  void on_video_frame(const unsigned char* rgb24, int width, int height) override;

signals:
  void playProgress(qint64 seconds, qint64 total);
  void frameReady(QImage picture);

private:
  void deliverFrame();

  Factory factory_;
  std::unique_ptr<vidora> player_;
  std::unique_ptr<ThreadRelay> relay_;  // one per video played
  std::atomic<bool> showPictures_{true};

  QMutex mutex_;
  std::function<QSize()> target_;
  QImage pending_;
  bool posted_ = false;
};
