// The chat tab: the list of messages (live ones appended, stored ones paged
// in above by the more button), the filtered history page, the input line (40
// characters) with its counter and send button, pictures, voice clips and
// clearing the list. An auditor is sent to buy the course; a muted member
// finds the send controls disabled with the reason above them.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "ChatLines.h"
#include "ChatMessage.h"
#include "FileServer.h"
#include "HistoryMoreButton.h"

class ChatFilterPage;
class ChatMessageItem;
class ClassroomContext;

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTimer;
class QVBoxLayout;
class RecordVoiceDlg;
class RoomSession;

class ChatPanel : public QWidget, public ChatLines {
  Q_OBJECT

public:
  static constexpr int kMaxInput = 40;
  static constexpr int kHistoryRows = 10;
  static constexpr int kBuyPromptDelayMs = 2000;
  static constexpr int kPictureDialogGuardMs = 2000;

  explicit ChatPanel(ClassroomContext& context, QWidget* parent = nullptr);
  ~ChatPanel() override;

  // What the list holds (tests, and the parts that add chat lines).
  const QList<ChatMessageItem*>& items() const { return items_; }
  // Items in the main list's layout, in display order.
  QList<ChatMessageItem*> shownItems() const;
  qint64 oldestHistoryId() const { return oldestHistoryId_; }
  int historyPage() const { return historyPage_; }
  HistoryMoreButton* moreButton() const { return more_; }
  RecordVoiceDlg* recorder() const { return recorder_; }
  bool canSendPicture() const { return canSendPic_; }

  // Opens the picture chooser; tests replace it (an empty answer is "none").
  using PictureChooser = std::function<QString(QWidget*, const QString& folder)>;
  void setPictureChooser(PictureChooser chooser) { choosePicture_ = std::move(chooser); }
  // Asks before clearing; tests replace it.

  transfer::FileServer fileServer() const;

  // ChatLines
  void addOwnLine(const QString& text) override;
  void addReceivedLine(const QJsonObject& message, const QString& text) override;
  bool sendLine(const QString& text) override;

  // Who sends: the signed-in user's display name, head picture and ticket
  // (by default those of the login).
  struct Identity {
    QString name;
    QString avatar;
    QString ticket;
    QString dataFolder;  // where chat files go; empty: the per-user data folder
  };
  void setIdentity(const Identity& identity) { identity_ = identity; }

signals:
  // A chat message arrived while the chat tab is not the one shown.
  void newMessageWhileHidden();
  // A picture of the chat is to be shown to the class.
  void sharePictureRequested(const QString& path, bool fromAssistant);

public slots:
  void btnSendText_clicked();
  void btnSendPicture_clicked();
  void btnSendVoice_clicked();
  void slotRecordVoiceDlgClose();
  void onChatFileUploadFinished(QString path, int kind, int seconds);
  void showOneRecvedMsg(QJsonObject& json, bool bHistory = false, bool bFilter = false);
  void slot_ChatMsgArrived(QJsonObject json);
  void btnClearScreen_clicked();
  void btnViewChatHistory_clicked();
  void onGetChatHistory(QJsonObject answer);
  void btnChatFilter_clicked();
  void btnBack2AllChatRecord_clicked();
  void autoScrollChatBarDownward();
  void autoScrollChatBarUpward();
  void editChatMassage_textChanged(const QString& text);
  void m_timerClockForCanSendPic_timeout();
  void onShareChatPic(QString strPicFilePath, bool isZhuShouSrc = false);
  void buyCourse_prompt();

protected:
  void showEvent(QShowEvent* event) override;

private:
  friend class ChatFilterPage;

  void refreshOwnState();
  roommsg::SenderFields ownSender() const;
  bool isAuditor() const;
  void sendChatReport();
  ChatMessageItem* addOwnItem(int kind, const QString& content, int voiceSeconds = 0);
  ChatMessageItem* makeItem(const chat::Entry& entry, bool own);
  void scheduleScrollDown();
  void requestHistory();

  ClassroomContext& context_;
  RoomSession& session_;
  const quint32 ownUserId_;

  QList<ChatMessageItem*> items_;
  qint64 oldestHistoryId_ = 0;
  int historyPage_ = 1;
  bool canSendPic_ = true;
  bool historyRequested_ = false;
  bool scrollWhenShown_ = false;
  bool stickToEnd_ = false;

  QStackedWidget* pages_;
  QScrollArea* scroll_;
  QWidget* listHost_;
  QVBoxLayout* list_;
  HistoryMoreButton* more_;
  ChatFilterPage* filter_;
  QLabel* mutedLabel_;
  QWidget* inputRow_;
  QLineEdit* edit_;
  QLabel* counter_;
  QPushButton* send_;
  QPushButton* sendPicture_;
  QPushButton* sendVoice_;
  QPushButton* filterButton_;
  QPushButton* clear_;
  QCheckBox* keepScroll_;
  QTimer* picGuard_;
  RecordVoiceDlg* recorder_ = nullptr;
  Identity identity_;
  PictureChooser choosePicture_;
};
