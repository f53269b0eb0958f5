// How much of the sound a player wrote into SDL's disk driver is one tone:
// the energy at one frequency (Goertzel) in the left channel of 16-bit stereo
// samples, relative to the channel's total.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <cmath>

namespace testsupport {

// Over n frames; -1 for silence.
inline double toneShare(const qint16* frames, int n, int rate, double hz) {
  const double w = 2 * M_PI * hz / rate;
  double q1 = 0, q2 = 0, total = 0;
  for (int i = 0; i < n; ++i) {
    const double x = frames[2 * i] / 32768.0;
    const double q0 = 2 * std::cos(w) * q1 - q2 + x;
    q2 = q1;
    q1 = q0;
    total += x * x;
  }
  if (total < n * 1e-6)
    return -1;
  const double power = q1 * q1 + q2 * q2 - 2 * std::cos(w) * q1 * q2;
  return power / (total * n / 2);
}

// Over all of pcm; 0 for less than a tenth of a second or silence.
inline double toneShare(const QByteArray& pcm, int rate, double hz) {
  const int n = pcm.size() / 4;
  if (n < rate / 10)
    return 0;
  const double share = toneShare(reinterpret_cast<const qint16*>(pcm.constData()), n, rate, hz);
  return share < 0 ? 0 : share;
}

}  // namespace testsupport
