#include "ClipPlayer2UI.h"

namespace {
ClipPlayer2UI::Maker& maker() {
  static ClipPlayer2UI::Maker made;
  return made;
}
}  // namespace

void ClipPlayer2UI::setMaker(Maker made) {
  maker() = std::move(made);
}

ClipPlayer2UI::ClipPlayer2UI(QObject* parent) : QObject(parent) {}

ClipPlayer2UI::~ClipPlayer2UI() {
  stop();
}

bool ClipPlayer2UI::start(const QString& path, int speaker) {
  stop();
  relay_ = std::make_unique<ThreadRelay>(this);
  player_ = maker() ? maker()(this, path, speaker)
                    : libvocalia_play::create(this, path.toLocal8Bit().constData(), speaker);
  if (!player_)
    relay_.reset();
  return player_ != nullptr;
}

void ClipPlayer2UI::stop() {
  if (player_) {
    // No report is running or follows once release returns.
    player_->release(1);
    player_ = nullptr;
  }
  relay_.reset();
}

int ClipPlayer2UI::setPlayState(int state) {
  return player_ ? player_->set_play_state(state) : -1;
}

int ClipPlayer2UI::seekPercent(int percent) {
  return player_ ? player_->seek_percent(percent) : -1;
}

void ClipPlayer2UI::play_progress(unsigned curr, unsigned total) {
  relay_->post([this, curr, total] { emit playProgress(curr, total); });
}
