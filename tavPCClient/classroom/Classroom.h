// One live class as seen by one member: the window that holds the class's
// parts (header, stage, video strips, side panel with chat, members and
// materials) and the session that runs it: the member list and own role from
// the service, the media library and the room channel, the presence reports,
// lost connections, room type changes and leaving.
//
// The window owns every part and the objects they share (the session model,
// the media event bridge, the room messenger and dispatch, the context);
// it routes the media events and room messages to the parts and holds no
// feature of its own.
#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "ClassroomEntry.h"
#include "RoomContext.h"

class CheckSelfDevice;
class ClassControl;
class ClassroomComponent;
class ClassroomContext;
class ClassroomHeader;
class ClassStage;
class HeartbeatInRoom;
class MediaControl;
class MediaEventBridge;
class MemberRoster;
class QTimer;
class RoomChannelClient;
class RoomCredentialRenewal;
class RoomDispatch;
class RoomMessenger;
class RoomPeerPath;
class RoomSession;
class VideoPresenter;
class SharedArea;
class TeachingTool;
class Whiteboard;
class Libpavo;

class Classroom : public QWidget {
  Q_OBJECT

public:
  static constexpr int kHeartbeatMs = 30000;
  // A lost media server is connected to again: the first attempt waits this
  // long (so a removal's own word, which comes a moment later, says why it was
  // lost), each further one twice as long up to kMediaRetryMaxMs, and after
  // kMediaGiveUpMs without the server the member is told the network is weak.
  static constexpr int kReasonGraceMs = 1500;
  static constexpr int kMediaRetryMaxMs = 3000;
  static constexpr int kMediaGiveUpMs = 120000;

  explicit Classroom(const ClassroomEntry& entry, QWidget* parent = nullptr);
  ~Classroom() override;

  const ClassroomEntry& entry() const { return entry_; }
  bool isLeaving() const { return leaving_; }
  bool mcuConnected() const;
  void setAssistants(const QJsonArray& assistants) { entry_.assistants = assistants; }
  // Where the member goes back to when it leaves (the lobby): why it was sent
  // away is said there.
  void setReturnWindow(QWidget* window) { returnWindow_ = window; }
  // Closes without asking (the login it ran under is gone).
  void leaveWithoutAsking();

public slots:
  void initUserList();
  void onGetUserList(QJsonObject answer);
  void initMedia();
  void slot_connect2MCU_state(int state);
  void slot_disconnect_from_mcu();
  void __connect2msgs_state(int state);
  void __disconect_from_msg();
  void slot_RoomTypeChanged(int roomType);
  void initSelfVideoDeviceStatus(bool present);
  void initSelfAudioDeviceStatus(bool present);

signals:
  void _stopTimerHeartBeatInRoom();
  void signal_exit_classroom();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  // Layout (ClassroomLayout.cpp).
  void buildWindow();
  // Start-up and connections (ClassroomSession.cpp).
  void connectMediaEvents();
  void applySavedDevices();
  void createRoomChannel();
  void fireStartRequests();
  void onRoomTypeMessage(const QJsonObject& msg);
  void showNetworkWeakAndClose();
  // The media library: made (with the current room credential) and attached to
  // the parts, or detached and destroyed.
  void createMedia();
  void dropMedia();
  void scheduleMediaReconnect();
  // A fresh room credential for whichever connection waits for one.
  void onCredentialRenewed(const QString& credential, const QString& chatServer);
  void onRenewalUnreachable();
  // Closes because the room sent the member away, saying why (a toast or a box).
  void leaveBecause(const QString& why, bool asBox);
  void releaseEverything();

  ClassroomEntry entry_;
  RoomContext& room_;
  bool leaving_ = false;
  bool networkBoxShown_ = false;
  bool roomChannelWasUp_ = false;
  QPointer<QWidget> returnWindow_;

  // Shared by the parts.
  RoomSession* session_;
  RoomMessenger* messenger_;
  RoomDispatch* dispatch_;
  MediaEventBridge* bridge_;
  ClassroomContext* context_;

  // The media library and the channels.
  Libpavo* media_ = nullptr;
  std::unique_ptr<RoomPeerPath> peerPath_;
  RoomChannelClient* channel_ = nullptr;
  HeartbeatInRoom* heartbeat_ = nullptr;
  QTimer* presenceTimer_ = nullptr;
  QPointer<CheckSelfDevice> deviceCheck_;
  // Lost connections: the renewal of the room credential they share, and the
  // media server's reconnection.
  RoomCredentialRenewal* renewal_ = nullptr;
  QTimer* mediaRetry_ = nullptr;
  QElapsedTimer mediaLostClock_;
  bool reconnectingMedia_ = false;
  int mediaAttempts_ = 0;
  int reopenKinds_ = 0;
  bool channelAwaitsCredential_ = false;
  bool channelCredentialFresh_ = false;

  // The parts, all in the body: declared last, so it goes first, before the
  // window's own children they reach (session, messenger, dispatch, context).
  std::unique_ptr<QWidget> body_;
  ClassroomHeader* header_ = nullptr;
  ClassStage* stage_ = nullptr;
  ClassControl* classControl_ = nullptr;
  MediaControl* mediaControl_ = nullptr;
  MemberRoster* roster_ = nullptr;
  VideoPresenter* videoPresenter_ = nullptr;
  QPointer<Whiteboard> whiteboard_;
  SharedArea* sharedArea_ = nullptr;
  TeachingTool* teachingTool_ = nullptr;
  // The features, asked at the start and stop of the class and when leaving.
  QList<ClassroomComponent*> components_;
};
