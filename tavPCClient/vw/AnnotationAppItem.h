// One member's request to write on the board, as the teacher sees it in the
// request list: the name, "申请使用板书", approve and refuse.
#pragma once

#include <QFrame>
#include <QString>

class QLabel;
class QPushButton;

namespace vw {

class AnnotationAppItem : public QFrame {
  Q_OBJECT
public:
  // The name is shown as it is written, never read as markup.
  AnnotationAppItem(quint32 userId, const QString& displayName, QWidget* parent);

  quint32 userId() const { return userId_; }
  // The answer is on its way: "发送中..." and no further answer until it is delivered.
  void setSending();

signals:
  // reply: 1 approve, 2 refuse.
  void sgnReplyApply(AnnotationAppItem* item, int reply);

private:
  const quint32 userId_;
  QPushButton* agree_;
  QPushButton* refuse_;
};

}  // namespace vw
