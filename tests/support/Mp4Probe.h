// What a recorded MP4 holds, read back with FFmpeg's libraries for tests: its streams and
// length, the picture shown at a moment, and the sound of a stretch of time.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

namespace testsupport {

struct Mp4Info {
  bool opened = false;
  QString videoCodec;  // "h264"
  QString audioCodec;  // "aac"
  int width = 0;
  int height = 0;
  double seconds = 0;  // the longer of the streams' lengths
  int64_t videoFrames = 0;
};

Mp4Info probeMp4(const QString& path);

// The picture shown at `seconds` (the last one not later), RGB32; null when none.
QImage mp4FrameAt(const QString& path, double seconds);

// The sound from `from` to `to` seconds, 48 kHz interleaved stereo 16-bit.
std::vector<int16_t> mp4Sound(const QString& path, double from, double to);

// How much of the left channel's energy is one tone (Goertzel): 0 for silence.
double toneShare(const std::vector<int16_t>& stereo, int rate, double hz);

}  // namespace testsupport
