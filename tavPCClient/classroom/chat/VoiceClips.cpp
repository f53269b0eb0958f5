#include "VoiceClips.h"

#include "ClipPlayer2UI.h"
#include "vocalia/vocalia.h"

namespace chat {

namespace {
RecorderMaker& recorderMaker() {
  static RecorderMaker maker;
  return maker;
}
}  // namespace

libvocalia_record* createRecorder(const QString& path, int microphone) {
  if (recorderMaker())
    return recorderMaker()(path, microphone);
  return libvocalia_record::create(path.toLocal8Bit().constData(),
                                   static_cast<unsigned short>(qBound(0, microphone, 0xffff)));
}

void setVoiceMakers(PlayerMaker player, RecorderMaker recorder) {
  ClipPlayer2UI::setMaker(std::move(player));
  recorderMaker() = std::move(recorder);
}

}  // namespace chat
