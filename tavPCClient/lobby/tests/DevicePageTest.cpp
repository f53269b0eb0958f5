// The lobby's device page with the synthetic camera and microphone.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QTcpServer>

#include "DataFolder.h"
#include "DeviceTestPage.h"
#include "LocalConfig.h"
#include "Prompt.h"
#include "TestSupport.h"
#include "UserDialog.h"

using testsupport::TempHome;
using testsupport::waitUntil;

namespace {
struct FakeDevices {
  FakeDevices() {
    qputenv("TAV_FAKE_CAMERA", "1");
    qputenv("TAV_FAKE_MICROPHONE", "1");
    qputenv("SDL_AUDIODRIVER", "dummy");
  }
  ~FakeDevices() {
    qunsetenv("TAV_FAKE_CAMERA");
    qunsetenv("TAV_FAKE_MICROPHONE");
  }
};

// A lobby whose service calls go nowhere (a port that never answers).
struct QuietLobby {
  TempHome home;
  QTcpServer sink;
  std::unique_ptr<UserDialog> lobby;
  QuietLobby() {
    DataFolder::setPath(home.clientDataFolder());
    sink.listen(QHostAddress::LocalHost, 0);
    LocalConfig::instance()->setServerIP(QStringLiteral("127.0.0.1:%1").arg(sink.serverPort()));
    lobby = std::make_unique<UserDialog>("t", "127.0.0.1:1", 500, "127.0.0.1:1");
    lobby->show();
  }
  DeviceTestPage& page() { return *lobby->findChild<DeviceTestPage*>(); }
  QComboBox* list(const char* name) { return lobby->findChild<QComboBox*>(QLatin1String(name)); }
};

QImage previewImage(UserDialog& lobby) {
  return lobby.findChild<QLabel*>("cameraPreview")->pixmap(Qt::ReturnByValue).toImage();
}
}  // namespace

TEST(DevicePage, StoredIndexBeyondTheListSelectsTheFirst) {
  FakeDevices fake;
  QuietLobby q;
  LocalConfig::instance()->setValue("conf/cmbCamera", 99);
  LocalConfig::instance()->setValue("conf/microphoneIndex", -3);
  q.lobby->slot_init_resources();
  ASSERT_GE(q.list("cameraList")->count(), 1);
  EXPECT_EQ(q.list("cameraList")->currentIndex(), 0);
  EXPECT_EQ(q.list("microphoneList")->currentIndex(), 0);

  // Saving writes what is selected now.
  q.list("cameraList")->setCurrentIndex(q.list("cameraList")->count() - 1);
  q.page().slot_ButtonSave();
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("保存成功！"));
  EXPECT_EQ(LocalConfig::instance()->value("conf/cmbCamera").toInt(),
            q.list("cameraList")->count() - 1);
}

TEST(DevicePage, SyntheticCameraPreviewMoves) {
  FakeDevices fake;
  QuietLobby q;
  q.lobby->slot_init_resources();
  const int fake_index = q.list("cameraList")->findText(QStringLiteral("虚拟摄像头 (测试)"));
  ASSERT_GE(fake_index, 0);
  q.list("cameraList")->setCurrentIndex(fake_index);
  const QImage placeholder = previewImage(*q.lobby);
  q.page().slot_ButtonOpenCamera();
  ASSERT_TRUE(q.page().cameraTestRunning());
  ASSERT_TRUE(waitUntil([&] { return previewImage(*q.lobby) != placeholder; }));
  const QImage first = previewImage(*q.lobby);
  ASSERT_TRUE(waitUntil([&] { return previewImage(*q.lobby) != first; }));
  q.page().slot_ButtonCloseCamera();
  EXPECT_FALSE(q.page().cameraTestRunning());
  EXPECT_EQ(previewImage(*q.lobby), placeholder);
}

TEST(DevicePage, SyntheticMicrophoneLightsTheLevelBar) {
  FakeDevices fake;
  QuietLobby q;
  q.lobby->slot_init_resources();
  const int fake_index = q.list("microphoneList")->findText(QStringLiteral("虚拟麦克风 (测试)"));
  ASSERT_GE(fake_index, 0);
  q.list("microphoneList")->setCurrentIndex(fake_index);
  q.page().slot_ButtonSpeckOrNot(true);
  ASSERT_TRUE(q.page().microphoneTestRunning());
  ASSERT_TRUE(waitUntil([&] { return q.page().levelValue() > 0; }));
  q.page().slot_ButtonSpeckOrNot(false);
  EXPECT_FALSE(q.page().microphoneTestRunning());
  EXPECT_EQ(q.page().levelValue(), 0);
}

// Logging off or leaving with both tests running frees the lobby while the device threads
// are still calling back; nothing may call into the freed dialog (run under the sanitizers,
// a call would be reported; without them it crashed).
TEST(DevicePage, ClosingTheLobbyWithBothTestsRunning) {
  FakeDevices fake;
  for (int round = 0; round < 3; ++round) {
    QuietLobby q;
    q.lobby->slot_init_resources();
    q.list("cameraList")
        ->setCurrentIndex(q.list("cameraList")->findText(QStringLiteral("虚拟摄像头 (测试)")));
    q.list("microphoneList")
        ->setCurrentIndex(q.list("microphoneList")->findText(QStringLiteral("虚拟麦克风 (测试)")));
    q.page().slot_ButtonOpenCamera();
    q.page().slot_ButtonSpeckOrNot(true);
    ASSERT_TRUE(q.page().cameraTestRunning());
    ASSERT_TRUE(q.page().microphoneTestRunning());
    // Both are delivering by now.
    const QImage placeholder = previewImage(*q.lobby);
    ASSERT_TRUE(waitUntil(
        [&] { return q.page().levelValue() > 0 && previewImage(*q.lobby) != placeholder; }));
    q.lobby.reset();
    // Callbacks issued just before would arrive now, as queued events.
    QCoreApplication::processEvents();
  }
}
