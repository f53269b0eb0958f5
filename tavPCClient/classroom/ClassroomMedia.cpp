// Opening and closing members' cameras and microphones, the library's media
// events, the video tiles and the frames painted in them.
#include <QDebug>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

#include "Classroom.h"
#include "MemberListWidget.h"
#include "PlayWnd.h"
#include "Prompt.h"
#include "UserItem.h"
#include "VideoFrameQueue.h"
#include "VideoGroup.h"
#include "VideoRenderWidget.h"

namespace {

MemberListWidget::Group listGroup(RoomMember::Group group) {
  switch (group) {
    case RoomMember::kTeacherGroup:
      return MemberListWidget::Teacher;
    case RoomMember::kInspectorGroup:
      return MemberListWidget::Inspector;
    case RoomMember::kAssistantGroup:
      return MemberListWidget::Assistant;
    case RoomMember::kStudentGroup:
      return MemberListWidget::Student;
    case RoomMember::kParentGroup:
      return MemberListWidget::Parent;
    default:
      return MemberListWidget::Auditor;
  }
}

}  // namespace

int Classroom::ctrl(unsigned cmd, quint32 userId, int kind) {
  if (!media_)
    return -1;
  user_media_kind_t arg{userId, kind};
  return media_->media_ctrl(cmd, &arg);
}

void Classroom::toast(const QString& text) {
  Prompt::instance()->showMessage(this, text);
}

QString Classroom::nameOf(quint32 userId) const {
  const auto found = members_.constFind(userId);
  return found == members_.constEnd() ? QString() : found->nickName;
}

quint32 Classroom::mainUserId() const {
  if (entry_.ownerId != 0)
    return entry_.ownerId;
  for (const RoomMember& m : members_)
    if (m.roleCode == RoomContext::kTeacher)
      return m.userId;
  return 0;
}

int Classroom::audioOnCount() const {
  int count = 0;
  for (const RoomMember& m : members_)
    if (m.audioOn)
      ++count;
  return count;
}

void Classroom::showMember(const RoomMember& member) {
  UserItem* item = memberList_->addUser(member.userId, member.nickName, member.roleCode,
                                        listGroup(member.group()));
  if (!item)
    return;
  item->setHasCamera(member.hasCamera);
  item->setHasMicrophone(member.hasMicrophone);
  item->setVideoOn(member.videoOn);
  item->setAudioOn(member.audioOn);
  item->setMuted(member.muted);
  item->setAssistant(member.isAssistant);
  item->setLevel(member.level);
}

void Classroom::onOperateVideo(quint32 userId) {
  toggleVideo(userId);
}

void Classroom::onOperateAudio(quint32 userId) {
  toggleAudio(userId);
}

void Classroom::btnOprVideo_teacher_Clicked() {
  toggleVideo(entry_.ownUserId);
}

void Classroom::btnOprAudio_teacher_Clicked() {
  toggleAudio(entry_.ownUserId);
}

void Classroom::toggleAudio(quint32 userId) {
  const auto member = members_.constFind(userId);
  if (member == members_.constEnd()) {
    toast(QStringLiteral("用户已经与教室断开连接！"));
    return;
  }
  if (!mcuConnected_) {
    qDebug() << userId << member->nickName << " PDU未连接、MCU未连接";
    return;
  }
  if (member->audioOn) {
    if (ctrl(media_cmd_close_media, userId, media_kind_audio) != 0)
      toast(QStringLiteral("关闭声音失败！"));
    return;
  }
  if (audioOnCount() > kAudioLimit - 1) {
    toast(QStringLiteral("最多只能打开%1路声音！").arg(kAudioLimit));
    return;
  }
  if (!member->hasMicrophone) {
    // Asking for a microphone the member does not have would open nothing.
    emit signal_open_user_media_state(userId, 1, media_kind_audio);
    return;
  }
  if (ctrl(media_cmd_open_media, userId, media_kind_audio) != 0)
    toast(QStringLiteral("打开声音失败！"));
}

void Classroom::toggleVideo(quint32 userId) {
  const auto member = members_.constFind(userId);
  if (member == members_.constEnd()) {
    toast(QStringLiteral("用户已经与教室断开连接！"));
    return;
  }
  if (!mcuConnected_) {
    toast(QStringLiteral("未与教室建立连接"));
    return;
  }
  if (member->videoOn) {
    if (ctrl(media_cmd_close_media, userId, media_kind_video) != 0)
      toast(QStringLiteral("关闭视频失败！"));
    return;
  }
  if (!member->hasCamera) {
    emit signal_open_user_media_state(userId, 1, media_kind_video);
    return;
  }
  if (ctrl(media_cmd_open_media, userId, media_kind_video) != 0)
    toast(QStringLiteral("打开视频失败！"));
}

void Classroom::btnOpenAllAudio_clicked() {
  const int free = kAudioLimit - audioOnCount();
  if (free <= 0) {
    toast(QStringLiteral("最多只能打开%1路声音！").arg(kAudioLimit));
  } else {
    int opened = 0;
    for (UserItem* item : memberList_->items()) {
      if (opened >= free)
        break;
      const auto member = members_.constFind(item->userId());
      if (!item->isChecked() || member == members_.constEnd() || member->audioOn ||
          !member->hasMicrophone)
        continue;
      qDebug() << "勾选打开声音中打开 " << member->userId << member->nickName << " 的声音";
      ctrl(media_cmd_open_media, member->userId, media_kind_audio);
      ++opened;
    }
  }
  openAllAudio_->setEnabled(false);
  closeAllAudio_->setEnabled(false);
  QTimer::singleShot(kBulkButtonPauseMs, Qt::PreciseTimer, this, &Classroom::setAllAudioBtnEnabled);
}

void Classroom::btnOpenAllVideo_clicked() {
  for (UserItem* item : memberList_->items()) {
    const auto member = members_.constFind(item->userId());
    if (!item->isChecked() || member == members_.constEnd() || member->videoOn ||
        !member->hasCamera)
      continue;
    qDebug() << "勾选打开视频中打开 " << member->userId << member->nickName << " 的视频";
    ctrl(media_cmd_open_media, member->userId, media_kind_video);
  }
  openAllVideo_->setEnabled(false);
  closeAllVideo_->setEnabled(false);
  QTimer::singleShot(kBulkButtonPauseMs, Qt::PreciseTimer, this, &Classroom::setAllVideoBtnEnabled);
}

void Classroom::btnCloseAllAudio_clicked() {
  for (UserItem* item : memberList_->items()) {
    const auto member = members_.constFind(item->userId());
    if (!item->isChecked() || member == members_.constEnd() || !member->audioOn)
      continue;
    qDebug() << "勾选关闭声音中关闭 " << member->userId << member->nickName << " 的声音";
    ctrl(media_cmd_close_media, member->userId, media_kind_audio);
  }
  openAllAudio_->setEnabled(false);
  closeAllAudio_->setEnabled(false);
  QTimer::singleShot(kBulkButtonPauseMs, Qt::PreciseTimer, this, &Classroom::setAllAudioBtnEnabled);
}

void Classroom::btnCloseAllVideo_clicked() {
  for (UserItem* item : memberList_->items()) {
    const auto member = members_.constFind(item->userId());
    if (!item->isChecked() || member == members_.constEnd() || !member->videoOn)
      continue;
    qDebug() << "勾选关闭视频中关闭 " << member->userId << member->nickName << " 的视频";
    ctrl(media_cmd_close_media, member->userId, media_kind_video);
  }
  openAllVideo_->setEnabled(false);
  closeAllVideo_->setEnabled(false);
  QTimer::singleShot(kBulkButtonPauseMs, Qt::PreciseTimer, this, &Classroom::setAllVideoBtnEnabled);
}

void Classroom::setAllAudioBtnEnabled() {
  openAllAudio_->setEnabled(true);
  closeAllAudio_->setEnabled(true);
}

void Classroom::setAllVideoBtnEnabled() {
  openAllVideo_->setEnabled(true);
  closeAllVideo_->setEnabled(true);
}

void Classroom::playWnd_Opr(quint32 userId, int opr) {
  if (!members_.contains(userId))
    return;
  switch (opr) {
    case PlayWnd::OprCloseMedia:
      if (ctrl(media_cmd_close_media, userId, media_kind_video) != 0)
        toast(QStringLiteral("关闭视频失败！"));
      break;
    case PlayWnd::OprAudio:
      toggleAudio(userId);
      break;
    case PlayWnd::OprGift:
      if (userId == entry_.ownUserId) {
        toast(QStringLiteral("不可以自己给自己送礼物！"));
      } else {
        giftReceiverId_ = userId;
        toast(QStringLiteral("已选中接收礼物者，请在界面底部区域赠送礼物！"));
      }
      break;
    default:
      break;
  }
}

void Classroom::slot_camera_timeout() {
  playWnd_Opr(entry_.ownUserId, PlayWnd::OprCloseMedia);
}

void Classroom::setItemMedia(quint32 userId, int kind, bool on) {
  auto member = members_.find(userId);
  if (member == members_.end())
    return;
  (kind == media_kind_video ? member->videoOn : member->audioOn) = on;
  if (UserItem* item = memberList_->findUser(userId)) {
    if (kind == media_kind_video)
      item->setVideoOn(on);
    else
      item->setAudioOn(on);
  }
  if (kind == media_kind_audio) {
    if (VideoGroup* group = groupFor(userId))
      if (PlayWnd* tile = group->tile(userId))
        tile->setAudioOn(on);
  }
  if (userId == entry_.ownUserId) {
    ownVideoButton_->setChecked(member->videoOn);
    ownAudioButton_->setChecked(member->audioOn);
  }
}

VideoGroup* Classroom::groupFor(quint32 userId) const {
  const auto member = members_.constFind(userId);
  const bool student = member != members_.constEnd() && member->roleCode == RoomContext::kStudent;
  return student ? studentVideos_ : otherVideos_;
}

void Classroom::placeVideo(quint32 userId) {
  if (userId == mainUserId()) {
    mainVideoUser_ = userId;
    mainVideoName_->setText(nameOf(userId));
    return;
  }
  VideoGroup* group = groupFor(userId);
  if (group->contains(userId))
    return;
  const auto member = members_.constFind(userId);
  const int role = member == members_.constEnd() ? RoomContext::kOther : member->roleCode;
  const bool own = userId == entry_.ownUserId;
  const VideoGroup::AddResult added = group->add(userId, nameOf(userId), role, own);
  if (added.tile) {
    added.tile->setVideoOn(true);
    added.tile->setAudioOn(member != members_.constEnd() && member->audioOn);
    added.tile->setHoverAllowed(context_.hasTeacherRights() || own);
  }
  otherVideos_->setVisible(!otherVideos_->displayed().isEmpty());
  if (added.bumpedId != 0) {
    qDebug() << "切换中停止 " << added.bumpedId << nameOf(added.bumpedId) << " 的视频流";
    ctrl(media_cmd_unsubscribe, added.bumpedId, media_kind_video);
  }
}

void Classroom::freeVideo(quint32 userId) {
  if (mainVideoUser_ == userId) {
    mainVideoUser_ = 0;
    mainVideo_->clear();
    mainVideoName_->setText(QStringLiteral("老师视频"));
  }
  for (VideoGroup* group : {studentVideos_, otherVideos_}) {
    if (!group->contains(userId))
      continue;
    const quint32 promoted = group->remove(userId);
    if (promoted != 0) {
      qDebug() << "切换中开启 " << promoted << nameOf(promoted) << " 的视频流";
      ctrl(media_cmd_subscribe, promoted, media_kind_video);
    }
  }
  otherVideos_->setVisible(!otherVideos_->displayed().isEmpty());
}

VideoRenderWidget* Classroom::videoTarget(quint32 userId, int kind) const {
  if (kind == media_kind_video) {
    if (userId != 0 && userId == mainVideoUser_)
      return mainVideo_;
    for (VideoGroup* group : {studentVideos_, otherVideos_})
      if (PlayWnd* tile = group->tile(userId))
        return tile->renderWidget();
    return nullptr;
  }
  if (kind == media_kind_screen && static_cast<qint64>(userId) == context_.screenSharerId)
    return toolView_;
  return nullptr;
}

void Classroom::slot_new_media_coming(quint32 userId, int kind) {
  mediaKinds_[userId] |= kind;
  if (kind == media_kind_video) {
    setItemMedia(userId, kind, true);
    placeVideo(userId);
  } else if (kind == media_kind_screen) {
    if (static_cast<qint64>(userId) == context_.screenSharerId)
      stage_->setCurrentWidget(toolView_);
  }
  if (kind != media_kind_audio) {
    qDebug() << "响应消息开启 " << userId << nameOf(userId) << " 的视频流";
    ctrl(media_cmd_subscribe, userId, kind);
  } else {
    qDebug() << "响应消息开启 " << userId << nameOf(userId) << " 的音频";
    setItemMedia(userId, kind, true);
  }
}

void Classroom::slot_close_media(quint32 userId, int kind) {
  mediaKinds_[userId] &= ~kind;
  if (kind == media_kind_video) {
    setItemMedia(userId, kind, false);
    freeVideo(userId);
  } else if (kind == media_kind_audio) {
    setItemMedia(userId, kind, false);
  } else if (kind == media_kind_screen) {
    toolView_->clear();
    stage_->setCurrentWidget(sharedArea_);
  }
  qDebug() << "响应消息停止 " << userId << nameOf(userId) << " 的视频流";
}

void Classroom::slot_get_user_list(MediaUserList users) {
  QHash<quint32, quint32> present;
  for (const MediaUser& user : users)
    present.insert(user.userId, user.mask);
  const QList<quint32> known = members_.keys();
  for (quint32 id : known) {
    if (id == entry_.ownUserId)
      continue;
    const auto found = present.constFind(id);
    if (found == present.constEnd()) {
      removeMember(id);
      continue;
    }
    RoomMember& member = members_[id];
    member.hasCamera = (*found & device_camera) != 0;
    member.hasMicrophone = (*found & device_microphone) != 0;
    showMember(member);
  }
  for (auto it = present.constBegin(); it != present.constEnd(); ++it) {
    if (it.key() == entry_.ownUserId || members_.contains(it.key()) ||
        supplement_.contains(it.key()))
      continue;
    supplement_.append(it.key());
    supplementMasks_.insert(it.key(), it.value());
  }
  if (!supplement_.isEmpty() && !supplementTimer_->isActive())
    supplementTimer_->start(kSupplementMs);
}

void Classroom::timerSupplement_timeout() {
  if (supplement_.isEmpty()) {
    supplementTimer_->stop();
    return;
  }
  for (quint32 id : supplement_)
    slot_user_enter_room(MediaUser{id, supplementMasks_.value(id)});
}

void Classroom::slot_user_leave_from_room(quint32 userId) {
  supplement_.removeAll(userId);
  supplementMasks_.remove(userId);
  if (userId == entry_.ownUserId)
    return;
  mediaKinds_.remove(userId);
  freeVideo(userId);  // also a tile of somebody never listed
  removeMember(userId);
}

void Classroom::slot_existing_media(MediaUserList media) {
  existingMedia_ = media;
  if (context_.classInProgress)
    replayExistingMedia();
  else
    emit signal_have_exist_media(false);
}

void Classroom::slot_videoData_arrived() {
  std::optional<VideoFrameRecord> frame = frames_->take();
  if (!frame)
    return;
  slot_onVideoFrameArrived(frame->width, frame->height, frame->pixels, frame->userId, frame->kind);
}

void Classroom::slot_onVideoFrameArrived(int width, int height, uint8_t* pixels, quint32 userId,
                                         int kind) {
  if (context_.classInProgress) {
    if (VideoRenderWidget* target = videoTarget(userId, kind))
      target->showFrame(pixels, width, height);
  }
  frames_->release(VideoFrameRecord{width, height, pixels, userId, kind});
  ++framesReturned_;
}

void Classroom::slot_open_user_media_state(quint32, int state, int kind) {
  if (state == 0)
    return;
  switch (kind) {
    case media_kind_video:
      toast(QStringLiteral("该用户的摄像头不存在或故障，打开视频失败！"));
      break;
    case media_kind_audio:
      toast(QStringLiteral("该用户的麦克风不存在或故障，打开声音失败！"));
      break;
    case media_kind_screen:
      toast(QStringLiteral("打开教具失败！"));
      break;
    case media_kind_doc_camera:
      toast(QStringLiteral("共享实物展台失败！"));
      break;
    default:
      break;
  }
}

void Classroom::showMemberMenu(quint32 userId, const QPoint& globalPos) {
  const auto member = members_.constFind(userId);
  if (member == members_.constEnd())
    return;
  if (!context_.hasTeacherRights() && userId != entry_.ownUserId)
    return;
  QMenu menu(this);
  menu.addAction(member->videoOn ? QStringLiteral("关闭视频") : QStringLiteral("打开视频"), this,
                 [this, userId] { onOperateVideo(userId); });
  menu.addAction(member->audioOn ? QStringLiteral("关闭声音") : QStringLiteral("打开声音"), this,
                 [this, userId] { onOperateAudio(userId); });
  menu.exec(globalPos);
}
