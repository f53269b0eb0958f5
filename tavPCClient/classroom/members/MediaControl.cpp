#include "MediaControl.h"

#include <QDebug>

#include "ClassroomContext.h"
#include "PlayWndOperation.h"
#include "RoomSession.h"
#include "libpavo/libpavo.h"

MediaControl::MediaControl(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      media_(context.memberMedia()),
      session_(context.session()) {
  setObjectName(QStringLiteral("mediaControl"));
}

int MediaControl::ctrl(unsigned cmd, quint32 userId, int kind) {
  return cmd == media_cmd_open_media ? media_.openMedia(userId, kind)
                                     : media_.closeMedia(userId, kind);
}

void MediaControl::onOperateAudio(quint32 userId) {
  const RoomMember* member = session_.member(userId);
  if (!member) {
    context_.toast(QStringLiteral("用户已经与教室断开连接！"));
    return;
  }
  if (!context_.mcuConnected()) {
    qDebug() << userId << member->nickName << " PDU未连接、MCU未连接";
    return;
  }
  if (member->audioOn) {
    if (ctrl(media_cmd_close_media, userId, media_kind_audio) != 0)
      context_.toast(QStringLiteral("关闭声音失败！"));
    return;
  }
  if (session_.audioOnCount() > RoomSession::kAudioLimit - 1) {
    context_.toast(QStringLiteral("最多只能打开%1路声音！").arg(RoomSession::kAudioLimit));
    return;
  }
  if (!member->hasMicrophone) {
    // Asking for a microphone the member does not have would open nothing.
    slot_open_user_media_state(userId, 1, media_kind_audio);
    return;
  }
  if (ctrl(media_cmd_open_media, userId, media_kind_audio) != 0)
    context_.toast(QStringLiteral("打开声音失败！"));
}

void MediaControl::onOperateVideo(quint32 userId) {
  const RoomMember* member = session_.member(userId);
  if (!member) {
    context_.toast(QStringLiteral("用户已经与教室断开连接！"));
    return;
  }
  if (!context_.mcuConnected()) {
    context_.toast(QStringLiteral("未与教室建立连接"));
    return;
  }
  if (member->videoOn) {
    if (ctrl(media_cmd_close_media, userId, media_kind_video) != 0)
      context_.toast(QStringLiteral("关闭视频失败！"));
    return;
  }
  if (!member->hasCamera) {
    slot_open_user_media_state(userId, 1, media_kind_video);
    return;
  }
  if (ctrl(media_cmd_open_media, userId, media_kind_video) != 0)
    context_.toast(QStringLiteral("打开视频失败！"));
}

void MediaControl::btnOprVideo_teacher_Clicked() {
  onOperateVideo(context_.ownUserId());
}

void MediaControl::btnOprAudio_teacher_Clicked() {
  onOperateAudio(context_.ownUserId());
}

void MediaControl::openAllAudio(const QList<quint32>& ticked) {
  const int free = session_.freeAudioChannels();
  if (free <= 0) {
    context_.toast(QStringLiteral("最多只能打开%1路声音！").arg(RoomSession::kAudioLimit));
    return;
  }
  bulk(ticked, media_kind_audio, true, free);
}

void MediaControl::openAllVideo(const QList<quint32>& ticked) {
  bulk(ticked, media_kind_video, true, ticked.size());
}

void MediaControl::closeAllAudio(const QList<quint32>& ticked) {
  bulk(ticked, media_kind_audio, false, ticked.size());
}

void MediaControl::closeAllVideo(const QList<quint32>& ticked) {
  bulk(ticked, media_kind_video, false, ticked.size());
}

void MediaControl::bulk(const QList<quint32>& ticked, int kind, bool open, int most) {
  const bool video = kind == media_kind_video;
  int asked = 0;
  for (quint32 id : ticked) {
    if (asked >= most)
      break;
    const RoomMember* member = session_.member(id);
    if (!member || (video ? member->videoOn : member->audioOn) == open)
      continue;
    if (open && !(video ? member->hasCamera : member->hasMicrophone))
      continue;
    qDebug() << (open ? (video ? "勾选打开视频中打开 " : "勾选打开声音中打开 ")
                      : (video ? "勾选关闭视频中关闭 " : "勾选关闭声音中关闭 "))
             << id << member->nickName << (video ? " 的视频" : " 的声音");
    ctrl(open ? media_cmd_open_media : media_cmd_close_media, id, kind);
    ++asked;
  }
}

void MediaControl::playWnd_Opr(quint32 userId, int opr) {
  if (!session_.contains(userId))
    return;
  switch (opr) {
    case PlayWndOperation::CloseMedia:
      if (ctrl(media_cmd_close_media, userId, media_kind_video) != 0)
        context_.toast(QStringLiteral("关闭视频失败！"));
      break;
    case PlayWndOperation::Audio:
      onOperateAudio(userId);
      break;
    case PlayWndOperation::Gift:
      if (userId == context_.ownUserId()) {
        context_.toast(QStringLiteral("不可以自己给自己送礼物！"));
      } else {
        // The gift row takes it and says so.
        session_.setGiftReceiver(userId);
      }
      break;
    default:
      break;
  }
}

void MediaControl::slot_camera_timeout() {
  playWnd_Opr(context_.ownUserId(), PlayWndOperation::CloseMedia);
}

void MediaControl::slot_open_user_media_state(quint32, int state, int kind) {
  if (state == 0)
    return;
  switch (kind) {
    case media_kind_video:
      context_.toast(QStringLiteral("该用户的摄像头不存在或故障，打开视频失败！"));
      break;
    case media_kind_audio:
      context_.toast(QStringLiteral("该用户的麦克风不存在或故障，打开声音失败！"));
      break;
    case media_kind_screen:
      context_.toast(QStringLiteral("打开教具失败！"));
      break;
    case media_kind_doc_camera:
      context_.toast(QStringLiteral("共享实物展台失败！"));
      break;
    default:
      break;
  }
}
