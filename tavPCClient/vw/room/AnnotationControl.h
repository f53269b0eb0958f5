// The board-writing right: the teacher's toggle and stop button, the request
// list, the student's request button through its states, the drawing toolbar
// of whoever holds the right, and the media server's tag events and their
// acknowledgements. Only one member at a time holds the right; the media
// server keeps who it is, the request and its answer travel as board messages.
#pragma once

#include <QByteArray>
#include <QCursor>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QVector>
#include <QWidget>

#include "AnnotationAppList.h"
#include "DrawingSettingsBar.h"
#include "DrawingToolbar.h"
#include "EraserWidthBar.h"
#include "MediaRights.h"

class ClassroomContext;
class MediaEventBridge;
class QPushButton;
class Whiteboard;

namespace vw {
class AnnotationAppItem;
}

class AnnotationControl : public QObject {
  Q_OBJECT

public:
  AnnotationControl(ClassroomContext& context, Whiteboard& board, QObject* parent = nullptr);
  ~AnnotationControl() override;

  // The buttons under the stage (the classroom places the bar).
  QWidget* buttonBar() const { return bar_; }
  vw::DrawingToolbar* toolbar() const { return toolbar_; }
  vw::AnnotationAppList* requestList() const { return requests_; }
  QPushButton* requestButton() const { return btnAnnoStu_; }
  QPushButton* annotationToggle() const { return btnAnnotation_; }
  QPushButton* stopButton() const { return btnStopAnno_; }

  // The media server's tag events and the delivery acknowledgements, from the
  // bridge (queued, so they run in the GUI thread).
  void listenTo(MediaEventBridge& bridge);

  // Whether enlarging the main video must be refused now: the own member
  // shares, the board holds a shape, and the area shows a screen share.
  bool refusesVideoEnlarging() const;

  // From the board messages (through the whiteboard).
  void startTagHandling(quint32 userId);
  void annoStopReceived();
  void applyReceived(quint32 userId, int content);
  void applyReplyReceived(int content);

  void classStopping();
  void leaving();

public slots:
  void btnAnnotation_clicked(bool checked);
  void btnAnno_stu_Clicked();
  void btnStopAnno_clicked();
  void btnOpenAnnoAppList_clicked();
  void annoAppItem_btnClicked(vw::AnnotationAppItem* item, int reply);
  void slot_ss_start_tag(quint32 userId);
  void slot_ss_stop_tag(quint32 userId);
  void slot_start_tag_ack(int result);
  void slot_stop_tag_ack(int result);
  void slot_get_tag_users_ack(int value, QVector<quint32> ids);
  void slot_p2p_msg_ack(quint32 id, QByteArray data);

private:
  bool isClassOwner() const;
  bool inSession() const;
  quint32 ownId() const;
  qint64 holder() const;
  void sendApply(int content);
  void giveBack();
  void stopTagHandlingForSelf();
  void hideToolbar();
  void resetToolbar();
  void reportTag();
  void onReported(QJsonObject answer);
  void refreshButtons();
  void requestsChanged();
  // The request button's look: text, enabled, and its style ("apply", "cancel", "exit").
  void setRequestButton(const QString& text, bool enabled, const char* style);
  void clearPhoneBoard();
  int mediaTag(bool start, quint32 userId = 0);

  ClassroomContext& context_;
  AnnotationRight& right_;
  Whiteboard& board_;
  QPointer<QWidget> bar_;
  QPushButton* btnAnnotation_ = nullptr;
  QPushButton* btnStopAnno_ = nullptr;
  QPushButton* btnOpenAnnoAppList_ = nullptr;
  QPushButton* btnAnnoStu_ = nullptr;
  QPointer<vw::DrawingToolbar> toolbar_;
  QPointer<vw::AnnotationAppList> requests_;
  // The own member asked the media server to end its own right (so an end
  // of it that follows is no take-over).
  bool selfStopping_ = false;
  QCursor savedCursor_;
  bool cursorSaved_ = false;
};
