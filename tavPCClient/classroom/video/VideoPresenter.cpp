#include "VideoPresenter.h"

#include <QDebug>

#include "BoardCanvas.h"
#include "ClassroomContext.h"
#include "MainVideoBox.h"
#include "PlayWnd.h"
#include "RoomSession.h"
#include "SharedAreaView.h"
#include "VideoFrameQueue.h"
#include "VideoGroup.h"
#include "VideoLineup.h"
#include "VideoRenderWidget.h"
#include "libpavo/libpavo.h"

VideoPresenter::VideoPresenter(ClassroomContext& context, VideoFrameQueue& frames,
                               const Views& views, QObject* parent)
    : QObject(parent),
      context_(context),
      session_(context.session()),
      frames_(frames),
      views_(views) {
  setObjectName(QStringLiteral("videoPresenter"));
  connect(&session_, &RoomSession::mediaChanged, this, &VideoPresenter::mediaChanged);
  connect(&session_, &RoomSession::videoPromoted, this,
          [this](quint32 id) { subscribe(id, "切换中开启 "); });
  connect(&session_, &RoomSession::videoBumped, this,
          [this](quint32 id) { unsubscribe(id, "切换中停止 "); });
  connect(&session_, &RoomSession::mainVideoChanged, this, [this](quint32 id) {
    if (id == 0)
      views_.main->clear();
    else
      views_.main->setName(session_.nameOf(id));
  });
  connect(&session_, &RoomSession::memberAdded, this, &VideoPresenter::memberChanged);
  connect(&session_, &RoomSession::memberChanged, this, &VideoPresenter::memberChanged);
  connect(&session_, &RoomSession::rolesChanged, this, &VideoPresenter::refreshHover);
  for (VideoGroup* group : {views_.students, views_.others}) {
    connect(group, &VideoGroup::tileShown, this, &VideoPresenter::fillTile);
    // Only shown users' streams are received: a scroll swaps them.
    connect(&group->lineup(), &VideoLineup::scrolled, this,
            [this](QList<quint32> hidden, QList<quint32> shown) {
              for (quint32 id : hidden)
                context_.memberMedia().unsubscribe(id, media_kind_video);
              for (quint32 id : shown)
                context_.memberMedia().subscribe(id, media_kind_video);
            });
  }
  refreshHover();
}

void VideoPresenter::subscribe(quint32 userId, const char* why) {
  qDebug() << why << userId << session_.nameOf(userId) << " 的视频流";
  context_.memberMedia().subscribe(userId, media_kind_video);
}

void VideoPresenter::unsubscribe(quint32 userId, const char* why) {
  qDebug() << why << userId << session_.nameOf(userId) << " 的视频流";
  context_.memberMedia().unsubscribe(userId, media_kind_video);
}

void VideoPresenter::mediaChanged(quint32 userId, int kind, bool on) {
  if (kind == media_kind_audio) {
    if (on)
      qDebug() << "响应消息开启 " << userId << session_.nameOf(userId) << " 的音频";
    for (VideoGroup* group : {views_.students, views_.others})
      if (PlayWnd* tile = group->tile(userId))
        tile->setAudioOn(on);
    return;
  }
  if (on) {
    qDebug() << "响应消息开启 " << userId << session_.nameOf(userId) << " 的视频流";
    context_.memberMedia().subscribe(userId, kind);
    return;
  }
  if (kind == media_kind_screen && views_.toolView)
    views_.toolView->clear();
  qDebug() << "响应消息停止 " << userId << session_.nameOf(userId) << " 的视频流";
}

void VideoPresenter::fillTile(PlayWnd* tile) {
  const quint32 id = tile->userId();
  const RoomMember* member = session_.member(id);
  tile->setUser(id, member ? member->nickName : QString(),
                member ? member->roleCode : static_cast<int>(RoomContext::kOther));
  tile->setAudioOn(session_.isOn(id, media_kind_audio));
  tile->setHoverAllowed(session_.hasTeacherRights() || id == context_.ownUserId());
}

void VideoPresenter::memberChanged(quint32 userId) {
  for (VideoGroup* group : {views_.students, views_.others})
    if (PlayWnd* tile = group->tile(userId))
      fillTile(tile);
  if (userId == session_.mainVideoUser())
    views_.main->setName(session_.nameOf(userId));
}

void VideoPresenter::refreshHover() {
  const bool teacher = session_.hasTeacherRights();
  for (VideoGroup* group : {views_.students, views_.others}) {
    group->setHoverAllowed(teacher);
    // The own tile always offers its own controls.
    if (PlayWnd* own = group->tile(context_.ownUserId()))
      own->setHoverAllowed(true);
  }
}

VideoRenderWidget* VideoPresenter::videoTarget(quint32 userId, int kind) const {
  if (kind == media_kind_video) {
    if (userId != 0 && userId == session_.mainVideoUser())
      return enlarged_ && views_.stageMain ? views_.stageMain : views_.main->renderWidget();
    for (VideoGroup* group : {views_.students, views_.others})
      if (PlayWnd* tile = group->tile(userId))
        return tile->renderWidget();
    return nullptr;
  }
  if (kind == media_kind_screen && static_cast<qint64>(userId) == session_.room().screenSharerId)
    return views_.toolView;
  return nullptr;
}

void VideoPresenter::toggleMainVideo() {
  if (!enlarged_) {
    if (!session_.classInProgress())
      return;
    // The board writing over the own shared screen goes with its layout.
    const SharedAreaView* area = context_.find<SharedAreaView>();
    const BoardCanvas* board = context_.find<BoardCanvas>();
    const bool ownShare = session_.room().screenSharerId == qint64(context_.ownUserId());
    if (ownShare && board && board->hasShapes() && area && area->screenShareMode()) {
      context_.dialogs().inform(QStringLiteral("板书状态下不能做此操作！"));
      return;
    }
  }
  enlarged_ = !enlarged_;
  views_.main->renderWidget()->clear();
  emit mainVideoEnlarged(enlarged_);
}

void VideoPresenter::slot_videoData_arrived() {
  std::optional<VideoFrameRecord> frame = frames_.take();
  if (!frame)
    return;
  slot_onVideoFrameArrived(frame->width, frame->height, frame->pixels, frame->userId, frame->kind);
}

void VideoPresenter::slot_onVideoFrameArrived(int width, int height, uint8_t* pixels,
                                              quint32 userId, int kind) {
  if (session_.classInProgress()) {
    if (VideoRenderWidget* target = videoTarget(userId, kind))
      target->showFrame(pixels, width, height, bytesPerPixel_);
  }
  frames_.release(VideoFrameRecord{width, height, pixels, userId, kind});
}
