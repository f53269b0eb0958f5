// What one member knows about the class it sits in, without any widget:
// the members and their media, the own role, the floors (share, board
// writing, teaching tool), whether the class runs and who started it, the
// audio limit, and who of each group has a video tile and who waits.
//
// The widgets and components follow its signals; tests drive it directly.
// The role, floor and class fields live in the process-wide RoomContext that
// every part of the classroom reads; change them through this object so the
// signals go out. GUI thread only.
#pragma once

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVector>

#include "RoomContext.h"
#include "RoomMember.h"
#include "VideoLineup.h"

struct MediaUser {
  quint32 userId = 0;
  quint32 mask = 0;  // device mask (1 camera, 2 microphone) or media kinds
};
using MediaUserList = QVector<MediaUser>;
Q_DECLARE_METATYPE(MediaUser)
Q_DECLARE_METATYPE(MediaUserList)

class RoomSession : public QObject {
  Q_OBJECT

public:
  static constexpr int kAudioLimit = 4;
  static constexpr int kStudentTiles = 4;
  static constexpr int kOtherTiles = 2;

  // Media kinds as the media library numbers them.
  enum Kind { kVideo = 1, kAudio = 2, kScreen = 4, kDocCamera = 32 };

  // ownerId: the room's creator (0 when unknown), whose video is the main one.
  RoomSession(quint32 ownUserId, quint32 ownerId, RoomContext& room, QObject* parent = nullptr);

  quint32 ownUserId() const { return ownUserId_; }
  const RoomContext& room() const { return room_; }
  bool hasTeacherRights() const { return room_.hasTeacherRights(); }
  bool classInProgress() const { return room_.classInProgress; }
  bool isClassStarter(quint32 userId) const {
    return room_.classStarterId == static_cast<qint64>(userId);
  }

  // Members.
  const QMap<quint32, RoomMember>& members() const { return members_; }
  const RoomMember* member(quint32 userId) const;
  bool contains(quint32 userId) const { return members_.contains(userId); }
  QString nameOf(quint32 userId) const;
  // The service's member list ("onlineUser"): every usable entry is added and
  // the own role and assistant flag are taken from the own entry.
  void loadMemberList(const QJsonArray& online);
  // Adds the member or brings its record up to date (its media and device state
  // stay).
  // Media announced before the member was known is applied now, and a tile
  // placed before its role was known moves to the right group.
  void addMember(const RoomMember& member);
  void removeMember(quint32 userId);
  // The media server's list of who is present, with device masks: listed
  // members get their devices, members it does not list are removed, and users
  // it lists that are not members yet are returned (they need a lookup) and
  // kept on the supplement list until they arrive or leave.
  QList<quint32> applyMediaServerList(const MediaUserList& users);
  // Camera and microphone present, from a media server device mask.
  void setDevices(quint32 userId, quint32 mask);
  // Moderation of one member (members only); memberChanged follows a change.
  void setMemberMuted(quint32 userId, bool muted);
  void setMemberAssistant(quint32 userId, bool assistant);
  void setMemberMedal(quint32 userId, const QString& medal);
  // A member's raised or lowered hand (members only); handsChanged follows.
  void setHandUp(quint32 userId, bool up);
  int raisedHands() const;
  // A user left the media server: its media, tile and record go.
  void userLeft(quint32 userId);
  const QList<quint32>& supplementList() const { return supplement_; }
  quint32 supplementMask(quint32 userId) const { return supplementMasks_.value(userId); }

  // Own devices, from the device check.
  void setOwnDevices(int kind, bool present);
  bool ownHasCamera() const { return ownHasCamera_; }
  bool ownHasMicrophone() const { return ownHasMicrophone_; }

  // Media as the media library announces them.
  void mediaOpened(quint32 userId, int kind);
  void mediaClosed(quint32 userId, int kind);
  bool isOn(quint32 userId, int kind) const;
  int audioOnCount() const;
  // Sound channels still free under the audio limit (0 when full).
  int freeAudioChannels() const { return qMax(0, kAudioLimit - audioOnCount()); }
  // Media already published when the own member joined; replayed as opened
  // media while the class runs (now, or when it starts).
  void setExistingMedia(const MediaUserList& media);

  // Video tiles: the main user (the room's owner, else a teacher) has the main
  // window; students share one lineup, everybody else the other.
  quint32 mainUserId() const;
  quint32 mainVideoUser() const { return mainVideoUser_; }
  VideoLineup& studentLineup() { return students_; }
  VideoLineup& otherLineup() { return others_; }
  VideoLineup& lineupFor(quint32 userId);

  // The class.
  void classStarted(qint64 starterId);
  // The media server says a class runs, by whom is asked next.
  void classRunning();
  // The member who started the running class; it also holds the share.
  void setClassingUser(quint32 userId);
  void classStopped();
  // The media server is lost: every stream goes with it, the own ones too, while the
  // class, the members and the floors stay. Returns the own kinds that were open,
  // to be opened again on the next connection.
  int mediaLost();
  void setOwnRole(int roleCode, bool assistant);
  void setAssistant(bool assistant);

  // Floors.
  // Nobody shares or annotates any more (the class is being stopped).
  void resetTeaching();
  void setScreenSharer(qint64 userId);
  void setPictureSharer(qint64 userId);
  void setAnnotating(qint64 userId);
  void setAnnoState(int state);
  void setToolHolder(qint64 userId);
  // What the own share is: 3 and the window's handle while a program is shared, else 0.
  void setShareType(int type, quint64 window);

  // The member chosen on a tile to receive a gift; the gift row follows.
  void setGiftReceiver(quint32 userId) {
    giftReceiver_ = userId;
    emit giftReceiverChosen(userId);
  }
  quint32 giftReceiver() const { return giftReceiver_; }

signals:
  void memberAdded(quint32 userId);
  void memberChanged(quint32 userId);
  void memberRemoved(quint32 userId);
  void handsChanged(int raised);
  // Media announced open or closed, after the state (and a video's tile) followed;
  // also for users who are not members (yet).
  void mediaChanged(quint32 userId, int kind, bool on);
  void signal_have_exist_media(bool screenShared);
  void mainVideoChanged(quint32 userId);
  // A tile freed by somebody else's leaving went to this waiting user, whose
  // stream is needed again; or the user lost its tile and its stream is not.
  void videoPromoted(quint32 userId);
  void videoBumped(quint32 userId);
  void classStateChanged(bool running);
  void rolesChanged();
  void floorsChanged();
  void ownDevicesChanged();
  void giftReceiverChosen(quint32 userId);
  // The own member is no assistant any more: what it ran as one ends.
  void assistantRevoked();

private:
  void placeVideo(quint32 userId);
  void freeVideo(quint32 userId);
  void replayExistingMedia();
  void closeAllMedia();
  void setMemberMedia(quint32 userId, int kind, bool on);
  void setFloor(qint64 RoomContext::*floor, qint64 userId);

  const quint32 ownUserId_;
  const quint32 ownerId_;
  RoomContext& room_;
  QMap<quint32, RoomMember> members_;
  QHash<quint32, int> mediaKinds_;  // published kinds per user, as announced
  QList<quint32> supplement_;
  QHash<quint32, quint32> supplementMasks_;
  MediaUserList existingMedia_;
  bool ownHasCamera_ = true;
  bool ownHasMicrophone_ = true;
  VideoLineup students_;
  VideoLineup others_;
  quint32 mainVideoUser_ = 0;
  quint32 giftReceiver_ = 0;
};
