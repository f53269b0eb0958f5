// The whiteboard canvas: a transparent drawing layer over the shared area.
// It shows its board (VWBoard: the finished shapes in drawing order and the one
// being drawn), captures the holder's strokes, and renders everything into a
// mark pixmap for the screen-share overlay.
#pragma once

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPixmap>
#include <QVariant>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "VWBoard.h"
#include "VWShapeProperty.h"

namespace vw {

class VWBaseShape;
class VWClassroomLink;
class VWPaintInfoSendThead;
struct VWAnnoAction;

class VWPaintWidget : public QWidget {
  Q_OBJECT
public:
  using ShapePtr = std::shared_ptr<VWBaseShape>;

  VWPaintWidget(QWidget* parent, VWClassroomLink* classroom);
  ~VWPaintWidget() override;

  // Building a shape from normalised points (local mouse input and replay).
  void beginShape(const QPointF& point);
  void continueShape(const QPointF& point);
  void finishShape();

  const VWShapeProperty& pen() const { return board_.pen(); }
  QList<ShapePtr> shapeList() const { return board_.shapeList(); }
  QList<ShapePtr> undoneList() const { return board_.undoneList(); }
  ShapePtr currentShape() const { return board_.currentShape(); }
  bool isDrawing() const { return board_.isDrawing(); }
  bool paintState() const { return paintState_; }
  int roleState() const { return roleState_; }
  const QPixmap& markPixmap() const { return markPixmap_; }

  // Stroke capture: 0 idle, 1 button pressed, 2 released.
  int captureState() const { return captureState_; }
  // A board message to everybody (and the phone), queued behind the strokes
  // already on their way so that every member applies them in the same order.
  void broadcast(const QJsonObject& msg);
  // Messages waiting in the send thread.
  int pendingSends() const;
  // The finished shapes as shape objects, in drawing order.
  QJsonArray shapeObjects() const;
  // Carries out what a received board message asks of the canvas (points,
  // pen, undo, clear, showing, a shape of the board); false for the actions
  // that are not the canvas's (rights, sync answers, the phone).
  bool apply(const VWAnnoAction& action);

public slots:
  void setCurrentShape(QVariant& vwp);
  void SetPaintState(bool state);
  void SetRoleState(int state);
  void setShape(int shape);
  void setShape(int shape, int width, int R, int G, int B, int A);
  void setShapeWidth(int width);
  void setShapeColor(int R, int G, int B, int A);
  void undoShape();
  void redoShape();
  void clearAllShape();
  void addShape(QMap<QString, QString> mdata);
  int getMarkBit(uint8_t* data, int& width, int& height, int& len);
  void initShapeList(QJsonArray& shapes);
  void renderOneShape(QJsonObject& shape);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  // An ANNO_POINT message of the stroke being captured.
  QJsonObject pointMessage(int phase, const QPointF* point) const;

  VWBoard board_;
  VWClassroomLink* classroom_;
  bool paintState_ = false;
  int roleState_ = 0;
  QPixmap markPixmap_;
  QImage markImage_;
  int captureState_ = 0;
  std::vector<QJsonObject> strokeList_;
  std::unique_ptr<VWPaintInfoSendThead> sendThread_;
};

}  // namespace vw
