// What the class shows, on the phone: the newest file the PC sent (template,
// picture or document page), turned by the share's rotation and fitted into
// the view, with the whiteboard canvas laid exactly over it. Board messages
// from the PC are replayed on the canvas; with the right to write, the user
// draws on it.
#pragma once

#include <QImage>
#include <QJsonObject>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include "VWSharedPictureDisplay.h"

namespace vw {
class VWPaintWidget;
}
class PhoneCanvasLink;

class SharedView : public QWidget, public vw::VWSharedPictureDisplay {
  Q_OBJECT
public:
  explicit SharedView(QWidget* parent = nullptr);
  ~SharedView() override;

  // Shows a received file; false when it is no picture (what was shown stays).
  bool showFile(const QByteArray& bytes);
  // Clockwise quarter turns (0, 90, 180, 270); other angles are ignored.
  void setRotation(int angle);
  int rotation() const { return rotation_; }
  // A board message from the PC.
  void applyBoardMessage(const QJsonObject& msg);
  void clearBoard();
  // Nothing shown and an empty board, as before the first pairing.
  void reset();

  vw::VWPaintWidget* canvas() const { return canvas_; }
  PhoneCanvasLink* canvasLink() const { return link_; }
  // Where the picture (and the canvas) lies in the view.
  QRect pictureRect() const { return pictureRect_; }
  // SHA-256 (hex) of the file shown; empty when none.
  QByteArray shownHash() const { return hash_; }
  QPixmap shownPixmap() const override { return shown_; }

signals:
  // The file shown or its rotation changed.
  void shownChanged(const QByteArray& sha256, int rotation);
  // The finished shapes changed; bursts of messages give one signal.
  void boardChanged(int shapes, const QByteArray& digest);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void place();
  void setDefaultPen();
  void reportShown();
  void reportBoard();

  QImage rotated_;  // the file's picture, turned
  QPixmap shown_;   // rotated_ at the size it is drawn
  QRect pictureRect_;
  QByteArray hash_;
  int rotation_ = 0;
  QImage original_;
  QByteArray lastShown_;
  int lastShapes_ = 0;
  QByteArray lastDigest_;
  QTimer boardTimer_;
  PhoneCanvasLink* link_;
  vw::VWPaintWidget* canvas_;
};
