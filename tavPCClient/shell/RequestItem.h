// One member's request, as the teacher sees it in a request list: the name,
// what is asked for, approve and refuse. The name is shown as it is written,
// never read as markup.
#pragma once

#include <QFrame>
#include <QString>

class QPushButton;

class RequestItem : public QFrame {
  Q_OBJECT
public:
  RequestItem(quint32 userId, const QString& displayName, const QString& request, QWidget* parent);

  quint32 userId() const { return userId_; }
  // The answer is on its way: "发送中..." and no further answer until it is delivered.
  void setSending();
  // The answer did not go out: approve and refuse can be chosen again.
  void setAnswerable();

signals:
  // reply: 1 approve, 2 refuse.
  void answered(int reply);

private:
  const quint32 userId_;
  QPushButton* agree_;
  QPushButton* refuse_;
};
