// Shows the class's video: subscribes to the streams the media library
// announces (and drops those whose tile went), fills the tiles of the two
// strips and the main window with who they show, and paints every frame the
// library hands over into its user's window before giving the buffer back.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>

class ClassroomContext;
class MainVideoBox;
class PlayWnd;
class RoomSession;
class VideoFrameQueue;
class VideoGroup;
class VideoRenderWidget;

class VideoPresenter : public QObject {
  Q_OBJECT

public:
  struct Views {
    MainVideoBox* main = nullptr;
    VideoGroup* students = nullptr;
    VideoGroup* others = nullptr;
    VideoRenderWidget* toolView = nullptr;   // the teaching-tool share on the stage
    VideoRenderWidget* stageMain = nullptr;  // the main video enlarged on the stage
  };

  // frames: where the media library's frames wait; bytesPerPixel: the layout
  // they come in (4 when the library delivers the painted layout, else 3).
  VideoPresenter(ClassroomContext& context, VideoFrameQueue& frames, const Views& views,
                 QObject* parent = nullptr);

  void setBytesPerPixel(int bytesPerPixel) { bytesPerPixel_ = bytesPerPixel; }
  bool isMainVideoEnlarged() const { return enlarged_; }

signals:
  // The stage shows the main video large (or what it showed before).
  void mainVideoEnlarged(bool enlarged);

public slots:
  // A double click on the main video: large on the stage, or back. Refused
  // while the own screen share carries board writing (it would be lost).
  void toggleMainVideo();
  // A frame waits in the queue.
  void slot_videoData_arrived();
  void slot_onVideoFrameArrived(int width, int height, uint8_t* pixels, quint32 userId, int kind);

private:
  VideoRenderWidget* videoTarget(quint32 userId, int kind) const;
  void mediaChanged(quint32 userId, int kind, bool on);
  void fillTile(PlayWnd* tile);
  void memberChanged(quint32 userId);
  void refreshHover();
  void subscribe(quint32 userId, const char* why);
  void unsubscribe(quint32 userId, const char* why);

  ClassroomContext& context_;
  RoomSession& session_;
  VideoFrameQueue& frames_;
  Views views_;
  int bytesPerPixel_ = 3;
  bool enlarged_ = false;
};
