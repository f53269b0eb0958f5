#include "UserDialog.h"

#include "DeviceTestPage.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "AccountStore.h"
#include "AuthorizeDialog.h"
#include "ClassInformationWidget.h"
#include "Classroom.h"
#include "CreatedClassSetDialog.h"
#include "FormBody.h"
#include "HttpRequest.h"
#include "LoadingWidget.h"
#include "LocalDatabase.h"
#include "LoginDialog.h"
#include "LoginInfo.h"
#include "PagingWidget.h"
#include "PersonalPage.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "RoomMessage.h"
#include "ServiceApi.h"
#include "WndDragFilter.h"
#include "platform/platform.h"
#include "probix/probix.h"

namespace {
const char kNetworkError[] = "网络异常，请检查网络后重试！";
const char kNetworkWeak[] = "当前网络不给力,请检查网络后重试！";

QPushButton* tabButton(const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QStringLiteral("lobbyTab"));
  b->setCheckable(true);
  b->setCursor(Qt::PointingHandCursor);
  b->setFixedHeight(44);
  return b;
}

QPushButton* headerButton(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setCursor(Qt::PointingHandCursor);
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

bool answerFailed(const QJsonObject& answer) {
  return answer.value(QLatin1String("code")).toInt(-1) != 0;
}

QString answerMessage(const QJsonObject& answer) {
  return answer.value(QLatin1String("msg")).toString();
}
}  // namespace

UserDialog::UserDialog(const QString& displayName, const QString& serverHost, quint32 userId,
                       const QString& oneLoginServer, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      displayName_(displayName),
      serverHost_(serverHost),
      userId_(userId),
      oneLoginServer_(oneLoginServer),
      greeting_(new QLabel(QStringLiteral("你好,") + displayName, this)),
      version_(new QLabel(this)),
      pages_(new QStackedWidget(this)),
      teachTab_(tabButton(QStringLiteral("我的教室"), this)),
      studyTab_(tabButton(QStringLiteral("我的学习"), this)),
      prepareTab_(tabButton(QStringLiteral("设备检测"), this)),
      loading_(new LoadingWidget(QStringLiteral("正在进入教室..."), this)),
      oneLogin_(userId) {
  setObjectName(QStringLiteral("UserDialog"));
  setAttribute(Qt::WA_StyledBackground);
  setWindowTitle(QStringLiteral("在线课堂"));
  setAttribute(Qt::WA_DeleteOnClose);
  installEventFilter(new WndDragFilter(this));

  // Header: logo, greeting, version, personal pages, window buttons.
  auto* header = new QWidget(this);
  header->setObjectName(QStringLiteral("lobbyHeader"));
  auto* logo = new QLabel(header);
  logo->setPixmap(QPixmap(QStringLiteral(":/res/tav_add/logo.png"))
                      .scaled(36, 36, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  greeting_->setObjectName(QStringLiteral("lobbyGreeting"));
  version_->setObjectName(QStringLiteral("lobbyVersion"));
  auto* userName = headerButton(displayName, "lobbyLink", header);
  userName->setToolTip(QStringLiteral("我的课程"));
  auto* recharge = headerButton(QStringLiteral("充值"), "lobbyLink", header);
  auto* news = headerButton(QStringLiteral("消息"), "lobbyLink", header);
  auto* logOff = headerButton(QStringLiteral("注销"), "lobbyLink", header);
  auto* minimize = headerButton(QString(), "titleMinimize", header);
  auto* exit = headerButton(QString(), "titleClose", header);
  auto* headerLayout = new QHBoxLayout(header);
  headerLayout->setContentsMargins(16, 6, 8, 6);
  headerLayout->addWidget(logo);
  headerLayout->addWidget(greeting_);
  headerLayout->addSpacing(12);
  headerLayout->addWidget(version_);
  headerLayout->addStretch();
  headerLayout->addWidget(userName);
  headerLayout->addWidget(recharge);
  headerLayout->addWidget(news);
  headerLayout->addWidget(logOff);
  headerLayout->addSpacing(8);
  headerLayout->addWidget(minimize);
  headerLayout->addWidget(exit);

  // Left: page tabs. Right: the pages.
  auto* nav = new QWidget(this);
  nav->setObjectName(QStringLiteral("lobbyNav"));
  nav->setFixedWidth(150);
  auto* navLayout = new QVBoxLayout(nav);
  navLayout->setContentsMargins(0, 16, 0, 0);
  navLayout->setSpacing(0);
  navLayout->addWidget(teachTab_);
  navLayout->addWidget(studyTab_);
  navLayout->addWidget(prepareTab_);
  navLayout->addStretch();

  pages_->addWidget(buildRoomPage(teachGrid_, teachPager_, teachEmpty_));
  pages_->addWidget(buildRoomPage(studyGrid_, studyPager_, studyEmpty_));
  devicePage_ = new DeviceTestPage(pages_);
  pages_->addWidget(devicePage_);

  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  body->addWidget(nav);
  body->addWidget(pages_, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header);
  layout->addLayout(body, 1);
  // Its size is known before it is first shown, so it is placed once and never jumps: the
  // style sheet's sizes count only once the children are polished.
  ensurePolished();
  layout->activate();
  resize(QSize(960, 640).expandedTo(layout->minimumSize()));

  connect(teachTab_, &QPushButton::clicked, this, &UserDialog::slot_ButtonTeachClass);
  connect(studyTab_, &QPushButton::clicked, this, &UserDialog::slot_ButtonStudyClass);
  connect(prepareTab_, &QPushButton::clicked, this, &UserDialog::slot_ButtonPrepare);
  connect(teachPager_, &PagingWidget::signal_SendPageMark, this, &UserDialog::slot_PWidgetTeach);
  connect(studyPager_, &PagingWidget::signal_SendPageMark, this, &UserDialog::slot_PWidgetStudy);
  connect(userName, &QPushButton::clicked, this, &UserDialog::slot_LabelUserName);
  connect(recharge, &QPushButton::clicked, this, &UserDialog::slot_ButtonRecharge);
  connect(news, &QPushButton::clicked, this, &UserDialog::slot_ButtonNews);
  connect(logOff, &QPushButton::clicked, this, &UserDialog::slot_ButtonLogOff);
  connect(minimize, &QPushButton::clicked, this, &UserDialog::slot_ButtonMinimize);
  connect(exit, &QPushButton::clicked, this, &UserDialog::slot_ButtonExit);

  slot_ButtonTeachClass();
  connectOneLogin();
  QMetaObject::invokeMethod(this, &UserDialog::slot_init_resources, Qt::QueuedConnection);
}

UserDialog::~UserDialog() {
  oneLogin_.disconnectClient();
}

void UserDialog::connectOneLogin() {
  const ServerAddress address = ServerAddress::parse(oneLoginServer_);
  oneLoginHost_ = address.host;
  oneLoginPort_ = static_cast<quint16>(address.port > 0 ? address.port : 0);
  connect(&oneLogin_, &ForOneLogin::_connect2msgs_state, this, &UserDialog::__connect2msgs_state,
          Qt::QueuedConnection);
  connect(&oneLogin_, &ForOneLogin::signal_disconnect_from_oneLogin, this,
          &UserDialog::disconnect_from_oneLogin, Qt::QueuedConnection);
  connect(&oneLogin_, &ForOneLogin::signal_SelfLogin, this, &UserDialog::selflogin,
          Qt::QueuedConnection);
  if (QNMessageBox* box = QNMessageBox::global())
    connect(this, &UserDialog::_reConToChatServer, box, &QDialog::accept, Qt::UniqueConnection);
  connect(&renewal_, &LoginRenewal::renewed, this, [this] {
    // The service may name another message server now (the old one died).
    const ServerAddress renewed = ServerAddress::parse(LoginInfo::current().oneLoginServer);
    if (!renewed.host.isEmpty() && renewed.port > 0 && renewed.port <= 65535) {
      oneLoginHost_ = renewed.host;
      oneLoginPort_ = static_cast<quint16>(renewed.port);
    }
    if (!oneLogin_.hasClient())
      oneLogin_.connectTo(oneLoginHost_, oneLoginPort_);
  });
  connect(&renewal_, &LoginRenewal::unreachable, this,
          [this] { reconnectOneLogin(QStringLiteral("您已掉线，重连中..."), false); });
  connect(&renewal_, &LoginRenewal::signInNeeded, this, &UserDialog::loginLost);
  oneLogin_.connectTo(oneLoginHost_, oneLoginPort_);
}

void UserDialog::__connect2msgs_state(int state) {
  if (state == 1) {
    oneLoginFailures_ = 0;
    oneLogin_.announce();
    emit _reConToChatServer();
    return;
  }
  if (state == velmsg::connect_failed_rejected) {
    renewOneLogin();
    return;
  }
  reconnectOneLogin(QStringLiteral("您已掉线，重连中..."), false);
}

void UserDialog::renewOneLogin() {
  // The same credential would be refused again: nothing reconnects until a new one is here.
  oneLogin_.disconnectClient();
  if (QNMessageBox* box = QNMessageBox::global(); box && !box->isVisible()) {
    box->setMessage(QStringLiteral("您已掉线，重连中..."), QString(), QString(), -1);
    box->show();
  }
  renewal_.renew();
}

void UserDialog::loginLost(const QString& why) {
  if (QNMessageBox* box = QNMessageBox::global(); box && box->isVisible())
    box->accept();
  if (classroom_)
    classroom_->leaveWithoutAsking();
  close();
  LoginDialog* login = LoginDialog::replaceCurrent();
  login->showStatus(why);
}

void UserDialog::disconnect_from_oneLogin() {
  reconnectOneLogin(QStringLiteral("您已掉线，重连中…"), true);
}

void UserDialog::reconnectOneLogin(const QString& text, bool modal) {
  // A server that keeps failing may be gone for good: every second attempt
  // asks the service, which names a live message server with the credential.
  if (++oneLoginFailures_ % 2 == 0 && !renewal_.busy()) {
    renewOneLogin();
    return;
  }
  oneLogin_.disconnectClient();
  QPointer<UserDialog> self(this);
  QTimer::singleShot(kReconnectDelayMs, this, [self] {
    if (self && !self->oneLogin_.hasClient())
      self->oneLogin_.connectTo(self->oneLoginHost_, self->oneLoginPort_);
  });
  QNMessageBox* box = QNMessageBox::global();
  if (!box)
    return;
  // One box at a time: a box already up just keeps waiting for the reconnection.
  if (box->isVisible())
    return;
  box->setMessage(text, QString(), QString(), -1);
  if (modal)
    box->exec();
  else
    box->show();
}

void UserDialog::selflogin() {
  LoginInfo::current().loggedInElsewhere = true;
  if (classroom_ && !classroom_->isLeaving())
    classroom_->close();
  close();
  if (LoginDialog* login = LoginDialog::current())
    login->show();
  emit signal_exit();
  emit signal_jidiao();
}

QWidget* UserDialog::buildRoomPage(QGridLayout*& grid, PagingWidget*& pager, QLabel*& empty) {
  auto* page = new QWidget(pages_);
  auto* cards = new QWidget(page);
  grid = new QGridLayout(cards);
  grid->setContentsMargins(24, 24, 24, 0);
  grid->setHorizontalSpacing(24);
  // Room for a full page from the start, so the window keeps one size whatever it shows
  // (an empty grid has no columns to hold a minimum width).
  for (int i = 0; i < kCardsPerPage; ++i)
    grid->setColumnMinimumWidth(i, ClassInformationWidget::kWidth);
  grid->setRowMinimumHeight(0, ClassInformationWidget::kHeight);
  const QMargins margins = grid->contentsMargins();
  cards->setMinimumSize(kCardsPerPage * ClassInformationWidget::kWidth +
                            (kCardsPerPage - 1) * grid->horizontalSpacing() + margins.left() +
                            margins.right(),
                        ClassInformationWidget::kHeight + margins.top() + margins.bottom());
  empty = new QLabel(QStringLiteral("暂无教室"), page);
  empty->setObjectName(QStringLiteral("lobbyEmpty"));
  empty->setAlignment(Qt::AlignCenter);
  pager = new PagingWidget(page);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 16);
  layout->addWidget(cards);
  layout->addWidget(empty, 1);
  layout->addStretch();
  layout->addWidget(pager);
  return page;
}

QString UserDialog::versionText() const {
  return version_->text();
}

void UserDialog::toast(const QString& text) {
  Prompt::instance()->showMessage(this, text);
}

bool UserDialog::answerUsable(const QJsonObject& answer, const char* networkText) {
  if (answer.isEmpty()) {
    toast(QString::fromUtf8(networkText));
    return false;
  }
  if (answerFailed(answer)) {
    toast(answerMessage(answer));
    return false;
  }
  return true;
}

void UserDialog::slot_init_resources() {
  auto* version = new HttpRequest;
  connect(version, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &UserDialog::slot_GetVersion_reply);
  version->request(HttpRequest::serviceUrl(ServiceApi::kGetSoftwareVersionsTop.path),
                   ServiceApi::kGetSoftwareVersionsTop.body, HttpRequest::kJson);

  auto* created = new HttpRequest;
  connect(created, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &UserDialog::slot_FindCreateRoom_reply);
  created->request(HttpRequest::serviceUrl(ServiceApi::kFindRoomByGlobalId.path),
                   FormBody(ServiceApi::kFindRoomByGlobalId.body).arg(userId_), HttpRequest::kJson);

  auto* joined = new HttpRequest;
  connect(joined, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &UserDialog::slot_FindJoinRoom_reply);
  joined->request(HttpRequest::serviceUrl(ServiceApi::kFindMyJoinRoom.path),
                  FormBody(ServiceApi::kFindMyJoinRoom.body).arg(userId_), HttpRequest::kJson);

  devicePage_->fillDeviceLists();
}

void UserDialog::slot_GetVersion_reply(QJsonObject answer) {
  if (answer.isEmpty()) {
    toast(QString::fromUtf8(kNetworkError));
    return;
  }
  const QJsonObject body = answer.value(QLatin1String("body")).toObject();
  QString info = body.value(QLatin1String("info")).toString();
  if (info.isEmpty())
    info = answer.value(QLatin1String("info")).toString();
  if (!info.isEmpty())
    version_->setText(QStringLiteral("版本：") + info);
  else
    toast(answerMessage(answer));
}

void UserDialog::slot_FindCreateRoom_reply(QJsonObject answer) {
  fillCards(answer, true);
}

void UserDialog::slot_FindJoinRoom_reply(QJsonObject answer) {
  fillCards(answer, false);
}

void UserDialog::fillCards(const QJsonObject& answer, bool ownRooms) {
  if (!answerUsable(answer, kNetworkError))
    return;
  QList<ClassInformationWidget*>& cards = ownRooms ? createdCards_ : joinedCards_;
  qDeleteAll(cards);
  cards.clear();
  const QJsonArray rooms = answer.value(QLatin1String("body")).toArray();
  for (const QJsonValue& value : rooms) {
    if (!value.isObject())
      continue;
    auto* card = new ClassInformationWidget(value.toObject(), ownRooms, this);
    card->hide();
    card->setRecordingArea(AccountStore::readRoomSetting(userId_, card->roomId()));
    connect(card, &ClassInformationWidget::signal_EnterClassroom, this,
            &UserDialog::slot_EnterClassroom);
    connect(card, &ClassInformationWidget::signal_PLPoster, this, &UserDialog::slot_PLPoster);
    connect(card, &ClassInformationWidget::signal_Settings, this, &UserDialog::slot_CardSettings);
    if (!card->imagePath().isEmpty()) {
      auto* poster = new HttpRequest;
      connect(poster, qOverload<QPixmap, void*>(&HttpRequest::requestFinshed), this,
              &UserDialog::slot_GetClassPoster_reply);
      poster->request(HttpRequest::serviceUrl(QString::fromLatin1(ServiceApi::kUploadPrefix) +
                                              card->posterPath()),
                      QString(), HttpRequest::kImage, card);
    }
    cards << card;
  }
  PagingWidget* pager = ownRooms ? teachPager_ : studyPager_;
  pager->setPageCount(static_cast<uint>((cards.size() + kCardsPerPage - 1) / kCardsPerPage));
  (ownRooms ? teachEmpty_ : studyEmpty_)->setVisible(cards.isEmpty());
  showPage(cards, ownRooms ? teachGrid_ : studyGrid_, 1);
}

void UserDialog::showPage(const QList<ClassInformationWidget*>& cards, QGridLayout* grid,
                          uint page) {
  while (QLayoutItem* item = grid->takeAt(0)) {
    if (item->widget())
      item->widget()->hide();
    delete item;
  }
  const int first = static_cast<int>(page - 1) * kCardsPerPage;
  for (int i = 0; i < kCardsPerPage && first + i < cards.size(); ++i) {
    ClassInformationWidget* card = cards[first + i];
    grid->addWidget(card, 0, i, Qt::AlignTop | Qt::AlignLeft);
    card->show();
  }
}

void UserDialog::slot_PWidgetTeach(uint page) {
  showPage(createdCards_, teachGrid_, page);
}

void UserDialog::slot_PWidgetStudy(uint page) {
  showPage(joinedCards_, studyGrid_, page);
}

ClassInformationWidget* UserDialog::findCard(void* card) const {
  // The card may have gone with a list refresh while its answer was on the way.
  for (ClassInformationWidget* c : createdCards_)
    if (c == card)
      return c;
  for (ClassInformationWidget* c : joinedCards_)
    if (c == card)
      return c;
  return nullptr;
}

void UserDialog::slot_GetClassPoster_reply(QPixmap poster, void* card) {
  if (ClassInformationWidget* c = findCard(card))
    c->setPoster(poster);
}

void UserDialog::slot_ButtonTeachClass() {
  pages_->setCurrentIndex(0);
  teachTab_->setChecked(true);
  studyTab_->setChecked(false);
  prepareTab_->setChecked(false);
}

void UserDialog::slot_ButtonStudyClass() {
  pages_->setCurrentIndex(1);
  teachTab_->setChecked(false);
  studyTab_->setChecked(true);
  prepareTab_->setChecked(false);
}

void UserDialog::slot_ButtonPrepare() {
  if (pages_->count() > 2)
    pages_->setCurrentIndex(2);
  teachTab_->setChecked(false);
  studyTab_->setChecked(false);
  prepareTab_->setChecked(true);
}

void UserDialog::slot_ButtonMinimize() {
  showMinimized();
}

void UserDialog::slot_EnterClassroom(ClassInformationWidget* card) {
  if (pendingEntry_ || !card || classroom_)
    return;
  pendingEntry_ = card;
  card->setEnterEnabled(false);
  loading_->start();
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject, void*>(&HttpRequest::requestFinshed), this,
          &UserDialog::slot_EnterClassroom_reply);
  request->request(HttpRequest::serviceUrl(ServiceApi::kUserJoinRoomWithCode.path),
                   FormBody(ServiceApi::kUserJoinRoomWithCode.body)
                       .arg(card->roomId())
                       .arg(userId_)
                       .arg(QString()),
                   HttpRequest::kJson, card);
}

void UserDialog::slot_EnterClassroom_reply(QJsonObject answer, void* cardData) {
  ClassInformationWidget* card = findCard(cardData);
  pendingEntry_ = nullptr;
  loading_->stop();
  if (card)
    card->setEnterEnabled(true);
  if (!card)
    return;
  // A private room: the service lets in only with its code.
  if (answer.value(QLatin1String("code")).toVariant().toInt() == ServiceApi::kAuthCodeRefused &&
      !card->isOwnRoom()) {
    askForAuthCode(card);
    return;
  }
  enterWithAnswer(answer, card, QString());
}

void UserDialog::askForAuthCode(ClassInformationWidget* card) {
  AuthorizeDialog dialog(this);
  connect(this, &UserDialog::signal_exit, &dialog, &QDialog::reject);
  const QPointer<ClassInformationWidget> room = card;
  QJsonObject admitted;
  QString code;
  bool asking = false;
  connect(&dialog, &AuthorizeDialog::signal_CodeEntered, &dialog, [&](QString typed) {
    if (asking || !room)
      return;
    asking = true;
    auto* request = new HttpRequest;
    connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), &dialog,
            [&, typed](QJsonObject answer) {
              asking = false;
              if (answer.value(QLatin1String("code")).toVariant().toInt() ==
                  ServiceApi::kAuthCodeRefused) {
                dialog.slot_CodeRefused();
                return;
              }
              // Admitted, or refused for another reason: said outside the dialog.
              admitted = answer;
              code = typed;
              dialog.accept();
            });
    request->request(HttpRequest::serviceUrl(ServiceApi::kUserJoinRoomWithCode.path),
                     FormBody(ServiceApi::kUserJoinRoomWithCode.body)
                         .arg(room->roomId())
                         .arg(userId_)
                         .arg(typed),
                     HttpRequest::kJson);
  });
  pendingEntry_ = card;
  card->setEnterEnabled(false);
  const int result = dialog.exec();
  pendingEntry_ = nullptr;
  if (!room)
    return;
  room->setEnterEnabled(true);
  if (result == QDialog::Accepted)
    enterWithAnswer(admitted, room, code);
}

void UserDialog::enterWithAnswer(const QJsonObject& answer, ClassInformationWidget* card,
                                 const QString& authCode) {
  if (!answerUsable(answer, kNetworkWeak))
    return;
  const quint32 ownerId = roommsg::userIdOf(answer.value(QLatin1String("globalId"))).value_or(0);
  const int status = answer.value(QLatin1String("status")).toVariant().toInt();
  if (ownerId == userId_) {
    if (status == 3) {
      toast(QStringLiteral("您的教室未激活，请激活！"));
      return;
    }
    if (status == 4) {
      toast(QStringLiteral("您的教室正在审核中，请等待！"));
      return;
    }
  }
  auto* assistants = new HttpRequest;
  connect(assistants, qOverload<QJsonArray>(&HttpRequest::requestFinshed), this,
          &UserDialog::slot_GetAssistants_reply);
  assistants->request(HttpRequest::serviceUrl(ServiceApi::kFindManageById.path),
                      FormBody(ServiceApi::kFindManageById.body).arg(card->roomId()),
                      HttpRequest::kJson);
  openClassroom(answer, card, authCode);
}

void UserDialog::slot_GetAssistants_reply(QJsonArray assistants) {
  assistants_ = assistants;
  if (classroom_)
    classroom_->setAssistants(assistants);
}

void UserDialog::openClassroom(const QJsonObject& answer, ClassInformationWidget* card,
                               const QString& authCode) {
  auto text = [&answer](const char* key) {
    const QJsonValue v = answer.value(QLatin1String(key));
    return v.isString() ? v.toString() : v.toVariant().toString();
  };
  ClassroomEntry entry;
  entry.roomId = card->roomId();
  entry.roomName = text("roomName").isEmpty() ? card->roomName() : text("roomName");
  entry.ownerName = text("nickNameT").isEmpty() ? text("phoneT") : text("nickNameT");
  entry.ownName = displayName_;
  entry.ownUserId = userId_;
  const QJsonValue assistant = answer.value(QLatin1String("isAssistant"));
  entry.isAssistant = assistant.isBool() ? assistant.toBool() : assistant.toVariant().toInt() != 0;
  entry.mcuAddress = text("mcu_ip_address");
  entry.mcuPort = static_cast<quint16>(text("port").toUInt());
  entry.openStyle = text("openStyle").toInt();
  entry.recordContentOnly = card->recordingArea() == QLatin1String("contentArea");
  entry.ownerId = text("globalId").toUInt();
  entry.authCode = authCode;  // sent again when the credential is renewed
  entry.levelDetailed = text("level_detailed");
  entry.credential = text("room_credential");
  entry.chatServer = ServerAddress::parse(text("chat_server"));
  entry.coursewareFileServer = ServerAddress::parse(text("courseware_file_server"));
  entry.chatFileServer = ServerAddress::parse(text("chat_file_server"));
  entry.fileServer = ServerAddress::parse(text("file_server"));
  entry.videoServer = ServerAddress::parse(text("video_server"));
  entry.documentServer = ServerAddress::parse(text("document_server"));
  const QString son = text("son");
  if (!son.isEmpty() && son != QLatin1String("-1")) {
    const QJsonObject linked = QJsonDocument::fromJson(son.toUtf8()).object();
    const quint32 id = roommsg::userIdOf(linked.value(QLatin1String("globalId"))).value_or(0);
    entry.linkedAccountId = id > 0 ? static_cast<qint64>(id) : -1;
  }
  entry.assistants = assistants_;

  classroom_ = new Classroom(entry);
  classroom_->setReturnWindow(this);
  const QPoint lobbyPlace = pos();
  connect(classroom_, &Classroom::signal_exit_classroom, this, [this, lobbyPlace] {
    // Back to the lobby, where it was, when the class window goes.
    if (LoginInfo::current().loggedInElsewhere)
      return;
    show();
    move(lobbyPlace);
  });
  // The classroom opens in the middle of the lobby's screen.
  if (const QScreen* screen = this->screen())
    classroom_->move(screen->availableGeometry().center() - classroom_->rect().center());
  classroom_->show();
  hide();
}

void UserDialog::slot_CardSettings(ClassInformationWidget* card) {
  const QJsonObject& room = card->room();
  CreatedClassSetDialog dialog(
      userId_, card->roomId(), room.value(QLatin1String("openStyle")).toVariant().toInt(),
      room.value(QLatin1String("authCode")).toString(), card->recordingArea(), this);
  if (dialog.exec() == QDialog::Accepted)
    card->setRecordingArea(dialog.recordingArea());
}

void UserDialog::slot_ButtonRecharge() {
  requestPageKey(kPageRecharge, FormBody(ServiceApi::kPutRedis.body).arg(userId_));
}

void UserDialog::slot_ButtonNews() {
  requestPageKey(kPageMyMessage, FormBody(ServiceApi::kPutRedis.body).arg(userId_));
}

void UserDialog::slot_LabelUserName() {
  requestPageKey(kPageMyClass, FormBody(ServiceApi::kPutRedis.body).arg(userId_));
}

void UserDialog::slot_PLPoster(ClassInformationWidget* card) {
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject, void*>(&HttpRequest::requestFinshed), this,
          &UserDialog::slot_GetDiscount);
  request->request(HttpRequest::serviceUrl(ServiceApi::kQuerySettings.path),
                   ServiceApi::kQuerySettings.body, HttpRequest::kJson, card);
}

void UserDialog::slot_GetDiscount(QJsonObject answer, void* cardData) {
  ClassInformationWidget* card = findCard(cardData);
  if (!card)
    return;
  if (!answerUsable(answer, kNetworkError))
    return;
  const QJsonObject body = answer.value(QLatin1String("body")).toObject();
  const QString typeName = body.value(QLatin1String("typename")).toString();
  if (typeName.isEmpty()) {
    toast(QStringLiteral("该类班级不支持查看空间！"));
    return;
  }
  const QString discount = body.value(QLatin1String("discount")).toVariant().toString();
  requestPageKey(kPageClassRoom, FormBody("globalId=%1&roomid=%2&typename=%3&discount=%4")
                                     .arg(userId_)
                                     .arg(card->roomId())
                                     .arg(typeName)
                                     .arg(discount));
}

void UserDialog::requestPageKey(WebPage page, const QString& body) {
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject, void*>(&HttpRequest::requestFinshed), this,
          &UserDialog::slot_HtmlEncrypt);
  // The page rides along as the request's user data.
  request->request(HttpRequest::serviceUrl(ServiceApi::kPutRedis.path), body, HttpRequest::kJson,
                   reinterpret_cast<void*>(static_cast<quintptr>(page)));
}

void UserDialog::slot_HtmlEncrypt(QJsonObject answer, void* pageData) {
  const char* pattern = nullptr;
  switch (static_cast<int>(reinterpret_cast<quintptr>(pageData))) {
    case kPageMyClass:
      pattern = ServiceApi::kPageMyClass;
      break;
    case kPageRecharge:
      pattern = ServiceApi::kPageRecharge;
      break;
    case kPageMyMessage:
      pattern = ServiceApi::kPageMyMessage;
      break;
    case kPageClassRoom:
      pattern = ServiceApi::kPageClassRoom;
      break;
    default:
      break;
  }
  personalpage::openFromAnswer(this, answer, pattern);
}

void UserDialog::slot_ButtonExit() {
  LoginDialog* login = LoginDialog::current();
  if (!LoginInfo::current().loggedInElsewhere) {
    QNMessageBox* box = QNMessageBox::global();
    if (!box)
      return;
    box->setMessage(QStringLiteral("退出程序？"), QStringLiteral("确定"), QStringLiteral("取消"),
                    -1);
    if (box->exec() != QDialog::Accepted)
      return;
    close();
    if (login)
      login->close();
    // The updater this install started, not another install's or user's.
    platform::endProcessesOf(QCoreApplication::applicationDirPath().toStdString() + '/' +
                                 platform::executableName("TavUpdate"),
                             1000);
    LocalDatabase::close();
    QNMessageBox::setGlobal(nullptr);
    box->deleteLater();
    return;
  }
  close();
  if (login)
    login->close();
}

void UserDialog::slot_ButtonLogOff() {
  QNMessageBox* box = QNMessageBox::global();
  if (!box)
    return;
  box->setMessage(QStringLiteral("注销用户？"), QStringLiteral("确定"), QStringLiteral("取消"), -1);
  if (box->exec() != QDialog::Accepted)
    return;
  close();
  LoginDialog::replaceCurrent();
}
