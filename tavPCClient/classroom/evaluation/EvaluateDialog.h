// Rating the teacher when a class ends: one of five scores, an optional
// comment of at most 200 characters, handed to whoever posts it to the service
// (the dialog makes no calls itself) and the answer shown. The dialog gives up
// by itself two minutes after it was made.
#pragma once

#include <QDialog>
#include <QJsonObject>

class QButtonGroup;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class EvaluateDialog : public QDialog {
  Q_OBJECT

public:
  static constexpr int kMaxComment = 200;
  static constexpr int kSelfRejectMs = 120000;
  static constexpr int kCloseAfterReplyMs = 2000;

  EvaluateDialog(const QString& teacherName, int uId, int uRole, int tId, int tRole, int roomId,
                 QWidget* parent = nullptr);

  int score() const { return score_; }
  // The self-rejection restarts with this interval (the default is two minutes).
  void setSelfRejectInterval(int ms);
  // The compact JSON text posted as "param" for the current score and comment.
  QByteArray param() const;

signals:
  // The rating to post as "param"; its answer is for slot_evaluate_reply.
  void submitRequested(QByteArray param);

public slots:
  void slot_ButtonVeryLow();
  void slot_ButtonLow();
  void slot_ButtonSomeSatisfied();
  void slot_ButtonSatisfied();
  void slot_ButtonVerySatisfied();
  void slot_textChanged();
  void slot_ButtonSubmit();
  void slot_evaluate_reply(QJsonObject reply);

private:
  void choose(int score);
  void finishLater(bool accepted);

  int uId_;
  int uRole_;
  int tId_;
  int tRole_;
  int roomId_;
  int score_ = 0;
  bool finishing_ = false;
  QButtonGroup* scores_;
  QPlainTextEdit* comment_;
  QLabel* counter_;
  QPushButton* submit_;
  QTimer* selfReject_;
};
