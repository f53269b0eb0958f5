#include "RoomSession.h"

#include <QDebug>

RoomSession::RoomSession(quint32 ownUserId, quint32 ownerId, RoomContext& room, QObject* parent)
    : QObject(parent),
      ownUserId_(ownUserId),
      ownerId_(ownerId),
      room_(room),
      students_(kStudentTiles),
      others_(kOtherTiles) {
  qRegisterMetaType<MediaUser>("MediaUser");
  qRegisterMetaType<MediaUserList>("MediaUserList");
  setObjectName(QStringLiteral("roomSession"));
}

const RoomMember* RoomSession::member(quint32 userId) const {
  const auto found = members_.constFind(userId);
  return found == members_.constEnd() ? nullptr : &found.value();
}

QString RoomSession::nameOf(quint32 userId) const {
  const RoomMember* m = member(userId);
  return m ? m->nickName : QString();
}

void RoomSession::loadMemberList(const QJsonArray& online) {
  for (const QJsonValue& value : online) {
    if (!value.isObject())
      continue;
    if (std::optional<RoomMember> m = RoomMember::fromJson(value.toObject()))
      addMember(*m);
  }
  if (const RoomMember* own = member(ownUserId_))
    setOwnRole(own->roleCode, own->isAssistant || room_.isAssistant);
}

void RoomSession::addMember(const RoomMember& incoming) {
  supplement_.removeAll(incoming.userId);
  supplementMasks_.remove(incoming.userId);
  auto existing = members_.find(incoming.userId);
  if (existing != members_.end()) {
    RoomMember updated = incoming;
    updated.videoOn = existing->videoOn;
    updated.audioOn = existing->audioOn;
    updated.hasCamera = existing->hasCamera;
    updated.hasMicrophone = existing->hasMicrophone;
    updated.handUp = existing->handUp;  // the member list knows nothing of hands
    *existing = updated;
  } else {
    RoomMember added = incoming;
    const int kinds = mediaKinds_.value(incoming.userId);
    added.videoOn = (kinds & kVideo) != 0;
    added.audioOn = (kinds & kAudio) != 0;
    if (added.userId == ownUserId_) {
      added.hasCamera = ownHasCamera_;
      added.hasMicrophone = ownHasMicrophone_;
    }
    members_.insert(added.userId, added);
  }
  // A tile placed before the role was known may sit in the wrong lineup.
  VideoLineup& right = lineupFor(incoming.userId);
  VideoLineup& wrong = &right == &students_ ? others_ : students_;
  if (wrong.contains(incoming.userId)) {
    if (const quint32 promoted = wrong.remove(incoming.userId))
      emit videoPromoted(promoted);
    placeVideo(incoming.userId);
  }
  if (existing != members_.end())
    emit memberChanged(incoming.userId);
  else
    emit memberAdded(incoming.userId);
}

void RoomSession::removeMember(quint32 userId) {
  if (!members_.contains(userId))
    return;
  freeVideo(userId);
  const bool hadHandUp = members_.value(userId).handUp;
  members_.remove(userId);
  emit memberRemoved(userId);
  if (hadHandUp)
    emit handsChanged(raisedHands());
}

QList<quint32> RoomSession::applyMediaServerList(const MediaUserList& users) {
  QHash<quint32, quint32> present;
  for (const MediaUser& user : users)
    present.insert(user.userId, user.mask);
  const QList<quint32> known = members_.keys();
  for (quint32 id : known) {
    if (id == ownUserId_)
      continue;
    const auto found = present.constFind(id);
    if (found == present.constEnd()) {
      removeMember(id);
      continue;
    }
    setDevices(id, *found);
  }
  // In the media server's order.
  QList<quint32> newcomers;
  for (const MediaUser& user : users) {
    if (user.userId == ownUserId_ || members_.contains(user.userId))
      continue;
    supplementMasks_.insert(user.userId, user.mask);
    if (!supplement_.contains(user.userId)) {
      supplement_.append(user.userId);
      newcomers.append(user.userId);
    }
  }
  return newcomers;
}

void RoomSession::setMemberMuted(quint32 userId, bool muted) {
  auto m = members_.find(userId);
  if (m == members_.end() || m->muted == muted)
    return;
  m->muted = muted;
  emit memberChanged(userId);
}

void RoomSession::setMemberAssistant(quint32 userId, bool assistant) {
  auto m = members_.find(userId);
  if (m == members_.end() || m->isAssistant == assistant)
    return;
  m->isAssistant = assistant;
  emit memberChanged(userId);
}

void RoomSession::setMemberMedal(quint32 userId, const QString& medal) {
  auto m = members_.find(userId);
  if (m == members_.end() || m->medals == medal)
    return;
  m->medals = medal;
  emit memberChanged(userId);
}

void RoomSession::setHandUp(quint32 userId, bool up) {
  auto m = members_.find(userId);
  if (m == members_.end() || m->handUp == up)
    return;
  m->handUp = up;
  emit memberChanged(userId);
  emit handsChanged(raisedHands());
}

int RoomSession::raisedHands() const {
  int raised = 0;
  for (const RoomMember& m : members_)
    raised += m.handUp ? 1 : 0;
  return raised;
}

void RoomSession::setDevices(quint32 userId, quint32 mask) {
  auto m = members_.find(userId);
  if (m == members_.end())
    return;
  const bool camera = (mask & 1u) != 0;
  const bool microphone = (mask & 2u) != 0;
  if (m->hasCamera == camera && m->hasMicrophone == microphone)
    return;
  m->hasCamera = camera;
  m->hasMicrophone = microphone;
  emit memberChanged(userId);
}

void RoomSession::userLeft(quint32 userId) {
  supplement_.removeAll(userId);
  supplementMasks_.remove(userId);
  if (userId == ownUserId_)
    return;
  mediaKinds_.remove(userId);
  freeVideo(userId);  // also the tile of somebody never listed
  removeMember(userId);
}

void RoomSession::setOwnDevices(int kind, bool present) {
  bool& flag = kind == kVideo ? ownHasCamera_ : ownHasMicrophone_;
  flag = present;
  auto own = members_.find(ownUserId_);
  if (own != members_.end()) {
    (kind == kVideo ? own->hasCamera : own->hasMicrophone) = present;
    emit memberChanged(ownUserId_);
  }
  emit ownDevicesChanged();
}

bool RoomSession::isOn(quint32 userId, int kind) const {
  const RoomMember* m = member(userId);
  if (m && (kind == kVideo || kind == kAudio))
    return kind == kVideo ? m->videoOn : m->audioOn;
  return (mediaKinds_.value(userId) & kind) != 0;
}

int RoomSession::audioOnCount() const {
  int count = 0;
  for (const RoomMember& m : members_)
    if (m.audioOn)
      ++count;
  return count;
}

void RoomSession::setMemberMedia(quint32 userId, int kind, bool on) {
  auto m = members_.find(userId);
  if (m == members_.end() || (kind != kVideo && kind != kAudio))
    return;
  (kind == kVideo ? m->videoOn : m->audioOn) = on;
}

void RoomSession::mediaOpened(quint32 userId, int kind) {
  mediaKinds_[userId] |= kind;
  setMemberMedia(userId, kind, true);
  if (kind == kVideo)
    placeVideo(userId);
  emit mediaChanged(userId, kind, true);
}

void RoomSession::mediaClosed(quint32 userId, int kind) {
  mediaKinds_[userId] &= ~kind;
  setMemberMedia(userId, kind, false);
  if (kind == kVideo)
    freeVideo(userId);
  emit mediaChanged(userId, kind, false);
}

void RoomSession::setExistingMedia(const MediaUserList& media) {
  existingMedia_ = media;
  if (room_.classInProgress)
    replayExistingMedia();
  else
    emit signal_have_exist_media(false);
}

void RoomSession::replayExistingMedia() {
  if (!room_.classInProgress)
    return;
  bool screen = false;
  for (const MediaUser& entry : existingMedia_) {
    for (int kind : {kVideo, kAudio, kScreen}) {
      if ((entry.mask & static_cast<quint32>(kind)) == 0)
        continue;
      mediaOpened(entry.userId, kind);
      screen |= kind == kScreen;
    }
  }
  emit signal_have_exist_media(screen);
}

quint32 RoomSession::mainUserId() const {
  if (ownerId_ != 0)
    return ownerId_;
  for (const RoomMember& m : members_)
    if (m.roleCode == RoomContext::kTeacher)
      return m.userId;
  return 0;
}

VideoLineup& RoomSession::lineupFor(quint32 userId) {
  const RoomMember* m = member(userId);
  return m && m->roleCode == RoomContext::kStudent ? students_ : others_;
}

void RoomSession::placeVideo(quint32 userId) {
  if (userId == mainUserId()) {
    if (mainVideoUser_ != userId) {
      mainVideoUser_ = userId;
      emit mainVideoChanged(userId);
    }
    return;
  }
  VideoLineup& lineup = lineupFor(userId);
  if (lineup.contains(userId))
    return;
  const VideoLineup::AddResult added = lineup.add(userId, userId == ownUserId_);
  if (added.bumpedId != 0)
    emit videoBumped(added.bumpedId);
}

void RoomSession::freeVideo(quint32 userId) {
  if (mainVideoUser_ == userId) {
    mainVideoUser_ = 0;
    emit mainVideoChanged(0);
  }
  for (VideoLineup* lineup : {&students_, &others_}) {
    if (!lineup->contains(userId))
      continue;
    if (const quint32 promoted = lineup->remove(userId))
      emit videoPromoted(promoted);
  }
}

void RoomSession::classStarted(qint64 starterId) {
  const bool wasRunning = room_.classInProgress;
  room_.classInProgress = true;
  room_.classStarterId = starterId;
  emit classStateChanged(true);
  emit rolesChanged();
  if (!wasRunning)
    replayExistingMedia();
}

void RoomSession::classRunning() {
  if (room_.classInProgress)
    return;
  room_.classInProgress = true;
  emit classStateChanged(true);
  replayExistingMedia();
}

void RoomSession::setClassingUser(quint32 userId) {
  room_.classStarterId = userId;
  room_.screenSharerId = userId;
  emit rolesChanged();
  emit floorsChanged();
  emit classStateChanged(room_.classInProgress);
}

void RoomSession::classStopped() {
  room_.classInProgress = false;
  room_.classStarterId = -1;
  room_.resetTeaching();
  // The media library stops every stream, the own ones too, without announcing each.
  closeAllMedia();
  emit floorsChanged();
  emit rolesChanged();
  emit classStateChanged(false);
}

int RoomSession::mediaLost() {
  const int own = mediaKinds_.value(ownUserId_);
  existingMedia_.clear();  // the next connection says again what is published
  closeAllMedia();
  return own;
}

void RoomSession::closeAllMedia() {
  // The tiles go first, so nobody waiting is promoted on the way.
  students_.clear();
  others_.clear();
  if (mainVideoUser_ != 0) {
    mainVideoUser_ = 0;
    emit mainVideoChanged(0);
  }
  const QHash<quint32, int> kinds = mediaKinds_;
  mediaKinds_.clear();
  for (auto it = kinds.constBegin(); it != kinds.constEnd(); ++it) {
    for (int kind : {kVideo, kAudio, kScreen, kDocCamera}) {
      if ((it.value() & kind) == 0)
        continue;
      setMemberMedia(it.key(), kind, false);
      emit mediaChanged(it.key(), kind, false);
    }
  }
}

void RoomSession::setOwnRole(int roleCode, bool assistant) {
  room_.ownRole = roleCode;
  room_.isAssistant = assistant;
  emit rolesChanged();
}

void RoomSession::setAssistant(bool assistant) {
  const bool revoked = room_.isAssistant && !assistant;
  room_.isAssistant = assistant;
  emit rolesChanged();
  if (revoked)
    emit assistantRevoked();
}

void RoomSession::resetTeaching() {
  room_.resetTeaching();
  emit floorsChanged();
}

void RoomSession::setFloor(qint64 RoomContext::*floor, qint64 userId) {
  room_.*floor = userId;
  emit floorsChanged();
}

void RoomSession::setScreenSharer(qint64 userId) {
  setFloor(&RoomContext::screenSharerId, userId);
}

void RoomSession::setPictureSharer(qint64 userId) {
  setFloor(&RoomContext::pictureSharerId, userId);
}

void RoomSession::setAnnotating(qint64 userId) {
  setFloor(&RoomContext::annotatingId, userId);
}

void RoomSession::setAnnoState(int state) {
  room_.annoState = state;
  emit floorsChanged();
}

void RoomSession::setToolHolder(qint64 userId) {
  setFloor(&RoomContext::toolHolderId, userId);
}

void RoomSession::setShareType(int type, quint64 window) {
  room_.shareType = type;
  room_.sharedWindow = window;
}
