// Counts the own cameras and microphones off the GUI thread (device probing can
// take a while) and reports whether each kind is present. Deletes itself when
// it has finished.
#pragma once

#include <QThread>

class Libpavo;

class CheckSelfDevice : public QThread {
  Q_OBJECT

public:
  CheckSelfDevice(Libpavo* media, QObject* parent = nullptr);

  // The counts of the last check in this process.
  static int cameraCount();
  static int microphoneCount();

signals:
  void VideoDeviceStatus(bool present);
  void AudioDeviceStatus(bool present);

protected:
  void run() override;

private slots:
  void thisfinished();

private:
  Libpavo* media_;
};
