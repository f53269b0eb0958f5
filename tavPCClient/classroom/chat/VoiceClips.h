// How voice clips are recorded and played (vocalia; tests put their own makers
// in). Clips play through ClipPlayer2UI, whose maker this sets too.
#pragma once

#include <QString>
#include <functional>

class libvocalia_play;
class libvocalia_record;
class notify_progress2ui;

namespace chat {

using PlayerMaker =
    std::function<libvocalia_play*(notify_progress2ui*, const QString& path, int speaker)>;
using RecorderMaker = std::function<libvocalia_record*(const QString& path, int microphone)>;

libvocalia_record* createRecorder(const QString& path, int microphone);

// Replaces the makers (empty restores vocalia's); for tests.
void setVoiceMakers(PlayerMaker player, RecorderMaker recorder);

}  // namespace chat
