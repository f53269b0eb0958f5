// The media rights over the media library while it exists.
#pragma once

#include "MediaRights.h"

class Libpavo;

class MediaLibraryRights : public ClassFloor,
                           public ShareRight,
                           public TeachingToolRight,
                           public ScreenShare,
                           public AnnotationRight,
                           public FrameDelivery,
                           public MemberMedia,
                           public MediaDevices {
public:
  // The library the calls go to; null while there is none.
  void setLibrary(Libpavo* library) { library_ = library; }
  Libpavo* library() const { return library_; }

  int startClass() override;
  int stopClass(quint32 stopperId) override;
  int askClassState() override;
  int askClassingUser() override;
  int startShare() override;
  int stopShare(quint32 sharerId) override;
  int applyForTool() override;
  int cancelApplication() override;
  int replyToApplication(quint32 userId, int reply) override;
  int takeBackTool(quint32 userId) override;
  int askShareUsers() override;
  int shareSource(qint64 window, bool live) override;
  int stopScreenShare() override;
  int startTag() override;
  int stopTag(quint32 holderId) override;
  int askTagUsers() override;
  int pauseFrames() override;
  int resumeFrames() override;
  int openMedia(quint32 userId, int kind) override;
  int closeMedia(quint32 userId, int kind) override;
  int subscribe(quint32 userId, int kind) override;
  int unsubscribe(quint32 userId, int kind) override;
  int deviceCount(int kind) override;
  int clipSeconds(const QString& path) override;

private:
  int control(unsigned cmd, void* arg = nullptr);
  int userControl(unsigned cmd, quint32 userId, int kind);

  Libpavo* library_ = nullptr;
};
