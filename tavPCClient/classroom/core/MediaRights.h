// What the parts may ask of the media server and the media library, one
// narrow interface each, so a part's header says what it does with them. The
// context hands them out (MediaLibraryRights implements them over the media
// library). Each call returns the library's answer, or -1 while there is no
// library (before start-up, after leaving).
#pragma once

#include <QString>
#include <QtGlobal>

// The class itself: starting and stopping it, and asking whether and by whom
// it runs (the answers come as media events).
class ClassFloor {
public:
  virtual ~ClassFloor() = default;
  virtual int startClass() = 0;
  virtual int stopClass(quint32 stopperId) = 0;
  virtual int askClassState() = 0;
  virtual int askClassingUser() = 0;
};

// The sharing right: taking it for the own member, ending someone's.
class ShareRight {
public:
  virtual ~ShareRight() = default;
  virtual int startShare() = 0;
  virtual int stopShare(quint32 sharerId) = 0;
};

// The teaching tool: a student asks for it or withdraws; the teacher side
// answers requests (1 approve, anything else refuse) and takes it back; and
// who shares now (answered by get_share_users_ack).
class TeachingToolRight {
public:
  virtual ~TeachingToolRight() = default;
  virtual int applyForTool() = 0;
  virtual int cancelApplication() = 0;
  virtual int replyToApplication(quint32 userId, int reply) = 0;
  virtual int takeBackTool(quint32 userId) = 0;
  virtual int askShareUsers() = 0;
};

// The own screen-share stream: what it captures (a native window handle, 0
// the whole screen), and ending it.
class ScreenShare {
public:
  virtual ~ScreenShare() = default;
  virtual int shareSource(qint64 window, bool live) = 0;
  virtual int stopScreenShare() = 0;
};

// The board-writing right: asking for it, ending someone's, asking who has it.
class AnnotationRight {
public:
  virtual ~AnnotationRight() = default;
  virtual int startTag() = 0;
  virtual int stopTag(quint32 holderId) = 0;
  virtual int askTagUsers() = 0;
};

// Whether the library hands video frames to the window; paused while the
// window is busy with a picture of its own.
class FrameDelivery {
public:
  virtual ~FrameDelivery() = default;
  virtual int pauseFrames() = 0;
  virtual int resumeFrames() = 0;
};

// Members' media: opening and closing a member's camera or microphone (kind
// 1 or 2, as media kinds go), receiving a member's stream or not.
class MemberMedia {
public:
  virtual ~MemberMedia() = default;
  virtual int openMedia(quint32 userId, int kind) = 0;
  virtual int closeMedia(quint32 userId, int kind) = 0;
  virtual int subscribe(quint32 userId, int kind) = 0;
  virtual int unsubscribe(quint32 userId, int kind) = 0;
};

// What the library knows of this machine: how many cameras (kind 1) or
// microphones (kind 2) there are, and how long a voice clip file lasts.
class MediaDevices {
public:
  virtual ~MediaDevices() = default;
  virtual int deviceCount(int kind) = 0;
  virtual int clipSeconds(const QString& path) = 0;
};
