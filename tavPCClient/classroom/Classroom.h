// One live class as seen by one member: the member list, the media library
// and the room channel, presence reports, starting and stopping the class,
// the video tiles and the member's media controls.
//
// The media library calls the velmcu2ui slots on its own threads; they only
// copy their data and emit the signals below, which are connected queued to
// the slots that do the work in the GUI thread.
#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPixmap>
#include <QPointer>
#include <QVector>
#include <QWidget>
#include <memory>

#include "ClassroomEntry.h"
#include "ClassroomFeatures.h"
#include "RoomContext.h"
#include "RoomMember.h"
#include "libpavo/libpavo.h"

class CheckSelfDevice;
class HeartbeatInRoom;
class MemberListWidget;
class PlayWnd;
class QLabel;
class QPushButton;
class QComboBox;
class QStackedWidget;
class QTimer;
class RoomChannelClient;
class RoomMessenger;
class RoomPeerPath;
class VideoFrameQueue;
class VideoGroup;
class VideoRenderWidget;

struct MediaUser {
  quint32 userId = 0;
  quint32 mask = 0;
};
using MediaUserList = QVector<MediaUser>;
Q_DECLARE_METATYPE(MediaUser)
Q_DECLARE_METATYPE(MediaUserList)

class Classroom : public QWidget, public velmcu2ui {
  Q_OBJECT

public:
  static constexpr int kHeartbeatMs = 30000;
  static constexpr int kSupplementMs = 30000;
  static constexpr int kBulkButtonPauseMs = 2000;
  static constexpr int kAudioLimit = 4;
  static constexpr int kNetworkBoxMs = 1800000;

  explicit Classroom(const ClassroomEntry& entry, QWidget* parent = nullptr);
  ~Classroom() override;

  // The classroom of this process while one exists.
  static Classroom* current();

  const ClassroomEntry& entry() const { return entry_; }
  bool isLeaving() const { return leaving_; }
  bool mcuConnected() const { return mcuConnected_; }
  void setAssistants(const QJsonArray& assistants) { entry_.assistants = assistants; }

  Libpavo* media() const { return media_; }
  RoomMessenger* messenger() const { return messenger_; }
  RoomChannelClient* roomChannel() const { return channel_; }
  HeartbeatInRoom* heartbeat() const { return heartbeat_; }
  const QMap<quint32, RoomMember>& members() const { return members_; }
  MemberListWidget* memberList() const { return memberList_; }
  VideoGroup* studentVideos() const { return studentVideos_; }
  VideoGroup* otherVideos() const { return otherVideos_; }
  VideoRenderWidget* mainVideo() const { return mainVideo_; }
  VideoFrameQueue* frameQueue() const { return frames_.get(); }
  QTimer* presenceTimer() const { return presenceTimer_; }
  QTimer* teachingTimer() const { return teachingTimer_; }
  QTimer* supplementTimer() const { return supplementTimer_; }
  quint32 giftReceiverId() const { return giftReceiverId_; }
  // Frames given back to the media library after the GUI took them from the queue.
  int framesReturned() const { return framesReturned_; }
  QPushButton* openAllAudioButton() const { return openAllAudio_; }
  QPushButton* closeAllAudioButton() const { return closeAllAudio_; }
  QPushButton* openAllVideoButton() const { return openAllVideo_; }
  QPushButton* closeAllVideoButton() const { return closeAllVideo_; }
  QPushButton* startClassButton() const { return startClassButton_; }
  QPushButton* stopClassButton() const { return stopClassButton_; }
  const QList<quint32>& supplementList() const { return supplement_; }
  // Answers of the start requests by endpoint path, for the features that read them.
  const QHash<QString, QJsonObject>& startAnswers() const { return startAnswers_; }

  void attachRecording(ClassRecording* recording) { recording_ = recording; }
  void attachPhoneLink(PhoneLink* link) { phoneLink_ = link; }
  void attachSharing(ClassSharing* sharing) { sharing_ = sharing; }
  void attachAnnotation(ClassAnnotation* annotation) { annotation_ = annotation; }

  // velmcu2ui (library threads)
  void on_media_event(int event, void* data) override;
  void ss_start_class(uint32_t user_id) override;
  void start_class_ack(int result) override;
  void ss_stop_class(uint32_t user_id) override;
  void stop_class_ack(int result) override;
  void get_class_state_ack(int state) override;
  void ss_application_share(uint32_t user_id) override;
  void application_share_ack(int result) override;
  void ss_cancel_application(uint32_t user_id) override;
  void cancel_application_ack(int result) override;
  void ss_reply_share(uint32_t user_id, int reply) override;
  void reply_share_ack(uint32_t user_id, int reply) override;
  void ss_start_share(uint32_t user_id) override;
  void start_share_ack(int result) override;
  void ss_stop_share(uint32_t user_id) override;
  void stop_share_ack(int result) override;
  void get_share_users_ack(int value, int count, const uint32_t* ids) override;
  void ss_start_tag(uint32_t user_id) override;
  void start_tag_ack(int result) override;
  void ss_stop_tag(uint32_t user_id) override;
  void stop_tag_ack(int result) override;
  void get_tag_users_ack(int value, int count, const uint32_t* ids) override;
  void ss_cancel_share(uint32_t user_id) override;
  void cancel_share_ack(int result) override;
  void p2p_msg(uint32_t sender_id, const char* data, unsigned length) override;
  void p2all_msg(uint32_t sender_id, const char* data, unsigned length) override;
  void get_classing_user_ack(int code, uint32_t user_id) override;
  void p2p_msg_ack(uint32_t id, const char* data, unsigned length) override;
  void p2all_msg_ack(uint32_t id, const char* data, unsigned length) override;
  void user_net_state(uint32_t user_id, int state) override;

public slots:
  // Session.
  void initUserList();
  void onGetUserList(QJsonObject answer);
  void initMedia();
  void HttpRequest_StartClass();
  void onStartClass(QJsonObject answer);
  void btnStartClass_clicked();
  void btnStopClass_clicked();
  void slot_connect2MCU_state(int state);
  void slot_disconnect_from_mcu();
  void __connect2msgs_state(int state);
  void __disconect_from_msg();
  void __get_classing_user_ack(int code, quint32 userId);
  void slot_user_enter_room(MediaUser user);
  void onGetEnterUser(QJsonObject answer, void* userData);
  void slot_RoomTypeChanged(int roomType);
  void initSelfVideoDeviceStatus(bool present);
  void initSelfAudioDeviceStatus(bool present);
  void slot_ChatMsgArrived(const QJsonObject& msg);

  // Media control.
  void onOperateVideo(quint32 userId);
  void onOperateAudio(quint32 userId);
  void btnOprVideo_teacher_Clicked();
  void btnOprAudio_teacher_Clicked();
  void btnOpenAllAudio_clicked();
  void btnOpenAllVideo_clicked();
  void btnCloseAllAudio_clicked();
  void btnCloseAllVideo_clicked();
  void setAllAudioBtnEnabled();
  void setAllVideoBtnEnabled();
  void playWnd_Opr(quint32 userId, int opr);
  void slot_camera_timeout();
  void slot_new_media_coming(quint32 userId, int kind);
  void slot_close_media(quint32 userId, int kind);
  void slot_get_user_list(MediaUserList users);
  void slot_user_leave_from_room(quint32 userId);
  void slot_existing_media(MediaUserList media);
  void slot_videoData_arrived();
  void slot_onVideoFrameArrived(int width, int height, uint8_t* pixels, quint32 userId, int kind);
  void slot_open_user_media_state(quint32 userId, int state, int kind);
  void timerSupplement_timeout();

signals:
  void _stopTimerHeartBeatInRoom();
  void _stopTimerHeartBeatTeaching();
  void signal_exit_classroom();

  // From the media library, queued to the GUI thread.
  void signal_new_media_coming(quint32 userId, int kind);
  void signal_close_media(quint32 userId, int kind);
  void signal_user_enter_room(MediaUser user);
  void signal_user_leave_from_room(quint32 userId);
  void signal_disconnect_from_mcu();
  void signal_get_user_list(MediaUserList users);
  void signal_connect2MCU_state(int state);
  void signal_videoData_arrived();
  void signal_existing_media(MediaUserList media);
  void signal_have_exist_media(bool screenShared);
  void signal_record_volume(int level);
  void signal_camera_timeout();
  void signal_open_user_media_state(quint32 userId, int state, int kind);
  void _user_net_error(quint32 userId);
  void _ss_start_class(quint32 userId);
  void _start_class_ack(int result);
  void _ss_stop_class(quint32 userId);
  void _stop_class_ack(int result);
  void _get_class_state_ack(int state);
  void _ss_application_share(quint32 userId);
  void _application_share_ack(int result);
  void _ss_cancel_application(quint32 userId);
  void _cancel_application_ack(int result);
  void _ss_reply_share(quint32 userId, int reply);
  void _reply_share_ack(quint32 userId, int reply);
  void _ss_start_share(quint32 userId);
  void _start_share_ack(int result);
  void _ss_stop_share(quint32 userId);
  void _stop_share_ack(int result);
  void _get_share_users_ack(int value, QVector<quint32> ids);
  void _ss_start_tag(quint32 userId);
  void _start_tag_ack(int result);
  void _ss_stop_tag(quint32 userId);
  void _stop_tag_ack(int result);
  void _get_tag_users_ack(int value, QVector<quint32> ids);
  void _ss_cancel_share(quint32 userId);
  void _cancel_share_ack(int result);
  void _p2p_msg(quint32 senderId, QByteArray data);
  void _p2all_msg(quint32 senderId, QByteArray data);
  void _get_classing_user_ack(int code, quint32 userId);
  void _p2p_msg_ack(quint32 id, QByteArray data);
  void _p2all_msg_ack(quint32 id, QByteArray data);

  // The media server accepted the login (true) or the connection was lost.
  void mcuConnectedChanged(bool connected);
  // A start request answered (path of the endpoint, answer).
  void startAnswerArrived(const QString& path, const QJsonObject& answer);

protected:
  void closeEvent(QCloseEvent* event) override;

private slots:
  void slot_ss_start_class(quint32 userId);
  void slot_start_class_ack(int result);
  void slot_ss_stop_class(quint32 userId);
  void slot_peer_message(quint32 senderId, QByteArray data);

private:
  // Layout (ClassroomLayout.cpp).
  void buildWindow();
  QWidget* buildHeader();
  QWidget* buildStage();
  QWidget* buildSidePanel();
  void refreshRoleControls();
  void refreshClassButtons();

  // Session (ClassroomSession.cpp).
  void connectLibrarySignals();
  void fireStartRequests();
  void applySavedDevices();
  void createRoomChannel();
  void addMember(const RoomMember& member);
  void removeMember(quint32 userId);
  // The member's row in the member list, made or brought up to date.
  void showMember(const RoomMember& member);
  void showNetworkWeakAndClose();
  void showNetworkBox();
  void releaseEverything();
  void classStarted(quint32 starterId);
  void classStopped();
  void replayExistingMedia();
  void showBlankWhiteboard();

  // Media (ClassroomMedia.cpp).
  int ctrl(unsigned cmd, quint32 userId, int kind);
  int audioOnCount() const;
  void toggleAudio(quint32 userId);
  void toggleVideo(quint32 userId);
  void placeVideo(quint32 userId);
  void freeVideo(quint32 userId);
  VideoGroup* groupFor(quint32 userId) const;
  VideoRenderWidget* videoTarget(quint32 userId, int kind) const;
  void setItemMedia(quint32 userId, int kind, bool on);
  void toast(const QString& text);
  QString nameOf(quint32 userId) const;
  quint32 mainUserId() const;
  void showMemberMenu(quint32 userId, const QPoint& globalPos);

  ClassroomEntry entry_;
  RoomContext& context_;
  bool leaving_ = false;
  bool mcuConnected_ = false;
  bool networkBoxShown_ = false;

  Libpavo* media_ = nullptr;
  RoomMessenger* messenger_ = nullptr;
  std::unique_ptr<RoomPeerPath> peerPath_;
  RoomChannelClient* channel_ = nullptr;
  HeartbeatInRoom* heartbeat_ = nullptr;
  QPointer<CheckSelfDevice> deviceCheck_;
  QTimer* presenceTimer_ = nullptr;
  QTimer* teachingTimer_ = nullptr;
  QTimer* supplementTimer_ = nullptr;
  std::unique_ptr<VideoFrameQueue> frames_;

  QMap<quint32, RoomMember> members_;
  QList<quint32> supplement_;
  QHash<quint32, quint32> supplementMasks_;
  QList<MediaUser*> pendingEnters_;  // member lookups on their way
  QHash<quint32, int> mediaKinds_;   // published kinds per user, as the library announced them
  quint32 mainVideoUser_ = 0;
  quint32 giftReceiverId_ = 0;
  int framesReturned_ = 0;
  MediaUserList existingMedia_;
  QHash<QString, QJsonObject> startAnswers_;
  QPixmap ownAvatar_;

  ClassRecording* recording_ = nullptr;
  PhoneLink* phoneLink_ = nullptr;
  ClassSharing* sharing_ = nullptr;
  ClassAnnotation* annotation_ = nullptr;

  // Widgets.
  QLabel* titleLabel_ = nullptr;
  QLabel* classStateLabel_ = nullptr;
  QPushButton* startClassButton_ = nullptr;
  QPushButton* stopClassButton_ = nullptr;
  QComboBox* toolSelector_ = nullptr;
  QStackedWidget* stage_ = nullptr;
  QLabel* sharedArea_ = nullptr;
  VideoRenderWidget* toolView_ = nullptr;
  VideoRenderWidget* mainVideo_ = nullptr;
  QLabel* mainVideoName_ = nullptr;
  VideoGroup* studentVideos_ = nullptr;
  VideoGroup* otherVideos_ = nullptr;
  MemberListWidget* memberList_ = nullptr;
  QStackedWidget* sidePages_ = nullptr;
  QPushButton* chatTab_ = nullptr;
  QPushButton* membersTab_ = nullptr;
  QPushButton* materialsTab_ = nullptr;
  QLabel* chatNotice_ = nullptr;
  QPushButton* openAllAudio_ = nullptr;
  QPushButton* closeAllAudio_ = nullptr;
  QPushButton* openAllVideo_ = nullptr;
  QPushButton* closeAllVideo_ = nullptr;
  QPushButton* ownVideoButton_ = nullptr;
  QPushButton* ownAudioButton_ = nullptr;
  QWidget* teacherOnly_ = nullptr;
  QWidget* bulkButtons_ = nullptr;
  QWidget* ownControls_ = nullptr;
  QWidget* chatPanel_ = nullptr;
  QLabel* chatMutedLabel_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  class QLineEdit* chatEdit_ = nullptr;
};
