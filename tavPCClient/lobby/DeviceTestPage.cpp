#include "DeviceTestPage.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "LocalConfig.h"
#include "Prompt.h"
#include "platform/audio_output.h"
#include "probix/probix.h"

namespace {
// Fills a list from a probix test object's devices.
void fillFromTest(device_test* test, QComboBox* list) {
  list->clear();
  if (!test)
    return;
  const int count = test->get_device_count();
  for (int i = 0; i < count; ++i) {
    char name[128] = {};
    list->addItem(test->get_device_name(i, name, sizeof name) == 0
                      ? QString::fromUtf8(name)
                      : QStringLiteral("设备%1").arg(i + 1));
  }
}

QLabel* caption(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QStringLiteral("deviceCaption"));
  return label;
}
}  // namespace

void DeviceTestPage::onCameraFrame(void* user, const unsigned char* frame, int width, int height) {
  if (!frame || width <= 0 || height <= 0)
    return;
  const QImage image = QImage(frame, width, height, width * 3, QImage::Format_BGR888).copy();
  auto* page = static_cast<DeviceTestPage*>(user);
  page->relay_.post([page, image] { page->showPreview(image); });
}

void DeviceTestPage::onMicrophoneLevel(void* user, unsigned short level) {
  auto* page = static_cast<DeviceTestPage*>(user);
  page->relay_.post([page, level] { emit page->signal_PBarAudioDisplay(level); });
}

DeviceTestPage::DeviceTestPage(QWidget* parent) : QWidget(parent) {
  QWidget* page = this;
  page->setObjectName(QStringLiteral("devicePage"));
  cameras_ = new QComboBox(page);
  cameras_->setObjectName(QStringLiteral("cameraList"));
  microphones_ = new QComboBox(page);
  microphones_->setObjectName(QStringLiteral("microphoneList"));
  speakers_ = new QComboBox(page);
  speakers_->setObjectName(QStringLiteral("speakerList"));
  for (QComboBox* list : {cameras_, microphones_, speakers_}) {
    list->setFixedHeight(32);
    list->setMinimumWidth(260);
  }
  preview_ = new QLabel(page);
  preview_->setObjectName(QStringLiteral("cameraPreview"));
  preview_->setFixedSize(320, 240);
  preview_->setAlignment(Qt::AlignCenter);
  preview_->setPixmap(QPixmap(QStringLiteral(":/res/tav_add/noVideo.png")));
  openCamera_ = new QPushButton(QStringLiteral("打开摄像头"), page);
  openCamera_->setObjectName(QStringLiteral("primaryButton"));
  closeCamera_ = new QPushButton(QStringLiteral("关闭摄像头"), page);
  closeCamera_->setObjectName(QStringLiteral("secondaryButton"));
  closeCamera_->setEnabled(false);
  speak_ = new QPushButton(QStringLiteral("测试麦克风"), page);
  speak_->setObjectName(QStringLiteral("secondaryButton"));
  speak_->setCheckable(true);
  level_ = new QProgressBar(page);
  level_->setObjectName(QStringLiteral("microphoneLevel"));
  level_->setRange(0, 100);
  level_->setValue(0);
  level_->setTextVisible(false);
  level_->setFixedHeight(10);
  playSound_ = new QPushButton(QStringLiteral("播放测试音"), page);
  playSound_->setObjectName(QStringLiteral("secondaryButton"));
  playSound_->setCheckable(true);
  auto* save = new QPushButton(QStringLiteral("保存"), page);
  save->setObjectName(QStringLiteral("primaryButton"));

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(14);
  grid->addWidget(caption(QStringLiteral("摄像头："), page), 0, 0);
  grid->addWidget(cameras_, 0, 1);
  auto* cameraButtons = new QHBoxLayout;
  cameraButtons->addWidget(openCamera_);
  cameraButtons->addWidget(closeCamera_);
  cameraButtons->addStretch();
  grid->addLayout(cameraButtons, 1, 1);
  grid->addWidget(preview_, 2, 1);
  grid->addWidget(caption(QStringLiteral("麦克风："), page), 3, 0);
  grid->addWidget(microphones_, 3, 1);
  auto* micRow = new QHBoxLayout;
  micRow->addWidget(speak_);
  micRow->addWidget(level_, 1);
  grid->addLayout(micRow, 4, 1);
  grid->addWidget(caption(QStringLiteral("扬声器："), page), 5, 0);
  grid->addWidget(speakers_, 5, 1);
  auto* speakerRow = new QHBoxLayout;
  speakerRow->addWidget(playSound_);
  speakerRow->addStretch();
  grid->addLayout(speakerRow, 6, 1);
  grid->setColumnStretch(2, 1);

  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(32, 24, 32, 24);
  layout->addLayout(grid);
  layout->addStretch();
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(save);
  layout->addLayout(bottom);

  player_ = new QMediaPlayer(this);
  connect(player_, &QMediaPlayer::stateChanged, this, &DeviceTestPage::slot_QN_MediaPlayer);
  connect(openCamera_, &QPushButton::clicked, this, &DeviceTestPage::slot_ButtonOpenCamera);
  connect(closeCamera_, &QPushButton::clicked, this, &DeviceTestPage::slot_ButtonCloseCamera);
  connect(speak_, &QPushButton::toggled, this, &DeviceTestPage::slot_ButtonSpeckOrNot);
  connect(playSound_, &QPushButton::toggled, this, &DeviceTestPage::slot_ButtonPlayTestAudio);
  connect(save, &QPushButton::clicked, this, &DeviceTestPage::slot_ButtonSave);
  connect(this, &DeviceTestPage::signal_PBarAudioDisplay, this,
          &DeviceTestPage::slot_PBarAudioDisplay);
}

DeviceTestPage::~DeviceTestPage() {
  // No test may call back once the page starts going away.
  cameraTest_.reset();
  microphoneTest_.reset();
}

void DeviceTestPage::showPreview(const QImage& frame) {
  if (cameraTest_)
    preview_->setPixmap(QPixmap::fromImage(frame.scaled(preview_->size(), Qt::KeepAspectRatio)));
}

void DeviceTestPage::fillDeviceLists() {
  LocalConfig* config = LocalConfig::instance();
  {
    const QSignalBlocker block(cameras_);
    video_test* probe = video_test::create(onCameraFrame, this);
    fillFromTest(probe, cameras_);
    if (probe)
      probe->destroy(1);
    cameras_->setCurrentIndex(
        config->deviceIndex(QStringLiteral("conf/cmbCamera"), cameras_->count()));
  }
  {
    const QSignalBlocker block(microphones_);
    audio_test* probe = audio_test::create(onMicrophoneLevel, this);
    fillFromTest(probe, microphones_);
    if (probe)
      probe->destroy(1);
    microphones_->setCurrentIndex(
        config->deviceIndex(QStringLiteral("conf/microphoneIndex"), microphones_->count()));
  }
  {
    const QSignalBlocker block(speakers_);
    speakers_->clear();
    speakerIds_.clear();
    std::string error;
    for (const platform::AudioOutput& output : platform::audioOutputs(&error)) {
      speakerIds_.push_back(output.id);
      speakers_->addItem(QString::fromStdString(output.name));
    }
    if (speakerIds_.empty()) {
      // Without a sound server there is nothing to choose; say so instead of an empty list.
      qInfo() << "no audio outputs listed:" << QString::fromStdString(error);
      speakers_->setPlaceholderText(QStringLiteral("未找到扬声器"));
    }
    speakers_->setCurrentIndex(
        config->deviceIndex(QStringLiteral("conf/speakerIndex"), speakers_->count()));
  }
  connect(cameras_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &DeviceTestPage::slot_CIC_CBoxChoiceCamera, Qt::UniqueConnection);
  connect(microphones_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &DeviceTestPage::slot_CIC_CBoxInputAudio, Qt::UniqueConnection);
  connect(speakers_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &DeviceTestPage::slot_CIC_CBoxOutputAudio, Qt::UniqueConnection);
}

int DeviceTestPage::levelValue() const {
  return level_->value();
}

void DeviceTestPage::DeviceTestCloser::operator()(device_test* test) const {
  // destroy() returns only when no callback runs any more.
  test->stop();
  test->destroy(1);
}

void DeviceTestPage::startCameraTest() {
  cameraTest_.reset(video_test::create(onCameraFrame, this));
  if (!cameraTest_)
    return;
  if (cameraTest_->select_device(cameras_->currentIndex()) != 0 || cameraTest_->start() != 0) {
    stopCameraTest();
    Prompt::instance()->showMessage(this, QStringLiteral("打开视频失败！"));
    return;
  }
  openCamera_->setEnabled(false);
  closeCamera_->setEnabled(true);
}

void DeviceTestPage::stopCameraTest() {
  cameraTest_.reset();
}

void DeviceTestPage::slot_ButtonOpenCamera() {
  if (cameraTest_)
    return;
  startCameraTest();
}

void DeviceTestPage::slot_ButtonCloseCamera() {
  stopCameraTest();
  preview_->setPixmap(QPixmap(QStringLiteral(":/res/tav_add/noVideo.png")));
  openCamera_->setEnabled(true);
  closeCamera_->setEnabled(false);
}

void DeviceTestPage::slot_CIC_CBoxChoiceCamera() {
  if (!cameraTest_)
    return;
  // A running test moves over to the newly chosen camera.
  stopCameraTest();
  startCameraTest();
}

void DeviceTestPage::slot_ButtonSpeckOrNot(bool on) {
  if (!on) {
    stopMicrophoneTest();
    return;
  }
  if (microphoneTest_)
    return;
  microphoneTest_.reset(audio_test::create(onMicrophoneLevel, this));
  if (!microphoneTest_ || microphoneTest_->select_device(microphones_->currentIndex()) != 0 ||
      microphoneTest_->start() != 0) {
    stopMicrophoneTest();
    const QSignalBlocker block(speak_);
    speak_->setChecked(false);
    Prompt::instance()->showMessage(this, QStringLiteral("麦克风不存在或故障，打开声音失败！"));
  }
}

void DeviceTestPage::stopMicrophoneTest() {
  microphoneTest_.reset();
  if (level_)
    level_->setValue(0);
}

void DeviceTestPage::slot_CIC_CBoxInputAudio() {
  if (!microphoneTest_)
    return;
  stopMicrophoneTest();
  slot_ButtonSpeckOrNot(true);
}

void DeviceTestPage::slot_PBarAudioDisplay(ushort level) {
  // A level arriving after the test stopped must not leave the bar lit.
  if (!microphoneTest_)
    return;
  level_->setValue(qMin(100, static_cast<int>(level) * 100 / 8000));
}

void DeviceTestPage::slot_ButtonPlayTestAudio(bool play) {
  if (play) {
    // Found beside the program, wherever it was started from.
    player_->setMedia(QUrl::fromLocalFile(QCoreApplication::applicationDirPath() +
                                          QStringLiteral("/testMusic.mp3")));
    player_->play();
  } else {
    player_->stop();
  }
}

void DeviceTestPage::slot_QN_MediaPlayer(QMediaPlayer::State state) {
  const QSignalBlocker block(playSound_);
  playSound_->setChecked(state == QMediaPlayer::PlayingState);
  playSound_->setText(state == QMediaPlayer::PlayingState ? QStringLiteral("停止播放")
                                                          : QStringLiteral("播放测试音"));
}

void DeviceTestPage::slot_CIC_CBoxOutputAudio() {
  const int index = speakers_->currentIndex();
  if (index < 0 || index >= static_cast<int>(speakerIds_.size()))
    return;
  std::string error;
  if (!platform::setDefaultAudioOutput(speakerIds_[static_cast<size_t>(index)], &error))
    qWarning() << "cannot make the speaker the default:" << QString::fromStdString(error);
}

void DeviceTestPage::slot_ButtonSave() {
  LocalConfig* config = LocalConfig::instance();
  config->setValue(QStringLiteral("conf/cmbCamera"),
                   cameras_->currentIndex() < 0 ? 0 : cameras_->currentIndex());
  config->setValue(QStringLiteral("conf/microphoneIndex"),
                   microphones_->currentIndex() < 0 ? 0 : microphones_->currentIndex());
  config->setValue(QStringLiteral("conf/speakerIndex"),
                   speakers_->currentIndex() < 0 ? 0 : speakers_->currentIndex());
  Prompt::instance()->showMessage(this, QStringLiteral("保存成功！"));
}
