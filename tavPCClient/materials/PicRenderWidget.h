// The shared area's picture: a template stretched over the whole area, or a
// picture or page fitted into it (aspect kept) or shown at actual size. It
// says where the picture lies, so the whiteboard canvas can lie exactly over
// it. For the member controlling the share, in actual-size mode, a press
// starts a drag, each move reports the step since the previous one (only
// while the canvas is hidden), a wheel step moves by a tenth of the visible
// height; every resize is reported.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QWidget>
#include <functional>

class PicRenderWidget : public QWidget {
  Q_OBJECT

public:
  enum Placement { kStretch, kFit, kActual };

  explicit PicRenderWidget(QWidget* parent = nullptr);

  // What is shown and how; a null pixmap shows nothing.
  void setPicture(const QPixmap& picture, Placement placement);
  QPixmap picture() const { return picture_; }
  Placement placement() const { return placement_; }
  // The picture's rectangle within the widget.
  QRect pictureRect() const { return pictureRect_; }
  // The picture as it is drawn (at pictureRect's size).
  QPixmap shownPixmap() const;

  // Whether this member steers the share (drags and wheel are reported).
  void setControlling(bool controlling) { controlling_ = controlling; }
  // Whether the whiteboard canvas is shown (moves are not reported then).
  void setCanvasShown(std::function<bool()> shown) { canvasShown_ = std::move(shown); }

signals:
  void _mousePress();
  void _mouseMove(int iDeltaX, int iDeltaY);
  void _mouseRelease();
  void _resize(int iNewWidth, int iNewHeight);
  // Where the picture lies changed (the canvas follows).
  void pictureRectChanged(QRect rect);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

private:
  void place();
  bool steering() const;

  QPixmap picture_;
  Placement placement_ = kStretch;
  QRect pictureRect_;
  bool controlling_ = false;
  bool dragging_ = false;
  QPoint last_;
  std::function<bool()> canvasShown_;
};
