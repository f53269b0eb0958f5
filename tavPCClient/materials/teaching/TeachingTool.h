// The teaching tool ("教具"), the right to put content into the shared area:
// the teacher side has it; a student asks for it with its button, the teacher
// side answers from the request list, and the student ends it when done. The
// right is negotiated with the media server (which keeps who holds it); the
// share-content menu follows the session's tool holder.
//
// The student's button, by its text: "申请教具" → (asked) "申请教具\n(发送中...)"
// → (confirmed) "取消申请" → (withdrawn) "取消申请\n(发送中...)" → "申请教具";
// approval makes it "结束教具"; a refusal, a withdrawal or another student's
// approval brings back "申请教具".
#pragma once

#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QVector>

#include "ClassroomComponent.h"
#include "shareApplicationList.h"

class ClassroomContext;
class MediaEventBridge;

class TeachingToolRight;
class shareApplicationItem;

class TeachingTool : public QObject, public ClassroomComponent {
  Q_OBJECT

public:
  enum class Button { Apply, Applying, Applied, Cancelling, Holding };

  explicit TeachingTool(ClassroomContext& context, QObject* parent = nullptr);
  ~TeachingTool() override;

  void listenTo(MediaEventBridge& bridge);
  // The student's button and the teacher side's request-list button (each
  // shown only to its side while the class runs; placed by the window).
  QPushButton* applyButton() const { return apply_; }
  QPushButton* requestListButton() const { return openList_; }
  shareApplicationList* requestList() const;
  Button buttonState() const { return state_; }

  // ClassroomComponent
  void classStopping() override;
  void leaving() override;

signals:
  // The own member's tool ended or went to another student: what it opened
  // to share closes.
  void ownToolEnded();

public slots:
  void btnApplyShare_clicked();
  void btnOpenShareReqList_clicked();
  void onReplyApply(shareApplicationItem* item, int reply);

  void ss_application_share(quint32 userId);
  void application_share_ack(int result);
  void ss_cancel_application(quint32 userId);
  void cancel_application_ack(int result);
  void ss_reply_share(quint32 userId, int reply);
  void reply_share_ack(quint32 userId, int reply);
  void ss_cancel_share(quint32 userId);
  void get_share_users_ack(int value, QVector<quint32> ids);

private:
  void setButton(Button state);
  void refresh();
  void endOwnTool();
  quint32 ownId() const;

  ClassroomContext& context_;
  TeachingToolRight& right_;
  QPointer<QPushButton> apply_;
  QPointer<QPushButton> openList_;
  QPointer<shareApplicationList> list_;
  Button state_ = Button::Apply;
};
