// The teaching area in the middle of the classroom: before the class a
// waiting text, during it the board (the blank whiteboard until a feature
// shows something else), and the teaching-tool share when somebody shares a
// screen or window.
#pragma once

#include <QPixmap>
#include <QWidget>

#include "SharedAreaView.h"

class QLabel;
class QStackedWidget;
class RoomSession;
class VideoRenderWidget;

class ClassStage : public QWidget, public SharedAreaView {
  Q_OBJECT

public:
  static constexpr const char* kBlankBoard = "./wbtemplete/whitepaper.png";

  explicit ClassStage(RoomSession& session, QWidget* parent = nullptr);

  VideoRenderWidget* toolView() const { return toolView_; }
  bool showsToolView() const;
  QString waitingText() const;

  // SharedAreaView: the board fills the whole shared area.
  QWidget* sharedArea() const override;
  QRect pictureRect() const override;
  QPixmap shownPixmap() const override;
  bool screenShareMode() const override { return showsToolView(); }

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  void classStateChanged(bool running);
  // The teaching-tool view while the current sharer's screen comes in, else the board.
  void showSharer();
  void showBoard();

  RoomSession& session_;
  QStackedWidget* pages_;
  QLabel* sharedArea_;
  VideoRenderWidget* toolView_;
  QPixmap board_;
};
