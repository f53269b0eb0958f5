// Settings of an own room: who may enter (after buying, or with an access
// code), what a recording covers, the room's assistants, and how the
// students rated the teaching.
#pragma once

#include <QDialog>
#include <QJsonArray>
#include <QJsonObject>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CreatedClassSetDialog : public QDialog {
  Q_OBJECT

public:
  static constexpr int kMaxAssistants = 2;

  // openStyle 1 or 2; recordingArea "contentArea" or "contentAndVideoArea".
  CreatedClassSetDialog(quint32 userId, quint32 roomId, int openStyle, const QString& authCode,
                        const QString& recordingArea, QWidget* parent = nullptr);

  // What the dialog saved last, for the card that opened it.
  int openStyle() const;
  QString authCode() const;
  QString recordingArea() const;
  QLineEdit* codeEdit() const { return code_; }

public slots:
  void slot_ButtonSave();
  void slot_SetClassAuthorize_reply(QJsonObject answer);
  void slot_GetAssistants_reply(QJsonArray assistants);
  void slot_PButtonRevoke1();
  void slot_PButtonRevoke2();
  // What the room's students and parents said of the teaching.
  void slot_GetEvaluationSummary_reply(QJsonObject answer);
  QString evaluationText() const;

private:
  void revoke(int slot);
  void onRevokeReply(int slot, const QJsonObject& answer);

  quint32 userId_;
  quint32 roomId_;
  QRadioButton* buyFirst_;
  QRadioButton* private_;
  QLineEdit* code_;
  QRadioButton* contentAndVideo_;
  QRadioButton* contentOnly_;
  QLabel* evaluation_;
  QLabel* assistantNames_[kMaxAssistants];
  QPushButton* revoke_[kMaxAssistants];
  quint32 assistantIds_[kMaxAssistants] = {0, 0};
};
