// The one place where the media library's threads meet Qt. The library calls
// the velmcu2ui slots on its own threads; each only copies what it is given
// and emits the matching signal. Everybody else connects to these signals
// queued, so all their work runs in the GUI thread.
//
// Video frames are the one payload handed over by pointer: they wait in the
// frame queue (bounded) until the GUI thread takes them, and every buffer goes
// back to the library with media_ctrl 16.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QVector>
#include <atomic>

#include "MarkLayerSource.h"
#include "RoomSession.h"
#include "VideoFrameQueue.h"
#include "libpavo/libpavo.h"

class MediaEventBridge : public QObject, public velmcu2ui {
  Q_OBJECT

public:
  explicit MediaEventBridge(QObject* parent = nullptr);
  ~MediaEventBridge() override;

  // The library the frames go back to; null before it exists and after it is
  // gone. The bridge must outlive the library it observes.
  void setLibrary(Libpavo* library);
  VideoFrameQueue& frames() { return frames_; }
  // Who answers the library's request for the drawing layer (event 18); null
  // for nobody. Once the setter returns the previous source is not called again.
  void setMarkLayerSource(MarkLayerSource* source);

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

signals:
  // on_media_event, by event.
  void signal_new_media_coming(quint32 userId, int kind);
  void signal_close_media(quint32 userId, int kind);
  void signal_user_enter_room(MediaUser user);
  void signal_user_leave_from_room(quint32 userId);
  void signal_disconnect_from_mcu();
  void signal_get_user_list(MediaUserList users);
  void signal_connect2MCU_state(int state);
  void signal_videoData_arrived();
  void signal_existing_media(MediaUserList media);
  void signal_record_volume(int level);
  void signal_camera_timeout();
  // user_net_state with state 1.
  void _user_net_error(quint32 userId);
  // The other callbacks, one signal each.
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

private:
  std::atomic<Libpavo*> library_{nullptr};
  VideoFrameQueue frames_;
  QMutex markMutex_;
  MarkLayerSource* markSource_ = nullptr;
};
