// Opening and closing members' cameras and microphones through the media
// library, with the rules a teacher meets: at most four sound channels, no
// request for a device the member lacks, the toasts for every refusal. The
// member list, the tiles' hover bars and the teacher's own buttons call it.
#pragma once

#include <QList>
#include <QObject>

#include "MediaRights.h"

class ClassroomContext;
class RoomSession;

class MediaControl : public QObject {
  Q_OBJECT

public:
  explicit MediaControl(ClassroomContext& context, QObject* parent = nullptr);

  // The bulk buttons, for the ticked members in list order. Opening sound
  // opens at most as many as the limit leaves free (a toast when none);
  // members that already have the media on, or lack the device, are skipped.
  void openAllAudio(const QList<quint32>& ticked);
  void openAllVideo(const QList<quint32>& ticked);
  void closeAllAudio(const QList<quint32>& ticked);
  void closeAllVideo(const QList<quint32>& ticked);

public slots:
  // Toggle a member's video or sound (the member menu and the row icons).
  void onOperateVideo(quint32 userId);
  void onOperateAudio(quint32 userId);
  // The teacher's own camera and microphone.
  void btnOprVideo_teacher_Clicked();
  void btnOprAudio_teacher_Clicked();
  // A tile's hover bar: 1 close the video, 2 toggle the sound, 3 choose the
  // gift receiver.
  void playWnd_Opr(quint32 userId, int opr);
  // The own camera gave no picture for a while: its video is closed.
  void slot_camera_timeout();
  // Opening a member's media failed (state non-zero) for this kind.
  void slot_open_user_media_state(quint32 userId, int state, int kind);

private:
  int ctrl(unsigned cmd, quint32 userId, int kind);
  // Opens or closes one kind for the ticked members that need it, at most `most`.
  void bulk(const QList<quint32>& ticked, int kind, bool open, int most);

  ClassroomContext& context_;
  MemberMedia& media_;
  RoomSession& session_;
};
