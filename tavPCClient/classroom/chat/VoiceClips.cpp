#include "VoiceClips.h"

#include "vocalia/vocalia.h"

namespace chat {

namespace {
PlayerMaker& playerMaker() {
  static PlayerMaker maker;
  return maker;
}
RecorderMaker& recorderMaker() {
  static RecorderMaker maker;
  return maker;
}
}  // namespace

libvocalia_play* createPlayer(notify_progress2ui* observer, const QString& path, int speaker) {
  if (playerMaker())
    return playerMaker()(observer, path, speaker);
  return libvocalia_play::create(observer, path.toLocal8Bit().constData(), speaker);
}

libvocalia_record* createRecorder(const QString& path, int microphone) {
  if (recorderMaker())
    return recorderMaker()(path, microphone);
  return libvocalia_record::create(path.toLocal8Bit().constData(),
                                   static_cast<unsigned short>(qBound(0, microphone, 0xffff)));
}

void setVoiceMakers(PlayerMaker player, RecorderMaker recorder) {
  playerMaker() = std::move(player);
  recorderMaker() = std::move(recorder);
}

}  // namespace chat
