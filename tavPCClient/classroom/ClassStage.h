// The teaching area in the middle of the classroom: before the class a
// waiting text, during it the shared area (the board, a template, a picture
// or a page), and the teaching-tool share when somebody shares a screen or
// window. What the shared area shows is the shared materials' business.
#pragma once

#include <QPixmap>
#include <QWidget>

#include "AppShareView.h"
#include "SharedAreaView.h"

class QLabel;
class QStackedWidget;
class RoomSession;
class VideoRenderWidget;

class ClassStage : public QWidget, public SharedAreaView, public AppShareView {
  Q_OBJECT

signals:
  void shrinkRequested();

public:
  // picture: the shared area that is shown during the class (null: an empty one).
  ClassStage(RoomSession& session, SharedAreaView* picture, QWidget* parent = nullptr);

  VideoRenderWidget* toolView() const { return toolView_; }
  // The main video enlarged over the whole stage (a double click on it
  // shrinks it back); what the stage showed comes back then.
  VideoRenderWidget* mainView() const { return mainView_; }
  void setMainVideoEnlarged(bool enlarged);
  bool mainVideoEnlarged() const { return enlarged_; }
  bool showsToolView() const;
  bool showsPicture() const;
  QString waitingText() const;

  bool showsEmbedded() const;

  // SharedAreaView: the shared area's, and whether a screen share hides it.
  // While the own member writes over its own shared program, the board lies
  // over the captured picture of it instead.
  QWidget* sharedArea() const override;
  QRect pictureRect() const override;
  QPixmap shownPixmap() const override;
  bool screenShareMode() const override { return showsToolView(); }

  // AppShareView
  QWidget* appHost() const override;
  void setEmbedded(QWidget* container) override;
  void setStill(bool still) override;

private:
  void classStateChanged(bool running);
  // The own embedded program is shown as its captured picture, the board over it.
  bool writesOverOwnProgram() const { return embedded_ && still_; }
  // The teaching-tool view while the current sharer's screen comes in, else the board.
  void showSharer();

  RoomSession& session_;
  SharedAreaView* picture_;
  QStackedWidget* pages_;
  QLabel* waiting_;
  QWidget* pictureArea_;
  VideoRenderWidget* toolView_;
  VideoRenderWidget* mainView_;
  QWidget* appPage_;
  QWidget* embedded_ = nullptr;
  bool still_ = false;
  bool enlarged_ = false;
};
