// One voice clip playing (vocalia), its progress brought to the GUI thread.
// The player reports on its own thread; the reports are relayed to this
// object's thread, and none arrives once the clip was stopped.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "ThreadRelay.h"
#include "vocalia/vocalia.h"

class ClipPlayer2UI : public QObject, public notify_progress2ui {
  Q_OBJECT

public:
  using Maker =
      std::function<libvocalia_play*(notify_progress2ui*, const QString& path, int speaker)>;
  // Replaces how players are made (empty restores vocalia's); for tests.
  static void setMaker(Maker maker);

  explicit ClipPlayer2UI(QObject* parent = nullptr);
  ~ClipPlayer2UI() override;

  // Plays path on speaker (an index of the output list), stopping what played
  // before; false when the clip cannot be played.
  bool start(const QString& path, int speaker);
  void stop();
  bool isPlaying() const { return player_ != nullptr; }
  // 1 resumes, 2 pauses; seeks to percent of the clip. 0 done, -1 refused.
  int setPlayState(int state);
  int seekPercent(int percent);

  // notify_progress2ui, on the player's thread.
  void play_progress(unsigned curr, unsigned total) override;

signals:
  // curr of total seconds played; once more at the end with curr == total.
  void playProgress(quint32 curr, quint32 total);

private:
  libvocalia_play* player_ = nullptr;
  std::unique_ptr<ThreadRelay> relay_;  // one per clip played
};
