// The lobby's device test page: the camera's preview, the microphone's level,
// the test sound and the speaker choice, and saving the chosen devices. The
// probix tests report on their own threads; their reports come over through a
// ThreadRelay, and a test is stopped and freed before the page goes.
#pragma once

#include <QImage>
#include <QMediaPlayer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "ThreadRelay.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class audio_test;
class device_test;
class video_test;

class DeviceTestPage : public QWidget {
  Q_OBJECT

public:
  explicit DeviceTestPage(QWidget* parent = nullptr);
  ~DeviceTestPage() override;

  // The devices there are, with the saved choices selected.
  void fillDeviceLists();

  bool cameraTestRunning() const { return cameraTest_ != nullptr; }
  bool microphoneTestRunning() const { return microphoneTest_ != nullptr; }
  int levelValue() const;

signals:
  // The microphone's level, on the GUI thread.
  void signal_PBarAudioDisplay(ushort level);

public slots:
  void slot_ButtonOpenCamera();
  void slot_ButtonCloseCamera();
  void slot_PBarAudioDisplay(ushort level);
  void slot_CIC_CBoxInputAudio();
  void slot_ButtonSpeckOrNot(bool on);
  void slot_ButtonSave();
  void slot_CIC_CBoxChoiceCamera();
  void slot_ButtonPlayTestAudio(bool play);
  void slot_QN_MediaPlayer(QMediaPlayer::State state);
  void slot_CIC_CBoxOutputAudio();

private:
  // probix's callbacks, on its threads, with the page as the user pointer.
  static void onCameraFrame(void* user, const unsigned char* frame, int width, int height);
  static void onMicrophoneLevel(void* user, unsigned short level);

  void showPreview(const QImage& frame);
  void startCameraTest();
  void stopCameraTest();
  void stopMicrophoneTest();

  QComboBox* cameras_;
  QComboBox* microphones_;
  QComboBox* speakers_;
  QLabel* preview_;
  QPushButton* openCamera_;
  QPushButton* closeCamera_;
  QPushButton* speak_;
  QPushButton* playSound_;
  QProgressBar* level_;
  QMediaPlayer* player_;
  std::vector<std::string> speakerIds_;

  // Declared after the widgets, so it closes (and drops what is on its way)
  // before they go; the tests are stopped in the destructor before that.
  ThreadRelay relay_{this};
  struct DeviceTestCloser {
    void operator()(device_test* test) const;
  };
  std::unique_ptr<video_test, DeviceTestCloser> cameraTest_;
  std::unique_ptr<audio_test, DeviceTestCloser> microphoneTest_;
};
