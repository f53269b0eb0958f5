// The whiteboard as a part of the classroom: the canvas laid over the shared
// picture, the board messages in and out, the board for members who ask for
// it, and the drawing layer for the media library and the recorder. The
// board-writing right itself is AnnotationControl's.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>

#include "BoardCanvas.h"
#include "BoardSync.h"
#include "ClassroomComponent.h"
#include "MarkLayerSource.h"
#include "PhoneBoard.h"
#include "VWClassroomLink.h"
#include "VWSharedPictureDisplay.h"

class ClassroomContext;
class SharedAreaView;

#include <QWidget>

#include "VWPaintWidget.h"

namespace vw {
struct VWAnnoAction;
}

class AnnotationControl;

// The picture of the canvas as shown, for a recorder that asks for it; the
// pixels belong to the record, so they stay valid as long as it lives.
struct VWTagData {
  int width = 0;
  int height = 0;
  QByteArray pixels;  // width * height 32-bit words (ARGB32 premultiplied)
};

class Whiteboard : public QObject,
                   public ClassroomComponent,
                   public vw::VWClassroomLink,
                   public vw::VWSharedPictureDisplay,
                   public MarkLayerSource,
                   public BoardSync,
                   public BoardCanvas,
                   public PhoneBoard {
  Q_OBJECT

public:
  Whiteboard(ClassroomContext& context, SharedAreaView& area, QObject* parent = nullptr);
  ~Whiteboard() override;

  vw::VWPaintWidget* canvas() const { return canvas_; }
  AnnotationControl* annotation() const { return annotation_; }
  ClassroomContext& context() const { return context_; }

  // VWClassroomLink
  vw::VWSharedPictureDisplay* sharedPictureDisplay() override { return this; }
  quint32 ownUserId() const override;
  bool ownsAnnotation() const override;
  int sendRoomJson(const QJsonObject& msg, const QString& target) override;
  void forwardToPhone(const QJsonObject& msg) override;
  QString displayName(quint32 userId) const override;
  bool confirm(const QString& text) override;
  // VWSharedPictureDisplay
  QPixmap shownPixmap() const override;

  // ClassroomComponent
  void classStopping() override;
  void leaving() override;

  // The media library's request for the drawing layer (any thread): the
  // layer at 1920x1080 as last kept, copied into data when it fits capacity;
  // len stays 0 when nothing is drawn. Kept only while the own screen is shared.
  void fillMarkBitmap(uint8_t* data, unsigned capacity, int& width, int& height, int& len) override;

  // BoardSync: the own board is cleared and the starter's comes instead; live
  // strokes wait until it is complete (or kAwaitBoardMs passed).
  void askForBoard(quint32 starterId) override;
  bool awaitingBoard() const { return awaitingBoard_; }
  static constexpr int kAwaitBoardMs = 5000;

  // BoardCanvas: the canvas over the shared picture.
  void placeCanvas() override;
  void clearBoard() override;
  bool canvasShown() const override;
  bool hasShapes() const override;

  // PhoneBoard: the phone writes only while the own member holds the right.
  void boardMessageFromPhone(const QJsonObject& msg) override;
  QList<QJsonObject> boardForPhone() override;

  // The class owner: who answers board requests and hears applications.
  quint32 classOwnerId() const;

public slots:
  void slot_AnnoMsgArrived(const QJsonObject& msg);
  void slot_get_tag_data(VWTagData* request);

signals:
  void signal_get_tag_data(VWTagData* request);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void execute(const vw::VWAnnoAction& action);
  void answerSync(quint32 requester);
  // The canvas's drawing layer, kept for the media library's thread.
  void keepMarkLayer();

  ClassroomContext& context_;
  SharedAreaView& area_;
  QPointer<QWidget> sharedArea_;
  QPointer<vw::VWPaintWidget> canvas_;
  AnnotationControl* annotation_ = nullptr;

  bool awaitingBoard_ = false;
  bool boardShapeSeen_ = false;
  QTimer* awaitTimer_ = nullptr;
  QTimer* markTimer_ = nullptr;
  QMutex markMutex_;
  QImage markLayer_;  // 1920x1080, null while nothing is drawn
};
