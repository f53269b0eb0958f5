#include "MediaEventBridge.h"

#include <QMutexLocker>

namespace {

MediaUserList copyUsers(const user_media_t* users, unsigned count) {
  MediaUserList list;
  if (!users)
    return list;
  list.reserve(static_cast<int>(count));
  for (unsigned i = 0; i < count; ++i)
    list.push_back(MediaUser{users[i].user_id, users[i].mask});
  return list;
}

QVector<quint32> copyIds(const uint32_t* ids, int count) {
  QVector<quint32> list;
  if (!ids || count <= 0)
    return list;
  list.reserve(count);
  for (int i = 0; i < count; ++i)
    list.push_back(ids[i]);
  return list;
}

QByteArray copyBytes(const char* data, unsigned length) {
  return data ? QByteArray(data, static_cast<int>(length)) : QByteArray();
}

}  // namespace

MediaEventBridge::MediaEventBridge(QObject* parent)
    : QObject(parent), frames_([this](uint8_t* pixels) {
        if (Libpavo* library = library_.load())
          library->media_ctrl(media_cmd_free_frame, pixels);
      }) {
  qRegisterMetaType<MediaUser>("MediaUser");
  qRegisterMetaType<MediaUserList>("MediaUserList");
  qRegisterMetaType<QVector<quint32>>("QVector<quint32>");
  setObjectName(QStringLiteral("mediaEventBridge"));
}

MediaEventBridge::~MediaEventBridge() {
  frames_.clear();
}

void MediaEventBridge::setLibrary(Libpavo* library) {
  library_.store(library);
}

void MediaEventBridge::setMarkLayerSource(MarkLayerSource* source) {
  QMutexLocker lock(&markMutex_);
  markSource_ = source;
}

void MediaEventBridge::on_media_event(int event, void* data) {
  switch (event) {
    case pavo_event_mark_bitmap:
      // Answered here, on the library's thread: the source keeps its layer under a lock.
      if (data) {
        auto* request = static_cast<mark_bitmap_t*>(data);
        request->len = 0;
        QMutexLocker lock(&markMutex_);
        if (markSource_)
          markSource_->fillMarkBitmap(request->data, request->capacity, request->width,
                                      request->height, request->len);
      }
      break;
    case pavo_event_media_open:
      if (data) {
        const auto* stream = static_cast<const media_stream_t*>(data);
        emit signal_new_media_coming(stream->user_id, static_cast<int>(stream->kind));
      }
      break;
    case pavo_event_media_close:
      if (data) {
        const auto* stream = static_cast<const media_stream_t*>(data);
        emit signal_close_media(stream->user_id, static_cast<int>(stream->kind));
      }
      break;
    case pavo_event_user_enter:
      if (data) {
        const auto* user = static_cast<const user_media_t*>(data);
        emit signal_user_enter_room(MediaUser{user->user_id, user->mask});
      }
      break;
    case pavo_event_user_leave:
      if (data)
        emit signal_user_leave_from_room(*static_cast<const uint32_t*>(data));
      break;
    case pavo_event_disconnected:
      emit signal_disconnect_from_mcu();
      break;
    case pavo_event_user_list:
      if (data) {
        const auto* list = static_cast<const user_list_t*>(data);
        emit signal_get_user_list(copyUsers(list->users, list->count));
      }
      break;
    case pavo_event_connect_state:
      if (data)
        emit signal_connect2MCU_state(*static_cast<const int*>(data));
      break;
    case pavo_event_video_frame:
      if (data) {
        const auto* frame = static_cast<const video_frame_t*>(data);
        if (frames_.push(VideoFrameRecord{frame->width, frame->height, frame->pixels,
                                           frame->user_id, frame->kind}))
          emit signal_videoData_arrived();
      }
      break;
    case pavo_event_existing_media:
      if (data) {
        const auto* list = static_cast<const media_list_t*>(data);
        emit signal_existing_media(copyUsers(list->list, list->count));
      }
      break;
    case pavo_event_record_volume:
      if (data)
        emit signal_record_volume(*static_cast<const uint16_t*>(data));
      break;
    case pavo_event_camera_timeout:
      emit signal_camera_timeout();
      break;
    default:
      break;  // 8 and anything unknown: nothing to do
  }
}

void MediaEventBridge::ss_start_class(uint32_t user_id) {
  emit _ss_start_class(user_id);
}
void MediaEventBridge::start_class_ack(int result) {
  emit _start_class_ack(result);
}
void MediaEventBridge::ss_stop_class(uint32_t user_id) {
  emit _ss_stop_class(user_id);
}
void MediaEventBridge::stop_class_ack(int result) {
  emit _stop_class_ack(result);
}
void MediaEventBridge::get_class_state_ack(int state) {
  emit _get_class_state_ack(state);
}
void MediaEventBridge::ss_application_share(uint32_t user_id) {
  emit _ss_application_share(user_id);
}
void MediaEventBridge::application_share_ack(int result) {
  emit _application_share_ack(result);
}
void MediaEventBridge::ss_cancel_application(uint32_t user_id) {
  emit _ss_cancel_application(user_id);
}
void MediaEventBridge::cancel_application_ack(int result) {
  emit _cancel_application_ack(result);
}
void MediaEventBridge::ss_reply_share(uint32_t user_id, int reply) {
  emit _ss_reply_share(user_id, reply);
}
void MediaEventBridge::reply_share_ack(uint32_t user_id, int reply) {
  emit _reply_share_ack(user_id, reply);
}
void MediaEventBridge::ss_start_share(uint32_t user_id) {
  emit _ss_start_share(user_id);
}
void MediaEventBridge::start_share_ack(int result) {
  emit _start_share_ack(result);
}
void MediaEventBridge::ss_stop_share(uint32_t user_id) {
  emit _ss_stop_share(user_id);
}
void MediaEventBridge::stop_share_ack(int result) {
  emit _stop_share_ack(result);
}
void MediaEventBridge::get_share_users_ack(int value, int count, const uint32_t* ids) {
  emit _get_share_users_ack(value, copyIds(ids, count));
}
void MediaEventBridge::ss_start_tag(uint32_t user_id) {
  emit _ss_start_tag(user_id);
}
void MediaEventBridge::start_tag_ack(int result) {
  emit _start_tag_ack(result);
}
void MediaEventBridge::ss_stop_tag(uint32_t user_id) {
  emit _ss_stop_tag(user_id);
}
void MediaEventBridge::stop_tag_ack(int result) {
  emit _stop_tag_ack(result);
}
void MediaEventBridge::get_tag_users_ack(int value, int count, const uint32_t* ids) {
  emit _get_tag_users_ack(value, copyIds(ids, count));
}
void MediaEventBridge::ss_cancel_share(uint32_t user_id) {
  emit _ss_cancel_share(user_id);
}
void MediaEventBridge::cancel_share_ack(int result) {
  emit _cancel_share_ack(result);
}
void MediaEventBridge::p2p_msg(uint32_t sender_id, const char* data, unsigned length) {
  emit _p2p_msg(sender_id, copyBytes(data, length));
}
void MediaEventBridge::p2all_msg(uint32_t sender_id, const char* data, unsigned length) {
  emit _p2all_msg(sender_id, copyBytes(data, length));
}
void MediaEventBridge::get_classing_user_ack(int code, uint32_t user_id) {
  emit _get_classing_user_ack(code, user_id);
}
void MediaEventBridge::p2p_msg_ack(uint32_t id, const char* data, unsigned length) {
  emit _p2p_msg_ack(id, copyBytes(data, length));
}
void MediaEventBridge::p2all_msg_ack(uint32_t id, const char* data, unsigned length) {
  emit _p2all_msg_ack(id, copyBytes(data, length));
}
void MediaEventBridge::user_net_state(uint32_t user_id, int state) {
  if (state == 1)
    emit _user_net_error(user_id);
}
