#include "ChatPanel.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonValue>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "ChatFiles.h"
#include "ChatFilterPage.h"
#include "ChatMessageItem.h"
#include "ClassroomContext.h"
#include "FormBody.h"
#include "HistoryMoreButton.h"
#include "LocalConfig.h"
#include "LoginInfo.h"
#include "RecordVoiceDlg.h"
#include "RoomMessageTypes.h"
#include "RoomSession.h"
#include "ServiceApi.h"
#include "libpavo/libpavo.h"

namespace {

QString defaultChoosePicture(QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileName(parent, QStringLiteral("选择图片文件"), folder,
                                      QStringLiteral("图片(*.png *.jpg *.jpeg *.bmp *gif)"));
}

QPushButton* toolButton(const QString& text, const char* objectName, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(objectName));
  button->setFlat(true);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}
}  // namespace

ChatPanel::ChatPanel(ClassroomContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      session_(context.session()),
      ownUserId_(context.ownUserId()),
      pages_(new QStackedWidget(this)),
      scroll_(new QScrollArea(this)),
      listHost_(new QWidget),
      list_(new QVBoxLayout(listHost_)),
      more_(new HistoryMoreButton(QStringLiteral("btnViewChatHistory"), listHost_)),
      filter_(new ChatFilterPage(context, *this, this)),
      mutedLabel_(new QLabel(this)),
      inputRow_(new QWidget(this)),
      edit_(new QLineEdit(inputRow_)),
      counter_(new QLabel(inputRow_)),
      send_(new QPushButton(QStringLiteral("发送"), inputRow_)),
      sendPicture_(toolButton(QStringLiteral("图片"), "btnSendPicture", this)),
      sendVoice_(toolButton(QStringLiteral("语音"), "btnSendVoice", this)),
      filterButton_(toolButton(QStringLiteral("聊天记录"), "btnChatFilter", this)),
      clear_(toolButton(QStringLiteral("清屏"), "btnClearScreen", this)),
      keepScroll_(new QCheckBox(QStringLiteral("锁定滚动"), this)),
      picGuard_(new QTimer(this)),
      choosePicture_(defaultChoosePicture) {
  setObjectName(QStringLiteral("chatPanel"));
  // The tool row fits the side panel: compact buttons, no minimum width.
  setStyleSheet(QStringLiteral(
      "QPushButton#btnSendPicture, QPushButton#btnSendVoice, QPushButton#btnChatFilter,"
      " QPushButton#btnClearScreen { border: none; padding: 3px 6px; color: #3c4043; }"
      "QPushButton#btnSendPicture:hover, QPushButton#btnSendVoice:hover,"
      " QPushButton#btnChatFilter:hover, QPushButton#btnClearScreen:hover"
      " { color: #1a73e8; }"
      "QPushButton#btnSendPicture:disabled, QPushButton#btnSendVoice:disabled"
      " { color: #b0b4b8; }"));
  mutedLabel_->setObjectName(QStringLiteral("chatMuted"));
  mutedLabel_->hide();
  edit_->setObjectName(QStringLiteral("chatEdit"));
  edit_->setMaxLength(kMaxInput);
  edit_->setPlaceholderText(QStringLiteral("说点什么…"));
  counter_->setObjectName(QStringLiteral("chatInputCounter"));
  counter_->setStyleSheet(QStringLiteral("color: #888888;"));
  send_->setObjectName(QStringLiteral("btnSendText"));
  keepScroll_->setObjectName(QStringLiteral("chatKeepScroll"));
  keepScroll_->setToolTip(QStringLiteral("勾选后新消息不会自动滚动到底部"));

  list_->setContentsMargins(0, 0, 0, 0);
  list_->setSpacing(4);
  list_->addWidget(more_);
  list_->addStretch(1);
  scroll_->setObjectName(QStringLiteral("chatScroll"));
  scroll_->setWidget(listHost_);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  pages_->addWidget(scroll_);
  pages_->addWidget(filter_);

  auto* tools = new QHBoxLayout;
  tools->setSpacing(2);
  tools->addWidget(sendPicture_);
  tools->addWidget(sendVoice_);
  tools->addWidget(filterButton_);
  tools->addWidget(clear_);
  tools->addStretch(1);
  tools->addWidget(keepScroll_);

  auto* input = new QHBoxLayout(inputRow_);
  input->setContentsMargins(0, 0, 0, 0);
  input->addWidget(edit_, 1);
  input->addWidget(counter_);
  input->addWidget(send_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(pages_, 1);
  layout->addWidget(mutedLabel_);
  layout->addLayout(tools);
  layout->addWidget(inputRow_);

  QScrollBar* bar = scroll_->verticalScrollBar();
  connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
    if (stickToEnd_ && isVisible() && !keepScroll_->isChecked())
      bar->setValue(max);
  });
  connect(bar, &QScrollBar::actionTriggered, this, [this] { stickToEnd_ = false; });
  picGuard_->setSingleShot(true);
  picGuard_->setInterval(kPictureDialogGuardMs);
  connect(picGuard_, &QTimer::timeout, this, &ChatPanel::m_timerClockForCanSendPic_timeout);
  connect(send_, &QPushButton::clicked, this, &ChatPanel::btnSendText_clicked);
  connect(edit_, &QLineEdit::returnPressed, this, &ChatPanel::btnSendText_clicked);
  connect(edit_, &QLineEdit::textChanged, this, &ChatPanel::editChatMassage_textChanged);
  connect(more_, &QPushButton::clicked, this, &ChatPanel::btnViewChatHistory_clicked);
  connect(sendPicture_, &QPushButton::clicked, this, &ChatPanel::btnSendPicture_clicked);
  connect(sendVoice_, &QPushButton::clicked, this, &ChatPanel::btnSendVoice_clicked);
  connect(filterButton_, &QPushButton::clicked, this, &ChatPanel::btnChatFilter_clicked);
  connect(clear_, &QPushButton::clicked, this, &ChatPanel::btnClearScreen_clicked);
  connect(filter_, &ChatFilterPage::backRequested, this, &ChatPanel::btnBack2AllChatRecord_clicked);
  editChatMassage_textChanged(QString());
  identity_.name = context_.entry().ownName.isEmpty() ? LoginInfo::current().displayName
                                                      : context_.entry().ownName;
  identity_.avatar = LoginInfo::current().avatarPath;
  identity_.ticket = LoginInfo::current().ticket;

  context_.handleRoomMessages({MSG_CHAT_TEXT, MSG_CHAT_PICTURE, MSG_CHAT_VOICE}, this,
                              [this](const QJsonObject& msg) { slot_ChatMsgArrived(msg); });
  // The first history page once the room channel is there.
  connect(&context_, &ClassroomContext::roomChannelConnected, this, [this] {
    if (!historyRequested_) {
      historyRequested_ = true;
      btnViewChatHistory_clicked();
    }
  });

  connect(&session_, &RoomSession::rolesChanged, this, &ChatPanel::refreshOwnState);
  connect(&session_, &RoomSession::memberAdded, this, [this](quint32 id) {
    if (id == ownUserId_)
      refreshOwnState();
  });
  connect(&session_, &RoomSession::memberChanged, this, [this](quint32 id) {
    if (id == ownUserId_)
      refreshOwnState();
  });
  refreshOwnState();
  context_.provide<ChatLines>(this);
}

ChatPanel::~ChatPanel() {
  context_.withdraw<ChatLines>(this);
  if (ChatMessageItem* playing = ChatMessageItem::currentPlaying())
    playing->stopPlayVoice();
}

void ChatPanel::refreshOwnState() {
  const RoomMember* own = session_.member(ownUserId_);
  const bool muted = own && own->muted;
  const QString mutedText = QStringLiteral("您已被老师禁言");
  mutedLabel_->setText(muted ? mutedText : QString());
  mutedLabel_->setVisible(muted);
  for (QWidget* control :
       {static_cast<QWidget*>(edit_), static_cast<QWidget*>(send_),
        static_cast<QWidget*>(sendPicture_), static_cast<QWidget*>(sendVoice_)}) {
    control->setEnabled(!muted);
    control->setToolTip(muted ? mutedText : QString());
  }
  if (!muted && isAuditor())
    edit_->setToolTip(QStringLiteral("没购买者不能聊天"));
}

bool ChatPanel::isAuditor() const {
  return session_.room().ownRole == RoomContext::kAuditor;
}

roommsg::SenderFields ChatPanel::ownSender() const {
  roommsg::SenderFields sender;
  sender.userId = ownUserId_;
  sender.userName = identity_.name;
  sender.userImg = identity_.avatar;
  sender.role = session_.room().ownRole;
  sender.roomId = context_.roomId();
  return sender;
}

transfer::FileServer ChatPanel::fileServer() const {
  transfer::FileServer server;
  const ServerAddress& address = context_.entry().fileServer;
  server.host = address.host;
  server.port = address.port > 0 && address.port <= 65535 ? quint16(address.port) : 0;
  server.ticket = identity_.ticket;
  server.ownUserId = ownUserId_;
  server.roomId = context_.roomId();
  server.localRoot = identity_.dataFolder;
  return server;
}

void ChatPanel::buyCourse_prompt() {
  context_.toast(QStringLiteral("成功购买课程后请退出教室后进入教室刷新用户角色！"));
}

void ChatPanel::sendChatReport() {
  context_.service().post(ServiceApi::kAddHistory,
                          FormBody(ServiceApi::kAddHistory.body)
                              .arg(QStringLiteral("chat"))
                              .arg(context_.roomId())
                              .arg(ownUserId_),
                          &context_, [](QJsonObject) {});
}

// Sending.

void ChatPanel::btnSendText_clicked() {
  if (isAuditor()) {
    QTimer::singleShot(kBuyPromptDelayMs, this, &ChatPanel::buyCourse_prompt);
    return;
  }
  const QString text = edit_->text();
  // Blanks alone are no message: they would come out as an empty bubble.
  if (text.trimmed().isEmpty()) {
    context_.toast(QStringLiteral("发送文本不能为空！"));
    return;
  }
  const QJsonObject msg = chat::textMessage(ownSender(), text);
  if (context_.sendRoomMsg(msg, QStringLiteral("*")) != 0) {
    context_.toast(QStringLiteral("发送消息失败！"));
    return;
  }
  addOwnItem(chat::kText, text);
  edit_->clear();
  sendChatReport();
}

void ChatPanel::addOwnLine(const QString& text) {
  addOwnItem(chat::kText, text);
}

void ChatPanel::addReceivedLine(const QJsonObject& message, const QString& text) {
  QJsonObject line = message;
  line.insert(QStringLiteral("typeId"), QStringLiteral("0"));
  line.insert(QStringLiteral("content"), text);
  line.remove(QStringLiteral("id"));
  showOneRecvedMsg(line, false, false);
}

bool ChatPanel::sendLine(const QString& text) {
  if (context_.sendRoomMsg(chat::textMessage(ownSender(), text), QStringLiteral("*")) != 0)
    return false;
  addOwnItem(chat::kText, text);
  return true;
}

void ChatPanel::editChatMassage_textChanged(const QString& text) {
  counter_->setText(QStringLiteral("剩%1字").arg(kMaxInput - text.size()));
}

ChatMessageItem* ChatPanel::makeItem(const chat::Entry& entry, bool own) {
  auto* item = new ChatMessageItem(&context_, listHost_);
  item->setEntry(entry, own);
  item->setFileServer(fileServer());
  connect(item, &ChatMessageItem::signalSharePic, this,
          [this](QString path) { onShareChatPic(path, false); });
  return item;
}

ChatMessageItem* ChatPanel::addOwnItem(int kind, const QString& content, int voiceSeconds) {
  chat::Entry entry;
  entry.kind = kind;
  entry.senderId = ownUserId_;
  entry.senderName = identity_.name;
  entry.senderImg = identity_.avatar;
  entry.senderRole = session_.room().ownRole;
  entry.sendTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
  entry.content = content;
  entry.voiceSeconds = voiceSeconds;
  ChatMessageItem* item = makeItem(entry, true);
  connect(item, &ChatMessageItem::chatFileUploadFinished, this,
          &ChatPanel::onChatFileUploadFinished);
  items_.append(item);
  list_->insertWidget(list_->count() - 1, item);
  item->fill(session_.member(ownUserId_));
  scheduleScrollDown();
  return item;
}

void ChatPanel::scheduleScrollDown() {
  if (!keepScroll_->isChecked())
    QTimer::singleShot(500, this, &ChatPanel::autoScrollChatBarDownward);
}

void ChatPanel::btnSendPicture_clicked() {
  if (isAuditor()) {
    QTimer::singleShot(kBuyPromptDelayMs, this, &ChatPanel::buyCourse_prompt);
    return;
  }
  if (!canSendPic_)
    return;
  canSendPic_ = false;
  picGuard_->start();
  LocalConfig* config = LocalConfig::instance();
  const QString chosen = choosePicture_(context_.window(), config->picFileBrowsePath());
  if (chosen.isEmpty())
    return;
  if (chat::tooLargePicture(chat::declaredPictureSize(chosen))) {
    context_.toast(
        QStringLiteral("图片尺寸过大（最大%1×%1像素），无法发送！").arg(chat::kMaxPictureSide));
    return;
  }
  const QString folder = chat::userFolder(context_.roomId(), ownUserId_, identity_.dataFolder);
  QDir().mkpath(folder);
  const QString copy =
      QDir(folder).filePath(chat::ownPictureName(chosen, QDateTime::currentDateTime()));
  if (!QFile::copy(chosen, copy)) {
    context_.toast(QStringLiteral("图片读取失败！"));
    return;
  }
  ChatMessageItem* item = addOwnItem(chat::kPicture, copy);
  item->startUpload();
  config->setPicFileBrowsePath(QFileInfo(chosen).absolutePath());
}

void ChatPanel::m_timerClockForCanSendPic_timeout() {
  canSendPic_ = true;
}

void ChatPanel::btnSendVoice_clicked() {
  // The microphones the media library sees (-1: no library yet, not asked).
  const int microphones = context_.mediaDevices().deviceCount(media_kind_audio);
  if (microphones == 0)
    context_.toast(QStringLiteral("没有找到音频输入设备"));
  if (isAuditor()) {
    QTimer::singleShot(kBuyPromptDelayMs, this, &ChatPanel::buyCourse_prompt);
    return;
  }
  if (!recorder_) {
    recorder_ = new RecordVoiceDlg(context_.window() ? context_.window() : window());
    connect(recorder_, &RecordVoiceDlg::signalRecordVoiceDlgClose, this,
            &ChatPanel::slotRecordVoiceDlgClose);
  }
  LocalConfig* config = LocalConfig::instance();
  const int microphoneCount = context_.mediaDevices().deviceCount(media_kind_audio);
  recorder_->setMicrophone(
      microphoneCount > 0
          ? config->deviceIndex(QStringLiteral("conf/microphoneIndex"), microphoneCount)
          : 0);
  recorder_->setClipFolder(chat::userFolder(context_.roomId(), ownUserId_, identity_.dataFolder) +
                           QLatin1Char('/'));
  const QPoint at = mapToGlobal(QPoint(2, 0));
  const QWidget* over = recorder_->parentWidget();
  recorder_->move(over ? QPoint(at.x(), over->mapToGlobal(QPoint(0, 340)).y()) : at);
  recorder_->show();
  recorder_->raise();
}

void ChatPanel::slotRecordVoiceDlgClose() {
  const RoomMember* own = session_.member(ownUserId_);
  if (own && own->muted) {
    context_.toast(QStringLiteral("您已被老师禁言，无法发送消息！"));
    return;
  }
  if (!recorder_ || recorder_->clipPath().isEmpty())
    return;
  ChatMessageItem* item =
      addOwnItem(chat::kVoice, recorder_->clipPath(), recorder_->recordedSeconds());
  item->startUpload();
}

void ChatPanel::onChatFileUploadFinished(QString path, int kind, int seconds) {
  const QString name = QFileInfo(path).fileName();
  const QJsonObject msg = kind == chat::kVoice ? chat::voiceMessage(ownSender(), name, seconds)
                                               : chat::pictureMessage(ownSender(), name);
  if (context_.sendRoomMsg(msg, QStringLiteral("*")) != 0) {
    context_.toast(QStringLiteral("发送消息失败！"));
    return;
  }
  sendChatReport();
}

void ChatPanel::onShareChatPic(QString strPicFilePath, bool isZhuShouSrc) {
  emit sharePictureRequested(strPicFilePath, isZhuShouSrc);
}

// Showing.

void ChatPanel::slot_ChatMsgArrived(QJsonObject json) {
  showOneRecvedMsg(json, false, false);
}

QList<ChatMessageItem*> ChatPanel::shownItems() const {
  QList<ChatMessageItem*> shown;
  for (int i = 0; i < list_->count(); ++i) {
    if (auto* item = qobject_cast<ChatMessageItem*>(list_->itemAt(i)->widget()))
      shown.append(item);
  }
  return shown;
}

void ChatPanel::showOneRecvedMsg(QJsonObject& json, bool bHistory, bool bFilter) {
  const chat::Entry entry = chat::Entry::fromJson(json);
  if (entry.kind == 0)
    return;
  if (!bHistory && !isVisible())
    emit newMessageWhileHidden();
  if (bFilter) {
    if (filter_->hasRecord(entry.id))
      return;
  } else if (entry.id > 0) {
    for (const ChatMessageItem* item : items_) {
      if (item->recordId() == entry.id)
        return;
    }
  }
  // The member's own stored messages look like the ones just sent.
  ChatMessageItem* item = makeItem(entry, entry.senderId == ownUserId_);
  if (bHistory && bFilter) {
    item->setParent(nullptr);
    filter_->insertHistory(item);
  } else {
    items_.append(item);
    if (bHistory) {
      list_->insertWidget(1, item);
    } else if (!entry.content.isEmpty()) {
      list_->insertWidget(list_->count() - 1, item);
      scheduleScrollDown();
    } else {
      item->hide();
    }
  }
  item->fill(session_.member(entry.senderId));
}

// History.

void ChatPanel::requestHistory() {
  more_->showLoading();
  context_.service().post(ServiceApi::kGetChatRecord,
                          FormBody(ServiceApi::kGetChatRecord.body)
                              .arg(context_.roomId())
                              .arg(historyPage_)
                              .arg(kHistoryRows),
                          this, &ChatPanel::onGetChatHistory);
}

void ChatPanel::btnViewChatHistory_clicked() {
  stickToEnd_ = false;  // older messages come in above: the list stays where it is
  requestHistory();
}

void ChatPanel::onGetChatHistory(QJsonObject answer) {
  const chat::HistoryAnswer read = chat::HistoryAnswer::read(answer);
  if (read.state != chat::HistoryAnswer::kRecords) {
    // Refused, or no answer at all (network): the button can be tried again.
    if (read.state == chat::HistoryAnswer::kRefused)
      context_.toast(read.message);
    more_->showMore();
    return;
  }
  const QJsonArray& records = read.records;
  more_->showNoMore();
  if (records.isEmpty())
    return;
  const qint64 firstId = chat::Entry::fromJson(records.first().toObject()).id;
  if (firstId == oldestHistoryId_)
    return;  // the same page again: nothing older
  if (oldestHistoryId_ == 0) {
    oldestHistoryId_ = firstId;
    QTimer::singleShot(500, this, &ChatPanel::autoScrollChatBarDownward);
  } else {
    oldestHistoryId_ = qMin(oldestHistoryId_, firstId);
  }
  for (const QJsonValue& value : records) {
    QJsonObject record = value.toObject();
    showOneRecvedMsg(record, true, false);
  }
  ++historyPage_;
  if (records.size() >= kHistoryRows) {
    more_->showMore();
  }
}

void ChatPanel::btnChatFilter_clicked() {
  pages_->setCurrentWidget(filter_);
  inputRow_->hide();
  filter_->open();
}

void ChatPanel::btnBack2AllChatRecord_clicked() {
  pages_->setCurrentWidget(scroll_);
  inputRow_->show();
}

void ChatPanel::autoScrollChatBarDownward() {
  // A hidden list has no final size yet: scrolled when it is shown.
  scrollWhenShown_ = !isVisible();
  if (scrollWhenShown_)
    return;
  // Items still growing (a picture being laid out) keep the list at its end
  // until the user scrolls it.
  stickToEnd_ = true;
  scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->maximum());
}

void ChatPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (scrollWhenShown_)
    QTimer::singleShot(0, this, &ChatPanel::autoScrollChatBarDownward);
}

void ChatPanel::autoScrollChatBarUpward() {
  stickToEnd_ = false;
  scroll_->verticalScrollBar()->setValue(0);
}

void ChatPanel::btnClearScreen_clicked() {
  if (!context_.dialogs().confirm(QStringLiteral("清屏后消息将无法恢复，是否继续?")))
    return;
  for (ChatMessageItem* item : items_) {
    list_->removeWidget(item);
    item->deleteLater();
  }
  items_.clear();
  oldestHistoryId_ = 0;
}
