// The lobby: the user's own rooms and joined rooms as cards, the device test
// page, the personal web pages, and the way into a classroom.
#pragma once

#include <QDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPixmap>
#include <QPointer>

#include "ClassInformationWidget.h"
#include "Classroom.h"
#include "ForOneLogin.h"
#include "LoginRenewal.h"
class DeviceTestPage;
class LoadingWidget;
class PagingWidget;
class QGridLayout;
class QLabel;
class QPushButton;
class QStackedWidget;

class UserDialog : public QDialog {
  Q_OBJECT

public:
  static constexpr int kCardsPerPage = 3;

  // Which personal web page a putRedis key is for.
  enum WebPage { kPageMyClass = 1, kPageRecharge, kPageMyMessage, kPageClassRoom };

  UserDialog(const QString& displayName, const QString& serverHost, quint32 userId,
             const QString& oneLoginServer, QWidget* parent = nullptr);
  ~UserDialog() override;

  const QList<ClassInformationWidget*>& createdCards() const { return createdCards_; }
  const QList<ClassInformationWidget*>& joinedCards() const { return joinedCards_; }
  PagingWidget* teachPager() const { return teachPager_; }
  QString versionText() const;
  bool entryPending() const { return pendingEntry_ != nullptr; }
  Classroom* classroom() const { return classroom_; }
  ForOneLogin& oneLogin() { return oneLogin_; }
  // Pause before the one-login client is made again after a failure, so a
  // server that refuses at once does not make the lobby spin.
  static constexpr int kReconnectDelayMs = 1000;

signals:
  void signal_jidiao();
  void signal_exit();
  void _reConToChatServer();

public slots:
  void slot_init_resources();
  void slot_ButtonExit();
  void slot_ButtonLogOff();
  void slot_ButtonMinimize();
  void slot_ButtonPrepare();
  void slot_ButtonTeachClass();
  void slot_ButtonStudyClass();
  void slot_FindCreateRoom_reply(QJsonObject answer);
  void slot_FindJoinRoom_reply(QJsonObject answer);
  void slot_GetClassPoster_reply(QPixmap poster, void* card);
  void slot_PWidgetTeach(uint page);
  void slot_PWidgetStudy(uint page);
  void slot_EnterClassroom(ClassInformationWidget* card);
  void slot_EnterClassroom_reply(QJsonObject answer, void* card);
  void slot_GetAssistants_reply(QJsonArray assistants);
  void slot_ButtonRecharge();
  void slot_ButtonNews();
  void slot_LabelUserName();
  void slot_GetVersion_reply(QJsonObject answer);
  void slot_PLPoster(ClassInformationWidget* card);
  void slot_GetDiscount(QJsonObject answer, void* card);
  void slot_HtmlEncrypt(QJsonObject answer, void* page);
  void slot_CardSettings(ClassInformationWidget* card);
  // The one-login channel.
  void selflogin();
  void disconnect_from_oneLogin();
  void __connect2msgs_state(int state);

private:
  QWidget* buildRoomPage(QGridLayout*& grid, PagingWidget*& pager, QLabel*& empty);
  void fillCards(const QJsonObject& answer, bool ownRooms);
  void showPage(const QList<ClassInformationWidget*>& cards, QGridLayout* grid, uint page);
  void requestPageKey(WebPage page, const QString& body);
  ClassInformationWidget* findCard(void* card) const;
  void toast(const QString& text);
  // False, after the matching toast, for an empty (network error) or refused answer.
  bool answerUsable(const QJsonObject& answer, const char* networkText);
  // A private room's code dialog; each code typed is tried with the service.
  void askForAuthCode(ClassInformationWidget* card);
  // The service's answer to a room entry; authCode as typed ("" when none was asked).
  void enterWithAnswer(const QJsonObject& answer, ClassInformationWidget* card,
                       const QString& authCode);
  void openClassroom(const QJsonObject& answer, ClassInformationWidget* card,
                     const QString& authCode);
  void connectOneLogin();
  void reconnectOneLogin(const QString& text, bool modal);
  // The channel refused the credential: a new one first, then the connection again.
  void renewOneLogin();
  void loginLost(const QString& why);

  QString displayName_;
  QString serverHost_;
  quint32 userId_;
  QString oneLoginServer_;
  int oneLoginFailures_ = 0;

  QLabel* greeting_;
  QLabel* version_;
  QStackedWidget* pages_;
  QPushButton* teachTab_;
  QPushButton* studyTab_;
  QPushButton* prepareTab_;
  QGridLayout* teachGrid_ = nullptr;
  QGridLayout* studyGrid_ = nullptr;
  PagingWidget* teachPager_ = nullptr;
  PagingWidget* studyPager_ = nullptr;
  QLabel* teachEmpty_ = nullptr;
  QLabel* studyEmpty_ = nullptr;
  LoadingWidget* loading_;
  QList<ClassInformationWidget*> createdCards_;
  QList<ClassInformationWidget*> joinedCards_;
  QPointer<ClassInformationWidget> pendingEntry_;
  QJsonArray assistants_;  // of the room being entered
  QPointer<Classroom> classroom_;
  ForOneLogin oneLogin_;
  LoginRenewal renewal_;

  DeviceTestPage* devicePage_ = nullptr;
  QString oneLoginHost_;
  quint16 oneLoginPort_ = 0;
};
